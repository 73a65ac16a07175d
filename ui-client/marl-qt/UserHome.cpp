#include "UserHome.h"

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// The home folder of `uid` in the password database; empty, with the reason in `*why`, when the
// account has no entry or the entry names no absolute folder.
QString HomeOfAccount(uid_t uid, QString* why) {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  int rc;
  while ((rc = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
         buffer.size() < (1u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (rc != 0) {
    *why = QStringLiteral("HOME is not set and the password database cannot be read for uid %1: %2 (%3)")
               .arg(uid)
               .arg(QString::fromLocal8Bit(strerror(rc)))
               .arg(rc);
    return QString();
  }
  if (found == nullptr) {
    *why = QStringLiteral("HOME is not set and the password database has no account with uid %1").arg(uid);
    return QString();
  }
  const QString home = QFile::decodeName(QByteArray(found->pw_dir != nullptr ? found->pw_dir : ""));
  if (home.isEmpty() || !QDir::isAbsolutePath(home)) {
    *why = QStringLiteral("HOME is not set and the account with uid %1 has no home folder ('%2')")
               .arg(uid)
               .arg(home);
    return QString();
  }
  return QDir::cleanPath(home);
}

}  // namespace

QString UserHomePath(QString* why) {
  QString ignored;
  if (why == nullptr) why = &ignored;
  why->clear();
  const QByteArray env = qgetenv("HOME");
  if (env.isEmpty()) return HomeOfAccount(getuid(), why);
  // A relative HOME would name another folder from every working folder, and the private copy is
  // never unpacked below a relative path: no home rather than one that cannot work.
  const QString home = QFile::decodeName(env);
  if (!QDir::isAbsolutePath(home)) {
    *why = QStringLiteral("HOME is not an absolute folder ('%1')").arg(home);
    return QString();
  }
  return QDir::cleanPath(home);
}
