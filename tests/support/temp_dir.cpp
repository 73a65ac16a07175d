#include "temp_dir.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

namespace testsupport {
namespace {

int RemoveEntry(const char* path, const struct stat*, int type, struct FTW* where) {
  // Folders made read-only by a test must still go. Only folders: chmod follows a symbolic link
  // and would change whatever it points to, possibly outside the temporary folder.
  if (type == FTW_DP) chmod(path, 0700);
  // Make the parent writable and retry once; never the parent of the temporary folder itself (the
  // shared TMPDIR, /tmp), which is not the test's to change.
  if (remove(path) != 0 && errno != ENOENT && where->level > 0) {
    std::string parent(path);
    parent = parent.substr(0, parent.find_last_of('/'));
    chmod(parent.c_str(), 0700);
    remove(path);
  }
  return 0;
}

int MakeWritable(const char* path, const struct stat* st, int type, struct FTW*) {
  if (type == FTW_D || type == FTW_DNR) chmod(path, (st->st_mode & 07777) | 0700);
  return 0;
}

}  // namespace

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/corvane-test-XXXXXX";
  std::string buf = templ;
  if (mkdtemp(buf.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp(" << templ << "): " << strerror(errno);
    return;
  }
  // macOS's TMPDIR ends in "/" and lies below a link (/var -> /private/var): the resolved path is
  // the one the system reports back.
  char* real = realpath(buf.c_str(), nullptr);
  if (real == nullptr) {
    ADD_FAILURE() << "realpath(" << buf << "): " << strerror(errno);
    path_ = buf;
    return;
  }
  path_ = real;
  free(real);
}

TempDir::~TempDir() {
  if (!path_.empty()) RemoveTree(path_);
}

void RemoveTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  // Pre-order pass: open up folders a test made unreadable, then remove depth-first.
  nftw(path.c_str(), MakeWritable, 32, FTW_PHYS);
  nftw(path.c_str(), RemoveEntry, 32, FTW_DEPTH | FTW_PHYS);
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(out.good()) << "cannot write " << path;
  out << content;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool IsRoot() {
  return geteuid() == 0;
}

void MakeFifo(const std::string& path) {
  EXPECT_EQ(mkfifo(path.c_str(), 0644), 0) << path << ": " << strerror(errno);
}

namespace {

// Opens `fifo` at its other ends until `done` is ready: a reader lets a writer's open return (and is
// kept until the end, so its writes never fail); a writer lets a reader's open return, and closing it
// gives the reader the end of the file.
void OpenOtherEndsUntil(const std::string& fifo, const std::future<void>& done) {
  int reader = -1;
  while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
    if (reader < 0) reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writer >= 0) close(writer);
  }
  if (reader >= 0) close(reader);
}

bool InTime(bool in_time, const std::string& fifo, int limit_seconds) {
  EXPECT_TRUE(in_time) << "still waiting on the named pipe " << fifo << " after " << limit_seconds << " s";
  return in_time;
}

}  // namespace

bool ReturnsWithoutWaitingOn(const std::string& fifo, const std::function<void()>& work, int limit_seconds) {
  std::packaged_task<void()> task(work);
  std::future<void> done = task.get_future();
  std::thread runner(std::move(task));
  const bool in_time = done.wait_for(std::chrono::seconds(limit_seconds)) == std::future_status::ready;
  OpenOtherEndsUntil(fifo, done);
  runner.join();
  return InTime(in_time, fifo, limit_seconds);
}

bool ReturnsWithoutWaitingOnThisThread(const std::string& fifo, const std::function<void()>& work,
                                       int limit_seconds) {
  std::promise<void> finished;
  std::future<void> done = finished.get_future();
  bool in_time = true;
  std::thread watcher([&] {
    in_time = done.wait_for(std::chrono::seconds(limit_seconds)) == std::future_status::ready;
    OpenOtherEndsUntil(fifo, done);
  });
  work();
  finished.set_value();
  watcher.join();
  return InTime(in_time, fifo, limit_seconds);
}

}  // namespace testsupport
