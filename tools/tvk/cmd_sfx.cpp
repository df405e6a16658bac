// tvk sfx: a self-extractor from the program, a language text, settings and
// an archive (or a volume set).
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "archive/format.h"
#include "tools/tvk/archive_file.h"
#include "tools/tvk/commands.h"
#include "tools/tvk/console.h"
#include "tools/tvk/os.h"
#include "tools/tvk/sfx_settings.h"
#include "writer/payload_writer.h"
#include "writer/program_resources.h"
#include "writer/utf8_files.h"

namespace tvk::cli {
namespace {

bool ReadBytes(const std::string& path, std::vector<uint8_t>* out) {
  std::string bytes;
  if (!ReadFileUtf8(path, &bytes)) return false;
  out->assign(bytes.begin(), bytes.end());
  return true;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
  std::FILE* f = os::OpenFile(path, "wb");
  bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f) ok = std::fclose(f) == 0 && ok;
  if (!ok) *error = "cannot write " + path + ": " + os::ErrorText();
  return ok;
}

bool Exists(const std::string& path) {
  os::FileInfo st;
  return os::Stat(path, true, &st);
}

// The self-extractor program when --sfx names none: beside tvk, where an
// install puts it (../lib/tarvik/ beside tvk), and last the program of the
// build tvk came from, which stays valid only while that tree does.
std::string DefaultSfxProgram() {
  std::vector<std::string> candidates;
  const std::string dir = os::ProgramFolder();
  if (!dir.empty()) {
    candidates.push_back(dir + os::SelfExtractorName());
    candidates.push_back(dir + "../lib/tarvik/" + os::SelfExtractorName());
  }
  candidates.push_back(TVK_DEFAULT_SFX);
  for (const std::string& c : candidates) {
    os::FileInfo st;
    if (!c.empty() && os::Stat(c, true, &st) && st.kind == os::Kind::kFile) return c;
  }
  return std::string();
}

// --icon, --version and --elevation, applied to the Windows program's
// bytes; without them the program goes out untouched.
int ChangeProgramResources(const Args& args, const std::string& programPath, std::vector<uint8_t>* program) {
  Console& con = Console::Get();
  if (!args.icon && args.versionFields.empty() && !args.elevation) return kExitOk;
  const bool windows = program->size() >= 2 && (*program)[0] == 'M' && (*program)[1] == 'Z';
  if (!windows) {
    con.Error("--icon, --version and --elevation need the Windows program; " + programPath + " is not one");
    return kExitFile;
  }
  pe::ProgramChanges changes;
  if (args.icon && !ReadBytes(*args.icon, &changes.icon)) {
    con.Error("cannot read the icon " + *args.icon);
    return kExitFile;
  }
  if (args.icon && changes.icon.empty()) {
    con.Error(*args.icon + " is empty");
    return kExitFile;
  }
  for (const std::string& field : args.versionFields) {
    const size_t eq = field.find('=');
    const std::string key = field.substr(0, eq);
    if (eq == std::string::npos || !pe::IsVersionKey(key)) {
      con.Error("--version takes KEY=VALUE with KEY one of " + pe::VersionKeyList() + ", not " + field);
      return kExitUsage;
    }
    changes.version.emplace_back(key, field.substr(eq + 1));
  }
  if (args.elevation) {
    if (!pe::IsExecutionLevel(*args.elevation)) {
      con.Error("--elevation is asInvoker, highestAvailable or requireAdministrator, not " + *args.elevation);
      return kExitUsage;
    }
    changes.elevation = *args.elevation;
  }
  std::string error;
  if (!pe::ChangeProgram(program, changes, &error)) {
    con.Error("cannot change the resources of " + programPath + ": " + error);
    return kExitFile;
  }
  return kExitOk;
}

}  // namespace

int RunSfx(const Args& args) {
  Console& con = Console::Get();
  if (args.positional.size() != 2) {
    con.Error("tvk sfx needs the output file and the archive (tvk sfx --help)");
    return kExitUsage;
  }
  const std::string& output = args.positional[0];
  const std::string& archive = args.positional[1];
  std::string programPath = args.sfx ? *args.sfx : DefaultSfxProgram();
  if (programPath.empty()) {
    con.Error("no self-extractor program found beside tvk, in ../lib/tarvik/ beside it or in its build: "
              "name one with --sfx");
    return kExitUsage;
  }
  std::vector<uint8_t> program;
  if (!ReadBytes(programPath, &program)) {
    con.Error("cannot read the self-extractor program " + programPath);
    return kExitFile;
  }
  if (int rc = ChangeProgramResources(args, programPath, &program); rc != kExitOk) return rc;
  std::string error, language;
  if (!payload::LoadLanguageText(args.language.value_or("en"), &language, &error)) {
    con.Error(error);
    return kExitFile;
  }
  payload::Settings settings;
  if (args.settings) {
    std::string text;
    if (!ReadFileUtf8(*args.settings, &text)) {
      con.Error("cannot read " + *args.settings);
      return kExitFile;
    }
    if (!ParseSfxSettings(text, &settings, &error)) {
      con.Error(*args.settings + ": " + error);
      return kExitFile;
    }
  }
  std::vector<uint8_t> payloadBytes;
  if (!payload::BuildPayload(language, settings, &payloadBytes, &error)) {
    con.Error(error);
    return kExitFile;
  }

  std::vector<std::string> volumes;
  std::vector<MainHeaderAt> heads;
  if (!VolumesOf(archive, &volumes, &heads, &error)) {
    con.Error(error);
    return kExitFile;
  }
  if (heads[0].flags & fmt::kArcSigned)
    con.Warn("the archive's signature does not cover the program in front of it: sign " + output +
             " again with tvk sign, which replaces it");
  std::vector<std::vector<uint8_t>> parts(volumes.size());
  for (size_t i = 0; i < volumes.size(); ++i) {
    if (!ReadBytes(volumes[i], &parts[i])) {
      con.Error("cannot read " + volumes[i]);
      return kExitFile;
    }
  }
  std::vector<payload::OutputFile> files;
  if (parts.size() == 1) {
    payload::OutputFile f;
    f.path = output;
    if (!payload::BuildSelfExtractor(program, payloadBytes, parts[0], &f.bytes, &error)) {
      con.Error(error);
      return kExitFile;
    }
    files.push_back(std::move(f));
  } else if (!payload::BuildSelfExtractorVolumes(program, payloadBytes, parts, output, &files, &error)) {
    con.Error(error);
    return kExitFile;
  }
  for (const payload::OutputFile& f : files) {
    if (!args.force && Exists(f.path)) {
      con.Error(f.path + " exists (use -f to replace it)");
      return kExitFile;
    }
  }
  for (const payload::OutputFile& f : files) {
    if (!WriteBytes(f.path, f.bytes, &error)) {
      con.Error(error);
      return kExitFile;
    }
  }
  os::MarkRunnable(output);
  con.Info("built " + output + (files.size() > 1 ? " and " + std::to_string(files.size() - 1) + " further volumes" : "") +
           " from " + programPath);
  return kExitOk;
}

}  // namespace tvk::cli
