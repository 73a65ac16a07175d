// The macOS upgrade service: decides whether the private bundle must be replaced, runs the upgrade in
// its order, and stops and starts the per-user interface (through its ui.pid file and through Launch
// Services, launch-services.h). Made by the worker after the path registry is filled; used on the
// worker thread only.
#ifndef CORVANE_UI_CLIENT_LAUNCHER_MAC_MAC_SERVICE_H_
#define CORVANE_UI_CLIENT_LAUNCHER_MAC_MAC_SERVICE_H_

#include <QString>

#include "cloud-service.h"

class MacService : public Service {
 public:
  // timeout 10000; app_path from the registry's user_corvane_app_path.
  MacService();
  ~MacService() override;

  // Stops the interface named by ~/.Corvane/ui.pid.
  void StopService() override;
  // Stops what runs; when the per-user interface executable is missing and ~/.Skyhold exists, stops
  // the predecessor and migrates its data; then PrepareUserEnv(). 0 on success.
  int HandlePackageUpgrade() override;
  // LaunchPerUserBin(), logging a failure.
  void PostUpgrade() override;
  // Target version, then source version.
  void PreUpgrade() override;
  // True when the shipped build is newer than the private one, when the per-user interface executable
  // is missing, or when a backup name (<app>_tmp ... <app>_tmp9) shows that an earlier upgrade did not
  // finish. Builds that are empty or not numbers count as 0.
  bool IsNeedUpgrade() override;

  // Stops the process named by `folder`/ui.pid: SIGTERM, up to 15 one-second probes, then SIGKILL.
  // Nothing is signalled when the file is missing, unreadable or names no pid above 0, when the pid
  // is this launcher's, or when the process started after the file was last written (more than two
  // seconds later): it cannot be the interface that wrote the file.
  void StopServiceByPath(const QString& folder);
  // True when the per-user interface executable exists (executable or not).
  bool PerUserBinPathExist();
  // Unregisters the private bundle from Launch Services (a failure is logged and ignored), then opens
  // a new instance of it. 0, or -1 when it could not be started.
  int LaunchPerUserBin();
};

#endif  // CORVANE_UI_CLIENT_LAUNCHER_MAC_MAC_SERVICE_H_
