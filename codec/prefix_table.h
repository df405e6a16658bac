// Canonical prefix codes read through single-level lookup tables, and the two
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
  // size entries: the symbol for each index in the low 9 bits and its code
  // length above them, so one 16-bit load serves the lookup and the skip and
  // a 15-bit table takes 64 KiB of cache instead of 128 KiB.
  uint16_t* lookup = nullptr;
  // Bits of the window that index lookup: the longest code length of the
  // current code. Every code fits in it, so the entry found is the one a
  // lookup on `width` bits would find, while a code of short lengths (the
  // usual distance and repeat-length codes) fills a few hundred entries
  // instead of 32768 per block.
  uint32_t bits = 0;
};

constexpr uint32_t kLookupSymbolBits = 9;
constexpr uint32_t kMaxTableSymbols = 1u << kLookupSymbolBits;
inline uint32_t LookupSymbol(uint32_t entry) { return entry & (kMaxTableSymbols - 1); }
inline uint32_t LookupLength(uint32_t entry) { return entry >> kLookupSymbolBits; }

// Allocates both arrays; false when memory is short (or for more symbols than
// a lookup entry can name).
bool InitTable(PrefixTable* t, uint32_t count, uint32_t width);
void FreeTable(PrefixTable* t);
// Builds lookup from lengths; false unless the lengths form a complete code.
bool BuildTable(PrefixTable* t);
// One lookup on the top bits of the window, then a skip of the symbol's own
// length.
inline uint32_t Decode(const PrefixTable* t, PackedInput* in) {
  uint32_t e = t->lookup[in->Window() >> (32 - t->bits)];
  in->Skip(LookupLength(e));
  return LookupSymbol(e);
}
// The 19-symbol pre-code: 19 lengths of 4 bits, built with width 7.
bool ReadPreCode(PrefixTable* preCode, PackedInput* in);
bool ReadPreCodedLengths(PrefixTable* t, const PrefixTable* preCode, PackedInput* in);
bool ReadDeltaLengths(PrefixTable* t, PackedInput* in);

}  // namespace tvk

#endif
