// Placeholder until the audio decoder lands: method 5 answers as an
// unsupported method would.
#include "codec/decode.h"
#include "platform/result_codes.h"

namespace tvk {
struct AudioDecoder {
  int unused;
};
AudioDecoder* CreateAudioDecoder() { return New<AudioDecoder>(); }
void DestroyAudioDecoder(AudioDecoder* d) { Delete(d); }
void DecodeAudioEntry(AudioDecoder*, EntryIo& io) {
  if (*io.error == 0) *io.error = kErrMethod;
}
}  // namespace tvk
