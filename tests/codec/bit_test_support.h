// In-memory packed source and entry sink, so decoders can be driven without
// the archive reader, and the writer's canonical codes for hand-built streams.
#ifndef TVK_TESTS_CODEC_BIT_TEST_SUPPORT_H
#define TVK_TESTS_CODEC_BIT_TEST_SUPPORT_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/decode.h"
#include "crypto/crc32.h"
#include "writer/bit_writer.h"

namespace tvk::test {

class MemorySource : public PackedSource {
 public:
  std::vector<uint8_t> data;
  size_t pos = 0;
  int32_t ReadArchive(void* dest, uint32_t n) override {
    size_t k = std::min<size_t>(n, data.size() - pos);
    if (k) std::memcpy(dest, data.data() + pos, k);
    pos += k;
    return static_cast<int32_t>(k);
  }
  bool SwitchVolume() override { return false; }
};

class MemorySink : public EntrySink {
 public:
  std::vector<uint8_t> out;
  std::vector<uint32_t> chunks;      // sizes of the writes, in order
  std::vector<uint64_t> progress;    // amounts reported, in order
  uint32_t* error = nullptr;
  size_t failAfter = SIZE_MAX;       // simulate a full disk after this many bytes
  void Write(const uint8_t* data, uint32_t n) override {
    chunks.push_back(n);
    size_t room = failAfter > out.size() ? failAfter - out.size() : 0;
    size_t k = std::min<size_t>(n, room);
    out.insert(out.end(), data, data + k);
    if (k < n && error && *error == 0) *error = 28004;
  }
  void Progress(uint64_t n) override { progress.push_back(n); }
};

// One entry's packed input over a byte vector.
struct TestInput {
  MemorySource src;
  uint32_t error = 0;
  DecodeState state{};
  PackedInput in;
  explicit TestInput(const std::vector<uint8_t>& bytes) {
    src.data = bytes;
    in.Init();
    in.source = &src;
    in.error = &error;
    in.state = &state;
    state.crc = kCrcStart;
    state.packedLeft = static_cast<int64_t>(bytes.size());
    state.packedSize = bytes.size();
  }
  ~TestInput() { in.Free(); }
  // Prepares the decode state for an entry of the given unpacked size.
  void BeginEntry(uint64_t unpacked) {
    state.crc = kCrcStart;
    state.unpackedSize = unpacked;
    state.bytesToWrite = static_cast<int64_t>(unpacked);
    state.e8Pos = 0;
    state.e8Size = static_cast<uint32_t>(unpacked);
    state.filterWord = 0;
  }
  // Replaces the packed data with the next entry's bytes (solid groups).
  void NextPacked(const std::vector<uint8_t>& bytes) {
    src.data = bytes;
    src.pos = 0;
    state.packedLeft = static_cast<int64_t>(bytes.size());
    state.packedSize = bytes.size();
  }
};

using ::tvk::CanonicalCodes;

}  // namespace tvk::test

#endif
