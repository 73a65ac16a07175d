#include "cloud-service.h"

#include <stdio.h>
#include <stdlib.h>

#include <QDir>
#include <QSettings>
#include <QVariant>

#include "UIPathManager.h"
#include "extractor.h"
#include "file-op.h"
#include "log.h"

namespace {

constexpr const char* kLog = "service_debug";

QString RegistryPath(const char* key) {
  return UIPathManager::getInstance()->getPath(QString::fromLatin1(key));
}

ustring Utf8(const QString& text) {
  return ustring(text.toUtf8().constData());
}

// Reads the [Version] group of the INFO file at `path` into `version`; keys that are absent leave
// their field as it was.
void ReadVersionFile(const ustring& path, VersionInfo& version) {
  QSettings settings(QString::fromUtf8(path.c_str()), QSettings::IniFormat);
  settings.beginGroup(QStringLiteral("Version"));
  struct {
    const char* key;
    ustring* field;
  } const fields[] = {{"major_version", &version.major_version},
                      {"minor_version", &version.minor_version},
                      {"build_version", &version.build_version},
                      {"icon_overlay_version", &version.icon_overlay_version}};
  for (const auto& f : fields) {
    const QString key = QString::fromLatin1(f.key);
    if (settings.contains(key)) *f.field = Utf8(settings.value(key, QVariant()).toString());
  }
  settings.endGroup();
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
  return QDir::homePath();
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
  ustring backup;
  if (IsFileExist(app, false)) {
    for (int n = 0;; ++n) {
      backup = GetAppBackupDir(app, n);
      if (FSRename(app, backup, false) == 0) break;
      LOG_ERROR(kLog, "failed to backup app from '%s' -> '%s'", app.c_str(), backup.c_str());
      if (n == kAppBackupSlots - 1) {
        LOG_ERROR(kLog, "failed to backup app from '%s' -> '%s' at max retries, exiting", app.c_str(),
                  backup.c_str());
        return -1;
      }
    }
  } else {
    // Nothing to back up: a first installation. An empty backup name marks it as under way, so a
    // run cut off half-way through the extraction is finished by the next run instead of leaving an
    // incomplete copy whose INFO and interface executable already look new. Success removes it.
    const ustring marker = GetAppBackupDir(app, 0);
    if (FSMKDir(marker, true) < 0)
      LOG_WARNING(kLog, "cannot mark installation under way: '%s'", marker.c_str());
  }

  if (ExtractPackage() == 0) {
    LOG_INFO(kLog, "user installation is ready, removing backup app");
    // Every backup name goes, not only those this run tried: a name left by an earlier run that was
    // cut short would otherwise make every later run upgrade again.
    for (int m = 0; m < kAppBackupSlots; ++m) {
      const ustring old = GetAppBackupDir(app, m);
      int r = FSRemove(old, false);
      if (r != 0) LOG_WARNING(kLog, "failed to remove backup '%s' (%d)", old.c_str(), r);
    }
    return 0;
  }

  if (backup.empty()) {
    LOG_ERROR(kLog, "Failed to extract package, and no old installation to rollback");
    return -1;
  }
  LOG_ERROR(kLog, "Failed to extract package, rollback to old installation");
  int r = FSRemove(app, false);
  if (r != 0) LOG_ERROR(kLog, "failed to remove partial installation '%s' (%d)", app.c_str(), r);
  r = FSRename(backup, app, false);
  if (r != 0) LOG_ERROR(kLog, "failed to restore '%s' -> '%s' (%d)", backup.c_str(), app.c_str(), r);
  return -1;
}

void Service::MigrateService() {
  const QString skyhold = QDir::toNativeSeparators(RegistryPath("user_skyhold_path"));
  const QString corvane = QDir::toNativeSeparators(RegistryPath("user_corvane_path"));
  const ustring old_folder = Utf8(skyhold);
  const ustring new_folder = Utf8(corvane);
  const ustring old_data = Utf8(QDir::toNativeSeparators(skyhold + "/data"));
  const ustring new_data = Utf8(QDir::toNativeSeparators(corvane + "/data"));

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
