#include "tools/tvk/sfx_settings.h"

#include <algorithm>
#include <cctype>

#include "tools/tvk/console.h"
#include "writer/archive_text.h"

namespace tvk::cli {
namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == 'n') {
      out += "\r\n";
      ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool Number(const std::string& value, uint32_t max, uint32_t* out) {
  if (value.empty() || value.size() > 9 ||
      !std::all_of(value.begin(), value.end(), [](unsigned char c) { return std::isdigit(c); }))
    return false;
  uint32_t v = static_cast<uint32_t>(std::stoul(value));
  if (v > max) return false;
  *out = v;
  return true;
}

}  // namespace

bool ParseSfxSettings(const std::string& text, payload::Settings* s, std::string* error) {
  size_t start = 0;
  int lineNumber = 0;
  bool warned = false;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(start, end - start));
    start = end + 1;
    ++lineNumber;
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
      *error = "line " + std::to_string(lineNumber) + ": expected key = value";
      return false;
    }
    std::string key = Trim(line.substr(0, eq));
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    std::string raw = Trim(line.substr(eq + 1));
    bool fellBack = false;
    // Line breaks are written as \n in the texts shown to the user; paths
    // and commands keep their backslashes (C:\new must stay a folder name).
    const bool shownText = key == "title" || key == "info" || key == "about";
    std::string value = ArchiveText(shownText ? Unescape(raw) : raw, &fellBack);
    if (fellBack && !warned) {
      Console::Get().Warn("settings text outside Windows-1252 is stored in UTF-8 (line " +
                          std::to_string(lineNumber) + ")");
      warned = true;
    }
    bool ok = true;
    if (key == "mode") {
      ok = Number(raw, 2, &s->mode);
    } else if (key == "title") {
      s->infoTitle = value;
    } else if (key == "info") {
      s->infoText = value;
    } else if (key == "info-style") {
      ok = Number(raw, 2, &s->infoBoxStyle);
    } else if (key == "about") {
      s->aboutPrefix = value;
    } else if (key == "target") {
      s->targetFolder = value;
    } else if (key == "run-after") {
      s->runAfter = value;
    } else if (key == "overwrite") {
      ok = Number(raw, 1, &s->overwrite);
    } else if (key == "quiet") {
      ok = Number(raw, 1, &s->quiet);
    } else if (key == "command") {
      s->command = value;
    } else if (key == "second-command") {
      s->secondCommand = value;
    } else {
      *error = "line " + std::to_string(lineNumber) + ": unknown key " + key;
      return false;
    }
    if (!ok) {
      *error = "line " + std::to_string(lineNumber) + ": " + key + " needs a small number, not " + raw;
      return false;
    }
  }
  return true;
}

}  // namespace tvk::cli
