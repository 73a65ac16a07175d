// The file layer's single entries (file-op.h): what is at a path, folders, links, one entry moved,
// copied or removed, and the change hook. Whole trees are walked in tree-walk.cpp and removed in
// tree-remove.cpp; a move to another volume is move-across.cpp's and a copy's bytes copy-bytes.cpp's.
#include "file-op.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "copy-bytes.h"
#include "file-op-internal.h"
#include "log.h"
#include "move-across.h"
#include "path-ref.h"
#include "tmp_name_gen.h"
#include "tree-remove.h"
#include "tree-walk.h"

// What the layer's other units lend.
using file_internal::CheckCopyAcross;
using file_internal::CheckDestination;
using file_internal::CopyBytes;
using file_internal::Fd;
using file_internal::FinishCopy;
using file_internal::kModeFromUmask;
using file_internal::MoveFailed;
using file_internal::MoveToOtherVolume;
using file_internal::OpenParentOf;
using file_internal::RemoveFailed;
using file_internal::RemoveFolderAt;
using file_internal::SyncToDrive;
using file_internal::TypeOfDirEntry;
using file_internal::TypeOfMode;

namespace file_internal {

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

}  // namespace file_internal

namespace {

constexpr char kLog[] = "file_op_debug";
constexpr size_t kLinkBufferSize = 1024;
constexpr size_t kTempTemplateSize = 4096;

std::function<void()>& ChangeHook() {
  static std::function<void()> hook;
  return hook;
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
