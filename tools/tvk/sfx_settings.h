// The settings file of tvk sfx: "key = value" lines, blank lines and lines
// starting with # or ; ignored. Keys: mode, title, info, info-style, about,
// target, run-after, overwrite, quiet, command, second-command. Texts are
// UTF-8 and go into the payload in Windows-1252 when they can; "\n" in a
// value is a line break.
#ifndef TVK_TOOLS_SFX_SETTINGS_H
#define TVK_TOOLS_SFX_SETTINGS_H

#include <string>

#include "writer/payload_writer.h"

namespace tvk::cli {

bool ParseSfxSettings(const std::string& text, payload::Settings* settings, std::string* error);

}  // namespace tvk::cli

#endif
