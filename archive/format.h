// Format constants of TVK archives and self-extractor payloads, shared by
// the reader and the writer: one place for every magic number of the format.
#ifndef TVK_ARCHIVE_FORMAT_H
#define TVK_ARCHIVE_FORMAT_H

#include <stdint.h>

#include "crypto/digest.h"

namespace tvk {
namespace fmt {

// ---- Block heads ------------------------------------------------------------
constexpr uint32_t kBlockHeadSize = 7;
constexpr uint32_t kMaxHeadSize = 65535;
constexpr uint32_t kHeadBufferSize = 65536;

constexpr uint8_t kTypeMain = 0x52;       // 'R'
constexpr uint8_t kTypeFile = 0x44;       // 'D'
constexpr uint8_t kTypeFolder = 0x56;     // 'V'
constexpr uint8_t kTypeComment = 0x43;    // 'C'
constexpr uint8_t kTypeExtension = 0x49;  // 'I'
constexpr uint8_t kTypeRecovery = 0x58;   // 'X'
constexpr uint8_t kTypeSignature = 0x41;  // 'A'
constexpr uint8_t kTypeEnd = 0x53;        // 'S'

constexpr uint16_t kFlagSubBlock = 0x8000;  // another head follows immediately

// ---- Main header ------------------------------------------------------------
constexpr char kArchiveSignature[5] = {'-', 't', 'v', 'k', '-'};
constexpr uint32_t kMainHeaderSize = 25;
constexpr uint8_t kMainHeaderByte12 = 0x0B;
constexpr uint32_t kArchiveSearchLimit = 262144;  // the archive starts in the first 256 KiB

constexpr uint16_t kArcEncryptedHeads = 0x0002;
constexpr uint16_t kArcSolid = 0x0004;
constexpr uint16_t kArcMultiVolume = 0x0008;
constexpr uint16_t kArcLastVolume = 0x0010;
constexpr uint16_t kArcComment = 0x0020;
constexpr uint16_t kArcSigned = 0x2000;

// ---- Comments -----------------------------------------------------------------
constexpr uint32_t kCommentHeadSize = 13;
constexpr uint32_t kMaxCommentHeadSize = 8192;
constexpr uint16_t kCommentOem = 0x0040;
constexpr uint16_t kCommentUtf16 = 0x4000;

// ---- File and folder entries ------------------------------------------------
constexpr uint32_t kFileHeadFixed = 35;     // + name length
constexpr uint32_t kFileHeadFixed64 = 43;   // with kEntryLargeSizes
constexpr uint32_t kFolderHeadFixed = 13;   // + name length
constexpr uint32_t kMaxEntryName = 270;

constexpr uint16_t kEntryEncrypted1 = 0x0002;
constexpr uint16_t kEntrySolid = 0x0004;
constexpr uint16_t kEntryContinued = 0x0008;   // continues a file from the previous volume
constexpr uint16_t kEntryContinues = 0x0010;   // continues in the next volume
constexpr uint16_t kEntryComment = 0x0020;
constexpr uint16_t kEntryOemName = 0x0040;
constexpr uint16_t kEntryLargeSizes = 0x0080;
constexpr uint16_t kEntryDictMask = 0x0F00;
constexpr uint32_t kEntryDictShift = 8;
constexpr uint16_t kEntryEncrypted2 = 0x1000;
constexpr uint16_t kEntrySigned = 0x2000;

// Offsets inside a file entry head.
constexpr uint32_t kOffFilter = 7;
constexpr uint32_t kOffInfo = 10;
constexpr uint32_t kOffVersion = 11;
constexpr uint32_t kOffMethod = 12;
constexpr uint32_t kOffCrc = 13;
constexpr uint32_t kOffAttributes = 17;
constexpr uint32_t kOffDosTime = 21;
constexpr uint32_t kOffPackedLow = 25;
constexpr uint32_t kOffUnpackedLow = 29;
constexpr uint32_t kOffPackedHigh = 33;
constexpr uint32_t kOffUnpackedHigh = 37;
constexpr uint32_t kOffNameLength = 33;     // 41 with kEntryLargeSizes
constexpr uint32_t kOffNameLength64 = 41;
// Offsets inside a folder entry head.
constexpr uint32_t kOffFolderAttributes = 7;
constexpr uint32_t kOffFolderNameLength = 11;
constexpr uint32_t kOffFolderName = 13;

constexpr uint8_t kVersion11 = 11;
constexpr uint8_t kVersion20 = 20;
constexpr uint8_t kMethodStored = 0;
constexpr uint8_t kMethodLzFirst = 1;
constexpr uint8_t kMethodLzLast = 4;
constexpr uint8_t kMethodAudio = 5;
constexpr uint32_t kMaxWindowCode = 7;      // 32 KiB << 7 = 4 MiB

// ---- Extension sub-blocks -----------------------------------------------------
constexpr uint32_t kExtensionTagOffset = 7;
constexpr char kTagFileTimes[4] = {'P', 'H', 'T', 'V'};
constexpr char kTagDstv[4] = {'D', 'S', 'T', 'V'};
constexpr char kTagLatv[4] = {'L', 'A', 'T', 'V'};
constexpr char kTagUnixMode[4] = {'U', 'X', 'T', 'V'};
constexpr uint32_t kFileTimesHeadSize = 35;  // 11 + 3 FILETIMEs
constexpr uint32_t kUnixModeHeadSize = 15;   // 11 + u32 mode
// The file-type bits of that mode. A link is an entry like a file's whose
// data is the link's target: readers that know no links see a small file.
constexpr uint32_t kUnixTypeMask = 0170000;
constexpr uint32_t kUnixTypeLink = 0120000;
constexpr uint32_t kMaxLinkTarget = 4095;  // bytes, no NUL among them

// ---- Recovery, signature, end ---------------------------------------------------
constexpr uint32_t kRecoveryHeadSize = 32;
constexpr uint32_t kOffRecoveryValue = 12;
constexpr uint32_t kOffRecoveryB = 16;
constexpr uint32_t kOffRecoveryA = 24;
constexpr uint32_t kSignatureBlockSize = 520;
constexpr uint32_t kSignatureRecordMax = 4096;
constexpr uint8_t kSignatureFormatVersion = 11;
constexpr uint32_t kOffSignatureCert = 8;
constexpr uint32_t kOffSignatureDigest = 392;
using ::tvk::kDigestMd5;
using ::tvk::kDigestSha256;
using ::tvk::kDigestSha512;
constexpr uint8_t kEndMarker[7] = {0x3E, 0x2B, 0x53, 0x00, 0x00, 0x07, 0x00};

// ---- Self-extractor payload -------------------------------------------------
constexpr char kPayloadSignature[6] = {'T', 'V', '5', 'S', 'F', 'X'};
constexpr uint32_t kPayloadMagic = 110798;
constexpr uint32_t kPayloadVersion = 5;
constexpr uint32_t kPayloadHeaderSize = 18;
constexpr uint32_t kPayloadScanStart = 50000;
constexpr uint32_t kPayloadScanLimit = 1048576;
constexpr uint32_t kMaxLanguageText = 65535;
constexpr uint32_t kEarlyCheckLimit = 16777216;
constexpr uint32_t kMessageCount = 74;

// Settings string caps.
constexpr uint32_t kCapInfoTitle = 255;
constexpr uint32_t kCapInfoText = 4095;
constexpr uint32_t kCapString = 255;

}  // namespace fmt
}  // namespace tvk

#endif
