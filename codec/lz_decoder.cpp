// The LZ decoder of methods 1 to 4: a sliding window fed by canonical prefix
// codes, a four-entry distance cache, optional two-table context, model
// blocks, and output through the delta and x86 call filters.
#include <string.h>

#include "codec/decode.h"
#include "codec/local_bits.h"
#include "codec/lz_alphabet.h"
#include "codec/model.h"
#include "codec/prefix_table.h"
#include "crypto/crc32.h"
#include "platform/result_codes.h"

namespace tvk {

using namespace lz;

namespace {

constexpr uint32_t kMaxWindow = 4u << 20;
constexpr uint32_t kMinWindow = 32u << 10;
// A model block is written contiguously from pos, which may lie just below
// the window end; the buffers keep room for a whole block beyond it.
constexpr uint32_t kBufferBytes = kMaxWindow + 32768;

// Symbol batches between checks of progress and overrun.
constexpr uint32_t kBatch = 1024;

// The most an entry's decoding can write beyond its unpacked size: the loop
// stops only between symbols and blocks, so one whole match or model block
// may run past the end.
constexpr uint32_t kOvershoot = kModelBlockMax > kLongestMatch ? kModelBlockMax : kLongestMatch;

}  // namespace

struct LzDecoder {
  uint8_t* window;
  uint8_t* staging;
  uint32_t windowSize;
  uint32_t pos;
  uint32_t flushedPos;
  // Symbols left in the block. A header count of 0 gives a block that lasts
  // 2^32 symbols, in effect the rest of the entry.
  uint64_t symbolsLeft;
  uint32_t distCache[4];
  uint32_t matchCount;
  uint32_t lastLength;
  uint32_t lastDistance;
  PrefixTable preCode;
  PrefixTable mainA;
  PrefixTable mainB;
  PrefixTable repeat;
  PrefixTable dist;
  uint32_t distBase[kDistSymbols];
  uint32_t distExtra[kDistSymbols];
  uint32_t distCount;
  bool twoTables;
  uint32_t threshold;
  uint32_t prev;
  bool x86;
  ModelBlockDecoder model;
  DeltaFilter filter;
  EntryIo* io;
  // The solid state an entry began from (SaveLzSolidState): the fields, and
  // the window bytes from pos on that the entry may overwrite, followed by
  // those past the window end that a model block may spill into.
  uint8_t* saved;
  bool held;
  uint32_t savedWindowSize;
  uint32_t savedStart;
  uint32_t savedLength;
  uint32_t savedTail;
  uint32_t savedPos;
  uint32_t savedFlushedPos;
  uint32_t savedDistCache[4];
  uint32_t savedMatchCount;
  uint32_t savedLastLength;
  uint32_t savedLastDistance;
};

namespace {

void ChooseDistanceTable(LzDecoder* d) {
  const uint32_t e = DistanceTopExtra(d->windowSize);
  d->distCount = DistanceCodeCount(e);
  for (uint32_t code = 0; code < kDistSymbols; ++code) {
    const DistanceCode c = DistanceCodeOf(code, e);
    d->distBase[code] = c.base;
    d->distExtra[code] = c.extra;
  }
}


// One chunk through the filters to the sink and the CRC. Never more than the
// entry's remaining size leaves, so a stream that overshoots cannot grow the
// file.
void Output(LzDecoder* d, const uint8_t* data, uint32_t n) {
  DecodeState* st = d->io->state;
  if (st->bytesToWrite <= 0 || n == 0) return;
  if (uint64_t(n) > uint64_t(st->bytesToWrite)) n = static_cast<uint32_t>(st->bytesToWrite);
  const uint8_t* out = data;
  if (d->filter.active) {
    memcpy(d->staging, data, n);
    d->filter.FilterChunk(d->staging, n);
    if (d->x86) X86CallFilter(d->staging, n, &st->e8Pos, st->e8Size);
    out = d->staging;
  } else if (d->x86) {
    X86CallFilterCopy(data, d->staging, n, &st->e8Pos, st->e8Size);
    out = d->staging;
  }
  uint32_t before = *d->io->error;
  d->io->sink->Write(out, n);
  st->bytesToWrite -= n;
  if (*d->io->error != before) return;
  st->crc = Crc32(st->crc, out, n);
}

// Hands out the bytes between flushedPos and pos. A flushedPos at the window
// end means everything before it is out, so new bytes start at 0.
void Flush(LzDecoder* d) {
  if (d->io->state->bytesToWrite <= 0) return;
  uint32_t start = d->flushedPos == d->windowSize ? 0 : d->flushedPos;
  if (d->pos < start) {
    Output(d, d->window + start, d->windowSize - start);
    Output(d, d->window, d->pos);
  } else {
    Output(d, d->window + start, d->pos - start);
  }
  d->flushedPos = d->pos;
}

// A match that reaches back before the window start or runs into its end:
// one byte at a time through the mask, flushing whenever the window fills.
// Rare, so kept out of the symbol loop.
__attribute__((noinline)) void CopyWrapping(LzDecoder* d, uint32_t length, uint32_t distance) {
  uint8_t* w = d->window;
  const uint32_t mask = d->windowSize - 1;
  uint32_t pos = d->pos;
  while (length--) {
    w[pos] = w[(pos - distance) & mask];
    if (++pos == d->windowSize) {
      d->pos = pos;
      Flush(d);
      pos = 0;
    }
  }
  d->pos = pos;
}

__attribute__((always_inline)) inline void Move8(uint8_t* dst, const uint8_t* src) {
  uint64_t v;
  memcpy(&v, src, 8);
  memcpy(dst, &v, 8);
}

// length bytes, sizeof(T) <= length <= 2 * sizeof(T), as two fixed-size moves
// that may overlap each other and never touch a byte beyond the range.
template <typename T>
__attribute__((always_inline)) inline void CopyEnds(uint8_t* dst, const uint8_t* src, uint32_t length) {
  T a, b;
  memcpy(&a, src, sizeof(T));
  memcpy(&b, src + length - sizeof(T), sizeof(T));
  memcpy(dst, &a, sizeof(T));
  memcpy(dst + length - sizeof(T), &b, sizeof(T));
}

// Bytes a stored 8-byte pattern of period d can advance and stay in phase.
const uint8_t kPatternStep[8] = {0, 8, 8, 6, 8, 5, 6, 7};

// Copies between ranges that do not overlap: fixed-size moves that overlap
// each other rather than a call.
__attribute__((always_inline)) inline void CopyApart(uint8_t* dst, const uint8_t* src,
                                                     uint32_t length) {
  if (length > 16) {
    while (length > 16) {
      Move8(dst, src);
      Move8(dst + 8, src + 8);
      dst += 16;
      src += 16;
      length -= 16;
    }
    Move8(dst + length - 16, src + length - 16);
    Move8(dst + length - 8, src + length - 8);
  } else if (length >= 8) {
    CopyEnds<uint64_t>(dst, src, length);
  } else if (length >= 4) {
    CopyEnds<uint32_t>(dst, src, length);
  } else if (length >= 2) {
    CopyEnds<uint16_t>(dst, src, length);
  } else if (length == 1) {
    *dst = *src;
  }
}

// A match that lies wholly inside the window, 1 <= distance <= its position.
// Wide moves, but never a byte written past the match: the bytes beyond it
// are still history that later matches may reach.
__attribute__((always_inline)) inline void CopyInside(uint8_t* dst, uint32_t length,
                                                      uint32_t distance) {
  const uint8_t* src = dst - distance;
  if (distance >= length) {
    CopyApart(dst, src, length);
  } else if (distance >= 8) {
    // Each 8-byte step reads only bytes already written; so does the last
    // one, which ends exactly at the match end.
    while (length > 8) {
      Move8(dst, src);
      dst += 8;
      src += 8;
      length -= 8;
    }
    Move8(dst + length - 8, src + length - 8);
  } else {
    // A short period (runs of one byte, two-byte patterns...): one period
    // spread over eight bytes, stored at steps that keep it in phase.
    if (length >= 8) {
      uint8_t pattern[8];
      for (uint32_t k = 0; k < 8; ++k) pattern[k] = k < distance ? src[k] : pattern[k - distance];
      uint64_t v;
      memcpy(&v, pattern, 8);
      const uint32_t step = kPatternStep[distance];
      do {
        memcpy(dst, &v, 8);
        dst += step;
        length -= step;
      } while (length >= 8);
    }
    while (length--) {
      *dst = *(dst - distance);
      ++dst;
    }
  }
}

enum class Header { kLz, kModel, kBad };

Header ReadBlockHeader(LzDecoder* d, PackedInput* in, uint32_t* modelBytes) {
  if (in->ReadBits(1)) {
    return ReadModelBlock(&d->model, in, d->window + d->pos, modelBytes) ? Header::kModel
                                                                         : Header::kBad;
  }
  d->symbolsLeft = in->ReadBits(15);
  if (d->symbolsLeft == 0) d->symbolsLeft = uint64_t(1) << 32;
  d->twoTables = in->ReadBits(1) != 0;
  bool ok;
  if (d->twoTables) {
    d->threshold = in->ReadBits(9);
    ok = ReadPreCode(&d->preCode, in) && ReadPreCodedLengths(&d->mainA, &d->preCode, in) &&
         ReadPreCodedLengths(&d->mainB, &d->preCode, in) && ReadDeltaLengths(&d->repeat, in) &&
         ReadDeltaLengths(&d->dist, in);
  } else if (in->ReadBits(1) == 0) {
    ok = ReadPreCode(&d->preCode, in) && ReadPreCodedLengths(&d->mainA, &d->preCode, in) &&
         ReadPreCodedLengths(&d->repeat, &d->preCode, in) &&
         ReadPreCodedLengths(&d->dist, &d->preCode, in);
  } else {
    ok = ReadDeltaLengths(&d->mainA, in) && ReadDeltaLengths(&d->repeat, in) &&
         ReadDeltaLengths(&d->dist, in);
  }
  d->prev = d->threshold;
  return ok ? Header::kLz : Header::kBad;
}

// Decodes up to `limit` symbols of the current block, stopping early once
// `remaining` bytes are made. Returns the bytes produced; false in *ok on
// corrupt data. Everything the loop touches per symbol lives in locals:
// every byte stored into the window could otherwise alias the decoder's
// fields and force reloads.
uint64_t DecodeSymbols(LzDecoder* d, PackedInput* input, uint32_t limit, int64_t remaining,
                       bool* ok) {
  LocalBits in(input);
  const uint32_t* const error = d->io->error;
  uint8_t* const win = d->window;
  const uint32_t ws = d->windowSize;
  // Both main tables are built with a full first level (fullFirst).
  const uint32_t* const firstA = d->mainA.first;
  const uint16_t* const secondA = d->mainA.second;
  const uint32_t* const firstB = d->mainB.first;
  const uint16_t* const secondB = d->mainB.second;
  const uint32_t* const firstR = d->repeat.first;
  const uint16_t* const secondR = d->repeat.second;
  const uint32_t bitsR = d->repeat.firstBits;
  const uint32_t* const firstD = d->dist.first;
  const uint16_t* const secondD = d->dist.second;
  const uint32_t bitsD = d->dist.firstBits;
  const uint32_t distCount = d->distCount;
  // With one table no symbol can pass this threshold, so B is never chosen.
  const uint32_t threshold = d->twoTables ? d->threshold : 0xFFFFFFFFu;
  uint32_t prev = d->prev;
  uint32_t pos = d->pos;
  uint32_t cache[4] = {d->distCache[0], d->distCache[1], d->distCache[2], d->distCache[3]};
  uint32_t matchCount = d->matchCount;
  uint32_t lastLength = d->lastLength;
  uint32_t lastDistance = d->lastDistance;
  // Both the batch limit and the block's own count bound the symbols, so one
  // counter serves for the two.
  const uint32_t symbols = d->symbolsLeft < limit ? static_cast<uint32_t>(d->symbolsLeft) : limit;
  uint32_t n = symbols;
  int64_t room = remaining;  // as of syncPos: literals since then are not yet taken off
  // Literals need one test each: stopPos is where the window ends or the
  // entry's bytes run out, whichever comes first.
  uint32_t syncPos = pos;
  uint32_t stopPos = pos + (room < int64_t(ws - pos) ? static_cast<uint32_t>(room) : ws - pos);
  while (n != 0) {
    const bool useB = prev > threshold;
    uint32_t e = LookupIn(useB ? firstB : firstA, useB ? secondB : secondA, kFirstLevelBits,
                          in.Window());
    in.Skip(LookupLength(e));
    const uint32_t sym = LookupSymbol(e);
    prev = sym;
    --n;
    if (sym < kSymRepeatLast) {
      win[pos] = static_cast<uint8_t>(sym);
      if (++pos == stopPos) {
        room -= pos - syncPos;
        if (pos == ws) {
          d->pos = pos;
          Flush(d);
          pos = 0;
          if (*error) {
            syncPos = pos;
            break;
          }
        }
        syncPos = pos;
        if (room <= 0) break;
        stopPos = pos + (room < int64_t(ws - pos) ? static_cast<uint32_t>(room) : ws - pos);
      }
      continue;
    }
    uint32_t length;
    uint32_t distance;
    if (sym == kSymRepeatLast) {
      length = lastLength;
      distance = lastDistance;
    } else if (sym < kSymShortFirst) {
      distance = cache[(matchCount - sym) & 3];
      uint32_t i = in.Decode(firstR, secondR, bitsR);
      if (i == kRepeatLong) {
        length = kLongLengthBase + in.Bits(kLongLengthBits);
      } else {
        length = kLengthBase[i] + in.Bits(kLengthExtra[i]) + 2;
        if (distance > 0x3fff) length++;
        if (distance > 0x3ffff) length++;
      }
      lastLength = length;
      lastDistance = distance;
    } else if (sym < kSymLength3First) {
      uint32_t j = sym - kSymShortFirst;
      length = 2;
      distance = kShortBase[j] + in.Bits(kShortExtra[j]) + 1;
    } else if (sym < kSymMatchFirst) {
      uint32_t j = sym - kSymLength3First;
      length = 3;
      distance = j < 2 ? j + 1 : (1u << (j - 1)) + in.Bits(j - 1) + 1;
    } else if (sym <= kSymLongMatch) {
      if (sym == kSymLongMatch) {
        length = kLongLengthBase + in.Bits(kLongLengthBits);
      } else {
        uint32_t i = sym - kSymMatchFirst;
        length = kLengthBase[i] + in.Bits(kLengthExtra[i]) + 4;
      }
      uint32_t code = in.Decode(firstD, secondD, bitsD);
      // A code beyond the window's valid count: corrupt data.
      if (code >= distCount) {
        *ok = false;
        break;
      }
      distance = d->distBase[code] + in.Bits(d->distExtra[code]) + 1;
      if (sym != kSymLongMatch && distance > 0x3ffff) length++;
    } else {
      *ok = false;
      break;
    }
    cache[matchCount & 3] = distance;
    matchCount++;
    room -= int64_t(pos - syncPos) + length;
    if (distance != 0 && distance <= pos && pos + length < ws) {
      CopyInside(win + pos, length, distance);
      pos += length;
    } else {
      // After the window has wrapped, a source near its end for a
      // destination near its start: still one piece each, apart.
      const uint32_t from = (pos - distance) & (ws - 1);
      if (pos + length < ws && from + length <= ws &&
          (from + length <= pos || from >= pos + length)) {
        CopyApart(win + pos, win + from, length);
        pos += length;
      } else {
        d->pos = pos;
        CopyWrapping(d, length, distance);
        pos = d->pos;
      }
    }
    syncPos = pos;
    if (*error || room <= 0) break;
    stopPos = pos + (room < int64_t(ws - pos) ? static_cast<uint32_t>(room) : ws - pos);
  }
  room -= pos - syncPos;
  d->pos = pos;
  d->prev = prev;
  d->symbolsLeft -= symbols - n;
  memcpy(d->distCache, cache, sizeof(cache));
  d->matchCount = matchCount;
  d->lastLength = lastLength;
  d->lastDistance = lastDistance;
  return static_cast<uint64_t>(remaining - room);
}

// A solid entry with a smaller window than its predecessor: keep the
// position inside the new window so that flushes stay in bounds.
void KeepInsideWindow(LzDecoder* d, uint32_t windowSize) {
  if (d->pos >= windowSize || d->flushedPos > windowSize) {
    d->pos &= windowSize - 1;
    d->flushedPos = d->pos;
  }
}

// Copies the saved window ranges between the window and the save buffer.
void MoveSavedBytes(LzDecoder* d, bool save) {
  const uint32_t ws = d->savedWindowSize;
  const uint32_t start = d->savedStart;
  const uint32_t first = d->savedLength < ws - start ? d->savedLength : ws - start;
  struct Range {
    uint8_t* window;
    uint8_t* copy;
    uint32_t n;
  } ranges[3] = {{d->window + start, d->saved, first},
                 {d->window, d->saved + first, d->savedLength - first},
                 {d->window + ws, d->saved + d->savedLength, d->savedTail}};
  for (const Range& r : ranges) {
    if (save) {
      memcpy(r.copy, r.window, r.n);
    } else {
      memcpy(r.window, r.copy, r.n);
    }
  }
}

}  // namespace

bool SaveLzSolidState(LzDecoder* d, uint32_t windowSize, uint64_t unpackedSize) {
  d->held = false;
  if (windowSize < kMinWindow || windowSize > kMaxWindow || (windowSize & (windowSize - 1)))
    return true;  // the entry is refused before it touches anything
  if (!d->saved) d->saved = static_cast<uint8_t*>(MemAllocLarge(kBufferBytes));
  if (!d->saved) return false;
  KeepInsideWindow(d, windowSize);
  const uint32_t start = d->pos;
  // The attempt writes from pos on, at most its unpacked size and one
  // overshoot, wrapping at the window end; a model block that crosses the
  // end writes its overhang behind the window before moving it to the start.
  uint32_t length = windowSize;
  uint32_t tail = kOvershoot;
  if (unpackedSize < windowSize - kOvershoot) {
    length = static_cast<uint32_t>(unpackedSize) + kOvershoot;
    tail = start + length > windowSize ? start + length - windowSize : 0;
    if (tail > kOvershoot) tail = kOvershoot;
  }
  d->savedWindowSize = windowSize;
  d->savedStart = start;
  d->savedLength = length;
  d->savedTail = tail;
  MoveSavedBytes(d, true);
  d->savedPos = d->pos;
  d->savedFlushedPos = d->flushedPos;
  memcpy(d->savedDistCache, d->distCache, sizeof(d->distCache));
  d->savedMatchCount = d->matchCount;
  d->savedLastLength = d->lastLength;
  d->savedLastDistance = d->lastDistance;
  d->held = true;
  return true;
}

void RestoreLzSolidState(LzDecoder* d) {
  if (!d->held) return;
  MoveSavedBytes(d, false);
  d->pos = d->savedPos;
  d->flushedPos = d->savedFlushedPos;
  memcpy(d->distCache, d->savedDistCache, sizeof(d->distCache));
  d->matchCount = d->savedMatchCount;
  d->lastLength = d->savedLastLength;
  d->lastDistance = d->savedLastDistance;
}

LzDecoder* CreateLzDecoder() {
  LzDecoder* d = New<LzDecoder>();
  if (!d) return nullptr;  // value-initialised: every field starts at zero
  // Zeroed so that a corrupt stream reaching into never-written window bytes
  // behaves the same on every run.
  d->window = static_cast<uint8_t*>(MemAllocLarge(kBufferBytes));
  d->staging = static_cast<uint8_t*>(MemAllocLarge(kBufferBytes));
  bool ok = d->window && d->staging && InitTable(&d->preCode, kPreSymbols, kMaxPreLength) &&
            InitTable(&d->mainA, kMainSymbols, kMaxCodeLength) &&
            InitTable(&d->mainB, kMainSymbols, kMaxCodeLength) &&
            InitTable(&d->repeat, kRepeatSymbols, kMaxCodeLength) &&
            InitTable(&d->dist, kDistSymbols, kMaxCodeLength);
  if (!ok) {
    DestroyLzDecoder(d);
    return nullptr;
  }
  d->mainA.fullFirst = d->mainB.fullFirst = true;
  d->windowSize = kMinWindow;
  return d;
}

void DestroyLzDecoder(LzDecoder* d) {
  if (!d) return;
  MemFreeLarge(d->window, kBufferBytes);
  MemFreeLarge(d->staging, kBufferBytes);
  MemFreeLarge(d->saved, kBufferBytes);
  FreeTable(&d->preCode);
  FreeTable(&d->mainA);
  FreeTable(&d->mainB);
  FreeTable(&d->repeat);
  FreeTable(&d->dist);
  MemFree(d);
}

void DecodeLzEntry(LzDecoder* d, EntryIo& io, bool filterHeaderPresent, bool solid,
                   uint32_t windowSize) {
  uint32_t* const error = io.error;
  if (*error) return;
  if (windowSize < kMinWindow || windowSize > kMaxWindow || (windowSize & (windowSize - 1))) {
    *error = kErrData;
    return;
  }
  PackedInput* in = io.input;
  DecodeState* st = io.state;
  d->io = &io;
  in->Start();
  d->windowSize = windowSize;
  d->symbolsLeft = 0;
  d->twoTables = false;
  d->threshold = 0;
  ChooseDistanceTable(d);
  if (!solid) {
    d->pos = d->flushedPos = 0;
    d->matchCount = d->lastLength = d->lastDistance = 0;
    memset(d->distCache, 0, sizeof(d->distCache));
  } else {
    KeepInsideWindow(d, windowSize);
  }
  d->filter.Clear();
  d->x86 = false;
  if (filterHeaderPresent) {
    uint32_t word = in->ReadByte();
    word |= in->ReadByte() << 8;
    st->filterWord = word;
    d->x86 = (word & 0x0002) != 0;
    if ((word & 0x0004) && *error == 0) {
      uint32_t kind = in->ReadByte();
      uint32_t channels = in->ReadByte();
      uint32_t header = in->ReadByte();
      header |= in->ReadByte() << 8;
      header |= in->ReadByte() << 16;
      header |= in->ReadByte() << 24;
      d->filter.Setup(kind, channels, header);
    }
  }

  uint64_t step = static_cast<uint32_t>(st->unpackedSize / 100);
  if (step < 32768) step = 32768;
  int64_t remaining = static_cast<int64_t>(st->unpackedSize);
  uint64_t produced = 0;
  uint64_t reported = 0;
  while (remaining > 0 && *error == 0) {
    if (produced - reported >= step) {
      io.sink->Progress(produced - reported);
      reported = produced;
      if (*error) break;
    }
    // Valid streams never read far beyond their packed data; a truncated or
    // corrupt one would otherwise decode zeros up to the unpacked size.
    if (in->Overrun()) {
      *error = kErrData;
      break;
    }
    if (d->symbolsLeft == 0) {
      uint32_t n = 0;
      Header h = ReadBlockHeader(d, in, &n);
      if (h == Header::kBad) {
        *error = kErrData;
        break;
      }
      if (h == Header::kModel) {
        d->pos += n;
        remaining -= n;
        produced += n;
        d->symbolsLeft = 0;
        if (d->pos >= d->windowSize) {
          // The block ran past the window end: hand it out as one chunk, and
          // move the overhang to the window start where later matches and
          // flushes expect it.
          Flush(d);
          uint32_t over = d->pos - d->windowSize;
          memmove(d->window, d->window + d->windowSize, over);
          d->pos = over;
          d->flushedPos = over;
        }
        continue;
      }
    }
    uint64_t toReport = reported + step - produced;
    uint32_t limit = toReport < kBatch ? static_cast<uint32_t>(toReport) : kBatch;
    bool ok = true;
    uint64_t made = DecodeSymbols(d, in, limit ? limit : 1, remaining, &ok);
    produced += made;
    remaining -= static_cast<int64_t>(made);
    if (!ok) {
      *error = kErrData;
      break;
    }
  }
  Flush(d);
  if (produced > reported) io.sink->Progress(produced - reported);
}

}  // namespace tvk
