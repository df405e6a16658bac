#include "writer/stream_check.h"

#include <algorithm>
#include <cstring>

#include "archive/entry_decode.h"
#include "archive/format.h"
#include "crypto/crc32.h"

namespace tvk {

struct StreamCheck::Io final : PackedSource, EntrySink {
  const uint8_t* data = nullptr;
  const std::function<bool(uint64_t, uint8_t*, size_t)>* read = nullptr;
  uint64_t size = 0;
  uint64_t pos = 0;
  uint64_t written = 0;
  uint32_t error = 0;
  DecodeState state{};
  PackedInput input;

  int32_t ReadArchive(void* dest, uint32_t n) override {
    const size_t k = static_cast<size_t>(std::min<uint64_t>(n, size - pos));
    if (k && !data) {
      if (!(*read)(pos, static_cast<uint8_t*>(dest), k)) return -1;
    } else if (k) {
      std::memcpy(dest, data + pos, k);
    }
    pos += k;
    return static_cast<int32_t>(k);
  }
  bool SwitchVolume() override { return false; }
  void Write(const uint8_t*, uint32_t n) override { written += n; }
  void Progress(uint64_t) override {}
};

StreamCheck::StreamCheck() : io_(new Io) {
  io_->input.source = io_;
  io_->input.error = &io_->error;
  io_->input.state = &io_->state;
  run_.error = &io_->error;
  run_.state = &io_->state;
  run_.input = &io_->input;
  run_.sink = io_;
}

StreamCheck::~StreamCheck() {
  FreeDecodeRun(run_);
  io_->input.Free();
  delete io_;
}

bool StreamCheck::Check(const Entry& e) {
  Io& io = *io_;
  if (!io.input.Init()) return false;
  io.data = e.packed;
  io.read = &e.read;
  io.size = e.packedSize;
  io.pos = 0;
  io.written = 0;
  io.error = 0;
  EntryParams params{};
  params.version = fmt::kVersion11;
  params.method = e.method;
  params.flags = static_cast<uint32_t>((e.dictCode & 15) << fmt::kEntryDictShift) |
                 (e.solid ? fmt::kEntrySolid : 0u);
  params.filterByte = e.filterByte;
  params.packedSize = e.packedSize;
  params.unpackedSize = e.unpackedSize;
  params.crc = e.crc;
  DecodeEntry(run_, params);
  return io.error == 0 && io.written == e.unpackedSize && io.state.crc == e.crc;
}

}  // namespace tvk
