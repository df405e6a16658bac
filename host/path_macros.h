// Folder macros at the start of a target folder: "%Programs%", "%CommonFiles%",
// "%AppData%", "%LocalAppData%", "%Documents%", "%System%", "%Windows%",
// "%Temp%", tried in that order, matched without regard to case.
#ifndef TVK_HOST_PATH_MACROS_H
#define TVK_HOST_PATH_MACROS_H

#include <stdint.h>

namespace tvk {

// Folder ids of the shell; -1 is the temporary folder.
constexpr int kFolderDocuments = 5;
constexpr int kFolderAppData = 26;
constexpr int kFolderLocalAppData = 28;
constexpr int kFolderWindows = 36;
constexpr int kFolderSystem = 37;
constexpr int kFolderPrograms = 38;
constexpr int kFolderCommonFiles = 43;
constexpr int kFolderTemp = -1;

// Replaces a leading macro by its folder, joined to the rest of the text with
// one backslash (backslashes behind the macro are dropped). A text without a
// macro at its start is copied unchanged; an empty or absent text leaves out
// alone. Answers 1, or 0 when a macro matched but its folder was not found.
// text and out may be the same buffer.
int ExpandMacros(const char* text, char* out, uint32_t outSize);

// The name of the macro at the start of text, as the list above spells it,
// or nullptr when text begins with none.
const char* LeadingMacro(const char* text);

// The folder of a shell id (Windows: the shell, then the registry or the
// system's own answer; Linux: the stand-in folders). 1 on success, else 0.
int FolderById(int id, char* out, uint32_t outSize);

#if defined(_WIN32)
// A string value of the registry (root is an HKEY). Answers 1 when read;
// otherwise copies the default (when given) and answers 0.
int RegistryString(void* root, const char* key, const char* valueName, const char* defaultValue,
                   char* out, uint32_t outSize);
#endif

}  // namespace tvk

#endif
