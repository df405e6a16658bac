// The bytes of single structures: checked against the worked example and
// against values computed here independently of the writer's code paths.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "crypto/crc32.h"
#include "writer/archive_text.h"
#include "writer/archive_writer.h"

#ifdef TVK_HAVE_ORACLES
#include <zlib.h>
#endif

namespace tvk {
namespace {

Bytes Hex(const char* text) {
  Bytes out;
  for (const char* p = text; *p;) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    out.push_back(static_cast<uint8_t>(std::strtoul(std::string(p, 2).c_str(), nullptr, 16)));
    p += 2;
  }
  return out;
}

uint32_t U32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}
uint16_t U16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

TEST(EntryHead, WorkedExampleIsReproducedByteForByte) {
  EntryHeadFields f;
  f.info = 20;
  f.version = 11;
  f.method = 4;
  f.crc = 0x6D070F6D;
  f.attributes = 0x20;
  f.dosTime = 0x3D5309AE;
  f.packedSize = 1780;
  f.unpackedSize = 3649;
  f.name = "Liesmich.rtf";
  Bytes expected = Hex(
      "78 73 44 00 00 2F 00 00 00 00 14 0B 04 6D 0F 07 6D 20 00 00 00 AE 09 53 3D F4 06 00 00 41 "
      "0E 00 00 0C 00");
  expected.insert(expected.end(), f.name.begin(), f.name.end());
  EXPECT_EQ(BuildEntryHead(f), expected);
}

TEST(EntryHead, CrcFieldIsTheComplementOfTheStandardCrc) {
  const char text[] = "123456789";
#ifdef TVK_HAVE_ORACLES
  uint32_t standard = static_cast<uint32_t>(
      crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(text), 9));
  EXPECT_EQ(EntryCrc(reinterpret_cast<const uint8_t*>(text), 9), ~standard);
#endif
  // The published check value of CRC-32 over "123456789" is 0xCBF43926.
  EXPECT_EQ(EntryCrc(reinterpret_cast<const uint8_t*>(text), 9), ~0xCBF43926u);
  EXPECT_EQ(EntryCrc(nullptr, 0), 0xFFFFFFFFu);
}

TEST(EntryHead, LargeSizesMoveTheNameBehindTheHighHalves) {
  EntryHeadFields f;
  f.flags = fmt::kEntryLargeSizes;
  f.packedSize = 0x0000000123456789ull;
  f.unpackedSize = 0x0000000A87654321ull;
  f.name = "big.bin";
  Bytes h = BuildEntryHead(f);
  ASSERT_EQ(h.size(), 43u + 7u);
  EXPECT_EQ(U16(h, 5), 50);
  EXPECT_EQ(U32(h, 25), 0x23456789u);
  EXPECT_EQ(U32(h, 29), 0x87654321u);
  EXPECT_EQ(U32(h, 33), 0x1u);
  EXPECT_EQ(U32(h, 37), 0xAu);
  EXPECT_EQ(U16(h, 41), 7);
  EXPECT_EQ(std::string(h.begin() + 43, h.end()), "big.bin");
  EXPECT_EQ(U16(h, 0), HeadCheckOf(h.data(), 50));

  // Without the flag only the low halves are kept.
  f.flags = 0;
  Bytes small = BuildEntryHead(f);
  EXPECT_EQ(small.size(), 35u + 7u);
  EXPECT_EQ(U16(small, 33), 7);
}

TEST(EntryHead, FolderLayout) {
  EntryHeadFields f;
  f.folder = true;
  f.flags = fmt::kEntryComment;
  f.attributes = 0x10;
  f.name = "docs";
  Bytes h = BuildEntryHead(f);
  ASSERT_EQ(h.size(), 17u);
  EXPECT_EQ(h[2], 'V');
  EXPECT_EQ(U16(h, 3), fmt::kEntryComment);
  EXPECT_EQ(U16(h, 5), 17);
  EXPECT_EQ(U32(h, 7), 0x10u);
  EXPECT_EQ(U16(h, 11), 4);
  EXPECT_EQ(std::string(h.begin() + 13, h.end()), "docs");
}

TEST(BlockHeads, CheckMatchesAnIndependentCrcAndTheStoredEndMarker) {
  EXPECT_EQ(MakeHead(fmt::kTypeEnd, 0, {}), EndMarker());
  EXPECT_EQ(EndMarker(), Hex("3E 2B 53 00 00 07 00"));

  Bytes main = BuildMainHeader({});
  ASSERT_EQ(main.size(), 25u);
  EXPECT_EQ(main[2], 'R');
  EXPECT_EQ(std::string(main.begin() + 7, main.begin() + 12), "-tvk-");
  EXPECT_EQ(main[12], 0x0B);
  for (size_t i = 13; i < 25; ++i) EXPECT_EQ(main[i], 0) << i;
#ifdef TVK_HAVE_ORACLES
  uint32_t standard = static_cast<uint32_t>(crc32(0, main.data() + 2, 23));
  EXPECT_EQ(U16(main, 0), static_cast<uint16_t>(~standard & 0xFFFF));
#endif
}

TEST(BlockHeads, CommentForms) {
  CommentFields ansi;
  ansi.text = {'H', 'i'};
  Bytes a = BuildCommentHead(ansi);
  ASSERT_EQ(a.size(), 15u);
  EXPECT_EQ(a[2], 'C');
  EXPECT_EQ(U16(a, 3), 0);
  EXPECT_EQ(a[13], 'H');

  CommentFields oem;
  oem.form = TextForm::kOem;
  oem.text = {0x81};  // u-umlaut in the OEM code page
  EXPECT_EQ(U16(BuildCommentHead(oem), 3), fmt::kCommentOem);

  CommentFields wide;
  wide.form = TextForm::kUtf16;
  wide.text = Utf8ToUtf16Le("\xC3\xA4\xE2\x82\xAC");  // a-umlaut, euro
  Bytes w = BuildCommentHead(wide);
  EXPECT_EQ(U16(w, 3), fmt::kCommentUtf16);
  EXPECT_EQ(Bytes(w.begin() + 13, w.end()), Hex("E4 00 AC 20"));

  // An empty comment is the bare 13-byte head.
  EXPECT_EQ(BuildCommentHead(CommentFields{}).size(), 13u);
}

TEST(BlockHeads, SubBlocksAndRecovery) {
  Bytes t = BuildFileTimesHead({1, 2}, {3, 4}, {5, 6}, fmt::kFlagSubBlock);
  ASSERT_EQ(t.size(), fmt::kFileTimesHeadSize);
  EXPECT_EQ(t[2], 'I');
  EXPECT_EQ(U16(t, 3), fmt::kFlagSubBlock);
  EXPECT_EQ(std::string(t.begin() + 7, t.begin() + 11), "PHTV");
  EXPECT_EQ(U32(t, 11), 1u);
  EXPECT_EQ(U32(t, 15), 2u);
  EXPECT_EQ(U32(t, 19), 3u);
  EXPECT_EQ(U32(t, 27), 5u);
  EXPECT_EQ(U32(t, 31), 6u);

  Bytes u = BuildUnixModeHead(0755);
  ASSERT_EQ(u.size(), fmt::kUnixModeHeadSize);
  EXPECT_EQ(std::string(u.begin() + 7, u.begin() + 11), "UXTV");
  EXPECT_EQ(U32(u, 11), 0755u);

  RecoveryFields r;
  r.value = 77;
  r.a = 1;
  r.b = 3;
  Bytes rh = BuildRecoveryHead(r);
  ASSERT_EQ(rh.size(), fmt::kRecoveryHeadSize);
  EXPECT_EQ(U32(rh, 12), 77u);
  EXPECT_EQ(U32(rh, 16), 3u);
  EXPECT_EQ(U32(rh, 24), 1u);
  EXPECT_EQ(RecoveryDataLength(1, 3), 518u);
}

TEST(VolumeNames, CountersAndExtensions) {
  EXPECT_EQ(VolumeName("data.exe", 1), "data.001");
  EXPECT_EQ(VolumeName("data.exe", 9), "data.009");
  EXPECT_EQ(VolumeName("data.exe", 10), "data.010");
  EXPECT_EQ(VolumeName("data.exe", 100), "data.100");
  EXPECT_EQ(VolumeName("data.exe", 1000), "data.1000");
  EXPECT_EQ(VolumeName("dir/data", 2), "dir/data.002");
  EXPECT_EQ(VolumeName("my.dir/data", 2), "my.dir/data.002");
  EXPECT_EQ(VolumeName("a.b.tvk", 1), "a.b.001");
}

void SetZone(const char* zone) {
#if defined(_WIN32)
  _putenv_s("TZ", zone ? zone : "");
  _tzset();
#else
  if (zone) {
    setenv("TZ", zone, 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
#endif
}

TEST(Times, DosStampAndFileTime) {
  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  SetZone("UTC0");
  // 2010-10-19 01:13:28 UTC: the stamp of the worked example.
  EXPECT_EQ(DosTimeFromUnix(1287450808), 0x3D5309AEu);
  // Odd seconds round down to the two-second grid.
  EXPECT_EQ(DosTimeFromUnix(1287450809), 0x3D5309AEu);
  EXPECT_EQ(DosTimeFromUnix(0), 0x00210000u);  // before 1980: 1980-01-01
  SetZone(old ? saved.c_str() : nullptr);

  FileTime epoch = FileTimeFromUnix(0, 0);
  uint64_t ticks = uint64_t(epoch.high) << 32 | epoch.low;
  EXPECT_EQ(ticks, 116444736000000000ull);
  FileTime t = FileTimeFromUnix(1, 250);
  EXPECT_EQ((uint64_t(t.high) << 32 | t.low) - ticks, 10000002ull);
}

TEST(ArchiveText, Windows1252WhenPossibleUtf8Otherwise) {
  bool fell = false;
  // a-umlaut, euro sign, ellipsis, and plain ASCII.
  EXPECT_EQ(ArchiveText("\xC3\xA4\xE2\x82\xAC\xE2\x80\xA6x", &fell), "\xE4\x80\x85x");
  EXPECT_FALSE(fell);
  // A Cyrillic letter has no Windows-1252 form: the text stays UTF-8.
  EXPECT_EQ(ArchiveText("\xD0\x96", &fell), "\xD0\x96");
  EXPECT_TRUE(fell);
  // Bytes that are not UTF-8 are kept as they are.
  fell = false;
  EXPECT_EQ(ArchiveText("\xE9t\xE9", &fell), "\xE9t\xE9");
  EXPECT_TRUE(fell);
  // Overlong forms and truncated sequences are not UTF-8.
  std::string out;
  EXPECT_FALSE(Utf8ToWindows1252("\xC1\x81", &out));
  EXPECT_FALSE(Utf8ToWindows1252("\xC3", &out));
  EXPECT_EQ(Windows1252ToUtf8("\xE4\x80"), "\xC3\xA4\xE2\x82\xAC");

  // Characters beyond the basic plane take surrogate pairs.
  EXPECT_EQ(Utf8ToUtf16Le("\xF0\x9F\x98\x80"), Hex("3D D8 00 DE"));
}

}  // namespace
}  // namespace tvk
