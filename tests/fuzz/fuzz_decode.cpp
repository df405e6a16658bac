// The decoders through DecodeEntry over packed bytes in memory. The first 11
// input bytes describe up to two entries of one solid run, the rest is their
// packed data:
//   [0] bits 0-1: 0 stored, 1 LZ, 2 audio, 3 an unknown method;
//       bits 2-3: LZ method 1..4; bit 7: version 20 instead of 11
//   [1] bits 0-3: window code; bit 4: the second entry is solid
//   [2] filter-header byte
//   [3..5] unpacked size of the first entry (at most 4 MiB)
//   [6..7] packed size of the first entry (0: all of the rest, one entry)
//   [8..10] unpacked size of the second entry (at most 4 MiB)
#include "archive/entry_decode.h"
#include "archive/format.h"
#include "fuzz_util.h"

namespace {

constexpr uint32_t kHeader = 11;
constexpr uint32_t kSizeCap = (4u << 20) - 1;

struct MemorySource final : tvk::PackedSource {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
  int32_t ReadArchive(void* dest, uint32_t n) override {
    size_t left = size - pos;
    if (n > left) n = static_cast<uint32_t>(left);
    memcpy(dest, data + pos, n);
    pos += n;
    return static_cast<int32_t>(n);
  }
  bool SwitchVolume() override { return false; }
};

// Counts what an entry writes: the unpacked size bounds it whatever the
// packed bytes say. The audio stream carries its own lengths, so for it the
// reader's sink enforces the bound instead.
struct CountingSink final : tvk::EntrySink {
  uint64_t written = 0;
  uint64_t progressed = 0;
  void Write(const uint8_t*, uint32_t n) override { written += n; }
  void Progress(uint64_t n) override { progressed += n; }
};

uint32_t Le24(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeader) return 0;
  static tvk::PackedInput input;
  static bool ready = input.Init();
  if (!ready) abort();

  const uint8_t kind = data[0] & 3;
  tvk::EntryParams first{};
  first.version = (data[0] & 0x80) ? tvk::fmt::kVersion20 : tvk::fmt::kVersion11;
  first.method = kind == 0   ? tvk::fmt::kMethodStored
                 : kind == 1 ? tvk::fmt::kMethodLzFirst + ((data[0] >> 2) & 3)
                 : kind == 2 ? tvk::fmt::kMethodAudio
                             : 6 + ((data[0] >> 2) & 3);
  first.flags = uint32_t(data[1] & 15) << tvk::fmt::kEntryDictShift;
  first.filterByte = data[2];
  first.unpackedSize = Le24(data + 3) & kSizeCap;
  const size_t body = size - kHeader;
  const uint32_t split = uint32_t(data[6]) | uint32_t(data[7]) << 8;
  const bool two = split != 0 && split < body;
  first.packedSize = two ? split : body;

  MemorySource source;
  source.data = data + kHeader;
  source.size = body;
  uint32_t error = 0;
  tvk::DecodeState state{};
  input.source = &source;
  input.error = &error;
  input.state = &state;
  CountingSink sink;
  tvk::DecodeRun run{&error, &state, &input, &sink, nullptr, nullptr, nullptr};

  tvk::DecodeEntry(run, first);
  const bool bounded = first.method != tvk::fmt::kMethodAudio;
  if (bounded && sink.written > first.unpackedSize) abort();
  if (two && error == 0) {
    tvk::EntryParams second = first;
    if (data[1] & 0x10) second.flags |= tvk::fmt::kEntrySolid;
    second.unpackedSize = Le24(data + 8) & kSizeCap;
    second.packedSize = body - split;
    source.pos = split;
    sink.written = 0;
    tvk::DecodeEntry(run, second);
    if (bounded && sink.written > second.unpackedSize) abort();
  }
  tvk::FreeDecodeRun(run);
  return 0;
}
