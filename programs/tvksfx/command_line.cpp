// The Linux self-extractor's options. Whoever unpacks a program on a server
// wants to look inside, test it, name the folder and script the run, as
// with any self-extracting shell archive; without options the program runs
// as it always did. Every run still goes through the flow, so passwords,
// the signature and the overwrite question behave as in the dialog.
#include "programs/tvksfx/command_line.h"

#include <string.h>

#include "host/message_format.h"
#include "host/ui/console/console.h"
#include "host/ui/console/terminal_text.h"
#include "platform/result_codes.h"

namespace tvk {

namespace {

using console::WriteShown;

constexpr int kOut = 1;
constexpr int kErr = 2;

void Usage(const char* program) {
  WriteShown(kOut, "Usage: ");
  WriteShown(kOut, program);
  WriteShown(kOut,
             " [--list | --check | --target DIR] [--quiet] [--]\n"
             "Without options the program asks where to put its files.\n"
             "  --list        list the entries and exit\n"
             "  --check       test every entry, write nothing, and exit\n"
             "  --target DIR  extract into DIR without asking for a folder\n"
             "  --quiet       ask nothing, show no progress; a run that needs an\n"
             "                answer (password, replacing a file) stops with 9\n"
             "  --help, -h    this text; words after -- are ignored\n"
             "Exit codes: 0 done (or cancelled at the first question), 2 bad option,\n"
             "3 not an archive, 4 damaged data, 5 file access, 6 disk full,\n"
             "7 memory, 8 other errors (password, signature), 9 cancelled.\n");
}

int BadOption(const char* program, const char* problem, const char* word) {
  WriteShown(kErr, program);
  WriteShown(kErr, ": ");
  WriteShown(kErr, problem);
  if (word) {
    WriteShown(kErr, " '");
    WriteShown(kErr, word);
    WriteShown(kErr, "'");
  }
  WriteShown(kErr, "\nTry '");
  WriteShown(kErr, program);
  WriteShown(kErr, " --help'.\n");
  return kExitBadOption;
}

// A question under --quiet: what it asked goes to standard error, and the
// refusal ends the run as a cancel (exit code 9).
void Refuse(const char* question) {
  WriteShown(kErr, question ? question : "");
  WriteShown(kErr, "\n--quiet: no answer is given; the run stops.\n");
}

void ShowOnError(const char* text) {
  WriteShown(kErr, text ? text : "");
  WriteShown(kErr, "\n");
}

class QuietFrontEnd final : public Ui {
 public:
  void SetBoxLabels(const BoxLabels&) override {}
  uint32_t ShowMessage(const char* text, const char*, uint32_t style) override {
    switch (style & kBoxButtonMask) {
      case kBoxYesNo:
        Refuse(text);
        return kAnswerNo;
      case kBoxOkCancel:
        Refuse(text);
        return kAnswerCancel;
      default:
        // Only an error reaches an OK box on the quiet paths.
        ShowOnError(text);
        return kAnswerOk;
    }
  }
  uint32_t RunMainDialog(const MainDialogSetup&, MainDialogHost*) override { return kCtlCancel; }
  bool HasMainDialog() override { return false; }
  void GetFolder(char* out, uint32_t size) override {
    if (size) out[0] = 0;
  }
  void SetFolder(const char*) override {}
  bool IsChecked(uint32_t) override { return false; }
  void EnableControl(uint32_t, bool) override {}
  void ShowProgressBar() override {}
  void SetProgress(uint32_t, const char*) override {}
  void PostEvent(uint32_t) override {}
  void EndDialog(uint32_t) override {}
  void PumpMessages() override {}
  bool BrowseFolder(const char*, const char*, char*, uint32_t) override { return false; }
  void ShowSignature(const SignatureTexts&) override {}
  uint32_t AskPassword(const PasswordTexts& texts, char*, uint32_t) override {
    Refuse(texts.text);
    return kAnswerCancel;
  }
  uint32_t AskNextVolume(const NextVolumeTexts& texts, char*, uint32_t) override {
    Refuse(texts.text);
    return kAnswerCancel;
  }
  uint32_t AskOverwrite(const OverwriteTexts& texts) override {
    Refuse(texts.question);
    return kAnswerCancel;
  }
  void ShowStartupError(const char* text) override { ShowOnError(text); }
};

QuietFrontEnd quietFrontEnd;

// Opens the archive for a walk over every entry, after the check that
// shows its signature; a mismatch there was asked about as before an
// extraction, so the walk itself forgives it.
uint32_t OpenChecked(Flow* flow, NameList** include) {
  uint32_t error = flow->ArchiveCheck();
  if (!error) error = flow->OpenWithPattern("*.*", include);
  if (error) return error;
  ExtractOptions* options = static_cast<ExtractOptions*>(MemAllocZero(sizeof(ExtractOptions)));
  if (!options) {
    flow->reader->FreeNameList(*include);
    flow->reader->Close();
    return kErrMemory;
  }
  options->size = sizeof(ExtractOptions);
  options->ignoreSignatureMismatch = 1;
  flow->reader->SetOptions(kOptionsExtraction, options);
  MemFree(options);
  return 0;
}

int Outcome(Flow* flow, uint32_t error) {
  flow->run.resultCode = error;
  return error ? flow->ErrorBox() : 0;
}

void PrintEntry(const FileEntry& entry, uint64_t* total, uint32_t* files) {
  // Folders keep their trailing separator: "doc/".
  char name[kPathSize];
  console::ShownPath(entry.name, name, sizeof name);
  char shown[kPathSize * 4];
  console::ShownText(name, strlen(name), 0, shown, sizeof shown);
  char line[sizeof shown + 64];
  if (entry.type == fmt::kTypeFolder) {
    // A folder has no size, and the stamp its head carries means nothing.
    Format(line, sizeof line, "%45s%s\n", "", shown);
  } else {
    const uint32_t date = entry.dosTime >> 16;
    const uint32_t time = entry.dosTime & 0xFFFF;
    Format(line, sizeof line, "%12llu %12llu  %04u-%02u-%02u %02u:%02u  %s\n",
           static_cast<unsigned long long>(entry.unpackedSize),
           static_cast<unsigned long long>(entry.packedSize), (date >> 9) + 1980,
           (date >> 5) & 15, date & 31, time >> 11, (time >> 5) & 63, shown);
    *total += entry.unpackedSize;
    ++*files;
  }
  WriteShown(kOut, line);
}

int ListRun(Flow* flow) {
  NameList* include = nullptr;
  uint32_t error = OpenChecked(flow, &include);
  if (error) return Outcome(flow, error);
  ArchiveReader* reader = flow->reader;
  NameList* result = reader->CreateNameList(kListEntries);
  if (result) {
    reader->List(include, nullptr, nullptr, result, nullptr);
    error = reader->LastError();
    WriteShown(kOut, "        Size       Packed  Date              Name\n");
    uint64_t total = 0;
    uint32_t files = 0;
    for (NameListNode* n = result->head; n; n = n->next) {
      PrintEntry(*static_cast<const FileEntry*>(n->item), &total, &files);
    }
    char line[64];
    Format(line, sizeof line, "%u file(s), %llu bytes\n", files,
           static_cast<unsigned long long>(total));
    WriteShown(kOut, line);
    reader->FreeNameList(result);
  } else {
    error = kErrMemory;
  }
  reader->FreeNameList(include);
  reader->Close();
  return Outcome(flow, error);
}

int CheckRun(Flow* flow) {
  NameList* include = nullptr;
  uint32_t error = OpenChecked(flow, &include);
  if (!error) {
    flow->reader->FreeNameList(include);
    flow->reader->TestAll();
    error = flow->reader->LastError();
    flow->reader->Close();
  }
  if (error) return Outcome(flow, error);
  // The summary of an extraction: "N file(s)/folder(s) extracted/tested".
  char text[kMessageBufferSize];
  FormatMessage2(text, sizeof text, flow->startup->messages, 13, ArgStr(flow->ProgramName()),
                 ArgUint(flow->run.fileCount));
  WriteShown(kOut, text);
  WriteShown(kOut, "\n");
  return 0;
}

// The run of the dialog's extract button, with the folder given: the info
// text first (declining it ends the run with nothing done, exit code 0),
// then the signature, the extraction and the run-after file.
int TargetRun(Flow* flow) {
  if (flow->startup->infoTextPending) {
    flow->OnEvent(kEventShowInfo);
    if (flow->run.cancelRequested) return 0;
  }
  RunState& run = flow->run;
  run.resultCode = flow->ArchiveCheck();
  if (!run.resultCode) run.resultCode = flow->ExtractToFolder(flow->startup->settings.targetFolder);
  if (!run.resultCode && flow->startup->settings.runAfter[0]) flow->StartRunAfter(false);
  return flow->DialogOutcome();
}

}  // namespace

int ParseCommandLine(int argc, char** argv, CommandLine* line) {
  memset(line, 0, sizeof *line);
  const char* program = argc > 0 && argv[0] ? argv[0] : "tvksfx";
  if (const char* slash = strrchr(program, '/')) program = slash + 1;
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    // What follows "--" belongs to nobody: there is no program it could go to.
    if (strcmp(word, "--") == 0) break;
    if (strcmp(word, "--help") == 0 || strcmp(word, "-h") == 0) {
      Usage(program);
      return 0;
    }
    if (strcmp(word, "--quiet") == 0) {
      line->quiet = 1;
      continue;
    }
    const bool target = strcmp(word, "--target") == 0;
    const uint32_t action = strcmp(word, "--list") == 0    ? kActionList
                            : strcmp(word, "--check") == 0 ? kActionCheck
                                                           : kActionRun;
    if (!target && action == kActionRun) return BadOption(program, "unknown option", word);
    if (line->action != kActionRun || line->target[0]) {
      return BadOption(program, "give one of --list, --check and --target", nullptr);
    }
    line->action = action;
    if (!target) continue;
    // "--target --quiet" forgot the folder; it does not name one.
    if (i + 1 >= argc || argv[i + 1][0] == 0 || argv[i + 1][0] == '-') {
      return BadOption(program, "--target needs a folder", nullptr);
    }
    console::TypedFolder(argv[++i], line->target, sizeof line->target);
    // A name cut to the buffer would be another folder.
    if (!line->target[0] || strlen(line->target) + 1 >= sizeof line->target) {
      return BadOption(program, "folder name too long", nullptr);
    }
  }
  return -1;
}

Ui* QuietUi() { return &quietFrontEnd; }

int RunCommandLine(const CommandLine& line, Flow* flow) {
  if (line.action == kActionList) return ListRun(flow);
  if (line.action == kActionCheck) return CheckRun(flow);
  StartupState& state = *flow->startup;
  if (line.target[0]) {
    // The payload's folder macro no longer matters, but the options it
    // stopped the derivation of do.
    if (state.macroFailed) {
      state.macroFailed = 0;
      state.settings.targetFolder[0] = 0;
      DeriveOptions(&state);
    }
    StrCopy(state.settings.targetFolder, sizeof state.settings.targetFolder, line.target);
  }
  if (line.quiet || state.settings.quiet) {
    int code = flow->QuietRun();
    if (line.quiet && flow->run.resultCode) flow->ErrorBox();
    return code;
  }
  if (line.target[0]) return TargetRun(flow);
  return flow->DialogRun();
}

}  // namespace tvk
