// Bit output in the packed stream's order: 32-bit little-endian words, each
// filled from its most significant bit down. The writer side of PackedInput.
#ifndef TVK_WRITER_BIT_WRITER_H
#define TVK_WRITER_BIT_WRITER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/bytes.h"

namespace tvk {

class BitWriter {
 public:
  // Appends the low n bits of value, most significant first (0 <= n <= 32).
  void Put(uint32_t value, uint32_t n) {
    if (n == 0) return;
    if (n < 32) value &= (1u << n) - 1;
    const uint32_t room = 32 - fill_;
    if (n < room) {
      acc_ |= value << (room - n);
      fill_ += n;
      return;
    }
    const uint32_t rest = n - room;
    acc_ |= value >> rest;
    Flush();
    if (rest) {
      acc_ = value << (32 - rest);
      fill_ = rest;
    }
  }
  void PutBit(uint32_t bit) {
    acc_ |= (bit & 1u) << (31 - fill_);
    if (++fill_ == 32) Flush();
  }
  void PutByte(uint8_t b) { Put(b, 8); }
  uint64_t BitCount() const { return uint64_t(words_) * 32 + fill_; }
  // The stream so far, the last word padded with zero bits; further padding
  // (for example to a 16-byte multiple) is the caller's.
  std::vector<uint8_t> Finish() {
    std::vector<uint8_t> out = bytes_;
    if (fill_) {
      for (int k = 0; k < 4; ++k) out.push_back(uint8_t(acc_ >> (8 * k)));
    }
    return out;
  }
  // The same, but the bytes move out and the writer is left empty: no copy
  // of a stream as large as its input.
  std::vector<uint8_t> Take() {
    if (fill_) Flush();
    std::vector<uint8_t> out = std::move(bytes_);
    bytes_.clear();
    acc_ = fill_ = words_ = 0;
    return out;
  }
  // The whole words written so far move out; the partial word stays, so a
  // long stream can leave piece by piece.
  std::vector<uint8_t> TakeWords() {
    std::vector<uint8_t> out;
    out.swap(bytes_);
    return out;
  }
  // Room for a stream of about this many bytes, so that it does not grow by
  // doubling (and copying) on the way.
  void Reserve(size_t bytes) { bytes_.reserve(bytes); }

 private:
  void Flush() {
    bytes_.resize(bytes_.size() + 4);
    StoreU32(bytes_.data() + bytes_.size() - 4, acc_);
    acc_ = 0;
    fill_ = 0;
    ++words_;
  }
  std::vector<uint8_t> bytes_;
  uint32_t acc_ = 0;
  uint32_t fill_ = 0;
  uint32_t words_ = 0;
};

// Canonical prefix codes for a set of lengths (0: no code): ordered by
// length, then by symbol, as the decoder's tables assume.
inline std::vector<uint32_t> CanonicalCodes(const std::vector<uint32_t>& lengths) {
  std::vector<uint32_t> codes(lengths.size(), 0);
  uint32_t code = 0;
  for (uint32_t len = 1; len <= 16; ++len) {
    for (size_t s = 0; s < lengths.size(); ++s) {
      if (lengths[s] == len) codes[s] = code++;
    }
    code <<= 1;
  }
  return codes;
}

}  // namespace tvk

#endif
