// The bit reader's state held in locals for a decoder's hot loop.
#ifndef TVK_CODEC_LOCAL_BITS_H
#define TVK_CODEC_LOCAL_BITS_H

#include <stdint.h>
#include <string.h>

#include "codec/decode.h"
#include "codec/prefix_table.h"

namespace tvk {

// Every byte a decoder stores may alias the reader's fields, so going through
// PackedInput in a hot loop would reload and store them for each symbol. At
// least 32 bits stand ready in one register, and each step tops it up with
// the next two words whether or not one is due: a mispredicted refill test
// cost more than the load. The bits seen are the same as through
// PackedInput, and its cursor is handed back exact when this goes out of
// scope. Nothing else may read from the input meanwhile.
class LocalBits {
 public:
  explicit LocalBits(PackedInput* in) : in_(in), words_(in->words()) {
    PackedInput::Cursor c = in_->GetCursor();
    bits_ = uint64_t(words_[c.wordIndex]) << (32 + c.bitOffset);
    left_ = 32 - c.bitOffset;
    next_ = c.wordIndex + 1;
    Fill();
  }
  ~LocalBits() { Store(); }
  LocalBits(const LocalBits&) = delete;
  LocalBits& operator=(const LocalBits&) = delete;

  __attribute__((always_inline)) uint32_t Window() const { return static_cast<uint32_t>(bits_ >> 32); }
  // n <= 32.
  __attribute__((always_inline)) void Skip(uint32_t n) {
    bits_ <<= n;
    left_ -= n;
    Fill();
  }
  // n <= 32; a field of no bits is 0 without a test.
  __attribute__((always_inline)) uint32_t Bits(uint32_t n) {
    uint32_t v = static_cast<uint32_t>((bits_ >> 1) >> (63 - n));
    Skip(n);
    return v;
  }
  __attribute__((always_inline)) uint32_t Decode(const uint32_t* first, const uint16_t* second,
                                                 uint32_t firstBits) {
    uint32_t e = LookupIn(first, second, firstBits, Window());
    Skip(LookupLength(e));
    return LookupSymbol(e);
  }
  // As PackedInput::Overrun, for the bits taken so far.
  bool Overrun() {
    Store();
    return in_->Overrun();
  }

 private:
  // Below its left_ counted bits the register holds either zeros or the
  // stream's own next bits, so or-ing the next two words in again is
  // harmless; only whole words are counted. Afterwards 32 <= left_ <= 63,
  // so the shift stays below 64.
  __attribute__((always_inline)) void Fill() {
    uint64_t two;
    memcpy(&two, words_ + next_, 8);
    bits_ |= (two << 32 | two >> 32) >> left_;
    const uint32_t added = (63 - left_) >> 5;
    next_ += added;
    left_ += added << 5;
    // The buffer moves on once the cursor (one or two words behind next_)
    // has passed its refill word; until then the loads above stay inside.
    if (__builtin_expect(next_ > kRefillWordIndex + 1, 0)) {
      MoveBuffer(in_, next_, left_, Window());
      next_ -= kRefillWordIndex;
    }
  }
  // Takes the state by value: were the object's address to escape, every
  // byte stored into the window would force its fields back to memory.
  __attribute__((noinline)) static void MoveBuffer(PackedInput* in, uint32_t next, uint32_t left,
                                                   uint32_t window) {
    StoreTo(in, next, left, window);
    in->Refill();
  }
  static void StoreTo(PackedInput* in, uint32_t next, uint32_t left, uint32_t window) {
    uint32_t position = next * 32 - left;  // in bits from the buffer start
    in->SetCursor({window, position & 31, position >> 5});
  }
  void Store() { StoreTo(in_, next_, left_, Window()); }
  PackedInput* in_;
  const uint32_t* words_;
  uint64_t bits_;   // the next left_ bits of the stream, from the top bit
  uint32_t left_;   // 32..64 between steps
  uint32_t next_;   // the word to add next
};

}  // namespace tvk

#endif
