#include "set-aside.h"

#include <errno.h>
#include <string.h>

#include <vector>

#include "file-op.h"
#include "log.h"
#include "tmp_name_gen.h"

namespace {

constexpr const char* kLog = "service_debug";

// How many fresh aside names are tried before a copy is left where it is.
constexpr int kAsideAttempts = 3;

// The prefix of every name a copy of `app` is set aside under, in the same parent folder:
// "<basename(app)>_trash.".
ustring AsidePrefix(const ustring& app) {
  return FSBaseName(app) + "_trash.";
}

}  // namespace

bool SetAside(const ustring& app, const ustring& path) {
  if (!IsFileExist(path, false)) return true;
  if (app.empty()) {
    LOG_WARNING(kLog, "cannot set '%s' aside for removal: no place is known for it", path.c_str());
    return false;
  }
  int err = EEXIST;  // stays when every name drawn was taken
  for (int attempt = 0; attempt < kAsideAttempts; ++attempt) {
    const ustring aside =
        FSParentPath(app) + "/" + AsidePrefix(app) + TmpNameGen::getInstance()->getTmpName();
    if (IsFileExist(aside, false)) continue;
    if (FSRename(path, aside, false) == 0) {
      LOG_DEBUG(kLog, "set '%s' aside as '%s'", path.c_str(), aside.c_str());
      return true;
    }
    err = errno;
  }
  LOG_WARNING(kLog, "cannot set '%s' aside for removal: %s (%d)", path.c_str(), strerror(err), err);
  return false;
}

bool RemoveSetAside(const ustring& app) {
  const ustring parent = FSParentPath(app);
  const ustring prefix = AsidePrefix(app);
  std::vector<ustring> names;
  DIR_HANDLE handle;
  if (FSOpenDir(parent, 0, handle) < 0) return true;  // no folder, nothing aside
  DIR_ENTRY entry;
  while (FSReadDir(handle, entry) >= 1)
    if (entry.name.length() > prefix.length() &&
        strncmp(entry.name.c_str(), prefix.c_str(), prefix.length()) == 0)
      names.push_back(entry.name);
  FSCloseDir(handle);
  bool all_gone = true;
  for (const ustring& name : names) {
    const ustring aside = parent + "/" + name;
    if (FSRemove(aside, false) == 0) continue;
    const int err = errno;
    LOG_WARNING(kLog, "cannot remove '%s', set aside for removal: %s (%d); trying again on the next start",
                aside.c_str(), strerror(err), err);
    all_gone = false;
  }
  return all_gone;
}
