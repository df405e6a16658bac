// The LZ decoder of methods 1 to 4: a sliding window fed by canonical prefix
// codes, a four-entry distance cache, optional two-table context, model
// blocks, and output through the delta and x86 call filters.
#include <string.h>

#include "codec/decode.h"
#include "codec/model.h"
#include "codec/prefix_table.h"
#include "crypto/crc32.h"
#include "platform/result_codes.h"

namespace tvk {

namespace {

constexpr uint32_t kMaxWindow = 4u << 20;
constexpr uint32_t kMinWindow = 32u << 10;
// A model block is written contiguously from pos, which may lie just below
// the window end; the buffers keep room for a whole block beyond it.
constexpr uint32_t kBufferBytes = kMaxWindow + 32768;

constexpr uint32_t kMainSymbols = 310;
constexpr uint32_t kRepeatSymbols = 25;
constexpr uint32_t kDistSymbols = 56;
constexpr uint32_t kPreSymbols = 19;
constexpr uint32_t kMainWidth = 15;
constexpr uint32_t kPreWidth = 7;

// Symbol batches between checks of progress and overrun.
constexpr uint32_t kBatch = 1024;

const uint8_t kLengthBase[24] = {0,  1,  2,  3,  4,  5,   6,   7,   8,   10,  12,  16,
                                 20, 24, 32, 40, 48, 64, 80, 96, 128, 160, 192, 224};
const uint8_t kLengthExtra[24] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 2, 2,
                                  2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 5, 5};
const uint8_t kShortABase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
const uint8_t kShortAExtra[8] = {2, 2, 3, 4, 5, 6, 6, 6};

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
};

namespace {

void ChooseDistanceTable(LzDecoder* d) {
  uint32_t e = 16;
  if ((d->windowSize >> 10) == 2048) e = 17;
  if ((d->windowSize >> 10) == 4096) e = 18;
  d->distCount = 2 * e + 16;
  for (uint32_t code = 0; code < kDistSymbols; ++code) {
    if (code < 4) {
      d->distBase[code] = code;
      d->distExtra[code] = 0;
    } else if (code <= 2 * e + 3) {
      uint32_t extra = (code - 2) >> 1;
      d->distExtra[code] = extra;
      d->distBase[code] = (2 + (code & 1)) << extra;
    } else {
      d->distExtra[code] = e;
      d->distBase[code] = (1u << (e + 2)) + (code - (2 * e + 4)) * (1u << e);
    }
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
  if (d->filter.active || d->x86) {
    memcpy(d->staging, data, n);
    d->filter.FilterChunk(d->staging, n);
    if (d->x86) X86CallFilter(d->staging, n, &st->e8Pos, st->e8Size);
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

void CopyMatch(LzDecoder* d, uint32_t length, uint32_t distance) {
  d->distCache[d->matchCount & 3] = distance;
  d->matchCount++;
  uint32_t pos = d->pos;
  uint8_t* w = d->window;
  if (distance != 0 && distance <= pos && pos + length < d->windowSize) {
    uint8_t* dst = w + pos;
    const uint8_t* src = dst - distance;
    d->pos = pos + length;
    if (distance >= length) {
      // Source and destination do not overlap. Short copies, the common
      // case, as two fixed-size moves that overlap each other rather than a
      // call: never a byte past the match, which may still be history.
      if (length >= 8 && length <= 16) {
        uint64_t a, b;
        memcpy(&a, src, 8);
        memcpy(&b, src + length - 8, 8);
        memcpy(dst, &a, 8);
        memcpy(dst + length - 8, &b, 8);
      } else if (length >= 4 && length < 8) {
        uint32_t a, b;
        memcpy(&a, src, 4);
        memcpy(&b, src + length - 4, 4);
        memcpy(dst, &a, 4);
        memcpy(dst + length - 4, &b, 4);
      } else if (length < 4) {
        while (length--) *dst++ = *src++;
      } else {
        memcpy(dst, src, length);
      }
    } else if (distance >= 8) {
      // Each 8-byte step reads only bytes already written.
      while (length >= 8) {
        memcpy(dst, src, 8);
        dst += 8;
        src += 8;
        length -= 8;
      }
      while (length--) *dst++ = *src++;
    } else {
      while (length--) *dst++ = *src++;
    }
    return;
  }
  const uint32_t mask = d->windowSize - 1;
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


// The bit reader's state held in locals for the symbol loop. Every byte
// stored into the window may alias the reader's fields, so going through
// PackedInput there would reload and store them for each symbol. Up to 64
// bits stand ready in one register and a word is added only when fewer than
// 32 are left, so most symbols cost a shift rather than two loads; the bits
// seen are the same as through PackedInput, and its cursor is handed back
// exact.
class LocalBits {
 public:
  explicit LocalBits(PackedInput* in) : in_(in), words_(in->words()) {
    PackedInput::Cursor c = in_->GetCursor();
    bits_ = (uint64_t(words_[c.wordIndex]) << 32 | words_[c.wordIndex + 1]) << c.bitOffset;
    left_ = 64 - c.bitOffset;
    next_ = c.wordIndex + 2;
  }
  ~LocalBits() { Store(); }
  __attribute__((always_inline)) uint32_t Window() const { return static_cast<uint32_t>(bits_ >> 32); }
  // n <= 32.
  __attribute__((always_inline)) void Skip(uint32_t n) {
    bits_ <<= n;
    left_ -= n;
    if (left_ < 32) Fill();
  }
  __attribute__((always_inline)) uint32_t Bits(uint32_t n) {
    if (n == 0) return 0;
    uint32_t v = static_cast<uint32_t>(bits_ >> (64 - n));
    Skip(n);
    return v;
  }
  __attribute__((always_inline)) uint32_t Decode(const PrefixTable* t) {
    uint32_t e = Lookup(t, Window());
    Skip(LookupLength(e));
    return LookupSymbol(e);
  }

 private:
  void Fill() {
    // The buffer moves on once the cursor stands at its refill word; with
    // fewer than 32 bits left that is so whenever the word to add lies
    // beyond it, and the words up to there are still in place.
    if (next_ > kRefillWordIndex) {
      Store();
      in_->Refill();
      next_ -= kRefillWordIndex;
    }
    bits_ |= uint64_t(words_[next_++]) << (32 - left_);
    left_ += 32;
  }
  void Store() {
    uint32_t position = next_ * 32 - left_;  // in bits from the buffer start
    in_->SetCursor({Window(), position & 31, position >> 5});
  }
  PackedInput* in_;
  const uint32_t* words_;
  uint64_t bits_;   // the next left_ bits of the stream, from the top bit
  uint32_t left_;   // 32..64 between steps
  uint32_t next_;   // the word to add next
};

// A distance from the distance table; 0 when the code lies beyond the
// window's valid count (corrupt data).
inline uint32_t ReadDistance(LzDecoder* d, LocalBits& in) {
  uint32_t code = in.Decode(&d->dist);
  if (code >= d->distCount) return 0;
  return d->distBase[code] + in.Bits(d->distExtra[code]) + 1;
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

// Decodes up to `limit` symbols of the current block. Returns the bytes
// produced; false in *ok on corrupt data. The window position and the table
// arrays live in locals here: every byte stored into the window could
// otherwise alias them and force reloads.
uint64_t DecodeSymbols(LzDecoder* d, PackedInput* input, uint32_t limit, int64_t remaining,
                       bool* ok) {
  LocalBits in(input);
  uint64_t produced = 0;
  const uint32_t* const error = d->io->error;
  uint8_t* const win = d->window;
  const uint32_t ws = d->windowSize;
  const uint32_t* const firstA = d->mainA.first;
  const uint16_t* const secondA = d->mainA.second;
  const uint32_t bitsA = d->mainA.firstBits;
  const uint32_t* const firstB = d->mainB.first;
  const uint16_t* const secondB = d->mainB.second;
  const uint32_t bitsB = d->mainB.firstBits;
  const bool two = d->twoTables;
  const uint32_t threshold = d->threshold;
  uint32_t prev = d->prev;
  uint32_t pos = d->pos;
  uint64_t left = d->symbolsLeft;
  while (limit-- > 0 && left != 0 && int64_t(produced) < remaining) {
    const bool useB = two && prev > threshold;
    uint32_t e = useB ? LookupIn(firstB, secondB, bitsB, in.Window())
                      : LookupIn(firstA, secondA, bitsA, in.Window());
    in.Skip(LookupLength(e));
    uint32_t sym = LookupSymbol(e);
    prev = sym;
    --left;
    if (sym < 256) {
      win[pos] = static_cast<uint8_t>(sym);
      produced += 1;
      if (++pos == ws) {
        d->pos = pos;
        Flush(d);
        pos = 0;
        if (*error) break;
      }
      continue;
    }
    uint32_t length;
    uint32_t distance;
    if (sym == 256) {
      length = d->lastLength;
      distance = d->lastDistance;
    } else if (sym <= 260) {
      distance = d->distCache[(d->matchCount - sym) & 3];
      uint32_t i = in.Decode(&d->repeat);
      if (i == 24) {
        length = 257 + in.Bits(14);
      } else {
        length = kLengthBase[i] + in.Bits(kLengthExtra[i]) + 2;
        if (distance > 0x3fff) length++;
        if (distance > 0x3ffff) length++;
      }
      d->lastLength = length;
      d->lastDistance = distance;
    } else if (sym <= 268) {
      uint32_t j = sym - 261;
      length = 2;
      distance = kShortABase[j] + in.Bits(kShortAExtra[j]) + 1;
    } else if (sym <= 283) {
      uint32_t j = sym - 269;
      length = 3;
      distance = j < 2 ? j + 1 : (1u << (j - 1)) + in.Bits(j - 1) + 1;
    } else if (sym <= 308) {
      if (sym == 308) {
        length = 257 + in.Bits(14);
      } else {
        uint32_t i = sym - 284;
        length = kLengthBase[i] + in.Bits(kLengthExtra[i]) + 4;
      }
      distance = ReadDistance(d, in);
      if (distance == 0) {
        *ok = false;
        break;
      }
      if (sym != 308 && distance > 0x3ffff) length++;
    } else {
      *ok = false;
      break;
    }
    d->pos = pos;
    CopyMatch(d, length, distance);
    pos = d->pos;
    produced += length;
    if (*error) break;
  }
  d->pos = pos;
  d->prev = prev;
  d->symbolsLeft = left;
  return produced;
}

}  // namespace

LzDecoder* CreateLzDecoder() {
  LzDecoder* d = New<LzDecoder>();
  if (!d) return nullptr;  // value-initialised: every field starts at zero
  // Zeroed so that a corrupt stream reaching into never-written window bytes
  // behaves the same on every run.
  d->window = static_cast<uint8_t*>(MemAllocZero(kBufferBytes));
  d->staging = static_cast<uint8_t*>(MemAlloc(kBufferBytes));
  bool ok = d->window && d->staging && InitTable(&d->preCode, kPreSymbols, kPreWidth) &&
            InitTable(&d->mainA, kMainSymbols, kMainWidth) &&
            InitTable(&d->mainB, kMainSymbols, kMainWidth) &&
            InitTable(&d->repeat, kRepeatSymbols, kMainWidth) &&
            InitTable(&d->dist, kDistSymbols, kMainWidth);
  if (!ok) {
    DestroyLzDecoder(d);
    return nullptr;
  }
  d->windowSize = kMinWindow;
  return d;
}

void DestroyLzDecoder(LzDecoder* d) {
  if (!d) return;
  MemFree(d->window);
  MemFree(d->staging);
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
  } else if (d->pos >= windowSize || d->flushedPos > windowSize) {
    // A solid entry with a smaller window than its predecessor: keep the
    // position inside the new window so that flushes stay in bounds.
    d->pos &= windowSize - 1;
    d->flushedPos = d->pos;
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
