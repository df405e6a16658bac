// DOS stamps, FILETIMEs and calendar dates, converted without any time zone.
#include "platform/platform.h"
#include "platform/time_math.h"

namespace tvk {

namespace {

bool IsLeap(uint32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(uint32_t y, int m) {
  static const uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

// Days since 1970-01-01 of a proleptic Gregorian date (eras of 400 years).
// Years from 1 on only, in 32-bit arithmetic: 64-bit divisions would link
// the 32-bit Windows program's division routines for this alone.
int32_t DaysFromCivil(uint32_t y, int m, int d) {
  y -= m <= 2;
  const uint32_t era = y / 400;
  const uint32_t yoe = y - era * 400;
  const uint32_t doy = static_cast<uint32_t>((153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1);
  const uint32_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<int32_t>(era * 146097 + doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = yoe + era * 400 + (*m <= 2);
}

uint64_t FileTimeValue(const FileTime* ft) {
  return (static_cast<uint64_t>(ft->high) << 32) | ft->low;
}

void SetFileTimeValue(FileTime* ft, uint64_t value) {
  ft->low = static_cast<uint32_t>(value);
  ft->high = static_cast<uint32_t>(value >> 32);
}

int CalendarToFileTime(const CalendarTime* c, uint32_t ticks, FileTime* out) {
  if (c->year < 1601 || c->month < 1 || c->month > 12 || c->day < 1 ||
      c->day > DaysInMonth(c->year, c->month) || c->hour > 23 || c->minute > 59 ||
      c->second > 59 || ticks >= kTicksPerSecond) {
    return 0;
  }
  int64_t days = int64_t{DaysFromCivil(c->year, c->month, c->day)} + kDaysFrom1601To1970;
  uint64_t seconds = static_cast<uint64_t>(days) * 86400 + c->hour * 3600u + c->minute * 60u + c->second;
  SetFileTimeValue(out, seconds * kTicksPerSecond + ticks);
  return 1;
}

int DosToFileTime(uint16_t dosDate, uint16_t dosTime, FileTime* out) {
  if (!out) return 0;
  CalendarTime c;
  c.year = static_cast<uint16_t>(1980 + (dosDate >> 9));
  c.month = static_cast<uint16_t>((dosDate >> 5) & 15);
  c.day = static_cast<uint16_t>(dosDate & 31);
  c.hour = static_cast<uint16_t>(dosTime >> 11);
  c.minute = static_cast<uint16_t>((dosTime >> 5) & 63);
  c.second = static_cast<uint16_t>((dosTime & 31) * 2);
  return CalendarToFileTime(&c, 0, out);
}

int FileTimeToCalendar(const FileTime* ft, CalendarTime* out) {
  if (!ft || !out) return 0;
  uint64_t value = FileTimeValue(ft);
  // The system refuses FILETIMEs with the top bit set; so do we.
  if (value >> 63) return 0;
  uint64_t seconds = value / kTicksPerSecond;
  int64_t days = static_cast<int64_t>(seconds / 86400) - kDaysFrom1601To1970;
  uint32_t rest = static_cast<uint32_t>(seconds % 86400);
  int64_t y;
  int m, d;
  CivilFromDays(days, &y, &m, &d);
  if (y > 30827) return 0;
  out->year = static_cast<uint16_t>(y);
  out->month = static_cast<uint16_t>(m);
  out->day = static_cast<uint16_t>(d);
  out->hour = static_cast<uint16_t>(rest / 3600);
  out->minute = static_cast<uint16_t>(rest / 60 % 60);
  out->second = static_cast<uint16_t>(rest % 60);
  return 1;
}

int FileTimeToDos(const FileTime* in, uint16_t* dosDate, uint16_t* dosTime) {
  if (!in || !dosDate || !dosTime) return 0;
  CalendarTime c;
  if (!FileTimeToCalendar(in, &c)) return 0;
  if (c.year < 1980 || c.year > 2107) return 0;
  *dosDate = static_cast<uint16_t>(((c.year - 1980) << 9) | (c.month << 5) | c.day);
  *dosTime = static_cast<uint16_t>((c.hour << 11) | (c.minute << 5) | (c.second / 2));
  return 1;
}

void ApplyOutputStamp(FileHandle h, const OutputStamp& stamp) {
  if (stamp.exact) {
    FileSetTimes(h, &stamp.creation, &stamp.lastAccess, &stamp.lastWrite);
  } else {
    FileSetTime(h, 0, stamp.dosDate, stamp.dosTime);
  }
}

}  // namespace tvk
