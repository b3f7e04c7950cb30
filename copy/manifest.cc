#include "copy/manifest.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "base/text_convert.h"
#include "config/launcher_settings.h"
#include "fs/file_util.h"
#include "fs/path.h"
#include "fs/trusted_path.h"

namespace qorv {

namespace {

// Clocks of file times tick coarsely (a few milliseconds): facts this close
// to the manifest's own write are not trusted.
constexpr int64_t kRacyNs = 100 * 1000 * 1000;

constexpr char kFormat[] = "qorv-manifest 1";

void PutField(std::string* out, const std::string& bytes) {
  *out += std::to_string(bytes.size());
  *out += ':';
  *out += bytes;
}

// Reads the records back, strictly: a manifest is either whole or none.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool AtEnd() const { return at_ == text_.size(); }
  bool Literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }
  bool Number(uint64_t* value) {
    size_t start = at_;
    uint64_t n = 0;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
      if (n > (UINT64_MAX - 9) / 10) return false;
      n = n * 10 + static_cast<uint64_t>(text_[at_++] - '0');
    }
    *value = n;
    return at_ != start;
  }
  bool Field(std::string* bytes) {
    uint64_t length = 0;
    if (!Number(&length) || !Literal(":") || length > text_.size() - at_) return false;
    bytes->assign(text_.substr(at_, length));
    at_ += length;
    return true;
  }
  bool Token(std::string* word) {
    size_t end = text_.find_first_of(" \n", at_);
    if (end == std::string_view::npos || end == at_) return false;
    word->assign(text_.substr(at_, end - at_));
    at_ = end;
    return true;
  }

 private:
  std::string_view text_;
  size_t at_ = 0;
};

bool ParseHex(const std::string& hex, Digest* digest) {
  if (hex.size() != digest->size() * 2) return false;
  for (size_t i = 0; i < digest->size(); ++i) {
    char* end = nullptr;
    std::string pair = hex.substr(2 * i, 2);
    if (pair.find_first_not_of("0123456789abcdef") != std::string::npos) return false;
    (*digest)[i] = static_cast<unsigned char>(std::strtoul(pair.c_str(), &end, 16));
  }
  return true;
}

}  // namespace

const ManifestFile* Manifest::Find(const std::string& path) const {
  for (const ManifestFile& file : files) {
    if (file.path == path) return &file;
  }
  return nullptr;
}

std::string StateDirectory() {
  const char* state = std::getenv("XDG_STATE_HOME");
  std::string base;
  if (state != nullptr && state[0] == '/') {
    base = state;
  } else {
    std::string home = Narrow(HomeDirectory());
    if (home.empty()) return std::string();
    base = home + "/.local/state";
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/qorv/";
}

std::string ManifestDirectory() {
  std::string state = StateDirectory();
  return state.empty() ? state : state + "manifests/";
}

std::string ManifestPathFor(const std::string& targetRoot) {
  std::string directory = ManifestDirectory();
  if (directory.empty()) return std::string();
  // A fixed-length name for any target: the first half of its digest. Any
  // spelling of the target ("//", "/./") names the same manifest.
  const std::string target = LexicallyNormal(targetRoot);
  Digest key = Sha256Of(target.data(), target.size());
  return directory + Hex(key.data(), 16) + ".manifest";
}

std::string EncodeManifest(const Manifest& manifest) {
  std::string out = std::string(kFormat) + "\nT ";
  PutField(&out, manifest.target);
  out += "\nK " + (manifest.kit.empty() ? std::string("-") : manifest.kit) + "\n";
  for (const std::string& directory : manifest.directories) {
    out += "D ";
    PutField(&out, directory);
    out += '\n';
  }
  for (const ManifestFile& file : manifest.files) {
    out += "F " + std::to_string(file.size) + " " + std::to_string(file.time) + " " +
           Hex(file.digest) + " ";
    PutField(&out, file.path);
    out += '\n';
    if (file.facts.known) {
      out += "S " + std::to_string(file.facts.mtimeNs) + " " + std::to_string(file.facts.ctimeNs) +
             " " + std::to_string(file.facts.inode) + " " + std::to_string(file.facts.device) +
             "\n";
    }
  }
  return out + "end\n";
}

namespace {

// The state directory may be another user's (root run with that user's
// HOME): a manifest names only files below its target, and directories on
// the way to it or below it, whatever its text says.
bool StaysWithItsTarget(const Manifest& manifest) {
  const std::string target = StripTrailingSlashes(LexicallyNormal(manifest.target));
  if (manifest.target.empty() || manifest.target[0] != '/') return false;
  for (const std::string& d : manifest.directories) {
    if (!IsPlainAbsolute(d)) return false;
    const bool ancestor = target.compare(0, d.size() + 1, d + "/") == 0;
    const bool within = d == target || d.compare(0, target.size() + 1, target + "/") == 0;
    if (!ancestor && !within) return false;
  }
  for (const ManifestFile& file : manifest.files) {
    if (!IsPlainRelative(file.path)) return false;
  }
  return true;
}

}  // namespace

bool ParseManifest(const std::string& text, Manifest* manifest) {
  *manifest = Manifest();
  Reader in(text);
  if (!in.Literal(kFormat) || !in.Literal("\nT ") || !in.Field(&manifest->target) ||
      !in.Literal("\nK ") || !in.Token(&manifest->kit) || !in.Literal("\n")) {
    return false;
  }
  for (;;) {
    if (in.Literal("end\n")) return in.AtEnd() && StaysWithItsTarget(*manifest);
    if (in.Literal("D ")) {
      std::string directory;
      if (!in.Field(&directory) || !in.Literal("\n")) return false;
      manifest->directories.push_back(directory);
      continue;
    }
    if (in.Literal("S ")) {
      // The facts of the file just read.
      uint64_t m = 0;
      uint64_t c = 0;
      FileFacts facts;
      if (manifest->files.empty() || !in.Number(&m) || !in.Literal(" ") || !in.Number(&c) ||
          !in.Literal(" ") || !in.Number(&facts.inode) || !in.Literal(" ") ||
          !in.Number(&facts.device) || !in.Literal("\n") || m > static_cast<uint64_t>(INT64_MAX) ||
          c > static_cast<uint64_t>(INT64_MAX)) {
        return false;
      }
      facts.known = true;
      facts.mtimeNs = static_cast<int64_t>(m);
      facts.ctimeNs = static_cast<int64_t>(c);
      manifest->files.back().facts = facts;
      continue;
    }
    ManifestFile file;
    uint64_t time = 0;
    std::string hex;
    if (!in.Literal("F ") || !in.Number(&file.size) || !in.Literal(" ") || !in.Number(&time) ||
        !in.Literal(" ") || !in.Token(&hex) || !ParseHex(hex, &file.digest) || !in.Literal(" ") ||
        !in.Field(&file.path) || !in.Literal("\n") || time > static_cast<uint64_t>(INT64_MAX)) {
      return false;
    }
    file.time = static_cast<int64_t>(time);
    manifest->files.push_back(std::move(file));
  }
}

ManifestState LoadManifest(const std::string& targetRoot, Manifest* manifest) {
  *manifest = Manifest();
  std::string path = ManifestPathFor(targetRoot);
  std::string text;
  bool missing = false;
  std::string foreign;
  if (!path.empty() && !IsOwnPlace(path, &foreign)) return ManifestState::kDamaged;
  if (path.empty() || !ReadFileToString(path, &text, &missing)) {
    return missing ? ManifestState::kNone : ManifestState::kDamaged;
  }
  // A manifest names its target: one whose name collides is not this one's.
  if (!ParseManifest(text, manifest) ||
      LexicallyNormal(manifest->target) != LexicallyNormal(targetRoot)) {
    *manifest = Manifest();
    return ManifestState::kDamaged;
  }
  // A file's facts stand for its bytes only when they were taken clearly
  // before the manifest was written: a change in the same tick would not
  // show.
  struct stat st;
  if (Lstat(path, &st)) {
    const int64_t written = FactsOf(st).mtimeNs;
    for (ManifestFile& file : manifest->files) {
      file.facts.trusted = file.facts.known && file.facts.ctimeNs + kRacyNs < written;
    }
  }
  return ManifestState::kRead;
}

bool PutBackManifest(const std::string& manifestPath, const std::string& oldCopy, bool hadOne) {
  // What the run was writing in its place when it stopped.
  RemoveUnfinishedReplacements(manifestPath);
  if (hadOne) {
    std::string old;
    bool missing = false;
    if (ReadFileToString(oldCopy, &old, &missing)) {
      return ReplaceFileDurably(manifestPath, old) == ReplaceResult::kDone;
    }
    // Its copy goes only after it is back.
    return missing;
  }
  // There was none before the run: whatever it wrote goes. A manifest
  // directory that is missing, or under something that is not a directory,
  // holds none, and that is as before too.
  auto absent = [] { return errno == ENOENT || errno == ENOTDIR; };
  if (!RemoveFile(manifestPath) && !absent()) return false;
  return SyncDirectoryOf(manifestPath) || absent();
}

bool DigestOfFile(const std::string& path, Digest* digest) {
  // Never a pipe or a device someone put in a file's place: opening it
  // could wait forever, reading it could never end.
  ScopedFd fd = OpenFile(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  struct stat st;
  if (!fd.IsValid() || !StatOf(fd.Get(), &st)) return false;
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return false;
  }
  Sha256 hash;
  std::string buffer(1 << 20, '\0');
  for (;;) {
    ssize_t n = ReadSome(fd.Get(), buffer.data(), buffer.size());
    if (n < 0) return false;
    if (n == 0) break;
    hash.Update(buffer.data(), static_cast<size_t>(n));
  }
  *digest = hash.Final();
  return true;
}

FileFacts FactsOf(const struct stat& st) {
  FileFacts facts;
  facts.known = true;
  facts.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  facts.ctimeNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  facts.inode = static_cast<uint64_t>(st.st_ino);
  facts.device = static_cast<uint64_t>(st.st_dev);
  return facts;
}

bool SameFacts(const FileFacts& a, const FileFacts& b) {
  return a.known && b.known && a.mtimeNs == b.mtimeNs && a.ctimeNs == b.ctimeNs &&
         a.inode == b.inode && a.device == b.device;
}

bool UnchangedSince(const std::string& targetRoot, const ManifestFile& file, FileFacts* now) {
  const std::string path = targetRoot + file.path;
  struct stat st;
  if (!Lstat(path, &st) || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) != file.size ||
      static_cast<int64_t>(st.st_mtime) != file.time) {
    return false;
  }
  const FileFacts facts = FactsOf(st);
  if (now != nullptr) *now = facts;
  const FileFacts& was = file.facts;
  if (was.trusted && SameFacts(was, facts)) return true;
  Digest digest;
  return DigestOfFile(path, &digest) && digest == file.digest;
}

}  // namespace qorv
