#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include "tools/tvk/os.h"

namespace tvk::cli::os {
namespace {

void (*gInterruptHandler)() = nullptr;

extern "C" void OnInterrupt(int) {
  if (gInterruptHandler) gInterruptHandler();
}

Kind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return Kind::kFile;
  if (S_ISDIR(mode)) return Kind::kFolder;
  if (S_ISLNK(mode)) return Kind::kLink;
  return Kind::kOther;
}

}  // namespace

bool Stat(const std::string& path, bool followLinks, FileInfo* info, std::string* error, bool* missing) {
  struct stat st {};
  if ((followLinks ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) {
    if (error) *error = std::strerror(errno);
    if (missing) *missing = errno == ENOENT;
    return false;
  }
  info->kind = KindOf(st.st_mode);
  info->size = static_cast<uint64_t>(st.st_size);
  info->modifiedSeconds = st.st_mtim.tv_sec;
  info->modifiedNanoseconds = static_cast<uint32_t>(st.st_mtim.tv_nsec);
  info->writable = (st.st_mode & S_IWUSR) != 0;
  info->unixMode = static_cast<uint32_t>(st.st_mode);
  info->key = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return true;
}

bool ListFolder(const std::string& path, std::vector<std::string>* names, std::string* error) {
  DIR* dir = opendir(path.c_str());
  if (!dir) {
    *error = std::strerror(errno);
    return false;
  }
  names->clear();
  while (dirent* d = readdir(dir)) {
    std::string n = d->d_name;
    if (n != "." && n != "..") names->push_back(n);
  }
  closedir(dir);
  return true;
}

bool ReadLink(const std::string& path, std::string* target, std::string* error) {
  std::string buffer(4096, '\0');
  const ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size());
  if (n < 0) {
    *error = std::strerror(errno);
    return false;
  }
  buffer.resize(static_cast<size_t>(n));
  *target = std::move(buffer);
  return true;
}

bool MayWrite(const std::string& path, bool folder, std::string* error) {
  if (access(path.c_str(), folder ? W_OK | X_OK : W_OK) == 0) return true;
  *error = std::strerror(errno);
  return false;
}

int SeekTo(std::FILE* f, uint64_t offset) { return fseeko(f, static_cast<off_t>(offset), SEEK_SET); }

bool EmptyFile(std::FILE* f) {
  return std::fflush(f) == 0 && ftruncate(fileno(f), 0) == 0 && fseeko(f, 0, SEEK_SET) == 0;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

std::FILE* OpenScratchFile(const std::string& prefix, std::string* error) {
  std::string name = prefix + "XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  // Gone from the folder at once, so that it never outlives the run.
  unlink(name.c_str());
  std::FILE* f = fdopen(fd, "w+b");
  if (!f) {
    *error = std::strerror(errno);
    close(fd);
  }
  return f;
}

bool MakeUniqueFile(const std::string& prefix, std::string* path, std::string* error) {
  std::string name = prefix + "XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  close(fd);
  *path = name;
  return true;
}

bool MakeUniqueFolder(const std::string& prefix, std::string* path, std::string* error) {
  std::string name = prefix + "XXXXXX";
  if (!mkdtemp(name.data())) {
    *error = std::strerror(errno);
    return false;
  }
  *path = name;
  return true;
}

bool CommitFile(const std::string& path, uint32_t unixMode, std::string* error) {
  const int fd = open(path.c_str(), O_RDONLY);
  const bool ok = fd >= 0 && fchmod(fd, unixMode & 07777) == 0 && fsync(fd) == 0;
  if (!ok) *error = std::strerror(errno);
  if (fd >= 0) close(fd);
  return ok;
}

bool PutInPlace(const std::string& from, const std::string& to, std::string* error) {
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  const size_t slash = to.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : to.substr(0, slash);
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

void MarkRunnable(const std::string& path) { chmod(path.c_str(), 0755); }

bool IsSeparator(char c) { return c == '/'; }

std::string WithoutDrive(const std::string& path) { return path; }

std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return path;
  std::string base = cwd;
  if (path.empty() || path == ".") return base;
  if (base.back() != '/') base += '/';
  return base + (path.rfind("./", 0) == 0 ? path.substr(2) : path);
}

std::string ProgramFolder() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return std::string();
  std::string dir(self, static_cast<size_t>(n));
  dir.erase(dir.find_last_of('/') + 1);
  return dir;
}

const char* SelfExtractorName() { return "tvksfx"; }

unsigned ProcessorCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
  const unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

std::vector<std::string> Arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

std::string ErrorText() { return std::strerror(errno); }

bool ToReaderText(const std::string& utf8, std::string* text) {
  *text = utf8;
  return true;
}

std::string FromReaderText(const std::string& text) { return text; }

void SetUpConsole() {}

bool InputIsTerminal() { return isatty(STDIN_FILENO) != 0; }

bool OutputIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

std::optional<std::string> ReadTerminalLine(bool echo) {
  termios saved{};
  const bool restore = !echo && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (restore) {
    termios quietMode = saved;
    quietMode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quietMode);
  }
  auto line = ReadLine(stdin);
  if (restore) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  return line;
}

void CatchInterrupt(void (*handler)()) {
  gInterruptHandler = handler;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace tvk::cli::os
