// Profile strings on Linux: the whole file is read and searched with the same
// rules as the Windows reader (ProfileLookup). A file that is missing or
// cannot be read gives the empty default.
#include <string.h>

#include "platform/platform.h"

namespace tvk {

namespace {

// The whole text of a profile file, or nullptr when it cannot be read.
char* ReadWhole(const char* iniPath, size_t* length) {
  FileHandle file = FileOpen(iniPath, "r");
  if (file == TVK_INVALID_FILE) return nullptr;
  int64_t fileSize = FileSize(file);
  // Language texts are at most 64 KiB; a bound keeps a hostile file from
  // asking for all memory.
  if (fileSize < 0 || fileSize > (int64_t)16 * 1024 * 1024) {
    FileClose(file);
    return nullptr;
  }
  size_t wanted = static_cast<size_t>(fileSize);
  char* text = static_cast<char*>(MemAlloc(wanted + 1));
  if (!text) {
    FileClose(file);
    return nullptr;
  }
  size_t got = 0;
  while (got < wanted) {
    int32_t n = FileRead(file, text + got, static_cast<uint32_t>(wanted - got));
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  FileClose(file);
  *length = got;
  return text;
}

struct HeldProfile {
  char path[kPathSize];
  char* text;
  size_t length;
};
HeldProfile gHeld;

}  // namespace

void ProfileHold(const char* iniPath) {
  ProfileRelease();
  if (!iniPath || StrCopy(gHeld.path, sizeof(gHeld.path), iniPath) != kStrOk) return;
  gHeld.text = ReadWhole(iniPath, &gHeld.length);
}

void ProfileRelease() {
  MemFree(gHeld.text);
  gHeld.text = nullptr;
  gHeld.path[0] = '\0';
}

uint32_t ReadProfileString(const char* section, const char* key, char* out, uint32_t size,
                           const char* iniPath) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  if (!iniPath) return 0;
  if (gHeld.text && strcmp(iniPath, gHeld.path) == 0) {
    return ProfileLookup(gHeld.text, gHeld.length, section, key, out, size);
  }
  size_t length = 0;
  char* text = ReadWhole(iniPath, &length);
  if (!text) return 0;
  uint32_t result = ProfileLookup(text, length, section, key, out, size);
  MemFree(text);
  return result;
}

}  // namespace tvk
