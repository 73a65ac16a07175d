// Walking folder trees relative to open folder descriptors, for the file layer's own units
// (tree-remove.cpp, move-across.cpp, file-op.cpp); not part of its public interface (file-op.h).
//
// Both tree walks, removing a tree and copying one to another volume, work relative to open folder
// descriptors and open every folder with O_NOFOLLOW: a folder swapped for a link during the walk
// stops it instead of being followed, and long paths are never re-read. Whatever the depth, they
// hold a bounded number of descriptors: beyond kOpenFolderBudget open levels the shallowest is
// closed, and reopened on the way back up through its child's "..", accepted only when it is still
// the same folder (device and inode), so that a folder moved elsewhere during the walk stops it.
//
// No shared state: any thread may call; a holder, a listing or a trail belongs to the walk that made it.
#ifndef CORVANE_LIB_FILE_TREE_WALK_H_
#define CORVANE_LIB_FILE_TREE_WALK_H_

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace file_internal {

// The changes the tree walks make on disk, each announced to the test seam (FSSetChangeHook) just
// before it is made.
int UnlinkAt(int dir, const char* name, int flags);
int MkdirAt(int dir, const char* name, mode_t mode);
int RenameAt(int from_dir, const char* from, int to_dir, const char* to);
int SymlinkAt(const char* target, int dir, const char* name);
int CreateAt(int dir, const char* name, int flags, mode_t mode);
int ChangeMode(int fd, mode_t mode);

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
int ReadListing(int fd, Listing* listing);

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
  int Enter(const std::string& name, struct stat* st);

  // Closes the current folder and makes its parent current again, reopening the parent when the
  // budget had closed it. 0, or -1 with errno set when the parent cannot be reopened or is no longer
  // the folder the walk came through (ESTALE); the trail is then of no further use.
  int Leave();

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
  static bool IsLevel(int fd, const Level& level);
  int base_;
  std::string path_;
  std::vector<Level> levels_;
  size_t first_open_ = 0;  // levels before it are closed, the rest open
};

// Whether the entry of the listing is a folder: 1 yes, 0 no, -1 its status could not be read
// (errno set; ENOENT when it is gone). `type` gets its type code.
int EntryType(int folder, const std::pair<std::string, unsigned char>& entry, int* type);

}  // namespace file_internal

#endif  // CORVANE_LIB_FILE_TREE_WALK_H_
