#include "QtSingleApplication.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "UserHome.h"
#include "regular_file.h"

QString QtSingleApplication::lockFilePath() {
  const QString home = UserHomePath();
  if (home.isEmpty()) return QString();
  return home + QStringLiteral("/.Corvane/launcher.lock");
}

QtSingleApplication::QtSingleApplication(int& argc, char** argv, bool /*GUIenabled*/)
    : QApplication(argc, argv) {
  const QString lock = lockFilePath();
  if (lock.isEmpty()) {
    qWarning("single instance: no home folder; assuming no other instance");
    return;
  }
  // The per-user folder may not exist yet on a first start.
  QDir().mkpath(QFileInfo(lock).path());
  const QByteArray path = QFile::encodeName(lock);
  // Created when missing, never through a link (a dangling one would create its target elsewhere),
  // only a regular file, closed on exec (the programs the launcher starts must not keep the lock).
  int error = 0;
  lock_fd_ = OpenRegularFile(path.constData(), "lock", &error);
  if (lock_fd_ < 0) {
    const QString why = QString::fromLocal8Bit(RegularFileErrorText(error).c_str());
    // Something in the lock's place that cannot serve as the lock (a link, a folder, a pipe, a file
    // this account cannot open): running anyway would silently drop the protection. Where nothing
    // could be created at all (a read-only or full home), no launcher can change anything either.
    struct stat st;
    lock_failure_fatal_ = ::lstat(path.constData(), &st) == 0;
    lock_failure_ = lock_failure_fatal_
                        ? QStringLiteral("'%1' cannot serve as the lock (%2); remove it").arg(lock, why)
                        : QStringLiteral("'%1' cannot be created (%2)").arg(lock, why);
    qWarning("single instance: %s", qUtf8Printable(lock_failure_));
    return;
  }
  int rc;
  do {
    rc = ::flock(lock_fd_, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return;  // Ours until this object is destroyed or the process ends.
  const int err = errno;
  ::close(lock_fd_);
  lock_fd_ = -1;
  if (err == EWOULDBLOCK) {
    running_ = true;
  } else {
    // A file system without locks (some network ones): nobody can take it, so nobody is kept out.
    lock_failure_ =
        QStringLiteral("'%1' cannot be locked (%2)").arg(lock, QString::fromLocal8Bit(strerror(err)));
    qWarning("single instance: %s", qUtf8Printable(lock_failure_));
  }
}

QtSingleApplication::~QtSingleApplication() {
  // Closing the only descriptor releases the lock. The file is not removed: removing it while another
  // process waits on it would let a third lock a fresh file and run beside the second.
  if (lock_fd_ >= 0) ::close(lock_fd_);
}

bool QtSingleApplication::isRunning() const {
  return running_;
}

QString QtSingleApplication::lockFailure() const {
  return lock_failure_;
}

bool QtSingleApplication::lockFailureIsFatal() const {
  return lock_failure_fatal_;
}
