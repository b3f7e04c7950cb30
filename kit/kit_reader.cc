#include "kit/kit_reader.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "base/text_convert.h"
#include "fs/error_codes.h"
#include "fs/file_ops.h"
#include "fs/file_util.h"
#include "fs/fs_queries.h"
#include "kit/kit_bundle.h"
#include "kit/kit_names.h"
#include "kit/kit_stream.h"

namespace qorv {

namespace {

// Where the last entry ends: the unpacked kit's size, for a kit whose data
// area holds nothing but its entries.
uint64_t DataEnd(const std::vector<KitEntry>& entries) {
  uint64_t end = 0;
  for (const KitEntry& entry : entries) end = std::max(end, uint64_t{entry.offset} + entry.size);
  return end;
}

// Whether the entries lie in the data area in their order, each after the
// one before: then one pass over the stream reaches every one of them.
bool InStreamOrder(const std::vector<KitEntry>& entries) {
  uint64_t end = 0;
  for (const KitEntry& entry : entries) {
    if (entry.offset < end) return false;
    end = uint64_t{entry.offset} + entry.size;
  }
  return true;
}

}  // namespace

KitReader::KitReader() : buffer_(new char[kCopyBufferSize]) {}

KitReader::~KitReader() { Close(); }

void KitReader::Close() {
  EndStream(false);
  streams_ = false;
  kit_.Close();
  check_ = KitCheck();
  if (fd_ != -1) {
    FileClose(fd_);
    fd_ = -1;
  }
  if (!unpackedPath_.empty()) {
    ShellRemoveFile(unpackedPath_);
    unpackedPath_.clear();
  }
}

uint32_t KitReader::FailOpen(uint32_t code) {
  head_.entries.clear();
  Close();
  return code;
}

uint32_t KitReader::OpenInPlace(const std::string& kitPath, bool* inPlace) {
  *inPlace = false;
  knownUnpackedSize_ = 0;
  int opened = -1;
  uint32_t code = FileOpen(kitPath, kReadAccess, 0, kOpenExisting, &opened);
  if (code != 0) {
    problem_ = std::strerror(errno);
    return FailOpen(code);
  }
  ScopedFd kit(opened);
  struct stat st;
  KitExtent extent;  // the file, or the kit an installer carries
  if (!StatOf(kit.Get(), &st) ||
      !KitExtentOf(kit.Get(), static_cast<uint64_t>(st.st_size), &extent)) {
    return FailOpen(CodeFromErrno(errno));
  }
  KitTrailer trailer;
  uint64_t streamEnd = 0;
  switch (ReadTrailerAt(kit.Get(), extent, &trailer, &streamEnd, &problem_)) {
    case TrailerState::kAbsent:
      return kErrorNone;
    case TrailerState::kDamaged:
      return FailOpen(kErrorInvalidData);
    case TrailerState::kPresent:
      break;
  }
  // The digest first, in one read of the whole stream: nothing of a
  // damaged kit is looked at.
  Sha256 digest;
  const uint64_t digested = streamEnd + trailer.tableSize;  // the table is covered too
  for (uint64_t at = 0; at < digested;) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(bufferSize_, digested - at));
    ssize_t got = ReadAt(kit.Get(), buffer_.get(), want, static_cast<off64_t>(extent.offset + at));
    if (got <= 0) {
      problem_ = got == 0 ? "the kit file is shorter than its trailer says" : std::strerror(errno);
      return FailOpen(got == 0 ? kErrorInvalidData : CodeFromErrno(errno));
    }
    digest.Update(buffer_.get(), static_cast<size_t>(got));
    at += static_cast<uint64_t>(got);
  }
  if ((code = CheckKitDigest(trailer, digest.Final(), &problem_)) != 0) return FailOpen(code);
  knownUnpackedSize_ = trailer.unpackedSize;
  KitInflater head(kit.Get(), extent.offset, streamEnd);
  code = ReadKitHead(
      trailer.unpackedSize, false,
      [&head](char* buffer, size_t room, size_t* got) {
        return head.Inflate(reinterpret_cast<unsigned char*>(buffer), room, got);
      },
      &head_, &problem_);
  // A kit whose entries do not lie in order, whose data area does not end
  // where the trailer says the stream does, or whose head does not read
  // against that size, is read the way every other kit is: unpacked first,
  // which also names what is wrong with it exactly.
  if (code != 0 || !InStreamOrder(head_.entries) ||
      std::max(head_.dataStart, DataEnd(head_.entries)) != trailer.unpackedSize) {
    if (code != 0 && code != kErrorInvalidData) return FailOpen(code);
    head_.descriptions.clear();
    head_.entries.clear();
    problem_.clear();
    return kErrorNone;
  }
  check_.hasTrailer = true;
  check_.trailer = trailer;
  if ((code = CheckEntryBytes()) != 0) return code;
  kit_ = std::move(kit);
  streamOffset_ = extent.offset;
  streamSize_ = digested;  // the stream, and the table of entry digests after it
  streams_ = true;
  *inPlace = true;
  return kErrorNone;
}

uint32_t KitReader::CheckEntryBytes() {
  if (!check_.hasTrailer) return kErrorNone;
  uint64_t entryBytes = 0;
  for (const KitEntry& entry : head_.entries) entryBytes += entry.size;
  if (entryBytes != check_.trailer.entryBytes) {
    problem_ = "the trailer's sizes disagree with the stream";
    return FailOpen(kErrorInvalidData);
  }
  if (check_.trailer.HasEntryDigests() &&
      check_.trailer.entryDigests.size() != head_.entries.size()) {
    problem_ = "the table of entry digests disagrees with the entries";
    return FailOpen(kErrorInvalidData);
  }
  return kErrorNone;
}

uint32_t KitReader::Open(const std::string& kitPath, Strictness strictness) {
  Close();
  problem_.clear();
  head_.descriptions.clear();
  head_.entries.clear();
  kitPath_ = kitPath;
  if (strictness == Strictness::kInstaller) {
    bool inPlace = false;
    uint32_t code = OpenInPlace(kitPath, &inPlace);
    if (code != 0 || inPlace) return code;
    // A kit whose trailer says how large it unpacks: the room for that is
    // known before anything is written.
    uint64_t free = 0;
    uint64_t block = 0;
    if (knownUnpackedSize_ != 0 && FreeSpaceOf(TempDirectory(), &free, &block) &&
        knownUnpackedSize_ > free) {
      problem_ = TempDirectory() + ": " + std::to_string(knownUnpackedSize_) +
                 " bytes needed for the unpacked kit, " + std::to_string(free) + " free";
      return FailOpen(kErrorDiskFull);
    }
  }
  // Nameless from the start: however the process ends, even killed in the
  // middle of the unpacking, nothing of the kit stays in the temporary
  // directory.
  ScopedFd unpacked(OpenNamelessFile(TempDirectory().c_str()));
  if (!unpacked.IsValid()) {
    problem_ = "cannot create a temporary file in " + TempDirectory() + ": " + std::strerror(errno);
    return FailOpen(kErrorCannotMakeTemp);
  }
  bool complete = false;
  uint32_t code = UnpackKitInto(kitPath, unpacked.Get(), &complete, &check_);
  const int error = errno;
  if (code == kErrorInvalidData) {
    problem_ = check_.problem.empty() ? "not a valid compressed stream" : check_.problem;
    return FailOpen(code);
  }
  if (code != 0) {
    problem_ = code == kErrorDiskFull ? "the temporary directory " + TempDirectory() + " is full"
                                      : std::strerror(error);
    return FailOpen(code);
  }
  if (strictness == Strictness::kVerify && !complete) {
    problem_ = "the compressed stream is cut short or followed by other bytes";
    return FailOpen(kErrorInvalidData);
  }
  fd_ = unpacked.Release();
  head_.entries.clear();
  if (!SeekTo(fd_, 0)) return FailOpen(CodeFromErrno(errno));
  if ((code = ParseHead(strictness)) != 0) return code;
  return CheckEntryBytes();
}

uint32_t KitReader::OpenHeadOnly(const std::string& kitPath) {
  Close();
  problem_.clear();
  head_.descriptions.clear();
  head_.entries.clear();
  kitPath_ = kitPath;
  bool inPlace = false;
  uint32_t code = OpenInPlace(kitPath, &inPlace);
  if (code != 0 || inPlace) return code;
  std::string kept;
  uint64_t unpacked = 0;
  code = UnpackKitTo(
      kitPath,
      [&kept, &unpacked](const unsigned char* bytes, size_t size) {
        const size_t room = kMaxKeptHead - kept.size();
        kept.append(reinterpret_cast<const char*>(bytes), std::min(room, size));
        unpacked += size;
        return true;
      },
      nullptr, &check_);
  if (code != 0) {
    if (problem_.empty())
      problem_ = check_.problem.empty() ? "not a valid compressed stream" : check_.problem;
    return FailOpen(code);
  }
  size_t at = 0;
  code = ReadKitHead(
      unpacked, false,
      [&kept, &at](char* buffer, size_t room, size_t* got) {
        *got = std::min(room, kept.size() - at);
        std::memcpy(buffer, kept.data() + at, *got);
        at += *got;
        return kErrorNone;
      },
      &head_, &problem_);
  if (code != 0) {
    if (problem_.empty()) problem_ = "the unpacked kit's head cannot be read";
    return FailOpen(code);
  }
  return CheckEntryBytes();
}

uint32_t KitReader::OpenUnpacked(const std::string& unpackedPath, Strictness strictness) {
  if (!(unpackedPath == unpackedPath_)) Close();
  unpackedPath_ = unpackedPath;
  uint32_t code = FileOpen(unpackedPath_, kReadAccess | kWriteAccess, 0, kOpenExisting, &fd_);
  if (code != 0) return FailOpen(code);
  head_.entries.clear();
  return ParseHead(strictness);
}

uint32_t KitReader::ParseHead(Strictness strictness) {
  struct stat st;
  if (!StatOf(fd_, &st)) return FailOpen(kErrorInvalidHandle);
  uint32_t code = ReadKitHead(
      static_cast<uint64_t>(st.st_size), strictness == Strictness::kVerify,
      [this](char* buffer, size_t room, size_t* got) { return FileRead(fd_, buffer, room, got); },
      &head_, &problem_);
  if (code != 0) {
    if (problem_.empty()) problem_ = "the unpacked kit cannot be read";
    return FailOpen(code);
  }
  return kErrorNone;
}

void KitReader::GetProductAndProvider(const WideString& language, WideString* product,
                                      WideString* provider) const {
  for (const KitDescription& description : head_.descriptions) {
    if (CompareNoCase(description.language, language) == 0) {
      *product = description.product;
      *provider = description.provider;
      return;
    }
  }
  *product = WideString();
  *provider = WideString();
}

WideString KitReader::GetDescriptionPath(const WideString& language) const {
  for (const KitDescription& description : head_.descriptions) {
    if (CompareNoCase(description.language, language) == 0) {
      if (!description.descriptionPath.empty()) return description.descriptionPath;
      break;
    }
  }
  for (const KitDescription& description : head_.descriptions) {
    if (CompareNoCase(description.language, WideString(u"en")) == 0) {
      return description.descriptionPath;
    }
  }
  return WideString();
}

uint32_t KitReader::BeginStream(std::vector<bool> wanted) {
  EndStream(false);
  if (!streams_ || wanted.size() != head_.entries.size()) return kErrorInvalidParameter;
  stream_ =
      std::make_unique<KitStream>(kit_.Get(), streamOffset_, streamSize_, check_.trailer.digest,
                                  check_.trailer.unpackedSize, head_.entries, std::move(wanted));
  stream_->Start(streamThreaded_);
  streamNext_ = 0;
  return kErrorNone;
}

uint32_t KitReader::EndStream(bool verify) {
  if (!stream_) return kErrorNone;
  if (chunkHeld_) stream_->Done(chunk_);
  chunkHeld_ = false;
  uint32_t code = stream_->Finish(verify);
  if (code != 0) problem_ = stream_->Problem();
  stream_.reset();
  return code;
}

uint32_t KitReader::NextBlock(size_t index, uint64_t position, uint32_t remaining,
                              const unsigned char** data, size_t* size) {
  if (!streams_) {
    size_t want = std::min<size_t>(remaining, bufferSize_);
    ssize_t got = ReadAt(fd_, buffer_.get(), want, static_cast<off64_t>(position));
    if (got < 0) return CodeFromErrno(errno);
    if (got == 0) return kErrorInvalidData;  // the unpacked kit ends early
    *data = reinterpret_cast<const unsigned char*>(buffer_.get());
    *size = static_cast<size_t>(got);
    return kErrorNone;
  }
  if (chunkHeld_) stream_->Done(chunk_);
  chunkHeld_ = false;
  // The bytes of wanted entries that were not taken go by unwritten.
  do {
    if (chunkHeld_) stream_->Done(chunk_);
    uint32_t code = stream_->Next(&chunk_);
    if (code != 0) {
      problem_ = stream_->Problem();
      return code;
    }
    chunkHeld_ = true;
  } while (chunk_.entry < index);
  if (chunk_.entry != index || chunk_.size > remaining) {
    problem_ = "entry " + std::to_string(index + 1) + " was not asked of the stream";
    return kErrorInvalidParameter;
  }
  *data = chunk_.data;
  *size = chunk_.size;
  return kErrorNone;
}

uint32_t KitReader::TakeFromStream(size_t index) {
  if (!stream_) {
    std::vector<bool> wanted(head_.entries.size(), false);
    std::fill(wanted.begin() + static_cast<std::ptrdiff_t>(index), wanted.end(), true);
    BeginStream(std::move(wanted));
  }
  if (index < streamNext_) {
    problem_ = "entry " + std::to_string(index + 1) + " comes before one already read";
    return kErrorInvalidParameter;
  }
  streamNext_ = index + 1;
  return kErrorNone;
}

uint32_t KitReader::ReadEntry(size_t index, std::string* bytes) {
  bytes->clear();
  bytes->reserve(head_.entries[index].size);
  return ReadEntryTo(index, [bytes](const unsigned char* data, size_t size) {
    bytes->append(reinterpret_cast<const char*>(data), size);
  });
}

uint32_t KitReader::ReadEntryTo(size_t index,
                                const std::function<void(const unsigned char*, size_t)>& sink) {
  uint32_t code = streams_ ? TakeFromStream(index) : kErrorNone;
  const KitEntry& entry = head_.entries[index];
  uint32_t done = 0;
  while (code == 0 && done < entry.size) {
    const unsigned char* data = nullptr;
    size_t got = 0;
    code = NextBlock(index, uint64_t{entry.offset} + done, entry.size - done, &data, &got);
    if (code == 0) {
      sink(data, got);
      done += static_cast<uint32_t>(got);
    }
  }
  return code;
}

uint32_t KitReader::ExtractEntry(size_t index, const std::string& destination,
                                 const std::function<bool()>& cancelled, int permissions,
                                 Digest* digest) {
  const KitEntry& entry = head_.entries[index];
  if (streams_) {
    uint32_t code = TakeFromStream(index);
    if (code != 0) return code;
  }
  // Usually the destination is new (the copy moved any old file away): then
  // there is no old tail to cut. An existing file is opened as it is.
  // Templates are for everybody the umask lets read them, as with cp or tar.
  int out = -1;
  bool fresh = false;
  uint32_t code = OpenForContent(destination, &out, &fresh);
  if (code != 0) return code;
  auto fail = [out](uint32_t failure) {
    FileClose(out);
    return failure;
  };
  if (permissions >= 0 && !SetPermissions(out, static_cast<mode_t>(permissions) & 07777)) {
    return fail(CodeFromErrno(errno));
  }
  // Positioned reads: the unpacked kit's position is never moved, and each
  // block costs one call.
  uint64_t position = entry.offset;
  uint32_t remaining = entry.size;
  std::optional<Sha256> hash;
  if (digest != nullptr) hash.emplace();
  while (remaining > 0) {
    if (cancelled && cancelled()) return fail(kErrorCancelled);
    const unsigned char* data = nullptr;
    size_t got = 0;
    code = NextBlock(index, position, remaining, &data, &got);
    if (code != 0) return fail(code);
    if (hash) hash->Update(data, got);
    size_t written = 0;
    code = FileWrite(out, data, got, &written);
    if (code != 0) return fail(code);
    position += got;
    remaining -= static_cast<uint32_t>(got);
  }
  if (hash) *digest = hash->Final();
  return FinishContent(out, fresh, entry.size, entry.time);
}

}  // namespace qorv
