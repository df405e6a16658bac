// Output paths below a target folder that someone else may have prepared
// (a shared temporary folder): every component below the target is opened
// relative to the folder before it and never through a link, and files are
// made, renamed and removed relative to the folder so reached. A link put in
// place of a folder between two calls is not followed either: the walk holds
// the folder itself, not its name.
#define _FILE_OFFSET_BITS 64
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace tvk {

namespace {

inline FileHandle Handle(int fd) { return reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd)); }

// Search access is all a folder on the way needs; a link opened this way
// is the link itself, which O_DIRECTORY then refuses.
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The last folder a thread reached, kept open for the next file: extraction
// makes file after file in one folder, and a walk per file would cost a call
// per level. Each thread (the decoding one, the output one) has its own.
struct Reached {
  char key[kPathSize];  // the folder's system path as it was asked for
  uint32_t rootLength;
  uint32_t generation;
  int fd;
  bool held;  // fd is open (all zero at start: nothing in the program file)
};
__thread Reached tReached;
uint32_t gGeneration = 1;

uint32_t Generation() { return __atomic_load_n(&gGeneration, __ATOMIC_ACQUIRE); }

void DropReached() {
  if (tReached.held) close(tReached.fd);
  tReached.held = false;
  tReached.key[0] = 0;
}

void KeepReached(const char* work, size_t end, uint32_t rootLength, int fd) {
  DropReached();
  memcpy(tReached.key, work, end);
  tReached.key[end] = 0;
  tReached.rootLength = rootLength;
  tReached.generation = Generation();
  tReached.fd = fd;
  tReached.held = true;
}

int OpenFolderAt(int dir, const char* name) {
  int fd;
  do {
    fd = openat(dir, name, kFolderFlags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The target folder itself: links followed, made when missing.
int OpenRoot(const char* path, const char* sys, uint32_t rootLength, bool make) {
  char root[kPathSize];
  if (rootLength == 0) {
    // No target named: the current folder, or the top for a full path.
    StrCopy(root, sizeof(root), sys[0] == '/' ? "/" : ".");
  } else {
    memcpy(root, sys, rootLength);
    root[rootLength] = 0;
  }
  int fd;
  do {
    fd = openat(AT_FDCWD, root, O_PATH | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0 || errno != ENOENT || !make || rootLength == 0) return fd;
  char internal[kPathSize];
  memcpy(internal, path, rootLength);
  internal[rootLength] = 0;
  if (!MakeFolders(internal)) return -1;
  do {
    fd = openat(AT_FDCWD, root, O_PATH | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Walks work[rootLength, end) from the root, one component at a time, making
// missing folders when asked. Answers a folder descriptor the caller owns,
// or -1 with errno set.
int Walk(const char* path, char* work, uint32_t rootLength, size_t end, bool make) {
  int dir = OpenRoot(path, work, rootLength, make);
  if (dir < 0) return -1;
  size_t at = rootLength;
  while (at < end) {
    while (at < end && work[at] == '/') ++at;
    size_t stop = at;
    while (stop < end && work[stop] != '/') ++stop;
    if (stop == at) break;
    char saved = work[stop];
    work[stop] = 0;
    const char* name = work + at;
    int next = -1;
    if (strcmp(name, ".") == 0) {
      next = dup(dir);
    } else if (strcmp(name, "..") == 0) {
      errno = EACCES;  // never above a folder the walk has reached
    } else {
      next = OpenFolderAt(dir, name);
      if (next < 0 && errno == ENOENT && make) {
        if (mkdirat(dir, name, 0777) == 0 || errno == EEXIST) next = OpenFolderAt(dir, name);
      }
    }
    work[stop] = saved;
    int fault = errno;
    close(dir);
    if (next < 0) {
      errno = fault == ELOOP ? ENOTDIR : fault;
      return -1;
    }
    dir = next;
    at = stop;
  }
  return dir;
}

// The system form of path in work and where its last component starts;
// false for a path with no name below the root.
bool Split(const char* path, uint32_t rootLength, char* work, size_t* nameAt) {
  if (!path || !ToSystemPath(path, work, kPathSize)) {
    errno = ENAMETOOLONG;
    return false;
  }
  size_t len = strlen(work);
  if (rootLength > len) {
    errno = EINVAL;
    return false;
  }
  const char* slash = strrchr(work + rootLength, '/');
  size_t at = slash ? static_cast<size_t>(slash - work) + 1 : rootLength;
  const char* name = work + at;
  if (!*name || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) {
    errno = EINVAL;
    return false;
  }
  *nameAt = at;
  return true;
}

// The folder the name at nameAt lies in: the one this thread reached last
// when it is the same, else walked to (and kept). *kept says which, so a
// folder removed since can be walked to once more.
int Parent(const char* path, char* work, uint32_t rootLength, size_t nameAt, bool make, bool* kept) {
  size_t end = nameAt;
  while (end > rootLength && work[end - 1] == '/') --end;
  if (tReached.held && tReached.generation != Generation()) DropReached();
  if (tReached.held && tReached.rootLength == rootLength && strlen(tReached.key) == end &&
      memcmp(tReached.key, work, end) == 0) {
    *kept = true;
    return tReached.fd;
  }
  *kept = false;
  int fd = Walk(path, work, rootLength, end, make);
  if (fd >= 0) KeepReached(work, end, rootLength, fd);
  return fd;
}

}  // namespace

FileHandle CreateNewFileBelow(const char* path, uint32_t rootLength, uint32_t unixMode, int* taken) {
  if (taken) *taken = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    char work[kPathSize];
    size_t nameAt;
    bool kept;
    if (!Split(path, rootLength, work, &nameAt)) return TVK_INVALID_FILE;
    int dir = Parent(path, work, rootLength, nameAt, true, &kept);
    if (dir < 0) return TVK_INVALID_FILE;
    // Exclusive creation opens nothing that is already there (a link, a
    // pipe, a folder), so it cannot block or write through anything.
    int fd;
    do {
      fd = openat(dir, work + nameAt, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  static_cast<mode_t>(unixMode & 0777));
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) return Handle(fd);
    if (errno == EEXIST) {
      if (taken) *taken = 1;
      return TVK_INVALID_FILE;
    }
    // The folder kept from before was removed meanwhile: walk again.
    if (errno != ENOENT || !kept) return TVK_INVALID_FILE;
    DropReached();
  }
  return TVK_INVALID_FILE;
}

int MakeLinkBelow(const char* path, uint32_t rootLength, const char* target, int* taken) {
  *taken = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    char work[kPathSize];
    size_t nameAt;
    bool kept;
    if (!Split(path, rootLength, work, &nameAt)) return 0;
    int dir = Parent(path, work, rootLength, nameAt, true, &kept);
    if (dir < 0) return 0;
    if (symlinkat(target, dir, work + nameAt) == 0) return 1;
    if (errno == EEXIST) {
      *taken = 1;
      return 0;
    }
    if (errno != ENOENT || !kept) return 0;
    DropReached();
  }
  return 0;
}

int MakeFoldersBelow(const char* path, uint32_t rootLength) {
  char work[kPathSize];
  if (!path || !ToSystemPath(path, work, sizeof(work))) return 0;
  size_t end = strlen(work);
  while (end > rootLength && work[end - 1] == '/') --end;
  int fd = Walk(path, work, rootLength, end, true);
  if (fd < 0) return 0;
  KeepReached(work, end, rootLength, fd);  // its files usually follow
  return 1;
}

int RenameBelow(const char* from, const char* to, uint32_t rootLength) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    char a[kPathSize], b[kPathSize];
    size_t aAt, bAt;
    bool kept;
    if (!Split(from, rootLength, a, &aAt) || !Split(to, rootLength, b, &bAt)) return 0;
    int dir = Parent(from, a, rootLength, aAt, false, &kept);
    if (dir < 0) return 0;
    int other = -1;
    if (aAt != bAt || memcmp(a, b, aAt) != 0) {
      other = Walk(to, b, rootLength, bAt, false);
      if (other < 0) return 0;
    }
    int done = renameat(dir, a + aAt, other >= 0 ? other : dir, b + bAt) == 0;
    int fault = errno;
    if (other >= 0) close(other);
    if (done) return 1;
    if (fault != ENOENT || !kept) return 0;
    DropReached();
  }
  return 0;
}

int DeleteBelow(const char* path, uint32_t rootLength) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    char work[kPathSize];
    size_t nameAt;
    bool kept;
    if (!Split(path, rootLength, work, &nameAt)) return 0;
    int dir = Parent(path, work, rootLength, nameAt, false, &kept);
    if (dir < 0) return 0;
    if (unlinkat(dir, work + nameAt, 0) == 0) return 1;
    if (errno != ENOENT || !kept) return 0;
    DropReached();
  }
  return 0;
}

void ForgetOutputFolders() {
  __atomic_add_fetch(&gGeneration, 1, __ATOMIC_ACQ_REL);
  DropReached();
}

int GetFileId(const char* path, FileId* out) {
  char sys[kPathSize];
  if (!path || !out || !ToSystemPath(path, sys, sizeof(sys))) return 0;
  struct stat st;
  if (stat(sys[0] ? sys : ".", &st) != 0) return 0;
  out->volume = static_cast<uint64_t>(st.st_dev);
  out->index = static_cast<uint64_t>(st.st_ino);
  return 1;
}

}  // namespace tvk
