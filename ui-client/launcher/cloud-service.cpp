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

#include "UserHome.h"
#include "extractor.h"
#include "file-op.h"
#include "log.h"
#include "set-aside.h"
#include "upgrade-record.h"
#include "user-paths.h"
#include "version-file.h"

namespace {

constexpr const char* kLog = "service_debug";

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

// The build the copy at `copy` holds in its INFO; 0 without one.
int BuildOfCopy(const ustring& copy) {
  VersionInfo version;
  const ustring info = copy + "/" + kInstalledInfo;
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

// After a successful extraction: every backup name goes, not only the one this run took (a name left
// by an earlier run cut short or an earlier launcher), first aside, then removed. The record goes
// last, once no backup name is left; a name that cannot be set aside keeps it ("cleaning"), so later
// starts try again without taking that name for an unfinished upgrade.
void CleanUpBackups(const ustring& app) {
  bool all_gone = true;
  for (int m = 0; m < kAppBackupSlots; ++m) all_gone = SetAside(app, GetAppBackupDir(app, m)) && all_gone;
  RemoveSetAside(app);
  if (all_gone) RemoveUpgradeRecord(app);
}

// Records that the live copy is the new, whole one, then removes every backup name. When the record
// cannot be written the backups stay, the good copy among them, for the next start.
void CommitAndCleanUp(const ustring& app) {
  UpgradeRecord cleaning;
  cleaning.state = UpgradeRecord::kCleaning;
  if (WriteUpgradeRecord(app, cleaning) == 0) CleanUpBackups(app);
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
    RemoveUpgradeRecord(app);
  }
}

// The backup number under which an "upgrading" record's good copy lies, or -1. A copy is known by the
// backup name the record chose for it and the build it holds, which a copied or restored home keeps;
// a record of the first format names it by device and inode, and then the build must agree too, so
// that a folder that merely reuses the number is never taken for it.
int GoodBackup(const ustring& app, const UpgradeRecord& record) {
  if (record.state != UpgradeRecord::kUpgrading || !record.good_exists) return -1;
  for (int n = 0; n < kAppBackupSlots; ++n) {
    if (record.good_backup >= 0 && n != record.good_backup) continue;
    const ustring backup = GetAppBackupDir(app, n);
    if (record.good_backup < 0 && !SameEntry(backup, record.good_dev, record.good_ino)) continue;
    if (IsFileExist(backup, false) && BuildOfCopy(backup) == record.good_build) return n;
  }
  return -1;
}

// Whether the copy at `copy` is the good copy an "upgrading" record names, not yet moved: it holds
// that build (and, in a record of the first format, is that very entry).
bool IsGoodCopy(const ustring& copy, const UpgradeRecord& record) {
  return record.good_exists &&
         (record.good_backup >= 0 || SameEntry(copy, record.good_dev, record.good_ino)) &&
         BuildOfCopy(copy) == record.good_build;
}

// Whether the copy at `copy` holds its INFO as a file: the entry an installation puts in place last.
bool HasInfo(const ustring& copy) {
  struct stat st;
  return lstat((copy + "/" + kInstalledInfo).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Whether a record of an earlier launcher (a format before 3) says that the live copy is unfinished,
// whatever it holds: an upgrade whose good copy lies under its backup name, or a first installation.
// Those launchers put INFO in place in the package's order, not last.
bool EarlierRecordSaysUnfinished(const ustring& app, const UpgradeRecord& record) {
  return record.state == UpgradeRecord::kUpgrading && record.version < 3 &&
         (!record.good_exists || GoodBackup(app, record) >= 0);
}

// A new upgrade of the whole copy live now, to come back to from backup name `slot`.
UpgradeRecord BeginUpgrade(const ustring& app, int slot, bool kept_before) {
  UpgradeRecord record;
  record.state = UpgradeRecord::kUpgrading;
  record.good_exists = true;
  record.good_backup = slot;
  record.good_build = BuildOfCopy(app);
  // Beside backup names an earlier launcher left, the live copy may be one it cut short.
  record.good_whole = kept_before || !AnyBackupName(app);
  return record;
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
// backup name `good`; backup names of older copies stay. Only the folder this run made (`made`) is
// ever set aside: whatever else holds the live name now (another launcher's copy put back meanwhile)
// stays, and so does the good copy, where the next start finds it. Each step leaves the good copy
// under the live name or its backup name and the record naming it, so a run ended in between finds
// it again. Without a good copy the partial one stays: it has no INFO, so it is never started, and
// the next start sets it aside and extracts again.
void RollBack(const ustring& app, const UpgradeRecord& record, int good, const MadeFolder& made) {
  if (good < 0) {
    LOG_ERROR(kLog, "Failed to extract package, and no old installation to rollback");
    return;
  }
  LOG_ERROR(kLog, "Failed to extract package, rollback to old installation");
  if (IsFileExist(app, false) && !made.IsAt(app)) {
    LOG_ERROR(kLog, "'%s' is no longer the folder this upgrade filled, leaving it and '%s' as they are",
              app.c_str(), GetAppBackupDir(app, good).c_str());
    return;
  }
  if (!SetAside(app, app)) {
    LOG_ERROR(kLog, "cannot take the partial installation '%s' out of the way, keeping every backup",
              app.c_str());
    return;
  }
  RenameGoodBack(app, record, good);
}

}  // namespace

bool IsWholeInstallation(const ustring& app) {
  return !app.empty() && HasInfo(app) && !EarlierRecordSaysUnfinished(app, ReadUpgradeRecord(app));
}

MadeFolder::~MadeFolder() {
  Close();
}

int MadeFolder::Make(const ustring& path) {
  Close();
  int err = 0;
  FSBeforeChange();
  // The parent is made only when missing: ~/.Corvane may be a link to a folder elsewhere.
  if (mkdir(path.c_str(), 0755) != 0 &&
      (errno != ENOENT || FSMKDir(FSParentPath(path), true) < 0 || mkdir(path.c_str(), 0755) != 0)) {
    err = errno;  // EEXIST too: this run did not make what holds the name
  } else {
    fd_ = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd_ < 0 || fstat(fd_, &st) != 0) {
      err = errno;
      Close();
    } else {
      dev_ = st.st_dev;
      ino_ = st.st_ino;
    }
  }
  if (fd_ >= 0) return 0;
  LOG_ERROR(kLog, "failed to create folder: '%s': %s (%d)", path.c_str(), strerror(err), err);
  return -1;
}

void MadeFolder::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool MadeFolder::IsAt(const ustring& path) const {
  struct stat st;
  return fd_ >= 0 && lstat(path.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_;
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
  if (made_folder.Make(destination) != 0) return -1;
  LOG_INFO(kLog, "extract package: '%s' -> '%s'", package.c_str(), destination.c_str());
  Extractor extractor;
  extractor.dest_path = destination;
  extractor.dest_fd = made_folder.fd();
  extractor.hold_back = kInstalledInfo;
  extractor.archive_path = package;
  extractor.archive_fd = shipped_package.fd();  // -1: not checked (or not there), opened by name
  return extractor.Extract();
}

bool Service::MayFinishUpgrade(const UpgradeRecord& record) {
  const int target = BuildNumber(target_version.build_version);
  if (!record.good_exists || target >= record.good_build) return true;
  LOG_WARNING(kLog, "an upgrade of '%s' did not finish, but build %d is older than the installed %d",
              app_path.c_str(), target, record.good_build);
  return false;
}

namespace {

// A "cleaning" or "kept" record says the live copy is the good one: without it the record describes
// another home and goes. Otherwise the clean-up of "cleaning" is finished, and "kept" goes once no
// backup name is left.
void RecoverSettled(const ustring& app, const UpgradeRecord& record) {
  if (!IsFileExist(app, false)) {
    LOG_WARNING(kLog, "ignoring the upgrade record '%s': no installation is live",
                UpgradeRecordPath(app).c_str());
    RemoveUpgradeRecord(app);
  } else if (record.state == UpgradeRecord::kCleaning) {
    CleanUpBackups(app);  // a name that could not be set aside last time, or a run ended early
  } else if (!AnyBackupName(app)) {
    RemoveUpgradeRecord(app);
  }
}

// A record whose good copy is nowhere on disk: a home copied, restored or changed by hand.
void IgnoreStaleRecord(const ustring& app) {
  LOG_WARNING(
      kLog, "ignoring the upgrade record '%s': its installed copy is neither live nor under its backup name",
      UpgradeRecordPath(app).c_str());
  RemoveUpgradeRecord(app);
}

// An "upgrading" record beside a whole live copy. INFO goes in last, after everything else is on the
// drive: with the good copy under its backup name `kept`, the upgrade finished before its record
// said so, and its backups go. With the good copy live, nothing had moved yet.
void RecoverBesideWholeCopy(const ustring& app, const UpgradeRecord& record, int kept) {
  if (kept >= 0) {
    LOG_WARNING(kLog, "the new installation '%s' is whole, removing what its upgrade kept", app.c_str());
    CommitAndCleanUp(app);
  } else if (IsGoodCopy(app, record)) {
    Settle(app, record);
  } else {
    IgnoreStaleRecord(app);
  }
}

}  // namespace

void Service::RecoverInstallation() {
  const ustring& app = app_path;
  if (app.empty()) return;
  ClearRecordLeftovers(app, true);
  bool unusable = false;
  const UpgradeRecord record = ReadUpgradeRecord(app, &unusable);
  if (unusable) RemoveUpgradeRecord(app);  // warned: the start decides as with no record
  if (record.state == UpgradeRecord::kCleaning || record.state == UpgradeRecord::kKept) {
    RecoverSettled(app, record);
    return;
  }
  if (record.state != UpgradeRecord::kUpgrading) return;
  const int kept = GoodBackup(app, record);
  if (IsWholeInstallation(app)) {
    RecoverBesideWholeCopy(app, record, kept);
  } else if (kept >= 0) {
    if (!MayFinishUpgrade(record)) PutGoodCopyBack(record, kept);
  } else if (record.version >= 3) {
    // Nothing whole to put back: the decision upgrades what is live, and nothing unfinished is
    // started. A record of an earlier format stays until that copy is set aside: it alone says that
    // the copy is unfinished.
    if (record.good_exists)
      IgnoreStaleRecord(app);
    else
      RemoveUpgradeRecord(app);
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

// A new upgrade of the whole copy live now: recorded under the first free backup name, then renamed
// there. 0 with `*record` and `*good` set, or -1 (logged) with nothing moved.
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

}  // namespace

int Service::ClearTheWay(UpgradeRecord* record, int* good) {
  const ustring& app = app_path;
  const int kept = GoodBackup(app, *record);
  const bool whole = IsWholeInstallation(app);
  if (whole) return RecordAndBackUp(app, record->state == UpgradeRecord::kKept, record, good);
  if (kept >= 0) {
    // Finishing an upgrade an earlier run began, on the terms recovery finishes one: whatever failed
    // before in this start, never with a package that is older than the copy it kept.
    if (!MayFinishUpgrade(*record)) {
      PutGoodCopyBack(*record, kept);
      return -1;
    }
    LOG_WARNING(kLog,
                "finishing the upgrade an earlier run began (its installation kept under a backup name)");
    *good = kept;
  }
  // What is live has no INFO (or an earlier launcher's record says it is unfinished): it goes before
  // the extraction, whose room it would take.
  if (IsFileExist(app, false)) {
    LOG_WARNING(kLog, "'%s' is an unfinished installation, setting it aside", app.c_str());
    if (!SetAside(app, app)) {
      LOG_ERROR(kLog, "cannot take the unfinished installation '%s' out of the way", app.c_str());
      return -1;
    }
  }
  if (kept < 0) {
    // No whole copy to come back to: nothing needs recording, a copy without INFO is never started.
    if (record->state != UpgradeRecord::kNone) RemoveUpgradeRecord(app);
    *record = UpgradeRecord();
  }
  RemoveSetAside(app);
  return 0;
}

int Service::Install(const UpgradeRecord& record, int good) {
  const ustring& app = app_path;
  if (ExtractPackage() != 0) {
    RollBack(app, record, good, made_folder);
    return -1;
  }
  // Nothing may rely on the new copy before all of it is on the drive, INFO last, and it is still the
  // folder this run made and filled: until then the old one stays.
  const char* failed = nullptr;
  if (!made_folder.IsAt(app)) {
    failed = "is no longer the folder this upgrade filled";
  } else if (FSSyncTree(app) != 0) {
    failed = "could not be made durable";
  } else if (PlaceHeldBack(made_folder.fd(), kInstalledInfo, app) != 0) {
    failed = "could not be completed";
  } else if (!made_folder.IsAt(app)) {
    failed = "is no longer the folder this upgrade filled";
  }
  if (failed != nullptr) {
    LOG_ERROR(kLog, "the new installation '%s' %s", app.c_str(), failed);
    RollBack(app, record, good, made_folder);
    return -1;
  }
  LOG_INFO(kLog, "user installation is ready, removing backup app");
  CommitAndCleanUp(app);
  return 0;
}

int Service::PrepareUserEnv() {
  const ustring app = app_path;
  if (app.empty()) {
    // Backup names would be relative to the working folder.
    LOG_ERROR(kLog, "no per-user application path, nothing to prepare");
    return -1;
  }
  ClearRecordLeftovers(app, true);
  UpgradeRecord record = ReadUpgradeRecord(app);
  int good = -1;  // the backup name of the copy to come back to
  if (ClearTheWay(&record, &good) != 0) return -1;
  const int result = Install(record, good);
  made_folder.Close();
  return result;
}

void Service::RemoveAgedFolders() {
  const QString skyhold = RegistryPath("user_skyhold_path");
  const ustring path = Utf8(skyhold + "/app");
  LOG_INFO(kLog, "removing aged app folder %s", path.c_str());
  // Through a linked ~/.Skyhold it would lie in a folder of the user's, not in the predecessor's own.
  struct stat st;
  if (lstat(Utf8(skyhold).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) FSRemove(path, false);
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
