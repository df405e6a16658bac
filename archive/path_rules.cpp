// Output paths, the names Windows would take for something else, and the
// guard that keeps a run from writing over its own volumes.
#include "archive/path_rules.h"

#include <string.h>

#include "archive/blocks.h"
#include "platform/result_codes.h"

namespace tvk {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool RelativeNameIsSafe(const char* name) {
  const char* p = name;
  if (IsSeparator(*p)) return false;
  while (*p) {
    const char* end = p;
    while (*end && !IsSeparator(*end)) ++end;
    size_t n = static_cast<size_t>(end - p);
    if (n == 2 && p[0] == '.' && p[1] == '.') return false;
#if defined(_WIN32)
    // Windows drops trailing dots and blanks, so "..." or ". ." would climb;
    // a colon would name a drive or an alternate data stream.
    bool onlyDots = n > 0;
    for (size_t i = 0; i < n; ++i) {
      if (p[i] == ':') return false;
      if (p[i] != '.' && p[i] != ' ') onlyDots = false;
    }
    if (onlyDots && n > 1) return false;
#endif
    p = *end ? end + 1 : end;
  }
  return true;
}

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows opens a device, not a file, for these names in any folder, with
// any extension and in any case, and ignores trailing blanks before the
// extension. The superscript digits are those of Windows-1252 (also as
// UTF-8, for systems whose code page is UTF-8); in another code page the
// same bytes only cost the name an extra '_'.
bool IsDeviceName(const char* part, size_t n) {
  size_t base = 0;
  while (base < n && part[base] != '.') ++base;
  while (base > 0 && part[base - 1] == ' ') --base;
  if (base < 3) return false;
  char three[4] = {Upper(part[0]), Upper(part[1]), Upper(part[2]), 0};
  if (base == 3) {
    return strcmp(three, "CON") == 0 || strcmp(three, "PRN") == 0 || strcmp(three, "AUX") == 0 ||
           strcmp(three, "NUL") == 0;
  }
  if (strcmp(three, "COM") != 0 && strcmp(three, "LPT") != 0) return false;
  const unsigned char* digit = reinterpret_cast<const unsigned char*>(part + 3);
  auto superscript = [](unsigned char c) { return c == 0xB9 || c == 0xB2 || c == 0xB3; };
  if (base == 4) return (digit[0] >= '1' && digit[0] <= '9') || superscript(digit[0]);
  return base == 5 && digit[0] == 0xC2 && superscript(digit[1]);
}

}  // namespace

bool WindowsFileName(const char* rel, char* out, uint32_t size) {
  if (size == 0) return false;
  out[0] = 0;
  size_t used = 0;
  const char* p = rel;
  while (*p) {
    const char* end = p;
    while (*end && *end != '\\') ++end;
    size_t n = static_cast<size_t>(end - p);
    bool dots = (n == 1 && p[0] == '.') || (n == 2 && p[0] == '.' && p[1] == '.');
    bool front = n && !dots && IsDeviceName(p, n);
    bool behind = n && !dots && (p[n - 1] == '.' || p[n - 1] == ' ');
    size_t need = (front ? 1 : 0) + n + (behind ? 1 : 0) + (*end ? 1 : 0);
    if (used + need + 1 > size) return false;
    if (front) out[used++] = '_';
    for (size_t i = 0; i < n; ++i) out[used++] = p[i] == ':' ? '_' : p[i];
    if (behind) out[used++] = '_';
    if (*end) out[used++] = '\\';
    out[used] = 0;
    p = *end ? end + 1 : end;
  }
  return true;
}

uint32_t BuildOutputPath(const PathRules& rules, bool keepFolderPaths, const char* entryName,
                         bool writes, char* out, uint32_t* rootLength) {
  char name[kPathSize];
  StrCopy(name, sizeof(name), entryName);
  SlashesToBackslashes(name);
  const char* rel = name;
  bool keep = keepFolderPaths;
  if (!keep) {
    rel = NamePart(name);
  } else if (rel[0] == '\\') {
    ++rel;
  }
  StrCopy(out, kPathSize, rules.targetFolder);
  size_t baseLength = strlen(rules.baseFolder);
  if (baseLength && keep && strlen(rel) > baseLength) {
    char prefix[kPathSize];
    StrCopyN(prefix, sizeof(prefix), rel, static_cast<uint32_t>(baseLength));
    char base[kPathSize];
    StrCopy(base, sizeof(base), rules.baseFolder);
    SlashesToBackslashes(base);
    if (StrCompareNoCase(prefix, base) == 0) rel += baseLength + 1;
  }
#if defined(_WIN32)
  // The name Windows stores the entry under: a colon (a stream or a drive)
  // and device names are renamed rather than refused, so the entry is
  // extracted and the run goes on.
  char renamed[kPathSize];
  if (writes && !WindowsFileName(rel, renamed, sizeof(renamed))) return kErrFileAccess;
  if (writes) rel = renamed;
#endif
  // A cleaned name cannot climb out of the target folder; make sure of it on
  // the joined form before anything is created.
  if (writes && !RelativeNameIsSafe(rel)) return kErrData;
  // A path that does not fit is refused: cut short it would name another
  // file, perhaps one written a moment ago.
  bool fits = true;
  if (out[0]) {
    size_t n = strlen(out);
    if (out[n - 1] != '\\' && out[n - 1] != '/') fits = StrAppend(out, kPathSize, "\\") == kStrOk;
  }
  // Below this the path is the archive's, and no link on it is followed.
  *rootLength = static_cast<uint32_t>(strlen(out));
  if (fits) fits = StrAppend(out, kPathSize, rel) == kStrOk;
  if (!fits && writes) return kErrFileAccess;
  for (char* p = out + (out[0] ? 1 : 0); *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if ((c >= 1 && c <= 31) || c == '"' || c == '*' || c == '<' || c == '>' || c == '?' ||
        c == '|') {
      *p = '_';
    }
  }
  return 0;
}

// The target may be spelt in many ways ("." or "t3\.." or a link): the
// folder is compared by what it is, the name without regard to case. Volumes
// not made yet have no identity of their own, so the name decides for them.
namespace {

bool NamesVolume(const VolumeNames& v, const char* path, const char* name) {
  const char* first = NamePart(v.first);
  bool volumeName = StrCompareNoCase(name, NamePart(v.current)) == 0 || StrCompareNoCase(name, first) == 0 ||
                    (v.multiVolume && IsVolumeNameOf(first, name));
  if (!volumeName) return false;
  char folder[kPathSize];
  FolderPart(folder, sizeof(folder), path);
  FileId here;
  if (!GetFileId(folder, &here)) return false;  // a folder not there holds no volume
  const char* volumes[2] = {v.current, v.first};
  for (const char* volume : volumes) {
    char volumeFolder[kPathSize];
    FolderPart(volumeFolder, sizeof(volumeFolder), volume);
    FileId id;
    if (GetFileId(volumeFolder, &id) && SameFileId(id, here)) return true;
  }
  return false;
}

}  // namespace

bool OutputPathIsVolume(const VolumeNames& v, const char* path) {
  if (SamePath(path, v.current) || SamePath(path, v.first)) return true;
  // Volumes the run may still need lie beside the first one.
  if (v.multiVolume && IsVolumeNameOf(v.first, path)) return true;
  return NamesVolume(v, path, NamePart(path));
}

bool IsVolumeFile(const VolumeNames& v, const char* path) {
  FileId id;
  if (!GetFileId(path, &id)) return false;
  const char* volumes[2] = {v.current, v.first};
  for (const char* volume : volumes) {
    FileId other;
    if (GetFileId(volume, &other) && SameFileId(other, id)) return true;
  }
  FindData found;
  return FileFind(path, &found) && NamesVolume(v, path, found.name);
}

void FolderWithSeparator(char* out, uint32_t size, const char* path) {
  FolderPart(out, size, path);
  if (out[0]) {
    size_t n = strlen(out);
    if (out[n - 1] != '\\') StrAppend(out, size, "\\");
  }
}

}  // namespace tvk
