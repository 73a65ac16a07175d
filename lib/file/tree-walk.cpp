// Walking folder trees (tree-walk.h).
#include "tree-walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "file-op-internal.h"
#include "file-op.h"

namespace file_internal {

int UnlinkAt(int dir, const char* name, int flags) {
  FSBeforeChange();
  return unlinkat(dir, name, flags);
}

int MkdirAt(int dir, const char* name, mode_t mode) {
  FSBeforeChange();
  return mkdirat(dir, name, mode);
}

int RenameAt(int from_dir, const char* from, int to_dir, const char* to) {
  FSBeforeChange();
  return renameat(from_dir, from, to_dir, to);
}

int SymlinkAt(const char* target, int dir, const char* name) {
  FSBeforeChange();
  return symlinkat(target, dir, name);
}

int CreateAt(int dir, const char* name, int flags, mode_t mode) {
  FSBeforeChange();
  return openat(dir, name, flags | O_CREAT, mode);
}

int ChangeMode(int fd, mode_t mode) {
  FSBeforeChange();
  return fchmod(fd, mode);
}

int ReadListing(int fd, Listing* listing) {
  const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return -1;
  DIR* dir = fdopendir(copy);
  if (dir == nullptr) {
    const int err = errno;
    close(copy);
    errno = err;
    return -1;
  }
  rewinddir(dir);
  int err = 0;
  while (true) {
    errno = 0;
    struct dirent* entry = readdir(dir);
    if (entry == nullptr) {
      err = errno;
      break;
    }
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    listing->entries.emplace_back(entry->d_name, entry->d_type);
  }
  closedir(dir);
  errno = err;
  return err == 0 ? 0 : -1;
}

int FolderTrail::Enter(const std::string& name, struct stat* st) {
  const int fd = openat(current(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  if (fstat(fd, st) != 0) {
    const int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  levels_.push_back({fd, st->st_dev, st->st_ino, name, path_.size()});
  path_ = PathOf(name);
  while (levels_.size() - first_open_ > kOpenFolderBudget) {
    close(levels_[first_open_].fd);
    levels_[first_open_++].fd = -1;
  }
  return 0;
}

int FolderTrail::Leave() {
  const Level child = levels_.back();
  levels_.pop_back();
  path_.resize(child.path_size);
  int result = 0;
  if (!levels_.empty() && levels_.back().fd < 0) {
    Level& parent = levels_.back();
    const int fd = openat(child.fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || !IsLevel(fd, parent)) {
      const int err = errno;
      if (fd >= 0) close(fd);
      errno = err;
      result = -1;
    } else {
      parent.fd = fd;
      first_open_ = levels_.size() - 1;
    }
  }
  const int err = errno;
  close(child.fd);
  errno = err;
  return result;
}

bool FolderTrail::IsLevel(int fd, const Level& level) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  if (st.st_dev == level.dev && st.st_ino == level.ino) return true;
  errno = ESTALE;
  return false;
}

int EntryType(int folder, const std::pair<std::string, unsigned char>& entry, int* type) {
  if (entry.second != DT_UNKNOWN) {
    *type = TypeOfDirEntry(entry.second);
    return 0;
  }
  struct stat st;
  if (fstatat(folder, entry.first.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
  *type = TypeOfMode(st.st_mode);
  return 0;
}

}  // namespace file_internal
