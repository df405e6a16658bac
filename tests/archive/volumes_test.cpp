// Volume sets: entries split over volumes, a wrong password met in a later
// volume, and volumes that are missing.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>

#include "archive_test_util.h"
#include "platform/result_codes.h"
#include "writer/lz_encoder.h"

namespace tvk {
namespace {

using namespace testutil;

TEST_F(ArchiveTest, FileSplitOverThreeVolumes) {
  Bytes data(50000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i ^ (i >> 8));
  EntrySpec split = File("big.bin");
  split.splitAt = {10000, 30000};
  split.encryption = 2;
  split.password = "pw";
  ArchiveSpec shape;
  shape.multiVolume = true;
  fs::path a = Write(shape, {{File("before.txt"), B("b")}, {split, data}, {File("after.txt"), B("a")}},
                     "set.exe");
  ASSERT_TRUE(fs::exists(dir_ / "set.001"));
  ASSERT_TRUE(fs::exists(dir_ / "set.002"));

  Listing l = List(a);
  ASSERT_EQ(l.error, 0u);
  ASSERT_EQ(l.entries.size(), 3u);
  EXPECT_EQ(l.entries[1].packedSize, 50000u);  // whole AES blocks already
  EXPECT_EQ(l.info.multiVolume, 1u);
  reader_.Close();

  Host host;
  host.entryAnswers = {"nope", "pw"};  // the retry starts in the first volume again
  ASSERT_EQ(Extract(a, &host), 0u);
  EXPECT_EQ(ReadAll(out_ / "big.bin"), std::string(data.begin(), data.end()));
  EXPECT_EQ(ReadAll(out_ / "after.txt"), "a");
  EXPECT_EQ(std::count(host.started.begin(), host.started.end(), "\\big.bin"), 1);
  EXPECT_EQ(host.runCodes.front(), kRunExtractVolumes);
#if !defined(_WIN32)
  struct stat st;
  ASSERT_EQ(stat((out_ / "big.bin").c_str(), &st), 0);
  struct tm local{};
  time_t t = st.st_mtime;
  localtime_r(&t, &local);
  EXPECT_EQ(local.tm_year + 1900, 2010);
  EXPECT_EQ(local.tm_sec, 28);
#endif
}

TEST_F(ArchiveTest, CompressedEncryptedEntryReadsOnAcrossVolumes) {
  // Refills of the bit buffer take their first bytes from one volume and the
  // rest from the next; the run is deciphered as one.
  Bytes data(90000);
  uint32_t x = 12345;
  for (size_t i = 0; i < data.size(); ++i) {
    x = x * 1103515245 + 12345;
    data[i] = static_cast<uint8_t>(i % 3 ? (x >> 24) : 'a');
  }
  LzOptions o;
  o.windowCode = 1;
  EntrySpec lz = File("lz.bin");
  lz.method = 4;
  lz.dictCode = 1;
  lz.packed = EncodeLz(data.data(), data.size(), o);
  ASSERT_GT(lz.packed->size(), 40000u);
  lz.encryption = 1;
  lz.password = "pw";
  lz.splitAt = {16390, 16390 + 16361};
  ArchiveSpec shape;
  shape.multiVolume = true;
  fs::path a = Write(shape, {{lz, data}}, "lz.exe");
  ASSERT_TRUE(fs::exists(dir_ / "lz.002"));
  Host host;
  host.entryAnswers = {"pw"};
  ASSERT_EQ(Extract(a, &host), 0u);
  EXPECT_EQ(ReadAll(out_ / "lz.bin"), std::string(data.begin(), data.end()));
}

TEST_F(ArchiveTest, WrongPasswordOnAnEntryThatBeginsInALaterVolume) {
  Bytes data(40000, 'z');
  EntrySpec split = File("late.bin");
  split.splitAt = {20000};
  split.encryption = 1;
  split.password = "pw";
  ArchiveSpec shape;
  shape.multiVolume = true;
  fs::path path = dir_ / "late.exe";
  {
    FileOutput output(path.string(), true);
    ArchiveWriter writer(shape, &output);
    ASSERT_TRUE(writer.AddEntry(File("first.txt"), B("1")));
    ASSERT_TRUE(writer.NewVolume());
    ASSERT_TRUE(writer.AddEntry(split, data));
    ASSERT_TRUE(writer.Finish());
  }
  Host host;
  host.entryAnswers = {"bad", "pw"};
  ASSERT_EQ(Extract(path, &host), 0u);
  EXPECT_EQ(ReadAll(out_ / "late.bin"), std::string(data.begin(), data.end()));
  EXPECT_EQ(host.entryTriedLast.size(), 2u);
}

TEST_F(ArchiveTest, MissingVolumes) {
  ArchiveSpec shape;
  shape.multiVolume = true;
  EntrySpec split = File("big.bin");
  split.splitAt = {100};
  fs::path a = Write(shape, {{File("a.txt"), B("a")}, {split, Bytes(300, 'b')}}, "m.exe");
  fs::path moved = dir_ / "elsewhere";
  fs::create_directories(moved);
  fs::rename(dir_ / "m.001", moved / "m.001");

  Listing l = List(a);  // quiet end
  EXPECT_EQ(l.error, 0u);
  EXPECT_EQ(l.entries.size(), 2u);
  reader_.Close();

  EXPECT_EQ(Extract(a, nullptr), kErrMissingVolume);
  EXPECT_FALSE(fs::exists(out_ / "big.bin"));
  reader_.Close();
  fs::remove_all(out_);

  Host cancel;
  EXPECT_EQ(Extract(a, &cancel), kErrCancelled);
  EXPECT_EQ(cancel.volumeNumbers, std::vector<uint32_t>{2});
  EXPECT_FALSE(fs::exists(out_ / "big.bin"));
  reader_.Close();
  fs::remove_all(out_);

  Host found;
  found.volumeFolders = {Internal(dir_ / "nothing-here"), Internal(moved)};  // no trailing backslash
  ASSERT_EQ(Extract(a, &found), 0u);
  EXPECT_EQ(found.volumeNumbers, (std::vector<uint32_t>{2, 2}));
  EXPECT_EQ(ReadAll(out_ / "big.bin"), std::string(300, 'b'));
}

}  // namespace
}  // namespace tvk
