#include "upgrade-record.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "file-op.h"
#include "log.h"
#include "set-aside.h"

namespace {

constexpr const char* kLog = "service_debug";

// Lines "key=value", each ending in a line feed. Keys this launcher does not know are skipped (a
// later launcher may add some); the state must be one it knows. False for anything else, a cut file
// included.
bool ParseRecord(const std::string& text, UpgradeRecord* record) {
  UpgradeRecord r;
  r.version = 1;
  bool state_seen = false;
  const auto id = [](const std::string& value, unsigned long long* dev, unsigned long long* ino) {
    char* rest = nullptr;
    const size_t colon = value.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == value.size()) return false;
    *dev = strtoull(value.c_str(), &rest, 10);
    if (rest != value.c_str() + colon) return false;
    *ino = strtoull(value.c_str() + colon + 1, &rest, 10);
    return *rest == '\0';
  };
  const auto number = [](const std::string& value, long low, long high, int* out) {
    char* rest = nullptr;
    errno = 0;
    const long n = strtol(value.c_str(), &rest, 10);
    if (rest == value.c_str() || *rest != '\0' || errno != 0 || n < low || n > high) return false;
    *out = static_cast<int>(n);
    return true;
  };
  for (size_t pos = 0; pos < text.size();) {
    const size_t end = text.find('\n', pos);
    if (end == std::string::npos) return false;
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    bool ok = true;
    if (key == "version") {
      ok = number(value, 1, INT_MAX, &r.version);
    } else if (key == "state") {
      state_seen = true;
      static const char* const states[] = {"upgrading", "cleaning", "kept"};
      ok = false;
      for (int i = 0; i < 3; ++i)
        if (value == states[i]) r.state = static_cast<UpgradeRecord::State>(i + 1), ok = true;
    } else if (key == "good") {
      r.good_exists = value != "none";
      // A number is the backup name it goes to; device:inode is the earlier format's identity.
      if (r.good_exists && !number(value, 0, kAppBackupSlots - 1, &r.good_backup))
        ok = id(value, &r.good_dev, &r.good_ino);
    } else if (key == "good_build") {
      ok = number(value, INT_MIN, INT_MAX, &r.good_build);
    } else if (key == "good_whole") {
      r.good_whole = value != "0";
    }
    if (!ok) return false;
  }
  if (!state_seen) return false;
  *record = r;
  return true;
}

std::string FormatRecord(const UpgradeRecord& r) {
  static const char* const states[] = {"none", "upgrading", "cleaning", "kept"};
  std::string text = "version=" + std::to_string(kUpgradeRecordVersion) + "\nstate=" + states[r.state] + "\n";
  if (r.state != UpgradeRecord::kUpgrading) return text;
  text += "good=" + (r.good_exists ? std::to_string(r.good_backup) : std::string("none")) + "\n";
  text += "good_build=" + std::to_string(r.good_build) + "\ngood_whole=" + (r.good_whole ? "1" : "0") + "\n";
  return text;
}

// Opens the parent folder of `path` and forces its entries to the drive. 0, or -1 with errno.
int SyncParent(const ustring& path) {
  const int folder = open(FSParentPath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return -1;
  const int result = FSSyncDescriptor(folder);
  const int err = errno;
  close(folder);
  errno = err;
  return result;
}

}  // namespace

void ClearRecordLeftovers(const ustring& app, bool temporary_too) {
  const ustring temporary = UpgradeRecordPath(app) + ".new";
  for (const ustring& path : {UpgradeRecordPath(app), temporary}) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISREG(st.st_mode)) {
      if (temporary_too && path == temporary) FSRemove(path, false);
      continue;
    }
    LOG_WARNING(kLog, "'%s' is not an upgrade record, setting it aside", path.c_str());
    SetAside(app, path);
  }
}

ustring UpgradeRecordPath(const ustring& app) {
  return app + ".upgrade";
}

UpgradeRecord ReadUpgradeRecord(const ustring& app, bool* unusable) {
  constexpr size_t kMaxRecord = 4096;
  if (unusable != nullptr) *unusable = false;
  UpgradeRecord record;
  const ustring path = UpgradeRecordPath(app);
  // Not blocking and not through a link: a pipe or a link placed there must neither hang nor redirect.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT) return record;
    LOG_WARNING(kLog, "cannot read the upgrade record '%s': %s (%d)", path.c_str(), strerror(err), err);
    if (unusable != nullptr) *unusable = true;
    return record;
  }
  struct stat st;
  std::string text;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < static_cast<off_t>(kMaxRecord);
  while (ok && text.size() < kMaxRecord) {
    char buffer[kMaxRecord];
    const ssize_t got = read(fd, buffer, kMaxRecord - text.size());  // never past the bound
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    text.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  if (!ok || text.size() >= kMaxRecord || !ParseRecord(text, &record)) {
    LOG_WARNING(kLog, "ignoring the upgrade record '%s': not a record this launcher writes", path.c_str());
    if (unusable != nullptr) *unusable = true;
    record = UpgradeRecord();
  }
  return record;
}

int WriteUpgradeRecord(const ustring& app, const UpgradeRecord& record) {
  const ustring path = UpgradeRecordPath(app);
  const ustring temporary = path + ".new";  // RemoveRecord knows this name
  ClearRecordLeftovers(app, false);
  const std::string text = FormatRecord(record);
  // A file of an earlier write cut short goes; whatever else appears there is never written through.
  if (FSRemove(temporary, false) != 0 && IsFileExist(temporary, false)) {
    const int err = errno;
    LOG_ERROR(kLog, "cannot write the upgrade record '%s': %s (%d)", temporary.c_str(), strerror(err), err);
    return -1;
  }
  FSBeforeChange();
  const int fd =
      open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  int err = errno;
  ustring failed = temporary;
  bool ok = fd >= 0;
  if (ok) {
    ok =
        write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && FSSyncDescriptor(fd) == 0;
    err = errno;
    if (close(fd) != 0 && ok) {
      ok = false;
      err = errno;
    }
  }
  if (ok) {
    FSBeforeChange();
    ok = rename(temporary.c_str(), path.c_str()) == 0;
    err = errno;
    failed = path;
  }
  // The rename must reach the drive before the copies it describes move.
  if (ok && SyncParent(path) != 0) {
    ok = false;
    err = errno;
    failed = FSParentPath(path);
  }
  if (!ok) {
    LOG_ERROR(kLog, "cannot write the upgrade record '%s': %s (%d)", failed.c_str(), strerror(err), err);
    if (fd >= 0) unlink(temporary.c_str());
    return -1;
  }
  return 0;
}

void RemoveUpgradeRecord(const ustring& app) {
  const ustring path = UpgradeRecordPath(app);
  if (FSRemove(path + ".new", false) != 0 || FSRemove(path, false) != 0)
    LOG_WARNING(kLog, "cannot remove the upgrade record '%s'", path.c_str());
}
