// Child process for the marl-qt tests: one application object per process, as in the launcher.
//   marl_qt_probe single    prints "running=0" or "running=1"; with 0 it keeps its application object
//                           (and the lock) until its standard input closes or it is killed; "refused"
//                           when a failure to take the lock must stop it (lockFailureIsFatal)
//   marl_qt_probe language  prints HalcLocale's default language code
//   marl_qt_probe dpi       prints DPIinfo::getDPI() for the primary screen, against 96 (Linux's reference)
//   marl_qt_probe dpi-scaled  the same with Qt's high-DPI scaling attribute set
//   marl_qt_probe dpi-mac   the same against macOS's reference density (72)
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <QApplication>

#include "DPIinfo.h"
#include "HalcLocale.h"
#include "QtSingleApplication.h"

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  if (strcmp(mode, "language") == 0) {
    printf("%s\n", HalcLocale::getInstance()->getDefaultLanguage().toUtf8().constData());
    return 0;
  }
  if (strcmp(mode, "dpi") == 0 || strcmp(mode, "dpi-scaled") == 0 || strcmp(mode, "dpi-mac") == 0) {
    if (strcmp(mode, "dpi-scaled") == 0) QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    DPIinfo::getInstance()->setReferenceDpi(strcmp(mode, "dpi-mac") == 0 ? 72.0 : 96.0);
    QApplication app(argc, argv);
    printf("%g\n", DPIinfo::getInstance()->getDPI());
    return 0;
  }
  if (strcmp(mode, "single") == 0) {
    QtSingleApplication app(argc, argv, true);
    if (app.lockFailureIsFatal()) {
      printf("refused\n");
      return 0;
    }
    printf("running=%d\n", app.isRunning() ? 1 : 0);
    fflush(stdout);
    if (app.isRunning()) return 0;
    char buf[64];
    while (read(STDIN_FILENO, buf, sizeof buf) > 0) {
    }
    return 0;
  }
  fprintf(stderr, "usage: marl_qt_probe single|language|dpi|dpi-scaled|dpi-mac\n");
  return 2;
}
