// Adaptive delta predictors shared by model blocks and the delta output
// filter, and the order-0 range decoder of model blocks.
#ifndef TVK_CODEC_MODEL_H
#define TVK_CODEC_MODEL_H

#include <stddef.h>
#include <stdint.h>

#include "codec/decode.h"

namespace tvk {

// One interleaved byte channel. The rule in use (mode) is re-chosen from the
// residual statistics of the bytes already produced.
struct BytePredictor {
  uint8_t h[4];        // h[0] is the most recent output byte
  uint32_t mode;       // 0: plain, k = 1..4: difference to the k-th last byte
  uint32_t mask;       // decision period mask
  uint32_t counter;
  uint32_t hist[5][256];

  void Reset(uint32_t initialMode);
  // Stored byte in, original byte out.
  uint8_t Step(uint8_t x) {
    uint8_t b;
    if (mode == 0) {
      b = x;
    } else if (mode <= 4) {
      b = static_cast<uint8_t>(h[mode - 1] - x);
    } else {
      b = 0;
    }
    Learn(b);
    return b;
  }
  // The writer's direction: the stored byte that Step turns back into b.
  // Modes above 4 cannot be inverted (they always produce 0).
  uint8_t Forward(uint8_t b) {
    uint8_t x = (mode >= 1 && mode <= 4) ? static_cast<uint8_t>(h[mode - 1] - b) : b;
    Learn(b);
    return x;
  }
  void Learn(uint8_t b) {
    hist[0][b]++;
    hist[1][static_cast<uint8_t>(h[0] - b)]++;
    hist[2][static_cast<uint8_t>(h[1] - b)]++;
    hist[3][static_cast<uint8_t>(h[2] - b)]++;
    hist[4][static_cast<uint8_t>(h[3] - b)]++;
    h[3] = h[2];
    h[2] = h[1];
    h[1] = h[0];
    h[0] = b;
    if ((counter & mask) == mask) Decide();
    ++counter;
  }
  void Decide();
};

// 16-bit little-endian words; three rules, fixed decision period of 256.
struct WordPredictor {
  uint16_t w[3];       // w[0] is the most recent output word
  uint32_t mode;       // k = 0..2: difference to the (k+1)-th last word
  uint32_t mask;
  uint32_t counter;
  uint32_t hist[6][256];  // rule k: high bytes in 2k, low bytes in 2k + 1

  void Reset(uint32_t initialMode);
  uint16_t Step(uint16_t x) {
    uint16_t c = mode <= 2 ? static_cast<uint16_t>(w[mode] - x) : 0;
    Learn(c);
    return c;
  }
  uint16_t Forward(uint16_t c) {
    uint16_t x = mode <= 2 ? static_cast<uint16_t>(w[mode] - c) : c;
    Learn(c);
    return x;
  }
  void Learn(uint16_t c) {
    for (int k = 0; k < 3; ++k) {
      uint16_t d = static_cast<uint16_t>(w[k] - c);
      hist[2 * k][d >> 8]++;
      hist[2 * k + 1][d & 255]++;
    }
    w[2] = w[1];
    w[1] = w[0];
    w[0] = c;
    if ((counter & 255) == 255) Decide();
    ++counter;
  }
  void Decide();
};

// Four byte channels and one word predictor.
struct PredictorSet {
  BytePredictor bytes[4];
  WordPredictor word;

  // kind 0 resets the byte predictors, kind 1 the word predictor.
  void Reset(uint32_t kind, uint32_t initialMode);
  // Undoes the prediction in place. Each call starts at channel 0; an
  // incomplete last frame (or odd last byte) stays as it is.
  void Run(uint32_t kind, uint32_t channels, uint8_t* data, size_t n);
  // The writer's direction of Run.
  void Forward(uint32_t kind, uint32_t channels, uint8_t* data, size_t n);
};

constexpr uint32_t kFreqIncrement = 8;
constexpr uint32_t kFreqLimit = 4096;

// Adaptive order-0 model over byte values.
struct FrequencyModel {
  uint32_t freq[256];
  uint32_t total;

  void Reset() {
    for (uint32_t& f : freq) f = 1;
    total = 256;
  }
  // The symbol whose interval holds v (v < total), and its cumulative start.
  uint32_t Find(uint32_t v, uint32_t* cum) const;
  uint32_t CumOf(uint32_t s) const {
    uint32_t c = 0;
    for (uint32_t i = 0; i < s; ++i) c += freq[i];
    return c;
  }
  void Update(uint32_t s) {
    freq[s] += kFreqIncrement;
    total += kFreqIncrement;
    if (total > kFreqLimit) Rescale();
  }
  void Rescale();
};

constexpr uint32_t kRangeTop = 1u << 24;
constexpr uint32_t kRangeBottom = 1u << 16;

// Carry-less range decoder over the bit stream's 8-bit fields.
struct RangeDecoder {
  uint32_t low;
  uint32_t range;
  uint32_t code;
  FrequencyModel models[4];

  void Start(PackedInput* in);
  // The next symbol of model m, or -1 when the code lies outside the model
  // (corrupt data).
  int32_t Decode(uint32_t m, PackedInput* in);
};

constexpr uint32_t kModelBlockMax = 32767;

// The parts of a model block that persist between blocks (all reset per block).
struct ModelBlockDecoder {
  RangeDecoder coder;
  PredictorSet predictors;
};

// Reads a model block after its kind bit: its fields, the range-coded and
// plain bytes, then undoes the prediction. Writes *count (at most 32767)
// bytes to dest. False on corrupt data.
bool ReadModelBlock(ModelBlockDecoder* m, PackedInput* in, uint8_t* dest, uint32_t* count);

// The per-entry delta output filter: an unfiltered header of headerLength
// bytes, then the predictor set's Run over every chunk.
struct DeltaFilter {
  uint32_t channels;
  uint32_t kind;
  bool active;
  bool headerPhase;
  uint32_t headerLength;
  uint32_t bytesSeen;
  PredictorSet predictors;

  void Clear() {
    active = false;
    headerPhase = false;
    channels = kind = headerLength = bytesSeen = 0;
  }
  void Setup(uint32_t kind, uint32_t channels, uint32_t headerLength);
  void FilterChunk(uint8_t* data, uint32_t n);
  // The writer's direction, with the same chunk rules.
  void ForwardChunk(uint8_t* data, uint32_t n);
};

// The x86 call filter of one chunk (decoder direction); *pos counts the
// entry's bytes that have passed it.
void X86CallFilter(uint8_t* data, uint32_t n, uint32_t* pos, uint32_t size);
// The same filter on its way from src to dst (which may be src), so that a
// chunk leaving the window is read once.
void X86CallFilterCopy(const uint8_t* src, uint8_t* dst, uint32_t n, uint32_t* pos,
                       uint32_t size);

}  // namespace tvk

#endif
