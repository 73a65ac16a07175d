#include "extractor.h"

#include <archive.h>
#include <archive_entry.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <string>
#include <vector>

#include "log.h"
#include "progress.h"
#include "strtable.h"

namespace {

constexpr const char* kLog = "extractor_debug";
constexpr size_t kBlockSize = 10240;

// Replace whatever is at an entry's place; refuse ".." (the writer checks the whole joined path);
// keep macOS metadata. Permissions, times and owners stay the writer's defaults. The writer's own
// symbolic-link check is not used: it walks the whole absolute path, so it would refuse a destination
// below a linked home folder and, together with UNLINK, delete that link. Containment below the
// destination is checked here instead, entry by entry (CheckEntry).
constexpr int kDiskOptions =
    ARCHIVE_EXTRACT_UNLINK | ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_MAC_METADATA;

// The components of an entry name, without empty and "." components.
std::vector<std::string> Components(const char* name) {
  std::vector<std::string> parts;
  std::string part;
  for (const char* p = name;; ++p) {
    if (*p == '/' || *p == '\0') {
      if (!part.empty() && part != ".") parts.push_back(part);
      part.clear();
      if (*p == '\0') break;
    } else {
      part += *p;
    }
  }
  return parts;
}

bool HasDotDot(const std::vector<std::string>& parts) {
  for (const std::string& part : parts)
    if (part == "..") return true;
  return false;
}

std::string Join(const std::vector<std::string>& parts, size_t count) {
  std::string joined;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) joined += '/';
    joined += parts[i];
  }
  return joined;
}

// Checks the folders leading to the last of `parts` below `dest`. Each one that exists must be a
// real folder, not a symbolic link: the writer follows links in the folders of a path, so an entry
// beneath a link that an earlier entry made would land wherever the link points. A folder that does
// not exist yet is created by the writer as a real folder. true, or false with the reason in `why`.
bool CheckWay(const std::string& dest, const std::vector<std::string>& parts, std::string* why) {
  for (size_t i = 1; i < parts.size(); ++i) {
    const std::string way = Join(parts, i);
    struct stat st;
    if (lstat((dest + "/" + way).c_str(), &st) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return true;  // nothing further exists
      int err = errno;
      *why = "cannot check '" + way + "': " + strerror(err);
      return false;
    }
    if (S_ISLNK(st.st_mode)) {
      *why = "'" + way + "' is a symbolic link";
      return false;
    }
  }
  return true;
}

// Decides whether the entry may be written below `dest`, and prepares it: a hard link's target is
// made to name the file inside `dest` (the writer would otherwise resolve it against the process's
// working folder), and a symbolic link standing where a folder entry goes is removed, so that the
// folder is made in its place instead of the link being followed. true, or false with `why`.
bool CheckEntry(const std::string& dest, archive_entry* entry, const char* name, std::string* why) {
  if (name[0] == '/') {
    *why = "absolute name";
    return false;
  }
  std::vector<std::string> parts = Components(name);
  // ".." anywhere: the writer refuses it before it touches the disk.
  if (HasDotDot(parts)) return true;
  if (!CheckWay(dest, parts, why)) return false;

  if (!parts.empty() && archive_entry_filetype(entry) == AE_IFDIR) {
    const std::string place = dest + "/" + Join(parts, parts.size());
    struct stat st;
    if (lstat(place.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && unlink(place.c_str()) != 0) {
      int err = errno;
      *why = "cannot replace the symbolic link '" + place + "': " + strerror(err);
      return false;
    }
  }

  const char* target = archive_entry_hardlink(entry);
  if (target != nullptr) {
    std::vector<std::string> target_parts = Components(target);
    if (target[0] == '/' || target_parts.empty() || HasDotDot(target_parts)) {
      *why = std::string("hard link to '") + target + "' outside the destination";
      return false;
    }
    if (!CheckWay(dest, target_parts, why)) {
      *why = std::string("hard link to '") + target + "': " + *why;
      return false;
    }
    const std::string resolved = dest + "/" + Join(target_parts, target_parts.size());
    struct stat st;
    if (lstat(resolved.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      // Only a regular file already written from this package may be linked: a link to a symbolic
      // link would reach its target on systems whose link() follows it.
      *why = std::string("hard link to '") + target + "', which is not a file extracted before";
      return false;
    }
    archive_entry_set_hardlink(entry, resolved.c_str());
  }
  return true;
}

// Opens `archive_path` for reading with every filter and format. The reader, or null after logging.
archive* OpenForReading(const ustring& archive_path) {
  archive* reader = archive_read_new();
  if (reader == nullptr) {
    LOG_ERROR(kLog, "Allocate archive failed");
    return nullptr;
  }
  archive_read_support_filter_all(reader);
  archive_read_support_format_all(reader);
  if (archive_read_open_filename(reader, archive_path.c_str(), kBlockSize) != ARCHIVE_OK) {
    LOG_ERROR(kLog, "archive_read_open_filename failed: '%s'", archive_error_string(reader));
    archive_read_free(reader);
    return nullptr;
  }
  return reader;
}

// libarchive moves the writer's error onto the reader during archive_read_extract2, so the reason may
// be on either; the system error of the failing call is added when there is one ("No space left on
// device").
std::string ErrorText(struct archive* first, struct archive* second) {
  struct archive* source = archive_error_string(first) != nullptr ? first : second;
  const char* text = archive_error_string(source);
  std::string reason = text != nullptr ? text : "unknown error";
  const int err = archive_errno(source);
  if (err > 0) reason += std::string(" (") + strerror(err) + ")";
  return reason;
}

}  // namespace

int Extractor::Extract() {
  if (archive_path.empty() || dest_path.empty()) {
    LOG_ERROR(kLog, "Invalid Argument");
    return -1;
  }
  LOG_DEBUG(kLog, "decompress from '%s' to '%s'", archive_path.c_str(), dest_path.c_str());

  const QString label = StrTable::LoadStr(StrTable::kRowEnvPreparing)
                            .arg(StrTable::LoadStr(StrTable::kRowAppName), 0, QLatin1Char(' '));
  Notify_Adapter::GetInstance()->UpdateDialogText(label);

  const int total = Count();
  if (total < 1) {
    LOG_ERROR(kLog, "Failed to calculate total file numbers, ret: %d", total);
    return -1;
  }

  archive* reader = archive_read_new();
  if (reader == nullptr) {
    LOG_ERROR(kLog, "Allocate extractor failed");
    return -1;
  }
  archive* writer = archive_write_disk_new();
  if (writer == nullptr) {
    LOG_ERROR(kLog, "Allocate extractor failed");
    archive_read_free(reader);
    return -1;
  }
  archive_write_disk_set_options(writer, kDiskOptions);
  archive_read_support_filter_all(reader);
  archive_read_support_format_all(reader);

  const std::string dest(dest_path.c_str());
  int result = 0;
  if (archive_read_open_filename(reader, archive_path.c_str(), kBlockSize) != ARCHIVE_OK) {
    LOG_ERROR(kLog, "Failed to read file '%s' ('%s')", archive_path.c_str(), archive_error_string(reader));
    result = -1;
  } else {
    for (int n = 1;; ++n) {
      archive_entry* entry = nullptr;
      int r = archive_read_next_header(reader, &entry);
      if (r == ARCHIVE_EOF) break;
      if (r != ARCHIVE_OK) {
        LOG_ERROR(kLog, "archive_read_next_header failed: '%s'", archive_error_string(reader));
        result = -1;
        break;
      }
      const char* name = archive_entry_pathname(entry);
      if (name == nullptr) {
        LOG_ERROR(kLog, "archive_entry_pathname failed");
        result = -1;
        break;
      }
      std::string why;
      if (!CheckEntry(dest, entry, name, &why)) {
        LOG_ERROR(kLog, "refusing entry '%s': %s", name, why.c_str());
        result = -1;
        break;
      }
      const std::string joined = dest + "/" + name;
      archive_entry_set_pathname(entry, joined.c_str());
      if (archive_read_extract2(reader, entry, writer) != ARCHIVE_OK) {
        LOG_ERROR(kLog, "archive_read_extract2 failed: '%s'", ErrorText(writer, reader).c_str());
        result = -1;
        break;
      }
      Notify_Adapter::GetInstance()->UpdateProgress(total, n);
      if (archive_write_finish_entry(writer) != ARCHIVE_OK) {
        LOG_ERROR(kLog, "archive_write_finish_entry failed: '%s'", ErrorText(writer, reader).c_str());
        result = -1;
        break;
      }
    }
  }
  archive_read_free(reader);
  archive_write_free(writer);
  return result;
}

int Extractor::Count() {
  if (dest_path.empty() || archive_path.empty()) {
    LOG_ERROR(kLog, "Invalid argument");
    return -1;
  }
  archive* reader = OpenForReading(archive_path);
  if (reader == nullptr) return -1;
  int count = 0;
  archive_entry* entry = nullptr;
  while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
    ++count;
    archive_read_data_skip(reader);
  }
  archive_read_free(reader);
  return count;
}

int Extractor::List() {
  if (dest_path.empty() || archive_path.empty()) {
    LOG_ERROR(kLog, "Invalid argument");
    return -1;
  }
  archive* reader = OpenForReading(archive_path);
  if (reader == nullptr) return -1;
  archive_entry* entry = nullptr;
  while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
    const char* name = archive_entry_pathname(entry);
    printf("%s\n", name != nullptr ? name : "");
    fflush(stdout);
    archive_read_data_skip(reader);
  }
  archive_read_close(reader);
  archive_read_free(reader);
  return 0;
}

int Extractor::copy_data(archive* reader, archive* writer) {
  if (reader == nullptr || writer == nullptr) {
    LOG_ERROR(kLog, "Invalid Argument");
    return -1;
  }
  for (;;) {
    const void* buffer = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    int r = archive_read_data_block(reader, &buffer, &size, &offset);
    if (r == ARCHIVE_EOF) return 0;
    if (r != ARCHIVE_OK) {
      LOG_ERROR(kLog, "archive_read_data_block failed: '%s'", archive_error_string(reader));
      return -1;
    }
    if (archive_write_data_block(writer, buffer, size, offset) != ARCHIVE_OK) {
      LOG_ERROR(kLog, "archive_write_data_block failed: '%s'", ErrorText(writer, reader).c_str());
      return -1;
    }
  }
}
