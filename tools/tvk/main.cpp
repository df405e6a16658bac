// tvk: creates, lists, tests and extracts TVK archives, and builds
// self-extractors and signatures.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/tvk/commands.h"
#include "tools/tvk/console.h"
#include "tools/tvk/os.h"

namespace {

const char kUsage[] =
    "tvk " TVK_VERSION " - the Tarvik archiver\n"
    "\n"
    "Usage: tvk COMMAND [OPTIONS] ARCHIVE [PATHS or MASKS...]\n"
    "Options may stand anywhere before \"--\".\n"
    "\n"
    "Commands:\n";

const char kUsageEnd[] =
    "\n"
    "  tvk --help, tvk COMMAND --help   explain everything\n"
    "  tvk --version                    show the version\n"
    "\n"
    "Exit codes of l, t and x: 0 success, 3 not an archive, 4 damaged data (CRC\n"
    "error, invalid data, unsupported method), 5 a file cannot be opened or\n"
    "created, 6 disk full, 7 out of memory, 8 other errors (wrong password,\n"
    "signature mismatch...), 9 cancelled. Other commands: 0 success, 1 usage\n"
    "error, 2 a file cannot be read or written or the input was refused.\n";

}  // namespace

int main(int argc, char** rawArgv) {
  using namespace tvk::cli;
  // Arguments as UTF-8 whatever the system hands over.
  std::vector<std::string> words = os::Arguments(argc, rawArgv);
  std::vector<char*> pointers;
  for (std::string& w : words) pointers.push_back(w.data());
  pointers.push_back(nullptr);
  argc = static_cast<int>(words.size());
  char** argv = pointers.data();
  os::SetUpConsole();
  const auto usage = [](std::FILE* to) {
    std::fputs(kUsage, to);
    for (const Command& c : Commands()) std::fprintf(to, "  %-7s %s\n", c.name, c.summary);
    std::fputs(kUsageEnd, to);
  };
  if (argc < 2) {
    usage(stderr);
    return kExitUsage;
  }
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    usage(stdout);
    return kExitOk;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::printf("tvk %s\n", TVK_VERSION);
    return kExitOk;
  }
  for (const Command& c : Commands()) {
    if (std::strcmp(argv[1], c.name) != 0) continue;
    Args args;
    std::string error;
    if (!ParseArgs(argc, argv, 2, c.options, &args, &error)) {
      std::fprintf(stderr, "tvk: %s (try tvk %s --help)\n", error.c_str(), c.name);
      return kExitUsage;
    }
    if (args.help) {
      std::fputs(c.help, stdout);
      return kExitOk;
    }
    Console::Get().quiet = args.quiet;
    return c.run(args);
  }
  std::fprintf(stderr, "tvk: unknown command '%s' (try tvk --help)\n", argv[1]);
  return kExitUsage;
}
