#include "fs/file_finder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/text_convert.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

using testing::ScratchDir;

WideString W(const std::string& s) { return toWide(NarrowString(s.c_str())); }

std::vector<std::string> Walk(const std::string& pattern) {
  std::vector<std::string> names;
  FileFinder finder;
  for (bool found = finder.FindFirst(W(pattern)); found; found = finder.FindNext()) {
    names.emplace_back(toNarrow(finder.GetFoundName()).c_str());
  }
  return names;
}

TEST(FileFinderTest, FilesDirectoriesAndAFinalSlash) {
  ScratchDir dir;
  testing::WriteFile(dir / "file.cf", "x");
  testing::MakeDirs(dir / "sub");

  FileFinder finder;
  EXPECT_TRUE(finder.FindFirst(W(dir / "file.cf")));
  EXPECT_EQ(finder.GetFoundAttributes(), 0u);
  EXPECT_TRUE(finder.GetFoundName().equals(u"file.cf"));
  EXPECT_TRUE(finder.FindFirst(W(dir / "sub")));
  EXPECT_EQ(finder.GetFoundAttributes(), 16u);
  EXPECT_FALSE(finder.FindFirst(W(dir / "sub/")));
  EXPECT_FALSE(finder.FindFirst(W(dir / "absent")));
  EXPECT_FALSE(finder.FindFirst(W("/tmp")));  // empty directory part
  finder.Close();
  EXPECT_TRUE(finder.GetFoundName().empty());
  EXPECT_EQ(finder.GetFoundAttributes(), 0u);
}

TEST(FileFinderTest, WalkListsDotEntriesAndMatchesMasks) {
  ScratchDir dir;
  testing::WriteFile(dir / "a.cf", "1");
  testing::WriteFile(dir / "b.txt", "2");
  std::vector<std::string> all = Walk(dir / "*");
  EXPECT_EQ(all.size(), 4u);
  for (const char* name : {".", "..", "a.cf", "b.txt"}) {
    EXPECT_NE(std::find(all.begin(), all.end(), name), all.end()) << name;
  }
  EXPECT_EQ(Walk(dir / "*.cf"), std::vector<std::string>{"a.cf"});
  EXPECT_EQ(Walk(dir / "?.txt"), std::vector<std::string>{"b.txt"});
}

}  // namespace
}  // namespace qorv
