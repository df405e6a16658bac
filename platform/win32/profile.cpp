// Profile strings on Windows: the system's own reader.
#include <windows.h>

#include "platform/platform.h"

namespace tvk {

uint32_t ReadProfileString(const char* section, const char* key, char* out, uint32_t size,
                           const char* iniPath) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  if (!section || !key || !iniPath) return 0;
  // The system reader returns at most 2047 characters whatever the buffer.
  DWORD limit = size > kProfileValueLimit + 1 ? kProfileValueLimit + 1 : size;
  return GetPrivateProfileStringA(section, key, "", out, limit, iniPath);
}

void ProfileHold(const char*) {}
void ProfileRelease() {}

}  // namespace tvk
