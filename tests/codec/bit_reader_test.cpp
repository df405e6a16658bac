// Bit input: word order, the refill at word 4088, and the overrun guard.
#include <gtest/gtest.h>

#include "bit_test_support.h"
#include "writer/bit_writer.h"

namespace tvk {
namespace {

using test::TestInput;

TEST(BitReader, FirstBitIsTopBitOfFourthByte) {
  {
    TestInput t({0x80, 0x00, 0x00, 0x00, 0, 0, 0, 0});
    t.in.Start();
    EXPECT_EQ(t.in.ReadBits(1), 0u);
    EXPECT_EQ(t.in.Window() >> 25, 0u);  // the 0x80 byte is bit 7 of the word
  }
  {
    TestInput t({0x11, 0x22, 0x33, 0xC4, 0x55, 0x66, 0x77, 0x88});
    t.in.Start();
    EXPECT_EQ(t.in.Window(), 0xC4332211u);
    EXPECT_EQ(t.in.ReadBits(1), 1u);
    EXPECT_EQ(t.in.ReadBits(3), 0x4u);  // 100
    // A field straddling the two words: the low 4 bits of word 0 then the top
    // 8 bits of word 1 (0x88776655).
    t.in.Skip(24);
    EXPECT_EQ(t.in.ReadBits(12), 0x188u);
    EXPECT_EQ(t.in.ReadByte(), 0x77u);
  }
}

// Fields of odd widths written across several refills must read back in
// order, whatever the alignment at word 4088.
TEST(BitReader, ReadsSeamlesslyAcrossRefills) {
  BitWriter w;
  std::vector<uint32_t> widths;
  std::vector<uint32_t> values;
  uint32_t seed = 12345;
  while (w.BitCount() < 8u * 70000) {
    seed = seed * 1103515245u + 12345u;
    uint32_t n = 1 + (seed >> 16) % 24;
    uint32_t v = (seed >> 3) & ((1u << n) - 1);
    w.Put(v, n);
    widths.push_back(n);
    values.push_back(v);
  }
  TestInput t(w.Finish());
  t.in.Start();
  for (size_t i = 0; i < widths.size(); ++i) {
    ASSERT_EQ(t.in.ReadBits(widths[i]), values[i]) << "field " << i;
  }
  EXPECT_FALSE(t.in.Overrun());
}

// Whole-word skips land exactly on word 4088 and must refill there.
TEST(BitReader, WholeWordSkipsHitTheRefill) {
  std::vector<uint8_t> bytes(4 * 9000);
  for (size_t i = 0; i < 9000; ++i) {
    uint32_t v = static_cast<uint32_t>(i) * 2654435761u;
    std::memcpy(&bytes[4 * i], &v, 4);
  }
  TestInput t(bytes);
  t.in.Start();
  for (uint32_t i = 0; i < 8990; ++i) {
    ASSERT_EQ(t.in.Window(), i * 2654435761u) << "word " << i;
    t.in.Skip(32);
  }
}

TEST(BitReader, OverrunCountsBytesBeyondThePackedData) {
  std::vector<uint8_t> bytes(100, 0xFF);
  TestInput t(bytes);
  t.in.Start();
  t.in.Skip(32 * 33);  // 132 bytes: 32 beyond the end
  EXPECT_FALSE(t.in.Overrun());
  // Past the end the stream reads as zeros, not as stale buffer contents.
  EXPECT_EQ(t.in.Window(), 0u);
  t.in.Skip(1);  // into the 133rd byte
  EXPECT_TRUE(t.in.Overrun());
}

TEST(BitReader, OverrunAfterARefillOfAShortTail) {
  // 20000 bytes: the first refill delivers only 3616 of its 16352.
  std::vector<uint8_t> bytes(20000, 0xA5);
  TestInput t(bytes);
  t.in.Start();
  uint64_t bits = 0;
  while (!t.in.Overrun() && bits < 8u * 40000) {
    t.in.Skip(17);
    bits += 17;
  }
  // The guard trips within one field of byte 20032.
  EXPECT_GT(bits, 8u * 20032);
  EXPECT_LE(bits, 8u * 20032 + 17);
}

}  // namespace
}  // namespace tvk
