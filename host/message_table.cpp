// The language text's 74 messages.
#include <stdio.h>
#include <string.h>

#include "host/startup.h"

namespace tvk {
namespace {

// The profile reader gives at most 2047 characters; on Linux the UTF-8 form
// of them may take three bytes each.
constexpr uint32_t kValueSize = kProfileValueLimit + 1;
constexpr uint32_t kConvertedSize = kProfileValueLimit * kTextScale + 1;

}  // namespace

uint32_t ConvertEscapes(char* text) {
  char* out = text;
  const char* in = text;
  while (*in) {
    if (in[0] == '\\' && in[1] == 'n') {
      *out++ = '\r';
      *out++ = '\n';
      in += 2;
    } else if (in[0] == '\\' && in[1] == 't') {
      *out++ = '\t';
      in += 2;
    } else if (in[0] == '\\' && in[1] != '\0') {
      // The pair is copied whole, so "\\n" stays a backslash and "\n" is
      // never seen in its second half.
      *out++ = *in++;
      *out++ = *in++;
    } else {
      *out++ = *in++;
    }
  }
  *out = '\0';
  return static_cast<uint32_t>(out - text);
}

uint32_t CountPercentS(const char* text) {
  uint32_t count = 0;
  for (const char* p = text; p[0] && p[1]; ++p) {
    if (p[0] == '%' && p[1] == 's') ++count;
  }
  return count;
}

const char* MessageText(const MessageTable& table, uint32_t k) {
  if (k >= fmt::kMessageCount || !table.text[k]) return "";
  return table.text[k];
}

void FreeMessageTable(MessageTable* table) {
  for (uint32_t k = 0; k < fmt::kMessageCount; ++k) {
    MemFree(table->text[k]);
    table->text[k] = nullptr;
  }
}

int LoadMessageTable(const char* iniPath, MessageTable* table) {
  char* value = static_cast<char*>(MemAlloc(kConvertedSize));
  if (!value) return 0;
  int ok = 0;
  ProfileHold(iniPath);
  if (ReadProfileString("description", "0", value, kValueSize, iniPath) != 0) {
    ok = 1;
    for (uint32_t k = 0; k < fmt::kMessageCount && ok; ++k) {
      char key[12];
      Format(key, sizeof key, "%u", k);
      uint32_t length = ReadProfileString("data", key, value, kValueSize, iniPath);
      if (length == 0 || value[0] == '\0') {
        ok = 0;
        break;
      }
      length = AnsiToSystem(value, length, kConvertedSize);
      value[length] = '\0';
      char* copy = StrDuplicate(value);
      if (!copy) {
        ok = 0;
        break;
      }
      ConvertEscapes(copy);
      MemFree(table->text[k]);
      table->text[k] = copy;
    }
    // Message 34 is formatted with four strings.
    if (ok && CountPercentS(table->text[34]) != 4) ok = 0;
  }
  ProfileRelease();
  MemFree(value);
  return ok;
}

}  // namespace tvk
