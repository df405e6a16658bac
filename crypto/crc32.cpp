#include "crypto/crc32.h"

#include "common/bytes.h"
#include "crypto/built_once.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>

#include "crypto/cpu_features.h"
#define TVK_CRC_CLMUL 1
#endif

namespace tvk {
namespace {

struct CrcTables {
  uint32_t t[16][256];
};

// Slicing by sixteen needs sixteen tables of 256 words; table s advances a
// byte by s + 1 positions. They are built on first use into zeroed memory
// rather than stored: 16 KiB less in the self-extractor's file.
void MakeTables(CrcTables& tables) {
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    tables.t[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; ++i) {
    for (int s = 1; s < 16; ++s) {
      uint32_t prev = tables.t[s - 1][i];
      tables.t[s][i] = (prev >> 8) ^ tables.t[0][prev & 0xFF];
    }
  }
}

const CrcTables& Tables() { return BuiltOnce<CrcTables, MakeTables>(); }

}  // namespace

#if defined(TVK_CRC_CLMUL)
namespace {

bool CpuHasClmul() { return CpuHasLeaf1(bit_PCLMUL | bit_SSE4_1, bit_SSE2); }

// Carry-less multiplication folds four 16-byte lanes at a time by the
// constants x^(512+-32) and x^(512) mod P (bit-reflected), then the lanes
// into one, then 128 bits to 64 and a Barrett reduction to the 32-bit
// register. n is a multiple of 16 and at least 64.
__attribute__((target("pclmul,sse4.1"))) uint32_t FoldClmul(const uint8_t* p, size_t n,
                                                             uint32_t reg) {
  const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596LL, 0x0154442bd4LL);
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009eLL, 0x01751997d0LL);
  const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124LL);
  const __m128i poly = _mm_set_epi64x(0x01f7011641LL, 0x01db710641LL);
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);

  __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
  __m128i x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
  x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(reg)));
  p += 64;
  n -= 64;
  while (n >= 64) {
    __m128i x5 = _mm_clmulepi64_si128(x1, k1k2, 0x00);
    __m128i x6 = _mm_clmulepi64_si128(x2, k1k2, 0x00);
    __m128i x7 = _mm_clmulepi64_si128(x3, k1k2, 0x00);
    __m128i x8 = _mm_clmulepi64_si128(x4, k1k2, 0x00);
    x1 = _mm_clmulepi64_si128(x1, k1k2, 0x11);
    x2 = _mm_clmulepi64_si128(x2, k1k2, 0x11);
    x3 = _mm_clmulepi64_si128(x3, k1k2, 0x11);
    x4 = _mm_clmulepi64_si128(x4, k1k2, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    x2 = _mm_xor_si128(_mm_xor_si128(x2, x6),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
    x3 = _mm_xor_si128(_mm_xor_si128(x3, x7),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)));
    x4 = _mm_xor_si128(_mm_xor_si128(x4, x8),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)));
    p += 64;
    n -= 64;
  }
  const __m128i lanes[3] = {x2, x3, x4};
  for (const __m128i& next : lanes) {
    __m128i lo = _mm_clmulepi64_si128(x1, k3k4, 0x00);
    x1 = _mm_clmulepi64_si128(x1, k3k4, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, next), lo);
  }
  while (n >= 16) {
    __m128i lo = _mm_clmulepi64_si128(x1, k3k4, 0x00);
    x1 = _mm_clmulepi64_si128(x1, k3k4, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p))), lo);
    p += 16;
    n -= 16;
  }
  // 128 bits to 64.
  __m128i t = _mm_clmulepi64_si128(x1, k3k4, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), t);
  t = _mm_srli_si128(x1, 4);
  x1 = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00);
  x1 = _mm_xor_si128(x1, t);
  // Barrett reduction.
  t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
  x1 = _mm_xor_si128(x1, t);
  return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

}  // namespace
#endif

bool crcTablesOnly = false;

uint32_t Crc32(uint32_t reg, const void* data, size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
#if defined(TVK_CRC_CLMUL)
  if (length >= 64 && !crcTablesOnly && CpuHasClmul()) {
    size_t bulk = length & ~size_t(15);
    reg = FoldClmul(p, bulk, reg);
    p += bulk;
    length -= bulk;
  }
#endif
  const uint32_t(*t)[256] = Tables().t;
  // Sixteen independent loads per step: the table reads overlap instead of
  // waiting on each other through the register.
  while (length >= 16) {
    uint32_t a = reg ^ LoadU32(p);
    uint32_t b = LoadU32(p + 4);
    uint32_t c = LoadU32(p + 8);
    uint32_t d = LoadU32(p + 12);
    reg = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
          t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
          t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
          t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
    p += 16;
    length -= 16;
  }
  while (length--) reg = (reg >> 8) ^ t[0][(reg ^ *p++) & 0xFF];
  return reg;
}

}  // namespace tvk
