// A scripted front end for the flow's tests: it records what would be shown
// and answers from a script, refusing (cancel, no) when the script runs out.
#ifndef TVK_TESTS_HOST_FLOW_FAKE_UI_H
#define TVK_TESTS_HOST_FLOW_FAKE_UI_H

#include <deque>
#include <string>
#include <vector>

#include "host/ui.h"
#include "platform/platform.h"

namespace tvk::test {

struct Shown {
  std::string kind;  // "box", "signature", "password5011", "password5012", "volume", "overwrite", ...
  std::string text;
  std::string caption;
  uint32_t style = 0;
};

class FakeUi final : public Ui {
 public:
  // Answers in the order the questions come; each names the kind it is for,
  // so a test fails clearly when the flow asks something else.
  struct Answer {
    std::string kind;
    uint32_t value;
    std::string text;  // password or folder
  };
  std::deque<Answer> script;
  std::vector<Shown> shown;
  std::vector<std::string> unexpected;  // questions asked beyond or against the script

  // Main dialog: the commands to press in turn (after the first event).
  std::deque<uint32_t> commands;
  bool checkedOverwrite = true;
  bool checkedRunAfter = true;
  std::string folder;
  MainDialogSetup setup{};  // its texts live only while the dialog runs
  bool setupSeen = false;
  // Copies of the setup's texts ("(hidden)" for a hidden check box).
  std::string title, overwriteText, runAfterText;
  std::string hiddenOverwriteText;  // 1003's text whether shown or not
  std::vector<uint32_t> disabled;
  std::vector<std::pair<uint32_t, std::string>> progress;
  // Set by a progress update to simulate the user's cancel button.
  volatile sig_atomic_t* cancelOnProgress = nullptr;
  uint32_t pumps = 0;
  // Commands that wait in the queue while the dialog is busy: the first
  // message pump hands them to the dialog, as a window's queue would.
  std::deque<uint32_t> queuedCommands;
  std::deque<uint32_t> queuedEvents;

  void SetBoxLabels(const BoxLabels& l) override { labels = l; }
  BoxLabels labels{};

  uint32_t ShowMessage(const char* text, const char* caption, uint32_t style) override {
    shown.push_back({"box", text ? text : "", caption ? caption : "(none)", style});
    uint32_t buttons = style & kBoxButtonMask;
    if (buttons == kBoxOk) return kAnswerOk;
    uint32_t refuse = buttons == kBoxYesNo ? kAnswerNo : kAnswerCancel;
    return Take("box", refuse, nullptr);
  }

  uint32_t RunMainDialog(const MainDialogSetup& s, MainDialogHost* host) override {
    setup = s;
    setupSeen = true;
    title = s.title ? s.title : "";
    overwriteText = s.overwriteShown ? (s.overwrite ? s.overwrite : "(no text)") : "(hidden)";
    hiddenOverwriteText = s.overwrite ? s.overwrite : "";
    runAfterText = s.runAfter ? s.runAfter : "(hidden)";
    folder = s.folder ? s.folder : "";
    dialog_ = true;
    ended_ = false;
    host_ = host;
    if (s.firstEvent) events_.push_back(s.firstEvent);
    while (!ended_) {
      if (!events_.empty()) {
        uint32_t e = events_.front();
        events_.pop_front();
        host->OnEvent(e);
        continue;
      }
      uint32_t c = kCtlCancel;
      if (!commands.empty()) {
        c = commands.front();
        commands.pop_front();
      }
      host->OnCommand(c);
    }
    dialog_ = false;
    host_ = nullptr;
    return result_;
  }
  bool HasMainDialog() override { return dialog_; }
  void GetFolder(char* out, uint32_t size) override { StrCopy(out, size, folder.c_str()); }
  void SetFolder(const char* f) override { folder = f; }
  bool IsChecked(uint32_t control) override {
    if (control == kCtlOverwrite) return setup.overwriteShown && checkedOverwrite;
    if (control == kCtlRunAfter) return setup.runAfter && checkedRunAfter;
    return false;
  }
  void EnableControl(uint32_t control, bool enable) override {
    if (!enable) disabled.push_back(control);
  }
  void ShowProgressBar() override { progressShown = true; }
  bool progressShown = false;
  void SetProgress(uint32_t percent, const char* name) override {
    progress.emplace_back(percent, name ? name : "");
    if (cancelOnProgress) *cancelOnProgress = 1;
  }
  void PostEvent(uint32_t event) override { events_.push_back(event); }
  void EndDialog(uint32_t result) override {
    result_ = result;
    ended_ = true;
  }
  void PumpMessages() override {
    ++pumps;
    if (!host_) return;
    while (!queuedCommands.empty()) {
      uint32_t c = queuedCommands.front();
      queuedCommands.pop_front();
      host_->OnCommand(c);
    }
    while (!queuedEvents.empty()) {
      uint32_t e = queuedEvents.front();
      queuedEvents.pop_front();
      host_->OnEvent(e);
    }
  }
  bool BrowseFolder(const char* title, const char* initial, char* out, uint32_t size) override {
    shown.push_back({"browse", title, initial, 0});
    std::string picked;
    if (Take("browse", kAnswerCancel, &picked) != kAnswerOk) return false;
    StrCopy(out, size, picked.c_str());
    return true;
  }
  void ShowSignature(const SignatureTexts& t) override {
    shown.push_back({"signature", t.text, t.title, 0});
    if (t.testKeyNote) shown.push_back({"test-key-note", t.testKeyNote, t.title, 0});
  }
  uint32_t AskPassword(const PasswordTexts& t, char* out, uint32_t size) override {
    std::string kind = "password" + std::to_string(t.dialog);
    shown.push_back({kind, t.text, t.title, 0});
    std::string typed;
    uint32_t a = Take(kind, kAnswerCancel, &typed);
    if (a == kAnswerOk) StrCopy(out, size, typed.c_str());
    return a;
  }
  uint32_t AskNextVolume(const NextVolumeTexts& t, char* f, uint32_t size) override {
    shown.push_back({"volume", t.text, f, 0});
    std::string typed;
    uint32_t a = Take("volume", kAnswerCancel, &typed);
    if (a == kAnswerOk) StrCopy(f, size, typed.c_str());
    return a;
  }
  uint32_t AskOverwrite(const OverwriteTexts& t) override {
    shown.push_back({"overwrite", std::string(t.question) + "|" + t.existingInfo + "|" + t.newInfo,
                     t.title, 0});
    return Take("overwrite", kAnswerCancel, nullptr);
  }
  void ShowStartupError(const char* text) override { shown.push_back({"startup", text, "", 0}); }

  // Everything of one kind that was shown.
  std::vector<Shown> Of(const std::string& kind) const {
    std::vector<Shown> out;
    for (const Shown& s : shown) {
      if (s.kind == kind) out.push_back(s);
    }
    return out;
  }

 private:
  uint32_t Take(const std::string& kind, uint32_t refuse, std::string* text) {
    if (script.empty()) {
      unexpected.push_back(kind + " (script ended)");
      return refuse;
    }
    Answer a = script.front();
    if (a.kind != kind) {
      unexpected.push_back(kind + " (script expected " + a.kind + ")");
      return refuse;
    }
    script.pop_front();
    if (text) *text = a.text;
    return a.value;
  }

  bool dialog_ = false;
  bool ended_ = false;
  MainDialogHost* host_ = nullptr;
  uint32_t result_ = 0;
  std::deque<uint32_t> events_;
};

}  // namespace tvk::test

#endif
