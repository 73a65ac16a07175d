#include "temp_dir.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace testsupport {
namespace {

int RemoveEntry(const char* path, const struct stat*, int type, struct FTW*) {
  // Folders made read-only by a test must still go. Only folders: chmod follows a symbolic link
  // and would change whatever it points to, possibly outside the temporary folder.
  if (type == FTW_DP) chmod(path, 0700);
  if (remove(path) != 0 && errno != ENOENT) {
    // Make the parent writable and retry once.
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

}  // namespace testsupport
