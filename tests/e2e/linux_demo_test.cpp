// The README's demo: scripts/demo.sh makes a self-extractor from examples/
// and starts it; answered on standard input it must deliver the files, and
// run in a terminal multiplexer it leaves a capture of what a user sees.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "linux_harness.h"

namespace tvk::e2e {
namespace {

using LinuxDemo = LinuxSfx;

std::string DemoCommand(const fs::path& dir, const std::string& options = "") {
  return Quote(std::string(TVK_SOURCE_DIR) + "/scripts/demo.sh") + " --tvk " + Quote(TVK_TOOL) + " --sfx " +
         Quote(TVK_LINUX_SFX) + " --dir " + Quote(dir.string()) + " " + options;
}

TEST_F(LinuxDemo, AnsweredOnStandardInputDeliversTheExampleFiles) {
  const fs::path examples = fs::path(TVK_SOURCE_DIR) / "examples/hello-tarvik";
  // OK on the info box, then Extract.
  Result r = Shell(DemoCommand(dir_ / "en"), "1\n1\n", 120);
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_TRUE(Contains(r.output, "the self-extractor ended with exit code 0")) << r.output;
  EXPECT_TRUE(Contains(r.output, "Hello from the files of a Tarvik self-extractor")) << r.output;
  ExpectSameTree(examples, dir_ / "en/tarvik-demo-files/hello-tarvik");

  // German texts, answered by the buttons' letters and names.
  r = Shell(DemoCommand(dir_ / "de", "--de"), "ok\ne\n", 120);
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_TRUE(Contains(r.output, "[1] Entpacken  [2] Abbrechen")) << r.output;
  ExpectSameTree(examples, dir_ / "de/tarvik-demo-dateien/hello-tarvik");

  // Cancel on the info box: nothing is extracted.
  r = Shell(DemoCommand(dir_ / "no", ""), "2\n", 120);
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_FALSE(fs::exists(dir_ / "no/tarvik-demo-files"));
}

// Reads the tmux pane until it shows text.
std::string CaptureUntil(const std::string& tmux, const std::string& text, int seconds) {
  std::string pane;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    FILE* f = popen((tmux + " capture-pane -p -S - -t demo 2>/dev/null").c_str(), "r");
    if (f) {
      pane.clear();
      char buffer[4096];
      size_t n;
      while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) pane.append(buffer, n);
      pclose(f);
    }
    if (Contains(pane, text)) return pane;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return pane;
}

TEST_F(LinuxDemo, InteractiveRunInATerminalIsCaptured) {
  if (std::system("tmux -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
  // A server of our own, so that no other tmux session is touched.
  const std::string tmux = "tmux -L tvk-demo-" + std::to_string(getpid()) + " -f /dev/null";
  std::string inner = "cd " + Quote(dir_.string()) + " && " + DemoCommand(dir_ / "work") +
                      "; echo DEMO-EXIT-$?; sleep 60";
  ASSERT_EQ(std::system((tmux + " new-session -d -s demo -x 110 -y 50 " + Quote(inner)).c_str()), 0);

  std::string pane = CaptureUntil(tmux, "[1] OK  [2] Cancel", 60);
  EXPECT_TRUE(Contains(pane, "About this demo")) << pane;
  std::system((tmux + " send-keys -t demo 1 Enter").c_str());
  pane = CaptureUntil(tmux, "[5] Help", 30);
  std::system((tmux + " send-keys -t demo 1 Enter").c_str());
  pane = CaptureUntil(tmux, "DEMO-EXIT-", 60);
  std::system((tmux + " kill-server 2>/dev/null").c_str());

  // The capture is kept with the test logs, like a screenshot.
  // build/test-logs when built by the scripts (build/native), else beside
  // the build.
  fs::path binary = fs::path(TVK_BINARY_DIR);
  fs::path logs = (binary.parent_path().filename() == "build" ? binary.parent_path() : binary) / "test-logs";
  fs::create_directories(logs);
  fs::path capture = logs / "linux-demo-terminal.txt";
  WriteFile(capture, pane);
  std::printf("terminal capture of the demo: %s\n", capture.c_str());

  EXPECT_TRUE(Contains(pane, "DEMO-EXIT-0")) << pane;
  EXPECT_TRUE(Contains(pane, "Target folder: tarvik-demo-files")) << pane;
  EXPECT_TRUE(Contains(pane, "tarvik-demo: 5 file(s)/folder(s) extracted/tested.")) << pane;
  // The progress line was redrawn in place and ended at 100 %.
  EXPECT_TRUE(Contains(pane, "(100 %)")) << pane;
  EXPECT_TRUE(fs::exists(dir_ / "work/tarvik-demo-files/hello-tarvik/hello.sh"));
}

}  // namespace
}  // namespace tvk::e2e
