#include "base/text_convert.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <cwchar>
#include <thread>

namespace qorv {
namespace {

// The test binary runs under C.UTF-8 (testing/test_main.cc).

TEST(TextConvertTest, RoundTripOfNonAsciiText) {
  NarrowString utf8("< \xd0\x9d\xd0\xb0\xd0\xb7\xd0\xb0\xd0\xb4");  // "< Назад"
  WideString wide = toWide(utf8);
  EXPECT_TRUE(wide.equals(u"< Назад"));
  EXPECT_EQ(wide.size(), 7u);
  EXPECT_TRUE(toNarrow(wide) == utf8);
}

TEST(TextConvertTest, EmptyAndEmbeddedZero) {
  EXPECT_TRUE(toNarrow(WideString()).empty());
  EXPECT_TRUE(toWide(NarrowString()).empty());

  const char16_t withZero[] = {u'a', u'b', 0, u'c', u'd'};
  WideString w(withZero, 5);
  EXPECT_EQ(w.size(), 5u);
  EXPECT_TRUE(toNarrow(w).equals("ab"));

  const char bytes[] = {'x', 0, 'y'};
  EXPECT_TRUE(toWide(NarrowString(bytes, 3)).equals(u"x"));
}

TEST(TextConvertTest, CodePointAboveBmpIsASurrogatePairBothWays) {
  // U+1F600 as UTF-8: one character, two units.
  WideString w = toWide(NarrowString("a\xf0\x9f\x98\x80z"));
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(w[0], u'a');
  EXPECT_EQ(w[1], static_cast<char16_t>(0xD83D));
  EXPECT_EQ(w[2], static_cast<char16_t>(0xDE00));
  EXPECT_EQ(w[3], u'z');
  EXPECT_TRUE(toNarrow(w).equals("a\xf0\x9f\x98\x80z"));
  EXPECT_TRUE(
      toNarrow(WideString(u"\U0010FFFF\U00010000")).equals("\xf4\x8f\xbf\xbf\xf0\x90\x80\x80"));
}

// --- Text the locale cannot convert ----------------------------------------
// The C library answers (size_t)-1 for such text; the conversions keep what
// came before the first bad character instead of using that as a length.

TEST(TextConvertTest, InvalidBytesConvertUpToTheFirstBadSequence) {
  EXPECT_TRUE(toWide(NarrowString("abc\xff"
                                  "def"))
                  .equals(u"abc"));
  EXPECT_TRUE(toWide(NarrowString("ok\xd0")).equals(u"ok"));  // cut sequence
  EXPECT_TRUE(toWide(NarrowString("\x80")).empty());
}

TEST(TextConvertTest, UnpairedSurrogateStopsNarrowing) {
  const char16_t text[] = {u'a', u'b', 0xD800, u'c', 0};
  EXPECT_TRUE(toNarrow(WideString(text)).equals("ab"));
  // Halves in the wrong order, or a high one at the end, are lone too.
  const char16_t reversed[] = {u'x', 0xDE00, 0xD83D, 0};
  EXPECT_TRUE(toNarrow(WideString(reversed)).equals("x"));
  const char16_t cut[] = {u'y', 0xD83D, 0};
  EXPECT_TRUE(toNarrow(WideString(cut)).equals("y"));
}

TEST(TextConvertTest, PrimitivesReportCountsAndRespectLimits) {
  char16_t out[8] = {};
  EXPECT_EQ(MultiByteToUtf16("\xd0\xb4\xd0\xb0 ok", out, 2), 5u);
  EXPECT_EQ(out[0], u'д');
  EXPECT_EQ(out[1], u'а');
  EXPECT_EQ(out[2], 0);  // beyond the limit: untouched
  EXPECT_EQ(MultiByteToUtf16("abc", out, 0), 3u);

  char bytes[6];
  std::memset(bytes, '#', sizeof(bytes));
  EXPECT_EQ(Utf16ToMultiByte(u"дa", 2, bytes, sizeof(bytes)), 3u);
  EXPECT_EQ(std::memcmp(bytes,
                        "\xd0\xb4"
                        "a\0\0\0",
                        6),
            0);
  // Only whole characters that fit are written.
  char tiny[2];
  EXPECT_EQ(Utf16ToMultiByte(u"aд", 2, tiny, sizeof(tiny)), 1u);
  EXPECT_EQ(tiny[0], 'a');
}

TEST(TextConvertTest, ConversionsOnTwoThreadsLeaveTheLocaleAlone) {
  const char* before = std::setlocale(LC_ALL, nullptr);
  NarrowString expected(before);
  auto work = [] {
    for (int i = 0; i < 2000; ++i) {
      WideString w = toWide(NarrowString("\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 path"));
      ASSERT_TRUE(toNarrow(w).equals("\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 path"));
    }
  };
  std::thread t1(work), t2(work);
  t1.join();
  t2.join();
  EXPECT_TRUE(NarrowString(std::setlocale(LC_ALL, nullptr)) == expected);
}

}  // namespace
}  // namespace qorv

namespace qorv {
namespace {

// The UTF-8 encoder used under UTF-8 locales agrees with the C library for
// every UTF-16 unit, surrogates (unconvertible) included.
// Whatever a kit or a file name holds reaches a terminal or a log line as
// visible text: no escape sequence, no bell, no line of its own.
TEST(TextConvertTest, ControlsAreEscapedForTerminalsAndLogs) {
  struct Case {
    std::string text;
    std::string shown;
  } cases[] = {
      {"plain \xc3\xa9t\xc3\xa9", "plain \xc3\xa9t\xc3\xa9"},
      {"\x1b[2J\x1b[H", "\\x1b[2J\\x1b[H"},
      {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07"},
      {"name\ncommitted: 0 written", "name\\x0acommitted: 0 written"},
      {std::string("a\0b", 3), "a\\x00b"},
      {"del\x7f", "del\\x7f"},
      {"c1 \xc2\x9b"
       "2J and \xc2\x85",
       "c1 \\u009b2J and \\u0085"},
      {"not c1: \xc2\xa0", "not c1: \xc2\xa0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeControls(c.text), c.shown) << c.shown;
    if (c.text.find('\0') == std::string::npos) {
      EXPECT_EQ(Narrow(EscapeControls(Wide(c.text))), c.shown) << c.shown;
    }
  }
}

TEST(TextConvertTest, Utf8EncoderAgreesWithTheCLibrary) {
  for (uint32_t unit = 1; unit <= 0xFFFF; ++unit) {
    char16_t text[3] = {u'a', static_cast<char16_t>(unit), 0};
    char ours[16];
    size_t n = Utf16ToMultiByte(text, 2, ours, sizeof(ours));
    std::mbstate_t state{};
    char theirs[16] = {'a'};
    size_t m = std::wcrtomb(theirs + 1, static_cast<wchar_t>(unit), &state);
    size_t expected = m == static_cast<size_t>(-1) ? 1 : m + 1;
    ASSERT_EQ(n, expected) << unit;
    ASSERT_EQ(std::memcmp(ours, theirs, n), 0) << unit;
  }
}

}  // namespace
}  // namespace qorv
