// Text from an archive or a payload on its way to a terminal. Names,
// comments, signer names and language texts are the archive maker's bytes:
// written raw they could set the window title, clear the screen, move the
// cursor or overwrite a line that was printed before. Control characters are
// therefore shown as \xNN.
#ifndef TVK_HOST_UI_CONSOLE_TERMINAL_TEXT_H
#define TVK_HOST_UI_CONSOLE_TERMINAL_TEXT_H

#include <stddef.h>
#include <stdint.h>

namespace tvk {
namespace console {

// Line feeds and tabs stay (and CR LF becomes LF): for multi-line texts
// such as comments and messages.
constexpr uint32_t kKeepLineBreaks = 1;

// The form of the character at text (available bytes, at least 1) on a
// terminal: the character itself when it is printable UTF-8, else \xNN.
// Escaped are the C0 controls and DEL, the C1 controls U+0080 to U+009F
// (shown by their code: what Windows-1252 text leaves of 0x81, 0x8D, 0x8F,
// 0x90 and 0x9D after its conversion, and what a terminal may take for
// CSI and its kin), and every byte that is no part of a well-formed UTF-8
// character (an 8-bit terminal reads a lone 0x9B as CSI). Writes at most 4
// bytes to out (not terminated) and answers their count; *consumed receives
// the input bytes used.
uint32_t ShownCharacter(const char* text, size_t available, uint32_t flags, char out[4],
                        size_t* consumed);

// The whole text (length bytes) in its shown form into out (size bytes,
// zero-terminated; cut before a character that does not fit). Answers the
// length written.
size_t ShownText(const char* text, size_t length, uint32_t flags, char* out, size_t size);

}  // namespace console
}  // namespace tvk

#endif
