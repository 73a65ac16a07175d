// Helpers of the file layer's tests: a second volume (a small tmpfs, root only), running a call
// as an unprivileged user, capturing the layer's log, and restoring the umask and working folder.
#ifndef CORVANE_TESTS_LIB_FILE_FILE_TEST_UTIL_H_
#define CORVANE_TESTS_LIB_FILE_FILE_TEST_UTIL_H_

#include <ftw.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "log.h"
#include "platform.h"
#include "temp_dir.h"

namespace filetest {

constexpr uid_t kNobody = 65534;

// A tmpfs mounted at `dir` for the life of the object. Mounting needs root, and Linux; mounted()
// says whether it worked and why_not() why it did not.
class ScratchVolume {
 public:
  explicit ScratchVolume(const std::string& dir, const char* options = "size=4m") {
    if (!testsupport::IsRoot()) {
      why_not_ = "mounting a tmpfs needs root";
      return;
    }
    mkdir(dir.c_str(), 0777);
    if (testsupport::MountTmpfs(dir, options) != 0) {
      why_not_ = std::string("mount: ") + strerror(errno);
      return;
    }
    dir_ = dir;
  }
  ~ScratchVolume() {
    if (!dir_.empty()) testsupport::Unmount(dir_);
  }
  ScratchVolume(const ScratchVolume&) = delete;
  ScratchVolume& operator=(const ScratchVolume&) = delete;

  bool mounted() const { return !dir_.empty(); }
  const std::string& why_not() const { return why_not_; }
  bool MakeReadOnly() { return testsupport::RemountTmpfs(dir_, nullptr, true) == 0; }

 private:
  std::string dir_;
  std::string why_not_;
};

#define SKIP_WITHOUT_VOLUME(volume, would_show)                                                \
  if (!(volume).mounted())                                                                     \
  GTEST_SKIP() << "Skipped: needs a second file system (" << (volume).why_not() << "); would " \
               << "have shown " << would_show

// Runs `call` as the user nobody (in a child process) when running as root, directly otherwise, so
// that permission bits bind. The result must lie in -128..127.
inline int AsUnprivileged(const std::function<int()>& call) {
  if (!testsupport::IsRoot()) return call();
  pid_t child = fork();
  if (child == 0) {
    if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(255);
    _exit(call() + 128);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) - 128 : -1000;
}

// Runs `call` in a child process that may hold at most `limit` open descriptors. The result must
// lie in -128..127.
inline int WithDescriptorLimit(rlim_t limit, const std::function<int()>& call) {
  pid_t child = fork();
  if (child == 0) {
    const struct rlimit few = {limit, limit};
    if (setrlimit(RLIMIT_NOFILE, &few) != 0) _exit(255);
    _exit(call() + 128);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) - 128 : -1000;
}

// Hands the tree at `path` to nobody, so that AsUnprivileged calls may change it (root only).
inline void GiveToNobody(const std::string& path) {
  if (!testsupport::IsRoot()) return;
  nftw(
      path.c_str(),
      [](const char* p, const struct stat*, int, struct FTW*) {
        lchown(p, kNobody, kNobody);
        return 0;
      },
      16, FTW_PHYS);
}

// While alive, the layer's log goes, at every level, to a file that text() reads.
class LogCapture {
 public:
  explicit LogCapture(const std::string& dir) : path_(dir + "/file-op.log") {
    std::string levels = dir + "/levels.debug";
    testsupport::WriteFile(levels, "file_op_debug=7\n");
    Logger::Initialize(Logger::TYPE_FILE, path_, levels, 50, Logger::SCOPE_THREAD);
  }
  ~LogCapture() { Logger::Initialize(Logger::TYPE_STDERR, "", "", 50, Logger::SCOPE_NONE); }
  std::string text() const { return testsupport::ReadFile(path_); }
  // The level ("ERROR", "DEBUG", ...) of the first line holding `needle`, or "" when none does.
  std::string level_of(const std::string& needle) const {
    const std::string all = text();
    const size_t hit = all.find(needle);
    if (hit == std::string::npos) return "";
    const size_t line = all.rfind('\n', hit) + 1;  // npos + 1 is 0: the first line
    const size_t open = all.find('[', line);
    const size_t close = all.find(']', open);
    return open < hit && close < hit ? all.substr(open + 1, close - open - 1) : "";
  }

 private:
  std::string path_;
};

class UmaskGuard {
 public:
  explicit UmaskGuard(mode_t mask) : old_(umask(mask)) {}
  ~UmaskGuard() { umask(old_); }

 private:
  mode_t old_;
};

class WorkingFolder {
 public:
  explicit WorkingFolder(const std::string& dir) {
    char buf[PATH_MAX];
    old_ = getcwd(buf, sizeof(buf)) ? buf : "/";
    EXPECT_EQ(0, chdir(dir.c_str()));
  }
  ~WorkingFolder() { (void)chdir(old_.c_str()); }

 private:
  std::string old_;
};

// The kernel's canonical form of an existing path.
inline std::string RealPath(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) ? buf : "";
}

inline mode_t PermissionBits(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace filetest

#endif  // CORVANE_TESTS_LIB_FILE_FILE_TEST_UTIL_H_
