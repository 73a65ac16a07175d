#include "user-paths.h"

#include <QDir>

#include "UIPathManager.h"

void RegisterUserPaths(const QString& home, const QString& exe_dir) {
  struct PathKey {
    const char* key;
    const char* suffix;
  };
  static const PathKey kUserPaths[] = {
      {"user_corvane_path", "/.Corvane"},
      {"user_corvane_app_path", "/.Corvane/Corvane.app"},
      {"user_corvane_resource_path", "/.Corvane/Corvane.app/Contents/Resources"},
      {"user_corvane_data_path", "/.Corvane/data"},
      {"user_corvane_working_dir_path", "/.Corvane/Corvane.app/Contents/MacOS"},
      {"user_corvane_ui_path", "/.Corvane/Corvane.app/Contents/MacOS/corvane-ui"},
      {"user_skyhold_path", "/.Skyhold"},
      {"user_skyhold_resource_path", "/.Skyhold/Skyhold.app/Contents/Resources"},
  };
  UIPathManager* registry = UIPathManager::getInstance();
  for (const PathKey& entry : kUserPaths)
    registry->setPath(QString::fromUtf8(entry.key), QDir::cleanPath(home + QString::fromUtf8(entry.suffix)));
  registry->setPath(QStringLiteral("root_resource_path"), QDir::cleanPath(exe_dir + "/../Resources"));
}

QString RegistryPath(const char* key) {
  return UIPathManager::getInstance()->getPath(QString::fromLatin1(key));
}

ustring Utf8(const QString& text) {
  return ustring(text.toUtf8().constData());
}
