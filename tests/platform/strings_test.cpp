// Bounded strings, case, the wildcard match, window centring and memory.
#include <stdint.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

TEST(BoundedStrings, CopyReportsTruncation) {
  char buf[16];
  memset(buf, 'x', sizeof(buf));
  EXPECT_EQ(tvk::StrCopy(buf, 10, "0123456789"), tvk::kStrTruncated);
  EXPECT_STREQ(buf, "012345678");
  EXPECT_EQ(buf[10], 'x');  // nothing written behind the given size
  EXPECT_EQ(tvk::StrCopy(buf, 11, "0123456789"), tvk::kStrOk);
  EXPECT_STREQ(buf, "0123456789");
  EXPECT_EQ(tvk::StrCopy(buf, 1, "a"), tvk::kStrTruncated);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(tvk::StrCopy(buf, 1, ""), tvk::kStrOk);

  buf[0] = 'q';
  EXPECT_EQ(tvk::StrCopy(buf, 0, "a"), tvk::kStrInvalidArg);
  EXPECT_EQ(buf[0], 'q');
  EXPECT_EQ(tvk::StrCopy(buf, 0x80000000u, "a"), tvk::kStrInvalidArg);  // a negative size
}

TEST(BoundedStrings, CopyNReadsNoFurtherThanN) {
  char buf[16];
  const char unterminated[3] = {'a', 'b', 'c'};
  EXPECT_EQ(tvk::StrCopyN(buf, sizeof(buf), unterminated, 3), tvk::kStrOk);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(tvk::StrCopyN(buf, sizeof(buf), "abcdef", 2), tvk::kStrOk);
  EXPECT_STREQ(buf, "ab");
  EXPECT_EQ(tvk::StrCopyN(buf, 3, "abcdef", 4), tvk::kStrTruncated);
  EXPECT_STREQ(buf, "ab");
  EXPECT_EQ(tvk::StrCopyN(buf, 3, "abcdef", 2), tvk::kStrOk);
}

TEST(BoundedStrings, FindPairFindsTheFirstAdjacentPair) {
  const char* text = "a.b..c..";
  EXPECT_EQ(tvk::StrFindPair(text, '.', '.'), text + 3);
  EXPECT_EQ(tvk::StrFindPair(text + 4, '.', '.'), text + 6);
  EXPECT_EQ(tvk::StrFindPair(text + 7, '.', '.'), nullptr);  // one dot before the end
  EXPECT_EQ(tvk::StrFindPair("", '.', '.'), nullptr);
  const char* lines = "one\rtwo\r\nthree";
  EXPECT_EQ(tvk::StrFindPair(lines, '\r', '\n'), lines + 7);
  EXPECT_EQ(tvk::StrFindPair("\n\r", '\r', '\n'), nullptr);  // order matters
}

TEST(BoundedStrings, Append) {
  char buf[8] = "abc";
  EXPECT_EQ(tvk::StrAppend(buf, sizeof(buf), "def"), tvk::kStrOk);
  EXPECT_STREQ(buf, "abcdef");
  EXPECT_EQ(tvk::StrAppend(buf, sizeof(buf), "g"), tvk::kStrOk);  // exactly size - 1
  EXPECT_STREQ(buf, "abcdefg");
  EXPECT_EQ(tvk::StrAppend(buf, sizeof(buf), ""), tvk::kStrOk);
  EXPECT_EQ(tvk::StrAppend(buf, sizeof(buf), "h"), tvk::kStrTruncated);
  EXPECT_STREQ(buf, "abcdefg");
  strcpy(buf, "abc");
  EXPECT_EQ(tvk::StrAppend(buf, sizeof(buf), "defghij"), tvk::kStrTruncated);
  EXPECT_STREQ(buf, "abcdefg");

  // No terminator within the size: nothing is written.
  char full[4] = {'w', 'x', 'y', 'z'};
  EXPECT_EQ(tvk::StrAppend(full, sizeof(full), "a"), tvk::kStrInvalidArg);
  EXPECT_EQ(memcmp(full, "wxyz", 4), 0);
}

TEST(BoundedStrings, Format) {
  char buf[8];
  EXPECT_EQ(tvk::StrFormat(buf, sizeof(buf), "%s-%d", "ab", 1234), tvk::kStrOk);  // 7 = size - 1
  EXPECT_STREQ(buf, "ab-1234");
  EXPECT_EQ(tvk::StrFormat(buf, sizeof(buf), "%s-%d", "ab", 12345), tvk::kStrTruncated);
  EXPECT_STREQ(buf, "ab-1234");
  EXPECT_EQ(tvk::StrFormat(buf, sizeof(buf), "%llu", 123456789012ull), tvk::kStrTruncated);
  EXPECT_STREQ(buf, "1234567");
  EXPECT_EQ(tvk::StrFormat(buf, 0, "x"), tvk::kStrInvalidArg);
  EXPECT_EQ(tvk::StrFormat(buf, sizeof(buf), "%zu%%", static_cast<size_t>(99)), tvk::kStrOk);
  EXPECT_STREQ(buf, "99%");
}

TEST(BoundedStrings, Duplicate) {
  char* d = tvk::StrDuplicate("Liesmich.txt");
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ(d, "Liesmich.txt");
  tvk::MemFree(d);
  EXPECT_EQ(tvk::StrDuplicate(nullptr), nullptr);
}

TEST(Case, AsciiUpperAndCompare) {
  char s[] = "setup-1.exe";
  tvk::StrUpper(s);
  EXPECT_STREQ(s, "SETUP-1.EXE");
  EXPECT_EQ(tvk::StrCompareNoCase("Readme.TXT", "README.txt"), 0);
  EXPECT_LT(tvk::StrCompareNoCase("abc", "ABD"), 0);
  EXPECT_GT(tvk::StrCompareNoCase("abd", "ABC"), 0);
  EXPECT_LT(tvk::StrCompareNoCase("ab", "ABC"), 0);
  EXPECT_GT(tvk::StrCompareNoCase("abc", "AB"), 0);
}

TEST(Case, LatinLetters) {
#if defined(_WIN32)
  if (GetACP() != 1252) GTEST_SKIP() << "ANSI code page " << GetACP();
  const std::string lower = "\xE4\xF6\xFC\xE9\xF8\xE5\xFE";
  const std::string upper = "\xC4\xD6\xDC\xC9\xD8\xC5\xDE";
  const std::string same = "\xDF\xF7";  // sharp s and the division sign have no upper case
#else
  const std::string lower = "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA9\xC3\xB8\xC3\xA5\xC3\xBE\xC5\xA1\xC5\x93\xC3\xBF";
  const std::string upper = "\xC3\x84\xC3\x96\xC3\x9C\xC3\x89\xC3\x98\xC3\x85\xC3\x9E\xC5\xA0\xC5\x92\xC5\xB8";
  const std::string same = "\xC3\x9F\xC3\xB7\xE2\x82\xAC";
#endif
  std::string s = "m" + lower + "x" + same;
  tvk::StrUpper(s.data());
  EXPECT_EQ(s, "M" + upper + "X" + same);
  EXPECT_EQ(tvk::StrCompareNoCase(("gr" + lower).c_str(), ("GR" + upper).c_str()), 0);
  EXPECT_NE(tvk::StrCompareNoCase(lower.c_str(), same.c_str()), 0);
}

#if !defined(_WIN32)
TEST(Case, InvalidUtf8BytesStayThemselves) {
  char s[] = "a\xE4" "b\xC3";
  tvk::StrUpper(s);
  EXPECT_STREQ(s, "A\xE4" "B\xC3");
  EXPECT_NE(tvk::StrCompareNoCase("\xE4", "\xC4"), 0);
  EXPECT_EQ(tvk::StrCompareNoCase("x\xE4", "X\xE4"), 0);
}
#endif

TEST(Wildcards, Masks) {
  EXPECT_TRUE(tvk::WildcardMatch("ABC.TXT", "A*.TXT"));
  EXPECT_TRUE(tvk::WildcardMatch("A.TXT", "A*.TXT"));
  EXPECT_FALSE(tvk::WildcardMatch("ABC.TX", "A*.TXT"));
  EXPECT_TRUE(tvk::WildcardMatch("README", "*.*"));
  EXPECT_TRUE(tvk::WildcardMatch("", "*.*"));
  EXPECT_TRUE(tvk::WildcardMatch("ANY.THING", "*"));
  EXPECT_TRUE(tvk::WildcardMatch("", "*"));
  EXPECT_TRUE(tvk::WildcardMatch("", ""));
  EXPECT_FALSE(tvk::WildcardMatch("A", ""));
  EXPECT_FALSE(tvk::WildcardMatch("", "?"));
  EXPECT_TRUE(tvk::WildcardMatch("A1B", "A?B"));
  EXPECT_FALSE(tvk::WildcardMatch("AB", "A?B"));
  EXPECT_FALSE(tvk::WildcardMatch("abc", "ABC"));  // case-sensitive
  // "*.*" anywhere as the rest of a mask matches any rest, dot or not.
  EXPECT_TRUE(tvk::WildcardMatch("AB", "A*.*"));
  // A star needs its following character in the name.
  EXPECT_FALSE(tvk::WildcardMatch("ABC", "A*.TXT"));
  EXPECT_TRUE(tvk::WildcardMatch("A.B.TXT", "*.TXT"));
  EXPECT_TRUE(tvk::WildcardMatch("X.TXT.TXT", "*.TXT"));
  EXPECT_TRUE(tvk::WildcardMatch("AXBXC", "A*X?"));
  EXPECT_FALSE(tvk::WildcardMatch("AXBXCD", "A*X?"));
  EXPECT_TRUE(tvk::WildcardMatch("ABCD", "*?D"));
  EXPECT_TRUE(tvk::WildcardMatch("AABAB", "*AB*B"));
  // "**" is a star followed by a literal star.
  EXPECT_FALSE(tvk::WildcardMatch("ABC", "**C"));
  EXPECT_TRUE(tvk::WildcardMatch("A*C", "**C"));
}

// The match rules followed step by step, recursively: slow, but plainly
// right, to hold the fast matcher against.
bool ReferenceMatch(const char* n, const char* p) {
  if (strcmp(p, "*.*") == 0 || strcmp(p, "*") == 0) return true;
  if (*p == '\0') return *n == '\0';
  if (*p != '*') return *n != '\0' && (*p == '?' || *p == *n) && ReferenceMatch(n + 1, p + 1);
  const char d = p[1];
  for (const char* i = n; *i; ++i) {
    if ((*i == d || d == '?') && ReferenceMatch(i + 1, p + 2)) return true;
  }
  return false;
}

TEST(Wildcards, AgreesWithTheRulesOnRandomMasks) {
  uint32_t state = 12345;
  auto next = [&state](uint32_t n) {
    state = state * 1103515245u + 12345u;
    return (state >> 16) % n;
  };
  const char names[] = "AB.";
  const char masks[] = "AB.*?";
  for (int round = 0; round < 20000; ++round) {
    std::string name, mask;
    for (uint32_t i = next(7); i > 0; --i) name += names[next(3)];
    for (uint32_t i = next(6); i > 0; --i) mask += masks[next(5)];
    EXPECT_EQ(tvk::WildcardMatch(name.c_str(), mask.c_str()) != 0, ReferenceMatch(name.c_str(), mask.c_str()))
        << "name \"" << name << "\" mask \"" << mask << "\"";
  }
}

TEST(Wildcards, BacktrackingStaysLinear) {
  // Exponential for a plain recursive match; must answer at once.
  std::string name(4000, 'A');
  std::string mask;
  for (int i = 0; i < 40; ++i) mask += "*A";
  EXPECT_FALSE(tvk::WildcardMatch(name.c_str(), (mask + "B").c_str()));
  EXPECT_TRUE(tvk::WildcardMatch((name + "B").c_str(), (mask + "B").c_str()));
}

#if !defined(_WIN32)
TEST(Wildcards, QuestionMarkTakesAWholeCharacter) {
  EXPECT_TRUE(tvk::WildcardMatch("M\xC3\x9CLLER.TXT", "M?LLER.TXT"));
  EXPECT_TRUE(tvk::WildcardMatch("GR\xC3\x9C\xC3\x9C" "E", "*\xC3\x9C" "E"));
  EXPECT_FALSE(tvk::WildcardMatch("GR\xC3\x9C" "E", "*\xC3\x96" "E"));
}
#endif

TEST(Centre, OnTheOtherWindowAndBackOnTheScreen) {
  int32_t x = -1, y = -1;
  const tvk::Rect screen{0, 0, 1024, 768};
  tvk::CentrePosition({0, 0, 200, 100}, screen, 1024, 768, &x, &y);
  EXPECT_EQ(x, 412);
  EXPECT_EQ(y, 334);
  tvk::CentrePosition({0, 0, 100, 50}, {100, 100, 301, 201}, 1024, 768, &x, &y);
  EXPECT_EQ(x, 150);  // (201 - 100) / 2 = 50
  EXPECT_EQ(y, 125);
  // Near the right and bottom edges: moved back so the window stays whole.
  tvk::CentrePosition({0, 0, 300, 200}, {900, 700, 1000, 760}, 1024, 768, &x, &y);
  EXPECT_EQ(x, 724);
  EXPECT_EQ(y, 568);
  // Off the left and top edges.
  tvk::CentrePosition({0, 0, 300, 200}, {-50, -80, 50, 20}, 1024, 768, &x, &y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  // Wider and taller than the screen: the left and top edges win.
  tvk::CentrePosition({0, 0, 1100, 900}, screen, 1024, 768, &x, &y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  // The halving is signed: -101 / 2 is -50, not -51.
  tvk::CentrePosition({0, 0, 101, 10}, {1000, 10, 1000, 20}, 4000, 768, &x, &y);
  EXPECT_EQ(x, 950);
}

TEST(Memory, AlignedBlocksAndZeroing) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{1000}}) {
    void* blocks[8];
    for (void*& p : blocks) {
      p = tvk::AlignedAlloc16(size);
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
      memset(p, 0xA5, size);
    }
    for (void* p : blocks) tvk::AlignedFree16(p);
  }
  tvk::AlignedFree16(nullptr);
  EXPECT_EQ(tvk::AlignedAlloc16(SIZE_MAX - 4), nullptr);

  unsigned char key[32];
  memset(key, 0x5A, sizeof(key));
  tvk::SecureZero(key, sizeof(key));
  for (unsigned char c : key) EXPECT_EQ(c, 0);

  auto* z = static_cast<unsigned char*>(tvk::MemAllocZero(64));
  ASSERT_NE(z, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(z[i], 0);
  tvk::MemFree(z);
  void* empty = tvk::MemAlloc(0);
  EXPECT_NE(empty, nullptr);
  tvk::MemFree(empty);

  // Large blocks: zeros to the last byte of odd sizes, and room for each.
  EXPECT_EQ(tvk::MemAllocLarge(0), nullptr);
  EXPECT_EQ(tvk::MemAllocLarge(SIZE_MAX - 4), nullptr);
  for (size_t size : {size_t{1}, size_t{4097}, (size_t{4} << 20) + 32768}) {
    auto* a = static_cast<unsigned char*>(tvk::MemAllocLarge(size));
    auto* b = static_cast<unsigned char*>(tvk::MemAllocLarge(size));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a[0] | a[size / 2] | a[size - 1] | b[size - 1], 0);
    memset(a, 0x11, size);
    memset(b, 0x22, size);
    EXPECT_EQ(a[size - 1], 0x11);
    tvk::MemFreeLarge(a, size);
    tvk::MemFreeLarge(b, size);
  }
  tvk::MemFreeLarge(nullptr, 100);
}

}  // namespace
