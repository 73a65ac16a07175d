// The upgrade service: brings the user's private copy of the client (the bundle at the path
// registry's user_corvane_app_path, ~/.Corvane/Corvane.app) to the version that ships in the running
// bundle. Service holds the per-user bundle path and the two version records and implements the
// platform-independent steps: reading versions, extracting the package, replacing the bundle with
// backup and rollback, migrating the predecessor's data, removing its aged folder, copying a tree.
// MacService (mac/mac-service.h) adds the upgrade decision and order, and stopping and starting the
// per-user interface.
//
// Which copy is the good one. Beside the live bundle <app> lie ten backup names, <app>_tmp and
// <app>_tmp1 ... <app>_tmp9; a lower number is an older copy. A backup name only ever holds a whole
// copy that once was the live bundle, or the empty folder <app>_tmp that marks a first installation
// under way; a copy under a backup name is never removed there. To remove one, it is first renamed
// atomically to <app>_trash.<8 random characters> in the same folder (set aside), then removed; what
// cannot be removed (read-only folders, another user's files) stays aside with a WARNING, does not
// count as an unfinished upgrade, and RemoveAgedFolders tries again on every start. Transitions:
//   upgrade:   live -> first free backup name; the package is extracted to a fresh live bundle
//   success:   every backup name set aside, then everything aside removed
//   failure:   the oldest backup holding the interface executable (the last complete installation)
//              is put back: partial live bundle aside, that backup renamed to <app>, the other
//              backup names aside, everything aside removed. With no such backup nothing moves.
// A run killed between any two steps leaves the good copy under <app> or a backup name, where the
// next run's rollback finds it again; a backup name left over makes the next run upgrade again.
//
// The path registry must be filled before a service is made. One service per worker; every operation
// runs on that one thread. Operations call one another through the virtual table, so a subclass that
// overrides one changes the flow.
#ifndef CORVANE_UI_CLIENT_LAUNCHER_CLOUD_SERVICE_H_
#define CORVANE_UI_CLIENT_LAUNCHER_CLOUD_SERVICE_H_

#include <QString>

#include "ustring.h"

// The four texts of an INFO file's [Version] group, exactly as read. Only build_version is ever
// read as a number.
struct VersionInfo {
  ustring major_version;
  ustring minor_version;
  ustring build_version;
  ustring icon_overlay_version;
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
  // Creates user_corvane_app_path and unpacks root_resource_path + "/package/skyhold.hpk" into it.
  // 0, or -1 when the folder cannot be made or the extraction fails (entries written so far stay).
  virtual int ExtractPackage();
  // Fill source_version (the private bundle's INFO) and target_version (the running bundle's INFO).
  // Only fields whose key is present change.
  virtual void LoadSourceVersion();
  virtual void LoadTargetVersion();
  // Renames the private bundle to the first free backup name (or marks a first installation),
  // extracts afresh and then sets every backup name aside and removes it; when the extraction fails,
  // rolls back to the oldest complete backup as described above. 0, or -1: the last complete
  // installation is live again (or, when a rename of the rollback failed, still under its backup
  // name for the next run), or there was none and what the extraction left stays.
  virtual int PrepareUserEnv();
  // Moves the predecessor's data (~/.Skyhold/data) to ~/.Corvane/data and removes ~/.Skyhold. When
  // the data cannot be moved, ~/.Skyhold is kept whole: nothing of the user's data is removed.
  virtual void MigrateService();

  // The user's home folder, the base of every per-user path: HOME, or without it the account's home
  // in the password database (UserHomePath); empty when there is none, and start-up then stops.
  static QString GetUserInstallPath();
  // Removes the predecessor's aged application folder (~/.Skyhold/app), logging the path every time,
  // and every copy of the private bundle set aside by an earlier upgrade that can be removed now.
  void RemoveAgedFolders();
  // Copies a file, or a folder tree (symbolic links are copied as the files they name), from `src`
  // to `dst`. 0, or -1 on the first failure (what was copied stays). A source folder that cannot be
  // listed leaves an empty `dst` and counts as copied.
  int FSCopyPath(const ustring& src, const ustring& dst);

  int timeout;                 // stored by SetTimeout; nothing reads it
  ustring app_path;            // the private bundle, from user_corvane_app_path
  VersionInfo target_version;  // of the package in the running bundle
  VersionInfo source_version;  // of the private bundle
};

// Backup name number `n` of `path`: <path>_tmp for 0, <path>_tmp1 ... <path>_tmp9 for 1 to 9.
ustring GetAppBackupDir(const ustring& path, int n);

// How many backup names a bundle can have (numbers 0 to 9).
constexpr int kAppBackupSlots = 10;

#endif  // CORVANE_UI_CLIENT_LAUNCHER_CLOUD_SERVICE_H_
