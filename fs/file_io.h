// Descriptor-based file access with handle-style answers: every call returns
// a numeric code (fs/error_codes.h) and leaves it in LastFileError(). The
// code is kept per thread, so the copy thread and the UI thread never read
// each other's failures.
#ifndef QORV_FS_FILE_IO_H_
#define QORV_FS_FILE_IO_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/text_string.h"

namespace qorv {

// 100-nanosecond ticks since 1601-01-01 00:00 UTC, low word first.
struct FileTime {
  uint32_t low = 0;
  uint32_t high = 0;

  uint64_t Ticks() const { return (static_cast<uint64_t>(high) << 32) | low; }
  static FileTime FromTicks(uint64_t ticks) {
    return FileTime{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
  }
  friend bool operator==(const FileTime& a, const FileTime& b) = default;
};

// Whole Unix seconds to FileTime and back; the way back drops everything
// below a second (rounding towards the earlier second).
FileTime FileTimeFromUnix(int64_t seconds);
int64_t UnixFromFileTime(const FileTime& time);

inline constexpr uint32_t kReadAccess = 0x80000000u;
inline constexpr uint32_t kWriteAccess = 0x40000000u;
inline constexpr uint32_t kCreateNew = 1;         // create; fails (EEXIST) when it exists
inline constexpr uint32_t kCreateAlways = 2;      // create when missing; content kept
inline constexpr uint32_t kOpenExisting = 3;      // must exist
inline constexpr uint32_t kTruncateExisting = 5;  // emptied

inline constexpr uint32_t kSeekBegin = 0;
inline constexpr uint32_t kSeekCurrent = 1;
inline constexpr uint32_t kSeekEnd = 2;

// Opens `path`; a new file gets `permissions` (0660 unless given) before
// the umask. The share mode is ignored. Returns 0, 2 (ENOENT), 80 (kCreateNew
// and the name is taken) or 87 (any other failure, or no output); *fd is -1
// on failure.
uint32_t FileOpen(const std::string& path, uint32_t access, uint32_t share, uint32_t disposition,
                  int* fd, mode_t permissions = 0660);
// Reads until `count` bytes or the end of the file; a short count is not an
// error. Returns 0, 2 (ENOENT) or 87.
uint32_t FileRead(int fd, void* buffer, size_t count, size_t* countRead);
// One write. Returns 0, 6 (fd -1), or 2/87 when fewer bytes were written.
uint32_t FileWrite(int fd, const void* buffer, size_t count, size_t* countWritten);
// Moves the position; `low` counts as signed, `high` (optional) supplies the
// upper half and receives the new one. Returns the new position's low word,
// or 0xFFFFFFFF with the code in LastFileError (6 for fd -1, 2 or 87).
uint32_t FileSeek(int fd, int32_t low, int32_t* high, uint32_t method);
uint32_t FileClose(int fd);
// Status-change, access and modification times; each output is optional.
// Returns 0, or 6 for fd -1 or an unreadable status.
uint32_t FileGetTime(int fd, FileTime* creation, FileTime* access, FileTime* lastWrite);
// Sets access and modification time to `lastWrite` in whole seconds. The
// creation and access arguments are ignored, and so is a failure of the
// system call. Returns 0, or 6 for fd -1.
uint32_t FileSetTime(int fd, const FileTime* creation, const FileTime* access,
                     const FileTime* lastWrite);
// Cuts the file at its current position. Returns 0, 6, 2 or 87.
uint32_t FileTruncate(int fd);
// A file's whole new content written in place of what is there. Opening:
// the file is always created afresh (0666 less the umask, as cp or tar
// make it; `*fresh` is set), exclusively and in a directory reached without
// untrusted links (fs/trusted_path.h), so the descriptor is never one of a
// file somebody else put there. A regular file of the user's own with no
// other name is removed first; anything else there fails (87, errno
// EEXIST). Returns 0, 2 or 87, with *out -1 on failure.
uint32_t OpenForContent(const std::string& path, int* out, bool* fresh);
// Ending, once `size` bytes are written from the start: an old file that
// was longer loses its tail, the time becomes `lastWrite`, and the file is
// closed, on failure too (errno kept). Returns 0 or the failure's code.
uint32_t FinishContent(int fd, bool fresh, uint64_t size, const FileTime& lastWrite);

// The code of the calling thread's most recent file-layer call.
uint32_t LastFileError();

// Maps an errno value to the layer's codes: 2 for ENOENT, else 87.
uint32_t CodeFromErrno(int error);
// The code of a write that failed with `error`, where a full disk is told
// apart: 112 for ENOSPC and EDQUOT, else `otherwise`. (The file layer's own
// calls keep 87 for every failure but ENOENT: callers rely on it.)
uint32_t CodeOfFailedWrite(int error, uint32_t otherwise);

}  // namespace qorv

#endif  // QORV_FS_FILE_IO_H_
