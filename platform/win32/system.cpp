// The system's folders, the program's own path, the current folder and time
// zones over kernel32.
#include <windows.h>

#include "platform/platform.h"

namespace tvk {

namespace {

// A system call that fills a buffer and answers the length, 0 on failure or
// at least the size when the buffer is too small.
int Filled(DWORD n, char* out, uint32_t size) {
  if (n == 0 || n >= size) {
    out[0] = '\0';
    return 0;
  }
  return 1;
}

}  // namespace

int GetProgramPath(char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  return Filled(GetModuleFileNameA(nullptr, out, size), out, size);
}

int GetTempFolder(char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  return Filled(GetTempPathA(size, out), out, size);
}

int GetCurrentFolder(char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  return Filled(GetCurrentDirectoryA(size, out), out, size);
}

int SetCurrentFolder(const char* path) { return path && SetCurrentDirectoryA(path) ? 1 : 0; }

int GetSystemFolder(char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  return Filled(GetSystemDirectoryA(out, size), out, size);
}

int GetWindowsFolder(char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  return Filled(GetWindowsDirectoryA(out, size), out, size);
}

void NowFileTime(FileTime* out) {
  if (out) GetSystemTimeAsFileTime(reinterpret_cast<FILETIME*>(out));
}

int LocalToUtcFileTime(const FileTime* local, FileTime* utc) {
  if (!local || !utc) return 0;
  return LocalFileTimeToFileTime(reinterpret_cast<const FILETIME*>(local), reinterpret_cast<FILETIME*>(utc)) ? 1
                                                                                                             : 0;
}

int UtcToLocalFileTime(const FileTime* utc, FileTime* local) {
  if (!utc || !local) return 0;
  return FileTimeToLocalFileTime(reinterpret_cast<const FILETIME*>(utc), reinterpret_cast<FILETIME*>(local)) ? 1
                                                                                                             : 0;
}

void* MemAllocLarge(size_t size) { return size ? MemAllocZero(size) : nullptr; }

void MemFreeLarge(void* p, size_t) { MemFree(p); }

}  // namespace tvk
