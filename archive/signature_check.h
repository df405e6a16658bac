// The check of an archive's digital signature: a built-in master key opens
// the signer's certificate (the signer's public key and name), the signer's
// key opens the digest of the signed bytes and the signing time, and the
// digest is recomputed over the file and compared.
//
// The archive reader fills a SignatureCheck with references to its own
// state (error code, progress counters, callbacks, digest kind, result) and
// calls CheckSignature after the walk of the volume that holds the block.
#ifndef TVK_ARCHIVE_SIGNATURE_CHECK_H
#define TVK_ARCHIVE_SIGNATURE_CHECK_H

#include <stdint.h>

#include "crypto/bignum.h"
#include "crypto/digest.h"
#include "platform/platform.h"

namespace tvk {

// Why a signature does not vouch for the archive. Every one of them comes
// with error 28118, so that hosts ask as they do for a mismatch.
constexpr uint32_t kSignatureSound = 0;
constexpr uint32_t kSignatureDiffers = 1;  // the digest (or the record's head check) differs
// The digest matches, but its kind cannot vouch for the bytes: the 512-bit
// kind never sees the first four bytes of an 8-byte group whose last byte is
// 0x80 or more, and MD5 collisions let whoever prepared the bytes for the
// signer make a second file with the same digest.
constexpr uint32_t kSignatureWeakDigest = 2;
// A volume of a signed set carries no signature of its own (sets sealed only
// in their last volume), or the listing did not reach every volume.
constexpr uint32_t kSignatureVolumeUncovered = 3;
// The volumes of a set were sealed by different signers.
constexpr uint32_t kSignatureSignersDiffer = 4;

// The outcome as the reader keeps it and the host shows it.
struct SignatureResult {
  uint32_t valid;         // 1 after a successful check
  char signer[kPathSize]; // zero-terminated, system text; kept for a weak digest too
  FileTime signedAt;      // UTC
  uint32_t problem;       // kSignature*, when valid is 0 after a check
  // The signer's public key record, to tell the signers of a set's volumes apart.
  uint8_t signerKey[kPublicKeyRecordSize];
};

// Only SHA-256 lets a signature vouch for every byte it covers.
inline bool DigestKindVouches(uint32_t digestKind) { return digestKind == kDigestSha256; }

constexpr uint32_t kSignatureRecordSize = 520;
constexpr uint32_t kSignatureBufferSize = 4096;  // largest enciphered record
constexpr uint32_t kSignatureReadSize = 65536;
constexpr uint32_t kSignerCertificateSize = 384;
constexpr uint32_t kSignedDigestSize = 128;
constexpr uint32_t kSignedDigestPayload = 68;
// Run code of the run-start callback while the signed bytes are hashed.
constexpr uint32_t kSignatureRunCode = 6;

typedef void (*SignatureRunStart)(void* user, uint32_t totalLow, uint32_t totalHigh,
                                  uint32_t runCode);
typedef int (*SignatureProgress)(void* user, uint32_t percent, uint32_t chunkLength);

// error, progressTotal, progressDone, digestKind and result must be set;
// the callbacks, lastChunk and archivePassword may be nullptr.
struct SignatureCheck {
  // The reader's error code: the first code set stays.
  uint32_t* error;
  // Encrypted heads: the record is stored as u16 L and L enciphered bytes,
  // deciphered with the active archive password (never prompted for here).
  uint32_t encryptedHeads;
  const char* archivePassword;
  // Host callbacks; nullptr when not installed.
  SignatureRunStart runStart;
  void* runStartUser;
  SignatureProgress progress;
  void* progressUser;
  // The reader's progress counters. While the signed bytes are hashed they
  // count those bytes (the percentage shown is of the signed length); both
  // are restored when the check ends.
  uint64_t* progressTotal;
  uint64_t* progressDone;
  uint32_t* lastChunk;  // may be nullptr
  // The reader's digest kind (kDigest*), set from the record's code.
  uint32_t* digestKind;
  SignatureResult* result;
};

// Checks the signature of the volume fileName whose signature block starts
// at signedLength. True with check->result filled; false with the reason in
// the error code.
bool CheckSignature(SignatureCheck* check, const char* fileName, uint64_t signedLength);
// Reads and validates the 520-byte record at the file's position.
bool ReadSignatureRecord(SignatureCheck* check, FileHandle file,
                         uint8_t record[kSignatureRecordSize]);
// Opens consecutive RSA blocks of at most 128 bytes with key and concatenates
// their payloads into output (room for length bytes). On failure sets 28127
// and answers false with outLength 0.
bool OpenRsaBlocks(SignatureCheck* check, const uint8_t* input, uint32_t length, uint8_t* output,
                   uint32_t* outLength, const PublicKeyRecord* key);

}  // namespace tvk

#endif
