// Our formatter against the C library's on the conversions the module uses.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <random>
#include <string>

#include "platform/platform.h"

namespace {

std::string Ours(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  tvk::FormatV(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

// The Windows C library differs from the C standard on flags of unsigned
// conversions, so it is no oracle there.
#ifndef _WIN32
std::string Theirs(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

TEST(Format, IntegersMatchTheCLibraryOverFlagsWidthsAndPrecisions) {
  std::mt19937 rng(7);
  const char* flags[] = {"", "-", "0", "+", " ", "#", "-0", "+0"};
  const char* widths[] = {"", "1", "5", "12"};
  const char* precisions[] = {"", ".0", ".3", ".10"};
  const char* conversions[] = {"d", "i", "u", "x", "X", "o", "ld", "lu", "lld", "llu", "lx"};
  for (int round = 0; round < 4000; ++round) {
    std::string shape = std::string("[%") + flags[rng() % 8] + widths[rng() % 4] +
                       precisions[rng() % 4] + conversions[rng() % 11] + "]";
    long long v = static_cast<long long>(rng()) - 0x80000000LL;
    if (rng() % 5 == 0) v = 0;
    const char* conv = shape.c_str() + shape.size() - 3;
    std::string ours, theirs;
    if (shape.find("ll") != std::string::npos) {
      ours = Ours(shape.c_str(), v * 100003LL);
      theirs = Theirs(shape.c_str(), v * 100003LL);
    } else if (shape.find('l') != std::string::npos) {
      ours = Ours(shape.c_str(), static_cast<long>(v));
      theirs = Theirs(shape.c_str(), static_cast<long>(v));
    } else {
      ours = Ours(shape.c_str(), static_cast<int>(v));
      theirs = Theirs(shape.c_str(), static_cast<int>(v));
    }
    ASSERT_EQ(theirs, ours) << shape << " " << v << " " << conv;
  }
}
#endif

// The ends of the 64-bit range, in every base (no C library as oracle, so
// that the Windows build checks them too).
TEST(Format, SixtyFourBitExtremes) {
  EXPECT_EQ("18446744073709551615", Ours("%llu", 18446744073709551615ull));
  EXPECT_EQ("ffffffffffffffff", Ours("%llx", 18446744073709551615ull));
  EXPECT_EQ("1777777777777777777777", Ours("%llo", 18446744073709551615ull));
  EXPECT_EQ("123456789ABCDEF0", Ours("%llX", 0x123456789ABCDEF0ull));
  EXPECT_EQ("-9223372036854775808", Ours("%lld", -9223372036854775807ll - 1));
  EXPECT_EQ("9223372036854775807", Ours("%lld", 9223372036854775807ll));
  EXPECT_EQ("4294967296", Ours("%llu", 4294967296ull));
}

TEST(Format, StringsCharactersAndPercent) {
  EXPECT_EQ("Liesmich.rtf (45 %)", Ours("%s (%ld %%)", "Liesmich.rtf", 45L));
  EXPECT_EQ("[  abc][ab   ][a]", Ours("[%5s][%-5.2s][%.1s]", "abc", "abc", "abc"));
  EXPECT_EQ("x=y", Ours("%c=%c", 'x', 'y'));
  EXPECT_EQ("2026-12-08 14:05:09", Ours("%04u-%02u-%02u %02u:%02u:%02u", 2026u, 12u, 8u, 14u, 5u, 9u));
}

TEST(Format, UnknownConversionsAreShownAsWrittenAndNothingIsRead) {
  // %n and floating point are never interpreted.
  EXPECT_EQ("a%nb%fc", Ours("a%nb%fc"));
  EXPECT_EQ("50%", Ours("50%"));
}

TEST(Format, CutsToTheBufferAndReportsTheWholeLength) {
  char buffer[6];
  EXPECT_EQ(10u, tvk::Format(buffer, sizeof buffer, "%s", "0123456789"));
  EXPECT_STREQ("01234", buffer);
  // Exactly size - 1 characters fit.
  EXPECT_EQ(tvk::kStrOk, tvk::StrFormat(buffer, sizeof buffer, "%d", 12345));
  EXPECT_EQ(tvk::kStrTruncated, tvk::StrFormat(buffer, sizeof buffer, "%d", 123456));
  EXPECT_STREQ("12345", buffer);
}

}  // namespace
