#include "extractor.h"

#include <archive.h>
#include <archive_entry.h>
#include <errno.h>
#include <locale.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __APPLE__
#include <xlocale.h>  // newlocale, uselocale
#endif

#include <QString>
#include <set>
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
// destination is checked here instead, entry by entry (Placer).
constexpr int kDiskOptions =
    ARCHIVE_EXTRACT_UNLINK | ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_MAC_METADATA;

// True when libarchive reported `err` from a failing system call. Its own codes are not: format
// errors (EFTYPE where the system has it, else EILSEQ, which would read "Invalid or incomplete
// multibyte or wide character"), misuse (EINVAL) and the catch-all -1.
bool IsSystemError(int err) {
#ifdef EFTYPE
  if (err == EFTYPE) return false;
#endif
  return err > 0 && err != EILSEQ && err != EINVAL;
}

// libarchive's message on `source`, with the system's text added when the failure came from a system
// call ("No space left on device"). Control characters in it, or in an entry's name, need no care
// here: the logger writes them escaped.
std::string ReasonOf(struct archive* source) {
  const char* text = archive_error_string(source);
  std::string reason = text != nullptr ? text : "unknown error";
  const int err = archive_errno(source);
  if (IsSystemError(err)) reason += std::string(" (") + strerror(err) + ")";
  return reason;
}

// libarchive moves the writer's error onto the reader during archive_read_extract2, so the reason may
// be on either.
std::string ErrorText(struct archive* first, struct archive* second) {
  return ReasonOf(archive_error_string(first) != nullptr ? first : second);
}

// For the length of a call, the calling thread reads and writes names under a UTF-8 character type,
// so that names are converted neither from nor to the process locale (a plain "C" locale cannot hold
// "Résumé.txt"; a Latin-1 one would turn it into other bytes). The thread's previous locale is put
// back by the destructor; other threads and the process-wide locale are untouched.
class Utf8Names {
 public:
  Utf8Names() {
    previous_ = uselocale(static_cast<locale_t>(0));
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8", "UTF-8"}) {
      locale_t base = duplocale(previous_);
      if (base == static_cast<locale_t>(0)) break;
      mine_ = newlocale(LC_CTYPE_MASK, name, base);
      if (mine_ != static_cast<locale_t>(0)) break;
      freelocale(base);
    }
    if (mine_ == static_cast<locale_t>(0)) {
      LOG_WARNING(kLog, "no UTF-8 locale available; names other than ASCII may be refused");
      return;
    }
    uselocale(mine_);
  }
  ~Utf8Names() {
    if (mine_ == static_cast<locale_t>(0)) return;
    uselocale(previous_);
    freelocale(mine_);
  }
  Utf8Names(const Utf8Names&) = delete;
  Utf8Names& operator=(const Utf8Names&) = delete;

 private:
  locale_t previous_ = static_cast<locale_t>(0);
  locale_t mine_ = static_cast<locale_t>(0);
};

// The components of an entry name, without empty and "." components (so also without leading
// slashes: an absolute name becomes relative).
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

// Null when an entry of this type may be written, else what it is.
const char* RefusedType(archive_entry* entry) {
  switch (archive_entry_filetype(entry)) {
    case AE_IFREG:
    case AE_IFDIR:
    case AE_IFLNK:
      return nullptr;
    case AE_IFIFO:
      return "a FIFO";
    case AE_IFCHR:
      return "a character device";
    case AE_IFBLK:
      return "a block device";
    case AE_IFSOCK:
      return "a socket";
    default:
      return "of an unknown type";
  }
}

// Decides, entry by entry, where an entry goes below one destination and whether it may be written
// there, and remembers which places below the destination are known to be real folders, so that the
// folders leading to an entry are looked at once per extraction rather than once per entry.
class Placer {
 public:
  enum Verdict { kWrite, kSkip, kRefuse };

  explicit Placer(const std::string& dest) : dest_(dest) {}

  // kWrite after preparing `entry` for the writer (pathname joined below the destination, hard-link
  // target resolved inside it, modes adjusted); kSkip for a folder entry standing for the
  // destination itself; kRefuse with the reason in `why`.
  Verdict Admit(archive_entry* entry, const char* name, std::string* why) {
    const char* target = archive_entry_hardlink(entry);
    const char* refused_type = target == nullptr ? RefusedType(entry) : nullptr;
    if (refused_type != nullptr) {
      *why = std::string("it is ") + refused_type;
      return kRefuse;
    }
    parts_ = Components(name);
    if (parts_.empty()) {
      if (target == nullptr && archive_entry_filetype(entry) == AE_IFDIR) return kSkip;
      *why = "it names the destination folder itself";
      return kRefuse;
    }
    place_ = dest_ + "/" + Join(parts_, parts_.size());
    archive_entry_set_pathname(entry, place_.c_str());
    // ".." anywhere: the writer refuses it before it touches the disk.
    if (HasDotDot(parts_)) return kWrite;
    if (!CheckWay(parts_, why)) return kRefuse;
    if (target != nullptr) return AdmitHardLink(entry, target, why) ? kWrite : kRefuse;
    if (archive_entry_filetype(entry) == AE_IFDIR) {
      if (!ClearFolderPlace(why)) return kRefuse;
      archive_entry_set_perm(entry, archive_entry_perm(entry) | S_IRWXU);
    }
    archive_entry_set_perm(entry, archive_entry_perm(entry) & ~(S_ISUID | S_ISGID | S_ISVTX));
    return kWrite;
  }

  // Records that the entry last admitted was written: the folders leading to it are real folders
  // now (they were checked or the writer made them), and so is its place when it is a folder;
  // anything else at its place is no longer a folder.
  void Written(archive_entry* entry) {
    for (size_t i = 1; i < parts_.size(); ++i) folders_.insert(Join(parts_, i));
    const std::string place = Join(parts_, parts_.size());
    if (archive_entry_hardlink(entry) == nullptr && archive_entry_filetype(entry) == AE_IFDIR) {
      folders_.insert(place);
      return;
    }
    folders_.erase(place);
    const std::string below = place + "/";
    folders_.erase(folders_.lower_bound(below), folders_.lower_bound(place + "0"));  // '0' follows '/'
  }

 private:
  // Checks the folders leading to the last of `parts` below the destination. Each one that exists
  // must be a real folder, not a symbolic link: the writer follows links in the folders of a path,
  // so an entry beneath a link that an earlier entry made would land wherever the link points. A
  // folder that does not exist yet is created by the writer as a real folder. true, or false with
  // the reason in `why`.
  bool CheckWay(const std::vector<std::string>& parts, std::string* why) const {
    if (parts.size() < 2 || folders_.count(Join(parts, parts.size() - 1)) != 0) return true;
    for (size_t i = 1; i < parts.size(); ++i) {
      const std::string way = Join(parts, i);
      if (folders_.count(way) != 0) continue;
      struct stat st;
      if (lstat((dest_ + "/" + way).c_str(), &st) != 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR) return true;  // nothing further exists
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

  // A symbolic link standing where a folder entry goes is removed, so that the folder is made in
  // its place instead of the link being followed.
  bool ClearFolderPlace(std::string* why) {
    if (folders_.count(Join(parts_, parts_.size())) != 0) return true;
    struct stat st;
    if (lstat(place_.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && unlink(place_.c_str()) != 0) {
      const int err = errno;
      *why = "cannot replace the symbolic link '" + place_ + "': " + strerror(err);
      return false;
    }
    return true;
  }

  // A hard link's target is made to name the file inside the destination (the writer would otherwise
  // resolve it against the process's working folder). Only a regular file already written from this
  // package may be linked: a link to a symbolic link would reach its target on systems whose link()
  // follows it.
  bool AdmitHardLink(archive_entry* entry, const char* target, std::string* why) {
    const std::vector<std::string> target_parts = Components(target);
    if (target[0] == '/' || target_parts.empty() || HasDotDot(target_parts)) {
      *why = std::string("hard link to '") + target + "' outside the destination";
      return false;
    }
    if (!CheckWay(target_parts, why)) {
      *why = std::string("hard link to '") + target + "': " + *why;
      return false;
    }
    const std::string resolved = dest_ + "/" + Join(target_parts, target_parts.size());
    struct stat st;
    if (lstat(resolved.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      *why = std::string("hard link to '") + target + "', which is not a file extracted before";
      return false;
    }
    archive_entry_set_hardlink(entry, resolved.c_str());
    return true;
  }

  const std::string dest_;
  std::set<std::string> folders_;   // relative to dest_, real folders made or checked in this run
  std::vector<std::string> parts_;  // the entry last admitted
  std::string place_;
};

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
    LOG_ERROR(kLog, "archive_read_open_filename failed: '%s'", ReasonOf(reader).c_str());
    archive_read_free(reader);
    return nullptr;
  }
  return reader;
}

// Writes every entry of the opened `reader` below `dest` through `writer`, sending progress out of
// `total`. 0 at the end of the archive; -1 after logging the first failure, naming its entry.
int UnpackEntries(archive* reader, archive* writer, const std::string& dest, int total) {
  Placer placer(dest);
  for (int n = 1;; ++n) {
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(reader, &entry);
    if (r == ARCHIVE_EOF) return 0;
    if (r != ARCHIVE_OK) {
      LOG_ERROR(kLog, "archive_read_next_header failed: '%s'", ReasonOf(reader).c_str());
      return -1;
    }
    const char* name = archive_entry_pathname(entry);
    if (name == nullptr) {
      LOG_ERROR(kLog, "archive_entry_pathname failed");
      return -1;
    }
    const std::string shown = name;  // Admit() renames the entry, and `name` goes with it
    std::string why;
    const Placer::Verdict verdict = placer.Admit(entry, shown.c_str(), &why);
    if (verdict == Placer::kRefuse) {
      LOG_ERROR(kLog, "refusing entry '%s': %s", shown.c_str(), why.c_str());
      return -1;
    }
    if (verdict == Placer::kSkip) {
      Notify_Adapter::GetInstance()->UpdateProgress(total, n);
      continue;
    }
    if (archive_read_extract2(reader, entry, writer) != ARCHIVE_OK) {
      LOG_ERROR(kLog, "archive_read_extract2 failed: '%s', entry '%s'", ErrorText(writer, reader).c_str(),
                shown.c_str());
      return -1;
    }
    Notify_Adapter::GetInstance()->UpdateProgress(total, n);
    if (archive_write_finish_entry(writer) != ARCHIVE_OK) {
      LOG_ERROR(kLog, "archive_write_finish_entry failed: '%s', entry '%s'",
                ErrorText(writer, reader).c_str(), shown.c_str());
      return -1;
    }
    placer.Written(entry);
  }
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

  Utf8Names utf8_names;
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

  int result = -1;
  if (archive_read_open_filename(reader, archive_path.c_str(), kBlockSize) != ARCHIVE_OK) {
    LOG_ERROR(kLog, "Failed to read file '%s' ('%s')", archive_path.c_str(), ReasonOf(reader).c_str());
  } else {
    result = UnpackEntries(reader, writer, dest_path.c_str(), total);
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
  Utf8Names utf8_names;
  archive* reader = OpenForReading(archive_path);
  if (reader == nullptr) return -1;
  int count = 0;
  archive_entry* entry = nullptr;
  int r;
  while ((r = archive_read_next_header(reader, &entry)) == ARCHIVE_OK) {
    ++count;
    archive_read_data_skip(reader);
  }
  // A warning stops the count as an error does (the extraction refuses it too); say why.
  if (r != ARCHIVE_EOF)
    LOG_ERROR(kLog, "counting stopped after %d entries: '%s'", count, ReasonOf(reader).c_str());
  archive_read_free(reader);
  return count;
}

int Extractor::List() {
  if (dest_path.empty() || archive_path.empty()) {
    LOG_ERROR(kLog, "Invalid argument");
    return -1;
  }
  Utf8Names utf8_names;
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
      LOG_ERROR(kLog, "archive_read_data_block failed: '%s'", ReasonOf(reader).c_str());
      return -1;
    }
    if (archive_write_data_block(writer, buffer, size, offset) != ARCHIVE_OK) {
      LOG_ERROR(kLog, "archive_write_data_block failed: '%s'", ErrorText(writer, reader).c_str());
      return -1;
    }
  }
}
