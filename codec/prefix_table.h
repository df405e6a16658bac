// Canonical prefix codes read through two-level lookup tables, and the two
// ways their code lengths are sent (pre-coded and delta-coded).
#ifndef TVK_CODEC_PREFIX_TABLE_H
#define TVK_CODEC_PREFIX_TABLE_H

#include <stdint.h>

#include "codec/decode.h"

namespace tvk {

struct PrefixTable {
  uint32_t count = 0;   // symbols
  uint32_t width = 0;   // lookup width in bits
  uint32_t size = 0;    // 1 << width
  uint32_t* lengths = nullptr;  // count code lengths, 0: symbol absent
  // An entry names a symbol in its low 9 bits and its code length above
  // them, so one load serves the lookup and the skip.
  // First level, on the top firstBits bits of the window (the longest code
  // length, at most kFirstLevelBits): small enough to stay in the nearest
  // cache. A code that fits has its entry here; the first bits of longer
  // codes hold a link (kLookupLink, the offset of a block of `second` in the
  // low 16 bits, the block's index width from bit 16) and the bits behind
  // them pick the entry there. Codes are complete, so every window finds the
  // entry a single lookup on `width` bits would find.
  uint32_t* first = nullptr;
  uint32_t firstBits = 1;
  // The first level always spans min(width, kFirstLevelBits) bits, even when
  // every code is shorter, so that a hot loop can look up with a constant
  // shift (the large alphabets rarely have codes that short anyway).
  bool fullFirst = false;
  uint16_t* second = nullptr;  // size entries at most
};

constexpr uint32_t kLookupSymbolBits = 9;
constexpr uint32_t kMaxTableSymbols = 1u << kLookupSymbolBits;
constexpr uint32_t kFirstLevelBits = 10;
constexpr uint32_t kLookupLink = 0x80000000u;
inline uint32_t LookupSymbol(uint32_t entry) { return entry & (kMaxTableSymbols - 1); }
inline uint32_t LookupLength(uint32_t entry) { return entry >> kLookupSymbolBits; }
// The entry of the code at the top of the window; the table's fields as
// values, for loops that keep them in registers.
__attribute__((always_inline)) inline uint32_t LookupIn(const uint32_t* first,
                                                        const uint16_t* second,
                                                        uint32_t firstBits, uint32_t window) {
  uint32_t e = first[window >> (32 - firstBits)];
  if (e & kLookupLink) {
    uint32_t width = (e >> 16) & 31;
    e = second[(e & 0xFFFF) + ((window << firstBits) >> (32 - width))];
  }
  return e;
}
__attribute__((always_inline)) inline uint32_t Lookup(const PrefixTable* t, uint32_t window) {
  return LookupIn(t->first, t->second, t->firstBits, window);
}

// Allocates both arrays; false when memory is short (or for more symbols than
// a lookup entry can name).
bool InitTable(PrefixTable* t, uint32_t count, uint32_t width);
void FreeTable(PrefixTable* t);
// Builds lookup from lengths; false unless the lengths form a complete code.
bool BuildTable(PrefixTable* t);
// The lookup on the top bits of the window, then a skip of the symbol's own
// length.
inline uint32_t Decode(const PrefixTable* t, PackedInput* in) {
  uint32_t e = Lookup(t, in->Window());
  in->Skip(LookupLength(e));
  return LookupSymbol(e);
}
// The 19-symbol pre-code: 19 lengths of 4 bits, built with width 7.
bool ReadPreCode(PrefixTable* preCode, PackedInput* in);
bool ReadPreCodedLengths(PrefixTable* t, const PrefixTable* preCode, PackedInput* in);
bool ReadDeltaLengths(PrefixTable* t, PackedInput* in);

}  // namespace tvk

#endif
