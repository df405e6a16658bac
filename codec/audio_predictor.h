// The predictors of the lossless sound method, written once for the
// decoder and the encoder: a stored value only means something when both
// sides run the very same update after every sample. Header-only and free
// of the C++ library so that the self-extractor and the writer include it
// alike.
#ifndef TVK_CODEC_AUDIO_PREDICTOR_H
#define TVK_CODEC_AUDIO_PREDICTOR_H

#include <stdint.h>
#include <string.h>

namespace tvk {

// ---- 8-bit samples -------------------------------------------------------

// An adaptive choice among six polynomial rules over the last four bytes.
// Every mask + 1 bytes the rule whose stored bytes used the fewest distinct
// values takes over.
struct AudioBytePredictor {
  int32_t h1, h2, h3, h4;  // last output bytes, 0..255
  uint32_t mode;
  uint32_t mask;
  uint32_t counter;
  uint32_t hist[6][256];
};

static inline void ResetAudioBytePredictor(AudioBytePredictor* p, uint32_t mask) {
  memset(p, 0, sizeof(*p));
  p->mask = mask;
}

static inline void AudioBytePredictions(const AudioBytePredictor* p, uint32_t pr[6]) {
  const int32_t h1 = p->h1, h2 = p->h2, h3 = p->h3, h4 = p->h4;
  pr[0] = 0;
  pr[1] = static_cast<uint32_t>(h1);
  pr[2] = static_cast<uint32_t>(2 * h1 - h2);
  pr[3] = static_cast<uint32_t>(3 * h1 - 3 * h2 + h3);
  pr[4] = static_cast<uint32_t>((4 * h1 - 3 * h2 + h3) >> 1);
  pr[5] = static_cast<uint32_t>(4 * h1 + 6 * h2 - 4 * h3 + h4);
}

// The update after output byte b, with pr the predictions made before it.
static inline void AdvanceAudioBytePredictor(AudioBytePredictor* p, const uint32_t pr[6], uint32_t b) {
  // Count, for every rule, the byte that rule would have had to store.
  ++p->hist[0][b];
  for (uint32_t k = 1; k < 6; ++k) ++p->hist[k][(pr[k] - b) & 255];
  p->h4 = p->h3;
  p->h3 = p->h2;
  p->h2 = p->h1;
  p->h1 = static_cast<int32_t>(b);
  if ((p->counter & p->mask) == p->mask) {
    // Counted here rather than per sample: a branch per histogram update
    // costs more than one pass over the bins every few hundred samples.
    uint32_t best = 0, bestUsed = 257;
    for (uint32_t k = 0; k < 6; ++k) {
      uint32_t used = 0;
      for (uint32_t v = 0; v < 256; ++v) used += p->hist[k][v] != 0;
      if (used < bestUsed) best = k, bestUsed = used;
    }
    p->mode = best;
    memset(p->hist, 0, sizeof(p->hist));
  }
  ++p->counter;
}

// Decoding: the output byte for stored byte x.
static inline uint8_t UnpredictAudioByte(AudioBytePredictor* p, uint32_t x) {
  uint32_t pr[6];
  AudioBytePredictions(p, pr);
  uint32_t b;
  if (p->mode == 0) {
    b = x & 255;
  } else if (p->mode <= 5) {
    b = (pr[p->mode] - x) & 255;
  } else {
    b = 0;
  }
  AdvanceAudioBytePredictor(p, pr, b);
  return static_cast<uint8_t>(b);
}

// Encoding: the byte to store for output byte b.
static inline uint8_t PredictAudioByte(AudioBytePredictor* p, uint8_t b) {
  uint32_t pr[6];
  AudioBytePredictions(p, pr);
  const uint32_t x = p->mode == 0 ? b : (pr[p->mode] - b) & 255;
  AdvanceAudioBytePredictor(p, pr, b);
  return static_cast<uint8_t>(x);
}

// ---- 16-bit samples ------------------------------------------------------

// One channel's state within a block of samples. h1..h3 carry over from
// block to block; r and s, the last two residuals, start each block at 0.
// Signed 32-bit arithmetic that wraps, done on unsigned values.
struct AudioWordHistory {
  uint32_t h1, h2, h3;
  int32_t r, s;
};

// All mask arithmetic: the signs of residuals are as good as random, so
// branches on them would mostly be mispredicted.
static inline uint32_t AudioSignMask(int32_t r) { return static_cast<uint32_t>(r >> 31); }

// -m when the mask is all ones, m when it is zero.
static inline uint32_t AudioApplySign(uint32_t m, uint32_t signMask) { return (m ^ signMask) - signMask; }

static inline uint32_t AudioMagnitude(int32_t r) {
  return AudioApplySign(static_cast<uint32_t>(r), AudioSignMask(r));
}

// Residual feedback: half the last residual, three quarters when the one
// before it went the same way (both nonzero, same sign).
static inline uint32_t AudioFeedback(int32_t r, int32_t s) {
  const uint32_t a = AudioMagnitude(r);
  const uint32_t same = s != 0 && (r ^ s) >= 0 ? ~0u : 0u;
  const uint32_t m = (a >> 1) + ((a >> 2) & same);
  return AudioApplySign(m, AudioSignMask(r));
}

// The prediction of predictor type 0..4 for the next sample; the sample is
// the prediction plus its residual. Types 5..7 predict silence.
static inline uint32_t AudioWordPrediction(uint32_t type, const AudioWordHistory& w) {
  switch (type) {
    case 0: {
      return w.h1 + AudioApplySign(AudioMagnitude(w.r) >> 4, AudioSignMask(w.r));
    }
    case 1:
      return w.h1 + AudioFeedback(w.r, w.s);
    case 2:
      return 2 * w.h1 - w.h2 + AudioFeedback(w.r, w.s);
    case 3:
      return 3 * w.h1 - 3 * w.h2 + w.h3;
    case 4:
      return static_cast<uint32_t>(static_cast<int32_t>(4 * w.h1 - 3 * w.h2 + w.h3) >> 1) +
             AudioFeedback(w.r, w.s);
    default:
      return 0;
  }
}

static inline void AdvanceAudioWordHistory(uint32_t type, AudioWordHistory* w, uint32_t sample,
                                    int32_t residual) {
  // Type 3 has no feedback; type 0 reads r only, so s may run along.
  if (type != 3) {
    w->s = w->r;
    w->r = residual;
  }
  w->h3 = w->h2;
  w->h2 = w->h1;
  w->h1 = sample;
}

}  // namespace tvk

#endif
