// The flow's pieces that need no archive: exit codes and error texts, the
// overwrite dialog's size lines, the next-volume folder rules and the
// splitting of run-after parameters.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "host/exit_codes.h"
#include "host/prompts.h"
#include "host/run_after.h"
#include "host/startup.h"
#include "platform/result_codes.h"
#include "writer/archive_text.h"

namespace tvk {
namespace {

// A text as the program shows it: the payload's texts are UTF-8 on Linux and
// Windows-1252 on Windows.
std::string Sys(const std::string& utf8) {
#if defined(_WIN32)
  std::string ansi;
  EXPECT_TRUE(Utf8ToWindows1252(utf8, &ansi));
  return ansi;
#else
  return utf8;
#endif
}

class GermanMessages : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(LoadMessageTable(TVK_SOURCE_DIR "/lang/de.ini", &table_), 1);
  }
  void TearDown() override { FreeMessageTable(&table_); }
  MessageTable table_{};
};

TEST(FlowExitCodes, EveryResultCodeMapsToItsExitCode) {
  struct Case {
    uint32_t code;
    int exit;
  } cases[] = {
      {0, 0},         {28001, 9}, {28002, 5}, {28005, 5}, {28009, 5}, {28003, 7},
      {28004, 6},     {28048, 4}, {28063, 4}, {28080, 4}, {28082, 3}, {28089, 3},
      // Everything else is 8, the neighbours of mapped codes included.
      {28062, 8},     {28007, 8}, {28008, 8}, {28118, 8}, {28117, 8}, {28127, 8},
      {28149, 8},     {28000, 8}, {28006, 8}, {28081, 8}, {28090, 8}, {1, 8},
      {0xFFFFFFFF, 8},
  };
  for (const Case& c : cases) EXPECT_EQ(ExitCodeFor(c.code), c.exit) << c.code;
}

TEST_F(GermanMessages, ErrorTextsNameTheirMessage) {
  char out[2048 * 3];
  ErrorText(table_, kErrBadPassword, "setup.exe", "", out, sizeof out);
  EXPECT_EQ(std::string(out), Sys("Das Archiv ist mit einem Kennwort geschützt."));
  ErrorText(table_, kErrNotArchive82, "setup.exe", "", out, sizeof out);
  EXPECT_EQ(std::string(out), Sys("Das Archiv ist anscheinend kein gültiges Archiv."));
  ErrorText(table_, kErrCancelled, "setup.exe", "", out, sizeof out);
  EXPECT_STREQ(out, "Abbruch durch Anwender.");
  // 28007 names the run-after file without its folders.
  ErrorText(table_, kErrRunAfter, "setup.exe", "bin\\start.sh", out, sizeof out);
  EXPECT_EQ(std::string(out), Sys("Die Datei 'start.sh' konnte nicht ausgeführt werden."));
  // Codes without a message of their own: the code and the program's name.
  ErrorText(table_, kErrSignatureMismatch, "setup.exe", "", out, sizeof out);
  EXPECT_STREQ(out, "Fehler (28118) in setup.exe.");
  ErrorText(table_, 28005, "a.exe", "", out, sizeof out);
  EXPECT_STREQ(out, "Fehler (28005) in a.exe.");
}

// A FILETIME of a local time, and the texts the console form shows for it.
FileTime LocalFileTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  int64_t unix = static_cast<int64_t>(std::mktime(&t));
  uint64_t ft = static_cast<uint64_t>(unix + 11644473600LL) * 10000000ULL;
  return FileTime{static_cast<uint32_t>(ft), static_cast<uint32_t>(ft >> 32)};
}

FindData Record(uint64_t size) {
  FindData d{};
  d.sizeLow = static_cast<uint32_t>(size);
  d.sizeHigh = static_cast<uint32_t>(size >> 32);
  d.lastWriteTime = LocalFileTime(2026, 12, 8, 14, 5, 9);
  return d;
}

TEST_F(GermanMessages, SizeLinesSwitchToKilobytesAt1024) {
  char out[1024];
  const std::string when =
#if defined(_WIN32)
      "";  // the user's locale decides; only the sizes are compared
#else
      "\r\ngeändert am 2026-12-08, 14:05:09";
#endif
  struct Case {
    uint64_t size;
    std::string head;
  } cases[] = {
      {0, "0 Bytes"},
      {1023, "1023 Bytes"},
      {1024, "1 KB"},
      {2047, "1 KB"},
      {5000000, "4882 KB"},
      // Sizes beyond 4 GiB come from both halves.
      {(5ULL << 32) + 1024, std::to_string(((5ULL << 32) + 1024) / 1024) + " KB"},
  };
  for (const Case& c : cases) {
    SizeDateLine(table_, Record(c.size), out, sizeof out);
    std::string line = out;
    EXPECT_EQ(line.substr(0, line.find('\r')), c.head) << c.size;
    if (!when.empty()) {
      EXPECT_EQ(line.substr(line.find('\r')), when) << c.size;
    }
  }
}

TEST(FlowPrompts, TypedPasswordsTakeTheirWindows1252Form) {
  auto ansi = [](std::string typed) {
    std::vector<char> b(typed.begin(), typed.end());
    b.push_back(0);
    uint32_t n = TypedPasswordToAnsi(b.data());
    EXPECT_EQ(n, std::strlen(b.data()));
    return std::string(b.data());
  };
  EXPECT_EQ(ansi("geheim"), "geheim");
  EXPECT_EQ(ansi("M\xC3\xBCller \xE2\x82\xAC\xC3\xBF"), "M\xFCller \x80\xFF");
  EXPECT_EQ(ansi("\xE2\x80\x9Eq\xE2\x80\x9C \xC5\xB8"), "\x84q\x93 \x9F");
  // A character without a Windows-1252 form keeps the whole password as typed.
  EXPECT_EQ(ansi("M\xC3\xBCller \xE6\x97\xA5"), "M\xC3\xBCller \xE6\x97\xA5");
  EXPECT_EQ(ansi("\xC2\x81"), "\xC2\x81");  // U+0081 has no byte of its own
  // So does text that is not UTF-8 at all.
  EXPECT_EQ(ansi("M\xFCller"), "M\xFCller");
  EXPECT_EQ(ansi("ab\xC3"), "ab\xC3");
}

TEST(FlowPrompts, NextVolumeFolderRules) {
  auto apply = [](std::string typed, const char* expected) {
    char buffer[kPathSize];
    StrCopy(buffer, sizeof buffer, typed.c_str());
    NextVolumeFolder(buffer, sizeof buffer, expected);
    return std::string(buffer);
  };
  EXPECT_EQ(apply("A", "C:\\Setup\\"), "A:\\");
  EXPECT_EQ(apply("a:", "C:\\Setup\\"), "a:\\");
  EXPECT_EQ(apply("", "C:\\Setup\\"), "C:\\Setup\\");
  EXPECT_EQ(apply("c:\\setup\\", "C:\\Setup\\"), "c:\\setup\\");
  EXPECT_EQ(apply("D:\\Disk2", "C:\\Setup\\"), "D:\\Disk2");
  // Not drive letters: a Linux root and a one-character relative name.
  EXPECT_EQ(apply("\\", "\\home\\u\\"), "\\");
  EXPECT_EQ(apply("1:", "\\home\\u\\"), "1:");
}

std::vector<std::string> Split(const char* text, int* count, uint32_t bufferSize = 256,
                               uint32_t maxWords = 16) {
  std::vector<char> buffer(bufferSize);
  char* words[16];
  *count = SplitShellWords(text, buffer.data(), bufferSize, words, maxWords);
  std::vector<std::string> out;
  for (int i = 0; i < *count; ++i) out.push_back(words[i]);
  return out;
}

TEST(FlowRunAfter, ParametersSplitLikeShellWords) {
  int n = 0;
  EXPECT_EQ(Split("", &n), std::vector<std::string>{});
  EXPECT_EQ(n, 0);
  EXPECT_EQ(Split("  -q\t--all  ", &n), (std::vector<std::string>{"-q", "--all"}));
  EXPECT_EQ(Split("\"a b\" 'c \"d\"' e\\ f", &n),
            (std::vector<std::string>{"a b", "c \"d\"", "e f"}));
  // Inside double quotes only \" \\ \$ \` lose their backslash.
  EXPECT_EQ(Split("\"x\\\"y\\n\" '\\n'", &n), (std::vector<std::string>{"x\"y\\n", "\\n"}));
  // Quotes join with their neighbours; an empty pair is an empty word.
  EXPECT_EQ(Split("pre\"mid\"post '' $HOME", &n),
            (std::vector<std::string>{"premidpost", "", "$HOME"}));
}

TEST(FlowRunAfter, UnsplittableParametersAreRefused) {
  int n = 0;
  Split("\"open", &n);
  EXPECT_EQ(n, -1);
  Split("it's", &n);
  EXPECT_EQ(n, -1);
  Split("a b c", &n, 256, 2);  // more words than room
  EXPECT_EQ(n, -1);
  Split("abcdefgh", &n, 8);  // the word and its terminator do not fit
  EXPECT_EQ(n, -1);
  Split("abcdefg", &n, 8);
  EXPECT_EQ(n, 1);
}

#if !defined(_WIN32)
// The started program is not waited for: poll for what it writes.
std::string WaitForFile(const std::filesystem::path& path) {
  // Up to 60 s: the limit only ends the wait for a program that never
  // writes; a busy machine can take seconds to start a shell.
  for (int i = 0; i < 6000; ++i) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    if (text.find("END") != std::string::npos) return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return "";
}

class RunAfterFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tvk_flow_run_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_ / "sub");
    saved_ = std::filesystem::current_path();
  }
  void TearDown() override {
    std::filesystem::current_path(saved_);
    std::filesystem::remove_all(dir_);
  }
  void Script(const std::filesystem::path& path, const std::string& body, bool executable) {
    std::ofstream(path) << "#!/bin/sh\n" << body;
    ::chmod(path.c_str(), executable ? 0755 : 0644);
  }
  std::filesystem::path dir_;
  std::filesystem::path saved_;
};

TEST_F(RunAfterFiles, ProgramsStartWithTheirWordsInTheCurrentFolder) {
  std::filesystem::path log = dir_ / "log";
  Script(dir_ / "sub" / "go.sh",
         "{ pwd; for a in \"$@\"; do echo \"<$a>\"; done; echo END; } > '" + log.string() + "'\n",
         true);
  std::filesystem::current_path(dir_ / "sub");
  ASSERT_TRUE(OpenWithShell("go.sh", "-q 'two words' \"$HOME\"", false));
  EXPECT_EQ(WaitForFile(log), (dir_ / "sub").string() + "\n<-q>\n<two words>\n<$HOME>\nEND\n");
}

TEST_F(RunAfterFiles, OtherFilesGoToTheDesktopOpener) {
  std::filesystem::path bin = dir_ / "bin";
  std::filesystem::create_directories(bin);
  std::filesystem::path log = dir_ / "log";
  Script(bin / "xdg-open", "{ for a in \"$@\"; do echo \"<$a>\"; done; echo END; } > '" +
                               log.string() + "'\n",
         true);
  std::ofstream(dir_ / "sub" / "Liesmich.txt") << "text";
  const char* oldPath = std::getenv("PATH");
  std::string saved = oldPath ? oldPath : "";
  ::setenv("PATH", bin.c_str(), 1);
  std::filesystem::current_path(dir_);
  bool started = OpenWithShell("sub\\Liesmich.txt", "ignored", false);
  ::setenv("PATH", saved.c_str(), 1);
  ASSERT_TRUE(started);
  EXPECT_EQ(WaitForFile(log), "<sub/Liesmich.txt>\nEND\n");
}

TEST_F(RunAfterFiles, WhatCannotStartIsReported) {
  std::filesystem::current_path(dir_);
  EXPECT_FALSE(OpenWithShell("missing.sh", "", false));
  EXPECT_FALSE(OpenWithShell("sub", "", false));  // a folder
  Script(dir_ / "go.sh", "exit 0\n", true);
  EXPECT_FALSE(OpenWithShell("go.sh", "\"unclosed", false));
  // Not a program the system can run.
  std::ofstream(dir_ / "bad") << "\x7f" "ELF garbage";
  ::chmod((dir_ / "bad").c_str(), 0755);
  EXPECT_FALSE(OpenWithShell("bad", "", false));
}
#endif

}  // namespace
}  // namespace tvk
