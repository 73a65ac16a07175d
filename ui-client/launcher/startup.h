// Steps of the launcher's start-up that main() calls and the tests call too: where Qt's plug-ins are,
// and the user's language (translator, string table, font). Main thread only.
#ifndef CORVANE_UI_CLIENT_LAUNCHER_STARTUP_H_
#define CORVANE_UI_CLIENT_LAUNCHER_STARTUP_H_

#include <QString>
#include <string>

class QTranslator;

namespace startup {

// The absolute path of the running executable with every symbolic link resolved, as the platform
// reports it for any process (GetProcessExecutablePath); empty when it cannot tell.
QString RunningExecutablePath();

// Qt's plug-in folder: Contents/Frameworks/plugins of the bundle whose Contents/MacOS holds the
// running executable `running_exe` (absolute; links on its way are resolved here). Started by a full path
// (`argv0` absolute) whose Contents folder is that bundle's, it is `argv0` + "/../../Frameworks/plugins"
// cleaned, spelled as typed. Otherwise (a bare name found through PATH, a relative path, a symbolic link from
// another folder) it is spelled from `running_exe`; when `running_exe` is empty, from `argv0` as typed.
// `argv0` may be null.
QString PluginFolder(const char* argv0, const QString& running_exe);

// The debug switch file (per-component log levels): "log/launcher.debug" in the bundle's resources
// folder `bundle_resources` when anything is there, otherwise "log/launcher.debug" in the per-user
// folder `user_folder` (~/.Corvane). Adding a file to a signed bundle breaks its seal, so support can
// ask for the per-user one instead; the bundle's, put there by whoever built it, still wins.
std::string DebugSwitchFile(const QString& bundle_resources, const QString& user_folder);

// The user's language, `language` being a code such as "enu" or "tha": installs a translator for
// ":/<language>.qm" when the resource has it, fills the string table, and makes the application font
// "Microsoft Sans Serif" at 12 points for "tha" (exactly) and "Arial" at 12 points otherwise. Returns
// the installed translator, which the caller owns and may leave installed until exit, or null when
// there is no translation for `language` (the texts are then the string table's English ones).
QTranslator* Localize(const QString& language);

}  // namespace startup

#endif  // CORVANE_UI_CLIENT_LAUNCHER_STARTUP_H_
