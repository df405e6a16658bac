// Canonical prefix codes: single-level lookup tables built from code lengths,
// and the pre-coded and delta-coded forms in which those lengths are sent.
#include "codec/prefix_table.h"

#include <string.h>

#include "platform/platform.h"

namespace tvk {

namespace {
constexpr uint32_t kMaxLength = 16;
constexpr uint32_t kPreCodeSymbols = 19;
constexpr uint32_t kPreCodeWidth = 7;
}  // namespace

bool InitTable(PrefixTable* t, uint32_t count, uint32_t width) {
  FreeTable(t);
  if (width == 0 || width > kMaxLength || count == 0 || count > kMaxTableSymbols) return false;
  t->count = count;
  t->width = width;
  t->size = 1u << width;
  uint32_t firstSize = 1u << (width < kFirstLevelBits ? width : kFirstLevelBits);
  t->lengths = static_cast<uint32_t*>(MemAllocZero(count * sizeof(uint32_t)));
  t->first = static_cast<uint32_t*>(MemAllocZero(firstSize * sizeof(uint32_t)));
  t->second = static_cast<uint16_t*>(MemAllocZero(t->size * sizeof(uint16_t)));
  if (!t->lengths || !t->first || !t->second) {
    FreeTable(t);
    return false;
  }
  t->firstBits = 1;  // a table never built answers symbol 0 of length 0
  return true;
}

void FreeTable(PrefixTable* t) {
  MemFree(t->lengths);
  MemFree(t->first);
  MemFree(t->second);
  t->lengths = nullptr;
  t->first = nullptr;
  t->second = nullptr;
  t->count = t->width = t->size = 0;
  t->firstBits = 1;
}

bool BuildTable(PrefixTable* t) {
  const uint32_t n = t->width;
  uint32_t counts[kMaxLength + 1] = {};
  for (uint32_t s = 0; s < t->count; ++s) {
    uint32_t len = t->lengths[s];
    if (len > kMaxLength || len > n) return false;
    ++counts[len];
  }
  // Only a complete code fills the table; an empty or one-symbol set cannot.
  uint64_t filled = 0;
  for (uint32_t k = 1; k <= n; ++k) filled += uint64_t(counts[k]) << (n - k);
  if (filled != t->size) return false;
  uint32_t longest = n;
  while (counts[longest] == 0) --longest;
  const uint32_t most = t->fullFirst ? n : longest;
  const uint32_t fb = most < kFirstLevelBits ? most : kFirstLevelBits;

  // Canonical codes: shorter codes first, and by symbol within a length.
  uint32_t next[kMaxLength + 1] = {};
  uint32_t code = 0;
  counts[0] = 0;
  for (uint32_t len = 1; len <= longest; ++len) {
    code = (code + counts[len - 1]) << 1;
    next[len] = code;
  }
  // The index width each first-level prefix of longer codes needs: its
  // longest code.
  uint8_t widthOf[1u << kFirstLevelBits];
  if (longest > fb) {
    memset(widthOf, 0, sizeof(uint8_t) << fb);
    uint32_t probe[kMaxLength + 1];
    memcpy(probe, next, sizeof(probe));
    for (uint32_t s = 0; s < t->count; ++s) {
      uint32_t len = t->lengths[s];
      if (len <= fb) continue;
      uint32_t c = probe[len]++;
      uint32_t prefix = c >> (len - fb);
      if (len - fb > widthOf[prefix]) widthOf[prefix] = static_cast<uint8_t>(len - fb);
    }
    uint32_t offset = 0;
    for (uint32_t p = 0; p < (1u << fb); ++p) {
      if (!widthOf[p]) continue;
      t->first[p] = kLookupLink | uint32_t(widthOf[p]) << 16 | offset;
      offset += 1u << widthOf[p];
      if (offset > t->size) return false;  // cannot happen with a complete code
    }
  }
  for (uint32_t s = 0; s < t->count; ++s) {
    uint32_t len = t->lengths[s];
    if (len == 0) continue;
    uint32_t c = next[len]++;
    const uint32_t e = s | len << kLookupSymbolBits;
    if (len <= fb) {
      // Spans are powers of two at aligned places: two entries per store
      // from two on.
      uint32_t* p = t->first + (c << (fb - len));
      const uint32_t span = 1u << (fb - len);
      if (span == 1) {
        *p = e;
      } else {
        const uint64_t pair = uint64_t(e) << 32 | e;
        for (uint32_t i = 0; i < span; i += 2) memcpy(p + i, &pair, 8);
      }
    } else {
      uint32_t prefix = c >> (len - fb);
      uint32_t rest = len - fb;
      uint32_t w = widthOf[prefix];
      uint32_t low = c & ((1u << rest) - 1);
      uint16_t* p = t->second + (t->first[prefix] & 0xFFFF) + (low << (w - rest));
      const uint32_t span = 1u << (w - rest);
      if (span < 4) {
        p[0] = static_cast<uint16_t>(e);
        if (span == 2) p[1] = static_cast<uint16_t>(e);
      } else {
        const uint64_t quad = uint64_t(e) * 0x0001000100010001ull;
        for (uint32_t i = 0; i < span; i += 4) memcpy(p + i, &quad, 8);
      }
    }
  }
  t->firstBits = fb;
  return true;
}

bool ReadPreCode(PrefixTable* preCode, PackedInput* in) {
  if (preCode->count != kPreCodeSymbols || preCode->width != kPreCodeWidth) return false;
  for (uint32_t s = 0; s < kPreCodeSymbols; ++s) preCode->lengths[s] = in->ReadBits(4);
  return BuildTable(preCode);
}

bool ReadPreCodedLengths(PrefixTable* t, const PrefixTable* preCode, PackedInput* in) {
  uint32_t i = 0;
  while (i < t->count) {
    uint32_t sym = Decode(preCode, in);
    if (sym < 16) {
      t->lengths[i++] = sym;
      continue;
    }
    uint32_t value = 0;
    uint32_t run;
    if (sym == 16) {
      // Repeating the previous length needs one: a table cannot open with it.
      if (i == 0) return false;
      value = t->lengths[i - 1];
      run = 3 + in->ReadBits(2);
    } else if (sym == 17) {
      run = 3 + in->ReadBits(3);
    } else {
      run = 11 + in->ReadBits(7);
    }
    // A run that passes the last symbol ends the table; the rest is dropped.
    while (run-- > 0 && i < t->count) t->lengths[i++] = value;
  }
  return BuildTable(t);
}

bool ReadDeltaLengths(PrefixTable* t, PackedInput* in) {
  uint32_t len = in->ReadBits(4);
  t->lengths[0] = len;
  for (uint32_t i = 1; i < t->count; ++i) {
    uint32_t w = in->Window();
    if ((w & 0x80000000u) == 0) {
      in->Skip(1);
    } else if ((w & 0x40000000u) == 0) {
      in->Skip(2);
      ++len;
    } else if ((w & 0x20000000u) == 0) {
      // 1100: one less; 1101: two more.
      if ((w & 0x10000000u) == 0) {
        if (len == 0) return false;
        --len;
      } else {
        len += 2;
      }
      in->Skip(4);
    } else {
      in->Skip(3);
      len = in->ReadBits(4);
    }
    if (len > kMaxLength) return false;
    t->lengths[i] = len;
  }
  return BuildTable(t);
}

}  // namespace tvk
