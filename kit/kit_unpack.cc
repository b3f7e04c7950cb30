// The whole-stream unpacking of a kit into a file (declared in
// kit/kit_reader.h): what the reader does for a kit it cannot read in place.
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "fs/error_codes.h"
#include "fs/file_ops.h"
#include "fs/file_util.h"
#include "kit/kit_bundle.h"
#include "kit/kit_reader.h"

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
  return UnpackKitTo(
      kitPath,
      [out](const unsigned char* bytes, size_t size) {
        return WriteFully(out, std::string_view(reinterpret_cast<const char*>(bytes), size));
      },
      complete, check);
}

uint32_t UnpackKitTo(const std::string& kitPath, const UnpackedSink& sink, bool* complete,
                     KitCheck* check) {
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
      if (!sink(buffer.get(), produced)) {
        // Never parse a cut kit; a full disk is said as such, not as damage.
        code = CodeOfFailedWrite(errno, CodeFromErrno(errno));
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
    digest.Update(kitBytes + streamSize, static_cast<size_t>(check->trailer.tableSize));
    if ((code = CheckKitDigest(check->trailer, digest.Final(), &check->problem)) != 0) return code;
    if (unpacked != check->trailer.unpackedSize) {
      check->problem = "the trailer's sizes disagree with the stream";
      return kErrorInvalidData;
    }
  }
  return code;
}

}  // namespace qorv
