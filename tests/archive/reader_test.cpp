// The reader against archives from the archive writer, whole and damaged.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "archive/format.h"
#include "archive_test_util.h"
#include "crypto/crc32.h"
#include "platform/result_codes.h"
#include "writer/lz_encoder.h"
#if defined(TVK_HAVE_SIGNING)
#include "writer/openssl/signing.h"
#endif

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

TEST_F(ArchiveTest, ListingFillsTheInformationRecord) {
  EntrySpec enc = File("secret.bin");
  enc.encryption = 2;
  enc.password = "pw";
  enc.info = 7;
  CommentFields fileComment;
  fileComment.text = B("about a");
  EntrySpec commented = File("a.txt");
  commented.comment = fileComment;
  ArchiveSpec shape;
  shape.solid = true;
  CommentFields archiveComment;
  archiveComment.text = B("Hello");
  shape.comment = archiveComment;
  fs::path a = Write(shape, {{Folder("d"), {}}, {commented, B("aaaa")}, {enc, B("0123456789")}});
  Listing l = List(a);
  ASSERT_EQ(l.error, 0u);
  ASSERT_EQ(l.entries.size(), 3u);
  EXPECT_STREQ(l.entries[0].name, "d\\");
  EXPECT_EQ(l.info.fileCount, 2u);
  EXPECT_EQ(l.info.unpackedTotal, 14u);
  EXPECT_EQ(l.info.packedTotal, 4u + 16u);  // padded to a whole AES block
  EXPECT_EQ(l.info.ratio, 20u * 100 / 14);
  EXPECT_EQ(l.info.encryption, 4u);
  EXPECT_EQ(l.info.commentBits, 3u);
  EXPECT_EQ(l.info.solid, 1u);
  EXPECT_EQ(l.info.infoByte, 7u);
  EXPECT_EQ(l.info.majorVersion, 1u);
  EXPECT_EQ(l.info.minorVersion, 1u);
  EXPECT_EQ(l.info.dictionaryKiB, 32u);
  EXPECT_STREQ(reader_.ArchiveComment(), "Hello");

  // "/" selects nothing; the record counts nothing.
  reader_.Close();
  Listing none = List(a, nullptr, "/");
  EXPECT_EQ(none.error, 0u);
  EXPECT_TRUE(none.entries.empty());
  EXPECT_EQ(none.info.fileCount, 0u);
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

TEST_F(ArchiveTest, EntriesNamedLikeTheArchiveOrItsVolumesAreRefused) {
  fs::create_directories(out_);
  fs::path a = Write({}, {{File("a.tvk"), B("evil")}}, "out/a.tvk");
  std::string before = ReadAll(a);
  Host host;
  EXPECT_EQ(Extract(a, &host), kErrOverwritesArchive);
  EXPECT_EQ(ReadAll(a), before);
  reader_.Close();

  ArchiveSpec multi;
  multi.multiVolume = true;
  fs::path b = Write(multi, {{File("b.001"), B("evil")}}, "out/b.exe");
  EXPECT_EQ(Extract(b, &host), kErrOverwritesArchive);
  // Tests write nothing, so they may pass.
  reader_.Close();
  ASSERT_EQ(reader_.Open(Internal(b).c_str()), 0u);
  EXPECT_EQ(reader_.TestAll(), 0u);
}

TEST_F(ArchiveTest, HostileNamesStayInsideTheTarget) {
  fs::path a = Write({}, {{File("..\\..\\up.txt"), B("1")},
                          {File("/etc/abs.txt"), B("2")},
                          {File("a/../../b.txt"), B("3")},
                          {File("C:\\drive.txt"), B("4")},
                          {File("\\\\srv\\share\\net.txt"), B("5")}});
  Host host;
  ASSERT_EQ(Extract(a, &host), 0u);
  EXPECT_EQ(FilesIn(out_), (std::vector<std::string>{"a/b.txt", "drive.txt", "etc/abs.txt",
                                                     "net.txt", "up.txt"}));
  std::vector<std::string> top;
  for (auto& e : fs::directory_iterator(dir_)) top.push_back(e.path().filename().string());
  std::sort(top.begin(), top.end());
  EXPECT_EQ(top, (std::vector<std::string>{"a.tvk", "out"}));
#if defined(_WIN32)
  // A stream name behind a file, or a drive in the middle of a name, is no
  // name Windows stores: the colon becomes '_', no stream is opened, and the
  // entries behind it are extracted too.
  reader_.Close();
  fs::remove_all(out_);
  fs::path s = Write({}, {{File("x.txt:hidden"), B("ads")},
                          {File("d\\C:e.txt"), B("drive")},
                          {File("COM\xB9.txt"), B("device")},
                          {File("after.txt"), B("after")}},
                     "s.tvk");
  ASSERT_EQ(Extract(s, &host), 0u);
  // The listing comes in UTF-8: the stored Windows-1252 superscript one is
  // C2 B9 there.
  EXPECT_EQ(FilesIn(out_), (std::vector<std::string>{"_COM\xC2\xB9.txt", "after.txt", "d/C_e.txt",
                                                     "x.txt_hidden"}));
  EXPECT_EQ(ReadAll(out_ / "x.txt_hidden"), "ads");
  EXPECT_FALSE(fs::exists(out_ / "x.txt"));
  reader_.Close();
  ASSERT_EQ(reader_.Open(Internal(s).c_str()), 0u);
  EXPECT_EQ(reader_.TestAll(), 0u);
#endif
}

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

TEST_F(ArchiveTest, WrongEntryPasswordIsAskedAgainAndTheRightOneServesLaterEntries) {
  EntrySpec one = File("one.txt");
  one.encryption = 2;
  one.password = "right";
  EntrySpec two = File("sub\\two.txt");
  two.encryption = 1;
  two.password = "right";
  Bytes big(70000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i % 251);
  fs::path a = Write({}, {{one, big}, {two, B("second")}});
  Host host;
  host.entryAnswers = {"wrong", "right"};
  ASSERT_EQ(Extract(a, &host), 0u);
  EXPECT_EQ(ReadAll(out_ / "one.txt"), std::string(big.begin(), big.end()));
  EXPECT_EQ(ReadAll(out_ / "sub" / "two.txt"), "second");
  EXPECT_EQ(host.entryTriedLast, (std::vector<std::string>{"", "wrong"}));
  EXPECT_EQ(host.entryNames, (std::vector<std::string>{"one.txt", "one.txt"}));
  EXPECT_EQ(host.overwriteExisting.size(), 0u);
  EXPECT_EQ(FilesIn(out_).size(), 2u);
  reader_.Close();

  // A refused prompt cancels; nothing is left behind.
  fs::remove_all(out_);
  Host refuse;
  EXPECT_EQ(Extract(a, &refuse), kErrCancelled);
  EXPECT_TRUE(FilesIn(out_).empty());
}

TEST_F(ArchiveTest, HeaderPasswordRetriesAndAStoredPasswordCannotSpin) {
  ArchiveSpec shape;
  shape.encryptHeads = true;
  shape.headPassword = "hp";
  CommentFields c;
  c.text = B("hidden");
  shape.comment = c;
  fs::path a = Write(shape, {{File("a.txt"), B("alpha")}, {File("b.txt"), B("beta")}});
  Host host;
  host.headerAnswers = {"bad", "hp"};
  ASSERT_EQ(Extract(a, &host), 0u);
  EXPECT_EQ(ReadAll(out_ / "b.txt"), "beta");
  EXPECT_EQ(host.headerTriedLast, (std::vector<std::string>{"", "bad"}));
  reader_.Close();

  // Refused at once.
  Host refuse;
  EXPECT_EQ(List(a, &refuse).error, kErrCancelled);
  reader_.Close();

  // A damaged head under the right stored password: the host sees that the
  // stored one just failed and asks the user, who cancels.
  std::string bytes = ReadAll(a);
  size_t last = bytes.size() - 5;  // inside the end marker's ciphertext
  bytes[last] ^= 0x40;
  WriteAll(a, bytes);
  Host stored;
  stored.useStoredHeaderRule = true;
  stored.storedHeaderPassword = "hp";
  EXPECT_EQ(List(a, &stored).error, kErrCancelled);
  EXPECT_LE(stored.headerCalls, 3u);
  EXPECT_EQ(stored.headerTriedLast.back(), "hp");
}

TEST_F(ArchiveTest, EncryptedHeadTooShortCountsAsAFailedCheck) {
  ArchiveSpec shape;
  shape.encryptHeads = true;
  shape.headPassword = "hp";
  fs::path path = dir_ / "s.tvk";
  {
    FileOutput output(path.string(), true);
    ArchiveWriter writer(shape, &output);
    ASSERT_TRUE(writer.AddEntry(File("a.txt"), B("alpha")));
    ASSERT_TRUE(writer.AddRawBytes({4, 0, 1, 2, 3, 4}));
    ASSERT_TRUE(writer.Finish());
  }
  Host host;
  host.headerAnswers = {"hp", "hp", "hp"};
  EXPECT_EQ(List(path, &host).error, kErrCancelled);
  EXPECT_EQ(host.headerCalls, 4u);  // each answer re-reads the same head
}

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

TEST_F(ArchiveTest, ProgressStopCancelsAndRemovesThePartialFile) {
  fs::path a = Write({}, {{File("a.bin"), Bytes(300000, 1)}});
  Host host;
  host.stopProgressAfter = 1;
  EXPECT_EQ(Extract(a, &host), kErrCancelled);
  EXPECT_TRUE(FilesIn(out_).empty());
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

TEST_F(ArchiveTest, SignedFlagWithoutASignatureBlockListsAsUnsigned) {
  ArchiveSpec shape;
  shape.extraMainFlags = fmt::kArcSigned;
  fs::path a = Write(shape, {{File("a.txt"), B("a")}});
  Listing l = List(a);
  EXPECT_EQ(l.error, 0u);
  EXPECT_EQ(l.info.signatureValid, 0u);
  EXPECT_EQ(l.entries.size(), 1u);
}

#if defined(TVK_HAVE_SIGNING)
TEST_F(ArchiveTest, ListingChecksTheSignature) {
  std::string master, signer, error;
  ASSERT_TRUE(signing::ReadTextFile(TVK_MASTER_KEY_FILE, &master, &error)) << error;
  ASSERT_TRUE(signing::GenerateKey(1024, &signer, &error)) << error;
  std::vector<uint8_t> certificate;
  ASSERT_TRUE(signing::IssueCertificate(master, signer, "Test Signer", &certificate, &error))
      << error;
  fs::path scratch = dir_ / "signed-prefix.bin";
  for (bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted);
    ArchiveSpec shape;
    shape.extraMainFlags = fmt::kArcSigned;
    shape.encryptHeads = encrypted;
    shape.headPassword = "hp";
    shape.signer = [&](VolumeOutput& out, uint32_t volume, uint64_t length, Bytes* record) {
      Bytes prefix(length);
      if (!out.ReadBack(volume, 0, prefix.data(), prefix.size())) return false;
      WriteAll(scratch, std::string(prefix.begin(), prefix.end()));
      std::string err;
      return signing::SignFilePrefix(scratch.string(), length, signer, certificate,
                                     signing::kBlockSha256, signing::DosStampNow(), record, &err);
    };
    fs::path a = Write(shape, {{File("a.txt"), B("signed content")}},
                       encrypted ? "enc.tvk" : "plain.tvk");
    Host host;
    host.headerAnswers = {"hp"};
    Listing l = List(a, &host);
    ASSERT_EQ(l.error, 0u);
    EXPECT_EQ(l.info.signatureValid, 1u);
    EXPECT_STREQ(l.info.signer, "Test Signer");
    reader_.Close();

    // One changed byte in front of the block: a mismatch, forgiven only when
    // the options say so.
    std::string bytes = ReadAll(a);
    size_t at = bytes.find("signed content");
    if (at == std::string::npos) at = bytes.size() / 2;
    bytes[at] ^= 1;
    WriteAll(a, bytes);
    Host again;
    again.headerAnswers = {"hp"};
    EXPECT_EQ(List(a, &again).error, kErrSignatureMismatch);
    reader_.Close();
    Host forgiving;
    forgiving.headerAnswers = {"hp"};
    ReaderCallbacks cb = forgiving.Callbacks();
    reader_.SetCallbacks(&cb);
    ASSERT_EQ(reader_.Open(Internal(a).c_str()), 0u);
    ExtractOptions o = Options();
    o.ignoreSignatureMismatch = 1;
    reader_.SetOptions(kOptionsExtraction, &o);
    ArchiveInfo info{};
    EXPECT_EQ(reader_.List(nullptr, nullptr, nullptr, nullptr, &info), 0u);
    EXPECT_EQ(info.signatureValid, 0u);
    reader_.Close();
  }
}
#endif

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

TEST_F(ArchiveTest, HandlerOperationsNameListsAndOptions) {
  ArchiveHandler generic;
  EXPECT_EQ(generic.List(nullptr, nullptr, nullptr, nullptr, nullptr), kErrNotSupported);
  generic.Close();
  EXPECT_EQ(generic.TestAll(), kErrNotSupported);
  generic.Close();

  EXPECT_EQ(reader_.CreateNameList(2), nullptr);
  EXPECT_EQ(reader_.LastError(), kErrOptions);
  reader_.Close();
  EXPECT_EQ(reader_.LastError(), 0u);

  NameList* list = reader_.CreateNameList(kListNames);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(reader_.AddName(list, "c:\\Docs\\A.txt"), 0u);
  EXPECT_EQ(reader_.AddName(list, "docs\\a.TXT"), 0u);
  EXPECT_EQ(list->count, 2u);
  EXPECT_EQ(list->compare(list->head->item, list->tail->item), 0);
  EXPECT_STREQ(static_cast<NameItem*>(list->head->item)->text, "c:\\Docs\\A.txt");
  reader_.FreeNameList(list);

  // A record one byte short changes nothing.
  fs::path a = Write({}, {{File("x.txt"), B("x")}});
  ASSERT_EQ(reader_.Open(Internal(a).c_str()), 0u);
  ExtractOptions good = Options();
  reader_.SetOptions(kOptionsExtraction, &good);
  ExtractOptions wrong = Options();
  wrong.size = sizeof(ExtractOptions) - 1;
  std::snprintf(wrong.targetFolder, sizeof(wrong.targetFolder), "%s", Internal(dir_ / "elsewhere").c_str());
  reader_.SetOptions(kOptionsExtraction, &wrong);
  EXPECT_EQ(reader_.LastError(), kErrOptions);
  reader_.Close();

  // Kind 1: checked like kind 2; its root switch keeps drive roots in names.
  CompressOptions short1{};
  short1.size = sizeof(CompressOptions) - 1;
  reader_.SetOptions(kOptionsCompression, &short1);
  EXPECT_EQ(reader_.LastError(), kErrOptions);
  reader_.Close();
  fs::path rooted = Write({}, {{File("C:\\x.txt"), B("x")}}, "rooted.tvk");
  ASSERT_EQ(reader_.Open(Internal(rooted).c_str()), 0u);
  CompressOptions keep{};
  keep.size = sizeof(keep);
  keep.keepRoots = 1;
  const char settings[] = "settings";
  keep.settings = settings;
  keep.settingsLength = sizeof(settings);
  reader_.SetOptions(kOptionsCompression, &keep);
  EXPECT_EQ(reader_.LastError(), 0u);
  NameList* all = reader_.CreateNameList(kListNames);
  reader_.AddName(all, "*.*");
  NameList* found = reader_.CreateNameList(kListEntries);
  EXPECT_EQ(reader_.List(all, nullptr, nullptr, found, nullptr), 0u);
  ASSERT_EQ(found->count, 1u);
  EXPECT_STREQ(static_cast<FileEntry*>(found->head->item)->name, "C:\\x.txt");
  reader_.FreeNameList(all);
  reader_.FreeNameList(found);
  reader_.SetOptions(7, &keep);
  EXPECT_EQ(reader_.LastError(), kErrOptions);
  reader_.Close();

  // Close after a failed open frees and clears; the reader opens again.
  WriteAll(dir_ / "not.tvk", "no archive here");
  EXPECT_EQ(reader_.Open(Internal(dir_ / "not.tvk").c_str()), kErrNotArchive);
  reader_.Close();
  EXPECT_EQ(reader_.LastError(), 0u);
  Host host;
  EXPECT_EQ(Extract(a, &host), 0u);
  EXPECT_EQ(ReadAll(out_ / "x.txt"), "x");
}

TEST_F(ArchiveTest, OutputPathsFollowTheOptions) {
  fs::path a = Write({}, {{File("base\\sub\\f.txt"), B("f")}, {File("other/g.txt"), B("g")}});
  Host flat;
  ExtractOptions o = Options(false);
  ASSERT_EQ(Extract(a, &flat, {"*.*"}, &o), 0u);
  EXPECT_EQ(FilesIn(out_), (std::vector<std::string>{"f.txt", "g.txt"}));
  reader_.Close();
  fs::remove_all(out_);

  Host based;
  ExtractOptions b = Options(true);
  std::snprintf(b.baseFolder, sizeof(b.baseFolder), "BASE");
  ASSERT_EQ(Extract(a, &based, {"*.*"}, &b), 0u);
  EXPECT_EQ(FilesIn(out_), (std::vector<std::string>{"other/g.txt", "sub/f.txt"}));
  EXPECT_EQ(based.started, (std::vector<std::string>{"\\base\\sub\\f.txt", "\\other\\g.txt"}));
}

}  // namespace
}  // namespace tvk
