#include "config.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "regular_file.h"

namespace {

// 8191 bytes per piece, the line feed included; longer lines arrive as several pieces.
constexpr int kLineBufferSize = 8192;
// ui.pid holds one line and launcher.debug a line per component; anything far larger is neither.
constexpr size_t kMaxFileSize = 64 * 1024;

bool IsBlank(unsigned char c) {
  return c == ' ' || (c >= 9 && c <= 13);
}

bool IsKeyChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
         c == '.';
}

bool IsControl(unsigned char c) {
  return c < 32 || c == 127;
}

char* SkipBlanks(char* p) {
  while (IsBlank(static_cast<unsigned char>(*p))) ++p;
  return p;
}

}  // namespace

int Config::read(const std::string& path) {
  if (path.empty()) return -1;
  // Never waits on a named pipe or a device put where the file belongs, takes only a regular file, and
  // reads no further than the bound. A read error must not pass for a short, valid file.
  std::string text;
  if (ReadRegularFile(path.c_str(), kMaxFileSize, &text, nullptr) != 0) return -1;
  char line[kLineBufferSize];
  std::string key, value;
  size_t pos = 0;
  while (pos < text.size()) {
    // The piece fgets would give: up to and including a line feed, at most kLineBufferSize - 1 bytes.
    size_t end = text.find('\n', pos);
    end = end == std::string::npos ? text.size() : end + 1;
    end = std::min(end, pos + kLineBufferSize - 1);
    memcpy(line, text.data() + pos, end - pos);
    line[end - pos] = '\0';
    pos = end;
    const int rc = parse(line, kLineBufferSize, key, value);
    if (rc == 0) {
      entries[key] = value;
    } else if (rc == 2) {
      entries.clear();
      return -1;
    }
  }
  return 0;
}

int Config::parse(char* line, int /*length*/, std::string& key, std::string& value) {
  char* p = SkipBlanks(line);
  char* key_begin = p;
  while (IsKeyChar(static_cast<unsigned char>(*p))) ++p;
  char* key_end = p;
  if (*p == '\0' || *p == '#') return 1;

  p = SkipBlanks(p);
  if (*p != '=') return 2;
  p = SkipBlanks(p + 1);
  if (*p == '\0') return 2;

  char* value_begin;
  char* value_end;
  if (*p == '"' || *p == '\'') {
    const char quote = *p;
    value_begin = ++p;
    while (*p != quote) {
      if (IsControl(static_cast<unsigned char>(*p))) return 2;  // also the end of the line
      ++p;
    }
    value_end = p++;
  } else {
    value_begin = p;
    while (*p != ' ' && !IsControl(static_cast<unsigned char>(*p))) ++p;
    value_end = p;
  }

  p = SkipBlanks(p);
  if (*p != '\0' && *p != '#') return 2;

  *key_end = '\0';
  *value_end = '\0';
  key.assign(key_begin);
  value.assign(value_begin);
  return 0;
}

int Config::get_int(const std::string& key) {
  const std::string& text = entries[key];  // an absent key is inserted, empty
  size_t i = 0;
  while (i < text.size() && IsBlank(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > static_cast<long long>(INT_MAX) + 1) break;  // clamped below either way
  }
  long long n = negative ? -magnitude : magnitude;
  if (n > INT_MAX) return INT_MAX;
  if (n < INT_MIN) return INT_MIN;
  return static_cast<int>(n);
}
