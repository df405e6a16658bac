// The audio decoder against hand-built streams: the byte predictors and
// their rule switch, 8-bit block headers, Rice residuals, the five 16-bit
// predictors, stereo reconstruction, head/tail copying with the CRC, and
// hostile parameters.
#include <gtest/gtest.h>

#include <cstring>

#include "bit_test_support.h"
#include "codec/decode.h"
#include "platform/result_codes.h"
#include "writer/bit_writer.h"

namespace tvk {
namespace {

struct Decoded {
  uint32_t error = 0;
  uint32_t crc = 0;
  std::vector<uint8_t> out;
  std::vector<uint32_t> chunks;
  std::vector<uint64_t> progress;
  uint64_t packed = 0;    // bytes of the stream
  uint64_t consumed = 0;  // bytes the decoder read from it, zeros past its end included
};

Decoded DecodeStream(const std::vector<uint8_t>& bytes) {
  test::TestInput t(bytes);
  t.BeginEntry(0);
  test::MemorySink sink;
  sink.error = &t.error;
  AudioDecoder* d = CreateAudioDecoder();
  EXPECT_NE(d, nullptr);
  EntryIo io{&t.error, &t.state, &t.in, &sink};
  DecodeAudioEntry(d, io);
  DestroyAudioDecoder(d);
  Decoded r;
  r.error = t.error;
  r.crc = t.state.crc;
  r.out = sink.out;
  r.chunks = sink.chunks;
  r.progress = sink.progress;
  r.packed = bytes.size();
  r.consumed = t.in.Consumed();
  return r;
}

// A damaged stream ends near its end (a raw piece fills the 36 KiB output
// buffer before it is checked), rather than going on through the zeros
// behind it up to the count its parameters promise.
void ExpectStoppedNearTheEnd(const Decoded& r) {
  EXPECT_LE(r.consumed, r.packed + 64 * 1024);
}

std::vector<uint8_t> ParamRecord(uint32_t head, uint32_t tail, uint32_t sampleBytes,
                                 uint8_t channels, uint8_t bits) {
  std::vector<uint8_t> p(18, 0);
  for (int i = 0; i < 4; ++i) {
    p[i] = uint8_t(head >> (8 * i));
    p[4 + i] = uint8_t(tail >> (8 * i));
    p[8 + i] = uint8_t(sampleBytes >> (8 * i));
  }
  p[12] = channels;
  p[13] = bits;
  p[14] = 0xA5;  // unused by the decoder, but part of the CRC
  return p;
}

void PutParams(BitWriter& w, uint32_t head, uint32_t tail, uint32_t sampleBytes,
               uint8_t channels, uint8_t bits) {
  for (uint8_t b : ParamRecord(head, tail, sampleBytes, channels, bits)) w.PutByte(b);
}

// A pre-code in which symbols 0..15 all have 4-bit codes, so each table
// length is sent as its own 4-bit value.
void PutFlatPreCode(BitWriter& w) {
  for (int s = 0; s < 19; ++s) w.Put(s < 16 ? 4 : 0, 4);
}
void PutLengths(BitWriter& w, const std::vector<uint32_t>& lengths) {
  ASSERT_EQ(lengths.size(), 258u);
  for (uint32_t len : lengths) w.Put(len, 4);
}

// Table over all 256 byte values, 8 bits each: symbol s is sent as s.
std::vector<uint32_t> ByteTable() {
  std::vector<uint32_t> l(258, 8);
  l[256] = l[257] = 0;
  return l;
}
// Two symbols of one bit each: a is "0", b is "1" (a < b).
std::vector<uint32_t> TwoSymbolTable(uint32_t a, uint32_t b) {
  std::vector<uint32_t> l(258, 0);
  l[a] = l[b] = 1;
  return l;
}

void PutSigned(BitWriter& w, int32_t v, uint32_t k) {
  uint32_t a = v < 0 ? uint32_t(-int64_t(v)) : uint32_t(v);
  w.PutBit(v < 0);
  for (uint32_t q = a >> k; q; --q) w.PutBit(0);
  w.PutBit(1);
  if (k) w.Put(a & ((1u << k) - 1), k);
}

void PutWordBlockHeader(BitWriter& w, uint32_t n, uint32_t stereoMode) {
  bool isExplicit = n != 384;
  w.PutBit(isExplicit);
  w.Put(stereoMode, 2);
  if (isExplicit) w.Put(n, 11);
}

void PutChannel(BitWriter& w, uint32_t type, uint32_t k, const std::vector<int32_t>& f) {
  w.Put(type, 3);
  w.Put(k, 4);
  for (int32_t v : f) PutSigned(w, v, k);
}

std::vector<int32_t> Words(const std::vector<uint8_t>& bytes) {
  std::vector<int32_t> v;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) v.push_back(int16_t(bytes[i] | bytes[i + 1] << 8));
  return v;
}

// ---- 8-bit ---------------------------------------------------------------

TEST(AudioDecoder8, RuleZeroZerosThenSwitchToFirstDifference) {
  {
    // All-zero residuals under rule 0 decode to silence; the vote after
    // 1024 samples is a tie that keeps rule 0.
    BitWriter w;
    PutParams(w, 0, 0, 3000, 1, 8);
    w.Put(3000, 14);
    PutFlatPreCode(w);
    PutLengths(w, TwoSymbolTable(0, 1));
    for (int i = 0; i < 3000; ++i) w.PutBit(0);
    Decoded r = DecodeStream(w.Finish());
    ASSERT_EQ(r.error, 0u);
    EXPECT_EQ(r.out, std::vector<uint8_t>(3000, 0));
  }
  {
    // A ramp sent literally: after the 1024th sample the first-difference
    // rule has the fewest distinct stored values (ties to the lower rule), so
    // from sample 1025 on the stored byte 255 continues the ramp.
    BitWriter w;
    PutParams(w, 0, 0, 2000, 1, 8);
    w.Put(2000, 14);
    PutFlatPreCode(w);
    PutLengths(w, ByteTable());
    for (int i = 0; i < 2000; ++i) w.PutByte(i < 1024 ? uint8_t(i) : 255);
    Decoded r = DecodeStream(w.Finish());
    ASSERT_EQ(r.error, 0u);
    ASSERT_EQ(r.out.size(), 2000u);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(r.out[i], uint8_t(i)) << i;
    // The samples go out in one piece with a progress report.
    EXPECT_EQ(r.progress, std::vector<uint64_t>{2000});
  }
}

// Sequences that one rule predicts with a constant stored byte win the vote
// for that rule; after the switch, sending that constant must continue the
// sequence exactly. Covers each rule's formula, including rule 4's
// arithmetic shift and rule 5's coefficients.
TEST(AudioDecoder8, EachRuleContinuesTheSequenceItPredicts) {
  struct Case {
    int rule;
    int32_t c;  // the constant the rule stores
  };
  for (Case cs : {Case{2, 3}, Case{3, 250}, Case{4, 7}, Case{5, 1}}) {
    SCOPED_TRACE(cs.rule);
    // Generate the sequence by the rule's own recurrence (byte values).
    std::vector<uint8_t> seq;
    int32_t h1 = 0, h2 = 0, h3 = 0, h4 = 0;
    for (int i = 0; i < 1500; ++i) {
      int32_t p = 0;
      switch (cs.rule) {
        case 2: p = 2 * h1 - h2; break;
        case 3: p = 3 * h1 - 3 * h2 + h3; break;
        case 4: p = (4 * h1 - 3 * h2 + h3) >> 1; break;
        case 5: p = 4 * h1 + 6 * h2 - 4 * h3 + h4; break;
      }
      int32_t b = (p - cs.c) & 255;
      seq.push_back(uint8_t(b));
      h4 = h3, h3 = h2, h2 = h1, h1 = b;
    }
    BitWriter w;
    PutParams(w, 0, 0, 1500, 1, 8);
    w.Put(1500, 14);
    PutFlatPreCode(w);
    PutLengths(w, ByteTable());
    for (int i = 0; i < 1500; ++i) w.PutByte(i < 1024 ? seq[i] : uint8_t(cs.c));
    Decoded r = DecodeStream(w.Finish());
    ASSERT_EQ(r.error, 0u);
    EXPECT_EQ(r.out, seq);
  }
}

TEST(AudioDecoder8, StereoBlocksRestartWithChannelZero) {
  // Block 1 (unpaired, 1024 steps) gives channel 0 a ramp and channel 1 a
  // constant; each votes after its own 512th sample, so from then on channel
  // 0 takes stored 255 as "one up" and channel 1 stores its bytes as they
  // are. Which predictor a byte reaches is then visible in the output.
  BitWriter w;
  PutParams(w, 0, 0, 1024 + 3 + 2 + 4, 2, 8);
  auto header = [&](uint32_t steps, bool paired) {
    w.Put(steps, 14);
    w.PutBit(paired);
    PutFlatPreCode(w);
    PutLengths(w, ByteTable());
    if (paired) PutLengths(w, ByteTable());
  };
  std::vector<uint8_t> expect;
  header(1024, false);
  for (int i = 0; i < 512; ++i) {
    w.PutByte(uint8_t(i));
    w.PutByte(100);
    expect.push_back(uint8_t(i));
    expect.push_back(100);
  }
  // Block 2: three steps, channels 0, 1, 0.
  header(3, false);
  for (uint8_t b : {255, 100, 255}) w.PutByte(b);
  for (uint8_t b : {0, 100, 1}) expect.push_back(b);
  // Block 3 starts with channel 0 again although block 2 ended on it.
  header(2, false);
  for (uint8_t b : {255, 100}) w.PutByte(b);
  for (uint8_t b : {2, 100}) expect.push_back(b);
  // Block 4 is paired: table A always feeds channel 0, table B channel 1.
  header(2, true);
  for (uint8_t b : {255, 100, 255, 100}) w.PutByte(b);
  for (uint8_t b : {3, 100, 4, 100}) expect.push_back(b);
  Decoded r = DecodeStream(w.Finish());
  ASSERT_EQ(r.error, 0u);
  EXPECT_EQ(r.out, expect);
}

TEST(AudioDecoder8, PairedBlocksUseTheirOwnTables) {
  BitWriter w;
  PutParams(w, 0, 0, 4, 2, 8);
  w.Put(2, 14);
  w.PutBit(1);
  PutFlatPreCode(w);
  PutLengths(w, TwoSymbolTable(5, 6));    // table A
  PutLengths(w, TwoSymbolTable(70, 80));  // table B
  for (int bit : {0, 1, 1, 0}) w.PutBit(bit);
  Decoded r = DecodeStream(w.Finish());
  ASSERT_EQ(r.error, 0u);
  EXPECT_EQ(r.out, (std::vector<uint8_t>{5, 80, 6, 70}));
}

// ---- 16-bit --------------------------------------------------------------

TEST(AudioDecoder16, RiceResidualsAndPredictors) {
  // Mono, one explicit block per predictor type; the values are worked out
  // by hand. k = 0 with "1" "1" is minus zero.
  BitWriter w;
  const uint32_t blocks = 7;
  PutParams(w, 0, 0, 2 * 3 * blocks + 2 * 2, 1, 16);
  auto block = [&](uint32_t type, uint32_t k, std::vector<int32_t> f) {
    PutWordBlockHeader(w, uint32_t(f.size()), 3);  // the mode is ignored in mono
    PutChannel(w, type, k, f);
  };
  // Type 3 from silence: 1, 3*1 + 1 = 4, 3*4 - 3*1 + 1 = 10.
  block(3, 1, {1, 1, 1});
  // Two one-sample type-3 blocks written bit by bit with k = 0. The history
  // carries over: "0" "1" is +0, giving 3*10 - 3*4 + 1 = 19; then "1" "1" is
  // minus zero, giving 3*19 - 3*10 + 4 = 31.
  for (uint32_t sign : {0u, 1u}) {
    w.PutBit(1);    // explicit count
    w.Put(0, 2);    // stereo mode
    w.Put(1, 11);   // n = 1
    w.Put(3, 3);    // type
    w.Put(0, 4);    // k
    w.PutBit(sign);
    w.PutBit(1);    // q = 0
  }
  // Type 0 with k = 5: 31+32 = 63; 63 + 0 + (32 >> 4) = 65; r0 = 0 then: 65.
  block(0, 5, {32, 0, 0});
  // Type 1: 65+8 = 73; 73 + 8 + 4 (opposite-sign memory 0) = 85;
  // 85 + 8 + 4 + 2 (same sign) = 99.
  block(1, 3, {8, 8, 8});
  // Type 1 again: residual memories restart, so the feedback is 0: 99.
  // Then 99 + 0 + 0 = 99 twice.
  block(1, 0, {0, 0, 0});
  // Type 2: 2*99-99 + 8 = 107; 2*107-99 + 8 + 4 = 127; 2*127-107 - 8 + 6 = 145.
  block(2, 2, {8, 8, -8});
  // Type 4: ((4*145 - 3*127 + 107) >> 1) - 301 = 153 - 301 = -148;
  // ((4*-148 - 3*145 + 145) >> 1) = -450, + 0 + adj(-301, 0) = -150: -600;
  // ((4*-600 + 3*148 + 145) >> 1) = -906, the arithmetic shift of -1811.
  block(4, 4, {-301, 0, 0});
  // Types 5..7 ignore their residuals: the block is silent.
  block(6, 1, {9, -9, 4});
  Decoded r = DecodeStream(w.Finish());
  ASSERT_EQ(r.error, 0u);
  EXPECT_EQ(Words(r.out), (std::vector<int32_t>{1, 4, 10, 19, 31, 63, 65, 65, 73, 85, 99, 99,
                                                99, 99, 107, 127, 145, -148, -600, -906, 0, 0,
                                                0}));
}

TEST(AudioDecoder16, RiceValuesOnEitherSideOfOneWindow) {
  // A value whose sign, zero run, stop bit and k low bits just fill 32 bits,
  // one bit more, and zero runs of a word and longer, each met at many bit
  // offsets as the mix of lengths repeats. Type 3 passes each residual into
  // the samples, so a misread one shows.
  struct Run {
    uint32_t k;
    std::vector<int32_t> values;
  };
  const std::vector<Run> runs = {
      {15, {(15 << 15) | 0x7FFF, -((16 << 15) | 1), (14 << 15) | 0x4000, -(15 << 15), 3}},
      {0, {29, -30, 31, 32, -33, 63, 64, 70, 0, -1}},
      {4, {(27 << 4) | 15, -((28 << 4) | 9), 5}}};
  const int rounds = 40;
  uint32_t sampleBytes = 0;
  for (const Run& run : runs) sampleBytes += 2 * rounds * uint32_t(run.values.size());
  BitWriter w;
  PutParams(w, 0, 0, sampleBytes, 1, 16);
  std::vector<int32_t> expect;
  uint32_t h1 = 0, h2 = 0, h3 = 0;
  for (int round = 0; round < rounds; ++round) {
    for (const Run& run : runs) {
      PutWordBlockHeader(w, uint32_t(run.values.size()), 0);
      PutChannel(w, 3, run.k, run.values);
      for (int32_t f : run.values) {
        uint32_t b = 3 * h1 - 3 * h2 + h3 + uint32_t(f);
        h3 = h2, h2 = h1, h1 = b;
        expect.push_back(int16_t(b));
      }
    }
  }
  Decoded r = DecodeStream(w.Finish());
  ASSERT_EQ(r.error, 0u);
  EXPECT_EQ(Words(r.out), expect);
}

TEST(AudioDecoder16, StereoReconstruction) {
  // One block of two frames per mode; channel 1 is X, channel 2 is Y, both
  // sent with type 0 from a zero history.
  struct Case {
    uint32_t mode;
    int32_t left, right;
  };
  // X = 3, Y = 10: mode 1 gives right 10 - 1 = 9 and left 3 + 9 = 12;
  // mode 2 gives left 3 + (9 >> 1) = 7. X = -3 tests the arithmetic shift:
  // X >> 1 = -2, so right = 12 and left = 9 (mode 1) or 3 (mode 2).
  for (int32_t x : {3, -3}) {
    for (Case cs : x == 3 ? std::vector<Case>{{0, 3, 10}, {1, 12, 9}, {2, 7, 9}, {3, 3, 10}}
                          : std::vector<Case>{{1, 9, 12}, {2, 3, 12}}) {
      SCOPED_TRACE(testing::Message() << "mode " << cs.mode << " x " << x);
      BitWriter w;
      PutParams(w, 0, 0, 4, 2, 16);
      PutWordBlockHeader(w, 1, cs.mode);
      PutChannel(w, 0, 2, {x});
      PutChannel(w, 0, 2, {10});
      Decoded r = DecodeStream(w.Finish());
      ASSERT_EQ(r.error, 0u);
      EXPECT_EQ(Words(r.out), (std::vector<int32_t>{cs.left, cs.right}));
    }
  }
}

TEST(AudioDecoder16, SamplesKeepFullWidthHistoryButStoreLow16Bits) {
  // Type 4: 40000; 80000 - 40000 + 20000 = 60000; then
  // ((4*60000 - 3*40000) >> 1) + 0 + adj(-40000, 40000) = 60000 - 20000.
  // With a history cut to 16 bits the halving would give 7232 instead.
  BitWriter w;
  PutParams(w, 0, 0, 6, 1, 16);
  PutWordBlockHeader(w, 3, 0);
  PutChannel(w, 4, 15, {40000, -40000, 0});
  Decoded r = DecodeStream(w.Finish());
  ASSERT_EQ(r.error, 0u);
  EXPECT_EQ(Words(r.out), (std::vector<int32_t>{40000 - 65536, 60000 - 65536, 40000 - 65536}));
}

TEST(AudioDecoder, HeadSamplesTailAndTheCrc) {
  std::vector<uint8_t> head(44), tail{0xDE, 0xAD, 0xBE};
  for (size_t i = 0; i < head.size(); ++i) head[i] = uint8_t(i * 7 + 1);
  BitWriter w;
  std::vector<uint8_t> params = ParamRecord(44, 3, 8, 2, 16);
  for (uint8_t b : params) w.PutByte(b);
  for (uint8_t b : head) w.PutByte(b);
  PutWordBlockHeader(w, 2, 0);
  PutChannel(w, 1, 3, {100, 0});   // 100, 100 + 0 + adj(100) = 150
  PutChannel(w, 3, 3, {-1, 0});    // -1, -3
  for (uint8_t b : tail) w.PutByte(b);
  Decoded r = DecodeStream(w.Finish());
  ASSERT_EQ(r.error, 0u);
  std::vector<uint8_t> expect = head;
  for (int32_t v : {100, -1, 150, -3}) {
    expect.push_back(uint8_t(v));
    expect.push_back(uint8_t(v >> 8));
  }
  expect.insert(expect.end(), tail.begin(), tail.end());
  EXPECT_EQ(r.out, expect);
  // The register covers the parameter record, then everything written.
  uint32_t crc = Crc32(kCrcStart, params.data(), params.size());
  EXPECT_EQ(r.crc, Crc32(crc, expect.data(), expect.size()));
  // Head, samples and tail are separate writes; only the samples report
  // progress.
  EXPECT_EQ(r.chunks, (std::vector<uint32_t>{44, 8, 3}));
  EXPECT_EQ(r.progress, std::vector<uint64_t>{8});
}

TEST(AudioDecoder, LargeRawHeadGoesOutInBufferSizedPieces) {
  const uint32_t n = 36864 * 2 + 100;
  BitWriter w;
  PutParams(w, n, 0, 0, 1, 8);
  std::vector<uint8_t> head(n);
  for (uint32_t i = 0; i < n; ++i) head[i] = uint8_t(i * 31 >> 3);
  for (uint8_t b : head) w.PutByte(b);
  Decoded r = DecodeStream(w.Finish());
  ASSERT_EQ(r.error, 0u);
  EXPECT_EQ(r.out, head);
  EXPECT_EQ(r.chunks, (std::vector<uint32_t>{36864, 36864, 100}));
  EXPECT_TRUE(r.progress.empty());
}

// ---- Hostile input ---------------------------------------------------------

TEST(AudioDecoder, HostileParametersAreInvalidData) {
  {
    // Block count above the 384-value arrays.
    BitWriter w;
    PutParams(w, 0, 0, 4 * 385, 2, 16);
    PutWordBlockHeader(w, 385, 0);
    PutChannel(w, 0, 0, std::vector<int32_t>(385, 0));
    PutChannel(w, 0, 0, std::vector<int32_t>(385, 0));
    EXPECT_EQ(DecodeStream(w.Finish()).error, kErrData);
  }
  {
    // A full 384-sample mono block where only 6 sample bytes are left: the
    // count would wrap round to about 4 GiB.
    BitWriter w;
    PutParams(w, 0, 0, 6, 1, 16);
    PutWordBlockHeader(w, 384, 0);
    PutChannel(w, 0, 0, std::vector<int32_t>(384, 0));
    Decoded r = DecodeStream(w.Finish());
    EXPECT_EQ(r.error, kErrData);
    EXPECT_LE(r.out.size(), 6u);
    ExpectStoppedNearTheEnd(r);
  }
  {
    // A paired 8-bit step with one sample byte left.
    BitWriter w;
    PutParams(w, 0, 0, 3, 2, 8);
    w.Put(2, 14);
    w.PutBit(1);
    PutFlatPreCode(w);
    PutLengths(w, TwoSymbolTable(0, 1));
    PutLengths(w, TwoSymbolTable(0, 1));
    for (int i = 0; i < 4; ++i) w.PutBit(1);
    Decoded r = DecodeStream(w.Finish());
    EXPECT_EQ(r.error, kErrData);
  }
  {
    // An 8-bit table that is not a complete code.
    BitWriter w;
    PutParams(w, 0, 0, 10, 1, 8);
    w.Put(10, 14);
    PutFlatPreCode(w);
    std::vector<uint32_t> lengths(258, 0);
    lengths[3] = 1;
    PutLengths(w, lengths);
    EXPECT_EQ(DecodeStream(w.Finish()).error, kErrData);
  }
  {
    // Symbols 256 and 257 are no byte.
    BitWriter w;
    PutParams(w, 0, 0, 10, 1, 8);
    w.Put(10, 14);
    PutFlatPreCode(w);
    PutLengths(w, TwoSymbolTable(7, 256));
    for (int i = 0; i < 10; ++i) w.PutBit(1);
    EXPECT_EQ(DecodeStream(w.Finish()).error, kErrData);
  }
}

TEST(AudioDecoder, TruncatedStreamsEndQuicklyWithInvalidData) {
  {
    // 4 GiB of 16-bit samples promised, a few blocks sent: past the end the
    // input reads as zeros, an endless unary run.
    BitWriter w;
    PutParams(w, 0, 0, 0xFFFFFFFCu, 2, 16);
    for (int b = 0; b < 3; ++b) {
      PutWordBlockHeader(w, 384, 1);
      PutChannel(w, 2, 4, std::vector<int32_t>(384, 5));
      PutChannel(w, 2, 4, std::vector<int32_t>(384, -5));
    }
    Decoded r = DecodeStream(w.Finish());
    EXPECT_EQ(r.error, kErrData);
    // The blocks decoded before the end are still in the buffer: what was
    // read from beyond the packed data is never written.
    EXPECT_TRUE(r.out.empty());
    ExpectStoppedNearTheEnd(r);
  }
  {
    // The same for 8-bit samples: zeros decode as valid symbols, so the
    // guard has to come from the position in the stream.
    BitWriter w;
    PutParams(w, 0, 0, 0xFFFFFFFFu, 1, 8);
    w.Put(0, 14);  // a block length of 0 never ends
    PutFlatPreCode(w);
    PutLengths(w, TwoSymbolTable(0, 1));
    for (int i = 0; i < 1000; ++i) w.PutBit(i & 1);
    Decoded r = DecodeStream(w.Finish());
    EXPECT_EQ(r.error, kErrData);
    EXPECT_TRUE(r.out.empty());
    ExpectStoppedNearTheEnd(r);
  }
  {
    // A raw head far longer than the stream.
    BitWriter w;
    PutParams(w, 0xF0000000u, 0, 0, 1, 8);
    for (int i = 0; i < 100; ++i) w.PutByte(uint8_t(i));
    Decoded r = DecodeStream(w.Finish());
    EXPECT_EQ(r.error, kErrData);
    EXPECT_TRUE(r.out.empty());
    ExpectStoppedNearTheEnd(r);
  }
  {
    // A stream that ends inside the parameter record.
    Decoded r = DecodeStream({0x00, 0x10, 0x00, 0x00});
    EXPECT_EQ(r.error, kErrData);
    ExpectStoppedNearTheEnd(r);
  }
}

TEST(AudioDecoder, StopsAtAWriteError) {
  // 8-bit silence larger than the buffer; the disk fills after 1000 bytes.
  BitWriter w;
  PutParams(w, 0, 0, 100000, 1, 8);
  for (uint32_t left = 100000; left;) {
    uint32_t n = left < 16383 ? left : 16383;
    w.Put(n, 14);
    PutFlatPreCode(w);
    PutLengths(w, TwoSymbolTable(0, 1));
    for (uint32_t i = 0; i < n; ++i) w.PutBit(0);
    left -= n;
  }
  test::TestInput t(w.Finish());
  t.BeginEntry(100000);
  test::MemorySink sink;
  sink.error = &t.error;
  sink.failAfter = 1000;
  AudioDecoder* d = CreateAudioDecoder();
  EntryIo io{&t.error, &t.state, &t.in, &sink};
  DecodeAudioEntry(d, io);
  DestroyAudioDecoder(d);
  EXPECT_EQ(t.error, kErrWrite);
  EXPECT_EQ(sink.chunks.size(), 1u);
}

}  // namespace
}  // namespace tvk
