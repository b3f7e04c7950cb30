// Paths as the file system takes them: bytes, "/" separated. Pure string
// work; nothing here asks the file system.
#ifndef QORV_FS_PATH_H_
#define QORV_FS_PATH_H_

#include <string>

#include "base/text_string.h"

namespace qorv {

// `path` without final "/"s; "/" (however many) stays "/".
std::string StripTrailingSlashes(std::string path);
// `path` with runs of "/" made one and "." components left out, its
// trailing "/" kept: "/a//b/./c/" is "/a/b/c/". ".." stays, since a link may
// stand before it; "" stays "", and a relative path of dots alone is ".".
std::string LexicallyNormal(const std::string& path);
// `path` ending with exactly the "/" it had or one added; "" stays "".
std::string WithTrailingSlash(std::string path);
// The directory holding `path` ("." when it names none, "/" for "/x").
std::string DirName(const std::string& path);
// The last component of `path`, final "/"s ignored.
std::string BaseName(const std::string& path);
// `directory` and `name` with one "/" between them.
std::string Join(const std::string& directory, const std::string& name);
// `path` up to, not including, its last "/" that is not its final
// character ("/" for "/x"); empty when there is none.
std::string ParentOf(const std::string& path);
bool IsRootPath(const std::string& path);
// A path below a directory as the installer's records give it: relative,
// with no empty, "." or ".." component.
bool IsPlainRelative(const std::string& relative);
// "/" followed by a plain relative path.
bool IsPlainAbsolute(const std::string& path);

// The same for the texts the front ends and the copy engine hold, where a
// backslash also ends a directory name (the kit's and the launcher file's
// separator).
bool EndsWithSeparator(const WideString& path);

}  // namespace qorv

#endif  // QORV_FS_PATH_H_
