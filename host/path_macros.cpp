// Folder macros of the target folder and the folders they stand for.
#include "host/path_macros.h"

#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#include <shlobj.h>
#endif

#include "platform/platform.h"

namespace tvk {
namespace {

struct Macro {
  const char* name;
  int folderId;
};

// Order matters: the first macro that prefixes the text wins.
const Macro kMacros[] = {
    {"%Programs%", kFolderPrograms},       {"%CommonFiles%", kFolderCommonFiles},
    {"%AppData%", kFolderAppData},         {"%LocalAppData%", kFolderLocalAppData},
    {"%Documents%", kFolderDocuments},     {"%System%", kFolderSystem},
    {"%Windows%", kFolderWindows},         {"%Temp%", kFolderTemp},
};

const Macro* MatchMacro(const char* text) {
  if (!text || !text[0]) return nullptr;
  char upper[kPathSize];
  StrCopy(upper, kPathSize, text);
  StrUpper(upper);
  for (const Macro& macro : kMacros) {
    char name[32];
    StrCopy(name, sizeof name, macro.name);
    StrUpper(name);
    if (strncmp(upper, name, strlen(name)) == 0) return &macro;
  }
  return nullptr;
}

#if !defined(_WIN32)

// A system path from the environment in internal form; relative values are
// not folders (the XDG rules say so too).
int FromEnvironment(const char* variable, const char* suffix, char* out, uint32_t outSize) {
  const char* value = getenv(variable);
  if (!value || value[0] != '/') return 0;
  if (StrCopy(out, outSize, value) != kStrOk) return 0;
  if (suffix && StrAppend(out, outSize, suffix) != kStrOk) return 0;
  SlashesToBackslashes(out);
  return 1;
}

int FromHome(const char* suffix, char* out, uint32_t outSize) {
  return FromEnvironment("HOME", suffix, out, outSize);
}

// XDG_DOCUMENTS_DIR="$HOME/Documents" in the user's user-dirs.dirs.
int DocumentsFromUserDirs(char* out, uint32_t outSize) {
  char path[kPathSize];
  if (!FromEnvironment("XDG_CONFIG_HOME", "/user-dirs.dirs", path, kPathSize) &&
      !FromHome("/.config/user-dirs.dirs", path, kPathSize)) {
    return 0;
  }
  FileHandle file = FileOpen(path, "r");
  if (file == TVK_INVALID_FILE) return 0;
  char text[4096];
  int32_t n = FileRead(file, text, sizeof text - 1);
  FileClose(file);
  if (n <= 0) return 0;
  text[n] = '\0';
  const char* key = "XDG_DOCUMENTS_DIR=\"";
  const char* line = text;
  while (line && *line) {
    while (*line == ' ' || *line == '\t') ++line;
    if (strncmp(line, key, strlen(key)) == 0) {
      const char* value = line + strlen(key);
      const char* end = value;
      while (*end && *end != '"' && *end != '\n') ++end;
      if (*end != '"') return 0;
      char folder[kPathSize];
      folder[0] = '\0';
      uint32_t length = static_cast<uint32_t>(end - value);
      if (strncmp(value, "$HOME", 5) == 0) {
        if (!FromHome(nullptr, folder, kPathSize)) return 0;
        value += 5;
        length -= 5;
        for (char* p = folder; *p; ++p) {
          if (*p == '\\') *p = '/';
        }
      } else if (value[0] != '/') {
        return 0;
      }
      uint32_t used = static_cast<uint32_t>(strlen(folder));
      if (used + length + 1 > kPathSize || used + length + 1 > outSize) return 0;
      memcpy(folder + used, value, length);
      folder[used + length] = '\0';
      StrCopy(out, outSize, folder);
      SlashesToBackslashes(out);
      return 1;
    }
    line = strchr(line, '\n');
    if (line) ++line;
  }
  return 0;
}

#endif

}  // namespace

#if defined(_WIN32)

int RegistryString(void* root, const char* key, const char* valueName, const char* defaultValue,
                   char* out, uint32_t outSize) {
  if (!out || outSize == 0) return 0;
  out[0] = '\0';
  if (!key) return 0;
  HKEY handle;
  if (RegOpenKeyExA(static_cast<HKEY>(root), key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) {
    if (defaultValue) StrCopy(out, outSize, defaultValue);
    return 0;
  }
  DWORD type = 0, size = 0;
  LONG result = RegQueryValueExA(handle, valueName, nullptr, &type, nullptr, &size);
  if (result == ERROR_SUCCESS) {
    size = outSize;
    result = RegQueryValueExA(handle, valueName, nullptr, &type, reinterpret_cast<BYTE*>(out),
                              &size);
  }
  RegCloseKey(handle);
  if (result == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
    // A stored string need not carry its terminator.
    out[size < outSize ? size : outSize - 1] = '\0';
    return 1;
  }
  out[0] = '\0';
  if (defaultValue) StrCopy(out, outSize, defaultValue);
  return 0;
}

int FolderById(int id, char* out, uint32_t outSize) {
  if (id == kFolderTemp) return GetTempFolder(out, outSize);
  if (!out || outSize == 0) return 0;
  out[0] = '\0';

  char path[MAX_PATH + 8] = "";
  LPITEMIDLIST list = nullptr;
  int found = 0;
  if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, id, &list)) && list) {
    found = SHGetPathFromIDListA(list, path) && path[0];
    CoTaskMemFree(list);
  }
  if (found) {
    StrCopy(out, outSize, path);
    return 1;
  }

  char windows[260] = "";
  UINT n = GetWindowsDirectoryA(windows, sizeof windows);
  if (n == 0 || n >= sizeof windows) windows[0] = '\0';
  const char* machineKey = "Software\\Microsoft\\Windows\\CurrentVersion";
  const char* userKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
  const char* valueName = nullptr;
  HKEY root = HKEY_CURRENT_USER;
  switch (id) {
    case kFolderWindows:
    case kFolderSystem: {
      UINT got = id == kFolderWindows ? GetWindowsDirectoryA(out, outSize)
                                      : GetSystemDirectoryA(out, outSize);
      if (got == 0 || got >= outSize) {
        out[0] = '\0';
        return 0;
      }
      return 1;
    }
    case kFolderPrograms: root = HKEY_LOCAL_MACHINE; valueName = "ProgramFilesDir"; break;
    case kFolderCommonFiles: root = HKEY_LOCAL_MACHINE; valueName = "CommonFilesDir"; break;
    case kFolderAppData: valueName = "AppData"; break;
    case kFolderLocalAppData: valueName = "Local AppData"; break;
    // The documents folder, not the pictures folder.
    case kFolderDocuments: valueName = "Personal"; break;
    default: return 0;
  }
  char value[260];
  RegistryString(root, root == HKEY_LOCAL_MACHINE ? machineKey : userKey, valueName, windows,
                 value, sizeof value);
  StrCopy(out, outSize, value);
  return 1;
}

#else

int FolderById(int id, char* out, uint32_t outSize) {
  if (!out || outSize == 0) return 0;
  out[0] = '\0';
  int ok = 0;
  switch (id) {
    case kFolderTemp: ok = GetTempFolder(out, outSize); break;
    case kFolderPrograms: ok = StrCopy(out, outSize, "\\opt") == kStrOk; break;
    case kFolderCommonFiles: ok = StrCopy(out, outSize, "\\usr\\local\\share") == kStrOk; break;
    case kFolderAppData:
      ok = FromEnvironment("XDG_CONFIG_HOME", nullptr, out, outSize) ||
           FromHome("/.config", out, outSize);
      break;
    case kFolderLocalAppData:
      ok = FromEnvironment("XDG_DATA_HOME", nullptr, out, outSize) ||
           FromHome("/.local/share", out, outSize);
      break;
    case kFolderDocuments:
      ok = FromEnvironment("XDG_DOCUMENTS_DIR", nullptr, out, outSize) ||
           DocumentsFromUserDirs(out, outSize) || FromHome("/Documents", out, outSize);
      break;
    case kFolderSystem: ok = GetSystemFolder(out, outSize); break;
    case kFolderWindows: ok = GetWindowsFolder(out, outSize); break;
    default: ok = 0; break;
  }
  if (!ok) out[0] = '\0';
  return ok ? 1 : 0;
}

#endif

const char* LeadingMacro(const char* text) {
  const Macro* match = MatchMacro(text);
  return match ? match->name : nullptr;
}

int ExpandMacros(const char* text, char* out, uint32_t outSize) {
  if (!text || !text[0]) return 1;
  if (!out || outSize == 0) return 0;

  const Macro* match = MatchMacro(text);
  if (!match) {
    if (out != text) StrCopy(out, outSize, text);
    return 1;
  }

  char result[kPathSize];
  if (!FolderById(match->folderId, result, kPathSize)) return 0;
  // The rest starts behind the macro's closing '%' and its backslashes.
  const char* rest = strchr(text + 1, '%');
  rest = rest ? rest + 1 : text + strlen(text);
  while (*rest == '\\') ++rest;
  AddBackslash(result);
  StrAppend(result, kPathSize, rest);
  StrCopy(out, outSize, result);
  return 1;
}

}  // namespace tvk
