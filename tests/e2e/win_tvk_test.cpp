// tvk.exe, the archiver as a Windows console program, run under Wine on a
// tree whose names reach outside ASCII and outside Windows-1252: what it
// packs, lists, tests, extracts and rewrites, the self-extractor it builds
// from the program beside it, and its archives read by the Linux tvk.
#include <gtest/gtest.h>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "tests/e2e/linux_harness.h"
#include "tests/e2e/wine_env.h"

namespace fs = std::filesystem;

namespace {

using tvk::e2e::Capture;
using tvk::e2e::Quote;
using tvk::e2e::ReadFile;
using tvk::e2e::WriteFile;

// The Wine form of a Linux path (drive Z: is the Linux root).
std::string WinPath(const fs::path& p) {
  std::string s = "Z:" + p.string();
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

// Every file and folder below root by its relative path: a file's
// contents, a folder as "/".
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> out;
  if (!fs::is_directory(root)) return out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(e.path(), root).string();
    out[rel] = e.is_directory() ? "/" : ReadFile(e.path());
  }
  return out;
}

// Names in Windows-1252 (stored in it) and one beyond it (stored in UTF-8),
// a file that packs, and an empty folder.
void MakeTree(const fs::path& src) {
  std::string text;
  for (int i = 0; i < 400; ++i) text += "Ligne " + std::to_string(i % 37) + " : déjà vu, ça va.\n";
  WriteFile(src / "Données/Ça.txt", text);
  WriteFile(src / "Données/Übung/日本.txt", "こんにちは\n");
  WriteFile(src / "plain.txt", "plain\n");
  fs::create_directories(src / "empty");
}

bool Have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

#define EXPECT_HAS(haystack, needle) EXPECT_NE(std::string::npos, (haystack).find(needle)) << (haystack)

class WinTvk : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    available_ = fs::exists(TVK_WINDOWS_TVK) && Have("wine");
    if (available_) tvk::e2e::UseTestWineEnvironment();
  }

  void SetUp() override {
    if (!available_) GTEST_SKIP() << "needs tvk.exe (a Windows build) and wine";
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(TVK_BINARY_DIR) / "tests/e2e/win-tvk-work" / info->name();
    fs::remove_all(dir_);
    MakeTree(dir_ / "src");
    // As installed: the self-extractor program beside tvk.exe.
    fs::create_directories(dir_ / "bin");
    fs::copy_file(TVK_WINDOWS_TVK, dir_ / "bin/tvk.exe");
    if (fs::exists(TVK_WINDOWS_SFX)) fs::copy_file(TVK_WINDOWS_SFX, dir_ / "bin/tvksfx.exe");
  }

  // tvk.exe in the work folder, with input on a pipe (never a console).
  std::string Win(const std::string& args, int* status, const std::string& input = "") {
    return Capture("cd " + Quote(dir_.string()) + " && printf %s " + Quote(input) + " | wine bin/tvk.exe " + args,
                   status);
  }

  std::string Linux(const std::string& args, int* status) {
    return Capture("cd " + Quote(dir_.string()) + " && " + Quote(TVK_TOOL) + " " + args + " </dev/null", status);
  }

  static bool available_;
  fs::path dir_;
};

bool WinTvk::available_ = false;

TEST_F(WinTvk, PacksListsTestsAndExtractsNamesBeyondAscii) {
  int rc = -1;
  std::string out = Win("a -m3 a.tvk src", &rc);
  ASSERT_EQ(0, rc) << out;
  EXPECT_HAS(out, "stored in UTF-8");

  out = Win("l a.tvk", &rc);
  EXPECT_EQ(0, rc) << out;
  EXPECT_HAS(out, "src/Données/Übung/日本.txt");
  EXPECT_HAS(out, "src/Données/Ça.txt");
  EXPECT_HAS(out, "src/empty/");
  EXPECT_HAS(out, "lz-");

  out = Win("t a.tvk", &rc);
  EXPECT_EQ(0, rc) << out;
  EXPECT_HAS(out, "all entries are intact");

  // Every name comes out as it went in, through the reader's code page.
  out = Win("x -o out a.tvk", &rc);
  EXPECT_EQ(0, rc) << out;
  const auto src = Tree(dir_ / "src");
  EXPECT_EQ(src, Tree(dir_ / "out/src"));

  // One format: the Linux tvk reads what the Windows one wrote.
  out = Linux("x -o linux a.tvk", &rc);
  EXPECT_EQ(0, rc) << out;
  EXPECT_EQ(src, Tree(dir_ / "linux/src"));
}

TEST_F(WinTvk, PathsWithBackslashesAndDrivesAreStoredRelative) {
  int rc = -1;
  const std::string drive = WinPath(dir_ / "src" / "plain.txt");
  std::string out = Win("a b.tvk " + Quote(".\\src\\Données\\") + " " + Quote(drive), &rc);
  ASSERT_EQ(0, rc) << out;
  out = Win("l b.tvk", &rc);
  EXPECT_HAS(out, " src/Données/Übung/日本.txt");
  EXPECT_HAS(out, (dir_ / "src/plain.txt").relative_path().string());
  EXPECT_EQ(std::string::npos, out.find("Z:")) << out;
  EXPECT_EQ(std::string::npos, out.find('\\')) << out;
}

TEST_F(WinTvk, PasswordsComeFromAPipeWithoutAConsole) {
  int rc = -1;
  std::string out = Win("a -p -m3 p.tvk src", &rc, "Geheimnis\n");
  ASSERT_EQ(0, rc) << out;
  out = Win("l p.tvk", &rc);
  EXPECT_HAS(out, "AES-256");

  out = Linux("t -pGeheimnis p.tvk", &rc);
  EXPECT_EQ(0, rc) << out;
  out = Linux("t -pfalsch p.tvk", &rc);
  EXPECT_NE(0, rc) << out;

  out = Win("x -o out p.tvk", &rc, "Geheimnis\n");
  EXPECT_EQ(0, rc) << out;
  EXPECT_EQ(Tree(dir_ / "src"), Tree(dir_ / "out/src"));
}

TEST_F(WinTvk, UpdatesAndDeletesInPlace) {
  int rc = -1;
  std::string out = Win("a a.tvk src", &rc);
  ASSERT_EQ(0, rc) << out;
  WriteFile(dir_ / "src/Données/Übung/日本.txt", "さようなら\n");
  WriteFile(dir_ / "src/neu.txt", "neu\n");
  // The new archive takes the place of the one still open for its kept
  // entries.
  out = Win("u a.tvk src", &rc);
  EXPECT_EQ(0, rc) << out;
  EXPECT_HAS(out, "updated 1 and added 1");
  out = Win("d a.tvk src/plain.txt", &rc);
  EXPECT_EQ(0, rc) << out;

  out = Linux("x -o linux a.tvk", &rc);
  EXPECT_EQ(0, rc) << out;
  auto expected = Tree(dir_ / "src");
  expected.erase("plain.txt");
  EXPECT_EQ(expected, Tree(dir_ / "linux/src"));
}

TEST_F(WinTvk, BuildsASelfExtractorFromTheProgramBesideIt) {
  if (!fs::exists(dir_ / "bin/tvksfx.exe")) GTEST_SKIP() << "needs the Windows self-extractor program";
  int rc = -1;
  std::string out = Win("a -m3 a.tvk src", &rc);
  ASSERT_EQ(0, rc) << out;
  WriteFile(dir_ / "settings.ini", "target = " + WinPath(dir_ / "out") + "\nquiet = 1\n");
  out = Win("sfx --settings settings.ini x.exe a.tvk", &rc);
  ASSERT_EQ(0, rc) << out;
  EXPECT_HAS(out, "bin\\tvksfx.exe");

  out = Capture("cd " + Quote(dir_.string()) + " && wine x.exe", &rc);
  EXPECT_EQ(0, rc) << out;
  // The self-extractor takes names in the system's code page: the names
  // Windows-1252 holds come out as they are; every file comes out whole.
  EXPECT_EQ(ReadFile(dir_ / "src/Données/Ça.txt"), ReadFile(dir_ / "out/src/Données/Ça.txt"));
  EXPECT_TRUE(fs::is_directory(dir_ / "out/src/empty"));
  std::multiset<std::string> want, got;
  for (const auto& [name, data] : Tree(dir_ / "src"))
    if (data != "/") want.insert(data);
  for (const auto& [name, data] : Tree(dir_ / "out/src"))
    if (data != "/") got.insert(data);
  EXPECT_EQ(want, got);
}

TEST_F(WinTvk, SigningNamesTheLinuxBuild) {
  int rc = -1;
  std::string out = Win("a a.tvk src", &rc);
  ASSERT_EQ(0, rc) << out;
  for (const char* args : {"sign --key k.pem --cert k.cert a.tvk", "keygen k.pem", "cert --name N k.pem k.cert",
                           "a --sign k.pem --cert k.cert b.tvk src"}) {
    out = Win(args, &rc);
    EXPECT_EQ(1, rc) << args << "\n" << out;
    EXPECT_HAS(out, "needs the Linux build of tvk");
  }
  EXPECT_FALSE(fs::exists(dir_ / "b.tvk"));
}

}  // namespace
