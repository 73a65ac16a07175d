// Hands arbitrary bytes to the package extractor as the archive and unpacks them into a scratch
// destination. Whatever the bytes say (absolute names, "..", links pointing out, entries beneath
// links, hard links to files outside), nothing may appear, change or vanish outside the destination:
// a sentinel tree beside it, the folder holding both, and the folder above that are compared with
// their first state after every input. The working folder is the scratch folder, so a name resolved
// against it would be caught too. Any difference aborts.
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>

#include "extractor.h"
#include "log.h"
#include "strtable.h"

namespace {

std::string base;     // <tmp>/corvane-extractor-fuzz-XXXXXX: holds root and log/
std::string root;     // base/root: the working folder, with dest/, outside/ and the archive
std::string dest;     // root/dest
std::string outside;  // root/outside: the sentinel tree
std::string archive_file;
std::map<std::string, std::string> outside_before;
std::set<std::string> root_names, base_names;

void Require(bool ok, const char* what, const std::string& detail = std::string()) {
  if (!ok) {
    fprintf(stderr, "extractor_fuzz: %s %s\n", what, detail.c_str());
    abort();
  }
}

std::string Read(const std::string& path) {
  std::string text;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return "<unreadable>";
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) text.append(buf, n);
  fclose(f);
  return text;
}

void Write(const std::string& path, const std::string& text) {
  // A new file each time: truncating one makes ext4 write it out on close, a hundredfold slower.
  unlink(path.c_str());
  FILE* f = fopen(path.c_str(), "wb");
  Require(f != nullptr, "cannot write", path);
  Require(fwrite(text.data(), 1, text.size(), f) == text.size() && fclose(f) == 0, "short write", path);
}

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  DIR* d = opendir(folder.c_str());
  Require(d != nullptr, "cannot list", folder);
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.insert(name);
  }
  closedir(d);
  return names;
}

// Type, mode, size, link count, content or link target of every entry below `folder`.
std::map<std::string, std::string>* snapshot_out;
size_t snapshot_skip;
int SnapshotEntry(const char* path, const struct stat* st, int, struct FTW*) {
  std::string d = std::to_string(st->st_mode) + " " + std::to_string(st->st_nlink) + " ";
  if (S_ISREG(st->st_mode)) {
    d += "file " + Read(path);
  } else if (S_ISLNK(st->st_mode)) {
    char target[4096];
    ssize_t n = readlink(path, target, sizeof(target));
    d += "link " + std::string(target, n > 0 ? n : 0);
  } else if (!S_ISDIR(st->st_mode)) {
    d += "other";
  }
  (*snapshot_out)[std::string(path).substr(snapshot_skip)] = d;
  return 0;
}
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> out;
  snapshot_out = &out;
  snapshot_skip = folder.size();
  nftw(folder.c_str(), SnapshotEntry, 16, FTW_PHYS);
  return out;
}

int RemoveEntry(const char* path, const struct stat* st, int type, struct FTW*) {
  if (type == FTW_D || type == FTW_DP || type == FTW_DNR) {
    rmdir(path);
  } else {
    unlink(path);
  }
  (void)st;
  return 0;
}
int OpenUp(const char* path, const struct stat* st, int type, struct FTW*) {
  if (type == FTW_D || type == FTW_DNR) chmod(path, (st->st_mode & 07777) | 0700);
  return 0;
}
// Empties `folder` without following links, also when entries made folders unreadable.
void Clear(const std::string& folder) {
  nftw(folder.c_str(), OpenUp, 16, FTW_PHYS);
  nftw(folder.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void RemoveAll() {
  if (!base.empty()) {
    if (chdir("/") != 0) return;
    Clear(base);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* tmp = getenv("TMPDIR");
  base = std::string(tmp && *tmp ? tmp : "/tmp") + "/corvane-extractor-fuzz-XXXXXX";
  Require(mkdtemp(&base[0]) != nullptr, "mkdtemp failed");
  atexit(RemoveAll);
  root = base + "/root";
  dest = root + "/dest";
  outside = root + "/outside";
  archive_file = root + "/skyhold.hpk";
  Require(mkdir(root.c_str(), 0755) == 0 && mkdir(outside.c_str(), 0755) == 0, "mkdir");
  Require(mkdir((outside + "/Contents").c_str(), 0755) == 0, "mkdir");
  Write(outside + "/precious", "user data\n");
  Write(outside + "/Contents/INFO", "[Version]\nbuild_version=7\n");
  Require(symlink("../outside", (outside + "/loop").c_str()) == 0, "symlink");
  Require(chdir(root.c_str()) == 0, "chdir");

  // Failures are logged at ERROR; keep them out of the fuzzer's output, in a folder of their own
  // (rotation makes new names there).
  Require(mkdir((base + "/log").c_str(), 0755) == 0, "mkdir");
  Logger::Initialize(Logger::TYPE_FILE, base + "/log/extractor.log", "", 2, Logger::SCOPE_THREAD);
  StrTable::InitStrTable();

  outside_before = Snapshot(outside);
  Write(archive_file, "");
  Require(mkdir(dest.c_str(), 0755) == 0, "mkdir");
  root_names = Names(root);
  base_names = Names(base);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 256 * 1024) return 0;
  Write(archive_file, std::string(reinterpret_cast<const char*>(data), size));

  Extractor extractor;
  extractor.dest_path = ustring(dest.c_str());
  extractor.archive_path = ustring(archive_file.c_str());
  const int result = extractor.Extract();
  Require(result == 0 || result == -1, "result", std::to_string(result));

  char cwd[4096];
  Require(getcwd(cwd, sizeof(cwd)) != nullptr && root == cwd, "working folder changed");
  Require(Names(root) == root_names, "an entry appeared or vanished beside the destination");
  Require(Names(base) == base_names, "an entry appeared or vanished two levels up");
  Require(Snapshot(outside) == outside_before, "the sentinel tree beside the destination changed");

  Clear(dest);
  Require(mkdir(dest.c_str(), 0755) == 0, "cannot make the destination again");
  return 0;
}
