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

// The fields of an entry that decoding needs.
struct EntryParams {
  uint32_t version;
  uint32_t method;
  uint32_t flags;
  uint32_t filterByte;
  uint64_t packedSize;
  uint64_t unpackedSize;
  uint32_t crc;
  uint32_t encryptionKind;
  uint32_t continues;  // this part goes on in the next volume
};

// The outcome is *run.error (0 on success). The archive file must stand at
// the entry's first packed byte and run.input must be bound to it.
void DecodeEntry(DecodeRun& run, const EntryParams& entry);
// Destroys the decoders and the copy buffer of a run.
void FreeDecodeRun(DecodeRun& run);

}  // namespace tvk

#endif
