#include "cloud-service.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <QDir>
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

// Nothing to back up: a first installation. An empty backup name marks it as under way, so a run cut
// off half-way through the extraction is finished by the next run instead of leaving an incomplete
// copy whose INFO and interface executable already look new. An existing folder there (a copy an
// earlier run backed up) is fine.
void MarkFirstInstallation(const ustring& app) {
  const ustring marker = GetAppBackupDir(app, 0);
  if (FSMKDir(marker, true) < 0)
    LOG_WARNING(kLog, "cannot mark installation under way: '%s'", marker.c_str());
}

// After a successful extraction: every backup name goes, not only the one this run took (a name left
// by an earlier run cut short would make every later run upgrade again), first aside, then removed.
void CleanUpBackups(const ustring& app) {
  for (int m = 0; m < kAppBackupSlots; ++m) SetAside(app, GetAppBackupDir(app, m));
  RemoveSetAside(app);
}

// The path of the interface executable relative to the bundle, as the registry places it; empty when
// it does not lie below the bundle.
ustring InterfaceInBundle() {
  const std::string bundle = RegistryPath("user_corvane_app_path").toUtf8().constData();
  const std::string ui = RegistryPath("user_corvane_ui_path").toUtf8().constData();
  if (bundle.empty() || ui.size() <= bundle.size() + 1 || ui.compare(0, bundle.size(), bundle) != 0 ||
      ui[bundle.size()] != '/')
    return ustring();
  return ustring(ui.c_str() + bundle.size() + 1);
}

// The number of the oldest backup that is a real folder holding the interface executable: the last
// complete installation (later numbers are backups of retries, possibly half-extracted). -1 for none.
int OldestCompleteBackup(const ustring& app) {
  const ustring ui = InterfaceInBundle();
  if (ui.empty()) return -1;
  for (int n = 0; n < kAppBackupSlots; ++n) {
    const ustring backup = GetAppBackupDir(app, n);
    struct stat st;
    if (lstat(backup.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && IsFileExist(backup + "/" + ui, false))
      return n;
  }
  return -1;
}

// After a failed extraction: the partial bundle goes aside, the last complete installation is renamed
// back, every other backup name goes aside and what is aside is removed. Each step leaves the good
// copy under the live name or a backup name, so a run killed in between finds it again. Without a
// complete backup everything stays as it is.
void RollBack(const ustring& app) {
  const int good = OldestCompleteBackup(app);
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
  for (int m = 0; m < kAppBackupSlots; ++m)
    if (m != good) SetAside(app, GetAppBackupDir(app, m));
  RemoveSetAside(app);
}

}  // namespace

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
  if (IsFileExist(app, false)) {
    if (BackUp(app) != 0) return -1;
  } else {
    MarkFirstInstallation(app);
  }
  if (ExtractPackage() == 0) {
    LOG_INFO(kLog, "user installation is ready, removing backup app");
    CleanUpBackups(app);
    return 0;
  }
  RollBack(app);
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
  // Copies an earlier upgrade set aside but could not remove: perhaps they can go now.
  if (!app_path.empty()) RemoveSetAside(app_path);
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
