// A DLL that must never be loaded: copied beside a program under a system
// DLL's name, it leaves "<its path>.loaded" and ends the process with 86.
#include <windows.h>

#include <cstring>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    char path[MAX_PATH + 16];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    if (n && n < MAX_PATH) {
      std::strcpy(path + n, ".loaded");
      HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    TerminateProcess(GetCurrentProcess(), 86);
  }
  return TRUE;
}
