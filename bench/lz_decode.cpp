// LZ decoding speed (MB/s of output) beside zlib's inflate on the same data
// in the same run: text, an x86-64 program, i686 DLLs.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench/decode_peers.h"
#include "tests/codec/lz_test_support.h"
#include "writer/lz_encoder.h"

namespace {

using tvk::test::ReadFileBytes;

std::vector<uint8_t> Gather(const std::vector<std::string>& roots, size_t n) {
  namespace fs = std::filesystem;
  std::vector<uint8_t> out;
  for (const auto& root : roots) {
    std::error_code ec;
    if (fs::is_regular_file(root, ec)) {
      auto b = ReadFileBytes(root, n - out.size());
      out.insert(out.end(), b.begin(), b.end());
    } else if (fs::is_directory(root, ec)) {
      for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end && out.size() < n;
           it.increment(ec)) {
        if (!it->is_regular_file(ec) || it->path().extension() == ".gz") continue;
        auto b = ReadFileBytes(it->path().string(), n - out.size());
        out.insert(out.end(), b.begin(), b.end());
      }
    }
    if (out.size() >= n) break;
  }
  return out;
}

const std::vector<uint8_t>& Corpus(int which) {
  static const std::vector<uint8_t> text = Gather({"/usr/share/doc"}, 16u << 20);
  static const std::vector<uint8_t> exe = Gather({"/usr/bin/shellcheck", "/usr/bin/node"}, 16u << 20);
  static const std::vector<uint8_t> dll = Gather({"/usr/lib/gcc/i686-w64-mingw32"}, 16u << 20);
  return which == 0 ? text : which == 1 ? exe : dll;
}

void LzDecode(benchmark::State& state) {
  const auto& data = Corpus(int(state.range(0)));
  tvk::LzOptions o;
  o.windowCode = 7;
  o.level = 3;
  o.x86 = state.range(0) != 0;
  tvk::LzEncoder enc;
  auto packed = enc.Encode(data.data(), data.size(), o, false);
  tvk::bench::NullSink sink;
  tvk::test::TestInput input(packed);
  tvk::LzDecoder* decoder = tvk::CreateLzDecoder();
  const uint32_t expectCrc = tvk::Crc32(tvk::kCrcStart, data.data(), data.size());
  for (auto _ : state) {
    input.NextPacked(packed);
    input.BeginEntry(data.size());
    sink.bytes = 0;
    tvk::EntryIo io{&input.error, &input.state, &input.in, &sink};
    tvk::DecodeLzEntry(decoder, io, enc.lastFilterWord() != 0, false, 32768u << 7);
    if (input.error != 0 || sink.bytes != data.size() || input.state.crc != expectCrc) {
      state.SkipWithError("decode failed");
    }
  }
  tvk::DestroyLzDecoder(decoder);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
  state.counters["ratio"] = double(packed.size()) / double(data.size());
}

void ZlibInflate(benchmark::State& state) {
  tvk::bench::InflateLoop(state, Corpus(int(state.range(0))));
}
BENCHMARK(ZlibInflate)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

BENCHMARK(LzDecode)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
