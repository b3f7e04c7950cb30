// The user-interface texts of one language as constant data, compiled at
// build time from the gettext catalogs in res/po/ (see res/po_table.cc), so
// that translators work in the tools they know. The string table is built
// from these at start-up; nothing else reads them.
#ifndef QORV_RES_LANGUAGE_TEXTS_H_
#define QORV_RES_LANGUAGE_TEXTS_H_

#include <array>
#include <cstddef>

namespace qorv::res {

// Every language has a text for each of the installer's keys.
inline constexpr size_t kTextCount = 63;

struct TextEntry {
  const char* key;
  const char* text;  // UTF-8
};

struct LanguageTexts {
  int number;
  const char* code;
  std::array<TextEntry, kTextCount> texts;
};

extern const LanguageTexts kTexts_ru;
extern const LanguageTexts kTexts_uk;
extern const LanguageTexts kTexts_en;
extern const LanguageTexts kTexts_lv;
extern const LanguageTexts kTexts_lt;
extern const LanguageTexts kTexts_bg;
extern const LanguageTexts kTexts_de;
extern const LanguageTexts kTexts_ro;
extern const LanguageTexts kTexts_ka;
extern const LanguageTexts kTexts_kk;
extern const LanguageTexts kTexts_vi;
extern const LanguageTexts kTexts_tr;
extern const LanguageTexts kTexts_el;
extern const LanguageTexts kTexts_es;
extern const LanguageTexts kTexts_hy;
extern const LanguageTexts kTexts_it;

}  // namespace qorv::res

#endif  // QORV_RES_LANGUAGE_TEXTS_H_
