#include "mac/mac-service.h"

#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <string>

#include "UIPathManager.h"
#include "config.h"
#include "file-op.h"
#include "launch-services.h"
#include "log.h"
#include "process-control.h"

namespace {

constexpr const char* kLog = "service_debug";
constexpr int kStopProbes = 15;
// A process start time and a file time come from different clocks and resolutions; a process that
// started up to this long after the pid file was written may still be the one that wrote it.
constexpr long long kClockSlackNs = 2000000000LL;

QString RegistryPath(const char* key) {
  return UIPathManager::getInstance()->getPath(QString::fromLatin1(key));
}

ustring Utf8(const QString& text) {
  return ustring(text.toUtf8().constData());
}

// The leading decimal number of `text`, 0 without one. Out-of-range numbers are clamped rather than
// wrapped: a huge shipped build must still count as newer.
int BuildNumber(const ustring& text) {
  if (text.empty()) return 0;
  const long long n = strtoll(text.c_str(), nullptr, 10);
  return n > INT_MAX ? INT_MAX : n < INT_MIN ? INT_MIN : static_cast<int>(n);
}

long long Nanoseconds(const struct timespec& t) {
  return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// True when process `pid` is known to have started after `written` (plus the slack): then it is not
// the process that wrote the pid file. False when it started earlier or its start is unknown.
bool StartedAfter(pid_t pid, long long written_ns) {
  struct timespec started;
  if (GetProcessStartTime(pid, &started) != 0) return false;
  return Nanoseconds(started) > written_ns + kClockSlackNs;
}

}  // namespace

MacService::MacService() {
  timeout = 10000;
  app_path = Utf8(RegistryPath("user_corvane_app_path"));
}

MacService::~MacService() = default;

void MacService::PreUpgrade() {
  Service::LoadTargetVersion();
  Service::LoadSourceVersion();
  LOG_DEBUG(kLog, "Source version: ('%s', '%s')", source_version.build_version.c_str(),
            source_version.icon_overlay_version.c_str());
  LOG_DEBUG(kLog, "Target version: ('%s', '%s')", target_version.build_version.c_str(),
            target_version.icon_overlay_version.c_str());
}

bool MacService::IsNeedUpgrade() {
  const int source = BuildNumber(source_version.build_version);
  const int target = BuildNumber(target_version.build_version);
  LOG_DEBUG(kLog, "source version = %d, target version = %d", source, target);
  if (target > source || !PerUserBinPathExist()) return true;
  // A backup name still taken means an upgrade was cut short: the bundle may be half-extracted even
  // though its INFO and its interface executable are already new, so extract afresh.
  if (!app_path.empty()) {
    for (int n = 0; n < kAppBackupSlots; ++n) {
      const ustring backup = GetAppBackupDir(app_path, n);
      if (IsFileExist(backup, false)) {
        LOG_WARNING(kLog, "backup '%s' left by an unfinished upgrade, upgrading again", backup.c_str());
        return true;
      }
    }
  }
  return false;
}

int MacService::HandlePackageUpgrade() {
  if (PerUserBinPathExist()) {
    LOG_DEBUG(kLog, "local appdata exist");
    StopService();
  } else {
    const QString skyhold = QDir::toNativeSeparators(RegistryPath("user_skyhold_path"));
    if (IsFileExist(Utf8(skyhold), true)) {
      StopServiceByPath(skyhold);
      MigrateService();
    }
  }
  return PrepareUserEnv();
}

void MacService::PostUpgrade() {
  if (LaunchPerUserBin() < 0) LOG_ERROR(kLog, "Failed to launch Skyhold UI");
}

void MacService::StopService() {
  StopServiceByPath(RegistryPath("user_corvane_path"));
}

void MacService::StopServiceByPath(const QString& folder) {
  const ustring pid_file = Utf8(folder + "/ui.pid");
  if (!IsFileExist(pid_file, false)) {
    LOG_DEBUG(kLog, "pid file '%s' does not exist, no need to terminate", pid_file.c_str());
    return;
  }
  struct stat st;
  Config config;
  if (config.read(pid_file.c_str()) < 0 || stat(pid_file.c_str(), &st) != 0) {
    LOG_NOTE(kLog, "Failed to read pid file '%s', not exist ?", pid_file.c_str());
    return;
  }
#ifdef __APPLE__
  const long long written_ns = Nanoseconds(st.st_mtimespec);
#else
  const long long written_ns = Nanoseconds(st.st_mtim);
#endif

  // 0 or a negative number would address whole process groups, the launcher's own included.
  auto it = config.entries.find("pid");
  const std::string text = it == config.entries.end() ? std::string() : it->second;
  const long value = atol(text.c_str());
  if (value < 1 || value > INT_MAX) {
    LOG_NOTE(kLog, "Failed to read pid file '%s', not exist ?", pid_file.c_str());
    LOG_DEBUG(kLog, "pid file '%s' names no process ('%s')", pid_file.c_str(), text.c_str());
    return;
  }
  const pid_t pid = static_cast<pid_t>(value);
  if (pid == getpid()) {
    LOG_NOTE(kLog, "pid file '%s' names this launcher (%d), not signalling it", pid_file.c_str(), pid);
    return;
  }
  // A stale file whose number now belongs to another program of the user.
  if (StartedAfter(pid, written_ns)) {
    LOG_NOTE(kLog, "process %d started after pid file '%s' was written, not signalling it", pid,
             pid_file.c_str());
    return;
  }

  if (SignalProcess(pid, SIGTERM) != 0) {
    int err = errno;
    if (err == ESRCH) return;
    LOG_ERROR(kLog, "kill: %s (%d)", strerror(err), err);
  }
  for (int probe = 0; probe < kStopProbes; ++probe) {
    if (SignalProcess(pid, 0) != 0 && errno == ESRCH) return;
    sleep(1);
  }
  // The number may have been taken by a new process while we waited.
  if (StartedAfter(pid, written_ns)) {
    LOG_NOTE(kLog, "process %d started after pid file '%s' was written, not signalling it", pid,
             pid_file.c_str());
    return;
  }
  SignalProcess(pid, SIGKILL);
}

bool MacService::PerUserBinPathExist() {
  const QByteArray path = RegistryPath("user_corvane_ui_path").toUtf8();
  return access(path.constData(), F_OK) == 0;
}

int MacService::LaunchPerUserBin() {
  const QString app = RegistryPath("user_corvane_app_path");
  if (launch_services::UnregisterBundle(app) != 0)
    LOG_ERROR(kLog, "Cannot unregister bundle, %s", app.toUtf8().constData());
  return launch_services::OpenNewInstance(app) ? 0 : -1;
}
