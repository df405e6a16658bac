#include "crypto/digest.h"

#include <string.h>

#include "common/bytes.h"
#include "platform/platform.h"

namespace tvk {
namespace {

inline uint32_t Rol32(uint32_t x, int b) { return (x << b) | (x >> (32 - b)); }
inline uint32_t Ror32(uint32_t x, int b) { return (x >> b) | (x << (32 - b)); }

// ---- MD5 -------------------------------------------------------------------

constexpr uint32_t kMd5Sine[64] = {
    0xD76AA478u, 0xE8C7B756u, 0x242070DBu, 0xC1BDCEEEu, 0xF57C0FAFu, 0x4787C62Au,
    0xA8304613u, 0xFD469501u, 0x698098D8u, 0x8B44F7AFu, 0xFFFF5BB1u, 0x895CD7BEu,
    0x6B901122u, 0xFD987193u, 0xA679438Eu, 0x49B40821u, 0xF61E2562u, 0xC040B340u,
    0x265E5A51u, 0xE9B6C7AAu, 0xD62F105Du, 0x02441453u, 0xD8A1E681u, 0xE7D3FBC8u,
    0x21E1CDE6u, 0xC33707D6u, 0xF4D50D87u, 0x455A14EDu, 0xA9E3E905u, 0xFCEFA3F8u,
    0x676F02D9u, 0x8D2A4C8Au, 0xFFFA3942u, 0x8771F681u, 0x6D9D6122u, 0xFDE5380Cu,
    0xA4BEEA44u, 0x4BDECFA9u, 0xF6BB4B60u, 0xBEBFBC70u, 0x289B7EC6u, 0xEAA127FAu,
    0xD4EF3085u, 0x04881D05u, 0xD9D4D039u, 0xE6DB99E5u, 0x1FA27CF8u, 0xC4AC5665u,
    0xF4292244u, 0x432AFF97u, 0xAB9423A7u, 0xFC93A039u, 0x655B59C3u, 0x8F0CCC92u,
    0xFFEFF47Du, 0x85845DD1u, 0x6FA87E4Fu, 0xFE2CE6E0u, 0xA3014314u, 0x4E0811A1u,
    0xF7537E82u, 0xBD3AF235u, 0x2AD7D2BBu, 0xEB86D391u,
};

// One step of each of the four rounds; fully unrolled, which roughly
// doubles the speed of a loop with a switch on the round.
#define TVK_MD5_STEP(f, a, b, c, d, x, t, s) \
  a += f(b, c, d) + (x) + (t);               \
  a = Rol32(a, s) + b
#define TVK_MD5_F(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define TVK_MD5_G(b, c, d) ((c) ^ ((d) & ((b) ^ (c))))
#define TVK_MD5_H(b, c, d) ((b) ^ (c) ^ (d))
#define TVK_MD5_I(b, c, d) ((c) ^ ((b) | ~(d)))

void Md5Compress(uint32_t state[4], const uint8_t* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadU32(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  const uint32_t* t = kMd5Sine;
  for (int i = 0; i < 16; i += 4) {
    TVK_MD5_STEP(TVK_MD5_F, a, b, c, d, x[i], t[i], 7);
    TVK_MD5_STEP(TVK_MD5_F, d, a, b, c, x[i + 1], t[i + 1], 12);
    TVK_MD5_STEP(TVK_MD5_F, c, d, a, b, x[i + 2], t[i + 2], 17);
    TVK_MD5_STEP(TVK_MD5_F, b, c, d, a, x[i + 3], t[i + 3], 22);
  }
  for (int i = 16; i < 32; i += 4) {
    TVK_MD5_STEP(TVK_MD5_G, a, b, c, d, x[(5 * i + 1) & 15], t[i], 5);
    TVK_MD5_STEP(TVK_MD5_G, d, a, b, c, x[(5 * i + 6) & 15], t[i + 1], 9);
    TVK_MD5_STEP(TVK_MD5_G, c, d, a, b, x[(5 * i + 11) & 15], t[i + 2], 14);
    TVK_MD5_STEP(TVK_MD5_G, b, c, d, a, x[(5 * i + 16) & 15], t[i + 3], 20);
  }
  for (int i = 32; i < 48; i += 4) {
    TVK_MD5_STEP(TVK_MD5_H, a, b, c, d, x[(3 * i + 5) & 15], t[i], 4);
    TVK_MD5_STEP(TVK_MD5_H, d, a, b, c, x[(3 * i + 8) & 15], t[i + 1], 11);
    TVK_MD5_STEP(TVK_MD5_H, c, d, a, b, x[(3 * i + 11) & 15], t[i + 2], 16);
    TVK_MD5_STEP(TVK_MD5_H, b, c, d, a, x[(3 * i + 14) & 15], t[i + 3], 23);
  }
  for (int i = 48; i < 64; i += 4) {
    TVK_MD5_STEP(TVK_MD5_I, a, b, c, d, x[(7 * i) & 15], t[i], 6);
    TVK_MD5_STEP(TVK_MD5_I, d, a, b, c, x[(7 * i + 7) & 15], t[i + 1], 10);
    TVK_MD5_STEP(TVK_MD5_I, c, d, a, b, x[(7 * i + 14) & 15], t[i + 2], 15);
    TVK_MD5_STEP(TVK_MD5_I, b, c, d, a, x[(7 * i + 21) & 15], t[i + 3], 21);
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  SecureZero(x, sizeof x);
}

#undef TVK_MD5_STEP
#undef TVK_MD5_F
#undef TVK_MD5_G
#undef TVK_MD5_H
#undef TVK_MD5_I

// ---- SHA-256 ---------------------------------------------------------------

constexpr uint32_t kSha256K[64] = {
    0x428A2F98u, 0x71374491u, 0xB5C0FBCFu, 0xE9B5DBA5u, 0x3956C25Bu, 0x59F111F1u,
    0x923F82A4u, 0xAB1C5ED5u, 0xD807AA98u, 0x12835B01u, 0x243185BEu, 0x550C7DC3u,
    0x72BE5D74u, 0x80DEB1FEu, 0x9BDC06A7u, 0xC19BF174u, 0xE49B69C1u, 0xEFBE4786u,
    0x0FC19DC6u, 0x240CA1CCu, 0x2DE92C6Fu, 0x4A7484AAu, 0x5CB0A9DCu, 0x76F988DAu,
    0x983E5152u, 0xA831C66Du, 0xB00327C8u, 0xBF597FC7u, 0xC6E00BF3u, 0xD5A79147u,
    0x06CA6351u, 0x14292967u, 0x27B70A85u, 0x2E1B2138u, 0x4D2C6DFCu, 0x53380D13u,
    0x650A7354u, 0x766A0ABBu, 0x81C2C92Eu, 0x92722C85u, 0xA2BFE8A1u, 0xA81A664Bu,
    0xC24B8B70u, 0xC76C51A3u, 0xD192E819u, 0xD6990624u, 0xF40E3585u, 0x106AA070u,
    0x19A4C116u, 0x1E376C08u, 0x2748774Cu, 0x34B0BCB5u, 0x391C0CB3u, 0x4ED8AA4Au,
    0x5B9CCA4Fu, 0x682E6FF3u, 0x748F82EEu, 0x78A5636Fu, 0x84C87814u, 0x8CC70208u,
    0x90BEFFFAu, 0xA4506CEBu, 0xBEF9A3F7u, 0xC67178F2u,
};

constexpr uint32_t kSha256Init[8] = {
    0x6A09E667u, 0xBB67AE85u, 0x3C6EF372u, 0xA54FF53Au,
    0x510E527Fu, 0x9B05688Cu, 0x1F83D9ABu, 0x5BE0CD19u,
};

// After a round the working variables move down one place, taking in the
// round's two sums.
template <typename Word>
inline void NextRound(Word& a, Word& b, Word& c, Word& d, Word& e, Word& f, Word& g, Word& h,
                      Word t1, Word t2) {
  h = g;
  g = f;
  f = e;
  e = d + t1;
  d = c;
  c = b;
  b = a;
  a = t1 + t2;
}

// One round per loop step: the unrolled form was about five times larger,
// for a digest the self-extractor runs once over the archive. The schedule
// is computed on the fly in a 16-word ring.
void Sha256Compress(uint32_t state[8], const uint8_t* block) {
  uint32_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = LoadBe32(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (int i = 0; i < 64; ++i) {
    uint32_t* word = &w[i & 15];
    if (i >= 16) {
      uint32_t x = w[(i - 15) & 15], y = w[(i - 2) & 15];
      *word += (Ror32(x, 7) ^ Ror32(x, 18) ^ (x >> 3)) + w[(i - 7) & 15] +
               (Ror32(y, 17) ^ Ror32(y, 19) ^ (y >> 10));
    }
    uint32_t t1 = h + (Ror32(e, 6) ^ Ror32(e, 11) ^ Ror32(e, 25)) + (g ^ (e & (f ^ g))) +
                  kSha256K[i] + *word;
    uint32_t t2 = (Ror32(a, 2) ^ Ror32(a, 13) ^ Ror32(a, 22)) + ((a & b) | (c & (a | b)));
    NextRound(a, b, c, d, e, f, g, h, t1, t2);
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
  SecureZero(w, sizeof w);
}

// ---- Sha512 with signed words ---------------------------------------------
// The words are signed, so every right shift drags bit 63 along: the shift
// half of each rotation as well as the plain shifts of the message schedule.
// Sums are taken on the unsigned form, which wraps exactly like the signed
// two's-complement sums would.

constexpr uint64_t kSha512K[80] = {
    0x428A2F98D728AE22ull, 0x7137449123EF65CDull, 0xB5C0FBCFEC4D3B2Full,
    0xE9B5DBA58189DBBCull, 0x3956C25BF348B538ull, 0x59F111F1B605D019ull,
    0x923F82A4AF194F9Bull, 0xAB1C5ED5DA6D8118ull, 0xD807AA98A3030242ull,
    0x12835B0145706FBEull, 0x243185BE4EE4B28Cull, 0x550C7DC3D5FFB4E2ull,
    0x72BE5D74F27B896Full, 0x80DEB1FE3B1696B1ull, 0x9BDC06A725C71235ull,
    0xC19BF174CF692694ull, 0xE49B69C19EF14AD2ull, 0xEFBE4786384F25E3ull,
    0x0FC19DC68B8CD5B5ull, 0x240CA1CC77AC9C65ull, 0x2DE92C6F592B0275ull,
    0x4A7484AA6EA6E483ull, 0x5CB0A9DCBD41FBD4ull, 0x76F988DA831153B5ull,
    0x983E5152EE66DFABull, 0xA831C66D2DB43210ull, 0xB00327C898FB213Full,
    0xBF597FC7BEEF0EE4ull, 0xC6E00BF33DA88FC2ull, 0xD5A79147930AA725ull,
    0x06CA6351E003826Full, 0x142929670A0E6E70ull, 0x27B70A8546D22FFCull,
    0x2E1B21385C26C926ull, 0x4D2C6DFC5AC42AEDull, 0x53380D139D95B3DFull,
    0x650A73548BAF63DEull, 0x766A0ABB3C77B2A8ull, 0x81C2C92E47EDAEE6ull,
    0x92722C851482353Bull, 0xA2BFE8A14CF10364ull, 0xA81A664BBC423001ull,
    0xC24B8B70D0F89791ull, 0xC76C51A30654BE30ull, 0xD192E819D6EF5218ull,
    0xD69906245565A910ull, 0xF40E35855771202Aull, 0x106AA07032BBD1B8ull,
    0x19A4C116B8D2D0C8ull, 0x1E376C085141AB53ull, 0x2748774CDF8EEB99ull,
    0x34B0BCB5E19B48A8ull, 0x391C0CB3C5C95A63ull, 0x4ED8AA4AE3418ACBull,
    0x5B9CCA4F7763E373ull, 0x682E6FF3D6B2B8A3ull, 0x748F82EE5DEFB2FCull,
    0x78A5636F43172F60ull, 0x84C87814A1F0AB72ull, 0x8CC702081A6439ECull,
    0x90BEFFFA23631E28ull, 0xA4506CEBDE82BDE9ull, 0xBEF9A3F7B2C67915ull,
    0xC67178F2E372532Bull, 0xCA273ECEEA26619Cull, 0xD186B8C721C0C207ull,
    0xEADA7DD6CDE0EB1Eull, 0xF57D4F7FEE6ED178ull, 0x06F067AA72176FBAull,
    0x0A637DC5A2C898A6ull, 0x113F9804BEF90DAEull, 0x1B710B35131C471Bull,
    0x28DB77F523047D84ull, 0x32CAAB7B40C72493ull, 0x3C9EBE0A15C9BEBCull,
    0x431D67C49C100D4Cull, 0x4CC5D4BECB3E42B6ull, 0x597F299CFC657E2Aull,
    0x5FCB6FAB3AD6FAECull, 0x6C44198C4A475817ull,
};

constexpr uint64_t kSha512Init[8] = {
    0x6A09E667F3BCC908ull, 0xBB67AE8584CAA73Bull, 0x3C6EF372FE94F82Bull,
    0xA54FF53A5F1D36F1ull, 0x510E527FADE682D1ull, 0x9B05688C2B3E6C1Full,
    0x1F83D9ABFB41BD6Bull, 0x5BE0CD19137E2179ull,
};

inline uint64_t Sar(uint64_t x, int b) { return uint64_t(int64_t(x) >> b); }
inline uint64_t SignedRor(uint64_t x, int b) { return Sar(x, b) | (x << (64 - b)); }

// The byte-order reversal the digest uses for message words, lengths and the
// output: it swaps the 32-bit halves with an arithmetic shift, so a set top
// bit of the little-endian form fills the upper half with ones.
inline uint64_t LoadSha512Word(const uint8_t* p) {
  uint64_t low = LoadBe32(p + 4);
  uint64_t high = p[7] >= 0x80 ? 0xFFFFFFFFu : LoadBe32(p);
  return high << 32 | low;
}
inline void StoreSha512Word(uint8_t* p, uint64_t v) {
  StoreBe32(p, uint32_t(v >> 32));
  StoreBe32(p + 4, (v >> 63) ? 0xFFFFFFFFu : uint32_t(v));
}

// One round per loop step, as for SHA-256: on 32-bit x86 each 64-bit
// rotation is a handful of instructions, and eight unrolled rounds cost
// about 6 KB of the self-extractor.
void Sha512Compress(int64_t state[8], const uint8_t* block) {
  uint64_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = LoadSha512Word(block + 8 * i);
  uint64_t a = uint64_t(state[0]), b = uint64_t(state[1]), c = uint64_t(state[2]),
           d = uint64_t(state[3]), e = uint64_t(state[4]), f = uint64_t(state[5]),
           g = uint64_t(state[6]), h = uint64_t(state[7]);
  for (int i = 0; i < 80; ++i) {
    uint64_t* word = &w[i & 15];
    if (i >= 16) {
      uint64_t x = w[(i - 15) & 15], y = w[(i - 2) & 15];
      *word += (SignedRor(x, 1) ^ SignedRor(x, 8) ^ Sar(x, 7)) + w[(i - 7) & 15] +
               (SignedRor(y, 19) ^ SignedRor(y, 61) ^ Sar(y, 6));
    }
    uint64_t t1 = h + (SignedRor(e, 14) ^ SignedRor(e, 18) ^ SignedRor(e, 41)) +
                  (g ^ (e & (f ^ g))) + kSha512K[i] + *word;
    uint64_t t2 = (SignedRor(a, 28) ^ SignedRor(a, 34) ^ SignedRor(a, 39)) +
                  ((a & b) | (c & (a | b)));
    NextRound(a, b, c, d, e, f, g, h, t1, t2);
  }
  state[0] = int64_t(uint64_t(state[0]) + a);
  state[1] = int64_t(uint64_t(state[1]) + b);
  state[2] = int64_t(uint64_t(state[2]) + c);
  state[3] = int64_t(uint64_t(state[3]) + d);
  state[4] = int64_t(uint64_t(state[4]) + e);
  state[5] = int64_t(uint64_t(state[5]) + f);
  state[6] = int64_t(uint64_t(state[6]) + g);
  state[7] = int64_t(uint64_t(state[7]) + h);
  SecureZero(w, sizeof w);
}

// Shared block feeding: fill the partial block, then compress whole blocks
// straight from the caller's data, then keep the tail.
template <typename State, uint32_t kBlock, void (*Compress)(State*, const uint8_t*)>
void FeedBlocks(State* state, uint8_t* buffer, uint32_t filled, const uint8_t* in,
                uint32_t length) {
  if (filled > 0) {
    uint32_t room = kBlock - filled;
    if (length < room) {
      memcpy(buffer + filled, in, length);
      return;
    }
    memcpy(buffer + filled, in, room);
    Compress(state, buffer);
    in += room;
    length -= room;
  }
  while (length >= kBlock) {
    Compress(state, in);
    in += kBlock;
    length -= kBlock;
  }
  memcpy(buffer, in, length);
}

}  // namespace

// ---- MD5 -------------------------------------------------------------------

void Md5Init(Md5Context* ctx) {
  memset(ctx, 0, sizeof *ctx);
  ctx->state[0] = 0x67452301u;
  ctx->state[1] = 0xEFCDAB89u;
  ctx->state[2] = 0x98BADCFEu;
  ctx->state[3] = 0x10325476u;
}

void Md5Update(Md5Context* ctx, const void* data, uint32_t length) {
  if (length == 0) return;
  uint32_t filled = (ctx->count[0] >> 3) & 63;
  uint32_t low = ctx->count[0] + (length << 3);
  if (low < ctx->count[0]) ++ctx->count[1];
  ctx->count[0] = low;
  ctx->count[1] += length >> 29;
  FeedBlocks<uint32_t, 64, Md5Compress>(ctx->state, ctx->buffer, filled,
                                        static_cast<const uint8_t*>(data), length);
}

void Md5Final(Md5Context* ctx, uint8_t digest[16]) {
  uint8_t bits[8];
  StoreU32(bits, ctx->count[0]);
  StoreU32(bits + 4, ctx->count[1]);
  uint32_t filled = (ctx->count[0] >> 3) & 63;
  static const uint8_t kPad[64] = {0x80};
  Md5Update(ctx, kPad, filled < 56 ? 56 - filled : 120 - filled);
  Md5Update(ctx, bits, 8);
  for (int i = 0; i < 4; ++i) StoreU32(digest + 4 * i, ctx->state[i]);
  SecureZero(ctx, sizeof *ctx);
}

void Md5OfBuffer(const void* data, uint32_t length, uint8_t digest[16]) {
  uint8_t local[276];
  if (length > sizeof local) length = sizeof local;
  if (length) memcpy(local, data, length);
  Md5Context ctx;
  Md5Init(&ctx);
  Md5Update(&ctx, local, length);
  Md5Final(&ctx, digest);
  SecureZero(local, sizeof local);
}

// ---- SHA-256 ---------------------------------------------------------------

void Sha256Init(Sha256Context* ctx) {
  memset(ctx, 0, sizeof *ctx);
  memcpy(ctx->state, kSha256Init, sizeof kSha256Init);
}

void Sha256Update(Sha256Context* ctx, const void* data, uint32_t length) {
  if (length == 0) return;
  uint32_t filled = uint32_t(ctx->bitCount >> 3) & 63;
  ctx->bitCount += uint64_t(length) << 3;
  FeedBlocks<uint32_t, 64, Sha256Compress>(ctx->state, ctx->buffer, filled,
                                           static_cast<const uint8_t*>(data), length);
}

void Sha256Final(Sha256Context* ctx, uint8_t* digest) {
  if (digest == nullptr) return;
  uint8_t* block = ctx->buffer;
  uint32_t filled = uint32_t(ctx->bitCount >> 3) & 63;
  if (filled == 0) {
    memset(block, 0, 64);
    block[0] = 0x80;
  } else {
    block[filled] = 0x80;
    uint32_t used = filled + 1;
    // "used < 56", where the usual rule has "<=": a last block of exactly 55
    // bytes sends the length into a block of its own. Archives are keyed and
    // signed with this variant, so it has to stay.
    if (used < 56) {
      memset(block + used, 0, 56 - used);
    } else {
      memset(block + used, 0, 64 - used);
      Sha256Compress(ctx->state, block);
      memset(block, 0, 56);
    }
  }
  StoreBe32(block + 56, uint32_t(ctx->bitCount >> 32));
  StoreBe32(block + 60, uint32_t(ctx->bitCount));
  Sha256Compress(ctx->state, block);
  for (int i = 0; i < 8; ++i) StoreBe32(digest + 4 * i, ctx->state[i]);
  SecureZero(ctx, sizeof *ctx);
}

bool Sha256OfBuffer(uint8_t* digest, const void* data, uint32_t length) {
  if (digest == nullptr || data == nullptr || length == 0) return false;
  Sha256Context ctx;
  Sha256Init(&ctx);
  Sha256Update(&ctx, data, length);
  Sha256Final(&ctx, digest);
  return true;
}

// ---- Sha512 ----------------------------------------------------------------

void Sha512Init(Sha512Context* ctx) {
  memset(ctx, 0, sizeof *ctx);
  for (int i = 0; i < 8; ++i) ctx->state[i] = int64_t(kSha512Init[i]);
}

void Sha512Update(Sha512Context* ctx, const void* data, uint32_t length) {
  if (length == 0) return;
  uint32_t filled = uint32_t(ctx->bitCount[0] >> 3) & 127;
  uint64_t add = uint64_t(length) << 3;
  ctx->bitCount[0] += add;
  if (ctx->bitCount[0] < add) ++ctx->bitCount[1];
  FeedBlocks<int64_t, 128, Sha512Compress>(ctx->state, ctx->buffer, filled,
                                           static_cast<const uint8_t*>(data), length);
}

void Sha512Final(Sha512Context* ctx, uint8_t* digest) {
  if (digest == nullptr) return;
  uint8_t* block = ctx->buffer;
  uint32_t filled = uint32_t(ctx->bitCount[0] >> 3) & 127;
  if (filled == 0) {
    memset(block, 0, 128);
    block[0] = 0x80;
  } else {
    block[filled] = 0x80;
    uint32_t used = filled + 1;
    // Same short-by-one threshold as the SHA-256 variant (111 mod 128).
    if (used < 112) {
      memset(block + used, 0, 112 - used);
    } else {
      memset(block + used, 0, 128 - used);
      Sha512Compress(ctx->state, block);
      memset(block, 0, 112);
    }
  }
  StoreSha512Word(block + 112, ctx->bitCount[1]);
  StoreSha512Word(block + 120, ctx->bitCount[0]);
  Sha512Compress(ctx->state, block);
  for (int i = 0; i < 8; ++i) StoreSha512Word(digest + 8 * i, uint64_t(ctx->state[i]));
  SecureZero(ctx, sizeof *ctx);
}

}  // namespace tvk
