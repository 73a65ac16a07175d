#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "file_test_util.h"
#include "path-ref.h"
#include "temp_dir.h"

namespace {

using filetest::RealPath;
using filetest::ScratchVolume;
using filetest::WorkingFolder;
using testsupport::WriteFile;

class PathRefTest : public testsupport::TempDirTest {
 protected:
  std::string real(const std::string& relative) const { return RealPath(tmp()) + "/" + relative; }
  // The stored form, or "error <code>".
  static std::string Stored(const std::string& path, bool follow_last = false) {
    std::string stored;
    int status = PathRefMakeStoredPath(path.c_str(), follow_last, &stored);
    return status == kPathRefOk ? stored : "error " + std::to_string(status);
  }
  static ino_t Inode(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
  }
};

TEST_F(PathRefTest, ResolvesParentLinksDotsAndSeparators) {
  ASSERT_EQ(0, mkdir(at("a").c_str(), 0755));
  ASSERT_EQ(0, mkdir(at("a/b").c_str(), 0755));
  WriteFile(at("a/b/file"), "");
  ASSERT_EQ(0, symlink("a/b", at("ab").c_str()));
  ASSERT_EQ(0, symlink(real("a").c_str(), at("abs").c_str()));

  EXPECT_EQ(real("a/b/file"), Stored(at("ab/file")));
  EXPECT_EQ(real("a/b/file"), Stored(tmp() + "//abs/./b//file"));
  EXPECT_EQ(real("a"), Stored(at("ab/.."))) << "'..' leaves the link's target, not the link";
  EXPECT_EQ(real("a/b"), Stored(at("a/b/")));
  EXPECT_EQ("/", Stored("/"));
  EXPECT_EQ("/", Stored("/../.."));
}

TEST_F(PathRefTest, LastLinkFollowedOnlyOnRequestOrWithATrailingSeparator) {
  ASSERT_EQ(0, mkdir(at("folder").c_str(), 0755));
  ASSERT_EQ(0, symlink("folder", at("link").c_str()));
  ASSERT_EQ(0, symlink("link", at("link2").c_str()));
  EXPECT_EQ(real("link2"), Stored(at("link2"), false));
  EXPECT_EQ(real("folder"), Stored(at("link2"), true));
  EXPECT_EQ(real("folder"), Stored(at("link2/"), false));
}

TEST_F(PathRefTest, RelativePathsStartAtTheWorkingFolder) {
  ASSERT_EQ(0, mkdir(at("w").c_str(), 0755));
  WorkingFolder here(at("w"));
  WriteFile("f", "");
  EXPECT_EQ(real("w/f"), Stored("f"));
  EXPECT_EQ(real("w/f"), Stored("./../w/f"));
}

TEST_F(PathRefTest, FailuresHaveTheirOwnCodes) {
  WriteFile(at("file"), "");
  ASSERT_EQ(0, symlink("loop2", at("loop1").c_str()));
  ASSERT_EQ(0, symlink("loop1", at("loop2").c_str()));
  ASSERT_EQ(0, symlink("nowhere", at("dangling").c_str()));
  EXPECT_EQ("error 1", Stored(""));
  EXPECT_EQ("error 2", Stored(at("missing")));
  EXPECT_EQ("error 2", Stored(at("missing/x")));
  EXPECT_EQ("error 3", Stored(at("file/x")));
  EXPECT_EQ("error 3", Stored(at("file/")));
  EXPECT_EQ("error 3", Stored(at("file/..")));
  EXPECT_EQ("error 4", Stored(at("loop1/x")));
  EXPECT_EQ("error 2", Stored(at("dangling"), true));
  EXPECT_EQ(real("dangling"), Stored(at("dangling"), false));
  EXPECT_EQ("error 6", Stored(at(std::string(300, 'n'))));
}

TEST_F(PathRefTest, FolderSpellingOfAName) {
#ifdef __APPLE__
  GTEST_SKIP() << "Linux's own step: macOS's volumes tell the stored name themselves";
#else
  ASSERT_EQ(0, mkdir(at("d").c_str(), 0755));
  WriteFile(at("d/Makefile"), "");
  WriteFile(at("d/cafe\xcc\x81"), "");  // decomposed "café"
  WriteFile(at("d/Stra\xc3\x9f"
               "e"),
            "");  // "Straße"
  WriteFile(at("d/LONGNAME.TXT"), "");
  ASSERT_EQ(0, link(at("d/Makefile").c_str(), at("d/makefile.bak").c_str()));

  const std::string d = at("d");
  EXPECT_EQ("Makefile", PathRefStoredEntryName(d, "Makefile", Inode(at("d/Makefile"))));
  EXPECT_EQ("Makefile", PathRefStoredEntryName(d, "MAKEFILE", Inode(at("d/Makefile"))));
  EXPECT_EQ("cafe\xcc\x81", PathRefStoredEntryName(d, "CAF\xc3\x89", Inode(at("d/cafe\xcc\x81"))));
  EXPECT_EQ(
      "Stra\xc3\x9f"
      "e",
      PathRefStoredEntryName(d, "STRASSE",
                             Inode(at("d/Stra\xc3\x9f"
                                      "e"))));
  EXPECT_EQ("LONGNAME.TXT", PathRefStoredEntryName(d, "LONGNA~1.TXT", Inode(at("d/LONGNAME.TXT"))))
      << "a short name is matched by its inode";
  EXPECT_EQ("other", PathRefStoredEntryName(d, "other", 1)) << "no match: the name as given";
  WriteFile(at("d/\xff"), "");
  EXPECT_EQ("\xfe", PathRefStoredEntryName(d, "\xfe", 1)) << "names that are not UTF-8 match only by bytes";
  EXPECT_EQ("makefile.bak", PathRefStoredEntryName(d, "MAKEFILE.BAK", 0))
      << "an equivalent name serves where the volume makes up inode numbers";
#endif
}

TEST_F(PathRefTest, VolumeTypeNames) {
  std::string type;
  errno = 0;
  EXPECT_EQ(-1, PathRefVolumeType(at("missing").c_str(), &type));
  EXPECT_EQ(ENOENT, errno);
#ifdef __APPLE__
  ASSERT_EQ(0, PathRefVolumeType("/dev", &type));
  EXPECT_EQ("devfs", type);
#else
  ASSERT_EQ(0, PathRefVolumeType("/proc", &type));
  EXPECT_EQ("proc", type);
#endif

  ScratchVolume volume(at("vol"));
  SKIP_WITHOUT_VOLUME(volume, "that a tmpfs is named \"tmpfs\"");
  ASSERT_EQ(0, PathRefVolumeType(at("vol").c_str(), &type));
  EXPECT_EQ("tmpfs", type);
}

}  // namespace
