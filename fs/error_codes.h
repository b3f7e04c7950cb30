// The numeric codes with which the file layer, the kit reader and the copy
// engine answer. The numbers are fixed: they travel between the layers and
// through the progress channel, and tests assert them.
#ifndef QORV_FS_ERROR_CODES_H_
#define QORV_FS_ERROR_CODES_H_

#include <cstdint>

namespace qorv {

inline constexpr uint32_t kErrorNone = 0;
inline constexpr uint32_t kErrorNotFound = 2;           // ENOENT, or a failed make-dirs/move
inline constexpr uint32_t kErrorPathNotFound = 3;       // a directory cannot be created or used
inline constexpr uint32_t kErrorInvalidHandle = 6;      // descriptor -1, or no status
inline constexpr uint32_t kErrorWriteFault = 29;        // the journal or written files not on disk
inline constexpr uint32_t kErrorInvalidData = 13;       // not a valid compressed stream
inline constexpr uint32_t kErrorFileExists = 80;        // a new file's name is taken
inline constexpr uint32_t kErrorCannotBackUp = 82;      // a file cannot be moved to the backups
inline constexpr uint32_t kErrorDiskFull = 112;         // no room left where a file is written
inline constexpr uint32_t kErrorInvalidParameter = 87;  // any other failure
inline constexpr uint32_t kErrorBusy = 170;             // another run holds the target
inline constexpr uint32_t kErrorCannotMakeTemp = 1013;  // temporary file not created
inline constexpr uint32_t kErrorCancelled = 1223;       // the user cancelled

}  // namespace qorv

#endif  // QORV_FS_ERROR_CODES_H_
