// Head decoding, names, volume names and masks, from hand-built bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/blocks.h"
#include "archive/format.h"
#include "archive/path_rules.h"
#include "crypto/cipher.h"
#include "crypto/crc32.h"
#include "platform/result_codes.h"

namespace tvk {
namespace {

std::vector<uint8_t> WorkedExampleHead() {
  std::vector<uint8_t> head = {0x78, 0x73, 0x44, 0x00, 0x00, 0x2F, 0x00, 0x00, 0x00,
                               0x00, 0x14, 0x0B, 0x04, 0x6D, 0x0F, 0x07, 0x6D, 0x20,
                               0x00, 0x00, 0x00, 0xAE, 0x09, 0x53, 0x3D, 0xF4, 0x06,
                               0x00, 0x00, 0x41, 0x0E, 0x00, 0x00, 0x0C, 0x00};
  // Appended a byte at a time: gcc 12 sees a bulk insert here as a read
  // past the head's first 35 bytes.
  for (const char c : std::string("Liesmich.rtf")) head.push_back(uint8_t(c));
  return head;
}

FileEntry Decode(const std::vector<uint8_t>& head, uint32_t* err, bool continuation = false) {
  FileEntry e;
  std::memset(&e, 0, sizeof(e));
  EntryDecodeContext ctx{continuation, false, false};
  BlockHeader h = ParseBlockHeader(head.data());
  *err = h.type == fmt::kTypeFolder
             ? DecodeFolderHead(head.data(), static_cast<uint32_t>(head.size()), &e, &ctx)
             : DecodeEntryHead(head.data(), static_cast<uint32_t>(head.size()), &e, &ctx);
  return e;
}

void Seal(std::vector<uint8_t>& head) {
  head[5] = static_cast<uint8_t>(head.size());
  head[6] = static_cast<uint8_t>(head.size() >> 8);
  uint16_t check = HeadCheckOf(head.data(), static_cast<uint32_t>(head.size()));
  head[0] = static_cast<uint8_t>(check);
  head[1] = static_cast<uint8_t>(check >> 8);
}

TEST(BlockHeads, WorkedExampleDecodesToItsValues) {
  std::vector<uint8_t> head = WorkedExampleHead();
  ASSERT_EQ(head.size(), 47u);
  EXPECT_TRUE(HeadCheckGood(head.data(), 47));
  BlockHeader h = ParseBlockHeader(head.data());
  EXPECT_EQ(h.headCheck, 0x7378);
  EXPECT_EQ(h.type, 'D');
  EXPECT_EQ(h.flags, 0);
  EXPECT_EQ(h.size, 47);

  uint32_t err = 1;
  FileEntry e = Decode(head, &err);
  ASSERT_EQ(err, 0u);
  EXPECT_STREQ(e.name, "Liesmich.rtf");
  EXPECT_EQ(e.nameLength, 12u);
  EXPECT_EQ(e.filterByte, 0u);
  EXPECT_EQ(e.infoByte, 20u);
  EXPECT_EQ(e.version, 11u);
  EXPECT_EQ(e.method, 4u);
  EXPECT_EQ(e.crc, 0x6D070F6Du);
  EXPECT_EQ(~e.crc, 0x92F8F092u);
  EXPECT_EQ(e.attributes, 0x20u);
  EXPECT_EQ(e.packedSize, 1780u);
  EXPECT_EQ(e.unpackedSize, 3649u);
  EXPECT_EQ(e.encryptionKind, 0u);
  EXPECT_EQ(e.isEntry, 1u);
  // 01:13:28 on 2010-10-19.
  uint16_t time = static_cast<uint16_t>(e.dosTime), date = static_cast<uint16_t>(e.dosTime >> 16);
  EXPECT_EQ(time >> 11, 1);
  EXPECT_EQ((time >> 5) & 63, 13);
  EXPECT_EQ((time & 31) * 2, 28);
  EXPECT_EQ((date >> 9) + 1980, 2010);
  EXPECT_EQ((date >> 5) & 15, 10);
  EXPECT_EQ(date & 31, 19);

  // One flipped bit anywhere behind the check fails it.
  head[30] ^= 0x10;
  EXPECT_FALSE(HeadCheckGood(head.data(), 47));
}

TEST(BlockHeads, EndMarkerBytesPassTheirCheck) {
  EXPECT_TRUE(HeadCheckGood(fmt::kEndMarker, 7));
  BlockHeader h = ParseBlockHeader(fmt::kEndMarker);
  EXPECT_EQ(h.type, fmt::kTypeEnd);
  EXPECT_EQ(h.size, 7);
}

TEST(BlockHeads, LargeSizesMoveTheName) {
  std::vector<uint8_t> head(43, 0);
  head[2] = 'D';
  head[3] = 0x80 | 0x02;  // 64-bit sizes, kind 1
  head[4] = 0x10;         // and 0x1000: kind 1 still wins
  head[11] = 20;
  // packed low 1, unpacked low 2, packed high 3, unpacked high 4
  head[25] = 1;
  head[29] = 2;
  head[33] = 3;
  head[37] = 4;
  head[41] = 2;  // name length
  head.push_back('a');
  head.push_back('b');
  Seal(head);
  uint32_t err = 1;
  FileEntry e = Decode(head, &err);
  ASSERT_EQ(err, 0u);
  EXPECT_EQ(e.packedSize, (3ull << 32) | 1);
  EXPECT_EQ(e.unpackedSize, (4ull << 32) | 2);
  EXPECT_STREQ(e.name, "ab");
  EXPECT_EQ(e.encryptionKind, 1u);

  head[3] = 0x80;  // kind 2 alone
  Seal(head);
  e = Decode(head, &err);
  EXPECT_EQ(e.encryptionKind, 2u);
}

// An encrypted head opens only whole, under its own password, and within the
// bytes that were stored for it: a size field past them is not believed.
TEST(BlockHeads, EncryptedHeadsOpenOnlyWholeUnderTheirPassword) {
  const std::vector<uint8_t> head = WorkedExampleHead();
  const uint32_t n = uint32_t(head.size());
  auto stored = [&](uint32_t length, const char* password) {
    std::vector<uint8_t> b(head.begin(), head.begin() + length);
    b.resize((length + 7) / 8 * 8);
    EncipherHeadBytes(password, b.data(), length);
    return b;
  };
  auto b = stored(n, "secret");
  EXPECT_EQ(OpenEncryptedHead("secret", b.data(), n), n);
  EXPECT_TRUE(std::equal(head.begin(), head.end(), b.begin()));
  b = stored(n, "secret");
  EXPECT_EQ(OpenEncryptedHead("Secret", b.data(), n), 0u);
  // Stored with fewer bytes than its size field names.
  b = stored(n - 1, "secret");
  EXPECT_EQ(OpenEncryptedHead("secret", b.data(), n - 1), 0u);
  b = stored(6, "secret");
  EXPECT_EQ(OpenEncryptedHead("secret", b.data(), 6), 0u);
  // Padding behind the head is allowed: the head is what its size says.
  std::vector<uint8_t> padded = head;
  padded.resize(n + 9, 0xAA);
  padded.resize((n + 9 + 7) / 8 * 8);
  EncipherHeadBytes("secret", padded.data(), n + 9);
  EXPECT_EQ(OpenEncryptedHead("secret", padded.data(), n + 9), n);
}

TEST(BlockHeads, ShortHeadsAndOverlongNamesAreInvalidData) {
  std::vector<uint8_t> head = WorkedExampleHead();
  uint32_t err = 0;
  // Name length one past the head.
  head[33] = 13;
  Seal(head);
  Decode(head, &err);
  EXPECT_EQ(err, kErrData);
  // Shorter than the fixed fields.
  std::vector<uint8_t> tiny(head.begin(), head.begin() + 20);
  Seal(tiny);
  Decode(tiny, &err);
  EXPECT_EQ(err, kErrData);
  // A folder head without room for its name.
  std::vector<uint8_t> folder = {0, 0, 'V', 0, 0, 0, 0, 0x10, 0, 0, 0, 5, 0, 'd', 'o'};
  Seal(folder);
  Decode(folder, &err);
  EXPECT_EQ(err, kErrData);
  folder[11] = 2;
  Seal(folder);
  FileEntry e = Decode(folder, &err);
  EXPECT_EQ(err, 0u);
  EXPECT_STREQ(e.name, "do\\");
  EXPECT_EQ(e.attributes, 0x10u);
}

TEST(BlockHeads, ContinuedEntryNeedsAnExpectedContinuation) {
  std::vector<uint8_t> head = WorkedExampleHead();
  head[3] = fmt::kEntryContinued;
  Seal(head);
  uint32_t err = 0;
  Decode(head, &err, false);
  EXPECT_EQ(err, kErrContinuation);
  Decode(head, &err, true);
  EXPECT_EQ(err, 0u);
}

std::string Cleaned(const char* in, bool asEntry = true) {
  char buffer[kPathSize] = {};
  std::strcpy(buffer, in);
  if (asEntry) {
    RemoveNameRoot(buffer);
    for (char* p = buffer; *p; ++p) if (*p == '/') *p = '\\';
  }
  CleanEntryName(buffer, sizeof(buffer));
  return buffer;
}

TEST(EntryNames, CleaningRules) {
  EXPECT_EQ(Cleaned("..\\..\\x.txt"), "x.txt");
  EXPECT_EQ(Cleaned("a\\..\\b.txt"), "a\\b.txt");
  EXPECT_EQ(Cleaned("a..b.txt"), "a..b.txt");
  EXPECT_EQ(Cleaned("./x"), "x");
  EXPECT_EQ(Cleaned("\\\\srv\\share\\d\\f"), "d\\f");
  EXPECT_EQ(Cleaned("C:\\d\\f"), "d\\f");
  EXPECT_EQ(Cleaned("a?b|c"), "a_b_c");
  EXPECT_EQ(Cleaned("tab\there"), "tab_here");
  EXPECT_EQ(Cleaned("q\"*<>"), "q____");
  EXPECT_EQ(Cleaned("/etc/passwd"), "etc\\passwd");
  EXPECT_EQ(Cleaned("..x"), "x");
  EXPECT_EQ(Cleaned("a\\.."), "a\\");
  EXPECT_EQ(Cleaned("...\\...\\x"), "x");  // the cleaning ends
  EXPECT_EQ(Cleaned("c:stream"), "c:stream");  // the colon is not replaced here
}

TEST(EntryNames, JoinedNamesCannotLeaveTheTarget) {
  EXPECT_TRUE(RelativeNameIsSafe("a\\b.txt"));
  EXPECT_TRUE(RelativeNameIsSafe("a..b"));
  EXPECT_FALSE(RelativeNameIsSafe("..\\x"));
  EXPECT_FALSE(RelativeNameIsSafe("a\\..\\..\\x"));
  EXPECT_FALSE(RelativeNameIsSafe("\\x"));
  // Whatever cleaning leaves is safe to join.
  const char* hostile[] = {"..\\..\\..\\etc\\x", "a/../../b", "....//....//x", "\\\\?\\c:\\x",
                           "..\\/..\\/x", "a\\.\\..\\..\\b"};
  for (const char* h : hostile) {
    std::string c = Cleaned(h);
    EXPECT_TRUE(RelativeNameIsSafe(c.c_str())) << h << " -> " << c;
  }
#if defined(_WIN32)
  EXPECT_FALSE(RelativeNameIsSafe("file.txt:stream"));
  EXPECT_FALSE(RelativeNameIsSafe("c:x"));
  EXPECT_FALSE(RelativeNameIsSafe("a\\...\\b"));
#else
  EXPECT_TRUE(RelativeNameIsSafe("file.txt:stream"));
#endif
}

TEST(VolumeNames, ExtensionReplacedByPaddedCounter) {
  char out[kPathSize];
  struct Case {
    const char* current;
    uint32_t counter;
    const char* expected;
  } cases[] = {
      {"C:\\x\\data.exe", 1, "C:\\x\\data.001"},  {"data.exe", 9, "data.009"},
      {"data.exe", 10, "data.010"},               {"data.exe", 99, "data.099"},
      {"data.exe", 100, "data.100"},              {"data.exe", 1000, "data.1000"},
      {"dir.v\\data", 1, "dir.v\\data.001"},      {"setup.001", 2, "setup.002"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(FormVolumeName(c.current, c.counter, out, sizeof(out)));
    EXPECT_STREQ(out, c.expected);
  }
  EXPECT_TRUE(IsVolumeNameOf("C:\\x\\setup.exe", "c:\\X\\SETUP.002"));
  EXPECT_TRUE(IsVolumeNameOf("C:\\x\\setup.exe", "C:\\x\\setup.1000"));
  EXPECT_FALSE(IsVolumeNameOf("C:\\x\\setup.exe", "C:\\x\\setup.000"));
  EXPECT_FALSE(IsVolumeNameOf("C:\\x\\setup.exe", "C:\\x\\setup.01"));
  EXPECT_FALSE(IsVolumeNameOf("C:\\x\\setup.exe", "C:\\y\\setup.001"));
  EXPECT_FALSE(IsVolumeNameOf("C:\\x\\setup.exe", "C:\\x\\setupx.001"));
  EXPECT_FALSE(IsVolumeNameOf("C:\\x\\setup.exe", "C:\\x\\setup.txt"));
}

TEST(Masks, FilePartsByWildcardFolderPartsByRule) {
  EXPECT_TRUE(MaskMatches("*.*", "a\\b\\c"));
  EXPECT_TRUE(MaskMatches("*.*", "docs\\"));
  EXPECT_TRUE(MaskMatches("*.txt", "deep\\x.TXT"));
  EXPECT_TRUE(MaskMatches("docs\\*.txt", "DOCS\\sub\\x.txt"));
  EXPECT_FALSE(MaskMatches("docs\\*.txt", "other\\x.txt"));
  EXPECT_TRUE(MaskMatches("readme.txt", "README.TXT"));
  EXPECT_FALSE(MaskMatches("readme.txt", "docs\\readme.txt"));
  EXPECT_TRUE(MaskMatches("docs\\read?e.txt", "docs\\readme.txt"));
  EXPECT_TRUE(MaskMatches("c:\\docs\\readme.txt", "docs\\readme.txt"));
  // "/" selects nothing, folders included.
  EXPECT_FALSE(MaskMatches("/", "a.txt"));
  EXPECT_FALSE(MaskMatches("/", "docs\\"));
}

}  // namespace
}  // namespace tvk
