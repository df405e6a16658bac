// Path splitting and joining on backslashes. Every scan steps whole
// characters, since in a double-byte code page a backslash byte can be the
// second half of a character.
#include <string.h>

#include "platform/platform.h"

namespace tvk {

namespace {

// The last character of a non-empty text.
const char* LastChar(const char* text) { return PrevChar(text, text + strlen(text)); }

}  // namespace

char* AddBackslash(char* path) {
  if (!path) return nullptr;
  size_t len = strlen(path);
  // The backslash and the terminator must both fit into a path buffer.
  if (len + 2 > kPathSize) return nullptr;
  char* end = path + len;
  if (len == 0 || *LastChar(path) == '\\') return end;
  end[0] = '\\';
  end[1] = '\0';
  return end + 1;
}

void RemoveBackslash(char* path) {
  if (!path) return;
  size_t len = strlen(path);
  if (len <= 3) return;  // keeps C:\ (and a lone backslash)
  char* last = const_cast<char*>(LastChar(path));
  if (*last == '\\') *last = '\0';
}

const char* NamePart(const char* path) {
  if (!path) return nullptr;
  const char* afterBackslash = nullptr;
  const char* afterColon = nullptr;
  for (const char* p = path; *p; p = NextChar(p)) {
    if (*p == '\\') afterBackslash = p + 1;
    else if (*p == ':' && !afterColon) afterColon = p + 1;
  }
  if (afterBackslash) return afterBackslash;
  if (afterColon) return afterColon;
  return path;
}

void CopyNamePart(char* out, uint32_t outSize, const char* path) {
  if (!out || outSize == 0) return;
  if (!path) {
    out[0] = '\0';
    return;
  }
  StrCopy(out, outSize, NamePart(path));
}

void FolderPart(char* out, uint32_t outSize, const char* path) {
  if (!out || outSize == 0) return;
  if (!path) {
    out[0] = '\0';
    return;
  }
  // The folder part ends where the name part starts: behind the last
  // backslash, or behind the colon when there is no backslash.
  StrCopyN(out, outSize, path, static_cast<uint32_t>(NamePart(path) - path));
}

const char* Extension(const char* path) {
  if (!path) return nullptr;
  const char* dot = nullptr;
  for (const char* p = path; *p; p = NextChar(p)) {
    if (*p == '.') dot = p;
  }
  return dot;
}

int ChangeExtension(char* path, const char* newExtension) {
  if (!path) return 0;
  if (!newExtension) newExtension = "";
  const char* dot = Extension(path);
  size_t keep = dot ? static_cast<size_t>(dot - path) : strlen(path);
  size_t add = strlen(newExtension);
  if (keep + add + 1 > kPathSize) return 0;
  if (!dot && add == 0) return 1;
  memmove(path + keep, newExtension, add + 1);
  return 1;
}

int ParentPath(char* path) {
  if (!path) return 0;
  char* p = path;
  // A leading backslash (a root) or double backslash (a network name) is
  // never cut away.
  if (*p == '\\') ++p;
  if (*p == '\\') ++p;
  char* cut = p;
  while (*p) {
    if (*p == '\\') {
      cut = p;
    } else if (*p == ':') {
      // C:name keeps "C:", C:\name keeps "C:\".
      ++p;
      cut = p;
      if (*p == '\\') ++cut;
      if (*p == '\0') break;
    }
    p = const_cast<char*>(NextChar(p));
  }
  if (*cut == '\0') return 0;
  *cut = '\0';
  return 1;
}

int IsRoot(const char* path) {
  if (!path || !*path) return 0;
  if (path[0] == '\\' && path[1] == '\0') return 1;
  if (path[0] == '\\' && path[1] == '\\') {
    // \\server and \\server\share are roots; anything deeper is not.
    int backslashes = 0;
    for (const char* p = path + 2; *p; p = NextChar(p)) {
      if (*p == '\\' && ++backslashes > 1) return 0;
    }
    return 1;
  }
  char c = path[0];
  bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  return letter && path[1] == ':' && path[2] == '\\' && path[3] == '\0';
}

int RootOf(const char* path, char* out, uint32_t outSize) {
  if (!out || outSize == 0) return 0;
  out[0] = '\0';
  if (!path) return 0;
  char work[kPathSize];
  if (StrCopy(work, sizeof(work), path) != kStrOk) return 0;
  while (!IsRoot(work)) {
    if (!ParentPath(work)) return 0;
  }
  if (StrCopy(out, outSize, work) != kStrOk) {
    out[0] = '\0';
    return 0;
  }
  return 1;
}

const char* WithoutRoot(const char* path) {
  if (!path) return nullptr;
  if (path[0] == '\\' && path[1] == '\\') {
    // \\server\share\rest: behind the backslash that ends the share name.
    int backslashes = 0;
    for (const char* p = path + 2; *p; p = NextChar(p)) {
      if (*p == '\\' && ++backslashes == 2) return p + 1;
    }
    return path + strlen(path);
  }
  if (path[0] && path[0] != '\\' && path[1] == ':' && path[2] == '\\') return path + 3;
  if (path[0] == '\\') return path + 1;
  return path;
}

uint32_t NthBackslash(const char* path, uint32_t n) {
  if (!path || n == 0) return 0;
  const char* p = path;
  for (; *p; p = NextChar(p)) {
    if (*p == '\\' && --n == 0) break;
  }
  return static_cast<uint32_t>(p - path);
}

void SlashesToBackslashes(char* path) {
  if (!path) return;
  for (char* p = path; *p; p = const_cast<char*>(NextChar(p))) {
    if (*p == '/') *p = '\\';
  }
}

}  // namespace tvk
