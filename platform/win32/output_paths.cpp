// Output paths below a target folder that someone else may have prepared:
// every folder below the target is opened on the way without following a
// reparse point (a junction, a symbolic link, a mount point), refused when
// it is one, and held open without delete sharing until the file is made,
// renamed or removed, so that it cannot be renamed away and replaced by a
// link meanwhile.
#include <windows.h>

#include <string.h>

#include "platform/platform.h"

namespace tvk {

namespace {

// A path of 271 characters has at most 136 components.
constexpr int kMaxHeld = kPathSize / 2 + 1;

struct Held {
  HANDLE handles[kMaxHeld];
  int count = 0;
  ~Held() {
    for (int i = 0; i < count; ++i) CloseHandle(handles[i]);
  }
};

HANDLE OpenFolder(const char* path) {
  return CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool Missing(DWORD e) { return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND; }

// Opens and holds every folder of path[rootLength, end), making missing ones
// when asked; the root itself is the user's choice and is made, not held.
bool HoldBelow(const char* path, uint32_t rootLength, size_t end, bool make, Held* held) {
  char prefix[kPathSize];
  if (rootLength > 0 && make) {
    memcpy(prefix, path, rootLength);
    prefix[rootLength] = 0;
    if (!IsFolder(prefix) && !MakeFolders(prefix)) return false;
  }
  size_t at = rootLength;
  while (at < end) {
    while (at < end && (path[at] == '\\' || path[at] == '/')) ++at;
    size_t stop = at;
    while (stop < end && path[stop] != '\\' && path[stop] != '/') ++stop;
    if (stop == at) break;
    memcpy(prefix, path, stop);
    prefix[stop] = 0;
    if ((stop - at == 2 && path[at] == '.' && path[at + 1] == '.') || held->count == kMaxHeld) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    HANDLE h = OpenFolder(prefix);
    if (h == INVALID_HANDLE_VALUE && make && Missing(GetLastError())) {
      if (CreateDirectoryA(prefix, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) h = OpenFolder(prefix);
    }
    if (h == INVALID_HANDLE_VALUE) return false;
    held->handles[held->count++] = h;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    at = stop;
  }
  return true;
}

// Where the last component begins; false when there is none below the root.
bool NameAt(const char* path, uint32_t rootLength, size_t* at) {
  size_t len = strlen(path);
  if (len <= rootLength) return false;
  size_t i = len;
  while (i > rootLength && path[i - 1] != '\\' && path[i - 1] != '/') --i;
  const char* name = path + i;
  if (!*name || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return false;
  *at = i;
  return true;
}

bool HoldParent(const char* path, uint32_t rootLength, bool make, Held* held) {
  size_t at;
  if (!NameAt(path, rootLength, &at)) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  return HoldBelow(path, rootLength, at, make, held);
}

}  // namespace

FileHandle CreateNewFileBelow(const char* path, uint32_t rootLength, uint32_t, int* taken) {
  if (taken) *taken = 0;
  if (!path) return TVK_INVALID_FILE;
  Held held;
  if (!HoldParent(path, rootLength, true, &held)) return TVK_INVALID_FILE;
  HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  if (h == INVALID_HANDLE_VALUE && taken && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) *taken = 1;
  return static_cast<FileHandle>(h);
}

int MakeFoldersBelow(const char* path, uint32_t rootLength) {
  if (!path) return 0;
  Held held;
  return HoldBelow(path, rootLength, strlen(path), true, &held) ? 1 : 0;
}

int RenameBelow(const char* from, const char* to, uint32_t rootLength) {
  if (!from || !to) return 0;
  Held a, b;
  if (!HoldParent(from, rootLength, false, &a) || !HoldParent(to, rootLength, false, &b)) return 0;
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 1 : 0;
}

int DeleteBelow(const char* path, uint32_t rootLength) {
  if (!path) return 0;
  Held held;
  if (!HoldParent(path, rootLength, false, &held)) return 0;
  return DeleteFileA(path) ? 1 : 0;
}

void ForgetOutputFolders() {}  // nothing is kept between calls

int GetFileId(const char* path, FileId* out) {
  if (!path || !out) return 0;
  HANDLE h = CreateFileA(path[0] ? path : ".", 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  BY_HANDLE_FILE_INFORMATION info;
  int ok = GetFileInformationByHandle(h, &info) ? 1 : 0;
  CloseHandle(h);
  if (!ok) return 0;
  out->volume = info.dwVolumeSerialNumber;
  out->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return 1;
}

}  // namespace tvk
