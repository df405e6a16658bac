#include "archive/signature_check.h"

#include <string.h>

#include "common/bytes.h"
#include "crypto/cipher.h"
#include "crypto/crc32.h"
#include "crypto/digest.h"
#include "crypto/master_key.h"
#include "platform/result_codes.h"

namespace tvk {
namespace {

constexpr uint8_t kSignatureType = 0x41;
constexpr uint8_t kSignatureVersion = 11;
constexpr uint32_t kRsaBlockSize = 128;
constexpr uint32_t kMaxSignerBits = 1024;
constexpr uint32_t kMaxSignerNameChars = 271;

void Fail(SignatureCheck* check, uint32_t code) {
  if (check->error && *check->error == 0) {
    *check->error = code;
    if (code == kErrSignatureMismatch && check->result && !check->result->problem) {
      check->result->problem = kSignatureDiffers;
    }
  }
}

bool Failed(const SignatureCheck* check) { return check->error && *check->error != 0; }

// Reads up to n bytes, looping over short reads: the count read, or -1 when
// the system reports a failure.
int64_t ReadUpTo(FileHandle file, uint8_t* buffer, uint32_t n) {
  uint32_t done = 0;
  while (done < n) {
    int32_t r = FileRead(file, buffer + done, n - done);
    if (r < 0) return -1;
    if (r == 0) break;
    done += uint32_t(r);
  }
  return done;
}

// One digest of the three kinds behind a single face.
struct AnyDigest {
  uint32_t kind;
  union {
    Md5Context md5;
    Sha256Context sha256;
    Sha512Context sha512;
  };
};

void DigestInit(AnyDigest* d, uint32_t kind) {
  d->kind = kind;
  if (kind == kDigestSha512) {
    Sha512Init(&d->sha512);
  } else if (kind == kDigestSha256) {
    Sha256Init(&d->sha256);
  } else {
    d->kind = kDigestMd5;
    Md5Init(&d->md5);
  }
}

void DigestUpdate(AnyDigest* d, const uint8_t* data, uint32_t n) {
  if (d->kind == kDigestSha512) {
    Sha512Update(&d->sha512, data, n);
  } else if (d->kind == kDigestSha256) {
    Sha256Update(&d->sha256, data, n);
  } else {
    Md5Update(&d->md5, data, n);
  }
}

uint32_t DigestFinal(AnyDigest* d, uint8_t out[64]) {
  if (d->kind == kDigestSha512) {
    Sha512Final(&d->sha512, out);
    return 64;
  }
  if (d->kind == kDigestSha256) {
    Sha256Final(&d->sha256, out);
    return 32;
  }
  Md5Final(&d->md5, out);
  return 16;
}

// Streams the signed bytes through the digest, reporting progress after
// every read; false when a read fails or the host stops the check.
bool HashSignedBytes(SignatureCheck* check, FileHandle file, uint64_t signedLength,
                     uint8_t* buffer, AnyDigest* digest) {
  if (FileSeek(file, 0, kSeekStart) != 0) {
    Fail(check, kErrFileAccess);
    return false;
  }
  uint64_t remaining = signedLength;
  while (remaining > 0 && !Failed(check)) {
    uint32_t n = remaining < kSignatureReadSize ? uint32_t(remaining) : kSignatureReadSize;
    int32_t r = FileRead(file, buffer, n);
    if (r < 0) {
      Fail(check, kErrFileAccess);
      return false;
    }
    DigestUpdate(digest, buffer, uint32_t(r));
    *check->progressDone += uint32_t(r);
    if (check->lastChunk) *check->lastChunk = uint32_t(r);
    if (check->progress) {
      uint64_t total = *check->progressTotal;
      uint64_t percent = total ? *check->progressDone * 100 / total : 0;
      if (percent > 100) percent = 100;
      if (check->progress(check->progressUser, uint32_t(percent), uint32_t(r)) != 1) {
        Fail(check, kErrCancelled);
      }
    }
    if (r == 0) break;  // a short file: the digest will not match
    remaining -= uint32_t(r);
  }
  return !Failed(check);
}

// Steps 9 to 13: open the certificate and the signed digest, compare, and
// fill the result.
bool VerifyRecord(SignatureCheck* check, const uint8_t* record, const uint8_t* digest,
                  uint32_t digestLength) {
  PublicKeyRecord master;
  MasterPublicKey(&master);
  uint8_t certificate[kSignerCertificateSize];
  uint32_t certificateLength = 0;
  if (!OpenRsaBlocks(check, record + 8, kSignerCertificateSize, certificate, &certificateLength,
                     &master)) {
    return false;
  }
  if (certificateLength < kPublicKeyRecordSize) {
    Fail(check, kErrSignatureFormat);
    return false;
  }
  PublicKeyRecord signer;
  ParsePublicKeyRecord(certificate, &signer);
  if (signer.bits > kMaxSignerBits) {
    Fail(check, kErrSignatureOpen);
    return false;
  }
  uint8_t opened[kSignedDigestSize];
  uint32_t openedLength = 0;
  if (!OpenRsaBlocks(check, record + 392, kSignedDigestSize, opened, &openedLength, &signer)) {
    return false;
  }
  if (openedLength != kSignedDigestPayload) {
    Fail(check, kErrSignatureFormat);
    return false;
  }
  SignatureResult* result = check->result;
  if (memcmp(opened, digest, digestLength) != 0) {
    result->problem = kSignatureDiffers;
    Fail(check, kErrSignatureMismatch);
    return false;
  }

  uint32_t nameLength = 0;
  const uint8_t* name = certificate + kPublicKeyRecordSize;
  uint32_t available = certificateLength - kPublicKeyRecordSize;
  while (nameLength < available && nameLength < kMaxSignerNameChars && name[nameLength] != 0) {
    ++nameLength;
  }
  if (nameLength > sizeof result->signer - 1) nameLength = sizeof result->signer - 1;
  memcpy(result->signer, name, nameLength);
  result->signer[nameLength] = 0;
  AnsiToSystem(result->signer, nameLength, sizeof result->signer);

  uint32_t stamp = LoadU32(opened + 64);
  FileTime local = {0, 0}, utc = {0, 0};
  if (DosToFileTime(uint16_t(stamp >> 16), uint16_t(stamp), &local) &&
      LocalToUtcFileTime(&local, &utc)) {
    result->signedAt = utc;
  } else {
    result->signedAt = local;
  }
  memcpy(result->signerKey, certificate, kPublicKeyRecordSize);
  // The signer and the time stay known, so that a host can say whose
  // signature it cannot vouch for.
  if (!DigestKindVouches(*check->digestKind)) {
    result->problem = kSignatureWeakDigest;
    Fail(check, kErrSignatureMismatch);
    return false;
  }
  result->valid = 1;
  return true;
}

}  // namespace

bool OpenRsaBlocks(SignatureCheck* check, const uint8_t* input, uint32_t length, uint8_t* output,
                   uint32_t* outLength, const PublicKeyRecord* key) {
  *outLength = 0;
  uint32_t done = 0, written = 0;
  while (done < length) {
    uint32_t blockLength = length - done < kRsaBlockSize ? length - done : kRsaBlockSize;
    uint32_t payload = 0;
    if (RsaPublicOpen(output + written, &payload, input + done, blockLength, key) != kRsaOk) {
      Fail(check, kErrSignatureOpen);
      return false;
    }
    done += blockLength;
    written += payload;
  }
  *outLength = written;
  return true;
}

bool ReadSignatureRecord(SignatureCheck* check, FileHandle file,
                         uint8_t record[kSignatureRecordSize]) {
  if (!check->encryptedHeads) {
    int64_t r = ReadUpTo(file, record, kSignatureRecordSize);
    if (r < 0) {
      Fail(check, kErrFileAccess);
      return false;
    }
    if (r < kSignatureRecordSize) {
      Fail(check, kErrSignatureMismatch);
      return false;
    }
  } else {
    uint8_t prefix[2];
    int64_t r = ReadUpTo(file, prefix, 2);
    if (r < 0) {
      Fail(check, kErrFileAccess);
      return false;
    }
    if (r < 2) {
      Fail(check, kErrSignatureMismatch);
      return false;
    }
    uint32_t stored = LoadU16(prefix);
    // The record buffer holds 4,096 bytes; a longer record cannot be valid.
    if (stored < kSignatureRecordSize || stored > kSignatureBufferSize) {
      Fail(check, kErrSignatureFormat);
      return false;
    }
    uint8_t buffer[kSignatureBufferSize];
    r = ReadUpTo(file, buffer, stored);
    if (r < 0) {
      Fail(check, kErrFileAccess);
      return false;
    }
    if (r < stored) {
      Fail(check, kErrSignatureMismatch);
      return false;
    }
    DecipherHeadBytes(check->archivePassword ? check->archivePassword : "", buffer, stored);
    memcpy(record, buffer, kSignatureRecordSize);
  }
  // A wrong archive password shows here as a bad head check.
  if (HeadCheckOf(record, kSignatureRecordSize) != LoadU16(record)) {
    Fail(check, kErrSignatureMismatch);
    return false;
  }
  if (record[7] != kSignatureVersion || record[2] != kSignatureType ||
      LoadU16(record + 5) != kSignatureRecordSize) {
    Fail(check, kErrSignatureFormat);
    return false;
  }
  return true;
}

bool CheckSignature(SignatureCheck* check, const char* fileName, uint64_t signedLength) {
  if (Failed(check)) return false;
  memset(check->result, 0, sizeof *check->result);
  uint64_t savedTotal = *check->progressTotal;
  uint64_t savedDone = *check->progressDone;
  uint8_t* buffer = static_cast<uint8_t*>(MemAlloc(kSignatureReadSize));
  if (!buffer) {
    Fail(check, kErrMemory);
    return false;
  }
  // The percentage shown while hashing is that of the signed bytes.
  *check->progressTotal = signedLength;
  *check->progressDone = 0;

  bool ok = false;
  uint8_t record[kSignatureRecordSize];
  uint8_t digest[64];
  uint32_t digestLength = 0;
  FileHandle file = FileOpen(fileName, "r");
  if (file == TVK_INVALID_FILE) {
    Fail(check, kErrFileAccess);
  } else if (signedLength > uint64_t(INT64_MAX) ||
             FileSeek(file, int64_t(signedLength), kSeekStart) != int64_t(signedLength)) {
    Fail(check, kErrFileAccess);
    FileClose(file);
  } else if (!ReadSignatureRecord(check, file, record)) {
    FileClose(file);
  } else {
    switch (LoadU16(record + 3)) {
      case 0: *check->digestKind = kDigestSha512; break;
      case 1: *check->digestKind = kDigestSha256; break;
      case 2: *check->digestKind = kDigestMd5; break;
      default: break;  // the kind of the last check stands
    }
    AnyDigest any;
    DigestInit(&any, *check->digestKind);
    if (check->runStart) {
      check->runStart(check->runStartUser, uint32_t(signedLength), uint32_t(signedLength >> 32),
                      kSignatureRunCode);
    }
    bool hashed = HashSignedBytes(check, file, signedLength, buffer, &any);
    FileClose(file);
    if (hashed) {
      digestLength = DigestFinal(&any, digest);
      ok = VerifyRecord(check, record, digest, digestLength);
    }
  }

  MemFree(buffer);
  *check->progressTotal = savedTotal;
  *check->progressDone = savedDone;
  return ok;
}

}  // namespace tvk
