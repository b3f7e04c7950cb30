#include "fs/file_finder.h"

#include <fnmatch.h>

#include "base/text_convert.h"
#include "fs/sys_calls.h"

namespace qorv {

bool FileFinder::FindFirst(const WideString& pattern) {
  Close();
  pattern_ = toNarrow(pattern);
  const char* text = pattern_.c_str();
  const char* slash = std::strrchr(text, '/');
  if (slash == nullptr) {
    directory_ = NarrowString();
    mask_ = pattern_;
  } else {
    directory_ = NarrowString(text, static_cast<size_t>(slash - text));
    mask_ = NarrowString(slash + 1);
  }
  if (directory_.empty()) return false;
  dir_ = Sys().opendir(directory_.c_str());
  if (dir_ == nullptr) return false;
  return FindNext();
}

bool FileFinder::FindNext() {
  if (dir_ == nullptr) return false;
  while (struct dirent* entry = Sys().readdir(dir_)) {
    int match = ::fnmatch(mask_.c_str(), entry->d_name, FNM_PATHNAME);
    if (match == FNM_NOMATCH) continue;
    if (match != 0) return false;
    found_ = NarrowString(entry->d_name);
    NarrowString full = directory_ + "/" + found_;
    return Sys().stat(full.c_str(), &status_) == 0;
  }
  Close();
  return false;
}

WideString FileFinder::GetFoundName() const {
  return dir_ == nullptr ? WideString() : toWide(found_);
}

uint32_t FileFinder::GetFoundAttributes() const {
  return dir_ != nullptr && S_ISDIR(status_.st_mode) ? 16u : 0u;
}

void FileFinder::Close() {
  if (dir_ != nullptr) {
    Sys().closedir(dir_);
    dir_ = nullptr;
  }
}

}  // namespace qorv
