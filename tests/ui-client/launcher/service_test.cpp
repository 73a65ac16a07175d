// The upgrade service on a temporary home folder with the path registry filled as start-up fills it:
// the upgrade decision, replacing the private bundle with backup and rollback, migration of the
// predecessor, stopping real child processes through ui.pid, launching, and the tree copy; and runs
// ended at every change they make on disk (StepTest).
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#endif

#include <QCryptographicHash>
#include <QDir>
#include <QSettings>
#include <QSignalSpy>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cloud-service.h"
#include "file-op.h"
#include "launch-services.h"
#include "log.h"
#include "mac/mac-service.h"
#include "other_volume.h"
#include "package-digest.h"
#include "platform.h"
#include "process-control.h"
#include "progress.h"
#include "running_ui.h"
#include "strtable.h"
#include "temp_dir.h"
#include "test_package.h"
#include "user-paths.h"
#include "version-file.h"
#include "whole_run.h"

namespace {

using testpackage::Dir;
using testpackage::File;
using testsupport::ReadFile;
using testsupport::WriteFile;

// `path` with every link resolved, as the system reports the paths of running programs (a TMPDIR
// reached through a link, as on macOS, makes the two differ).
std::string Real(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

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
  enum Behaviour { kExitsTwoSecondsAfterTerm, kIgnoresTerm, kPlain, kSleepsOnTerm };

  explicit Child(Behaviour behaviour, const std::string& run_from = "", const std::string& name = "") {
    if (!run_from.empty()) {
      pid_ = testsupport::StartRunningUi(run_from, "", behaviour == kExitsTwoSecondsAfterTerm ? 2000 : 0,
                                         behaviour == kIgnoresTerm, behaviour == kSleepsOnTerm, name);
      if (pid_ > 0) reaper_ = std::thread([this] { Reap(); });
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
    reaper_ = std::thread([this] { Reap(); });
  }
  ~Child() {
    if (pid_ > 0 && reaper_.joinable()) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!reaped_) kill(pid_, SIGKILL);  // a reaped number may be another process's by now
      }
      reaper_.join();
    }
  }
  pid_t pid() const { return pid_; }
  // Waits for the end and returns the wait status. One still running after `limit` (a stop that never
  // signalled it) fails the test and is killed, so that neither the suite nor the child hangs on.
  int Join(std::chrono::seconds limit = std::chrono::seconds(30)) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!ended_.wait_for(lock, limit, [this] { return reaped_; })) {
        ADD_FAILURE() << "process " << pid_ << " still runs " << limit.count() << " s later; killed";
        kill(pid_, SIGKILL);
      }
    }
    reaper_.join();
    return status_;
  }
  bool Alive() const { return kill(pid_, 0) == 0; }

 private:
  void Reap() {
    int status = 0;
    waitpid(pid_, &status, 0);
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = status;
    reaped_ = true;
    ended_.notify_all();
  }

  pid_t pid_ = -1;
  int status_ = 0;
  bool reaped_ = false;
  std::mutex mutex_;
  std::condition_variable ended_;
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
      std::lock_guard<std::mutex> lock(signals_mutex_);  // stops may run side by side
      signals_.push_back(Signal{pid, sig, result, error});
    });
    launch_services::SetObserver([this](const launch_services::Request& r) { requests_.push_back(r); });
    testpackage::AllowLaunchesOnlyBelow(tmp());
  }
  void TearDown() override {
    SetSignalGate(nullptr);
    SetSignalObserver(nullptr);
    launch_services::SetObserver(nullptr);
    launch_services::SetGate(nullptr);
    launch_services::SetOpenerForTests(QString());
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
  // Whether `text` was logged after the log had `mark` bytes: a row of a table sees only its own lines.
  bool LoggedSince(size_t mark, const std::string& text) const {
    return Log().find(text, mark) != std::string::npos;
  }
  std::string record() const { return app() + ".upgrade"; }

  // An interface that writes "<working folder> <session id> <pid>" next to its own folder (macOS has
  // no /proc: there its process group, which a session leader leads too).
  static constexpr const char* kStartedUi =
#ifdef __APPLE__
      "#!/bin/sh\necho \"$(pwd) $(ps -o pgid= -p $$) $$\" > ../started.new && mv ../started.new ../started\n";
#else
      "#!/bin/sh\necho \"$(pwd) $(cut -d' ' -f6 /proc/$$/stat) $$\" > ../started.new && mv ../started.new "
      "../started\n";
#endif
  // The package of build `build`: a bundle with its INFO and interface executable (3 entries more
  // than the folders).
  void MakePackage(const std::string& build) {
    ASSERT_EQ("", testpackage::WriteArchive(package(),
                                            {Dir("Contents/"), File("Contents/Resources/INFO", Info(build)),
                                             File("Contents/MacOS/corvane-ui", kStartedUi, 0755)}));
  }
  void ShipBuild(const std::string& build) {
    WriteInfo(resources() + "/INFO", build);
  }
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
  int SetAsideCount() const {
    return static_cast<int>(SetAside().size());
  }
  void WritePidFile(const std::string& folder, const std::string& content) {
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    WriteFile(folder + "/ui.pid", content);
  }
  // Makes the pid file in `folder` look written `seconds` ago.
  void AgePidFile(const std::string& folder, int seconds) {
    struct timeval times[2];
    gettimeofday(&times[0], nullptr);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    ASSERT_EQ(0, utimes((folder + "/ui.pid").c_str(), times));
  }
  // Signals `sig` sent, to `pid` or to any process.
  int Count(int sig, pid_t pid = 0) const {
    int n = 0;
    for (const Signal& s : signals_) n += s.sig == sig && (pid == 0 || s.pid == pid);
    return n;
  }

  std::mutex signals_mutex_;
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

// The INFO file is read as QSettings reads it, without QSettings opening it: every form below gives
// what QSettings gives for the same file.
TEST_F(ServiceTest, VersionFilesReadAsQSettingsReadsThem) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"[Version]\nbuild_version=120\n", "120"},
      {"  [ Version ]  \r\n  build_version  =  120  \r\nmajor_version=\t1 \n", "120"},
      {"[Version]\nbuild_version=\"  12 0 \"\nminor_version=a\\tb\\x41\\101\\n\n", "  12 0 "},
      {"[Version]\nbuild_version=1, 2\nmajor_version=\"1, 2\"\nminor_version=x,\n", ""},
      {"[Version]\n; comment\n  ;another\nbuild_version=7 ; trailing\nno equals here\n", "7"},
      {"[Version]\nbuild_version=1\n[Other]\nbuild_version=2\n[Version]\nbuild_version=3\nbuild_version=4\n",
       "4"},
      {"build_version=5\n[General]\nbuild_version=6\n[version]\nbuild_version=7\n", ""},
      {"[Version]\nbuild_version=@@at\nmajor_version=@ByteArray(99)\nminor_version=@Invalid()\n"
       "icon_overlay_version=@Rect(1 2 3 4)\n",
       "@at"},
      {"[Version]\nbuild_%76ersion=8\nmajor%5Fversion=9\nminor\\version=10\n", "8"},
      {"[%56ersion]\nbuild_version=11\n", "11"},
      {"[Version]\nbuild_version=caf\xc3\xa9\n", "caf\u00c3\u00a9"},
      {"\xef\xbb\xbf[Version]\nbuild_version=caf\xc3\xa9\n", "caf\u00e9"},
      {"[Version]\nbuild_version=\"multi\nline\"\nmajor_version=a\\\nb\n", "multi\nline"},
      {"[Version]\nbuild_version=12\\", "12"},
      {"[Version\nbuild_version=13\n", "13"},
      {"[Version]]x\nbuild_version=14\n", "14"},
      {"[Version]\n=15\nbuild_version==16\n", "=16"},
      {"[Version]\nmajor_version=a\\qb\\x\nminor_version=x\\101  \nicon_overlay_version=\\x41\n"
       "build_version=b\\t  \n",
       "b\t"},
      {"", ""},
      // Only the keys written inside [Version] are the group's, and \v or \f is no blank.
      {"Version/major_version=5\n[Version]\nbuild_version=7\n[General]\nVersion\\build_version=\n", "7"},
      {"\v[Version]\nbuild_version=1\n[Version]\nmajor_version=2\n\fminor_version=3\n", ""},
      {"[Version]\nbuild_version=@String(121)\nmajor_version=@Rect(1 2)\nminor_version=@Invalid()x)\n",
       "121"},
      {"[Version]\nbuild_versio%U0x6e=15\nmajor_versio%U 06e=16\nminor_versio%+6e=17\n", "15"},
      {"[Version]\nbuild_version=\\x123456789\nmajor_version=\\1234567012345\n", "\u6789"},
  };
  const char* const keys[] = {"major_version", "minor_version", "build_version", "icon_overlay_version"};
  int n = 0;
  for (const auto& [content, build] : files) {
    SCOPED_TRACE(content);
    const std::string path = at("INFO-" + std::to_string(n++));
    WriteFile(path, content);
    QSettings settings(QString::fromStdString(path), QSettings::IniFormat);
    settings.beginGroup("Version");
    QMap<QString, QString> values;
    QString why;
    ASSERT_EQ(version_file::ReadIniFile(QString::fromStdString(path), &values, &why), 0) << why.toStdString();
    for (const char* key : keys) {
      const QString name = QStringLiteral("Version/") + key;
      EXPECT_EQ(values.contains(name), settings.contains(key)) << key;
      EXPECT_EQ(values.value(name).toStdString(), settings.value(key).toString().toStdString()) << key;
    }
    EXPECT_EQ(values.value("Version/build_version").toStdString(), build);
  }
}

// A named pipe or a device where an INFO file or ui.pid belongs is refused at once, with a line
// saying so: opening one would wait for ever while the single-instance lock is held.
TEST_F(ServiceTest, NamedPipesInTheHomeOrTheBundleAreRefusedWithoutWaiting) {
  Install("119");
  ShipBuild("120");
  const std::string source_info = app() + "/Contents/Resources/INFO";
  ASSERT_EQ(0, unlink(source_info.c_str()));
  testsupport::MakeFifo(source_info);
  MacService service;
  EXPECT_TRUE(testsupport::ReturnsWithoutWaitingOn(source_info, [&] { service.PreUpgrade(); }));
  EXPECT_TRUE(Logged("cannot read version file '" + source_info + "': not a regular file")) << Log();
  EXPECT_STREQ("", service.source_version.build_version.c_str());
  EXPECT_STREQ("120", service.target_version.build_version.c_str());

  const std::string pid_file = corvane() + "/ui.pid";
  testsupport::MakeFifo(pid_file);
  EXPECT_TRUE(testsupport::ReturnsWithoutWaitingOn(pid_file, [&] { service.StopService(); }));
  EXPECT_TRUE(Logged("Failed to read pid file '" + pid_file + "', not exist ?")) << Log();
  EXPECT_EQ(0, Count(SIGTERM));

  // A device in the bundle's place of INFO is no version file either.
  const std::string target_info = resources() + "/INFO";
  ASSERT_EQ(0, unlink(target_info.c_str()));
  ASSERT_EQ(0, symlink("/dev/zero", target_info.c_str()));
  MacService other;
  EXPECT_TRUE(testsupport::ReturnsWithoutWaitingOn(source_info, [&] { other.LoadTargetVersion(); }));
  EXPECT_TRUE(Logged("cannot read version file '" + target_info + "': not a regular file")) << Log();
  EXPECT_STREQ("", other.target_version.build_version.c_str());

  // The migration's mark: a pipe there is set aside unopened; a link there is never written through.
  const std::string mark = corvane() + "/.skyhold-migration";
  testsupport::MakeFifo(mark);
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(skyhold() + "/data")));
  EXPECT_TRUE(testsupport::ReturnsWithoutWaitingOn(mark, [&] { MacService().ResumeMigration(); }));
  EXPECT_TRUE(testsupport::ReturnsWithoutWaitingOn(mark, [&] { MacService().MigrateService(); }));
  ASSERT_EQ(0, symlink(at("outside").c_str(), mark.c_str()));
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(skyhold() + "/data")));
  MacService().MigrateService();
  EXPECT_FALSE(Exists(at("outside")));
  EXPECT_FALSE(Exists(mark));
}

// Without HOME the home is the account's, from the password database; never "/".
TEST_F(ServiceTest, WithoutHomeTheAccountsHomeFolderIsUsed) {
  struct passwd* account = getpwuid(getuid());
  ASSERT_NE(account, nullptr);
  for (const char* home : {static_cast<const char*>(nullptr), ""}) {
    if (home == nullptr) {
      qunsetenv("HOME");
    } else {
      qputenv("HOME", home);
    }
    EXPECT_EQ(Service::GetUserInstallPath().toStdString(), QDir::cleanPath(account->pw_dir).toStdString());
  }
  // A relative HOME is no home: the launcher stops instead of unpacking below the working folder.
  qputenv("HOME", "home");
  EXPECT_TRUE(Service::GetUserInstallPath().isEmpty());
}

TEST_F(ServiceTest, UpgradeDecision) {
  struct Case {
    const char* target;
    const char* source;  // nullptr: no private bundle
    bool ui;
    bool upgrade;
    // A backup name left by an unfinished upgrade: upgrade again, but never to an older build.
    bool leftover = false;
    // The upgrade record: an upgrade cut short with its copy of `kept_build` under backup name 0 is
    // finished when the live copy has its INFO (it goes in last). An earlier launcher's record (format
    // 2) says the live copy is unfinished whatever its INFO says: redone, unless the kept copy is
    // newer: then it is live again first. A record whose copy is not there is ignored. After a
    // success, a leftover name is no unfinished upgrade.
    UpgradeRecord::State record = UpgradeRecord::kNone;
    int kept_build = 0;
    bool kept_on_disk = true;
    int format = kUpgradeRecordVersion;
  } const cases[] = {
      {"120", "119", true, true},
      {"120", "120", true, false},
      {"120", "120", false, true},
      {"119", "120", true, false},
      {"", "", true, false},
      {"abc", nullptr, true, true},  // a copy without INFO is not whole
      {"abc", nullptr, false, true},
      {"1", "", true, true},
      {"7x", "7", true, false},
      {"120", "120", true, true, true},
      {"119", "120", true, false, true},
      {"119", "120", false, true, true},
      {"120", "120", true, false, false, UpgradeRecord::kUpgrading, 119},
      {"120", "120", true, true, false, UpgradeRecord::kUpgrading, 119, true, 2},
      {"120", "120", true, false, false, UpgradeRecord::kUpgrading, 121, true, 2},
      {"120", "120", true, false, false, UpgradeRecord::kUpgrading, 119, false},
      {"120", nullptr, false, true, false, UpgradeRecord::kUpgrading, INT_MAX, false},
      {"120", "120", true, false, true, UpgradeRecord::kCleaning},
      {"120", "120", true, false, true, UpgradeRecord::kKept},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.target) + " vs " + (c.source ? c.source : "none") + (c.ui ? " ui" : " no ui") +
                 " record " + std::to_string(c.record) + " format " + std::to_string(c.format));
    QDir(QString::fromStdString(corvane())).removeRecursively();
    ShipBuild(c.target);
    if (c.source) Install(c.source, c.ui);
    if (!c.source && c.ui) {
      ASSERT_TRUE(QDir().mkpath(QString::fromStdString(app() + "/Contents/MacOS")));
      WriteFile(ui(), "");
    }
    if (c.leftover) OccupyBackup(4);
    if (c.record != UpgradeRecord::kNone) {
      UpgradeRecord record;
      record.state = c.record;
      record.good_exists = c.kept_build != 0;
      record.good_backup = 0;
      record.good_build = c.kept_build;
      ASSERT_TRUE(QDir().mkpath(QString::fromStdString(corvane())));
      if (c.kept_build != 0 && c.kept_on_disk) {
        MakeCopy(backup(0), 1);
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(backup(0) + "/Contents/Resources")));
        WriteInfo(backup(0) + "/Contents/Resources/INFO", std::to_string(c.kept_build));
      }
      ASSERT_EQ(0, WriteUpgradeRecord(app(), record));
      const std::string text = ReadFile(this->record());
      WriteFile(this->record(), "version=" + std::to_string(c.format) + text.substr(text.find('\n')));
    }
    MacService service;
    service.PreUpgrade();
    EXPECT_EQ(c.upgrade, service.IsNeedUpgrade());
    // The kept copy stays for a rollback only while an upgrade is to come.
    if (c.kept_build != 0 && c.kept_on_disk) {
      EXPECT_EQ(c.upgrade, Exists(backup(0)));
    }
    // What the decision saw is what is live.
    if (c.kept_on_disk && c.kept_build > atoi(c.target)) {
      EXPECT_EQ(std::to_string(c.kept_build), service.source_version.build_version.c_str());
    }
    testsupport::RemoveTree(backup(0));
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

// A failed extraction puts back the copy that was live when the upgrade began, known by the upgrade
// record rather than judged by what it holds: backups an earlier launcher left (older builds, or
// copies without the interface) stay as they are, a link the user made is put back as the link, and
// a first installation that fails leaves nothing taken as installed.
TEST_F(ServiceTest, FailedExtractionPutsBackTheCopyThatWasLive) {
  struct Case {
    const char* state;
    const char* live;                  // marker of the live copy, "link" a link to one, "" none
    std::vector<const char*> backups;  // markers of copies at backup names 0, 1, ...; "" none
  } const cases[] = {
      {"earlier launcher's backups of builds 100, 105, 110", "119", {"100", "105", "110"}},
      {"stale names without the interface", "119", {"no ui", "", "no ui"}},
      {"a link to a copy elsewhere", "link", {}},
      {"first installation", "", {}},
  };
  WriteFile(package(), "not an archive at all");
  ShipBuild("120");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    const size_t mark = Log().size();
    testsupport::RemoveTree(corvane());
    testsupport::RemoveTree(at("elsewhere"));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(corvane())));
    const auto make = [this](const std::string& path, const std::string& marker) {
      ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path + "/Contents/MacOS")));
      ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path + "/Contents/Resources")));
      WriteInfo(path + "/Contents/Resources/INFO", "119");
      WriteFile(path + "/old-marker", marker);
      if (marker != "no ui") WriteFile(path + "/Contents/MacOS/corvane-ui", "#!/bin/sh\n");
    };
    const std::string live = c.live;
    if (live == "link") {
      make(at("elsewhere"), "elsewhere");
      ASSERT_EQ(0, symlink(at("elsewhere").c_str(), app().c_str()));
    } else if (!live.empty()) {
      make(app(), live);
    }
    for (size_t n = 0; n < c.backups.size(); ++n)
      if (*c.backups[n] != '\0') make(backup(static_cast<int>(n)), c.backups[n]);
    const auto backups_before = testsupport::Snapshot(corvane(), true);

    MacService service;
    service.PreUpgrade();
    EXPECT_EQ(-1, service.HandlePackageUpgrade());
    if (live.empty()) {
      EXPECT_TRUE(LoggedSince(mark, "Failed to extract package, and no old installation to rollback"));
      // What the extraction left is never taken for an installation.
      MacService next;
      next.PreUpgrade();
      EXPECT_TRUE(next.IsNeedUpgrade());
      continue;
    }
    EXPECT_TRUE(LoggedSince(mark, "Failed to extract package, rollback to old installation"));
    if (live == "link") {
      char target[4096] = {};
      ASSERT_GT(readlink(app().c_str(), target, sizeof(target) - 1), 0) << "the link was not put back";
      EXPECT_EQ(at("elsewhere"), target);
    } else {
      EXPECT_EQ(live, ReadFile(app() + "/old-marker"));
    }
    // Everything the upgrade found is back as it was, the older backups untouched.
    auto after = testsupport::Snapshot(corvane(), true);
    after.erase("/Corvane.app.upgrade");
    EXPECT_EQ("", testsupport::Difference(backups_before, after));
    EXPECT_EQ(0, SetAsideCount());
    // Beside an earlier launcher's backups the copy may be one it cut short: put back, it is not
    // pinned, and the next start tries again; without them the next start extracts nothing.
    ShipBuild("119");
    MacService next;
    next.PreUpgrade();
    EXPECT_EQ(!c.backups.empty(), next.IsNeedUpgrade());
    ShipBuild("120");
  }
}

// Two first installations that fail (a package cut short, as a nearly full disk cuts it) leave a copy
// with the new INFO and interface: still not installed, and the next good package completes it.
TEST_F(ServiceTest, FailedFirstInstallationsAreNeverTakenAsInstalled) {
  ShipBuild("120");
  std::string noise(256 * 1024, '\0');
  for (size_t i = 0, x = 7; i < noise.size(); ++i, x = x * 6364136223846793005u + 1442695040888963407u)
    noise[i] = static_cast<char>(x >> 56);
  ASSERT_EQ("", testpackage::WriteArchive(package(),
                                          {Dir("Contents/"), File("Contents/Resources/INFO", Info("120")),
                                           File("Contents/MacOS/corvane-ui", kStartedUi, 0755),
                                           File("Contents/Resources/big", noise)}));
  std::string whole = ReadFile(package());
  WriteFile(package(), whole.substr(0, whole.size() / 2));
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    MacService service;
    service.PreUpgrade();
    ASSERT_TRUE(service.IsNeedUpgrade());
    EXPECT_EQ(-1, service.HandlePackageUpgrade());
    service.RemoveAgedFolders();
    ASSERT_TRUE(Exists(ui())) << "the cut package no longer leaves a copy that looks installed";
    service.PostUpgrade();  // the half-made interface is never started
    EXPECT_TRUE(requests_.empty());
    EXPECT_TRUE(Logged("not starting '" + app() + "': its installation did not finish"));
  }
  MakePackage("120");
  MacService service;
  service.PreUpgrade();
  ASSERT_TRUE(service.IsNeedUpgrade());
  EXPECT_EQ(0, service.HandlePackageUpgrade());
  EXPECT_EQ(kStartedUi, ReadFile(ui()));
  for (int n = 0; n < 10; ++n) EXPECT_FALSE(Exists(backup(n))) << n;
  EXPECT_FALSE(Exists(record()));
  MacService later;
  later.PreUpgrade();
  EXPECT_FALSE(later.IsNeedUpgrade());
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

// A backup name that cannot even be renamed after a successful upgrade (an immutable or locked copy:
// EPERM; a folder the user may not change: EACCES): no unfinished upgrade, so four starts extract
// once, and the name goes as soon as it can. Root makes the copy immutable; an ordinary account finds
// ~/.Corvane read-only for the three changes after the record says "cleaning" (the attempts to set
// the name aside; root would ignore that).
TEST_F(ServiceTest, ABackupThatCannotBeRenamedMeansNoUnfinishedUpgrade) {
  ShipBuild("120");
  Install("119");
  OccupyBackup(0);
  MakePackage("120");
  bool blocked = false;
#ifdef __linux__
  struct Immutable {
    int fd;
    explicit Immutable(const std::string& path) : fd(open(path.c_str(), O_RDONLY | O_DIRECTORY)) {}
    bool Set(bool on) {
      int flags = 0;
      if (fd < 0 || ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) return false;
      flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
      return ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ~Immutable() {
      Set(false);
      if (fd >= 0) close(fd);
    }
  } immutable(backup(0));
  if (testsupport::IsRoot()) {
    if (!immutable.Set(true)) GTEST_SKIP() << "this file system has no immutable flag: " << strerror(errno);
    blocked = true;
  }
#endif
  if (!blocked && testsupport::IsRoot()) GTEST_SKIP() << "root ignores a read-only folder";
  if (!blocked) {
    int refused = -1;
    FSSetChangeHook([&] {
      if (refused < 0 && Exists(record()) && ReadFile(record()).find("state=cleaning") != std::string::npos)
        refused = chmod(corvane().c_str(), 0555) == 0 ? 0 : -1;
      if (refused >= 0 && ++refused == 4) chmod(corvane().c_str(), 0755);
    });
    blocked = true;
  }
  int extractions = 0;
  for (int start = 0; start < 4; ++start) {
    MacService service;
    service.PreUpgrade();
    if (service.IsNeedUpgrade()) extractions += service.HandlePackageUpgrade() == 0;
    service.RemoveAgedFolders();
  }
  FSSetChangeHook(nullptr);
  EXPECT_EQ(1, extractions);
  EXPECT_EQ(Info("120"), ReadFile(app() + "/Contents/Resources/INFO"));
  EXPECT_TRUE(Logged("cannot set '" + backup(0) + "' aside for removal"));
  // Once it can be set aside, the next start removes it and the record.
#ifdef __linux__
  immutable.Set(false);
#endif
  chmod(corvane().c_str(), 0755);
  MacService later;
  later.PreUpgrade();
  EXPECT_FALSE(later.IsNeedUpgrade());
  later.RemoveAgedFolders();
  EXPECT_FALSE(Exists(backup(0)));
  EXPECT_FALSE(Exists(record()));
}

// What a power cut keeps: the new copy is on the drive before the record says "cleaning" (and the
// backup goes), each record is on the drive before its rename, and the rename before the next change.
// Seen through the file layer's sync seam, with both ways of syncing a tree: the volume at once
// (Linux) and file by file with one full sync (macOS).
TEST_F(ServiceTest, NothingIsReliedOnBeforeItIsOnTheDrive) {
  const FSTreeSyncCall platform = FSSetTreeSync(nullptr);
  FSSetTreeSync(platform);
  for (const FSTreeSyncCall tree : {platform, FSSyncTreeFileByFile}) {
    SCOPED_TRACE(tree == platform ? "this platform's tree sync" : "file by file");
    testsupport::RemoveTree(corvane());
    ShipBuild("120");
    Install("119");
    MakePackage("120");
    // "c" a change; "v" a volume synced; "e<inode>" a file or folder synced; "r<state>" a record synced.
    std::vector<std::string> events;
    FSSetChangeHook([&] { events.push_back("c"); });
    FSSetSyncHook([&](int fd, FSSyncScope scope) {
      struct stat st;
      ASSERT_EQ(0, fstat(fd, &st));
      events.push_back(scope == FSSyncScope::kVolume ? "v" : "e" + std::to_string(st.st_ino));
      struct stat temporary;
      if (lstat((record() + ".new").c_str(), &temporary) == 0 && temporary.st_ino == st.st_ino) {
        const std::string text = ReadFile(record() + ".new");
        const size_t state = text.find("state=") + 6;
        events.push_back("r" + text.substr(state, text.find('\n', state) - state));
      }
    });
    FSSetTreeSync(tree);
    MacService service;
    service.PreUpgrade();
    const int result = service.HandlePackageUpgrade();
    FSSetTreeSync(platform);
    FSSetSyncHook(nullptr);
    FSSetChangeHook(nullptr);
    ASSERT_EQ(0, result);
    struct stat folder;
    ASSERT_EQ(0, stat(corvane().c_str(), &folder));
    const std::string folder_synced = "e" + std::to_string(folder.st_ino);
    const auto at = [&](const std::string& what) {
      return std::find(events.begin(), events.end(), what) - events.begin();
    };
    // Each record: its file synced, then renamed (one change), then its folder synced, before anything else
    // changes.
    for (const char* state : {"rupgrading", "rcleaning"}) {
      const size_t r = at(state);
      ASSERT_LT(r + 2, events.size()) << state << " never synced before its rename";
      EXPECT_EQ("c", events[r + 1]) << state;
      EXPECT_EQ(folder_synced, events[r + 2]) << state << ": its folder is not synced after the rename";
    }
    // INFO goes in last (one change, the rename), its folder synced right after it, before "cleaning".
    struct stat resources;
    ASSERT_EQ(0, stat((app() + "/Contents/Resources").c_str(), &resources));
    const auto placed = std::find(events.rbegin() + (events.size() - at("rcleaning")), events.rend(),
                                  "e" + std::to_string(resources.st_ino));
    ASSERT_NE(events.rend(), placed);
    EXPECT_EQ("c", *(placed + 1)) << "INFO's folder is not synced after INFO went in";
    // The new copy: synced after the last entry was written (the change before INFO's).
    size_t last_entry = at("rcleaning"), changes = 0;
    while (last_entry > 0 && changes < 3) changes += events[--last_entry] == "c";
    const std::vector<std::string> after(events.begin() + last_entry, events.begin() + at("rcleaning"));
    const auto synced = [&](const std::string& e) {
      return std::find(after.begin(), after.end(), e) != after.end();
    };
    if (tree == platform && synced("v")) continue;  // the volume at once
    {
      for (const auto& [path, what] : testsupport::Snapshot(app(), false)) {
        struct stat st;
        if (lstat((app() + path).c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
          EXPECT_TRUE(synced("e" + std::to_string(st.st_ino)))
              << path << " is not synced before \"cleaning\"";
        }
      }
    }
  }
}

// Worlds the launcher did not make: the copy being filled dragged to the Trash; a second, older
// launcher (no lock) putting the old copy back meanwhile; a put-back of a newer kept copy that fails
// once, with an older bundle; an older backup of the kept build beside the one the record names. Each
// start ends with a whole copy live, the one that was or the one kept (never a partial, mixed or
// older one), and the interface of the unfinished copy is stopped before that copy moves.
TEST_F(ServiceTest, TheCopyBeingFilledMovesOrAPutBackFailsOnce) {
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_EQ(gone, waitpid(gone, nullptr, 0));
  const auto kept = [this, gone](int n, int kind, const char* build) {
    MakeCopy(backup(n), kind);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(backup(n) + "/Contents/Resources")));
    WriteInfo(backup(n) + "/Contents/Resources/INFO", build);
    MakeCopy(app(), 2);  // the unfinished copy, without INFO
    UpgradeRecord record;
    record.state = UpgradeRecord::kUpgrading;
    record.good_exists = true;
    record.good_backup = n;
    record.good_build = atoi(build);
    ASSERT_EQ(0, WriteUpgradeRecord(app(), record));
    WritePidFile(corvane(), "pid=" + std::to_string(gone) + "\n");
  };
  const auto filling = [this] { return Exists(app() + "/Contents") && Exists(backup(0)); };
  bool stopped_first = false;
  const struct {
    const char* what;
    const char* ship;
    std::function<void()> setup;
    std::function<bool()> when;  // the moment to act, at a change on disk
    std::function<void()> act;
    const char* live;  // the marker of the copy live at the end
  } rows[] = {
      {"dragged to the Trash", "120", [&] { Install("119"); }, filling,
       [&] {
         ASSERT_EQ(0, mkdir(at("Trash").c_str(), 0755));
         ASSERT_EQ(0, rename(app().c_str(), at("Trash/Corvane.app").c_str()));
       },
       "old 119"},
      {"an older launcher puts the old copy back", "120", [&] { Install("119"); }, filling,
       [&] {
         ShipBuild("118");
         MacService().PreUpgrade();
         ShipBuild("120");
       },
       "old 119"},
      {"a put-back fails once", "120", [&] { kept(0, 1, "121"); },
       [&] { return !Exists(app()) && Exists(backup(0)); },
       [&] {
         stopped_first = Count(SIGTERM) > 0;
         ASSERT_EQ(0, mkdir(app().c_str(), 0755));
         WriteFile(app() + "/in-the-way", "");
       },
       "good"},
      {"an older backup of the same build", "118",
       [&] {
         MakeCopy(backup(0), 3);
         ASSERT_TRUE(QDir().mkpath(QString::fromStdString(backup(0) + "/Contents/Resources")));
         WriteInfo(backup(0) + "/Contents/Resources/INFO", "119");
         kept(3, 1, "119");
       },
       [] { return false; }, nullptr, "good"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    testsupport::RemoveTree(corvane());
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(corvane())));
    signals_.clear();
    ShipBuild(r.ship);
    MakePackage(r.ship);
    r.setup();
    bool done = false;
    FSSetChangeHook([&] {
      if (done || !r.when()) return;
      done = true;
      r.act();
    });
    MacService service;
    service.PreUpgrade();
    if (service.IsNeedUpgrade()) {
      EXPECT_EQ(-1, service.HandlePackageUpgrade());
    }
    FSSetChangeHook(nullptr);
    EXPECT_EQ(r.act != nullptr, done);
    EXPECT_EQ(r.live, ReadFile(app() + "/old-marker"));
    EXPECT_EQ("#!/bin/sh\n", ReadFile(ui())) << "the package's interface landed in the copy";
    EXPECT_TRUE(IsWholeInstallation(app()));
  }
  EXPECT_TRUE(stopped_first) << "the unfinished copy's interface was not stopped before it moved";
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

// The package is checked against the SHA-256 the bundle recorded beside it before anything is touched:
// a plain tar cut short at an entry boundary reads as a whole archive and would replace the installed
// copy with half of itself. A bundle without a digest upgrades as it always did.
TEST_F(ServiceTest, ThePackageIsCheckedAgainstItsRecordedDigestFirst) {
  enum Digest { kNone, kOfWhole, kOfWholeUpperCase, kNotADigest, kFifo, kOfWholeTooLong };
  enum Package { kWhole, kCutAtAnEntry, kPackageFifo, kBeyondItsBound, kCutSwappedInAfterTheCheck };
  const struct {
    const char* what;
    Digest digest;
    Package package;
    const char* why;  // in the ERROR line; nullptr: the upgrade goes ahead
  } cases[] = {
      {"no digest recorded, as before", kNone, kWhole, nullptr},
      {"the recorded digest", kOfWhole, kWhole, nullptr},
      {"the recorded digest in capitals, without a name", kOfWholeUpperCase, kWhole, nullptr},
      {"cut at an entry boundary", kOfWhole, kCutAtAnEntry, "is damaged: its SHA-256 is "},
      {"a digest file without a digest", kNotADigest, kWhole, "does not start with a SHA-256"},
      {"a named pipe for a digest", kFifo, kWhole, ".sha256': not a regular file"},
      {"a named pipe for a package", kOfWhole, kPackageFifo, "skyhold.hpk': not a regular file"},
      {"a named pipe for a package, no digest", kNone, kPackageFifo, "skyhold.hpk': not a regular file"},
      {"a digest file beyond its bound", kOfWholeTooLong, kWhole, ".sha256' is larger than 4096 bytes"},
      {"a sparse package beyond its bound", kOfWhole, kBeyondItsBound, "skyhold.hpk' is larger than the "},
      // What is unpacked is what was checked: the descriptor the check opened, not the name.
      {"another package at its name once checked", kOfWhole, kCutSwappedInAfterTheCheck, nullptr},
  };
  std::vector<testpackage::Entry> entries = {Dir("Contents/"), File("Contents/Resources/INFO", Info("120")),
                                             File("Contents/MacOS/corvane-ui", kStartedUi, 0755)};
  for (int n = 0; n < 40; ++n)
    entries.push_back(
        File("Contents/Resources/f" + std::to_string(100 + n), std::string(1000, 'a' + n % 26)));
  ASSERT_EQ("", testpackage::WriteArchive(at("whole.tar"), entries, testpackage::Format::kTar));
  const std::string whole = ReadFile(at("whole.tar"));
  const QByteArray sha =
      QCryptographicHash::hash(QByteArray::fromStdString(whole), QCryptographicHash::Sha256).toHex();
  // A tar header starts with the entry's name: the archive up to the 21st file's header.
  const std::string cut = whole.substr(0, whole.find("Contents/Resources/f120"));
  ASSERT_EQ(0u, cut.size() % 512);
  const std::string digest = package() + ".sha256";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::RemoveTree(corvane());
    testsupport::RemoveTree(digest);
    testsupport::RemoveTree(package());
    Install("119");
    if (c.package == kPackageFifo) {
      ASSERT_EQ(0, mkfifo(package().c_str(), 0644));
    } else {
      WriteFile(package(), c.package == kCutAtAnEntry ? cut : whole);
    }
    if (c.package == kBeyondItsBound) {
      ASSERT_EQ(0, truncate(package().c_str(), kMaxPackageBytes + 1));
    }
    bool swapped = false;
    if (c.package == kCutSwappedInAfterTheCheck) {
      WriteFile(at("cut.tar"), cut);
      FSSetChangeHook([&] {
        if (!swapped) swapped = rename(at("cut.tar").c_str(), package().c_str()) == 0;
      });
    }
    if (c.digest == kOfWhole) WriteFile(digest, sha.toStdString() + "  skyhold.hpk\n");
    if (c.digest == kOfWholeTooLong) WriteFile(digest, sha.toStdString() + std::string(4096 - 64 + 1, '\n'));
    if (c.digest == kOfWholeUpperCase) WriteFile(digest, sha.toUpper().toStdString());
    if (c.digest == kNotADigest) WriteFile(digest, "sha256 " + sha.toStdString() + "\n");
    if (c.digest == kFifo) {
      ASSERT_EQ(0, mkfifo(digest.c_str(), 0644));
    }
    // The interface runs from the installed copy: it is stopped only for an upgrade that goes ahead.
    Child ui(Child::kPlain, app() + "/Contents/MacOS");
    WritePidFile(corvane(), "pid=" + std::to_string(ui.pid()) + "\n");
    signals_.clear();
    MacService service;
    if (c.why == nullptr) {
      EXPECT_EQ(0, service.HandlePackageUpgrade());
      FSSetChangeHook({});
      EXPECT_EQ(c.package == kCutSwappedInAfterTheCheck, swapped);
      EXPECT_EQ(Info("120"), ReadFile(app() + "/Contents/Resources/INFO"));
      EXPECT_TRUE(Exists(app() + "/Contents/Resources/f139"));
      EXPECT_FALSE(Exists(app() + "/old-marker"));
      EXPECT_EQ(1, Count(SIGTERM));
    } else {
      // A blocking open of a pipe fails the row instead of hanging the program.
      int result = 0;
      EXPECT_TRUE(testsupport::ReturnsWithoutWaitingOn(c.digest == kFifo ? digest : package(),
                                                       [&] { result = service.HandlePackageUpgrade(); }));
      EXPECT_EQ(-1, result);
      EXPECT_TRUE(Logged(c.why)) << Log();
      EXPECT_TRUE(Logged("not upgrading from a damaged package, the installed copy stays as it is"));
      EXPECT_EQ("old 119", ReadFile(app() + "/old-marker"));
      EXPECT_EQ(Info("119"), ReadFile(app() + "/Contents/Resources/INFO"));
      EXPECT_FALSE(Exists(app() + "/Contents/Resources/f100"));
      for (int n = 0; n < 10; ++n) EXPECT_FALSE(Exists(backup(n))) << n;
      EXPECT_TRUE(signals_.empty()) << "signal " << signals_.front().sig << " sent to the interface";
      EXPECT_TRUE(ui.Alive());
    }
  }
  EXPECT_TRUE(Logged("package '" + package() + "' matches its recorded SHA-256 " + sha.toStdString()));
  EXPECT_TRUE(Logged("no digest '" + digest + "' recorded for the package, not checking it"));
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

// Data that cannot move stays whole, and every later start looks again, once: while what stopped it
// is still there (a non-empty ~/.Corvane/data; a read-only data folder; too little room where
// ~/.Corvane lies, on another volume) it says so in one WARNING and stops nothing; once that has
// changed, the interfaces stop and the data moves.
TEST_F(ServiceTest, MigrationKeepsDataThatCannotBeMovedAndTriesAgainOnlyWhenItCan) {
  enum Blocker { kNotEmpty, kReadOnly, kNoRoom };
  for (Blocker blocker : {kNotEmpty, kReadOnly, kNoRoom}) {
    if (blocker == kReadOnly && testsupport::IsRoot()) continue;  // root moves a read-only folder
    if (blocker == kNoRoom) {  // a small volume, with room for the interface's program
      if (!testsupport::IsRoot()) continue;
      ASSERT_TRUE(QDir().mkpath(QString::fromStdString(at("vol"))));
      const int mounted = testsupport::MountTmpfs(at("vol"), "size=40m");
      if (mounted != 0 && errno == ENOTSUP) continue;  // macOS has no tmpfs
      ASSERT_EQ(0, mounted) << strerror(errno);
    }
    const std::string home = at("home" + std::to_string(blocker)), corvane = home + "/.Corvane";
    const std::string skyhold = home + "/.Skyhold", what = "blocker " + std::to_string(blocker);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(skyhold + "/data")));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(blocker == kNoRoom ? at("vol/corvane") : corvane)));
    if (blocker == kNoRoom) {
      ASSERT_EQ(0, symlink(at("vol/corvane").c_str(), corvane.c_str()));
    }
    RegisterUserPaths(QString::fromStdString(home),
                      QString::fromStdString(at("Launcher.app/Contents/MacOS")));
    Child ui(Child::kPlain, corvane + "/Corvane.app/Contents/MacOS");
    WritePidFile(corvane, "pid=" + std::to_string(ui.pid()) + "\n");
    WriteFile(skyhold + "/data/old", "old data");
    std::string in_the_way = corvane + "/data/new";
    if (blocker == kNotEmpty) {
      ASSERT_TRUE(QDir().mkpath(QString::fromStdString(corvane + "/data")));
      WriteFile(in_the_way, "new data");
    } else if (blocker == kReadOnly) {
      ASSERT_EQ(0, chmod((skyhold + "/data").c_str(), 0555));
    } else {  // the volume filled up to 2 MiB, and 3 MiB of data to move
      struct statvfs vfs;
      ASSERT_EQ(0, statvfs(at("vol").c_str(), &vfs));
      in_the_way = at("vol/filler");
      WriteFile(in_the_way, std::string(vfs.f_bavail * vfs.f_frsize - (2 << 20), 'n'));
      WriteFile(skyhold + "/data/big", std::string(3 << 20, 'b'));
    }
    MacService service;
    service.MigrateService();
    service.ResumeMigration();  // the same start: not twice
    EXPECT_TRUE(Logged("Failed to move data to Corvane folder")) << what;
    EXPECT_EQ("old data", ReadFile(skyhold + "/data/old")) << what;
    EXPECT_TRUE(signals_.empty()) << what;

    size_t mark = Log().size();
    MacService().ResumeMigration();
    EXPECT_TRUE(LoggedSince(mark, "the data in '" + skyhold + "/data' still cannot move")) << what;
    EXPECT_EQ(std::string::npos, Log().find("WARNING", Log().find("WARNING", mark) + 1)) << what;
    EXPECT_TRUE(signals_.empty()) << what;
    if (blocker == kReadOnly) {
      ASSERT_EQ(0, chmod((skyhold + "/data").c_str(), 0755));
    } else {
      ASSERT_EQ(0, unlink(in_the_way.c_str()));
    }
    MacService().ResumeMigration();
    EXPECT_EQ(1, Count(SIGTERM, ui.pid())) << what;
    EXPECT_EQ("old data", ReadFile(corvane + "/data/old")) << what;
    EXPECT_FALSE(Exists(skyhold)) << what;
    mark = Log().size();
    MacService().ResumeMigration();
    EXPECT_FALSE(LoggedSince(mark, "WARNING")) << what;
    signals_.clear();
    if (blocker == kNoRoom) testsupport::Unmount(at("vol"));
  }
}

// Only what the migration moved, and what was the predecessor's when it moved it, is ever removed:
// a ~/.Skyhold that cannot be removed whole (a folder of it the user cannot change) is set aside in
// one step and only that is retried, so the settings the predecessor writes to a new ~/.Skyhold
// when the user runs it again are never touched.
TEST_F(ServiceTest, APredecessorLeftHalfRemovedGoesOnALaterStartAndNothingWrittenSince) {
  if (testsupport::IsRoot())
    GTEST_SKIP() << "root removes from read-only folders; run as an ordinary account (corvane-test) to see "
                    "a removal of ~/.Skyhold fail half-way and finish on a later start";
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(skyhold() + "/data")));
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(skyhold() + "/locked")));
  WriteFile(skyhold() + "/data/db", "d");
  WriteFile(skyhold() + "/locked/x", "x");
  ASSERT_EQ(0, chmod((skyhold() + "/locked").c_str(), 0555));
  MacService().MigrateService();
  EXPECT_EQ("d", ReadFile(corvane() + "/data/db"));
  EXPECT_TRUE(Logged("Failed to remove old .Skyhold folder"));
  EXPECT_FALSE(Exists(skyhold()));
  const QStringList aside =
      QDir(QString::fromStdString(home())).entryList({".Skyhold_trash.*"}, QDir::Hidden | QDir::Dirs);
  ASSERT_EQ(1, aside.size());
  WritePidFile(skyhold(), "pid=1\n");  // the predecessor run again
  WriteFile(skyhold() + "/settings.ini", "new");
  MacService().ResumeMigration();
  MacService().ResumeMigration();
  EXPECT_EQ("new", ReadFile(skyhold() + "/settings.ini"));
  ASSERT_EQ(0, chmod((home() + "/" + aside[0].toStdString() + "/locked").c_str(), 0755));
  MacService().ResumeMigration();
  EXPECT_FALSE(Exists(home() + "/" + aside[0].toStdString()));
  EXPECT_FALSE(Exists(corvane() + "/.skyhold-migration"));
  EXPECT_EQ("new", ReadFile(skyhold() + "/settings.ini"));
  EXPECT_TRUE(signals_.empty());
}

// A home reached through a link (macOS's /var -> /private/var, a home on another volume) and a
// ~/.Corvane that links to another volume: the data moves as in the plain case. When ~/.Corvane/data
// already holds files, nothing is moved or overwritten and ~/.Skyhold stays whole, on one volume or
// across two.
TEST_F(ServiceTest, MigrationThroughLinksAndAcrossVolumes) {
  testsupport::OtherVolume volume(at("vol"));
  const struct {
    bool linked_home;
    bool corvane_elsewhere;          // ~/.Corvane links to a folder on the other volume
    bool newer_data;                 // ~/.Corvane/data already holds settings.ini
    bool skyhold_elsewhere = false;  // ~/.Skyhold links to a folder on the other volume
  } rows[] = {{true, false, false},       {false, true, false},      {false, true, true},
              {true, true, true},         {true, false, true},       {false, false, false, true},
              {true, false, false, true}, {false, false, true, true}};
  int n = 0;
  for (const auto& row : rows) {
    const std::string base = at("row" + std::to_string(n++)), real_home = base + "/home";
    const std::string home = row.linked_home ? base + "/link" : real_home;
    const std::string corvane = home + "/.Corvane", skyhold = home + "/.Skyhold";
    const std::string what = volume.how() + ", row " + std::to_string(n);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(real_home)));
    if (row.linked_home) {
      ASSERT_EQ(0, symlink("home", home.c_str()));
    }
    if (row.corvane_elsewhere) {
      const std::string elsewhere = at("vol/corvane" + std::to_string(n));
      ASSERT_TRUE(QDir().mkpath(QString::fromStdString(elsewhere)));
      ASSERT_EQ(0, symlink(elsewhere.c_str(), corvane.c_str()));
    }
    const std::string skyhold_real = row.skyhold_elsewhere ? at("vol/skyhold" + std::to_string(n)) : skyhold;
    if (row.skyhold_elsewhere) {
      ASSERT_EQ(0, symlink(skyhold_real.c_str(), skyhold.c_str()));
    }
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(skyhold_real + "/data/sub")));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(skyhold + "/app")));
    WriteFile(skyhold + "/Photos.jpg", "the user's");
    WriteFile(skyhold_real + "_trash.mine", "the user's, beside where the link leads");
    WriteFile(skyhold + "/data/settings.ini", "old");
    WriteFile(skyhold + "/data/sub/db", "old db");
    if (row.newer_data) {
      ASSERT_TRUE(QDir().mkpath(QString::fromStdString(corvane + "/data")));
      WriteFile(corvane + "/data/settings.ini", "new");
    }
    RegisterUserPaths(QString::fromStdString(home),
                      QString::fromStdString(at("Launcher.app/Contents/MacOS")));

    MacService service;
    EXPECT_TRUE(service.PredecessorExists()) << what;
    service.MigrateService();
    if (row.newer_data) {
      EXPECT_EQ("new", ReadFile(corvane + "/data/settings.ini")) << what;
      EXPECT_FALSE(Exists(corvane + "/data/sub")) << what;
      EXPECT_EQ("old", ReadFile(skyhold + "/data/settings.ini")) << what;
      EXPECT_EQ("old db", ReadFile(skyhold + "/data/sub/db")) << what;
      EXPECT_TRUE(Exists(skyhold + "/app")) << what;
    } else {
      EXPECT_EQ("old", ReadFile(corvane + "/data/settings.ini")) << what;
      EXPECT_EQ("old db", ReadFile(corvane + "/data/sub/db")) << what;
      EXPECT_FALSE(Exists(real_home + "/.Skyhold")) << what;
      // A link goes as a link: where it leads keeps everything but the data that moved, start after start.
      EXPECT_EQ(row.skyhold_elsewhere, Exists(skyhold_real + "/app")) << what;
      if (row.skyhold_elsewhere) WriteFile(skyhold_real + "/later.txt", "copied there later");
    }
    MacService later;
    later.ResumeMigration();
    later.RemoveAgedFolders();
    if (row.skyhold_elsewhere) {
      EXPECT_EQ("the user's", ReadFile(skyhold_real + "/Photos.jpg")) << what;
      if (!row.newer_data) {
        EXPECT_EQ("copied there later", ReadFile(skyhold_real + "/later.txt")) << what;
      }
      EXPECT_TRUE(Exists(skyhold_real + "_trash.mine")) << what;
    }
    struct stat st;
    ASSERT_EQ(0, lstat(corvane.c_str(), &st)) << what;
    EXPECT_EQ(row.corvane_elsewhere, S_ISLNK(st.st_mode)) << "the user's link stays a link, " << what;
  }
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
  // Through a linked ~/.Skyhold, "app" is a folder of wherever the link leads: the user's.
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(at("drive/app"))));
  ASSERT_TRUE(QDir(QString::fromStdString(skyhold())).removeRecursively());
  ASSERT_EQ(0, symlink(at("drive").c_str(), skyhold().c_str()));
  service.RemoveAgedFolders();
  EXPECT_TRUE(Exists(at("drive/app")));
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

// Side by side: an interface that ignores SIGTERM gets SIGKILL after fifteen probes; a number that
// names another program by then, one that started after the pid file was written, does not.
TEST_F(ServiceTest, StoppingAProcessThatIgnoresTermOrWhoseNumberIsTakenMeanwhile) {
  Child child(Child::kIgnoresTerm, skyhold() + "/app");
  WritePidFile(skyhold(), "# the predecessor's interface\npid = " + std::to_string(child.pid()) + "\n");
  Child taken(Child::kSleepsOnTerm, app() + "/Contents/MacOS");
  WritePidFile(corvane(), "pid=" + std::to_string(taken.pid()) + "\n");
  AgePidFile(corvane(), 60);
  std::thread other([] { MacService().StopService(); });
  MacService service;
  service.StopServiceByPath(QString::fromStdString(skyhold()));
  other.join();
  int status = child.Join();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(SIGKILL, WTERMSIG(status));
  EXPECT_EQ(1, Count(SIGTERM, child.pid()));
  EXPECT_EQ(15, Count(0, child.pid()));
  EXPECT_EQ(1, Count(SIGKILL, child.pid()));
  EXPECT_TRUE(Logged("sending signal 9 to process " + std::to_string(child.pid()) + " (program '" +
                     Real(skyhold()) + "/app/.running-ui-"));
  EXPECT_TRUE(
      Logged("sending signal 15 to process " + std::to_string(taken.pid()) + " (program '" + Real(app())));
  EXPECT_EQ(1, Count(SIGTERM, taken.pid()));
  EXPECT_EQ(0, Count(SIGKILL, taken.pid()));
  EXPECT_TRUE(taken.Alive());
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
  // The interface program a script: no program tells, the clocks decide.
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(app() + "/Contents/MacOS")));
  WriteFile(ui(), "#!/bin/sh\n");
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
  // This launcher started before the pid file was written, as the interface did: only the guard
  // keeps it from stopping itself.
  EXPECT_TRUE(Logged("pid file '" + corvane() + "/ui.pid' names this launcher (" + std::to_string(getpid()) +
                     "), not signalling it"));
  EXPECT_TRUE(bystander.Alive());
}

// The interface is known by its program: one running from inside the folder, or the interface's own
// program from elsewhere (a translocated or copied bundle), or a program of the predecessor's bundle,
// is stopped even when its pid file looks an hour older than the process (a file server's clock, a
// step of the wall clock); another program is not, even when it started before the file was written,
// unless the interface's program is a script: then its interpreter runs, and the clocks decide, as
// they do for the predecessor, whose program is not known. A program from elsewhere that started
// after the file was written (a recycled pid), even by seconds, never is. Also through a home reached
// by a link, where the system reports the program's real path.
TEST_F(ServiceTest, TheInterfaceIsKnownByItsProgramOrByStartingBeforeItsPidFile) {
  ASSERT_EQ(0, symlink(home().c_str(), at("linked-home").c_str()));
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(app() + "/Contents/MacOS")));
  const std::string inside = "/.Corvane/Corvane.app/Contents/MacOS";
  const struct {
    const char* folder;
    std::string run_from;  // below the home; empty: a fork of the test program
    const char* name;      // of its program; empty: a fresh one
    bool script;           // the installed interface program is a script
    int file_age_s;        // how long before now the pid file was last written
    bool through_link;
    const char* not_stopped_because;  // null when stopped
  } cases[] = {
      {"/.Corvane", inside, "", false, 3600, false, nullptr},
      {"/.Corvane", inside, "", false, 0, false, nullptr},
      {"/.Corvane", inside, "", false, 3600, true, nullptr},
      {"/.Corvane", "/Applications/Corvane.app/Contents/MacOS", "corvane-ui", false, 3600, false, nullptr},
      {"/.Corvane", "", "", false, 0, false, "not the interface's program nor one inside"},
      {"/.Corvane", "", "", false, 3600, false, "not the interface's program nor one inside"},
      {"/.Corvane", "", "", true, 0, false, nullptr},
      {"/.Corvane", "", "", true, 5, false, "started after pid file"},
      {"/.Skyhold", "/Applications/Skyhold.app/Contents/MacOS", "", false, 3600, false, nullptr},
      {"/.Skyhold", "", "", false, 0, false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.folder) + " " + c.run_from + "/" + c.name + (c.script ? " script " : " ") +
                 std::to_string(c.file_age_s) + (c.through_link ? " link" : ""));
    signals_.clear();
    const size_t mark = Log().size();
    WriteFile(ui(), c.script ? "#!/bin/sh\n"
                             : "\x7f"
                               "ELF");
    Child child(Child::kPlain, c.run_from.empty() ? std::string() : home() + c.run_from, c.name);
    WritePidFile(home() + c.folder, "pid=" + std::to_string(child.pid()) + "\n");
    AgePidFile(home() + c.folder, c.file_age_s);
    MacService service;
    service.StopServiceByPath(
        QString::fromStdString((c.through_link ? at("linked-home") : home()) + c.folder));
    const bool stopped = c.not_stopped_because == nullptr;
    EXPECT_EQ(stopped ? 1 : 0, Count(SIGTERM));
    EXPECT_EQ(stopped, !child.Alive());
    if (!stopped) {
      EXPECT_TRUE(LoggedSince(mark, "process " + std::to_string(child.pid())));
      EXPECT_TRUE(LoggedSince(mark, c.not_stopped_because));
    }
  }
}

// The program decides where it tells (inside the folder, the interface's program or bundle: yes;
// another program when the interface's is known and no script: no); the clocks only where it does not.
TEST_F(ServiceTest, WhoIsTheInterface) {
  const long long kSecond = 1000000000LL, kMinute = 60 * kSecond, written = 1000 * kMinute;
  const std::vector<std::string> folders = {"/home/u/.Corvane", "/Users/u/.Corvane/"};
  // A home reached through a link: the folder as named, then as resolved.
  const std::vector<std::string> linked = {"/home/u/.Corvane", "/Volumes/Data/u/.Corvane"};
  const std::vector<std::string> predecessor = {"/home/u/.Skyhold"};
  // What the interface is known by besides its folder.
  enum Knows { kProgram, kScript, kBundle, kFolderOnly };
  const struct {
    bool executable_known;
    std::string executable;
    bool start_known;
    long long started;
    bool interface;
    const std::vector<std::string>* in = nullptr;
    Knows knows = kProgram;
  } cases[] = {
      {true, "/home/u/.Corvane/Corvane.app/Contents/MacOS/corvane-ui", true, written + 60 * kMinute, true},
      {true, "/Users/u/.Corvane/Corvane.app_tmp/Contents/MacOS/corvane-ui", false, 0, true},
      // A translocated copy, whatever the clocks say.
      {true, "/private/var/folders/x/AppTranslocation/A/d/Corvane.app/Contents/MacOS/corvane-ui", true,
       written + 60 * kMinute, true},
      // Another program, even one that started before the pid file; through an interpreter, the clocks.
      {true, "/usr/bin/python3", true, written - kMinute, false},
      {true, "/usr/bin/python3", true, written - kMinute, true, nullptr, kScript},
      {true, "/usr/bin/python3", true, written + 11 * kMinute, false, nullptr, kScript},
      // A recycled pid: another program that started after the file was written.
      {true, "/usr/bin/vim", true, written + 11 * kMinute, false},
      {true, "/usr/bin/vim", true, written + 3 * kSecond, false},
      {true, "/home/u/.Corvane2/sync-tool", true, written + 60 * kMinute, false},
      {true, "/home/u/.Corvane", true, written + 11 * kMinute, false},
      {true, "/usr/bin/vim", false, 0, false},
      {false, "", true, written + 2 * kSecond, true},
      {false, "", true, written - 60 * kMinute, true},
      {false, "", true, written + 3 * kSecond, false},
      {false, "", false, 0, true},
      {true, "/Volumes/Data/u/.Corvane/Corvane.app/Contents/MacOS/corvane-ui", true, written + 60 * kMinute,
       true, &linked, kFolderOnly},
      {true, "/Volumes/Data/u/.Corvane2/corvane-ui", true, written + 60 * kMinute, false, &linked,
       kFolderOnly},
      // The predecessor's: its bundle wherever it lies; any other program, the clocks.
      {true, "/Applications/Skyhold.app/Contents/MacOS/Skyhold", true, written + 60 * kMinute, true,
       &predecessor, kBundle},
      {true, "/usr/bin/java", true, written - kMinute, true, &predecessor, kBundle},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.executable + " " + std::to_string((c.started - written) / kSecond) + " s, knows " +
                 std::to_string(c.knows));
    PidFileProcess p;
    p.folders = c.in != nullptr ? *c.in : folders;
    if (c.knows == kProgram || c.knows == kScript) p.program_name = "corvane-ui";
    p.program_interpreted = c.knows == kScript;
    if (c.knows == kBundle) p.bundle_name = "Skyhold.app";
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
  EXPECT_EQ(Real(corvane()) + "/.running-ui-", program.substr(0, program.rfind('-') + 1));
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
  EXPECT_EQ(Real(app() + "/Contents/MacOS"), folder);
  EXPECT_EQ(pid, session);
  EXPECT_NE(getsid(0), session);

  // An interface that cannot be executed is reported as not started.
  ASSERT_EQ(0, chmod(ui().c_str(), 0644));
  EXPECT_EQ(-1, service.LaunchPerUserBin());
}

// Through open (here a stand-in of it): its exit status decides whether the client was launched, and
// an open that hangs is not waited for beyond the bound.
TEST_F(ServiceTest, TheOpenersExitStatusDecidesTheLaunch) {
  MacService service;
  const struct {
    const char* script;
    int result;
    const char* logged;
  } rows[] = {{"exit 0", 0, nullptr},
              {"echo 'cannot be opened' >&2; exit 1", -1, "could not launch '"},
              {"echo $$ > \"$0.pid\"; exec sleep 30", 0, "still runs after 300 ms"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.script);
    const std::string opener = at("open");
    WriteFile(opener, std::string("#!/bin/sh\n") + row.script + "\n");
    ASSERT_EQ(0, chmod(opener.c_str(), 0755));
    launch_services::SetOpenerForTests(QString::fromStdString(opener), 300);
    const size_t mark = Log().size();
    service.PostUpgrade();
    EXPECT_EQ((QStringList{"-n", "-a", QString::fromStdString(app())}), requests_.back().arguments);
    EXPECT_EQ(row.result < 0, LoggedSince(mark, "Failed to launch Skyhold UI"));
    if (row.logged != nullptr) {
      EXPECT_TRUE(LoggedSince(mark, row.logged)) << Log().substr(mark);
    }
  }
  const pid_t hung = std::atoi(ReadFile(at("open.pid")).c_str());
  ASSERT_GT(hung, 0);
  kill(hung, SIGKILL);
  waitpid(hung, nullptr, 0);
}

// A request the gate refuses runs nothing and fails; the launch is reported as failed.
TEST_F(ServiceTest, ARefusedLaunchRunsNothing) {
  MakePackage("120");
  MacService service;
  ASSERT_EQ(0, service.HandlePackageUpgrade());
  // Collect every child this test process has had, so that a child found below was started here.
  while (waitpid(-1, nullptr, 0) > 0) {
  }
  std::vector<launch_services::Request> refused;
  launch_services::SetGate([&refused](const launch_services::Request& r) {
    refused.push_back(r);
    return false;
  });
  EXPECT_EQ(-1, service.LaunchPerUserBin());
  service.PostUpgrade();
  ASSERT_EQ(4u, refused.size());
  EXPECT_EQ(launch_services::Request::kUnregister, refused[0].kind);
  EXPECT_EQ(launch_services::Request::kOpenNewInstance, refused[1].kind);
  EXPECT_TRUE(Logged("Cannot unregister bundle, " + app()));
  EXPECT_TRUE(Logged("Failed to launch Skyhold UI"));
  errno = 0;
  EXPECT_EQ(-1, waitpid(-1, nullptr, WNOHANG)) << "a refused request started a process";
  EXPECT_EQ(ECHILD, errno);
  EXPECT_FALSE(Exists(app() + "/Contents/started"));
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

// --- Every change on disk ---------------------------------------------------------------------------
//
// A run ended at its N-th change on disk (through the file layer's change hook: every rename, removal,
// folder, file, link, each extracted entry and each write of the upgrade record), for every N of a
// run, then the next run ended at each of its changes too, then a normal run: whatever the two cut
// runs left, the normal run must end with the good copy (the package whole, or the old copy exactly)
// and nothing left over. Deterministic: each run is a child process that ends itself at a counted
// change; no timing is involved.
class StepTest : public ServiceTest {
 protected:
  // kOlder: a whole package of build 118 in a bundle of 118; kDamaged: the whole package, but not
  // the one whose digest the bundle recorded.
  enum class Package { kWhole, kFailing, kOlder, kDamaged };
  struct Scenario {
    bool installed;    // build 119 installed (else a first installation)
    bool old_backups;  // an earlier launcher's backups of builds 100, 105, 110 in _tmp ... _tmp2
    bool predecessor;  // ~/.Skyhold with data to migrate (first installations only)
    Package first, second, last;
    std::function<void()> between = nullptr;  // after the first start, as a copied home or a user would
    bool linked_predecessor = false;  // ~/.Skyhold links to a drive holding the user's files beside it
  };

  // Child exit status for "ended at the chosen change".
  static constexpr int kEnded = 77;

  void SetUp() override {
    ServiceTest::SetUp();
    // Thousands of runs: errors and warnings are enough, and keep the log short.
    Logger::Destroy();
    WriteFile(at("quiet.debug"), "service_debug=4\nextractor_debug=4\nfile_op_debug=4\n");
    Logger::Initialize(Logger::TYPE_FILE, at("launcher.log"), at("quiet.debug"), 50, Logger::SCOPE_THREAD);
    ShipBuild("120");
    const std::vector<testpackage::Entry> entries = {
        Dir("Contents/"),
        Dir("Contents/MacOS/"),
        File("Contents/MacOS/corvane-ui", kStartedUi, 0755),
        Dir("Contents/Resources/"),
        File("Contents/Resources/INFO", Info("120")),
        File("Contents/Resources/LICENSE", "licence\n"),
        testpackage::Symlink("Contents/Resources/COPYING", "LICENSE"),
        testpackage::Hardlink("Contents/LICENSE", "Contents/Resources/LICENSE")};
    ASSERT_EQ("", testpackage::WriteArchive(at("whole.hpk"), entries));
    std::vector<testpackage::Entry> failing = entries;
    failing.insert(failing.begin() + 5, File("Contents/../../escaped", "x"));  // refused mid-way
    ASSERT_EQ("", testpackage::WriteArchive(at("failing.hpk"), failing));
    std::vector<testpackage::Entry> older = entries;
    older[4] = File("Contents/Resources/INFO", Info("118"));
    ASSERT_EQ("", testpackage::WriteArchive(at("older.hpk"), older));
  }

  void Use(Package p) {
    WriteFile(package(), ReadFile(at(p == Package::kFailing ? "failing.hpk"
                                     : p == Package::kOlder ? "older.hpk"
                                                            : "whole.hpk")));
    ShipBuild(p == Package::kOlder ? "118" : "120");
    if (p == Package::kDamaged) {
      WriteFile(package() + ".sha256", std::string(64, '0') + "  skyhold.hpk\n");
    } else {
      unlink((package() + ".sha256").c_str());
    }
  }

  // A fresh home in the scenario's starting state.
  void Prepare(const Scenario& s) {
    testsupport::RemoveTree(corvane());
    testsupport::RemoveTree(skyhold());
    testsupport::RemoveTree(at("drive"));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(corvane() + "/log")));
    if (s.installed) {
      Install("119");
      ASSERT_TRUE(QDir().mkpath(QString::fromStdString(app() + "/Contents/Resources/sub")));
      WriteFile(app() + "/Contents/Resources/sub/file", "old file\n");
      ASSERT_EQ(0, symlink("sub/file", (app() + "/Contents/Resources/link").c_str()));
    }
    if (s.old_backups) {
      const char* builds[] = {"100", "105", "110"};
      for (int n = 0; n < 3; ++n) {
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(backup(n) + "/Contents/MacOS")));
        WriteFile(backup(n) + "/old-marker", builds[n]);
        WriteFile(backup(n) + "/Contents/MacOS/corvane-ui", "#!/bin/sh\n");
      }
    }
    if (s.linked_predecessor) {
      ASSERT_TRUE(QDir().mkpath(QString::fromStdString(at("drive"))));
      WriteFile(at("drive/Photos.jpg"), "the user's\n");
      ASSERT_EQ(0, symlink(at("drive").c_str(), skyhold().c_str()));
    }
    if (s.predecessor) {
      ASSERT_TRUE(QDir().mkpath(QString::fromStdString(skyhold() + "/data/sub")));
      ASSERT_TRUE(QDir().mkpath(QString::fromStdString(skyhold() + "/app")));
      WriteFile(skyhold() + "/data/sub/db", "predecessor data\n");
      WriteFile(skyhold() + "/app/old", "x");
    }
  }

  // One start as the worker makes it (the launch aside), with the package `p`.
  void Start(Package p) {
    Use(p);
    MacService service;
    service.PreUpgrade();
    if (service.IsNeedUpgrade()) service.HandlePackageUpgrade();
    service.ResumeMigration();
    service.RemoveAgedFolders();
  }

  // Runs Start(p) in a child that ends at change number `stop` (never with 0). True when it ended
  // there, false when the run finished first; `*changes` gets the number of changes it made then.
  bool StartInChild(Package p, int stop, int* changes = nullptr) {
    Use(p);  // before the fork: the package is not the run's change
    int pipe_fds[2];
    EXPECT_EQ(0, pipe(pipe_fds));
    const pid_t pid = fork();
    if (pid == 0) {
      close(pipe_fds[0]);
      int count = 0;
      FSSetChangeHook([&count, stop] {
        if (++count == stop) _exit(kEnded);
      });
      Start(p);
      const bool written = write(pipe_fds[1], &count, sizeof(count)) == sizeof(count);
      _exit(written ? 0 : 1);
    }
    close(pipe_fds[1]);
    int status = 0, count = -1;
    // The pipe closes when the child ends; one that hangs (a lock held at the fork) is killed.
    struct pollfd end = {pipe_fds[0], POLLIN, 0};
    if (poll(&end, 1, 120000) == 0) {
      ADD_FAILURE() << "the run did not end within two minutes; killed";
      kill(pid, SIGKILL);
    }
    const bool read_count = read(pipe_fds[0], &count, sizeof(count)) == sizeof(count);
    close(pipe_fds[0]);
    EXPECT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status)) << "the run crashed, status " << status;
    if (WIFEXITED(status) && WEXITSTATUS(status) == kEnded) return true;
    EXPECT_EQ(0, WEXITSTATUS(status)) << "the run could not report its changes";
    EXPECT_TRUE(read_count);
    if (changes != nullptr) *changes = count;
    return false;
  }

  // The names in ~/.Corvane other than the live copy, data and log: backups, copies aside, the record.
  std::set<std::string> Extras() const {
    std::set<std::string> names;
    for (const QString& name :
         QDir(QString::fromStdString(corvane()))
             .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
      if (name != "Corvane.app" && name != "data" && name != "log") names.insert(name.toStdString());
    return names;
  }

  // Every pair (N1, N2): the first start ended at its N1-th change, the second at its N2-th (or run
  // to its end; with `pairs` false, always to its end), then a start with `last`. `check` judges the
  // home afterwards; prepared_ holds ~/.Corvane as Prepare left it, with times.
  // With `pairs`, every second start is cut at each of its changes too, unless CORVANE_STEP_PAIRS is
  // "0": the sanitizer run (scripts/test) keeps every first cut, whose code paths the pairs only
  // repeat, and leaves the thousands of repeats to the plain runs.
  void RunEveryStep(const Scenario& s, const std::function<void(const std::string&)>& check,
                    bool pairs = true) {
    const char* pairs_setting = getenv("CORVANE_STEP_PAIRS");
    if (pairs_setting != nullptr && std::string(pairs_setting) == "0") pairs = false;
    int first_changes = 0;
    Prepare(s);
    ASSERT_FALSE(StartInChild(s.first, 0, &first_changes));
    ASSERT_GT(first_changes, 3);
    int cut_pairs = 0;
    for (int n1 = 1; n1 <= first_changes; ++n1) {
      for (int n2 = 1;; ++n2) {
        const std::string where = "first start ended at change " + std::to_string(n1) + " of " +
                                  std::to_string(first_changes) + ", the second at change " +
                                  std::to_string(n2);
        Prepare(s);
        prepared_ = testsupport::Snapshot(corvane(), true);
        ASSERT_TRUE(StartInChild(s.first, n1)) << where;
        if (s.between) s.between();
        const bool ended = StartInChild(s.second, pairs ? n2 : 0);
        Start(s.last);
        check(where + (ended ? "" : " (it finished first)"));
        ++cut_pairs;
        if (!ended || HasFailure()) break;
      }
      if (HasFailure()) return;
    }
    std::cout << "every step: " << first_changes << " changes in the first start, " << cut_pairs
              << " pairs of cut starts" << std::endl;
    RecordProperty("changes", first_changes);
    RecordProperty("pairs", cut_pairs);
  }

  // The installed copy (or everything in ~/.Corvane, with `all`) exactly as Prepare left it; the
  // upgrade record aside.
  void ExpectAsPrepared(const std::string& where, bool all) {
    auto now = testsupport::Snapshot(all ? corvane() : app(), true);
    std::map<std::string, std::string> want;
    for (const auto& [path, what] : prepared_) {
      if (all) {
        want[path] = what;
      } else if (path.rfind("/Corvane.app/", 0) == 0) {
        want[path.substr(12)] = what;
      }
    }
    now.erase("/Corvane.app.upgrade");
    EXPECT_EQ("", testsupport::Difference(want, now)) << where;
  }
  bool AsPrepared() const {
    std::map<std::string, std::string> want;
    for (const auto& [path, what] : prepared_)
      if (path.rfind("/Corvane.app/", 0) == 0) want[path.substr(12)] = what;
    return want == testsupport::Snapshot(app(), true);
  }

  std::map<std::string, std::string> prepared_;

  void ExpectNewCopy(const std::string& where, const std::map<std::string, std::string>& reference) {
    EXPECT_EQ("", testsupport::Difference(reference, testsupport::Snapshot(app(), false))) << where;
    EXPECT_TRUE(Extras().empty()) << where << ": left " << *Extras().begin();
  }
  // A reference of the new copy: a first installation with the whole package in a home of its own.
  std::map<std::string, std::string> NewCopy() {
    Prepare({false, false, false, Package::kWhole, Package::kWhole, Package::kWhole});
    Start(Package::kWhole);
    return testsupport::Snapshot(app(), false);
  }
};

TEST_F(StepTest, AnUpgradeEndedAtAnyChangeThenAgainIsCompletedByTheNextStart) {
  const auto reference = NewCopy();
  RunEveryStep({true, false, false, Package::kWhole, Package::kWhole, Package::kWhole},
               [&](const std::string& where) { ExpectNewCopy(where, reference); });
}

TEST_F(StepTest, AFirstInstallationWithMigrationEndedAtAnyChangeIsCompleted) {
  const auto reference = NewCopy();
  Scenario s = {false, false, true, Package::kWhole, Package::kWhole, Package::kWhole};
  for (bool linked : {false, true}) {
    s.linked_predecessor = linked;
    const auto check = [&](const std::string& where) {
      ExpectNewCopy(where, reference);
      EXPECT_EQ("predecessor data\n", ReadFile(corvane() + "/data/sub/db")) << where;
      EXPECT_FALSE(Exists(skyhold())) << where;
      EXPECT_TRUE(QDir(QString::fromStdString(home()))
                      .entryList({".Skyhold_trash.*"}, QDir::Hidden | QDir::Dirs)
                      .empty());
      // Where a linked ~/.Skyhold led keeps all but the data, the predecessor's aged folder too.
      if (linked) {
        EXPECT_EQ("the user's\nx", ReadFile(at("drive/Photos.jpg")) + ReadFile(at("drive/app/old"))) << where;
      }
    };
    RunEveryStep(s, check, !linked);
  }
}

// Failures: the old copy comes back exactly, or (after the first start committed) the new one stays.
TEST_F(StepTest, AnUpgradeEndedAtAnyChangeThenFailingEndsWithTheOldCopyOrTheNewOne) {
  const auto reference = NewCopy();
  RunEveryStep({true, false, false, Package::kWhole, Package::kFailing, Package::kFailing},
               [&](const std::string& where) {
                 if (!AsPrepared()) ExpectNewCopy(where, reference);
                 EXPECT_TRUE(Extras().empty()) << where << ": left " << *Extras().begin();
               });
  RunEveryStep(
      {true, false, false, Package::kFailing, Package::kFailing, Package::kFailing},
      [&](const std::string& where) {
        ExpectAsPrepared(where, false);
        EXPECT_TRUE(Extras().empty()) << where << ": left " << *Extras().begin();
      },
      false);
}

// An earlier launcher's backups (builds 100, 105, 110): failures put 119 back and keep them as they
// are, success removes them all.
TEST_F(StepTest, BackupsOfAnEarlierLauncherNeverReplaceTheLiveCopy) {
  const auto reference = NewCopy();
  RunEveryStep(
      {true, true, false, Package::kFailing, Package::kFailing, Package::kFailing},
      [&](const std::string& where) { ExpectAsPrepared(where, true); }, false);
  RunEveryStep(
      {true, true, false, Package::kFailing, Package::kWhole, Package::kWhole},
      [&](const std::string& where) { ExpectNewCopy(where, reference); }, false);
}

// A cut-short upgrade met by an older bundle, a damaged package, a record that a later launcher or a
// stray file changed, or a kept copy the user removed by hand: the old copy comes back exactly, or the
// new one stays once the first start had committed it or nothing else is left. A cut-short first
// installation in a home copied or restored since (every inode changed) is still finished.
TEST_F(StepTest, CutShortUpgradesMeetOlderBundlesDamagedPackagesAndAlteredRecords) {
  const auto reference = NewCopy();
  const std::string rec = record();
  struct Row {
    const char* what;
    Package next;
    std::function<void()> between;
  } const rows[] = {
      {"an older bundle", Package::kOlder, nullptr},
      {"a damaged package", Package::kDamaged, nullptr},
      {"keys of a later launcher, a named pipe at the record's temporary name", Package::kFailing,
       [&] {
         if (Exists(rec)) WriteFile(rec, ReadFile(rec) + "later_key=1\n");
         unlink((rec + ".new").c_str());
         ASSERT_EQ(0, mkfifo((rec + ".new").c_str(), 0600));
       }},
      {"the kept copy removed by hand", Package::kWhole,
       [&] {
         for (int n = 0; n < 10; ++n) testsupport::RemoveTree(backup(n));
       }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    RunEveryStep(
        {true, false, false, Package::kWhole, r.next, r.next, r.between},
        [&](const std::string& where) {
          if (!AsPrepared()) ExpectNewCopy(where, reference);
          EXPECT_TRUE(Extras().empty()) << where << ": left " << *Extras().begin();
        },
        false);
  }
  const auto copied_home = [&] {
    const std::string copy = home() + "/.Corvane-copy";
    ASSERT_EQ(0, system(("cp -a '" + corvane() + "' '" + copy + "'").c_str()));
    testsupport::RemoveTree(corvane());
    ASSERT_EQ(0, rename(copy.c_str(), corvane().c_str()));
  };
  RunEveryStep(
      {false, false, false, Package::kWhole, Package::kFailing, Package::kWhole, copied_home},
      [&](const std::string& where) { ExpectNewCopy(where, reference); }, false);
}

// Records that name no copy on disk (a copy that is gone, a kept build past every other, a folder
// that reuses the inode number of the kept copy) and leftovers of the wrong type at the record's
// names: one start with a failing package leaves the live 119 exactly and startable, and a whole
// package then installs. An earlier launcher's record of a first installation (good=none) says that
// whatever is live is unfinished, its INFO notwithstanding: it is never started, and replaced.
TEST_F(StepTest, StaleRecordsAndLeftoversNeverCostTheLiveCopy) {
  const auto reference = NewCopy();
  const std::string rec = record();
  const auto inode = [](const std::string& path) {
    struct stat st = {};
    lstat(path.c_str(), &st);
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  };
  const struct {
    bool unfinished;
    std::function<void()> make;
    const char* logged = "";
  } rows[] = {
      {true, [&] { WriteFile(rec, "state=upgrading\ngood=none\n"); }},
      {true,
       [&] {
         WriteFile(rec, "version=2\nstate=upgrading\ngood=none\nnew=" + inode(app()) + "\nnew_build=120\n");
       }},
      {false, [&] { WriteFile(rec, "version=3\nstate=upgrading\ngood=3\ngood_build=119\n"); }},
      {false, [&] { WriteFile(rec, "version=2\nstate=upgrading\ngood=0\ngood_build=2147483647\n"); }},
      {false,
       [&] {
         MakeCopy(backup(4), 1);
         WriteFile(rec, "state=upgrading\ngood=" + inode(backup(4)) + "\ngood_build=119\n");
       }},
      // One past the last backup name is no record at all.
      {false,
       [&] {
         MakeCopy(app() + "_tmp10", 1);
         WriteFile(rec, "version=3\nstate=upgrading\ngood=10\ngood_build=0\n");
       },
       "': not a record this launcher writes"},
      {false, [&] { WriteFile(rec, "version=3\nstate=kept\nlater_key=1\n"); }},
      {false, [&] { ASSERT_EQ(0, mkdir(rec.c_str(), 0700)); }},
      {false, [&] { ASSERT_EQ(0, symlink(at("elsewhere").c_str(), (rec + ".new").c_str())); }},
  };
  for (size_t row = 0; row < sizeof(rows) / sizeof(rows[0]); ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    const size_t mark = Log().size();
    Prepare({true, false, false, Package::kFailing, Package::kFailing, Package::kFailing});
    prepared_ = testsupport::Snapshot(corvane(), true);
    rows[row].make();
    EXPECT_FALSE(StartInChild(Package::kFailing, 0));
    testsupport::RemoveTree(backup(4));
    testsupport::RemoveTree(app() + "_tmp10");
    EXPECT_TRUE(LoggedSince(mark, rows[row].logged));
    EXPECT_EQ(!rows[row].unfinished, IsWholeInstallation(app()));
    if (!rows[row].unfinished) ExpectAsPrepared("after a failing start", false);
    EXPECT_TRUE(Extras().empty()) << "left " << *Extras().begin();
    EXPECT_FALSE(Exists(at("elsewhere")));
    Start(Package::kWhole);
    ExpectNewCopy("after a whole package", reference);
  }
}

// A first installation that fails: nothing is taken as installed, whatever was cut short, and the
// next whole package completes it.
TEST_F(StepTest, AFailingFirstInstallationEndedAtAnyChangeIsNeverTakenAsInstalled) {
  const auto reference = NewCopy();
  RunEveryStep(
      {false, false, false, Package::kFailing, Package::kFailing, Package::kFailing},
      [&](const std::string& where) {
        MacService service;
        service.PreUpgrade();
        EXPECT_TRUE(service.IsNeedUpgrade()) << where;
        for (int n = 0; n < 10; ++n) EXPECT_FALSE(Exists(backup(n))) << where;
        Start(Package::kWhole);
        ExpectNewCopy(where, reference);
      },
      false);
}

}  // namespace
