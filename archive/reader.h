// The archive handler: the one object through which the self-extractor and
// the tvk command line open, list, test and extract TVK archives. Questions
// to the user travel through the callback record; the reader shows nothing.
//
// Calling order: SetCallbacks, Open, LastError; then List, or SetOptions
// (kind 2) followed by Extract, or TestAll; LastError; Close. An error code
// once set stays until Close; every operation stops as soon as one is set.
// Close forgets the archive, its options and passwords but keeps the
// installed callbacks.
#ifndef TVK_ARCHIVE_READER_H
#define TVK_ARCHIVE_READER_H

#include <stddef.h>
#include <stdint.h>

#include "archive/output_files.h"
#include "archive/path_rules.h"
#include "archive/signature_check.h"
#include "codec/decode.h"
#include "codec/decode_entry.h"
#include "platform/platform.h"

namespace tvk {

// ---------------------------------------------------------------------------
// Entries
// ---------------------------------------------------------------------------

constexpr uint64_t kNoPosition = ~static_cast<uint64_t>(0);

// One block of the archive as NextBlock decoded it. For blocks that are not
// file or folder entries isEntry is 0 and the name is empty.
struct FileEntry {
  char name[kPathSize];     // cleaned name, system text (UTF-8 on Linux); folders end in '\'
  uint32_t nameLength;      // bytes taken from the head, at most 270
  uint64_t packedSize;      // of this volume's part; 0 for folders
  uint64_t unpackedSize;    // 0 for folders
  uint32_t dosTime;         // time in the low half, date in the high half; local time
  uint32_t attributes;      // Windows attributes
  uint32_t version;         // 11 or 20 for entries this reader decodes
  uint32_t crc;             // stored CRC-32 register (complement of the usual value)
  uint32_t infoByte;
  uint32_t method;
  uint32_t commentLength;
  char* comment;            // owned, NUL-terminated system text, or nullptr
  uint32_t encryptionKind;  // 0 none, 1 AES-128, 2 AES-256
  uint32_t isEntry;         // 1 for file and folder entries
  uint32_t listingMethod;   // filled by List: 0, 27, 28, 29, 30, 31 or 21
  uint32_t reserved;
  uint32_t hasWindowsTimes;  // a file-time sub-block was read
  FileTime creationTime;     // local times
  FileTime lastAccessTime;
  FileTime lastWriteTime;
  FileTime utcTimes[3];      // the same as stored (UTC): creation, access, write
  uint64_t blockPosition;    // position of the entry head in its volume
  uint32_t flags;            // entry flags
  uint32_t type;             // block type letter
  uint32_t filterByte;
  uint32_t headTotal;        // head, sub-blocks and comment as stored in the file
  uint32_t headCheck;
  uint64_t dstvPosition;     // kNoPosition when absent
  uint64_t latvPosition;
  uint64_t commentPosition;
  uint32_t hasUnixMode;      // a Unix-mode sub-block was read
  uint32_t unixMode;
};

// Frees what an entry owns (its comment) and leaves it reusable.
void FreeEntryBuffers(FileEntry* entry);

// ---------------------------------------------------------------------------
// Callbacks
// ---------------------------------------------------------------------------

constexpr uint32_t kPasswordAnswerSize = 250;  // answer buffer of both password prompts

// Run codes of the run-start callback.
constexpr uint32_t kRunExtract = 2;
constexpr uint32_t kRunExtractVolumes = 7;
constexpr uint32_t kRunTest = 11;
constexpr uint32_t kRunTestVolumes = 13;
constexpr uint32_t kRunSignature = 6;

// Answers of the overwrite callback.
constexpr int kOverwriteReplace = 0;
constexpr int kOverwriteSkip = 1;
constexpr int kOverwriteCancel = 2;
constexpr int kOverwriteReplaceExistingName = 3;

// Every callback gets its user value back as the first argument. Callbacks
// answer 1 to go on; anything else stops the run with 28001 (the overwrite
// callback answers with the codes above).
typedef void (*RunStartCallback)(void* user, uint32_t totalLow, uint32_t totalHigh,
                                 uint32_t runCode);
// entryName is a backslash followed by the entry's cleaned name.
typedef int (*EntryStartCallback)(void* user, const char* entryName, const char* outputPath);
// triedLast: the password that failed last (empty when none); answer: a
// buffer of kPasswordAnswerSize bytes; name: the entry's or the archive's
// file name without folders. 1 when a password was given, 0 to cancel.
typedef int (*PasswordCallback)(void* user, const char* triedLast, char* answer,
                                const char* name);
typedef int (*ProgressCallback)(void* user, uint32_t percent, uint32_t chunkLength);
typedef int (*OverwriteCallback)(void* user, const FindData* existing, const FindData* entry);
// path: kPathSize bytes, in: the expected full path of the volume, out: the
// folder in which to look for it. zero is always 0.
typedef int (*NextVolumeCallback)(void* user, char* path, uint32_t zero, uint32_t volume,
                                  uint32_t volumeAgain);
typedef int (*EntryDoneCallback)(void* user, const FileEntry* entry, const char* outputPath);

// Zero-filled: no callbacks. A null callback means the event is not handled.
struct ReaderCallbacks {
  RunStartCallback runStart;
  void* runStartUser;
  EntryStartCallback entryStart;
  void* entryStartUser;
  PasswordCallback entryPassword;
  void* entryPasswordUser;
  PasswordCallback headerPassword;
  void* headerPasswordUser;
  ProgressCallback progress;
  void* progressUser;
  OverwriteCallback overwrite;
  void* overwriteUser;
  NextVolumeCallback nextVolume;
  void* nextVolumeUser;
  EntryDoneCallback entryDone;
  void* entryDoneUser;
};

// ---------------------------------------------------------------------------
// Options records (SetOptions)
// ---------------------------------------------------------------------------

constexpr uint32_t kOptionsCompression = 1;
constexpr uint32_t kOptionsExtraction = 2;

// Attribute modes.
constexpr uint32_t kAttrModeStored = 0;
constexpr uint32_t kAttrModeWithoutArchiveBit = 1;
constexpr uint32_t kAttrModeWithArchiveBit = 2;
constexpr uint32_t kAttrModeLeave = 3;

// Kind 2. Zero-fill, set size = sizeof(ExtractOptions) and the fields wanted.
struct ExtractOptions {
  uint32_t size;
  uint32_t continueAfterErrors;  // forgive entry errors other than 28001, 28003, 28004
  uint32_t keepFolderPaths;      // 1: stored folders are kept under the target folder
  char storedFolder[kPathSize];  // kept, not used
  char baseFolder[kPathSize];    // prefix removed from stored paths (empty: none)
  char targetFolder[kPathSize];
  uint32_t attributeMode;        // kAttrMode*
  uint32_t replaceWithoutAsking;
  uint32_t ignoreSignatureMismatch;
  uint32_t restoreWindowsTimes;
  uint32_t overwriteMode;        // 0: ask through the overwrite callback; 1, 2: replace
};

// Kind 1. Accepted and kept; for reading only keepRoots matters (drive and
// network roots stay in entry names).
struct CompressOptions {
  uint32_t size;
  uint32_t method;
  uint32_t solid;
  uint32_t keepRoots;
  const void* settings;     // optional block, copied when present
  uint32_t settingsLength;
};

// Optional extra selection by attributes, DOS time and unpacked size.
constexpr uint32_t kFilterOff = 0;
constexpr uint32_t kFilterBelow = 1;
constexpr uint32_t kFilterAbove = 2;
constexpr uint32_t kFilterBetween = 3;  // from <= value <= to

struct EntryFilter {
  uint32_t useAttributes;    // entry passes when (attributes & mask) == value
  uint32_t attributeMask;
  uint32_t attributeValue;
  uint32_t timeMode;         // kFilter*, on the DOS stamp (date high, time low)
  uint32_t timeFrom;
  uint32_t timeTo;
  uint32_t sizeMode;         // kFilter*, on the unpacked size
  uint64_t sizeFrom;
  uint64_t sizeTo;
};

// ---------------------------------------------------------------------------
// Archive information (List)
// ---------------------------------------------------------------------------

struct ArchiveInfo {
  uint32_t reserved;
  uint32_t newVersion;       // the highest version listed is 20 to 29
  uint32_t majorVersion;
  uint32_t minorVersion;
  uint32_t dictionaryKiB;
  uint32_t commentBits;      // 1: archive comment; 2: a listed file has a comment
  uint32_t recoveryValue;
  uint32_t encryption;       // 2 kind 1, 4 kind 2, else 0 (last encrypted file listed)
  uint32_t solid;
  uint32_t infoByte;
  uint32_t fileCount;        // files listed (folders not counted)
  uint64_t packedTotal;
  uint64_t unpackedTotal;
  uint32_t ratio;            // packed * 100 / unpacked
  uint32_t signatureValid;
  char signer[kPathSize];
  FileTime signedAt;         // UTC
  uint32_t encryptedHeads;
  uint32_t multiVolume;
  // Why a signature met by the listing does not vouch for the archive
  // (kSignature*, archive/signature_check.h); 0 when valid or unsigned.
  uint32_t signatureProblem;
};

// ---------------------------------------------------------------------------
// Name lists
// ---------------------------------------------------------------------------

constexpr uint32_t kListNames = 0;    // items are NameItem (masks)
constexpr uint32_t kListEntries = 1;  // items are FileEntry copies

struct NameItem {
  char* text;  // owned copy
};

struct NameListNode {
  NameListNode* next;
  void* item;  // NameItem* or FileEntry*
};

struct NameList {
  NameListNode* head;
  NameListNode* tail;
  uint32_t count;
  uint32_t kind;
  void* spare;  // freed with the list
  // Kind 0: compares two NameItems upper-cased and without roots (0 = equal).
  int (*compare)(const void* a, const void* b);
  void (*release)(void* item);
};

// ---------------------------------------------------------------------------
// The handler class family
// ---------------------------------------------------------------------------

// SignatureResult: archive/signature_check.h, shared with the signature check.

// The generic handler: list, extract and test answer 28066.
class ArchiveHandlerBase {
 public:
  ArchiveHandlerBase();
  virtual ~ArchiveHandlerBase();
  virtual void Reset();
  virtual uint32_t Open(const char* path);
  virtual void Close();
  virtual void SetOptions(uint32_t kind, const void* record);
  virtual uint32_t List(NameList* include, NameList* exclude, const EntryFilter* filter,
                        NameList* result, ArchiveInfo* info);
  virtual uint32_t Extract(NameList* include, NameList* exclude, const EntryFilter* filter);
  virtual uint32_t TestAll();

  // Copied; nullptr keeps the callbacks installed before.
  void SetCallbacks(const ReaderCallbacks* callbacks);
  uint32_t LastError() const { return error_; }

  // Kind 0 or 1; nullptr with 28008 for another kind, 28003 without memory.
  NameList* CreateNameList(uint32_t kind);
  // Appends a copy of text to a kind-0 list: 0, or 28003.
  uint32_t AddName(NameList* list, const char* text);
  void FreeNameList(NameList* list);

  ArchiveHandlerBase(const ArchiveHandlerBase&) = delete;
  ArchiveHandlerBase& operator=(const ArchiveHandlerBase&) = delete;

 protected:
  void SetError(uint32_t code) {
    if (error_ == 0) error_ = code;
  }

  uint32_t error_ = 0;
  ReaderCallbacks callbacks_{};
  ExtractOptions extractOptions_{};
  uint32_t haveExtractOptions_ = 0;
  CompressOptions compressOptions_{};
  void* compressSettings_ = nullptr;  // owned copy of the attached settings block
  EntryFilter filterRecord_{};
  const EntryFilter* filter_ = nullptr;
  uint8_t* headBuffer_ = nullptr;     // kHeadBufferSize bytes (+ room for the cipher)
  char* archiveComment_ = nullptr;
  uint32_t archiveCommentLength_ = 0;
};

// Adds nothing but its own identity. Its destructor is defined out of line so
// that the class tables live in the module, which is built without RTTI.
class ArchiveHandler : public ArchiveHandlerBase {
 public:
  ArchiveHandler() = default;
  ~ArchiveHandler() override;
};

class ArchiveReader final : public ArchiveHandler, private PackedSource, private EntrySink {
 public:
  ArchiveReader();
  ~ArchiveReader() override;
  void Reset() override;
  uint32_t Open(const char* path) override;
  void Close() override;
  void SetOptions(uint32_t kind, const void* record) override;
  uint32_t List(NameList* include, NameList* exclude, const EntryFilter* filter,
                NameList* result, ArchiveInfo* info) override;
  uint32_t Extract(NameList* include, NameList* exclude, const EntryFilter* filter) override;
  uint32_t TestAll() override;

  // Read-only views for front ends and tests.
  const char* ArchiveComment() const { return archiveComment_; }
  uint32_t ArchiveCommentLength() const { return archiveCommentLength_; }
  const char* CurrentVolumePath() const { return volumePath_; }
  const SignatureResult& Signature() const { return signature_; }
  bool IsNewArchive() const { return newArchive_ != 0; }
  // After an extraction that ended with a write error (28004) or an output
  // the queue could not make (28002): the output path of the file or folder
  // that failed, which need not be the entry the run had reached. Empty
  // when no output failed.
  const char* FailedOutputPath() const { return output_.failedPath; }

  // Called with the path of every file written in full, after its times and
  // before its attributes (which may make it read-only), so that a front end
  // can add to it what the platform needs.
  using FileWrittenHook = ::tvk::FileWrittenHook;
  void SetFileWrittenHook(FileWrittenHook hook, void* user) {
    output_.written = hook;
    output_.writtenUser = user;
  }

  // ---- The block layer (used by the driver, the listing and the tests) ----
  // All of them read the open volume. Finds the main header in the first
  // 256 KiB of it; sets archive start, main header length and the archive
  // switches.
  bool LocateMainHeader();
  // Reads one head at the read position into the head buffer; headLength
  // is its length in the file (size, or L + 2 with encrypted heads).
  bool ReadBlockHead(uint32_t* headLength);
  // Reads a comment block at position (kNoPosition: the read position)
  // for the archive (entry == nullptr) or an entry; lengthInFile is the
  // block's length in the file (an empty comment still has one).
  bool ReadComment(uint64_t position, FileEntry* entry, uint32_t* lengthInFile);
  // Decodes the block at the current block position and moves past it.
  bool NextBlock(FileEntry* entry);

 private:
  // PackedSource
  int32_t ReadArchive(void* dest, uint32_t n) override;
  bool SwitchVolume() override;
  // EntrySink
  void Write(const uint8_t* data, uint32_t n) override;
  void Progress(uint64_t n) override;

  void ClearState();
  bool AskHeaderPassword();
  bool OpenVolume();
  bool NextVolume(bool promptAllowed);
  bool OpenCurrentVolume();
  void CloseArchiveFile();
  // The open volume through a read window: count read (short only at the
  // end of the file) or -1; a seek only moves the read position.
  int64_t ReadIn(void* dest, uint32_t n);
  bool SeekIn(uint64_t position);
  int64_t ArchiveFileSize();
  bool VolumeExists(const char* path);
  bool IsSelected(const FileEntry& entry) const;
  VolumeNames Volumes() const { return {volumePath_, firstVolumePath_, multiVolume_}; }
  int OverwriteCheck(const FileEntry& entry, char* outputPath);
  void WalkForRunStart();
  bool EntryDone(const FileEntry& entry);
  uint32_t ExtractEntries(NameList* include, NameList* exclude, NameList* result,
                          const EntryFilter* filter);
  // After an entry the run goes on with the next block or ends there; the
  // entry has then set the error that ends it.
  enum class EntryStep { kNext, kLeave };
  EntryStep ExtractOneEntry(FileEntry* entry);
  EntryStep LeaveWith(uint32_t code) {
    SetError(code);
    return EntryStep::kLeave;
  }
  bool PrepareEntryKey(const FileEntry& entry, bool askAgain);
  bool AskEntryPassword(const char* fileName);
  void DecodeCurrentEntry(const FileEntry& entry);
  bool OpenOutputFile(const FileEntry& entry);
  bool CreateDecoderObjects();
  void DestroyDecoderObjects();
  void CheckSignatureOfVolume();
  bool MismatchForgiven() const;

  // Archive and volumes.
  char volumePath_[kPathSize] = {};
  char firstVolumePath_[kPathSize] = {};  // where the run began
  FileHandle file_ = TVK_INVALID_FILE;
  FileHandle sizeOf_ = TVK_INVALID_FILE;  // the handle knownSize_ was asked for
  int64_t knownSize_ = -1;
  static constexpr uint32_t kReadCacheSize = 65536;
  uint8_t* cache_ = nullptr;     // kReadCacheSize bytes, made on the first read
  uint64_t cacheStart_ = 0;      // file position of cache_[0]
  uint32_t cacheLength_ = 0;
  uint64_t readPosition_ = 0;
  int64_t filePosition_ = 0;     // where file_ itself stands; -1 unknown
  uint64_t archiveStart_ = 0;
  uint64_t mainHeaderLength_ = 0;
  uint64_t bodyStart_ = 0;
  uint64_t blockPosition_ = 0;
  uint32_t volumeCounter_ = 0;
  uint32_t continuation_ = 0;     // a continued entry is acceptable
  uint32_t newArchive_ = 0;
  uint32_t dictionaryKiB_ = 32;
  uint32_t opened_ = 0;

  // Archive switches.
  uint32_t encryptedHeads_ = 0;
  uint32_t solid_ = 0;
  uint32_t multiVolume_ = 0;
  uint32_t lastVolume_ = 0;
  uint32_t hasComment_ = 0;
  uint32_t signed_ = 0;

  // Blocks met by the walk.
  uint32_t signatureSeen_ = 0;
  uint64_t signaturePosition_ = 0;
  uint64_t endMarkerPosition_ = 0;
  uint32_t recoverySeen_ = 0;
  uint64_t recoveryPosition_ = 0;
  uint32_t recoveryValue_ = 0;
  SignatureResult signature_{};
  uint32_t digestKind_ = kDigestMd5;  // of the last signature check

  // Passwords: entered and active, for entries and for heads.
  char enteredEntryPassword_[kPathSize] = {};
  char activeEntryPassword_[kPathSize] = {};
  char enteredArchivePassword_[kPathSize] = {};
  char activeArchivePassword_[kPathSize] = {};
  uint32_t haveArchivePassword_ = 0;

  // Per run.
  uint32_t testMode_ = 0;
  uint32_t skip_ = 0;
  uint32_t linkEntry_ = 0;  // the entry's data is a link's target, kept
  uint32_t askAgain_ = 0;
  uint32_t runCode_ = 0;
  OutputFile output_{};
  PathRules paths_{};
  NameList* include_ = nullptr;
  NameList* exclude_ = nullptr;

  // Decoding: the packed input, the decoders made on first use in a run and
  // the stored method's copy buffer.
  DecodeState decode_{};
  PackedInput* input_ = nullptr;
  DecodeRun run_{};
  uint64_t progressTotal_ = 0;
  uint64_t entryUnpacked_ = 0;
  uint64_t entryWritten_ = 0;  // bytes the decoder has given for this entry
};

}  // namespace tvk

#endif
