// Text on Windows is the ANSI code page; the system's own functions step,
// upper-case, compare and convert it.
#include <windows.h>

#include <string.h>

#include "platform/platform.h"

namespace tvk {

namespace {

// Cuts a text to whole characters within size - 1 bytes and terminates it.
uint32_t CutToFit(char* text, uint32_t length, uint32_t size) {
  if (length <= size - 1) {
    text[length] = '\0';
    return length;
  }
  const char* end = text;
  for (;;) {
    const char* next = CharNextA(end);
    if (next == end || static_cast<uint32_t>(next - text) > size - 1) break;
    end = next;
  }
  uint32_t keep = static_cast<uint32_t>(end - text);
  text[keep] = '\0';
  return keep;
}

}  // namespace

const char* NextChar(const char* p) {
  if (!p || !*p) return p;
  return CharNextA(p);
}

const char* PrevChar(const char* start, const char* p) {
  if (!start || !p || p <= start) return start;
  return CharPrevA(start, p);
}

void StrUpper(char* s) {
  if (s && *s) CharUpperA(s);
}

int StrCompareNoCase(const char* a, const char* b) { return lstrcmpiA(a ? a : "", b ? b : ""); }

uint32_t AnsiToSystem(char* text, uint32_t length, uint32_t size) {
  if (!text || size == 0) return 0;
  // Where the code page is UTF-8 (a program that asks for it, or Windows
  // set so for all), the archive's Windows-1252 text is widened to it; text
  // the archive holds in UTF-8 already passes unchanged.
  if (length && GetACP() == CP_UTF8 &&
      !MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, static_cast<int>(length), nullptr, 0)) {
    WCHAR* wide = static_cast<WCHAR*>(MemAlloc(length * sizeof(WCHAR)));
    if (!wide) {
      text[0] = '\0';
      return 0;
    }
    const int n = MultiByteToWideChar(1252, 0, text, static_cast<int>(length), wide, static_cast<int>(length));
    const uint32_t result = Utf16ToSystem(reinterpret_cast<const uint8_t*>(wide), n > 0 ? n : 0, text, size);
    MemFree(wide);
    return result;
  }
  return CutToFit(text, length, size);
}

uint32_t OemToSystem(char* text, uint32_t length, uint32_t size) {
  if (!text || size == 0) return 0;
  if (length) OemToCharBuffA(text, text, length);
  return CutToFit(text, length, size);
}

uint32_t Utf16ToSystem(const uint8_t* units, uint32_t unitCount, char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  uint32_t n = 0;
  while (units && n < unitCount && (units[2 * n] | units[2 * n + 1]) != 0) ++n;
  if (n == 0) return 0;
  // The units may lie at any byte position; the system wants aligned ones.
  WCHAR* wide = static_cast<WCHAR*>(MemAlloc(n * sizeof(WCHAR)));
  if (!wide) return 0;
  for (uint32_t i = 0; i < n; ++i) wide[i] = static_cast<WCHAR>(units[2 * i] | (units[2 * i + 1] << 8));
  uint32_t result = 0;
  int needed = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
  if (needed > 0) {
    char* narrow = static_cast<char*>(MemAlloc(static_cast<size_t>(needed) + 1));
    if (narrow) {
      int got = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(n), narrow, needed, nullptr, nullptr);
      if (got > 0) {
        narrow[got] = '\0';
        result = CutToFit(narrow, static_cast<uint32_t>(got), size);
        memcpy(out, narrow, result + 1);
      }
      MemFree(narrow);
    }
  }
  MemFree(wide);
  return result;
}

}  // namespace tvk
