// Block emission: tokens, LZ and model blocks, the filter header.
#include "writer/lz_encoder_internal.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "codec/model.h"

namespace tvk {

using namespace lz;
using namespace lz_internal;

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

struct LzEncoder::Token {
  uint16_t sym = 0;
  int16_t rep = -1;
  int16_t dsym = -1;
  uint8_t lenBits = 0;
  uint8_t distBits = 0;
  uint32_t lenVal = 0;
  uint32_t distVal = 0;
};

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
  BeginEntry(opt.windowCode, solid);
  lastFilterWord_ = filterWord;
  BitWriter w;
  if (filterWord) WriteFilterHeader(w, filterWord, opt);
  capture_ = window;
  WriteBlocks(w, blocks);
  capture_ = nullptr;
  return w.Finish();
}

}  // namespace tvk
