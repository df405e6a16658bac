// Output files finished at once: the Windows program keeps one thread, and
// its file system costs are not what the queue hides on Linux.
#include "platform/platform.h"
#include "platform/result_codes.h"

namespace tvk {

namespace {
uint32_t g_failure = 0;
}

bool OutputQueueOpen(const char*, uint32_t, uint32_t) { return false; }
bool OutputQueueFolder(const char*, uint32_t) { return false; }

void OutputQueueDiscard(FileHandle h, bool keep, const char* path, uint32_t rootLength) {
  FileClose(h);
  if (!keep) DeleteBelow(path, rootLength);
}

void OutputQueueWrite(FileHandle h, const void* data, uint32_t n) {
  if (g_failure) return;
  int32_t written = FileWrite(h, data, n);
  if (written < 0 || static_cast<uint32_t>(written) != n) g_failure = kErrWrite;
}

void OutputQueueFinish(FileHandle h, const OutputStamp& stamp, const char* path, uint32_t rootLength) {
  if (!g_failure) ApplyOutputStamp(h, stamp);
  FileClose(h);
  if (g_failure) DeleteBelow(path, rootLength);
}

uint32_t OutputQueueFailure() { return g_failure; }

// Everything is done at once: the caller's file in hand is the one.
void OutputQueueFailedPath(char* out, uint32_t size) {
  if (size) out[0] = 0;
}

uint32_t OutputQueueWait() { return g_failure; }

void OutputQueueClear() { g_failure = 0; }

}  // namespace tvk
