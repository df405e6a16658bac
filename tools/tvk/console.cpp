#include "tools/tvk/console.h"

#include <chrono>
#include <csignal>
#include <cstdio>

#include "tools/tvk/os.h"

namespace tvk::cli {
namespace {

volatile std::sig_atomic_t gInterrupted = 0;

void OnInterrupt() { gInterrupted = 1; }

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

Console& Console::Get() {
  static Console console;
  return console;
}

Console::Console() { outputIsTerminal_ = os::OutputIsTerminal(); }

bool Console::InputIsTerminal() const { return os::InputIsTerminal(); }

void Console::ClearProgress() {
  if (!progressShown_) return;
  std::fputs("\r\033[K", stdout);
  std::fflush(stdout);
  progressShown_ = false;
}

std::optional<std::string> Console::Ask(const std::string& prompt) {
  ClearProgress();
  std::fputs(prompt.c_str(), stdout);
  std::fflush(stdout);
  const bool terminal = InputIsTerminal();
  auto line = terminal ? os::ReadTerminalLine(true) : os::ReadLine(stdin);
  // Answers from a pipe are not echoed: end the prompt's line ourselves.
  if (!terminal) {
    std::fputs("\n", stdout);
    std::fflush(stdout);
  }
  return line;
}

std::optional<std::string> Console::AskSecret(const std::string& prompt) {
  if (!InputIsTerminal()) return Ask(prompt);
  ClearProgress();
  std::fputs(prompt.c_str(), stdout);
  std::fflush(stdout);
  auto line = os::ReadTerminalLine(false);
  std::fputs("\n", stdout);
  std::fflush(stdout);
  return line;
}

void Console::Info(const std::string& line) {
  if (quiet) return;
  ClearProgress();
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void Console::Error(const std::string& line) {
  ClearProgress();
  std::fflush(stdout);
  std::fprintf(stderr, "tvk: %s\n", line.c_str());
}

void Console::Warn(const std::string& line) {
  if (quiet) return;
  Alert(line);
}

void Console::Alert(const std::string& line) {
  ClearProgress();
  std::fflush(stdout);
  std::fprintf(stderr, "tvk: warning: %s\n", line.c_str());
}

void Console::StartWork(uint64_t total) {
  total_ = total;
  started_ = Now();
  lastDraw_ = 0;
}

void Console::Progress(const std::string& current, uint64_t done) {
  if (quiet || !outputIsTerminal_) return;
  double now = Now();
  if (progressShown_ && now - lastDraw_ < 0.1) return;
  lastDraw_ = now;
  double elapsed = now - started_;
  unsigned percent = total_ ? static_cast<unsigned>(done * 100 / total_) : 0;
  if (percent > 100) percent = 100;
  double rate = elapsed > 0 ? double(done) / elapsed : 0;
  std::string left = "--:--";
  if (rate > 0 && total_ >= done) {
    uint64_t seconds = static_cast<uint64_t>(double(total_ - done) / rate);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02u:%02u", unsigned(seconds / 60 % 100),
                  unsigned(seconds % 60));
    left = buffer;
  }
  std::string name = current;
  if (name.size() > 40) name = "..." + name.substr(name.size() - 37);
  std::printf("\r\033[K%3u%%  %-40s %7.1f MB/s  %s left", percent, name.c_str(), rate / 1e6,
              left.c_str());
  std::fflush(stdout);
  progressShown_ = true;
}

void Console::EndWork() { ClearProgress(); }

void Console::CatchInterrupt() { os::CatchInterrupt(OnInterrupt); }

bool Console::Interrupted() const { return gInterrupted != 0; }

std::string HumanSize(uint64_t bytes) {
  char buffer[32];
  if (bytes < 1024) {
    std::snprintf(buffer, sizeof buffer, "%llu B", static_cast<unsigned long long>(bytes));
  } else {
    const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
    double v = double(bytes) / 1024;
    int u = 0;
    while (v >= 1024 && u < 3) {
      v /= 1024;
      ++u;
    }
    std::snprintf(buffer, sizeof buffer, "%.1f %s", v, units[u]);
  }
  return buffer;
}

}  // namespace tvk::cli
