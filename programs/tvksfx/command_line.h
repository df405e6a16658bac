// The Linux self-extractor's own options: list, check, extract into a given
// folder, and a run that asks nothing. The Windows program has no command
// line and does not build this.
#ifndef TVK_PROGRAMS_TVKSFX_COMMAND_LINE_H
#define TVK_PROGRAMS_TVKSFX_COMMAND_LINE_H

#include <stdint.h>

#include "host/flow.h"
#include "host/ui.h"
#include "platform/platform.h"

namespace tvk {

constexpr uint32_t kActionRun = 0;
constexpr uint32_t kActionList = 1;
constexpr uint32_t kActionCheck = 2;

constexpr int kExitBadOption = 2;

struct CommandLine {
  uint32_t action;     // kAction*
  uint32_t quiet;      // no questions, no progress, no boxes but errors
  char target[kPathSize];  // the folder given with --target (internal form), or empty
};

// Reads argv into *line. Answers -1 to go on, or the exit code when the run
// ends here: 0 after the usage text (--help), kExitBadOption after a message on
// standard error.
int ParseCommandLine(int argc, char** argv, CommandLine* line);

// The front end of --quiet: shows nothing but error boxes (on standard
// error), and refuses every question, which ends the run as a cancel would.
Ui* QuietUi();

// The run the command line asks for, after start-up: the exit code.
int RunCommandLine(const CommandLine& line, Flow* flow);

}  // namespace tvk

#endif
