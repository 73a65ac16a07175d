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
  // to move, and can be expected to move now, stops both products' interfaces first; when only
  // ~/.Skyhold or what was set aside is left to remove, or the data still cannot move, stops nothing.
  void ResumeMigration() override;
  // LaunchPerUserBin(), logging a failure; a copy that is not whole (IsWholeInstallation) is not
  // started, with an ERROR: the next start repairs it.
  void PostUpgrade() override;
  // Target version; then the disk brought back to one good copy (RecoverInstallation: an upgrade cut
  // short is finished only with a whole package at least as new as the copy it kept, otherwise that
  // copy is put back); then the source version of what is live.
  void PreUpgrade() override;
  // The service's rule, and the shipped package whole.
  bool MayFinishUpgrade(const UpgradeRecord& record) override;
  // True when the shipped build is newer than the private one, the per-user interface executable is
  // missing, or the live copy is not whole (IsWholeInstallation: no INFO, or an earlier launcher's
  // record says it is unfinished; PreUpgrade has put the good copy back where it could not be
  // finished); and, with no record at all, when a backup name (<app>_tmp ... <app>_tmp9) shows that an
  // earlier launcher's upgrade did not finish and the shipped build is at least the private one. With a
  // record, backup names are old copies and never mean an upgrade. Builds that are empty or not
  // numbers count as 0.
  bool IsNeedUpgrade() override;

  // Stops the process named by `folder`/ui.pid: SIGTERM, up to 15 one-second probes, then SIGKILL.
  // Nothing is signalled when the file is missing, unreadable or names no pid above 0, when the pid
  // is this launcher's, or when the process is not the interface (IsInterfaceProcess), checked
  // again before SIGKILL in case the number was taken by a new process meanwhile. Each signal sent
  // is logged at INFO with the pid, the program and its start time. What the interface is known by
  // comes from the path registry, by which folder `folder` is (as named or through a link):
  // - the registry's user_corvane_path: its interface program, user_corvane_ui_path, whose file
  //   name (corvane-ui) is the interface wherever it runs; any other program is not the interface,
  //   unless that program is a script (it starts with "#!"), whose process runs its interpreter;
  // - the registry's user_skyhold_path, the predecessor's: its program is not known, but its bundle
  //   is, the one user_skyhold_resource_path lies in (Skyhold.app): a program inside a bundle of
  //   that name is its interface wherever it lies; of any other program outside the folder, only
  //   the clocks tell;
  // - any other folder: a program inside it, or the clocks.
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

// What the system tells of the process a ui.pid file names, and what the interface that writes the
// file is known by.
struct PidFileProcess {
  std::vector<std::string> folders;  // the pid file's folder: as named, and with links resolved
  // The file name of the interface's program wherever it runs (a copied or translocated bundle), when
  // known; empty otherwise. When known, a program by any other name outside the folders is not the
  // interface, unless `program_interpreted`: the interface's program is a script, so the process of a
  // running interface is its interpreter, which tells nothing.
  std::string program_name;
  bool program_interpreted = false;
  // The name of a bundle (Skyhold.app) whose programs are the interface's wherever it lies; empty when
  // not known.
  std::string bundle_name;
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
// write it, as long as the two clocks agree.
constexpr long long kPidFileClockSlackNs = 2LL * 1000000000LL + 20LL * 1000000LL;

// True when the process may be the interface that wrote the pid file. The program decides where it
// tells, whatever the clocks say (a home on a file server whose clock differs, a clock stepped):
// - a program inside the file's folder (as named or with links resolved), one named
//   `program_name`, or one inside a bundle named `bundle_name` is the interface;
// - with `program_name` known and not `program_interpreted`, any other program is not.
// Only where the program tells nothing (not known; or known, but the interface's program is not,
// or runs through an interpreter) do the clocks decide: the interface started no later than it
// wrote the file, allowing kPidFileClockSlackNs, while a process that took over a recycled number
// started after the file was written. A program that tells nothing with no known start is not the
// interface; with neither program nor start known, true: the stop must never leave the real
// interface running while its bundle is replaced.
bool IsInterfaceProcess(const PidFileProcess& process);

#endif  // CORVANE_UI_CLIENT_LAUNCHER_MAC_MAC_SERVICE_H_
