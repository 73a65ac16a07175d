// The upgrade service on a temporary home folder with the path registry filled as start-up fills it:
// the upgrade decision, replacing the private bundle with backup and rollback, migration of the
// predecessor, stopping real child processes through ui.pid, launching, and the tree copy.
#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QSignalSpy>
#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cloud-service.h"
#include "launch-services.h"
#include "log.h"
#include "mac/mac-service.h"
#include "platform.h"
#include "process-control.h"
#include "progress.h"
#include "running_ui.h"
#include "strtable.h"
#include "temp_dir.h"
#include "test_package.h"
#include "user-paths.h"

namespace {

using testpackage::Dir;
using testpackage::File;
using testsupport::ReadFile;
using testsupport::WriteFile;

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string Info(const std::string& build) {
  return "[Version]\nmajor_version=1\nminor_version=0\nbuild_version=" + build + "\nicon_overlay_version=3\n";
}

// A child process that this test reaps as soon as it ends, so that a probe with signal 0 sees it
// gone (an unreaped child would linger as a zombie). With `run_from` it runs from inside that folder,
// as the interface a ui.pid there names does; otherwise it is a plain fork of the test.
class Child {
 public:
  enum Behaviour { kExitsTwoSecondsAfterTerm, kIgnoresTerm, kPlain };

  explicit Child(Behaviour behaviour, const std::string& run_from = "") {
    if (!run_from.empty()) {
      pid_ = testsupport::StartRunningUi(run_from, "", behaviour == kExitsTwoSecondsAfterTerm ? 2000 : 0,
                                         behaviour == kIgnoresTerm);
      if (pid_ > 0) reaper_ = std::thread([this] { waitpid(pid_, &status_, 0); });
      return;
    }
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      if (behaviour == kIgnoresTerm) {
        signal(SIGTERM, SIG_IGN);
      } else if (behaviour == kExitsTwoSecondsAfterTerm) {
        struct sigaction sa = {};
        sa.sa_handler = [](int) {
          sleep(2);
          _exit(0);
        };
        sigaction(SIGTERM, &sa, nullptr);
      }
      char c = 1;
      if (write(ready[1], &c, 1) != 1) _exit(3);
      for (;;) pause();
    }
    close(ready[1]);
    char c;
    if (read(ready[0], &c, 1) != 1) ADD_FAILURE() << "child did not start";
    close(ready[0]);
    reaper_ = std::thread([this] { waitpid(pid_, &status_, 0); });
  }
  ~Child() {
    if (pid_ > 0 && reaper_.joinable()) {
      kill(pid_, SIGKILL);
      reaper_.join();
    }
  }
  pid_t pid() const { return pid_; }
  // Waits for the end and returns the wait status.
  int Join() {
    reaper_.join();
    return status_;
  }
  bool Alive() const { return kill(pid_, 0) == 0; }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  std::thread reaper_;
};

struct Signal {
  pid_t pid;
  int sig;
  int result;
  int error;
};

class ServiceTest : public testsupport::TempDirTest {
 protected:
  static void SetUpTestSuite() { StrTable::InitStrTable(); }

  void SetUp() override {
    old_home_ = qgetenv("HOME");
    ASSERT_EQ(0, mkdir(home().c_str(), 0755));
    qputenv("HOME", QByteArray(home().c_str()));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(at("Launcher.app/Contents/MacOS"))));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(resources() + "/package")));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(corvane() + "/log")));
    RegisterUserPaths(Service::GetUserInstallPath(),
                      QString::fromStdString(at("Launcher.app/Contents/MacOS")));
    testpackage::LogTo(tmp());
    SetSignalObserver([this](pid_t pid, int sig, int result, int error) {
      signals_.push_back(Signal{pid, sig, result, error});
    });
    launch_services::SetObserver([this](const launch_services::Request& r) { requests_.push_back(r); });
  }
  void TearDown() override {
    SetSignalGate(nullptr);
    SetSignalObserver(nullptr);
    launch_services::SetObserver(nullptr);
    Logger::Destroy();
    qputenv("HOME", old_home_);
  }

  std::string home() const { return at("home"); }
  std::string corvane() const { return home() + "/.Corvane"; }
  std::string app() const { return corvane() + "/Corvane.app"; }
  std::string ui() const { return app() + "/Contents/MacOS/corvane-ui"; }
  std::string skyhold() const { return home() + "/.Skyhold"; }
  std::string resources() const { return at("Launcher.app/Contents/Resources"); }
  std::string package() const { return resources() + "/package/skyhold.hpk"; }
  std::string backup(int n) const { return app() + "_tmp" + (n ? std::to_string(n) : ""); }
  std::string Log() const { return ReadFile(at("launcher.log")); }
  bool Logged(const std::string& text) const { return Log().find(text) != std::string::npos; }

  // An interface that writes "<working folder> <session id> <pid>" next to its own folder.
  static constexpr const char* kStartedUi =
      "#!/bin/sh\necho \"$(pwd) $(cut -d' ' -f6 /proc/$$/stat) $$\" > ../started.new && mv ../started.new "
      "../started\n";
  // The package of build `build`: a bundle with its INFO and interface executable (3 entries more
  // than the folders).
  void MakePackage(const std::string& build) {
    ASSERT_EQ("", testpackage::WriteArchive(package(),
                                            {Dir("Contents/"), File("Contents/Resources/INFO", Info(build)),
                                             File("Contents/MacOS/corvane-ui", kStartedUi, 0755)}));
  }
  void ShipBuild(const std::string& build) { WriteInfo(resources() + "/INFO", build); }
  // The toolkit keeps INI files it has read and reads one again only when its size or time changed:
  // every INFO a test writes gets a time of its own, so a rewrite within the same millisecond with a
  // build of the same length is not mistaken for the file read before.
  void WriteInfo(const std::string& path, const std::string& build) {
    static long stamp = 1000000000;
    WriteFile(path, Info(build));
    const struct timeval times[2] = {{++stamp, 0}, {stamp, 0}};
    ASSERT_EQ(0, utimes(path.c_str(), times));
  }
  // An installed private bundle of `build`, with or without its interface executable.
  void Install(const std::string& build, bool with_ui = true) {
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(app() + "/Contents/Resources")));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(app() + "/Contents/MacOS")));
    WriteInfo(app() + "/Contents/Resources/INFO", build);
    WriteFile(app() + "/old-marker", "old " + build);
    if (with_ui) WriteFile(ui(), "#!/bin/sh\n");
  }
  // A non-empty folder at backup name `n`, so that renaming the bundle there fails.
  void OccupyBackup(int n) {
    ASSERT_EQ(0, mkdir(backup(n).c_str(), 0755));
    WriteFile(backup(n) + "/stale", std::to_string(n));
  }
  // A copy of the bundle at `path`: complete ("good"), half-extracted with its interface executable
  // ("partial"), without it ("no ui"), or the empty first-installation marker.
  void MakeCopy(const std::string& path, int kind) {
    static const char* const markers[] = {nullptr, "good", "partial", "no ui", nullptr};
    if (kind == 0) return;
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path + (kind == 4 ? "" : "/Contents/MacOS"))));
    if (kind == 4) return;
    WriteFile(path + "/old-marker", markers[kind]);
    if (kind != 3) WriteFile(path + "/Contents/MacOS/corvane-ui", "#!/bin/sh\n");
  }
  // The names in ~/.Corvane of copies set aside for removal.
  std::vector<std::string> SetAside() const {
    std::vector<std::string> names;
    for (const QString& name :
         QDir(QString::fromStdString(corvane())).entryList(QDir::AllEntries | QDir::Hidden))
      if (name.startsWith("Corvane.app_trash.")) names.push_back(corvane() + "/" + name.toStdString());
    return names;
  }
  int SetAsideCount() const { return static_cast<int>(SetAside().size()); }
  void WritePidFile(const std::string& folder, const std::string& content) {
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    WriteFile(folder + "/ui.pid", content);
  }
  int Count(int sig) const {
    int n = 0;
    for (const Signal& s : signals_) n += s.sig == sig;
    return n;
  }

  std::vector<Signal> signals_;
  std::vector<launch_services::Request> requests_;

 private:
  QByteArray old_home_;
};

TEST_F(ServiceTest, ConstructionAndBackupNames) {
  MacService service;
  EXPECT_EQ(10000, service.timeout);
  EXPECT_STREQ(app().c_str(), service.app_path.c_str());
  EXPECT_EQ(QString::fromStdString(home()), Service::GetUserInstallPath());
  EXPECT_STREQ("/x/A.app_tmp", GetAppBackupDir("/x/A.app", 0).c_str());
  EXPECT_STREQ("/x/A.app_tmp1", GetAppBackupDir("/x/A.app", 1).c_str());
  EXPECT_STREQ("/x/A.app_tmp9", GetAppBackupDir("/x/A.app", 9).c_str());
}

TEST_F(ServiceTest, VersionsAreReadAsText) {
  MacService service;
  service.PreUpgrade();
  EXPECT_TRUE(Logged("source does not exist"));
  EXPECT_TRUE(service.source_version.build_version.empty());

  ShipBuild("0012");
  Install("119");
  WriteFile(app() + "/Contents/Resources/INFO", "build_version=5\n[Version]\nmajor_version=2\n");
  service.PreUpgrade();
  EXPECT_STREQ("0012", service.target_version.build_version.c_str());
  EXPECT_STREQ("3", service.target_version.icon_overlay_version.c_str());
  EXPECT_STREQ("2", service.source_version.major_version.c_str());
  EXPECT_STREQ("", service.source_version.build_version.c_str());  // before the section: not found
  EXPECT_TRUE(Logged("target_version = (1, 0, 0012, 3)"));
  EXPECT_TRUE(Logged("source_version = (2, , , )"));
  EXPECT_TRUE(Logged("] cloud-service.cpp("));
  EXPECT_TRUE(Logged("] mac/mac-service.cpp("));
}

TEST_F(ServiceTest, UpgradeDecision) {
  struct Case {
    const char* target;
    const char* source;  // nullptr: no private bundle
    bool ui;
    bool upgrade;
    // A backup name left by an unfinished upgrade: upgrade again, but never to an older build.
    bool leftover = false;
  } const cases[] = {
      {"120", "119", true, true},
      {"120", "120", true, false},
      {"120", "120", false, true},
      {"119", "120", true, false},
      {"", "", true, false},
      {"abc", nullptr, true, false},
      {"abc", nullptr, false, true},
      {"1", "", true, true},
      {"7x", "7", true, false},
      {"120", "120", true, true, true},
      {"119", "120", true, false, true},
      {"119", "120", false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.target) + " vs " + (c.source ? c.source : "none") + (c.ui ? " ui" : " no ui"));
    QDir(QString::fromStdString(corvane())).removeRecursively();
    ShipBuild(c.target);
    if (c.source) Install(c.source, c.ui);
    if (!c.source && c.ui) {
      ASSERT_TRUE(QDir().mkpath(QString::fromStdString(app() + "/Contents/MacOS")));
      WriteFile(ui(), "");
    }
    if (c.leftover) OccupyBackup(4);
    MacService service;
    service.PreUpgrade();
    EXPECT_EQ(c.upgrade, service.IsNeedUpgrade());
    testsupport::RemoveTree(backup(4));
  }
  EXPECT_TRUE(Logged("source version = 119, target version = 120"));
  EXPECT_TRUE(
      Logged("backup '" + backup(4) + "' left by an unfinished upgrade, but build 119 is older than 120"));
}

TEST_F(ServiceTest, ALeftoverBackupMeansAnUnfinishedUpgrade) {
  ShipBuild("120");
  Install("120");
  {
    MacService service;
    service.PreUpgrade();
    EXPECT_FALSE(service.IsNeedUpgrade());
  }
  for (int n : {0, 3, 9}) {
    SCOPED_TRACE(n);
    OccupyBackup(n);
    MacService service;
    service.PreUpgrade();
    EXPECT_TRUE(service.IsNeedUpgrade());
    EXPECT_TRUE(Logged("backup '" + backup(n) + "' left by an unfinished upgrade, upgrading again"));
    QDir(QString::fromStdString(backup(n))).removeRecursively();
  }
  // The next run extracts afresh and removes every backup name.
  OccupyBackup(2);
  OccupyBackup(7);
  MakePackage("120");
  MacService service;
  EXPECT_EQ(0, service.HandlePackageUpgrade());
  for (int n = 0; n < 10; ++n) EXPECT_FALSE(Exists(backup(n))) << n;
  EXPECT_FALSE(Exists(app() + "/old-marker"));
}

TEST_F(ServiceTest, FirstInstallationWithProgress) {
  MakePackage("120");
  ASSERT_EQ(0, mkdir(backup(0).c_str(), 0755));  // a leftover, removed after success
  QSignalSpy progress(Notify_Adapter::GetInstance(), &Notify_Adapter::sigUpdateProgress);
  MacService service;
  EXPECT_EQ(0, service.HandlePackageUpgrade());
  EXPECT_EQ(Info("120"), ReadFile(app() + "/Contents/Resources/INFO"));
  EXPECT_TRUE(service.PerUserBinPathExist());
  EXPECT_FALSE(Exists(backup(0)));
  ASSERT_EQ(3, progress.count());
  for (int n = 1; n <= 3; ++n) {
    EXPECT_EQ(3, progress.at(n - 1).at(0).toInt());
    EXPECT_EQ(n, progress.at(n - 1).at(1).toInt());
  }
  EXPECT_TRUE(Logged("extract package: '" + package() + "' -> '" + app() + "'"));
  EXPECT_TRUE(Logged("user installation is ready, removing backup app"));
}

TEST_F(ServiceTest, UpgradePastAStaleBackupRemovesBoth) {
  Install("119");
  OccupyBackup(0);
  MakePackage("120");
  MacService service;
  EXPECT_EQ(0, service.HandlePackageUpgrade());
  EXPECT_TRUE(Logged("failed to backup app from '" + app() + "' -> '" + backup(0) + "'"));
  EXPECT_FALSE(Exists(backup(0)));
  EXPECT_FALSE(Exists(backup(1)));
  EXPECT_FALSE(Exists(app() + "/old-marker"));
  EXPECT_EQ(Info("120"), ReadFile(app() + "/Contents/Resources/INFO"));
  EXPECT_TRUE(Logged("pid file '" + corvane() + "/ui.pid' does not exist, no need to terminate"));
}

// A failed extraction puts back the oldest backup holding the interface executable: the last complete
// installation, never a retry's backup of a half-extracted copy. The states are those a run killed
// mid-upgrade or mid-rollback leaves; each ends with the good copy live and no backup name left.
TEST_F(ServiceTest, FailedExtractionRollsBackTheLastCompleteInstallation) {
  enum Copy { kNone, kGood, kPartial, kNoUi, kMarker };
  struct Case {
    const char* state;
    Copy live;
    std::vector<Copy> backups;  // at backup names 0, 1, ...
    const char* live_after;     // old-marker of the live copy afterwards, nullptr: not restored
    std::vector<int> kept;      // backup names left afterwards
  } const cases[] = {
      {"stale names without the interface", kGood, {kNoUi, kNoUi, kNoUi}, "good", {}},
      {"killed mid-extraction", kPartial, {kGood}, "good", {}},
      {"retried twice, partial copies in later names", kPartial, {kGood, kPartial, kPartial}, "good", {}},
      {"killed after the partial copy went aside", kNone, {kGood, kPartial}, "good", {}},
      {"killed after the restore", kGood, {kNone, kPartial}, "good", {}},
      {"first installation killed", kNone, {kMarker}, nullptr, {0}},
      {"no complete copy anywhere", kNoUi, {kNoUi}, nullptr, {0, 1}},
  };
  WriteFile(package(), "not an archive at all");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    for (int n = -1; n < 10; ++n) testsupport::RemoveTree(n < 0 ? app() : backup(n));
    MakeCopy(app(), c.live);
    for (size_t n = 0; n < c.backups.size(); ++n) MakeCopy(backup(static_cast<int>(n)), c.backups[n]);
    MacService service;
    EXPECT_EQ(-1, service.HandlePackageUpgrade());
    if (c.live_after) {
      EXPECT_TRUE(Logged("Failed to extract package, rollback to old installation"));
      EXPECT_EQ(c.live_after, ReadFile(app() + "/old-marker"));
      EXPECT_TRUE(Exists(ui()));
    } else {
      EXPECT_TRUE(Logged("Failed to extract package, and no old installation to rollback"));
    }
    for (int n = 0; n < 10; ++n)
      EXPECT_EQ(std::count(c.kept.begin(), c.kept.end(), n) == 1, Exists(backup(n))) << n;
    EXPECT_EQ(0, SetAsideCount());
  }
}

// A copy left read-only (by an earlier build, or files of another user): the upgrade sets it aside
// and warns, later starts do not upgrade again, and each start tries again to remove it.
TEST_F(ServiceTest, ABackupThatCannotBeRemovedStaysAsideWithoutLockingTheUserIn) {
  if (testsupport::IsRoot())
    GTEST_SKIP() << "root removes read-only folders; run as an ordinary account (corvane-test) to see a "
                    "copy that cannot be removed set aside without making every start upgrade again";
  const auto read_only = [](const std::string& copy, mode_t mode) {
    for (const char* dir : {"/Contents/MacOS", "/Contents/Resources", "/Contents", ""})
      ASSERT_EQ(0, chmod((copy + dir).c_str(), mode));
  };
  ShipBuild("120");
  Install("119");
  read_only(app(), 0555);
  OccupyBackup(0);  // removable: goes with everything else that can

  // A failed extraction puts the read-only copy back and removes the rest.
  WriteFile(package(), "not an archive at all");
  MacService service;
  EXPECT_EQ(-1, service.HandlePackageUpgrade());
  EXPECT_EQ("old 119", ReadFile(app() + "/old-marker"));
  EXPECT_EQ(0, SetAsideCount());

  // A successful one cannot remove it: it stays aside, named in a warning, and is no backup.
  MakePackage("120");
  EXPECT_EQ(0, service.HandlePackageUpgrade());
  EXPECT_EQ(Info("120"), ReadFile(app() + "/Contents/Resources/INFO"));
  for (int n = 0; n < 10; ++n) EXPECT_FALSE(Exists(backup(n))) << n;
  const std::vector<std::string> aside = SetAside();
  ASSERT_EQ(1u, aside.size());
  EXPECT_EQ("old 119", ReadFile(aside[0] + "/old-marker"));
  EXPECT_TRUE(Logged("[WARNING]"));
  EXPECT_TRUE(Logged("cannot remove '" + aside[0] + "', set aside for removal"));

  // Later starts do not upgrade again, and remove it as soon as they can.
  MacService later;
  later.PreUpgrade();
  EXPECT_FALSE(later.IsNeedUpgrade());
  later.RemoveAgedFolders();
  EXPECT_EQ(1, SetAsideCount());
  read_only(aside[0], 0755);
  later.RemoveAgedFolders();
  EXPECT_EQ(0, SetAsideCount());
}

TEST_F(ServiceTest, TenFailedBackupsLeaveTheBundleUntouched) {
  Install("119");
  for (int n = 0; n < 10; ++n) OccupyBackup(n);
  MakePackage("120");
  MacService service;
  EXPECT_EQ(-1, service.HandlePackageUpgrade());
  EXPECT_TRUE(
      Logged("failed to backup app from '" + app() + "' -> '" + backup(9) + "' at max retries, exiting"));
  EXPECT_EQ("old 119", ReadFile(app() + "/old-marker"));
  EXPECT_EQ(Info("119"), ReadFile(app() + "/Contents/Resources/INFO"));
}

TEST_F(ServiceTest, CorruptEmptyAndMissingPackages) {
  // Without an old bundle nothing can be rolled back.
  MacService service;
  EXPECT_EQ(-1, service.HandlePackageUpgrade());
  EXPECT_TRUE(Logged("Failed to extract package, and no old installation to rollback"));

  // With one, every failure puts it back.
  for (int kind = 0; kind < 3; ++kind) {
    SCOPED_TRACE(kind);
    QDir(QString::fromStdString(app())).removeRecursively();
    Install("119");
    unlink(package().c_str());
    if (kind == 0) {
      ASSERT_EQ("", testpackage::WriteArchive(package(), {}));
    }
    if (kind == 1) {
      MakePackage("120");
      std::string whole = ReadFile(package());
      WriteFile(package(), whole.substr(0, whole.size() - 40));
    }
    EXPECT_EQ(-1, service.HandlePackageUpgrade());
    EXPECT_EQ("old 119", ReadFile(app() + "/old-marker"));
    EXPECT_FALSE(Exists(backup(0)));
  }
}

TEST_F(ServiceTest, MigrationMovesTheDataAndRemovesThePredecessor) {
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(skyhold() + "/data/sub")));
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(skyhold() + "/app")));
  WriteFile(skyhold() + "/data/sub/db", "user data");
  WriteFile(skyhold() + "/other", "x");
  MakePackage("120");
  MacService service;
  EXPECT_EQ(0, service.HandlePackageUpgrade());
  EXPECT_EQ("user data", ReadFile(corvane() + "/data/sub/db"));
  EXPECT_FALSE(Exists(skyhold()));
  EXPECT_TRUE(Logged("pid file '" + skyhold() + "/ui.pid' does not exist, no need to terminate"));
}

TEST_F(ServiceTest, MigrationWithoutDataRemovesThePredecessor) {
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(skyhold() + "/app")));
  MacService service;
  service.MigrateService();
  EXPECT_FALSE(Exists(skyhold()));
  EXPECT_FALSE(Exists(corvane() + "/data"));
}

TEST_F(ServiceTest, MigrationKeepsDataThatCannotBeMoved) {
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(skyhold() + "/data")));
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(corvane() + "/data")));
  WriteFile(skyhold() + "/data/old", "old data");
  WriteFile(corvane() + "/data/new", "new data");
  MacService service;
  service.MigrateService();
  EXPECT_TRUE(Logged("Failed to move data to Corvane folder"));
  EXPECT_EQ("old data", ReadFile(skyhold() + "/data/old"));
  EXPECT_EQ("new data", ReadFile(corvane() + "/data/new"));
}

TEST_F(ServiceTest, RemoveAgedFoldersLogsEveryRun) {
  MacService service;
  service.RemoveAgedFolders();
  EXPECT_TRUE(Logged("removing aged app folder " + skyhold() + "/app"));
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(skyhold() + "/app/x")));
  WriteFile(skyhold() + "/keep", "k");
  service.RemoveAgedFolders();
  EXPECT_FALSE(Exists(skyhold() + "/app"));
  EXPECT_TRUE(Exists(skyhold() + "/keep"));
}

TEST_F(ServiceTest, StoppingAProcessThatIsAlreadyGone) {
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  ASSERT_EQ(pid, waitpid(pid, nullptr, 0));
  WritePidFile(corvane(), "pid=" + std::to_string(pid) + "\n");
  MacService service;
  service.StopService();
  ASSERT_EQ(1u, signals_.size());
  EXPECT_EQ(SIGTERM, signals_[0].sig);
  EXPECT_EQ(ESRCH, signals_[0].error);
}

TEST_F(ServiceTest, StoppingAProcessThatExitsAfterTerm) {
  Child child(Child::kExitsTwoSecondsAfterTerm, corvane());
  WritePidFile(corvane(), "pid=" + std::to_string(child.pid()) + "\n");
  MacService service;
  service.StopService();
  int status = child.Join();
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(1, Count(SIGTERM));
  EXPECT_GE(Count(0), 2);
  EXPECT_LT(Count(0), 15);
  EXPECT_EQ(0, Count(SIGKILL));
}

TEST_F(ServiceTest, StoppingAProcessThatIgnoresTerm) {
  Child child(Child::kIgnoresTerm, skyhold() + "/app");
  WritePidFile(skyhold(), "# the predecessor's interface\npid = " + std::to_string(child.pid()) + "\n");
  MacService service;
  service.StopServiceByPath(QString::fromStdString(skyhold()));
  int status = child.Join();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(SIGKILL, WTERMSIG(status));
  EXPECT_EQ(1, Count(SIGTERM));
  EXPECT_EQ(15, Count(0));
  EXPECT_EQ(1, Count(SIGKILL));
}

TEST_F(ServiceTest, BadPidFilesSignalNothing) {
  Child bystander(Child::kPlain);
  const std::vector<std::string> files = {"pid=\n",
                                          "pid=''\n",
                                          "pid=0\n",
                                          "pid=-1\n",
                                          "pid=abc\n",
                                          "other=1\n",
                                          "pid=99999999999999\n",
                                          "pid=" + std::to_string(bystander.pid()) + " x\n",
                                          "pid=" + std::to_string(getpid()) + "\n"};
  // Seen and stopped before it is sent: a broken check must not reach the account's processes.
  std::vector<std::pair<pid_t, int>> attempts;
  SetSignalGate([&attempts](pid_t pid, int sig) {
    attempts.emplace_back(pid, sig);
    return false;
  });
  MacService service;
  service.StopService();  // no file at all
  EXPECT_TRUE(Logged("does not exist, no need to terminate"));
  for (const std::string& content : files) {
    SCOPED_TRACE(content);
    WritePidFile(corvane(), content);
    service.StopService();
    EXPECT_TRUE(attempts.empty()) << attempts.front().first << " got signal " << attempts.front().second;
    attempts.clear();
  }
  EXPECT_TRUE(Logged("Failed to read pid file '" + corvane() + "/ui.pid', not exist ?"));
  EXPECT_TRUE(bystander.Alive());
}

// The interface is known by where its program lies, whatever the clocks say: one running from inside
// the folder is stopped even when its pid file looks an hour older than the process (a file server's
// clock, a step of the wall clock); another program is never signalled, however the times fall.
TEST_F(ServiceTest, OnlyAProcessRunningFromInsideTheFolderIsStopped) {
  const struct {
    bool inside;
    int file_age_s;  // how long before now the pid file was last written
  } cases[] = {{true, 3600}, {true, 0}, {false, 0}, {false, -3600}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.inside) + " " + std::to_string(c.file_age_s));
    signals_.clear();
    Child child(Child::kPlain, c.inside ? app() + "/Contents/MacOS" : std::string());
    WritePidFile(corvane(), "pid=" + std::to_string(child.pid()) + "\n");
    struct timeval times[2];
    gettimeofday(&times[0], nullptr);
    times[0].tv_sec -= c.file_age_s;
    times[1] = times[0];
    ASSERT_EQ(0, utimes((corvane() + "/ui.pid").c_str(), times));
    MacService service;
    service.StopService();
    EXPECT_EQ(c.inside ? 1 : 0, Count(SIGTERM));
    EXPECT_EQ(c.inside, !child.Alive());
    if (!c.inside) {
      EXPECT_TRUE(Logged("process " + std::to_string(child.pid()) + " runs '"));
      EXPECT_TRUE(Logged("not a program inside '" + corvane() + "', not signalling it"));
    }
  }
}

// Where the system cannot tell the program, the clocks decide with minutes of slack.
TEST_F(ServiceTest, WhoIsTheInterface) {
  const long long kMinute = 60LL * 1000000000LL, written = 1000 * kMinute;
  const std::vector<std::string> folders = {"/home/u/.Corvane", "/Users/u/.Corvane/"};
  const struct {
    bool executable_known;
    std::string executable;
    bool start_known;
    long long started;
    bool interface;
  } cases[] = {
      {true, "/home/u/.Corvane/Corvane.app/Contents/MacOS/corvane-ui", true, written + 60 * kMinute, true},
      {true, "/Users/u/.Corvane/Corvane.app_tmp/Contents/MacOS/corvane-ui", false, 0, true},
      {true, "/usr/bin/vim", true, written - kMinute, false},
      {true, "/home/u/.Corvane2/corvane-ui", true, written, false},
      {true, "/home/u/.Corvane", true, written, false},
      {false, "", true, written + 9 * kMinute, true},
      {false, "", true, written - 60 * kMinute, true},
      {false, "", true, written + 11 * kMinute, false},
      {false, "", false, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.executable + " " + std::to_string(c.started - written));
    PidFileProcess p;
    p.folders = folders;
    p.executable_known = c.executable_known;
    p.executable = c.executable;
    p.start_known = c.start_known;
    p.started_ns = c.started;
    p.written_ns = written;
    EXPECT_EQ(c.interface, IsInterfaceProcess(p));
  }
}

TEST_F(ServiceTest, StartTimeAndProgramOfAProcess) {
  struct timespec before, started, after;
  clock_gettime(CLOCK_REALTIME, &before);
  Child child(Child::kPlain);
  clock_gettime(CLOCK_REALTIME, &after);
  ASSERT_EQ(0, GetProcessStartTime(child.pid(), &started));
  EXPECT_GE(started.tv_sec, before.tv_sec - 1);
  EXPECT_LE(started.tv_sec, after.tv_sec + 1);
  EXPECT_EQ(-1, GetProcessStartTime(0, &started));
  EXPECT_EQ(EINVAL, errno);

  std::string program;
  ASSERT_EQ(0, GetProcessExecutablePath(child.pid(), &program));
  const std::string self = testsupport::ThisProgram();
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(self, program);
  // A program removed since it started still tells where it ran from.
  Child inside(Child::kPlain, corvane());
  ASSERT_EQ(0, GetProcessExecutablePath(inside.pid(), &program));
  EXPECT_EQ(corvane() + "/.running-ui-", program.substr(0, program.rfind('-') + 1));
  EXPECT_FALSE(Exists(program));
  EXPECT_EQ(-1, GetProcessExecutablePath(0, &program));
  EXPECT_EQ(EINVAL, errno);
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_EQ(gone, waitpid(gone, nullptr, 0));
  EXPECT_EQ(-1, GetProcessExecutablePath(gone, &program));
  EXPECT_EQ(ESRCH, errno);
}

TEST_F(ServiceTest, LaunchStartsTheInterfaceInItsOwnFolder) {
  MacService service;
  EXPECT_EQ(-1, service.LaunchPerUserBin());  // nothing installed yet
  service.PostUpgrade();
  EXPECT_TRUE(Logged("Failed to launch Skyhold UI"));

  MakePackage("120");
  ASSERT_EQ(0, service.HandlePackageUpgrade());
  requests_.clear();
  EXPECT_EQ(0, service.LaunchPerUserBin());
  ASSERT_EQ(2u, requests_.size());
  EXPECT_EQ(launch_services::Request::kUnregister, requests_[0].kind);
  EXPECT_EQ(QString::fromStdString(app()), requests_[0].bundle);
  EXPECT_EQ(launch_services::Request::kOpenNewInstance, requests_[1].kind);
  EXPECT_EQ(QString::fromStdString(ui()), requests_[1].program);
  EXPECT_EQ(QString::fromStdString(app() + "/Contents/MacOS"), requests_[1].working_directory);
  // The started interface runs in its own folder and leads a session of its own.
  const std::string started = app() + "/Contents/started";
  for (int i = 0; i < 500 && !Exists(started); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::istringstream line(ReadFile(started));
  std::string folder;
  pid_t session = 0, pid = -1;
  line >> folder >> session >> pid;
  EXPECT_EQ(app() + "/Contents/MacOS", folder);
  EXPECT_EQ(pid, session);
  EXPECT_NE(getsid(0), session);

  // An interface that cannot be executed is reported as not started.
  ASSERT_EQ(0, chmod(ui().c_str(), 0644));
  EXPECT_EQ(-1, service.LaunchPerUserBin());
}

TEST_F(ServiceTest, CopyPath) {
  MacService service;
  EXPECT_EQ(-1, service.FSCopyPath(at("missing").c_str(), at("dst").c_str()));
  EXPECT_TRUE(Logged("FSCopyPath: source path '" + at("missing") + "' does not exist"));

  WriteFile(at("file"), "bytes");
  EXPECT_EQ(0, service.FSCopyPath(at("file").c_str(), at("file-copy").c_str()));
  EXPECT_EQ("bytes", ReadFile(at("file-copy")));

  ASSERT_EQ(0, mkdir(at("empty").c_str(), 0755));
  EXPECT_EQ(0, service.FSCopyPath(at("empty").c_str(), at("empty-copy").c_str()));
  EXPECT_TRUE(QDir(QString::fromStdString(at("empty-copy"))).exists());

  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(at("tree/a/b"))));
  WriteFile(at("tree/top"), "1");
  WriteFile(at("tree/a/b/deep"), "2");
  EXPECT_EQ(0, service.FSCopyPath(at("tree").c_str(), at("tree-copy").c_str()));
  EXPECT_EQ("1", ReadFile(at("tree-copy/top")));
  EXPECT_EQ("2", ReadFile(at("tree-copy/a/b/deep")));

  if (!testsupport::IsRoot()) {
    ASSERT_EQ(0, mkdir(at("closed").c_str(), 0));
    EXPECT_EQ(0, service.FSCopyPath(at("closed").c_str(), at("closed-copy").c_str()));
    EXPECT_TRUE(Logged("FSCopyPath: failed to create handle  for src '" + at("closed") + "' failed"));
    EXPECT_TRUE(QDir(QString::fromStdString(at("closed-copy"))).exists());
    chmod(at("closed").c_str(), 0755);
  }
}

}  // namespace
