// The match finder of the best level: binary trees over four-byte hashes,
// which keep every position of the window sorted by the string behind it, so
// that the longest match at each distance range is found without walking
// long chains; plus direct tables for the short matches the stream can carry
// (two bytes within 256, three bytes within 16384).
#ifndef TVK_WRITER_LZ_ENCODER_FINDER_H
#define TVK_WRITER_LZ_ENCODER_FINDER_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tvk {

// How far two strings agree from offset `from` on, up to limit: eight bytes
// a step, the first difference found from the lowest set bit.
inline uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t from, uint32_t limit) {
  uint32_t n = from;
  while (n + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) return n + uint32_t(__builtin_ctzll(x ^ y) >> 3);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

struct LzMatch {
  uint32_t length;
  uint32_t distance;
};

class LzTreeFinder {
 public:
  // Forgets every position; hashBits sizes the four-byte head table.
  void Reset(uint32_t hashBits, uint32_t depth, uint32_t nice);
  uint32_t hashBits() const { return hashBits_; }
  uint32_t depth() const { return depth_; }
  uint32_t nice() const { return nice_; }

  // The finder indexes positions of a buffer that the caller owns and only
  // appends to; Grow must follow every append, Slide every cut of the
  // buffer's first bytes.
  void Grow(size_t bufferSize);
  // Room for a buffer of bufferSize, taken at once rather than by growing.
  void Reserve(size_t bufferSize) { son_.reserve(2 * bufferSize); }
  void Slide(size_t cut);

  // Matches at position pos of buf (whose bytes end at end), strictly longer
  // one after the other, each with the smallest distance found for its
  // length; inserts pos. Positions must come in order, each exactly once,
  // through Find or Skip. Returns the count written to out, which must hold
  // kMaxOut.
  //
  // The buffer may grow between calls (solid entries, segments). A position
  // closer than nice to the current end cannot be placed in its tree yet:
  // its string is known only in part, and a tree sorted on part of a string
  // lets later walks infer common lengths that the bytes do not have. Such
  // positions are searched without being linked and are inserted once the
  // buffer has grown past them.
  static constexpr uint32_t kMaxMatches = 96;
  static constexpr uint32_t kMaxOut = kMaxMatches + 2;
  uint32_t Find(const uint8_t* buf, size_t pos, size_t end, uint32_t maxDistance, LzMatch* out);
  void Skip(const uint8_t* buf, size_t pos, size_t end, uint32_t maxDistance);

  size_t MemoryBytes() const;

 private:
  template <bool kCollect>
  uint32_t Tree(const uint8_t* buf, size_t pos, size_t end, uint32_t maxDistance, uint32_t minLength,
                LzMatch* out);
  // A walk that leaves the tree as it is (positions not yet insertable).
  uint32_t Search(const uint8_t* buf, size_t pos, size_t end, uint32_t maxDistance, uint32_t minLength,
                  LzMatch* out) const;
  // Links the waiting positions that the bytes up to end now cover.
  void InsertWaiting(const uint8_t* buf, size_t end, uint32_t maxDistance);
  // Finds (kCollect) or skips pos: linked when its string is known far
  // enough, searched and left waiting otherwise.
  template <bool kCollect>
  uint32_t Place(const uint8_t* buf, size_t pos, size_t end, uint32_t maxDistance, uint32_t minLength,
                 LzMatch* out);

  std::vector<int32_t> head4_;
  std::vector<int32_t> head3_;
  std::vector<int32_t> head2_;
  std::vector<int32_t> son_;  // two links per position: smaller, larger
  uint32_t hashBits_ = 0;
  uint32_t depth_ = 32;
  uint32_t nice_ = 64;
  // Positions [waitFrom_, waitTo_) are searched but not yet linked.
  size_t waitFrom_ = 0;
  size_t waitTo_ = 0;
};

}  // namespace tvk

#endif
