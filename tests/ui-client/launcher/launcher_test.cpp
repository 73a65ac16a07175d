// Launcher, Worker and HandlerThread: the job's order on the worker thread, the dialog's states in
// the order the user sees them, the bar's arithmetic, and shutdown. The first group drives the real
// Launcher and Worker with a service that records what it is asked; the last drives the real
// MacService with a real package in a temporary home folder.
#include "launcher.h"

#include <sys/stat.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFont>
#include <QMutex>
#include <QMutexLocker>
#include <QPushButton>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <QTranslator>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "UIPathManager.h"
#include "cloud-service.h"
#include "launch-services.h"
#include "log.h"
#include "progress.h"
#include "startup.h"
#include "strtable.h"
#include "temp_dir.h"
#include "test_package.h"

namespace {

using testsupport::ReadFile;
using testsupport::WriteFile;

const QString kPreparing = "Corvane Client is initializing...";
const QString kReady = "Corvane Client is ready.";

// One state of the dialog, as seen right after an event reached it.
struct State {
  std::string event;
  bool visible;
  int value;
  QString label;
};

std::ostream& operator<<(std::ostream& os, const State& s) {
  return os << s.event << (s.visible ? " visible " : " hidden ") << s.value << " '" << s.label.toStdString()
            << "'";
}

ProcessingProgressDialog* FindDialog() {
  ProcessingProgressDialog* found = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* d = qobject_cast<ProcessingProgressDialog*>(w)) {
      EXPECT_EQ(found, nullptr) << "more than one progress dialog";
      found = d;
    }
  }
  return found;
}

// Records the dialog's state after every signal that may change it and whenever any window is shown
// or hidden (the dialog is built only when the worker asks to show it, so the whole application is
// watched). The recorder's connections are made after the Launcher's, so for each emission the
// Launcher's slot runs first and the recorder then sees its effect.
class DialogTrace : public QObject {
 public:
  DialogTrace(Launcher* launcher, Worker* worker) : launcher_(launcher) {
    qApp->installEventFilter(this);
    connect(worker, &Worker::sigShowMsg, this, [this] { Record("sigShowMsg"); });
    connect(worker, &Worker::sigUpdateProgress, this, [this](int t, int s) {
      Record("worker progress " + std::to_string(s) + "/" + std::to_string(t));
    });
    connect(worker, &Worker::sigSetLabelText, this, [this](const QString&) { Record("worker label"); });
    Notify_Adapter* adapter = Notify_Adapter::GetInstance();
    connect(adapter, &Notify_Adapter::sigUpdateProgress, this,
            [this](int t, int s) { Record("progress " + std::to_string(s) + "/" + std::to_string(t)); });
    connect(adapter, &Notify_Adapter::sigUpdateDialogText, this, [this](const QString&) { Record("label"); });
  }
  ~DialogTrace() override { qApp->removeEventFilter(this); }

  const std::vector<State>& states() const { return states_; }

  // The states whose event name begins with `prefix`.
  std::vector<State> Of(const std::string& prefix) const {
    std::vector<State> out;
    for (const State& s : states_)
      if (s.event.rfind(prefix, 0) == 0) out.push_back(s);
    return out;
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || !widget->isWindow()) return false;
    const bool ours = widget == launcher_->dialog();
    if (event->type() == QEvent::Show) Record(ours ? "shown" : "another window shown");
    if (event->type() == QEvent::Hide) Record(ours ? "hidden" : "another window hidden");
    return false;
  }

 private:
  void Record(const std::string& event) {
    const ProcessingProgressDialog* d = launcher_->dialog();
    if (d == nullptr) {
      states_.push_back({event + " (no dialog)", false, -1, QString()});
    } else {
      states_.push_back({event, d->isVisible(), d->value(), d->labelText()});
    }
  }

  Launcher* launcher_;
  std::vector<State> states_;
};

// A service that records the calls the worker makes, on which thread, and plays the extractor's part
// (label, then per-entry progress through the adapter) during the upgrade.
class RecordingService : public Service {
 public:
  RecordingService(bool need_upgrade, int upgrade_result, QString aged_folder)
      : need_upgrade_(need_upgrade), upgrade_result_(upgrade_result), aged_folder_(std::move(aged_folder)) {}

  void StopService() override { Note("StopService"); }
  void PreUpgrade() override { Note("PreUpgrade"); }
  bool IsNeedUpgrade() override {
    Note("IsNeedUpgrade");
    return need_upgrade_;
  }
  int HandlePackageUpgrade() override {
    Note("HandlePackageUpgrade");
    Notify_Adapter::GetInstance()->UpdateDialogText("unpacking");
    for (int n = 1; n <= 3; ++n) Notify_Adapter::GetInstance()->UpdateProgress(3, n);
    return upgrade_result_;
  }
  void PostUpgrade() override {
    // RemoveAgedFolders is not virtual: its effect on disk shows that it ran before this.
    Note(QDir(aged_folder_).exists() ? "PostUpgrade (aged folder still there)" : "PostUpgrade");
  }

  std::vector<std::string> calls() const {
    QMutexLocker lock(&mutex_);
    return calls_;
  }
  std::vector<QThread*> threads() const {
    QMutexLocker lock(&mutex_);
    return threads_;
  }

 private:
  void Note(const std::string& call) {
    QMutexLocker lock(&mutex_);
    calls_.push_back(call);
    threads_.push_back(QThread::currentThread());
  }

  bool need_upgrade_;
  int upgrade_result_;
  QString aged_folder_;
  mutable QMutex mutex_;
  std::vector<std::string> calls_;
  std::vector<QThread*> threads_;
};

// A temporary home folder with the path registry filled as start-up fills it, the string table
// loaded, and the log going to <home>/.Corvane/log/launcher.log at full detail.
class LauncherTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    home_ = QString::fromStdString(tmp());
    bundle_resources_ = home_ + "/Bundle.app/Contents/Resources";
    const struct {
      const char* key;
      QString value;
    } paths[] = {
        {"user_corvane_path", home_ + "/.Corvane"},
        {"user_corvane_app_path", home_ + "/.Corvane/Corvane.app"},
        {"user_corvane_resource_path", home_ + "/.Corvane/Corvane.app/Contents/Resources"},
        {"user_corvane_data_path", home_ + "/.Corvane/data"},
        {"user_corvane_working_dir_path", home_ + "/.Corvane/Corvane.app/Contents/MacOS"},
        {"user_corvane_ui_path", home_ + "/.Corvane/Corvane.app/Contents/MacOS/corvane-ui"},
        {"user_skyhold_path", home_ + "/.Skyhold"},
        {"user_skyhold_resource_path", home_ + "/.Skyhold/Skyhold.app/Contents/Resources"},
        {"root_resource_path", bundle_resources_},
    };
    for (const auto& p : paths) UIPathManager::getInstance()->setPath(p.key, p.value);
    StrTable::InitStrTable();
    testpackage::AllowLaunchesOnlyBelow(tmp());

    ASSERT_TRUE(QDir().mkpath(home_ + "/.Corvane/log"));
    ASSERT_TRUE(QDir().mkpath(home_ + "/.Skyhold/app"));
    WriteFile(at("levels"), "launcher_debug=7\nservice_debug=7\nextractor_debug=7\n");
    log_path_ = at(".Corvane/log/launcher.log");
    ASSERT_EQ(Logger::Initialize(Logger::TYPE_FILE, log_path_, at("levels"), 50, Logger::SCOPE_THREAD), 0);
  }

  void TearDown() override {
    Logger::Destroy();
    launch_services::SetObserver(nullptr);
    launch_services::SetGate(nullptr);
  }

  // Runs the application's event loop until the Launcher quits it; false when it never does.
  static bool RunToEnd(Launcher* launcher) {
    bool timed_out = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
      timed_out = true;
      QCoreApplication::exit(1);
    });
    guard.start(60000);
    launcher->Run();
    launcher->Start();
    const int status = QApplication::exec();
    return !timed_out && status == 0;
  }

  std::string Log() const { return ReadFile(log_path_); }

  QString home_;
  QString bundle_resources_;
  std::string log_path_;
};

// The lines of the log that come from launcher.cpp, message text only.
std::vector<std::string> LauncherMessages(const std::string& log) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < log.size()) {
    size_t end = log.find('\n', pos);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(pos, end - pos);
    const size_t src = line.find("] launcher.cpp(");
    if (src != std::string::npos) out.push_back(line.substr(line.find("): ", src) + 3));
    pos = end + 1;
  }
  return out;
}

// Nothing to upgrade: no dialog is ever made, so none can show itself however long the job takes (a
// dialog that merely exists shows itself after the toolkit's minimum duration).
TEST_F(LauncherTest, NothingToUpgradeNeverMakesADialog) {
  auto* service = new RecordingService(false, 0, home_ + "/.Skyhold/app");
  auto* worker = new Worker(service);
  auto* launcher = new Launcher(worker);
  DialogTrace trace(launcher, worker);

  ASSERT_TRUE(RunToEnd(launcher));

  EXPECT_EQ(service->calls(), (std::vector<std::string>{"PreUpgrade", "IsNeedUpgrade", "PostUpgrade"}));
  for (QThread* t : service->threads())
    EXPECT_EQ(t, worker->thread_object()) << "a service call off the worker thread";
  EXPECT_TRUE(worker->thread_object()->isFinished()) << "LaunchDone must join the worker thread";
  EXPECT_TRUE(trace.states().empty()) << ::testing::PrintToString(trace.states());
  EXPECT_EQ(launcher->dialog(), nullptr);
  EXPECT_EQ(FindDialog(), nullptr);
  EXPECT_FALSE(QDir(home_ + "/.Skyhold/app").exists());
  EXPECT_EQ(LauncherMessages(Log()), (std::vector<std::string>{"running", "no need to upgrade", "done"}));
  delete launcher;
}

TEST_F(LauncherTest, SuccessfulUpgradeShowsEveryStageInOrderThenHides) {
  auto* service = new RecordingService(true, 0, home_ + "/.Skyhold/app");
  auto* worker = new Worker(service);
  auto* launcher = new Launcher(worker);
  DialogTrace trace(launcher, worker);

  ASSERT_TRUE(RunToEnd(launcher));

  EXPECT_EQ(service->calls(),
            (std::vector<std::string>{"PreUpgrade", "IsNeedUpgrade", "HandlePackageUpgrade", "PostUpgrade"}));
  ProcessingProgressDialog* dialog = FindDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog, launcher->dialog());
  // As built: the title, no cancel button, no auto-reset, window-modal, 400 x 80 at this density
  // (the offscreen screen's 100 dots per inch; against a Mac's reference of 72 a scale of 1.5).
  EXPECT_EQ(dialog->windowTitle(), "Corvane Client");
  EXPECT_EQ(dialog->findChild<QPushButton*>(), nullptr) << "the dialog has no cancel button";
  EXPECT_FALSE(dialog->autoReset());
  EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
#ifdef __APPLE__
  EXPECT_EQ(dialog->size(), QSize(600, 120));
#else
  EXPECT_EQ(dialog->size(), QSize(400, 80));
#endif
  const std::vector<State>& s = trace.states();
  ASSERT_EQ(s.size(), 9u) << ::testing::PrintToString(s);
  EXPECT_EQ(s[0].event, "shown");
  EXPECT_EQ(s[1].event, "sigShowMsg");
  EXPECT_TRUE(s[1].visible);
  EXPECT_EQ(s[1].value, 0);
  EXPECT_EQ(s[1].label, kPreparing);
  EXPECT_EQ(s[2].event, "label");
  EXPECT_EQ(s[2].label, "unpacking");
  const int bar[] = {33, 66, 100};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(s[3 + i].event, "progress " + std::to_string(i + 1) + "/3");
    EXPECT_EQ(s[3 + i].value, bar[i]);
    EXPECT_TRUE(s[3 + i].visible) << "reaching 100 must not hide or reset the dialog";
  }
  EXPECT_EQ(s[6].event, "worker progress 100/100");
  EXPECT_EQ(s[6].value, 100);
  EXPECT_EQ(s[7].event, "worker label");
  EXPECT_EQ(s[7].label, kReady);
  EXPECT_TRUE(s[7].visible);
  EXPECT_EQ(s[8].event, "hidden");
  EXPECT_EQ(s[8].value, 100);
  EXPECT_EQ(s[8].label, kReady);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(LauncherMessages(Log()), (std::vector<std::string>{"running", "done"}));
  delete launcher;
}

TEST_F(LauncherTest, FailedUpgradeLogsItKeepsTheDialogAndStillFinishesTheRun) {
  auto* service = new RecordingService(true, -1, home_ + "/.Skyhold/app");
  auto* worker = new Worker(service);
  auto* launcher = new Launcher(worker);
  DialogTrace trace(launcher, worker);

  ASSERT_TRUE(RunToEnd(launcher));
  ProcessingProgressDialog* dialog = launcher->dialog();
  ASSERT_NE(dialog, nullptr);

  EXPECT_EQ(service->calls(),
            (std::vector<std::string>{"PreUpgrade", "IsNeedUpgrade", "HandlePackageUpgrade", "PostUpgrade"}));
  EXPECT_TRUE(trace.Of("worker").empty()) << "no 100 and no ready label after a failure";
  ASSERT_FALSE(trace.Of("hidden").empty());
  EXPECT_EQ(trace.Of("hidden").front().label, "unpacking");
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_FALSE(QDir(home_ + "/.Skyhold/app").exists());
  EXPECT_EQ(LauncherMessages(Log()),
            (std::vector<std::string>{"running", "Failed to upgrade package", "done"}));
  EXPECT_NE(Log().find("[ERROR] launcher.cpp("), std::string::npos);
  delete launcher;
}

TEST_F(LauncherTest, BarIsStepsTimesHundredOverTotalAndIgnoresAnEmptyTotal) {
  auto* launcher = new Launcher(new Worker(new RecordingService(false, 0, QString())));
  EXPECT_EQ(FindDialog(), nullptr) << "no dialog before the worker asks to show it";
  // What arrives before the dialog exists is what it shows once built.
  launcher->UpdateProgress(3, 1);
  launcher->SetLabelText("stage one");
  EXPECT_EQ(FindDialog(), nullptr);
  launcher->ShowMsgBox();
  ProcessingProgressDialog* dialog = FindDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->value(), 33);
  EXPECT_EQ(dialog->labelText(), "stage one");

  launcher->UpdateProgress(3, 2);
  EXPECT_EQ(dialog->value(), 66);
  launcher->UpdateProgress(0, 5);
  EXPECT_EQ(dialog->value(), 66);
  launcher->UpdateProgress(-4, 1);
  EXPECT_EQ(dialog->value(), 66);
  launcher->UpdateProgress(100, 100);
  EXPECT_EQ(dialog->value(), 100);
  EXPECT_TRUE(dialog->isVisible()) << "reaching 100 must not reset or hide the dialog";
  EXPECT_NE(Log().find("progress of 5 steps out of 0 ignored"), std::string::npos);
  // Entry counts whose product with 100 passes the int range still give the right share.
  launcher->UpdateProgress(30000000, 15000000);
  EXPECT_EQ(dialog->value(), 50);
  launcher->SetLabelText("stage two");
  EXPECT_EQ(dialog->labelText(), "stage two");
  launcher->ShowMsgBox();
  EXPECT_EQ(FindDialog(), dialog) << "a second request shows the same dialog";
  delete launcher;
}

TEST_F(LauncherTest, DeletingARunningLauncherStopsAndJoinsItsThreadFirst) {
  auto* worker = new Worker(new RecordingService(false, 0, QString()));
  auto* launcher = new Launcher(worker);
  launcher->ShowMsgBox();
  launcher->Run();
  ASSERT_TRUE(worker->thread_object()->isRunning());
  QSignalSpy finished(worker->thread_object(), &QThread::finished);
  delete launcher;  // destroying a running QThread would abort the process
  EXPECT_EQ(finished.count(), 1);
  EXPECT_EQ(FindDialog(), nullptr) << "the Launcher deletes its dialog";
}

// A real package in a real bundle, the real MacService, a first installation: the dialog shows the
// extractor's label, the bar moves entry by entry, then 100 and the ready label, then it hides.
TEST_F(LauncherTest, RealUpgradeShowsTheStagesOfTheExtraction) {
  const std::string stage = at("stage");
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(stage + "/Contents/MacOS")));
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(stage + "/Contents/Resources")));
  WriteFile(stage + "/Contents/MacOS/corvane-ui", "#!/bin/sh\nexit 0\n");
  ASSERT_EQ(chmod((stage + "/Contents/MacOS/corvane-ui").c_str(), 0755), 0);
  const std::string info =
      "[Version]\nmajor_version=1\nminor_version=0\nbuild_version=120\nicon_overlay_version=1\n";
  WriteFile(stage + "/Contents/Resources/INFO", info);
  WriteFile(stage + "/Contents/Resources/notes.txt", "notes\n");
  ASSERT_TRUE(QDir().mkpath(bundle_resources_ + "/package"));
  WriteFile(bundle_resources_.toStdString() + "/INFO", info);
  // Three file entries and no folder entries: the bar moves 33, 66, 100.
  const std::string pack = "bsdtar --no-mac-metadata -czf '" + bundle_resources_.toStdString() +
                           "/package/skyhold.hpk' -C '" + stage +
                           "' Contents/MacOS/corvane-ui Contents/Resources/INFO Contents/Resources/notes.txt";
  ASSERT_EQ(std::system(pack.c_str()), 0) << pack;

  QMutex mutex;
  std::vector<launch_services::Request> requests;
  launch_services::SetObserver([&](const launch_services::Request& r) {
    QMutexLocker lock(&mutex);
    requests.push_back(r);
  });

  auto* worker = new Worker();  // with its own MacService
  auto* launcher = new Launcher(worker);
  DialogTrace trace(launcher, worker);
  ASSERT_TRUE(RunToEnd(launcher));

  const std::vector<State>& s = trace.states();
  std::vector<std::string> events;
  for (const State& state : s) events.push_back(state.event);
  ASSERT_EQ(events,
            (std::vector<std::string>{"shown", "sigShowMsg", "label", "progress 1/3", "progress 2/3",
                                      "progress 3/3", "worker progress 100/100", "worker label", "hidden"}))
      << ::testing::PrintToString(s);
  for (size_t i = 1; i + 1 < s.size(); ++i) EXPECT_TRUE(s[i].visible) << s[i];
  EXPECT_EQ(s[2].label, kPreparing);
  EXPECT_EQ(s[3].value, 33);
  EXPECT_EQ(s[4].value, 66);
  EXPECT_EQ(s[5].value, 100);
  EXPECT_EQ(s[5].label, kPreparing);
  EXPECT_EQ(s[7].value, 100);
  EXPECT_EQ(s[7].label, kReady);
  EXPECT_FALSE(s[8].visible);
  EXPECT_EQ(s[8].value, 100);
  EXPECT_EQ(s[8].label, kReady);

  EXPECT_EQ(ReadFile(at(".Corvane/Corvane.app/Contents/Resources/INFO")), info);
  EXPECT_EQ(ReadFile(at(".Corvane/Corvane.app/Contents/Resources/notes.txt")), "notes\n");
  {
    QMutexLocker lock(&mutex);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().kind, launch_services::Request::kOpenNewInstance);
    EXPECT_EQ(requests.back().bundle, home_ + "/.Corvane/Corvane.app");
  }
  delete launcher;
}

// Start-up's language steps: a translator only where the resource has the language, the string table
// translated through it, and the Thai font only for exactly "tha".
TEST(StartupTest, LanguageChoosesTranslatorAndFont) {
  const QFont before = QApplication::font();
  const QString english = "%1 is initializing...";
  const struct {
    const char* code;
    bool translated;
    const char* family;
  } cases[] = {{"tha", true, "Microsoft Sans Serif"},
               {"ger", true, "Arial"},
               {"THA", false, "Arial"},
               {"", false, "Arial"},
               {"xyz", false, "Arial"}};
  for (const auto& c : cases) {
    QTranslator* translator = startup::Localize(c.code);
    EXPECT_EQ(translator != nullptr, c.translated) << c.code;
    EXPECT_EQ(StrTable::LoadStr(StrTable::kRowEnvPreparing) != english, c.translated) << c.code;
    EXPECT_EQ(QApplication::font().family().toStdString(), c.family) << c.code;
    EXPECT_EQ(QApplication::font().pointSize(), 12) << c.code;
    if (translator != nullptr) QCoreApplication::removeTranslator(translator);
    delete translator;
  }
  QApplication::setFont(before);
}

// The plug-in folder keeps the spelling of a full path that leads to the bundle, and comes from the
// running executable's real place when started by a bare name, a relative path or a link elsewhere.
// The levels come from the bundle's debug file, or, where a signed bundle must stay untouched, from
// the user's; the bundle's wins when both are there.
TEST_F(LauncherTest, DebugSwitchFileInTheBundleOrElseInTheUsersFolder) {
  const QString resources = QString::fromStdString(at("Corvane.app/Contents/Resources"));
  const QString user = QString::fromStdString(at("home/.Corvane"));
  const std::string bundle_file = at("Corvane.app/Contents/Resources/log/launcher.debug");
  const std::string user_file = at("home/.Corvane/log/launcher.debug");
  EXPECT_EQ(startup::DebugSwitchFile(resources, user), user_file);
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(at("home/.Corvane/log"))));
  WriteFile(user_file, "launcher_debug=7\n");
  EXPECT_EQ(startup::DebugSwitchFile(resources, user), user_file);
  ASSERT_TRUE(QDir().mkpath(resources + "/log"));
  WriteFile(bundle_file, "launcher_debug=6\n");
  EXPECT_EQ(startup::DebugSwitchFile(resources, user), bundle_file);
}

TEST_F(LauncherTest, PluginFolderFollowsTheRealExecutable) {
  namespace fs = std::filesystem;
  const std::string root = fs::canonical(tmp()).string();
  const std::string exe = root + "/Corvane.app/Contents/MacOS/corvane-launcher";
  fs::create_directories(root + "/Corvane.app/Contents/MacOS");
  WriteFile(exe, "");
  fs::create_directories(root + "/bin");
  fs::create_symlink(exe, root + "/bin/corvane");
  fs::create_symlink(root + "/Corvane.app", root + "/Alias.app");
  const QString real = QString::fromStdString(root + "/Corvane.app/Contents/Frameworks/plugins");
  const struct {
    std::string argv0;
    QString expected;
  } cases[] = {
      {exe, real},
      {root + "/./Corvane.app/Contents/MacOS//corvane-launcher", real},
      {root + "/Alias.app/Contents/MacOS/corvane-launcher",  // spelled as typed: it leads there
       QString::fromStdString(root + "/Alias.app/Contents/Frameworks/plugins")},
      {root + "/bin/corvane", real},
      {"corvane-launcher", real},
      {"Corvane.app/Contents/MacOS/corvane-launcher", real},
  };
  for (const auto& c : cases)
    EXPECT_EQ(startup::PluginFolder(c.argv0.c_str(), QString::fromStdString(exe)), c.expected) << c.argv0;
  // A folder above the bundle that is a link (macOS's /var -> /private/var): typed either way, and
  // with the platform reporting either spelling, it is the same bundle, spelled as typed.
  fs::create_symlink(root, root + "/linked");
  const std::string linked_exe = root + "/linked/Corvane.app/Contents/MacOS/corvane-launcher";
  const QString linked = QString::fromStdString(root + "/linked/Corvane.app/Contents/Frameworks/plugins");
  for (const std::string& reported : {exe, linked_exe}) {
    EXPECT_EQ(startup::PluginFolder(linked_exe.c_str(), QString::fromStdString(reported)), linked)
        << reported;
    EXPECT_EQ(startup::PluginFolder(exe.c_str(), QString::fromStdString(reported)), real) << reported;
  }
  EXPECT_EQ(startup::PluginFolder(nullptr, QString::fromStdString(exe)), real);
  // Without the platform's answer, the path as typed.
  EXPECT_EQ(startup::PluginFolder("/a/b/MacOS/x", QString()), "/a/b/Frameworks/plugins");
  EXPECT_EQ(startup::RunningExecutablePath(),
            QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
}

}  // namespace
