// The decoding engine's single entry point: one file entry's packed data to
// its unpacked bytes, by method, with the CRC check at the end.
#ifndef TVK_CODEC_DECODE_ENTRY_H
#define TVK_CODEC_DECODE_ENTRY_H

#include <stdint.h>

#include "codec/decode.h"

namespace tvk {

constexpr uint32_t kStoredCopySize = 65536;

// What one run (an extraction or a test) lends DecodeEntry. The decoders and
// the copy buffer are made on first use and live until FreeDecodeRun.
struct DecodeRun {
  uint32_t* error;
  DecodeState* state;
  PackedInput* input;
  EntrySink* sink;
  LzDecoder* lz;
  AudioDecoder* audio;
  uint8_t* copyBuffer;
};

// How the data of one entry is decoded, in the codec's own terms; the
// archive layer makes it from the entry's head and has checked the version.
enum class DecodeMethod : uint8_t {
  // Nothing to decode with: the entry ends with fault (0 for none) and the
  // outcome check speaks for it.
  kNone,
  kStored,  // copied as it is
  kLz,
  kAudio,
};

struct DecodeParams {
  uint64_t packedSize;
  uint64_t unpackedSize;
  uint32_t crc;
  uint32_t encryptionKind;
  DecodeMethod method;
  bool solid;          // kLz: goes on from the previous entry's window
  bool filter;         // kLz: the data went through the forward filter
  bool continues;      // this part goes on in the next volume
  uint32_t window;     // kLz: the window size in bytes
  uint32_t fault;      // kNone only
};

// The outcome is *run.error (0 on success). The archive file must stand at
// the entry's first packed byte and run.input must be bound to it.
void DecodeEntry(DecodeRun& run, DecodeParams params);
// Destroys the decoders and the copy buffer of a run.
void FreeDecodeRun(DecodeRun& run);

}  // namespace tvk

#endif
