// Byte-order helpers for every layer. The archive, its heads and the
// payload store everything little-endian (the plain LoadU*/StoreU* names);
// the hash functions and AES work on big-endian words (the *Be32 names).
// The C headers, not <cstdint>: the module is built without the C++ library.
// Always inlined: at -Os GCC kept shared copies of these, called with
// stack arguments, and the 32-bit Windows program grew; inline, each is a
// load or store of its own (bswap for the big-endian ones).
#ifndef TVK_COMMON_BYTES_H
#define TVK_COMMON_BYTES_H

#include <stdint.h>

namespace tvk {

[[gnu::always_inline]] constexpr uint16_t LoadU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

[[gnu::always_inline]] constexpr uint32_t LoadU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

[[gnu::always_inline]] constexpr uint64_t LoadU64(const uint8_t* p) {
  return uint64_t(LoadU32(p)) | uint64_t(LoadU32(p + 4)) << 32;
}

// The stores take the value as a whole word and keep its low bytes, so that
// callers need no casts for lengths and counts.
[[gnu::always_inline]] constexpr void StoreU16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

[[gnu::always_inline]] constexpr void StoreU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

[[gnu::always_inline]] constexpr uint32_t LoadBe32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

[[gnu::always_inline]] constexpr void StoreBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

}  // namespace tvk

#endif
