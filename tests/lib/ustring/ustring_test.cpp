#include "ustring.h"

#include <gtest/gtest.h>
#include <unicode/ustring.h>

#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

// Reads the buffer fields that the public interface hides.
struct ustring_test_access {
  static size_t data_cap(const ustring& s) { return s.data_cap; }
  static size_t wdata_cap(const ustring& s) { return s.wdata_cap; }
  static size_t wdata_len(const ustring& s) { return s.wdata_len; }
};

namespace {

using access = ustring_test_access;

std::u16string utf16_of(const ustring& s) {
  std::u16string r;
  for (const unsigned short* p = s.c_str_utf16(); *p != 0; ++p) r.push_back(static_cast<char16_t>(*p));
  return r;
}

// The UTF-16 form of `utf8`, straight from ICU.
std::u16string icu_utf16(const char* utf8) {
  UErrorCode err = U_ZERO_ERROR;
  UChar buf[512];
  int32_t len = 0;
  u_strFromUTF8(buf, 512, &len, utf8, -1, &err);
  EXPECT_TRUE(U_SUCCESS(err)) << utf8;
  return std::u16string(buf, U_SUCCESS(err) ? len : 0);
}

const unsigned short* units(const char16_t* p) {
  return reinterpret_cast<const unsigned short*>(p);
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

const char kCafe[] = "caf\xC3\xA9";      // "café", é precomposed
const char kCafeNfd[] = "cafe\xCC\x81";  // "café", e + combining acute
const char kInvalid[] = "ok\xFF";        // not UTF-8
const unsigned short kHighSurrogate = 0xD800;

// ---- Construction, access, concatenation

TEST(UstringBasics, NewStringIsEmptyInBothForms) {
  ustring s;
  EXPECT_EQ(s.length(), 0u);
  EXPECT_TRUE(s.empty());
  EXPECT_STREQ(s.c_str(), "");
  EXPECT_EQ(s.c_str_utf16()[0], 0);
  EXPECT_EQ(access::data_cap(s), 4u);
  EXPECT_EQ(access::wdata_cap(s), 4u);
}

TEST(UstringBasics, LengthsCountBytesAndUnits) {
  ustring s(kCafe);
  EXPECT_EQ(s.length(), 5u);
  EXPECT_EQ(utf16_of(s), u"caf\u00E9");
  EXPECT_EQ(ustring(units(u"caf\u00E9")).length(), 5u);
  EXPECT_STREQ(ustring(units(u"caf\u00E9")).c_str(), kCafe);
  EXPECT_EQ(ustring(units(u"\U0001F600")).length(), 4u);  // a surrogate pair, 4 UTF-8 bytes
}

TEST(UstringBasics, ConstructorsTakeTextUpToTheZero) {
  EXPECT_EQ(ustring(std::string("ab\0cd", 5)).length(), 2u);
  EXPECT_EQ(ustring(static_cast<const char*>(nullptr)).length(), 0u);
  EXPECT_STREQ(ustring('x').c_str(), "x");
  ustring zero('\0');  // a raw byte, even the zero byte
  EXPECT_EQ(zero.length(), 1u);
}

TEST(UstringBasics, CopiesAreDeep) {
  ustring a("/Users/me");
  ustring b(a);
  b[1] = 'u';
  EXPECT_STREQ(a.c_str(), "/Users/me");
  EXPECT_NE(a.c_str(), b.c_str());
  ustring c;
  c = a;
  a.append("/x");
  EXPECT_STREQ(c.c_str(), "/Users/me");
}

TEST(UstringBasics, ConcatenationCopiesTheLeftOperand) {
  const ustring base("/a");
  EXPECT_STREQ((base + ustring("/b")).c_str(), "/a/b");
  EXPECT_STREQ((base + "/c").c_str(), "/a/c");
  EXPECT_STREQ((base + '/').c_str(), "/a/");
  EXPECT_STREQ((base + units(u"/\u00E9")).c_str(), "/a/\xC3\xA9");
  EXPECT_STREQ((base + static_cast<unsigned short>(0xE9)).c_str(), "/a\xC3\xA9");
  EXPECT_STREQ(("/x" + base).c_str(), "/x/a");
  EXPECT_STREQ(base.c_str(), "/a");
}

TEST(UstringBasics, SubstrBoundsAndErrors) {
  const ustring s("abcdef");
  EXPECT_STREQ(s.substr(2, 3).c_str(), "cde");
  EXPECT_STREQ(s.substr(4).c_str(), "ef");
  EXPECT_STREQ(s.substr(6, 5).c_str(), "");
  try {
    s.substr(7, 0);
    ADD_FAILURE() << "no exception";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "substr");
  }
  ustring t("keep");
  EXPECT_THROW(t.append(s, 7, 1), std::out_of_range);
  EXPECT_THROW(t.assign(s, 7, 1), std::out_of_range);
  EXPECT_THROW(t.append(std::string("ab"), 3, 1), std::out_of_range);
  EXPECT_STREQ(t.c_str(), "keep");  // a failed call changes nothing
  EXPECT_STREQ(t.append(std::string("xy\0z", 4), 1).c_str(), "keepy");
}

TEST(UstringBasics, SwapExchangesEverything) {
  ustring a(kCafe), b("x");
  a.c_str_utf16();
  swap(a, b);
  EXPECT_STREQ(a.c_str(), "x");
  EXPECT_STREQ(b.c_str(), kCafe);
  EXPECT_EQ(access::wdata_len(b), 4u);
  EXPECT_EQ(utf16_of(a), u"x");
}

TEST(UstringBasics, StreamsWriteAndReadWords) {
  std::ostringstream out;
  ustring s("a b");
  s.append('\0', 1).append("hidden");
  out << s << '|';
  EXPECT_EQ(out.str(), "a b|");
  std::istringstream in("  first second");
  ustring w("old");
  in >> w;
  EXPECT_STREQ(w.c_str(), "first");
  in >> w >> w;  // the second read fails: the string keeps the last word
  EXPECT_STREQ(w.c_str(), "second");
}

// ---- Self-append and assigning a part of itself

TEST(UstringSelf, AppendOwnTextDoublesIt) {
  ustring s("/a-longer-folder-name");
  s.append(s.c_str());
  EXPECT_STREQ(s.c_str(), "/a-longer-folder-name/a-longer-folder-name");
  s.assign("abc");
  s.append(s.c_str(), 2);
  EXPECT_STREQ(s.c_str(), "abcab");
  s.append(s.c_str() + 3);  // a tail of its own text
  EXPECT_STREQ(s.c_str(), "abcabab");
  s += s;
  EXPECT_STREQ(s.c_str(),
               "abcababab"
               "cabab");
  s.assign("xyz");
  s.append(s, 1, 1);
  EXPECT_STREQ(s.c_str(), "xyzy");
}

TEST(UstringSelf, AssignPartOfItself) {
  ustring s("/Users/me/file");
  s.assign(s, 7, 2);
  EXPECT_STREQ(s.c_str(), "me");
  const ustring& same = s;  // self-assignment, unseen by clang's -Wself-assign-overloaded
  s = same;
  EXPECT_STREQ(s.c_str(), "me");
  s.assign(s.c_str());
  EXPECT_STREQ(s.c_str(), "me");
  s.assign("abcdef");
  s.assign(s.c_str(), 3);
  EXPECT_STREQ(s.c_str(), "abc");
  s.assign(s.c_str(), 10);
  EXPECT_STREQ(s.c_str(), "abc");
  s.assign(s.c_str() + 1);
  EXPECT_STREQ(s.c_str(), "bc");
}

TEST(UstringSelf, Utf16SelfOperations) {
  ustring s(kCafe);
  s.append(s.c_str_utf16());
  EXPECT_EQ(std::string(s.c_str()), std::string(kCafe) + kCafe);
  s.assign(s.c_str_utf16());
  EXPECT_EQ(s.length(), 10u);
  s.assign(s.c_str_utf16(), 4);
  EXPECT_STREQ(s.c_str(), kCafe);
  s.assign(s.c_str_utf16() + 3);
  EXPECT_STREQ(s.c_str(), "\xC3\xA9");
  s.append(s.c_str_utf16(), 0);
  EXPECT_STREQ(s.c_str(), "\xC3\xA9");
}

// ---- Conversion failures

TEST(UstringConversion, InvalidUtf8KeepsBytesAndWarnsOnEveryRequest) {
  ustring s(kInvalid);
  testing::internal::CaptureStderr();
  EXPECT_EQ(s.c_str_utf16()[0], 0);
  EXPECT_EQ(s.c_str_utf16()[0], 0);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(count(err, "Warning: u_strFromUTF8: error code 10 at line "), 2u) << err;
  EXPECT_STREQ(s.c_str(), kInvalid);
  EXPECT_FALSE(ustring::is_valid(s));
}

TEST(UstringConversion, Utf16AppendReplacesInvalidText) {
  ustring s(kInvalid);
  testing::internal::CaptureStderr();
  s.append(units(u"\u00E9"));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(count(err, "Warning: u_strFromUTF8: error code 10"), 1u) << err;
  EXPECT_STREQ(s.c_str(), "\xC3\xA9");
}

TEST(UstringConversion, LoneSurrogateEmptiesBothForms) {
  std::vector<std::function<void(ustring&)>> ops = {
      [](ustring& s) { s.append(kHighSurrogate); },
      [](ustring& s) { s += units(u"x\xDC00"); },
      [](ustring& s) { s.assign(kHighSurrogate, 2); },
      [](ustring& s) { s = ustring(units(u"\xDBFF")); },
      [](ustring& s) {  // cutting a surrogate pair in half
        s.assign(units(u"a\U0001F600"));
        s.assign(s.c_str_utf16(), 2);
      },
  };
  for (size_t i = 0; i < ops.size(); ++i) {
    ustring s("abc");
    testing::internal::CaptureStderr();
    ops[i](s);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count(err, "Warning: u_strToUTF8: error code 10 at line "), 1u) << "case " << i << ": " << err;
    EXPECT_EQ(s.length(), 0u) << "case " << i;
    EXPECT_STREQ(s.c_str(), "");
    EXPECT_EQ(access::wdata_len(s), 0u);
    EXPECT_EQ(s.c_str_utf16()[0], 0);
  }
}

TEST(UstringConversion, IsValidNeverPrints) {
  testing::internal::CaptureStderr();
  EXPECT_TRUE(ustring::is_valid(ustring()));
  EXPECT_TRUE(ustring::is_valid(ustring(kCafe)));
  EXPECT_FALSE(ustring::is_valid(ustring("\xFF")));
  EXPECT_FALSE(ustring::is_valid(ustring("\xED\xA0\x80")));  // an encoded surrogate
  EXPECT_FALSE(ustring::is_valid(ustring("\xC0\xAF")));      // overlong "/"
  EXPECT_FALSE(ustring::is_valid(ustring("a\xC3")));         // cut short
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// ---- The UTF-16 form follows every change of the text

TEST(UstringCache, EveryMutationIsReflected) {
  const std::vector<std::pair<const char*, std::function<void(ustring&)>>> ops = {
      {"append char*", [](ustring& s) { s.append("/d\xC3\xA9j\xC3\xA0"); }},
      {"append counted", [](ustring& s) { s.append("xyz", 2); }},
      {"append ustring", [](ustring& s) { s.append(ustring("/\xC3\xBC"), 1); }},
      {"append string", [](ustring& s) { s.append(std::string("-s")); }},
      {"append char", [](ustring& s) { s.append('!', 3); }},
      {"append no char", [](ustring& s) { s.append('x', 0); }},
      {"append utf16", [](ustring& s) { s.append(units(u"\u00F1")); }},
      {"append unit", [](ustring& s) { s.append(static_cast<unsigned short>('q'), 2); }},
      {"+= ustring", [](ustring& s) { s += ustring("+"); }},
      {"+= char", [](ustring& s) { s += 'c'; }},
      {"assign ustring", [](ustring& s) { s.assign(ustring("new \xC3\xA9"), 1, 5); }},
      {"assign string", [](ustring& s) { s.assign(std::string("str")); }},
      {"assign char*", [](ustring& s) { s.assign("p\xC3\xA9"); }},
      {"assign self cut", [](ustring& s) { s.assign(s.c_str(), 2); }},
      {"assign chars", [](ustring& s) { s.assign('z', 2); }},
      {"assign units", [](ustring& s) { s.assign(static_cast<unsigned short>(0xE9), 2); }},
      {"= char*", [](ustring& s) { s = "eq"; }},
      {"= unit", [](ustring& s) { s = static_cast<unsigned short>('u'); }},
      {"clear", [](ustring& s) { s.clear(); }},
      {"ltrim", [](ustring& s) { s.ltrim("/"); }},
      {"rtrim", [](ustring& s) { s.rtrim("/"); }},
      {"trim", [](ustring& s) { s.trim(ustring("/")); }},
      {"replace", [](ustring& s) { s.replace('/', ':'); }},
      {"swap",
       [](ustring& s) {
         ustring o("other");
         s.swap(o);
       }},
  };
  for (const auto& [name, op] : ops) {
    ustring s("/f\xC3\xBC/b/");
    s.c_str_utf16();
    ASSERT_NE(access::wdata_len(s), 0u);
    op(s);
    EXPECT_EQ(utf16_of(s), icu_utf16(s.c_str())) << name << ": " << s.c_str();
  }
}

TEST(UstringCache, Utf16AppendRegeneratesText) {
  ustring s("a");
  s.append(static_cast<unsigned short>(0xE9));
  EXPECT_EQ(s.length(), 3u);
  s.append(static_cast<unsigned short>(0), 3);  // a zero unit ends the form: nothing added
  s.append(units(u"b"));
  EXPECT_STREQ(s.c_str(),
               "a\xC3\xA9"
               "b");
  EXPECT_EQ(access::wdata_len(s), 3u);
}

TEST(UstringCache, Utf8OnlyWorkNeverConverts) {
  ustring s("/a");
  s.append("/b").append('c').assign(s, 1);
  EXPECT_EQ(access::wdata_len(s), 0u);
  s.c_str_utf16();
  s.ltrim("x");  // nothing removed: the form stays
  s.rtrim("x");
  EXPECT_EQ(access::wdata_len(s), 4u);
}

// ---- Buffer sizing

TEST(UstringBuffers, GrowExactlyAndShrinkBelowHalf) {
  ustring s;
  s.assign(std::string(1000, 'a'));
  EXPECT_EQ(access::data_cap(s), 1001u);
  s.assign(std::string(10, 'b'));
  EXPECT_EQ(access::data_cap(s), 11u);
  s.assign(std::string(600, 'c'));
  s.assign(std::string(400, 'd'));
  EXPECT_EQ(access::data_cap(s), 601u);
  s.clear();
  EXPECT_EQ(access::data_cap(s), 601u);  // clear keeps the buffers

  ustring grow("abc");
  for (size_t n = 4; n < 10; ++n) {
    grow.append('x');
    EXPECT_EQ(access::data_cap(grow), n + 1) << "no head-room";
  }
}

TEST(UstringBuffers, NewStringsAreSizedAsTheirFirstAppendSizesThem) {
  EXPECT_EQ(access::data_cap(ustring("")), 1u);  // 1 is below half of the first 4 bytes
  EXPECT_EQ(access::data_cap(ustring("ab")), 4u);
  EXPECT_EQ(access::data_cap(ustring(std::string(10, 'a'))), 11u);
  const ustring long_text(std::string(600, 'a'));
  EXPECT_EQ(access::data_cap(ustring(long_text)), 601u);
  EXPECT_EQ(access::data_cap(long_text.substr(0, 2)), 4u);
  EXPECT_EQ(access::data_cap(long_text.substr(100)), 501u);
  const ustring nfc = ustring(kCafeNfd).normalize(ustring::NFC);
  EXPECT_EQ(access::data_cap(nfc), 6u);
  EXPECT_EQ(access::wdata_cap(nfc), 5u);
  for (const ustring& s : {ustring("x"), ustring(long_text), long_text.substr(3)}) {
    EXPECT_EQ(access::wdata_cap(s), 4u);
  }
}

TEST(UstringBuffers, Utf16BufferFollowsTheSameRule) {
  ustring s(std::string(20, 'a'));
  s.c_str_utf16();
  EXPECT_EQ(access::wdata_cap(s), 21u);
  s.assign("abcdefghijklmn");  // 14 units: 15 is not below half of 21
  s.c_str_utf16();
  EXPECT_EQ(access::wdata_cap(s), 21u);
  s.assign("abc");
  s.c_str_utf16();
  EXPECT_EQ(access::wdata_cap(s), 4u);
  const ustring n = ustring::normalize(ustring(kCafeNfd), ustring::NFC);
  EXPECT_EQ(access::wdata_cap(n), 5u);
}

// ---- Searches

TEST(UstringSearch, ForwardAtAndPastTheEnd) {
  const ustring s("a/b/c");
  EXPECT_EQ(s.find("/"), 1u);
  EXPECT_EQ(s.find("/", 2), 3u);
  EXPECT_EQ(s.find("b/c", 0), 2u);
  EXPECT_EQ(s.find("c/"), ustring::npos);
  EXPECT_EQ(s.find("", 4), 4u);
  EXPECT_EQ(s.find("", 5), ustring::npos);
  EXPECT_EQ(s.find('\0', 3), 3u);  // the zero byte is the empty needle
  EXPECT_EQ(s.find("/", ustring::npos), ustring::npos);
  EXPECT_EQ(s.find_first_of("/c", 2), 3u);
  EXPECT_EQ(s.find_first_of(""), ustring::npos);
  EXPECT_EQ(s.find_first_of('\0'), ustring::npos);
  EXPECT_EQ(s.find_first_not_of("a/"), 2u);
  EXPECT_EQ(s.find_first_not_of("", 2), 2u);
  EXPECT_EQ(s.find_first_not_of("abc/"), ustring::npos);
  EXPECT_EQ(ustring().find(""), ustring::npos);
}

TEST(UstringSearch, BackwardStartIsClamped) {
  const ustring s("/a/b");
  EXPECT_EQ(s.rfind("/", ustring::npos), 2u);
  EXPECT_EQ(s.rfind("/", 1), 0u);
  EXPECT_EQ(ustring().rfind("/"), ustring::npos);
  EXPECT_EQ(ustring("abc").rfind(""), 2u);
  EXPECT_EQ(ustring("abc").rfind("", 1), 1u);
  EXPECT_EQ(ustring("abcab").rfind("ab", 3), 3u);  // a match may run past the start
  EXPECT_EQ(ustring("abcab").rfind("ab", 2), 0u);
  EXPECT_EQ(ustring("/a/b//").find_last_not_of("/", ustring::npos), 3u);
  EXPECT_EQ(ustring("///").find_last_not_of("/"), ustring::npos);
  EXPECT_EQ(ustring("abc").find_last_not_of("", 1), 1u);
  EXPECT_EQ(ustring("abc").find_last_not_of(""), 2u);
  EXPECT_EQ(s.find_last_of("/", 1), 0u);
  EXPECT_EQ(s.find_last_of('\0'), ustring::npos);
  EXPECT_EQ(s.find_last_of("xyz"), ustring::npos);
}

TEST(UstringSearch, AllNeedleFormsAgree) {
  const ustring text("/Users/j\xC3\xBC/b.txt");
  for (const char* n : {"/", "b", "\xC3", "txt", "", "zz"}) {
    const std::string str(n);
    const ustring u(n);
    const std::vector<std::pair<const char*, std::vector<size_t>>> results = {
        {"find", {text.find(n, 1), text.find(str, 1), text.find(u, 1)}},
        {"rfind", {text.rfind(n, 9), text.rfind(str, 9), text.rfind(u, 9)}},
        {"first_of", {text.find_first_of(n, 1), text.find_first_of(str, 1), text.find_first_of(u, 1)}},
        {"first_not_of",
         {text.find_first_not_of(n, 1), text.find_first_not_of(str, 1), text.find_first_not_of(u, 1)}},
        {"last_of", {text.find_last_of(n, 9), text.find_last_of(str, 9), text.find_last_of(u, 9)}},
        {"last_not_of",
         {text.find_last_not_of(n, 9), text.find_last_not_of(str, 9), text.find_last_not_of(u, 9)}},
    };
    for (const auto& [family, r] : results) {
      EXPECT_EQ(r[0], r[1]) << family << " '" << n << "'";
      EXPECT_EQ(r[0], r[2]) << family << " '" << n << "'";
    }
    if (str.size() == 1) {
      EXPECT_EQ(text.find(n[0], 1), text.find(n, 1));
      EXPECT_EQ(text.rfind(n[0], 9), text.rfind(n, 9));
      EXPECT_EQ(text.find_first_not_of(n[0], 1), text.find_first_not_of(n, 1));
      EXPECT_EQ(text.find_last_not_of(n[0], 9), text.find_last_not_of(n, 9));
    }
  }
  EXPECT_EQ(text.find("\xC3"), 8u);  // single bytes match inside a character
}

TEST(UstringSearch, TextEndsAtItsFirstZeroByte) {
  ustring s("ab");
  s.append('\0', 1).append("cb");
  ASSERT_EQ(s.length(), 5u);
  EXPECT_EQ(s.find("c"), ustring::npos);
  EXPECT_EQ(s.rfind("b"), 1u);
  EXPECT_EQ(s.find_last_not_of("z"), 1u);
  EXPECT_EQ(s.find("", 2), ustring::npos);
}

// ---- Trims and replace

TEST(UstringEdit, Trims) {
  ustring s("  a b  ");
  s.trim(" ");
  EXPECT_STREQ(s.c_str(), "a b");
  s = "   ";
  s.trim(" ");
  EXPECT_STREQ(s.c_str(), "");
  EXPECT_EQ(s.length(), 0u);
  s = " x ";
  s.trim("");
  EXPECT_STREQ(s.c_str(), " x ");
  s = "//a//";
  s.ltrim(ustring("/"));
  EXPECT_STREQ(s.c_str(), "a//");
  s.rtrim("/");
  EXPECT_STREQ(s.c_str(), "a");
  EXPECT_EQ(s.length(), 1u);
  s = "\t\n name \r";
  s.trim(" \t\r\n");
  EXPECT_STREQ(s.c_str(), "name");
}

TEST(UstringEdit, Replace) {
  ustring s("a/b/c");
  s.c_str_utf16();
  s.replace('/', ':');
  EXPECT_STREQ(s.c_str(), "a:b:c");
  EXPECT_EQ(utf16_of(s), u"a:b:c");
  s.replace('\0', 'x');
  EXPECT_STREQ(s.c_str(), "a:b:c");
}

// ---- Comparison

TEST(UstringCompare, BytewiseUnsigned) {
  EXPECT_LT(ustring("a").compare(ustring("ab")), 0);
  EXPECT_GT(ustring("ab").compare(ustring("a")), 0);
  EXPECT_EQ(ustring("a").compare(ustring("c")), 'a' - 'c');
  EXPECT_EQ(ustring("ab").compare(ustring("ab")), 0);
  EXPECT_GT(ustring("\xC3\xA9").compare(ustring("z")), 0);  // bytes above 127 are unsigned
  EXPECT_EQ(ustring::compare(ustring("ab"), ustring("AB"), true), 0);
  EXPECT_GT(ustring::compare(ustring("ab"), ustring("AB"), false), 0);
  EXPECT_NE(ustring::compare(ustring("\xC3\xA9"), ustring("\xC3\x89"), true), 0);  // no folding above ASCII
  EXPECT_EQ(ustring("abc").compare(ustring("abd"), 2), 0);
  EXPECT_LT(ustring("abc").compare(ustring("abd"), 3), 0);
  EXPECT_EQ(ustring("x").compare(ustring("y"), 0), 0);
  EXPECT_EQ(ustring("ab").compare(ustring("ab"), 10), 0);
  EXPECT_LT(ustring("ab").compare(ustring("abc"), 10), 0);
}

TEST(UstringCompare, Operators) {
  const ustring a("/a"), b("/b"), a2("/a");
  EXPECT_TRUE(a == a2);
  EXPECT_FALSE(a != a2);
  EXPECT_TRUE(a != b);
  EXPECT_TRUE(a < b);
  EXPECT_FALSE(b < a);
  EXPECT_TRUE(b > a);
  EXPECT_FALSE(a > a2);
  // The usual non-strict orders: equal texts are both <= and >=.
  EXPECT_TRUE(a <= a2);
  EXPECT_TRUE(a >= a2);
  EXPECT_TRUE(a <= b);
  EXPECT_FALSE(b <= a);
  EXPECT_TRUE(b >= a);
  EXPECT_FALSE(a >= b);
  EXPECT_TRUE(a == "/a");
}

// ---- Normalisation

TEST(UstringNormalize, ComposeAndDecompose) {
  const ustring nfd(kCafeNfd);
  const ustring nfc = ustring::normalize(nfd, ustring::NFC);
  EXPECT_STREQ(nfc.c_str(), kCafe);
  EXPECT_EQ(nfc.length(), 5u);
  EXPECT_STREQ(nfc.normalize(ustring::NFD).c_str(), kCafeNfd);
  EXPECT_EQ(nfc.normalize(ustring::NFD).length(), 6u);
  EXPECT_STREQ(nfd.c_str(), kCafeNfd);  // the source is unchanged
  EXPECT_EQ(ustring::normalize(ustring("plain/ascii"), ustring::NFC), ustring("plain/ascii"));
  // Hangul syllable and a character outside the BMP survive both ways.
  const ustring mixed("\xED\x95\x9C/\xF0\x9F\x98\x80");
  EXPECT_EQ(mixed.normalize(ustring::NFD).normalize(ustring::NFC), mixed);
  EXPECT_EQ(mixed.normalize(ustring::NFD).length(), 14u);
}

TEST(UstringNormalize, ResultIsSizedExactlyWhetherOrNotItChanged) {
  const ustring already = ustring::normalize(ustring(kCafe), ustring::NFC);  // nothing to compose
  EXPECT_STREQ(already.c_str(), kCafe);
  EXPECT_EQ(access::data_cap(already), 6u);
  EXPECT_EQ(access::wdata_len(already), 4u);
  EXPECT_EQ(access::wdata_cap(already), 5u);
  ustring cut(kCafe);
  cut.append('\0', 1).append("tail");  // normalisation sees the text up to its first zero byte
  EXPECT_STREQ(cut.normalize(ustring::NFD).c_str(), kCafeNfd);
  EXPECT_EQ(cut.normalize(ustring::NFC).length(), 5u);
}

TEST(UstringNormalize, LongTexts) {
  std::string big;
  for (int i = 0; i < 40000; ++i) big += kCafe;  // 200,000 bytes, 160,000 units
  const ustring s(big);
  EXPECT_EQ(utf16_of(s).size(), 160000u);
  const ustring nfd = s.normalize(ustring::NFD);
  EXPECT_EQ(nfd.length(), 240000u);
  EXPECT_EQ(nfd.normalize(ustring::NFC), s);
  EXPECT_EQ(ustring(units(u"caf\u00E9")).normalize(ustring::NFD).length(), 6u);  // after the large ones
}

TEST(UstringNormalize, EmptyAndInvalidGiveEmpty) {
  testing::internal::CaptureStderr();
  EXPECT_TRUE(ustring().normalize(ustring::NFC).empty());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  const ustring bad(kInvalid);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(bad.normalize(ustring::NFC).empty());
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(count(err, "Warning: u_strFromUTF8: error code 10"), 1u) << err;
  EXPECT_STREQ(bad.c_str(), kInvalid);

  testing::internal::CaptureStderr();
  EXPECT_TRUE(ustring("x").normalize(static_cast<ustring::normalization_form>(7)).empty());
  EXPECT_EQ(
      count(testing::internal::GetCapturedStderr(), "Warning: unorm2_getInstance: error code 1 at line "),
      1u);
}

}  // namespace
