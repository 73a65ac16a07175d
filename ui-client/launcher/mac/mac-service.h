// The macOS upgrade service: decides whether the private bundle must be replaced, runs the upgrade in
// its order, and stops and starts the per-user interface (through its ui.pid file and through Launch
// Services, launch-services.h). Made by the worker after the path registry is filled; used on the
// worker thread only.
#ifndef CORVANE_UI_CLIENT_LAUNCHER_MAC_MAC_SERVICE_H_
#define CORVANE_UI_CLIENT_LAUNCHER_MAC_MAC_SERVICE_H_

#include <QString>
#include <string>
#include <vector>

#include "cloud-service.h"

class MacService : public Service {
 public:
  // timeout 10000; app_path from the registry's user_corvane_app_path.
  MacService();
  ~MacService() override;

  // Stops the interface named by ~/.Corvane/ui.pid.
  void StopService() override;
  // First checks the shipped package against the digest the bundle recorded (package-digest.h): a
  // damaged one gives -1 with nothing stopped, moved or replaced. Then stops what runs; when the
  // per-user interface executable is missing and ~/.Skyhold exists (PredecessorExists), stops the
  // predecessor and migrates its data; then PrepareUserEnv(). 0 on success.
  int HandlePackageUpgrade() override;
  // Finishes a migration an earlier start could not finish (UnfinishedMigration): when the data is
  // to move, stops both products' interfaces first; when only ~/.Skyhold is left to remove, stops
  // nothing.
  void ResumeMigration() override;
  // LaunchPerUserBin(), logging a failure; a copy known unfinished (IsUnfinishedInstallation) is not
  // started, with an ERROR: the next start repairs it.
  void PostUpgrade() override;
  // Target version; then the disk brought back to one good copy (RecoverInstallation: an upgrade cut
  // short is finished only with a whole package at least as new as the copy it kept, otherwise that
  // copy is put back); then the source version of what is live.
  void PreUpgrade() override;
  // True while the upgrade record says an upgrade did not finish, whatever the live copy's INFO says
  // (PreUpgrade has put the good copy back where it could not be finished); otherwise when the
  // shipped build is newer than the private one or the per-user interface executable is missing;
  // and, with no record at all, when a backup name (<app>_tmp ... <app>_tmp9) shows that an earlier
  // launcher's upgrade did not finish and the shipped build is at least the private one. With a
  // record, backup names are old copies and never mean an upgrade. Builds that are empty or not
  // numbers count as 0.
  bool IsNeedUpgrade() override;

  // Stops the process named by `folder`/ui.pid: SIGTERM, up to 15 one-second probes, then SIGKILL.
  // Nothing is signalled when the file is missing, unreadable or names no pid above 0, when the pid
  // is this launcher's, or when the process is not the interface (IsInterfaceProcess), checked
  // again before SIGKILL in case the number was taken by a new process meanwhile. Each signal sent
  // is logged at INFO with the pid, the program and its start time.
  void StopServiceByPath(const QString& folder);
  // True when the per-user interface executable exists (executable or not).
  bool PerUserBinPathExist();
  // Unregisters the private bundle from Launch Services (a failure is logged and ignored), then opens
  // a new instance of it. 0, or -1 when it could not be started.
  int LaunchPerUserBin();

 private:
  // Whether the shipped package is the one the bundle was made with (shipped_package), checked once
  // per service.
  bool ShippedPackageIsWhole();
};

// What the system tells of the process a ui.pid file names.
struct PidFileProcess {
  std::vector<std::string> folders;  // the pid file's folder: as named, and with links resolved
  bool executable_known = false;
  std::string executable;  // the path of the program it runs, when known
  bool start_known = false;
  long long started_ns = 0;  // when it started, by this machine's clock
  long long written_ns = 0;  // when the pid file was last written, by the file system's clock
};

// The clocks' granularity between the interface starting and writing its pid file: a start time is
// exact to a microsecond on macOS and cut down to a clock tick (10 ms) on Linux, which only makes it
// earlier; a file's modification time is cut down to its volume's granularity, at most two seconds
// (FAT; HFS+ and ext4 with small inodes keep whole seconds), and Linux takes it from a clock that
// may lag a tick behind. A process that started later than this after the file was written did not
// write it.
constexpr long long kPidFileClockSlackNs = 2LL * 1000000000LL + 20LL * 1000000LL;

// True when the process may be the interface that wrote the pid file: its program lies inside the
// file's folder (as named or with links resolved), or it started no later than the file was last
// written, allowing kPidFileClockSlackNs of difference. Either is enough: an interface run through
// an interpreter, the predecessor's interface running from elsewhere, or one the system runs from a
// translocated path lies outside the folder but started before writing its pid file, while a
// process that took over a recycled number started after the file was written. False only when
// everything known speaks against it; with neither known, true: the stop must never leave the real
// interface running while its bundle is replaced.
bool IsInterfaceProcess(const PidFileProcess& process);

#endif  // CORVANE_UI_CLIENT_LAUNCHER_MAC_MAC_SERVICE_H_
