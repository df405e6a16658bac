#include "archive/entry_decode.h"

#include "archive/format.h"
#include "platform/result_codes.h"

namespace tvk {

void DecodeEntry(DecodeRun& run, const EntryParams& e) {
  DecodeParams p;
  uint32_t code = (e.flags >> fmt::kEntryDictShift) & 15;
  p.method = DecodeMethod::kNone;
  p.fault = 0;
  // The window and the two flags are read by the LZ decoder only.
  p.window = 32768u << code;
  p.solid = (e.flags & fmt::kEntrySolid) != 0;
  p.filter = e.filterByte != 0;
  if (e.method == fmt::kMethodStored) {
    p.method = DecodeMethod::kStored;
  } else if (e.version != fmt::kVersion11) {
    // Version 20 with a compressed method: nothing is decoded, and the
    // outcome check reports the entry.
  } else if (e.method >= fmt::kMethodLzFirst && e.method <= fmt::kMethodLzLast) {
    if (code > fmt::kMaxWindowCode) {
      p.fault = kErrData;
    } else {
      p.method = DecodeMethod::kLz;
    }
  } else if (e.method == fmt::kMethodAudio) {
    p.method = DecodeMethod::kAudio;
  } else {
    p.fault = kErrMethod;
  }
  p.continues = e.continues != 0;
  p.packedSize = e.packedSize;
  p.unpackedSize = e.unpackedSize;
  p.crc = e.crc;
  p.encryptionKind = e.encryptionKind;
  if (e.version == fmt::kVersion11 || e.version == fmt::kVersion20) {
    DecodeEntry(run, p);
  } else if (*run.error == 0) {
    *run.error = kErrVersion;
  }
}

}  // namespace tvk
