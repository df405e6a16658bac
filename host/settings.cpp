// The payload's settings record and the options derived from it.
#include <string.h>

#include "common/bytes.h"
#include "host/path_macros.h"
#include "host/startup.h"

namespace tvk {
namespace {

// Reads up to count bytes; what a short file does not give stays as it was.
uint32_t ReadUpTo(FileHandle file, void* buffer, uint32_t count) {
  uint8_t* p = static_cast<uint8_t*>(buffer);
  uint32_t got = 0;
  while (got < count) {
    int32_t n = FileRead(file, p + got, count - got);
    if (n <= 0) break;
    got += static_cast<uint32_t>(n);
  }
  return got;
}

uint32_t ReadU32(FileHandle file) {
  uint8_t b[4] = {0, 0, 0, 0};
  ReadUpTo(file, b, 4);
  return LoadU32(b);
}

// A string longer than its cap is read only up to the cap; the bytes beyond
// are not skipped (a valid record never holds them). Answers the length used.
uint32_t ReadString(FileHandle file, char* out, uint32_t outSize, uint32_t cap) {
  uint32_t length = ReadU32(file);
  if (length > cap) length = cap;
  uint32_t got = ReadUpTo(file, out, length);
  out[got] = '\0';
  got = AnsiToSystem(out, got, outSize);
  out[got] = '\0';
  return length;
}

}  // namespace

void ReadSettings(FileHandle file, PayloadSettings* s) {
  const uint32_t cap = fmt::kCapString;
  s->mode = ReadU32(file);
  s->reserved2 = ReadU32(file);
  s->reserved3 = ReadU32(file);
  ReadString(file, s->infoTitle, sizeof s->infoTitle, fmt::kCapInfoTitle);
  ReadString(file, s->infoText, sizeof s->infoText, fmt::kCapInfoText);
  s->infoBoxStyle = ReadU32(file);
  ReadString(file, s->aboutPrefix, sizeof s->aboutPrefix, cap);
  ReadString(file, s->targetFolder, sizeof s->targetFolder, cap);
  ReadString(file, s->runAfter, sizeof s->runAfter, cap);
  s->overwrite = ReadU32(file);
  s->quiet = ReadU32(file);
  ReadString(file, s->reserved12, sizeof s->reserved12, cap);
  ReadString(file, s->command, sizeof s->command, cap);
  s->secondCommandLength = ReadString(file, s->secondCommand, sizeof s->secondCommand, cap);
  ReadString(file, s->reserved15, sizeof s->reserved15, cap);
  s->reserved16 = ReadU32(file);
  s->reserved17 = ReadU32(file);
}

void SplitAtBar(char* text, char* tail, uint32_t tailSize) {
  char* bar = strchr(text, '|');
  if (!bar) return;
  if (tail && tailSize) StrCopy(tail, tailSize, bar + 1);
  if (bar != text) *bar = '\0';
}

void DeriveOptions(StartupState* state) {
  PayloadSettings& s = state->settings;
  if (s.mode == 0) {
    SplitAtBar(s.runAfter, state->runAfterParams, sizeof state->runAfterParams);
#if !defined(_WIN32)
    // Settings may be written with either separator; inside, paths use
    // backslashes. The parameters behind the bar are left as they are.
    SlashesToBackslashes(s.runAfter);
    SlashesToBackslashes(s.targetFolder);
#endif
    char expanded[kPathSize];
    expanded[0] = '\0';
    if (!ExpandMacros(s.targetFolder, expanded, sizeof expanded)) {
      state->macroFailed = 1;
      return;
    }
    if (expanded[0]) StrCopy(s.targetFolder, sizeof s.targetFolder, expanded);
    if (!s.targetFolder[0]) {
      FolderPart(s.targetFolder, sizeof s.targetFolder, state->programPath);
      RemoveBackslash(s.targetFolder);
    }
    if (s.overwrite || s.quiet) state->overwriteAll = 1;
  } else if (s.mode == 2) {
    SplitAtBar(s.command, state->runAfterParams, sizeof state->runAfterParams);
    if (s.secondCommandLength == 0) {
      StrCopy(s.secondCommand, sizeof s.secondCommand, s.command);
    } else {
      char dropped[kSettingsStringSize];
      SplitAtBar(s.secondCommand, dropped, sizeof dropped);
    }
    state->overwriteAll = 1;
  }
}

}  // namespace tvk
