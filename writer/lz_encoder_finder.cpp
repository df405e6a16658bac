#include "writer/lz_encoder_finder.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"

namespace tvk {

namespace {

constexpr uint32_t kHash3Bits = 16;

inline uint32_t Hash4(const uint8_t* p, uint32_t bits) { return (LoadU32(p) * 2654435761u) >> (32 - bits); }

inline uint32_t Hash3(const uint8_t* p) {
  return ((LoadU32(p) & 0xFFFFFFu) * 506832829u) >> (32 - kHash3Bits);
}

inline uint32_t Extend(const uint8_t* a, const uint8_t* b, uint32_t from, uint32_t limit) {
  return CommonLength(a, b, from, limit);
}

}  // namespace

void LzTreeFinder::Reset(uint32_t hashBits, uint32_t depth, uint32_t nice) {
  hashBits_ = hashBits;
  depth_ = depth;
  nice_ = std::max<uint32_t>(nice, 4);
  head4_.assign(size_t(1) << hashBits, -1);
  head3_.assign(size_t(1) << kHash3Bits, -1);
  head2_.assign(size_t(1) << 16, -1);
  son_.clear();
  waitFrom_ = waitTo_ = 0;
}

void LzTreeFinder::Grow(size_t bufferSize) {
  if (son_.size() < 2 * bufferSize) son_.resize(2 * bufferSize, -1);
}

void LzTreeFinder::Slide(size_t cut) {
  const size_t drop = std::min(son_.size(), 2 * cut);
  son_.erase(son_.begin(), son_.begin() + ptrdiff_t(drop));
  const int32_t c = int32_t(cut);
  auto renumber = [c](std::vector<int32_t>& v) {
    for (int32_t& x : v) x = x >= c ? x - c : -1;
  };
  renumber(head4_);
  renumber(head3_);
  renumber(head2_);
  renumber(son_);
  // Waiting positions that fell off the front are gone with their bytes.
  waitFrom_ = std::max(waitFrom_, cut) - cut;
  waitTo_ = std::max(waitTo_, cut) - cut;
}

size_t LzTreeFinder::MemoryBytes() const {
  return (head4_.capacity() + head3_.capacity() + head2_.capacity() + son_.capacity()) * sizeof(int32_t);
}

// Walks the tree of pos's hash from its newest position down, re-linking it
// so that pos becomes the root: every node left of the path holds a smaller
// string, every node right of it a larger one. The common prefix with both
// bounds is known, so each comparison starts where the bounds agree.
template <bool kCollect>
uint32_t LzTreeFinder::Tree(const uint8_t* buf, size_t pos, size_t end, uint32_t maxDistance,
                            uint32_t minLength, LzMatch* out) {
  const uint32_t limit = uint32_t(std::min<size_t>(nice_, end - pos));
  const uint32_t h = Hash4(buf + pos, hashBits_);
  int32_t cur = head4_[h];
  head4_[h] = int32_t(pos);
  int32_t* smaller = &son_[2 * pos];
  int32_t* larger = &son_[2 * pos + 1];
  uint32_t lenSmaller = 0, lenLarger = 0;
  uint32_t best = minLength;
  uint32_t count = 0;
  const uint8_t* p = buf + pos;
  for (uint32_t steps = depth_;; --steps) {
    if (cur < 0 || steps == 0 || pos - size_t(cur) > maxDistance) {
      *smaller = -1;
      *larger = -1;
      break;
    }
    int32_t* pair = &son_[2 * size_t(cur)];
    const uint8_t* q = buf + cur;
    uint32_t len = std::min(lenSmaller, lenLarger);
    if (q[len] == p[len]) {
      len = Extend(p, q, len + 1, limit);
      if (kCollect && len > best) {
        best = len;
        out[count++] = {len, uint32_t(pos - size_t(cur))};
        if (count == kMaxMatches) {
          // Ends the walk as a full-length hit would: the tree stays sound.
          *smaller = pair[0];
          *larger = pair[1];
          break;
        }
      }
      if (len >= limit) {
        // pos replaces cur: same string as far as we look.
        *smaller = pair[0];
        *larger = pair[1];
        break;
      }
    }
    if (q[len] < p[len]) {
      *smaller = cur;
      smaller = pair + 1;
      cur = *smaller;
      lenSmaller = len;
    } else {
      *larger = cur;
      larger = pair;
      cur = *larger;
      lenLarger = len;
    }
  }
  return count;
}

uint32_t LzTreeFinder::Search(const uint8_t* buf, size_t pos, size_t end, uint32_t maxDistance,
                              uint32_t minLength, LzMatch* out) const {
  const uint32_t limit = uint32_t(std::min<size_t>(nice_, end - pos));
  int32_t cur = head4_[Hash4(buf + pos, hashBits_)];
  uint32_t lenSmaller = 0, lenLarger = 0;
  uint32_t best = minLength;
  uint32_t count = 0;
  const uint8_t* p = buf + pos;
  for (uint32_t steps = depth_; steps > 0 && cur >= 0 && pos - size_t(cur) <= maxDistance; --steps) {
    const int32_t* pair = &son_[2 * size_t(cur)];
    const uint8_t* q = buf + cur;
    uint32_t len = std::min(lenSmaller, lenLarger);
    if (q[len] == p[len]) {
      len = Extend(p, q, len + 1, limit);
      if (len > best) {
        best = len;
        out[count++] = {len, uint32_t(pos - size_t(cur))};
        if (count == kMaxMatches) break;
      }
      if (len >= limit) break;
    }
    if (q[len] < p[len]) {
      cur = pair[1];
      lenSmaller = len;
    } else {
      cur = pair[0];
      lenLarger = len;
    }
  }
  return count;
}

void LzTreeFinder::InsertWaiting(const uint8_t* buf, size_t end, uint32_t maxDistance) {
  while (waitFrom_ < waitTo_ && end - waitFrom_ >= nice_) {
    Tree<false>(buf, waitFrom_++, end, maxDistance, 0, nullptr);
  }
}

template <bool kCollect>
uint32_t LzTreeFinder::Place(const uint8_t* buf, size_t pos, size_t end, uint32_t maxDistance,
                             uint32_t minLength, LzMatch* out) {
  InsertWaiting(buf, end, maxDistance);
  if (waitFrom_ == waitTo_ && end - pos >= nice_) {
    waitFrom_ = waitTo_ = pos + 1;
    return Tree<kCollect>(buf, pos, end, maxDistance, minLength, out);
  }
  if (waitFrom_ == waitTo_) waitFrom_ = pos;
  waitTo_ = pos + 1;
  return kCollect ? Search(buf, pos, end, maxDistance, minLength, out) : 0;
}

uint32_t LzTreeFinder::Find(const uint8_t* buf, size_t pos, size_t end, uint32_t maxDistance,
                            LzMatch* out) {
  const uint8_t* p = buf + pos;
  const uint32_t limit = uint32_t(std::min<size_t>(nice_, end - pos));
  uint32_t count = 0, best = 1;
  const uint32_t h2 = uint32_t(p[0]) | uint32_t(p[1]) << 8;
  const int32_t c2 = head2_[h2];
  head2_[h2] = int32_t(pos);
  const uint32_t h3 = Hash3(p);
  const int32_t c3 = head3_[h3];
  head3_[h3] = int32_t(pos);
  if (c2 >= 0 && pos - size_t(c2) <= std::min<uint32_t>(256, maxDistance)) {
    const uint32_t len = Extend(p, buf + c2, 0, limit);
    if (len >= 2) {
      out[count++] = {len, uint32_t(pos - size_t(c2))};
      best = len;
    }
  }
  if (c3 >= 0 && c3 != c2 && pos - size_t(c3) <= std::min<uint32_t>(16384, maxDistance)) {
    const uint32_t len = Extend(p, buf + c3, 0, limit);
    if (len >= 3 && len > best) {
      out[count++] = {len, uint32_t(pos - size_t(c3))};
      best = len;
    }
  }
  if (best >= limit) {
    Place<false>(buf, pos, end, maxDistance, best, nullptr);
    return count;
  }
  return count + Place<true>(buf, pos, end, maxDistance, std::max<uint32_t>(best, 3), out + count);
}

void LzTreeFinder::Skip(const uint8_t* buf, size_t pos, size_t end, uint32_t maxDistance) {
  const uint8_t* p = buf + pos;
  head2_[uint32_t(p[0]) | uint32_t(p[1]) << 8] = int32_t(pos);
  head3_[Hash3(p)] = int32_t(pos);
  Place<false>(buf, pos, end, maxDistance, 0, nullptr);
}

}  // namespace tvk
