// The commands of tvk. Each takes its parsed arguments and answers the
// process exit code.
#ifndef TVK_TOOLS_COMMANDS_H
#define TVK_TOOLS_COMMANDS_H

#include <string>
#include <vector>

#include "tools/tvk/args.h"
#include "tools/tvk/read_support.h"

namespace tvk::cli {

struct Command {
  const char* name;
  const char* summary;
  std::vector<std::string> options;  // what ParseArgs accepts
  const char* help;                  // tvk COMMAND --help
  int (*run)(const Args& args);
};

const std::vector<Command>& Commands();

int RunAdd(const Args& args);
int RunList(const Args& args);
int RunTest(const Args& args);
int RunExtract(const Args& args);
int RunSfx(const Args& args);
int RunSign(const Args& args);
int RunKeygen(const Args& args);
int RunCert(const Args& args);
int RunUpdate(const Args& args);
int RunDelete(const Args& args);

// The entries of args' archive that the masks select (all without masks;
// -x as l takes it) in their order, asking for the password of encrypted
// heads as l does. Answers the reader's code, with a message for codes
// the reader's own text does not explain.
uint32_t ListEntries(const Args& args, const std::vector<std::string>& masks, std::vector<ListedEntry>* entries,
                     ArchiveInfo* info, std::string* message);
// Warns of every mask that selects no entry of the listing; false when one
// did not.
bool WarnUnmatched(const std::vector<std::string>& masks, const std::vector<ListedEntry>& entries);

// The password bytes for the archive: Windows-1252 when every character has
// a form there, the typed UTF-8 otherwise (with a warning).
std::string PasswordBytes(const std::string& typed);

}  // namespace tvk::cli

#endif
