#include "platform.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <unistd.h>

#include <vector>

#ifdef __APPLE__
#include <libproc.h>
#include <mach-o/dyld.h>
#include <sys/param.h>
#include <sys/proc.h>
#include <sys/proc_info.h>

extern char** environ;
#endif

namespace testsupport {

#ifdef __APPLE__

int MountTmpfs(const std::string&, const char*) {
  errno = ENOTSUP;
  return -1;
}

int RemountTmpfs(const std::string&, const char*, bool) {
  errno = ENOTSUP;
  return -1;
}

void Unmount(const std::string& dir) {
  unmount(dir.c_str(), MNT_FORCE);
}

bool IsLiveProcess(pid_t pid) {
  struct proc_bsdinfo info;
  if (proc_pidinfo(pid, PROC_PIDTBSDINFO, 0, &info, sizeof(info)) < static_cast<int>(sizeof(info)))
    return kill(pid, 0) == 0 || errno == EPERM;  // another user's process tells nothing
  return info.pbi_status != SZOMB;
}

std::string ThisProgram() {
  char path[MAXPATHLEN];
  uint32_t size = sizeof(path);
  if (_NSGetExecutablePath(path, &size) != 0) return std::string();
  char real[PATH_MAX];
  return realpath(path, real) != nullptr ? real : path;
}

std::string PathOfDescriptor(int fd) {
  char path[MAXPATHLEN];
  return fcntl(fd, F_GETPATH, path) == 0 ? path : std::string();
}

struct timespec ModificationTime(const struct stat& st) {
  return st.st_mtimespec;
}

struct timespec AccessTime(const struct stat& st) {
  return st.st_atimespec;
}

int PipeCloseOnExec(int fds[2]) {
  if (pipe(fds) != 0) return -1;
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  return 0;
}

void ClearEnvironment() {
  std::vector<std::string> names;
  for (char** e = environ; *e != nullptr; ++e) names.emplace_back(*e, strcspn(*e, "="));
  for (const std::string& name : names) unsetenv(name.c_str());
}

#else

int MountTmpfs(const std::string& dir, const char* options) {
  return mount("tmpfs", dir.c_str(), "tmpfs", 0, options);
}

int RemountTmpfs(const std::string& dir, const char* options, bool read_only) {
  return mount("tmpfs", dir.c_str(), "tmpfs", MS_REMOUNT | (read_only ? MS_RDONLY : 0), options);
}

void Unmount(const std::string& dir) {
  umount2(dir.c_str(), MNT_DETACH);
}

bool IsLiveProcess(pid_t pid) {
  if (kill(pid, 0) != 0 && errno == ESRCH) return false;
  FILE* f = fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (f == nullptr) return false;
  char buf[512] = {0};
  const size_t n = fread(buf, 1, sizeof(buf) - 1, f);
  fclose(f);
  // "pid (comm) state ...": the state follows the last ')'.
  const std::string stat(buf, n);
  const size_t close = stat.rfind(')');
  return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'Z';
}

std::string ThisProgram() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

std::string PathOfDescriptor(int fd) {
  char path[PATH_MAX];
  const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof(path) - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

struct timespec ModificationTime(const struct stat& st) {
  return st.st_mtim;
}

struct timespec AccessTime(const struct stat& st) {
  return st.st_atim;
}

int PipeCloseOnExec(int fds[2]) {
  return pipe2(fds, O_CLOEXEC);
}

void ClearEnvironment() {
  clearenv();
}

#endif

}  // namespace testsupport
