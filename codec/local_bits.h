// The bit reader's state held in locals for a decoder's hot loop.
#ifndef TVK_CODEC_LOCAL_BITS_H
#define TVK_CODEC_LOCAL_BITS_H

#include <stdint.h>

#include "codec/decode.h"
#include "codec/prefix_table.h"

namespace tvk {

// Every byte a decoder stores may alias the reader's fields, so going through
// PackedInput in a hot loop would reload and store them for each symbol. Up to
// 64 bits stand ready in one register and a word is added only when fewer
// than 32 are left, so most reads cost a shift rather than two loads; the bits
// seen are the same as through PackedInput, and its cursor is handed back
// exact when this goes out of scope. Nothing else may read from the input
// meanwhile.
class LocalBits {
 public:
  explicit LocalBits(PackedInput* in) : in_(in), words_(in->words()) {
    PackedInput::Cursor c = in_->GetCursor();
    bits_ = (uint64_t(words_[c.wordIndex]) << 32 | words_[c.wordIndex + 1]) << c.bitOffset;
    left_ = 64 - c.bitOffset;
    next_ = c.wordIndex + 2;
  }
  ~LocalBits() { Store(); }
  LocalBits(const LocalBits&) = delete;
  LocalBits& operator=(const LocalBits&) = delete;

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
  __attribute__((always_inline)) void Fill() {
    // The buffer moves on once the cursor stands at its refill word; with
    // fewer than 32 bits left that is so whenever the word to add lies
    // beyond it, and the words up to there are still in place.
    if (__builtin_expect(next_ > kRefillWordIndex, 0)) {
      MoveBuffer(in_, next_, left_, Window());
      next_ -= kRefillWordIndex;
    }
    bits_ |= uint64_t(words_[next_++]) << (32 - left_);
    left_ += 32;
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
