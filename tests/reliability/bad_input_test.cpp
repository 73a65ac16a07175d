// Bad input of every kind the launcher reads, through whole runs of the real launcher: INFO files,
// the log level file, ui.pid, the package, and a home folder it cannot use. Each time the run ends
// with status 0, says in its log (or on standard error, where there can be no log) what was wrong,
// and loses nothing: the installed bundle, the user's data and the predecessor's data stay as they were.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"
#include "platform.h"
#include "temp_dir.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace reliability {
namespace {

std::string Info(const std::string& build) {
  return "[Version]\nmajor_version=1\nminor_version=0\nbuild_version=" + build + "\nicon_overlay_version=1\n";
}

class BadInputTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    // The launcher inherits it; the reference installation must see the same one.
    umask(022);
    entries_ = BundleEntries(120, 20, 1024, "120");
    WritePackage(at("skyhold.hpk"), entries_);
    bundle_ = at("Corvane.app");
    MakeBundle(bundle_, at("skyhold.hpk"), Info("120"));
    Unpack(at("skyhold.hpk"), at("reference"));
    reference_ = Snapshot(at("reference"), false);
    home_ = at("home");
    corvane_ = home_ + "/.Corvane";
    app_ = corvane_ + "/Corvane.app";
    fs::create_directories(home_ + "/.Skyhold/data");
    WriteFile(home_ + "/.Skyhold/data/settings.ini", "[General]\nlanguage=enu\n");
    WriteFile(home_ + "/precious", "a file of the user beside the hidden folders\n");
  }

  // Build 119 installed, with the user's data beside it.
  void InstallOld() {
    WriteTree(app_, BundleEntries(119, 20, 1024, "119"));
    fs::create_directories(corvane_ + "/data");
    WriteFile(corvane_ + "/data/journal", "the user's journal\n");
  }

  void Remember() {
    bundle_before_ = Snapshot(app_, true);
    data_before_ = Snapshot(corvane_ + "/data", true);
    predecessor_before_ = Snapshot(home_ + "/.Skyhold/data", true);
    precious_before_ = ReadFile(home_ + "/precious");
  }

  // One launcher run, which ends by starting the private bundle's interface when there is one: it runs
  // detached, so wait for it (started_ tells whether it came).
  int Run(const std::string& tag = "run", const testsupport::LaunchAs& as = testsupport::LaunchAs()) {
    const std::string tmpdir = home_.substr(0, home_.rfind('/'));
    const int starts = InterfaceStarts(tmpdir, app_);
    const int status = WaitLauncher(StartLauncher(bundle_, home_, at(tag), as));
    log_ = Exists(corvane_ + "/log/launcher.log") ? ReadFile(corvane_ + "/log/launcher.log") : "";
    err_ = ReadFile(at(tag + ".err"));
    started_ =
        Exists(app_ + "/Contents/MacOS/corvane-ui") && WaitForInterfaceStarts(tmpdir, app_, starts + 1);
    return status;
  }
  int Extractions() const { return Count(Messages(log_), "extract package: "); }

  void ExpectUpgraded(const std::map<std::string, std::string>& reference) {
    EXPECT_EQ(Difference(reference, Snapshot(app_, false)), "");
    EXPECT_TRUE(BackupNames(app_).empty());
    EXPECT_TRUE(started_) << "the interface was not started; started so far:\n" << StartsSoFar();
  }
  std::string StartsSoFar() const {
    const std::string file = home_.substr(0, home_.rfind('/')) + "/ui-started";
    return Exists(file) ? ReadFile(file) : "";
  }
  void ExpectUpgraded() { ExpectUpgraded(reference_); }
  void ExpectNothingLost(bool bundle_too) {
    if (bundle_too) {
      EXPECT_EQ(Difference(bundle_before_, Snapshot(app_, true)), "") << "the installed bundle changed";
      EXPECT_TRUE(started_) << "the interface was not started";
    }
    EXPECT_EQ(Snapshot(corvane_ + "/data", true), data_before_) << "the user's data changed";
    EXPECT_EQ(Snapshot(home_ + "/.Skyhold/data", true), predecessor_before_)
        << "the predecessor's data changed";
    EXPECT_EQ(ReadFile(home_ + "/precious"), precious_before_);
    EXPECT_TRUE(BackupNames(app_).empty()) << "backup left: " << BackupNames(app_).front();
  }
  bool Logged(const std::string& text) const { return log_.find(text) != std::string::npos; }
  // Nothing in ~/.Corvane but the bundle, the data, the log, ui.pid, the single-instance lock and copies
  // set aside for removal.
  // Copies set aside are allowed only with `aside_allowed`.
  void ExpectOnlyOwnFilesInCorvane(bool aside_allowed = true) {
    for (const auto& entry : fs::directory_iterator(corvane_)) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "Corvane.app" || name == "data" || name == "log" || name == "ui.pid" ||
                  name == "launcher.lock" || (aside_allowed && name.rfind("Corvane.app_trash.", 0) == 0))
          << "left behind: " << name;
    }
  }
  void Ship(const std::vector<Entry>& entries, const std::string& build) {
    WritePackage(bundle_ + "/Contents/Resources/package/skyhold.hpk", entries);
    RecordPackageDigest(bundle_);
    WriteFile(bundle_ + "/Contents/Resources/INFO", Info(build));
  }

  std::vector<Entry> entries_;
  std::string bundle_, home_, corvane_, app_, log_, err_, precious_before_;
  bool started_ = false;
  std::map<std::string, std::string> reference_, bundle_before_, data_before_, predecessor_before_;
};

// INFO files that say nothing usable: the private copy's counts as build 0 and is replaced.
TEST_F(BadInputTest, PrivateInfoThatIsGarbageOrLacksItsGroupIsReadAsBuildZero) {
  const std::vector<std::pair<std::string, std::string>> infos = {
      {"binary garbage", std::string("\x7f\x45\x4c\x46\x00\x01\xff\xfe[Ver\x00sion]\n\x01=\x02", 21)},
      {"no [Version] group", "major_version=1\nminor_version=0\nbuild_version=119\n"},
      {"another group only", "[General]\nbuild_version=119\n"},
      {"empty", ""},
  };
  for (const auto& [what, text] : infos) {
    SCOPED_TRACE(what);
    testsupport::RemoveTree(corvane_);
    InstallOld();
    WriteFile(app_ + "/Contents/Resources/INFO", text);
    Remember();
    EXPECT_EQ(Run(), 0);
    ExpectUpgraded();
    ExpectNothingLost(false);
    EXPECT_TRUE(Logged("source version = 0, target version = 120")) << log_;
  }
}

// A build number too big for an int is still a number bigger than the installed one, whichever
// way it overflows.
TEST_F(BadInputTest, HugeTargetBuildNumberStillUpgrades) {
  for (const std::string build : {"2147483648", "4294967295", "99999999999999999999"}) {
    SCOPED_TRACE(build);
    testsupport::RemoveTree(corvane_);
    InstallOld();
    WriteFile(bundle_ + "/Contents/Resources/INFO", Info(build));
    Remember();
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(Logged("target_version = (1, 0, " + build + ", 1)")) << log_;
    EXPECT_TRUE(Logged("extract package: ")) << "a huge shipped build number did not upgrade build 119:\n"
                                             << log_;
    ExpectUpgraded();
    ExpectNothingLost(false);
  }
}

TEST_F(BadInputTest, MalformedLogLevelFileIsNamedInTheLog) {
  InstallOld();
  const std::string levels = bundle_ + "/Contents/Resources/log/launcher.debug";
  WriteFile(levels, "launcher_debug=7\nservice_debug=7 oops\n");
  Remember();
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(Logged("[WARNING] log.cpp(")) << log_;
  EXPECT_TRUE(Logged("ignoring log level file '" + levels + "'")) << log_;
  EXPECT_FALSE(Logged("[DEBUG]")) << "no level of the malformed file may apply";
  ExpectUpgraded();
  ExpectNothingLost(false);
}

// ui.pid files that name no process: nothing is signalled (not this launcher, not its process group,
// not the test that started it), the NOTE line says so, and the upgrade goes on.
TEST_F(BadInputTest, UiPidThatNamesNoProcessSignalsNothing) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"binary garbage", std::string("\x00\x01pid\xff=\x02\n", 9)},
      {"not a number", "pid=abc\n"},
      {"zero", "pid=0\n"},
      {"beyond any pid", "pid=99999999999\n"},
      {"no pid key", "process=4711\n"},
      {"empty value", "pid=\n"},
  };
  // A process in the launcher's own process group, which pid 0 would reach.
  FakeUi bystander(at("bystander-got-sigterm"), 0);
  for (const auto& [what, text] : files) {
    SCOPED_TRACE(what);
    testsupport::RemoveTree(corvane_);
    InstallOld();
    WriteFile(corvane_ + "/ui.pid", text);
    Remember();
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(Logged("Failed to read pid file '" + corvane_ + "/ui.pid', not exist ?")) << log_;
    ExpectUpgraded();
    ExpectNothingLost(false);
    EXPECT_FALSE(Exists(at("bystander-got-sigterm"))) << "a process that ui.pid does not name got SIGTERM";
  }
}

// Packages that cannot be installed: the old bundle is put back exactly, with its times, and started;
// nothing outside it changes (a folder beside the home folder included).
TEST_F(BadInputTest, PackageThatCannotBeUnpackedLeavesTheOldBundleExactly) {
  const std::string whole = ReadFile(at("skyhold.hpk"));
  const std::string abs_target = at("written-through-an-absolute-name");
  const std::string outside = at("outside");
  const Entry sentinel = {Entry::kFile, "sentinel", "overwritten\n", 0644};
  struct Case {
    std::string what;
    std::vector<Entry> entries;  // an archive of these, or `bytes` when empty
    std::string bytes;
    std::string reason;  // in the extractor's ERROR line
  };
  const std::vector<Case> cases = {
      {"not an archive",
       {},
       "This is a text file, not an archive.\n",
       "Failed to calculate total file numbers"},
      {"empty file", {}, "", "Failed to calculate total file numbers, ret: "},
      {"truncated", {}, whole.substr(0, whole.size() / 2), "failed: "},
      {"archive without entries",
       {{Entry::kFile, "", "", 0}},
       "",
       "Failed to calculate total file numbers, ret: 0"},
      {"entry with ..",
       {{Entry::kDir, "Contents", "", 0755}, {Entry::kFile, "Contents/../../escaped", "x", 0644}},
       "",
       "Path contains '..'"},
      {"hard link to an absolute name",
       {{Entry::kHardlink, "grab", abs_target, 0644}},
       "",
       "refusing entry 'grab': hard link to '" + abs_target + "' outside the destination"},
      // An entry without name components is the destination itself: a link there would redirect
      // everything after it.
      {"link named . to a folder outside, then a file",
       {{Entry::kSymlink, ".", outside, 0777}, sentinel},
       "",
       "refusing entry '.': it names the destination folder itself"},
      {"link named ./ to a folder outside, then a file",
       {{Entry::kSymlink, "./", outside, 0777}, sentinel},
       "",
       "refusing entry './': it names the destination folder itself"},
      {"link named ././ to a folder outside, then a file",
       {{Entry::kSymlink, "././", outside, 0777}, sentinel},
       "",
       "refusing entry '././': it names the destination folder itself"},
      {"file named .",
       {{Entry::kFile, ".", "x", 0644}, sentinel},
       "",
       "refusing entry '.': it names the destination folder itself"},
      {"FIFO where INFO belongs",
       {{Entry::kDir, "Contents", "", 0755},
        {Entry::kDir, "Contents/Resources", "", 0755},
        {Entry::kFifo, "Contents/Resources/INFO", "", 0644}},
       "",
       "refusing entry 'Contents/Resources/INFO': it is a FIFO"},
      {"character device",
       {{Entry::kCharDevice, "null", "", 0666}, sentinel},
       "",
       "refusing entry 'null': it is a character device"},
      {"file through a link that points out",
       {{Entry::kSymlink, "Contents", "../..", 0777},
        {Entry::kFile, "Contents/precious", "overwritten\n", 0644}},
       "",
       "refusing entry 'Contents/precious': 'Contents' is a symbolic link"},
      {"hard link to a file outside",
       {{Entry::kHardlink, "grab", "../../precious", 0644}, {Entry::kFile, "grab", "overwritten\n", 0644}},
       "",
       "refusing entry 'grab': hard link to '../../precious' outside the destination"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::RemoveTree(corvane_);
    InstallOld();
    testsupport::RemoveTree(outside);
    fs::create_directory(outside);
    WriteFile(outside + "/sentinel", "kept\n");
    const auto outside_before = Snapshot(outside, true);
    const std::string package = bundle_ + "/Contents/Resources/package/skyhold.hpk";
    if (c.entries.empty()) {
      WriteFile(package, c.bytes);
    } else if (c.entries[0].name.empty()) {
      WritePackage(package, {});
    } else {
      WritePackage(package, c.entries);
    }
    RecordPackageDigest(bundle_);  // the bundle was made with it: the extractor meets the damage
    Remember();
    EXPECT_EQ(Run(), 0);
    ExpectNothingLost(true);
    EXPECT_TRUE(Logged("Failed to extract package, rollback to old installation")) << log_;
    EXPECT_TRUE(Logged("[ERROR] extractor.cpp(")) << log_;
    if (!c.reason.empty()) {
      EXPECT_TRUE(Logged(c.reason)) << log_;
    }
    EXPECT_FALSE(Exists(abs_target));
    EXPECT_EQ(Difference(outside_before, Snapshot(outside, true)), "");
    EXPECT_FALSE(Exists(home_ + "/escaped"));
    EXPECT_FALSE(Exists(corvane_ + "/escaped"));
    for (const auto& entry : fs::directory_iterator(home_)) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == ".Corvane" || name == ".Skyhold" || name == "precious") << "appeared: " << name;
    }
  }
}

// A home folder, or ~/.Corvane, reached through a symbolic link (the data kept on another volume):
// the first installation of a package holding a hard link lands where the link points, the link
// stays a link, the user's data stays, and the interface starts.
TEST_F(BadInputTest, FirstInstallationThroughALinkedHomeOrCorvaneFolderKeepsTheLink) {
  testsupport::RemoveTree(home_ + "/.Skyhold");
  bool has_hard_link = false;
  for (const Entry& e : entries_) has_hard_link = has_hard_link || e.kind == Entry::kHardlink;
  ASSERT_TRUE(has_hard_link);
  for (const bool link_home : {false, true}) {
    SCOPED_TRACE(link_home ? "linked home" : "linked ~/.Corvane");
    std::string link, real;
    if (link_home) {
      fs::remove(corvane_);  // the link of the other case
      link = home_;
      real = at("real-home");
      fs::rename(home_, real);
    } else {
      link = corvane_;
      real = at("volume/corvane");
      fs::create_directories(real + "/data");
      WriteFile(real + "/data/journal", "the user's journal\n");
    }
    fs::create_directory_symlink(real, link);
    const auto data_before = Snapshot(corvane_ + "/data", true);
    EXPECT_EQ(Run(link_home ? "home" : "corvane"), 0);
    EXPECT_TRUE(fs::is_symlink(link)) << link << " is no longer a link";
    EXPECT_FALSE(Logged("Hard-link target")) << log_;
    ExpectUpgraded();
    EXPECT_EQ(Snapshot(corvane_ + "/data", true), data_before);
    EXPECT_EQ(ReadFile(home_ + "/precious"), "a file of the user beside the hidden folders\n");
  }
}

TEST_F(BadInputTest, HomeWhoseCorvaneFolderIsAFile) {
  WriteFile(corvane_, "a file where the launcher's folder belongs\n");
  Remember();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(ReadFile(corvane_), "a file where the launcher's folder belongs\n");
  ExpectNothingLost(false);
  // No log file can exist there: errors go to standard error.
  EXPECT_NE(err_.find("[ERROR]"), std::string::npos) << "nothing says why nothing was installed";
  EXPECT_NE(err_.find(corvane_), std::string::npos) << err_;
}

// What stands where the launcher's own files belong neither stops it nor sends it elsewhere: a folder
// in the single-instance lock's place is set aside and the run goes on, and a link in the log's
// place is not followed (the log goes to standard error, which says why), so the user's file it points
// to gains no line.
TEST_F(BadInputTest, SquattersAtTheLockAndTheLogNeverStopOrRedirectTheLauncher) {
  InstallOld();
  fs::create_directories(corvane_ + "/launcher.lock");
  fs::create_directories(corvane_ + "/log");
  fs::create_symlink(home_ + "/precious", corvane_ + "/log/launcher.log");
  Remember();
  EXPECT_EQ(Run(), 0);
  ExpectUpgraded();
  ExpectNothingLost(false);
  EXPECT_TRUE(fs::is_symlink(corvane_ + "/log/launcher.log"));
  EXPECT_NE(err_.find("cannot open log file '" + corvane_ + "/log/launcher.log'"), std::string::npos) << err_;
  EXPECT_NE(err_.find("set aside '" + corvane_ + "/launcher.lock' as '" + corvane_ + "/launcher.lock_aside."),
            std::string::npos)
      << err_;
}

// Undoes a mount when the test ends, however it ends.
struct MountGuard {
  std::string path;
  ~MountGuard() {
    if (!path.empty()) testsupport::Unmount(path);
  }
};

TEST_F(BadInputTest, HomeWhoseCorvaneFolderIsReadOnly) {
  InstallOld();
  fs::create_directories(corvane_ + "/log");
  MountGuard guard;
  if (testsupport::IsRoot()) {
    // Root writes through permission bits: only a read-only mount stops it.
    const std::string staged = at("staged");
    fs::rename(corvane_, staged);
    fs::create_directory(corvane_);
    if (testsupport::MountTmpfs(corvane_, "size=8m,mode=0755") != 0)
      GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
    guard.path = corvane_;
    fs::copy(staged, corvane_, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    ASSERT_EQ(testsupport::RemountTmpfs(corvane_, "size=8m,mode=0755", true), 0) << strerror(errno);
  } else {
    chmod((corvane_ + "/log").c_str(), 0555);
    chmod(corvane_.c_str(), 0555);
  }
  Remember();
  EXPECT_EQ(Run(), 0);
  ExpectNothingLost(true);
  const std::string said = log_ + err_;
  // Nothing moves unless the upgrade can be recorded first.
  EXPECT_NE(said.find("cannot write the upgrade record '" + app_ + ".upgrade.new': "), std::string::npos) << said;
  EXPECT_NE(said.find("Failed to upgrade package"), std::string::npos) << said;
  if (guard.path.empty()) chmod(corvane_.c_str(), 0755);
}

// Packages made by other tools, installed by a launcher started without any locale in its environment
// (or with the plain C locale): absolute names land inside the private copy (where bsdtar puts them
// too), and names beyond ASCII land byte for byte, from pax and from zip archives.
TEST_F(BadInputTest, PackagesOfOtherToolsInstallWithoutALocale) {
  const std::string abs_name = at("absolute/INFO-copy");
  std::vector<Entry> named;  // a zip archive holds no hard links
  for (const Entry& e : entries_)
    if (e.kind != Entry::kHardlink) named.push_back(e);
  named.push_back({Entry::kDir, "Contents/Resources/fr.lproj", "", 0755});
  named.push_back({Entry::kFile, "Contents/Resources/fr.lproj/Résumé.txt", "résumé\n", 0644});
  named.push_back({Entry::kFile, "Contents/Resources/fr.lproj/説明.txt", "説明\n", 0644});
  named.push_back({Entry::kSymlink, "Contents/Resources/Résumé", "fr.lproj/Résumé.txt", 0777});
  std::vector<Entry> absolute = entries_;
  absolute.push_back({Entry::kFile, abs_name, "inside\n", 0644});
  struct Case {
    std::string what;
    const std::vector<Entry>& entries;
    Format format;
    std::string lc_all;
  };
  const std::vector<Case> cases = {{"absolute names", absolute, Format::kTarGz, ""},
                                   {"names beyond ASCII, pax", named, Format::kTarGz, ""},
                                   {"names beyond ASCII, zip", named, Format::kZip, ""},
                                   {"names beyond ASCII, pax, LC_ALL=C", named, Format::kTarGz, "C"},
                                   {"names beyond ASCII, zip, LC_ALL=C", named, Format::kZip, "C"}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::LaunchAs bare;
    bare.bare_environment = true;
    bare.lc_all = c.lc_all;
    testsupport::RemoveTree(corvane_);
    InstallOld();
    const std::string expected = at("expected" + std::to_string(n++));
    WriteTree(expected, c.entries);
    WritePackage(bundle_ + "/Contents/Resources/package/skyhold.hpk", c.entries, c.format);
    RecordPackageDigest(bundle_);
    Remember();
    EXPECT_EQ(Run("bare", bare), 0);
    ExpectUpgraded(Snapshot(expected, false));
    ExpectNothingLost(false);
    EXPECT_FALSE(Exists(abs_name));
  }
}

// A plain tar cut at an entry boundary reads as a whole archive: only the SHA-256 the bundle recorded
// when it was made tells that half of it is missing. Nothing is stopped, moved or extracted; the
// installed copy stays as it was and is started.
TEST_F(BadInputTest, PackageCutAtAnEntryBoundaryIsNeverInstalled) {
  InstallOld();
  const std::string tar = at("skyhold.tar");
  ASSERT_EQ(std::system(("gzip -dc '" + at("skyhold.hpk") + "' > '" + tar + "'").c_str()), 0);
  bundle_ = at("Cut.app");
  MakeBundle(bundle_, tar, Info("120"));
  // A tar header starts with the entry's name: the archive up to the eleventh filler's header.
  const std::string whole = ReadFile(tar);
  const size_t cut = whole.find(FillerName(10));
  ASSERT_NE(cut, std::string::npos);
  ASSERT_EQ(cut % 512, 0u);
  WriteFile(bundle_ + "/Contents/Resources/package/skyhold.hpk", whole.substr(0, cut));
  Remember();
  EXPECT_EQ(Run(), 0);
  ExpectNothingLost(true);
  EXPECT_TRUE(Logged("/Contents/Resources/package/skyhold.hpk' is damaged: its SHA-256 is ")) << log_;
  EXPECT_TRUE(Logged("not upgrading from a damaged package, the installed copy stays as it is")) << log_;
  EXPECT_EQ(Extractions(), 0);
  ExpectOnlyOwnFilesInCorvane(false);
}

// Folders without the owner's write bit, from a package or in a copy an earlier build left: the
// next upgrade replaces the copy, and later starts with the same build extract nothing.
TEST_F(BadInputTest, ReadOnlyFoldersNeverLockTheUserIntoUpgrading) {
  std::vector<Entry> read_only = entries_;
  for (Entry& e : read_only)
    if (e.kind == Entry::kDir) e.mode = 0555;
  const std::vector<Entry> later = BundleEntries(121, 20, 1024, "121");
  WriteTree(at("expected121"), later);

  // From the package: installed with the owner's bits, so the upgrade to 121 can remove it.
  Ship(read_only, "120");
  EXPECT_EQ(Run("first"), 0);
  for (const auto& [path, what] : Snapshot(app_, false)) {
    if (what.find(" dir") != std::string::npos) {
      EXPECT_EQ(std::stoi(what, nullptr, 8) & 0700, 0700) << path;
    }
  }
  Ship(later, "121");
  for (int run = 0; run < 4; ++run) EXPECT_EQ(Run("later" + std::to_string(run)), 0);
  EXPECT_EQ(Extractions(), 2) << "the installation and one upgrade:\n" << log_;
  ExpectUpgraded(Snapshot(at("expected121"), false));
  ExpectOnlyOwnFilesInCorvane(false);

  // Left read-only by an earlier build: set aside, and removed wherever the permissions allow.
  testsupport::RemoveTree(corvane_);
  InstallOld();
  for (const auto& [path, what] : Snapshot(app_, false))
    if (what.find(" dir") != std::string::npos) chmod((app_ + path).c_str(), 0555);
  chmod(app_.c_str(), 0555);
  Ship(entries_, "120");
  Remember();
  for (int run = 0; run < 4; ++run) EXPECT_EQ(Run("legacy" + std::to_string(run)), 0);
  EXPECT_EQ(Extractions(), 1) << log_;
  ExpectUpgraded();
  ExpectNothingLost(false);
  ExpectOnlyOwnFilesInCorvane();
}

// A backup name held by another user's files (left by a run with sudo): once that it cannot be
// removed (set aside with a warning), once that it cannot even be renamed (in a folder with the
// sticky bit that belongs to another user: EPERM, as an immutable or locked copy gives). Neither
// makes every start upgrade again: one extraction in four starts.
TEST_F(BadInputTest, BackupOfAnotherUserNeverLocksTheUserIntoUpgrading) {
  long uid = -1, gid = -1;
  if (!testsupport::IsRoot() || !OrdinaryAccount(&uid, &gid))
    GTEST_SKIP() << "needs root and the account corvane-test to leave a backup that account cannot "
                    "remove; it would show that such a backup no longer makes every start upgrade";
  // A home and TMPDIR the account owns, below the test's folder, which must let it through.
  chmod(tmp().c_str(), 0755);
  for (std::string up = tmp(); !up.empty(); up = up.substr(0, up.rfind('/'))) {
    struct stat st;
    if (stat(up.c_str(), &st) != 0 || (st.st_mode & S_IXOTH) == 0)
      GTEST_SKIP() << up << " does not let other accounts through; set TMPDIR to a folder that does";
  }
  for (const bool renamable : {true, false}) {
    SCOPED_TRACE(renamable ? "cannot be removed" : "cannot be renamed");
    const std::string user = at(renamable ? "user" : "user-sticky");
    home_ = user + "/home";
    corvane_ = home_ + "/.Corvane";
    app_ = corvane_ + "/Corvane.app";
    fs::create_directories(home_ + "/.Skyhold/data");
    WriteFile(home_ + "/precious", "a file of the user beside the hidden folders\n");
    InstallOld();
    ASSERT_EQ(
        std::system(
            ("chown -R " + std::to_string(uid) + ":" + std::to_string(gid) + " '" + user + "'").c_str()),
        0);
    WriteTree(app_ + "_tmp", BundleEntries(118, 5, 512, "118"));  // root's
    if (!renamable) {
      ASSERT_EQ(0, chown(corvane_.c_str(), 0, 0));
      ASSERT_EQ(0, chmod(corvane_.c_str(), 01777));
    }
    const auto others = Snapshot(app_ + "_tmp", true);
    Remember();
    testsupport::LaunchAs as;
    as.uid = uid;
    as.gid = gid;
    for (int run = 0; run < 4; ++run) EXPECT_EQ(Run("user" + std::to_string(run), as), 0);
    EXPECT_EQ(Extractions(), 1) << log_;
    EXPECT_EQ(Difference(reference_, Snapshot(app_, false)), "");
    EXPECT_TRUE(started_);
    EXPECT_EQ(Snapshot(corvane_ + "/data", true), data_before_) << "the user's data changed";
    int aside = 0;
    for (const auto& entry : fs::directory_iterator(corvane_)) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "Corvane.app" || name == "data" || name == "log" || name == "ui.pid" ||
                  name == "launcher.lock" || name.rfind("Corvane.app_trash.", 0) == 0 ||
                  (!renamable && (name == "Corvane.app_tmp" || name == "Corvane.app.upgrade")))
          << "left behind: " << name;
      if (name.rfind("Corvane.app_trash.", 0) != 0 && name != "Corvane.app_tmp") continue;
      ++aside;
      EXPECT_EQ(Difference(others, Snapshot(entry.path().string(), true)), "")
          << "another user's files changed";
      EXPECT_TRUE(Logged("[WARNING]") && Logged(name)) << "no warning names " << name << ":\n" << log_;
    }
    EXPECT_EQ(aside, 1);
  }
}

// A leftover backup name while the bundle ships an older build: the newer private copy stays.
TEST_F(BadInputTest, LeftoverBackupNeverBringsAnOlderBuildBack) {
  WriteTree(app_, BundleEntries(121, 20, 1024, "121"));
  WriteTree(app_ + "_tmp", BundleEntries(119, 20, 1024, "119"));
  Remember();
  for (int run = 0; run < 2; ++run) EXPECT_EQ(Run("run" + std::to_string(run)), 0);
  EXPECT_EQ(Extractions(), 0) << log_;
  EXPECT_EQ(Difference(bundle_before_, Snapshot(app_, true)), "");
  EXPECT_TRUE(started_);
}

// Backups an earlier launcher left (builds 100, 105, 110 in _tmp, _tmp1, _tmp2) met by a package that
// cannot be unpacked: the copy that was live (build 119) comes back exactly on every start, never an
// older one, and the backups stay as they were; a whole package then installs and removes them all.
TEST_F(BadInputTest, EarlierLaunchersBackupsNeverReplaceTheLiveCopy) {
  InstallOld();
  const char* builds[] = {"100", "105", "110"};
  for (int n = 0; n < 3; ++n)
    WriteTree(app_ + "_tmp" + (n ? std::to_string(n) : ""),
              BundleEntries(std::stoi(builds[n]), 5, 512, builds[n]));
  Remember();
  const auto backups = Snapshot(corvane_, true);
  const std::string whole = ReadFile(at("skyhold.hpk"));
  WriteFile(bundle_ + "/Contents/Resources/package/skyhold.hpk", whole.substr(0, whole.size() * 2 / 3));
  RecordPackageDigest(bundle_);  // taken for whole, so that the extraction itself fails
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    EXPECT_EQ(Run("run" + std::to_string(run)), 0);
    auto now = Snapshot(corvane_, true);
    for (auto it = now.begin(); it != now.end();)
      it = it->first.rfind("/log", 0) == 0 || it->first == "/Corvane.app.upgrade" ||
                   it->first == "/launcher.lock"
               ? now.erase(it)
               : ++it;
    auto want = backups;
    for (auto it = want.begin(); it != want.end();)
      it = it->first.rfind("/log", 0) == 0 ? want.erase(it) : ++it;
    EXPECT_EQ(Difference(want, now), "") << "the live copy or an earlier launcher's backup changed";
    EXPECT_TRUE(started_);
  }
  WriteFile(bundle_ + "/Contents/Resources/package/skyhold.hpk", whole);
  RecordPackageDigest(bundle_);
  EXPECT_EQ(Run("whole"), 0);
  ExpectUpgraded();
  ExpectNothingLost(false);
  ExpectOnlyOwnFilesInCorvane(false);
}

}  // namespace
}  // namespace reliability
