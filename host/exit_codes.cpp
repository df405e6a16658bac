// Result codes to exit codes and to the message that reports them.
#include "host/exit_codes.h"

#include "host/message_format.h"
#include "platform/result_codes.h"

namespace tvk {

int ExitCodeFor(uint32_t resultCode) {
  switch (resultCode) {
    case kOk:
      return 0;
    case kErrCancelled:
      return 9;
    case kErrFileAccess:
    case kErrUnused28005:
    case kErrUnused28009:
      return 5;
    case kErrMemory:
      return 7;
    case kErrWrite:
      return 6;
    case kErrMethod:
    case kErrCrc:
    case kErrData:
      return 4;
    case kErrNotArchive82:
    case kErrNotArchive:
      return 3;
    default:
      return 8;
  }
}

uint32_t MessageFor(uint32_t resultCode) {
  switch (resultCode) {
    case kOk:
      return 0;
    case kErrCancelled:
      return 42;
    case kErrFileAccess:
      return 36;
    case kErrMemory:
      return 38;
    case kErrWrite:
      return 41;
    case kErrRunAfter:
      return 43;
    case kErrBadPassword:
      return 40;
    case kErrCrc:
      return 35;
    case kErrData:
      return 39;
    case kErrNotArchive82:
    case kErrNotArchive:
      return 37;
    default:
      return 44;
  }
}

void ErrorText(const MessageTable& messages, uint32_t resultCode, const char* programName,
               const char* runAfterName, char* out, uint32_t size) {
  uint32_t number = MessageFor(resultCode);
  if (number == 43) {
    FormatMessage1(out, size, messages, 43, ArgStr(NamePart(runAfterName ? runAfterName : "")));
  } else if (number == 44) {
    FormatMessage2(out, size, messages, 44, ArgUint(resultCode), ArgStr(programName));
  } else {
    FormatMessage0(out, size, messages, number);
  }
}

}  // namespace tvk
