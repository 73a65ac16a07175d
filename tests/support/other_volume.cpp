#include "other_volume.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/mount.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "temp_dir.h"

namespace {

// The folder standing in for another volume, in its canonical form; empty when none does.
std::string g_stand_in;

// The canonical form of the folder that holds `path`, or "" when it cannot be resolved.
std::string CanonicalParent(const char* path) {
  std::string text(path);
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  const size_t slash = text.rfind('/');
  const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : text.substr(0, slash);
  char buf[PATH_MAX];
  return realpath(parent.c_str(), buf) ? buf : "";
}

// Whether `path` lies in the stand-in folder: by its canonical parent, or by its text when that
// cannot be resolved (a path too long for the system lies on the volume its text names).
bool InsideStandIn(const char* path) {
  std::string parent = CanonicalParent(path);
  if (parent.empty()) parent = path;
  return !parent.empty() && parent.compare(0, g_stand_in.size(), g_stand_in) == 0 &&
         (parent.size() == g_stand_in.size() || parent[g_stand_in.size()] == '/');
}

}  // namespace

// glibc declares the C library's functions non-throwing in C++; the declaration must match.
#ifdef __GLIBC__
#define OTHER_VOLUME_NOEXCEPT noexcept
#else
#define OTHER_VOLUME_NOEXCEPT
#endif

// This program's rename: the system's, except that a move into the stand-in folder from outside it
// fails as a move across volumes does.
extern "C" int rename(const char* from, const char* to) OTHER_VOLUME_NOEXCEPT {
  using Rename = int (*)(const char*, const char*);
  static const Rename system_rename = reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "rename"));
  if (!g_stand_in.empty() && InsideStandIn(to) && !InsideStandIn(from)) {
    errno = EXDEV;
    return -1;
  }
  return system_rename(from, to);
}

namespace testsupport {

OtherVolume::OtherVolume(const std::string& dir) : dir_(dir) {
  mkdir(dir.c_str(), 0777);
#ifdef __linux__
  if (IsRoot() && mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=16m,mode=0777") == 0) {
    mounted_ = true;
    how_ = "a tmpfs mounted at " + dir;
    return;
  }
  how_ = IsRoot() ? std::string("mount failed (") + strerror(errno) + "), " : "";
#endif
  chmod(dir.c_str(), 0777);  // as the tmpfs is mounted
  char buf[PATH_MAX];
  g_stand_in = realpath(dir.c_str(), buf) ? buf : dir;
  how_ += "a folder into which rename() says EXDEV: " + g_stand_in;
}

OtherVolume::~OtherVolume() {
  g_stand_in.clear();
#ifdef __linux__
  if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
#endif
}

}  // namespace testsupport
