// Unpacks the package archive that ships in the running bundle into the per-user application folder,
// with the stage label and per-entry progress sent through Notify_Adapter. Any archive that
// libarchive reads (every format and filter) is accepted. Runs on the worker thread; each call opens
// the archive afresh and frees every libarchive object before it returns.
//
// Nothing an entry says can reach outside dest_path: absolute names, ".." components, entries
// beneath a symbolic link and hard links to anything but a regular file already extracted inside
// dest_path are refused, and the extraction fails. A dest_path that is itself reached through linked
// parent folders (a linked home folder) is fine.
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
  // before the damage.
  int Count();

  // Writes every entry's path and a line feed to standard output. 0, or -1 when the archive cannot
  // be opened; a damaged header ends the listing with 0.
  int List();

  // Copies the data blocks of the entry that `reader` is positioned on to `writer`. 0 or -1.
  int copy_data(archive* reader, archive* writer);
};

#endif  // CORVANE_UI_CLIENT_LAUNCHER_EXTRACTOR_H_
