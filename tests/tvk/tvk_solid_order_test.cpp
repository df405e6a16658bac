// Solid archives group files of a kind, folders ahead, and still give every
// file back unchanged.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int RunTvk(const fs::path& dir, const std::string& args, std::string* output) {
  const std::string command =
      "cd '" + dir.string() + "' && '" + TVK_TOOL + "' " + args + " >out.txt 2>&1 </dev/null";
  const int status = std::system(command.c_str());
  *output = Slurp(dir / "out.txt");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(TvkSolidOrder, FilesOfAKindFollowEachOtherAndComeBackIntact) {
  const fs::path dir = fs::path(TVK_BINARY_DIR) / "tvk-e2e" / "TvkSolidOrder";
  fs::remove_all(dir);
  fs::create_directories(dir);
  // Interleaved kinds in several folders.
  for (int f = 0; f < 3; ++f) {
    for (int k = 0; k < 3; ++k) {
      const fs::path folder = dir / "tree" / ("f" + std::to_string(f));
      fs::create_directories(folder);
      std::string text, bin;
      for (int i = 0; i < 300; ++i) text += "entry " + std::to_string(i * (k + 1)) + " of a list\n";
      for (int i = 0; i < 5000; ++i) bin.push_back(char((i * 37 + f * 11 + k) & 0xFF));
      std::ofstream(folder / ("a" + std::to_string(k) + ".txt"), std::ios::binary) << text;
      std::ofstream(folder / ("b" + std::to_string(k) + ".BIN"), std::ios::binary) << bin;
    }
  }
  std::string out;
  ASSERT_EQ(RunTvk(dir, "a -m2 -s solid.tvk tree", &out), 0) << out;
  ASSERT_EQ(RunTvk(dir, "l solid.tvk", &out), 0) << out;
  size_t lastFolder = 0, firstFile = std::string::npos, lastBin = 0, firstTxt = std::string::npos;
  size_t files = 0;
  std::istringstream lines(out);
  size_t row = 0;
  for (std::string line; std::getline(lines, line); ++row) {
    if (line.find("tree/") == std::string::npos) continue;
    if (line.back() == '/') {
      lastFolder = row;
    } else {
      ++files;
      firstFile = std::min(firstFile, row);
      if (line.find(".BIN") != std::string::npos) lastBin = row;
      if (line.find(".txt") != std::string::npos) firstTxt = std::min(firstTxt, row);
    }
  }
  EXPECT_EQ(files, 18u) << out;
  EXPECT_LT(lastFolder, firstFile) << out;
  EXPECT_LT(lastBin, firstTxt) << out;
  ASSERT_EQ(RunTvk(dir, "x -q -o copy solid.tvk", &out), 0) << out;
  for (const auto& e : fs::recursive_directory_iterator(dir / "tree")) {
    if (!e.is_regular_file()) continue;
    const fs::path rel = fs::relative(e.path(), dir);
    EXPECT_EQ(Slurp(e.path()), Slurp(dir / "copy" / rel)) << rel;
  }
  if (!::testing::Test::HasFailure()) fs::remove_all(dir);
}

}  // namespace
