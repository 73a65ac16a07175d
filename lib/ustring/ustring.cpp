#include "ustring.h"

#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utypes.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// Whether p points into the buffer buf of cap elements; if so, *off is its index there. Addresses are
// compared as integers because p usually belongs to another object.
template <typename T>
bool points_into(const T* p, const T* buf, size_t cap, size_t* off) {
  const uintptr_t a = reinterpret_cast<uintptr_t>(p);
  const uintptr_t b = reinterpret_cast<uintptr_t>(buf);
  if (p == nullptr || a < b || a - b >= cap * sizeof(T)) return false;
  *off = (a - b) / sizeof(T);
  return true;
}

// Size needed for len elements plus amount more plus the terminator.
size_t need_for(size_t len, size_t amount) {
  if (amount > SIZE_MAX - 1 - len) throw std::bad_alloc();
  return len + amount + 1;
}

// What the sizing rule makes of a new string's 4-element buffer when it is first sized for `need`.
size_t first_capacity(size_t need) {
  return need > 4 || need < 2 ? need : 4;
}

// A length for ICU: the count itself, which lets ICU take its faster counted loops, or -1 (up to the
// zero terminator, which ends these texts anyway) when it does not fit.
int32_t icu_length(size_t n) {
  return n > INT32_MAX ? -1 : static_cast<int32_t>(n);
}

int32_t icu_capacity(size_t cap) {
  return static_cast<int32_t>(std::min<size_t>(cap, INT32_MAX));
}

const UChar* as_uchar(const unsigned short* p) {
  return reinterpret_cast<const UChar*>(p);
}

// Output buffers for the ICU calls, one per thread. A call writes its result here in one pass; the
// result is then copied into the string's own buffer sized exactly to it, the same buffer that
// measuring first and converting second would give, without the measuring pass.
template <typename T>
std::vector<T>& scratch() {
  thread_local std::vector<T> buffer(512);
  return buffer;
}

// Runs call(dest, capacity, &err), an ICU call that returns its output length, into the thread's
// scratch buffer; when the output and its terminator did not fit, grows the buffer and calls again.
template <typename T, typename Call>
int32_t call_into_scratch(Call call, UErrorCode* err) {
  std::vector<T>& out = scratch<T>();
  *err = U_ZERO_ERROR;
  int32_t len = call(out.data(), icu_capacity(out.size()), err);
  if (*err == U_BUFFER_OVERFLOW_ERROR || *err == U_STRING_NOT_TERMINATED_WARNING) {
    out.resize(static_cast<size_t>(len) + 1);
    *err = U_ZERO_ERROR;
    len = call(out.data(), icu_capacity(out.size()), err);
  }
  return U_SUCCESS(*err) ? len : 0;
}

// Held while the scratch buffers are in use; afterwards gives back the memory of any that a long text
// made large.
class ScratchUse {
 public:
  ScratchUse() = default;
  ScratchUse(const ScratchUse&) = delete;
  ScratchUse& operator=(const ScratchUse&) = delete;
  ~ScratchUse() {
    Release(scratch<UChar>());
    Release(scratch<char>());
  }

 private:
  template <typename T>
  static void Release(std::vector<T>& buffer) {
    if (buffer.size() > 65536) std::vector<T>(512).swap(buffer);
  }
};

// UTF-16 to UTF-8 into the thread's scratch buffer. On failure (an unpaired surrogate) warns and
// returns 0 with err set.
int32_t utf8_into_scratch(const unsigned short* units, size_t count, UErrorCode* err) {
  const int32_t len = call_into_scratch<char>(
      [units, count](char* dest, int32_t capacity, UErrorCode* e) {
        int32_t n = 0;
        u_strToUTF8(dest, capacity, &n, as_uchar(units), icu_length(count), e);
        return n;
      },
      err);
  if (U_FAILURE(*err)) {
    std::cerr << "Warning: u_strToUTF8: error code " << *err << " at line " << __LINE__ << std::endl;
  }
  return len;
}

size_t units_before_zero(const unsigned short* p, size_t n) {
  size_t i = 0;
  while (i < n && p[i] != 0) ++i;
  return i;
}

// A needle or a byte set: its bytes up to its zero byte.
std::string_view needle(const char* p) {
  return p ? std::string_view(p) : std::string_view();
}
std::string_view needle(const std::string& s) {
  return std::string_view(s.c_str());
}
std::string_view needle(const ustring& s) {
  return std::string_view(s.c_str());
}
std::string_view needle(const char& c) {
  return std::string_view(&c, c == '\0' ? 0 : 1);
}

class ByteSet {
 public:
  explicit ByteSet(std::string_view set) : empty_(set.empty()) {
    for (unsigned char c : set) bits_[c] = true;
  }
  bool empty() const { return empty_; }
  bool has(char c) const { return bits_[static_cast<unsigned char>(c)]; }

 private:
  bool bits_[256] = {};
  bool empty_;
};

// The searches, on a text of len bytes without zero bytes.
size_t find_in(std::string_view text, std::string_view what, size_t pos) {
  if (pos >= text.size()) return ustring::npos;
  return what.empty() ? pos : text.find(what, pos);
}

size_t rfind_in(std::string_view text, std::string_view what, size_t pos) {
  if (text.empty()) return ustring::npos;
  const size_t start = std::min(pos, text.size() - 1);
  return what.empty() ? start : text.rfind(what, start);
}

size_t find_first_of_in(std::string_view text, std::string_view set, size_t pos, bool in_set) {
  if (pos >= text.size()) return ustring::npos;
  const ByteSet bytes(set);
  if (bytes.empty()) return in_set ? ustring::npos : pos;
  for (size_t p = pos; p < text.size(); ++p) {
    if (bytes.has(text[p]) == in_set) return p;
  }
  return ustring::npos;
}

size_t find_last_of_in(std::string_view text, std::string_view set, size_t pos, bool in_set) {
  if (text.empty()) return ustring::npos;
  const size_t start = std::min(pos, text.size() - 1);
  const ByteSet bytes(set);
  if (bytes.empty()) return in_set ? ustring::npos : start;
  for (size_t p = start + 1; p-- > 0;) {
    if (bytes.has(text[p]) == in_set) return p;
  }
  return ustring::npos;
}

// Byte-wise comparison of two zero-terminated texts over at most n bytes, optionally folding ASCII
// letters to lower case.
int compare_bytes(const char* a, const char* b, size_t n, bool ignore_case) {
  const auto* x = reinterpret_cast<const unsigned char*>(a);
  const auto* y = reinterpret_cast<const unsigned char*>(b);
  auto fold = [ignore_case](unsigned char c) -> int {
    return ignore_case && c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
  };
  for (size_t i = 0; i < n; ++i) {
    const int cx = fold(x[i]);
    const int cy = fold(y[i]);
    if (cx != cy || cx == 0) return cx - cy;
  }
  return 0;
}

}  // namespace

ustring::ustring() : ustring(4, 4) {}

// A new string whose buffers already have the capacities that sizing them for their first contents
// would give, which spares constructors a malloc and a realloc.
ustring::ustring(size_t data_need, size_t wdata_need)
    : data(nullptr),
      data_len(0),
      data_cap(first_capacity(data_need)),
      wdata(nullptr),
      wdata_len(0),
      wdata_cap(first_capacity(wdata_need)) {
  if (wdata_cap > SIZE_MAX / sizeof(unsigned short)) throw std::bad_alloc();
  data = static_cast<char*>(std::malloc(data_cap));
  wdata = static_cast<unsigned short*>(std::malloc(wdata_cap * sizeof(unsigned short)));
  if (data == nullptr || wdata == nullptr) {
    std::free(data);
    std::free(wdata);
    throw std::bad_alloc();
  }
  data[0] = '\0';
  wdata[0] = 0;
}

// Both forms given: bytes of UTF-8 and count units of its UTF-16 form.
ustring::ustring(const char* text, size_t bytes, const unsigned short* units, size_t count)
    : ustring(bytes + 1, count + 1) {
  std::memcpy(data, text, bytes);
  data[bytes] = '\0';
  data_len = bytes;
  std::memcpy(wdata, units, count * sizeof(unsigned short));
  wdata[count] = 0;
  wdata_len = count;
}

// The converting constructors delegate to another one, so that the destructor frees the buffers
// when the conversion throws.
ustring::ustring(const ustring& s) : ustring(strnlen(s.data, s.data_len) + 1, 4) {
  assign(s, 0, npos);
}
ustring::ustring(const char* p) : ustring(p ? std::strlen(p) + 1 : 1, 4) {
  append(p);
}
ustring::ustring(const unsigned short* p) : ustring() {
  append(p);
}
ustring::ustring(const std::string& s) : ustring(std::strlen(s.c_str()) + 1, 4) {
  append(s);
}
ustring::ustring(char c) : ustring() {
  append(c, 1);
}

ustring::~ustring() {
  std::free(data);
  std::free(wdata);
}

// ---- Buffers and the two conversions

void ustring::size_data(size_t need) {
  if (need > data_cap || need < data_cap / 2) {
    void* p = std::realloc(data, need);
    if (p == nullptr) throw std::bad_alloc();
    data = static_cast<char*>(p);
    data_cap = need;
  }
}

void ustring::size_wdata(size_t need) const {
  if (need > wdata_cap || need < wdata_cap / 2) {
    if (need > SIZE_MAX / sizeof(unsigned short)) throw std::bad_alloc();
    void* p = std::realloc(wdata, need * sizeof(unsigned short));
    if (p == nullptr) throw std::bad_alloc();
    wdata = static_cast<unsigned short*>(p);
    wdata_cap = need;
  }
}

void ustring::drop_utf16() const {
  wdata_len = 0;
  wdata[0] = 0;
}

// UTF-8 to UTF-16 into the cache. Invalid UTF-8 leaves the cache empty (so the next request tries
// again) and the text as it was.
void ustring::make_utf16() const {
  const ScratchUse use;
  UErrorCode err;
  const int32_t text_len = icu_length(search_end());
  const int32_t len = call_into_scratch<UChar>(
      [this, text_len](UChar* dest, int32_t capacity, UErrorCode* e) {
        int32_t n = 0;
        u_strFromUTF8(dest, capacity, &n, data, text_len, e);
        return n;
      },
      &err);
  size_wdata(need_for(static_cast<size_t>(len), 0));
  if (U_SUCCESS(err)) {
    std::memcpy(wdata, scratch<UChar>().data(), static_cast<size_t>(len) * sizeof(UChar));
    wdata_len = static_cast<size_t>(len);
    wdata[wdata_len] = 0;
  } else {
    std::cerr << "Warning: u_strFromUTF8: error code " << err << " at line " << __LINE__ << std::endl;
    drop_utf16();
  }
}

// Regenerates the text from the whole UTF-16 form. A form that does not convert (an unpaired
// surrogate) empties the string.
void ustring::make_utf8() {
  const ScratchUse use;
  UErrorCode err;
  const int32_t len = utf8_into_scratch(wdata, wdata_len, &err);
  try {
    size_data(need_for(static_cast<size_t>(len), 0));
  } catch (...) {
    drop_utf16();  // the text stays as it was; the cache must not claim to be its conversion
    throw;
  }
  if (U_SUCCESS(err)) {
    std::memcpy(data, scratch<char>().data(), static_cast<size_t>(len));
    data_len = static_cast<size_t>(len);
    data[data_len] = '\0';
  } else {
    data_len = 0;
    data[0] = '\0';
    drop_utf16();
  }
}

// ---- Appending

ustring& ustring::append_utf8(const char* p, size_t n) {
  size_t off = 0;
  const bool self = points_into(p, data, data_cap, &off);
  size_t amount;
  if (self) {
    amount = off <= data_len ? std::min(data_len - off, n) : 0;
  } else if (p == nullptr) {
    amount = 0;
  } else {
    amount = n == npos ? std::strlen(p) : strnlen(p, n);
  }
  size_data(need_for(data_len, amount));
  if (self) p = data + off;  // the buffer may have moved
  if (amount > 0) {
    const void* zero = std::memchr(p, '\0', amount);
    const size_t copied = zero ? static_cast<size_t>(static_cast<const char*>(zero) - p) : amount;
    std::memcpy(data + data_len, p, copied);
    data_len += copied;
  }
  data[data_len] = '\0';
  drop_utf16();
  return *this;
}

ustring& ustring::append_utf16(const unsigned short* p, size_t n) {
  size_t off = 0;
  const bool self = points_into(p, wdata, wdata_cap, &off);
  if (wdata_len == 0 && data_len != 0) make_utf16();
  size_t amount;
  if (self) {
    p = wdata + off;
    amount = off <= wdata_len ? std::min(wdata_len - off, n) : 0;
  } else {
    amount = p ? units_before_zero(p, n) : 0;
  }
  size_wdata(need_for(wdata_len, amount));
  if (self) p = wdata + off;
  const size_t copied = amount > 0 ? units_before_zero(p, amount) : 0;
  if (copied > 0) std::memcpy(wdata + wdata_len, p, copied * sizeof(unsigned short));
  wdata_len += copied;
  wdata[wdata_len] = 0;
  make_utf8();
  return *this;
}

ustring& ustring::append(const char* p) {
  return append_utf8(p, npos);
}
ustring& ustring::append(const char* p, size_t n) {
  return append_utf8(p, n);
}

ustring& ustring::append(const ustring& s, size_t pos, size_t n) {
  if (pos > s.data_len) throw std::out_of_range("substr");
  return append_utf8(s.data + pos, std::min(n, s.data_len - pos));
}

ustring& ustring::append(const std::string& s, size_t pos, size_t n) {
  const std::string_view part = std::string_view(s).substr(pos, n);
  return append_utf8(part.data(), part.size());
}

ustring& ustring::append(char c, size_t n) {
  size_data(need_for(data_len, n));
  std::memset(data + data_len, c, n);
  data_len += n;
  data[data_len] = '\0';
  drop_utf16();
  return *this;
}

ustring& ustring::append(const unsigned short* p) {
  return append_utf16(p, npos);
}
ustring& ustring::append(const unsigned short* p, size_t n) {
  return append_utf16(p, n);
}

ustring& ustring::append(unsigned short c, size_t n) {
  if (wdata_len == 0 && data_len != 0) make_utf16();
  size_wdata(need_for(wdata_len, n));
  // A zero unit ends the UTF-16 form, so it adds nothing (as with the pointer forms).
  if (c != 0) {
    std::fill_n(wdata + wdata_len, n, c);
    wdata_len += n;
  }
  wdata[wdata_len] = 0;
  make_utf8();
  return *this;
}

ustring& ustring::operator+=(const ustring& s) {
  return append(s, 0, npos);
}
ustring& ustring::operator+=(const std::string& s) {
  return append(s, 0, npos);
}
ustring& ustring::operator+=(const char* p) {
  return append(p);
}
ustring& ustring::operator+=(const unsigned short* p) {
  return append(p);
}
ustring& ustring::operator+=(char c) {
  return append(c, 1);
}
ustring& ustring::operator+=(unsigned short c) {
  return append(c, 1);
}

// ---- Assignment

ustring& ustring::assign(const ustring& s, size_t pos, size_t n) {
  if (&s == this) {
    const ustring part = substr(pos, n);
    return assign(part, 0, npos);
  }
  if (pos > s.data_len) throw std::out_of_range("substr");
  clear();
  return append_utf8(s.data + pos, std::min(n, s.data_len - pos));
}

ustring& ustring::assign(const std::string& s, size_t pos, size_t n) {
  const std::string_view part = std::string_view(s).substr(pos, n);
  clear();
  return append_utf8(part.data(), part.size());
}

ustring& ustring::assign(const char* p) {
  return assign(p, npos);
}

ustring& ustring::assign(const char* p, size_t n) {
  size_t off = 0;
  if (p == data) {
    if (n < data_len) {
      data_len = n;
      data[n] = '\0';
      drop_utf16();
    }
    return *this;
  }
  if (points_into(p, data, data_cap, &off)) {  // a tail of our own text: copy it out first
    const std::string part(p, off <= data_len ? strnlen(p, std::min(n, data_len - off)) : 0);
    return assign(part.c_str(), npos);
  }
  clear();
  return append_utf8(p, n);
}

ustring& ustring::assign(const unsigned short* p) {
  return assign(p, npos);
}

ustring& ustring::assign(const unsigned short* p, size_t n) {
  size_t off = 0;
  if (p == wdata) {
    if (n < wdata_len) {
      wdata_len = n;
      wdata[n] = 0;
      make_utf8();
    }
    return *this;
  }
  if (points_into(p, wdata, wdata_cap, &off)) {
    std::vector<unsigned short> part(
        p, p + (off <= wdata_len ? units_before_zero(p, std::min(n, wdata_len - off)) : 0));
    part.push_back(0);
    return assign(part.data(), npos);
  }
  clear();
  return append_utf16(p, n);
}

ustring& ustring::assign(char c, size_t n) {
  clear();
  return append(c, n);
}

ustring& ustring::assign(unsigned short c, size_t n) {
  clear();
  return append(c, n);
}

ustring& ustring::operator=(const ustring& s) {
  return assign(s, 0, npos);
}
ustring& ustring::operator=(const std::string& s) {
  return assign(s, 0, npos);
}
ustring& ustring::operator=(const char* p) {
  return assign(p);
}
ustring& ustring::operator=(const unsigned short* p) {
  return assign(p);
}
ustring& ustring::operator=(char c) {
  return assign(c, 1);
}
ustring& ustring::operator=(unsigned short c) {
  return assign(c, 1);
}

// ---- Access

const unsigned short* ustring::c_str_utf16() const {
  if (wdata_len == 0 && data_len != 0) make_utf16();
  return wdata;
}

ustring ustring::substr(size_t pos, size_t n) const {
  if (pos > data_len) throw std::out_of_range("substr");
  ustring part(strnlen(data + pos, std::min(n, data_len - pos)) + 1, 4);
  part.append_utf8(data + pos, std::min(n, data_len - pos));
  return part;
}

void ustring::clear() {
  data_len = 0;
  data[0] = '\0';
  drop_utf16();
}

void ustring::swap(ustring& other) {
  std::swap(data, other.data);
  std::swap(data_len, other.data_len);
  std::swap(data_cap, other.data_cap);
  std::swap(wdata, other.wdata);
  std::swap(wdata_len, other.wdata_len);
  std::swap(wdata_cap, other.wdata_cap);
}

void swap(ustring& a, ustring& b) {
  a.swap(b);
}

ustring operator+(const ustring& a, const ustring& b) {
  ustring r(a);
  r.append(b, 0, ustring::npos);
  return r;
}

ustring operator+(const ustring& a, const char* b) {
  ustring r(a);
  r.append(b);
  return r;
}

ustring operator+(const ustring& a, char b) {
  ustring r(a);
  r.append(b, 1);
  return r;
}

ustring operator+(const ustring& a, const unsigned short* b) {
  ustring r(a);
  r.append(b);
  return r;
}

ustring operator+(const ustring& a, unsigned short b) {
  ustring r(a);
  r.append(b, 1);
  return r;
}

// ---- Search

// Searches see the text up to its first zero byte.
size_t ustring::search_end() const {
  const void* zero = std::memchr(data, '\0', data_len);
  return zero ? static_cast<size_t>(static_cast<const char*>(zero) - data) : data_len;
}

#define USTRING_SEARCH_FAMILY(NAME, CALL)                        \
  size_t ustring::NAME(const std::string& s, size_t pos) const { \
    return CALL;                                                 \
  }                                                              \
  size_t ustring::NAME(const char* s, size_t pos) const {        \
    return CALL;                                                 \
  }                                                              \
  size_t ustring::NAME(const ustring& s, size_t pos) const {     \
    return CALL;                                                 \
  }                                                              \
  size_t ustring::NAME(char s, size_t pos) const {               \
    return CALL;                                                 \
  }

#define USTRING_TEXT std::string_view(data, search_end())
USTRING_SEARCH_FAMILY(find, find_in(USTRING_TEXT, needle(s), pos))
USTRING_SEARCH_FAMILY(rfind, rfind_in(USTRING_TEXT, needle(s), pos))
USTRING_SEARCH_FAMILY(find_first_of, find_first_of_in(USTRING_TEXT, needle(s), pos, true))
USTRING_SEARCH_FAMILY(find_first_not_of, find_first_of_in(USTRING_TEXT, needle(s), pos, false))
USTRING_SEARCH_FAMILY(find_last_of, find_last_of_in(USTRING_TEXT, needle(s), pos, true))
USTRING_SEARCH_FAMILY(find_last_not_of, find_last_of_in(USTRING_TEXT, needle(s), pos, false))
#undef USTRING_TEXT
#undef USTRING_SEARCH_FAMILY

// ---- Trimming and replacing

void ustring::ltrim(const ustring& set) {
  ltrim(set.c_str());
}
void ustring::rtrim(const ustring& set) {
  rtrim(set.c_str());
}
void ustring::trim(const ustring& set) {
  trim(set.c_str());
}

void ustring::ltrim(const char* set) {
  const ByteSet bytes(needle(set));
  if (data_len == 0 || bytes.empty()) return;
  size_t n = 0;
  while (n < data_len && bytes.has(data[n])) ++n;
  if (n == 0) return;
  std::memmove(data, data + n, data_len - n + 1);
  data_len -= n;
  drop_utf16();
}

void ustring::rtrim(const char* set) {
  const ByteSet bytes(needle(set));
  if (data_len == 0 || bytes.empty()) return;
  size_t end = data_len;
  while (end > 0 && bytes.has(data[end - 1])) --end;
  if (end == data_len) return;
  data_len = end;
  data[end] = '\0';
  drop_utf16();
}

void ustring::trim(const char* set) {
  ltrim(set);
  rtrim(set);
}

void ustring::replace(char from, char to) {
  if (from != '\0') {
    for (char* p = data; *p != '\0'; ++p) {
      if (*p == from) *p = to;
    }
  }
  drop_utf16();
}

// ---- Comparison, validation, normalisation

int ustring::compare(const ustring& other) const {
  return compare_bytes(data, other.data, npos, false);
}

int ustring::compare(const ustring& other, size_t n) const {
  return compare_bytes(data, other.data, n, false);
}

int ustring::compare(const ustring& a, const ustring& b, bool ignore_case) {
  return compare_bytes(a.data, b.data, npos, ignore_case);
}

bool operator==(const ustring& a, const ustring& b) {
  return a.compare(b) == 0;
}
bool operator!=(const ustring& a, const ustring& b) {
  return a.compare(b) != 0;
}
bool operator<(const ustring& a, const ustring& b) {
  return a.compare(b) < 0;
}
bool operator>(const ustring& a, const ustring& b) {
  return a.compare(b) > 0;
}
bool operator<=(const ustring& a, const ustring& b) {
  return a.compare(b) <= 0;
}
bool operator>=(const ustring& a, const ustring& b) {
  return a.compare(b) >= 0;
}

bool ustring::is_valid(const ustring& s) {
  if (s.data_len == 0) return true;
  UErrorCode err = U_ZERO_ERROR;
  int32_t len = 0;
  u_strFromUTF8(nullptr, 0, &len, s.data, -1, &err);
  return err != U_INVALID_CHAR_FOUND;
}

ustring ustring::normalize(const ustring& s, normalization_form form) {
  if (s.data_len == 0) return ustring();

  UErrorCode err = U_ZERO_ERROR;
  const UNormalizer2* normalizer = nullptr;
  if (form == NFC || form == NFD) {
    normalizer = unorm2_getInstance(nullptr, "nfc", form == NFC ? UNORM2_COMPOSE : UNORM2_DECOMPOSE, &err);
  } else {
    err = U_ILLEGAL_ARGUMENT_ERROR;
  }
  if (normalizer == nullptr || U_FAILURE(err)) {
    std::cerr << "Warning: unorm2_getInstance: error code " << err << " at line " << __LINE__ << std::endl;
    return ustring();
  }

  const UChar* source = as_uchar(s.c_str_utf16());
  // Most names are already in the form asked for; the result is then a copy of both forms of s (its
  // text up to the first zero byte being exactly the UTF-8 of its UTF-16 form).
  const size_t units = s.wdata_len;
  if (units != 0 &&
      static_cast<size_t>(unorm2_spanQuickCheckYes(normalizer, source, icu_length(units), &err)) == units &&
      U_SUCCESS(err)) {
    return ustring(s.data, std::strlen(s.data), s.wdata, units);
  }
  const ScratchUse use;
  err = U_ZERO_ERROR;
  const int32_t len = call_into_scratch<UChar>(
      [normalizer, source, units](UChar* dest, int32_t capacity, UErrorCode* e) {
        return unorm2_normalize(normalizer, source, icu_length(units), dest, capacity, e);
      },
      &err);
  const size_t wneed = need_for(static_cast<size_t>(len), 0);
  if (U_FAILURE(err)) {
    std::cerr << "Warning: unorm2_normalize: error code " << err << " at line " << __LINE__ << std::endl;
    return ustring(4, wneed);
  }
  const unsigned short* normalized = reinterpret_cast<const unsigned short*>(scratch<UChar>().data());
  const int32_t bytes = utf8_into_scratch(normalized, static_cast<size_t>(len), &err);
  if (U_FAILURE(err)) return ustring(1, wneed);
  return ustring(scratch<char>().data(), static_cast<size_t>(bytes), normalized, static_cast<size_t>(len));
}

ustring ustring::normalize(normalization_form form) const {
  return normalize(*this, form);
}

// ---- Streams

std::ostream& operator<<(std::ostream& os, const ustring& s) {
  return os << s.c_str();
}

std::istream& operator>>(std::istream& is, ustring& s) {
  std::string word;
  if (is >> word) s = word;
  return is;
}
