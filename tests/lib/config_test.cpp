#include "config.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "regular_file.h"
#include "temp_dir.h"

namespace {

using testsupport::TempDirTest;
using testsupport::WriteFile;

class ConfigReadTest : public TempDirTest {
 protected:
  // Reads `content` as a file; returns read()'s result.
  int ReadText(const std::string& content) {
    std::string path = at("file.conf");
    WriteFile(path, content);
    return config.read(path);
  }
  Config config;
};

struct LineCase {
  const char* line;
  int result;
  const char* key;
  const char* value;
};

TEST(ConfigParseTest, LineGrammar) {
  const std::vector<LineCase> cases = {
      {"", 1, "", ""},
      {"   \t \n", 1, "", ""},
      {"# a comment\n", 1, "", ""},
      {"key#comment\n", 1, "", ""},  // '#' glued to a key: the line is a comment
      {"lastkey", 1, "", ""},        // a key at the end of a file without a line feed
      {"key = value   # trailing\n", 0, "key", "value"},
      {"  a.b-c_9=v\n", 0, "a.b-c_9", "v"},
      {"key=val#ue\n", 0, "key", "val#ue"},  // '#' glued to a value belongs to it
      {"key=a=b'c\"\n", 0, "key", "a=b'c\""},
      {"key=\"two words\"\n", 0, "key", "two words"},
      {"key='say \"hi\"'\n", 0, "key", "say \"hi\""},
      {"key=\"it's # = fine\" # c\n", 0, "key", "it's # = fine"},
      {"key=\"\"\n", 0, "key", ""},
      {"=value\n", 0, "", "value"},  // the empty key
      {"key=caf\xc3\xa9\n", 0, "key", "caf\xc3\xa9"},
      {"key\n", 2, "", ""},  // a key and a line feed only
      {"key #c\n", 2, "", ""},
      {"key=\n", 2, "", ""},
      {"key=   \n", 2, "", ""},
      {"key=two words\n", 2, "", ""},
      {"key=\"tab\there\"\n", 2, "", ""},
      {"key=\"unterminated\n", 2, "", ""},
      {"ke/y=v\n", 2, "", ""},
      {"ke y=v\n", 2, "", ""},
      {"k\xc3\xa9=v\n", 2, "", ""},  // keys are ASCII only
      {"key=\"v\"x\n", 2, "", ""},
  };
  for (const auto& c : cases) {
    std::string buffer = c.line;
    std::string key = "untouched", value = "untouched";
    Config config;
    int rc = config.parse(buffer.data(), static_cast<int>(buffer.size()), key, value);
    EXPECT_EQ(rc, c.result) << "line: " << c.line;
    if (c.result == 0 && rc == 0) {
      EXPECT_EQ(key, c.key) << "line: " << c.line;
      EXPECT_EQ(value, c.value) << "line: " << c.line;
    }
  }
}

TEST_F(ConfigReadTest, PairsCommentsAndBlankLines) {
  ASSERT_EQ(ReadText("pid=4242\n# comment\n\nname = 'x y' # c\n"), 0);
  EXPECT_EQ(config.entries, (std::map<std::string, std::string>{{"name", "x y"}, {"pid", "4242"}}));
}

TEST_F(ConfigReadTest, LaterDuplicateWinsAcrossFilesToo) {
  ASSERT_EQ(ReadText("a=1\nb=2\na=3\n"), 0);
  EXPECT_EQ(config.entries.at("a"), "3");
  ASSERT_EQ(ReadText("b=9\nc=4\n"), 0);  // a second read adds to the table
  EXPECT_EQ(config.entries, (std::map<std::string, std::string>{{"a", "3"}, {"b", "9"}, {"c", "4"}}));
}

TEST_F(ConfigReadTest, BadLineAnywhereEmptiesTheWholeTable) {
  ASSERT_EQ(ReadText("earlier=1\n"), 0);
  EXPECT_EQ(ReadText("a=1\nb=2\nbad value here\nc=3\n"), -1);
  EXPECT_TRUE(config.entries.empty());
  EXPECT_EQ(ReadText("a=1\nb=two words\n"), -1);
  EXPECT_TRUE(config.entries.empty());
}

TEST_F(ConfigReadTest, MissingFileAndEmptyPath) {
  EXPECT_EQ(config.read(""), -1);
  EXPECT_EQ(config.read(at("absent")), -1);
  EXPECT_EQ(config.read(tmp()), -1) << "a folder is not a key=value file";
  EXPECT_TRUE(config.entries.empty());
}

// A named pipe or a device where ui.pid or launcher.debug belongs is refused at once: reading one
// would wait for a writer that never comes, with the single-instance lock held. A link is not
// followed, even to a regular file: through one, ui.pid could name any process to stop.
TEST_F(ConfigReadTest, OnlyRegularFilesAreReadNothingWaitsAndNoLinkIsFollowed) {
  const std::string fifo = at("ui.pid");
  testsupport::MakeFifo(fifo);
  int rc = 0;
  EXPECT_TRUE(testsupport::ReturnsWithoutWaitingOn(fifo, [&] { rc = config.read(fifo); }));
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(config.read("/dev/null"), -1) << "a device is not a key=value file";
  EXPECT_TRUE(config.entries.empty());
  WriteFile(at("real"), "pid=7\n");
  ASSERT_EQ(symlink(at("real").c_str(), at("link").c_str()), 0);
  EXPECT_EQ(config.read(at("link")), -1);
  EXPECT_TRUE(config.entries.empty());
}

// ui.pid and launcher.debug are small: a larger file is refused by its size before it is read (a
// sparse one of 1 GiB costs nothing), and one whose size tells nothing is read no further than the bound.
TEST_F(ConfigReadTest, FilesBeyondTheBoundAreRefused) {
  std::string lines;
  while (lines.size() <= 64 * 1024) lines += "k" + std::to_string(lines.size()) + "=1\n";
  EXPECT_EQ(ReadText(lines), -1);
  ASSERT_EQ(truncate(at("file.conf").c_str(), 1LL << 30), 0);
  EXPECT_EQ(config.read(at("file.conf")), -1);
  EXPECT_TRUE(config.entries.empty());
#ifdef __linux__
  std::string content;
  int error = 0;
  EXPECT_EQ(ReadRegularFile("/proc/self/maps", 16, &content, &error), -1) << "procfs gives size 0";
  EXPECT_EQ(error, kFileTooLarge);
  EXPECT_TRUE(content.empty());
#endif
}

TEST_F(ConfigReadTest, LongLinesArriveInPieces) {
  // 8191 bytes fill one piece exactly; what follows is parsed as a line of its own.
  std::string first = "k=" + std::string(8189, 'x');  // 8191 bytes, no line feed yet
  ASSERT_EQ(ReadText(first + "second=2\n"), 0);
  EXPECT_EQ(config.entries.at("k"), std::string(8189, 'x'));
  EXPECT_EQ(config.entries.at("second"), "2");

  // The continuation of a long value is not a valid line on its own.
  Config other;
  std::string path = at("long2.conf");
  WriteFile(path, "k=" + std::string(9000, 'x') + "\n");
  EXPECT_EQ(other.read(path), -1);
  EXPECT_TRUE(other.entries.empty());
}

TEST(ConfigGetIntTest, StreamLikeConversion) {
  Config config;
  config.entries = {{"plain", "42"},        {"blanks", "  \t-17"},     {"plus", "+8"},
                    {"trailing", "12abc"},  {"letters", "abc"},        {"empty", ""},
                    {"big", "99999999999"}, {"small", "-99999999999"}, {"min", "-2147483648"}};
  EXPECT_EQ(config.get_int("plain"), 42);
  EXPECT_EQ(config.get_int("blanks"), -17);
  EXPECT_EQ(config.get_int("plus"), 8);
  EXPECT_EQ(config.get_int("trailing"), 12);
  EXPECT_EQ(config.get_int("letters"), 0);
  EXPECT_EQ(config.get_int("empty"), 0);
  EXPECT_EQ(config.get_int("big"), INT_MAX);
  EXPECT_EQ(config.get_int("small"), INT_MIN);
  EXPECT_EQ(config.get_int("min"), INT_MIN);

  EXPECT_EQ(config.entries.count("absent"), 0u);
  EXPECT_EQ(config.get_int("absent"), 0);
  ASSERT_EQ(config.entries.count("absent"), 1u) << "an absent key is inserted";
  EXPECT_EQ(config.entries.at("absent"), "");
}

}  // namespace
