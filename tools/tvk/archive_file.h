// Finding a TVK archive inside a file (an archive or a self-extractor) and
// the volumes of its set, for the commands that change or wrap archives.
#ifndef TVK_TOOLS_ARCHIVE_FILE_H
#define TVK_TOOLS_ARCHIVE_FILE_H

#include <cstdint>
#include <string>
#include <vector>

namespace tvk::cli {

struct MainHeaderAt {
  uint64_t offset = 0;  // of the main header in the file
  uint16_t flags = 0;
};

// The first main header in the file's first 256 KiB whose check is good,
// as readers find it. False with a message when there is none.
bool LocateMainHeader(const std::string& path, MainHeaderAt* at, std::string* error);

// The volumes of the set that starts with first: first itself and, while
// the volume read last is a volume set's volume not marked last, the next
// names. False with a message when a volume is missing or is no archive.
bool VolumesOf(const std::string& first, std::vector<std::string>* paths,
               std::vector<MainHeaderAt>* heads, std::string* error);

// Sets or clears archive flag bits in the main header of a file, keeping
// its check right.
bool UpdateMainFlags(const std::string& path, const MainHeaderAt& at, uint16_t set, uint16_t clear,
                     std::string* error);

}  // namespace tvk::cli

#endif
