#include "tools/tvk/read_support.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "archive/format.h"
#include "archive/signature_check.h"
#include "host/ui/console/terminal_text.h"
#include "platform/result_codes.h"
#include "tools/tvk/console.h"
#include "tools/tvk/os.h"

namespace tvk::cli {

std::string InternalPath(const std::string& path) {
  std::string out = path;
  std::replace(out.begin(), out.end(), '/', '\\');
  return out;
}

std::string DisplayPath(const std::string& path) {
  std::string out = path;
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

std::string Shown(const std::string& given, bool keepLines) {
  // Text may come from the reader, in the system's text; it is shown as
  // UTF-8.
  const std::string text = os::FromReaderText(given);
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    char shown[4];
    size_t used = 0;
    uint32_t n = console::ShownCharacter(text.data() + at, text.size() - at,
                                         keepLines ? console::kKeepLineBreaks : 0, shown, &used);
    out.append(shown, n);
    at += used;
  }
  return out;
}

std::string ShownPath(const std::string& path) { return Shown(DisplayPath(path)); }

int ExitCodeOf(uint32_t code) {
  switch (code) {
    case kOk: return 0;
    case kErrCancelled: return 9;
    case kErrFileAccess:
    case kErrUnused28005:
    case kErrUnused28009: return 5;
    case kErrMemory: return 7;
    case kErrWrite: return 6;
    case kErrMethod:
    case kErrCrc:
    case kErrData: return 4;
    case kErrNotArchive82:
    case kErrNotArchive: return 3;
    default: return 8;
  }
}

std::string ReaderMessage(uint32_t code) {
  switch (code) {
    case kErrCancelled: return "cancelled";
    case kErrFileAccess: return "a file cannot be opened, read or created";
    case kErrMemory: return "not enough memory";
    case kErrWrite: return "writing failed (is the disk full?)";
    case kErrOptions: return "the entry key could not be made";
    case kErrMethod: return "packing method not supported";
    case kErrOverwritesArchive: return "an entry would overwrite the archive itself";
    case kErrBadPassword: return "wrong password (the data does not match its CRC)";
    case kErrCrc: return "CRC error: the data is damaged";
    case kErrVersion: return "format version or encryption not supported";
    case kErrData: return "invalid data: the archive is damaged";
    case kErrNotArchive82:
    case kErrNotArchive: return "not a TVK archive";
    case kErrSignatureFormat: return "the signature record is malformed";
    case kErrSignatureMismatch: return "the archive does not match its signature";
    case kErrSignatureOpen: return "the signature cannot be opened";
    case kErrContinuation: return "this volume continues an earlier one: start with the first volume";
    case kErrMissingVolume: return "a volume of the set is missing";
    default: return "error " + std::to_string(code);
  }
}

std::string SignatureProblemText(const ArchiveInfo& info) {
  const std::string by = info.signer[0] ? " of " + Shown(info.signer) : "";
  switch (info.signatureProblem) {
    case kSignatureWeakDigest:
      return "the signature" + by +
             " cannot vouch for the archive: its digest (the format's 512-bit one, which never "
             "sees some bytes, or MD5, which allows collisions) would match a changed archive too";
    case kSignatureVolumeUncovered:
      return "the signature" + by +
             " cannot vouch for the archive: not every volume of the set carries a signature of "
             "its own (or not every volume was found), and the others may have been changed";
    case kSignatureSignersDiffer:
      return "the signatures cannot vouch for the archive: the volumes of the set were signed by "
             "different signers";
    default:
      return ReaderMessage(kErrSignatureMismatch);
  }
}

std::string FormatFileTime(const FileTime& utc) {
  FileTime local{};
  CalendarTime c{};
  if (!UtcToLocalFileTime(&utc, &local) || !FileTimeToCalendar(&local, &c)) return "?";
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u", c.year, c.month, c.day, c.hour, c.minute,
                c.second);
  return buffer;
}

std::string FormatDosTime(uint32_t dosTime) {
  uint32_t date = dosTime >> 16, time = dosTime & 0xFFFF;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u", (date >> 9) + 1980,
                (date >> 5) & 15, date & 31, time >> 11, (time >> 5) & 63, (time & 31) * 2);
  return buffer;
}

ListedEntry ListedEntry::From(const FileEntry& e) {
  ListedEntry l;
  l.name = os::FromReaderText(DisplayPath(e.name));
  l.folder = e.type == 'V';
  l.size = e.unpackedSize;
  l.packed = e.packedSize;
  l.dosTime = e.dosTime;
  l.attributes = e.attributes;
  l.method = e.method;
  l.version = e.version;
  l.encryption = e.encryptionKind;
  l.hasExactTime = e.hasWindowsTimes != 0;
  l.exactWriteTime = e.utcTimes[2];
  if (e.comment) l.comment = os::FromReaderText(std::string(e.comment, e.commentLength));
  l.link = e.hasUnixMode && (e.unixMode & fmt::kUnixTypeMask) == fmt::kUnixTypeLink;
  l.targetPlain = e.method == fmt::kMethodStored && e.encryptionKind == 0 && e.packedSize == e.unpackedSize &&
                  e.unpackedSize <= fmt::kMaxLinkTarget &&
                  !(e.flags & (fmt::kEntryContinued | fmt::kEntryContinues));
  l.targetAt = e.blockPosition + e.headTotal;
  l.blockPosition = e.blockPosition;
  l.headTotal = e.headTotal;
  return l;
}

void ReadLinkTargets(const std::string& archive, std::vector<ListedEntry>* entries) {
  std::FILE* f = nullptr;
  for (ListedEntry& e : *entries) {
    if (!e.link || !e.targetPlain) continue;
    if (!f && !(f = os::OpenFile(archive, "rb"))) return;
    std::string target(e.size, '\0');
    if (os::SeekTo(f, e.targetAt) == 0 &&
        std::fread(target.data(), 1, target.size(), f) == target.size())
      e.target = std::move(target);
  }
  if (f) std::fclose(f);
}

std::string AttributeText(uint32_t a) {
  std::string s = ".....";
  if (a & 0x10) s[0] = 'D';
  if (a & 0x01) s[1] = 'R';
  if (a & 0x02) s[2] = 'H';
  if (a & 0x04) s[3] = 'S';
  if (a & 0x20) s[4] = 'A';
  return s;
}

std::string MethodText(uint32_t method, uint32_t version) {
  std::string m;
  if (method == 0) {
    m = "store";
  } else if (method <= 4) {
    m = std::string("lz-").append(std::to_string(method));
  } else if (method == 5) {
    m = "audio";
  } else {
    m = std::string("m").append(std::to_string(method));
  }
  if (version != 11 && version != 20) m += " v" + std::to_string(version);
  return m;
}

std::string FormatListing(const std::string& archive, const std::vector<ListedEntry>& entries,
                          const ArchiveInfo& info, const std::string& comment, uint32_t volumes) {
  std::string out = "Archive " + Shown(archive) + "\n";
  const std::string shownComment = Shown(comment, true);
  if (!shownComment.empty())
    out += "Comment:\n" + shownComment + (shownComment.back() == '\n' ? "" : "\n");
  out += "Attr          Size        Packed  Modified             Method  Crypt    Name\n";
  char line[160];
  for (const ListedEntry& e : entries) {
    const char* crypt = e.encryption == 1 ? "AES-128" : e.encryption == 2 ? "AES-256" : "";
    if (e.folder) {
      std::snprintf(line, sizeof line, "%s %13s %13s  %-19s  %-6s  %-7s  ", AttributeText(e.attributes).c_str(),
                    "", "", "", "", "");
    } else {
      std::snprintf(line, sizeof line, "%s %13llu %13llu  %-19s  %-6s  %-7s  ",
                    AttributeText(e.attributes).c_str(), static_cast<unsigned long long>(e.size),
                    static_cast<unsigned long long>(e.packed), FormatDosTime(e.dosTime).c_str(),
                    MethodText(e.method, e.version).c_str(), crypt);
    }
    out += line + Shown(e.name) + (e.link ? " -> " + (e.target ? Shown(*e.target) : "?") : "") + "\n";
    if (!e.comment.empty()) out += "      comment: " + Shown(e.comment, true) + "\n";
  }
  std::snprintf(line, sizeof line, "%u file%s, %llu bytes, packed %llu bytes (%u%%)\n", info.fileCount,
                info.fileCount == 1 ? "" : "s", static_cast<unsigned long long>(info.unpackedTotal),
                static_cast<unsigned long long>(info.packedTotal), info.ratio);
  out += line;
  std::string flags;
  if (info.solid) flags += ", solid";
  if (info.multiVolume)
    flags += volumes > 1 ? ", volume set of " + std::to_string(volumes) + " volumes" : ", volume set";
  if (info.encryptedHeads) flags += ", encrypted heads";
  if (info.recoveryValue) flags += ", recovery record (" + std::to_string(info.recoveryValue) + ")";
  if (info.encryption) flags += info.encryption == 2 ? ", AES-128" : ", AES-256";
  out += "dictionary " + std::to_string(info.dictionaryKiB) + " KiB" + flags + "\n";
  if (info.signatureValid)
    out += "signed by " + Shown(info.signer) + " on " + FormatFileTime(info.signedAt) + "\n";
  else if (info.signatureProblem)
    out += "NOT VOUCHED FOR: " + SignatureProblemText(info) + "\n";
  return out;
}

}  // namespace tvk::cli
