// Solid groups through the encoder that keeps its match finder between
// entries: round trips across the finder's slide, resynchronisation after
// forced blocks, and the cost of many small entries behind a full window.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "lz_test_support.h"
#include "writer/lz_encoder.h"

namespace tvk {
namespace {

using test::LzHarness;
using test::LzResult;
using test::ReadFileBytes;

// Real text when the machine has it, else a repetitive mixture.
std::vector<uint8_t> Text(size_t n) {
  static std::vector<uint8_t> cache;
  if (cache.size() < n) {
    cache.clear();
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const char* root : {"/usr/share/doc", "/usr/include"}) {
      for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (cache.size() >= n) break;
        if (!it->is_regular_file(ec)) continue;
        std::string ext = it->path().extension().string();
        if (ext == ".gz" || ext == ".xz" || ext == ".bz2" || ext == ".png") continue;
        auto b = ReadFileBytes(it->path().string(), n - cache.size());
        cache.insert(cache.end(), b.begin(), b.end());
      }
      if (cache.size() >= n) break;
    }
    uint32_t seed = 7;
    while (cache.size() < n) {
      seed = seed * 1664525u + 1013904223u;
      if ((seed >> 29) == 0 && cache.size() > 4096) {
        size_t d = 1 + (seed >> 8) % 4000, l = 8 + (seed >> 3) % 100;
        for (size_t k = 0; k < l; ++k) cache.push_back(cache[cache.size() - d]);
      } else {
        cache.push_back(uint8_t('a' + (seed >> 20) % 26));
      }
    }
  }
  return std::vector<uint8_t>(cache.begin(), cache.begin() + ptrdiff_t(n));
}

struct SolidRun {
  LzEncoder enc;
  LzHarness dec;
  bool first = true;

  void Entry(const uint8_t* p, size_t n, const LzOptions& o, const std::string& what) {
    auto packed = enc.Encode(p, n, o, !first);
    LzResult r = dec.Decode(packed, n, o.windowCode, enc.lastFilterWord() != 0, !first);
    first = false;
    ASSERT_EQ(r.error, 0u) << what;
    ASSERT_EQ(r.out.size(), n) << what;
    ASSERT_TRUE(std::equal(r.out.begin(), r.out.end(), p)) << what;
  }
};

// More than the finder holds (a window and a segment), so it slides in the
// last entry; small entries in between reach back into the big ones.
TEST(LzEncoderSolid, LongGroupsAtEveryLevel) {
  const size_t small = 1500, smallCount = 200;
  const auto text = Text((12u << 20) + smallCount * small);
  for (uint32_t level = 1; level <= 4; ++level) {
    // The slide itself does not depend on the level; the slower levels get
    // just over a window.
    const size_t big1 = level == 1 ? 7u << 20 : (4u << 20) + 100000;
    const size_t big2 = level == 1 ? 5u << 20 : 300000;
    SolidRun run;
    LzOptions o;
    o.level = level;
    o.windowCode = 7;
    size_t at = 0;
    const std::string lv = "level " + std::to_string(level);
    run.Entry(text.data(), big1, o, lv + " first");
    at += big1;
    for (size_t k = 0; k < smallCount; ++k, at += small) {
      // Repeat an earlier slice now and then: a match as far back as the window allows.
      const uint8_t* p = k % 10 == 3 ? text.data() + big1 - (3u << 20) : text.data() + at;
      run.Entry(p, small, o, lv + " small " + std::to_string(k));
      if (HasFatalFailure()) return;
    }
    run.Entry(text.data() + at, big2, o, lv + " last");
    if (HasFatalFailure()) return;
  }
}

// The best level's finder on its own thread must not change a byte: small
// entries (parsed without it), entries of many hand-overs, one that ends a
// few bytes into a hand-over, and a forced block that makes the finder start
// again behind the decoder's window.
TEST(LzEncoderSolid, TheFinderThreadChangesNoByte) {
  const auto text = Text(900000);
  LzEncoder plain, threaded;
  LzHarness dec;
  LzOptions o;
  o.level = 4;
  o.windowCode = 3;
  LzOptions t = o;
  t.finderThread = true;
  size_t at = 0;
  bool solid = false;
  auto entry = [&](size_t n, const char* what) {
    const auto a = plain.Encode(text.data() + at, n, o, solid);
    const auto b = threaded.Encode(text.data() + at, n, t, solid);
    ASSERT_EQ(a, b) << what;
    LzResult r = dec.Decode(b, n, o.windowCode, threaded.lastFilterWord() != 0, solid);
    ASSERT_EQ(r.error, 0u) << what;
    ASSERT_TRUE(std::equal(r.out.begin(), r.out.end(), text.data() + at)) << what;
    at += n;
    solid = true;
  };
  entry(300000, "first");
  entry(5000, "small");
  entry(1024 + 2048 + 4096 + 8192 * 9 + 5, "just past a hand-over");
  std::vector<LzBlock> blocks(1);
  for (size_t k = 0; k < 2000; ++k) blocks[0].ops.push_back(LzOp::Literal(uint8_t(text[k] ^ 0x5a)));
  const auto forced = plain.EncodeBlocks(blocks, o, true, 0);
  ASSERT_EQ(forced, threaded.EncodeBlocks(blocks, t, true, 0));
  ASSERT_EQ(dec.Decode(forced, 2000, o.windowCode, false, true).error, 0u);
  entry(200000, "after a forced block");
}

// Forced blocks and a window change between solid entries put bytes into the
// window behind the finder's back; the next entry must still find only what
// the decoder has.
TEST(LzEncoderSolid, FinderFollowsTheWindowAfterForcedBlocksAndWindowChanges) {
  const auto text = Text(600000);
  SolidRun run;
  LzOptions o;
  o.windowCode = 2;
  run.Entry(text.data(), 200000, o, "first");
  // The decoder's window now takes bytes the finder never saw.
  std::vector<LzBlock> blocks(1);
  for (size_t k = 0; k < 3000; ++k) blocks[0].ops.push_back(LzOp::Literal(uint8_t(text[k] ^ 0x55)));
  auto forced = run.enc.EncodeBlocks(blocks, o, true, 0);
  LzResult fr = run.dec.Decode(forced, 3000, o.windowCode, false, true);
  ASSERT_EQ(fr.error, 0u);
  // Same text again: only correct if distances count the forced bytes.
  run.Entry(text.data(), 100000, o, "after forced");
  o.windowCode = 0;
  run.Entry(text.data() + 150000, 90000, o, "smaller window");
  o.windowCode = 3;
  run.Entry(text.data() + 140000, 120000, o, "bigger window");
  run.Entry(text.data() + 100000, 80000, o, "same window");
}

// Each small entry behind a full 4 MiB window costs its own bytes, not the
// window's: hashing the window per entry took seconds for a few hundred.
// The finder's own count of work says so without a clock.
TEST(LzEncoderSolid, SmallEntriesBehindAFullWindowAreCheap) {
  const auto text = Text((4u << 20) + 400 * 1024);
  LzEncoder enc;
  LzOptions o;
  o.windowCode = 7;
  enc.Encode(text.data(), 4u << 20, o, false);
  // The first entry indexed every one of its positions.
  EXPECT_GE(enc.finderWork(), (4u << 20) - 4);
  // Each position is indexed once; those under an entry's last match are
  // indexed with the next entry, so an entry may also pay for at most one
  // longest match (16,640 bytes) of the one before.
  const uint64_t start = enc.finderWork();
  size_t total = 0;
  for (size_t k = 0; k < 400; ++k) {
    const uint64_t before = enc.finderWork();
    total += enc.Encode(text.data() + (4u << 20) + k * 1024, 1024, o, true).size();
    ASSERT_LE(enc.finderWork() - before, 1024u + 16640u) << "entry " << k;
  }
  EXPECT_LE(enc.finderWork() - start, 400u * 1024 + 16640u);
  EXPECT_GT(total, 0u);
}

// The price-based parse against the lazy one on what solid archives are made
// of: many small files, and records that repeat with the same length and
// distance (where the repeat symbols and the last-repeat symbol pay off).
TEST(LzEncoderSolid, PriceBasedParseBeatsLazyOnSmallEntriesAndRecords) {
  const auto text = Text(60 * 3000);
  std::vector<uint8_t> records;
  for (uint32_t k = 0; k < 4000; ++k) {
    const std::string r = "id=" + std::to_string(k % 7) + ";name=item;flags=" +
                          std::to_string((k * 2654435761u) >> 29) + "\n";
    records.insert(records.end(), r.begin(), r.end());
  }
  size_t total[5] = {};
  for (uint32_t level : {3u, 4u}) {
    SolidRun run;
    LzOptions o;
    o.level = level;
    o.windowCode = 3;
    for (size_t k = 0; k < 60; ++k) {
      run.Entry(text.data() + k * 3000, 3000, o, "entry " + std::to_string(k));
      if (HasFatalFailure()) return;
    }
    for (int k = 0; k < 2; ++k) {
      run.Entry(records.data(), records.size(), o, "records");
      if (HasFatalFailure()) return;
    }
    LzEncoder probe;
    for (size_t k = 0; k < 60; ++k) {
      total[level] += probe.Encode(text.data() + k * 3000, 3000, o, k > 0).size();
    }
    total[level] += probe.Encode(records.data(), records.size(), o, true).size();
  }
  EXPECT_LT(total[4], total[3] - total[3] / 50) << total[3] << " " << total[4];
}

}  // namespace
}  // namespace tvk
