#include "config/config_file.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <random>
#include <string>

#include "base/text_convert.h"
#include "fs/file_ops.h"
#include "fs/sys_calls.h"

namespace qorv {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Reads the whole file; false when it cannot be opened or read to the end.
bool ReadAll(const char* path, std::string* content, bool* missing) {
  *missing = false;
  int fd = Sys().open(path, O_RDONLY, 0);
  if (fd < 0) {
    *missing = errno == ENOENT || errno == ENOTDIR;
    return false;
  }
  char block[4096];
  bool ok = true;
  for (;;) {
    ssize_t n = Sys().read(fd, block, sizeof(block));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    content->append(block, static_cast<size_t>(n));
  }
  Sys().close(fd);
  return ok;
}

std::u16string DecodeUtf16Le(const std::string& bytes, size_t start) {
  std::u16string units;
  for (size_t i = start; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return units;
}

// Decodes in the locale's encoding one character at a time, so a character
// is never split and a bad byte costs only itself.
std::u16string DecodeMultiByte(const std::string& bytes, size_t start) {
  std::u16string units;
  std::mbstate_t state{};
  size_t i = start;
  while (i < bytes.size()) {
    wchar_t wc = 0;
    size_t used = std::mbrtowc(&wc, bytes.data() + i, bytes.size() - i, &state);
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
      units.push_back(kReplacement);
      state = std::mbstate_t{};
      ++i;
      continue;
    }
    if (used == 0) used = 1;  // a zero byte
    units.push_back(static_cast<char16_t>(static_cast<uint32_t>(wc) & 0xFFFFu));
    i += used;
  }
  return units;
}

// The file a write must replace: the target of a symbolic link, followed
// through every level, else the path itself.
std::string ResolveTarget(const std::string& path) {
  std::string current = path;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st;
    if (Sys().lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    char target[PATH_MAX];
    ssize_t n = Sys().readlink(current.c_str(), target, sizeof(target) - 1);
    if (n < 0) return current;
    target[n] = '\0';
    if (target[0] == '/') {
      current = target;
    } else {
      size_t slash = current.rfind('/');
      current = (slash == std::string::npos ? std::string() : current.substr(0, slash + 1)) + target;
    }
  }
  return current;
}

}  // namespace

int CompareNoCase(const WideString& a, const WideString& b) {
  return ::strcasecmp(toNarrow(a).c_str(), toNarrow(b).c_str());
}

void ConfigEntryList::Add(const WideString& key, const WideString& value) {
  ConfigEntry* match = nullptr;
  for (ConfigEntry& entry : entries_) {
    if (CompareNoCase(entry.key, key) != 0) continue;
    for (const WideString& existing : entry.values) {
      if (CompareNoCase(existing, value) == 0) return;
    }
    match = &entry;
  }
  if (match != nullptr) {
    match->values.push_back(value);
  } else {
    entries_.push_back(ConfigEntry{key, {value}});
  }
}

const std::vector<WideString>* ConfigEntryList::Find(const WideString& key) const {
  for (const ConfigEntry& entry : entries_) {
    if (CompareNoCase(entry.key, key) == 0) return &entry.values;
  }
  return nullptr;
}

void ConfigEntryList::Set(const WideString& key, const std::vector<WideString>& values) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (CompareNoCase(it->key, key) != 0) continue;
    if (values.empty()) {
      entries_.erase(it);
    } else {
      it->values = values;
    }
    return;
  }
  if (!values.empty()) entries_.push_back(ConfigEntry{key, values});
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
  if (!ReadAll(toNarrow(path).c_str(), &bytes, &missing)) {
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
    NarrowString key = toNarrow(entry.key);
    for (const WideString& value : entry.values) {
      content.append(key.c_str());
      content.push_back('=');
      content.append(toNarrow(value).c_str());
      content.push_back('\n');
    }
  }

  std::string target = ResolveTarget(std::string(toNarrow(path).c_str()));
  struct stat old;
  bool replacing = Sys().stat(target.c_str(), &old) == 0;

  static thread_local std::mt19937_64 engine{std::random_device{}()};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 20 && fd < 0; ++attempt) {
    temp = target + ".qorv-" + std::to_string(engine() % 1000000000);
    fd = Sys().open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) throw ConfigWriteError(1);

  bool ok = true;
  for (size_t done = 0; ok && done < content.size();) {
    ssize_t n = Sys().write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  if (ok && replacing) {
    ok = Sys().fchmod(fd, old.st_mode & 07777) == 0;
    if (ok && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
      // Root rewriting a user's file gives it back to the user.
      (void)::fchown(fd, old.st_uid, old.st_gid);
    }
  }
  ok = ok && Sys().fsync(fd) == 0;
  ok = Sys().close(fd) == 0 && ok;
  ok = ok && Sys().rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    Sys().unlink(temp.c_str());
    throw ConfigWriteError(2);
  }
  SyncDirectoryOf(target);  // the rename itself made durable
}

}  // namespace qorv
