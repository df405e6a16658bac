// Method 5: lossless PCM sound. A raw head, the samples, a raw tail. 8-bit
// samples are Huffman-coded residual bytes of an adaptive choice among six
// polynomial predictors; 16-bit samples come in blocks of up to 384 with
// Rice-coded residuals, one of five predictors and, in stereo, a channel
// decorrelation per block.
#include <string.h>

#include "codec/audio_predictor.h"
#include "codec/decode.h"
#include "codec/local_bits.h"
#include "codec/prefix_table.h"
#include "common/bytes.h"
#include "crypto/crc32.h"
#include "platform/platform.h"
#include "platform/result_codes.h"

namespace tvk {

namespace {

constexpr uint32_t kOutBytes = 36864;
constexpr uint32_t kMaxBlock = 384;
constexpr uint32_t kParamBytes = 18;
constexpr uint32_t kSampleSymbols = 258;
constexpr uint32_t kSampleWidth = 15;
constexpr uint32_t kPreSymbols = 19;
constexpr uint32_t kPreWidth = 7;

// The samples last output, carried from block to block.
struct WordState {
  uint32_t h1, h2, h3;
  uint32_t type;
};

}  // namespace

struct AudioDecoder {
  uint8_t out[kOutBytes];
  uint32_t fill;
  int32_t res1[kMaxBlock], smp1[kMaxBlock], res2[kMaxBlock], smp2[kMaxBlock];
  PrefixTable preCode, tableA, tableB;
  uint8_t params[kParamBytes];
  uint32_t blockLeft;
  AudioBytePredictor pred[2];
  WordState word[2];
};

namespace {

void SetError(EntryIo& io, uint32_t code) {
  if (*io.error == 0) *io.error = code;
}

// Hands the buffer to the output and the CRC; sample pieces also report
// progress. A buffer filled from far past the end of the packed data is
// corrupt and goes nowhere; after any error the entry is lost anyway.
void Flush(AudioDecoder* d, EntryIo& io, bool progress) {
  uint32_t n = d->fill;
  d->fill = 0;
  if (n == 0 || *io.error) return;
  if (io.input->Overrun()) {
    SetError(io, kErrData);
    return;
  }
  io.sink->Write(d->out, n);
  io.state->crc = Crc32(io.state->crc, d->out, n);
  if (progress) io.sink->Progress(n);
}

void CopyRaw(AudioDecoder* d, EntryIo& io, uint32_t length) {
  PackedInput* in = io.input;
  while (length != 0 && *io.error == 0) {
    uint32_t piece = length < kOutBytes ? length : kOutBytes;
    for (uint32_t i = 0; i < piece; ++i) d->out[i] = static_cast<uint8_t>(in->ReadByte());
    d->fill = piece;
    Flush(d, io, false);
    length -= piece;
  }
}

// Symbols 256 and 257 belong to no byte; valid data never sends them.
bool DecodeSampleByte(const PrefixTable* t, PackedInput* in, uint32_t* x) {
  uint32_t e = Lookup(t, in->Window());
  uint32_t sym = LookupSymbol(e);
  if (sym > 255) return false;
  in->Skip(LookupLength(e));
  *x = sym;
  return true;
}

void Emit(AudioDecoder* d, EntryIo& io, uint8_t b) {
  d->out[d->fill++] = b;
  if (d->fill == kOutBytes) Flush(d, io, true);
}

void Decode8(AudioDecoder* d, EntryIo& io, bool stereo, uint32_t sampleBytes) {
  PackedInput* in = io.input;
  ResetAudioBytePredictor(&d->pred[0], stereo ? 511 : 1023);
  ResetAudioBytePredictor(&d->pred[1], stereo ? 511 : 1023);
  d->blockLeft = 0;
  bool paired = false;
  uint32_t channel = 0;
  while (*io.error == 0 && sampleBytes != 0) {
    if (d->blockLeft == 0) {
      if (in->Overrun()) {
        SetError(io, kErrData);
        break;
      }
      d->blockLeft = in->ReadBits(14);
      paired = stereo && in->ReadBits(1) != 0;
      if (!ReadPreCode(&d->preCode, in) ||
          !ReadPreCodedLengths(&d->tableA, &d->preCode, in) ||
          (paired && !ReadPreCodedLengths(&d->tableB, &d->preCode, in))) {
        SetError(io, kErrData);
        break;
      }
      channel = 0;
    }
    uint32_t x;
    if (!DecodeSampleByte(&d->tableA, in, &x)) {
      SetError(io, kErrData);
      break;
    }
    // A zero block length runs on until the samples are done.
    d->blockLeft -= 1;
    Emit(d, io, UnpredictAudioByte(&d->pred[channel], x));
    sampleBytes -= 1;
    if (stereo && !paired) channel ^= 1;
    if (paired) {
      // A pair needs two bytes; one left over means the count is wrong.
      if (sampleBytes == 0 || !DecodeSampleByte(&d->tableB, in, &x)) {
        SetError(io, kErrData);
        break;
      }
      Emit(d, io, UnpredictAudioByte(&d->pred[1], x));
      sampleBytes -= 1;
    }
  }
  Flush(d, io, true);
}

// One block of one channel: predictor type, Rice parameter, n signed values.
// False when the stream has run out inside a run of zero bits.
bool ReadResiduals(WordState* s, int32_t* res, uint32_t n, PackedInput* input) {
  LocalBits in(input);
  s->type = in.Bits(3);
  const uint32_t k = in.Bits(4);
  for (uint32_t i = 0; i < n; ++i) {
    // Sign, quotient and remainder mostly fit in the 32 bits at hand: one
    // look and one skip for the whole value. Without a 1 behind the sign
    // the low bit set here makes q 31, too long for that path.
    const uint32_t w = in.Window();
    const uint32_t q = static_cast<uint32_t>(__builtin_clz(w << 1 | 1));
    uint32_t v;
    if (q + 2 + k <= 32) {
      const uint32_t rest = w << (q + 1) << 1;
      v = q << k | static_cast<uint32_t>(uint64_t(rest) >> (32 - k));
      in.Skip(q + 2 + k);
    } else {
      in.Skip(1);
      v = 0;
      for (;;) {
        uint32_t z = in.Window();
        if (z != 0) {
          uint32_t zeros = static_cast<uint32_t>(__builtin_clz(z));
          v += zeros;
          in.Skip(zeros + 1);
          break;
        }
        v += 32;
        in.Skip(32);
        if (in.Overrun()) return false;
      }
      v = (v << k) | in.Bits(k);
    }
    res[i] = static_cast<int32_t>(AudioApplySign(v, 0u - (w >> 31)));
  }
  return true;
}

// One loop per predictor type, so that the type's rule is the loop body
// rather than a switch taken for every sample.
template <uint32_t kType>
void PredictAs(AudioWordHistory& w, const int32_t* res, int32_t* smp, uint32_t n) {
  // Types 5..7 are never written; they give silence whatever residuals came.
  const uint32_t keep = kType <= 4 ? ~0u : 0u;
  for (uint32_t i = 0; i < n; ++i) {
    int32_t f = res[i];
    uint32_t b = AudioWordPrediction(kType, w) + (static_cast<uint32_t>(f) & keep);
    AdvanceAudioWordHistory(kType, &w, b, f);
    smp[i] = static_cast<int32_t>(b);
  }
}

void Predict(WordState* st, const int32_t* res, int32_t* smp, uint32_t n) {
  AudioWordHistory w = {st->h1, st->h2, st->h3, 0, 0};
  switch (st->type) {
    case 0: PredictAs<0>(w, res, smp, n); break;
    case 1: PredictAs<1>(w, res, smp, n); break;
    case 2: PredictAs<2>(w, res, smp, n); break;
    case 3: PredictAs<3>(w, res, smp, n); break;
    case 4: PredictAs<4>(w, res, smp, n); break;
    default: PredictAs<5>(w, res, smp, n); break;
  }
  st->h1 = w.h1;
  st->h2 = w.h2;
  st->h3 = w.h3;
}

void Decode16(AudioDecoder* d, EntryIo& io, bool stereo, uint32_t sampleBytes) {
  PackedInput* in = io.input;
  memset(d->word, 0, sizeof(d->word));
  uint32_t frameBytes = stereo ? 4 : 2;
  while (*io.error == 0 && sampleBytes >= 4) {
    if (in->Overrun()) {
      SetError(io, kErrData);
      break;
    }
    uint32_t isExplicit = in->ReadBits(1);
    uint32_t stereoMode = in->ReadBits(2);
    uint32_t n = isExplicit ? in->ReadBits(11) : kMaxBlock;
    uint32_t bytes = n * frameBytes;
    if (n > kMaxBlock || bytes > sampleBytes) {
      SetError(io, kErrData);
      break;
    }
    sampleBytes -= bytes;
    if (!ReadResiduals(&d->word[0], d->res1, n, in) ||
        (stereo && !ReadResiduals(&d->word[1], d->res2, n, in))) {
      SetError(io, kErrData);
      break;
    }
    Predict(&d->word[0], d->res1, d->smp1, n);
    if (stereo) Predict(&d->word[1], d->res2, d->smp2, n);
    if (d->fill + bytes > kOutBytes) {
      Flush(d, io, true);
      if (*io.error) break;
    }
    uint8_t* p = d->out + d->fill;
    if (!stereo) {
      for (uint32_t i = 0; i < n; ++i, p += 2) StoreU16(p, uint32_t(d->smp1[i]));
    } else if (stereoMode == 1 || stereoMode == 2) {
      // Right is Y less half of X; left is X plus right, or plus half of it.
      const uint32_t half = stereoMode == 1 ? 0 : 1;
      for (uint32_t i = 0; i < n; ++i, p += 4) {
        int32_t x = d->smp1[i], y = d->smp2[i];
        int32_t right = static_cast<int32_t>(static_cast<uint32_t>(y) -
                                             static_cast<uint32_t>(x >> 1));
        uint32_t left = static_cast<uint32_t>(x) + static_cast<uint32_t>(right >> half);
        StoreU16(p, left);
        StoreU16(p + 2, uint32_t(right));
      }
    } else {
      for (uint32_t i = 0; i < n; ++i, p += 4) {
        StoreU16(p, uint32_t(d->smp1[i]));
        StoreU16(p + 2, uint32_t(d->smp2[i]));
      }
    }
    d->fill += bytes;
  }
  Flush(d, io, true);
}

}  // namespace

AudioDecoder* CreateAudioDecoder() {
  AudioDecoder* d = New<AudioDecoder>();
  if (!d) return nullptr;
  if (!InitTable(&d->preCode, kPreSymbols, kPreWidth) ||
      !InitTable(&d->tableA, kSampleSymbols, kSampleWidth) ||
      !InitTable(&d->tableB, kSampleSymbols, kSampleWidth)) {
    DestroyAudioDecoder(d);
    return nullptr;
  }
  return d;
}

void DestroyAudioDecoder(AudioDecoder* d) {
  if (!d) return;
  FreeTable(&d->preCode);
  FreeTable(&d->tableA);
  FreeTable(&d->tableB);
  Delete(d);
}

void DecodeAudioEntry(AudioDecoder* d, EntryIo& io) {
  if (*io.error) return;
  PackedInput* in = io.input;
  in->Start();
  if (*io.error) return;
  d->fill = 0;
  d->blockLeft = 0;
  // The record is not output, but the entry's CRC covers it.
  for (uint32_t i = 0; i < kParamBytes; ++i) d->params[i] = static_cast<uint8_t>(in->ReadByte());
  io.state->crc = Crc32(io.state->crc, d->params, kParamBytes);
  uint32_t headLength = LoadU32(d->params);
  uint32_t tailLength = LoadU32(d->params + 4);
  uint32_t sampleBytes = LoadU32(d->params + 8);
  bool stereo = d->params[12] == 2;
  bool wide = d->params[13] == 16;

  CopyRaw(d, io, headLength);
  if (*io.error) return;
  if (wide) {
    Decode16(d, io, stereo, sampleBytes);
  } else {
    Decode8(d, io, stereo, sampleBytes);
  }
  if (*io.error) return;
  CopyRaw(d, io, tailLength);
}

}  // namespace tvk
