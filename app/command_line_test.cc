#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/text_convert.h"

namespace qorv {
namespace {

CommandLine Scan(std::initializer_list<const char*> args, const char* locale = "C") {
  std::vector<const char*> argv{"/opt/kit/qorv-setup"};
  argv.insert(argv.end(), args);
  return ScanCommandLine(static_cast<int>(argv.size()), argv.data(), locale);
}

void ExpectLanguage(const CommandLine& line, int number, const char16_t* name) {
  EXPECT_EQ(line.languageNumber, number);
  EXPECT_TRUE(line.languageName.equals(name));
}

TEST(CommandLineTest, NoArgumentsTakesTheLocale) {
  CommandLine line = Scan({}, "de_DE.UTF-8");
  EXPECT_FALSE(line.usecwd);
  EXPECT_FALSE(line.silent);
  EXPECT_EQ(line.firstOptionIndex, 1);
  ExpectLanguage(line, 7, u"de");
}

TEST(CommandLineTest, UsecwdOnlyAsTheFirstArgument) {
  CommandLine first = Scan({"usecwd", "-S"});
  EXPECT_TRUE(first.usecwd);
  EXPECT_TRUE(first.silent);
  EXPECT_EQ(first.firstOptionIndex, 2);

  // Anywhere else it is not read; the terminal refuses it with a reason.
  CommandLine later = Scan({"-S", "usecwd"});
  EXPECT_FALSE(later.usecwd);
  EXPECT_TRUE(later.silent);
  ASSERT_EQ(later.problems.size(), 1u);
  EXPECT_EQ(later.problems[0], "usecwd counts only as the first argument");

  for (const char* word : {"USECWD", "usecwd2", "-usecwd"}) {
    EXPECT_FALSE(Scan({word}).usecwd) << word;
  }
}

TEST(CommandLineTest, SilentSpellings) {
  for (const char* option : {"-S", "/S", "-s", "/s", "-Silent"}) {
    EXPECT_TRUE(Scan({option}).silent) << option;
  }
  EXPECT_FALSE(Scan({"S"}).silent);
}

TEST(CommandLineTest, FirstLanguageOptionEndsTheScan) {
  CommandLine ruThenS = Scan({"-Lru", "-S"});
  EXPECT_FALSE(ruThenS.silent);
  ExpectLanguage(ruThenS, 1, u"ru");

  CommandLine sThenRu = Scan({"-S", "-Lru"});
  EXPECT_TRUE(sThenRu.silent);
  ExpectLanguage(sThenRu, 1, u"ru");

  CommandLine unknown = Scan({"-Lxx", "-S"}, "uk_UA.UTF-8");
  EXPECT_FALSE(unknown.silent);
  ExpectLanguage(unknown, 2, u"uk");

  ExpectLanguage(Scan({"-Lde", "-Lru"}), 7, u"de");
  ExpectLanguage(Scan({"/lde"}), 7, u"de");
  ExpectLanguage(Scan({"/Lde"}), 7, u"de");
}

TEST(CommandLineTest, UnrecognisedCodesFallBackToTheLocaleThenEnglish) {
  ExpectLanguage(Scan({"-LRU"}, "it_IT.UTF-8"), 16, u"it");
  ExpectLanguage(Scan({"-L"}, "kk_KZ.UTF-8"), 10, u"kk");
  ExpectLanguage(Scan({"-Lru_RU"}), 3, u"en");
  ExpectLanguage(Scan({}, "C"), 3, u"en");
  ExpectLanguage(Scan({}, "POSIX"), 3, u"en");
  ExpectLanguage(Scan({}, "uk"), 2, u"uk");
  ExpectLanguage(Scan({}, "u"), 3, u"en");
  ExpectLanguage(Scan({}, ""), 3, u"en");
  ExpectLanguage(Scan({}, nullptr), 3, u"en");
  // A known option code wins over the locale.
  ExpectLanguage(Scan({"-Lhy"}, "de_DE.UTF-8"), 15, u"hy");
}

TEST(CommandLineTest, OtherArgumentsAreIgnored) {
  CommandLine line = Scan({"-x", "--display", ":1", "file.txt", "/tmp/kit"}, "C.UTF-8");
  EXPECT_FALSE(line.usecwd);
  EXPECT_FALSE(line.silent);
  ExpectLanguage(line, 3, u"en");
  EXPECT_FALSE(Scan({"-", "/"}).silent);
}

TEST(CommandLineTest, TargetDirectoryIsReadWhereverItStandsAndTheLastCounts) {
  CommandLine line = Scan({"-S", "-Lru", "-D/srv/t\u043e\u0432 1"}, "C.UTF-8");
  EXPECT_TRUE(line.hasTarget);
  EXPECT_TRUE(line.target.equals(u"/srv/t\u043e\u0432 1"));
  EXPECT_TRUE(line.problems.empty());

  CommandLine twice = Scan({"/dfirst", "-Dsecond"});
  EXPECT_TRUE(twice.target.equals(u"second"));
  EXPECT_FALSE(Scan({"-S"}).hasTarget);

  // A -D without a directory is kept as given, and refused by a strict reading.
  CommandLine empty = Scan({"-D"});
  EXPECT_TRUE(empty.hasTarget);
  EXPECT_TRUE(empty.target.empty());
  ASSERT_EQ(empty.problems.size(), 1u);
  EXPECT_NE(empty.problems[0].find("-D"), std::string::npos);

  // Bytes that are not text in the locale would be read cut short (".../bad"
  // for ".../bad\xff"): refused, never taken as another directory.
  EXPECT_TRUE(line.targetProblem.empty());
  for (const char* bad : {"-D/srv/bad\xff", "-D/srv/\xc3(x", "-D/srv/a\xed\xa0\x80"}) {
    CommandLine refused = Scan({"-S", bad}, "C.UTF-8");
    EXPECT_NE(refused.targetProblem.find("not valid text"), std::string::npos) << bad;
  }
}

TEST(CommandLineTest, HelpSpellings) {
  for (const char* option : {"-h", "-H", "/h", "/?", "-?", "--help"}) {
    CommandLine line = Scan({"-Lde", option});
    EXPECT_TRUE(line.help) << option;
    EXPECT_TRUE(line.problems.empty()) << option;
  }
  for (const char* option : {"-help", "--HELP", "/home/me", "-hx"}) {
    EXPECT_FALSE(Scan({option}).help) << option;
  }
  EXPECT_NE(std::string(UsageText()).find("-D<dir>"), std::string::npos);
}

TEST(CommandLineTest, HelpSpeaksOfTheProgramByItsOwnName) {
  struct Case {
    const char* program;
    bool bundled;
    const char* says;
    const char* never;
  } cases[] = {
      {"qorv-setup", false, "Installs the templates of qorv.vkt", "kit inside"},
      {"acme-setup", true, "the kit inside this program", "qorv"},
      {"x", true, "Usage: x [usecwd]", "qorv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    const std::string text = UsageText(c.program, c.bundled);
    EXPECT_NE(text.find(c.says), std::string::npos);
    EXPECT_EQ(text.find(c.never), std::string::npos);
    // The continued usage lines stay under the program's name.
    EXPECT_NE(text.find("\n" + std::string(std::strlen(c.program) + 8, ' ') + "[--json]"),
              std::string::npos);
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
      end = text.find('\n', at);
      EXPECT_LE(end - at, 80u) << text.substr(at, end - at);
    }
  }
}

TEST(CommandLineTest, ProblemsListWhatTheWizardIgnores) {
  // The wizard's reading is unchanged: these still choose what they did.
  CommandLine late = Scan({"-Lru", "-S", "-Lde"});
  EXPECT_FALSE(late.silent);
  ExpectLanguage(late, 1, u"ru");
  ASSERT_EQ(late.problems.size(), 2u);
  EXPECT_EQ(late.problems[0], "-S after -Lru is not read: put -L<code> last");

  CommandLine unknown = Scan({"-Lxx"}, "de_DE.UTF-8");
  ExpectLanguage(unknown, 7, u"de");
  ASSERT_EQ(unknown.problems.size(), 1u);
  EXPECT_EQ(unknown.problems[0], "unknown language code in -Lxx");

  CommandLine stray = Scan({"-x", "-", "--display=:1", "--sync", "/tmp/kit", "file.txt"});
  ASSERT_EQ(stray.problems.size(), 2u);
  EXPECT_EQ(stray.problems[0], "unknown option -x");
  EXPECT_EQ(stray.problems[1], "unknown option -");

  EXPECT_TRUE(Scan({"usecwd", "-s", "-D/t", "-Lhy"}).problems.empty());
}

TEST(CommandLineTest, WaitTakesWholeSecondsAndTheLastCounts) {
  struct Case {
    std::initializer_list<const char*> args;
    int seconds;
    const char* problem;  // null: none
  };
  const Case cases[] = {
      {{}, -1, nullptr},
      {{"--wait=0"}, 0, nullptr},
      {{"-S", "--wait=30", "-Lru"}, 30, nullptr},
      {{"--wait=5", "--wait=7"}, 7, nullptr},
      {{"--wait="}, -1, "--wait=: expected a number of seconds"},
      {{"--wait=-1"}, -1, "--wait=-1: expected a number of seconds"},
      {{"--wait=1s"}, -1, "--wait=1s: expected a number of seconds"},
      {{"--wait=99999999999"}, -1, "--wait=99999999999: expected a number of seconds"},
  };
  for (const Case& c : cases) {
    CommandLine line = Scan(c.args);
    EXPECT_EQ(line.waitSeconds, c.seconds);
    if (c.problem == nullptr) {
      EXPECT_TRUE(line.problems.empty());
    } else {
      ASSERT_EQ(line.problems.size(), 1u);
      EXPECT_EQ(line.problems[0], c.problem);
    }
  }
}

// The long options for scripts and tools, each where it stands.
TEST(CommandLineTest, LongOptionsForScriptsAndTools) {
  struct Case {
    std::initializer_list<const char*> args;
    bool text, version, uninstall, dryRun, json;
  };
  const Case cases[] = {
      {{"--text", "-S"}, true, false, false, false, false},
      {{"-V"}, false, true, false, false, false},
      {{"-S", "--version"}, false, true, false, false, false},
      {{"--uninstall", "-D/t"}, false, false, true, false, false},
      {{"usecwd", "--dry-run", "--json", "-Lru"}, false, false, false, true, true},
      {{"--uninstall", "--dry-run", "--json", "--text"}, true, false, true, true, true},
  };
  for (const Case& c : cases) {
    CommandLine line = Scan(c.args);
    EXPECT_TRUE(line.problems.empty()) << *c.args.begin();
    EXPECT_EQ(line.text, c.text) << *c.args.begin();
    EXPECT_EQ(line.version, c.version) << *c.args.begin();
    EXPECT_EQ(line.uninstall, c.uninstall) << *c.args.begin();
    EXPECT_EQ(line.dryRun, c.dryRun) << *c.args.begin();
    EXPECT_EQ(line.json, c.json) << *c.args.begin();
  }
}

}  // namespace
}  // namespace qorv

namespace qorv {
namespace {

TEST(CommandLineTest, LongSpellingsAndUnknownLongOptions) {
  struct Case {
    std::vector<const char*> args;
    bool silent;
    std::string target;  // "" when none
    std::string language;
    std::string optionProblem;
    std::vector<std::string> warnings = {};
    std::vector<std::string> problems = {};
  };
  const Case cases[] = {
      {{"x", "--silent", "--target=/srv/t"}, true, "/srv/t", "en", ""},
      // A required argument either way, as GNU programs take it.
      {{"x", "--target", "/srv/t", "--silent"}, true, "/srv/t", "en", ""},
      {{"x", "--lang", "de", "-S"}, true, "", "de", ""},
      {{"x", "--lang", "xx"}, false, "", "en", "", {}, {"unknown language code in --lang=xx"}},
      {{"x", "-S", "--target"}, true, "", "en", "", {}, {"--target needs a directory"}},
      // What is no option is said, not silently dropped; a path is read as
      // the option its second byte names, and that is said too.
      {{"x", "-S", "-D/srv/t3", "/tmp/r1.vkt"},
       true,
       "/srv/t3",
       "en",
       "",
       {"reading \"/tmp/r1.vkt\" as the option /t (an option may begin with \"/\"); the target "
        "is given with -D DIR"}},
      {{"x", "-S", "srv/t5"},
       true,
       "",
       "en",
       "",
       {"ignoring argument \"srv/t5\"; the target is given with -D DIR"},
       {}},
      {{"x", "--lang=de", "--silent"}, true, "", "de", ""},
      {{"x", "-Lru", "--lang=de"}, false, "", "ru", ""},  // the first -L wins
      {{"x", "-S", "--dir=/srv/z"}, true, "", "en", "unknown option --dir=/srv/z"},
      {{"x", "--silnet", "--sillier"}, false, "", "en", "unknown option --silnet"},
      {{"x", "--display=:1", "--sync", "--name", "n", "--gtk-module=m"}, false, "", "en", ""},
      {{"x", "--displayed"}, false, "", "en", "unknown option --displayed"},
  };
  for (const Case& c : cases) {
    const CommandLine line =
        ScanCommandLine(static_cast<int>(c.args.size()), c.args.data(), nullptr);
    const std::string what = c.args[1];
    EXPECT_EQ(line.silent, c.silent) << what;
    EXPECT_EQ(line.hasTarget, !c.target.empty()) << what;
    EXPECT_EQ(std::string(toNarrow(line.target).c_str()), c.target) << what;
    EXPECT_EQ(std::string(toNarrow(line.languageName).c_str()), c.language) << what;
    EXPECT_EQ(line.optionProblem, c.optionProblem) << what;
    EXPECT_EQ(line.warnings, c.warnings) << what;
    EXPECT_EQ(line.problems, c.problems) << what;
  }
}

}  // namespace
}  // namespace qorv
