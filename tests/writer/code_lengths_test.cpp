// Code lengths for the LZ tables: complete codes within the length limit,
// and as cheap as a textbook Huffman code whenever that one fits the limit.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <queue>
#include <vector>

#include "writer/lz_encoder.h"

namespace tvk {
namespace {

// Total bits of an optimal prefix code, by repeated merging of the two
// lightest weights; also its longest code.
uint64_t HuffmanCost(const std::vector<uint32_t>& freq, uint32_t* longest) {
  using Item = std::pair<uint64_t, uint32_t>;  // weight, depth of its deepest leaf
  std::priority_queue<Item, std::vector<Item>, std::greater<Item>> q;
  for (uint32_t f : freq) {
    if (f) q.push({f, 0});
  }
  uint64_t cost = 0;
  *longest = 0;
  while (q.size() > 1) {
    Item a = q.top();
    q.pop();
    Item b = q.top();
    q.pop();
    cost += a.first + b.first;
    q.push({a.first + b.first, std::max(a.second, b.second) + 1});
  }
  if (!q.empty()) *longest = q.top().second;
  return cost;
}

void ExpectComplete(const std::vector<uint32_t>& freq, const std::vector<uint32_t>& len, uint32_t limit) {
  ASSERT_EQ(len.size(), freq.size());
  uint64_t kraft = 0;
  uint32_t used = 0;
  for (size_t s = 0; s < len.size(); ++s) {
    if (freq[s]) {
      ASSERT_GT(len[s], 0u) << "symbol " << s;
    }
    ASSERT_LE(len[s], limit);
    if (len[s]) {
      kraft += uint64_t(1) << (limit - len[s]);
      ++used;
    }
  }
  ASSERT_GE(used, 2u);
  EXPECT_EQ(kraft, uint64_t(1) << limit);
}

TEST(CodeLengths, OptimalAndCompleteWithinTheLimit) {
  uint32_t seed = 1;
  auto next = [&]() {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  for (int round = 0; round < 300; ++round) {
    const size_t n = 2 + next() % 320;
    std::vector<uint32_t> freq(n);
    const uint32_t shape = next() % 4;
    for (size_t s = 0; s < n; ++s) {
      const uint32_t r = next();
      if (r % 3 == 0 && shape != 0) continue;  // unused symbols
      // Flat, skewed and exponential weights; the last can pass the limit.
      freq[s] = shape == 1 ? 1 + r % 5 : shape == 2 ? 1 + (r % 1000) * (r % 1000) : 1u << (r % 24);
    }
    const auto len = LimitedCodeLengths(freq, 15);
    ExpectComplete(freq, len, 15);
    if (HasFatalFailure()) return;
    uint32_t longest;
    const uint64_t best = HuffmanCost(freq, &longest);
    uint32_t usedCount = 0;
    for (uint32_t f : freq) usedCount += f != 0;
    if (longest <= 15 && usedCount >= 2) {
      uint64_t cost = 0;
      for (size_t s = 0; s < n; ++s) cost += uint64_t(freq[s]) * len[s];
      EXPECT_EQ(cost, best) << "round " << round;
    }
  }
}

// No symbol or one symbol in use: the format has no one-symbol codes, so
// two symbols get a length of one bit each.
TEST(CodeLengths, FewSymbolsStillMakeACode) {
  for (const auto& freq : {std::vector<uint32_t>(19, 0), std::vector<uint32_t>{0, 0, 7, 0},
                           std::vector<uint32_t>{5, 0, 0}}) {
    const auto len = LimitedCodeLengths(freq, 7);
    ExpectComplete(freq, len, 7);
  }
}

}  // namespace
}  // namespace tvk
