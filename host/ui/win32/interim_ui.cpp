// INTERIM Windows front end: plain message boxes in place of the dialog
// templates, enough to run quietly and to answer the simple questions. The
// real dialogs (5001, 5010 to 5014, the folder browser and the progress
// painter) replace this file.
#include <windows.h>

#include "host/ui.h"
#include "platform/platform.h"

namespace tvk {

namespace {

class InterimUi final : public Ui {
 public:
  void SetBoxLabels(const BoxLabels&) override {}

  uint32_t ShowMessage(const char* text, const char* caption, uint32_t style) override {
    return static_cast<uint32_t>(MessageBoxA(main_, text, caption, style));
  }

  uint32_t RunMainDialog(const MainDialogSetup& setup, MainDialogHost* host) override {
    open_ = true;
    ended_ = false;
    result_ = 2;
    StrCopy(folder_, sizeof folder_, setup.folder ? setup.folder : "");
    overwrite_ = setup.overwrite && setup.overwriteChecked;
    runAfter_ = setup.runAfter && setup.runAfterChecked;
    eventCount_ = 0;
    if (setup.firstEvent) PostEvent(setup.firstEvent);
    while (!ended_) {
      if (eventCount_ > 0) {
        uint32_t event = events_[0];
        --eventCount_;
        for (uint32_t i = 0; i < eventCount_; ++i) events_[i] = events_[i + 1];
        host->OnEvent(event);
        continue;
      }
      char text[2048];
      StrCopy(text, sizeof text, setup.instruction);
      StrAppend(text, sizeof text, "\r\n\r\n");
      StrAppend(text, sizeof text, setup.folderLabel);
      StrAppend(text, sizeof text, " ");
      StrAppend(text, sizeof text, folder_);
      int answer = MessageBoxA(nullptr, text, setup.title, MB_OKCANCEL);
      host->OnCommand(answer == IDOK ? 1 : 2);
    }
    open_ = false;
    return result_;
  }
  bool HasMainDialog() override { return open_; }
  void GetFolder(char* out, uint32_t size) override { StrCopy(out, size, folder_); }
  void SetFolder(const char* folder) override { StrCopy(folder_, sizeof folder_, folder); }
  bool IsChecked(uint32_t control) override {
    return control == IDC_OVERWRITE ? overwrite_ : control == IDC_RUN_AFTER ? runAfter_ : false;
  }
  void EnableControl(uint32_t, bool) override {}
  void ShowProgressBar() override {}
  void SetProgress(uint32_t, const char*) override {}
  void PostEvent(uint32_t event) override {
    if (eventCount_ < 4) events_[eventCount_++] = event;
  }
  void EndDialog(uint32_t result) override {
    result_ = result;
    ended_ = true;
  }
  void PumpMessages() override {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  bool BrowseFolder(const char*, const char*, char*, uint32_t) override { return false; }
  void ShowSignature(const SignatureTexts& texts) override {
    MessageBoxA(main_, texts.text, texts.title, MB_OK | MB_ICONINFORMATION);
  }
  uint32_t AskPassword(const PasswordTexts&, char*, uint32_t) override { return kAnswerCancel; }
  uint32_t AskNextVolume(const NextVolumeTexts&, char*, uint32_t) override {
    return kAnswerCancel;
  }
  uint32_t AskOverwrite(const OverwriteTexts& texts) override {
    switch (MessageBoxA(main_, texts.question, texts.title, MB_YESNOCANCEL | MB_ICONQUESTION)) {
      case IDYES:
        return kAnswerOk;
      case IDNO:
        return kAnswerNo;
      default:
        return kAnswerCancel;
    }
  }
  void ShowStartupError(const char* text) override {
    MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONWARNING);
  }

 private:
  HWND main_ = nullptr;
  bool open_ = false;
  bool ended_ = false;
  uint32_t result_ = 2;
  bool overwrite_ = false;
  bool runAfter_ = false;
  char folder_[kPathSize] = {};
  uint32_t events_[4] = {};
  uint32_t eventCount_ = 0;
};

}  // namespace

Ui* PlatformUi(void*) {
  static InterimUi ui;
  return &ui;
}

void SetInterruptFlag(volatile sig_atomic_t*) {}

}  // namespace tvk
