#include "app/toolkit_choice.h"

#include <gtest/gtest.h>

#include "app/command_line.h"

namespace qorv {
namespace {

using X = DesktopFacts::X;
constexpr Toolkit k2 = Toolkit::kGtk2;
constexpr Toolkit k3 = Toolkit::kGtk3;

TEST(ToolkitChoiceTest, OrderAndScaleFollowTheDesktop) {
  struct Case {
    const char* what;
    DesktopFacts facts;
    std::vector<Toolkit> tries;
    int scaleToSet;
  };
  const Case cases[] = {
      {"X at scale 1: GTK+ 2, then GTK 3", {"", true, X::kOpens, false, 0, 96}, {k2, k3}, 0},
      {"X library missing: both try", {"", true, X::kUnknown, false, 0, 0}, {k2, k3}, 0},
      {"GDK_SCALE=2: GTK 3 first", {"", true, X::kOpens, false, 2, 0}, {k3, k2}, 0},
      {"Xft.dpi 192: GTK 3, told scale 2", {"", true, X::kOpens, false, 0, 192}, {k3, k2}, 2},
      {"Xft.dpi 144 rounds to 2", {"", true, X::kOpens, false, 0, 144}, {k3, k2}, 2},
      {"Xft.dpi 120 stays at 1", {"", true, X::kOpens, false, 0, 120}, {k2, k3}, 0},
      {"Xft.dpi 288: scale 3", {"", true, X::kOpens, false, 0, 288}, {k3, k2}, 3},
      {"GDK_SCALE=1 wins over the DPI", {"", true, X::kOpens, false, 1, 192}, {k2, k3}, 0},
      {"Wayland, no X: GTK 3", {"", false, X::kUnknown, true, 0, 0}, {k3}, 0},
      {"Wayland, X fails: GTK 3", {"", true, X::kFails, true, 0, 0}, {k3}, 0},
      {"Wayland beside X: X rules", {"", true, X::kOpens, true, 0, 0}, {k2, k3}, 0},
      {"X fails, no Wayland: terminal", {"", true, X::kFails, false, 0, 0}, {}, 0},
      {"no display: terminal", {"", false, X::kUnknown, false, 0, 0}, {}, 0},
      {"asked gtk3 at scale 1", {"gtk3", true, X::kOpens, false, 0, 0}, {k3}, 0},
      {"asked gtk2 at scale 2", {"gtk2", true, X::kOpens, false, 2, 0}, {k2}, 0},
      {"asked gtk3 without a display", {"gtk3", false, X::kUnknown, false, 0, 0}, {k3}, 0},
      {"asked text", {"text", true, X::kOpens, false, 0, 0}, {}, 0},
  };
  for (const Case& c : cases) {
    const ToolkitPlan plan = PlanToolkits(c.facts);
    EXPECT_EQ(plan.tries, c.tries) << c.what;
    if (!plan.tries.empty() && plan.tries[0] == k3) {
      EXPECT_EQ(plan.scaleToSet, c.scaleToSet) << c.what;
    }
  }
}

TEST(ToolkitChoiceTest, TheOptionIsReadAndWrongNamesRefused) {
  struct Case {
    std::vector<const char*> args;
    std::string toolkit;
    bool problem;
  };
  const Case cases[] = {
      {{"qorv-setup", "--toolkit=gtk3"}, "gtk3", false},
      {{"qorv-setup", "--toolkit=gtk2", "-S"}, "gtk2", false},
      {{"qorv-setup", "--toolkit=gtk2", "--toolkit=text"}, "text", false},
      {{"qorv-setup", "--toolkit=qt"}, "qt", true},
      {{"qorv-setup", "--toolkit="}, "", true},
      {{"qorv-setup", "-S"}, "", false},
  };
  for (const Case& c : cases) {
    const CommandLine line =
        ScanCommandLine(static_cast<int>(c.args.size()), c.args.data(), nullptr);
    EXPECT_EQ(line.toolkit, c.toolkit) << c.args.back();
    EXPECT_EQ(!line.toolkitProblem.empty(), c.problem) << c.args.back();
    EXPECT_TRUE(line.problems.empty()) << c.args.back();
  }
  EXPECT_NE(std::string(UsageText()).find("--toolkit=gtk2|gtk3|text"), std::string::npos);
}

}  // namespace
}  // namespace qorv
