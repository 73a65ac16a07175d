// Two faults of the surroundings: the disk under the home folder fills up in the middle of an
// upgrade, and many launchers start at the same moment for one home folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

std::string InfoOf(const std::vector<Entry>& entries) {
  for (const Entry& e : entries)
    if (e.name == "Contents/Resources/INFO") return e.data;
  return std::string();
}

class FullDiskTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    if (!testsupport::IsRoot())
      GTEST_SKIP() << "needs root to mount a small tmpfs as the home folder; it would show that a disk "
                      "filling up during extraction puts the old bundle back byte for byte";
    home_ = at("home");
    fs::create_directory(home_);
    if (testsupport::MountTmpfs(home_, "size=1m,mode=0755") != 0)
      GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) testsupport::Unmount(home_);
  }

  std::string home_;
  bool mounted_ = false;
};

TEST_F(FullDiskTest, OldBundleComesBackByteForByteAndTheNextRunWithRoomSucceeds) {
  // The launcher inherits it; the reference installation must see the same one.
  umask(022);
  // 4.8 MB of files that do not compress, for a disk of 1 MB.
  const std::vector<Entry> entries = BundleEntries(120, 300, 16384, "120");
  WritePackage(at("skyhold.hpk"), entries);
  const std::string bundle = at("Corvane.app");
  MakeBundle(bundle, at("skyhold.hpk"), InfoOf(entries));
  Unpack(at("skyhold.hpk"), at("reference"));

  const std::string app = home_ + "/.Corvane/Corvane.app";
  WriteTree(app, BundleEntries(119, 10, 4096, "119"));
  fs::create_directories(home_ + "/.Corvane/data");
  WriteFile(home_ + "/.Corvane/data/journal", "the user's journal\n");
  const auto old_bundle = Snapshot(app, true);
  const auto old_data = Snapshot(home_ + "/.Corvane/data", true);

  EXPECT_EQ(WaitLauncher(StartLauncher(bundle, home_, at("full"))), 0);

  EXPECT_EQ(Difference(old_bundle, Snapshot(app, true)), "") << "the old bundle did not come back whole";
  EXPECT_EQ(Snapshot(app, true), old_bundle);
  EXPECT_EQ(Snapshot(home_ + "/.Corvane/data", true), old_data);
  EXPECT_TRUE(BackupNames(app).empty());
  const std::string log = ReadFile(home_ + "/.Corvane/log/launcher.log");
  EXPECT_NE(log.find("rollback to old installation"), std::string::npos) << log;
  EXPECT_NE(log.find(strerror(ENOSPC)), std::string::npos) << "the log does not say that the disk is full:\n"
                                                           << log;

  ASSERT_EQ(testsupport::RemountTmpfs(home_, "size=64m,mode=0755", false), 0) << strerror(errno);
  EXPECT_EQ(WaitLauncher(StartLauncher(bundle, home_, at("room"))), 0);
  EXPECT_EQ(Difference(Snapshot(at("reference"), false), Snapshot(app, false)), "");
  EXPECT_TRUE(BackupNames(app).empty());
  EXPECT_EQ(Snapshot(home_ + "/.Corvane/data", true), old_data);
}

class ConcurrentStartTest : public testsupport::TempDirTest,
                            public ::testing::WithParamInterface<bool /*first installation*/> {};

TEST_P(ConcurrentStartTest, TenLaunchersAtOnceUpgradeExactlyOnce) {
  // The launcher inherits it; the reference installation must see the same one.
  umask(022);
  const std::vector<Entry> entries = BundleEntries(120, 200, 2048, "120");
  WritePackage(at("skyhold.hpk"), entries);
  const std::string bundle = at("Corvane.app");
  MakeBundle(bundle, at("skyhold.hpk"), InfoOf(entries));
  Unpack(at("skyhold.hpk"), at("reference"));
  const std::string home = at("home");
  const std::string app = home + "/.Corvane/Corvane.app";
  fs::create_directories(home + "/.Corvane/data");
  WriteFile(home + "/.Corvane/data/journal", "the user's journal\n");
  if (!GetParam()) WriteTree(app, BundleEntries(119, 50, 2048, "119"));

  fs::create_directories(at("tmp-even"));
  fs::create_directories(at("tmp-odd"));
  // All ten wait on one pipe and start the launcher the moment it closes.
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  std::vector<pid_t> pids;
  for (int i = 0; i < 10; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      close(gate[1]);
      char c;
      while (read(gate[0], &c, 1) < 0 && errno == EINTR) {
      }
      const std::string exe = bundle + "/Contents/MacOS/corvane-launcher";
      setenv("HOME", home.c_str(), 1);
      // Two temporary folders: one home is one launcher whatever each one's TMPDIR.
      setenv("TMPDIR", at(i % 2 == 0 ? "tmp-even" : "tmp-odd").c_str(), 1);
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      unsetenv("QT_PLUGIN_PATH");
      const std::string out = at("l" + std::to_string(i) + ".out");
      if (freopen(out.c_str(), "w", stdout) == nullptr ||
          freopen((out + ".err").c_str(), "w", stderr) == nullptr)
        _exit(126);
      execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GT(pid, 0);
    pids.push_back(pid);
  }
  close(gate[0]);
  close(gate[1]);
  for (pid_t pid : pids) EXPECT_EQ(WaitLauncher(pid), 0);

  const std::vector<std::string> m = Messages(ReadFile(home + "/.Corvane/log/launcher.log"));
  EXPECT_EQ(Count(m, "extract package: "), 1) << "exactly one launcher upgrades";
  EXPECT_EQ(Count(m, "user installation is ready"), 1);
  // The others either found one running or came after it and found nothing to do.
  EXPECT_EQ(Count(m, "app has already launched, return") + Count(m, "no need to upgrade"), 9);
  EXPECT_EQ(Count(m, "running"), 10 - Count(m, "app has already launched, return"));
  EXPECT_EQ(Difference(Snapshot(at("reference"), false), Snapshot(app, false)), "");
  EXPECT_TRUE(BackupNames(app).empty());
  EXPECT_EQ(ReadFile(home + "/.Corvane/data/journal"), "the user's journal\n");
}

INSTANTIATE_TEST_SUITE_P(UpgradeAndFirstInstallation, ConcurrentStartTest, ::testing::Values(false, true));

}  // namespace
}  // namespace reliability
