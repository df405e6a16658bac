// Output files: the overwrite question, temporary names, what a failed or
// cancelled entry leaves behind, and the modes files are made with.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "archive_test_util.h"
#include "crypto/crc32.h"
#include "platform/result_codes.h"

namespace tvk {
namespace {

using namespace testutil;

TEST_F(ArchiveTest, OverwriteAnswers) {
  fs::path target = out_ / "x.txt";
  fs::path a = Write({}, {{File("x.txt"), B("new")}});
  for (int answer : {0, 1, 2, 3, 7}) {
    SCOPED_TRACE(answer);
    WriteAll(target, "old");
    Host host;
    host.overwriteAnswers = {answer};
    uint32_t err = Extract(a, &host);
    reader_.Close();
    EXPECT_EQ(host.overwriteExisting, std::vector<std::string>{"x.txt"});
    if (answer == 0 || answer == 3) {
      EXPECT_EQ(err, 0u);
      EXPECT_EQ(ReadAll(target), "new");
    } else if (answer == 1) {
      EXPECT_EQ(err, 0u);
      EXPECT_EQ(ReadAll(target), "old");
    } else {
      EXPECT_EQ(err, kErrCancelled);
      EXPECT_EQ(ReadAll(target), "old");
    }
    EXPECT_EQ(FilesIn(out_), std::vector<std::string>{"x.txt"});
  }

  // Skip still decodes the entry, as a test: a bad CRC shows.
  EntrySpec bad = File("x.txt");
  bad.crc = 12345;
  fs::path b = Write({}, {{bad, B("new")}}, "b.tvk");
  WriteAll(target, "old");
  Host host;
  host.overwriteAnswers = {1};
  EXPECT_EQ(Extract(b, &host), kErrCrc);
  EXPECT_EQ(ReadAll(target), "old");
  reader_.Close();

  // Replace without asking: no question, replaced.
  Host quiet;
  ExtractOptions o = Options();
  o.replaceWithoutAsking = 1;
  EXPECT_EQ(Extract(a, &quiet, {"*.*"}, &o), 0u);
  EXPECT_TRUE(quiet.overwriteExisting.empty());
  EXPECT_EQ(ReadAll(target), "new");
}

#if !defined(_WIN32)
// The temporary name beside a file being replaced is created only where
// nothing exists: a folder, a file or a link planted under the names tried
// first is passed over and left as it was, and a link never leads the write
// outside.
TEST_F(ArchiveTest, TemporaryNamesTakenByAnythingArePassedOver) {
  fs::path outside = dir_ / "outside.txt";
  fs::create_directories(out_ / "~tvk00000.tmp");
  WriteAll(out_ / "~tvk00001.tmp", "planted");
  fs::create_symlink(outside, out_ / "~tvk00002.tmp");
  fs::path a = Write({}, {{File("x.txt"), B("fresh")}});
  WriteAll(out_ / "x.txt", "old");
  Host host;
  host.overwriteAnswers = {0};  // replace
  ASSERT_EQ(Extract(a, &host), 0u);
  EXPECT_EQ(ReadAll(out_ / "x.txt"), "fresh");
  EXPECT_TRUE(fs::is_directory(out_ / "~tvk00000.tmp"));
  EXPECT_EQ(ReadAll(out_ / "~tvk00001.tmp"), "planted");
  EXPECT_TRUE(fs::is_symlink(out_ / "~tvk00002.tmp"));
  EXPECT_FALSE(fs::exists(outside));
  EXPECT_FALSE(fs::exists(out_ / "~tvk00003.tmp"));  // renamed into place
  struct stat st;
  ASSERT_EQ(stat((out_ / "x.txt").c_str(), &st), 0);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0644u & ~mask);  // as any new file, not owner-only
}
#endif

TEST_F(ArchiveTest, FailedEntryLeavesTheExistingFileAlone) {
  // The CRC field must hold the raw register: the usual (inverted) value fails.
  Bytes data = B("some bytes");
  EntrySpec usual = File("keep.txt");
  usual.crc = ~EntryCrc(data.data(), data.size());
  EXPECT_EQ(EntryCrc(data.data(), data.size()), Crc32(kCrcStart, data.data(), data.size()));
  fs::path a = Write({}, {{usual, data}});
  WriteAll(out_ / "keep.txt", "precious");
  Host host;
  host.overwriteAnswers = {0};
  EXPECT_EQ(Extract(a, &host), kErrCrc);
  EXPECT_EQ(ReadAll(out_ / "keep.txt"), "precious");
  EXPECT_EQ(FilesIn(out_), std::vector<std::string>{"keep.txt"});
}

// Told to go on after errors, a damaged result stands in for a file that was
// missing, never for one the user has, and the entries behind it still come.
TEST_F(ArchiveTest, DamagedResultIsKeptOnlyWhereNoFileWas) {
  EntrySpec fresh = File("fresh.txt");
  fresh.crc = 12345;
  EntrySpec mine = File("mine.txt");
  mine.crc = 12345;
  fs::path a = Write({}, {{fresh, B("damaged")}, {mine, B("damaged too")}, {File("after.txt"), B("fine")}});
  WriteAll(out_ / "mine.txt", "precious");
  Host host;
  host.overwriteAnswers = {0};  // replace
  ExtractOptions o = Options();
  o.continueAfterErrors = 1;  // the errors are cleared
  EXPECT_EQ(Extract(a, &host, {"*.*"}, &o), 0u);
  EXPECT_EQ(ReadAll(out_ / "fresh.txt"), "damaged");
  EXPECT_EQ(ReadAll(out_ / "mine.txt"), "precious");
  EXPECT_EQ(ReadAll(out_ / "after.txt"), "fine");
  EXPECT_EQ(FilesIn(out_), (std::vector<std::string>{"after.txt", "fresh.txt", "mine.txt"}));
}

// Files and folders are made on their way out while later entries decode:
// one that cannot be made still ends the run with 28002 before anything
// after it appears, and a name met twice is asked about the second time.
TEST_F(ArchiveTest, OutputsThatCannotBeMadeEndTheRunAndRepeatedNamesAreAsked) {
  WriteAll(out_ / "blocked", "a file where a folder is needed");
  struct Case {
    const char* name;
    EntrySpec blocked;
  };
  for (const Case& c : {Case{"folder", Folder("blocked\\sub")}, Case{"file", File("blocked\\x.txt")}}) {
    SCOPED_TRACE(c.name);
    fs::path a = Write({}, {{File("first.txt"), B("1")}, {c.blocked, c.blocked.folder ? Bytes{} : B("x")},
                            {File("later.txt"), B("2")}});
    Host host;
    EXPECT_EQ(Extract(a, &host), kErrFileAccess);
    reader_.Close();
    EXPECT_EQ(ReadAll(out_ / "first.txt"), "1");
    EXPECT_FALSE(fs::exists(out_ / "later.txt"));
    EXPECT_EQ(ReadAll(out_ / "blocked"), "a file where a folder is needed");
    fs::remove(out_ / "first.txt");
  }
  fs::remove(out_ / "blocked");

  std::vector<Item> items;
  for (int i = 0; i < 40; ++i) items.push_back({File("f" + std::to_string(i) + ".txt"), B("filler")});
  items.push_back({File("dup.txt"), B("first copy")});
  items.push_back({File("dup.txt"), B("second copy")});
  fs::path d = Write({}, items, "d.tvk");
  Host host;
  host.overwriteAnswers = {0};  // replace
  EXPECT_EQ(Extract(d, &host), 0u);
  EXPECT_EQ(host.overwriteExisting, std::vector<std::string>{"dup.txt"});
  EXPECT_EQ(ReadAll(out_ / "dup.txt"), "second copy");
  EXPECT_EQ(FilesIn(out_).size(), 41u);
}

TEST_F(ArchiveTest, ProgressStopCancelsAndRemovesThePartialFile) {
  fs::path a = Write({}, {{File("a.bin"), Bytes(300000, 1)}});
  Host host;
  host.stopProgressAfter = 1;
  EXPECT_EQ(Extract(a, &host), kErrCancelled);
  EXPECT_TRUE(FilesIn(out_).empty());
}

#if !defined(_WIN32)
TEST_F(ArchiveTest, UnixModesAreRestoredWithoutSpecialOrNewWriteBits) {
  EntrySpec tool = File("tool.sh");
  tool.unixMode = 0755;
  EntrySpec wide = File("wide.sh");
  wide.unixMode = 06777;
  fs::path a = Write({}, {{tool, B("#!/bin/sh\n")}, {wide, B("x")}});
  mode_t old = umask(022);
  Host host;
  uint32_t err = Extract(a, &host);
  umask(old);
  ASSERT_EQ(err, 0u);
  struct stat st;
  ASSERT_EQ(stat((out_ / "tool.sh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  ASSERT_EQ(stat((out_ / "wide.sh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
}
#endif

}  // namespace
}  // namespace tvk
