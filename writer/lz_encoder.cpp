// The LZ encoder: the writer's side of the LZ decoder, symbol for symbol.
// Here the greedy and lazy parse and the driver; the optimal parse, the
// block writer and the code tables stand in lz_optimal.cpp,
// lz_block_writer.cpp and lz_codes.cpp.
#include "writer/lz_encoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "codec/model.h"
#include "common/bytes.h"
#include "writer/lz_encoder_internal.h"

namespace tvk {

using namespace lz;
using namespace lz_internal;

namespace {

int32_t DecoderX86Value(int32_t v, int32_t p, int32_t fileSize) {
  if (v == INT32_MIN || v == INT32_MAX) return v;
  if (v > 0 && v < fileSize) return int32_t(uint32_t(v) - uint32_t(p));
  if (v < 0 && -v < p) return int32_t(uint32_t(v) + uint32_t(fileSize));
  return v;
}

struct ParseLevel {
  uint32_t depth;
  uint32_t nice;
  uint32_t lazyBelow;  // a match this long is taken without a look one byte on
};

ParseLevel LevelOf(uint32_t level) {
  switch (level) {
    case 1: return {4, 24, 0};
    case 2: return {10, 48, 0};
    // Twice the depth and the look ahead after long matches cost 1.4 times
    // the time on text for archives 0.6 to 1.5 % smaller.
    case 3: return {12, 64, 32};
    // Past 128 bytes the best level's tree walks compare long strings at
    // every step for matches that the parse takes whole anyway.
    default: return {64, 128, 128};
  }
}

struct Candidate {
  uint32_t length = 0;
  uint32_t distance = 0;
  int repeat = -1;  // cache index when this is a repeat
};

}  // namespace

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
    // The buffers never outgrow a window and a segment: taking that room
    // now spares the copies (and the fresh pages) of growing step by step,
    // which cost a fifth of the time at the fast levels.
    buf.reserve(size_t(ws) + segment);
    buf.assign(history_.end() - keep, history_.end());
    countInserted();
    inserted = countedUpTo = 0;
    finderWork_ += size_t(1) << kHashBits;  // the head table cleared
    if (optimal) {
      head = std::vector<int32_t>();
      prev = std::vector<int32_t>();
      tree.Reset(kHashBits, lv.depth, lv.nice);
      tree.Reserve(size_t(ws) + segment);
      tree.Grow(buf.size());
      treeUpTo(buf.size());
    } else {
      tree = LzTreeFinder();
      head.assign(size_t(1) << kHashBits, -1);
      prev.reserve(size_t(ws) + segment);
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
      PathState state;
      std::copy(std::begin(optReps), std::end(optReps), state.reps);
      state.lastLength = optLastLength;
      state.lastDistance = optLastDistance;
      OptimalParse(buf.data(), len, &tree, &inserted, maxDistance, lv.nice, distE_, distCount_,
                   histLen, prices, state, ops, blockSizes, opt.finderThread);
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
      if (c.length >= 2 && c.length < lv.lazyBelow && c.length < lv.nice && i + 1 < len) {
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

uint32_t LzEncoder::BeginEntry(uint32_t windowCode, bool solid) {
  const uint32_t ws = 32768u << std::min<uint32_t>(windowCode, 7);
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
  return ws;
}

bool LzEncoder::EncodeStream(uint64_t n, const Reader& read, const Writer& write, const LzOptions& opt,
                             bool solid) {
  expect_ = nullptr;
  const uint32_t ws = BeginEntry(opt.windowCode, solid);
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
