// Key=value files such as ui.pid and launcher.debug. The reader is strict: one malformed line
// rejects the whole file, so a half-written file never yields half its values.
// Not thread-safe; make one Config per read.
#ifndef CORVANE_LIB_CONFIG_H_
#define CORVANE_LIB_CONFIG_H_

#include <map>
#include <string>

class Config {
 public:
  // Key to value, ordered byte-wise by key. Callers read it directly after read().
  std::map<std::string, std::string> entries;

  // Adds the pairs of the file at `path` to `entries`; a key seen before (in this file or an
  // earlier read) takes the new value. Returns 0, or -1 for an empty path, a file that cannot be
  // opened or read to its end (an I/O error), anything but a regular file (a folder, a named pipe, a
  // device: the open never waits for one) or a file larger than 64 KiB (its size is checked before
  // it is read, and no more is ever read), all of which add nothing; or for a syntax error on any
  // line, in which case `entries` is left empty (pairs from earlier reads included). Lines longer
  // than 8191 bytes are parsed in pieces, each as a line.
  int read(const std::string& path);

  // Parses one zero-terminated line in place (terminators are written into `line`; `length` is
  // not used). 0: a pair, stored into `key` and `value`; 1: nothing on the line (blank, comment,
  // or a key followed directly by '#' or the end); 2: syntax error.
  int parse(char* line, int length, std::string& key, std::string& value);

  // The value of `key` read as a decimal int the way `stream >> int` does: leading blanks and a
  // sign accepted, digits up to the first other character, 0 without digits, clamped to the int
  // range. An absent key is inserted with an empty value (and gives 0).
  int get_int(const std::string& key);
};

#endif  // CORVANE_LIB_CONFIG_H_
