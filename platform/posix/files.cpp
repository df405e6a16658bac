// Files and folders over POSIX calls. Windows attributes map onto the mode
// bits (read-only = no write bits, the folder bit = a directory; hidden,
// system and archive have no counterpart), and sharing modes have no meaning.
#define _FILE_OFFSET_BITS 64
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/time_math.h"

static_assert(sizeof(off_t) == 8, "64-bit file positions are needed");

namespace tvk {

namespace {

inline int Fd(FileHandle h) { return static_cast<int>(reinterpret_cast<intptr_t>(h)); }
inline FileHandle Handle(int fd) { return reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd)); }

// The system form of a path in a local buffer.
struct SysPath {
  char text[kPathSize];
  bool ok;
  explicit SysPath(const char* path) : ok(ToSystemPath(path, text, sizeof(text)) != 0) {
    if (ok && text[0] == '\0') {
      ok = false;
      errno = ENOENT;
    }
  }
};

uint32_t ErrnoResult() { return errno ? static_cast<uint32_t>(errno) : static_cast<uint32_t>(EIO); }

mode_t CurrentUmask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

FileHandle OpenChecked(const char* sysPath, int flags, mode_t mode) {
  int fd;
  // Non-blocking only while opening: a pipe planted under an output name
  // would otherwise wait for a reader for ever. openat, because some C
  // libraries follow open with O_CLOEXEC by a second call that sets it again.
  do {
    fd = openat(AT_FDCWD, sysPath, flags | O_CLOEXEC | O_NONBLOCK, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return TVK_INVALID_FILE;
  // A folder opens for reading on Linux but never on Windows, and pipes and
  // sockets have no Windows counterpart under a file name at all.
  struct stat st;
  int fault = 0;
  if (fstat(fd, &st) != 0) {
    fault = errno;
  } else if (S_ISDIR(st.st_mode)) {
    fault = EISDIR;
  } else if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
    fault = ENXIO;
  }
  if (fault) {
    close(fd);
    errno = fault;
    return TVK_INVALID_FILE;
  }
  // F_SETFL touches only the status flags, and none but O_NONBLOCK is ever
  // set here, so clearing them all needs no F_GETFL first.
  if (fcntl(fd, F_SETFL, 0) != 0) {
    close(fd);
    return TVK_INVALID_FILE;
  }
  return Handle(fd);
}

uint64_t TicksOf(const struct timespec& ts) {
  int64_t ticks = static_cast<int64_t>(ts.tv_sec) * static_cast<int64_t>(kTicksPerSecond) +
                  ts.tv_nsec / 100 + static_cast<int64_t>(kUnixEpochTicks);
  return ticks < 0 ? 0 : static_cast<uint64_t>(ticks);
}

struct timespec TimespecOf(const FileTime* ft) {
  int64_t ticks = static_cast<int64_t>(FileTimeValue(ft) & INT64_MAX) - static_cast<int64_t>(kUnixEpochTicks);
  int64_t sec = ticks / static_cast<int64_t>(kTicksPerSecond);
  int64_t rest = ticks % static_cast<int64_t>(kTicksPerSecond);
  if (rest < 0) {
    rest += kTicksPerSecond;
    --sec;
  }
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(sec);
  ts.tv_nsec = static_cast<long>(rest * 100);
  return ts;
}

void FillFindData(const struct stat& st, const char* name, FindData* out) {
  memset(out, 0, sizeof(*out));
  if (S_ISDIR(st.st_mode)) {
    out->attributes = kAttrDirectory;
  } else {
    out->attributes = kAttrArchive;  // what every file the system makes carries
  }
  if ((st.st_mode & S_IWUSR) == 0) out->attributes |= kAttrReadOnly;
  // Linux keeps no creation time that can be set; the modification time
  // stands in, so that a stamp set here reads back the same.
  SetFileTimeValue(&out->creationTime, TicksOf(st.st_mtim));
  SetFileTimeValue(&out->lastAccessTime, TicksOf(st.st_atim));
  SetFileTimeValue(&out->lastWriteTime, TicksOf(st.st_mtim));
  uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
  out->sizeHigh = static_cast<uint32_t>(size >> 32);
  out->sizeLow = static_cast<uint32_t>(size);
  StrCopy(out->name, sizeof(out->name), name);
}

bool HasWildcards(const char* s) { return strpbrk(s, "*?") != nullptr; }

}  // namespace

FileHandle FileOpen(const char* path, const char* mode) {
  if (!path || !mode) return TVK_INVALID_FILE;
  int flags;
  switch (mode[0]) {
    case 'a': flags = O_RDWR; break;
    case 'b': flags = O_RDWR | O_CREAT | O_TRUNC; break;
    case 'r': flags = O_RDONLY; break;
    case 'v': flags = O_WRONLY; break;
    case 'w': flags = O_WRONLY | O_CREAT | O_TRUNC; break;
    default: errno = EINVAL; return TVK_INVALID_FILE;
  }
  SysPath sys(path);
  if (!sys.ok) return TVK_INVALID_FILE;
  return OpenChecked(sys.text, flags, 0666);
}

FileHandle CreateNewFile(const char* path, uint32_t unixMode) {
  if (!path) return TVK_INVALID_FILE;
  SysPath sys(path);
  if (!sys.ok) return TVK_INVALID_FILE;
  // openat: see OpenChecked. Exclusive creation never opens what is already there (a pipe, a folder,
  // a link): what it opens is a new empty file, so none of the checks of an
  // ordinary open apply and it cannot block.
  int fd;
  do {
    fd = openat(AT_FDCWD, sys.text, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                static_cast<mode_t>(unixMode & 0777));
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? TVK_INVALID_FILE : Handle(fd);
}

int FileClose(FileHandle h) {
  if (h == TVK_INVALID_FILE) return 0;
  return close(Fd(h)) == 0;
}

int64_t FileSeek(FileHandle h, int64_t offset, int origin) {
  if (h == TVK_INVALID_FILE) return -1;
  int whence;
  switch (origin) {
    case kSeekStart: whence = SEEK_SET; break;
    case kSeekCurrent: whence = SEEK_CUR; break;
    case kSeekEnd: whence = SEEK_END; break;
    default: return -1;
  }
  off_t pos = lseek(Fd(h), static_cast<off_t>(offset), whence);
  return pos < 0 ? -1 : static_cast<int64_t>(pos);
}

int64_t FileSize(FileHandle h) {
  if (h == TVK_INVALID_FILE) return -1;
  struct stat st;
  if (fstat(Fd(h), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

int64_t FileTell(FileHandle h) { return FileSeek(h, 0, kSeekCurrent); }

int32_t FileRead(FileHandle h, void* buffer, uint32_t count) {
  if (h == TVK_INVALID_FILE || (!buffer && count)) return -1;
  if (count > INT32_MAX) count = INT32_MAX;
  uint8_t* p = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  // A read may come back short before the end (signals, pipes); the caller
  // expects the whole count unless the file ends.
  while (done < count) {
    ssize_t n = read(Fd(h), p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<uint32_t>(n);
  }
  return static_cast<int32_t>(done);
}

int32_t FileWrite(FileHandle h, const void* buffer, uint32_t count) {
  if (h == TVK_INVALID_FILE || (!buffer && count) || count > INT32_MAX) return -1;
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = write(Fd(h), p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    // Part of the data may be on disk, but the caller must learn that the
    // disk is full rather than see a short count it might not check.
    if (n <= 0) return -1;
    done += static_cast<uint32_t>(n);
  }
  return static_cast<int32_t>(done);
}

int FileDelete(const char* path) {
  SysPath sys(path);
  return sys.ok && unlink(sys.text) == 0;
}

uint32_t FileSetAttributes(const char* path, uint32_t attributes) {
  errno = 0;
  SysPath sys(path);
  if (!sys.ok) return ErrnoResult();
  struct stat st;
  if (stat(sys.text, &st) != 0) return ErrnoResult();
  // Windows does not stop anyone from adding files to a read-only folder;
  // taking the write bits from a folder here would.
  if (S_ISDIR(st.st_mode)) return 0;
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttrReadOnly) {
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else if ((mode & S_IWUSR) == 0) {
    // Writable again as a newly made file would be.
    mode |= (S_IWUSR | S_IWGRP | S_IWOTH) & ~CurrentUmask();
    mode |= S_IWUSR;
  }
  if (mode == (st.st_mode & 07777)) return 0;
  return chmod(sys.text, mode) == 0 ? 0 : ErrnoResult();
}

uint32_t FileResetAttributes(const char* path) { return FileSetAttributes(path, kAttrArchive); }

uint32_t FileSetTime(FileHandle h, uint32_t, uint16_t dosDate, uint16_t dosTime) {
  if (h == TVK_INVALID_FILE) return EBADF;
  FileTime local, utc;
  if (!DosToFileTime(dosDate, dosTime, &local) || !LocalToUtcFileTime(&local, &utc)) return EINVAL;
  return FileSetTimes(h, &utc, &utc, &utc);
}

uint32_t FileSetTimes(FileHandle h, const FileTime*, const FileTime* lastAccess, const FileTime* lastWrite) {
  if (h == TVK_INVALID_FILE) return EBADF;
  struct timespec times[2];
  if (lastAccess) {
    times[0] = TimespecOf(lastAccess);
  } else {
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
  }
  if (lastWrite) {
    times[1] = TimespecOf(lastWrite);
  } else {
    times[1].tv_sec = 0;
    times[1].tv_nsec = UTIME_OMIT;
  }
  return futimens(Fd(h), times) == 0 ? 0 : ErrnoResult();
}

int FileFind(const char* pathOrPattern, FindData* out) {
  if (!pathOrPattern || !out) return 0;
  SysPath sys(pathOrPattern);
  if (!sys.ok) return 0;
  char* slash = strrchr(sys.text, '/');
  const char* last = slash ? slash + 1 : sys.text;
  struct stat st;
  if (!HasWildcards(last)) {
    // The link itself first: a name that is not there (the usual answer
    // while extracting) then costs one call, and only a link is followed.
    if (lstat(sys.text, &st) != 0) return 0;
    if (S_ISLNK(st.st_mode)) {
      struct stat target;
      if (stat(sys.text, &target) == 0) st = target;
    }
    FillFindData(st, last, out);
    return 1;
  }
  // A mask in the last component: the first entry of the folder that
  // matches it, compared without regard to case as on Windows.
  char pattern[kPathSize];
  StrCopy(pattern, sizeof(pattern), last);
  StrUpper(pattern);
  char folder[kPathSize];
  if (slash == sys.text) {
    StrCopy(folder, sizeof(folder), "/");
  } else if (slash) {
    StrCopyN(folder, sizeof(folder), sys.text, static_cast<uint32_t>(slash - sys.text));
  } else {
    StrCopy(folder, sizeof(folder), ".");
  }
  DIR* dir = opendir(folder);
  if (!dir) return 0;
  int found = 0;
  while (struct dirent* e = readdir(dir)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    char upper[sizeof(e->d_name)];
    StrCopy(upper, sizeof(upper), e->d_name);
    StrUpper(upper);
    if (!WildcardMatch(upper, pattern)) continue;
    char full[kPathSize];
    if (StrCopy(full, sizeof(full), folder) != kStrOk || StrAppend(full, sizeof(full), "/") != kStrOk ||
        StrAppend(full, sizeof(full), e->d_name) != kStrOk) {
      continue;
    }
    if (stat(full, &st) != 0 && lstat(full, &st) != 0) continue;
    FillFindData(st, e->d_name, out);
    found = 1;
    break;
  }
  closedir(dir);
  return found;
}

int FileExists(const char* path) {
  FindData data;
  return FileFind(path, &data) && (data.attributes & kAttrDirectory) == 0;
}

int IsFolder(const char* path) {
  SysPath sys(path);
  struct stat st;
  return sys.ok && stat(sys.text, &st) == 0 && S_ISDIR(st.st_mode);
}

int MakeFolder(const char* path) {
  SysPath sys(path);
  return sys.ok && mkdir(sys.text, 0777) == 0;
}

void LongForm(char*, uint32_t) {}  // Linux names have no short form

int RenameFile(const char* from, const char* to) {
  SysPath a(from), b(to);
  return a.ok && b.ok && rename(a.text, b.text) == 0;
}

int SetUnixMode(const char* path, uint32_t mode) {
  SysPath sys(path);
  // Permission bits only: set-user-id, set-group-id and sticky bits never
  // come from an archive.
  return sys.ok && chmod(sys.text, static_cast<mode_t>(mode & 0777)) == 0;
}

uint32_t GetUnixMode(const char* path) {
  SysPath sys(path);
  struct stat st;
  if (!sys.ok || stat(sys.text, &st) != 0) return 0;
  return static_cast<uint32_t>(st.st_mode & 07777);
}

}  // namespace tvk
