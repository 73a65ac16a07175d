#include "whole_run.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include "platform.h"

namespace fs = std::filesystem;

namespace testsupport {

std::map<std::string, std::string> Snapshot(const std::string& root, bool with_times) {
  std::map<std::string, std::string> out;
  if (!Exists(root)) return out;
  std::map<std::pair<dev_t, ino_t>, std::string> first_of_inode;
  std::vector<std::string> paths;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    paths.push_back(it->path().string());
  EXPECT_FALSE(ec) << root << ": " << ec.message();
  std::sort(paths.begin(), paths.end());
  for (const std::string& path : paths) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
      ADD_FAILURE() << "lstat " << path << ": " << strerror(errno);
      continue;
    }
    std::ostringstream d;
    d << std::oct << (st.st_mode & 07777) << std::dec;
    if (S_ISLNK(st.st_mode)) {
      d << " link -> " << fs::read_symlink(path).string();
    } else if (S_ISDIR(st.st_mode)) {
      d << " dir";
    } else if (S_ISREG(st.st_mode)) {
      std::ifstream in(path, std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      d << " file " << std::hash<std::string>()(content.str()) << " size " << st.st_size;
      if (with_times) {
        const struct timespec mtime = ModificationTime(st);
        d << " mtime " << mtime.tv_sec << "." << mtime.tv_nsec;
      }
      auto [pos, inserted] =
          first_of_inode.emplace(std::make_pair(st.st_dev, st.st_ino), path.substr(root.size()));
      if (!inserted) d << " same inode as " << pos->second;
    } else {
      d << " other";
    }
    out[path.substr(root.size())] = d.str();
  }
  return out;
}

std::string Difference(const std::map<std::string, std::string>& want,
                       const std::map<std::string, std::string>& got) {
  std::ostringstream d;
  int shown = 0;
  for (const auto& [path, what] : want) {
    auto it = got.find(path);
    if (it == got.end()) {
      if (shown++ < 5) d << "  missing " << path << "\n";
    } else if (it->second != what) {
      if (shown++ < 5) d << "  differs " << path << ": " << it->second << " instead of " << what << "\n";
    }
  }
  for (const auto& [path, what] : got) {
    if (want.count(path) == 0 && shown++ < 5) d << "  extra " << path << " (" << what << ")\n";
  }
  if (shown > 5) d << "  ... " << shown - 5 << " more\n";
  return d.str();
}

std::string BuiltBundle(const std::string& built) {
  const char* copy = getenv("CORVANE_TEST_BUNDLE");
  return copy != nullptr && *copy != '\0' ? std::string(copy) : built;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::vector<std::string> Messages(const std::string& log_text) {
  std::vector<std::string> out;
  for (const std::string& line : Lines(log_text)) {
    const size_t pos = line.find("): ");
    if (pos != std::string::npos) out.push_back(line.substr(pos + 3));
  }
  return out;
}

pid_t StartLauncher(const std::string& bundle, const std::string& home, const std::string& out_prefix,
                    const LaunchAs& as) {
  const std::string exe = bundle + "/Contents/MacOS/corvane-launcher";
  const std::string out = out_prefix + ".out", err = out_prefix + ".err";
  // The single-instance lock file goes to the temporary folder: keep it in the test's own.
  const std::string tmpdir = home.substr(0, home.rfind('/'));
  const pid_t pid = fork();
  if (pid == 0) {
    if (as.bare_environment) {
      // Sanitizer settings (a sanitized build's suppressions) are no part of the user's environment.
      std::vector<std::pair<std::string, std::string>> keep;
      for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"})
        if (const char* value = getenv(name)) keep.emplace_back(name, value);
      ClearEnvironment();
      for (const auto& [name, value] : keep) setenv(name.c_str(), value.c_str(), 1);
    }
    if (as.no_home) {
      unsetenv("HOME");
    } else {
      setenv("HOME", home.c_str(), 1);
    }
    setenv("TMPDIR", tmpdir.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    unsetenv("QT_PLUGIN_PATH");
    if (!as.lc_all.empty()) setenv("LC_ALL", as.lc_all.c_str(), 1);
    if (!as.path.empty()) setenv("PATH", as.path.c_str(), 1);
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0) _exit(126);
    dup2(o, 1);
    dup2(e, 2);
    // The launcher gets its standard streams and nothing else of the test's, as from a desktop.
    close(o);
    close(e);
    if (as.uid >= 0 && (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(as.gid)) != 0 ||
                        setuid(static_cast<uid_t>(as.uid)) != 0))
      _exit(125);
    const std::string program = as.exe.empty() ? exe : as.exe;
    execlp(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  EXPECT_GT(pid, 0) << "fork: " << strerror(errno);
  return pid;
}

bool Ended(pid_t pid, int* status) {
  return waitpid(pid, status, WNOHANG) == pid;
}

int WaitLauncher(pid_t pid, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (!Ended(pid, &status)) {
    if (std::chrono::steady_clock::now() > deadline) {
      Kill(pid);
      ADD_FAILURE() << "launcher " << pid << " did not end";
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!WIFEXITED(status)) {
    ADD_FAILURE() << "launcher ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    return -1;
  }
  return WEXITSTATUS(status);
}

void Kill(pid_t pid) {
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
}

}  // namespace testsupport
