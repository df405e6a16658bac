// Block heads and entry heads as plain functions over byte buffers, so that
// the reader and the tests share one decoding of every field.
#ifndef TVK_ARCHIVE_BLOCKS_H
#define TVK_ARCHIVE_BLOCKS_H

#include <stdint.h>

#include "archive/reader.h"
#include "common/bytes.h"

namespace tvk {

// The 7 bytes every block opens with.
struct BlockHeader {
  uint16_t headCheck;
  uint8_t type;
  uint16_t flags;
  uint16_t size;
};

BlockHeader ParseBlockHeader(const uint8_t* head);
// The stored check equals the CRC register's low half over bytes 2..size-1.
// size must be at least 7 and all size bytes readable.
bool HeadCheckGood(const uint8_t* head, uint32_t size);

// A head stored under encrypted heads: the length bytes behind its length
// prefix, deciphered in place (head has room for length rounded up to 8).
// Its size when it opens as a sound head, else 0: a wrong password and
// damage look alike.
uint32_t OpenEncryptedHead(const char* password, uint8_t* head, uint32_t length);

// The first main header in buffer[0, n) whose check is good, as every
// reader of the format finds it: its offset and size. n is at most the
// search limit of format.h.
bool FindMainHeader(const uint8_t* buffer, uint32_t n, uint32_t* start, uint32_t* size);

// How entry heads are decoded for this reader.
struct EntryDecodeContext {
  bool continuationExpected;  // a continued entry (flag 0x0008) is acceptable
  bool keepRoots;             // leave drive and network roots in names
  bool signedSeen;            // out: flag 0x2000 met
};

// Decode a "D" or "V" head of size bytes into entry: 0, 28080 for a head
// too short for its fields or name, 28148 for an unexpected continuation.
uint32_t DecodeEntryHead(const uint8_t* head, uint32_t size, FileEntry* entry,
                         EntryDecodeContext* context);
uint32_t DecodeFolderHead(const uint8_t* head, uint32_t size, FileEntry* entry,
                          EntryDecodeContext* context);

// The name rules: ".." components dropped, leading "./" and separators
// removed, characters that cannot stand in a file name made '_'. In place;
// capacity is the buffer size.
void CleanEntryName(char* name, uint32_t capacity);
// Removes a drive root (X:\) or a network root (\\server\share\).
void RemoveNameRoot(char* name);
// The name of volume number counter (1 = '.001') beside current: its
// extension replaced (or appended) by the counter padded to three digits.
bool FormVolumeName(const char* current, uint32_t counter, char* out, uint32_t outSize);
// True when path names a volume FormVolumeName could form from first.
bool IsVolumeNameOf(const char* first, const char* path);

// Two paths name the same file as far as text can tell: without regard to
// case, and with either separator.
bool SamePath(const char* a, const char* b);

// Wildcard selection of an entry name by a mask (both as stored).
bool MaskMatches(const char* mask, const char* name);

}  // namespace tvk

#endif
