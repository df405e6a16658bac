// A small block walker for the tests: takes a volume apart the way the
// format describes, without the reader, so that layout faults show up here
// with the offending block at hand.
#ifndef TVK_TESTS_WRITER_WALK_H
#define TVK_TESTS_WRITER_WALK_H

#include <cstring>
#include <string>
#include <vector>

#include "crypto/cipher.h"
#include "crypto/crc32.h"
#include "writer/archive_writer.h"

namespace tvk::testing {

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct WalkedBlock {
  uint64_t position = 0;
  uint32_t lengthInFile = 0;
  Bytes head;  // plain
  uint8_t type = 0;
  uint16_t flags = 0;
  bool checkOk = false;
  uint64_t dataStart = 0;  // file entries and recovery blocks
  uint64_t dataLength = 0;
  bool subBlock = false;   // chained behind the block before
  bool comment = false;    // an entry's comment
};

struct WalkedVolume {
  size_t mainAt = 0;
  uint16_t mainFlags = 0;
  Bytes mainComment;  // plain comment head, if any
  std::vector<WalkedBlock> blocks;
  bool ok = false;
  std::string problem;
};

// Reads one head at pos (plain, or u16 L + ciphertext).
inline bool ReadHead(const Bytes& v, uint64_t pos, const std::string* password, WalkedBlock* b) {
  b->position = pos;
  if (password) {
    if (pos + 2 > v.size()) return false;
    uint32_t l = Le16(&v[pos]);
    if (pos + 2 + l > v.size() || l < 7) return false;
    Bytes plain(v.begin() + pos + 2, v.begin() + pos + 2 + l);
    plain.resize((l + 7) / 8 * 8);
    DecipherHeadBytes(password->c_str(), plain.data(), l);
    uint32_t size = Le16(&plain[5]);
    if (size < 7 || size > l) return false;
    plain.resize(size);
    b->head = plain;
    b->lengthInFile = l + 2;
  } else {
    if (pos + 7 > v.size()) return false;
    uint32_t size = Le16(&v[pos + 5]);
    if (size < 7 || pos + size > v.size()) return false;
    b->head.assign(v.begin() + pos, v.begin() + pos + size);
    b->lengthInFile = size;
  }
  b->type = b->head[2];
  b->flags = Le16(&b->head[3]);
  b->checkOk = Le16(&b->head[0]) == HeadCheckOf(b->head.data(), static_cast<uint32_t>(b->head.size()));
  return true;
}

inline uint64_t PackedSizeOf(const Bytes& h) {
  uint64_t packed = Le32(&h[25]);
  if (Le16(&h[3]) & fmt::kEntryLargeSizes) packed |= uint64_t(Le32(&h[33])) << 32;
  return packed;
}

inline WalkedVolume Walk(const Bytes& v, const std::string* password = nullptr) {
  WalkedVolume w;
  size_t at = 0;
  for (; at + 12 <= v.size(); ++at) {
    if (at >= 7 && std::memcmp(&v[at], "-tvk-", 5) == 0 && v[at - 5] == 'R') break;
  }
  if (at + 12 > v.size()) {
    w.problem = "no main header";
    return w;
  }
  w.mainAt = at - 7;
  w.mainFlags = Le16(&v[w.mainAt + 3]);
  uint64_t pos = w.mainAt + Le16(&v[w.mainAt + 5]);
  const std::string* pw = (w.mainFlags & fmt::kArcEncryptedHeads) ? password : nullptr;
  if ((w.mainFlags & fmt::kArcEncryptedHeads) && !password) {
    w.problem = "encrypted heads without a password";
    return w;
  }
  if (w.mainFlags & fmt::kArcComment) {
    WalkedBlock c;
    if (!ReadHead(v, pos, pw, &c) || c.type != 'C' || !c.checkOk) {
      w.problem = "bad archive comment";
      return w;
    }
    w.mainComment = c.head;
    pos += c.lengthInFile;
  }
  while (pos < v.size()) {
    WalkedBlock b;
    if (!ReadHead(v, pos, pw, &b)) {
      w.problem = "unreadable head at " + std::to_string(pos);
      return w;
    }
    pos += b.lengthInFile;
    const bool entry = b.type == 'D' || b.type == 'V';
    uint16_t chain = b.flags;
    const uint16_t entryFlags = b.flags;
    w.blocks.push_back(b);
    size_t owner = w.blocks.size() - 1;
    if (b.type == 'A' || b.type == 'S') {
      w.ok = true;
      return w;
    }
    if (b.type == 'X') {
      uint64_t a = Le32(&b.head[24]) | uint64_t(Le32(&b.head[28])) << 32;
      uint64_t bb = Le32(&b.head[16]) | uint64_t(Le32(&b.head[20])) << 32;
      w.blocks[owner].dataStart = pos;
      w.blocks[owner].dataLength = RecoveryDataLength(a, bb);
      pos += w.blocks[owner].dataLength;
      continue;
    }
    while (chain & fmt::kFlagSubBlock) {
      WalkedBlock s;
      if (!ReadHead(v, pos, pw, &s)) {
        w.problem = "unreadable sub-block at " + std::to_string(pos);
        return w;
      }
      s.subBlock = true;
      pos += s.lengthInFile;
      chain = s.flags;
      w.blocks.push_back(s);
    }
    if (entry && (entryFlags & fmt::kEntryComment)) {
      WalkedBlock c;
      if (!ReadHead(v, pos, pw, &c)) {
        w.problem = "unreadable entry comment";
        return w;
      }
      c.comment = true;
      pos += c.lengthInFile;
      w.blocks.push_back(c);
    }
    if (b.type == 'D') {
      w.blocks[owner].dataStart = pos;
      w.blocks[owner].dataLength = PackedSizeOf(b.head);
      pos += w.blocks[owner].dataLength;
    }
  }
  w.ok = pos == v.size();
  if (!w.ok) w.problem = "walk ended beyond the end of the volume";
  return w;
}

// The entry heads of a walked volume (file and folder heads only).
inline std::vector<WalkedBlock> Entries(const WalkedVolume& w) {
  std::vector<WalkedBlock> out;
  for (const WalkedBlock& b : w.blocks)
    if (!b.subBlock && !b.comment && (b.type == 'D' || b.type == 'V')) out.push_back(b);
  return out;
}

inline std::string NameOf(const WalkedBlock& b) {
  if (b.type == 'V') return std::string(b.head.begin() + 13, b.head.begin() + 13 + Le16(&b.head[11]));
  size_t off = (b.flags & fmt::kEntryLargeSizes) ? 41 : 33;
  return std::string(b.head.begin() + off + 2, b.head.begin() + off + 2 + Le16(&b.head[off]));
}

}  // namespace tvk::testing

#endif
