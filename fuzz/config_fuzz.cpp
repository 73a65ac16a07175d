// Feeds arbitrary bytes to the key=value reader, both as one line (parse) and as a whole file (read),
// and compares every result with a second, deliberately plain reading of the same grammar written
// here. Also checks get_int against stream extraction of an int. Any difference aborts.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include "config.h"

namespace {

std::string scratch_file;

void Require(bool ok, const char* what, const std::string& detail = std::string()) {
  if (!ok) {
    fprintf(stderr, "config_fuzz: %s %s\n", what, detail.c_str());
    abort();
  }
}

bool Blank(unsigned char c) {
  return c == ' ' || (c >= 9 && c <= 13);
}
bool KeyChar(unsigned char c) {
  return (c < 128 && isalnum(c)) || c == '_' || c == '-' || c == '.';
}
bool Control(unsigned char c) {
  return c < 32 || c == 127;
}

// The grammar once more, by index on a std::string that ends at the first zero byte.
int ModelParse(const std::string& raw, std::string* key, std::string* value) {
  const std::string line = raw.substr(0, raw.find('\0'));
  size_t i = 0, n = line.size();
  auto at = [&](size_t k) -> unsigned char { return k < n ? static_cast<unsigned char>(line[k]) : 0; };
  while (Blank(at(i))) ++i;
  size_t key_begin = i;
  while (KeyChar(at(i))) ++i;
  std::string k = line.substr(key_begin, i - key_begin);
  if (at(i) == 0 || at(i) == '#') return 1;
  while (Blank(at(i))) ++i;
  if (at(i) != '=') return 2;
  ++i;
  while (Blank(at(i))) ++i;
  if (at(i) == 0) return 2;
  std::string v;
  if (at(i) == '"' || at(i) == '\'') {
    const size_t close = line.find(static_cast<char>(at(i)), i + 1);
    if (close == std::string::npos) return 2;
    v = line.substr(i + 1, close - i - 1);
    for (unsigned char c : v)
      if (Control(c)) return 2;
    i = close + 1;
  } else {
    size_t end = i;
    while (at(end) != 0 && at(end) != ' ' && !Control(at(end))) ++end;
    v = line.substr(i, end - i);
    i = end;
  }
  while (Blank(at(i))) ++i;
  if (at(i) != 0 && at(i) != '#') return 2;
  *key = k;
  *value = v;
  return 0;
}

// What read() must give for `data`: pieces as fgets cuts them (up to a line feed, at most 8191 bytes).
int ModelRead(const std::string& data, std::map<std::string, std::string>* entries) {
  size_t pos = 0;
  while (pos < data.size()) {
    size_t len = 0;
    while (pos + len < data.size() && len < 8191) {
      ++len;
      if (data[pos + len - 1] == '\n') break;
    }
    std::string key, value;
    int rc = ModelParse(data.substr(pos, len), &key, &value);
    if (rc == 0) (*entries)[key] = value;
    if (rc == 2) {
      entries->clear();
      return -1;
    }
    pos += len;
  }
  return 0;
}

int StreamInt(const std::string& text) {
  std::istringstream in(text);
  int n = 0;
  in >> n;  // on overflow n is the nearest limit, without digits 0
  return n;
}

void CheckParse(const uint8_t* data, size_t size) {
  std::string buffer(reinterpret_cast<const char*>(data), size);
  buffer.push_back('\0');
  std::string key = "unset", value = "unset";
  Config config;
  const int rc = config.parse(&buffer[0], static_cast<int>(size), key, value);
  std::string model_key = "unset", model_value = "unset";
  const int model =
      ModelParse(std::string(reinterpret_cast<const char*>(data), size), &model_key, &model_value);
  Require(rc == model, "parse result", std::to_string(rc) + " vs " + std::to_string(model));
  if (rc == 0) {
    Require(key == model_key, "parse key", key + " vs " + model_key);
    Require(value == model_value, "parse value", value + " vs " + model_value);
  } else {
    Require(key == "unset" && value == "unset", "parse touched key or value on a non-pair line");
  }
}

void CheckRead(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // A new file each time: truncating one makes ext4 write it out on close, a hundredfold slower.
  unlink(scratch_file.c_str());
  FILE* f = fopen(scratch_file.c_str(), "wb");
  Require(f != nullptr, "cannot write", scratch_file);
  Require(fwrite(text.data(), 1, text.size(), f) == text.size() && fclose(f) == 0, "short write");

  Config config;
  config.entries["earlier"] = "pair";  // an earlier read's pair: kept on success, dropped on error
  const int rc = config.read(scratch_file);
  std::map<std::string, std::string> model{{"earlier", "pair"}};
  const int model_rc = ModelRead(text, &model);
  Require(rc == model_rc, "read result", std::to_string(rc) + " vs " + std::to_string(model_rc));
  Require(config.entries == model, "read entries");
  if (rc != 0) Require(config.entries.empty(), "entries left after a rejected file");

  for (const auto& pair : model) {
    const int expect = StreamInt(pair.second);
    Require(config.get_int(pair.first) == expect, "get_int", pair.second);
  }
  const size_t before = config.entries.size();
  Require(config.get_int("key absent from every input!") == 0, "get_int of an absent key");
  Require(config.entries.size() == before + 1, "get_int did not insert the absent key");
}

void RemoveScratch() {
  if (scratch_file.empty()) return;
  unlink(scratch_file.c_str());
  rmdir(scratch_file.substr(0, scratch_file.rfind('/')).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* base = getenv("TMPDIR");
  std::string dir = std::string(base && *base ? base : "/tmp") + "/corvane-config-fuzz-XXXXXX";
  Require(mkdtemp(&dir[0]) != nullptr, "mkdtemp failed");
  scratch_file = dir + "/input.conf";
  atexit(RemoveScratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
  CheckParse(data, size);
  CheckRead(data, size);
  return 0;
}
