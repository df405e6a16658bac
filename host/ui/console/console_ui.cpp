// The terminal front end. Every dialog becomes a few lines on standard output
// and a question answered by one line of standard input; the end of input
// refuses, so an unattended run never waits for anybody.
#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "host/ui/console/console.h"
#include "host/ui/console/terminal_text.h"

namespace tvk {
namespace console {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void WriteAll(int fd, const char* data, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += w;
    n -= static_cast<size_t>(w);
  }
}

// The letter (a UTF-8 sequence) behind the first single "&"; empty if none.
void Mnemonic(const char* label, char* out, uint32_t size) {
  out[0] = 0;
  for (const char* p = label; *p; ++p) {
    if (*p != '&') continue;
    if (p[1] == '&') {
      ++p;
      continue;
    }
    if (!p[1]) return;
    uint32_t n = 1;
    unsigned char lead = static_cast<unsigned char>(p[1]);
    if (lead >= 0xC0) {
      while (n < 4 && (static_cast<unsigned char>(p[1 + n]) & 0xC0) == 0x80) ++n;
    }
    StrCopyN(out, size, p + 1, n);
    return;
  }
}

bool ParseNumber(const char* text, uint32_t* value) {
  if (!*text) return false;
  uint32_t v = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    v = v * 10 + static_cast<uint32_t>(*p - '0');
    if (v > 1000000) return false;
  }
  *value = v;
  return true;
}

volatile sig_atomic_t* g_interruptFlag = nullptr;

void OnInterrupt(int) {
  if (g_interruptFlag) *g_interruptFlag = 1;
}

bool Interrupted() { return g_interruptFlag && *g_interruptFlag; }

// Waits until fd has input or the run is interrupted. A Ctrl+C that lands
// just before a plain read() would leave that read waiting for ever (the
// terminal throws away what was typed), so the stop signals stay blocked
// while the flag is looked at and are let in only inside ppoll. The signal
// may also be taken by another thread, which ppoll would not see: the wait
// wakes now and then to look at the flag again.
bool WaitForInput(int fd) {
  sigset_t stops, old;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGHUP);
  for (;;) {
    pthread_sigmask(SIG_BLOCK, &stops, &old);
    if (Interrupted()) {
      pthread_sigmask(SIG_SETMASK, &old, nullptr);
      return false;
    }
    pollfd p{fd, POLLIN, 0};
    timespec wake{0, 200 * 1000 * 1000};
    int r = ppoll(&p, 1, &wake, &old);
    int err = errno;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (r > 0) return true;  // input, an end of input or an error: read() tells
    if (r < 0 && err != EINTR) return true;
  }
}

}  // namespace

void LabelText(const char* label, char* out, uint32_t size) {
  if (!size) return;
  uint32_t n = 0;
  for (const char* p = label ? label : ""; *p && n + 1 < size; ++p) {
    if (*p == '&') {
      if (p[1] != '&') continue;
      ++p;
    }
    out[n++] = *p;
  }
  out[n] = 0;
}

int MatchAnswer(const char* answer, const char* const* labels, const uint32_t* numbers,
                uint32_t count) {
  char trimmed[kPathSize];
  while (IsBlank(*answer)) ++answer;
  StrCopy(trimmed, sizeof trimmed, answer);
  size_t len = strlen(trimmed);
  while (len > 0 && IsBlank(trimmed[len - 1])) trimmed[--len] = 0;
  if (!len) return -1;

  uint32_t number = 0;
  if (ParseNumber(trimmed, &number)) {
    for (uint32_t i = 0; i < count; ++i) {
      if (numbers[i] && numbers[i] == number) return static_cast<int>(i);
    }
  }
  char text[kPathSize];
  for (uint32_t i = 0; i < count; ++i) {
    Mnemonic(labels[i], text, sizeof text);
    if (text[0] && StrCompareNoCase(text, trimmed) == 0) return static_cast<int>(i);
  }
  for (uint32_t i = 0; i < count; ++i) {
    LabelText(labels[i], text, sizeof text);
    if (text[0] && StrCompareNoCase(text, trimmed) == 0) return static_cast<int>(i);
  }
  return -1;
}

bool ReadAnswer(const Terminal& term, char* out, uint32_t size, bool hidden) {
  termios saved{};
  bool restore = false;
  if (hidden && term.inputIsTerminal && tcgetattr(term.inputFd, &saved) == 0) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    restore = tcsetattr(term.inputFd, TCSAFLUSH, &quiet) == 0;
  }
  uint32_t n = 0;
  bool got = false;  // a line end or at least one character was read
  bool ok = true;
  for (;;) {
    char c;
    if (!WaitForInput(term.inputFd)) {
      ok = false;
      break;
    }
    ssize_t r = read(term.inputFd, &c, 1);
    if (r < 0) {
      ok = false;  // interrupted (Ctrl+C) or broken: refuse
      break;
    }
    if (r == 0) {
      ok = got;
      break;
    }
    got = true;
    if (c == '\n') break;
    if (n + 1 < size) out[n++] = c;
  }
  if (restore) {
    tcsetattr(term.inputFd, TCSAFLUSH, &saved);
    WriteAll(term.outputFd, "\n", 1);
  }
  if (size) out[n < size ? n : size - 1] = 0;
  if (n > 0 && out[n - 1] == '\r') out[n - 1] = 0;
  // Answers read from a file or pipe are not echoed by any terminal; show
  // them (a password never) so that a log reads like the dialogue it was.
  if (got && !term.inputIsTerminal) {
    if (!hidden && size) WriteAll(term.outputFd, out, strlen(out));
    WriteAll(term.outputFd, "\n", 1);
  }
  return ok;
}

void TypedFolder(const char* typed, char* out, uint32_t size) {
  while (IsBlank(*typed)) ++typed;
  char text[kPathSize];
  StrCopy(text, sizeof text, typed);
  size_t len = strlen(text);
  while (len > 0 && IsBlank(text[len - 1])) text[--len] = 0;
  // "~" and "~/..." are the home folder, as a shell would have it.
  const char* home = getenv("HOME");
  if (text[0] == '~' && (text[1] == 0 || text[1] == '/') && home && home[0] == '/') {
    char expanded[kPathSize];
    StrCopy(expanded, sizeof expanded, home);
    // A home written with a trailing slash, or "/" itself, gives no "//".
    size_t n = strlen(expanded);
    while (n > 0 && expanded[n - 1] == '/') expanded[--n] = 0;
    if (StrAppend(expanded, sizeof expanded, text[1] ? text + 1 : n ? "" : "/") != kStrOk) {
      // Cut short it would name another folder.
      StrCopy(out, size, "");
      return;
    }
    StrCopy(text, sizeof text, expanded);
  }
  SlashesToBackslashes(text);
  if (!text[0] || text[0] == '\\') {
    StrCopy(out, size, text);
    return;
  }
  char full[kPathSize];
  if (!GetCurrentFolder(full, sizeof full)) {
    StrCopy(out, size, text);
    return;
  }
  if (!(text[0] == '.' && text[1] == 0)) {
    AddBackslash(full);
    StrAppend(full, sizeof full, text);
  }
  StrCopy(out, size, full);
}

void ShownPath(const char* path, char* out, uint32_t size) {
  StrCopy(out, size, path);
  for (char* p = out; *p; ++p) {
    if (*p == '\\') *p = '/';
  }
}

namespace {

// Columns a UTF-8 text takes on a terminal. Characters from U+0800 on count
// as two: that covers the wide East Asian ones, and for the others the line
// only ends a little early.
uint32_t Columns(const char* text, const char* end) {
  uint32_t n = 0;
  for (const char* p = text; p < end && *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if ((c & 0xC0) == 0x80) continue;
    n += c >= 0xE0 ? 2 : 1;
  }
  return n;
}
uint32_t Columns(const char* text) { return Columns(text, text + strlen(text)); }

}  // namespace

void ProgressLine(uint32_t percent, const char* name, uint32_t columns, char* out, uint32_t size) {
  if (!size) return;
  if (percent > 100) percent = 100;
  // The last column stays free: a line that fills it leaves the cursor
  // waiting to wrap, and the next redraw would start a new line.
  uint32_t room = columns > 1 ? columns - 1 : 1;
  const bool named = name && *name;
  char tail[32];  // what follows the name
  Format(tail, sizeof tail, named ? " (%u %%)" : "%u %%", percent);
  constexpr uint32_t kBar = 30;
  char bar[kBar + 5];
  bar[0] = ' ';
  bar[1] = ' ';
  bar[2] = '[';
  uint32_t filled = percent * kBar / 100;
  for (uint32_t i = 0; i < kBar; ++i) bar[3 + i] = i < filled ? '#' : '.';
  bar[kBar + 3] = ']';
  bar[kBar + 4] = 0;

  const char* shown = named ? name : "";
  uint32_t nameColumns = Columns(shown);
  uint32_t tailColumns = Columns(tail);
  out[0] = 0;
  if (nameColumns + tailColumns <= room) {
    StrCopy(out, size, shown);
    StrAppend(out, size, tail);
    if (nameColumns + tailColumns + kBar + 4 <= room) StrAppend(out, size, bar);
    return;
  }
  // Too narrow for the whole name: its end, which tells files apart best,
  // behind "...", and the percent.
  if (named && room >= tailColumns + 4) {
    uint32_t keep = room - tailColumns - 3;
    const char* from = shown + strlen(shown);
    while (from > shown) {
      const char* previous = from - 1;
      while (previous > shown && (static_cast<unsigned char>(*previous) & 0xC0) == 0x80) --previous;
      if (Columns(previous) > keep) break;
      from = previous;
    }
    StrCopy(out, size, "...");
    StrAppend(out, size, from);
    StrAppend(out, size, tail);
    return;
  }
  // Not even that: the percent alone, cut to the room there is.
  char percentText[16];
  Format(percentText, sizeof percentText, "%u %%", percent);
  uint32_t n = static_cast<uint32_t>(strlen(percentText));
  StrCopyN(out, size, percentText, n < room ? n : room);
}

Terminal StandardTerminal() {
  Terminal t;
  t.inputFd = 0;
  t.outputFd = 1;
  t.inputIsTerminal = isatty(0) != 0;
  t.outputIsTerminal = isatty(1) != 0;
  return t;
}

// ---------------------------------------------------------------------------

void WriteShown(int fd, const char* text) {
  // Messages carry CR LF line breaks (a terminal or a log wants LF alone),
  // and texts of the payload or the archive may carry control characters.
  char buffer[512];
  size_t filled = 0;
  const size_t length = strlen(text);
  for (size_t at = 0; at < length;) {
    char shown[4];
    size_t used = 0;
    uint32_t n = ShownCharacter(text + at, length - at, kKeepLineBreaks, shown, &used);
    if (filled + n > sizeof buffer) {
      WriteAll(fd, buffer, filled);
      filled = 0;
    }
    memcpy(buffer + filled, shown, n);
    filled += n;
    at += used;
  }
  WriteAll(fd, buffer, filled);
}

void ConsoleUi::Print(const char* text) {
  if (progressOpen_) {
    WriteAll(term_.outputFd, "\n", 1);
    progressOpen_ = false;
  }
  WriteShown(term_.outputFd, text);
}

// Every line of a multi-line text (the size and date of a file) indented
// under its label.
void ConsoleUi::PrintIndented(const char* text) {
  char line[kPathSize];
  const char* p = text ? text : "";
  do {
    const char* end = StrFindPair(p, '\r', '\n');
    size_t n = end ? static_cast<size_t>(end - p) : strlen(p);
    StrCopyN(line, sizeof line, p, static_cast<uint32_t>(n < sizeof line ? n : sizeof line - 1));
    Print("  ");
    Print(line);
    Print("\n");
    p = end ? end + 2 : nullptr;
  } while (p);
}

int ConsoleUi::Choose(const char* const* labels, uint32_t count) {
  uint32_t numbers[8];
  if (count > 8) count = 8;
  char line[kPathSize * 2];
  line[0] = 0;
  for (uint32_t i = 0; i < count; ++i) {
    numbers[i] = i + 1;
    char text[kPathSize];
    LabelText(labels[i], text, sizeof text);
    char item[kPathSize + 16];
    Format(item, sizeof item, "%s[%u] %s", i ? "  " : "", i + 1, text);
    StrAppend(line, sizeof line, item);
  }
  StrAppend(line, sizeof line, "\n");
  for (;;) {
    Print(line);
    Print("> ");
    char answer[kPathSize];
    if (!ReadAnswer(term_, answer, sizeof answer, false)) {
      Print("\n");
      return -1;
    }
    int chosen = MatchAnswer(answer, labels, numbers, count);
    if (chosen >= 0) return chosen;
  }
}

uint32_t ConsoleUi::ShowMessage(const char* text, const char* caption, uint32_t style) {
  Print("\n");
  if (caption && *caption) {
    Print(caption);
    Print("\n");
  }
  Print(text ? text : "");
  Print("\n");
  switch (style & kBoxButtonMask) {
    case kBoxYesNo: {
      const char* labels[2] = {labels_.yes, labels_.no};
      return Choose(labels, 2) == 0 ? kAnswerYes : kAnswerNo;
    }
    case kBoxOkCancel: {
      const char* labels[2] = {labels_.ok, labels_.cancel};
      return Choose(labels, 2) == 0 ? kAnswerOk : kAnswerCancel;
    }
    default:
      return kAnswerOk;
  }
}

void ConsoleUi::ShowStartupError(const char* text) {
  Print("Error\n");
  Print(text);
  Print("\n");
}

void ConsoleUi::ShowSignature(const SignatureTexts& texts) {
  Print("\n");
  Print(texts.title);
  Print("\n");
  Print(texts.text);
  Print("\n");
  if (texts.testKeyNote) {
    Print(texts.testKeyNote);
    Print("\n");
  }
}

uint32_t ConsoleUi::AskPassword(const PasswordTexts& texts, char* out, uint32_t size) {
  Print("\n");
  Print(texts.title);
  Print("\n");
  Print(texts.text);
  Print("\n");
  char label[kPathSize];
  LabelText(texts.label, label, sizeof label);
  Print(label);
  Print(": ");
  char typed[kPathSize];
  bool ok = ReadAnswer(term_, typed, sizeof typed, true);
  if (!ok) {
    SecureZero(typed, sizeof typed);
    Print("\n");
    return kAnswerCancel;
  }
  StrCopy(out, size, typed);
  SecureZero(typed, sizeof typed);
  return kAnswerOk;
}

uint32_t ConsoleUi::AskNextVolume(const NextVolumeTexts& texts, char* folder, uint32_t size) {
  Print("\n");
  Print(texts.title);
  Print("\n");
  Print(texts.text);
  Print("\n");
  char shown[kPathSize];
  ShownPath(folder, shown, sizeof shown);
  Print("[");
  Print(shown);
  Print("] > ");
  char typed[kPathSize];
  if (!ReadAnswer(term_, typed, sizeof typed, false)) {
    Print("\n");
    return kAnswerCancel;
  }
  char full[kPathSize];
  TypedFolder(typed, full, sizeof full);
  // An empty answer keeps the folder shown.
  if (full[0]) StrCopy(folder, size, full);
  return kAnswerOk;
}

uint32_t ConsoleUi::AskOverwrite(const OverwriteTexts& texts) {
  Print("\n");
  Print(texts.title);
  Print("\n");
  Print(texts.question);
  Print("\n");
  Print(texts.existingLabel);
  Print("\n");
  PrintIndented(texts.existingInfo);
  Print(texts.newLabel);
  Print("\n");
  PrintIndented(texts.newInfo);
  const char* labels[4] = {texts.replace, texts.yesAll, texts.no, texts.cancel};
  static const uint32_t answers[4] = {kAnswerOk, kAnswerYesAll, kAnswerNo, kAnswerCancel};
  int chosen = Choose(labels, 4);
  return chosen < 0 ? kAnswerCancel : answers[chosen];
}

bool ConsoleUi::BrowseFolder(const char* title, const char* initial, char* out, uint32_t size) {
  Print("\n");
  Print(title);
  Print("\n");
  char shown[kPathSize];
  ShownPath(initial ? initial : "", shown, sizeof shown);
  Print("[");
  Print(shown);
  Print("] > ");
  char typed[kPathSize];
  if (!ReadAnswer(term_, typed, sizeof typed, false)) {
    Print("\n");
    return false;
  }
  char full[kPathSize];
  TypedFolder(typed, full, sizeof full);
  if (!full[0]) return false;
  StrCopy(out, size, full);
  return true;
}

void ConsoleUi::SetProgress(uint32_t percent, const char* name) {
  if (!term_.outputIsTerminal) return;
  // Asked every time: the user may resize the window during a long run.
  uint32_t columns = 80;
  winsize size;
  if (ioctl(term_.outputFd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) columns = size.ws_col;
  // Names come from the archive: no control character reaches the terminal.
  char shown[kPathSize];
  const char* shownName = nullptr;
  if (name && *name) {
    ShownText(name, strlen(name), 0, shown, sizeof shown);
    shownName = shown;
  }
  char text[kPathSize + 80];
  ProgressLine(percent, shownName, columns, text, sizeof text);
  char line[kPathSize + 96];
  Format(line, sizeof line, "\r%s\033[K", text);
  WriteAll(term_.outputFd, line, strlen(line));
  progressOpen_ = true;
}

// ---- Dialog 5001 ------------------------------------------------------------

// Numbers follow the example [1] Entpacken  [2] Abbrechen, and stay the same
// whichever check boxes are shown, so that scripts can rely on them.
namespace {
constexpr uint32_t kMainNumbers[] = {1, 2, 3, 4, 5, 6, 7};
}

int ConsoleUi::Find(uint32_t control) const {
  for (uint32_t i = 0; i < kControls; ++i) {
    if (controls_[i].id == control) return static_cast<int>(i);
  }
  return -1;
}

void ConsoleUi::ShowMainDialogState() {
  char text[kPathSize * 2];
  for (uint32_t i = 0; i < kControls; ++i) {
    const Control& c = controls_[i];
    if (!c.checkBox || !c.shown) continue;
    char label[kPathSize];
    LabelText(c.label, label, sizeof label);
    Format(text, sizeof text, "[%u] [%c] %s%s\n", kMainNumbers[i], c.checked ? 'x' : ' ', label,
             c.enabled ? "" : " -");
    Print(text);
  }
  text[0] = 0;
  bool first = true;
  for (uint32_t i = 0; i < kControls; ++i) {
    const Control& c = controls_[i];
    if (c.checkBox || !c.shown || !c.enabled) continue;
    char label[kPathSize];
    LabelText(c.label, label, sizeof label);
    char item[kPathSize + 16];
    Format(item, sizeof item, "%s[%u] %s", first ? "" : "  ", kMainNumbers[i], label);
    StrAppend(text, sizeof text, item);
    first = false;
  }
  StrAppend(text, sizeof text, "\n> ");
  Print(text);
}

uint32_t ConsoleUi::RunMainDialog(const MainDialogSetup& setup, MainDialogHost* host) {
  const Control initial[kControls] = {
      {kCtlExtract, setup.extract, true, true, false, false},
      {kCtlCancel, setup.cancel, true, true, false, false},
      {kCtlBrowse, setup.browse, true, true, false, false},
      {kCtlAbout, setup.about, true, true, false, false},
      {kCtlHelp, setup.help, true, true, false, false},
      {kCtlOverwrite, setup.overwrite, setup.overwriteShown != 0 && setup.overwrite, true,
       setup.overwriteChecked != 0, true},
      {kCtlRunAfter, setup.runAfter, setup.runAfter != nullptr, true, setup.runAfterChecked != 0,
       true},
  };
  for (uint32_t i = 0; i < kControls; ++i) controls_[i] = initial[i];
  StrCopy(folder_, sizeof folder_, setup.folder ? setup.folder : "");
  folderLabel_ = setup.folderLabel ? setup.folderLabel : "";
  dialogOpen_ = true;
  ended_ = false;
  result_ = kCtlCancel;
  eventCount_ = 0;
  if (setup.firstEvent) PostEvent(setup.firstEvent);

  Print(setup.title);
  Print("\n");
  Print(setup.instruction);
  Print("\n");
  SetFolder(folder_);

  while (!ended_) {
    if (eventCount_ > 0) {
      uint32_t event = events_[0];
      --eventCount_;
      memmove(events_, events_ + 1, eventCount_ * sizeof events_[0]);
      host->OnEvent(event);
      continue;
    }
    ShowMainDialogState();
    char answer[kPathSize];
    if (!ReadAnswer(term_, answer, sizeof answer, false)) {
      Print("\n");
      host->OnCommand(kCtlCancel);
      continue;
    }
    const char* labels[kControls];
    uint32_t numbers[kControls];
    for (uint32_t i = 0; i < kControls; ++i) {
      labels[i] = controls_[i].label ? controls_[i].label : "";
      numbers[i] = controls_[i].shown && controls_[i].enabled ? kMainNumbers[i] : 0;
      if (!numbers[i]) labels[i] = "";
    }
    int chosen = MatchAnswer(answer, labels, numbers, kControls);
    if (chosen < 0) continue;
    Control& c = controls_[chosen];
    if (c.checkBox) {
      c.checked = !c.checked;
      continue;
    }
    host->OnCommand(c.id);
  }
  dialogOpen_ = false;
  return result_;
}

void ConsoleUi::GetFolder(char* out, uint32_t size) { StrCopy(out, size, folder_); }

void ConsoleUi::SetFolder(const char* folder) {
  StrCopy(folder_, sizeof folder_, folder);
  char shown[kPathSize];
  ShownPath(folder_, shown, sizeof shown);
  char label[kPathSize];
  LabelText(folderLabel_, label, sizeof label);
  Print(label);
  Print(" ");
  Print(shown);
  Print("\n");
}

bool ConsoleUi::IsChecked(uint32_t control) {
  int i = Find(control);
  return i >= 0 && controls_[i].shown && controls_[i].checked;
}

void ConsoleUi::EnableControl(uint32_t control, bool enable) {
  int i = Find(control);
  if (i >= 0) controls_[i].enabled = enable;
}

void ConsoleUi::PostEvent(uint32_t event) {
  if (eventCount_ < kMaxEvents) events_[eventCount_++] = event;
}

void ConsoleUi::EndDialog(uint32_t result) {
  result_ = result;
  ended_ = true;
}

}  // namespace console

Ui* PlatformUi(void*) {
  static console::ConsoleUi ui(console::StandardTerminal());
  return &ui;
}

void SetInterruptFlag(volatile sig_atomic_t* cancelFlag) {
  console::g_interruptFlag = cancelFlag;
  struct sigaction action;
  memset(&action, 0, sizeof action);
  sigemptyset(&action.sa_mask);
  if (cancelFlag) {
    action.sa_handler = console::OnInterrupt;
    action.sa_flags = 0;  // no restart: a waiting read returns and refuses
  } else {
    action.sa_handler = SIG_DFL;
  }
  // A stop from the system (SIGTERM) or a terminal that went away (SIGHUP)
  // is a Ctrl+C: the run ends at the next callback and removes the file it
  // was writing, rather than dying with the file cut under its name.
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  // A reader of our output that goes away must not kill the run halfway
  // through a file: writes then fail quietly instead. A file-size limit
  // likewise: the write fails as on a full disk, and the cut file goes.
  action.sa_handler = cancelFlag ? SIG_IGN : SIG_DFL;
  sigaction(SIGPIPE, &action, nullptr);
  sigaction(SIGXFSZ, &action, nullptr);
}

}  // namespace tvk
