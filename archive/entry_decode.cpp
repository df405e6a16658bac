#include "archive/entry_decode.h"

#include "archive/format.h"
#include "platform/result_codes.h"

namespace tvk {

DecodeParams DecodeParamsOf(const EntryParams& e) {
  DecodeParams p{};
  p.packedSize = e.packedSize;
  p.unpackedSize = e.unpackedSize;
  p.crc = e.crc;
  p.encryptionKind = e.encryptionKind;
  p.continues = e.continues != 0;
  p.method = DecodeMethod::kNone;
  if (e.method == fmt::kMethodStored) {
    p.method = DecodeMethod::kStored;
  } else if (e.version != fmt::kVersion11) {
    // Version 20 with a compressed method: nothing is decoded, and the
    // outcome check reports the entry.
  } else if (e.method >= fmt::kMethodLzFirst && e.method <= fmt::kMethodLzLast) {
    uint32_t code = (e.flags >> fmt::kEntryDictShift) & 15;
    if (code > fmt::kMaxWindowCode) {
      p.fault = kErrData;
    } else {
      p.method = DecodeMethod::kLz;
      p.window = 1u << (15 + code);
      p.solid = (e.flags & fmt::kEntrySolid) != 0;
      p.filter = e.filterByte != 0;
    }
  } else if (e.method == fmt::kMethodAudio) {
    p.method = DecodeMethod::kAudio;
  } else {
    p.fault = kErrMethod;
  }
  return p;
}

void DecodeEntry(DecodeRun& run, const EntryParams& e) {
  if (e.version != fmt::kVersion11 && e.version != fmt::kVersion20) {
    if (*run.error == 0) *run.error = kErrVersion;
    return;
  }
  DecodeEntry(run, DecodeParamsOf(e));
}

}  // namespace tvk
