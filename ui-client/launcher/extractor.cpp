#include "extractor.h"

#include <archive.h>
#include <archive_entry.h>
#include <errno.h>
#include <limits.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unicode/unorm2.h>
#include <unistd.h>
#ifdef __APPLE__
#include <sys/acl.h>
#include <xlocale.h>  // newlocale, uselocale
#if __has_include(<sys/xattr.h>)
#include <sys/xattr.h>
#else
// Apple's own declarations, for the macOS compile check, whose C library headers lack this file.
extern "C" int removexattr(const char* path, const char* name, int options);
#define XATTR_NOFOLLOW 0x0001
#endif
#endif

#include <fcntl.h>

#include <QString>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "file-op.h"
#include "log.h"
#include "path-ref.h"
#include "progress.h"
#include "regular_file.h"
#include "strtable.h"
#include "ustring.h"

namespace {

constexpr const char* kLog = "extractor_debug";
// What each read of the archive asks for: 64 KiB, fewer calls than libarchive's customary 10,240 bytes.
constexpr size_t kBlockSize = 64 * 1024;

// Replace whatever is at an entry's place; refuse ".." (the writer checks the whole joined path);
// keep macOS metadata (its quarantine and access lists are taken off afterwards, see
// ClearRestoredMetadata). Permissions, times and owners stay the writer's defaults. The writer's own
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

// A failure on the writer may have been copied onto the reader, so the reason may be on either.
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

// The name under which the entry kept for last (Extractor::hold_back) waits beside its place.
std::string WaitingName(const std::string& name) {
  return "." + name + ".pending";
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

// Null when `path`, made of the components `parts`, stays within the system's limits, else why not.
// A longer path could not be looked at (lstat fails with ENAMETOOLONG), and the writer would reach
// it by changing the process's working folder part of the way.
const char* OverLimit(const std::string& path, const std::vector<std::string>& parts) {
  for (const std::string& part : parts)
    if (part.size() > NAME_MAX) return "a component is longer than the system allows";
  if (path.size() >= PATH_MAX) return "the path is longer than the system allows";
  return nullptr;
}

// Under what a volume that ignores letter case and Unicode composition takes a name for:
// NFKC_Casefold, which also folds compatibility forms and drops ignorable characters, so it joins at
// least every spelling such a volume joins (HFS+ and APFS, with or without case). Folded component by
// component, so the folded form of a path below a folder starts with the folder's folded form and
// "/". A name that is not UTF-8 is folded in its ASCII letters only.
std::string FoldedName(const std::string& name) {
  std::string ascii = name;
  for (char& c : ascii)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  const ustring text(name);
  if (!ustring::is_valid(text)) return ascii;
  const UChar* units = reinterpret_cast<const UChar*>(text.c_str_utf16());
  UErrorCode err = U_ZERO_ERROR;
  const UNormalizer2* fold = unorm2_getNFKCCasefoldInstance(&err);
  if (U_FAILURE(err)) return ascii;
  const int32_t need = unorm2_normalize(fold, units, -1, nullptr, 0, &err);
  if (err != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(err)) return ascii;
  std::vector<UChar> folded(static_cast<size_t>(need) + 1, 0);
  err = U_ZERO_ERROR;
  unorm2_normalize(fold, units, -1, folded.data(), need + 1, &err);
  if (U_FAILURE(err)) return ascii;
  return ustring(reinterpret_cast<const unsigned short*>(folded.data())).c_str();
}

std::string FoldedPath(const std::vector<std::string>& parts, size_t count) {
  std::string joined;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) joined += '/';
    joined += FoldedName(parts[i]);
  }
  return joined;
}

// Tests set it to make the extractor treat every destination as a volume that folds names.
std::atomic<int> names_fold_for_tests{-1};

// Whether the volume holding `dest` may take two spellings of a name for one, as the file layer tells
// it (every APFS and HFS volume on macOS; FAT, SMB, case-folding folders and the like on Linux). When
// it cannot tell, the safe answer: it folds (records are then only dropped more often).
bool NamesFold(const std::string& dest) {
  const int forced = names_fold_for_tests.load();
  if (forced >= 0) return forced != 0;
  bool folds = true;
  if (PathRefVolumeFoldsNames(dest.c_str(), &folds) != 0) {
    const int err = errno;
    LOG_WARNING(kLog, "cannot tell whether '%s' folds names (%s), taking it that it does", dest.c_str(),
                strerror(err));
    return true;
  }
  return folds;
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
//
// The record is looked up byte for byte, so a hit is always the very name a folder was made or
// checked under. On a volume that folds names, another spelling can reach the same place: writing
// anything but a folder there drops every record that folds equal, and everything recorded below it.
class Placer {
 public:
  enum Verdict { kWrite, kSkip, kRefuse };

  // `dest`: the destination's real path, absolute and without links of the user's on the way, named
  // in messages; the disk is reached through names relative to the working folder, the destination
  // itself. `hold_back`: the name of the entry kept for last (Extractor::hold_back), or empty.
  Placer(const std::string& dest, bool names_fold, const std::string& hold_back)
      : dest_(dest), names_fold_(names_fold), hold_back_(Components(hold_back.c_str())) {}

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
    if (!HoldBack(entry, why)) return kRefuse;
    place_ = Join(parts_, parts_.size());
    if (const char* over = OverLimit(Shown(place_), parts_)) {
      *why = std::string("its name is too long: ") + over;
      return kRefuse;
    }
    if (!SymlinkTargetFits(entry, why)) return kRefuse;
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
  // anything else at its place is no longer a folder, under any spelling the volume takes for it.
  void Written(archive_entry* entry) {
    held_back_written_ = held_back_written_ || holding_;
    for (size_t i = 1; i < parts_.size(); ++i) Remember(i);
    if (archive_entry_hardlink(entry) == nullptr && archive_entry_filetype(entry) == AE_IFDIR) {
      Remember(parts_.size());
      return;
    }
    Forget();
  }

  // The place the entry last admitted was written to, relative to the destination.
  const std::string& place() const { return place_; }
  // Whether the entry kept for last was written (under its waiting name).
  bool held_back_written() const { return held_back_written_; }
  // `place` below the destination, as log lines name it.
  std::string Shown(const std::string& place) const { return dest_ + "/" + place; }

 private:
  // Whether `parts` name `name` on this volume: byte for byte, or folded where names fold.
  bool SameName(const std::vector<std::string>& parts, const std::vector<std::string>& name) const {
    if (parts.size() != name.size()) return false;
    return names_fold_ ? FoldedPath(parts, parts.size()) == FoldedPath(name, name.size()) : parts == name;
  }

  // The entry kept for last is written under its waiting name, and must be a file; nothing else may
  // take that name. true, or false with the reason in `why`.
  bool HoldBack(archive_entry* entry, std::string* why) {
    holding_ = false;
    if (hold_back_.empty()) return true;
    std::vector<std::string> waiting = hold_back_;
    waiting.back() = WaitingName(waiting.back());
    if (SameName(parts_, waiting)) {
      *why = "it takes the name '" + Join(waiting, waiting.size()) + "' kept for the last entry";
      return false;
    }
    if (!SameName(parts_, hold_back_)) return true;
    if (archive_entry_hardlink(entry) != nullptr || archive_entry_filetype(entry) != AE_IFREG) {
      *why = "it is to be put in place last, and only a file can be";
      return false;
    }
    parts_.back() = WaitingName(parts_.back());
    holding_ = true;
    return true;
  }

  // Records the first `count` of parts_ as a real folder.
  void Remember(size_t count) {
    const std::string way = Join(parts_, count);
    if (folders_.insert(way).second && names_fold_) folded_.emplace(FoldedPath(parts_, count), way);
  }

  // Drops the record of parts_ and of everything below it: byte for byte, or, where names fold,
  // every record that folds equal to it or to a folder above it.
  void Forget() {
    const std::string place = names_fold_ ? FoldedPath(parts_, parts_.size()) : Join(parts_, parts_.size());
    if (!names_fold_) {
      folders_.erase(place);
      folders_.erase(folders_.lower_bound(place + "/"),
                     folders_.lower_bound(place + "0"));  // '0' follows '/'
      return;
    }
    auto drop = [this](std::multimap<std::string, std::string>::iterator from,
                       std::multimap<std::string, std::string>::iterator to) {
      for (auto it = from; it != to; ++it) folders_.erase(it->second);
      folded_.erase(from, to);
    };
    auto same = folded_.equal_range(place);
    drop(same.first, same.second);
    drop(folded_.lower_bound(place + "/"), folded_.lower_bound(place + "0"));
  }

  // A symbolic link's target must be one the system can hold.
  bool SymlinkTargetFits(archive_entry* entry, std::string* why) const {
    if (archive_entry_filetype(entry) != AE_IFLNK || archive_entry_hardlink(entry) != nullptr) return true;
    const char* link = archive_entry_symlink(entry);
    if (link == nullptr) return true;
    const std::string text = link;
    if (const char* over = OverLimit(text, Components(link))) {
      *why = std::string("its link target is too long: ") + over;
      return false;
    }
    return true;
  }

  // Checks the folders leading to the last of `parts` below the destination. Each one that exists
  // must be a real folder, not a symbolic link: the writer follows links in the folders of a path,
  // so an entry beneath a link that an earlier entry made would land wherever the link points. A
  // folder that does not exist yet is created by the writer as a real folder. Anything that cannot
  // be looked at (a component that is not a folder, a name too long, no access) is refused too.
  // true, or false with the reason in `why`.
  bool CheckWay(const std::vector<std::string>& parts, std::string* why) const {
    if (parts.size() < 2 || folders_.count(Join(parts, parts.size() - 1)) != 0) return true;
    for (size_t i = 1; i < parts.size(); ++i) {
      const std::string way = Join(parts, i);
      if (folders_.count(way) != 0) continue;
      struct stat st;
      if (lstat(way.c_str(), &st) != 0) {
        const int err = errno;
        if (err == ENOENT) return true;  // nothing further exists
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
    if (lstat(place_.c_str(), &st) != 0) {
      const int err = errno;
      if (err == ENOENT) return true;
      *why = "cannot check '" + Shown(place_) + "': " + strerror(err);
      return false;
    }
    if (S_ISLNK(st.st_mode) && unlink(place_.c_str()) != 0) {
      const int err = errno;
      *why = "cannot replace the symbolic link '" + Shown(place_) + "': " + strerror(err);
      return false;
    }
    return true;
  }

  // A hard link's target is made to name the file below the destination, the working folder. Only a
  // regular file already written from this package may be linked: a link to a symbolic link would
  // reach its target on systems whose link() follows it; the entry kept for last is not in place yet.
  bool AdmitHardLink(archive_entry* entry, const char* target, std::string* why) {
    const std::vector<std::string> target_parts = Components(target);
    if (target[0] == '/' || target_parts.empty() || HasDotDot(target_parts)) {
      *why = std::string("hard link to '") + target + "' outside the destination";
      return false;
    }
    if (!hold_back_.empty() && SameName(target_parts, hold_back_)) {
      *why = std::string("hard link to '") + target + "', which is put in place last";
      return false;
    }
    const std::string resolved = Join(target_parts, target_parts.size());
    if (const char* over = OverLimit(Shown(resolved), target_parts)) {
      *why = std::string("hard link to a name too long: ") + over;
      return false;
    }
    if (!CheckWay(target_parts, why)) {
      *why = std::string("hard link to '") + target + "': " + *why;
      return false;
    }
    struct stat st;
    if (lstat(resolved.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      *why = std::string("hard link to '") + target + "', which is not a file extracted before";
      return false;
    }
    archive_entry_set_hardlink(entry, resolved.c_str());
    return true;
  }

  const std::string dest_;
  const bool names_fold_;
  const std::vector<std::string> hold_back_;
  bool holding_ = false;  // the entry last admitted is the one kept for last
  bool held_back_written_ = false;
  std::set<std::string> folders_;  // relative to dest_, real folders made or checked in this run
  // Where names fold: each record of folders_ under its folded form.
  std::multimap<std::string, std::string> folded_;
  std::vector<std::string> parts_;  // the entry last admitted
  std::string place_;
};

// The archive's descriptor for one call: the caller's, or `path` opened here once, as every input is
// (regular_file.h: never waiting, a regular file only, so a named pipe put in its place fails here
// instead of stalling the upgrade), and closed when the call ends. One descriptor serves every pass;
// a dup() would share its offset, so each pass rewinds it instead (OpenArchive).
class ArchiveFile {
 public:
  ArchiveFile(int given, const ustring& path) : fd_(given) {
    if (fd_ >= 0) return;
    int error = 0;
    fd_ = OpenRegularFile(path.c_str(), "r", &error);
    if (fd_ < 0) {
      why_ = "cannot open '" + std::string(path.c_str()) + "': " + RegularFileErrorText(error);
    } else {
      owned_ = true;
    }
  }
  ~ArchiveFile() {
    if (owned_) close(fd_);
  }
  ArchiveFile(const ArchiveFile&) = delete;
  ArchiveFile& operator=(const ArchiveFile&) = delete;
  // -1, with why() set, when it could not be opened.
  int fd() const { return fd_; }
  const std::string& why() const { return why_; }

 private:
  int fd_;
  bool owned_ = false;
  std::string why_;
};

// Hands `reader` the archive open at `fd`, from its first byte: libarchive reads on from the
// descriptor's offset and seeks to offsets counted from the file's start (zip reads its central
// directory so), and an earlier pass (or the caller) left the offset elsewhere. 0, or -1 with the
// reason in `why`.
int OpenArchive(archive* reader, int fd, std::string* why) {
  if (lseek(fd, 0, SEEK_SET) != 0) {
    const int err = errno;
    *why = std::string("cannot rewind the archive: ") + strerror(err);
    return -1;
  }
  if (archive_read_open_fd(reader, fd, kBlockSize) == ARCHIVE_OK) return 0;
  *why = ReasonOf(reader);
  return -1;
}

// A reader with every filter and format on the archive open at `fd` (-1: not opened, for the reason
// `why_not`). Null after logging "archive_read_open_filename failed: '<why>'", the line the count has
// always written.
archive* OpenForReading(int fd, const std::string& why_not) {
  if (fd < 0) {
    LOG_ERROR(kLog, "archive_read_open_filename failed: '%s'", why_not.c_str());
    return nullptr;
  }
  archive* reader = archive_read_new();
  if (reader == nullptr) {
    LOG_ERROR(kLog, "Allocate archive failed");
    return nullptr;
  }
  archive_read_support_filter_all(reader);
  archive_read_support_format_all(reader);
  std::string why;
  if (OpenArchive(reader, fd, &why) != 0) {
    LOG_ERROR(kLog, "archive_read_open_filename failed: '%s'", why.c_str());
    archive_read_free(reader);
    return nullptr;
  }
  return reader;
}

// The number of entries of the archive open at `fd` (Extractor::Count), or -1 after logging.
int CountEntries(int fd, const std::string& why_not) {
  archive* reader = OpenForReading(fd, why_not);
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

// The name of the attribute macOS marks downloaded files with.
constexpr const char* kQuarantine = "com.apple.quarantine";

#ifdef __APPLE__
// Takes off `path` (not following a link) the quarantine attribute and the extended access list
// that the entry's macOS metadata may have put there. 0, or -1 with the reason in `why`.
int ClearQuarantineAndAcl(const std::string& path, std::string* why) {
  if (removexattr(path.c_str(), kQuarantine, XATTR_NOFOLLOW) != 0 && errno != ENOATTR && errno != ENOENT) {
    const int err = errno;
    *why = std::string("cannot remove its quarantine: ") + strerror(err);
    return -1;
  }
  acl_t acl = acl_get_link_np(path.c_str(), ACL_TYPE_EXTENDED);
  if (acl == nullptr) return 0;  // none (ENOENT), or none possible here
  acl_free(acl);
  acl_t empty = acl_init(0);
  if (empty == nullptr) {
    const int err = errno;
    *why = std::string("cannot make an empty access list: ") + strerror(err);
    return -1;
  }
  const int r = acl_set_link_np(path.c_str(), ACL_TYPE_EXTENDED, empty);
  const int err = errno;
  acl_free(empty);
  if (r != 0) {
    *why = std::string("cannot remove its access list: ") + strerror(err);
    return -1;
  }
  return 0;
}
#endif

// After the writer has finished (folders get their metadata only when it closes): takes the
// quarantine and access lists off every place written from an entry with macOS metadata, after a
// failure too, so that an access list cannot keep the caller from clearing a partial copy away. On
// macOS the writer restores that metadata through copyfile, which alone decides what the packed blob
// holds; removing what landed, rather than editing the blob, needs no second reader of it and
// catches every form copyfile accepts. Elsewhere the blob is not restored, and nothing is to do.
// 0, or -1 after logging each place that kept its quarantine or access list.
// `places` are relative to the working folder, the destination `dest`.
int ClearRestoredMetadata(const std::vector<std::string>& places, const std::string& dest) {
  int result = 0;
#ifdef __APPLE__
  for (const std::string& place : places) {
    std::string why;
    if (ClearQuarantineAndAcl(place, &why) != 0) {
      LOG_ERROR(kLog, "'%s/%s': %s", dest.c_str(), place.c_str(), why.c_str());
      result = -1;
    }
  }
#else
  (void)places;
  (void)dest;
#endif
  return result;
}

// Finishes the entry being written: the writer's own step, or the one a test put in its place.
std::atomic<int (*)(archive*)> finish_entry_for_tests{nullptr};
int FinishEntry(archive* writer) {
  int (*const finish)(archive*) = finish_entry_for_tests.load();
  return finish != nullptr ? finish(writer) : archive_write_finish_entry(writer);
}

// Writes the current entry of `reader` through `writer`, as libarchive's own extraction would, but judging
// the steps apart: only the entry's data decides. The header (the entry's place) and every data block
// must be written; what finishing the entry reports as a mere warning is its metadata alone (modes,
// times, extended attributes, and on macOS the metadata restored through copyfile, where
// com.apple.provenance or a partial restore warns), logged as a WARNING while the entry counts as
// written. 0, or -1 after logging the failure with the entry's name `shown`.
int WriteEntry(archive* reader, archive_entry* entry, archive* writer, const std::string& shown) {
  int r = archive_write_header(writer, entry);
  archive* failed = writer;
  if (r == ARCHIVE_OK && (!archive_entry_size_is_set(entry) || archive_entry_size(entry) > 0)) {
    for (;;) {
      const void* buffer = nullptr;
      size_t size = 0;
      la_int64_t offset = 0;
      r = archive_read_data_block(reader, &buffer, &size, &offset);
      if (r == ARCHIVE_EOF) {
        r = ARCHIVE_OK;
        break;
      }
      if (r != ARCHIVE_OK) {
        failed = reader;
        break;
      }
      r = static_cast<int>(archive_write_data_block(writer, buffer, size, offset));
      if (r < ARCHIVE_OK) break;
    }
  }
  if (r != ARCHIVE_OK) {
    const std::string reason = ReasonOf(failed);
    FinishEntry(writer);  // closes what the header opened; the first failure is the one to tell
    LOG_ERROR(kLog, "archive_read_extract2 failed: '%s', entry '%s'", reason.c_str(), shown.c_str());
    return -1;
  }
  r = FinishEntry(writer);
  if (r == ARCHIVE_WARN) {
    LOG_WARNING(kLog, "entry '%s' is written, but not all its metadata: '%s'", shown.c_str(),
                ReasonOf(writer).c_str());
  } else if (r != ARCHIVE_OK) {
    LOG_ERROR(kLog, "archive_read_extract2 failed: '%s', entry '%s'", ReasonOf(writer).c_str(),
              shown.c_str());
    return -1;
  }
  return 0;
}

// Writes every entry of the opened `reader` below `dest` (a real path) through `writer`, sending
// progress out of `total`. 0 at the end of the archive; -1 after logging the first failure, naming
// its entry. `with_metadata` receives the places written from entries carrying macOS metadata.
int UnpackEntries(archive* reader, archive* writer, const std::string& dest, bool names_fold,
                  const std::string& hold_back, int total, std::vector<std::string>* with_metadata) {
  Placer placer(dest, names_fold, hold_back);
  for (int n = 1;; ++n) {
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(reader, &entry);
    if (r == ARCHIVE_EOF && !hold_back.empty() && !placer.held_back_written()) {
      LOG_ERROR(kLog, "the package holds no '%s'", hold_back.c_str());
      return -1;
    }
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
    extractor_testing::StripPackedMetadata(entry);
    FSBeforeChange();  // one change on disk per entry, for tests that end a run at any change
    if (WriteEntry(reader, entry, writer, shown) != 0) return -1;
    Notify_Adapter::GetInstance()->UpdateProgress(total, n);
    if (archive_write_finish_entry(writer) != ARCHIVE_OK) {
      LOG_ERROR(kLog, "archive_write_finish_entry failed: '%s', entry '%s'",
                ErrorText(writer, reader).c_str(), shown.c_str());
      return -1;
    }
    size_t metadata_size = 0;
    if (archive_entry_mac_metadata(entry, &metadata_size) != nullptr && metadata_size > 0)
      with_metadata->push_back(placer.place());
    placer.Written(entry);
  }
}

// The destination as the system reaches it: `given` with every symbolic link on the way resolved,
// so that nothing handed to the writer runs through a link of the user's (the writer removes a link
// it meets on the way to a hard link's target). `given` must be absolute: nothing is resolved against
// the working folder. true with `real` set, or false after logging why.
bool RealDestination(const char* given, std::string* real) {
  if (given[0] != '/') {
    LOG_ERROR(kLog, "refusing destination '%s': it is not an absolute path", given);
    return false;
  }
  char* resolved = realpath(given, nullptr);
  if (resolved == nullptr) {
    const int err = errno;
    LOG_ERROR(kLog, "cannot resolve destination '%s': %s (%d)", given, strerror(err), err);
    return false;
  }
  *real = resolved;
  free(resolved);
  struct stat st;
  if (lstat(real->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    LOG_ERROR(kLog, "destination '%s' ('%s') is not a folder", given, real->c_str());
    return false;
  }
  if (*real == "/") real->clear();  // entries join as "/name"
  return true;
}

// One extraction at a time writes: each works in its destination as the process's working folder.
std::mutex extraction_folder_lock;

// For the length of a scope, the process works in the open folder `folder` (the writer resolves the
// entries' relative names from there, so they land in that very folder wherever it is moved, and in
// no other that takes its name meanwhile), and comes back to where it was afterwards. Nothing else in
// the launcher resolves a relative name, and the writer changes the working folder itself on its
// way down very deep paths; extractions take turns (extraction_folder_lock).
class InFolder {
 public:
  explicit InFolder(int folder) : lock_(extraction_folder_lock) {
#ifdef O_PATH
    back_ = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);  // also where this account may not list
#else
    back_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
    if (fchdir(folder) != 0) error_ = errno;
  }
  ~InFolder() {
    if (error_ == 0 && (back_ >= 0 ? fchdir(back_) : chdir("/")) != 0) {
      const int err = errno;
      LOG_WARNING(kLog, "cannot return to the working folder: %s", strerror(err));
    }
    if (back_ >= 0) close(back_);
  }
  InFolder(const InFolder&) = delete;
  InFolder& operator=(const InFolder&) = delete;
  // 0, or the errno of the change into the folder.
  int error() const {
    return error_;
  }

 private:
  std::lock_guard<std::mutex> lock_;
  int back_ = -1;
  int error_ = 0;
};

// The folder the entries go below: the caller's open `given`, or `real` opened here (owned, closed
// when the call ends). -1 after logging why not.
class DestinationFolder {
 public:
  DestinationFolder(int given, const std::string& real) : fd_(given) {
    if (fd_ < 0) {
      fd_ = open(real.empty() ? "/" : real.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      owned_ = fd_ >= 0;
    }
    struct stat st;
    const int err = fd_ < 0 || fstat(fd_, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (err != 0) {
      LOG_ERROR(kLog, "cannot open the destination '%s': %s (%d)", real.c_str(), strerror(err), err);
      Close();
    }
  }
  ~DestinationFolder() { Close(); }
  DestinationFolder(const DestinationFolder&) = delete;
  DestinationFolder& operator=(const DestinationFolder&) = delete;
  int fd() const { return fd_; }

 private:
  void Close() {
    if (owned_) close(fd_);
    owned_ = false;
    fd_ = -1;
  }
  int fd_;
  bool owned_ = false;
};

// Opens the folder `name` of the open folder `at` (never through a link). -1 with errno.
int OpenSubfolder(int at, const std::string& name) {
  return openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The write pass of Extract: every entry of the archive open at `archive_fd` (named `archive_path`)
// written below the open folder `folder`, whose real path is `dest`, with `hold_back` kept for last and
// progress out of `total`. 0, or -1 after logging.
int WritePass(int archive_fd, const std::string& archive_path, int folder, const std::string& dest,
              const std::string& hold_back, int total) {
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
  int cleared = 0;
  {
    const InFolder in_destination(folder);
    std::vector<std::string> with_metadata;
    std::string why;
    if (in_destination.error() != 0) {
      LOG_ERROR(kLog, "cannot work in the destination '%s': %s", dest.c_str(),
                strerror(in_destination.error()));
    } else if (OpenArchive(reader, archive_fd, &why) == 0) {
      result = UnpackEntries(reader, writer, dest, NamesFold(dest), hold_back, total, &with_metadata);
    } else {
      LOG_ERROR(kLog, "Failed to read file '%s' ('%s')", archive_path.c_str(), why.c_str());
    }
    archive_read_free(reader);
    // Closing gives the folders their deferred metadata; a failure there is libarchive's and logged.
    if (archive_write_close(writer) != ARCHIVE_OK)
      LOG_WARNING(kLog, "archive_write_close failed: '%s'", ReasonOf(writer).c_str());
    archive_write_free(writer);
    cleared = ClearRestoredMetadata(with_metadata, dest);
  }
  return result == 0 ? cleared : result;
}

}  // namespace

int PlaceHeldBack(int dest_fd, const std::string& entry, const ustring& dest_shown) {
  const std::vector<std::string> parts = Components(entry.c_str());
  if (parts.empty()) return -1;
  const std::string shown = std::string(dest_shown.c_str()) + "/" + Join(parts, parts.size());
  int folder = dup(dest_fd);
  for (size_t i = 0; folder >= 0 && i + 1 < parts.size(); ++i) {
    const int next = OpenSubfolder(folder, parts[i]);
    const int err = errno;
    close(folder);
    folder = next;
    errno = err;
  }
  int result = folder >= 0 ? 0 : -1;
  if (result == 0) {
    FSBeforeChange();
    result = renameat(folder, WaitingName(parts.back()).c_str(), folder, parts.back().c_str());
  }
  // The rename must reach the drive before anything relies on the copy being whole.
  if (result == 0) result = FSSyncDescriptor(folder);
  const int err = errno;
  if (folder >= 0) close(folder);
  if (result != 0) LOG_ERROR(kLog, "cannot put '%s' in place: %s (%d)", shown.c_str(), strerror(err), err);
  return result;
}

namespace extractor_testing {

void SetNamesFold(int folds) {
  names_fold_for_tests.store(folds < 0 ? -1 : folds != 0 ? 1 : 0);
}

void SetFinishEntry(int (*finish)(archive* writer)) {
  finish_entry_for_tests.store(finish);
}

void StripPackedMetadata(archive_entry* entry) {
  std::vector<std::pair<std::string, std::string>> kept;
  bool quarantined = false;
  const char* name = nullptr;
  const void* value = nullptr;
  size_t size = 0;
  archive_entry_xattr_reset(entry);
  while (archive_entry_xattr_next(entry, &name, &value, &size) == ARCHIVE_OK) {
    if (name != nullptr && strcmp(name, kQuarantine) == 0) {
      quarantined = true;
      continue;
    }
    kept.emplace_back(name != nullptr ? name : "",
                      value != nullptr ? std::string(static_cast<const char*>(value), size) : std::string());
  }
  if (quarantined) {
    archive_entry_xattr_clear(entry);
    for (const auto& [kept_name, kept_value] : kept)
      archive_entry_xattr_add_entry(entry, kept_name.c_str(), kept_value.data(), kept_value.size());
  }
  archive_entry_acl_clear(entry);
}

}  // namespace extractor_testing

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
  const ArchiveFile file(archive_fd, archive_path);
  const int total = CountEntries(file.fd(), file.why());
  if (total < 1) {
    LOG_ERROR(kLog, "Failed to calculate total file numbers, ret: %d", total);
    return -1;
  }
  std::string dest;
  if (!RealDestination(dest_path.c_str(), &dest)) return -1;
  const DestinationFolder folder(dest_fd, dest);
  if (folder.fd() < 0) return -1;

  return WritePass(file.fd(), archive_path.c_str(), folder.fd(), dest, hold_back.c_str(), total);
}

int Extractor::Count() {
  if (dest_path.empty() || archive_path.empty()) {
    LOG_ERROR(kLog, "Invalid argument");
    return -1;
  }
  Utf8Names utf8_names;
  const ArchiveFile file(archive_fd, archive_path);
  return CountEntries(file.fd(), file.why());
}

int Extractor::List() {
  if (dest_path.empty() || archive_path.empty()) {
    LOG_ERROR(kLog, "Invalid argument");
    return -1;
  }
  Utf8Names utf8_names;
  const ArchiveFile file(archive_fd, archive_path);
  archive* reader = OpenForReading(file.fd(), file.why());
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
