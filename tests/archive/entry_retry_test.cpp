// Encrypted entries asked again after a wrong password, and entries whose
// packed data is cut short or split in odd places: what is asked again,
// what ends as damage, and that a retry starts from the right state.
#include <gtest/gtest.h>

#include "archive/format.h"
#include "archive_test_util.h"
#include "platform/result_codes.h"

namespace tvk {
namespace {

using namespace testutil;

// Bytes an LZ encoder finds matches in, at many distances.
Bytes Varied(size_t n, uint32_t seed) {
  Bytes data(n);
  uint32_t x = seed;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245 + 12345;
    data[i] = static_cast<uint8_t>(i % 3 ? (x >> 24) : 'a' + (i / 7) % 26);
  }
  return data;
}

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

TEST_F(ArchiveTest, SplitStoredEntryWhoseFirstPartIsEmpty) {
  Bytes data = Varied(1000, 99);
  ArchiveSpec shape;
  shape.multiVolume = true;
  EntrySpec plain = File("plain.bin");
  plain.splitAt = {0, 300};
  EntrySpec locked = File("locked.bin");
  locked.splitAt = {0};
  locked.encryption = 1;
  locked.password = "pw";
  fs::path a = Write(shape, {{plain, data}, {locked, data}, {File("after.txt"), B("after")}},
                     "e.exe");
  Listing l = List(a);
  ASSERT_EQ(l.error, 0u);
  reader_.Close();
  Host host;
  host.entryAnswers = {"pw"};
  ASSERT_EQ(Extract(a, &host), 0u);
  EXPECT_EQ(ReadAll(out_ / "plain.bin"), Text(data));
  EXPECT_EQ(ReadAll(out_ / "locked.bin"), Text(data));
  EXPECT_EQ(ReadAll(out_ / "after.txt"), "after");
  EXPECT_EQ(host.entryTriedLast.size(), 1u);
}

}  // namespace
}  // namespace tvk
