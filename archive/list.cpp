// Listing: every volume's entries into a result list, the signature check
// after the walk, and the archive information record.
#include <string.h>

#include "archive/blocks.h"
#include "archive/format.h"
#include "archive/reader.h"
#include "archive/signature_check.h"
#include "platform/result_codes.h"

namespace tvk {

bool AppendEntryCopy(NameList* list, const FileEntry& entry);

namespace {

uint32_t ListingMethodCode(uint32_t method) {
  switch (method) {
    case 0: return 0;
    case 1:
    case 2:
    case 3: return 27;
    case 4: return 28;
    case 5: return 29;
    case 6: return 31;
    case 7: return 30;
    default: return 21;
  }
}

}  // namespace

bool ArchiveReader::MismatchForgiven() const {
  return extractOptions_.ignoreSignatureMismatch || extractOptions_.continueAfterErrors;
}

void ArchiveReader::CheckSignatureOfVolume() {
  signature_.valid = 0;
  SignatureCheck check{};
  check.error = &error_;
  check.encryptedHeads = encryptedHeads_;
  check.archivePassword = activeArchivePassword_;
  check.runStart = callbacks_.runStart;
  check.runStartUser = callbacks_.runStartUser;
  check.progress = callbacks_.progress;
  check.progressUser = callbacks_.progressUser;
  // The check reports percent of the reader's entry total, which a listing
  // leaves at 0; both counters are restored afterwards.
  check.progressTotal = &entryUnpacked_;
  check.progressDone = &progressTotal_;
  check.lastChunk = nullptr;
  check.digestKind = &digestKind_;
  check.result = &signature_;
  CheckSignature(&check, volumePath_, signaturePosition_);
}

uint32_t ArchiveReader::List(NameList* include, NameList* exclude, const EntryFilter* filter,
                             NameList* result, ArchiveInfo* info) {
  if (filter) {
    filterRecord_ = *filter;
    filter_ = &filterRecord_;
  } else {
    filter_ = nullptr;
  }
  include_ = include;
  exclude_ = exclude;
  if (info) memset(info, 0, sizeof(*info));

  char startPath[kPathSize];
  StrCopy(startPath, sizeof(startPath), volumePath_);
  const uint64_t savedArchiveStart = archiveStart_;
  const uint64_t savedHeaderLength = mainHeaderLength_;
  const uint64_t savedBodyStart = bodyStart_;
  const uint64_t savedPosition = blockPosition_;

  if (opened_ && !newArchive_ && !error_) {
    file_ = FileOpen(volumePath_, "r");
    if (file_ == TVK_INVALID_FILE) SetError(kErrFileAccess);
  }
  // A signature covers only the volume that holds it, so a set is vouched
  // for only when every volume up to the one marked last carries a sound
  // signature of one signer. Sets sealed in their last volume alone (as
  // older writers made them) still open, after the mismatch question.
  uint32_t volumesWalked = 0, volumesSealed = 0;
  uint32_t setProblem = kSignatureSound;
  bool reachedLast = false;
  SignatureResult* firstSeal = nullptr;  // the first volume's sound signature
  if (file_ != TVK_INVALID_FILE) {
    volumeCounter_ = 0;
    signatureSeen_ = 0;
    memset(&signature_, 0, sizeof signature_);
    blockPosition_ = bodyStart_;
    FileEntry entry;
    memset(&entry, 0, sizeof(entry));
    char previous[kPathSize] = {};
    bool havePrevious = false;
    FileEntry* lastAppended = nullptr;  // the item made for the previous entry
    for (;;) {
      while (NextBlock(&entry)) {
        if (!entry.isEntry) continue;
        entry.listingMethod = ListingMethodCode(entry.method);
        if (havePrevious && strcmp(entry.name, previous) == 0) {
          // A further part of a file split over volumes: one item.
          if (lastAppended) lastAppended->packedSize += entry.packedSize;
          continue;
        }
        StrCopy(previous, sizeof(previous), entry.name);
        havePrevious = true;
        lastAppended = nullptr;
        if (IsSelected(entry) && result) {
          if (!AppendEntryCopy(result, entry)) {
            SetError(kErrMemory);
            break;
          }
          lastAppended = static_cast<FileEntry*>(result->tail->item);
        }
      }
      CloseArchiveFile();
      if (error_) break;
      ++volumesWalked;
      if (signed_ && signatureSeen_) {
        signatureSeen_ = 0;
        CheckSignatureOfVolume();
        if (signature_.valid) {
          ++volumesSealed;
          if (!firstSeal) {
            firstSeal = static_cast<SignatureResult*>(MemAlloc(sizeof(SignatureResult)));
            if (!firstSeal) {
              SetError(kErrMemory);
              break;
            }
            *firstSeal = signature_;
          } else if (memcmp(firstSeal->signerKey, signature_.signerKey, kPublicKeyRecordSize) != 0 ||
                     strcmp(firstSeal->signer, signature_.signer) != 0) {
            if (!setProblem) setProblem = kSignatureSignersDiffer;
          }
        } else if (!setProblem) {
          setProblem = signature_.problem ? signature_.problem : kSignatureDiffers;
        }
        if (error_ == kErrSignatureMismatch && MismatchForgiven()) error_ = 0;
      }
      if (error_) break;
      if (!multiVolume_ || lastVolume_) {
        reachedLast = true;
        break;
      }
      continuation_ = 1;
      if (!NextVolume(false)) break;  // a missing volume ends the listing quietly
      file_ = FileOpen(volumePath_, "r");
      if (file_ == TVK_INVALID_FILE) {
        SetError(kErrFileAccess);
        break;
      }
      if (!OpenVolume()) {
        CloseArchiveFile();
        SetError(kErrNotArchive);
        break;
      }
      blockPosition_ = bodyStart_;
    }
    FreeEntryBuffers(&entry);
    if (multiVolume_ && volumesSealed > 0 && !error_) {
      if (!setProblem && (volumesSealed != volumesWalked || !reachedLast)) {
        setProblem = kSignatureVolumeUncovered;
      }
      if (setProblem) {
        // The signer of the first sound seal stays known for the message.
        if (firstSeal) signature_ = *firstSeal;
        signature_.valid = 0;
        signature_.problem = setProblem;
        if (!MismatchForgiven()) SetError(kErrSignatureMismatch);
      }
    }
  }
  MemFree(firstSeal);

  StrCopy(volumePath_, sizeof(volumePath_), startPath);
  archiveStart_ = savedArchiveStart;
  mainHeaderLength_ = savedHeaderLength;
  bodyStart_ = savedBodyStart;
  blockPosition_ = savedPosition;
  volumeCounter_ = 0;
  continuation_ = 0;
  include_ = exclude_ = nullptr;

  if (info) {
    uint32_t highest = 0;
    uint32_t lastInfo = 3;
    for (NameListNode* n = result ? result->head : nullptr; n; n = n->next) {
      const FileEntry* e = static_cast<const FileEntry*>(n->item);
      if (e->comment) info->commentBits |= 2;
      if (e->type == fmt::kTypeFolder) continue;
      if (e->version > highest) highest = e->version;
      if (e->encryptionKind == 1) info->encryption = 2;
      if (e->encryptionKind == 2) info->encryption = 4;
      lastInfo = e->infoByte;
      ++info->fileCount;
      info->packedTotal += e->packedSize;
      info->unpackedTotal += e->unpackedSize;
    }
    info->newVersion = highest >= 20 && highest <= 29;
    info->majorVersion = highest ? highest / 10 : 1;
    info->minorVersion = highest ? highest % 10 : 1;
    info->dictionaryKiB = dictionaryKiB_;
    if (hasComment_ || archiveComment_) info->commentBits |= 1;
    info->recoveryValue = recoverySeen_ ? recoveryValue_ : 0;
    info->solid = solid_;
    info->infoByte = lastInfo;
    if (info->unpackedTotal) {
      uint64_t ratio = info->packedTotal <= UINT64_MAX / 100
                           ? info->packedTotal * 100 / info->unpackedTotal
                           : info->packedTotal / (info->unpackedTotal / 100 ? info->unpackedTotal / 100 : 1);
      info->ratio = ratio > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(ratio);
    }
    info->signatureValid = signature_.valid;
    info->signatureProblem = signature_.valid ? kSignatureSound : signature_.problem;
    StrCopy(info->signer, sizeof(info->signer), signature_.signer);
    info->signedAt = signature_.signedAt;
    info->encryptedHeads = encryptedHeads_;
    info->multiVolume = multiVolume_;
  }
  return error_;
}

}  // namespace tvk
