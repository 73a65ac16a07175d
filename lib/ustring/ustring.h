// ustring: the text type of every path the service, extraction and file layers handle.
//
// The text is kept as zero-terminated UTF-8, which is always current and is what file-system calls
// receive. A UTF-16 form is derived from it with ICU only when somebody asks for it (c_str_utf16, the
// UTF-16 appends, normalisation) and is dropped by every change of the UTF-8 text. Lengths, positions
// and counts are UTF-8 bytes; only the UTF-16 operations count 16-bit units. `npos` means "to the end"
// as a count and "not found" as a result.
//
// Copies are deep. Buffers are sized exactly: a buffer grows to exactly what an operation needs and
// shrinks as soon as the need falls below half of it. Only std::bad_alloc (out of memory) and
// std::out_of_range("substr") are thrown. A conversion that fails (invalid UTF-8, an unpaired surrogate)
// prints a warning on the standard error stream instead; see c_str_utf16 and the UTF-16 appends.
//
// Not thread-safe, not even for reading: const operations (c_str_utf16, normalize) fill the UTF-16
// cache. Distinct objects are independent.
#ifndef CORVANE_USTRING_H
#define CORVANE_USTRING_H

#include <cstddef>
#include <iosfwd>
#include <string>

class ustring {
 public:
  static constexpr size_t npos = static_cast<size_t>(-1);

  // Unicode normalisation forms of normalize().
  enum normalization_form { NFC = 0, NFD = 1 };

  ustring();
  ustring(const ustring& s);
  ustring(const char* p);            // bytes up to the zero byte; null is the empty text
  ustring(const unsigned short* p);  // UTF-16 units up to the zero unit, converted at once
  ustring(const std::string& s);     // bytes up to the first zero byte of s
  ustring(char c);                   // the single raw byte c
  ~ustring();

  // Assignment. Each form replaces both encodings with what the matching append would add to an
  // empty string. A string may be assigned a part of itself.
  ustring& assign(const ustring& s, size_t pos = 0, size_t n = npos);      // out_of_range if pos > s.length()
  ustring& assign(const std::string& s, size_t pos = 0, size_t n = npos);  // as std::string::substr
  ustring& assign(const char* p);
  // With p == c_str(), cuts the text to n bytes (when shorter).
  ustring& assign(const char* p, size_t n);
  ustring& assign(const unsigned short* p);
  // With p == c_str_utf16(), cuts the UTF-16 form to n units (when shorter) and regenerates the text.
  ustring& assign(const unsigned short* p, size_t n);
  ustring& assign(char c, size_t n = 1);
  ustring& assign(unsigned short c, size_t n = 1);

  ustring& operator=(const ustring& s);
  ustring& operator=(const std::string& s);
  ustring& operator=(const char* p);
  ustring& operator=(const unsigned short* p);
  ustring& operator=(char c);
  ustring& operator=(unsigned short c);

  // Appending UTF-8: bytes up to the source's zero byte (at most n). The source may lie in this
  // string's own text: append(c_str()) doubles it.
  ustring& append(const char* p);
  ustring& append(const char* p, size_t n);
  ustring& append(const ustring& s, size_t pos = 0, size_t n = npos);      // out_of_range if pos > s.length()
  ustring& append(const std::string& s, size_t pos = 0, size_t n = npos);  // as std::string::substr
  ustring& append(char c, size_t n = 1);  // n raw bytes c, not an encoded character

  // Appending UTF-16: units up to the source's zero unit (at most n) are added to the UTF-16 form and
  // the whole text is regenerated from it. If the existing text is not valid UTF-8 it is replaced by
  // just the appended units (with the u_strFromUTF8 warning); if the result holds an unpaired surrogate
  // the string becomes empty (with the u_strToUTF8 warning).
  ustring& append(const unsigned short* p);
  ustring& append(const unsigned short* p, size_t n);
  ustring& append(unsigned short c, size_t n = 1);

  ustring& operator+=(const ustring& s);
  ustring& operator+=(const std::string& s);
  ustring& operator+=(const char* p);
  ustring& operator+=(const unsigned short* p);
  ustring& operator+=(char c);
  ustring& operator+=(unsigned short c);

  const char* c_str() const { return data; }
  const char* c_str_utf8() const { return data; }
  // The zero-terminated UTF-16 form, computed first when needed. For text that is not valid UTF-8 it
  // is empty, and every call warns again on the standard error stream.
  const unsigned short* c_str_utf16() const;
  size_t length() const { return data_len; }
  size_t size() const { return data_len; }
  bool empty() const { return data_len == 0; }
  // Byte i, unchecked (i <= length()). Writing through it does not drop the UTF-16 form: a caller that
  // edits bytes this way must not rely on a UTF-16 form computed before.
  char& operator[](size_t i) { return data[i]; }
  const char& operator[](size_t i) const { return data[i]; }

  // Bytes from pos, at most n, up to the first zero byte. pos == length() gives the empty string;
  // pos > length() throws std::out_of_range("substr").
  ustring substr(size_t pos = 0, size_t n = npos) const;
  void clear();  // keeps the buffers
  void swap(ustring& other);

  // Searches work byte by byte on the text up to its first zero byte and return npos when nothing is
  // found. Needles: a char* or std::string up to its zero byte, a ustring's text, or the one byte c
  // ('\0' is the empty needle). Forward searches return npos for pos >= length(); an empty needle is
  // found at pos, an empty set never. Backward searches start at min(pos, length() - 1) and a match
  // may run past that start.
  size_t find(const std::string& s, size_t pos = 0) const;
  size_t find(const char* s, size_t pos = 0) const;
  size_t find(const ustring& s, size_t pos = 0) const;
  size_t find(char c, size_t pos = 0) const;
  size_t rfind(const std::string& s, size_t pos = npos) const;
  size_t rfind(const char* s, size_t pos = npos) const;
  size_t rfind(const ustring& s, size_t pos = npos) const;
  size_t rfind(char c, size_t pos = npos) const;
  size_t find_first_of(const std::string& set, size_t pos = 0) const;
  size_t find_first_of(const char* set, size_t pos = 0) const;
  size_t find_first_of(const ustring& set, size_t pos = 0) const;
  size_t find_first_of(char c, size_t pos = 0) const;
  // An empty set gives pos (or npos past the end).
  size_t find_first_not_of(const std::string& set, size_t pos = 0) const;
  size_t find_first_not_of(const char* set, size_t pos = 0) const;
  size_t find_first_not_of(const ustring& set, size_t pos = 0) const;
  size_t find_first_not_of(char c, size_t pos = 0) const;
  size_t find_last_of(const std::string& set, size_t pos = npos) const;
  size_t find_last_of(const char* set, size_t pos = npos) const;
  size_t find_last_of(const ustring& set, size_t pos = npos) const;
  size_t find_last_of(char c, size_t pos = npos) const;
  // An empty set gives the start position.
  size_t find_last_not_of(const std::string& set, size_t pos = npos) const;
  size_t find_last_not_of(const char* set, size_t pos = npos) const;
  size_t find_last_not_of(const ustring& set, size_t pos = npos) const;
  size_t find_last_not_of(char c, size_t pos = npos) const;

  // Remove leading / trailing / both bytes that occur in set. The UTF-16 form is kept when nothing
  // is removed.
  void ltrim(const ustring& set);
  void ltrim(const char* set);
  void rtrim(const ustring& set);
  void rtrim(const char* set);
  void trim(const ustring& set);
  void trim(const char* set);
  // Replaces every byte `from` (up to the first zero byte) by `to`.
  void replace(char from, char to);

  // Byte-wise comparison of the zero-terminated texts as unsigned bytes: the difference of the first
  // differing bytes, so a proper prefix compares less. No collation, no normalisation.
  int compare(const ustring& other) const;
  int compare(const ustring& other, size_t n) const;                         // over at most the first n bytes
  static int compare(const ustring& a, const ustring& b, bool ignore_case);  // ASCII folding only

  static bool is_valid(const ustring& s);  // well-formed UTF-8; "" is valid. Prints nothing.
  // s in the given form. Invalid UTF-8 gives the empty string (with the u_strFromUTF8 warning); an ICU
  // failure gives the empty string with a warning. s is unchanged apart from its UTF-16 cache.
  static ustring normalize(const ustring& s, normalization_form form);
  ustring normalize(normalization_form form) const;

 private:
  friend struct ustring_test_access;  // lets tests and the fuzzer check buffer sizes and invariants

  ustring(size_t data_need, size_t wdata_need);
  ustring(const char* text, size_t bytes, const unsigned short* units, size_t count);

  size_t search_end() const;
  void size_data(size_t need);
  void size_wdata(size_t need) const;
  void drop_utf16() const;
  void make_utf16() const;
  void make_utf8();
  ustring& append_utf8(const char* p, size_t n);
  ustring& append_utf16(const unsigned short* p, size_t n);

  char* data;
  size_t data_len;
  size_t data_cap;
  mutable unsigned short* wdata;
  mutable size_t wdata_len;
  mutable size_t wdata_cap;
};

ustring operator+(const ustring& a, const ustring& b);
ustring operator+(const ustring& a, const char* b);
ustring operator+(const ustring& a, char b);
ustring operator+(const ustring& a, const unsigned short* b);
ustring operator+(const ustring& a, unsigned short b);

bool operator==(const ustring& a, const ustring& b);
bool operator!=(const ustring& a, const ustring& b);
bool operator<(const ustring& a, const ustring& b);
bool operator>(const ustring& a, const ustring& b);
bool operator<=(const ustring& a, const ustring& b);
bool operator>=(const ustring& a, const ustring& b);

void swap(ustring& a, ustring& b);

// Writes the bytes up to the first zero byte.
std::ostream& operator<<(std::ostream& os, const ustring& s);
// Reads one white-space delimited word, as extraction into std::string does, and assigns it.
std::istream& operator>>(std::istream& is, ustring& s);

#endif  // CORVANE_USTRING_H
