// The extraction flow end to end: self-extractor files built with the archive
// and payload writers, started up for real, and driven through the main
// dialog or the quiet path by a scripted front end.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "archive/reader.h"
#include "host/flow.h"
#include "host/startup.h"
#include "platform/result_codes.h"
#include "tests/host/flow_fake_ui.h"
#include "writer/archive_text.h"
#include "writer/archive_writer.h"
#include "writer/payload_writer.h"
#if defined(TVK_HAVE_SIGNING)
#include "writer/openssl/signing.h"
#endif

namespace tvk {
namespace {

namespace fs = std::filesystem;
using test::FakeUi;

std::string Internal(const fs::path& p) {
  std::string s = p.string();
  for (char& c : s) {
    if (c == '/') c = '\\';
  }
  return s;
}

// A text as the program shows it: the payload's texts are UTF-8 on Linux and
// Windows-1252 on Windows.
std::string Sys(const std::string& utf8) {
#if defined(_WIN32)
  std::string ansi;
  EXPECT_TRUE(Utf8ToWindows1252(utf8, &ansi));
  return ansi;
#else
  return utf8;
#endif
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Pattern(size_t size, uint8_t seed) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
  return b;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Item {
  EntrySpec shape;
  Bytes data;
};

Item File(const std::string& name, const Bytes& data) {
  Item i;
  i.shape.name = name;
  i.data = data;
  return i;
}

Item Encrypted(const std::string& name, const Bytes& data, const std::string& password) {
  Item i = File(name, data);
  i.shape.encryption = 2;
  i.shape.password = password;
  return i;
}

class FlowRun : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tvk_flow_" + std::to_string(static_cast<long>(
#if defined(_WIN32)
                              _getpid()
#else
                              getpid()
#endif
                                  )) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    out_ = dir_ / "out";
    settings_.targetFolder = Internal(out_);
    startup_ = std::make_unique<StartupState>();
    reader_ = std::make_unique<ArchiveReader>();
    saved_ = fs::current_path();
  }
  void TearDown() override {
    flow_.reset();
    FreeMessageTable(&startup_->messages);
    fs::current_path(saved_);
    fs::remove_all(dir_);
  }

  // The archive's volumes as the writer made them.
  std::vector<Bytes> Archive(const std::vector<Item>& items, ArchiveSpec shape = {}) {
    MemoryOutput output;
    ArchiveWriter writer(shape, &output);
    for (const Item& i : items) EXPECT_TRUE(writer.AddEntry(i.shape, i.data)) << writer.Error();
    EXPECT_TRUE(writer.Finish()) << writer.Error();
    return output.volumes;
  }

  // Writes program + payload + archive (and further volumes) to dir/setup.exe
  // and runs start-up on it.
  void Build(const std::vector<Bytes>& volumes) {
    std::string lang, error;
    ASSERT_TRUE(payload::LoadLanguageText("de", &lang, &error)) << error;
    std::vector<uint8_t> payloadBytes;
    ASSERT_TRUE(payload::BuildPayload(lang, settings_, &payloadBytes, &error)) << error;
    std::vector<uint8_t> program(4000, 0x90);
    std::vector<payload::OutputFile> files;
    ASSERT_TRUE(payload::BuildSelfExtractorVolumes(program, payloadBytes, volumes,
                                                   (dir_ / "setup.exe").string(), &files, &error))
        << error;
    for (const payload::OutputFile& f : files) {
      fs::path p = f.path;
      if (relocate_ && p.filename() != "setup.exe") p = *relocate_ / p.filename();
      std::ofstream o(p, std::ios::binary);
      o.write(reinterpret_cast<const char*>(f.bytes.data()),
              static_cast<std::streamsize>(f.bytes.size()));
    }
    StartUp();
  }

  // A program with a payload but no archive behind it.
  void BuildWithoutArchive() {
    std::string lang, error;
    ASSERT_TRUE(payload::LoadLanguageText("de", &lang, &error)) << error;
    std::vector<uint8_t> bytes(50000, 0x90);
    std::vector<uint8_t> payloadBytes;
    ASSERT_TRUE(payload::BuildPayload(lang, settings_, &payloadBytes, &error)) << error;
    bytes.insert(bytes.end(), payloadBytes.begin(), payloadBytes.end());
    bytes.resize(bytes.size() + 3000, 0x11);
    std::ofstream o(dir_ / "setup.exe", std::ios::binary);
    o.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    o.close();
    StartUp();
  }

#if defined(TVK_HAVE_SIGNING)
  // A self-extractor whose archive is signed over the whole file in front of
  // the signature block; damaged: one byte of the program changed afterwards.
  void BuildSigned(const std::vector<Item>& items, bool damaged,
                   uint16_t digestKind = signing::kBlockSha256) {
    std::string lang, master, signer, error;
    ASSERT_TRUE(payload::LoadLanguageText("de", &lang, &error)) << error;
    ASSERT_TRUE(signing::ReadTextFile(TVK_MASTER_KEY_FILE, &master, &error)) << error;
    ASSERT_TRUE(signing::GenerateKey(1024, &signer, &error)) << error;
    std::vector<uint8_t> certificate;
    ASSERT_TRUE(signing::IssueCertificate(master, signer, "Test Signer", &certificate, &error))
        << error;
    std::vector<uint8_t> payloadBytes;
    ASSERT_TRUE(payload::BuildPayload(lang, settings_, &payloadBytes, &error)) << error;
    ArchiveSpec shape;
    shape.prefix.assign(payload::kProgramPadding, 0x90);
    shape.prefix.insert(shape.prefix.end(), payloadBytes.begin(), payloadBytes.end());
    shape.extraMainFlags = fmt::kArcSigned;
    fs::path scratch = dir_ / "signed-prefix.bin";
    // 2026-12-08 14:05:08, local time.
    const uint32_t stamp = (((2026u - 1980u) << 9 | 12u << 5 | 8u) << 16) | (14u << 11 | 5u << 5 | 4u);
    shape.signer = [&](VolumeOutput& out, uint32_t volume, uint64_t length, Bytes* record) {
      Bytes prefix(length);
      if (!out.ReadBack(volume, 0, prefix.data(), prefix.size())) return false;
      std::ofstream(scratch, std::ios::binary)
          .write(reinterpret_cast<const char*>(prefix.data()),
                 static_cast<std::streamsize>(prefix.size()));
      std::string err;
      return signing::SignFilePrefix(scratch.string(), length, signer, certificate, digestKind,
                                     stamp, record, &err);
    };
    std::vector<Bytes> volumes = Archive(items, shape);
    ASSERT_EQ(volumes.size(), 1u);
    if (damaged) volumes[0][100] ^= 1;
    std::ofstream o(dir_ / "setup.exe", std::ios::binary);
    o.write(reinterpret_cast<const char*>(volumes[0].data()),
            static_cast<std::streamsize>(volumes[0].size()));
    o.close();
    StartUp();
  }
#endif

  void StartUp() {
    // A test may start up more than once: the last start's texts go first.
    flow_.reset();
    FreeMessageTable(&startup_->messages);
    ASSERT_EQ(RunStartup(Internal(dir_ / "setup.exe").c_str(), startup_.get()), 0);
    flow_ = std::make_unique<Flow>(startup_.get(), reader_.get(), &ui_);
  }

  int Dialog(std::vector<uint32_t> commands) {
    ui_.commands.assign(commands.begin(), commands.end());
    return flow_->DialogRun();
  }

  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> out;
    for (const test::Shown& s : ui_.Of("box")) out.push_back(s.text);
    return out;
  }

  fs::path dir_, out_, saved_;
  std::optional<fs::path> relocate_;
  payload::Settings settings_;
  std::unique_ptr<StartupState> startup_;
  std::unique_ptr<ArchiveReader> reader_;
  std::unique_ptr<Flow> flow_;
  FakeUi ui_;
};

const std::string kSummary3 = "setup.exe: 3 Datei(en)/Ordner entpackt/getestet.";

TEST_F(FlowRun, DialogExtractsEverythingAndSumsUp) {
  Build(Archive({File("a.txt", Text("alpha")), File("sub\\b.txt", Pattern(70000, 1)),
                 File("c.txt", Text(""))}));
  ASSERT_EQ(Dialog({kCtlExtract}), 0);
  EXPECT_EQ(ReadFile(out_ / "a.txt"), "alpha");
  EXPECT_EQ(ReadFile(out_ / "sub" / "b.txt").size(), 70000u);
  EXPECT_TRUE(fs::exists(out_ / "c.txt"));

  ASSERT_TRUE(ui_.setupSeen);
  EXPECT_EQ(ui_.title, "Tarvik Self Extractor - setup.exe");
  EXPECT_EQ(ui_.overwriteText, "(hidden)");  // no overwrite option, no run-after file
  EXPECT_EQ(ui_.runAfterText, "(hidden)");
  // Every control gets its text when the dialog opens, a hidden 1003 too.
  EXPECT_EQ(ui_.hiddenOverwriteText, Sys("&Dateien ohne Nachfrage überschreiben."));
  EXPECT_EQ(ui_.setup.firstEvent, kEventEarlyCheck);
  EXPECT_EQ(ui_.disabled, (std::vector<uint32_t>{kCtlExtract, kCtlHelp, kCtlAbout, kCtlOverwrite}));
  EXPECT_TRUE(ui_.progressShown);
  ASSERT_FALSE(ui_.progress.empty());
  EXPECT_EQ(ui_.progress.front().second, "a.txt");
  // The empty c.txt has no chunk to report.
  EXPECT_EQ(ui_.progress.back(), (std::pair<uint32_t, std::string>{100, "b.txt"}));
  // An unsigned archive passes the check silently.
  EXPECT_TRUE(ui_.Of("signature").empty());
  EXPECT_EQ(flow_->run.checkDone, 0u);

  auto boxes = ui_.Of("box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, kSummary3);
  EXPECT_EQ(boxes[0].caption, "Information");
  EXPECT_EQ(boxes[0].style, kBoxOk | kIconInformation);
  EXPECT_TRUE(ui_.unexpected.empty());
}

TEST_F(FlowRun, EmptyFolderEditExtractsBesideTheProgram) {
  Build(Archive({File("a.txt", Text("alpha"))}));
  ui_.commands = {kCtlExtract};
  // The edit is cleared before extraction starts.
  struct Clear final : MainDialogHost {
    Flow* flow;
    FakeUi* ui;
    void OnCommand(uint32_t c) override {
      ui->folder.clear();
      flow->OnCommand(c);
    }
    void OnEvent(uint32_t e) override { flow->OnEvent(e); }
  } clear;
  clear.flow = flow_.get();
  clear.ui = &ui_;
  MainDialogSetup setup{};
  ui_.RunMainDialog(setup, &clear);
  EXPECT_EQ(flow_->run.resultCode, 0u);
  EXPECT_EQ(ReadFile(dir_ / "a.txt"), "alpha");
  EXPECT_FALSE(fs::exists(out_));
}

TEST_F(FlowRun, HelpAboutAndBrowseShowTheirTexts) {
  settings_.aboutPrefix = "Beispiel GmbH";
  Build(Archive({File("a.txt", Text("alpha"))}));
  ui_.script = {{"browse", kAnswerOk, Internal(dir_ / "gewaehlt")}};
  ASSERT_EQ(Dialog({kCtlHelp, kCtlAbout, kCtlBrowse, kCtlExtract}), 0);
  auto boxes = ui_.Of("box");
  ASSERT_GE(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].caption, "Hilfe");
  EXPECT_EQ(boxes[0].text.rfind(Sys("Klicken Sie auf die Schaltfläche 'Entpacken'"), 0), 0u);
  EXPECT_EQ(boxes[1].caption, "Information");
  EXPECT_EQ(boxes[1].text, "Beispiel GmbH\r\n\r\n" + std::string(MessageText(startup_->messages, 47)));
  auto browse = ui_.Of("browse");
  ASSERT_EQ(browse.size(), 1u);
  EXPECT_EQ(browse[0].text,
            Sys("Bitte wählen Sie den Ordner, in den das Archiv entpackt werden soll."));
  EXPECT_EQ(browse[0].caption, Internal(out_));  // the payload's folder, no trailing backslash
  // The picked folder is where extraction goes.
  EXPECT_EQ(ReadFile(dir_ / "gewaehlt" / "a.txt"), "alpha");
}

TEST_F(FlowRun, InfoBoxAnsweredNoEndsWithoutOpeningTheArchive) {
  settings_.infoText = "Weiter?";
  settings_.infoTitle = "Hinweis zur Installation";
  settings_.infoBoxStyle = 1;
  // Opening this program would fail (no archive), so an open would show.
  BuildWithoutArchive();
  ui_.script = {{"box", kAnswerNo, ""}};
  EXPECT_EQ(Dialog({}), 0);
  auto boxes = ui_.Of("box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Weiter?");
  EXPECT_EQ(boxes[0].caption, "Hinweis zur Installation");
  EXPECT_EQ(boxes[0].style, kBoxYesNo | kIconQuestion);
  EXPECT_EQ(flow_->run.resultCode, 0u);
  EXPECT_EQ(flow_->run.archiveOpened, 0u);
}

TEST_F(FlowRun, InfoBoxAnsweredYesGoesOnToTheEarlyCheck) {
  settings_.infoText = "Weiter?";
  settings_.infoBoxStyle = 2;
  BuildWithoutArchive();
  ui_.script = {{"box", kAnswerOk, ""}};
  // The failing check ends the dialog with the error box of 28089.
  EXPECT_EQ(Dialog({}), 3);
  auto boxes = ui_.Of("box");
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].caption, "Hinweis");
  EXPECT_EQ(boxes[0].style, kBoxOkCancel | kIconInformation);
  EXPECT_EQ(boxes[1].text, Sys("Das Archiv ist anscheinend kein gültiges Archiv."));
  EXPECT_EQ(boxes[1].caption, "(none)");
  EXPECT_EQ(boxes[1].style, kBoxOk);
}

TEST_F(FlowRun, CancelledDialogEndsQuietly) {
  Build(Archive({File("a.txt", Text("alpha"))}));
  EXPECT_EQ(Dialog({kCtlCancel}), 0);
  EXPECT_TRUE(ui_.Of("box").empty());
  EXPECT_FALSE(fs::exists(out_ / "a.txt"));
}

// Progress updates dispatch the dialog's queue from inside the extraction: a
// second press of Extract (or any button but Cancel) waiting there must not
// start a pass inside the pass.
TEST_F(FlowRun, ButtonsPressedDuringTheExtractionDoNothingButCancel) {
  Build(Archive({File("a.txt", Pattern(200000, 1)), File("b.txt", Pattern(200000, 2)),
                 File("c.txt", Text("gamma"))}));
  startup_->earlyCheck = 0;  // the first pump comes from the extraction
  ui_.queuedCommands = {kCtlExtract, kCtlHelp, kCtlAbout, kCtlBrowse, kCtlExtract};
  // A posted early check waiting there would open the archive a second time.
  ui_.queuedEvents = {kEventEarlyCheck};
  ASSERT_EQ(Dialog({kCtlExtract}), 0);
  EXPECT_TRUE(ui_.queuedCommands.empty());  // they were dispatched
  EXPECT_TRUE(ui_.unexpected.empty()) << ui_.unexpected.front();
  EXPECT_TRUE(ui_.Of("overwrite").empty());
  EXPECT_TRUE(ui_.Of("browse").empty());
  EXPECT_EQ(flow_->run.fileCount, 3u);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kSummary3});
  Bytes b = Pattern(200000, 2);
  EXPECT_TRUE(ReadFile(out_ / "b.txt") == std::string(b.begin(), b.end()));

  // Cancel still acts, and the run ends as cancelled.
  fs::remove_all(out_);
  flow_ = std::make_unique<Flow>(startup_.get(), reader_.get(), &ui_);
  ui_.shown.clear();
  ui_.queuedCommands = {kCtlExtract, kCtlCancel};
  EXPECT_EQ(Dialog({kCtlExtract}), 9);
  EXPECT_EQ(flow_->run.resultCode, kErrCancelled);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Abbruch durch Anwender."});
  EXPECT_FALSE(fs::exists(out_ / "c.txt"));
}

// ---- Passwords ------------------------------------------------------------------

TEST_F(FlowRun, WrongFilePasswordIsAskedAgainAndTheRightOneServesEveryEntry) {
  Build(Archive({Encrypted("a.txt", Text("alpha"), "richtig"),
                 Encrypted("b.txt", Pattern(3000, 2), "richtig"),
                 Encrypted("c.txt", Text("gamma"), "richtig")}));
  ui_.script = {{"password5011", kAnswerOk, "falsch"}, {"password5011", kAnswerOk, "richtig"}};
  ASSERT_EQ(Dialog({kCtlExtract}), 0);
  EXPECT_TRUE(ui_.unexpected.empty()) << ui_.unexpected.front();
  auto prompts = ui_.Of("password5011");
  ASSERT_EQ(prompts.size(), 2u);
  EXPECT_EQ(prompts[0].caption, "Kennwort-Abfrage");
  EXPECT_EQ(prompts[0].text,
            Sys("Der Zugriff auf die Datei a.txt ist mit einem Kennwort geschützt. Bitte geben Sie "
                "das korrekte Kennwort an."));
  EXPECT_EQ(ReadFile(out_ / "c.txt"), "gamma");
  EXPECT_STREQ(flow_->run.filePassword, "richtig");
}

#if !defined(_WIN32)
// Archives are keyed with the Windows-1252 bytes of a password; a password
// typed on Linux arrives as UTF-8.
TEST_F(FlowRun, TypedPasswordOpensAnArchiveKeyedInWindows1252) {
  Build(Archive({Encrypted("a.txt", Text("alpha"), "M\xFCller")}));
  ui_.script = {{"password5011", kAnswerOk, "M\xC3\xBCller"}};
  ASSERT_EQ(Dialog({kCtlExtract}), 0);
  EXPECT_EQ(ReadFile(out_ / "a.txt"), "alpha");
}
#endif

TEST_F(FlowRun, CancelledPasswordPromptLeavesTheStoredPasswordEmpty) {
  Build(Archive({Encrypted("a.txt", Text("alpha"), "richtig")}));
  ui_.script = {{"password5011", kAnswerOk, "falsch"}, {"password5011", kAnswerCancel, ""}};
  EXPECT_EQ(Dialog({kCtlExtract}), 9);
  EXPECT_EQ(flow_->run.resultCode, kErrCancelled);
  EXPECT_STREQ(flow_->run.filePassword, "");
  EXPECT_FALSE(fs::exists(out_ / "a.txt"));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Abbruch durch Anwender."});
}

ArchiveSpec EncryptedHeads() {
  ArchiveSpec shape;
  shape.encryptHeads = true;
  shape.headPassword = "kopf";
  return shape;
}

TEST_F(FlowRun, DirectoryPasswordIsAskedOnceForCheckAndExtraction) {
  Build(Archive({File("a.txt", Text("alpha")), File("b.txt", Text("beta"))}, EncryptedHeads()));
  ui_.script = {{"password5012", kAnswerOk, "kopf"}};
  ASSERT_EQ(Dialog({kCtlExtract}), 0);
  EXPECT_TRUE(ui_.unexpected.empty()) << ui_.unexpected.front();
  auto prompts = ui_.Of("password5012");
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0].text,
            Sys("Das Verzeichnis von setup.exe ist mit einem Kennwort geschützt. Bitte geben Sie "
                "das korrekte Kennwort an."));
  EXPECT_EQ(ReadFile(out_ / "b.txt"), "beta");
}

TEST_F(FlowRun, WrongDirectoryPasswordBeforeTheFirstOpenIsAskedAgain) {
  Build(Archive({File("a.txt", Text("alpha"))}, EncryptedHeads()));
  ui_.script = {{"password5012", kAnswerOk, "falsch"}, {"password5012", kAnswerOk, "kopf"}};
  ASSERT_EQ(Dialog({kCtlExtract}), 0);
  EXPECT_EQ(ui_.Of("password5012").size(), 2u);
  EXPECT_EQ(ReadFile(out_ / "a.txt"), "alpha");
}

// A damaged encrypted head looks like a wrong password. Once the archive has
// been opened, the stored password must not be handed out again after it
// failed, or the reader would ask for ever.
Item DamagedHead(const std::string& name) {
  Item i = File(name, Text("damaged"));
  i.shape.editHead = [](Bytes& head, size_t index) {
    if (index == 0) head[head.size() - 1] ^= 0x20;
  };
  i.shape.reseal = false;
  return i;
}

TEST_F(FlowRun, DamagedEncryptedHeadAfterTheOpenEndsInsteadOfSpinning) {
  Build(Archive({File("a.txt", Text("alpha")), File("b.txt", Text("beta")), DamagedHead("c.txt")},
                EncryptedHeads()));
  ui_.script = {{"password5012", kAnswerOk, "kopf"}};
  EXPECT_EQ(Dialog({kCtlExtract}), 9);
  EXPECT_EQ(flow_->run.resultCode, kErrCancelled);
  // The first prompt opens the archive; the second comes after the damaged
  // head and is refused.
  EXPECT_EQ(ui_.Of("password5012").size(), 2u);
  EXPECT_STREQ(flow_->run.directoryPassword, "");
}

TEST_F(FlowRun, DamagedEncryptedHeadInQuietModeEndsToo) {
  settings_.quiet = 1;
  Build(Archive({File("a.txt", Text("alpha")), File("b.txt", Text("beta")), DamagedHead("c.txt")},
                EncryptedHeads()));
  ui_.script = {{"password5012", kAnswerOk, "kopf"}};
  EXPECT_EQ(flow_->QuietRun(), 9);
  EXPECT_EQ(ui_.Of("password5012").size(), 2u);
  EXPECT_EQ(ReadFile(out_ / "b.txt"), "beta");  // finished files stay
  EXPECT_TRUE(ui_.Of("box").empty());
}

// ---- Overwriting --------------------------------------------------------------------

TEST_F(FlowRun, OverwriteAnswersSkipAndYesToAll) {
  fs::create_directories(out_);
  std::ofstream(out_ / "a.txt") << std::string(1023, 'o');
  std::ofstream(out_ / "b.txt") << "old b";
  std::ofstream(out_ / "c.txt") << "old c";
  Build(Archive({File("a.txt", Pattern(1024, 3)), File("b.txt", Text("new b")),
                 File("c.txt", Text("new c"))}));
  ui_.script = {{"overwrite", kAnswerNo, ""}, {"overwrite", kAnswerYesAll, ""}};
  ASSERT_EQ(Dialog({kCtlExtract}), 0);
  EXPECT_TRUE(ui_.unexpected.empty()) << ui_.unexpected.front();
  auto asked = ui_.Of("overwrite");
  ASSERT_EQ(asked.size(), 2u);  // c.txt is replaced without a question
  EXPECT_EQ(asked[0].caption, Sys("Ersetzen von Dateien bestätigen"));
  EXPECT_EQ(asked[0].text.rfind(
                Sys("Dieser Ordner enthält bereits eine Datei namens 'a.txt'.|1023 Bytes\r\n"), 0),
            0u)
      << asked[0].text;
  EXPECT_NE(asked[0].text.find("|1 KB\r\n"), std::string::npos) << asked[0].text;
  EXPECT_EQ(ReadFile(out_ / "a.txt"), std::string(1023, 'o'));
  EXPECT_EQ(ReadFile(out_ / "b.txt"), "new b");
  EXPECT_EQ(ReadFile(out_ / "c.txt"), "new c");
}

TEST_F(FlowRun, OverwriteCancelStops) {
  fs::create_directories(out_);
  std::ofstream(out_ / "a.txt") << "old";
  Build(Archive({File("a.txt", Text("new")), File("b.txt", Text("b"))}));
  ui_.script = {{"overwrite", kAnswerCancel, ""}};
  EXPECT_EQ(Dialog({kCtlExtract}), 9);
  EXPECT_EQ(ReadFile(out_ / "a.txt"), "old");
  EXPECT_FALSE(fs::exists(out_ / "b.txt"));
}

TEST_F(FlowRun, OverwriteCheckBoxDecidesWhetherToAsk) {
  settings_.overwrite = 1;
  fs::create_directories(out_);
  std::ofstream(out_ / "a.txt") << "old";
  Build(Archive({File("a.txt", Text("new"))}));
  ui_.checkedOverwrite = false;
  ui_.script = {{"overwrite", kAnswerNo, ""}};
  ASSERT_EQ(Dialog({kCtlExtract}), 0);
  EXPECT_EQ(ui_.overwriteText, Sys("&Dateien ohne Nachfrage überschreiben."));
  EXPECT_EQ(ui_.setup.overwriteChecked, 1u);
  EXPECT_EQ(ui_.Of("overwrite").size(), 1u);
  EXPECT_EQ(ReadFile(out_ / "a.txt"), "old");
}

TEST_F(FlowRun, OverwriteOptionCheckedReplacesWithoutAsking) {
  settings_.overwrite = 1;
  fs::create_directories(out_);
  std::ofstream(out_ / "a.txt") << "old";
  Build(Archive({File("a.txt", Text("new"))}));
  ASSERT_EQ(Dialog({kCtlExtract}), 0);
  EXPECT_TRUE(ui_.Of("overwrite").empty());
  EXPECT_EQ(ReadFile(out_ / "a.txt"), "new");
}

// ---- Volumes -----------------------------------------------------------------------

ArchiveSpec SmallVolumes() {
  ArchiveSpec shape;
  shape.multiVolume = true;
  shape.volumeSize = 2000;
  return shape;
}

TEST_F(FlowRun, NextVolumeIsLookedForInTheFolderTyped) {
  fs::create_directories(dir_ / "disk2");
  relocate_ = dir_ / "disk2";
  Build(Archive({File("a.txt", Pattern(1500, 4)), File("b.txt", Pattern(1500, 5))}, SmallVolumes()));
  ASSERT_FALSE(fs::exists(dir_ / "setup.001"));
  ui_.script = {{"volume", kAnswerOk, Internal(dir_ / "disk2")}};
  for (int i = 0; i < 4; ++i) ui_.script.push_back({"volume", kAnswerOk, Internal(dir_ / "disk2")});
  ASSERT_EQ(Dialog({kCtlExtract}), 0);
  auto asked = ui_.Of("volume");
  ASSERT_GE(asked.size(), 1u);
  std::string expected = dir_.string();
#if defined(_WIN32)
  expected += "\\";
#else
  expected += "/";
#endif
  EXPECT_NE(asked[0].text.find("in Laufwerk " + expected + " ein"), std::string::npos) << asked[0].text;
  EXPECT_EQ(asked[0].caption, Internal(dir_) + "\\");  // the edit shows the expected folder
  EXPECT_EQ(ReadFile(out_ / "b.txt").size(), 1500u);
}

TEST_F(FlowRun, NextVolumeRefusedEndsAsCancelled) {
  fs::create_directories(dir_ / "disk2");
  relocate_ = dir_ / "disk2";
  Build(Archive({File("a.txt", Pattern(1500, 4)), File("b.txt", Pattern(1500, 5))}, SmallVolumes()));
  EXPECT_EQ(Dialog({kCtlExtract}), 9);
  EXPECT_EQ(ui_.Of("volume").size(), 1u);
}

// ---- Cancel, quiet mode ---------------------------------------------------------------

TEST_F(FlowRun, CancelDuringExtractionStopsAtTheNextCallback) {
  Build(Archive({File("big.bin", Pattern(300000, 6)), File("b.txt", Text("beta"))}));
  ui_.cancelOnProgress = &flow_->run.cancelRequested;
  EXPECT_EQ(Dialog({kCtlExtract}), 9);
  EXPECT_EQ(ui_.progress.size(), 1u);
  EXPECT_FALSE(fs::exists(out_ / "big.bin"));  // the partial file is deleted
  EXPECT_FALSE(fs::exists(out_ / "b.txt"));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Abbruch durch Anwender."});
}

TEST_F(FlowRun, QuietRunShowsNothingAndReturnsTheExitCode) {
  settings_.quiet = 1;
  fs::create_directories(out_);
  std::ofstream(out_ / "a.txt") << "old";
  Build(Archive({File("a.txt", Text("alpha")), File("b.txt", Pattern(90000, 7))}));
  EXPECT_EQ(flow_->QuietRun(), 0);
  EXPECT_EQ(ReadFile(out_ / "a.txt"), "alpha");  // quiet replaces without asking
  EXPECT_TRUE(ui_.shown.empty());
  EXPECT_TRUE(ui_.progress.empty());
}

TEST_F(FlowRun, QuietRunMapsErrorsWithoutABox) {
  settings_.quiet = 1;
  Item bad = File("a.txt", Text("alpha"));
  bad.shape.crc = 0x12345678;
  Build(Archive({bad}));
  EXPECT_EQ(flow_->QuietRun(), 4);
  EXPECT_EQ(flow_->run.resultCode, kErrCrc);
  EXPECT_TRUE(ui_.Of("box").empty());
}

TEST_F(FlowRun, QuietRunStillAsksForAPassword) {
  settings_.quiet = 1;
  Build(Archive({Encrypted("a.txt", Text("alpha"), "richtig")}));
  EXPECT_EQ(flow_->QuietRun(), 9);
  EXPECT_EQ(ui_.Of("password5011").size(), 1u);
  EXPECT_TRUE(ui_.Of("box").empty());
}

TEST_F(FlowRun, ErrorsAfterTheDialogShowTheirMessage) {
  Item bad = File("a.txt", Text("alpha"));
  bad.shape.crc = 0x12345678;
  Build(Archive({bad}));
  EXPECT_EQ(Dialog({kCtlExtract}), 4);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{Sys("Prüfsummenfehler.")});
}

// ---- Signatures ----------------------------------------------------------------------

#if defined(TVK_HAVE_SIGNING)
TEST_F(FlowRun, ValidSignatureIsShownOnce) {
  BuildSigned({File("a.txt", Text("alpha"))}, false);
  ASSERT_EQ(Dialog({kCtlExtract}), 0);
  auto shown = ui_.Of("signature");
  ASSERT_EQ(shown.size(), 1u);  // the early check shows it; extraction does not again
  EXPECT_EQ(shown[0].caption, "Digitale Signatur");
#if !defined(_WIN32)
  EXPECT_EQ(shown[0].text,
            "Das Archiv setup.exe enthält eine gültige digitale Signatur. Dieses Archiv wurde am "
            "2026-12-08 um 14:05:08 von Test Signer erzeugt und stimmt mit dem Original überein.");
#endif
  EXPECT_EQ(flow_->run.checkDone, 1u);
  EXPECT_EQ(ReadFile(out_ / "a.txt"), "alpha");
  // A program that trusts the published development key says so with the
  // signature; one with a key of its own does not.
  const bool testKey = ReadFile(TVK_MASTER_KEY_FILE) ==
                       ReadFile(fs::path(TVK_SOURCE_DIR) / "tests/keys/dev-master.pem");
  EXPECT_EQ(ui_.Of("test-key-note").size(), testKey ? 1u : 0u);
}

// A signature whose digest kind cannot vouch for the bytes is asked about
// as a mismatch is, and never shown as valid.
TEST_F(FlowRun, WeakDigestIsAskedAboutAsAMismatch) {
  BuildSigned({File("a.txt", Text("alpha"))}, false, signing::kBlockSha512);
  EXPECT_EQ(Dialog({kCtlExtract}), 8);
  EXPECT_TRUE(ui_.Of("signature").empty());
  auto boxes = ui_.Of("box");
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes[0].text.rfind(Sys("Das Archiv wurde auf Echtheit überprüft"), 0), 0u);
  EXPECT_FALSE(fs::exists(out_ / "a.txt"));
}

// The signature's hashing pumps the queue during the early check.
TEST_F(FlowRun, ExtractPressedDuringTheEarlyCheckWaitsForIt) {
  BuildSigned({File("a.txt", Text("alpha"))}, false);
  ui_.queuedCommands = {kCtlExtract, kCtlHelp};
  ASSERT_EQ(Dialog({kCtlExtract}), 0);
  EXPECT_TRUE(ui_.queuedCommands.empty());
  EXPECT_EQ(ui_.Of("signature").size(), 1u);
  EXPECT_TRUE(ui_.Of("overwrite").empty());
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"setup.exe: 1 Datei(en)/Ordner entpackt/getestet."});
  EXPECT_EQ(ReadFile(out_ / "a.txt"), "alpha");
}

TEST_F(FlowRun, SignatureMismatchDeclinedEndsWithItsCode) {
  BuildSigned({File("a.txt", Text("alpha"))}, true);
  EXPECT_EQ(Dialog({kCtlExtract}), 8);
  auto boxes = ui_.Of("box");
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text.rfind(Sys("Das Archiv wurde auf Echtheit überprüft"), 0), 0u);
  EXPECT_EQ(boxes[0].caption, "Information");
  EXPECT_EQ(boxes[0].style, kBoxYesNo | kIconInformation);
  EXPECT_EQ(boxes[1].text, "Fehler (28118) in setup.exe.");
  EXPECT_FALSE(fs::exists(out_ / "a.txt"));
}

TEST_F(FlowRun, SignatureMismatchAcceptedIsAskedAgainAtExtraction) {
  BuildSigned({File("a.txt", Text("alpha"))}, true);
  ui_.script = {{"box", kAnswerYes, ""}, {"box", kAnswerYes, ""}};
  EXPECT_EQ(Dialog({kCtlExtract}), 0);
  EXPECT_TRUE(ui_.script.empty());  // both questions were asked
  EXPECT_TRUE(ui_.Of("signature").empty());
  EXPECT_EQ(ReadFile(out_ / "a.txt"), "alpha");
  EXPECT_EQ(ui_.Of("box").back().text, "setup.exe: 1 Datei(en)/Ordner entpackt/getestet.");
}
#endif

// ---- Run-after ---------------------------------------------------------------------------

TEST_F(FlowRun, RunAfterThatCannotStartIsReportedWithItsName) {
  settings_.runAfter = "bin\\fehlt.sh";
  Build(Archive({File("a.txt", Text("alpha"))}));
  EXPECT_EQ(Dialog({kCtlExtract}), 8);
  EXPECT_EQ(ui_.runAfterText, "Nach dem Entpacken 'fehlt.sh' starten.");
  EXPECT_EQ(flow_->run.resultCode, kErrRunAfter);
  EXPECT_EQ(BoxTexts(),
            std::vector<std::string>{Sys("Die Datei 'fehlt.sh' konnte nicht ausgeführt werden.")});
}

TEST_F(FlowRun, UncheckedRunAfterEndsWithoutSummary) {
  settings_.runAfter = "fehlt.sh";
  Build(Archive({File("a.txt", Text("alpha"))}));
  ui_.checkedRunAfter = false;
  EXPECT_EQ(Dialog({kCtlExtract}), 0);
  EXPECT_TRUE(ui_.Of("box").empty());  // a run-after name means no summary
}

#if !defined(_WIN32)
std::string WaitForLog(const fs::path& path) {
  // Up to 60 s: the limit only ends the wait for a program that never
  // writes; a busy machine can take seconds to start a shell.
  for (int i = 0; i < 6000; ++i) {
    std::string text = ReadFile(path);
    if (text.find("END") != std::string::npos) return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return "";
}

Item Script(const std::string& name, const fs::path& log) {
  Item i = File(name, Text("#!/bin/sh\n{ pwd; echo \"$1\"; echo END; } > '" + log.string() + "'\n"));
  i.shape.unixMode = 0755;
  return i;
}

TEST_F(FlowRun, RunAfterStartsInItsOwnFolderFromTheDialog) {
  settings_.runAfter = "bin\\go.sh|--fertig";
  fs::path log = dir_ / "log";
  Build(Archive({Script("bin\\go.sh", log)}));
  EXPECT_EQ(Dialog({kCtlExtract}), 0);
  EXPECT_EQ(WaitForLog(log), (out_ / "bin").string() + "\n--fertig\nEND\n");
  EXPECT_TRUE(ui_.Of("box").empty());
  EXPECT_EQ(fs::current_path(), saved_);
}

TEST_F(FlowRun, RunAfterStartsInTheTargetFolderWhenQuiet) {
  settings_.runAfter = "bin\\go.sh|--still";
  settings_.quiet = 1;
  fs::path log = dir_ / "log";
  Build(Archive({Script("bin\\go.sh", log)}));
  EXPECT_EQ(flow_->QuietRun(), 0);
  EXPECT_EQ(WaitForLog(log), out_.string() + "\n--still\nEND\n");
  EXPECT_EQ(fs::current_path(), saved_);
}

// The README allows a target relative to the current folder; the file's
// path must be made before the run changes into that folder.
TEST_F(FlowRun, RunAfterOfARelativeTargetStartsWhenQuiet) {
  settings_.runAfter = "bin\\go.sh|--relativ";
  settings_.quiet = 1;
  settings_.targetFolder = "out";
  fs::path log = dir_ / "log";
  fs::current_path(dir_);
  Build(Archive({Script("bin\\go.sh", log)}));
  EXPECT_EQ(flow_->QuietRun(), 0);
  EXPECT_EQ(flow_->run.resultCode, 0u);
  EXPECT_EQ(WaitForLog(log), out_.string() + "\n--relativ\nEND\n");
  EXPECT_EQ(fs::current_path(), dir_);
}

// A run-after file whose folder or file the archive did not bring must not
// be looked for anywhere else: here a same-named program in the current
// folder.
TEST_F(FlowRun, RunAfterMissingFromTheTargetStartsNothing) {
  fs::path log = dir_ / "log";
  Item decoy = Script("x.sh", log);
  fs::current_path(dir_);
  {
    std::ofstream o(dir_ / "x.sh", std::ios::binary);
    o.write(reinterpret_cast<const char*>(decoy.data.data()),
            static_cast<std::streamsize>(decoy.data.size()));
  }
  fs::permissions(dir_ / "x.sh", fs::perms::owner_all);
  fs::create_directories(dir_ / "bin");
  fs::copy_file(dir_ / "x.sh", dir_ / "bin" / "x.sh");

  // No bin\ in the archive: the folder cannot be entered.
  settings_.runAfter = "bin\\x.sh";
  Build(Archive({File("a.txt", Text("alpha"))}));
  EXPECT_EQ(Dialog({kCtlExtract}), 8);
  EXPECT_EQ(flow_->run.resultCode, kErrRunAfter);
  EXPECT_EQ(BoxTexts(),
            std::vector<std::string>{Sys("Die Datei 'x.sh' konnte nicht ausgeführt werden.")});
  EXPECT_EQ(fs::current_path(), dir_);

  // The folder is there, the file is not.
  settings_.runAfter = "bin\\x.sh";
  settings_.quiet = 1;
  Build(Archive({File("bin\\other.txt", Text("other"))}));
  EXPECT_EQ(flow_->QuietRun(), 8);
  EXPECT_EQ(flow_->run.resultCode, kErrRunAfter);
  settings_.quiet = 0;
  fs::remove_all(out_);
  Build(Archive({File("bin\\other.txt", Text("other"))}));
  EXPECT_EQ(Dialog({kCtlExtract}), 8);

  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(fs::exists(log)) << ReadFile(log);
}

// ---- A folder macro that names no folder here -----------------------------------------------

// Without a home there is no application-data folder. The payload's text
// must not become a folder named after the macro.
class FlowWithoutHome : public FlowRun {
 protected:
  void SetUp() override {
    FlowRun::SetUp();
    for (const char* name : {"HOME", "XDG_CONFIG_HOME"}) {
      if (const char* v = getenv(name)) saved_env_.emplace_back(name, v);
      unsetenv(name);
    }
    fs::current_path(dir_);
    settings_.targetFolder = "%AppData%/sub";
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_env_) setenv(name.c_str(), value.c_str(), 1);
    FlowRun::TearDown();
  }
  std::vector<std::pair<std::string, std::string>> saved_env_;
};

TEST_F(FlowWithoutHome, DialogStopsWithABoxNamingTheMacro) {
  Build(Archive({File("a.txt", Text("alpha"))}));
  ASSERT_EQ(startup_->macroFailed, 1);
  EXPECT_EQ(Dialog({kCtlExtract}), 5);
  EXPECT_FALSE(ui_.setupSeen);  // stopped before the dialog
  EXPECT_EQ(flow_->run.resultCode, kErrFileAccess);
  EXPECT_EQ(flow_->run.archiveOpened, 0u);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Fehler (28002) in %AppData%."});
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);  // setup.exe
}

TEST_F(FlowWithoutHome, QuietRunStopsWithItsExitCode) {
  settings_.quiet = 1;
  Build(Archive({File("a.txt", Text("alpha"))}));
  EXPECT_EQ(flow_->QuietRun(), 5);
  EXPECT_EQ(flow_->run.resultCode, kErrFileAccess);
  EXPECT_TRUE(ui_.shown.empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}
#endif

}  // namespace
}  // namespace tvk
