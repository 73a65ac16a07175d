#include "QtSingleApplication.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "UserHome.h"
#include "regular_file.h"
#include "tmp_name_gen.h"

namespace {

// How many times, and how far apart, a start tries the lock of ~/.Corvane while another start holds it
// to set something aside: that takes a few system calls, so only a stopped or stuck process holds it
// for the two seconds these make.
constexpr int kFolderLockTries = 200;
constexpr long kFolderLockPauseNs = 10L * 1000 * 1000;
// How many fresh names are drawn for what is set aside before giving up.
constexpr int kAsideNameTries = 3;

// What a look at the lock's place found.
enum class Found {
  kOurs,      // a regular file, now locked by this launcher
  kTaken,     // a regular file that another launcher holds locked
  kSquatter,  // something no launcher can hold a lock through: a link, a folder, a pipe, a file this
              // account cannot open
  kNoLock,    // nothing can be locked there at all (nothing can be created, no locks on this volume)
  kUnknown,   // what another launcher may hold locked unseen: a regular file that cannot be opened now,
              // or a squatter while another process keeps the folder locked
};

QString ErrorText(int error) {
  return QString::fromLocal8Bit(RegularFileErrorText(error).c_str());
}

int LockWithoutWaiting(int fd) {
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

// What a file of type `mode` other than a regular file is, for a log line.
QString KindOf(mode_t mode) {
  if (S_ISLNK(mode)) return QStringLiteral("a symbolic link");
  if (S_ISDIR(mode)) return QStringLiteral("a folder");
  if (S_ISFIFO(mode)) return QStringLiteral("a named pipe");
  if (S_ISSOCK(mode)) return QStringLiteral("a socket");
  if (S_ISCHR(mode) || S_ISBLK(mode)) return QStringLiteral("a device");
  return QStringLiteral("not a regular file");
}

// Why the lock file `lock` could not be opened read-write (`error`) nor read-only (`read_error`), from
// what stands there. `*why` is what a squatter is ("a folder") with kSquatter, a sentence otherwise.
Found Unopened(const QString& lock, int error, int read_error, QString* why) {
  struct stat st;
  if (::lstat(QFile::encodeName(lock).constData(), &st) != 0) {
    *why = QStringLiteral("'%1' cannot be created (%2)").arg(lock, ErrorText(error));
    return Found::kNoLock;
  }
  if (!S_ISREG(st.st_mode)) {
    *why = KindOf(st.st_mode);
    return Found::kSquatter;
  }
  if (read_error == EACCES || read_error == EPERM) {
    // No launcher of this account can open it either.
    *why = QStringLiteral("a file this account cannot open (%1)").arg(ErrorText(read_error));
    return Found::kSquatter;
  }
  *why = QStringLiteral("'%1' cannot be opened (%2)").arg(lock, ErrorText(read_error));
  return Found::kUnknown;
}

// Opens the lock file `lock` and locks it without waiting: read-write, created when missing; read-only
// where that is all this account may do with the file there (a read-only file, another account's
// readable file), since flock needs no more and every launcher takes it the same way. Never through a
// link, never waiting, regular files only (OpenRegularFile). `*fd` holds the lock with kOurs.
Found LockFileAt(const QString& lock, int* fd, QString* why) {
  const QByteArray path = QFile::encodeName(lock);
  int error = 0, read_error = 0;
  *fd = OpenRegularFile(path.constData(), "lock", &error);
  if (*fd < 0) *fd = OpenRegularFile(path.constData(), "r", &read_error);
  if (*fd < 0) return Unopened(lock, error, read_error, why);
  if (LockWithoutWaiting(*fd) == 0) return Found::kOurs;  // until this object goes or the process ends
  const int err = errno;
  ::close(*fd);
  *fd = -1;
  if (err == EWOULDBLOCK) return Found::kTaken;
  // A file system without locks (some network ones): nobody can take it, so nobody is kept out.
  *why = QStringLiteral("'%1' cannot be locked (%2)").arg(lock, ErrorText(err));
  return Found::kNoLock;
}

// Locks the folder `folder` itself, trying for a while when another process holds it. The descriptor
// that holds the lock, or -1 with `*err` (EWOULDBLOCK: still held by another).
int LockFolder(const QString& folder, int* err) {
  const int fd =
      ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *err = errno;
    return -1;
  }
  for (int attempt = 1;; ++attempt) {
    if (LockWithoutWaiting(fd) == 0) return fd;
    *err = errno;
    if (*err != EWOULDBLOCK || attempt == kFolderLockTries) break;
    struct timespec pause = {0, kFolderLockPauseNs};
    nanosleep(&pause, nullptr);
  }
  ::close(fd);
  return -1;
}

// Renames what stands at `lock` to a name of its own beside it, "<lock>_aside.<random>": never
// removed, never followed (rename moves a link as a link). 0 with that name in `*aside`, or errno.
int SetAside(const QString& lock, QString* aside) {
  const QByteArray from = QFile::encodeName(lock);
  for (int attempt = 0; attempt < kAsideNameTries; ++attempt) {
    *aside =
        lock + QStringLiteral("_aside.") + QString::fromStdString(TmpNameGen::getInstance()->getTmpName());
    const QByteArray to = QFile::encodeName(*aside);
    struct stat st;
    if (::lstat(to.constData(), &st) == 0) continue;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
  }
  return EEXIST;
}

// Replaces the squatter `what` at `lock` by a fresh lock file, under the lock of the folder that holds
// them: of several starts that find it, the first sets it aside and takes the fresh lock, and the
// others, looking again once they hold the folder, meet that lock. `*note` says what was set aside.
Found ReplaceSquatter(const QString& lock, QString what, int* fd, QString* why, QString* note) {
  const QString folder = QFileInfo(lock).path();
  int err = 0;
  const int folder_fd = LockFolder(folder, &err);
  if (folder_fd < 0) {
    if (err == EWOULDBLOCK) {
      // Another start is setting it aside, or stopped while doing so: it may hold the fresh lock.
      *why = QStringLiteral("'%1' is %2, and another process keeps '%3' locked").arg(lock, what, folder);
      return Found::kUnknown;
    }
    *why = QStringLiteral("'%1' is %2 and cannot be set aside: '%3' cannot be locked (%4)")
               .arg(lock, what, folder, ErrorText(err));
    return Found::kNoLock;
  }
  QString now;
  Found found = LockFileAt(lock, fd, &now);
  if (found == Found::kSquatter) {
    QString aside;
    err = SetAside(lock, &aside);
    if (err != 0) {
      now = QStringLiteral("'%1' is %2 and cannot be set aside (%3)").arg(lock, now, ErrorText(err));
      found = Found::kNoLock;
    } else {
      *note =
          QStringLiteral("set aside '%1' as '%2': it was %3, which cannot serve as the single-instance lock")
              .arg(lock, aside, now);
      found = LockFileAt(lock, fd, &now);
      if (found == Found::kSquatter) {
        now = QStringLiteral("'%1' is %2 again once set aside").arg(lock, now);
        found = Found::kNoLock;
      }
    }
  }
  *why = now;
  ::close(folder_fd);  // releases the folder
  return found;
}

}  // namespace

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
  QString why;
  Found found = LockFileAt(lock, &lock_fd_, &why);
  if (found == Found::kSquatter) found = ReplaceSquatter(lock, why, &lock_fd_, &why, &lock_set_aside_);
  switch (found) {
    case Found::kOurs:
      return;
    case Found::kTaken:
      running_ = true;
      return;
    case Found::kSquatter:
    case Found::kNoLock:
      break;
    case Found::kUnknown:
      lock_failure_fatal_ = true;
      break;
  }
  lock_failure_ = why;
  qWarning("single instance: %s", qUtf8Printable(lock_failure_));
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

QString QtSingleApplication::lockSetAside() const {
  return lock_set_aside_;
}
