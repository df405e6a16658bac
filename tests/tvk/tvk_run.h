// The tvk program run in a folder of the test's own, and the tree of
// files the end-to-end tests pack.
#ifndef TVK_TESTS_TVK_RUN_H
#define TVK_TESTS_TVK_RUN_H

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Result {
  int code = -1;
  std::string output;
};

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& p, const std::string& data) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << data;
}

class TvkRun : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(TVK_BINARY_DIR) / "tvk-e2e" / (std::string(info->test_suite_name()) + "." + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir_);
  }

  // Runs tvk with the given arguments (a shell word list) in the test's
  // folder, with input as standard input; stdout and stderr are kept;
  // before: shell commands ahead of it (limits, traps).
  Result Tvk(const std::string& args, const std::string& input = "", const std::string& before = "") {
    WriteFile(dir_ / "stdin.txt", input);
    std::string command = "cd '" + dir_.string() + "' && " + before + " '" + TVK_TOOL + "' " + args +
                          " <stdin.txt >output.txt 2>&1";
    int status = std::system(command.c_str());
    Result r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.output = ReadFile(dir_ / "output.txt");
    return r;
  }

  fs::path dir_;
};

std::string Pseudo(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    s[i] = static_cast<char>(seed >> 16);
  }
  return s;
}

void SetTimes(const fs::path& p, time_t seconds, long nanoseconds) {
  timespec ts[2] = {{seconds - 1000, 0}, {seconds, nanoseconds}};
  ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), ts, AT_SYMLINK_NOFOLLOW), 0) << p;
}

// A tree of about 1.2 MB with every kind of thing an archive must carry.
void MakeTree(const fs::path& root) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i) + " of a text file\n";
  WriteFile(root / "docs/readme.txt", text);
  WriteFile(root / "docs/empty.txt", "");
  WriteFile(root / "bin/run.sh", "#!/bin/sh\necho hi\n");
  WriteFile(root / "data/random.bin", Pseudo(600000, 7));
  WriteFile(root / "data/zeros.bin", std::string(300000, '\0'));
  WriteFile(root / "data/deep/a/b/c/leaf.txt", "leaf");
  WriteFile(root / "ro.txt", "read only");
  WriteFile(root / "Gr\xC3\xBC\xC3\x9F" "e.txt", "latin");     // has a Windows-1252 form
  WriteFile(root / "\xD0\x96.txt", "cyrillic");                // has none
  fs::create_directories(root / "empty-folder");
  fs::create_symlink("docs/readme.txt", root / "link-to-readme");
  fs::permissions(root / "bin/run.sh", fs::perms(0755));
  fs::permissions(root / "ro.txt", fs::perms(0444));
  fs::permissions(root / "data/random.bin", fs::perms(0640));
  SetTimes(root / "docs/readme.txt", 981173106, 500000000);  // 2001-02-03
  SetTimes(root / "data/zeros.bin", 1700000000, 123456700);
}

mode_t CurrentUmask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// Compares the extracted copy with the original; links are links with the
// same target. Exact times come from the file-time sub-blocks; the DOS
// stamp alone keeps two seconds.
void ExpectSameTree(const fs::path& original, const fs::path& copy, bool exactTimes = true, size_t files = 9) {
  std::map<std::string, fs::path> seen;
  for (auto it = fs::recursive_directory_iterator(original); it != fs::recursive_directory_iterator(); ++it) {
    fs::path rel = it->path().lexically_relative(original);
    fs::path other = copy / rel;
    struct stat a {}, b {};
    ASSERT_EQ(lstat(it->path().c_str(), &a), 0);
    ASSERT_EQ(lstat(other.c_str(), &b), 0) << "missing: " << rel;
    if (S_ISLNK(a.st_mode)) {
      EXPECT_TRUE(S_ISLNK(b.st_mode)) << rel;
      if (S_ISLNK(b.st_mode)) {
        EXPECT_EQ(fs::read_symlink(it->path()), fs::read_symlink(other)) << rel;
      }
      seen[rel.string()] = other;
      continue;
    }
    if (S_ISDIR(a.st_mode)) {
      EXPECT_TRUE(S_ISDIR(b.st_mode)) << rel;
      continue;
    }
    EXPECT_TRUE(S_ISREG(b.st_mode)) << rel;
    EXPECT_EQ(ReadFile(it->path()), ReadFile(other)) << rel;
    // Extracted files are new files: the user's umask comes off their mode.
    EXPECT_EQ(a.st_mode & 07777 & ~CurrentUmask(), b.st_mode & 07777) << rel;
    if (exactTimes) {
      EXPECT_EQ(a.st_mtim.tv_sec, b.st_mtim.tv_sec) << rel;
      EXPECT_EQ(a.st_mtim.tv_nsec / 100, b.st_mtim.tv_nsec / 100) << rel;
    } else {
      EXPECT_LE(a.st_mtim.tv_sec - b.st_mtim.tv_sec, 1) << rel;
      EXPECT_GE(a.st_mtim.tv_sec - b.st_mtim.tv_sec, 0) << rel;
    }
    seen[rel.string()] = other;
  }
  // Nothing more than the original.
  for (auto it = fs::recursive_directory_iterator(copy); it != fs::recursive_directory_iterator(); ++it) {
    fs::path rel = it->path().lexically_relative(copy);
    EXPECT_TRUE(fs::exists(fs::symlink_status(original / rel))) << "extra: " << rel;
  }
  EXPECT_GE(seen.size(), files);
}

}  // namespace

#endif
