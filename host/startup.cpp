// Start-up: payload, language text, settings, derived options.
#include "host/startup.h"

#include <string.h>
#include <time.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "common/bytes.h"

namespace tvk {

StartupState startupState;

namespace {

uint32_t ReadFully(FileHandle file, uint8_t* buffer, uint32_t count) {
  uint32_t got = 0;
  while (got < count) {
    int32_t n = FileRead(file, buffer + got, count - got);
    if (n <= 0) break;
    got += static_cast<uint32_t>(n);
  }
  return got;
}

// ---- The temporary file that holds the language text ----------------------
//
// The profile reader wants a file. A shared temporary folder may hold a link
// planted under the name we pick, so the file is created as a new one (never
// following a link, never reusing a file; private on Linux), and when the
// name is taken, other names are tried instead of touching what is there.
FileHandle CreateTemp(const char* folder, char* path, uint32_t pathSize) {
  MakeFoldersFor(folder);
  // When every short name is taken, the longer ones below are tried.
  FileHandle handle = TVK_INVALID_FILE;
  if (UniqueTempName(folder, ".~cx", path, pathSize)) handle = CreateNewFile(path);
  uint32_t seed = static_cast<uint32_t>(time(nullptr)) * 2654435761u;
  for (uint32_t attempt = 1; handle == TVK_INVALID_FILE && attempt <= 32; ++attempt) {
    char name[24];
    Format(name, sizeof name, "%u.~cx", static_cast<unsigned>((seed + attempt * 7919u) % 100000000u));
    FolderPart(path, pathSize, folder);
    AddBackslash(path);
    if (StrAppend(path, pathSize, name) != kStrOk) return TVK_INVALID_FILE;
    handle = CreateNewFile(path);
  }
  return handle;
}

// ---- Start-up error boxes ---------------------------------------------------

#if defined(_WIN32)
#define TVK_UE "\xFC"  // u umlaut, Windows-1252
#else
#define TVK_UE "\xC3\xBC"  // u umlaut, UTF-8
#endif

void DefaultShow(int, const char* text) {
#if defined(_WIN32)
  MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONWARNING);
#else
  // Straight to descriptor 1 (a POSIX file handle is its descriptor):
  // through stdio, this fallback alone would link its buffering and flushing
  // into the static program.
  const FileHandle out = reinterpret_cast<FileHandle>(intptr_t{1});
  FileWrite(out, "Error\n\n", 7);
  FileWrite(out, text, static_cast<uint32_t>(strlen(text)));
  FileWrite(out, "\n", 1);
#endif
}

StartupErrorShow errorShow = DefaultShow;

int Fail(int code) {
  ShowStartupError(code);
  return code;
}

}  // namespace

const char* StartupErrorText(int code) {
  switch (code) {
    case kStartupNoLanguage:
      return "Kann Metadaten f" TVK_UE "r Spracheinstellungen nicht finden.\n\n"
             "Could not locate meta data for language settings.";
    case kStartupNoPayload:
      return "Kann Metadaten nicht finden.\n\nCould not locate meta data.";
    case kStartupTempFolder:
      return "Der Zugriff auf den Temp-Ordner wurde verweigert.\n\nCould not access temp directory.";
    case kStartupMemory:
      return "Zuwenig Speicher.\n\nInsufficient memory.";
    default:
      return nullptr;
  }
}

void SetStartupErrorShow(StartupErrorShow show) { errorShow = show ? show : DefaultShow; }

void ShowStartupError(int code) {
  const char* text = StartupErrorText(code);
  if (!text) return;
  char box[256];
  StrCopy(box, sizeof box, text);
  errorShow(code, box);
}

int ParsePayloadHeader(const uint8_t* p, PayloadHeader* out) {
  if (memcmp(p, fmt::kPayloadSignature, sizeof fmt::kPayloadSignature) != 0) return 0;
  uint32_t magic = LoadU32(p + 6);
  uint32_t version = LoadU32(p + 10);
  uint32_t length = LoadU32(p + 14);
  if (magic != fmt::kPayloadMagic || version < fmt::kPayloadVersion || length == 0 ||
      length > fmt::kMaxLanguageText) {
    return 0;
  }
  if (out) *out = PayloadHeader{magic, version, length};
  return 1;
}

int64_t FindPayloadHeader(const uint8_t* buffer, uint32_t m, PayloadHeader* out) {
  for (uint32_t i = 0; i + fmt::kPayloadHeaderSize < m; ++i) {
    if (buffer[i] == static_cast<uint8_t>(fmt::kPayloadSignature[0]) &&
        ParsePayloadHeader(buffer + i, out)) {
      return i;
    }
  }
  return -1;
}

int RunStartup(const char* programPath, StartupState* state) {
  memset(state, 0, sizeof *state);
  StrCopy(state->programPath, sizeof state->programPath, programPath ? programPath : "");

  // A program file that cannot be read has no payload to offer.
  FileHandle file = FileOpen(state->programPath, "r");
  if (file == TVK_INVALID_FILE) return Fail(kStartupNoPayload);
  int64_t size = FileSize(file);
  if (size < 0) {
    FileClose(file);
    return Fail(kStartupNoPayload);
  }
  uint32_t n = size < static_cast<int64_t>(fmt::kPayloadScanLimit) ? static_cast<uint32_t>(size)
                                                                   : fmt::kPayloadScanLimit;
  uint8_t* buffer = static_cast<uint8_t*>(MemAlloc(n ? n : 1));
  if (!buffer) {
    FileClose(file);
    return Fail(kStartupMemory);
  }
  uint32_t m = 0;
  if (FileSeek(file, fmt::kPayloadScanStart, kSeekStart) == fmt::kPayloadScanStart) {
    m = ReadFully(file, buffer, n);
  }
  PayloadHeader header;
  int64_t at = FindPayloadHeader(buffer, m, &header);
  if (at < 0) {
    FileClose(file);
    MemFree(buffer);
    return Fail(kStartupNoPayload);
  }

  char tempFolder[kPathSize];
  char tempPath[kPathSize];
  FileHandle temp = TVK_INVALID_FILE;
  if (GetTempFolder(tempFolder, sizeof tempFolder)) {
    temp = CreateTemp(tempFolder, tempPath, sizeof tempPath);
  }
  if (temp == TVK_INVALID_FILE) {
    FileClose(file);
    MemFree(buffer);
    return Fail(kStartupTempFolder);
  }

  // Copy the language text. A file that ends inside it stops the copy
  // (instead of reading nothing forever) and ends start-up.
  int failure = 0;
  int64_t textStart = fmt::kPayloadScanStart + at + fmt::kPayloadHeaderSize;
  if (FileSeek(file, textStart, kSeekStart) != textStart) failure = kStartupNoPayload;
  uint32_t remaining = header.languageLength;
  while (!failure && remaining > 0) {
    uint32_t chunk = remaining < n ? remaining : n;
    int32_t got = FileRead(file, buffer, chunk);
    if (got <= 0) {
      failure = kStartupNoPayload;
    } else if (FileWrite(temp, buffer, static_cast<uint32_t>(got)) != got) {
      failure = kStartupTempFolder;
    } else {
      remaining -= static_cast<uint32_t>(got);
    }
  }
  FileClose(temp);
  MemFree(buffer);
  if (failure) {
    FileDelete(tempPath);
    FileClose(file);
    return Fail(failure);
  }

  int loaded = LoadMessageTable(tempPath, &state->messages);
  // The copy has served either way; leaving the payload's text behind in a
  // shared folder helps nobody.
  FileDelete(tempPath);
  if (!loaded) {
    FileClose(file);
    FreeMessageTable(&state->messages);
    return Fail(kStartupNoLanguage);
  }

  // The file position is the first byte behind the language text.
  ReadSettings(file, &state->settings);
  FileClose(file);

  state->programSize = static_cast<uint64_t>(size);
  state->earlyCheck = size <= static_cast<int64_t>(fmt::kEarlyCheckLimit);
  DeriveOptions(state);
  if (!state->macroFailed && state->settings.infoText[0]) state->infoTextPending = 1;
  return 0;
}

}  // namespace tvk
