// How a run ends: the exit code and the message of each result code.
#ifndef TVK_HOST_EXIT_CODES_H
#define TVK_HOST_EXIT_CODES_H

#include <stdint.h>

#include "host/startup.h"

namespace tvk {

// The process exit code of a run's result code.
int ExitCodeFor(uint32_t resultCode);
// The message that reports a result code: 35 to 43, or 44 for codes
// without a message of their own (0 for success).
uint32_t MessageFor(uint32_t resultCode);
// The error box text of a result code.
void ErrorText(const MessageTable& messages, uint32_t resultCode, const char* programName,
               const char* runAfterName, char* out, uint32_t size);


}  // namespace tvk

#endif
