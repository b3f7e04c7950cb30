#include "res/string_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/text_convert.h"

namespace qorv {
namespace {

const char* const kAllKeys[] = {
    "IDS_WIZARD_BACK",         "IDS_WIZARD_NEXT",
    "IDS_WIZARD_FINISH",       "IDS_WIZARD_CANCEL",
    "IDS_ACCEPT_CANCEL",       "IDS_TITLE_INSTALLER",
    "IDS_PREPARECOPY",         "IDS_INSTALL_ERROR",
    "IDS_ERROR_NOSOURCE",      "IDS_ERROR_NOTARGET",
    "IDS_ERROR_NOSPACE",       "IDS_CHOOSEDIR_FOLDER",
    "IDS_CHOOSEDIR_TITLE",     "IDR_MAINFRAME",
    "IDS_SETUP_EMPTYTARGET",   "IDS_INSTALL_FINISH",
    "IDS_ERROR_DAMAGEDSOURCE", "IDS_DEFPRODUCT",
    "IDS_DEFPROVIDER",         "IDS_SUCCESS_FINISH",
    "IDS_SUCCESS_OPENDESCR",   "IDS_PROGRESS_START",
    "IDS_ERROR_FINISH",        "IDS_CANCEL_FINISH",
    "IDS_BROWSE_SELDIR",       "IDS_BROWSE_OK",
    "IDS_BROWSE_CANCEL",       "IDS_WELCOME_TITLE",
    "IDS_SETUP_EXISTEDTARGET", "IDS_DESTINATION_PROMPT",
    "IDS_TEMPLATE_CATALOG",    "IDS_ROLLBACK_INCOMPLETE",
    "IDS_WAITING_FOR_TARGET",  "IDS_TARGET_BUSY",
    "IDS_NO_TERMINAL",         "IDS_LOCATION_NOT_RECORDED",
    "IDS_RECOVERY_INCOMPLETE", "IDS_ANSWER_YES_NO",
    "IDS_YES_LETTERS",         "IDS_ERROR_UNTRUSTED",
    "IDS_KIT_UNCHECKED",       "IDS_KIT_SIGNED",
    "IDS_NOTHING_TO_DO",       "IDS_KEPT_CHANGED",
    "IDS_UNINSTALL_CONFIRM",   "IDS_UNINSTALL_FINISH",
    "IDS_NOTHING_INSTALLED",   "IDS_UNINSTALL_ERROR",
    "IDS_UNINSTALL_TITLE",     "IDS_CAUSE_MAKE_DIRECTORY",
    "IDS_CAUSE_WRITE",         "IDS_CAUSE_BACKUP",
    "IDS_CAUSE_JOURNAL",       "IDS_CAUSE_FLUSH",
    "IDS_CAUSE_MANIFEST",      "IDS_CAUSE_NO_SPACE",
    "IDS_CAUSE_KIT",           "IDS_CAUSE_NO_KIT",
    "IDS_SPACE_FIGURES",       "IDS_LOG_AT",
    "IDS_CAUSE_LAUNCHER",      "IDS_BUTTON_YES",
    "IDS_BUTTON_NO",
};

// Looks a key up in one language, in UTF-8 as the toolkit receives it.
NarrowString TextIn(int language, const char* key) {
  SetCurrentLanguage(language);
  return toNarrow(LookupText(key));
}

class StringTableTest : public ::testing::Test {
 protected:
  void TearDown() override { SetCurrentLanguage(0); }
};

TEST_F(StringTableTest, SixteenLanguagesWithTheirNumbers) {
  const char* const codes[] = {"ru", "uk", "en", "lv", "lt", "bg", "de", "ro",
                               "ka", "kk", "vi", "tr", "el", "es", "hy", "it"};
  std::vector<int> numbers = LanguageNumbers();
  ASSERT_EQ(numbers.size(), 16u);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(numbers[i], i + 1);
    EXPECT_TRUE(LanguageCode(i + 1).equals(codes[i])) << i + 1;
    EXPECT_EQ(LanguageNumberOf(NarrowString(codes[i])), i + 1) << codes[i];
  }
  EXPECT_EQ(LanguageNumberOf(NarrowString("en")), 3);
  EXPECT_EQ(LanguageNumberOf(NarrowString("de")), 7);
  EXPECT_EQ(LanguageNumberOf(NarrowString("ro")), 8);
  EXPECT_EQ(LanguageNumberOf(NarrowString("it")), 16);
  for (const char* bad : {"EN", "e", "eng", "", "en_US", "De"}) {
    EXPECT_EQ(LanguageNumberOf(NarrowString(bad)), 0) << bad;
  }
}

TEST_F(StringTableTest, EveryLanguageHasExactlyEveryKey) {
  std::vector<NarrowString> expected;
  for (const char* key : kAllKeys) expected.emplace_back(key);
  std::sort(expected.begin(), expected.end());
  for (int language : LanguageNumbers()) {
    EXPECT_EQ(KeysOf(language), expected) << language;
    for (const char* key : kAllKeys) {
      EXPECT_FALSE(TextIn(language, key).empty()) << language << " " << key;
    }
  }
}

TEST_F(StringTableTest, SharedTextsAndTheKitNameInEveryLanguage) {
  for (int language : LanguageNumbers()) {
    EXPECT_TRUE(TextIn(language, "IDR_MAINFRAME") == TextIn(language, "IDS_TITLE_INSTALLER"));
    EXPECT_TRUE(TextIn(language, "IDS_BROWSE_CANCEL") == TextIn(language, "IDS_WIZARD_CANCEL"));
    for (const char* key : {"IDS_ERROR_NOSOURCE", "IDS_ERROR_DAMAGEDSOURCE", "IDS_ERROR_UNTRUSTED",
                            "IDS_KIT_UNCHECKED"}) {
      std::string text(TextIn(language, key).c_str());
      EXPECT_NE(text.find("qorv.vkt"), std::string::npos) << language << " " << key;
    }
    // The answer the prompt offers as yes is one the terminal takes, and
    // the option a user types in every language stays valid.
    WideString promptText = toWide(TextIn(language, "IDS_ANSWER_YES_NO"));
    WideString yesText = toWide(TextIn(language, "IDS_YES_LETTERS"));
    std::u16string_view prompt(promptText.c_str(), promptText.size());
    std::u16string_view yes(yesText.c_str(), yesText.size());
    ASSERT_GE(prompt.size(), 5u) << language;
    EXPECT_TRUE(prompt[0] == u'[' && prompt[2] == u'/' && prompt.back() == u']') << language;
    EXPECT_NE(yes.find(prompt[1]), yes.npos) << language;
    EXPECT_NE(yes.find(u'y'), yes.npos) << language;
    EXPECT_EQ(yes.find(prompt[3]), yes.npos) << language;
    EXPECT_NE(std::string(TextIn(language, "IDS_NO_TERMINAL").c_str()).find("-S"),
              std::string::npos)
        << language;
  }
}

TEST_F(StringTableTest, SpotChecksByteForByte) {
  EXPECT_TRUE(TextIn(3, "IDS_ERROR_NOSOURCE").equals("Distribution kit file qorv.vkt not found."));
  EXPECT_TRUE(TextIn(3, "IDR_MAINFRAME").equals("Installing configuration"));
  EXPECT_TRUE(TextIn(3, "IDS_WIZARD_NEXT").equals("Next >"));
  EXPECT_TRUE(TextIn(2, "IDS_WIZARD_FINISH").equals("ОК"));
  EXPECT_TRUE(TextIn(16, "IDS_WIZARD_NEXT").equals("Avanti>"));
  EXPECT_TRUE(TextIn(9, "IDS_WIZARD_NEXT").equals("შემდეგ>"));
  EXPECT_TRUE(TextIn(7, "IDS_WIZARD_BACK").equals("< Zurück"));
  EXPECT_TRUE(TextIn(8, "IDS_WIZARD_CANCEL").equals("Revocare"));
  EXPECT_TRUE(TextIn(3, "IDS_CHOOSEDIR_FOLDER").equals("&Folder:"));
  EXPECT_TRUE(TextIn(3, "IDS_CANCEL_FINISH")
                  .equals("Installation canceled. Template directory has not been changed."));
  EXPECT_TRUE(
      TextIn(1, "IDS_CANCEL_FINISH").equals("Установка отменена. Каталог шаблонов не изменен."));
  EXPECT_TRUE(
      TextIn(10, "IDS_ERROR_NOSOURCE").equals(" qorv.vkt орнату файлы жинағы табылған жоқ."));
  EXPECT_TRUE(
      TextIn(10, "IDS_ERROR_DAMAGEDSOURCE")
          .equals(" qorv.vkt орнату файлы бүлінген немесе орнатудың осы программасы арналмаған."));

  SetCurrentLanguage(1);
  WideString back = LookupText("IDS_WIZARD_BACK");
  EXPECT_EQ(back.size(), 7u);
  EXPECT_TRUE(back.equals(u"< Назад"));
}

TEST_F(StringTableTest, EmptyWithoutLanguageOrKey) {
  SetCurrentLanguage(0);
  EXPECT_TRUE(LookupText("IDS_WIZARD_NEXT").empty());
  SetCurrentLanguage(17);
  EXPECT_TRUE(LookupText("IDS_WIZARD_NEXT").empty());
  for (int language : LanguageNumbers()) {
    SetCurrentLanguage(language);
    EXPECT_TRUE(LookupText(NarrowString("ids_wizard_next")).empty());
    EXPECT_TRUE(LookupText(NarrowString("IDS_WIZARD_NEXT ")).empty());
    EXPECT_TRUE(LookupText(NarrowString()).empty());
  }
}

}  // namespace
}  // namespace qorv
