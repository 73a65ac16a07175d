// Hands arbitrary bytes to the package extractor as the archive and unpacks them into a scratch
// destination. Whatever the bytes say (absolute names, "..", links pointing out, entries beneath
// links, hard links to files outside), nothing may appear, change or vanish outside the destination:
// a sentinel tree beside it, the folder holding both, and the folder above that are compared with
// their first state after every input. The working folder is the scratch folder, so a name resolved
// against it would be caught too. The destination must still be the same real folder afterwards, and
// hold only files, folders and links, with folders open to their owner and no set-id bits. Any
// difference aborts.
//
// Inputs that start with "CVZE" describe the entries instead, and the target writes the archive
// (pax, GNU tar, zip or cpio), so that the shapes that matter come up often: names without
// components (".", "./", "/"), absolute names, "..", links named "." or pointing at ".", the sentinel
// or "..", hard links, FIFOs, devices and sockets, set-id and read-only modes, non-ASCII names,
// names that differ only in letter case or Unicode composition, components of 255 and 256 bytes,
// names and link targets at the system's path limit. The format byte's top bit makes the extractor
// treat the destination as a volume that folds names (the seam macOS's behaviour is tested through).
#include <archive.h>
#include <archive_entry.h>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <vector>

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
struct stat dest_made;  // the destination as made before each input

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

// Reads an entry description, byte by byte; past the end every byte is 0.
class Description {
 public:
  Description(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool AtEnd() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }

  // A name of up to four components from a small dictionary, perhaps with a leading "/" or "./",
  // a trailing "/", or a run of long folders that brings it near the system's path limit.
  std::string Name() {
    static const std::string words[] = {"",
                                        ".",
                                        "..",
                                        "a",
                                        "A",
                                        "b",
                                        "l",
                                        "L",
                                        "Contents",
                                        "contents",
                                        "R\xc3\xa9sum\xc3\xa9.txt",
                                        "Re\xcc\x81sume\xcc\x81.txt",
                                        "RE\xcc\x81SUME\xcc\x81.TXT",
                                        "outside",
                                        "loop",
                                        "dest",
                                        "precious",
                                        std::string(255, 'n'),
                                        std::string(256, 'n')};
    const uint8_t shape = Byte();
    std::string name = (shape & 0x08) ? "/" : (shape & 0x10) ? "./" : "";
    if (shape & 0x40) {
      for (int i = 19 + Byte() % 3; i > 0; --i) name += std::string(200, 'd') + "/";
    }
    for (int i = 0; i < shape % 5; ++i) {
      if (i > 0) name += "/";
      name += words[Byte() % (sizeof(words) / sizeof(words[0]))];
    }
    if (shape & 0x20) name += "/";
    return name;
  }

  std::string LinkTarget() {
    switch (Byte() % 6) {
      case 0:
        return outside;
      case 1:
        return "../outside";
      case 2:
        return ".";
      case 3:
        return outside + "/precious";
      case 4: {
        std::string deep;
        for (int i = 20 + Byte() % 2; i > 0; --i) deep += std::string(200, 't') + "/";
        return deep + Name();
      }
      default:
        return Name();
    }
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// Writes the archive that `data` (after the "CVZE" mark) describes: a format byte, then per entry a
// byte for kind and mode, the name, and a link target or up to 15 bytes of content. The archive's
// bytes; empty when libarchive refuses to write it. `names_fold` tells whether the format byte asks
// for a destination that folds names.
std::string ArchiveFromDescription(const uint8_t* data, size_t size, bool* names_fold) {
  static const int kModes[] = {0644, 0755, 0555, 0500, 04755, 02775, 01777, 0};
  static const int kSpecials[] = {AE_IFIFO, AE_IFCHR, AE_IFBLK, AE_IFSOCK};
  Description in(data, size);
  archive* a = archive_write_new();
  const uint8_t format = in.Byte();
  *names_fold = (format & 0x80) != 0;
  switch (format % 4) {
    case 0:
      archive_write_set_format_pax_restricted(a);
      break;
    case 1:
      archive_write_set_format_gnutar(a);
      break;
    case 2:
      archive_write_set_format_zip(a);
      break;
    default:
      archive_write_set_format_cpio_newc(a);
      break;
  }
  std::vector<char> buffer(1 << 20);
  size_t used = 0;
  if (archive_write_open_memory(a, buffer.data(), buffer.size(), &used) != ARCHIVE_OK) {
    archive_write_free(a);
    return std::string();
  }
  for (int n = 0; n < 12 && !in.AtEnd(); ++n) {
    const uint8_t kind = in.Byte();
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, in.Name().c_str());
    archive_entry_set_perm(entry, kModes[(kind / 8) % 8]);
    archive_entry_set_mtime(entry, 1700000000, 0);
    std::string content;
    switch (kind % 8) {
      case 0:
      case 1:
        archive_entry_set_filetype(entry, AE_IFREG);
        for (int i = in.Byte() % 16; i > 0; --i) content += static_cast<char>(in.Byte());
        break;
      case 2:
        archive_entry_set_filetype(entry, AE_IFDIR);
        break;
      case 3:
        archive_entry_set_filetype(entry, AE_IFLNK);
        archive_entry_set_symlink(entry, in.LinkTarget().c_str());
        break;
      case 4:
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_hardlink(entry, in.LinkTarget().c_str());
        break;
      default:
        archive_entry_set_filetype(entry, kSpecials[in.Byte() % 4]);
        archive_entry_set_rdev(entry, 0x0103);
        break;
    }
    archive_entry_set_size(entry, static_cast<la_int64_t>(content.size()));
    if (archive_write_header(a, entry) >= ARCHIVE_WARN && !content.empty())
      archive_write_data(a, content.data(), content.size());
    archive_entry_free(entry);
  }
  archive_write_close(a);
  archive_write_free(a);
  return std::string(buffer.data(), used);
}

// Every entry below the destination is a file, folder or link; folders are open to their owner;
// nothing carries set-id or sticky bits.
int CheckDestEntry(const char* path, const struct stat* st, int, struct FTW*) {
  const mode_t mode = st->st_mode;
  Require(S_ISREG(mode) || S_ISDIR(mode) || S_ISLNK(mode), "a special file was extracted:", path);
  Require(!S_ISDIR(mode) || (mode & S_IRWXU) == S_IRWXU, "a folder is closed to its owner:", path);
  Require(S_ISLNK(mode) || (mode & (S_ISUID | S_ISGID | S_ISVTX)) == 0, "set-id or sticky bit landed:", path);
  return 0;
}

void CheckDest() {
  struct stat st;
  Require(lstat(dest.c_str(), &st) == 0 && S_ISDIR(st.st_mode), "the destination is no longer a folder");
  Require(st.st_ino == dest_made.st_ino && st.st_dev == dest_made.st_dev, "the destination was replaced");
  Require((st.st_mode & 07777) == (dest_made.st_mode & 07777), "the destination's mode changed");
  nftw(dest.c_str(), CheckDestEntry, 16, FTW_PHYS);
}

void MakeDest() {
  Require(mkdir(dest.c_str(), 0755) == 0 && lstat(dest.c_str(), &dest_made) == 0,
          "cannot make the destination");
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
  MakeDest();
  root_names = Names(root);
  base_names = Names(base);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 256 * 1024) return 0;
  bool names_fold = false;
  if (size >= 4 && memcmp(data, "CVZE", 4) == 0) {
    Write(archive_file, ArchiveFromDescription(data + 4, size - 4, &names_fold));
  } else {
    Write(archive_file, std::string(reinterpret_cast<const char*>(data), size));
  }
  extractor_testing::SetNamesFold(names_fold ? 1 : 0);

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
  CheckDest();

  Clear(dest);
  MakeDest();
  return 0;
}
