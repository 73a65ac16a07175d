// The upgrade record <app>.upgrade: what the launcher remembers of an upgrade of the bundle `app`
// between runs (the states and transitions are described at the top of cloud-service.h), its format,
// and reading and writing it so that no kind of file placed at its names can block or redirect it
// and a power cut never leaves a torn one. No state; the worker thread.
#ifndef CORVANE_UI_CLIENT_LAUNCHER_UPGRADE_RECORD_H_
#define CORVANE_UI_CLIENT_LAUNCHER_UPGRADE_RECORD_H_

#include "ustring.h"

// How many backup names a bundle can have (numbers 0 to 9).
constexpr int kAppBackupSlots = 10;

// The format of the upgrade record this launcher writes ("version=3"). Keys it does not know are
// skipped when read. Records of formats before 3 come from launchers that put the package's INFO in
// place in the package's order, not last: under them a copy with its INFO may still be unfinished.
constexpr int kUpgradeRecordVersion = 3;

// What the launcher remembers of an upgrade of the bundle `app` between runs (see the top of
// cloud-service.h), kept in UpgradeRecordPath(app): only what the copies themselves cannot say.
struct UpgradeRecord {
  enum State { kNone, kUpgrading, kCleaning, kKept };
  State state = kNone;
  // The format it was read in (1: a record without "version").
  int version = kUpgradeRecordVersion;
  // kUpgrading: whether a copy was live when the upgrade began, the backup name number it goes to
  // (-1 in a record of the first format, which named it by good_dev and good_ino), the build its
  // INFO holds (0 when none), and whether it was known whole (no earlier launcher's backup beside it).
  // Without a copy (a first installation) only earlier launchers wrote a record.
  bool good_exists = false;
  int good_backup = -1;
  int good_build = 0;
  bool good_whole = true;
  unsigned long long good_dev = 0, good_ino = 0;
};

// <app>.upgrade.
ustring UpgradeRecordPath(const ustring& app);
// Reads the record of `app`. No record reads as kNone. One that is not a regular file, is larger than
// a record can be or cannot be parsed reads as kNone too, logged at WARNING, and sets `*unusable`.
// Never blocks: a pipe at its name is refused; a link is not followed.
UpgradeRecord ReadUpgradeRecord(const ustring& app, bool* unusable = nullptr);
// Replaces the record of `app` atomically: a temporary file beside it, forced to the drive, renamed
// over it, the folder forced to the drive. Whatever is not a regular file at either name is set
// aside first. 0, or -1 (logged with the name that failed): the old record is still in place, or,
// when only the last sync failed, the new one, not known durable.
int WriteUpgradeRecord(const ustring& app, const UpgradeRecord& record);
// Sets aside whatever lies at the record's names and is not a regular file (a folder, a link, a
// named pipe: nothing a launcher writes), so that it can neither block nor redirect a record; with
// `temporary_too`, when no write can be under way, a temporary file that a write cut short left goes.
void ClearRecordLeftovers(const ustring& app, bool temporary_too);
// Removes the record of `app`, and the temporary file of a write cut short (WARNING when it cannot).
void RemoveUpgradeRecord(const ustring& app);

#endif  // CORVANE_UI_CLIENT_LAUNCHER_UPGRADE_RECORD_H_
