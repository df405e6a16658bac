// What tvk asks of the system, in one place: files and folders by UTF-8
// paths, the terminal, Ctrl+C, and the text of the archive reader. Linux
// and Windows each implement it (os_posix.cpp, os_win32.cpp); the commands
// stay free of either.
#ifndef TVK_TOOLS_OS_H
#define TVK_TOOLS_OS_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "writer/utf8_files.h"

namespace tvk::cli::os {

enum class Kind { kFile, kFolder, kLink, kOther };
// What a file is, whatever path names it: the device and inode on Linux,
// the volume serial and file index on Windows.
using FileKey = std::pair<uint64_t, uint64_t>;

struct FileInfo {
  Kind kind = Kind::kOther;
  uint64_t size = 0;
  int64_t modifiedSeconds = 0;  // Unix time
  uint32_t modifiedNanoseconds = 0;
  bool writable = true;  // by its owner
  // Type and permission bits as Linux keeps them; 0 where the system has
  // none (Windows), and then the archive gets none either.
  uint32_t unixMode = 0;
  FileKey key{0, 0};
};

// followLinks: what a link leads to rather than the link. False with the
// system's reason; *missing tells whether nothing is there.
bool Stat(const std::string& path, bool followLinks, FileInfo* info, std::string* error = nullptr,
          bool* missing = nullptr);
// The names in a folder, without "." and "..".
bool ListFolder(const std::string& path, std::vector<std::string>* names, std::string* error);
// A link's target as it stands (systems without links have none to read).
bool ReadLink(const std::string& path, std::string* target, std::string* error);
// Whether the user may write the file, or make files in the folder.
bool MayWrite(const std::string& path, bool folder, std::string* error);

// std::fopen for a UTF-8 path on either system.
inline std::FILE* OpenFile(const std::string& path, const char* mode) { return OpenFileUtf8(path, mode); }
int SeekTo(std::FILE* f, uint64_t offset);
// Cuts the file to nothing and goes to its start.
bool EmptyFile(std::FILE* f);
bool RemoveFile(const std::string& path);
// A file for reading and writing under a new name that starts with prefix,
// which no one else can take, gone when closed or when the run ends.
std::FILE* OpenScratchFile(const std::string& prefix, std::string* error);
// A new empty file (or folder) under a name that starts with prefix and
// that was free: *path receives the name.
bool MakeUniqueFile(const std::string& prefix, std::string* path, std::string* error);
bool MakeUniqueFolder(const std::string& prefix, std::string* path, std::string* error);
// Gives a finished file the Unix permission bits (where there are such)
// and puts it on disk.
bool CommitFile(const std::string& path, uint32_t unixMode, std::string* error);
// Puts from in to's place (to may exist) and puts the folder's change on
// disk.
bool PutInPlace(const std::string& from, const std::string& to, std::string* error);
// Lets everyone run the file where the system has such a permission.
void MarkRunnable(const std::string& path);

// '/' on Linux; '\\' and '/' on Windows.
bool IsSeparator(char c);
// The path without a drive ("C:") or share ("\\\\server\\share") in
// front, where the system has such; a leading separator stays.
std::string WithoutDrive(const std::string& path);
// The current folder joined to a relative path.
std::string AbsolutePath(const std::string& path);
// The folder this program's file lies in, with a separator at its end, or
// nothing when the system does not say.
std::string ProgramFolder();
// The file name of the self-extractor program of this system.
const char* SelfExtractorName();
unsigned ProcessorCount();
// The command line as UTF-8.
std::vector<std::string> Arguments(int argc, char** argv);
// The text of errno.
std::string ErrorText();

// The archive reader's paths and names are in the system's text: UTF-8 on
// Linux, the ANSI code page on Windows. tvk holds UTF-8.
bool ToReaderText(const std::string& utf8, std::string* text);
std::string FromReaderText(const std::string& text);

// The terminal: set up once for UTF-8 output and line control codes.
void SetUpConsole();
bool InputIsTerminal();
bool OutputIsTerminal();
// One line of a file or pipe without its line end ("\n" or "\r\n");
// nothing at the end of input.
inline std::optional<std::string> ReadLine(std::FILE* from) {
  std::string line;
  int c;
  bool any = false;
  while ((c = std::fgetc(from)) != EOF) {
    any = true;
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
  if (!any) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}
// One line typed at the terminal (echo off for secrets); nothing at the
// end of input.
std::optional<std::string> ReadTerminalLine(bool echo);
// Ctrl+C calls handler and does not end the program.
void CatchInterrupt(void (*handler)());

}  // namespace tvk::cli::os

#endif
