// The mark a browser leaves on a downloaded program (its "Zone.Identifier"
// stream) is handed on to every file extracted from it, so that the system
// keeps warning about them as it would about the program itself.
#pragma once

#include <stdint.h>

namespace tvk {

// The file system's named streams, replaceable in tests.
struct StreamLayer {
  // Reads up to size bytes of the stream into buffer and answers the
  // stream's full length, or -1 when the file has no such stream.
  int32_t (*readStream)(const char* path, const char* stream, char* buffer, uint32_t size);
  bool (*writeStream)(const char* path, const char* stream, const char* data, uint32_t size);
  // Whether the volume that holds path keeps named streams at all.
  bool (*volumeHasStreams)(const char* path);
};

constexpr uint32_t kZoneMarkSize = 8192;

struct ZoneMark {
  const StreamLayer* layer;
  bool present;
  uint32_t size;
  char data[kZoneMarkSize];
};

extern const char kZoneStream[];  // "Zone.Identifier"

// Reads the program's own mark; without one nothing is ever written.
void PrepareZoneMark(ZoneMark* mark, const StreamLayer* layer, const char* programPath);
// Gives one extracted file the program's mark. Answers whether it was written.
bool ApplyZoneMark(const ZoneMark& mark, const char* filePath);

// The system's streams (Windows only).
const StreamLayer* SystemStreamLayer();

}  // namespace tvk
