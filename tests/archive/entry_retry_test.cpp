// Encrypted entries asked again after a wrong password, and entries whose
// packed data is cut short or split in odd places: what is asked again,
// what ends as damage, and that a retry starts from the right state.
#include <gtest/gtest.h>

#include "archive/format.h"
#include "archive_test_util.h"
#include "platform/result_codes.h"
#include "writer/lz_encoder.h"

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

EntrySpec PackedLz(const std::string& name, const Bytes& data, uint32_t windowCode) {
  LzOptions o;
  o.windowCode = windowCode;
  EntrySpec lz = File(name);
  lz.method = 4;
  lz.dictCode = windowCode;
  lz.packed = EncodeLz(data.data(), data.size(), o);
  return lz;
}

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

TEST_F(ArchiveTest, WrongPasswordOnACompressedEntrySpanningVolumesIsAskedAgain) {
  // The decoder gives up on the garbage inside the first part, long before
  // the entry's last part and its CRC field.
  Bytes data = Varied(90000, 12345);
  EntrySpec lz = PackedLz("lz.bin", data, 1);
  ASSERT_GT(lz.packed->size(), 40000u);
  lz.encryption = 1;
  lz.password = "pw";
  lz.splitAt = {16390, 16390 + 16361};
  ArchiveSpec shape;
  shape.multiVolume = true;
  fs::path a = Write(shape, {{lz, data}, {File("after.txt"), B("after")}}, "lz.exe");
  ASSERT_TRUE(fs::exists(dir_ / "lz.002"));
  for (bool runStart : {true, false}) {
    SCOPED_TRACE(runStart);
    Host host;
    host.withRunStart = runStart;
    host.entryAnswers = {"bad", "worse", "pw"};
    ASSERT_EQ(Extract(a, &host), 0u);
    EXPECT_EQ(ReadAll(out_ / "lz.bin"), Text(data));
    EXPECT_EQ(ReadAll(out_ / "after.txt"), "after");
    EXPECT_EQ(host.entryTriedLast, (std::vector<std::string>{"", "bad", "worse"}));
    reader_.Close();
    fs::remove_all(out_);
  }
  // A test run asks again the same way.
  Host tester;
  tester.entryAnswers = {"bad", "pw"};
  EXPECT_EQ(TestAll(a, &tester), 0u);
  EXPECT_EQ(tester.entryTriedLast.size(), 2u);
}

// The failed attempt decodes garbage into the solid window (model blocks
// write up to 32 KiB each); the next attempt must see the window, position
// and distance cache the previous entry left. Entry two copies the far end
// of the window, so both the moved position and overwritten history show.
TEST_F(ArchiveTest, RetryOfAnEncryptedSolidEntryStartsFromTheGroupsState) {
  Bytes first = Varied(100000, 777);
  Bytes second(first.end() - 32000, first.end());
  second.insert(second.end(), first.begin() + 5000, first.begin() + 9000);
  Bytes third(first.end() - 20000, first.end());
  LzEncoder encoder;
  LzOptions o;
  o.windowCode = 0;  // 32 KiB: the first entry wraps it three times
  std::vector<Item> items;
  const Bytes* datas[] = {&first, &second, &third};
  for (int i = 0; i < 3; ++i) {
    EntrySpec s = File("f" + std::to_string(i) + ".bin");
    s.method = 3;
    s.solid = i > 0;
    s.packed = encoder.Encode(datas[i]->data(), datas[i]->size(), o, s.solid);
    s.filter = encoder.lastFilterWord() ? 1 : 0;
    if (i == 1) {
      s.encryption = 2;
      s.password = "pw";
    }
    items.push_back({s, *datas[i]});
  }
  ArchiveSpec shape;
  shape.solid = true;
  fs::path a = Write(shape, items);

  // Each wrong password decodes garbage of its own; together they reach
  // model blocks and LZ blocks that fail at different depths.
  for (const char* wrong : {"w1", "w2", "w3", "w4", "w5", "w6", "w7", "w8"}) {
    SCOPED_TRACE(wrong);
    Host host;
    host.entryAnswers = {wrong, "pw"};
    ASSERT_EQ(Extract(a, &host), 0u);
    EXPECT_EQ(host.entryTriedLast, (std::vector<std::string>{"", wrong}));
    EXPECT_EQ(ReadAll(out_ / "f1.bin"), Text(second));
    EXPECT_EQ(ReadAll(out_ / "f2.bin"), Text(third));
    reader_.Close();
    fs::remove_all(out_);
  }
  // Several wrong answers in a row, and a test run, which decodes the same.
  Host many;
  many.entryAnswers = {"w1", "w2", "w3", "w4", "pw"};
  EXPECT_EQ(TestAll(a, &many), 0u);
  EXPECT_EQ(many.entryTriedLast.size(), 5u);
}

// Without the run-start walk (the self-extractor) nothing notices the
// missing data before the decoder does; the right password must not be
// asked for again and again.
TEST_F(ArchiveTest, TruncatedCompressedEncryptedEntryIsDamageNotAWrongPassword) {
  Bytes data = Varied(90000, 4242);
  EntrySpec lz = PackedLz("lz.bin", data, 1);
  lz.encryption = 2;
  lz.password = "pw";
  fs::path a = Write({}, {{lz, data}});
  std::string bytes = ReadAll(a);
  for (size_t cut : {size_t{20000}, bytes.size() / 2, size_t{100}}) {
    SCOPED_TRACE(cut);
    fs::path t = dir_ / "cut.tvk";
    WriteAll(t, bytes.substr(0, bytes.size() - cut));
    Host host;
    host.withRunStart = false;
    host.entryAnswers = {"pw", "pw", "pw"};
    EXPECT_EQ(Extract(t, &host), kErrData);
    EXPECT_EQ(host.entryTriedLast.size(), 1u);
    EXPECT_TRUE(FilesIn(out_).empty());
    reader_.Close();
  }

  // The last part of a split entry cut short: the same.
  EntrySpec split = PackedLz("split.bin", data, 1);
  split.encryption = 2;
  split.password = "pw";
  split.splitAt = {20000};
  ArchiveSpec shape;
  shape.multiVolume = true;
  fs::path s = Write(shape, {{split, data}}, "s.exe");
  std::string last = ReadAll(dir_ / "s.001");
  WriteAll(dir_ / "s.001", last.substr(0, last.size() / 2));
  Host host;
  host.withRunStart = false;
  host.entryAnswers = {"pw", "pw", "pw"};
  EXPECT_EQ(Extract(s, &host), kErrData);
  EXPECT_EQ(host.entryTriedLast.size(), 1u);
  EXPECT_TRUE(FilesIn(out_).empty());
}

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
