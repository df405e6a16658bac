// Entries that claim more than they hold, and names Windows would not store
// as given: a stored entry shorter than its unpacked size is damage even with
// a matching CRC field, and every name is mapped to one Windows keeps as a
// plain file of its own.
#include <gtest/gtest.h>

#include "../archive/archive_test_util.h"
#include "archive/blocks.h"
#include "platform/result_codes.h"

namespace tvk {
namespace {

using namespace testutil;

using EntryClaims = ArchiveTest;

TEST_F(EntryClaims, StoredEntryShorterThanItsUnpackedSizeIsDamaged) {
  Bytes data(10240);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + (i >> 7));
  struct Case {
    uint64_t claimed;
    uint32_t encryption;
  };
  for (const Case& c : {Case{10240000, 0}, Case{~0ull, 0}, Case{10241, 0}, Case{10240000, 2}}) {
    SCOPED_TRACE(testing::Message() << c.claimed << " " << c.encryption);
    EntrySpec e = File("short.bin");
    e.unpackedSize = c.claimed;
    e.largeSizes = c.claimed > 0xFFFFFFFFull;
    e.crc = EntryCrc(data.data(), data.size());  // the bytes that are there
    e.encryption = c.encryption;
    e.password = "pw";
    fs::path a = Write({}, {{e, data}, {File("after.txt"), B("after")}});

    Host tester;
    tester.entryAnswers = {"pw", "pw"};
    EXPECT_EQ(TestAll(a, &tester), kErrData);
    EXPECT_LE(tester.entryTriedLast.size(), 1u);  // not taken for a wrong password
    reader_.Close();

    Host host;
    host.entryAnswers = {"pw", "pw"};
    EXPECT_EQ(Extract(a, &host), kErrData);
    EXPECT_TRUE(FilesIn(out_).empty());
    reader_.Close();
    fs::remove_all(out_);
  }

  // Exactly the unpacked size, and more packed bytes than that, still pass.
  EntrySpec exact = File("exact.bin");
  EntrySpec padded = File("padded.bin");
  padded.unpackedSize = 10000;
  padded.crc = EntryCrc(data.data(), 10000);
  fs::path ok = Write({}, {{exact, data}, {padded, data}}, "ok.tvk");
  Host host;
  ASSERT_EQ(Extract(ok, &host), 0u);
  EXPECT_EQ(ReadAll(out_ / "exact.bin").size(), 10240u);
  EXPECT_EQ(ReadAll(out_ / "padded.bin").size(), 10000u);
}

TEST(WindowsNames, DevicesColonsAndTrailingDotsAreRenamed) {
  struct Case {
    const char* stored;
    const char* stored_as;
  };
  const Case cases[] = {
      {"CON", "_CON"},
      {"sub\\nul.txt", "sub\\_nul.txt"},
      {"aux .log", "_aux .log"},
      {"COM1", "_COM1"},
      {"lpt9.x\\f", "_lpt9.x\\f"},
      {"COM\xB9", "_COM\xB9"},
      {"com\xB2.txt", "_com\xB2.txt"},
      {"LPT\xB3", "_LPT\xB3"},
      {"lpt\xB9 .a.b", "_lpt\xB9 .a.b"},
      {"d\\COM\xC2\xB9", "d\\_COM\xC2\xB9"},  // the same in a UTF-8 code page
      {"COM0", "COM0"},
      {"COM10", "COM10"},
      {"COM\xB4", "COM\xB4"},  // an acute accent, not a digit
      {"CONSOLE", "CONSOLE"},
      {"xCON", "xCON"},
      {"x.txt:hidden", "x.txt_hidden"},
      {"a:b\\c:d:e", "a_b\\c_d_e"},
      {"CON:x", "CON_x"},
      {"C:x", "C_x"},
      {"dot.", "dot._"},
      {"blank \\f", "blank _\\f"},
      {"...", "..._"},
      {".\\..\\x", ".\\..\\x"},
      {"plain\\name.txt", "plain\\name.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    char out[kPathSize];
    ASSERT_TRUE(WindowsFileName(c.stored, out, sizeof(out)));
    EXPECT_STREQ(out, c.stored_as);
  }
  // What does not fit is refused, never cut.
  char small[5];
  EXPECT_TRUE(WindowsFileName("abcd", small, sizeof(small)));
  EXPECT_FALSE(WindowsFileName("abcde", small, sizeof(small)));
  EXPECT_FALSE(WindowsFileName("nul", small, 4));
}

}  // namespace
}  // namespace tvk
