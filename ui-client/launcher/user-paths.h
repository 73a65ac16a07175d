// The per-user and bundle paths every part of the launcher looks up by key in the path registry
// (UIPathManager). Start-up registers them once, before the worker thread exists; afterwards they
// are only read. Call from the main thread before any reader runs.
#ifndef CORVANE_LAUNCHER_USER_PATHS_H_
#define CORVANE_LAUNCHER_USER_PATHS_H_

#include <QString>

#include "ustring.h"

// Registers, in this order, the eight keys below `home` (user_corvane_path, user_corvane_app_path,
// user_corvane_resource_path, user_corvane_data_path, user_corvane_working_dir_path,
// user_corvane_ui_path, user_skyhold_path, user_skyhold_resource_path) and root_resource_path,
// the Resources folder beside `exe_dir` (the bundle's Contents/MacOS). Each value is cleaned
// (QDir::cleanPath); an existing value is replaced.
void RegisterUserPaths(const QString& home, const QString& exe_dir);

// The registry's value for `key` (empty when it was never registered). Any thread once registered.
QString RegistryPath(const char* key);

// `text` as UTF-8, the form the file layer takes.
ustring Utf8(const QString& text);

#endif  // CORVANE_LAUNCHER_USER_PATHS_H_
