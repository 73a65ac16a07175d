// The upgrade service: brings the user's private copy of the client (the bundle at the path
// registry's user_corvane_app_path, ~/.Corvane/Corvane.app) to the version that ships in the running
// bundle. Service holds the per-user bundle path and the two version records and implements the
// platform-independent steps: reading versions, extracting the package, replacing the bundle with
// backup and rollback, migrating the predecessor's data, removing its aged folder, copying a tree.
// MacService (mac/mac-service.h) adds the upgrade decision and order, and stopping and starting the
// per-user interface.
//
// Which copy is whole. A copy is whole exactly when its INFO (Contents/Resources/INFO) is there:
// an installation writes every other entry, puts the copy on the drive, and only then renames INFO
// in from the name it waited under. That survives a copied, restored or hand-changed home, so every
// decision asks it (IsWholeInstallation): the upgrade decision upgrades a live copy without INFO,
// the start never starts one, recovery puts a kept copy back over one, and an earlier run's upgrade
// is finished over one. The installation writes below the folder it made (held open), not below
// whatever has its name, and before INFO goes in and before the record says "cleaning" that folder
// must still be the live one; otherwise the run fails as a failed extraction does.
//
// Which copy is the good one. Beside the live bundle <app> lie ten backup names, <app>_tmp and
// <app>_tmp1 ... <app>_tmp9, and the upgrade record <app>.upgrade, which keeps only what the copies
// cannot say: which backup name holds the copy that was live when the upgrade began, and its build.
// Before anything moves, an upgrade of a whole copy writes the record (atomically: a temporary file
// forced to the drive, renamed over, the folder forced to the drive). A first installation, or one
// over a copy without INFO, has nothing to come back to and writes none. The record is evidence,
// never a licence: every start first checks it against the disk and brings the disk back to one good
// copy (RecoverInstallation), and only then decides. A copy is removed only when a whole copy is live
// (after success), when the record identifies another existing copy as the good one and the live
// one has no INFO, or when it has no INFO and a new extraction needs its name; removal first renames
// it to <app>_trash.<8 random characters> in the same folder (set aside), then removes it; what cannot
// be removed stays aside with a WARNING and RemoveAgedFolders tries again on every start. The
// record's states:
//   upgrading: an extraction may be under way or cut short. While the good copy lies under its
//              backup name and the live copy has no INFO, the next start finishes the upgrade when
//              the shipped package is whole and at least as new as the good copy (MayFinishUpgrade),
//              and otherwise puts the good copy back first. A live copy with INFO is the new one,
//              complete: the backups go as after success. A record whose good copy is nowhere is
//              stale: a WARNING, and it goes. Records of earlier launchers (formats before 3), which
//              put INFO in place in the package's order, still say which live copy is unfinished.
//   cleaning:  the new copy is whole and on the drive; every backup name is set aside and removed,
//              then the record goes. A name that cannot be set aside (a locked or immutable copy)
//              keeps the record in this state, retried on every start, and is no unfinished upgrade.
//   kept:      a failed upgrade put back a copy known whole; backup names that an earlier launcher
//              left stay as they are (old copies, not this run's) until a later upgrade succeeds. A
//              copy that lay beside such names when the upgrade began is not known whole: it is put
//              back without a record, so the next start tries again.
// Transitions:
//   upgrade:   record (upgrading) -> live to its backup name -> extraction into a folder it makes
//              (a first installation: no record; a live copy without INFO set aside and removed first)
//   success:   every file on the drive -> INFO in place -> record (cleaning) -> backup names aside ->
//              removed -> record removed
//   failure:   the folder this run made aside (nothing else) -> the good copy renamed back -> record
//              (kept) or removed; with no good copy what the extraction left stays, without INFO.
// A run ended between any two changes on disk leaves the good copy live or under its backup name and
// the record saying which, or a copy without INFO. Nothing without INFO is ever started. No record
// with a backup name left is a run of an earlier launcher cut short: upgraded once more.
//
// Persistence: a kill at any point loses nothing (every step is a rename, and the record says which
// copy to keep); a power cut loses nothing either, since the record is on the drive before the
// copies move, and the new copy is on the drive before its INFO is renamed in and that rename on the
// drive before the record says "cleaning".
//
// The path registry must be filled before a service is made. One service per worker; every operation
// runs on that one thread. Operations call one another through the virtual table, so a subclass that
// overrides one changes the flow.
#ifndef CORVANE_UI_CLIENT_LAUNCHER_CLOUD_SERVICE_H_
#define CORVANE_UI_CLIENT_LAUNCHER_CLOUD_SERVICE_H_

#include <sys/types.h>

#include <QString>

#include "package-digest.h"
#include "upgrade-record.h"
#include "ustring.h"

// The four texts of an INFO file's [Version] group, exactly as read. Only build_version is ever
// read as a number.
struct VersionInfo {
  ustring major_version;
  ustring minor_version;
  ustring build_version;
  ustring icon_overlay_version;
};

// Where a copy of the bundle keeps its INFO, the entry an installation puts in place last.
constexpr const char* kInstalledInfo = "Contents/Resources/INFO";

// The folder an installation made for its copy, held open, so that the copy is known by the folder
// itself rather than by whatever has its name now. Not copyable; one thread.
class MadeFolder {
 public:
  MadeFolder() = default;
  ~MadeFolder();
  MadeFolder(const MadeFolder&) = delete;
  MadeFolder& operator=(const MadeFolder&) = delete;
  // Makes `path` as a new folder (its parent too when missing) and opens it. 0, or -1 (ERROR "failed
  // to create folder") when it cannot be made, also when anything already has the name.
  int Make(const ustring& path);
  void Close();
  // The open folder, or -1.
  int fd() const { return fd_; }
  // Whether `path` (its last component not followed) is this folder now.
  bool IsAt(const ustring& path) const;

 private:
  int fd_ = -1;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

class Service {
 public:
  Service();
  virtual ~Service();

  // Stops the per-user interface that runs from the private bundle.
  virtual void StopService() = 0;
  virtual void SetTimeout(int value);
  // Stops what runs, migrates the predecessor when needed and replaces the bundle. 0 on success.
  virtual int HandlePackageUpgrade() = 0;
  // Starts the per-user interface.
  virtual void PostUpgrade() = 0;
  // Reads both versions.
  virtual void PreUpgrade() = 0;
  virtual bool IsNeedUpgrade() = 0;
  // Makes user_corvane_app_path as a new folder (made_folder; anything already at the name fails) and
  // unpacks root_resource_path + "/package/skyhold.hpk" below it, INFO kept for last under its
  // waiting name (PlaceHeldBack puts it in place): from shipped_package's descriptor when a check
  // opened it (what is unpacked is what was checked), else opened by name. 0, or -1 when the folder
  // cannot be made or the extraction fails (entries written so far stay).
  virtual int ExtractPackage();
  // Fill source_version (the private bundle's INFO) and target_version (the running bundle's INFO).
  // Only fields whose key is present change.
  virtual void LoadSourceVersion();
  virtual void LoadTargetVersion();
  // With a whole copy live: records the upgrade, renames the private bundle to the first free backup
  // name (a taken one is logged as a failed backup). A live copy without INFO is set aside and
  // removed instead; an upgrade an earlier run cut short is finished over it only when
  // MayFinishUpgrade says so (else its good copy is put back, and -1). Then extracts afresh, puts the
  // new copy on the drive, then its INFO, then sets every backup name aside and removes it; when the
  // extraction or those steps fail, or the live folder is no longer the one it made, puts back the
  // copy the record names, as described above.
  // 0, or -1: the good copy is live again (or, when a rename of the rollback failed or another copy
  // took the live name meanwhile, still under its backup name for the next run), or there was none:
  // what the extraction left stays, without INFO, and the next run upgrades again. Also -1, with
  // nothing moved, when the record cannot be written.
  virtual int PrepareUserEnv();
  // Whether an upgrade cut short, whose good copy the record names, may be finished with the shipped
  // package: never with one older than that copy (a WARNING). The platform's service also wants the
  // package whole.
  virtual bool MayFinishUpgrade(const UpgradeRecord& record);
  // Brings the disk back to one good copy before the upgrade is decided, as described above: removes a
  // stale or unusable record, finishes the clean-up of a successful upgrade (also one whose INFO went
  // in before its record said so), and when an upgrade was cut short with its good copy under a backup
  // name and the live copy without INFO, puts that copy back unless MayFinishUpgrade. Stops the
  // interface before it moves a live copy.
  void RecoverInstallation();
  // Puts the good copy `record` names back from backup name `good`: the interface stopped, the
  // unfinished live copy set aside, the good one renamed back, the record settled. A step that fails
  // leaves the good copy where it is (logged), for the next start.
  void PutGoodCopyBack(const UpgradeRecord& record, int good);
  // Moves the predecessor's data (~/.Skyhold/data) to ~/.Corvane/data and takes ~/.Skyhold away,
  // removing only what was the predecessor's when its data moved: a ~/.Skyhold that links to a folder
  // is migrated from that folder and goes as a link (the folder keeps everything but the data); a
  // folder is set aside in one rename (~/.Skyhold_trash.<random>) and then removed. When the data
  // cannot be moved, ~/.Skyhold is kept whole. A mark in ~/.Corvane (.skyhold-migration) names the
  // ~/.Skyhold entry by inode from before anything moves until nothing is left to do, so that a later
  // start (ResumeMigration) finishes with that entry, or with what was set aside, and never with a
  // ~/.Skyhold made since. A ~/.Skyhold that cannot be set aside stays as it is (ERROR).
  virtual void MigrateService();
  // Whether the predecessor's folder is there to migrate (a link to a folder: that folder), reached
  // through links in the home folder as well.
  bool PredecessorExists();
  // Finishes, on a later start, a migration that an earlier one could not finish. Nothing here; the
  // platform's service stops what may use the data first (MacService).
  virtual void ResumeMigration() {}
  // What is left of a migration an earlier start could not finish, for ResumeMigration. Removes
  // what was set aside at once (it is in nobody's way). Then: the data to move (kData), when it is
  // still in ~/.Skyhold/data, the migration had not yet taken ~/.Skyhold away, and the move can be
  // expected to work now (FSCheckMove); while it cannot, one WARNING says why and the answer is
  // kNothing, so that nothing is stopped for a move bound to fail. Or the ~/.Skyhold entry the mark
  // names, still there without its data, to take away (kFolder). Or nothing, also when MigrateService
  // ran in this start; the mark goes once none of that is left. Every answer but kNothing comes with
  // one WARNING.
  enum class MigrationLeft { kNothing, kFolder, kData };
  MigrationLeft UnfinishedMigration();

  // The user's home folder, the base of every per-user path: HOME, or without it the account's home
  // in the password database (UserHomePath); empty when there is none, and start-up then stops.
  static QString GetUserInstallPath();
  // Removes the predecessor's aged application folder (~/.Skyhold/app; not when ~/.Skyhold is a link,
  // whose folder is the user's), logging the path every time,
  // finishes the removal of backup names a successful upgrade could not finish (record "cleaning"),
  // and removes every copy of the private bundle set aside by an earlier upgrade that can go now.
  void RemoveAgedFolders();
  // Copies a file, or a folder tree (symbolic links are copied as the files they name), from `src`
  // to `dst`. 0, or -1 on the first failure (what was copied stays). A source folder that cannot be
  // listed leaves an empty `dst` and counts as copied.
  int FSCopyPath(const ustring& src, const ustring& dst);

  int timeout;                 // stored by SetTimeout; nothing reads it
  bool migration_ran = false;  // MigrateService ran in this start
  ustring app_path;            // the private bundle, from user_corvane_app_path
  VersionInfo target_version;  // of the package in the running bundle
  VersionInfo source_version;  // of the private bundle

  // The package in the running bundle, opened and checked by the platform's service before anything
  // moves; ExtractPackage reads that descriptor.
  ShippedPackage shipped_package;
  // The folder ExtractPackage made, open while PrepareUserEnv runs.
  MadeFolder made_folder;

 private:
  // PrepareUserEnv's first step: the live name made free, the good copy (if any) under its backup
  // name `*good` and `*record` saying so. 0, or -1 (logged).
  int ClearTheWay(UpgradeRecord* record, int* good);
  // PrepareUserEnv's second step: extraction, durability, INFO, clean-up or rollback. 0 or -1.
  int Install(const UpgradeRecord& record, int good);
};

// The leading decimal number of a build text, 0 without one. Out-of-range numbers are clamped rather
// than wrapped: a huge shipped build must still count as newer.
int BuildNumber(const ustring& text);

// Backup name number `n` of `path`: <path>_tmp for 0, <path>_tmp1 ... <path>_tmp9 for 1 to 9.
ustring GetAppBackupDir(const ustring& path, int n);

// Whether the copy at `app` is whole: its INFO is a file, and no record of an earlier launcher says
// that the live copy is unfinished. A missing copy is not. Only a whole copy is ever started.
bool IsWholeInstallation(const ustring& app);

#endif  // CORVANE_UI_CLIENT_LAUNCHER_CLOUD_SERVICE_H_
