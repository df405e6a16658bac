// The Windows self-extractor end to end: real self-extractors built by tvk
// from the Windows program, run under Wine on a virtual X screen, their
// dialogs read and answered by tvkdriver.exe. A screenshot of each dialog is
// kept in tests/e2e/win-shots/ of the build folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "tests/e2e/wine_env.h"

namespace fs = std::filesystem;

namespace {

using tvk::e2e::Capture;

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

// The Wine form of a Linux path (drive Z: is the Linux root).
std::string WinPath(const fs::path& p) {
  std::string s = "Z:" + p.string();
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

void WriteFile(const fs::path& p, const std::string& data) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << data;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// What a program started by the one under test wrote: read once the text
// is there (the name appears before the text), or whatever is there after
// the time limit, which only ends a wait for a program that never writes.
std::string ReadWhenItHas(const fs::path& p, const std::string& text, int seconds = 60) {
  std::string got;
  for (int waited = 0; waited < seconds * 10; ++waited) {
    got = ReadFile(p);
    if (got.find(text) != std::string::npos) break;
    usleep(100 * 1000);
  }
  return got;
}

bool Have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Where xvfb-run starts looking for a free display. Two tests that run at
// once and both start at its default can pick the same number, and one of
// them then fails at once with no output: each process starts elsewhere.
int FirstDisplay() { return 100 + static_cast<int>(getpid() % 2000) * 4; }

class WinSfx : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    available_ = fs::exists(TVK_WINDOWS_SFX) && fs::exists(TVK_WINDOWS_DRIVER) && Have("wine") &&
                 Have("xvfb-run");
    if (!available_) return;
    tvk::e2e::UseTestWineEnvironment();
    // Without a window manager Wine draws the frames itself, so the captions
    // are in the screenshots.
    // Each test runs in a process of its own under ctest: set it only once.
    std::string settings = ReadFile(fs::path(std::getenv("WINEPREFIX")) / "user.reg");
    if (settings.find("\"Managed\"=\"N\"") == std::string::npos)
      Capture("wine reg add 'HKCU\\Software\\Wine\\X11 Driver' /v Managed /d N /f");
  }

  void SetUp() override {
    if (!available_) GTEST_SKIP() << "needs the Windows program, the driver, wine and xvfb-run";
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(TVK_BINARY_DIR) / "tests/e2e/win-work" / info->name();
    shots_ = fs::path(TVK_BINARY_DIR) / "tests/e2e/win-shots" / info->name();
    fs::remove_all(dir_);
    fs::remove_all(shots_);
    fs::create_directories(dir_ / "src");
    fs::create_directories(shots_);
  }

  // tvk in the work folder; fails the test on a non-zero exit.
  void Tvk(const std::string& args, const fs::path& cwd) {
    int rc = 0;
    std::string out = Capture("cd " + Quote(cwd.string()) + " && " + Quote(TVK_TOOL) + " " + args, &rc);
    ASSERT_EQ(0, rc) << "tvk " << args << "\n" << out;
  }

  // Packs src/ (all of it, or the names given) and builds x.exe from it.
  void Build(const std::string& settings, const std::string& addOptions = "",
             const std::string& lang = "en", const std::string& names = ".",
             const std::string& sfxOptions = "") {
    WriteFile(dir_ / "settings.ini", settings);
    // A test may build twice: the second archive replaces the first.
    Tvk("a -q -f " + addOptions + " " + Quote((dir_ / "a.tvk").string()) + " " + names, dir_ / "src");
    Tvk("sfx -f --sfx " + Quote(TVK_WINDOWS_SFX) + " --settings settings.ini --language " + lang + " " +
            sfxOptions + " x.exe a.tvk",
        dir_);
  }

  // Starts x.exe through the driver with the given commands (shot:NAME and
  // icon:NAME are turned into files in the screenshot folder) and returns
  // what it printed.
  std::string Drive(const std::vector<std::string>& commands, const std::string& program = "x.exe") {
    std::string cmd = "cd " + Quote(dir_.string()) +
                      " && xvfb-run -a -n " + std::to_string(FirstDisplay()) +
                      " -s '-screen 0 1024x768x24' wine " + Quote(TVK_WINDOWS_DRIVER) +
                      " " + Quote("run:" + WinPath(dir_ / program));
    std::vector<std::string> bitmaps;
    for (const std::string& c : commands) {
      const size_t colon = c.find(':');
      const std::string verb = c.substr(0, colon == std::string::npos ? 0 : colon);
      if (verb == "shot" || verb == "icon") {
        fs::path bmp = shots_ / (c.substr(colon + 1) + ".bmp");
        bitmaps.push_back(bmp.string());
        cmd += " " + Quote(verb + ":" + WinPath(bmp));
      } else {
        cmd += " " + Quote(c);
      }
    }
    int rc = 0;
    std::string out = Capture(cmd, &rc);
    for (const std::string& bmp : bitmaps) {
      if (fs::exists(bmp) && Have("convert")) {
        std::string png = bmp.substr(0, bmp.size() - 4) + ".png";
        if (std::system(("convert " + Quote(bmp) + " " + Quote(png) + " 2>/dev/null").c_str()) == 0)
          fs::remove(bmp);
      }
    }
    driverStatus_ = rc;
    return out;
  }

  static bool available_;
  fs::path dir_, shots_;
  int driverStatus_ = 0;
};

bool WinSfx::available_ = false;

#define EXPECT_HAS(haystack, needle) EXPECT_NE(std::string::npos, (haystack).find(needle)) << (haystack)

// Three entries: two files and a folder.
void SmallTree(const fs::path& src) {
  WriteFile(src / "readme.txt", "hello\r\n");
  WriteFile(src / "docs/data.bin", RandomBytes(3000, 1));
}

TEST_F(WinSfx, ExtractsIntoTheDefaultFolderAndSumsUp) {
  SmallTree(dir_ / "src");
  Build("target = " + WinPath(dir_ / "out") + "\n");
  std::string out = Drive({"wait:Tarvik Self Extractor - x.exe", "text:1002", "visible:1003",
                           "visible:1004", "visible:1050", "shot:main-en", "click:1",
                           "wait:Information", "dump", "shot:summary-en", "click:1", "exit"});
  EXPECT_HAS(out, "1002=" + WinPath(dir_ / "out"));
  EXPECT_HAS(out, "1003=0");
  EXPECT_HAS(out, "1004=0");
  EXPECT_HAS(out, "1050=0");
  EXPECT_HAS(out, "x.exe: 3 file(s)/folder(s) extracted/tested.");
  EXPECT_HAS(out, "exit=0");
  EXPECT_EQ("hello\r\n", ReadFile(dir_ / "out/readme.txt"));
  EXPECT_TRUE(RandomBytes(3000, 1) == ReadFile(dir_ / "out/docs/data.bin"));
}

TEST_F(WinSfx, GermanDialogsAndAChangedFolder) {
  SmallTree(dir_ / "src");
  Build("target = " + WinPath(dir_ / "out") + "\noverwrite = 1\nrun-after = readme.txt\n", "", "de");
  std::string out = Drive({"wait:Tarvik Self Extractor - x.exe", "checked:1003", "checked:1004",
                           "set:1002=" + WinPath(dir_ / "elsewhere"), "click:1004", "shot:main-de",
                           "click:9", "wait:Hilfe", "shot:help-de", "click:1", "gone",
                           "wait:Tarvik Self Extractor", "click:1", "sleep:1500", "exit"});
  EXPECT_HAS(out, "1003=1");
  EXPECT_HAS(out, "1004=1");
  EXPECT_HAS(out, "exit=0");
  EXPECT_FALSE(fs::exists(dir_ / "out"));
  EXPECT_EQ("hello\r\n", ReadFile(dir_ / "elsewhere/readme.txt"));
}

TEST_F(WinSfx, InfoBoxAnsweredNoOpensNothing) {
  SmallTree(dir_ / "src");
  // The directory password would be asked at the first open: no prompt shows
  // that no archive was opened.
  Build("target = " + WinPath(dir_ / "out") + "\ntitle = Before you start\ninfo = Go on?\ninfo-style = 1\n",
        "-pSECRET --encrypt-headers");
  std::string out = Drive({"wait:Before you start", "shot:info-question", "click:7", "exit"});
  EXPECT_HAS(out, "exit=0");
  EXPECT_FALSE(fs::exists(dir_ / "out"));
}

// The info box is owned by the main dialog, so the dialog stands behind it,
// and every control has its text, the hidden overwrite box too.
TEST_F(WinSfx, InfoBoxStandsOnTheMainDialog) {
  SmallTree(dir_ / "src");
  Build("target = " + WinPath(dir_ / "out") + "\ntitle = Before you start\ninfo = Read me first.\n");
  std::string out = Drive({"wait:Before you start", "shot:info-over-dialog",
                           "present:Tarvik Self Extractor", "click:1", "gone",
                           "wait:Tarvik Self Extractor", "visible:1003", "text:1003", "click:2",
                           "exit"});
  EXPECT_HAS(out, "present \"Tarvik Self Extractor\"");
  EXPECT_HAS(out, "1003=0");
  EXPECT_HAS(out, "1003=&Overwrite files without asking.");
  EXPECT_HAS(out, "exit=0");
  EXPECT_FALSE(fs::exists(dir_ / "out"));
}

// Extract pressed twice in a row: the second press waits in the queue and
// is dispatched by the first pass's progress updates; it must do nothing.
TEST_F(WinSfx, ExtractPressedTwiceExtractsOnce) {
  WriteFile(dir_ / "src/a-big.bin", RandomBytes(6 << 20, 7));
  SmallTree(dir_ / "src");
  Build("target = " + WinPath(dir_ / "out") + "\n", "-m0");
  std::string out = Drive({"wait:Tarvik Self Extractor", "command:1", "command:1", "command:9",
                           "wait:Information", "text:65535", "click:1", "exit"});
  EXPECT_HAS(out, "x.exe: 4 file(s)/folder(s) extracted/tested.");
  EXPECT_EQ(std::string::npos, out.find("Confirm file replace")) << out;
  EXPECT_HAS(out, "exit=0");
  EXPECT_TRUE(RandomBytes(6 << 20, 7) == ReadFile(dir_ / "out/a-big.bin"));
  EXPECT_EQ("hello\r\n", ReadFile(dir_ / "out/readme.txt"));
}

TEST_F(WinSfx, EarlyCheckOnlyUpTo16MiB) {
  SmallTree(dir_ / "src");
  WriteFile(dir_ / "src/big.bin", RandomBytes(17 << 20, 2));
  Build("target = " + WinPath(dir_ / "out") + "\n", "-m0 -pSECRET --encrypt-headers");
  ASSERT_GT(fs::file_size(dir_ / "x.exe"), 16u << 20);
  // Above 16 MiB the archive is first opened, and its directory password
  // asked, when extraction starts.
  std::string out = Drive({"wait:Tarvik Self Extractor", "sleep:1500", "absent:Password", "click:1",
                           "wait:Password", "text:1140", "set:1142=SECRET", "click:1", "gone",
                           "wait:Password", "set:1142=SECRET", "click:1", "wait:Information",
                           "click:1", "exit"});
  EXPECT_HAS(out, "1140=The directory of x.exe");
  EXPECT_HAS(out, "absent \"Password\"");
  EXPECT_HAS(out, "exit=0");
  EXPECT_TRUE(RandomBytes(17 << 20, 2) == ReadFile(dir_ / "out/big.bin"));
}

TEST_F(WinSfx, DirectoryPasswordOfEncryptedHeadsIsAskedOnce) {
  SmallTree(dir_ / "src");
  Build("target = " + WinPath(dir_ / "out") + "\n", "-pSECRET --encrypt-headers");
  // The early check opens the archive at once; extraction reuses the
  // directory password and asks the file password once for all entries.
  std::string out = Drive({"wait:Password", "text:1140", "text:1141", "shot:directory-password",
                           "set:1142=SECRET", "click:1", "wait:Tarvik Self Extractor", "click:1",
                           "wait:Password", "text:1140", "set:1142=SECRET", "click:1", "gone",
                           "wait:Information", "text:65535", "click:1", "exit"});
  EXPECT_HAS(out, "1140=The file data.bin is protected by a password.");
  EXPECT_HAS(out, "1140=The directory of x.exe is protected by a password.");
  EXPECT_HAS(out, "1141=Password");
  EXPECT_HAS(out, "3 file(s)/folder(s)");
  EXPECT_HAS(out, "exit=0");
  EXPECT_EQ("hello\r\n", ReadFile(dir_ / "out/readme.txt"));
}

TEST_F(WinSfx, WrongFilePasswordThenTheRightOne) {
  SmallTree(dir_ / "src");
  Build("target = " + WinPath(dir_ / "out") + "\n", "-pSECRET", "en", "readme.txt");
  std::string out = Drive({"wait:Tarvik Self Extractor", "click:1", "wait:Password", "text:1140",
                           "shot:file-password", "set:1142=wrong", "click:1", "sleep:500",
                           "wait:Password", "set:1142=SECRET", "click:1", "wait:Information",
                           "click:1", "exit"});
  EXPECT_HAS(out, "1140=The file readme.txt is protected by a password.");
  EXPECT_HAS(out, "exit=0");
  EXPECT_EQ("hello\r\n", ReadFile(dir_ / "out/readme.txt"));
}

TEST_F(WinSfx, CancelledFilePasswordInQuietModeEndsWithoutABox) {
  SmallTree(dir_ / "src");
  Build("target = " + WinPath(dir_ / "out") + "\nquiet = 1\n", "-pSECRET", "en", "readme.txt");
  std::string out = Drive({"wait:Password", "click:2", "gone", "nowindow:1000", "exit"});
  EXPECT_HAS(out, "exit=9");
  EXPECT_FALSE(fs::exists(dir_ / "out/readme.txt"));
}

TEST_F(WinSfx, QuietModeShowsNoWindow) {
  SmallTree(dir_ / "src");
  Build("target = " + WinPath(dir_ / "out") + "\nquiet = 1\n");
  std::string out = Drive({"nowindow:20000", "exit"});
  EXPECT_EQ(0, driverStatus_) << out;
  EXPECT_HAS(out, "exit=0");
  EXPECT_TRUE(RandomBytes(3000, 1) == ReadFile(dir_ / "out/docs/data.bin"));
}

TEST_F(WinSfx, QuietModeReportsDamageThroughTheExitCodeOnly) {
  WriteFile(dir_ / "src/plain.txt", std::string(5000, 'p'));
  Build("target = " + WinPath(dir_ / "out") + "\nquiet = 1\n", "-m0");
  std::string exe = ReadFile(dir_ / "x.exe");
  size_t at = exe.rfind(std::string(100, 'p'));
  ASSERT_NE(std::string::npos, at);
  exe[at] = 'q';
  WriteFile(dir_ / "x.exe", exe);
  std::string out = Drive({"nowindow:20000", "exit"});
  EXPECT_EQ(0, driverStatus_) << out;
  EXPECT_HAS(out, "exit=4");
}

TEST_F(WinSfx, SizeLinesAndEveryOverwriteAnswer) {
  WriteFile(dir_ / "src/a1023.txt", std::string(1023, 'a'));
  WriteFile(dir_ / "src/b1024.txt", std::string(1024, 'b'));
  WriteFile(dir_ / "src/c5000000.bin", std::string(5000000, 'c'));
  WriteFile(dir_ / "src/d.txt", "new d");
  WriteFile(dir_ / "src/e.txt", "new e");
  Build("target = " + WinPath(dir_ / "out") + "\n", "", "en",
        "a1023.txt b1024.txt c5000000.bin d.txt e.txt");
  // The files already there are the same size, so both size lines show it.
  WriteFile(dir_ / "out/a1023.txt", std::string(1023, 'o'));
  WriteFile(dir_ / "out/b1024.txt", std::string(1024, 'o'));
  WriteFile(dir_ / "out/c5000000.bin", std::string(5000000, 'o'));
  WriteFile(dir_ / "out/d.txt", "old d");
  WriteFile(dir_ / "out/e.txt", "old e");
  std::string out = Drive({"wait:Tarvik Self Extractor", "click:1",
                           "wait:Confirm file replace", "text:1101", "text:1103", "text:1105",
                           "shot:overwrite", "click:1", "gone",
                           "wait:Confirm file replace", "text:1103", "text:1105", "click:7", "gone",
                           "wait:Confirm file replace", "text:1103", "text:1105", "click:1108", "gone",
                           "wait:Information", "click:1", "exit"});
  EXPECT_HAS(out, "1101=This folder already contains a file named 'a1023.txt'.");
  EXPECT_HAS(out, "1103=1023 bytes\\nmodified on ");
  EXPECT_HAS(out, "1105=1023 bytes\\nmodified on ");
  EXPECT_HAS(out, "1103=1 KB\\nmodified on ");
  EXPECT_HAS(out, "1103=4882 KB\\nmodified on ");
  EXPECT_HAS(out, "exit=0");
  EXPECT_TRUE(std::string(1023, 'a') == ReadFile(dir_ / "out/a1023.txt"));   // Yes
  EXPECT_TRUE(std::string(1024, 'o') == ReadFile(dir_ / "out/b1024.txt"));   // No
  EXPECT_TRUE(std::string(5000000, 'c') == ReadFile(dir_ / "out/c5000000.bin"));  // Yes to all
  EXPECT_EQ("new d", ReadFile(dir_ / "out/d.txt"));  // and no further question
  EXPECT_EQ("new e", ReadFile(dir_ / "out/e.txt"));
}

TEST_F(WinSfx, OverwriteCancelStops) {
  WriteFile(dir_ / "src/a.txt", "new a");
  WriteFile(dir_ / "src/b.txt", "new b");
  Build("target = " + WinPath(dir_ / "out") + "\n", "", "en", "a.txt b.txt");
  WriteFile(dir_ / "out/a.txt", "old a");
  std::string out = Drive({"wait:Tarvik Self Extractor", "click:1", "wait:Confirm file replace",
                           "click:2", "gone", "wait:Error", "text:65535", "shot:cancelled",
                           "click:1", "exit"});
  EXPECT_HAS(out, "Cancelled by the user.");
  EXPECT_HAS(out, "exit=9");
  EXPECT_EQ("old a", ReadFile(dir_ / "out/a.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "out/b.txt"));
}

TEST_F(WinSfx, CancelDuringExtractionKeepsEarlierFiles) {
  // Thousands of enciphered files keep the run busy long enough to be
  // cancelled however fast one file goes: a single big entry was done before
  // the click on a quick machine.
  constexpr int kBulk = 3000;
  WriteFile(dir_ / "src/first.txt", "first");
  for (int i = 0; i < kBulk; ++i) {
    WriteFile(dir_ / "src/bulk" / ("f" + std::to_string(i) + ".bin"), RandomBytes(20000, 100 + i));
  }
  Build("target = " + WinPath(dir_ / "out") + "\n", "-m0 -pSECRET", "en", "first.txt bulk");
  std::string out = Drive({"wait:Tarvik Self Extractor", "click:1", "wait:Password",
                           "set:1142=SECRET", "click:1", "wait:Tarvik Self Extractor",
                           "shot:progress", "click:2", "wait:Error", "text:65535", "click:1", "exit"});
  EXPECT_HAS(out, "Cancelled by the user.");
  EXPECT_HAS(out, "exit=9");
  EXPECT_EQ("first", ReadFile(dir_ / "out/first.txt"));
  // Every file left behind is whole: the one cut short by the cancel is gone.
  int kept = 0;
  if (fs::exists(dir_ / "out/bulk")) {
    for (const auto& e : fs::directory_iterator(dir_ / "out/bulk")) {
      std::string name = e.path().filename().string();
      ASSERT_TRUE(name.size() > 5 && name[0] == 'f') << name;
      int i = std::stoi(name.substr(1));
      EXPECT_TRUE(RandomBytes(20000, 100 + i) == ReadFile(e.path())) << name;
      ++kept;
    }
  }
  EXPECT_LT(kept, kBulk);
}

TEST_F(WinSfx, MissingVolumeFoundInATypedFolder) {
  WriteFile(dir_ / "src/big.bin", RandomBytes(300000, 4));
  Build("target = " + WinPath(dir_ / "out") + "\n", "-m0 -v100k", "en", "big.bin");
  // Further volumes lie beside the archive; move them away from the program.
  fs::create_directories(dir_ / "media");
  int moved = 0;
  for (const auto& e : fs::directory_iterator(dir_)) {
    std::string name = e.path().filename().string();
    if (e.is_regular_file() && name.rfind("x.", 0) == 0 && name != "x.exe") {
      fs::rename(e.path(), dir_ / "media" / name);
      ++moved;
    }
  }
  ASSERT_GT(moved, 0);
  std::string out = Drive({"wait:Tarvik Self Extractor", "click:1", "wait:Insert new disk", "text:1120",
                           "text:1121", "shot:next-volume", "set:1121=" + WinPath(dir_ / "media"),
                           "click:1", "wait:Information", "click:1", "exit"});
  EXPECT_HAS(out, "1120=Please insert disk 2 into drive ");
  EXPECT_HAS(out, "exit=0");
  EXPECT_TRUE(RandomBytes(300000, 4) == ReadFile(dir_ / "out/big.bin"));
}

TEST_F(WinSfx, RunAfterStartsInItsFolderWithParameters) {
  SmallTree(dir_ / "src");
  WriteFile(dir_ / "src/tools/mark.bat", "@echo %1 %2>\"%CD%\\marker.txt\"\r\n");
  Build("target = " + WinPath(dir_ / "out") + "\nrun-after = tools\\mark.bat|one two\n");
  std::string out = Drive({"wait:Tarvik Self Extractor", "checked:1004", "text:1004", "click:1",
                           "exit", "sleep:3000"});
  EXPECT_HAS(out, "1004=1");
  EXPECT_HAS(out, "1004=Start 'mark.bat' after extraction.");
  EXPECT_HAS(out, "exit=0");
  EXPECT_HAS(out, "exit=0");
  EXPECT_EQ(std::string::npos, out.find("Information")) << "no summary after a run-after file";
  // The dialog form works in the file's own folder.
  EXPECT_HAS(ReadWhenItHas(dir_ / "out/tools/marker.txt", "one two"), "one two");
}

TEST_F(WinSfx, QuietRunAfterStartsInTheTargetFolder) {
  SmallTree(dir_ / "src");
  WriteFile(dir_ / "src/tools/mark.bat", "@echo %1 %2>\"%CD%\\marker.txt\"\r\n");
  Build("target = " + WinPath(dir_ / "out") + "\nquiet = 1\nrun-after = tools\\mark.bat|one two\n");
  std::string out = Drive({"exit", "sleep:3000"});
  EXPECT_HAS(out, "exit=0");
  EXPECT_HAS(ReadWhenItHas(dir_ / "out/marker.txt", "one two"), "one two");
}

// A target relative to the folder the program is started from, and a
// run-after file whose folder the archive does not bring while a file of
// that name lies in the current folder.
TEST_F(WinSfx, RunAfterOfARelativeTargetAndNowhereElse) {
  SmallTree(dir_ / "src");
  WriteFile(dir_ / "src/tools/mark.bat", "@echo %1>\"%CD%\\marker.txt\"\r\n");
  Build("target = rel-out\nquiet = 1\nrun-after = tools\\mark.bat|quiet\n");
  std::string out = Drive({"exit", "sleep:3000"});
  EXPECT_HAS(out, "exit=0");
  EXPECT_HAS(ReadFile(dir_ / "rel-out/marker.txt"), "quiet");

  WriteFile(dir_ / "mark.bat", "@echo decoy>\"%CD%\\decoy.txt\"\r\n");
  Build("target = " + WinPath(dir_ / "d-out") + "\nrun-after = bin\\mark.bat\n");
  out = Drive({"wait:Tarvik Self Extractor", "click:1", "wait:Error", "text:65535", "click:1",
               "exit", "sleep:2000"});
  EXPECT_HAS(out, "The file 'mark.bat' could not be started.");
  EXPECT_HAS(out, "exit=8");
  EXPECT_FALSE(fs::exists(dir_ / "decoy.txt"));
}

TEST_F(WinSfx, RunAfterThatCannotStart) {
  SmallTree(dir_ / "src");
  Build("target = " + WinPath(dir_ / "out") + "\nrun-after = missing.exe\n");
  std::string out = Drive({"wait:Tarvik Self Extractor", "click:1", "wait:Error", "text:65535",
                           "shot:run-after-failed", "click:1", "exit"});
  EXPECT_HAS(out, "The file 'missing.exe' could not be started.");
  EXPECT_HAS(out, "exit=8");
}

TEST_F(WinSfx, SignatureShownOnceAndMismatchDeclined) {
  SmallTree(dir_ / "src");
  fs::path keys = dir_ / "keys";
  fs::create_directories(keys);
  Tvk("keygen -f signer.pem", keys);
  Tvk("cert -f --key " + Quote(std::string(TVK_MASTER_KEY_FILE)) +
          " --name 'Test Signer' signer.pem signer.cert",
      keys);
  Build("target = " + WinPath(dir_ / "out") + "\n", "-m0");
  // The signature covers the program in front of the archive too.
  Tvk("sign --key " + Quote((keys / "signer.pem").string()) + " --cert " +
          Quote((keys / "signer.cert").string()) + " x.exe",
      dir_);
  std::string out = Drive({"wait:Digital signature", "text:1130", "shot:signature", "click:1", "gone",
                           "wait:Tarvik Self Extractor", "click:1", "sleep:1000",
                           "absent:Digital signature", "wait:Information", "click:1", "exit"});
  EXPECT_HAS(out, "1130=The archive x.exe carries a valid digital signature. It was created on ");
  EXPECT_HAS(out, " by Test Signer and matches the original.");
  EXPECT_HAS(out, "absent \"Digital signature\"");
  EXPECT_HAS(out, "exit=0");

  // The same archive with one byte of a stored file changed.
  std::string exe = ReadFile(dir_ / "x.exe");
  size_t at = exe.find("hello\r\n", 50000);
  ASSERT_NE(std::string::npos, at);
  exe[at] = 'j';
  WriteFile(dir_ / "x.exe", exe);
  fs::remove_all(dir_ / "out");
  out = Drive({"wait:Information", "dump", "shot:signature-mismatch", "click:7", "gone", "wait:Error",
               "text:65535", "click:1", "exit"});
  EXPECT_HAS(out, "apparently does not match the original archive");
  EXPECT_HAS(out, "Error (28118) in x.exe.");
  EXPECT_HAS(out, "exit=8");
  EXPECT_FALSE(fs::exists(dir_ / "out"));
}

// A DLL named like a system DLL that the program loads after start-up
// (user32 loads the theme library for the first window) and planted beside
// the program must not be loaded; Wine is told to prefer such a file.
TEST_F(WinSfx, PlantedDllBesideTheProgramIsNotLoaded) {
  fs::path tools = fs::path(TVK_WINDOWS_DRIVER).parent_path();
  ASSERT_TRUE(fs::exists(tools / "tvkplanted.dll"));
  ASSERT_TRUE(fs::exists(tools / "tvkdllprobe.exe"));
  SmallTree(dir_ / "src");
  Build("target = " + WinPath(dir_ / "out") + "\n");
  // Not version.dll here: Wine's own system DLLs import it while the process
  // is set up, before any code of the program runs.
  for (const char* name : {"uxtheme.dll", "msimg32.dll", "tvkplanted.dll"})
    fs::copy_file(tools / "tvkplanted.dll", dir_ / name);
  fs::copy_file(tools / "tvkdllprobe.exe", dir_ / "probe.exe");
  setenv("WINEDLLOVERRIDES", "mscoree=;mshtml=;uxtheme,msimg32=n,b", 1);
  auto probe = [&](const std::string& args) {
    int rc = 0;
    Capture("cd " + Quote(dir_.string()) + " && wine probe.exe " + args, &rc);
    return rc;
  };
  // The check itself can see a planted DLL being loaded...
  int unguarded = probe("uxtheme.dll");
  bool seen = fs::exists(dir_ / "uxtheme.dll.loaded");
  fs::remove(dir_ / "uxtheme.dll.loaded");
  int unguardedOwn = probe("tvkplanted.dll");
  fs::remove(dir_ / "tvkplanted.dll.loaded");
  // ...and the guard keeps it out, for the preloaded names and for any other.
  int guarded = probe("guard uxtheme.dll msimg32.dll tvkplanted.dll");
  std::string out = Drive({"wait:Tarvik Self Extractor", "shot:main-with-planted-dll", "click:1",
                           "wait:Information", "click:1", "exit"});
  setenv("WINEDLLOVERRIDES", "mscoree=;mshtml=", 1);
  EXPECT_EQ(86, unguarded);
  EXPECT_TRUE(seen);
  EXPECT_EQ(86, unguardedOwn);
  EXPECT_EQ(0, guarded);
  EXPECT_HAS(out, "exit=0");
  for (const char* name : {"uxtheme.dll", "msimg32.dll", "tvkplanted.dll"})
    EXPECT_FALSE(fs::exists(dir_ / (std::string(name) + ".loaded"))) << name;
}

TEST_F(WinSfx, DeviceNamesAndTrailingDotsAreRenamed) {
  WriteFile(dir_ / "src/aux.txt", "not a device");
  WriteFile(dir_ / "src/Con", "console");
  WriteFile(dir_ / "src/nul.tar.gz", "nothing");
  WriteFile(dir_ / "src/com1/lpt9.log", "ports");
  WriteFile(dir_ / "src/trail.", "dot");
  WriteFile(dir_ / "src/console.txt", "an ordinary name");
  WriteFile(dir_ / "src/com10.txt", "not a port either");
  Build("target = " + WinPath(dir_ / "out") + "\nquiet = 1\n");
  std::string out = Drive({"exit"});
  EXPECT_HAS(out, "exit=0");
  EXPECT_EQ("not a device", ReadFile(dir_ / "out/_aux.txt"));
  EXPECT_EQ("console", ReadFile(dir_ / "out/_Con"));
  EXPECT_EQ("nothing", ReadFile(dir_ / "out/_nul.tar.gz"));
  EXPECT_EQ("ports", ReadFile(dir_ / "out/_com1/_lpt9.log"));
  EXPECT_EQ("dot", ReadFile(dir_ / "out/trail._"));
  EXPECT_EQ("an ordinary name", ReadFile(dir_ / "out/console.txt"));
  EXPECT_EQ("not a port either", ReadFile(dir_ / "out/com10.txt"));
}

TEST_F(WinSfx, OutputPathOverTheLimitIsRefused) {
  WriteFile(dir_ / "src/a-first.txt", "first");
  std::string deep = std::string(120, 'd') + "/" + std::string(110, 'n') + ".txt";
  WriteFile(dir_ / "src" / deep, "too deep");
  Build("target = " + WinPath(dir_ / "out") + "\n");
  size_t full = WinPath(dir_ / "out").size() + 1 + deep.size();
  ASSERT_GT(full, 271u);
  ASSERT_LT(full, 400u);
  std::string out = Drive({"wait:Tarvik Self Extractor", "click:1", "wait:Error", "text:65535",
                           "click:1", "exit"});
  EXPECT_HAS(out, "Access to a file was denied by the system.");
  EXPECT_HAS(out, "exit=5");
  EXPECT_EQ("first", ReadFile(dir_ / "out/a-first.txt"));
  // Nothing under a shortened name either.
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(dir_ / "out", ec)) {
    if (e.is_regular_file()) {
      EXPECT_EQ("a-first.txt", e.path().filename().string());
    }
  }
}

// A program with an icon of five images (one of them a 256-pixel PNG), a
// version record and requireAdministrator: the system's resource loader
// draws the new icon, its version functions and wrestool read the record
// back, and the program still finds its archive and extracts (Wine starts
// it although it asks for administrator rights).
TEST_F(WinSfx, OwnIconVersionRecordAndElevation) {
  SmallTree(dir_ / "src");
  const std::string ico = std::string(TVK_SOURCE_DIR) + "/tests/data/icon/five.ico";
  Build("target = " + WinPath(dir_ / "out") + "\n", "", "en", ".",
        "--icon " + Quote(ico) + " --version 'CompanyName=Example Ltd' --version FileVersion=3.4.5.6" +
            " --version 'ProductName=Gr\xC3\xB6\xC3\x9F" "e' --elevation requireAdministrator");
  std::string out = Drive({"wait:Tarvik Self Extractor - x.exe", "icon:own-icon-32px", "version:CompanyName",
                           "version:FileVersion", "version:FileDescription", "shot:own-icon", "click:1",
                           "wait:Information", "click:1", "exit"});
  // The white bar in the middle of the green disc drawn into five.ico.
  EXPECT_HAS(out, "icon=ffffff,22aa77");
  EXPECT_HAS(out, "CompanyName=Example Ltd");
  EXPECT_HAS(out, "FileVersion=3.4.5.6");
  EXPECT_HAS(out, "FileDescription=Tarvik Self Extractor");  // kept
  EXPECT_HAS(out, "exit=0");
  EXPECT_EQ("hello\r\n", ReadFile(dir_ / "out/readme.txt"));
  EXPECT_TRUE(RandomBytes(3000, 1) == ReadFile(dir_ / "out/docs/data.bin"));
  if (!Have("wrestool")) return;
  const std::string exe = Quote((dir_ / "x.exe").string());
  std::string list = Capture("wrestool -l " + exe);
  int images = 0;
  for (size_t p = 0; (p = list.find("--type=3 ", p)) != std::string::npos; ++p) ++images;
  EXPECT_EQ(5 + 6, images) << list;  // the five, and the dialog icons' two each
  // wrestool pads the icon it puts together with zeros.
  EXPECT_EQ("", Capture("wrestool -x --type=14 --name=101 " + exe + " | head -c " +
                        std::to_string(fs::file_size(ico)) + " | cmp - " + Quote(ico)));
  std::string manifest = Capture("wrestool -x --raw --type=24 " + exe);
  EXPECT_HAS(manifest, "level=\"requireAdministrator\"");
  const std::string version = Capture("wrestool -x --raw --type=16 " + exe);
  const char16_t name[] = u"Gr\u00F6\u00DFe";
  EXPECT_HAS(version, std::string(reinterpret_cast<const char*>(name), sizeof name));
}

// Code signing comes last, after the resources were changed: the
// certificate table goes behind the archive, which the program and tvk take
// as bytes after the archive's end. An archive sealed by tvk sign cannot
// keep its seal through code signing: the seal covers the program's header,
// whose checksum and certificate-table fields the code signer rewrites.
TEST_F(WinSfx, CodeSignedAfterItsResourcesChanged) {
  if (!Have("osslsigncode") || !Have("openssl")) GTEST_SKIP() << "needs osslsigncode and openssl";
  SmallTree(dir_ / "src");
  const std::string ico = std::string(TVK_SOURCE_DIR) + "/tests/data/icon/five.ico";
  Build("target = " + WinPath(dir_ / "out") + "\nquiet = 1\n", "", "en", ".",
        "--icon " + Quote(ico) + " --version 'CompanyName=Example Ltd' --elevation requireAdministrator");
  int rc = 0;
  std::string out = Capture("cd " + Quote(dir_.string()) +
                                " && openssl req -x509 -newkey rsa:2048 -nodes -keyout code.key -out code.crt"
                                " -days 2 -subj '/CN=Example Code Signing' -addext extendedKeyUsage=codeSigning",
                            &rc);
  ASSERT_EQ(0, rc) << out;
  auto codeSign = [&](const std::string& in, const std::string& signedName) {
    return Capture("cd " + Quote(dir_.string()) + " && osslsigncode sign -certs code.crt -key code.key" +
                       " -n 'Example Setup' -in " + in + " -out " + signedName + " && chmod +x " + signedName,
                   &rc);
  };
  out = codeSign("x.exe", "signed.exe");
  ASSERT_EQ(0, rc) << out;
  out = Capture("cd " + Quote(dir_.string()) + " && osslsigncode verify -CAfile code.crt -in signed.exe", &rc);
  EXPECT_EQ(0, rc) << out;
  EXPECT_HAS(out, "Signature verification: ok");
  EXPECT_GT(fs::file_size(dir_ / "signed.exe"), fs::file_size(dir_ / "x.exe"));

  Tvk("t -q signed.exe", dir_);
  out = Drive({"nowindow:20000", "exit"}, "signed.exe");
  EXPECT_HAS(out, "exit=0");
  EXPECT_EQ("hello\r\n", ReadFile(dir_ / "out/readme.txt"));
  EXPECT_TRUE(RandomBytes(3000, 1) == ReadFile(dir_ / "out/docs/data.bin"));

  // Sealed first, then code-signed: the seal reports the change.
  fs::path keys = dir_ / "keys";
  fs::create_directories(keys);
  Tvk("keygen -f signer.pem", keys);
  Tvk("cert -f --key " + Quote(std::string(TVK_MASTER_KEY_FILE)) + " --name 'Test Signer' signer.pem signer.cert",
      keys);
  const std::string signer = "--key keys/signer.pem --cert keys/signer.cert ";
  Tvk("sign " + signer + "x.exe", dir_);
  Tvk("t -q x.exe", dir_);
  out = codeSign("x.exe", "both.exe");
  ASSERT_EQ(0, rc) << out;
  out = Capture("cd " + Quote(dir_.string()) + " && " + Quote(TVK_TOOL) + " t both.exe </dev/null", &rc);
  EXPECT_NE(0, rc) << out;
  EXPECT_HAS(out, "does not match its signature");
  // And a code-signed program is not sealed afterwards: the seal would go
  // in front of the certificate table and break the code signature.
  const std::string before = ReadFile(dir_ / "signed.exe");
  out = Capture("cd " + Quote(dir_.string()) + " && " + Quote(TVK_TOOL) + " sign " + signer + "signed.exe", &rc);
  EXPECT_NE(0, rc) << out;
  EXPECT_HAS(out, "signed.exe is code-signed");
  EXPECT_TRUE(before == ReadFile(dir_ / "signed.exe"));
}

}  // namespace

