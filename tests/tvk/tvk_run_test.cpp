// The tvk program on real trees: a then t and x give back every byte, time,
// mode and folder; damage, wrong passwords, missing volumes and refused
// questions end with the documented exit codes.
#include "tests/tvk/tvk_run.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

TEST_F(TvkRun, PlainArchiveRoundTrip) {
  MakeTree(dir_ / "tree");
  // A WAV file takes the audio method: a random walk, which LZ cannot
  // shrink as well as the predictors do.
  std::string wav = "RIFF" + std::string("\x24\x10\x00\x00", 4) + "WAVEfmt " +
                    std::string("\x10\0\0\0\x01\0\x01\0\x44\xAC\0\0\x88\x58\x01\0\x02\0\x10\0", 20) +
                    "data" + std::string("\x00\x10\x00\x00", 4);
  uint32_t seed = 7;
  int32_t level = 0;
  for (int i = 0; i < 2048; ++i) {
    seed = seed * 1103515245u + 12345u;
    level += static_cast<int32_t>((seed >> 16) % 81) - 40;
    int16_t v = static_cast<int16_t>(level);
    wav.push_back(static_cast<char>(v & 0xFF));
    wav.push_back(static_cast<char>(v >> 8));
  }
  WriteFile(dir_ / "tree/sound.wav", wav);
  for (const char* options : {"-m0", "", "-m4 -s", "-m1 -s -v100k"}) {
    SCOPED_TRACE(options);
    fs::remove_all(dir_ / "out");
    fs::remove(dir_ / "plain.tvk");
    Result a = Tvk(std::string("a ") + options + " plain.tvk tree");
    ASSERT_EQ(a.code, 0) << a.output;
    EXPECT_NE(a.output.find("UTF-8"), std::string::npos) << a.output;  // the Cyrillic name
    Result l = Tvk("l plain.tvk");
    ASSERT_EQ(l.code, 0) << l.output;
    EXPECT_NE(l.output.find("tree/docs/readme.txt"), std::string::npos) << l.output;
    EXPECT_NE(l.output.find("2001-02-03"), std::string::npos) << l.output;
    EXPECT_NE(l.output.find("tree/empty-folder/"), std::string::npos) << l.output;
    if (std::string(options) != "-m0") {
      EXPECT_NE(l.output.find("lz-"), std::string::npos) << l.output;
      EXPECT_NE(l.output.find("audio"), std::string::npos) << l.output;
    }
    Result t = Tvk("t plain.tvk");
    ASSERT_EQ(t.code, 0) << t.output;
    Result x = Tvk("x -q -o out plain.tvk");
    ASSERT_EQ(x.code, 0) << x.output;
    EXPECT_EQ(x.output, "");
    ExpectSameTree(dir_ / "tree", dir_ / "out/tree");
  }
  // A leading root is dropped: absolute paths come back relative.
  Result abs = Tvk("a abs.tvk " + (dir_ / "tree/docs").string());
  ASSERT_EQ(abs.code, 0) << abs.output;
  std::string stored = (dir_ / "tree/docs/readme.txt").string().substr(1);
  EXPECT_NE(Tvk("l abs.tvk").output.find(stored), std::string::npos);
}

TEST_F(TvkRun, EncryptedArchivesOfBothKindsAndEncryptedHeads) {
  MakeTree(dir_ / "tree");
  const struct {
    const char* options;
    const char* crypt;
  } cases[] = {{"", "AES-256"}, {"--aes128", "AES-128"}, {"--encrypt-headers", "AES-256"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    fs::remove_all(dir_ / "out");
    fs::remove(dir_ / "enc.tvk");
    Result a = Tvk(std::string("a -q -pS3cr\xC3\xA9t ") + c.options + " enc.tvk tree");
    ASSERT_EQ(a.code, 0) << a.output;
    std::string bytes = ReadFile(dir_ / "enc.tvk");
    EXPECT_EQ(bytes.find("line 17 of a text file"), std::string::npos);
    if (std::string(c.options) == "--encrypt-headers") {
      EXPECT_EQ(bytes.find("readme"), std::string::npos);
    }
    Result l = Tvk("l -pS3cr\xC3\xA9t enc.tvk");
    ASSERT_EQ(l.code, 0) << l.output;
    EXPECT_NE(l.output.find(c.crypt), std::string::npos) << l.output;
    ASSERT_EQ(Tvk("t -pS3cr\xC3\xA9t enc.tvk").code, 0);
    // The password typed at the prompt serves every entry.
    Result x = Tvk("x -q -p -o out enc.tvk", "S3cr\xC3\xA9t\n");
    ASSERT_EQ(x.code, 0) << x.output;
    ExpectSameTree(dir_ / "tree", dir_ / "out/tree");
    // A wrong password brings the question back; the right answer goes on.
    Result retry = Tvk("t -pwrong enc.tvk", "S3cr\xC3\xA9t\n");
    EXPECT_EQ(retry.code, 0) << retry.output;
    EXPECT_NE(retry.output.find("Password for"), std::string::npos) << retry.output;
    // And the end of input refuses.
    Result refused = Tvk("t -pwrong enc.tvk");
    EXPECT_EQ(refused.code, 9) << refused.output;
  }
}

TEST_F(TvkRun, VolumeSetOfSmallVolumes) {
  MakeTree(dir_ / "tree");
  Result a = Tvk("a -m0 -v64k -psecret --encrypt-headers set.tvk tree");
  ASSERT_EQ(a.code, 0) << a.output;
  EXPECT_NE(a.output.find("volumes"), std::string::npos) << a.output;
  ASSERT_TRUE(fs::exists(dir_ / "set.010"));
  for (auto& e : fs::directory_iterator(dir_))
    if (e.path().stem() == "set") {
      EXPECT_LE(fs::file_size(e.path()), 65536u) << e.path();
    }
  Result l = Tvk("l -psecret set.tvk");
  ASSERT_EQ(l.code, 0) << l.output;
  size_t volumes = 0;
  for (auto& e : fs::directory_iterator(dir_)) volumes += e.path().stem() == "set";
  EXPECT_NE(l.output.find("volume set of " + std::to_string(volumes) + " volumes"), std::string::npos)
      << l.output;
  ASSERT_EQ(Tvk("t -psecret set.tvk").code, 0);
  Result x = Tvk("x -q -psecret -o out set.tvk");
  ASSERT_EQ(x.code, 0) << x.output;
  ExpectSameTree(dir_ / "tree", dir_ / "out/tree");

  // A volume moved elsewhere: the folder is asked for; the end of input refuses.
  fs::create_directories(dir_ / "moved");
  fs::rename(dir_ / "set.004", dir_ / "moved/set.004");
  fs::remove_all(dir_ / "out");
  Result refused = Tvk("x -q -psecret -o out set.tvk");
  EXPECT_EQ(refused.code, 9) << refused.output;
  EXPECT_NE(refused.output.find("set.004"), std::string::npos) << refused.output;
  fs::remove_all(dir_ / "out");
  // The volumes after it are looked for beside the moved one: the answer
  // for the next one leads back.
  Result found = Tvk("x -q -psecret -o out set.tvk", "moved\n" + dir_.string() + "\n");
  EXPECT_EQ(found.code, 0) << found.output;
  ExpectSameTree(dir_ / "tree", dir_ / "out/tree");
}

// Files too large for memory are packed as streams through a scratch file:
// the archive comes out byte for byte as if they had been packed in memory
// (solid or not, random data stored), and reads back through encryption and
// volumes. The stream path is taken here from 200,000 bytes on.
TEST_F(TvkRun, LargeFilesArePackedAsStreamsLikeFilesInMemory) {
  MakeTree(dir_ / "tree");
  std::string words;
  for (uint32_t seed = 5;;) {
    seed = seed * 1664525u + 1013904223u;
    words += "word" + std::to_string((seed >> 16) % 5000) + ((seed >> 8) % 9 ? " " : ".\n");
    if (words.size() >= 500000) break;
  }
  WriteFile(dir_ / "tree/big/words.txt", words);
  for (const char* options : {"-m1", "-m4 -s"}) {
    ASSERT_EQ(Tvk(std::string("a -q ") + options + " memory.tvk tree").code, 0);
    setenv("TVK_STREAM_ABOVE", "200000", 1);
    Result streamed = Tvk(std::string("a -q ") + options + " stream.tvk tree");
    unsetenv("TVK_STREAM_ABOVE");
    ASSERT_EQ(streamed.code, 0) << streamed.output;
    // The same bytes whichever way a file went.
    EXPECT_TRUE(ReadFile(dir_ / "memory.tvk") == ReadFile(dir_ / "stream.tvk")) << options;
    Result lm = Tvk("l memory.tvk"), ls = Tvk("l stream.tvk");
    EXPECT_EQ(lm.output.substr(lm.output.find('\n')), ls.output.substr(ls.output.find('\n'))) << options;
    const size_t line = ls.output.find("big/words.txt");
    ASSERT_NE(line, std::string::npos) << ls.output;
    EXPECT_NE(ls.output.rfind(std::string("lz-") + options[2], line), std::string::npos) << ls.output;
    ASSERT_EQ(Tvk("t stream.tvk").code, 0);
    // Nothing is left beside the archive.
    for (auto& e : fs::directory_iterator(dir_))
      EXPECT_EQ(e.path().filename().string().find(".packing."), std::string::npos) << e.path();
    fs::remove(dir_ / "memory.tvk");
    fs::remove(dir_ / "stream.tvk");
  }
  setenv("TVK_STREAM_ABOVE", "200000", 1);
  Result a = Tvk("a -q -m3 -s -psecret -v300k set.tvk tree");
  unsetenv("TVK_STREAM_ABOVE");
  ASSERT_EQ(a.code, 0) << a.output;
  Result x = Tvk("x -q -psecret -o out set.tvk");
  ASSERT_EQ(x.code, 0) << x.output;
  ExpectSameTree(dir_ / "tree", dir_ / "out/tree");
}

// Flips one byte of a file.
void Flip(const fs::path& p, size_t offset) {
  std::string bytes = ReadFile(p);
  ASSERT_LT(offset, bytes.size());
  bytes[offset] = static_cast<char>(bytes[offset] ^ 0x20);
  WriteFile(p, bytes);
}

TEST_F(TvkRun, DamagedDataAndWrongPasswords) {
  std::string content = Pseudo(5000, 3);
  WriteFile(dir_ / "one.bin", content);
  ASSERT_EQ(Tvk("a -m0 plain.tvk one.bin").code, 0);
  size_t at = ReadFile(dir_ / "plain.tvk").find(content);
  ASSERT_NE(at, std::string::npos);
  Flip(dir_ / "plain.tvk", at + 2500);
  Result t = Tvk("t plain.tvk");
  EXPECT_EQ(t.code, 4) << t.output;
  EXPECT_NE(t.output.find("CRC"), std::string::npos) << t.output;
  Result x = Tvk("x -o out plain.tvk");
  EXPECT_EQ(x.code, 4) << x.output;
  EXPECT_FALSE(fs::exists(dir_ / "out/one.bin"));

  // A damaged entry does not end the run: the entries after it are tested
  // and extracted, and the summary counts the damage. A damaged head ends
  // the walk there, but what comes before it is still extracted.
  WriteFile(dir_ / "set/a.txt", "first file");
  WriteFile(dir_ / "set/b.bin", content);
  WriteFile(dir_ / "set/c.txt", "last file");
  ASSERT_EQ(Tvk("a -m0 set.tvk set/a.txt set/b.bin set/c.txt").code, 0);
  const std::string whole = ReadFile(dir_ / "set.tvk");
  Flip(dir_ / "set.tvk", whole.find(content) + 100);
  Result t3 = Tvk("t set.tvk");
  EXPECT_EQ(t3.code, 4) << t3.output;
  EXPECT_NE(t3.output.find("Testing set/c.txt"), std::string::npos) << t3.output;
  EXPECT_NE(t3.output.find("set/b.bin: CRC error"), std::string::npos) << t3.output;
  EXPECT_NE(t3.output.find("1 of 3 entries damaged"), std::string::npos) << t3.output;
  Result x3 = Tvk("x -o out3 set.tvk");
  EXPECT_EQ(x3.code, 4) << x3.output;
  EXPECT_EQ(ReadFile(dir_ / "out3/set/a.txt"), "first file");
  EXPECT_EQ(ReadFile(dir_ / "out3/set/c.txt"), "last file");
  EXPECT_FALSE(fs::exists(dir_ / "out3/set/b.bin"));
  std::string cutHead = whole;
  cutHead[cutHead.find("set\\c.txt")] ^= 0x20;
  WriteFile(dir_ / "head.tvk", cutHead);
  Result h = Tvk("x -o out4 head.tvk");
  EXPECT_EQ(h.code, 4) << h.output;
  EXPECT_NE(h.output.find("damaged after set/b.bin"), std::string::npos) << h.output;
  EXPECT_EQ(ReadFile(dir_ / "out4/set/a.txt"), "first file");
  EXPECT_EQ(ReadFile(dir_ / "out4/set/b.bin"), content);

  // In an encrypted entry a CRC mismatch is taken as a wrong password: the
  // question comes back, and the end of input refuses it.
  ASSERT_EQ(Tvk("a -m0 -psecret enc.tvk one.bin").code, 0);
  size_t size = fs::file_size(dir_ / "enc.tvk");
  Flip(dir_ / "enc.tvk", size - 7 - 100);  // inside the data, before the end marker
  Result e = Tvk("t -psecret enc.tvk");
  EXPECT_EQ(e.code, 9) << e.output;
  EXPECT_NE(e.output.find("Wrong password?"), std::string::npos) << e.output;
}

// Each of present exists below root, and none of absent.
void ExpectFiles(const fs::path& root, std::initializer_list<const char*> present,
                 std::initializer_list<const char*> absent) {
  for (const char* p : present) EXPECT_TRUE(fs::exists(root / p)) << root / p;
  for (const char* p : absent) EXPECT_FALSE(fs::exists(root / p)) << root / p;
}

TEST_F(TvkRun, MasksSelectWhatIsListedAndExtracted) {
  MakeTree(dir_ / "tree");
  ASSERT_EQ(Tvk("a -q arc.tvk tree").code, 0);
  Result x = Tvk("x -q -o out arc.tvk '*.txt'");
  ASSERT_EQ(x.code, 0) << x.output;
  ExpectFiles(dir_ / "out/tree", {"docs/readme.txt", "data/deep/a/b/c/leaf.txt"}, {"data/random.bin", "bin/run.sh"});
  Result l = Tvk("l arc.tvk 'tree/bin/*'");
  ASSERT_EQ(l.code, 0) << l.output;
  EXPECT_NE(l.output.find("run.sh"), std::string::npos) << l.output;
  EXPECT_EQ(l.output.find("readme"), std::string::npos) << l.output;

  // A folder named as it is stored selects what is under it; a mask that
  // selects nothing is said and fails the run, the others are served.
  Result folder = Tvk("x -q -o dir arc.tvk tree/data/ nothing-here");
  EXPECT_EQ(folder.code, 1) << folder.output;
  EXPECT_NE(folder.output.find("no entry matches nothing-here"), std::string::npos) << folder.output;
  EXPECT_EQ(ReadFile(dir_ / "dir/tree/data/deep/a/b/c/leaf.txt"), "leaf");
  ExpectFiles(dir_ / "dir/tree", {"data/random.bin"}, {"docs"});
  EXPECT_EQ(Tvk("l arc.tvk tree/nothing").code, 1);

  // Exclusions, in x and l as in a.
  Result ex = Tvk("x -q -o ex -x '*.bin' --exclude tree/docs/readme.txt arc.tvk");
  ASSERT_EQ(ex.code, 0) << ex.output;
  ExpectFiles(dir_ / "ex/tree", {"docs/empty.txt", "data/deep/a/b/c/leaf.txt"}, {"data/random.bin", "docs/readme.txt"});
  EXPECT_EQ(Tvk("l -x 'tree/bin/*' arc.tvk").output.find("run.sh"), std::string::npos);
  ASSERT_EQ(Tvk("a -q -x '*.bin' -x tree/docs arc2.tvk tree").code, 0);
  Result l2 = Tvk("l arc2.tvk");
  EXPECT_EQ(l2.output.find(".bin"), std::string::npos) << l2.output;
  EXPECT_EQ(l2.output.find("tree/docs"), std::string::npos) << l2.output;
  EXPECT_NE(l2.output.find("leaf.txt"), std::string::npos) << l2.output;
}

TEST_F(TvkRun, SameFilesAndOptionsGiveTheSameBytes) {
  MakeTree(dir_ / "tree");
  ASSERT_EQ(Tvk("a -q -m3 -s -pkey one.tvk tree").code, 0);
  // Reading the files for the first archive changed their access times.
  ASSERT_EQ(Tvk("a -q -m3 -s -pkey two.tvk tree").code, 0);
  EXPECT_TRUE(ReadFile(dir_ / "one.tvk") == ReadFile(dir_ / "two.tvk"));
  // Files packed side by side give one archive whichever thread took which
  // file and however many threads there were.
  // (The large random and zero files leave out the slowest packing.)
  ASSERT_EQ(Tvk("a -q -m4 -mt2 -x '*.bin' -pkey two-threads.tvk tree").code, 0);
  ASSERT_EQ(Tvk("a -q -m4 -mt3 -x '*.bin' -pkey three.tvk tree").code, 0);
  EXPECT_TRUE(ReadFile(dir_ / "two-threads.tvk") == ReadFile(dir_ / "three.tvk"));
  ASSERT_EQ(Tvk("t -pkey three.tvk").code, 0);
  ASSERT_EQ(Tvk("a -q -m3 -mt1 single.tvk tree").code, 0);
  ASSERT_EQ(Tvk("a -q -m3 -mt2 double.tvk tree").code, 0);
  EXPECT_TRUE(ReadFile(dir_ / "single.tvk") == ReadFile(dir_ / "double.tvk"));
  // A solid archive whose file is long enough for the best level's match
  // search to run on a thread of its own.
  std::string log;
  for (int i = 0; i < 6000; ++i) log += "entry " + std::to_string(i * 7919 % 1000) + " took " + std::to_string(i % 37) + " ms\n";
  WriteFile(dir_ / "long/log.txt", log);
  ASSERT_EQ(Tvk("a -q -m4 -s -mt1 -x '*.bin' solid1.tvk tree long").code, 0);
  ASSERT_EQ(Tvk("a -q -m4 -s -mt2 -x '*.bin' solid2.tvk tree long").code, 0);
  EXPECT_TRUE(ReadFile(dir_ / "solid1.tvk") == ReadFile(dir_ / "solid2.tvk"));
  ASSERT_EQ(Tvk("t solid2.tvk").code, 0);
  ASSERT_EQ(Tvk("sfx -q one.sfx one.tvk").code, 0);
  ASSERT_EQ(Tvk("sfx -q two.sfx two.tvk").code, 0);
  EXPECT_TRUE(ReadFile(dir_ / "one.sfx") == ReadFile(dir_ / "two.sfx"));

  // SOURCE_DATE_EPOCH: no stored time later than it; older ones kept.
  setenv("SOURCE_DATE_EPOCH", "1500000000", 1);  // 2017-07-14 02:40 UTC
  Result clamped = Tvk("a -q -m1 clamped.tvk tree");
  unsetenv("SOURCE_DATE_EPOCH");
  ASSERT_EQ(clamped.code, 0) << clamped.output;
  ASSERT_EQ(Tvk("x -q -o out clamped.tvk").code, 0);
  struct stat st {};
  ASSERT_EQ(stat((dir_ / "out/tree/data/zeros.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1500000000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 0);
  ASSERT_EQ(stat((dir_ / "out/tree/docs/readme.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 981173106);
}

TEST_F(TvkRun, OnePathGivenTwiceIsStoredOnceAndTwoFilesUnderOneNameAreRefused) {
  WriteFile(dir_ / "src/sub/a.txt", "a");
  ASSERT_EQ(Tvk("a -q twice.tvk src ./src/sub src/sub/a.txt").code, 0);
  Result l = Tvk("l twice.tvk");
  EXPECT_NE(l.output.find("1 file, 1 bytes"), std::string::npos) << l.output;
  // "../D/x" is stored as "D/x", as is the other folder "D/x" here.
  const std::string d = dir_.filename().string();
  WriteFile(dir_ / "x/a.txt", "one");
  WriteFile(dir_ / d / "x/a.txt", "another");
  Result clash = Tvk("a -q clash.tvk '" + d + "/x' '../" + d + "/x'");
  EXPECT_EQ(clash.code, 2) << clash.output;
  EXPECT_NE(clash.output.find("would both be stored as " + d + "/x/a.txt"), std::string::npos) << clash.output;
  EXPECT_FALSE(fs::exists(dir_ / "clash.tvk"));
}

TEST_F(TvkRun, OverwriteQuestions) {
  WriteFile(dir_ / "src/f.txt", "new");
  ASSERT_EQ(Tvk("a arc.tvk src").code, 0);
  WriteFile(dir_ / "out/src/f.txt", "old");
  Result refused = Tvk("x -o out arc.tvk");
  EXPECT_EQ(refused.code, 9) << refused.output;
  EXPECT_EQ(ReadFile(dir_ / "out/src/f.txt"), "old");
  Result no = Tvk("x -o out arc.tvk", "n\n");
  EXPECT_EQ(no.code, 0) << no.output;
  EXPECT_EQ(ReadFile(dir_ / "out/src/f.txt"), "old");
  Result yes = Tvk("x -o out arc.tvk", "maybe\ny\n");
  EXPECT_EQ(yes.code, 0) << yes.output;
  EXPECT_EQ(ReadFile(dir_ / "out/src/f.txt"), "new");
  WriteFile(dir_ / "out/src/f.txt", "old");
  EXPECT_EQ(Tvk("x -y -o out arc.tvk").code, 0);
  EXPECT_EQ(ReadFile(dir_ / "out/src/f.txt"), "new");

  // -n and "skip all" keep every existing file and extract the rest; the
  // question names the path below the target, and an identical file shows
  // the same time on both sides.
  WriteFile(dir_ / "src/g.txt", "g");
  WriteFile(dir_ / "src/h.txt", "h");
  ASSERT_EQ(Tvk("a -f arc.tvk src").code, 0);
  fs::remove_all(dir_ / "out");
  ASSERT_EQ(Tvk("x -q -o out arc.tvk").code, 0);
  WriteFile(dir_ / "out/src/g.txt", "kept");
  fs::remove(dir_ / "out/src/h.txt");
  Result never = Tvk("x -n -o out arc.tvk");
  EXPECT_EQ(never.code, 0) << never.output;
  EXPECT_EQ(ReadFile(dir_ / "out/src/g.txt"), "kept");
  EXPECT_EQ(ReadFile(dir_ / "out/src/h.txt"), "h");
  Result skipAll = Tvk("x -o out arc.tvk", "s\n");
  EXPECT_EQ(skipAll.code, 0) << skipAll.output;
  EXPECT_EQ(ReadFile(dir_ / "out/src/g.txt"), "kept");
  const size_t ask = skipAll.output.find("Replace src/f.txt (3 bytes, ");
  ASSERT_NE(ask, std::string::npos) << skipAll.output;
  const std::string mine = skipAll.output.substr(ask + 28, 19);
  const std::string theirs = skipAll.output.substr(skipAll.output.find("archive's (3 bytes, ", ask) + 20, 19);
  EXPECT_EQ(mine, theirs) << skipAll.output;
  EXPECT_EQ(std::count(skipAll.output.begin(), skipAll.output.end(), '?'), 1) << skipAll.output;
}

TEST_F(TvkRun, UsageAndFileErrors) {
  WriteFile(dir_ / "f.txt", "x");
  EXPECT_EQ(Tvk("").code, 1);
  EXPECT_EQ(Tvk("frobnicate").code, 1);
  EXPECT_EQ(Tvk("a only.tvk").code, 1);
  EXPECT_EQ(Tvk("a -m9 a.tvk f.txt").code, 1);
  EXPECT_EQ(Tvk("a -v10q a.tvk f.txt").code, 1);
  EXPECT_EQ(Tvk("a --encrypt-headers a.tvk f.txt").code, 1);
  EXPECT_EQ(Tvk("a --help").code, 0);
  EXPECT_EQ(Tvk("a a.tvk f.txt").code, 0);
  Result exists = Tvk("a a.tvk f.txt");
  EXPECT_EQ(exists.code, 2) << exists.output;
  EXPECT_EQ(Tvk("a -f a.tvk f.txt").code, 0);
  EXPECT_EQ(Tvk("a b.tvk missing.txt").code, 2);
  EXPECT_EQ(Tvk("a -p b.tvk f.txt").code, 2);  // the password question refused
  EXPECT_FALSE(fs::exists(dir_ / "b.tvk"));
  EXPECT_EQ(Tvk("l").code, 1);
  EXPECT_EQ(Tvk("l nothing.tvk").code, 5);
  EXPECT_EQ(Tvk("t f.txt").code, 3);

  // Errors name what failed and why: the archive is not blamed for an
  // output that cannot be made, a folder is no empty archive, and an
  // archive cut short is damaged, not a file the system refused.
  Result missing = Tvk("x nothing.tvk");
  EXPECT_EQ(missing.code, 5);
  EXPECT_NE(missing.output.find("nothing.tvk: no such file"), std::string::npos) << missing.output;
  fs::create_directories(dir_ / "folder");
  Result folder = Tvk("t folder");
  EXPECT_EQ(folder.code, 3) << folder.output;
  EXPECT_NE(folder.output.find("folder: a folder, not an archive"), std::string::npos) << folder.output;
  EXPECT_EQ(Tvk("l folder").code, 3);
  const std::string whole = ReadFile(dir_ / "a.tvk");
  WriteFile(dir_ / "cut.tvk", whole.substr(0, 30));
  Result cut = Tvk("l cut.tvk");
  EXPECT_EQ(cut.code, 4) << cut.output;
  EXPECT_NE(cut.output.find("damaged or cut short"), std::string::npos) << cut.output;
  WriteFile(dir_ / "in-the-way", "a file");
  Result way = Tvk("x -o in-the-way a.tvk");
  EXPECT_EQ(way.code, 5) << way.output;
  EXPECT_NE(way.output.find("cannot create " + (dir_ / "in-the-way/f.txt").string() + ": " +
                            (dir_ / "in-the-way").string() + " is not a folder"),
            std::string::npos)
      << way.output;
  Result comment = Tvk("a -c 'Gr\xC3\xBC\xC3\x9F" "e \xD0\x96' c.tvk f.txt");
  ASSERT_EQ(comment.code, 0) << comment.output;
  EXPECT_NE(Tvk("l c.tvk").output.find("Gr\xC3\xBC\xC3\x9F" "e \xD0\x96"), std::string::npos);
  WriteFile(dir_ / "long.txt", std::string(9000, 'c'));
  EXPECT_EQ(Tvk("a -z long.txt d.tvk f.txt").code, 2);
}

// Links are stored as links unless -L follows them; then a folder met again
// inside itself is reported once per way in, and what links lead to is
// stored as real files and folders.
TEST_F(TvkRun, FollowedLinksStoreWhatTheyLeadToAndReportLoops) {
  WriteFile(dir_ / "tree/sub/f.txt", "f");
  fs::create_directory_symlink("..", dir_ / "tree/sub/up");
  fs::create_directory_symlink("sub", dir_ / "tree/again");
  fs::create_symlink("sub/f.txt", dir_ / "tree/f-link");
  Result kept = Tvk("a links.tvk tree");
  EXPECT_EQ(kept.code, 0) << kept.output;
  Result l = Tvk("l links.tvk");
  EXPECT_NE(l.output.find("tree/sub/up -> ..\n"), std::string::npos) << l.output;
  EXPECT_NE(l.output.find("tree/again -> sub\n"), std::string::npos) << l.output;

  Result a = Tvk("a -L loop.tvk tree");
  EXPECT_EQ(a.code, 2) << a.output;
  EXPECT_NE(a.output.find("tvk: tree/sub/up: a folder loop, not packed again"), std::string::npos) << a.output;
  EXPECT_NE(a.output.find("tvk: tree/again/up: a folder loop, not packed again"), std::string::npos) << a.output;
  EXPECT_EQ(Tvk("a --dereference -f loop.tvk tree").code, 2);
  EXPECT_EQ(Tvk("l loop.tvk").output.find(" -> "), std::string::npos);
  Result x = Tvk("x -q -o out loop.tvk");
  EXPECT_EQ(x.code, 0) << x.output;
  EXPECT_EQ(ReadFile(dir_ / "out/tree/sub/f.txt"), "f");
  EXPECT_EQ(ReadFile(dir_ / "out/tree/again/f.txt"), "f");
  EXPECT_EQ(ReadFile(dir_ / "out/tree/f-link"), "f");
  EXPECT_FALSE(fs::is_symlink(dir_ / "out/tree/again"));
  EXPECT_FALSE(fs::is_symlink(dir_ / "out/tree/f-link"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "out/tree/sub/up")));
  // A link that leads nowhere has nothing to follow.
  fs::create_symlink("nothing", dir_ / "tree/dangling");
  Result d = Tvk("a -L -f loop.tvk tree");
  EXPECT_EQ(d.code, 2) << d.output;
  EXPECT_NE(d.output.find("cannot read tree/dangling"), std::string::npos) << d.output;
  EXPECT_NE(Tvk("a --help").output.find("-L, --dereference"), std::string::npos);
}

TEST_F(TvkRun, KeysCertificatesAndSignatures) {
  MakeTree(dir_ / "tree");
  const std::string master = std::string(TVK_MASTER_KEY_FILE);
  ASSERT_EQ(Tvk("keygen signer.pem").code, 0);
  EXPECT_EQ(Tvk("keygen signer.pem").code, 2);  // exists
  EXPECT_EQ(Tvk("keygen --bits 512 small.pem").code, 1);
  ASSERT_EQ(Tvk("cert --key '" + master + "' --name 'Test Signer' signer.pem signer.cert").code, 0);
  EXPECT_EQ(fs::file_size(dir_ / "signer.cert"), 384u);

  // Signed while written.
  Result a = Tvk("a -q --sign signer.pem --cert signer.cert --digest sha256 signed.tvk tree");
  ASSERT_EQ(a.code, 0) << a.output;
  Result l = Tvk("l signed.tvk");
  ASSERT_EQ(l.code, 0) << l.output;
  EXPECT_NE(l.output.find("signed by Test Signer"), std::string::npos) << l.output;
  EXPECT_EQ(Tvk("t signed.tvk").code, 0);

  // Signed afterwards, a volume set with encrypted heads.
  ASSERT_EQ(Tvk("a -q -m0 -v200k -psecret --encrypt-headers set.tvk tree").code, 0);
  EXPECT_EQ(Tvk("sign --key signer.pem --cert signer.cert -pwrong set.tvk").code, 2);
  Result s = Tvk("sign --key signer.pem --cert signer.cert -psecret set.tvk");
  ASSERT_EQ(s.code, 0) << s.output;
  // Signing again replaces the signature instead of adding a second one.
  fs::path lastVolume = dir_ / "set.tvk";
  for (int n = 1; fs::exists(dir_ / ("set.00" + std::to_string(n))); ++n) {
    lastVolume = dir_ / ("set.00" + std::to_string(n));
  }
  uint64_t signedSize = fs::file_size(lastVolume);
  Result again = Tvk("sign --key signer.pem --cert signer.cert -psecret set.tvk");
  EXPECT_EQ(again.code, 0) << again.output;
  EXPECT_EQ(fs::file_size(lastVolume), signedSize);
  Result st = Tvk("t -psecret set.tvk");
  EXPECT_EQ(st.code, 0) << st.output;
  EXPECT_NE(st.output.find("signed by Test Signer"), std::string::npos) << st.output;
  Result sx = Tvk("x -q -psecret -o out set.tvk");
  ASSERT_EQ(sx.code, 0) << sx.output;
  ExpectSameTree(dir_ / "tree", dir_ / "out/tree");
  // Every volume is sealed: a changed byte in the first one (in front of
  // its own signature) is a mismatch, and a refused question ends the test.
  {
    const std::string first = ReadFile(dir_ / "set.tvk");
    Flip(dir_ / "set.tvk", first.size() - 522 - 1);
    Result tampered = Tvk("t -psecret set.tvk");
    EXPECT_EQ(tampered.code, 8) << tampered.output;
    EXPECT_NE(tampered.output.find("does not match its signature"), std::string::npos)
        << tampered.output;
    EXPECT_NE(tampered.output.find("Open it all the same?"), std::string::npos) << tampered.output;
    WriteFile(dir_ / "set.tvk", first);
  }

  // One changed byte of the signed data: the signature no longer matches.
  std::string bytes = ReadFile(dir_ / "signed.tvk");
  size_t at = bytes.find("line 17 of a text file");
  if (at == std::string::npos) at = bytes.size() / 2;
  Flip(dir_ / "signed.tvk", at);
  Result bad = Tvk("t signed.tvk");
  EXPECT_EQ(bad.code, 8) << bad.output;
  EXPECT_NE(bad.output.find("signature"), std::string::npos) << bad.output;
  // Sealed anew, the changed archive matches its new signature.
  Result resign = Tvk("sign --key signer.pem --cert signer.cert signed.tvk");
  ASSERT_EQ(resign.code, 0) << resign.output;
  Result good = Tvk("l signed.tvk");
  EXPECT_EQ(good.code, 0) << good.output;
  EXPECT_NE(good.output.find("signed by Test Signer"), std::string::npos) << good.output;

  // The format's other digests cannot vouch: refused unless --weak, and
  // then shown as a signature that cannot vouch, asked about as a mismatch.
  Result unsafe = Tvk("sign --key signer.pem --cert signer.cert --digest sha512 signed.tvk");
  EXPECT_EQ(unsafe.code, 1) << unsafe.output;
  EXPECT_NE(unsafe.output.find("unsafe"), std::string::npos) << unsafe.output;
  EXPECT_EQ(Tvk("a -q --sign signer.pem --cert signer.cert --digest md5 md5.tvk tree").code, 1);
  EXPECT_FALSE(fs::exists(dir_ / "md5.tvk"));
  ASSERT_EQ(Tvk("a -q weak.tvk tree").code, 0);
  for (const char* digest : {"sha512", "md5"}) {
    SCOPED_TRACE(digest);
    Result weak = Tvk(std::string("sign --key signer.pem --cert signer.cert --weak --digest ") + digest +
                      " weak.tvk");
    ASSERT_EQ(weak.code, 0) << weak.output;
    EXPECT_NE(weak.output.find("will not show this signature as valid"), std::string::npos) << weak.output;
    Result wl = Tvk("l weak.tvk");
    EXPECT_EQ(wl.code, 8) << wl.output;
    EXPECT_EQ(wl.output.find("signed by"), std::string::npos) << wl.output;
    EXPECT_NE(wl.output.find("cannot vouch"), std::string::npos) << wl.output;
    EXPECT_EQ(Tvk("t weak.tvk", "n\n").code, 8);
    Result yes = Tvk("x -o weak-out weak.tvk", "y\n");
    EXPECT_EQ(yes.code, 0) << yes.output;
    EXPECT_TRUE(fs::exists(dir_ / "weak-out/tree"));
    fs::remove_all(dir_ / "weak-out");
  }

  // Without --key, tvk cert takes the master key of the build, whose
  // programs then accept the certificate.
  Result own = Tvk("cert --name 'Own Build' signer.pem own.cert");
  ASSERT_EQ(own.code, 0) << own.output;
  ASSERT_EQ(Tvk("a -q --sign signer.pem --cert own.cert own.tvk tree").code, 0);
  Result ol = Tvk("l own.tvk");
  EXPECT_EQ(ol.code, 0) << ol.output;
  EXPECT_NE(ol.output.find("signed by Own Build"), std::string::npos) << ol.output;

  // A certificate that is not one.
  WriteFile(dir_ / "bad.cert", "short");
  EXPECT_EQ(Tvk("a -q --sign signer.pem --cert bad.cert b.tvk tree").code, 2);
  EXPECT_EQ(Tvk("a -q --sign signer.pem b.tvk tree").code, 1);
}

// Comments, names and signer names are the archive maker's bytes: none of
// their control characters (window title, clear screen, colours, carriage
// return, DEL, C1 CSI) reaches the terminal as itself.
TEST_F(TvkRun, ArchiveTextsReachTheTerminalWithoutControls) {
  const std::string name = "c1\xC2\x9B" "2J\x7F.txt";
  WriteFile(dir_ / "tree" / name, "data");
  const std::string comment = "\x1B]0;owned\x07\x1B[2J\x1B[31mred\rok\nline 2";
  ASSERT_EQ(Tvk("keygen signer.pem").code, 0);
  ASSERT_EQ(Tvk("cert --key '" + std::string(TVK_MASTER_KEY_FILE) +
                "' --name 'Evil\x1B[32m Corp' signer.pem signer.cert").code, 0);
  Result a = Tvk("a -q --sign signer.pem --cert signer.cert -c '" + comment + "' a.tvk tree");
  ASSERT_EQ(a.code, 0) << a.output;
  auto clean = [](const std::string& out) {
    for (char c : {'\x1B', '\x07', '\r', '\x7F'})
      if (out.find(c) != std::string::npos) return false;
    return out.find("\xC2\x9B") == std::string::npos;
  };
  Result l = Tvk("l a.tvk");
  EXPECT_EQ(l.code, 0) << l.output;
  EXPECT_TRUE(clean(l.output)) << l.output;
  EXPECT_NE(l.output.find("\\x1B]0;owned\\x07\\x1B[2J\\x1B[31mred\\x0Dok\nline 2"), std::string::npos)
      << l.output;
  EXPECT_NE(l.output.find("tree/c1\\x9B" "2J\\x7F.txt"), std::string::npos) << l.output;
  EXPECT_NE(l.output.find("signed by Evil\\x1B[32m Corp"), std::string::npos) << l.output;
  for (const char* command : {"t a.tvk", "x -o out a.tvk"}) {
    Result r = Tvk(command);
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_TRUE(clean(r.output)) << command << ": " << r.output;
    EXPECT_NE(r.output.find("c1\\x9B" "2J\\x7F.txt"), std::string::npos) << r.output;
  }
  // The file itself keeps its name.
  EXPECT_EQ(ReadFile(dir_ / "out/tree" / name), "data");
  // Questions name entries the same way.
  Result again = Tvk("x -o out a.tvk", "n\n");
  EXPECT_TRUE(clean(again.output)) << again.output;
  EXPECT_NE(again.output.find("Replace "), std::string::npos) << again.output;
}

TEST_F(TvkRun, SelfExtractorBuiltFromAnArchiveExtractsQuietly) {
  if (std::string(TVK_LINUX_SFX).empty() || !fs::exists(TVK_LINUX_SFX))
    GTEST_SKIP() << "no static self-extractor program in this build";
  MakeTree(dir_ / "tree");
  WriteFile(dir_ / "settings.ini", "# quiet run into a fixed folder\ntarget = " + (dir_ / "target").string() +
                                       "\nquiet = 1\n");
  ASSERT_EQ(Tvk("a -q -v300k sfx.tvk tree").code, 0);
  Result b = Tvk(std::string("sfx --sfx '") + TVK_LINUX_SFX + "' --settings settings.ini setup sfx.tvk");
  ASSERT_EQ(b.code, 0) << b.output;
  EXPECT_TRUE(fs::exists(dir_ / "setup.001"));
  EXPECT_EQ(Tvk(std::string("sfx --sfx '") + TVK_LINUX_SFX + "' setup sfx.tvk").code, 2);  // exists
  WriteFile(dir_ / "bad.ini", "colour = blue\n");
  EXPECT_EQ(Tvk(std::string("sfx -f --sfx '") + TVK_LINUX_SFX + "' --settings bad.ini setup sfx.tvk").code, 2);
  // The Windows program's resources are no options for the Linux one.
  const std::string onLinux = std::string("sfx -f --sfx '") + TVK_LINUX_SFX + "' ";
  for (const char* option : {"--icon x.ico", "--version CompanyName=X", "--elevation asInvoker"}) {
    Result r = Tvk(onLinux + option + " other sfx.tvk");
    EXPECT_EQ(r.code, 2) << option;
    EXPECT_NE(r.output.find("need the Windows program"), std::string::npos) << r.output;
  }
  EXPECT_FALSE(fs::exists(dir_ / "other"));
  int status = std::system(("cd '" + dir_.string() + "' && ./setup </dev/null >run.txt 2>&1").c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << ReadFile(dir_ / "run.txt");
  ExpectSameTree(dir_ / "tree", dir_ / "target/tree", false);
  // tvk reads the self-extractor as the archive it holds.
  EXPECT_EQ(Tvk("t setup").code, 0);
}

}  // namespace

namespace {

// What cmake --install puts under a prefix is a working whole on its own: the
// installed tvk, moved elsewhere with its prefix, finds the installed
// self-extractor beside itself and builds a program that extracts.
class TvkInstall : public TvkRun {};

TEST_F(TvkInstall, InstalledTreeBuildsAWorkingSelfExtractor) {
  if (std::string(TVK_LINUX_SFX).empty() || !fs::exists(TVK_LINUX_SFX))
    GTEST_SKIP() << "no static self-extractor program in this build";
  const fs::path prefix = dir_ / "prefix";
  const std::string install = "cmake --install '" + std::string(TVK_BINARY_DIR) + "' --prefix '" +
                              prefix.string() + "' >'" + (dir_ / "install.txt").string() + "' 2>&1";
  ASSERT_EQ(std::system(install.c_str()), 0) << ReadFile(dir_ / "install.txt");
  for (const char* file : {"bin/tvk", "lib/tarvik/tvksfx", "share/man/man1/tvk.1", "share/tarvik/lang/en.ini",
                           "share/tarvik/lang/de.ini"}) {
    EXPECT_TRUE(fs::exists(prefix / file)) << file;
  }
  const fs::path moved = dir_ / "elsewhere";
  fs::rename(prefix, moved);
  const std::string tvk = (moved / "bin/tvk").string();
  MakeTree(dir_ / "tree");
  WriteFile(dir_ / "settings.ini", "target = " + (dir_ / "target").string() + "\nquiet = 1\n");
  auto run = [&](const std::string& args) {
    const std::string command = "cd '" + dir_.string() + "' && '" + tvk + "' " + args + " >out.txt 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  ASSERT_EQ(run("--version"), 0);
  EXPECT_EQ(ReadFile(dir_ / "out.txt").rfind("tvk ", 0), 0u);
  ASSERT_EQ(run("a -q -m1 t.tvk tree"), 0) << ReadFile(dir_ / "out.txt");
  ASSERT_EQ(run("sfx --settings settings.ini setup t.tvk"), 0) << ReadFile(dir_ / "out.txt");
  EXPECT_NE(ReadFile(dir_ / "out.txt").find(moved.string() + "/bin/../lib/tarvik/tvksfx"), std::string::npos)
      << ReadFile(dir_ / "out.txt");
  const int status = std::system(("cd '" + dir_.string() + "' && ./setup </dev/null >run.txt 2>&1").c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << ReadFile(dir_ / "run.txt");
  ExpectSameTree(dir_ / "tree", dir_ / "target/tree", false);
}

}  // namespace
