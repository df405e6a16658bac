// Self-extractor payloads and the files of a self-extractor.
#include "writer/payload_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "archive/format.h"
#include "common/bytes.h"
#include "writer/archive_writer.h"
#include "writer/utf8_files.h"
#include "platform/platform.h"

namespace tvk::payload {

// Generated from lang/*.ini at configure time.
extern const unsigned char kLangText_de[];
extern const std::size_t kLangTextSize_de;
extern const unsigned char kLangText_en[];
extern const std::size_t kLangTextSize_en;

namespace {

void PutU32(std::vector<uint8_t>* out, uint32_t v) {
  out->resize(out->size() + 4);
  StoreU32(out->data() + out->size() - 4, v);
}

bool PutString(std::vector<uint8_t>* out, const std::string& s, uint32_t cap, const char* field,
               std::string* error) {
  if (s.size() > cap) {
    *error = std::string(field) + " is " + std::to_string(s.size()) + " bytes long; at most " +
             std::to_string(cap) + " bytes can be stored";
    return false;
  }
  PutU32(out, static_cast<uint32_t>(s.size()));
  out->insert(out->end(), s.begin(), s.end());
  return true;
}

// The self-extractor's own rule for a header: signature, magic, version >= 5,
// length 1..65535.
bool IsPayloadHeader(const uint8_t* p) {
  if (std::memcmp(p, fmt::kPayloadSignature, sizeof fmt::kPayloadSignature) != 0) return false;
  uint32_t length = LoadU32(p + 14);
  return LoadU32(p + 6) == fmt::kPayloadMagic && LoadU32(p + 10) >= fmt::kPayloadVersion &&
         length > 0 && length <= fmt::kMaxLanguageText;
}

// The offset of the header the self-extractor would take, or -1: it reads at
// most 1 MiB from offset 50,000 and needs 19 bytes from a header's start.
int64_t FirstPayloadHeader(const std::vector<uint8_t>& file) {
  if (file.size() <= fmt::kPayloadScanStart) return -1;
  size_t m = std::min<size_t>(file.size() - fmt::kPayloadScanStart,
                              std::min<size_t>(file.size(), fmt::kPayloadScanLimit));
  const uint8_t* base = file.data() + fmt::kPayloadScanStart;
  for (size_t i = 0; i + fmt::kPayloadHeaderSize < m; ++i) {
    if (IsPayloadHeader(base + i)) return static_cast<int64_t>(fmt::kPayloadScanStart + i);
  }
  return -1;
}

std::string Lookup(const std::string& text, const char* section, const char* key) {
  char value[kProfileValueLimit + 1];
  uint32_t n = ProfileLookup(text.data(), text.size(), section, key, value, sizeof value);
  return std::string(value, n);
}

}  // namespace

bool CheckLanguageText(const std::string& text, std::string* error) {
  if (text.empty() || text.size() > fmt::kMaxLanguageText) {
    *error = "a language text must hold 1 to " + std::to_string(fmt::kMaxLanguageText) +
             " bytes, this one has " + std::to_string(text.size());
    return false;
  }
  if (Lookup(text, "description", "0").empty()) {
    *error = "the language text has no [description] key 0 naming its language";
    return false;
  }
  for (unsigned k = 0; k < fmt::kMessageCount; ++k) {
    std::string value = Lookup(text, "data", std::to_string(k).c_str());
    if (value.empty()) {
      *error = "message " + std::to_string(k) + " is missing or empty in [data] of the language text";
      return false;
    }
    if (k == 34) {
      size_t count = 0;
      for (size_t at = value.find("%s"); at != std::string::npos; at = value.find("%s", at + 1)) {
        ++count;
      }
      if (count != 4) {
        *error = "message 34 of the language text must hold exactly four \"%s\", it holds " +
                 std::to_string(count);
        return false;
      }
    }
  }
  return true;
}

bool LoadLanguageText(const std::string& nameOrPath, std::string* text, std::string* error) {
  if (nameOrPath == "de") {
    text->assign(reinterpret_cast<const char*>(kLangText_de), kLangTextSize_de);
  } else if (nameOrPath == "en") {
    text->assign(reinterpret_cast<const char*>(kLangText_en), kLangTextSize_en);
  } else {
    if (!ReadFileUtf8(nameOrPath, text)) {
      *error = "cannot read the language text '" + nameOrPath + "'";
      return false;
    }
  }
  return CheckLanguageText(*text, error);
}

bool EncodeSettings(const Settings& s, std::vector<uint8_t>* out, std::string* error) {
  std::vector<uint8_t> record;
  const uint32_t cap = fmt::kCapString;
  PutU32(&record, s.mode);
  PutU32(&record, s.reserved2);
  PutU32(&record, s.reserved3);
  if (!PutString(&record, s.infoTitle, fmt::kCapInfoTitle, "the info title", error) ||
      !PutString(&record, s.infoText, fmt::kCapInfoText, "the info text", error)) {
    return false;
  }
  PutU32(&record, s.infoBoxStyle);
  if (!PutString(&record, s.aboutPrefix, cap, "the about text", error) ||
      !PutString(&record, s.targetFolder, cap, "the target folder", error) ||
      !PutString(&record, s.runAfter, cap, "the run-after file", error)) {
    return false;
  }
  PutU32(&record, s.overwrite);
  PutU32(&record, s.quiet);
  if (!PutString(&record, s.reserved12, cap, "reserved field 12", error) ||
      !PutString(&record, s.command, cap, "the command", error) ||
      !PutString(&record, s.secondCommand, cap, "the second command", error) ||
      !PutString(&record, s.reserved15, cap, "reserved field 15", error)) {
    return false;
  }
  PutU32(&record, s.reserved16);
  PutU32(&record, s.reserved17);
  out->insert(out->end(), record.begin(), record.end());
  return true;
}

bool BuildPayload(const std::string& languageText, const Settings& settings,
                  std::vector<uint8_t>* out, std::string* error) {
  if (!CheckLanguageText(languageText, error)) return false;
  std::vector<uint8_t> payload(fmt::kPayloadSignature,
                               fmt::kPayloadSignature + sizeof fmt::kPayloadSignature);
  PutU32(&payload, fmt::kPayloadMagic);
  PutU32(&payload, fmt::kPayloadVersion);
  PutU32(&payload, static_cast<uint32_t>(languageText.size()));
  payload.insert(payload.end(), languageText.begin(), languageText.end());
  if (!EncodeSettings(settings, &payload, error)) return false;
  *out = std::move(payload);
  return true;
}

bool BuildSelfExtractor(const std::vector<uint8_t>& program, const std::vector<uint8_t>& payload,
                        const std::vector<uint8_t>& archive, std::vector<uint8_t>* out,
                        std::string* error) {
  if (payload.size() < fmt::kPayloadHeaderSize + 1 || !IsPayloadHeader(payload.data())) {
    *error = "the payload does not start with a self-extractor payload header";
    return false;
  }
  // The main head: u16 check, type 'R', u16 flags, u16 size, "-tvk-".
  if (archive.size() < fmt::kMainHeaderSize || archive[2] != fmt::kTypeMain ||
      std::memcmp(archive.data() + 7, fmt::kArchiveSignature, sizeof fmt::kArchiveSignature) != 0) {
    *error = "the archive does not start with a TVK main header";
    return false;
  }
  std::vector<uint8_t> file(program);
  if (file.size() < kProgramPadding) file.resize(kProgramPadding, 0);
  const size_t payloadAt = file.size();
  file.insert(file.end(), payload.begin(), payload.end());
  const size_t archiveAt = file.size();

  uint32_t headSize = archive[5] | static_cast<uint32_t>(archive[6]) << 8;
  size_t headEnd = archiveAt + std::max<uint32_t>(headSize, fmt::kMainHeaderSize);
  if (headEnd > fmt::kArchiveSearchLimit) {
    *error = "the archive would start at byte " + std::to_string(archiveAt) +
             ", but it must start within the first " + std::to_string(fmt::kArchiveSearchLimit) +
             " bytes of the self-extractor: the program (" + std::to_string(program.size()) +
             " bytes) and the payload (" + std::to_string(payload.size()) +
             " bytes) are too large";
    return false;
  }
  if (FirstPayloadHeader(file) != static_cast<int64_t>(payloadAt)) {
    *error = "the program already carries a self-extractor payload; use the bare program";
    return false;
  }
  file.insert(file.end(), archive.begin(), archive.end());
  *out = std::move(file);
  return true;
}

bool BuildSelfExtractorVolumes(const std::vector<uint8_t>& program,
                               const std::vector<uint8_t>& payload,
                               const std::vector<std::vector<uint8_t>>& archiveVolumes,
                               const std::string& outputPath, std::vector<OutputFile>* files,
                               std::string* error) {
  if (archiveVolumes.empty()) {
    *error = "no archive volumes given";
    return false;
  }
  std::vector<OutputFile> result(1);
  result[0].path = outputPath;
  if (!BuildSelfExtractor(program, payload, archiveVolumes[0], &result[0].bytes, error)) {
    return false;
  }
  for (size_t k = 1; k < archiveVolumes.size(); ++k) {
    result.push_back(
        OutputFile{tvk::VolumeName(outputPath, static_cast<uint32_t>(k)), archiveVolumes[k]});
  }
  *files = std::move(result);
  return true;
}

}  // namespace tvk::payload
