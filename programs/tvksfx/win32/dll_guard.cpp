#include "programs/tvksfx/win32/dll_guard.h"

#include <string.h>
#include <windows.h>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace tvk {

namespace {

// DLLs that user32, the common controls, the shell and its dialogs load by
// name after the program has started. Each is loaded once from the system
// folder by its full path, so a later load by name finds it already there.
const char* const kPreloaded[] = {
    "uxtheme.dll",  "msimg32.dll",  "version.dll", "dwmapi.dll",  "cryptbase.dll",
    "propsys.dll",  "profapi.dll",  "userenv.dll", "setupapi.dll", "oleacc.dll",
    "sspicli.dll",  "ntmarta.dll",  "apphelp.dll", "clbcatq.dll", "windowscodecs.dll",
    "shfolder.dll", "textshaping.dll",
};

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);

}  // namespace

void GuardDllSearch() {
  // kernel32 is loaded into every process; the lookups by name cannot be
  // redirected. Both functions are missing on older systems, which must still
  // start.
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  bool limited = false;
  if (kernel) {
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault) limited = setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) != 0;
    if (!limited) {
      // At least the current folder leaves the search.
      auto setDirectory = reinterpret_cast<SetDllDirectoryFn>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
      if (setDirectory) setDirectory("");
    }
  }

  char path[MAX_PATH + 32];
  UINT n = GetSystemDirectoryA(path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  if (path[n - 1] != '\\') path[n++] = '\\';
  for (const char* name : kPreloaded) {
    size_t len = strlen(name);
    if (n + len >= sizeof path) continue;
    memcpy(path + n, name, len + 1);
    // Stays loaded for the life of the process on purpose. A DLL that this
    // system does not have is simply not loaded.
    LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
}

}  // namespace tvk
