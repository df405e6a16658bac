// What `tvk sfx` may change in the Windows self-extractor before the payload
// goes behind it: the program's icon, its version record and the execution
// level its manifest asks for. The reader never looks at any of these.
//
//   tvk::pe::ProgramChanges c;
//   c.icon = bytesOfAnIcoFile;            // empty: keep the icon
//   c.version = {{"CompanyName", "Example Ltd"}, {"FileVersion", "2.1"}};
//   c.elevation = "requireAdministrator"; // empty: keep the manifest
//   if (!tvk::pe::ChangeProgram(&program, c, &error)) ...
#ifndef TVK_WRITER_PROGRAM_RESOURCES_H
#define TVK_WRITER_PROGRAM_RESOURCES_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "writer/pe_resources.h"

namespace tvk::pe {

// The program's own icon group, the one Windows shows for the file.
constexpr uint16_t kProgramIconGroup = 101;

// The version strings that may be set; ProductVersion and FileVersion also
// give the numeric versions ("a.b.c.d", missing parts 0).
extern const char* const kVersionKeys[7];
bool IsVersionKey(const std::string& key);
// "CompanyName, ProductName, ..." for messages.
std::string VersionKeyList();

bool IsExecutionLevel(const std::string& level);

struct ProgramChanges {
  std::vector<uint8_t> icon;
  std::vector<std::pair<std::string, std::string>> version;  // key, UTF-8 value
  std::string elevation;
};

// Group 101's images are replaced by those of ico (an .ico file's bytes);
// images another group still shows stay.
bool ReplaceProgramIcon(std::vector<Resource>* tree, const std::vector<uint8_t>& ico, std::string* error);
bool SetVersionStrings(std::vector<Resource>* tree, const std::vector<std::pair<std::string, std::string>>& values,
                       std::string* error);
bool SetExecutionLevel(std::vector<Resource>* tree, const std::string& level, std::string* error);

// All of the above that c asks for, on a program file's bytes.
bool ChangeProgram(std::vector<uint8_t>* program, const ProgramChanges& c, std::string* error);

// The version record's strings of the first language block, as UTF-8, and
// its numeric file and product versions (most significant word first).
struct VersionInfo {
  std::vector<std::pair<std::string, std::string>> strings;
  uint64_t fileVersion = 0, productVersion = 0;
};
bool ReadVersionInfo(const std::vector<uint8_t>& record, VersionInfo* info, std::string* error);

}  // namespace tvk::pe

#endif
