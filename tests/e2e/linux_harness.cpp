#include "linux_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

namespace tvk::e2e {

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& p, const std::string& data) {
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << data;
}

std::string Pseudo(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    s[i] = static_cast<char>(seed >> 16);
  }
  return s;
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

size_t Count(const std::string& haystack, const std::string& needle) {
  size_t n = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
  return n;
}

void FlipAt(const fs::path& file, const std::string& marker, size_t from, size_t offset) {
  std::string bytes = ReadFile(file);
  size_t at = bytes.find(marker, from);
  ASSERT_NE(at, std::string::npos) << marker << " not in " << file;
  bytes[at + offset] = static_cast<char>(bytes[at + offset] ^ 0x20);
  fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
  WriteFile(file, bytes);
}

void MakeSmallTree(const fs::path& root) {
  std::string text;
  for (int i = 0; i < 800; ++i) text += "line " + std::to_string(i) + " of the readme\n";
  WriteFile(root / "docs/readme.txt", text);
  WriteFile(root / "docs/empty.txt", "");
  WriteFile(root / "bin/run.sh", "#!/bin/sh\necho hi\n");
  WriteFile(root / "data/random.bin", Pseudo(40000, 11));
  WriteFile(root / "data/zeros.bin", std::string(70000, '\0'));
  WriteFile(root / "data/deep/a/b/leaf.txt", "leaf");
  WriteFile(root / "ro.txt", "read only");
  fs::create_directories(root / "empty-folder");
  fs::permissions(root / "bin/run.sh", fs::perms(0755));
  fs::permissions(root / "ro.txt", fs::perms(0444));
  fs::permissions(root / "data/random.bin", fs::perms(0640));
}

mode_t CurrentUmask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

void ExpectSameTree(const fs::path& original, const fs::path& copy) {
  ASSERT_TRUE(fs::is_directory(copy)) << copy;
  size_t files = 0;
  for (auto it = fs::recursive_directory_iterator(original); it != fs::recursive_directory_iterator(); ++it) {
    fs::path rel = fs::relative(it->path(), original);
    struct stat a {}, b {};
    ASSERT_EQ(lstat(it->path().c_str(), &a), 0);
    ASSERT_EQ(lstat((copy / rel).c_str(), &b), 0) << "missing: " << rel;
    if (S_ISDIR(a.st_mode)) {
      EXPECT_TRUE(S_ISDIR(b.st_mode)) << rel;
      continue;
    }
    ++files;
    EXPECT_TRUE(S_ISREG(b.st_mode)) << rel;
    EXPECT_EQ(ReadFile(it->path()) == ReadFile(copy / rel), true) << "bytes differ: " << rel;
    EXPECT_EQ(a.st_mode & 07777 & ~CurrentUmask(), b.st_mode & 07777) << rel;
    // The DOS stamp alone keeps two seconds; the exact times are a bonus.
    EXPECT_LE(std::llabs(static_cast<long long>(a.st_mtim.tv_sec - b.st_mtim.tv_sec)), 2) << rel;
  }
  for (auto it = fs::recursive_directory_iterator(copy); it != fs::recursive_directory_iterator(); ++it) {
    EXPECT_TRUE(fs::exists(original / fs::relative(it->path(), copy))) << "extra: " << it->path();
  }
  EXPECT_GT(files, 0u);
}

// ---------------------------------------------------------------------------

void LinuxSfx::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  dir_ = fs::path(TVK_BINARY_DIR) / "e2e-linux" / (std::string(info->test_suite_name()) + "." + info->name());
  // Read-only files of an earlier run must not stop the clean-up.
  std::system(("chmod -R u+rwx " + Quote(dir_.string()) + " 2>/dev/null").c_str());
  fs::remove_all(dir_);
  fs::create_directories(dir_);
  if (!HaveProgram()) GTEST_SKIP() << "no static self-extractor program at '" << TVK_LINUX_SFX << "'";
}

void LinuxSfx::TearDown() {
  if (HasFailure()) {
    std::printf("test files kept in %s\n", dir_.c_str());
    return;
  }
  std::system(("chmod -R u+rwx " + Quote(dir_.string()) + " 2>/dev/null").c_str());
  fs::remove_all(dir_);
}

bool LinuxSfx::HaveProgram() {
  return std::string(TVK_LINUX_SFX).size() > 0 && fs::exists(TVK_LINUX_SFX);
}

Result LinuxSfx::Shell(const std::string& command, const std::string& input, int timeoutSeconds) {
  WriteFile(dir_ / ".stdin", input);
  std::string line = "cd " + Quote(dir_.string()) + " && timeout -k 5 " + std::to_string(timeoutSeconds) +
                     " sh -c " + Quote(command) + " <.stdin >.output 2>&1";
  int status = std::system(line.c_str());
  Result r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.output = ReadFile(dir_ / ".output");
  return r;
}

Result LinuxSfx::Tvk(const std::string& args, const std::string& input) {
  return Shell(Quote(TVK_TOOL) + " " + args, input, 300);
}

void LinuxSfx::Pack(const std::string& archive, const std::string& options, const std::string& paths) {
  Result r = Shell("cd src && " + Quote(TVK_TOOL) + " a -q " + options + " ../" + archive + " " + paths, "", 300);
  ASSERT_EQ(r.code, 0) << "tvk a " << options << ": " << r.output;
}

void LinuxSfx::BuildSfx(const std::string& output, const std::string& archive, const std::string& settings,
                        const std::string& extra) {
  WriteFile(dir_ / (output + ".ini"), settings);
  Result r = Tvk("sfx -f -q " + extra + " --sfx " + Quote(TVK_LINUX_SFX) + " --settings " +
                 Quote(output + ".ini") + " " + Quote(output) + " " + Quote(archive));
  ASSERT_EQ(r.code, 0) << "tvk sfx: " << r.output;
}

Result LinuxSfx::RunSfx(const std::string& program, const std::string& input, int timeoutSeconds) {
  return Shell("./" + program, input, timeoutSeconds);
}

std::string LinuxSfx::QuietInto(const std::string& target) const {
  return "target = " + (dir_ / target).string() + "\nquiet = 1\n";
}

// ---------------------------------------------------------------------------

PtyRun::PtyRun(const fs::path& folder, const std::string& program, int rows, int columns) {
  winsize size{};
  size.ws_row = static_cast<unsigned short>(rows);
  size.ws_col = static_cast<unsigned short>(columns);
  pid_ = forkpty(&master_, nullptr, nullptr, &size);
  if (pid_ == 0) {
    if (chdir(folder.c_str()) != 0) _exit(126);
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid_ < 0) master_ = -1;
}

PtyRun::~PtyRun() {
  if (pid_ > 0 && !finished_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (master_ >= 0) close(master_);
}

bool PtyRun::Pump(int timeoutMs) {
  if (master_ < 0) return false;
  pollfd p{master_, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) <= 0) return false;
  char buffer[4096];
  ssize_t n = read(master_, buffer, sizeof buffer);
  if (n > 0) output_.append(buffer, static_cast<size_t>(n));
  if (n <= 0) {  // the program closed the terminal (EIO)
    close(master_);
    master_ = -1;
  }
  return n > 0;
}

bool PtyRun::WaitFor(const std::string& text, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    size_t at = output_.find(text, mark_);
    if (at != std::string::npos) {
      mark_ = at + text.size();
      return true;
    }
    if (master_ < 0 || std::chrono::steady_clock::now() >= end) return false;
    Pump(50);
  }
}

bool PtyRun::WaitForNoEcho(int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (master_ >= 0) {
    termios t{};
    // The master reports the terminal settings the program made.
    if (tcgetattr(master_, &t) == 0 && !(t.c_lflag & ECHO)) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    Pump(10);
  }
  return false;
}

bool PtyRun::EchoOn() const {
  termios t{};
  return master_ >= 0 && tcgetattr(master_, &t) == 0 && (t.c_lflag & ECHO) != 0;
}

void PtyRun::Type(const std::string& text) {
  if (master_ < 0) return;
  const char* p = text.data();
  size_t n = text.size();
  while (n > 0) {
    ssize_t w = write(master_, p, n);
    if (w <= 0) return;
    p += w;
    n -= static_cast<size_t>(w);
  }
}

int PtyRun::Finish(int timeoutMs) {
  if (pid_ <= 0) return -1;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!finished_) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      finished_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      break;
    }
    if (std::chrono::steady_clock::now() >= end) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      finished_ = true;
      status_ = -1;
      break;
    }
    Pump(20);
  }
  // What is still buffered on the terminal.
  while (Pump(100)) {
  }
  return status_;
}

}  // namespace tvk::e2e
