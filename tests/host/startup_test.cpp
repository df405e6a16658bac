// Start-up on built self-extractor files: finding the payload, loading the
// message table through the temporary file, the start-up errors.
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "startup_test_util.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

using namespace tvk_test;
using tvk::payload::Settings;

namespace {

class StartupTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  ErrorCapture errors;
  State state;

  fs::path Write(const std::vector<uint8_t>& bytes, const char* name = "setup.exe") {
    fs::path p = dir.path() / name;
    WriteBytes(p, bytes);
    return p;
  }
};

// Program bytes, then a header as given, then the text and a settings record.
std::vector<uint8_t> WithHeader(std::vector<uint8_t> program, const std::vector<uint8_t>& header,
                                const std::string& text) {
  program.insert(program.end(), header.begin(), header.end());
  program.insert(program.end(), text.begin(), text.end());
  std::vector<uint8_t> settings;
  std::string error;
  EXPECT_TRUE(tvk::payload::EncodeSettings(Settings{}, &settings, &error));
  program.insert(program.end(), settings.begin(), settings.end());
  return program;
}

TEST_F(StartupTest, FindsPayloadBehindDecoysAndInvalidHeaders) {
  std::string lang = MakeLanguage({{5, "Real"}});
  std::string other = MakeLanguage({{5, "Decoy"}});
  std::vector<uint8_t> program = DummyProgram(50500);  // holds the bare signature at 50040
  // Headers the scan must pass over: version 4, length 0, length 65536,
  // wrong magic; each followed by a loadable text that must not be used.
  for (auto header : {RawHeader(110798, 4, static_cast<uint32_t>(other.size())),
                      RawHeader(110798, 5, 0), RawHeader(110798, 5, 65536),
                      RawHeader(110797, 5, static_cast<uint32_t>(other.size()))}) {
    program.insert(program.end(), header.begin(), header.end());
    program.insert(program.end(), other.begin(), other.end());
  }
  std::vector<uint8_t> file =
      WithHeader(program, RawHeader(110798, 6, static_cast<uint32_t>(lang.size())), lang);
  ASSERT_EQ(RunOn(Write(file), &state), 0) << errors.lastText;
  EXPECT_STREQ(tvk::MessageText(state->messages, 5), "Real");
  EXPECT_EQ(errors.count, 0);
}

TEST_F(StartupTest, ScanWindowBounds) {
  // A header needs 19 bytes before the end of what was read.
  std::vector<uint8_t> buffer(40, 0);
  std::vector<uint8_t> header = RawHeader(110798, 5, 1);
  std::copy(header.begin(), header.end(), buffer.begin() + 21);
  tvk::PayloadHeader h;
  EXPECT_EQ(tvk::FindPayloadHeader(buffer.data(), 40, &h), 21);
  EXPECT_EQ(h.languageLength, 1u);
  EXPECT_EQ(tvk::FindPayloadHeader(buffer.data(), 39, &h), -1);

  // Whole files: 50018 bytes cannot hold a payload, 50019 can (its one-byte
  // text then fails to load).
  std::vector<uint8_t> file = DummyProgram(50000);
  file.insert(file.end(), header.begin(), header.end());
  EXPECT_EQ(RunOn(Write(file), &state), tvk::kStartupNoPayload);
  file.push_back('x');
  EXPECT_EQ(RunOn(Write(file), &state), tvk::kStartupNoLanguage);
}

TEST_F(StartupTest, PayloadMustStartWithinOneMegabyteOfTheScanStart) {
  std::string lang = MakeLanguage();
  std::vector<uint8_t> header = RawHeader(110798, 5, static_cast<uint32_t>(lang.size()));
  // Last accepted start: 1 MiB - 19 bytes behind offset 50000.
  std::vector<uint8_t> file = WithHeader(DummyProgram(50000 + 1048576 - 19), header, lang);
  EXPECT_EQ(RunOn(Write(file), &state), 0) << errors.lastText;
  file = WithHeader(DummyProgram(50000 + 1048576 - 18), header, lang);
  EXPECT_EQ(RunOn(Write(file), &state), tvk::kStartupNoPayload);
}

TEST_F(StartupTest, EarlyCheckUpToSixteenMegabytes) {
  std::vector<uint8_t> sfx = BuildSfx(MakeLanguage(), Settings{});
  fs::path p = Write(sfx);
  fs::resize_file(p, 16777216);  // sparse where the system allows
  ASSERT_EQ(RunOn(p, &state), 0);
  EXPECT_EQ(state->programSize, 16777216u);
  EXPECT_EQ(state->earlyCheck, 1);
  fs::resize_file(p, 16777217);
  ASSERT_EQ(RunOn(p, &state), 0);
  EXPECT_EQ(state->earlyCheck, 0);
}

TEST_F(StartupTest, LargestLanguageTextIsCopiedWhole) {
  // Pad with comment lines so that the text is exactly 65535 bytes and its
  // last line, message 73, ends at the text's very end.
  std::string body = MakeLanguage({{73, std::nullopt}});
  std::string last = "73 = the last message";
  std::string filler = ";";
  size_t need = 65535 - body.size() - last.size() - 2;
  filler += std::string(need - 1, 'f');
  std::string lang = body + filler + "\r\n" + last;
  ASSERT_EQ(lang.size(), 65535u);
  ASSERT_EQ(RunOn(Write(BuildSfx(lang, Settings{})), &state), 0) << errors.lastText;
  EXPECT_STREQ(tvk::MessageText(state->messages, 73), "the last message");

  // 65536 bytes is no valid header at all.
  std::string big = lang + "x";
  std::vector<uint8_t> file =
      WithHeader(DummyProgram(), RawHeader(110798, 5, static_cast<uint32_t>(big.size())), big);
  EXPECT_EQ(RunOn(Write(file), &state), tvk::kStartupNoPayload);
}

TEST_F(StartupTest, LanguageTextsThatFailToLoad) {
  struct Case {
    const char* what;
    std::string text;
  } cases[] = {
      {"key 73 missing", MakeLanguage({{73, std::nullopt}})},
      {"key 73 empty", MakeLanguage({{73, ""}})},
      {"key 0 missing", MakeLanguage({{0, std::nullopt}})},
      {"34 with three %s", MakeLanguage({{34, "%s %s %s"}})},
      {"34 with five %s", MakeLanguage({{34, "%s %s %s %s %s"}})},
      {"description empty", MakeLanguage({}, "")},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> file = WithHeader(
        DummyProgram(), RawHeader(110798, 5, static_cast<uint32_t>(c.text.size())), c.text);
    errors.count = 0;
    EXPECT_EQ(RunOn(Write(file), &state), tvk::kStartupNoLanguage) << c.what;
    EXPECT_EQ(errors.count, 1) << c.what;
    EXPECT_EQ(errors.lastCode, tvk::kStartupNoLanguage);
    EXPECT_NE(errors.lastText.find("Could not locate meta data for language settings."),
              std::string::npos);
    // The copy of the text does not stay behind.
    EXPECT_EQ(dir.TmpEntries(), 0u) << c.what;
  }
}

TEST_F(StartupTest, MessagesLoadedByNumberWithEscapes) {
  // Lines in reverse order, keys above 73, four %s beside other conversions.
  std::string text = "[Description]\r\n  0  =  x  \r\n[DATA]\r\n99 = ignored\r\n74 = ignored\r\n";
  for (int k = 73; k >= 0; --k) {
    std::string value = "M" + std::to_string(k);
    if (k == 34) value = "%s am %s um %s von %s (%u)";
    if (k == 1) value = "A\\nB";
    if (k == 2) value = "A\\tB";
    if (k == 3) value = "\\\\x";
    text += std::to_string(k) + "=" + value + "\r\n";
  }
  std::vector<uint8_t> file =
      WithHeader(DummyProgram(), RawHeader(110798, 5, static_cast<uint32_t>(text.size())), text);
  ASSERT_EQ(RunOn(Write(file), &state), 0) << errors.lastText;
  EXPECT_STREQ(tvk::MessageText(state->messages, 0), "M0");
  EXPECT_STREQ(tvk::MessageText(state->messages, 73), "M73");
  EXPECT_STREQ(tvk::MessageText(state->messages, 1), "A\r\nB");
  EXPECT_STREQ(tvk::MessageText(state->messages, 2), "A\tB");
  EXPECT_STREQ(tvk::MessageText(state->messages, 3), "\\\\x");
  EXPECT_STREQ(tvk::MessageText(state->messages, 74), "");
  EXPECT_EQ(dir.TmpEntries(), 0u);
}

TEST_F(StartupTest, BuiltInLanguagesLoad) {
  std::string de, en, error;
  ASSERT_TRUE(tvk::payload::LoadLanguageText("de", &de, &error)) << error;
  ASSERT_TRUE(tvk::payload::LoadLanguageText("en", &en, &error)) << error;
  ASSERT_EQ(RunOn(Write(BuildSfx(de, Settings{})), &state), 0) << errors.lastText;
  EXPECT_STREQ(tvk::MessageText(state->messages, 6), "&Entpacken");
#if defined(_WIN32)
  EXPECT_STREQ(tvk::MessageText(state->messages, 7), "I&nfo \xFC" "ber");
#else
  EXPECT_STREQ(tvk::MessageText(state->messages, 7), "I&nfo \xC3\xBC" "ber");
#endif
#if defined(_WIN32)
  EXPECT_STREQ(tvk::MessageText(state->messages, 20), "%3!d! Bytes\r\nge\xE4ndert am %1, %2");
#else
  EXPECT_STREQ(tvk::MessageText(state->messages, 20), "%3!d! Bytes\r\nge\xC3\xA4ndert am %1, %2");
#endif
  EXPECT_STREQ(tvk::MessageText(state->messages, 52), "Tarvik Self Extractor - %s");
  tvk::FreeMessageTable(&state->messages);
  ASSERT_EQ(RunOn(Write(BuildSfx(en, Settings{})), &state), 0) << errors.lastText;
  EXPECT_STREQ(tvk::MessageText(state->messages, 6), "&Extract");
  EXPECT_EQ(tvk::CountPercentS(tvk::MessageText(state->messages, 34)), 4u);
}

TEST_F(StartupTest, UnreadableOrTruncatedProgramEndsWithAnError) {
  EXPECT_EQ(RunOn(dir.path() / "missing.exe", &state), tvk::kStartupNoPayload);
  EXPECT_EQ(errors.lastCode, tvk::kStartupNoPayload);
  EXPECT_NE(errors.lastText.find("Kann Metadaten nicht finden.\n\nCould not locate meta data."),
            std::string::npos);

  // The header promises more text than the file holds.
  std::string lang = MakeLanguage();
  std::vector<uint8_t> file = DummyProgram();
  std::vector<uint8_t> header = RawHeader(110798, 5, static_cast<uint32_t>(lang.size()));
  file.insert(file.end(), header.begin(), header.end());
  file.insert(file.end(), lang.begin(), lang.begin() + 100);
  EXPECT_EQ(RunOn(Write(file), &state), tvk::kStartupNoPayload);
  EXPECT_EQ(dir.TmpEntries(), 0u);
}

TEST_F(StartupTest, SettingsRunningPastTheEndReadAsZero) {
  // The record stops inside the info title: the rest stays zero.
  std::string lang = MakeLanguage();
  std::vector<uint8_t> file = DummyProgram();
  std::vector<uint8_t> header = RawHeader(110798, 5, static_cast<uint32_t>(lang.size()));
  file.insert(file.end(), header.begin(), header.end());
  file.insert(file.end(), lang.begin(), lang.end());
  PutU32(&file, 0);   // mode
  PutU32(&file, 2);   // reserved
  PutU32(&file, 7);   // reserved
  PutU32(&file, 20);  // info title length, only 5 bytes follow
  for (char c : std::string("Hallo")) file.push_back(static_cast<uint8_t>(c));
  ASSERT_EQ(RunOn(Write(file), &state), 0);
  EXPECT_EQ(state->settings.reserved3, 7u);
  EXPECT_STREQ(state->settings.infoTitle, "Hallo");
  EXPECT_STREQ(state->settings.infoText, "");
  EXPECT_EQ(state->settings.quiet, 0u);
  EXPECT_EQ(state->infoTextPending, 0);
}

TEST_F(StartupTest, StartupErrorTexts) {
  EXPECT_STREQ(tvk::StartupErrorText(5),
               "Der Zugriff auf den Temp-Ordner wurde verweigert.\n\nCould not access temp directory.");
  EXPECT_STREQ(tvk::StartupErrorText(7), "Zuwenig Speicher.\n\nInsufficient memory.");
  EXPECT_EQ(tvk::StartupErrorText(0), nullptr);
  EXPECT_EQ(tvk::StartupErrorText(28001), nullptr);
}

#if !defined(_WIN32)
// Without a front end's way of showing, the text reaches standard output
// whole, with its heading.
TEST_F(StartupTest, DefaultShowWritesToStandardOutput) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  fflush(stdout);
  const int saved = dup(1);
  ASSERT_GE(saved, 0);
  dup2(fds[1], 1);
  tvk::SetStartupErrorShow(nullptr);
  tvk::ShowStartupError(7);
  dup2(saved, 1);
  close(saved);
  close(fds[1]);
  std::string shown;
  char chunk[128];
  for (ssize_t n; (n = read(fds[0], chunk, sizeof chunk)) > 0;) shown.append(chunk, size_t(n));
  close(fds[0]);
  EXPECT_EQ(shown, "Error\n\nZuwenig Speicher.\n\nInsufficient memory.\n");
}
#endif

TEST_F(StartupTest, UnusableTempFolderGivesErrorFive) {
  std::vector<uint8_t> sfx = BuildSfx(MakeLanguage(), Settings{});
  fs::path p = Write(sfx);
  // The temporary folder is a file: nothing can be created in it.
  fs::path blocker = dir.path() / "blocker";
  WriteBytes(blocker, {1});
  std::string tmp = blocker.string();
#if defined(_WIN32)
  tmp += "\\";
#endif
  for (const char* var : {"TMPDIR", "TMP", "TEMP"}) SetEnv(var, tmp.c_str());
  EXPECT_EQ(RunOn(p, &state), tvk::kStartupTempFolder);
  EXPECT_EQ(errors.lastCode, tvk::kStartupTempFolder);
}

// Anybody who can write to a shared temporary folder can take every short
// name: start-up must neither spin for ever looking for a free one nor give
// up while longer names are free.
// Not in the Windows test build: making 32768 files there takes minutes
// under Wine, and the name scan and the fallback under test are shared code.
#if !defined(_WIN32)
TEST_F(StartupTest, EveryShortTempNameTakenStillStartsUp) {
  std::vector<uint8_t> sfx = BuildSfx(MakeLanguage({{5, "Real"}}), Settings{});
  fs::path p = Write(sfx);
  // Links to one file are quicker to make than 32768 files.
  const fs::path first = dir.tmp() / "0.~cx";
  std::ofstream(first).put('x');
  for (int i = 1; i <= 0x7FFF; ++i) {
    const fs::path name = dir.tmp() / (std::to_string(i) + ".~cx");
    std::error_code ec;
    fs::create_hard_link(first, name, ec);
    if (ec) std::ofstream(name).put('x');
  }
  // On a thread of its own, so that a hang fails the test instead of
  // stopping it; everything it touches is its own.
  auto run = [](std::string folder, std::string program) {
    auto result = std::make_shared<std::promise<std::pair<int, int>>>();
    std::future<std::pair<int, int>> done = result->get_future();
    std::thread([result, folder, program] {
      char name[1024];
      int unique = tvk::UniqueTempName(folder.c_str(), ".~cx", name, sizeof name);
      auto state = std::make_shared<tvk::StartupState>();
      int code = tvk::RunStartup(program.c_str(), state.get());
      if (code == 0) tvk::FreeMessageTable(&state->messages);
      result->set_value({unique, code});
    }).detach();
    return done;
  };
  auto done = run(Internal(dir.tmp()) + "\\", Internal(p));
  ASSERT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready)
      << "start-up still looks for a free temporary name";
  auto [unique, code] = done.get();
  EXPECT_EQ(unique, 0);  // no short name is free
  EXPECT_EQ(code, 0) << errors.lastText;
  EXPECT_EQ(dir.TmpEntries(), 0x8000u);  // the longer name was deleted again
}
#endif

#if !defined(_WIN32)
TEST_F(StartupTest, PlantedLinkInTempFolderIsNotFollowed) {
  std::vector<uint8_t> sfx = BuildSfx(MakeLanguage({{5, "Real"}}), Settings{});
  fs::path p = Write(sfx);
  // A dangling link under the name start-up is about to pick (names change
  // with the clock's second only): following it would create a file of the
  // planter's choosing.
  fs::path target = dir.path() / "created-through-link";
  std::string folder = Internal(dir.tmp()) + "\\";
  char name[1024];
  ASSERT_EQ(tvk::UniqueTempName(folder.c_str(), ".~cx", name, sizeof name), 1);
  std::string link = name;
  for (char& c : link) {
    if (c == '\\') c = '/';
  }
  fs::create_symlink(target, link);
  ASSERT_EQ(RunOn(p, &state), 0) << errors.lastText;
  EXPECT_STREQ(tvk::MessageText(state->messages, 5), "Real");
  EXPECT_FALSE(fs::exists(target));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(dir.TmpEntries(), 1u);  // the link alone
}
#endif

}  // namespace
