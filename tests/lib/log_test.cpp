#include "log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "temp_dir.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDirTest;
using testsupport::WriteFile;

const char kTimestamp[] = R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2} )";
constexpr int kTimestampSize = 20;  // "2026-12-08T17:27:29 "

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// Every test runs in a process of its own (CTest runs one test per process), so the logger's
// process-wide state starts fresh in each.
class LoggerFileTest : public TempDirTest {
 protected:
  void TearDown() override { Logger::Destroy(); }

  int InitFile(int max_files = 50, const std::string& debug_file = "") {
    log_path = at("launcher.log");
    return Logger::Initialize(Logger::TYPE_FILE, log_path, debug_file, max_files, Logger::SCOPE_THREAD);
  }
  std::string LogText() { return ReadFile(log_path); }

  std::string log_path;
};

TEST(LoggerDefaultsTest, BeforeInitializeErrorsGoToStandardErrorWithTimestamp) {
  testing::internal::CaptureStderr();
  LOG_ERROR("launcher_debug", "disk %s is full", "/x");
  LOG_WARNING("service_debug", "careful");
  LOG_NOTE("service_debug", "not shown");
  LOG_INFO("launcher_debug", "not shown");
  LOG_DEBUG("launcher_debug", "not shown");
  // A child made by fork writes its own process id, not the one its parent had looked up.
  const pid_t child = fork();
  if (child == 0) {
    LOG_ERROR("launcher_debug", "child");
    _exit(0);
  }
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  std::string err = testing::internal::GetCapturedStderr();
  std::vector<std::string> lines = Lines(err);
  ASSERT_EQ(lines.size(), 3u) << err;
  char pid_field[16];
  snprintf(pid_field, sizeof(pid_field), "(%5d:", static_cast<int>(getpid()));
  EXPECT_EQ(lines[0].substr(kTimestampSize, strlen(pid_field)), pid_field);
  snprintf(pid_field, sizeof(pid_field), "(%5d:", static_cast<int>(child));
  EXPECT_EQ(lines[2].substr(kTimestampSize, strlen(pid_field)), pid_field);
  EXPECT_TRUE(std::regex_match(
      lines[0], std::regex(std::string(kTimestamp) +
                           R"(\([ \d]{5}:[ \d]{5}\) \[ERROR\] log_test\.cpp\(\d+\): disk /x is full)")))
      << lines[0];
  EXPECT_NE(lines[1].find("[WARNING] log_test.cpp("), std::string::npos) << lines[1];
}

TEST(LoggerSiteTest, FilteredSitesDoNotEvaluateTheirArguments) {
  ASSERT_EQ(Logger::Initialize(Logger::TYPE_STDERR, "", "", 50, Logger::SCOPE_THREAD), 0);
  int evaluated = 0;
  auto costly = [&evaluated] { return ++evaluated; };
  testing::internal::CaptureStderr();
  LOG_DEBUG("launcher_debug", "%d", costly());
  LOG_INFO("launcher_debug", "%d", costly());
  LOG_ERROR("launcher_debug", "%d", costly());
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(evaluated, 1);
  EXPECT_EQ(Lines(err).size(), 1u) << err;
  EXPECT_EQ(Logger::config.safety_scope, Logger::SCOPE_NONE) << "a scope is only kept for the file sink";
}

TEST_F(LoggerFileTest, LevelsPerComponentFromTheDebugFile) {
  std::string debug = at("launcher.debug");
  WriteFile(debug, "launcher_debug=7\nservice_debug = 0\nextractor_debug=abc\nfile_op_debug=5\n");
  ASSERT_EQ(InitFile(50, debug), 0);

  EXPECT_EQ(Logger::GetCompLevel("launcher_debug"), 7);
  EXPECT_EQ(Logger::GetCompLevel("default_component"), 4);
  EXPECT_EQ(Logger::GetCompLevel("extractor_debug"), 0) << "a non-numeric level is 0";
  for (int level = 3; level <= 7; ++level) {
    auto l = static_cast<Logger::Level>(level);
    EXPECT_TRUE(Logger::IsNeedToLog(l, "launcher_debug")) << level;
    EXPECT_FALSE(Logger::IsNeedToLog(l, "service_debug")) << "level 0 writes nothing, not even ERROR";
    EXPECT_EQ(Logger::IsNeedToLog(l, "unknown"), level <= 4) << level;
    EXPECT_EQ(Logger::IsNeedToLog(l, std::string("file_op_debug")), level <= 5) << level;
  }

  LOG_DEBUG("launcher_debug", "launcher debug");
  LOG_ERROR("service_debug", "service error");
  LOG_NOTE("unknown", "unknown note");
  LOG_WARNING("unknown", "unknown warning");
  std::string text = LogText();
  EXPECT_NE(text.find("[DEBUG] log_test.cpp("), std::string::npos);
  EXPECT_NE(text.find("launcher debug\n"), std::string::npos);
  EXPECT_EQ(text.find("service error"), std::string::npos);
  EXPECT_EQ(text.find("unknown note"), std::string::npos);
  EXPECT_NE(text.find("unknown warning\n"), std::string::npos);
}

TEST_F(LoggerFileTest, DebugFileCanLowerLevelsAndAMalformedOneGivesNone) {
  std::string debug = at("launcher.debug");
  WriteFile(debug, "launcher_debug=3\n");
  ASSERT_EQ(InitFile(50, debug), 0);
  EXPECT_FALSE(Logger::IsNeedToLog(Logger::LEVEL_WARNING, "launcher_debug"));
  EXPECT_TRUE(Logger::IsNeedToLog(Logger::LEVEL_ERROR, "launcher_debug"));

  Logger::log_level.clear();
  WriteFile(debug, "launcher_debug=7\nservice_debug=7 oops\n");
  ASSERT_EQ(InitFile(50, debug), 0) << "a malformed debug file is not a failure";
  EXPECT_EQ(Logger::GetCompLevel("launcher_debug"), 4);
  EXPECT_FALSE(Logger::IsNeedToLog(Logger::LEVEL_INFO, "launcher_debug"));

  ASSERT_EQ(InitFile(50, at("no-such.debug")), 0);
  EXPECT_EQ(Logger::GetCompLevel("launcher_debug"), 4);

  // The note about the rejected file is the logger's own: the caller's components do not govern it.
  for (int own_level : {Logger::kDefaultLevel, 0}) {
    SCOPED_TRACE(own_level);
    WriteFile(log_path, "");
    Logger::log_level.clear();
    Logger::log_level["launcher_debug"] = 0;
    Logger::log_level[Logger::kOwnComponent] = own_level;
    ASSERT_EQ(InitFile(50, debug), 0);
    EXPECT_EQ(LogText().find("ignoring log level file '" + debug + "'") != std::string::npos, own_level > 0)
        << LogText();
  }
  Logger::log_level.clear();
}

TEST_F(LoggerFileTest, FailedInitializeLeavesTheLoggerOff) {
  EXPECT_EQ(Logger::Initialize(Logger::TYPE_FILE, "", "", 50, Logger::SCOPE_THREAD), -1);
  for (int level = 3; level <= 7; ++level)
    EXPECT_FALSE(Logger::IsNeedToLog(static_cast<Logger::Level>(level), "launcher_debug"));

  EXPECT_EQ(
      Logger::Initialize(Logger::TYPE_FILE, at("missing/dir/launcher.log"), "", 50, Logger::SCOPE_THREAD),
      -1);
  testing::internal::CaptureStderr();
  LOG_ERROR("launcher_debug", "lost");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(Logger::IsNeedToLog(Logger::LEVEL_ERROR, "launcher_debug"));

  // A later successful Initialize turns it back on; Destroy turns it off again.
  ASSERT_EQ(InitFile(), 0);
  LOG_ERROR("launcher_debug", "found");
  EXPECT_NE(LogText().find("found\n"), std::string::npos);
  Logger::Destroy();
  EXPECT_FALSE(Logger::IsNeedToLog(Logger::LEVEL_ERROR, "launcher_debug"));
}

TEST_F(LoggerFileTest, AppendsToAnExistingFileAndTracksItsSize) {
  WriteFile(at("launcher.log"), "earlier line\n");
  ASSERT_EQ(InitFile(), 0);
  EXPECT_EQ(*Logger::log_size, 13);
  LOG_ERROR("launcher_debug", "next");
  std::string text = LogText();
  EXPECT_EQ(text.rfind("earlier line\n", 0), 0u);
  EXPECT_EQ(*Logger::log_size, static_cast<int64_t>(text.size()));

  // A file above 2 GiB (sparse: no disk is used) keeps its true size and rotates at the next line
  // rather than after gigabytes more.
  Logger::Destroy();
  const int64_t big = 3LL << 30;
  ASSERT_EQ(truncate(log_path.c_str(), big), 0);
  ASSERT_EQ(InitFile(), 0);
  EXPECT_EQ(*Logger::log_size, big);
  EXPECT_EQ(Logger::GetFileSize(log_path), big);
  Logger::LogMsg(Logger::LEVEL_ERROR, "c", "past the limit\n");
  EXPECT_TRUE(Exists(log_path + "_0"));
  EXPECT_EQ(Logger::GetFileSize(log_path), 0);  // not read back: a failure would print gigabytes
  EXPECT_EQ(*Logger::log_size, 0);
}

TEST_F(LoggerFileTest, RotatesOnlyAboveTheThreshold) {
  ASSERT_EQ(InitFile(), 0);
  // Lines of exactly 1 MiB, the timestamp included: five of them reach the threshold exactly.
  const std::string body(1024 * 1024 - kTimestampSize - 1, 'x');
  for (int i = 0; i < 5; ++i) Logger::LogMsg(Logger::LEVEL_ERROR, "c", "%s\n", body.c_str());
  EXPECT_EQ(*Logger::log_size, Logger::kRotateThreshold);
  EXPECT_FALSE(Exists(log_path + "_0")) << "exactly 5,242,880 bytes does not rotate";

  Logger::LogMsg(Logger::LEVEL_ERROR, "c", "%s\n", "one more");
  ASSERT_TRUE(Exists(log_path + "_0"));
  std::string rotated = ReadFile(log_path + "_0");
  EXPECT_EQ(rotated.size(), static_cast<size_t>(Logger::kRotateThreshold) + kTimestampSize + 9);
  EXPECT_EQ(rotated.substr(rotated.size() - 9), "one more\n") << "the message goes to the old file";
  EXPECT_EQ(LogText(), "");
  EXPECT_EQ(*Logger::log_size, 0);

  Logger::LogMsg(Logger::LEVEL_ERROR, "c", "%s\n", "fresh");
  EXPECT_NE(LogText().find("fresh\n"), std::string::npos);
}

TEST_F(LoggerFileTest, RotationKeepsTheNewestGenerationsOnly) {
  ASSERT_EQ(InitFile(50), 0);
  const int rotations = 60;
  for (int i = 0; i < rotations; ++i) {
    Logger::LogMsg(Logger::LEVEL_ERROR, "c", "generation %d\n", i);
    ASSERT_EQ(Logger::Rotate(), 0);
  }
  EXPECT_TRUE(Exists(log_path));
  for (int n = 0; n <= 48; ++n) {
    ASSERT_TRUE(Exists(log_path + "_" + std::to_string(n))) << n;
    EXPECT_NE(
        ReadFile(log_path + "_" + std::to_string(n)).find("generation " + std::to_string(rotations - 1 - n)),
        std::string::npos);
  }
  EXPECT_FALSE(Exists(log_path + "_49"));
  EXPECT_FALSE(Exists(log_path + "_50"));
  EXPECT_EQ(*Logger::log_rotated_count_shared, static_cast<uint64_t>(rotations));

  // Two files or fewer keep exactly one rotated file.
  Logger::Destroy();
  testsupport::TempDir other;
  log_path = other / "launcher.log";
  ASSERT_EQ(Logger::Initialize(Logger::TYPE_FILE, log_path, "", 2, Logger::SCOPE_THREAD), 0);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Logger::Rotate(), 0);
  EXPECT_TRUE(Exists(log_path + "_0"));
  EXPECT_FALSE(Exists(log_path + "_1"));

  // A path longer than any fixed buffer: the generations get their whole names, and a sibling whose
  // name is the start of the log's own is never touched.
  Logger::Destroy();
#ifdef __APPLE__
  GTEST_SKIP() << "macOS refuses every path of 1024 bytes or more (PATH_MAX), so no log there has a "
                  "name longer than the buffers that test would catch";
#endif
  std::string dir = other.path();
  for (int i = 0; i < 4; ++i) {
    dir += "/" + std::string(200, static_cast<char>('a' + i));
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0) << dir;
  }
  log_path = dir + "/" + std::string(240, 'l') + ".log";
  ASSERT_LT(dir.size(), 1000u);
  ASSERT_GT(log_path.size(), 1030u);
  const std::string sibling = log_path.substr(0, 1023);
  WriteFile(sibling, "not a log");
  ASSERT_EQ(Logger::Initialize(Logger::TYPE_FILE, log_path, "", 3, Logger::SCOPE_THREAD), 0);
  for (int i = 0; i < 3; ++i) {
    Logger::LogMsg(Logger::LEVEL_ERROR, "c", "long %d\n", i);
    ASSERT_EQ(Logger::Rotate(), 0);
  }
  EXPECT_EQ(ReadFile(sibling), "not a log");
  EXPECT_NE(ReadFile(log_path + "_0").find("long 2"), std::string::npos);
  EXPECT_NE(ReadFile(log_path + "_1").find("long 1"), std::string::npos);
  EXPECT_FALSE(Exists(log_path + "_2"));
}

TEST_F(LoggerFileTest, FailedRotationDoesNotSilenceTheLog) {
  // With one file kept, rotation must move the live file onto launcher.log_0; a non-empty
  // folder of that name makes it fail.
  ASSERT_EQ(InitFile(1), 0);
  ASSERT_EQ(mkdir((log_path + "_0").c_str(), 0755), 0);
  WriteFile(log_path + "_0/keep", "x");
  Logger::LogMsg(Logger::LEVEL_ERROR, "c", "before\n");
  EXPECT_EQ(Logger::Rotate(), -1);
  EXPECT_EQ(Logger::log_fp, nullptr);

  Logger::LogMsg(Logger::LEVEL_ERROR, "c", "after the failure\n");
  std::string text = LogText();
  EXPECT_NE(text.find("before\n"), std::string::npos);
  EXPECT_NE(text.find("rotation of " + log_path + " failed"), std::string::npos) << text;
  EXPECT_NE(text.find("after the failure\n"), std::string::npos) << text;

  // Once the obstacle is gone the next rotation works again and keeps everything.
  testsupport::RemoveTree(log_path + "_0");
  ASSERT_EQ(Logger::Rotate(), 0);
  EXPECT_EQ(ReadFile(log_path + "_0"), text);
  Logger::LogMsg(Logger::LEVEL_ERROR, "c", "in the new file\n");
  EXPECT_NE(LogText().find("in the new file"), std::string::npos);
}

TEST_F(LoggerFileTest, TwoThreadsLoseNoLineAndNeverInterleave) {
  ASSERT_EQ(InitFile(), 0);
  const int per_thread = 5000;
  auto writer = [](int id) {
    for (int i = 0; i < per_thread; ++i)
      LOG_ERROR("launcher_debug", "thread %d message %d %s", id, i, "payload-payload");
  };
  std::thread a(writer, 1), b(writer, 2);
  a.join();
  b.join();

  std::string text = LogText();
  EXPECT_EQ(*Logger::log_size, static_cast<int64_t>(text.size()));
  std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(lines.size(), 2u * per_thread);
  const std::regex line_form(
      std::string(kTimestamp) +
      R"(\([ \d]{5}:[ \d]{5}\) \[ERROR\] log_test\.cpp\(\d+\): thread ([12]) message (\d+) payload-payload)");
  std::set<std::pair<int, int>> seen;
  std::smatch m;
  for (const auto& line : lines) {
    ASSERT_TRUE(std::regex_match(line, m, line_form)) << line;
    seen.insert({std::stoi(m[1]), std::stoi(m[2])});
  }
  EXPECT_EQ(seen.size(), 2u * per_thread);
}

TEST_F(LoggerFileTest, LogMsg3Flags) {
  ASSERT_EQ(InitFile(), 0);
  std::stringstream plain;
  plain << "plain";
  errno = 0;
  Logger::LogMsg3(Logger::LEVEL_ERROR, "c", plain,
                  static_cast<Logger::ConfigFlag>(Logger::FLAG_ERRNO | Logger::FLAG_NEWLINE));
  std::stringstream failed;
  failed << "open failed";
  errno = ENOENT;
  Logger::LogMsg3(Logger::LEVEL_ERROR, "c", failed,
                  static_cast<Logger::ConfigFlag>(Logger::FLAG_ERRNO | Logger::FLAG_NEWLINE));
  std::stringstream no_newline;
  no_newline << "tail";
  Logger::LogMsg3(Logger::LEVEL_ERROR, "c", no_newline, static_cast<Logger::ConfigFlag>(0));

  std::vector<std::string> lines = Lines(LogText());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(kTimestampSize), "plain");
  EXPECT_EQ(lines[1].substr(kTimestampSize), std::string("open failed, err=2:") + strerror(ENOENT));
  EXPECT_EQ(lines[2].substr(kTimestampSize), "tail") << "no line feed without the flag";
}

TEST_F(LoggerFileTest, ControlCharactersInArgumentsCannotForgeLines) {
  ASSERT_EQ(InitFile(), 0);
  const std::string long_name = std::string(1500, 'n') + "\n" + std::string(10, 'm');
  const struct {
    std::string argument;
    std::string written;
  } cases[] = {
      {"a\n2026-12-09T00:00:00 (    1:    1) [ERROR] forged",
       "a\\n2026-12-09T00:00:00 (    1:    1) [ERROR] forged"},
      {"cr\rtab\tbell\a\x1b[2Jdel\x7f", "cr\\rtab\\tbell\\x07\\x1b[2Jdel\\x7f"},
      {"ends in a line feed\n", "ends in a line feed\\n"},
      {"Привет, 日本 C:\\dir\\n", "Привет, 日本 C:\\dir\\n"},
      {long_name, std::string(1500, 'n') + "\\n" + std::string(10, 'm')},
      {std::string(3000, 'x'), std::string(3000, 'x')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written.substr(0, 40));
    WriteFile(log_path, "");
    Logger::Initialize(Logger::TYPE_FILE, log_path, "", 50, Logger::SCOPE_THREAD);
    LOG_ERROR("launcher_debug", "name '%s' done", c.argument.c_str());
    const std::string text = LogText();
    ASSERT_EQ(Lines(text).size(), 1u) << text;
    EXPECT_EQ(text.substr(text.find("): ") + 3), "name '" + c.written + "' done\n");
    EXPECT_EQ(*Logger::log_size, static_cast<int64_t>(text.size())) << "the escaped size is tracked";
  }

  // LogMsg3 and the standard streams escape alike; a message without a final line feed keeps none.
  WriteFile(log_path, "");
  Logger::Initialize(Logger::TYPE_FILE, log_path, "", 50, Logger::SCOPE_THREAD);
  std::stringstream text;
  text << "two\nlines";
  Logger::LogMsg3(Logger::LEVEL_ERROR, "c", text, Logger::FLAG_NEWLINE);
  Logger::LogMsg3(Logger::LEVEL_ERROR, "c", text, static_cast<Logger::ConfigFlag>(0));
  const std::vector<std::string> lines = Lines(LogText());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(kTimestampSize), "two\\nlines");
  EXPECT_EQ(lines[1].substr(kTimestampSize), "two\\nlines");
  EXPECT_NE(LogText().back(), '\n');
  ASSERT_EQ(Logger::Initialize(Logger::TYPE_STDERR, "", "", 50, Logger::SCOPE_THREAD), 0);
  testing::internal::CaptureStderr();
  Logger::LogMsg(Logger::LEVEL_ERROR, "c", "%s\n", "x\ny");
  EXPECT_EQ(testing::internal::GetCapturedStderr().substr(kTimestampSize), "x\\ny\n");
}

void CallLogMSG_c(int level, const char* component, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  LogMSG_c(level, component, fmt, args);
  va_end(args);
}

TEST_F(LoggerFileTest, PlainCallingInterfaceForwards) {
  ASSERT_EQ(InitFile(), 0);
  CallLogMSG_c(Logger::LEVEL_ERROR, "c", "value %d\n", 7);
  CallLogMSG_c(Logger::LEVEL_INFO, "c", "filtered %d\n", 8);
  EXPECT_EQ(LogText().substr(kTimestampSize), "value 7\n");
}

}  // namespace

namespace {

// True when a program started now would find descriptor `fd` open (the shell asks /dev/fd).
bool InheritedByAStartedProgram(int fd) {
  const pid_t child = fork();
  if (child == 0) {
    const std::string test = "test -e /dev/fd/" + std::to_string(fd);
    execl("/bin/sh", "sh", "-c", test.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 127);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Darwin's printf has no %m: every sink gets the message with the error's text already in place.
TEST(LoggerFormatTest, ErrnoConversionIsExpandedBeforeFormatting) {
  const std::string enoent = strerror(ENOENT);
  EXPECT_EQ(ExpandErrnoConversion("open: %m (%d)", ENOENT), "open: " + enoent + " (%d)");
  EXPECT_EQ(ExpandErrnoConversion("100%% %m%m", ENOENT), "100%% " + enoent + enoent);
  EXPECT_EQ(ExpandErrnoConversion("%%m stays, %s too", ENOENT), "%%m stays, %s too");
  EXPECT_EQ(ExpandErrnoConversion("end %", EPERM), "end %");
  // The error's text is data, not conversions: an unknown error's number cannot become one.
  EXPECT_EQ(ExpandErrnoConversion("%m", 123456), std::string(strerror(123456)));
  char printed[256];
  snprintf(printed, sizeof(printed), ExpandErrnoConversion("%d%% %m", EACCES).c_str(), 5);
  EXPECT_EQ(std::string(printed), std::string("5% ") + strerror(EACCES));
}

}  // namespace

// The log stays the launcher's: nothing it starts inherits the file, not after a rotation either.
TEST_F(LoggerFileTest, StartedProgramsDoNotInheritTheLog) {
  ASSERT_EQ(InitFile(3), 0);
  ASSERT_NE(Logger::log_fp, nullptr);
  EXPECT_FALSE(InheritedByAStartedProgram(fileno(Logger::log_fp)));
  ASSERT_EQ(Logger::Rotate(), 0);
  ASSERT_NE(Logger::log_fp, nullptr);
  EXPECT_FALSE(InheritedByAStartedProgram(fileno(Logger::log_fp)));
  const int probe = dup(fileno(Logger::log_fp));  // the check itself can see an inherited one
  EXPECT_TRUE(InheritedByAStartedProgram(probe));
  close(probe);
}

// A named pipe where the log or its level file belongs never stops the logger: the log is refused
// and the level file ignored (and named) at once. A link in the log's place, dangling or not, is
// refused too: the log would be created and written wherever it points.
TEST_F(LoggerFileTest, NamedPipesAndLinksAreRefusedWithoutWaiting) {
  const std::string link = at("link.log");
  ASSERT_EQ(symlink(at("elsewhere").c_str(), link.c_str()), 0);
  EXPECT_EQ(Logger::Initialize(Logger::TYPE_FILE, link, "", 50, Logger::SCOPE_THREAD), -1);
  EXPECT_FALSE(Exists(at("elsewhere")));
  const std::string fifo_log = at("fifo.log"), fifo_debug = at("fifo.debug");
  testsupport::MakeFifo(fifo_log);
  testsupport::MakeFifo(fifo_debug);
  int rc = 0;
  EXPECT_TRUE(testsupport::ReturnsWithoutWaitingOn(
      fifo_log, [&] { rc = Logger::Initialize(Logger::TYPE_FILE, fifo_log, "", 50, Logger::SCOPE_THREAD); }));
  EXPECT_EQ(rc, -1);
  EXPECT_TRUE(testsupport::ReturnsWithoutWaitingOn(fifo_debug, [&] { rc = InitFile(50, fifo_debug); }));
  EXPECT_EQ(rc, 0);
  EXPECT_NE(LogText().find("ignoring log level file '" + fifo_debug + "'"), std::string::npos) << LogText();
}

// A launcher that may turn out to be a second one holds the logger's own notes: they are written
// once it is known to run, and never otherwise.
TEST_F(LoggerFileTest, HeldNotesWaitUntilReleased) {
  const std::string debug = at("launcher.debug");
  WriteFile(debug, "launcher_debug=7 oops\n");
  Logger::HoldOwnNotes();
  ASSERT_EQ(InitFile(50, debug), 0);
  LOG_ERROR("launcher_debug", "first line");
  EXPECT_EQ(LogText().find("ignoring log level file"), std::string::npos) << LogText();
  Logger::ReleaseOwnNotes();
  Logger::ReleaseOwnNotes();
  const std::string text = LogText();
  const size_t note = text.find("ignoring log level file '" + debug + "'");
  ASSERT_NE(note, std::string::npos) << text;
  EXPECT_GT(note, text.find("first line"));
  EXPECT_EQ(text.find("ignoring log level file", note + 1), std::string::npos) << "written once";
}
