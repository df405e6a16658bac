// The callbacks of a pass. Each one looks at cancelRequested first, so a
// cancel (button or Ctrl+C) stops the reader at its next question.
#include "host/prompts.h"

#include <stdio.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "common/cp1252.h"
#include "host/flow.h"
#include "host/message_format.h"

namespace tvk {

namespace {

Flow* Of(void* user) { return static_cast<Flow*>(user); }

int EntryStart(void* user, const char* entryName, const char*) {
  Flow* flow = Of(user);
  if (flow->run.cancelRequested) return 0;
  ++flow->run.fileCount;
  CopyNamePart(flow->run.entryName, sizeof flow->run.entryName, entryName ? entryName : "");
  return 1;
}

// The two password dialogs differ in their text only.
int AskPassword(Flow* flow, uint32_t dialog, uint32_t message, const char* name, char* stored,
                char* answer) {
  stored[0] = 0;
  char text[kMessageBufferSize];
  FormatMessage1(text, sizeof text, flow->startup->messages, message,
                 ArgStr(NamePart(name ? name : "")));
  PasswordTexts texts;
  texts.dialog = dialog;
  texts.title = flow->Msg(23);
  texts.text = text;
  texts.label = flow->Msg(26);
  texts.ok = flow->Msg(0);
  texts.cancel = flow->Msg(3);
  char typed[kPathSize];
  typed[0] = 0;
  uint32_t chosen = flow->ui->AskPassword(texts, typed, sizeof typed);
  if (chosen != kAnswerOk || flow->run.cancelRequested) {
    SecureZero(typed, sizeof typed);
    return 0;
  }
#if !defined(_WIN32)
  TypedPasswordToAnsi(typed);
#endif
  // Kept as handed out: a longer stored copy would never equal the password
  // the reader reports as failed, and would be handed out again forever.
  StrCopy(stored, kPasswordAnswerSize, typed);
  SecureZero(typed, sizeof typed);
  StrCopy(answer, kPasswordAnswerSize, stored);
  return 1;
}

// A stored password serves until the reader reports it as the one that has
// just failed; then it is dropped and the user is asked.
bool HandOut(const char* stored, const char* triedLast, char* answer) {
  if (strcmp(stored, triedLast ? triedLast : "") == 0) return false;
  StrCopy(answer, kPasswordAnswerSize, stored);
  return true;
}

int EntryPassword(void* user, const char* triedLast, char* answer, const char* name) {
  Flow* flow = Of(user);
  if (flow->run.cancelRequested) return 0;
  if (flow->run.filePassword[0] && HandOut(flow->run.filePassword, triedLast, answer)) return 1;
  return AskPassword(flow, IDD_FILE_PASSWORD, 24, name, flow->run.filePassword, answer);
}

// Once the archive has been opened, the directory password is known; it is
// asked again only when it is the one that has just failed (a damaged
// encrypted head would otherwise be retried with it forever).
int HeaderPassword(void* user, const char* triedLast, char* answer, const char* name) {
  Flow* flow = Of(user);
  if (flow->run.cancelRequested) return 0;
  if (flow->run.archiveOpened && HandOut(flow->run.directoryPassword, triedLast, answer)) return 1;
  return AskPassword(flow, IDD_ARCHIVE_PASSWORD, 25, name, flow->run.directoryPassword, answer);
}

int Progress(void* user, uint32_t percent, uint32_t) {
  Flow* flow = Of(user);
  if (flow->run.cancelRequested) return 0;
  flow->ui->PumpMessages();
  if (flow->ui->HasMainDialog()) flow->ui->SetProgress(percent, flow->run.entryName);
  flow->ui->PumpMessages();
  return 1;
}

int Overwrite(void* user, const FindData* existing, const FindData* entry) {
  Flow* flow = Of(user);
  if (flow->run.cancelRequested) return kOverwriteCancel;
  if (flow->startup->overwriteAll) return kOverwriteReplace;
  FindData old = *existing;
  FindData now = *entry;
  old.name[sizeof old.name - 1] = 0;

  char question[kMessageBufferSize];
  FormatMessage1(question, sizeof question, flow->startup->messages, 17, ArgStr(old.name));
  char oldInfo[kMessageBufferSize];
  char newInfo[kMessageBufferSize];
  SizeDateLine(flow->startup->messages, old, oldInfo, sizeof oldInfo);
  SizeDateLine(flow->startup->messages, now, newInfo, sizeof newInfo);

  OverwriteTexts texts;
  texts.title = flow->Msg(16);
  texts.question = question;
  texts.existingLabel = flow->Msg(18);
  texts.existingInfo = oldInfo;
  texts.newLabel = flow->Msg(19);
  texts.newInfo = newInfo;
  texts.replace = flow->Msg(0);
  texts.yesAll = flow->Msg(22);
  texts.no = flow->Msg(2);
  texts.cancel = flow->Msg(3);
  texts.existingName = old.name;
  texts.existingAttributes = old.attributes;
  switch (flow->ui->AskOverwrite(texts)) {
    case kAnswerOk:
      return kOverwriteReplace;
    case kAnswerYesAll:
      flow->startup->overwriteAll = 1;
      return kOverwriteReplace;
    case kAnswerNo:
      return kOverwriteSkip;
    default:
      return kOverwriteCancel;
  }
}

int NextVolume(void* user, char* path, uint32_t, uint32_t volume, uint32_t) {
  Flow* flow = Of(user);
  if (flow->run.cancelRequested) return 0;
  flow->ui->PumpMessages();
  char expected[kPathSize];
  FolderPart(expected, sizeof expected, path);
  char folder[kPathSize];
  StrCopy(folder, sizeof folder, expected);
#if defined(_WIN32)
  const char* shown = expected;
#else
  char shown[kPathSize];
  StrCopy(shown, sizeof shown, expected);
  for (char* p = shown; *p; ++p) {
    if (*p == '\\') *p = '/';
  }
#endif
  char text[kMessageBufferSize];
  FormatMessage2(text, sizeof text, flow->startup->messages, 28, ArgUint(volume), ArgStr(shown));
  NextVolumeTexts texts;
  texts.title = flow->Msg(27);
  texts.text = text;
  texts.ok = flow->Msg(0);
  texts.cancel = flow->Msg(3);
  if (flow->ui->AskNextVolume(texts, folder, sizeof folder) != kAnswerOk) return 0;
  if (flow->run.cancelRequested) return 0;
  NextVolumeFolder(folder, sizeof folder, expected);
  StrCopy(path, kPathSize, folder);
  return 1;
}

}  // namespace

void FillCallbacks(Flow* flow, ReaderCallbacks* callbacks) {
  // The run-start and entry-done events stay unhandled: the host shows
  // nothing for them.
  memset(callbacks, 0, sizeof *callbacks);
  callbacks->entryStart = EntryStart;
  callbacks->entryStartUser = flow;
  callbacks->entryPassword = EntryPassword;
  callbacks->entryPasswordUser = flow;
  callbacks->headerPassword = HeaderPassword;
  callbacks->headerPasswordUser = flow;
  callbacks->progress = Progress;
  callbacks->progressUser = flow;
  callbacks->overwrite = Overwrite;
  callbacks->overwriteUser = flow;
  callbacks->nextVolume = NextVolume;
  callbacks->nextVolumeUser = flow;
}

void SizeDateLine(const MessageTable& messages, const FindData& data, char* out, uint32_t size) {
  char date[100 * kTextScale];
  char time[100 * kTextScale];
  DateTimeTexts(data.lastWriteTime, true, date, sizeof date, time, sizeof time);
  uint64_t bytes = (static_cast<uint64_t>(data.sizeHigh) << 32) | data.sizeLow;
  if (bytes < 1024) {
    FormatMessage3(out, size, messages, 20, ArgStr(date), ArgStr(time),
                   ArgInt(static_cast<int32_t>(bytes)));
  } else {
    // The message takes a signed 32-bit number, as its "%3!d!" says.
    FormatMessage3(out, size, messages, 21, ArgStr(date), ArgStr(time),
                   ArgInt(static_cast<int32_t>(static_cast<uint32_t>(bytes / 1024))));
  }
}

void NextVolumeFolder(char* typed, uint32_t size, const char* expected) {
  if (StrCompareNoCase(typed, expected) == 0) return;
  if (!typed[0]) StrCopy(typed, size, expected);
  size_t len = strlen(typed);
  bool letter = (typed[0] >= 'A' && typed[0] <= 'Z') || (typed[0] >= 'a' && typed[0] <= 'z');
  // Only a drive letter gets a root; "\" alone (a Linux root) stays.
  if (len == 1 && letter) {
    StrAppend(typed, size, ":\\");
  } else if (len == 2 && letter && typed[1] == ':') {
    StrAppend(typed, size, "\\");
  }
}

namespace {

// One UTF-8 sequence at p: its code point and length, or 0 when malformed.
uint32_t DecodeUtf8(const unsigned char* p, uint32_t* cp) {
  uint32_t extra;
  uint32_t min;
  if (p[0] < 0x80) {
    *cp = p[0];
    return 1;
  } else if ((p[0] & 0xE0) == 0xC0) {
    extra = 1, *cp = p[0] & 0x1F, min = 0x80;
  } else if ((p[0] & 0xF0) == 0xE0) {
    extra = 2, *cp = p[0] & 0x0F, min = 0x800;
  } else if ((p[0] & 0xF8) == 0xF0) {
    extra = 3, *cp = p[0] & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  for (uint32_t k = 1; k <= extra; ++k) {
    if ((p[k] & 0xC0) != 0x80) return 0;  // also stops at the terminator
    *cp = (*cp << 6) | (p[k] & 0x3F);
  }
  if (*cp < min || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF)) return 0;
  return extra + 1;
}

}  // namespace

uint32_t TypedPasswordToAnsi(char* text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  // First make sure that every character has a form; otherwise the typed
  // bytes stay as they are.
  for (uint32_t i = 0; p[i];) {
    uint32_t cp;
    uint32_t n = DecodeUtf8(p + i, &cp);
    if (!n || Cp1252ByteOf(cp) < 0) return static_cast<uint32_t>(strlen(text));
    i += n;
  }
  uint32_t out = 0;
  for (uint32_t i = 0; p[i];) {
    uint32_t cp;
    i += DecodeUtf8(p + i, &cp);
    text[out++] = static_cast<char>(Cp1252ByteOf(cp));
  }
  text[out] = 0;
  return out;
}

void DateTimeTexts(const FileTime& utc, bool force24, char* date, uint32_t dateSize, char* time,
                   uint32_t timeSize) {
#if defined(_WIN32)
  FILETIME in;
  in.dwLowDateTime = utc.low;
  in.dwHighDateTime = utc.high;
  FILETIME local;
  SYSTEMTIME st;
  date[0] = 0;
  time[0] = 0;
  if (!FileTimeToLocalFileTime(&in, &local) || !FileTimeToSystemTime(&local, &st)) return;
  if (!GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, &st, nullptr, date,
                      static_cast<int>(dateSize))) {
    date[0] = 0;
  }
  if (!GetTimeFormatA(LOCALE_USER_DEFAULT, force24 ? TIME_FORCE24HOURFORMAT : 0, &st, nullptr,
                      time, static_cast<int>(timeSize))) {
    time[0] = 0;
  }
#else
  // A static program has no locale data: one fixed, unambiguous form.
  (void)force24;
  FileTime local;
  CalendarTime c;
  if (!UtcToLocalFileTime(&utc, &local) || !FileTimeToCalendar(&local, &c)) {
    StrCopy(date, dateSize, "");
    StrCopy(time, timeSize, "");
    return;
  }
  Format(date, dateSize, "%04u-%02u-%02u", static_cast<unsigned>(c.year),
           static_cast<unsigned>(c.month), static_cast<unsigned>(c.day));
  Format(time, timeSize, "%02u:%02u:%02u", static_cast<unsigned>(c.hour),
           static_cast<unsigned>(c.minute), static_cast<unsigned>(c.second));
#endif
}

}  // namespace tvk
