// Text as it goes into archives: names, comments and the password bytes that
// keys are made from are 8-bit text. Windows-1252 when every character has a
// form there, so that archives open the same on every system; UTF-8 otherwise.
#ifndef TVK_WRITER_ARCHIVE_TEXT_H
#define TVK_WRITER_ARCHIVE_TEXT_H

#include <cstdint>
#include <string>
#include <vector>

namespace tvk {

// Converts UTF-8 text to Windows-1252. False (out untouched) when the input
// is not valid UTF-8 or holds a character that Windows-1252 cannot show.
bool Utf8ToWindows1252(const std::string& utf8, std::string* out);

// Windows-1252 bytes back to UTF-8 (the five unassigned bytes map to the C1
// controls of the same value, as Latin-1 would).
std::string Windows1252ToUtf8(const std::string& text);

// The archive's form of a text given in UTF-8: Windows-1252 when possible,
// otherwise the UTF-8 bytes unchanged (and *fellBack set, when given).
std::string ArchiveText(const std::string& utf8, bool* fellBack = nullptr);

// UTF-16LE code units of a UTF-8 text (for comments with flag 0x4000).
// Invalid sequences become U+FFFD.
std::vector<uint8_t> Utf8ToUtf16Le(const std::string& utf8);

}  // namespace tvk

#endif
