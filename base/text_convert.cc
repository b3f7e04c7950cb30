#include "base/text_convert.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <memory>

namespace qorv {

const char* SelectEnvironmentLocale() { return std::setlocale(LC_ALL, ""); }

// Both primitives walk the text one character at a time with their own
// conversion state (mbrtowc/wcrtomb) rather than asking mbstowcs/wcstombs for
// the whole text: those answer (size_t)-1 for a text holding one bad
// character, and that must never become a length.

size_t MultiByteToUtf16(const char* source, char16_t* out, long limit) {
  std::mbstate_t state{};
  size_t remaining = std::strlen(source);
  size_t count = 0;
  while (remaining != 0) {
    wchar_t wc = 0;
    size_t used = std::mbrtowc(&wc, source, remaining, &state);
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2) || used == 0) break;
    if (limit > 0 && count < static_cast<size_t>(limit)) {
      out[count] = static_cast<char16_t>(static_cast<uint32_t>(wc) & 0xFFFFu);
    }
    ++count;
    source += used;
    remaining -= used;
  }
  return count;
}

namespace {

bool LocaleIsUtf8() { return std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0; }

// What wcrtomb does under a UTF-8 locale, without a library call per unit:
// every path of the copy goes through here several times. A surrogate unit
// is unconvertible, as it is for the C library.
size_t EncodeUtf8Length(char16_t unit) {
  if (unit < 0x80) return 1;
  if (unit < 0x800) return 2;
  if (unit >= 0xD800 && unit <= 0xDFFF) return 0;
  return 3;
}

char* PutUtf8(char16_t unit, char* out) {
  if (unit < 0x80) {
    *out++ = static_cast<char>(unit);
  } else if (unit < 0x800) {
    *out++ = static_cast<char>(0xC0 | (unit >> 6));
    *out++ = static_cast<char>(0x80 | (unit & 0x3F));
  } else {
    *out++ = static_cast<char>(0xE0 | (unit >> 12));
    *out++ = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (unit & 0x3F));
  }
  return out;
}

size_t Utf16ToUtf8(const char16_t* source, size_t length, char* out, size_t size) {
  size_t total = 0;
  size_t count = 0;
  for (; count < length && source[count] != 0; ++count) {
    size_t n = EncodeUtf8Length(source[count]);
    if (n == 0 || total + n > size) break;
    total += n;
  }
  if (total == 0) return 0;
  std::memset(out, 0, size);
  for (size_t i = 0; i < count; ++i) out = PutUtf8(source[i], out);
  return total;
}

}  // namespace

size_t Utf16ToMultiByte(const char16_t* source, size_t length, char* out, size_t size) {
  if (LocaleIsUtf8()) return Utf16ToUtf8(source, length, out, size);
  std::mbstate_t state{};
  char piece[MB_LEN_MAX];
  size_t total = 0;
  // First pass: how long the encoding is, up to what fits and converts.
  for (size_t i = 0; i < length && source[i] != 0; ++i) {
    size_t n = std::wcrtomb(piece, static_cast<wchar_t>(source[i]), &state);
    if (n == static_cast<size_t>(-1) || total + n > size) break;
    total += n;
  }
  if (total == 0) return 0;
  std::memset(out, 0, size);
  state = std::mbstate_t{};
  size_t written = 0;
  for (size_t i = 0; written < total; ++i) {
    size_t n = std::wcrtomb(out + written, static_cast<wchar_t>(source[i]), &state);
    written += n;
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

}  // namespace qorv
