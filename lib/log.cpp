#include "log.h"

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "config.h"
#include "regular_file.h"

Logger::InitConfig Logger::config;
std::map<std::string, int, std::less<>> Logger::log_level;
FILE* Logger::log_fp = stderr;
std::string Logger::log_path;
int64_t* Logger::log_size = nullptr;
pthread_mutex_t* Logger::log_lock = nullptr;
uint64_t* Logger::log_rotated_count_shared = nullptr;
uint64_t Logger::log_rotated_count_private = 0;
bool Logger::log_initialized = true;
bool Logger::log_notes_held = false;
bool Logger::log_level_file_note_pending = false;

namespace {

bool IsStandardStream(FILE* fp) {
  return fp == stdout || fp == stderr;
}

// Every file the logger writes: opened without waiting (a named pipe put in the log's place), closed
// on exec (a started program must not keep the log open), and only when it is a regular file.
// `*error` (when not null) says why one could not be opened (RegularFileErrorText).
FILE* OpenForAppending(const std::string& path, int* error = nullptr) {
  return OpenRegularStream(path.c_str(), "a", error);
}

std::atomic<int> cached_process_id{0};

void ForgetProcessId() {
  cached_process_id.store(0, std::memory_order_relaxed);
}

// The local time as "%Y-%m-%dT%H:%M:%S " in `out` (at least 32 bytes); its length. Each thread
// formats a second once and reuses the text for every further line within that second.
size_t Timestamp(char* out) {
  thread_local time_t second = -1;
  thread_local char text[32];
  thread_local size_t size = 0;
  const time_t now = time(nullptr);
  if (now != second) {
    struct tm local;
    localtime_r(&now, &local);
    size = strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S ", &local);
    second = size > 0 ? now : -1;
  }
  memcpy(out, text, size);
  return size;
}

// The name of rotated generation `n` of the log file `path`: "<path>_<n>". Built whole, whatever
// the length of the path: a name cut short could name an unrelated file beside the log.
std::string GenerationName(const std::string& path, int n) {
  return path + "_" + std::to_string(n);
}

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7f;
}

// Appends `text` to `out` with every control character written visibly: line feed, carriage
// return and tab as \n, \r and \t, the others as \xNN. A final line feed is kept as it is.
void AppendEscaped(const char* text, size_t size, std::string* out) {
  static const char kHex[] = "0123456789abcdef";
  const bool keeps_line_feed = size > 0 && text[size - 1] == '\n';
  const size_t end = keeps_line_feed ? size - 1 : size;
  for (size_t i = 0; i < end; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (!IsControl(c)) {
      out->push_back(static_cast<char>(c));
    } else if (c == '\n') {
      out->append("\\n");
    } else if (c == '\r') {
      out->append("\\r");
    } else if (c == '\t') {
      out->append("\\t");
    } else {
      const char hex[] = {'\\', 'x', kHex[c >> 4], kHex[c & 0xf]};
      out->append(hex, sizeof(hex));
    }
  }
  if (keeps_line_feed) out->push_back('\n');
}

// One line as it is written: an optional prefix (the timestamp) and a printf-style message in
// which every control character but a final line feed is escaped, so that a name holding a line
// feed cannot forge a line of its own. Lines that fit stay on the stack; nothing is allocated for
// them unless they need escaping.
class Line {
 public:
  Line() = default;
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  // Formats the message after the prefix, with errno set to `err` (for %m), and escapes it.
  // False when the format fails.
  bool Format(const char* prefix, size_t prefix_size, const char* fmt, va_list args, int err) {
    prefix_size = std::min(prefix_size, sizeof(stack_) - 1);
    if (!Print(prefix, prefix_size, fmt, args, err)) return false;
    EscapeControls(prefix_size);
    return true;
  }
  const char* data() const { return data_; }
  size_t size() const { return size_; }
  // The message without the prefix, null-terminated.
  const char* message(size_t prefix_size) const { return data_ + prefix_size; }

 private:
  // Prefix and formatted message into the stack buffer, or into heap_ when they do not fit.
  bool Print(const char* prefix, size_t prefix_size, const char* fmt, va_list args, int err) {
    // Not every C library knows "%m" (Darwin's prints "m"): it is expanded here, the same everywhere.
    std::string expanded;
    if (strstr(fmt, "%m") != nullptr) {
      expanded = ExpandErrnoConversion(fmt, err);
      fmt = expanded.c_str();
    }
    memcpy(stack_, prefix, prefix_size);
    const size_t room = sizeof(stack_) - prefix_size;
    va_list copy;
    va_copy(copy, args);
    errno = err;
    const int n = vsnprintf(stack_ + prefix_size, room, fmt, copy);
    va_end(copy);
    if (n < 0) return false;
    data_ = stack_;
    size_ = prefix_size + n;
    if (static_cast<size_t>(n) < room) return true;
    heap_.assign(stack_, prefix_size);
    heap_.resize(prefix_size + n + 1);
    errno = err;
    if (vsnprintf(&heap_[prefix_size], n + 1, fmt, args) < 0) return false;
    heap_.resize(prefix_size + n);
    data_ = heap_.data();
    return true;
  }

  // Rewrites the message escaped when it holds a control character before its final line feed;
  // most messages hold none and are left where they are.
  void EscapeControls(size_t prefix_size) {
    const char* message = data_ + prefix_size;
    const size_t n = size_ - prefix_size;
    const size_t scan = n > 0 && message[n - 1] == '\n' ? n - 1 : n;
    for (size_t i = 0; i < scan; ++i) {
      if (IsControl(static_cast<unsigned char>(message[i]))) {
        std::string escaped(data_, prefix_size);
        AppendEscaped(message, n, &escaped);
        heap_.swap(escaped);
        data_ = heap_.data();
        size_ = heap_.size();
        return;
      }
    }
  }

  char stack_[1024];
  std::string heap_;
  const char* data_ = stack_;
  size_t size_ = 0;
};

}  // namespace

int Logger::Initialize(Type type, const std::string& file_path, const std::string& config_path,
                       int max_log_files, SafetyScope scope) {
  InitConfig init;
  init.type = type;
  init.file_path = file_path;
  init.config_path = config_path;
  init.max_log_files = max_log_files;
  init.safety_scope = scope;
  return Initialize(init);
}

int Logger::Initialize(const InitConfig& init_config) {
  DestroySharedData();
  DestroyLock();
  log_initialized = false;

  // A file opened by an earlier Initialize would otherwise stay open for the rest of the process.
  if (log_fp != nullptr && !IsStandardStream(log_fp)) fclose(log_fp);
  log_fp = nullptr;

  config = init_config;
  log_path = config.file_path;

  if (config.type != TYPE_FILE) {
    config.safety_scope = SCOPE_NONE;
  } else if (config.safety_scope > SCOPE_NONE && log_lock == nullptr) {
    InitializeLock();
  }

  InitializeSharedData();
  if (log_size == nullptr || log_rotated_count_shared == nullptr) return -1;

  log_level["default_component"] = kDefaultLevel;

  // A missing level file simply adds no levels. One that is there but cannot be read or is malformed
  // adds none either, and says so once the logger writes: otherwise a typo in it silently keeps the
  // detail someone asked for out of the log.
  bool levels_rejected = false;
  if (!config.config_path.empty()) {
    Config levels;
    if (levels.read(config.config_path) != 0 && access(config.config_path.c_str(), F_OK) == 0)
      levels_rejected = true;
    for (const auto& entry : levels.entries) log_level[entry.first] = levels.get_int(entry.first);
  }

  switch (config.type) {
    case TYPE_SYSLOG:
    case TYPE_STDOUT:
    case TYPE_STDERR:
      log_fp = config.type == TYPE_STDERR ? stderr : config.type == TYPE_STDOUT ? stdout : nullptr;
      log_path.clear();
      *log_size = -1;
      *log_rotated_count_shared = 0;
      log_rotated_count_private = 0;
      log_initialized = true;
      NoteRejectedLevelFile(levels_rejected);
      return 0;
    default:
      break;
  }

  if (log_path.empty()) return -1;
  FILE* fp = OpenForAppending(config.file_path);
  if (fp == nullptr) return -1;
  log_fp = fp;
  *log_rotated_count_shared = 0;
  log_rotated_count_private = 0;
  *log_size = GetFileSize(config.file_path);
  log_initialized = true;
  NoteRejectedLevelFile(levels_rejected);
  return 0;
}

void Logger::NoteRejectedLevelFile(bool rejected) {
  log_level_file_note_pending = rejected;
  if (!rejected || log_notes_held) return;
  log_level_file_note_pending = false;
  // <syslog.h> defines LOG_WARNING as a priority, so the site is spelled out.
  CORVANE_LOG_AT(Logger::LEVEL_WARNING, "WARNING", Logger::kOwnComponent,
                 "ignoring log level file '%s': it cannot be read or is not in key=value form",
                 Logger::config.config_path.c_str());
}

void Logger::HoldOwnNotes() {
  log_notes_held = true;
}

void Logger::ReleaseOwnNotes() {
  log_notes_held = false;
  if (log_level_file_note_pending) NoteRejectedLevelFile(true);
}

bool Logger::IsNeedToLog(Level level, const std::string& component) {
  return IsNeedToLog(level, component.c_str());
}

bool Logger::IsNeedToLog(Level level, const char* component) {
  if (!log_initialized) return false;
  auto it = log_level.find(component);
  int component_level = it == log_level.end() ? kDefaultLevel : it->second;
  return level <= component_level;
}

int Logger::GetCompLevel(const std::string& component) {
  auto it = log_level.find(component);
  return it == log_level.end() ? kDefaultLevel : it->second;
}

void Logger::LogMsg(Level level, const std::string& component, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  LogMsg2(level, component, fmt, args);
  va_end(args);
}

void Logger::LogMsg2(Level level, const std::string& component, const char* fmt, va_list args) {
  if (!log_initialized) return;
  // A file whose rotation failed has no stream; it is reopened below rather than left silent.
  if (config.type != TYPE_SYSLOG && log_fp == nullptr && config.type != TYPE_FILE) return;
  if (level > GetCompLevel(component)) return;

  Lock();
  if (config.type == TYPE_FILE && config.safety_scope >= SCOPE_PROCESS &&
      log_rotated_count_shared != nullptr && log_rotated_count_private != *log_rotated_count_shared) {
    ReloadLogFile();
  }
  if (config.type == TYPE_FILE && log_fp == nullptr && !ReopenAfterFailedRotation()) {
    Unlock();
    return;
  }

  int written = 0;
  switch (config.type) {
    case TYPE_STDOUT:
    case TYPE_STDERR:
    case TYPE_FILE:
      written = PrintToFilePointerV(fmt, args);
      if (written < 0) {
        Unlock();
        return;
      }
      break;
    default: {
      // The system log and an unknown sink get the same escaped message, without a timestamp.
      Line line;
      if (line.Format("", 0, fmt, args, errno)) {
        if (config.type == TYPE_SYSLOG) {
          syslog(LOG_ERR, "%s", line.message(0));
        } else {
          fwrite(line.data(), 1, line.size(), stderr);
        }
      }
      break;
    }
  }

  if (config.type == TYPE_FILE && log_size != nullptr) {
    *log_size += written;
    if (*log_size > kRotateThreshold) {
      Rotate();
      *log_size = 0;
    }
  }
  Unlock();
}

bool Logger::ReopenAfterFailedRotation() {
  if (log_path.empty()) return false;
  int err = 0;
  FILE* fp = OpenForAppending(log_path, &err);
  if (fp == nullptr) {
    // Said once per process, so a lasting problem does not flood standard error.
    static bool reported = false;
    if (!reported) {
      fprintf(stderr, "logger: cannot reopen %s: %s (%d)\n", log_path.c_str(),
              RegularFileErrorText(err).c_str(), err);
      reported = true;
    }
    return false;
  }
  log_fp = fp;
  // The live file keeps the lines written since; the next rotation is tried after another
  // threshold's worth of bytes rather than on every message.
  if (log_size != nullptr) *log_size = 0;
  PrintToFilePointer("logger: rotation of %s failed; continuing in the live file\n", log_path.c_str());
  return true;
}

void Logger::LogMsg3(Level level, const std::string& component, std::stringstream& text, ConfigFlag flags) {
  int err = errno;
  std::string format = "%s";
  if ((flags & FLAG_ERRNO) && err != 0) {
    text << ", err=" << err << ":";
    format += "%m";
  }
  if (flags & FLAG_NEWLINE) format += "\n";
  errno = err;  // %m reads it when the line is written
  LogMsg(level, component, format.c_str(), text.str().c_str());
}

int Logger::RotateIfFileBig(int bytes) {
  if (config.type != TYPE_FILE || bytes < 0 || log_size == nullptr) return 0;
  *log_size += bytes;
  if (*log_size > kRotateThreshold) return Rotate();
  return 0;
}

int Logger::Rotate() {
  const int n_files = config.max_log_files;
  for (int n = n_files - 2; n >= 0; --n) {
    // A missing generation is not an error.
    rename(GenerationName(log_path, n).c_str(), GenerationName(log_path, n + 1).c_str());
  }
  remove(GenerationName(log_path, n_files - 1).c_str());

  if (log_fp != nullptr) {
    fclose(log_fp);
    log_fp = nullptr;
  }
  if (rename(log_path.c_str(), GenerationName(log_path, 0).c_str()) != 0) return -1;
  FILE* fp = OpenForAppending(log_path);
  if (fp == nullptr) return -1;
  log_fp = fp;
  if (log_rotated_count_shared != nullptr) ++*log_rotated_count_shared;
  ++log_rotated_count_private;
  return 0;
}

void Logger::ReloadLogFile() {
  if (config.type != TYPE_FILE || config.safety_scope < SCOPE_PROCESS ||
      log_rotated_count_shared == nullptr || log_rotated_count_private == *log_rotated_count_shared) {
    return;
  }
  if (log_fp != nullptr) fclose(log_fp);
  log_fp = OpenForAppending(log_path);
  if (log_fp != nullptr) {
    if (log_size != nullptr) *log_size = GetFileSize(log_path);
    log_rotated_count_private = *log_rotated_count_shared;
  }
}

int Logger::PrintToFilePointer(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  int n = PrintToFilePointerV(fmt, args);
  va_end(args);
  return n;
}

int Logger::PrintToFilePointerV(const char* fmt, va_list args) {
  if (log_fp == nullptr) return 0;
  const int err = errno;  // what %m in the message reports
  char stamp[32];
  const size_t stamp_size = Timestamp(stamp);
  Line line;
  if (!line.Format(stamp, stamp_size, fmt, args, err)) return -1;
  const size_t written = fwrite(line.data(), 1, line.size(), log_fp);
  fflush(log_fp);
  if (written != line.size()) return -1;
  return static_cast<int>(written);
}

int Logger::FlushFileStream(long /*unused*/) {
  return log_fp == nullptr ? 0 : fflush(log_fp);
}

int64_t Logger::GetFileSize(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    int err = errno;
    PrintToFilePointer("stat(%s): %s (%d)\n", path.c_str(), strerror(err), err);
    return 0;
  }
  return static_cast<int64_t>(st.st_size);
}

void Logger::Destroy() {
  log_initialized = false;
  if (config.type == TYPE_FILE) {
    if (log_fp != nullptr && !IsStandardStream(log_fp)) fclose(log_fp);
    log_path.clear();
    log_fp = stdout;
    config.type = TYPE_STDERR;
  }
  DestroySharedData();
  DestroyLock();
}

void Logger::InitializeLock() {
  if (config.safety_scope <= SCOPE_NONE || log_lock != nullptr) return;
  auto* mutex = static_cast<pthread_mutex_t*>(malloc(sizeof(pthread_mutex_t)));
  if (mutex == nullptr) return;
  pthread_mutex_init(mutex, nullptr);
  log_lock = mutex;
}

void Logger::DestroyLock() {
  if (log_lock == nullptr) return;
  pthread_mutex_destroy(log_lock);
  free(log_lock);
  log_lock = nullptr;
}

void Logger::Lock() {
  if (log_lock != nullptr) pthread_mutex_lock(log_lock);
}

void Logger::Unlock() {
  if (log_lock != nullptr) pthread_mutex_unlock(log_lock);
}

void Logger::InitializeSharedData() {
  if (log_size != nullptr && log_rotated_count_shared != nullptr) return;
  if (log_size == nullptr) log_size = static_cast<int64_t*>(calloc(1, sizeof(int64_t)));
  if (log_rotated_count_shared == nullptr) {
    log_rotated_count_shared = static_cast<uint64_t*>(calloc(1, sizeof(uint64_t)));
  }
}

void Logger::DestroySharedData() {
  free(log_size);
  log_size = nullptr;
  free(log_rotated_count_shared);
  log_rotated_count_shared = nullptr;
}

void Logger::InitializeFileLock() {}
void Logger::DestroyFileLock() {}

std::string ExpandErrnoConversion(const char* fmt, int err) {
  std::string out;
  for (const char* p = fmt; *p != '\0'; ++p) {
    if (*p != '%') {
      out.push_back(*p);
    } else if (p[1] == '%') {
      out.append("%%");
      ++p;
    } else if (p[1] == 'm') {
      for (const char* s = strerror(err); *s != '\0'; ++s) out.append(*s == '%' ? "%%" : std::string(1, *s));
      ++p;
    } else {
      out.push_back('%');
    }
  }
  return out;
}

int LogProcessId() {
  int pid = cached_process_id.load(std::memory_order_relaxed);
  if (pid == 0) {
    static std::once_flag registered;
    std::call_once(registered, [] { pthread_atfork(nullptr, nullptr, ForgetProcessId); });
    pid = static_cast<int>(getpid());
    cached_process_id.store(pid, std::memory_order_relaxed);
  }
  return pid;
}

void LogMSG_c(int level, const char* component, const char* fmt, va_list args) {
  Logger::LogMsg2(static_cast<Logger::Level>(level), std::string(component ? component : ""), fmt, args);
}
