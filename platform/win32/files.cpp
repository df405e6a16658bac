// Files and folders over kernel32.
#include <windows.h>

#include <string.h>

#include "platform/platform.h"

static_assert(sizeof(tvk::FindData) == sizeof(WIN32_FIND_DATAA), "FindData mirrors WIN32_FIND_DATAA");
static_assert(sizeof(tvk::FileTime) == sizeof(FILETIME), "FileTime mirrors FILETIME");

namespace tvk {

namespace {

inline HANDLE Win(FileHandle h) { return static_cast<HANDLE>(h); }

uint32_t LastErrorResult() {
  DWORD e = GetLastError();
  return e ? static_cast<uint32_t>(e) : static_cast<uint32_t>(ERROR_GEN_FAILURE);
}

}  // namespace

FileHandle FileOpen(const char* path, const char* mode) {
  if (!path || !mode) return TVK_INVALID_FILE;
  DWORD access, share, creation;
  switch (mode[0]) {
    case 'a':
      access = GENERIC_READ | GENERIC_WRITE, share = FILE_SHARE_READ | FILE_SHARE_WRITE, creation = OPEN_EXISTING;
      break;
    case 'b':
      access = GENERIC_READ | GENERIC_WRITE, share = FILE_SHARE_READ | FILE_SHARE_WRITE, creation = CREATE_ALWAYS;
      break;
    case 'r':
      access = GENERIC_READ, share = FILE_SHARE_READ | FILE_SHARE_WRITE, creation = OPEN_EXISTING;
      break;
    case 'v':
      access = GENERIC_WRITE, share = FILE_SHARE_READ, creation = OPEN_EXISTING;
      break;
    case 'w':
      access = GENERIC_WRITE, share = FILE_SHARE_READ, creation = CREATE_ALWAYS;
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return TVK_INVALID_FILE;
  }
  HANDLE h = CreateFileA(path, access, share, nullptr, creation, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  return static_cast<FileHandle>(h);
}

FileHandle CreateNewFile(const char* path, uint32_t) {
  if (!path) return TVK_INVALID_FILE;
  HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  return static_cast<FileHandle>(h);
}

int FileClose(FileHandle h) {
  if (h == TVK_INVALID_FILE) return 0;
  return CloseHandle(Win(h)) ? 1 : 0;
}

int64_t FileSeek(FileHandle h, int64_t offset, int origin) {
  if (h == TVK_INVALID_FILE) return -1;
  DWORD method;
  switch (origin) {
    case kSeekStart: method = FILE_BEGIN; break;
    case kSeekCurrent: method = FILE_CURRENT; break;
    case kSeekEnd: method = FILE_END; break;
    default: return -1;
  }
  LARGE_INTEGER distance, position;
  distance.QuadPart = offset;
  if (!SetFilePointerEx(Win(h), distance, &position, method)) return -1;
  return position.QuadPart;
}

int64_t FileSize(FileHandle h) {
  if (h == TVK_INVALID_FILE) return -1;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(Win(h), &size)) return -1;
  return size.QuadPart;
}

int64_t FileTell(FileHandle h) { return FileSeek(h, 0, kSeekCurrent); }

int32_t FileRead(FileHandle h, void* buffer, uint32_t count) {
  if (h == TVK_INVALID_FILE || (!buffer && count)) return -1;
  if (count > 0x7FFFFFFFu) count = 0x7FFFFFFFu;
  DWORD got = 0;
  if (!ReadFile(Win(h), buffer, count, &got, nullptr)) return -1;
  return static_cast<int32_t>(got);
}

int32_t FileWrite(FileHandle h, const void* buffer, uint32_t count) {
  if (h == TVK_INVALID_FILE || (!buffer && count) || count > 0x7FFFFFFFu) return -1;
  DWORD written = 0;
  if (!WriteFile(Win(h), buffer, count, &written, nullptr)) return -1;
  return static_cast<int32_t>(written);
}

int FileDelete(const char* path) { return path && DeleteFileA(path) ? 1 : 0; }

uint32_t FileSetAttributes(const char* path, uint32_t attributes) {
  if (!path) return ERROR_INVALID_PARAMETER;
  return SetFileAttributesA(path, attributes) ? 0 : LastErrorResult();
}

uint32_t FileResetAttributes(const char* path) { return FileSetAttributes(path, FILE_ATTRIBUTE_ARCHIVE); }

uint32_t FileSetTime(FileHandle h, uint32_t, uint16_t dosDate, uint16_t dosTime) {
  FILETIME local, utc;
  if (!DosDateTimeToFileTime(dosDate, dosTime, &local) || !LocalFileTimeToFileTime(&local, &utc)) {
    return LastErrorResult();
  }
  return SetFileTime(Win(h), &utc, &utc, &utc) ? 0 : LastErrorResult();
}

uint32_t FileSetTimes(FileHandle h, const FileTime* creation, const FileTime* lastAccess,
                      const FileTime* lastWrite) {
  return SetFileTime(Win(h), reinterpret_cast<const FILETIME*>(creation),
                     reinterpret_cast<const FILETIME*>(lastAccess), reinterpret_cast<const FILETIME*>(lastWrite))
             ? 0
             : LastErrorResult();
}

int FileFind(const char* pathOrPattern, FindData* out) {
  if (!pathOrPattern || !out) return 0;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pathOrPattern, &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  FindClose(find);
  memcpy(out, &data, sizeof(*out));
  return 1;
}

int FileExists(const char* path) {
  FindData data;
  return FileFind(path, &data) && (data.attributes & kAttrDirectory) == 0;
}

int IsFolder(const char* path) {
  if (!path) return 0;
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int MakeFolder(const char* path) { return path && CreateDirectoryA(path, nullptr) ? 1 : 0; }

void LongForm(char* path, uint32_t size) {
  if (!path || size == 0) return;
  // Looked up at each call: older systems lack it, and then the path stays.
  typedef DWORD(WINAPI * LongPathFn)(LPCSTR, LPSTR, DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (!kernel) return;
  LongPathFn fn = reinterpret_cast<LongPathFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetLongPathNameA")));
  if (!fn) return;
  char longForm[kPathSize];
  DWORD n = fn(path, longForm, sizeof(longForm));
  if (n == 0 || n >= sizeof(longForm) || n >= size) return;
  memcpy(path, longForm, n + 1);
}

int RenameFile(const char* from, const char* to) {
  return from && to && MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 1 : 0;
}

int SetUnixMode(const char*, uint32_t) { return 1; }  // nothing to keep on Windows
uint32_t GetUnixMode(const char*) { return 0; }

}  // namespace tvk
