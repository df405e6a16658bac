// The self-extractor's user interface as the host's flow sees it. The host
// decides every text (from the message table), the order of the questions
// and what each answer does; a front end (Windows dialogs, or the terminal)
// only shows what it is given and returns what the user chose.
//
// Answers and control numbers are the Windows ones (IDOK, IDCANCEL, IDNO,
// the dialog templates' control ids), so the Windows front end passes them
// straight through and the terminal one imitates them.
#ifndef TVK_HOST_UI_H
#define TVK_HOST_UI_H

#include <signal.h>
#include <stdint.h>

#include "resources/resource_ids.h"

namespace tvk {

// Answers of message boxes and dialogs.
constexpr uint32_t kAnswerOk = 1;
constexpr uint32_t kAnswerCancel = 2;
constexpr uint32_t kAnswerYes = 6;
constexpr uint32_t kAnswerNo = 7;
constexpr uint32_t kAnswerYesAll = IDC_YES_ALL;  // overwrite dialog only

// Message box styles: buttons in the low nibble, icon in the next one.
constexpr uint32_t kBoxOk = 0x00;
constexpr uint32_t kBoxOkCancel = 0x01;
constexpr uint32_t kBoxYesNo = 0x04;
constexpr uint32_t kBoxButtonMask = 0x0F;
constexpr uint32_t kIconQuestion = 0x20;
constexpr uint32_t kIconWarning = 0x30;
constexpr uint32_t kIconInformation = 0x40;
constexpr uint32_t kIconMask = 0xF0;

// Controls of the main dialog the host names.
constexpr uint32_t kCtlExtract = 1;
constexpr uint32_t kCtlCancel = 2;
constexpr uint32_t kCtlHelp = 9;
constexpr uint32_t kCtlFolder = IDC_FOLDER;
constexpr uint32_t kCtlOverwrite = IDC_OVERWRITE;
constexpr uint32_t kCtlRunAfter = IDC_RUN_AFTER;
constexpr uint32_t kCtlBrowse = IDC_BROWSE;
constexpr uint32_t kCtlAbout = IDC_ABOUT;
constexpr uint32_t kCtlProgress = IDC_PROGRESS;

// Events the main dialog posts to itself, handled once it is idle again.
constexpr uint32_t kEventShowInfo = WM_TVK_SHOW_INFO;
constexpr uint32_t kEventEarlyCheck = WM_TVK_EARLY_CHECK;

// Everything dialog 5001 shows when it opens. A null run-after text hides
// check box 1004; overwriteShown decides about 1003.
struct MainDialogSetup {
  const char* title;        // caption
  const char* instruction;  // 1001
  const char* folderLabel;  // 1006
  const char* folder;       // 1002, internal path form
  const char* browse;       // 1005
  const char* overwrite;    // 1003: given even when the check box is hidden
  const char* runAfter;     // 1004, or nullptr
  uint32_t overwriteShown;  // the payload offers the overwrite check box
  const char* extract;      // 1
  const char* cancel;       // 2
  const char* about;        // 1010
  const char* help;         // 9
  uint32_t overwriteChecked;
  uint32_t runAfterChecked;
  // Posted once the dialog is shown (kEventShowInfo, kEventEarlyCheck), or 0.
  uint32_t firstEvent;
};

// The host's side of dialog 5001: the front end calls it for every button
// and for every event posted with PostEvent.
class MainDialogHost {
 public:
  virtual void OnCommand(uint32_t control) = 0;
  virtual void OnEvent(uint32_t event) = 0;

 protected:
  ~MainDialogHost() = default;
};

// Dialog 5010.
struct SignatureTexts {
  const char* title;  // 53
  const char* text;   // 34, formatted
  const char* ok;     // 0
  // Shown under the text when the program trusts the published development
  // key (any signature can then be forged); nullptr otherwise.
  const char* testKeyNote;
};

// Dialogs 5011 (a file's password) and 5012 (the archive directory's).
struct PasswordTexts {
  uint32_t dialog;  // IDD_FILE_PASSWORD or IDD_ARCHIVE_PASSWORD
  const char* title;
  const char* text;   // 1140
  const char* label;  // 1141
  const char* ok;
  const char* cancel;
};

// Dialog 5013.
struct NextVolumeTexts {
  const char* title;
  const char* text;  // 1120
  const char* ok;
  const char* cancel;
};

// Dialog 5014.
struct OverwriteTexts {
  const char* title;          // 16
  const char* question;       // 1101: 17 with the name inserted
  const char* existingLabel;  // 1106: 18
  const char* existingInfo;   // 1103: size and date of the file on disk
  const char* newLabel;       // 1107: 19
  const char* newInfo;        // 1105: size and date of the entry
  const char* replace;        // button 1
  const char* yesAll;         // button 1108
  const char* no;             // button 7
  const char* cancel;         // button 2
  const char* existingName;   // for the file-type icons
  uint32_t existingAttributes;
};

// Message box button labels for front ends that draw their own buttons
// (the Windows boxes use the system's).
struct BoxLabels {
  const char* ok;      // 0
  const char* yes;     // 1
  const char* no;      // 2
  const char* cancel;  // 3
};

class Ui {
 public:
  virtual void SetBoxLabels(const BoxLabels& labels) = 0;

  // A message box owned by the main dialog while that is open, else by
  // nobody. A null caption leaves the platform's default. Answers kAnswer*.
  virtual uint32_t ShowMessage(const char* text, const char* caption, uint32_t style) = 0;

  // Runs dialog 5001 until EndDialog; answers the value given to EndDialog.
  virtual uint32_t RunMainDialog(const MainDialogSetup& setup, MainDialogHost* host) = 0;
  // While the main dialog runs:
  virtual bool HasMainDialog() = 0;
  virtual void GetFolder(char* out, uint32_t size) = 0;
  virtual void SetFolder(const char* folder) = 0;
  virtual bool IsChecked(uint32_t control) = 0;
  virtual void EnableControl(uint32_t control, bool enable) = 0;
  virtual void ShowProgressBar() = 0;
  // Percent and name (nullptr: percent alone) of the progress bar.
  virtual void SetProgress(uint32_t percent, const char* name) = 0;
  virtual void PostEvent(uint32_t event) = 0;
  virtual void EndDialog(uint32_t result) = 0;

  // Dispatches whatever waits (window messages, an interrupt from the
  // terminal) so that the dialog stays alive and cancel can reach the host.
  virtual void PumpMessages() = 0;

  // Picks a folder, starting at initial; false when the user gives none.
  virtual bool BrowseFolder(const char* title, const char* initial, char* out,
                            uint32_t size) = 0;
  virtual void ShowSignature(const SignatureTexts& texts) = 0;
  // kAnswerOk with the typed password in out, or kAnswerCancel.
  virtual uint32_t AskPassword(const PasswordTexts& texts, char* out, uint32_t size) = 0;
  // folder holds the folder to show and receives the one typed (raw: the
  // host applies its own rules). kAnswerOk or kAnswerCancel.
  virtual uint32_t AskNextVolume(const NextVolumeTexts& texts, char* folder, uint32_t size) = 0;
  // kAnswerOk (replace), kAnswerYesAll, kAnswerNo (skip) or kAnswerCancel.
  virtual uint32_t AskOverwrite(const OverwriteTexts& texts) = 0;

  // The fixed start-up error: no owner, caption "Error", warning icon, OK.
  virtual void ShowStartupError(const char* text) = 0;

 protected:
  ~Ui() = default;
};

// The front end of this build (console on Linux, dialogs on Windows).
// instance: the program's instance handle (Windows), ignored elsewhere.
Ui* PlatformUi(void* instance);

// Makes cancelFlag the flag an interrupt from the user sets (Ctrl+C on a
// terminal); nullptr stops that. A no-op where there is no such interrupt.
void SetInterruptFlag(volatile sig_atomic_t* cancelFlag);

}  // namespace tvk

#endif
