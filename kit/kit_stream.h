// Reads a kit's entries straight from the kit file, in one pass, without an
// unpacked copy: the installer's way with kits that carry a trailer and keep
// their entries in the data area in order (what `vkt pack` writes).
//
// KitInflater inflates the stream a piece at a time from the open kit file,
// taking the digest of every byte it reads. KitStream runs one over the data
// area on a thread of its own and hands the bytes of the entries it was asked
// for to one reader, chunk by chunk and in entry order; the bytes of the
// others are inflated and dropped, and nothing is inflated past the last
// entry asked for. Finish(true) then reads the rest of the stream and checks
// the digest of all of it against the trailer, so that a kit file changed
// after its check fails the run that read it.
//
// A KitStream is made, read and finished on one thread (the copy thread);
// its own thread is joined by Finish() or the destructor.
#ifndef QORV_KIT_KIT_STREAM_H_
#define QORV_KIT_KIT_STREAM_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kit/kit_crypto.h"

struct z_stream_s;

namespace qorv {

struct KitEntry;

class KitInflater {
 public:
  // The raw-DEFLATE stream held by the `size` bytes at `offset` of the open
  // file `fd`, which stays the caller's.
  KitInflater(int fd, uint64_t offset, uint64_t size);
  ~KitInflater();
  KitInflater(const KitInflater&) = delete;
  KitInflater& operator=(const KitInflater&) = delete;

  // Up to `room` inflated bytes into `out`, at least one unless the stream
  // has ended (then *got is 0). Returns 0; 13 when the stream is damaged or
  // the file ends before it does; a file-layer code when it cannot be read.
  uint32_t Inflate(unsigned char* out, size_t room, size_t* got);
  // Inflates and drops the next `count` bytes; 13 when the stream ends first.
  uint32_t Skip(uint64_t count);
  // Reads the rest of the stream's bytes without inflating them, for the
  // digest; 1223 when `stop` answers true between two pieces.
  uint32_t HashRest(const std::function<bool()>& stop);
  // The digest of every byte read so far.
  Digest Final() { return hash_.Final(); }
  // Inflated bytes so far.
  uint64_t Position() const { return position_; }
  bool Ended() const { return ended_; }
  const std::string& Problem() const { return problem_; }

 private:
  uint32_t Fill();
  uint32_t Damaged(std::string problem);

  std::unique_ptr<z_stream_s> stream_;
  int fd_;
  uint64_t next_;  // the file position of the next piece
  uint64_t end_;
  std::unique_ptr<unsigned char[]> input_;
  Sha256 hash_;
  uint64_t position_ = 0;
  bool ended_ = false;
  std::string problem_;
};

class KitStream {
 public:
  struct Chunk {
    size_t entry = 0;
    const unsigned char* data = nullptr;
    size_t size = 0;
    size_t buffer = 0;
  };

  // The stream of the `size` bytes at `offset` of `fd`, whose digest must
  // be `digest` and which inflates to `unpackedSize` bytes; `entries` with
  // absolute offsets, in order and without overlap (the caller has checked
  // that); `wanted[i]` tells whether entry i's bytes are handed out. All of
  // it must outlive the stream.
  KitStream(int fd, uint64_t offset, uint64_t size, const Digest& digest, uint64_t unpackedSize,
            const std::vector<KitEntry>& entries, std::vector<bool> wanted);
  ~KitStream();
  KitStream(const KitStream&) = delete;
  KitStream& operator=(const KitStream&) = delete;

  // Starts inflating: on a thread of its own, or, without `threaded`, only
  // when Next() asks.
  void Start(bool threaded);
  // The next bytes of the wanted entries, in order. Returns 0; 13 when the
  // stream ends early or is damaged; a file-layer code when the kit cannot
  // be read (Problem() says which). Each chunk goes back with Done().
  uint32_t Next(Chunk* chunk);
  void Done(const Chunk& chunk);
  // Ends the stream. With `verify`, first reads the rest and checks the
  // digest of every byte: 13 when it no longer matches (the kit file was
  // changed), or an earlier failure's code.
  uint32_t Finish(bool verify);
  std::string Problem() const;

 private:
  static constexpr size_t kBufferSize = size_t{1} << 20;
  static constexpr size_t kBufferCount = 8;

  // Inflates the next piece of a wanted entry into the buffer being
  // filled; *end once the last wanted entry is complete.
  uint32_t Produce(Chunk* chunk, bool* end);
  // Waits for a buffer with room; false when told to stop.
  bool TakeBuffer(std::unique_lock<std::mutex>& lock);
  void ReleaseBuffer(size_t buffer);
  void Produced(uint32_t code);
  void RunThread();
  uint32_t Verify(const std::function<bool()>& stop);

  KitInflater inflater_;
  const Digest digest_;
  const uint64_t unpackedSize_;
  const std::vector<KitEntry>& entries_;
  const std::vector<bool> wanted_;
  size_t current_ = 0;  // the entry being inflated
  uint64_t left_ = 0;   // its bytes still to come
  bool started_ = false;

  std::vector<std::unique_ptr<unsigned char[]>> buffers_;
  std::vector<int> users_;  // chunks handed out of each buffer, +1 while filled
  std::vector<size_t> free_;
  size_t filling_ = SIZE_MAX;
  size_t used_ = 0;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Chunk> ready_;
  bool threaded_ = false;
  bool producerDone_ = false;  // the thread has nothing more to do
  bool entriesDone_ = false;   // every wanted byte has been produced
  bool stop_ = false;
  bool verifyRest_ = false;
  uint32_t failure_ = 0;
  uint32_t result_ = 0;  // what Finish() answered
  std::string problem_;
  std::string pending_;  // the producer's own words for its failure
  std::thread thread_;
};

}  // namespace qorv

#endif  // QORV_KIT_KIT_STREAM_H_
