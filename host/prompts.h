// The callbacks through which the archive reader reports progress and asks
// its questions during a pass: entry start, the two passwords, progress,
// overwrite and next volume.
#ifndef TVK_HOST_PROMPTS_H
#define TVK_HOST_PROMPTS_H

#include <stdint.h>

#include "archive/reader.h"
#include "host/startup.h"
#include "platform/platform.h"

namespace tvk {

struct Flow;

// The callback record of the flow (every user value is the flow).
void FillCallbacks(Flow* flow, ReaderCallbacks* callbacks);

// Statics 1103 and 1105 of the overwrite dialog: message 20 (below 1024
// bytes, size in bytes) or 21 (size in KB), with the local date and time of
// the record's last-write time.
void SizeDateLine(const MessageTable& messages, const FindData& data, char* out, uint32_t size);

// The folder the user typed into the next-volume dialog, made usable: an
// empty answer is the expected folder, and a bare drive letter ("A" or
// "A:") gets its root.
void NextVolumeFolder(char* typed, uint32_t size, const char* expected);

// A password typed on Linux (UTF-8) in the form archives are keyed with:
// Windows-1252 when every character has a form there, else unchanged. In
// place; answers the new length.
uint32_t TypedPasswordToAnsi(char* text);

// Date and time texts of a UTC FILETIME in local time: the user's long date
// and time on Windows, 2026-12-08 and 14:05:09 elsewhere. force24 asks for
// the 24-hour form.
void DateTimeTexts(const FileTime& utc, bool force24, char* date, uint32_t dateSize, char* time,
                   uint32_t timeSize);


}  // namespace tvk

#endif
