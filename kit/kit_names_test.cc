#include "kit/kit_names.h"

#include <gtest/gtest.h>

#include <string>

namespace qorv {
namespace {

TEST(KitNamesTest, SafeNames) {
  for (const char16_t* name : {u"a", u"dir\\file.cf", u"d/f", u"..a", u"a..", u"a.b\\.c",
                               u"Шаблоны\\1.cf", u"with space\\x", u"ab:c"}) {
    EXPECT_TRUE(IsSafeEntryName(WideString(name))) << UnsafeNameReason(WideString(name));
  }
}

TEST(KitNamesTest, EscapingNamesAreRefused) {
  struct Case {
    std::u16string name;
    const char* reason;
  } cases[] = {
      {u"", "is empty"},
      {u"\\etc\\passwd", "starts with a separator"},
      {u"/etc/passwd", "starts with a separator"},
      {u"C:\\x", "starts with a drive letter"},
      {u"c:x", "starts with a drive letter"},
      {u"a\\\\b", "has an empty component"},
      {u"a\\", "has an empty component"},
      {u"a//b", "has an empty component"},
      {u".", "has a \".\" component"},
      {u"a\\.\\b", "has a \".\" component"},
      {u"..", "has a \"..\" component"},
      {u"..\\x", "has a \"..\" component"},
      {u"a\\..\\..\\x", "has a \"..\" component"},
      {u"a/../x", "has a \"..\" component"},
      {std::u16string(u"a\0b", 3), "holds a control character"},
      {u"a\nb", "holds a control character"},
      {u"a\x7f", "holds a control character"},
      {u"a\x85"
       u"b",
       "holds a control character"},
      {u"\x9b"
       u"2J",
       "holds a control character"},
      {std::u16string(2049, u'a') + u"\\" + std::u16string(2047, u'b'),
       "is longer than 4096 characters"},
      {std::u16string(2048, u'\u00e9') + u"x", "is longer than 4096 bytes in the current locale"},
      {u"x\xD800y", "cannot be spelled in the current locale"},
  };
  for (const Case& c : cases) {
    WideString name(c.name.data(), c.name.size());
    const char* reason = UnsafeNameReason(name);
    ASSERT_NE(reason, nullptr) << c.reason;
    EXPECT_STREQ(reason, c.reason);
  }
}

TEST(KitNamesTest, EntryPathUsesSlashes) {
  EXPECT_TRUE(EntryPathOf(WideString(u"a\\b\\c.cf")).equals(u"a/b/c.cf"));
}

}  // namespace
}  // namespace qorv
