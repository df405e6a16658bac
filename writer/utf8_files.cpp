#include "writer/utf8_files.h"

#include <cerrno>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace tvk {

#if defined(_WIN32)

std::wstring WideFromUtf8(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::string Utf8FromWide(const wchar_t* text, size_t length) {
  if (!text || length == 0) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
  return out;
}

std::FILE* OpenFileUtf8(const std::string& path, const char* mode) {
  return _wfopen(WideFromUtf8(path).c_str(), WideFromUtf8(mode).c_str());
}

int RemoveFileUtf8(const std::string& path) { return _wremove(WideFromUtf8(path).c_str()); }

#else

std::FILE* OpenFileUtf8(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

int RemoveFileUtf8(const std::string& path) { return std::remove(path.c_str()); }

#endif

bool ReadFileUtf8(const std::string& path, std::string* bytes) {
  std::FILE* f = OpenFileUtf8(path, "rb");
  if (!f) return false;
  bytes->clear();
  char buffer[1 << 16];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes->append(buffer, n);
  const bool ok = !std::ferror(f);
  const int saved = errno;
  std::fclose(f);
  errno = saved;
  return ok;
}

}  // namespace tvk
