// A damaged encrypted head met after the archive was opened: the stored
// directory password has just failed on it, so it must not be handed out
// again and again; the question goes to the user, and the end of the
// answers ends the run at once.
#include <cstring>

#include "crypto/cipher.h"
#include "tests/e2e/linux_harness.h"

namespace tvk::e2e {
namespace {

class DamagedHeads : public LinuxSfx {};

uint16_t U16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
uint32_t U32(const std::string& b, size_t at) {
  return uint32_t(U16(b, at)) | uint32_t(U16(b, at + 2)) << 16;
}

// Deciphers the head stored at `at` (u16 length, then the enciphered bytes)
// and answers its plain bytes; `stored` receives its length in the file.
std::string PlainHead(const std::string& archive, size_t at, const char* password, size_t* stored) {
  uint16_t length = U16(archive, at);
  std::string plain = archive.substr(at + 2, length);
  plain.resize((plain.size() + 7) / 8 * 8);
  DecipherHeadBytes(password, reinterpret_cast<uint8_t*>(plain.data()),
                    static_cast<uint32_t>(length));
  *stored = size_t(length) + 2;
  return plain;
}

// The file position of the n-th (from 1) file entry head of an archive
// with encrypted heads that starts at offset 0.
size_t NthFileHead(const std::string& archive, int n, const char* password) {
  size_t at = U16(archive, 5);  // behind the main header
  while (at + 2 < archive.size()) {
    size_t stored = 0;
    std::string head = PlainHead(archive, at, password, &stored);
    uint8_t type = static_cast<uint8_t>(head[2]);
    uint16_t flags = U16(head, 3);
    if (type == 'S' || type == 'A') break;
    uint64_t data = 0;
    if (type == 'D') {
      if (--n == 0) return at;
      data = U32(head, 25);
      if (flags & 0x80) data |= uint64_t(U32(head, 33)) << 32;
    }
    at += stored;
    while (flags & 0x8000) {  // sub-blocks chained behind the head
      std::string sub = PlainHead(archive, at, password, &stored);
      flags = U16(sub, 3);
      at += stored;
    }
    at += data;
  }
  return 0;
}

TEST_F(DamagedHeads, QuietRunEndsAtOnceInsteadOfAskingItselfForEver) {
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
    WriteFile(dir_ / "src/tree" / name, Pseudo(3000, name[0]));
  }
  Pack("eh.tvk", "-m0 -psecret --encrypt-headers");
  std::string archive = ReadFile(dir_ / "eh.tvk");
  size_t third = NthFileHead(archive, 3, "secret");
  ASSERT_GT(third, 0u);
  archive[third + 2 + 9] ^= 0x40;  // a byte of the head's ciphertext
  WriteFile(dir_ / "eh.tvk", archive);
  BuildSfx("eh", "eh.tvk", QuietInto("eh-out"));

  // The directory password, the file password, then the end of the answers.
  // The time limit only ends a run that hangs; the count of questions below
  // is what shows that it did not ask itself again and again.
  Result r = RunSfx("eh", "secret\nsecret\n", 20);
  EXPECT_EQ(r.code, 9) << r.output;
  // Asked at the open, and again, by the user, once the stored one failed.
  EXPECT_EQ(Count(r.output, "The directory of eh is protected"), 2u) << r.output;
  // The entries in front of the damage arrived intact.
  EXPECT_EQ(ReadFile(dir_ / "eh-out/tree/a.txt"), Pseudo(3000, 'a'));
  EXPECT_EQ(ReadFile(dir_ / "eh-out/tree/b.txt"), Pseudo(3000, 'b'));
  EXPECT_FALSE(fs::exists(dir_ / "eh-out/tree/c.txt"));
}

}  // namespace
}  // namespace tvk::e2e
