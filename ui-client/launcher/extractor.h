// Unpacks the package archive that ships in the running bundle into the per-user application folder,
// with the stage label and per-entry progress sent through Notify_Adapter. Any archive that
// libarchive reads (every format and filter) is accepted. Runs on the worker thread; each call opens
// the archive afresh and frees every libarchive object before it returns. Several threads may each
// run their own Extractor: the locale the calls switch to is the calling thread's only.
//
// Entry names are taken as the bytes the archive holds (UTF-8 for pax headers and flagged zip names)
// and written as such, whatever the process locale: each call reads and writes names under a UTF-8
// character type set for the calling thread alone, and puts the thread's locale back before it
// returns. The process-wide locale is never changed.
//
// What is written, each below dest_path and never through or over dest_path itself:
// - regular files, folders, symbolic links (pointing anywhere; they are not followed when writing)
//   and hard links to a regular file already extracted from the same package;
// - an absolute name lands at dest_path/<name without its leading slashes>, as with bsdtar;
// - a folder entry whose name has no components (".", "./", "/", "") stands for dest_path: it is
//   counted for progress and otherwise left alone (dest_path's mode is not changed);
// - folders get at least the owner's read, write and search bits whatever the package says, so the
//   owner can always remove or replace the copy; set-id and sticky bits never land; modes are
//   otherwise the package's less the umask; owners and times are not restored.
// What is refused, with an ERROR naming the entry, and the extraction fails (-1):
// - entries that are not regular files, folders, symbolic links or hard links (FIFOs, devices,
//   sockets, unknown types);
// - any other entry whose name has no components (a file, link or hard link named "." or "");
// - names with a ".." component (refused by libarchive's writer);
// - entries beneath a symbolic link (an earlier entry or something already at that place);
// - hard links whose target is absolute, has no components or a ".." component, lies beneath a
//   symbolic link, or is not a regular file already extracted inside dest_path.
// A dest_path that is itself reached through linked parent folders (a linked home folder) is fine.
// Entries written before a failure stay for the caller to clear away; dest_path stays a folder.
#ifndef CORVANE_UI_CLIENT_LAUNCHER_EXTRACTOR_H_
#define CORVANE_UI_CLIENT_LAUNCHER_EXTRACTOR_H_

#include "ustring.h"

struct archive;

class Extractor {
 public:
  ustring dest_path;     // an existing folder that receives the entries
  ustring archive_path;  // the archive to read

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

#endif  // CORVANE_UI_CLIENT_LAUNCHER_EXTRACTOR_H_
