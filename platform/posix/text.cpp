// Text on Linux is UTF-8. Archives and payloads carry 8-bit texts of the
// writer's ANSI code page (Windows-1252 unless the text is valid UTF-8) and
// of the OEM code page (850); both are turned into UTF-8 when they are read.
#include <string.h>

#include "common/cp1252.h"
#include "platform/platform.h"

namespace tvk {

namespace {

// Code page 850, bytes 0x80 to 0xFF.
const uint16_t kCp850[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 90
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,  // 98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // A0
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,  // B0
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,  // C8
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,  // D0
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,  // D8
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,  // E0
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,  // E8
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,  // F0
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,  // F8
};

constexpr uint32_t kReplacement = 0xFFFD;

uint32_t Utf8Length(uint32_t cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

// Writes cp at out, which has room for Utf8Length(cp) bytes.
void PutUtf8(uint32_t cp, char* out) {
  uint8_t* o = reinterpret_cast<uint8_t*>(out);
  if (cp < 0x80) {
    o[0] = static_cast<uint8_t>(cp);
  } else if (cp < 0x800) {
    o[0] = static_cast<uint8_t>(0xC0 | (cp >> 6));
    o[1] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    o[0] = static_cast<uint8_t>(0xE0 | (cp >> 12));
    o[1] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    o[2] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
  } else {
    o[0] = static_cast<uint8_t>(0xF0 | (cp >> 18));
    o[1] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
    o[2] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    o[3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
  }
}

// Decodes one well-formed UTF-8 sequence (no overlong forms, no surrogates,
// nothing above U+10FFFF). Answers its length, or 0 when the bytes at p are
// not one.
uint32_t DecodeUtf8(const uint8_t* p, size_t avail, uint32_t* cp) {
  if (avail == 0) return 0;
  uint8_t b = p[0];
  if (b < 0x80) {
    *cp = b;
    return 1;
  }
  uint32_t len, value, min;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2, value = b & 0x1F, min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3, value = b & 0x0F, min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4, value = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (avail < len) return 0;
  for (uint32_t i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (p[i] & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *cp = value;
  return len;
}

bool IsValidUtf8(const uint8_t* p, size_t n) {
  uint32_t cp;
  for (size_t i = 0; i < n;) {
    uint32_t len = DecodeUtf8(p + i, n - i, &cp);
    if (!len) return false;
    i += len;
  }
  return true;
}

// Like DecodeUtf8, but a byte that starts no valid sequence stands for
// itself, mapped where no real character lies, so that such bytes still
// compare as themselves.
uint32_t DecodeLenient(const uint8_t* p, uint32_t* cp) {
  size_t avail = 0;
  while (avail < 4 && p[avail]) ++avail;
  uint32_t len = DecodeUtf8(p, avail, cp);
  if (len) return len;
  *cp = 0x110000u + p[0];
  return 1;
}

// Upper case of the letters of ASCII and Latin-1, and of the few further
// letters that Windows-1252 holds, so that the case pairs of the archive's
// code page stay pairs after the conversion to UTF-8.
uint32_t UpperOf(uint32_t cp) {
  if (cp >= 'a' && cp <= 'z') return cp - 0x20;
  if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) return cp - 0x20;
  switch (cp) {
    case 0xFF: return 0x178;
    case 0x161: return 0x160;
    case 0x153: return 0x152;
    case 0x17E: return 0x17D;
    default: return cp;
  }
}

// Converts `length` bytes at text in place from an 8-bit code page whose
// upper half is given by map(byte), cut to whole characters within size - 1
// bytes. The output is written from the back, so it never overtakes the
// input it still needs.
template <class Map>
uint32_t WidenInPlace(char* text, uint32_t length, uint32_t size, Map map) {
  uint8_t* t = reinterpret_cast<uint8_t*>(text);
  uint32_t in = 0;
  uint32_t outLength = 0;
  for (; in < length; ++in) {
    uint32_t n = Utf8Length(map(t[in]));
    if (outLength + n > size - 1) break;
    outLength += n;
  }
  uint32_t out = outLength;
  while (in > 0) {
    --in;
    uint32_t cp = map(t[in]);
    out -= Utf8Length(cp);
    PutUtf8(cp, text + out);
  }
  text[outLength] = '\0';
  return outLength;
}

uint32_t MapCp1252(uint8_t b) { return Cp1252CodePoint(b); }
uint32_t MapCp850(uint8_t b) { return b >= 0x80 ? kCp850[b - 0x80] : b; }

}  // namespace

const char* NextChar(const char* p) {
  if (!p || !*p) return p;
  // Paths are mostly ASCII, and every path function steps through them.
  if (static_cast<uint8_t>(*p) < 0x80) return p + 1;
  const uint8_t* u = reinterpret_cast<const uint8_t*>(p);
  uint32_t cp;
  size_t avail = 0;
  while (avail < 4 && u[avail]) ++avail;
  uint32_t len = DecodeUtf8(u, avail, &cp);
  return p + (len ? len : 1);
}

const char* PrevChar(const char* start, const char* p) {
  if (!start || !p || p <= start) return start;
  // Back over up to three continuation bytes to a lead byte whose sequence
  // ends exactly at p; otherwise the last byte is a character of its own.
  for (size_t back = 2; back <= 4 && static_cast<size_t>(p - start) >= back; ++back) {
    const uint8_t* q = reinterpret_cast<const uint8_t*>(p - back);
    if ((q[back - 1] & 0xC0) != 0x80) break;
    uint32_t cp;
    if ((q[0] & 0xC0) != 0x80) {
      return DecodeUtf8(q, back, &cp) == back ? p - back : p - 1;
    }
  }
  return p - 1;
}

void StrUpper(char* s) {
  if (!s) return;
  uint8_t* p = reinterpret_cast<uint8_t*>(s);
  while (*p) {
    uint32_t cp;
    uint32_t len = DecodeLenient(p, &cp);
    uint32_t upper = UpperOf(cp);
    // Every pair above has the same UTF-8 length in both cases.
    if (upper != cp) PutUtf8(upper, reinterpret_cast<char*>(p));
    p += len;
  }
}

int StrCompareNoCase(const char* a, const char* b) {
  if (!a) a = "";
  if (!b) b = "";
  const uint8_t* p = reinterpret_cast<const uint8_t*>(a);
  const uint8_t* q = reinterpret_cast<const uint8_t*>(b);
  for (;;) {
    if (!*p || !*q) return (*p != 0) - (*q != 0);
    uint32_t x, y;
    p += DecodeLenient(p, &x);
    q += DecodeLenient(q, &y);
    x = UpperOf(x);
    y = UpperOf(y);
    if (x != y) return x < y ? -1 : 1;
  }
}

uint32_t AnsiToSystem(char* text, uint32_t length, uint32_t size) {
  if (!text || size == 0) return 0;
  const uint8_t* t = reinterpret_cast<const uint8_t*>(text);
  if (IsValidUtf8(t, length)) {
    // Already UTF-8: only cut, and never inside a character.
    uint32_t keep = length;
    if (keep > size - 1) {
      keep = size - 1;
      while (keep > 0 && (t[keep] & 0xC0) == 0x80) --keep;
    }
    text[keep] = '\0';
    return keep;
  }
  return WidenInPlace(text, length, size, MapCp1252);
}

uint32_t OemToSystem(char* text, uint32_t length, uint32_t size) {
  if (!text || size == 0) return 0;
  return WidenInPlace(text, length, size, MapCp850);
}

uint32_t Utf16ToSystem(const uint8_t* units, uint32_t unitCount, char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  uint32_t used = 0;
  for (uint32_t i = 0; units && i < unitCount; ++i) {
    uint32_t cp = units[2 * i] | (units[2 * i + 1] << 8);
    if (cp == 0) break;
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < unitCount) {
      uint32_t low = units[2 * i + 2] | (units[2 * i + 3] << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = kReplacement;  // a lone half
    uint32_t n = Utf8Length(cp);
    if (used + n > size - 1) break;
    PutUtf8(cp, out + used);
    used += n;
  }
  out[used] = '\0';
  return used;
}

}  // namespace tvk
