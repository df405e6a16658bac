#include "writer/audio_encoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <queue>

#include "codec/audio_predictor.h"
#include "common/bytes.h"
#include "crypto/crc32.h"
#include "writer/bit_writer.h"

namespace tvk {

namespace {

constexpr uint32_t kParamBytes = 18;
constexpr uint32_t kMaxWordBlock = 384;
constexpr uint32_t kMaxBlockLeft = (1u << 14) - 1;
constexpr uint32_t kDefaultByteBlock = 8192;
constexpr uint32_t kSampleSymbols = 258;
constexpr uint32_t kSampleMaxLength = 15;
constexpr uint32_t kPreSymbols = 19;
constexpr uint32_t kPreMaxLength = 7;

// ---- Prefix codes -------------------------------------------------------

// Huffman code lengths no longer than maxLength. Every code the reader
// accepts is complete with at least two symbols, so a lone symbol gets a
// partner. Too-deep trees are flattened by halving the counts.
std::vector<uint32_t> CodeLengths(std::vector<uint64_t> freq, uint32_t maxLength) {
  size_t used = 0, last = 0;
  for (size_t i = 0; i < freq.size(); ++i) {
    if (freq[i]) ++used, last = i;
  }
  if (used == 0) freq[0] = freq[1] = 1;
  if (used == 1) freq[last == 0 ? 1 : 0] = 1;
  for (;;) {
    struct Node {
      uint64_t weight;
      int left, right;
    };
    std::vector<Node> nodes;
    using Item = std::pair<uint64_t, int>;
    std::priority_queue<Item, std::vector<Item>, std::greater<Item>> heap;
    for (size_t i = 0; i < freq.size(); ++i) {
      if (freq[i]) {
        nodes.push_back({freq[i], -1, static_cast<int>(i)});
        heap.push({freq[i], static_cast<int>(nodes.size() - 1)});
      }
    }
    while (heap.size() > 1) {
      Item a = heap.top();
      heap.pop();
      Item b = heap.top();
      heap.pop();
      nodes.push_back({a.first + b.first, a.second, b.second});
      heap.push({a.first + b.first, static_cast<int>(nodes.size() - 1)});
    }
    std::vector<uint32_t> lengths(freq.size(), 0);
    uint32_t deepest = 0;
    // Walk the tree from the root; leaves carry their symbol in `right`.
    std::vector<std::pair<int, uint32_t>> stack{{heap.top().second, 0}};
    while (!stack.empty()) {
      auto [node, depth] = stack.back();
      stack.pop_back();
      if (nodes[node].left < 0) {
        lengths[nodes[node].right] = depth;
        deepest = std::max(deepest, depth);
      } else {
        stack.push_back({nodes[node].left, depth + 1});
        stack.push_back({nodes[node].right, depth + 1});
      }
    }
    if (deepest <= maxLength) return lengths;
    for (auto& f : freq) {
      if (f) f = (f + 1) / 2;
    }
  }
}

// Canonical codes: shorter codes first, equal lengths in symbol order.
struct PreSymbol {
  uint32_t symbol, extra, extraBits;
};

// Run-length form of one table's lengths. Runs never start a table with a
// repeat and never reach into the next table.
std::vector<PreSymbol> RunLengths(const std::vector<uint32_t>& lengths) {
  std::vector<PreSymbol> out;
  size_t i = 0;
  while (i < lengths.size()) {
    uint32_t len = lengths[i];
    size_t run = 1;
    while (i + run < lengths.size() && lengths[i + run] == len) ++run;
    i += run;
    if (len == 0) {
      while (run >= 11) {
        size_t r = std::min<size_t>(run, 138);
        out.push_back({18, static_cast<uint32_t>(r - 11), 7});
        run -= r;
      }
      if (run >= 3) {
        out.push_back({17, static_cast<uint32_t>(run - 3), 3});
        run = 0;
      }
      for (; run; --run) out.push_back({0, 0, 0});
    } else {
      out.push_back({len, 0, 0});
      --run;
      while (run >= 3) {
        size_t r = std::min<size_t>(run, 6);
        out.push_back({16, static_cast<uint32_t>(r - 3), 2});
        run -= r;
      }
      for (; run; --run) out.push_back({len, 0, 0});
    }
  }
  return out;
}

struct Table {
  std::vector<uint32_t> lengths, codes;
};

Table MakeTable(const std::vector<uint64_t>& freq, uint32_t maxLength) {
  Table t;
  t.lengths = CodeLengths(freq, maxLength);
  t.codes = CanonicalCodes(t.lengths);
  return t;
}

// The pre-code and then each table's lengths through it.
void PutTables(BitWriter& bw, const std::vector<const Table*>& tables) {
  std::vector<std::vector<PreSymbol>> runs;
  std::vector<uint64_t> freq(kPreSymbols, 0);
  for (const Table* t : tables) {
    runs.push_back(RunLengths(t->lengths));
    for (const PreSymbol& p : runs.back()) ++freq[p.symbol];
  }
  Table pre = MakeTable(freq, kPreMaxLength);
  for (uint32_t s = 0; s < kPreSymbols; ++s) bw.Put(pre.lengths[s], 4);
  for (const auto& r : runs) {
    for (const PreSymbol& p : r) {
      bw.Put(pre.codes[p.symbol], pre.lengths[p.symbol]);
      if (p.extraBits) bw.Put(p.extra, p.extraBits);
    }
  }
}

// ---- 8-bit samples -------------------------------------------------------

uint64_t TableCost(const std::vector<const Table*>& tables) {
  BitWriter scratch;
  PutTables(scratch, tables);
  return scratch.BitCount();
}

uint64_t SymbolCost(const Table& t, const std::vector<uint64_t>& freq) {
  uint64_t bits = 0;
  for (size_t s = 0; s < freq.size(); ++s) bits += freq[s] * t.lengths[s];
  return bits;
}

void EncodeBytes(BitWriter& bw, const uint8_t* samples, uint32_t count, bool stereo,
                 const AudioEncodeOptions& opt) {
  AudioBytePredictor pred[2];
  for (AudioBytePredictor& p : pred) ResetAudioBytePredictor(&p, stereo ? 511 : 1023);
  uint32_t block = opt.byteBlock ? opt.byteBlock : kDefaultByteBlock;
  block = std::min(block, kMaxBlockLeft);
  std::vector<uint8_t> x;
  for (uint32_t pos = 0; pos < count;) {
    uint32_t m = std::min(block, count - pos);
    // Each block starts again with channel 0, whatever the block before it
    // left, so the bytes of a block alternate from its own start.
    x.resize(m);
    for (uint32_t j = 0; j < m; ++j) {
      x[j] = PredictAudioByte(&pred[stereo ? (j & 1) : 0], samples[pos + j]);
    }
    std::vector<uint64_t> all(kSampleSymbols, 0), even(kSampleSymbols, 0),
        odd(kSampleSymbols, 0);
    for (uint32_t j = 0; j < m; ++j) {
      ++all[x[j]];
      ++((j & 1) ? odd : even)[x[j]];
    }
    Table single = MakeTable(all, kSampleMaxLength);
    bool paired = false;
    Table a, b;
    if (stereo && m % 2 == 0 && opt.paired != 0) {
      a = MakeTable(even, kSampleMaxLength);
      b = MakeTable(odd, kSampleMaxLength);
      paired = opt.paired == 1 ||
               TableCost({&a, &b}) + SymbolCost(a, even) + SymbolCost(b, odd) <
                   TableCost({&single}) + SymbolCost(single, all);
    }
    bw.Put(paired ? m / 2 : m, 14);
    if (stereo) bw.PutBit(paired ? 1 : 0);
    if (paired) {
      PutTables(bw, {&a, &b});
      for (uint32_t j = 0; j < m; ++j) {
        const Table& t = (j & 1) ? b : a;
        bw.Put(t.codes[x[j]], t.lengths[x[j]]);
      }
    } else {
      PutTables(bw, {&single});
      for (uint32_t j = 0; j < m; ++j) bw.Put(single.codes[x[j]], single.lengths[x[j]]);
    }
    pos += m;
  }
}

// ---- 16-bit samples ------------------------------------------------------

struct WordState {
  int32_t h1 = 0, h2 = 0, h3 = 0;
};

// The residuals that make the reader's predictor of `type` produce exactly
// `target`; the state advances as the reader's does.
void Residuals(uint32_t type, WordState* st, const int32_t* target, uint32_t n, int32_t* f) {
  AudioWordHistory w = {static_cast<uint32_t>(st->h1), static_cast<uint32_t>(st->h2),
                        static_cast<uint32_t>(st->h3), 0, 0};
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t b = static_cast<uint32_t>(target[i]);
    f[i] = static_cast<int32_t>(b - AudioWordPrediction(type, w));
    AdvanceAudioWordHistory(type, &w, b, f[i]);
  }
  st->h1 = static_cast<int32_t>(w.h1);
  st->h2 = static_cast<int32_t>(w.h2);
  st->h3 = static_cast<int32_t>(w.h3);
}

uint64_t RiceCost(const int32_t* f, uint32_t n, uint32_t k) {
  uint64_t bits = uint64_t(n) * (2 + k);
  for (uint32_t i = 0; i < n; ++i) bits += AudioMagnitude(f[i]) >> k;
  return bits;
}

// The cheapest Rice parameter near the one the mean magnitude suggests.
uint32_t BestK(const int32_t* f, uint32_t n, uint64_t* cost) {
  uint64_t sum = 0;
  for (uint32_t i = 0; i < n; ++i) sum += AudioMagnitude(f[i]);
  uint64_t mean = n ? sum / n : 0;
  uint32_t guess = 0;
  while (guess < 15 && (uint64_t(1) << (guess + 1)) <= mean) ++guess;
  uint32_t lo = guess >= 2 ? guess - 2 : 0, hi = std::min<uint32_t>(15, guess + 1);
  uint32_t best = lo;
  *cost = RiceCost(f, n, lo);
  for (uint32_t k = lo + 1; k <= hi; ++k) {
    uint64_t c = RiceCost(f, n, k);
    if (c < *cost) *cost = c, best = k;
  }
  return best;
}

struct ChannelChoice {
  uint32_t type = 0, k = 0;
  uint64_t cost = UINT64_MAX;
  std::array<int32_t, kMaxWordBlock> f{};
  WordState after;
};

ChannelChoice ChooseChannel(const WordState& st, const int32_t* target, uint32_t n,
                            const AudioEncodeOptions& opt) {
  ChannelChoice best;
  ChannelChoice trial;
  for (uint32_t type = 0; type <= 4; ++type) {
    if (opt.predictorType >= 0 && opt.predictorType <= 4 && type != static_cast<uint32_t>(opt.predictorType)) continue;
    trial.after = st;
    Residuals(type, &trial.after, target, n, trial.f.data());
    trial.type = type;
    if (opt.riceK >= 0) {
      trial.k = static_cast<uint32_t>(opt.riceK);
      trial.cost = RiceCost(trial.f.data(), n, trial.k);
    } else {
      trial.k = BestK(trial.f.data(), n, &trial.cost);
    }
    if (trial.cost < best.cost) best = trial;
  }
  return best;
}

void PutResiduals(BitWriter& bw, const ChannelChoice& c, uint32_t n) {
  bw.Put(c.type, 3);
  bw.Put(c.k, 4);
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t a = AudioMagnitude(c.f[i]);
    bw.PutBit(c.f[i] < 0 ? 1 : 0);
    for (uint32_t q = a >> c.k; q; --q) bw.PutBit(0);
    bw.PutBit(1);
    if (c.k) bw.Put(a & ((1u << c.k) - 1), c.k);
  }
}

// Channel 1 and 2 values from left and right, the inverse of the reader's
// reconstruction for each stereo mode.
void Decorrelate(uint32_t mode, const int32_t* left, const int32_t* right, uint32_t n,
                 int32_t* x, int32_t* y) {
  for (uint32_t i = 0; i < n; ++i) {
    int32_t l = left[i], r = right[i];
    switch (mode) {
      case 1:
        x[i] = l - r;
        y[i] = r + (x[i] >> 1);
        break;
      case 2:
        x[i] = l - (r >> 1);
        y[i] = r + (x[i] >> 1);
        break;
      default:
        x[i] = l;
        y[i] = r;
        break;
    }
  }
}

int32_t Sample16(const uint8_t* p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }

void EncodeWords(BitWriter& bw, const uint8_t* samples, uint32_t frames, bool stereo,
                 const AudioEncodeOptions& opt) {
  uint32_t block = std::clamp<uint32_t>(opt.wordBlock, 1, kMaxWordBlock);
  uint32_t frameBytes = stereo ? 4 : 2;
  WordState st[2];
  std::array<int32_t, kMaxWordBlock> left, right, x, y;
  for (uint32_t pos = 0; pos < frames;) {
    uint32_t left_ = frames - pos;
    uint32_t n = std::min(block, left_);
    // The reader stops when fewer than 4 sample bytes remain, so a mono
    // stream must not end on a block of one sample.
    if (!stereo && left_ - n == 1) n = left_ <= kMaxWordBlock ? left_ : n - 1;
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* p = samples + size_t(pos + i) * frameBytes;
      left[i] = Sample16(p);
      right[i] = stereo ? Sample16(p + 2) : 0;
    }
    uint32_t bestMode = 0;
    ChannelChoice best1, best2;
    uint64_t bestCost = UINT64_MAX;
    for (uint32_t mode = 0; mode <= (stereo ? 2u : 0u); ++mode) {
      uint32_t sent = mode;
      if (stereo && opt.stereoMode >= 0) {
        sent = static_cast<uint32_t>(opt.stereoMode);
        if (mode != (sent == 3 ? 0 : sent)) continue;
      }
      Decorrelate(sent, left.data(), right.data(), n, x.data(), y.data());
      ChannelChoice c1 = ChooseChannel(st[0], x.data(), n, opt);
      ChannelChoice c2;
      uint64_t cost = c1.cost;
      if (stereo) {
        c2 = ChooseChannel(st[1], y.data(), n, opt);
        cost += c2.cost;
      }
      if (cost < bestCost) {
        bestCost = cost;
        bestMode = sent;
        best1 = c1;
        best2 = c2;
      }
    }
    bool isExplicit = n != kMaxWordBlock;
    bw.PutBit(isExplicit ? 1 : 0);
    bw.Put(bestMode, 2);
    if (isExplicit) bw.Put(n, 11);
    PutResiduals(bw, best1, n);
    st[0] = best1.after;
    if (stereo) {
      PutResiduals(bw, best2, n);
      st[1] = best2.after;
    }
    pos += n;
  }
}

}  // namespace

std::vector<uint8_t> EncodeAudioStream(const uint8_t* file, size_t n, WavLayout layout,
                                       const AudioEncodeOptions& opt) {
  if (uint64_t(layout.headLength) + layout.sampleBytes + layout.tailLength != n) return {};
  bool stereo = layout.channels == 2;
  bool wide = layout.bitsPerSample == 16;
  uint32_t frameBytes = (stereo ? 2 : 1) * (wide ? 2 : 1);
  // Whole frames only; the reader's 16-bit loop also needs at least 4 bytes.
  uint32_t keep = layout.sampleBytes - layout.sampleBytes % frameBytes;
  if (wide && keep < 4) keep = 0;
  layout.tailLength += layout.sampleBytes - keep;
  layout.sampleBytes = keep;

  BitWriter bw;
  uint8_t params[kParamBytes] = {};
  StoreU32(params, layout.headLength);
  StoreU32(params + 4, layout.tailLength);
  StoreU32(params + 8, layout.sampleBytes);
  params[12] = layout.channels;
  params[13] = layout.bitsPerSample;
  for (uint8_t b : params) bw.PutByte(b);
  for (uint32_t i = 0; i < layout.headLength; ++i) bw.PutByte(file[i]);
  const uint8_t* samples = file + layout.headLength;
  if (wide) {
    EncodeWords(bw, samples, layout.sampleBytes / frameBytes, stereo, opt);
  } else {
    EncodeBytes(bw, samples, layout.sampleBytes, stereo, opt);
  }
  const uint8_t* tail = samples + layout.sampleBytes;
  for (uint32_t i = 0; i < layout.tailLength; ++i) bw.PutByte(tail[i]);
  return bw.Finish();
}

uint32_t AudioEntryCrc(const std::vector<uint8_t>& stream, const uint8_t* file, size_t n) {
  // The record is the first 18 bytes of the bit stream: each stored word
  // gives its bytes from the most significant down.
  uint8_t params[kParamBytes];
  for (uint32_t i = 0; i < kParamBytes; ++i) {
    size_t at = (i / 4) * 4 + 3 - i % 4;
    params[i] = at < stream.size() ? stream[at] : 0;
  }
  uint32_t crc = Crc32(kCrcStart, params, kParamBytes);
  return Crc32(crc, file, n);
}

bool EncodeAudio(const uint8_t* file, size_t n, std::vector<uint8_t>* out, uint32_t* entryCrc,
                 const AudioEncodeOptions& options) {
  WavLayout layout;
  if (!ParseWav(file, n, &layout)) return false;
  *out = EncodeAudioStream(file, n, layout, options);
  if (entryCrc) *entryCrc = AudioEntryCrc(*out, file, n);
  return true;
}

}  // namespace tvk
