// The Linux self-extractor's own options, as a script or an administrator
// uses them: list, check, extract into a named folder, quietly; and the
// wrong words, which must end before anything is opened.
#include <time.h>

#include "linux_harness.h"

namespace tvk::e2e {
namespace {

class SfxOptions : public LinuxSfx {
 protected:
  // A tree packed into a.tvk and a self-extractor "setup" of it whose own
  // target is payload-out (which no option run may touch).
  void MakeSetup(const std::string& settings = "", const std::string& packOptions = "") {
    MakeSmallTree(dir_ / "src/tree");
    Pack("a.tvk", packOptions);
    BuildSfx("setup", "a.tvk", "target = " + (dir_ / "payload-out").string() + "\n" + settings);
  }
  bool PayloadTargetUntouched() const { return !fs::exists(dir_ / "payload-out"); }
};

TEST_F(SfxOptions, HelpAndWrongWordsEndBeforeTheArchiveIsOpened) {
  MakeSetup();
  for (const char* help : {"--help", "-h", "--list --help"}) {
    SCOPED_TRACE(help);
    Result r = Shell(std::string("./setup ") + help + " 2>/dev/null");
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_TRUE(Contains(r.output, "Usage: setup [--list | --check | --target DIR] [--quiet]"))
        << r.output;
    EXPECT_TRUE(Contains(r.output, "2 bad option")) << r.output;
  }
  struct Bad {
    const char* args;
    const char* says;
  };
  const Bad bad[] = {
      {"--bogus", "unknown option '--bogus'"},
      {"extra-word", "unknown option 'extra-word'"},
      {"--target", "--target needs a folder"},
      {"--target --quiet", "--target needs a folder"},
      {"--target ''", "--target needs a folder"},
      {"--list --check", "give one of --list, --check and --target"},
      {"--target a --target b", "give one of --list, --check and --target"},
      {"--quiet -x", "unknown option '-x'"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.args);
    // Everything goes to standard error; standard output stays empty.
    Result r = Shell(std::string("./setup ") + b.args + " >/dev/null");
    EXPECT_EQ(r.code, 2) << r.output;
    EXPECT_TRUE(Contains(r.output, b.says)) << r.output;
    EXPECT_TRUE(Contains(r.output, "Try 'setup --help'.")) << r.output;
  }
  // A folder name that does not fit is refused, not cut to another folder.
  Result r = Shell("./setup --target " + std::string(5000, 'x'));
  EXPECT_EQ(r.code, 2) << r.output;
  EXPECT_TRUE(Contains(r.output, "folder name too long")) << r.output;
  EXPECT_TRUE(PayloadTargetUntouched());

  // Words after -- go nowhere: the normal run, here cancelled at its first
  // question, which ends with exit code 0 and nothing written.
  r = Shell("./setup -- --bogus", "2\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_TRUE(Contains(r.output, "[1] Extract  [2] Cancel")) << r.output;
  EXPECT_TRUE(PayloadTargetUntouched());
}

TEST_F(SfxOptions, ListNamesEveryEntryAndWritesNothing) {
  MakeSetup("title = Licence\ninfo = Accept?\ninfo-style = 1\n");
  Result r = Shell("./setup --list");
  EXPECT_EQ(r.code, 0) << r.output;
  // The info text is for runs that extract.
  EXPECT_FALSE(Contains(r.output, "Accept?")) << r.output;
  EXPECT_TRUE(Contains(r.output, "Size       Packed  Date              Name\n")) << r.output;
  for (const char* name : {"tree/docs/readme.txt", "tree/docs/empty.txt", "tree/bin/run.sh",
                           "tree/data/deep/a/b/leaf.txt", "tree/ro.txt"}) {
    EXPECT_TRUE(Contains(r.output, std::string("  ") + name + "\n")) << name << "\n" << r.output;
  }
  // Folders are marked; sizes and the local date of the file stand in front.
  EXPECT_TRUE(Contains(r.output, "\n" + std::string(45, ' ') + "tree/empty-folder/\n")) << r.output;
  struct stat st {};
  ASSERT_EQ(stat((dir_ / "src/tree/data/zeros.bin").c_str(), &st), 0);
  char date[16];
  strftime(date, sizeof date, "%Y-%m-%d", localtime(&st.st_mtime));
  EXPECT_TRUE(Contains(r.output, "       70000 ")) << r.output;
  EXPECT_TRUE(Contains(r.output, std::string("  ") + date + " ")) << r.output;
  EXPECT_TRUE(Contains(r.output, "\n7 file(s), 128321 bytes\n")) << r.output;
  EXPECT_TRUE(PayloadTargetUntouched());

  // Encrypted heads: the directory password is asked as in a normal run,
  // and without it nothing is listed.
  Pack("eh.tvk", "-psecret --encrypt-headers");
  BuildSfx("eh", "eh.tvk", "target = " + (dir_ / "payload-out").string() + "\n");
  r = Shell("./eh --list", "secret\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_TRUE(Contains(r.output, "The directory of eh is protected")) << r.output;
  EXPECT_TRUE(Contains(r.output, "  tree/docs/readme.txt\n")) << r.output;
  r = Shell("./eh --list");
  EXPECT_EQ(r.code, 9) << r.output;
  EXPECT_FALSE(Contains(r.output, "readme.txt")) << r.output;
  // --quiet asks nothing, and says why it stopped.
  r = Shell("./eh --quiet --list", "secret\n");
  EXPECT_EQ(r.code, 9) << r.output;
  EXPECT_TRUE(Contains(r.output, "--quiet: no answer is given; the run stops.")) << r.output;
  EXPECT_FALSE(Contains(r.output, "readme.txt")) << r.output;
  EXPECT_TRUE(PayloadTargetUntouched());
}

TEST_F(SfxOptions, CheckTestsEveryEntryAndReportsDamage) {
  WriteFile(dir_ / "src/tree/first.txt", "first\n");
  std::string probe;
  for (int i = 0; i < 200; ++i) probe += "CHECK-PROBE " + std::to_string(i) + "\n";
  WriteFile(dir_ / "src/tree/probe.txt", probe);
  Pack("a.tvk", "-m0");
  BuildSfx("setup", "a.tvk", "target = " + (dir_ / "payload-out").string() + "\n");
  Result r = Shell("./setup --check");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(r.output, "setup: 3 file(s)/folder(s) extracted/tested.\n");

  FlipAt(dir_ / "setup", "CHECK-PROBE 100");
  r = Shell("./setup --check");
  EXPECT_EQ(r.code, 4) << r.output;
  EXPECT_TRUE(Contains(r.output, "Checksum error.")) << r.output;
  // Quietly the message comes all the same, on standard error alone.
  r = Shell("./setup --check --quiet 2>&1 >/dev/null");
  EXPECT_EQ(r.code, 4) << r.output;
  EXPECT_TRUE(Contains(r.output, "Checksum error.")) << r.output;
  EXPECT_TRUE(PayloadTargetUntouched());
  EXPECT_FALSE(fs::exists(dir_ / "tree"));
}

TEST_F(SfxOptions, ListAndCheckShowTheSignatureAndRefuseATamperedCopy) {
  WriteFile(dir_ / "src/tree/signed.txt", std::string(3000, 'S') + "SIGNED-MARKER");
  ASSERT_EQ(Tvk("keygen signer.pem").code, 0);
  Result c = Tvk("cert --key " + Quote(TVK_MASTER_KEY_FILE) +
                 " --name 'Test Signer' signer.pem signer.cert");
  ASSERT_EQ(c.code, 0) << c.output;
  Pack("a.tvk", "-m0");
  BuildSfx("setup", "a.tvk", "target = " + (dir_ / "payload-out").string() + "\n");
  Result s = Tvk("sign --key signer.pem --cert signer.cert setup");
  ASSERT_EQ(s.code, 0) << s.output;
  for (const char* option : {"--list", "--check"}) {
    SCOPED_TRACE(option);
    Result r = Shell(std::string("./setup ") + option);
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(Count(r.output, "carries a valid digital signature"), 1u) << r.output;
    EXPECT_TRUE(Contains(r.output, "by Test Signer")) << r.output;
  }
  FlipAt(dir_ / "setup", "SIGNED-MARKER");
  for (const char* option : {"--list", "--check"}) {
    SCOPED_TRACE(option);
    // The end of input answers the mismatch question with No.
    Result r = Shell(std::string("./setup ") + option);
    EXPECT_EQ(r.code, 8) << r.output;
    EXPECT_TRUE(Contains(r.output, "does not match the original archive")) << r.output;
    EXPECT_FALSE(Contains(r.output, "signed.txt\n")) << r.output;
  }
}

TEST_F(SfxOptions, TargetExtractsThereAndAsksOnlyWhatThePayloadAsks) {
  MakeSetup();
  // A new folder, relative to the current one: exactly the tree, no
  // folder question, the summary at the end.
  Result r = Shell("./setup --target new/place");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_FALSE(Contains(r.output, "[1] Extract")) << r.output;
  EXPECT_TRUE(Contains(r.output, "setup: 15 file(s)/folder(s) extracted/tested.")) << r.output;
  ExpectSameTree(dir_ / "src/tree", dir_ / "new/place/tree");
  size_t top = 0;
  for (auto it = fs::directory_iterator(dir_ / "new/place"); it != fs::directory_iterator(); ++it) ++top;
  EXPECT_EQ(top, 1u);
  EXPECT_TRUE(PayloadTargetUntouched());

  // The payload does not replace files unasked: the question still comes,
  // and the end of input cancels.
  WriteFile(dir_ / "old/tree/docs/readme.txt", "changed");
  r = Shell("./setup --target old");
  EXPECT_EQ(r.code, 9) << r.output;
  EXPECT_TRUE(Contains(r.output, "already contains a file named 'readme.txt'")) << r.output;
  EXPECT_EQ(ReadFile(dir_ / "old/tree/docs/readme.txt"), "changed");

  // An info text still comes first; No is a cancel at the first question:
  // exit code 0 and nothing written.
  BuildSfx("ask", "a.tvk", "title = Licence\ninfo = Accept?\ninfo-style = 1\n");
  r = Shell("./ask --target asked", "2\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_TRUE(Contains(r.output, "Accept?\n[1] Yes  [2] No\n")) << r.output;
  EXPECT_FALSE(fs::exists(dir_ / "asked"));
  r = Shell("./ask --target asked", "1\n");
  EXPECT_EQ(r.code, 0) << r.output;
  ExpectSameTree(dir_ / "src/tree", dir_ / "asked/tree");
}

TEST_F(SfxOptions, QuietTargetAsksNothingAndStopsWhereAnAnswerIsNeeded) {
  MakeSetup("title = Licence\ninfo = Accept?\ninfo-style = 1\n");
  // The info text is not shown either, as in a payload's own quiet run.
  Result r = Shell("./setup --quiet --target q");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(r.output, "");
  ExpectSameTree(dir_ / "src/tree", dir_ / "q/tree");

  // A file to replace: the question is refused, the file kept.
  WriteFile(dir_ / "old/tree/docs/readme.txt", "changed");
  r = Shell("./setup --target old --quiet");
  EXPECT_EQ(r.code, 9) << r.output;
  EXPECT_TRUE(Contains(r.output, "already contains a file named 'readme.txt'")) << r.output;
  EXPECT_TRUE(Contains(r.output, "--quiet: no answer is given; the run stops.")) << r.output;
  EXPECT_EQ(ReadFile(dir_ / "old/tree/docs/readme.txt"), "changed");

  // A password is never read, even when standard input has one.
  Pack("enc.tvk", "-psecret");
  BuildSfx("enc", "enc.tvk", "target = " + (dir_ / "payload-out").string() + "\n");
  r = Shell("./enc --quiet --target e", "secret\n");
  EXPECT_EQ(r.code, 9) << r.output;
  EXPECT_TRUE(Contains(r.output, "is protected by a password")) << r.output;
  EXPECT_FALSE(fs::exists(dir_ / "e/tree/docs/readme.txt"));
  // Without --target the payload's folder is used, without a question.
  r = Shell("./setup --quiet");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(r.output, "");
  ExpectSameTree(dir_ / "src/tree", dir_ / "payload-out/tree");
}

}  // namespace
}  // namespace tvk::e2e
