// The writer's round trip: the input becomes a handful of files (raw bytes,
// text made of words, runs, x86 code with calls, 16-bit sound), which the
// encoders pack at the level, window and filters the first bytes choose,
// solid or not; the self-extractor's decoders must give every file back byte
// for byte. Any difference aborts.
//   [0] bits 0-1: level - 1; bit 2: solid; bit 3: x86 filter forced on;
//       bit 4: delta filter forced on; bits 5-6: delta channels - 1;
//       bit 7: delta on 16-bit words
//   [1] bits 0-2: window code; bits 3-7: files - 1
//   then per file: [0] kind (low 3 bits) and a parameter (high 5 bits),
//   [1..2] length of the file's source bytes, then those bytes.
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "archive/entry_decode.h"
#include "archive/format.h"
#include "crypto/crc32.h"
#include "writer/audio_encoder.h"
#include "writer/lz_encoder.h"

namespace {

constexpr size_t kMaxFile = 192 * 1024;

struct MemorySource final : tvk::PackedSource {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
  int32_t ReadArchive(void* dest, uint32_t n) override {
    const size_t k = std::min<size_t>(n, size - pos);
    if (k) memcpy(dest, data + pos, k);
    pos += k;
    return static_cast<int32_t>(k);
  }
  bool SwitchVolume() override { return false; }
};

struct CollectingSink final : tvk::EntrySink {
  std::vector<uint8_t> out;
  void Write(const uint8_t* data, uint32_t n) override { out.insert(out.end(), data, data + n); }
  void Progress(uint64_t) override {}
};

// Decodes entries one after the other in one run, as an extraction does.
struct Decoder {
  MemorySource source;
  CollectingSink sink;
  uint32_t error = 0;
  tvk::DecodeState state{};
  tvk::PackedInput input;
  tvk::DecodeRun run{};

  Decoder() {
    if (!input.Init()) abort();
    input.source = &source;
    input.error = &error;
    input.state = &state;
    run = {&error, &state, &input, &sink, nullptr, nullptr, nullptr};
  }
  ~Decoder() {
    tvk::FreeDecodeRun(run);
    input.Free();
  }

  void Expect(const std::vector<uint8_t>& packed, uint32_t method, uint32_t flags, uint32_t filterByte,
              uint32_t crc, const std::vector<uint8_t>& original) {
    source.data = packed.data();
    source.size = packed.size();
    source.pos = 0;
    sink.out.clear();
    error = 0;
    tvk::EntryParams e{};
    e.version = tvk::fmt::kVersion11;
    e.method = method;
    e.flags = flags;
    e.filterByte = filterByte;
    e.packedSize = packed.size();
    e.unpackedSize = original.size();
    e.crc = crc;
    tvk::DecodeEntry(run, e);
    if (error != 0 || sink.out != original) abort();
  }
};

// Text of words chosen by the source bytes: long repeats at every distance.
void Words(const uint8_t* p, size_t n, std::vector<uint8_t>* out) {
  static const char* const kWords[] = {"the ",   "self",   "return ", "value", "(",       ")",
                                       ":\n    ", "\n",     "index",   "_",     " = ",     "node",
                                       ", ",     "None",   "if ",     "else:"};
  for (size_t i = 0; i < n && out->size() < kMaxFile; ++i) {
    for (const char* w = kWords[p[i] & 15]; *w; ++w) out->push_back(uint8_t(*w));
    if (p[i] & 0x10) out->push_back(uint8_t('a' + (p[i] >> 5)));
  }
}

// Runs of each byte, as long as the next byte says.
void Runs(const uint8_t* p, size_t n, std::vector<uint8_t>* out) {
  for (size_t i = 0; i + 1 < n && out->size() < kMaxFile; i += 2) {
    out->insert(out->end(), std::min<size_t>(1 + p[i + 1] * 3u, kMaxFile - out->size()), p[i]);
  }
}

// Code with near calls (0xE8 and a small relative operand) between the bytes.
void Code(const uint8_t* p, size_t n, std::vector<uint8_t>* out) {
  for (size_t i = 0; i < n && out->size() + 5 < kMaxFile; ++i) {
    out->push_back(p[i]);
    if ((p[i] & 7) == 0) {
      const int32_t rel = int32_t(p[i]) * 37 - 4000 - int32_t(out->size());
      out->push_back(0xE8);
      for (int k = 0; k < 4; ++k) out->push_back(uint8_t(uint32_t(rel) >> (8 * k)));
    }
  }
}

// A 16-bit stereo WAV of tones whose steps the source bytes choose.
void Sound(const uint8_t* p, size_t n, uint32_t param, std::vector<uint8_t>* out) {
  const size_t frames = std::min<size_t>(n * 64, (kMaxFile - 44) / 4);
  const uint32_t bytes = uint32_t(frames * 4);
  const uint8_t head[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                            16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0,
                            4, 0, 16, 0, 'd', 'a', 't', 'a', uint8_t(bytes), uint8_t(bytes >> 8),
                            uint8_t(bytes >> 16), uint8_t(bytes >> 24)};
  out->insert(out->end(), head, head + 44);
  const uint32_t riff = uint32_t(36 + bytes);
  for (int k = 0; k < 4; ++k) (*out)[4 + k] = uint8_t(riff >> (8 * k));
  double phase = 0;
  for (size_t f = 0; f < frames; ++f) {
    phase += 0.01 + p[f / 64 % n] / 2000.0;
    const int16_t l = int16_t(12000 * std::sin(phase) + (param & 1 ? int(p[f % n]) - 128 : 0));
    const int16_t r = int16_t(l / 2 + 3000 * std::sin(phase * 1.5));
    for (int16_t v : {l, r}) {
      out->push_back(uint8_t(v));
      out->push_back(uint8_t(uint16_t(v) >> 8));
    }
  }
}

// TVK_FUZZ_LEVELS (such as "123" or "4") keeps a campaign to some levels:
// the best level is a hundred times slower than the others.
uint32_t LevelFor(uint32_t wanted) {
  static const char* levels = [] {
    const char* v = getenv("TVK_FUZZ_LEVELS");
    return v && *v ? v : "1234";
  }();
  const size_t count = strlen(levels);
  const uint32_t level = uint32_t(levels[wanted % count] - '0');
  return level >= 1 && level <= 4 ? level : 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  tvk::LzOptions opt;
  opt.level = LevelFor(data[0] & 3);
  const bool solid = (data[0] & 4) != 0;
  opt.x86 = (data[0] & 8) != 0;
  opt.delta = (data[0] & 16) != 0;
  opt.deltaChannels = uint8_t(1 + ((data[0] >> 5) & 3));
  opt.deltaKind = uint8_t(data[0] >> 7);
  opt.windowCode = data[1] & 7;
  const size_t files = 1 + (data[1] >> 3);
  size_t at = 2;
  tvk::LzEncoder encoder;
  Decoder decoder;
  bool first = true;
  for (size_t f = 0; f < files && at + 3 <= size; ++f) {
    const uint32_t kind = data[at] & 7, param = data[at] >> 3;
    size_t n = size_t(data[at + 1]) | size_t(data[at + 2]) << 8;
    at += 3;
    n = std::min(n, size - at);
    const uint8_t* p = data + at;
    at += n;
    std::vector<uint8_t> file;
    switch (kind) {
      case 1: Words(p, n, &file); break;
      case 2: Runs(p, n, &file); break;
      case 3: Code(p, n, &file); break;
      case 4:
        if (n) Sound(p, n, param, &file);
        break;
      default: file.assign(p, p + std::min(n, kMaxFile)); break;
    }
    if (file.empty()) continue;
    if (kind == 4) {
      // The audio method stands apart from the LZ state of the run.
      std::vector<uint8_t> packed;
      uint32_t crc = 0;
      if (tvk::EncodeAudio(file.data(), file.size(), &packed, &crc)) {
        decoder.Expect(packed, tvk::fmt::kMethodAudio, 0, 0, crc, file);
      }
      continue;
    }
    tvk::LzOptions o = opt;
    o.deltaHeader = param * 7;
    const bool continues = solid && !first;
    const std::vector<uint8_t> packed = encoder.Encode(file.data(), file.size(), o, continues);
    first = false;
    const uint32_t flags = (opt.windowCode << tvk::fmt::kEntryDictShift) | (continues ? tvk::fmt::kEntrySolid : 0u);
    decoder.Expect(packed, o.level, flags, encoder.lastFilterWord() != 0 ? 1 : 0,
                   tvk::Crc32(tvk::kCrcStart, file.data(), file.size()), file);
  }
  return 0;
}
