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
#include <functional>
#include <string>
#include <vector>

#include "UIPathManager.h"
#include "UserHome.h"
#include "config.h"
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
  if (app.empty()) {
    LOG_WARNING(kLog, "cannot set '%s' aside for removal: no place is known for it", path.c_str());
    return false;
  }
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
// are never changed to force it. True when none is left.
bool RemoveSetAside(const ustring& app) {
  const ustring parent = FSParentPath(app);
  const ustring prefix = AsidePrefix(app);
  std::vector<ustring> names;
  DIR_HANDLE handle;
  if (FSOpenDir(parent, 0, handle) < 0) return true;  // no folder, nothing aside
  DIR_ENTRY entry;
  while (FSReadDir(handle, entry) >= 1)
    if (entry.name.length() > prefix.length() &&
        strncmp(entry.name.c_str(), prefix.c_str(), prefix.length()) == 0)
      names.push_back(entry.name);
  FSCloseDir(handle);
  bool all_gone = true;
  for (const ustring& name : names) {
    const ustring aside = parent + "/" + name;
    if (FSRemove(aside, false) == 0) continue;
    const int err = errno;
    LOG_WARNING(kLog, "cannot remove '%s', set aside for removal: %s (%d); trying again on the next start",
                aside.c_str(), strerror(err), err);
    all_gone = false;
  }
  return all_gone;
}

// The build the copy at `copy` holds in its INFO; 0 without one.
int BuildOfCopy(const ustring& copy) {
  VersionInfo version;
  const ustring info = copy + "/Contents/Resources/INFO";
  if (IsFileExist(info, false)) ReadVersionFile(info, version);
  return BuildNumber(version.build_version);
}

bool SameEntry(const ustring& path, unsigned long long dev, unsigned long long ino) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && static_cast<unsigned long long>(st.st_dev) == dev &&
         static_cast<unsigned long long>(st.st_ino) == ino;
}

// The first backup name nothing lies at, or -1 when all ten are taken; each taken one is logged as
// the failed backup it would be.
int FreeBackupSlot(const ustring& app) {
  for (int n = 0; n < kAppBackupSlots; ++n) {
    const ustring backup = GetAppBackupDir(app, n);
    if (!IsFileExist(backup, false)) return n;
    LOG_ERROR(kLog, "failed to backup app from '%s' -> '%s'", app.c_str(), backup.c_str());
  }
  LOG_ERROR(kLog, "failed to backup app from '%s' -> '%s' at max retries, exiting", app.c_str(),
            GetAppBackupDir(app, kAppBackupSlots - 1).c_str());
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

// The good copy `record` names is live and nothing is unfinished. When it is known whole, backup
// names still there are an earlier launcher's old copies, kept ("kept") until an upgrade succeeds;
// without any, no record is needed. A copy not known whole (it lay beside such backups when the
// upgrade began) pins nothing: the record goes, and the next start upgrades again.
void Settle(const ustring& app, const UpgradeRecord& record) {
  if (record.good_whole && AnyBackupName(app)) {
    UpgradeRecord kept;
    kept.state = UpgradeRecord::kKept;
    WriteUpgradeRecord(app, kept);  // a failure leaves "upgrading": the next run upgrades again
  } else {
    RemoveRecord(app);
  }
}

// Where the copies an upgrade record speaks of are now.
enum class Found {
  kGoodLive,         // the good copy is live: nothing was moved yet, or it was put back
  kGoodAtBackup,     // the good copy lies under its backup name; whatever is live is unfinished
  kNothingYet,       // a first installation: nothing is live yet
  kUnfinishedFirst,  // a first installation: the live copy is the one it was filling
  kStale,            // the record names no copy on disk: a home copied, restored or edited
};

struct Located {
  Found found = Found::kStale;
  int backup = -1;       // kGoodAtBackup: the number of the backup name
  const char* why = "";  // kStale: what is missing
};

// The backup number under which `record`'s good copy lies, or -1. A copy is known by the backup name
// the record chose for it and the build it holds, which a copied or restored home keeps; a record of
// the earlier format names it by device and inode, and then the build must agree too, so that a
// folder that merely reuses the number is never taken for it.
int GoodBackup(const ustring& app, const UpgradeRecord& record) {
  for (int n = 0; n < kAppBackupSlots; ++n) {
    if (record.good_backup >= 0 && n != record.good_backup) continue;
    const ustring backup = GetAppBackupDir(app, n);
    if (record.good_backup < 0 && !SameEntry(backup, record.good_dev, record.good_ino)) continue;
    if (IsFileExist(backup, false) && BuildOfCopy(backup) == record.good_build) return n;
  }
  return -1;
}

// Whether `app` is the folder `record`'s first installation made and fills. Its inode number tells
// (the device number differs per mount and per machine on a network home, and adds nothing: every
// candidate lies in one folder); a folder that merely reuses the number holds another build.
bool IsNewCopy(const ustring& app, const UpgradeRecord& record) {
  struct stat st;
  if (!record.new_known || lstat(app.c_str(), &st) != 0 ||
      static_cast<unsigned long long>(st.st_ino) != record.new_ino)
    return false;
  const int build = BuildOfCopy(app);
  return build == 0 || build == record.new_build;
}

// Checks an "upgrading" record against the disk.
Located Locate(const ustring& app, const UpgradeRecord& record) {
  Located at;
  const bool live = IsFileExist(app, false);
  if (!record.good_exists) {
    if (!live) {
      at.found = Found::kNothingYet;
    } else if (IsNewCopy(app, record)) {
      at.found = Found::kUnfinishedFirst;
    } else {
      at.why = "the live copy is not the one its first installation made";
    }
    return at;
  }
  at.backup = GoodBackup(app, record);
  if (at.backup >= 0) {
    at.found = Found::kGoodAtBackup;
  } else if (live && (record.good_backup >= 0 || SameEntry(app, record.good_dev, record.good_ino)) &&
             BuildOfCopy(app) == record.good_build) {
    at.found = Found::kGoodLive;
  } else {
    at.why = "its installed copy is neither live nor under its backup name";
  }
  return at;
}

// A new upgrade of the copy live now, to come back to from backup name `slot`.
UpgradeRecord BeginUpgrade(const ustring& app, int slot, bool kept_before) {
  UpgradeRecord record;
  record.state = UpgradeRecord::kUpgrading;
  if (IsFileExist(app, false)) {
    record.good_exists = true;
    record.good_backup = slot;
    record.good_build = BuildOfCopy(app);
    // Beside backup names an earlier launcher left, the live copy may be one it cut short.
    record.good_whole = kept_before || !AnyBackupName(app);
  }
  return record;
}

// Writes down the fresh copy a first installation fills, once its folder exists, so that a later
// start knows it for unfinished. 0, or -1 (logged).
int RecordNewCopy(const ustring& app, const ustring& build, UpgradeRecord* record) {
  struct stat st;
  if (lstat(app.c_str(), &st) != 0) {
    const int err = errno;
    LOG_ERROR(kLog, "failed to create folder: '%s': %s (%d)", app.c_str(), strerror(err), err);
    return -1;
  }
  record->new_known = true;
  record->new_dev = static_cast<unsigned long long>(st.st_dev);
  record->new_ino = static_cast<unsigned long long>(st.st_ino);
  record->new_build = BuildNumber(build);
  return WriteUpgradeRecord(app, *record);
}

// With the live name free: renames the good copy back from backup name `good`, settles the record
// and removes what was set aside. A failed rename (logged) leaves it there, and the record naming it.
void RenameGoodBack(const ustring& app, const UpgradeRecord& record, int good) {
  const ustring backup = GetAppBackupDir(app, good);
  if (FSRename(backup, app, false) != 0) {
    const int err = errno;
    LOG_ERROR(kLog, "failed to restore '%s' -> '%s': %s (%d)", backup.c_str(), app.c_str(), strerror(err),
              err);
    return;
  }
  Settle(app, record);
  RemoveSetAside(app);
}

// After a failed extraction: the partial bundle goes aside and the good copy is renamed back from
// backup name `good`; backup names of older copies stay. Each step leaves the good copy under the
// live name or its backup name and the record naming it, so a run ended in between finds it again.
// Without a good copy everything stays as it is, and so does the record: the next run upgrades
// again, and nothing unfinished is started meanwhile.
void RollBack(const ustring& app, const UpgradeRecord& record, int good) {
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
  RenameGoodBack(app, record, good);
}

// Sets aside whatever lies at the record's names and is not a regular file (a folder, a link, a
// named pipe: nothing a launcher writes), so that it can neither block nor redirect a record; with
// `temporary_too`, when no write can be under way, a temporary file that a write cut short left goes.
void ClearRecordLeftovers(const ustring& app, bool temporary_too) {
  const ustring temporary = UpgradeRecordPath(app) + ".new";
  for (const ustring& path : {UpgradeRecordPath(app), temporary}) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISREG(st.st_mode)) {
      if (temporary_too && path == temporary) FSRemove(path, false);
      continue;
    }
    LOG_WARNING(kLog, "'%s' is not an upgrade record, setting it aside", path.c_str());
    SetAside(app, path);
  }
}

// Lines "key=value", each ending in a line feed. Keys this launcher does not know are skipped (a
// later launcher may add some); the state must be one it knows. False for anything else, a cut file
// included.
bool ParseRecord(const std::string& text, UpgradeRecord* record) {
  UpgradeRecord r;
  bool state_seen = false;
  const auto id = [](const std::string& value, unsigned long long* dev, unsigned long long* ino) {
    char* rest = nullptr;
    const size_t colon = value.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == value.size()) return false;
    *dev = strtoull(value.c_str(), &rest, 10);
    if (rest != value.c_str() + colon) return false;
    *ino = strtoull(value.c_str() + colon + 1, &rest, 10);
    return *rest == '\0';
  };
  const auto number = [](const std::string& value, long low, long high, int* out) {
    char* rest = nullptr;
    errno = 0;
    const long n = strtol(value.c_str(), &rest, 10);
    if (rest == value.c_str() || *rest != '\0' || errno != 0 || n < low || n > high) return false;
    *out = static_cast<int>(n);
    return true;
  };
  for (size_t pos = 0; pos < text.size();) {
    const size_t end = text.find('\n', pos);
    if (end == std::string::npos) return false;
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    bool ok = true;
    if (key == "state") {
      state_seen = true;
      static const char* const states[] = {"upgrading", "cleaning", "kept"};
      ok = false;
      for (int i = 0; i < 3; ++i)
        if (value == states[i]) r.state = static_cast<UpgradeRecord::State>(i + 1), ok = true;
    } else if (key == "good") {
      r.good_exists = value != "none";
      // A number is the backup name it goes to; device:inode is the earlier format's identity.
      if (r.good_exists && !number(value, 0, kAppBackupSlots - 1, &r.good_backup))
        ok = id(value, &r.good_dev, &r.good_ino);
    } else if (key == "good_build") {
      ok = number(value, INT_MIN, INT_MAX, &r.good_build);
    } else if (key == "good_whole") {
      r.good_whole = value != "0";
    } else if (key == "new") {
      r.new_known = id(value, &r.new_dev, &r.new_ino);
      ok = r.new_known;
    } else if (key == "new_build") {
      ok = number(value, INT_MIN, INT_MAX, &r.new_build);
    }
    if (!ok) return false;
  }
  if (!state_seen) return false;
  *record = r;
  return true;
}

std::string FormatRecord(const UpgradeRecord& r) {
  static const char* const states[] = {"none", "upgrading", "cleaning", "kept"};
  std::string text = "version=" + std::to_string(kUpgradeRecordVersion) + "\nstate=" + states[r.state] + "\n";
  if (r.state != UpgradeRecord::kUpgrading) return text;
  text += "good=" + (r.good_exists ? std::to_string(r.good_backup) : std::string("none")) + "\n";
  text += "good_build=" + std::to_string(r.good_build) + "\ngood_whole=" + (r.good_whole ? "1" : "0") + "\n";
  if (r.new_known) {
    text += "new=" + std::to_string(r.new_dev) + ":" + std::to_string(r.new_ino) + "\n";
    text += "new_build=" + std::to_string(r.new_build) + "\n";
  }
  return text;
}

// Opens the parent folder of `path` and forces its entries to the drive. 0, or -1 with errno.
int SyncParent(const ustring& path) {
  const int folder = open(FSParentPath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return -1;
  const int result = FSSyncDescriptor(folder);
  const int err = errno;
  close(folder);
  errno = err;
  return result;
}

}  // namespace

ustring UpgradeRecordPath(const ustring& app) {
  return app + ".upgrade";
}

UpgradeRecord ReadUpgradeRecord(const ustring& app, bool* unusable) {
  constexpr size_t kMaxRecord = 4096;
  if (unusable != nullptr) *unusable = false;
  UpgradeRecord record;
  const ustring path = UpgradeRecordPath(app);
  // Not blocking and not through a link: a pipe or a link placed there must neither hang nor redirect.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT) return record;
    LOG_WARNING(kLog, "cannot read the upgrade record '%s': %s (%d)", path.c_str(), strerror(err), err);
    if (unusable != nullptr) *unusable = true;
    return record;
  }
  struct stat st;
  std::string text;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < static_cast<off_t>(kMaxRecord);
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
    if (unusable != nullptr) *unusable = true;
    record = UpgradeRecord();
  }
  return record;
}

int WriteUpgradeRecord(const ustring& app, const UpgradeRecord& record) {
  const ustring path = UpgradeRecordPath(app);
  const ustring temporary = path + ".new";  // RemoveRecord knows this name
  ClearRecordLeftovers(app, false);
  const std::string text = FormatRecord(record);
  // A file of an earlier write cut short goes; whatever else appears there is never written through.
  if (FSRemove(temporary, false) != 0 && IsFileExist(temporary, false)) {
    const int err = errno;
    LOG_ERROR(kLog, "cannot write the upgrade record '%s': %s (%d)", temporary.c_str(), strerror(err), err);
    return -1;
  }
  FSBeforeChange();
  const int fd =
      open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  int err = errno;
  ustring failed = temporary;
  bool ok = fd >= 0;
  if (ok) {
    ok =
        write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && FSSyncDescriptor(fd) == 0;
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
    failed = path;
  }
  // The rename must reach the drive before the copies it describes move.
  if (ok && SyncParent(path) != 0) {
    ok = false;
    err = errno;
    failed = FSParentPath(path);
  }
  if (!ok) {
    LOG_ERROR(kLog, "cannot write the upgrade record '%s': %s (%d)", failed.c_str(), strerror(err), err);
    if (fd >= 0) unlink(temporary.c_str());
    return -1;
  }
  return 0;
}

bool IsUnfinishedInstallation(const ustring& app) {
  if (app.empty()) return false;
  const UpgradeRecord record = ReadUpgradeRecord(app);
  if (record.state != UpgradeRecord::kUpgrading || !IsFileExist(app, false)) return false;
  const Found found = Locate(app, record).found;
  return found == Found::kGoodAtBackup || found == Found::kUnfinishedFirst;
}

int BuildNumber(const ustring& text) {
  if (text.empty()) return 0;
  const long long n = strtoll(text.c_str(), nullptr, 10);
  return n > INT_MAX ? INT_MAX : n < INT_MIN ? INT_MIN : static_cast<int>(n);
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
  extractor.archive_fd = shipped_package.fd();  // -1: not checked (or not there), opened by name
  return extractor.Extract();
}

namespace {

// A "cleaning" or "kept" record says the live copy is the good one: without it the record describes
// another home and goes. Otherwise the clean-up of "cleaning" is finished, and "kept" goes once no
// backup name is left.
void RecoverSettled(const ustring& app, const UpgradeRecord& record) {
  if (!IsFileExist(app, false)) {
    LOG_WARNING(kLog, "ignoring the upgrade record '%s': no installation is live",
                UpgradeRecordPath(app).c_str());
    RemoveRecord(app);
  } else if (record.state == UpgradeRecord::kCleaning) {
    CleanUpBackups(app);  // a name that could not be set aside last time, or a run ended early
  } else if (!AnyBackupName(app)) {
    RemoveRecord(app);
  }
}

}  // namespace

void Service::RecoverInstallation(const std::function<bool(const UpgradeRecord&)>& may_finish) {
  const ustring& app = app_path;
  if (app.empty()) return;
  ClearRecordLeftovers(app, true);
  bool unusable = false;
  const UpgradeRecord record = ReadUpgradeRecord(app, &unusable);
  if (unusable) RemoveRecord(app);  // warned: the start decides as with no record
  if (record.state == UpgradeRecord::kCleaning || record.state == UpgradeRecord::kKept) {
    RecoverSettled(app, record);
    return;
  }
  if (record.state != UpgradeRecord::kUpgrading) return;
  const Located at = Locate(app, record);
  switch (at.found) {
    case Found::kStale:
      LOG_WARNING(kLog, "ignoring the upgrade record '%s': %s", UpgradeRecordPath(app).c_str(), at.why);
      RemoveRecord(app);
      return;
    case Found::kGoodLive:
      Settle(app, record);  // nothing had moved yet
      return;
    case Found::kNothingYet:
    case Found::kUnfinishedFirst:
      return;  // nothing to put back: the upgrade is finished, and nothing unfinished is started
    case Found::kGoodAtBackup:
      if (!may_finish(record)) PutGoodCopyBack(record, at.backup);
      return;
  }
}

void Service::PutGoodCopyBack(const UpgradeRecord& record, int good) {
  const ustring& app = app_path;
  LOG_WARNING(kLog, "putting the installed copy '%s' back", GetAppBackupDir(app, good).c_str());
  if (IsFileExist(app, false)) {
    StopService();  // an earlier launcher may have started the unfinished copy
    if (!SetAside(app, app)) return;
  }
  RenameGoodBack(app, record, good);
}

namespace {

// Finishing an upgrade an earlier run began: what is live now was made by it and goes aside; the good
// copy stays under its backup name. 0, or -1 (logged) with it still live.
int SetUnfinishedAside(const ustring& app, const UpgradeRecord& record) {
  LOG_WARNING(kLog, "finishing the upgrade an earlier run began (%s)",
              record.good_exists ? "its installation kept under a backup name" : "a first installation");
  if (!IsFileExist(app, false)) return 0;
  LOG_WARNING(kLog, "'%s' is an unfinished installation, setting it aside", app.c_str());
  if (SetAside(app, app)) return 0;
  LOG_ERROR(kLog, "cannot take the unfinished installation '%s' out of the way", app.c_str());
  return -1;
}

// A new upgrade of the copy live now: recorded under the first free backup name, then renamed there.
// 0 with `*record` and `*good` set, or -1 (logged) with nothing moved.
int RecordAndBackUp(const ustring& app, bool kept_before, UpgradeRecord* record, int* good) {
  *good = FreeBackupSlot(app);
  if (*good < 0) return -1;
  *record = BeginUpgrade(app, *good, kept_before);
  if (WriteUpgradeRecord(app, *record) != 0) return -1;
  const ustring backup = GetAppBackupDir(app, *good);
  if (FSRename(app, backup, false) == 0) return 0;
  LOG_ERROR(kLog, "failed to backup app from '%s' -> '%s'", app.c_str(), backup.c_str());
  Settle(app, *record);
  return -1;
}

// A first installation makes its folder and writes it down, so that no later start takes what it
// holds for whole. 0, or -1 (logged).
int BeginFirstInstallation(const ustring& app, const ustring& build, UpgradeRecord* record) {
  if (FSMKDir(app, true) >= 0) return RecordNewCopy(app, build, record);
  LOG_ERROR(kLog, "failed to create folder: '%s'", app.c_str());
  return -1;
}

}  // namespace

int Service::PrepareUserEnv() {
  const ustring app = app_path;
  if (app.empty()) {
    // Backup names would be relative to the working folder.
    LOG_ERROR(kLog, "no per-user application path, nothing to prepare");
    return -1;
  }
  ClearRecordLeftovers(app, true);
  UpgradeRecord record = ReadUpgradeRecord(app);
  const Located at = record.state == UpgradeRecord::kUpgrading ? Locate(app, record) : Located();
  int good = -1;  // the backup name of the copy to come back to
  if (record.state == UpgradeRecord::kUpgrading && at.found != Found::kStale &&
      at.found != Found::kGoodLive) {
    good = at.backup;
    if (SetUnfinishedAside(app, record) != 0) return -1;
  } else if (IsFileExist(app, false)) {
    if (RecordAndBackUp(app, record.state == UpgradeRecord::kKept, &record, &good) != 0) return -1;
  } else {
    record = BeginUpgrade(app, -1, false);
  }
  if (!record.good_exists && BeginFirstInstallation(app, target_version.build_version, &record) != 0)
    return -1;
  if (ExtractPackage() != 0) {
    RollBack(app, record, good);
    return -1;
  }
  // Nothing may rely on the new copy before all of it is on the drive: until then the old one stays.
  if (FSSyncTree(app) != 0) {
    LOG_ERROR(kLog, "the new installation '%s' could not be made durable", app.c_str());
    RollBack(app, record, good);
    return -1;
  }
  LOG_INFO(kLog, "user installation is ready, removing backup app");
  UpgradeRecord cleaning;
  cleaning.state = UpgradeRecord::kCleaning;
  // Unrecorded, the new copy is not known complete: the good copy must then stay for the next run.
  if (WriteUpgradeRecord(app, cleaning) == 0) CleanUpBackups(app);
  return 0;
}

namespace {

// In ~/.Corvane from the start of a migration until it has finished. What it says (key=value):
//   skyhold_ino=<n>  the entry ~/.Skyhold (a folder or a link) whose data is being moved, by its inode
//                    number: only that entry is ever taken away, never one made later in its place;
//   set_aside=1      ~/.Skyhold is gone; only what was set aside under ~/.Skyhold_trash.* is left
//                    to remove;
//   nothing          an earlier launcher's mark: its data may not have moved.
constexpr char kMigrationMark[] = ".skyhold-migration";

// `folder` with the folders above it in their stored form (a home reached through a link resolved)
// and its own name as given, so that an exact test still tells whether the folder is kept under
// this very spelling. `folder` itself when the folders above cannot be resolved.
ustring WithStoredParent(const ustring& folder) {
  ustring parent = FSParentPath(folder);
  if (FSGetRealPath(parent) != 0) return folder;
  return (parent == ustring("/") ? parent : parent + "/") + FSBaseName(folder);
}

// The folders a migration works on, their parents in stored form: the predecessor's files, the
// link ~/.Skyhold when it is one (else empty), and the current product's folder.
struct MigrationFolders {
  ustring old_folder;
  ustring old_link;
  ustring new_folder;
  // ~/.Skyhold itself: the link when it is one, else the folder.
  const ustring& entry() const { return old_link.empty() ? old_folder : old_link; }
  ustring mark() const { return new_folder + "/" + kMigrationMark; }
};

// False, with a WARNING, when ~/.Skyhold links to a folder holding the home or ~/.Corvane, or lying
// inside ~/.Corvane: its data is not the predecessor's alone.
bool FindMigrationFolders(MigrationFolders* f) {
  f->old_folder = WithStoredParent(Utf8(QDir::toNativeSeparators(RegistryPath("user_skyhold_path"))));
  f->new_folder = WithStoredParent(Utf8(QDir::toNativeSeparators(RegistryPath("user_corvane_path"))));
  _FILE_INFO_tag info;
  if (FSStat(f->old_folder, info, true) != 0 || info.type != FILE_TYPE_SYMLINK) return true;
  f->old_link = f->old_folder;
  ustring target = f->old_folder;
  if (FSGetRealPath(target) != 0) return true;  // a dangling link: only the link goes
  ustring home = Utf8(QDir::toNativeSeparators(Service::GetUserInstallPath())), corvane = f->new_folder;
  FSGetRealPath(home);
  FSGetRealPath(corvane);
  if (FSIsParentFolder(target, home) || FSIsParentFolder(target, corvane) ||
      FSIsParentFolder(corvane, target)) {
    LOG_WARNING(kLog, "'%s' links to '%s', which holds the home or the Corvane folder: not migrating it",
                f->old_folder.c_str(), target.c_str());
    return false;
  }
  f->old_folder = target;
  return true;
}

// The inode number of the entry at `path` itself (a link is not followed); 0 when there is none.
unsigned long long InodeOf(const ustring& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? static_cast<unsigned long long>(st.st_ino) : 0;
}

// What the mark says (see kMigrationMark).
struct MigrationMark {
  bool present = false;
  bool set_aside = false;
  unsigned long long skyhold_ino = 0;
};

// Reads the mark of `f`. Whatever is at its name and is not a regular file was not written by a
// launcher: it is set aside (beside the private bundle `app`, whose set-aside copies are removed on
// every start) and read as an earlier launcher's mark. Never blocks, never follows a link.
MigrationMark ReadMigrationMark(const MigrationFolders& f, const ustring& app) {
  MigrationMark mark;
  _FILE_INFO_tag info;
  if (FSStat(f.mark(), info, false) != 0 || !info.exists) return mark;
  mark.present = true;
  Config config;
  if (info.type != FILE_TYPE_REGULAR || config.read(f.mark().c_str()) != 0) {
    LOG_WARNING(kLog, "cannot read the migration mark '%s', taking it for an earlier launcher's",
                f.mark().c_str());
    if (info.type != FILE_TYPE_REGULAR) SetAside(app, f.mark());
    return mark;
  }
  mark.set_aside = config.get_int("set_aside") == 1;
  mark.skyhold_ino = strtoull(config.entries["skyhold_ino"].c_str(), nullptr, 10);
  return mark;
}

// Replaces the mark of `f` with `text`, forced to the drive. Whatever is at its name and is not a
// regular file is set aside first (beside `app`). False, with a WARNING, when it cannot be written.
bool WriteMigrationMark(const MigrationFolders& f, const ustring& app, const std::string& text) {
  const ustring mark = f.mark();
  _FILE_INFO_tag info;
  if (FSStat(mark, info, false) == 0 && info.exists && info.type != FILE_TYPE_REGULAR) SetAside(app, mark);
  FSBeforeChange();
  errno = 0;
  int err = 0;
  const int fd = open(mark.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    err = errno;
  } else if (!S_ISREG(st.st_mode)) {
    err = EINVAL;  // put there since the test above
  } else if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    err = errno != 0 ? errno : EIO;
  } else if (FSSyncDescriptor(fd) != 0) {
    err = errno;
  }
  if (fd >= 0) close(fd);
  if (err == 0) return true;
  LOG_WARNING(kLog, "cannot write the migration mark '%s': %s (%d)", mark.c_str(), strerror(err), err);
  return false;
}

void RemoveMigrationMark(const MigrationFolders& f) {
  _FILE_INFO_tag info;
  if (FSStat(f.mark(), info, false) == 0 && info.type == FILE_TYPE_REGULAR) FSRemove(f.mark(), false);
}

// Moves the predecessor's data of `f` into the Corvane folder. True when it has moved (or there was
// none); false, logged, when it is still where it was.
bool MovePredecessorData(const MigrationFolders& f) {
  const ustring old_data = f.old_folder + "/data", new_data = f.new_folder + "/data";
  if (IsFileExist(old_data, true) && FSRename(old_data, new_data, true) < 0) {
    const int err = errno;
    LOG_ERROR(kLog, "Failed to move data to Corvane folder");
    LOG_ERROR(kLog, "'%s' to '%s': %s (%d)", old_data.c_str(), new_data.c_str(), strerror(err), err);
  }
  // Whatever kept the data where it is (a non-empty ~/.Corvane/data, a move cut off half-way, a path
  // not in its stored form), the folder that holds it must stay.
  if (!IsFileExist(old_data, false)) return true;
  LOG_ERROR(kLog, "keeping '%s': its data was not moved", f.old_folder.c_str());
  return false;
}

// Takes ~/.Skyhold away once its data has moved, touching nothing but what was the predecessor's: a
// link goes as a link, and the folder it leads to keeps whatever else it holds (the user's own files
// on a drive, say); a folder is set aside in one rename (~/.Skyhold_trash.<random>) and then removed,
// so that what cannot be removed is retried alone, under that name, and whatever is written to
// ~/.Skyhold later is never touched. True when nothing is left to remove.
bool TakeAwayPredecessor(const MigrationFolders& f, const ustring& app) {
  if (!f.old_link.empty()) {
    if (FSRemove(f.old_link, false) == 0) {
      LOG_INFO(kLog, "removed the link '%s'; what it leads to keeps all but the data that moved",
               f.old_link.c_str());
      return true;
    }
    const int err = errno;
    LOG_ERROR(kLog, "Failed to remove old .Skyhold folder");
    LOG_ERROR(kLog, "'%s': %s (%d)", f.old_link.c_str(), strerror(err), err);
    return false;
  }
  if (IsFileExist(f.old_folder, false) && !SetAside(f.old_folder, f.old_folder)) {
    LOG_ERROR(kLog, "Failed to remove old .Skyhold folder");
    LOG_ERROR(kLog, "'%s' stays as it is: it cannot be set aside for removal", f.old_folder.c_str());
    RemoveMigrationMark(f);  // emptying it in place would reach what the predecessor writes there later
    return false;
  }
  // From here on the mark names no entry, so a folder made later under a reused number is never taken.
  WriteMigrationMark(f, app, "set_aside=1\n");
  if (RemoveSetAside(f.entry())) return true;
  LOG_ERROR(kLog, "Failed to remove old .Skyhold folder");
  return false;
}

}  // namespace

void Service::MigrateService() {
  migration_ran = true;
  MigrationFolders f;
  if (!FindMigrationFolders(&f)) return;
  if (!IsFileExist(f.new_folder, true) && FSMKDir(f.new_folder, true) < 0) {
    LOG_ERROR(kLog, "Failed to create Corvane folder");
    return;
  }
  const unsigned long long ino = InodeOf(f.entry());
  if (ino == 0) return;  // gone meanwhile
  // Before anything moves, so that a start cut short anywhere is finished with this entry only.
  WriteMigrationMark(f, app_path, "skyhold_ino=" + std::to_string(ino) + "\n");
  if (MovePredecessorData(f) && TakeAwayPredecessor(f, app_path)) RemoveMigrationMark(f);
}

bool Service::PredecessorExists() {
  MigrationFolders f;
  return FindMigrationFolders(&f) && IsFileExist(f.old_folder, true);
}

Service::MigrationLeft Service::UnfinishedMigration() {
  MigrationFolders f;
  if (migration_ran || !FindMigrationFolders(&f)) return MigrationLeft::kNothing;
  const MigrationMark mark = ReadMigrationMark(f, app_path);
  if (!mark.present) return MigrationLeft::kNothing;
  // What was set aside is out of everyone's way: it goes now, without stopping anything.
  // Always beside ~/.Skyhold itself in the home, never beside the folder a link leads to.
  if (!RemoveSetAside(f.entry())) return MigrationLeft::kNothing;
  // Data still there is moved whatever the entry's number (a restored home renumbers it), unless the
  // migration had finished with it: then it is a new ~/.Skyhold's.
  const bool same_entry = mark.skyhold_ino != 0 && mark.skyhold_ino == InodeOf(f.entry());
  const ustring old_data = f.old_folder + "/data", new_data = f.new_folder + "/data";
  if (!mark.set_aside && IsFileExist(old_data, false)) {
    ustring blocked;
    if (FSCheckMove(old_data, new_data, blocked) != 0) {
      const int err = errno;
      LOG_WARNING(kLog, "the data in '%s' still cannot move to '%s' ('%s': %s), nothing stopped",
                  old_data.c_str(), new_data.c_str(), blocked.c_str(), strerror(err));
      return MigrationLeft::kNothing;
    }
    LOG_WARNING(kLog, "the data in '%s' was not moved to '%s' before, moving it again", old_data.c_str(),
                new_data.c_str());
    return MigrationLeft::kData;
  }
  if (same_entry) {
    LOG_WARNING(kLog, "'%s' was not taken away when its data moved, taking it away again", f.entry().c_str());
    return MigrationLeft::kFolder;
  }
  RemoveMigrationMark(f);  // anything at ~/.Skyhold now was made after the migration: not ours
  return MigrationLeft::kNothing;
}

void Service::RemoveAgedFolders() {
  const QString skyhold = RegistryPath("user_skyhold_path");
  const ustring path = Utf8(skyhold + "/app");
  LOG_INFO(kLog, "removing aged app folder %s", path.c_str());
  // Through a linked ~/.Skyhold it would lie in a folder of the user's, not in the predecessor's own.
  _FILE_INFO_tag info;
  if (FSStat(Utf8(skyhold), info, false) == 0 && info.type == FILE_TYPE_DIRECTORY) FSRemove(path, false);
  if (app_path.empty()) return;
  const UpgradeRecord record = ReadUpgradeRecord(app_path);
  if (record.state == UpgradeRecord::kCleaning && IsFileExist(app_path, false)) {
    CleanUpBackups(app_path);  // a name that could not be set aside, tried again on every start
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
