// Safe formatting of payload messages (see message_format.h).
#include "host/message_format.h"

namespace tvk {
namespace {

enum Style { kPrintf, kInserts };

struct Signature {
  Style style;
  uint8_t count;
  FormatArg::Kind kinds[4];
};

Signature SignatureOf(uint32_t number) {
  using K = FormatArg::Kind;
  switch (number) {
    case 12: case 24: case 25: case 43: case 52:
      return {kPrintf, 1, {K::kString}};
    case 13:
      return {kPrintf, 2, {K::kString, K::kUnsigned}};
    case 28: case 44:
      return {kPrintf, 2, {K::kUnsigned, K::kString}};
    case 34:
      return {kPrintf, 4, {K::kString, K::kString, K::kString, K::kString}};
    case 17:
      return {kInserts, 1, {K::kString}};
    case 20: case 21:
      return {kInserts, 3, {K::kString, K::kString, K::kInt}};
    default:
      return {kPrintf, 0, {}};
  }
}

// Bounded output that remembers whether anything was cut.
struct Out {
  char* buffer;
  uint32_t size;
  uint32_t length;
  bool cut;

  void Put(char c) {
    if (length + 1 < size) {
      buffer[length++] = c;
    } else {
      cut = true;
    }
  }
  void Put(const char* s, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) Put(s[i]);
  }
  void PutText(const char* s) {
    while (*s) Put(*s++);
  }
  void PutUnsigned(uint32_t v) {
    char digits[10];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v);
    while (n) Put(digits[--n]);
  }
  void PutInt(int32_t v) {
    if (v < 0) {
      Put('-');
      PutUnsigned(0u - static_cast<uint32_t>(v));
    } else {
      PutUnsigned(static_cast<uint32_t>(v));
    }
  }
};

bool StartsWith(const char* p, const char* prefix) {
  while (*prefix) {
    if (*p++ != *prefix++) return false;
  }
  return true;
}

// Does the caller's argument i fit the documented kind?
bool ArgFits(const Signature& sig, const FormatArg* args, uint32_t argCount, uint32_t i,
             FormatArg::Kind kind) {
  return i < sig.count && i < argCount && sig.kinds[i] == kind && args[i].kind == kind;
}

void FormatPrintf(Out* out, const char* p, const Signature& sig, const FormatArg* args,
                  uint32_t argCount) {
  uint32_t next = 0;
  while (*p) {
    if (*p != '%') {
      out->Put(*p++);
      continue;
    }
    if (p[1] == '%') {
      out->Put('%');
      p += 2;
      continue;
    }
    if (p[1] == 's' && ArgFits(sig, args, argCount, next, FormatArg::kString)) {
      out->PutText(args[next++].s);
      p += 2;
      continue;
    }
    if (p[1] == 'u' && ArgFits(sig, args, argCount, next, FormatArg::kUnsigned)) {
      out->PutUnsigned(args[next++].u);
      p += 2;
      continue;
    }
    if (p[1] == 'l' && p[2] == 'u' && ArgFits(sig, args, argCount, next, FormatArg::kUnsigned)) {
      out->PutUnsigned(args[next++].u);
      p += 3;
      continue;
    }
    // Anything else, widths and %n included, is plain text.
    out->Put(*p++);
  }
}

void FormatInserts(Out* out, const char* p, const Signature& sig, const FormatArg* args,
                   uint32_t argCount) {
  while (*p) {
    if (*p != '%') {
      out->Put(*p++);
      continue;
    }
    if (p[1] == '%') {
      out->Put('%');
      p += 2;
      continue;
    }
    if (p[1] >= '1' && p[1] <= '9') {
      // Insert numbers run to two digits; "%12" is insert 12, not 1 and "2".
      uint32_t number = static_cast<uint32_t>(p[1] - '0');
      const char* q = p + 2;
      if (*q >= '0' && *q <= '9') number = number * 10 + static_cast<uint32_t>(*q++ - '0');
      uint32_t index = number - 1;
      if (StartsWith(q, "!d!")) {
        if (ArgFits(sig, args, argCount, index, FormatArg::kInt)) {
          out->PutInt(args[index].i);
          p = q + 3;
          continue;
        }
      } else if (StartsWith(q, "!s!")) {
        if (ArgFits(sig, args, argCount, index, FormatArg::kString)) {
          out->PutText(args[index].s);
          p = q + 3;
          continue;
        }
      } else if (*q != '!') {
        if (ArgFits(sig, args, argCount, index, FormatArg::kString)) {
          out->PutText(args[index].s);
          p = q;
          continue;
        }
      }
    }
    out->Put(*p++);
  }
}

}  // namespace

uint32_t FormatMessageText(char* out, uint32_t size, uint32_t number, const char* text,
                           const FormatArg* args, uint32_t argCount) {
  if (!out || size == 0) return kStrInvalidArg;
  Out o{out, size, 0, false};
  if (text) {
    Signature sig = SignatureOf(number);
    if (sig.style == kInserts) {
      FormatInserts(&o, text, sig, args, argCount);
    } else {
      FormatPrintf(&o, text, sig, args, argCount);
    }
  }
  out[o.length] = '\0';
  return o.cut ? kStrTruncated : kStrOk;
}

uint32_t FormatTableMessage(char* out, uint32_t size, const MessageTable& table, uint32_t number,
                            const FormatArg* args, uint32_t argCount) {
  return FormatMessageText(out, size, number, MessageText(table, number), args, argCount);
}

}  // namespace tvk
