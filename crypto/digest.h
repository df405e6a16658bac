// MD5, the archive's SHA-256 (padding differs at 55 mod 64) and its 512-bit
// digest with signed 64-bit words. Contexts are plain records owned by the
// caller; every final step wipes its context.
#ifndef TVK_CRYPTO_DIGEST_H
#define TVK_CRYPTO_DIGEST_H

#include <stddef.h>
#include <stdint.h>

namespace tvk {

// Digest kinds as a signature block stores them; the reader keeps the kind
// of its last signature check in the same code.
constexpr uint32_t kDigestSha512 = 0;
constexpr uint32_t kDigestSha256 = 1;
constexpr uint32_t kDigestMd5 = 2;

struct Md5Context {
  uint32_t state[4];
  uint32_t count[2];  // bits, low word first
  uint8_t buffer[64];
};

struct Sha256Context {
  uint32_t state[8];
  uint64_t bitCount;
  uint8_t buffer[64];
};

struct Sha512Context {
  int64_t state[8];
  uint64_t bitCount[2];  // low word, high word
  uint8_t buffer[128];
};

void Md5Init(Md5Context* ctx);
void Md5Update(Md5Context* ctx, const void* data, uint32_t length);
void Md5Final(Md5Context* ctx, uint8_t digest[16]);
// MD5 of the first min(length, 276) bytes.
void Md5OfBuffer(const void* data, uint32_t length, uint8_t digest[16]);

void Sha256Init(Sha256Context* ctx);
void Sha256Update(Sha256Context* ctx, const void* data, uint32_t length);
void Sha256Final(Sha256Context* ctx, uint8_t* digest);  // 32 bytes; nullptr does nothing
bool Sha256OfBuffer(uint8_t* digest, const void* data, uint32_t length);

void Sha512Init(Sha512Context* ctx);
void Sha512Update(Sha512Context* ctx, const void* data, uint32_t length);
void Sha512Final(Sha512Context* ctx, uint8_t* digest);  // 64 bytes; nullptr does nothing

}  // namespace tvk

#endif
