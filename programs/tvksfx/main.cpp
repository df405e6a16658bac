// The self-extractor's entry point: the program's own path, start-up, then
// the quiet path or the main dialog, and the exit code of the run. There are
// no command-line arguments.
#include "archive/reader.h"
#include "host/flow.h"
#include "host/startup.h"
#include "host/ui.h"
#include "platform/platform.h"

#if defined(_WIN32)
#include <windows.h>

#include "programs/tvksfx/win32/dll_guard.h"
#include "programs/tvksfx/win32/zone_mark.h"
#endif

namespace {

// The one archive handler of the process.
tvk::ArchiveReader archiveReader;
tvk::Ui* frontEnd = nullptr;

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

  static tvk::Flow flow(&tvk::startupState, &archiveReader, frontEnd);
  tvk::SetInterruptFlag(&flow.run.cancelRequested);
  int exitCode = tvk::startupState.settings.quiet ? flow.QuietRun() : flow.DialogRun();
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
int main() { return Run(nullptr); }
#endif
