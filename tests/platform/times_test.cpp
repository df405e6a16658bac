// DOS stamps, FILETIMEs and calendar dates.
#include <stdint.h>
#include <stdlib.h>
#include <time.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/time_math.h"

namespace {

uint64_t Ticks(const tvk::FileTime& ft) { return (static_cast<uint64_t>(ft.high) << 32) | ft.low; }

tvk::FileTime FromTicks(uint64_t t) {
  return tvk::FileTime{static_cast<uint32_t>(t), static_cast<uint32_t>(t >> 32)};
}

constexpr uint16_t DosDate(int y, int m, int d) { return static_cast<uint16_t>(((y - 1980) << 9) | (m << 5) | d); }
constexpr uint16_t DosTime(int h, int m, int s) { return static_cast<uint16_t>((h << 11) | (m << 5) | (s / 2)); }

TEST(Times, DosStampsToFileTimes) {
  tvk::FileTime ft;
  // 1980-01-01 00:00:00 is 119600064000000000 ticks after 1601.
  ASSERT_EQ(tvk::DosToFileTime(DosDate(1980, 1, 1), 0, &ft), 1);
  EXPECT_EQ(Ticks(ft), 119600064000000000ull);
  // 2026-12-08 14:05:08 = Unix time 1796738708.
  ASSERT_EQ(tvk::DosToFileTime(DosDate(2026, 12, 8), DosTime(14, 5, 8), &ft), 1);
  EXPECT_EQ(Ticks(ft), 116444736000000000ull + 1796738708ull * 10000000ull);
  // Leap day, and the last stamp DOS can hold.
  EXPECT_EQ(tvk::DosToFileTime(DosDate(2024, 2, 29), DosTime(23, 59, 58), &ft), 1);
  EXPECT_EQ(tvk::DosToFileTime(DosDate(2107, 12, 31), DosTime(23, 59, 58), &ft), 1);

  // Fields that name no real moment are refused.
  EXPECT_EQ(tvk::DosToFileTime(DosDate(2023, 2, 29), 0, &ft), 0);
  EXPECT_EQ(tvk::DosToFileTime(DosDate(2023, 0, 1), 0, &ft), 0);
  EXPECT_EQ(tvk::DosToFileTime(DosDate(2023, 13, 1), 0, &ft), 0);
  EXPECT_EQ(tvk::DosToFileTime(DosDate(2023, 4, 0), 0, &ft), 0);
  EXPECT_EQ(tvk::DosToFileTime(DosDate(2023, 4, 31), 0, &ft), 0);
  EXPECT_EQ(tvk::DosToFileTime(DosDate(2023, 4, 1), DosTime(24, 0, 0), &ft), 0);
  EXPECT_EQ(tvk::DosToFileTime(DosDate(2023, 4, 1), DosTime(0, 60, 0), &ft), 0);
  EXPECT_EQ(tvk::DosToFileTime(DosDate(2023, 4, 1), DosTime(0, 0, 60), &ft), 0);
}

// The whole range a calendar record can name: the first day of 1601 is tick
// 0, the century rules decide the leap days, and every date comes back from
// its FILETIME unchanged.
TEST(Times, CalendarDatesOverTheWholeRange) {
  tvk::FileTime ft;
  tvk::CalendarTime c{1601, 1, 1, 0, 0, 0};
  ASSERT_EQ(tvk::CalendarToFileTime(&c, 0, &ft), 1);
  EXPECT_EQ(Ticks(ft), 0u);
  c = {1600, 12, 31, 23, 59, 59};
  EXPECT_EQ(tvk::CalendarToFileTime(&c, 0, &ft), 0);
  for (uint16_t year : {1700, 1900, 2100, 30100}) {
    c = {year, 2, 29, 0, 0, 0};
    EXPECT_EQ(tvk::CalendarToFileTime(&c, 0, &ft), 0) << year;
  }
  for (uint16_t year : {1604, 2000, 2400, 30800}) {
    c = {year, 2, 29, 0, 0, 0};
    EXPECT_EQ(tvk::CalendarToFileTime(&c, 0, &ft), 1) << year;
  }
  const uint16_t days[] = {1, 28, 29, 30, 31};
  for (uint32_t year = 1601; year <= 30827; year += year < 2500 ? 1 : 97) {
    for (uint16_t month = 1; month <= 12; ++month) {
      for (uint16_t day : days) {
        tvk::CalendarTime in{uint16_t(year), month, day, 23, 59, 59}, out{};
        if (!tvk::CalendarToFileTime(&in, 0, &ft)) continue;
        ASSERT_EQ(tvk::FileTimeToCalendar(&ft, &out), 1) << year << "-" << month << "-" << day;
        ASSERT_EQ(out.year, in.year);
        ASSERT_EQ(out.month, in.month);
        ASSERT_EQ(out.day, in.day);
        ASSERT_EQ(out.second, 59);
      }
    }
  }
}

TEST(Times, RoundTripsAndCalendar) {
  const uint16_t dates[] = {DosDate(1980, 1, 1), DosDate(1999, 12, 31), DosDate(2000, 2, 29),
                            DosDate(2038, 1, 19), DosDate(2107, 12, 31)};
  const uint16_t times[] = {0, DosTime(12, 34, 56), DosTime(23, 59, 58)};
  for (uint16_t d : dates) {
    for (uint16_t t : times) {
      tvk::FileTime ft;
      uint16_t d2 = 0, t2 = 0;
      ASSERT_EQ(tvk::DosToFileTime(d, t, &ft), 1);
      ASSERT_EQ(tvk::FileTimeToDos(&ft, &d2, &t2), 1);
      EXPECT_EQ(d2, d);
      EXPECT_EQ(t2, t);
    }
  }

  tvk::FileTime ft;
  tvk::CalendarTime c;
  tvk::DosToFileTime(DosDate(2026, 12, 8), DosTime(14, 5, 9), &ft);
  ASSERT_EQ(tvk::FileTimeToCalendar(&ft, &c), 1);
  EXPECT_EQ(c.year, 2026);
  EXPECT_EQ(c.month, 12);
  EXPECT_EQ(c.day, 8);
  EXPECT_EQ(c.hour, 14);
  EXPECT_EQ(c.minute, 5);
  EXPECT_EQ(c.second, 8);  // DOS keeps even seconds

  ft = FromTicks(0);
  ASSERT_EQ(tvk::FileTimeToCalendar(&ft, &c), 1);
  EXPECT_EQ(c.year, 1601);
  EXPECT_EQ(c.month, 1);
  EXPECT_EQ(c.day, 1);
  uint16_t d, t;
  EXPECT_EQ(tvk::FileTimeToDos(&ft, &d, &t), 0);  // before 1980
  ft = FromTicks(0x8000000000000000ull);
  EXPECT_EQ(tvk::FileTimeToCalendar(&ft, &c), 0);
}

TEST(Times, ZoneConversionsAreInverse) {
  tvk::FileTime now, local, back;
  tvk::NowFileTime(&now);
  // Somewhere after 2020 and before 2200.
  EXPECT_GT(Ticks(now), 116444736000000000ull + 1577836800ull * 10000000ull);
  EXPECT_LT(Ticks(now), 116444736000000000ull + 7258118400ull * 10000000ull);
  // Mid-winter and mid-summer noons: never inside a summer-time switch.
  for (uint16_t date : {DosDate(2026, 1, 15), DosDate(2026, 7, 15)}) {
    tvk::FileTime utc;
    ASSERT_EQ(tvk::DosToFileTime(date, DosTime(12, 0, 0), &utc), 1);
    ASSERT_EQ(tvk::UtcToLocalFileTime(&utc, &local), 1);
    ASSERT_EQ(tvk::LocalToUtcFileTime(&local, &back), 1);
    EXPECT_EQ(Ticks(back), Ticks(utc));
  }
}

#if !defined(_WIN32)
// The zone of the machine decides; a fixed zone with summer time shows that
// the summer-time rule of the stamp's own date is used.
TEST(Times, LocalTimeFollowsTheZoneRules) {
  const char* old = getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  tvk::FileTime local, utc, expected;
  tvk::DosToFileTime(DosDate(2026, 7, 1), DosTime(12, 0, 0), &local);
  ASSERT_EQ(tvk::LocalToUtcFileTime(&local, &utc), 1);
  tvk::DosToFileTime(DosDate(2026, 7, 1), DosTime(10, 0, 0), &expected);
  EXPECT_EQ(Ticks(utc), Ticks(expected));
  tvk::DosToFileTime(DosDate(2026, 1, 1), DosTime(12, 0, 0), &local);
  ASSERT_EQ(tvk::LocalToUtcFileTime(&local, &utc), 1);
  tvk::DosToFileTime(DosDate(2026, 1, 1), DosTime(11, 0, 0), &expected);
  EXPECT_EQ(Ticks(utc), Ticks(expected));
  // Fractions of a second survive the trip.
  tvk::FileTime fine = FromTicks(Ticks(expected) + 1234567), there, again;
  ASSERT_EQ(tvk::UtcToLocalFileTime(&fine, &there), 1);
  EXPECT_EQ(Ticks(there), Ticks(fine) + 3600ull * 10000000ull);
  ASSERT_EQ(tvk::LocalToUtcFileTime(&there, &again), 1);
  EXPECT_EQ(Ticks(again), Ticks(fine));
  if (old) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}
#endif

}  // namespace
