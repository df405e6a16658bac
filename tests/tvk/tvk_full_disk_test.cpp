// tvk x on a disk that fills up: the message names the file whose write
// failed. Files are finished on a second thread behind the run, so the run
// has usually reached later entries when the failure shows.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Put(const fs::path& p, size_t n, uint32_t seed) {
  std::ofstream out(p, std::ios::binary);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    out.put(static_cast<char>(seed >> 16));
  }
}

int Shell(const fs::path& dir, const std::string& command) {
  std::string line = "cd '" + dir.string() + "' && " + command + " >output.txt 2>&1";
  int status = std::system(line.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(TvkFullDisk, TheMessageNamesTheFileThatFailed) {
  fs::path dir = fs::path(TVK_BINARY_DIR) / "tvk-e2e" / "TvkFullDisk";
  fs::remove_all(dir);
  fs::create_directories(dir / "src");
  Put(dir / "src" / "a.txt", 9, 1);
  Put(dir / "src" / "c.bin", 1 << 20, 2);
  Put(dir / "src" / "d.bin", 100, 3);
  Put(dir / "src" / "e.bin", 3000000, 4);
  const std::string tvk = std::string("'") + TVK_TOOL + "'";
  ASSERT_EQ(Shell(dir / "src", tvk + " a -m0 ../s.tvk a.txt c.bin d.bin e.bin"), 0)
      << Slurp(dir / "src" / "output.txt");
  // The race the queue runs is lost or won differently from run to run.
  // SIGXFSZ is ignored as the shell hands it on, so a write only fails.
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    fs::remove_all(dir / "out");
    int code = Shell(dir, "trap '' XFSZ; ulimit -f 256; " + tvk + " x -o out s.tvk");
    std::string output = Slurp(dir / "output.txt");
    EXPECT_EQ(code, 6) << output;
    EXPECT_NE(output.find("(c.bin)"), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(dir / "out" / "c.bin"));
  }
  if (!::testing::Test::HasFailure()) fs::remove_all(dir);
}

}  // namespace
