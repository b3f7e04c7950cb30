// The launcher's configuration files: plain key=value lines, no sections,
// comments, quoting or trimming. A key may repeat; each line adds a value.
// Keys and values compare without regard to ASCII case. A list is a value
// built fresh for one read or one write and used by one thread.
#ifndef QORV_CONFIG_CONFIG_FILE_H_
#define QORV_CONFIG_CONFIG_FILE_H_

#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/text_convert.h"
#include "base/text_string.h"

namespace qorv {

// `text` with ASCII letters folded to lower case: two texts are equal under
// the launcher's rule exactly when their folded forms are. For hashing.
std::u16string FoldCase(const WideString& text);

// Orders texts by CompareNoCase, for sets of keys and locations.
struct NoCaseLess {
  bool operator()(const WideString& a, const WideString& b) const {
    return CompareNoCase(a, b) < 0;
  }
};

// Raised by ConfigEntryList::Write: code 1 when the file cannot be written
// at all, 2 when its content cannot be written out.
class ConfigWriteError : public std::runtime_error {
 public:
  // `path` and `error` (an errno), when known, say which file and why.
  explicit ConfigWriteError(int code, std::string path = std::string(), int error = 0)
      : std::runtime_error(code == 1 ? "cannot open the configuration file"
                                     : "cannot write the configuration file"),
        code_(code),
        path_(std::move(path)),
        error_(error) {}
  int code() const { return code_; }
  const std::string& path() const { return path_; }
  int error() const { return error_; }

 private:
  int code_;
  std::string path_;
  int error_;
};

struct ConfigEntry {
  WideString key;                  // as first met
  std::vector<WideString> values;  // in the order first met or set
};

class ConfigEntryList {
 public:
  enum class ReadResult { kRead, kMissing, kUnreadable };

  // Merges the file's lines into the list with Add. A file that does not
  // exist, or cannot be read whole, leaves the list unchanged; the result
  // tells which. Encodings: FF FE starts UTF-16LE, EF BB BF starts UTF-8,
  // anything else is the locale's encoding. A byte that does not decode is
  // carried as the lone surrogate U+DC00 + byte, and a zero byte as U+0000,
  // so that Write() gives back the very bytes: the file is the user's.
  // Linear in the size of the file.
  ReadResult Read(const WideString& path);
  // Replaces the file with the list, one "key=value\n" line per value,
  // grouped by key in list order, in the locale's encoding (carried bytes
  // as they were; a character the encoding lacks as "?"). The file is
  // replaced whole or not at all: the content goes to a new file in the same
  // directory, is flushed to disk and renamed over the old one, which keeps
  // its permission bits (a symbolic link keeps pointing at the new file).
  // Throws ConfigWriteError(1) when the new file cannot be made (a missing
  // directory), ConfigWriteError(2) when it cannot be written or put in place.
  void Write(const WideString& path) const;

  // Appends `value` to `key` unless an equal value is there; a new key goes
  // at the end. Constant time on average: keys and values are indexed by
  // their folded forms.
  void Add(const WideString& key, const WideString& value);
  // The values of `key`, or null when the key is absent.
  const std::vector<WideString>* Find(const WideString& key) const;
  // Replaces the values of `key`; an absent key is appended, and an empty
  // sequence removes the key.
  void Set(const WideString& key, const std::vector<WideString>& values);

  const std::vector<ConfigEntry>& entries() const { return entries_; }

 private:
  // Parses decoded text into the list.
  void Parse(const char16_t* units, size_t count);

  void Reindex();

  std::vector<ConfigEntry> entries_;
  // Folded key -> position in entries_; per entry with many values, their
  // folded forms.
  std::unordered_map<std::u16string, size_t> keys_;
  std::vector<std::unordered_set<std::u16string>> values_;
};

}  // namespace qorv

#endif  // QORV_CONFIG_CONFIG_FILE_H_
