#include "kit/kit_stream.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

#include "fs/error_codes.h"
#include "fs/file_io.h"
#include "fs/file_util.h"
#include "kit/kit_format.h"
#include "kit/kit_reader.h"

namespace qorv {

namespace {

// Read from the kit file this much at a time: large enough that the calls
// cost nothing next to inflate, small enough to stay in the cache between
// the digest and inflate.
constexpr size_t kInputPiece = size_t{256} << 10;
// Dropped bytes are inflated into a scratch buffer this large.
constexpr size_t kSkipBlock = size_t{256} << 10;

}  // namespace

KitInflater::KitInflater(int fd, uint64_t offset, uint64_t size)
    : stream_(new z_stream_s()),
      fd_(fd),
      next_(offset),
      end_(offset + size),
      input_(new unsigned char[kInputPiece]) {
  if (inflateInit2(stream_.get(), kit_format::kRawDeflateWindowBits) != Z_OK) stream_.reset();
}

KitInflater::~KitInflater() {
  if (stream_) inflateEnd(stream_.get());
}

uint32_t KitInflater::Damaged(std::string problem) {
  if (problem_.empty()) problem_ = std::move(problem);
  return kErrorInvalidData;
}

uint32_t KitInflater::Fill() {
  size_t want = static_cast<size_t>(std::min<uint64_t>(kInputPiece, end_ - next_));
  ssize_t got = ReadAt(fd_, input_.get(), want, static_cast<off64_t>(next_));
  if (got < 0) {
    const int error = errno;
    problem_ = std::string("the kit cannot be read: ") + std::strerror(error);
    return CodeFromErrno(error);
  }
  if (got == 0) return Damaged("the kit file is shorter than when it was checked");
  hash_.Update(input_.get(), static_cast<size_t>(got));
  stream_->next_in = input_.get();
  stream_->avail_in = static_cast<uInt>(got);
  next_ += static_cast<uint64_t>(got);
  return kErrorNone;
}

uint32_t KitInflater::Inflate(unsigned char* out, size_t room, size_t* got) {
  *got = 0;
  if (!stream_) return kErrorInvalidParameter;
  if (ended_ || room == 0) return kErrorNone;
  room = std::min<size_t>(room, UINT32_MAX);
  for (;;) {
    if (stream_->avail_in == 0 && next_ < end_) {
      uint32_t code = Fill();
      if (code != 0) return code;
    }
    stream_->next_out = out;
    stream_->avail_out = static_cast<uInt>(room);
    int result = inflate(stream_.get(), Z_NO_FLUSH);
    size_t produced = room - stream_->avail_out;
    position_ += produced;
    if (result == Z_STREAM_END) {
      ended_ = true;
      *got = produced;
      return kErrorNone;
    }
    if (result != Z_OK && result != Z_BUF_ERROR) {
      return Damaged("the compressed stream is damaged " + std::to_string(position_) +
                     " bytes into the unpacked kit");
    }
    if (produced != 0) {
      *got = produced;
      return kErrorNone;
    }
    if (stream_->avail_in == 0 && next_ >= end_) {
      return Damaged("the compressed stream ends before the kit does");
    }
  }
}

uint32_t KitInflater::Skip(uint64_t count) {
  std::unique_ptr<unsigned char[]> scratch;
  while (count > 0) {
    if (!scratch) scratch.reset(new unsigned char[kSkipBlock]);
    size_t got = 0;
    uint32_t code =
        Inflate(scratch.get(), static_cast<size_t>(std::min<uint64_t>(count, kSkipBlock)), &got);
    if (code != 0) return code;
    if (got == 0) return Damaged("the compressed stream ends before the kit does");
    count -= got;
  }
  return kErrorNone;
}

uint32_t KitInflater::HashRest(const std::function<bool()>& stop) {
  // What inflate has not taken yet was hashed when it was read.
  while (next_ < end_) {
    if (stop && stop()) return kErrorCancelled;
    uint32_t code = Fill();
    if (code != 0) return code;
  }
  if (stream_) stream_->avail_in = 0;
  return kErrorNone;
}

KitStream::KitStream(int fd, uint64_t offset, uint64_t size, const Digest& digest,
                     uint64_t unpackedSize, const std::vector<KitEntry>& entries,
                     std::vector<bool> wanted)
    : inflater_(fd, offset, size),
      digest_(digest),
      unpackedSize_(unpackedSize),
      entries_(entries),
      wanted_(std::move(wanted)),
      buffers_(kBufferCount),
      users_(kBufferCount, 0) {
  for (size_t i = kBufferCount; i > 0; --i) free_.push_back(i - 1);
}

KitStream::~KitStream() { Finish(false); }

void KitStream::Start(bool threaded) {
  threaded_ = threaded;
  started_ = true;
  if (threaded_) thread_ = std::thread([this] { RunThread(); });
}

bool KitStream::TakeBuffer(std::unique_lock<std::mutex>& lock) {
  if (filling_ != SIZE_MAX && used_ < kBufferSize) return true;
  if (filling_ != SIZE_MAX) {
    ReleaseBuffer(filling_);
    filling_ = SIZE_MAX;
  }
  changed_.wait(lock, [this] { return !free_.empty() || stop_ || entriesDone_; });
  if (free_.empty() || stop_ || entriesDone_) return false;
  filling_ = free_.back();
  free_.pop_back();
  // Allocated when first needed: a small kit never takes all of them.
  if (!buffers_[filling_]) buffers_[filling_].reset(new unsigned char[kBufferSize]);
  users_[filling_] = 1;
  used_ = 0;
  return true;
}

void KitStream::ReleaseBuffer(size_t buffer) {
  if (--users_[buffer] == 0) free_.push_back(buffer);
}

uint32_t KitStream::Produce(Chunk* chunk, bool* end) {
  *end = false;
  while (left_ == 0) {
    while (current_ < entries_.size() && (!wanted_[current_] || entries_[current_].size == 0)) {
      ++current_;
    }
    if (current_ == entries_.size()) {
      *end = true;
      return kErrorNone;
    }
    const KitEntry& entry = entries_[current_];
    if (entry.offset < inflater_.Position()) {
      pending_ = "entry " + std::to_string(current_ + 1) + " overlaps the one before it";
      return kErrorInvalidData;
    }
    uint32_t code = inflater_.Skip(entry.offset - inflater_.Position());
    if (code != 0) return code;
    left_ = entry.size;
  }
  unsigned char* out = buffers_[filling_].get() + used_;
  size_t room = static_cast<size_t>(std::min<uint64_t>(left_, kBufferSize - used_));
  size_t got = 0;
  uint32_t code = inflater_.Inflate(out, room, &got);
  if (code != 0) return code;
  if (got == 0) {
    pending_ = "the compressed stream ends inside entry " + std::to_string(current_ + 1);
    return kErrorInvalidData;
  }
  left_ -= got;
  used_ += got;
  *chunk = Chunk{current_, out, got, filling_};
  if (left_ == 0) ++current_;
  return kErrorNone;
}

void KitStream::Produced(uint32_t code) {
  if (code == 0 || failure_ != 0) return;
  failure_ = code;
  problem_ = !pending_.empty() ? pending_ : inflater_.Problem();
}

uint32_t KitStream::Verify(const std::function<bool()>& stop) {
  uint32_t code = inflater_.HashRest(stop);
  if (code != 0) return code;
  if (inflater_.Ended() && inflater_.Position() != unpackedSize_) {
    pending_ = "the trailer's sizes disagree with the stream";
    return kErrorInvalidData;
  }
  if (inflater_.Final() != digest_) {
    pending_ = "the kit file changed after it was checked: its digest no longer matches";
    return kErrorInvalidData;
  }
  return kErrorNone;
}

void KitStream::RunThread() {
  std::unique_lock<std::mutex> lock(mutex_);
  try {
    while (!entriesDone_ && !stop_ && failure_ == 0) {
      if (!TakeBuffer(lock)) break;
      lock.unlock();
      Chunk chunk;
      bool end = false;
      uint32_t code = Produce(&chunk, &end);
      lock.lock();
      if (code != 0) {
        Produced(code);
      } else if (end) {
        entriesDone_ = true;
      } else if (!entriesDone_) {
        ++users_[chunk.buffer];
        ready_.push_back(chunk);
      }
      changed_.notify_all();
    }
    if (!stop_ && failure_ == 0) {
      entriesDone_ = true;
      lock.unlock();
      uint32_t code = Verify([this] {
        std::lock_guard<std::mutex> guard(mutex_);
        return stop_;
      });
      lock.lock();
      if (code != 0 && code != kErrorCancelled) Produced(code);
    }
  } catch (const std::exception&) {
    if (!lock.owns_lock()) lock.lock();
    Produced(kErrorInvalidParameter);
  }
  producerDone_ = true;
  changed_.notify_all();
}

uint32_t KitStream::Next(Chunk* chunk) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!started_) return kErrorInvalidParameter;
  if (!threaded_ && ready_.empty() && failure_ == 0 && !entriesDone_) {
    bool end = false;
    uint32_t code = TakeBuffer(lock) ? Produce(chunk, &end) : kErrorInvalidParameter;
    if (code != 0) {
      Produced(code);
      return failure_;
    }
    if (!end) {
      ++users_[chunk->buffer];
      return kErrorNone;
    }
    entriesDone_ = true;
  }
  changed_.wait(lock, [this] {
    return !ready_.empty() || failure_ != 0 || producerDone_ || entriesDone_ || !threaded_;
  });
  if (!ready_.empty()) {
    *chunk = ready_.front();
    ready_.pop_front();
    return kErrorNone;
  }
  if (failure_ != 0) return failure_;
  problem_ = "the stream has no more bytes for the entry asked for";
  return kErrorInvalidParameter;
}

void KitStream::Done(const Chunk& chunk) {
  std::lock_guard<std::mutex> lock(mutex_);
  ReleaseBuffer(chunk.buffer);
  changed_.notify_all();
}

uint32_t KitStream::Finish(bool verify) {
  if (!started_) return result_;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    // No more entry bytes: what the reader did not take is dropped, so the
    // thread never waits for a buffer again.
    entriesDone_ = true;
    if (!verify) stop_ = true;
    for (const Chunk& chunk : ready_) ReleaseBuffer(chunk.buffer);
    ready_.clear();
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  if (verify && !threaded_ && failure_ == 0 && !producerDone_) {
    Produced(Verify({}));
  }
  producerDone_ = true;
  started_ = false;
  result_ = verify ? failure_ : kErrorNone;
  return result_;
}

std::string KitStream::Problem() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return problem_;
}

}  // namespace qorv
