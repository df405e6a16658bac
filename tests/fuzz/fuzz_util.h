// Shared by the fuzz targets: the input as a file, since the module reads
// archives and payloads through its file layer.
#ifndef TVK_TESTS_FUZZ_FUZZ_UTIL_H
#define TVK_TESTS_FUZZ_FUZZ_UTIL_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace tvk_fuzz {

// A private folder for this process; created once and removed at exit. The
// name lives in a plain array, which no destructor takes away before the
// exit handler runs.
inline const std::string& ScratchFolder() {
  static char name[] = "/tmp/tvk_fuzz_XXXXXX";
  static std::string folder = [] {
    if (!mkdtemp(name)) abort();
    atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(name, ec);
    });
    return std::string(name);
  }();
  return folder;
}

// Replaces the file with the bytes; answers its path (system form).
inline std::string WriteInput(const char* name, const uint8_t* data, size_t size) {
  std::string path = ScratchFolder() + "/" + name;
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) abort();
  if (size && fwrite(data, 1, size, f) != size) abort();
  fclose(f);
  return path;
}

// The module's path form: backslashes inside.
inline std::string Internal(std::string path) {
  for (char& c : path) if (c == '/') c = '\\';
  return path;
}

inline uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace tvk_fuzz

#endif
