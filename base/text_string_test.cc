#include "base/text_string.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace qorv {
namespace {

// n units a, b, c, ... in a block of exactly n + header units.
WideString Units(size_t n) {
  std::u16string text;
  for (size_t i = 0; i < n; ++i) text.push_back(static_cast<char16_t>(u'a' + i % 26));
  return WideString(text.c_str(), text.size());
}

// --- Representation, growth and the capacity ladder -----------------------

TEST(TextStringTest, WideInlineLimitAndExactFirstBlock) {
  WideString nine(u"abcdefghi");
  EXPECT_TRUE(nine.IsInline());
  EXPECT_EQ(nine.FormWord(), 9u);
  EXPECT_EQ(nine.ShareCount(), 0);

  WideString ten(u"abcdefghij");
  EXPECT_FALSE(ten.IsInline());
  EXPECT_EQ(ten.FormWord(), 10u);
  EXPECT_EQ(ten.Capacity(), 12u);
  EXPECT_EQ(ten.size(), 10u);
  EXPECT_EQ(ten.ShareCount(), 1);
  EXPECT_TRUE(ten.equals(u"abcdefghij"));

  ten.push_back(u'k');  // 13 needed, 12 + 6 = 18 units = 36 bytes -> 40 bytes
  EXPECT_EQ(ten.Capacity(), 20u);
  EXPECT_TRUE(ten.equals(u"abcdefghijk"));
  EXPECT_EQ(ten.c_str()[11], 0);
}

TEST(TextStringTest, NarrowInlineLimitAndLadder) {
  NarrowString nineteen("abcdefghijklmnopqrs");
  EXPECT_TRUE(nineteen.IsInline());
  EXPECT_EQ(nineteen.FormWord(), 19u);

  NarrowString twenty("abcdefghijklmnopqrst");
  EXPECT_FALSE(twenty.IsInline());
  EXPECT_EQ(twenty.FormWord(), 20u);
  EXPECT_EQ(twenty.Capacity(), 24u);
  twenty.append("u", 1);  // 25 needed, 24 + 12 = 36 -> 40
  EXPECT_EQ(twenty.Capacity(), 40u);
  EXPECT_TRUE(twenty.equals("abcdefghijklmnopqrstu"));
}

TEST(TextStringTest, LadderStepsBySize) {
  // 300-byte block: 16-byte steps; 600: 32; 5000: 256; 20000: as asked.
  NarrowString s;
  s.resize(296, 'x');  // exact: 296 + 4 = 300
  EXPECT_EQ(s.Capacity(), 300u);
  s.resize(297, 'x');  // exact growth: 301 raised to 304
  EXPECT_EQ(s.Capacity(), 304u);
  NarrowString m;
  m.resize(20, 'x');
  m.resize(597, 'x');  // 601 -> 608
  EXPECT_EQ(m.Capacity(), 608u);
  NarrowString l;
  l.resize(20, 'x');
  l.resize(4997, 'x');  // 5001 -> 5120
  EXPECT_EQ(l.Capacity(), 5120u);
  NarrowString h;
  h.resize(20, 'x');
  h.resize(19997, 'x');  // 20001, unchanged
  EXPECT_EQ(h.Capacity(), 20001u);
}

TEST(TextStringTest, AppendsGrowGeometricallyAssignExactly) {
  WideString s = Units(40);  // 42 units, exact
  EXPECT_EQ(s.Capacity(), 42u);
  s.push_back(u'!');  // 42 + 21 = 63 units = 126 bytes -> 128 bytes = 64 units
  EXPECT_EQ(s.Capacity(), 64u);
  WideString t = Units(40);
  t.assign(Units(41).c_str(), 41);  // exact: 43 units = 86 bytes -> 88 = 44 units
  EXPECT_EQ(t.Capacity(), 44u);
}

// --- Sharing and copy-on-write --------------------------------------------

TEST(TextStringTest, CopyThenAppendUnsharesAndLeavesOriginal) {
  WideString original = Units(15);
  WideString copy = original;
  EXPECT_EQ(original.ShareCount(), 2);
  EXPECT_EQ(original.c_str(), copy.c_str());

  copy.push_back(u'!');
  EXPECT_EQ(original.ShareCount(), 1);
  EXPECT_EQ(copy.ShareCount(), 1);
  EXPECT_NE(original.c_str(), copy.c_str());
  EXPECT_TRUE(original.equals(Units(15).c_str()));
  EXPECT_EQ(copy.size(), 16u);
  EXPECT_EQ(copy[15], u'!');
}

TEST(TextStringTest, EveryModificationOfASharedBlockUnshares) {
  const WideString base = Units(20);
  auto check = [&](auto modify) {
    WideString copy = base;
    modify(copy);
    EXPECT_EQ(base.ShareCount(), 1);
    EXPECT_TRUE(base.equals(Units(20).c_str()));
  };
  check([](WideString& s) { s.erase(3, 2); });
  check([](WideString& s) { s.assign(u"0123456789abc", 13); });
  check([](WideString& s) { s.resize(18); });
  check([](WideString& s) { replaceAll(s, WideString(u"c"), WideString(u"C")); });
  check([](WideString& s) { s.MutableData()[0] = u'Z'; });
}

TEST(TextStringTest, MovedFromStringIsEmptyAndCountUnchanged) {
  WideString a = Units(12);
  WideString b = std::move(a);
  EXPECT_TRUE(a.empty());  // NOLINT(bugprone-use-after-move)
  EXPECT_TRUE(a.IsInline());
  EXPECT_EQ(b.ShareCount(), 1);
}

TEST(TextStringTest, CopiesOnTwoThreadsAreClean) {
  const WideString shared = Units(50);
  auto work = [&shared] {
    for (int i = 0; i < 20000; ++i) {
      WideString copy = shared;
      WideString another(copy);
      if (i % 7 == 0) another.push_back(u'x');
    }
  };
  std::thread t1(work), t2(work);
  t1.join();
  t2.join();
  EXPECT_EQ(shared.ShareCount(), 1);
  EXPECT_EQ(shared.size(), 50u);
}

// --- Resizing ---------------------------------------------------------------

TEST(TextStringTest, ShrinkingReturnsToInline) {
  WideString s = Units(15);
  s.resize(5);
  EXPECT_TRUE(s.IsInline());
  EXPECT_TRUE(s.equals(u"abcde"));

  WideString t = Units(15);
  WideString keep = t;
  t.resize(0);
  EXPECT_TRUE(t.IsInline());
  EXPECT_TRUE(t.empty());
  EXPECT_EQ(keep.ShareCount(), 1);

  WideString u = Units(15);
  u.resize(12);  // above the inline limit: stays in its block
  EXPECT_FALSE(u.IsInline());
  EXPECT_EQ(u.Capacity(), 17u);
  EXPECT_EQ(u.size(), 12u);
  EXPECT_EQ(u.c_str()[12], 0);
}

TEST(TextStringTest, ResizeWithFill) {
  NarrowString s("ab");
  s.resize(5, 'z');
  EXPECT_TRUE(s.equals("abzzz"));
  s.resize(25, '-');
  EXPECT_TRUE(s.equals("abzzz--------------------"));
  EXPECT_EQ(s.Capacity(), 29u);
}

// --- Overlapping sources ----------------------------------------------------

TEST(TextStringTest, AssignFromOwnText) {
  WideString inl(u"abcdefg");
  inl.assign(inl.c_str() + 2, 4);
  EXPECT_TRUE(inl.equals(u"cdef"));

  WideString heap = Units(20);
  heap.assign(heap.c_str() + 3, 15);
  EXPECT_TRUE(heap.equals(Units(18).c_str() + 3));

  WideString shared = Units(20);
  WideString other = shared;
  shared.assign(shared.c_str() + 1, 12);
  EXPECT_EQ(shared.size(), 12u);
  EXPECT_EQ(shared[0], u'b');
  EXPECT_TRUE(other.equals(Units(20).c_str()));
}

TEST(TextStringTest, AppendFromOwnTextAcrossReallocation) {
  WideString inl(u"abcdef");
  inl.append(inl.c_str() + 1, 5);  // leaves the inline area
  EXPECT_TRUE(inl.equals(u"abcdefbcdef"));

  WideString heap(u"0123456789");
  heap.append(heap);  // doubles past its capacity
  EXPECT_TRUE(heap.equals(u"01234567890123456789"));
  heap.append(heap, 5, 3);
  EXPECT_TRUE(heap.equals(u"01234567890123456789567"));
}

// --- Positions and errors ---------------------------------------------------

TEST(TextStringTest, AppendPartAtAndPastTheEnd) {
  WideString s(u"xy");
  WideString other(u"abc");
  s.append(other, 3, 10);
  EXPECT_TRUE(s.equals(u"xy"));
  s.append(other, 1, 100);
  EXPECT_TRUE(s.equals(u"xybc"));
  try {
    s.append(other, 4, 1);
    FAIL() << "no error";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "basic_string");
  }
  EXPECT_TRUE(s.equals(u"xybc"));
}

TEST(TextStringTest, EraseAndInsert) {
  WideString s = Units(14);
  s.erase(2, 10);
  EXPECT_TRUE(s.IsInline());
  EXPECT_TRUE(s.equals(u"abmn"));
  s.erase(1);
  EXPECT_TRUE(s.equals(u"a"));
  s.erase(1, 5);
  EXPECT_TRUE(s.equals(u"a"));
  EXPECT_THROW(s.erase(2, 1), std::out_of_range);

  const char16_t middle[] = u"0123456789";
  WideString t(u"ab");
  t.insert(1, middle, middle + 10);
  EXPECT_TRUE(t.equals(u"a0123456789b"));
  EXPECT_EQ(t.Capacity(), 14u);  // exactly the new length plus header
  t.insert(t.size(), middle, middle + 2);
  EXPECT_TRUE(t.equals(u"a0123456789b01"));
  EXPECT_THROW(t.insert(15, middle, middle + 1), std::out_of_range);
}

TEST(TextStringTest, EqualityAndOrdering) {
  EXPECT_TRUE(WideString().equals(u""));
  EXPECT_TRUE(WideString().equals(nullptr));
  EXPECT_FALSE(WideString(u"ab").equals(u"abc"));
  EXPECT_TRUE(NarrowString("abc") < NarrowString("abd"));
  EXPECT_TRUE(NarrowString("ab") < NarrowString("abc"));
  EXPECT_FALSE(NarrowString("abc") < NarrowString("abc"));
  EXPECT_TRUE(NarrowString("z") < NarrowString("\xc3\xa9"));  // unsigned bytes
}

TEST(TextStringTest, ConcatenationIsExact) {
  NarrowString a("0123456789");
  NarrowString b("abcdefghijk");
  NarrowString ab = a + b;
  EXPECT_TRUE(ab.equals("0123456789abcdefghijk"));
  EXPECT_EQ(ab.Capacity(), 25u);
  NarrowString small = a + "xy";
  EXPECT_TRUE(small.IsInline());
  EXPECT_TRUE(small.equals("0123456789xy"));
}

// --- replaceAll and fromInteger ---------------------------------------------

TEST(TextStringTest, ReplaceAll) {
  WideString s(u"aaa");
  EXPECT_EQ(replaceAll(s, WideString(u"aa"), WideString(u"b")), 1u);
  EXPECT_TRUE(s.equals(u"ba"));

  WideString t(u"aaa");
  EXPECT_EQ(replaceAll(t, WideString(), WideString(u"b")), 0u);
  EXPECT_TRUE(t.equals(u"aaa"));

  WideString banana(u"banana");
  EXPECT_EQ(replaceAll(banana, WideString(u"a"), WideString(u"xy")), 3u);
  EXPECT_TRUE(banana.equals(u"bxynxynxy"));

  WideString path(u"dir\\sub\\file.cf");
  EXPECT_EQ(replaceAll(path, WideString(u"\\"), WideString(u"/")), 2u);
  EXPECT_TRUE(path.equals(u"dir/sub/file.cf"));

  WideString shortText(u"a");
  EXPECT_EQ(replaceAll(shortText, WideString(u"ab"), WideString(u"c")), 0u);
  WideString same(u"abab");
  EXPECT_EQ(replaceAll(same, WideString(u"aba"), WideString(u"xyz")), 1u);
  EXPECT_TRUE(same.equals(u"xyzb"));
  WideString removal(u"a-b-c");
  EXPECT_EQ(replaceAll(removal, WideString(u"-"), WideString()), 2u);
  EXPECT_TRUE(removal.equals(u"abc"));
}

TEST(TextStringTest, FromInteger) {
  EXPECT_TRUE(fromInteger(-42, 10).equals(u"-42"));
  EXPECT_TRUE(fromInteger(255, 16).equals(u"ff"));
  EXPECT_TRUE(fromInteger(0, 10).equals(u"0"));
  EXPECT_TRUE(fromInteger(INT32_MIN, 10).equals(u"-2147483648"));
  EXPECT_TRUE(fromInteger(-1, 16).equals(u"ffffffff"));
  EXPECT_TRUE(fromInteger(8, 10).equals(u"8"));
  EXPECT_TRUE(fromInteger(5, 2).equals(u"101"));
  EXPECT_TRUE(fromInteger(INT32_MAX, 36).equals(u"zik0zj"));
}

}  // namespace
}  // namespace qorv
