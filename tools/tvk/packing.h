// How tvk packs entry data for a level from -m0 (store) to -m4 (best).
#ifndef TVK_TOOLS_PACKING_H
#define TVK_TOOLS_PACKING_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "writer/archive_writer.h"

namespace tvk::cli {

class Packing {
 public:
  Packing(int level, bool solid);
  ~Packing();

  // Every packed stream is read back with the self-extractor's decoders
  // before it is handed to the writer; a stream that does not read back is
  // packed again more simply (a lower level as a new solid group, then
  // stored), and notice() is told the entry's name. Off: nothing is read
  // back.
  void SetVerify(bool verify);
  void SetNotice(std::function<void(const std::string& message)> notice);
  // Tests: called on each packed stream before it is checked, with the
  // attempt number (0 the first); may damage it.
  void SetStreamHook(std::function<void(Bytes& packed, int attempt)> hook);
  // Each entry packed as if it were the first: for packers that share out
  // the files of an archive between them.
  void SetEntriesApart(bool apart);
  // The best level's match finder on a thread of its own (the same bytes).
  void SetFinderThread(bool on);

  // The method for an entry of this many bytes, and its dictionary code.
  uint8_t MethodFor(uint64_t size) const;
  uint32_t DictCodeFor(uint8_t method) const;
  // Whether an entry of this method continues the previous one's state.
  bool SolidFor(uint8_t method) const;
  int Level() const { return level_; }
  bool Solid() const { return solid_; }
  // The packer to hand to the archive writer.
  tvk::Packer Packer();

  // A file too large to hold in memory, packed as a stream through a file
  // of the caller's: read gives the file's bytes, restart empties the
  // packed file, write appends to it and readPacked reads it back. The
  // stream is checked and packed again as Packer's are; a stored result
  // means the caller stores the file itself.
  struct StreamRequest {
    std::string name;  // for messages
    uint64_t size;
    uint32_t crc;      // the file's CRC register
    uint8_t method;
    uint32_t dictCode;
    bool solid;
    std::function<bool(uint64_t offset, uint8_t* dest, size_t count)> read;
    std::function<bool()> restart;
    std::function<bool(const uint8_t* data, size_t count)> write;
    std::function<bool(uint64_t offset, uint8_t* dest, size_t count)> readPacked;
  };
  struct StreamResult {
    uint8_t method = 0;
    uint8_t filterByte = 0;
    uint64_t packedSize = 0;
    bool solid = false;
  };
  // False when the file or the packed file could not be read or written.
  bool PackStream(const StreamRequest& request, StreamResult* result, std::string* error);
  // Sort key for the files of a solid archive ('/'-separated stored path):
  // files of one kind sit together, where each finds the last one's matches.
  static std::string SolidOrderKey(const std::string& stored);

  struct State;  // shared with the packers it hands out

 private:
  int level_;
  bool solid_;
  std::shared_ptr<State> state_;
};

}  // namespace tvk::cli

#endif
