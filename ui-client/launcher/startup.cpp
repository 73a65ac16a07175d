#include "startup.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QLatin1String>
#include <QTranslator>

#include "strtable.h"

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#include <stdlib.h>
#else
#include <unistd.h>
#endif

#include <vector>

namespace startup {

namespace {

const char kPluginsFromExecutable[] = "/../../Frameworks/plugins";

}  // namespace

QString RunningExecutablePath() {
#if defined(__APPLE__)
  uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);  // Asks for the size the path needs.
  std::vector<char> path(size + 1, '\0');
  if (_NSGetExecutablePath(path.data(), &size) != 0) return QString();
  char* real = realpath(path.data(), nullptr);
  if (real == nullptr) return QString();
  const QString result = QString::fromUtf8(real);
  free(real);
  return result;
#else
  // The kernel's link names the executable's resolved path; grow the buffer until it fits.
  for (size_t size = 1024; size <= (1u << 20); size *= 4) {
    std::vector<char> buf(size);
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return QString();
    if (static_cast<size_t>(n) < buf.size()) return QString::fromUtf8(buf.data(), static_cast<int>(n));
  }
  return QString();
#endif
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
