#include "kit/kit_head.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/text_convert.h"
#include "fs/error_codes.h"
#include "kit/kit_format.h"
#include "kit/kit_names.h"

namespace qorv {

namespace {

using kit_format::GetU32;
using kit_format::kMaxEntries;
using kit_format::kMaxEntryStart;
using kit_format::kMaxHeadBytes;
using kit_format::kMinDescriptionRecord;
using kit_format::kMinEntryRecord;

WideString TextOf(const unsigned char* p, uint32_t count) {
  WideString text;
  text.resize(count, u'\0');
  char16_t* out = count == 0 ? nullptr : text.MutableData();
  for (uint32_t i = 0; i < count; ++i) {
    out[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
  }
  return text;
}

// A name as vkt list and the installer's other lines show it: "/" between
// its components.
std::string Quote(const WideString& text) {
  std::string shown = Narrow(text);
  for (char& c : shown) {
    if (c == '\\') c = '/';
  }
  return "\"" + shown + "\"";
}

// Reads the head record by record, checking every count and size against
// what is left of the unpacked kit before reading or allocating anything.
class HeadParser {
 public:
  HeadParser(KitHead* head, uint64_t size, bool strict, const HeadSource& source,
             std::string* problem)
      : head_(head), size_(size), strict_(strict), source_(source), problem_(problem) {}
  uint32_t Run();

 private:
  uint32_t Damaged(std::string problem) {
    if (problem_->empty()) *problem_ = std::move(problem);
    return kErrorInvalidData;
  }
  uint64_t Left() const { return size_ - position_; }
  // Reads `count` bytes of the head through a small buffer: a head of ten
  // thousand entries then costs a few dozen calls, not twenty thousand.
  uint32_t Read(void* out, uint32_t count, const std::string& what) {
    if (count > Left()) return Damaged("the kit ends inside " + what);
    if (position_ + count > kMaxHeadBytes) {
      return Damaged("its head is larger than " + std::to_string(kMaxHeadBytes >> 20) +
                     " MiB, the most a kit may have");
    }
    char* dest = static_cast<char*>(out);
    uint32_t need = count;
    while (need > 0) {
      if (bufferPos_ == bufferEnd_) {
        size_t got = 0;
        uint32_t code = source_(buffer_, sizeof(buffer_), &got);
        if (code != 0) return code;
        if (got == 0) return Damaged("the kit ends inside " + what);
        bufferPos_ = 0;
        bufferEnd_ = got;
      }
      size_t take = std::min<size_t>(need, bufferEnd_ - bufferPos_);
      std::memcpy(dest, buffer_ + bufferPos_, take);
      bufferPos_ += take;
      dest += take;
      need -= static_cast<uint32_t>(take);
    }
    position_ += count;
    return kErrorNone;
  }
  uint32_t ReadU32(uint32_t* value, const std::string& what) {
    unsigned char bytes[4];
    uint32_t code = Read(bytes, 4, what);
    if (code == 0) *value = GetU32(bytes);
    return code;
  }
  // A text inside a record block: count, then the units.
  uint32_t TakeText(const std::vector<unsigned char>& block, size_t* at, WideString* text,
                    const std::string& what) {
    if (block.size() - *at < 4) return Damaged(what + " runs past its record");
    int32_t count = static_cast<int32_t>(GetU32(block.data() + *at));
    *at += 4;
    if (count < 0) return Damaged(what + " has a negative length");
    if (static_cast<uint64_t>(count) * 2 > block.size() - *at) {
      return Damaged(what + " runs past its record");
    }
    *text = TextOf(block.data() + *at, static_cast<uint32_t>(count));
    *at += static_cast<size_t>(count) * 2;
    return kErrorNone;
  }
  // A text read straight from the file (the head without language table).
  uint32_t ReadText(WideString* text, const std::string& what) {
    uint32_t raw = 0;
    uint32_t code = ReadU32(&raw, what);
    if (code != 0) return code;
    int32_t count = static_cast<int32_t>(raw);
    if (count < 0) return Damaged(what + " has a negative length");
    if (static_cast<uint64_t>(count) * 2 > Left()) return Damaged("the kit ends inside " + what);
    std::vector<unsigned char> units;
    code = ReadBlock(&units, static_cast<uint32_t>(count) * 2, what);
    if (code == 0) *text = TextOf(units.data(), static_cast<uint32_t>(count));
    return code;
  }
  // `size` bytes, taken as they arrive: the size is the kit's word, and the
  // kit may end long before it.
  uint32_t ReadBlock(std::vector<unsigned char>* block, uint32_t size, const std::string& what) {
    constexpr size_t kStep = 1 << 16;
    block->clear();
    while (block->size() < size) {
      const size_t at = block->size();
      const size_t step = std::min<size_t>(size - at, kStep);
      block->resize(at + step);
      uint32_t code = Read(block->data() + at, static_cast<uint32_t>(step), what);
      if (code != 0) return code;
    }
    return kErrorNone;
  }
  uint32_t ReadRecord(std::vector<unsigned char>* block, uint32_t minimum,
                      const std::string& what) {
    uint32_t recordSize = 0;
    uint32_t code = ReadU32(&recordSize, what);
    if (code != 0) return code;
    if (recordSize < minimum) return Damaged(what + " is shorter than its fields");
    if (recordSize - 4 > Left()) return Damaged(what + " runs past the end of the kit");
    return ReadBlock(block, recordSize - 4, what);
  }
  uint32_t ReadDescriptions();
  uint32_t ReadEntries();

  KitHead* head_;
  uint64_t size_;
  uint64_t position_ = 0;
  bool strict_;
  const HeadSource& source_;
  std::string* problem_;
  char buffer_[65536];
  size_t bufferPos_ = 0;
  size_t bufferEnd_ = 0;
};

uint32_t HeadParser::ReadDescriptions() {
  uint32_t flag = 0;
  uint32_t code = ReadU32(&flag, "the language table flag");
  if (code != 0) return code;
  if (flag == 0) {
    KitDescription description;
    description.language = u"en";
    if ((code = ReadText(&description.product, "the product name")) != 0 ||
        (code = ReadText(&description.provider, "the provider name")) != 0 ||
        (code = ReadText(&description.descriptionPath, "the description path")) != 0) {
      return code;
    }
    if (!description.descriptionPath.empty() && !IsSafeEntryName(description.descriptionPath)) {
      description.descriptionPath = WideString();
    }
    head_->descriptions.push_back(std::move(description));
    return kErrorNone;
  }
  uint32_t count = 0;
  if ((code = ReadU32(&count, "the description count")) != 0) return code;
  if (count > Left() / kMinDescriptionRecord) {
    return Damaged("the description count is larger than the kit");
  }
  std::vector<unsigned char> block;
  for (uint32_t i = 0; i < count; ++i) {
    std::string what = "description " + std::to_string(i + 1);
    if ((code = ReadRecord(&block, kMinDescriptionRecord, what)) != 0) return code;
    KitDescription description;
    size_t at = 0;
    if ((code = TakeText(block, &at, &description.language, what + ": the language")) != 0 ||
        (code = TakeText(block, &at, &description.product, what + ": the product name")) != 0 ||
        (code = TakeText(block, &at, &description.provider, what + ": the provider name")) != 0 ||
        (code = TakeText(block, &at, &description.descriptionPath,
                         what + ": the description path")) != 0) {
      return code;
    }
    if (strict_ && at != block.size()) {
      return Damaged(what + ": the record is longer than its fields");
    }
    if (!description.descriptionPath.empty() && !IsSafeEntryName(description.descriptionPath)) {
      if (strict_) {
        return Damaged(what + ": the description path " + Quote(description.descriptionPath) + " " +
                       UnsafeNameReason(description.descriptionPath));
      }
      description.descriptionPath = WideString();
    }
    head_->descriptions.push_back(std::move(description));
  }
  return kErrorNone;
}

uint32_t HeadParser::ReadEntries() {
  uint32_t count = 0;
  uint32_t code = ReadU32(&count, "the entry count");
  if (code != 0) return code;
  if (count > Left() / kMinEntryRecord) return Damaged("the entry count is larger than the kit");
  if (count > kMaxEntries) {
    return Damaged("it lists " + std::to_string(count) + " files, more than the " +
                   std::to_string(kMaxEntries) + " a kit may hold");
  }
  std::vector<unsigned char> block;
  std::vector<KitEntry>& entries = head_->entries;
  for (uint32_t i = 0; i < count; ++i) {
    std::string what = "entry " + std::to_string(i + 1);
    if ((code = ReadRecord(&block, kMinEntryRecord, what)) != 0) return code;
    KitEntry entry;
    size_t at = 0;
    if ((code = TakeText(block, &at, &entry.name, what + ": the name")) != 0) return code;
    if (block.size() - at < 16) return Damaged(what + ": the record is shorter than its fields");
    entry.time.low = GetU32(block.data() + at);
    entry.time.high = GetU32(block.data() + at + 4);
    entry.offset = GetU32(block.data() + at + 8);
    entry.size = GetU32(block.data() + at + 12);
    if (strict_ && at + 16 != block.size()) {
      return Damaged(what + ": the record is longer than its fields");
    }
    if (const char* reason = UnsafeNameReason(entry.name)) {
      return Damaged(what + ": the name " + Quote(entry.name) + " " + reason);
    }
    entries.push_back(std::move(entry));
  }
  // Offsets count from the data area, which starts right after the table.
  const uint64_t dataStart = position_;
  for (size_t i = 0; i < entries.size(); ++i) {
    uint64_t start = dataStart + entries[i].offset;
    if (start + entries[i].size > size_) {
      return Damaged("entry " + std::to_string(i + 1) + " (" + Quote(entries[i].name) +
                     ") reaches past the end of the kit");
    }
    if (start >= kMaxEntryStart) {
      return Damaged("entry " + std::to_string(i + 1) + " starts beyond 2 GiB");
    }
    entries[i].offset = static_cast<uint32_t>(start);
  }
  return kErrorNone;
}

uint32_t HeadParser::Run() {
  uint32_t code = ReadDescriptions();
  if (code == 0) code = ReadEntries();
  head_->dataStart = position_;
  return code;
}

}  // namespace

uint32_t ReadKitHead(uint64_t size, bool strict, const HeadSource& source, KitHead* head,
                     std::string* problem) {
  return HeadParser(head, size, strict, source, problem).Run();
}

uint32_t ParseKitHead(const void* bytes, size_t size, bool strict, KitHead* head,
                      std::string* problem) {
  const char* data = static_cast<const char*>(bytes);
  size_t at = 0;
  HeadSource source = [data, size, &at](char* buffer, size_t room, size_t* got) {
    *got = std::min(room, size - at);
    if (*got != 0) std::memcpy(buffer, data + at, *got);
    at += *got;
    return kErrorNone;
  };
  return ReadKitHead(size, strict, source, head, problem);
}

}  // namespace qorv
