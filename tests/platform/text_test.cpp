// Texts from archives and payloads into the system's form: the ANSI and OEM
// code pages and UTF-16LE.
#include <string.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "scratch_folder.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

std::string Ansi(const std::string& in, uint32_t size = 256) {
  std::vector<char> buf(std::max<size_t>(size, in.size() + 1), '#');
  memcpy(buf.data(), in.data(), in.size());
  uint32_t n = tvk::AnsiToSystem(buf.data(), static_cast<uint32_t>(in.size()), size);
  EXPECT_EQ(buf[n], '\0');
  return std::string(buf.data(), n);
}

std::string Oem(const std::string& in, uint32_t size = 256) {
  std::vector<char> buf(std::max<size_t>(size, in.size() + 1), '#');
  memcpy(buf.data(), in.data(), in.size());
  uint32_t n = tvk::OemToSystem(buf.data(), static_cast<uint32_t>(in.size()), size);
  EXPECT_EQ(buf[n], '\0');
  return std::string(buf.data(), n);
}

std::string Utf16(const std::vector<uint16_t>& units, uint32_t size = 256) {
  std::vector<uint8_t> bytes;
  bytes.push_back(0xEE);  // the units need not be aligned
  for (uint16_t u : units) {
    bytes.push_back(static_cast<uint8_t>(u));
    bytes.push_back(static_cast<uint8_t>(u >> 8));
  }
  std::vector<char> out(size, '#');
  uint32_t n = tvk::Utf16ToSystem(bytes.data() + 1, static_cast<uint32_t>(units.size()), out.data(), size);
  EXPECT_EQ(out[n], '\0');
  return std::string(out.data(), n);
}

TEST(Text, PlainAsciiIsUnchangedEverywhere) {
  EXPECT_EQ(Ansi("Setup 1.0\\readme.txt"), "Setup 1.0\\readme.txt");
  EXPECT_EQ(Oem("Setup 1.0\\readme.txt"), "Setup 1.0\\readme.txt");
  EXPECT_EQ(Utf16({'a', 'b', 'c'}), "abc");
  EXPECT_EQ(Ansi(""), "");
  EXPECT_EQ(Ansi("abcdef", 4), "abc");
  EXPECT_EQ(Oem("abcdef", 4), "abc");
  EXPECT_EQ(Utf16({'a', 'b', 'c', 'd'}, 3), "ab");
  EXPECT_EQ(Utf16({'a', 0, 'c'}), "a");  // stops at a NUL unit
}

#if !defined(_WIN32)
TEST(Text, AnsiIsUtf8OrElseWindows1252) {
  // Valid UTF-8 stays as it is.
  EXPECT_EQ(Ansi("Gr\xC3\xBC\xC3\x9F" "e"), "Gr\xC3\xBC\xC3\x9F" "e");
  // Otherwise every byte is Windows-1252.
  EXPECT_EQ(Ansi("Gr\xFC\xDF" "e"), "Gr\xC3\xBC\xC3\x9F" "e");
  EXPECT_EQ(Ansi("\x80 \x9F \xA0 \xFF \x81"),
            "\xE2\x82\xAC \xC5\xB8 \xC2\xA0 \xC3\xBF \xC2\x81");
  EXPECT_EQ(Ansi("\x93quoted\x94 \x96 \x85"),
            "\xE2\x80\x9Cquoted\xE2\x80\x9D \xE2\x80\x93 \xE2\x80\xA6");
  // Overlong forms, surrogates and cut sequences are not UTF-8.
  EXPECT_EQ(Ansi("\xC0\xAF"), "\xC3\x80\xC2\xAF");
  EXPECT_EQ(Ansi("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");
  EXPECT_EQ(Ansi("ab\xC3"), "ab\xC3\x83");

  // Cut to whole characters within size - 1 bytes.
  EXPECT_EQ(Ansi("a\xE4\xF6", 5), "a\xC3\xA4");
  EXPECT_EQ(Ansi("a\xE4\xF6", 4), "a\xC3\xA4");
  EXPECT_EQ(Ansi("a\xE4\xF6", 3), "a");
  EXPECT_EQ(Ansi("a\xC3\xA4\xC3\xB6", 5), "a\xC3\xA4");
  EXPECT_EQ(Ansi("\x80\x80", 4), "\xE2\x82\xAC");
}

TEST(Text, OemIsCodePage850) {
  EXPECT_EQ(Oem("M\x81ller \x8E\x99\x9A \xE1"), "M\xC3\xBCller \xC3\x84\xC3\x96\xC3\x9C \xC3\x9F");
  EXPECT_EQ(Oem("\x80\x9B\x9F\xD5\xF2\xFE\xFF"),
            "\xC3\x87\xC3\xB8\xC6\x92\xC4\xB1\xE2\x80\x97\xE2\x96\xA0\xC2\xA0");
  EXPECT_EQ(Oem("\xC9\xCD\xBB"), "\xE2\x95\x94\xE2\x95\x90\xE2\x95\x97");  // box corners
  // Even a text that happens to be valid UTF-8 is read as code page 850.
  EXPECT_EQ(Oem("\xC3\xBC"), "\xE2\x94\x9C\xE2\x95\x9D");

  // Every Latin-1 character appears exactly once in the upper half.
  std::set<std::string> seen;
  for (int b = 0x80; b <= 0xFF; ++b) seen.insert(Oem(std::string(1, static_cast<char>(b))));
  EXPECT_EQ(seen.size(), 128u);
  for (int cp = 0xA0; cp <= 0xFF; ++cp) {
    std::string utf8 = {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
    EXPECT_EQ(seen.count(utf8), 1u) << "U+" << std::hex << cp;
  }
  // Cut within the size.
  EXPECT_EQ(Oem("\xB0\xB0", 6), "\xE2\x96\x91");
}

TEST(Text, Utf16ToUtf8) {
  EXPECT_EQ(Utf16({0x47, 0x72, 0xFC, 0xDF, 0x65}), "Gr\xC3\xBC\xC3\x9F" "e");
  EXPECT_EQ(Utf16({0x20AC}), "\xE2\x82\xAC");
  EXPECT_EQ(Utf16({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");  // a surrogate pair
  EXPECT_EQ(Utf16({0xD83D, 'x'}), "\xEF\xBF\xBD" "x");      // a lone high half
  EXPECT_EQ(Utf16({0xDE00}), "\xEF\xBF\xBD");               // a lone low half
  EXPECT_EQ(Utf16({0xD83D}), "\xEF\xBF\xBD");               // cut at the end
  EXPECT_EQ(Utf16({'a', 0x20AC}, 4), "a");                  // never half a character
  EXPECT_EQ(Utf16({'a', 0x20AC}, 5), "a\xE2\x82\xAC");
}

TEST(Text, UmlautNamesRoundTripThroughTheFileSystem) {
  tvk_test::ScratchFolder dir;
  // An entry name in code page 850 and one in Windows-1252 name one file.
  char oemName[64] = "Gr\x81\xE1" "e.txt";
  tvk::OemToSystem(oemName, static_cast<uint32_t>(strlen(oemName)), sizeof(oemName));
  char ansiName[64] = "Gr\xFC\xDF" "e.txt";
  tvk::AnsiToSystem(ansiName, static_cast<uint32_t>(strlen(ansiName)), sizeof(ansiName));
  ASSERT_STREQ(oemName, ansiName);

  const std::string path = dir / oemName;
  tvk::FileHandle h = tvk::CreateOutputFile((dir / (std::string("Ordner \xC3\xA4\\") + oemName)).c_str());
  ASSERT_NE(h, TVK_INVALID_FILE);
  tvk::FileClose(h);
  ASSERT_TRUE(tvk_test::WriteWholeFile(path, "inhalt"));

  // The bytes on disk are UTF-8.
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(tvk_test::SystemPath(dir.path()))) {
    names.insert(e.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"Gr\xC3\xBC\xC3\x9F" "e.txt", "Ordner \xC3\xA4"}));

  tvk::FindData data;
  ASSERT_EQ(tvk::FileFind(path.c_str(), &data), 1);
  EXPECT_STREQ(data.name, "Gr\xC3\xBC\xC3\x9F" "e.txt");
  // Masks compare without regard to case, umlauts included.
  ASSERT_EQ(tvk::FileFind((dir / "GR\xC3\x9C?E.*").c_str(), &data), 1);
  EXPECT_STREQ(data.name, "Gr\xC3\xBC\xC3\x9F" "e.txt");
  EXPECT_TRUE(tvk::FileExists((dir / "Ordner \xC3\xA4\\Gr\xC3\xBC\xC3\x9F" "e.txt").c_str()));
  EXPECT_TRUE(tvk::IsFolder((dir / "Ordner \xC3\xA4").c_str()));
  EXPECT_EQ(tvk_test::ReadWholeFile(path), "inhalt");
}
#else
TEST(Text, SystemCodePages) {
  if (GetACP() != 1252) GTEST_SKIP() << "ANSI code page " << GetACP();
  EXPECT_EQ(Ansi("Gr\xFC\xDF" "e"), "Gr\xFC\xDF" "e");
  EXPECT_EQ(Utf16({0x47, 0x72, 0xFC, 0xDF, 0x65, 0x20AC}), "Gr\xFC\xDF" "e\x80");
  // The umlauts and sharp s lie at the same bytes in code pages 437 and 850.
  if (GetOEMCP() != 850 && GetOEMCP() != 437) GTEST_SKIP() << "OEM code page " << GetOEMCP();
  EXPECT_EQ(Oem("M\x81ller \x9A \xE1"), "M\xFCller \xDC \xDF");
}
#endif

}  // namespace
