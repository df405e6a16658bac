// Reads a packed stream back with the self-extractor's own decoders before
// it goes into an archive: the writer must never store a stream that does
// not decode to the data it was made from.
#ifndef TVK_WRITER_STREAM_CHECK_H
#define TVK_WRITER_STREAM_CHECK_H

#include <cstddef>
#include <cstdint>
#include <functional>

#include "codec/decode_entry.h"

namespace tvk {

// One per archive: solid entries continue the decoder state of the entry
// checked before, exactly as a reader's run does.
class StreamCheck {
 public:
  StreamCheck();
  ~StreamCheck();
  StreamCheck(const StreamCheck&) = delete;
  StreamCheck& operator=(const StreamCheck&) = delete;

  struct Entry {
    const uint8_t* packed;  // or nullptr and read instead
    uint64_t packedSize;  // a stream may pass 4 GiB on 32-bit systems too
    uint8_t method;
    uint8_t filterByte;
    uint32_t dictCode;
    bool solid;
    uint64_t unpackedSize;
    uint32_t crc;  // the CRC field the entry will carry
    // For a stream kept outside memory: fills count bytes from offset.
    std::function<bool(uint64_t offset, uint8_t* dest, size_t count)> read;
  };
  // True when the stream decodes without error to unpackedSize bytes whose
  // register equals crc. After a false answer the next entry must not be
  // solid: the decoder's carried state is that of a failed stream.
  bool Check(const Entry& entry);

 private:
  struct Io;
  Io* io_;
  DecodeRun run_{};
};

}  // namespace tvk

#endif
