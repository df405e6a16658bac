// Calendar arithmetic shared by the common time code and the backends.
#ifndef TVK_PLATFORM_TIME_MATH_H
#define TVK_PLATFORM_TIME_MATH_H

#include <stdint.h>

#include "platform/platform.h"

namespace tvk {

constexpr uint64_t kTicksPerSecond = 10000000;  // FILETIME counts 100 ns
constexpr int64_t kDaysFrom1601To1970 = 134774;
constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;

int32_t DaysFromCivil(uint32_t y, int m, int d);  // days since 1970-01-01; y >= 1
void CivilFromDays(int64_t days, int64_t* y, int* m, int* d);
uint64_t FileTimeValue(const FileTime* ft);
void SetFileTimeValue(FileTime* ft, uint64_t value);
// Fields checked (year from 1601, a real day, hh:mm:ss); 1 on success.
int CalendarToFileTime(const CalendarTime* c, uint32_t ticks, FileTime* out);

}  // namespace tvk

#endif
