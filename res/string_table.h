// The table of user-interface texts: sixteen languages, each with a text for
// every IDS_ key. It is built from constant data before main() runs and is
// read-only afterwards, so any thread may look texts up. The current language
// is set once at start-up, before the copy thread exists.
#ifndef QORV_RES_STRING_TABLE_H_
#define QORV_RES_STRING_TABLE_H_

#include <vector>

#include "base/text_string.h"

namespace qorv {

// The number (1..16) of the language whose code is exactly `code` ("en" is
// 3), or 0. Case and length count: "EN", "e" and "en_US" give 0.
int LanguageNumberOf(const NarrowString& code);

// Makes `number` the language of every later LookupText. A number with no
// language (0, 17, ...) makes every lookup empty.
void SetCurrentLanguage(int number);
int CurrentLanguage();

// The text of `key` in the current language, decoded under the process
// locale; empty when no language is current or the key is unknown. There is
// no fallback to another language.
WideString LookupText(const NarrowString& key);
// The same for a key written in the code ("IDS_...").
WideString LookupText(const char* key);

// The numbers of all languages, ascending, and what each holds; for tools and
// tests that walk the whole table.
std::vector<int> LanguageNumbers();
NarrowString LanguageCode(int number);
std::vector<NarrowString> KeysOf(int number);

}  // namespace qorv

#endif  // QORV_RES_STRING_TABLE_H_
