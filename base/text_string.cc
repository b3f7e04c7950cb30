#include "base/text_string.h"

#include <vector>

namespace qorv {

namespace {

NarrowString Concatenate(const char* a, size_t na, const char* b, size_t nb) {
  NarrowString result;
  result.reserveExact(na + nb);
  result.append(a, na);
  result.append(b, nb);
  return result;
}

}  // namespace

NarrowString operator+(const NarrowString& a, const NarrowString& b) {
  return Concatenate(a.c_str(), a.size(), b.c_str(), b.size());
}

NarrowString operator+(const NarrowString& a, const char* b) {
  return Concatenate(a.c_str(), a.size(), b, b == nullptr ? 0 : NarrowString::Length(b));
}

size_t replaceAll(WideString& target, const WideString& pattern, const WideString& replacement) {
  const size_t np = pattern.size();
  const size_t nr = replacement.size();
  if (np == 0 || target.size() < np) return 0;

  auto matchAt = [&](const char16_t* text, size_t p) {
    return std::memcmp(text + p, pattern.c_str(), np * sizeof(char16_t)) == 0;
  };

  if (np == nr) {
    size_t count = 0;
    size_t p = 0;
    while (p + np <= target.size()) {
      if (matchAt(target.c_str(), p)) {
        std::memcpy(target.MutableData() + p, replacement.c_str(), nr * sizeof(char16_t));
        ++count;
        p += nr;
      } else {
        ++p;
      }
    }
    return count;
  }

  std::vector<size_t> matches;
  const char16_t* text = target.c_str();
  const size_t length = target.size();
  for (size_t p = 0; p + np <= length;) {
    if (matchAt(text, p)) {
      matches.push_back(p);
      p += np;
    } else {
      ++p;
    }
  }
  if (matches.empty()) return 0;

  int64_t newLength =
      static_cast<int64_t>(length) +
      (static_cast<int64_t>(nr) - static_cast<int64_t>(np)) * static_cast<int64_t>(matches.size());
  if (newLength > 2147483646) throw std::length_error("basic_string");

  WideString result;
  result.reserveExact(static_cast<size_t>(newLength));
  size_t from = 0;
  for (size_t p : matches) {
    result.append(text + from, p - from);
    result.append(replacement.c_str(), nr);
    from = p + np;
  }
  result.append(text + from, length - from);
  target = std::move(result);
  return matches.size();
}

WideString fromInteger(int32_t value, int base) {
  if (base < 2 || base > 36) base = 10;
  uint32_t magnitude = static_cast<uint32_t>(value);
  bool negative = base == 10 && value < 0;
  if (negative) magnitude = 0u - magnitude;

  char16_t digits[40];
  size_t n = 0;
  do {
    uint32_t d = magnitude % static_cast<uint32_t>(base);
    digits[n++] = static_cast<char16_t>(d < 10 ? u'0' + d : u'a' + (d - 10));
    magnitude /= static_cast<uint32_t>(base);
  } while (magnitude != 0);
  if (negative) digits[n++] = u'-';

  WideString result;
  for (size_t i = n; i > 0; --i) result.push_back(digits[i - 1]);
  return result;
}

}  // namespace qorv
