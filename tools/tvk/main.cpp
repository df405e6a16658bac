// tvk: creates, lists, tests and extracts TVK archives, and builds
// self-extractors and signatures.
#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] =
    "tvk " TVK_VERSION " - the Tarvik archiver\n"
    "\n"
    "Usage: tvk COMMAND [OPTIONS] ARCHIVE [PATHS or MASKS...]\n"
    "\n"
    "Commands:\n"
    "  a       create an archive from files and folders\n"
    "  l       list an archive\n"
    "  t       test every entry of an archive\n"
    "  x       extract an archive\n"
    "  sfx     build a self-extractor\n"
    "  sign    sign an existing archive\n"
    "  keygen  make an RSA key pair\n"
    "  cert    issue a signer certificate\n"
    "\n"
    "  tvk --help, tvk COMMAND --help   explain everything\n"
    "  tvk --version                    show the version\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    std::fputs(kUsage, stdout);
    return argc < 2 ? 1 : 0;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::printf("tvk %s\n", TVK_VERSION);
    return 0;
  }
  std::fprintf(stderr, "tvk: unknown command '%s' (try tvk --help)\n", argv[1]);
  return 1;
}
