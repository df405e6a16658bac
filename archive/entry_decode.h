// One file entry's packed data to its unpacked bytes: the fields of its head
// are checked and turned into the codec's terms here, so that the codec
// knows nothing of the archive format.
#ifndef TVK_ARCHIVE_ENTRY_DECODE_H
#define TVK_ARCHIVE_ENTRY_DECODE_H

#include <stdint.h>

#include "codec/decode_entry.h"

namespace tvk {

// The fields of an entry that decoding needs, as its head gives them.
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

// Checks the entry's version (kErrVersion, and nothing is read, for one
// not known) and decodes it by the codec's terms for its method.
void DecodeEntry(DecodeRun& run, const EntryParams& entry);

}  // namespace tvk

#endif
