// The payload writer: layout, caps, the archive's start limit, volume names.
#include <cstring>

#include "archive/format.h"
#include "startup_test_util.h"

using namespace tvk_test;
using tvk::payload::Settings;

namespace {

uint32_t U32At(const std::vector<uint8_t>& v, size_t at) {
  return v[at] | v[at + 1] << 8 | v[at + 2] << 16 | static_cast<uint32_t>(v[at + 3]) << 24;
}

TEST(PayloadWriter, LayoutOfASelfExtractor) {
  std::string lang = MakeLanguage();
  Settings s;
  s.infoTitle = "T";
  s.runAfter = "run.exe|/q";
  s.quiet = 1;
  std::vector<uint8_t> payload, sfx;
  std::string error;
  ASSERT_TRUE(tvk::payload::BuildPayload(lang, s, &payload, &error)) << error;
  ASSERT_EQ(std::memcmp(payload.data(), "TV5SFX", 6), 0);
  EXPECT_EQ(U32At(payload, 6), 110798u);
  EXPECT_EQ(U32At(payload, 10), 5u);
  EXPECT_EQ(U32At(payload, 14), lang.size());
  EXPECT_EQ(std::string(payload.begin() + 18, payload.begin() + 18 + lang.size()), lang);
  // 17 fields: 8 integers and 9 strings with their bytes.
  size_t settingsSize = 8 * 4 + 9 * 4 + 1 + 10;
  EXPECT_EQ(payload.size(), 18 + lang.size() + settingsSize);
  size_t at = 18 + lang.size();
  EXPECT_EQ(U32At(payload, at + 12), 1u);  // title length
  EXPECT_EQ(payload[at + 16], 'T');

  // A short program is padded to 50,000 bytes; the archive follows the
  // payload directly.
  std::vector<uint8_t> program(1000, 0xAB);
  std::vector<uint8_t> archive = DummyArchive(100);
  ASSERT_TRUE(tvk::payload::BuildSelfExtractor(program, payload, archive, &sfx, &error)) << error;
  ASSERT_EQ(sfx.size(), 50000 + payload.size() + archive.size());
  EXPECT_EQ(sfx[999], 0xAB);
  EXPECT_EQ(sfx[1000], 0);
  EXPECT_EQ(sfx[49999], 0);
  EXPECT_EQ(std::memcmp(sfx.data() + 50000, "TV5SFX", 6), 0);
  EXPECT_EQ(std::memcmp(sfx.data() + 50000 + payload.size(), archive.data(), archive.size()), 0);

  // A longer program is kept as it is.
  ASSERT_TRUE(tvk::payload::BuildSelfExtractor(DummyProgram(70000), payload, archive, &sfx, &error));
  EXPECT_EQ(std::memcmp(sfx.data() + 70000, "TV5SFX", 6), 0);
}

TEST(PayloadWriter, CapsAndLanguageChecks) {
  std::string lang = MakeLanguage();
  std::vector<uint8_t> out;
  std::string error;
  Settings s;
  s.infoText = std::string(4095, 'x');
  s.infoTitle = std::string(255, 't');
  s.command = std::string(255, 'c');
  EXPECT_TRUE(tvk::payload::BuildPayload(lang, s, &out, &error)) << error;
  s.infoText += "x";
  EXPECT_FALSE(tvk::payload::BuildPayload(lang, s, &out, &error));
  EXPECT_NE(error.find("info text"), std::string::npos) << error;
  s.infoText.pop_back();
  s.targetFolder = std::string(256, 'f');
  EXPECT_FALSE(tvk::payload::BuildPayload(lang, s, &out, &error));
  EXPECT_NE(error.find("target folder"), std::string::npos) << error;

  EXPECT_FALSE(tvk::payload::CheckLanguageText("", &error));
  EXPECT_FALSE(tvk::payload::CheckLanguageText(MakeLanguage({{73, std::nullopt}}), &error));
  EXPECT_NE(error.find("73"), std::string::npos) << error;
  EXPECT_FALSE(tvk::payload::CheckLanguageText(MakeLanguage({{34, "%s %s %s"}}), &error));
  EXPECT_FALSE(tvk::payload::CheckLanguageText(MakeLanguage({}, ""), &error));
  EXPECT_FALSE(tvk::payload::CheckLanguageText(lang + std::string(65536 - lang.size(), ';'), &error));
  EXPECT_TRUE(tvk::payload::CheckLanguageText(lang + std::string(65535 - lang.size(), ';'), &error))
      << error;

  std::string text;
  EXPECT_FALSE(tvk::payload::LoadLanguageText("/no/such/file.ini", &text, &error));
  EXPECT_TRUE(tvk::payload::LoadLanguageText(std::string(TVK_SOURCE_DIR) + "/lang/en.ini", &text,
                                             &error))
      << error;
  std::string builtIn;
  ASSERT_TRUE(tvk::payload::LoadLanguageText("en", &builtIn, &error));
  EXPECT_EQ(text, builtIn);
}

TEST(PayloadWriter, BuiltInLanguageTextsHaveTheirForm) {
  for (const char* name : {"de", "en"}) {
    std::string text, error;
    ASSERT_TRUE(tvk::payload::LoadLanguageText(name, &text, &error)) << error;
    // CR LF everywhere, no bare LF.
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n') {
        EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << name << " at " << i;
      }
    }
    char value[2048];
    for (int k = 0; k < 74; ++k) {
      ASSERT_GT(tvk::ProfileLookup(text.data(), text.size(), "data", std::to_string(k).c_str(),
                                   value, sizeof value),
                0u)
          << name << " " << k;
    }
    tvk::ProfileLookup(text.data(), text.size(), "data", "47", value, sizeof value);
    EXPECT_NE(std::strstr(value, "https://tarvik.example"), nullptr) << name;
    EXPECT_NE(std::strstr(value, "info@tarvik.example"), nullptr) << name;
  }
  // German texts are Windows-1252: "über" with the single byte 0xFC.
  std::string de, error;
  ASSERT_TRUE(tvk::payload::LoadLanguageText("de", &de, &error));
  EXPECT_NE(de.find("7 = I&nfo \xFC" "ber\r\n"), std::string::npos);
  EXPECT_NE(de.find("[description]\r\n0=Deutsch\r\n"), std::string::npos);
}

TEST(PayloadWriter, ArchiveMustStartInTheFirst256KiB) {
  std::string lang = MakeLanguage();
  std::vector<uint8_t> payload, sfx;
  std::string error;
  ASSERT_TRUE(tvk::payload::BuildPayload(lang, Settings{}, &payload, &error));
  std::vector<uint8_t> archive = DummyArchive();
  // The main head (25 bytes) must end by byte 262,144.
  size_t fits = 262144 - 25 - payload.size();
  EXPECT_TRUE(tvk::payload::BuildSelfExtractor(DummyProgram(fits), payload, archive, &sfx, &error))
      << error;
  EXPECT_FALSE(
      tvk::payload::BuildSelfExtractor(DummyProgram(fits + 1), payload, archive, &sfx, &error));
  EXPECT_NE(error.find("262144"), std::string::npos) << error;

  std::vector<uint8_t> notArchive(64, 0);
  EXPECT_FALSE(tvk::payload::BuildSelfExtractor(DummyProgram(), payload, notArchive, &sfx, &error));
  // A program that is already a self-extractor would hide the new payload.
  std::vector<uint8_t> old = BuildSfx(lang, Settings{});
  EXPECT_FALSE(tvk::payload::BuildSelfExtractor(old, payload, archive, &sfx, &error));
  EXPECT_NE(error.find("already"), std::string::npos) << error;
}

TEST(PayloadWriter, VolumeSet) {
  std::string lang = MakeLanguage();
  std::vector<uint8_t> payload;
  std::string error;
  ASSERT_TRUE(tvk::payload::BuildPayload(lang, Settings{}, &payload, &error));
  std::vector<std::vector<uint8_t>> volumes = {DummyArchive(40), {1, 2, 3}, {4, 5}};
  std::vector<tvk::payload::OutputFile> files;
  ASSERT_TRUE(tvk::payload::BuildSelfExtractorVolumes(DummyProgram(), payload, volumes, "out/setup.exe",
                                                      &files, &error))
      << error;
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].path, "out/setup.exe");
  EXPECT_EQ(files[0].bytes.size(), 60000 + payload.size() + 40);
  EXPECT_EQ(files[1].path, "out/setup.001");
  EXPECT_EQ(files[1].bytes, volumes[1]);
  EXPECT_EQ(files[2].path, "out/setup.002");
  EXPECT_FALSE(tvk::payload::BuildSelfExtractorVolumes(DummyProgram(), payload, {}, "x", &files, &error));
}

}  // namespace
