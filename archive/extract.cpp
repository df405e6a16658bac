// The extraction driver: selection, the overwrite question, entry keys,
// decoding, and the retry after a wrong password. Where entries go is
// decided in path_rules.cpp; the files they make are output_files.cpp's.
#include <string.h>

#include "archive/blocks.h"
#include "archive/entry_decode.h"
#include "archive/format.h"
#include "archive/output_files.h"
#include "archive/path_rules.h"
#include "archive/reader.h"
#include "crypto/cipher.h"
#include "platform/result_codes.h"

namespace tvk {

namespace {

bool PassesFilter(const EntryFilter* f, const FileEntry& e) {
  if (!f) return true;
  if (f->useAttributes && (e.attributes & f->attributeMask) != f->attributeValue) return false;
  auto inRange = [](uint32_t mode, uint64_t v, uint64_t from, uint64_t to) {
    switch (mode) {
      case kFilterBelow: return v < from;
      case kFilterAbove: return v > from;
      case kFilterBetween: return v >= from && v <= to;
      default: return true;
    }
  };
  return inRange(f->timeMode, e.dosTime, f->timeFrom, f->timeTo) &&
         inRange(f->sizeMode, e.unpackedSize, f->sizeFrom, f->sizeTo);
}

bool AnyMaskMatches(NameList* list, const char* name) {
  if (!list) return false;
  for (NameListNode* n = list->head; n; n = n->next) {
    const NameItem* item = static_cast<const NameItem*>(n->item);
    if (item && item->text && MaskMatches(item->text, name)) return true;
  }
  return false;
}

void StartsWithBackslash(char* out, uint32_t size, const char* name) {
  StrCopy(out, size, "\\");
  StrAppend(out, size, name);
}

}  // namespace

bool ArchiveReader::IsSelected(const FileEntry& entry) const {
  return AnyMaskMatches(include_, entry.name) && !AnyMaskMatches(exclude_, entry.name) &&
         PassesFilter(filter_, entry);
}

int ArchiveReader::OverwriteCheck(const FileEntry& entry, char* outputPath) {
  // Nothing to ask whether or not something is there: no lookup.
  if (!callbacks_.overwrite || extractOptions_.replaceWithoutAsking ||
      entry.type == fmt::kTypeFolder) {
    return kOverwriteReplace;
  }
  FindData existing;
  memset(&existing, 0, sizeof(existing));
  if (!FileFind(outputPath, &existing)) {
    output_.nameFree = 1;
    return kOverwriteReplace;
  }
  FindData incoming;
  memset(&incoming, 0, sizeof(incoming));
  incoming.attributes = entry.attributes;
  FileTime local{}, utc{};
  if (DosToFileTime(static_cast<uint16_t>(entry.dosTime >> 16),
                    static_cast<uint16_t>(entry.dosTime & 0xFFFF), &local) &&
      LocalToUtcFileTime(&local, &utc)) {
    incoming.creationTime = incoming.lastAccessTime = incoming.lastWriteTime = utc;
  }
  incoming.sizeHigh = static_cast<uint32_t>(entry.unpackedSize >> 32);
  incoming.sizeLow = static_cast<uint32_t>(entry.unpackedSize);
  StrCopy(incoming.name, sizeof(incoming.name), NamePart(entry.name));
  existing.name[sizeof(existing.name) - 1] = 0;
  int answer = callbacks_.overwrite(callbacks_.overwriteUser, &existing, &incoming);
  if (answer == kOverwriteReplaceExistingName) {
    // The existing file's own spelling of the name; it must stay one name.
    const char* own = existing.name;
    if (own[0] && !strchr(own, '\\') && !strchr(own, '/') && RelativeNameIsSafe(own)) {
      char folder[kPathSize];
      FolderWithSeparator(folder, sizeof(folder), outputPath);
      if (StrAppend(folder, sizeof(folder), own) == kStrOk) StrCopy(outputPath, kPathSize, folder);
    }
  }
  return answer;
}

// ---------------------------------------------------------------------------
// Output files
// ---------------------------------------------------------------------------

bool ArchiveReader::OpenOutputFile(const FileEntry& entry) {
  const uint32_t mode = OutputFileMode(entry, extractOptions_);
  OutputCreation made = CreateOutput(&output_, mode);
  if (made != kOutputNameTaken) return made == kOutputCreated;
  if (IsVolumeFile(Volumes(), output_.path)) {
    CloseArchiveFile();
    SetError(kErrOverwritesArchive);
    return false;
  }
  // A file of this run that failed on its way out is deleted by name: the
  // name is replaced only once no such deletion is pending.
  WaitForOutputQueue(&output_);
  if (error_) return false;
  return CreateOutputBeside(&output_, mode);
}

// ---------------------------------------------------------------------------
// Sink and keys
// ---------------------------------------------------------------------------

void ArchiveReader::Write(const uint8_t* data, uint32_t n) {
  // The audio stream carries its own lengths; an entry may not make a file
  // larger than its unpacked size says, in a test or not.
  if (n > entryUnpacked_ - entryWritten_) {
    SetError(kErrData);
    return;
  }
  entryWritten_ += n;
  if (linkEntry_) CaptureLink(&output_, data, n);
  if (testMode_ || skip_ || linkEntry_) return;
  WriteOutput(&output_, data, n);
}

void ArchiveReader::Progress(uint64_t n) {
  progressTotal_ += n;
  decode_.progressTotal = progressTotal_;
  decode_.lastStep = n;
  if (!callbacks_.progress) return;
  uint32_t percent = 0;
  if (entryUnpacked_ != 0) {
    if (progressTotal_ >= entryUnpacked_) {
      percent = 100;
    } else if (entryUnpacked_ <= UINT64_MAX / 100) {
      percent = static_cast<uint32_t>(progressTotal_ * 100 / entryUnpacked_);
    } else {
      percent = static_cast<uint32_t>(progressTotal_ / (entryUnpacked_ / 100));
    }
    if (percent > 100) percent = 100;
  }
  uint32_t chunk = n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(n);
  if (callbacks_.progress(callbacks_.progressUser, percent, chunk) != 1) SetError(kErrCancelled);
}

bool ArchiveReader::AskEntryPassword(const char* fileName) {
  if (!callbacks_.entryPassword) {
    SetError(kErrCancelled);
    return false;
  }
  char triedLast[kPathSize];
  StrCopy(triedLast, sizeof(triedLast), enteredEntryPassword_);
  SecureZero(enteredEntryPassword_, sizeof(enteredEntryPassword_));
  int answer = callbacks_.entryPassword(callbacks_.entryPasswordUser, triedLast,
                                        enteredEntryPassword_, fileName);
  SecureZero(triedLast, sizeof(triedLast));
  enteredEntryPassword_[kPasswordAnswerSize - 1] = 0;
  if (answer == 0) {
    SetError(kErrCancelled);
    return false;
  }
  StrCopy(activeEntryPassword_, sizeof(activeEntryPassword_), enteredEntryPassword_);
  return true;
}

bool ArchiveReader::PrepareEntryKey(const FileEntry& entry, bool askAgain) {
  if (entry.encryptionKind != 1 && entry.encryptionKind != 2) {
    SetError(kErrVersion);
    return false;
  }
  char fileName[kPathSize];
  CopyNamePart(fileName, sizeof(fileName), entry.name);
  if (activeEntryPassword_[0] == 0 || askAgain) {
    if (!AskEntryPassword(fileName)) return false;
  }
  if (!DeriveEntryKey(&input_->key, activeEntryPassword_,
                      static_cast<uint32_t>(strlen(activeEntryPassword_)), entry.encryptionKind)) {
    SetError(kErrOptions);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Decoding
// ---------------------------------------------------------------------------

bool ArchiveReader::CreateDecoderObjects() {
  if (!input_) {
    input_ = New<PackedInput>();
    if (!input_ || !input_->Init()) {
      if (input_) input_->Free();
      Delete(input_);
      input_ = nullptr;
      SetError(kErrMemory);
      return false;
    }
  }
  input_->source = static_cast<PackedSource*>(this);
  input_->error = &error_;
  input_->state = &decode_;
  run_.error = &error_;
  run_.state = &decode_;
  run_.input = input_;
  run_.sink = static_cast<EntrySink*>(this);
  return true;
}

void ArchiveReader::DestroyDecoderObjects() {
  FreeDecodeRun(run_);
  if (input_) {
    input_->Free();
    Delete(input_);
    input_ = nullptr;
  }
  run_.input = nullptr;
}

void ArchiveReader::DecodeCurrentEntry(const FileEntry& entry) {
  input_->volumeSet = multiVolume_;
  EntryParams params;
  params.version = entry.version;
  params.method = entry.method;
  params.flags = entry.flags;
  params.filterByte = entry.filterByte;
  params.packedSize = entry.packedSize;
  params.unpackedSize = entry.unpackedSize;
  params.crc = entry.crc;
  params.encryptionKind = entry.encryptionKind;
  params.continues = (entry.flags & fmt::kEntryContinues) != 0;
  progressTotal_ = 0;
  entryUnpacked_ = entry.unpackedSize;
  entryWritten_ = 0;
  DecodeEntry(run_, params);
}

// ---------------------------------------------------------------------------
// The run
// ---------------------------------------------------------------------------

void ArchiveReader::WalkForRunStart() {
  uint64_t savedPosition = blockPosition_;
  uint32_t savedContinuation = continuation_;
  continuation_ = 1;
  blockPosition_ = archiveStart_ + mainHeaderLength_;
  FileEntry entry;
  memset(&entry, 0, sizeof(entry));
  char previous[kPathSize] = {};
  uint64_t total = 0;
  while (NextBlock(&entry)) {
    if (!entry.isEntry) continue;
    bool part = strcmp(entry.name, previous) == 0;
    StrCopy(previous, sizeof(previous), entry.name);
    if (!part && IsSelected(entry)) total += entry.unpackedSize;
  }
  FreeEntryBuffers(&entry);
  if (!error_) {
    callbacks_.runStart(callbacks_.runStartUser, static_cast<uint32_t>(total),
                        static_cast<uint32_t>(total >> 32), runCode_);
  }
  blockPosition_ = savedPosition;
  continuation_ = savedContinuation;
}

bool ArchiveReader::EntryDone(const FileEntry& entry) {
  if (!callbacks_.entryDone) return true;
  if (callbacks_.entryDone(callbacks_.entryDoneUser, &entry, output_.path) != 1) {
    SetError(kErrCancelled);
    return false;
  }
  return true;
}

ArchiveReader::EntryStep ArchiveReader::ExtractOneEntry(FileEntry* entry) {
  // A file handed to the queue earlier failed: the run ends there.
  if (uint32_t failure = OutputQueueFailure()) {
    return LeaveWith(failure);
  }
  bool selected = IsSelected(*entry);
  // In a solid archive every entry is decoded, so that the decoder's state
  // is right for the selected ones.
  if (!selected && !solid_) return EntryStep::kNext;

  char path[kPathSize];
  uint32_t root = 0;
  // Only a path that is written to must stay inside the target; tests and
  // solid pass-overs merely decode.
  if (uint32_t refused = BuildOutputPath(paths_, extractOptions_.keepFolderPaths != 0, entry->name,
                                         selected && !testMode_, path, &root)) {
    return LeaveWith(refused);
  }
  if (!testMode_ && OutputPathIsVolume(Volumes(), path)) {
    CloseArchiveFile();
    return LeaveWith(kErrOverwritesArchive);
  }
  if (callbacks_.entryStart) {
    char shown[kPathSize];
    StartsWithBackslash(shown, sizeof(shown), entry->name);
    if (callbacks_.entryStart(callbacks_.entryStartUser, shown, path) != 1) {
      CloseArchiveFile();
      return LeaveWith(kErrCancelled);
    }
  }
  StrCopy(output_.path, sizeof(output_.path), path);
  output_.root = root;
  output_.nameFree = 0;

  skip_ = !selected || testMode_;
  // A name handed to the queue may not be made yet: what is found under it
  // is only known once the queue is through.
  if (!skip_ && MaybeQueued(output_, output_.path)) WaitForOutputQueue(&output_);
  if (!skip_ && extractOptions_.overwriteMode == 0) {
    int answer = OverwriteCheck(*entry, output_.path);
    if (answer == kOverwriteSkip) {
      skip_ = 1;
    } else if (answer != kOverwriteReplace && answer != kOverwriteReplaceExistingName) {
      // Cancel, and any answer that is not one of the four.
      CloseArchiveFile();
      return LeaveWith(kErrCancelled);
    }
  }

  linkEntry_ = selected && IsLinkEntry(*entry);
  output_.linkLength = kNoLink;

  // Where the entry begins, for a retry after a wrong password when its
  // data has carried the reader into later volumes.
  char entryVolume[kPathSize];
  StrCopy(entryVolume, sizeof(entryVolume), volumePath_);
  uint32_t entryCounter = volumeCounter_;
  uint64_t positionAfter = blockPosition_;
  uint32_t entryLastVolume = lastVolume_;

  for (;;) {
    uint64_t data = entry->blockPosition + entry->headTotal;
    if (!SeekIn(data)) {
      return LeaveWith(kErrFileAccess);
    }
    if (entry->type == fmt::kTypeFolder) {
      if (!skip_ && !MakeOutputFolder(&output_, entry->attributes)) {
        return LeaveWith(kErrFileAccess);
      }
      return EntryDone(*entry) ? EntryStep::kNext : EntryStep::kLeave;
    }
    if (!skip_ && !linkEntry_ && !OpenOutputFile(*entry)) {
      return LeaveWith(kErrFileAccess);
    }
    if (entry->encryptionKind != 0) {
      PrepareEntryKey(*entry, askAgain_ != 0);
      askAgain_ = 0;
    }
    if (error_ == kErrCancelled) {
      DiscardOutput(&output_, false);
      return EntryStep::kLeave;
    }
    if (linkEntry_) {
      output_.linkLength = 0;
      if (entry->unpackedSize > fmt::kMaxLinkTarget) SetError(kErrData);
    }
    if (!error_) DecodeCurrentEntry(*entry);
    if (!error_ && linkEntry_ && !LinkTargetIsSound(output_)) SetError(kErrData);
    if (!error_) break;
    output_.linkLength = kNoLink;
    bool wrongPassword = error_ == kErrBadPassword;
    bool keepBroken = !wrongPassword && extractOptions_.continueAfterErrors &&
                      error_ != kErrCancelled && error_ != kErrMemory && error_ != kErrWrite;
    // A damaged result may stand in for a missing file, never for one the
    // user already has.
    DiscardOutput(&output_, keepBroken && OutputIsNew(output_));
    if (!wrongPassword) break;
    // Wrong password: ask again and read the entry once more from the
    // volume where it begins.
    error_ = 0;
    if (!SamePath(volumePath_, entryVolume) || file_ == TVK_INVALID_FILE) {
      CloseArchiveFile();
      StrCopy(volumePath_, sizeof(volumePath_), entryVolume);
      volumeCounter_ = entryCounter;
      if (!OpenCurrentVolume()) {
        return EntryStep::kLeave;
      }
      lastVolume_ = entryLastVolume;
    }
    blockPosition_ = positionAfter;
    askAgain_ = 1;
  }

  if (!EntryDone(*entry)) {
    DiscardOutput(&output_, false);
    return EntryStep::kLeave;
  }
  if (extractOptions_.continueAfterErrors && error_ != kErrCancelled && error_ != kErrMemory &&
      error_ != kErrWrite) {
    error_ = 0;
  }
  if (error_) {
    DiscardOutput(&output_, false);
    return EntryStep::kLeave;
  }
  if (linkEntry_ && !skip_) {
    // Checked like any entry's data; made when the run ends.
    if (!QueueLink(&output_)) return LeaveWith(kErrMemory);
    return EntryStep::kNext;
  }
  if (skip_ || output_.handle == TVK_INVALID_FILE) return EntryStep::kNext;
  FinishOutput(&output_, *entry, extractOptions_);
  return error_ ? EntryStep::kLeave : EntryStep::kNext;
}

uint32_t ArchiveReader::ExtractEntries(NameList* include, NameList* exclude, NameList* result,
                                       const EntryFilter* filter) {
  (void)result;
  include_ = include;
  exclude_ = exclude;
  if (filter) {
    filterRecord_ = *filter;
    filter_ = &filterRecord_;
  } else {
    filter_ = nullptr;
  }
  DiscardOutput(&output_, false);
  ForgetOutputFolders();
  askAgain_ = 0;
  linkEntry_ = 0;
  volumeCounter_ = 0;
  lastVolume_ = 0;
  StrCopy(firstVolumePath_, sizeof(firstVolumePath_), volumePath_);
  if (!opened_ || newArchive_ || error_) return error_;
  const uint64_t savedArchiveStart = archiveStart_;
  const uint64_t savedHeaderLength = mainHeaderLength_;
  const uint64_t savedBodyStart = bodyStart_;
  runCode_ = testMode_ ? kRunTest : kRunExtract;

  FileEntry entry;
  memset(&entry, 0, sizeof(entry));
  for (;;) {
    if (!OpenCurrentVolume()) break;
    if (runCode_ == kRunTest && multiVolume_) runCode_ = kRunTestVolumes;
    if (runCode_ == kRunExtract && multiVolume_) runCode_ = kRunExtractVolumes;
    blockPosition_ = archiveStart_ + mainHeaderLength_;
    if (callbacks_.runStart) WalkForRunStart();
    EntryStep step = EntryStep::kNext;
    while (step == EntryStep::kNext && !error_ && NextBlock(&entry)) {
      if (entry.isEntry) step = ExtractOneEntry(&entry);
    }
    if (step == EntryStep::kLeave || error_ || !multiVolume_ || lastVolume_) break;
    continuation_ = 1;
    CloseArchiveFile();
    if (!NextVolume(true)) break;
  }
  FreeEntryBuffers(&entry);
  DiscardOutput(&output_, false);
  WaitForOutputQueue(&output_);
  EndOutputRun(&output_, error_ == kErrWrite);
  CloseArchiveFile();
  // The next run starts again from the volume that was opened.
  StrCopy(volumePath_, sizeof(volumePath_), firstVolumePath_);
  volumeCounter_ = 0;
  continuation_ = 0;
  archiveStart_ = savedArchiveStart;
  mainHeaderLength_ = savedHeaderLength;
  bodyStart_ = savedBodyStart;
  blockPosition_ = bodyStart_;
  include_ = exclude_ = nullptr;
  return error_;
}

uint32_t ArchiveReader::Extract(NameList* include, NameList* exclude, const EntryFilter* filter) {
  if (error_) return error_;
  if (!CreateDecoderObjects()) return error_;
  testMode_ = 0;
  NameList* result = CreateNameList(kListEntries);
  if (result) ExtractEntries(include, exclude, result, filter);
  FreeNameList(result);
  DestroyDecoderObjects();
  return error_;
}

uint32_t ArchiveReader::TestAll() {
  if (error_) return error_;
  extractOptions_.overwriteMode = 0;
  if (!CreateDecoderObjects()) return error_;
  NameList* all = CreateNameList(kListNames);
  if (all && AddName(all, "*.*") == 0) {
    testMode_ = 1;
    ExtractEntries(all, nullptr, nullptr, nullptr);
    testMode_ = 0;
  }
  FreeNameList(all);
  DestroyDecoderObjects();
  return error_;
}

}  // namespace tvk
