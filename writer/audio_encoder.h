// Writes method-5 streams: PCM samples coded losslessly between a raw head
// and a raw tail. 8-bit samples as Huffman-coded residual bytes of the
// reader's adaptive byte predictors; 16-bit samples in blocks with one
// predictor, Rice parameter and (in stereo) channel decorrelation chosen per
// block by cost.
#ifndef TVK_WRITER_AUDIO_ENCODER_H
#define TVK_WRITER_AUDIO_ENCODER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "writer/wav.h"

namespace tvk {

// Choices the encoder normally makes itself; tests pin them to reach every
// form of the stream. -1 means "choose by cost".
struct AudioEncodeOptions {
  int predictorType = -1;    // 16-bit: 0..4 for every block and channel
  int stereoMode = -1;       // 16-bit stereo: 0..3 for every block
  int riceK = -1;            // 16-bit: 0..15 for every block and channel
  uint32_t wordBlock = 384;  // 16-bit samples per block, 1..384; others are sent explicitly
  uint32_t byteBlock = 0;    // 8-bit bytes per block (0: the default); odd counts in
                             // stereo make unpaired blocks that restart with channel 0
  int paired = -1;           // 8-bit stereo: 0 unpaired blocks only, 1 paired where possible
};

// Codes the file as `layout` describes it; an empty result when the layout
// does not cover the file exactly (head + samples + tail = n). Samples that
// the stream cannot carry (a lone 16-bit mono sample) are moved into the tail.
std::vector<uint8_t> EncodeAudioStream(const uint8_t* file, size_t n, WavLayout layout,
                                       const AudioEncodeOptions& options = {});

// The entry's CRC register for a method-5 entry: it covers the stream's
// 18-byte parameter record and then the file. `stream` is the encoder output.
uint32_t AudioEntryCrc(const std::vector<uint8_t>& stream, const uint8_t* file, size_t n);

// Codes a PCM WAV file (8 or 16 bit, mono or stereo). False when the file is
// not one (the archive writer then packs it another way); *entryCrc, when
// given, receives the register the entry's CRC field must hold.
bool EncodeAudio(const uint8_t* file, size_t n, std::vector<uint8_t>* out,
                 uint32_t* entryCrc = nullptr, const AudioEncodeOptions& options = {});

}  // namespace tvk

#endif
