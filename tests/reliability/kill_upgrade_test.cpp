// The launcher killed with SIGKILL in the middle of an upgrade, then run again undisturbed. Each
// moment is reached by watching the home folder and the log for a phase of the run (the interface
// told to stop, a backup name taken, filler number n unpacked, the backups being removed, the
// predecessor's data moved) and killing at once or a set time after. Whatever the moment, after the
// second run the private bundle must be exactly the package, no backup name may remain, and the user's
// data and the predecessor's data must be whole, and the interface started. With a damaged package the
// kills fall in the extraction and the rollback, and after the second run (with the same package) the
// old bundle must be back whole and started.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "harness.h"
#include "temp_dir.h"

namespace fs = std::filesystem;
using testsupport::WriteFile;

namespace reliability {
namespace {

// Big enough that each phase lasts some milliseconds, small enough for forty runs.
constexpr int kFillers = 300;
constexpr size_t kFillerSize = 2048;

enum class Scenario {
  kUpgrade,          // build 119 installed, its interface running (or its ui.pid stale), user data
  kStaleBackups,     // the same, with Corvane.app_tmp and _tmp1 taken by an older cut-short upgrade
  kFirstWithSkyhold  // no private bundle; the predecessor's folder with data, app and its running UI
};

struct Home {
  std::string home, corvane, app, data, skyhold, marker;
  std::map<std::string, std::string> data_before, predecessor_data_before;
  std::map<std::string, std::map<std::string, std::string>> backups_before;  // an earlier launcher's
  std::unique_ptr<FakeUi> ui;
};

struct Moment {
  std::string name;
  Scenario scenario;
  bool running_ui;  // an interface that takes a moment to stop after SIGTERM
  std::function<bool(Home&, LogWatcher&)> trigger;
  int delay_ms;
};

class KillUpgradeTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    // The launcher inherits it; the reference installation must see the same one.
    umask(022);
    const std::vector<Entry> entries = BundleEntries(120, kFillers, kFillerSize, "120");
    WritePackage(at("skyhold.hpk"), entries);
    bundle_ = at("Corvane.app");
    for (const Entry& e : entries)
      if (e.name == "Contents/Resources/INFO") MakeBundle(bundle_, at("skyhold.hpk"), e.data);
    Unpack(at("skyhold.hpk"), at("reference"));
    reference_ = Snapshot(at("reference"), false);
    ASSERT_GT(reference_.size(), static_cast<size_t>(kFillers));
    OldBundle(20);
  }

  // Ships the package cut off two thirds in: every run fails in the middle of the extraction, and
  // the bundle to find after the second run is the old one (with `then_whole`, the package whole,
  // shipped for a third run).
  void ShipDamagedPackage(bool then_whole = false) {
    const std::string whole = testsupport::ReadFile(at("skyhold.hpk"));
    WriteFile(bundle_ + "/Contents/Resources/package/skyhold.hpk", whole.substr(0, whole.size() * 2 / 3));
    RecordPackageDigest(bundle_);  // taken for whole, so that the extraction itself fails
    damaged_ = true;
    then_whole_ = then_whole;
    if (then_whole) return;
    testsupport::RemoveTree(at("old-reference"));
    WriteTree(at("old-reference"), old_);
    reference_ = Snapshot(at("old-reference"), false);
  }

  // The installed build 119; a big one only where removing the backup must take a while.
  void OldBundle(int fillers) {
    old_ = BundleEntries(119, fillers, kFillerSize, "119");
    old_.push_back({Entry::kFile, "Contents/Resources/only-in-119", "old\n", 0644});
  }

  void TearDown() override {
    std::ostringstream line;
    line << "moments: " << killed_ << " killed, " << missed_ << " missed (the run ended first), "
         << recovered_ << " recovered completely; " << states_.size()
         << " distinct on-disk states at the kill";
    std::cout << line.str() << std::endl;
    RecordProperty("killed", killed_);
  }

  std::unique_ptr<Home> Prepare(const Moment& m, int index) {
    auto h = std::make_unique<Home>();
    h->home = at("home" + std::to_string(index));
    h->corvane = h->home + "/.Corvane";
    h->app = h->corvane + "/Corvane.app";
    h->data = h->corvane + "/data";
    h->skyhold = h->home + "/.Skyhold";
    h->marker = at("term" + std::to_string(index));
    fs::create_directories(h->home);

    // The predecessor's folder: its data, its aged application folder and more that goes with it.
    fs::create_directories(h->skyhold + "/data/sessions");
    WriteFile(h->skyhold + "/data/sessions/nas1.db", "session of nas1\n");
    WriteFile(h->skyhold + "/data/settings.ini", "[General]\nlanguage=enu\n");
    // Removing it takes a while only where the moments need it.
    const int skyhold_fillers = m.scenario == Scenario::kFirstWithSkyhold ? 150 : 5;
    WriteTree(h->skyhold + "/app", BundleEntries(90, skyhold_fillers, 512, "skyhold-app"));
    WriteTree(h->skyhold + "/cache", BundleEntries(90, skyhold_fillers, 512, "skyhold-cache"));
    h->predecessor_data_before = Snapshot(h->skyhold + "/data", false);

    if (m.scenario != Scenario::kFirstWithSkyhold) {
      WriteTree(h->app, old_);
      fs::create_directories(h->data + "/sync");
      WriteFile(h->data + "/sync/journal", "entries the user must never lose\n");
      WriteFile(h->data + "/settings.ini", "[Account]\nuser=alice\n");
      h->data_before = Snapshot(h->data, true);
    }
    if (m.scenario == Scenario::kStaleBackups) {
      WriteTree(h->app + "_tmp", BundleEntries(118, 50, 512, "118"));
      WriteTree(h->app + "_tmp1", BundleEntries(118, 50, 512, "118b"));
      for (const std::string& name : BackupNames(h->app)) h->backups_before[name] = Snapshot(name, true);
    }
    const std::string pid_folder = m.scenario == Scenario::kFirstWithSkyhold ? h->skyhold : h->corvane;
    pid_t pid = 0;
    if (m.running_ui) {
      h->ui = std::make_unique<FakeUi>(h->marker, 700, pid_folder);
      pid = h->ui->pid();
    } else {
      pid = DeadPid();
    }
    fs::create_directories(pid_folder);
    WriteFile(pid_folder + "/ui.pid", "pid=" + std::to_string(pid) + "\n");
    return h;
  }

  // Entry counts of the places that matter: the state the kill left behind.
  static std::string State(const Home& h) {
    std::ostringstream s;
    s << CountEntries(h.app);
    for (int n = 0; n <= 9; ++n) s << "/" << CountEntries(h.app + "_tmp" + (n ? std::to_string(n) : ""));
    int aside = 0;
    for (const auto& entry : fs::directory_iterator(h.corvane))
      if (entry.path().filename().string().rfind("Corvane.app_trash.", 0) == 0)
        aside += 1 + CountEntries(entry.path().string());
    s << " aside " << aside << " sky " << CountEntries(h.skyhold) << " data " << CountEntries(h.data);
    return s.str();
  }

  // Runs every moment; one that the run outlived is tried again in a fresh home, up to `attempts`
  // times in all (a loaded machine can deschedule the watcher across a window of a few milliseconds),
  // but only when that run ended well: status 0, past its moment.
  void Run(const std::vector<Moment>& moments, int attempts = 1) {
    for (const Moment& m : moments) {
      SCOPED_TRACE("moment: " + m.name);
      for (int attempt = 1; attempt <= attempts; ++attempt)
        if (RunOnce(m) || HasFailure()) break;
      if (HasFatalFailure()) return;
    }
  }

  // One kill and the undisturbed run after it; true when the kill landed.
  bool RunOnce(const Moment& m) {
    const int index = next_index_++;
    std::unique_ptr<Home> h = Prepare(m, index);
    if (HasFatalFailure()) return false;
    LogWatcher log(h->corvane + "/log/launcher.log");

    const pid_t pid = StartLauncher(bundle_, h->home, at("kill" + std::to_string(index)));
    bool ended = false;
    int status = 0;
    const bool hit = PollUntil([&] { return m.trigger(*h, log); }, pid, &ended, &status);
    if (!hit && !ended) ADD_FAILURE() << "the run neither reached its moment nor ended within the limit";
    if (hit && m.delay_ms > 0) {
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(m.delay_ms);
      while (!ended && std::chrono::steady_clock::now() < until) {
        ended = Ended(pid, &status);
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
    }
    if (!ended) ended = Ended(pid, &status);
    const bool killed = hit && !ended;
    if (!ended) Kill(pid);  // also after a trigger that never came (the time limit)
    if (killed) {
      ++killed_;
      const std::string state = State(*h);
      states_.insert(state);
      std::cout << "killed at " << m.name << ": " << state << std::endl;
    } else if (ended) {
      ++missed_;
      std::cout << "missed " << m.name << " (the run ended first)" << std::endl;
      // A run that outlived its moment must have ended well and gone through it: a crash or a failed
      // run is a fault, not a miss.
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
          << "the run ended with wait status " << status;
      EXPECT_TRUE(hit || m.trigger(*h, log) ||
                  log.Contains("user installation is ready, removing backup app") ||
                  log.Contains("rollback to old installation"))
          << "the run ended before its moment";
    }

    // The undisturbed run, which ends by starting the interface (a run that ended on its own started
    // one first).
    if (!killed) WaitForInterfaceStarts(tmp(), h->app, 1);
    int starts = InterfaceStarts(tmp(), h->app);
    EXPECT_EQ(WaitLauncher(StartLauncher(bundle_, h->home, at("rerun" + std::to_string(index)))), 0);
    if (then_whole_) {
      // The copy two failed runs left must not pass for installed: a whole package completes it.
      const std::string shipped = bundle_ + "/Contents/Resources/package/skyhold.hpk";
      const std::string damaged = testsupport::ReadFile(shipped);
      WriteFile(shipped, testsupport::ReadFile(at("skyhold.hpk")));
      RecordPackageDigest(bundle_);
      // The copy the failed run left is never started either.
      EXPECT_EQ(starts, InterfaceStarts(tmp(), h->app)) << "a half-made interface was started";
      EXPECT_NE(testsupport::ReadFile(h->home + "/.Corvane/log/launcher.log")
                    .find("its installation did not finish"),
                std::string::npos);
      EXPECT_EQ(WaitLauncher(StartLauncher(bundle_, h->home, at("whole" + std::to_string(index)))), 0);
      WriteFile(shipped, damaged);
      RecordPackageDigest(bundle_);
    }
    const int parts_before =
        ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    EXPECT_TRUE(WaitForInterfaceStarts(tmp(), h->app, starts + 1)) << "the interface was not started";
    Verify(*h, m);
    if (::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count() == parts_before)
      recovered_ += killed ? 1 : 0;
    return killed;
  }

  void Verify(const Home& h, const Moment& m) {
    const std::string diff = Difference(reference_, Snapshot(h.app, false));
    EXPECT_TRUE(diff.empty()) << "the private bundle is not the package:\n" << diff;
    // A failure puts back the copy that was live and leaves an earlier launcher's backups as they were.
    const bool backups_stay = damaged_ && !then_whole_ && !h.backups_before.empty();
    std::set<std::string> allowed = {"Corvane.app", "data", "log", "ui.pid", "launcher.lock"};
    // A kill that left no interface makes the next start migrate the predecessor, whose data the
    // user's own ~/.Corvane/data refuses: marked, it is tried again on later starts.
    if (m.scenario != Scenario::kFirstWithSkyhold && Exists(h.skyhold + "/data"))
      allowed.insert(".skyhold-migration");
    if (backups_stay) {
      allowed.insert("Corvane.app.upgrade");
      EXPECT_EQ(BackupNames(h.app).size(), h.backups_before.size());
      for (const auto& [name, before] : h.backups_before) {
        allowed.insert(fs::path(name).filename().string());
        EXPECT_EQ(Difference(before, Snapshot(name, true)), "")
            << "an earlier launcher's backup changed: " << name;
      }
    } else {
      EXPECT_TRUE(BackupNames(h.app).empty()) << "backup left: " << BackupNames(h.app).front();
    }
    if (m.scenario == Scenario::kFirstWithSkyhold) {
      EXPECT_EQ(Snapshot(h.data, false), h.predecessor_data_before)
          << "the predecessor's data was not carried over";
      EXPECT_FALSE(Exists(h.skyhold)) << "the predecessor's folder stayed";
    } else {
      EXPECT_EQ(Snapshot(h.data, true), h.data_before) << "the user's data changed";
      EXPECT_EQ(Snapshot(h.skyhold + "/data", false), h.predecessor_data_before)
          << "the predecessor's data changed";
    }
    for (const auto& entry : fs::directory_iterator(h.corvane))
      EXPECT_EQ(allowed.count(entry.path().filename().string()), 1u) << "left behind: " << entry.path();
  }

  static std::function<bool(Home&, LogWatcher&)> Now() {
    return [](Home&, LogWatcher&) { return true; };
  }
  static std::function<bool(Home&, LogWatcher&)> Logged(const std::string& text) {
    return [text](Home&, LogWatcher& log) { return log.Contains(text); };
  }
  static std::function<bool(Home&, LogWatcher&)> TermSent() {
    return [](Home& h, LogWatcher&) { return Exists(h.marker); };
  }
  // Filler n of the new bundle is on disk (with a backup taken, the bundle folder is the new one).
  static std::function<bool(Home&, LogWatcher&)> Unpacked(const std::string& name, bool after_backup) {
    return UnpackedAfter(after_backup ? "_tmp" : "", name);
  }
  // The same once the old bundle is under the backup name `suffix` ("" for none).
  static std::function<bool(Home&, LogWatcher&)> UnpackedAfter(const std::string& suffix,
                                                               const std::string& name) {
    return [suffix, name](Home& h, LogWatcher&) {
      return (suffix.empty() || Exists(h.app + suffix)) && Exists(h.app + "/" + name);
    };
  }

  std::string bundle_;
  std::map<std::string, std::string> reference_;  // what the second run must leave
  std::vector<Entry> old_;
  int next_index_ = 0, killed_ = 0, missed_ = 0, recovered_ = 0;
  bool damaged_ = false, then_whole_ = false;
  std::set<std::string> states_;
};

TEST_F(KillUpgradeTest, WhileStartingAndStoppingTheInterface) {
  std::vector<Moment> moments = {
      {"start +0 ms", Scenario::kUpgrade, true, Now(), 0},
      {"start +60 ms", Scenario::kUpgrade, true, Now(), 60},
      {"start +150 ms", Scenario::kUpgrade, true, Now(), 150},
      {"interface about to be stopped", Scenario::kUpgrade, true, Logged("local appdata exist"), 0},
  };
  for (int ms : {0, 150, 300, 500, 700, 900})
    moments.push_back({"SIGTERM +" + std::to_string(ms) + " ms", Scenario::kUpgrade, true, TermSent(), ms});
  Run(moments, 3);
  EXPECT_EQ(killed_, static_cast<int>(moments.size()));
}

TEST_F(KillUpgradeTest, WhileBackingUp) {
  auto taken = [](const std::string& suffix) {
    return [suffix](Home& h, LogWatcher&) { return Exists(h.app + suffix); };
  };
  auto fresh_folder = [](Home& h, LogWatcher&) { return Exists(h.app + "_tmp") && Exists(h.app); };
  const std::vector<Moment> moments = {
      {"stale pid file read", Scenario::kUpgrade, false, Logged("local appdata exist"), 0},
      {"renamed to _tmp", Scenario::kUpgrade, false, taken("_tmp"), 0},
      {"bundle folder made again", Scenario::kUpgrade, false, fresh_folder, 0},
      {"extraction about to start", Scenario::kUpgrade, false, Logged("extract package: "), 0},
      {"first backup name taken", Scenario::kStaleBackups, false, Logged("failed to backup app"), 0},
      {"renamed to _tmp2", Scenario::kStaleBackups, false, taken("_tmp2"), 0},
      {"extraction after stale backups", Scenario::kStaleBackups, false, Logged("extract package: "), 0},
  };
  Run(moments, 3);
  EXPECT_EQ(killed_, static_cast<int>(moments.size()));
}

TEST_F(KillUpgradeTest, WhileExtracting) {
  std::vector<Moment> moments = {
      {"interface program unpacked", Scenario::kUpgrade, false, Unpacked("Contents/MacOS/corvane-ui", true),
       0},
      {"INFO unpacked", Scenario::kUpgrade, false, Unpacked("Contents/Resources/.INFO.pending", true), 0},
      {"framework link unpacked", Scenario::kUpgrade, false,
       Unpacked("Contents/Frameworks/CorvaneCore.framework/CorvaneCore", true), 0},
  };
  for (int n : {0, 40, 80, 120, 160, 200, 240, 270})
    moments.push_back({"filler " + std::to_string(n) + " unpacked", Scenario::kUpgrade, false,
                       Unpacked(FillerName(n), true), 0});
  // The backup is set aside at once after the last entry: the old bundle has no filler that far, so
  // the filler alone marks the new bundle.
  moments.push_back(
      {"last filler unpacked", Scenario::kUpgrade, false, Unpacked(FillerName(kFillers - 1), false), 0});
  Run(moments, 3);
  EXPECT_EQ(killed_, static_cast<int>(moments.size()));
}

TEST_F(KillUpgradeTest, WhileRemovingBackups) {
  OldBundle(kFillers);
  std::vector<Moment> moments;
  for (int ms : {0, 1, 3, 6, 10, 16, 25})
    moments.push_back({"backup removal +" + std::to_string(ms) + " ms", Scenario::kUpgrade, false,
                       Logged("user installation is ready"), ms});
  for (int ms : {0, 8})
    moments.push_back({"removal of three backups +" + std::to_string(ms) + " ms", Scenario::kStaleBackups,
                       false, Logged("user installation is ready"), ms});
  Run(moments);
  EXPECT_GE(killed_, 5) << "too few kills landed in the removal";
}

TEST_F(KillUpgradeTest, WhileMigratingThePredecessor) {
  auto moved = [](Home& h, LogWatcher&) { return Exists(h.data); };
  auto gone = [](Home& h, LogWatcher&) { return !Exists(h.skyhold); };
  std::vector<Moment> moments = {
      {"predecessor SIGTERM +0 ms", Scenario::kFirstWithSkyhold, true, TermSent(), 0},
      {"predecessor SIGTERM +400 ms", Scenario::kFirstWithSkyhold, true, TermSent(), 400},
  };
  for (int ms : {0, 2, 5, 10})
    moments.push_back(
        {"data moved +" + std::to_string(ms) + " ms", Scenario::kFirstWithSkyhold, false, moved, ms});
  moments.push_back({"predecessor folder removed", Scenario::kFirstWithSkyhold, false, gone, 0});
  Run(moments, 3);
  EXPECT_EQ(killed_, static_cast<int>(moments.size()));
}

// A first installation (after the migration) cut short once the interface program and INFO are in
// place: nothing on disk says that the rest of the bundle is missing, so the next run must still
// find out and unpack it whole.
TEST_F(KillUpgradeTest, WhileUnpackingAFirstInstallation) {
  std::vector<Moment> moments = {{"first installation: INFO unpacked", Scenario::kFirstWithSkyhold, false,
                                  Unpacked("Contents/Resources/.INFO.pending", false), 0}};
  for (int n : {50, 200})
    moments.push_back({"first installation: filler " + std::to_string(n), Scenario::kFirstWithSkyhold, false,
                       Unpacked(FillerName(n), false), 0});
  Run(moments, 3);
  EXPECT_EQ(killed_, static_cast<int>(moments.size()));
}

// A package that cannot be unpacked whole, and a run killed while unpacking it or while putting the old
// bundle back: the next run, failing in the same place, must still end with the old bundle whole and
// no backup name, whichever copies the kill left in the bundle and backup names.
TEST_F(KillUpgradeTest, WithADamagedPackage) {
  ShipDamagedPackage();
  std::vector<Moment> moments = {
      {"interface program unpacked", Scenario::kUpgrade, false, Unpacked("Contents/MacOS/corvane-ui", true),
       0},
      {"INFO unpacked", Scenario::kUpgrade, false, Unpacked("Contents/Resources/.INFO.pending", true), 0},
  };
  for (int n : {0, 60, 120, 160})
    moments.push_back({"filler " + std::to_string(n) + " unpacked", Scenario::kUpgrade, false,
                       Unpacked(FillerName(n), true), 0});
  for (int ms : {0, 1, 2, 4, 7, 12})
    moments.push_back({"rollback +" + std::to_string(ms) + " ms", Scenario::kUpgrade, false,
                       Logged("Failed to extract package, rollback to old installation"), ms});
  Run(moments);
  EXPECT_GE(killed_, 9) << "too few kills landed";
}

// Backups an earlier launcher left (complete copies of build 118 in _tmp and _tmp1) met by a package
// that cannot be unpacked, the run killed while unpacking or putting back: the copy that was live
// (build 119) comes back, never an older backup, and the backups stay as they were.
TEST_F(KillUpgradeTest, WithADamagedPackageAndAnEarlierLaunchersBackups) {
  ShipDamagedPackage();
  std::vector<Moment> moments = {
      {"extraction after stale backups", Scenario::kStaleBackups, false, Logged("extract package: "), 0},
      {"INFO unpacked", Scenario::kStaleBackups, false,
       UnpackedAfter("_tmp2", "Contents/Resources/.INFO.pending"), 0},
  };
  for (int n : {0, 100})
    moments.push_back({"filler " + std::to_string(n) + " unpacked", Scenario::kStaleBackups, false,
                       UnpackedAfter("_tmp2", FillerName(n)), 0});
  for (int ms : {0, 2, 5})
    moments.push_back({"rollback +" + std::to_string(ms) + " ms", Scenario::kStaleBackups, false,
                       Logged("Failed to extract package, rollback to old installation"), ms});
  Run(moments);
  EXPECT_GE(killed_, 4) << "too few kills landed";
}

// A first installation (after the migration) that fails, killed while unpacking, then failing again
// undisturbed: what the two runs left (the new INFO and interface, the rest missing) must never pass
// for installed, so a later run with the package whole completes it.
TEST_F(KillUpgradeTest, WhileAFirstInstallationFailsTwice) {
  ShipDamagedPackage(true);
  std::vector<Moment> moments = {
      {"first installation: interface unpacked", Scenario::kFirstWithSkyhold, false,
       Unpacked("Contents/MacOS/corvane-ui", false), 0},
      {"first installation: INFO unpacked", Scenario::kFirstWithSkyhold, false,
       Unpacked("Contents/Resources/.INFO.pending", false), 0},
  };
  for (int n : {0, 60, 120})
    moments.push_back({"first installation: filler " + std::to_string(n), Scenario::kFirstWithSkyhold, false,
                       Unpacked(FillerName(n), false), 0});
  Run(moments, 3);
  EXPECT_EQ(killed_, static_cast<int>(moments.size()));
}

}  // namespace
}  // namespace reliability
