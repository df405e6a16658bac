// Linux stand-ins for the system's folders, the program's own path, the
// current folder and time zones. Internal paths use backslashes; a Linux
// absolute path /a/b is \a\b inside.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/time_math.h"

namespace tvk {

namespace {

int ConvertSeparators(const char* in, char* out, uint32_t size, char from, char to) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  if (!in) return 0;
  size_t len = strlen(in);
  if (len + 1 > size) {
    errno = ENAMETOOLONG;
    return 0;
  }
  for (size_t i = 0; i <= len; ++i) out[i] = in[i] == from ? to : in[i];
  return 1;
}

}  // namespace

// UTF-8 never has a '/' or '\' byte inside a character, so a byte-wise
// exchange is safe.
int ToSystemPath(const char* path, char* out, uint32_t size) {
  return ConvertSeparators(path, out, size, '\\', '/');
}

int FromSystemPath(const char* systemPath, char* out, uint32_t size) {
  return ConvertSeparators(systemPath, out, size, '/', '\\');
}

int GetProgramPath(char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  char buffer[kPathSize];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer));
  if (n <= 0 || static_cast<size_t>(n) >= sizeof(buffer)) return 0;
  buffer[n] = '\0';
  return FromSystemPath(buffer, out, size);
}

int GetTempFolder(char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  const char* dir = getenv("TMPDIR");
  if (!dir || dir[0] != '/') dir = "/tmp";
  if (!FromSystemPath(dir, out, size)) return 0;
  size_t len = strlen(out);
  if (len == 0 || out[len - 1] != '\\') {
    if (len + 2 > size) {
      out[0] = '\0';
      return 0;
    }
    out[len] = '\\';
    out[len + 1] = '\0';
  }
  return 1;
}

int GetCurrentFolder(char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  char buffer[kPathSize];
  if (!getcwd(buffer, sizeof(buffer))) return 0;
  return FromSystemPath(buffer, out, size);
}

int SetCurrentFolder(const char* path) {
  char sys[kPathSize];
  if (!ToSystemPath(path, sys, sizeof(sys))) return 0;
  return chdir(sys) == 0;
}

int GetSystemFolder(char* out, uint32_t size) {
  return out && size ? StrCopy(out, size, "\\usr\\lib") == kStrOk : 0;
}

int GetWindowsFolder(char* out, uint32_t size) { return out && size ? StrCopy(out, size, "\\") == kStrOk : 0; }

void NowFileTime(FileTime* out) {
  if (!out) return;
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  SetFileTimeValue(out, kUnixEpochTicks + static_cast<uint64_t>(ts.tv_sec) * kTicksPerSecond +
                            static_cast<uint64_t>(ts.tv_nsec) / 100);
}

int LocalToUtcFileTime(const FileTime* local, FileTime* utc) {
  if (!local || !utc) return 0;
  CalendarTime c;
  if (!FileTimeToCalendar(local, &c)) return 0;
  struct tm tm;
  memset(&tm, 0, sizeof(tm));
  tm.tm_year = c.year - 1900;
  tm.tm_mon = c.month - 1;
  tm.tm_mday = c.day;
  tm.tm_hour = c.hour;
  tm.tm_min = c.minute;
  tm.tm_sec = c.second;
  tm.tm_isdst = -1;  // let the zone rules decide whether summer time applies
  errno = 0;
  time_t t = mktime(&tm);
  if (t == static_cast<time_t>(-1) && errno != 0) return 0;
  int64_t ticks = static_cast<int64_t>(t) * static_cast<int64_t>(kTicksPerSecond) +
                  static_cast<int64_t>(kUnixEpochTicks);
  if (ticks < 0) return 0;
  SetFileTimeValue(utc, static_cast<uint64_t>(ticks) + FileTimeValue(local) % kTicksPerSecond);
  return 1;
}

int UtcToLocalFileTime(const FileTime* utc, FileTime* local) {
  if (!utc || !local) return 0;
  uint64_t value = FileTimeValue(utc);
  if (value >> 63) return 0;
  int64_t seconds = static_cast<int64_t>(value / kTicksPerSecond) -
                    static_cast<int64_t>(kUnixEpochTicks / kTicksPerSecond);
  time_t t = static_cast<time_t>(seconds);
  struct tm tm;
  if (!localtime_r(&t, &tm)) return 0;
  CalendarTime c;
  if (tm.tm_year + 1900 < 1601) return 0;
  c.year = static_cast<uint16_t>(tm.tm_year + 1900);
  c.month = static_cast<uint16_t>(tm.tm_mon + 1);
  c.day = static_cast<uint16_t>(tm.tm_mday);
  c.hour = static_cast<uint16_t>(tm.tm_hour);
  c.minute = static_cast<uint16_t>(tm.tm_min);
  c.second = static_cast<uint16_t>(tm.tm_sec > 59 ? 59 : tm.tm_sec);  // leap second
  return CalendarToFileTime(&c, static_cast<uint32_t>(value % kTicksPerSecond), local);
}

namespace {
constexpr size_t kLargePage = 2u << 20;
constexpr size_t kPage = 4096;
size_t PagesOf(size_t size) { return (size + kPage - 1) & ~(kPage - 1); }
}  // namespace

void* MemAllocLarge(size_t size) {
  if (size == 0 || size > SIZE_MAX / 2) return nullptr;
  const size_t length = PagesOf(size);
  // Mapped with room to start on a large-page boundary; the rest goes back.
  const size_t span = length + kLargePage;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  uintptr_t base = reinterpret_cast<uintptr_t>(raw);
  uintptr_t start = (base + kLargePage - 1) & ~(kLargePage - 1);
  if (start > base) munmap(raw, start - base);
  size_t tail = span - (start - base) - length;
  if (tail) munmap(reinterpret_cast<void*>(start + length), tail);
  void* p = reinterpret_cast<void*>(start);
  madvise(p, length, MADV_HUGEPAGE);  // advice: no large pages is fine too
  return p;
}

void MemFreeLarge(void* p, size_t size) {
  if (p) munmap(p, PagesOf(size));
}

}  // namespace tvk
