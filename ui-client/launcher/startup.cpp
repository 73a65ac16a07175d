#include "startup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QLatin1String>
#include <QTranslator>
#include <string>

#include "process-control.h"
#include "strtable.h"

namespace startup {

namespace {

const char kPluginsFromExecutable[] = "/../../Frameworks/plugins";

}  // namespace

QString RunningExecutablePath() {
  std::string path;
  if (GetProcessExecutablePath(getpid(), &path) != 0) return QString();
  return QString::fromStdString(path);
}

QString PluginFolder(const char* argv0, const QString& running_exe) {
  const QString typed = QString::fromUtf8(argv0 != nullptr ? argv0 : "");
  const QString from_typed = QDir::cleanPath(typed + kPluginsFromExecutable);
  if (running_exe.isEmpty()) return from_typed;
  const QString from_exe = QDir::cleanPath(running_exe + kPluginsFromExecutable);
  if (!QDir::isAbsolutePath(typed)) return from_exe;
  // "/../.." is taken lexically: it names the real bundle's Contents folder only when the folder so
  // typed resolves to the one that holds the running executable.
  // Both sides resolved: a folder on the way may be a link (macOS's /var -> /private/var), and the
  // platform's answer need not have resolved it.
  const QString typed_contents = QFileInfo(QDir::cleanPath(typed + "/../..")).canonicalFilePath();
  const QString exe_contents = QDir::cleanPath(running_exe + "/../..");
  const QString real_contents = QFileInfo(exe_contents).canonicalFilePath();
  const bool same =
      !typed_contents.isEmpty() && typed_contents == (real_contents.isEmpty() ? exe_contents : real_contents);
  return same ? from_typed : from_exe;
}

std::string DebugSwitchFile(const QString& bundle_resources, const QString& user_folder) {
  const QByteArray in_bundle = (bundle_resources + "/log/launcher.debug").toUtf8();
  struct stat st;
  if (lstat(in_bundle.constData(), &st) == 0) return in_bundle.toStdString();
  return (user_folder + "/log/launcher.debug").toUtf8().toStdString();
}

QTranslator* Localize(const QString& language) {
  auto* translator = new QTranslator();
  translator->load(":/" + language + ".qm", QString(), QString(), QString());
  if (translator->isEmpty()) {
    delete translator;
    translator = nullptr;
  } else {
    QCoreApplication::installTranslator(translator);
  }
  StrTable::InitStrTable();
  const QString family = language == QLatin1String("tha") ? "Microsoft Sans Serif" : "Arial";
  QApplication::setFont(QFont(family, 12, -1, false));
  return translator;
}

}  // namespace startup
