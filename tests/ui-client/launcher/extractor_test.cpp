// The package extractor on real archives made here: progress through Notify_Adapter, failures, and
// the containment of every entry inside the destination (checked by looking outside afterwards).
#include "extractor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <locale.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QSignalSpy>
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "file-op.h"
#include "log.h"
#include "path-ref.h"
#include "platform.h"
#include "progress.h"
#include "strtable.h"
#include "temp_dir.h"
#include "test_package.h"

namespace {

using testpackage::Dir;
using testpackage::File;
using testpackage::Format;
using testpackage::Hardlink;
using testpackage::Special;
using testpackage::Symlink;
using testsupport::ReadFile;
using testsupport::WriteFile;

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool IsLink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Names in `dir`, "." and ".." left out.
std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  QDir d(QString::fromStdString(dir));
  for (const QString& n : d.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
    names.push_back(n.toStdString());
  return names;
}

// Empties the name of the first header of an uncompressed tar and mends its checksum, as found in
// archives made by other tools; libarchive's writer refuses to write such a name.
void BlankFirstTarName(std::string* tar) {
  ASSERT_GE(tar->size(), 512u);
  std::fill(tar->begin(), tar->begin() + 100, '\0');
  std::fill(tar->begin() + 148, tar->begin() + 156, ' ');
  unsigned sum = 0;
  for (int i = 0; i < 512; ++i) sum += static_cast<unsigned char>((*tar)[i]);
  char field[8];
  snprintf(field, sizeof(field), "%06o", sum);
  std::copy(field, field + 7, tar->begin() + 148);
}

class ExtractorTest : public testsupport::TempDirTest {
 protected:
  static void SetUpTestSuite() { StrTable::InitStrTable(); }

  void SetUp() override {
    testpackage::LogTo(tmp());
    ASSERT_EQ(0, mkdir(dest().c_str(), 0755));
    ASSERT_EQ(0, mkdir(outside().c_str(), 0755));
    ASSERT_EQ(0, chmod(outside().c_str(), 0755));  // whatever the umask
    WriteFile(outside() + "/secret", "keep me");
    ASSERT_EQ(0, lstat(dest().c_str(), &dest_before_));
  }
  void TearDown() override { Logger::Destroy(); }

  std::string dest() const { return at("dest"); }
  std::string outside() const { return at("outside"); }
  std::string package() const { return at("package.hpk"); }
  std::string Log() const { return ReadFile(at("launcher.log")); }
  // Not testsupport::RemoveTree: it changes the mode of what a link points to.
  void RemoveTreeInDest() {
    ASSERT_TRUE(QDir(QString::fromStdString(dest())).removeRecursively());
    ASSERT_EQ(0, mkdir(dest().c_str(), 0755));
    ASSERT_EQ(0, lstat(dest().c_str(), &dest_before_));
  }

  void MakePackage(const std::vector<testpackage::Entry>& entries, Format format = Format::kTarGz) {
    ASSERT_EQ("", testpackage::WriteArchive(package(), entries, format));
  }

  // Reads package() by name, or from `fd` when given; `hold_back` kept for last.
  int Extract(int fd = -1, const char* hold_back = "") {
    Extractor extractor;
    extractor.dest_path = dest().c_str();
    extractor.archive_path = package().c_str();
    extractor.archive_fd = fd;
    extractor.hold_back = hold_back;
    return extractor.Extract();
  }

  // The destination is still the folder it was, with its mode, and holds nothing special.
  void ExpectDestinationKept() {
    struct stat st;
    ASSERT_EQ(0, lstat(dest().c_str(), &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(dest_before_.st_ino, st.st_ino);
    EXPECT_EQ(dest_before_.st_mode, st.st_mode);
    for (const std::string& name : Listing(dest())) {
      ASSERT_EQ(0, lstat((dest() + "/" + name).c_str(), &st));
      EXPECT_TRUE(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode)) << name;
    }
  }

  // Nothing outside the destination was created, changed or removed.
  void ExpectOutsideUntouched() {
    EXPECT_EQ(std::vector<std::string>({"secret"}), Listing(outside()));
    EXPECT_EQ("keep me", ReadFile(outside() + "/secret"));
    struct stat st;
    ASSERT_EQ(0, stat(outside().c_str(), &st));
    EXPECT_EQ(0755u, st.st_mode & 07777);
    ASSERT_EQ(0, stat((outside() + "/secret").c_str(), &st));
    EXPECT_EQ(1u, st.st_nlink);
    std::vector<std::string> top = Listing(tmp());
    std::sort(top.begin(), top.end());
    EXPECT_EQ(std::vector<std::string>({"dest", "launcher.debug", "launcher.log", "outside", "package.hpk"}),
              top);
  }

  struct stat dest_before_;
};

TEST_F(ExtractorTest, ThreeEntriesReportLabelAndProgressInBothFormats) {
  for (Format format : {Format::kTarGz, Format::kZip}) {
    SCOPED_TRACE(format == Format::kZip ? "zip" : "tar.gz");
    MakePackage({Dir("Contents/"), File("Contents/INFO", "[Version]\nbuild_version=120\n"),
                 File("Contents/empty", "")},
                format);
    // The zip from a descriptor whose name is gone and whose offset is at its end: every pass reads
    // that descriptor, each from the start.
    const int fd = format == Format::kZip ? open(package().c_str(), O_RDONLY | O_CLOEXEC) : -1;
    if (fd >= 0) {
      ASSERT_GT(lseek(fd, 0, SEEK_END), 0);
      ASSERT_EQ(0, unlink(package().c_str()));
    }
    QSignalSpy progress(Notify_Adapter::GetInstance(), &Notify_Adapter::sigUpdateProgress);
    QSignalSpy label(Notify_Adapter::GetInstance(), &Notify_Adapter::sigUpdateDialogText);

    ASSERT_EQ(0, Extract(fd));

    ASSERT_EQ(3, progress.count());
    for (int n = 1; n <= 3; ++n) {
      EXPECT_EQ(3, progress.at(n - 1).at(0).toInt());
      EXPECT_EQ(n, progress.at(n - 1).at(1).toInt());
    }
    ASSERT_EQ(1, label.count());
    EXPECT_EQ(QString("Corvane Client is initializing..."), label.at(0).at(0).toString());
    EXPECT_EQ("[Version]\nbuild_version=120\n", ReadFile(dest() + "/Contents/INFO"));
    EXPECT_EQ("", ReadFile(dest() + "/Contents/empty"));
    Extractor counter;
    counter.dest_path = dest().c_str();
    counter.archive_path = package().c_str();
    counter.archive_fd = fd;
    EXPECT_EQ(3, counter.Count());
    if (fd >= 0) close(fd);
  }
}

TEST_F(ExtractorTest, ReplacesWhatIsAtAnEntrysPlace) {
  ASSERT_EQ(0, mkdir((dest() + "/a").c_str(), 0755));
  WriteFile(dest() + "/a/file", "old and longer");
  ASSERT_EQ(0, symlink((outside() + "/secret").c_str(), (dest() + "/a/link").c_str()));
  MakePackage({File("a/file", "new"), File("a/link", "a file now")});
  ASSERT_EQ(0, Extract());
  EXPECT_EQ("new", ReadFile(dest() + "/a/file"));
  EXPECT_FALSE(IsLink(dest() + "/a/link"));
  EXPECT_EQ("a file now", ReadFile(dest() + "/a/link"));
  ExpectOutsideUntouched();
}

// Finishing an entry warns when only its metadata could not be restored (on a Mac, copyfile's partial
// restore, or com.apple.provenance): the entry's data decides, so a warning is logged and the
// extraction goes on; a failure still fails.
TEST_F(ExtractorTest, AWarningAboutMetadataAloneDoesNotFailTheEntry) {
  const struct {
    int finish;
    int result;
    const char* logged;
  } rows[] = {{ARCHIVE_WARN, 0, "[WARNING] extractor.cpp"},
              {ARCHIVE_FAILED, -1, "archive_read_extract2 failed: 'metadata not restored', entry 'a/'"}};
  static int finish_result;
  extractor_testing::SetFinishEntry([](archive* writer) {
    archive_write_finish_entry(writer);
    archive_set_error(writer, -1, "metadata not restored");
    return finish_result;
  });
  for (const auto& row : rows) {
    RemoveTreeInDest();
    finish_result = row.finish;
    MakePackage({Dir("a/"), File("a/file", "data")});
    EXPECT_EQ(row.result, Extract());
    EXPECT_NE(std::string::npos, Log().find(row.logged)) << Log();
    if (row.result == 0) {
      EXPECT_EQ("data", ReadFile(dest() + "/a/file"));
    }
  }
  extractor_testing::SetFinishEntry(nullptr);
}

TEST_F(ExtractorTest, EmptyMissingAndCorruptArchivesFail) {
  QSignalSpy progress(Notify_Adapter::GetInstance(), &Notify_Adapter::sigUpdateProgress);
  MakePackage({});
  EXPECT_EQ(-1, Extract());
  EXPECT_NE(std::string::npos, Log().find("Failed to calculate total file numbers, ret: 0"));

  ASSERT_EQ(0, unlink(package().c_str()));
  EXPECT_EQ(-1, Extract());
  EXPECT_NE(std::string::npos, Log().find("archive_read_open_filename failed: '"));
  EXPECT_NE(std::string::npos, Log().find("Failed to calculate total file numbers, ret: -1"));

  WriteFile(package(), std::string(5000, '\x1f'));
  EXPECT_EQ(-1, Extract());
  EXPECT_NE(std::string::npos,
            Log().find("archive_read_open_filename failed: 'Unrecognized archive format'\n"));
  // A name that is not UTF-8 although flagged so: why the count stopped is libarchive's own text.
  MakePackage({File("bad\xff", "x")}, Format::kZip);
  EXPECT_EQ(-1, Extract());
  // (How it names the conversion differs between platforms.)
  EXPECT_NE(std::string::npos,
            Log().find("counting stopped after 0 entries: 'Pathname cannot be converted "));

  // Cut a real package short: the entries before the damage are counted and written, then it fails.
  std::vector<testpackage::Entry> entries;
  for (int i = 0; i < 40; ++i)
    entries.push_back(File("f" + std::to_string(i), std::string(20000, 'a' + i % 26)));
  MakePackage(entries, Format::kZip);
  std::string whole = ReadFile(package());
  WriteFile(package(), whole.substr(0, whole.size() / 2));
  EXPECT_EQ(-1, Extract());
  EXPECT_LT(progress.count(), 40);
  ExpectOutsideUntouched();

  // A named pipe in the package's place fails at once instead of waiting for a writer.
  ASSERT_EQ(0, unlink(package().c_str()));
  testsupport::MakeFifo(package());
  int rc = 0;
  EXPECT_TRUE(testsupport::ReturnsWithoutWaitingOn(package(), [&] { rc = Extract(); }));
  EXPECT_EQ(-1, rc);
  EXPECT_NE(std::string::npos, Log().find("package.hpk': not a regular file'")) << Log();
}

TEST_F(ExtractorTest, EmptyArgumentsAreRefused) {
  Extractor e;
  EXPECT_EQ(-1, e.Extract());
  EXPECT_EQ(-1, e.Count());
  EXPECT_EQ(-1, e.List());
  EXPECT_EQ(-1, e.copy_data(nullptr, nullptr));
  EXPECT_NE(std::string::npos, Log().find("] extractor.cpp("));
  EXPECT_NE(std::string::npos, Log().find("Invalid Argument"));
  EXPECT_NE(std::string::npos, Log().find("Invalid argument"));
}

TEST_F(ExtractorTest, ListPrintsEveryEntry) {
  MakePackage({Dir("A/"), File("A/b", "x"), Symlink("A/c", "b")});
  Extractor e;
  e.dest_path = dest().c_str();
  e.archive_path = package().c_str();
  testing::internal::CaptureStdout();
  EXPECT_EQ(0, e.List());
  EXPECT_EQ("A/\nA/b\nA/c\n", testing::internal::GetCapturedStdout());
}

TEST_F(ExtractorTest, TheWritersRefusalsNameTheEntryAndCarryItsReason) {
  struct Case {
    std::string name;   // of a file entry after a folder "a/"
    std::string shown;  // in the log
    std::string reason;
    std::string present = "";  // a file put below the destination first
    size_t size = 4;           // of the file entry; beyond 64 KiB on a destination volume of 64 KiB
  } cases[] = {
      {"../x", "../x", "Path contains '..'"},
      {"a/../../x", "a/../../x", "Path contains '..'"},
      {"a/../../outside/secret", "a/../../outside/secret", "Path contains '..'"},
      // A name cannot forge a log line.
      {"../\nforged", "../\\nforged", "Path contains '..'"},
      // A system error carries the system's text: a file cannot replace a folder that holds something.
      {"a", "a", "(Directory not empty)", "a/kept"},
      // A data block that cannot be written ends the extraction at that entry (root: a small tmpfs).
      {"a/big", "a/big", "(No space left on device)", "", 512 * 1024},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    RemoveTreeInDest();
    const bool full = c.size > 64 * 1024;
    if (full && (!testsupport::IsRoot() || testsupport::MountTmpfs(dest(), "size=64k") != 0)) continue;
    ASSERT_EQ(0, lstat(dest().c_str(), &dest_before_));
    if (!c.present.empty()) {
      ASSERT_EQ(0, mkdir((dest() + "/a").c_str(), 0755));
      WriteFile(dest() + "/" + c.present, "kept");
    }
    MakePackage({Dir("a/"), File(c.name, std::string(c.size, 'e')), File("after", "x")});
    const int result = Extract();
    EXPECT_FALSE(Exists(dest() + "/after"));
    if (full) {
      testsupport::Unmount(dest());
      ASSERT_EQ(0, lstat(dest().c_str(), &dest_before_));
    }
    EXPECT_EQ(-1, result);
    const std::string log = Log();
    const size_t line = log.rfind("archive_read_extract2 failed: '");
    ASSERT_NE(std::string::npos, line);
    const std::string failure = log.substr(line, log.find('\n', line) - line);
    EXPECT_NE(std::string::npos, failure.find(c.reason)) << failure;
    EXPECT_NE(std::string::npos, failure.find("', entry '" + c.shown + "'")) << failure;
    EXPECT_EQ(std::string::npos, failure.find("multibyte")) << failure;
    ExpectDestinationKept();
    ExpectOutsideUntouched();
  }
}

TEST_F(ExtractorTest, AbsoluteNamesLandInsideWithoutTheirSlashes) {
  QSignalSpy progress(Notify_Adapter::GetInstance(), &Notify_Adapter::sigUpdateProgress);
  MakePackage({File("/abs/x", "1"), File("//twice", "2"), File(outside() + "/secret", "3"), Dir("/")});
  ASSERT_EQ(0, Extract());
  EXPECT_EQ(4, progress.count());
  EXPECT_EQ("1", ReadFile(dest() + "/abs/x"));
  EXPECT_EQ("2", ReadFile(dest() + "/twice"));
  EXPECT_EQ("3", ReadFile(dest() + outside() + "/secret"));
  ExpectDestinationKept();
  ExpectOutsideUntouched();
}

TEST_F(ExtractorTest, NamesWithoutComponentsAndSpecialFilesAreRefused) {
  struct Case {
    std::vector<testpackage::Entry> entries;
    std::string refusal;
    const char* hold_back = "";
  } cases[] = {
      // The entry kept for last must be a file; its waiting name is no one else's.
      {{Dir("C/"), Symlink("C/INFO", "x")},
       "'C/INFO': it is to be put in place last, and only a file can be",
       "C/INFO"},
      {{File("C/.INFO.pending", "x"), File("C/INFO", "i")},
       "'C/.INFO.pending': it takes the name 'C/.INFO.pending' kept for the last entry",
       "C/INFO"},
      {{File("C/INFO", "i"), Hardlink("h", "C/INFO")},
       "'h': hard link to 'C/INFO', which is put in place last",
       "C/INFO"},
      {{Symlink(".", outside()), File("x", "evil")}, "'.': it names the destination folder itself"},
      {{Symlink("./", outside()), File("secret", "evil")}, "'./': it names the destination folder itself"},
      {{Symlink("././", "../outside"), File("y", "evil")}, "'././': it names the destination folder itself"},
      {{Symlink("/", outside())}, "'/': it names the destination folder itself"},
      {{File(".", "a file in the destination's place")}, "'.': it names the destination folder itself"},
      {{File("a", "x"), Hardlink("./", "a")}, "'./': it names the destination folder itself"},
      {{File("", "evil")}, "'': it names the destination folder itself"},
      {{Dir("Contents/"), Special("Contents/INFO", AE_IFIFO)}, "'Contents/INFO': it is a FIFO"},
      {{Special("tty", AE_IFCHR)}, "'tty': it is a character device"},
      {{Special("disk", AE_IFBLK)}, "'disk': it is a block device"},
      {{Special(".", AE_IFIFO)}, "'.': it is a FIFO"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refusal);
    RemoveTreeInDest();
    if (c.entries[0].name.empty()) {
      // libarchive's writer refuses an empty name: write "E" and blank it.
      std::vector<testpackage::Entry> named = c.entries;
      named[0].name = "E";
      MakePackage(named, Format::kTar);
      std::string tar = ReadFile(package());
      BlankFirstTarName(&tar);
      WriteFile(package(), tar);
    } else {
      MakePackage(c.entries);
    }
    EXPECT_EQ(-1, Extract(-1, c.hold_back));
    EXPECT_NE(std::string::npos, Log().find("refusing entry " + c.refusal));
    ExpectDestinationKept();
    ExpectOutsideUntouched();
  }
  EXPECT_FALSE(Exists(dest() + "/Contents/INFO"));
}

TEST_F(ExtractorTest, FolderEntriesForTheDestinationAreCountedAndLeftAlone) {
  for (Format format : {Format::kTarGz, Format::kZip}) {
    RemoveTreeInDest();
    QSignalSpy progress(Notify_Adapter::GetInstance(), &Notify_Adapter::sigUpdateProgress);
    MakePackage({Dir(".", 0700), Dir("./"), Dir("././", 0500), File("./a", "x"), Dir("./", 0555)}, format);
    ASSERT_EQ(0, Extract());
    ASSERT_EQ(5, progress.count());
    EXPECT_EQ(5, progress.at(4).at(1).toInt());
    EXPECT_EQ("x", ReadFile(dest() + "/a"));
    ExpectDestinationKept();
  }
}

TEST_F(ExtractorTest, FoldersStayOpenToTheirOwnerAndSetIdBitsNeverLand) {
  for (Format format : {Format::kTarGz, Format::kZip}) {
    SCOPED_TRACE(format == Format::kZip ? "zip" : "tar.gz");
    RemoveTreeInDest();
    MakePackage(
        {Dir("ro/", 0555), File("ro/f", "x", 04755), Dir("ro/sub/", 0500), File("ro/sub/g", "y", 0444),
         Dir("sg/", 02775), File("sg/g", "z", 02755), Dir("sticky/", 01777), Dir("none/", 01000)},
        format);
    ASSERT_EQ(0, Extract());
    for (const char* name : {"ro", "ro/f", "ro/sub", "ro/sub/g", "sg", "sg/g", "sticky", "none"}) {
      struct stat st;
      ASSERT_EQ(0, lstat((dest() + "/" + name).c_str(), &st)) << name;
      EXPECT_EQ(0u, st.st_mode & (S_ISUID | S_ISGID | S_ISVTX)) << name;
      if (S_ISDIR(st.st_mode)) {
        EXPECT_EQ(unsigned(S_IRWXU), st.st_mode & S_IRWXU) << name;
      }
    }
    // What an ordinary user needs of it: the copy can be removed without changing any mode first.
    EXPECT_TRUE(QDir(QString::fromStdString(dest() + "/ro")).removeRecursively());
    EXPECT_FALSE(Exists(dest() + "/ro"));
  }
}

TEST_F(ExtractorTest, NamesLandAsTheirUtf8BytesWhateverTheLocale) {
  const std::string resume = "Contents/Resources/fr.lproj/R\xc3\xa9sum\xc3\xa9.txt";
  const std::string saved = setlocale(LC_ALL, nullptr);
  for (Format format : {Format::kTarGz, Format::kTar, Format::kZip, Format::kZipNoUtf8}) {
    SCOPED_TRACE(static_cast<int>(format));
    RemoveTreeInDest();
    MakePackage(
        {Dir("Contents/Resources/fr.lproj/"), File(resume, "CV"), Symlink("Contents/l\xc3\xa9", resume)},
        format);
    // Started by the desktop without any locale in the environment.
    ASSERT_NE(nullptr, setlocale(LC_ALL, "C"));
    const int result = Extract();
    const size_t thread_mb_max = MB_CUR_MAX;
    const std::string after = setlocale(LC_ALL, nullptr);
    setlocale(LC_ALL, saved.c_str());
    ASSERT_EQ(0, result);
    EXPECT_EQ("CV", ReadFile(dest() + "/" + resume));
    EXPECT_TRUE(IsLink(dest() + "/Contents/l\xc3\xa9"));
    // Neither the process's nor the thread's locale was left changed.
    EXPECT_EQ("C", after);
    EXPECT_EQ(1u, thread_mb_max);
  }
}

TEST_F(ExtractorTest, NothingIsWrittenBeneathALinkFromThePackage) {
  const std::vector<std::vector<testpackage::Entry>> packages = {
      {Symlink("l", outside()), File("l/evil", "x")},
      {Symlink("l", "../outside"), File("l/secret", "overwritten")},
      {Dir("a/"), Symlink("a/l", "../../outside"), Dir("a/l/sub/"), File("a/l/sub/evil", "x")},
      {Symlink("l", outside()), Symlink("l/secret", "/etc/passwd")},
      {Symlink("l", outside()), Hardlink("h", "l/secret")},
      // A folder written earlier, then replaced by a link.
      {Dir("d/"), Symlink("d", outside()), File("d/evil", "x")},
      {Dir("d/e/"), File("d/f", "x"), Symlink("d/e", "../../outside"), File("d/e/evil", "x")},
      {Dir("d/e/"), Symlink("d/e", outside()), Hardlink("h", "d/e/secret")},
  };
  for (size_t i = 0; i < packages.size(); ++i) {
    SCOPED_TRACE(i);
    RemoveTreeInDest();
    MakePackage(packages[i]);
    EXPECT_EQ(-1, Extract());
    EXPECT_NE(std::string::npos, Log().find("is a symbolic link"));
    ExpectOutsideUntouched();
  }
}

TEST_F(ExtractorTest, HardLinksMustNameAFileExtractedInside) {
  const std::vector<std::vector<testpackage::Entry>> packages = {
      {Hardlink("h", "../outside/secret")},
      {Hardlink("h", outside() + "/secret")},
      {Symlink("s", outside() + "/secret"), Hardlink("h", "s")},
      {Hardlink("h", "not-there")},
      {Hardlink("h", ".")},
      {Hardlink("h", "/")},
      {Dir("d/"), Hardlink("h", "d")},
  };
  for (size_t i = 0; i < packages.size(); ++i) {
    SCOPED_TRACE(i);
    RemoveTreeInDest();
    MakePackage(packages[i]);
    EXPECT_EQ(-1, Extract());
    EXPECT_NE(std::string::npos, Log().find("refusing entry 'h': hard link to"));
    EXPECT_FALSE(Exists(dest() + "/h"));
    ExpectDestinationKept();
    ExpectOutsideUntouched();
  }
}

TEST_F(ExtractorTest, AFolderEntryReplacesALinkInsteadOfFollowingIt) {
  MakePackage({Symlink("d", outside()), Dir("d/", 0700), File("d/inside", "ok")});
  ASSERT_EQ(0, Extract());
  EXPECT_FALSE(IsLink(dest() + "/d"));
  EXPECT_EQ("ok", ReadFile(dest() + "/d/inside"));
  ExpectOutsideUntouched();
}

TEST_F(ExtractorTest, AFolderLaterReplacedByALinkKeepsItsModeInside) {
  // The writer sets a folder's final mode when it finishes; it must not land on the link's target.
  MakePackage({Dir("d/", 0500), Symlink("d", outside())});
  Extract();
  ExpectOutsideUntouched();
}

TEST_F(ExtractorTest, FrameworkLinksAndHardLinksExtract) {
  // The working folder is elsewhere: hard-link targets are found inside the destination anyway.
  MakePackage({Dir("Contents/"), Dir("Contents/Frameworks/Core.framework/Versions/A/Resources/"),
               File("Contents/Frameworks/Core.framework/Versions/A/Core", "binary"),
               Symlink("Contents/Frameworks/Core.framework/Versions/Current", "A"),
               Symlink("Contents/Frameworks/Core.framework/Core", "Versions/Current/Core"),
               Symlink("Contents/Frameworks/Core.framework/Resources", "Versions/Current/Resources"),
               File("Contents/Resources/LICENSE", "licence"), Dir("Contents/SharedSupport/"),
               Hardlink("Contents/SharedSupport/LICENSE", "Contents/Resources/LICENSE")});
  ASSERT_EQ(0, Extract());
  const std::string fw = dest() + "/Contents/Frameworks/Core.framework";
  EXPECT_EQ("binary", ReadFile(fw + "/Core"));
  EXPECT_TRUE(IsLink(fw + "/Versions/Current"));
  EXPECT_TRUE(IsLink(fw + "/Resources"));
  struct stat a, b;
  ASSERT_EQ(0, stat((dest() + "/Contents/Resources/LICENSE").c_str(), &a));
  ASSERT_EQ(0, stat((dest() + "/Contents/SharedSupport/LICENSE").c_str(), &b));
  EXPECT_EQ(a.st_ino, b.st_ino);
  EXPECT_EQ(2u, a.st_nlink);
  EXPECT_EQ("licence", ReadFile(dest() + "/Contents/SharedSupport/LICENSE"));
  ExpectOutsideUntouched();
}

TEST_F(ExtractorTest, ADestinationBelowALinkedHomeExtracts) {
  ASSERT_EQ(0, mkdir(at("real").c_str(), 0755));
  ASSERT_EQ(0, symlink(at("real").c_str(), at("home").c_str()));
  const std::string linked = at("home/Corvane.app");
  ASSERT_EQ(0, mkdir(linked.c_str(), 0755));
  MakePackage({Dir("Contents/"), File("Contents/x", "y"), Symlink("Contents/l", "x")});
  Extractor e;
  e.dest_path = linked.c_str();
  e.archive_path = package().c_str();
  ASSERT_EQ(0, e.Extract());
  EXPECT_TRUE(IsLink(at("home")));
  EXPECT_EQ("y", ReadFile(at("real/Corvane.app/Contents/x")));
}

// A name of `length` bytes made of components of at most 200 bytes, ending in `last`.
std::string NameOfLength(size_t length, const std::string& last) {
  std::string name;
  while (name.size() + last.size() < length) {
    const size_t room = length - name.size() - last.size();
    const size_t part = std::min<size_t>(200, room - 1);  // and its "/"
    name += std::string(part, 'd') + "/";
  }
  return name + last;
}

TEST_F(ExtractorTest, NamesAndTargetsBeyondTheSystemsLimitsAreRefused) {
  // The place below the destination, "/" included, at the limit (PATH_MAX counts the terminator).
  const size_t at_limit = PATH_MAX - dest().size() - 1;
  const std::string deep = NameOfLength(at_limit, "L");
  const std::string folders = deep.substr(0, deep.rfind('/'));
  std::vector<testpackage::Entry> way;
  for (size_t slash = folders.find('/'); slash != std::string::npos; slash = folders.find('/', slash + 1))
    way.push_back(Dir(folders.substr(0, slash) + "/"));
  way.push_back(Dir(folders + "/"));
  auto with_way = [&](std::vector<testpackage::Entry> more) {
    std::vector<testpackage::Entry> all = way;
    all.insert(all.end(), more.begin(), more.end());
    return all;
  };
  const std::string name256(256, 'n');
  struct Case {
    std::vector<testpackage::Entry> entries;
    std::string refusal;  // "" when it extracts
  } cases[] = {
      // A link at the limit, then a folder entry over it and a file below: written through the link.
      {with_way({Symlink(deep, outside()), Dir(deep + "/"), File(deep + "/x", "evil")}),
       "its name is too long: the path is longer than the system allows"},
      {with_way({File(NameOfLength(at_limit - 1, "f"), "one byte short of the limit")}), ""},
      {{File(std::string(255, 'n'), "a longest component")}, ""},
      {{File("a/" + name256, "x")}, "its name is too long: a component is longer than the system allows"},
      {{Symlink("l", NameOfLength(PATH_MAX, "t"))},
       "its link target is too long: the path is longer than the system allows"},
      {{Symlink("l", "x/" + name256)}, "its link target is too long: a component is longer"},
      {{Hardlink("h", name256)}, "hard link to a name too long: a component is longer"},
      // A component on the way that is a file: nothing can be looked at behind it.
      {{File("a", "x"), File("a/b/c", "y")}, "'a/b/c': cannot check 'a/b': Not a directory"},
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
    SCOPED_TRACE(i);
    RemoveTreeInDest();
    MakePackage(cases[i].entries, Format::kTar);
    if (cases[i].refusal.empty()) {
      EXPECT_EQ(0, Extract());
    } else {
      EXPECT_EQ(-1, Extract());
      EXPECT_NE(std::string::npos, Log().find(cases[i].refusal));
    }
    ExpectDestinationKept();
    ExpectOutsideUntouched();
  }
}

// The entry kept for last waits under its waiting name until PlaceHeldBack puts it in; an archive
// without it fails. Every entry goes below the folder opened at the start: moved mid-way, it takes the
// later entries with it, and a folder made at its old name meanwhile receives none.
TEST_F(ExtractorTest, TheLastEntryWaitsAndEveryEntryFollowsTheFolder) {
  MakePackage({Dir("C/"), File("C/INFO", "info"), File("C/a", "a"), File("C/b", "b")});
  const int folder = open(dest().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(folder, 0);
  int changes = 0;
  FSSetChangeHook([&] {
    if (++changes != 3) return;
    ASSERT_EQ(0, rename(dest().c_str(), at("moved").c_str()));
    ASSERT_EQ(0, mkdir(dest().c_str(), 0755));
  });
  Extractor e;
  e.dest_path = dest().c_str();
  e.dest_fd = folder;
  e.hold_back = "C/INFO";
  e.archive_path = package().c_str();
  char before[PATH_MAX], after[PATH_MAX];
  ASSERT_NE(nullptr, getcwd(before, sizeof(before)));
  const int result = e.Extract();
  FSSetChangeHook(nullptr);
  EXPECT_EQ(0, result);
  ASSERT_NE(nullptr, getcwd(after, sizeof(after)));
  EXPECT_STREQ(before, after) << "the working folder was not given back";
  EXPECT_TRUE(Listing(dest()).empty());
  EXPECT_EQ("ab", ReadFile(at("moved/C/a")) + ReadFile(at("moved/C/b")));
  EXPECT_FALSE(Exists(at("moved/C/INFO")));
  EXPECT_EQ(0, PlaceHeldBack(folder, "C/INFO", dest().c_str()));
  EXPECT_EQ("info", ReadFile(at("moved/C/INFO")));
  EXPECT_FALSE(Exists(at("moved/C/.INFO.pending")));
  close(folder);
  MakePackage({Dir("C/"), File("C/a", "a")});
  EXPECT_EQ(-1, Extract(-1, "C/INFO"));
  EXPECT_NE(std::string::npos, Log().find("the package holds no 'C/INFO'"));
}

TEST_F(ExtractorTest, ADestinationIsNeverResolvedAgainstTheWorkingFolder) {
  char cwd[PATH_MAX];
  ASSERT_NE(nullptr, getcwd(cwd, sizeof(cwd)));
  ASSERT_EQ(0, chdir(tmp().c_str()));
  MakePackage({File("x", "y")});
  Extractor e;
  e.dest_path = "dest";
  e.archive_path = package().c_str();
  const int result = e.Extract();
  ASSERT_EQ(0, chdir(cwd));
  EXPECT_EQ(-1, result);
  EXPECT_NE(std::string::npos, Log().find("refusing destination 'dest': it is not an absolute path"));
  EXPECT_FALSE(Exists(dest() + "/x"));
  // A destination that does not exist is not made here.
  e.dest_path = at("missing").c_str();
  EXPECT_EQ(-1, e.Extract());
  EXPECT_NE(std::string::npos,
            Log().find("cannot resolve destination '" + at("missing") + "': No such file or directory"));
  EXPECT_FALSE(Exists(at("missing")));
}

// What a volume that takes names equal ignoring case and composition does when the link entry
// `spelled` is written where an empty folder of another spelling, `twin`, stands: the folder is
// replaced, and the link is found under either spelling. Linux keeps both names apart, so the test
// does to the disk what such a volume would have done, as soon as the entry is written; on a volume
// that folds these names itself (a Mac's), both already name the link, and there is nothing to do.
class FoldingVolume {
 public:
  FoldingVolume(const std::string& dest, int entry, const std::string& spelled, const std::string& twin) {
    connection_ = QObject::connect(
        Notify_Adapter::GetInstance(), &Notify_Adapter::sigUpdateProgress, [=](int, int current) {
          if (current != entry) return;
          struct stat link_st, twin_st;
          if (lstat((dest + "/" + spelled).c_str(), &link_st) == 0 &&
              lstat((dest + "/" + twin).c_str(), &twin_st) == 0 && link_st.st_ino == twin_st.st_ino &&
              link_st.st_dev == twin_st.st_dev)
            return;
          char target[PATH_MAX];
          const ssize_t n = readlink((dest + "/" + spelled).c_str(), target, sizeof(target));
          ASSERT_GT(n, 0);
          ASSERT_EQ(0, rmdir((dest + "/" + twin).c_str()));
          ASSERT_EQ(0, symlink(std::string(target, n).c_str(), (dest + "/" + twin).c_str()));
        });
    extractor_testing::SetNamesFold(1);
  }
  ~FoldingVolume() {
    QObject::disconnect(connection_);
    extractor_testing::SetNamesFold(-1);
  }

 private:
  QMetaObject::Connection connection_;
};

TEST_F(ExtractorTest, OnAVolumeThatFoldsNamesNothingIsWrittenBeneathALinkOfAnotherSpelling) {
  const std::string nfc = "\xc3\xa9", nfd = "e\xcc\x81";  // "é" composed and decomposed
  struct Case {
    std::vector<testpackage::Entry> entries;
    int link_entry;  // 1-based
    std::string link, twin;
    Format format = Format::kTarGz;
  } cases[] = {
      {{Dir("a/"), Symlink("A", outside()), File("a/secret", "overwritten")}, 2, "A", "a"},
      // libarchive composes the UTF-8 names it converts (pax, flagged zip); a zip without the flag
      // keeps the bytes.
      {{Dir(nfc + "/"), Symlink(nfd, outside()), File(nfc + "/evil", "x")}, 2, nfd, nfc, Format::kZipNoUtf8},
      {{Dir("a/b/"), Symlink("A/B", outside()), File("a/b/evil", "x")}, 2, "A/B", "a/b"},
      {{Dir("d/"), Symlink("D", outside()), Hardlink("h", "d/secret")}, 2, "D", "d"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    RemoveTreeInDest();
    MakePackage(c.entries, c.format);
    FoldingVolume volume(dest(), c.link_entry, c.link, c.twin);
    EXPECT_EQ(-1, Extract());
    EXPECT_NE(std::string::npos, Log().find("'" + c.twin + "' is a symbolic link"));
    ExpectOutsideUntouched();
  }
  // Names that merely differ are written as usual; a volume that folds names itself (a Mac's) takes
  // "b" and "B" for one.
  bool folds = false;
  ASSERT_EQ(0, PathRefVolumeFoldsNames(dest().c_str(), &folds));
  if (folds)
    GTEST_SKIP() << "this volume takes \"b\" and \"B\" for one name: only one that keeps them apart "
                    "shows that both are written";
  RemoveTreeInDest();
  FoldingVolume volume(dest(), 0, "", "");
  MakePackage({Dir("a/"), File("a/x", "1"), Dir("B/"), File("b", "2"), File("B/y", "3")});
  EXPECT_EQ(0, Extract());
  EXPECT_EQ("3", ReadFile(dest() + "/B/y"));
}

TEST_F(ExtractorTest, EntriesLoseQuarantineAndAccessListsButKeepOtherAttributes) {
  {
    testpackage::Utf8Names utf8;
    archive* w = archive_write_new();
    ASSERT_EQ(ARCHIVE_OK, archive_write_set_format_pax(w));
    ASSERT_EQ(ARCHIVE_OK, archive_write_open_filename(w, package().c_str()));
    archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, "Contents/Resources/script");
    archive_entry_set_filetype(e, AE_IFREG);
    archive_entry_set_perm(e, 0755);
    archive_entry_set_size(e, 0);
    archive_entry_xattr_add_entry(e, "com.apple.cs.CodeDirectory", "cd\0\1", 4);
    archive_entry_xattr_add_entry(e, "com.apple.quarantine", "0081;5f000000;Safari;", 21);
    archive_entry_xattr_add_entry(e, "user.note", "kept", 4);
    ASSERT_EQ(ARCHIVE_OK,
              archive_entry_acl_add_entry(e, ARCHIVE_ENTRY_ACL_TYPE_DENY,
                                          ARCHIVE_ENTRY_ACL_DELETE | ARCHIVE_ENTRY_ACL_DELETE_CHILD,
                                          ARCHIVE_ENTRY_ACL_EVERYONE, -1, "everyone@"));
    ASSERT_EQ(ARCHIVE_OK, archive_write_header(w, e));
    archive_entry_free(e);
    ASSERT_EQ(ARCHIVE_OK, archive_write_close(w));
    archive_write_free(w);
  }
  archive* r = archive_read_new();
  archive_read_support_format_all(r);
  ASSERT_EQ(ARCHIVE_OK, archive_read_open_filename(r, package().c_str(), 10240));
  archive_entry* e = nullptr;
  ASSERT_EQ(ARCHIVE_OK, archive_read_next_header(r, &e));
  ASSERT_GT(archive_entry_acl_count(e, ARCHIVE_ENTRY_ACL_TYPE_NFS4), 0);
  extractor_testing::StripPackedMetadata(e);
  EXPECT_EQ(0, archive_entry_acl_count(e, ARCHIVE_ENTRY_ACL_TYPE_NFS4 | ARCHIVE_ENTRY_ACL_TYPE_POSIX1E));
  std::set<std::string> names;
  const char* name;
  const void* value;
  size_t size;
  archive_entry_xattr_reset(e);
  while (archive_entry_xattr_next(e, &name, &value, &size) == ARCHIVE_OK) {
    names.insert(name);
    if (std::string(name) == "com.apple.cs.CodeDirectory") {
      EXPECT_EQ(std::string("cd\0\1", 4), std::string(static_cast<const char*>(value), size));
    }
  }
  EXPECT_EQ(std::set<std::string>({"com.apple.cs.CodeDirectory", "user.note"}), names);
  archive_read_free(r);
}

}  // namespace
