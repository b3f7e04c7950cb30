#include "vkt/descriptions_file.h"

#include <algorithm>
#include <map>

#include "base/text_convert.h"

namespace qorv::vkt {

namespace {

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Whether `text` is text in the locale (UTF-8 for the kit tool): it
// survives the way to the kit's UTF-16 and back.
bool IsText(const std::string& text) {
  return text.find('\0') == std::string::npos && toNarrow(Wide(text)) == NarrowString(text.c_str());
}

}  // namespace

bool ParseDescriptionsFile(const std::string& text, std::vector<KitDescription>* out,
                           std::string* error) {
  struct Section {
    size_t line;
    KitDescription description;
    std::map<std::string, size_t> keys;  // name, line
  };
  std::map<std::string, Section> sections;  // by language: sorted
  Section* current = nullptr;
  size_t number = 0;
  auto fail = [&](const std::string& what) {
    *error = "line " + std::to_string(number) + ": " + what;
    return false;
  };
  size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;  // a byte order mark
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!IsText(line)) return fail("not UTF-8");
    line = Trimmed(line);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return fail("a section is [LANGUAGE], e.g. [en]");
      const std::string language = Trimmed(line.substr(1, line.size() - 2));
      if (language.empty() || language.find_first_of(" \t[]=") != std::string::npos) {
        return fail("a section is [LANGUAGE], e.g. [en]");
      }
      std::string key = language;
      std::transform(key.begin(), key.end(), key.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      auto [it, added] = sections.try_emplace(key, Section{number, KitDescription{}, {}});
      if (!added) {
        return fail("[" + language + "] again; it starts at line " +
                    std::to_string(it->second.line));
      }
      it->second.description.language = Wide(language);
      current = &it->second;
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string::npos) return fail("expected NAME = VALUE or [LANGUAGE]");
    const std::string name = Trimmed(line.substr(0, equals));
    const std::string value = Trimmed(line.substr(equals + 1));
    if (current == nullptr) return fail(name + " comes before the first [LANGUAGE]");
    KitDescription& d = current->description;
    if (name == "product") {
      d.product = Wide(value);
    } else if (name == "provider") {
      d.provider = Wide(value);
    } else if (name == "document") {
      d.descriptionPath = Wide(value);
      replaceAll(d.descriptionPath, WideString(u"/"), WideString(u"\\"));
    } else {
      return fail("unknown name \"" + name + "\" (product, provider or document)");
    }
    if (auto [it, added] = current->keys.try_emplace(name, number); !added) {
      return fail(name + " again in this section; it is given at line " +
                  std::to_string(it->second));
    }
  }
  if (sections.empty()) {
    number = std::max<size_t>(number, 1);
    *error = "no [LANGUAGE] section";
    return false;
  }
  out->clear();
  for (auto& [language, section] : sections) out->push_back(std::move(section.description));
  return true;
}

}  // namespace qorv::vkt
