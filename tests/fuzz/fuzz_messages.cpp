// The language text of a payload as the message table loader reads it: the
// profile reader, escapes, the %s count of message 34.
#include "fuzz_util.h"
#include "host/startup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = tvk_fuzz::WriteInput("text.ini", data, size);
  tvk::MessageTable table{};
  tvk::LoadMessageTable(tvk_fuzz::Internal(path).c_str(), &table);
  for (uint32_t k = 0; k < tvk::fmt::kMessageCount; ++k) {
    const char* text = tvk::MessageText(table, k);
    if (!text) abort();
    (void)tvk::CountPercentS(text);
  }
  tvk::FreeMessageTable(&table);
  return 0;
}
