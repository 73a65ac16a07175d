// macOS: the volume itself tells the stored form and the kind. realpath resolves the parent folders
// and, on macOS, spells each component as the volume stores it (it asks getattrlist for the name);
// getattrlist with ATTR_CMN_NAME spells a last component that is not followed. The kind is statfs's
// f_fstypename, and whether names fold is pathconf's _PC_CASE_SENSITIVE.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/attr.h>
#include <sys/mount.h>
#include <sys/param.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "path-ref.h"

namespace {

int StatusOf(int err) {
  switch (err) {
    case ENOENT:
      return kPathRefNotFound;
    case ENOTDIR:
      return kPathRefNotFolder;
    case ELOOP:  // more than MAXSYMLINKS (32) links on the way
      return kPathRefLinkLoop;
    case EACCES:
    case EPERM:
      return kPathRefNoAccess;
    case ENAMETOOLONG:
      return kPathRefTooLong;
    default:
      return kPathRefIOError;
  }
}

// realpath(3): every link followed, each component in its stored spelling.
int RealPath(const std::string& path, std::string* real) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return StatusOf(errno);
  real->assign(resolved);
  free(resolved);
  return real->size() >= kPathRefMaxPath ? kPathRefTooLong : kPathRefOk;
}

// The name under which the folder holding `path` stores its last component, which is not followed.
int StoredName(const std::string& path, std::string* name) {
  struct NameReply {
    u_int32_t length;
    attrreference_t name;
    char text[NAME_MAX * 3 + 1];  // UTF-8, up to three bytes a UTF-16 unit, and the terminator
  } __attribute__((aligned(4), packed));
  struct attrlist request;
  memset(&request, 0, sizeof(request));
  request.bitmapcount = ATTR_BIT_MAP_COUNT;
  request.commonattr = ATTR_CMN_NAME;
  NameReply reply;
  if (getattrlist(path.c_str(), &request, &reply, sizeof(reply), FSOPT_NOFOLLOW) != 0) return StatusOf(errno);
  const char* text = reinterpret_cast<const char*>(&reply.name) + reply.name.attr_dataoffset;
  const char* end = reinterpret_cast<const char*>(&reply) + sizeof(reply);
  if (reply.name.attr_length == 0 || text + reply.name.attr_length > end) return kPathRefIOError;
  name->assign(text, strnlen(text, reply.name.attr_length));
  return kPathRefOk;
}

}  // namespace

int PathRefMakeStoredPath(const char* path, bool follow_last, std::string* stored) {
  if (path == nullptr || *path == '\0') return kPathRefBadPath;
  std::string full;
  if (path[0] != '/') {
    char cwd[MAXPATHLEN];
    if (getcwd(cwd, sizeof(cwd)) == nullptr) return errno == ERANGE ? kPathRefTooLong : kPathRefBadPath;
    full = cwd;
    full += '/';
  }
  full += path;

  const bool trailing_separator = full.size() > 1 && full.back() == '/';
  const size_t slash = full.find_last_of('/', full.find_last_not_of('/'));
  const std::string last = slash == std::string::npos ? "" : full.substr(slash + 1);
  // The last component is resolved with the rest when it is followed, when it is a folder by
  // construction (".", "..", "/"), and when a trailing separator demands a folder.
  if (follow_last || trailing_separator || last.empty() || last == "." || last == "..") {
    std::string real;
    if (int status = RealPath(full, &real); status != kPathRefOk) return status;
    struct stat st;
    if (lstat(real.c_str(), &st) != 0) return StatusOf(errno);
    if (trailing_separator && !S_ISDIR(st.st_mode)) return kPathRefNotFolder;
    *stored = real;
    return kPathRefOk;
  }

  std::string parent;
  if (int status = RealPath(slash == 0 ? "/" : full.substr(0, slash), &parent); status != kPathRefOk)
    return status;
  if (parent == "/") parent.clear();
  struct stat st;
  if (lstat((parent + '/' + last).c_str(), &st) != 0) return StatusOf(errno);
  std::string name;
  if (int status = StoredName(parent + '/' + last, &name); status != kPathRefOk) return status;
  std::string resolved = parent + '/' + name;
  if (resolved.size() >= kPathRefMaxPath) return kPathRefTooLong;
  *stored = std::move(resolved);
  return kPathRefOk;
}

int PathRefVolumeFoldsNames(const char* path, bool* folds) {
  struct statfs fs;
  if (statfs(path, &fs) != 0) return -1;
  errno = 0;
  const long case_sensitive = pathconf(path, _PC_CASE_SENSITIVE);
  if (case_sensitive < 0 && errno != 0 && errno != EINVAL) return -1;
  // Only a volume that says it respects case is taken as exact; APFS and HFS+ ignore composition
  // even where they respect case.
  *folds = case_sensitive != 1 || strcmp(fs.f_fstypename, "apfs") == 0 || strcmp(fs.f_fstypename, "hfs") == 0;
  return 0;
}

int PathRefVolumeType(const char* path, std::string* type_name) {
  struct statfs fs;
  if (statfs(path, &fs) != 0) return -1;
  type_name->assign(fs.f_fstypename, strnlen(fs.f_fstypename, sizeof(fs.f_fstypename)));
  return 0;
}
