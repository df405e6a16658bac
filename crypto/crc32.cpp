#include "crypto/crc32.h"

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

CrcTables g_tables;
bool g_tablesReady = false;

const CrcTables& Tables() {
  if (!g_tablesReady) {
    MakeTables(g_tables);
    g_tablesReady = true;
  }
  return g_tables;
}

}  // namespace

inline uint32_t Load32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t Crc32(uint32_t reg, const void* data, size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  const uint32_t(*t)[256] = Tables().t;
  // Sixteen independent loads per step: the table reads overlap instead of
  // waiting on each other through the register.
  while (length >= 16) {
    uint32_t a = reg ^ Load32(p);
    uint32_t b = Load32(p + 4);
    uint32_t c = Load32(p + 8);
    uint32_t d = Load32(p + 12);
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
