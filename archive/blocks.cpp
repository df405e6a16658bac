// Block heads, entry heads, entry names, volume names and masks.
#include "archive/blocks.h"

#include <stdio.h>
#include <string.h>

#include "archive/format.h"
#include "crypto/cipher.h"
#include "crypto/crc32.h"
#include "platform/platform.h"
#include "platform/result_codes.h"

namespace tvk {

BlockHeader ParseBlockHeader(const uint8_t* head) {
  BlockHeader h;
  h.headCheck = LoadU16(head);
  h.type = head[2];
  h.flags = LoadU16(head + 3);
  h.size = LoadU16(head + 5);
  return h;
}

bool HeadCheckGood(const uint8_t* head, uint32_t size) {
  if (size < fmt::kBlockHeadSize) return false;
  return HeadCheckOf(head, size) == LoadU16(head);
}

uint32_t OpenEncryptedHead(const char* password, uint8_t* head, uint32_t length) {
  DecipherHeadBytes(password, head, length);
  // Nothing is computed over bytes that were not read and deciphered.
  if (length < fmt::kBlockHeadSize) return 0;
  const uint32_t size = LoadU16(head + 5);
  return size <= length && HeadCheckGood(head, size) ? size : 0;
}

bool FindMainHeader(const uint8_t* buffer, uint32_t n, uint32_t* start, uint32_t* size) {
  for (uint32_t i = 7; n >= 18 && i <= n - 18; ++i) {
    if (memcmp(buffer + i, fmt::kArchiveSignature, 5) != 0 || buffer[i - 5] != fmt::kTypeMain) {
      continue;
    }
    uint32_t candidate = i - 7;
    uint32_t candidateSize = LoadU16(buffer + candidate + 5);
    if (candidateSize < fmt::kBlockHeadSize || candidateSize > n - candidate) continue;
    if (!HeadCheckGood(buffer + candidate, candidateSize)) continue;
    *start = candidate;
    *size = candidateSize;
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Names
// ---------------------------------------------------------------------------

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsBadNameChar(unsigned char c) {
  return (c >= 1 && c <= 31) || c == '"' || c == '*' || c == '<' || c == '>' || c == '?' ||
         c == '|';
}

// Copies a name of length bytes from a head into entry->name, converted to
// the system text, then applies the root and cleaning rules.
void TakeName(const uint8_t* src, uint32_t length, bool oem, bool folder, bool keepRoots,
              FileEntry* entry) {
  if (length > fmt::kMaxEntryName) length = fmt::kMaxEntryName;
  memset(entry->name, 0, sizeof(entry->name));
  memcpy(entry->name, src, length);
  entry->nameLength = length;
  uint32_t textLength = static_cast<uint32_t>(strlen(entry->name));
  if (oem) {
    OemToSystem(entry->name, textLength, sizeof(entry->name));
  } else {
    AnsiToSystem(entry->name, textLength, sizeof(entry->name));
  }
  if (folder) {
    size_t n = strlen(entry->name);
    if ((n == 0 || entry->name[n - 1] != '\\') && n + 1 < sizeof(entry->name)) {
      entry->name[n] = '\\';
      entry->name[n + 1] = 0;
    }
  }
  if (!keepRoots) RemoveNameRoot(entry->name);
  for (char* p = entry->name; *p; ++p) {
    if (*p == '/') *p = '\\';
  }
  CleanEntryName(entry->name, sizeof(entry->name));
}

void ResetEntryFields(FileEntry* entry) {
  // Keep what NextBlock recorded about the block itself.
  uint64_t blockPosition = entry->blockPosition;
  uint64_t dstv = entry->dstvPosition, latv = entry->latvPosition, cpos = entry->commentPosition;
  FreeEntryBuffers(entry);
  memset(entry, 0, sizeof(*entry));
  entry->blockPosition = blockPosition;
  entry->dstvPosition = dstv;
  entry->latvPosition = latv;
  entry->commentPosition = cpos;
}

}  // namespace

void RemoveNameRoot(char* name) {
  size_t skip = 0;
  if (name[0] == '\\' && name[1] == '\\') {
    // \\server\share\ : everything up to the fourth backslash.
    uint32_t seen = 0;
    size_t i = 0;
    for (; name[i]; ++i) {
      if (name[i] == '\\' && ++seen == 4) break;
    }
    skip = name[i] ? i + 1 : i;
  } else if (name[0] && name[1] == ':' && name[2] == '\\') {
    skip = 3;
  }
  if (skip) memmove(name, name + skip, strlen(name + skip) + 1);
}

void CleanEntryName(char* name, uint32_t capacity) {
  if (capacity == 0) return;
  name[capacity - 1] = 0;
  size_t len = strlen(name);
  size_t scan = 0;
  for (;;) {
    const char* hit = StrFindPair(name + scan, '.', '.');
    if (!hit) break;
    size_t at = static_cast<size_t>(hit - name);
    if (IsSeparator(name[at + 2])) {
      memmove(name + at, name + at + 3, len - at - 2);
      len -= 3;
      scan = at;
    } else if (at == 0 || IsSeparator(name[at - 1])) {
      // A leading "..x" is treated like "\..x": the dots go.
      memmove(name + at, name + at + 2, len - at - 1);
      len -= 2;
      scan = at;
    } else {
      scan = at + 2;
    }
  }
  while (name[0] == '.' && IsSeparator(name[1])) {
    memmove(name, name + 2, len - 1);
    len -= 2;
  }
  size_t lead = 0;
  while (IsSeparator(name[lead])) ++lead;
  if (lead) {
    memmove(name, name + lead, len - lead + 1);
    len -= lead;
  }
  for (char* p = name; *p; ++p) {
    if (IsBadNameChar(static_cast<unsigned char>(*p))) *p = '_';
  }
}

// ---------------------------------------------------------------------------
// Entry heads
// ---------------------------------------------------------------------------

uint32_t DecodeEntryHead(const uint8_t* head, uint32_t size, FileEntry* entry,
                         EntryDecodeContext* context) {
  ResetEntryFields(entry);
  BlockHeader h = ParseBlockHeader(head);
  bool large = (h.flags & fmt::kEntryLargeSizes) != 0;
  uint32_t fixed = large ? fmt::kFileHeadFixed64 : fmt::kFileHeadFixed;
  if (size < fixed) return kErrData;
  uint32_t nameLength = LoadU16(head + (large ? fmt::kOffNameLength64 : fmt::kOffNameLength));
  if (nameLength > size - fixed) return kErrData;

  TakeName(head + fixed, nameLength, (h.flags & fmt::kEntryOemName) != 0, false,
           context->keepRoots, entry);
  entry->packedSize = LoadU32(head + fmt::kOffPackedLow);
  entry->unpackedSize = LoadU32(head + fmt::kOffUnpackedLow);
  if (large) {
    entry->packedSize |= static_cast<uint64_t>(LoadU32(head + fmt::kOffPackedHigh)) << 32;
    entry->unpackedSize |= static_cast<uint64_t>(LoadU32(head + fmt::kOffUnpackedHigh)) << 32;
  }
  entry->dosTime = LoadU32(head + fmt::kOffDosTime);
  entry->attributes = LoadU32(head + fmt::kOffAttributes);
  entry->version = head[fmt::kOffVersion];
  entry->crc = LoadU32(head + fmt::kOffCrc);
  entry->infoByte = head[fmt::kOffInfo];
  entry->method = head[fmt::kOffMethod];
  if (h.flags & fmt::kEntryEncrypted1) {
    entry->encryptionKind = 1;
  } else if (h.flags & fmt::kEntryEncrypted2) {
    entry->encryptionKind = 2;
  }
  entry->isEntry = 1;
  entry->flags = h.flags;
  entry->type = h.type;
  entry->filterByte = head[fmt::kOffFilter];
  entry->headCheck = h.headCheck;
  if (h.flags & fmt::kEntrySigned) context->signedSeen = true;
  if ((h.flags & fmt::kEntryContinued) && !context->continuationExpected) return kErrContinuation;
  return 0;
}

uint32_t DecodeFolderHead(const uint8_t* head, uint32_t size, FileEntry* entry,
                          EntryDecodeContext* context) {
  ResetEntryFields(entry);
  BlockHeader h = ParseBlockHeader(head);
  if (size < fmt::kFolderHeadFixed) return kErrData;
  uint32_t nameLength = LoadU16(head + fmt::kOffFolderNameLength);
  if (nameLength > size - fmt::kFolderHeadFixed) return kErrData;
  TakeName(head + fmt::kOffFolderName, nameLength, (h.flags & fmt::kEntryOemName) != 0, true,
           context->keepRoots, entry);
  entry->attributes = LoadU32(head + fmt::kOffFolderAttributes);
  entry->isEntry = 1;
  entry->flags = h.flags;
  entry->type = h.type;
  entry->headCheck = h.headCheck;
  if (h.flags & fmt::kEntrySigned) context->signedSeen = true;
  return 0;
}

void FreeEntryBuffers(FileEntry* entry) {
  if (!entry) return;
  MemFree(entry->comment);
  entry->comment = nullptr;
  entry->commentLength = 0;
}

// ---------------------------------------------------------------------------
// Volume names
// ---------------------------------------------------------------------------

namespace {

// Index of the dot that starts the extension of path's file name, or -1.
long ExtensionDot(const char* path) {
  const char* name = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '\\' || *p == '/') name = p + 1;
  }
  const char* dot = strrchr(name, '.');
  return dot ? static_cast<long>(dot - path) : -1;
}

long NameStart(const char* path) {
  long start = 0;
  for (long i = 0; path[i]; ++i) {
    if (path[i] == '\\' || path[i] == '/') start = i + 1;
  }
  return start;
}

}  // namespace

bool FormVolumeName(const char* current, uint32_t counter, char* out, uint32_t outSize) {
  char number[16];
  Format(number, sizeof(number), ".%03u", counter);
  size_t len = strlen(current);
  long dot = ExtensionDot(current);
  size_t stem = dot >= 0 ? static_cast<size_t>(dot) : len;
  if (stem + strlen(number) + 1 > outSize) return false;
  memmove(out, current, stem);
  strcpy(out + stem, number);
  return true;
}

bool SamePath(const char* a, const char* b) {
  char x[kPathSize], y[kPathSize];
  StrCopy(x, sizeof(x), a);
  StrCopy(y, sizeof(y), b);
  SlashesToBackslashes(x);
  SlashesToBackslashes(y);
  return StrCompareNoCase(x, y) == 0;
}

bool IsVolumeNameOf(const char* first, const char* path) {
  long firstDot = ExtensionDot(first);
  long pathDot = ExtensionDot(path);
  if (pathDot < 0) return false;
  size_t firstStem = firstDot >= 0 ? static_cast<size_t>(firstDot) : strlen(first);
  if (static_cast<size_t>(pathDot) != firstStem) return false;
  if (NameStart(first) != NameStart(path)) return false;
  char a[kPathSize], b[kPathSize];
  if (firstStem >= kPathSize) return false;
  memcpy(a, first, firstStem);
  a[firstStem] = 0;
  memcpy(b, path, firstStem);
  b[firstStem] = 0;
  for (char* p = a; *p; ++p) if (*p == '/') *p = '\\';
  for (char* p = b; *p; ++p) if (*p == '/') *p = '\\';
  if (StrCompareNoCase(a, b) != 0) return false;
  const char* digits = path + pathDot + 1;
  size_t n = strlen(digits);
  if (n < 3 || n > 9) return false;
  uint32_t value = 0;
  for (size_t i = 0; i < n; ++i) {
    if (digits[i] < '0' || digits[i] > '9') return false;
    value = value * 10 + static_cast<uint32_t>(digits[i] - '0');
  }
  if (value == 0) return false;
  char formed[16];
  Format(formed, sizeof(formed), "%03u", value);
  return strcmp(formed, digits) == 0;
}

// ---------------------------------------------------------------------------
// Masks
// ---------------------------------------------------------------------------

namespace {

// Upper-cased copy with backslashes and without a drive or network root or
// leading separators; split at the last backslash.
void SplitForMatch(const char* text, char* folder, char* file) {
  char work[kPathSize];
  StrCopy(work, sizeof(work), text);
  for (char* p = work; *p; ++p) if (*p == '/') *p = '\\';
  RemoveNameRoot(work);
  char* start = work;
  if (start[0] && start[1] == ':') start += 2;
  while (*start == '\\') ++start;
  StrUpper(start);
  char* slash = strrchr(start, '\\');
  if (slash) {
    size_t n = static_cast<size_t>(slash - start) + 1;
    memcpy(folder, start, n);
    folder[n] = 0;
    strcpy(file, slash + 1);
  } else {
    folder[0] = 0;
    strcpy(file, start);
  }
}

}  // namespace

bool MaskMatches(const char* mask, const char* name) {
  char maskFolder[kPathSize], maskFile[kPathSize], nameFolder[kPathSize], nameFile[kPathSize];
  SplitForMatch(mask, maskFolder, maskFile);
  SplitForMatch(name, nameFolder, nameFile);
  bool fileMatches = strcmp(maskFile, "*.*") == 0 || strcmp(maskFile, "*") == 0 ||
                     WildcardMatch(nameFile, maskFile);
  if (!fileMatches) return false;
  if (maskFile[0] == '*') {
    return maskFolder[0] == 0 || strncmp(nameFolder, maskFolder, strlen(maskFolder)) == 0;
  }
  return strcmp(maskFolder, nameFolder) == 0;
}

}  // namespace tvk
