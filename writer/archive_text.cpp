#include "writer/archive_text.h"

#include "common/cp1252.h"

namespace tvk {
namespace {

// Decodes one UTF-8 sequence at s[i]; -1 when it is malformed (overlong
// forms, surrogates and values above U+10FFFF included).
int32_t DecodeUtf8(const std::string& s, size_t* i) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  uint8_t b0 = byte(*i);
  if (b0 < 0x80) {
    ++*i;
    return b0;
  }
  int extra;
  int32_t cp;
  int32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07, min = 0x10000;
  } else {
    return -1;
  }
  if (*i + extra >= s.size()) return -1;
  for (int k = 1; k <= extra; ++k) {
    uint8_t b = byte(*i + k);
    if ((b & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  *i += extra + 1;
  return cp;
}

void AppendUtf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

bool Utf8ToWindows1252(const std::string& utf8, std::string* out) {
  std::string result;
  result.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    int32_t cp = DecodeUtf8(utf8, &i);
    if (cp < 0) return false;
    const int b = Cp1252ByteOf(static_cast<uint32_t>(cp));
    if (b < 0) return false;
    result.push_back(static_cast<char>(b));
  }
  *out = std::move(result);
  return true;
}

std::string Windows1252ToUtf8(const std::string& text) {
  std::string out;
  for (char c : text) {
    AppendUtf8(&out, Cp1252CodePoint(static_cast<uint8_t>(c)));
  }
  return out;
}

std::string ArchiveText(const std::string& utf8, bool* fellBack) {
  std::string out;
  if (Utf8ToWindows1252(utf8, &out)) return out;
  if (fellBack) *fellBack = true;
  return utf8;
}

std::vector<uint8_t> Utf8ToUtf16Le(const std::string& utf8) {
  std::vector<uint8_t> out;
  const auto unit = [&](uint32_t u) {
    out.push_back(static_cast<uint8_t>(u));
    out.push_back(static_cast<uint8_t>(u >> 8));
  };
  for (size_t i = 0; i < utf8.size();) {
    int32_t cp = DecodeUtf8(utf8, &i);
    if (cp < 0) {
      ++i;
      cp = 0xFFFD;
    }
    if (cp >= 0x10000) {
      uint32_t v = static_cast<uint32_t>(cp) - 0x10000;
      unit(0xD800 | (v >> 10));
      unit(0xDC00 | (v & 0x3FF));
    } else {
      unit(static_cast<uint32_t>(cp));
    }
  }
  return out;
}

}  // namespace tvk
