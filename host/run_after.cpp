// Splitting the run-after parameters into words where no shell is started.
#include "host/run_after.h"

namespace tvk {

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
}  // namespace

int SplitShellWords(const char* text, char* buffer, uint32_t bufferSize, char** words,
                    uint32_t maxWords) {
  uint32_t used = 0;
  uint32_t count = 0;
  const char* p = text ? text : "";
  for (;;) {
    while (IsBlank(*p)) ++p;
    if (!*p) break;
    if (count == maxWords) return -1;
    char* word = buffer + used;
    // Every byte of the word, and its terminator, must fit.
    auto put = [&](char c) {
      if (used + 1 >= bufferSize) return false;
      buffer[used++] = c;
      return true;
    };
    while (*p && !IsBlank(*p)) {
      char c = *p++;
      if (c == '\'') {
        while (*p && *p != '\'') {
          if (!put(*p++)) return -1;
        }
        if (!*p) return -1;
        ++p;
      } else if (c == '"') {
        while (*p && *p != '"') {
          // Inside double quotes a backslash quotes only these.
          if (*p == '\\' && (p[1] == '"' || p[1] == '\\' || p[1] == '$' || p[1] == '`')) ++p;
          if (*p == '\\' && p[1] == '\n') {
            p += 2;
            continue;
          }
          if (!put(*p++)) return -1;
        }
        if (!*p) return -1;
        ++p;
      } else if (c == '\\') {
        if (!*p) break;  // a trailing backslash quotes nothing
        if (*p == '\n') {
          ++p;
          continue;
        }
        if (!put(*p++)) return -1;
      } else {
        if (!put(c)) return -1;
      }
    }
    if (used >= bufferSize) return -1;
    buffer[used++] = 0;
    words[count++] = word;
  }
  return static_cast<int>(count);
}

}  // namespace tvk
