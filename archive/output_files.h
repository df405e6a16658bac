// The output file of the entry being extracted: made under its own name
// where that is free, else under a temporary name beside it and put in place
// once the entry is whole; its times and attributes; and what the output
// queue was handed during the run.
#ifndef TVK_ARCHIVE_OUTPUT_FILES_H
#define TVK_ARCHIVE_OUTPUT_FILES_H

#include <stdint.h>

#include "archive/format.h"
#include "platform/platform.h"

namespace tvk {

struct FileEntry;
struct ExtractOptions;

// Called with the path of every file written in full, after its times and
// before its attributes (which may make it read-only).
using FileWrittenHook = void (*)(void* user, const char* path);

struct OutputFile {
  FileHandle handle = TVK_INVALID_FILE;  // TVK_QUEUED_FILE while the queue has it
  char path[kPathSize] = {};             // the final name of the open output
  char tempPath[kPathSize] = {};         // where it is written until checked
  char failedPath[kPathSize] = {};       // set by EndOutputRun
  uint32_t fresh = 0;                    // made by this run under its final name
  uint32_t root = 0;                     // the length of the target folder in path
  uint32_t nameFree = 0;                 // the overwrite lookup found nothing there
  uint64_t queuedNames[1024] = {};
  // The target of the link entry being decoded (kNoLink: none whole), and
  // the links of the run, made after its last file: records of the root
  // length, the path and the target, each ending in NUL.
  uint32_t linkLength = 0;
  char linkTarget[fmt::kMaxLinkTarget + 1] = {};
  char* links = nullptr;
  uint32_t linksUsed = 0;
  uint32_t linksSize = 0;
  FileWrittenHook written = nullptr;
  void* writtenUser = nullptr;
  uint32_t* error = nullptr;  // the run's error code; the first one set stays
};

// The permission bits a new file for the entry is made with. Windows files
// take their attributes once they are complete.
#if defined(_WIN32)
inline uint32_t OutputFileMode(const FileEntry&, const ExtractOptions&) { return 0; }
#else
uint32_t OutputFileMode(const FileEntry& entry, const ExtractOptions& options);
#endif

enum OutputCreation { kOutputCreated, kOutputNameTaken, kOutputNotMade };
// Makes the file under out->path, with its missing folders.
OutputCreation CreateOutput(OutputFile* out, uint32_t mode);
// Once whatever holds the name is known not to be the archive, and the queue
// is through: a temporary name beside it. False when none could be made.
bool CreateOutputBeside(OutputFile* out, uint32_t mode);
// Makes out->path a folder; false when it cannot be made.
bool MakeOutputFolder(OutputFile* out, uint32_t attributes);

// Links are made on Linux only: elsewhere a link entry is a small file
// holding its target, never followed.
constexpr uint32_t kNoLink = 0xFFFFFFFFu;
#if defined(_WIN32)
inline bool IsLinkEntry(const FileEntry&) { return false; }
#else
bool IsLinkEntry(const FileEntry& entry);
#endif
// The decoded bytes of a link entry, kept until the entry is checked.
void CaptureLink(OutputFile* out, const uint8_t* data, uint32_t n);
// A target with a NUL in it, or none at all, is damage.
bool LinkTargetIsSound(const OutputFile& out);
// Keeps a sound captured target for the end of the run; false when memory
// is short.
bool QueueLink(OutputFile* out);

// Sets the error that stops the run where the bytes cannot be written.
void WriteOutput(OutputFile* out, const uint8_t* data, uint32_t n);
// Closes the open output; keep puts it in place, otherwise it is deleted.
// Sets the failure of the queue met on the way.
void DiscardOutput(OutputFile* out, bool keep);
// Stamps, closes and puts in place the output of a complete entry, then
// hands it to the hook and gives it its attributes. Sets 28002 when it
// could not be put in place.
void FinishOutput(OutputFile* out, const FileEntry& entry, const ExtractOptions& options);
// A damaged result at the output path would put nothing of the user's at stake.
inline bool OutputIsNew(const OutputFile& out) { return out.fresh || !FileExists(out.path); }

// Waits until the queue is through, and sets its failure.
void WaitForOutputQueue(OutputFile* out);
// Whether a name may have been handed to the queue since it was last through.
bool MaybeQueued(const OutputFile& out, const char* path);
// After the last entry and the last wait: makes the links of the run, notes
// the path of the output that failed, and forgets the queue's failure and
// the folders made.
void EndOutputRun(OutputFile* out, bool writeFailed);

}  // namespace tvk

#endif
