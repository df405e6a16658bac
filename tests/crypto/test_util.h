#ifndef TVK_TESTS_CRYPTO_TEST_UTIL_H
#define TVK_TESTS_CRYPTO_TEST_UTIL_H

#include <stdint.h>

#include <random>
#include <string>
#include <vector>

namespace tvk::test {

inline std::string Hex(const uint8_t* p, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

inline std::vector<uint8_t> FromHex(const std::string& h) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(uint8_t(std::stoul(h.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = uint8_t(rng());
  return v;
}

// Splits [0, n) into random pieces; some of them end on multiples of block.
inline std::vector<size_t> RandomCuts(std::mt19937& rng, size_t n, size_t block) {
  std::vector<size_t> cuts;
  size_t pos = 0;
  while (pos < n) {
    size_t step;
    switch (rng() % 4) {
      case 0: step = block - pos % block; break;          // up to the next boundary
      case 1: step = block * (1 + rng() % 3); break;      // whole blocks
      case 2: step = 1 + rng() % 7; break;
      default: step = 1 + rng() % (3 * block); break;
    }
    pos = pos + step > n ? n : pos + step;
    cuts.push_back(pos);
  }
  return cuts;
}

}  // namespace tvk::test

#endif
