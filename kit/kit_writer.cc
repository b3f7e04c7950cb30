#include "kit/kit_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "base/text_convert.h"
#include "fs/file_util.h"
#include "kit/kit_bundle.h"
#include "kit/kit_format.h"
#include "kit/kit_names.h"
#include "kit/kit_trailer.h"
#include "kit/program_seal.h"

namespace qorv {

namespace {

using kit_format::PutText;
using kit_format::PutU32;

// Feeds bytes to a deflate stream and appends what comes out to a file.
class DeflateSink {
 public:
  DeflateSink(int fd, int level) : fd_(fd), out_(new unsigned char[kBlock]) {
    std::memset(&stream_, 0, sizeof(stream_));
    ok_ = deflateInit2(&stream_, level, Z_DEFLATED, kit_format::kRawDeflateWindowBits, 9,
                       Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~DeflateSink() { deflateEnd(&stream_); }

  bool Feed(const void* data, size_t size, int flush = Z_NO_FLUSH) {
    stream_.next_in = static_cast<unsigned char*>(const_cast<void*>(data));
    stream_.avail_in = static_cast<uInt>(size);
    do {
      stream_.next_out = out_.get();
      stream_.avail_out = kBlock;
      int result = deflate(&stream_, flush);
      if (result == Z_STREAM_ERROR) return ok_ = false;
      size_t produced = kBlock - stream_.avail_out;
      std::string_view bytes(reinterpret_cast<const char*>(out_.get()), produced);
      digest_.Update(bytes.data(), bytes.size());
      if (!WriteFully(fd_, bytes)) return ok_ = false;
    } while (stream_.avail_out == 0 || (flush == Z_FINISH && stream_.avail_in != 0));
    return ok_;
  }
  bool Finish() { return Feed(nullptr, 0, Z_FINISH); }
  // Bytes after the stream that the digest covers too.
  bool Append(const std::string& bytes) {
    digest_.Update(bytes.data(), bytes.size());
    return ok_ = ok_ && WriteFully(fd_, bytes);
  }
  bool ok() const { return ok_; }
  // The digest of everything written so far; call once, after Finish().
  Digest TakeDigest() { return digest_.Final(); }

 private:
  static constexpr uInt kBlock = 1 << 20;
  int fd_;
  z_stream stream_;
  std::unique_ptr<unsigned char[]> out_;
  Sha256 digest_;
  bool ok_ = false;
};

}  // namespace

std::string EncodeKitHead(const KitContent& content) {
  std::string head;
  if (!content.languageTable) {
    KitDescription none;
    const KitDescription& d = content.descriptions.empty() ? none : content.descriptions[0];
    PutU32(&head, 0);
    PutText(&head, d.product);
    PutText(&head, d.provider);
    PutText(&head, d.descriptionPath);
  } else {
    PutU32(&head, 1);
    PutU32(&head, static_cast<uint32_t>(content.descriptions.size()));
    for (const KitDescription& d : content.descriptions) {
      std::string record;
      PutText(&record, d.language);
      PutText(&record, d.product);
      PutText(&record, d.provider);
      PutText(&record, d.descriptionPath);
      PutU32(&head, static_cast<uint32_t>(record.size() + 4));
      head += record;
    }
  }
  PutU32(&head, static_cast<uint32_t>(content.files.size()));
  uint64_t offset = 0;
  for (const KitSourceFile& file : content.files) {
    PutU32(&head, static_cast<uint32_t>(kit_format::EntryRecordSize(file.name.size())));
    PutText(&head, file.name);
    PutU32(&head, file.time.low);
    PutU32(&head, file.time.high);
    PutU32(&head, static_cast<uint32_t>(offset));
    PutU32(&head, static_cast<uint32_t>(file.size));
    offset += file.size;
  }
  return head;
}

std::string BuildKitHead(const KitContent& content, std::string* error) {
  if (content.files.size() > kit_format::kMaxEntries) {
    *error = std::to_string(content.files.size()) + " files, more than the " +
             std::to_string(kit_format::kMaxEntries) + " a kit may hold";
    return std::string();
  }
  std::string head = EncodeKitHead(content);
  if (head.size() > kit_format::kMaxHeadBytes) {
    *error = "the list of files takes " + std::to_string(head.size() >> 20) +
             " MiB, more than the " + std::to_string(kit_format::kMaxHeadBytes >> 20) +
             " MiB a kit may have";
    return std::string();
  }
  const uint64_t dataStart = head.size();
  uint64_t offset = 0;
  for (const KitSourceFile& file : content.files) {
    if (const char* reason = UnsafeNameReason(file.name)) {
      *error = "the name \"" + Narrow(file.name) + "\" " + reason;
      return std::string();
    }
    if (file.size > 0xFFFFFFFFu) {
      *error = file.diskPath + " is larger than 4 GiB, which a kit cannot hold";
      return std::string();
    }
    if (dataStart + offset >= kit_format::kMaxEntryStart) {
      *error = file.diskPath +
               " would start beyond 2 GiB in the unpacked kit, which the installer cannot reach";
      return std::string();
    }
    offset += file.size;
  }
  return head;
}

std::string DeflateRaw(const std::string& bytes, int level) {
  z_stream stream;
  std::memset(&stream, 0, sizeof(stream));
  deflateInit2(&stream, level, Z_DEFLATED, kit_format::kRawDeflateWindowBits, 9,
               Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, bytes.size()) + 16, '\0');
  stream.next_in = reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<unsigned char*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

bool WriteKit(const KitContent& content, const std::string& outPath, std::string* error,
              bool trailer) {
  KitWriteOptions options;
  options.trailer = trailer;
  return WriteKit(content, outPath, error, options);
}

bool WriteKit(const KitContent& content, const std::string& outPath, std::string* error,
              const KitWriteOptions& options) {
  std::string problem;
  const ReplaceResult result = ReplaceFileDurably(outPath, NewFileMode::kUmask, 0644, [&](int fd) {
    return WriteKitTo(content, fd, &problem, options);
  });
  if (result == ReplaceResult::kDone) return true;
  if (!problem.empty()) {
    *error = problem;
  } else {
    *error =
        std::string(result == ReplaceResult::kNotCreated ? "cannot create " : "cannot write ") +
        outPath + ": " + std::strerror(errno);
  }
  return false;
}

bool WriteKitTo(const KitContent& content, int fd, std::string* error,
                const KitWriteOptions& options) {
  std::string head = BuildKitHead(content, error);
  if (head.empty()) return false;
  auto fail = [&](const std::string& message) {
    *error = message;
    return false;
  };
  uint64_t total = 0;
  for (const KitSourceFile& file : content.files) total += file.size;
  DeflateSink sink(fd, std::clamp(options.level, 0, 9));
  if (!sink.Feed(head.data(), head.size())) return fail(std::string("cannot write the kit"));
  std::unique_ptr<char[]> block(new char[1 << 20]);
  uint64_t packed = 0;
  std::vector<Digest> entryDigests;
  for (const KitSourceFile& file : content.files) {
    ScopedFd in = OpenFile(file.diskPath, O_RDONLY | O_CLOEXEC);
    if (!in.IsValid()) return fail("cannot open " + file.diskPath + ": " + std::strerror(errno));
    uint64_t done = 0;
    Sha256 entryDigest;
    for (;;) {
      ssize_t n = ReadSome(in.Get(), block.get(), 1 << 20);
      if (n < 0) return fail("cannot read " + file.diskPath + ": " + std::strerror(errno));
      if (n == 0) break;
      done += static_cast<uint64_t>(n);
      if (done > file.size || !sink.Feed(block.get(), static_cast<size_t>(n))) break;
      if (options.entryDigests) entryDigest.Update(block.get(), static_cast<size_t>(n));
      if (options.progress) options.progress(packed + done, total);
    }
    if (!sink.ok()) return fail(std::string("cannot write the kit: ") + std::strerror(errno));
    if (done != file.size) return fail(file.diskPath + " changed while it was packed");
    if (options.entryDigests) entryDigests.push_back(entryDigest.Final());
    packed += done;
  }
  if (!sink.Finish()) return fail(std::string("cannot write the kit: ") + std::strerror(errno));
  if (options.trailer && options.entryDigests && !sink.Append(EncodeEntryDigests(entryDigests))) {
    return fail(std::string("cannot write the kit: ") + std::strerror(errno));
  }
  if (options.trailer) {
    KitTrailer t;
    t.entryBytes = total;
    t.unpackedSize = head.size() + t.entryBytes;
    t.digest = sink.TakeDigest();
    if (!WriteFully(fd, EncodeTrailer(t))) {
      return fail(std::string("cannot write the kit: ") + std::strerror(errno));
    }
  }
  return true;
}

namespace {

// Replaces `key`'s signature among `all` by `signature`.
void PutSignature(std::vector<KitSignature>* all, const KitSignature& signature) {
  all->erase(
      std::remove_if(all->begin(), all->end(),
                     [&](const KitSignature& s) { return s.publicKey == signature.publicKey; }),
      all->end());
  all->push_back(signature);
}

bool MakeSignature(const SecretKey& key, const Digest& digest, KitSignature* signature,
                   std::string* error) {
  signature->keyId = key.publicKey.Id();
  signature->publicKey = key.publicKey;
  if (!SignDigest(key, digest, &signature->signature)) {
    *error = "the signature cannot be made";
    return false;
  }
  return true;
}

// The kit in `data` with `key`'s signature added to its trailer, after its
// digest is checked; its trailer in `*trailer`.
bool SignedKitBytes(const unsigned char* data, size_t size, const SecretKey& key,
                    KitTrailer* trailer, std::string* out, std::string* error) {
  size_t streamEnd = 0;
  switch (FindTrailer(data, size, trailer, &streamEnd, error)) {
    case TrailerState::kAbsent:
      *error = "no trailer: the kit cannot be checked (pack it again to add one)";
      return false;
    case TrailerState::kDamaged:
      return false;
    case TrailerState::kPresent:
      break;
  }
  streamEnd += static_cast<size_t>(trailer->tableSize);  // what the digest covers
  if (Sha256Of(data, streamEnd) != trailer->digest) {
    *error = "digest mismatch: the kit is damaged or was changed after it was made";
    return false;
  }
  KitSignature signature;
  if (!MakeSignature(key, trailer->digest, &signature, error)) return false;
  PutSignature(&trailer->signatures, signature);
  out->assign(reinterpret_cast<const char*>(data), streamEnd);
  *out += EncodeTrailer(*trailer);
  return true;
}

}  // namespace

bool SignKit(const std::string& kitPath, const SecretKey& key, std::string* error) {
  ScopedFd kit = OpenFile(kitPath, O_RDONLY | O_CLOEXEC);
  struct stat st;
  MappedFile mapping;
  if (!kit.IsValid() || !StatOf(kit.Get(), &st) ||
      !mapping.Map(kit.Get(), static_cast<size_t>(st.st_size))) {
    *error = std::string("cannot be read: ") + std::strerror(errno);
    return false;
  }
  KitExtent extent;
  if (!KitExtentOf(kit.Get(), static_cast<uint64_t>(st.st_size), &extent)) {
    *error = std::string("cannot be read: ") + std::strerror(errno);
    return false;
  }
  KitTrailer trailer;
  std::string signedKit;
  if (!SignedKitBytes(mapping.data() + extent.offset, static_cast<size_t>(extent.size), key,
                      &trailer, &signedKit, error)) {
    return false;
  }
  std::string head;  // a bundle's program and its seal, signed over both
  if (extent.bundled) {
    ProgramSeal seal;
    switch (ReadProgramSeal(kit.Get(), extent, &seal, error)) {
      case TrailerState::kAbsent:
        *error = "an installer bundled before programs were sealed: bundle it again";
        return false;
      case TrailerState::kDamaged:
        return false;
      case TrailerState::kPresent:
        break;
    }
    if (Sha256Of(mapping.data(), static_cast<size_t>(seal.offset)) != seal.programDigest) {
      *error = "the program does not match its digest: it was changed after it was bundled";
      return false;
    }
    KitSignature signature;
    if (!MakeSignature(key, BundleDigest(seal.programDigest, trailer.digest), &signature, error)) {
      return false;
    }
    PutSignature(&seal.signatures, signature);
    head.assign(reinterpret_cast<const char*>(mapping.data()), static_cast<size_t>(seal.offset));
    head += EncodeProgramSeal(seal);
  }
  if (ReplaceFileDurably(kitPath, NewFileMode::kExact, st.st_mode & 07777, [&](int out) {
        return WriteFully(out, head) && WriteFully(out, signedKit) &&
               (!extent.bundled ||
                WriteFully(out, EncodeBundleFooter(head.size(), signedKit.size())));
      }) != ReplaceResult::kDone) {
    *error = "cannot replace the kit: " + std::string(std::strerror(errno));
    return false;
  }
  return true;
}

}  // namespace qorv
