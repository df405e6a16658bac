// Bounded string operations that always terminate and report truncation, and
// the wildcard match of names against masks.
#include <stdarg.h>
#include <string.h>

#include "platform/platform.h"

namespace tvk {

namespace {

// Sizes above this are taken for negative numbers handed over as unsigned.
constexpr uint32_t kMaxBufferSize = 0x7FFFFFFFu;

bool SizeValid(uint32_t size) { return size != 0 && size <= kMaxBufferSize; }

// Copies at most `limit` characters of src; src need not be terminated
// within `limit`.
uint32_t CopyBounded(char* dst, uint32_t size, const char* src, uint32_t limit) {
  uint32_t i = 0;
  if (src) {
    while (i < limit && src[i] != '\0') {
      if (i == size - 1) {
        dst[i] = '\0';
        return kStrTruncated;
      }
      dst[i] = src[i];
      ++i;
    }
  }
  dst[i] = '\0';
  return kStrOk;
}

}  // namespace

uint32_t StrCopy(char* dst, uint32_t size, const char* src) {
  if (!dst || !SizeValid(size)) return kStrInvalidArg;
  return CopyBounded(dst, size, src, UINT32_MAX);
}

uint32_t StrCopyN(char* dst, uint32_t size, const char* src, uint32_t n) {
  if (!dst || !SizeValid(size)) return kStrInvalidArg;
  return CopyBounded(dst, size, src, n);
}

uint32_t StrAppend(char* dst, uint32_t size, const char* src) {
  if (!dst || !SizeValid(size)) return kStrInvalidArg;
  uint32_t end = 0;
  while (end < size && dst[end] != '\0') ++end;
  if (end == size) return kStrInvalidArg;
  return CopyBounded(dst + end, size - end, src, UINT32_MAX);
}

const char* StrFindPair(const char* s, char first, char second) {
  for (; *s; ++s) {
    if (s[0] == first && s[1] == second) return s;
  }
  return nullptr;
}

uint32_t StrFormatV(char* dst, uint32_t size, const char* format, va_list args) {
  if (!dst || !SizeValid(size)) return kStrInvalidArg;
  if (!format) {
    dst[0] = '\0';
    return kStrInvalidArg;
  }
  uint32_t n = FormatV(dst, size, format, args);
  return n >= size ? kStrTruncated : kStrOk;
}

uint32_t StrFormat(char* dst, uint32_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  uint32_t result = StrFormatV(dst, size, format, args);
  va_end(args);
  return result;
}

namespace {

// Length of the character at p in bytes (1 at the terminator, which never
// matches a non-empty name anyway).
inline size_t CharLength(const char* p) {
  const char* next = NextChar(p);
  return next > p ? static_cast<size_t>(next - p) : 1;
}

inline bool CharEquals(const char* a, const char* b) {
  size_t n = CharLength(b);
  return CharLength(a) == n && memcmp(a, b, n) == 0;
}

// A star followed by the character at `d` only moves on to a name position
// whose character equals d (or to any position when d is "?"). Answers the
// first such position at or after `from`, or nullptr.
const char* NextStarStop(const char* from, const char* d) {
  for (const char* p = from; *p; p = NextChar(p)) {
    if (*d == '?' || CharEquals(p, d)) return p;
  }
  return nullptr;
}

}  // namespace

// Every "*" here is "any text, then one character d", a single "*" or "*.*"
// as the rest of a pattern matches any rest, and other characters match one
// character. Because every star can absorb any text, a failure behind a later
// star is never mended by moving an earlier one, so only the last star is
// ever retried: linear in practice, and never exponential on hostile masks.
int WildcardMatch(const char* name, const char* pattern) {
  if (!name || !pattern) return 0;
  const char* n = name;
  const char* p = pattern;
  const char* starPattern = nullptr;  // the "*" last passed
  const char* starStop = nullptr;     // the name position its d matched
  for (;;) {
    if (*p == '*' && (p[1] == '\0' || strcmp(p, "*.*") == 0)) return 1;
    if (*p == '*') {
      const char* d = p + 1;
      const char* stop = NextStarStop(n, d);
      if (!stop) return 0;  // no later choice of an earlier star helps either
      starPattern = p;
      starStop = stop;
      n = NextChar(stop);
      p = NextChar(d);
      continue;
    }
    if (*p == '\0' && *n == '\0') return 1;
    if (*p != '\0' && *n != '\0' && (*p == '?' || CharEquals(n, p))) {
      n = NextChar(n);
      p = NextChar(p);
      continue;
    }
    // Mismatch: let the last star take its next stop.
    if (!starPattern) return 0;
    const char* d = starPattern + 1;
    const char* stop = NextStarStop(NextChar(starStop), d);
    if (!stop) return 0;
    starStop = stop;
    n = NextChar(stop);
    p = NextChar(d);
  }
}

}  // namespace tvk
