#include "path-ref.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unicode/unorm2.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "ustring.h"

namespace {

// File-system magic numbers (linux/magic.h has most, not all, of them).
constexpr long kMagicNfs = 0x6969;
constexpr long kMagicSmb = 0x517b;
constexpr long kMagicCifs = static_cast<long>(0xff534d42);
constexpr long kMagicSmb2 = static_cast<long>(0xfe534d42);
constexpr long kMagicMsdos = 0x4d44;
constexpr long kMagicExfat = 0x2011bab0;
constexpr long kMagicNtfs = 0x5346544e;
constexpr long kMagicHfs = 0x4244;
constexpr long kMagicHfsPlus = 0x482b;
constexpr long kMagicIso9660 = 0x9660;
constexpr long kMagicExt4 = 0xef53;  // also ext2 and ext3
constexpr long kMagicF2fs = static_cast<long>(0xf2f52010);
constexpr long kMagicTmpfs = 0x01021994;
constexpr long kMagicXfs = 0x58465342;
constexpr long kMagicBtrfs = 0x9123683e;
constexpr long kMagicOverlay = 0x794c7630;
constexpr long kMagicFuse = 0x65735546;
constexpr long kMagicProc = 0x9fa0;
constexpr long kMagicRamfs = static_cast<long>(0x858458f6);
constexpr long kMagicSquashfs = 0x73717368;

constexpr int kMaxLinks = 40;  // the kernel's own limit

struct VolumeName {
  long magic;
  const char* name;
};

constexpr VolumeName kVolumeNames[] = {
    {kMagicNfs, "nfs"},     {kMagicSmb, "smbfs"},      {kMagicCifs, "smbfs"},  {kMagicSmb2, "smbfs"},
    {kMagicMsdos, "msdos"}, {kMagicExfat, "exfat"},    {kMagicNtfs, "ntfs"},   {kMagicHfs, "hfs"},
    {kMagicHfsPlus, "hfs"}, {kMagicIso9660, "cd9660"}, {kMagicExt4, "ext4"},   {kMagicF2fs, "f2fs"},
    {kMagicTmpfs, "tmpfs"}, {kMagicXfs, "xfs"},        {kMagicBtrfs, "btrfs"}, {kMagicOverlay, "overlay"},
    {kMagicFuse, "fuse"},   {kMagicProc, "proc"},
};

// How a volume matches names: byte for byte; always ignoring case (FAT, SMB, HFS+, ...); or ignoring
// case only in folders marked case-folding, where the kernel supports that for the volume's kind.
enum class NameMatching { kExact, kFolds, kPerFolder };

bool KernelFoldsFor(long magic) {
  static const bool ext4 = access("/sys/fs/ext4/features/casefold", F_OK) == 0;
  static const bool f2fs = access("/sys/fs/f2fs/features/casefold", F_OK) == 0;
  static const bool tmpfs = access("/sys/fs/tmpfs/features/casefold", F_OK) == 0;
  switch (magic) {
    case kMagicExt4:
      return ext4;
    case kMagicF2fs:
      return f2fs;
    case kMagicTmpfs:
      return tmpfs;
    default:
      return false;
  }
}

// Only kinds known to match names byte for byte count as exact. Every other kind may fold: a FUSE,
// NFS, 9p or virtiofs volume passes on the names of whatever serves it (an exFAT stick, a Mac's
// shared folder), and taking a folding volume as exact lets two spellings of one name pass as two.
NameMatching MatchingOf(long magic) {
  switch (magic) {
    case kMagicExt4:
    case kMagicF2fs:
    case kMagicTmpfs:
      return KernelFoldsFor(magic) ? NameMatching::kPerFolder : NameMatching::kExact;
    case kMagicXfs:
    case kMagicBtrfs:
    case kMagicOverlay:  // the kernel refuses case-folding layers
    case kMagicProc:
    case kMagicRamfs:
    case kMagicSquashfs:
      return NameMatching::kExact;
    default:
      return NameMatching::kFolds;
  }
}

bool FolderIsCaseFolding(const char* folder) {
  int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool folds = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL) != 0;
  close(fd);
  return folds;
}

// Remembers, for one resolution, how each volume met on the way matches names.
class VolumeCache {
 public:
  bool FolderMayFold(const char* folder, dev_t dev) {
    NameMatching matching = NameMatching::kExact;
    bool known = false;
    for (const auto& [d, m] : seen_) {
      if (d == dev) {
        matching = m;
        known = true;
        break;
      }
    }
    if (!known) {
      struct statfs fs;
      if (statfs(folder, &fs) == 0) matching = MatchingOf(static_cast<long>(fs.f_type));
      seen_.emplace_back(dev, matching);
    }
    if (matching == NameMatching::kPerFolder) return FolderIsCaseFolding(folder);
    return matching == NameMatching::kFolds;
  }

 private:
  std::vector<std::pair<dev_t, NameMatching>> seen_;
};

int StatusOf(int err) {
  switch (err) {
    case ENOENT:
      return kPathRefNotFound;
    case ENOTDIR:
      return kPathRefNotFolder;
    case ELOOP:
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

// Equal ignoring letter case and Unicode composition. A name that is not UTF-8 is equivalent to
// none.
bool EquivalentNames(const ustring& a, const ustring& b) {
  if (!ustring::is_valid(a) || !ustring::is_valid(b)) return false;
  UErrorCode err = U_ZERO_ERROR;
  int32_t order =
      unorm_compare(reinterpret_cast<const UChar*>(a.c_str_utf16()), -1,
                    reinterpret_cast<const UChar*>(b.c_str_utf16()), -1, U_COMPARE_IGNORE_CASE, &err);
  return U_SUCCESS(err) && order == 0;
}

int ReadLink(const std::string& path, std::string* target) {
  char buf[kPathRefMaxPath];
  ssize_t n = readlink(path.c_str(), buf, sizeof(buf));
  if (n < 0) return StatusOf(errno);
  if (static_cast<size_t>(n) >= sizeof(buf)) return kPathRefTooLong;
  target->assign(buf, static_cast<size_t>(n));
  return kPathRefOk;
}

}  // namespace

std::string PathRefStoredEntryName(const std::string& folder, const std::string& name, ino_t ino) {
  DIR* dir = opendir(folder.empty() ? "/" : folder.c_str());
  if (dir == nullptr) return name;
  const ustring wanted(name);
  std::string by_name_and_inode, by_name, by_inode;
  bool exact = false;
  while (struct dirent* entry = readdir(dir)) {
    if (strcmp(entry->d_name, name.c_str()) == 0) {
      exact = true;
      break;
    }
    bool same_inode = entry->d_ino == ino;
    if (EquivalentNames(ustring(entry->d_name), wanted)) {
      if (same_inode) {
        by_name_and_inode = entry->d_name;
        break;
      }
      if (by_name.empty()) by_name = entry->d_name;
    } else if (same_inode && by_inode.empty()) {
      by_inode = entry->d_name;
    }
  }
  closedir(dir);
  if (exact) return name;
  for (const std::string* found : {&by_name_and_inode, &by_name, &by_inode}) {
    if (!found->empty()) return *found;
  }
  return name;
}

int PathRefMakeStoredPath(const char* path, bool follow_last, std::string* stored) {
  if (path == nullptr || *path == '\0') return kPathRefBadPath;

  // `rest` is what is still to be walked; `resolved` what has been, without a trailing separator
  // ("" is the root). `devices` holds the device of each resolved folder, the root's first.
  std::string rest;
  if (path[0] != '/') {
    char cwd[kPathRefMaxPath];
    if (getcwd(cwd, sizeof(cwd)) == nullptr) return errno == ERANGE ? kPathRefTooLong : kPathRefBadPath;
    rest = cwd;
    rest += '/';
  }
  rest += path;

  struct stat st;
  if (lstat("/", &st) != 0) return StatusOf(errno);
  const dev_t root_device = st.st_dev;
  std::vector<dev_t> devices{root_device};
  std::string resolved;
  VolumeCache volumes;
  int links = 0;
  size_t pos = 0;

  while (true) {
    pos = rest.find_first_not_of('/', pos);
    if (pos == std::string::npos) break;
    size_t end = rest.find('/', pos);
    if (end == std::string::npos) end = rest.size();
    const std::string component = rest.substr(pos, end - pos);
    const size_t next = rest.find_first_not_of('/', end);
    const bool last = next == std::string::npos;
    const bool must_be_folder = !last || end < rest.size();  // more to come, or a trailing separator
    pos = end;

    if (component == ".") continue;
    if (component == "..") {
      if (devices.size() > 1) {
        resolved.erase(resolved.rfind('/'));
        devices.pop_back();
      }
      continue;
    }

    std::string candidate = resolved + '/' + component;
    if (lstat(candidate.c_str(), &st) != 0) return StatusOf(errno);

    if (S_ISLNK(st.st_mode) && (must_be_folder || follow_last)) {
      if (++links > kMaxLinks) return kPathRefLinkLoop;
      std::string target;
      if (int status = ReadLink(candidate, &target); status != kPathRefOk) return status;
      if (target.empty()) return kPathRefNotFound;
      rest = target + rest.substr(end);
      pos = 0;
      if (target[0] == '/') {
        resolved.clear();
        devices.assign(1, root_device);
      }
      continue;
    }
    if (must_be_folder && !S_ISDIR(st.st_mode)) return kPathRefNotFolder;

    const std::string folder = resolved.empty() ? "/" : resolved;
    if (volumes.FolderMayFold(folder.c_str(), devices.back())) {
      resolved += '/';
      resolved += PathRefStoredEntryName(folder, component, st.st_ino);
    } else {
      resolved = std::move(candidate);
    }
    if (resolved.size() >= kPathRefMaxPath) return kPathRefTooLong;
    devices.push_back(st.st_dev);
  }

  *stored = resolved.empty() ? "/" : resolved;
  return kPathRefOk;
}

int PathRefVolumeFoldsNames(const char* path, bool* folds) {
  struct statfs fs;
  if (statfs(path, &fs) != 0) return -1;
  switch (MatchingOf(static_cast<long>(fs.f_type))) {
    case NameMatching::kExact:
      *folds = false;
      break;
    case NameMatching::kFolds:
      *folds = true;
      break;
    case NameMatching::kPerFolder: {
      struct stat st;
      std::string folder = path;
      if (stat(path, &st) == 0 && !S_ISDIR(st.st_mode)) {
        const size_t slash = folder.rfind('/');
        folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
      }
      *folds = FolderIsCaseFolding(folder.c_str());
      break;
    }
  }
  return 0;
}

int PathRefVolumeType(const char* path, std::string* type_name) {
  struct statfs fs;
  if (statfs(path, &fs) != 0) return -1;
  const long magic = static_cast<long>(fs.f_type);
  for (const VolumeName& known : kVolumeNames) {
    if (known.magic == magic) {
      *type_name = known.name;
      return 0;
    }
  }
  char hex[24];
  snprintf(hex, sizeof(hex), "0x%lx", static_cast<unsigned long>(magic));
  *type_name = hex;
  return 0;
}
