// tvk u and d: kept entries come through untouched, changed and new files
// go in, solid and encrypted-heads archives stay readable, a seal that no
// longer holds goes with a warning, and a run that fails leaves the old
// archive exactly as it was.
#include "tests/tvk/tvk_run.h"

#include <sys/stat.h>

#include <string>

namespace {

using TvkUpdate = TvkRun;

size_t CommonPrefix(const std::string& a, const std::string& b) {
  size_t n = 0;
  while (n < a.size() && n < b.size() && a[n] == b[n]) ++n;
  return n;
}

// No temporary file or scratch folder is left beside the archive.
void ExpectOnlyArchiveBeside(const fs::path& dir, const std::string& archive) {
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name.rfind(archive + ".", 0) != 0) << "left behind: " << name;
  }
}

TEST_F(TvkUpdate, DeleteKeepsTheOtherEntriesByteForByte) {
  MakeTree(dir_ / "tree");
  ASSERT_EQ(Tvk("a -q arc.tvk tree").code, 0);
  const std::string before = ReadFile(dir_ / "arc.tvk");
  Result d = Tvk("d arc.tvk tree/bin/run.sh");
  ASSERT_EQ(d.code, 0) << d.output;
  const std::string after = ReadFile(dir_ / "arc.tvk");
  // One entry's blocks are gone and nothing else changed: the old archive
  // is the new one with a run of bytes put back in.
  const size_t head = CommonPrefix(before, after);
  size_t tail = 0;
  while (tail < after.size() - head && before[before.size() - 1 - tail] == after[after.size() - 1 - tail]) ++tail;
  EXPECT_EQ(head + tail, after.size());
  EXPECT_LT(before.size() - after.size(), 200u);
  EXPECT_EQ(Tvk("l arc.tvk").output.find("run.sh"), std::string::npos);
  ASSERT_EQ(Tvk("x -q -o out arc.tvk").code, 0);
  fs::remove(dir_ / "tree/bin/run.sh");
  ExpectSameTree(dir_ / "tree", dir_ / "out/tree", true, 8);
  ExpectOnlyArchiveBeside(dir_, "arc.tvk");

  // A folder's name takes everything under it; a mask that matches
  // nothing is reported and ends with 1, the others served.
  Result folder = Tvk("d arc.tvk tree/data no-such-entry");
  EXPECT_EQ(folder.code, 1) << folder.output;
  EXPECT_NE(folder.output.find("no entry matches no-such-entry"), std::string::npos) << folder.output;
  const std::string listing = Tvk("l arc.tvk").output;
  EXPECT_EQ(listing.find("tree/data"), std::string::npos) << listing;
  EXPECT_NE(listing.find("tree/docs/readme.txt"), std::string::npos) << listing;
  // Nothing matched: the archive is not touched.
  const std::string kept = ReadFile(dir_ / "arc.tvk");
  EXPECT_EQ(Tvk("d arc.tvk nothing-here").code, 1);
  EXPECT_EQ(ReadFile(dir_ / "arc.tvk"), kept);
  // -x keeps what it matches.
  ASSERT_EQ(Tvk("d -x '*.txt' arc.tvk tree/docs").code, 0);
  const std::string rest = Tvk("l arc.tvk").output;
  EXPECT_NE(rest.find("tree/docs/readme.txt"), std::string::npos) << rest;
}

TEST_F(TvkUpdate, UpdateReplacesChangedAddsNewAndCopiesTheRest) {
  std::string text;
  for (uint32_t i = 0; i < 4000; ++i) text += "row " + std::to_string(i * 2654435761u % 1000003) + " stays\n";
  WriteFile(dir_ / "tree/a.txt", text);
  WriteFile(dir_ / "tree/z.txt", "old content");
  SetTimes(dir_ / "tree/a.txt", 1600000000, 0);
  SetTimes(dir_ / "tree/z.txt", 1600000000, 0);
  ASSERT_EQ(Tvk("a -q -m1 arc.tvk tree").code, 0);
  const std::string before = ReadFile(dir_ / "arc.tvk");

  // Nothing differs: the archive is left alone.
  Result same = Tvk("u arc.tvk tree");
  EXPECT_EQ(same.code, 0) << same.output;
  EXPECT_NE(same.output.find("nothing to update"), std::string::npos) << same.output;
  EXPECT_EQ(ReadFile(dir_ / "arc.tvk"), before);

  // Same size, another time: changed too.
  WriteFile(dir_ / "tree/z.txt", "new content");
  SetTimes(dir_ / "tree/z.txt", 1600000100, 0);
  WriteFile(dir_ / "tree/sub/new.txt", "a new file");
  Result u = Tvk("u -m4 arc.tvk tree");
  ASSERT_EQ(u.code, 0) << u.output;
  const std::string after = ReadFile(dir_ / "arc.tvk");
  // a.txt packed again at -m4 would not give the -m1 bytes: everything in
  // front of z.txt's entry is the old archive's.
  EXPECT_GE(CommonPrefix(before, after) + 200, before.size());
  EXPECT_GT(before.size(), 1000u);
  ASSERT_EQ(Tvk("x -q -o out arc.tvk").code, 0);
  ExpectSameTree(dir_ / "tree", dir_ / "out/tree", true, 3);
  ExpectOnlyArchiveBeside(dir_, "arc.tvk");
}

TEST_F(TvkUpdate, SolidArchivesArePackedAgainWhole) {
  MakeTree(dir_ / "tree");
  ASSERT_EQ(Tvk("a -q -s arc.tvk tree").code, 0);
  WriteFile(dir_ / "tree/docs/more.txt", "added to a solid archive");
  WriteFile(dir_ / "tree/docs/empty.txt", "no longer empty");
  Result u = Tvk("u arc.tvk tree");
  ASSERT_EQ(u.code, 0) << u.output;
  EXPECT_NE(u.output.find("packed again"), std::string::npos) << u.output;
  EXPECT_NE(Tvk("l arc.tvk").output.find("solid"), std::string::npos);
  ASSERT_EQ(Tvk("t arc.tvk").code, 0);
  ASSERT_EQ(Tvk("x -q -o out arc.tvk").code, 0);
  ExpectSameTree(dir_ / "tree", dir_ / "out/tree");

  ASSERT_EQ(Tvk("d -q arc.tvk tree/data/random.bin").code, 0);
  fs::remove(dir_ / "tree/data/random.bin");
  fs::remove_all(dir_ / "out");
  ASSERT_EQ(Tvk("x -q -o out arc.tvk").code, 0);
  EXPECT_FALSE(fs::exists(dir_ / "out/tree/data/random.bin"));
  EXPECT_EQ(ReadFile(dir_ / "out/tree/docs/more.txt"), "added to a solid archive");
  EXPECT_EQ(ReadFile(dir_ / "out/tree/data/zeros.bin"), ReadFile(dir_ / "tree/data/zeros.bin"));
  ExpectOnlyArchiveBeside(dir_, "arc.tvk");
}

// Packing a solid archive again unpacks its kept entries with the password
// given; a right one typed at a question afterwards would leave them packed
// under the wrong one.
TEST_F(TvkUpdate, AWrongPasswordForSolidEntriesLeavesTheArchiveAlone) {
  MakeTree(dir_ / "tree");
  ASSERT_EQ(Tvk("a -q -s -psecret arc.tvk tree").code, 0);
  const std::string before = ReadFile(dir_ / "arc.tvk");
  Result d = Tvk("d -pwrong arc.tvk tree/ro.txt", "secret\nsecret\n");
  EXPECT_NE(d.code, 0) << d.output;
  EXPECT_EQ(ReadFile(dir_ / "arc.tvk"), before);
  ExpectOnlyArchiveBeside(dir_, "arc.tvk");
  ASSERT_EQ(Tvk("d -psecret arc.tvk tree/ro.txt").code, 0);
  ASSERT_EQ(Tvk("x -q -psecret -o out arc.tvk").code, 0);
  fs::remove(dir_ / "tree/ro.txt");
  ExpectSameTree(dir_ / "tree", dir_ / "out/tree");
}

TEST_F(TvkUpdate, EncryptedHeadsNeedThePasswordAndStayEncrypted) {
  MakeTree(dir_ / "tree");
  ASSERT_EQ(Tvk("a -q -psecret --encrypt-headers -c 'the comment' arc.tvk tree").code, 0);
  const std::string before = ReadFile(dir_ / "arc.tvk");
  // No password at hand: refused, untouched.
  EXPECT_NE(Tvk("d arc.tvk tree/ro.txt").code, 0);
  EXPECT_NE(Tvk("d -pwrong arc.tvk tree/ro.txt").code, 0);
  EXPECT_EQ(ReadFile(dir_ / "arc.tvk"), before);

  Result d = Tvk("d arc.tvk tree/ro.txt", "secret\n");
  ASSERT_EQ(d.code, 0) << d.output;
  WriteFile(dir_ / "tree/extra.txt", "secret extra");
  Result u = Tvk("u -psecret arc.tvk tree/extra.txt");
  ASSERT_EQ(u.code, 0) << u.output;
  const std::string after = ReadFile(dir_ / "arc.tvk");
  EXPECT_EQ(after.find("readme"), std::string::npos);
  EXPECT_EQ(after.find("extra"), std::string::npos);
  Result l = Tvk("l -psecret arc.tvk");
  ASSERT_EQ(l.code, 0) << l.output;
  EXPECT_NE(l.output.find("the comment"), std::string::npos) << l.output;
  EXPECT_NE(l.output.find("tree/extra.txt"), std::string::npos) << l.output;
  EXPECT_EQ(l.output.find("ro.txt"), std::string::npos) << l.output;
  ASSERT_EQ(Tvk("x -q -psecret -o out arc.tvk").code, 0);
  fs::remove(dir_ / "tree/ro.txt");
  ExpectSameTree(dir_ / "tree", dir_ / "out/tree");
}

TEST_F(TvkUpdate, ASignedArchiveLosesItsSealWithAWarningOrIsSealedAgain) {
  MakeTree(dir_ / "tree");
  const std::string master = std::string(TVK_MASTER_KEY_FILE);
  ASSERT_EQ(Tvk("keygen signer.pem").code, 0);
  ASSERT_EQ(Tvk("cert --key '" + master + "' --name 'Test Signer' signer.pem signer.cert").code, 0);
  ASSERT_EQ(Tvk("a -q --sign signer.pem --cert signer.cert signed.tvk tree").code, 0);

  Result d = Tvk("d signed.tvk tree/ro.txt");
  ASSERT_EQ(d.code, 0) << d.output;
  EXPECT_NE(d.output.find("signed.tvk: the signature was removed; sign it again with tvk sign"), std::string::npos)
      << d.output;
  Result l = Tvk("l signed.tvk");
  ASSERT_EQ(l.code, 0) << l.output;
  EXPECT_EQ(l.output.find("signed by"), std::string::npos) << l.output;
  EXPECT_EQ(Tvk("t signed.tvk").code, 0);

  Result again = Tvk("d --sign signer.pem --cert signer.cert signed.tvk tree/bin/run.sh");
  ASSERT_EQ(again.code, 0) << again.output;
  EXPECT_EQ(again.output.find("signature was removed"), std::string::npos) << again.output;
  Result t = Tvk("t signed.tvk");
  EXPECT_EQ(t.code, 0) << t.output;
  EXPECT_NE(t.output.find("signed by Test Signer"), std::string::npos) << t.output;
}

TEST_F(TvkUpdate, AFailedRunLeavesTheArchiveAsItWas) {
  MakeTree(dir_ / "tree");
  ASSERT_EQ(Tvk("a -q arc.tvk tree").code, 0);
  const std::string before = ReadFile(dir_ / "arc.tvk");
  WriteFile(dir_ / "tree/docs/readme.txt", "changed");

  // The temporary archive cannot be written to its end.
  Result full = Tvk("u arc.tvk tree", "", "trap '' XFSZ; ulimit -f 64;");
  EXPECT_EQ(full.code, 2) << full.output;
  EXPECT_NE(full.output.find("left as it was"), std::string::npos) << full.output;
  EXPECT_EQ(ReadFile(dir_ / "arc.tvk"), before);
  ExpectOnlyArchiveBeside(dir_, "arc.tvk");

  // An input that cannot be read.
  ASSERT_EQ(mkfifo((dir_ / "tree/pipe").c_str(), 0644), 0);
  Result pipe = Tvk("u arc.tvk tree");
  EXPECT_EQ(pipe.code, 2) << pipe.output;
  EXPECT_EQ(ReadFile(dir_ / "arc.tvk"), before);
  fs::remove(dir_ / "tree/pipe");

  // A folder where the temporary cannot be created (root may write anyway).
  if (geteuid() != 0) {
    fs::permissions(dir_, fs::perms::owner_write, fs::perm_options::remove);
    Result ro = Tvk("d arc.tvk tree/ro.txt");
    fs::permissions(dir_, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(ro.code, 2) << ro.output;
    EXPECT_EQ(ReadFile(dir_ / "arc.tvk"), before);
  }

  // Volume sets and self-extractors are refused as they are.
  ASSERT_EQ(Tvk("a -q -m0 -v200k set.tvk tree").code, 0);
  Result set = Tvk("d set.tvk tree/ro.txt");
  EXPECT_EQ(set.code, 1) << set.output;
  EXPECT_NE(set.output.find("volume set"), std::string::npos) << set.output;
}

}  // namespace
