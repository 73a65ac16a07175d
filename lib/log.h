// The process-wide logger: per-component levels, one of four sinks (system log, standard output,
// standard error, a rotated log file), and a mutex that serialises writers. All members are
// static; there is one logger per process. Initialize and Destroy must run while no other thread
// logs; with SCOPE_THREAD every other operation may be used from any thread.
//
// Log sites use the LOG_<LEVEL>(component, fmt, ...) macros at the end of this header. They test
// the level first, so a filtered-out message costs one table lookup and its arguments are not
// evaluated.
//
// A message is one line: every control character in it except its final line feed (a line feed or
// tab inside a file name, say) is written escaped, as \n, \r, \t or \xNN, so no argument can
// forge a line. Backslashes and bytes above 0x7f are written as they are.
#ifndef CORVANE_LIB_LOG_H_
#define CORVANE_LIB_LOG_H_

#include <pthread.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>

class Logger {
 public:
  enum Level { LEVEL_ERROR = 3, LEVEL_WARNING = 4, LEVEL_NOTE = 5, LEVEL_INFO = 6, LEVEL_DEBUG = 7 };
  enum Type { TYPE_SYSLOG = 0, TYPE_STDOUT = 1, TYPE_STDERR = 2, TYPE_FILE = 3 };
  enum SafetyScope { SCOPE_NONE = 0, SCOPE_THREAD = 1, SCOPE_PROCESS = 2 };
  enum ConfigFlag { FLAG_NEWLINE = 2, FLAG_ERRNO = 4 };

  // A component without an entry in the level table has this level: ERROR and WARNING only.
  static constexpr int kDefaultLevel = 4;
  // The live file is rotated once the bytes written to it exceed this (exactly this does not).
  static constexpr int64_t kRotateThreshold = 5242880;
  // The component of the logger's own notes (a level file it cannot use).
  static constexpr const char* kOwnComponent = "logger_debug";

  struct InitConfig {
    Type type = TYPE_STDOUT;
    std::string file_path;    // the log file, for TYPE_FILE
    std::string config_path;  // per-component levels in key=value form; empty for none
    int max_log_files = 50;   // files kept by rotation, the live one included
    SafetyScope safety_scope = SCOPE_THREAD;
  };

  // Reconfigures the logger, releasing what an earlier Initialize set up. 0, or -1 (the logger
  // then writes nothing until a later Initialize succeeds) when TYPE_FILE has an empty or
  // unopenable path. A missing or malformed level file is not a failure: it adds no levels.
  static int Initialize(Type type, const std::string& file_path, const std::string& config_path,
                        int max_log_files, SafetyScope scope);
  static int Initialize(const InitConfig& init_config);

  // True when the logger is initialised and `level` <= the component's level.
  static bool IsNeedToLog(Level level, const std::string& component);
  // The same without building a std::string: what the log-site macros call.
  static bool IsNeedToLog(Level level, const char* component);

  // Writes one printf-style message, prefixed with the local time, if the level test passes.
  // The caller supplies the whole line, its line feed included; control characters before that
  // line feed are written escaped (see above), on every sink.
  static void LogMsg(Level level, const std::string& component, const char* fmt, ...)
      __attribute__((format(printf, 3, 4)));
  static void LogMsg2(Level level, const std::string& component, const char* fmt, va_list args)
      __attribute__((format(printf, 3, 0)));
  // Writes the text collected in `text`; FLAG_ERRNO appends ", err=<errno>:" and its text (when
  // errno is not 0), FLAG_NEWLINE a line feed.
  static void LogMsg3(Level level, const std::string& component, std::stringstream& text, ConfigFlag flags);

  // The component's level (kDefaultLevel when absent), whether or not the logger is initialised.
  static int GetCompLevel(const std::string& component);

  // For TYPE_FILE and bytes >= 0: adds `bytes` to the tracked size and rotates when the total
  // exceeds kRotateThreshold. Returns Rotate()'s result, else 0. Takes no lock.
  static int RotateIfFileBig(int bytes);
  // launcher.log -> launcher.log_0 -> ... -> launcher.log_<N-2>; the oldest is removed. 0 or -1.
  // Takes no lock.
  static int Rotate();
  // Reopens the live file when another holder of the shared counter rotated it. Takes no lock.
  static void ReloadLogFile();

  // Timestamp ("%Y-%m-%dT%H:%M:%S ") and message to log_fp, flushed, control characters escaped.
  // Bytes written; 0 when there is no stream, -1 when the message cannot be formatted or written.
  static int PrintToFilePointer(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
  static int PrintToFilePointerV(const char* fmt, va_list args) __attribute__((format(printf, 1, 0)));
  static int FlushFileStream(long unused);
  // The file's size in bytes (files above 2 GiB included); 0, and a line in the current stream,
  // when stat fails.
  static int64_t GetFileSize(const std::string& path);

  // Closes the file and returns to the uninitialised state (nothing is written afterwards).
  static void Destroy();

  // While held, the logger's own notes (about a level file it cannot use) wait instead of being
  // written; ReleaseOwnNotes writes what waited, once. For a process that learns only after
  // Initialize whether it is to run at all: one that is not (a second launcher) leaves no such note.
  static void HoldOwnNotes();
  static void ReleaseOwnNotes();

  static void InitializeLock();
  static void DestroyLock();
  static void Lock();
  static void Unlock();
  static void InitializeSharedData();
  static void DestroySharedData();
  // There is no lock between processes: these take no action.
  static void InitializeFileLock();
  static void DestroyFileLock();

  static InitConfig config;
  static std::map<std::string, int, std::less<>> log_level;
  static FILE* log_fp;
  static std::string log_path;
  static int64_t* log_size;  // bytes in the live file, so a file above 2 GiB still rotates
  static pthread_mutex_t* log_lock;
  static uint64_t* log_rotated_count_shared;
  static uint64_t log_rotated_count_private;
  static bool log_initialized;
  static bool log_notes_held;
  static bool log_level_file_note_pending;

 private:
  // Writes the note about the rejected level file when `rejected`, or keeps it while notes are held.
  static void NoteRejectedLevelFile(bool rejected);
  // Reopens log_path for appending after a rotation failed; true when a stream is open again.
  static bool ReopenAfterFailedRotation();
};

// `fmt` with every "%m" conversion replaced by the text of `err` (strerror), each '%' in that text
// doubled, so that the format means the same to a C library that has no "%m" (Darwin's). "%%" and
// every other conversion are kept as they are. Every sink formats its messages through this.
std::string ExpandErrnoConversion(const char* fmt, int err);

// For C-style callers: forwards to Logger::LogMsg2.
void LogMSG_c(int level, const char* component, const char* fmt, va_list args);

// getpid(), asked of the kernel once per process rather than once per line (a child made by fork
// asks afresh).
int LogProcessId();

// The thread number written in every line: pthread_self() reduced to five digits.
inline int LogThreadNumber() {
  return static_cast<int>(reinterpret_cast<uintptr_t>(reinterpret_cast<void*>(pthread_self())) % 100000);
}

// "(pid:thread) [LEVEL] source.cpp(line): message\n". The source name is __FILE__, which each
// module's build makes relative to its own folder (corvane_log_source_root in CMake).
#define CORVANE_LOG_AT(level, word, component, fmt, ...)                                                   \
  do {                                                                                                     \
    if (Logger::IsNeedToLog(level, component))                                                             \
      Logger::LogMsg(level, component, "(%5d:%5d) [" word "] " __FILE__ "(%d): " fmt "\n", LogProcessId(), \
                     LogThreadNumber(), __LINE__, ##__VA_ARGS__);                                          \
  } while (0)

#define LOG_ERROR(component, fmt, ...) \
  CORVANE_LOG_AT(Logger::LEVEL_ERROR, "ERROR", component, fmt, ##__VA_ARGS__)
#define LOG_WARNING(component, fmt, ...) \
  CORVANE_LOG_AT(Logger::LEVEL_WARNING, "WARNING", component, fmt, ##__VA_ARGS__)
#define LOG_NOTE(component, fmt, ...) \
  CORVANE_LOG_AT(Logger::LEVEL_NOTE, "NOTE", component, fmt, ##__VA_ARGS__)
#define LOG_INFO(component, fmt, ...) \
  CORVANE_LOG_AT(Logger::LEVEL_INFO, "INFO", component, fmt, ##__VA_ARGS__)
#define LOG_DEBUG(component, fmt, ...) \
  CORVANE_LOG_AT(Logger::LEVEL_DEBUG, "DEBUG", component, fmt, ##__VA_ARGS__)

#endif  // CORVANE_LIB_LOG_H_
