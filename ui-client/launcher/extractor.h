// Unpacks the package archive that ships in the running bundle into the per-user application folder,
// with the stage label and per-entry progress sent through Notify_Adapter. Any archive that
// libarchive reads (every format and filter) is accepted. Runs on the worker thread; each call reads
// the archive through one descriptor, the caller's (archive_fd) or one it opens by name once, for every
// pass (Extract counts, then unpacks: both passes rewind it to the start), and frees every libarchive
// object before it returns. Several threads may each run their own Extractor, each with a descriptor
// of its own: the locale the calls switch to is the calling thread's only.
//
// Entry names are taken as the bytes the archive holds (UTF-8 for pax headers and flagged zip names)
// and written as such, whatever the process locale: each call reads and writes names under a UTF-8
// character type set for the calling thread alone, and puts the thread's locale back before it
// returns. The process-wide locale is never changed.
//
// dest_path must be absolute; it is resolved once, before anything is written, to its real path
// (every symbolic link on the way followed, dest_path itself included), which log lines and refusals
// name. The entries are written below one open folder: dest_fd when the caller made and opened the
// folder itself, else the real path opened once. While it writes, the extraction works in that
// folder as the process's working folder and hands libarchive names relative to it, so that a
// folder moved or replaced meanwhile (dragged to the Trash, set aside by another launcher) takes
// every later entry with it and no other folder that takes its name receives one. Extractions take
// turns for the working folder; nothing else in the launcher resolves a relative name. Nothing
// handed to libarchive runs through a link of the user's: a home folder or ~/.Corvane reached
// through a link keeps its link. A relative dest_path, one that cannot be resolved or opened, or one
// that is not a folder fails (-1) with an ERROR before anything is written.
//
// The entry named hold_back (when set) is put in place last, by the caller: it is written under a
// waiting name beside its place ("." + its name + ".pending"), and PlaceHeldBack renames it in once
// the caller has everything else on the drive. So a copy holds that entry exactly when its
// extraction finished. It must be a regular file; an archive without it fails (-1), and so does an
// entry at its waiting name or a hard link to it.
//
// What is written, each below the destination and never through or over the destination itself:
// - regular files, folders, symbolic links (pointing anywhere; they are not followed when writing)
//   and hard links to a regular file already extracted from the same package;
// - an absolute name lands at <destination>/<name without its leading slashes>, as with bsdtar;
// - a folder entry whose name has no components (".", "./", "/", "") stands for the destination: it
//   is counted for progress and otherwise left alone (its mode is not changed);
// - folders get at least the owner's read, write and search bits whatever the package says, so the
//   owner can always remove or replace the copy; set-id and sticky bits never land; modes are
//   otherwise the package's less the umask; owners and times are not restored;
// - extended attributes, access lists and macOS metadata: no entry keeps a com.apple.quarantine
//   attribute or an access list; other attributes stay on the entry (libarchive is not asked to
//   restore them). On macOS the entry's packed metadata (attributes and access lists) is restored,
//   then, once the writer has closed, the quarantine attribute and any extended access list are
//   removed from every place written from such an entry: a copy that keeps either fails (-1).
// What is refused, with an ERROR "refusing entry '<name>': <why>", and the extraction fails (-1):
// - entries that are not regular files, folders, symbolic links or hard links (FIFOs, devices,
//   sockets, unknown types);
// - any other entry whose name has no components (a file, link or hard link named "." or "");
// - names whose path below the destination reaches the system's limit (PATH_MAX bytes with the
//   terminator: 4096 on Linux, 1024 on macOS) or that have a component longer than NAME_MAX (255)
//   bytes; symbolic-link targets and hard-link targets measured the same way;
// - entries beneath a symbolic link (an earlier entry or something already at that place), under
//   whatever spelling the volume takes for the same name (letter case, Unicode composition);
// - entries on whose way something cannot be looked at: any lstat failure but ENOENT (a component
//   that is a file, ENOTDIR, is refused too);
// - hard links whose target is absolute, has no components or a ".." component, lies beneath a
//   symbolic link, or is not a regular file already extracted inside the destination.
// Names with a ".." component are refused by libarchive's writer (logged as "archive_read_extract2
// failed", the line every failed entry has always written).
// Entries written before a failure stay for the caller to clear away; the destination stays a folder.
#ifndef CORVANE_UI_CLIENT_LAUNCHER_EXTRACTOR_H_
#define CORVANE_UI_CLIENT_LAUNCHER_EXTRACTOR_H_

#include <string>

#include "ustring.h"

struct archive;
struct archive_entry;

class Extractor {
 public:
  ustring dest_path;     // an existing folder that receives the entries
  ustring archive_path;  // the archive to read; named in log lines
  // When not -1, the archive open for reading, read instead of opening archive_path (so that what is
  // read is the file the caller checked, whatever has its name now); its offset is moved. The caller
  // owns it and keeps it open for the call.
  int archive_fd = -1;
  // When not -1, the open folder dest_path named when the caller made it: the entries go below it,
  // wherever it is now. The caller owns it.
  int dest_fd = -1;
  // The name of the entry put in place last (see above), or empty: every entry in archive order.
  ustring hold_back;

  // Counts the entries, then writes each of them below dest_path, replacing what is at an entry's
  // place. 0 when every entry was written; -1 on any failure (an archive without entries included),
  // leaving the entries written so far in place for the caller to clear away.
  int Extract();

  // Number of entries, or -1 when the archive cannot be opened. A damaged archive counts the entries
  // before the damage, and libarchive's reason for stopping is logged.
  int Count();

  // Writes every entry's path and a line feed to standard output. 0, or -1 when the archive cannot
  // be opened; a damaged header ends the listing with 0.
  int List();

  // Copies the data blocks of the entry that `reader` is positioned on to `writer`. 0 or -1.
  int copy_data(archive* reader, archive* writer);
};

// Puts the entry `entry` (an Extractor's hold_back) in place below the open folder `dest_fd` (named
// `dest_shown` in log lines): renames it from its waiting name over its own, never through a link on
// the way, and forces its folder to the drive. 0, or -1 (ERROR): it is not known in place.
int PlaceHeldBack(int dest_fd, const std::string& entry, const ustring& dest_shown);

// Seams for tests, which cannot run on the volumes and systems these steps are for.
namespace extractor_testing {
// 1: treat every destination as a volume that takes names equal when they differ only in letter case
// or Unicode composition (macOS); 0: byte for byte; -1: ask the volume (PathRefVolumeFoldsNames).
// Process-wide; read once at the start of each Extract().
void SetNamesFold(int folds);
// Called in place of archive_write_finish_entry for every entry written (null: the writer's own), so
// that a test can make finishing report what only a Mac's metadata restore does.
void SetFinishEntry(int (*finish)(archive* writer));
// The step every entry passes before it is written: drops its com.apple.quarantine attribute (every
// other extended attribute stays, in order) and its access lists.
void StripPackedMetadata(archive_entry* entry);
}  // namespace extractor_testing

#endif  // CORVANE_UI_CLIENT_LAUNCHER_EXTRACTOR_H_
