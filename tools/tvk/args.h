// The command line of tvk: COMMAND [OPTIONS] ARCHIVE [PATHS or MASKS...],
// options anywhere before "--". Each command names the options it takes;
// anything else is a usage error (exit code 1).
#ifndef TVK_TOOLS_ARGS_H
#define TVK_TOOLS_ARGS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tvk::cli {

// Exit codes of the commands that do not drive the reader.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitFile = 2;
// tvk l and x: a mask selected no entry (the others were served).
constexpr int kExitNoMatch = 1;

struct Args {
  bool help = false;
  bool quiet = false;
  std::optional<int> level;            // -m0 .. -m4
  std::optional<unsigned> threads;     // -mtN: packing threads
  bool solid = false;                  // -s
  std::optional<uint64_t> volumeSize;  // -v10m
  bool passwordGiven = false;          // -p or -pSECRET
  bool passwordOnly = false;           // no question: a wrong -p fails (set by u and d)
  std::string password;                // as typed (UTF-8); empty with -p alone
  bool aes128 = false;
  bool encryptHeaders = false;
  std::optional<std::string> comment;      // -c TEXT
  std::optional<std::string> commentFile;  // -z FILE
  bool force = false;                      // -f
  bool noVerify = false;                   // --no-verify
  bool dereference = false;                // -L, --dereference: follow links (a)
  std::optional<std::string> outputDir;    // -o DIR
  bool yes = false;                        // -y
  std::optional<std::string> signKey;      // --sign KEY (a), --key KEY (sign)
  std::optional<std::string> cert;         // --cert FILE
  std::optional<std::string> sfx;          // --sfx PROGRAM
  std::optional<std::string> settings;     // --settings FILE
  std::optional<std::string> language;     // --language FILE
  std::optional<std::string> icon;         // --icon FILE.ico (sfx, Windows program)
  std::vector<std::string> versionFields;  // --version KEY=VALUE (repeatable)
  std::optional<std::string> elevation;    // --elevation LEVEL
  std::optional<std::string> name;         // --name TEXT
  std::optional<uint32_t> bits;            // --bits N
  std::optional<std::string> digest;       // --digest sha512|sha256|md5
  bool weak = false;                       // --weak: allow the digests that cannot vouch
  bool neverReplace = false;               // -n: keep every existing file (x)
  std::vector<std::string> excludes;       // -x MASK, --exclude MASK (repeatable)
  std::vector<std::string> positional;
};

// Parses argv[first...]. allowed: option names the command takes, such as
// "-m", "-s", "-v", "-p", "--aes128" ("-q" and "--help" always). On a usage
// error answers false with a message.
bool ParseArgs(int argc, char** argv, int first, const std::vector<std::string>& allowed,
               Args* args, std::string* error);

// "10m" -> 10 MiB; units b, k, m, g in powers of 1024; no unit: bytes.
std::optional<uint64_t> ParseSize(const std::string& text);

}  // namespace tvk::cli

#endif
