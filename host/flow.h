// The self-extractor's extraction flow, written once for every front end:
// the main dialog's logic, the archive check with its signature outcomes,
// extraction into the target folder, the quiet path, the run-after file and
// the way a run ends. The flow decides what is asked and what each answer
// does; the Ui only shows and returns answers.
#ifndef TVK_HOST_FLOW_H
#define TVK_HOST_FLOW_H

#include <signal.h>
#include <stdint.h>

#include "archive/reader.h"
#include "host/exit_codes.h"
#include "host/prompts.h"
#include "host/run_after.h"
#include "host/startup.h"
#include "host/ui.h"
#include "platform/platform.h"

namespace tvk {

// Texts formatted from the payload's messages: sized for the UTF-8 form on
// Linux.
constexpr uint32_t kMessageBufferSize = 2048 * kTextScale;

// The run's state besides the start-up state.
struct RunState {
  // Set by the cancel button or Ctrl+C (possibly from a signal handler);
  // the next callback then answers with a stop.
  volatile sig_atomic_t cancelRequested;
  uint32_t resultCode;
  uint32_t fileCount;      // entries reported as started
  uint32_t checkDone;      // a valid signature was shown; no second check
  uint32_t archiveOpened;  // an open succeeded: the stored directory password serves
  uint32_t busy;           // a check or an extraction runs: only Cancel acts
  char entryName[kPathSize];  // name part of the current entry (progress bar)
  // Passwords the user typed, handed out again without asking until the
  // reader reports them as the one that just failed.
  char filePassword[kPathSize];
  char directoryPassword[kPathSize];
};

struct Flow final : public MainDialogHost {
  Flow(StartupState* startup, ArchiveReader* archive, Ui* frontEnd);

  // Installs the six callbacks of the prompts (user value: this flow).
  void InstallCallbacks();
  // Opens the archive with the callbacks installed and makes the include
  // list holding pattern; on failure the archive is closed again and the
  // error is answered.
  uint32_t OpenWithPattern(const char* pattern, NameList** include);

  // The archive check: opens and lists the archive once, which checks its
  // signature. A mismatch asks whether to go on; a valid signature is shown
  // once. Answers 0 to go on, or the result code (also kept in resultCode).
  uint32_t ArchiveCheck();
  // Opens the archive and extracts every entry into folder: the reader's
  // final error code.
  uint32_t ExtractToFolder(const char* folder);
  // Button 1 of the main dialog.
  void ExtractionFlow();

  // The quiet path: extract at once, start the run-after file, no box.
  // Answers the exit code.
  int QuietRun();
  // Shows the main dialog until it ends; then the dialog outcome. Answers the
  // exit code.
  int DialogRun();
  // After the main dialog: the error box or the final summary; exit code.
  int DialogOutcome();
  // Shows the message of resultCode; answers its exit code.
  int ErrorBox();

  // Starts the run-after file; 28007 in resultCode when it cannot start.
  // The quiet form starts it in the target folder, the dialog form in the
  // file's own folder.
  void StartRunAfterQuiet();
  void StartRunAfterDialog();
  void StartRunAfter(bool quiet);
  // The payload's target folder begins with a macro that names no folder on
  // this system: 28002 before anything is opened, with a box that names the
  // macro unless quiet. Answers the exit code.
  int MacroFailure(bool showBox);

  // MainDialogHost
  void OnCommand(uint32_t control) override;
  void OnEvent(uint32_t event) override;

  const char* Msg(uint32_t number) const { return MessageText(startup->messages, number); }
  const char* ProgramName() const { return NamePart(startup->programPath); }

  StartupState* startup;
  ArchiveReader* reader;
  Ui* ui;
  RunState run;
};

}  // namespace tvk

#endif
