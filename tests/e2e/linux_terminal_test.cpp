// The Linux self-extractor on a terminal: a user answers the main dialog,
// the overwrite question and the password prompt by typing, and stops a
// long extraction with Ctrl+C.
#include <unistd.h>

#include <chrono>
#include <thread>

#include "linux_harness.h"

namespace tvk::e2e {
namespace {

using LinuxTerminal = LinuxSfx;

TEST_F(LinuxTerminal, MainDialogBrowseAndYesToAllOnTheOverwriteQuestion) {
  MakeSmallTree(dir_ / "src/tree");
  Pack("a.tvk", "-m2");
  BuildSfx("setup", "a.tvk", "target = " + (dir_ / "first").string() + "\noverwrite = 0\n");

  // Browse to another folder (typed relative to the current folder), then
  // extract.
  {
    PtyRun run(dir_, (dir_ / "setup").string());
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitFor("Tarvik Self Extractor - setup")) << run.Output();
    ASSERT_TRUE(run.WaitFor("[5] Help\r\n> ")) << run.Output();
    run.Type("3\r");
    ASSERT_TRUE(run.WaitFor("Please choose the folder")) << run.Output();
    ASSERT_TRUE(run.WaitFor("] > ")) << run.Output();
    run.Type("second\r");
    ASSERT_TRUE(run.WaitFor("Target folder: " + (dir_ / "second").string())) << run.Output();
    ASSERT_TRUE(run.WaitFor("> ")) << run.Output();
    run.Type("e\r");  // the Extract button's letter
    ASSERT_TRUE(run.WaitFor("file(s)/folder(s) extracted/tested.")) << run.Output();
    EXPECT_EQ(run.Finish(), 0) << run.Output();
    // The progress line is drawn on a terminal.
    EXPECT_TRUE(Contains(run.Output(), "(100 %)")) << run.Output();
  }
  ExpectSameTree(dir_ / "src/tree", dir_ / "second/tree");
  EXPECT_FALSE(fs::exists(dir_ / "first"));

  // Again into the same folder, with changed files there: the first
  // question is answered with Yes to all, and no other question follows.
  fs::rename(dir_ / "second", dir_ / "first");
  WriteFile(dir_ / "first/tree/docs/readme.txt", "changed");
  WriteFile(dir_ / "first/tree/data/deep/a/b/leaf.txt", "changed too");
  {
    PtyRun run(dir_, (dir_ / "setup").string());
    ASSERT_TRUE(run.WaitFor("[5] Help\r\n> ")) << run.Output();
    run.Type("1\r");
    ASSERT_TRUE(run.WaitFor("Confirm file replace")) << run.Output();
    ASSERT_TRUE(run.WaitFor("[1] OK  [2] Yes to all  [3] No  [4] Cancel\r\n> ")) << run.Output();
    run.Type("2\r");
    ASSERT_TRUE(run.WaitFor("extracted/tested.")) << run.Output();
    EXPECT_EQ(run.Finish(), 0) << run.Output();
    EXPECT_EQ(Count(run.Output(), "Confirm file replace"), 1u) << run.Output();
  }
  ExpectSameTree(dir_ / "src/tree", dir_ / "first/tree");

  // No to one file keeps it; Cancel on the next stops with exit code 9.
  WriteFile(dir_ / "first/tree/docs/readme.txt", "kept");
  {
    PtyRun run(dir_, (dir_ / "setup").string());
    ASSERT_TRUE(run.WaitFor("[5] Help\r\n> ")) << run.Output();
    run.Type("1\r");
    ASSERT_TRUE(run.WaitFor("[4] Cancel\r\n> ")) << run.Output();
    run.Type("no\r");
    ASSERT_TRUE(run.WaitFor("[4] Cancel\r\n> ")) << run.Output();
    run.Type("4\r");
    ASSERT_TRUE(run.WaitFor("Cancelled by the user.")) << run.Output();
    EXPECT_EQ(run.Finish(), 9) << run.Output();
  }
  EXPECT_EQ(ReadFile(dir_ / "first/tree/docs/readme.txt"), "kept");
}

// A progress line wider than the terminal would wrap, and every redraw
// would then start a new line: the screen fills with copies.
TEST_F(LinuxTerminal, ProgressLineFitsANarrowTerminal) {
  const std::string name = "a-rather-long-file-name-that-does-not-fit-" + std::string(20, 'x') + ".bin";
  WriteFile(dir_ / "src" / name, Pseudo(3u << 20, 5));
  Pack("a.tvk", "-m0", name);
  BuildSfx("setup", "a.tvk", "target = " + (dir_ / "out").string() + "\n");
  PtyRun run(dir_, (dir_ / "setup").string(), 24, 32);
  ASSERT_TRUE(run.WaitFor("> ")) << run.Output();
  run.Type("1\r");
  ASSERT_TRUE(run.WaitFor("extracted/tested.")) << run.Output();
  EXPECT_EQ(run.Finish(), 0) << run.Output();
  // Every redraw: from a carriage return to the erase of the rest.
  const std::string& out = run.Output();
  size_t lines = 0;
  for (size_t at = out.find("\r"); at != std::string::npos; at = out.find("\r", at + 1)) {
    size_t end = out.find("\033[K", at);
    if (end == std::string::npos || out.find_first_of("\n", at) < end) continue;
    std::string line = out.substr(at + 1, end - at - 1);
    EXPECT_LE(line.size(), 31u) << line;
    ++lines;
  }
  EXPECT_GT(lines, 0u) << out;
  // The name's end stays, with the percent.
  EXPECT_TRUE(Contains(out, "\r..." + std::string(16, 'x') + ".bin (100 %)\033[K")) << out;
}

TEST_F(LinuxTerminal, PasswordIsTypedWithoutEcho) {
  MakeSmallTree(dir_ / "src/tree");
  Pack("enc.tvk", "-pTyped-Secret-42");
  BuildSfx("setup", "enc.tvk", "target = " + (dir_ / "out").string() + "\n");
  PtyRun run(dir_, (dir_ / "setup").string());
  ASSERT_TRUE(run.WaitFor("> ")) << run.Output();
  run.Type("1\r");
  ASSERT_TRUE(run.WaitFor("Password: ")) << run.Output();
  ASSERT_TRUE(run.WaitForNoEcho()) << run.Output();
  run.Type("Typed-Secret-42\r");
  ASSERT_TRUE(run.WaitFor("extracted/tested.")) << run.Output();
  EXPECT_EQ(run.Finish(), 0) << run.Output();
  EXPECT_FALSE(Contains(run.Output(), "Typed-Secret-42")) << run.Output();
  // One prompt: the stored password serves every later entry.
  EXPECT_EQ(Count(run.Output(), "Password: "), 1u) << run.Output();
  ExpectSameTree(dir_ / "src/tree", dir_ / "out/tree");
}

TEST_F(LinuxTerminal, CtrlCAtThePasswordPromptRefusesItAndGivesTheEchoBack) {
  MakeSmallTree(dir_ / "src/tree");
  Pack("enc.tvk", "-pTyped-Secret-42");
  BuildSfx("setup", "enc.tvk", "target = " + (dir_ / "out").string() + "\nquiet = 1\n");
  PtyRun run(dir_, (dir_ / "setup").string());
  ASSERT_TRUE(run.WaitFor("Password: ")) << run.Output();
  ASSERT_TRUE(run.WaitForNoEcho()) << run.Output();
  run.Type("half-typed\x03");
  // The terminal is given back as it was before the program ends.
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!run.EchoOn() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(run.EchoOn());
  EXPECT_EQ(run.Finish(), 9) << run.Output();
  EXPECT_FALSE(Contains(run.Output(), "half-typed")) << run.Output();
  EXPECT_FALSE(fs::exists(dir_ / "out/tree/docs/readme.txt"));
}

TEST_F(LinuxTerminal, CtrlCDuringALargeExtractionKeepsFinishedFilesAndRemovesThePartialOne) {
  WriteFile(dir_ / "src/first.txt", "finished before the large file\n");
  WriteFile(dir_ / "src/second.bin", Pseudo(300000, 9));
  const size_t kLarge = 40u << 20;
  WriteFile(dir_ / "src/large.bin", Pseudo(kLarge, 21));
  Pack("big.tvk", "-m0", "first.txt second.bin large.bin");
  BuildSfx("setup", "big.tvk", "target = " + (dir_ / "out").string() + "\n");
  fs::remove(dir_ / "src/large.bin");

  // Nobody reads the terminal, so the program soon stands still in a
  // progress update inside the large file, its data in a file of its own
  // beside the target. Ctrl+C is typed then.
  PtyRun run(dir_, (dir_ / "setup").string());
  ASSERT_TRUE(run.WaitFor("> ")) << run.Output();
  run.Type("1\r");
  auto partial = [&]() -> fs::path {
    std::error_code ec;
    for (auto& e : fs::directory_iterator(dir_ / "out", ec)) {
      std::string name = e.path().filename().string();
      if (name != "first.txt" && name != "second.bin") return e.path();
    }
    return {};
  };
  fs::path writing;
  uintmax_t lastSize = 0;
  for (int i = 0; i < 300; ++i) {  // up to 30 s
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    fs::path p = partial();
    std::error_code ec;
    uintmax_t size = p.empty() ? 0 : fs::file_size(p, ec);
    if (!p.empty() && !ec && size > 0 && size == lastSize) {
      writing = p;
      break;
    }
    lastSize = ec ? 0 : size;
  }
  ASSERT_FALSE(writing.empty()) << "the extraction never stood still inside the large file";
  ASSERT_LT(fs::file_size(writing), kLarge);
  run.Type("\x03");
  EXPECT_EQ(run.Finish(), 9) << run.Output();
  EXPECT_TRUE(Contains(run.Output(), "Cancelled by the user.")) << run.Output();
  EXPECT_FALSE(fs::exists(writing));
  EXPECT_EQ(ReadFile(dir_ / "out/first.txt"), "finished before the large file\n");
  EXPECT_TRUE(ReadFile(dir_ / "out/second.bin") == ReadFile(dir_ / "src/second.bin"));
  EXPECT_FALSE(fs::exists(dir_ / "out/large.bin"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "out"), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace tvk::e2e
