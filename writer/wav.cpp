#include "writer/wav.h"

#include <cstring>

#include "common/bytes.h"

namespace tvk {

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;

}  // namespace

bool ParseWav(const uint8_t* file, size_t n, WavLayout* out) {
  if (n < 12 || n > 0xFFFFFFFFu) return false;
  if (std::memcmp(file, "RIFF", 4) != 0 || std::memcmp(file + 8, "WAVE", 4) != 0) return false;
  bool haveFormat = false;
  uint16_t channels = 0, bits = 0;
  size_t pos = 12;
  while (pos + 8 <= n) {
    const uint8_t* chunk = file + pos;
    uint32_t size = LoadU32(chunk + 4);
    size_t body = pos + 8;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (size < 16 || body + 16 > n) return false;
      uint16_t tag = LoadU16(file + body);
      channels = LoadU16(file + body + 2);
      uint16_t blockAlign = LoadU16(file + body + 12);
      bits = LoadU16(file + body + 14);
      if (tag == kFormatExtensible) {
        // The sub-format's first two bytes hold the plain format tag.
        if (size < 40 || body + 26 > n) return false;
        tag = LoadU16(file + body + 24);
      }
      if (tag != kFormatPcm) return false;
      if (channels != 1 && channels != 2) return false;
      if (bits != 8 && bits != 16) return false;
      if (blockAlign != channels * bits / 8) return false;
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!haveFormat) return false;
      size_t avail = n - body;
      size_t data = size < avail ? size : avail;
      size_t frame = channels * bits / 8u;
      data -= data % frame;
      out->headLength = static_cast<uint32_t>(body);
      out->sampleBytes = static_cast<uint32_t>(data);
      out->tailLength = static_cast<uint32_t>(n - body - data);
      out->channels = static_cast<uint8_t>(channels);
      out->bitsPerSample = static_cast<uint8_t>(bits);
      return true;
    }
    // Chunks are padded to an even length.
    size_t next = body + size + (size & 1);
    if (next > n) return false;
    pos = next;
  }
  return false;
}

}  // namespace tvk
