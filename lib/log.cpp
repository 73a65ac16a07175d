#include "log.h"

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "config.h"

Logger::InitConfig Logger::config;
std::map<std::string, int, std::less<>> Logger::log_level;
FILE* Logger::log_fp = stderr;
std::string Logger::log_path;
int* Logger::log_size = nullptr;
pthread_mutex_t* Logger::log_lock = nullptr;
uint64_t* Logger::log_rotated_count_shared = nullptr;
uint64_t Logger::log_rotated_count_private = 0;
bool Logger::log_initialized = true;

namespace {

bool IsStandardStream(FILE* fp) {
  return fp == stdout || fp == stderr;
}

// <syslog.h> defines LOG_WARNING as a priority, so the site is spelled out.
void WarnRejectedLevelFile() {
  CORVANE_LOG_AT(Logger::LEVEL_WARNING, "WARNING", "launcher_debug",
                 "ignoring log level file '%s': it cannot be read or is not in key=value form",
                 Logger::config.config_path.c_str());
}

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
      if (levels_rejected) WarnRejectedLevelFile();
      return 0;
    default:
      break;
  }

  if (log_path.empty()) return -1;
  FILE* fp = fopen(config.file_path.c_str(), "a");
  if (fp == nullptr) return -1;
  log_fp = fp;
  *log_rotated_count_shared = 0;
  log_rotated_count_private = 0;
  *log_size = GetFileSize(config.file_path);
  log_initialized = true;
  if (levels_rejected) WarnRejectedLevelFile();
  return 0;
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
    case TYPE_SYSLOG:
      vsyslog(LOG_ERR, fmt, args);
      break;
    default:
      vfprintf(stderr, fmt, args);
      break;
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
  FILE* fp = fopen(log_path.c_str(), "a");
  if (fp == nullptr) {
    // Said once per process, so a lasting problem does not flood standard error.
    static bool reported = false;
    if (!reported) {
      int err = errno;
      fprintf(stderr, "logger: cannot reopen %s: %s (%d)\n", log_path.c_str(), strerror(err), err);
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
  char from[1024];
  char to[1024];
  for (int n = n_files - 2; n >= 0; --n) {
    snprintf(from, sizeof(from), "%s_%d", log_path.c_str(), n);
    snprintf(to, sizeof(to), "%s_%d", log_path.c_str(), n + 1);
    rename(from, to);  // a missing generation is not an error
  }
  snprintf(to, sizeof(to), "%s_%d", log_path.c_str(), n_files - 1);
  remove(to);

  if (log_fp != nullptr) {
    fclose(log_fp);
    log_fp = nullptr;
  }
  snprintf(to, sizeof(to), "%s_%d", log_path.c_str(), 0);
  if (rename(log_path.c_str(), to) != 0) return -1;
  FILE* fp = fopen(log_path.c_str(), "a");
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
  log_fp = fopen(log_path.c_str(), "a");
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
  char stamp[512];
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  strftime(stamp, sizeof(stamp), "%Y-%m-%dT%H:%M:%S ", &local);
  int head = fprintf(log_fp, "%s", stamp);
  int body = vfprintf(log_fp, fmt, args);
  fflush(log_fp);
  if (head < 0 || body < 0) return -1;
  return head + body;
}

int Logger::FlushFileStream(long /*unused*/) {
  return log_fp == nullptr ? 0 : fflush(log_fp);
}

int Logger::GetFileSize(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    int err = errno;
    PrintToFilePointer("stat(%s): %s (%d)\n", path.c_str(), strerror(err), err);
    return 0;
  }
  return static_cast<int>(static_cast<uint32_t>(st.st_size));
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
  if (log_size == nullptr) log_size = static_cast<int*>(calloc(1, sizeof(int)));
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

void LogMSG_c(int level, const char* component, const char* fmt, va_list args) {
  Logger::LogMsg2(static_cast<Logger::Level>(level), std::string(component ? component : ""), fmt, args);
}
