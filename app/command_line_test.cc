#include "app/command_line.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

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

  CommandLine later = Scan({"-S", "usecwd"});
  EXPECT_FALSE(later.usecwd);
  EXPECT_TRUE(later.silent);

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

}  // namespace
}  // namespace qorv
