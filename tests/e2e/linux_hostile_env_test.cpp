// The static Linux self-extractor in a hostile environment, with its own
// signal set-up: stopped by the system or by a closed terminal while a file
// is half written, and held to a file-size limit. The cut file never stays
// under its final name, and the exit code says what happened.
#include <signal.h>
#include <unistd.h>

#include "linux_harness.h"

namespace tvk::e2e {
namespace {

using LinuxHostileEnv = LinuxSfx;

// A stop from the system (SIGTERM) or a terminal that closes (SIGHUP) while
// a large file is half written is a Ctrl+C (SIGINT): the part is removed and
// the exit code is 9. The program is frozen (SIGSTOP) once the file has
// begun, the signal is sent, and it goes on (SIGCONT) to meet it.
TEST_F(LinuxHostileEnv, TermAndHangupWhileAFileIsHalfWrittenRemoveItAndExitNine) {
  WriteFile(dir_ / "src/a-first.txt", "finished before\n");
  WriteFile(dir_ / "src/b-big.bin", "");
  const uintmax_t size = uintmax_t{256} << 20;
  fs::resize_file(dir_ / "src/b-big.bin", size);  // zeros: small when packed
  Pack("big.tvk", "", "a-first.txt b-big.bin");
  BuildSfx("setup", "big.tvk", QuietInto("out"));
  const fs::path big = dir_ / "out/b-big.bin";

  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    fs::remove_all(dir_ / "out");
    PtyRun run(dir_, "./setup");
    ASSERT_TRUE(run.Started());
    std::error_code ec;
    bool begun = false;
    for (int i = 0; i < 60000 && !begun; ++i) {
      begun = fs::file_size(big, ec) > 0 && !ec;
      if (!begun) usleep(500);
    }
    kill(run.Pid(), SIGSTOP);
    ASSERT_TRUE(begun);
    uintmax_t written = fs::file_size(big, ec);
    ASSERT_LT(written, size) << "finished before it could be stopped";
    kill(run.Pid(), sig);
    kill(run.Pid(), SIGCONT);
    EXPECT_EQ(run.Finish(), 9) << run.Output();
    EXPECT_FALSE(fs::exists(big));
    EXPECT_EQ(ReadFile(dir_ / "out/a-first.txt"), "finished before\n");
  }
}

// A file-size limit (ulimit -f) is a full disk to the program: write error,
// exit code 6, the cut file removed, not a death by SIGXFSZ.
TEST_F(LinuxHostileEnv, FileSizeLimitIsAWriteErrorNotADeath) {
  WriteFile(dir_ / "src/a-first.txt", "small\n");
  std::string big;
  while (big.size() < (4u << 20)) big += "a line of text that packs well, again and again\n";
  WriteFile(dir_ / "src/b-big.txt", big);
  WriteFile(dir_ / "src/c-last.txt", "never reached\n");
  Pack("big.tvk", "", "a-first.txt b-big.txt c-last.txt");
  BuildSfx("setup", "big.tvk", QuietInto("out"));
  // 1024 blocks of 512 bytes in the shell's count: far below the big file.
  Result r = Shell("ulimit -f 1024 && ./setup");
  EXPECT_EQ(r.code, 6) << r.output;
  EXPECT_FALSE(fs::exists(dir_ / "out/b-big.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "out/c-last.txt"));
  EXPECT_EQ(ReadFile(dir_ / "out/a-first.txt"), "small\n");
}

}  // namespace
}  // namespace tvk::e2e
