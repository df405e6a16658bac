// What the decoder benchmarks share: a sink that only counts, and zlib's
// inflate of the same bytes as the peer measured in the same run.
#ifndef TVK_BENCH_DECODE_PEERS_H
#define TVK_BENCH_DECODE_PEERS_H

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "codec/decode.h"

#include <zlib.h>

namespace tvk::bench {

// The output goes nowhere, as when testing an archive: the figure is the
// decoder's own, CRC included.
struct NullSink : EntrySink {
  uint64_t bytes = 0;
  void Write(const uint8_t*, uint32_t n) override { bytes += n; }
  void Progress(uint64_t) override {}
};

inline void InflateLoop(benchmark::State& state, const std::vector<uint8_t>& data) {
  uLongf bound = compressBound(uLong(data.size()));
  std::vector<uint8_t> packed(bound);
  compress2(packed.data(), &bound, data.data(), uLong(data.size()), 6);
  packed.resize(bound);
  std::vector<uint8_t> out(data.size());
  for (auto _ : state) {
    uLongf n = uLongf(out.size());
    if (uncompress(out.data(), &n, packed.data(), uLong(packed.size())) != Z_OK) {
      state.SkipWithError("inflate failed");
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
  state.counters["ratio"] = double(packed.size()) / double(data.size());
}

}  // namespace tvk::bench

#endif
