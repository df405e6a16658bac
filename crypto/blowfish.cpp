#include <string.h>

#include "common/bytes.h"
#include "crypto/blowfish_tables.h"
#include "crypto/cipher.h"
#include "crypto/digest.h"
#include "platform/platform.h"

namespace tvk {
namespace {

constexpr uint32_t kHeadPasswordLimit = 260;

inline uint32_t Round(const BlowfishKey* key, uint32_t x) {
  return ((key->s[0][x >> 24] + key->s[1][(x >> 16) & 0xFF]) ^ key->s[2][(x >> 8) & 0xFF]) +
         key->s[3][x & 0xFF];
}

}  // namespace

void BlowfishEncryptBlock(const BlowfishKey* key, uint32_t* left, uint32_t* right) {
  uint32_t l = *left, r = *right;
  for (int i = 0; i < 16; i += 2) {
    l ^= key->p[i];
    r ^= Round(key, l);
    r ^= key->p[i + 1];
    l ^= Round(key, r);
  }
  *left = r ^ key->p[17];
  *right = l ^ key->p[16];
}

void BlowfishDecryptBlock(const BlowfishKey* key, uint32_t* left, uint32_t* right) {
  uint32_t l = *left, r = *right;
  for (int i = 17; i > 1; i -= 2) {
    l ^= key->p[i];
    r ^= Round(key, l);
    r ^= key->p[i - 1];
    l ^= Round(key, r);
  }
  *left = r ^ key->p[0];
  *right = l ^ key->p[1];
}

void BlowfishSetKey(BlowfishKey* key, const uint8_t* keyBytes, uint32_t keyLength) {
  memcpy(key->p, kBlowfishInitP, sizeof key->p);
  memcpy(key->s, kBlowfishInitS, sizeof key->s);
  uint32_t j = 0;
  for (int i = 0; i < 18; ++i) {
    uint32_t word = 0;
    for (int k = 0; k < 4; ++k) {
      word = (word << 8) | (keyLength ? keyBytes[j] : 0);
      if (++j >= keyLength) j = 0;
    }
    key->p[i] ^= word;
  }
  uint32_t l = 0, r = 0;
  for (int i = 0; i < 18; i += 2) {
    BlowfishEncryptBlock(key, &l, &r);
    key->p[i] = l;
    key->p[i + 1] = r;
  }
  for (int box = 0; box < 4; ++box) {
    for (int i = 0; i < 256; i += 2) {
      BlowfishEncryptBlock(key, &l, &r);
      key->s[box][i] = l;
      key->s[box][i + 1] = r;
    }
  }
}

void MakeHeadKey(BlowfishKey* key, const char* password, uint32_t length) {
  if (length > kHeadPasswordLimit) length = kHeadPasswordLimit;
  uint8_t digest[16];
  Md5Context ctx;
  Md5Init(&ctx);
  Md5Update(&ctx, password, length);
  Md5Final(&ctx, digest);
  BlowfishSetKey(key, digest, sizeof digest);
  SecureZero(digest, sizeof digest);
}

namespace {

void CipherHeadBytes(const char* password, uint8_t* buffer, uint32_t length, bool decipher) {
  if (length == 0) return;
  if (!password) password = "";
  BlowfishKey key;
  MakeHeadKey(&key, password, uint32_t(strlen(password)));
  uint32_t blocks = length / 8 + (length % 8 != 0);
  for (uint32_t b = 0; b < blocks; ++b, buffer += 8) {
    // Halves are little-endian in the stored block.
    uint32_t l = LoadU32(buffer);
    uint32_t r = LoadU32(buffer + 4);
    if (decipher) {
      BlowfishDecryptBlock(&key, &l, &r);
    } else {
      BlowfishEncryptBlock(&key, &l, &r);
    }
    StoreU32(buffer, l);
    StoreU32(buffer + 4, r);
  }
  SecureZero(&key, sizeof key);
}

}  // namespace

void DecipherHeadBytes(const char* password, uint8_t* buffer, uint32_t length) {
  CipherHeadBytes(password, buffer, length, true);
}

void EncipherHeadBytes(const char* password, uint8_t* buffer, uint32_t length) {
  CipherHeadBytes(password, buffer, length, false);
}

}  // namespace tvk
