// The best level parses each stretch of data more than once and cuts blocks
// where the statistics change; its blocks must still chain the decoder's
// distance cache exactly, whichever parse each block kept.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lz_test_support.h"
#include "writer/lz_encoder.h"

namespace tvk {
namespace {

using test::LzHarness;
using test::LzResult;

uint32_t Next(uint32_t* seed) {
  *seed = *seed * 1664525u + 1013904223u;
  return *seed >> 8;
}

// Words, then fixed-size records with counters, then noise full of repeats
// at a handful of distances that change now and then: every kind of op, and
// statistics that change from one part to the next.
std::vector<uint8_t> Mixture(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"entry ", "value ", "the ", "of ", "window ", "=", "; ", "\n"};
  std::vector<uint8_t> v;
  while (v.size() < n) {
    const uint32_t part = Next(&seed) % 3;
    const size_t stop = std::min(n, v.size() + 2000 + Next(&seed) % 30000);
    if (part == 0) {
      while (v.size() < stop) {
        for (const char* w = kWords[Next(&seed) % 8]; *w; ++w) v.push_back(uint8_t(*w));
      }
    } else if (part == 1) {
      for (uint32_t k = 0; v.size() < stop; ++k) {
        const uint8_t rec[8] = {0x10, uint8_t(k), uint8_t(k >> 8), 0, 0xE8, uint8_t(k * 7), 0, 0};
        v.insert(v.end(), rec, rec + 8);
      }
    } else {
      uint32_t dists[4] = {3, 17, 300, 5000};
      while (v.size() < stop) {
        const uint32_t r = Next(&seed);
        if (r % 5 == 0) dists[r % 4] = 1 + Next(&seed) % 20000;
        const uint32_t d = dists[(r >> 4) % 4];
        if (v.size() > d && r % 3 != 0) {
          for (uint32_t k = 0, l = 2 + (r >> 8) % 40; k < l; ++k) v.push_back(v[v.size() - d]);
        } else {
          v.push_back(uint8_t(r >> 12));
        }
      }
    }
  }
  v.resize(n);
  return v;
}

struct Coder {
  LzEncoder enc;
  LzHarness dec;
  bool first = true;
  size_t packed = 0;

  void Entry(const std::vector<uint8_t>& data, const LzOptions& o, const std::string& what) {
    const auto out = enc.Encode(data.data(), data.size(), o, !first);
    packed += out.size();
    LzResult r = dec.Decode(out, data.size(), o.windowCode, enc.lastFilterWord() != 0, !first);
    first = false;
    ASSERT_EQ(r.error, 0u) << what;
    ASSERT_EQ(r.out.size(), data.size()) << what;
    ASSERT_TRUE(r.out == data) << what;
  }
};

TEST(LzEncoderBest, MixedDataRoundTripsAloneAndSolid) {
  LzOptions o;
  o.level = 4;
  for (uint32_t windowCode : {0u, 4u}) {
    o.windowCode = windowCode;
    Coder alone;
    alone.Entry(Mixture(700000, 5), o, "one entry, window " + std::to_string(windowCode));
    if (HasFatalFailure()) return;
  }
  // Entries of every size carry the cache from one to the next.
  o.windowCode = 7;
  Coder solid;
  uint32_t seed = 11;
  for (int k = 0; k < 24; ++k) {
    const size_t n = k % 4 == 0 ? 60000 + Next(&seed) % 90000 : 1 + Next(&seed) % 5000;
    solid.Entry(Mixture(n, seed), o, "solid entry " + std::to_string(k));
    if (HasFatalFailure()) return;
  }
}

// A solid group cut from one text: each entry ends inside a string that the
// next one finishes, so the finder sees strings cut short at every entry end
// and must not sort them on the part it has seen (that once made a -m4 solid
// archive of source files decode to other bytes).
// Source-like text: indented lines of words from a vocabulary of a few
// hundred, with punctuation; long strings recur at every distance.
std::vector<uint8_t> SourceText(size_t n, uint32_t seed) {
  static const char* const kSyllables[] = {"con", "ver", "sion", "ex", "pr", "ess", "ion", "par",
                                           "se", "node", "self", "_", "get", "attr", "val", "ue",
                                           "list", "in", "de", "x", "re", "turn", "def", "el"};
  std::vector<std::string> words;
  for (int k = 0; k < 400; ++k) {
    std::string w;
    for (uint32_t s = 1 + Next(&seed) % 4; s > 0; --s) w += kSyllables[Next(&seed) % 24];
    words.push_back(w);
  }
  static const char* const kPunct[] = {"(", ")", ", ", ".", " = ", ":\n", "\n", "[", "]", " "};
  std::vector<uint8_t> v;
  uint32_t indent = 0;
  while (v.size() < n) {
    if (v.empty() || v.back() == '\n') {
      indent = (indent + 4 * (Next(&seed) % 3) + 36) % 16;
      v.insert(v.end(), indent, ' ');
    }
    const std::string& w = words[Next(&seed) % 40 < 30 ? Next(&seed) % 40 : Next(&seed) % 400];
    v.insert(v.end(), w.begin(), w.end());
    const char* p = kPunct[Next(&seed) % 10];
    while (*p) v.push_back(uint8_t(*p++));
  }
  v.resize(n);
  return v;
}

TEST(LzEncoderBest, SolidEntriesCutInsideStringsRoundTrip) {
  const auto text = SourceText(64000, 31);
  LzOptions o;
  o.level = 4;
  o.windowCode = 7;
  Coder solid;
  uint32_t seed = 3;
  for (size_t at = 0, k = 0; at < text.size(); ++k) {
    const size_t n = std::min<size_t>(text.size() - at, 1 + Next(&seed) % 6000);
    solid.Entry(std::vector<uint8_t>(text.begin() + ptrdiff_t(at), text.begin() + ptrdiff_t(at + n)), o,
                "entry " + std::to_string(k) + " at " + std::to_string(at));
    if (HasFatalFailure()) return;
    at += n;
  }
}

// The tree finder is rebuilt when the decoder's window took bytes it never
// saw (forced blocks), the window size changed between solid entries, or an
// entry in between used the chains of another level.
TEST(LzEncoderBest, TreeFollowsTheWindowAfterForcedBlocksAndWindowChanges) {
  const auto data = Mixture(500000, 21);
  LzOptions o;
  o.level = 4;
  o.windowCode = 2;
  Coder run;
  run.Entry(std::vector<uint8_t>(data.begin(), data.begin() + 150000), o, "first");
  std::vector<LzBlock> blocks(1);
  for (size_t k = 0; k < 3000; ++k) blocks[0].ops.push_back(LzOp::Literal(uint8_t(data[k] ^ 0x55)));
  const auto forced = run.enc.EncodeBlocks(blocks, o, true, 0);
  ASSERT_EQ(run.dec.Decode(forced, 3000, o.windowCode, false, true).error, 0u);
  run.Entry(std::vector<uint8_t>(data.begin(), data.begin() + 100000), o, "after forced");
  o.windowCode = 0;
  o.level = 3;  // the chains in between
  run.Entry(std::vector<uint8_t>(data.begin() + 150000, data.begin() + 240000), o, "smaller window");
  o.level = 4;
  o.windowCode = 3;
  run.Entry(std::vector<uint8_t>(data.begin() + 140000, data.begin() + 260000), o, "bigger window");
  run.Entry(std::vector<uint8_t>(data.begin() + 100000, data.begin() + 180000), o, "same window");
}

// Two halves with nothing in common (and no previous symbol that tells them
// apart): codes cut to each half pack the whole about as well as two
// separate entries, one code for both would not.
TEST(LzEncoderBest, BlocksFollowAChangeOfStatistics) {
  uint32_t seed = 3;
  std::vector<uint8_t> lower, upper;
  for (int k = 0; k < 14000; ++k) lower.push_back(uint8_t('a' + Next(&seed) % 8));
  for (int k = 0; k < 14000; ++k) upper.push_back(uint8_t('q' + Next(&seed) % 8));
  std::vector<uint8_t> both = lower;
  both.insert(both.end(), upper.begin(), upper.end());
  LzOptions o;
  o.level = 4;
  o.windowCode = 4;
  Coder a, b, whole;
  a.Entry(lower, o, "lower");
  b.Entry(upper, o, "upper");
  whole.Entry(both, o, "both");
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_LT(whole.packed, a.packed + b.packed + 64) << a.packed << " + " << b.packed;
}

}  // namespace
}  // namespace tvk
