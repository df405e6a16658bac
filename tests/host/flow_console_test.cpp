// The terminal front end: how answers are read and matched, and that every
// question is refused at the end of input.
#if !defined(_WIN32)
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/ui.h"
#include "host/ui/console/console.h"
#include "host/ui/console/terminal_text.h"

namespace tvk::console {
namespace {

TEST(FlowConsole, LabelsLoseTheirMnemonicMarks) {
  char out[64];
  LabelText("&Entpacken", out, sizeof out);
  EXPECT_STREQ(out, "Entpacken");
  LabelText("Ja, &Alle", out, sizeof out);
  EXPECT_STREQ(out, "Ja, Alle");
  LabelText("Drag && Drop", out, sizeof out);
  EXPECT_STREQ(out, "Drag & Drop");
  LabelText("...", out, sizeof out);
  EXPECT_STREQ(out, "...");
}

TEST(FlowConsole, AnswersNameAButtonByNumberLetterOrText) {
  const char* labels[] = {"&Entpacken", "Abbrechen", "...", "I&nfo über", "&Hilfe",
                          "&Dateien ohne Nachfrage überschreiben."};
  const uint32_t numbers[] = {1, 2, 3, 4, 5, 6};
  auto match = [&](const char* answer) { return MatchAnswer(answer, labels, numbers, 6); };
  EXPECT_EQ(match("1"), 0);
  EXPECT_EQ(match(" 2 "), 1);
  EXPECT_EQ(match("e"), 0);
  EXPECT_EQ(match("N"), 3);
  EXPECT_EQ(match("d"), 5);
  EXPECT_EQ(match("abbrechen"), 1);
  EXPECT_EQ(match("ENTPACKEN"), 0);
  EXPECT_EQ(match("..."), 2);
  EXPECT_EQ(match("info über"), 3);
  EXPECT_EQ(match("INFO ÜBER"), 3);
  EXPECT_EQ(match("hilfe\r"), 4);
  // Nothing else is an answer.
  EXPECT_EQ(match(""), -1);
  EXPECT_EQ(match("   "), -1);
  EXPECT_EQ(match("7"), -1);
  EXPECT_EQ(match("0"), -1);
  EXPECT_EQ(match("x"), -1);
  EXPECT_EQ(match("&Entpacken"), -1);
  EXPECT_EQ(match("Entpacken jetzt"), -1);
}

TEST(FlowConsole, HiddenButtonsAnswerToNothing) {
  const char* labels[] = {"&Entpacken", ""};
  const uint32_t numbers[] = {0, 2};
  EXPECT_EQ(MatchAnswer("1", labels, numbers, 2), -1);
  EXPECT_EQ(MatchAnswer("2", labels, numbers, 2), 1);
}

// Texts of the payload and the archive reach the terminal: no control
// character gets there as itself.
TEST(TerminalText, ControlCharactersAreShownAsHexCodes) {
  auto shown = [](const std::string& text, uint32_t flags = 0) {
    char out[256];
    ShownText(text.data(), text.size(), flags, out, sizeof out);
    return std::string(out);
  };
  // Window title, clear screen, colours, bell, carriage-return spoofing, DEL.
  EXPECT_EQ(shown("\x1B]0;owned\x07\x1B[2J\x1B[31mred"),
            "\\x1B]0;owned\\x07\\x1B[2J\\x1B[31mred");
  EXPECT_EQ(shown("safe.txt\rEVIL"), "safe.txt\\x0DEVIL");
  EXPECT_EQ(shown("a\x7F" "b\tc\nd"), "a\\x7Fb\\x09c\\x0Ad");
  EXPECT_EQ(shown(std::string("nul\0x", 5)), "nul\\x00x");
  // C1 controls: as UTF-8 (what Windows-1252 0x81, 0x8D, 0x8F, 0x90, 0x9D
  // become) and as lone bytes, which an 8-bit terminal takes for CSI.
  EXPECT_EQ(shown("\xC2\x9B" "31m"), "\\x9B" "31m");
  EXPECT_EQ(shown("\xC2\x80\xC2\x9F"), "\\x80\\x9F");
  EXPECT_EQ(shown("\x9B" "31m"), "\\x9B" "31m");
  // Malformed UTF-8 shows byte by byte: overlong forms, surrogates, cut
  // sequences, bytes past U+10FFFF.
  EXPECT_EQ(shown("\xC0\x9B"), "\\xC0\\x9B");
  EXPECT_EQ(shown("\xE0\x82\x9B"), "\\xE0\\x82\\x9B");
  EXPECT_EQ(shown("\xED\xA0\x80"), "\\xED\\xA0\\x80");
  EXPECT_EQ(shown("\xE2\x82"), "\\xE2\\x82");
  EXPECT_EQ(shown("\xF4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80");
  // Printable text stays as it is: Latin-1 letters, the euro sign, CJK, emoji.
  const std::string fine = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xE4\xB8\xAD \xF0\x9F\x98\x80 \xC2\xA0!";
  EXPECT_EQ(shown(fine), fine);
  // Multi-line texts keep their line feeds and tabs; CR LF becomes LF, a
  // lone CR still shows.
  EXPECT_EQ(shown("one\r\ntwo\tthree\rfour\n", kKeepLineBreaks), "one\ntwo\tthree\\x0Dfour\n");
  // Cut before a character that does not fit, never inside one.
  char small[6];
  EXPECT_EQ(ShownText("ab\x1B", 3, 0, small, sizeof small), 2u);
  EXPECT_STREQ(small, "ab");
}

// Standard input from a string, standard output into a file.
class ConsoleIo : public ::testing::Test {
 protected:
  void Input(const std::string& text) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fds[1]);
    term_.inputFd = fds[0];
  }
  void SetUp() override {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    out_ = f;
    term_.outputFd = fileno(f);
    term_.inputFd = -1;
    term_.inputIsTerminal = false;
    term_.outputIsTerminal = false;
  }
  void TearDown() override {
    if (term_.inputFd >= 0) close(term_.inputFd);
    std::fclose(out_);
  }
  std::string Output() {
    std::string s;
    off_t end = lseek(term_.outputFd, 0, SEEK_END);
    s.resize(static_cast<size_t>(end));
    if (end > 0) {
      EXPECT_EQ(pread(term_.outputFd, s.data(), s.size(), 0), end);
    }
    return s;
  }
  std::string Rest() {
    std::string s;
    char c;
    while (read(term_.inputFd, &c, 1) == 1) s += c;
    return s;
  }

  Terminal term_{};
  std::FILE* out_ = nullptr;
};

TEST_F(ConsoleIo, LinesAreReadOneAtATimeAndEndOfInputRefuses) {
  Input("first\r\n\nlast");
  char line[8];
  ASSERT_TRUE(ReadAnswer(term_, line, sizeof line, false));
  EXPECT_STREQ(line, "first");
  ASSERT_TRUE(ReadAnswer(term_, line, sizeof line, true));
  EXPECT_STREQ(line, "");
  ASSERT_TRUE(ReadAnswer(term_, line, sizeof line, false));
  EXPECT_STREQ(line, "last");
  EXPECT_FALSE(ReadAnswer(term_, line, sizeof line, false));
}

// Ctrl+C at a question: whether it comes just before the wait begins (the
// terminal has thrown away what was typed, so no input follows) or while
// another thread is the one the signal lands on, the question is refused
// at once instead of waiting for a line that never comes.
TEST_F(ConsoleIo, AnInterruptRefusesAQuestionThatGetsNoInput) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  term_.inputFd = fds[0];
  volatile sig_atomic_t cancel = 0;
  SetInterruptFlag(&cancel);
  char line[8];

  cancel = 1;  // the signal came between the prompt and the wait
  EXPECT_FALSE(ReadAnswer(term_, line, sizeof line, true));

  cancel = 0;
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    cancel = 1;  // as the handler does when run on another thread
  });
  EXPECT_FALSE(ReadAnswer(term_, line, sizeof line, false));
  other.join();

  // Typed before the stop: the line is still read.
  cancel = 0;
  ASSERT_EQ(write(fds[1], "yes\n", 4), 4);
  ASSERT_TRUE(ReadAnswer(term_, line, sizeof line, false));
  EXPECT_STREQ(line, "yes");
  SetInterruptFlag(nullptr);
  close(fds[1]);
}

TEST_F(ConsoleIo, OverlongLinesAreCutAndConsumedWhole) {
  Input("abcdefghijkl\nnext\n");
  char line[5];
  ASSERT_TRUE(ReadAnswer(term_, line, sizeof line, false));
  EXPECT_STREQ(line, "abcd");
  ASSERT_TRUE(ReadAnswer(term_, line, sizeof line, false));
  EXPECT_STREQ(line, "next");
}

TEST_F(ConsoleIo, YesNoBoxAsksUntilAnAnswerFits) {
  Input("vielleicht\n2\n");
  ConsoleUi ui(term_);
  ui.SetBoxLabels(BoxLabels{"OK", "Ja", "Nein", "Abbrechen"});
  EXPECT_EQ(ui.ShowMessage("Trotzdem?", "Information", kBoxYesNo), kAnswerNo);
  std::string out = Output();
  EXPECT_NE(out.find("Information\nTrotzdem?\n[1] Ja  [2] Nein\n> "), std::string::npos) << out;
  // The buttons are listed again after the answer that did not fit.
  EXPECT_NE(out.find("[1] Ja  [2] Nein", out.find("[1] Ja") + 1), std::string::npos);
}

TEST_F(ConsoleIo, EveryQuestionIsRefusedAtTheEndOfInput) {
  Input("");
  ConsoleUi ui(term_);
  ui.SetBoxLabels(BoxLabels{"OK", "Ja", "Nein", "Abbrechen"});
  EXPECT_EQ(ui.ShowMessage("?", "c", kBoxYesNo), kAnswerNo);
  EXPECT_EQ(ui.ShowMessage("?", "c", kBoxOkCancel), kAnswerCancel);
  char buffer[kPathSize] = "x";
  PasswordTexts pt{IDD_FILE_PASSWORD, "Kennwort-Abfrage", "Text", "Kennwort", "OK", "Abbrechen"};
  EXPECT_EQ(ui.AskPassword(pt, buffer, sizeof buffer), kAnswerCancel);
  NextVolumeTexts vt{"Neues Medium", "Medium 2", "OK", "Abbrechen"};
  EXPECT_EQ(ui.AskNextVolume(vt, buffer, sizeof buffer), kAnswerCancel);
  OverwriteTexts ot{"t", "q", "old", "1 KB", "new", "2 KB", "OK", "Ja, &Alle", "Nein",
                    "Abbrechen", "a.txt", 0};
  EXPECT_EQ(ui.AskOverwrite(ot), kAnswerCancel);
  EXPECT_FALSE(ui.BrowseFolder("Ordner?", "\\tmp", buffer, sizeof buffer));
}

TEST_F(ConsoleIo, OkOnlyBoxesTakeNoAnswer) {
  Input("2\n");
  ConsoleUi ui(term_);
  EXPECT_EQ(ui.ShowMessage("Hallo\r\nWelt", nullptr, kBoxOk | kIconInformation), kAnswerOk);
  EXPECT_EQ(Rest(), "2\n");
  EXPECT_EQ(Output(), "\nHallo\nWelt\n");
}

TEST_F(ConsoleIo, OverwriteAnswersByLetterAndNumber) {
  Input("a\n3\nok\nabbrechen\n");
  ConsoleUi ui(term_);
  OverwriteTexts ot{"Ersetzen", "Datei 'a.txt'", "Soll", "1 KB", "durch", "2 KB",
                    "OK",       "Ja, &Alle",     "Nein", "Abbrechen", "a.txt", 0};
  EXPECT_EQ(ui.AskOverwrite(ot), kAnswerYesAll);
  EXPECT_EQ(ui.AskOverwrite(ot), kAnswerNo);
  EXPECT_EQ(ui.AskOverwrite(ot), kAnswerOk);
  EXPECT_EQ(ui.AskOverwrite(ot), kAnswerCancel);
  EXPECT_NE(Output().find("[1] OK  [2] Ja, Alle  [3] Nein  [4] Abbrechen"), std::string::npos);
}

TEST_F(ConsoleIo, PasswordsAndFoldersAreReadAsTyped) {
  char cwd[kPathSize];
  ASSERT_TRUE(GetCurrentFolder(cwd, sizeof cwd));
  Input(" geheim wort \n\ndisk2\n/mnt/cd\n");
  ConsoleUi ui(term_);
  char password[kPathSize];
  PasswordTexts pt{IDD_FILE_PASSWORD, "Kennwort-Abfrage", "Text", "Kennwort", "OK", "Abbrechen"};
  ASSERT_EQ(ui.AskPassword(pt, password, sizeof password), kAnswerOk);
  EXPECT_STREQ(password, " geheim wort ");  // blanks belong to a password

  NextVolumeTexts vt{"Neues Medium", "Medium 2", "OK", "Abbrechen"};
  char folder[kPathSize] = "\\srv\\setup\\";
  ASSERT_EQ(ui.AskNextVolume(vt, folder, sizeof folder), kAnswerOk);
  EXPECT_STREQ(folder, "\\srv\\setup\\");  // empty: the folder shown
  ASSERT_EQ(ui.AskNextVolume(vt, folder, sizeof folder), kAnswerOk);
  EXPECT_EQ(std::string(folder), std::string(cwd) + (std::string(cwd) == "\\" ? "" : "\\") + "disk2");
  ASSERT_EQ(ui.AskNextVolume(vt, folder, sizeof folder), kAnswerOk);
  EXPECT_STREQ(folder, "\\mnt\\cd");
  // Shown with slashes, as a Linux user types them.
  EXPECT_NE(Output().find("[/srv/setup/] > "), std::string::npos);
}

// Records the commands the main dialog passes on.
struct RecordingHost final : MainDialogHost {
  explicit RecordingHost(ConsoleUi* ui) : ui(ui) {}
  void OnCommand(uint32_t control) override {
    commands.push_back(control);
    overwriteChecked.push_back(ui->IsChecked(kCtlOverwrite));
    if (control == kCtlExtract || control == kCtlCancel) ui->EndDialog(control);
  }
  void OnEvent(uint32_t event) override { events.push_back(event); }
  ConsoleUi* ui;
  std::vector<uint32_t> commands;
  std::vector<bool> overwriteChecked;
  std::vector<uint32_t> events;
};

MainDialogSetup DialogSetup(bool withOverwrite) {
  MainDialogSetup s{};
  s.title = "Tarvik Self Extractor - setup";
  s.instruction = "Klicken Sie bitte auf 'Entpacken'.";
  s.folderLabel = "Zielordner:";
  s.folder = "\\home\\u\\ziel";
  s.browse = "...";
  s.overwrite = "&Dateien ohne Nachfrage überschreiben.";
  s.overwriteShown = withOverwrite ? 1 : 0;
  s.runAfter = nullptr;
  s.extract = "&Entpacken";
  s.cancel = "Abbrechen";
  s.about = "I&nfo über";
  s.help = "&Hilfe";
  s.overwriteChecked = 1;
  s.firstEvent = kEventEarlyCheck;
  return s;
}

TEST_F(ConsoleIo, MainDialogPassesCommandsAndTogglesCheckBoxes) {
  Input("h\n6\n7\nunsinn\nd\n1\n");
  ConsoleUi ui(term_);
  RecordingHost host(&ui);
  EXPECT_EQ(ui.RunMainDialog(DialogSetup(true), &host), kCtlExtract);
  EXPECT_EQ(host.events, std::vector<uint32_t>{kEventEarlyCheck});
  // "7" names the hidden run-after box and "unsinn" nothing: both ignored.
  EXPECT_EQ(host.commands, (std::vector<uint32_t>{kCtlHelp, kCtlExtract}));
  EXPECT_EQ(host.overwriteChecked, (std::vector<bool>{true, true}));
  EXPECT_FALSE(ui.HasMainDialog());
  std::string out = Output();
  EXPECT_NE(out.find("Tarvik Self Extractor - setup\n"), std::string::npos);
  EXPECT_NE(out.find("Zielordner: /home/u/ziel\n"), std::string::npos);
  EXPECT_NE(out.find("[6] [ ] Dateien ohne Nachfrage überschreiben."), std::string::npos);
  EXPECT_NE(out.find("[1] Entpacken  [2] Abbrechen  [3] ...  [4] Info über  [5] Hilfe"),
            std::string::npos);
}

TEST_F(ConsoleIo, MainDialogCancelsAtTheEndOfInput) {
  Input("6\n");
  ConsoleUi ui(term_);
  RecordingHost host(&ui);
  EXPECT_EQ(ui.RunMainDialog(DialogSetup(true), &host), kCtlCancel);
  EXPECT_EQ(host.commands, std::vector<uint32_t>{kCtlCancel});
  EXPECT_EQ(host.overwriteChecked, std::vector<bool>{false});
}

TEST_F(ConsoleIo, DisabledButtonsAreNeitherListedNorAccepted) {
  Input("1\n2\n");
  ConsoleUi ui(term_);
  struct Host final : MainDialogHost {
    ConsoleUi* ui;
    std::vector<uint32_t> commands;
    void OnCommand(uint32_t c) override {
      commands.push_back(c);
      if (c == kCtlCancel) ui->EndDialog(c);
    }
    void OnEvent(uint32_t) override { ui->EnableControl(kCtlExtract, false); }
  } host;
  host.ui = &ui;
  ui.RunMainDialog(DialogSetup(false), &host);
  EXPECT_EQ(host.commands, std::vector<uint32_t>{kCtlCancel});
  EXPECT_EQ(Output().find("[1] Entpacken"), std::string::npos);
  // The overwrite box has its text but is not offered.
  EXPECT_EQ(Output().find("[6]"), std::string::npos);
}

TEST_F(ConsoleIo, ProgressGoesToTerminalsOnly) {
  ConsoleUi quiet(term_);
  quiet.SetProgress(45, "Liesmich.rtf");
  EXPECT_EQ(Output(), "");

  Terminal tty = term_;
  tty.outputIsTerminal = true;
  ConsoleUi shown(tty);
  shown.SetProgress(45, "Liesmich.rtf");
  shown.Print("fertig\n");
  std::string out = Output();
  EXPECT_EQ(out.rfind("\rLiesmich.rtf (45 %)  [#############", 0), 0u) << out;
  // The next text starts on a line of its own.
  EXPECT_NE(out.find("\nfertig\n"), std::string::npos);
}

// Columns as a terminal counts them (UTF-8 sequences are one character).
size_t Width(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

TEST(FlowConsole, ProgressLineNeverFillsTheTerminalWidth) {
  char line[kPathSize + 80];
  ProgressLine(45, "Liesmich.rtf", 80, line, sizeof line);
  EXPECT_STREQ(line, "Liesmich.rtf (45 %)  [#############.................]");
  // The bar goes first, then the name loses its start.
  ProgressLine(45, "Liesmich.rtf", 40, line, sizeof line);
  EXPECT_STREQ(line, "Liesmich.rtf (45 %)");
  ProgressLine(45, "Liesmich.rtf", 16, line, sizeof line);
  EXPECT_STREQ(line, "...h.rtf (45 %)");
  ProgressLine(100, "sehr-langer-name-einer-datei.txt", 20, line, sizeof line);
  EXPECT_STREQ(line, "...atei.txt (100 %)");
  EXPECT_EQ(Width(line), 19u);
  ProgressLine(100, "sehr-langer-name.txt", 10, line, sizeof line);
  EXPECT_STREQ(line, "100 %");
  ProgressLine(7, nullptr, 4, line, sizeof line);
  EXPECT_STREQ(line, "7 %");
  ProgressLine(100, "x", 1, line, sizeof line);
  EXPECT_EQ(Width(line), 1u);
  // Every width, with names of several-byte characters: never wider than
  // the terminal less one column, never a cut character.
  const std::string names[] = {"Liesmich.rtf", "Größenübersicht-für-März.txt",
                               "\xE6\x96\x87\xE6\xA1\xA3\xE6\x96\x87\xE6\xA1\xA3.txt", ""};
  for (const std::string& name : names) {
    for (uint32_t columns = 2; columns < 90; ++columns) {
      ProgressLine(100, name.c_str(), columns, line, sizeof line);
      std::string shown = line;
      size_t wide = 0;
      for (size_t i = 0; i < shown.size(); ++i) {
        if (static_cast<unsigned char>(shown[i]) >= 0xE0) ++wide;
      }
      EXPECT_LE(Width(shown) + wide, columns - 1) << name << " at " << columns << ": " << shown;
      if (columns > 6) {
        EXPECT_NE(shown.find('%'), std::string::npos) << columns;
      }
      if (!shown.empty()) {
        EXPECT_NE(static_cast<unsigned char>(shown[0]) & 0xC0, 0x80u) << shown;
      }
    }
  }
}

TEST(FlowConsole, TypedTildeIsTheHomeFolder) {
  std::optional<std::string> saved;
  if (const char* h = getenv("HOME")) saved = h;
  char out[kPathSize];
  setenv("HOME", "/home/anna", 1);
  TypedFolder("~", out, sizeof out);
  EXPECT_STREQ(out, "\\home\\anna");
  TypedFolder(" ~/setup/disk2 ", out, sizeof out);
  EXPECT_STREQ(out, "\\home\\anna\\setup\\disk2");
  setenv("HOME", "/home/anna/", 1);
  TypedFolder("~/x", out, sizeof out);
  EXPECT_STREQ(out, "\\home\\anna\\x");
  setenv("HOME", "/", 1);
  TypedFolder("~/x", out, sizeof out);
  EXPECT_STREQ(out, "\\x");
  TypedFolder("~", out, sizeof out);
  EXPECT_STREQ(out, "\\");
  // Only a leading "~" standing alone or before "/" is the home folder.
  char cwd[kPathSize];
  ASSERT_TRUE(GetCurrentFolder(cwd, sizeof cwd));
  std::string here = std::string(cwd) + (std::string(cwd) == "\\" ? "" : "\\");
  TypedFolder("~anna", out, sizeof out);
  EXPECT_EQ(std::string(out), here + "~anna");
  TypedFolder("a/~", out, sizeof out);
  EXPECT_EQ(std::string(out), here + "a\\~");
  // Without a usable home the text stays as typed.
  setenv("HOME", "relative", 1);
  TypedFolder("~/x", out, sizeof out);
  EXPECT_EQ(std::string(out), here + "~\\x");
  if (saved) {
    setenv("HOME", saved->c_str(), 1);
  } else {
    unsetenv("HOME");
  }
}

TEST_F(ConsoleIo, PayloadTextsAndNamesReachTheTerminalWithoutControls) {
  Terminal tty = term_;
  tty.outputIsTerminal = true;
  ConsoleUi ui(tty);
  ui.SetProgress(45, "a\x1B]0;pwn\x07.txt");
  ui.ShowMessage("Line one\r\n\x1B[2JLine two\xC2\x9B" "1m", "Cap\x1B[31mtion", kBoxOk);
  SignatureTexts sig{"Digital signature", "signed by \x1B[32mTrusted Corp\r", "OK", nullptr};
  ui.ShowSignature(sig);
  std::string out = Output();
  // The one ESC left is the progress line's own line clearing.
  EXPECT_EQ(std::count(out.begin(), out.end(), '\x1B'), 1) << out;
  EXPECT_EQ(out.find('\x07'), std::string::npos) << out;
  EXPECT_EQ(out.find("\xC2\x9B"), std::string::npos) << out;
  EXPECT_NE(out.find("a\\x1B]0;pwn\\x07.txt (45 %)"), std::string::npos) << out;
  EXPECT_NE(out.find("Line one\n\\x1B[2JLine two\\x9B" "1m"), std::string::npos) << out;
  EXPECT_NE(out.find("Cap\\x1B[31mtion"), std::string::npos) << out;
  EXPECT_NE(out.find("signed by \\x1B[32mTrusted Corp\\x0D\n"), std::string::npos) << out;
  // The progress line's own carriage return and line clearing stay.
  EXPECT_EQ(out.rfind("\ra\\x1B", 0), 0u) << out;
}

TEST_F(ConsoleIo, SignatureBoxCarriesTheTestKeyNote) {
  ConsoleUi ui(term_);
  SignatureTexts sig{"Digital signature", "valid", "OK", "TEST BUILD: trusts the test key"};
  ui.ShowSignature(sig);
  EXPECT_EQ(Output(), "\nDigital signature\nvalid\nTEST BUILD: trusts the test key\n");
}

}  // namespace
}  // namespace tvk::console
#endif
