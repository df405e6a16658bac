// The self-extractor's entry point: the program's own path, start-up, then
// the quiet path or the main dialog, and the exit code of the run. The
// Windows program ignores its command line; the Linux one takes the options
// of programs/tvksfx/command_line.h.
#include "archive/reader.h"
#include "host/flow.h"
#include "host/startup.h"
#include "host/ui.h"
#include "platform/platform.h"

#if defined(_WIN32)
#include <windows.h>

#include "programs/tvksfx/win32/dll_guard.h"
#include "programs/tvksfx/win32/zone_mark.h"
#else
#include "programs/tvksfx/command_line.h"
#endif

namespace {

// The one archive handler of the process.
tvk::ArchiveReader archiveReader;
tvk::Ui* frontEnd = nullptr;
#if !defined(_WIN32)
tvk::CommandLine commandLine;
#endif

void ShowStartupErrorBox(int, const char* text) { frontEnd->ShowStartupError(text); }

#if defined(_WIN32)
void MarkWrittenFile(void* mark, const char* path) {
  tvk::ApplyZoneMark(*static_cast<const tvk::ZoneMark*>(mark), path);
}
#endif

int Run(void* instance) {
  char path[tvk::kPathSize];
  path[0] = 0;
  tvk::GetProgramPath(path, sizeof path);
#if defined(_WIN32)
  // Files from a downloaded program carry its download mark.
  static tvk::ZoneMark zoneMark;
  tvk::PrepareZoneMark(&zoneMark, tvk::SystemStreamLayer(), path);
  if (zoneMark.present) archiveReader.SetFileWrittenHook(MarkWrittenFile, &zoneMark);
#endif
  frontEnd = tvk::PlatformUi(instance);
  tvk::SetStartupErrorShow(ShowStartupErrorBox);
  // A failed start-up has shown its box; its code is the exit code (-1 and
  // -2 reach a Linux shell as 255 and 254).
  int code = tvk::RunStartup(path, &tvk::startupState);
  if (code != 0) return code;
  tvk::startupState.instance = instance;

#if defined(_WIN32)
  static tvk::Flow flow(&tvk::startupState, &archiveReader, frontEnd);
  tvk::SetInterruptFlag(&flow.run.cancelRequested);
  int exitCode = tvk::startupState.settings.quiet ? flow.QuietRun() : flow.DialogRun();
#else
  // Start-up errors went to the terminal already; from here on --quiet
  // shows errors alone.
  if (commandLine.quiet) frontEnd = tvk::QuietUi();
  static tvk::Flow flow(&tvk::startupState, &archiveReader, frontEnd);
  tvk::SetInterruptFlag(&flow.run.cancelRequested);
  int exitCode = tvk::RunCommandLine(commandLine, &flow);
#endif
  tvk::SetInterruptFlag(nullptr);
  return exitCode;
}

}  // namespace

#if defined(_WIN32)
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  tvk::GuardDllSearch();
  return Run(instance);
}
#else
int main(int argc, char** argv) {
  int code = tvk::ParseCommandLine(argc, argv, &commandLine);
  return code >= 0 ? code : Run(nullptr);
}
#endif
