// The user's home folder, the one base of every per-user path of the launcher (its private copy, its
// log, its single-instance lock). Any thread.
#ifndef CORVANE_UI_CLIENT_MARL_QT_USERHOME_H_
#define CORVANE_UI_CLIENT_MARL_QT_USERHOME_H_

#include <QString>

// HOME when it is set and not empty (cleaned, as QDir::homePath gives it); otherwise the home folder
// the password database gives the account running the process. An empty string, with the reason in
// `*why` (when not null), when HOME is a relative path, or when HOME is unset or empty and the account
// has no entry there or its entry names no absolute folder: a launcher must then stop rather than take
// "/" or a folder relative to wherever it was started for the home.
QString UserHomePath(QString* why = nullptr);

#endif  // CORVANE_UI_CLIENT_MARL_QT_USERHOME_H_
