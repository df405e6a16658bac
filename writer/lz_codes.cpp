// Code lengths and their tables: how an LZ block sends its prefix codes.
#include "writer/lz_encoder_internal.h"

#include <algorithm>
#include <queue>

namespace tvk {

using namespace lz;
using namespace lz_internal;

namespace {

// Lengths of one table as pre-code symbols with their extra bits. Runs never
// cross into the next table.
void RunLengths(const std::vector<uint32_t>& lens, std::vector<std::pair<uint32_t, uint32_t>>* out) {
  size_t i = 0;
  const size_t n = lens.size();
  while (i < n) {
    uint32_t len = lens[i];
    size_t run = 1;
    while (i + run < n && lens[i + run] == len) ++run;
    if (len == 0) {
      while (run > 0) {
        if (run >= 11) {
          size_t k = std::min<size_t>(run, 138);
          out->push_back({18, uint32_t(k - 11)});
          run -= k;
          i += k;
        } else if (run >= 3) {
          out->push_back({17, uint32_t(run - 3)});
          i += run;
          run = 0;
        } else {
          out->push_back({0, 0});
          --run;
          ++i;
        }
      }
    } else {
      out->push_back({len, 0});
      ++i;
      --run;
      while (run >= 3) {
        size_t k = std::min<size_t>(run, 6);
        out->push_back({16, uint32_t(k - 3)});
        run -= k;
        i += k;
      }
      while (run > 0) {
        out->push_back({len, 0});
        ++i;
        --run;
      }
    }
  }
}

// Counts with runs of near-equal neighbours made equal: their codes come out
// equal too, which the table forms send as runs for a few bits. Unused
// symbols stay unused.
std::vector<uint32_t> SmoothedCounts(const std::vector<uint32_t>& f, uint32_t tolerancePercent) {
  std::vector<uint32_t> out = f;
  const size_t n = f.size();
  size_t i = 0;
  while (i < n) {
    if (f[i] == 0) {
      ++i;
      continue;
    }
    size_t j = i;
    uint64_t sum = 0;
    while (j < n && f[j] != 0) {
      if (j > i) {
        const uint64_t mean = sum / (j - i);
        const uint64_t diff = f[j] > mean ? f[j] - mean : mean - f[j];
        if (diff * 100 > mean * tolerancePercent + 200) break;
      }
      sum += f[j];
      ++j;
    }
    if (j - i >= 3) {
      const uint32_t mean = uint32_t(std::max<uint64_t>(1, (sum + (j - i) / 2) / (j - i)));
      std::fill(out.begin() + ptrdiff_t(i), out.begin() + ptrdiff_t(j), mean);
    }
    i = j;
  }
  return out;
}

void PutTables(BitWriter& w, LzBlock::Form form, const BlockTables& t) {
  if (form == LzBlock::kTwoTables) {
    PutPreCodedTables(w, {&t.a, &t.b});
    PutDeltaLengths(w, t.rep);
    PutDeltaLengths(w, t.dist);
  } else if (form == LzBlock::kDeltaCoded) {
    PutDeltaLengths(w, t.a);
    PutDeltaLengths(w, t.rep);
    PutDeltaLengths(w, t.dist);
  } else {
    PutPreCodedTables(w, {&t.a, &t.rep, &t.dist});
  }
}

}  // namespace

namespace lz_internal {

// Index into the shared length table for a value 0..255.
uint32_t LengthIndex(uint32_t v) {
  if (v < 8) return v;
  for (uint32_t i = 23; i >= 8; --i) {
    if (v >= kLengthBase[i]) return i;
  }
  return 0;
}

void PutDeltaLengths(BitWriter& w, const std::vector<uint32_t>& lens) {
  uint32_t prev = lens[0];
  w.Put(prev, 4);
  for (size_t i = 1; i < lens.size(); ++i) {
    uint32_t len = lens[i];
    if (len == prev) {
      w.Put(0, 1);
    } else if (len == prev + 1) {
      w.Put(0b10, 2);
    } else if (len + 1 == prev) {
      w.Put(0b1100, 4);
    } else if (len == prev + 2) {
      w.Put(0b1101, 4);
    } else {
      w.Put(0b111, 3);
      w.Put(len, 4);
    }
    prev = len;
  }
}

// Writes the pre-code and then every given table through it.
void PutPreCodedTables(BitWriter& w, const std::vector<const std::vector<uint32_t>*>& tables) {
  std::vector<std::vector<std::pair<uint32_t, uint32_t>>> runs(tables.size());
  std::vector<uint32_t> freq(kPreSymbols, 0);
  for (size_t t = 0; t < tables.size(); ++t) {
    RunLengths(*tables[t], &runs[t]);
    for (auto& r : runs[t]) ++freq[r.first];
  }
  Code pre;
  pre.Build(freq, kMaxPreLength);
  for (uint32_t s = 0; s < kPreSymbols; ++s) w.Put(pre.lengths[s], 4);
  static const uint32_t kRunBits[3] = {2, 3, 7};
  for (auto& table : runs) {
    for (auto& r : table) {
      pre.Put(w, r.first);
      if (r.first >= 16) w.Put(r.second, kRunBits[r.first - 16]);
    }
  }
}

// Code lengths for a block's tables, chosen for the fewest bits of tables
// and symbols together: in small blocks the tables are a good part of the
// block, and lengths that run in equal stretches cost less to send than
// they lose on the symbols.
BlockTables ChooseTables(LzBlock::Form form, const std::vector<uint32_t>& freqA,
                         const std::vector<uint32_t>& freqB, const std::vector<uint32_t>& freqRep,
                         const std::vector<uint32_t>& freqDist) {
  const bool two = form == LzBlock::kTwoTables;
  BlockTables t;
  t.a = LimitedCodeLengths(freqA, kMaxCodeLength);
  if (two) t.b = LimitedCodeLengths(freqB, kMaxCodeLength);
  t.rep = LimitedCodeLengths(freqRep, kMaxCodeLength);
  t.dist = LimitedCodeLengths(freqDist, kMaxCodeLength);
  auto dataBits = [](const std::vector<uint32_t>& f, const std::vector<uint32_t>& l) {
    uint64_t bits = 0;
    for (size_t s = 0; s < f.size(); ++s) bits += uint64_t(f[s]) * l[s];
    return bits;
  };
  auto total = [&]() {
    BitWriter w;
    PutTables(w, form, t);
    return w.BitCount() + dataBits(freqA, t.a) + (two ? dataBits(freqB, t.b) : 0) +
           dataBits(freqRep, t.rep) + dataBits(freqDist, t.dist);
  };
  uint64_t best = total();
  const std::pair<std::vector<uint32_t>*, const std::vector<uint32_t>*> tables[4] = {
      {&t.a, &freqA}, {&t.b, &freqB}, {&t.rep, &freqRep}, {&t.dist, &freqDist}};
  for (const auto& [lengths, freq] : tables) {
    if (lengths == &t.b && !two) continue;
    for (uint32_t tolerance : {25u, 60u}) {
      std::vector<uint32_t> trial = LimitedCodeLengths(SmoothedCounts(*freq, tolerance), kMaxCodeLength);
      if (trial == *lengths) continue;
      std::swap(trial, *lengths);
      const uint64_t bits = total();
      if (bits < best) {
        best = bits;
      } else {
        std::swap(trial, *lengths);
      }
    }
  }
  return t;
}

}  // namespace lz_internal

std::vector<uint32_t> LimitedCodeLengths(const std::vector<uint32_t>& freqIn, uint32_t maxLength) {
  const size_t n = freqIn.size();
  std::vector<uint64_t> f(freqIn.begin(), freqIn.end());
  size_t used = 0;
  for (uint64_t v : f) used += v != 0;
  for (size_t s = 0; used < 2 && s < n; ++s) {
    if (f[s] == 0) {
      f[s] = 1;
      ++used;
    }
  }
  std::vector<uint32_t> lengths(n, 0);
  // Symbols by weight, lightest first; Huffman lengths in place over the
  // sorted weights (Moffat and Katajainen), with no tree of nodes.
  // Equal weights keep the order they had: the lower symbol first, and
  // after a flattening, the order of the try before. Weight and that rank
  // go in one key, so that a plain sort of numbers orders them.
  std::vector<uint32_t> order, previous;
  order.reserve(used);
  for (size_t s = 0; s < n; ++s) {
    if (f[s]) order.push_back(uint32_t(s));
  }
  std::vector<uint64_t> key(used);
  std::vector<uint64_t> w(used);
  for (;;) {
    previous = order;
    for (size_t k = 0; k < used; ++k) key[k] = f[previous[k]] << 16 | k;
    std::sort(key.begin(), key.end());
    for (size_t k = 0; k < used; ++k) {
      order[k] = previous[key[k] & 0xFFFF];
      w[k] = key[k] >> 16;
    }
    const size_t m = used;
    w[0] += w[1];
    size_t root = 0, leaf = 2;
    for (size_t next = 1; next < m - 1; ++next) {
      if (leaf >= m || w[root] < w[leaf]) {
        w[next] = w[root];
        w[root++] = next;
      } else {
        w[next] = w[leaf++];
      }
      if (leaf >= m || (root < next && w[root] < w[leaf])) {
        w[next] += w[root];
        w[root++] = next;
      } else {
        w[next] += w[leaf++];
      }
    }
    w[m - 2] = 0;
    for (size_t next = m - 2; next-- > 0;) w[next] = w[w[next]] + 1;
    int64_t avail = 1, usedAt = 0, depth = 0;
    int64_t r = int64_t(m) - 2, next = int64_t(m) - 1;
    while (avail > 0) {
      while (r >= 0 && int64_t(w[size_t(r)]) == depth) {
        ++usedAt;
        --r;
      }
      while (avail > usedAt) {
        w[size_t(next--)] = uint64_t(depth);
        --avail;
      }
      avail = 2 * usedAt;
      ++depth;
      usedAt = 0;
    }
    uint32_t longest = 0;
    for (size_t k = 0; k < m; ++k) {
      lengths[order[k]] = uint32_t(w[k]);
      longest = std::max(longest, uint32_t(w[k]));
    }
    if (longest <= maxLength) return lengths;
    // Flatten the distribution and try again; all-equal weights always fit.
    for (uint64_t& v : f) {
      if (v) v = (v + 1) / 2;
    }
  }
}

}  // namespace tvk
