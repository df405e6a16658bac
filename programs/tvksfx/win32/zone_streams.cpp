// Named streams of the Windows file system for the zone mark.
#include <string.h>
#include <windows.h>

#include "programs/tvksfx/win32/zone_mark.h"
#include "platform/platform.h"

namespace tvk {

namespace {

bool StreamPath(char* out, uint32_t size, const char* path, const char* stream) {
  return StrCopy(out, size, path) == kStrOk && StrAppend(out, size, ":") == kStrOk &&
         StrAppend(out, size, stream) == kStrOk;
}

int32_t ReadStream(const char* path, const char* stream, char* buffer, uint32_t size) {
  char full[kPathSize + 32];
  if (!StreamPath(full, sizeof full, path, stream)) return -1;
  HANDLE h = CreateFileA(full, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  LARGE_INTEGER length;
  int32_t result = -1;
  if (GetFileSizeEx(h, &length) && length.QuadPart >= 0 && length.QuadPart < 0x7FFFFFFF) {
    DWORD want = length.QuadPart < size ? static_cast<DWORD>(length.QuadPart) : size;
    DWORD got = 0;
    if (ReadFile(h, buffer, want, &got, nullptr) && got == want) {
      result = static_cast<int32_t>(length.QuadPart);
    }
  }
  CloseHandle(h);
  return result;
}

bool WriteStream(const char* path, const char* stream, const char* data, uint32_t size) {
  char full[kPathSize + 32];
  if (!StreamPath(full, sizeof full, path, stream)) return false;
  HANDLE h = CreateFileA(full, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(h, data, size, &written, nullptr) && written == size;
  CloseHandle(h);
  return ok;
}

bool VolumeHasStreams(const char* path) {
  char root[kPathSize];
  if (!GetVolumePathNameA(path, root, sizeof root)) return false;
  DWORD flags = 0;
  if (!GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) return false;
  return (flags & FILE_NAMED_STREAMS) != 0;
}

const StreamLayer kSystemLayer = {ReadStream, WriteStream, VolumeHasStreams};

}  // namespace

const StreamLayer* SystemStreamLayer() { return &kSystemLayer; }

}  // namespace tvk
