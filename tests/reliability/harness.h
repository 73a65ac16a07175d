// What the reliability tests share: packages built from a list of entries (with many filler files,
// so that extraction and removal take long enough to be interrupted), a copy of the launcher bundle
// the build assembles with such a package inside, launcher processes started for a home folder,
// killed or waited for, and snapshots of trees to compare before and after. Everything lives below
// the calling test's temporary folder. Not thread-safe; one test thread uses it.
#ifndef CORVANE_TESTS_RELIABILITY_HARNESS_H_
#define CORVANE_TESTS_RELIABILITY_HARNESS_H_

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "whole_run.h"

namespace reliability {

// Tree snapshots, log messages and launcher processes are shared with the end-to-end tests.
using testsupport::Difference;
using testsupport::Ended;
using testsupport::Exists;
using testsupport::Kill;
using testsupport::Messages;
using testsupport::Snapshot;
using testsupport::StartLauncher;
using testsupport::WaitLauncher;

struct Entry {
  // kFifo and kCharDevice exist only in packages (WriteTree refuses them).
  enum Kind { kFile, kDir, kSymlink, kHardlink, kFifo, kCharDevice };
  Kind kind;
  std::string name;  // relative, "Contents/..."; UTF-8
  std::string data;  // a file's bytes, or a link's target (a hard link's target is an entry name)
  int mode;
};

// The entries of a per-user bundle of build `build`: folders, the interface program (a script that
// appends its own path to $TMPDIR/ui-started, when TMPDIR is set, and exits, see InterfaceStarts), INFO, a
// framework reached through symbolic links, a hard link, and `fillers` files of `filler_size` bytes named
// Contents/Resources/fill/dNN/fNNNN, numbered in archive order. `flavour` changes every filler's content, so
// two bundles of one shape still differ byte for byte.
std::vector<Entry> BundleEntries(int build, int fillers, size_t filler_size, const std::string& flavour);
// The name of filler number `n` (0-based) as BundleEntries makes it.
std::string FillerName(int n);

enum class Format { kTarGz, kZip };
// Writes `entries` in order as a gzip-compressed pax archive (names recorded as UTF-8) or as a zip
// archive (names flagged as UTF-8); fails the test on error.
void WritePackage(const std::string& path, const std::vector<Entry>& entries, Format format = Format::kTarGz);
// Writes `entries` as files below `root` (created), as an earlier installation would have left them.
void WriteTree(const std::string& root, const std::vector<Entry>& entries);
// Unpacks `package` below `dest` with bsdtar: what a correct installation looks like.
void Unpack(const std::string& package, const std::string& dest);

// Number of entries below `path` (recursively, not following links); 0 when missing.
int CountEntries(const std::string& path);
// Backup names of `app` ("<app>_tmp", "<app>_tmp1" ... "<app>_tmp9") that exist.
std::vector<std::string> BackupNames(const std::string& app);

// A copy of the launcher bundle made by the build, at `dir`, shipping `package` (its INFO is the
// package's) with its SHA-256 recorded as scripts/make-bundle records it (RecordPackageDigest), and a
// launcher.debug that logs each step of the launcher and the service.
void MakeBundle(const std::string& dir, const std::string& package, const std::string& info);
// Records the SHA-256 of the package the bundle at `dir` ships, beside it, as scripts/make-bundle
// does: a test that puts another package in the bundle calls it when the launcher is to take that
// package for the one the bundle was made with (to reach the extractor's own checks).
void RecordPackageDigest(const std::string& dir);

// Reads a growing log file as it grows: Contains() looks at everything written so far.
class LogWatcher {
 public:
  explicit LogWatcher(std::string path) : path_(std::move(path)) {}
  bool Contains(const std::string& text);

 private:
  std::string path_;
  std::string seen_;
};

int Count(const std::vector<std::string>& messages, const std::string& prefix);

// How often the interface program of the private bundle `app` has been started by launchers whose
// TMPDIR is `tmpdir` (the folder holding the home folder). The launcher starts it detached, so it
// runs a moment after the launcher ended: WaitForInterfaceStarts polls until at least `n` starts are
// recorded (true) or a generous limit passes (false).
int InterfaceStarts(const std::string& tmpdir, const std::string& app);
bool WaitForInterfaceStarts(const std::string& tmpdir, const std::string& app, int n);

// The unprivileged account the tests run the launcher as when they run as root ("corvane-test"):
// false when there is none.
bool OrdinaryAccount(long* uid, long* gid);

// A stand-in for a running user interface: a child process that, on SIGTERM, creates `marker` and
// ends `linger_ms` later. With `run_from` it runs from inside that folder, as the interface its
// ui.pid names does (the launcher stops no other program); without, it is a plain fork of the test.
// A thread reaps it at once when it ends, so it never lingers as a zombie that would look alive to
// the launcher's probes.
class FakeUi {
 public:
  FakeUi(const std::string& marker, int linger_ms, const std::string& run_from = "");
  ~FakeUi();  // kills it if it still runs, and joins the reaper
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  struct Reaper;
  Reaper* reaper_ = nullptr;
};

// A pid that names no process (a child that has already ended and been reaped).
pid_t DeadPid();

// Polls `predicate` every 100 microseconds until it holds (true) or `pid` ends or `limit` passes
// (false). `*ended` tells whether the child ended, and so has been reaped: its number must not be
// signalled any more; its wait status is then in `*status`.
bool PollUntil(const std::function<bool()>& predicate, pid_t pid, bool* ended, int* status,
               std::chrono::milliseconds limit = std::chrono::milliseconds(30000));

}  // namespace reliability

#endif  // CORVANE_TESTS_RELIABILITY_HARNESS_H_
