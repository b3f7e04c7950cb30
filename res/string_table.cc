#include "res/string_table.h"

#include <atomic>
#include <map>

#include "base/text_convert.h"
#include "res/language_texts.h"

namespace qorv {

namespace {

struct Language {
  NarrowString code;
  std::map<NarrowString, NarrowString> texts;
};

std::map<int, Language> BuildTable() {
  // The order in which the languages are entered does not decide their
  // numbers: each language carries its own.
  static const res::LanguageTexts* const kSources[] = {
      &res::kTexts_ru, &res::kTexts_uk, &res::kTexts_en, &res::kTexts_lv,
      &res::kTexts_lt, &res::kTexts_ro, &res::kTexts_de, &res::kTexts_bg,
      &res::kTexts_ka, &res::kTexts_kk, &res::kTexts_vi, &res::kTexts_tr,
      &res::kTexts_el, &res::kTexts_es, &res::kTexts_hy, &res::kTexts_it,
  };
  std::map<int, Language> table;
  for (const res::LanguageTexts* source : kSources) {
    Language language;
    language.code = source->code;
    for (const res::TextEntry& entry : source->texts) {
      language.texts.emplace(NarrowString(entry.key), NarrowString(entry.text));
    }
    table.emplace(source->number, std::move(language));
  }
  return table;
}

// Built during static initialisation, before main(); the language sources
// are constant-initialised, so they are ready by then.
const std::map<int, Language> kTable = BuildTable();

std::atomic<int> gCurrentLanguage{0};

}  // namespace

int LanguageNumberOf(const NarrowString& code) {
  for (const auto& [number, language] : kTable) {
    if (language.code == code) return number;
  }
  return 0;
}

void SetCurrentLanguage(int number) { gCurrentLanguage.store(number, std::memory_order_release); }

int CurrentLanguage() { return gCurrentLanguage.load(std::memory_order_acquire); }

WideString LookupText(const NarrowString& key) {
  auto language = kTable.find(CurrentLanguage());
  if (language == kTable.end()) return WideString();
  auto text = language->second.texts.find(key);
  if (text == language->second.texts.end()) return WideString();
  return toWide(text->second);
}

WideString LookupText(const char* key) { return LookupText(NarrowString(key)); }

std::vector<int> LanguageNumbers() {
  std::vector<int> numbers;
  for (const auto& entry : kTable) numbers.push_back(entry.first);
  return numbers;
}

NarrowString LanguageCode(int number) {
  auto language = kTable.find(number);
  return language == kTable.end() ? NarrowString() : language->second.code;
}

std::vector<NarrowString> KeysOf(int number) {
  std::vector<NarrowString> keys;
  auto language = kTable.find(number);
  if (language == kTable.end()) return keys;
  for (const auto& entry : language->second.texts) keys.push_back(entry.first);
  return keys;
}

}  // namespace qorv
