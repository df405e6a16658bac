#include "programs/tvksfx/win32/zone_mark.h"

#include <string.h>

namespace tvk {

const char kZoneStream[] = "Zone.Identifier";

namespace {

// A mark too long to keep whole still says where the program came from: the
// Internet zone, the one that draws the system's warnings. A cut-off copy
// could be read as no mark at all.
const char kInternetZone[] = "[ZoneTransfer]\r\nZoneId=3\r\n";

}  // namespace

void PrepareZoneMark(ZoneMark* mark, const StreamLayer* layer, const char* programPath) {
  mark->layer = layer;
  mark->present = false;
  mark->size = 0;
  if (!layer || !programPath || !programPath[0]) return;
  int32_t length = layer->readStream(programPath, kZoneStream, mark->data, kZoneMarkSize);
  if (length < 0) return;
  mark->present = true;
  if (static_cast<uint32_t>(length) <= kZoneMarkSize) {
    mark->size = static_cast<uint32_t>(length);
  } else {
    mark->size = static_cast<uint32_t>(sizeof kInternetZone - 1);
    memcpy(mark->data, kInternetZone, mark->size);
  }
}

bool ApplyZoneMark(const ZoneMark& mark, const char* filePath) {
  if (!mark.present || !mark.layer || !filePath || !filePath[0]) return false;
  // On a volume without named streams the write would fail or, worse, make a
  // file whose name ends in ":Zone.Identifier".
  if (!mark.layer->volumeHasStreams(filePath)) return false;
  return mark.layer->writeStream(filePath, kZoneStream, mark.data, mark.size);
}

}  // namespace tvk
