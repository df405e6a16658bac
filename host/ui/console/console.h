// The terminal front end of the Linux self-extractor: the pieces that are
// worth testing on their own.
#ifndef TVK_HOST_UI_CONSOLE_CONSOLE_H
#define TVK_HOST_UI_CONSOLE_CONSOLE_H

#include <stdint.h>

#include "host/ui.h"
#include "platform/platform.h"

namespace tvk {
namespace console {

// A button or check-box label as the terminal shows it: the "&" marks
// removed ("&&" stays one "&").
void LabelText(const char* label, char* out, uint32_t size);

// Which of count labels an answer names: its number (1-based), the letter
// behind its "&", or its whole text, without regard to case and to blanks
// around the answer. numbers[i] is the number shown for label i (0: none).
// Answers the index, or -1.
int MatchAnswer(const char* answer, const char* const* labels, const uint32_t* numbers,
                uint32_t count);

// Where answers come from and where text goes; replaced by tests.
struct Terminal {
  int inputFd;
  int outputFd;
  bool inputIsTerminal;
  bool outputIsTerminal;
};

// The line typed (without its line end); false at the end of input or when
// the read was interrupted. Without echo when hidden and input is a terminal.
bool ReadAnswer(const Terminal& term, char* out, uint32_t size, bool hidden);

// Turns a typed folder into the internal form: "~" to the home folder, "/"
// to "\", and a relative folder taken from the current one. An empty text
// stays empty.
void TypedFolder(const char* typed, char* out, uint32_t size);
// The internal form shown with "/" separators.
void ShownPath(const char* path, char* out, uint32_t size);

// The progress line without its redraw codes: "name (45 %)" and a bar when
// they fit into columns - 1; else the name's end behind "..." with the
// percent, or the percent alone, never wider.
void ProgressLine(uint32_t percent, const char* name, uint32_t columns, char* out, uint32_t size);

// Writes text to fd as a terminal should see it: line ends as "\n" alone,
// control characters escaped.
void WriteShown(int fd, const char* text);

// The process's own standard input and output.
Terminal StandardTerminal();

// Every dialog and box as lines of text: the same texts, the same order of
// questions and the same answers as the dialogs.
class ConsoleUi final : public Ui {
 public:
  explicit ConsoleUi(const Terminal& term) : term_(term) {}

  void SetBoxLabels(const BoxLabels& labels) override { labels_ = labels; }
  uint32_t ShowMessage(const char* text, const char* caption, uint32_t style) override;
  uint32_t RunMainDialog(const MainDialogSetup& setup, MainDialogHost* host) override;
  bool HasMainDialog() override { return dialogOpen_; }
  void GetFolder(char* out, uint32_t size) override;
  void SetFolder(const char* folder) override;
  bool IsChecked(uint32_t control) override;
  void EnableControl(uint32_t control, bool enable) override;
  void ShowProgressBar() override {}
  void SetProgress(uint32_t percent, const char* name) override;
  void PostEvent(uint32_t event) override;
  void EndDialog(uint32_t result) override;
  void PumpMessages() override {}
  bool BrowseFolder(const char* title, const char* initial, char* out, uint32_t size) override;
  void ShowSignature(const SignatureTexts& texts) override;
  uint32_t AskPassword(const PasswordTexts& texts, char* out, uint32_t size) override;
  uint32_t AskNextVolume(const NextVolumeTexts& texts, char* folder, uint32_t size) override;
  uint32_t AskOverwrite(const OverwriteTexts& texts) override;
  void ShowStartupError(const char* text) override;

  // Writes text, line ends as "\n" alone; ends a progress line first.
  void Print(const char* text);
  void PrintIndented(const char* text);

 private:
  // Lists the buttons and reads answers until one names a button; -1 at the
  // end of input.
  int Choose(const char* const* labels, uint32_t count);
  void ShowMainDialogState();
  int Find(uint32_t control) const;

  Terminal term_;
  BoxLabels labels_{"OK", "Yes", "No", "Cancel"};
  bool progressOpen_ = false;

  // Dialog 5001 while it runs.
  struct Control {
    uint32_t id;
    const char* label;
    bool shown;
    bool enabled;
    bool checked;
    bool checkBox;
  };
  static constexpr uint32_t kControls = 7;
  Control controls_[kControls] = {};
  bool dialogOpen_ = false;
  bool ended_ = false;
  uint32_t result_ = 0;
  const char* folderLabel_ = "";
  char folder_[kPathSize] = {};
  static constexpr uint32_t kMaxEvents = 8;
  uint32_t events_[kMaxEvents] = {};
  uint32_t eventCount_ = 0;
};

}  // namespace console
}  // namespace tvk

#endif
