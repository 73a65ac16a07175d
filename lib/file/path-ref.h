// Where a volume keeps a path, what kind of volume holds it and whether it folds names: the facts the
// file layer asks of the platform. Two implementations, one per platform build: path-ref-mac.cpp
// asks the volume (realpath and getattrlist for the stored spelling, statfs's f_fstypename,
// pathconf's _PC_CASE_SENSITIVE); path-ref.cpp, on Linux, walks the path itself and reads folder
// entries where a volume folds names, and names kinds by their magic numbers.
//
// Stateless apart from a once-read note of the kernel's case-folding support (Linux); any thread
// may call. Nothing here logs: callers log the status codes.
#ifndef CORVANE_LIB_FILE_PATH_REF_H_
#define CORVANE_LIB_FILE_PATH_REF_H_

#include <sys/types.h>

#include <string>

// Non-zero results of PathRefMakeStoredPath.
enum PathRefStatus {
  kPathRefOk = 0,
  kPathRefBadPath = 1,    // empty path, or the working folder is gone
  kPathRefNotFound = 2,   // a component does not exist
  kPathRefNotFolder = 3,  // a component that must be a folder is not one
  kPathRefLinkLoop = 4,   // more symbolic links on the way than the system follows (Linux 40, macOS 32)
  kPathRefNoAccess = 5,   // a folder on the way may not be searched
  kPathRefTooLong = 6,    // a component is too long, or the path (4096 bytes with the terminator;
                          // macOS's calls take no more than 1024)
  kPathRefIOError = 7,    // any other failure of the file system
};

// The longest resolved path, terminator included (the buffer size CoreServices callers use); macOS
// itself takes paths of up to 1024 bytes.
constexpr size_t kPathRefMaxPath = 4096;

// Resolves `path` (absolute, or relative to the working folder) to the form in which the file
// system stores it: absolute; every symbolic link in the parent folders resolved; no "." or "..";
// no doubled or trailing separators; and each component spelled as its folder entry is, so that on
// a volume that found a name ignoring letter case or Unicode composition the entry's own name is
// used. With `follow_last` false a symbolic link in the last component stays a link; with true it
// is resolved as well. A trailing separator means the last component must be a folder, and a link
// there is resolved (as for "name/.").
// 0 with `stored` set, or a PathRefStatus (`stored` untouched).
int PathRefMakeStoredPath(const char* path, bool follow_last, std::string* stored);

// The name of the kind of file system that holds `path`, spelled as BSD's statfs does: "nfs",
// "smbfs" (SMB/CIFS), "msdos" (FAT), "exfat", "ntfs", "hfs", "apfs", "cd9660", ...; on macOS the
// volume's own f_fstypename. On Linux also "ext4", "tmpfs", ...; a kind without such a name is "0x"
// and its magic number in hex ("apfs" and "afpfs" have no Linux counterpart).
// 0, or -1 with errno from statfs.
int PathRefVolumeType(const char* path, std::string* type_name);

// Whether the volume holding `path` treats two names as one when they differ only in letter case
// or in Unicode composition (a folder "a" then found as "A"): so that a caller keeping its own
// record of names made on that volume can key it as the volume matches. A volume not known to match
// byte for byte counts as folding: the cost is only names taken as one. On macOS: a volume that
// pathconf's _PC_CASE_SENSITIVE does not call case-sensitive, and every APFS or HFS volume,
// case-sensitive or not, since both ignore composition. On Linux: every kind except xfs, btrfs,
// overlay, ramfs, squashfs and proc, which never fold, and ext4, f2fs and tmpfs, which fold only
// inside folders marked case-folding: there whether `path` (or, when it is not a folder, the folder
// holding it) is so marked, as the folders made inside it are. So FUSE, NFS, 9p and virtiofs fold.
// 0 with `folds` set, or -1 with errno from statfs (`folds` untouched).
int PathRefVolumeFoldsNames(const char* path, bool* folds);

#ifndef __APPLE__
// Linux only, declared for its tests (macOS's volumes tell the name themselves): the name under
// which `folder` lists the object that a lookup of `name` found (inode `ino`). `name` itself when an
// entry has exactly those bytes or when no entry matches; otherwise the entry that equals it
// ignoring case and Unicode composition, preferring one with inode `ino`, else the entry with inode
// `ino` (a FAT short name).
std::string PathRefStoredEntryName(const std::string& folder, const std::string& name, ino_t ino);
#endif

#endif  // CORVANE_LIB_FILE_PATH_REF_H_
