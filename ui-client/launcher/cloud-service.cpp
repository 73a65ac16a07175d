#include "cloud-service.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <string>
#include <vector>

#include "UIPathManager.h"
#include "UserHome.h"
#include "extractor.h"
#include "file-op.h"
#include "log.h"
#include "tmp_name_gen.h"
#include "version-file.h"

namespace {

constexpr const char* kLog = "service_debug";

QString RegistryPath(const char* key) {
  return UIPathManager::getInstance()->getPath(QString::fromLatin1(key));
}

ustring Utf8(const QString& text) {
  return ustring(text.toUtf8().constData());
}

// Reads the [Version] group of the INFO file at `path` into `version`; keys that are absent leave
// their field as it was. The file is read as QSettings' INI format reads it, but never by QSettings,
// which would open it itself and wait forever on a named pipe (version-file.h). A file that is there but
// cannot be used (not a regular file, unreadable) adds no keys, as a missing one, and is logged.
void ReadVersionFile(const ustring& path, VersionInfo& version) {
  QMap<QString, QString> values;
  QString why;
  if (version_file::ReadIniFile(QString::fromUtf8(path.c_str()), &values, &why) != 0) {
    if (IsFileExist(path, false))
      LOG_WARNING(kLog, "cannot read version file '%s': %s", path.c_str(), qUtf8Printable(why));
    return;
  }
  struct {
    const char* key;
    ustring* field;
  } const fields[] = {{"major_version", &version.major_version},
                      {"minor_version", &version.minor_version},
                      {"build_version", &version.build_version},
                      {"icon_overlay_version", &version.icon_overlay_version}};
  for (const auto& f : fields) {
    const auto it = values.constFind(QStringLiteral("Version/") + QString::fromLatin1(f.key));
    if (it != values.constEnd()) *f.field = Utf8(it.value());
  }
}

// How many fresh aside names are tried before a copy is left where it is.
constexpr int kAsideAttempts = 3;

// The prefix of every name a copy of `app` is set aside under, in the same parent folder:
// "<basename(app)>_trash.".
ustring AsidePrefix(const ustring& app) {
  return FSBaseName(app) + "_trash.";
}

// Takes `path` out of its name by renaming it to <app>_trash.<random> beside `app`, so that a
// removal cut short never leaves a half-removed copy under a backup name. The parent stays the same:
// moving a folder into another parent needs write permission on the folder itself, which a
// read-only or foreign copy lacks. True when it is aside or there was nothing; false (WARNING) when
// it keeps its name.
bool SetAside(const ustring& app, const ustring& path) {
  if (!IsFileExist(path, false)) return true;
  int err = EEXIST;  // stays when every name drawn was taken
  for (int attempt = 0; attempt < kAsideAttempts; ++attempt) {
    const ustring aside =
        FSParentPath(app) + "/" + AsidePrefix(app) + TmpNameGen::getInstance()->getTmpName();
    if (IsFileExist(aside, false)) continue;
    if (FSRename(path, aside, false) == 0) {
      LOG_DEBUG(kLog, "set '%s' aside as '%s'", path.c_str(), aside.c_str());
      return true;
    }
    err = errno;
  }
  LOG_WARNING(kLog, "cannot set '%s' aside for removal: %s (%d)", path.c_str(), strerror(err), err);
  return false;
}

// Removes every copy set aside beside `app`, from this run or an earlier one. A copy that cannot be
// removed (read-only folders, another user's files) stays aside with a WARNING naming it; permissions
// are never changed to force it.
void RemoveSetAside(const ustring& app) {
  const ustring parent = FSParentPath(app);
  const ustring prefix = AsidePrefix(app);
  std::vector<ustring> names;
  DIR_HANDLE handle;
  if (FSOpenDir(parent, 0, handle) < 0) return;  // no folder, nothing aside
  DIR_ENTRY entry;
  while (FSReadDir(handle, entry) >= 1)
    if (entry.name.length() > prefix.length() &&
        strncmp(entry.name.c_str(), prefix.c_str(), prefix.length()) == 0)
      names.push_back(entry.name);
  FSCloseDir(handle);
  for (const ustring& name : names) {
    const ustring aside = parent + "/" + name;
    if (FSRemove(aside, false) == 0) continue;
    const int err = errno;
    LOG_WARNING(kLog, "cannot remove '%s', set aside for removal: %s (%d); trying again on the next start",
                aside.c_str(), strerror(err), err);
  }
}

// Renames the live bundle `app` to the first backup name that takes it. 0, or -1 after ten failed
// attempts (the bundle is still in place).
int BackUp(const ustring& app) {
  for (int n = 0; n < kAppBackupSlots; ++n) {
    const ustring backup = GetAppBackupDir(app, n);
    if (FSRename(app, backup, false) == 0) return 0;
    LOG_ERROR(kLog, "failed to backup app from '%s' -> '%s'", app.c_str(), backup.c_str());
    if (n == kAppBackupSlots - 1) {
      LOG_ERROR(kLog, "failed to backup app from '%s' -> '%s' at max retries, exiting", app.c_str(),
                backup.c_str());
    }
  }
  return -1;
}

// Removes the record of `app`, and the temporary file of a write cut short.
void RemoveRecord(const ustring& app) {
  const ustring path = UpgradeRecordPath(app);
  if (FSRemove(path + ".new", false) != 0 || FSRemove(path, false) != 0)
    LOG_WARNING(kLog, "cannot remove the upgrade record '%s'", path.c_str());
}

// After a successful extraction: every backup name goes, not only the one this run took (a name left
// by an earlier run cut short or an earlier launcher), first aside, then removed. The record goes
// last, once no backup name is left; a name that cannot be set aside keeps it ("cleaning"), so later
// starts try again without taking that name for an unfinished upgrade.
void CleanUpBackups(const ustring& app) {
  bool all_gone = true;
  for (int m = 0; m < kAppBackupSlots; ++m) all_gone = SetAside(app, GetAppBackupDir(app, m)) && all_gone;
  RemoveSetAside(app);
  if (all_gone) RemoveRecord(app);
}

bool AnyBackupName(const ustring& app) {
  for (int n = 0; n < kAppBackupSlots; ++n)
    if (IsFileExist(GetAppBackupDir(app, n), false)) return true;
  return false;
}

// The good copy is live and nothing is unfinished: backup names still there are an earlier
// launcher's old copies, kept ("kept") until an upgrade succeeds; without any, no record is needed.
void Settle(const ustring& app) {
  if (AnyBackupName(app)) {
    UpgradeRecord kept;
    kept.state = UpgradeRecord::kKept;
    WriteUpgradeRecord(app, kept);  // a failure leaves "upgrading": the next run upgrades again
  } else {
    RemoveRecord(app);
  }
}

// Whether `path` is the copy `record` names as good: the same entry (a folder or a link), whatever
// its name now.
bool IsGoodCopy(const ustring& path, const UpgradeRecord& record) {
  struct stat st;
  return record.good_exists && lstat(path.c_str(), &st) == 0 &&
         static_cast<unsigned long long>(st.st_dev) == record.good_dev &&
         static_cast<unsigned long long>(st.st_ino) == record.good_ino;
}

// The backup number under which the good copy lies, or -1 when it is under none.
int GoodBackup(const ustring& app, const UpgradeRecord& record) {
  for (int n = 0; n < kAppBackupSlots; ++n)
    if (IsGoodCopy(GetAppBackupDir(app, n), record)) return n;
  return -1;
}

// A new upgrade: the copy live now (if any), of build `build`, is the one to come back to.
UpgradeRecord BeginUpgrade(const ustring& app, const ustring& build) {
  UpgradeRecord record;
  record.state = UpgradeRecord::kUpgrading;
  struct stat st;
  if (lstat(app.c_str(), &st) == 0) {
    record.good_exists = true;
    record.good_dev = static_cast<unsigned long long>(st.st_dev);
    record.good_ino = static_cast<unsigned long long>(st.st_ino);
    const long long n = build.empty() ? 0 : strtoll(build.c_str(), nullptr, 10);
    record.good_build = n > INT_MAX ? INT_MAX : n < INT_MIN ? INT_MIN : static_cast<int>(n);
  }
  return record;
}

// Clears the live name for the extraction: the good copy goes to a backup name, an unfinished copy
// aside. 0, or -1 when it stays (logged).
int ClearLiveName(const ustring& app, const UpgradeRecord& record) {
  if (!IsFileExist(app, false)) return 0;
  if (IsGoodCopy(app, record)) return BackUp(app);
  LOG_WARNING(kLog, "'%s' is an unfinished installation, setting it aside", app.c_str());
  if (SetAside(app, app)) return 0;
  LOG_ERROR(kLog, "cannot take the unfinished installation '%s' out of the way", app.c_str());
  return -1;
}

// After a failed extraction: the partial bundle goes aside and the good copy the record names is
// renamed back; backup names of older copies stay. Each step leaves the good copy under the live name
// or a backup name, and the record naming it, so a run ended in between finds it again. Without a
// good copy everything stays as it is, and so does the record: the next run upgrades again.
void RollBack(const ustring& app, const UpgradeRecord& record) {
  const int good = GoodBackup(app, record);
  if (good < 0) {
    LOG_ERROR(kLog, "Failed to extract package, and no old installation to rollback");
    return;
  }
  LOG_ERROR(kLog, "Failed to extract package, rollback to old installation");
  if (!SetAside(app, app)) {
    LOG_ERROR(kLog, "cannot take the partial installation '%s' out of the way, keeping every backup",
              app.c_str());
    return;
  }
  const ustring backup = GetAppBackupDir(app, good);
  if (FSRename(backup, app, false) != 0) {
    const int err = errno;
    LOG_ERROR(kLog, "failed to restore '%s' -> '%s': %s (%d)", backup.c_str(), app.c_str(), strerror(err),
              err);
    return;
  }
  Settle(app);
  RemoveSetAside(app);
}

// Lines "key=value", each ending in a line feed, with the keys FormatRecord writes; false for
// anything else (a cut file included).
bool ParseRecord(const std::string& text, UpgradeRecord* record) {
  UpgradeRecord r;
  bool state_seen = false;
  for (size_t pos = 0; pos < text.size();) {
    const size_t end = text.find('\n', pos);
    if (end == std::string::npos) return false;
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    char* rest = nullptr;
    if (key == "state") {
      state_seen = true;
      if (value == "upgrading") {
        r.state = UpgradeRecord::kUpgrading;
      } else if (value == "cleaning") {
        r.state = UpgradeRecord::kCleaning;
      } else if (value == "kept") {
        r.state = UpgradeRecord::kKept;
      } else {
        return false;
      }
    } else if (key == "good" && value != "none") {
      const size_t colon = value.find(':');
      if (colon == std::string::npos || colon == 0 || colon + 1 == value.size()) return false;
      r.good_dev = strtoull(value.c_str(), &rest, 10);
      if (rest != value.c_str() + colon) return false;
      r.good_ino = strtoull(value.c_str() + colon + 1, &rest, 10);
      if (*rest != '\0') return false;
      r.good_exists = true;
    } else if (key == "good_build") {
      r.good_build = static_cast<int>(strtol(value.c_str(), &rest, 10));
      if (rest == value.c_str() || *rest != '\0') return false;
    } else if (key != "good") {
      return false;
    }
  }
  if (!state_seen) return false;
  *record = r;
  return true;
}

std::string FormatRecord(const UpgradeRecord& r) {
  static const char* const states[] = {"none", "upgrading", "cleaning", "kept"};
  std::string text = std::string("state=") + states[r.state] + "\ngood=";
  text += r.good_exists ? std::to_string(r.good_dev) + ":" + std::to_string(r.good_ino) : "none";
  text += "\ngood_build=" + std::to_string(r.good_build) + "\n";
  return text;
}

// Forces what was written to `fd` to the disk itself (on macOS fsync reaches only the drive's cache).
int SyncToDisk(int fd) {
#ifdef __APPLE__
  if (fcntl(fd, F_FULLFSYNC) == 0) return 0;
#endif
  return fsync(fd);
}

}  // namespace

ustring UpgradeRecordPath(const ustring& app) {
  return app + ".upgrade";
}

UpgradeRecord ReadUpgradeRecord(const ustring& app) {
  constexpr size_t kMaxRecord = 4096;
  UpgradeRecord record;
  const ustring path = UpgradeRecordPath(app);
  // Not blocking and not through a link: a pipe or a link placed there must neither hang nor redirect.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    if (err != ENOENT)
      LOG_WARNING(kLog, "cannot read the upgrade record '%s': %s (%d)", path.c_str(), strerror(err), err);
    return record;
  }
  struct stat st;
  std::string text;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  while (ok && text.size() < kMaxRecord) {
    char buffer[kMaxRecord];
    const ssize_t got = read(fd, buffer, kMaxRecord - text.size());  // never past the bound
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    text.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  if (!ok || text.size() >= kMaxRecord || !ParseRecord(text, &record)) {
    LOG_WARNING(kLog, "ignoring the upgrade record '%s': not a record this launcher writes", path.c_str());
    record = UpgradeRecord();
  }
  return record;
}

int WriteUpgradeRecord(const ustring& app, const UpgradeRecord& record) {
  const ustring path = UpgradeRecordPath(app);
  const ustring temporary = path + ".new";  // RemoveRecord knows this name
  const std::string text = FormatRecord(record);
  FSBeforeChange();
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  int err = errno;
  bool ok = fd >= 0;
  if (ok) {
    ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && SyncToDisk(fd) == 0;
    err = errno;
    if (close(fd) != 0 && ok) {
      ok = false;
      err = errno;
    }
  }
  if (ok) {
    FSBeforeChange();
    ok = rename(temporary.c_str(), path.c_str()) == 0;
    err = errno;
  }
  if (!ok) {
    LOG_ERROR(kLog, "cannot write the upgrade record '%s': %s (%d)", path.c_str(), strerror(err), err);
    if (fd >= 0) unlink(temporary.c_str());
    return -1;
  }
  // The rename must reach the disk before the copies it describes move.
  const int folder = open(FSParentPath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    SyncToDisk(folder);
    close(folder);
  }
  return 0;
}

ustring GetAppBackupDir(const ustring& path, int n) {
  ustring base = path + "_tmp";
  if (n == 0) return base;
  char postfix[8] = {0};
  int written = snprintf(postfix, sizeof(postfix), "%d", n);
  if (written < 0 || written >= static_cast<int>(sizeof(postfix))) {
    LOG_ERROR(kLog, "snprintf failed (continuing without postfix)");
    postfix[0] = '\0';
  }
  return base + postfix;
}

Service::Service() : timeout(0) {}

Service::~Service() = default;

void Service::SetTimeout(int value) {
  timeout = value;
}

QString Service::GetUserInstallPath() {
  return UserHomePath();
}

void Service::LoadSourceVersion() {
  const ustring path = Utf8(RegistryPath("user_corvane_resource_path") + "/INFO");
  if (!IsFileExist(path, false)) {
    LOG_INFO(kLog, "source does not exist");
    return;
  }
  ReadVersionFile(path, source_version);
  LOG_INFO(kLog, "source_version = (%s, %s, %s, %s)", source_version.major_version.c_str(),
           source_version.minor_version.c_str(), source_version.build_version.c_str(),
           source_version.icon_overlay_version.c_str());
}

void Service::LoadTargetVersion() {
  // A missing file simply has no keys.
  ReadVersionFile(Utf8(RegistryPath("root_resource_path") + "/INFO"), target_version);
  LOG_INFO(kLog, "target_version = (%s, %s, %s, %s)", target_version.major_version.c_str(),
           target_version.minor_version.c_str(), target_version.build_version.c_str(),
           target_version.icon_overlay_version.c_str());
}

int Service::ExtractPackage() {
  const ustring package = Utf8(RegistryPath("root_resource_path") + "/package/skyhold.hpk");
  const ustring destination = Utf8(RegistryPath("user_corvane_app_path"));
  if (FSMKDir(destination, true) < 0) {
    LOG_ERROR(kLog, "failed to create folder: '%s'", destination.c_str());
    return -1;
  }
  LOG_INFO(kLog, "extract package: '%s' -> '%s'", package.c_str(), destination.c_str());
  Extractor extractor;
  extractor.dest_path = destination;
  extractor.archive_path = package;
  return extractor.Extract();
}

int Service::PrepareUserEnv() {
  const ustring app = app_path;
  if (app.empty()) {
    // Backup names would be relative to the working folder.
    LOG_ERROR(kLog, "no per-user application path, nothing to prepare");
    return -1;
  }
  UpgradeRecord record = ReadUpgradeRecord(app);
  if (record.state == UpgradeRecord::kUpgrading) {
    LOG_WARNING(kLog, "finishing the upgrade an earlier run began (%s)",
                record.good_exists ? "its installation kept under a backup name" : "a first installation");
  } else {
    record = BeginUpgrade(app, source_version.build_version);
    if (WriteUpgradeRecord(app, record) != 0) return -1;
  }
  if (ClearLiveName(app, record) != 0) {
    if (IsGoodCopy(app, record)) Settle(app);  // nothing moved
    return -1;
  }
  if (ExtractPackage() == 0) {
    LOG_INFO(kLog, "user installation is ready, removing backup app");
    UpgradeRecord cleaning;
    cleaning.state = UpgradeRecord::kCleaning;
    // Unrecorded, the new copy is not known complete: the good copy must then stay for the next run.
    if (WriteUpgradeRecord(app, cleaning) == 0) CleanUpBackups(app);
    return 0;
  }
  RollBack(app, record);
  return -1;
}

namespace {

// `folder` with the folders above it in their stored form (a home reached through a link resolved)
// and its own name as given, so that an exact test still tells whether the folder is kept under
// this very spelling. `folder` itself when the folders above cannot be resolved.
ustring WithStoredParent(const ustring& folder) {
  ustring parent = FSParentPath(folder);
  if (FSGetRealPath(parent) != 0) return folder;
  return (parent == ustring("/") ? parent : parent + "/") + FSBaseName(folder);
}

}  // namespace

void Service::MigrateService() {
  const QString skyhold = QDir::toNativeSeparators(RegistryPath("user_skyhold_path"));
  const QString corvane = QDir::toNativeSeparators(RegistryPath("user_corvane_path"));
  // The exact tests below accept only stored forms; a home reached through a link has none of its
  // own, so the paths are built from the home's stored form.
  const ustring old_folder = WithStoredParent(Utf8(skyhold));
  const ustring new_folder = WithStoredParent(Utf8(corvane));
  const ustring old_data = old_folder + "/data";
  const ustring new_data = new_folder + "/data";

  if (!IsFileExist(new_folder, true) && FSMKDir(new_folder, true) < 0) {
    LOG_ERROR(kLog, "Failed to create Corvane folder");
    return;
  }
  if (IsFileExist(old_data, true) && FSRename(old_data, new_data, true) < 0)
    LOG_ERROR(kLog, "Failed to move data to Corvane folder");
  // Whatever kept the data where it is (a non-empty ~/.Corvane/data, a move cut off half-way, a path
  // not in its stored form), the folder that holds it must stay.
  if (IsFileExist(old_data, false)) {
    LOG_ERROR(kLog, "keeping '%s': its data was not moved", old_folder.c_str());
    return;
  }
  if (IsFileExist(old_folder, true) && FSRemove(old_folder, false) < 0)
    LOG_ERROR(kLog, "Failed to remove old .Skyhold folder");
}

void Service::RemoveAgedFolders() {
  const ustring path = Utf8(RegistryPath("user_skyhold_path") + "/app");
  LOG_INFO(kLog, "removing aged app folder %s", path.c_str());
  FSRemove(path, false);
  if (app_path.empty()) return;
  const UpgradeRecord record = ReadUpgradeRecord(app_path);
  if (record.state == UpgradeRecord::kCleaning) {
    CleanUpBackups(app_path);  // a name that could not be set aside last time, or a run ended early
  } else if (record.state == UpgradeRecord::kKept && !AnyBackupName(app_path)) {
    Settle(app_path);
  } else {
    // Copies an earlier upgrade set aside but could not remove: perhaps they can go now.
    RemoveSetAside(app_path);
  }
}

int Service::FSCopyPath(const ustring& src, const ustring& dst) {
  LOG_DEBUG(kLog, "copy from '%s' to '%s'", src.c_str(), dst.c_str());
  _FILE_INFO_tag info;
  if (FSStat(src, info, false) < 0) {
    LOG_ERROR(kLog, "FSCopyPath: failed to stat source '%s'", src.c_str());
    return -1;
  }
  if (!info.exists) {
    LOG_ERROR(kLog, "FSCopyPath: source path '%s' does not exist", src.c_str());
    return -1;
  }
  if (info.type != FILE_TYPE_DIRECTORY) return FSCopy(src, dst, false, false) < 0 ? -1 : 0;

  if (FSMKDir(dst, true) < 0) {
    LOG_ERROR(kLog, "FSCopyPath: failed to create dest folder '%s'", dst.c_str());
    return -1;
  }
  DIR_HANDLE handle;
  if (FSOpenDir(src, 0, handle) < 0) {
    LOG_WARNING(kLog, "FSCopyPath: failed to create handle  for src '%s' failed", src.c_str());
    return 0;
  }
  int result = 0;
  DIR_ENTRY entry;
  while (FSReadDir(handle, entry) >= 1) {
    if (entry.name.compare(ustring(".")) == 0 || entry.name.compare(ustring("..")) == 0) continue;
    const ustring child_src = src + "/" + entry.name;
    const ustring child_dst = dst + "/" + entry.name;
    int r = entry.type == FILE_TYPE_DIRECTORY ? FSCopyPath(child_src, child_dst)
                                              : FSCopy(child_src, child_dst, false, false);
    if (r < 0) {
      LOG_ERROR(kLog, "FSCopyPath: failed to copy from '%s' to '%s'", child_src.c_str(), child_dst.c_str());
      result = -1;
      break;
    }
  }
  FSCloseDir(handle);
  return result;
}
