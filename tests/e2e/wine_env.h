// What the tests of the Windows programs share: shell commands whose
// output and exit code they read, and the Wine environment they run in.
#ifndef TVK_TESTS_E2E_WINE_ENV_H
#define TVK_TESTS_E2E_WINE_ENV_H

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tvk::e2e {

// A shell command's standard output and error, and its exit code.
inline std::string Capture(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = pclose(p);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

// The prefix of the test scripts unless one is named, without Wine's
// messages and without the Mono and Gecko installers.
inline void UseTestWineEnvironment() {
  if (!std::getenv("WINEPREFIX")) {
    const char* home = std::getenv("HOME");
    setenv("WINEPREFIX", (std::string(home ? home : "/tmp") + "/.cache/tarvik-wine").c_str(), 1);
  }
  setenv("WINEDEBUG", "-all", 1);
  setenv("WINEDLLOVERRIDES", "mscoree=;mshtml=", 1);
}

}  // namespace tvk::e2e

#endif
