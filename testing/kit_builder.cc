#include "testing/kit_builder.h"

#include <stdexcept>

#include "testing/scratch_dir.h"

namespace qorv::testing {

std::string TestKit::Unpacked() const {
  KitContent content;
  content.languageTable = languageTable;
  content.descriptions = descriptions;
  std::string data;
  for (const TestEntry& entry : entries) {
    KitSourceFile file;
    file.name = WideString(entry.name.data(), entry.name.size());
    file.size = entry.content.size();
    file.time = FileTime::FromTicks(entry.ticks);
    file.diskPath = "<memory>";
    content.files.push_back(file);
    data += entry.content;
  }
  // Built without the name checks, so tests can make hostile kits.
  std::string head;
  if (!languageTable) {
    KitDescription none;
    const KitDescription& d = descriptions.empty() ? none : descriptions[0];
    PutU32(&head, 0);
    PutText(&head, std::u16string(d.product.c_str(), d.product.size()));
    PutText(&head, std::u16string(d.provider.c_str(), d.provider.size()));
    PutText(&head, std::u16string(d.descriptionPath.c_str(), d.descriptionPath.size()));
  } else {
    PutU32(&head, 1);
    PutU32(&head, static_cast<uint32_t>(descriptions.size()));
    for (const KitDescription& d : descriptions) {
      std::string record;
      PutText(&record, std::u16string(d.language.c_str(), d.language.size()));
      PutText(&record, std::u16string(d.product.c_str(), d.product.size()));
      PutText(&record, std::u16string(d.provider.c_str(), d.provider.size()));
      PutText(&record, std::u16string(d.descriptionPath.c_str(), d.descriptionPath.size()));
      PutU32(&head, static_cast<uint32_t>(record.size() + 4));
      head += record;
    }
  }
  PutU32(&head, static_cast<uint32_t>(entries.size()));
  uint32_t offset = 0;
  for (const TestEntry& entry : entries) {
    PutU32(&head, static_cast<uint32_t>(24 + 2 * entry.name.size()));
    PutText(&head, entry.name);
    PutU32(&head, static_cast<uint32_t>(entry.ticks));
    PutU32(&head, static_cast<uint32_t>(entry.ticks >> 32));
    PutU32(&head, offset);
    PutU32(&head, static_cast<uint32_t>(entry.content.size()));
    offset += static_cast<uint32_t>(entry.content.size());
  }
  return head + data;
}

void TestKit::WriteTo(const std::string& path) const { WriteFile(path, DeflateRaw(Unpacked())); }

KitDescription Description(const char16_t* language, const char16_t* product,
                           const char16_t* provider, const char16_t* path) {
  return KitDescription{WideString(language), WideString(product), WideString(provider),
                        WideString(path)};
}

void PutU32(std::string* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void SetU32(std::string* bytes, size_t at, uint32_t value) {
  if (at + 4 > bytes->size()) throw std::out_of_range("SetU32");
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void PutText(std::string* out, const std::u16string& text) {
  PutU32(out, static_cast<uint32_t>(text.size()));
  for (char16_t unit : text) {
    out->push_back(static_cast<char>(unit & 0xFF));
    out->push_back(static_cast<char>(unit >> 8));
  }
}

}  // namespace qorv::testing
