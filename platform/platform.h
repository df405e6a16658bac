// The file, path, string and system layer shared by the host and the archive
// reader. The core keeps the Windows model (8-bit text, backslash paths,
// Windows attributes, DOS and FILETIME times); the posix backend maps it to
// Linux at each system call. C headers only: this is linked into the small
// self-extractor.
#ifndef TVK_PLATFORM_PLATFORM_H
#define TVK_PLATFORM_PLATFORM_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

namespace tvk {

// ---------------------------------------------------------------------------
// Sizes and result values
// ---------------------------------------------------------------------------

#if defined(_WIN32)
// 271 characters and the terminator, as every path buffer of the system.
constexpr uint32_t kPathSize = 272;
#else
// Linux paths are longer and texts are held as UTF-8 (up to three bytes for
// one character of the archive's code page).
constexpr uint32_t kPathSize = 1024;
#endif
constexpr uint32_t kMaxPathChars = kPathSize - 1;

// Bounded string results.
constexpr uint32_t kStrOk = 0;
constexpr uint32_t kStrInvalidArg = 0x80070057u;
constexpr uint32_t kStrTruncated = 0x8007007Au;

// Windows attribute bits (the archive stores these; posix maps them).
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrSystem = 0x04;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;

// ---------------------------------------------------------------------------
// Memory (the module has no C++ library: no exceptions, no std::nothrow)
// ---------------------------------------------------------------------------

void* MemAlloc(size_t size);            // nullptr when memory is short
void* MemAllocZero(size_t size);        // zero-filled
void MemFree(void* p);                  // nullptr is fine
// 16-byte-aligned block; the underlying address sits in the word before it.
void* AlignedAlloc16(size_t size);
// Zero-filled whole pages for the decoders' large buffers, which fill front
// to back: where the system can, they are backed by large pages, one fault
// instead of 512. Freed with MemFreeLarge and the size they were made with.
void* MemAllocLarge(size_t size);
void MemFreeLarge(void* p, size_t size);
void AlignedFree16(void* p);
// Fills with zeros in a way the optimiser does not drop (key material).
void SecureZero(void* p, size_t size);

// ---------------------------------------------------------------------------
// Times
// ---------------------------------------------------------------------------

struct FileTime {
  uint32_t low;
  uint32_t high;
};

// WIN32_FIND_DATAA layout.
struct FindData {
  uint32_t attributes;
  FileTime creationTime;
  FileTime lastAccessTime;
  FileTime lastWriteTime;
  uint32_t sizeHigh;
  uint32_t sizeLow;
  uint32_t reserved0;
  uint32_t reserved1;
  char name[260];
  char shortName[14];
};

// DOS date/time <-> FILETIME without any zone change (1 on success).
int DosToFileTime(uint16_t dosDate, uint16_t dosTime, FileTime* out);
int FileTimeToDos(const FileTime* in, uint16_t* dosDate, uint16_t* dosTime);
// Zone changes by the machine's current time zone (1 on success).
int LocalToUtcFileTime(const FileTime* local, FileTime* utc);
int UtcToLocalFileTime(const FileTime* utc, FileTime* local);
// The current time as a UTC FILETIME.
void NowFileTime(FileTime* out);

// Broken-down local time, used to show dates and times.
struct CalendarTime {
  uint16_t year, month, day, hour, minute, second;
};
int FileTimeToCalendar(const FileTime* ft, CalendarTime* out);  // no zone change

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

typedef void* FileHandle;
// All bits set: the platform's invalid handle value.
#define TVK_INVALID_FILE ((::tvk::FileHandle)(intptr_t)-1)

enum SeekOrigin { kSeekStart = 0, kSeekCurrent = 1, kSeekEnd = 2 };

// Mode letters: a (read/write, must exist), b (read/write, create/truncate),
// r (read, must exist), v (write, must exist), w (write, create/truncate).
FileHandle FileOpen(const char* path, const char* mode);
int FileClose(FileHandle h);                                       // 1 or 0
int64_t FileSeek(FileHandle h, int64_t offset, int origin);        // position or -1
int64_t FileSize(FileHandle h);                                    // size or -1
int64_t FileTell(FileHandle h);                                    // position or -1
int32_t FileRead(FileHandle h, void* buffer, uint32_t count);      // count, 0 at end, -1
int32_t FileWrite(FileHandle h, const void* buffer, uint32_t count);  // count or -1
int FileDelete(const char* path);                                  // 1 or 0
uint32_t FileSetAttributes(const char* path, uint32_t attributes);  // 0 or error
uint32_t FileResetAttributes(const char* path);                    // 0 or error
// The archive reader passes the high and the low half of one DOS stamp; the
// stamp is local time and all three times are set to it.
uint32_t FileSetTime(FileHandle h, uint32_t ignored, uint16_t dosDate, uint16_t dosTime);
// Sets the three times from UTC FILETIMEs (creation cannot be set on Linux).
uint32_t FileSetTimes(FileHandle h, const FileTime* creation, const FileTime* lastAccess,
                      const FileTime* lastWrite);
int FileFind(const char* pathOrPattern, FindData* out);  // 1 when something matches
int FileExists(const char* path);                         // a file, not a folder
int IsFolder(const char* path);
int MakeFolder(const char* path);
int MakeFolders(const char* path);
int MakeFoldersFor(const char* path);
// The folder creator that MakeFolders uses; tests replace it to see which
// prefixes are created without touching the system (nullptr restores it).
typedef int (*FolderCreator)(const char* path);
typedef int (*FolderProbe)(const char* path);
void SetFolderHooks(FolderCreator create, FolderProbe isFolder);
FileHandle CreateOutputFile(const char* path);
// A file that must not exist yet (a link of that name counts as existing),
// opened for writing; on Linux with the permission bits unixMode less the
// umask (by default readable by the owner alone). For temporary files in
// shared folders, and for output written under a name of its own.
FileHandle CreateNewFile(const char* path, uint32_t unixMode = 0600);
// Output below a target folder, which someone else may have prepared: the
// first rootLength characters of a path name the target (the user chose it,
// links there are followed); no component after them may be a link or, on
// Windows, any other reparse point. Missing folders on the way are made. On
// Linux every component is opened relative to the one before it without
// following links, so a link swapped in meanwhile is not followed either.
// CreateNewFileBelow sets *taken when something already stands under the
// name (then nothing was made); MakeFoldersBelow makes the whole path a
// folder; RenameBelow replaces to by from (both in one folder below root);
// DeleteBelow removes a file. 1 or 0 where not a handle.
FileHandle CreateNewFileBelow(const char* path, uint32_t rootLength, uint32_t unixMode, int* taken);
int MakeFoldersBelow(const char* path, uint32_t rootLength);
int RenameBelow(const char* from, const char* to, uint32_t rootLength);
int DeleteBelow(const char* path, uint32_t rootLength);
#if !defined(_WIN32)
// A symbolic link to target made under path below root (never followed);
// *taken as for CreateNewFileBelow.
int MakeLinkBelow(const char* path, uint32_t rootLength, const char* target, int* taken);
#endif
// The walk keeps the last folder it reached open for the next file; a run
// that ends lets go of it (on every thread) so the next run walks afresh.
void ForgetOutputFolders();
// What a file or folder is, whatever path names it (links followed): the
// device and inode on Linux, the volume serial and file index on Windows.
struct FileId {
  uint64_t volume;
  uint64_t index;
};
int GetFileId(const char* path, FileId* out);  // 1 or 0 (nothing there)
inline bool SameFileId(const FileId& a, const FileId& b) { return a.volume == b.volume && a.index == b.index; }
// When a file is stamped: the three UTC times when exact, else the local DOS
// stamp for all three (as FileSetTime).
struct OutputStamp {
  uint32_t exact;
  FileTime creation, lastAccess, lastWrite;
  uint16_t dosDate, dosTime;
};
void ApplyOutputStamp(FileHandle h, const OutputStamp& stamp);
// Output files made and finished behind the caller's back: what is handed
// over here is done in order on a second thread where the platform has one
// (posix), at once elsewhere. OutputQueueOpen makes a new file as
// CreateNewFileBelow does, its missing folders first, and OutputQueueFolder a
// folder as MakeFoldersBelow does; both answer false where there is no second
// thread (the caller does the work), and the file made stands as
// TVK_QUEUED_FILE in the calls that follow. A handle belongs to the queue
// from OutputQueueFinish or OutputQueueDiscard on. A failure is kept: nothing
// more is made or written, and that file and every file finished after it
// are closed and deleted, until OutputQueueClear (at the end of a run).
#define TVK_QUEUED_FILE ((::tvk::FileHandle)(intptr_t)-2)
bool OutputQueueOpen(const char* path, uint32_t rootLength, uint32_t unixMode);
bool OutputQueueFolder(const char* path, uint32_t rootLength);
void OutputQueueWrite(FileHandle h, const void* data, uint32_t n);
void OutputQueueFinish(FileHandle h, const OutputStamp& stamp, const char* path, uint32_t rootLength);
void OutputQueueDiscard(FileHandle h, bool keep, const char* path, uint32_t rootLength);
// 28004 after a failed write, 28002 after a file or folder that could not be
// made, else 0; does not wait.
uint32_t OutputQueueFailure();
// The file or folder whose making or writing set that failure, when the
// queue knows its name; empty otherwise (nothing failed, or a file the
// caller made itself failed and was closed without the queue).
void OutputQueueFailedPath(char* out, uint32_t size);
uint32_t OutputQueueWait();  // waits until all is done; the failure
void OutputQueueClear();     // forgets the failure; nothing may be queued
int UniqueTempName(const char* folderPath, const char* suffix, char* out, uint32_t outSize);
void LongForm(char* path, uint32_t size);
int RenameFile(const char* from, const char* to);   // replaces an existing target; 1 or 0
// Unix mode bits of a file (posix only; 0 where there are none). Only the
// permission bits (0777) are ever set; on Windows setting does nothing and
// answers 1.
int SetUnixMode(const char* path, uint32_t mode);
uint32_t GetUnixMode(const char* path);

// ---------------------------------------------------------------------------
// Paths (backslash separators; the posix backend turns them into '/')
// ---------------------------------------------------------------------------

// Answers the new end of the text, or nullptr when the backslash would not
// fit into a path buffer (kPathSize - 1 characters or more).
char* AddBackslash(char* path);
void RemoveBackslash(char* path);
const char* NamePart(const char* path);
void CopyNamePart(char* out, uint32_t outSize, const char* path);
void FolderPart(char* out, uint32_t outSize, const char* path);
const char* Extension(const char* path);  // points at the dot, or nullptr
int ChangeExtension(char* path, const char* newExtension);  // limit kPathSize; 1 or 0
int ParentPath(char* path);                                  // 0 when nothing to cut
int IsRoot(const char* path);
int RootOf(const char* path, char* out, uint32_t outSize);
const char* WithoutRoot(const char* path);
uint32_t NthBackslash(const char* path, uint32_t n);
void SlashesToBackslashes(char* path);
// Steps through a text one character at a time (CharNextA / CharPrevA on
// Windows, UTF-8 sequences on Linux). NextChar stays on the terminator;
// PrevChar stays on start.
const char* NextChar(const char* p);
const char* PrevChar(const char* start, const char* p);
#if !defined(_WIN32)
// Internal form (backslashes) <-> the system's form ('/'); 1, or 0 when the
// result does not fit.
int ToSystemPath(const char* path, char* out, uint32_t size);
int FromSystemPath(const char* systemPath, char* out, uint32_t size);
#endif

// ---------------------------------------------------------------------------
// Strings
// ---------------------------------------------------------------------------

uint32_t StrCopy(char* dst, uint32_t size, const char* src);
uint32_t StrCopyN(char* dst, uint32_t size, const char* src, uint32_t n);
uint32_t StrAppend(char* dst, uint32_t size, const char* src);
// Where `first` followed by `second` (not the terminator) starts in s, or
// nullptr: every search the extractor makes is for two characters, and a
// general substring search costs the static Linux program near 1 KB.
const char* StrFindPair(const char* s, char first, char second);
// The Windows build formats with the runtime's C99 printf, not the system's.
#if defined(__MINGW32__)
#define TVK_PRINTF_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define TVK_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#endif
uint32_t StrFormat(char* dst, uint32_t size, const char* format, ...) TVK_PRINTF_FORMAT(3, 4);
uint32_t StrFormatV(char* dst, uint32_t size, const char* format, va_list args);
// The formatter behind StrFormat, for snprintf's uses: integers (d i u x X o
// with h, l, ll, z, I64), c, s, p and %%, with flags, width and precision; no
// floating point. Always terminates (size > 0) and answers the length the
// whole result has.
uint32_t FormatV(char* dst, uint32_t size, const char* format, va_list args);
uint32_t Format(char* dst, uint32_t size, const char* format, ...) TVK_PRINTF_FORMAT(3, 4);
char* StrDuplicate(const char* s);
void StrUpper(char* s);  // ASCII and the Latin-1 letters (UTF-8 on Linux)
int StrCompareNoCase(const char* a, const char* b);
// Case-sensitive; callers upper-case both first.
int WildcardMatch(const char* name, const char* pattern);

// ---------------------------------------------------------------------------
// Text in archives and payloads
// ---------------------------------------------------------------------------

// Converts a text of the archive's ANSI code page in place to the form the
// system shows (identity on Windows; UTF-8 on Linux, where bytes that are not
// valid UTF-8 are read as Windows-1252). Answers the new length, cut to fit
// size - 1 bytes.
uint32_t AnsiToSystem(char* text, uint32_t length, uint32_t size);
// OEM (code page 850 on Linux) to the system form, in place.
uint32_t OemToSystem(char* text, uint32_t length, uint32_t size);
// UTF-16LE units to the system form, stopping at a NUL unit.
uint32_t Utf16ToSystem(const uint8_t* units, uint32_t unitCount, char* out, uint32_t size);

// ---------------------------------------------------------------------------
// System services
// ---------------------------------------------------------------------------

int GetProgramPath(char* out, uint32_t size);      // the program's own file
int GetTempFolder(char* out, uint32_t size);        // ends in a backslash
int GetCurrentFolder(char* out, uint32_t size);
int SetCurrentFolder(const char* path);
int GetSystemFolder(char* out, uint32_t size);
int GetWindowsFolder(char* out, uint32_t size);

// Profile-string reading with the observable rules of
// GetPrivateProfileStringA: sections and keys matched without regard to
// case, blanks trimmed, at most size - 1 (and 2047) characters, empty default.
// Answers the number of characters copied.
uint32_t ReadProfileString(const char* section, const char* key, char* out, uint32_t size,
                           const char* iniPath);
// The same lookup over a text already in memory (the posix reader, and the
// payload writer's check of a language text before it is stored).
uint32_t ProfileLookup(const char* text, size_t length, const char* section, const char* key,
                       char* out, uint32_t size);
constexpr uint32_t kProfileValueLimit = 2047;
// Many keys of one file read in a row: between ProfileHold and
// ProfileRelease, reads of that path are answered from the text read at the
// hold instead of reading the file for every key (Linux; Windows's reader
// keeps its own copy, and these do nothing there).
void ProfileHold(const char* iniPath);
void ProfileRelease();

// Window centring, kept pure so that it can be tested anywhere.
struct Rect {
  int32_t left, top, right, bottom;
};
void CentrePosition(const Rect& window, const Rect& over, int32_t screenWidth,
                    int32_t screenHeight, int32_t* x, int32_t* y);

}  // namespace tvk

// A placement form of our own: the module has no <new>.
struct TvkPlacement {};
inline void* operator new(size_t, TvkPlacement, void* p) noexcept { return p; }
inline void operator delete(void*, TvkPlacement, void*) noexcept {}

namespace tvk {
// Creates an object on the heap without the C++ library; nullptr when memory
// is short.
template <class T>
T* New() {
  void* p = MemAlloc(sizeof(T));
  return p ? new (TvkPlacement{}, p) T() : nullptr;
}
template <class T>
void Delete(T* p) {
  if (p) {
    p->~T();
    MemFree(p);
  }
}
}  // namespace tvk

#endif
