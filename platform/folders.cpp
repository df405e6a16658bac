// Folder creation along a path, output files, temporary names and dialog
// placement: the parts of the file layer that are the same on every system.
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "platform/platform.h"

namespace tvk {

namespace {

FolderCreator gCreate = nullptr;
FolderProbe gProbe = nullptr;

int CreateFolder(const char* path) { return gCreate ? gCreate(path) : MakeFolder(path); }
int ProbeFolder(const char* path) { return gProbe ? gProbe(path) : IsFolder(path); }

bool HasRoot(const char* path) { return path[0] == '\\' || (path[0] && path[1] == ':'); }

}  // namespace

void SetFolderHooks(FolderCreator create, FolderProbe isFolder) {
  gCreate = create;
  gProbe = isFolder;
}

int MakeFolders(const char* path) {
  if (!path || !*path) return 0;
  // The drive root (before the 2nd backslash), or the server and share of a
  // network path (before the 5th), exist or cannot be made. A path with no
  // root at all starts at its first component.
  const uint32_t first = StrFindPair(path, '\\', '\\') ? 5 : HasRoot(path) ? 2 : 1;
  size_t len = strlen(path);
  if (len >= kPathSize) return 0;
  // A root alone (drive, share, "\\") exists or cannot be made.
  if (first > 1 && NthBackslash(path, first - 1) + 1 >= len) return ProbeFolder(path);
  // A trailing backslash names no further level.
  if (len > first && path[len - 1] == '\\') --len;
  uint32_t last = first;
  while (NthBackslash(path, last) < len) ++last;
  char prefix[kPathSize];
  auto level = [&](uint32_t n) {
    uint32_t end = NthBackslash(path, n);
    if (end > len) end = static_cast<uint32_t>(len);
    memcpy(prefix, path, end);
    prefix[end] = '\0';
    return prefix;
  };
  // Extraction makes one new folder below existing ones over and over, or
  // finds it there: one creation answers both.
  if (CreateFolder(level(last)) || ProbeFolder(prefix)) return 1;
  // Usually only the deepest levels are missing: look for the deepest one
  // that exists from the end, so a deep path costs a lookup or two rather
  // than one per level.
  uint32_t n = first;
  if (last == first) return 0;  // the only level could not be made
  for (uint32_t k = last; k-- > first;) {
    if (ProbeFolder(level(k))) {
      n = k + 1;
      break;
    }
  }
  for (; n <= last; ++n) {
    // A folder that appears between the probe and the creation (made by
    // someone else) is as good as one we made.
    if (!CreateFolder(level(n)) && !ProbeFolder(prefix)) return 0;
  }
  return 1;
}

int MakeFoldersFor(const char* path) {
  if (!path) return 0;
  char copy[kPathSize];
  if (StrCopy(copy, sizeof(copy), path) != kStrOk) return 0;
  RemoveBackslash(copy);
  return MakeFolders(copy);
}

FileHandle CreateOutputFile(const char* path) {
  if (!path || !*path) return TVK_INVALID_FILE;
  char folder[kPathSize];
  FolderPart(folder, sizeof(folder), path);
  // A bare name lies in the current folder, which exists.
  if (folder[0] && !MakeFoldersFor(folder)) return TVK_INVALID_FILE;
  if (FileExists(path)) FileResetAttributes(path);
  return FileOpen(path, "w");
}

int UniqueTempName(const char* folderPath, const char* suffix, char* out, uint32_t outSize) {
  if (!out || outSize == 0) return 0;
  out[0] = '\0';
  if (!folderPath) return 0;
  if (!suffix) suffix = "";
  char folder[kPathSize];
  FolderPart(folder, sizeof(folder), folderPath);
  if (!AddBackslash(folder)) return 0;
  char name[kPathSize];
  // Seeded from the clock; 0 to 32767 as on Windows, whatever range this
  // runtime's rand has. A name that is taken moves on along the same
  // sequence rather than waiting for the clock's next second, and only so
  // many names are tried: in a shared temporary folder anybody can take all
  // of them. Two programs started in the same second still pick the same
  // name first, so the caller must create the file exclusively.
  constexpr uint32_t kAttempts = 64;
  srand(static_cast<unsigned>(time(nullptr)));
  for (uint32_t attempt = 0;; ++attempt) {
    if (attempt == kAttempts) return 0;
    char digits[16];
    StrFormat(digits, sizeof(digits), "%d", rand() & 0x7FFF);
    digits[8] = '\0';
    if (StrCopy(name, sizeof(name), folder) != kStrOk || StrAppend(name, sizeof(name), digits) != kStrOk ||
        StrAppend(name, sizeof(name), suffix) != kStrOk) {
      return 0;
    }
    if (!FileExists(name)) break;
  }
  if (StrCopy(out, outSize, name) != kStrOk) {
    out[0] = '\0';
    return 0;
  }
  return 1;
}

void CentrePosition(const Rect& window, const Rect& over, int32_t screenWidth, int32_t screenHeight,
                    int32_t* x, int32_t* y) {
  const int32_t width = window.right - window.left;
  const int32_t height = window.bottom - window.top;
  int32_t px = over.left + ((over.right - over.left) - width) / 2;
  int32_t py = over.top + ((over.bottom - over.top) - height) / 2;
  // Back onto the screen; the top-left corner wins when the window is
  // larger than the screen, so its title bar stays reachable.
  if (px > screenWidth - width) px = screenWidth - width;
  if (px < 0) px = 0;
  if (py > screenHeight - height) py = screenHeight - height;
  if (py < 0) py = 0;
  if (x) *x = px;
  if (y) *y = py;
}

}  // namespace tvk
