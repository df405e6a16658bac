// The run-after file on Linux: started directly (no shell), or handed to
// xdg-open when it is not executable. Not waited for.
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/stat.h>

#include "host/run_after.h"
#include "platform/platform.h"

extern char** environ;

namespace tvk {

namespace {

// The started program gets the default handling of the signals this program
// catches or ignores (an ignored signal would otherwise be inherited).
struct SpawnAttributes {
  posix_spawnattr_t attr;
  bool ok;
  SpawnAttributes() {
    ok = posix_spawnattr_init(&attr) == 0;
    if (!ok) return;
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGPIPE);
    sigaddset(&set, SIGXFSZ);
    posix_spawnattr_setsigdefault(&attr, &set);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnAttributes() {
    if (ok) posix_spawnattr_destroy(&attr);
  }
  const posix_spawnattr_t* Get() const { return ok ? &attr : nullptr; }
};

}  // namespace

bool OpenWithShell(const char* file, const char* parameters, bool) {
  char path[kPathSize];
  if (StrCopy(path, sizeof path, file) != kStrOk || !path[0]) return false;
  for (char* p = path; *p; ++p) {
    if (*p == '\\') *p = '/';
  }
  struct stat st;
  if (stat(path, &st) != 0 || S_ISDIR(st.st_mode)) return false;

  constexpr uint32_t kMaxWords = 64;
  char* argv[kMaxWords + 2];
  char words[kPathSize * 2];
  pid_t pid;
  SpawnAttributes attributes;
  if (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) {
    int count = SplitShellWords(parameters, words, sizeof words, argv + 1, kMaxWords);
    if (count < 0) return false;
    argv[0] = path;
    argv[count + 1] = nullptr;
    // A name without a folder is meant in the current folder, never on PATH.
    char program[kPathSize + 2];
    StrCopy(program, sizeof program, strchr(path, '/') ? "" : "./");
    StrAppend(program, sizeof program, path);
    return posix_spawn(&pid, program, nullptr, attributes.Get(), argv, environ) == 0;
  }
  char opener[] = "xdg-open";
  argv[0] = opener;
  argv[1] = path;
  argv[2] = nullptr;
  return posix_spawnp(&pid, opener, nullptr, attributes.Get(), argv, environ) == 0;
}

}  // namespace tvk
