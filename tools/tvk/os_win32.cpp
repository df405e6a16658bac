// tvk on Windows: every name goes to the system as UTF-16, so that names
// outside the ANSI code page survive; the archive reader alone takes the
// code page's text, as the self-extractor does.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <thread>

#include "tools/tvk/os.h"
#include "writer/utf8_files.h"

namespace tvk::cli::os {
namespace {

void (*gInterruptHandler)() = nullptr;
UINT gSavedOutputCodePage = 0;

BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (gInterruptHandler) gInterruptHandler();
  return TRUE;
}

std::wstring Wide(const std::string& utf8) { return WideFromUtf8(utf8); }

std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out = n ? Utf8FromWide(text, n) : "system error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) out.pop_back();
  return out;
}

bool Failed(std::string* error) {
  if (error) *error = SystemMessage(GetLastError());
  return false;
}

// Names that the run makes its own: unlikely to meet another run's, and
// tried again when they do.
std::string Suffix(unsigned attempt) {
  char text[32];
  std::snprintf(text, sizeof text, "%06lx", static_cast<unsigned long>(
                                                (GetCurrentProcessId() * 2654435761u + GetTickCount() + attempt * 7919u) &
                                                0xFFFFFFu));
  return text;
}

HANDLE Console(DWORD which, DWORD* mode) {
  HANDLE h = GetStdHandle(which);
  DWORD ignored;
  return h != INVALID_HANDLE_VALUE && h && GetConsoleMode(h, mode ? mode : &ignored) ? h : nullptr;
}

}  // namespace

bool Stat(const std::string& path, bool, FileInfo* info, std::string* error, bool* missing) {
  // Links and junctions are followed: the Windows build stores what they
  // lead to, never a link.
  HANDLE h = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION data{};
  if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &data)) {
    const DWORD code = GetLastError();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (missing) *missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    if (error) *error = SystemMessage(code);
    return false;
  }
  CloseHandle(h);
  const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info->kind = folder ? Kind::kFolder : (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) ? Kind::kOther : Kind::kFile;
  info->size = folder ? 0 : (uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow);
  const uint64_t ticks = uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
  constexpr uint64_t kUnixEpoch = 116444736000000000ull;  // 1970 in 100 ns since 1601
  const int64_t since = static_cast<int64_t>(ticks - kUnixEpoch);
  int64_t seconds = since / 10000000, rest = since % 10000000;
  if (rest < 0) rest += 10000000, --seconds;
  info->modifiedSeconds = seconds;
  info->modifiedNanoseconds = static_cast<uint32_t>(rest * 100);
  info->writable = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0;
  info->unixMode = 0;
  info->key = {data.dwVolumeSerialNumber, uint64_t(data.nFileIndexHigh) << 32 | data.nFileIndexLow};
  return true;
}

bool ListFolder(const std::string& path, std::vector<std::string>* names, std::string* error) {
  std::string pattern = path;
  if (pattern.empty()) pattern = ".";
  if (pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(Wide(pattern + "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return Failed(error);
  names->clear();
  do {
    const std::string n = Utf8FromWide(data.cFileName, wcslen(data.cFileName));
    if (n != "." && n != "..") names->push_back(n);
  } while (FindNextFileW(find, &data));
  const DWORD code = GetLastError();
  FindClose(find);
  if (code != ERROR_NO_MORE_FILES) {
    SetLastError(code);
    return Failed(error);
  }
  return true;
}

bool ReadLink(const std::string&, std::string*, std::string* error) {
  *error = "the Windows build stores no links";
  return false;
}

bool MayWrite(const std::string& path, bool folder, std::string* error) {
  // A folder's read-only mark does not keep files out of it.
  if (folder) return true;
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Failed(error);
  if (!(attributes & FILE_ATTRIBUTE_READONLY)) return true;
  *error = "the file is read-only";
  return false;
}

int SeekTo(std::FILE* f, uint64_t offset) { return _fseeki64(f, static_cast<int64_t>(offset), SEEK_SET); }

bool EmptyFile(std::FILE* f) {
  return std::fflush(f) == 0 && _chsize_s(_fileno(f), 0) == 0 && _fseeki64(f, 0, SEEK_SET) == 0;
}

bool RemoveFile(const std::string& path) { return DeleteFileW(Wide(path).c_str()) != 0; }

std::FILE* OpenScratchFile(const std::string& prefix, std::string* error) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    // The system deletes it when the last handle goes, however the run ends.
    HANDLE h = CreateFileW(Wide(prefix + Suffix(attempt)).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      Failed(error);
      return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    std::FILE* f = fd >= 0 ? _fdopen(fd, "w+b") : nullptr;
    if (!f) {
      *error = std::strerror(errno);
      if (fd >= 0) _close(fd);
      else CloseHandle(h);
    }
    return f;
  }
  *error = "no free name";
  return nullptr;
}

bool MakeUniqueFile(const std::string& prefix, std::string* path, std::string* error) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string name = prefix + Suffix(attempt);
    HANDLE h = CreateFileW(Wide(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      return Failed(error);
    }
    CloseHandle(h);
    *path = name;
    return true;
  }
  *error = "no free name";
  return false;
}

bool MakeUniqueFolder(const std::string& prefix, std::string* path, std::string* error) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string name = prefix + Suffix(attempt);
    if (!CreateDirectoryW(Wide(name).c_str(), nullptr)) {
      if (GetLastError() == ERROR_ALREADY_EXISTS) continue;
      return Failed(error);
    }
    *path = name;
    return true;
  }
  *error = "no free name";
  return false;
}

bool CommitFile(const std::string& path, uint32_t, std::string* error) {
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Failed(error);
  const bool ok = FlushFileBuffers(h) != 0;
  if (!ok) Failed(error);
  CloseHandle(h);
  return ok;
}

bool PutInPlace(const std::string& from, const std::string& to, std::string* error) {
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
         Failed(error);
}

void MarkRunnable(const std::string&) {}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string WithoutDrive(const std::string& path) {
  std::string p = path.rfind("\\\\?\\", 0) == 0 ? path.substr(4) : path;
  if (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') return p.substr(2);
  if (p.size() >= 2 && IsSeparator(p[0]) && IsSeparator(p[1])) {
    // \\server\share\rest: the server and the share go.
    size_t at = 2;
    for (int part = 0; part < 2; ++part) {
      while (at < p.size() && !IsSeparator(p[at])) ++at;
      if (at < p.size()) ++at;
    }
    return p.substr(at);
  }
  return p;
}

std::string AbsolutePath(const std::string& path) {
  const std::wstring wide = Wide(path.empty() ? "." : path);
  const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  const DWORD got = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  if (got == 0 || got >= n) return path;
  return Utf8FromWide(full.data(), got);
}

std::string ProgramFolder() {
  wchar_t self[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  if (n == 0 || n >= MAX_PATH * 4) return std::string();
  std::string dir = Utf8FromWide(self, n);
  dir.erase(dir.find_last_of("\\/") + 1);
  return dir;
}

const char* SelfExtractorName() { return "tvksfx.exe"; }

unsigned ProcessorCount() {
  DWORD_PTR process = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process) {
    unsigned n = 0;
    for (; process; process &= process - 1) ++n;
    return n;
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

std::vector<std::string> Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(Utf8FromWide(wide[i], wcslen(wide[i])));
  LocalFree(wide);
  return out;
}

std::string ErrorText() { return std::strerror(errno); }

bool ToReaderText(const std::string& utf8, std::string* text) {
  std::wstring wide = Wide(utf8);
  const auto narrow = [text](const std::wstring& w) {
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w.data(), static_cast<int>(w.size()), nullptr,
                                      0, nullptr, &lossy);
    if (w.empty()) return text->clear(), true;
    if (n <= 0 || lossy) return false;
    text->assign(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w.data(), static_cast<int>(w.size()), text->data(), n,
                        nullptr, nullptr);
    return true;
  };
  if (narrow(wide)) return true;
  // A name the code page cannot spell may still have a short form that it
  // can, where the volume keeps short names.
  const DWORD n = GetShortPathNameW(wide.c_str(), nullptr, 0);
  if (n == 0) return false;
  std::wstring shortForm(n, L'\0');
  const DWORD got = GetShortPathNameW(wide.c_str(), shortForm.data(), n);
  if (got == 0 || got >= n) return false;
  shortForm.resize(got);
  return narrow(shortForm);
}

std::string FromReaderText(const std::string& text) {
  if (text.empty()) return text;
  // Names the archive holds in UTF-8 (those Windows-1252 cannot spell)
  // reach the reader's text unchanged.
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0) > 0)
    return text;
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return text;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return Utf8FromWide(wide.data(), wide.size());
}

void SetUpConsole() {
  DWORD mode = 0;
  if (HANDLE out = Console(STD_OUTPUT_HANDLE, &mode)) {
    gSavedOutputCodePage = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    // The console keeps its code page after the program: give it back.
    std::atexit([] { SetConsoleOutputCP(gSavedOutputCodePage); });
    // The progress line is redrawn with control sequences.
    SetConsoleMode(out, mode | ENABLE_PROCESSED_OUTPUT | 0x0004 /* ENABLE_VIRTUAL_TERMINAL_PROCESSING */);
  }
  if (HANDLE err = Console(STD_ERROR_HANDLE, &mode)) SetConsoleMode(err, mode | ENABLE_PROCESSED_OUTPUT | 0x0004);
}

bool InputIsTerminal() { return Console(STD_INPUT_HANDLE, nullptr) != nullptr; }

bool OutputIsTerminal() { return Console(STD_OUTPUT_HANDLE, nullptr) != nullptr; }

std::optional<std::string> ReadTerminalLine(bool echo) {
  DWORD saved = 0;
  HANDLE in = Console(STD_INPUT_HANDLE, &saved);
  if (!in) return ReadLine(stdin);
  DWORD mode = saved | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT;
  mode = echo ? mode | ENABLE_ECHO_INPUT : mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT);
  SetConsoleMode(in, mode);
  std::wstring line;
  bool ended = false;
  for (;;) {
    wchar_t buffer[256];
    DWORD got = 0;
    if (!ReadConsoleW(in, buffer, 256, &got, nullptr) || got == 0) break;
    line.append(buffer, got);
    if (line.find(L'\n') != std::wstring::npos) {
      ended = true;
      break;
    }
  }
  SetConsoleMode(in, saved);
  // Ctrl+Z at the start of a line is the console's end of input.
  if (line.empty() || line[0] == 0x1A) return std::nullopt;
  if (ended) line.erase(line.find(L'\n'));
  if (!line.empty() && line.back() == L'\r') line.pop_back();
  return Utf8FromWide(line.data(), line.size());
}

void CatchInterrupt(void (*handler)()) {
  gInterruptHandler = handler;
  SetConsoleCtrlHandler(OnControl, TRUE);
}

}  // namespace tvk::cli::os
