// The file layer: what is at a path, folders and their listings, copying, moving and removing files
// and trees, links, temporary names and small path and volume queries. Every path is a UTF-8
// ustring. Results are codes: 0 for success, negative for failure (the codes of each function are
// below), and every failure is logged under "file_op_debug" where it is detected.
//
// "Stored form" is the path as the file system keeps it: absolute, parent links resolved, no "." or
// "..", no doubled or trailing separators, each name spelled as its folder lists it. An `exact`
// test accepts a path only when it is given in that form (Unicode composition aside).
//
// No shared state and no locks: any thread may call any function (FSCreateTempPath shares the
// process-wide TmpNameGen, which locks for itself; FSSetFullSync is for tests, before any copy). Records and
// handles belong to one thread.
#ifndef CORVANE_LIB_FILE_FILE_OP_H_
#define CORVANE_LIB_FILE_FILE_OP_H_

#include <dirent.h>

#include <cstdint>
#include <functional>

#include "ustring.h"

// Type codes of _FILE_INFO_tag::type and DIR_ENTRY::type. No file maps to 4.
enum {
  FILE_TYPE_NONE = 0,  // nothing at the path; in a listing, a type the stream does not report
  FILE_TYPE_REGULAR = 1,
  FILE_TYPE_DIRECTORY = 2,
  FILE_TYPE_SYMLINK = 3,  // the link itself: links are never followed
  FILE_TYPE_DEVICE = 5,   // character or block device
  FILE_TYPE_FIFO = 6,
  FILE_TYPE_SOCKET = 7,
};

// What is at a path. Filled by GetFileInfo; a plain value.
struct _FILE_INFO_tag {
  ustring path;  // after GetFileInfo on an existing file: its stored form
  ustring name;  // last component of `path` (FSBaseName)
  int type = FILE_TYPE_NONE;
  int32_t mtime = 0;  // seconds since 1970, cut to 32 bits
  int64_t size = 0;   // as the file system reports it, for every type
  bool exists = false;
  uint32_t uid = 0;
  uint32_t gid = 0;
  uint32_t mode = 0;  // type and permission bits
  int64_t dev = 0;
};

// Fills `info` from lstat (a link in the last component is described, not followed) and sets `path`
// and `name` to the stored form. A missing file (ENOENT, also for a missing parent) is success with
// `exists` false, `path` the given text and every number 0. -1 for any other lstat failure (such as
// ENOTDIR through a file; `info` untouched), or when the stored form cannot be found (`info` then
// holds the status with the given path).
int GetFileInfo(const ustring& path, _FILE_INFO_tag& info);
// Whether something is at `path`; with `exact`, only when `path` is given in its stored form.
// False for an empty path and for every failure.
bool IsFileExist(const ustring& path, bool exact);
// IsFileExist and GetFileInfo in one resolution. -1 for an empty path (`info` untouched). When
// nothing is found, it cannot be read, or (with `exact`) it is not under this spelling: 0 with only
// `info.exists` set to false. Else 0 with `info` filled. (-2, a failure between the two steps, cannot
// occur: one resolution serves both.)
int FSStat(const ustring& path, _FILE_INFO_tag& info, bool exact);
// Equal `exists`, `size`, `mtime`, `type`, `path` and `name`; owner, mode and device do not count.
bool operator==(const _FILE_INFO_tag& a, const _FILE_INFO_tag& b);
bool operator!=(const _FILE_INFO_tag& a, const _FILE_INFO_tag& b);
bool FSTimeEqual(long a, long b);

// Folder listings.
constexpr int32_t DIR_FLAG_STAT = 1;  // FSReadDir fills mtime and size of each entry

// An open listing. Owns its stream from a successful FSOpenDir until FSCloseDir; nothing closes it
// on its own.
struct DIR_HANDLE {
  ustring path;
  int32_t flags = 0;
  DIR* dir = nullptr;
};

struct DIR_ENTRY {
  ustring name;               // the last component only
  int type = FILE_TYPE_NONE;  // as the stream reports it, without a status call
  int32_t mtime = 0;          // with DIR_FLAG_STAT, else 0
  int64_t size = 0;           // with DIR_FLAG_STAT, else 0
};

// Creates the folder `path` (with `recursive`, its missing parents too; the umask applies).
// 0 when created or already a folder. -1 for an empty path, unreadable information, or something
// else at the path; a link to a folder counts as something else. -2 when creation fails (errno set).
int FSMKDir(const ustring& path, bool recursive);
// Creates every missing folder along `path` (relative paths from the working folder). A folder or a
// link to one is accepted as it is. Something else in the way is removed when `replace` is true;
// otherwise, as the last component it fails with EEXIST, and in the middle the creation below it
// fails (ENOTDIR). `mode` 0xFFFF means 0777 less the umask; any other value is given exactly to
// every folder created. When `stop_pos` is not null it is set to point into path's own text at the
// end of the last component handled (the separator after it, or the terminator).
// 0, or -1 with errno set.
int FSMKDirP(const ustring& path, char** stop_pos, bool replace, unsigned short mode);
// Creates the folders of `target` below the existing `root`, one level at a time. `root` must be
// a parent folder of `target` by FSIsParentFolder. 0 (also when target equals root), or -1.
int FSMKDirFromRoot(const ustring& target, const ustring& root);
// 0 with `handle` open, or -1 with `handle` unchanged.
int FSOpenDir(const ustring& path, int flags, DIR_HANDLE& handle);
// 1 an entry was read (".", ".." included, in stream order); 0 no more; -1 the entry's
// information could not be read (DIR_FLAG_STAT only).
int FSReadDir(DIR_HANDLE& handle, DIR_ENTRY& entry);
// Closes a handle opened by FSOpenDir, once.
int FSCloseDir(DIR_HANDLE& handle);

// Copies the bytes of one file through an 8 KiB buffer and flushes the destination to disk; a file
// with holes keeps them (only its data is written), where the volume tells where they are. The
// destination is created or emptied; a new one gets 0666, or with `keep_mode` the source's
// permission bits, less the umask (an existing one keeps its bits). With `remove_src` the source is
// removed once the copy is safely on disk. 0; -1 failure (also when src and dst are the same file,
// or when only the removal failed); -2 the destination volume is full or over quota. A failed copy
// leaves the partial destination and never removes the source.
int FSCopy(const ustring& src, const ustring& dst, bool remove_src, bool keep_mode);
// The call that makes FSCopy's destination durable before fsync is tried: on macOS
// fcntl(fd, F_FULLFSYNC), since fsync there leaves the data in the drive's own cache, which a power
// cut loses; on Linux none (nullptr), fsync reaching the drive. Where the volume refuses it
// (ENOTSUP, EINVAL, ENOTTY: network and FAT volumes, some disk images), fsync serves; any other
// failure is the copy's failure. For tests: sets the call and returns the one it replaces.
using FSFullSyncCall = int (*)(int fd);
FSFullSyncCall FSSetFullSync(FSFullSyncCall call);
// Moves a file, a link or a folder tree. With `exact`, a source not given in its stored form counts
// as missing. Trailing separators and "." components of `src` are dropped: "link/" moves the link,
// not its target; a `dst` written with a trailing separator takes only a folder.
// What may wait at `dst` is rename()'s rule on every volume: a folder replaces only nothing or an
// empty folder (newer data in a folder there is never overwritten); a file or link replaces
// anything but a folder.
// Across volumes the entry is copied under the temporary name "." + dst's name + ".corvane-move"
// beside `dst` (a folder with every file, link and subfolder, each with its permission bits, access
// and modification times and extended attributes, and files that are hard links of one another in
// the tree linked again, all flushed to disk; what the destination volume cannot hold is lost with a
// WARNING), renamed into place once complete, and only then is the source removed: `dst`
// appears only whole, and a move cut off at any point leaves the source whole (the next move to
// `dst` clears its leftover). When a folder moves, the missing folders above `dst` are made. No
// link is ever followed: an entry swapped for a link, or a folder moved away, during the walk stops
// the move.
// Devices cannot cross volumes, nor can a pipe or a socket moved by itself; inside a folder, named
// pipes and sockets hold no data and are left out with a WARNING. A file with holes is copied with
// its holes. What FSCheckMove would refuse (a folder this process could not empty afterwards, a file
// it cannot read, a device, too little room on the other volume: ENOSPC) is refused before anything
// is copied. A failed move removes its partial copy.
// Any depth is moved with a bounded number of open descriptors.
// 0; -1 an empty path; -2 the source is missing or unreadable; -3 the move failed (the source is
// whole, except when the failure came after the copy was in place: then both stand);
// -100 a name is too long. Its own log lines are DEBUG (callers report the failure), but for what
// a move leaves out or loses (WARNING); the copy's lines are FSCopy's.
int FSRename(const ustring& src, const ustring& dst, bool exact);
// Whether FSRename(src, dst) can be expected to succeed now, told without changing anything:
// rename()'s rule for what waits at `dst`, write permission where the rename or the removal of the
// source needs it, and across volumes what the move would otherwise find half-way: every folder
// listable and emptiable, every file readable, no device, and room on the destination's volume for
// the copy (the blocks the tree holds, so a file with holes counts only its data, plus a margin).
// `dst`'s folder must exist. 0, or -1 with errno set (ENOSPC, EACCES, ENOTEMPTY, EXDEV for a device,
// ...) and `blocked` naming the entry or folder in the way. Logs nothing. What changes between the
// check and the move (a file written meanwhile, a read error) can still make the move fail.
int FSCheckMove(const ustring& src, const ustring& dst, ustring& blocked);
// Removes a file, a link (never its target) or a folder with everything in it, at any depth with a
// bounded number of open descriptors. Trailing separators and "." components are dropped first, so
// "link/" removes the link alone. Links are removed, never followed: a folder swapped for a link
// during the walk, or moved away from it, stops it. Permission bits are not overridden; a folder
// that cannot be listed is removed only if it is empty. The second parameter has no effect.
// 0 removed or nothing there; -1 empty path or unreadable information; -3 something could not be
// removed (the entries removed before it stay removed; errno from the failing call). Logs only at
// DEBUG: callers report the failure.
int FSRemove(const ustring& path, bool);
// Access and modification times in whole seconds; a link gets its own times. 0 or -1, no log.
int FSUTime(const ustring& path, long atime, long mtime);
// Owner and group of the path itself (a link, not its target). 0 or -1.
int FSChown(const ustring& path, unsigned int uid, unsigned int gid);
// Creates at `link` a symbolic link whose content is `target`. 0 or -1.
int FSCreateSymbolicLink(const ustring& target, const ustring& link);
// The content of the link, at most 1023 bytes. 0 or -1 (longer content included).
int FSReadSymbolicLink(const ustring& link, ustring& target);

// Creates a new empty file with a unique name in `dir`, permission bits 0644; `path` is its name.
// 0 or -1.
int FSMktemp(const ustring& dir, ustring& path);
// `path` = dir + "/" + 8 random characters. Creates nothing and does not check the name is free.
// 0, or -1 if the result were empty.
int FSCreateTempPath(const ustring& dir, ustring& path);

// Text up to the last separator: "/" when there is none or it is the first byte
// ("" -> "/", "a" -> "/", "/a" -> "/", "/a/b" -> "/a", "/a/b/" -> "/a/b").
ustring FSParentPath(const ustring& path);
// Text after the last separator ("/a/b/" -> ""), or the whole path when there is none.
ustring FSBaseName(const ustring& path);
// Whether `path` is `parent` or lies below it, by bytes: /a holds /a and /a/b, not /ab; a parent
// written with a trailing separator holds only itself.
bool FSIsParentFolder(const ustring& parent, const ustring& path);
// Replaces `path` with its stored form, the last link resolved too. 0, or -1 with `path` unchanged.
int FSGetRealPath(ustring& path);
// access(path, mode) fails with EACCES or EPERM. A missing file is not locked.
bool isFileLocked(const ustring& path, int mode);
// access(path, mode) does not fail with EACCES or EPERM. A missing file counts as permitted.
bool hasFilePermission(const ustring& path, int mode);
// Whether `path` lies on a network volume (NFS, SMB/CIFS, AFP). False when it cannot be told.
bool isMountPoint(const ustring& path);
// Whether `path` lies on a FAT volume. False when it cannot be told.
bool IsMSDOS(const ustring& path);

// Durability (file-sync.cpp). What is synced is on the drive itself, past its cache, when the call
// returns 0; a descriptor or volume that cannot be synced at all (EINVAL, EROFS, ENOTSUP: a pipe, a
// read-only or some network volumes) counts as synced, since nothing more can be done for it.
//
// Forces what was written to the open file or folder `fd` onto the drive: the full-sync call
// (FSSetFullSync), fsync where the volume refuses it. 0, or -1 with errno.
int FSSyncDescriptor(int fd);
// Puts the data of every file and every folder entry below `path` (itself included; links are not
// followed) on the drive, before a step that relies on the whole tree is recorded. On Linux one
// syncfs of the volume that holds it; on macOS, which has none, every file and folder is fsynced
// (which hands its data to the drive) and then one full sync of `path` flushes the drive's cache for
// all of them. 0, or -1 with errno, logged with the path that failed.
int FSSyncTree(const ustring& path);
// The macOS way of FSSyncTree, on any platform: each file and folder, then one full sync. A file this
// process owns but may not read (mode 0000, 0111) is synced all the same: it gets the owner's read
// permission for its open and its exact mode back before its sync (each mode change announced to the
// change hook). A folder that cannot be listed fails the sync (the extractor leaves every folder
// open to its owner).
int FSSyncTreeFileByFile(const ustring& path);
// For tests: the call FSSyncTree uses; returns the one it replaces.
using FSTreeSyncCall = int (*)(const ustring& path);
FSTreeSyncCall FSSetTreeSync(FSTreeSyncCall call);
// Test seam: `hook` runs after every successful sync of the calls above, with the descriptor synced
// and whether its volume was synced as a whole (syncfs) or only that file or folder. Same rules as
// FSSetChangeHook.
enum class FSSyncScope { kEntry, kVolume };
void FSSetSyncHook(std::function<void(int fd, FSSyncScope scope)> hook);
// Calls the sync hook, when one is set.
void FSAfterSync(int fd, FSSyncScope scope);

// Test seam: `hook` runs before every change this layer makes on disk (each rename, unlink, rmdir,
// mkdir, file creation, link, the metadata changes of FSUTime and FSChown, and the modes the tree
// sync lends an unreadable file and puts back), and before each
// change that code outside the layer announces with FSBeforeChange (the extractor, once per entry).
// A test makes a run end at its N-th change with it. Set it before the run starts, from the thread
// that runs it; an empty function removes it. Not for production use.
void FSSetChangeHook(std::function<void()> hook);
// Calls the change hook, when one is set. For writers that change the disk without this layer.
void FSBeforeChange();

#endif  // CORVANE_LIB_FILE_FILE_OP_H_
