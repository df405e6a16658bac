// What the end-to-end tests of the Linux self-extractor share: a folder per
// test, tvk runs, self-extractors built with tvk sfx, runs of the program
// with answers on standard input, and a pseudo-terminal for interactive runs.
#ifndef TVK_TESTS_E2E_LINUX_HARNESS_H
#define TVK_TESTS_E2E_LINUX_HARNESS_H

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tvk::e2e {

namespace fs = std::filesystem;

struct Result {
  int code = -1;  // exit code, or -1 after a signal or a timeout
  std::string output;
};

std::string ReadFile(const fs::path& p);
void WriteFile(const fs::path& p, const std::string& data);
std::string Pseudo(size_t n, uint32_t seed);
// Single-quotes a text for /bin/sh.
std::string Quote(const std::string& s);
bool Contains(const std::string& haystack, const std::string& needle);
size_t Count(const std::string& haystack, const std::string& needle);

// Flips one byte of a file at the first place where marker occurs (after
// `from`); fails the test when the marker is not there.
void FlipAt(const fs::path& file, const std::string& marker, size_t from = 0, size_t offset = 0);

// A small tree with text, random and repetitive data, an empty file, an
// executable script, a read-only file, nested and empty folders.
void MakeSmallTree(const fs::path& root);
// The user's umask, which the self-extractor takes off the stored modes as
// for any new file.
mode_t CurrentUmask();
// Every file and folder of original is in copy with the same bytes and mode
// bits (less the umask), and copy holds nothing more.
void ExpectSameTree(const fs::path& original, const fs::path& copy);

class LinuxSfx : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  static bool HaveProgram();
  // Runs a shell command line in the test's folder with input on standard
  // input; standard output and error are kept together. Killed after
  // timeoutSeconds.
  Result Shell(const std::string& command, const std::string& input = "", int timeoutSeconds = 60);
  // tvk with the given arguments (shell words).
  Result Tvk(const std::string& args, const std::string& input = "");
  // Packs the named paths (inside the test folder's src/) into archive
  // with the given tvk a options.
  void Pack(const std::string& archive, const std::string& options, const std::string& paths = "tree");
  // Builds self-extractor output from archive with a settings file holding
  // settings; extra goes before the other tvk sfx arguments.
  void BuildSfx(const std::string& output, const std::string& archive, const std::string& settings,
                const std::string& extra = "");
  // Runs a program of the test folder (relative path) with answers.
  Result RunSfx(const std::string& program, const std::string& input = "", int timeoutSeconds = 60);
  // Settings for a quiet run into target (relative to the test folder).
  std::string QuietInto(const std::string& target) const;

  fs::path dir_;
};

// A program run on a pseudo-terminal: what it writes is collected, answers
// are typed as a user would.
class PtyRun {
 public:
  PtyRun(const fs::path& folder, const std::string& program, int rows = 40, int columns = 120);
  ~PtyRun();
  PtyRun(const PtyRun&) = delete;
  PtyRun& operator=(const PtyRun&) = delete;

  bool Started() const { return pid_ > 0; }
  // Reads until the output after position `from` holds text; false after
  // timeoutMs without it.
  bool WaitFor(const std::string& text, int timeoutMs = 20000);
  // Waits until the terminal no longer echoes (a hidden input is awaited).
  bool WaitForNoEcho(int timeoutMs = 20000);
  // Whether the terminal echoes typed text now.
  bool EchoOn() const;
  void Type(const std::string& text);
  // Waits for the program to end and returns its exit code (-1 on a signal
  // or a timeout, after which it is killed).
  int Finish(int timeoutMs = 60000);
  const std::string& Output() const { return output_; }
  pid_t Pid() const { return pid_; }

 private:
  bool Pump(int timeoutMs);  // true when something was read

  int master_ = -1;
  pid_t pid_ = -1;
  int status_ = -1;
  bool finished_ = false;
  size_t mark_ = 0;  // output before this was matched by an earlier WaitFor
  std::string output_;
};

}  // namespace tvk::e2e

#endif
