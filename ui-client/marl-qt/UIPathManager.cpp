#include "UIPathManager.h"

#include <QMutexLocker>

UIPathManager* UIPathManager::getInstance() {
  static UIPathManager* const instance = new UIPathManager();  // Lives until exit; read by every thread.
  return instance;
}

void UIPathManager::setPath(const QString& key, const QString& path) {
  QMutexLocker lock(&mutex_);
  paths_.insert(key, path);
}

QString UIPathManager::getPath(const QString& key) const {
  QMutexLocker lock(&mutex_);
  return paths_.value(key);
}
