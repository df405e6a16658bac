// The block walk over whole and damaged archives: heads, comments, methods
// and the blocks an extraction passes over.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "archive/format.h"
#include "archive_test_util.h"
#include "platform/result_codes.h"
#include "writer/lz_encoder.h"

namespace tvk {
namespace {

using namespace testutil;

TEST_F(ArchiveTest, RoundTripFoldersFilesTimesAndATestRunThatWritesNothing) {
  EntrySpec ro = File("docs\\readme.txt");
  ro.attributes = kAttrArchive | kAttrReadOnly;
  EntrySpec timed = File("docs/sub/timed.bin");
  FileTime when = FileTimeFromUnix(1600000000, 0);
  timed.times = std::array<FileTime, 3>{when, when, when};
  Bytes big(200000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
  fs::path a = Write({}, {{Folder("docs"), {}}, {ro, B("read me")}, {timed, big},
                          {File("empty.txt"), {}}});
  Host host;
  ExtractOptions o = Options();
  o.restoreWindowsTimes = 1;
  ASSERT_EQ(Extract(a, &host, {"*.*"}, &o), 0u);
  EXPECT_EQ(ReadAll(out_ / "docs" / "readme.txt"), "read me");
  EXPECT_EQ(ReadAll(out_ / "docs" / "sub" / "timed.bin"), std::string(big.begin(), big.end()));
  EXPECT_TRUE(fs::exists(out_ / "empty.txt"));
  EXPECT_EQ(fs::file_size(out_ / "empty.txt"), 0u);
  EXPECT_EQ(FilesIn(out_).size(), 3u);  // no temporaries left
  EXPECT_EQ(host.started.front(), "\\docs\\");
  EXPECT_EQ(host.runCodes, std::vector<uint32_t>{kRunExtract});
  EXPECT_EQ(host.runTotal, 7u + big.size());
  EXPECT_EQ(host.lastPercent, 100u);
#if !defined(_WIN32)
  struct stat st;
  ASSERT_EQ(stat((out_ / "docs" / "sub" / "timed.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1600000000);
  ASSERT_EQ(stat((out_ / "docs" / "readme.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);  // read-only restored
  // The DOS stamp is local time.
  struct tm local{};
  time_t t = st.st_mtime;
  localtime_r(&t, &local);
  EXPECT_EQ(local.tm_year + 1900, 2010);
  EXPECT_EQ(local.tm_hour, 1);
  EXPECT_EQ(local.tm_min, 13);
  EXPECT_EQ(local.tm_sec, 28);
#endif

  reader_.Close();
  fs::path empty = dir_ / "test-target";
  fs::create_directories(empty);
  ASSERT_EQ(reader_.Open(Internal(a).c_str()), 0u);
  ExtractOptions testOptions = Options();
  std::snprintf(testOptions.targetFolder, sizeof(testOptions.targetFolder), "%s",
                Internal(empty).c_str());
  reader_.SetOptions(kOptionsExtraction, &testOptions);
  EXPECT_EQ(reader_.TestAll(), 0u);
  EXPECT_TRUE(FilesIn(empty).empty());
  EXPECT_TRUE(fs::is_empty(empty));
}

TEST_F(ArchiveTest, MainHeaderIsFoundBehindDecoysAndOnlyInTheFirst256KiB) {
  // Decoys: the signature below offset 7, one without 'R' five bytes before,
  // and a complete main header whose check is wrong.
  Bytes prefix = B("-tvk-xx");
  Bytes noR = B("zzzzzzz-tvk-");
  prefix.insert(prefix.end(), noR.begin(), noR.end());
  Bytes bad = BuildMainHeader({});
  bad[0] ^= 1;
  prefix.insert(prefix.end(), bad.begin(), bad.end());
  prefix.resize(prefix.size() + 1000, 0x90);
  ArchiveSpec shape;
  shape.prefix = prefix;
  fs::path a = Write(shape, {{File("x.txt"), B("payload")}});
  Host host;
  ASSERT_EQ(Extract(a, &host), 0u);
  EXPECT_EQ(ReadAll(out_ / "x.txt"), "payload");

  reader_.Close();
  ArchiveSpec far;
  far.prefix = Bytes(fmt::kArchiveSearchLimit, 0);
  fs::path b = Write(far, {{File("x.txt"), B("payload")}}, "far.tvk");
  EXPECT_EQ(reader_.Open(Internal(b).c_str()), kErrNotArchive);
  reader_.Close();
  EXPECT_EQ(reader_.LastError(), 0u);

  // A path that names no file opens as a new archive and extracts nothing.
  EXPECT_EQ(reader_.Open(Internal(dir_ / "none.tvk").c_str()), 0u);
  EXPECT_TRUE(reader_.IsNewArchive());
  ExtractOptions o = Options();
  reader_.SetOptions(kOptionsExtraction, &o);
  NameList* all = reader_.CreateNameList(kListNames);
  reader_.AddName(all, "*.*");
  EXPECT_EQ(reader_.Extract(all, nullptr, nullptr), 0u);
  reader_.FreeNameList(all);
}

TEST_F(ArchiveTest, DamagedHeadsAreInvalidData) {
  EntrySpec broken = File("b.txt");
  broken.editHead = [](Bytes& head, size_t index) {
    if (index == 0) head[0] ^= 0x55;
  };
  broken.reseal = false;
  fs::path a = Write({}, {{File("a.txt"), B("first")}, {broken, B("second")}});
  EXPECT_EQ(List(a).error, kErrData);
  reader_.Close();
  // The run-start walk meets the damage before anything is written.
  Host host;
  EXPECT_EQ(Extract(a, &host), kErrData);
  EXPECT_TRUE(FilesIn(out_).empty());
  reader_.Close();
  Host noWalk;
  noWalk.withRunStart = false;
  EXPECT_EQ(Extract(a, &noWalk), kErrData);
  EXPECT_EQ(ReadAll(out_ / "a.txt"), "first");  // done before the damage
  EXPECT_FALSE(fs::exists(out_ / "b.txt"));

  // A head cut short by the end of the file.
  reader_.Close();
  fs::path c = Write({}, {{File("a.txt"), B("first")}, {File("second.txt"), B("x")}}, "c.tvk");
  std::string bytes = ReadAll(c);
  size_t at = bytes.find("second.txt");
  ASSERT_NE(at, std::string::npos);
  WriteAll(c, bytes.substr(0, at - 10));
  EXPECT_EQ(List(c).error, kErrData);
}

TEST_F(ArchiveTest, StoredDataCutShortStopsWithoutLeavingAFile) {
  Bytes data(100000, 'q');
  EntrySpec enc = File("long.bin");
  enc.encryption = 2;
  enc.password = "pw";
  fs::path e = Write({}, {{enc, data}}, "e.tvk");
  std::string encrypted = ReadAll(e);
  WriteAll(e, encrypted.substr(0, encrypted.size() - 60000));
  Host once;
  once.withRunStart = false;
  once.entryAnswers = {"pw"};
  EXPECT_EQ(Extract(e, &once), kErrData);  // not taken for a wrong password
  EXPECT_EQ(once.entryTriedLast.size(), 1u);
  reader_.Close();

  fs::path a = Write({}, {{File("long.bin"), data}});
  std::string bytes = ReadAll(a);
  WriteAll(a, bytes.substr(0, bytes.size() - 60000));
  Host host;
  host.withRunStart = false;
  EXPECT_EQ(Extract(a, &host), kErrData);
  EXPECT_TRUE(FilesIn(out_).empty());
  reader_.Close();
  EXPECT_EQ(List(a).error, kErrData);  // the walk notices the missing data too
  reader_.Close();
  Host walking;
  EXPECT_EQ(Extract(a, &walking), kErrData);
}

TEST_F(ArchiveTest, Comments) {
  ArchiveSpec longSpec;
  CommentFields tooLong;
  tooLong.text = Bytes(8192 - 13 + 1, 'c');
  longSpec.comment = tooLong;
  fs::path a = Write(longSpec, {{File("x"), B("1")}});
  EXPECT_EQ(reader_.Open(Internal(a).c_str()), kErrData);
  reader_.Close();

  ArchiveSpec emptySpec;
  emptySpec.comment = CommentFields{};
  fs::path b = Write(emptySpec, {{File("x"), B("1")}}, "b.tvk");
  Listing l = List(b);
  EXPECT_EQ(l.error, 0u);
  EXPECT_EQ(reader_.ArchiveComment(), nullptr);
  EXPECT_EQ(l.entries.size(), 1u);
  reader_.Close();

  ArchiveSpec utf16;
  CommentFields u;
  u.form = TextForm::kUtf16;
  u.text = {'G', 0, 0xFC, 0, 'n', 0, 0, 0, 'x', 0};  // stops at the NUL unit
  utf16.comment = u;
  EntrySpec oem = File("d\x81r.txt");
  oem.oemName = true;
  CommentFields oc;
  oc.form = TextForm::kOem;
  oc.text = {0x81};
  oem.comment = oc;
  fs::path c = Write(utf16, {{oem, B("1")}}, "c.tvk");
  l = List(c);
  ASSERT_EQ(l.error, 0u);
  ASSERT_EQ(l.entries.size(), 1u);
#if !defined(_WIN32)
  EXPECT_STREQ(reader_.ArchiveComment(), "G\xC3\xBCn");
  EXPECT_STREQ(l.entries[0].name, "d\xC3\xBCr.txt");
#else
  EXPECT_STREQ(reader_.ArchiveComment(), "G\xFCn");
#endif
}

TEST_F(ArchiveTest, ContinuedEntryInTheFirstVolumeIs28148) {
  EntrySpec cont = File("part.bin");
  cont.extraFlags = fmt::kEntryContinued;
  fs::path a = Write({}, {{cont, B("tail")}});
  Host host;
  EXPECT_EQ(Extract(a, &host), kErrContinuation);
  EXPECT_TRUE(FilesIn(out_).empty());
}

TEST_F(ArchiveTest, ContinuesFlagOutsideAVolumeSetStillChecksTheCrc) {
  EntrySpec bad = File("bad.bin");
  bad.extraFlags = fmt::kEntryContinues;
  bad.crc = 1;
  EntrySpec good = File("good.bin");
  good.extraFlags = fmt::kEntryContinues;
  fs::path a = Write({}, {{good, B("fine")}, {bad, B("broken")}});
  Host host;
  EXPECT_EQ(Extract(a, &host), kErrCrc);
  EXPECT_EQ(ReadAll(out_ / "good.bin"), "fine");
  EXPECT_FALSE(fs::exists(out_ / "bad.bin"));
}

TEST_F(ArchiveTest, DispatchOutcomesByVersionAndMethod) {
  struct Case {
    uint8_t version, method;
    uint32_t encryption;
    uint32_t expected;
  } cases[] = {
      {11, 6, 0, kErrCrc},        // unsupported method, then the CRC check
      {20, 1, 0, kErrCrc},        // nothing decoded for version 20
      {12, 0, 0, kErrVersion},    // refused before anything else
      {20, 0, 0, 0},              // stored is stored in both versions
      {11, 7, 2, kErrCancelled},  // taken as a wrong password: asked again, refused
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.version) << "/" << int(c.method));
    EntrySpec e = File("d.bin");
    e.version = c.version;
    e.method = c.method;
    e.packed = B("0123456789abcdef");
    e.encryption = c.encryption;
    e.password = "pw";
    fs::path a = Write({}, {{e, B("0123456789abcdef")}});
    Host host;
    host.entryAnswers = {"pw"};
    EXPECT_EQ(Extract(a, &host), c.expected);
    if (c.encryption) {
      EXPECT_EQ(host.entryTriedLast, (std::vector<std::string>{"", "pw"}));
    }
    reader_.Close();
    ForceRemove(out_);
  }
}

TEST_F(ArchiveTest, SolidArchiveWithOnlyLaterEntriesSelected) {
  std::string text;
  for (int i = 0; i < 400; ++i) text += "line " + std::to_string(i % 37) + " of the solid stream\n";
  LzEncoder encoder;
  ArchiveSpec shape;
  shape.solid = true;
  std::vector<Item> items;
  for (int i = 0; i < 3; ++i) {
    EntrySpec s = File("f" + std::to_string(i) + ".txt");
    Bytes data = B(text + std::to_string(i));
    LzOptions o;
    o.windowCode = 0;
    s.method = 3;
    s.solid = i > 0;
    s.packed = encoder.Encode(data.data(), data.size(), o, s.solid);
    s.filter = encoder.lastFilterWord() ? 1 : 0;
    items.push_back({s, data});
  }
  fs::path a = Write(shape, items);
  Host host;
  ASSERT_EQ(Extract(a, &host, {"f2.txt"}), 0u);
  EXPECT_EQ(FilesIn(out_), std::vector<std::string>{"f2.txt"});
  EXPECT_EQ(ReadAll(out_ / "f2.txt"), text + "2");
  EXPECT_EQ(host.runTotal, text.size() + 1);
}

TEST_F(ArchiveTest, RecoveryBlocksAreSkippedAndHugeOnesRefused) {
  fs::path path = dir_ / "r.tvk";
  {
    FileOutput output(path.string(), true);
    ArchiveWriter writer({}, &output);
    ASSERT_TRUE(writer.AddEntry(File("a.txt"), B("a")));
    RecoveryFields r;
    r.value = 77;
    r.a = 1;
    r.b = 3;
    ASSERT_TRUE(writer.AddRecovery(r, 0xEE));
    ASSERT_TRUE(writer.AddEntry(File("b.txt"), B("b")));
    ASSERT_TRUE(writer.Finish());
  }
  Listing l = List(path);
  ASSERT_EQ(l.error, 0u);
  EXPECT_EQ(l.entries.size(), 2u);
  EXPECT_EQ(l.info.recoveryValue, 77u);
  reader_.Close();

  fs::path huge = dir_ / "h.tvk";
  {
    FileOutput output(huge.string(), true);
    ArchiveWriter writer({}, &output);
    RecoveryFields r;
    r.a = 0x00FFFFFFFFFFFFFFull;
    ASSERT_TRUE(writer.AddRawHead(BuildRecoveryHead(r)));
    ASSERT_TRUE(writer.AddEntry(File("b.txt"), B("b")));
    ASSERT_TRUE(writer.Finish());
  }
  EXPECT_EQ(List(huge).error, kErrData);
}

}  // namespace
}  // namespace tvk
