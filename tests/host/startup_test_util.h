// Helpers of the start-up tests: private folders, self-extractor files built
// with the payload writer, language texts with chosen faults.
#ifndef TVK_TESTS_HOST_STARTUP_TEST_UTIL_H
#define TVK_TESTS_HOST_STARTUP_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/startup.h"
#include "writer/payload_writer.h"

namespace tvk_test {

namespace fs = std::filesystem;

// The path form the module uses inside: backslashes on both platforms.
inline std::string Internal(const fs::path& p) {
  std::string s = p.string();
  for (char& c : s) {
    if (c == '/') c = '\\';
  }
  return s;
}

inline void SetEnv(const char* name, const char* value) {
#if defined(_WIN32)
  _putenv_s(name, value ? value : "");
#else
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

inline std::optional<std::string> GetEnv(const char* name) {
  const char* v = std::getenv(name);
  if (!v) return std::nullopt;
  return std::string(v);
}

inline void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

inline std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

inline void PutU32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A raw payload header, so tests can make the ones the writer refuses.
inline std::vector<uint8_t> RawHeader(uint32_t magic, uint32_t version, uint32_t length) {
  std::vector<uint8_t> h = Bytes("TV5SFX");
  PutU32(&h, magic);
  PutU32(&h, version);
  PutU32(&h, length);
  return h;
}

// A language text: "Message k" for every k (34 gets its four strings), with
// chosen messages replaced or (value nullopt) left out. Lines end in CR LF.
inline std::string MakeLanguage(const std::map<int, std::optional<std::string>>& changes = {},
                                const std::string& description = "Test") {
  std::string text = "[description]\r\n0=" + description + "\r\n\r\n[data]\r\n";
  for (int k = 0; k < 74; ++k) {
    std::optional<std::string> value =
        k == 34 ? std::optional<std::string>("%s %s %s %s") : "Message " + std::to_string(k);
    auto it = changes.find(k);
    if (it != changes.end()) value = it->second;
    if (value) text += std::to_string(k) + " = " + *value + "\r\n";
  }
  return text;
}

// A private folder that is removed again, and the temporary folder of the
// process pointed into it while the test runs.
class ScratchDir {
 public:
  ScratchDir() {
    static int counter = 0;
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("tvk-host-") + (info ? info->name() : "x") + "-" +
                       std::to_string(++counter);
    path_ = fs::temp_directory_path() / name;
    fs::remove_all(path_);
    fs::create_directories(path_ / "tmp");
    for (const char* var : {"TMPDIR", "TMP", "TEMP"}) saved_.emplace_back(var, GetEnv(var));
    std::string tmp = (path_ / "tmp").string();
#if defined(_WIN32)
    tmp += "\\";
#endif
    for (const char* var : {"TMPDIR", "TMP", "TEMP"}) SetEnv(var, tmp.c_str());
  }
  ~ScratchDir() {
    for (auto& [var, value] : saved_) SetEnv(var.c_str(), value ? value->c_str() : nullptr);
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  fs::path tmp() const { return path_ / "tmp"; }
  size_t TmpEntries() const {
    size_t n = 0;
    for (auto it = fs::directory_iterator(tmp()); it != fs::directory_iterator(); ++it) ++n;
    return n;
  }

 private:
  fs::path path_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Captures start-up error boxes instead of showing them.
struct ErrorCapture {
  static inline int lastCode = 0;
  static inline std::string lastText;
  static inline int count = 0;
  static void Show(int code, const char* text) {
    lastCode = code;
    lastText = text;
    ++count;
  }
  ErrorCapture() {
    lastCode = 0;
    lastText.clear();
    count = 0;
    tvk::SetStartupErrorShow(&Show);
  }
  ~ErrorCapture() { tvk::SetStartupErrorShow(nullptr); }
};

// A dummy program: `size` bytes of filler holding the payload signature as a
// constant (as the real program's data does), without a valid header.
inline std::vector<uint8_t> DummyProgram(size_t size = 60000) {
  std::vector<uint8_t> p(size);
  for (size_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(i * 7 + 3);
  if (size > 50100) {
    const char sig[] = "TV5SFX";
    std::copy(sig, sig + 6, p.begin() + 50040);
  }
  return p;
}

// A minimal archive: just a main head shape, which is all the payload
// writer looks at.
inline std::vector<uint8_t> DummyArchive(size_t size = 64) {
  std::vector<uint8_t> a(size, 0);
  a[2] = 0x52;
  a[5] = 25;
  std::string sig = "-tvk-";
  std::copy(sig.begin(), sig.end(), a.begin() + 7);
  return a;
}

inline std::vector<uint8_t> BuildSfx(const std::string& language,
                                     const tvk::payload::Settings& settings,
                                     const std::vector<uint8_t>& program = DummyProgram()) {
  std::vector<uint8_t> payload, sfx;
  std::string error;
  EXPECT_TRUE(tvk::payload::BuildPayload(language, settings, &payload, &error)) << error;
  EXPECT_TRUE(tvk::payload::BuildSelfExtractor(program, payload, DummyArchive(), &sfx, &error))
      << error;
  return sfx;
}

// The start-up state is large; tests keep theirs on the heap and give the
// message table back.
struct State {
  std::unique_ptr<tvk::StartupState> s = std::make_unique<tvk::StartupState>();
  ~State() { tvk::FreeMessageTable(&s->messages); }
  tvk::StartupState* operator->() { return s.get(); }
  tvk::StartupState* get() { return s.get(); }
};

inline int RunOn(const fs::path& program, State* state) {
  tvk::FreeMessageTable(&state->s->messages);  // start-up zeroes the record
  return tvk::RunStartup(Internal(program).c_str(), state->get());
}

}  // namespace tvk_test

#endif
