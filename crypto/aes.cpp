#include <string.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TVK_AES_NI 1
#endif

#include "common/bytes.h"
#include "crypto/built_once.h"
#include "crypto/cipher.h"
#include "crypto/cpu_features.h"
#include "crypto/digest.h"
#include "platform/platform.h"

namespace tvk {
namespace {

// All tables are computed by the compiler from the field arithmetic, so
// there is nothing to initialise at run time and nothing typed by hand.

constexpr uint8_t Xtime(uint8_t x) { return uint8_t((x << 1) ^ ((x & 0x80) ? 0x1B : 0)); }

constexpr uint8_t GfMul(uint8_t a, uint8_t b) {
  uint8_t r = 0;
  while (b) {
    if (b & 1) r ^= a;
    a = Xtime(a);
    b >>= 1;
  }
  return r;
}

struct AesTables {
  uint8_t sbox[256];
  uint8_t inverse[256];
  uint32_t te[4][256];
  uint32_t td[4][256];
};

constexpr uint32_t Ror8(uint32_t x) { return (x >> 8) | (x << 24); }

// Built on first use into zeroed memory rather than stored, which keeps
// 16 KiB of tables out of the self-extractor's file.
void MakeAesTables(AesTables& t) {
  // Powers of the generator 3 give every non-zero element; the inverse of
  // 3^k is 3^(255-k). Cheap enough for any compiler's constant evaluation.
  uint8_t power[256] = {};
  uint8_t logarithm[256] = {};
  uint8_t p = 1;
  for (int k = 0; k < 255; ++k) {
    power[k] = p;
    logarithm[p] = uint8_t(k);
    p = uint8_t(p ^ Xtime(p));  // p * 3
  }
  for (int x = 0; x < 256; ++x) {
    uint8_t inv = x == 0 ? 0 : power[(255 - logarithm[x]) % 255];
    uint8_t s = inv;
    for (int k = 1; k < 5; ++k) s ^= uint8_t((inv << k) | (inv >> (8 - k)));
    s ^= 0x63;
    t.sbox[x] = s;
    t.inverse[s] = uint8_t(x);
  }
  for (int x = 0; x < 256; ++x) {
    uint8_t s = t.sbox[x];
    uint32_t e = uint32_t(GfMul(s, 2)) << 24 | uint32_t(s) << 16 | uint32_t(s) << 8 | GfMul(s, 3);
    uint8_t i = t.inverse[x];
    uint32_t d = uint32_t(GfMul(i, 14)) << 24 | uint32_t(GfMul(i, 9)) << 16 |
                 uint32_t(GfMul(i, 13)) << 8 | GfMul(i, 11);
    for (int k = 0; k < 4; ++k) {
      t.te[k][x] = e;
      t.td[k][x] = d;
      e = Ror8(e);
      d = Ror8(d);
    }
  }
}

const AesTables& Aes() { return BuiltOnce<AesTables, MakeAesTables>(); }

inline uint32_t SubWord(uint32_t w) {
  return uint32_t(Aes().sbox[w >> 24]) << 24 | uint32_t(Aes().sbox[(w >> 16) & 0xFF]) << 16 |
         uint32_t(Aes().sbox[(w >> 8) & 0xFF]) << 8 | Aes().sbox[w & 0xFF];
}

void ExpandKey(EntryKey* key, const uint8_t* keyBytes, uint32_t keyLength) {
  memset(key, 0, sizeof *key);
  uint32_t nk = keyLength / 4;  // 4, 6 or 8
  key->rounds = nk + 6;
  uint32_t total = 4 * (key->rounds + 1);
  uint32_t* w = key->roundKeys;
  for (uint32_t i = 0; i < nk; ++i) w[i] = LoadBe32(keyBytes + 4 * i);
  uint8_t rcon = 1;
  for (uint32_t i = nk; i < total; ++i) {
    uint32_t t = w[i - 1];
    if (i % nk == 0) {
      t = SubWord((t << 8) | (t >> 24)) ^ (uint32_t(rcon) << 24);
      rcon = Xtime(rcon);
    } else if (nk > 6 && i % nk == 4) {
      t = SubWord(t);
    }
    w[i] = w[i - nk] ^ t;
  }
}

inline bool ValidKeyLength(uint32_t n) { return n == 16 || n == 24 || n == 32; }

}  // namespace

void AesSetEncryptKey(EntryKey* key, const uint8_t* keyBytes, uint32_t keyLength) {
  if (!ValidKeyLength(keyLength)) keyLength = 16;
  ExpandKey(key, keyBytes, keyLength);
  key->decrypt = 0;
}

// The decryption schedule of the equivalent inverse cipher: round keys in
// reverse order, the inner ones passed through InvMixColumns, so that
// decryption runs on the same table shape as encryption.
void AesSetDecryptKey(EntryKey* key, const uint8_t* keyBytes, uint32_t keyLength) {
  if (!ValidKeyLength(keyLength)) keyLength = 16;
  ExpandKey(key, keyBytes, keyLength);
  uint32_t* w = key->roundKeys;
  uint32_t rounds = key->rounds;
  for (uint32_t i = 0, j = 4 * rounds; i < j; i += 4, j -= 4) {
    for (int k = 0; k < 4; ++k) {
      uint32_t t = w[i + k];
      w[i + k] = w[j + k];
      w[j + k] = t;
    }
  }
  for (uint32_t i = 4; i < 4 * rounds; ++i) {
    uint32_t x = w[i];
    w[i] = Aes().td[0][Aes().sbox[x >> 24]] ^ Aes().td[1][Aes().sbox[(x >> 16) & 0xFF]] ^
           Aes().td[2][Aes().sbox[(x >> 8) & 0xFF]] ^ Aes().td[3][Aes().sbox[x & 0xFF]];
  }
  key->decrypt = 1;
}

void AesEncryptBlock(const EntryKey* key, const uint8_t in[16], uint8_t out[16]) {
  const uint32_t* rk = key->roundKeys;
  uint32_t s0 = LoadBe32(in) ^ rk[0], s1 = LoadBe32(in + 4) ^ rk[1];
  uint32_t s2 = LoadBe32(in + 8) ^ rk[2], s3 = LoadBe32(in + 12) ^ rk[3];
  const uint32_t(*te)[256] = Aes().te;
  for (uint32_t r = 1; r < key->rounds; ++r) {
    rk += 4;
    uint32_t t0 = te[0][s0 >> 24] ^ te[1][(s1 >> 16) & 0xFF] ^ te[2][(s2 >> 8) & 0xFF] ^
                  te[3][s3 & 0xFF] ^ rk[0];
    uint32_t t1 = te[0][s1 >> 24] ^ te[1][(s2 >> 16) & 0xFF] ^ te[2][(s3 >> 8) & 0xFF] ^
                  te[3][s0 & 0xFF] ^ rk[1];
    uint32_t t2 = te[0][s2 >> 24] ^ te[1][(s3 >> 16) & 0xFF] ^ te[2][(s0 >> 8) & 0xFF] ^
                  te[3][s1 & 0xFF] ^ rk[2];
    uint32_t t3 = te[0][s3 >> 24] ^ te[1][(s0 >> 16) & 0xFF] ^ te[2][(s1 >> 8) & 0xFF] ^
                  te[3][s2 & 0xFF] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  const uint8_t* sb = Aes().sbox;
  auto last = [sb](uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
    return (uint32_t(sb[a >> 24]) << 24 | uint32_t(sb[(b >> 16) & 0xFF]) << 16 |
            uint32_t(sb[(c >> 8) & 0xFF]) << 8 | sb[d & 0xFF]) ^ k;
  };
  StoreBe32(out, last(s0, s1, s2, s3, rk[0]));
  StoreBe32(out + 4, last(s1, s2, s3, s0, rk[1]));
  StoreBe32(out + 8, last(s2, s3, s0, s1, rk[2]));
  StoreBe32(out + 12, last(s3, s0, s1, s2, rk[3]));
}

void AesDecryptBlock(const EntryKey* key, const uint8_t in[16], uint8_t out[16]) {
  const uint32_t* rk = key->roundKeys;
  uint32_t s0 = LoadBe32(in) ^ rk[0], s1 = LoadBe32(in + 4) ^ rk[1];
  uint32_t s2 = LoadBe32(in + 8) ^ rk[2], s3 = LoadBe32(in + 12) ^ rk[3];
  const uint32_t(*td)[256] = Aes().td;
  for (uint32_t r = 1; r < key->rounds; ++r) {
    rk += 4;
    uint32_t t0 = td[0][s0 >> 24] ^ td[1][(s3 >> 16) & 0xFF] ^ td[2][(s2 >> 8) & 0xFF] ^
                  td[3][s1 & 0xFF] ^ rk[0];
    uint32_t t1 = td[0][s1 >> 24] ^ td[1][(s0 >> 16) & 0xFF] ^ td[2][(s3 >> 8) & 0xFF] ^
                  td[3][s2 & 0xFF] ^ rk[1];
    uint32_t t2 = td[0][s2 >> 24] ^ td[1][(s1 >> 16) & 0xFF] ^ td[2][(s0 >> 8) & 0xFF] ^
                  td[3][s3 & 0xFF] ^ rk[2];
    uint32_t t3 = td[0][s3 >> 24] ^ td[1][(s2 >> 16) & 0xFF] ^ td[2][(s1 >> 8) & 0xFF] ^
                  td[3][s0 & 0xFF] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  const uint8_t* ib = Aes().inverse;
  auto last = [ib](uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
    return (uint32_t(ib[a >> 24]) << 24 | uint32_t(ib[(b >> 16) & 0xFF]) << 16 |
            uint32_t(ib[(c >> 8) & 0xFF]) << 8 | ib[d & 0xFF]) ^ k;
  };
  StoreBe32(out, last(s0, s3, s2, s1, rk[0]));
  StoreBe32(out + 4, last(s1, s0, s3, s2, rk[1]));
  StoreBe32(out + 8, last(s2, s1, s0, s3, rk[2]));
  StoreBe32(out + 12, last(s3, s2, s1, s0, rk[3]));
}

namespace {

bool DeriveKey(EntryKey* key, const char* password, uint32_t length, uint32_t kind,
               bool decrypt) {
  memset(key, 0, sizeof *key);
  uint8_t digest[32] = {};
  uint32_t keyLength;
  if (kind == 1) {
    Md5OfBuffer(password, length, digest);
    keyLength = 16;
  } else if (kind == 2) {
    // An empty password leaves the digest at zero: the archives' writer
    // never hashed it, so the key is 32 zero bytes, not SHA-256("").
    Sha256OfBuffer(digest, password, length);
    keyLength = 32;
  } else {
    return false;
  }
  if (decrypt) {
    AesSetDecryptKey(key, digest, keyLength);
  } else {
    AesSetEncryptKey(key, digest, keyLength);
  }
  SecureZero(digest, sizeof digest);
  return true;
}

}  // namespace

bool DeriveEntryKey(EntryKey* key, const char* password, uint32_t length, uint32_t kind) {
  return DeriveKey(key, password, length, kind, true);
}

bool DeriveEntryEncryptKey(EntryKey* key, const char* password, uint32_t length, uint32_t kind) {
  return DeriveKey(key, password, length, kind, false);
}

#if defined(TVK_AES_NI)
namespace {

bool CpuHasAesNi() { return CpuHasLeaf1(bit_AES, bit_SSE2); }

// The decryption schedule is already that of the equivalent inverse cipher,
// which is what the hardware round instruction expects; only the words go
// back to the byte order of the state. Blocks are independent (ECB), so four
// at a time keep the pipelined round unit busy.
__attribute__((target("aes,sse2"))) void DecipherBlocksAesNi(const EntryKey* key,
                                                             uint8_t* buffer,
                                                             uint32_t blocks) {
  const uint32_t rounds = key->rounds;
  __m128i rk[15];
  for (uint32_t r = 0; r <= rounds; ++r) {
    alignas(16) uint8_t bytes[16];
    for (int k = 0; k < 4; ++k) StoreBe32(bytes + 4 * k, key->roundKeys[4 * r + k]);
    rk[r] = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
  }
  __m128i* p = reinterpret_cast<__m128i*>(buffer);
  uint32_t b = 0;
  for (; b + 4 <= blocks; b += 4) {
    __m128i x0 = _mm_xor_si128(_mm_loadu_si128(p + b), rk[0]);
    __m128i x1 = _mm_xor_si128(_mm_loadu_si128(p + b + 1), rk[0]);
    __m128i x2 = _mm_xor_si128(_mm_loadu_si128(p + b + 2), rk[0]);
    __m128i x3 = _mm_xor_si128(_mm_loadu_si128(p + b + 3), rk[0]);
    for (uint32_t r = 1; r < rounds; ++r) {
      x0 = _mm_aesdec_si128(x0, rk[r]);
      x1 = _mm_aesdec_si128(x1, rk[r]);
      x2 = _mm_aesdec_si128(x2, rk[r]);
      x3 = _mm_aesdec_si128(x3, rk[r]);
    }
    _mm_storeu_si128(p + b, _mm_aesdeclast_si128(x0, rk[rounds]));
    _mm_storeu_si128(p + b + 1, _mm_aesdeclast_si128(x1, rk[rounds]));
    _mm_storeu_si128(p + b + 2, _mm_aesdeclast_si128(x2, rk[rounds]));
    _mm_storeu_si128(p + b + 3, _mm_aesdeclast_si128(x3, rk[rounds]));
  }
  for (; b < blocks; ++b) {
    __m128i x = _mm_xor_si128(_mm_loadu_si128(p + b), rk[0]);
    for (uint32_t r = 1; r < rounds; ++r) x = _mm_aesdec_si128(x, rk[r]);
    _mm_storeu_si128(p + b, _mm_aesdeclast_si128(x, rk[rounds]));
  }
  SecureZero(rk, sizeof rk);
}

}  // namespace
#endif

// Set when the table code is to be used whatever the processor offers (tests
// compare both paths).
bool aesTablesOnly = false;

void DecipherEntryData(const EntryKey* key, uint8_t* buffer, uint32_t count) {
  uint32_t blocks = count / 16 + (count % 16 != 0);
#if defined(TVK_AES_NI)
  if (!aesTablesOnly && key->decrypt && key->rounds <= 14 && CpuHasAesNi()) {
    DecipherBlocksAesNi(key, buffer, blocks);
    return;
  }
#endif
  for (uint32_t b = 0; b < blocks; ++b, buffer += 16) AesDecryptBlock(key, buffer, buffer);
}

void EncipherEntryData(const EntryKey* key, uint8_t* buffer, uint32_t count) {
  uint32_t blocks = count / 16 + (count % 16 != 0);
  for (uint32_t b = 0; b < blocks; ++b, buffer += 16) AesEncryptBlock(key, buffer, buffer);
}

}  // namespace tvk
