// A stand-in for the client's running interface in tests that stop it through ui.pid. The launcher
// knows the interface by its program: one inside the folder of the pid file, as the real
// interface's is, or one bearing the interface's name, so the stand-in runs a copy of the test
// program from inside a given folder, under a given name when asked. Call from the test's main
// thread; the caller reaps the child.
#ifndef CORVANE_TESTS_SUPPORT_RUNNING_UI_H_
#define CORVANE_TESTS_SUPPORT_RUNNING_UI_H_

#include <sys/types.h>

#include <string>

namespace testsupport {

// Starts the stand-in from inside `folder` (created when missing). The copy it runs is removed as
// soon as it runs, so the folder holds nothing new; the system still reports the path it started
// from, as for a bundle replaced under a running program. On SIGTERM it creates `marker` (when not
// empty), waits `linger_ms` and exits with status 0; with `ignore_term` it ignores SIGTERM; with
// `sleep_on_term` it runs /bin/sleep instead, under the same pid: another program from elsewhere.
// With `name`, the copy bears that name (nothing may be at `folder`/`name`); otherwise a fresh one.
// Returns its pid once its handler is in place, or -1 after adding a test failure.
pid_t StartRunningUi(const std::string& folder, const std::string& marker, int linger_ms,
                     bool ignore_term = false, bool sleep_on_term = false, const std::string& name = "");

}  // namespace testsupport

#endif  // CORVANE_TESTS_SUPPORT_RUNNING_UI_H_
