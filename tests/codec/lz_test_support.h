// Drives the LZ decoder over in-memory entries, one or a solid group.
#ifndef TVK_TESTS_CODEC_LZ_TEST_SUPPORT_H
#define TVK_TESTS_CODEC_LZ_TEST_SUPPORT_H

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "bit_test_support.h"
#include "codec/decode.h"
#include "crypto/crc32.h"
#include "writer/lz_encoder.h"

namespace tvk::test {

// A small fixed generator, so that random streams are the same on every run.
struct Rng {
  uint32_t s;
  uint32_t Next() {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
  }
  uint32_t Below(uint32_t n) { return Next() % n; }
};

struct LzResult {
  std::vector<uint8_t> out;
  uint32_t error = 0;
  uint32_t crc = 0;
  std::vector<uint32_t> chunks;
  std::vector<uint64_t> progress;
  uint64_t consumed = 0;  // packed bytes the decoder read, zeros past the end included
  uint64_t Written() const {
    uint64_t n = 0;
    for (uint32_t c : chunks) n += c;
    return n;
  }
};

class LzHarness {
 public:
  LzHarness() : input_(std::vector<uint8_t>{}) { decoder_ = CreateLzDecoder(); }
  ~LzHarness() { DestroyLzDecoder(decoder_); }
  LzHarness(const LzHarness&) = delete;
  LzHarness& operator=(const LzHarness&) = delete;

  // Decodes one entry; solid entries continue the previous call's window.
  LzResult Decode(const std::vector<uint8_t>& packed, uint64_t unpacked, uint32_t windowCode,
                  bool filterHeader, bool solid) {
    input_.NextPacked(packed);
    input_.BeginEntry(unpacked);
    input_.error = 0;
    MemorySink sink;
    sink.error = &input_.error;
    EntryIo io{&input_.error, &input_.state, &input_.in, &sink};
    DecodeLzEntry(decoder_, io, filterHeader, solid, 32768u << windowCode);
    LzResult r;
    r.out = std::move(sink.out);
    r.error = input_.error;
    r.crc = input_.state.crc;
    r.chunks = std::move(sink.chunks);
    r.progress = std::move(sink.progress);
    r.consumed = input_.in.Consumed();
    return r;
  }
  TestInput& input() { return input_; }

 private:
  TestInput input_;
  LzDecoder* decoder_;
};

inline uint32_t CrcOf(const std::vector<uint8_t>& v) { return Crc32(kCrcStart, v.data(), v.size()); }

inline std::vector<uint8_t> ReadFileBytes(const std::string& path, size_t limit = SIZE_MAX) {
  std::ifstream f(path, std::ios::binary);
  std::vector<uint8_t> v;
  if (!f) return v;
  char buf[65536];
  while (v.size() < limit) {
    f.read(buf, sizeof buf);
    if (f.gcount() <= 0) break;
    v.insert(v.end(), buf, buf + f.gcount());
  }
  if (v.size() > limit) v.resize(limit);
  return v;
}

// Encodes the blocks as one entry (solid: continuing the encoder's last one),
// with the bytes they stand for in *window, and decodes that entry back.
inline LzResult EncodeAndDecode(LzHarness& h, LzEncoder& enc, const std::vector<LzBlock>& blocks,
                                const LzOptions& o, bool solid, std::vector<uint8_t>* window) {
  std::vector<uint8_t> packed = enc.EncodeBlocks(blocks, o, solid, 0, window);
  return h.Decode(packed, window->size(), o.windowCode, false, solid);
}

}  // namespace tvk::test

#endif
