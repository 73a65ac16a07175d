// Removing folder trees (tree-remove.h).
#include "tree-remove.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "file-op.h"
#include "log.h"
#include "tree-walk.h"

namespace file_internal {

namespace {

constexpr char kLog[] = "file_op_debug";

}  // namespace

int RemoveFailed(const std::string& path) {
  const int err = errno;
  LOG_DEBUG(kLog, "FSRemove: failed to remove '%s': %s (%d)", path.c_str(), strerror(err), err);
  errno = err;
  return -3;
}

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

int RemoveEntryAt(int parent, const std::string& name, const std::string& parent_path, bool ours) {
  struct stat st;
  if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? 0 : RemoveFailed(parent_path + "/" + name);
  if (S_ISDIR(st.st_mode)) return RemoveFolderAt(parent, name, parent_path, ours);
  if (UnlinkAt(parent, name.c_str(), 0) != 0 && errno != ENOENT)
    return RemoveFailed(parent_path + "/" + name);
  return 0;
}

}  // namespace file_internal
