#include "config/config_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/text_convert.h"
#include "testing/fault_injection.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

using testing::ReadFile;
using testing::ScratchDir;
using testing::WriteFile;

WideString W(const std::string& s) { return toWide(NarrowString(s.c_str(), s.size())); }

// Reads `content` as a file and writes the list back; the bytes written.
std::string RoundTrip(const std::string& content) {
  ScratchDir dir;
  WriteFile(dir / "in.cfg", content);
  ConfigEntryList list;
  EXPECT_EQ(list.Read(W(dir / "in.cfg")), ConfigEntryList::ReadResult::kRead);
  list.Write(W(dir / "out.cfg"));
  return ReadFile(dir / "out.cfg");
}

TEST(ConfigFileTest, CompareNoCaseFoldsAsciiOnly) {
  EXPECT_EQ(CompareNoCase(WideString(u"Path"), WideString(u"pATH")), 0);
  EXPECT_LT(CompareNoCase(WideString(u"a"), WideString(u"B")), 0);
  EXPECT_NE(CompareNoCase(WideString(u"Ä"), WideString(u"ä")), 0);
}

TEST(ConfigFileTest, FormatRoundTrips) {
  // Grouped by key, keys in first-met order.
  EXPECT_EQ(RoundTrip("a=1\nb=2\na=3\n"), "a=1\na=3\nb=2\n");
  // Keys and values merge ignoring case; the first spelling stays.
  EXPECT_EQ(RoundTrip("Path=x\npath=X\n"), "Path=x\n");
  // Nothing is trimmed; a carriage return stays with the value.
  EXPECT_EQ(RoundTrip("k = v\r\n"), "k = v\r\n");
  EXPECT_EQ(RoundTrip("x=y=z\n"), "x=y=z\n");
  EXPECT_EQ(RoundTrip("flag\n"), "flag=\n");
  EXPECT_EQ(RoundTrip("=v\n=\n\n"), "=v\n");
  EXPECT_EQ(RoundTrip("a=1\nb=2"), "a=1\nb=2\n");  // last line without line feed
  EXPECT_EQ(RoundTrip("#comment=1\n;x\n"), "#comment=1\n;x=\n");
  EXPECT_EQ(RoundTrip(""), "");
}

TEST(ConfigFileTest, LongLinesAreReadWhole) {
  std::string key(3000, 'k');
  std::string value(5000, 'v');
  EXPECT_EQ(RoundTrip(key + "=" + value + "\nz=1"), key + "=" + value + "\nz=1\n");
}

TEST(ConfigFileTest, ParsedEntries) {
  ScratchDir dir;
  WriteFile(dir / "f", "k = v\r\nflag\n=v\nx=y=z");
  ConfigEntryList list;
  list.Read(W(dir / "f"));
  ASSERT_EQ(list.entries().size(), 4u);
  EXPECT_TRUE(list.entries()[0].key.equals(u"k "));
  EXPECT_TRUE(list.entries()[0].values[0].equals(u" v\r"));
  EXPECT_TRUE(list.entries()[1].key.equals(u"flag"));
  ASSERT_EQ(list.entries()[1].values.size(), 1u);
  EXPECT_TRUE(list.entries()[1].values[0].empty());
  EXPECT_TRUE(list.entries()[2].key.empty());
  EXPECT_TRUE(list.Find(WideString(u"X"))->at(0).equals(u"y=z"));
  EXPECT_EQ(list.Find(WideString(u"none")), nullptr);
}

TEST(ConfigFileTest, SetRemovesReplacesAndAppends) {
  ScratchDir dir;
  WriteFile(dir / "f", "a=1\nb=2\nc=3\n");
  ConfigEntryList list;
  list.Read(W(dir / "f"));
  list.Set(WideString(u"B"), {});
  list.Set(WideString(u"A"), {WideString(u"9"), WideString(u"9")});
  list.Set(WideString(u"new"), {WideString(u"n")});
  list.Set(WideString(u"absent"), {});
  list.Write(W(dir / "f"));
  EXPECT_EQ(ReadFile(dir / "f"), "a=9\na=9\nc=3\nnew=n\n");
}

TEST(ConfigFileTest, EncodingsAndByteOrderMarks) {
  // UTF-16LE with its mark: written back in the locale's encoding (UTF-8).
  std::string utf16("\xFF\xFE", 2);
  const char16_t text[] = u"key=Ж\nb=2\n";
  for (const char16_t* p = text; *p; ++p) {
    utf16.push_back(static_cast<char>(*p & 0xFF));
    utf16.push_back(static_cast<char>(*p >> 8));
  }
  EXPECT_EQ(RoundTrip(utf16), "key=\xd0\x96\nb=2\n");
  // A UTF-8 mark is skipped.
  EXPECT_EQ(RoundTrip("\xEF\xBB\xBFkey=\xd0\x96\n"), "key=\xd0\x96\n");
}

// The file is the user's: whatever bytes the locale cannot decode come back
// as they were, and keys that differ only there stay apart.
TEST(ConfigFileTest, UndecodableBytesComeBackByteForByte) {
  const std::string cases[] = {
      "a=1\xff\nb=2\n",
      "Legacy=/opt/\xcf\xf0\xee\xe3\xf0\xe0\xec\xec\xfb\n",  // Windows-1251
      "Legacy=/opt/\xcf\xf0\nLegacy=/opt/\xcf\xf1\n",        // apart, both kept
      "lone=\x80\xbf continuation\n\xbf=key\n",
      "mixed=\xd0\x96\xd0\nok=\xf0\x9f\x98\x80\n",  // cut, then an emoji
      std::string("nul=a\0b\nz\0=\0\n", 13),
      "surrogate=\xed\xa0\x80 overlong=\xc0\xaf\n",
      "cut=abc\xe2\x82\n",  // a sequence cut by the end of the file
  };
  for (const std::string& content : cases) {
    EXPECT_EQ(RoundTrip(content), content) << ::testing::PrintToString(content);
  }
  // The last line needs no line feed; it is written with one.
  EXPECT_EQ(RoundTrip("cut=abc\xe2\x82"), "cut=abc\xe2\x82\n");
}

TEST(ConfigFileTest, CharacterAcrossBlockBoundary) {
  // A two-byte character straddling the 4096-byte read blocks.
  std::string value(4093, 'x');
  std::string content = "k=" + value + "\xd0\x96" + "tail\n";
  EXPECT_EQ(RoundTrip(content), content);
}

TEST(ConfigFileTest, MissingFileLeavesListUnchanged) {
  ScratchDir dir;
  ConfigEntryList list;
  list.Add(WideString(u"k"), WideString(u"v"));
  EXPECT_EQ(list.Read(W(dir / "none.cfg")), ConfigEntryList::ReadResult::kMissing);
  EXPECT_EQ(list.Read(W(dir / "none/x.cfg")), ConfigEntryList::ReadResult::kMissing);
  ASSERT_EQ(list.entries().size(), 1u);
  WriteFile(dir / "f", "a=1\n");
  {
    testing::FaultInjector failing(testing::SysCall::kRead, 0, EIO);
    EXPECT_EQ(list.Read(W(dir / "f")), ConfigEntryList::ReadResult::kUnreadable);
  }
  EXPECT_EQ(list.entries().size(), 1u);
}

// --- Writing never leaves a damaged file ------------------------------------

int WriteErrorCode(const ConfigEntryList& list, const std::string& path) {
  try {
    list.Write(W(path));
  } catch (const ConfigWriteError& e) {
    return e.code();
  }
  return 0;
}

TEST(ConfigFileTest, WriteIntoMissingDirectoryIsCodeOne) {
  ScratchDir dir;
  ConfigEntryList list;
  list.Add(WideString(u"k"), WideString(u"v"));
  EXPECT_EQ(WriteErrorCode(list, dir / "missing/f.cfg"), 1);
  EXPECT_FALSE(testing::Exists(dir / "missing"));
}

TEST(ConfigFileTest, FailedWriteKeepsTheOldBytes) {
  ScratchDir dir;
  const std::string old = "CommonInfoBases=/srv/bases\nConfigurationTemplatesLocation=/old\n";
  ConfigEntryList list;
  list.Add(WideString(u"ConfigurationTemplatesLocation"), WideString(u"/new"));
  struct Case {
    testing::SysCall call;
    int error;
    int code;
  } cases[] = {
      {testing::SysCall::kOpen, ENOSPC, 1},  {testing::SysCall::kWrite, ENOSPC, 2},
      {testing::SysCall::kFsync, EIO, 2},    {testing::SysCall::kClose, EIO, 2},
      {testing::SysCall::kRename, EXDEV, 2}, {testing::SysCall::kFchmod, EPERM, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.call));
    WriteFile(dir / "vexalaunch.cfg", old);
    {
      testing::FaultInjector fault(c.call, 0, c.error);
      EXPECT_EQ(WriteErrorCode(list, dir / "vexalaunch.cfg"), c.code);
      EXPECT_TRUE(fault.Fired());
    }
    EXPECT_EQ(ReadFile(dir / "vexalaunch.cfg"), old);
    // No temporary file is left beside it.
    EXPECT_EQ(std::system(("test $(ls -A '" + dir.path() + "' | wc -l) -eq 1").c_str()), 0);
  }
}

TEST(ConfigFileTest, WriteKeepsModeAndFollowsLinks) {
  ScratchDir dir;
  WriteFile(dir / "real.cfg", "a=1\n");
  ASSERT_EQ(::chmod((dir / "real.cfg").c_str(), 0604), 0);
  ASSERT_EQ(::symlink("real.cfg", (dir / "link.cfg").c_str()), 0);
  ConfigEntryList list;
  list.Read(W(dir / "link.cfg"));
  list.Add(WideString(u"b"), WideString(u"2"));
  list.Write(W(dir / "link.cfg"));
  struct stat st;
  ASSERT_EQ(::lstat((dir / "link.cfg").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(dir / "real.cfg"), "a=1\nb=2\n");
  ASSERT_EQ(::stat((dir / "real.cfg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
}

}  // namespace
}  // namespace qorv
