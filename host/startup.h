// Start-up of the self-extractor: the payload behind the program image, its
// language text (the message table), its settings record and the options
// derived from them. Everything lands in one StartupState record that the
// extraction flow and the prompts read afterwards.
//
// Payload layout (little-endian), found at or after offset 50000 of the
// program file:
//   "TV5SFX", u32 magic 110798, u32 version (>= 5), u32 language length L
//   (1..65535), L bytes of INI text, then the settings record, then the
//   archive.
#ifndef TVK_HOST_STARTUP_H
#define TVK_HOST_STARTUP_H

#include <stdint.h>

#include "archive/format.h"
#include "platform/platform.h"

namespace tvk {

// ---------------------------------------------------------------------------
// Message table
// ---------------------------------------------------------------------------

// 74 heap copies of the language's messages, escapes already converted (and on
// Linux converted to UTF-8). The program keeps the table for its whole run.
struct MessageTable {
  char* text[fmt::kMessageCount];
};

// Loads every message from an INI file ([description] 0, [data] 0..73).
// Answers 1 when all 74 are present and non-empty and message 34 holds exactly
// four "%s"; else 0, keeping the entries loaded so far.
int LoadMessageTable(const char* iniPath, MessageTable* table);
// Gives the copies back (tests and tools; the program never frees its table).
void FreeMessageTable(MessageTable* table);
// The text of message k, or "" when k is out of range or not loaded.
const char* MessageText(const MessageTable& table, uint32_t k);
// In place: backslash-n becomes CR LF, backslash-t a TAB, everything else
// stays. Answers the new length (never longer than before).
uint32_t ConvertEscapes(char* text);
// Occurrences of the two characters "%s".
uint32_t CountPercentS(const char* text);

// ---------------------------------------------------------------------------
// Payload header and settings record
// ---------------------------------------------------------------------------

struct PayloadHeader {
  uint32_t magic;
  uint32_t version;
  uint32_t languageLength;
};

// 1 when the 18 bytes at p are an acceptable header (signature, magic,
// version >= 5, length 1..65535).
int ParsePayloadHeader(const uint8_t* p, PayloadHeader* out);
// The first acceptable header among the first m bytes of a buffer read from
// offset 50000: its index, or -1. A header needs 19 bytes in front of the
// end of the buffer (at least one byte of language text).
int64_t FindPayloadHeader(const uint8_t* buffer, uint32_t m, PayloadHeader* out);

#if defined(_WIN32)
constexpr uint32_t kTextScale = 1;
#else
// Payload texts are converted to UTF-8 on load: up to three bytes for one
// character of the payload's code page.
constexpr uint32_t kTextScale = 3;
#endif
// Settings strings of cap 255 share the path buffer size: several of them are
// paths and grow when a macro is expanded.
constexpr uint32_t kSettingsStringSize =
    kPathSize > fmt::kCapString * kTextScale + 1 ? kPathSize : fmt::kCapString * kTextScale + 1;
constexpr uint32_t kInfoTextSize = fmt::kCapInfoText * kTextScale + 1;

// Field by field in payload order. Strings are terminated; their length in
// the payload is capped (255, info text 4095) and longer strings are cut.
struct PayloadSettings {
  uint32_t mode;          // 0 standard, 2 command mode, others derive nothing
  uint32_t reserved2;
  uint32_t reserved3;
  char infoTitle[kSettingsStringSize];
  char infoText[kInfoTextSize];
  uint32_t infoBoxStyle;  // 0 info/OK, 1 question/Yes-No, 2 info/OK-Cancel, else OK
  char aboutPrefix[kSettingsStringSize];
  char targetFolder[kSettingsStringSize];
  char runAfter[kSettingsStringSize];      // name, after derivation without "|params"
  uint32_t overwrite;
  uint32_t quiet;
  char reserved12[kSettingsStringSize];
  char command[kSettingsStringSize];
  char secondCommand[kSettingsStringSize];
  char reserved15[kSettingsStringSize];
  uint32_t reserved16;
  uint32_t reserved17;
  // The length field of the second command as read (after the cap); mode 2
  // tells "absent" from "present" by it.
  uint32_t secondCommandLength;
};

// Reads the record from the current position of an open file. Short reads
// leave the remaining fields zero (the record must be zeroed before).
void ReadSettings(FileHandle file, PayloadSettings* settings);

// Splits text at its first '|': the tail goes to tail (when given), and the
// text ends at the bar unless the bar is its first character. Without a bar
// nothing changes, tail included.
void SplitAtBar(char* text, char* tail, uint32_t tailSize);

// ---------------------------------------------------------------------------
// Start-up state
// ---------------------------------------------------------------------------

struct StartupState {
  char programPath[kPathSize];  // also the path the archive reader opens
  void* instance;               // the program's instance handle (Windows)
  uint64_t programSize;
  PayloadSettings settings;
  char runAfterParams[kPathSize];
  int overwriteAll;       // replace existing files without asking
  int infoTextPending;    // show the info text before anything else
  int earlyCheck;         // program file <= 16 MiB: check the archive at once
  // A target-folder macro matched but its folder could not be found; the
  // options were then not derived (target keeps the payload's text).
  int macroFailed;
  MessageTable messages;
};

// The process's one start-up state.
extern StartupState startupState;

// Derives the run-after parameters, the final target folder and overwriteAll
// from the settings (modes 0 and 2; other modes derive nothing). Sets
// macroFailed and stops early when a target macro cannot be resolved.
void DeriveOptions(StartupState* state);

// Runs start-up for the program file at programPath (internal path form):
// finds the payload, loads the message table through a temporary ".~cx"
// file, reads the settings and derives the options into *state, which is
// zeroed first. Answers 0, or a start-up error code after its box was shown.
int RunStartup(const char* programPath, StartupState* state);

// ---------------------------------------------------------------------------
// Start-up errors: fixed bilingual texts, since the message table may be
// missing. The code is also the process exit code.
// ---------------------------------------------------------------------------

constexpr int kStartupNoLanguage = -2;  // message table did not load
constexpr int kStartupNoPayload = -1;   // no payload (also: program unreadable, text cut short)
constexpr int kStartupTempFolder = 5;   // the temporary file cannot be made or written
constexpr int kStartupMemory = 7;       // the work buffer cannot be allocated

// "German line\n\nEnglish line", or nullptr for an unknown code.
const char* StartupErrorText(int code);

// How a front end shows a start-up error (Windows: a message box without
// owner, caption "Error", warning icon, OK; Linux: the text on the console).
typedef void (*StartupErrorShow)(int code, const char* text);
// Replaces the platform's way of showing (tests capture it); nullptr restores.
void SetStartupErrorShow(StartupErrorShow show);
void ShowStartupError(int code);

}  // namespace tvk

#endif
