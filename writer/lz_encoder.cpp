// The LZ encoder: the writer's side of the LZ decoder, symbol for symbol.
#include "writer/lz_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <queue>
#include <stdexcept>

#include "codec/lz_alphabet.h"
#include "codec/model.h"
#include "common/bytes.h"
#include "writer/lz_encoder_finder.h"

namespace tvk {

using namespace lz;

namespace {

uint32_t FloorLog2(uint32_t v) { return 31 - static_cast<uint32_t>(__builtin_clz(v)); }

// LengthIndex of every value 0..255, for the parse's inner loop.
const struct LengthIndexTable {
  uint8_t v[256];
  LengthIndexTable() {
    for (uint32_t x = 0; x < 256; ++x) {
      uint32_t i = x < 8 ? x : 23;
      while (x >= 8 && kLengthBase[i] > x) --i;
      v[x] = uint8_t(i);
    }
  }
  uint8_t operator[](uint32_t x) const { return v[x]; }
} kLengthIndexOf;

// Index into the shared length table for a value 0..255.
uint32_t LengthIndex(uint32_t v) {
  if (v < 8) return v;
  for (uint32_t i = 23; i >= 8; --i) {
    if (v >= kLengthBase[i]) return i;
  }
  return 0;
}

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

struct BlockTables {
  std::vector<uint32_t> a, b, rep, dist;  // b only in the two-table form
};

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

int32_t DecoderX86Value(int32_t v, int32_t p, int32_t fileSize) {
  if (v == INT32_MIN || v == INT32_MAX) return v;
  if (v > 0 && v < fileSize) return int32_t(uint32_t(v) - uint32_t(p));
  if (v < 0 && -v < p) return int32_t(uint32_t(v) + uint32_t(fileSize));
  return v;
}

}  // namespace

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
  std::vector<uint32_t> order;
  order.reserve(used);
  for (size_t s = 0; s < n; ++s) {
    if (f[s]) order.push_back(uint32_t(s));
  }
  std::vector<uint64_t> w(used);
  for (;;) {
    std::stable_sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) { return f[x] < f[y]; });
    for (size_t k = 0; k < used; ++k) w[k] = f[order[k]];
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

bool RangeEncoder::Encode(uint32_t cum, uint32_t freq, uint32_t total) {
  uint32_t r = range_ / total;
  low_ += cum * r;
  range_ = r * freq;
  for (;;) {
    if ((low_ ^ (low_ + range_)) >= kRangeTop) {
      if (range_ >= kRangeBottom) break;
      range_ = (0u - low_) & (kRangeBottom - 1);
      if (range_ == 0) return false;
    }
    out_->push_back(uint8_t(low_ >> 24));
    low_ <<= 8;
    range_ <<= 8;
  }
  return true;
}

void RangeEncoder::Finish() {
  for (int i = 0; i < 4; ++i) {
    out_->push_back(uint8_t(low_ >> 24));
    low_ <<= 8;
  }
}

bool X86Forward(uint8_t* data, uint32_t n, uint32_t* pos, uint32_t size) {
  bool ok = true;
  if (n >= 256) {
    const int32_t fileSize = int32_t(size);
    for (uint32_t i = 0; i < n - 7;) {
      if (data[i] != 0xE8) {
        ++i;
        continue;
      }
      int32_t r = int32_t(LoadU32(data + i + 1));
      int32_t p = int32_t(*pos + i);
      // Prefer the absolute form (what makes calls compress), then the
      // wrapped form, then the value itself: the first that maps back.
      const int32_t candidates[3] = {int32_t(uint32_t(r) + uint32_t(p)),
                                     int32_t(uint32_t(r) - uint32_t(fileSize)), r};
      bool found = false;
      for (int32_t v : candidates) {
        if (DecoderX86Value(v, p, fileSize) == r) {
          StoreU32(data + i + 1, uint32_t(v));
          found = true;
          break;
        }
      }
      if (!found) ok = false;
      i += 5;
    }
  }
  *pos += n;
  return ok;
}

std::vector<uint32_t> LzChunkSizes(uint32_t pos, uint32_t windowSize, size_t n) {
  std::vector<uint32_t> sizes;
  size_t left = n;
  size_t room = windowSize - (pos & (windowSize - 1));
  while (left > 0) {
    size_t k = std::min(left, room);
    sizes.push_back(uint32_t(k));
    left -= k;
    room = windowSize;
  }
  return sizes;
}

struct LzEncoder::Token {
  uint16_t sym = 0;
  int16_t rep = -1;
  int16_t dsym = -1;
  uint8_t lenBits = 0;
  uint8_t distBits = 0;
  uint32_t lenVal = 0;
  uint32_t distVal = 0;
};

void LzEncoder::Reset(uint32_t windowSize) {
  windowSize_ = windowSize;
  distE_ = DistanceTopExtra(windowSize);
  distCount_ = DistanceCodeCount(distE_);
  pos_ = 0;
  std::fill(std::begin(distCache_), std::end(distCache_), 0);
  matchCount_ = 0;
  lastLength_ = lastDistance_ = 0;
  history_.clear();
  windowTotal_ = 0;
  finderValid_ = false;
  finderHashBits_ = 0;
  // parseCounts_ stays: statistics of earlier entries are a better first
  // guess than none, solid or not.
}

void LzEncoder::AppendWindow(const uint8_t* p, size_t n) {
  history_.insert(history_.end(), p, p + n);
  WindowGrew(n);
}

void LzEncoder::WindowGrew(size_t n) {
  windowTotal_ += n;
  if (capture_) capture_->insert(capture_->end(), history_.end() - ptrdiff_t(n), history_.end());
  if (expect_) {
    if (n > expectLeft_ || std::memcmp(&*(history_.end() - ptrdiff_t(n)), expect_, n) != 0) {
      expectFailed_ = true;
      expect_ = nullptr;
    } else {
      expect_ += n;
      expectLeft_ -= n;
    }
  }
  if (history_.size() > 2 * size_t(windowSize_)) {
    history_.erase(history_.begin(), history_.end() - windowSize_);
  }
}

// Turns a match op into its token and plays it on the decoder state.
bool LzEncoder::MakeMatchToken(const LzOp& op, Token* t) {
  uint32_t length = op.length;
  uint32_t distance = op.distance;
  if (op.kind == LzOp::kRepeatLast) {
    t->sym = kSymRepeatLast;
    length = lastLength_;
    distance = lastDistance_;
  } else if (op.kind == LzOp::kRepeat) {
    if (op.cacheIndex > 3) return false;
    t->sym = uint16_t(kSymCacheFirst + op.cacheIndex);
    distance = distCache_[(matchCount_ - 1 - op.cacheIndex) & 3];
    const uint32_t adj = (distance > 0x3fff) + (distance > 0x3ffff);
    if (op.longForm || (length >= kLongLengthBase && length - 2 - adj > 255)) {
      if (length < kLongLengthBase || length > kLongestMatch) return false;
      t->rep = kRepeatLong;
      t->lenVal = length - kLongLengthBase;
      t->lenBits = kLongLengthBits;
    } else {
      if (length < 2 + adj) return false;
      uint32_t v = length - 2 - adj;
      uint32_t i = LengthIndex(v);
      t->rep = int16_t(i);
      t->lenVal = v - kLengthBase[i];
      t->lenBits = uint8_t(kLengthExtra[i]);
    }
    lastLength_ = length;
    lastDistance_ = distance;
  } else {
    if (distance == 0) return false;
    uint32_t d = distance - 1;
    if (!op.longForm && length == 2 && d < 256) {
      uint32_t j = 7;
      while (kShortBase[j] > d) --j;
      t->sym = uint16_t(kSymShortFirst + j);
      t->distVal = d - kShortBase[j];
      t->distBits = uint8_t(kShortExtra[j]);
    } else if (!op.longForm && length == 3 && d < 16384) {
      uint32_t j = d < 2 ? d : FloorLog2(d) + 1;
      t->sym = uint16_t(kSymLength3First + j);
      if (j >= 2) {
        t->distVal = d - (1u << (j - 1));
        t->distBits = uint8_t(j - 1);
      }
    } else {
      const uint32_t code = DistanceCodeFor(d, distE_);
      if (code >= distCount_) return false;
      const DistanceCode c = DistanceCodeOf(code, distE_);
      t->dsym = int16_t(code);
      t->distVal = d - c.base;
      t->distBits = uint8_t(c.extra);
      uint32_t adj = distance > 0x3ffff;
      if (!op.longForm && length >= 4 + adj && length - 4 - adj <= 255) {
        uint32_t v = length - 4 - adj;
        uint32_t i = LengthIndex(v);
        t->sym = uint16_t(kSymMatchFirst + i);
        t->lenVal = v - kLengthBase[i];
        t->lenBits = uint8_t(kLengthExtra[i]);
      } else if (length >= kLongLengthBase && length <= kLongestMatch) {
        t->sym = kSymLongMatch;
        t->lenVal = length - kLongLengthBase;
        t->lenBits = kLongLengthBits;
      } else {
        return false;
      }
    }
  }
  distCache_[matchCount_ & 3] = distance;
  ++matchCount_;
  // The window receives the copy exactly as the decoder makes it; bytes from
  // before the known history read as the fresh decoder's zeros.
  const size_t h = history_.size();
  history_.resize(h + length);
  uint8_t* w = history_.data();
  for (uint32_t k = 0; k < length; ++k) {
    const size_t at = h + k;
    w[at] = distance != 0 && distance <= at ? w[at - distance] : 0;
  }
  WindowGrew(length);
  pos_ = (pos_ + length) & (windowSize_ - 1);
  return true;
}

void LzEncoder::WriteLzBlock(BitWriter& w, const std::vector<Token>& tokens, const LzBlock& shape) {
  const bool two = shape.form == LzBlock::kTwoTables;
  std::vector<uint32_t> freqA(kMainSymbols, 0), freqB(kMainSymbols, 0);
  std::vector<uint32_t> freqRep(kRepeatSymbols, 0), freqDist(kDistSymbols, 0);
  uint32_t prev = shape.threshold;
  for (const Token& t : tokens) {
    if (!two || prev <= shape.threshold) {
      ++freqA[t.sym];
    } else {
      ++freqB[t.sym];
    }
    prev = t.sym;
    if (t.rep >= 0) ++freqRep[t.rep];
    if (t.dsym >= 0) ++freqDist[t.dsym];
  }
  const BlockTables tables = ChooseTables(shape.form, freqA, freqB, freqRep, freqDist);
  Code a, b, rep, dist;
  a.Use(tables.a);
  if (two) b.Use(tables.b);
  rep.Use(tables.rep);
  dist.Use(tables.dist);

  w.Put(0, 1);
  if (!shape.zeroCount && (tokens.empty() || tokens.size() > 32767)) {
    throw std::logic_error("LZ encoder: block symbol count out of range");
  }
  w.Put(shape.zeroCount ? 0 : uint32_t(tokens.size()), 15);
  if (two) {
    w.Put(1, 1);
    w.Put(shape.threshold, 9);
    PutPreCodedTables(w, {&a.lengths, &b.lengths});
    PutDeltaLengths(w, rep.lengths);
    PutDeltaLengths(w, dist.lengths);
  } else if (shape.form == LzBlock::kDeltaCoded) {
    w.Put(0, 1);
    w.Put(1, 1);
    PutDeltaLengths(w, a.lengths);
    PutDeltaLengths(w, rep.lengths);
    PutDeltaLengths(w, dist.lengths);
  } else {
    w.Put(0, 1);
    w.Put(0, 1);
    PutPreCodedTables(w, {&a.lengths, &rep.lengths, &dist.lengths});
  }
  prev = shape.threshold;
  for (const Token& t : tokens) {
    (!two || prev <= shape.threshold ? a : b).Put(w, t.sym);
    prev = t.sym;
    if (t.rep >= 0) rep.Put(w, t.rep);
    if (t.lenBits) w.Put(t.lenVal, t.lenBits);
    if (t.dsym >= 0) dist.Put(w, t.dsym);
    if (t.distBits) w.Put(t.distVal, t.distBits);
  }
}

bool LzEncoder::WriteModelBlock(BitWriter& w, const LzBlock& shape) {
  const uint32_t n = uint32_t(shape.bytes.size());
  if (n > kModelBlockMax || shape.channels < 1 || shape.channels > 4 || shape.models < 1 ||
      shape.models > 4 || shape.initialMode > (shape.modelKind ? 2 : 4) || shape.modelKind > 1) {
    return false;
  }
  std::vector<uint8_t> stored = shape.bytes;
  auto predictors = std::make_unique<PredictorSet>();
  predictors->Reset(shape.modelKind, shape.initialMode);
  predictors->Forward(shape.modelKind, shape.channels, stored.data(), n);
  FrequencyModel models[4];
  for (FrequencyModel& m : models) m.Reset();
  std::vector<uint8_t> coded;
  RangeEncoder rc(&coded);
  const uint32_t whole = n - n % shape.models;
  for (uint32_t i = 0; i < whole; ++i) {
    FrequencyModel& m = models[i % shape.models];
    uint32_t s = stored[i];
    if (!rc.Encode(m.CumOf(s), m.freq[s], m.total)) return false;
    m.Update(s);
  }
  rc.Finish();
  w.Put(1, 1);
  w.Put(shape.modelKind, 1);
  w.Put(shape.initialMode, 3);
  w.Put(shape.channels - 1u, 2);
  w.Put(shape.models - 1u, 2);
  w.Put(n, 15);
  for (uint8_t c : coded) w.PutByte(c);
  for (uint32_t i = whole; i < n; ++i) w.PutByte(stored[i]);
  return true;
}

void LzEncoder::WriteFilterHeader(BitWriter& w, uint32_t filterWord, const LzOptions& opt) {
  w.PutByte(uint8_t(filterWord));
  w.PutByte(uint8_t(filterWord >> 8));
  if (filterWord & 0x0004) {
    w.PutByte(opt.deltaKind);
    w.PutByte(opt.deltaChannels);
    for (int k = 0; k < 4; ++k) w.PutByte(uint8_t(opt.deltaHeader >> (8 * k)));
  }
}

void LzEncoder::WriteBlocks(BitWriter& w, const std::vector<LzBlock>& blocks) {
  for (const LzBlock& block : blocks) {
    if (block.form == LzBlock::kModel) {
      if (!WriteModelBlock(w, block)) throw std::runtime_error("LZ encoder: model block refused");
      AppendWindow(block.bytes.data(), block.bytes.size());
      pos_ += uint32_t(block.bytes.size());
      if (pos_ >= windowSize_) pos_ -= windowSize_;
      continue;
    }
    std::vector<Token> tokens;
    tokens.reserve(block.ops.size());
    for (const LzOp& op : block.ops) {
      Token t;
      if (op.kind == LzOp::kLiteral) {
        t.sym = op.byte;
        history_.push_back(op.byte);
        WindowGrew(1);
        pos_ = (pos_ + 1) & (windowSize_ - 1);
      } else if (!MakeMatchToken(op, &t)) {
        throw std::runtime_error("LZ encoder: a match that the stream cannot carry");
      }
      tokens.push_back(t);
    }
    if (block.chooseForm && !tokens.empty()) {
      // Tables cost differently in each form; the two-table form pays off
      // where symbols after literals and after matches differ.
      LzBlock trial;
      trial.zeroCount = block.zeroCount;
      trial.threshold = 255;
      LzBlock::Form best = LzBlock::kPreCoded;
      uint32_t bestThreshold = 255;
      uint64_t bestBits = UINT64_MAX;
      for (LzBlock::Form form : {LzBlock::kPreCoded, LzBlock::kDeltaCoded, LzBlock::kTwoTables}) {
        trial.form = form;
        BitWriter scratch;
        WriteLzBlock(scratch, tokens, trial);
        if (scratch.BitCount() < bestBits) {
          bestBits = scratch.BitCount();
          best = form;
        }
      }
      if (block.chooseThreshold) {
        // Other splits of the previous symbol: in text, what follows a
        // letter differs from what follows a space or a digit; after the
        // short matches, from after the long ones.
        trial.form = LzBlock::kTwoTables;
        for (uint32_t th : {32u, 47u, 64u, 96u, 127u, 260u, 283u}) {
          trial.threshold = th;
          BitWriter scratch;
          WriteLzBlock(scratch, tokens, trial);
          if (scratch.BitCount() < bestBits) {
            bestBits = scratch.BitCount();
            best = LzBlock::kTwoTables;
            bestThreshold = th;
          }
        }
      }
      trial.form = best;
      trial.threshold = bestThreshold;
      WriteLzBlock(w, tokens, trial);
    } else {
      WriteLzBlock(w, tokens, block);
    }
  }
}

std::vector<uint8_t> LzEncoder::EncodeBlocks(const std::vector<LzBlock>& blocks,
                                             const LzOptions& opt, bool solid, uint32_t filterWord,
                                             std::vector<uint8_t>* window) {
  expect_ = nullptr;  // an Encode cut short by a throw may have left it set
  const uint32_t ws = 32768u << std::min<uint32_t>(opt.windowCode, 7);
  if (!solid || windowSize_ == 0) {
    Reset(ws);
  } else if (ws != windowSize_) {
    uint32_t pos = pos_ & (ws - 1);
    uint32_t cache[4];
    std::copy(std::begin(distCache_), std::end(distCache_), cache);
    uint32_t mc = matchCount_, ll = lastLength_, ld = lastDistance_;
    Reset(ws);
    pos_ = pos;
    std::copy(cache, cache + 4, distCache_);
    matchCount_ = mc;
    lastLength_ = ll;
    lastDistance_ = ld;
  }
  lastFilterWord_ = filterWord;
  BitWriter w;
  if (filterWord) WriteFilterHeader(w, filterWord, opt);
  capture_ = window;
  WriteBlocks(w, blocks);
  capture_ = nullptr;
  return w.Finish();
}

namespace {

struct ParseLevel {
  uint32_t depth;
  uint32_t nice;
  bool lazy;
};

ParseLevel LevelOf(uint32_t level) {
  switch (level) {
    case 1: return {4, 24, false};
    case 2: return {10, 48, false};
    case 3: return {24, 128, true};
    default: return {64, 192, true};
  }
}

inline uint32_t MatchLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
  return CommonLength(a, b, 0, limit);
}

struct Candidate {
  uint32_t length = 0;
  uint32_t distance = 0;
  int repeat = -1;  // cache index when this is a repeat
};

// The symbols a match costs in the stream, chosen exactly as MakeMatchToken
// chooses them; false when no symbol carries it.
struct SymbolUse {
  uint16_t main = 0;
  int16_t rep = -1;
  int16_t dist = -1;
  uint16_t extra = 0;  // raw bits
};

bool RepeatSymbols(uint32_t k, uint32_t length, uint32_t distance, SymbolUse* s) {
  const uint32_t adj = (distance > 0x3fff) + (distance > 0x3ffff);
  if (length < 2 + adj || length > kLongestMatch) return false;
  s->main = uint16_t(kSymCacheFirst + k);
  s->dist = -1;
  const uint32_t v = length - 2 - adj;
  if (v <= 255) {
    const uint32_t i = LengthIndex(v);
    s->rep = int16_t(i);
    s->extra = uint16_t(kLengthExtra[i]);
  } else {
    if (length < kLongLengthBase) return false;
    s->rep = kRepeatLong;
    s->extra = kLongLengthBits;
  }
  return true;
}

bool MatchSymbols(uint32_t length, uint32_t distance, uint32_t distE, uint32_t distCount,
                  SymbolUse* s) {
  const uint32_t d = distance - 1;
  s->rep = -1;
  s->dist = -1;
  if (length == 2) {
    if (d >= 256) return false;
    uint32_t j = 7;
    while (kShortBase[j] > d) --j;
    s->main = uint16_t(kSymShortFirst + j);
    s->extra = uint16_t(kShortExtra[j]);
    return true;
  }
  if (length == 3) {
    if (d >= 16384) return false;
    const uint32_t j = d < 2 ? d : FloorLog2(d) + 1;
    s->main = uint16_t(kSymLength3First + j);
    s->extra = uint16_t(j >= 2 ? j - 1 : 0);
    return true;
  }
  const uint32_t code = DistanceCodeFor(d, distE);
  if (code >= distCount) return false;
  const uint32_t extra = DistanceCodeOf(code, distE).extra;
  s->dist = int16_t(code);
  const uint32_t adj = distance > 0x3ffff;
  if (length >= 4 + adj && length - 4 - adj <= 255) {
    const uint32_t i = LengthIndex(length - 4 - adj);
    s->main = uint16_t(kSymMatchFirst + i);
    s->extra = uint16_t(extra + kLengthExtra[i]);
  } else if (length >= kLongLengthBase && length <= kLongestMatch) {
    s->main = kSymLongMatch;
    s->extra = uint16_t(extra + kLongLengthBits);
  } else {
    return false;
  }
  return true;
}

// Bit prices from running symbol counts: what the block's Huffman codes will
// roughly charge. Counts decay so that prices follow changing data.
struct Prices {
  float main[kMainSymbols];
  float rep[kRepeatSymbols];
  float dist[kDistSymbols];
  uint32_t cMain[kMainSymbols] = {};
  uint32_t cRep[kRepeatSymbols] = {};
  uint32_t cDist[kDistSymbols] = {};

  static void Refresh(const uint32_t* c, float* price, uint32_t n) {
    uint64_t total = 0;
    for (uint32_t k = 0; k < n; ++k) total += c[k];
    const float t = float(total) + 0.5f * float(n);
    for (uint32_t k = 0; k < n; ++k) {
      float bits = std::log2(t / (float(c[k]) + 0.5f));
      price[k] = std::clamp(bits, 1.0f, float(kMaxCodeLength));
    }
  }
  void Refresh() {
    Refresh(cMain, main, kMainSymbols);
    Refresh(cRep, rep, kRepeatSymbols);
    Refresh(cDist, dist, kDistSymbols);
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

// One position of the price-based parse: the cheapest way found to reach it,
// with the decoder state that way leaves behind.
struct ParseNode {
  float cost;
  uint32_t length;    // of the step that arrives here; 1 with kind 0 = literal
  uint32_t distance;  // match distance
  uint8_t kind;       // 0 literal, 1 match, 2 repeat, 3 repeat-last
  uint8_t cacheIndex;
  uint16_t sym;       // main symbol of that step: the next one's table context
  uint32_t reps[4];   // most recent first
  uint32_t lastLength, lastDistance;
};

// Prices with the two-table context: a symbol read after a previous symbol
// above the threshold comes from the second table. A threshold of 511 puts
// everything in the first.
struct ContextPrices {
  float main[2][kMainSymbols];
  float rep[kRepeatSymbols];
  float dist[kDistSymbols];
  uint32_t threshold = 511;

  void From(const Prices& p) {
    std::copy(std::begin(p.main), std::end(p.main), main[0]);
    std::copy(std::begin(p.main), std::end(p.main), main[1]);
    std::copy(std::begin(p.rep), std::end(p.rep), rep);
    std::copy(std::begin(p.dist), std::end(p.dist), dist);
    threshold = 511;
  }
  float Cost(const SymbolUse& s, uint32_t prevSym) const {
    return main[prevSym > threshold][s.main] + (s.rep >= 0 ? rep[s.rep] : 0.0f) +
           (s.dist >= 0 ? dist[s.dist] : 0.0f) + float(s.extra);
  }
};

// The bits one LZ block of these symbols takes in a form (threshold: the
// two-table form's), tables included.
struct BlockShape {
  LzBlock::Form form = LzBlock::kPreCoded;
  uint32_t threshold = 511;
};

struct BlockCounts {
  uint32_t main[2][kMainSymbols] = {};
  uint32_t rep[kRepeatSymbols] = {};
  uint32_t dist[kDistSymbols] = {};
  uint64_t extra = 0;
};

void CountBlock(const std::vector<SymbolUse>& uses, const BlockShape& shape, BlockCounts* c) {
  uint32_t prev = shape.threshold;
  for (const SymbolUse& u : uses) {
    ++c->main[prev > shape.threshold][u.main];
    prev = u.main;
    if (u.rep >= 0) ++c->rep[u.rep];
    if (u.dist >= 0) ++c->dist[u.dist];
    c->extra += u.extra;
  }
}

uint64_t CodedBits(const uint32_t* freq, const std::vector<uint32_t>& lengths) {
  uint64_t bits = 0;
  for (size_t s = 0; s < lengths.size(); ++s) bits += uint64_t(freq[s]) * lengths[s];
  return bits;
}

uint64_t BlockBits(const std::vector<SymbolUse>& uses, const BlockShape& shape) {
  BlockCounts c;
  CountBlock(uses, shape, &c);
  auto lengthsOf = [](const uint32_t* f, uint32_t n) {
    return LimitedCodeLengths(std::vector<uint32_t>(f, f + n), kMaxCodeLength);
  };
  const auto a = lengthsOf(c.main[0], kMainSymbols);
  const auto rep = lengthsOf(c.rep, kRepeatSymbols);
  const auto dist = lengthsOf(c.dist, kDistSymbols);
  BitWriter w;
  uint64_t bits = 1 + 15 + c.extra + CodedBits(c.main[0], a) + CodedBits(c.rep, rep) +
                  CodedBits(c.dist, dist);
  if (shape.form == LzBlock::kTwoTables) {
    const auto b = lengthsOf(c.main[1], kMainSymbols);
    bits += 1 + 9 + CodedBits(c.main[1], b);
    PutPreCodedTables(w, {&a, &b});
    PutDeltaLengths(w, rep);
    PutDeltaLengths(w, dist);
  } else if (shape.form == LzBlock::kDeltaCoded) {
    bits += 2;
    PutDeltaLengths(w, a);
    PutDeltaLengths(w, rep);
    PutDeltaLengths(w, dist);
  } else {
    bits += 2;
    PutPreCodedTables(w, {&a, &rep, &dist});
  }
  return bits + w.BitCount();
}

// The thresholds worth a try: in text, what follows a letter differs from
// what follows a space or a digit; after the short matches, from after the
// long ones.
constexpr uint32_t kThresholds[] = {255, 32, 47, 64, 96, 127, 260, 283};

BlockShape BestShape(const std::vector<SymbolUse>& uses, uint64_t* bitsOut) {
  BlockShape best;
  uint64_t bestBits = UINT64_MAX;
  auto trial = [&](LzBlock::Form form, uint32_t threshold) {
    const BlockShape s{form, threshold};
    const uint64_t bits = BlockBits(uses, s);
    if (bits < bestBits) {
      bestBits = bits;
      best = s;
    }
  };
  trial(LzBlock::kPreCoded, 511);
  trial(LzBlock::kDeltaCoded, 511);
  for (uint32_t th : kThresholds) trial(LzBlock::kTwoTables, th);
  *bitsOut = bestBits;
  return best;
}

// Prices for a re-parse: what the symbols of a finished parse would cost
// under codes built for them, in the shape the block would be written in.
void PricesFor(const std::vector<SymbolUse>& uses, const BlockShape& shape, ContextPrices* p) {
  BlockCounts c;
  CountBlock(uses, shape, &c);
  p->threshold = shape.form == LzBlock::kTwoTables ? shape.threshold : 511;
  Prices::Refresh(c.main[0], p->main[0], kMainSymbols);
  Prices::Refresh(c.main[1], p->main[1], kMainSymbols);
  Prices::Refresh(c.rep, p->rep, kRepeatSymbols);
  Prices::Refresh(c.dist, p->dist, kDistSymbols);
}

// The decoder state a parse path leaves: the distance cache (most recent
// first) and the last repeat.
struct PathState {
  uint32_t reps[4];
  uint32_t lastLength, lastDistance;
};

// The price-based parse of the best level, a block at a time. Each block is
// parsed with running prices while its matches are cached, then parsed again
// with prices from the codes its first parse would get, and the cheaper of
// the two is kept.
class OptimalParser {
 public:
  OptimalParser(const uint8_t* buf, size_t len, LzTreeFinder* tree, size_t* inserted,
                uint32_t maxDistance, uint32_t nice, uint32_t distE, uint32_t distCount)
      : buf_(buf), len_(len), tree_(tree), inserted_(inserted), maxDistance_(maxDistance),
        nice_(nice), distE_(distE), distCount_(distCount) {
    nodes_.resize(2 * kStretch + kLongestMatch + 2);
  }

  // Parses buf[from, len) into ops; blocks receives the op count of each
  // block.
  void Parse(size_t from, Prices& running, PathState& state, std::vector<LzOp>* ops,
             std::vector<uint32_t>* blocks) {
    size_t at = from;
    std::vector<LzOp> ops1, best, trial;
    std::vector<SymbolUse> uses1, bestUses, trialUses;
    std::vector<size_t> opPos;
    std::vector<PathState> firstStates;
    std::vector<size_t> cuts;
    ContextPrices prices;
    while (at < len_) {
      cacheFrom_ = at;
      cacheStart_.assign(1, 0);
      cacheMatches_.clear();
      ops1.clear();
      uses1.clear();
      PathState s1 = state;
      const size_t end = Run(at, len_, &running, nullptr, kRegionTarget, &s1, &ops1, &uses1);
      while (cacheFrom_ + cacheStart_.size() - 1 < end) Fill();
      // Where each op of the first parse starts, and the state it meets.
      opPos.assign(1, at);
      firstStates.assign(1, state);
      for (const LzOp& op : ops1) {
        PathState next = firstStates.back();
        opPos.push_back(opPos.back() + Advance(&next, op));
        firstStates.push_back(next);
      }
      cuts.assign(1, 0);
      uint64_t firstBits;
      BestShape(uses1, &firstBits);
      const bool packs = firstBits < uint64_t(end - at) * 8 * 63 / 64;
      if (packs) {
        Split(uses1, 0, ops1.size(), &cuts);
      } else {
        // Data that does not pack (already packed files) gains nothing
        // from more parses or cuts; only the count a header carries.
        for (size_t k = 32767; k < ops1.size(); k += 32767) cuts.push_back(k);
        cuts.push_back(ops1.size());
      }

      for (size_t c = 1; c < cuts.size(); ++c) {
        const size_t a = cuts[c - 1], b = cuts[c];
        // The first parse's ops stay usable while the state they were made
        // from is the one the decoder will have.
        const bool firstValid = SameState(state, firstStates[a]);
        best.assign(ops1.begin() + ptrdiff_t(a), ops1.begin() + ptrdiff_t(b));
        bestUses.assign(uses1.begin() + ptrdiff_t(a), uses1.begin() + ptrdiff_t(b));
        uint64_t bestBits = UINT64_MAX;
        BlockShape shape = BestShape(bestUses, &bestBits);
        PathState bestState = firstStates[b];
        if (!firstValid) bestBits = UINT64_MAX;
        // Each refinement is priced from the cheapest parse so far.
        for (int pass = 0; pass < (packs ? kRefinePasses : 0); ++pass) {
          PricesFor(bestUses, shape, &prices);
          trial.clear();
          trialUses.clear();
          PathState s2 = state;
          Run(opPos[a], opPos[b], nullptr, &prices, SIZE_MAX, &s2, &trial, &trialUses);
          uint64_t bits2;
          const BlockShape shape2 = BestShape(trialUses, &bits2);
          if (bits2 >= bestBits) break;
          bestBits = bits2;
          shape = shape2;
          std::swap(best, trial);
          std::swap(bestUses, trialUses);
          bestState = s2;
        }
        state = bestState;
        for (size_t k = 0; k < best.size(); k += 32767) {
          blocks->push_back(uint32_t(std::min<size_t>(32767, best.size() - k)));
        }
        ops->insert(ops->end(), best.begin(), best.end());
      }
      at = end;
    }
  }

 private:
  static constexpr uint32_t kStretch = 4096;
  static constexpr size_t kRegionTarget = 32000;  // ops of a first parse
  static constexpr size_t kMinSplit = 1024;       // ops of the smallest block cut off
  static constexpr size_t kBlockBytes = size_t(1) << 20;
  static constexpr int kRefinePasses = 2;

  static bool SameState(const PathState& x, const PathState& y) {
    return std::equal(std::begin(x.reps), std::end(x.reps), std::begin(y.reps)) &&
           x.lastLength == y.lastLength && x.lastDistance == y.lastDistance;
  }

  // Plays an op on the state as the decoder would; returns its length.
  static uint32_t Advance(PathState* s, const LzOp& op) {
    uint32_t length = op.length, distance = op.distance;
    switch (op.kind) {
      case LzOp::kLiteral: return 1;
      case LzOp::kMatch: break;
      case LzOp::kRepeat:
        distance = s->reps[op.cacheIndex];
        s->lastLength = length;
        s->lastDistance = distance;
        break;
      case LzOp::kRepeatLast:
        length = s->lastLength;
        distance = s->lastDistance;
        break;
    }
    s->reps[3] = s->reps[2];
    s->reps[2] = s->reps[1];
    s->reps[1] = s->reps[0];
    s->reps[0] = distance;
    return length;
  }

  // Cuts uses[a, b) where two blocks with their own codes come out smaller
  // than one, and where a block would pass the count a header can carry;
  // appends the block ends to cuts.
  void Split(const std::vector<SymbolUse>& uses, size_t a, size_t b, std::vector<size_t>* cuts) {
    const size_t n = b - a;
    if (n < 2 * kMinSplit && n <= 32767) {
      cuts->push_back(b);
      return;
    }
    auto bitsOf = [&](size_t x, size_t y) {
      uint64_t bits;
      BestShape(std::vector<SymbolUse>(uses.begin() + ptrdiff_t(x), uses.begin() + ptrdiff_t(y)), &bits);
      return bits;
    };
    const uint64_t whole = n <= 32767 ? bitsOf(a, b) : UINT64_MAX;
    uint64_t bestSum = UINT64_MAX;
    size_t bestCut = a + n / 2;
    for (size_t k = 1; k < 8; ++k) {
      const size_t c = a + n * k / 8;
      if (c - a < kMinSplit || b - c < kMinSplit) continue;
      const uint64_t sum = bitsOf(a, c) + bitsOf(c, b);
      if (sum < bestSum) {
        bestSum = sum;
        bestCut = c;
      }
    }
    if (bestSum >= whole) {
      cuts->push_back(b);
      return;
    }
    Split(uses, a, bestCut, cuts);
    Split(uses, bestCut, b, cuts);
  }

  // Finds and caches the matches of the next uncached position.
  void Fill() {
    const size_t p = cacheFrom_ + cacheStart_.size() - 1;
    while (*inserted_ < p && *inserted_ + 4 <= len_) tree_->Skip(buf_, (*inserted_)++, len_, maxDistance_);
    LzMatch found[LzTreeFinder::kMaxOut];
    uint32_t count = 0;
    if (*inserted_ == p && p + 4 <= len_) {
      count = tree_->Find(buf_, p, len_, maxDistance_, found);
      ++*inserted_;
      // The tree looks no further than nice; the stream carries more. A
      // run that the previous position already measured at this distance
      // goes on at least as far, so long runs are measured once, not once
      // per position.
      LzMatch& top = found[count ? count - 1 : 0];
      if (count && top.length >= nice_) {
        const uint32_t limit = uint32_t(std::min<size_t>(kLongestMatch, len_ - p));
        uint32_t known = top.length;
        if (top.distance == runDistance_ && runEnd_ > p + known) {
          known = uint32_t(std::min<size_t>(runEnd_ - p, limit));
        }
        top.length = known + MatchLength(&buf_[p + known], &buf_[p + known - top.distance], limit - known);
        runDistance_ = top.distance;
        runEnd_ = p + top.length;
      }
    }
    cacheMatches_.insert(cacheMatches_.end(), found, found + count);
    cacheStart_.push_back(uint32_t(cacheMatches_.size()));
  }

  // One parse from `from`: with running prices (which follow the choices)
  // until a stretch ends past opTarget ops or kBlockBytes bytes, or with
  // fixed prices up to exactly `stop`. Returns where it ended.
  size_t Run(size_t from, size_t stop, Prices* running, const ContextPrices* fixed, size_t opTarget,
             PathState* state, std::vector<LzOp>* ops, std::vector<SymbolUse>* uses) {
    constexpr float kInf = 1e30f;
    ContextPrices local;
    if (running) local.From(*running);
    const ContextPrices& prices = running ? local : *fixed;
    std::vector<ParseNode>& nodes = nodes_;
    size_t i = from;
    // Each block starts reading with the first table.
    uint16_t prevSym = uint16_t(prices.threshold);
    while (i < stop) {
      const size_t s0 = i;
      ParseNode& start = nodes[0];
      start.cost = 0;
      start.kind = 0;
      start.sym = prevSym;
      std::copy(std::begin(state->reps), std::end(state->reps), start.reps);
      start.lastLength = state->lastLength;
      start.lastDistance = state->lastDistance;
      size_t reached = 0, end = 0;
      auto relax = [&](size_t fromNode, size_t to, float cost, uint8_t kind, uint32_t length,
                       uint32_t distance, uint8_t k, uint16_t sym) {
        while (reached < to) nodes[++reached].cost = kInf;
        ParseNode& t = nodes[to];
        if (cost >= t.cost) return;
        const ParseNode& f = nodes[fromNode];
        t.cost = cost;
        t.kind = kind;
        t.length = length;
        t.distance = distance;
        t.cacheIndex = k;
        t.sym = sym;
        t.lastLength = f.lastLength;
        t.lastDistance = f.lastDistance;
        if (kind == 0) {
          std::copy(f.reps, f.reps + 4, t.reps);
        } else {
          t.reps[0] = distance;
          t.reps[1] = f.reps[0];
          t.reps[2] = f.reps[1];
          t.reps[3] = f.reps[2];
          if (kind == 2) {
            t.lastLength = length;
            t.lastDistance = distance;
          }
        }
      };
      for (size_t r = 0;; ++r) {
        const size_t p = s0 + r;
        if (p >= stop || (r >= kStretch && r == reached) || r >= 2 * kStretch) {
          end = r;
          break;
        }
        while (cacheFrom_ + cacheStart_.size() - 1 <= p) Fill();
        const ParseNode nd = nodes[r];
        const float* mainPrice = prices.main[nd.sym > prices.threshold];
        relax(r, r + 1, nd.cost + mainPrice[buf_[p]], 0, 1, 0, 0, buf_[p]);
        const uint32_t limit = uint32_t(std::min<size_t>(kLongestMatch, stop - p));
        if (limit < 2) continue;
        uint32_t longest = 0, longestDist = 0;
        int longestRep = -1;
        SymbolUse su;
        for (uint32_t k = 0; k < 4; ++k) {
          const uint32_t d = nd.reps[k];
          if (d == 0 || d > p || d > maxDistance_) continue;
          const uint32_t l = MatchLength(&buf_[p], &buf_[p - d], limit);
          if (l > longest) {
            longest = l;
            longestDist = d;
            longestRep = int(k);
          }
          // The same choices as RepeatSymbols, with what does not depend
          // on the length worked out once.
          const uint32_t adj = (d > 0x3fff) + (d > 0x3ffff);
          const float base = nd.cost + mainPrice[kSymCacheFirst + k];
          for (uint32_t m = 2 + adj; m <= l; ++m) {
            if (m > 64 && m < l) m = l;  // long repeats: only the whole
            const uint32_t v = m - 2 - adj;
            float cost;
            if (v <= 255) {
              const uint32_t i = kLengthIndexOf[v];
              cost = base + prices.rep[i] + float(kLengthExtra[i]);
            } else if (m >= kLongLengthBase) {
              cost = base + prices.rep[kRepeatLong] + float(kLongLengthBits);
            } else {
              continue;
            }
            relax(r, r + m, cost, 2, m, d, uint8_t(k), uint16_t(kSymCacheFirst + k));
          }
        }
        if (nd.lastLength > 0 && nd.lastDistance > 0 && nd.lastDistance <= p &&
            nd.lastDistance <= maxDistance_ && nd.lastLength <= limit &&
            MatchLength(&buf_[p], &buf_[p - nd.lastDistance], nd.lastLength) == nd.lastLength) {
          relax(r, r + nd.lastLength, nd.cost + mainPrice[kSymRepeatLast], 3, nd.lastLength,
                nd.lastDistance, 0, kSymRepeatLast);
        }
        if (longest < nice_) {
          // Every distance that makes the match longer than the ones before.
          const size_t c = p - cacheFrom_;
          uint32_t best = 1;
          for (uint32_t k = cacheStart_[c]; k < cacheStart_[c + 1] && best < limit; ++k) {
            const uint32_t l = std::min(cacheMatches_[k].length, limit);
            const uint32_t d = cacheMatches_[k].distance;
            if (l <= best) continue;
            uint32_t m = best + 1;
            // The short forms (lengths 2 and 3) have distances of their own.
            for (; m <= 3 && m <= l; ++m) {
              if (MatchSymbols(m, d, distE_, distCount_, &su)) {
                relax(r, r + m, nd.cost + prices.Cost(su, nd.sym), 1, m, d, 0, su.main);
              }
            }
            if (m <= l && MatchSymbols(4 + (d > 0x3ffff), d, distE_, distCount_, &su)) {
              // From four bytes on, the distance costs the same at every
              // length; only the length symbol changes.
              const float* mainPrice = prices.main[nd.sym > prices.threshold];
              const float base = nd.cost + prices.dist[su.dist] + float(su.extra);
              const uint32_t adj = d > 0x3ffff;
              for (; m <= l; ++m) {
                if (m > 64 && m < l) m = l;
                if (m < 4 + adj) continue;
                const uint32_t v = m - 4 - adj;
                uint16_t sym;
                uint32_t bits;
                if (v <= 255) {
                  const uint32_t i = kLengthIndexOf[v];
                  sym = uint16_t(kSymMatchFirst + i);
                  bits = kLengthExtra[i];
                } else if (m >= kLongLengthBase) {
                  sym = kSymLongMatch;
                  bits = kLongLengthBits;
                } else {
                  continue;
                }
                relax(r, r + m, base + mainPrice[sym] + float(bits), 1, m, d, 0, sym);
              }
            }
            best = l;
            if (l > longest) {
              longest = l;
              longestDist = d;
              longestRep = -1;
            }
          }
        }
        if (longest >= nice_) {
          // Take it: a match this long is right whatever came before.
          if (longestRep >= 0 ? RepeatSymbols(uint32_t(longestRep), longest, longestDist, &su)
                              : MatchSymbols(longest, longestDist, distE_, distCount_, &su)) {
            nodes[r + longest].cost = kInf;  // force this arrival
            relax(r, r + longest, nd.cost + prices.Cost(su, nd.sym), longestRep >= 0 ? 2 : 1,
                  longest, longestDist, uint8_t(longestRep >= 0 ? longestRep : 0), su.main);
            end = r + longest;
            break;
          }
        }
      }
      // Walk back from the end, then emit forwards.
      const size_t firstOp = ops->size();
      for (size_t r = end; r > 0;) {
        const ParseNode& t = nodes[r];
        const size_t back = r - t.length;
        SymbolUse u;
        switch (t.kind) {
          case 0:
            ops->push_back(LzOp::Literal(buf_[s0 + back]));
            u.main = buf_[s0 + back];
            break;
          case 1:
            ops->push_back(LzOp::Match(t.length, t.distance));
            MatchSymbols(t.length, t.distance, distE_, distCount_, &u);
            break;
          case 2:
            ops->push_back(LzOp::Repeat(t.cacheIndex, t.length));
            RepeatSymbols(t.cacheIndex, t.length, t.distance, &u);
            break;
          default:
            ops->push_back(LzOp::RepeatLast());
            ops->back().length = t.length;  // not written; tells where the next op starts
            u.main = kSymRepeatLast;
            break;
        }
        uses->push_back(u);
        r = back;
      }
      std::reverse(ops->begin() + ptrdiff_t(firstOp), ops->end());
      std::reverse(uses->begin() + ptrdiff_t(firstOp), uses->end());
      const ParseNode& last = nodes[end];
      std::copy(last.reps, last.reps + 4, state->reps);
      state->lastLength = last.lastLength;
      state->lastDistance = last.lastDistance;
      prevSym = last.sym;
      i = s0 + end;
      if (running) {
        // Prices follow what was just chosen.
        for (size_t k = firstOp; k < uses->size(); ++k) running->Count((*uses)[k]);
        uint64_t total = 0;
        for (uint32_t c : running->cMain) total += c;
        if (total > 4000) running->Decay();
        running->Refresh();
        local.From(*running);
        if (ops->size() >= opTarget || i - from >= kBlockBytes) break;
      }
    }
    return i;
  }

  const uint8_t* buf_;
  size_t len_;
  LzTreeFinder* tree_;
  size_t* inserted_;
  uint32_t maxDistance_, nice_, distE_, distCount_;
  std::vector<ParseNode> nodes_;
  size_t cacheFrom_ = 0;
  size_t runEnd_ = 0;          // where the last long match measured ended
  uint32_t runDistance_ = 0;   // and its distance
  std::vector<uint32_t> cacheStart_;
  std::vector<LzMatch> cacheMatches_;
};

}  // namespace

void LzEncoder::Parse(const uint8_t* data, size_t n, const LzOptions& opt, std::vector<LzOp>* ops,
                      std::vector<uint32_t>* blockSizes) {
  const ParseLevel lv = LevelOf(opt.level);
  const uint32_t ws = windowSize_;
  const uint32_t maxDistance = ws - 1;
  // The buffer holds up to a window of history plus one segment; when new
  // bytes would overflow it, it slides back to the last window.
  const size_t segment = std::max<size_t>(size_t(2) * ws, size_t(8) << 20);
  // Small entries get a small head table: clearing a million heads per
  // entry would cost more than the entry. It grows when the data outgrows it.
  const size_t span = std::min<size_t>(history_.size(), ws) + n;
  // The fastest level keeps its head table within the processor's cache:
  // its few candidates per position are found about as well.
  const uint32_t maxBits = opt.level <= 1 ? 17 : 20;
  const uint32_t wantBits =
      std::clamp<uint32_t>(FloorLog2(uint32_t(std::min<size_t>(span, 1u << 30)) | 1) + 1, 12, maxBits);
  if (!finderValid_ || finderHashBits_ < wantBits) finderHashBits_ = std::max(finderHashBits_, wantBits);
  const uint32_t kHashBits = finderHashBits_;
  std::vector<uint8_t>& buf = finderBuf_;
  std::vector<int32_t>& head = finderHead_;
  std::vector<int32_t>& prev = finderPrev_;
  size_t& inserted = finderInserted_;  // positions below this are in the chains
  // Positions indexed by this call go to finderWork_ whenever inserted is
  // about to move back (rebuild, slide), and at the end.
  size_t countedUpTo = inserted;
  auto countInserted = [&] {
    finderWork_ += inserted - countedUpTo;
    countedUpTo = inserted;
  };
  // Four bytes: three-byte matches are worth little, and chains of
  // three-byte hits are long in binaries.
  auto hashAt = [&](size_t i) {
    uint32_t v;
    std::memcpy(&v, &buf[i], 4);
    return (v * 2654435761u) >> (32 - kHashBits);
  };
  auto insertUpTo = [&](size_t end) {
    const size_t len = buf.size();
    for (; inserted < end && inserted + 4 <= len; ++inserted) {
      uint32_t h = hashAt(inserted);
      prev[inserted] = head[h];
      head[h] = int32_t(inserted);
    }
  };
  // The best level sorts the window in binary trees instead of chains.
  const bool optimal = opt.level >= 4;
  LzTreeFinder& tree = tree_;
  auto treeUpTo = [&](size_t end) {
    const size_t len = buf.size();
    for (; inserted < end && inserted + 4 <= len; ++inserted) {
      tree.Skip(buf.data(), inserted, len, maxDistance);
    }
  };
  if (!finderValid_ || finderWindow_ != ws || finderTotal_ != windowTotal_ || finderTree_ != optimal ||
      (optimal ? tree.hashBits() != kHashBits || tree.depth() != lv.depth || tree.nice() != lv.nice
               : head.size() != (size_t(1) << kHashBits))) {
    const size_t keep = std::min<size_t>(history_.size(), ws);
    buf.assign(history_.end() - keep, history_.end());
    countInserted();
    inserted = countedUpTo = 0;
    finderWork_ += size_t(1) << kHashBits;  // the head table cleared
    if (optimal) {
      head = std::vector<int32_t>();
      prev = std::vector<int32_t>();
      tree.Reset(kHashBits, lv.depth, lv.nice);
      tree.Grow(buf.size());
      treeUpTo(buf.size());
    } else {
      tree = LzTreeFinder();
      head.assign(size_t(1) << kHashBits, -1);
      prev.assign(buf.size(), -1);
      insertUpTo(buf.size());
    }
    finderWindow_ = ws;
    finderValid_ = true;
    finderTree_ = optimal;
  }
  finderTotal_ = windowTotal_ + n;  // once the caller has written these ops
  uint32_t cache[4];
  std::copy(std::begin(distCache_), std::end(distCache_), cache);
  uint32_t matches = matchCount_;
  // State of the price-based parse, carried across segments.
  uint32_t optReps[4];
  for (uint32_t k = 0; k < 4; ++k) optReps[k] = cache[(matches - 1 - k) & 3];
  uint32_t optLastLength = lastLength_, optLastDistance = lastDistance_;
  auto pricesOwner = std::make_unique<Prices>();
  if (opt.level >= 4 && parseCounts_.size() == kMainSymbols + kRepeatSymbols + kDistSymbols) {
    std::copy(parseCounts_.begin(), parseCounts_.begin() + kMainSymbols, pricesOwner->cMain);
    std::copy(parseCounts_.begin() + kMainSymbols, parseCounts_.begin() + kMainSymbols + kRepeatSymbols,
              pricesOwner->cRep);
    std::copy(parseCounts_.begin() + kMainSymbols + kRepeatSymbols, parseCounts_.end(),
              pricesOwner->cDist);
    pricesOwner->Refresh();
  } else if (opt.level >= 4) {
    // Start from the bytes' own frequencies and a guess for the rest.
    for (size_t k = 0; k < std::min<size_t>(n, 65536); ++k) pricesOwner->cMain[data[k]] += 1;
    for (uint32_t k = kSymRepeatLast; k < kMainSymbols; ++k) pricesOwner->cMain[k] += 4;
    for (auto& c : pricesOwner->cRep) c = 4;
    for (auto& c : pricesOwner->cDist) c = 4;
    pricesOwner->Refresh();
  }
  Prices& prices = *pricesOwner;
  for (size_t segStart = 0; segStart < n; segStart += segment) {
    const size_t segLen = std::min(segment, n - segStart);
    if (buf.size() > ws && buf.size() + segLen > size_t(ws) + segment) {
      // Renumber instead of rehashing: chain links below the cut fall off.
      const size_t cut = buf.size() - ws;
      buf.erase(buf.begin(), buf.begin() + ptrdiff_t(cut));
      if (optimal) {
        tree.Slide(cut);
      } else {
        prev.erase(prev.begin(), prev.begin() + ptrdiff_t(cut));
        const int32_t c = int32_t(cut);
        for (int32_t& v : head) v = v >= c ? v - c : -1;
        for (int32_t& v : prev) v = v >= c ? v - c : -1;
      }
      countInserted();
      inserted -= std::min(inserted, cut);
      countedUpTo = inserted;
      finderWork_ += (size_t(1) << kHashBits) + buf.size();  // links renumbered
    }
    const size_t histLen = buf.size();
    buf.insert(buf.end(), data + segStart, data + segStart + segLen);
    const size_t len = buf.size();
    if (optimal) {
      tree.Grow(len);
    } else {
      prev.resize(len, -1);
    }

    auto find = [&](size_t i) {
      Candidate best;
      const uint32_t limit = uint32_t(std::min<size_t>(kLongestMatch, len - i));
      if (limit < 2) return best;
      for (int k = 0; k < 4; ++k) {
        uint32_t d = cache[(matches - 1 - uint32_t(k)) & 3];
        if (d == 0 || d > i || d > maxDistance) continue;
        uint32_t l = MatchLength(&buf[i], &buf[i - d], limit);
        uint32_t adj = (d > 0x3fff) + (d > 0x3ffff);
        if (l >= 2 + adj && l > best.length) {
          best.length = l;
          best.distance = d;
          best.repeat = k;
        }
      }
      if (limit < 4 || best.length >= lv.nice) return best;
      Candidate plain;
      int32_t cand = head[hashAt(i)];
      uint32_t depth = lv.depth;
      for (uint32_t chain = 0; cand >= 0 && chain < depth; ++chain, cand = prev[cand]) {
        uint32_t d = uint32_t(i - size_t(cand));
        if (d > maxDistance) break;
        if (plain.length < limit && buf[cand + plain.length] != buf[i + plain.length]) continue;
        uint32_t l = MatchLength(&buf[i], &buf[cand], limit);
        if (l <= plain.length) continue;
        bool carried = (l >= 4 + (d > 0x3ffff)) || (l == 3 && d <= 16384);
        if (!carried) continue;
        // A good match seldom gets much better further down the chain.
        if (plain.length < 32 && l >= 32) depth = std::max<uint32_t>(chain + 1, depth / 4);
        plain.length = l;
        plain.distance = d;
        if (l >= lv.nice) break;
      }
      // A repeat costs far fewer bits than a new distance.
      if (plain.length > best.length + 1) return plain;
      return best;
    };

    if (optimal) {
      OptimalParser parser(buf.data(), len, &tree, &inserted, maxDistance, lv.nice, distE_, distCount_);
      PathState state;
      std::copy(std::begin(optReps), std::end(optReps), state.reps);
      state.lastLength = optLastLength;
      state.lastDistance = optLastDistance;
      parser.Parse(histLen, prices, state, ops, blockSizes);
      std::copy(std::begin(state.reps), std::end(state.reps), optReps);
      optLastLength = state.lastLength;
      optLastDistance = state.lastDistance;
      continue;
    }
    size_t i = histLen;
    Candidate pending;
    bool havePending = false;
    while (i < len) {
      insertUpTo(i);
      Candidate c = havePending ? pending : find(i);
      havePending = false;
      if (c.length >= 2 && lv.lazy && c.length < lv.nice && i + 1 < len) {
        insertUpTo(i + 1);
        Candidate next = find(i + 1);
        if (next.length > c.length) {
          ops->push_back(LzOp::Literal(buf[i]));
          ++i;
          pending = next;
          havePending = true;
          continue;
        }
      }
      if (c.length < 2) {
        ops->push_back(LzOp::Literal(buf[i]));
        ++i;
        continue;
      }
      if (c.repeat >= 0) {
        ops->push_back(LzOp::Repeat(uint8_t(c.repeat), c.length));
      } else {
        ops->push_back(LzOp::Match(c.length, c.distance));
      }
      cache[matches & 3] = c.distance;
      ++matches;
      i += c.length;
    }
  }
  countInserted();
  if (opt.level >= 4) {
    parseCounts_.assign(prices.cMain, prices.cMain + kMainSymbols);
    parseCounts_.insert(parseCounts_.end(), prices.cRep, prices.cRep + kRepeatSymbols);
    parseCounts_.insert(parseCounts_.end(), prices.cDist, prices.cDist + kDistSymbols);
  }
}

std::vector<uint8_t> LzEncoder::Encode(const uint8_t* data, size_t n, const LzOptions& opt,
                                       bool solid) {
  std::vector<uint8_t> out;
  // Incompressible data comes out a little larger than it went in; the
  // pages of what is reserved and never written cost nothing.
  out.reserve(n + n / 16 + 4096);
  EncodeStream(
      n,
      [data](uint64_t offset, uint8_t* dest, size_t count) {
        std::memcpy(dest, data + offset, count);
        return true;
      },
      [&out](const uint8_t* p, size_t count) {
        out.insert(out.end(), p, p + count);
        return true;
      },
      opt, solid);
  return out;
}

bool LzEncoder::EncodeStream(uint64_t n, const Reader& read, const Writer& write, const LzOptions& opt,
                             bool solid) {
  expect_ = nullptr;
  const uint32_t ws = 32768u << std::min<uint32_t>(opt.windowCode, 7);
  if (!solid || windowSize_ == 0) {
    Reset(ws);
  } else if (ws != windowSize_) {
    // The decoder keeps its position inside the new window; older bytes are
    // no longer where the new window size would look for them.
    uint32_t pos = pos_ & (ws - 1);
    uint32_t cache[4];
    std::copy(std::begin(distCache_), std::end(distCache_), cache);
    uint32_t mc = matchCount_, ll = lastLength_, ld = lastDistance_;
    Reset(ws);
    pos_ = pos;
    std::copy(cache, cache + 4, distCache_);
    matchCount_ = mc;
    lastLength_ = ll;
    lastDistance_ = ld;
  }
  uint32_t filterWord = 0;
  const std::vector<uint32_t> chunks = LzChunkSizes(pos_, ws, size_t(n));
  // The x86 filter's size is the entry's low 32 bits, as the decoder takes it.
  const uint32_t e8Size = uint32_t(n);
  std::vector<uint8_t> work;
  lastX86Kept_ = true;
  if (opt.x86) {
    // Checked on copies first: a call operand without an encoding the
    // decoder maps back means the entry goes without the filter.
    uint32_t e8 = 0;
    bool ok = true;
    uint64_t at = 0;
    for (uint32_t c : chunks) {
      work.resize(c);
      if (!read(at, work.data(), c)) return false;
      ok = X86Forward(work.data(), c, &e8, e8Size) && ok;
      at += c;
    }
    if (ok) {
      filterWord |= 0x0002;
    } else {
      lastX86Kept_ = false;
    }
  }
  std::unique_ptr<DeltaFilter> delta;
  if (opt.delta) {
    delta = std::make_unique<DeltaFilter>();
    delta->Clear();
    delta->Setup(opt.deltaKind, opt.deltaChannels, opt.deltaHeader);
    filterWord |= 0x0004;
  }
  lastFilterWord_ = filterWord;
  BitWriter w;
  if (filterWord) WriteFilterHeader(w, filterWord, opt);
  // Segments of whole output chunks bound the memory taken by big entries:
  // filter, parse and write one segment before reading the next.
  const size_t segmentTarget = size_t(8) << 20;
  const uint32_t per = std::clamp<uint32_t>(opt.blockSymbols, 1, 32767);
  std::vector<LzOp> ops;
  uint32_t e8 = 0;
  uint64_t at = 0;
  size_t ci = 0;
  while (ci < chunks.size()) {
    size_t segLen = 0;
    std::vector<uint32_t> segChunks;
    while (ci < chunks.size() && (segLen == 0 || segLen + chunks[ci] <= segmentTarget)) {
      segChunks.push_back(chunks[ci]);
      segLen += chunks[ci++];
    }
    work.resize(segLen);
    if (!read(at, work.data(), segLen)) return false;
    size_t off = 0;
    for (uint32_t c : segChunks) {
      if (filterWord & 0x0002) X86Forward(work.data() + off, c, &e8, e8Size);
      if (delta) delta->ForwardChunk(work.data() + off, c);
      off += c;
    }
    ops.clear();
    std::vector<uint32_t> sizes;
    Parse(work.data(), segLen, opt, &ops, &sizes);
    if (sizes.empty() || opt.blockSymbols < 32767) {
      sizes.clear();
      for (size_t k = 0; k < ops.size(); k += per) sizes.push_back(uint32_t(std::min<size_t>(per, ops.size() - k)));
    }
    // One block at a time: a copy of a whole segment's ops would double
    // the memory that incompressible data takes.
    std::vector<LzBlock> block(1);
    block[0].chooseForm = opt.level >= 2;
    block[0].chooseThreshold = opt.level >= 4;
    size_t k = 0;
    expect_ = work.data();
    expectLeft_ = segLen;
    expectFailed_ = false;
    for (uint32_t count : sizes) {
      block[0].ops.assign(ops.begin() + ptrdiff_t(k), ops.begin() + ptrdiff_t(k + count));
      k += count;
      WriteBlocks(w, block);
    }
    const bool reproduced = !expectFailed_ && expectLeft_ == 0;
    expect_ = nullptr;
    if (!reproduced) throw std::runtime_error("LZ encoder: the parse does not reproduce the data");
    at += segLen;
    const std::vector<uint8_t> words = w.TakeWords();
    if (!words.empty() && !write(words.data(), words.size())) return false;
  }
  const std::vector<uint8_t> tail = w.Take();
  return tail.empty() || write(tail.data(), tail.size());
}

std::vector<uint8_t> EncodeLz(const uint8_t* data, size_t n, const LzOptions& opt) {
  LzEncoder e;
  return e.Encode(data, n, opt, false);
}

}  // namespace tvk
