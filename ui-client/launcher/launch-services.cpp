#include "launch-services.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "UIPathManager.h"
#include "log.h"

#ifdef __APPLE__
#include <crt_externs.h>
#define CORVANE_ENVIRON (*_NSGetEnviron())
#else
#define CORVANE_ENVIRON environ
#endif

namespace launch_services {

#ifdef CORVANE_TEST_BUILD
// The mark of a launcher built with the tests (CMake's CORVANE_TESTS, which on macOS also makes it start
// the interface directly): scripts/make-bundle looks for this exact text in the executable and puts such
// a launcher only into a bundle asked for as a test bundle. `used` and external linkage keep it in the
// executable, which links this unit for OpenNewInstance.
extern const char kTestBuildMark[];
__attribute__((used)) const char kTestBuildMark[] = "corvane-launcher test build: not for release";
#endif

namespace {

std::mutex observer_mutex;
std::function<void(const Request&)> observer;
std::function<bool(const Request&)> gate;
QString opener_for_tests;
int opener_timeout_ms = kOpenTimeoutMs;

const char kLog[] = "service_debug";

// A test build starts the interface's executable directly on macOS too (CMake's
// CORVANE_START_UI_DIRECTLY): tests must not start applications through launchd in the developer's
// own session, with the real home folder. What ships always goes through Launch Services.
#if defined(__APPLE__) && !defined(CORVANE_START_UI_DIRECTLY)
constexpr bool kLaunchServices = true;
#else
constexpr bool kLaunchServices = false;
#endif
const char kLsregister[] =
    "/System/Library/Frameworks/CoreServices.framework/Frameworks/LaunchServices.framework/Support/"
    "lsregister";
const char kOpen[] = "/usr/bin/open";

// Shows `request` to the observer, then asks the gate: true when it may be carried out.
bool Allowed(const Request& request) {
  std::function<void(const Request&)> tell;
  std::function<bool(const Request&)> ask;
  {
    std::lock_guard<std::mutex> lock(observer_mutex);
    tell = observer;
    ask = gate;
  }
  if (tell) tell(request);
  return !ask || ask(request);
}

}  // namespace

void SetObserver(std::function<void(const Request&)> new_observer) {
  std::lock_guard<std::mutex> lock(observer_mutex);
  observer = std::move(new_observer);
}

void SetGate(std::function<bool(const Request&)> new_gate) {
  std::lock_guard<std::mutex> lock(observer_mutex);
  gate = std::move(new_gate);
}

void SetOpenerForTests(const QString& program, int timeout_ms) {
  std::lock_guard<std::mutex> lock(observer_mutex);
  opener_for_tests = program;
  opener_timeout_ms = timeout_ms;
}

namespace {

// Starts `program` with `arguments` (in `folder` unless it is empty), in a session of its own, with
// every signal at its default disposition and none blocked, and does not wait for it. posix_spawn
// returns the child's error when changing folder or exec failed (glibc waits for the exec; on macOS
// it is one system call), so success means the program runs. The launcher process is not copied: no
// fork of its mappings. 0 with `pid` set, or the error number.
int Spawn(const QString& program, const QStringList& arguments, const QString& folder, pid_t* pid) {
  const QByteArray path = QFile::encodeName(program);
  const QByteArray dir = QFile::encodeName(folder);
  std::vector<QByteArray> held{path};
  for (const QString& argument : arguments) held.push_back(argument.toUtf8());
  std::vector<char*> argv;
  for (QByteArray& a : held) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  int error = posix_spawn_file_actions_init(&actions);
  if (error != 0) return error;
  error = posix_spawnattr_init(&attributes);
  if (error != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return error;
  }
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  if (!dir.isEmpty()) error = posix_spawn_file_actions_addchdir_np(&actions, dir.constData());
  if (error == 0)
    error = posix_spawnattr_setflags(&attributes,
                                     POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  if (error == 0) error = posix_spawnattr_setsigdefault(&attributes, &all);
  if (error == 0) error = posix_spawnattr_setsigmask(&attributes, &none);
  if (error == 0)
    error = posix_spawn(pid, path.constData(), &actions, &attributes, argv.data(), CORVANE_ENVIRON);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

// Runs the opener (`/usr/bin/open -n -a <bundle>`, or a test's stand-in) and judges its exit status:
// open exits once Launch Services has taken the launch, with a non-zero status when the application
// could not be launched (damaged, blocked by Gatekeeper). Waits at most `timeout_ms`, polling, so a
// hung opener cannot hold the worker thread; past it the launch is taken as started (logged) and the
// opener left running. True when started; false after logging why not.
bool RunOpener(const Request& request, int timeout_ms) {
  const QByteArray program = request.program.toUtf8();
  pid_t pid = 0;
  const int error = Spawn(request.program, request.arguments, request.working_directory, &pid);
  if (error != 0) {
    LOG_ERROR(kLog, "cannot run '%s': %s (%d)", program.constData(), strerror(error), error);
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
      if (WIFEXITED(status))
        LOG_ERROR(kLog, "'%s' could not launch '%s': exit status %d", program.constData(),
                  request.bundle.toUtf8().constData(), WEXITSTATUS(status));
      else
        LOG_ERROR(kLog, "'%s' ended by signal %d", program.constData(), WTERMSIG(status));
      return false;
    }
    if (r < 0 && errno != EINTR) {
      const int err = errno;
      LOG_WARNING(kLog, "cannot wait for '%s': %s (%d); taking the launch as started", program.constData(),
                  strerror(err), err);
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      LOG_WARNING(kLog, "'%s' still runs after %d ms; taking the launch as started", program.constData(),
                  timeout_ms);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

int UnregisterBundle(const QString& bundle) {
  if (!kLaunchServices)
    return Allowed(Request{Request::kUnregister, bundle, QString(), {}, QString()}) ? 0 : -1;
  Request request{Request::kUnregister,
                  bundle,
                  QString::fromLatin1(kLsregister),
                  {QStringLiteral("-u"), bundle},
                  QString()};
  if (!Allowed(request)) return -1;
  return QProcess::execute(request.program, request.arguments);
}

bool OpenNewInstance(const QString& bundle) {
  QString opener;
  int timeout_ms = kOpenTimeoutMs;
  {
    std::lock_guard<std::mutex> lock(observer_mutex);
    opener = opener_for_tests;
    timeout_ms = opener_timeout_ms;
  }
  if (kLaunchServices || !opener.isEmpty()) {
    Request request{Request::kOpenNewInstance,
                    bundle,
                    opener.isEmpty() ? QString::fromLatin1(kOpen) : opener,
                    {QStringLiteral("-n"), QStringLiteral("-a"), bundle},
                    QString()};
    return Allowed(request) && RunOpener(request, timeout_ms);
  }
  // The user-interface executable of the bundle, started from its own folder as the bundle's
  // Contents/MacOS would be on macOS.
  const QString program = UIPathManager::getInstance()->getPath(QStringLiteral("user_corvane_ui_path"));
  Request request{Request::kOpenNewInstance, bundle, program, {}, QFileInfo(program).absolutePath()};
  if (!Allowed(request) || program.isEmpty()) return false;
  pid_t pid = 0;
  return Spawn(request.program, request.arguments, request.working_directory, &pid) == 0;
}

}  // namespace launch_services
