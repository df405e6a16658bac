#include "tools/tvk/packing.h"

namespace tvk::cli {

struct Packing::State {};

Packing::Packing(int level) : level_(level), state_(std::make_shared<State>()) {}

Packing::~Packing() = default;

// Every level stores until the encoders are wired in.
uint8_t Packing::MethodFor(uint64_t) const { return fmt::kMethodStored; }

uint32_t Packing::DictCodeFor(uint8_t) const { return 0; }

tvk::Packer Packing::Packer() { return nullptr; }

}  // namespace tvk::cli
