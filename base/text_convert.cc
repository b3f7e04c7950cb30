#include "base/text_convert.h"

#include <langinfo.h>
#include <strings.h>

#include <climits>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

namespace qorv {

namespace {

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

bool IsPlainC(const char* name) {
  return name == nullptr || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0;
}

}  // namespace

char32_t CodePointAt(const char16_t* source, size_t length, size_t i, size_t* units) {
  char16_t unit = source[i];
  if (IsHighSurrogate(unit) && i + 1 < length && IsLowSurrogate(source[i + 1])) {
    *units = 2;
    return 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
           (static_cast<char32_t>(source[i + 1]) - 0xDC00);
  }
  *units = 1;
  return unit;
}

char* PutUtf8(char32_t point, char* out) {
  if (point < 0x80) {
    *out++ = static_cast<char>(point);
  } else if (point < 0x800) {
    *out++ = static_cast<char>(0xC0 | (point >> 6));
    *out++ = static_cast<char>(0x80 | (point & 0x3F));
  } else if (point < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (point >> 12));
    *out++ = static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (point & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (point >> 18));
    *out++ = static_cast<char>(0x80 | ((point >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (point & 0x3F));
  }
  return out;
}

const char* SelectEnvironmentLocale() {
  static std::string chosen;
  const char* name = std::setlocale(LC_ALL, "");
  if (name != nullptr) chosen = name;
  // The plain C locale knows only ASCII: under it (cron, systemd units, many
  // ssh sessions) a Cyrillic name would be refused and a Russian text
  // printed blank. As other runtimes do, take UTF-8 for the character type
  // then, and only then; the messages' locale, and so the language chosen
  // from it, stays what the environment says.
  if (IsPlainC(std::setlocale(LC_CTYPE, nullptr))) std::setlocale(LC_CTYPE, "C.UTF-8");
  return name == nullptr ? nullptr : chosen.c_str();
}

// Both primitives walk the text one character at a time with their own
// conversion state (mbrtowc/wcrtomb) rather than asking mbstowcs/wcstombs for
// the whole text: those answer (size_t)-1 for a text holding one bad
// character, and that must never become a length.

size_t MultiByteToUtf16(const char* source, char16_t* out, long limit) {
  std::mbstate_t state{};
  size_t remaining = std::strlen(source);
  size_t count = 0;
  auto put = [&](char16_t unit) {
    if (limit > 0 && count < static_cast<size_t>(limit)) out[count] = unit;
    ++count;
  };
  while (remaining != 0) {
    wchar_t wc = 0;
    size_t used = std::mbrtowc(&wc, source, remaining, &state);
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2) || used == 0) break;
    uint32_t point = static_cast<uint32_t>(wc);
    if (point > 0xFFFF && point <= 0x10FFFF) {
      point -= 0x10000;
      put(static_cast<char16_t>(0xD800 + (point >> 10)));
      put(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
    } else {
      put(static_cast<char16_t>(point & 0xFFFFu));
    }
    source += used;
    remaining -= used;
  }
  return count;
}

bool LocaleIsUtf8() { return std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0; }

namespace {

// What wcrtomb does under a UTF-8 locale, without a library call per unit:
// every path of the copy goes through here several times. A lone surrogate
// is unconvertible, as it is for the C library.
size_t EncodeUtf8Length(char32_t point) {
  if (point < 0x80) return 1;
  if (point < 0x800) return 2;
  if (point >= 0xD800 && point <= 0xDFFF) return 0;
  return point < 0x10000 ? 3 : 4;
}

size_t Utf16ToUtf8(const char16_t* source, size_t length, char* out, size_t size) {
  size_t total = 0;
  size_t count = 0;
  while (count < length && source[count] != 0) {
    size_t units = 1;
    size_t n = EncodeUtf8Length(CodePointAt(source, length, count, &units));
    if (n == 0 || total + n > size) break;
    total += n;
    count += units;
  }
  if (total == 0) return 0;
  std::memset(out, 0, size);
  for (size_t i = 0; i < count;) {
    size_t units = 1;
    out = PutUtf8(CodePointAt(source, length, i, &units), out);
    i += units;
  }
  return total;
}

}  // namespace

size_t Utf16ToMultiByte(const char16_t* source, size_t length, char* out, size_t size) {
  if (LocaleIsUtf8()) return Utf16ToUtf8(source, length, out, size);
  std::mbstate_t state{};
  char piece[MB_LEN_MAX];
  size_t total = 0;
  // First pass: how long the encoding is, up to what fits and converts.
  for (size_t i = 0; i < length && source[i] != 0;) {
    size_t units = 1;
    wchar_t wc = static_cast<wchar_t>(CodePointAt(source, length, i, &units));
    size_t n = std::wcrtomb(piece, wc, &state);
    if (n == static_cast<size_t>(-1) || total + n > size) break;
    total += n;
    i += units;
  }
  if (total == 0) return 0;
  std::memset(out, 0, size);
  state = std::mbstate_t{};
  size_t written = 0;
  for (size_t i = 0; written < total;) {
    size_t units = 1;
    wchar_t wc = static_cast<wchar_t>(CodePointAt(source, length, i, &units));
    written += std::wcrtomb(out + written, wc, &state);
    i += units;
  }
  return total;
}

NarrowString toNarrow(const WideString& text) {
  size_t n = text.size();
  if (n == 0) return NarrowString();
  if (n > (SIZE_MAX - 1) / 4) throw std::bad_alloc();
  size_t size = 4 * n + 1;
  std::unique_ptr<char[]> buffer(new char[size]());
  size_t count = Utf16ToMultiByte(text.c_str(), n, buffer.get(), size);
  return NarrowString(buffer.get(), count);
}

WideString toWide(const NarrowString& text) {
  size_t n = text.size();
  if (n == 0) return WideString();
  // The buffer of 4n + 1 units must be countable in a signed 32-bit number.
  if (n >= (size_t{1} << 29)) throw std::bad_alloc();
  std::unique_ptr<char16_t[]> buffer(new char16_t[4 * n + 1]());
  size_t count = MultiByteToUtf16(text.c_str(), buffer.get(), static_cast<long>(n + 1));
  return WideString(buffer.get(), count);
}

int CompareNoCase(const WideString& a, const WideString& b) {
  return ::strcasecmp(toNarrow(a).c_str(), toNarrow(b).c_str());
}

std::string Narrow(const WideString& text) { return toNarrow(text).c_str(); }

WideString Wide(const std::string& bytes) {
  return toWide(NarrowString(bytes.c_str(), bytes.size()));
}

namespace {

// The length of the valid UTF-8 sequence at `s`, 0 when there is none.
size_t Utf8Length(const unsigned char* s, size_t left) {
  size_t n = s[0] < 0x80         ? 1
             : (s[0] >> 5) == 6  ? 2
             : (s[0] >> 4) == 14 ? 3
             : (s[0] >> 3) == 30 ? 4
                                 : 0;
  if (n == 0 || n > left || (n == 2 && s[0] < 0xC2)) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
  }
  if (n == 3 && ((s[0] == 0xE0 && s[1] < 0xA0) || (s[0] == 0xED && s[1] >= 0xA0))) return 0;
  if (n == 4 && ((s[0] == 0xF0 && s[1] < 0x90) || s[0] > 0xF4 || (s[0] == 0xF4 && s[1] >= 0x90))) {
    return 0;
  }
  return n;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size();) {
    unsigned char c = bytes[i];
    size_t n = Utf8Length(bytes + i, text.size() - i);
    char escaped[8];
    if (n == 0) {
      // A name that is not UTF-8 keeps its bytes the way Python's
      // "surrogateescape" does: U+DC80..U+DCFF, one per byte.
      std::snprintf(escaped, sizeof escaped, "\\u%04x", 0xDC00 + c);
      out += escaped;
      n = 1;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else if (c == 0xC2 && n == 2 && bytes[i + 1] <= 0x9F) {
      // C1 controls (U+0080..U+009F): valid JSON raw, but a terminal that
      // shows the line acts on them.
      std::snprintf(escaped, sizeof escaped, "\\u%04x", bytes[i + 1]);
      out += escaped;
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out + "\"";
}

std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  char escaped[8];
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (c < 0x20 || c == 0x7F) {
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
      std::snprintf(escaped, sizeof escaped, "\\u%04x", next);
      out += escaped;
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

WideString EscapeControls(const WideString& text) {
  WideString out;
  char escaped[8];
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit < 0x20 || unit == 0x7F) {
      std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(unit));
    } else if (unit >= 0x80 && unit <= 0x9F) {
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(unit));
    } else {
      out.push_back(unit);
      continue;
    }
    for (const char* p = escaped; *p != '\0'; ++p) out.push_back(static_cast<char16_t>(*p));
  }
  return out;
}

}  // namespace qorv
