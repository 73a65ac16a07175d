#include "mac/mac-service.h"

#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <QDir>
#include <string>

#include "config.h"
#include "file-op.h"
#include "launch-services.h"
#include "log.h"
#include "package-digest.h"
#include "process-control.h"
#include "regular_file.h"
#include "user-paths.h"

namespace {

constexpr const char* kLog = "service_debug";
constexpr int kStopProbes = 15;

long long Nanoseconds(const struct timespec& t) {
  return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// A ui.pid file that names a process: where it is, the number, and when it was last written.
struct PidFile {
  ustring path;
  std::string folder;
  pid_t pid = 0;
  long long written_ns = 0;
};

// Reads `folder`/ui.pid. False, with the line that says why, when it is missing, unreadable or names
// no process: 0 or a negative number would address whole process groups, the launcher's own included.
bool ReadPidFile(const QString& folder, PidFile* file) {
  file->folder = folder.toUtf8().toStdString();
  file->path = Utf8(folder + "/ui.pid");
  const char* path = file->path.c_str();
  if (!IsFileExist(file->path, false)) {
    LOG_DEBUG(kLog, "pid file '%s' does not exist, no need to terminate", path);
    return false;
  }
  struct stat st;
  Config config;
  if (config.read(path) < 0 || stat(path, &st) != 0) {
    LOG_NOTE(kLog, "Failed to read pid file '%s', not exist ?", path);
    return false;
  }
#ifdef __APPLE__
  file->written_ns = Nanoseconds(st.st_mtimespec);
#else
  file->written_ns = Nanoseconds(st.st_mtim);
#endif
  auto it = config.entries.find("pid");
  const std::string text = it == config.entries.end() ? std::string() : it->second;
  const long value = atol(text.c_str());
  if (value < 1 || value > INT_MAX) {
    LOG_NOTE(kLog, "Failed to read pid file '%s', not exist ?", path);
    LOG_DEBUG(kLog, "pid file '%s' names no process ('%s')", path, text.c_str());
    return false;
  }
  file->pid = static_cast<pid_t>(value);
  return true;
}

// Whether `a` and the registry's `key` name the same folder, through links or not.
bool IsRegistryFolder(const std::string& a, const char* key) {
  const QByteArray b = RegistryPath(key).toUtf8();
  struct stat sa, sb;
  return !b.isEmpty() && stat(a.c_str(), &sa) == 0 && stat(b.constData(), &sb) == 0 &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Whether the program at `path` is a script ("#!"), run by an interpreter. A missing program is none.
bool IsScript(const QString& path) {
  const QByteArray name = path.toUtf8();
  int error = 0;
  const int fd = OpenRegularFile(name.constData(), "r", &error);
  if (fd < 0) {
    if (error != ENOENT)
      LOG_DEBUG(kLog, "cannot read '%s': %s", name.constData(), RegularFileErrorText(error).c_str());
    return false;
  }
  char head[2] = {0, 0};
  const ssize_t n = read(fd, head, sizeof(head));
  close(fd);
  return n == 2 && head[0] == '#' && head[1] == '!';
}

// Fills in what the interface of `folder` is known by, from the path registry (see StopServiceByPath).
void AddWhatTheInterfaceIs(const std::string& folder, PidFileProcess* p) {
  if (IsRegistryFolder(folder, "user_corvane_path")) {
    const QString program = RegistryPath("user_corvane_ui_path");
    p->program_name = program.section('/', -1).toUtf8().toStdString();
    p->program_interpreted = IsScript(program);
  } else if (IsRegistryFolder(folder, "user_skyhold_path")) {
    // <bundle>.app/Contents/Resources; anything else names no bundle.
    const QString resources = QDir::cleanPath(RegistryPath("user_skyhold_resource_path"));
    const QString bundle = resources.section('/', -3, -3);
    if (resources.endsWith("/Contents/Resources") && bundle.size() > 4 && bundle.endsWith(".app"))
      p->bundle_name = bundle.toUtf8().toStdString();
  }
}

// What the system tells of the process `file` names, and what the interface is known by, for
// IsInterfaceProcess.
PidFileProcess Describe(const PidFile& file) {
  PidFileProcess p;
  p.folders.push_back(file.folder);
  char resolved[PATH_MAX];
  if (realpath(file.folder.c_str(), resolved) != nullptr) p.folders.emplace_back(resolved);
  AddWhatTheInterfaceIs(file.folder, &p);
  p.executable_known = GetProcessExecutablePath(file.pid, &p.executable) == 0;
  struct timespec started;
  p.start_known = GetProcessStartTime(file.pid, &started) == 0;
  if (p.start_known) p.started_ns = Nanoseconds(started);
  p.written_ns = file.written_ns;
  return p;
}

// Why a process is, or is not, taken for the interface.
enum class Verdict {
  kProgramInsideFolder,
  kInterfaceProgram,  // named as the interface's program, or inside its bundle
  kStartedBeforeFile,
  kNothingKnown,
  kOtherProgram,  // known not to be the interface's program
  kStartedAfterFile,
  kProgramTellsNothing,  // and its start is unknown
};

bool HasPrefixFolder(const std::string& path, const std::string& folder) {
  std::string prefix = folder;
  while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
  if (prefix.empty() || path.size() <= prefix.size() + 1) return false;
#ifdef __APPLE__
  // The usual Mac volume ignores case: a path may come back spelled otherwise than it was asked.
  if (strncasecmp(path.c_str(), prefix.c_str(), prefix.size()) != 0) return false;
#else
  if (path.compare(0, prefix.size(), prefix) != 0) return false;
#endif
  return prefix == "/" || path[prefix.size()] == '/';
}

bool SameName(const char* a, size_t a_size, const std::string& b) {
  if (a_size != b.size()) return false;
#ifdef __APPLE__
  return strncasecmp(a, b.c_str(), a_size) == 0;
#else
  return b.compare(0, a_size, a, a_size) == 0;
#endif
}

// Whether the last component of `path` is `name`.
bool IsNamed(const std::string& path, const std::string& name) {
  const size_t slash = path.rfind('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  return SameName(path.c_str() + start, path.size() - start, name);
}

// Whether `path` lies inside a folder named `name`.
bool LiesInFolderNamed(const std::string& path, const std::string& name) {
  size_t start = 0;
  for (size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1) {
    if (SameName(path.c_str() + start, slash - start, name)) return true;
  }
  return false;
}

// The rule of IsInterfaceProcess, with its reason.
Verdict Judge(const PidFileProcess& p) {
  if (p.executable_known) {
    for (const std::string& folder : p.folders) {
      if (HasPrefixFolder(p.executable, folder)) return Verdict::kProgramInsideFolder;
    }
    if (!p.program_name.empty() && IsNamed(p.executable, p.program_name)) return Verdict::kInterfaceProgram;
    if (!p.bundle_name.empty() && LiesInFolderNamed(p.executable, p.bundle_name))
      return Verdict::kInterfaceProgram;
    if (!p.program_name.empty() && !p.program_interpreted) return Verdict::kOtherProgram;
  }
  // The program tells nothing: the clocks. A recycled number belongs to a process that started after
  // the pid file was written.
  if (p.start_known) {
    return p.started_ns <= p.written_ns + kPidFileClockSlackNs ? Verdict::kStartedBeforeFile
                                                               : Verdict::kStartedAfterFile;
  }
  return p.executable_known ? Verdict::kProgramTellsNothing : Verdict::kNothingKnown;
}

// True when the process `file` names is the interface to stop, with what is known of it in
// `process`; otherwise says why not.
bool IsInterfaceToStop(const PidFile& file, PidFileProcess* process) {
  const char* path = file.path.c_str();
  if (file.pid == getpid()) {
    LOG_NOTE(kLog, "pid file '%s' names this launcher (%d), not signalling it", path, file.pid);
    return false;
  }
  const PidFileProcess& p = *process = Describe(file);
  switch (Judge(p)) {
    case Verdict::kProgramInsideFolder:
    case Verdict::kInterfaceProgram:
      if (p.start_known && p.started_ns > p.written_ns + kPidFileClockSlackNs) {
        LOG_NOTE(kLog,
                 "process %d runs the interface's program '%s' but started after pid file '%s' was "
                 "written: the clocks differ",
                 file.pid, p.executable.c_str(), path);
      }
      return true;
    case Verdict::kStartedBeforeFile:
    case Verdict::kNothingKnown:
      return true;
    case Verdict::kOtherProgram:
      LOG_NOTE(kLog,
               "process %d runs '%s', not the interface's program nor one inside '%s', not signalling it",
               file.pid, p.executable.c_str(), file.folder.c_str());
      return false;
    case Verdict::kStartedAfterFile:
      LOG_NOTE(kLog, "process %d started after pid file '%s' was written, not signalling it", file.pid, path);
      return false;
    case Verdict::kProgramTellsNothing:
      LOG_NOTE(kLog,
               "process %d runs '%s', not a program inside '%s', and its start is unknown, not signalling it",
               file.pid, p.executable.c_str(), file.folder.c_str());
      return false;
  }
  return false;
}

// Sends `sig` to the process `p` describes, saying at INFO which process gets it.
int SendSignal(pid_t pid, int sig, const PidFileProcess& p) {
  char started[64] = "unknown";
  if (p.start_known) {
    const time_t seconds = static_cast<time_t>(p.started_ns / 1000000000LL);
    struct tm local;
    if (localtime_r(&seconds, &local) != nullptr) {
      const size_t n = strftime(started, sizeof(started), "%Y-%m-%d %H:%M:%S", &local);
      snprintf(started + n, sizeof(started) - n, ".%06lld", p.started_ns % 1000000000LL / 1000);
    }
  }
  LOG_INFO(kLog, "sending signal %d to process %d (program '%s', started %s)", sig, pid,
           p.executable_known ? p.executable.c_str() : "unknown", started);
  return SignalProcess(pid, sig);
}

// SIGTERM, then up to kStopProbes probes a second apart. True when the process is gone (or was
// already), false when it still runs after the last probe.
bool TerminateAndWait(pid_t pid, const PidFileProcess& p) {
  if (SendSignal(pid, SIGTERM, p) != 0) {
    int err = errno;
    if (err == ESRCH) return true;
    LOG_ERROR(kLog, "kill: %s (%d)", strerror(err), err);
  }
  for (int probe = 0; probe < kStopProbes; ++probe) {
    if (SignalProcess(pid, 0) != 0 && errno == ESRCH) return true;
    sleep(1);
  }
  return false;
}

}  // namespace

bool IsInterfaceProcess(const PidFileProcess& p) {
  switch (Judge(p)) {
    case Verdict::kProgramInsideFolder:
    case Verdict::kInterfaceProgram:
    case Verdict::kStartedBeforeFile:
    case Verdict::kNothingKnown:
      return true;
    case Verdict::kOtherProgram:
    case Verdict::kStartedAfterFile:
    case Verdict::kProgramTellsNothing:
      return false;
  }
  return false;
}

MacService::MacService() {
  timeout = 10000;
  app_path = Utf8(RegistryPath("user_corvane_app_path"));
}

MacService::~MacService() = default;

// False, logged, when the shipped package is not the one the bundle was made with (package-digest.h):
// then nothing may be stopped, moved or replaced. Checked once; the extraction reads the descriptor the
// check opened.
bool MacService::ShippedPackageIsWhole() {
  const bool first = !shipped_package.checked();
  const ustring package = Utf8(RegistryPath("root_resource_path") + "/package/skyhold.hpk");
  const bool whole = shipped_package.Check(package) != PackageCheck::kDamaged;
  if (first && !whole)
    LOG_ERROR(kLog, "not upgrading from a damaged package, the installed copy stays as it is");
  return whole;
}

void MacService::PreUpgrade() {
  Service::LoadTargetVersion();
  RecoverInstallation();
  Service::LoadSourceVersion();
  LOG_DEBUG(kLog, "Source version: ('%s', '%s')", source_version.build_version.c_str(),
            source_version.icon_overlay_version.c_str());
  LOG_DEBUG(kLog, "Target version: ('%s', '%s')", target_version.build_version.c_str(),
            target_version.icon_overlay_version.c_str());
}

bool MacService::MayFinishUpgrade(const UpgradeRecord& record) {
  return Service::MayFinishUpgrade(record) && ShippedPackageIsWhole();
}

bool MacService::IsNeedUpgrade() {
  const int source = BuildNumber(source_version.build_version);
  const int target = BuildNumber(target_version.build_version);
  LOG_DEBUG(kLog, "source version = %d, target version = %d", source, target);
  if (target > source || !PerUserBinPathExist()) return true;
  if (!app_path.empty() && !IsWholeInstallation(app_path)) {
    // Its INFO is put in place last: the live copy may be half-extracted even though its interface
    // executable is already new.
    LOG_WARNING(kLog, "an upgrade of '%s' did not finish, upgrading again", app_path.c_str());
    return true;
  }
  const UpgradeRecord record = app_path.empty() ? UpgradeRecord() : ReadUpgradeRecord(app_path);
  // With a record, backup names left are known to be old copies, not an unfinished upgrade.
  if (record.state != UpgradeRecord::kNone || app_path.empty()) return false;
  // Without one, a backup name is what an earlier launcher cut short left: upgrade once more. Never
  // with an older package, though: that would replace a newer private copy. Copies set aside for
  // removal (<app>_trash.*) are no backups and do not count.
  for (int n = 0; n < kAppBackupSlots; ++n) {
    const ustring backup = GetAppBackupDir(app_path, n);
    if (!IsFileExist(backup, false)) continue;
    if (target < source) {
      LOG_WARNING(kLog,
                  "backup '%s' left by an unfinished upgrade, but build %d is older than %d: not upgrading",
                  backup.c_str(), target, source);
      return false;
    }
    LOG_WARNING(kLog, "backup '%s' left by an unfinished upgrade, upgrading again", backup.c_str());
    return true;
  }
  return false;
}

int MacService::HandlePackageUpgrade() {
  if (!ShippedPackageIsWhole()) return -1;
  if (PerUserBinPathExist()) {
    LOG_DEBUG(kLog, "local appdata exist");
    StopService();
  } else {
    if (PredecessorExists()) {
      StopServiceByPath(QDir::toNativeSeparators(RegistryPath("user_skyhold_path")));
      MigrateService();
    }
  }
  return PrepareUserEnv();
}

void MacService::ResumeMigration() {
  const MigrationLeft left = UnfinishedMigration();
  if (left == MigrationLeft::kNothing) return;
  if (left == MigrationLeft::kData) {
    // The data moves into ~/.Corvane/data: neither product's interface may be using it meanwhile.
    StopService();
    StopServiceByPath(QDir::toNativeSeparators(RegistryPath("user_skyhold_path")));
  }
  MigrateService();
}

void MacService::PostUpgrade() {
  if (IsFileExist(app_path, false) && !IsWholeInstallation(app_path)) {
    LOG_ERROR(kLog, "not starting '%s': its installation did not finish, the next start repairs it",
              app_path.c_str());
    return;
  }
  if (LaunchPerUserBin() < 0) LOG_ERROR(kLog, "Failed to launch Skyhold UI");
}

void MacService::StopService() {
  StopServiceByPath(RegistryPath("user_corvane_path"));
}

void MacService::StopServiceByPath(const QString& folder) {
  PidFile file;
  PidFileProcess process;
  if (!ReadPidFile(folder, &file) || !IsInterfaceToStop(file, &process)) return;
  if (TerminateAndWait(file.pid, process)) return;
  // The number may have been taken by a new process while we waited.
  if (!IsInterfaceToStop(file, &process)) return;
  SendSignal(file.pid, SIGKILL, process);
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
