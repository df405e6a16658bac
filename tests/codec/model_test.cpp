// Delta predictors, the frequency model, model blocks and the two output
// filters.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "codec/model.h"
#include "lz_test_support.h"
#include "platform/result_codes.h"
#include "writer/bit_writer.h"
#include "writer/lz_encoder.h"

namespace tvk {
namespace {

TEST(FrequencyModel, FirstRescaleAfter480Updates) {
  FrequencyModel m;
  m.Reset();
  for (int i = 0; i < 480; ++i) m.Update(7);
  EXPECT_EQ(m.freq[7], 3841u);
  EXPECT_EQ(m.total, 4096u);
  m.Update(7);  // 4104 > 4096: every frequency halves, rounding up
  EXPECT_EQ(m.freq[7], 3849u - 3849u / 2);
  EXPECT_EQ(m.freq[0], 1u);
  EXPECT_EQ(m.total, 1925u + 255u);
  uint32_t cum = 0;
  EXPECT_EQ(m.Find(6, &cum), 6u);
  EXPECT_EQ(m.Find(7, &cum), 7u);
  EXPECT_EQ(cum, 7u);
  EXPECT_EQ(m.Find(7 + 1924, &cum), 7u);
  EXPECT_EQ(m.Find(7 + 1925, &cum), 8u);
  EXPECT_EQ(m.Find(m.total - 1, &cum), 255u);
}

TEST(BytePredictor, SwitchesOnlyAtDecisionPoints) {
  auto p = std::make_unique<BytePredictor>();
  p->Reset(0);
  EXPECT_EQ(p->mask, 255u);
  // A ramp: plain bytes take 256 values, differences to the last byte one.
  uint8_t out[600];
  for (int i = 0; i < 256; ++i) {
    out[i] = p->Step(uint8_t(i * 3));
    ASSERT_EQ(out[i], uint8_t(i * 3)) << "mode 0 leaves byte " << i;
  }
  EXPECT_EQ(p->mode, 1u);  // decided at counter 255
  EXPECT_EQ(p->mask, 511u);
  // Mode 1 now: stored x gives h1 - x; a stored 0xFD continues the ramp.
  EXPECT_EQ(p->Step(0xFD), uint8_t(255 * 3 + 3));
  // The choice holds at counter 511 and the period doubles.
  for (int i = 257; i < 512; ++i) p->Step(0xFD);
  EXPECT_EQ(p->mode, 1u);
  EXPECT_EQ(p->mask, 1023u);
}

TEST(BytePredictor, TiesKeepTheLowerRule) {
  auto p = std::make_unique<BytePredictor>();
  p->Reset(0);
  // A constant: every rule sees one value; rule 0 wins the tie.
  for (int i = 0; i < 256; ++i) p->Step(42);
  EXPECT_EQ(p->mode, 0u);
  EXPECT_EQ(p->mask, 511u & 4095u);  // held: 2 * 255 + 1
  // Rules above 4 produce zeros.
  p->Reset(6);
  EXPECT_EQ(p->Step(99), 0);
}

TEST(BytePredictor, MaskStopsGrowingAt4095) {
  auto p = std::make_unique<BytePredictor>();
  p->Reset(0);
  uint32_t decisions = 0, lastMask = p->mask;
  for (uint32_t i = 0; i < 20000; ++i) {
    p->Step(7);
    if (p->mask != lastMask) ++decisions;
    lastMask = p->mask;
  }
  EXPECT_EQ(p->mask, 4095u);
  EXPECT_EQ(decisions, 4u);  // 511, 1023, 2047, 4095
}

TEST(WordPredictor, PicksTheBestRuleEvery256Words) {
  auto p = std::make_unique<WordPredictor>();
  p->Reset(0);
  // Mode 0 outputs w1 - x: stored zeros keep the word at 0 and every rule ties.
  for (int i = 0; i < 256; ++i) EXPECT_EQ(p->Step(0), 0);
  EXPECT_EQ(p->mode, 0u);
  // Period-2 words: the word two back predicts exactly (rule 1).
  p->Reset(0);
  uint16_t words[600];
  for (int i = 0; i < 600; ++i) words[i] = i % 2 ? 0x1234 : 0xBEEF;
  uint16_t stored[600];
  for (int i = 0; i < 600; ++i) stored[i] = p->Forward(words[i]);
  // The first period still counts the two start-up words against rule 1 and
  // ties it with rule 0; the second period decides for it.
  EXPECT_EQ(p->mode, 1u);
  EXPECT_NE(stored[300], 0);
  EXPECT_EQ(stored[520], 0) << "rule 1 leaves nothing to store";
  p->Reset(0);
  for (int i = 0; i < 600; ++i) ASSERT_EQ(p->Step(stored[i]), words[i]) << i;
}

TEST(DeltaFilter, ThreeChannelsOnATenByteChunk) {
  auto f = std::make_unique<DeltaFilter>();
  f->Clear();
  f->Setup(0, 3, 0);
  for (auto& p : f->predictors.bytes) p.mode = 1;  // b = h1 - x, visible at once
  uint8_t chunk[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  f->FilterChunk(chunk, 10);
  // Channel c sees bytes c, c + 3, c + 6; the tenth byte is no frame.
  const uint8_t expect[10] = {uint8_t(0 - 1), uint8_t(0 - 2), uint8_t(0 - 3),
                              uint8_t(0 - 1 - 4), uint8_t(0 - 2 - 5), uint8_t(0 - 3 - 6),
                              uint8_t(-5 - 7), uint8_t(-7 - 8), uint8_t(-9 - 9), 10};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(chunk[i], expect[i]) << i;
  // The next chunk starts again with channel 0.
  uint8_t next[4] = {1, 1, 1, 1};
  f->FilterChunk(next, 4);
  EXPECT_EQ(next[0], uint8_t(expect[6] - 1));
  EXPECT_EQ(next[1], uint8_t(expect[7] - 1));
  EXPECT_EQ(next[2], uint8_t(expect[8] - 1));
  EXPECT_EQ(next[3], 1);
}

TEST(DeltaFilter, HeaderPhaseEndsInsideAChunk) {
  auto f = std::make_unique<DeltaFilter>();
  f->Clear();
  f->Setup(0, 1, 100);
  f->predictors.bytes[0].mode = 1;
  std::vector<uint8_t> a(64, 5), b(64, 5);
  f->FilterChunk(a.data(), 64);
  EXPECT_EQ(a, std::vector<uint8_t>(64, 5));
  f->FilterChunk(b.data(), 64);
  for (int i = 0; i < 36; ++i) ASSERT_EQ(b[i], 5) << i;
  uint8_t h = 0;
  for (int i = 36; i < 64; ++i) {
    h = uint8_t(h - 5);
    ASSERT_EQ(b[i], h) << i;
  }
  // A header that ends exactly at a chunk end filters the whole next chunk.
  f->Setup(0, 1, 64);
  f->predictors.bytes[0].mode = 1;
  std::vector<uint8_t> c(64, 5), d(4, 5);
  f->FilterChunk(c.data(), 64);
  EXPECT_EQ(c, std::vector<uint8_t>(64, 5));
  f->FilterChunk(d.data(), 4);
  EXPECT_EQ(d[0], uint8_t(0 - 5));
  // Cleared or empty: nothing happens.
  f->Clear();
  f->FilterChunk(d.data(), 4);
  EXPECT_EQ(d[0], uint8_t(0 - 5));
}

TEST(X86Filter, ConvertsCallOperandsPerChunk) {
  // Below 256 bytes nothing changes but the position moves on.
  std::vector<uint8_t> small(255, 0xE8);
  uint32_t pos = 0;
  X86CallFilter(small.data(), 255, &pos, 100000);
  EXPECT_EQ(small, std::vector<uint8_t>(255, 0xE8));
  EXPECT_EQ(pos, 255u);

  std::vector<uint8_t> c(300, 0x90);
  auto put = [&](size_t at, int32_t v) {
    c[at] = 0xE8;
    std::memcpy(&c[at + 1], &v, 4);
  };
  auto get = [&](size_t at) {
    int32_t v;
    std::memcpy(&v, &c[at + 1], 4);
    return v;
  };
  put(10, 5000);        // absolute inside the file: relative to p = 255 + 10
  put(20, -100);        // 0 < 100 < p: wrapped by the file size
  put(30, 0x7fffffff);  // left alone
  put(40, 200000);      // beyond the file: left alone
  put(50, 0x7E8);       // E8 E8 07 00 00: the second E8 is operand, not opcode
  c[55] = 0xE8;         // and the byte after the operand is examined again
  put(55, -1);          // -1: 0 < 1 < p, wrapped
  put(293, 1000);       // within the last seven bytes: never examined
  X86CallFilter(c.data(), 300, &pos, 100000);
  EXPECT_EQ(get(10), 5000 - 265);
  EXPECT_EQ(get(20), -100 + 100000);
  EXPECT_EQ(get(30), 0x7fffffff);
  EXPECT_EQ(get(40), 200000);
  EXPECT_EQ(get(50), 0x7E8 - 305);
  EXPECT_EQ(get(55), -1 + 100000);
  EXPECT_EQ(get(293), 1000);
  EXPECT_EQ(pos, 555u);
}

// The plain byte loop the filter must keep matching, whatever shortcuts it
// takes past stretches without calls.
void PlainX86Filter(uint8_t* data, uint32_t n, uint32_t* pos, uint32_t size) {
  if (n >= 256) {
    const int32_t fileSize = static_cast<int32_t>(size);
    for (uint32_t i = 0; i < n - 7;) {
      if (data[i] != 0xE8) {
        ++i;
        continue;
      }
      int32_t v;
      std::memcpy(&v, data + i + 1, 4);
      int32_t p = static_cast<int32_t>(*pos + i);
      if (v != INT32_MIN && v != INT32_MAX) {
        int32_t out = v;
        if (v > 0 && v < fileSize) {
          out = static_cast<int32_t>(static_cast<uint32_t>(v) - uint32_t(p));
        } else if (v < 0 && -v < p) {
          out = static_cast<int32_t>(static_cast<uint32_t>(v) + uint32_t(fileSize));
        }
        std::memcpy(data + i + 1, &out, 4);
      }
      i += 5;
    }
  }
  *pos += n;
}

TEST(X86Filter, MatchesThePlainByteLoop) {
  std::mt19937 rng(8);
  for (int round = 0; round < 300; ++round) {
    // From no calls at all to runs of E8 bytes, and E8 next to the tail.
    uint32_t density = round % 5 == 0 ? 0 : 1u << (round % 7);
    std::vector<uint8_t> data(256 + rng() % 5000);
    for (auto& b : data) b = density && rng() % density == 0 ? 0xE8 : uint8_t(rng());
    if (round % 3 == 0) std::fill(data.end() - 9, data.end(), 0xE8);
    uint32_t size = round % 2 ? 100000 : uint32_t(rng());
    std::vector<uint8_t> plain = data;
    uint32_t at = rng() % 100000, fast = at, slow = at;
    X86CallFilter(data.data(), uint32_t(data.size()), &fast, size);
    PlainX86Filter(plain.data(), uint32_t(plain.size()), &slow, size);
    ASSERT_EQ(data, plain) << round;
    ASSERT_EQ(fast, slow);
  }
}

TEST(X86Filter, ForwardTransformInvertsExactly) {
  std::vector<uint8_t> data(5000);
  uint32_t s = 5;
  for (auto& b : data) {
    s = s * 1103515245u + 12345u;
    b = (s >> 29) == 0 ? 0xE8 : uint8_t(s >> 20);
  }
  for (uint32_t size : {5000u, 70000u, 0x90000000u}) {
    std::vector<uint8_t> t = data;
    uint32_t fwd = 0, back = 0;
    bool ok = true;
    for (uint32_t at = 0; at < 5000; at += 1000) ok = X86Forward(t.data() + at, 1000, &fwd, size) && ok;
    if (!ok) continue;  // some operand had no encoding: the writer drops the filter
    for (uint32_t at = 0; at < 5000; at += 1000) X86CallFilter(t.data() + at, 1000, &back, size);
    EXPECT_EQ(t, data) << size;
  }
}

// A model block of N = 10 with 4 models: bytes 0..7 range-coded with models
// 0,1,2,3,0,1,2,3, the last two as plain 8-bit fields behind the coder.
TEST(ModelBlock, TenBytesFourModels) {
  const uint8_t bytes[10] = {9, 200, 9, 1, 9, 200, 9, 1, 0x5A, 0xC3};
  FrequencyModel models[4];
  for (auto& m : models) m.Reset();
  std::vector<uint8_t> coded;
  RangeEncoder rc(&coded);
  for (int i = 0; i < 8; ++i) {
    FrequencyModel& m = models[i % 4];
    ASSERT_TRUE(rc.Encode(m.CumOf(bytes[i]), m.freq[bytes[i]], m.total));
    m.Update(bytes[i]);
  }
  rc.Finish();
  BitWriter w;
  w.Put(1, 1);   // model block
  w.Put(0, 1);   // byte channels
  w.Put(0, 3);   // mode 0: bytes pass as stored
  w.Put(0, 2);   // one channel
  w.Put(3, 2);   // four models
  w.Put(10, 15);
  for (uint8_t b : coded) w.PutByte(b);
  w.PutByte(0x5A);
  w.PutByte(0xC3);
  test::LzHarness h;
  test::LzResult r = h.Decode(w.Finish(), 10, 0, false, false);
  EXPECT_EQ(r.error, 0u);
  EXPECT_EQ(r.out, std::vector<uint8_t>(bytes, bytes + 10));
}

TEST(ModelBlock, CodeOutsideTheModelIsCorrupt) {
  BitWriter w;
  w.Put(1, 1);
  w.Put(0, 8);
  w.Put(100, 15);
  for (int i = 0; i < 4; ++i) w.PutByte(0xFF);  // code - low lies beyond total * r
  for (int i = 0; i < 200; ++i) w.PutByte(0xFF);
  test::LzHarness h;
  EXPECT_EQ(h.Decode(w.Finish(), 100, 0, false, false).error, kErrData);
}

}  // namespace
}  // namespace tvk
