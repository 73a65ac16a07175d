// What whole-run tests share: launcher processes started for a home folder and waited for or
// killed, snapshots of folder trees taken before and after a run, and the message texts of a
// launcher.log. Plain functions; safe from any one thread.
#ifndef CORVANE_TESTS_SUPPORT_WHOLE_RUN_H_
#define CORVANE_TESTS_SUPPORT_WHOLE_RUN_H_

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

// Type, mode, content (hashed), link target and shared inodes of every entry below `root`, keyed by
// relative path; with `with_times` also each file's modification time. Links are never followed.
// Empty when `root` is missing.
std::map<std::string, std::string> Snapshot(const std::string& root, bool with_times = true);
// Readable difference of two snapshots, at most a few lines; empty when equal.
std::string Difference(const std::map<std::string, std::string>& want,
                       const std::map<std::string, std::string>& got);

// The launcher bundle the build assembled at `built`, or the copy that the environment variable
// CORVANE_TEST_BUNDLE names (the test command makes one when an unprivileged account cannot reach
// the build folder).
std::string BuiltBundle(const std::string& built);

// True when something (also a dangling link) is at `path`.
bool Exists(const std::string& path);

// The lines of `text`, without their line feeds.
std::vector<std::string> Lines(const std::string& text);
// The message texts of a launcher.log (the part after "): "), in order.
std::vector<std::string> Messages(const std::string& log_text);

// How a launcher process is started beyond the defaults.
struct LaunchAs {
  // Run as this account (uid and gid; the caller must be root), or as the caller when negative.
  long uid = -1, gid = -1;
  // Only HOME, TMPDIR and QT_QPA_PLATFORM in the environment: no locale at all, as programs started
  // by a desktop often are.
  bool bare_environment = false;
  // LC_ALL for the process, when not empty.
  std::string lc_all;
  // Without HOME in the environment (`home` then only decides where TMPDIR is).
  bool no_home = false;
  // What to run instead of the bundle's executable, when not empty: a path (a symbolic link to it,
  // say), or a bare name that is looked up in PATH; and PATH for the process, when not empty.
  std::string exe, path;
};

// One launcher process, the executable of the bundle at `bundle`, for home folder `home` on the
// offscreen platform; its standard output and error go to `out_prefix` + ".out" / ".err". Its
// single-instance lock file (and anything else it puts in TMPDIR) goes to the folder holding `home`,
// not to the shared /tmp.
pid_t StartLauncher(const std::string& bundle, const std::string& home, const std::string& out_prefix,
                    const LaunchAs& as = LaunchAs());
// Exit status of `pid`, or -1 (and a test failure) when it did not end normally within `limit`
// (it is then killed).
int WaitLauncher(pid_t pid, std::chrono::seconds limit = std::chrono::seconds(120));
// True once `pid` (a child) has ended; reaps it and stores its wait status in `*status`.
bool Ended(pid_t pid, int* status);
// SIGKILL and reap.
void Kill(pid_t pid);

}  // namespace testsupport

#endif  // CORVANE_TESTS_SUPPORT_WHOLE_RUN_H_
