// Runs a program read from the input on two ustrings: builds them from arbitrary bytes and UTF-16
// units, converts both ways, normalises, searches, trims and compares, and after every step checks the
// buffers' invariants and the results against std::string and ICU. Any mismatch aborts.
#include <fuzzer/FuzzedDataProvider.h>
#include <unicode/ustring.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

#include "ustring.h"

struct ustring_test_access {
  static void check(const ustring& s) {
    Require(s.data != nullptr && s.wdata != nullptr, "buffers");
    Require(s.data_cap >= s.data_len + 1 && s.data[s.data_len] == '\0', "utf-8 terminator");
    Require(s.wdata_cap >= s.wdata_len + 1 && s.wdata[s.wdata_len] == 0, "utf-16 terminator");
    if (s.wdata_len == 0) return;
    // A computed UTF-16 form is exactly the conversion of the text.
    std::vector<UChar> expect(s.wdata_len + 1);
    UErrorCode err = U_ZERO_ERROR;
    int32_t len = 0;
    u_strFromUTF8(expect.data(), static_cast<int32_t>(expect.size()), &len, s.data, -1, &err);
    Require(U_SUCCESS(err) && static_cast<size_t>(len) == s.wdata_len, "utf-16 length");
    Require(std::memcmp(expect.data(), s.wdata, s.wdata_len * 2) == 0, "utf-16 units");
  }

  static void Require(bool ok, const char* what) {
    if (!ok) {
      std::fprintf(stderr, "ustring_fuzz: broken: %s\n", what);
      std::abort();
    }
  }
};

namespace {

using access = ustring_test_access;
constexpr size_t npos = ustring::npos;

void Require(bool ok, const char* what) {
  access::Require(ok, what);
}

std::string Text(const ustring& s) {
  return std::string(s.c_str());
}  // as searches see it
std::string Raw(const ustring& s) {
  return std::string(s.c_str(), s.length());
}

std::vector<unsigned short> Units(FuzzedDataProvider& in) {
  std::vector<unsigned short> u(in.ConsumeIntegralInRange<size_t>(0, 16));
  for (auto& c : u) {
    // Mostly real characters, sometimes surrogates and zero units.
    switch (in.ConsumeIntegralInRange(0, 3)) {
      case 0:
        c = in.ConsumeIntegralInRange<unsigned short>(0x20, 0x7E);
        break;
      case 1:
        c = in.ConsumeIntegralInRange<unsigned short>(0xC0, 0x36F);
        break;
      default:
        c = in.ConsumeIntegral<unsigned short>();
        break;
    }
  }
  u.push_back(0);
  return u;
}

// The searches as std::string would give them under ustring's rules for empty needles and ends.
void CheckSearches(const ustring& s, const std::string& needle, size_t pos) {
  const std::string t = Text(s);
  const std::string n(needle.c_str());  // up to its zero byte
  const size_t start = t.empty() ? 0 : std::min(pos, t.size() - 1);
  const bool past = pos >= t.size();
  const size_t find = past ? npos : n.empty() ? pos : t.find(n, pos);
  const size_t rfind = t.empty() ? npos : n.empty() ? start : t.rfind(n, start);
  const size_t first_of = past || n.empty() ? npos : t.find_first_of(n, pos);
  const size_t first_not_of = past ? npos : n.empty() ? pos : t.find_first_not_of(n, pos);
  const size_t last_of = t.empty() || n.empty() ? npos : t.find_last_of(n, start);
  const size_t last_not_of = t.empty() ? npos : n.empty() ? start : t.find_last_not_of(n, start);

  const ustring un(needle);
  const char* cn = needle.c_str();
  Require(s.find(needle, pos) == find && s.find(cn, pos) == find && s.find(un, pos) == find, "find");
  Require(s.rfind(needle, pos) == rfind && s.rfind(cn, pos) == rfind && s.rfind(un, pos) == rfind, "rfind");
  Require(s.find_first_of(needle, pos) == first_of && s.find_first_of(cn, pos) == first_of &&
              s.find_first_of(un, pos) == first_of,
          "find_first_of");
  Require(s.find_first_not_of(needle, pos) == first_not_of && s.find_first_not_of(cn, pos) == first_not_of &&
              s.find_first_not_of(un, pos) == first_not_of,
          "find_first_not_of");
  Require(s.find_last_of(needle, pos) == last_of && s.find_last_of(cn, pos) == last_of &&
              s.find_last_of(un, pos) == last_of,
          "find_last_of");
  Require(s.find_last_not_of(needle, pos) == last_not_of && s.find_last_not_of(cn, pos) == last_not_of &&
              s.find_last_not_of(un, pos) == last_not_of,
          "find_last_not_of");
  if (n.size() <= 1) {  // the char forms, '\0' being the empty needle
    const char c = n.empty() ? '\0' : n[0];
    Require(s.find(c, pos) == find && s.rfind(c, pos) == rfind && s.find_first_of(c, pos) == first_of &&
                s.find_first_not_of(c, pos) == first_not_of && s.find_last_of(c, pos) == last_of &&
                s.find_last_not_of(c, pos) == last_not_of,
            "char searches");
  }
}

void CheckTrims(ustring& s, const std::string& set_bytes, int which) {
  const std::string set(set_bytes.c_str());
  std::string expect = Raw(s);
  if (!expect.empty() && !set.empty()) {
    if (which != 1) expect.erase(0, std::min(expect.find_first_not_of(set), expect.size()));
    if (which != 0) {
      const size_t last = expect.find_last_not_of(set);
      expect.erase(last == std::string::npos ? 0 : last + 1);
    }
  }
  if (which == 0) s.ltrim(set.c_str());
  if (which == 1) s.rtrim(ustring(set));
  if (which == 2) s.trim(set.c_str());
  Require(Raw(s) == expect, "trim");
}

int Sign(int v) {
  return (v > 0) - (v < 0);
}

void CheckCompare(const ustring& a, const ustring& b) {
  const int expect = Sign(Text(a).compare(Text(b)));
  Require(Sign(a.compare(b)) == expect && Sign(ustring::compare(a, b, false)) == expect, "compare");
  Require((a == b) == (expect == 0) && (a != b) == (expect != 0) && (a < b) == (expect < 0) &&
              (a > b) == (expect > 0) && (a <= b) == (expect <= 0) && (a >= b) == (expect >= 0),
          "operators");
  Require(Sign(b.compare(a)) == -expect, "antisymmetry");
  std::string la = Text(a), lb = Text(b);
  for (auto* x : {&la, &lb}) {
    for (char& c : *x) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  Require(Sign(ustring::compare(a, b, true)) == Sign(la.compare(lb)), "compare ignoring case");
}

void CheckNormalize(const ustring& s) {
  const bool valid = ustring::is_valid(s);
  const ustring nfc = s.normalize(ustring::NFC);
  const ustring nfd = ustring::normalize(s, ustring::NFD);
  access::check(s);
  access::check(nfc);
  access::check(nfd);
  if (!valid || Text(s).empty()) {
    Require(nfc.empty() && nfd.empty(), "invalid text normalises to empty");
    return;
  }
  Require(!nfc.empty() && ustring::is_valid(nfc), "nfc valid");
  Require(nfc.normalize(ustring::NFC) == nfc, "nfc idempotent");
  Require(nfd.normalize(ustring::NFC) == nfc, "nfc of nfd");
  Require(nfc.normalize(ustring::NFD) == nfd, "nfd of nfc");
  // Valid text survives the trip through UTF-16.
  Require(Raw(ustring(s.c_str_utf16())) == Text(s), "utf-16 round trip");
}

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The conversion warnings are expected here by the thousand; sanitizer reports use stderr directly.
  static NullBuffer null;
  std::cerr.rdbuf(&null);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider in(bytes, size);
  ustring a, b;
  for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
    size_t pos = in.ConsumeIntegralInRange<size_t>(0, 41);
    if (pos == 41) pos = npos;
    const size_t n = in.ConsumeBool() ? npos : in.ConsumeIntegralInRange<size_t>(0, 20);
    const size_t count = in.ConsumeIntegralInRange<size_t>(0, 8);
    switch (in.ConsumeIntegralInRange(0, 21)) {
      case 0:
        a.assign(in.ConsumeRandomLengthString(64));
        break;
      case 1:
        a.append(in.ConsumeRandomLengthString(64).c_str(), n);
        break;
      case 2: {
        const std::string part = in.ConsumeRandomLengthString(64);
        const size_t before = a.length();
        a.append(part, 0, n);
        Require(a.length() == before + std::string(part.substr(0, n).c_str()).size(), "append length");
        break;
      }
      case 3:
        a.append(Units(in).data(), n);
        break;
      case 4:
        a.append(in.ConsumeIntegral<unsigned short>(), count);
        break;
      case 5:
        a.append(in.ConsumeIntegral<char>(), count);
        break;
      case 6: {
        const std::string before = Raw(a);
        a.append(a.c_str(), n);
        const std::string self = std::string(before.c_str()).substr(0, n);
        Require(Raw(a) == before + self, "self append");
        break;
      }
      case 7: {
        const size_t len = a.length();
        try {
          a.assign(a, pos, n);
          Require(pos <= len, "assign past the end");
        } catch (const std::out_of_range& e) {
          Require(pos > len && std::strcmp(e.what(), "substr") == 0, "out_of_range");
        }
        break;
      }
      case 8: {
        a.c_str_utf16();
        a.assign(a.c_str_utf16(), n);
        break;
      }
      case 9:
        a.append(a.c_str_utf16());
        break;
      case 10:
        a.c_str_utf16();
        break;
      case 11:
        CheckNormalize(a);
        break;
      case 12:
        a = a.normalize(in.ConsumeBool() ? ustring::NFC : ustring::NFD);
        break;
      case 13:
        CheckSearches(a, in.ConsumeRandomLengthString(8), pos);
        break;
      case 14:
        CheckTrims(a, in.ConsumeRandomLengthString(4), in.ConsumeIntegralInRange(0, 2));
        break;
      case 15:
        a.replace(in.ConsumeIntegral<char>(), in.ConsumeIntegral<char>());
        break;
      case 16:
        swap(a, b);
        break;
      case 17:
        CheckCompare(a, b);
        break;
      case 18:
        if (pos <= a.length()) b = a.substr(pos, n);
        break;
      case 19:
        a = in.ConsumeBool() ? a + b : b + a.c_str();
        break;
      case 20:
        a += in.ConsumeBool() ? a : b;
        break;
      case 21:
        a.clear();
        break;
    }
    access::check(a);
    access::check(b);
    if (a.length() > 4096) a.clear();  // keep self-appends from growing without end
  }
  return 0;
}
