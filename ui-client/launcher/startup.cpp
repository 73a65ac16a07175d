#include "startup.h"

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
  const QString typed_contents = QFileInfo(QDir::cleanPath(typed + "/../..")).canonicalFilePath();
  const QString real_contents = QDir::cleanPath(running_exe + "/../..");
  return typed_contents == real_contents ? from_typed : from_exe;
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
