// A small printf-style formatter of our own. The C libraries' formatters
// bring floating point and locale machinery that the self-extractor never
// uses (on Windows tens of kilobytes); the module formats only integers,
// characters and strings.
#include <stdarg.h>
#include <stdint.h>

#include "platform/platform.h"

namespace tvk {

namespace {

struct Out {
  char* dst;
  uint32_t size;
  uint32_t length;  // characters the full result has so far

  void Put(char c) {
    if (size && length < size - 1) dst[length] = c;
    ++length;
  }
  void Repeat(char c, int32_t n) {
    for (; n > 0; --n) Put(c);
  }
};

struct Conversion {
  bool left = false, zero = false, plus = false, space = false, alt = false;
  int32_t width = 0;
  int32_t precision = -1;
};

void PutText(Out& out, const Conversion& shape, const char* s, int32_t n) {
  if (!shape.left) out.Repeat(' ', shape.width - n);
  for (int32_t i = 0; i < n; ++i) out.Put(s[i]);
  if (shape.left) out.Repeat(' ', shape.width - n);
}

// Divides *value by base (at most 16) in place and answers the remainder, a
// 16-bit piece at a time: a 32-bit build then divides with its own
// instruction rather than linking a 64-bit division routine.
uint32_t DivideSmall(uint64_t* value, uint32_t base) {
  uint64_t quotient = 0;
  uint32_t rest = 0;
  for (int shift = 48; shift >= 0; shift -= 16) {
    const uint32_t part = rest << 16 | (static_cast<uint32_t>(*value >> shift) & 0xFFFF);
    quotient = quotient << 16 | part / base;
    rest = part % base;
  }
  *value = quotient;
  return rest;
}

void PutNumber(Out& out, const Conversion& shape, uint64_t value, bool negative, uint32_t base,
               bool upper, bool isSigned) {
  char digits[24];
  int32_t n = 0;
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  if (value == 0 && shape.precision != 0) digits[n++] = '0';
  while (value) digits[n++] = set[DivideSmall(&value, base)];
  // Plus and space flags only apply to signed conversions.
  char sign = negative ? '-' : !isSigned ? 0 : shape.plus ? '+' : shape.space ? ' ' : 0;
  const char* prefix = (shape.alt && base == 16 && n && !(n == 1 && digits[0] == '0'))
                           ? (upper ? "0X" : "0x")
                           : "";
  int32_t prefixLength = prefix[0] ? 2 : 0;
  int32_t zeros = shape.precision > n ? shape.precision - n : 0;
  // The alternative octal form starts with a zero.
  if (shape.alt && base == 8 && zeros == 0 && (n == 0 || digits[n - 1] != '0')) zeros = 1;
  int32_t total = n + zeros + (sign ? 1 : 0) + prefixLength;
  int32_t pad = shape.width > total ? shape.width - total : 0;
  if (shape.zero && !shape.left && shape.precision < 0) {
    zeros += pad;
    pad = 0;
  }
  if (!shape.left) out.Repeat(' ', pad);
  if (sign) out.Put(sign);
  for (int32_t i = 0; i < prefixLength; ++i) out.Put(prefix[i]);
  out.Repeat('0', zeros);
  while (n) out.Put(digits[--n]);
  if (shape.left) out.Repeat(' ', pad);
}

}  // namespace

uint32_t FormatV(char* dst, uint32_t size, const char* format, va_list args) {
  Out out{dst, size, 0};
  for (const char* p = format; p && *p; ++p) {
    if (*p != '%') {
      out.Put(*p);
      continue;
    }
    const char* start = p++;
    Conversion shape;
    for (;; ++p) {
      if (*p == '-') shape.left = true;
      else if (*p == '0') shape.zero = true;
      else if (*p == '+') shape.plus = true;
      else if (*p == ' ') shape.space = true;
      else if (*p == '#') shape.alt = true;
      else break;
    }
    if (*p == '*') {
      shape.width = va_arg(args, int);
      if (shape.width < 0) {
        shape.left = true;
        shape.width = -shape.width;
      }
      ++p;
    } else {
      while (*p >= '0' && *p <= '9' && shape.width < 100000) shape.width = shape.width * 10 + (*p++ - '0');
    }
    if (*p == '.') {
      ++p;
      shape.precision = 0;
      if (*p == '*') {
        shape.precision = va_arg(args, int);
        ++p;
      } else {
        while (*p >= '0' && *p <= '9' && shape.precision < 100000) {
          shape.precision = shape.precision * 10 + (*p++ - '0');
        }
      }
    }
    int longs = 0;  // 0 int, 1 long, 2 long long, -1 short, -2 char, 3 size_t
    for (;; ++p) {
      if (*p == 'l') ++longs;
      else if (*p == 'h') --longs;
      else if (*p == 'z') longs = 3;
      else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
        longs = 2;
        p += 2;
      } else break;
    }
    char c = *p;
    if (c == 'd' || c == 'i') {
      int64_t v = longs == 2 ? va_arg(args, long long)
                  : longs == 1 ? va_arg(args, long)
                  : longs == 3 ? static_cast<int64_t>(va_arg(args, size_t))
                               : va_arg(args, int);
      if (longs == -1) v = static_cast<short>(v);
      if (longs <= -2) v = static_cast<signed char>(v);
      uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
      PutNumber(out, shape, magnitude, v < 0, 10, false, true);
    } else if (c == 'u' || c == 'x' || c == 'X' || c == 'o') {
      uint64_t v = longs == 2 ? va_arg(args, unsigned long long)
                   : longs == 1 ? va_arg(args, unsigned long)
                   : longs == 3 ? va_arg(args, size_t)
                                : va_arg(args, unsigned int);
      if (longs == -1) v = static_cast<unsigned short>(v);
      if (longs <= -2) v = static_cast<unsigned char>(v);
      PutNumber(out, shape, v, false, c == 'u' ? 10 : c == 'o' ? 8 : 16, c == 'X', false);
    } else if (c == 'p') {
      shape.alt = true;
      PutNumber(out, shape, reinterpret_cast<uintptr_t>(va_arg(args, void*)), false, 16, false,
                false);
    } else if (c == 'c') {
      char ch = static_cast<char>(va_arg(args, int));
      PutText(out, shape, &ch, 1);
    } else if (c == 's') {
      const char* s = va_arg(args, const char*);
      if (!s) s = "(null)";
      int32_t n = 0;
      while (s[n] && (shape.precision < 0 || n < shape.precision)) ++n;
      PutText(out, shape, s, n);
    } else if (c == '%') {
      out.Put('%');
    } else {
      // Anything we do not know is shown as written, never interpreted.
      for (const char* q = start; q <= p && *q; ++q) out.Put(*q);
      if (!c) break;
    }
  }
  if (size) dst[out.length < size ? out.length : size - 1] = '\0';
  return out.length;
}

uint32_t Format(char* dst, uint32_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  uint32_t n = FormatV(dst, size, format, args);
  va_end(args);
  return n;
}

}  // namespace tvk
