#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __APPLE__
#include <sys/mount.h>
// macOS names the kinds of volume (f_fstypename); Linux's numbers mean nothing there.
enum : long {
  NFS_SUPER_MAGIC,
  SMB_SUPER_MAGIC,
  CIFS_SUPER_MAGIC,
  SMB2_SUPER_MAGIC,
  MSDOS_SUPER_MAGIC,
  EXT4_SUPER_MAGIC,
  TMPFS_MAGIC,
  PROC_SUPER_MAGIC,
  XFS_SUPER_MAGIC,
  BTRFS_SUPER_MAGIC,
  FUSE_SUPER_MAGIC,
  V9FS_MAGIC
};
#else
#include <linux/magic.h>
#include <sys/statfs.h>
#endif

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "extended-attributes.h"
#include "file-op.h"
#include "file_test_util.h"
#include "other_volume.h"
#include "path-ref.h"
#include "platform.h"
#include "temp_dir.h"

namespace {

// A folder that this program's statfs reports as lying on a volume of another kind: Linux's number
// for it, or macOS's name.
struct {
  std::string path;
  long magic = 0;
  const char* name = "";
} g_fake_volume;

// Run once, with the descriptor, before the next flush to disk that this program's fsync or a
// FlushSeam serves. A move to another volume flushes each copied file and folder, which gives a test
// its moment in the middle of the walk.
std::function<void(int)> g_before_next_flush;
// How many times this program's fsync was called.
int g_fsync_calls = 0;

void BeforeFlush(int fd) {
  if (!g_before_next_flush) return;
  std::function<void(int)> hook = std::move(g_before_next_flush);
  g_before_next_flush = nullptr;
  hook(fd);
}

int SystemFsync(int fd) {
  using Fsync = int (*)(int);
  static const Fsync system_fsync = reinterpret_cast<Fsync>(dlsym(RTLD_NEXT, "fsync"));
  return system_fsync(fd);
}

// A full-sync call (macOS: F_FULLFSYNC) that counts its calls, notes what it was asked to sync and
// how many fsyncs came before it, and answers as told.
struct {
  int result = 0;
  int error = 0;
  int calls = 0;
  ino_t inode = 0;
  int fsyncs_before = 0;
} g_full_sync;
int FakeFullSync(int fd) {
  ++g_full_sync.calls;
  struct stat st;
  g_full_sync.inode = fstat(fd, &st) == 0 ? st.st_ino : 0;
  g_full_sync.fsyncs_before = g_fsync_calls;
  errno = g_full_sync.error;
  return g_full_sync.result;
}

// While alive, a copied file's flush runs g_before_next_flush first on either platform: on macOS
// it is the full sync (F_FULLFSYNC), not fsync; on Linux there is no full sync and fsync serves.
class FlushSeam {
 public:
  FlushSeam() { system_ = FSSetFullSync(Flush); }
  ~FlushSeam() { FSSetFullSync(system_); }
  FlushSeam(const FlushSeam&) = delete;
  FlushSeam& operator=(const FlushSeam&) = delete;

 private:
  static int Flush(int fd) {
    BeforeFlush(fd);
    return system_ != nullptr ? system_(fd) : SystemFsync(fd);
  }
  static FSFullSyncCall system_;
};
FSFullSyncCall FlushSeam::system_ = nullptr;

}  // namespace

// This program's fsync: the system's, after g_before_next_flush.
extern "C" int fsync(int fd) {
  ++g_fsync_calls;
  BeforeFlush(fd);
  return SystemFsync(fd);
}

// This program's statfs: the system's answer, except for the kind of g_fake_volume's folder. NFS,
// SMB and FAT volumes cannot be mounted where the tests run; this is how the queries meet them.
#ifdef __APPLE__
extern "C" int statfs(const char* path, struct statfs* buf) {
#else
extern "C" int statfs(const char* path, struct statfs* buf) noexcept {  // as glibc declares it
#endif
  using Statfs = int (*)(const char*, struct statfs*);
#if defined(__APPLE__) && defined(__x86_64__)
  static const char* const kSystemName = "statfs$INODE64";  // the 64-bit inode form the header picks
#else
  static const char* const kSystemName = "statfs";
#endif
  static const Statfs system_statfs = reinterpret_cast<Statfs>(dlsym(RTLD_NEXT, kSystemName));
  const int result = system_statfs(path, buf);
  if (result == 0 && !g_fake_volume.path.empty() && g_fake_volume.path == path) {
#ifdef __APPLE__
    snprintf(buf->f_fstypename, sizeof(buf->f_fstypename), "%s", g_fake_volume.name);
#else
    buf->f_type = g_fake_volume.magic;
#endif
  }
  return result;
}

namespace {

using filetest::AsUnprivileged;
using filetest::Exists;
using filetest::GiveToNobody;
using filetest::LogCapture;
using filetest::PermissionBits;
using filetest::RealPath;
using filetest::ScratchVolume;
using filetest::UmaskGuard;
using filetest::WithDescriptorLimit;
using filetest::WorkingFolder;
using testsupport::OtherVolume;
using testsupport::ReadFile;
using testsupport::WriteFile;

// The names in `folder`, "." and ".." aside, sorted.
std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (struct dirent* entry = readdir(dir)) {
      if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) names.push_back(entry->d_name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

int TypeAt(const std::string& path) {
  _FILE_INFO_tag info;
  return GetFileInfo(path, info) == 0 ? info.type : -1;
}

class FileOpTest : public testsupport::TempDirTest {
 protected:
  // tmp() in its stored form (the temporary folder may itself lie below a link).
  std::string real(const std::string& relative) const { return RealPath(tmp()) + "/" + relative; }
  // A folder `real_dir` with the file `x`, and `alias` -> real_dir: paths through `alias` have a
  // linked parent, as /tmp/... has on macOS.
  void MakeLinkedParent() {
    ASSERT_EQ(0, mkdir(at("real_dir").c_str(), 0755));
    WriteFile(at("real_dir/x"), "12345");
    ASSERT_EQ(0, symlink("real_dir", at("alias").c_str()));
  }
};

// --- file information ---------------------------------------------------------------------------

TEST_F(FileOpTest, MissingFileOrParentIsSuccessWithNothingThere) {
  for (const std::string& missing : {at("nothing"), at("no/such/dir/file")}) {
    _FILE_INFO_tag info;
    info.type = 9;
    info.size = 9;
    ASSERT_EQ(0, GetFileInfo(missing, info)) << missing;
    EXPECT_FALSE(info.exists);
    EXPECT_EQ(0, info.type);
    EXPECT_EQ(0, info.size);
    EXPECT_EQ(missing, info.path.c_str());
    EXPECT_STREQ(missing.substr(missing.rfind('/') + 1).c_str(), info.name.c_str());
    EXPECT_FALSE(IsFileExist(missing, false));
    EXPECT_FALSE(IsFileExist(missing, true));

    _FILE_INFO_tag stat_info;
    stat_info.exists = true;
    stat_info.size = 77;
    EXPECT_EQ(0, FSStat(missing, stat_info, false));
    EXPECT_FALSE(stat_info.exists);
    EXPECT_EQ(77, stat_info.size) << "only `exists` is written for a missing file";
  }
}

TEST_F(FileOpTest, RegularFileRecordHoldsItsStatusAndStoredPath) {
  WriteFile(at("file"), "hello");
  ASSERT_EQ(0, chmod(at("file").c_str(), 0640));
  _FILE_INFO_tag info;
  ASSERT_EQ(0, GetFileInfo(at("file"), info));
  EXPECT_TRUE(info.exists);
  EXPECT_EQ(FILE_TYPE_REGULAR, info.type);
  EXPECT_EQ(5, info.size);
  EXPECT_EQ(static_cast<uint32_t>(S_IFREG | 0640), info.mode);
  EXPECT_EQ(getuid(), info.uid);
  EXPECT_STREQ(real("file").c_str(), info.path.c_str());
  EXPECT_STREQ("file", info.name.c_str());
  EXPECT_NE(0, info.mtime);
  EXPECT_NE(0, info.dev);
}

TEST_F(FileOpTest, PathThroughAFileFailsWithNotADirectory) {
  WriteFile(at("file"), "x");
  _FILE_INFO_tag info;
  info.size = 42;
  errno = 0;
  EXPECT_EQ(-1, GetFileInfo(at("file/x"), info));
  EXPECT_EQ(ENOTDIR, errno);
  EXPECT_EQ(42, info.size) << "the record is left as it was";
  EXPECT_FALSE(IsFileExist(at("file/x"), false));
  EXPECT_FALSE(IsFileExist(at("file/"), false)) << "a trailing separator demands a folder";
  _FILE_INFO_tag stat_info;
  EXPECT_EQ(0, FSStat(at("file/x"), stat_info, false));
  EXPECT_FALSE(stat_info.exists);
}

TEST_F(FileOpTest, EmptyPath) {
  _FILE_INFO_tag info;
  info.size = 5;
  EXPECT_FALSE(IsFileExist("", false));
  EXPECT_EQ(-1, FSStat("", info, false));
  EXPECT_EQ(5, info.size);
}

TEST_F(FileOpTest, LinkInLastComponentIsDescribedNotFollowed) {
  ASSERT_EQ(0, mkdir(at("folder").c_str(), 0755));
  ASSERT_EQ(0, symlink("folder", at("link").c_str()));
  _FILE_INFO_tag info;
  ASSERT_EQ(0, GetFileInfo(at("link"), info));
  EXPECT_EQ(FILE_TYPE_SYMLINK, info.type);
  EXPECT_EQ(6, info.size) << "the link's own size, strlen(\"folder\")";
  EXPECT_STREQ(real("link").c_str(), info.path.c_str());
}

TEST_F(FileOpTest, LinkedParentExistsOnlyInPlainFormAndStoresTheResolvedPath) {
  MakeLinkedParent();
  const std::string through_link = at("alias/x");
  EXPECT_TRUE(IsFileExist(through_link, false));
  EXPECT_FALSE(IsFileExist(through_link, true));
  EXPECT_TRUE(IsFileExist(real("real_dir/x"), true));

  _FILE_INFO_tag info;
  ASSERT_EQ(0, GetFileInfo(through_link, info));
  EXPECT_STREQ(real("real_dir/x").c_str(), info.path.c_str());
  EXPECT_STREQ("x", info.name.c_str());

  _FILE_INFO_tag exact;
  exact.size = 99;
  EXPECT_EQ(0, FSStat(through_link, exact, true));
  EXPECT_FALSE(exact.exists);
  EXPECT_EQ(99, exact.size);
  _FILE_INFO_tag plain;
  EXPECT_EQ(0, FSStat(through_link, plain, false));
  EXPECT_TRUE(plain.exists);
  EXPECT_EQ(5, plain.size);
}

TEST_F(FileOpTest, ExactFormRejectsTrailingSeparatorsDotsAndRelativePaths) {
  ASSERT_EQ(0, mkdir(at("d").c_str(), 0755));
  const std::string d = real("d");
  EXPECT_TRUE(IsFileExist(d, true));
  EXPECT_TRUE(IsFileExist(d + "/", false));
  EXPECT_FALSE(IsFileExist(d + "/", true));
  EXPECT_FALSE(IsFileExist(RealPath(tmp()) + "//d", true));
  EXPECT_FALSE(IsFileExist(d + "/../d", true));
  EXPECT_TRUE(IsFileExist(d + "/../d", false));

  WorkingFolder here(tmp());
  EXPECT_TRUE(IsFileExist("d", false));
  EXPECT_FALSE(IsFileExist("d", true));
  _FILE_INFO_tag info;
  ASSERT_EQ(0, GetFileInfo("./d/", info));
  EXPECT_STREQ(d.c_str(), info.path.c_str());
  EXPECT_STREQ("d", info.name.c_str());
}

TEST_F(FileOpTest, DecomposedNameOnDiskExistsExactlyUnderItsOwnSpelling) {
  const std::string nfd = at("cafe\xcc\x81");  // "e" + U+0301
  WriteFile(nfd, "");
  EXPECT_TRUE(IsFileExist(RealPath(tmp()) + "/cafe\xcc\x81", true));
  EXPECT_TRUE(IsFileExist(nfd, false));
}

TEST_F(FileOpTest, NameThatIsNotUtf8IsComparedByItsBytes) {
  const int fd = open(at("\xff").c_str(), O_CREAT | O_WRONLY, 0644);
  if (fd < 0 && errno == EILSEQ) GTEST_SKIP() << "this volume refuses names that are not UTF-8 (APFS)";
  ASSERT_LE(0, fd);
  close(fd);
  EXPECT_TRUE(IsFileExist(real("\xff"), true));
  EXPECT_FALSE(IsFileExist(RealPath(tmp()) + "/./\xff", true));
  EXPECT_TRUE(IsFileExist(RealPath(tmp()) + "/./\xff", false));
}

TEST_F(FileOpTest, RecordsCompareOnContentNotOwnership) {
  WriteFile(at("file"), "abc");
  _FILE_INFO_tag before, after;
  ASSERT_EQ(0, GetFileInfo(at("file"), before));
  if (testsupport::IsRoot()) {
    ASSERT_EQ(0, chown(at("file").c_str(), 1234, 5678));
  }
  ASSERT_EQ(0, chmod(at("file").c_str(), 0600));
  ASSERT_EQ(0, GetFileInfo(at("file"), after));
  EXPECT_TRUE(before == after);
  EXPECT_FALSE(before != after);

  WriteFile(at("file"), "abcd");
  ASSERT_EQ(0, GetFileInfo(at("file"), after));
  EXPECT_TRUE(before != after);
  EXPECT_TRUE(FSTimeEqual(10, 10));
  EXPECT_FALSE(FSTimeEqual(10, 11));
}

// --- folders ------------------------------------------------------------------------------------

TEST_F(FileOpTest, MKDirAcceptsFoldersAndRefusesFilesAndLinks) {
  ASSERT_EQ(0, mkdir(at("folder").c_str(), 0700));
  EXPECT_EQ(0, FSMKDir(at("folder"), true));
  EXPECT_EQ(0700u, PermissionBits(at("folder"))) << "an existing folder is left as it is";
  WriteFile(at("file"), "");
  EXPECT_EQ(-1, FSMKDir(at("file"), true));
  ASSERT_EQ(0, symlink("folder", at("link").c_str()));
  EXPECT_EQ(-1, FSMKDir(at("link"), true));
  EXPECT_EQ(-1, FSMKDir(at("link"), false));
  struct stat st;
  ASSERT_EQ(0, lstat(at("link").c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link is left a link";
  EXPECT_EQ(-1, FSMKDir(at("file/below"), false)) << "ENOTDIR is unreadable information";
  EXPECT_EQ(-1, FSMKDir("", true));
}

TEST_F(FileOpTest, MKDirCreatesParentsOnlyWhenRecursiveUnderTheUmask) {
  UmaskGuard mask(027);
  errno = 0;
  EXPECT_EQ(-2, FSMKDir(at("a/b/c"), false));
  EXPECT_EQ(ENOENT, errno);
  EXPECT_FALSE(Exists(at("a")));
  EXPECT_EQ(0, FSMKDir(at("a/b/c"), true));
  EXPECT_EQ(0750u, PermissionBits(at("a/b")));
  EXPECT_EQ(0750u, PermissionBits(at("a/b/c")));
  EXPECT_EQ(0, FSMKDir(at("a/b/d"), false));
}

TEST_F(FileOpTest, MKDirPRelativeWithTrailingSeparatorStopsAtIt) {
  WorkingFolder here(tmp());
  ustring path("a/b/");
  char* stop = nullptr;
  ASSERT_EQ(0, FSMKDirP(path, &stop, false, 0xFFFF));
  EXPECT_TRUE(Exists(at("a/b")));
  EXPECT_EQ(path.c_str() + 3, stop);
}

TEST_F(FileOpTest, MKDirPFileInTheWayIsReplacedOnlyOnRequest) {
  WriteFile(at("f"), "keep me");
  ustring middle(at("f/x"));
  char* stop = nullptr;
  errno = 0;
  EXPECT_EQ(-1, FSMKDirP(middle, &stop, false, 0xFFFF));
  EXPECT_EQ(ENOTDIR, errno);
  EXPECT_EQ(middle.c_str() + middle.length(), stop) << "stopped at the component that failed";
  EXPECT_EQ("keep me", ReadFile(at("f")));

  ustring last(at("f"));
  errno = 0;
  EXPECT_EQ(-1, FSMKDirP(last, &stop, false, 0xFFFF));
  EXPECT_EQ(EEXIST, errno);

  EXPECT_EQ(0, FSMKDirP(middle, &stop, true, 0xFFFF));
  struct stat st;
  ASSERT_EQ(0, stat(at("f/x").c_str(), &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(FileOpTest, MKDirPExplicitModeAppliesExactlyAndLeavesTheUmask) {
  UmaskGuard mask(022);
  ASSERT_EQ(0, FSMKDirP(at("m/n"), nullptr, false, 0775));
  EXPECT_EQ(0775u, PermissionBits(at("m")));
  EXPECT_EQ(0775u, PermissionBits(at("m/n")));
  mode_t now = umask(022);
  EXPECT_EQ(022u, now);
  ASSERT_EQ(0, symlink("m", at("link").c_str()));
  EXPECT_EQ(0, FSMKDirP(at("link/o"), nullptr, false, 0xFFFF)) << "a link to a folder is walked through";
  EXPECT_TRUE(Exists(at("m/o")));
}

TEST_F(FileOpTest, MKDirFromRootCreatesOneLevelAtATimeBelowTheRoot) {
  LogCapture log(tmp());
  ASSERT_EQ(0, mkdir(at("r").c_str(), 0755));
  EXPECT_EQ(0, FSMKDirFromRoot(at("r/a/b"), at("r")));
  EXPECT_TRUE(Exists(at("r/a/b")));
  EXPECT_NE(std::string::npos, log.text().find("FSMKDirFromRoot: create /a/b"));
  EXPECT_EQ(0, FSMKDirFromRoot(at("r"), at("r")));
  EXPECT_EQ(-1, FSMKDirFromRoot(at("rx/a"), at("r")));
  EXPECT_FALSE(Exists(at("rx")));
  EXPECT_EQ(-1, FSMKDirFromRoot("/", at("r")));
  EXPECT_EQ(-1, FSMKDirFromRoot(at("r/c"), "/"));
  const std::string text = log.text();
  EXPECT_NE(std::string::npos, text.find("is not a parent folder of target"));
  EXPECT_NE(std::string::npos, text.find("whose length is larger then target's"));
  EXPECT_NE(std::string::npos, text.find("file-op.cpp(")) << "log lines name the source file";
}

// --- listings -----------------------------------------------------------------------------------

TEST_F(FileOpTest, ListingReportsEveryEntryWithItsStreamType) {
  ASSERT_EQ(0, mkdir(at("d").c_str(), 0755));
  WriteFile(at("d/file"), "12345");
  ASSERT_EQ(0, mkdir(at("d/sub").c_str(), 0755));
  ASSERT_EQ(0, symlink("file", at("d/link").c_str()));
  ASSERT_EQ(0, mkfifo(at("d/pipe").c_str(), 0644));

  DIR_HANDLE handle;
  ASSERT_EQ(0, FSOpenDir(at("d"), 0, handle));
  std::map<std::string, DIR_ENTRY> seen;
  DIR_ENTRY entry;
  while (FSReadDir(handle, entry) > 0) seen[entry.name.c_str()] = entry;
  EXPECT_EQ(0, FSReadDir(handle, entry)) << "the end keeps being the end";
  FSCloseDir(handle);
  EXPECT_EQ(nullptr, handle.dir);

  ASSERT_EQ(6u, seen.size());
  EXPECT_EQ(FILE_TYPE_DIRECTORY, seen["."].type);
  EXPECT_EQ(FILE_TYPE_DIRECTORY, seen[".."].type);
  EXPECT_EQ(FILE_TYPE_REGULAR, seen["file"].type);
  EXPECT_EQ(FILE_TYPE_DIRECTORY, seen["sub"].type);
  EXPECT_EQ(FILE_TYPE_SYMLINK, seen["link"].type);
  EXPECT_EQ(FILE_TYPE_FIFO, seen["pipe"].type);
  for (const auto& [name, e] : seen) {
    EXPECT_EQ(0, e.size) << name;
    EXPECT_EQ(0, e.mtime) << name;
  }
}

TEST_F(FileOpTest, ListingWithStatGivesSizesAlsoThroughALinkedParent) {
  MakeLinkedParent();
  for (const std::string& folder : {at("real_dir"), at("alias")}) {
    DIR_HANDLE handle;
    ASSERT_EQ(0, FSOpenDir(folder, DIR_FLAG_STAT, handle));
    DIR_ENTRY entry;
    bool found = false;
    while (FSReadDir(handle, entry) > 0) {
      if (entry.name == "x") {
        found = true;
        EXPECT_EQ(5, entry.size) << folder;
        EXPECT_NE(0, entry.mtime) << folder;
      }
    }
    FSCloseDir(handle);
    EXPECT_TRUE(found);
  }
}

TEST_F(FileOpTest, OpeningAMissingFolderLeavesTheHandle) {
  DIR_HANDLE handle;
  handle.flags = 3;
  EXPECT_EQ(-1, FSOpenDir(at("missing"), 1, handle));
  EXPECT_EQ(nullptr, handle.dir);
  EXPECT_EQ(3, handle.flags);
}

// --- copy ---------------------------------------------------------------------------------------

TEST_F(FileOpTest, CopyTruncatesAndCopiesEmptyFiles) {
  WriteFile(at("src"), "short");
  WriteFile(at("dst"), std::string(20000, 'x'));
  EXPECT_EQ(0, FSCopy(at("src"), at("dst"), false, false));
  EXPECT_EQ("short", ReadFile(at("dst")));

  WriteFile(at("empty"), "");
  EXPECT_EQ(0, FSCopy(at("empty"), at("empty-copy"), false, false));
  EXPECT_TRUE(Exists(at("empty-copy")));
  EXPECT_EQ("", ReadFile(at("empty-copy")));

  std::string big(3 * 8192 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31);
  WriteFile(at("big"), big);
  EXPECT_EQ(0, FSCopy(at("big"), at("big-copy"), false, false));
  EXPECT_EQ(big, ReadFile(at("big-copy")));
}

TEST_F(FileOpTest, CopyModesUnderAUmask) {
  WriteFile(at("prog"), "#!/bin/sh\n");
  ASSERT_EQ(0, chmod(at("prog").c_str(), 0755));
  {
    UmaskGuard mask(022);
    EXPECT_EQ(0, FSCopy(at("prog"), at("plain"), false, false));
    EXPECT_EQ(0644u, PermissionBits(at("plain")));
    EXPECT_EQ(0, FSCopy(at("prog"), at("kept"), false, true));
    EXPECT_EQ(0755u, PermissionBits(at("kept")));
  }
  {
    UmaskGuard mask(077);
    EXPECT_EQ(0, FSCopy(at("prog"), at("private"), false, true));
    EXPECT_EQ(0700u, PermissionBits(at("private")));
    ASSERT_EQ(0, chmod(at("plain").c_str(), 0604));
    EXPECT_EQ(0, FSCopy(at("prog"), at("plain"), false, true));
    EXPECT_EQ(0604u, PermissionBits(at("plain"))) << "an existing destination keeps its bits";
  }
}

TEST_F(FileOpTest, CopyKeepsTheModeOfASourceReachedThroughALinkedParent) {
  MakeLinkedParent();
  ASSERT_EQ(0, chmod(at("real_dir/x").c_str(), 0640));
  UmaskGuard mask(022);
  EXPECT_EQ(0, FSCopy(at("alias/x"), at("copy"), false, true));
  EXPECT_EQ(0640u, PermissionBits(at("copy")));
  EXPECT_EQ("12345", ReadFile(at("copy")));
}

TEST_F(FileOpTest, CopyRemovesTheSourceOnlyAfterACompleteCopy) {
  WriteFile(at("src"), "payload");
  EXPECT_EQ(0, FSCopy(at("src"), at("dst"), true, false));
  EXPECT_FALSE(Exists(at("src")));
  EXPECT_EQ("payload", ReadFile(at("dst")));

  EXPECT_EQ(-1, FSCopy(at("missing"), at("dst2"), true, false));
  EXPECT_FALSE(Exists(at("dst2")));
  WriteFile(at("src"), "payload");
  EXPECT_EQ(-1, FSCopy(at("src"), at("no/such/dir/dst"), true, false));
  EXPECT_TRUE(Exists(at("src")));
}

TEST_F(FileOpTest, CopyOntoItselfFailsAndKeepsTheFile) {
  MakeLinkedParent();
  EXPECT_EQ(-1, FSCopy(at("real_dir/x"), at("real_dir/x"), false, false));
  EXPECT_EQ(-1, FSCopy(at("real_dir/x"), at("alias/x"), true, false));
  EXPECT_EQ("12345", ReadFile(at("real_dir/x")));
}

TEST_F(FileOpTest, CopyOfAFolderFailsWithoutCreatingTheDestination) {
  ASSERT_EQ(0, mkdir(at("d").c_str(), 0755));
  EXPECT_EQ(-1, FSCopy(at("d"), at("out"), false, false));
  EXPECT_FALSE(Exists(at("out")));
}

TEST_F(FileOpTest, CopyOntoAFullVolumeGivesMinusTwo) {
  ScratchVolume volume(at("vol"), "size=64k");
  SKIP_WITHOUT_VOLUME(volume, "that a copy onto a full volume returns -2");
  LogCapture log(tmp());
  WriteFile(at("big"), std::string(512 * 1024, 'z'));
  EXPECT_EQ(-2, FSCopy(at("big"), at("vol/big"), true, false));
  EXPECT_TRUE(Exists(at("big"))) << "the source stays when the copy failed";
  EXPECT_NE(std::string::npos, log.text().find("CopyFile: write: No space left on device"));
}

TEST_F(FileOpTest, CopyReportsAFailedRemovalOfTheSource) {
  ScratchVolume volume(at("vol"));
  SKIP_WITHOUT_VOLUME(volume, "that FSCopy returns -1 when the source cannot be removed");
  WriteFile(at("vol/src"), "all of it");
  ASSERT_TRUE(volume.MakeReadOnly());
  EXPECT_EQ(-1, FSCopy(at("vol/src"), at("dst"), true, false));
  EXPECT_EQ("all of it", ReadFile(at("dst")));
  EXPECT_TRUE(Exists(at("vol/src")));
}

// On macOS fsync leaves a copy in the drive's cache: the full-sync call forces it out, fsync serves
// only where the volume refuses that, and any other failure of it is the copy's failure.
TEST_F(FileOpTest, CopyForcesTheDestinationOntoTheDrive) {
  LogCapture log(tmp());
  WriteFile(at("src"), "data");
  const struct {
    int result;
    int error;
    int copy;    // FSCopy's result
    int fsyncs;  // after the one full-sync call
  } cases[] = {
      {0, 0, 0, 0},       {-1, ENOTSUP, 0, 1}, {-1, EINVAL, 0, 1},
      {-1, ENOTTY, 0, 1}, {-1, EIO, -1, 0},    {-1, ENOSPC, -2, 0},
  };
  const FSFullSyncCall system = FSSetFullSync(FakeFullSync);
  for (const auto& c : cases) {
    g_full_sync = {c.result, c.error, 0, 0, 0};
    g_fsync_calls = 0;
    EXPECT_EQ(c.copy, FSCopy(at("src"), at("dst"), false, false)) << strerror(c.error);
    EXPECT_EQ(1, g_full_sync.calls) << strerror(c.error);
    EXPECT_EQ(c.fsyncs, g_fsync_calls) << strerror(c.error);
  }
  EXPECT_NE(std::string::npos, log.text().find("CopyFile: fsync(" + at("dst") + "): " + strerror(EIO)));

  // Without a full-sync call, as on Linux: fsync alone.
  FSSetFullSync(nullptr);
  g_fsync_calls = 0;
  EXPECT_EQ(0, FSCopy(at("src"), at("dst"), false, false));
  EXPECT_EQ(1, g_fsync_calls);
  FSSetFullSync(system);
#ifdef __APPLE__
  EXPECT_NE(nullptr, system) << "macOS forces copies out with F_FULLFSYNC";
#else
  EXPECT_EQ(nullptr, system) << "fsync reaches the drive on Linux";
#endif
}

// The file-by-file way of putting a tree on the drive (macOS's): fsync hands every file and folder to
// the drive, then one full sync of the top flushes the drive's cache for them all, and its failure is
// the tree's.
TEST_F(FileOpTest, TreeSyncFileByFileEndsWithOneFullSyncOfTheTop) {
  LogCapture log(tmp());
  ASSERT_EQ(0, FSMKDirP(at("tree/sub"), nullptr, false, 0xFFFF));
  WriteFile(at("tree/a"), "a");
  WriteFile(at("tree/sub/b"), "b");
  ASSERT_EQ(0, symlink("a", at("tree/link").c_str()));
  struct stat top;
  ASSERT_EQ(0, stat(at("tree").c_str(), &top));
  const FSFullSyncCall system = FSSetFullSync(FakeFullSync);
  for (const int error : {0, EIO}) {
    g_full_sync = {error == 0 ? 0 : -1, error, 0, 0, 0};
    g_fsync_calls = 0;
    EXPECT_EQ(error == 0 ? 0 : -1, FSSyncTreeFileByFile(at("tree"))) << strerror(error);
    EXPECT_EQ(1, g_full_sync.calls) << strerror(error);
    EXPECT_EQ(top.st_ino, g_full_sync.inode) << strerror(error);
    EXPECT_EQ(4, g_full_sync.fsyncs_before) << "the two folders and two files first, " << strerror(error);
  }
  FSSetFullSync(system);
  EXPECT_NE(std::string::npos,
            log.text().find("FSSyncTree: full sync(" + at("tree") + "): " + strerror(EIO)));
}

// A file the package made unreadable (0000, 0111) is synced by its owner all the same and keeps its
// exact mode: a sync that failed there would roll every start back, and the next one upgrade again.
TEST_F(FileOpTest, TreeSyncFileByFileSyncsUnreadableFilesAndKeepsTheirModes) {
  LogCapture log(tmp());
  ASSERT_EQ(0, chmod(tmp().c_str(), 0777));
  ASSERT_EQ(0, mkdir(at("tree").c_str(), 0755));
  const std::map<std::string, mode_t> modes = {{"none", 0}, {"exec", 0111}, {"plain", 0644}};
  std::vector<ino_t> inodes;
  for (const auto& [name, mode] : modes) {
    WriteFile(at("tree/" + name), name);
    ASSERT_EQ(0, chmod(at("tree/" + name).c_str(), mode));
    struct stat st;
    ASSERT_EQ(0, lstat(at("tree/" + name).c_str(), &st));
    inodes.push_back(st.st_ino);
  }
  GiveToNobody(at("tree"));
  // 0 when the sync succeeded and reached every file, else -1 or the number of files it missed.
  EXPECT_EQ(0, AsUnprivileged([&] {
              std::vector<ino_t> synced;
              FSSetSyncHook([&](int fd, FSSyncScope) {
                struct stat st;
                if (fstat(fd, &st) == 0) synced.push_back(st.st_ino);
              });
              const int result = FSSyncTreeFileByFile(at("tree"));
              FSSetSyncHook(nullptr);
              int missed = 0;
              for (const ino_t inode : inodes) missed += std::count(synced.begin(), synced.end(), inode) == 0;
              return result != 0 ? -1 : missed;
            }))
      << log.text();
  for (const auto& [name, mode] : modes) EXPECT_EQ(mode, PermissionBits(at("tree/" + name))) << name;
}

// --- rename -------------------------------------------------------------------------------------

TEST_F(FileOpTest, RenameResultCodes) {
  LogCapture log(tmp());
  EXPECT_EQ(-1, FSRename("", at("x"), false));
  WriteFile(at("file"), "1");
  EXPECT_EQ(-1, FSRename(at("file"), "", false));
  EXPECT_EQ(-2, FSRename(at("missing"), at("x"), false));
  EXPECT_EQ(-100, FSRename(at("file"), at(std::string(300, 'n')), false));
  EXPECT_EQ(-3, FSRename(at("file"), at("no/such/dir"), false));
  EXPECT_EQ(0, FSRename(at("file"), at("moved"), false));
  EXPECT_EQ("1", ReadFile(at("moved")));
  // Callers report a failed move themselves: the detail is DEBUG, never a second ERROR.
  EXPECT_EQ("DEBUG", log.level_of("FSRename: rename(" + at("file") + ", " + at("no/such/dir") + ")"));
  EXPECT_EQ(std::string::npos, log.text().find("[ERROR]"));
}

TEST_F(FileOpTest, RenameExactRefusesASourceThroughALinkedParent) {
  MakeLinkedParent();
  EXPECT_EQ(-2, FSRename(at("alias/x"), at("y"), true));
  EXPECT_TRUE(Exists(at("real_dir/x")));
  EXPECT_EQ(0, FSRename(real("real_dir/x"), at("y"), true));
  EXPECT_EQ(0, FSRename(at("y"), at("alias/x"), false));
  EXPECT_TRUE(Exists(at("real_dir/x")));
}

// A user attribute of `path` itself: set, or read ("" when it has none).
int SetTag(const std::string& path, const std::string& value) {
  return SetAttribute(-1, path.c_str(), "user.tag", value.data(), value.size());
}
std::string Tag(const std::string& path) {
  char value[64];
  const ssize_t n = GetAttribute(-1, path.c_str(), "user.tag", value, sizeof(value));
  return n < 0 ? "" : std::string(value, static_cast<size_t>(n));
}

// Modification time in nanoseconds, of a link itself.
long long MTime(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return -1;
#ifdef __APPLE__
  return st.st_mtimespec.tv_sec * 1000000000LL + st.st_mtimespec.tv_nsec;
#else
  return st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
#endif
}

TEST_F(FileOpTest, RenameAcrossVolumesMovesATreeWithLinksAndModes) {
  OtherVolume volume(at("vol"));
  UmaskGuard mask(077);
  const std::string tree = at("App.framework");
  ASSERT_EQ(0, FSMKDirP(tree + "/Versions/A/Resources", nullptr, false, 0755));
  WriteFile(tree + "/Versions/A/App",
            "\x7f"
            "ELF");
  ASSERT_EQ(0, chmod((tree + "/Versions/A/App").c_str(), 0755));
  WriteFile(tree + "/Versions/A/Resources/INFO", "[Version]\n");
  ASSERT_EQ(0, chmod((tree + "/Versions/A/Resources/INFO").c_str(), 0644));
  ASSERT_EQ(0, symlink("A", (tree + "/Versions/Current").c_str()));
  ASSERT_EQ(0, symlink("Versions/Current/App", (tree + "/App").c_str()));
  // As a rename keeps them: times from 2020 (a folder's set after its content), tags, hard links.
  ASSERT_EQ(0, link((tree + "/Versions/A/App").c_str(), (tree + "/Versions/A/Resources/App").c_str()));
  const struct timespec y2020[2] = {{1577836800, 123456789}, {1577836800, 123456789}};
  for (const char* p : {"/Versions/A/Resources/INFO", "/Versions/A/Resources", "/Versions/Current", ""})
    ASSERT_EQ(0, utimensat(AT_FDCWD, (tree + p).c_str(), y2020, AT_SYMLINK_NOFOLLOW)) << p;
  ASSERT_EQ(0, SetTag(tree + "/Versions/A/App", "red"));
  ASSERT_EQ(0, SetTag(tree + "/Versions", "blue"));

  EXPECT_EQ(0, FSRename(tree, at("vol/App.framework"), false));
  EXPECT_FALSE(Exists(tree));
  const std::string moved = at("vol/App.framework");
  EXPECT_EQ(
      "\x7f"
      "ELF",
      ReadFile(moved + "/App"))
      << "links were recreated and resolve";
  EXPECT_EQ(0755u, PermissionBits(moved + "/Versions/A/App"));
  EXPECT_EQ(0644u, PermissionBits(moved + "/Versions/A/Resources/INFO"));
  EXPECT_EQ(0755u, PermissionBits(moved + "/Versions"));
  ustring target;
  ASSERT_EQ(0, FSReadSymbolicLink(moved + "/Versions/Current", target));
  EXPECT_STREQ("A", target.c_str());
  for (const char* p : {"/Versions/A/Resources/INFO", "/Versions/A/Resources", "/Versions/Current", ""})
    EXPECT_EQ(1577836800123456789LL, MTime(moved + p)) << p;
  struct stat a, b;
  ASSERT_EQ(0, stat((moved + "/Versions/A/App").c_str(), &a));
  ASSERT_EQ(0, stat((moved + "/Versions/A/Resources/App").c_str(), &b));
  EXPECT_EQ(a.st_ino, b.st_ino) << "hard links stay links of one file";
  EXPECT_EQ("red blue", Tag(moved + "/Versions/A/App") + " " + Tag(moved + "/Versions"));
}

TEST_F(FileOpTest, RenameAcrossVolumesKeepsAFilesExecutableBit) {
  OtherVolume volume(at("vol"));
  UmaskGuard mask(022);
  WriteFile(at("prog"), "#!/bin/sh\necho hi\n");
  ASSERT_EQ(0, chmod(at("prog").c_str(), 0750));
  EXPECT_EQ(0, FSRename(at("prog"), at("vol/prog"), false));
  EXPECT_FALSE(Exists(at("prog")));
  EXPECT_EQ(0750u, PermissionBits(at("vol/prog")));
  EXPECT_EQ("#!/bin/sh\necho hi\n", ReadFile(at("vol/prog")));
}

// A link in the destination where a moved file goes is replaced, where a moved folder goes it stops
// the move: nothing is ever written into what it points to. A source given as "link/" moves the link.
TEST_F(FileOpTest, RenameAcrossVolumesNeverWritesThroughALink) {
  OtherVolume volume(at("vol"));
  ASSERT_EQ(0, mkdir(at("outside").c_str(), 0755));
  WriteFile(at("outside/keep"), "k");
  const struct {
    const char* moved;      // "file", or "tree" holding sub/file
    const char* link;       // a link waiting in the destination
    const char* points_to;  // below tmp()
    int result;
  } cases[] = {
      {"file", "file", "outside/keep", 0},
      {"tree", "tree/sub/file", "outside/keep", -3},  // the folder is not empty: refused, as rename refuses
      {"tree", "tree/sub", "outside", -3},
      {"tree", "tree", "outside", -3},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string src = at("src" + std::to_string(n)) + "/", dst = at("vol/" + std::to_string(n++)) + "/";
    ASSERT_EQ(0, FSMKDirP(src + "tree/sub", nullptr, false, 0xFFFF));
    WriteFile(src + "tree/sub/file", "moved");
    WriteFile(src + "file", "moved");
    const std::string link = dst + c.link;
    ASSERT_EQ(0, FSMKDirP(FSParentPath(link), nullptr, false, 0xFFFF));
    ASSERT_EQ(0, symlink(at(c.points_to).c_str(), link.c_str()));

    EXPECT_EQ(c.result, FSRename(src + c.moved, dst + c.moved, false)) << c.link;
    EXPECT_EQ("k", ReadFile(at("outside/keep"))) << c.link;
    EXPECT_EQ(std::vector<std::string>{"keep"}, Entries(at("outside"))) << c.link;
    if (c.result == 0) {
      EXPECT_EQ(FILE_TYPE_REGULAR, TypeAt(link)) << c.link;
      EXPECT_EQ("moved", ReadFile(link)) << c.link;
    } else {
      EXPECT_EQ(FILE_TYPE_SYMLINK, TypeAt(link)) << c.link;
    }
  }

  ASSERT_EQ(0, symlink("outside", at("alias").c_str()));
  EXPECT_EQ(0, FSRename(at("alias/"), at("vol/alias"), false));
  EXPECT_EQ(FILE_TYPE_SYMLINK, TypeAt(at("vol/alias")));
  EXPECT_FALSE(Exists(at("alias")));
  EXPECT_EQ(std::vector<std::string>{"keep"}, Entries(at("outside")));
  EXPECT_EQ(-3, FSRename(at("outside/keep"), at("vol/keep/"), false))
      << "a trailing separator asks for a folder";
  EXPECT_FALSE(Exists(at("vol/keep")));
}

// The entry a move copies second, swapped for a link while it copies the first, stops the move,
// and what the link points to is neither read nor moved: a folder in one tree, a file in the other.
TEST_F(FileOpTest, RenameAcrossVolumesNeverFollowsAnEntrySwappedForALink) {
  OtherVolume volume(at("vol"));
  FlushSeam seam;
  ASSERT_EQ(0, mkdir(at("outside").c_str(), 0755));
  WriteFile(at("outside/keep"), "k");
  for (const bool folders : {true, false}) {
    const std::string tree = at(folders ? "folders" : "files");
    for (const char* name : {"a", "b"}) {
      ASSERT_EQ(0, FSMKDirP(tree + (folders ? std::string("/") + name : ""), nullptr, false, 0xFFFF));
      WriteFile(tree + "/" + name + (folders ? "/file" : ""), name);
    }
    std::vector<std::string> order;  // as the move lists them
    DIR* dir = opendir(tree.c_str());
    ASSERT_NE(nullptr, dir);
    while (const struct dirent* e = readdir(dir))
      if (e->d_name[0] != '.') order.push_back(e->d_name);
    closedir(dir);
    const std::string second = tree + "/" + order.at(1);
    g_before_next_flush = [&](int) {
      ASSERT_EQ(0, rename(second.c_str(), at("aside").c_str()));
      ASSERT_EQ(0, symlink(at(folders ? "outside" : "outside/keep").c_str(), second.c_str()));
    };
    EXPECT_EQ(-3, FSRename(tree, at("vol/tree"), false)) << second;
    EXPECT_EQ(nullptr, g_before_next_flush) << "the swap took place";
    g_before_next_flush = nullptr;
    EXPECT_EQ(std::vector<std::string>{"keep"}, Entries(at("outside")));
    EXPECT_EQ("k", ReadFile(at("outside/keep")));
    EXPECT_EQ(std::vector<std::string>{}, Entries(at("vol"))) << "the partial copy is removed";
    // The source is whole, but for the entry the test set aside.
    EXPECT_EQ(order[0], ReadFile(tree + "/" + order[0] + (folders ? "/file" : "")));
    EXPECT_EQ(order[1], ReadFile(at("aside") + (folders ? "/file" : "")));
    ASSERT_EQ(0, FSRemove(at("aside"), false));
  }
}

// Pipes (and sockets) hold no data: a move leaves them out and says so.
TEST_F(FileOpTest, RenameAcrossVolumesLeavesOutPipes) {
  OtherVolume volume(at("vol"));
  LogCapture log(tmp());
  ASSERT_EQ(0, mkdir(at("tree").c_str(), 0755));
  ASSERT_EQ(0, mkfifo(at("tree/pipe").c_str(), 0644));
  WriteFile(at("tree/file"), "f");
  EXPECT_EQ(0, FSRename(at("tree"), at("vol/tree"), false));
  EXPECT_FALSE(Exists(at("tree")));
  EXPECT_EQ(std::vector<std::string>{"file"}, Entries(at("vol/tree")));
  EXPECT_EQ("WARNING",
            log.level_of("FSRename: '" + at("tree/pipe") + "' is left out: a named pipe holds no data"));
}

// Across volumes as on one: a folder takes the place of nothing or of an empty folder, anything else
// that of whatever is not a folder. A refused move leaves both sides as they were, so newer data
// waiting at the destination is never overwritten; a copy left by a move cut off is cleared.
TEST_F(FileOpTest, RenameAcrossVolumesReplacesOnlyWhatRenameReplaces) {
  OtherVolume volume(at("vol"));
  const struct {
    const char* moved;    // "data": a folder holding settings.ini and sub/db; or "file"
    const char* waiting;  // what the destination holds first
    int result;
  } cases[] = {
      {"data", "nothing", 0},       {"data", "empty folder", 0},  {"data", "folder with a file", -3},
      {"data", "file", -3},         {"data", "leftover copy", 0}, {"file", "file", 0},
      {"file", "empty folder", -3},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string what = std::string(c.moved) + " onto " + c.waiting + " (" + volume.how() + ")";
    const std::string from = at("src" + std::to_string(n)), to = at("vol/" + std::to_string(n++));
    const std::string src = from + "/" + c.moved, dst = to + "/" + c.moved;
    ASSERT_EQ(0, FSMKDirP(from + "/data/sub", nullptr, false, 0xFFFF));
    WriteFile(from + "/data/settings.ini", "old");
    WriteFile(from + "/data/sub/db", "old db");
    WriteFile(from + "/file", "old");
    ASSERT_EQ(0, FSMKDirP(to, nullptr, false, 0xFFFF));
    const std::string waiting = c.waiting;
    if (waiting == "empty folder" || waiting == "folder with a file") {
      ASSERT_EQ(0, mkdir(dst.c_str(), 0755));
    }
    if (waiting == "folder with a file") WriteFile(dst + "/settings.ini", "new");
    if (waiting == "file") WriteFile(dst, "new");
    if (waiting == "leftover copy") {
      ASSERT_EQ(0, FSMKDirP(to + "/.data.corvane-move/sub", nullptr, false, 0xFFFF));
      WriteFile(to + "/.data.corvane-move/sub/db", "partial");
      ASSERT_EQ(0, chmod((to + "/.data.corvane-move/sub").c_str(), 0555)) << "even a read-only one";
    }

    EXPECT_EQ(c.result, FSRename(src, dst, false)) << what;
    EXPECT_EQ(std::vector<std::string>{c.moved}, Entries(to)) << "nothing else stays, " << what;
    const std::string moved_file = std::string(c.moved) == "file" ? "" : "/settings.ini";
    if (c.result == 0) {
      EXPECT_EQ("old", ReadFile(dst + moved_file)) << what;
      EXPECT_FALSE(Exists(src)) << what;
      continue;
    }
    EXPECT_EQ("old", ReadFile(src + moved_file)) << "the source is whole, " << what;
    if (waiting == "folder with a file") {
      EXPECT_EQ(std::vector<std::string>{"settings.ini"}, Entries(dst)) << what;
      EXPECT_EQ("new", ReadFile(dst + "/settings.ini")) << what;
    } else if (waiting == "file") {
      EXPECT_EQ("new", ReadFile(dst)) << what;
    } else {
      EXPECT_EQ(std::vector<std::string>{}, Entries(dst)) << what;
    }
  }

  // A destination whose folder lies beyond the system's path limit is a name too long, as on one
  // volume.
  std::string too_long = at("vol");
  while (too_long.size() <= 4096 + 201) too_long += "/" + std::string(200, 'n');
  ASSERT_EQ(0, mkdir(at("folder").c_str(), 0755));
  EXPECT_EQ(-100, FSRename(at("folder"), too_long, false)) << volume.how();
  EXPECT_TRUE(Exists(at("folder")));
}

// A move to another volume cut off half-way (its process ends at the second flush to disk) leaves
// the source whole and nothing under the destination's name; the next move completes.
TEST_F(FileOpTest, RenameAcrossVolumesCutOffLeavesTheSourceWhole) {
  OtherVolume volume(at("vol"));
  FlushSeam seam;
  ASSERT_EQ(0, FSMKDirP(at("data/sub"), nullptr, false, 0xFFFF));
  for (const char* name : {"a", "sub/b", "c"}) WriteFile(at("data/") + name, name);
  const pid_t child = fork();
  if (child == 0) {
    g_before_next_flush = [](int) { g_before_next_flush = [](int) { _exit(0); }; };
    FSRename(at("data"), at("vol/data"), false);
    _exit(1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the move was cut off, " << volume.how();
  EXPECT_FALSE(Exists(at("vol/data")));
  for (const char* name : {"a", "sub/b", "c"}) EXPECT_EQ(name, ReadFile(at("data/") + name));

  EXPECT_EQ(0, FSRename(at("data"), at("vol/data"), false));
  EXPECT_EQ(std::vector<std::string>{"data"}, Entries(at("vol")));
  for (const char* name : {"a", "sub/b", "c"}) EXPECT_EQ(name, ReadFile(at("vol/data/") + name));
  EXPECT_FALSE(Exists(at("data")));
}

// What a move could not finish (a read-only folder it could not empty afterwards, a file it cannot
// read, more than the other volume holds) is refused before anything is copied, so the data is
// never left split between the two volumes nor the other volume filled; FSCheckMove says so first
// (told on a real second volume: the stand-in shares the device). A file with holes takes only its
// data's room there.
TEST_F(FileOpTest, RenameAcrossVolumesRefusesWhatCannotFinishAndTheCheckSaysSoFirst) {
  OtherVolume volume(at("vol"));  // 16 MiB as root
  ASSERT_EQ(0, chmod(tmp().c_str(), 0777));
  const struct {
    const char* name;
    const char* chmod_path;  // made unreadable or read-only
    mode_t mode;
    off_t big;  // a file "big" of this size: with data (> 0), or a hole with 4 KiB of data (< 0)
    int err;    // what the check says, 0 when the move succeeds
  } rows[] = {{"read-only folder", "locked", 0555, 0, EACCES},
              {"unreadable file", "locked/b", 0200, 0, EACCES},
              {"larger than the volume", nullptr, 0, 17 << 20, ENOSPC},
              {"200 MB holding 4 KiB", nullptr, 0, -(200 << 20), 0}};
  for (const auto& row : rows) {
    if (row.big > 0 && !volume.real()) continue;  // the stand-in is as large as this disk
    const std::string data = at(std::string("data-") + row.name), dst = at(std::string("vol/") + row.name);
    ASSERT_EQ(0, FSMKDirP(data + "/locked", nullptr, false, 0xFFFF));
    WriteFile(data + "/a", "a");
    WriteFile(data + "/locked/b", "b");
    if (row.big != 0) {
      const off_t size = std::abs(row.big), first = row.big < 0 ? size / 2 : 0;
      const off_t end = row.big < 0 ? first + 4096 : size;
      const std::string block(4096, 'x');
      const int fd = open((data + "/big").c_str(), O_WRONLY | O_CREAT, 0644);
      ASSERT_EQ(0, ftruncate(fd, size));
      for (off_t at = first; at < end; at += 4096)
        ASSERT_EQ(4096, pwrite(fd, block.data(), block.size(), at));
      close(fd);
    }
    GiveToNobody(data);
    if (row.chmod_path != nullptr) {
      ASSERT_EQ(0, chmod((data + "/" + row.chmod_path).c_str(), row.mode));
    }
    if (volume.real()) {
      EXPECT_EQ(row.err, AsUnprivileged([&] {
                  ustring blocked;
                  return FSCheckMove(data, dst, blocked) == 0 ? 0 : errno;
                }))
          << row.name;
    }
    // A refused move changes nothing but its one rename() attempt: it copied nothing first.
    const int moved = AsUnprivileged([&] {
      int changes = 0;
      FSSetChangeHook([&] { ++changes; });
      const int result = FSRename(data, dst, false) == 0 ? 0 : std::min(changes, 100);
      FSSetChangeHook(nullptr);
      return result;
    });
    if (row.err != 0) {
      EXPECT_EQ(1, moved) << row.name << ", " << volume.how();
      EXPECT_FALSE(Exists(dst)) << row.name;
      if (row.chmod_path != nullptr) chmod((data + "/" + row.chmod_path).c_str(), 0755);
      EXPECT_EQ("b", ReadFile(data + "/locked/b")) << row.name;
      continue;
    }
    ASSERT_EQ(0, moved) << row.name << ", " << volume.how();
    struct stat st;
    ASSERT_EQ(0, stat((dst + "/big").c_str(), &st));
    EXPECT_EQ(-row.big, st.st_size);
    EXPECT_GE(64 * 1024, st.st_blocks * 512) << "the copy keeps its holes";
    EXPECT_EQ(std::string(4096, 'x'), ReadFile(dst + "/big").substr(static_cast<size_t>(-row.big / 2), 4096));
  }
  EXPECT_EQ(std::vector<std::string>{"200 MB holding 4 KiB"}, Entries(at("vol")));
}

// `levels` nested folders "d" below `top`, with a file "f" in the deepest. The deepest folder's path.
std::string MakeDeepTree(const std::string& top, int levels) {
  std::string path = top;
  EXPECT_EQ(0, mkdir(path.c_str(), 0755));
  for (int i = 0; i < levels; ++i) {
    path += "/d";
    EXPECT_EQ(0, mkdir(path.c_str(), 0755));
  }
  WriteFile(path + "/f", "deep");
  return path;
}

// Trees nested deeper than the process may hold descriptors are removed, and moved to another
// volume, whole.
TEST_F(FileOpTest, DeepTreesAreRemovedAndMovedWithFewDescriptors) {
  OtherVolume volume(at("vol"));
  constexpr int kLevels = 150;
  constexpr rlim_t kDescriptors = 64;
  MakeDeepTree(at("removed"), kLevels);
  const std::string deepest = MakeDeepTree(at("moved"), kLevels);
  EXPECT_EQ(0, WithDescriptorLimit(kDescriptors, [&] { return FSRemove(at("removed"), false); }));
  EXPECT_FALSE(Exists(at("removed")));
  EXPECT_EQ(0,
            WithDescriptorLimit(kDescriptors, [&] { return FSRename(at("moved"), at("vol/moved"), false); }))
      << volume.how();
  EXPECT_FALSE(Exists(at("moved")));
  EXPECT_EQ("deep", ReadFile(at("vol/moved") + deepest.substr(at("moved").size()) + "/f"));
}

// A folder moved away while a deep walk is below it is noticed on the way back up: the walk never
// carries on in whatever folder now holds it.
TEST_F(FileOpTest, RenameAcrossVolumesStopsWhenTheTreeIsMovedUnderIt) {
  OtherVolume volume(at("vol"));
  FlushSeam seam;
  MakeDeepTree(at("deep"), 60);
  g_before_next_flush = [this](int) { ASSERT_EQ(0, rename(at("deep/d").c_str(), at("elsewhere").c_str())); };
  EXPECT_EQ(-3, FSRename(at("deep"), at("vol/deep"), false)) << volume.how();
  EXPECT_EQ(nullptr, g_before_next_flush) << "the folder was moved";
  g_before_next_flush = nullptr;
  EXPECT_EQ(std::vector<std::string>{}, Entries(at("vol")));
  EXPECT_TRUE(Exists(at("deep")));
  EXPECT_EQ(60u, [&] {
    size_t levels = 1;
    for (std::string p = at("elsewhere"); Exists(p + "/d"); p += "/d") ++levels;
    return levels;
  }());
}

// --- remove -------------------------------------------------------------------------------------

TEST_F(FileOpTest, RemoveDeletesATreeButNeverALinksTarget) {
  ASSERT_EQ(0, mkdir(at("outside").c_str(), 0755));
  WriteFile(at("outside/keep"), "k");
  ASSERT_EQ(0, FSMKDirP(at("tree/a/b/c"), nullptr, false, 0xFFFF));
  WriteFile(at("tree/a/file"), "1");
  WriteFile(at("tree/a/b/c/file"), "2");
  ASSERT_EQ(0, symlink(at("outside").c_str(), at("tree/a/link").c_str()));
  ASSERT_EQ(0, symlink("missing", at("tree/dangling").c_str()));

  EXPECT_EQ(0, FSRemove(at("tree"), false));
  EXPECT_FALSE(Exists(at("tree")));
  EXPECT_EQ("k", ReadFile(at("outside/keep")));

  // A trailing separator or "." names the link's target; the link alone goes all the same.
  for (const char* spelling : {"link", "link/", "link//", "link/.", "link/./"}) {
    ASSERT_EQ(0, symlink("outside", at("link").c_str()));
    EXPECT_EQ(0, FSRemove(at(spelling), false)) << spelling;
    EXPECT_FALSE(Exists(at("link"))) << spelling;
    EXPECT_EQ("k", ReadFile(at("outside/keep"))) << spelling;
  }
}

TEST_F(FileOpTest, RemoveResultCodes) {
  LogCapture log(tmp());
  EXPECT_EQ(-1, FSRemove("", false));
  EXPECT_EQ(0, FSRemove(at("missing"), false));
  WriteFile(at("file"), "");
  EXPECT_EQ(-1, FSRemove(at("file/below"), false));
  EXPECT_EQ("DEBUG", log.level_of("FSRemove: Failed to get info for '" + at("file/below") + "'"));
  EXPECT_EQ(0, FSRemove(at("file"), false));
  EXPECT_FALSE(Exists(at("file")));
  ASSERT_EQ(0, FSMKDirP(at("dir/sub"), nullptr, false, 0xFFFF));
  EXPECT_EQ(0, FSRemove(at("dir/"), false));
  EXPECT_FALSE(Exists(at("dir")));
}

TEST_F(FileOpTest, RemoveStopsAtAnEntryThatCannotBeRemoved) {
  ASSERT_EQ(0, chmod(tmp().c_str(), 0777));
  ASSERT_EQ(0, FSMKDirP(at("tree/locked"), nullptr, false, 0xFFFF));
  WriteFile(at("tree/locked/stays"), "");
  WriteFile(at("tree/goes"), "");
  GiveToNobody(at("tree"));
  ASSERT_EQ(0, chmod(at("tree/locked").c_str(), 0555));

  LogCapture log(tmp());
  EXPECT_EQ(-3, AsUnprivileged([&] { return FSRemove(at("tree"), false); }));
  EXPECT_TRUE(Exists(at("tree/locked/stays")));
  EXPECT_TRUE(Exists(at("tree")));
  EXPECT_EQ("DEBUG", log.level_of("FSRemove: failed to remove '" + at("tree/locked/stays") + "'"));
}

TEST_F(FileOpTest, RemoveOfAFolderThatCannotBeListedReportsWhatStays) {
  ASSERT_EQ(0, chmod(tmp().c_str(), 0777));
  ASSERT_EQ(0, FSMKDirP(at("sealed"), nullptr, false, 0xFFFF));
  WriteFile(at("sealed/inside"), "");
  ASSERT_EQ(0, FSMKDirP(at("sealed-empty"), nullptr, false, 0xFFFF));
  GiveToNobody(at("sealed"));
  GiveToNobody(at("sealed-empty"));
  ASSERT_EQ(0, chmod(at("sealed").c_str(), 0300));
  ASSERT_EQ(0, chmod(at("sealed-empty").c_str(), 0300));

  EXPECT_EQ(-3, AsUnprivileged([&] { return FSRemove(at("sealed"), false); }));
  EXPECT_TRUE(Exists(at("sealed/inside")));
  EXPECT_EQ(0, AsUnprivileged([&] { return FSRemove(at("sealed-empty"), false); }));
  EXPECT_FALSE(Exists(at("sealed-empty")));
}

// --- times, owners, links -----------------------------------------------------------------------

TEST_F(FileOpTest, TimesAndOwnerChangeTheLinkItself) {
  WriteFile(at("target"), "");
  ASSERT_EQ(0, symlink("target", at("link").c_str()));
  struct stat target_before;
  ASSERT_EQ(0, stat(at("target").c_str(), &target_before));

  EXPECT_EQ(0, FSUTime(at("link"), 1000000000, 1200000000));
  struct stat st;
  ASSERT_EQ(0, lstat(at("link").c_str(), &st));
  EXPECT_EQ(1200000000, testsupport::ModificationTime(st).tv_sec);
  EXPECT_EQ(1000000000, testsupport::AccessTime(st).tv_sec);
  ASSERT_EQ(0, stat(at("target").c_str(), &st));
  EXPECT_EQ(target_before.st_mtime, st.st_mtime);
  EXPECT_EQ(-1, FSUTime(at("missing"), 1, 1));

  if (testsupport::IsRoot()) {
    EXPECT_EQ(0, FSChown(at("link"), 1234, 5678));
    ASSERT_EQ(0, lstat(at("link").c_str(), &st));
    EXPECT_EQ(1234u, st.st_uid);
    EXPECT_EQ(5678u, st.st_gid);
    ASSERT_EQ(0, stat(at("target").c_str(), &st));
    EXPECT_EQ(0u, st.st_uid);
  }
  EXPECT_EQ(-1, FSChown(at("missing"), 0, 0));
}

TEST_F(FileOpTest, SymbolicLinkContentUpTo1023Bytes) {
  LogCapture log(tmp());
  const std::string content1023(1023, 'a');
  EXPECT_EQ(0, FSCreateSymbolicLink(content1023, at("l1023")));
  ustring target;
  EXPECT_EQ(0, FSReadSymbolicLink(at("l1023"), target));
  EXPECT_EQ(content1023, target.c_str());

  const std::string content1024(1024, 'b');
#ifdef __APPLE__
  // macOS keeps at most 1023 bytes in a link (MAXPATHLEN with its terminator): none longer is made.
  EXPECT_EQ(-1, FSCreateSymbolicLink(content1024, at("l1024")));
#else
  ASSERT_EQ(0, FSCreateSymbolicLink(content1024, at("l1024")));
  target = "unchanged";
  EXPECT_EQ(-1, FSReadSymbolicLink(at("l1024"), target));
  EXPECT_STREQ("unchanged", target.c_str());
  EXPECT_NE(std::string::npos,
            log.text().find("FSReadSymbolicLink: path of '" + at("l1024") + "' is more than 1024"));
#endif

  EXPECT_EQ(-1, FSReadSymbolicLink(at("missing"), target));
  EXPECT_EQ(-1, FSCreateSymbolicLink("x", at("l1023")));
  EXPECT_NE(std::string::npos, log.text().find("FSCreateSymbolicLink: Failed to create symbolic link 'x'"));
}

// --- temporary names ----------------------------------------------------------------------------

TEST_F(FileOpTest, MktempCreatesAnEmptyFileReadableByAll) {
  UmaskGuard mask(077);
  ustring path;
  ASSERT_EQ(0, FSMktemp(tmp(), path));
  EXPECT_EQ(0, path.compare(ustring(tmp() + "/"), tmp().size() + 1));
  EXPECT_EQ(tmp().size() + 7, path.length());
  EXPECT_EQ("", ReadFile(path.c_str()));
  EXPECT_EQ(0644u, PermissionBits(path.c_str()));

  LogCapture log(tmp());
  ustring unchanged("same");
  EXPECT_EQ(-1, FSMktemp(at("missing"), unchanged));
  EXPECT_STREQ("same", unchanged.c_str());
  EXPECT_NE(std::string::npos, log.text().find("mkstemp(" + at("missing") + "/XXXXXX): No such file"));
}

TEST_F(FileOpTest, CreateTempPathMakesUpANameAndCreatesNothing) {
  ustring a, b;
  ASSERT_EQ(0, FSCreateTempPath(tmp(), a));
  ASSERT_EQ(0, FSCreateTempPath(tmp(), b));
  EXPECT_EQ(tmp().size() + 9, a.length());
  EXPECT_NE(a, b);
  EXPECT_FALSE(Exists(a.c_str()));
  EXPECT_STREQ(tmp().c_str(), FSParentPath(a).c_str());
}

// --- path and volume queries --------------------------------------------------------------------

TEST_F(FileOpTest, ParentAndBaseName) {
  const struct {
    const char* path;
    const char* parent;
    const char* base;
  } cases[] = {{"", "/", ""},         {"name", "/", "name"}, {"/a", "/", "a"}, {"/a/b", "/a", "b"},
               {"/a/b/", "/a/b", ""}, {"/", "/", ""},        {"a/b", "a", "b"}};
  for (const auto& c : cases) {
    EXPECT_STREQ(c.parent, FSParentPath(c.path).c_str()) << c.path;
    EXPECT_STREQ(c.base, FSBaseName(c.path).c_str()) << c.path;
  }
}

TEST_F(FileOpTest, IsParentFolderComparesWholeComponents) {
  EXPECT_TRUE(FSIsParentFolder("/a", "/a"));
  EXPECT_TRUE(FSIsParentFolder("/a", "/a/b"));
  EXPECT_FALSE(FSIsParentFolder("/a", "/ab"));
  EXPECT_FALSE(FSIsParentFolder("/a/", "/a/b"));
  EXPECT_TRUE(FSIsParentFolder("/a/", "/a/"));
  EXPECT_FALSE(FSIsParentFolder("/a/b", "/a"));
  EXPECT_FALSE(FSIsParentFolder("/b", "/a/b"));
}

TEST_F(FileOpTest, RealPathFollowsEveryLink) {
  MakeLinkedParent();
  ASSERT_EQ(0, symlink("alias/x", at("to-x").c_str()));
  ustring path(at("to-x"));
  ASSERT_EQ(0, FSGetRealPath(path));
  EXPECT_STREQ(real("real_dir/x").c_str(), path.c_str());

  ustring missing(at("alias/missing"));
  EXPECT_EQ(-1, FSGetRealPath(missing));
  EXPECT_STREQ(at("alias/missing").c_str(), missing.c_str());
}

TEST_F(FileOpTest, LockedAndPermittedFollowAccess) {
  EXPECT_FALSE(isFileLocked(at("missing"), R_OK));
  EXPECT_TRUE(hasFilePermission(at("missing"), R_OK));

  ASSERT_EQ(0, chmod(tmp().c_str(), 0777));
  WriteFile(at("secret"), "s");
  ASSERT_EQ(0, chmod(at("secret").c_str(), 0200));  // nobody may read it, the owner included
  WriteFile(at("open"), "o");
  ASSERT_EQ(0, chmod(at("open").c_str(), 0644));
  EXPECT_EQ(1, AsUnprivileged([&] { return isFileLocked(at("secret"), R_OK) ? 1 : 0; }));
  EXPECT_EQ(0, AsUnprivileged([&] { return hasFilePermission(at("secret"), R_OK) ? 1 : 0; }));
  EXPECT_EQ(0, AsUnprivileged([&] { return isFileLocked(at("open"), R_OK) ? 1 : 0; }));
  EXPECT_EQ(1, AsUnprivileged([&] { return hasFilePermission(at("open"), R_OK) ? 1 : 0; }));
}

TEST_F(FileOpTest, VolumeKindQueries) {
  LogCapture log(tmp());
  EXPECT_FALSE(isMountPoint(at("missing")));
  EXPECT_FALSE(IsMSDOS(at("missing")));
  const std::string text = log.text();
  EXPECT_NE(std::string::npos,
            text.find("isMountPoint: Failed to get file system info '" + at("missing") + "'."));
  EXPECT_NE(std::string::npos,
            text.find("IsSupportLargeFile: Failed to get file system info '" + at("missing")));

  // The kinds as the system tells them (Linux by number, macOS by name), from the file-system status
  // down to the answers.
  ASSERT_EQ(0, mkdir(at("share").c_str(), 0755));
  const struct {
    long magic;
    const char* name;
    bool network;
    bool fat;
    bool folds;  // names differing only in case are one (ext4 and tmpfs: only in a marked folder;
                 // NFS, FUSE and 9p pass on another volume's names: taken as folding)
  } kinds[] = {
      {NFS_SUPER_MAGIC, "nfs", true, false, true},     {SMB_SUPER_MAGIC, "smbfs", true, false, true},
      {CIFS_SUPER_MAGIC, "smbfs", true, false, true},  {SMB2_SUPER_MAGIC, "smbfs", true, false, true},
      {MSDOS_SUPER_MAGIC, "msdos", false, true, true}, {EXT4_SUPER_MAGIC, "ext4", false, false, false},
      {TMPFS_MAGIC, "tmpfs", false, false, false},     {PROC_SUPER_MAGIC, "proc", false, false, false},
      {XFS_SUPER_MAGIC, "xfs", false, false, false},   {BTRFS_SUPER_MAGIC, "btrfs", false, false, false},
      {FUSE_SUPER_MAGIC, "fuse", false, false, true},  {V9FS_MAGIC, "9p", false, false, true},
  };
  for (const auto& kind : kinds) {
    g_fake_volume = {at("share"), kind.magic, kind.name};
    EXPECT_EQ(kind.network, isMountPoint(at("share"))) << kind.name;
    EXPECT_EQ(kind.fat, IsMSDOS(at("share"))) << kind.name;
#ifndef __APPLE__  // macOS asks the volume itself (pathconf), which a name given here does not change
    bool folds = !kind.folds;
    EXPECT_EQ(0, PathRefVolumeFoldsNames(at("share").c_str(), &folds)) << kind.name;
    EXPECT_EQ(kind.folds, folds) << kind.name;
#endif
  }
  bool folds = true;
  errno = 0;
  EXPECT_EQ(-1, PathRefVolumeFoldsNames(at("missing").c_str(), &folds));
  EXPECT_EQ(ENOENT, errno);
  EXPECT_TRUE(folds) << "left untouched on failure";
  g_fake_volume = {};
  EXPECT_EQ("WARNING", log.level_of("Detect a MSDOS platform for path '" + at("share") + "'."));

  ScratchVolume volume(at("vol"));
  SKIP_WITHOUT_VOLUME(volume, "the kind name of a real tmpfs mount point");
  std::string name;
  ASSERT_EQ(0, PathRefVolumeType(at("vol").c_str(), &name));
  EXPECT_EQ("tmpfs", name);
  EXPECT_FALSE(isMountPoint(at("vol")));
  EXPECT_FALSE(IsMSDOS(at("vol")));
}

// Each change an operation makes on disk is announced once to the change hook: the every-step test
// cuts a run at each announced change, so a wrapper that stops announcing silently loses cut points.
TEST_F(FileOpTest, EachChangeOnDiskIsAnnouncedOnce) {
  const std::string t = real("");
  struct Row {
    const char* what;
    std::function<int()> run;
    int changes;
  } const rows[] = {
      {"two new folders", [&] { return FSMKDir(t + "a/b", true); }, 2},
      {"a copy", [&] { return FSCopy(t + "a/f", t + "a/g", false, true); }, 1},
      {"a rename", [&] { return FSRename(t + "a/g", t + "a/h", false); }, 1},
      {"times", [&] { return FSUTime(t + "a/h", 1000, 1000); }, 1},
      {"owner", [&] { return FSChown(t + "a/h", getuid(), getgid()); }, 1},
      {"a link", [&] { return FSCreateSymbolicLink("h", t + "a/l"); }, 1},
      {"a tree of two folders, two files and a link", [&] { return FSRemove(t + "a", false); }, 5},
  };
  WriteFile(at("a-file"), "x");
  int changes = 0;
  FSSetChangeHook([&] { ++changes; });
  for (const Row& row : rows) {
    if (std::string(row.what) == "a copy") {
      ASSERT_EQ(0, rename(at("a-file").c_str(), at("a/f").c_str()));
    }
    changes = 0;
    EXPECT_EQ(0, row.run()) << row.what;
    EXPECT_EQ(row.changes, changes) << row.what;
  }
  FSSetChangeHook(nullptr);
}

}  // namespace
