#include "testing/kit_builder.h"

#include <stdexcept>

#include "kit/kit_format.h"
#include "kit/kit_trailer.h"
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
  // The writer's own encoding, without its checks, so tests can make
  // hostile kits.
  std::string head = EncodeKitHead(content);
  return head + data;
}

void TestKit::WriteTo(const std::string& path) const {
  if (!trailer) {
    WriteFile(path, DeflateRaw(Unpacked()));
    return;
  }
  uint64_t entryBytes = 0;
  for (const TestEntry& entry : entries) entryBytes += entry.content.size();
  WriteWithTrailer(path, Unpacked(), entryBytes);
}

size_t EntryOffsetField(const std::string& unpacked, const std::u16string& name) {
  std::string units;
  for (char16_t c : name) {
    units.push_back(static_cast<char>(c & 0xFF));
    units.push_back(static_cast<char>(c >> 8));
  }
  // The name's units, then the time's two words.
  return unpacked.find(units) + units.size() + 8;
}

void WriteWithTrailer(const std::string& path, const std::string& unpacked, uint64_t entryBytes) {
  std::string stream = DeflateRaw(unpacked);
  KitTrailer trailer;
  trailer.unpackedSize = unpacked.size();
  trailer.entryBytes = entryBytes;
  trailer.digest = Sha256Of(stream.data(), stream.size());
  WriteFile(path, stream + EncodeTrailer(trailer));
}

KitDescription Description(const char16_t* language, const char16_t* product,
                           const char16_t* provider, const char16_t* path) {
  return KitDescription{WideString(language), WideString(product), WideString(provider),
                        WideString(path)};
}

void PutU32(std::string* out, uint32_t value) { kit_format::PutU32(out, value); }

void SetU32(std::string* bytes, size_t at, uint32_t value) {
  if (at + 4 > bytes->size()) throw std::out_of_range("SetU32");
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void PutText(std::string* out, const std::u16string& text) {
  kit_format::PutText(out, WideString(text.data(), text.size()));
}

}  // namespace qorv::testing
