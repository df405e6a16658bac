// What tvk packs with the call filter: linked x86 programs of both kinds
// get it; object files (calls still unlinked), other processors and 16-bit
// programs do not.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "archive/format.h"
#include "tools/tvk/packing.h"

namespace tvk::cli {
namespace {

// A program head followed by code full of near calls.
std::vector<uint8_t> Program(const std::vector<uint8_t>& head) {
  std::vector<uint8_t> v = head;
  v.resize(4096, 0);
  for (size_t i = 512; i + 5 <= v.size(); i += 16) {
    v[i] = 0xE8;
    const int32_t rel = int32_t(1000 - int32_t(i));
    std::memcpy(&v[i + 1], &rel, 4);
  }
  return v;
}

std::vector<uint8_t> Elf(uint16_t type, uint16_t machine) {
  std::vector<uint8_t> h = {0x7F, 'E', 'L', 'F', 2, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  h.push_back(uint8_t(type));
  h.push_back(uint8_t(type >> 8));
  h.push_back(uint8_t(machine));
  h.push_back(uint8_t(machine >> 8));
  return Program(h);
}

std::vector<uint8_t> Mz(bool pe, uint16_t machine) {
  std::vector<uint8_t> h(0x100, 0);
  h[0] = 'M';
  h[1] = 'Z';
  if (pe) {
    h[0x3C] = 0x80;
    std::memcpy(&h[0x80], "PE\0\0", 4);
    h[0x84] = uint8_t(machine);
    h[0x85] = uint8_t(machine >> 8);
  }
  return Program(h);
}

uint8_t FilterByteFor(const std::vector<uint8_t>& data) {
  Packing packing(4, false);
  PackResult result;
  const PackRequest request{data.data(), data.size(), packing.MethodFor(data.size()),
                            packing.DictCodeFor(packing.MethodFor(data.size())), false};
  EXPECT_TRUE(packing.Packer()(request, &result));
  EXPECT_NE(result.method, fmt::kMethodStored);
  return result.filterByte;
}

TEST(Packing, CallFilterOnlyForLinkedX86Code) {
  EXPECT_EQ(FilterByteFor(Elf(2, 62)), 1);   // x86-64 program
  EXPECT_EQ(FilterByteFor(Elf(3, 3)), 1);    // i386 shared library
  EXPECT_EQ(FilterByteFor(Elf(1, 62)), 0);   // object file
  EXPECT_EQ(FilterByteFor(Elf(2, 183)), 0);  // another processor
  EXPECT_EQ(FilterByteFor(Mz(true, 0x14C)), 1);
  EXPECT_EQ(FilterByteFor(Mz(true, 0x8664)), 1);
  EXPECT_EQ(FilterByteFor(Mz(false, 0)), 0);  // 16-bit program
  EXPECT_EQ(FilterByteFor(Mz(true, 0x1C4)), 0);
}

}  // namespace
}  // namespace tvk::cli
