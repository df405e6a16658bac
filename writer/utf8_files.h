// Files named by UTF-8 paths, as the writer and tvk hold every name. The
// Windows C library reads a narrow name in the ANSI code page, which cannot
// spell most names; there the names go through the wide functions.
#ifndef TVK_WRITER_UTF8_FILES_H
#define TVK_WRITER_UTF8_FILES_H

#include <cstdio>
#include <string>

namespace tvk {

// std::fopen and std::remove for a UTF-8 path.
std::FILE* OpenFileUtf8(const std::string& path, const char* mode);
int RemoveFileUtf8(const std::string& path);
// The whole file; false (errno set) when it cannot be opened or read.
bool ReadFileUtf8(const std::string& path, std::string* bytes);

#if defined(_WIN32)
// UTF-8 <-> UTF-16 as the wide functions take it; bytes that are no UTF-8
// become U+FFFD.
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const wchar_t* text, size_t length);
#endif

}  // namespace tvk

#endif
