// The package extractor on real archives made here: progress through Notify_Adapter, failures, and
// the containment of every entry inside the destination (checked by looking outside afterwards).
#include "extractor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QSignalSpy>
#include <algorithm>
#include <string>
#include <vector>

#include "log.h"
#include "progress.h"
#include "strtable.h"
#include "temp_dir.h"
#include "test_package.h"

namespace {

using testpackage::Dir;
using testpackage::File;
using testpackage::Format;
using testpackage::Hardlink;
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

class ExtractorTest : public testsupport::TempDirTest {
 protected:
  static void SetUpTestSuite() { StrTable::InitStrTable(); }

  void SetUp() override {
    testpackage::LogTo(tmp());
    ASSERT_EQ(0, mkdir(dest().c_str(), 0755));
    ASSERT_EQ(0, mkdir(outside().c_str(), 0755));
    WriteFile(outside() + "/secret", "keep me");
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
  }

  void MakePackage(const std::vector<testpackage::Entry>& entries, Format format = Format::kTarGz) {
    ASSERT_EQ("", testpackage::WriteArchive(package(), entries, format));
  }

  int Extract() {
    Extractor extractor;
    extractor.dest_path = dest().c_str();
    extractor.archive_path = package().c_str();
    return extractor.Extract();
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
};

TEST_F(ExtractorTest, ThreeEntriesReportLabelAndProgressInBothFormats) {
  for (Format format : {Format::kTarGz, Format::kZip}) {
    SCOPED_TRACE(format == Format::kZip ? "zip" : "tar.gz");
    MakePackage({Dir("Contents/"), File("Contents/INFO", "[Version]\nbuild_version=120\n"),
                 File("Contents/empty", "")},
                format);
    QSignalSpy progress(Notify_Adapter::GetInstance(), &Notify_Adapter::sigUpdateProgress);
    QSignalSpy label(Notify_Adapter::GetInstance(), &Notify_Adapter::sigUpdateDialogText);

    ASSERT_EQ(0, Extract());

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
    EXPECT_EQ(3, counter.Count());
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

TEST_F(ExtractorTest, DotDotIsRefusedByTheWriter) {
  for (const char* name : {"../x", "a/../../x", "a/../../outside/secret"}) {
    SCOPED_TRACE(name);
    MakePackage({Dir("a/"), File(name, "evil")});
    EXPECT_EQ(-1, Extract());
    EXPECT_NE(std::string::npos, Log().find("archive_read_extract2 failed: '"));
    ExpectOutsideUntouched();
  }
}

TEST_F(ExtractorTest, AbsoluteNamesAreRefused) {
  MakePackage({File(outside() + "/abs", "evil")});
  EXPECT_EQ(-1, Extract());
  EXPECT_NE(std::string::npos, Log().find("absolute name"));
  EXPECT_TRUE(Listing(dest()).empty());
  ExpectOutsideUntouched();
}

TEST_F(ExtractorTest, NothingIsWrittenBeneathALinkFromThePackage) {
  const std::vector<std::vector<testpackage::Entry>> packages = {
      {Symlink("l", outside()), File("l/evil", "x")},
      {Symlink("l", "../outside"), File("l/secret", "overwritten")},
      {Dir("a/"), Symlink("a/l", "../../outside"), Dir("a/l/sub/"), File("a/l/sub/evil", "x")},
      {Symlink("l", outside()), Symlink("l/secret", "/etc/passwd")},
      {Symlink("l", outside()), Hardlink("h", "l/secret")},
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
  };
  for (size_t i = 0; i < packages.size(); ++i) {
    SCOPED_TRACE(i);
    RemoveTreeInDest();
    MakePackage(packages[i]);
    EXPECT_EQ(-1, Extract());
    EXPECT_NE(std::string::npos, Log().find("refusing entry 'h': hard link to"));
    EXPECT_FALSE(Exists(dest() + "/h"));
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

}  // namespace
