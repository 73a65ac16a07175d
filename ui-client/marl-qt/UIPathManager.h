// The process-wide path registry: named paths (user_corvane_path, root_resource_path, ...) registered
// by start-up and read everywhere else. Any thread may call it; start-up writes before the worker thread
// exists, and everyone reads afterwards.
#ifndef CORVANE_UI_CLIENT_MARL_QT_UIPATHMANAGER_H_
#define CORVANE_UI_CLIENT_MARL_QT_UIPATHMANAGER_H_

#include <QHash>
#include <QString>
#include <mutex>

class UIPathManager {
 public:
  // The one registry of the process, created on first use; never null, never deleted.
  static UIPathManager* getInstance();

  // Stores `path` under `key`, replacing what was stored there before.
  void setPath(const QString& key, const QString& path);
  // Exactly the path last stored under `key`; an empty string for a key never set.
  QString getPath(const QString& key) const;

  UIPathManager(const UIPathManager&) = delete;
  UIPathManager& operator=(const UIPathManager&) = delete;

 private:
  UIPathManager() = default;

  // A standard mutex rather than QMutex: ThreadSanitizer sees its ordering, so a missing lock shows.
  mutable std::mutex mutex_;
  QHash<QString, QString> paths_;
};

#endif  // CORVANE_UI_CLIENT_MARL_QT_UIPATHMANAGER_H_
