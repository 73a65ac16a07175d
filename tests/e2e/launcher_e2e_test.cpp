// Whole runs of the real launcher: a copy of the bundle the build assembles, started as a separate
// process with a temporary home folder on Qt's offscreen platform, checked only through what it
// leaves on disk, its exit status, its standard output and its log.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform.h"
#include "process-control.h"
#include "running_ui.h"
#include "temp_dir.h"
#include "whole_run.h"

namespace fs = std::filesystem;
using testsupport::Difference;
using testsupport::Exists;
using testsupport::Lines;
using testsupport::Messages;
using testsupport::ReadFile;
using testsupport::Snapshot;
using testsupport::WriteFile;

namespace {

const std::string kBundle = testsupport::BuiltBundle(CORVANE_BUNDLE);
// A guard against a launcher that never ends; a normal run takes well under a second.
const auto kHangLimit = std::chrono::seconds(120);

std::string Sh(const std::string& command) {
  const int status = std::system(command.c_str());
  EXPECT_EQ(status, 0) << command;
  return command;
}

std::string Quote(const std::string& s) {
  return "'" + s + "'";
}

bool Contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

// Index of the first element equal to s; -1 when none.
int IndexOf(const std::vector<std::string>& v, const std::string& s) {
  auto it = std::find(v.begin(), v.end(), s);
  return it == v.end() ? -1 : static_cast<int>(it - v.begin());
}

// True while `pid` names a live process (not a zombie).
bool Alive(pid_t pid) {
  return testsupport::IsLiveProcess(pid);
}

class LauncherRunTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    // The launcher inherits it; the reference installation must see the same one.
    umask(022);
    home_ = at("home");
    app_ = at("Corvane.app");
    ASSERT_TRUE(fs::is_directory(kBundle + "/Contents/MacOS")) << "build the bundle target first";
    fs::create_directory(home_);
    fs::copy(kBundle, app_, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    // Full detail for every component, so that the log shows each step.
    fs::create_directories(app_ + "/Contents/Resources/log");
    WriteFile(app_ + "/Contents/Resources/log/launcher.debug",
              "launcher_debug=7\nservice_debug=7\nextractor_debug=7\nfile_op_debug=6\n");
    package_ = app_ + "/Contents/Resources/package/skyhold.hpk";
    // What a correct installation of the package looks like.
    reference_ = at("reference");
    fs::create_directory(reference_);
    Sh("bsdtar -xpf " + Quote(package_) + " -C " + Quote(reference_));
  }

  void TearDown() override { WaitForUiToEnd(); }

  // Starts the launcher; its standard output and error go to files named after `tag`.
  pid_t Start(const std::string& tag) {
    ran_ = true;
    return testsupport::StartLauncher(app_, home_, at(tag));
  }

  // The exit status of `pid`, or -1 when it did not end normally within the hang limit.
  int Wait(pid_t pid) { return testsupport::WaitLauncher(pid, kHangLimit); }

  int Run(const std::string& tag = "run") { return Wait(Start(tag)); }

  // Polls for `predicate` until the hang limit; the launcher's detached interface is not our child,
  // so there is no signal to wait for.
  template <typename F>
  bool Eventually(F predicate) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!predicate()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  // The pid that the interface started by the launcher wrote (a pid file naming `stale_pid_` is
  // not its), or 0 when none appeared.
  pid_t UiPid() {
    const std::string file = home_ + "/.Corvane/ui.pid";
    pid_t pid = 0;
    Eventually([&] {
      const std::string text = Exists(file) ? ReadFile(file) : "";
      if (text.rfind("pid=", 0) != 0 || text.back() != '\n') return false;
      pid = static_cast<pid_t>(atol(text.c_str() + 4));
      return pid > 0 && pid != stale_pid_;
    });
    return pid != stale_pid_ ? pid : 0;
  }

  // Every run starts the interface, which writes into the home folder: let it finish before the
  // folder goes.
  void WaitForUiToEnd() {
    if (!ran_) return;
    const pid_t pid = UiPid();
    EXPECT_GT(pid, 0) << "the launcher did not start the interface";
    if (pid > 0) {
      EXPECT_TRUE(Eventually([&] { return !Alive(pid); }));
    }
  }

  // Installs the package as build `build` in the home folder, as an earlier run would have.
  void InstallOld(int build) {
    const std::string dest = home_ + "/.Corvane/Corvane.app";
    fs::create_directories(dest);
    Sh("bsdtar -xpf " + Quote(package_) + " -C " + Quote(dest));
    WriteFile(dest + "/Contents/Resources/INFO",
              "[Version]\nmajor_version=1\nminor_version=0\nbuild_version=" + std::to_string(build) +
                  "\nicon_overlay_version=1\n");
  }

  std::string Log() { return ReadFile(home_ + "/.Corvane/log/launcher.log"); }
  std::string Installed() const { return home_ + "/.Corvane/Corvane.app"; }

  std::string home_, app_, package_, reference_;
  pid_t stale_pid_ = 0;  // a pid file's pid written by the test, not by the started interface
  bool ran_ = false;
};

TEST_F(LauncherRunTest, FirstInstallationUnpacksThePackageAndStartsTheInterface) {
  EXPECT_EQ(Run(), 0);

  EXPECT_EQ(Lines(ReadFile(at("run.out"))).front(), "lib path = '" + app_ + "/Contents/Frameworks/plugins'");
  EXPECT_EQ(Snapshot(Installed(), false), Snapshot(reference_, false));
  EXPECT_FALSE(Exists(Installed() + "_tmp"));

  // The interface that runs is the per-user copy, started after the installation.
  const pid_t ui = UiPid();
  ASSERT_GT(ui, 0);
  std::string exe;
  if (GetProcessExecutablePath(ui, &exe) == 0) {  // it may already have ended, which is no fault
    EXPECT_EQ(exe, Installed() + "/Contents/MacOS/corvane-ui");
  }
  const std::vector<std::string> m = Messages(Log());
  EXPECT_TRUE(Contains(m, "source does not exist"));
  EXPECT_TRUE(Contains(m, "source version = 0, target version = 120"));
  EXPECT_LT(IndexOf(m, "user installation is ready, removing backup app"), IndexOf(m, "done"));
}

TEST_F(LauncherRunTest, NothingToUpgradeLeavesTheInstallationAlone) {
  InstallOld(120);
  WriteFile(Installed() + "/Contents/Resources/user-note", "kept\n");
  const auto before = Snapshot(Installed());

  EXPECT_EQ(Run(), 0);

  EXPECT_EQ(Snapshot(Installed()), before);
  const std::vector<std::string> m = Messages(Log());
  const int running = IndexOf(m, "running"), no_need = IndexOf(m, "no need to upgrade"),
            done = IndexOf(m, "done");
  ASSERT_GE(running, 0);
  EXPECT_LT(running, no_need);
  EXPECT_LT(no_need, done);
  EXPECT_EQ(std::count_if(m.begin(), m.end(),
                          [](const std::string& s) { return s.rfind("extract package", 0) == 0; }),
            0);
  EXPECT_GT(UiPid(), 0) << "the interface is started on every run";
}

TEST_F(LauncherRunTest, UpgradeFrom119To120ReplacesTheBundleAndRemovesTheBackup) {
  InstallOld(119);
  WriteFile(Installed() + "/Contents/Resources/only-in-119", "old\n");

  EXPECT_EQ(Run(), 0);

  EXPECT_EQ(Snapshot(Installed(), false), Snapshot(reference_, false));
  EXPECT_FALSE(Exists(Installed() + "/Contents/Resources/only-in-119"));
  EXPECT_FALSE(Exists(Installed() + "_tmp"));
  const std::vector<std::string> m = Messages(Log());
  EXPECT_TRUE(Contains(m, "source version = 119, target version = 120"));
  EXPECT_TRUE(Contains(m, "user installation is ready, removing backup app"));
  EXPECT_FALSE(Contains(m, "Failed to upgrade package"));
}

TEST_F(LauncherRunTest, FailedExtractionPutsTheOldBundleBackByteForByte) {
  InstallOld(119);
  // A package cut short in the middle of its data, in a bundle without a recorded digest: the
  // extraction is what meets the damage.
  const std::string whole = ReadFile(package_);
  WriteFile(package_, whole.substr(0, whole.size() / 2));
  fs::remove(package_ + ".sha256");
  const auto before = Snapshot(Installed());

  EXPECT_EQ(Run(), 0);

  EXPECT_EQ(Snapshot(Installed()), before);
  for (int n = 0; n <= 9; ++n) EXPECT_FALSE(Exists(Installed() + "_tmp" + (n == 0 ? "" : std::to_string(n))));
  const std::vector<std::string> m = Messages(Log());
  EXPECT_TRUE(Contains(m, "Failed to extract package, rollback to old installation"));
  EXPECT_TRUE(Contains(m, "Failed to upgrade package"));
  EXPECT_LT(IndexOf(m, "Failed to upgrade package"), IndexOf(m, "done"));
}

TEST_F(LauncherRunTest, SecondInstanceExitsAtOnceWhileTheFirstRuns) {
  InstallOld(119);
  // An interface that takes three seconds to go after SIGTERM holds the first launcher in its wait.
  // It runs from inside ~/.Corvane, as the interface does: the launcher stops no other program.
  const pid_t sleeper = testsupport::StartRunningUi(home_ + "/.Corvane/Corvane.app/Contents/MacOS", "", 3000);
  ASSERT_GT(sleeper, 0);
  stale_pid_ = sleeper;
  // Reaped at once when it ends, so the launcher's probes never see a zombie.
  std::thread reaper([sleeper] { waitpid(sleeper, nullptr, 0); });
  fs::create_directories(home_ + "/.Corvane");
  WriteFile(home_ + "/.Corvane/ui.pid", "pid=" + std::to_string(sleeper) + "\n");

  const pid_t first = Start("first");
  ASSERT_TRUE(Eventually([&] {
    return Exists(home_ + "/.Corvane/log/launcher.log") && Contains(Messages(Log()), "local appdata exist");
  }));

  EXPECT_EQ(Run("second"), 0);
  int status = 0;
  EXPECT_EQ(waitpid(first, &status, WNOHANG), 0) << "the second launcher must not wait for the first";
  EXPECT_EQ(Lines(ReadFile(at("second.out"))).front(),
            "lib path = '" + app_ + "/Contents/Frameworks/plugins'");

  EXPECT_EQ(Wait(first), 0);
  reaper.join();  // the sleeper got SIGTERM and ended
  const std::vector<std::string> m = Messages(Log());
  EXPECT_EQ(std::count(m.begin(), m.end(), "app has already launched, return"), 1);
  EXPECT_EQ(std::count(m.begin(), m.end(), "running"), 1) << "only the first runs the job";
  EXPECT_EQ(std::count_if(m.begin(), m.end(), [](const std::string& s) { return s.rfind(">>> ", 0) == 0; }),
            7)
      << "the second launcher writes no path dump";
  EXPECT_EQ(Snapshot(Installed(), false), Snapshot(reference_, false));
}

// Started through a symbolic link from another folder, or by a bare name found in PATH, Qt still
// finds its platform plug-in inside the bundle.
TEST_F(LauncherRunTest, StartedThroughALinkOrByNameFindsItsPlugins) {
  fs::create_directories(at("bin"));
  fs::create_symlink(app_ + "/Contents/MacOS/corvane-launcher", at("bin/corvane"));
  const std::string lib_path =
      "lib path = '" + fs::canonical(app_).string() + "/Contents/Frameworks/plugins'";
  testsupport::LaunchAs link, by_name;
  link.exe = at("bin/corvane");
  by_name.exe = "corvane";
  by_name.path = at("bin") + ":/usr/bin:/bin";
  ran_ = true;
  EXPECT_EQ(Wait(testsupport::StartLauncher(app_, home_, at("link"), link)), 0);
  EXPECT_EQ(Lines(ReadFile(at("link.out"))).front(), lib_path);
  EXPECT_EQ(Snapshot(Installed(), false), Snapshot(reference_, false));
  stale_pid_ = UiPid();
  ASSERT_TRUE(Eventually([&] { return !Alive(stale_pid_); }));

  EXPECT_EQ(Wait(testsupport::StartLauncher(app_, home_, at("by-name"), by_name)), 0);
  EXPECT_EQ(Lines(ReadFile(at("by-name.out"))).front(), lib_path);
  EXPECT_TRUE(Contains(Messages(Log()), "no need to upgrade"));
}

TEST_F(LauncherRunTest, PredecessorDataIsMigratedAndItsFolderRemoved) {
  fs::create_directories(home_ + "/.Skyhold/data/sessions");
  fs::create_directories(home_ + "/.Skyhold/app/Skyhold.app");
  WriteFile(home_ + "/.Skyhold/data/sessions/nas1.db", "session data\n");
  WriteFile(home_ + "/.Skyhold/data/settings.ini", "[General]\nlanguage=enu\n");

  EXPECT_EQ(Run(), 0);

  EXPECT_EQ(ReadFile(home_ + "/.Corvane/data/sessions/nas1.db"), "session data\n");
  EXPECT_EQ(ReadFile(home_ + "/.Corvane/data/settings.ini"), "[General]\nlanguage=enu\n");
  EXPECT_FALSE(Exists(home_ + "/.Skyhold"));
  EXPECT_EQ(Snapshot(Installed(), false), Snapshot(reference_, false));
}

TEST_F(LauncherRunTest, WithoutALogFolderTheUpgradeStillHappens) {
  fs::create_directories(home_ + "/.Corvane");
  WriteFile(home_ + "/.Corvane/log", "a file where the log folder belongs\n");

  EXPECT_EQ(Run(), 0);

  EXPECT_EQ(ReadFile(home_ + "/.Corvane/log"), "a file where the log folder belongs\n");
  EXPECT_EQ(Snapshot(Installed(), false), Snapshot(reference_, false));
  EXPECT_GT(UiPid(), 0);
  for (auto& entry : fs::recursive_directory_iterator(home_))
    EXPECT_EQ(entry.path().filename().string().find("launcher.log"), std::string::npos) << entry.path();
  // Said once, where it can still be seen.
  const std::string err = ReadFile(at("run.err"));
  const std::string said = "cannot create log folder '" + home_ + "/.Corvane/log', no log file is written";
  const size_t at_ = err.find(said);
  EXPECT_NE(at_, std::string::npos) << err;
  EXPECT_EQ(err.find(said, at_ + 1), std::string::npos) << err;
}

// A signed bundle must stay as it was signed: without a debug switch file in the bundle, the user's
// ~/.Corvane/log/launcher.debug raises the levels; the bundle's wins when it has one.
TEST_F(LauncherRunTest, TheUsersDebugSwitchFileServesWhenTheBundleHasNone) {
  fs::remove(app_ + "/Contents/Resources/log/launcher.debug");
  fs::create_directories(home_ + "/.Corvane/log");
  WriteFile(home_ + "/.Corvane/log/launcher.debug", "launcher_debug=7\n");
  EXPECT_EQ(Run("user"), 0);
  EXPECT_TRUE(Contains(Messages(Log()), "running")) << Log();
  stale_pid_ = UiPid();
  ASSERT_TRUE(Eventually([&] { return !Alive(stale_pid_); }));

  WriteFile(app_ + "/Contents/Resources/log/launcher.debug", "launcher_debug=4\n");
  WriteFile(home_ + "/.Corvane/log/launcher.log", "");
  EXPECT_EQ(Run("bundle"), 0);
  EXPECT_FALSE(Contains(Messages(Log()), "running")) << Log();
}

// A named pipe where the log file belongs never stops the launcher (opening it used to wait for a
// reader for ever, with the single-instance lock held): the log is refused, the run goes on and says
// so on standard error.
TEST_F(LauncherRunTest, ANamedPipeForTheLogNeverStopsTheLauncher) {
  fs::create_directories(home_ + "/.Corvane/log");
  ASSERT_EQ(mkfifo((home_ + "/.Corvane/log/launcher.log").c_str(), 0644), 0);

  EXPECT_EQ(Run(), 0);

  EXPECT_EQ(Snapshot(Installed(), false), Snapshot(reference_, false));
  EXPECT_TRUE(fs::is_fifo(home_ + "/.Corvane/log/launcher.log"));
  const std::string err = ReadFile(at("run.err"));
  EXPECT_NE(
      err.find("cannot open log file '" + home_ + "/.Corvane/log/launcher.log', logging to standard error"),
      std::string::npos)
      << err;
}

// Every line has the log's fixed form, names its own source file, and carries this run's pid; the
// path dump shows the seven keys, the four never registered ones empty.
TEST_F(LauncherRunTest, LogLinesHaveTheFixedFormAndExactTexts) {
  const pid_t pid = Start("run");
  EXPECT_EQ(Wait(pid), 0);

  const std::regex form(
      R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d \( *(\d+): *(\d+)\) \[(ERROR|WARNING|NOTE|INFO|DEBUG)\] )"
      R"((main|launcher|cloud-service|mac/mac-service|package-digest|extractor|file-op)\.cpp\((\d+)\): (.*)$)");
  const std::vector<std::string> lines = Lines(Log());
  ASSERT_FALSE(lines.empty());
  std::map<std::string, int> files;
  for (const std::string& line : lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, form)) << line;
    EXPECT_EQ(std::stoi(m[1]), pid) << line;
    EXPECT_LT(std::stoi(m[2]), 100000);
    files[m[4]]++;
  }
  EXPECT_GT(files["main"], 0);
  EXPECT_GT(files["launcher"], 0);
  EXPECT_GT(files["cloud-service"], 0);
  EXPECT_GT(files["package-digest"], 0);  // the bundle's package checked against its digest
  EXPECT_GT(files["mac/mac-service"], 0);
  EXPECT_GT(files["extractor"], 0);

  const std::string resources = app_ + "/Contents/Resources";
  const std::vector<std::string> expected_dump = {
      ">>> user_skyhold_path = " + home_ + "/.Skyhold",
      ">>> user_skyhold_app_path = ",
      ">>> user_skyhold_resource_path = " + home_ + "/.Skyhold/Skyhold.app/Contents/Resources",
      ">>> user_skyhold_data_path = ",
      ">>> user_skyhold_working_dir_path = ",
      ">>> user_skyhold_corvane_ui_path = ",
      ">>> root_resource_path = " + resources,
  };
  const std::vector<std::string> m = Messages(Log());
  ASSERT_GE(m.size(), expected_dump.size());
  EXPECT_EQ(std::vector<std::string>(m.begin(), m.begin() + 7), expected_dump);
  for (const std::string& line : lines) {
    if (line.find(">>> ") != std::string::npos) {
      EXPECT_NE(line.find("[INFO] main.cpp("), std::string::npos) << line;
    }
    if (line.find("): running") != std::string::npos) {
      EXPECT_NE(line.find("[DEBUG] launcher.cpp("), std::string::npos) << line;
    }
  }
  EXPECT_TRUE(Contains(m, "target_version = (1, 0, 120, 1)"));
  EXPECT_TRUE(
      Contains(m, "extract package: '" + resources + "/package/skyhold.hpk' -> '" + Installed() + "'"));
  EXPECT_TRUE(Contains(m, "removing aged app folder " + home_ + "/.Skyhold/app"));
  EXPECT_LT(IndexOf(m, "running"), IndexOf(m, "done"));
  EXPECT_EQ(m.back(), "done");
}

}  // namespace

namespace {

// The started interface gets the launcher's standard streams and nothing else: neither the log, open
// for writing, nor the single-instance lock, whose holder would otherwise outlive the launcher.
TEST_F(LauncherRunTest, TheStartedInterfaceInheritsNoFileOfTheLaunchers) {
  EXPECT_EQ(Run(), 0);
  std::vector<std::string> out;
  ASSERT_TRUE(Eventually([&] {
    out = Lines(ReadFile(at("run.out")));
    return Contains(out, "corvane-ui: inherited descriptors listed");
  })) << ReadFile(at("run.out"));
  std::vector<std::string> own;
  for (const std::string& file : {home_ + "/.Corvane/log/launcher.log", home_ + "/.Corvane/launcher.lock"}) {
    struct stat st;
    EXPECT_EQ(stat(file.c_str(), &st), 0) << file;
    own.push_back(std::to_string(st.st_dev) + " " + std::to_string(st.st_ino));
  }
  for (const std::string& line : out) {
    for (const std::string& id : own) {
      const std::string prefix = "corvane-ui: inherited descriptor ";
      if (line.rfind(prefix, 0) == 0) {
        EXPECT_NE(line.substr(line.find(' ', prefix.size()) + 1), id) << line;
      }
    }
  }
}

// A second start while the first runs leaves nothing in the log but its one DEBUG line: not even the
// logger's note about a level file it cannot use, which the first one writes once.
TEST_F(LauncherRunTest, ASecondStartWritesNoNoteOfItsOwn) {
  const std::string levels = app_ + "/Contents/Resources/log/launcher.debug";
  WriteFile(levels, "launcher_debug=7\nservice_debug=7 oops\n");
  InstallOld(119);
  const std::string termed = at("sleeper-got-term");
  const pid_t sleeper =
      testsupport::StartRunningUi(home_ + "/.Corvane/Corvane.app/Contents/MacOS", termed, 3000);
  ASSERT_GT(sleeper, 0);
  stale_pid_ = sleeper;
  std::thread reaper([sleeper] { waitpid(sleeper, nullptr, 0); });
  WriteFile(home_ + "/.Corvane/ui.pid", "pid=" + std::to_string(sleeper) + "\n");

  const pid_t first = Start("first");
  // The first one waits for the interface it asked to stop.
  EXPECT_TRUE(Eventually([&] { return Exists(termed); }));
  EXPECT_EQ(Run("second"), 0);
  EXPECT_EQ(Wait(first), 0);
  reaper.join();
  const std::vector<std::string> m = Messages(Log());
  EXPECT_EQ(std::count_if(m.begin(), m.end(),
                          [](const std::string& s) { return s.rfind("ignoring log level file", 0) == 0; }),
            1)
      << Log();
}

// Without HOME, and without a home in the password database, the launcher says why on standard error
// and stops before it writes anything ("/.Corvane" would be nobody's home).
TEST_F(LauncherRunTest, WithoutAnyHomeFolderNothingIsWritten) {
  if (!testsupport::IsRoot()) GTEST_SKIP() << "needs root to run as an account the password database lacks";
  const uid_t nobody_known = 54321;
  ASSERT_EQ(getpwuid(nobody_known), nullptr) << "uid " << nobody_known << " has an account here";
  const std::string cwd = at("cwd");
  fs::create_directory(cwd);
  for (const std::string& folder : {tmp(), cwd}) chmod(folder.c_str(), 0777);
  const auto before = Snapshot(tmp());
  testsupport::LaunchAs as;
  as.uid = nobody_known;
  as.gid = nobody_known;
  as.no_home = true;
  const pid_t pid = testsupport::StartLauncher(app_, home_, at("nohome"), as);
  EXPECT_NE(Wait(pid), 0);
  const std::string err = ReadFile(at("nohome.err"));
  EXPECT_NE(err.find("cannot tell the user's home folder, stopping: HOME is not set and the password "
                     "database has no account with uid 54321"),
            std::string::npos)
      << err;
  auto after = Snapshot(tmp());
  after.erase("/nohome.out");
  after.erase("/nohome.err");
  EXPECT_EQ(Difference(before, after), "");
  EXPECT_FALSE(Exists("/.Corvane"));
}

}  // namespace
