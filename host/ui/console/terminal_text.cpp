#include "host/ui/console/terminal_text.h"

namespace tvk {
namespace console {

namespace {

uint32_t Escape(uint32_t value, char out[4]) {
  static const char kHex[] = "0123456789ABCDEF";
  out[0] = '\\';
  out[1] = 'x';
  out[2] = kHex[(value >> 4) & 15];
  out[3] = kHex[value & 15];
  return 4;
}

// The length of the well-formed UTF-8 character at p (shortest form, no
// surrogates, at most U+10FFFF), or 0.
size_t Utf8Length(const unsigned char* p, size_t available) {
  unsigned char c = p[0];
  size_t n;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (available < n) return 0;
  if (p[1] < low || p[1] > high) return 0;
  for (size_t i = 2; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
  }
  return n;
}

}  // namespace

uint32_t ShownCharacter(const char* text, size_t available, uint32_t flags, char out[4],
                        size_t* consumed) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  unsigned char c = p[0];
  *consumed = 1;
  if (c < 0x80) {
    const bool keep = (flags & kKeepLineBreaks) != 0;
    if ((c >= 0x20 && c != 0x7F) || (keep && (c == '\n' || c == '\t'))) {
      out[0] = static_cast<char>(c);
      return 1;
    }
    if (keep && c == '\r' && available > 1 && p[1] == '\n') {
      *consumed = 2;
      out[0] = '\n';
      return 1;
    }
    return Escape(c, out);
  }
  size_t n = Utf8Length(p, available);
  if (n == 0) return Escape(c, out);
  *consumed = n;
  if (n == 2 && c == 0xC2 && p[1] <= 0x9F) return Escape(p[1], out);  // U+0080..U+009F
  out[0] = static_cast<char>(p[0]);
  out[1] = static_cast<char>(p[1]);
  if (n > 2) out[2] = static_cast<char>(p[2]);
  if (n > 3) out[3] = static_cast<char>(p[3]);
  return static_cast<uint32_t>(n);
}

size_t ShownText(const char* text, size_t length, uint32_t flags, char* out, size_t size) {
  if (!size) return 0;
  size_t written = 0;
  size_t at = 0;
  while (at < length) {
    char shown[4];
    size_t used = 0;
    uint32_t n = ShownCharacter(text + at, length - at, flags, shown, &used);
    if (written + n + 1 > size) break;
    for (uint32_t i = 0; i < n; ++i) out[written++] = shown[i];
    at += used;
  }
  out[written] = 0;
  return written;
}

}  // namespace console
}  // namespace tvk
