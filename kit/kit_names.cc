#include "kit/kit_names.h"

#include "base/text_convert.h"

namespace qorv {

const char* UnsafeNameReason(const WideString& name) {
  const size_t n = name.size();
  if (n == 0) return "is empty";
  // As long as a path may be: deeper names cost every later step (the
  // journal names each folder on the way) more than any kit needs.
  if (n > kMaxNameLength) return "is longer than 4096 characters";
  if (name[0] == u'\\' || name[0] == u'/') return "starts with a separator";
  if (n >= 2 && name[1] == u':') return "starts with a drive letter";
  size_t componentStart = 0;
  for (size_t i = 0; i <= n; ++i) {
    char16_t unit = i < n ? name[i] : u'\\';
    if (unit < 0x20 || unit == 0x7F || (unit >= 0x80 && unit <= 0x9F)) {
      return "holds a control character";
    }
    if (unit != u'\\' && unit != u'/') continue;
    size_t length = i - componentStart;
    if (length == 0) return "has an empty component";
    if (length == 1 && name[componentStart] == u'.') return "has a \".\" component";
    if (length == 2 && name[componentStart] == u'.' && name[componentStart + 1] == u'.') {
      return "has a \"..\" component";
    }
    componentStart = i + 1;
  }
  NarrowString narrow = toNarrow(name);
  if (!(toWide(narrow) == name)) return "cannot be spelled in the current locale";
  if (narrow.size() > kMaxNameLength) return "is longer than 4096 bytes in the current locale";
  return nullptr;
}

WideString EntryPathOf(const WideString& name) {
  WideString path = name;
  replaceAll(path, WideString(u"\\"), WideString(u"/"));
  return path;
}

}  // namespace qorv
