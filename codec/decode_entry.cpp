// Method dispatch for one entry, the stored copy, and the CRC check that
// turns a decoding fault into a wrong-password or CRC error.
#include "codec/decode_entry.h"

#include "crypto/crc32.h"
#include "platform/result_codes.h"

namespace tvk {
namespace {

void SetError(uint32_t* error, uint32_t code) {
  if (*error == 0) *error = code;
}

bool EnsureCopyBuffer(DecodeRun& run) {
  if (!run.copyBuffer) run.copyBuffer = static_cast<uint8_t*>(AlignedAlloc16(kStoredCopySize));
  if (!run.copyBuffer) SetError(run.error, kErrMemory);
  return run.copyBuffer != nullptr;
}

// True when the archive ended inside the entry's data, or the data ended
// before the unpacked size.
bool CopyStored(DecodeRun& run) {
  if (!EnsureCopyBuffer(run)) return false;
  DecodeState& s = *run.state;
  uint64_t expected = s.unpackedSize;
  // Through every part of the entry, an empty one too: a writer may end a
  // volume right behind the entry's first head, and only a read carries the
  // copy on into the next part.
  while (s.packedLeft > 0 || s.continues) {
    int32_t got = run.input->Read(run.copyBuffer, kStoredCopySize);
    if (got < 0) return false;  // a failed volume switch has set the error
    if (got == 0) {
      if (*run.error != 0) return false;
      if (s.packedLeft <= 0 && !s.continues) break;  // an empty last part
      // The archive ended inside the entry's data: without this the loop
      // would ask for the same bytes forever.
      SetError(run.error, kErrData);
      return true;
    }
    uint32_t use = static_cast<uint32_t>(got);
    if (use > expected) use = static_cast<uint32_t>(expected);
    expected -= use;
    if (use > 0) {
      run.sink->Progress(use);
      s.crc = Crc32(s.crc, run.copyBuffer, use);
      run.sink->Write(run.copyBuffer, use);
    }
    if (*run.error != 0) return false;
  }
  // Fewer bytes than the entry claims: a file cut short is no whole file,
  // even when the CRC field was made to match what is there.
  if (expected > 0) {
    SetError(run.error, kErrData);
    return true;
  }
  return false;
}

// A decoder that reached the unpacked size may leave unread bytes (padding)
// in later parts of a split entry; read through them so that the entry ends
// in its last part, where its CRC field covers the whole file.
bool DrainParts(DecodeRun& run) {
  DecodeState& s = *run.state;
  while (*run.error == 0 && s.continues) {
    if (!EnsureCopyBuffer(run)) return false;
    int32_t got = run.input->Read(run.copyBuffer, kStoredCopySize);
    if (got < 0) return false;
    if (got == 0 && s.continues) {
      // No byte and no next part: the set ends before the file does.
      SetError(run.error, kErrData);
      return true;
    }
  }
  return false;
}

// Turns the end of an entry into its outcome: a decoding fault or a CRC
// mismatch on an encrypted entry is a wrong password, unless the data itself
// is missing.
void CheckOutcome(DecodeRun& run, const DecodeParams& e, bool truncated) {
  DecodeState& s = *run.state;
  uint32_t err = *run.error;
  if (s.continues) {
    // Stopped before the entry's last part, where no CRC field speaks for
    // it; a decoder that fails on an encrypted entry has still most likely
    // been given the wrong key, and the user is asked again as for a
    // one-volume archive.
    if (err == kErrData && !truncated && e.encryptionKind != 0) *run.error = kErrBadPassword;
    return;
  }
  if (s.crc == s.storedCrc) return;
  if (err == kErrCancelled || err == kErrMemory || err == kErrWrite) return;
  // A read that failed says nothing about the data or the password: shown as
  // a wrong password it would only send the user round the prompt again.
  if (err == kErrFileAccess) return;
  // Data that ends early says nothing about the password; asking for it
  // again would only repeat the failure.
  if (truncated && (err == 0 || err == kErrData)) {
    *run.error = kErrData;
    return;
  }
  *run.error = e.encryptionKind != 0 ? kErrBadPassword : kErrCrc;
}

}  // namespace

void DecodeEntry(DecodeRun& run, DecodeParams e) {
  DecodeState& s = *run.state;
  s = DecodeState{};
  s.crc = kCrcStart;
  s.packedLeft = e.packedSize > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX
                                                                  : static_cast<int64_t>(e.packedSize);
  s.unpackedSize = e.unpackedSize;
  s.bytesToWrite = e.unpackedSize > static_cast<uint64_t>(INT64_MAX)
                       ? INT64_MAX
                       : static_cast<int64_t>(e.unpackedSize);
  s.e8Size = static_cast<uint32_t>(e.unpackedSize);
  s.storedCrc = e.crc;
  // Only a volume set has a next part; elsewhere the flag would merely
  // excuse the entry from its CRC check.
  s.continues = e.continues && run.input->volumeSet;
  s.packedSize = e.packedSize;
  run.input->state = &s;
  run.input->encryptionKind = e.encryptionKind;

  EntryIo io{run.error, run.state, run.input, run.sink};
  run.input->endedEarly = 0;
  bool truncated = false;
  bool undoable = false;
  if (e.method == DecodeMethod::kStored) {
    truncated = CopyStored(run);
  } else if (e.method == DecodeMethod::kLz) {
    if (!run.lz) run.lz = CreateLzDecoder();
    if (!run.lz) {
      SetError(run.error, kErrMemory);
    } else if (e.solid && e.encryptionKind != 0 &&
               !SaveLzSolidState(run.lz, e.window, e.unpackedSize)) {
      SetError(run.error, kErrMemory);
    } else {
      // A wrong password may decode far enough to move the window on: the
      // retry must start from the state the group left.
      undoable = e.solid && e.encryptionKind != 0;
      DecodeLzEntry(run.lz, io, e.filter, e.solid, e.window);
    }
  } else if (e.method == DecodeMethod::kAudio) {
    if (!run.audio) run.audio = CreateAudioDecoder();
    if (!run.audio) {
      SetError(run.error, kErrMemory);
    } else {
      DecodeAudioEntry(run.audio, io);
    }
  } else {
    SetError(run.error, e.fault);
  }

  if (DrainParts(run)) truncated = true;
  // The archive ended with packed bytes of the entry still owed and no part
  // to go on in: damage, whatever the password.
  if (run.input->endedEarly) truncated = true;
  CheckOutcome(run, e, truncated);
  if (undoable && *run.error == kErrBadPassword) RestoreLzSolidState(run.lz);
}

void FreeDecodeRun(DecodeRun& run) {
  DestroyLzDecoder(run.lz);
  run.lz = nullptr;
  DestroyAudioDecoder(run.audio);
  run.audio = nullptr;
  AlignedFree16(run.copyBuffer);
  run.copyBuffer = nullptr;
}

}  // namespace tvk
