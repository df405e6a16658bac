// Builds self-extractors: the program, a payload (language text and settings)
// and a TVK archive in one file.
//
// File layout of a self-extractor:
//
//   offset 0        the program (tvksfx / tvksfx.exe), padded with zeros to
//                   50,000 bytes when shorter, because the program looks for
//                   its payload from offset 50,000 on
//   payload         18-byte header: "TV5SFX", u32 110798, u32 version 5,
//                   u32 L (length of the language text, 1..65535)
//                   L bytes of language text (INI: [description] 0, [data] 0..73)
//                   the settings record (17 fields, see Settings)
//   archive         the TVK archive; its main head must end inside the first
//                   262,144 bytes of the file, or the reader will not find it
//
// Typical use (`tvk sfx`):
//
//   std::string lang, error;
//   if (!tvk::payload::LoadLanguageText("de", &lang, &error)) ...   // or "en", or a file
//   tvk::payload::Settings settings;
//   settings.targetFolder = "%Programs%\\Beispiel";
//   std::vector<uint8_t> payload;
//   if (!tvk::payload::BuildPayload(lang, settings, &payload, &error)) ...
//   std::vector<uint8_t> sfx;
//   if (!tvk::payload::BuildSelfExtractor(program, payload, archive, &sfx, &error)) ...
//
// A volume set (the archive writer made several volumes): the first file is
// program + payload + first volume; the further volumes are written unchanged
// beside it under the names the reader looks for (setup.exe, setup.001,
// setup.002, ...); see BuildSelfExtractorVolumes.
//
// Texts are stored byte for byte: callers hand in texts already in the
// archive's code page (Windows-1252 where possible, see the archive writer).
// Every function answers false with a one-line message in *error on failure.
#ifndef TVK_WRITER_PAYLOAD_WRITER_H
#define TVK_WRITER_PAYLOAD_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

namespace tvk::payload {

// The settings record, field by field in stored order. Strings are capped in
// bytes: info title 255, info text 4095, every other string 255.
struct Settings {
  uint32_t mode = 0;             // 0 standard; 2 command mode (command fields)
  uint32_t reserved2 = 0;
  uint32_t reserved3 = 0;
  std::string infoTitle;         // caption of the info box (empty: "Hinweis"/"Note")
  std::string infoText;          // shown before anything else; empty: no box
  uint32_t infoBoxStyle = 0;     // 0 OK, 1 Yes/No, 2 OK/Cancel
  std::string aboutPrefix;       // put before the about text
  std::string targetFolder;      // may start with %Programs%, %Temp%, ...; empty: the program's folder
  std::string runAfter;          // file to start afterwards, relative to the target; "name|params"
  uint32_t overwrite = 0;        // replace files without asking (the user may change it)
  uint32_t quiet = 0;            // no dialog at all; implies replacing without asking
  std::string reserved12;
  std::string command;           // mode 2: "command|params"
  std::string secondCommand;     // mode 2
  std::string reserved15;
  uint32_t reserved16 = 0;
  uint32_t reserved17 = 0;
};

constexpr uint32_t kProgramPadding = 50000;

// The built-in language texts ("de": German, "en": English) or the contents
// of a file; checked with CheckLanguageText.
bool LoadLanguageText(const std::string& nameOrPath, std::string* text, std::string* error);

// A language text the self-extractor will load: 1..65535 bytes, a non-empty
// [description] key 0, non-empty [data] keys 0..73, and exactly four "%s" in
// message 34.
bool CheckLanguageText(const std::string& text, std::string* error);

// The settings record alone; refuses strings above their caps.
bool EncodeSettings(const Settings& settings, std::vector<uint8_t>* out, std::string* error);

// Header + language text + settings record.
bool BuildPayload(const std::string& languageText, const Settings& settings,
                  std::vector<uint8_t>* out, std::string* error);

// program (padded to 50,000 bytes) + payload + archive. Refuses a program
// that already holds a payload, an archive that does not start with a TVK
// main head, and an archive whose main head would end beyond 262,144 bytes.
bool BuildSelfExtractor(const std::vector<uint8_t>& program, const std::vector<uint8_t>& payload,
                        const std::vector<uint8_t>& archive, std::vector<uint8_t>* out,
                        std::string* error);

struct OutputFile {
  std::string path;
  std::vector<uint8_t> bytes;
};

// A self-extracting volume set: files[0] is outputPath with program, payload
// and archiveVolumes[0]; files[k] holds archiveVolumes[k] under
// VolumeName(outputPath, k) of archive_writer.h (setup.exe, setup.001, ...).
bool BuildSelfExtractorVolumes(const std::vector<uint8_t>& program,
                               const std::vector<uint8_t>& payload,
                               const std::vector<std::vector<uint8_t>>& archiveVolumes,
                               const std::string& outputPath, std::vector<OutputFile>* files,
                               std::string* error);

}  // namespace tvk::payload

#endif
