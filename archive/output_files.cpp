// Output files. A name nobody has yet is made at once under that name, so no
// one's file is at stake and nothing has to be moved afterwards. A name that
// is taken (a file, a folder, a link) is written under a temporary name beside
// it and put in place only when the entry is complete and checked.
#include "archive/output_files.h"

#include <string.h>

#include "archive/path_rules.h"
#include "archive/reader.h"
#include "platform/result_codes.h"

namespace tvk {

namespace {

#if defined(_WIN32)
constexpr bool kModeAtCreation = false;
#else
constexpr bool kModeAtCreation = true;
#endif

// Names handed to the queue since it was last through, as bits of a hash:
// a false alarm costs a wait, never a wrong answer.
uint32_t NameBit(const char* path) {
  uint32_t h = 2166136261u;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(path); *p; ++p) {
    h = (h ^ *p) * 16777619u;
  }
  return h ^ (h >> 16);
}

void NoteQueued(OutputFile* out, const char* path) {
  uint32_t bit = NameBit(path) % (sizeof(out->queuedNames) * 8);
  out->queuedNames[bit / 64] |= uint64_t(1) << (bit % 64);
}

void RestoreAttributes(const char* path, const FileEntry& entry, uint32_t attributeMode) {
  uint32_t stored = entry.attributes & ~kAttrDirectory;
  switch (attributeMode) {
    case kAttrModeStored: FileSetAttributes(path, stored); break;
    case kAttrModeWithoutArchiveBit: FileSetAttributes(path, stored & ~kAttrArchive); break;
    case kAttrModeWithArchiveBit: FileSetAttributes(path, stored | kAttrArchive); break;
    default: break;
  }
}

void SetError(OutputFile* out, uint32_t code) {
  if (code && *out->error == 0) *out->error = code;
}

#if !defined(_WIN32)
// Under its own name where that is free, else beside it and renamed over
// what is there: a file or a link gives way, a folder does not (nor does
// anything in it get written through the link).
bool MakeLink(const char* path, uint32_t root, const char* target) {
  int taken = 0;
  if (MakeLinkBelow(path, root, target, &taken)) return true;
  if (!taken) return false;
  char folder[kPathSize];
  FolderWithSeparator(folder, sizeof(folder), path);
  for (uint32_t i = 0; i < 100000; ++i) {
    char candidate[kPathSize];
    StrFormat(candidate, sizeof(candidate), "%s~tvk%05u.tmp", folder, i);
    if (strlen(candidate) < strlen(folder) + 13) return false;  // did not fit
    if (MakeLinkBelow(candidate, root, target, &taken)) {
      if (RenameBelow(candidate, path, root)) return true;
      DeleteBelow(candidate, root);
      return false;
    }
    if (!taken) return false;
  }
  return false;
}
#endif

// Links come after every file of the run, so that no later entry can be
// written through one; a link's own parent is reached without following
// links, and its target, wherever it points, is never opened.
void MakeLinks(OutputFile* out) {
#if !defined(_WIN32)
  for (uint32_t at = 0; at < out->linksUsed;) {
    uint32_t root;
    memcpy(&root, out->links + at, 4);
    const char* path = out->links + at + 4;
    const char* target = path + strlen(path) + 1;
    at = static_cast<uint32_t>(target + strlen(target) + 1 - out->links);
    if (MakeLink(path, root, target)) continue;
    SetError(out, kErrFileAccess);
    if (!out->failedPath[0]) StrCopy(out->failedPath, sizeof(out->failedPath), path);
  }
#endif
  MemFree(out->links);
  out->links = nullptr;
  out->linksUsed = out->linksSize = 0;
}

}  // namespace

#if !defined(_WIN32)
bool IsLinkEntry(const FileEntry& entry) {
  return entry.hasUnixMode && (entry.unixMode & fmt::kUnixTypeMask) == fmt::kUnixTypeLink;
}
#endif

void CaptureLink(OutputFile* out, const uint8_t* data, uint32_t n) {
  if (out->linkLength > fmt::kMaxLinkTarget || n > fmt::kMaxLinkTarget - out->linkLength) {
    out->linkLength = kNoLink;
    return;
  }
  memcpy(out->linkTarget + out->linkLength, data, n);
  out->linkLength += n;
}

bool LinkTargetIsSound(const OutputFile& out) {
  return out.linkLength > 0 && out.linkLength <= fmt::kMaxLinkTarget &&
         !memchr(out.linkTarget, 0, out.linkLength);
}

bool QueueLink(OutputFile* out) {
  const uint32_t length = out->linkLength;
  out->linkLength = kNoLink;
  if (length == kNoLink) return true;  // damaged, and forgiven: nothing to make
  out->linkTarget[length] = 0;
  const uint32_t pathLength = static_cast<uint32_t>(strlen(out->path));
  const uint32_t need = 4 + pathLength + 1 + length + 1;
  if (need > out->linksSize - out->linksUsed) {
    // Doubling keeps a tree of many links to a few copies in all.
    uint32_t size = out->linksSize ? out->linksSize : 4096;
    while (size - out->linksUsed < need) {
      if (size > 0x40000000u) return false;
      size *= 2;
    }
    char* grown = static_cast<char*>(MemAlloc(size));
    if (!grown) return false;
    if (out->linksUsed) memcpy(grown, out->links, out->linksUsed);
    MemFree(out->links);
    out->links = grown;
    out->linksSize = size;
  }
  char* at = out->links + out->linksUsed;
  memcpy(at, &out->root, 4);
  memcpy(at + 4, out->path, pathLength + 1);
  memcpy(at + 4 + pathLength + 1, out->linkTarget, length + 1);
  out->linksUsed += need;
  return true;
}

bool MaybeQueued(const OutputFile& out, const char* path) {
  uint32_t bit = NameBit(path) % (sizeof(out.queuedNames) * 8);
  return (out.queuedNames[bit / 64] >> (bit % 64)) & 1;
}

// The queue's failure, once everything handed to it is done. It stays with
// the queue until the run ends, so that an error the run forgives or asks
// again about (a wrong password) cannot hide it.
void WaitForOutputQueue(OutputFile* out) {
  SetError(out, OutputQueueWait());
  memset(out->queuedNames, 0, sizeof(out->queuedNames));
}

// Linux files are made with their final permission bits: the stored Unix
// mode (no set-uid, set-gid or sticky bit), or as any new file without one;
// no write access at all for a read-only entry; less the umask as for any new
// file, so nothing becomes writable by others that the user's setting
// forbids.
#if !defined(_WIN32)
uint32_t OutputFileMode(const FileEntry& entry, const ExtractOptions& options) {
  uint32_t mode = entry.hasUnixMode ? entry.unixMode & 0777 : 0666;
  if (options.attributeMode <= kAttrModeWithArchiveBit && (entry.attributes & kAttrReadOnly)) {
    mode &= ~0222u;
  }
  return mode;
}
#endif

OutputCreation CreateOutput(OutputFile* out, uint32_t mode) {
  out->tempPath[0] = 0;
  out->fresh = 0;
  // The lookup found the name free: the queue makes the file.
  if (out->nameFree && OutputQueueOpen(out->path, out->root, mode)) {
    NoteQueued(out, out->path);
    out->handle = TVK_QUEUED_FILE;
    out->fresh = 1;
    return kOutputCreated;
  }
  // Creation only succeeds where the name is free, and is itself the one
  // lookup that answers whether it is; missing folders are made on the way.
  int taken = 0;
  out->handle = CreateNewFileBelow(out->path, out->root, mode, &taken);
  if (out->handle != TVK_INVALID_FILE) {
    out->fresh = 1;
    return kOutputCreated;
  }
  return taken ? kOutputNameTaken : kOutputNotMade;
}

bool CreateOutputBeside(OutputFile* out, uint32_t mode) {
  char folder[kPathSize];
  FolderWithSeparator(folder, sizeof(folder), out->path);
  int taken = 0;
  for (uint32_t i = 0; i < 100000; ++i) {
    char candidate[kPathSize];
    StrFormat(candidate, sizeof(candidate), "%s~tvk%05u.tmp", folder, i);
    if (strlen(candidate) < strlen(folder) + 13) break;  // did not fit
    // A name taken by anything at all is passed over.
    out->handle = CreateNewFileBelow(candidate, out->root, mode, &taken);
    if (out->handle != TVK_INVALID_FILE) {
      StrCopy(out->tempPath, sizeof(out->tempPath), candidate);
      return true;
    }
    if (!taken) return false;  // the folder cannot be written
  }
  // No temporary name to be had. Writing in place would put what is there
  // at stake before the entry is known to be whole, and would write through
  // whatever it is (a link, a file of someone else's): the entry ends here
  // and that file stays as it was.
  return false;
}

bool MakeOutputFolder(OutputFile* out, uint32_t attributes) {
  if (OutputQueueFolder(out->path, out->root)) {
    NoteQueued(out, out->path);
    return true;
  }
  if (!MakeFoldersBelow(out->path, out->root)) return false;
#if defined(_WIN32)
  // Linux folders take no attributes (a read-only folder there would
  // refuse its files).
  FileSetAttributes(out->path, attributes & ~kAttrDirectory);
#else
  (void)attributes;
#endif
  return true;
}

void WriteOutput(OutputFile* out, const uint8_t* data, uint32_t n) {
  if (out->handle == TVK_INVALID_FILE || n == 0) return;
  if (out->fresh) {
    OutputQueueWrite(out->handle, data, n);
    SetError(out, OutputQueueFailure());
    return;
  }
  int32_t written = FileWrite(out->handle, data, n);
  if (written < 0 || static_cast<uint32_t>(written) != n) SetError(out, kErrWrite);
}

void DiscardOutput(OutputFile* out, bool keep) {
  if (out->handle == TVK_INVALID_FILE) return;
  if (out->handle == TVK_QUEUED_FILE) {
    OutputQueueDiscard(out->handle, keep, out->path, out->root);
    out->handle = TVK_INVALID_FILE;
    out->fresh = 0;
    WaitForOutputQueue(out);
    return;
  }
  // Bytes of this file may still be on their way.
  if (out->fresh) WaitForOutputQueue(out);
  FileClose(out->handle);
  out->handle = TVK_INVALID_FILE;
  const char* written = out->tempPath[0] ? out->tempPath : out->path;
  if (keep) {
    if (out->tempPath[0]) {
#if defined(_WIN32)
      // A read-only file in the way would refuse to be replaced.
      FileResetAttributes(out->path);
#endif
      if (!RenameBelow(out->tempPath, out->path, out->root)) DeleteBelow(out->tempPath, out->root);
    }
  } else {
    DeleteBelow(written, out->root);
  }
  out->tempPath[0] = 0;
  out->fresh = 0;
}

void FinishOutput(OutputFile* out, const FileEntry& entry, const ExtractOptions& options) {
  OutputStamp stamp{};
  stamp.exact = options.restoreWindowsTimes && entry.hasWindowsTimes;
  stamp.creation = entry.utcTimes[0];
  stamp.lastAccess = entry.utcTimes[1];
  stamp.lastWrite = entry.utcTimes[2];
  stamp.dosDate = static_cast<uint16_t>(entry.dosTime >> 16);
  stamp.dosTime = static_cast<uint16_t>(entry.dosTime & 0xFFFF);
  if (out->fresh) {
    // Its bytes went to the queue; the queue stamps and closes it after them.
    OutputQueueFinish(out->handle, stamp, out->path, out->root);
  } else {
    ApplyOutputStamp(out->handle, stamp);
    FileClose(out->handle);
  }
  out->handle = TVK_INVALID_FILE;
  out->fresh = 0;
  if (out->tempPath[0]) {
#if defined(_WIN32)
    // A read-only file in the way would refuse to be replaced; a rename on
    // Linux asks only the folder.
    if (FileExists(out->path)) FileSetAttributes(out->path, kAttrArchive);
#endif
    if (!RenameBelow(out->tempPath, out->path, out->root)) {
      DeleteBelow(out->tempPath, out->root);
      out->tempPath[0] = 0;
      SetError(out, kErrFileAccess);
      return;
    }
    out->tempPath[0] = 0;
  }
  if (out->written) out->written(out->writtenUser, out->path);
  if (!kModeAtCreation) RestoreAttributes(out->path, entry, options.attributeMode);
}

// The queue finishes files behind the run: the one that failed may lie
// entries behind the one the host was told of last. Without the queue's
// word a write error is the open output's own.
void EndOutputRun(OutputFile* out, bool writeFailed) {
  out->failedPath[0] = 0;
  if (OutputQueueFailure()) OutputQueueFailedPath(out->failedPath, sizeof(out->failedPath));
  if (!out->failedPath[0] && writeFailed) StrCopy(out->failedPath, sizeof(out->failedPath), out->path);
  OutputQueueClear();
  MakeLinks(out);
  ForgetOutputFolders();
}

}  // namespace tvk
