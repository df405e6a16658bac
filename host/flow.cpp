// The main dialog's logic, the archive check, extraction, the quiet path and
// the end of a run. Every text comes from the payload's message table and is
// formatted by the safe formatter; the Ui shows what it is given.
#include "host/flow.h"

#include <string.h>

#include "crypto/master_key.h"
#include "host/message_format.h"
#include "host/path_macros.h"
#include "platform/result_codes.h"

namespace tvk {

namespace {

// Message box style of the settings' info box style.
uint32_t InfoBoxStyle(uint32_t style) {
  switch (style) {
    case 0:
      return kBoxOk | kIconInformation;
    case 1:
      return kBoxYesNo | kIconQuestion;
    case 2:
      return kBoxOkCancel | kIconInformation;
    default:
      return kBoxOk;
  }
}

// A path that names its drive or root; anything else is meant from the
// current folder.
bool HasRoot(const char* path) { return path[0] == '\\' || (path[0] && path[1] == ':'); }

// The run-after file's full path and the folder it is started in (its own
// folder, or the target folder when targetAsFolder). Built before any change
// of folder, so that a relative target keeps meaning the folder the run was
// started from. False when a path does not fit.
bool RunAfterPaths(const char* target, const char* runAfter, bool targetAsFolder, char* path,
                   char* folder, uint32_t size) {
  char full[kPathSize];
  full[0] = 0;
  if (!HasRoot(target)) {
    if (!GetCurrentFolder(full, sizeof full)) return false;
    if (target[0] && !AddBackslash(full)) return false;
  }
  if (StrAppend(full, sizeof full, target) != kStrOk) return false;
  RemoveBackslash(full);
  if (StrCopy(path, size, full) != kStrOk || !AddBackslash(path) ||
      StrAppend(path, size, runAfter) != kStrOk) {
    return false;
  }
  if (targetAsFolder) return StrCopy(folder, size, full) == kStrOk;
  FolderPart(folder, size, path);
  RemoveBackslash(folder);
  return true;
}

}  // namespace

Flow::Flow(StartupState* startupState, ArchiveReader* archive, Ui* frontEnd)
    : startup(startupState), reader(archive), ui(frontEnd) {
  memset(&run, 0, sizeof run);
  BoxLabels labels;
  labels.ok = Msg(0);
  labels.yes = Msg(1);
  labels.no = Msg(2);
  labels.cancel = Msg(3);
  ui->SetBoxLabels(labels);
}

void Flow::InstallCallbacks() {
  ReaderCallbacks callbacks;
  FillCallbacks(this, &callbacks);
  reader->SetCallbacks(&callbacks);
}

uint32_t Flow::OpenWithPattern(const char* pattern, NameList** include) {
  InstallCallbacks();
  reader->Open(startup->programPath);
  uint32_t error = reader->LastError();
  if (error) {
    reader->Close();
    return error;
  }
  run.archiveOpened = 1;
  InstallCallbacks();

  *include = reader->CreateNameList(kListNames);
  if (!*include || reader->AddName(*include, pattern) != 0) {
    if (*include) reader->FreeNameList(*include);
    *include = nullptr;
    reader->Close();
    return kErrMemory;
  }
  return 0;
}

namespace {

// Both languages, as the start-up boxes: the message table has no text of
// its own for it.
#if defined(_WIN32)
#define TVK_OE "\xF6"  // o umlaut, Windows-1252
#define TVK_UE "\xFC"  // u umlaut
#else
#define TVK_OE "\xC3\xB6"  // o umlaut, UTF-8
#define TVK_UE "\xC3\xBC"  // u umlaut
#endif
const char kTestKeyNote[] =
    "TEST BUILD: this program trusts the published test key; anybody can make this signature."
    "\r\nTESTVERSION: Dieses Programm vertraut dem ver" TVK_OE "ffentlichten Testschl" TVK_UE
    "ssel; diese Signatur kann jeder erzeugen.";
#undef TVK_OE
#undef TVK_UE

}  // namespace

uint32_t Flow::ArchiveCheck() {
  if (run.checkDone) return 0;
  // "/" selects no entry: the walk only checks the signature.
  NameList* include = nullptr;
  if (uint32_t error = OpenWithPattern("/", &include)) return error;
  NameList* result = reader->CreateNameList(kListEntries);
  if (!result) {
    reader->FreeNameList(include);
    reader->Close();
    return kErrMemory;
  }
  ArchiveInfo* info = static_cast<ArchiveInfo*>(MemAllocZero(sizeof(ArchiveInfo)));
  if (!info) {
    reader->FreeNameList(result);
    reader->FreeNameList(include);
    reader->Close();
    return kErrMemory;
  }
  reader->List(include, nullptr, nullptr, result, info);
  run.resultCode = reader->LastError();
  reader->FreeNameList(include);
  reader->FreeNameList(result);
  reader->Close();

  if (run.resultCode != 0) {
    if (run.resultCode == kErrSignatureMismatch) {
      // Not remembered: the question comes again when extraction starts.
      uint32_t answer = ui->ShowMessage(Msg(33), Msg(50), kBoxYesNo | kIconInformation);
      if (answer == kAnswerYes) run.resultCode = 0;
    }
    MemFree(info);
    return run.resultCode;
  }
  if (!info->signatureValid) {
    MemFree(info);
    return 0;
  }
  char date[kPathSize];
  char time[kPathSize];
  DateTimeTexts(info->signedAt, false, date, sizeof date, time, sizeof time);
  char text[kMessageBufferSize];
  FormatMessage4(text, sizeof text, startup->messages, 34, ArgStr(ProgramName()), ArgStr(date),
                 ArgStr(time), ArgStr(info->signer));
  MemFree(info);
  SignatureTexts texts;
  texts.title = Msg(53);
  texts.text = text;
  texts.ok = Msg(0);
  texts.testKeyNote = kMasterKeyIsTestKey ? kTestKeyNote : nullptr;
  ui->ShowSignature(texts);
  run.checkDone = 1;
  return 0;
}

uint32_t Flow::ExtractToFolder(const char* folder) {
  NameList* include = nullptr;
  if (uint32_t error = OpenWithPattern("*.*", &include)) return error;
  ExtractOptions* options = static_cast<ExtractOptions*>(MemAllocZero(sizeof(ExtractOptions)));
  if (!options) {
    reader->FreeNameList(include);
    reader->Close();
    return kErrMemory;
  }
  options->size = sizeof(ExtractOptions);
  options->keepFolderPaths = 1;
  StrCopy(options->targetFolder, sizeof options->targetFolder, folder);
  RemoveBackslash(options->targetFolder);
  // The mismatch question was settled by the archive check (or, quietly,
  // not asked at all).
  options->ignoreSignatureMismatch = 1;
  reader->SetOptions(kOptionsExtraction, options);
  MemFree(options);

  reader->Extract(include, nullptr, nullptr);
  uint32_t result = reader->LastError();
  reader->FreeNameList(include);
  reader->Close();
  return result;
}

void Flow::ExtractionFlow() {
  run.resultCode = ArchiveCheck();
  if (run.resultCode != 0) return;

  PayloadSettings& settings = startup->settings;
  char folder[kPathSize];
  ui->GetFolder(folder, sizeof folder);
  if (!folder[0]) FolderPart(folder, sizeof folder, startup->programPath);
  StrCopy(settings.targetFolder, sizeof settings.targetFolder, folder);
  if (settings.overwrite) startup->overwriteAll = ui->IsChecked(kCtlOverwrite) ? 1 : 0;

  ui->EnableControl(kCtlExtract, false);
  ui->EnableControl(kCtlHelp, false);
  ui->EnableControl(kCtlAbout, false);
  ui->EnableControl(kCtlOverwrite, false);
  ui->ShowProgressBar();

  run.resultCode = ExtractToFolder(settings.targetFolder);
  if (run.resultCode == 0 && settings.runAfter[0] && ui->IsChecked(kCtlRunAfter)) {
    StartRunAfterDialog();
  }
}

// ---- The main dialog ----------------------------------------------------------

int Flow::DialogRun() {
  if (startup->macroFailed) return MacroFailure(true);
  PayloadSettings& settings = startup->settings;
  char title[kMessageBufferSize];
  FormatMessage1(title, sizeof title, startup->messages, 52, ArgStr(ProgramName()));
  char folder[kPathSize];
  StrCopy(folder, sizeof folder, settings.targetFolder);
  if (folder[0]) LongForm(folder, sizeof folder);
  char runAfter[kMessageBufferSize];
  if (settings.runAfter[0]) {
    FormatMessage1(runAfter, sizeof runAfter, startup->messages, 12,
                   ArgStr(NamePart(settings.runAfter)));
  }

  MainDialogSetup setup;
  setup.title = title;
  setup.instruction = Msg(14);
  setup.folderLabel = Msg(49);
  setup.folder = folder;
  setup.browse = Msg(9);
  setup.overwrite = Msg(11);
  setup.overwriteShown = settings.overwrite ? 1 : 0;
  setup.runAfter = settings.runAfter[0] ? runAfter : nullptr;
  setup.extract = Msg(6);
  setup.cancel = Msg(3);
  setup.about = Msg(7);
  setup.help = Msg(8);
  setup.overwriteChecked = 1;
  setup.runAfterChecked = 1;
  setup.firstEvent = startup->infoTextPending ? kEventShowInfo
                     : startup->earlyCheck    ? kEventEarlyCheck
                                              : 0;
  ui->RunMainDialog(setup, this);
  return DialogOutcome();
}

void Flow::OnEvent(uint32_t event) {
  // A check or an extraction runs and dispatches window messages: an early
  // check now would open the archive inside that pass; the extraction makes
  // its own check anyway.
  if (run.busy) return;
  run.busy = 1;
  if (event == kEventShowInfo) {
    PayloadSettings& settings = startup->settings;
    const char* caption = settings.infoTitle[0] ? settings.infoTitle : Msg(45);
    uint32_t answer = ui->ShowMessage(settings.infoText, caption, InfoBoxStyle(settings.infoBoxStyle));
    if (answer == kAnswerOk || answer == kAnswerYes) {
      if (startup->earlyCheck) ui->PostEvent(kEventEarlyCheck);
    } else {
      OnCommand(kCtlCancel);
    }
  } else if (event == kEventEarlyCheck) {
    uint32_t result = ArchiveCheck();
    if (result != 0) {
      run.resultCode = result;
      OnCommand(kCtlCancel);
    }
  }
  run.busy = 0;
}

void Flow::OnCommand(uint32_t control) {
  // Progress updates and the signature hashing dispatch window messages from
  // inside a check or an extraction: a second Extract would run a whole pass
  // inside the first (and its result would be overwritten by the outer one),
  // and any box would sit on top of the pass. Only Cancel acts then.
  if (run.busy && control != kCtlCancel) return;
  switch (control) {
    case kCtlExtract:
      run.busy = 1;
      ExtractionFlow();
      run.busy = 0;
      ui->EndDialog(kCtlExtract);
      break;
    case kCtlCancel:
      run.cancelRequested = 1;
      ui->EndDialog(kCtlCancel);
      break;
    case kCtlHelp:
      ui->ShowMessage(Msg(15), Msg(51), kBoxOk | kIconInformation);
      break;
    case kCtlAbout: {
      char text[4096 * kTextScale];
      const char* prefix = startup->settings.aboutPrefix;
      text[0] = 0;
      if (prefix[0]) {
        StrCopy(text, sizeof text, prefix);
        StrAppend(text, sizeof text, "\r\n\r\n");
      }
      StrAppend(text, sizeof text, Msg(47));
      ui->ShowMessage(text, Msg(50), kBoxOk | kIconInformation);
      break;
    }
    case kCtlBrowse: {
      // Starts from the payload's folder, not from what the edit holds now.
      char initial[kPathSize];
      StrCopy(initial, sizeof initial, startup->settings.targetFolder);
      RemoveBackslash(initial);
      char picked[kPathSize];
      if (ui->BrowseFolder(Msg(30), initial, picked, sizeof picked)) ui->SetFolder(picked);
      break;
    }
    default:
      break;
  }
}

// ---- The end of a run -------------------------------------------------------------

int Flow::DialogOutcome() {
  if (run.resultCode != 0) return ErrorBox();
  if (!startup->settings.runAfter[0] && run.fileCount > 0) {
    char text[kMessageBufferSize];
    FormatMessage2(text, sizeof text, startup->messages, 13, ArgStr(ProgramName()),
                   ArgUint(run.fileCount));
    ui->ShowMessage(text, Msg(50), kBoxOk | kIconInformation);
  }
  return 0;
}

int Flow::ErrorBox() {
  char text[kMessageBufferSize];
  ErrorText(startup->messages, run.resultCode, ProgramName(), startup->settings.runAfter, text,
            sizeof text);
  ui->ShowMessage(text, nullptr, kBoxOk);
  return ExitCodeFor(run.resultCode);
}

int Flow::QuietRun() {
  if (startup->macroFailed) return MacroFailure(false);
  run.resultCode = ExtractToFolder(startup->settings.targetFolder);
  if (run.resultCode == 0 && startup->settings.runAfter[0]) StartRunAfterQuiet();
  return ExitCodeFor(run.resultCode);
}

int Flow::MacroFailure(bool showBox) {
  // The payload's text would otherwise become a folder named after the
  // macro, beside whatever the current folder is.
  run.resultCode = kErrFileAccess;
  if (showBox) {
    const char* macro = LeadingMacro(startup->settings.targetFolder);
    char text[kMessageBufferSize];
    FormatMessage2(text, sizeof text, startup->messages, 44, ArgUint(run.resultCode),
                   ArgStr(macro ? macro : startup->settings.targetFolder));
    ui->ShowMessage(text, nullptr, kBoxOk);
  }
  return ExitCodeFor(run.resultCode);
}

void Flow::StartRunAfterQuiet() { StartRunAfter(true); }

void Flow::StartRunAfterDialog() {
  ui->EnableControl(kCtlRunAfter, false);
  StartRunAfter(false);
}

void Flow::StartRunAfter(bool quiet) {
  char path[kPathSize];
  char folder[kPathSize];
  // Only the file the settings name, where they name it: a missing folder
  // or file must not let the system find a same-named program in the
  // current folder or on its search path.
  if (!RunAfterPaths(startup->settings.targetFolder, startup->settings.runAfter, quiet, path,
                     folder, kPathSize) ||
      !FileExists(path)) {
    run.resultCode = kErrRunAfter;
    return;
  }
  char saved[kPathSize];
  bool haveSaved = GetCurrentFolder(saved, sizeof saved) != 0;
  if (!SetCurrentFolder(folder) || !OpenWithShell(path, startup->runAfterParams, !quiet)) {
    run.resultCode = kErrRunAfter;
  }
  if (haveSaved) SetCurrentFolder(saved);
}

}  // namespace tvk
