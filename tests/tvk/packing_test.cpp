// What tvk packs with the call filter: linked x86 programs of both kinds
// get it; object files (calls still unlinked), other processors and 16-bit
// programs do not.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "archive/format.h"
#include "tests/codec/lz_test_support.h"
#include "tools/tvk/packing.h"
#include "writer/archive_writer.h"
#include "writer/lz_encoder.h"

namespace tvk::cli {
namespace {

// A program head followed by code full of near calls.
std::vector<uint8_t> Program(const std::vector<uint8_t>& head) {
  std::vector<uint8_t> v = head;
  v.resize(4096, 0);
  for (size_t i = 512; i + 5 <= v.size(); i += 16) {
    v[i] = 0xE8;
    const int32_t rel = int32_t(1000 - int32_t(i));
    std::memcpy(&v[i + 1], &rel, 4);
  }
  return v;
}

std::vector<uint8_t> Elf(uint16_t type, uint16_t machine) {
  std::vector<uint8_t> h = {0x7F, 'E', 'L', 'F', 2, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  h.push_back(uint8_t(type));
  h.push_back(uint8_t(type >> 8));
  h.push_back(uint8_t(machine));
  h.push_back(uint8_t(machine >> 8));
  return Program(h);
}

std::vector<uint8_t> Mz(bool pe, uint16_t machine) {
  std::vector<uint8_t> h(0x100, 0);
  h[0] = 'M';
  h[1] = 'Z';
  if (pe) {
    h[0x3C] = 0x80;
    std::memcpy(&h[0x80], "PE\0\0", 4);
    h[0x84] = uint8_t(machine);
    h[0x85] = uint8_t(machine >> 8);
  }
  return Program(h);
}

PackResult PackWith(int level, const std::vector<uint8_t>& data) {
  Packing packing(level, false);
  PackResult result;
  const PackRequest request{data.data(), data.size(), packing.MethodFor(data.size()),
                            packing.DictCodeFor(packing.MethodFor(data.size())), false, nullptr};
  EXPECT_TRUE(packing.Packer()(request, &result));
  return result;
}

uint8_t FilterByteFor(const std::vector<uint8_t>& data) {
  PackResult result = PackWith(4, data);
  EXPECT_NE(result.method, fmt::kMethodStored);
  return result.filterByte;
}

// Two channels of 16-bit samples of slowly changing tones with a little
// noise: no repeats for LZ, small steps for a delta.
std::vector<uint8_t> RawSound(size_t frames, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v;
  for (size_t i = 0; i < frames; ++i) {
    for (int ch = 0; ch < 2; ++ch) {
      double t = double(i) / (ch ? 57.3 : 91.1);
      int16_t x = int16_t(9000 * std::sin(t) + 3000 * std::sin(t * 0.37) + int(rng() % 7) - 3);
      v.push_back(uint8_t(x));
      v.push_back(uint8_t(uint16_t(x) >> 8));
    }
  }
  return v;
}

std::vector<uint8_t> Wave(const std::vector<uint8_t>& samples) {
  std::vector<uint8_t> v = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                            16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0,
                            4, 0, 16, 0, 'd', 'a', 't', 'a'};
  uint32_t n = uint32_t(samples.size());
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(n >> (8 * i)));
  uint32_t riff = uint32_t(v.size() - 8 + samples.size());
  for (int i = 0; i < 4; ++i) v[4 + i] = uint8_t(riff >> (8 * i));
  v.insert(v.end(), samples.begin(), samples.end());
  return v;
}

// The stream of an LZ result decoded as the self-extractor would.
std::vector<uint8_t> Unpack(const PackResult& r, size_t size, uint32_t dictCode) {
  test::LzHarness h;
  test::LzResult out = h.Decode(r.packed, size, dictCode, r.filterByte != 0, false);
  EXPECT_EQ(out.error, 0u);
  return out.out;
}

TEST(Packing, CallFilterOnlyForLinkedX86Code) {
  EXPECT_EQ(FilterByteFor(Elf(2, 62)), 1);   // x86-64 program
  EXPECT_EQ(FilterByteFor(Elf(3, 3)), 1);    // i386 shared library
  EXPECT_EQ(FilterByteFor(Elf(1, 62)), 0);   // object file
  EXPECT_EQ(FilterByteFor(Elf(2, 183)), 0);  // another processor
  EXPECT_EQ(FilterByteFor(Mz(true, 0x14C)), 1);
  EXPECT_EQ(FilterByteFor(Mz(true, 0x8664)), 1);
  EXPECT_EQ(FilterByteFor(Mz(false, 0)), 0);  // 16-bit program
  EXPECT_EQ(FilterByteFor(Mz(true, 0x1C4)), 0);
}

// Raw samples in fixed strides get the delta filter that pays, and unpack to
// the same bytes; text and small files are left without one.
TEST(Packing, DeltaFilterChosenByTrialAndRoundTrips) {
  Packing probe(3, false);
  const uint32_t dict = probe.DictCodeFor(probe.MethodFor(1));
  std::vector<uint8_t> sound = RawSound(60000, 3);
  PackResult withDelta = PackWith(3, sound);
  ASSERT_EQ(withDelta.method, 3);
  EXPECT_EQ(withDelta.filterByte, 1);
  EXPECT_EQ(Unpack(withDelta, sound.size(), dict), sound);
  // Clearly smaller than the same data packed without a filter.
  tvk::LzOptions plain;
  plain.level = 3;
  plain.windowCode = dict;
  EXPECT_LT(withDelta.packed.size() * 100, tvk::EncodeLz(sound.data(), sound.size(), plain).size() * 90);

  std::string text;
  for (int i = 0; text.size() < 200000; ++i) text += "line " + std::to_string(i * 7919 % 100003) + " of a table\n";
  std::vector<uint8_t> t(text.begin(), text.end());
  PackResult r = PackWith(3, t);
  EXPECT_EQ(r.filterByte, 0);
  EXPECT_EQ(Unpack(r, t.size(), dict), t);
}

// PCM sound goes to the audio method unless plain LZ is smaller even at the
// fastest level, as for silence.
TEST(Packing, WaveUsesTheAudioMethodWhereItPays) {
  std::vector<uint8_t> tones = Wave(RawSound(30000, 5));
  EXPECT_EQ(PackWith(3, tones).method, fmt::kMethodAudio);
  std::vector<uint8_t> silence = Wave(std::vector<uint8_t>(120000, 0));
  PackResult r = PackWith(3, silence);
  EXPECT_EQ(r.method, 3);
  Packing probe(3, false);
  EXPECT_EQ(Unpack(r, silence.size(), probe.DictCodeFor(3)), silence);
}

// A run of entries through one packer as tvk a makes them, each decoded as
// the self-extractor would (continuing the last one where the entry says
// so).
struct PackedRun {
  Packing packing;
  tvk::Packer packer;
  test::LzHarness harness;
  std::vector<std::string> notices;
  std::vector<PackResult> results;
  std::vector<bool> solidFlags;

  PackedRun(int level, bool solid) : packing(level, solid) {
    packing.SetNotice([this](const std::string& m) { notices.push_back(m); });
  }

  // Packs and decodes each of data; false when an entry does not decode
  // back to its bytes.
  bool Run(const std::vector<std::vector<uint8_t>>& data) {
    packer = packing.Packer();
    bool all = true;
    for (size_t k = 0; k < data.size(); ++k) {
      const auto& d = data[k];
      const uint8_t method = packing.MethodFor(d.size());
      const std::string name = "dir\\file" + std::to_string(k) + ".txt";
      const PackRequest request{d.data(), d.size(), method, packing.DictCodeFor(method),
                                packing.SolidFor(method), &name};
      PackResult r;
      r.method = method;
      EXPECT_TRUE(packer(request, &r));
      const bool solid = r.solid.value_or(request.solid);
      solidFlags.push_back(solid);
      if (r.method == fmt::kMethodStored) {
        results.push_back(r);
        continue;
      }
      test::LzResult out = harness.Decode(r.packed, d.size(), request.dictCode, r.filterByte != 0, solid);
      all = all && out.error == 0 && out.out == d;
      results.push_back(std::move(r));
    }
    return all;
  }
};

std::vector<std::vector<uint8_t>> TextFiles(size_t count, size_t size) {
  std::vector<std::vector<uint8_t>> files;
  uint32_t seed = 99;
  for (size_t k = 0; k < count; ++k) {
    std::string t;
    while (t.size() < size) {
      seed = seed * 1664525u + 1013904223u;
      t += "    value_" + std::to_string((seed >> 20) % 300) + " = call(" + std::to_string(k) + ")\n";
    }
    files.emplace_back(t.begin(), t.begin() + ptrdiff_t(size));
  }
  return files;
}

// A stream broken inside the encoder is caught by reading it back: the file
// is packed again at the next lower level as the start of a new solid group,
// one line names it, and the entries after it continue the new group. With
// the check off the same damage reaches the archive, so the check is what
// caught it.
TEST(PackingVerify, ABrokenStreamIsPackedAgainAndArrivesIntact) {
  const auto files = TextFiles(5, 20000);
  auto breakThird = [](int* calls) {
    return [calls](Bytes& packed, int attempt) {
      if ((*calls)++ == 2 && attempt == 0) std::fill(packed.begin() + 40, packed.begin() + 60, 0xA5);
    };
  };
  int calls = 0;
  PackedRun run(4, true);
  run.packing.SetStreamHook(breakThird(&calls));
  EXPECT_TRUE(run.Run(files));
  ASSERT_EQ(run.notices.size(), 1u);
  EXPECT_EQ(run.notices[0], "dir/file2.txt: its packed stream did not read back; packed again at -m3");
  EXPECT_EQ(run.solidFlags, (std::vector<bool>{false, true, false, true, true}));
  EXPECT_NE(run.results[2].method, fmt::kMethodStored);

  int offCalls = 0;
  PackedRun unchecked(4, true);
  unchecked.packing.SetVerify(false);
  unchecked.packing.SetStreamHook(breakThird(&offCalls));
  EXPECT_FALSE(unchecked.Run(files));
  EXPECT_TRUE(unchecked.notices.empty());
}

// When no level gives a stream that reads back the file is stored, and the
// next file starts a new group: the decoder's state is that of a bad stream.
TEST(PackingVerify, StoredWhenNoStreamReadsBack) {
  const auto files = TextFiles(3, 30000);
  for (int level : {1, 4}) {
    PackedRun run(level, true);
    // Every attempt at the middle file is damaged.
    std::vector<int> attemptsOfMiddle;
    int entry = 0, lastAttempt = -1;
    run.packing.SetStreamHook([&](Bytes& packed, int attempt) {
      if (attempt <= lastAttempt) ++entry;
      lastAttempt = attempt;
      if (entry == 1) {
        attemptsOfMiddle.push_back(attempt);
        std::fill(packed.begin() + 20, packed.begin() + 50, 0x5A);
      }
    });
    EXPECT_TRUE(run.Run(files));
    EXPECT_EQ(run.results[1].method, fmt::kMethodStored) << level;
    EXPECT_EQ(run.solidFlags, (std::vector<bool>{false, false, false})) << level;
    ASSERT_EQ(run.notices.size(), 1u);
    EXPECT_EQ(run.notices[0], "dir/file1.txt: no packed stream read back; stored");
    const std::vector<int> expected = level == 1 ? std::vector<int>{0} : std::vector<int>{0, 1, 2};
    EXPECT_EQ(attemptsOfMiddle, expected) << level;
  }
}

// A file too large for memory goes through PackStream: read in pieces no
// larger than a segment, written out as it is made (not at the end), and the
// same stream as the in-memory packer makes. Broken once, it is packed again
// through the same scratch file.
TEST(PackingStream, PiecesInBoundedMemoryGiveTheInMemoryStream) {
  const auto files = TextFiles(1, 10u << 20);
  const std::vector<uint8_t>& data = files[0];
  Packing memory(1, false);
  const std::string name = "big.txt";
  const uint8_t method = memory.MethodFor(data.size());
  const PackRequest request{data.data(), data.size(), method, memory.DictCodeFor(method), false, &name};
  PackResult inMemory;
  ASSERT_TRUE(memory.Packer()(request, &inMemory));

  for (bool broken : {false, true}) {
    Packing streaming(1, false);
    std::vector<std::string> notices;
    streaming.SetNotice([&](const std::string& m) { notices.push_back(m); });
    if (broken) {
      streaming.SetStreamHook([](Bytes& piece, int attempt) {
        if (attempt == 0 && piece.size() > 100) piece[50] ^= 0x40;
      });
    }
    std::vector<uint8_t> scratch;
    size_t largestRead = 0, writes = 0, restarts = 0;
    Packing::StreamRequest sr;
    sr.name = name;
    sr.size = data.size();
    sr.crc = tvk::EntryCrc(data.data(), data.size());
    sr.method = method;
    sr.dictCode = streaming.DictCodeFor(method);
    sr.solid = false;
    sr.read = [&](uint64_t offset, uint8_t* dest, size_t n) {
      largestRead = std::max(largestRead, n);
      std::memcpy(dest, data.data() + offset, n);
      return true;
    };
    sr.restart = [&] {
      scratch.clear();
      ++restarts;
      return true;
    };
    sr.write = [&](const uint8_t* p, size_t n) {
      scratch.insert(scratch.end(), p, p + n);
      ++writes;
      return true;
    };
    sr.readPacked = [&](uint64_t offset, uint8_t* dest, size_t n) {
      std::memcpy(dest, scratch.data() + offset, n);
      return true;
    };
    Packing::StreamResult result;
    std::string error;
    ASSERT_TRUE(streaming.PackStream(sr, &result, &error)) << error;
    EXPECT_LE(largestRead, size_t(8) << 20);
    EXPECT_GE(writes, 2u);
    if (!broken) {
      EXPECT_EQ(result.packedSize, scratch.size());
      EXPECT_TRUE(scratch == inMemory.packed);
      EXPECT_TRUE(notices.empty());
      EXPECT_EQ(restarts, 1u);
    } else {
      // There is no lower level than -m1: the file is stored.
      EXPECT_EQ(result.method, fmt::kMethodStored);
      ASSERT_EQ(notices.size(), 1u);
      EXPECT_EQ(notices[0], "big.txt: no packed stream read back; stored");
    }
  }

  // A file that cannot be read to its end is an error, not a stream packed
  // again (nor stored) under a notice about streams.
  Packing failing(2, false);
  std::vector<std::string> notices;
  failing.SetNotice([&](const std::string& m) { notices.push_back(m); });
  Packing::StreamRequest sr;
  sr.name = name;
  sr.size = data.size();
  sr.method = method;
  sr.dictCode = failing.DictCodeFor(method);
  sr.solid = false;
  size_t reads = 0;
  sr.read = [&](uint64_t offset, uint8_t* dest, size_t n) {
    if (++reads > 2) return false;
    std::memcpy(dest, data.data() + offset, n);
    return true;
  };
  sr.restart = [] { return true; };
  sr.write = [](const uint8_t*, size_t) { return true; };
  sr.readPacked = [](uint64_t, uint8_t*, size_t) { return false; };
  Packing::StreamResult result;
  std::string error;
  EXPECT_FALSE(failing.PackStream(sr, &result, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(notices.empty());
  EXPECT_EQ(reads, 3u);
}

}  // namespace
}  // namespace tvk::cli
