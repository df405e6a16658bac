// Where an entry goes: the output path under the target folder, the names
// Windows would take for something else, and the guard that keeps a run
// from writing over the archive it reads.
#ifndef TVK_ARCHIVE_PATH_RULES_H
#define TVK_ARCHIVE_PATH_RULES_H

#include <stdint.h>

#include "platform/platform.h"

namespace tvk {

// False when a cleaned relative name could still leave the folder it is
// joined to: a ".." component, or on Windows a stream name (':') or a
// component of dots alone.
bool RelativeNameIsSafe(const char* name);
// The form of a relative name (backslash separators) that Windows stores
// under that very name: ':' becomes '_', a component that Windows would take
// for a device (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, also with
// the superscript digits 1, 2 and 3, any extension, any case) gets '_' in
// front, and one ending in a dot or blank, which Windows drops, gets '_'
// behind. Used on Windows only; false when out (size bytes) is too small.
bool WindowsFileName(const char* rel, char* out, uint32_t size);

// The folders of a run's extraction options, as SetOptions took them.
struct PathRules {
  char targetFolder[kPathSize];  // empty or ending in a separator
  char baseFolder[kPathSize];    // removed from the front of stored paths
  char storedFolder[kPathSize];  // kept, not used
};

// The output path of an entry name (kPathSize bytes at out) and in
// *rootLength the length of its target-folder part. writes: the path will
// be written to, so it must stay inside the target and fit whole. 0, or the
// error that refuses it (28002 or 28080).
uint32_t BuildOutputPath(const PathRules& rules, bool keepFolderPaths, const char* entryName,
                         bool writes, char* out, uint32_t* rootLength);

// The folder part of path with a backslash behind it, as a name is joined to it.
void FolderWithSeparator(char* out, uint32_t size, const char* path);

// The volumes of the run: the one open now and the one it began with.
struct VolumeNames {
  const char* current;
  const char* first;
  uint32_t multiVolume;
};

// An output path that names one of the volumes, or one the run may still need.
bool OutputPathIsVolume(const VolumeNames& volumes, const char* path);
// A file found under the output name: one of the volumes under another
// spelling (a link, a second name, a short name on Windows)?
bool IsVolumeFile(const VolumeNames& volumes, const char* path);

}  // namespace tvk

#endif
