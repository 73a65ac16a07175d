#include "launch-services.h"

#include <QFileInfo>
#include <QProcess>
#include <mutex>
#include <utility>

#ifndef __APPLE__
#include "UIPathManager.h"
#endif

namespace launch_services {
namespace {

std::mutex observer_mutex;
std::function<void(const Request&)> observer;

void Tell(const Request& request) {
  std::function<void(const Request&)> copy;
  {
    std::lock_guard<std::mutex> lock(observer_mutex);
    copy = observer;
  }
  if (copy) copy(request);
}

}  // namespace

void SetObserver(std::function<void(const Request&)> new_observer) {
  std::lock_guard<std::mutex> lock(observer_mutex);
  observer = std::move(new_observer);
}

#ifdef __APPLE__

int UnregisterBundle(const QString& bundle) {
  Request request{Request::kUnregister,
                  bundle,
                  QStringLiteral("/System/Library/Frameworks/CoreServices.framework/Frameworks/"
                                 "LaunchServices.framework/Support/lsregister"),
                  {QStringLiteral("-u"), bundle},
                  QString()};
  Tell(request);
  return QProcess::execute(request.program, request.arguments);
}

bool OpenNewInstance(const QString& bundle) {
  Request request{Request::kOpenNewInstance,
                  bundle,
                  QStringLiteral("/usr/bin/open"),
                  {QStringLiteral("-n"), QStringLiteral("-a"), bundle},
                  QString()};
  Tell(request);
  return QProcess::startDetached(request.program, request.arguments);
}

#else

int UnregisterBundle(const QString& bundle) {
  Tell(Request{Request::kUnregister, bundle, QString(), {}, QString()});
  return 0;
}

bool OpenNewInstance(const QString& bundle) {
  // The user-interface executable of the bundle, started from its own folder as the bundle's
  // Contents/MacOS would be on macOS.
  const QString program = UIPathManager::getInstance()->getPath(QStringLiteral("user_corvane_ui_path"));
  Request request{Request::kOpenNewInstance, bundle, program, {}, QFileInfo(program).absolutePath()};
  Tell(request);
  if (program.isEmpty()) return false;
  return QProcess::startDetached(request.program, request.arguments, request.working_directory);
}

#endif

}  // namespace launch_services
