// CRC-32 (reflected polynomial 0xEDB88320) used as a bare register: callers
// start it at 0xFFFFFFFF and never invert it at the end.
#ifndef TVK_CRYPTO_CRC32_H
#define TVK_CRYPTO_CRC32_H

#include <stddef.h>
#include <stdint.h>

namespace tvk {

constexpr uint32_t kCrcStart = 0xFFFFFFFFu;

uint32_t Crc32(uint32_t reg, const void* data, size_t length);

// Keeps Crc32 on its portable tables even where the processor could fold
// with carry-less multiplication; for tests that compare the two.
extern bool crcTablesOnly;

// Low 16 bits of the register over head bytes 2 .. size-1.
inline uint16_t HeadCheckOf(const uint8_t* head, uint32_t size) {
  return static_cast<uint16_t>(Crc32(kCrcStart, head + 2, size - 2) & 0xFFFF);
}

}  // namespace tvk

#endif
