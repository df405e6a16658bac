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
  t->lengths = static_cast<uint32_t*>(MemAllocZero(count * sizeof(uint32_t)));
  t->lookup = static_cast<uint16_t*>(MemAllocZero(t->size * sizeof(uint16_t)));
  if (!t->lengths || !t->lookup) {
    FreeTable(t);
    return false;
  }
  return true;
}

void FreeTable(PrefixTable* t) {
  MemFree(t->lengths);
  MemFree(t->lookup);
  t->lengths = nullptr;
  t->lookup = nullptr;
  t->count = t->width = t->size = 0;
}

bool BuildTable(PrefixTable* t) {
  const uint32_t n = t->width;
  uint32_t counts[kMaxLength + 1] = {};
  for (uint32_t s = 0; s < t->count; ++s) {
    uint32_t len = t->lengths[s];
    if (len > kMaxLength || len > n) return false;
    ++counts[len];
  }
  // start[k] is where the codes of length k + 1 begin.
  uint64_t start[kMaxLength + 1] = {};
  for (uint32_t k = 1; k <= n; ++k) {
    start[k] = start[k - 1] + (uint64_t(counts[k]) << (n - k));
  }
  // Only a complete code fills the table; an empty or one-symbol set cannot.
  if (start[n] != t->size) return false;
  // Fill at the longest length in use: the same entries scaled down, since
  // every start is then a multiple of 2^(n - longest).
  uint32_t longest = n;
  while (counts[longest] == 0) --longest;
  const uint32_t scale = n - longest;
  for (uint32_t k = 0; k <= n; ++k) start[k] >>= scale;
  const uint64_t size = uint64_t(1) << longest;
  for (uint32_t s = 0; s < t->count; ++s) {
    uint32_t len = t->lengths[s];
    if (len == 0) continue;
    uint64_t first = start[len - 1];
    uint64_t span = uint64_t(1) << (longest - len);
    if (first + span > size) return false;
    uint16_t* p = t->lookup + first;
    const uint16_t e = static_cast<uint16_t>(s | len << kLookupSymbolBits);
    for (uint64_t i = 0; i < span; ++i) p[i] = e;
    start[len - 1] = first + span;
  }
  t->bits = longest;
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
