#include "file-op.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "log.h"
#include "path-ref.h"
#include "tmp_name_gen.h"

namespace {

constexpr char kLog[] = "file_op_debug";
constexpr size_t kCopyBufferSize = 8192;
constexpr size_t kLinkBufferSize = 1024;
constexpr size_t kTempTemplateSize = 4096;
constexpr unsigned short kModeFromUmask = 0xFFFF;

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

// Streams the bytes of `in` to `out`: 0, or -1/-2 (logged).
int CopyBytes(int in, int out) {
  char* buffer = static_cast<char*>(malloc(kCopyBufferSize));
  if (buffer == nullptr) {
    int err = errno;
    LOG_ERROR(kLog, "FSCopy: malloc(%d): %s (%d)", static_cast<int>(kCopyBufferSize), strerror(err), err);
    return -1;
  }
  int result = 0;
  while (result == 0) {
    ssize_t got = read(in, buffer, kCopyBufferSize);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      LOG_ERROR(kLog, "CopyFile: read: %s (%d)", strerror(err), err);
      result = -1;
      break;
    }
    for (const char* p = buffer; got > 0;) {
      ssize_t put = write(out, p, static_cast<size_t>(got));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        int err = put == 0 ? EIO : errno;
        LOG_ERROR(kLog, "CopyFile: write: %s (%d)", strerror(err), err);
        result = FullOrQuotaCode(err);
        break;
      }
      p += put;
      got -= put;
    }
  }
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

// --- moving to another volume ---------------------------------------------------------------------
//
// rename() cannot cross volumes, so there a move is a copy: folders are recreated and filled, files
// copied, links recreated, and each source entry removed once its copy is complete. Every step
// works relative to open folder descriptors and never follows a link in the last component: an
// entry swapped for a link during the walk makes the move fail instead of being followed, and a
// link waiting in the destination is replaced (where a file or link goes, as rename replaces it)
// or refused (where a folder goes), never written through.
//
// The move's own failures are logged at DEBUG only: FSRename's callers report them. The copy's
// lines keep FSCopy's texts and levels.

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

 private:
  int fd_;
};

// One side of a move: the open folder that holds the entry, its name there, and its whole path
// (for log lines only).
struct Place {
  int folder;
  std::string name;
  std::string path;

  // The entry `child` of this place, which is a folder open as `own_fd`.
  Place Inside(int own_fd, const char* child) const { return {own_fd, child, path + "/" + child}; }
};

// Logs a failed step of a move at DEBUG, keeps errno, and gives the move's result -3.
int MoveFailed(const char* step, const std::string& path) {
  int err = errno;
  LOG_DEBUG(kLog, "FSRename: %s(%s): %s (%d)", step, path.c_str(), strerror(err), err);
  errno = err;
  return -3;
}

// The same for the copy step of a file, under FSCopy's messages.
int CopyFailed(const char* step, const std::string& path) {
  int err = errno;
  LOG_ERROR(kLog, "CopyFile: %s(%s): %s (%d)", step, path.c_str(), strerror(err), err);
  errno = err;
  return -3;
}

int MoveAcrossVolumes(const Place& from, const Place& to, int type);

// Removes the file or link at `to`, so that a moved file or link can take its name. A folder stays
// (EISDIR). 0, or -1 with errno set.
int MakeRoomAt(const Place& to) {
  struct stat st;
  if (fstatat(to.folder, to.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return -1;
  }
  return unlinkat(to.folder, to.name.c_str(), 0);
}

// The folder `to` created (0777 less the umask) or, when it exists, the folder itself (never a
// link to one) opened. Its descriptor, or -1 with errno set.
int OpenDestinationFolder(const Place& to) {
  if (mkdirat(to.folder, to.name.c_str(), 0777) != 0 && errno != EEXIST) return -1;
  return openat(to.folder, to.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Moves every entry of the folder `from`, open as `dir`, into the folder `to`, open as `to_fd`.
// The two lie on different volumes, so no entry can simply be renamed. 0, or -3 at the first entry
// that cannot be moved.
int MoveFolderContents(DIR* dir, const Place& from, int to_fd, const Place& to) {
  while (true) {
    errno = 0;
    struct dirent* entry = readdir(dir);
    if (entry == nullptr) return errno == 0 ? 0 : MoveFailed("readdir", from.path);
    const char* name = entry->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    int type = TypeOfDirEntry(entry->d_type);
    if (entry->d_type == DT_UNKNOWN) {
      struct stat st;
      if (fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return MoveFailed("lstat", from.path + "/" + name);
      type = TypeOfMode(st.st_mode);
    }
    if (MoveAcrossVolumes(from.Inside(dirfd(dir), name), to.Inside(to_fd, name), type) != 0) return -3;
  }
}

// Moves the folder `from` to `to` (made, or an existing folder there filled), gives `to` the
// source's permission bits once it is filled (so that a read-only folder can be filled) and
// removes the empty source. 0 or -3.
int MoveFolderAt(const Place& from, const Place& to) {
  int src = openat(from.folder, from.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (src < 0) return MoveFailed("opendir", from.path);
  DIR* dir = fdopendir(src);
  if (dir == nullptr) {
    int err = errno;
    close(src);
    errno = err;
    return MoveFailed("opendir", from.path);
  }
  struct stat st;
  Fd dst(OpenDestinationFolder(to));
  int result = fstat(dirfd(dir), &st) != 0 ? MoveFailed("fstat", from.path)
               : dst.get() < 0             ? MoveFailed("mkdir", to.path)
                                           : MoveFolderContents(dir, from, dst.get(), to);
  int err = errno;
  closedir(dir);
  errno = err;
  if (result != 0) return result;
  if (fchmod(dst.get(), st.st_mode & 07777) != 0) MoveFailed("chmod", to.path);  // moved all the same
  if (unlinkat(from.folder, from.name.c_str(), AT_REMOVEDIR) != 0) return MoveFailed("remove", from.path);
  return 0;
}

// Copies the regular file `from` to a new file `to` with the source's permission bits, whatever
// the umask, then removes the source. 0 or -3 (a partial copy stays, the source too).
int MoveFileAt(const Place& from, const Place& to) {
  // O_NONBLOCK: an entry swapped for a pipe must not block the open; the type test then refuses it.
  Fd in(openat(from.folder, from.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (in.get() < 0) return CopyFailed("open", from.path);
  struct stat st;
  if (fstat(in.get(), &st) != 0) return CopyFailed("fstat", from.path);
  if (!S_ISREG(st.st_mode)) {
    LOG_DEBUG(kLog, "FSRename: '%s' is no longer a regular file", from.path.c_str());
    errno = EINVAL;
    return -3;
  }
  const mode_t bits = st.st_mode & 07777;
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int out = openat(to.folder, to.name.c_str(), flags, bits);
  if (out < 0 && errno == EEXIST && MakeRoomAt(to) == 0)
    out = openat(to.folder, to.name.c_str(), flags, bits);
  if (out < 0) return CopyFailed("open", to.path);
  if (fchmod(out, bits) != 0) {
    int err = errno;
    LOG_WARNING(kLog, "CopyFile: fchmod(%s, %o): %s (%d)", to.path.c_str(), static_cast<unsigned>(bits),
                strerror(err), err);
  }
  int result = CopyBytes(in.get(), out);
  int finished = FinishCopy(out, to.path);
  if (result != 0 || finished != 0) return -3;
  if (unlinkat(from.folder, from.name.c_str(), 0) != 0) return CopyFailed("remove", from.path);
  return 0;
}

// Recreates the link `from` at `to` (replacing a file or link there), then removes it. 0 or -3.
int MoveLinkAt(const Place& from, const Place& to) {
  char target[kPathRefMaxPath];
  ssize_t n = readlinkat(from.folder, from.name.c_str(), target, sizeof(target));
  if (n >= static_cast<ssize_t>(sizeof(target))) errno = ENAMETOOLONG;
  if (n < 0 || n >= static_cast<ssize_t>(sizeof(target))) return MoveFailed("readlink", from.path);
  target[n] = '\0';
  int made = symlinkat(target, to.folder, to.name.c_str());
  if (made != 0 && errno == EEXIST && MakeRoomAt(to) == 0)
    made = symlinkat(target, to.folder, to.name.c_str());
  if (made != 0) return MoveFailed("symlink", to.path);
  if (unlinkat(from.folder, from.name.c_str(), 0) != 0) return MoveFailed("remove", from.path);
  return 0;
}

// Moves the entry `from`, of the type code `type`, to `to` on another volume. Devices, pipes and
// sockets cannot move. 0 or -3.
int MoveAcrossVolumes(const Place& from, const Place& to, int type) {
  switch (type) {
    case FILE_TYPE_DIRECTORY:
      return MoveFolderAt(from, to);
    case FILE_TYPE_REGULAR:
      return MoveFileAt(from, to);
    case FILE_TYPE_SYMLINK:
      return MoveLinkAt(from, to);
    default:
      LOG_DEBUG(kLog, "FSRename: cannot move '%s' to another volume (type %d)", from.path.c_str(), type);
      errno = EXDEV;
      return -3;
  }
}

// The folder that holds `path`, opened (links on the way are followed, as rename follows them),
// and the entry's name in it. The descriptor, or -1 with errno set (EINVAL when the last component
// names no entry of its own: "." or "..").
int OpenParentOf(const std::string& path, std::string* name) {
  const size_t slash = path.rfind('/');
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name->empty() || *name == "." || *name == "..") {
    errno = EINVAL;
    return -1;
  }
  const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  return open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// The move of FSRename once rename() has said EXDEV. `st` is the source's own status. A folder's
// destination is made first with its missing parents. 0 or -3.
int MoveToOtherVolume(const std::string& src, const std::string& dst, const struct stat& st) {
  const int type = TypeOfMode(st.st_mode);
  if (type == FILE_TYPE_DIRECTORY && FSMKDir(dst, true) != 0) return -3;
  std::string src_name, dst_name;
  Fd src_parent(OpenParentOf(src, &src_name));
  if (src_parent.get() < 0) return MoveFailed("open parent", src);
  Fd dst_parent(OpenParentOf(dst, &dst_name));
  if (dst_parent.get() < 0) return MoveFailed("open parent", dst);
  return MoveAcrossVolumes({src_parent.get(), src_name, src}, {dst_parent.get(), dst_name, dst}, type);
}

// --- removing -------------------------------------------------------------------------------------

// FSRemove's failures are details for DEBUG: its callers report them. errno is kept.
void LogRemoveFailure(const std::string& path, int err) {
  LOG_DEBUG(kLog, "FSRemove: failed to remove '%s': %s (%d)", path.c_str(), strerror(err), err);
  errno = err;
}

// Removes everything in the open folder `fd` (which it takes over), named `path` in log lines.
// Works relative to the folder, so the walk neither follows links nor re-reads long paths.
// 0, or -3 at the first entry that cannot be removed.
int RemoveFolderContents(int fd, const std::string& path) {
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    const int err = errno;
    close(fd);
    LogRemoveFailure(path, err);
    return -3;
  }
  int result = 0;
  int err = 0;
  while (struct dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    bool folder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat st;
      if (fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) continue;
        err = errno;
        result = -3;
        LogRemoveFailure(path + "/" + name, err);
        break;
      }
      folder = S_ISDIR(st.st_mode);
    }
    if (folder) {
      const std::string child = path + "/" + name;
      int sub = openat(dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub >= 0) {
        if (RemoveFolderContents(sub, child) != 0) {
          err = errno;
          result = -3;
          break;
        }
      } else {
        // Try the folder itself all the same: it may be empty.
        int open_err = errno;
        LOG_DEBUG(kLog, "FSRemove: opendir(%s): %s (%d)", child.c_str(), strerror(open_err), open_err);
      }
      if (unlinkat(dirfd(dir), name, AT_REMOVEDIR) != 0 && errno != ENOENT) {
        err = errno;
        result = -3;
        LogRemoveFailure(child, err);
        break;
      }
    } else if (unlinkat(dirfd(dir), name, 0) != 0 && errno != ENOENT) {
      err = errno;
      result = -3;
      LogRemoveFailure(path + "/" + name, err);
      break;
    }
  }
  closedir(dir);
  if (result != 0) errno = err;
  return result;
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
    return MoveFailed("rename", dst.c_str());
  }
  return MoveToOtherVolume(from, to, st);
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
  if (type == FILE_TYPE_DIRECTORY) {
    int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      if (RemoveFolderContents(fd, top) != 0) return -3;
    } else {
      // Nothing inside can be listed; the folder goes only if it is empty.
      int err = errno;
      LOG_DEBUG(kLog, "FSRemove: opendir(%s): %s (%d)", top.c_str(), strerror(err), err);
    }
  }
  int removed = type == FILE_TYPE_DIRECTORY ? rmdir(top.c_str()) : unlink(top.c_str());
  if (removed != 0 && errno != ENOENT) {
    LogRemoveFailure(top, errno);
    return -3;
  }
  return 0;
}

int FSUTime(const ustring& path, long atime, long mtime) {
  struct timeval times[2] = {{atime, 0}, {mtime, 0}};
  return lutimes(path.c_str(), times) == 0 ? 0 : -1;
}

int FSChown(const ustring& path, unsigned int uid, unsigned int gid) {
  if (lchown(path.c_str(), uid, gid) != 0) {
    int err = errno;
    LOG_ERROR(kLog, "FSChown: Failed to chown '%s' (code: %d, msg: %s)", path.c_str(), err, strerror(err));
    return -1;
  }
  return 0;
}

int FSCreateSymbolicLink(const ustring& target, const ustring& link) {
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
  int fd = mkstemp(name);
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
