// Moving to another volume (move-across.h).
#include "move-across.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "copy-bytes.h"
#include "extended-attributes.h"
#include "file-op-internal.h"
#include "file-op.h"
#include "log.h"
#include "path-ref.h"
#include "tree-remove.h"
#include "tree-walk.h"

namespace file_internal {

namespace {

constexpr char kLog[] = "file_op_debug";

// What a move leaves in the destination's folder until it completes: "." + the destination's name
// (cut to fit the volume's name limit) + this. A leftover of a move that was cut off is removed by
// the next move to the same destination.
constexpr char kMoveSuffix[] = ".corvane-move";

// As MoveFailed, for the copy step of a file, under FSCopy's messages.
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

}  // namespace

int MoveFailed(const char* step, const std::string& path) {
  const int err = errno;
  LOG_DEBUG(kLog, "FSRename: %s(%s): %s (%d)", step, path.c_str(), strerror(err), err);
  errno = err;
  return -1;
}

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

}  // namespace file_internal
