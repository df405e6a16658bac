// The audio encoder's streams read back by the decoder: synthetic music-like
// and extreme signals, 8 and 16 bit, mono and stereo, larger than the output
// buffer, with every choice the encoder can be forced into; and the WAV
// layout that decides what is head, samples and tail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "bit_test_support.h"
#include "codec/decode.h"
#include "platform/result_codes.h"
#include "writer/audio_encoder.h"
#include "writer/wav.h"

namespace tvk {
namespace {

struct Decoded {
  uint32_t error = 0;
  uint32_t crc = 0;
  std::vector<uint8_t> out;
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
  return {t.error, t.state.crc, sink.out};
}

constexpr double kPi = 3.14159265358979323846;

struct Rng {
  uint32_t s;
  uint32_t Next() {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
  }
  double Unit() { return (Next() & 0xFFFF) / 65536.0 - 0.5; }
};

// A few tones with slow vibrato, a decaying "note" every so often, and a
// little noise; the right channel is the left one delayed and mixed.
std::vector<double> Music(size_t frames, uint32_t seed, double noise) {
  Rng rng{seed};
  std::vector<double> v(frames);
  for (size_t i = 0; i < frames; ++i) {
    double t = double(i) / 44100.0;
    double env = std::exp(-double(i % 11025) / 4000.0);
    v[i] = 0.35 * std::sin(2 * kPi * 220 * t + 0.3 * std::sin(2 * kPi * 5 * t)) +
           0.2 * env * std::sin(2 * kPi * 660 * t) + 0.1 * std::sin(2 * kPi * 1375 * t) +
           noise * rng.Unit();
  }
  return v;
}

std::vector<uint8_t> Pcm16(const std::vector<double>& left, const std::vector<double>* right) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < left.size(); ++i) {
    for (int c = 0; c < (right ? 2 : 1); ++c) {
      double x = c ? 0.7 * (*right)[i] + 0.3 * left[i] : left[i];
      int32_t s = int32_t(std::lround(std::clamp(x, -1.0, 1.0) * 32767));
      out.push_back(uint8_t(s));
      out.push_back(uint8_t(s >> 8));
    }
  }
  return out;
}

std::vector<uint8_t> Pcm8(const std::vector<double>& left, const std::vector<double>* right) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < left.size(); ++i) {
    for (int c = 0; c < (right ? 2 : 1); ++c) {
      double x = c ? 0.7 * (*right)[i] + 0.3 * left[i] : left[i];
      out.push_back(uint8_t(std::lround(128 + std::clamp(x, -1.0, 1.0) * 127)));
    }
  }
  return out;
}

void Le16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
void Le32(std::vector<uint8_t>& v, uint32_t x) {
  Le16(v, x & 0xFFFF);
  Le16(v, x >> 16);
}
void Chunk(std::vector<uint8_t>& v, const char* id, const std::vector<uint8_t>& body) {
  v.insert(v.end(), id, id + 4);
  Le32(v, uint32_t(body.size()));
  v.insert(v.end(), body.begin(), body.end());
  if (body.size() & 1) v.push_back(0);
}
std::vector<uint8_t> FormatChunk(uint16_t tag, uint16_t channels, uint16_t bits) {
  std::vector<uint8_t> f;
  Le16(f, tag);
  Le16(f, channels);
  Le32(f, 44100);
  Le32(f, 44100u * channels * bits / 8);
  Le16(f, uint16_t(channels * bits / 8));
  Le16(f, bits);
  return f;
}
// RIFF/WAVE with a "LIST" chunk before the samples and a "note" chunk after.
std::vector<uint8_t> Wav(uint16_t channels, uint16_t bits, const std::vector<uint8_t>& samples,
                         bool extraChunks = true) {
  std::vector<uint8_t> body{'W', 'A', 'V', 'E'};
  Chunk(body, "fmt ", FormatChunk(1, channels, bits));
  if (extraChunks) Chunk(body, "LIST", std::vector<uint8_t>(27, 'x'));
  Chunk(body, "data", samples);
  if (extraChunks) Chunk(body, "note", {'t', 'a', 'i', 'l'});
  std::vector<uint8_t> file{'R', 'I', 'F', 'F'};
  Le32(file, uint32_t(body.size()));
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

// Encodes, decodes, and checks the output and the entry CRC.
size_t RoundTrip(const std::vector<uint8_t>& file, const AudioEncodeOptions& opt = {}) {
  std::vector<uint8_t> stream;
  uint32_t crc = 0;
  EXPECT_TRUE(EncodeAudio(file.data(), file.size(), &stream, &crc, opt));
  Decoded r = DecodeStream(stream);
  EXPECT_EQ(r.error, 0u);
  EXPECT_TRUE(r.out == file) << "output differs (" << r.out.size() << " of " << file.size()
                             << " bytes)";
  EXPECT_EQ(r.crc, crc);
  return stream.size();
}

TEST(AudioRoundTrip, SixteenBitMusicCompresses) {
  const size_t frames = 60000;  // 240 KB of stereo, far beyond one buffer
  std::vector<double> l = Music(frames, 1, 0.002), r = Music(frames + 7, 2, 0.002);
  r.erase(r.begin(), r.begin() + 7);
  std::vector<uint8_t> stereo = Wav(2, 16, Pcm16(l, &r));
  size_t packed = RoundTrip(stereo);
  EXPECT_LT(packed, stereo.size() * 6 / 10);
  // Mono, with a frame count that leaves one sample after the full blocks.
  std::vector<uint8_t> mono = Wav(1, 16, Pcm16(Music(384 * 60 + 1, 3, 0.01), nullptr));
  EXPECT_LT(RoundTrip(mono), mono.size() * 7 / 10);
}

TEST(AudioRoundTrip, EightBitMusicCompresses) {
  std::vector<double> l = Music(50000, 4, 0.01), r = Music(50000, 5, 0.01);
  std::vector<uint8_t> mono = Wav(1, 8, Pcm8(l, nullptr));
  EXPECT_LT(RoundTrip(mono), mono.size() * 7 / 10);
  std::vector<uint8_t> stereo = Wav(2, 8, Pcm8(l, &r));
  EXPECT_LT(RoundTrip(stereo), stereo.size() * 7 / 10);
}

TEST(AudioRoundTrip, ExtremeSignals) {
  Rng rng{77};
  const size_t frames = 20000;
  // Full-scale noise, full-scale square waves with opposite channels and
  // silence: the largest residuals and the widest decorrelated values.
  std::vector<uint8_t> noise, square, silence(frames * 4, 0);
  for (size_t i = 0; i < frames; ++i) {
    Le16(noise, rng.Next() & 0xFFFF);
    Le16(noise, rng.Next() & 0xFFFF);
    uint16_t hi = 0x7FFF, lo = 0x8000;
    bool up = (i / 37) % 2;
    Le16(square, up ? hi : lo);
    Le16(square, up ? lo : hi);
  }
  for (const auto* pcm : {&noise, &square, &silence}) {
    RoundTrip(Wav(2, 16, *pcm));
    RoundTrip(Wav(1, 16, *pcm));
    RoundTrip(Wav(2, 8, *pcm));
    RoundTrip(Wav(1, 8, *pcm));
  }
}

TEST(AudioRoundTrip, EveryForcedSixteenBitChoice) {
  std::vector<double> l = Music(1200, 6, 0.05), r = Music(1200, 7, 0.05);
  std::vector<uint8_t> stereo = Wav(2, 16, Pcm16(l, &r)), mono = Wav(1, 16, Pcm16(l, nullptr));
  for (int type = 0; type <= 4; ++type) {
    for (int mode = 0; mode <= 3; ++mode) {
      for (int k : {-1, 0, 9, 15}) {
        SCOPED_TRACE(testing::Message() << "type " << type << " mode " << mode << " k " << k);
        AudioEncodeOptions opt;
        opt.predictorType = type;
        opt.stereoMode = mode;
        opt.riceK = k;
        RoundTrip(stereo, opt);
        if (mode == 0) RoundTrip(mono, opt);
      }
    }
  }
}

TEST(AudioRoundTrip, ExplicitBlockSizes) {
  std::vector<double> l = Music(2000, 8, 0.01), r = Music(2000, 9, 0.01);
  std::vector<uint8_t> stereo = Wav(2, 16, Pcm16(l, &r));
  for (uint32_t block : {1u, 2u, 100u, 383u}) {
    SCOPED_TRACE(block);
    AudioEncodeOptions opt;
    opt.wordBlock = block;
    RoundTrip(stereo, opt);
    // Mono streams must not end on a single sample; 2001 frames forces the
    // encoder to rebalance the last blocks.
    RoundTrip(Wav(1, 16, Pcm16(Music(2001, 10, 0.01), nullptr)), opt);
  }
}

TEST(AudioRoundTrip, EightBitBlocksPairedAndUnpaired) {
  std::vector<double> l = Music(30000, 11, 0.02), r = Music(30000, 12, 0.02);
  std::vector<uint8_t> stereo = Wav(2, 8, Pcm8(l, &r));
  struct Case {
    uint32_t block;
    int paired;
  };
  // Odd unpaired blocks hand the channels' bytes to alternating predictors;
  // the encoder has to mirror that exactly.
  for (Case c : {Case{1001, 0}, Case{16383, 0}, Case{2, 1}, Case{20000, 1}, Case{777, -1}}) {
    SCOPED_TRACE(testing::Message() << c.block << " " << c.paired);
    AudioEncodeOptions opt;
    opt.byteBlock = c.block;
    opt.paired = c.paired;
    // Tiny blocks send tables for every step: keep that signal short.
    RoundTrip(c.block < 100 ? Wav(2, 8, Pcm8(Music(1500, 14, 0.02), nullptr)) : stereo, opt);
  }
  AudioEncodeOptions opt;
  opt.byteBlock = 1;
  RoundTrip(Wav(1, 8, Pcm8(Music(1500, 13, 0.02), nullptr)), opt);
}

TEST(AudioRoundTrip, SmallAndOddFiles) {
  // No samples at all, one 16-bit mono sample (goes to the tail), one
  // stereo frame, and a 16-bit mono data chunk with an odd byte count.
  RoundTrip(Wav(2, 16, {}));
  RoundTrip(Wav(1, 16, {1, 2}));
  RoundTrip(Wav(1, 16, {1, 2, 3, 4}));
  RoundTrip(Wav(2, 16, {1, 2, 3, 4}));
  RoundTrip(Wav(1, 8, {200}));
  RoundTrip(Wav(2, 8, {1, 2, 3}, false));
  RoundTrip(Wav(1, 16, {1, 2, 3, 4, 5}, false));
}

TEST(AudioRoundTrip, LayoutsGivenByTheCaller) {
  // Headerless samples with a layout of the caller's; a layout that does
  // not cover the file exactly is refused rather than read out of bounds.
  std::vector<uint8_t> pcm = Pcm16(Music(5000, 15, 0.01), nullptr);
  WavLayout w;
  w.headLength = 3;
  w.sampleBytes = uint32_t(pcm.size()) - 8;
  w.tailLength = 5;
  w.channels = 1;
  w.bitsPerSample = 16;
  std::vector<uint8_t> stream = EncodeAudioStream(pcm.data(), pcm.size(), w);
  Decoded r = DecodeStream(stream);
  EXPECT_EQ(r.error, 0u);
  EXPECT_TRUE(r.out == pcm);
  EXPECT_EQ(r.crc, AudioEntryCrc(stream, pcm.data(), pcm.size()));
  w.tailLength = 6;
  EXPECT_TRUE(EncodeAudioStream(pcm.data(), pcm.size(), w).empty());
}

// Damaged streams (flipped bits, cut ends) must end, whatever they decode
// to, without producing more than their bits can describe.
TEST(AudioRoundTrip, DamagedStreamsEndWithBoundedOutput) {
  std::vector<std::vector<uint8_t>> streams;
  std::vector<double> l = Music(3000, 16, 0.02), r = Music(3000, 17, 0.02);
  for (int bits : {8, 16}) {
    for (bool st : {false, true}) {
      std::vector<uint8_t> pcm = bits == 8 ? Pcm8(l, st ? &r : nullptr) : Pcm16(l, st ? &r : nullptr);
      std::vector<uint8_t> file = Wav(st ? 2 : 1, uint16_t(bits), pcm), out;
      ASSERT_TRUE(EncodeAudio(file.data(), file.size(), &out));
      streams.push_back(out);
    }
  }
  Rng rng{99};
  int failures = 0;
  for (int round = 0; round < 400; ++round) {
    std::vector<uint8_t> s = streams[round % streams.size()];
    if (round % 3 == 0) {
      s.resize(rng.Next() % s.size());
    } else {
      for (int k = 0; k < 1 + round % 4; ++k) s[rng.Next() % s.size()] ^= uint8_t(1u << (rng.Next() % 8));
    }
    Decoded d = DecodeStream(s);
    ASSERT_LE(d.out.size(), 8 * (s.size() + 32) + 2 * 36864) << "round " << round;
    failures += d.error != 0;
  }
  EXPECT_GT(failures, 0);
}

TEST(AudioWav, LayoutOfHeadSamplesAndTail) {
  std::vector<uint8_t> samples(1000, 7);
  std::vector<uint8_t> file = Wav(2, 16, samples);
  WavLayout w;
  ASSERT_TRUE(ParseWav(file.data(), file.size(), &w));
  // RIFF header 12, fmt chunk 8 + 16, LIST chunk 8 + 27 + pad 1, data head 8.
  EXPECT_EQ(w.headLength, 12u + 24 + 36 + 8);
  EXPECT_EQ(w.sampleBytes, 1000u);
  EXPECT_EQ(w.tailLength, 12u);
  EXPECT_EQ(w.channels, 2);
  EXPECT_EQ(w.bitsPerSample, 16);
  // A partial frame at the end of the data is tail; a data chunk that claims
  // more than the file holds is cut to the file.
  file = Wav(2, 16, std::vector<uint8_t>(1002, 7), false);
  ASSERT_TRUE(ParseWav(file.data(), file.size(), &w));
  EXPECT_EQ(w.sampleBytes, 1000u);
  EXPECT_EQ(w.tailLength, 2u);
  file.resize(file.size() - 500);
  ASSERT_TRUE(ParseWav(file.data(), file.size(), &w));
  EXPECT_EQ(w.headLength + w.sampleBytes + w.tailLength, file.size());
  EXPECT_EQ(w.sampleBytes % 4, 0u);
}

TEST(AudioWav, RefusesWhatItCannotCode) {
  auto refused = [](std::vector<uint8_t> file) {
    WavLayout w;
    std::vector<uint8_t> out;
    return !ParseWav(file.data(), file.size(), &w) &&
           !EncodeAudio(file.data(), file.size(), &out);
  };
  std::vector<uint8_t> good = Wav(1, 16, {1, 2, 3, 4});
  auto with = [&](size_t at, uint8_t v) {
    std::vector<uint8_t> f = good;
    f[at] = v;
    return f;
  };
  EXPECT_TRUE(refused(with(0, 'X')));        // not RIFF
  EXPECT_TRUE(refused(with(8, 'X')));        // not WAVE
  EXPECT_TRUE(refused(with(20, 3)));         // floating-point samples
  EXPECT_TRUE(refused(with(22, 3)));         // three channels
  EXPECT_TRUE(refused(with(34, 24)));        // 24-bit samples
  EXPECT_TRUE(refused(with(32, 3)));         // block alignment that fits no frame
  EXPECT_TRUE(refused({good.begin(), good.begin() + 30}));  // cut inside fmt
  EXPECT_TRUE(refused({}));
  // Samples before any format chunk.
  std::vector<uint8_t> body{'W', 'A', 'V', 'E'};
  Chunk(body, "data", {1, 2});
  Chunk(body, "fmt ", FormatChunk(1, 1, 16));
  std::vector<uint8_t> file{'R', 'I', 'F', 'F'};
  Le32(file, uint32_t(body.size()));
  file.insert(file.end(), body.begin(), body.end());
  EXPECT_TRUE(refused(file));
  // A chunk whose size runs past the end of the file, before any data.
  std::vector<uint8_t> cut = good;
  cut[16] = 0xFF;
  cut[17] = 0xFF;
  EXPECT_TRUE(refused(cut));
}

}  // namespace
}  // namespace tvk
