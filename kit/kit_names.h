// Which names a kit may carry. The kit arrives by download or on a shared
// drive, so its entry names decide where the installer writes: a name must
// stay inside the template directory and reach the file system exactly as
// it is spelled.
#ifndef QORV_KIT_KIT_NAMES_H_
#define QORV_KIT_KIT_NAMES_H_

#include "base/text_string.h"

namespace qorv {

// Empty when `name` (backslash separators) is a safe relative path, else why
// not, e.g. "has a \"..\" component". Refused: an empty name, a leading
// slash or backslash, a drive letter ("C:..."), an empty, "." or ".."
// component once backslashes are slashes, a zero unit or another control
// character (C0, DEL and C1), a name the process locale cannot spell (it
// would reach the file system cut short), and one longer than
// kMaxNameLength characters or locale bytes.
inline constexpr size_t kMaxNameLength = 4096;
const char* UnsafeNameReason(const WideString& name);

inline bool IsSafeEntryName(const WideString& name) { return UnsafeNameReason(name) == nullptr; }

// The name with slashes for separators, as the file system wants it.
WideString EntryPathOf(const WideString& name);

}  // namespace qorv

#endif  // QORV_KIT_KIT_NAMES_H_
