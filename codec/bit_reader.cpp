// The bit view of PackedInput: 32-bit little-endian words consumed from their
// top bit, refilled in large blocks with an 8-word carry so a 32-bit peek
// never runs off the buffer.
#include <string.h>

#include "codec/decode.h"

namespace tvk {

// The window is built from the words exactly as stored in the file.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the bit reader takes packed words in host order");

namespace {

constexpr uint32_t kCarryWords = kBitBufferWords - kRefillWordIndex;  // 8
constexpr uint32_t kRefillBytes = kBitBufferBytes - kCarryWords * 4;  // 16352

// Bytes delivered by one Read; a failed volume switch counts as none (the
// reader's error code already stops the decoder).
uint32_t Delivered(int32_t got, uint32_t asked) {
  if (got <= 0) return 0;
  return static_cast<uint32_t>(got) < asked ? static_cast<uint32_t>(got) : asked;
}

}  // namespace

void PackedInput::Start() {
  uint8_t* bytes = reinterpret_cast<uint8_t*>(words_);
  uint32_t got = Delivered(Read(bytes, kBitBufferBytes), kBitBufferBytes);
  // Past the end of the packed data the decoder sees zeros rather than what
  // an earlier entry left behind, so corrupt input behaves the same each time.
  if (got < kBitBufferBytes) memset(bytes + got, 0, kBitBufferBytes - got);
  validEnd_ = got;
  wordsConsumedBase_ = 0;
  bitOffset_ = 0;
  wordIndex_ = 0;
  window_ = words_[0];
}

void PackedInput::Refill() {
  memmove(words_, words_ + kRefillWordIndex, kCarryWords * 4);
  uint8_t* bytes = reinterpret_cast<uint8_t*>(words_ + kCarryWords);
  uint32_t got = Delivered(Read(bytes, kRefillBytes), kRefillBytes);
  if (got < kRefillBytes) memset(bytes + got, 0, kRefillBytes - got);
  // Bytes only continue the stream when everything before them was there;
  // after a short read the packed data has ended for good.
  uint64_t bufferEnd = (wordsConsumedBase_ + kBitBufferWords) * 4;
  if (validEnd_ == bufferEnd) validEnd_ += got;
  wordsConsumedBase_ += kRefillWordIndex;
  wordIndex_ -= kRefillWordIndex;
}

uint64_t PackedInput::Consumed() const {
  return (wordsConsumedBase_ + wordIndex_) * 4 + (bitOffset_ + 7) / 8;
}

bool PackedInput::Overrun() const { return Consumed() > validEnd_ + 32; }

}  // namespace tvk
