// File operations on a scratch folder: open modes, 64-bit positions,
// attributes, times, find, output files, temporary names and system folders.
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "scratch_folder.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using tvk_test::ReadWholeFile;
using tvk_test::ScratchFolder;
using tvk_test::WriteWholeFile;

uint64_t Ticks(const tvk::FileTime& ft) { return (static_cast<uint64_t>(ft.high) << 32) | ft.low; }

TEST(Files, OpenModes) {
  ScratchFolder dir;
  const std::string f = dir / "data.bin";

  // Must-exist modes fail on a missing file and do not create it.
  for (const char* mode : {"a", "r", "v"}) {
    EXPECT_EQ(tvk::FileOpen(f.c_str(), mode), TVK_INVALID_FILE) << mode;
    EXPECT_FALSE(tvk::FileExists(f.c_str())) << mode;
  }
  // Unknown letters never reach the file system.
  for (const char* mode : {"x", "", "W", "+w"}) {
    EXPECT_EQ(tvk::FileOpen(f.c_str(), mode), TVK_INVALID_FILE) << mode;
    EXPECT_FALSE(tvk::FileExists(f.c_str())) << mode;
  }

  // "w" creates for writing only.
  tvk::FileHandle h = tvk::FileOpen(f.c_str(), "w");
  ASSERT_NE(h, TVK_INVALID_FILE);
  EXPECT_EQ(tvk::FileWrite(h, "hello world", 11), 11);
  char buf[32];
  EXPECT_EQ(tvk::FileRead(h, buf, sizeof(buf)), -1);
  EXPECT_EQ(tvk::FileClose(h), 1);

  // "r" reads and cannot write; a read at the end answers 0.
  h = tvk::FileOpen(f.c_str(), "r");
  ASSERT_NE(h, TVK_INVALID_FILE);
  EXPECT_EQ(tvk::FileWrite(h, "x", 1), -1);
  EXPECT_EQ(tvk::FileRead(h, buf, 5), 5);
  EXPECT_EQ(std::string(buf, 5), "hello");
  EXPECT_EQ(tvk::FileRead(h, buf, sizeof(buf)), 6);
  EXPECT_EQ(tvk::FileRead(h, buf, sizeof(buf)), 0);
  tvk::FileClose(h);

  // "v" writes over an existing file without cutting it.
  h = tvk::FileOpen(f.c_str(), "v");
  ASSERT_NE(h, TVK_INVALID_FILE);
  EXPECT_EQ(tvk::FileWrite(h, "J", 1), 1);
  tvk::FileClose(h);
  EXPECT_EQ(ReadWholeFile(f), "Jello world");

  // "a" reads and writes an existing file without cutting it.
  h = tvk::FileOpen(f.c_str(), "a");
  ASSERT_NE(h, TVK_INVALID_FILE);
  EXPECT_EQ(tvk::FileSeek(h, 6, tvk::kSeekStart), 6);
  EXPECT_EQ(tvk::FileWrite(h, "W", 1), 1);
  EXPECT_EQ(tvk::FileSeek(h, 0, tvk::kSeekStart), 0);
  EXPECT_EQ(tvk::FileRead(h, buf, 11), 11);
  EXPECT_EQ(std::string(buf, 11), "Jello World");
  tvk::FileClose(h);

  // "b" truncates and allows both directions.
  h = tvk::FileOpen(f.c_str(), "b");
  ASSERT_NE(h, TVK_INVALID_FILE);
  EXPECT_EQ(tvk::FileSize(h), 0);
  EXPECT_EQ(tvk::FileWrite(h, "abc", 3), 3);
  EXPECT_EQ(tvk::FileSeek(h, -2, tvk::kSeekCurrent), 1);
  EXPECT_EQ(tvk::FileRead(h, buf, 2), 2);
  EXPECT_EQ(std::string(buf, 2), "bc");
  tvk::FileClose(h);
  // "w" truncates too.
  EXPECT_TRUE(WriteWholeFile(f, "z"));
  EXPECT_EQ(ReadWholeFile(f), "z");

  // A folder is not a file in any mode.
  for (const char* mode : {"r", "a", "w", "b", "v"}) {
    EXPECT_EQ(tvk::FileOpen(dir.path().c_str(), mode), TVK_INVALID_FILE) << mode;
  }
  EXPECT_TRUE(tvk::IsFolder(dir.path().c_str()));

  EXPECT_EQ(tvk::FileClose(TVK_INVALID_FILE), 0);
  EXPECT_EQ(tvk::FileRead(TVK_INVALID_FILE, buf, 1), -1);
  EXPECT_EQ(tvk::FileWrite(TVK_INVALID_FILE, buf, 1), -1);
  EXPECT_EQ(tvk::FileSize(TVK_INVALID_FILE), -1);
}

TEST(Files, PositionsAndSize) {
  ScratchFolder dir;
  const std::string f = dir / "pos.bin";
  tvk::FileHandle h = tvk::FileOpen(f.c_str(), "b");
  ASSERT_NE(h, TVK_INVALID_FILE);
  EXPECT_EQ(tvk::FileWrite(h, "0123456789", 10), 10);
  EXPECT_EQ(tvk::FileTell(h), 10);
  EXPECT_EQ(tvk::FileSeek(h, -3, tvk::kSeekEnd), 7);
  EXPECT_EQ(tvk::FileTell(h), 7);
  EXPECT_EQ(tvk::FileSeek(h, 2, tvk::kSeekCurrent), 9);
  EXPECT_EQ(tvk::FileSeek(h, -20, tvk::kSeekCurrent), -1);  // before the start
  EXPECT_EQ(tvk::FileTell(h), 9);
  EXPECT_EQ(tvk::FileSeek(h, 0, 7), -1);  // no such origin
  EXPECT_EQ(tvk::FileSize(h), 10);
  EXPECT_EQ(tvk::FileSeek(h, 20, tvk::kSeekStart), 20);  // beyond the end is allowed
  EXPECT_EQ(tvk::FileSize(h), 10);
  tvk::FileClose(h);
}

TEST(Files, PositionsBeyondFourGigabytes) {
  ScratchFolder dir;
  const std::string f = dir / "sparse.bin";
  tvk::FileHandle h = tvk::FileOpen(f.c_str(), "b");
  ASSERT_NE(h, TVK_INVALID_FILE);
  const int64_t beyond = (int64_t{5} << 30) + 123;
  ASSERT_EQ(tvk::FileSeek(h, beyond, tvk::kSeekStart), beyond);
  if (tvk::FileWrite(h, "Z", 1) != 1) {
    tvk::FileClose(h);
    GTEST_SKIP() << "the file system takes no file of 5 GiB here";
  }
  EXPECT_EQ(tvk::FileSize(h), beyond + 1);
  EXPECT_EQ(tvk::FileTell(h), beyond + 1);
  EXPECT_EQ(tvk::FileSeek(h, -1, tvk::kSeekEnd), beyond);
  char c = 0;
  EXPECT_EQ(tvk::FileRead(h, &c, 1), 1);
  EXPECT_EQ(c, 'Z');
  // The low 32 bits alone would land here; the byte must not be there.
  EXPECT_EQ(tvk::FileSeek(h, beyond & 0xFFFFFFFF, tvk::kSeekStart), beyond & 0xFFFFFFFF);
  EXPECT_EQ(tvk::FileRead(h, &c, 1), 1);
  EXPECT_EQ(c, 0);
  tvk::FileClose(h);

  tvk::FindData data;
  ASSERT_EQ(tvk::FileFind(f.c_str(), &data), 1);
  EXPECT_EQ(data.sizeHigh, 1u);
  EXPECT_EQ(data.sizeLow, static_cast<uint32_t>(beyond + 1));
  EXPECT_EQ(tvk::FileDelete(f.c_str()), 1);
}

TEST(Files, DeleteAndRename) {
  ScratchFolder dir;
  const std::string a = dir / "a.txt", b = dir / "b.txt";
  ASSERT_TRUE(WriteWholeFile(a, "first"));
  ASSERT_TRUE(WriteWholeFile(b, "second"));
  EXPECT_EQ(tvk::RenameFile(a.c_str(), b.c_str()), 1);  // replaces b
  EXPECT_FALSE(tvk::FileExists(a.c_str()));
  EXPECT_EQ(ReadWholeFile(b), "first");
  EXPECT_EQ(tvk::RenameFile(a.c_str(), b.c_str()), 0);

  EXPECT_EQ(tvk::FileDelete(b.c_str()), 1);
  EXPECT_FALSE(tvk::FileExists(b.c_str()));
  EXPECT_EQ(tvk::FileDelete(b.c_str()), 0);
  EXPECT_EQ(tvk::FileDelete(dir.path().c_str()), 0);  // folders are not files
  EXPECT_TRUE(tvk::IsFolder(dir.path().c_str()));
}

TEST(Files, AttributesAndFind) {
  ScratchFolder dir;
  const std::string f = dir / "Liesmich.TXT";
  ASSERT_TRUE(WriteWholeFile(f, "0123456789"));
  ASSERT_EQ(tvk::MakeFolder((dir / "sub").c_str()), 1);

  tvk::FindData data;
  ASSERT_EQ(tvk::FileFind(f.c_str(), &data), 1);
  EXPECT_STREQ(data.name, "Liesmich.TXT");
  EXPECT_EQ(data.sizeHigh, 0u);
  EXPECT_EQ(data.sizeLow, 10u);
  EXPECT_EQ(data.attributes & (tvk::kAttrDirectory | tvk::kAttrReadOnly), 0u);
  EXPECT_NE(data.attributes & tvk::kAttrArchive, 0u);  // a new file carries it

  EXPECT_EQ(tvk::FileSetAttributes(f.c_str(), tvk::kAttrReadOnly | tvk::kAttrHidden), 0u);
  ASSERT_EQ(tvk::FileFind(f.c_str(), &data), 1);
  EXPECT_NE(data.attributes & tvk::kAttrReadOnly, 0u);
#if defined(_WIN32)
  EXPECT_NE(data.attributes & tvk::kAttrHidden, 0u);
#else
  if (geteuid() != 0) {  // root writes anyway
    EXPECT_EQ(tvk::FileOpen(f.c_str(), "w"), TVK_INVALID_FILE);
  }
#endif
  EXPECT_EQ(tvk::FileResetAttributes(f.c_str()), 0u);
  ASSERT_EQ(tvk::FileFind(f.c_str(), &data), 1);
  EXPECT_EQ(data.attributes & (tvk::kAttrReadOnly | tvk::kAttrHidden | tvk::kAttrSystem), 0u);
  EXPECT_NE(tvk::FileSetAttributes((dir / "missing").c_str(), 0), 0u);
  EXPECT_NE(tvk::FileResetAttributes((dir / "missing").c_str()), 0u);

  // Folders: found, but neither files nor openable.
  ASSERT_EQ(tvk::FileFind((dir / "sub").c_str(), &data), 1);
  EXPECT_NE(data.attributes & tvk::kAttrDirectory, 0u);
  EXPECT_FALSE(tvk::FileExists((dir / "sub").c_str()));
  EXPECT_TRUE(tvk::IsFolder((dir / "sub").c_str()));
  EXPECT_FALSE(tvk::IsFolder(f.c_str()));
  EXPECT_TRUE(tvk::FileExists(f.c_str()));

  // Masks in the last component, without regard to case.
  ASSERT_EQ(tvk::FileFind((dir / "*.txt").c_str(), &data), 1);
  EXPECT_STREQ(data.name, "Liesmich.TXT");
  ASSERT_EQ(tvk::FileFind((dir / "lies????.t?t").c_str(), &data), 1);
  EXPECT_STREQ(data.name, "Liesmich.TXT");
  EXPECT_EQ(tvk::FileFind((dir / "*.doc").c_str(), &data), 0);
  EXPECT_EQ(tvk::FileFind((dir / "missing.txt").c_str(), &data), 0);
  EXPECT_EQ(tvk::FileFind((dir / "no\\such\\*.*").c_str(), &data), 0);
  EXPECT_FALSE(tvk::FileExists((dir / "missing.txt").c_str()));

  EXPECT_EQ(tvk::MakeFolder((dir / "sub").c_str()), 0);  // exists already
  EXPECT_EQ(tvk::MakeFolder((dir / "x\\y").c_str()), 0);  // one level only
}

TEST(Files, TimesRoundTrip) {
  ScratchFolder dir;
  const std::string f = dir / "stamped.txt";
  tvk::FileHandle h = tvk::FileOpen(f.c_str(), "w");
  ASSERT_NE(h, TVK_INVALID_FILE);
  // 2019-07-04 13:37:42 local time, as the archive reader hands it over.
  const uint16_t dosDate = ((2019 - 1980) << 9) | (7 << 5) | 4;
  const uint16_t dosTime = (13 << 11) | (37 << 5) | 21;
  EXPECT_EQ(tvk::FileSetTime(h, 0, dosDate, dosTime), 0u);
  EXPECT_NE(tvk::FileSetTime(h, 0, static_cast<uint16_t>((2019 - 1980) << 9), 0), 0u);  // month 0
  tvk::FileClose(h);

  tvk::FindData data;
  ASSERT_EQ(tvk::FileFind(f.c_str(), &data), 1);
  tvk::FileTime local;
  ASSERT_EQ(tvk::UtcToLocalFileTime(&data.lastWriteTime, &local), 1);
  uint16_t d = 0, t = 0;
  ASSERT_EQ(tvk::FileTimeToDos(&local, &d, &t), 1);
  EXPECT_EQ(d, dosDate);
  EXPECT_EQ(t, dosTime);
  EXPECT_EQ(Ticks(data.lastAccessTime), Ticks(data.lastWriteTime));

  // UTC FILETIMEs are kept to the 100 ns.
  h = tvk::FileOpen(f.c_str(), "v");
  ASSERT_NE(h, TVK_INVALID_FILE);
  const uint64_t write = 132000000001234567ull, access = 133000000007654321ull;
  tvk::FileTime w{static_cast<uint32_t>(write), static_cast<uint32_t>(write >> 32)};
  tvk::FileTime a{static_cast<uint32_t>(access), static_cast<uint32_t>(access >> 32)};
  EXPECT_EQ(tvk::FileSetTimes(h, &w, &a, &w), 0u);
  tvk::FileClose(h);
  ASSERT_EQ(tvk::FileFind(f.c_str(), &data), 1);
  EXPECT_EQ(Ticks(data.lastWriteTime), write);
  EXPECT_EQ(Ticks(data.lastAccessTime), access);

  // A missing time stays as it was.
  h = tvk::FileOpen(f.c_str(), "v");
  ASSERT_NE(h, TVK_INVALID_FILE);
  EXPECT_EQ(tvk::FileSetTimes(h, nullptr, &w, nullptr), 0u);
  tvk::FileClose(h);
  ASSERT_EQ(tvk::FileFind(f.c_str(), &data), 1);
  EXPECT_EQ(Ticks(data.lastWriteTime), write);
  EXPECT_EQ(Ticks(data.lastAccessTime), write);
}

TEST(Files, CreateOutputFileMakesFoldersAndReplaces) {
  ScratchFolder dir;
  const std::string f = dir / "a\\b\\c\\out.txt";
  tvk::FileHandle h = tvk::CreateOutputFile(f.c_str());
  ASSERT_NE(h, TVK_INVALID_FILE);
  EXPECT_EQ(tvk::FileWrite(h, "long content", 12), 12);
  tvk::FileClose(h);
  EXPECT_TRUE(tvk::IsFolder((dir / "a\\b\\c").c_str()));

  // An existing read-only file loses the attribute and is cut.
  ASSERT_EQ(tvk::FileSetAttributes(f.c_str(), tvk::kAttrReadOnly), 0u);
  h = tvk::CreateOutputFile(f.c_str());
  ASSERT_NE(h, TVK_INVALID_FILE);
  EXPECT_EQ(tvk::FileWrite(h, "new", 3), 3);
  tvk::FileClose(h);
  EXPECT_EQ(ReadWholeFile(f), "new");

  // A file where a folder must go stops it.
  ASSERT_TRUE(WriteWholeFile(dir / "blocker", ""));
  EXPECT_EQ(tvk::CreateOutputFile((dir / "blocker\\x.txt").c_str()), TVK_INVALID_FILE);
  EXPECT_EQ(tvk::MakeFolders((dir / "blocker\\x").c_str()), 0);
  EXPECT_EQ(tvk::MakeFolders((dir / "p\\q\\").c_str()), 1);
  EXPECT_TRUE(tvk::IsFolder((dir / "p\\q").c_str()));
}

TEST(Files, CreateNewFileRefusesExistingNames) {
  ScratchFolder dir;
  const std::string f = dir / "lang.~cx";
  tvk::FileHandle h = tvk::CreateNewFile(f.c_str());
  ASSERT_NE(h, TVK_INVALID_FILE);
  EXPECT_EQ(tvk::FileWrite(h, "x", 1), 1);
  tvk::FileClose(h);
  EXPECT_EQ(tvk::CreateNewFile(f.c_str()), TVK_INVALID_FILE);
  EXPECT_EQ(ReadWholeFile(f), "x");
#if !defined(_WIN32)
  EXPECT_EQ(tvk::GetUnixMode(f.c_str()) & 0777, 0600u);
  // A planted link, even one pointing nowhere, is never followed.
  const std::string target = dir / "target";
  ASSERT_EQ(symlink(tvk_test::SystemPath(target).c_str(), tvk_test::SystemPath(dir / "link").c_str()), 0);
  EXPECT_EQ(tvk::CreateNewFile((dir / "link").c_str()), TVK_INVALID_FILE);
  EXPECT_FALSE(tvk::FileExists(target.c_str()));
#endif
}

TEST(Files, UniqueTempName) {
  ScratchFolder dir;
  char name[tvk::kPathSize];
  ASSERT_EQ(tvk::UniqueTempName((dir / "anything.exe").c_str(), ".~cx", name, sizeof(name)), 1);
  std::string s = name;
  const std::string prefix = dir.path() + "\\";
  ASSERT_EQ(s.compare(0, prefix.size(), prefix), 0) << s;
  ASSERT_GT(s.size(), prefix.size() + 4);
  EXPECT_EQ(s.substr(s.size() - 4), ".~cx");
  const std::string digits = s.substr(prefix.size(), s.size() - prefix.size() - 4);
  EXPECT_LE(digits.size(), 5u);  // 0 to 32767
  EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos) << digits;
  EXPECT_FALSE(tvk::FileExists(name));

  EXPECT_EQ(tvk::UniqueTempName((dir / "x").c_str(), ".~cx", name, 5), 0);  // output too small

  // The name of this second taken by a file: the answer waits for the next
  // second; taken by a folder: folders do not count.
  for (int attempt = 0; attempt < 5; ++attempt) {
    time_t before = time(nullptr);
    srand(static_cast<unsigned>(before));
    const std::string taken = prefix + std::to_string(rand() & 0x7FFF) + ".~cx";
    ASSERT_TRUE(WriteWholeFile(taken, ""));
    ASSERT_EQ(tvk::UniqueTempName((dir / "x").c_str(), ".~cx", name, sizeof(name)), 1);
    EXPECT_NE(std::string(name), taken);
    EXPECT_FALSE(tvk::FileExists(name));
    tvk::FileDelete(taken.c_str());

    before = time(nullptr);
    srand(static_cast<unsigned>(before));
    const std::string folder = prefix + std::to_string(rand() & 0x7FFF) + ".~cx";
    ASSERT_EQ(tvk::MakeFolder(folder.c_str()), 1);
    ASSERT_EQ(tvk::UniqueTempName((dir / "x").c_str(), ".~cx", name, sizeof(name)), 1);
    bool sameSecond = time(nullptr) == before;
    std::filesystem::remove(tvk_test::SystemPath(folder));
    if (!sameSecond) continue;
    EXPECT_EQ(std::string(name), folder);
    break;
  }
}

TEST(Files, SystemFolders) {
  char p[tvk::kPathSize];
  ASSERT_EQ(tvk::GetTempFolder(p, sizeof(p)), 1);
  EXPECT_EQ(p[strlen(p) - 1], '\\');
  EXPECT_TRUE(tvk::IsFolder(p));
  EXPECT_EQ(tvk::GetTempFolder(p, 2), 0);

  ASSERT_EQ(tvk::GetProgramPath(p, sizeof(p)), 1);
  EXPECT_TRUE(tvk::FileExists(p)) << p;
  EXPECT_NE(std::string(tvk::NamePart(p)).find("test_platform"), std::string::npos) << p;
  EXPECT_EQ(tvk::GetProgramPath(p, 4), 0);

  ASSERT_EQ(tvk::GetSystemFolder(p, sizeof(p)), 1);
  EXPECT_TRUE(tvk::IsFolder(p)) << p;
  ASSERT_EQ(tvk::GetWindowsFolder(p, sizeof(p)), 1);
  EXPECT_TRUE(tvk::IsFolder(p)) << p;

  char saved[tvk::kPathSize], now[tvk::kPathSize];
  ASSERT_EQ(tvk::GetCurrentFolder(saved, sizeof(saved)), 1);
  {
    ScratchFolder dir;
    ASSERT_EQ(tvk::SetCurrentFolder(dir.path().c_str()), 1);
    ASSERT_EQ(tvk::GetCurrentFolder(now, sizeof(now)), 1);
    char expected[tvk::kPathSize];
    strcpy(expected, dir.path().c_str());
    tvk::LongForm(expected, sizeof(expected));
    EXPECT_EQ(tvk::StrCompareNoCase(now, expected), 0) << now << " / " << expected;
    // A bare name lies in the current folder.
    tvk::FileHandle h = tvk::CreateOutputFile("bare.txt");
    ASSERT_NE(h, TVK_INVALID_FILE);
    tvk::FileClose(h);
    EXPECT_TRUE(tvk::FileExists((dir / "bare.txt").c_str()));
    EXPECT_EQ(tvk::SetCurrentFolder(saved), 1);
  }
  EXPECT_EQ(tvk::SetCurrentFolder((std::string(saved) + "\\no-such-folder").c_str()), 0);

  // Long form leaves a path alone that the system cannot resolve.
  char missing[tvk::kPathSize] = "no-such-folder\\file.txt";
  tvk::LongForm(missing, sizeof(missing));
  EXPECT_STREQ(missing, "no-such-folder\\file.txt");
}

#if !defined(_WIN32)
TEST(Files, UnixModes) {
  ScratchFolder dir;
  const std::string f = dir / "run.sh";
  ASSERT_TRUE(WriteWholeFile(f, "#!/bin/sh\n"));
  EXPECT_EQ(tvk::SetUnixMode(f.c_str(), 0755), 1);
  EXPECT_EQ(tvk::GetUnixMode(f.c_str()), 0755u);
  EXPECT_EQ(tvk::SetUnixMode(f.c_str(), 06777), 1);  // never set-id bits
  EXPECT_EQ(tvk::GetUnixMode(f.c_str()), 0777u);
  EXPECT_EQ(tvk::SetUnixMode((dir / "missing").c_str(), 0644), 0);
  EXPECT_EQ(tvk::GetUnixMode((dir / "missing").c_str()), 0u);

  // Read-only clears every write bit; undoing it gives the owner write back.
  ASSERT_EQ(tvk::SetUnixMode(f.c_str(), 0775), 1);
  EXPECT_EQ(tvk::FileSetAttributes(f.c_str(), tvk::kAttrReadOnly), 0u);
  EXPECT_EQ(tvk::GetUnixMode(f.c_str()), 0555u);
  EXPECT_EQ(tvk::FileResetAttributes(f.c_str()), 0u);
  EXPECT_NE(tvk::GetUnixMode(f.c_str()) & 0200, 0u);
  EXPECT_EQ(tvk::GetUnixMode(f.c_str()) & 0555, 0555u);

  // A read-only folder still takes new files, as on Windows.
  const std::string sub = dir / "sub";
  ASSERT_EQ(tvk::MakeFolder(sub.c_str()), 1);
  ASSERT_EQ(tvk::SetUnixMode(sub.c_str(), 0755), 1);
  EXPECT_EQ(tvk::FileSetAttributes(sub.c_str(), tvk::kAttrReadOnly | tvk::kAttrDirectory), 0u);
  EXPECT_EQ(tvk::GetUnixMode(sub.c_str()), 0755u);
}

TEST(Files, PipesUnderFileNamesAreRefusedAtOnce) {
  ScratchFolder dir;
  const std::string pipe = dir / "out.txt";
  ASSERT_EQ(mkfifo(tvk_test::SystemPath(pipe).c_str(), 0600), 0);
  // Without a reader at the other end these would wait for ever.
  for (const char* mode : {"w", "v", "r", "a"}) {
    EXPECT_EQ(tvk::FileOpen(pipe.c_str(), mode), TVK_INVALID_FILE) << mode;
  }
  EXPECT_EQ(tvk::CreateOutputFile(pipe.c_str()), TVK_INVALID_FILE);
}

TEST(Files, WriteToAFullDiskFails) {
  tvk::FileHandle h = tvk::FileOpen("\\dev\\full", "v");
  if (h == TVK_INVALID_FILE) GTEST_SKIP() << "no /dev/full";
  char block[4096] = {};
  EXPECT_EQ(tvk::FileWrite(h, block, sizeof(block)), -1);
  tvk::FileClose(h);
}
#endif

}  // namespace
