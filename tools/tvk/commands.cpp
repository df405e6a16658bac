#include "tools/tvk/commands.h"

namespace tvk::cli {

namespace {

// The masks of l and x (and -x of a), said once for both help texts.
#define TVK_MASKS_HELP \
  "Masks: \"*\" and \"?\" are wildcards, and \"/\" separates folders. A mask\n" \
  "whose last part starts with \"*\" matches in its folder and every folder\n" \
  "below it (\"*.txt\" is every .txt file, \"doc/*\" everything under doc);\n" \
  "otherwise it matches in its own folder only. A name without wildcards\n" \
  "that is a folder selects the folder and everything under it.\n" \
  "\n"

const char kHelpAdd[] =
    "Usage: tvk a [OPTIONS] ARCHIVE PATH...\n"
    "\n"
    "Creates ARCHIVE from the files and folders given; folders are added with\n"
    "everything below them. Paths are stored relative: a leading root and any\n"
    "\".\" or \"..\" parts are dropped. A symbolic link is stored as a link\n"
    "(its target as written, wherever it points; readers that know no links\n"
    "see a small file holding the target). Each file keeps its modification time (local DOS time and exact\n"
    "file times), its read-only attribute and its Unix mode bits.\n"
    "\n"
    "Options:\n"
    "  -m0 .. -m4          store (0) to best (4) packing; default -m3 (see Levels)\n"
    "  -mtN                pack with N threads (default: one per processor this\n"
    "                      process may use, as many as fit in about 1 GiB);\n"
    "                      files of an archive that is not solid are packed\n"
    "                      side by side, and at -m4 a large file's match search\n"
    "                      runs beside its parse; the archive is the same for\n"
    "                      every N from 2 on (a solid one also for -mt1)\n"
    "  -s                  solid archive: entries continue each other's packing\n"
    "  -vSIZE              split into volumes of SIZE bytes (units b, k, m, g in\n"
    "                      powers of 1024, e.g. -v10m); the volumes after ARCHIVE\n"
    "                      are named like it with .001, .002, ...\n"
    "  -pSECRET            encrypt every file with this password (AES-256)\n"
    "  -p                  ask for the password (without echo on a terminal)\n"
    "  --aes128            encrypt with AES-128 instead\n"
    "  --encrypt-headers   encrypt the list of entries as well (needs -p)\n"
    "  -c TEXT             archive comment\n"
    "  -z FILE             archive comment read from FILE\n"
    "  -f                  replace ARCHIVE when it exists\n"
    "  -x MASK, --exclude MASK\n"
    "                      leave out the files and folders MASK matches, as\n"
    "                      stored (repeatable; masks as in tvk x --help)\n"
    "  -L, --dereference   store what links point to instead; a folder met again\n"
    "                      inside itself (a loop) is reported, not packed again\n"
    "  --no-verify         do not read each packed stream back before it is\n"
    "                      written (by default a stream that does not decode to\n"
    "                      its file is packed again more simply, with a warning)\n"
    "  --sign KEY --cert CERT\n"
    "                      seal every volume with a signer key and its\n"
    "                      certificate (SHA-256; see tvk sign --help for\n"
    "                      --digest and --weak)\n"
    "  -q                  quiet: errors only (and repacked streams)\n"
    "\n"
    "Names, comments and passwords are stored in Windows-1252 when every\n"
    "character has a form there, so archives open alike on Windows and Linux;\n"
    "otherwise names and passwords are stored in UTF-8 (with a warning) and\n"
    "comments in UTF-16.\n"
    "\n"
    "Levels, measured on one core over 32 MB of text, programs and sound\n"
    "in this version: -m1 packs about 14 MB/s; -m3 about 9.5 MB/s, 4% smaller;\n"
    "-m4 about 1.4 MB/s (7 times -m3's time) for 8% less than -m3. -s packs\n"
    "each level smaller and slower: -m3 -s is 16% below -m3 at 2.4 times its\n"
    "time, and -m4 -s another 11% below -m3 -s at 4 times that. The best level\n"
    "pays on archives that are made once and unpacked often.\n"
    "\n"
    "Two different files that would be stored under one name are refused (the\n"
    "same file given twice is stored once).\n"
    "\n"
    "Exit codes: 0 success, 1 usage error, 2 a file could not be read or\n"
    "written (the archive holds everything else), or the input was refused.\n";

// What u and d share: how the archive is rewritten.
#define TVK_REWRITE_HELP \
  "The archive is written anew under a temporary name beside it and takes\n" \
  "its place only when complete and on disk; on any error, or Ctrl+C, the\n" \
  "temporary file is removed and ARCHIVE is left as it was. Entries that\n" \
  "stay are copied as stored (encrypted ones keep their encryption), with\n" \
  "the archive comment and header. In a solid archive every entry builds\n" \
  "on the ones before it, so there any change packs every entry again, in\n" \
  "its order and with the options given. An archive with encrypted heads\n" \
  "needs its password (-p, or asked) and keeps its heads encrypted. A\n" \
  "signed archive no longer matches its signature: it is written unsigned,\n" \
  "with a warning, unless --sign KEY --cert CERT seal it again. Volume sets\n" \
  "and self-extractors are refused: extract them and make them again.\n" \
  "\n"

const char kHelpUpdate[] =
    "Usage: tvk u [OPTIONS] ARCHIVE PATH...\n"
    "\n"
    "Updates ARCHIVE from the files and folders given, walked as tvk a walks\n"
    "them: a file whose stored name is an entry's replaces that entry when its\n"
    "size or modification time differs, files the archive lacks are added\n"
    "behind the entries, and every other entry is kept. When nothing differs,\n"
    "ARCHIVE is left untouched. A file that cannot be read leaves ARCHIVE as\n"
    "it was.\n"
    "\n"
    TVK_REWRITE_HELP
    "Options:\n"
    "  -m0 .. -m4          level of the entries packed (default -m3)\n"
    "  -mtN                packing threads, as for tvk a\n"
    "  -s                  make the archive solid (packs every entry again)\n"
    "  -pSECRET, -p        encrypt the new entries with this password (AES-256;\n"
    "                      --aes128 for AES-128); the password of encrypted heads\n"
    "  -x MASK, --exclude MASK\n"
    "                      leave out the files and folders MASK matches\n"
    "  --no-verify         as for tvk a\n"
    "  --sign KEY --cert CERT\n"
    "                      seal the new archive (see tvk sign --help)\n"
    "  -q                  quiet: errors only\n"
    "\n"
    "Exit codes: 0 success (or nothing to update), 1 usage error or a volume\n"
    "set or self-extractor, 2 a file could not be read or written (ARCHIVE is\n"
    "left as it was), 3 not an archive, 4 damaged, 5 cannot open, 8 wrong\n"
    "password.\n";

const char kHelpDelete[] =
    "Usage: tvk d [OPTIONS] ARCHIVE MASK...\n"
    "\n"
    "Deletes the entries of ARCHIVE that the masks select; a folder's name\n"
    "selects the folder and everything under it.\n"
    "\n"
    TVK_REWRITE_HELP
    TVK_MASKS_HELP
    "Options:\n"
    "  -x MASK, --exclude MASK\n"
    "                      keep the entries MASK matches (repeatable)\n"
    "  -pSECRET            password of encrypted heads or, in a solid archive,\n"
    "                      of the encrypted entries packed again (-p alone asks)\n"
    "  -m0 .. -m4, -mtN    level and threads when a solid archive is packed again\n"
    "  --sign KEY --cert CERT\n"
    "                      seal the new archive (see tvk sign --help)\n"
    "  -q                  quiet: errors only\n"
    "\n"
    "Exit codes: 0 success, 1 usage error, a volume set or self-extractor, or\n"
    "a mask that matched no entry (the entries the others matched are\n"
    "deleted), 2 a file could not be written (ARCHIVE is left as it was),\n"
    "3 not an archive, 4 damaged, 5 cannot open, 8 wrong password.\n";

const char kHelpList[] =
    "Usage: tvk l [OPTIONS] ARCHIVE [MASK...]\n"
    "\n"
    "Lists the entries of ARCHIVE (those matching the masks, if any): attributes,\n"
    "size, packed size, modification time, method, encryption and name; then\n"
    "the archive's comment, whether it is solid, a volume set, has a recovery\n"
    "record or encrypted heads, and who signed it when it is signed.\n"
    "\n"
    "Options:\n"
    "  -pSECRET   password for encrypted heads (-p alone asks)\n"
    "  -x MASK, --exclude MASK\n"
    "             leave out the entries MASK matches (repeatable)\n"
    "  -q         quiet: errors only\n"
    "\n"
    TVK_MASKS_HELP
    "Exit codes: 0 success, 1 usage error or a mask that matched no entry,\n"
    "3 not an archive, 4 damaged, 5 cannot open,\n"
    "7 memory, 8 other (signature mismatch...), 9 cancelled.\n";

const char kHelpTest[] =
    "Usage: tvk t [OPTIONS] ARCHIVE\n"
    "\n"
    "Decodes every entry of ARCHIVE and checks its CRC, writing nothing. A\n"
    "signed archive's signature is checked first; when it does not match or\n"
    "cannot vouch for the archive, you are asked whether to go on.\n"
    "\n"
    "Options:\n"
    "  -pSECRET   password (-p alone asks). The password is handed out for every\n"
    "             question until it fails; then you are asked. When standard\n"
    "             input is not a terminal, answers are read one per line and the\n"
    "             end of input cancels.\n"
    "  -q         quiet: errors only\n"
    "\n"
    "Exit codes: 0 success, 3 not an archive, 4 CRC error or invalid data or\n"
    "unsupported method, 5 a file cannot be opened, 7 memory, 8 other (wrong\n"
    "password...), 9 cancelled.\n";

const char kHelpExtract[] =
    "Usage: tvk x [OPTIONS] ARCHIVE [MASK...]\n"
    "\n"
    "Extracts the entries of ARCHIVE (those matching the masks, if any) with\n"
    "their folders, times and attributes. A signed\n"
    "archive's signature is checked first; when it does not match or cannot\n"
    "vouch for the archive, you are asked whether to go on. Further volumes\n"
    "are looked for beside ARCHIVE; when one is missing you are asked for\n"
    "its folder.\n"
    "\n"
    "Options:\n"
    "  -o DIR     extract into DIR (default: the current folder)\n"
    "  -y         replace existing files without asking\n"
    "  -n         never replace an existing file (keep it, extract the rest)\n"
    "  -x MASK, --exclude MASK\n"
    "             leave out the entries MASK matches (repeatable)\n"
    "  -pSECRET   password (-p alone asks); handed out for every question until\n"
    "             it fails, then you are asked\n"
    "  -q         quiet: errors only\n"
    "\n"
    TVK_MASKS_HELP
    "Questions (password, replace yes/no/all/skip all/cancel, the folder of a\n"
    "missing volume) are read from standard input, one answer per line when it\n"
    "is not a terminal; the end of input cancels. Ctrl+C stops after deleting\n"
    "the file being written.\n"
    "\n"
    "Exit codes: 0 success, 1 usage error or a mask that matched no entry (the\n"
    "others were extracted), 3 not an archive, 4 CRC error or invalid data or\n"
    "unsupported method, 5 a file cannot be opened or created, 6 disk full,\n"
    "7 memory, 8 other (wrong password, signature mismatch...), 9 cancelled.\n";

const char kHelpSfx[] =
    "Usage: tvk sfx [OPTIONS] OUTPUT ARCHIVE\n"
    "\n"
    "Builds a self-extractor OUTPUT: a self-extractor program with ARCHIVE, a\n"
    "language text and settings appended. OUTPUT starts the extraction when run.\n"
    "The Linux OUTPUT also takes --list, --check, --target DIR and --quiet\n"
    "(OUTPUT --help).\n"
    "ARCHIVE may be the first volume of a set: its further volumes are copied\n"
    "beside OUTPUT, named OUTPUT.001, OUTPUT.002, ...\n"
    "\n"
    "Options:\n"
    "  --sfx PROGRAM       the self-extractor program: the static Linux tvksfx\n"
    "                      (the default) or the Windows tvksfx.exe. Without it\n"
    "                      tvk looks for tvksfx beside itself, then in\n"
    "                      ../lib/tarvik/ beside itself (where an install puts\n"
    "                      it), then in the build it was made in\n"
    "  --language LANG     the texts: en (default), de, or a language file\n"
    "  --settings FILE     settings, one key = value a line (below)\n"
    "  -f                  replace OUTPUT when it exists\n"
    "\n"
    "  With the Windows program only (changed in the copy inside OUTPUT):\n"
    "  --icon FILE.ico     the program's icon: every size and depth of the file\n"
    "  --version KEY=VALUE a string of the version record (repeatable); KEY is\n"
    "                      CompanyName, ProductName, ProductVersion,\n"
    "                      FileVersion, FileDescription, LegalCopyright or\n"
    "                      OriginalFilename; the two versions (1.2.3.4) also\n"
    "                      set the numeric versions\n"
    "  --elevation LEVEL   the rights the program asks for at start: asInvoker\n"
    "                      (the default), highestAvailable, requireAdministrator\n"
    "  -q                  quiet: errors only\n"
    "\n"
    "Settings keys (lines starting with # or ; are comments; \\n in title,\n"
    "info and about is a line break):\n"
    "  title = TEXT        caption of the information box shown first\n"
    "  info = TEXT         text of that box (none: no box)\n"
    "  info-style = N      its buttons: 0 OK, 1 Yes/No, 2 OK/Cancel\n"
    "  about = TEXT        text put before the about box's own\n"
    "  target = FOLDER     where to extract: relative to the current folder, or\n"
    "                      starting with a folder macro such as %Temp%,\n"
    "                      %AppData%, %Documents%; empty: the program's folder\n"
    "  run-after = FILE|PARAMETERS\n"
    "                      a file of the target started after extraction, with\n"
    "                      parameters after the bar (quoted words kept whole)\n"
    "  overwrite = 0|1     1: replace existing files without asking\n"
    "  quiet = 0|1         1: no dialog; extract at once\n"
    "  mode = 0|2          0 (the default): target and run-after as above;\n"
    "                      2: command mode: command (with parameters after a\n"
    "                      bar) is the file started afterwards, every file is\n"
    "                      replaced, and target is taken as it stands\n"
    "  command = TEXT      mode 2: the command\n"
    "  second-command = TEXT\n"
    "                      mode 2: a second command kept in the payload\n"
    "\n"
    "Exit codes: 0 success, 1 usage error, 2 a file could not be read or\n"
    "written, or the settings were refused.\n";

const char kHelpSign[] =
    "Usage: tvk sign --key SIGNER.pem --cert SIGNER.cert [-pSECRET] ARCHIVE\n"
    "\n"
    "Signs ARCHIVE with a signer key and its certificate: the end marker of\n"
    "every volume is replaced by a signature block over that volume (an\n"
    "existing signature is replaced), since a signature covers only the volume\n"
    "that holds it. The digest is SHA-256.\n"
    "\n"
    "  --digest sha512 --weak, --digest md5 --weak\n"
    "             the format's other digests, for readers that know no other.\n"
    "             Readers of this version show such a signature as one that\n"
    "             cannot vouch for the archive: the 512-bit digest never sees\n"
    "             some bytes (the first four of every 8-byte group whose last\n"
    "             byte is 0x80 or more), and MD5 collisions let whoever hands\n"
    "             you the archive to sign make a second one with the same digest.\n";

const char kHelpKeygen[] =
    "Usage: tvk keygen [--bits 1024] KEY.pem\n"
    "\n"
    "Makes an RSA key pair and writes it as PEM.\n";

const char kHelpCert[] =
    "Usage: tvk cert [--key MASTER.pem] --name SIGNER SIGNER.pem CERT\n"
    "\n"
    "Issues a signer certificate: the public half of SIGNER.pem and the signer's\n"
    "name, sealed with the master key, written to CERT (384 bytes). Without\n"
    "--key the master key of this build is used (the key pair made when the\n"
    "build was configured, kept in its keys folder).\n";

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"a", "create an archive from files and folders",
       {"-m", "-mt", "-s", "-v", "-p", "--aes128", "--encrypt-headers", "-c", "-z", "-f", "--sign", "--cert",
        "--digest", "--no-verify", "--weak", "-x", "--exclude", "-L", "--dereference"},
       kHelpAdd, RunAdd},
      {"u", "add new and changed files to an archive",
       {"-m", "-mt", "-s", "-p", "--aes128", "--sign", "--cert", "--digest", "--no-verify", "--weak", "-x",
        "--exclude"},
       kHelpUpdate, RunUpdate},
      {"d", "delete entries from an archive",
       {"-m", "-mt", "-p", "--sign", "--cert", "--digest", "--weak", "-x", "--exclude"}, kHelpDelete, RunDelete},
      {"l", "list an archive", {"-p", "-x", "--exclude"}, kHelpList, RunList},
      {"t", "test every entry of an archive", {"-p"}, kHelpTest, RunTest},
      {"x", "extract an archive", {"-p", "-o", "-y", "-n", "-x", "--exclude"}, kHelpExtract, RunExtract},
      {"sfx", "build a self-extractor", {"--sfx", "--settings", "--language", "--icon", "--version", "--elevation", "-f"},
       kHelpSfx, RunSfx},
      {"sign", "sign an existing archive", {"--key", "--cert", "--digest", "--weak", "-p"}, kHelpSign, RunSign},
      {"keygen", "make an RSA key pair", {"--bits", "-f"}, kHelpKeygen, RunKeygen},
      {"cert", "issue a signer certificate", {"--key", "--name", "-f"}, kHelpCert, RunCert},
  };
  return commands;
}

}  // namespace tvk::cli
