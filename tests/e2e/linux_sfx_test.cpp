// The static Linux self-extractor as a user meets it: built with tvk sfx from
// real archives and run, quietly or answering its questions on standard
// input, with every byte, mode bit and exit code checked.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "linux_harness.h"

namespace tvk::e2e {
namespace {

using LinuxRun = LinuxSfx;

bool WaitForFile(const fs::path& p, int seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!fs::exists(p)) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

uint32_t CrcRegister(const std::string& bytes, size_t from, size_t to) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = from; i < to; ++i) {
    crc ^= static_cast<uint8_t>(bytes[i]);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc;
}

uint16_t U16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

// Replaces the start of a stored entry name inside its block head and
// mends the head's check, so the reader takes the hostile name as written.
bool RenameInHead(std::string* bytes, const std::string& name, const std::string& replacement) {
  size_t at = bytes->find(name);
  if (at == std::string::npos || replacement.size() > name.size()) return false;
  for (size_t head = at > 300 ? at - 300 : 0; head + 7 <= at; ++head) {
    size_t size = U16(*bytes, head + 5);
    if (size < 7 || head + size < at + name.size() || head + size > bytes->size()) continue;
    if ((CrcRegister(*bytes, head + 2, head + size) & 0xFFFF) != U16(*bytes, head)) continue;
    bytes->replace(at, replacement.size(), replacement);
    uint32_t check = CrcRegister(*bytes, head + 2, head + size) & 0xFFFF;
    (*bytes)[head] = static_cast<char>(check & 0xFF);
    (*bytes)[head + 1] = static_cast<char>(check >> 8);
    return true;
  }
  return false;
}

// A 16-bit stereo PCM wave: a tone with a little noise, which tvk packs
// with the audio method.
std::string Wave(uint32_t frames) {
  std::string w;
  auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) w += static_cast<char>(v >> (8 * i)); };
  auto u16 = [&](uint16_t v) { w += static_cast<char>(v & 0xFF); w += static_cast<char>(v >> 8); };
  w += "RIFF";
  u32(36 + frames * 4);
  w += "WAVEfmt ";
  u32(16);
  u16(1);
  u16(2);
  u32(44100);
  u32(44100 * 4);
  u16(4);
  u16(16);
  w += "data";
  u32(frames * 4);
  std::string noise = Pseudo(frames * 2, 77);
  for (uint32_t i = 0; i < frames; ++i) {
    int tone = static_cast<int>(8000.0 * __builtin_sin(i * 0.05));
    u16(static_cast<uint16_t>(tone + static_cast<int8_t>(noise[2 * i]) / 8));
    u16(static_cast<uint16_t>(tone / 2 + static_cast<int8_t>(noise[2 * i + 1]) / 8));
  }
  return w;
}

TEST_F(LinuxRun, EveryPackingMethodAndSolidArchivesExtractByteForByte) {
  MakeSmallTree(dir_ / "src/tree");
  WriteFile(dir_ / "src/tree/media/tone.wav", Wave(30000));
  // Machine code, which the LZ methods filter.
  WriteFile(dir_ / "src/tree/bin/program", ReadFile(TVK_LINUX_SFX).substr(0, 60000));
  const char* kinds[] = {"-m0", "-m1", "-m2", "-m3", "-m4", "-s -m3", "-s -m1"};
  int n = 0;
  for (const char* kind : kinds) {
    SCOPED_TRACE(kind);
    std::string name = "kind" + std::to_string(n++);
    Pack(name + ".tvk", kind);
    BuildSfx(name, name + ".tvk", QuietInto(name + "-out"));
    Result r = RunSfx(name);
    EXPECT_EQ(r.code, 0) << r.output;
    // A quiet run shows nothing at all.
    EXPECT_EQ(r.output, "");
    ExpectSameTree(dir_ / "src/tree", dir_ / (name + "-out/tree"));
  }
  // The wave really went through the audio method.
  Result l = Tvk("l kind3.tvk");
  EXPECT_TRUE(Contains(l.output, "audio")) << l.output;
}

TEST_F(LinuxRun, EncryptedEntriesTakeThePasswordFromStandardInput) {
  MakeSmallTree(dir_ / "src/tree");
  for (const char* cipher : {"", "--aes128"}) {
    SCOPED_TRACE(cipher);
    Pack("enc.tvk", std::string("-f -psecret ") + cipher);
    BuildSfx("enc", "enc.tvk", QuietInto("enc-out"));
    fs::remove_all(dir_ / "enc-out");
    // One answer serves every entry: the stored password is handed out.
    Result r = RunSfx("enc", "secret\n");
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(Count(r.output, "is protected by a password"), 1u) << r.output;
    // A log of the run never holds the password read from a pipe.
    EXPECT_FALSE(Contains(r.output, "secret")) << r.output;
    ExpectSameTree(dir_ / "src/tree", dir_ / "enc-out/tree");

    // A wrong password is asked again; the end of input refuses.
    fs::remove_all(dir_ / "enc-out");
    r = RunSfx("enc", "wrong\n");
    EXPECT_EQ(r.code, 9) << r.output;
    EXPECT_GE(Count(r.output, "is protected by a password"), 2u) << r.output;
    // No file is left with wrong bytes in it.
    if (fs::exists(dir_ / "enc-out")) {
      for (auto& e : fs::recursive_directory_iterator(dir_ / "enc-out")) {
        if (e.is_regular_file() && fs::file_size(e.path()) > 0) {
          EXPECT_TRUE(ReadFile(e.path()) == ReadFile(dir_ / "src" / fs::relative(e.path(), dir_ / "enc-out")))
              << e.path();
        }
      }
    }
  }
}

TEST_F(LinuxRun, EncryptedHeadsAskForTheDirectoryAndThenTheFilePassword) {
  MakeSmallTree(dir_ / "src/tree");
  Pack("eh.tvk", "-psecret --encrypt-headers");
  BuildSfx("eh", "eh.tvk", QuietInto("eh-out"));
  Result r = RunSfx("eh", "secret\nsecret\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(Count(r.output, "The directory of eh is protected"), 1u) << r.output;
  ExpectSameTree(dir_ / "src/tree", dir_ / "eh-out/tree");

  fs::remove_all(dir_ / "eh-out");
  r = RunSfx("eh", "");
  EXPECT_EQ(r.code, 9) << r.output;
  EXPECT_FALSE(fs::exists(dir_ / "eh-out/tree/docs/readme.txt"));
}

TEST_F(LinuxRun, VolumeSetIsFoundBesideTheProgramAndAMovedVolumeIsAskedFor) {
  MakeSmallTree(dir_ / "src/tree");
  WriteFile(dir_ / "src/tree/data/more.bin", Pseudo(120000, 5));
  Pack("vs.tvk", "-m0 -v60k");
  ASSERT_TRUE(fs::exists(dir_ / "vs.002"));
  fs::create_directories(dir_ / "dist");
  BuildSfx("dist/setup", "vs.tvk", QuietInto("vs-out"));
  ASSERT_TRUE(fs::exists(dir_ / "dist/setup.001"));
  ASSERT_TRUE(fs::exists(dir_ / "dist/setup.002"));

  // Started from another folder: the volumes lie beside the program.
  Result r = RunSfx("dist/setup");
  EXPECT_EQ(r.code, 0) << r.output;
  ExpectSameTree(dir_ / "src/tree", dir_ / "vs-out/tree");

  fs::remove_all(dir_ / "vs-out");
  // The last volume moved away: the user names its folder.
  int last = 2;
  while (fs::exists(dir_ / ("dist/setup.00" + std::to_string(last + 1)))) ++last;
  ASSERT_LT(last, 10);
  std::string lastName = "setup.00" + std::to_string(last);
  fs::create_directories(dir_ / "moved");
  fs::rename(dir_ / "dist" / lastName, dir_ / "moved" / lastName);
  r = RunSfx("dist/setup", "moved\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_TRUE(Contains(r.output, "Please insert disk " + std::to_string(last + 1))) << r.output;
  ExpectSameTree(dir_ / "src/tree", dir_ / "vs-out/tree");

  // Nobody answers: the question is refused.
  fs::remove_all(dir_ / "vs-out");
  r = RunSfx("dist/setup", "");
  EXPECT_EQ(r.code, 9) << r.output;
}

TEST_F(LinuxRun, SignedSelfExtractorShowsItsSignerAndRefusesATamperedCopy) {
  MakeSmallTree(dir_ / "src/tree");
  WriteFile(dir_ / "src/tree/docs/signed.txt", std::string(3000, 'S') + "SIGNED-PAYLOAD-MARKER");
  const std::string master = std::string(TVK_MASTER_KEY_FILE);
  ASSERT_EQ(Tvk("keygen signer.pem").code, 0);
  Result c = Tvk("cert --key " + Quote(master) + " --name 'Test Signer' signer.pem signer.cert");
  ASSERT_EQ(c.code, 0) << c.output;
  // tvk sign signs the whole program, so the signature covers the program
  // in front of the archive as well.
  Pack("plain.tvk", "-m0");
  BuildSfx("quiet", "plain.tvk", QuietInto("q-out"));
  Result s = Tvk("sign --key signer.pem --cert signer.cert quiet");
  ASSERT_EQ(s.code, 0) << s.output;
  Result r = RunSfx("quiet");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(r.output, "");
  ExpectSameTree(dir_ / "src/tree", dir_ / "q-out/tree");

  // The dialog shows the signature before extraction.
  BuildSfx("setup", "plain.tvk", "target = " + (dir_ / "d-out").string() + "\n");
  s = Tvk("sign --key signer.pem --cert signer.cert setup");
  ASSERT_EQ(s.code, 0) << s.output;
  r = RunSfx("setup", "1\n");
  EXPECT_EQ(r.code, 0) << r.output;
  // Answers from a pipe are shown after their prompt, as a terminal would.
  EXPECT_TRUE(Contains(r.output, "[5] Help\n> 1\n")) << r.output;
  EXPECT_TRUE(Contains(r.output, "Digital signature")) << r.output;
  EXPECT_TRUE(Contains(r.output, "carries a valid digital signature")) << r.output;
  EXPECT_TRUE(Contains(r.output, "by Test Signer")) << r.output;
  // Shown once, not again when extraction starts.
  EXPECT_EQ(Count(r.output, "carries a valid digital signature"), 1u) << r.output;
  // A program built with the published development key says so under the
  // signature; one built with a key of its own does not.
  const bool testKey = ReadFile(TVK_MASTER_KEY_FILE) ==
                       ReadFile(fs::path(TVK_SOURCE_DIR) / "tests/keys/dev-master.pem");
  EXPECT_EQ(Contains(r.output, "TEST BUILD: this program trusts the published test key"), testKey)
      << r.output;
  ExpectSameTree(dir_ / "src/tree", dir_ / "d-out/tree");

  // One changed byte: the user is asked, and No ends with the code shown.
  fs::remove_all(dir_ / "d-out");
  FlipAt(dir_ / "setup", "SIGNED-PAYLOAD-MARKER");
  r = RunSfx("setup", "2\n");
  EXPECT_EQ(r.code, 8) << r.output;
  EXPECT_TRUE(Contains(r.output, "does not match the original archive")) << r.output;
  EXPECT_TRUE(Contains(r.output, "Error (28118) in setup.")) << r.output;
  EXPECT_FALSE(fs::exists(dir_ / "d-out/tree"));

  // An archive signed on its own and then put behind the program: the
  // signature does not cover the program, and the user is asked.
  Pack("signed.tvk", "-m0 --sign ../signer.pem --cert ../signer.cert");
  BuildSfx("wrapped", "signed.tvk", "target = " + (dir_ / "w-out").string() + "\n");
  r = RunSfx("wrapped", "2\n");
  EXPECT_EQ(r.code, 8) << r.output;
  EXPECT_TRUE(Contains(r.output, "does not match the original archive")) << r.output;
  // Yes goes on, and the extraction is asked for once more.
  r = RunSfx("wrapped", "1\n1\n1\n");
  EXPECT_EQ(r.code, 0) << r.output;
  ExpectSameTree(dir_ / "src/tree", dir_ / "w-out/tree");
}

// The run-after script writes its working folder and its arguments, each
// in angle brackets, into marker.txt of that folder.
constexpr const char* kMarkerScript =
    "#!/bin/sh\n"
    "{ pwd; for a in \"$@\"; do printf '<%s>' \"$a\"; done; echo; } > marker.tmp\n"
    "mv marker.tmp marker.txt\n";

TEST_F(LinuxRun, RunAfterStartsTheRestoredScriptWithShellWordParameters) {
  WriteFile(dir_ / "src/tree/tools/mark.sh", kMarkerScript);
  WriteFile(dir_ / "src/tree/readme.txt", "read me\n");
  fs::permissions(dir_ / "src/tree/tools/mark.sh", fs::perms(0750));
  Pack("ra.tvk", "");
  BuildSfx("ra", "ra.tvk",
           QuietInto("ra-out") + "run-after = tree/tools/mark.sh|one 'two words' three\\ four \"five \\\"q\\\"\"\n");
  Result r = RunSfx("ra");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(fs::status(dir_ / "ra-out/tree/tools/mark.sh").permissions() & fs::perms::all,
            fs::perms(0750 & ~CurrentUmask()));
  // Quiet form: started in the target folder itself.
  ASSERT_TRUE(WaitForFile(dir_ / "ra-out/marker.txt", 10)) << r.output;
  EXPECT_EQ(ReadFile(dir_ / "ra-out/marker.txt"),
            fs::canonical(dir_ / "ra-out").string() + "\n<one><two words><three four><five \"q\">\n");

  // Dialog form: started in the script's own folder; the summary box is
  // not shown when there is a run-after file.
  BuildSfx("rd", "ra.tvk", "target = " + (dir_ / "rd-out").string() + "\nrun-after = tree/tools/mark.sh|x\n");
  r = RunSfx("rd", "1\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_TRUE(Contains(r.output, "Start 'mark.sh' after extraction.")) << r.output;
  EXPECT_FALSE(Contains(r.output, "extracted/tested")) << r.output;
  ASSERT_TRUE(WaitForFile(dir_ / "rd-out/tree/tools/marker.txt", 10)) << r.output;
  EXPECT_EQ(ReadFile(dir_ / "rd-out/tree/tools/marker.txt"),
            fs::canonical(dir_ / "rd-out/tree/tools").string() + "\n<x>\n");

  // A file without an execute bit is handed to the desktop's opener.
  // Written under another name first: the test reads the file as soon as
  // its name appears, and the redirection makes it before printf writes.
  const std::string opened = Quote((dir_ / "opened.txt").string());
  WriteFile(dir_ / "fakebin/xdg-open",
            "#!/bin/sh\nprintf '%s' \"$*\" > " + opened + ".tmp && mv " + opened + ".tmp " + opened + "\n");
  fs::permissions(dir_ / "fakebin/xdg-open", fs::perms(0755));
  BuildSfx("open", "ra.tvk", QuietInto("open-out") + "run-after = tree/readme.txt\n");
  r = Shell("PATH=" + Quote((dir_ / "fakebin").string()) + ":$PATH ./open");
  EXPECT_EQ(r.code, 0) << r.output;
  ASSERT_TRUE(WaitForFile(dir_ / "opened.txt", 10)) << r.output;
  EXPECT_EQ(ReadFile(dir_ / "opened.txt"), (dir_ / "open-out/tree/readme.txt").string());
  // No opener at all: the file cannot be started.
  r = Shell("PATH=/nonexistent ./open");
  EXPECT_EQ(r.code, 8) << r.output;

  // Unchecking the box (7) leaves the script alone.
  fs::remove_all(dir_ / "rd-out");
  r = RunSfx("rd", "7\n1\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_TRUE(fs::exists(dir_ / "rd-out/tree/readme.txt"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(fs::exists(dir_ / "rd-out/tree/tools/marker.txt"));
}

// A target relative to the current folder (as the README allows), and a
// run-after file whose folder the archive does not bring while a program of
// the same name waits in the current folder.
TEST_F(LinuxRun, RunAfterIsFoundInARelativeTargetAndNowhereElse) {
  WriteFile(dir_ / "src/tree/tools/mark.sh", kMarkerScript);
  fs::permissions(dir_ / "src/tree/tools/mark.sh", fs::perms(0750));
  Pack("ra.tvk", "");
  BuildSfx("rel", "ra.tvk", "target = rel-out\nquiet = 1\nrun-after = tree/tools/mark.sh|quiet\n");
  Result r = RunSfx("rel");
  EXPECT_EQ(r.code, 0) << r.output;
  ASSERT_TRUE(WaitForFile(dir_ / "rel-out/marker.txt", 10)) << r.output;
  EXPECT_EQ(ReadFile(dir_ / "rel-out/marker.txt"),
            fs::canonical(dir_ / "rel-out").string() + "\n<quiet>\n");

  // The decoy in the current folder, and one inside a folder of that name.
  WriteFile(dir_ / "x.sh", kMarkerScript);
  fs::permissions(dir_ / "x.sh", fs::perms(0755));
  WriteFile(dir_ / "tree/bin/x.sh", kMarkerScript);
  fs::permissions(dir_ / "tree/bin/x.sh", fs::perms(0755));
  BuildSfx("decoy", "ra.tvk", "target = d-out\nrun-after = bin/x.sh\n");
  r = RunSfx("decoy", "1\n");
  EXPECT_EQ(r.code, 8) << r.output;
  EXPECT_TRUE(Contains(r.output, "The file 'x.sh' could not be started.")) << r.output;
  BuildSfx("decoy-quiet", "ra.tvk", "target = q-out\nquiet = 1\nrun-after = bin/x.sh\n");
  r = RunSfx("decoy-quiet");
  EXPECT_EQ(r.code, 8) << r.output;
  // The folder is there, the file is not.
  BuildSfx("nofile", "ra.tvk", "target = .\nrun-after = tree/bin/x.sh\n");
  fs::remove(dir_ / "tree/bin/x.sh");
  fs::create_directories(dir_ / "elsewhere");
  WriteFile(dir_ / "elsewhere/x.sh", kMarkerScript);
  fs::permissions(dir_ / "elsewhere/x.sh", fs::perms(0755));
  r = Shell("PATH=" + Quote((dir_ / "elsewhere").string()) + ":$PATH ./nofile", "1\n1\n");
  EXPECT_EQ(r.code, 8) << r.output;
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_FALSE(fs::exists(dir_ / "marker.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "tree/bin/marker.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "elsewhere/marker.txt"));
}

// A folder macro that names no folder on this system (no home: no
// application data folder) stops the run before anything is written.
TEST_F(LinuxRun, UnresolvableTargetMacroStopsBeforeExtracting) {
  WriteFile(dir_ / "src/tree/file.txt", "macro\n");
  Pack("a.tvk", "");
  BuildSfx("quiet", "a.tvk", "target = %AppData%/sub\nquiet = 1\n");
  BuildSfx("dialog", "a.tvk", "target = %AppData%/sub\n");
  Result r = Shell("env -u HOME -u XDG_CONFIG_HOME ./quiet");
  EXPECT_EQ(r.code, 5) << r.output;
  EXPECT_EQ(r.output, "");
  r = Shell("env -u HOME -u XDG_CONFIG_HOME ./dialog", "1\n");
  EXPECT_EQ(r.code, 5) << r.output;
  EXPECT_TRUE(Contains(r.output, "Error (28002) in %AppData%.")) << r.output;
  EXPECT_FALSE(Contains(r.output, "Tarvik Self Extractor")) << r.output;
  for (const auto& e : fs::directory_iterator(dir_)) {
    EXPECT_FALSE(Contains(e.path().filename().string(), "%")) << e.path();
  }
}

TEST_F(LinuxRun, DamagedArchivesEndWithExitCodeFourAndLeaveNoDamagedFile) {
  WriteFile(dir_ / "src/tree/a-first.txt", "first file\n");
  std::string crcProbe;
  for (int i = 0; i < 200; ++i) crcProbe += "CRC-PROBE-LINE " + std::to_string(i) + "\n";
  WriteFile(dir_ / "src/tree/crc-probe.txt", crcProbe);
  Pack("plain.tvk", "-m0");

  // A changed byte of stored data: checksum error.
  BuildSfx("crc", "plain.tvk", QuietInto("crc-out"));
  FlipAt(dir_ / "crc", "CRC-PROBE-LINE 100");
  Result r = RunSfx("crc");
  EXPECT_EQ(r.code, 4) << r.output;
  EXPECT_EQ(r.output, "");  // quiet: no box whatever the result
  EXPECT_EQ(ReadFile(dir_ / "crc-out/tree/a-first.txt"), "first file\n");
  EXPECT_FALSE(fs::exists(dir_ / "crc-out/tree/crc-probe.txt"));
  // The same in the dialog: the message is shown.
  BuildSfx("crcd", "plain.tvk", "target = " + (dir_ / "crcd-out").string() + "\n");
  FlipAt(dir_ / "crcd", "CRC-PROBE-LINE 100");
  r = RunSfx("crcd", "1\n");
  EXPECT_EQ(r.code, 4) << r.output;
  EXPECT_TRUE(Contains(r.output, "Checksum error.")) << r.output;

  // A changed byte in an entry's head: invalid data.
  BuildSfx("head", "plain.tvk", "target = " + (dir_ / "head-out").string() + "\n");
  // The name is stored in the entry's head only.
  FlipAt(dir_ / "head", "crc-probe.txt", 0, 4);
  r = RunSfx("head", "1\n");
  EXPECT_EQ(r.code, 4) << r.output;
  EXPECT_TRUE(Contains(r.output, "The archive contains invalid data.")) << r.output;

  // Damaged packed data: invalid data or a checksum error, never a crash or
  // a hang.
  WriteFile(dir_ / "src/tree/crc-probe.txt", Pseudo(20000, 3) + crcProbe + crcProbe);
  Pack("packed.tvk", "-f -m3");
  BuildSfx("packed", "packed.tvk", QuietInto("packed-out"));
  std::string packed = ReadFile(dir_ / "packed");
  for (size_t cut : {packed.size() - 600, packed.size() - 2500, packed.size() - 9000}) {
    std::string damaged = packed;
    damaged[cut] = static_cast<char>(damaged[cut] ^ 0x55);
    damaged[cut + 1] = static_cast<char>(damaged[cut + 1] ^ 0xA3);
    WriteFile(dir_ / "damaged", damaged);
    fs::permissions(dir_ / "damaged", fs::perms(0755));
    fs::remove_all(dir_ / "packed-out");
    r = RunSfx("damaged", "", 30);
    EXPECT_EQ(r.code, 4) << "damage at " << cut << ": " << r.output;
  }
}

TEST_F(LinuxRun, RefusalsAndHostileArchivesEndWithTheirExitCodes) {
  WriteFile(dir_ / "src/one.txt", "one\n");
  Pack("ra-none.tvk", "", "one.txt");
  // The program without a payload.
  fs::copy_file(TVK_LINUX_SFX, dir_ / "bare");
  Result r = RunSfx("bare");
  EXPECT_EQ(r.code, 255) << r.output;
  EXPECT_TRUE(Contains(r.output, "Could not locate meta data.")) << r.output;

  // A language text that lacks its last message.
  BuildSfx("nolang", "ra-none.tvk", "", "--language en");
  std::string withText = ReadFile(dir_ / "nolang");
  size_t key = withText.find("\r\n73 = ");
  ASSERT_NE(key, std::string::npos);
  withText[key + 3] = '9';  // key 79, which nobody reads
  WriteFile(dir_ / "nolang", withText);
  // Start-up copies the text to the temporary folder: this test's own.
  fs::create_directories(dir_ / "tmp");
  r = Shell("TMPDIR=" + Quote((dir_ / "tmp").string()) + " ./nolang");
  EXPECT_EQ(r.code, 254) << r.output;
  EXPECT_TRUE(Contains(r.output, "Could not locate meta data for language settings.")) << r.output;

  // An entry named like the program, extracted into the program's folder.
  WriteFile(dir_ / "src/first.txt", "first\n");
  WriteFile(dir_ / "src/setup", "not the program\n");
  Pack("self.tvk", "", "first.txt setup");
  fs::create_directories(dir_ / "dist");
  BuildSfx("dist/setup", "self.tvk", "quiet = 1\n");
  std::string before = ReadFile(dir_ / "dist/setup");
  r = Shell("cd dist && ./setup");
  EXPECT_EQ(r.code, 8) << r.output;
  EXPECT_EQ(ReadFile(dir_ / "dist/setup"), before);

  // A target folder that cannot be made (a file stands in its way).
  WriteFile(dir_ / "blocker", "a file");
  BuildSfx("blocked", "self.tvk", "target = " + (dir_ / "blocker/sub").string() + "\n");
  r = RunSfx("blocked", "1\n");
  EXPECT_EQ(r.code, 5) << r.output;
  EXPECT_TRUE(Contains(r.output, "Access to a file was denied by the system.")) << r.output;

  // A run-after file that is not there, and one that cannot be executed.
  MakeSmallTree(dir_ / "src/tree");
  WriteFile(dir_ / "src/tree/bin/not-a-program", "just some text, no interpreter line\n");
  fs::permissions(dir_ / "src/tree/bin/not-a-program", fs::perms(0755));
  Pack("ra.tvk", "");
  BuildSfx("missing", "ra.tvk", QuietInto("m-out") + "run-after = tree/bin/nothing-here\n");
  r = RunSfx("missing");
  EXPECT_EQ(r.code, 8) << r.output;
  ExpectSameTree(dir_ / "src/tree", dir_ / "m-out/tree");
  BuildSfx("noexec", "ra.tvk", "target = " + (dir_ / "n-out").string() + "\nrun-after = tree/bin/not-a-program\n");
  r = RunSfx("noexec", "1\n");
  EXPECT_EQ(r.code, 8) << r.output;
  EXPECT_TRUE(Contains(r.output, "The file 'not-a-program' could not be started.")) << r.output;
}

TEST_F(LinuxRun, HostileEntryNamesStayInsideTheTargetFolder) {
  WriteFile(dir_ / "src/abcdef/evil-1.txt", "one");
  WriteFile(dir_ / "src/abcdef/evil-2.txt", "two");
  WriteFile(dir_ / "src/abcdef/evil-3.txt", "three");
  Pack("plain.tvk", "-m0", "abcdef");
  BuildSfx("setup", "plain.tvk", QuietInto("a/b/target"));
  std::string bytes = ReadFile(dir_ / "setup");
  // Climbing out with either separator, and a name that is only dots.
  ASSERT_TRUE(RenameInHead(&bytes, "abcdef\\evil-1.txt", "..\\..\\")) << "entry head not found";
  ASSERT_TRUE(RenameInHead(&bytes, "abcdef\\evil-2.txt", "../../"));
  ASSERT_TRUE(RenameInHead(&bytes, "abcdef\\evil-3.txt", "..\\.."));
  WriteFile(dir_ / "setup", bytes);
  Result r = RunSfx("setup");
  EXPECT_GE(r.code, 0) << r.output;
  EXPECT_NE(r.code, 255) << r.output;
  size_t inside = 0;
  for (auto& e : fs::recursive_directory_iterator(dir_)) {
    std::string rel = fs::relative(e.path(), dir_).string();
    if (rel.rfind("a/b/target/", 0) == 0 && Contains(rel, "evil")) ++inside;
    if (Contains(e.path().filename().string(), "evil") && rel.rfind("src/", 0) != 0) {
      EXPECT_EQ(rel.rfind("a/b/target/", 0), 0u) << "written outside the target: " << rel;
    }
  }
  // The mended heads were read, so the names really were put to the test.
  EXPECT_GT(inside, 0u) << r.output;
}

TEST_F(LinuxRun, TargetFolderMacrosAndTheProgramsOwnFolder) {
  WriteFile(dir_ / "src/tree/file.txt", "macro\n");
  Pack("a.tvk", "");
  fs::create_directories(dir_ / "tmp");
  fs::create_directories(dir_ / "dist");
  // The temporary folder macro, in any case and with any backslashes.
  BuildSfx("m1", "a.tvk", "target = %Temp%\\unpacked\nquiet = 1\n");
  BuildSfx("m2", "a.tvk", "target = %TEMP%\\\\\\twice\nquiet = 1\n");
  Result r = Shell("TMPDIR=" + Quote((dir_ / "tmp").string()) + " ./m1 && TMPDIR=" +
                   Quote((dir_ / "tmp").string()) + " ./m2");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(ReadFile(dir_ / "tmp/unpacked/tree/file.txt"), "macro\n");
  EXPECT_EQ(ReadFile(dir_ / "tmp/twice/tree/file.txt"), "macro\n");
  // No target: the program's own folder, wherever it is started from.
  BuildSfx("dist/own", "a.tvk", "quiet = 1\n");
  r = RunSfx("dist/own");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(ReadFile(dir_ / "dist/tree/file.txt"), "macro\n");
  EXPECT_FALSE(fs::exists(dir_ / "tree"));
}

TEST_F(LinuxRun, MainDialogChoicesOnStandardInput) {
  MakeSmallTree(dir_ / "src/tree");
  Pack("a.tvk", "");
  const std::string target = "target = " + (dir_ / "out").string() + "\n";

  // An info text with Yes and No, answered No: nothing is opened or written.
  BuildSfx("ask", "a.tvk", target + "title = Before\ninfo = Go on?\ninfo-style = 1\n");
  Result r = RunSfx("ask", "2\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_TRUE(Contains(r.output, "Before\nGo on?\n[1] Yes  [2] No\n")) << r.output;
  EXPECT_FALSE(fs::exists(dir_ / "out"));

  // About and help, then extraction by the button's whole text; the summary
  // counts every file and folder.
  BuildSfx("setup", "a.tvk", target + "about = Made for the tests\noverwrite = 1\n");
  r = RunSfx("setup", "4\nhelp\nExtract\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_TRUE(Contains(r.output, "Made for the tests\n\nTarvik compression")) << r.output;
  EXPECT_TRUE(Contains(r.output, "All files are extracted into the folder given")) << r.output;
  EXPECT_TRUE(Contains(r.output, "[6] [x] Overwrite files without asking.")) << r.output;
  EXPECT_TRUE(Contains(r.output, "setup: 15 file(s)/folder(s) extracted/tested.")) << r.output;
  ExpectSameTree(dir_ / "src/tree", dir_ / "out/tree");

  // The check box is on: changed files are replaced without a question.
  WriteFile(dir_ / "out/tree/docs/readme.txt", "changed");
  r = RunSfx("setup", "1\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_FALSE(Contains(r.output, "Confirm file replace")) << r.output;
  ExpectSameTree(dir_ / "src/tree", dir_ / "out/tree");
  // Turned off (6): the question comes, and No keeps the file.
  WriteFile(dir_ / "out/tree/docs/readme.txt", "changed");
  r = RunSfx("setup", "6\n1\n3\n3\n3\n3\n3\n3\n3\n");  // No to all seven files
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(Count(r.output, "Confirm file replace"), 7u) << r.output;
  EXPECT_TRUE(Contains(r.output, "[6] [ ] Overwrite files without asking.")) << r.output;
  EXPECT_TRUE(Contains(r.output, "This folder already contains a file named 'readme.txt'.")) << r.output;
  // Size and date lines stand indented under their labels.
  EXPECT_TRUE(Contains(r.output, "existing file\n  7 bytes\n  modified on ")) << r.output;
  EXPECT_EQ(ReadFile(dir_ / "out/tree/docs/readme.txt"), "changed");
}

TEST_F(LinuxRun, TheProgramNeedsNothingFromTheSystem) {
  // No loader, no libraries, no locale: ldd has nothing to list.
  Result l = Shell("ldd " + Quote(TVK_LINUX_SFX));
  EXPECT_TRUE(Contains(l.output, "not a dynamic executable") || Contains(l.output, "statically linked"))
      << l.output;
  MakeSmallTree(dir_ / "src/tree");
  Pack("plain.tvk", "-m2");
  BuildSfx("setup", "plain.tvk", "target = out\nquiet = 1\n");
  // An empty environment and a relative target: the current folder counts.
  Result r = Shell("env -i ./setup");
  EXPECT_EQ(r.code, 0) << r.output;
  ExpectSameTree(dir_ / "src/tree", dir_ / "out/tree");
}

}  // namespace
}  // namespace tvk::e2e
