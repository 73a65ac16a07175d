#include "UIPathManager.h"

UIPathManager* UIPathManager::getInstance() {
  static UIPathManager* const instance = new UIPathManager();  // Lives until exit; read by every thread.
  return instance;
}

void UIPathManager::setPath(const QString& key, const QString& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  paths_.insert(key, path);
}

QString UIPathManager::getPath(const QString& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return paths_.value(key);
}
