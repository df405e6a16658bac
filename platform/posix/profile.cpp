// Profile strings on Linux: the whole file is read and searched with the same
// rules as the Windows reader (ProfileLookup). A file that is missing or
// cannot be read gives the empty default.
#include "platform/platform.h"

namespace tvk {

uint32_t ReadProfileString(const char* section, const char* key, char* out, uint32_t size,
                           const char* iniPath) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  if (!iniPath) return 0;
  FileHandle file = FileOpen(iniPath, "r");
  if (file == TVK_INVALID_FILE) return 0;
  int64_t fileSize = FileSize(file);
  // Language texts are at most 64 KiB; a bound keeps a hostile file from
  // asking for all memory.
  if (fileSize < 0 || fileSize > (int64_t)16 * 1024 * 1024) {
    FileClose(file);
    return 0;
  }
  size_t length = static_cast<size_t>(fileSize);
  char* text = static_cast<char*>(MemAlloc(length + 1));
  if (!text) {
    FileClose(file);
    return 0;
  }
  size_t got = 0;
  while (got < length) {
    int32_t n = FileRead(file, text + got, static_cast<uint32_t>(length - got));
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  FileClose(file);
  uint32_t result = ProfileLookup(text, got, section, key, out, size);
  MemFree(text);
  return result;
}

}  // namespace tvk
