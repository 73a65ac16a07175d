#include "process-control.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <mutex>
#include <utility>

#ifdef __APPLE__
#include <libproc.h>
#include <sys/proc_info.h>
#endif

#ifdef __APPLE__

int GetProcessExecutablePath(pid_t pid, std::string* path) {
  if (pid < 1 || path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  char buf[PROC_PIDPATHINFO_MAXSIZE];
  errno = 0;
  if (proc_pidpath(pid, buf, sizeof(buf)) <= 0) {
    if (errno == 0) errno = ESRCH;
    return -1;
  }
  path->assign(buf);
  return 0;
}

int GetProcessStartTime(pid_t pid, struct timespec* start) {
  if (pid < 1 || start == nullptr) {
    errno = EINVAL;
    return -1;
  }
  struct proc_bsdinfo info;
  errno = 0;
  int n = proc_pidinfo(pid, PROC_PIDTBSDINFO, 0, &info, sizeof(info));
  if (n < static_cast<int>(sizeof(info))) {
    if (errno == 0) errno = ESRCH;
    return -1;
  }
  start->tv_sec = static_cast<time_t>(info.pbi_start_tvsec);
  start->tv_nsec = static_cast<long>(info.pbi_start_tvusec) * 1000;
  return 0;
}

#else

int GetProcessExecutablePath(pid_t pid, std::string* path) {
  if (pid < 1 || path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  char link[64];
  snprintf(link, sizeof(link), "/proc/%d/exe", static_cast<int>(pid));
  std::string buf(4096, '\0');
  for (;;) {
    const ssize_t len = readlink(link, &buf[0], buf.size());
    if (len < 0) {
      // No /proc entry: no such process. A process that has ended but is not reaped yet has an
      // entry without an executable: nothing to tell.
      if (errno == ENOENT) errno = ESRCH;
      return -1;
    }
    if (static_cast<size_t>(len) < buf.size()) {
      buf.resize(static_cast<size_t>(len));
      break;
    }
    buf.resize(buf.size() * 2);
  }
  static const char kDeleted[] = " (deleted)";
  const size_t mark = sizeof(kDeleted) - 1;
  if (buf.size() > mark && buf.compare(buf.size() - mark, mark, kDeleted) == 0) buf.resize(buf.size() - mark);
  if (buf.empty() || buf[0] != '/') {
    errno = EACCES;
    return -1;
  }
  *path = std::move(buf);
  return 0;
}

int GetProcessStartTime(pid_t pid, struct timespec* start) {
  if (pid < 1 || start == nullptr) {
    errno = EINVAL;
    return -1;
  }
  char path[64];
  snprintf(path, sizeof(path), "/proc/%d/stat", static_cast<int>(pid));
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) errno = ESRCH;
    return -1;
  }
  char buf[1024];
  ssize_t len = read(fd, buf, sizeof(buf) - 1);
  int saved = errno;
  close(fd);
  if (len <= 0) {
    // A process that went away between open and read reads as empty (or fails with ESRCH).
    errno = len == 0 ? ESRCH : saved;
    return -1;
  }
  buf[len] = '\0';
  // "pid (comm) state ppid ...": comm may hold blanks and parentheses, so count fields after the
  // last ')'. The start time is field 22, in clock ticks since boot.
  char* p = strrchr(buf, ')');
  if (p == nullptr) {
    errno = EINVAL;
    return -1;
  }
  ++p;
  for (int field = 3; field < 22; ++field) {
    while (*p == ' ') ++p;
    while (*p != ' ' && *p != '\0') ++p;
    if (*p == '\0') {
      errno = EINVAL;
      return -1;
    }
  }
  char* end = nullptr;
  errno = 0;
  unsigned long long ticks = strtoull(p, &end, 10);
  if (end == p || errno != 0) {
    errno = EINVAL;
    return -1;
  }
  long hz = sysconf(_SC_CLK_TCK);
  if (hz <= 0) hz = 100;
  // Boot time in wall-clock terms is now minus the time since boot (suspend included, as the
  // kernel counts start times).
  struct timespec now, since_boot;
  if (clock_gettime(CLOCK_REALTIME, &now) != 0 || clock_gettime(CLOCK_BOOTTIME, &since_boot) != 0) return -1;
  long long boot_ns = (static_cast<long long>(now.tv_sec) - since_boot.tv_sec) * 1000000000LL +
                      (now.tv_nsec - since_boot.tv_nsec);
  long long start_ns = boot_ns + static_cast<long long>(ticks / hz) * 1000000000LL +
                       static_cast<long long>(ticks % hz) * (1000000000LL / hz);
  start->tv_sec = static_cast<time_t>(start_ns / 1000000000LL);
  start->tv_nsec = static_cast<long>(start_ns % 1000000000LL);
  return 0;
}

#endif

namespace {

std::mutex signal_observer_mutex;
std::function<void(pid_t, int, int, int)> signal_observer;
std::function<bool(pid_t, int)> signal_gate;

}  // namespace

int SignalProcess(pid_t pid, int sig) {
  std::function<void(pid_t, int, int, int)> observer;
  std::function<bool(pid_t, int)> gate;
  {
    std::lock_guard<std::mutex> lock(signal_observer_mutex);
    observer = signal_observer;
    gate = signal_gate;
  }
  int result = -1;
  int err = EPERM;
  if (!gate || gate(pid, sig)) {
    result = kill(pid, sig);
    err = result == 0 ? 0 : errno;
  }
  if (observer) observer(pid, sig, result, err);
  errno = err;
  return result;
}

void SetSignalGate(std::function<bool(pid_t pid, int sig)> gate) {
  std::lock_guard<std::mutex> lock(signal_observer_mutex);
  signal_gate = std::move(gate);
}

void SetSignalObserver(std::function<void(pid_t pid, int sig, int result, int error)> observer) {
  std::lock_guard<std::mutex> lock(signal_observer_mutex);
  signal_observer = std::move(observer);
}
