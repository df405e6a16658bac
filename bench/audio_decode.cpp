// Sound decoding speed (MB/s of output) beside zlib's inflate of the same
// samples and a plain copy of them, in the same run: 16-bit stereo music
// with a little noise (what the corpus's synthesised piece is like), and
// 8-bit stereo for the byte predictors.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "bench/decode_peers.h"
#include "codec/decode.h"
#include "crypto/crc32.h"
#include "tests/codec/bit_test_support.h"
#include "writer/audio_encoder.h"

namespace {

// Twenty seconds: several output buffers' worth, small enough to encode in a
// moment before the timing starts.
constexpr size_t kFrames = 44100 * 20;

std::vector<uint8_t> Wav(int bits) {
  uint32_t seed = 12345;
  auto noise = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return double((seed >> 8) & 0xFFFF) / 65536.0 - 0.5;
  };
  const size_t bytesPerSample = size_t(bits / 8);
  const uint32_t dataBytes = uint32_t(kFrames * 2 * bytesPerSample);
  std::vector<uint8_t> f(44 + dataBytes);
  auto put32 = [&f](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = uint8_t(v >> (8 * i));
  };
  memcpy(f.data(), "RIFF", 4);
  put32(4, 36 + dataBytes);
  memcpy(f.data() + 8, "WAVEfmt ", 8);
  put32(16, 16);
  put32(20, 1 | 2u << 16);  // PCM, two channels
  put32(24, 44100);
  put32(28, uint32_t(44100 * 2 * bytesPerSample));
  put32(32, uint32_t(2 * bytesPerSample) | uint32_t(bits) << 16);
  memcpy(f.data() + 36, "data", 4);
  put32(40, dataBytes);
  const double pi = 3.14159265358979323846;
  uint8_t* p = f.data() + 44;
  double delayed[64] = {};
  for (size_t i = 0; i < kFrames; ++i) {
    double t = double(i) / 44100.0;
    double env = std::exp(-double(i % 11025) / 4000.0);
    double x = 0.35 * std::sin(2 * pi * 220 * t + 0.3 * std::sin(2 * pi * 5 * t)) +
               0.2 * env * std::sin(2 * pi * 660 * t) + 0.1 * std::sin(2 * pi * 1375 * t) +
               0.01 * noise();
    double y = 0.7 * delayed[i % 64] + 0.3 * x;
    delayed[i % 64] = x;
    for (double v : {x, y}) {
      v = std::clamp(v, -1.0, 1.0);
      if (bits == 16) {
        int32_t s = int32_t(std::lround(v * 32767));
        *p++ = uint8_t(s);
        *p++ = uint8_t(s >> 8);
      } else {
        *p++ = uint8_t(std::lround(v * 127) + 128);
      }
    }
  }
  return f;
}

const std::vector<uint8_t>& Sound(int bits) {
  static const std::vector<uint8_t> wide = Wav(16);
  static const std::vector<uint8_t> narrow = Wav(8);
  return bits == 16 ? wide : narrow;
}

void AudioDecode(benchmark::State& state) {
  const auto& wav = Sound(int(state.range(0)));
  std::vector<uint8_t> packed;
  if (!tvk::EncodeAudio(wav.data(), wav.size(), &packed)) {
    state.SkipWithError("not a WAV file");
    return;
  }
  tvk::bench::NullSink sink;
  tvk::test::TestInput input(packed);
  tvk::AudioDecoder* decoder = tvk::CreateAudioDecoder();
  for (auto _ : state) {
    input.NextPacked(packed);
    input.BeginEntry(wav.size());
    sink.bytes = 0;
    tvk::EntryIo io{&input.error, &input.state, &input.in, &sink};
    tvk::DecodeAudioEntry(decoder, io);
    if (input.error != 0 || sink.bytes != wav.size()) state.SkipWithError("decode failed");
  }
  tvk::DestroyAudioDecoder(decoder);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(wav.size()));
  state.counters["ratio"] = double(packed.size()) / double(wav.size());
}

void ZlibInflate(benchmark::State& state) {
  tvk::bench::InflateLoop(state, Sound(int(state.range(0))));
}

// What producing the bytes costs at all: a copy in the decoder's output
// buffer size, with the CRC the decoder also computes.
void CopyWithCrc(benchmark::State& state) {
  const auto& wav = Sound(int(state.range(0)));
  std::vector<uint8_t> out(36864);
  for (auto _ : state) {
    uint32_t crc = tvk::kCrcStart;
    for (size_t at = 0; at < wav.size(); at += out.size()) {
      size_t n = std::min(out.size(), wav.size() - at);
      memcpy(out.data(), wav.data() + at, n);
      crc = tvk::Crc32(crc, out.data(), uint32_t(n));
    }
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(wav.size()));
}

BENCHMARK(CopyWithCrc)->Arg(16)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(ZlibInflate)->Arg(16)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(AudioDecode)->Arg(16)->Arg(8)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
