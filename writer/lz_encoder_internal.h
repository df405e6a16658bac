// What the pieces of the LZ encoder share: the code tables of a block,
// the symbols a match costs and their prices, and the optimal parse as one
// call. Only for writer/lz_*.cpp.
#ifndef TVK_WRITER_LZ_ENCODER_INTERNAL_H
#define TVK_WRITER_LZ_ENCODER_INTERNAL_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "codec/lz_alphabet.h"
#include "writer/bit_writer.h"
#include "writer/lz_encoder.h"
#include "writer/lz_encoder_finder.h"

namespace tvk::lz_internal {

inline uint32_t FloorLog2(uint32_t v) { return 31 - static_cast<uint32_t>(__builtin_clz(v)); }

// Index into the shared length table for a value 0..255.
uint32_t LengthIndex(uint32_t v);

struct Code {
  std::vector<uint32_t> lengths;
  std::vector<uint32_t> codes;
  void Build(const std::vector<uint32_t>& freq, uint32_t maxLength) {
    Use(LimitedCodeLengths(freq, maxLength));
  }
  void Use(const std::vector<uint32_t>& l) {
    lengths = l;
    codes = CanonicalCodes(lengths);
  }
  void Put(BitWriter& w, uint32_t sym) const {
    if (lengths[sym] == 0) throw std::logic_error("LZ encoder: symbol without a code");
    w.Put(codes[sym], lengths[sym]);
  }
};

struct BlockTables {
  std::vector<uint32_t> a, b, rep, dist;  // b only in the two-table form
};

void PutDeltaLengths(BitWriter& w, const std::vector<uint32_t>& lens);
// Writes the pre-code and then every given table through it.
void PutPreCodedTables(BitWriter& w, const std::vector<const std::vector<uint32_t>*>& tables);
// Code lengths for a block's tables, chosen for the fewest bits of tables
// and symbols together: in small blocks the tables are a good part of the
// block, and lengths that run in equal stretches cost less to send than
// they lose on the symbols.
BlockTables ChooseTables(LzBlock::Form form, const std::vector<uint32_t>& freqA,
                         const std::vector<uint32_t>& freqB, const std::vector<uint32_t>& freqRep,
                         const std::vector<uint32_t>& freqDist);

inline uint32_t MatchLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
  return CommonLength(a, b, 0, limit);
}

// The symbols a match costs in the stream, chosen exactly as MakeMatchToken
// chooses them; false when no symbol carries it.
struct SymbolUse {
  uint16_t main = 0;
  int16_t rep = -1;
  int16_t dist = -1;
  uint16_t extra = 0;  // raw bits
};

// Bit prices from running symbol counts: what the block's Huffman codes will
// roughly charge. Counts decay so that prices follow changing data.
struct Prices {
  float main[lz::kMainSymbols];
  float rep[lz::kRepeatSymbols];
  float dist[lz::kDistSymbols];
  uint32_t cMain[lz::kMainSymbols] = {};
  uint32_t cRep[lz::kRepeatSymbols] = {};
  uint32_t cDist[lz::kDistSymbols] = {};

  static void Refresh(const uint32_t* c, float* price, uint32_t n) {
    uint64_t total = 0;
    for (uint32_t k = 0; k < n; ++k) total += c[k];
    const float t = float(total) + 0.5f * float(n);
    for (uint32_t k = 0; k < n; ++k) {
      float bits = std::log2(t / (float(c[k]) + 0.5f));
      price[k] = std::clamp(bits, 1.0f, float(lz::kMaxCodeLength));
    }
  }
  void Refresh() {
    Refresh(cMain, main, lz::kMainSymbols);
    Refresh(cRep, rep, lz::kRepeatSymbols);
    Refresh(cDist, dist, lz::kDistSymbols);
  }
  void Count(const SymbolUse& s) {
    ++cMain[s.main];
    if (s.rep >= 0) ++cRep[s.rep];
    if (s.dist >= 0) ++cDist[s.dist];
  }
  void Decay() {
    for (auto& c : cMain) c -= c / 2;
    for (auto& c : cRep) c -= c / 2;
    for (auto& c : cDist) c -= c / 2;
  }
  float Cost(const SymbolUse& s) const {
    return main[s.main] + (s.rep >= 0 ? rep[s.rep] : 0.0f) + (s.dist >= 0 ? dist[s.dist] : 0.0f) +
           float(s.extra);
  }
};

// The decoder state a parse path leaves: the distance cache (most recent
// first) and the last repeat.
struct PathState {
  uint32_t reps[4];
  uint32_t lastLength, lastDistance;
};

// The price-based parse of buf[from, len) into ops, with blocks the op
// count of each block; running prices and the path state carry over from
// one call to the next. finderThread walks the match finder on a thread of
// its own, ahead of the parse; the ops are the same.
void OptimalParse(const uint8_t* buf, size_t len, LzTreeFinder* tree, size_t* inserted,
                  uint32_t maxDistance, uint32_t nice, uint32_t distE, uint32_t distCount,
                  size_t from, Prices& running, PathState& state, std::vector<LzOp>* ops,
                  std::vector<uint32_t>* blocks, bool finderThread);

}  // namespace tvk::lz_internal

#endif
