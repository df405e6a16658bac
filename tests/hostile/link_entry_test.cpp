// Link entries (a Unix mode whose type bits say link, the target as data).
// On Linux they are made as links once every file of the run is out, so
// nothing of the archive is ever written through one, wherever it points;
// a target that cannot be a link is damage. Elsewhere they are small files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "../archive/archive_test_util.h"
#include "archive/format.h"
#include "platform/result_codes.h"
#include "writer/lz_encoder.h"

namespace tvk {
namespace {

using namespace testutil;

EntrySpec Link(const std::string& name) {
  EntrySpec s = File(name);
  s.unixMode = fmt::kUnixTypeLink | 0777;
  return s;
}

class LinkEntries : public ArchiveTest {
 protected:
  void SetUp() override {
    ArchiveTest::SetUp();
    fs::create_directories(out_);
    fs::create_directories(dir_ / "outside");
  }
  std::vector<std::string> Outside() {
    std::vector<std::string> all;
    for (auto& e : fs::recursive_directory_iterator(dir_ / "outside"))
      all.push_back(fs::relative(e.path(), dir_).generic_string());
    return all;
  }
};

#if !defined(_WIN32)

std::string Target(const fs::path& p) { return fs::is_symlink(p) ? fs::read_symlink(p).string() : "(no link)"; }

// The security rule: "a -> outside" followed by "a\f" must not put f
// outside. The file goes first, into a real folder a; the link then finds
// that folder in its place and is reported, not made.
TEST_F(LinkEntries, AFileBehindALinkOfTheSameArchiveLandsInARealFolder) {
  const std::string outside = (dir_ / "outside").string();
  for (uint32_t quiet : {0u, 1u}) {
    SCOPED_TRACE(quiet);
    fs::path a = Write({}, {{Link("a"), B(outside)}, {File("a\\f"), B("through")}});
    ExtractOptions o = Options();
    o.replaceWithoutAsking = quiet;
    Host host;
    EXPECT_EQ(Extract(a, &host, {"*.*"}, &o), kErrFileAccess);
    EXPECT_EQ(std::string(reader_.FailedOutputPath()), Internal(out_ / "a"));
    reader_.Close();
    EXPECT_TRUE(Outside().empty());
    EXPECT_FALSE(fs::is_symlink(out_ / "a"));
    EXPECT_EQ(ReadAll(out_ / "a/f"), "through");
    EXPECT_EQ(FilesIn(out_), std::vector<std::string>{"a/f"});  // no temporary left
    ForceRemove(out_);
    fs::create_directories(out_);
  }
}

// Targets are kept as written: absolute, climbing out, dangling, through a
// folder made later in the run. A link or file already there gives way only
// where the user lets it; the files of the run are never written through.
TEST_F(LinkEntries, LinksAreMadeAsWrittenAndReplaceOnlyWhatTheUserLetsGo) {
  WriteAll(out_ / "old", "the user's old file");
  WriteAll(out_ / "kept", "the user's kept file");
  fs::create_symlink("somewhere", out_ / "was-link");
  LzOptions lz;
  const std::string packedTarget = "docs/" + std::string(300, 'x') + ".txt";
  EntrySpec packed = Link("packed");
  packed.method = 4;
  packed.packed = EncodeLz(reinterpret_cast<const uint8_t*>(packedTarget.data()), packedTarget.size(), lz);
  fs::path a = Write({}, {{Link("abs"), B((dir_ / "outside/new").string())},
                          {Link("up"), B("../outside")},
                          {Link("gone"), B("nothing/here")},
                          {Link("deep\\down\\rel"), B("../../file.txt")},
                          {File("file.txt"), B("file")},
                          {Link("old"), B("file.txt")},
                          {Link("kept"), B("file.txt")},
                          {Link("was-link"), B("file.txt")},
                          {packed, B(packedTarget)},
                          {File("deep\\down\\later.txt"), B("later")}});
  Host host;
  host.overwriteAnswers = {kOverwriteReplace, kOverwriteSkip, kOverwriteReplace};
  ASSERT_EQ(Extract(a, &host), 0u);
  EXPECT_EQ(host.overwriteExisting, (std::vector<std::string>{"old", "kept", "was-link"}));
  EXPECT_EQ(Target(out_ / "abs"), (dir_ / "outside/new").string());
  EXPECT_EQ(Target(out_ / "up"), "../outside");
  EXPECT_EQ(Target(out_ / "gone"), "nothing/here");
  EXPECT_EQ(Target(out_ / "deep/down/rel"), "../../file.txt");
  EXPECT_EQ(ReadAll(out_ / "deep/down/rel"), "file");
  EXPECT_EQ(Target(out_ / "old"), "file.txt");
  EXPECT_EQ(Target(out_ / "was-link"), "file.txt");
  EXPECT_EQ(Target(out_ / "packed"), packedTarget);
  EXPECT_EQ(ReadAll(out_ / "kept"), "the user's kept file");
  EXPECT_EQ(ReadAll(out_ / "deep/down/later.txt"), "later");
  EXPECT_TRUE(Outside().empty());
  for (auto& e : fs::recursive_directory_iterator(out_))
    EXPECT_NE(e.path().filename().string().rfind("~tvk", 0), 0u) << "left behind: " << e.path();
}

// A target with a NUL, none at all, or longer than a link may hold is
// damage, reported like a CRC error: no link and no file is made, and a run
// that goes on after errors still makes the sound entries.
TEST_F(LinkEntries, TargetsThatCannotBeLinksAreDamage) {
  std::vector<Bytes> bad = {B(std::string("a\0b", 3)), B(""), B(std::string(fmt::kMaxLinkTarget + 1, 'x'))};
  for (const Bytes& target : bad) {
    SCOPED_TRACE(target.size());
    fs::path a = Write({}, {{Link("bad"), target}, {Link("good"), B("file.txt")}, {File("file.txt"), B("f")}});
    Host host;
    EXPECT_EQ(Extract(a, &host), kErrData);
    reader_.Close();
    EXPECT_FALSE(fs::exists(fs::symlink_status(out_ / "bad")));
    EXPECT_EQ(TestAll(a, &host), kErrData);
    reader_.Close();
    ExtractOptions o = Options();
    o.continueAfterErrors = 1;
    EXPECT_EQ(Extract(a, &host, {"*.*"}, &o), 0u);
    reader_.Close();
    EXPECT_FALSE(fs::exists(fs::symlink_status(out_ / "bad")));
    EXPECT_EQ(Target(out_ / "good"), "file.txt");
    EXPECT_EQ(ReadAll(out_ / "file.txt"), "f");
    ForceRemove(out_);
    fs::create_directories(out_);
  }
}

#else

// Windows knows no such links: the entry is a small file holding the target,
// which is never opened.
TEST_F(LinkEntries, WindowsMakesASmallFileHoldingTheTarget) {
  fs::path a = Write({}, {{Link("up"), B("../outside")}, {File("up2"), B("f")}});
  ASSERT_EQ(Extract(a, nullptr), 0u);
  EXPECT_EQ(ReadAll(out_ / "up"), "../outside");
  EXPECT_TRUE(Outside().empty());
}

#endif

}  // namespace
}  // namespace tvk
