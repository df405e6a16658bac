// The packed bytes of the entry being decoded: read from the archive file,
// carried on into the next volume when the entry's part there is used up,
// and deciphered as one contiguous run per call.
#include "codec/decode.h"
#include "platform/result_codes.h"

namespace tvk {

bool PackedInput::Init() {
  if (!words_) words_ = static_cast<uint32_t*>(AlignedAlloc16(kBitBufferBytes));
  window_ = 0;
  bitOffset_ = 0;
  wordIndex_ = 0;
  validEnd_ = 0;
  wordsConsumedBase_ = 0;
  return words_ != nullptr;
}

void PackedInput::Free() {
  AlignedFree16(words_);
  words_ = nullptr;
  SecureZero(&key, sizeof(key));
}

int32_t PackedInput::Read(uint8_t* dest, uint32_t n) {
  uint8_t* const start = dest;
  const uint32_t asked = n;
  uint32_t total = 0;
  for (;;) {
    uint32_t want = n;
    if (state->packedLeft <= 0) {
      want = 0;
    } else if (static_cast<uint64_t>(state->packedLeft) < want) {
      want = static_cast<uint32_t>(state->packedLeft);
    }
    int32_t got = 0;
    if (want > 0) {
      got = source->ReadArchive(dest, want);
      if (got < 0) {
        if (*error == 0) *error = kErrFileAccess;
        got = 0;
      } else if (static_cast<uint32_t>(got) < want) {
        endedEarly = 1;
      }
    }
    state->packedLeft -= got;
    total += static_cast<uint32_t>(got);
    dest += got;
    n -= static_cast<uint32_t>(got);
    if (!volumeSet || state->packedLeft != 0) break;
    // The last part of an entry ends the stream; only a part that goes on
    // elsewhere switches, even when this call is already satisfied, so that
    // packedLeft always describes the part the next byte comes from.
    if (!state->continues || *error != 0) break;
    if (!source->SwitchVolume()) return -1;
  }
  if (encryptionKind != 0 && total > 0) {
    if (encryptionKind != 1 && encryptionKind != 2) {
      if (*error == 0) *error = kErrVersion;
    } else {
      // Whole 16-byte blocks; every caller asks for a multiple of 16, so the
      // rounded count stays inside the caller's buffer. Guard it anyway.
      uint32_t count = total;
      uint32_t rounded = (count + 15) & ~15u;
      if (rounded > asked) count = asked & ~15u;
      DecipherEntryData(&key, start, count);
    }
  }
  return static_cast<int32_t>(total);
}

}  // namespace tvk
