// Windows-1252, the code page of the archive's names and texts, for every
// layer that converts them: bytes 0x80 to 0x9F differ from Latin-1.
#ifndef TVK_COMMON_CP1252_H
#define TVK_COMMON_CP1252_H

#include <stdint.h>

namespace tvk {

// Code points of bytes 0x80 to 0x9F. The five bytes the code page leaves
// unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the C1 controls of
// the same number, so that every byte reads as something; every assigned
// one lies above U+00FF.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

// The code point a byte reads as.
constexpr uint32_t Cp1252CodePoint(uint8_t b) {
  return b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b;
}

// The byte of a code point, or -1 where the code page has none. The C1
// controls of the unassigned bytes are refused: they are no characters
// anybody types or names a file with.
constexpr int Cp1252ByteOf(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int k = 0; k < 32; ++k) {
    if (kCp1252High[k] > 0xFF && kCp1252High[k] == cp) return 0x80 + k;
  }
  return -1;
}

}  // namespace tvk

#endif
