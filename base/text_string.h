// The installer's two text types. WideString holds UTF-16 code units and
// carries every path, message and configuration value inside the program;
// NarrowString holds bytes and is what leaves the program (system calls,
// widget texts, table keys).
//
// Both are one design: a short text lives inside the object (9 units or 19
// bytes at most); a longer one lives in a heap block that copies share. The
// block starts with a 32-bit reference count changed only atomically, so
// copies of one text may be made and destroyed on the UI thread and the copy
// thread at once. A shared block is never changed: the first modification
// gives the string a private copy of it. One string object is used by one
// thread at a time.
//
// Positions past the end raise std::out_of_range("basic_string"); sizes that
// cannot be represented raise std::bad_alloc.
#ifndef QORV_BASE_TEXT_STRING_H_
#define QORV_BASE_TEXT_STRING_H_

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace qorv {

template <typename UnitT, uint32_t kInlineMaxT>
class TextString {
 public:
  using Unit = UnitT;
  // Longest text kept inside the object; the form word holds its length.
  static constexpr uint32_t kInlineMax = kInlineMaxT;
  // Form word of a string whose text lives in a heap block.
  static constexpr uint32_t kHeapForm = kInlineMaxT + 1;
  // The block's reference count (4 bytes) measured in units.
  static constexpr uint32_t kHeader = 4 / sizeof(Unit);
  // Largest capacity a block may have; bigger requests raise std::bad_alloc.
  static constexpr uint64_t kMaxCapacity = 0x7FFFFFF0u;

  TextString() noexcept : form_(0) { inline_[0] = 0; }
  // Counts up to the first zero unit. A null pointer is the empty text.
  TextString(const Unit* text) : TextString() {  // NOLINT: implicit by design
    if (text != nullptr) assign(text, Length(text));
  }
  TextString(const Unit* text, size_t count) : TextString() { assign(text, count); }

  TextString(const TextString& other) noexcept { CopyFrom(other); }
  TextString(TextString&& other) noexcept {
    std::memcpy(static_cast<void*>(this), static_cast<const void*>(&other), sizeof(*this));
    other.form_ = 0;
    other.inline_[0] = 0;
  }
  ~TextString() { Release(); }

  TextString& operator=(const TextString& other) noexcept {
    if (this != &other) {
      Release();
      CopyFrom(other);
    }
    return *this;
  }
  TextString& operator=(TextString&& other) noexcept {
    if (this != &other) {
      Release();
      std::memcpy(static_cast<void*>(this), static_cast<const void*>(&other), sizeof(*this));
      other.form_ = 0;
      other.inline_[0] = 0;
    }
    return *this;
  }

  size_t size() const noexcept {
    return IsHeap() ? static_cast<size_t>(heap_.end - heap_.block) - kHeader : form_;
  }
  size_t length() const noexcept { return size(); }
  bool empty() const noexcept { return size() == 0; }

  // The terminated text; valid until the string is next modified or destroyed.
  const Unit* c_str() const noexcept { return IsHeap() ? heap_.block + kHeader : inline_; }
  const Unit* data() const noexcept { return c_str(); }
  const Unit* begin() const noexcept { return c_str(); }
  const Unit* end() const noexcept { return c_str() + size(); }
  Unit operator[](size_t i) const noexcept { return c_str()[i]; }

  // Observers of the representation, for tests and diagnostics.
  bool IsInline() const noexcept { return !IsHeap(); }
  uint32_t FormWord() const noexcept { return form_; }
  // Heap form: block capacity in units, header counted, terminator not.
  // Inline form: kInlineMax.
  uint32_t Capacity() const noexcept { return IsHeap() ? heap_.capacity : kInlineMax; }
  // Heap form: the block's reference count. Inline form: 0.
  int32_t ShareCount() const noexcept {
    return IsHeap() ? Count(heap_.block)->load(std::memory_order_acquire) : 0;
  }

  // Replaces the text with `count` units from `text`, which may lie inside
  // this string's own text.
  TextString& assign(const Unit* text, size_t count);
  TextString& assign(const TextString& other) { return *this = other; }
  // Adds `count` units from `text`, which may lie inside this string's text.
  TextString& append(const Unit* text, size_t count);
  // Adds at most `count` units of `other` starting at `pos`.
  // Throws std::out_of_range when pos > other.size().
  TextString& append(const TextString& other, size_t pos, size_t count = SIZE_MAX);
  TextString& append(const TextString& other) { return append(other, 0, SIZE_MAX); }
  TextString& append(const Unit* text) { return append(text, Length(text)); }
  TextString& operator+=(const TextString& other) { return append(other, 0, SIZE_MAX); }
  TextString& operator+=(const Unit* text) { return append(text, Length(text)); }
  TextString& operator+=(Unit unit) {
    push_back(unit);
    return *this;
  }
  void push_back(Unit unit);
  // Inserts [first, last) before `pos`. Throws std::out_of_range when
  // pos > size(). The range must not lie inside this string.
  TextString& insert(size_t pos, const Unit* first, const Unit* last);
  // Removes at most `count` units from `pos`. Throws std::out_of_range when
  // pos > size().
  TextString& erase(size_t pos, size_t count = SIZE_MAX);
  // New units are left uninitialised; `geometric` selects the appends'
  // growth policy instead of an exact block.
  void resize(size_t n, bool geometric = false);
  // Exact growth; units past the old length are set to `fill`.
  void resize(size_t n, Unit fill);
  // Gives the string room for `n` units in a block of exactly n + header
  // units when it needs a bigger one.
  void reserveExact(size_t n);

  // Writable access to unit `i`; unshares first. REQUIRES: i < size().
  Unit* MutableData() {
    Unshare();
    return const_cast<Unit*>(c_str());
  }

  // True when the lengths are equal and every unit is equal.
  bool equals(const Unit* text) const noexcept {
    size_t n = text == nullptr ? 0 : Length(text);
    return n == size() && (n == 0 || std::memcmp(c_str(), text, n * sizeof(Unit)) == 0);
  }
  friend bool operator==(const TextString& a, const TextString& b) noexcept {
    return a.size() == b.size() && std::memcmp(a.c_str(), b.c_str(), a.size() * sizeof(Unit)) == 0;
  }
  friend bool operator==(const TextString& a, const Unit* b) noexcept { return a.equals(b); }
  // Unit-wise comparison as unsigned values; on a common prefix the shorter
  // text is less.
  friend bool operator<(const TextString& a, const TextString& b) noexcept {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
      auto x = static_cast<std::make_unsigned_t<Unit>>(a.c_str()[i]);
      auto y = static_cast<std::make_unsigned_t<Unit>>(b.c_str()[i]);
      if (x != y) return x < y;
    }
    return a.size() < b.size();
  }

  static size_t Length(const Unit* text) noexcept {
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
  }

 private:
  using RefCount = std::atomic<int32_t>;
  static_assert(sizeof(RefCount) == 4, "the block header is a 32-bit count");

  bool IsHeap() const noexcept { return form_ == kHeapForm; }
  static RefCount* Count(Unit* block) noexcept { return reinterpret_cast<RefCount*>(block); }
  Unit* Text() noexcept { return IsHeap() ? heap_.block + kHeader : inline_; }

  static Unit* AllocateBlock(uint64_t capacity) {
    if (capacity > kMaxCapacity) throw std::bad_alloc();
    void* raw = ::operator new(static_cast<size_t>(capacity + 1) * sizeof(Unit));
    new (raw) RefCount(1);
    return static_cast<Unit*>(raw);
  }
  static void FreeBlock(Unit* block) noexcept {
    Count(block)->~RefCount();
    ::operator delete(block);
  }
  // Drops this string's reference to its block; frees it at zero.
  static void Unref(Unit* block) noexcept {
    if (Count(block)->fetch_sub(1, std::memory_order_acq_rel) == 1) FreeBlock(block);
  }

  void CopyFrom(const TextString& other) noexcept {
    if (other.IsHeap()) {
      Count(other.heap_.block)->fetch_add(1, std::memory_order_relaxed);
      form_ = kHeapForm;
      heap_ = other.heap_;
    } else {
      form_ = other.form_;
      std::memcpy(inline_, other.inline_, sizeof(inline_));
    }
  }
  void Release() noexcept {
    if (IsHeap()) Unref(heap_.block);
  }
  // Takes a block of exactly `capacity` units holding a copy of `units`
  // (length `length`), with its own count of 1.
  void AdoptNewBlock(uint64_t capacity, const Unit* units, size_t length) {
    Unit* block = AllocateBlock(capacity);
    if (length != 0) std::memcpy(block + kHeader, units, length * sizeof(Unit));
    block[kHeader + length] = 0;
    form_ = kHeapForm;
    heap_.block = block;
    heap_.end = block + kHeader + length;
    heap_.capacity = static_cast<uint32_t>(capacity);
  }
  void SetHeapLength(size_t n) noexcept {
    heap_.end = heap_.block + kHeader + n;
    *heap_.end = 0;
  }
  void Unshare();
  void Grow(size_t length, bool geometric);

  uint32_t form_;
  union {
    Unit inline_[kInlineMax + 1];
    struct {
      Unit* block;
      Unit* end;
      uint32_t capacity;
    } heap_;
  };
};

using WideString = TextString<char16_t, 9>;
using NarrowString = TextString<char, 19>;

// Concatenations of narrow texts; the result's block is exactly as large as
// both texts together.
NarrowString operator+(const NarrowString& a, const NarrowString& b);
NarrowString operator+(const NarrowString& a, const char* b);

// Replaces every non-overlapping occurrence of `pattern` in `target`,
// scanning from the left, and returns how many were replaced. An empty
// pattern or a target shorter than it replaces nothing. Throws
// std::length_error("basic_string") when the result would pass 2^31 - 2 units.
size_t replaceAll(WideString& target, const WideString& pattern, const WideString& replacement);

// The text of `value` in `base` (2 to 36, lower-case letters). Base 10 writes
// negative values with a sign; every other base takes the 32 bits as unsigned.
// A base outside 2..36 is taken as 10.
WideString fromInteger(int32_t value, int base = 10);

// ---------------------------------------------------------------------------

template <typename U, uint32_t M>
void TextString<U, M>::Unshare() {
  if (!IsHeap() || Count(heap_.block)->load(std::memory_order_acquire) == 1) return;
  Unit* old = heap_.block;
  size_t n = size();
  AdoptNewBlock(kHeader + n, old + kHeader, n);
  Unref(old);
}

namespace text_string_internal {
// Rounds a block size in bytes up the capacity ladder: small blocks land on
// 8-byte steps, blocks of 16 KiB and more are taken as asked.
inline uint64_t RaiseBlockBytes(uint64_t bytes) {
  uint64_t step;
  if (bytes <= 256) {
    step = 8;
  } else if (bytes <= 512) {
    step = 16;
  } else if (bytes < 1024) {
    step = 32;
  } else if (bytes < 2048) {
    step = 64;
  } else if (bytes < 4096) {
    step = 128;
  } else if (bytes < 8192) {
    step = 256;
  } else if (bytes < 16384) {
    step = 512;
  } else {
    return bytes;
  }
  return (bytes + step - 1) / step * step;
}
}  // namespace text_string_internal

// REQUIRES: heap form, unshared block.
template <typename U, uint32_t M>
void TextString<U, M>::Grow(size_t length, bool geometric) {
  uint64_t required = static_cast<uint64_t>(length) + kHeader;
  uint64_t current = heap_.capacity;
  if (current >= required) return;
  uint64_t target = required;
  if (geometric && current + current / 2 >= required) target = current + current / 2;
  uint64_t capacity = text_string_internal::RaiseBlockBytes(target * sizeof(Unit)) / sizeof(Unit);
  if (capacity <= current) return;
  Unit* old = heap_.block;
  size_t n = size();
  AdoptNewBlock(capacity, old + kHeader, n);
  FreeBlock(old);
}

template <typename U, uint32_t M>
void TextString<U, M>::resize(size_t n, bool geometric) {
  if (n > kMaxCapacity) throw std::bad_alloc();
  if (IsHeap()) {
    size_t length = size();
    if (n == 0) {
      Unref(heap_.block);
      form_ = 0;
      inline_[0] = 0;
    } else if (n > length || n > kInlineMax) {
      Unshare();
      Grow(n, geometric);
      SetHeapLength(n);
    } else {
      Unit* block = heap_.block;
      std::memcpy(inline_, block + kHeader, n * sizeof(Unit));
      inline_[n] = 0;
      form_ = static_cast<uint32_t>(n);
      Unref(block);
    }
  } else if (n <= kInlineMax) {
    form_ = static_cast<uint32_t>(n);
    inline_[n] = 0;
  } else {
    Unit saved[kInlineMax + 1];
    // form_ is the inline length here; the bound says so to the compiler.
    size_t length = std::min<size_t>(form_, kInlineMax);
    std::memcpy(saved, inline_, sizeof(saved));
    AdoptNewBlock(kHeader + n, saved, length);
    SetHeapLength(n);
  }
}

template <typename U, uint32_t M>
void TextString<U, M>::resize(size_t n, Unit fill) {
  size_t old = size();
  resize(n, false);
  if (n <= old) return;
  // Separate branches keep the compiler's bounds analysis of the inline
  // area exact.
  if (IsHeap()) {
    for (size_t i = old; i < n; ++i) heap_.block[kHeader + i] = fill;
  } else {
    for (size_t i = old; i < n && i < kInlineMax; ++i) inline_[i] = fill;
  }
}

template <typename U, uint32_t M>
void TextString<U, M>::reserveExact(size_t n) {
  if (n <= kInlineMax) return;
  if (IsHeap()) {
    Unshare();
    Grow(n, false);
  } else {
    Unit saved[kInlineMax + 1];
    // form_ is the inline length here; the bound says so to the compiler.
    size_t length = std::min<size_t>(form_, kInlineMax);
    std::memcpy(saved, inline_, sizeof(saved));
    AdoptNewBlock(kHeader + n, saved, length);
  }
}

template <typename U, uint32_t M>
TextString<U, M>& TextString<U, M>::assign(const Unit* text, size_t count) {
  if (count == 0) {
    resize(0);
    return *this;
  }
  const Unit* own = c_str();
  size_t length = size();
  bool inside = text >= own && text <= own + length;
  size_t offset = inside ? static_cast<size_t>(text - own) : 0;
  if (length >= count) {
    Unshare();
    Unit* dest = Text();
    std::memmove(dest, inside ? dest + offset : text, count * sizeof(Unit));
    resize(count);
  } else {
    // A source inside our text cannot hold more units than the text has,
    // so it is outside here.
    resize(count, false);
    Unshare();
    std::memcpy(Text(), text, count * sizeof(Unit));
  }
  return *this;
}

template <typename U, uint32_t M>
TextString<U, M>& TextString<U, M>::append(const Unit* text, size_t count) {
  if (count == 0) return *this;
  size_t length = size();
  if (count > kMaxCapacity - length) throw std::bad_alloc();
  const Unit* own = c_str();
  bool inside = text >= own && text <= own + length;
  size_t offset = inside ? static_cast<size_t>(text - own) : 0;
  // The resize keeps the text's prefix in place (in whichever block), so a
  // source inside it is found again by its offset.
  resize(length + count, true);
  Unit* dest = Text();
  std::memmove(dest + length, inside ? dest + offset : text, count * sizeof(Unit));
  return *this;
}

template <typename U, uint32_t M>
TextString<U, M>& TextString<U, M>::append(const TextString& other, size_t pos, size_t count) {
  size_t available = other.size();
  if (pos > available) throw std::out_of_range("basic_string");
  size_t n = available - pos;
  if (count < n) n = count;
  return append(other.c_str() + pos, n);
}

template <typename U, uint32_t M>
void TextString<U, M>::push_back(Unit unit) {
  size_t length = size();
  resize(length + 1, true);
  Text()[length] = unit;
}

template <typename U, uint32_t M>
TextString<U, M>& TextString<U, M>::insert(size_t pos, const Unit* first, const Unit* last) {
  size_t length = size();
  if (pos > length) throw std::out_of_range("basic_string");
  size_t count = static_cast<size_t>(last - first);
  if (pos == length) return append(first, count);
  if (count == 0) return *this;
  if (count > kMaxCapacity - length) throw std::bad_alloc();
  TextString result;
  result.reserveExact(length + count);
  result.append(c_str(), pos);
  result.append(first, count);
  result.append(c_str() + pos, length - pos);
  return *this = std::move(result);
}

template <typename U, uint32_t M>
TextString<U, M>& TextString<U, M>::erase(size_t pos, size_t count) {
  size_t length = size();
  if (pos > length) throw std::out_of_range("basic_string");
  size_t n = length - pos;
  if (count < n) n = count;
  if (n == 0) return *this;
  Unshare();
  Unit* text = Text();
  std::memmove(text + pos, text + pos + n, (length - pos - n) * sizeof(Unit));
  resize(length - n);
  return *this;
}

}  // namespace qorv

#endif  // QORV_BASE_TEXT_STRING_H_
