// Formatting of the payload's messages. The texts come from the payload, so
// they are never handed to printf or to the system's message formatter: each
// message number accepts only the conversions it is documented to take, in
// order, and every other '%' sequence is shown literally ("%%" is one '%').
//
//   12, 24, 25, 43, 52   "%s"                     one string
//   13                   "%s" "%lu"               a string, an unsigned
//   28, 44               "%u" "%s"                an unsigned, a string
//   34                   "%s" x 4                 four strings
//   17                   "%1"                     insert 1: a string
//   20, 21               "%1" "%2" "%3!d!"        two strings, a signed int
//   every other message  no conversions
//
// Printf-style messages take "%s" for a string and "%u" or "%lu" for an
// unsigned; a conversion that does not fit the next argument stays literal
// and leaves the argument for the next one. Insert-style messages take "%n"
// or "%n!s!" for a string insert and "%n!d!" for an integer insert, in any
// order and as often as they like.
#ifndef TVK_HOST_MESSAGE_FORMAT_H
#define TVK_HOST_MESSAGE_FORMAT_H

#include <stdint.h>

#include "host/startup.h"

namespace tvk {

struct FormatArg {
  enum Kind : uint8_t { kString, kUnsigned, kInt };
  Kind kind;
  const char* s;
  uint32_t u;
  int32_t i;
};

inline FormatArg ArgStr(const char* s) { return FormatArg{FormatArg::kString, s ? s : "", 0, 0}; }
inline FormatArg ArgUint(uint32_t u) { return FormatArg{FormatArg::kUnsigned, nullptr, u, 0}; }
inline FormatArg ArgInt(int32_t i) { return FormatArg{FormatArg::kInt, nullptr, 0, i}; }

// Formats message number `number` whose text is `text` into out (always
// terminated when size > 0). Answers kStrOk, kStrTruncated when the result
// was cut to size - 1 bytes, or kStrInvalidArg for size 0.
uint32_t FormatMessageText(char* out, uint32_t size, uint32_t number, const char* text,
                           const FormatArg* args, uint32_t argCount);

// The same with the text taken from a message table.
uint32_t FormatTableMessage(char* out, uint32_t size, const MessageTable& table, uint32_t number,
                            const FormatArg* args, uint32_t argCount);

// Shorthands for the common argument counts.
inline uint32_t FormatMessage0(char* out, uint32_t size, const MessageTable& t, uint32_t n) {
  return FormatTableMessage(out, size, t, n, nullptr, 0);
}
inline uint32_t FormatMessage1(char* out, uint32_t size, const MessageTable& t, uint32_t n,
                               FormatArg a) {
  return FormatTableMessage(out, size, t, n, &a, 1);
}
inline uint32_t FormatMessage2(char* out, uint32_t size, const MessageTable& t, uint32_t n,
                               FormatArg a, FormatArg b) {
  FormatArg args[2] = {a, b};
  return FormatTableMessage(out, size, t, n, args, 2);
}
inline uint32_t FormatMessage3(char* out, uint32_t size, const MessageTable& t, uint32_t n,
                               FormatArg a, FormatArg b, FormatArg c) {
  FormatArg args[3] = {a, b, c};
  return FormatTableMessage(out, size, t, n, args, 3);
}
inline uint32_t FormatMessage4(char* out, uint32_t size, const MessageTable& t, uint32_t n,
                               FormatArg a, FormatArg b, FormatArg c, FormatArg d) {
  FormatArg args[4] = {a, b, c, d};
  return FormatTableMessage(out, size, t, n, args, 4);
}

}  // namespace tvk

#endif
