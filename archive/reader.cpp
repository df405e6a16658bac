// The TVK reader: the block walk, the main header, comments, opening and
// volumes. Extraction and listing are in extract.cpp and list.cpp.
#include "archive/reader.h"

#include <string.h>

#include "archive/blocks.h"
#include "archive/format.h"
#include "platform/result_codes.h"

namespace tvk {

ArchiveReader::ArchiveReader() { output_.error = &error_; }

ArchiveReader::~ArchiveReader() { Close(); }

void ArchiveReader::Reset() {
  ArchiveHandler::Reset();
  FreeDecodeRun(run_);
}

void ArchiveReader::CloseArchiveFile() {
  if (file_ != TVK_INVALID_FILE) FileClose(file_);
  file_ = TVK_INVALID_FILE;
  sizeOf_ = TVK_INVALID_FILE;
  // The next handle may carry the same number: nothing read is kept.
  cacheLength_ = 0;
  readPosition_ = 0;
  filePosition_ = 0;
}

// A file just opened stands at its start; reads of the archive go through a
// window of it, so that a walk over small heads costs one system call per
// window instead of several per block. Large reads bypass the window.
int64_t ArchiveReader::ReadIn(void* dest, uint32_t n) {
  if (file_ == TVK_INVALID_FILE) return -1;
  uint8_t* out = static_cast<uint8_t*>(dest);
  uint32_t done = 0;
  while (done < n) {
    const uint64_t pos = readPosition_;
    if (pos >= cacheStart_ && pos - cacheStart_ < cacheLength_) {
      uint32_t offset = static_cast<uint32_t>(pos - cacheStart_);
      uint32_t take = cacheLength_ - offset;
      if (take > n - done) take = n - done;
      memcpy(out + done, cache_ + offset, take);
      done += take;
      readPosition_ += take;
      continue;
    }
    if (!cache_) cache_ = static_cast<uint8_t*>(MemAlloc(kReadCacheSize));  // none: read directly
    if (filePosition_ != static_cast<int64_t>(pos)) {
      if (FileSeek(file_, static_cast<int64_t>(pos), kSeekStart) < 0) return -1;
      filePosition_ = static_cast<int64_t>(pos);
    }
    uint32_t want = n - done;
    bool direct = !cache_ || want >= kReadCacheSize / 2;
    int32_t got = FileRead(file_, direct ? out + done : cache_, direct ? want : kReadCacheSize);
    if (got < 0) {
      filePosition_ = -1;
      return -1;
    }
    filePosition_ += got;
    if (direct) {
      done += static_cast<uint32_t>(got);
      readPosition_ += static_cast<uint32_t>(got);
    } else {
      cacheStart_ = pos;
      cacheLength_ = static_cast<uint32_t>(got);
    }
    if (got == 0) break;
  }
  return done;
}

bool ArchiveReader::SeekIn(uint64_t position) {
  if (file_ == TVK_INVALID_FILE || position > static_cast<uint64_t>(INT64_MAX)) return false;
  readPosition_ = position;
  return true;
}

// Asked once per opened volume rather than once per block: a volume does not
// change size while it is read. The answer belongs to the handle it was
// asked for, and closing through CloseArchiveFile forgets it.
int64_t ArchiveReader::ArchiveFileSize() {
  if (sizeOf_ != file_ || file_ == TVK_INVALID_FILE) {
    knownSize_ = FileSize(file_);
    sizeOf_ = file_;
  }
  return knownSize_;
}

void ArchiveReader::ClearState() {
  CloseArchiveFile();
  DiscardOutput(&output_, false);
  DestroyDecoderObjects();
  volumePath_[0] = 0;
  firstVolumePath_[0] = 0;
  archiveStart_ = mainHeaderLength_ = bodyStart_ = blockPosition_ = 0;
  volumeCounter_ = 0;
  continuation_ = 0;
  newArchive_ = 0;
  dictionaryKiB_ = 32;
  opened_ = 0;
  encryptedHeads_ = solid_ = multiVolume_ = lastVolume_ = hasComment_ = signed_ = 0;
  signatureSeen_ = 0;
  signaturePosition_ = endMarkerPosition_ = 0;
  recoverySeen_ = 0;
  recoveryPosition_ = 0;
  recoveryValue_ = 0;
  memset(&signature_, 0, sizeof(signature_));
  digestKind_ = kDigestMd5;
  SecureZero(enteredEntryPassword_, sizeof(enteredEntryPassword_));
  SecureZero(activeEntryPassword_, sizeof(activeEntryPassword_));
  SecureZero(enteredArchivePassword_, sizeof(enteredArchivePassword_));
  SecureZero(activeArchivePassword_, sizeof(activeArchivePassword_));
  haveArchivePassword_ = 0;
  testMode_ = skip_ = askAgain_ = runCode_ = 0;
  output_.path[0] = output_.tempPath[0] = output_.failedPath[0] = 0;
  paths_.targetFolder[0] = paths_.baseFolder[0] = paths_.storedFolder[0] = 0;
  include_ = exclude_ = nullptr;
}

void ArchiveReader::Close() {
  ClearState();
  MemFree(cache_);
  cache_ = nullptr;
  ArchiveHandler::Close();
}

void ArchiveReader::SetOptions(uint32_t kind, const void* record) {
  uint32_t before = error_;
  ArchiveHandler::SetOptions(kind, record);
  if (error_ != before || kind != kOptionsExtraction || !record) return;
  // An empty target means the current folder; a separator behind it would
  // make it the root.
  if (extractOptions_.targetFolder[0]) AddBackslash(extractOptions_.targetFolder);
  StrCopy(paths_.targetFolder, sizeof(paths_.targetFolder), extractOptions_.targetFolder);
  StrCopy(paths_.baseFolder, sizeof(paths_.baseFolder), extractOptions_.baseFolder);
  StrCopy(paths_.storedFolder, sizeof(paths_.storedFolder), extractOptions_.storedFolder);
}

// ---------------------------------------------------------------------------
// Heads
// ---------------------------------------------------------------------------

bool ArchiveReader::AskHeaderPassword() {
  if (!callbacks_.headerPassword) {
    SetError(kErrCancelled);
    return false;
  }
  char triedLast[kPathSize];
  StrCopy(triedLast, sizeof(triedLast), enteredArchivePassword_);
  SecureZero(enteredArchivePassword_, sizeof(enteredArchivePassword_));
  char name[kPathSize];
  CopyNamePart(name, sizeof(name), volumePath_);
  int answer = callbacks_.headerPassword(callbacks_.headerPasswordUser, triedLast,
                                         enteredArchivePassword_, name);
  SecureZero(triedLast, sizeof(triedLast));
  enteredArchivePassword_[kPasswordAnswerSize - 1] = 0;
  if (answer == 0) {
    SecureZero(enteredArchivePassword_, sizeof(enteredArchivePassword_));
    SetError(kErrCancelled);
    return false;
  }
  StrCopy(activeArchivePassword_, sizeof(activeArchivePassword_), enteredArchivePassword_);
  haveArchivePassword_ = 1;
  return true;
}

bool ArchiveReader::ReadBlockHead(uint32_t* headLength) {
  *headLength = 0;
  if (!headBuffer_) {
    SetError(kErrMemory);
    return false;
  }
  uint8_t* head = headBuffer_;
  if (!encryptedHeads_) {
    int64_t got = ReadIn(head, fmt::kBlockHeadSize);
    if (got == 0) return false;  // the end of the file at a block boundary
    if (got != fmt::kBlockHeadSize) {
      SetError(kErrFileAccess);
      return false;
    }
    uint32_t size = LoadU16(head + 5);
    // A head cut short is a damaged archive, not a clean end of the walk.
    if (size < fmt::kBlockHeadSize) {
      SetError(kErrData);
      return false;
    }
    uint32_t rest = size - fmt::kBlockHeadSize;
    if (rest && ReadIn(head + fmt::kBlockHeadSize, rest) != rest) {
      SetError(kErrData);
      return false;
    }
    if (!HeadCheckGood(head, size)) {
      SetError(kErrData);
      return false;
    }
    *headLength = size;
    return true;
  }

  // Where the head starts, to read it again after a wrong password.
  const uint64_t start = readPosition_;
  bool askAgain = false;
  for (;;) {
    uint8_t lengthBytes[2];
    int64_t got = ReadIn(lengthBytes, 2);
    if (got == 0) return false;
    if (got != 2) {
      SetError(kErrFileAccess);
      return false;
    }
    uint32_t length = LoadU16(lengthBytes);
    if (length && ReadIn(head, length) != length) {
      SetError(kErrData);
      return false;
    }
    if (!haveArchivePassword_ || askAgain) {
      if (!AskHeaderPassword()) return false;
    }
    if (OpenEncryptedHead(activeArchivePassword_, head, length)) {
      *headLength = length + 2;
      return true;
    }
    // Taken as a wrong archive password: the same head again after a new
    // answer. The callback gets the password that just failed, so a host
    // that hands out a stored password stops offering it.
    SeekIn(start);
    askAgain = true;
  }
}

bool ArchiveReader::ReadComment(uint64_t position, FileEntry* entry,
                                uint32_t* lengthInFile) {
  *lengthInFile = 0;
  if (position != kNoPosition && !SeekIn(position)) {
    SetError(kErrFileAccess);
    return false;
  }
  if (entry) entry->commentPosition = readPosition_;
  uint32_t length = 0;
  if (!ReadBlockHead(&length)) {
    SetError(kErrData);  // an announced comment is missing
    return false;
  }
  BlockHeader h = ParseBlockHeader(headBuffer_);
  if (h.size == fmt::kCommentHeadSize) {
    *lengthInFile = length;
    return true;
  }
  if (h.type != fmt::kTypeComment || h.size > fmt::kMaxCommentHeadSize ||
      h.size < fmt::kCommentHeadSize) {
    SetError(kErrData);
    return false;
  }
  const uint8_t* text = headBuffer_ + fmt::kCommentHeadSize;
  uint32_t textLength = h.size - fmt::kCommentHeadSize;
  // Room for the system form: up to three bytes per character.
  uint32_t capacity = textLength * 3 + 4;
  char* out = static_cast<char*>(MemAllocZero(capacity));
  if (!out) {
    SetError(kErrMemory);
    return false;
  }
  uint32_t outLength;
  if (h.flags & fmt::kCommentUtf16) {
    outLength = Utf16ToSystem(text, textLength / 2, out, capacity);
  } else {
    memcpy(out, text, textLength);
    uint32_t n = static_cast<uint32_t>(strlen(out));
    outLength = (h.flags & fmt::kCommentOem) ? OemToSystem(out, n, capacity)
                                             : AnsiToSystem(out, n, capacity);
  }
  out[capacity - 1] = 0;
  if (entry) {
    MemFree(entry->comment);
    entry->comment = out;
    entry->commentLength = outLength;
  } else {
    MemFree(archiveComment_);
    archiveComment_ = out;
    archiveCommentLength_ = outLength;
  }
  *lengthInFile = length;
  return true;
}

bool ArchiveReader::LocateMainHeader() {
  const uint64_t saved = readPosition_;
  int64_t size = ArchiveFileSize();
  if (size < 0 || !SeekIn(0)) {
    SetError(kErrFileAccess);
    return false;
  }
  uint32_t n = size > fmt::kArchiveSearchLimit ? fmt::kArchiveSearchLimit
                                               : static_cast<uint32_t>(size);
  uint8_t* buffer = static_cast<uint8_t*>(MemAlloc(n ? n : 1));
  if (!buffer) {
    SeekIn(saved);
    SetError(kErrMemory);
    return false;
  }
  if (ReadIn(buffer, n) != n) {
    MemFree(buffer);
    SeekIn(saved);
    SetError(kErrFileAccess);
    return false;
  }
  uint32_t h = 0, headSize = 0;
  const bool found = FindMainHeader(buffer, n, &h, &headSize);
  const uint16_t flags = found ? ParseBlockHeader(buffer + h).flags : 0;
  MemFree(buffer);
  SeekIn(saved);
  if (!found) return false;

  archiveStart_ = h;
  encryptedHeads_ = (flags & fmt::kArcEncryptedHeads) != 0;
  solid_ = (flags & fmt::kArcSolid) != 0;
  multiVolume_ = (flags & fmt::kArcMultiVolume) != 0;
  lastVolume_ = (flags & fmt::kArcLastVolume) != 0;
  hasComment_ = (flags & fmt::kArcComment) != 0;
  if (flags & fmt::kArcSigned) signed_ = 1;
  mainHeaderLength_ = headSize;
  if (hasComment_) {
    uint32_t commentLength = 0;
    const uint64_t back = readPosition_;
    bool ok = ReadComment(h + headSize, nullptr, &commentLength);
    SeekIn(back);
    if (!ok) return false;
    mainHeaderLength_ += commentLength;
  }
  return true;
}

bool ArchiveReader::NextBlock(FileEntry* entry) {
  FreeEntryBuffers(entry);
  memset(entry, 0, sizeof(*entry));
  entry->dstvPosition = entry->latvPosition = entry->commentPosition = kNoPosition;
  const uint64_t p = blockPosition_;
  entry->blockPosition = p;
  if (error_ || file_ == TVK_INVALID_FILE) return false;

  int64_t fileSize = ArchiveFileSize();
  if (fileSize < 0 || !SeekIn(p)) {
    SetError(kErrFileAccess);
    return false;
  }
  // A block that claims to start behind the end of its volume means the data
  // before it was cut short.
  if (p > static_cast<uint64_t>(fileSize)) {
    SetError(kErrData);
    return false;
  }
  uint32_t length = 0;
  if (!ReadBlockHead(&length)) return false;
  BlockHeader h = ParseBlockHeader(headBuffer_);
  uint64_t headTotal = length;
  uint64_t dataLength = 0;
  bool subBlocks = true;
  EntryDecodeContext context{continuation_ != 0, compressOptions_.keepRoots != 0, false};

  switch (h.type) {
    case fmt::kTypeRecovery: {
      if (h.size < fmt::kRecoveryHeadSize) {
        SetError(kErrData);
        return false;
      }
      recoveryValue_ = LoadU32(headBuffer_ + fmt::kOffRecoveryValue);
      recoveryPosition_ = p;
      recoverySeen_ = 1;
      uint64_t b = LoadU64(headBuffer_ + fmt::kOffRecoveryB);
      uint64_t a = LoadU64(headBuffer_ + fmt::kOffRecoveryA);
      // 2 x (256 x A + B), refused when it cannot be a position.
      const uint64_t limit = static_cast<uint64_t>(INT64_MAX);
      if (a > limit / 512 || b > limit / 2 || 256 * a > limit / 2 - b) {
        SetError(kErrData);
        return false;
      }
      dataLength = 2 * (256 * a + b);
      subBlocks = false;
      break;
    }
    case fmt::kTypeSignature:
      signaturePosition_ = p;
      signatureSeen_ = 1;
      return false;
    case fmt::kTypeEnd:
      endMarkerPosition_ = p;
      return false;
    case fmt::kTypeFile:
    case fmt::kTypeFolder: {
      uint32_t err = h.type == fmt::kTypeFile
                         ? DecodeEntryHead(headBuffer_, h.size, entry, &context)
                         : DecodeFolderHead(headBuffer_, h.size, entry, &context);
      if (context.signedSeen) signed_ = 1;
      if (err) {
        SetError(err);
        return false;
      }
      dataLength = entry->packedSize;
      break;
    }
    default:
      entry->isEntry = 0;
      entry->type = h.type;
      entry->flags = h.flags;
      break;
  }
  entry->dstvPosition = entry->latvPosition = entry->commentPosition = kNoPosition;
  entry->blockPosition = p;

  uint16_t lastFlags = h.flags;
  while (subBlocks && (lastFlags & fmt::kFlagSubBlock)) {
    const uint64_t at = readPosition_;
    if (!ReadBlockHead(&length)) {
      SetError(kErrData);  // an announced sub-block is missing
      return false;
    }
    headTotal += length;
    BlockHeader sub = ParseBlockHeader(headBuffer_);
    lastFlags = sub.flags;
    if (sub.type != fmt::kTypeExtension || sub.size < fmt::kExtensionTagOffset + 4) continue;
    const uint8_t* tag = headBuffer_ + fmt::kExtensionTagOffset;
    if (memcmp(tag, fmt::kTagFileTimes, 4) == 0 && sub.size >= fmt::kFileTimesHeadSize) {
      FileTime* local[3] = {&entry->creationTime, &entry->lastAccessTime, &entry->lastWriteTime};
      for (int i = 0; i < 3; ++i) {
        const uint8_t* t = headBuffer_ + 11 + 8 * i;
        entry->utcTimes[i].low = LoadU32(t);
        entry->utcTimes[i].high = LoadU32(t + 4);
        if (!UtcToLocalFileTime(&entry->utcTimes[i], local[i])) *local[i] = entry->utcTimes[i];
      }
      entry->hasWindowsTimes = 1;
    } else if (memcmp(tag, fmt::kTagDstv, 4) == 0) {
      if (entry->dstvPosition == kNoPosition) entry->dstvPosition = at;
    } else if (memcmp(tag, fmt::kTagLatv, 4) == 0) {
      if (entry->latvPosition == kNoPosition) entry->latvPosition = at;
    } else if (memcmp(tag, fmt::kTagUnixMode, 4) == 0 && sub.size >= fmt::kUnixModeHeadSize) {
      entry->unixMode = LoadU32(headBuffer_ + 11);
      entry->hasUnixMode = 1;
    }
  }

  if (entry->isEntry && (entry->flags & fmt::kEntryComment)) {
    uint32_t commentLength = 0;
    if (!ReadComment(kNoPosition, entry, &commentLength)) return false;
    headTotal += commentLength;
  }

  const uint64_t limit = static_cast<uint64_t>(INT64_MAX);
  if (headTotal > 0xFFFFFFFFu || dataLength > limit || p > limit - headTotal ||
      p + headTotal > limit - dataLength) {
    SetError(kErrData);
    return false;
  }
  entry->headTotal = static_cast<uint32_t>(headTotal);
  blockPosition_ = p + headTotal + dataLength;
  return true;
}

// ---------------------------------------------------------------------------
// Opening and volumes
// ---------------------------------------------------------------------------

bool ArchiveReader::OpenVolume() {
  if (!LocateMainHeader()) return false;
  bodyStart_ = archiveStart_ + mainHeaderLength_;
  return true;
}

bool ArchiveReader::OpenCurrentVolume() {
  CloseArchiveFile();
  file_ = FileOpen(volumePath_, "r");
  if (file_ == TVK_INVALID_FILE) {
    SetError(kErrFileAccess);
    return false;
  }
  if (!OpenVolume()) {
    CloseArchiveFile();
    SetError(kErrNotArchive);
    return false;
  }
  return true;
}

bool ArchiveReader::VolumeExists(const char* path) { return FileExists(path) != 0; }

uint32_t ArchiveReader::Open(const char* path) {
  if (opened_) Close();
  ArchiveHandler::Open(path);
  if (error_) return error_;
  signed_ = 0;
  if (!path || StrCopy(volumePath_, sizeof(volumePath_), path) != kStrOk) {
    SetError(kErrFileAccess);
    return error_;
  }
  opened_ = 1;
  if (!VolumeExists(path)) {
    newArchive_ = 1;
    return 0;
  }
  file_ = FileOpen(path, "r");
  if (file_ == TVK_INVALID_FILE) {
    SetError(kErrFileAccess);
    return error_;
  }
  if (!LocateMainHeader()) {
    CloseArchiveFile();
    SetError(kErrNotArchive);
    return error_;
  }
  bodyStart_ = archiveStart_ + mainHeaderLength_;
  blockPosition_ = bodyStart_;
  continuation_ = 1;
  FileEntry entry;
  memset(&entry, 0, sizeof(entry));
  while (NextBlock(&entry)) {
    if (!entry.isEntry) continue;
    bodyStart_ = entry.blockPosition;
    uint32_t d = (entry.flags & fmt::kEntryDictMask) >> fmt::kEntryDictShift;
    dictionaryKiB_ = d > 10 ? 32 : 32u << d;
    break;
  }
  FreeEntryBuffers(&entry);
  continuation_ = 0;
  blockPosition_ = bodyStart_;
  CloseArchiveFile();
  return error_;
}

bool ArchiveReader::NextVolume(bool promptAllowed) {
  if (error_) return false;
  ++volumeCounter_;
  char expected[kPathSize];
  if (!FormVolumeName(volumePath_, volumeCounter_, expected, sizeof(expected))) {
    SetError(kErrFileAccess);
    return false;
  }
  if (VolumeExists(expected)) {
    StrCopy(volumePath_, sizeof(volumePath_), expected);
    return true;
  }
  if (!promptAllowed) return false;
  if (!callbacks_.nextVolume) {
    SetError(kErrMissingVolume);
    return false;
  }
  char name[kPathSize];
  CopyNamePart(name, sizeof(name), expected);
  for (;;) {
    char buffer[kPathSize];
    StrCopy(buffer, sizeof(buffer), expected);
    int answer = callbacks_.nextVolume(callbacks_.nextVolumeUser, buffer, 0, volumeCounter_ + 1,
                                       volumeCounter_ + 1);
    if (answer != 1) {
      SetError(kErrCancelled);
      return false;
    }
    buffer[kPathSize - 1] = 0;
    char candidate[kPathSize];
    StrCopy(candidate, sizeof(candidate), buffer);
    size_t n = strlen(candidate);
    if (n && candidate[n - 1] != '\\' && candidate[n - 1] != '/') {
      StrAppend(candidate, sizeof(candidate), "\\");
    }
    if (StrAppend(candidate, sizeof(candidate), name) == kStrOk && VolumeExists(candidate)) {
      StrCopy(volumePath_, sizeof(volumePath_), candidate);
      return true;
    }
  }
}

bool ArchiveReader::SwitchVolume() {
  if (!NextVolume(true)) {
    SetError(kErrMissingVolume);
    return false;
  }
  if (!OpenCurrentVolume()) return false;
  blockPosition_ = archiveStart_ + mainHeaderLength_;
  bodyStart_ = blockPosition_;
  if (callbacks_.runStart) WalkForRunStart();
  continuation_ = 1;
  FileEntry entry;
  memset(&entry, 0, sizeof(entry));
  bool found = false;
  while (NextBlock(&entry)) {
    if (entry.isEntry) {
      found = true;
      break;
    }
  }
  // Only a file entry can carry the rest of a file's data.
  if (!found || entry.type != fmt::kTypeFile) {
    FreeEntryBuffers(&entry);
    SetError(kErrData);
    return false;
  }
  const uint64_t limit = static_cast<uint64_t>(INT64_MAX);
  decode_.packedLeft = entry.packedSize > limit ? INT64_MAX : static_cast<int64_t>(entry.packedSize);
  decode_.continues = (entry.flags & fmt::kEntryContinues) != 0;
  decode_.storedCrc = entry.crc;
  uint64_t data = entry.blockPosition + entry.headTotal;
  FreeEntryBuffers(&entry);
  if (!SeekIn(data)) {
    SetError(kErrFileAccess);
    return false;
  }
  return true;
}

int32_t ArchiveReader::ReadArchive(void* dest, uint32_t n) {
  if (file_ == TVK_INVALID_FILE) return -1;
  int64_t got = ReadIn(dest, n);
  return got < 0 ? -1 : static_cast<int32_t>(got);
}

}  // namespace tvk
