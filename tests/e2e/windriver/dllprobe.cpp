// Loads DLLs by name the way system code does, with or without the
// self-extractor's DLL guard ("dllprobe guard NAME..." or "dllprobe NAME...").
// Exit code 0; a planted DLL that gets loaded ends the process with 86.
#include <windows.h>

#include <cstring>

#include "programs/tvksfx/win32/dll_guard.h"

int main(int argc, char** argv) {
  int first = 1;
  if (argc > 1 && std::strcmp(argv[1], "guard") == 0) {
    tvk::GuardDllSearch();
    first = 2;
  }
  for (int i = first; i < argc; ++i) LoadLibraryA(argv[i]);
  return 0;
}
