// The run-after file on Windows: the shell's "open" verb.
#include <windows.h>
#include <shellapi.h>

#include "host/run_after.h"

namespace tvk {

bool OpenWithShell(const char* file, const char* parameters, bool parentIsMain) {
  HWND parent = parentIsMain ? GetActiveWindow() : GetDesktopWindow();
  HINSTANCE result = ShellExecuteA(parent, "open", file,
                                   parameters && *parameters ? parameters : nullptr, nullptr,
                                   SW_SHOW);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace tvk
