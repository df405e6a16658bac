// The fast paths of the LZ loop against what a byte-at-a-time decoder makes:
// copies of short periods, wide and wrapped copies at the window edges,
// entries that end inside a literal run or a match, the x86 call filter on its
// way to the staging buffer, and main tables with a full first level.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "codec/model.h"
#include "codec/prefix_table.h"
#include "lz_test_support.h"
#include "writer/lz_encoder.h"

namespace tvk {
namespace {

using test::LzHarness;
using test::EncodeAndDecode;
using test::LzResult;
using test::Rng;

// Ops that keep the copy fast paths busy in a 32 KiB window: periods of 1 to
// 20 bytes for up to 300 bytes, sources far back (after a wrap they lie near
// the window end while the destination is near its start), matches ending
// just before, at and after the window end, and runs of literals across it.
std::vector<LzOp> EdgeOps(Rng& rng, uint32_t ws, uint64_t* produced) {
  std::vector<LzOp> ops;
  while (ops.size() < 6000) {
    const uint32_t have = uint32_t(std::min<uint64_t>(*produced, ws - 1));
    const uint32_t at = uint32_t(*produced % ws);
    LzOp op;
    uint32_t pick = have < 64 ? 0 : rng.Below(6);
    if (pick == 0) {
      op = LzOp::Literal(uint8_t(rng.Next()));
    } else if (pick == 1) {
      op = LzOp::Match(2 + rng.Below(300), 1 + rng.Below(std::min(20u, have)));
    } else if (pick == 2) {
      uint32_t d = have - rng.Below(std::min(64u, have));
      op = LzOp::Match(4 + rng.Below(std::min(d, 257u)), d);
    } else if (pick == 3 && ws - at > 5 && ws - at < 300) {
      // End one before, at or one past the window end.
      uint32_t len = ws - at - 1 + rng.Below(3);
      op = LzOp::Match(len, 1 + rng.Below(have));
    } else if (pick == 4) {
      op = LzOp::Match(4 + rng.Below(40), 1 + rng.Below(have));
    } else {
      for (uint32_t i = rng.Below(50); i > 0; --i) {
        ops.push_back(LzOp::Literal(uint8_t(rng.Next())));
        ++*produced;
      }
      continue;
    }
    *produced += op.kind == LzOp::kLiteral ? 1 : op.length;
    ops.push_back(op);
  }
  return ops;
}

// A whole window leaves as one chunk, the rest at the end of the entry.
std::vector<uint32_t> ExpectedChunks(uint64_t size, uint32_t ws) {
  std::vector<uint32_t> chunks(size / ws, ws);
  if (size % ws) chunks.push_back(uint32_t(size % ws));
  return chunks;
}

// Progress counts the bytes decoded, which may pass the entry's size by the
// rest of a match that runs past it (at most a long match).
void ExpectProgressCovers(const LzResult& r, uint64_t size) {
  const uint64_t step = std::max<uint64_t>(size / 100, 32768);
  ASSERT_FALSE(r.progress.empty());
  const uint64_t total = std::accumulate(r.progress.begin(), r.progress.end(), uint64_t(0));
  EXPECT_GE(total, size);
  EXPECT_LT(total, size + 257 + 16384);
  for (size_t i = 0; i + 1 < r.progress.size(); ++i) EXPECT_GE(r.progress[i], step) << i;
}

TEST(LzSpeedEquivalence, CopiesAtEveryEdgeMatchTheWindow) {
  const uint32_t ws = 32768;
  for (uint32_t seed : {1u, 2u, 3u}) {
    Rng rng{seed};
    uint64_t produced = 0;
    std::vector<LzBlock> blocks;
    const LzBlock::Form forms[] = {LzBlock::kPreCoded, LzBlock::kDeltaCoded, LzBlock::kTwoTables};
    for (int b = 0; b < 6; ++b) {
      LzBlock block;
      block.form = forms[b % 3];
      block.threshold = 255;
      block.ops = EdgeOps(rng, ws, &produced);
      blocks.push_back(block);
    }
    LzEncoder enc;
    LzOptions o;
    o.windowCode = 0;
    std::vector<uint8_t> window;
    auto packed = enc.EncodeBlocks(blocks, o, false, 0, &window);
    ASSERT_EQ(window.size(), produced);
    LzHarness h;
    LzResult r = h.Decode(packed, window.size(), 0, false, false);
    ASSERT_EQ(r.error, 0u) << seed;
    ASSERT_TRUE(r.out == window) << seed;
    EXPECT_EQ(r.chunks, ExpectedChunks(window.size(), ws)) << seed;
    EXPECT_EQ(r.crc, test::CrcOf(window));
    ExpectProgressCovers(r, window.size());

    // The same stream cut short: inside a literal run, inside a match, and
    // exactly at a window end. Nothing past the entry's size leaves, and the
    // chunks still break at the window end.
    const uint64_t size = window.size();
    for (uint64_t cut : {uint64_t(ws), uint64_t(2 * ws), uint64_t(ws + 1), size / 2 + 7, size - 1}) {
      LzHarness c;
      LzResult rc = c.Decode(packed, cut, 0, false, false);
      ASSERT_EQ(rc.error, 0u) << cut;
      ASSERT_EQ(rc.out.size(), cut);
      EXPECT_TRUE(std::equal(rc.out.begin(), rc.out.end(), window.begin())) << cut;
      EXPECT_EQ(rc.chunks, ExpectedChunks(cut, ws)) << cut;
      ExpectProgressCovers(rc, cut);
    }
  }
}

TEST(LzSpeedEquivalence, SolidEntriesCarryTheCacheAcrossBatches) {
  // Repeats of cached distances right at an entry start and after every
  // batch of symbols: the cache and the last repeat live in locals inside
  // the loop and must be handed back each time.
  const uint32_t ws = 32768u << 2;
  Rng rng{9};
  LzEncoder enc;
  LzOptions o;
  o.windowCode = 2;
  LzHarness h;
  std::vector<uint8_t> all;
  for (int entry = 0; entry < 3; ++entry) {
    LzBlock block;
    block.form = LzBlock::kPreCoded;
    if (entry == 0) {
      for (int i = 0; i < 600; ++i) block.ops.push_back(LzOp::Literal(uint8_t(rng.Next())));
      // Four real distances in the cache before the first repeat.
      for (uint32_t d : {17u, 100u, 333u, 599u}) block.ops.push_back(LzOp::Match(5, d));
    }
    for (int i = 0; i < 5000; ++i) {
      uint32_t pick = rng.Below(4);
      if (pick == 0) {
        block.ops.push_back(LzOp::Match(4 + rng.Below(60), 1 + rng.Below(500)));
      } else if (pick == 1) {
        block.ops.push_back(LzOp::Repeat(uint8_t(rng.Below(4)), 4 + rng.Below(30)));
      } else if (pick == 2) {
        block.ops.push_back(LzOp::RepeatLast());
      } else {
        block.ops.push_back(LzOp::Literal(uint8_t(rng.Next())));
      }
    }
    std::vector<uint8_t> window;
    LzResult r = EncodeAndDecode(h, enc, {block}, o, entry > 0, &window);
    ASSERT_EQ(r.error, 0u) << entry;
    EXPECT_TRUE(r.out == window) << entry;
    all.insert(all.end(), window.begin(), window.end());
  }
  EXPECT_GT(all.size(), size_t(ws));
}

TEST(LzSpeedEquivalence, CallFilterOnTheWayMatchesTheFilterInPlace) {
  Rng rng{4};
  for (int round = 0; round < 200; ++round) {
    uint32_t n = round < 20 ? rng.Below(300) : 256 + rng.Below(5000);
    std::vector<uint8_t> src(n);
    // Calls close together, operands across eight-byte words, some in the
    // last seven bytes.
    for (auto& b : src) b = rng.Below(5) == 0 ? 0xE8 : uint8_t(rng.Next());
    for (uint32_t i = 0; i + 4 < n; i += 1 + rng.Below(40)) {
      if (rng.Below(3) == 0) src[i] = 0xE8, src[i + 4] = uint8_t(rng.Below(2) ? 0 : 0xFF);
    }
    const uint32_t size = 1 + rng.Below(1u << 20);
    const uint32_t start = rng.Below(1u << 20);
    std::vector<uint8_t> inPlace = src;
    uint32_t posA = start, posB = start;
    X86CallFilter(inPlace.data(), n, &posA, size);
    const std::vector<uint8_t> before = src;
    std::vector<uint8_t> out(n, 0x5A);
    X86CallFilterCopy(src.data(), out.data(), n, &posB, size);
    ASSERT_TRUE(out == inPlace) << "round " << round << ", n " << n;
    ASSERT_TRUE(src == before) << round;
    ASSERT_EQ(posA, posB);
    ASSERT_EQ(posB, start + n);
  }
}

TEST(LzSpeedEquivalence, FullFirstLevelLooksUpAsAWideTable) {
  // Short codes only (a full first level wider than the longest code), and
  // long ones (links into the second level): the constant-shift lookup the
  // loop uses must find what one 15-bit lookup finds.
  Rng rng{12};
  for (uint32_t maxLen : {3u, 6u, 9u, 10u, 12u, 15u}) {
    for (int round = 0; round < 20; ++round) {
      // A complete code: split random leaves until enough symbols exist.
      std::vector<uint32_t> leaves{1, 1};
      uint32_t want = 2 + rng.Below(std::min(309u, (1u << maxLen) - 1));
      while (leaves.size() < want) {
        size_t i = rng.Below(uint32_t(leaves.size()));
        if (leaves[i] >= maxLen) {
          auto it = std::find_if(leaves.begin(), leaves.end(), [&](uint32_t l) { return l < maxLen; });
          if (it == leaves.end()) break;
          i = size_t(it - leaves.begin());
        }
        leaves[i]++;
        leaves.push_back(leaves[i]);
      }
      std::vector<uint32_t> lengths(310, 0);
      std::vector<uint32_t> slots(310);
      std::iota(slots.begin(), slots.end(), 0u);
      for (uint32_t i = 309; i > 0; --i) std::swap(slots[i], slots[rng.Below(i + 1)]);
      for (size_t i = 0; i < leaves.size(); ++i) lengths[slots[i]] = leaves[i];

      PrefixTable t;
      ASSERT_TRUE(InitTable(&t, 310, 15));
      t.fullFirst = true;
      std::copy(lengths.begin(), lengths.end(), t.lengths);
      ASSERT_TRUE(BuildTable(&t)) << maxLen << " " << round;
      EXPECT_EQ(t.firstBits, kFirstLevelBits);
      auto codes = test::CanonicalCodes(lengths);
      for (uint32_t i = 0; i < (1u << 15); ++i) {
        uint32_t window = i << 17 | (rng.Next() & 0x1FFFF);
        uint32_t e = LookupIn(t.first, t.second, kFirstLevelBits, window);
        uint32_t sym = LookupSymbol(e), len = LookupLength(e);
        ASSERT_NE(len, 0u);
        ASSERT_EQ(lengths[sym], len);
        ASSERT_EQ(codes[sym], i >> (15 - len)) << "max " << maxLen << ", index " << i;
      }
      FreeTable(&t);
    }
  }
}

}  // namespace
}  // namespace tvk
