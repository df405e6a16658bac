// Hand-built LZ streams (bit by bit, without the encoder) for the decoder's
// exact rules: the distance cache, repeat lengths and their adjustments, the
// two-table context, distance-table sizes, block counts and bad symbols.
#include <gtest/gtest.h>

#include <algorithm>

#include "lz_test_support.h"
#include "platform/result_codes.h"
#include "writer/bit_writer.h"

namespace tvk {
namespace {

using test::CanonicalCodes;
using test::LzHarness;
using test::LzResult;

// Code lengths forming a complete code over the given symbols.
std::vector<uint32_t> CompleteLengths(uint32_t count, std::vector<uint32_t> symbols) {
  std::sort(symbols.begin(), symbols.end());
  uint32_t m = uint32_t(symbols.size()), k = 0;
  while ((1u << k) < m) ++k;
  uint32_t shorter = (1u << k) - m;
  std::vector<uint32_t> lens(count, 0);
  for (uint32_t i = 0; i < m; ++i) lens[symbols[i]] = i < shorter ? k - 1 : k;
  return lens;
}

struct Coded {
  std::vector<uint32_t> lens, codes;
  Coded(uint32_t count, std::vector<uint32_t> symbols)
      : lens(CompleteLengths(count, std::move(symbols))), codes(CanonicalCodes(lens)) {}
  void Put(BitWriter& w, uint32_t s) const {
    ASSERT_NE(lens[s], 0u) << "symbol " << s;
    w.Put(codes[s], lens[s]);
  }
};

// Delta-coded lengths in their plainest form: "0" for the same, "111" and
// four bits otherwise.
void PutDeltaPlain(BitWriter& w, const std::vector<uint32_t>& lens) {
  w.Put(lens[0], 4);
  for (size_t i = 1; i < lens.size(); ++i) {
    if (lens[i] == lens[i - 1]) {
      w.Put(0, 1);
    } else {
      w.Put(0b111, 3);
      w.Put(lens[i], 4);
    }
  }
}

struct Tables {
  Coded main, rep, dist;
  // T = 0, D = 1: every table delta-coded.
  void Header(BitWriter& w, uint32_t count) const {
    w.Put(0, 1);
    w.Put(count, 15);
    w.Put(0, 1);
    w.Put(1, 1);
    PutDeltaPlain(w, main.lens);
    PutDeltaPlain(w, rep.lens);
    PutDeltaPlain(w, dist.lens);
  }
};

// What the decoder must produce: copies one byte at a time.
void Copy(std::vector<uint8_t>& out, uint32_t length, uint32_t distance) {
  for (uint32_t k = 0; k < length; ++k) out.push_back(out[out.size() - distance]);
}

TEST(LzStream, RepeatSymbolsFollowTheDistanceCache) {
  std::vector<uint32_t> mainSyms = {'z', 256, 257, 258, 270, 290};
  for (uint32_t c = 'a'; c <= 'p'; ++c) mainSyms.push_back(c);
  Tables t{Coded(310, mainSyms), Coded(25, {0, 1}), Coded(56, {0, 5})};
  BitWriter w;
  t.Header(w, 22);
  std::vector<uint8_t> expect;
  for (uint32_t c = 'a'; c <= 'p'; ++c) {
    t.main.Put(w, c);
    expect.push_back(uint8_t(c));
  }
  t.main.Put(w, 270);  // length 3, distance 2
  Copy(expect, 3, 2);
  t.main.Put(w, 290);  // length index 6: 10 bytes; distance code 5, extra 1: 8
  t.dist.Put(w, 5);
  w.Put(1, 1);
  Copy(expect, 10, 8);
  t.main.Put(w, 257);  // the most recent distance (290's), repeat index 1: length 3
  t.rep.Put(w, 1);
  Copy(expect, 3, 8);
  t.main.Put(w, 258);  // one further back: 290's again, since 257 appended it
  t.rep.Put(w, 0);
  Copy(expect, 2, 8);
  t.main.Put(w, 256);  // 258's length and distance
  Copy(expect, 2, 8);
  t.main.Put(w, 'z');
  expect.push_back('z');
  LzHarness h;
  LzResult r = h.Decode(w.Finish(), expect.size(), 0, false, false);
  EXPECT_EQ(r.error, 0u);
  EXPECT_EQ(r.out, expect);

  // 258 straight after 270 and 290 reaches 270's distance.
  BitWriter w2;
  t.Header(w2, 19);
  expect.clear();
  for (uint32_t c = 'a'; c <= 'p'; ++c) {
    t.main.Put(w2, c);
    expect.push_back(uint8_t(c));
  }
  t.main.Put(w2, 270);
  Copy(expect, 3, 2);
  t.main.Put(w2, 290);
  t.dist.Put(w2, 5);
  w2.Put(0, 1);  // distance 7
  Copy(expect, 10, 7);
  t.main.Put(w2, 258);
  t.rep.Put(w2, 1);
  Copy(expect, 3, 2);
  r = h.Decode(w2.Finish(), expect.size(), 0, false, false);
  EXPECT_EQ(r.error, 0u);
  EXPECT_EQ(r.out, expect);
}

TEST(LzStream, RepeatLastBeforeAnyRepeatCopiesNothingButCounts) {
  Tables t{Coded(310, {'a', 'b', 'c', 'd', 'x', 256, 258, 270}), Coded(25, {0, 1}),
           Coded(56, {0, 1})};
  BitWriter w;
  t.Header(w, 8);
  for (char c : {'a', 'b', 'c', 'd'}) t.main.Put(w, uint32_t(c));
  t.main.Put(w, 270);  // "cdc"
  t.main.Put(w, 256);  // length 0, distance 0 enters the cache
  t.main.Put(w, 258);  // so one further back is 270's distance 2
  t.rep.Put(w, 1);     // length 3
  t.main.Put(w, 'x');
  std::vector<uint8_t> expect = {'a', 'b', 'c', 'd'};
  Copy(expect, 3, 2);
  Copy(expect, 3, 2);
  expect.push_back('x');
  LzHarness h;
  LzResult r = h.Decode(w.Finish(), expect.size(), 0, false, false);
  EXPECT_EQ(r.error, 0u);
  EXPECT_EQ(r.out, expect);
}

// Repeat lengths grow by one beyond distance 16383 and again beyond 262143;
// the coded-length symbols only beyond 262143; index 24 never.
TEST(LzStream, LengthAdjustmentsByDistance) {
  std::vector<uint32_t> mainSyms = {0xFF, 257, 284, 308};
  for (uint32_t c = 0; c < 64; ++c) mainSyms.push_back(c);
  Tables t{Coded(310, mainSyms), Coded(25, {3, 24}), Coded(56, {11, 28, 35})};
  BitWriter w;
  std::vector<uint8_t> expect;
  uint32_t symbols = 0;
  BitWriter body;
  for (uint32_t c = 0; c < 64; ++c) {
    t.main.Put(body, c);
    expect.push_back(uint8_t(c));
    ++symbols;
  }
  for (int k = 0; k < 17; ++k) {  // 308: 257 + 16383 bytes at distance 64 (code 11, extra 15)
    t.main.Put(body, 308);
    body.Put(16383, 14);
    t.dist.Put(body, 11);
    body.Put(15, 4);
    Copy(expect, 16640, 64);
    ++symbols;
  }
  // 284 at distance 20000 (code 28: base 16384, 13 extra bits): length 4.
  t.main.Put(body, 284);
  t.dist.Put(body, 28);
  body.Put(20000 - 1 - 16384, 13);
  Copy(expect, 4, 20000);
  // Repeat index 3 at distance 20000: 3 + 2 + 1.
  t.main.Put(body, 257);
  t.rep.Put(body, 3);
  Copy(expect, 6, 20000);
  // 284 at distance 262144 (code 35: base 196608, 16 extra bits): 0 + 4 + 1.
  t.main.Put(body, 284);
  t.dist.Put(body, 35);
  body.Put(262143 - 196608, 16);
  Copy(expect, 5, 262144);
  // Repeat index 3 there: 3 + 2 + 1 + 1.
  t.main.Put(body, 257);
  t.rep.Put(body, 3);
  Copy(expect, 7, 262144);
  // Index 24: 257 + 5, no adjustment.
  t.main.Put(body, 257);
  t.rep.Put(body, 24);
  body.Put(5, 14);
  Copy(expect, 262, 262144);
  t.main.Put(body, 0xFF);
  expect.push_back(0xFF);
  symbols += 6;
  t.Header(w, symbols);
  // Append the body bits behind the header.
  std::vector<uint8_t> bodyBytes = body.Finish();
  uint64_t bodyBits = body.BitCount();
  for (uint64_t b = 0; b < bodyBits; ++b) {
    uint64_t word = b / 32, bit = 31 - b % 32;
    uint32_t v;
    std::memcpy(&v, &bodyBytes[word * 4], 4);
    w.PutBit((v >> bit) & 1);
  }
  LzHarness h;
  LzResult r = h.Decode(w.Finish(), expect.size(), 4, false, false);  // 512 KiB window
  EXPECT_EQ(r.error, 0u);
  ASSERT_EQ(r.out.size(), expect.size());
  EXPECT_TRUE(r.out == expect);
}

// Pre-code: symbols 0..12 of length 4 and 13..18 of length 5; every table
// length is sent as its own pre-code symbol.
void PutPreCodedPlain(BitWriter& w, const std::vector<const std::vector<uint32_t>*>& tables) {
  std::vector<uint32_t> pre(19);
  for (uint32_t s = 0; s < 19; ++s) pre[s] = s < 13 ? 4 : 5;
  auto codes = CanonicalCodes(pre);
  for (uint32_t s = 0; s < 19; ++s) w.Put(pre[s], 4);
  for (auto* t : tables) {
    for (uint32_t len : *t) w.Put(codes[len], pre[len]);
  }
}

TEST(LzStream, TwoTablesSwitchOnThreshold) {
  Coded a(310, {'a', 'b', 'c', 269}), b(310, {'x', 'y', 269, 270});
  Coded rep(25, {0, 1}), dist(56, {0, 1});
  BitWriter w;
  w.Put(0, 1);
  w.Put(11, 15);
  w.Put(1, 1);
  w.Put(255, 9);
  PutPreCodedPlain(w, {&a.lens, &b.lens});
  PutDeltaPlain(w, rep.lens);
  PutDeltaPlain(w, dist.lens);
  // Literals select table A for the next symbol, matches table B.
  std::vector<uint8_t> expect;
  a.Put(w, 'a');
  expect.push_back('a');
  a.Put(w, 'b');
  expect.push_back('b');
  a.Put(w, 269);
  Copy(expect, 3, 1);
  b.Put(w, 'x');
  expect.push_back('x');
  a.Put(w, 'c');
  expect.push_back('c');
  a.Put(w, 269);
  Copy(expect, 3, 1);
  b.Put(w, 270);
  Copy(expect, 3, 2);
  b.Put(w, 269);
  Copy(expect, 3, 1);
  b.Put(w, 'y');
  expect.push_back('y');
  a.Put(w, 'a');
  expect.push_back('a');
  a.Put(w, 'b');
  expect.push_back('b');
  LzHarness h;
  LzResult r = h.Decode(w.Finish(), expect.size(), 0, false, false);
  EXPECT_EQ(r.error, 0u);
  EXPECT_EQ(r.out, expect);
}

// Runs of short literal codes, where each literal picks the next one's table
// from the literal range itself (threshold 'm'), a block that ends after an
// odd count inside such a run, and an entry that ends inside one.
TEST(LzStream, LiteralRunsAcrossTablesBlocksAndTheEntryEnd) {
  Coded a(310, {'a', 'x', 269, 270}), b(310, {'b', 'y', 'a', 269});
  Coded rep(25, {0, 1}), dist(56, {0, 1});
  const char first[] = "axbxyaaxyyaxbxa";  // 15 symbols: an odd count
  BitWriter w;
  w.Put(0, 1);
  w.Put(15, 15);
  w.Put(1, 1);
  w.Put('m', 9);
  PutPreCodedPlain(w, {&a.lens, &b.lens});
  PutDeltaPlain(w, rep.lens);
  PutDeltaPlain(w, dist.lens);
  std::vector<uint8_t> expect;
  uint32_t prev = 'm';
  for (const char* p = first; *p; ++p) {
    (prev > 'm' ? b : a).Put(w, uint8_t(*p));
    expect.push_back(uint8_t(*p));
    prev = uint8_t(*p);
  }
  // One table of other codes: read with the old ones, the next symbols
  // would come out different.
  Tables t{Coded(310, {'c', 'd', 'e'}), Coded(25, {0, 1}), Coded(56, {0, 1})};
  t.Header(w, 0);
  for (int i = 0; i < 101; ++i) {
    const uint8_t c = "cdeec"[i % 5];
    t.main.Put(w, c);
    expect.push_back(c);
  }
  const std::vector<uint8_t> packed = w.Finish();
  for (size_t size : {expect.size(), expect.size() - 1, size_t(16), size_t(15), size_t(14)}) {
    LzHarness h;
    LzResult r = h.Decode(packed, size, 0, false, false);
    EXPECT_EQ(r.error, 0u) << size;
    EXPECT_TRUE(r.out == std::vector<uint8_t>(expect.begin(), expect.begin() + size)) << size;
  }
}

// A stream with one long match through distance code `code` (no extra bits
// set), between the literals 'a' and 'b'.
std::vector<uint8_t> FarMatchStream(uint32_t code, uint32_t extraBits) {
  Tables t{Coded(310, {'a', 'b', 284}), Coded(25, {0, 1}), Coded(56, {0, code})};
  BitWriter w;
  t.Header(w, 3);
  t.main.Put(w, 'a');
  t.main.Put(w, 284);
  t.dist.Put(w, code);
  w.Put(0, extraBits);
  t.main.Put(w, 'b');
  return w.Finish();
}

TEST(LzStream, DistanceTableSizeFollowsTheWindow) {
  // Code 48 exists from the 2 MiB window on (50 codes), code 50 only at 4 MiB.
  LzHarness h;
  std::vector<uint8_t> expect = {'a', 0, 0, 0, 0, 0, 'b'};  // 4 + 1: distance above 262143
  LzResult r = h.Decode(FarMatchStream(48, 17), 7, 6, false, false);
  EXPECT_EQ(r.error, 0u);
  EXPECT_EQ(r.out, expect);
  LzHarness h1;
  EXPECT_EQ(h1.Decode(FarMatchStream(48, 16), 7, 5, false, false).error, kErrData);
  LzHarness h2;
  EXPECT_EQ(h2.Decode(FarMatchStream(50, 17), 7, 6, false, false).error, kErrData);
  LzHarness h3;
  r = h3.Decode(FarMatchStream(51, 18), 7, 7, false, false);
  EXPECT_EQ(r.error, 0u);
  EXPECT_EQ(r.out, expect);
  LzHarness h4;
  EXPECT_EQ(h4.Decode(FarMatchStream(52, 18), 7, 7, false, false).error, kErrData);
}

TEST(LzStream, CountZeroLastsToTheEntryEnd) {
  Tables t{Coded(310, {'q', 'r'}), Coded(25, {0, 1}), Coded(56, {0, 1})};
  BitWriter w;
  t.Header(w, 0);
  std::vector<uint8_t> expect;
  for (int i = 0; i < 40000; ++i) {
    uint8_t c = (i * 7) % 3 ? 'q' : 'r';
    t.main.Put(w, c);
    expect.push_back(c);
  }
  LzHarness h;
  LzResult r = h.Decode(w.Finish(), expect.size(), 0, false, false);
  EXPECT_EQ(r.error, 0u);
  EXPECT_TRUE(r.out == expect);
  EXPECT_EQ(r.crc, test::CrcOf(expect));
}

TEST(LzStream, UnassignedSymbolAndBrokenTablesAreCorrupt) {
  {
    Tables t{Coded(310, {'a', 309}), Coded(25, {0, 1}), Coded(56, {0, 1})};
    BitWriter w;
    t.Header(w, 2);
    t.main.Put(w, 'a');
    t.main.Put(w, 309);
    LzHarness h;
    LzResult r = h.Decode(w.Finish(), 5, 0, false, false);
    EXPECT_EQ(r.error, kErrData);
    EXPECT_EQ(r.out, std::vector<uint8_t>{'a'}) << "bytes before the fault are still written";
  }
  {
    // A main table with a single symbol cannot be built.
    BitWriter w;
    w.Put(0, 1);
    w.Put(1, 15);
    w.Put(0, 1);
    w.Put(1, 1);
    std::vector<uint32_t> one(310, 0);
    one['a'] = 1;
    PutDeltaPlain(w, one);
    LzHarness h;
    EXPECT_EQ(h.Decode(w.Finish(), 1, 0, false, false).error, kErrData);
  }
}

TEST(LzStream, FilterHeaderIsReadFromTheBitStream) {
  // Filter word 0x0004 with kind 0, one channel and a header of 3 bytes; the
  // predictor starts in mode 0, which leaves its first bytes as they are.
  Tables t{Coded(310, {'a', 'b'}), Coded(25, {0, 1}), Coded(56, {0, 1})};
  BitWriter w;
  for (uint8_t b : {0x04, 0x00, 0x00, 0x01, 0x03, 0x00, 0x00, 0x00}) w.PutByte(b);
  t.Header(w, 6);
  std::vector<uint8_t> expect;
  for (int i = 0; i < 6; ++i) {
    t.main.Put(w, i % 2 ? 'a' : 'b');
    expect.push_back(i % 2 ? 'a' : 'b');
  }
  LzHarness h;
  LzResult r = h.Decode(w.Finish(), 6, 0, true, false);
  EXPECT_EQ(r.error, 0u);
  EXPECT_EQ(r.out, expect);
  EXPECT_EQ(h.input().state.filterWord, 0x0004u);
}

}  // namespace
}  // namespace tvk
