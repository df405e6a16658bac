// Starting the file named to run after extraction.
#ifndef TVK_HOST_RUN_AFTER_H
#define TVK_HOST_RUN_AFTER_H

#include <stdint.h>


namespace tvk {

// Opens file (relative to the current folder, or full) with its parameters
// the way the platform opens a file: programs are started, other files go to
// their associated program. Not waited for. False when it cannot start.
// parentIsMain: the main dialog owns what the shell may show.
bool OpenWithShell(const char* file, const char* parameters, bool parentIsMain);

// Splits parameters like a POSIX shell splits words (blanks separate; single
// quotes, double quotes and backslashes honoured; nothing expanded). The words
// are written, each terminated, into buffer; words[] points into it. Answers
// the count, or -1 for an unterminated quote or when they do not fit.
int SplitShellWords(const char* text, char* buffer, uint32_t bufferSize, char** words,
                    uint32_t maxWords);


}  // namespace tvk

#endif
