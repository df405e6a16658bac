// A fresh folder under the temporary folder for one test, in the layer's
// internal path form, removed with everything in it afterwards.
#ifndef TVK_TESTS_PLATFORM_SCRATCH_FOLDER_H
#define TVK_TESTS_PLATFORM_SCRATCH_FOLDER_H

#include <atomic>
#include <filesystem>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "platform/platform.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace tvk_test {

// The system's spelling of an internal path (std::filesystem wants it).
inline std::string SystemPath(const std::string& internal) {
#if defined(_WIN32)
  return internal;
#else
  char out[tvk::kPathSize];
  if (!tvk::ToSystemPath(internal.c_str(), out, sizeof(out))) return std::string();
  return out;
#endif
}

class ScratchFolder {
 public:
  ScratchFolder() {
    static std::atomic<int> counter{0};
    char temp[tvk::kPathSize];
    EXPECT_EQ(tvk::GetTempFolder(temp, sizeof(temp)), 1);
#if defined(_WIN32)
    unsigned long pid = GetCurrentProcessId();
#else
    unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    path_ = std::string(temp) + "tvk_platform_" + std::to_string(pid) + "_" + std::to_string(counter++);
    std::error_code ec;
    std::filesystem::remove_all(SystemPath(path_), ec);
    EXPECT_EQ(tvk::MakeFolder(path_.c_str()), 1) << path_;
  }
  ~ScratchFolder() {
    std::error_code ec;
    // Read-only files left by a test must not keep the folder alive.
    for (auto it = std::filesystem::recursive_directory_iterator(SystemPath(path_), ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(SystemPath(path_), ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  // A path inside the folder; `relative` uses backslashes.
  std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

 private:
  std::string path_;
};

// Writes a whole file through the layer; true when every byte went out.
inline bool WriteWholeFile(const std::string& path, const std::string& content) {
  tvk::FileHandle h = tvk::FileOpen(path.c_str(), "w");
  if (h == TVK_INVALID_FILE) return false;
  int32_t n = tvk::FileWrite(h, content.data(), static_cast<uint32_t>(content.size()));
  return tvk::FileClose(h) == 1 && n == static_cast<int32_t>(content.size());
}

inline std::string ReadWholeFile(const std::string& path) {
  tvk::FileHandle h = tvk::FileOpen(path.c_str(), "r");
  if (h == TVK_INVALID_FILE) return "<cannot open>";
  std::string content;
  char buffer[4096];
  int32_t n;
  while ((n = tvk::FileRead(h, buffer, sizeof(buffer))) > 0) content.append(buffer, static_cast<size_t>(n));
  tvk::FileClose(h);
  return n < 0 ? "<read error>" : content;
}

}  // namespace tvk_test

#endif
