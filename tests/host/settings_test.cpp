// The settings record, the derived options and the folder macros.
#include <cstring>

#include "host/path_macros.h"
#include "startup_test_util.h"

#if defined(_WIN32)
#include <windows.h>
#endif

using namespace tvk_test;
using tvk::payload::Settings;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  ErrorCapture errors;
  State state;

  int Run(const Settings& settings) {
    fs::path p = dir.path() / "setup.exe";
    WriteBytes(p, BuildSfx(MakeLanguage(), settings));
    return RunOn(p, &state);
  }

  // Derivation alone, for a program path that need not exist.
  void Derive(const char* programPath, void (*fill)(tvk::PayloadSettings*)) {
    tvk::FreeMessageTable(&state->messages);
    std::memset(state.get(), 0, sizeof(tvk::StartupState));
    tvk::StrCopy(state->programPath, sizeof state->programPath, programPath);
    fill(&state->settings);
    tvk::DeriveOptions(state.get());
  }
};

std::string Folder(int id) {
  char buffer[1024];
  EXPECT_EQ(tvk::FolderById(id, buffer, sizeof buffer), 1) << id;
  return buffer;
}

std::string WithBackslash(std::string s) {
  if (s.empty() || s.back() != '\\') s += '\\';
  return s;
}

TEST_F(SettingsTest, RecordIsReadFieldByField) {
  Settings s;
  s.mode = 0;
  s.reserved2 = 2;
  s.reserved3 = 7352;
  s.infoTitle = "Hinweis zur Installation";
  s.infoText = "Bitte lesen.";
  s.infoBoxStyle = 1;
  s.aboutPrefix = "Beispiel";
  s.targetFolder = "C:\\Ziel";
  s.runAfter = "setup.exe";
  s.reserved12 = "r12";
  s.command = "cmd";
  s.secondCommand = "cmd2";
  s.reserved15 = "r15";
  s.reserved16 = 16;
  s.reserved17 = 17;
  ASSERT_EQ(Run(s), 0) << errors.lastText;
  const tvk::PayloadSettings& r = state->settings;
  EXPECT_EQ(r.reserved2, 2u);
  EXPECT_EQ(r.reserved3, 7352u);
  EXPECT_STREQ(r.infoTitle, "Hinweis zur Installation");
  EXPECT_STREQ(r.infoText, "Bitte lesen.");
  EXPECT_EQ(r.infoBoxStyle, 1u);
  EXPECT_STREQ(r.aboutPrefix, "Beispiel");
  EXPECT_STREQ(r.runAfter, "setup.exe");
  EXPECT_STREQ(r.reserved12, "r12");
  EXPECT_STREQ(r.command, "cmd");
  EXPECT_STREQ(r.secondCommand, "cmd2");
  EXPECT_STREQ(r.reserved15, "r15");
  EXPECT_EQ(r.reserved16, 16u);
  EXPECT_EQ(r.reserved17, 17u);
  EXPECT_EQ(state->infoTextPending, 1);
  EXPECT_EQ(state->overwriteAll, 0);
  EXPECT_EQ(state->macroFailed, 0);
}

TEST_F(SettingsTest, OverlongStringReadsOnlyTheCap) {
  // An info text length of 4096: 4095 bytes are taken, and the 4096th byte
  // starts the next field (the box style), which is not skipped.
  std::vector<uint8_t> record;
  PutU32(&record, 0);
  PutU32(&record, 0);
  PutU32(&record, 0);
  PutU32(&record, 0);  // title
  PutU32(&record, 4096);
  for (int i = 0; i < 4095; ++i) record.push_back('a');
  record.push_back(0x03);  // the 4096th byte of the text
  PutU32(&record, 0);      // what the writer meant as style, now read partly
  std::string lang = MakeLanguage();
  std::vector<uint8_t> file = DummyProgram();
  std::vector<uint8_t> header = RawHeader(110798, 5, static_cast<uint32_t>(lang.size()));
  file.insert(file.end(), header.begin(), header.end());
  file.insert(file.end(), lang.begin(), lang.end());
  file.insert(file.end(), record.begin(), record.end());
  fs::path p = dir.path() / "setup.exe";
  WriteBytes(p, file);
  ASSERT_EQ(RunOn(p, &state), 0);
  EXPECT_EQ(std::strlen(state->settings.infoText), 4095u);
  EXPECT_EQ(state->settings.infoBoxStyle, 3u);
}

TEST_F(SettingsTest, RunAfterSplitAtTheBar) {
  struct Case {
    const char* field;
    const char* name;
    const char* params;
  } cases[] = {
      {"setup.exe|/S", "setup.exe", "/S"},
      {"setup.exe", "setup.exe", ""},
      {"|-S", "|-S", "-S"},
      {"my setup .exe |a|b", "my setup .exe ", "a|b"},
  };
  for (const Case& c : cases) {
    Settings s;
    s.runAfter = c.field;
    ASSERT_EQ(Run(s), 0);
    EXPECT_STREQ(state->settings.runAfter, c.name) << c.field;
    EXPECT_STREQ(state->runAfterParams, c.params) << c.field;
    tvk::FreeMessageTable(&state->messages);
  }
}

TEST_F(SettingsTest, EmptyTargetIsTheProgramFolder) {
  Settings s;
  ASSERT_EQ(Run(s), 0);
  EXPECT_EQ(std::string(state->settings.targetFolder), Internal(dir.path()));

  // In a root the backslash stays.
  Derive("C:\\setup.exe", [](tvk::PayloadSettings*) {});
  EXPECT_STREQ(state->settings.targetFolder, "C:\\");
  Derive("C:\\Downloads\\setup.exe", [](tvk::PayloadSettings*) {});
  EXPECT_STREQ(state->settings.targetFolder, "C:\\Downloads");
}

TEST_F(SettingsTest, OverwriteAllFromOptionOrQuiet) {
  Derive("C:\\a\\setup.exe", [](tvk::PayloadSettings* s) { s->quiet = 1; });
  EXPECT_EQ(state->overwriteAll, 1);
  Derive("C:\\a\\setup.exe", [](tvk::PayloadSettings* s) { s->overwrite = 1; });
  EXPECT_EQ(state->overwriteAll, 1);
  Derive("C:\\a\\setup.exe", [](tvk::PayloadSettings*) {});
  EXPECT_EQ(state->overwriteAll, 0);
  // Modes other than 0 and 2 derive nothing.
  Derive("C:\\a\\setup.exe", [](tvk::PayloadSettings* s) {
    s->mode = 1;
    s->quiet = 1;
    tvk::StrCopy(s->runAfter, sizeof s->runAfter, "x|y");
  });
  EXPECT_EQ(state->overwriteAll, 0);
  EXPECT_STREQ(state->settings.runAfter, "x|y");
  EXPECT_STREQ(state->settings.targetFolder, "");
}

TEST_F(SettingsTest, CommandMode) {
  Settings s;
  s.mode = 2;
  s.targetFolder = "%Temp%\\x";
  s.runAfter = "a|b";
  s.command = "run.exe|-q";
  ASSERT_EQ(Run(s), 0);
  EXPECT_EQ(state->overwriteAll, 1);
  EXPECT_STREQ(state->settings.targetFolder, "%Temp%\\x");  // not expanded
  EXPECT_STREQ(state->settings.runAfter, "a|b");            // not split
  EXPECT_STREQ(state->settings.command, "run.exe");
  EXPECT_STREQ(state->runAfterParams, "-q");
  EXPECT_STREQ(state->settings.secondCommand, "run.exe");  // copied when absent
  tvk::FreeMessageTable(&state->messages);

  s.secondCommand = "two.exe|dropped";
  ASSERT_EQ(Run(s), 0);
  EXPECT_STREQ(state->settings.secondCommand, "two.exe");
  EXPECT_STREQ(state->runAfterParams, "-q");
}

TEST_F(SettingsTest, TempMacroJoinsWithOneBackslash) {
  std::string temp = Folder(tvk::kFolderTemp);
  ASSERT_FALSE(temp.empty());
  ASSERT_EQ(temp.back(), '\\');
  const char* texts[] = {"%Temp%\\Ziel", "%temp%\\Ziel", "%TEMP%Ziel", "%Temp%\\\\\\Ziel"};
  for (const char* text : texts) {
    char out[1024] = "untouched";
    ASSERT_EQ(tvk::ExpandMacros(text, out, sizeof out), 1) << text;
    EXPECT_EQ(std::string(out), temp + "Ziel") << text;
  }
  // Expanding in place.
  char same[1024] = "%Temp%\\Ziel";
  ASSERT_EQ(tvk::ExpandMacros(same, same, sizeof same), 1);
  EXPECT_EQ(std::string(same), temp + "Ziel");
}

TEST_F(SettingsTest, MacrosOnlyAtTheStart) {
  char out[1024] = "untouched";
  ASSERT_EQ(tvk::ExpandMacros("C:%Temp%\\x", out, sizeof out), 1);
  EXPECT_STREQ(out, "C:%Temp%\\x");
  ASSERT_EQ(tvk::ExpandMacros("%Nothing%\\x", out, sizeof out), 1);
  EXPECT_STREQ(out, "%Nothing%\\x");
  std::strcpy(out, "untouched");
  ASSERT_EQ(tvk::ExpandMacros("", out, sizeof out), 1);
  EXPECT_STREQ(out, "untouched");

  ASSERT_EQ(tvk::ExpandMacros("%Windows%", out, sizeof out), 1);
  EXPECT_EQ(std::string(out), WithBackslash(Folder(tvk::kFolderWindows)));
  ASSERT_EQ(tvk::ExpandMacros("%programs%\\Beispiel\\", out, sizeof out), 1);
  EXPECT_EQ(std::string(out), WithBackslash(Folder(tvk::kFolderPrograms)) + "Beispiel\\");
  // %LocalAppData% is not taken for %AppData% or the reverse.
  ASSERT_EQ(tvk::ExpandMacros("%LocalAppData%\\x", out, sizeof out), 1);
  EXPECT_EQ(std::string(out), WithBackslash(Folder(tvk::kFolderLocalAppData)) + "x");
  ASSERT_EQ(tvk::ExpandMacros("%AppData%\\x", out, sizeof out), 1);
  EXPECT_EQ(std::string(out), WithBackslash(Folder(tvk::kFolderAppData)) + "x");
  ASSERT_EQ(tvk::ExpandMacros("%System%\\x", out, sizeof out), 1);
  EXPECT_EQ(std::string(out), WithBackslash(Folder(tvk::kFolderSystem)) + "x");
  // A short output gets what fits.
  char small[4];
  ASSERT_EQ(tvk::ExpandMacros("%Temp%\\Ziel", small, sizeof small), 1);
  EXPECT_EQ(std::strlen(small), 3u);
}

TEST_F(SettingsTest, TargetMacroExpandedAtStartup) {
  Settings s;
  s.targetFolder = "%Temp%\\Beispiel";
  ASSERT_EQ(Run(s), 0);
  EXPECT_EQ(std::string(state->settings.targetFolder), Folder(tvk::kFolderTemp) + "Beispiel");
}

#if !defined(_WIN32)
TEST_F(SettingsTest, LinuxStandInFolders) {
  auto home = GetEnv("HOME");
  auto config = GetEnv("XDG_CONFIG_HOME");
  auto docs = GetEnv("XDG_DOCUMENTS_DIR");
  SetEnv("HOME", "/home/tester");
  SetEnv("XDG_CONFIG_HOME", "/nonexistent-config");
  SetEnv("XDG_DOCUMENTS_DIR", nullptr);
  EXPECT_EQ(Folder(tvk::kFolderPrograms), "\\opt");
  EXPECT_EQ(Folder(tvk::kFolderCommonFiles), "\\usr\\local\\share");
  EXPECT_EQ(Folder(tvk::kFolderAppData), "\\nonexistent-config");
  EXPECT_EQ(Folder(tvk::kFolderDocuments), "\\home\\tester\\Documents");
  SetEnv("XDG_CONFIG_HOME", "relative/ignored");
  EXPECT_EQ(Folder(tvk::kFolderAppData), "\\home\\tester\\.config");

  // The documents folder named in user-dirs.dirs.
  fs::create_directories(dir.path() / "cfg");
  WriteBytes(dir.path() / "cfg" / "user-dirs.dirs",
             Bytes("# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"));
  SetEnv("XDG_CONFIG_HOME", dir.path().string().append("/cfg").c_str());
  EXPECT_EQ(Folder(tvk::kFolderDocuments), "\\home\\tester\\Dokumente");

  // Without a home there is no documents folder: the macro fails and
  // derivation stops, keeping the payload's text and no defaults.
  SetEnv("HOME", nullptr);
  SetEnv("XDG_CONFIG_HOME", nullptr);
  char out[1024];
  EXPECT_EQ(tvk::ExpandMacros("%Documents%\\x", out, sizeof out), 0);
  Settings s;
  s.targetFolder = "%Documents%\\x";
  s.quiet = 1;
  s.infoText = "Hallo";
  s.runAfter = "a|b";
  int rc = Run(s);
  SetEnv("HOME", home ? home->c_str() : nullptr);
  SetEnv("XDG_CONFIG_HOME", config ? config->c_str() : nullptr);
  SetEnv("XDG_DOCUMENTS_DIR", docs ? docs->c_str() : nullptr);
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(state->macroFailed, 1);
  EXPECT_STREQ(state->settings.targetFolder, "%Documents%\\x");
  EXPECT_EQ(state->overwriteAll, 0);
  EXPECT_EQ(state->infoTextPending, 0);
  EXPECT_STREQ(state->runAfterParams, "b");  // the split came first
}

TEST_F(SettingsTest, SlashesInSettingsBecomeBackslashes) {
  Settings s;
  s.targetFolder = "%Temp%/a/b";
  s.runAfter = "bin/run.sh|--dir=a/b";
  ASSERT_EQ(Run(s), 0);
  EXPECT_EQ(std::string(state->settings.targetFolder), Folder(tvk::kFolderTemp) + "a\\b");
  EXPECT_STREQ(state->settings.runAfter, "bin\\run.sh");
  EXPECT_STREQ(state->runAfterParams, "--dir=a/b");
}
#endif

#if defined(_WIN32)
TEST_F(SettingsTest, RegistryFallbackUsesDefault) {
  char out[260];
  EXPECT_EQ(tvk::RegistryString(reinterpret_cast<void*>(HKEY_CURRENT_USER),
                                "Software\\Tarvik\\NoSuchKey", "x", "C:\\default", out, sizeof out),
            0);
  EXPECT_STREQ(out, "C:\\default");
  EXPECT_EQ(tvk::RegistryString(reinterpret_cast<void*>(HKEY_LOCAL_MACHINE),
                                "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                                "C:\\default", out, sizeof out),
            1);
  EXPECT_NE(std::string(out), "C:\\default");
}
#endif

}  // namespace
