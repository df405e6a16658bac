// Start-up over a program file whose bytes from offset 50000 on are the fuzz
// input: payload scan, language text copy and table, settings record and the
// options derived from it.
#include "fuzz_util.h"
#include "host/startup.h"

namespace {

void Quiet(int, const char*) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static tvk::StartupState state;
  static bool once = [] {
    tvk::SetStartupErrorShow(Quiet);
    return true;
  }();
  (void)once;
  std::string bytes(tvk::fmt::kPayloadScanStart, '\0');
  bytes.append(reinterpret_cast<const char*>(data), size);
  std::string path = tvk_fuzz::WriteInput(
      "program", reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  if (tvk::RunStartup(tvk_fuzz::Internal(path).c_str(), &state) == 0) {
    tvk::FreeMessageTable(&state.messages);
  }
  return 0;
}
