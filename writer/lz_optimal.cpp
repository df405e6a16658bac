// The optimal parse of the best level: a price-driven search per block.
#include "writer/lz_encoder_internal.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>

namespace tvk {

using namespace lz;
using namespace lz_internal;

namespace {

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

// The thresholds worth a try: in text, what follows a letter differs from
// what follows a space or a digit; after the short matches, from after the
// long ones. Ties go to the first tried.
constexpr uint32_t kThresholds[] = {255, 32, 47, 64, 96, 127, 260, 283};
constexpr uint32_t kRows = std::size(kThresholds) + 1;

// A block's counts for every shape at once: main symbols by the stretch
// between two thresholds that the symbol before them falls in (row r: above
// r of the thresholds), so that a threshold's two tables are sums of rows.
struct ShapeCounts {
  uint32_t sorted[kRows - 1];
  uint32_t rowOf[512];
  uint32_t main[kRows][kMainSymbols] = {};
  uint32_t rep[kRepeatSymbols] = {};
  uint32_t dist[kDistSymbols] = {};
  uint64_t extra = 0;

  ShapeCounts(const SymbolUse* u, const SymbolUse* end) {
    std::copy(std::begin(kThresholds), std::end(kThresholds), sorted);
    std::sort(std::begin(sorted), std::end(sorted));
    for (uint32_t v = 0; v < 512; ++v) {
      rowOf[v] = uint32_t(std::lower_bound(std::begin(sorted), std::end(sorted), v) - std::begin(sorted));
    }
    // A block reads its first symbol with the first table whatever the
    // threshold.
    uint32_t row = 0;
    for (; u != end; ++u) {
      ++main[row][u->main];
      row = rowOf[u->main];
      if (u->rep >= 0) ++rep[u->rep];
      if (u->dist >= 0) ++dist[u->dist];
      extra += u->extra;
    }
  }
  // Main counts of the rows [from, to).
  std::vector<uint32_t> Rows(uint32_t from, uint32_t to) const {
    std::vector<uint32_t> f(kMainSymbols, 0);
    for (uint32_t r = from; r < to; ++r)
      for (uint32_t s = 0; s < kMainSymbols; ++s) f[s] += main[r][s];
    return f;
  }
};

uint64_t CodedBits(const std::vector<uint32_t>& freq, const std::vector<uint32_t>& lengths) {
  uint64_t bits = 0;
  for (size_t s = 0; s < lengths.size(); ++s) bits += uint64_t(freq[s]) * lengths[s];
  return bits;
}

// The shape that writes uses[begin, end) in the fewest bits (tables
// included), and those bits.
BlockShape BestShape(const SymbolUse* begin, const SymbolUse* end, uint64_t* bitsOut) {
  const auto c = std::make_unique<ShapeCounts>(begin, end);
  const std::vector<uint32_t> repF(std::begin(c->rep), std::end(c->rep));
  const std::vector<uint32_t> distF(std::begin(c->dist), std::end(c->dist));
  const auto rep = LimitedCodeLengths(repF, kMaxCodeLength);
  const auto dist = LimitedCodeLengths(distF, kMaxCodeLength);
  const uint64_t common = 1 + 15 + c->extra + CodedBits(repF, rep) + CodedBits(distF, dist);
  BlockShape best;
  uint64_t bestBits = UINT64_MAX;
  auto consider = [&](LzBlock::Form form, uint32_t threshold, uint64_t bits) {
    if (bits < bestBits) {
      bestBits = bits;
      best = BlockShape{form, threshold};
    }
  };
  {
    const auto aF = c->Rows(0, kRows);
    const auto a = LimitedCodeLengths(aF, kMaxCodeLength);
    const uint64_t bits = common + 2 + CodedBits(aF, a);
    BitWriter pre, delta;
    PutPreCodedTables(pre, {&a, &rep, &dist});
    PutDeltaLengths(delta, a);
    PutDeltaLengths(delta, rep);
    PutDeltaLengths(delta, dist);
    consider(LzBlock::kPreCoded, 511, bits + pre.BitCount());
    consider(LzBlock::kDeltaCoded, 511, bits + delta.BitCount());
  }
  BitWriter repDist;
  PutDeltaLengths(repDist, rep);
  PutDeltaLengths(repDist, dist);
  for (uint32_t th : kThresholds) {
    const uint32_t split = uint32_t(std::find(std::begin(c->sorted), std::end(c->sorted), th) - std::begin(c->sorted)) + 1;
    const auto aF = c->Rows(0, split), bF = c->Rows(split, kRows);
    const auto a = LimitedCodeLengths(aF, kMaxCodeLength);
    const auto b = LimitedCodeLengths(bF, kMaxCodeLength);
    BitWriter w;
    PutPreCodedTables(w, {&a, &b});
    consider(LzBlock::kTwoTables, th,
             common + 1 + 9 + CodedBits(aF, a) + CodedBits(bF, b) + w.BitCount() + repDist.BitCount());
  }
  *bitsOut = bestBits;
  return best;
}

BlockShape BestShape(const std::vector<SymbolUse>& uses, uint64_t* bitsOut) {
  return BestShape(uses.data(), uses.data() + uses.size(), bitsOut);
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

// The matches of every position of buf from `from` to the end, in order,
// each position exactly once. The tree walks are half the best level's
// time and depend on nothing the parse decides, so with a thread they run
// ahead of the parse in chunks; the matches, and so the bytes written, are
// the same either way.
class MatchSource {
 public:
  MatchSource(const uint8_t* buf, size_t len, LzTreeFinder* tree, size_t* inserted, uint32_t maxDistance,
              uint32_t nice, size_t from, bool thread)
      : buf_(buf), len_(len), tree_(tree), inserted_(inserted), maxDistance_(maxDistance), nice_(nice),
        next_(from), made_(from) {
    if (thread && len - from >= kThreadFrom) worker_ = std::thread([this] { Produce(); });
  }
  ~MatchSource() {
    if (!worker_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    worker_.join();
  }
  MatchSource(const MatchSource&) = delete;
  MatchSource& operator=(const MatchSource&) = delete;

  size_t next() const { return next_; }

  // Appends the matches of the next position to out.
  void Next(std::vector<LzMatch>* out) {
    if (!worker_.joinable()) {
      LzMatch found[LzTreeFinder::kMaxOut];
      const uint32_t count = FindAt(next_++, found);
      out->insert(out->end(), found, found + count);
      return;
    }
    if (taken_ == current_.counts.size()) TakeChunk();
    const uint32_t count = current_.counts[taken_++];
    out->insert(out->end(), current_.matches.begin() + ptrdiff_t(matchAt_),
                current_.matches.begin() + ptrdiff_t(matchAt_ + count));
    matchAt_ += count;
    ++next_;
  }

  // Walks the positions the parse did not ask for, so that the tree ends
  // in the same state whatever the parse took.
  void Finish() {
    std::vector<LzMatch> unused;
    while (next_ < len_) {
      unused.clear();
      Next(&unused);
    }
    if (worker_.joinable()) worker_.join();
  }

 private:
  // The parse waits for the first chunk and the finder for nothing at the
  // last, so chunks start small and grow; a thread pays only for an entry
  // of many chunks.
  static constexpr size_t kFirstChunk = 1024;  // positions handed over at once
  static constexpr size_t kChunk = 8192;
  static constexpr size_t kThreadFrom = 65536;
  static constexpr size_t kAhead = 4;  // chunks the finder may run ahead

  struct Chunk {
    std::vector<uint32_t> counts;
    std::vector<LzMatch> matches;
  };

  uint32_t FindAt(size_t p, LzMatch* found) {
    while (*inserted_ < p && *inserted_ + 4 <= len_) tree_->Skip(buf_, (*inserted_)++, len_, maxDistance_);
    if (*inserted_ != p || p + 4 > len_) return 0;
    uint32_t count = tree_->Find(buf_, p, len_, maxDistance_, found);
    ++*inserted_;
    // The tree looks no further than nice; the stream carries more. A run
    // that the previous position already measured at this distance goes on
    // at least as far, so long runs are measured once, not once per
    // position.
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
    return count;
  }

  void Produce() {
    try {
      LzMatch found[LzTreeFinder::kMaxOut];
      size_t chunkSize = kFirstChunk;
      while (made_ < len_) {
        Chunk chunk;
        {
          std::unique_lock<std::mutex> lock(mutex_);
          changed_.wait(lock, [this] { return stop_ || ready_.size() < kAhead; });
          if (stop_) return;
          if (!spare_.empty()) {
            chunk = std::move(spare_.back());
            spare_.pop_back();
          }
        }
        chunk.counts.clear();
        chunk.matches.clear();
        const size_t end = std::min(len_, made_ + chunkSize);
        chunkSize = std::min(kChunk, 2 * chunkSize);
        for (; made_ < end; ++made_) {
          const uint32_t count = FindAt(made_, found);
          chunk.counts.push_back(count);
          chunk.matches.insert(chunk.matches.end(), found, found + count);
        }
        {
          std::lock_guard<std::mutex> lock(mutex_);
          ready_.push_back(std::move(chunk));
          done_ = made_ == len_;
        }
        changed_.notify_all();
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex_);
      failure_ = std::current_exception();
      changed_.notify_all();
    }
  }

  void TakeChunk() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!current_.counts.empty()) spare_.push_back(std::move(current_));
    changed_.wait(lock, [this] { return !ready_.empty() || failure_ || done_; });
    if (ready_.empty() && failure_) std::rethrow_exception(failure_);
    if (ready_.empty()) throw std::logic_error("LZ encoder: the parse asked past the end");
    current_ = std::move(ready_.front());
    ready_.erase(ready_.begin());
    taken_ = matchAt_ = 0;
    changed_.notify_all();
  }

  const uint8_t* buf_;
  size_t len_;
  LzTreeFinder* tree_;
  size_t* inserted_;
  uint32_t maxDistance_, nice_;
  size_t next_;  // the next position the parse takes
  size_t made_;  // the next position the finder walks (thread only)
  size_t runEnd_ = 0;         // where the last long match measured ended
  uint32_t runDistance_ = 0;  // and its distance

  std::thread worker_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Chunk> ready_, spare_;
  Chunk current_;
  size_t taken_ = 0, matchAt_ = 0;
  bool stop_ = false;
  bool done_ = false;  // every position walked
  std::exception_ptr failure_;
};

// The price-based parse of the best level, a block at a time. Each block is
// parsed with running prices while its matches are cached, then parsed again
// with prices from the codes its first parse would get, and the cheaper of
// the two is kept.
class OptimalParser {
 public:
  OptimalParser(const uint8_t* buf, size_t len, LzTreeFinder* tree, size_t* inserted,
                uint32_t maxDistance, uint32_t nice, uint32_t distE, uint32_t distCount, size_t from,
                bool finderThread)
      : buf_(buf), len_(len), maxDistance_(maxDistance), nice_(nice), distE_(distE),
        distCount_(distCount), source_(buf, len, tree, inserted, maxDistance, nice, from, finderThread) {
    // A step never reaches past the end of the bytes: small entries, most
    // of a solid archive of small files, need only a few nodes cleared.
    nodes_.resize(std::min<size_t>(2 * kStretch + kLongestMatch, len - from) + 2);
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
    source_.Finish();
  }

 private:
  static constexpr uint32_t kStretch = 4096;
  static constexpr size_t kRegionTarget = 32000;  // ops of a first parse
  static constexpr size_t kMinSplit = 1024;       // ops of the smallest block cut off
  static constexpr size_t kBlockBytes = size_t(1) << 20;
  // A second re-parse saved 0.07 to 0.15 % more and cost a sixth to a
  // quarter of the time.
  static constexpr int kRefinePasses = 1;

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
      BestShape(uses.data() + x, uses.data() + y, &bits);
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
    if (source_.next() != cacheFrom_ + cacheStart_.size() - 1) {
      throw std::logic_error("LZ encoder: the parse skipped a position");
    }
    source_.Next(&cacheMatches_);
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
  uint32_t maxDistance_, nice_, distE_, distCount_;
  MatchSource source_;
  std::vector<ParseNode> nodes_;
  size_t cacheFrom_ = 0;
  std::vector<uint32_t> cacheStart_;
  std::vector<LzMatch> cacheMatches_;
};

}  // namespace

namespace lz_internal {

void OptimalParse(const uint8_t* buf, size_t len, LzTreeFinder* tree, size_t* inserted,
                  uint32_t maxDistance, uint32_t nice, uint32_t distE, uint32_t distCount,
                  size_t from, Prices& running, PathState& state, std::vector<LzOp>* ops,
                  std::vector<uint32_t>* blocks, bool finderThread) {
  OptimalParser parser(buf, len, tree, inserted, maxDistance, nice, distE, distCount, from, finderThread);
  parser.Parse(from, running, state, ops, blocks);
}

}  // namespace lz_internal

}  // namespace tvk
