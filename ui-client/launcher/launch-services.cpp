#include "launch-services.h"

#include <QFileInfo>
#include <mutex>
#include <utility>

#ifdef __APPLE__
#include <QProcess>
#else
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <QFile>

#include "UIPathManager.h"
#endif

namespace launch_services {
namespace {

std::mutex observer_mutex;
std::function<void(const Request&)> observer;
std::function<bool(const Request&)> gate;

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

#ifdef __APPLE__

int UnregisterBundle(const QString& bundle) {
  Request request{Request::kUnregister,
                  bundle,
                  QStringLiteral("/System/Library/Frameworks/CoreServices.framework/Frameworks/"
                                 "LaunchServices.framework/Support/lsregister"),
                  {QStringLiteral("-u"), bundle},
                  QString()};
  if (!Allowed(request)) return -1;
  return QProcess::execute(request.program, request.arguments);
}

bool OpenNewInstance(const QString& bundle) {
  Request request{Request::kOpenNewInstance,
                  bundle,
                  QStringLiteral("/usr/bin/open"),
                  {QStringLiteral("-n"), QStringLiteral("-a"), bundle},
                  QString()};
  if (!Allowed(request)) return false;
  return QProcess::startDetached(request.program, request.arguments);
}

#else

namespace {

// Starts `program` without arguments in `folder`, in a session of its own, with every signal at its
// default disposition and none blocked, and does not wait for it to end. glibc's posix_spawn returns
// only once the child has called exec, and returns the child's error when changing folder or exec
// failed, so true means the program runs. The launcher process is not copied: no fork of its
// mappings, no intermediate process. The started program stays the caller's child until the caller
// exits; it is never waited for.
bool SpawnDetached(const QString& program, const QString& folder) {
  const QByteArray path = QFile::encodeName(program);
  const QByteArray dir = QFile::encodeName(folder);
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  int error = posix_spawn_file_actions_addchdir_np(&actions, dir.constData());
  if (error == 0)
    error = posix_spawnattr_setflags(&attributes,
                                     POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  if (error == 0) error = posix_spawnattr_setsigdefault(&attributes, &all);
  if (error == 0) error = posix_spawnattr_setsigmask(&attributes, &none);
  if (error == 0) {
    char* argv[] = {const_cast<char*>(path.constData()), nullptr};
    pid_t pid = 0;
    error = posix_spawn(&pid, path.constData(), &actions, &attributes, argv, environ);
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error == 0;
}

}  // namespace

int UnregisterBundle(const QString& bundle) {
  return Allowed(Request{Request::kUnregister, bundle, QString(), {}, QString()}) ? 0 : -1;
}

bool OpenNewInstance(const QString& bundle) {
  // The user-interface executable of the bundle, started from its own folder as the bundle's
  // Contents/MacOS would be on macOS.
  const QString program = UIPathManager::getInstance()->getPath(QStringLiteral("user_corvane_ui_path"));
  Request request{Request::kOpenNewInstance, bundle, program, {}, QFileInfo(program).absolutePath()};
  if (!Allowed(request) || program.isEmpty()) return false;
  return SpawnDetached(request.program, request.working_directory);
}

#endif

}  // namespace launch_services
