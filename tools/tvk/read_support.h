// What l, t and x share: path forms, result codes to messages and exit
// codes, dates, and the listing's text.
#ifndef TVK_TOOLS_READ_SUPPORT_H
#define TVK_TOOLS_READ_SUPPORT_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/reader.h"

namespace tvk::cli {

// The reader's paths use backslashes; Linux shows slashes.
std::string InternalPath(const std::string& path);
std::string DisplayPath(const std::string& path);
// Text from an archive (names, comments, signer names) as a terminal may
// be given it: control characters shown as \xNN. keepLines keeps line
// feeds and tabs, for comments.
std::string Shown(const std::string& text, bool keepLines = false);
// An archive path (backslashes) shown with slashes and without controls.
std::string ShownPath(const std::string& path);

// Exit code of l, t and x for a reader result code (as the self-extractor
// maps them): 0, 3, 4, 5, 6, 7, 8 or 9.
int ExitCodeOf(uint32_t code);
// One line of text for a reader result code.
std::string ReaderMessage(uint32_t code);
// Why the archive's signature does not vouch for it (error 28118), with
// the signer when known.
std::string SignatureProblemText(const ArchiveInfo& info);

// 2026-12-08 14:05:09 in local time.
std::string FormatFileTime(const FileTime& utc);
std::string FormatDosTime(uint32_t dosTime);

// An entry as the listing shows it (a copy: the reader's list is freed).
struct ListedEntry {
  std::string name;  // display form; folders end in '/'
  bool folder = false;
  uint64_t size = 0;
  uint64_t packed = 0;
  uint32_t dosTime = 0;
  uint32_t attributes = 0;
  uint32_t method = 0;
  uint32_t version = 0;
  uint32_t encryption = 0;
  bool hasExactTime = false;  // the entry carries its write time to the 100 ns
  FileTime exactWriteTime{};  // UTC
  std::string comment;
  // A link: its target is shown when it could be read straight from the
  // archive (stored as it is, at targetAt of a single file); else "?".
  bool link = false;
  bool targetPlain = false;
  uint64_t targetAt = 0;
  std::optional<std::string> target;
  // Where the entry's blocks lie in the file: heads (as stored) from
  // blockPosition, then the packed data.
  uint64_t blockPosition = 0;
  uint32_t headTotal = 0;
  static ListedEntry From(const FileEntry& e);
};

std::string AttributeText(uint32_t attributes);
std::string MethodText(uint32_t method, uint32_t version);
// Reads the targets of the plainly stored links from the archive file.
void ReadLinkTargets(const std::string& archive, std::vector<ListedEntry>* entries);
// volumes: how many volumes the set has (0 when unknown).
std::string FormatListing(const std::string& archive, const std::vector<ListedEntry>& entries,
                          const ArchiveInfo& info, const std::string& comment, uint32_t volumes);

}  // namespace tvk::cli

#endif
