// Fields of any width put at once land exactly where the same bits put one
// at a time would, across word boundaries, with only their low bits taken.
#include <gtest/gtest.h>

#include <cstdint>

#include "writer/bit_writer.h"

namespace tvk {
namespace {

TEST(BitWriter, FieldsMatchBitByBitOutput) {
  BitWriter fields, bits;
  uint32_t seed = 5;
  for (int k = 0; k < 5000; ++k) {
    seed = seed * 1664525u + 1013904223u;
    const uint32_t n = k % 97 == 0 ? 32 : k % 89 == 0 ? 0 : (seed >> 27) + 1;  // 0..32
    const uint32_t value = seed * 2654435761u;  // high bits set beyond n as well
    fields.Put(value, n);
    for (uint32_t i = n; i-- > 0;) bits.PutBit((value >> i) & 1);
    ASSERT_EQ(fields.BitCount(), bits.BitCount()) << "field " << k;
  }
  EXPECT_EQ(fields.Finish(), bits.Finish());
}

}  // namespace
}  // namespace tvk
