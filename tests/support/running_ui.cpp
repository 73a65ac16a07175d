#include "running_ui.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "platform.h"

extern char** environ;

namespace testsupport {
namespace {

// "<ready fd> <on term: 0 exit, 1 ignore, 2 sleep> <linger ms> <marker>": set for the child only.
const char kModeVariable[] = "CORVANE_TEST_RUNNING_UI";

char term_marker[PATH_MAX];
int term_linger_ms = 0;
bool term_sleeps = false;

void OnTerm(int) {
  if (term_sleeps) {
    execl("/bin/sleep", "sleep", "60", static_cast<char*>(nullptr));
    _exit(124);
  }
  if (term_marker[0] != '\0') {
    const int fd = open(term_marker, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) close(fd);
  }
  struct timespec t = {term_linger_ms / 1000, (term_linger_ms % 1000) * 1000000L};
  nanosleep(&t, nullptr);
  _exit(0);
}

// In the copy started by StartRunningUi, this runs before main and never returns.
bool RunAsStandInWhenAsked() {
  const char* mode = getenv(kModeVariable);
  if (mode == nullptr) return false;
  int ready = -1, ignore = 0, used = 0;
  if (sscanf(mode, "%d %d %d %n", &ready, &ignore, &term_linger_ms, &used) != 3) _exit(126);
  snprintf(term_marker, sizeof(term_marker), "%s", mode + used);
  term_sleeps = ignore == 2;
  if (ignore == 1) {
    signal(SIGTERM, SIG_IGN);
  } else {
    struct sigaction sa = {};
    sa.sa_handler = OnTerm;
    sigaction(SIGTERM, &sa, nullptr);
  }
  const char c = 1;
  if (write(ready, &c, 1) != 1) _exit(125);
  close(ready);
  for (;;) pause();
}

const bool kStandIn = RunAsStandInWhenAsked();

// A copy of this test program inside `folder`, at `name` or at a fresh name: a hard link where the
// system allows one, else copied bytes. Empty after adding a failure.
std::string CopyOfThisProgram(const std::string& folder, const std::string& name) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  const std::string self = ThisProgram();
  EXPECT_FALSE(self.empty()) << "cannot tell which program runs";
  std::string copy = folder + "/" + (name.empty() ? ".running-ui-XXXXXX" : name);
  if (name.empty()) {
    const int fd = mkostemp(&copy[0], O_CLOEXEC);
    EXPECT_GE(fd, 0) << copy << ": " << strerror(errno);
    if (fd < 0) return std::string();
    close(fd);
    unlink(copy.c_str());
  }
  if (self.empty()) return std::string();
  if (link(self.c_str(), copy.c_str()) != 0) {
    std::filesystem::copy_file(self, copy, ec);
    EXPECT_FALSE(ec) << "copying " << self << " to " << copy << ": " << ec.message();
    if (ec) return std::string();
    chmod(copy.c_str(), 0755);
  }
  return copy;
}

}  // namespace

pid_t StartRunningUi(const std::string& folder, const std::string& marker, int linger_ms, bool ignore_term,
                     bool sleep_on_term, const std::string& name) {
  (void)kStandIn;
  const std::string copy = CopyOfThisProgram(folder, name);
  if (copy.empty()) return -1;
  int ready[2];
  if (PipeCloseOnExec(ready) != 0) {
    ADD_FAILURE() << "pipe: " << strerror(errno);
    unlink(copy.c_str());
    return -1;
  }
  // Everything the child needs is prepared here: between fork and exec it only calls async-signal-
  // safe functions.
  std::string mode = std::string(kModeVariable) + "=" + std::to_string(ready[1]) + " " +
                     (sleep_on_term ? "2"
                      : ignore_term ? "1"
                                    : "0") +
                     " " + std::to_string(linger_ms) + " " + marker;
  std::vector<char*> env;
  for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
  env.push_back(&mode[0]);
  env.push_back(nullptr);
  char* argv[] = {const_cast<char*>(copy.c_str()), nullptr};

  const pid_t pid = fork();
  if (pid == 0) {
    close(ready[0]);
    fcntl(ready[1], F_SETFD, 0);  // the one descriptor the stand-in keeps
    // Another thread's fork may briefly hold the copy open: ETXTBSY passes.
    for (int attempt = 0; attempt < 100; ++attempt) {
      execve(copy.c_str(), argv, env.data());
      if (errno != ETXTBSY) break;
      usleep(10000);
    }
    _exit(127);
  }
  close(ready[1]);
  char c = 0;
  const bool started = pid > 0 && read(ready[0], &c, 1) == 1;
  close(ready[0]);
  unlink(copy.c_str());
  if (pid > 0 && !started) waitpid(pid, nullptr, 0);
  EXPECT_TRUE(started) << "the interface stand-in did not start from " << copy;
  return started ? pid : -1;
}

}  // namespace testsupport
