// Putting a whole tree on the drive (file-op.h: FSSyncTree).
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "file-op.h"
#include "log.h"

namespace {

constexpr char kLog[] = "file_op_debug";
// Descriptors nftw may hold open at once, one per level.
constexpr int kWalkDescriptors = 32;

// The walk's first failure: errno and the path (nftw's callback takes no context; one walk per
// thread at a time).
thread_local int walk_error = 0;
thread_local std::string walk_failed;

// How the walk opens an entry: never through a link, never waiting on a pipe put in its place.
constexpr int kOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// Sets the permission bits of the entry `path` itself (never of what a link there leads to), the
// change announced first. 0, or -1 with errno.
int SetModeOf(const char* path, mode_t mode) {
  FSBeforeChange();
  return fchmodat(AT_FDCWD, path, mode, AT_SYMLINK_NOFOLLOW);
}

// Opens the entry `path`, whose status is `st`, for its sync. fsync and the full sync need no access
// to the data, but open does, and macOS gives no descriptor without it (O_EVTONLY asks for read
// access too): a file the package made unreadable (0000, 0111) is opened by its owner, the launcher
// that extracted it, after giving itself read permission, and its exact mode is put back through the
// descriptor at once, which keeps the access it was opened with. A descriptor, or -1 with errno.
int OpenForSync(const char* path, const struct stat* st) {
  int fd = open(path, kOpenFlags);
  if (fd >= 0 || errno != EACCES || st->st_uid != geteuid()) return fd;
  const mode_t mode = st->st_mode & 07777;
  if (SetModeOf(path, mode | S_IRUSR) != 0) return -1;
  fd = open(path, kOpenFlags);
  const int err = errno;
  FSBeforeChange();
  if ((fd >= 0 ? fchmod(fd, mode) : fchmodat(AT_FDCWD, path, mode, AT_SYMLINK_NOFOLLOW)) != 0) {
    const int restore_err = errno;
    if (fd >= 0) close(fd);
    errno = restore_err;
    return -1;
  }
  errno = err;
  return fd;
}

// Hands the data of one regular file or folder to the drive. A link is an entry of its folder and
// goes with it; other kinds hold no data.
int SyncWalkEntry(const char* path, const struct stat* st, int type, struct FTW*) {
  if (type == FTW_NS || type == FTW_DNR) {
    walk_error = errno != 0 ? errno : EACCES;
    walk_failed = path;
    return 1;
  }
  if (type == FTW_SL || type == FTW_SLN || !(S_ISREG(st->st_mode) || S_ISDIR(st->st_mode))) return 0;
  const int fd = OpenForSync(path, st);
  int result = fd < 0 ? -1 : fsync(fd);
  if (result != 0 && fd >= 0 && (errno == EINVAL || errno == EROFS || errno == ENOTSUP)) result = 0;
  if (result == 0) FSAfterSync(fd, FSSyncScope::kEntry);
  const int err = errno;
  if (fd >= 0) close(fd);
  if (result == 0) return 0;
  walk_error = err;
  walk_failed = path;
  return 1;
}

int SyncFailed(const char* step, const std::string& path, int err) {
  LOG_ERROR(kLog, "FSSyncTree: %s(%s): %s (%d)", step, path.c_str(), strerror(err), err);
  errno = err;
  return -1;
}

// The whole volume that holds `path`, in one call.
int SyncVolume(const ustring& path) {
#ifdef __linux__
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // a pipe put there never waits
  if (fd < 0) return SyncFailed("open", path.c_str(), errno);
  int result = syncfs(fd);
  const int err = errno;
  if (result != 0 && (err == EINVAL || err == EROFS || err == ENOTSUP)) result = 0;  // nothing more to do
  if (result == 0) FSAfterSync(fd, FSSyncScope::kVolume);
  close(fd);
  return result == 0 ? 0 : SyncFailed("syncfs", path.c_str(), err);
#else
  return FSSyncTreeFileByFile(path);
#endif
}

std::atomic<FSTreeSyncCall> tree_sync{SyncVolume};

}  // namespace

int FSSyncTreeFileByFile(const ustring& path) {
  walk_error = 0;
  walk_failed.clear();
  if (nftw(path.c_str(), SyncWalkEntry, kWalkDescriptors, FTW_PHYS) != 0)
    return SyncFailed("fsync", walk_error != 0 ? walk_failed : path.c_str(),
                      walk_error != 0 ? walk_error : errno);
  // fsync handed each one to the drive; one full sync now flushes the drive's cache for them all.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // a pipe put there never waits
  if (fd < 0) return SyncFailed("open", path.c_str(), errno);
  const int result = FSSyncDescriptor(fd);
  const int err = errno;
  close(fd);
  return result == 0 ? 0 : SyncFailed("full sync", path.c_str(), err);
}

int FSSyncTree(const ustring& path) {
  return tree_sync.load()(path);
}

FSTreeSyncCall FSSetTreeSync(FSTreeSyncCall call) {
  return tree_sync.exchange(call);
}
