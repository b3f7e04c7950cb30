#include "config/config_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "base/text_convert.h"
#include "fs/file_ops.h"
#include "fs/file_util.h"
#include "fs/trusted_path.h"

namespace qorv {

namespace {

std::u16string DecodeUtf16Le(const std::string& bytes, size_t start) {
  std::u16string units;
  for (size_t i = start; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return units;
}

// A byte no character is made of, carried through as a lone low surrogate
// that Encode() turns back into the byte.
constexpr char16_t kCarriedByte = 0xDC00;

void PutCodePoint(char32_t point, std::u16string* units) {
  if (point > 0xFFFF) {
    point -= 0x10000;
    units->push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
    units->push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
  } else {
    units->push_back(static_cast<char16_t>(point));
  }
}

// The length of the well-formed UTF-8 sequence at bytes[i] and its code
// point, or 0 when there is none (as the C library judges: no overlong
// forms, no surrogates, nothing beyond U+10FFFF).
size_t Utf8SequenceAt(const std::string& bytes, size_t i, char32_t* point) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
  unsigned char lead = byte(i);
  size_t length;
  char32_t min;
  if (lead < 0x80) {
    *point = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, min = 0x80, *point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, min = 0x800, *point = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, min = 0x10000, *point = lead & 0x07;
  } else {
    return 0;
  }
  if (bytes.size() - i < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    *point = (*point << 6) | (byte(i + k) & 0x3F);
  }
  if (*point < min || *point > 0x10FFFF || (*point >= 0xD800 && *point <= 0xDFFF)) return 0;
  return length;
}

// Decodes in the locale's encoding one character at a time, so a character
// is never split and a bad byte costs only itself.
std::u16string DecodeMultiByte(const std::string& bytes, size_t start) {
  std::u16string units;
  if (LocaleIsUtf8()) {
    // Never more units than bytes; written in place, as launcher files of
    // many megabytes are read several times per run.
    units.resize(bytes.size() - start);
    char16_t* out = units.data();
    const unsigned char* in = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t i = start; i < bytes.size();) {
      if (in[i] < 0x80) {
        *out++ = in[i++];
        continue;
      }
      char32_t point = 0;
      size_t used = Utf8SequenceAt(bytes, i, &point);
      if (used == 0) {
        *out++ = static_cast<char16_t>(kCarriedByte | in[i++]);
      } else if (point > 0xFFFF) {
        point -= 0x10000;
        *out++ = static_cast<char16_t>(0xD800 + (point >> 10));
        *out++ = static_cast<char16_t>(0xDC00 + (point & 0x3FF));
        i += used;
      } else {
        *out++ = static_cast<char16_t>(point);
        i += used;
      }
    }
    units.resize(static_cast<size_t>(out - units.data()));
    return units;
  }
  std::mbstate_t state{};
  size_t i = start;
  while (i < bytes.size()) {
    wchar_t wc = 0;
    size_t used = std::mbrtowc(&wc, bytes.data() + i, bytes.size() - i, &state);
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
      units.push_back(kCarriedByte | static_cast<unsigned char>(bytes[i]));
      state = std::mbstate_t{};
      ++i;
      continue;
    }
    if (used == 0) used = 1;  // a zero byte
    PutCodePoint(static_cast<char32_t>(wc), &units);
    i += used;
  }
  return units;
}

// The bytes of `text` in the locale's encoding, the carried bytes as they
// came, every unit up to the text's length (a zero unit too).
void Encode(const WideString& text, std::string* out) {
  const size_t count = text.size();
  const bool utf8 = LocaleIsUtf8();
  std::mbstate_t state{};
  char piece[MB_LEN_MAX > 4 ? MB_LEN_MAX : 4];
  for (size_t i = 0; i < count;) {
    size_t units = 1;
    char32_t point = CodePointAt(text.c_str(), count, i, &units);
    i += units;
    if (point < 0x80 || (point >= 0xDC00 && point <= 0xDCFF)) {
      out->push_back(static_cast<char>(point & 0xFF));  // ASCII, or a carried byte
      continue;
    }
    bool surrogate = point >= 0xD800 && point <= 0xDFFF;
    if (utf8 && !surrogate) {
      out->append(piece, PutUtf8(point, piece));
      continue;
    }
    size_t n = std::wcrtomb(piece, static_cast<wchar_t>(point), &state);
    if (n == static_cast<size_t>(-1)) {
      out->push_back('?');
      state = std::mbstate_t{};
    } else {
      out->append(piece, n);
    }
  }
}

// The file a write must replace: the target of a symbolic link, followed
// through every level, else the path itself.
std::string ResolveTarget(const std::string& path) {
  std::string current = path;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st;
    std::string target;
    if (!Lstat(current, &st) || !S_ISLNK(st.st_mode) || !ReadLink(current, &target)) {
      return current;
    }
    if (target[0] == '/') {
      current = target;
    } else {
      size_t slash = current.rfind('/');
      current =
          (slash == std::string::npos ? std::string() : current.substr(0, slash + 1)) + target;
    }
  }
  return current;
}

}  // namespace

namespace {

char16_t FoldUnit(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + (u'a' - u'A')) : unit;
}

}  // namespace

std::u16string FoldCase(const WideString& text) {
  std::u16string folded(text.c_str(), text.size());
  for (char16_t& unit : folded) unit = FoldUnit(unit);
  return folded;
}

namespace {

// Up to this many values a key's values are compared one by one; beyond it
// they get a set of their folded forms. Most keys have one value.
constexpr size_t kValuesWithoutIndex = 8;

bool EqualNoCase(const WideString& a, const WideString& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldUnit(a[i]) != FoldUnit(b[i])) return false;
  }
  return true;
}

}  // namespace

void ConfigEntryList::Reindex() {
  keys_.clear();
  values_.clear();
  values_.resize(entries_.size());
  for (size_t i = 0; i < entries_.size(); ++i) {
    keys_.emplace(FoldCase(entries_[i].key), i);
    if (entries_[i].values.size() > kValuesWithoutIndex) {
      for (const WideString& value : entries_[i].values) values_[i].insert(FoldCase(value));
    }
  }
}

void ConfigEntryList::Add(const WideString& key, const WideString& value) {
  auto [it, added] = keys_.emplace(FoldCase(key), entries_.size());
  if (added) {
    entries_.push_back(ConfigEntry{key, {value}});
    values_.emplace_back();
    return;
  }
  std::vector<WideString>& values = entries_[it->second].values;
  std::unordered_set<std::u16string>& index = values_[it->second];
  if (values.size() < kValuesWithoutIndex) {
    for (const WideString& existing : values) {
      if (EqualNoCase(existing, value)) return;
    }
  } else {
    if (index.empty()) {
      for (const WideString& existing : values) index.insert(FoldCase(existing));
    }
    if (!index.insert(FoldCase(value)).second) return;
  }
  values.push_back(value);
}

const std::vector<WideString>* ConfigEntryList::Find(const WideString& key) const {
  auto it = keys_.find(FoldCase(key));
  return it == keys_.end() ? nullptr : &entries_[it->second].values;
}

void ConfigEntryList::Set(const WideString& key, const std::vector<WideString>& values) {
  auto it = keys_.find(FoldCase(key));
  if (it == keys_.end()) {
    if (!values.empty()) entries_.push_back(ConfigEntry{key, values});
  } else if (values.empty()) {
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(it->second));
  } else {
    entries_[it->second].values = values;
  }
  Reindex();
}

void ConfigEntryList::Parse(const char16_t* units, size_t count) {
  WideString key;
  WideString value;
  bool inValue = false;
  auto endLine = [&] {
    if (!key.empty() || !value.empty()) Add(key, value);
    key = WideString();
    value = WideString();
    inValue = false;
  };
  size_t runStart = 0;
  for (size_t i = 0; i < count; ++i) {
    char16_t unit = units[i];
    if (unit == u'\n') {
      (inValue ? value : key).append(units + runStart, i - runStart);
      endLine();
      runStart = i + 1;
    } else if (unit == u'=' && !inValue) {
      key.append(units + runStart, i - runStart);
      inValue = true;
      runStart = i + 1;
    }
  }
  (inValue ? value : key).append(units + runStart, count - runStart);
  endLine();
}

ConfigEntryList::ReadResult ConfigEntryList::Read(const WideString& path) {
  std::string bytes;
  bool missing = false;
  if (!ReadFileToString(Narrow(path), &bytes, &missing)) {
    return missing ? ReadResult::kMissing : ReadResult::kUnreadable;
  }
  std::u16string units;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    units = DecodeUtf16Le(bytes, 2);
  } else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    units = DecodeMultiByte(bytes, 3);
  } else {
    units = DecodeMultiByte(bytes, 0);
  }
  Parse(units.data(), units.size());
  return ReadResult::kRead;
}

void ConfigEntryList::Write(const WideString& path) const {
  std::string content;
  for (const ConfigEntry& entry : entries_) {
    std::string key;
    Encode(entry.key, &key);
    for (const WideString& value : entry.values) {
      content.append(key);
      content.push_back('=');
      Encode(value, &content);
      content.push_back('\n');
    }
  }

  const std::string file = ResolveTarget(Narrow(path));
  // Never another user's file (root run with that user's HOME).
  if (std::string foreign; !IsOwnPlace(file, &foreign)) throw ConfigWriteError(1, foreign);
  // What a stopped replacement left (the caller holds the file's lock).
  RemoveUnfinishedReplacements(file);
  switch (ReplaceFileDurably(file, content)) {
    case ReplaceResult::kDone:
      return;
    case ReplaceResult::kNotCreated:
      throw ConfigWriteError(1, file, errno);
    case ReplaceResult::kNotWritten:
      throw ConfigWriteError(2, file, errno);
  }
}

}  // namespace qorv
