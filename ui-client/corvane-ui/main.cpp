// Stand-in for the client's user interface. Records its process id in ~/.Corvane/ui.pid ("pid=<n>",
// the key=value form the launcher reads to stop it before an upgrade), then shows a small window
// saying that it runs. Without a display (the offscreen or minimal platform) it exits after a moment,
// so that tests and unattended demonstrations leave nothing running.
#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QSaveFile>
#include <QSettings>
#include <QString>
#include <QTimer>
#include <cstdio>

namespace {

const int kHeadlessLingerMs = 1500;

// Writes the pid file whole or not at all, so the launcher never reads half of it.
bool WritePidFile(const QString& folder, qint64 pid) {
  if (!QDir().mkpath(folder)) return false;
  QSaveFile file(folder + "/ui.pid");
  if (!file.open(QIODevice::WriteOnly)) return false;
  file.write(QByteArray("pid=") + QByteArray::number(pid) + "\n");
  return file.commit();
}

// The build number in the bundle's INFO, or an empty string.
QString BuildNumber() {
  QSettings info(QCoreApplication::applicationDirPath() + "/../Resources/INFO", QSettings::IniFormat);
  return info.value("Version/build_version").toString();
}

// Lists on standard output every descriptor beyond the standard streams that this program was started
// with, as "corvane-ui: inherited descriptor <fd> <device> <inode>", then "corvane-ui: inherited
// descriptors listed": whoever starts the interface should pass on nothing of its own (a log file
// open for writing, a lock). Asked before the toolkit opens anything.
void ListInheritedDescriptors() {
  for (int fd = 3; fd < 1024; ++fd) {
    struct stat st;
    if (fstat(fd, &st) == 0)
      printf("corvane-ui: inherited descriptor %d %llu %llu\n", fd,
             static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino));
  }
  printf("corvane-ui: inherited descriptors listed\n");
  fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  ListInheritedDescriptors();
  QApplication app(argc, argv);
  const qint64 pid = QCoreApplication::applicationPid();
  const QString folder = QDir::homePath() + "/.Corvane";
  if (!WritePidFile(folder, pid)) {
    fprintf(stderr, "corvane-ui: cannot write %s/ui.pid\n", qUtf8Printable(folder));
  }

  const QString build = BuildNumber();
  const QString text = QString("Corvane Client%1 is running (pid %2)")
                           .arg(build.isEmpty() ? QString() : " build " + build)
                           .arg(pid);
  printf("corvane-ui: %s\n", qUtf8Printable(text));
  fflush(stdout);

  const QString platform = QGuiApplication::platformName();
  if (platform == "offscreen" || platform == "minimal") {
    QTimer::singleShot(kHeadlessLingerMs, &app, &QCoreApplication::quit);
    return QApplication::exec();
  }
  QLabel window(text);
  window.setWindowTitle("Corvane Client");
  window.setAlignment(Qt::AlignCenter);
  window.setMinimumSize(360, 90);
  window.show();
  return QApplication::exec();
}
