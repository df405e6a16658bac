// The alphabets of the LZ stream, shared by the decoder and the writer's
// encoder so that both speak the same symbols, lengths and distances.
#ifndef TVK_CODEC_LZ_ALPHABET_H
#define TVK_CODEC_LZ_ALPHABET_H

#include <stdint.h>

namespace tvk::lz {

constexpr uint32_t kMainSymbols = 310;
constexpr uint32_t kRepeatSymbols = 25;
constexpr uint32_t kDistSymbols = 56;
constexpr uint32_t kPreSymbols = 19;
constexpr uint32_t kMaxCodeLength = 15;
constexpr uint32_t kMaxPreLength = 7;

// The main alphabet: literals 0..255, then the match symbols by kind.
constexpr uint32_t kSymRepeatLast = 256;     // the last match again
constexpr uint32_t kSymCacheFirst = 257;     // 257..260: a distance of the cache
constexpr uint32_t kSymShortFirst = 261;     // 261..268: length 2, short distances
constexpr uint32_t kSymLength3First = 269;   // 269..283: length 3
constexpr uint32_t kSymMatchFirst = 284;     // 284..307: length by kLengthBase
constexpr uint32_t kSymLongMatch = 308;      // a length of kLongLengthBits raw bits
// The repeat alphabet's symbol for a length of kLongLengthBits raw bits.
constexpr uint32_t kRepeatLong = 24;
constexpr uint32_t kLongLengthBase = 257;
constexpr uint32_t kLongLengthBits = 14;
constexpr uint32_t kLongestMatch = kLongLengthBase + (1u << kLongLengthBits) - 1;

constexpr uint8_t kLengthBase[24] = {0,  1,  2,  3,  4,  5,  6,  7,   8,   10,  12,  16,
                                            20, 24, 32, 40, 48, 64, 80, 96, 128, 160, 192, 224};
constexpr uint8_t kLengthExtra[24] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 2, 2,
                                             2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 5, 5};
// Distances of the length-2 symbols.
constexpr uint8_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
constexpr uint8_t kShortExtra[8] = {2, 2, 3, 4, 5, 6, 6, 6};

// Extra bits of the widest distance codes, by window: the two largest
// windows need wider ones to reach their far end.
static constexpr uint32_t DistanceTopExtra(uint32_t windowSize) {
  return (windowSize >> 10) == 2048 ? 17 : (windowSize >> 10) == 4096 ? 18 : 16;
}
// How many distance codes a window's table uses.
static constexpr uint32_t DistanceCodeCount(uint32_t topExtra) { return 2 * topExtra + 16; }

// The first distance (less one) of a code and its count of extra bits.
struct DistanceCode {
  uint32_t base;
  uint32_t extra;
};
static constexpr DistanceCode DistanceCodeOf(uint32_t code, uint32_t topExtra) {
  if (code < 4) return {code, 0};
  if (code <= 2 * topExtra + 3) {
    const uint32_t extra = (code - 2) >> 1;
    return {(2 + (code & 1)) << extra, extra};
  }
  return {(1u << (topExtra + 2)) + (code - (2 * topExtra + 4)) * (1u << topExtra), topExtra};
}
// The writer's direction: the code of a distance less one (d > 0 past the
// first four).
static constexpr uint32_t DistanceCodeFor(uint32_t d, uint32_t topExtra) {
  if (d < 4) return d;
  if (d < (1u << (topExtra + 2))) {
    const uint32_t extra = 30 - static_cast<uint32_t>(__builtin_clz(d));
    return 2 * extra + 2 + ((d >> extra) & 1);
  }
  return 2 * topExtra + 4 + ((d - (1u << (topExtra + 2))) >> topExtra);
}

}  // namespace tvk::lz

#endif
