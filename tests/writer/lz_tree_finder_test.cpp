// The best level's match finder against a brute-force search: every match it
// reports is real and within reach, lengths grow strictly, and with a deep
// enough walk the longest match it reports is the longest there is (up to
// its look-ahead), also after the buffer's front has been cut away.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "writer/lz_encoder_finder.h"

namespace tvk {
namespace {

// Words from a small vocabulary with random spacing: many matches of every
// length, many equal prefixes (deep trees), some runs.
std::vector<uint8_t> Corpus(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"the ", "then ", "there ", "other ", "a", "ab", "abc",
                                       "abcd", "\n", "  ", "zzzzzzzz", "x", "thereafter "};
  std::vector<uint8_t> v;
  while (v.size() < n) {
    seed = seed * 1664525u + 1013904223u;
    const char* w = kWords[(seed >> 24) % 13];
    while (*w && v.size() < n) v.push_back(uint8_t(*w++));
    if ((seed >> 8) % 7 == 0 && v.size() < n) v.push_back(uint8_t(seed >> 16));
  }
  return v;
}

uint32_t Common(const std::vector<uint8_t>& b, size_t a, size_t c, uint32_t limit) {
  uint32_t n = 0;
  while (n < limit && b[a + n] == b[c + n]) ++n;
  return n;
}

struct Check {
  uint64_t positions = 0;
  uint64_t longestHits = 0;
};

// Runs the finder over buf[from, end) (earlier bytes already inserted) and
// checks each answer against the bytes.
void Sweep(LzTreeFinder& f, const std::vector<uint8_t>& buf, size_t from, size_t stop, size_t end,
           uint32_t maxDistance, uint32_t nice, bool expectLongest, Check* check) {
  LzMatch out[LzTreeFinder::kMaxOut];
  for (size_t pos = from; pos < stop && pos + 4 <= end; ++pos) {
    if (pos % 3 == 1) {
      f.Skip(buf.data(), pos, end, maxDistance);
      continue;
    }
    const uint32_t count = f.Find(buf.data(), pos, end, maxDistance, out);
    const uint32_t limit = uint32_t(std::min<size_t>(nice, end - pos));
    uint32_t previous = 0;
    for (uint32_t k = 0; k < count; ++k) {
      ASSERT_GT(out[k].length, previous) << "at " << pos;
      ASSERT_GE(out[k].distance, 1u);
      ASSERT_LE(out[k].distance, std::min<size_t>(maxDistance, pos));
      ASSERT_LE(out[k].length, limit);
      ASSERT_EQ(Common(buf, pos, pos - out[k].distance, out[k].length), out[k].length)
          << "at " << pos << " distance " << out[k].distance;
      previous = out[k].length;
    }
    uint32_t truth = 0;
    for (size_t d = 1; d <= std::min<size_t>(maxDistance, pos); ++d) {
      truth = std::max(truth, Common(buf, pos, pos - d, limit));
      if (truth == limit) break;
    }
    // Two-byte matches only count within 256 bytes, three-byte ones within
    // 16384; the brute force knows no such rule, so compare from four up.
    if (expectLongest && truth >= 4) {
      ASSERT_EQ(previous, truth) << "at " << pos;
    }
    if (previous == truth) ++check->longestHits;
    ++check->positions;
  }
}

TEST(LzTreeFinder, ReportsRealMatchesAndTheLongest) {
  const auto buf = Corpus(30000, 3);
  for (uint32_t maxDistance : {300u, 5000u, 32767u}) {
    LzTreeFinder f;
    f.Reset(12, 100000, 40);
    f.Grow(buf.size());
    Check check;
    Sweep(f, buf, 0, buf.size(), buf.size(), maxDistance, 40, true, &check);
    EXPECT_GT(check.positions, 19000u);
  }
}

// A shallow walk may miss the longest match but never reports a false one.
TEST(LzTreeFinder, ShallowWalkStaysSound) {
  const auto buf = Corpus(16000, 9);
  LzTreeFinder f;
  f.Reset(10, 4, 200);
  f.Grow(buf.size());
  Check check;
  Sweep(f, buf, 0, buf.size(), buf.size(), 1u << 20, 200, false, &check);
  EXPECT_GT(check.positions, 10000u);
  EXPECT_GT(check.longestHits, check.positions / 4);
}

// The caller appends data in pieces and cuts the buffer's front; positions
// keep their strings, and the longest match is still found behind the cut.
TEST(LzTreeFinder, GrowAndSlide) {
  const auto all = Corpus(75000, 17);
  LzTreeFinder f;
  f.Reset(14, 100000, 64);
  std::vector<uint8_t> buf;
  size_t at = 0, inserted = 0;
  const uint32_t maxDistance = 6000;
  Check check;
  while (at < all.size()) {
    if (buf.size() > 30000) {
      const size_t cut = buf.size() - 25000;
      buf.erase(buf.begin(), buf.begin() + ptrdiff_t(cut));
      f.Slide(cut);
      inserted -= cut;
    }
    const size_t piece = std::min<size_t>(7001, all.size() - at);
    buf.insert(buf.end(), all.begin() + ptrdiff_t(at), all.begin() + ptrdiff_t(at + piece));
    at += piece;
    f.Grow(buf.size());
    // Positions whose look-ahead the piece cuts short are searched with the
    // next piece here, so that their longest match can be checked whole.
    const bool last = at == all.size();
    const size_t stop = last ? buf.size() : buf.size() - 64;
    Sweep(f, buf, inserted, stop, buf.size(), maxDistance, 64, true, &check);
    if (HasFatalFailure()) return;
    inserted = std::max(inserted, stop);
  }
  EXPECT_GT(check.positions, 45000u);
}

// Solid entries and segments end where the next piece's bytes are not known
// yet, and every position up to the end is searched before the next piece
// arrives. Positions whose look-ahead the end cut short must not be sorted on
// that part of their string: a tree sorted so lets later walks assume common
// lengths the bytes do not have (a -m4 solid archive once decoded to other
// bytes that way). Pieces of many sizes, with the longest match checked
// where the walk is deep enough to find it.
TEST(LzTreeFinder, PositionsAtAPieceEndStaySoundWhenTheBufferGrows) {
  for (uint32_t seed : {5u, 23u}) {
    const auto all = Corpus(15000, seed);
    for (uint32_t nice : {16u, 64u, 273u}) {
      LzTreeFinder f;
      f.Reset(12, 100000, nice);
      std::vector<uint8_t> buf;
      size_t at = 0, inserted = 0;
      uint32_t step = seed;
      Check check;
      while (at < all.size()) {
        step = step * 1664525u + 1013904223u;
        const size_t piece = std::min<size_t>(1 + (step >> 8) % 1500, all.size() - at);
        buf.insert(buf.end(), all.begin() + ptrdiff_t(at), all.begin() + ptrdiff_t(at + piece));
        at += piece;
        f.Grow(buf.size());
        Sweep(f, buf, inserted, buf.size(), buf.size(), 1u << 20, nice, false, &check);
        if (HasFatalFailure()) return;
        // The last three positions have no four-byte hash yet; they follow
        // with the next piece.
        inserted = std::max(inserted, buf.size() >= 3 ? buf.size() - 3 : 0);
      }
      EXPECT_GT(check.positions, 9000u);
      EXPECT_GT(check.longestHits, check.positions * 9 / 10) << "seed " << seed << " nice " << nice;
    }
  }
}

}  // namespace
}  // namespace tvk
