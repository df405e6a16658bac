// Where the samples lie in a PCM "RIFF/WAVE" file: everything before them is
// the head, everything after them the tail.
#ifndef TVK_WRITER_WAV_H
#define TVK_WRITER_WAV_H

#include <cstddef>
#include <cstdint>

namespace tvk {

struct WavLayout {
  uint32_t headLength = 0;   // bytes before the first sample
  uint32_t sampleBytes = 0;  // whole frames only
  uint32_t tailLength = 0;   // bytes after the samples, to the end of the file
  uint8_t channels = 0;      // 1 or 2
  uint8_t bitsPerSample = 0; // 8 or 16
};

// False unless the file is uncompressed PCM with 8 or 16 bits per sample and
// one or two channels, has a "fmt " chunk before its "data" chunk, and is
// smaller than 4 GiB. A data chunk that claims more than the file holds is
// cut to what is there; a partial frame at its end goes to the tail.
bool ParseWav(const uint8_t* file, size_t n, WavLayout* out);

}  // namespace tvk

#endif
