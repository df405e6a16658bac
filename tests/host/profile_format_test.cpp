// The profile-string reader's rules, escape conversion and the safe message
// formatter.
#include <cstring>

#include "host/message_format.h"
#include "startup_test_util.h"

using namespace tvk_test;

namespace {

std::string Lookup(const std::string& text, const char* section, const char* key,
                   uint32_t size = 4096) {
  std::vector<char> out(size + 1, '#');
  uint32_t n = tvk::ProfileLookup(text.data(), text.size(), section, key, out.data(), size);
  EXPECT_EQ(n, std::strlen(out.data()));
  return out.data();
}

TEST(ProfileLookup, CaseBlanksQuotesAndOrder) {
  std::string ini =
      "; comment = no\r\n"
      "[Other]\r\n"
      "k = other\r\n"
      "  [ Data ]  \r\n"
      "\tKey One\t=\t value with  inner  blanks \t\r\n"
      "quoted = \"  kept inside  \"\r\n"
      "single = 'x'\r\n"
      "half = \"x\r\n"
      "bare\r\n"
      "dup = first\n"
      "dup = second\n"
      "empty =\r\n"
      "eq = a=b\r\n"
      "[next]\r\n"
      "tail = t";
  EXPECT_EQ(Lookup(ini, "data", "key one"), "value with  inner  blanks");
  EXPECT_EQ(Lookup(ini, "DATA", "KEY ONE"), "value with  inner  blanks");
  EXPECT_EQ(Lookup(ini, "data", "quoted"), "  kept inside  ");
  EXPECT_EQ(Lookup(ini, "data", "single"), "x");
  EXPECT_EQ(Lookup(ini, "data", "half"), "\"x");
  EXPECT_EQ(Lookup(ini, "data", "bare"), "");
  EXPECT_EQ(Lookup(ini, "data", "dup"), "first");
  EXPECT_EQ(Lookup(ini, "data", "empty"), "");
  EXPECT_EQ(Lookup(ini, "data", "eq"), "a=b");
  EXPECT_EQ(Lookup(ini, "data", "k"), "");        // only in [Other]
  EXPECT_EQ(Lookup(ini, "data", "tail"), "");     // only in [next]
  EXPECT_EQ(Lookup(ini, "next", "tail"), "t");    // no line end at the end
  EXPECT_EQ(Lookup(ini, "missing", "k"), "");
  EXPECT_EQ(Lookup(ini, "data", "; comment"), "");
}

TEST(ProfileLookup, LengthLimits) {
  std::string ini = "[s]\r\nlong = " + std::string(3000, 'v') + "\r\nshort = abcdef\r\n";
  EXPECT_EQ(Lookup(ini, "s", "long").size(), 2047u);
  EXPECT_EQ(Lookup(ini, "s", "short", 4), "abc");
  char one[1] = {'#'};
  EXPECT_EQ(tvk::ProfileLookup(ini.data(), ini.size(), "s", "short", one, 1), 0u);
  EXPECT_EQ(one[0], '\0');
}

TEST(ProfileLookup, ReadsFromFiles) {
  ScratchDir dir;
  fs::path p = dir.path() / "lang.ini";
  WriteBytes(p, Bytes("[Description]\r\n0 = Deutsch\r\n[data]\r\n5=" + std::string(2100, 'z') + "\r\n"));
  char out[4096];
  EXPECT_EQ(tvk::ReadProfileString("description", "0", out, sizeof out, Internal(p).c_str()), 7u);
  EXPECT_STREQ(out, "Deutsch");
  EXPECT_EQ(tvk::ReadProfileString("data", "5", out, sizeof out, Internal(p).c_str()), 2047u);
  EXPECT_EQ(tvk::ReadProfileString("data", "6", out, sizeof out, Internal(p).c_str()), 0u);
  EXPECT_STREQ(out, "");
  std::string missing = Internal(dir.path() / "none.ini");
  EXPECT_EQ(tvk::ReadProfileString("data", "5", out, sizeof out, missing.c_str()), 0u);
  EXPECT_STREQ(out, "");
}

#if !defined(_WIN32)
// A held file answers every key from the text read at the hold; other
// files, and the same file after the release, are read afresh.
TEST(ProfileLookup, HeldFileIsReadOnceAndReleased) {
  ScratchDir dir;
  fs::path p = dir.path() / "lang.ini";
  fs::path other = dir.path() / "other.ini";
  WriteBytes(p, Bytes("[data]\r\n1=first\r\n"));
  WriteBytes(other, Bytes("[data]\r\n1=other\r\n"));
  char out[64];
  tvk::ProfileHold(Internal(p).c_str());
  WriteBytes(p, Bytes("[data]\r\n1=second\r\n"));
  EXPECT_EQ(tvk::ReadProfileString("data", "1", out, sizeof out, Internal(p).c_str()), 5u);
  EXPECT_STREQ(out, "first");
  EXPECT_EQ(tvk::ReadProfileString("data", "1", out, sizeof out, Internal(other).c_str()), 5u);
  EXPECT_STREQ(out, "other");
  tvk::ProfileRelease();
  EXPECT_EQ(tvk::ReadProfileString("data", "1", out, sizeof out, Internal(p).c_str()), 6u);
  EXPECT_STREQ(out, "second");
  // A hold on a file that is not there holds nothing.
  fs::path late = dir.path() / "late.ini";
  tvk::ProfileHold(Internal(late).c_str());
  WriteBytes(late, Bytes("[data]\r\n1=late\r\n"));
  EXPECT_EQ(tvk::ReadProfileString("data", "1", out, sizeof out, Internal(late).c_str()), 4u);
  tvk::ProfileRelease();
}
#endif

TEST(MessageTable, EscapesAndPercentCount) {
  char a[] = "A\\nB\\tC\\\\x\\q\\";
  EXPECT_EQ(tvk::ConvertEscapes(a), 12u);
  EXPECT_STREQ(a, "A\r\nB\tC\\\\x\\q\\");
  char b[] = "\\\\n";  // the pair "\\" is copied whole: no line break follows
  tvk::ConvertEscapes(b);
  EXPECT_STREQ(b, "\\\\n");
  EXPECT_EQ(tvk::CountPercentS("%s %s%%s %u %S"), 3u);
}

std::string Format(uint32_t number, const char* text, std::vector<tvk::FormatArg> args,
                   uint32_t size = 512, uint32_t* result = nullptr) {
  std::vector<char> out(size);
  uint32_t r = tvk::FormatMessageText(out.data(), size, number, text, args.data(),
                                      static_cast<uint32_t>(args.size()));
  if (result) *result = r;
  return out.data();
}

TEST(MessageFormat, DocumentedConversions) {
  using tvk::ArgInt;
  using tvk::ArgStr;
  using tvk::ArgUint;
  EXPECT_EQ(Format(12, "Nach dem Entpacken '%s' starten.", {ArgStr("a.exe")}),
            "Nach dem Entpacken 'a.exe' starten.");
  EXPECT_EQ(Format(13, "%s: %lu Datei(en)", {ArgStr("setup.exe"), ArgUint(3)}),
            "setup.exe: 3 Datei(en)");
  EXPECT_EQ(Format(44, "Fehler (%u) in %s.", {ArgUint(28118), ArgStr("setup.exe")}),
            "Fehler (28118) in setup.exe.");
  EXPECT_EQ(Format(28, "Medium %u in %s", {ArgUint(2), ArgStr("C:\\")}), "Medium 2 in C:\\");
  EXPECT_EQ(Format(34, "%s|%s|%s|%s|%s", {ArgStr("a"), ArgStr("b"), ArgStr("c"), ArgStr("d")}),
            "a|b|c|d|%s");
  EXPECT_EQ(Format(17, "Datei namens '%1'; %1!s!", {ArgStr("x.txt")}),
            "Datei namens 'x.txt'; x.txt");
  EXPECT_EQ(Format(20, "%3!d! Bytes\r\ngeändert am %1, %2",
                   {ArgStr("8. Dezember 2026"), ArgStr("14:05"), ArgInt(1023)}),
            "1023 Bytes\r\ngeändert am 8. Dezember 2026, 14:05");
  EXPECT_EQ(Format(21, "%3!d! KB", {ArgStr(""), ArgStr(""), ArgInt(-5)}), "-5 KB");
  EXPECT_EQ(Format(52, "100%% %s", {ArgStr("x")}), "100% x");
}

TEST(MessageFormat, HostileTextsStayLiteral) {
  using tvk::ArgStr;
  using tvk::ArgUint;
  EXPECT_EQ(Format(12, "%s%s%s%s%n", {ArgStr("a")}), "a%s%s%s%n");
  EXPECT_EQ(Format(12, "%999999d %x %p %.9999s", {ArgStr("a")}), "%999999d %x %p %.9999s");
  EXPECT_EQ(Format(17, "%5!s! %2 %1!d! %0 %1", {ArgStr("n")}), "%5!s! %2 %1!d! %0 n");
  EXPECT_EQ(Format(20, "%3 %3!s! %12 %3!d!", {ArgStr("d"), ArgStr("t"), tvk::ArgInt(7)}),
            "%3 %3!s! %12 7");
  // A conversion of the wrong kind is text and leaves its argument for the
  // next one that fits.
  EXPECT_EQ(Format(13, "%lu %s %lu %u", {ArgStr("n"), ArgUint(4)}), "%lu n 4 %u");
  // Messages documented without conversions take none, whatever is passed.
  EXPECT_EQ(Format(35, "%s %u %%", {ArgStr("n"), ArgUint(1)}), "%s %u %");
  // Arguments that do not match the documented kinds are not used.
  EXPECT_EQ(Format(44, "(%u) %s", {ArgStr("n"), ArgStr("m")}), "(%u) %s");
  // A trailing percent sign.
  EXPECT_EQ(Format(12, "50%", {ArgStr("a")}), "50%");
}

TEST(MessageFormat, OutputIsBounded) {
  uint32_t r = 0;
  EXPECT_EQ(Format(12, "abc%sdef", {tvk::ArgStr("XYZ")}, 6, &r), "abcXY");
  EXPECT_EQ(r, tvk::kStrTruncated);
  EXPECT_EQ(Format(12, "ab%s", {tvk::ArgStr("c")}, 4, &r), "abc");
  EXPECT_EQ(r, tvk::kStrOk);
  char none[1];
  EXPECT_EQ(tvk::FormatMessageText(none, 0, 12, "x", nullptr, 0), tvk::kStrInvalidArg);
  EXPECT_EQ(tvk::FormatMessageText(none, 1, 12, "x", nullptr, 0), tvk::kStrTruncated);
  EXPECT_EQ(none[0], '\0');
}

}  // namespace
