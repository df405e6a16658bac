// Encoder output decoded by the LZ decoder on real data bigger than the
// largest window, so that window wrap, flush boundaries and the filters'
// chunk rules are all crossed; solid groups; damaged streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "lz_test_support.h"
#include "platform/result_codes.h"
#include "writer/lz_encoder.h"

namespace tvk {
namespace {

using test::CrcOf;
using test::LzHarness;
using test::LzResult;
using test::ReadFileBytes;

constexpr size_t kCorpusBytes = 6u << 20;

// Stand-in when the machine has no such files (a foreign test host): a
// mixture with long and short repeats.
std::vector<uint8_t> Synthetic(size_t n, uint32_t seed) {
  std::vector<uint8_t> v;
  v.reserve(n);
  const char* words[] = {"alpha ", "beta ", "gamma ", "delta\n", "call ", "ret ", "mov eax, ",
                         "0x1234 ", "push ", "{\n", "}\n"};
  while (v.size() < n) {
    seed = seed * 1664525u + 1013904223u;
    if ((seed >> 28) == 0 && v.size() > 5000) {
      size_t d = 1 + (seed >> 8) % 4000, l = 20 + (seed >> 4) % 200;
      for (size_t k = 0; k < l && v.size() < n; ++k) v.push_back(v[v.size() - d]);
    } else if ((seed >> 28) == 1) {
      v.push_back(0xE8);
      for (int k = 0; k < 4; ++k) v.push_back(uint8_t(seed >> (8 * k)));
    } else {
      const char* w = words[(seed >> 16) % 11];
      v.insert(v.end(), w, w + strlen(w));
    }
  }
  v.resize(n);
  return v;
}

std::vector<uint8_t> Gather(const std::vector<std::string>& roots, size_t n, uint32_t seed,
                            bool skipCompressed) {
  std::vector<uint8_t> out;
  namespace fs = std::filesystem;
  for (const std::string& root : roots) {
    std::error_code ec;
    if (fs::is_regular_file(root, ec)) {
      auto b = ReadFileBytes(root, n - out.size());
      out.insert(out.end(), b.begin(), b.end());
    } else if (fs::is_directory(root, ec)) {
      // In name order: the order a folder lists its files in differs
      // between systems (and under Wine), and the same files must give the
      // same corpus, so that every build packs the same streams.
      std::vector<std::string> files;
      for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        std::string ext = it->path().extension().string();
        if (skipCompressed && (ext == ".gz" || ext == ".xz" || ext == ".bz2" || ext == ".png")) continue;
        files.push_back(it->path().generic_string());
      }
      std::sort(files.begin(), files.end());
      for (const std::string& file : files) {
        if (out.size() >= n) break;
        auto b = ReadFileBytes(file, n - out.size());
        out.insert(out.end(), b.begin(), b.end());
      }
    }
    if (out.size() >= n) break;
  }
  if (out.size() < n) {
    auto rest = Synthetic(n - out.size(), seed);
    out.insert(out.end(), rest.begin(), rest.end());
  }
  return out;
}

const std::vector<uint8_t>& TextCorpus() {
  static const auto v = Gather({"/usr/share/doc", "/usr/share/common-licenses"}, kCorpusBytes, 1, true);
  return v;
}
const std::vector<uint8_t>& ProgramCorpus() {
  static const auto v = Gather({"/usr/bin/shellcheck", "/usr/bin/node", "/usr/bin/cmake"},
                               kCorpusBytes, 2, false);
  return v;
}
const std::vector<uint8_t>& DllCorpus() {
  static const auto v = Gather({"/usr/lib/gcc/i686-w64-mingw32", "/usr/i686-w64-mingw32/lib"},
                               kCorpusBytes, 3, false);
  return v;
}

void ExpectDecodes(const std::vector<uint8_t>& data, const LzOptions& o, const char* what) {
  LzEncoder enc;
  auto packed = enc.Encode(data.data(), data.size(), o, false);
  LzHarness h;
  LzResult r = h.Decode(packed, data.size(), o.windowCode, enc.lastFilterWord() != 0, false);
  ASSERT_EQ(r.error, 0u) << what;
  ASSERT_EQ(r.out.size(), data.size()) << what;
  EXPECT_TRUE(r.out == data) << what;
  EXPECT_EQ(r.crc, CrcOf(data)) << what;
  // Output leaves in window-sized chunks.
  const uint32_t ws = 32768u << o.windowCode;
  for (size_t k = 0; k + 1 < r.chunks.size(); ++k) ASSERT_EQ(r.chunks[k], ws) << what;
  // Progress: the whole size, never in steps below 1% or 32768 bytes except the last.
  uint64_t sum = 0, step = std::max<uint64_t>(data.size() / 100, 32768);
  for (size_t k = 0; k < r.progress.size(); ++k) {
    if (k + 1 < r.progress.size()) {
      EXPECT_GE(r.progress[k], step) << what;
    }
    sum += r.progress[k];
  }
  EXPECT_EQ(sum, data.size()) << what;
  EXPECT_LT(packed.size(), data.size() + data.size() / 64 + 64) << what;
}

TEST(LzRoundTrip, TextAcrossWindowSizes) {
  const auto& text = TextCorpus();
  std::vector<uint8_t> part(text.begin(), text.begin() + (5u << 19));
  for (uint32_t code : {0u, 3u, 6u, 7u}) {
    LzOptions o;
    o.windowCode = code;
    o.level = code == 7 ? 3 : 1;
    ExpectDecodes(code == 7 ? text : part, o, ("text, window code " + std::to_string(code)).c_str());
  }
}

TEST(LzRoundTrip, ProgramsWithTheCallFilter) {
  LzOptions o;
  o.windowCode = 6;  // 2 MiB: three chunks, the last partial
  o.level = 2;
  o.x86 = true;
  LzEncoder enc;
  const auto& exe = ProgramCorpus();
  enc.Encode(exe.data(), exe.size(), o, false);
  ASSERT_TRUE(enc.lastX86Kept());
  ExpectDecodes(exe, o, "x86-64 program, x86 filter");
  o.windowCode = 7;
  ExpectDecodes(DllCorpus(), o, "i686 DLLs, x86 filter");
  // The filter exists to make calls compress: it must help on i686 code.
  std::vector<uint8_t> slice(DllCorpus().begin(), DllCorpus().begin() + (1 << 20));
  o.level = 1;
  o.x86 = false;
  auto plain = EncodeLz(slice.data(), slice.size(), o);
  o.x86 = true;
  auto withFilter = EncodeLz(slice.data(), slice.size(), o);
  EXPECT_LT(withFilter.size(), plain.size());
}

TEST(LzRoundTrip, DeltaFilterKindsAndHeaders) {
  // 16-bit samples of a slow wave: what the word predictor is for.
  std::vector<uint8_t> wave;
  for (int i = 0; i < 300000; ++i) {
    int16_t s = int16_t(8000.0 * __builtin_sin(i / 50.0) + (i % 7));
    wave.push_back(uint8_t(s));
    wave.push_back(uint8_t(s >> 8));
  }
  LzOptions o;
  o.windowCode = 1;  // 64 KiB: many chunks, each restarting the channel phase
  o.level = 1;
  o.delta = true;
  o.deltaKind = 1;
  o.deltaHeader = 44;
  ExpectDecodes(wave, o, "word delta");
  o.deltaKind = 0;
  for (uint8_t ch : {1, 2, 3, 4}) {
    o.deltaChannels = ch;
    o.deltaHeader = 100000 + ch;  // ends inside a later chunk
    ExpectDecodes(wave, o, ("byte delta, channels " + std::to_string(ch)).c_str());
  }
  // Both filters on one entry, the header covering most of it.
  o.x86 = true;
  o.deltaChannels = 1;
  o.deltaHeader = 124928;
  std::vector<uint8_t> mixed(DllCorpus().begin(), DllCorpus().begin() + 400000);
  ExpectDecodes(mixed, o, "x86 and delta");
}

TEST(LzRoundTrip, HigherLevelsDecodeAndCompressBetter) {
  std::vector<uint8_t> slice(TextCorpus().begin(), TextCorpus().begin() + (1 << 20));
  size_t last = SIZE_MAX;
  for (uint32_t level : {1u, 4u}) {
    LzOptions o;
    o.windowCode = 5;
    o.level = level;
    ExpectDecodes(slice, o, ("level " + std::to_string(level)).c_str());
    size_t size = EncodeLz(slice.data(), slice.size(), o).size();
    EXPECT_LE(size, last);
    last = size;
  }
}

TEST(LzRoundTrip, IncompressibleDataStaysNearItsSize) {
  std::vector<uint8_t> noise(300000);
  uint32_t s = 99;
  for (auto& b : noise) {
    s = s * 1103515245u + 12345u;
    b = uint8_t(s >> 23);
  }
  LzOptions o;
  o.windowCode = 2;
  ExpectDecodes(noise, o, "noise");
}

// Entries of a solid group continue window, position and distance cache;
// sizes are chosen to end inside, exactly at and across the window end.
TEST(LzRoundTrip, SolidGroups) {
  const auto& text = TextCorpus();
  const size_t sizes[] = {1000, 31768, 32768, 70000, 0, 5, 200000, 65536};
  for (bool filters : {false, true}) {
    LzEncoder enc;
    LzHarness h;
    size_t at = 0;
    bool first = true;
    size_t solidTotal = 0;
    for (size_t n : sizes) {
      std::vector<uint8_t> part(text.begin() + at, text.begin() + at + n);
      at += n / 2 + 1;  // overlapping slices: later entries find earlier text
      LzOptions o;
      o.windowCode = 0;
      o.x86 = filters;
      o.delta = filters && n % 2 == 0;
      auto packed = enc.Encode(part.data(), part.size(), o, !first);
      solidTotal += packed.size();
      LzResult r = h.Decode(packed, n, 0, enc.lastFilterWord() != 0, !first);
      ASSERT_EQ(r.error, 0u) << "entry of " << n;
      ASSERT_TRUE(r.out == part) << "entry of " << n << (filters ? " with filters" : "");
      first = false;
    }
    if (!filters) {
      size_t separate = 0;
      at = 0;
      for (size_t n : sizes) {
        LzOptions o;
        o.windowCode = 0;
        separate += EncodeLz(text.data() + at, n, o).size();
        at += n / 2 + 1;
      }
      EXPECT_LT(solidTotal, separate);
    }
  }
}

TEST(LzRoundTrip, SolidEntryWithASmallerWindow) {
  const auto& text = TextCorpus();
  LzEncoder enc;
  LzHarness h;
  LzOptions big;
  big.windowCode = 3;
  std::vector<uint8_t> a(text.begin(), text.begin() + 150000);
  auto pa = enc.Encode(a.data(), a.size(), big, false);
  ASSERT_TRUE(h.Decode(pa, a.size(), 3, false, false).out == a);
  LzOptions small;
  small.windowCode = 0;
  std::vector<uint8_t> b(text.begin() + 150000, text.begin() + 260000);
  auto pb = enc.Encode(b.data(), b.size(), small, true);
  LzResult r = h.Decode(pb, b.size(), 0, false, true);
  EXPECT_EQ(r.error, 0u);
  EXPECT_TRUE(r.out == b);
}

// Truncated and corrupted streams end with 28080 (or a wrong CRC), within a
// bit buffer of their end, and never write more than the entry's size.
// On generated data: where a cut stream is first found short depends on
// the bytes, and the files a machine has (or a Windows build sees through
// Wine) differ from one machine to the next.
TEST(LzRoundTrip, DamagedStreamsStopQuickly) {
  const std::vector<uint8_t> data = Synthetic(600000, 5);
  LzOptions o;
  o.windowCode = 4;
  auto packed = EncodeLz(data.data(), data.size(), o);
  LzHarness h;
  for (size_t cut : {size_t(0), size_t(3), size_t(100), packed.size() / 2, packed.size() - 40}) {
    std::vector<uint8_t> part(packed.begin(), packed.begin() + cut);
    LzResult r = h.Decode(part, data.size(), 4, false, false);
    EXPECT_EQ(r.error, kErrData) << "cut at " << cut;
    EXPECT_LT(r.out.size(), data.size());
    EXPECT_LE(r.consumed, cut + kBitBufferBytes) << "cut at " << cut;
  }
  // A size far beyond what the stream holds must not spin through 4 GiB:
  // reading stops within a bit buffer of the end, writing within a window
  // (512 KiB here) of what the stream holds.
  LzResult big = h.Decode(packed, uint64_t(1) << 32, 4, false, false);
  EXPECT_EQ(big.error, kErrData);
  EXPECT_LE(big.consumed, packed.size() + kBitBufferBytes);
  EXPECT_LE(big.Written(), data.size() + (32768u << 4));
  uint32_t seed = 7;
  for (int trial = 0; trial < 40; ++trial) {
    std::vector<uint8_t> bad = packed;
    for (int k = 0; k < 1 + trial % 5; ++k) {
      seed = seed * 1664525u + 1013904223u;
      bad[seed % bad.size()] ^= uint8_t(1 + (seed >> 24) % 255);
    }
    LzResult r = h.Decode(bad, data.size(), 4, trial % 2 == 1, false);
    EXPECT_LE(r.out.size(), data.size());
    EXPECT_LE(r.consumed, bad.size() + kBitBufferBytes) << "trial " << trial;
    if (r.error == 0) {
      EXPECT_EQ(r.crc == CrcOf(data), r.out == data);
    }
  }
}

TEST(LzRoundTrip, WindowFieldAboveSevenIsCorrupt) {
  LzHarness h;
  LzResult r = h.Decode({0, 0, 0, 0}, 10, 8, false, false);
  EXPECT_EQ(r.error, kErrData);
  EXPECT_TRUE(r.out.empty());
}

}  // namespace
}  // namespace tvk
