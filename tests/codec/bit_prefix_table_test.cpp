// Prefix tables: canonical assignment, completeness, and the two ways code
// lengths are sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "bit_test_support.h"
#include "codec/prefix_table.h"
#include "writer/bit_writer.h"

namespace tvk {
namespace {

using test::TestInput;

struct Table {
  PrefixTable t;
  Table(uint32_t count, uint32_t width) { EXPECT_TRUE(InitTable(&t, count, width)); }
  ~Table() { FreeTable(&t); }
  bool Build(const std::vector<uint32_t>& lengths) {
    for (uint32_t i = 0; i < t.count; ++i) t.lengths[i] = i < lengths.size() ? lengths[i] : 0;
    return BuildTable(&t);
  }
};

TEST(PrefixTable, RejectsIncompleteAndDegenerateSets) {
  Table t(6, 7);
  EXPECT_FALSE(t.Build({0, 0, 0, 0, 0, 0})) << "no symbol";
  EXPECT_FALSE(t.Build({0, 0, 1, 0, 0, 0})) << "one symbol of length 1";
  EXPECT_FALSE(t.Build({0, 0, 0, 0, 7, 0})) << "one symbol of any length";
  EXPECT_FALSE(t.Build({1, 2, 3, 0, 0, 0})) << "incomplete";
  EXPECT_FALSE(t.Build({1, 1, 1, 0, 0, 0})) << "oversubscribed";
  EXPECT_FALSE(t.Build({1, 2, 3, 4, 5, 8})) << "longer than the width";
  EXPECT_TRUE(t.Build({1, 2, 3, 4, 5, 5}));
  Table wide(3, 15);
  EXPECT_FALSE(wide.Build({1, 2, 17})) << "above 16";
}

TEST(PrefixTable, AssignsCodesByLengthThenSymbol) {
  // Lengths 2,1,3,3: symbol 1 is "0", 0 is "10", 2 is "110", 3 is "111".
  Table t(4, 15);
  ASSERT_TRUE(t.Build({2, 1, 3, 3}));
  BitWriter w;
  w.Put(0b111, 3);
  w.Put(0b0, 1);
  w.Put(0b110, 3);
  w.Put(0b10, 2);
  w.Put(0b0, 1);
  w.Put(0x5A, 8);
  TestInput in(w.Finish());
  in.in.Start();
  EXPECT_EQ(Decode(&t.t, &in.in), 3u);
  EXPECT_EQ(Decode(&t.t, &in.in), 1u);
  EXPECT_EQ(Decode(&t.t, &in.in), 2u);
  EXPECT_EQ(Decode(&t.t, &in.in), 0u);
  EXPECT_EQ(Decode(&t.t, &in.in), 1u);
  EXPECT_EQ(in.in.ReadByte(), 0x5Au) << "each symbol consumes only its own length";
}

TEST(PrefixTable, SixteenBitCodesNeedAWideEnoughTable) {
  // 15 symbols of lengths 1..15 and two of 16 form a complete code, but
  // lengths beyond the lookup width cannot be looked up.
  std::vector<uint32_t> lengths;
  for (uint32_t i = 1; i <= 15; ++i) lengths.push_back(i);
  lengths.push_back(16);
  lengths.push_back(16);
  Table t15(17, 15);
  EXPECT_FALSE(t15.Build(lengths));
  Table t16(17, 16);
  EXPECT_TRUE(t16.Build(lengths));
}

// One table rebuilt with codes whose longest length goes up and down: each
// symbol must come back with exactly its own length consumed, whatever code
// the table held before.
TEST(PrefixTable, RebuiltWithLongerAndShorterCodes) {
  Table t(20, 15);
  for (uint32_t longest : {15u, 1u, 9u, 2u, 14u, 4u}) {
    // Lengths 1, 2, ..., longest - 1 and two of `longest`, in shuffled symbol
    // positions so canonical order differs from symbol order.
    std::vector<uint32_t> lengths(20, 0);
    for (uint32_t i = 0; i <= longest; ++i) {
      uint32_t len = i < longest ? (i == 0 ? longest : i) : longest;
      lengths[(i * 7 + longest) % 20] = len;
    }
    ASSERT_TRUE(t.Build(lengths)) << longest;
    auto codes = test::CanonicalCodes(lengths);
    BitWriter w;
    std::vector<uint32_t> sent;
    for (uint32_t round = 0; round < 3; ++round) {
      for (uint32_t s = 0; s < 20; ++s) {
        if (lengths[s] == 0) continue;
        w.Put(codes[s], lengths[s]);
        w.Put(round & 1, 1);  // a marker bit right behind each code
        sent.push_back(s);
      }
    }
    TestInput in(w.Finish());
    in.in.Start();
    uint32_t round = 0, n = 0;
    for (uint32_t s : sent) {
      ASSERT_EQ(Decode(&t.t, &in.in), s) << "longest " << longest;
      ASSERT_EQ(in.in.ReadBits(1), round & 1) << "longest " << longest << ", symbol " << s;
      if (++n % (longest + 1) == 0) ++round;
    }
  }
}

// The two-level lookup against a plain table of 2^width entries, for random
// complete codes of every shape: each window must give the same symbol and
// length as the single lookup would.
TEST(PrefixTable, TwoLevelLookupMatchesASingleWideTable) {
  std::mt19937 rng(77);
  for (int round = 0; round < 400; ++round) {
    const uint32_t width = round % 4 == 0 ? 16 : 15;
    const uint32_t count = 2 + rng() % 309;
    const uint32_t maxLen = 1 + rng() % width;
    // A complete code: split random leaves until there are enough of them.
    std::vector<uint32_t> leaves{0};
    uint32_t want = 2 + rng() % (count - 1);
    while (leaves.size() < want) {
      std::vector<size_t> open;
      for (size_t i = 0; i < leaves.size(); ++i) {
        if (leaves[i] < maxLen) open.push_back(i);
      }
      if (open.empty()) break;
      // Deep, lopsided trees as well as balanced ones.
      size_t pick = round % 3 == 0 ? open[rng() % open.size()] : open.back();
      uint32_t depth = ++leaves[pick];
      leaves.push_back(depth);
    }
    if (leaves.size() < 2) continue;
    std::vector<uint32_t> lengths(count, 0);
    std::vector<uint32_t> slots(count);
    for (uint32_t i = 0; i < count; ++i) slots[i] = i;
    std::shuffle(slots.begin(), slots.end(), rng);
    for (size_t i = 0; i < leaves.size() && i < count; ++i) lengths[slots[i]] = leaves[i];
    if (leaves.size() > count) continue;
    Table t(count, width);
    ASSERT_TRUE(t.Build(lengths)) << round;
    auto codes = test::CanonicalCodes(lengths);
    std::vector<uint32_t> plain(size_t(1) << width, 0);
    for (uint32_t sym = 0; sym < count; ++sym) {
      uint32_t len = lengths[sym];
      if (!len) continue;
      uint32_t base = codes[sym] << (width - len);
      for (uint32_t i = 0; i < (1u << (width - len)); ++i) plain[base + i] = sym | len << 9;
    }
    for (uint32_t i = 0; i < plain.size(); ++i) {
      uint32_t window = i << (32 - width) | (rng() & ((1u << (32 - width)) - 1));
      ASSERT_EQ(Lookup(&t.t, window), plain[i]) << "round " << round << ", index " << i;
    }
  }
}

// Pre-code used below: symbols 1 and 2 of length 2 (codes 00, 01), symbols 3,
// 16, 17, 18 of length 3 (100, 101, 110, 111).
void PutPreCode(BitWriter& w) {
  for (uint32_t s = 0; s < 19; ++s) {
    uint32_t len = (s == 1 || s == 2) ? 2 : (s == 3 || s >= 16) ? 3 : 0;
    w.Put(len, 4);
  }
}
constexpr uint32_t kSym1 = 0b00, kSym3 = 0b100, kRep = 0b101, kZero3 = 0b110,
                   kZero11 = 0b111;

TEST(PrefixTable, PreCodedLengthsWithRuns) {
  BitWriter w;
  PutPreCode(w);
  // Lengths of a 12-symbol table: 1, four zeros (17), 3 and three repeats
  // of it (16), then 18 asks for 16 zeros where only three slots are left.
  w.Put(kSym1, 2);
  w.Put(kZero3, 3);
  w.Put(1, 3);  // 4 zeros
  w.Put(kSym3, 3);
  w.Put(kRep, 3);
  w.Put(0, 2);  // 3 repeats
  w.Put(kZero11, 3);
  w.Put(5, 7);  // 16 zeros, cut at the table end
  w.Put(0x3C, 8);  // what follows belongs to the next reader
  TestInput in(w.Finish());
  in.in.Start();
  Table pre(19, 7);
  Table t(12, 15);
  ASSERT_TRUE(ReadPreCode(&pre.t, &in.in));
  ASSERT_TRUE(ReadPreCodedLengths(&t.t, &pre.t, &in.in));
  std::vector<uint32_t> got(t.t.lengths, t.t.lengths + 12);
  EXPECT_EQ(got, (std::vector<uint32_t>{1, 0, 0, 0, 0, 3, 3, 3, 3, 0, 0, 0}));
  EXPECT_EQ(in.in.ReadByte(), 0x3Cu);
}

TEST(PrefixTable, RepeatAsFirstLengthIsCorrupt) {
  BitWriter w;
  PutPreCode(w);
  w.Put(kRep, 3);
  w.Put(3, 2);
  for (int i = 0; i < 8; ++i) w.Put(kSym1, 2);
  TestInput in(w.Finish());
  in.in.Start();
  Table pre(19, 7);
  Table t(4, 15);
  ASSERT_TRUE(ReadPreCode(&pre.t, &in.in));
  EXPECT_FALSE(ReadPreCodedLengths(&t.t, &pre.t, &in.in));
}

TEST(PrefixTable, DeltaLengthsFiveCodes) {
  BitWriter w;
  w.Put(3, 4);         // 3
  w.Put(0b0, 1);       // 3
  w.Put(0b10, 2);      // 4
  w.Put(0b1100, 4);    // 3
  w.Put(0b1101, 4);    // 5
  w.Put(0b111, 3);
  w.Put(2, 4);         // 2
  w.Put(0b0, 1);       // 2
  w.Put(0xA7, 8);
  TestInput in(w.Finish());
  in.in.Start();
  Table t(7, 15);
  // The lengths 3,3,4,3,5,2,2 do not form a complete code, so the build fails,
  // but every length must have been read first.
  EXPECT_FALSE(ReadDeltaLengths(&t.t, &in.in));
  std::vector<uint32_t> got(t.t.lengths, t.t.lengths + 7);
  EXPECT_EQ(got, (std::vector<uint32_t>{3, 3, 4, 3, 5, 2, 2}));
  EXPECT_EQ(in.in.ReadByte(), 0xA7u);
}

TEST(PrefixTable, DeltaLengthsOutOfRange) {
  {
    BitWriter w;
    w.Put(0, 4);
    w.Put(0b1100, 4);  // below 0
    TestInput in(w.Finish());
    in.in.Start();
    Table t(2, 15);
    EXPECT_FALSE(ReadDeltaLengths(&t.t, &in.in));
  }
  {
    BitWriter w;
    w.Put(15, 4);
    w.Put(0b1101, 4);  // 17
    TestInput in(w.Finish());
    in.in.Start();
    Table t(2, 16);
    EXPECT_FALSE(ReadDeltaLengths(&t.t, &in.in));
  }
  {
    // A complete delta-coded set builds: 1, 2, 2.
    BitWriter w;
    w.Put(1, 4);
    w.Put(0b10, 2);
    w.Put(0b0, 1);
    TestInput in(w.Finish());
    in.in.Start();
    Table t(3, 15);
    EXPECT_TRUE(ReadDeltaLengths(&t.t, &in.in));
  }
}

}  // namespace
}  // namespace tvk
