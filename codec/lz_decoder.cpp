// Placeholder until the LZ decoder lands: entries of methods 1 to 4 answer
// as an unsupported method would.
#include "codec/decode.h"
#include "platform/result_codes.h"

namespace tvk {
struct LzDecoder {
  int unused;
};
LzDecoder* CreateLzDecoder() { return New<LzDecoder>(); }
void DestroyLzDecoder(LzDecoder* d) { Delete(d); }
void DecodeLzEntry(LzDecoder*, EntryIo& io, bool, bool, uint32_t) {
  if (*io.error == 0) *io.error = kErrMethod;
}
}  // namespace tvk
