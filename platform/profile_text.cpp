// Profile-string lookup over an INI text in memory, with the observable rules
// of the Windows profile reader: sections and keys compared without regard to
// case, blanks around section names, keys and values dropped, a matching pair
// of quotes around a value dropped, the first matching key of the first
// matching section wins, values cut at 2047 characters, and an empty result
// when nothing matches. Lines starting with ';' are comments.
#include "platform/platform.h"

namespace tvk {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
// A NUL byte ends a line too: a value never carries one into a C string.
bool IsLineEnd(char c) { return c == '\n' || c == '\r' || c == '\0'; }

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Compares text[begin..end) with a terminated name, ignoring ASCII case.
bool SameNoCase(const char* text, size_t begin, size_t end, const char* name) {
  size_t i = 0;
  for (; begin + i < end; ++i) {
    if (name[i] == '\0' || FoldAscii(text[begin + i]) != FoldAscii(name[i])) return false;
  }
  return name[i] == '\0';
}

void Trim(const char* text, size_t* begin, size_t* end) {
  while (*begin < *end && IsBlank(text[*begin])) ++*begin;
  while (*end > *begin && IsBlank(text[*end - 1])) --*end;
}

}  // namespace

uint32_t ProfileLookup(const char* text, size_t length, const char* section, const char* key,
                       char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  if (!text || !section || !key) return 0;

  bool inSection = false;
  bool sectionSeen = false;
  size_t pos = 0;
  while (pos < length) {
    size_t lineEnd = pos;
    while (lineEnd < length && !IsLineEnd(text[lineEnd])) ++lineEnd;
    size_t begin = pos, end = lineEnd;
    pos = lineEnd + 1;
    Trim(text, &begin, &end);
    if (begin == end || text[begin] == ';') continue;

    if (text[begin] == '[') {
      size_t close = begin + 1;
      while (close < end && text[close] != ']') ++close;
      size_t nameBegin = begin + 1, nameEnd = close;
      Trim(text, &nameBegin, &nameEnd);
      // Once the wanted section has ended, a later one of the same name is
      // not searched: the first section wins as a whole.
      if (inSection) return 0;
      inSection = !sectionSeen && SameNoCase(text, nameBegin, nameEnd, section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;

    size_t eq = begin;
    while (eq < end && text[eq] != '=') ++eq;
    size_t keyBegin = begin, keyEnd = eq;
    Trim(text, &keyBegin, &keyEnd);
    if (!SameNoCase(text, keyBegin, keyEnd, key)) continue;

    // A line without '=' names the key with an empty value.
    size_t valueBegin = eq < end ? eq + 1 : end, valueEnd = end;
    Trim(text, &valueBegin, &valueEnd);
    if (valueEnd - valueBegin >= 2) {
      char first = text[valueBegin], last = text[valueEnd - 1];
      if ((first == '"' || first == '\'') && first == last) {
        ++valueBegin;
        --valueEnd;
      }
    }
    size_t n = valueEnd - valueBegin;
    if (n > kProfileValueLimit) n = kProfileValueLimit;
    if (n > size - 1) n = size - 1;
    for (size_t i = 0; i < n; ++i) out[i] = text[valueBegin + i];
    out[n] = '\0';
    return static_cast<uint32_t>(n);
  }
  return 0;
}

}  // namespace tvk
