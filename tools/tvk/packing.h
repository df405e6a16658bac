// How tvk packs entry data for a level from -m0 (store) to -m4 (best).
#ifndef TVK_TOOLS_PACKING_H
#define TVK_TOOLS_PACKING_H

#include <cstdint>
#include <memory>
#include <string>

#include "writer/archive_writer.h"

namespace tvk::cli {

class Packing {
 public:
  Packing(int level, bool solid);
  ~Packing();

  // The method for an entry of this many bytes, and its dictionary code.
  uint8_t MethodFor(uint64_t size) const;
  uint32_t DictCodeFor(uint8_t method) const;
  // Whether an entry of this method continues the previous one's state.
  bool SolidFor(uint8_t method) const;
  // The packer to hand to the archive writer.
  tvk::Packer Packer();
  // Sort key for the files of a solid archive ('/'-separated stored path):
  // files of one kind sit together, where each finds the last one's matches.
  static std::string SolidOrderKey(const std::string& stored);

 private:
  struct State;
  int level_;
  bool solid_;
  std::shared_ptr<State> state_;
};

}  // namespace tvk::cli

#endif
