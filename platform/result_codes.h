// The module's result codes, shared by every layer and by the host's mapping
// to messages and exit codes.
#ifndef TVK_PLATFORM_RESULT_CODES_H
#define TVK_PLATFORM_RESULT_CODES_H

#include <stdint.h>

namespace tvk {

constexpr uint32_t kOk = 0;
constexpr uint32_t kErrCancelled = 28001;         // user cancelled or refused a prompt
constexpr uint32_t kErrFileAccess = 28002;        // cannot open, read or create a file
constexpr uint32_t kErrMemory = 28003;            // not enough memory
constexpr uint32_t kErrWrite = 28004;             // writing the output failed (disk full)
constexpr uint32_t kErrUnused28005 = 28005;       // mapped by the host, produced by nobody
constexpr uint32_t kErrRunAfter = 28007;          // the run-after file could not be started
constexpr uint32_t kErrOptions = 28008;           // bad options record / list kind / entry key
constexpr uint32_t kErrUnused28009 = 28009;
constexpr uint32_t kErrMethod = 28048;            // packing method not supported
constexpr uint32_t kErrOverwritesArchive = 28058; // an entry would overwrite the archive
constexpr uint32_t kErrBadPassword = 28062;       // CRC mismatch of an encrypted entry
constexpr uint32_t kErrCrc = 28063;               // CRC mismatch of a plain entry
constexpr uint32_t kErrVersion = 28064;           // format version or encryption kind
constexpr uint32_t kErrNotSupported = 28066;      // generic handler operation
constexpr uint32_t kErrData = 28080;              // invalid data
constexpr uint32_t kErrNotArchive82 = 28082;      // mapped by the host, produced by nobody
constexpr uint32_t kErrNotArchive = 28089;        // no archive found in the file
constexpr uint32_t kErrSignatureFormat = 28117;   // malformed signature record
constexpr uint32_t kErrSignatureMismatch = 28118; // archive does not match its signature
constexpr uint32_t kErrSignatureOpen = 28127;     // a signature block cannot be opened
constexpr uint32_t kErrContinuation = 28148;      // first volume holds a continuation
constexpr uint32_t kErrMissingVolume = 28149;     // next volume missing, nobody to ask

}  // namespace tvk

#endif
