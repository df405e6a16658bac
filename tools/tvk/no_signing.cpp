// tvk built without libcrypto (the Windows program): signing needs private
// keys, which only the Linux build handles. Every other command works, and
// signed archives are still checked when read.
#include "tools/tvk/commands.h"
#include "tools/tvk/console.h"
#include "tools/tvk/signer.h"

namespace tvk::cli {
namespace {

constexpr char kNeedsLinux[] = "needs the Linux build of tvk (this one has no signing)";

int Refuse(const char* command) {
  Console::Get().Error(std::string("tvk ") + command + " " + kNeedsLinux);
  return kExitUsage;
}

}  // namespace

bool LoadSigner(const Args&, SignerSetup*, std::string* error, bool* usage) {
  *error = std::string("signing (--sign, --cert) ") + kNeedsLinux;
  if (usage) *usage = true;
  return false;
}

ArchiveSignerFn MakeArchiveSigner(const SignerSetup&, std::string*) { return nullptr; }

int RunSign(const Args&) { return Refuse("sign"); }
int RunKeygen(const Args&) { return Refuse("keygen"); }
int RunCert(const Args&) { return Refuse("cert"); }

}  // namespace tvk::cli
