// Self-extractor files whose payload attacks start-up: language texts that
// lie about their length, break the message table or carry format
// directives, and settings records with lengths at their limits. Start-up
// ends with its own code, leaves no copy of the text behind and keeps every
// string inside its buffer.
#include <gtest/gtest.h>

// The temporary folder is steered through TMPDIR, the POSIX way.
#if !defined(_WIN32)

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/format.h"
#include "host/startup.h"

namespace tvk {
namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

void PutU32(Bytes* b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::string Internal(const fs::path& p) {
  std::string s = p.string();
  for (char& c : s) if (c == '/') c = '\\';
  return s;
}

void QuietShow(int, const char*) {}

class HostilePayload : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / (std::string("tvk_hostile_payload_") + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "tmp");
    const char* old = std::getenv("TMPDIR");
    if (old) oldTmp_ = old;
    hadTmp_ = old != nullptr;
    setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
    SetStartupErrorShow(QuietShow);
  }
  void TearDown() override {
    SetStartupErrorShow(nullptr);
    if (hadTmp_) {
      setenv("TMPDIR", oldTmp_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    fs::remove_all(dir_);
  }

  // Program (zeros up to the scan start), header with the given length
  // field, text and settings bytes.
  int Run(const std::string& text, const Bytes& settings, uint32_t lengthField) {
    Bytes file(fmt::kPayloadScanStart, 0);
    for (char c : std::string("TV5SFX")) file.push_back(static_cast<uint8_t>(c));
    PutU32(&file, 110798);
    PutU32(&file, 5);
    PutU32(&file, lengthField);
    file.insert(file.end(), text.begin(), text.end());
    file.insert(file.end(), settings.begin(), settings.end());
    fs::path program = dir_ / "setup.bin";
    std::ofstream(program, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    int rc = RunStartup(Internal(program).c_str(), &state_);
    // Whatever happened, the copy of the text is gone.
    EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));
    return rc;
  }
  int Run(const std::string& text, const Bytes& settings = {}) {
    return Run(text, settings, static_cast<uint32_t>(text.size()));
  }

  // A complete table whose messages are given by make(k).
  template <typename F>
  static std::string Table(F make) {
    std::string t = "[description]\r\n0=Hostile\r\n[data]\r\n";
    for (uint32_t k = 0; k < fmt::kMessageCount; ++k) t += std::to_string(k) + "=" + make(k) + "\r\n";
    return t;
  }

  fs::path dir_;
  std::string oldTmp_;
  bool hadTmp_ = false;
  StartupState state_{};
};

TEST_F(HostilePayload, LanguageTextsThatLieOrBreakTheTable) {
  const std::string good = Table([](uint32_t k) { return k == 34 ? std::string("%s %s %s %s") : "m"; });
  ASSERT_EQ(Run(good), 0);
  FreeMessageTable(&state_.messages);

  // The length runs past the end of the file.
  EXPECT_EQ(Run(good, {}, static_cast<uint32_t>(good.size() + 5000)), kStartupNoPayload);
  // Lengths the header may not carry.
  EXPECT_EQ(Run(good, {}, 0), kStartupNoPayload);
  EXPECT_EQ(Run(good, {}, 65536), kStartupNoPayload);
  // A message missing, message 34 with the wrong number of "%s", binary
  // noise, a text cut inside its sections.
  EXPECT_EQ(Run(Table([](uint32_t k) { return k == 70 ? std::string() : std::string("%s %s %s %s"); })),
            kStartupNoLanguage);
  EXPECT_EQ(Run(Table([](uint32_t k) { return k == 34 ? std::string("%s %s %s %s %s") : "m"; })),
            kStartupNoLanguage);
  std::string noise;
  for (int i = 0; i < 5000; ++i) noise.push_back(static_cast<char>((i * 131) % 256));
  EXPECT_EQ(Run(noise), kStartupNoLanguage);
  EXPECT_EQ(Run(good.substr(0, good.size() / 2)), kStartupNoLanguage);
}

TEST_F(HostilePayload, FormatDirectivesAndLongLinesStayText) {
  // The largest text the header allows, made of format directives and long
  // lines; the messages load as written.
  const std::string hostile = "%n%n%p%x%99999999d%";
  std::string text = Table([&](uint32_t k) {
    if (k == 34) return std::string("%s %s %s %s");
    std::string m;
    while (m.size() < 800) m += hostile;
    return m;
  });
  ASSERT_LE(text.size(), 65535u);
  ASSERT_EQ(Run(text), 0);
  std::string expected;
  while (expected.size() < 800) expected += hostile;
  EXPECT_EQ(MessageText(state_.messages, 5), expected);
  EXPECT_STREQ(MessageText(state_.messages, 99), "");
  FreeMessageTable(&state_.messages);
}

TEST_F(HostilePayload, SettingsLengthsAtTheirLimits) {
  const std::string good = Table([](uint32_t k) { return k == 34 ? std::string("%s %s %s %s") : "m"; });
  // Every length field at its maximum, and the file ends inside the record.
  for (size_t cut : {size_t{0}, size_t{13}, size_t{300}, size_t{5000}, size_t{20000}}) {
    SCOPED_TRACE(cut);
    Bytes s;
    PutU32(&s, 0);
    PutU32(&s, 0);
    PutU32(&s, 0);
    for (int i = 0; i < 20; ++i) {
      PutU32(&s, 0xFFFFFFFFu);
      for (int j = 0; j < 700; ++j) s.push_back(static_cast<uint8_t>(0x80 + (i + j) % 128));
    }
    s.resize(std::min(s.size(), cut));
    ASSERT_EQ(Run(good, s), 0);
    const PayloadSettings& p = state_.settings;
    for (const char* field : {p.infoTitle, p.aboutPrefix, p.targetFolder, p.runAfter, p.command,
                              p.secondCommand, p.reserved12, p.reserved15}) {
      EXPECT_LT(strnlen(field, kSettingsStringSize), kSettingsStringSize);
    }
    EXPECT_LT(strnlen(p.infoText, kInfoTextSize), kInfoTextSize);
    FreeMessageTable(&state_.messages);
  }
}

}  // namespace
}  // namespace tvk

#endif
