// Moving a file, a link or a folder tree to another volume, where rename() says EXDEV, and telling
// beforehand whether such a move could finish: the cross-volume part of FSRename and FSCheckMove
// (file-op.cpp). Internal to the file layer, not part of its public interface (file-op.h).
//
// rename() cannot cross volumes, so there a move is a copy, built under a temporary name beside the
// destination and renamed into place once complete; only then is the source removed. The
// destination thus appears only whole, and a move cut off at any point leaves the source whole.
// As for rename(), a folder replaces only a missing destination or an empty folder, and a file or
// link replaces anything but a folder: newer data waiting at the destination is never overwritten.
// The copy never follows a link: an entry swapped for a link during the walk stops the move.
//
// The move's own failures are logged at DEBUG only: FSRename's callers report them. The copy's
// lines keep FSCopy's texts and levels.
//
// No shared state: any thread may call, each move holding descriptors of its own.
#ifndef CORVANE_LIB_FILE_MOVE_ACROSS_H_
#define CORVANE_LIB_FILE_MOVE_ACROSS_H_

#include <sys/stat.h>

#include <string>

namespace file_internal {

// Logs a failed step of a move at DEBUG and keeps errno. -1.
int MoveFailed(const char* step, const std::string& path);

// The folder that holds `path`, opened (links on the way are followed, as rename follows them); the
// entry's name in it, and the folder's path. The descriptor, or -1 with errno set (EINVAL when the
// last component names no entry of its own: "." or "..").
int OpenParentOf(const std::string& path, std::string* name, std::string* parent);

// rename()'s rule for the destination `name` of `dir`, checked before anything is copied: a folder
// takes the place only of nothing or of an empty folder, anything else only of what is not a
// folder. 0, or -1 with errno as rename() would set it (also when the destination cannot be read).
int CheckDestination(int dir, const std::string& name, bool folder);

// Whether the entry `name` of the open folder `from` (named `from_path`) can be copied into the
// open folder `to` on another volume: SurveyEntryAt, then room for it there. 0, or -1 with errno set
// and `*blocked` naming the entry in the way, or `dst` when room is short.
int CheckCopyAcross(int from, const std::string& name, const std::string& from_path, int to,
                    const std::string& dst, std::string* blocked);

// The move of FSRename once rename() has said EXDEV: `st` is the source's own status. A folder's
// destination gets its missing parent folders. 0, or -1 with errno set (the source whole unless
// only its removal failed, with the copy complete in place).
int MoveToOtherVolume(const std::string& src, const std::string& dst, const struct stat& st);

}  // namespace file_internal

#endif  // CORVANE_LIB_FILE_MOVE_ACROSS_H_
