#include "fs/path.h"

namespace qorv {

std::string StripTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string LexicallyNormal(const std::string& path) {
  if (path.empty()) return path;
  std::string out = path[0] == '/' ? "/" : "";
  for (size_t start = 0; start < path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const size_t length = end - start;
    if (length != 0 && !(length == 1 && path[start] == '.')) {
      if (!out.empty() && out.back() != '/') out.push_back('/');
      out.append(path, start, length);
    }
    start = end + 1;
  }
  if (out.empty()) return ".";
  if (path.back() == '/' && out.back() != '/') out.push_back('/');
  return out;
}

std::string WithTrailingSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path.push_back('/');
  return path;
}

std::string DirName(const std::string& path) {
  std::string p = StripTrailingSlashes(path);
  size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : p.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  std::string p = StripTrailingSlashes(path);
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string Join(const std::string& directory, const std::string& name) {
  return directory.empty() ? name : WithTrailingSlash(directory) + name;
}

std::string ParentOf(const std::string& path) {
  size_t end = path.size();
  while (end > 0 && path[end - 1] == '/') --end;
  while (end > 0 && path[end - 1] != '/') --end;
  if (end == 0) return std::string();
  return path.substr(0, end - 1 == 0 ? 1 : end - 1);
}

bool IsRootPath(const std::string& path) { return path == "/"; }

bool EndsWithSeparator(const WideString& path) {
  return !path.empty() && (path[path.size() - 1] == u'/' || path[path.size() - 1] == u'\\');
}

bool IsPlainRelative(const std::string& relative) {
  if (relative.empty() || relative[0] == '/') return false;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const size_t length = end - start;
    if (length == 0 || (length == 1 && relative[start] == '.') ||
        (length == 2 && relative.compare(start, 2, "..") == 0)) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

bool IsPlainAbsolute(const std::string& path) {
  return path.size() > 1 && path[0] == '/' && IsPlainRelative(path.substr(1));
}

}  // namespace qorv
