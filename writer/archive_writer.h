// Writes TVK archives: every structure the reader accepts, from the plain
// single-volume archive that tvk makes to the odd and broken ones that tests
// need. Two levels:
//  - head builders and ciphers (Build*Head, EncipherHead, EncipherEntryData)
//    that give the exact bytes of one structure, for tests that assemble or
//    corrupt archives by hand;
//  - ArchiveWriter, which lays out a whole archive (main header, comment,
//    entries with their sub-blocks and data, end marker or signature) over
//    one or more volumes, enciphering heads and entries as asked.
// Texts here are bytes as stored: the caller converts (writer/archive_text.h).
#ifndef TVK_WRITER_ARCHIVE_WRITER_H
#define TVK_WRITER_ARCHIVE_WRITER_H

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/format.h"
#include "platform/platform.h"

namespace tvk {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------
// Heads
// ---------------------------------------------------------------------------

// Writes the size field (head.size()) and the HeadCheck of a complete head.
void SealHead(Bytes& head);
// A sealed head: the 7 common bytes, then fields.
Bytes MakeHead(uint8_t type, uint16_t flags, const Bytes& fields);

struct MainHeaderFields {
  uint16_t flags = 0;
  // Bytes 12..24: not interpreted by readers; 0x0B and zeros by convention.
  std::array<uint8_t, 13> tail = {fmt::kMainHeaderByte12};
};
Bytes BuildMainHeader(const MainHeaderFields& fields);

enum class TextForm { kAnsi, kOem, kUtf16 };

struct CommentFields {
  TextForm form = TextForm::kAnsi;
  Bytes text;                         // as stored (UTF-16LE units for kUtf16)
  uint16_t extraFlags = 0;            // ORed into the form's flag (0x8000 etc.)
  std::array<uint8_t, 6> reserved{};  // bytes 7..12
};
Bytes BuildCommentHead(const CommentFields& fields);

struct EntryHeadFields {
  bool folder = false;
  uint16_t flags = 0;  // exactly as stored; 0x0080 selects the 64-bit layout
  uint8_t filter = 0;
  uint8_t reserved8 = 0, reserved9 = 0;
  uint8_t info = 20;
  uint8_t version = fmt::kVersion11;
  uint8_t method = fmt::kMethodStored;
  uint32_t crc = 0;  // the raw register (see EntryCrc)
  uint32_t attributes = 0;
  uint32_t dosTime = 0;
  uint64_t packedSize = 0;
  uint64_t unpackedSize = 0;
  std::string name;  // bytes as stored, backslash or slash separators
};
// File ("D") or folder ("V") head. Without flag 0x0080 only the low halves of
// the sizes are stored.
Bytes BuildEntryHead(const EntryHeadFields& fields);

// An extension sub-block ("I"): tag, then the tag's fields.
Bytes BuildExtensionHead(const char tag[4], const Bytes& fields, uint16_t flags = 0);
// "PHTV": creation, last-access and last-write time as UTC FILETIMEs.
Bytes BuildFileTimesHead(const FileTime& creation, const FileTime& lastAccess,
                         const FileTime& lastWrite, uint16_t flags = 0);
// "UXTV": Unix mode bits.
Bytes BuildUnixModeHead(uint32_t mode, uint16_t flags = 0);

struct RecoveryFields {
  uint16_t flags = 0;
  std::array<uint8_t, 5> reserved{};  // bytes 7..11
  uint32_t value = 0;
  uint64_t b = 0;
  uint64_t a = 0;
};
Bytes BuildRecoveryHead(const RecoveryFields& fields);
// Length of the data that follows a recovery head: 2 * (256 * A + B).
uint64_t RecoveryDataLength(uint64_t a, uint64_t b);

Bytes EndMarker();

// ---------------------------------------------------------------------------
// Ciphers, CRC, names, times
// ---------------------------------------------------------------------------

// The encrypted form of one head: u16 L and L bytes of Blowfish ciphertext,
// L the head's size rounded up to whole 8-byte blocks (zero padding). The key
// is the MD5 of at most 260 password bytes.
Bytes EncipherHead(const std::string& password, const Bytes& head);

// AES in ECB mode over data padded with zeros to whole 16-byte blocks. Kind 1:
// AES-128, key MD5 of at most 276 password bytes; kind 2: AES-256, key the
// archive's SHA-256 of the password (32 zero bytes for an empty one).
// Kind 0 returns the data unchanged.
Bytes EncipherEntryData(uint32_t kind, const std::string& password, const Bytes& data);
void EncipherEntryDataInPlace(uint32_t kind, const std::string& password, Bytes* data);
// The key bytes an entry of that kind is enciphered with (16 or 32 bytes).
Bytes EntryKeyBytes(uint32_t kind, const std::string& password);

// The value of an entry's CRC field: the CRC-32 register over the data,
// started at 0xFFFFFFFF and not inverted.
uint32_t EntryCrc(const uint8_t* data, size_t size);

// Path of volume number counter (1 = the second volume) of a set whose
// first volume is firstPath: the extension replaced by ".001", ".002", ...
// (at least three digits), appended when the name has none.
std::string VolumeName(const std::string& firstPath, uint32_t counter);

// MS-DOS stamp (date high, time low) of a Unix time in the local zone; times
// before 1980 give 1980-01-01 00:00:00, after 2107 the last stamp.
uint32_t DosTimeFromUnix(int64_t seconds);
// UTC FILETIME of a Unix time.
FileTime FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds);
// SOURCE_DATE_EPOCH, when it holds a Unix time: whoever needs the same bytes
// from the same files sets it, and then the time of the run stands nowhere
// in the output and no stored time is later than it.
std::optional<int64_t> SourceDateEpoch();

// ---------------------------------------------------------------------------
// Where volumes go
// ---------------------------------------------------------------------------

class VolumeOutput {
 public:
  virtual ~VolumeOutput() = default;
  // Starts volume index (0 = the first).
  virtual bool Begin(uint32_t index) = 0;
  virtual bool Write(const uint8_t* data, size_t size) = 0;
  // Overwrites bytes already written to a volume (the last-volume flag).
  virtual bool Patch(uint32_t index, uint64_t offset, const uint8_t* data, size_t size) = 0;
  // Reads back bytes of a volume (for signing).
  virtual bool ReadBack(uint32_t index, uint64_t offset, uint8_t* data, size_t size) = 0;
  virtual uint64_t Size(uint32_t index) const = 0;
  // Makes everything written so far visible to other readers of the volume.
  virtual bool Flush() { return true; }
  virtual bool Finish() = 0;
  virtual std::string Describe(uint32_t index) const = 0;  // for messages
};

// Keeps every volume in memory.
class MemoryOutput final : public VolumeOutput {
 public:
  bool Begin(uint32_t index) override;
  bool Write(const uint8_t* data, size_t size) override;
  bool Patch(uint32_t index, uint64_t offset, const uint8_t* data, size_t size) override;
  bool ReadBack(uint32_t index, uint64_t offset, uint8_t* data, size_t size) override;
  uint64_t Size(uint32_t index) const override;
  bool Finish() override { return true; }
  std::string Describe(uint32_t index) const override;

  std::vector<Bytes> volumes;
};

// Writes volume files: the first at path, the others at VolumeName(path, n).
// The files are created exclusively unless replace is set.
class FileOutput final : public VolumeOutput {
 public:
  explicit FileOutput(std::string path, bool replace = false);
  ~FileOutput() override;
  bool Begin(uint32_t index) override;
  bool Write(const uint8_t* data, size_t size) override;
  bool Patch(uint32_t index, uint64_t offset, const uint8_t* data, size_t size) override;
  bool ReadBack(uint32_t index, uint64_t offset, uint8_t* data, size_t size) override;
  uint64_t Size(uint32_t index) const override;
  bool Flush() override;
  bool Finish() override;
  std::string Describe(uint32_t index) const override;
  // Removes every volume written so far (after a failure).
  void RemoveAll();
  const std::string& Error() const { return error_; }
  std::vector<std::string> Paths() const;

 private:
  std::string PathOf(uint32_t index) const;
  bool CloseCurrent();
  std::string path_;
  bool replace_;
  std::FILE* file_ = nullptr;
  uint32_t current_ = 0;
  std::vector<uint64_t> sizes_;
  std::string error_;
};

// ---------------------------------------------------------------------------
// The archive writer
// ---------------------------------------------------------------------------

// A sub-block chained behind an entry head: any type, fields behind the
// 7-byte common head (for "I" blocks the fields begin with the tag).
struct SubBlock {
  uint8_t type = fmt::kTypeExtension;
  Bytes fields;
  static SubBlock Extension(const char tag[4], const Bytes& tagFields);
};

// Packs an entry's data with a compressed method. The packer may change the
// method (to 0: store the data after all) and may give the CRC field when
// the method's register covers more than the data (method 5).
struct PackRequest {
  const uint8_t* data;
  size_t size;
  uint8_t method;
  uint32_t dictCode;
  bool solid;
  const std::string* name;  // as stored, for messages
};
struct PackResult {
  Bytes packed;
  uint8_t method = 0;
  uint8_t filterByte = 0;
  std::optional<uint32_t> crc;
  // Set when the packer had to start the entry afresh although it was asked
  // to continue the previous one's state.
  std::optional<bool> solid;
};
using Packer = std::function<bool(const PackRequest& request, PackResult* result)>;

struct EntrySpec {
  std::string name;  // bytes as stored
  bool folder = false;
  uint32_t attributes = kAttrArchive;
  uint32_t dosTime = 0;
  uint8_t method = fmt::kMethodStored;
  uint8_t version = fmt::kVersion11;
  uint8_t info = 20;
  uint8_t filter = 0;  // taken from the packer when it packs
  uint8_t reserved8 = 0, reserved9 = 0;
  uint32_t dictCode = 0;
  bool oemName = false;
  bool largeSizes = false;  // 64-bit size fields even when the sizes fit in 32 bits
  bool solid = false;       // entry flag 0x0004
  uint32_t encryption = 0;  // 0, 1 or 2
  std::string password;     // bytes the key is made from
  std::optional<std::array<FileTime, 3>> times;  // "PHTV": creation, access, write (UTC)
  std::optional<uint32_t> unixMode;              // "UXTV"
  std::vector<SubBlock> subBlocks;               // after PHTV and UXTV
  std::optional<CommentFields> comment;          // entry comment (flag 0x0020)
  uint16_t extraFlags = 0;                       // ORed into the head's flags

  // The packed stream as given (before encryption); otherwise the data is
  // stored (method 0) or packed by the writer's packer.
  std::optional<Bytes> packed;
  // Field overrides for tests (the CRC is otherwise the register over the
  // data, the sizes those of the data and of the enciphered packed stream).
  std::optional<uint32_t> crc;
  std::optional<uint64_t> unpackedSize;
  std::optional<uint64_t> packedSize;
  // Packed offsets at which the data moves on to a new volume (multi-volume
  // writers only; in addition to the volume size limit). 0 ends the first
  // volume right behind the entry's heads.
  std::vector<uint64_t> splitAt;
  // Called on every head of the entry (main entry head, index 0; its
  // sub-blocks 1...) after it is built; the head is resealed afterwards
  // unless reseal is cleared. Lets tests set any field.
  std::function<void(Bytes& head, size_t index)> editHead;
  bool reseal = true;
};

struct ArchiveSpec {
  uint16_t extraMainFlags = 0;      // ORed into the main header flags
  std::array<uint8_t, 13> mainTail = {fmt::kMainHeaderByte12};
  bool solid = false;               // archive flag 0x0004
  bool encryptHeads = false;        // archive flag 0x0002
  std::string headPassword;         // bytes the head key is made from
  std::optional<CommentFields> comment;  // archive comment (first volume)
  bool multiVolume = false;         // set by a volume size as well
  uint64_t volumeSize = 0;          // 0: no limit
  bool lastVolumeFlag = true;       // mark the last volume (0x0010)
  Bytes prefix;                     // bytes in front of the main header (a program)
  bool endMarker = true;            // end each volume with an end marker
  // A signer makes the 520-byte signature record that replaces a volume's
  // end marker; it gets the output (flushed) and the signed length (the
  // bytes of that volume in front of the record). Every volume of a set is
  // sealed, since a signature covers only the volume that holds it.
  std::function<bool(VolumeOutput& out, uint32_t volume, uint64_t signedLength, Bytes* record)>
      signer;
  // Sets as older writers made them: only the last volume sealed (tests).
  bool signLastVolumeOnly = false;
  Packer packer;
};

class ArchiveWriter {
 public:
  ArchiveWriter(ArchiveSpec shape, VolumeOutput* out);

  // Main header (and comment) of the first volume. Called by the first Add
  // when not called before.
  bool Begin();
  // A file (data = its unpacked bytes) or, with shape.folder, a folder.
  bool AddEntry(const EntrySpec& shape, const Bytes& data = {});
  // A stored file read piece by piece (files too large to hold in memory):
  // source(offset, buffer, n) fills n bytes of the file's data from offset;
  // crc is the register over all size bytes. The shape's method, packed
  // stream and packer are not used.
  using DataSource = std::function<bool(uint64_t offset, uint8_t* buffer, size_t n)>;
  bool AddStoredEntry(const EntrySpec& shape, uint64_t size, uint32_t crc, const DataSource& source);
  // A packed stream of size bytes read piece by piece (packed beforehand to
  // a file): method, filter byte, unpacked size and CRC as the packer gave
  // them. The stream is enciphered on the way as the shape asks.
  bool AddStreamedEntry(const EntrySpec& shape, uint8_t method, uint8_t filterByte, uint64_t unpacked,
                        uint32_t crc, uint64_t size, const DataSource& source);
  // A recovery block with data of the length its head announces (filler).
  bool AddRecovery(const RecoveryFields& fields, uint8_t filler = 0);
  // A head as given, enciphered when the archive's heads are, and raw bytes
  // as given.
  bool AddRawHead(const Bytes& head);
  bool AddRawBytes(const Bytes& bytes);
  // Ends the current volume and starts the next (multi-volume writers only).
  bool NewVolume();
  // End marker (or signature), last-volume flag, closes the output.
  bool Finish();

  const std::string& Error() const { return error_; }
  uint32_t VolumeCount() const { return volume_ + 1; }
  uint16_t MainFlags() const { return mainFlags_; }

 private:
  bool Fail(const std::string& message);
  // The signature record that ends the current volume.
  bool SealVolume();
  // Heads and data of one entry, split over volumes as needed; emitData
  // writes a byte range of the entry's (enciphered) packed stream. solid is
  // the entry flag as written (the packer may have started a new group);
  // dictCode the window bits (0 for what the packer chose to store).
  bool WriteEntry(const EntrySpec& shape, bool solid, uint32_t dictCode, uint8_t method, uint8_t filterByte,
                  uint32_t crc, uint64_t unpacked, uint64_t cipherSize,
                  const std::function<bool(uint64_t, uint64_t)>& emitData);
  bool StartVolume();
  bool Emit(const Bytes& bytes);
  Bytes HeadBytes(const Bytes& head) const;  // enciphered when heads are
  uint64_t VolumeLength() const;
  uint64_t EndReserve() const;
  bool VolumeHasRoom(uint64_t bytes) const;

  ArchiveSpec spec_;
  VolumeOutput* out_;
  bool begun_ = false;
  bool finished_ = false;
  uint32_t volume_ = 0;
  uint64_t volumeStart_ = 0;    // where the main header of this volume starts
  uint64_t bodyStart_ = 0;      // length of the volume when its body began
  uint16_t mainFlags_ = 0;
  bool firstEntry_ = true;
  std::string error_;
};

}  // namespace tvk

#endif
