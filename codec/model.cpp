// Delta predictors, the order-0 range decoder, model blocks and the two
// output filters of the LZ stream.
#include "codec/model.h"

#include <string.h>

#include "common/bytes.h"

namespace tvk {

namespace {

uint32_t UsedBins(const uint32_t* hist) {
  uint32_t used = 0;
  for (uint32_t i = 0; i < 256; ++i) used += hist[i] != 0;
  return used;
}

}  // namespace

void BytePredictor::Reset(uint32_t initialMode) {
  memset(this, 0, sizeof(*this));
  mode = initialMode;
  mask = 255;
}

void BytePredictor::Decide() {
  uint32_t best = 0;
  uint32_t bestUsed = UsedBins(hist[0]);
  for (uint32_t k = 1; k < 5; ++k) {
    uint32_t used = UsedBins(hist[k]);
    if (used < bestUsed) {
      best = k;
      bestUsed = used;
    }
  }
  // A choice that holds is checked less and less often; a change restarts at
  // twice the first period.
  mask = best == mode ? (2 * mask + 1) & 4095 : 511;
  mode = best;
  memset(hist, 0, sizeof(hist));
}

void WordPredictor::Reset(uint32_t initialMode) {
  memset(this, 0, sizeof(*this));
  mode = initialMode;
  mask = 255;
}

void WordPredictor::Decide() {
  uint32_t best = 0;
  uint32_t bestScore = 0xFFFFFFFFu;
  for (uint32_t k = 0; k < 3; ++k) {
    uint32_t score = UsedBins(hist[2 * k]) + UsedBins(hist[2 * k + 1]);
    if (score < bestScore) {
      best = k;
      bestScore = score;
    }
  }
  mode = best;
  memset(hist, 0, sizeof(hist));
}

void PredictorSet::Reset(uint32_t kind, uint32_t initialMode) {
  if (kind == 0) {
    for (BytePredictor& p : bytes) p.Reset(initialMode);
  } else if (kind == 1) {
    word.Reset(initialMode);
  }
}

void PredictorSet::Run(uint32_t kind, uint32_t channels, uint8_t* data, size_t n) {
  if (kind == 1) {
    for (size_t i = 0; i + 1 < n; i += 2) StoreU16(data + i, word.Step(LoadU16(data + i)));
  } else if (kind == 0 && channels >= 1 && channels <= 4) {
    size_t whole = n - n % channels;
    if (channels == 1) {
      BytePredictor& p = bytes[0];
      for (size_t i = 0; i < whole; ++i) data[i] = p.Step(data[i]);
      return;
    }
    for (size_t i = 0; i < whole; i += channels) {
      for (uint32_t c = 0; c < channels; ++c) data[i + c] = bytes[c].Step(data[i + c]);
    }
  }
}

void PredictorSet::Forward(uint32_t kind, uint32_t channels, uint8_t* data, size_t n) {
  if (kind == 1) {
    for (size_t i = 0; i + 1 < n; i += 2) StoreU16(data + i, word.Forward(LoadU16(data + i)));
  } else if (kind == 0 && channels >= 1 && channels <= 4) {
    size_t whole = n - n % channels;
    for (size_t i = 0; i < whole; i += channels) {
      for (uint32_t c = 0; c < channels; ++c) data[i + c] = bytes[c].Forward(data[i + c]);
    }
  }
}

uint32_t FrequencyModel::Find(uint32_t v, uint32_t* cum) const {
  // Search from whichever end of the alphabet is nearer to v.
  if (v < total / 2) {
    uint32_t c = 0;
    uint32_t s = 0;
    while (c + freq[s] <= v) c += freq[s++];
    *cum = c;
    return s;
  }
  uint32_t c = total;
  uint32_t s = 256;
  do {
    c -= freq[--s];
  } while (c > v);
  *cum = c;
  return s;
}

void FrequencyModel::Rescale() {
  total = 0;
  for (uint32_t& f : freq) {
    f -= f / 2;
    total += f;
  }
}

void RangeDecoder::Start(PackedInput* in) {
  low = 0;
  range = 0xFFFFFFFFu;
  code = 0;
  for (int i = 0; i < 4; ++i) code = code << 8 | in->ReadByte();
}

int32_t RangeDecoder::Decode(uint32_t m, PackedInput* in) {
  FrequencyModel& model = models[m];
  uint32_t r = range / model.total;
  uint32_t v = (code - low) / r;
  if (v >= model.total) return -1;
  uint32_t cum;
  uint32_t s = model.Find(v, &cum);
  low += cum * r;
  range = r * model.freq[s];
  for (;;) {
    if ((low ^ (low + range)) >= kRangeTop) {
      if (range >= kRangeBottom) break;
      range = (0u - low) & (kRangeBottom - 1);
      // With low on a 64 KiB boundary the range collapses to nothing and no
      // number of shifts would restore it: only corrupt data gets here.
      if (range == 0) return -1;
    }
    code = code << 8 | in->ReadByte();
    range <<= 8;
    low <<= 8;
  }
  model.Update(s);
  return static_cast<int32_t>(s);
}

bool ReadModelBlock(ModelBlockDecoder* m, PackedInput* in, uint8_t* dest, uint32_t* count) {
  uint32_t kind = in->ReadBits(1);
  uint32_t mode = in->ReadBits(3);
  uint32_t channels = in->ReadBits(2) + 1;
  uint32_t models = in->ReadBits(2) + 1;
  uint32_t n = in->ReadBits(15);
  *count = 0;
  RangeDecoder& rc = m->coder;
  for (FrequencyModel& f : rc.models) f.Reset();
  rc.Start(in);
  uint32_t coded = n - n % models;
  for (uint32_t i = 0; i < coded; ++i) {
    int32_t s = rc.Decode(i % models, in);
    if (s < 0) return false;
    dest[i] = static_cast<uint8_t>(s);
  }
  for (uint32_t i = coded; i < n; ++i) dest[i] = static_cast<uint8_t>(in->ReadByte());
  m->predictors.Reset(kind, mode);
  m->predictors.Run(kind, channels, dest, n);
  *count = n;
  return true;
}

void DeltaFilter::Setup(uint32_t k, uint32_t c, uint32_t header) {
  kind = k;
  channels = c;
  headerLength = header;
  bytesSeen = 0;
  active = true;
  headerPhase = true;
  predictors.Reset(kind, 0);
}

void DeltaFilter::FilterChunk(uint8_t* data, uint32_t n) {
  if (n == 0 || !active) return;
  if (headerPhase) {
    if (uint64_t(headerLength) < uint64_t(n) + bytesSeen) {
      headerPhase = false;
      uint32_t skip = headerLength - bytesSeen;
      predictors.Run(kind, channels, data + skip, n - skip);
    } else {
      bytesSeen += n;
    }
    return;
  }
  predictors.Run(kind, channels, data, n);
}

void DeltaFilter::ForwardChunk(uint8_t* data, uint32_t n) {
  if (n == 0 || !active) return;
  if (headerPhase) {
    if (uint64_t(headerLength) < uint64_t(n) + bytesSeen) {
      headerPhase = false;
      uint32_t skip = headerLength - bytesSeen;
      predictors.Forward(kind, channels, data + skip, n - skip);
    } else {
      bytesSeen += n;
    }
    return;
  }
  predictors.Forward(kind, channels, data, n);
}

void X86CallFilterCopy(const uint8_t* src, uint8_t* dst, uint32_t n, uint32_t* pos,
                       uint32_t size) {
  uint32_t i = 0;
  if (n >= 256) {
    const int32_t fileSize = static_cast<int32_t>(size);
    const uint32_t limit = n - 7;
    while (i < limit) {
      // Eight bytes at a time past stretches without 0xE8 (a zero byte in
      // the xor-ed word shows one); the bytes checked one by one stay the
      // same as in a plain byte loop. The word goes out as it came even
      // when it holds one: the call's operand is stored again below.
      while (i + 8 <= limit) {
        uint64_t w;
        memcpy(&w, src + i, 8);
        memcpy(dst + i, &w, 8);
        w ^= 0xE8E8E8E8E8E8E8E8ull;
        if (((w - 0x0101010101010101ull) & ~w & 0x8080808080808080ull) != 0) break;
        i += 8;
      }
      const uint8_t b = src[i];
      dst[i] = b;
      if (b != 0xE8) {
        ++i;
        continue;
      }
      // Only original bytes are read: an operand once converted is skipped.
      int32_t v = static_cast<int32_t>(LoadU32(src + i + 1));
      int32_t p = static_cast<int32_t>(*pos + i);
      if (v != INT32_MIN && v != INT32_MAX) {
        if (v > 0 && v < fileSize) {
          v = static_cast<int32_t>(static_cast<uint32_t>(v) - uint32_t(p));
        } else if (v < 0 && -v < p) {
          v = static_cast<int32_t>(static_cast<uint32_t>(v) + uint32_t(fileSize));
        }
      }
      StoreU32(dst + i + 1, static_cast<uint32_t>(v));
      i += 5;
    }
  }
  if (src != dst) memcpy(dst + i, src + i, n - i);
  *pos += n;
}

void X86CallFilter(uint8_t* data, uint32_t n, uint32_t* pos, uint32_t size) {
  X86CallFilterCopy(data, data, n, pos, size);
}

}  // namespace tvk
