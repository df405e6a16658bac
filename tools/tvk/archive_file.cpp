#include "tools/tvk/archive_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "archive/blocks.h"
#include "archive/format.h"
#include "common/bytes.h"
#include "tools/tvk/os.h"
#include "writer/archive_writer.h"

namespace tvk::cli {

bool LocateMainHeader(const std::string& path, MainHeaderAt* at, std::string* error) {
  std::FILE* f = os::OpenFile(path, "rb");
  if (!f) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  Bytes head(fmt::kArchiveSearchLimit);
  size_t n = std::fread(head.data(), 1, head.size(), f);
  std::fclose(f);
  uint32_t start = 0, size = 0;
  if (FindMainHeader(head.data(), static_cast<uint32_t>(n), &start, &size)) {
    at->offset = start;
    at->flags = ParseBlockHeader(&head[start]).flags;
    return true;
  }
  *error = path + ": not a TVK archive";
  return false;
}

bool VolumesOf(const std::string& first, std::vector<std::string>* paths,
               std::vector<MainHeaderAt>* heads, std::string* error) {
  paths->clear();
  heads->clear();
  std::string path = first;
  for (uint32_t counter = 1;; ++counter) {
    MainHeaderAt at;
    if (!LocateMainHeader(path, &at, error)) return false;
    paths->push_back(path);
    heads->push_back(at);
    if (!(at.flags & fmt::kArcMultiVolume) || (at.flags & fmt::kArcLastVolume)) return true;
    path = VolumeName(first, counter);
  }
}

bool UpdateMainFlags(const std::string& path, const MainHeaderAt& at, uint16_t set, uint16_t clear,
                     std::string* error) {
  std::FILE* f = os::OpenFile(path, "r+b");
  if (!f) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  Bytes main(fmt::kMainHeaderSize);
  bool ok = os::SeekTo(f, at.offset) == 0 &&
            std::fread(main.data(), 1, main.size(), f) == main.size();
  if (ok) {
    uint32_t size = ParseBlockHeader(main.data()).size;
    main.resize(size);
    ok = os::SeekTo(f, at.offset) == 0 &&
         std::fread(main.data(), 1, size, f) == size;
  }
  if (ok) {
    StoreU16(&main[3], (LoadU16(&main[3]) | set) & ~clear);
    SealHead(main);
    ok = os::SeekTo(f, at.offset) == 0 &&
         std::fwrite(main.data(), 1, main.size(), f) == main.size();
  }
  ok = std::fclose(f) == 0 && ok;
  if (!ok) *error = path + ": cannot update the main header";
  return ok;
}

}  // namespace tvk::cli
