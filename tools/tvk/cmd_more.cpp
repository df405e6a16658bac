// Commands whose building blocks are not part of this build yet.
#include "tools/tvk/commands.h"
#include "tools/tvk/console.h"

namespace tvk::cli {
namespace {

int NotAvailable(const char* command) {
  Console::Get().Error(std::string("tvk ") + command + " is not available in this build");
  return kExitUsage;
}

}  // namespace

int RunSfx(const Args&) { return NotAvailable("sfx"); }
int RunSign(const Args&) { return NotAvailable("sign"); }
int RunKeygen(const Args&) { return NotAvailable("keygen"); }
int RunCert(const Args&) { return NotAvailable("cert"); }

}  // namespace tvk::cli
