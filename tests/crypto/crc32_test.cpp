#include "crypto/crc32.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/crypto/test_util.h"

#ifdef TVK_HAVE_ORACLES
#include <zlib.h>
#endif

namespace tvk {
namespace {

// Bit-at-a-time reference, independent of the sliced tables.
uint32_t SlowCrc(uint32_t reg, const uint8_t* p, size_t n) {
  while (n--) {
    reg ^= *p++;
    for (int k = 0; k < 8; ++k) reg = (reg & 1) ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
  }
  return reg;
}

TEST(Crc32, RegisterIsTheComplementOfTheUsualValue) {
  const char* check = "123456789";
  EXPECT_EQ(Crc32(kCrcStart, check, 9), ~0xCBF43926u);
  EXPECT_EQ(Crc32(kCrcStart, check, 0), kCrcStart);
}

TEST(Crc32, HeadCheckCoversBytesFromOffsetTwo) {
  uint8_t head[13] = {0xAA, 0xBB, 0x73, 0x00, 0x00, 0x0D, 0x00, 1, 2, 3, 4, 5, 6};
  uint16_t check = HeadCheckOf(head, sizeof head);
  EXPECT_EQ(check, uint16_t(SlowCrc(kCrcStart, head + 2, 11)));
  head[0] ^= 0xFF;  // the stored check itself is not covered
  EXPECT_EQ(HeadCheckOf(head, sizeof head), check);
  head[12] ^= 1;
  EXPECT_NE(HeadCheckOf(head, sizeof head), check);
}

// Both the folding path (where the processor has it) and the portable
// tables, over lengths around the 16- and 64-byte steps of the folding.
TEST(Crc32, BothPathsMatchBitwiseInPiecesAndAtOddAlignments) {
  std::mt19937 rng(21);
  for (int round = 0; round < 4000; ++round) {
    crcTablesOnly = round % 2 == 1;
    size_t n = rng() % 600;
    auto m = test::RandomBytes(rng, n + 8);
    size_t offset = rng() % 8;
    uint32_t whole = Crc32(kCrcStart, m.data() + offset, n);
    ASSERT_EQ(whole, SlowCrc(kCrcStart, m.data() + offset, n));
    uint32_t reg = kCrcStart;
    size_t pos = 0;
    for (size_t cut : test::RandomCuts(rng, n, 8)) {
      reg = Crc32(reg, m.data() + offset + pos, cut - pos);
      pos = cut;
    }
    ASSERT_EQ(reg, whole);
  }
  crcTablesOnly = false;
}

#ifdef TVK_HAVE_ORACLES
TEST(Crc32Oracle, MatchesZlibComplemented) {
  std::mt19937 rng(42);
  for (int round = 0; round < 3000; ++round) {
    size_t n = rng() % (round % 20 == 0 ? 200000 : 3000);
    auto m = test::RandomBytes(rng, n);
    uLong z = crc32(0L, m.data(), uInt(n));
    ASSERT_EQ(Crc32(kCrcStart, m.data(), n), ~uint32_t(z)) << n;
  }
}
#endif

}  // namespace
}  // namespace tvk
