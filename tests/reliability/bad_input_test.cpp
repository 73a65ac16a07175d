// Bad input of every kind the launcher reads, through whole runs of the real launcher: INFO files,
// the log level file, ui.pid, the package, and a home folder it cannot use. Each time the run ends
// with status 0, says in its log (or on standard error, where there can be no log) what was wrong,
// and loses nothing: the installed bundle, the user's data and the predecessor's data stay as they were.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"
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

  int Run(const std::string& tag = "run") {
    const int status = WaitLauncher(StartLauncher(bundle_, home_, at(tag)));
    log_ = Exists(corvane_ + "/log/launcher.log") ? ReadFile(corvane_ + "/log/launcher.log") : "";
    err_ = ReadFile(at(tag + ".err"));
    return status;
  }

  void ExpectUpgraded() {
    EXPECT_EQ(Difference(reference_, Snapshot(app_, false)), "");
    EXPECT_TRUE(BackupNames(app_).empty());
  }
  void ExpectNothingLost(bool bundle_too) {
    if (bundle_too) {
      EXPECT_EQ(Difference(bundle_before_, Snapshot(app_, true)), "") << "the installed bundle changed";
    }
    EXPECT_EQ(Snapshot(corvane_ + "/data", true), data_before_) << "the user's data changed";
    EXPECT_EQ(Snapshot(home_ + "/.Skyhold/data", true), predecessor_before_)
        << "the predecessor's data changed";
    EXPECT_EQ(ReadFile(home_ + "/precious"), precious_before_);
    EXPECT_TRUE(BackupNames(app_).empty()) << "backup left: " << BackupNames(app_).front();
  }
  bool Logged(const std::string& text) const { return log_.find(text) != std::string::npos; }

  std::vector<Entry> entries_;
  std::string bundle_, home_, corvane_, app_, log_, err_, precious_before_;
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

// Packages that cannot be installed: the old bundle is put back exactly, with its times.
TEST_F(BadInputTest, PackageThatCannotBeUnpackedLeavesTheOldBundleExactly) {
  const std::string whole = ReadFile(at("skyhold.hpk"));
  const std::string abs_target = at("written-through-an-absolute-name");
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
       ""},
      {"absolute entry", {{Entry::kFile, abs_target, "x", 0644}}, "", "refusing entry"},
      {"file through a link that points out",
       {{Entry::kSymlink, "Contents", "../..", 0777},
        {Entry::kFile, "Contents/precious", "overwritten\n", 0644}},
       "",
       "refusing entry"},
      {"hard link to a file outside",
       {{Entry::kHardlink, "grab", "../../precious", 0644}, {Entry::kFile, "grab", "overwritten\n", 0644}},
       "",
       "refusing entry"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::RemoveTree(corvane_);
    InstallOld();
    const std::string package = bundle_ + "/Contents/Resources/package/skyhold.hpk";
    if (c.entries.empty()) {
      WriteFile(package, c.bytes);
    } else if (c.entries[0].name.empty()) {
      WritePackage(package, {});
    } else {
      WritePackage(package, c.entries);
    }
    Remember();
    EXPECT_EQ(Run(), 0);
    ExpectNothingLost(true);
    EXPECT_TRUE(Logged("Failed to extract package, rollback to old installation")) << log_;
    EXPECT_TRUE(Logged("[ERROR] extractor.cpp(")) << log_;
    if (!c.reason.empty()) {
      EXPECT_TRUE(Logged(c.reason)) << log_;
    }
    EXPECT_FALSE(Exists(abs_target));
    EXPECT_FALSE(Exists(home_ + "/escaped"));
    EXPECT_FALSE(Exists(corvane_ + "/escaped"));
    for (const auto& entry : fs::directory_iterator(home_)) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == ".Corvane" || name == ".Skyhold" || name == "precious") << "appeared: " << name;
    }
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

// Undoes a mount when the test ends, however it ends.
struct MountGuard {
  std::string path;
  ~MountGuard() {
    if (!path.empty()) umount2(path.c_str(), MNT_DETACH);
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
    if (mount("tmpfs", corvane_.c_str(), "tmpfs", 0, "size=8m,mode=0755") != 0)
      GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
    guard.path = corvane_;
    fs::copy(staged, corvane_, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    ASSERT_EQ(mount("tmpfs", corvane_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=8m,mode=0755"), 0)
        << strerror(errno);
  } else {
    chmod((corvane_ + "/log").c_str(), 0555);
    chmod(corvane_.c_str(), 0555);
  }
  Remember();
  EXPECT_EQ(Run(), 0);
  ExpectNothingLost(true);
  const std::string said = log_ + err_;
  EXPECT_NE(said.find("failed to backup app from '" + app_ + "'"), std::string::npos) << said;
  EXPECT_NE(said.find("Failed to upgrade package"), std::string::npos) << said;
  if (guard.path.empty()) chmod(corvane_.c_str(), 0755);
}

}  // namespace
}  // namespace reliability
