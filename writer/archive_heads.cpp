// The head builders, volume names and times: the bytes of an archive's
// heads, apart from where they go (archive_writer.cpp).
#include "writer/archive_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "archive/blocks.h"
#include "common/bytes.h"
#include "crypto/cipher.h"
#include "crypto/crc32.h"
#include "crypto/digest.h"
#include "platform/platform.h"

namespace tvk {
namespace {

void Append16(Bytes& b, uint32_t v) {
  b.resize(b.size() + 2);
  StoreU16(&b[b.size() - 2], v);
}

void Append32(Bytes& b, uint32_t v) {
  b.resize(b.size() + 4);
  StoreU32(&b[b.size() - 4], v);
}

void Append64(Bytes& b, uint64_t v) {
  Append32(b, static_cast<uint32_t>(v));
  Append32(b, static_cast<uint32_t>(v >> 32));
}

// a then b, copied into a vector of the final size at once (growing a short
// vector by insert() draws false bounds warnings from some optimisers).
Bytes Concat(const uint8_t* a, size_t aSize, const uint8_t* b, size_t bSize) {
  Bytes out(aSize + bSize);
  if (aSize) std::memcpy(out.data(), a, aSize);
  if (bSize) std::memcpy(out.data() + aSize, b, bSize);
  return out;
}

void AppendFileTime(Bytes& b, const FileTime& t) {
  Append32(b, t.low);
  Append32(b, t.high);
}

}  // namespace

// ---------------------------------------------------------------------------
// Heads
// ---------------------------------------------------------------------------

void SealHead(Bytes& head) {
  if (head.size() < fmt::kBlockHeadSize) head.resize(fmt::kBlockHeadSize);
  StoreU16(&head[5], static_cast<uint32_t>(head.size()));
  StoreU16(&head[0], HeadCheckOf(head.data(), static_cast<uint32_t>(head.size())));
}

Bytes MakeHead(uint8_t type, uint16_t flags, const Bytes& fields) {
  uint8_t common[fmt::kBlockHeadSize] = {0, 0, type, static_cast<uint8_t>(flags),
                                         static_cast<uint8_t>(flags >> 8), 0, 0};
  Bytes head = Concat(common, sizeof common, fields.data(), fields.size());
  SealHead(head);
  return head;
}

Bytes BuildMainHeader(const MainHeaderFields& fields) {
  Bytes body = Concat(reinterpret_cast<const uint8_t*>(fmt::kArchiveSignature), 5, fields.tail.data(),
                      fields.tail.size());
  return MakeHead(fmt::kTypeMain, fields.flags, body);
}

Bytes BuildCommentHead(const CommentFields& fields) {
  uint16_t flags = fields.extraFlags;
  if (fields.form == TextForm::kOem) flags |= fmt::kCommentOem;
  if (fields.form == TextForm::kUtf16) flags |= fmt::kCommentUtf16;
  Bytes body = Concat(fields.reserved.data(), fields.reserved.size(), fields.text.data(),
                      fields.text.size());
  return MakeHead(fmt::kTypeComment, flags, body);
}

Bytes BuildEntryHead(const EntryHeadFields& f) {
  Bytes body;
  const uint32_t nameLength = static_cast<uint32_t>(f.name.size());
  if (f.folder) {
    Append32(body, f.attributes);
    Append16(body, nameLength);
  } else {
    body.push_back(f.filter);
    body.push_back(f.reserved8);
    body.push_back(f.reserved9);
    body.push_back(f.info);
    body.push_back(f.version);
    body.push_back(f.method);
    Append32(body, f.crc);
    Append32(body, f.attributes);
    Append32(body, f.dosTime);
    Append32(body, static_cast<uint32_t>(f.packedSize));
    Append32(body, static_cast<uint32_t>(f.unpackedSize));
    if (f.flags & fmt::kEntryLargeSizes) {
      Append32(body, static_cast<uint32_t>(f.packedSize >> 32));
      Append32(body, static_cast<uint32_t>(f.unpackedSize >> 32));
    }
    Append16(body, nameLength);
  }
  body = Concat(body.data(), body.size(), reinterpret_cast<const uint8_t*>(f.name.data()), f.name.size());
  return MakeHead(f.folder ? fmt::kTypeFolder : fmt::kTypeFile, f.flags, body);
}

Bytes BuildExtensionHead(const char tag[4], const Bytes& fields, uint16_t flags) {
  Bytes body = Concat(reinterpret_cast<const uint8_t*>(tag), 4, fields.data(), fields.size());
  return MakeHead(fmt::kTypeExtension, flags, body);
}

Bytes BuildFileTimesHead(const FileTime& creation, const FileTime& lastAccess,
                         const FileTime& lastWrite, uint16_t flags) {
  Bytes fields;
  AppendFileTime(fields, creation);
  AppendFileTime(fields, lastAccess);
  AppendFileTime(fields, lastWrite);
  return BuildExtensionHead(fmt::kTagFileTimes, fields, flags);
}

Bytes BuildUnixModeHead(uint32_t mode, uint16_t flags) {
  Bytes fields;
  Append32(fields, mode);
  return BuildExtensionHead(fmt::kTagUnixMode, fields, flags);
}

Bytes BuildRecoveryHead(const RecoveryFields& f) {
  Bytes body;
  body.reserve(fmt::kRecoveryHeadSize);
  body.assign(f.reserved.begin(), f.reserved.end());
  Append32(body, f.value);
  Append64(body, f.b);
  Append64(body, f.a);
  return MakeHead(fmt::kTypeRecovery, f.flags, body);
}

uint64_t RecoveryDataLength(uint64_t a, uint64_t b) { return 2 * (256 * a + b); }

Bytes EndMarker() { return Bytes(fmt::kEndMarker, fmt::kEndMarker + 7); }

// ---------------------------------------------------------------------------
// Names and times
// ---------------------------------------------------------------------------

std::string VolumeName(const std::string& firstPath, uint32_t counter) {
  // The reader's own naming, so that the volumes written are the ones it
  // looks for; room for the stem and ".%03u" of any 32-bit counter.
  std::string out(firstPath.size() + 16, '\0');
  if (!FormVolumeName(firstPath.c_str(), counter, out.data(), static_cast<uint32_t>(out.size())))
    return std::string();
  out.resize(std::strlen(out.c_str()));
  return out;
}

uint32_t DosTimeFromUnix(int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
#if defined(_WIN32)
  if (localtime_s(&tm, &t) != 0) return (0u << 25 | 1u << 21 | 1u << 16);
#else
  if (!localtime_r(&t, &tm)) return (0u << 25 | 1u << 21 | 1u << 16);
#endif
  int year = tm.tm_year + 1900;
  if (year < 1980) return (1u << 21) | (1u << 16);
  if (year > 2107) return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
  uint32_t date = uint32_t(year - 1980) << 9 | uint32_t(tm.tm_mon + 1) << 5 | uint32_t(tm.tm_mday);
  uint32_t time = uint32_t(tm.tm_hour) << 11 | uint32_t(tm.tm_min) << 5 | uint32_t(tm.tm_sec / 2);
  return date << 16 | time;
}

std::optional<int64_t> SourceDateEpoch() {
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  if (!text || !*text) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < 0) return std::nullopt;
  return static_cast<int64_t>(value);
}

FileTime FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds) {
  // 100 ns intervals since 1601-01-01 UTC.
  int64_t ticks = (seconds + 11644473600LL) * 10000000LL + nanoseconds / 100;
  if (ticks < 0) ticks = 0;
  uint64_t u = static_cast<uint64_t>(ticks);
  return FileTime{static_cast<uint32_t>(u), static_cast<uint32_t>(u >> 32)};
}

SubBlock SubBlock::Extension(const char tag[4], const Bytes& tagFields) {
  SubBlock s;
  s.type = fmt::kTypeExtension;
  s.fields = Concat(reinterpret_cast<const uint8_t*>(tag), 4, tagFields.data(), tagFields.size());
  return s;
}

}  // namespace tvk
