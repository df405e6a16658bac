// The terminal side of tvk: questions, passwords without echo, the one
// progress line, and Ctrl+C. When standard input is not a terminal, answers
// are read one per line and the end of input refuses the question.
#ifndef TVK_TOOLS_CONSOLE_H
#define TVK_TOOLS_CONSOLE_H

#include <cstdint>
#include <optional>
#include <string>

namespace tvk::cli {

class Console {
 public:
  static Console& Get();

  bool quiet = false;

  // One line of standard input after showing prompt on standard output;
  // nothing at the end of input.
  std::optional<std::string> Ask(const std::string& prompt);
  // The same without echo when standard input is a terminal.
  std::optional<std::string> AskSecret(const std::string& prompt);

  // Informational lines (standard output), warnings (standard error) unless
  // quiet, and errors (standard error, always). All first clear the
  // progress line.
  void Info(const std::string& line);
  void Error(const std::string& line);
  void Warn(const std::string& line);
  // A warning that -q does not silence.
  void Alert(const std::string& line);

  // The progress line: only on a terminal and unless quiet. done/total in
  // bytes; the rate and the time left come from the time since StartWork.
  void StartWork(uint64_t total);
  void Progress(const std::string& current, uint64_t done);
  void EndWork();

  // Ctrl+C asks the running work to stop.
  void CatchInterrupt();
  bool Interrupted() const;

  bool InputIsTerminal() const;

 private:
  Console();
  void ClearProgress();
  bool outputIsTerminal_ = false;
  bool progressShown_ = false;
  uint64_t total_ = 0;
  double started_ = 0;
  double lastDraw_ = 0;
};

// Size with a unit for humans: 512 B, 1.5 KiB, 20.0 MiB.
std::string HumanSize(uint64_t bytes);

}  // namespace tvk::cli

#endif
