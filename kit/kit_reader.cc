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

// Inflated output is written in blocks this large: big enough that the
// file-system calls cost nothing next to inflate itself.
constexpr size_t kInflateBlock = 1 << 20;
// zlib counts input in 32-bit units; a larger kit is fed in pieces.
constexpr size_t kInputPiece = size_t{1} << 30;
// Pieces small enough to be in the cache still when inflate reads them
// after the digest has.
constexpr size_t kHashedPiece = size_t{1} << 20;

using kit_format::GetU32;
using kit_format::kMinDescriptionRecord;
using kit_format::kMinEntryRecord;

WideString TextOf(const unsigned char* p, uint32_t count) {
  WideString text;
  text.resize(count, u'\0');
  char16_t* out = count == 0 ? nullptr : text.MutableData();
  for (uint32_t i = 0; i < count; ++i) {
    out[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
  }
  return text;
}

std::string Quote(const WideString& text) { return "\"" + Narrow(text) + "\""; }

// Whether the kit's bytes have `digest`, the trailer's, and every signature
// the trailer carries holds for it.
uint32_t CheckDigest(const KitTrailer& trailer, const Digest& digest, std::string* problem) {
  if (digest != trailer.digest) {
    *problem = "digest mismatch: the kit is damaged or was changed after it was made";
    return kErrorInvalidData;
  }
  // Whoever made a signature, it must hold for this kit: one that does
  // not is damage or forgery, never to be passed over.
  const std::vector<KitSignature>& signatures = trailer.signatures;
  for (size_t i = 0; i < signatures.size(); ++i) {
    const KitSignature& s = signatures[i];
    if (s.keyId != s.publicKey.Id() || !VerifyDigest(s.publicKey, trailer.digest, s.signature)) {
      *problem =
          "signature " + std::to_string(i + 1) + " (key " + Hex(s.keyId) + ") does not verify";
      return kErrorInvalidData;
    }
  }
  return kErrorNone;
}

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

uint32_t UnpackKit(const std::string& kitPath, const std::string& unpackedPath, bool* complete) {
  if (complete != nullptr) *complete = false;
  int out = -1;
  uint32_t code = FileOpen(unpackedPath, kWriteAccess, 0, kCreateAlways, &out);
  if (code != 0) return code;
  code = UnpackKitInto(kitPath, out, complete);
  uint32_t closeCode = FileClose(out);
  return code != kErrorNone ? code : closeCode;
}

uint32_t UnpackKitInto(const std::string& kitPath, int out, bool* complete, KitCheck* check) {
  if (complete != nullptr) *complete = false;
  if (check != nullptr) *check = KitCheck();
  int opened = -1;
  uint32_t code = FileOpen(kitPath, kReadAccess, 0, kOpenExisting, &opened);
  if (code != 0) return code;
  ScopedFd kit(opened);
  struct stat st;
  if (!StatOf(kit.Get(), &st)) return kErrorInvalidHandle;
  MappedFile mapping;
  if (!mapping.Map(kit.Get(), static_cast<size_t>(st.st_size))) return kErrorInvalidParameter;
  kit.Close();  // the mapping keeps the content reachable
  // The kit itself, or the one an installer carries.
  const KitExtent extent =
      KitExtentFrom(mapping.data() + mapping.size() - std::min(mapping.size(), kBundleFooterSize),
                    mapping.size());
  const unsigned char* const kitBytes = mapping.data() + extent.offset;
  size_t streamSize = static_cast<size_t>(extent.size);
  if (check != nullptr) {
    switch (FindTrailer(kitBytes, streamSize, &check->trailer, &streamSize, &check->problem)) {
      case TrailerState::kAbsent:
        break;
      case TrailerState::kPresent:
        check->hasTrailer = true;
        break;
      case TrailerState::kDamaged:
        return kErrorInvalidData;
    }
  }
  // The digest is taken piece by piece just before inflate reads the piece,
  // so the kit's bytes are read from memory once, not in a second pass.
  Sha256 digest;
  const bool hashing = check != nullptr && check->hasTrailer;
  uint64_t unpacked = 0;

  z_stream stream;
  std::memset(&stream, 0, sizeof(stream));
  code = kErrorNone;
  if (inflateInit2(&stream, kit_format::kRawDeflateWindowBits) != Z_OK)
    code = kErrorInvalidParameter;
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kInflateBlock]);
  const unsigned char* input = kitBytes;
  size_t inputLeft = streamSize;
  while (code == kErrorNone) {
    if (stream.avail_in == 0 && inputLeft != 0) {
      size_t piece = std::min(inputLeft, hashing ? kHashedPiece : kInputPiece);
      if (hashing) digest.Update(input, piece);
      stream.next_in = const_cast<unsigned char*>(input);
      stream.avail_in = static_cast<uInt>(piece);
      input += piece;
      inputLeft -= piece;
    }
    stream.next_out = buffer.get();
    stream.avail_out = static_cast<uInt>(kInflateBlock);
    int result = inflate(&stream, Z_NO_FLUSH);
    size_t produced = kInflateBlock - stream.avail_out;
    if (produced != 0) {
      unpacked += produced;
      if (!WriteFully(out, std::string_view(reinterpret_cast<char*>(buffer.get()), produced))) {
        // Never parse a cut kit; a full disk is said as such, not as damage.
        code = errno == ENOSPC || errno == EDQUOT ? kErrorDiskFull : CodeFromErrno(errno);
        break;
      }
    }
    bool inputDone = stream.avail_in == 0 && inputLeft == 0;
    if (result == Z_STREAM_END) {
      if (complete != nullptr) *complete = inputDone;
      // What follows the stream of a kit whose end holds no trailer: one
      // whose closing bytes were damaged must not pass for a kit without.
      if (check != nullptr && !check->hasTrailer && stream.avail_in != 0 &&
          StartsLikeTrailer(stream.next_in, stream.avail_in)) {
        check->problem = "the trailer is cut or overwritten";
        code = kErrorInvalidData;
      }
      break;
    }
    if (result == Z_BUF_ERROR && inputDone) break;  // the stream just stops
    if (result != Z_OK && result != Z_BUF_ERROR) {
      code = kErrorInvalidData;
      break;
    }
    if (result == Z_BUF_ERROR && produced == 0) {
      code = kErrorInvalidData;
      break;
    }
    if (stream.avail_out != 0 && inputDone) break;
  }
  inflateEnd(&stream);
  if (code == kErrorNone && hashing) {
    // The rest of the stream, when inflate stopped before its end, counts
    // too: the digest covers every byte before the trailer.
    if (inputLeft != 0) digest.Update(input, inputLeft);
    if ((code = CheckDigest(check->trailer, digest.Final(), &check->problem)) != 0) return code;
    if (unpacked != check->trailer.unpackedSize) {
      check->problem = "the trailer's sizes disagree with the stream";
      return kErrorInvalidData;
    }
  }
  return code;
}

// Reads the head record by record, checking every count and size against
// what is left of the unpacked kit before reading or allocating anything.
class KitReader::HeadParser {
 public:
  // `source` fills a buffer with the next bytes of the unpacked kit, whose
  // size is `size`: *got 0 at its end.
  using Source = std::function<uint32_t(char* buffer, size_t room, size_t* got)>;
  HeadParser(KitReader* reader, uint64_t size, Strictness strictness, Source source)
      : reader_(reader),
        size_(size),
        strict_(strictness == Strictness::kVerify),
        source_(std::move(source)) {}
  // Where the data area starts, once the head is read.
  uint64_t Position() const { return position_; }

  uint32_t Run();

 private:
  uint32_t Damaged(std::string problem) {
    if (reader_->problem_.empty()) reader_->problem_ = std::move(problem);
    return kErrorInvalidData;
  }
  uint64_t Left() const { return size_ - position_; }
  // Reads `count` bytes of the head through a small buffer: a head of ten
  // thousand entries then costs a few dozen calls, not twenty thousand.
  uint32_t Read(void* out, uint32_t count, const std::string& what) {
    if (count > Left()) return Damaged("the kit ends inside " + what);
    char* dest = static_cast<char*>(out);
    uint32_t need = count;
    while (need > 0) {
      if (bufferPos_ == bufferEnd_) {
        size_t got = 0;
        uint32_t code = source_(buffer_, sizeof(buffer_), &got);
        if (code != 0) return code;
        if (got == 0) return Damaged("the kit ends inside " + what);
        bufferPos_ = 0;
        bufferEnd_ = got;
      }
      size_t take = std::min<size_t>(need, bufferEnd_ - bufferPos_);
      std::memcpy(dest, buffer_ + bufferPos_, take);
      bufferPos_ += take;
      dest += take;
      need -= static_cast<uint32_t>(take);
    }
    position_ += count;
    return kErrorNone;
  }
  uint32_t ReadU32(uint32_t* value, const std::string& what) {
    unsigned char bytes[4];
    uint32_t code = Read(bytes, 4, what);
    if (code == 0) *value = GetU32(bytes);
    return code;
  }
  // A text inside a record block: count, then the units.
  uint32_t TakeText(const std::vector<unsigned char>& block, size_t* at, WideString* text,
                    const std::string& what) {
    if (block.size() - *at < 4) return Damaged(what + " runs past its record");
    int32_t count = static_cast<int32_t>(GetU32(block.data() + *at));
    *at += 4;
    if (count < 0) return Damaged(what + " has a negative length");
    if (static_cast<uint64_t>(count) * 2 > block.size() - *at) {
      return Damaged(what + " runs past its record");
    }
    *text = TextOf(block.data() + *at, static_cast<uint32_t>(count));
    *at += static_cast<size_t>(count) * 2;
    return kErrorNone;
  }
  // A text read straight from the file (the head without language table).
  uint32_t ReadText(WideString* text, const std::string& what) {
    uint32_t raw = 0;
    uint32_t code = ReadU32(&raw, what);
    if (code != 0) return code;
    int32_t count = static_cast<int32_t>(raw);
    if (count < 0) return Damaged(what + " has a negative length");
    if (static_cast<uint64_t>(count) * 2 > Left()) return Damaged("the kit ends inside " + what);
    std::vector<unsigned char> units;
    code = ReadBlock(&units, static_cast<uint32_t>(count) * 2, what);
    if (code == 0) *text = TextOf(units.data(), static_cast<uint32_t>(count));
    return code;
  }
  // `size` bytes, taken as they arrive: the size is the kit's word, and the
  // kit may end long before it.
  uint32_t ReadBlock(std::vector<unsigned char>* block, uint32_t size, const std::string& what) {
    constexpr size_t kStep = 1 << 16;
    block->clear();
    while (block->size() < size) {
      const size_t at = block->size();
      const size_t step = std::min<size_t>(size - at, kStep);
      block->resize(at + step);
      uint32_t code = Read(block->data() + at, static_cast<uint32_t>(step), what);
      if (code != 0) return code;
    }
    return kErrorNone;
  }
  uint32_t ReadRecord(std::vector<unsigned char>* block, uint32_t minimum,
                      const std::string& what) {
    uint32_t recordSize = 0;
    uint32_t code = ReadU32(&recordSize, what);
    if (code != 0) return code;
    if (recordSize < minimum) return Damaged(what + " is shorter than its fields");
    if (recordSize - 4 > Left()) return Damaged(what + " runs past the end of the kit");
    return ReadBlock(block, recordSize - 4, what);
  }
  uint32_t ReadDescriptions();
  uint32_t ReadEntries();

  KitReader* reader_;
  uint64_t size_;
  uint64_t position_ = 0;
  bool strict_;
  Source source_;
  char buffer_[65536];
  size_t bufferPos_ = 0;
  size_t bufferEnd_ = 0;
};

uint32_t KitReader::HeadParser::ReadDescriptions() {
  uint32_t flag = 0;
  uint32_t code = ReadU32(&flag, "the language table flag");
  if (code != 0) return code;
  if (flag == 0) {
    KitDescription description;
    description.language = u"en";
    if ((code = ReadText(&description.product, "the product name")) != 0 ||
        (code = ReadText(&description.provider, "the provider name")) != 0 ||
        (code = ReadText(&description.descriptionPath, "the description path")) != 0) {
      return code;
    }
    if (!description.descriptionPath.empty() && !IsSafeEntryName(description.descriptionPath)) {
      description.descriptionPath = WideString();
    }
    reader_->descriptions_.push_back(std::move(description));
    return kErrorNone;
  }
  uint32_t count = 0;
  if ((code = ReadU32(&count, "the description count")) != 0) return code;
  if (count > Left() / kMinDescriptionRecord) {
    return Damaged("the description count is larger than the kit");
  }
  std::vector<unsigned char> block;
  for (uint32_t i = 0; i < count; ++i) {
    std::string what = "description " + std::to_string(i + 1);
    if ((code = ReadRecord(&block, kMinDescriptionRecord, what)) != 0) return code;
    KitDescription description;
    size_t at = 0;
    if ((code = TakeText(block, &at, &description.language, what + ": the language")) != 0 ||
        (code = TakeText(block, &at, &description.product, what + ": the product name")) != 0 ||
        (code = TakeText(block, &at, &description.provider, what + ": the provider name")) != 0 ||
        (code = TakeText(block, &at, &description.descriptionPath,
                         what + ": the description path")) != 0) {
      return code;
    }
    if (strict_ && at != block.size()) {
      return Damaged(what + ": the record is longer than its fields");
    }
    if (!description.descriptionPath.empty() && !IsSafeEntryName(description.descriptionPath)) {
      if (strict_) {
        return Damaged(what + ": the description path " + Quote(description.descriptionPath) + " " +
                       UnsafeNameReason(description.descriptionPath));
      }
      description.descriptionPath = WideString();
    }
    reader_->descriptions_.push_back(std::move(description));
  }
  return kErrorNone;
}

uint32_t KitReader::HeadParser::ReadEntries() {
  uint32_t count = 0;
  uint32_t code = ReadU32(&count, "the entry count");
  if (code != 0) return code;
  if (count > Left() / kMinEntryRecord) return Damaged("the entry count is larger than the kit");
  std::vector<unsigned char> block;
  std::vector<KitEntry>& entries = reader_->entries_;
  for (uint32_t i = 0; i < count; ++i) {
    std::string what = "entry " + std::to_string(i + 1);
    if ((code = ReadRecord(&block, kMinEntryRecord, what)) != 0) return code;
    KitEntry entry;
    size_t at = 0;
    if ((code = TakeText(block, &at, &entry.name, what + ": the name")) != 0) return code;
    if (block.size() - at < 16) return Damaged(what + ": the record is shorter than its fields");
    entry.time.low = GetU32(block.data() + at);
    entry.time.high = GetU32(block.data() + at + 4);
    entry.offset = GetU32(block.data() + at + 8);
    entry.size = GetU32(block.data() + at + 12);
    if (strict_ && at + 16 != block.size()) {
      return Damaged(what + ": the record is longer than its fields");
    }
    if (const char* reason = UnsafeNameReason(entry.name)) {
      return Damaged(what + ": the name " + Quote(entry.name) + " " + reason);
    }
    entries.push_back(std::move(entry));
  }
  // Offsets count from the data area, which starts right after the table.
  const uint64_t dataStart = position_;
  for (size_t i = 0; i < entries.size(); ++i) {
    uint64_t start = dataStart + entries[i].offset;
    if (start + entries[i].size > size_) {
      return Damaged("entry " + std::to_string(i + 1) + " (" + Quote(entries[i].name) +
                     ") reaches past the end of the kit");
    }
    if (start >= kMaxEntryStart) {
      return Damaged("entry " + std::to_string(i + 1) + " starts beyond 2 GiB");
    }
    entries[i].offset = static_cast<uint32_t>(start);
  }
  return kErrorNone;
}

uint32_t KitReader::HeadParser::Run() {
  uint32_t code = ReadDescriptions();
  if (code == 0) code = ReadEntries();
  return code;
}

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
  entries_.clear();
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
  for (uint64_t at = 0; at < streamEnd;) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(bufferSize_, streamEnd - at));
    ssize_t got = ReadAt(kit.Get(), buffer_.get(), want, static_cast<off64_t>(extent.offset + at));
    if (got <= 0) {
      problem_ = got == 0 ? "the kit file is shorter than its trailer says" : std::strerror(errno);
      return FailOpen(got == 0 ? kErrorInvalidData : CodeFromErrno(errno));
    }
    digest.Update(buffer_.get(), static_cast<size_t>(got));
    at += static_cast<uint64_t>(got);
  }
  if ((code = CheckDigest(trailer, digest.Final(), &problem_)) != 0) return FailOpen(code);
  knownUnpackedSize_ = trailer.unpackedSize;
  KitInflater head(kit.Get(), extent.offset, streamEnd);
  HeadParser parser(this, trailer.unpackedSize, Strictness::kInstaller,
                    [&head](char* buffer, size_t room, size_t* got) {
                      return head.Inflate(reinterpret_cast<unsigned char*>(buffer), room, got);
                    });
  code = parser.Run();
  // A kit whose entries do not lie in order, whose data area does not end
  // where the trailer says the stream does, or whose head does not read
  // against that size, is read the way every other kit is: unpacked first,
  // which also names what is wrong with it exactly.
  if (code != 0 || !InStreamOrder(entries_) ||
      std::max(parser.Position(), DataEnd(entries_)) != trailer.unpackedSize) {
    if (code != 0 && code != kErrorInvalidData) return FailOpen(code);
    descriptions_.clear();
    entries_.clear();
    problem_.clear();
    return kErrorNone;
  }
  check_.hasTrailer = true;
  check_.trailer = trailer;
  if ((code = CheckEntryBytes()) != 0) return code;
  kit_ = std::move(kit);
  streamOffset_ = extent.offset;
  streamSize_ = streamEnd;
  streams_ = true;
  *inPlace = true;
  return kErrorNone;
}

uint32_t KitReader::CheckEntryBytes() {
  if (!check_.hasTrailer) return kErrorNone;
  uint64_t entryBytes = 0;
  for (const KitEntry& entry : entries_) entryBytes += entry.size;
  if (entryBytes != check_.trailer.entryBytes) {
    problem_ = "the trailer's sizes disagree with the stream";
    return FailOpen(kErrorInvalidData);
  }
  return kErrorNone;
}

uint32_t KitReader::Open(const std::string& kitPath, Strictness strictness) {
  Close();
  problem_.clear();
  descriptions_.clear();
  entries_.clear();
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
  entries_.clear();
  if (!SeekTo(fd_, 0)) return FailOpen(CodeFromErrno(errno));
  if ((code = ParseHead(strictness)) != 0) return code;
  return CheckEntryBytes();
}

uint32_t KitReader::OpenUnpacked(const std::string& unpackedPath, Strictness strictness) {
  if (!(unpackedPath == unpackedPath_)) Close();
  unpackedPath_ = unpackedPath;
  uint32_t code = FileOpen(unpackedPath_, kReadAccess | kWriteAccess, 0, kOpenExisting, &fd_);
  if (code != 0) return FailOpen(code);
  entries_.clear();
  return ParseHead(strictness);
}

uint32_t KitReader::ParseHead(Strictness strictness) {
  struct stat st;
  if (!StatOf(fd_, &st)) return FailOpen(kErrorInvalidHandle);
  HeadParser parser(
      this, static_cast<uint64_t>(st.st_size), strictness,
      [this](char* buffer, size_t room, size_t* got) { return FileRead(fd_, buffer, room, got); });
  uint32_t code = parser.Run();
  if (code != 0) {
    if (problem_.empty()) problem_ = "the unpacked kit cannot be read";
    return FailOpen(code);
  }
  return kErrorNone;
}

void KitReader::GetProductAndProvider(const WideString& language, WideString* product,
                                      WideString* provider) const {
  for (const KitDescription& description : descriptions_) {
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
  for (const KitDescription& description : descriptions_) {
    if (CompareNoCase(description.language, language) == 0) {
      if (!description.descriptionPath.empty()) return description.descriptionPath;
      break;
    }
  }
  for (const KitDescription& description : descriptions_) {
    if (CompareNoCase(description.language, WideString(u"en")) == 0) {
      return description.descriptionPath;
    }
  }
  return WideString();
}

uint32_t KitReader::BeginStream(std::vector<bool> wanted) {
  EndStream(false);
  if (!streams_ || wanted.size() != entries_.size()) return kErrorInvalidParameter;
  stream_ =
      std::make_unique<KitStream>(kit_.Get(), streamOffset_, streamSize_, check_.trailer.digest,
                                  check_.trailer.unpackedSize, entries_, std::move(wanted));
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
    std::vector<bool> wanted(entries_.size(), false);
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
  bytes->reserve(entries_[index].size);
  return ReadEntryTo(index, [bytes](const unsigned char* data, size_t size) {
    bytes->append(reinterpret_cast<const char*>(data), size);
  });
}

uint32_t KitReader::ReadEntryTo(size_t index,
                                const std::function<void(const unsigned char*, size_t)>& sink) {
  uint32_t code = streams_ ? TakeFromStream(index) : kErrorNone;
  const KitEntry& entry = entries_[index];
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
  const KitEntry& entry = entries_[index];
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
