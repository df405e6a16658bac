// The seam between the archive reader and the decoding engine: the per-entry
// decode state, the packed input with its bit view, the output sink, and the
// decoders' entry points.
#ifndef TVK_CODEC_DECODE_H
#define TVK_CODEC_DECODE_H

#include <stddef.h>
#include <stdint.h>

#include "crypto/cipher.h"
#include "platform/platform.h"

namespace tvk {

// Reset for every entry by DecodeEntry; read and updated by the decoders.
struct DecodeState {
  uint32_t crc;            // CRC-32 register, starts at 0xFFFFFFFF
  int64_t packedLeft;      // packed bytes of the current part not yet read
  uint64_t unpackedSize;
  int64_t bytesToWrite;    // starts at unpackedSize, reduced by each flush
  uint64_t progressTotal;  // bytes reported so far for this entry
  uint64_t lastStep;       // length of the last reported chunk
  uint32_t filterWord;
  uint32_t e8Pos;          // x86 call filter: entry bytes passed so far
  uint32_t e8Size;         // low 32 bits of the unpacked size
  uint32_t storedCrc;      // CRC field of the part being decoded
  uint32_t continues;      // the part goes on in the next volume (no CRC check)
  uint64_t packedSize;     // the entry's packed size (for overrun checks)
};

// Where the packed bytes come from: the archive file, and the step into the
// next volume when an entry part is used up. Implemented by the reader.
class PackedSource {
 public:
  // Reads up to n bytes from the current archive file: count, 0 at the end, -1.
  virtual int32_t ReadArchive(void* dest, uint32_t n) = 0;
  // Moves to the continuation in the next volume; sets packedLeft,
  // continues and storedCrc in the decode state. False on failure (the error
  // code is set).
  virtual bool SwitchVolume() = 0;

 protected:
  ~PackedSource() = default;
};

// Where the unpacked bytes go. Implemented by the reader.
class EntrySink {
 public:
  // Writes a chunk to the output file unless the run only tests; a short
  // write sets 28004. The CRC is the caller's business.
  virtual void Write(const uint8_t* data, uint32_t n) = 0;
  // Adds n to the entry's progress total, records it as the last step and
  // calls the host's progress callback (a stop answer sets 28001).
  virtual void Progress(uint64_t n) = 0;

 protected:
  ~EntrySink() = default;
};

constexpr uint32_t kBitBufferBytes = 16384;
constexpr uint32_t kBitBufferWords = kBitBufferBytes / 4;
constexpr uint32_t kRefillWordIndex = 4088;

// The packed bytes of the current entry, deciphered when the entry is
// encrypted, and their bit view. One per extraction, shared by all entries.
class PackedInput {
 public:
  bool Init();   // allocates the 16 KiB bit buffer; false when memory is short
  void Free();

  // Bound by the reader for a run.
  PackedSource* source = nullptr;
  uint32_t* error = nullptr;       // the reader's error code
  DecodeState* state = nullptr;
  uint32_t volumeSet = 0;          // the archive is a volume set
  uint32_t encryptionKind = 0;     // 0 none, 1 or 2
  EntryKey key{};                  // made by PrepareEntryKey
  // Set by Read when the archive file ended with packed bytes of the current
  // part still owed (no next part can follow); cleared for every entry.
  uint32_t endedEarly = 0;

  // Up to n packed bytes, deciphered; -1 when a volume switch failed.
  int32_t Read(uint8_t* dest, uint32_t n);

  // Bit view.
  void Start();
  // Consumes n bits (0 <= n <= 32). Inline: it runs once per decoded symbol.
  void Skip(uint32_t n) {
    bitOffset_ += n;
    wordIndex_ += bitOffset_ >> 5;
    bitOffset_ &= 31;
    // A skip advances at most one word, so the equality test cannot be passed.
    if (wordIndex_ == kRefillWordIndex) Refill();
    window_ = words_[wordIndex_] << bitOffset_;
    if (bitOffset_ != 0) window_ |= words_[wordIndex_ + 1] >> (32 - bitOffset_);
  }
  uint32_t Window() const { return window_; }
  // An n-bit field, 1 <= n <= 24.
  uint32_t ReadBits(uint32_t n) {
    uint32_t v = window_ >> (32 - n);
    Skip(n);
    return v;
  }
  uint32_t ReadByte() { return ReadBits(8); }
  // True once the decoder has consumed more than 32 bytes beyond what the
  // entry's packed data holds (valid streams never do).
  bool Overrun() const;
  // Stream bytes the bit view has handed out since Start (a started byte
  // counts whole): how far a decoder read, zeros past the end included.
  uint64_t Consumed() const;

  uint32_t* words() { return words_; }

  // The bit state, for a hot loop that keeps it in registers and hands it
  // back (SetCursor) before anything else reads from this input.
  struct Cursor {
    uint32_t window;
    uint32_t bitOffset;
    uint32_t wordIndex;
  };
  Cursor GetCursor() const { return {window_, bitOffset_, wordIndex_}; }
  void SetCursor(const Cursor& c) {
    window_ = c.window;
    bitOffset_ = c.bitOffset;
    wordIndex_ = c.wordIndex;
  }
  // Moves the last words to the front and reads the next block behind them;
  // due exactly when wordIndex reaches kRefillWordIndex.
  void Refill();

 private:
  uint32_t* words_ = nullptr;
  uint32_t window_ = 0;
  uint32_t bitOffset_ = 0;
  uint32_t wordIndex_ = 0;
  // Overrun accounting in stream byte offsets: validEnd_ is where the bytes
  // Read delivered end; wordsConsumedBase_ is the stream word held in word 0.
  uint64_t validEnd_ = 0;
  uint64_t wordsConsumedBase_ = 0;
};

// What a decoder is given for one entry.
struct EntryIo {
  uint32_t* error;
  DecodeState* state;
  PackedInput* input;
  EntrySink* sink;
};

// The decoders, created on first use in a run and destroyed when it ends.
struct LzDecoder;
struct AudioDecoder;
LzDecoder* CreateLzDecoder();   // nullptr when memory is short
void DestroyLzDecoder(LzDecoder* d);
void DecodeLzEntry(LzDecoder* d, EntryIo& io, bool filterHeaderPresent, bool solid,
                   uint32_t windowSize);
// Remembers the carried state a solid entry starts from, so that an attempt
// that fails (a wrong password decodes garbage into the window) can be undone
// before the entry is tried again. Only what an attempt of unpackedSize
// bytes can change is copied. False when memory is short.
bool SaveLzSolidState(LzDecoder* d, uint32_t windowSize, uint64_t unpackedSize);
// Puts back what the last SaveLzSolidState remembered.
void RestoreLzSolidState(LzDecoder* d);
AudioDecoder* CreateAudioDecoder();
void DestroyAudioDecoder(AudioDecoder* d);
void DecodeAudioEntry(AudioDecoder* d, EntryIo& io);

}  // namespace tvk

#endif
