#include "file-op.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "extended-attributes.h"
#include "log.h"
#include "path-ref.h"
#include "tmp_name_gen.h"

namespace {

constexpr char kLog[] = "file_op_debug";
constexpr size_t kCopyBufferSize = 8192;
constexpr size_t kLinkBufferSize = 1024;
constexpr size_t kTempTemplateSize = 4096;
constexpr unsigned short kModeFromUmask = 0xFFFF;

std::function<void()>& ChangeHook() {
  static std::function<void()> hook;
  return hook;
}

// The changes the tree walks make on disk, each announced to the test seam (FSSetChangeHook) just
// before it is made.
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

// The type code of a mode word, or -1 for type bits no code stands for.
int TypeOfMode(mode_t mode) {
  switch (mode & S_IFMT) {
    case S_IFREG:
      return FILE_TYPE_REGULAR;
    case S_IFDIR:
      return FILE_TYPE_DIRECTORY;
    case S_IFLNK:
      return FILE_TYPE_SYMLINK;
    case S_IFCHR:
    case S_IFBLK:
      return FILE_TYPE_DEVICE;
    case S_IFIFO:
      return FILE_TYPE_FIFO;
    case S_IFSOCK:
      return FILE_TYPE_SOCKET;
    default:
      return -1;
  }
}

int TypeOfDirEntry(unsigned char d_type) {
  switch (d_type) {
    case DT_FIFO:
      return FILE_TYPE_FIFO;
    case DT_CHR:
    case DT_BLK:
      return FILE_TYPE_DEVICE;
    case DT_DIR:
      return FILE_TYPE_DIRECTORY;
    case DT_REG:
      return FILE_TYPE_REGULAR;
    case DT_LNK:
      return FILE_TYPE_SYMLINK;
    case DT_SOCK:
      return FILE_TYPE_SOCKET;
    default:
      return FILE_TYPE_NONE;
  }
}

// What lstat finds at `path`, for the callers that need neither the stored form nor the other
// fields: 1 something (`type` set), 0 nothing (ENOENT), -1 a failure (errno kept).
int StatusType(const char* path, int* type) {
  struct stat st;
  if (lstat(path, &st) != 0) return errno == ENOENT ? 0 : -1;
  *type = TypeOfMode(st.st_mode);
  if (*type < 0) {
    errno = EINVAL;
    return -1;
  }
  return 1;
}

// Whether `stored` is `given`, allowing only a difference of Unicode composition. Text that is not
// UTF-8 has no composition (it would normalise to nothing): its bytes must match.
bool SameUnderComposition(const ustring& stored, const ustring& given) {
  if (stored == given) return true;
  if (!ustring::is_valid(stored) || !ustring::is_valid(given)) return false;
  return ustring::normalize(stored, ustring::NFC) == ustring::normalize(given, ustring::NFC);
}

// The stored form of `path` with the last component not followed; logs a failure.
int StoredForm(const ustring& path, std::string* stored) {
  int status = PathRefMakeStoredPath(path.c_str(), false, stored);
  if (status != kPathRefOk) LOG_ERROR(kLog, "FSPathMakeRef: %d", status);
  return status;
}

int FullOrQuotaCode(int err) {
  return err == ENOSPC || err == EDQUOT ? -2 : -1;
}

#ifdef F_FULLFSYNC
int FullSync(int fd) {
  return fcntl(fd, F_FULLFSYNC);
}
std::atomic<FSFullSyncCall> full_sync{FullSync};
#else
std::atomic<FSFullSyncCall> full_sync{nullptr};
#endif

// Forces what was written to `fd` onto the drive: the full-sync call, and fsync where the volume
// refuses that. 0, or -1 with errno.
int SyncToDrive(int fd) {
  if (FSFullSyncCall call = full_sync.load()) {
    if (call(fd) == 0) return 0;
    if (errno != ENOTSUP && errno != EINVAL && errno != ENOTTY) return -1;
  }
  return fsync(fd);
}

// Closes the destination of a copy after forcing it to disk: 0, or -1/-2 (logged) when the data
// may not be there. A descriptor that cannot be synchronised (a device) is not a failure.
int FinishCopy(int out, const ustring& dst) {
  int result = 0;
  if (SyncToDrive(out) != 0 && errno != EINVAL && errno != EROFS) {
    int err = errno;
    LOG_ERROR(kLog, "CopyFile: fsync(%s): %s (%d)", dst.c_str(), strerror(err), err);
    result = FullOrQuotaCode(err);
  }
  if (close(out) != 0 && result == 0) {
    int err = errno;
    LOG_ERROR(kLog, "CopyFile: close(%s): %s (%d)", dst.c_str(), strerror(err), err);
    result = FullOrQuotaCode(err);
  }
  return result;
}

// Writes `size` bytes of `buffer` to `out` at `offset` (-1: at its current position). 0, or -1/-2
// (logged).
int WriteAll(int out, const char* buffer, size_t size, off_t offset) {
  for (const char* p = buffer; size > 0;) {
    const ssize_t put = offset < 0 ? write(out, p, size) : pwrite(out, p, size, offset);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      const int err = put == 0 ? EIO : errno;
      LOG_ERROR(kLog, "CopyFile: write: %s (%d)", strerror(err), err);
      return FullOrQuotaCode(err);
    }
    p += put;
    size -= static_cast<size_t>(put);
    if (offset >= 0) offset += put;
  }
  return 0;
}

int ReadFailed() {
  const int err = errno;
  LOG_ERROR(kLog, "CopyFile: read: %s (%d)", strerror(err), err);
  return -1;
}

// Streams the bytes of `in` from its position to its end to `out`. 0, or -1/-2 (logged).
int StreamBytes(int in, int out, char* buffer) {
  while (true) {
    const ssize_t got = read(in, buffer, kCopyBufferSize);
    if (got == 0) return 0;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return ReadFailed();
    const int put = WriteAll(out, buffer, static_cast<size_t>(got), -1);
    if (put != 0) return put;
  }
}

// Whether the file of status `st` holds fewer blocks than its size takes: it has holes.
bool HasHoles(const struct stat& st) {
  return S_ISREG(st.st_mode) &&
         static_cast<unsigned long long>(st.st_blocks) * 512 < static_cast<unsigned long long>(st.st_size);
}

// Copies the `size` bytes of a file with holes as a file with the same holes: only the ranges that
// hold data are written, and `out` is then given its size, so that a copy on another volume takes
// the room the source takes, not its size. 0; 1 when the volume cannot tell where the data lies
// (nothing done: stream the file instead); or -1/-2 (logged).
int CopyDataRanges(int in, int out, off_t size, char* buffer) {
#if defined(SEEK_DATA) && defined(SEEK_HOLE)
  for (off_t at = 0; at < size;) {
    const off_t data = lseek(in, at, SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;  // a hole up to the end
    if (data < 0 && at == 0 && (errno == EINVAL || errno == ENOTSUP)) return 1;
    if (data < 0) return ReadFailed();
    off_t hole = lseek(in, data, SEEK_HOLE);
    if (hole < 0) return ReadFailed();
    for (at = data, hole = std::min(hole, size); at < hole;) {
      const size_t want = static_cast<size_t>(std::min<off_t>(hole - at, kCopyBufferSize));
      const ssize_t got = pread(in, buffer, want, at);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return ReadFailed();
      if (got == 0) size = hole = at;  // the file shrank meanwhile: it ends here
      const int put = WriteAll(out, buffer, static_cast<size_t>(got), at);
      if (put != 0) return put;
      at += got;
    }
  }
  if (ftruncate(out, size) == 0) return 0;
  const int err = errno;
  LOG_ERROR(kLog, "CopyFile: ftruncate: %s (%d)", strerror(err), err);
  return FullOrQuotaCode(err);
#else
  (void)in, (void)out, (void)size, (void)buffer;
  return 1;
#endif
}

// Copies the bytes of `in` (at its start) to the new, empty `out`; a file with holes keeps them.
// 0, or -1/-2 (logged).
int CopyBytes(int in, int out) {
  char* buffer = static_cast<char*>(malloc(kCopyBufferSize));
  if (buffer == nullptr) {
    int err = errno;
    LOG_ERROR(kLog, "FSCopy: malloc(%d): %s (%d)", static_cast<int>(kCopyBufferSize), strerror(err), err);
    return -1;
  }
  struct stat st;
  int result = 1;
  if (fstat(in, &st) == 0 && HasHoles(st)) result = CopyDataRanges(in, out, st.st_size, buffer);
  if (result == 1) result = StreamBytes(in, out, buffer);
  free(buffer);
  return result;
}

int CopyFile(const ustring& src, const ustring& dst, bool remove_src, bool keep_mode) {
  int in = open(src.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    int err = errno;
    LOG_ERROR(kLog, "CopyFile: open(%s): %s (%d)", src.c_str(), strerror(err), err);
    return -1;
  }
  // The source's bits come from the open file itself, whatever way its path is written.
  struct stat src_st;
  if (fstat(in, &src_st) != 0) {
    LOG_ERROR(kLog, "FSStat: check state (%s) failed", src.c_str());
    close(in);
    return -1;
  }
  if (S_ISDIR(src_st.st_mode)) {
    LOG_ERROR(kLog, "CopyFile: open(%s): %s (%d)", src.c_str(), strerror(EISDIR), EISDIR);
    close(in);
    return -1;
  }
  // Opening the destination empties it: when it is the source, the source would be lost.
  struct stat dst_st;
  if (stat(dst.c_str(), &dst_st) == 0 && dst_st.st_dev == src_st.st_dev && dst_st.st_ino == src_st.st_ino) {
    LOG_ERROR(kLog, "CopyFile: '%s' and '%s' are the same file", src.c_str(), dst.c_str());
    close(in);
    return -1;
  }
  const mode_t bits = keep_mode ? (src_st.st_mode & 07777) : 0666;
  FSBeforeChange();
  int out = open(dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, bits);
  if (out < 0) {
    int err = errno;
    LOG_ERROR(kLog, "CopyFile: open(%s): %s (%d)", dst.c_str(), strerror(err), err);
    close(in);
    return -1;
  }

  int result = CopyBytes(in, out);
  close(in);
  int finished = FinishCopy(out, dst);
  if (result == 0) result = finished;
  // The source goes only once its copy is safely on disk.
  if (result == 0 && remove_src) FSBeforeChange();
  if (result == 0 && remove_src && remove(src.c_str()) != 0) {
    int err = errno;
    LOG_ERROR(kLog, "CopyFile: remove(%s): %s (%d)", src.c_str(), strerror(err), err);
    result = -1;
  }
  return result;
}

// `path` without trailing separators or trailing "." components. Both make the system follow a
// link in the last component ("link/" and "link/." name the link's target), so the callers that
// must act on the named entry itself strip them. The root stays "/".
std::string WithoutTrailingSeparators(const ustring& path) {
  std::string text(path.c_str());
  while (text.size() > 1) {
    if (text.back() == '/') {
      text.pop_back();
    } else if (text.size() >= 2 && text.compare(text.size() - 2, 2, "/.") == 0) {
      text.pop_back();
    } else {
      break;
    }
  }
  return text;
}

// --- walking folder trees -------------------------------------------------------------------------
//
// Both tree walks, removing a tree and copying one to another volume, work relative to open folder
// descriptors and open every folder with O_NOFOLLOW: a folder swapped for a link during the walk
// stops it instead of being followed, and long paths are never re-read. Whatever the depth, they
// hold a bounded number of descriptors: beyond kOpenFolderBudget open levels the shallowest is
// closed, and reopened on the way back up through its child's "..", accepted only when it is still
// the same folder (device and inode), so that a folder moved elsewhere during the walk stops it.

// An open descriptor, closed when the holder goes.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// Open folders kept per walk; two walks run at once during a move (its source and destination).
constexpr size_t kOpenFolderBudget = 16;

// The entries of a folder as one listing read them ("." and ".." left out), each with the type the
// listing reports (a DT_ value), and how far a walk has got through them. A listing is read whole
// when the walk enters the folder, so that it needs no descriptor while the walk is deeper down.
struct Listing {
  std::vector<std::pair<std::string, unsigned char>> entries;
  size_t next = 0;
  mode_t mode = 0;  // the folder's own mode and times, for a copy
  struct timespec times[2] = {};
};

// Reads the listing of the open folder `fd` (which stays open). 0, or -1 with errno set.
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

// The folders from a starting folder down to the one a walk is in, as open descriptors, at most
// kOpenFolderBudget of them. path() names the current folder in log lines.
class FolderTrail {
 public:
  // `base` (AT_FDCWD allowed) is where the trail starts, named `base_path`; it is never closed here.
  FolderTrail(int base, std::string base_path) : base_(base), path_(std::move(base_path)) {}
  ~FolderTrail() {
    for (const Level& level : levels_)
      if (level.fd >= 0) close(level.fd);
  }
  FolderTrail(const FolderTrail&) = delete;
  FolderTrail& operator=(const FolderTrail&) = delete;

  int current() const { return levels_.empty() ? base_ : levels_.back().fd; }
  const std::string& path() const { return path_; }
  // The current folder's name in its parent.
  const std::string& name() const { return levels_.back().name; }
  // The path of the entry `name` of the current folder, for log lines.
  std::string PathOf(const std::string& name) const { return path_.empty() ? name : path_ + "/" + name; }

  // Opens the folder `name` of the current folder, never through a link, and makes it current;
  // `st` gets its status. 0, or -1 with errno set and the trail unchanged.
  int Enter(const std::string& name, struct stat* st) {
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

  // Closes the current folder and makes its parent current again, reopening the parent when the
  // budget had closed it. 0, or -1 with errno set when the parent cannot be reopened or is no longer
  // the folder the walk came through (ESTALE); the trail is then of no further use.
  int Leave() {
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

 private:
  struct Level {
    int fd;  // -1 once the budget closed it
    dev_t dev;
    ino_t ino;
    std::string name;
    size_t path_size;  // the length of path_ before this level
  };

  // Whether the open folder `fd` is the folder of `level`: false with errno set (ESTALE when it is
  // another folder).
  static bool IsLevel(int fd, const Level& level) {
    struct stat st;
    if (fstat(fd, &st) != 0) return false;
    if (st.st_dev == level.dev && st.st_ino == level.ino) return true;
    errno = ESTALE;
    return false;
  }
  int base_;
  std::string path_;
  std::vector<Level> levels_;
  size_t first_open_ = 0;  // levels before it are closed, the rest open
};

// Whether the entry of the listing is a folder: 1 yes, 0 no, -1 its status could not be read
// (errno set; ENOENT when it is gone). `type` gets its type code.
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

// --- removing -------------------------------------------------------------------------------------

// FSRemove's failures are details for DEBUG: its callers report them. errno is kept.
int RemoveFailed(const std::string& path) {
  const int err = errno;
  LOG_DEBUG(kLog, "FSRemove: failed to remove '%s': %s (%d)", path.c_str(), strerror(err), err);
  errno = err;
  return -3;
}

// Removes the folder `name` of `base` with everything in it (`base_path` names `base` in log lines;
// with AT_FDCWD `name` may be a whole path). A folder that cannot be opened is removed only if it
// is empty. With `ours` (a tree this layer made) a folder the owner may not change is made
// changeable first; a user's folders keep their bits. 0 (also when it is gone), or -3 at the first
// entry that cannot be removed, errno kept.
int RemoveFolderAt(int base, const std::string& name, const std::string& base_path, bool ours) {
  FolderTrail trail(base, base_path);
  std::vector<Listing> pending;
  // Enters the folder `child` of the current one and lists it: true, or false with nothing entered.
  auto descend = [&](const std::string& child) {
    struct stat st;
    if (trail.Enter(child, &st) != 0) return false;
    if (ours && (st.st_mode & S_IRWXU) != S_IRWXU)
      ChangeMode(trail.current(), (st.st_mode & 07777) | S_IRWXU);
    Listing listing;
    if (ReadListing(trail.current(), &listing) == 0) {
      pending.push_back(std::move(listing));
      return true;
    }
    const int err = errno;
    trail.Leave();  // the parent was open a moment ago: the budget keeps at least two levels
    errno = err;
    return false;
  };
  // The folder `child` of the current one, which could not be listed: it goes only if empty.
  auto remove_unlisted = [&](const std::string& child) {
    const int err = errno;
    LOG_DEBUG(kLog, "FSRemove: opendir(%s): %s (%d)", trail.PathOf(child).c_str(), strerror(err), err);
    if (UnlinkAt(trail.current(), child.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
      return RemoveFailed(trail.PathOf(child));
    return 0;
  };

  if (!descend(name)) return remove_unlisted(name);
  while (!pending.empty()) {
    Listing& listing = pending.back();
    if (listing.next == listing.entries.size()) {
      pending.pop_back();
      const std::string done = trail.name();
      const std::string done_path = trail.path();
      if (trail.Leave() != 0) return RemoveFailed(done_path);
      if (UnlinkAt(trail.current(), done.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
        return RemoveFailed(done_path);
      continue;
    }
    const auto entry = listing.entries[listing.next++];
    int type = FILE_TYPE_NONE;
    if (EntryType(trail.current(), entry, &type) != 0) {
      if (errno == ENOENT) continue;
      return RemoveFailed(trail.PathOf(entry.first));
    }
    if (type == FILE_TYPE_DIRECTORY) {
      // A folder swapped for a link since the listing cannot be entered, nor removed as a folder.
      if (!descend(entry.first) && remove_unlisted(entry.first) != 0) return -3;
    } else if (UnlinkAt(trail.current(), entry.first.c_str(), 0) != 0 && errno != ENOENT) {
      return RemoveFailed(trail.PathOf(entry.first));
    }
  }
  return 0;
}

// Removes the entry `name` of the folder `parent` whatever it is (a folder with everything in it,
// as RemoveFolderAt with `ours`; a link itself). 0 (also when nothing is there), or -3 with errno set.
int RemoveEntryAt(int parent, const std::string& name, const std::string& parent_path, bool ours) {
  struct stat st;
  if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? 0 : RemoveFailed(parent_path + "/" + name);
  if (S_ISDIR(st.st_mode)) return RemoveFolderAt(parent, name, parent_path, ours);
  if (UnlinkAt(parent, name.c_str(), 0) != 0 && errno != ENOENT)
    return RemoveFailed(parent_path + "/" + name);
  return 0;
}

// --- moving to another volume ---------------------------------------------------------------------
//
// rename() cannot cross volumes, so there a move is a copy, built under a temporary name beside the
// destination and renamed into place once complete; only then is the source removed. The
// destination thus appears only whole, and a move cut off at any point leaves the source whole.
// As for rename(), a folder replaces only a missing destination or an empty folder, and a file or
// link replaces anything but a folder: newer data waiting at the destination is never overwritten.
// The copy never follows a link: an entry swapped for a link during the walk stops the move.
//
// The move's own failures are logged at DEBUG only: FSRename's callers report them. The copy's
// lines keep FSCopy's texts and levels.

// What a move leaves in the destination's folder until it completes: "." + the destination's name
// (cut to fit the volume's name limit) + this. A leftover of a move that was cut off is removed by
// the next move to the same destination.
constexpr char kMoveSuffix[] = ".corvane-move";

// Logs a failed step of a move at DEBUG and keeps errno. -1.
int MoveFailed(const char* step, const std::string& path) {
  const int err = errno;
  LOG_DEBUG(kLog, "FSRename: %s(%s): %s (%d)", step, path.c_str(), strerror(err), err);
  errno = err;
  return -1;
}

// The same for the copy step of a file, under FSCopy's messages.
int CopyFailed(const char* step, const std::string& path) {
  const int err = errno;
  LOG_ERROR(kLog, "CopyFile: %s(%s): %s (%d)", step, path.c_str(), strerror(err), err);
  errno = err;
  return -1;
}

// Forces the entries of the open folder `fd` to disk, so that what was renamed or created in it
// outlasts a power cut before anything is removed elsewhere. 0, or -1 with errno set. A folder that
// cannot be synchronised this way is not a failure.
int SyncFolder(int fd) {
  return fsync(fd) == 0 || errno == EINVAL || errno == EROFS ? 0 : -1;
}

// The temporary name under which a move builds `name` in the same folder.
std::string MoveTempName(const std::string& name) {
  const size_t room = NAME_MAX - 1 - (sizeof(kMoveSuffix) - 1);
  size_t keep = std::min(name.size(), room);
  // Cut between characters, never inside a UTF-8 sequence.
  while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
  return "." + name.substr(0, keep) + kMoveSuffix;
}

// What a copy keeps besides the bytes and the permission bits, as a rename would: the access and
// modification times, the extended attributes (Finder tags and comments on a Mac), and which files
// of the moved tree are hard links of one another. What the destination volume cannot hold is
// lost with a WARNING; what cannot be read from the source fails the move.

// The access and modification times of a status, as futimens and utimensat take them.
void TimesOf(const struct stat& st, struct timespec times[2]) {
#ifdef __APPLE__
  times[0] = st.st_atimespec;
  times[1] = st.st_mtimespec;
#else
  times[0] = st.st_atim;
  times[1] = st.st_mtim;
#endif
}

// Gives the copy `to_path` the times of its source: through the open `fd`, or with -1 to the link
// `name` of the folder `dir` itself.
void KeepTimes(int fd, int dir, const std::string& name, const struct timespec times[2],
               const std::string& to_path) {
  if ((fd >= 0 ? futimens(fd, times) : utimensat(dir, name.c_str(), times, AT_SYMLINK_NOFOLLOW)) == 0) return;
  const int err = errno;
  LOG_WARNING(kLog, "FSRename: '%s' loses its times: %s (%d)", to_path.c_str(), strerror(err), err);
}

// Reads a list or a value whose size may change between asking and reading. The bytes, or -1.
template <typename Read>
int ReadSized(Read read, std::vector<char>* out) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t size = read(nullptr, 0);
    if (size < 0) return -1;
    out->resize(static_cast<size_t>(size));
    const ssize_t got = read(out->data(), out->size());
    if (got >= 0) {
      out->resize(static_cast<size_t>(got));
      return 0;
    }
    if (errno != ERANGE) return -1;
  }
  return -1;
}

// Whether a failed set says the destination volume cannot hold that attribute (rather than that
// it is full or failing).
bool VolumeRefusesAttribute(int err) {
  return err == ENOTSUP || err == EOPNOTSUPP || err == EPERM || err == EACCES || err == E2BIG ||
         err == ERANGE;
}

// Copies the extended attributes of the source (`from_fd`, or the link `from_path` with -1) to its
// copy (`to_fd`, or the link `to_path`). 0, or -1 with errno set.
int KeepAttributes(int from_fd, const std::string& from_path, int to_fd, const std::string& to_path) {
  std::vector<char> names, value;
  auto list = [&](char* buf, size_t size) { return ListAttributes(from_fd, from_path.c_str(), buf, size); };
  if (ReadSized(list, &names) != 0) {
    if (errno == ENOTSUP || errno == EOPNOTSUPP) return 0;  // the source volume keeps none
    return MoveFailed("listxattr", from_path);
  }
  for (size_t at = 0; at < names.size(); at += strlen(&names[at]) + 1) {
    const char* name = &names[at];
    auto get = [&](char* buf, size_t size) {
      return GetAttribute(from_fd, from_path.c_str(), name, buf, size);
    };
    if (ReadSized(get, &value) != 0) {
      if (errno == kNoAttribute) continue;  // removed meanwhile
      return MoveFailed("getxattr", from_path);
    }
    if (SetAttribute(to_fd, to_path.c_str(), name, value.data(), value.size()) == 0) continue;
    const int err = errno;
    if (!VolumeRefusesAttribute(err)) return MoveFailed("setxattr", to_path);
    LOG_WARNING(kLog, "FSRename: '%s' loses its extended attribute '%s': %s (%d)", to_path.c_str(), name,
                strerror(err), err);
  }
  return 0;
}

// The first copy made of each file that has other hard links, by device and inode, so that its
// later names in the moved tree become links of that copy again.
using HardLinks = std::map<std::pair<dev_t, ino_t>, std::string>;

// Copies the regular file `from` of the folder `from_dir` to a new file `to` of `to_dir` with the
// source's permission bits, whatever the umask, its times and extended attributes, and forces it to
// disk; a later name of a file already copied (`links`, when given) becomes a hard link of that
// copy. 0 or -1 (errno set).
int CopyFileAt(int from_dir, const std::string& from, const std::string& from_path, int to_dir,
               const std::string& to, const std::string& to_path, HardLinks* links = nullptr) {
  // O_NONBLOCK: an entry swapped for a pipe must not block the open; the type test then refuses it.
  Fd in(openat(from_dir, from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (in.get() < 0) return CopyFailed("open", from_path);
  struct stat st;
  if (fstat(in.get(), &st) != 0) return CopyFailed("fstat", from_path);
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return MoveFailed("copy", from_path);
  }
  const auto inode = std::make_pair(st.st_dev, st.st_ino);
  if (links != nullptr && st.st_nlink > 1) {
    const auto first = links->find(inode);
    if (first != links->end()) {
      FSBeforeChange();
      if (linkat(AT_FDCWD, first->second.c_str(), to_dir, to.c_str(), 0) == 0) return 0;
      // A volume without hard links gets a copy of its own.
    }
  }
  const mode_t bits = st.st_mode & 07777;
  const int out = CreateAt(to_dir, to.c_str(), O_WRONLY | O_EXCL | O_NOFOLLOW | O_CLOEXEC, bits);
  if (out < 0) return CopyFailed("open", to_path);
  if (ChangeMode(out, bits) != 0) {
    const int err = errno;
    LOG_WARNING(kLog, "CopyFile: fchmod(%s, %o): %s (%d)", to_path.c_str(), static_cast<unsigned>(bits),
                strerror(err), err);
  }
  int copied = CopyBytes(in.get(), out);
  if (copied == 0) copied = KeepAttributes(in.get(), from_path, out, to_path);
  const int err = errno;
  if (copied == 0) {
    struct timespec times[2];
    TimesOf(st, times);
    KeepTimes(out, -1, to, times, to_path);
  }
  const int finished = FinishCopy(out, to_path);
  if (copied != 0 || finished != 0) {
    errno = copied != 0 ? err : errno;
    return -1;
  }
  if (links != nullptr && st.st_nlink > 1) links->emplace(inode, to_path);
  return 0;
}

// Recreates the link `from` of `from_dir` as `to` of `to_dir`. 0 or -1 (errno set).
int CopyLinkAt(int from_dir, const std::string& from, const std::string& from_path, int to_dir,
               const std::string& to, const std::string& to_path) {
  char target[kPathRefMaxPath];
  const ssize_t n = readlinkat(from_dir, from.c_str(), target, sizeof(target));
  if (n >= static_cast<ssize_t>(sizeof(target))) errno = ENAMETOOLONG;
  if (n < 0 || n >= static_cast<ssize_t>(sizeof(target))) return MoveFailed("readlink", from_path);
  target[n] = '\0';
  if (SymlinkAt(target, to_dir, to.c_str()) != 0) return MoveFailed("symlink", to_path);
  struct stat st;
  if (fstatat(from_dir, from.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return MoveFailed("lstat", from_path);
  if (KeepAttributes(-1, from_path, -1, to_path) != 0) return -1;
  struct timespec times[2];
  TimesOf(st, times);
  KeepTimes(-1, to_dir, to, times, to_path);
  return 0;
}

// Whether this process may remove entries of the open folder `fd`, named `path`. A move checks its
// source's folders before it copies anything, so that a move which could not remove its source
// afterwards is refused while the source is whole and no copy stands. 0, or -1 with errno set.
int MayEmpty(int fd, const std::string& path) {
  return faccessat(fd, ".", W_OK | X_OK, AT_EACCESS) == 0 ? 0 : MoveFailed("access", path);
}

// Copies the folder tree `from` of `from_dir` (named `from_path`) to a new folder `to` of `to_dir`
// (named `to_path`), which must not exist: every folder, file and link with its permission bits,
// times and extended attributes, hard links between its files kept, all forced to disk; named
// pipes and sockets are left out with a WARNING. Refuses a tree holding a device, a tree holding its
// own copy, and a folder this process could not empty afterwards.
// 0, or -1 with errno set (a partial copy stays; the source is untouched).
int CopyFolderAt(int from_dir, const std::string& from, const std::string& from_path, int to_dir,
                 const std::string& to, const std::string& to_path) {
  FolderTrail source(from_dir, from_path), copy(to_dir, to_path);
  std::vector<Listing> pending;
  HardLinks links;
  struct stat top = {};
  // Enters the source folder `name`, makes and enters its copy, and lists the source. 0 or -1.
  auto descend = [&](const std::string& name) {
    struct stat st, made;
    if (source.Enter(name, &st) != 0) return MoveFailed("opendir", source.PathOf(name));
    if (!pending.empty() && st.st_dev == top.st_dev && st.st_ino == top.st_ino) {
      errno = EINVAL;  // as rename() says of a folder moved into itself
      return MoveFailed("copy", source.path());
    }
    Listing listing;
    listing.mode = st.st_mode;
    TimesOf(st, listing.times);
    if (MayEmpty(source.current(), source.path()) != 0) return -1;
    if (ReadListing(source.current(), &listing) != 0) return MoveFailed("readdir", source.path());
    const std::string& made_name = pending.empty() ? to : name;
    if (MkdirAt(copy.current(), made_name.c_str(), 0700) != 0)
      return MoveFailed("mkdir", copy.PathOf(made_name));
    if (copy.Enter(made_name, &made) != 0) return MoveFailed("opendir", copy.PathOf(made_name));
    if (KeepAttributes(source.current(), source.path(), copy.current(), copy.path()) != 0) return -1;
    if (pending.empty()) top = made;
    pending.push_back(std::move(listing));
    return 0;
  };

  if (descend(from) != 0) return -1;
  while (!pending.empty()) {
    Listing& listing = pending.back();
    if (listing.next == listing.entries.size()) {
      // Filled: now it may take the source's bits (a read-only folder could not have been filled).
      if (ChangeMode(copy.current(), listing.mode & 07777) != 0) return MoveFailed("chmod", copy.path());
      KeepTimes(copy.current(), -1, "", listing.times, copy.path());  // after the content changed it
      if (SyncFolder(copy.current()) != 0) return MoveFailed("fsync", copy.path());
      pending.pop_back();
      if (source.Leave() != 0) return MoveFailed("opendir", source.path() + "/..");
      if (copy.Leave() != 0) return MoveFailed("opendir", copy.path() + "/..");
      continue;
    }
    const auto entry = listing.entries[listing.next++];
    const std::string& name = entry.first;
    int type = FILE_TYPE_NONE;
    if (EntryType(source.current(), entry, &type) != 0) return MoveFailed("lstat", source.PathOf(name));
    int copied = -1;
    switch (type) {
      case FILE_TYPE_DIRECTORY:
        copied = descend(name);
        break;
      case FILE_TYPE_REGULAR:
        copied = CopyFileAt(source.current(), name, source.PathOf(name), copy.current(), name,
                            copy.PathOf(name), &links);
        break;
      case FILE_TYPE_SYMLINK:
        copied =
            CopyLinkAt(source.current(), name, source.PathOf(name), copy.current(), name, copy.PathOf(name));
        break;
      case FILE_TYPE_FIFO:
      case FILE_TYPE_SOCKET:
        // They hold no data; the source's go with it.
        LOG_WARNING(kLog, "FSRename: '%s' is left out: a %s holds no data", source.PathOf(name).c_str(),
                    type == FILE_TYPE_FIFO ? "named pipe" : "socket");
        copied = 0;
        break;
      default:
        errno = EXDEV;  // devices cannot cross volumes
        copied = MoveFailed("copy", source.PathOf(name));
    }
    if (copied != 0) return -1;
  }
  return 0;
}

// The folder that holds `path`, opened (links on the way are followed, as rename follows them); the
// entry's name in it, and the folder's path. The descriptor, or -1 with errno set (EINVAL when the
// last component names no entry of its own: "." or "..").
int OpenParentOf(const std::string& path, std::string* name, std::string* parent) {
  const size_t slash = path.rfind('/');
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
  *parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  if (name->empty() || *name == "." || *name == "..") {
    errno = EINVAL;
    return -1;
  }
  return open(parent->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// rename()'s rule for the destination `name` of `dir`, checked before anything is copied: a folder
// takes the place only of nothing or of an empty folder, anything else only of what is not a
// folder. 0, or -1 with errno as rename() would set it (also when the destination cannot be read).
int CheckDestination(int dir, const std::string& name, bool folder) {
  struct stat st;
  if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT ? 0 : -1;
  if (!folder) {
    if (!S_ISDIR(st.st_mode)) return 0;
    errno = EISDIR;
    return -1;
  }
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return -1;
  }
  Fd fd(openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  Listing listing;
  if (fd.get() < 0 || ReadListing(fd.get(), &listing) != 0) return -1;
  if (listing.entries.empty()) return 0;
  errno = ENOTEMPTY;
  return -1;
}

// What a move to another volume takes, found before anything is copied: the room its copy fills
// and the first entry that would stop it.
struct MoveSurvey {
  unsigned long long bytes = 0;  // blocks held by its files and folders (a file with holes: its data)
  std::set<std::pair<dev_t, ino_t>> linked;  // files with other hard links, counted once
  std::string blocked;                       // the entry that would stop the move, when the survey fails
};

// Adds the room the entry of status `st` takes to `survey`.
void CountRoom(const struct stat& st, MoveSurvey* survey) {
  if (st.st_nlink > 1 && !S_ISDIR(st.st_mode) && !survey->linked.emplace(st.st_dev, st.st_ino).second) return;
  survey->bytes += static_cast<unsigned long long>(st.st_blocks) * 512;
}

// Walks the entry `name` of the open folder `dir` (named `dir_path`) as a move to another volume would
// copy it, changing nothing: counts the room its copy takes, and stops at the first entry the move
// would fail on: a folder it could not list or empty afterwards, a file it could not read, a device.
// 0, or -1 with errno set and `survey->blocked` naming the entry.
int SurveyEntryAt(int dir, const std::string& name, const std::string& dir_path, MoveSurvey* survey) {
  FolderTrail trail(dir, dir_path);
  std::vector<Listing> pending;
  auto blocked = [&](const std::string& path) {
    survey->blocked = path;
    return -1;
  };
  // Counts the entry `child` of the current folder, entering it when it is a folder. 0 or -1.
  auto visit = [&](const std::string& child) {
    struct stat st;
    if (fstatat(trail.current(), child.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      return errno == ENOENT && !pending.empty() ? 0 : blocked(trail.PathOf(child));
    CountRoom(st, survey);
    if (S_ISREG(st.st_mode))
      return faccessat(trail.current(), child.c_str(), R_OK, AT_EACCESS) == 0 ? 0
                                                                              : blocked(trail.PathOf(child));
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
      errno = EXDEV;  // devices cannot cross volumes
      return blocked(trail.PathOf(child));
    }
    if (!S_ISDIR(st.st_mode)) return 0;
    Listing listing;
    if (trail.Enter(child, &st) != 0) return blocked(trail.PathOf(child));
    if (faccessat(trail.current(), ".", W_OK | X_OK, AT_EACCESS) != 0 ||
        ReadListing(trail.current(), &listing) != 0)
      return blocked(trail.path());
    pending.push_back(std::move(listing));
    return 0;
  };

  if (visit(name) != 0) return -1;
  while (!pending.empty()) {
    Listing& listing = pending.back();
    if (listing.next < listing.entries.size()) {
      if (visit(listing.entries[listing.next++].first) != 0) return -1;
      continue;
    }
    pending.pop_back();
    if (trail.Leave() != 0) return blocked(trail.path());
  }
  return 0;
}

// Whether the volume of the open folder `dir` has room for `bytes`, with some to spare for what a
// copy adds (folder blocks, attributes). True when it cannot be told; false with errno ENOSPC.
bool HasRoomFor(int dir, unsigned long long bytes) {
  struct statvfs vfs;
  if (fstatvfs(dir, &vfs) != 0) return true;
  const unsigned long long room = static_cast<unsigned long long>(vfs.f_bavail) * vfs.f_frsize;
  if (bytes + bytes / 32 + (64ULL << 10) <= room) return true;
  errno = ENOSPC;
  return false;
}

// Whether the entry `name` of the open folder `from` (named `from_path`) can be copied into the
// open folder `to` on another volume: SurveyEntryAt, then room for it there. 0, or -1 with errno set
// and `*blocked` naming the entry in the way, or `dst` when room is short.
int CheckCopyAcross(int from, const std::string& name, const std::string& from_path, int to,
                    const std::string& dst, std::string* blocked) {
  MoveSurvey survey;
  if (SurveyEntryAt(from, name, from_path, &survey) != 0) {
    *blocked = survey.blocked;
    return -1;
  }
  if (HasRoomFor(to, survey.bytes)) return 0;
  *blocked = dst;
  return -1;
}

// Builds at `to` of `to_dir` a copy of the entry `from` of `from_dir`, of the type code `type`
// (the folders' paths name them in log lines). 0, or -1 with errno set.
int CopyEntryAt(int type, int from_dir, const std::string& from, const std::string& from_dir_path, int to_dir,
                const std::string& to, const std::string& to_dir_path) {
  const std::string from_path = from_dir_path + "/" + from, to_path = to_dir_path + "/" + to;
  switch (type) {
    case FILE_TYPE_DIRECTORY:
      return CopyFolderAt(from_dir, from, from_dir_path, to_dir, to, to_dir_path);
    case FILE_TYPE_REGULAR:
      return CopyFileAt(from_dir, from, from_path, to_dir, to, to_path);
    default:
      return CopyLinkAt(from_dir, from, from_path, to_dir, to, to_path);
  }
}

// The move of FSRename once rename() has said EXDEV: `st` is the source's own status. A folder's
// destination gets its missing parent folders. 0, or -1 with errno set (the source whole unless
// only its removal failed, with the copy complete in place).
int MoveToOtherVolume(const std::string& src, const std::string& dst, const struct stat& st) {
  const int type = TypeOfMode(st.st_mode);
  if (type != FILE_TYPE_DIRECTORY && type != FILE_TYPE_REGULAR && type != FILE_TYPE_SYMLINK) {
    errno = EXDEV;  // devices, pipes and sockets cannot cross volumes
    return MoveFailed("rename", src);
  }
  std::string src_name, src_dir, dst_name, dst_dir;
  Fd from(OpenParentOf(src, &src_name, &src_dir));
  if (from.get() < 0) return MoveFailed("open parent", src);
  Fd to(OpenParentOf(dst, &dst_name, &dst_dir));
  if (to.get() < 0 && errno == ENOENT && type == FILE_TYPE_DIRECTORY) {
    if (FSMKDirP(dst_dir, nullptr, false, kModeFromUmask) != 0) return MoveFailed("mkdir", dst_dir);
    to.reset(OpenParentOf(dst, &dst_name, &dst_dir));
  }
  if (to.get() < 0) return MoveFailed("open parent", dst);
  if (CheckDestination(to.get(), dst_name, type == FILE_TYPE_DIRECTORY) != 0)
    return MoveFailed("rename", dst);
  if (MayEmpty(from.get(), src_dir) != 0) return -1;
  // A move that cannot finish is refused before it fills the other volume or copies half a tree.
  std::string blocked;
  if (CheckCopyAcross(from.get(), src_name, src_dir, to.get(), dst, &blocked) != 0)
    return MoveFailed("copy", blocked);

  const std::string temp = MoveTempName(dst_name);
  if (RemoveEntryAt(to.get(), temp, dst_dir, true) != 0) return -1;  // a move cut off before
  int built = CopyEntryAt(type, from.get(), src_name, src_dir, to.get(), temp, dst_dir);
  if (built == 0 && RenameAt(to.get(), temp.c_str(), to.get(), dst_name.c_str()) != 0)
    built = MoveFailed("rename", dst_dir + "/" + temp);
  if (built != 0) {
    const int err = errno;
    RemoveEntryAt(to.get(), temp, dst_dir, true);
    errno = err;
    return -1;
  }
  // The source goes only once its copy is in place for good.
  if (SyncFolder(to.get()) != 0) return MoveFailed("fsync", dst_dir);
  const int removed = type == FILE_TYPE_DIRECTORY ? RemoveFolderAt(from.get(), src_name, src_dir, false)
                                                  : UnlinkAt(from.get(), src_name.c_str(), 0);
  if (removed != 0) return MoveFailed("remove", src);
  return 0;
}

}  // namespace

int GetFileInfo(const ustring& path, _FILE_INFO_tag& info) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return -1;
    info.exists = false;
    info.mtime = 0;
    info.name = FSBaseName(path);
    info.path = path;
    info.size = 0;
    info.type = FILE_TYPE_NONE;
    info.uid = 0;
    info.gid = 0;
    info.mode = 0;
    info.dev = 0;
    return 0;
  }
  info.exists = true;
  info.mtime = static_cast<int32_t>(st.st_mtime);
  info.name = FSBaseName(path);
  info.path = path;
  info.size = static_cast<int64_t>(st.st_size);
  info.uid = st.st_uid;
  info.gid = st.st_gid;
  info.mode = st.st_mode;
  info.dev = static_cast<int64_t>(st.st_dev);
  int type = TypeOfMode(st.st_mode);
  if (type < 0) return -1;
  info.type = type;

  LOG_DEBUG(kLog, "Input file path = [%s].", path.c_str());
  std::string stored;
  if (StoredForm(path, &stored) != kPathRefOk) return -1;
  LOG_DEBUG(kLog, "FSRefMakePath outTargetPath path = [%s].", stored.c_str());
  if (stored != path.c_str()) {
    info.path = stored;
    info.name = FSBaseName(info.path);
  }
  return 0;
}

bool IsFileExist(const ustring& path, bool exact) {
  if (path.empty()) return false;
  int type = FILE_TYPE_NONE;
  if (StatusType(path.c_str(), &type) <= 0) return false;
  if (!exact) return true;
  std::string stored;
  return StoredForm(path, &stored) == kPathRefOk && SameUnderComposition(ustring(stored), path);
}

int FSStat(const ustring& path, _FILE_INFO_tag& info, bool exact) {
  if (path.empty()) return -1;
  // One resolution answers both questions: is it there under this spelling, and what is it.
  _FILE_INFO_tag found;
  if (GetFileInfo(path, found) != 0 || !found.exists || (exact && !SameUnderComposition(found.path, path))) {
    info.exists = false;
    return 0;
  }
  info = found;
  return 0;
}

bool operator==(const _FILE_INFO_tag& a, const _FILE_INFO_tag& b) {
  return a.exists == b.exists && a.size == b.size && a.mtime == b.mtime && a.type == b.type &&
         a.path == b.path && a.name == b.name;
}

bool operator!=(const _FILE_INFO_tag& a, const _FILE_INFO_tag& b) {
  return !(a == b);
}

bool FSTimeEqual(long a, long b) {
  return a == b;
}

int FSMKDir(const ustring& path, bool recursive) {
  if (path.empty()) return -1;
  int type = FILE_TYPE_NONE;
  int found = StatusType(path.c_str(), &type);
  if (found < 0) {
    LOG_ERROR(kLog, "FSMKDir: Failed to to file info '%s'", path.c_str());
    return -1;
  }
  if (found > 0) {
    if (type == FILE_TYPE_DIRECTORY) return 0;
    LOG_ERROR(kLog, "FSMKDir: Create a folder but local file system is not directory '%s' (%d)", path.c_str(),
              type);
    return -1;
  }
  if (recursive) {
    if (FSMKDirP(path, nullptr, false, kModeFromUmask) != 0) {
      int err = errno;
      LOG_ERROR(kLog, "path = %s errno : %s", path.c_str(), strerror(err));
      errno = err;
      return -2;
    }
    return 0;
  }
  FSBeforeChange();
  if (mkdir(path.c_str(), 0777) != 0) {
    int err = errno;
    struct stat st;
    if (err == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 0;  // lost a race
    LOG_ERROR(kLog, "path = %s errno : %s", path.c_str(), strerror(err));
    errno = err;
    return -2;
  }
  return 0;
}

int FSMKDirP(const ustring& path, char** stop_pos, bool replace, unsigned short mode) {
  if (path.empty()) {
    errno = EINVAL;
    return -1;
  }
  // An explicit mode is set with chmod after mkdir rather than by clearing the umask, which would
  // affect every thread of the process.
  const bool exact_mode = mode != kModeFromUmask;
  const mode_t bits = exact_mode ? (mode & 07777) : 0777;
  std::string prefix(path.c_str());
  size_t start = prefix[0] == '/' ? 1 : 0;
  size_t stop = prefix.size();
  int result = 0;
  int err = 0;
  while (true) {
    const size_t slash = prefix.find('/', start);
    const bool last = slash == std::string::npos || slash + 1 == prefix.size();
    stop = slash == std::string::npos ? prefix.size() : slash;
    if (slash != std::string::npos) prefix[slash] = '\0';
    const char* current = prefix.c_str();

    struct stat st;
    bool create = true;
    if (stat(current, &st) == 0) {
      if (S_ISDIR(st.st_mode)) {
        create = false;
      } else if (replace) {
        FSBeforeChange();
        remove(current);
      } else if (last) {
        err = EEXIST;
        LOG_INFO(kLog, "FSMKDirP: path: %s is existing file or symbolic link pointed to file", current);
        result = -1;
        break;
      } else {
        LOG_INFO(kLog, "FSMKDirP: path: %s is symbolic link pointed to folder", current);
        create = false;
      }
    }
    if (create) {
      FSBeforeChange();
      if (mkdir(current, bits) != 0) {
        err = errno;
        if (!(err == EEXIST && stat(current, &st) == 0 && S_ISDIR(st.st_mode))) {
          result = -1;
          break;
        }
      } else if (exact_mode && chmod(current, bits) != 0) {
        err = errno;
        result = -1;
        break;
      }
    }
    if (last) break;
    prefix[slash] = '/';
    start = slash + 1;
  }
  if (stop_pos != nullptr) *stop_pos = const_cast<char*>(path.c_str()) + stop;
  if (result != 0) errno = err;
  return result;
}

int FSMKDirFromRoot(const ustring& target, const ustring& root) {
  if (root.length() > target.length()) {
    LOG_ERROR(kLog, "Giving a root '%s' whose length is larger then target's '%s'.", root.c_str(),
              target.c_str());
    return -1;
  }
  if (!FSIsParentFolder(root, target)) {
    LOG_ERROR(kLog, "root '%s' is not a parent folder of target '%s'", root.c_str(), target.c_str());
    return -1;
  }
  const ustring rel = target.substr(root.length());
  ustring current;
  while (current != rel) {
    size_t separator = rel.find('/', current.length() + 1);
    current = separator == ustring::npos ? rel : rel.substr(0, separator);
    LOG_DEBUG(kLog, "FSMKDirFromRoot: create %s", current.c_str());
    if (FSMKDir(root + current, false) < 0) return -1;
  }
  return 0;
}

int FSOpenDir(const ustring& path, int flags, DIR_HANDLE& handle) {
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) {
    int err = errno;
    LOG_ERROR(kLog, "FSOpenDir: Failed to open directory '%s'. %s", path.c_str(), strerror(err));
    errno = err;
    return -1;
  }
  handle.dir = dir;
  handle.path = path;
  handle.flags = flags;
  return 0;
}

int FSReadDir(DIR_HANDLE& handle, DIR_ENTRY& entry) {
  if (handle.dir == nullptr) return 0;
  struct dirent* next = readdir(handle.dir);
  if (next == nullptr) return 0;
  entry.mtime = 0;
  entry.size = 0;
  if (handle.flags & DIR_FLAG_STAT) {
    // The name comes from the folder itself, so the entry's own status is the right one, however
    // the folder's path was written.
    const ustring full = handle.path + "/" + next->d_name;
    struct stat st;
    if (lstat(full.c_str(), &st) == 0) {
      entry.mtime = static_cast<int32_t>(st.st_mtime);
      entry.size = static_cast<int64_t>(st.st_size);
    } else if (errno != ENOENT) {
      LOG_ERROR(kLog, "FSOpenDir: Failed to get info for '%s'", full.c_str());
      return -1;
    }
  }
  entry.name = next->d_name;
  entry.type = TypeOfDirEntry(next->d_type);
  return 1;
}

int FSCloseDir(DIR_HANDLE& handle) {
  int result = closedir(handle.dir);
  handle.dir = nullptr;
  handle.path.clear();
  return result;
}

FSFullSyncCall FSSetFullSync(FSFullSyncCall call) {
  return full_sync.exchange(call);
}

int FSCopy(const ustring& src, const ustring& dst, bool remove_src, bool keep_mode) {
  return CopyFile(src, dst, remove_src, keep_mode);
}

int FSRename(const ustring& src, const ustring& dst, bool exact) {
  if (src.empty() || dst.empty()) return -1;
  const std::string from = WithoutTrailingSeparators(src);
  struct stat st;
  if (lstat(from.c_str(), &st) != 0 || TypeOfMode(st.st_mode) < 0) return -2;
  if (exact && !IsFileExist(src, true)) return -2;
  FSBeforeChange();
  if (rename(from.c_str(), dst.c_str()) == 0) return 0;
  const int err = errno;
  if (err != EXDEV) {
    LOG_DEBUG(kLog, "FSRename: rename(%s, %s): %s (%d)", from.c_str(), dst.c_str(), strerror(err), err);
    errno = err;
    return err == ENAMETOOLONG ? -100 : -3;
  }
  // A trailing separator on the destination asks for a folder, as rename() takes it.
  const std::string to = WithoutTrailingSeparators(dst);
  if (to.size() != dst.length() && !S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    MoveFailed("rename", dst.c_str());
    return -3;
  }
  if (MoveToOtherVolume(from, to, st) == 0) return 0;
  return errno == ENAMETOOLONG ? -100 : -3;
}

int FSCheckMove(const ustring& src, const ustring& dst, ustring& blocked) {
  const std::string from = WithoutTrailingSeparators(src), to = WithoutTrailingSeparators(dst);
  auto fail = [&](const std::string& path) {
    blocked = ustring(path.c_str());
    return -1;
  };
  std::string src_name, src_dir, dst_name, dst_dir;
  struct stat st, from_st, to_st;
  if (from.empty() || to.empty() || lstat(from.c_str(), &st) != 0) return fail(from);
  Fd from_dir(OpenParentOf(from, &src_name, &src_dir));
  if (from_dir.get() < 0 || fstat(from_dir.get(), &from_st) != 0) return fail(src_dir);
  Fd to_dir(OpenParentOf(to, &dst_name, &dst_dir));
  if (to_dir.get() < 0 || fstat(to_dir.get(), &to_st) != 0) return fail(dst_dir);
  if (CheckDestination(to_dir.get(), dst_name, S_ISDIR(st.st_mode)) != 0) return fail(to);
  if (faccessat(from_dir.get(), ".", W_OK | X_OK, AT_EACCESS) != 0) return fail(src_dir);
  if (faccessat(to_dir.get(), ".", W_OK | X_OK, AT_EACCESS) != 0) return fail(dst_dir);
  if (st.st_dev == to_st.st_dev) {
    // A folder that changes folders has its ".." rewritten, which needs write permission on it.
    const bool new_parent = from_st.st_ino != to_st.st_ino;
    if (S_ISDIR(st.st_mode) && new_parent &&
        faccessat(from_dir.get(), src_name.c_str(), W_OK, AT_EACCESS) != 0)
      return fail(from);
    return 0;
  }
  std::string in_the_way;
  return CheckCopyAcross(from_dir.get(), src_name, src_dir, to_dir.get(), to, &in_the_way) == 0
             ? 0
             : fail(in_the_way);
}

int FSRemove(const ustring& path, bool) {
  if (path.empty()) return -1;
  const std::string top = WithoutTrailingSeparators(path);
  int type = FILE_TYPE_NONE;
  int found = StatusType(top.c_str(), &type);
  if (found < 0) {
    int err = errno;
    LOG_DEBUG(kLog, "FSRemove: Failed to get info for '%s': %s (%d)", top.c_str(), strerror(err), err);
    errno = err;
    return -1;
  }
  if (found == 0) return 0;
  if (type == FILE_TYPE_DIRECTORY) return RemoveFolderAt(AT_FDCWD, top, "", false);
  FSBeforeChange();
  if (unlink(top.c_str()) != 0 && errno != ENOENT) return RemoveFailed(top);
  return 0;
}

int FSUTime(const ustring& path, long atime, long mtime) {
  struct timeval times[2] = {{atime, 0}, {mtime, 0}};
  FSBeforeChange();
  return lutimes(path.c_str(), times) == 0 ? 0 : -1;
}

int FSChown(const ustring& path, unsigned int uid, unsigned int gid) {
  FSBeforeChange();
  if (lchown(path.c_str(), uid, gid) != 0) {
    int err = errno;
    LOG_ERROR(kLog, "FSChown: Failed to chown '%s' (code: %d, msg: %s)", path.c_str(), err, strerror(err));
    return -1;
  }
  return 0;
}

int FSCreateSymbolicLink(const ustring& target, const ustring& link) {
  FSBeforeChange();
  if (symlink(target.c_str(), link.c_str()) != 0) {
    int err = errno;
    LOG_ERROR(kLog, "FSCreateSymbolicLink: Failed to create symbolic link '%s' -> '%s' (code: %d, msg: %s)",
              target.c_str(), link.c_str(), err, strerror(err));
    return -1;
  }
  return 0;
}

int FSReadSymbolicLink(const ustring& link, ustring& target) {
  char buffer[kLinkBufferSize] = {};
  ssize_t n = readlink(link.c_str(), buffer, sizeof(buffer));
  if (n < 0) {
    int err = errno;
    LOG_ERROR(kLog, "FSReadSymbolicLink: Failed to read symbolic link '%s' (code: %d, msg: %s)", link.c_str(),
              err, strerror(err));
    return -1;
  }
  if (static_cast<size_t>(n) >= sizeof(buffer)) {
    LOG_ERROR(kLog, "FSReadSymbolicLink: path of '%s' is more than %d", link.c_str(),
              static_cast<int>(kLinkBufferSize));
    return -1;
  }
  buffer[n] = '\0';
  target = buffer;
  return 0;
}

int FSMktemp(const ustring& dir, ustring& path) {
  char name[kTempTemplateSize];
  snprintf(name, sizeof(name), "%s/XXXXXX", dir.c_str());
  const std::string templ(name);  // mkstemp overwrites the X's even when it fails
  // Closed on exec: a program started on another thread meanwhile must not inherit it.
  FSBeforeChange();
  int fd = mkostemp(name, O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    LOG_ERROR(kLog, "mkstemp(%s): %s", templ.c_str(), strerror(err));
    return -1;
  }
  close(fd);
  path = name;
  chmod(name, 0644);
  return 0;
}

int FSCreateTempPath(const ustring& dir, ustring& path) {
  path = TmpNameGen::getInstance()->getTmpPath(dir.c_str());
  return path.empty() ? -1 : 0;
}

ustring FSParentPath(const ustring& path) {
  size_t separator = path.rfind('/');
  if (separator == ustring::npos || separator == 0) return ustring("/");
  return path.substr(0, separator);
}

ustring FSBaseName(const ustring& path) {
  size_t separator = path.rfind('/');
  if (separator == ustring::npos) return path;
  if (separator + 1 < path.length()) return path.substr(separator + 1);
  return ustring();
}

bool FSIsParentFolder(const ustring& parent, const ustring& path) {
  const size_t n = parent.length();
  if (path.length() < n) return false;
  if (path[n] != '\0' && path[n] != '/') return false;
  return path.compare(parent, n) == 0;
}

int FSGetRealPath(ustring& path) {
  LOG_DEBUG(kLog, " org path [%s]", path.c_str());
  std::string stored;
  if (PathRefMakeStoredPath(path.c_str(), true, &stored) != kPathRefOk) return -1;
  path = stored;
  LOG_DEBUG(kLog, " get full path [%s]", path.c_str());
  return 0;
}

bool isFileLocked(const ustring& path, int mode) {
  return access(path.c_str(), mode) != 0 && (errno == EACCES || errno == EPERM);
}

bool hasFilePermission(const ustring& path, int mode) {
  return access(path.c_str(), mode) == 0 || (errno != EACCES && errno != EPERM);
}

bool isMountPoint(const ustring& path) {
  std::string type;
  if (PathRefVolumeType(path.c_str(), &type) != 0) {
    LOG_ERROR(kLog, "isMountPoint: Failed to get file system info '%s'. %s", path.c_str(), strerror(errno));
    return false;
  }
  return type == "nfs" || type == "smbfs" || type == "afpfs";
}

bool IsMSDOS(const ustring& path) {
  std::string type;
  if (PathRefVolumeType(path.c_str(), &type) != 0) {
    LOG_ERROR(kLog, "IsSupportLargeFile: Failed to get file system info '%s'. %s", path.c_str(),
              strerror(errno));
    return false;
  }
  if (type != "msdos") return false;
  LOG_WARNING(kLog, "Detect a MSDOS platform for path '%s'.", path.c_str());
  return true;
}

void FSSetChangeHook(std::function<void()> hook) {
  ChangeHook() = std::move(hook);
}

void FSBeforeChange() {
  if (ChangeHook()) ChangeHook()();
}

int FSSyncDescriptor(int fd) {
  if (SyncToDrive(fd) != 0 && errno != EINVAL && errno != EROFS && errno != ENOTSUP) return -1;
  FSAfterSync(fd, FSSyncScope::kEntry);
  return 0;
}

namespace {

std::function<void(int, FSSyncScope)>& SyncHook() {
  static std::function<void(int, FSSyncScope)> hook;
  return hook;
}

}  // namespace

void FSSetSyncHook(std::function<void(int fd, FSSyncScope scope)> hook) {
  SyncHook() = std::move(hook);
}

void FSAfterSync(int fd, FSSyncScope scope) {
  if (SyncHook()) SyncHook()(fd, scope);
}
