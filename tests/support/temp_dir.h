// The one temporary-folder fixture of every test that touches the disk: each test gets a fresh
// folder under $TMPDIR (or /tmp) with a unique name, removed with everything in it afterwards
// (links are removed, never followed). Tests build every path from path(), which is resolved (no
// link on the way, no "." or doubled separator), so that a path built from it is the path the
// system reports for the same file.
#ifndef CORVANE_TESTS_SUPPORT_TEMP_DIR_H_
#define CORVANE_TESTS_SUPPORT_TEMP_DIR_H_

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace testsupport {

// A folder that exists for the life of the object; removed recursively by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative.
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

// Writes `content` to `path` (created or truncated); fails the test on error.
void WriteFile(const std::string& path, const std::string& content);
// The whole content of `path`; an empty string (and a test failure) when it cannot be read.
std::string ReadFile(const std::string& path);
// Removes `path` recursively without following links; missing is fine.
void RemoveTree(const std::string& path);
// True when running as root (tests that mount a tmpfs need it).
bool IsRoot();

// Makes a named pipe at `path` (fails the test on error).
void MakeFifo(const std::string& path);
// Runs `work` on a thread of its own and waits up to `limit_seconds` for it. True when it returned in
// time. Otherwise the test fails, and `fifo` (a named pipe that `work` may be stuck opening, reading or
// writing) is opened at its other ends until `work` returns, so the thread can be joined and the suite
// does not hang.
bool ReturnsWithoutWaitingOn(const std::string& fifo, const std::function<void()>& work,
                             int limit_seconds = 20);
// The same with `work` run on the calling thread (the one that owns the widgets), watched from another.
bool ReturnsWithoutWaitingOnThisThread(const std::string& fifo, const std::function<void()>& work,
                                       int limit_seconds = 20);

// GoogleTest fixture owning a TempDir; tmp() is the folder, at(name) a path inside it.
class TempDirTest : public ::testing::Test {
 protected:
  const std::string& tmp() const { return dir_.path(); }
  std::string at(const std::string& relative) const { return dir_ / relative; }

 private:
  TempDir dir_;
};

}  // namespace testsupport

#endif  // CORVANE_TESTS_SUPPORT_TEMP_DIR_H_
