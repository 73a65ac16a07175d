#include "file-op.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

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

// Permission bits of a copy's destination.
enum class CopyMode {
  kDefault,        // 0666 less the umask
  kSource,         // the source's bits less the umask
  kSourceExactly,  // the source's bits, whatever the umask (a move)
};

// Closes the destination of a copy after forcing it to disk: 0, or -1/-2 (logged) when the data
// may not be there. A descriptor that cannot be synchronised (a device) is not a failure.
int FinishCopy(int out, const ustring& dst) {
  int result = 0;
  if (fsync(out) != 0 && errno != EINVAL && errno != EROFS) {
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

int CopyFile(const ustring& src, const ustring& dst, bool remove_src, CopyMode mode) {
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
  const mode_t bits = mode == CopyMode::kDefault ? 0666 : (src_st.st_mode & 07777);
  int out = open(dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, bits);
  if (out < 0) {
    int err = errno;
    LOG_ERROR(kLog, "CopyFile: open(%s): %s (%d)", dst.c_str(), strerror(err), err);
    close(in);
    return -1;
  }
  if (mode == CopyMode::kSourceExactly && fchmod(out, bits) != 0) {
    int err = errno;
    LOG_WARNING(kLog, "CopyFile: fchmod(%s, %o): %s (%d)", dst.c_str(), static_cast<unsigned>(bits),
                strerror(err), err);
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

int MoveEntry(const ustring& src, const ustring& dst, const struct stat& st);

// The content of `folder` moved entry by entry into `dst` (created when missing), then `folder`
// itself removed. 0 or -3.
int MoveFolderAcrossVolumes(const ustring& src, const ustring& dst, mode_t src_mode) {
  if (FSMKDir(dst, true) != 0) return -3;
  DIR* dir = opendir(src.c_str());
  if (dir == nullptr) {
    int err = errno;
    LOG_DEBUG(kLog, "FSRename: opendir(%s): %s (%d)", src.c_str(), strerror(err), err);
    return -3;
  }
  int result = 0;
  while (struct dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    const ustring from = src + "/" + name;
    struct stat st;
    if (lstat(from.c_str(), &st) != 0) {
      int err = errno;
      LOG_DEBUG(kLog, "FSRename: lstat(%s): %s (%d)", from.c_str(), strerror(err), err);
      result = -3;
      break;
    }
    if (MoveEntry(from, dst + "/" + name, st) != 0) {
      result = -3;
      break;
    }
  }
  closedir(dir);
  if (result != 0) return result;
  if (chmod(dst.c_str(), src_mode & 07777) != 0) {
    int err = errno;
    LOG_WARNING(kLog, "FSRename: chmod(%s): %s (%d)", dst.c_str(), strerror(err), err);
  }
  if (rmdir(src.c_str()) != 0) {
    int err = errno;
    LOG_DEBUG(kLog, "FSRename: remove(%s): %s (%d)", src.c_str(), strerror(err), err);
    return -3;
  }
  return 0;
}

// A link recreated at `dst` (replacing a file or link there, as rename would), then removed. 0 or -3.
int MoveLinkAcrossVolumes(const ustring& src, const ustring& dst) {
  char target[kPathRefMaxPath];
  ssize_t n = readlink(src.c_str(), target, sizeof(target) - 1);
  if (n < 0) {
    int err = errno;
    LOG_DEBUG(kLog, "FSRename: readlink(%s): %s (%d)", src.c_str(), strerror(err), err);
    return -3;
  }
  target[n] = '\0';
  int made = symlink(target, dst.c_str());
  int type = FILE_TYPE_NONE;
  if (made != 0 && errno == EEXIST && StatusType(dst.c_str(), &type) > 0 && type != FILE_TYPE_DIRECTORY &&
      unlink(dst.c_str()) == 0) {
    made = symlink(target, dst.c_str());
  }
  if (made != 0) {
    int err = errno;
    LOG_DEBUG(kLog, "FSRename: symlink(%s, %s): %s (%d)", target, dst.c_str(), strerror(err), err);
    return -3;
  }
  if (unlink(src.c_str()) != 0) {
    int err = errno;
    LOG_DEBUG(kLog, "FSRename: remove(%s): %s (%d)", src.c_str(), strerror(err), err);
    return -3;
  }
  return 0;
}

int MoveEntry(const ustring& src, const ustring& dst, const struct stat& st) {
  if (rename(src.c_str(), dst.c_str()) == 0) return 0;
  int err = errno;
  if (err != EXDEV) {
    LOG_DEBUG(kLog, "FSRename: rename(%s, %s): %s (%d)", src.c_str(), dst.c_str(), strerror(err), err);
    return err == ENAMETOOLONG ? -100 : -3;
  }
  switch (TypeOfMode(st.st_mode)) {
    case FILE_TYPE_DIRECTORY:
      return MoveFolderAcrossVolumes(src, dst, st.st_mode);
    case FILE_TYPE_REGULAR:
      return CopyFile(src, dst, true, CopyMode::kSourceExactly) < 0 ? -3 : 0;
    case FILE_TYPE_SYMLINK:
      return MoveLinkAcrossVolumes(src, dst);
    default:
      LOG_DEBUG(kLog, "FSRename: cannot move '%s' to another volume (type %d)", src.c_str(),
                TypeOfMode(st.st_mode));
      return -3;
  }
}

// FSRemove's failures are details for DEBUG: its callers report them.
void LogRemoveFailure(const std::string& path, int err) {
  LOG_DEBUG(kLog, "FSRemove: failed to remove '%s': %s (%d)", path.c_str(), strerror(err), err);
}

// Removes everything in the open folder `fd` (which it takes over), named `path` in log lines.
// Works relative to the folder, so the walk neither follows links nor re-reads long paths.
// 0, or -3 at the first entry that cannot be removed.
int RemoveFolderContents(int fd, const std::string& path) {
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    LogRemoveFailure(path, errno);
    close(fd);
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
  info.mtime = static_cast<int32_t>(st.st_mtim.tv_sec);
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
      entry.mtime = static_cast<int32_t>(st.st_mtim.tv_sec);
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

int FSCopy(const ustring& src, const ustring& dst, bool remove_src, bool keep_mode) {
  return CopyFile(src, dst, remove_src, keep_mode ? CopyMode::kSource : CopyMode::kDefault);
}

int FSRename(const ustring& src, const ustring& dst, bool exact) {
  if (src.empty() || dst.empty()) return -1;
  struct stat st;
  if (lstat(src.c_str(), &st) != 0 || TypeOfMode(st.st_mode) < 0) return -2;
  if (exact && !IsFileExist(src, true)) return -2;
  return MoveEntry(src, dst, st);
}

int FSRemove(const ustring& path, bool) {
  if (path.empty()) return -1;
  int type = FILE_TYPE_NONE;
  int found = StatusType(path.c_str(), &type);
  if (found < 0) {
    int err = errno;
    LOG_DEBUG(kLog, "FSRemove: Failed to get info for '%s': %s (%d)", path.c_str(), strerror(err), err);
    return -1;
  }
  if (found == 0) return 0;
  const std::string top(path.c_str());
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
    int err = errno;
    LogRemoveFailure(top, err);
    errno = err;
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
