// The command line's small pieces: sizes, options, exit codes, dates.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/result_codes.h"
#include "tools/tvk/args.h"
#include "tools/tvk/os.h"
#include "tools/tvk/read_support.h"
#include "tools/tvk/sfx_settings.h"
#include "writer/payload_writer.h"

namespace tvk::cli {
namespace {

TEST(ParseSize, UnitsArePowersOf1024) {
  EXPECT_EQ(ParseSize("10m"), 10u * 1024 * 1024);
  EXPECT_EQ(ParseSize("10M"), 10u * 1024 * 1024);
  EXPECT_EQ(ParseSize("3k"), 3072u);
  EXPECT_EQ(ParseSize("2g"), 2ull << 30);
  EXPECT_EQ(ParseSize("500b"), 500u);
  EXPECT_EQ(ParseSize("500"), 500u);
  EXPECT_FALSE(ParseSize(""));
  EXPECT_FALSE(ParseSize("m"));
  EXPECT_FALSE(ParseSize("10x"));
  EXPECT_FALSE(ParseSize("10mb"));
  EXPECT_FALSE(ParseSize("-5k"));
  EXPECT_FALSE(ParseSize("99999999999999999999"));
  EXPECT_FALSE(ParseSize("17179869184g"));  // 2^34 GiB does not fit 64 bits
}

Args Parse(std::vector<std::string> words, const std::vector<std::string>& allowed, bool* ok,
           std::string* error = nullptr) {
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  Args args;
  std::string e;
  *ok = ParseArgs(static_cast<int>(argv.size()), argv.data(), 0, allowed, &args, &e);
  if (error) *error = e;
  return args;
}

TEST(ParseArgs, OptionsAnywhereBeforeTheEndMark) {
  bool ok = false;
  Args a = Parse({"arc.tvk", "-m4", "dir", "-psecret", "-v1k", "-s", "--", "-notanoption"},
                 {"-m", "-p", "-v", "-s"}, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(a.level, 4);
  EXPECT_TRUE(a.passwordGiven);
  EXPECT_EQ(a.password, "secret");
  EXPECT_EQ(a.volumeSize, 1024u);
  EXPECT_TRUE(a.solid);
  EXPECT_EQ(a.positional, (std::vector<std::string>{"arc.tvk", "dir", "-notanoption"}));

  a = Parse({"-p", "-o", "out", "-y", "-q", "x.tvk"}, {"-p", "-o", "-y"}, &ok);
  ASSERT_TRUE(ok);
  EXPECT_TRUE(a.passwordGiven);
  EXPECT_EQ(a.password, "");
  EXPECT_EQ(a.outputDir, "out");
  EXPECT_TRUE(a.yes && a.quiet);

  a = Parse({"-c", "a comment", "-z"}, {"-c", "-z"}, &ok);
  EXPECT_FALSE(ok);  // -z without its file

  a = Parse({"-mt3", "-m4", "-xb*.o", "--exclude", "c", "-n"}, {"-m", "-mt", "-x", "--exclude", "-n"}, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(a.threads, 3u);
  EXPECT_EQ(a.level, 4);
  EXPECT_EQ(a.excludes, (std::vector<std::string>{"b*.o", "c"}));
  EXPECT_TRUE(a.neverReplace);
}

TEST(ParseArgs, UsageErrors) {
  bool ok = true;
  std::string error;
  Parse({"-m5"}, {"-m"}, &ok, &error);
  EXPECT_FALSE(ok);
  Parse({"-m"}, {"-m"}, &ok);
  EXPECT_FALSE(ok);
  Parse({"-y"}, {"-p"}, &ok, &error);  // not an option of this command
  EXPECT_FALSE(ok);
  EXPECT_NE(error.find("-y"), std::string::npos);
  Parse({"-sx"}, {"-s"}, &ok);
  EXPECT_FALSE(ok);
  Parse({"-v0"}, {"-v"}, &ok);
  EXPECT_FALSE(ok);
  Parse({"--aes256"}, {"--aes128"}, &ok);
  EXPECT_FALSE(ok);
  for (const char* threads : {"-mt", "-mt0", "-mt65", "-mt2k", "-mtx"}) {
    Parse({threads}, {"-m", "-mt"}, &ok);
    EXPECT_FALSE(ok) << threads;
  }
  Parse({"-mt2"}, {"-m"}, &ok);  // a command without threads
  EXPECT_FALSE(ok);
}

TEST(ReadSupport, ExitCodesFollowTheSelfExtractor) {
  EXPECT_EQ(ExitCodeOf(kOk), 0);
  EXPECT_EQ(ExitCodeOf(kErrNotArchive), 3);
  EXPECT_EQ(ExitCodeOf(kErrNotArchive82), 3);
  EXPECT_EQ(ExitCodeOf(kErrCrc), 4);
  EXPECT_EQ(ExitCodeOf(kErrData), 4);
  EXPECT_EQ(ExitCodeOf(kErrMethod), 4);
  EXPECT_EQ(ExitCodeOf(kErrFileAccess), 5);
  EXPECT_EQ(ExitCodeOf(kErrUnused28005), 5);
  EXPECT_EQ(ExitCodeOf(kErrUnused28009), 5);
  EXPECT_EQ(ExitCodeOf(kErrWrite), 6);
  EXPECT_EQ(ExitCodeOf(kErrMemory), 7);
  EXPECT_EQ(ExitCodeOf(kErrBadPassword), 8);
  EXPECT_EQ(ExitCodeOf(kErrSignatureMismatch), 8);
  EXPECT_EQ(ExitCodeOf(kErrCancelled), 9);
}

TEST(ReadSupport, DatesAndPaths) {
  EXPECT_EQ(FormatDosTime(0x3D5309AE), "2010-10-19 01:13:28");
  EXPECT_EQ(AttributeText(0x21), ".R..A");
  EXPECT_EQ(AttributeText(0x10), "D....");
  EXPECT_EQ(MethodText(0, 11), "store");
  EXPECT_EQ(MethodText(4, 11), "lz-4");
  EXPECT_EQ(MethodText(9, 12), "m9 v12");
  EXPECT_EQ(InternalPath("/a/b"), "\\a\\b");
  EXPECT_EQ(DisplayPath("a\\b\\"), "a/b/");
  EXPECT_EQ(os::AbsolutePath("/x"), "/x");
  EXPECT_EQ(os::AbsolutePath("rel").back(), 'l');
  EXPECT_EQ(os::AbsolutePath("rel").front(), '/');
}

TEST(SfxSettings, LineBreaksInShownTextsButPathsKeepTheirBackslashes) {
  payload::Settings settings;
  std::string error;
  ASSERT_TRUE(ParseSfxSettings(
      "info = one\\ntwo\ntarget = C:\\new\\tools\nrun-after = bin\\next.exe|-n\n", &settings,
      &error))
      << error;
  EXPECT_EQ(settings.infoText, "one\r\ntwo");
  EXPECT_EQ(settings.targetFolder, "C:\\new\\tools");
  EXPECT_EQ(settings.runAfter, "bin\\next.exe|-n");
}

}  // namespace
}  // namespace tvk::cli
