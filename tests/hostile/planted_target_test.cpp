// A target folder prepared by someone else before the run: folder links
// planted below it, files that cannot be replaced the safe way, and the
// program or a volume reached through a target spelt another way. Nothing
// is written outside the target, and no file of the user's is written
// through, truncated or lost.
#include <gtest/gtest.h>
#if defined(_WIN32)
#include <windows.h>
#endif

#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "../archive/archive_test_util.h"
#include "platform/result_codes.h"

namespace tvk {
namespace {

using namespace testutil;

class PlantedTarget : public ArchiveTest {
 protected:
  void SetUp() override {
    ArchiveTest::SetUp();
    fs::create_directories(out_);
    fs::create_directories(dir_ / "outside");
  }
  void DropCallbacks() {
    ReaderCallbacks none{};
    reader_.SetCallbacks(&none);
  }
  // Everything below dir_/outside, with the bytes of each file.
  std::vector<std::string> Outside() {
    std::vector<std::string> all;
    for (auto& e : fs::recursive_directory_iterator(dir_ / "outside")) {
      std::string rel = fs::relative(e.path(), dir_).generic_string();
      all.push_back(e.is_regular_file() ? rel + "=" + ReadAll(e.path()) : rel);
    }
    std::sort(all.begin(), all.end());
    return all;
  }
};

#if !defined(_WIN32)
uint32_t ModeOf(const fs::path& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// A folder link made beforehand in a shared target must not carry files out
// of it: not through the decoding thread, not through the output thread, not
// at any depth, and not for a folder entry either.
TEST_F(PlantedTarget, FolderLinksBelowTheTargetAreNeverFollowed) {
  WriteAll(dir_ / "outside/tool", "the user's program");
  fs::permissions(dir_ / "outside/tool", fs::perms(0555));
  const std::vector<std::string> before = Outside();
  struct Case {
    const char* link;  // below the target, pointing at dir_/outside
    std::vector<Item> items;
  };
  std::vector<Case> cases = {
      {"pkg", {{File("pkg\\new.txt"), B("new")}}},
      {"pkg", {{File("pkg\\tool"), B("replaced")}}},
      {"pkg", {{File("pkg\\sub\\deeper.txt"), B("deep")}}},
      {"a/b", {{File("a\\b\\c\\d.txt"), B("d")}}},
      {"pkg", {{Folder("pkg"), {}}}},
      {"pkg", {{Folder("pkg\\made"), {}}}},
      {"a/b", {{Folder("a\\b"), {}}, {File("a\\b\\later.txt"), B("later")}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.items.front().shape.name);
    // Each case on its own (a case that failed leaves its damage).
    ForceRemove(dir_ / "outside");
    WriteAll(dir_ / "outside/tool", "the user's program");
    fs::permissions(dir_ / "outside/tool", fs::perms(0555));
    // Asked (the name is looked up first and the output thread makes a free
    // one) and replacing without asking (the decoding thread makes it).
    for (uint32_t quiet : {0u, 1u}) {
      SCOPED_TRACE(quiet);
      DropCallbacks();
      fs::path link = out_ / c.link;
      fs::create_directories(link.parent_path());
      fs::create_directory_symlink(dir_ / "outside", link);
      fs::path a = Write({}, c.items);
      Host host;
      host.overwriteAnswers = {kOverwriteReplace, kOverwriteReplace};
      ExtractOptions o = Options();
      o.replaceWithoutAsking = quiet;
      EXPECT_EQ(Extract(a, &host, {"*.*"}, &o), kErrFileAccess);
      reader_.Close();
      EXPECT_EQ(Outside(), before);
      EXPECT_EQ(ModeOf(dir_ / "outside/tool"), 0555u);
      EXPECT_TRUE(fs::is_symlink(link));
      ForceRemove(out_);
      fs::create_directories(out_);
    }
  }
}

// The same names below real folders are made as usual, through both threads.
TEST_F(PlantedTarget, RealFoldersBelowTheTargetStillWork) {
  fs::create_directories(out_ / "pkg");
  WriteAll(out_ / "pkg/old.txt", "old");
  fs::path a = Write({}, {{Folder("pkg\\made"), {}},
                          {File("pkg\\new.txt"), B("new")},
                          {File("pkg\\old.txt"), B("replaced")},
                          {File("x\\y\\z.txt"), B("z")}});
  for (uint32_t quiet : {0u, 1u}) {
    DropCallbacks();
    Host host;
    host.overwriteAnswers = {kOverwriteReplace};
    ExtractOptions o = Options();
    o.replaceWithoutAsking = quiet;
    ASSERT_EQ(Extract(a, &host, {"*.*"}, &o), 0u);
    reader_.Close();
    EXPECT_TRUE(fs::is_directory(out_ / "pkg/made"));
    EXPECT_EQ(ReadAll(out_ / "pkg/new.txt"), "new");
    EXPECT_EQ(ReadAll(out_ / "pkg/old.txt"), "replaced");
    EXPECT_EQ(ReadAll(out_ / "x/y/z.txt"), "z");
    WriteAll(out_ / "pkg/old.txt", "old");
  }
  // A target that is itself reached through a link is the user's choice.
  fs::create_directories(dir_ / "real");
  fs::create_directory_symlink(dir_ / "real", dir_ / "chosen");
  DropCallbacks();
  Host host;
  ExtractOptions o = Options();
  std::snprintf(o.targetFolder, sizeof o.targetFolder, "%s", Internal(dir_ / "chosen").c_str());
  ASSERT_EQ(Extract(a, &host, {"*.*"}, &o), 0u);
  EXPECT_EQ(ReadAll(dir_ / "real/x/y/z.txt"), "z");
}

// No temporary name fits beside the file (the folder leaves fewer than 13
// characters): the entry ends with an error, and what stands under the name
// (the user's read-only file, a link to another one, a file a damaged entry
// would have replaced) stays exactly as it was.
TEST_F(PlantedTarget, NoRoomForATemporaryNameLeavesTheExistingFileAlone) {
  fs::path deep = out_;
  while (Internal(deep).size() + 1 < kPathSize - 12) {
    size_t room = kPathSize - 12 - Internal(deep).size() - 2;
    deep /= std::string(room > 200 ? 200 : room, 'd');
  }
  ASSERT_GE(Internal(deep).size() + 1 + 13, size_t{kPathSize});
  ASSERT_LT(Internal(deep).size() + 1 + 5, size_t{kPathSize});
  // Planted again for each case: a case that failed leaves its damage.
  auto plant = [&] {
    ForceRemove(deep);
    ForceRemove(dir_ / "outside");
    fs::create_directories(deep);
    WriteAll(dir_ / "outside/ro.txt", "read-only outside");
    fs::permissions(dir_ / "outside/ro.txt", fs::perms(0444));
    fs::create_symlink(dir_ / "outside/ro.txt", deep / "l.txt");
    WriteAll(deep / "o.txt", "own");
    fs::permissions(deep / "o.txt", fs::perms(0444));
    WriteAll(deep / "k.txt", "kept");
  };

  EntrySpec broken = File("k.txt");
  broken.crc = 0x12345678;  // the data does not match it
  for (const Item& item : {Item{File("l.txt"), B("through the link")}, Item{File("o.txt"), B("over")},
                           Item{broken, B("damaged data")}}) {
    SCOPED_TRACE(item.shape.name);
    for (uint32_t keepBroken : {0u, 1u}) {
      plant();
      DropCallbacks();
      fs::path a = Write({}, {item});
      Host host;
      ExtractOptions o = Options();
      std::snprintf(o.targetFolder, sizeof o.targetFolder, "%s", Internal(deep).c_str());
      o.replaceWithoutAsking = 1;
      o.continueAfterErrors = keepBroken;
      uint32_t err = Extract(a, &host, {"*.*"}, &o);
      reader_.Close();
      if (!keepBroken) {
        EXPECT_EQ(err, kErrFileAccess);
      }
      EXPECT_EQ(ReadAll(dir_ / "outside/ro.txt"), "read-only outside");
      EXPECT_EQ(ModeOf(dir_ / "outside/ro.txt"), 0444u);
      EXPECT_TRUE(fs::is_symlink(deep / "l.txt"));
      EXPECT_EQ(ReadAll(deep / "o.txt"), "own");
      EXPECT_EQ(ModeOf(deep / "o.txt"), 0444u);
      EXPECT_EQ(ReadAll(deep / "k.txt"), "kept");
    }
  }
  // A free name still works there.
  DropCallbacks();
  fs::path a = Write({}, {{File("n.txt"), B("new")}});
  Host host;
  ExtractOptions o = Options();
  std::snprintf(o.targetFolder, sizeof o.targetFolder, "%s", Internal(deep).c_str());
  EXPECT_EQ(Extract(a, &host, {"*.*"}, &o), 0u);
  EXPECT_EQ(ReadAll(deep / "n.txt"), "new");
}
#endif

// The program (or a volume of its set) stands in the target folder, and the
// target is spelt so that the names differ: the entry aimed at it is still
// refused before anything is written, whatever the spelling.
TEST_F(PlantedTarget, TheProgramAndItsVolumesAreKnownByIdentityNotBySpelling) {
  out_ = dir_ / "out" / "t1" / "t2";
  fs::create_directories(out_ / "t3");
  ArchiveSpec program;
  program.prefix = Bytes(4096, 0x90);
  fs::path p = Write(program, {{File("harmless.txt"), B("ok")}, {File("setup.exe"), B("evil")}},
                     "out/t1/t2/setup.exe");
  const std::string before = ReadAll(p);

  // A volume set: setup.001 lies beside the program and is read after it.
  ArchiveSpec set = program;
  set.volumeSize = 6000;
  Bytes filler(9000);
  for (size_t i = 0; i < filler.size(); ++i) filler[i] = static_cast<uint8_t>(i * 13 + (i >> 7));
  fs::create_directories(dir_ / "vs");
  fs::path v = Write(set, {{File("setup.001"), B("evil volume")}, {File("filler.bin"), filler}},
                     "vs/setup.exe");
  ASSERT_TRUE(fs::exists(dir_ / "vs/setup.001"));
  const std::string volumeBefore = ReadAll(dir_ / "vs/setup.001");

  const fs::path cwd = fs::current_path();
  fs::current_path(out_);
  struct Case {
    std::string target;
    fs::path archive;
  };
  const std::string abs = Internal(out_);
  std::vector<Case> cases;
  for (const std::string& t : {std::string("."), std::string(".\\"), std::string("..\\t2"),
                               std::string("t3\\.."), abs + "\\.", abs + "\\t3\\..\\"}) {
    cases.push_back({t, p});
  }
  for (const std::string& t : {std::string("..\\..\\..\\vs"), Internal(dir_ / "vs") + "\\.",
                               Internal(dir_ / "out") + "\\..\\vs"}) {
    cases.push_back({t, v});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    // Each spelling on its own (a case that failed leaves its damage).
    WriteAll(p, before);
    WriteAll(dir_ / "vs/setup.001", volumeBefore);
    DropCallbacks();
    Host host;
    ExtractOptions o = Options();
    std::snprintf(o.targetFolder, sizeof o.targetFolder, "%s", c.target.c_str());
    o.replaceWithoutAsking = 1;
    EXPECT_EQ(Extract(c.archive, &host, {"*.*"}, &o), kErrOverwritesArchive);
    reader_.Close();
    EXPECT_TRUE(ReadAll(p) == before) << "the program was replaced";
    EXPECT_TRUE(ReadAll(dir_ / "vs/setup.001") == volumeBefore) << "the volume was replaced";
    fs::remove(out_ / "harmless.txt");
  }
  fs::current_path(cwd);
}

}  // namespace
}  // namespace tvk
