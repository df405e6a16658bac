// Output paths below a target folder: folders made on the way, names taken
// reported, and no link below the target followed, not even one swapped in
// after the folder was first reached. File identities whatever the spelling.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "scratch_folder.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

using tvk_test::ReadWholeFile;
using tvk_test::ScratchFolder;
using tvk_test::SystemPath;
using tvk_test::WriteWholeFile;

uint32_t RootOf(const ScratchFolder& dir) { return static_cast<uint32_t>(dir.path().size() + 1); }

bool Make(const ScratchFolder& dir, const std::string& rel, const std::string& content, int* taken = nullptr) {
  tvk::FileHandle h = tvk::CreateNewFileBelow((dir / rel).c_str(), RootOf(dir), 0644, taken);
  if (h == TVK_INVALID_FILE) return false;
  bool ok = tvk::FileWrite(h, content.data(), static_cast<uint32_t>(content.size())) ==
            static_cast<int32_t>(content.size());
  return tvk::FileClose(h) == 1 && ok;
}

TEST(OutputPaths, FoldersAreMadeAndTakenNamesReported) {
  ScratchFolder dir;
  const uint32_t root = RootOf(dir);
  int taken = -1;
  ASSERT_TRUE(Make(dir, "a\\b\\c.txt", "c", &taken));
  EXPECT_EQ(taken, 0);
  EXPECT_TRUE(tvk::IsFolder((dir / "a\\b").c_str()));
  // A file, a folder: both are taken, and neither is touched.
  EXPECT_FALSE(Make(dir, "a\\b\\c.txt", "again", &taken));
  EXPECT_EQ(taken, 1);
  EXPECT_EQ(ReadWholeFile(dir / "a\\b\\c.txt"), "c");
  EXPECT_FALSE(Make(dir, "a\\b", "x", &taken));
  EXPECT_EQ(taken, 1);
  // A file where a folder must go: not taken, just impossible.
  EXPECT_FALSE(Make(dir, "a\\b\\c.txt\\d.txt", "x", &taken));
  EXPECT_EQ(taken, 0);
  EXPECT_EQ(tvk::MakeFoldersBelow((dir / "a\\b\\c.txt").c_str(), root), 0);
  EXPECT_EQ(tvk::MakeFoldersBelow((dir / "p\\q\\r").c_str(), root), 1);
  EXPECT_TRUE(tvk::IsFolder((dir / "p\\q\\r").c_str()));
  // Nothing climbs above the root.
  EXPECT_FALSE(Make(dir, "p\\..\\..\\up.txt", "x"));
  EXPECT_EQ(tvk::MakeFoldersBelow((dir / "..\\up").c_str(), root), 0);

  ASSERT_TRUE(Make(dir, "a\\b\\new.tmp", "new"));
  EXPECT_EQ(tvk::RenameBelow((dir / "a\\b\\new.tmp").c_str(), (dir / "a\\b\\c.txt").c_str(), root), 1);
  EXPECT_EQ(ReadWholeFile(dir / "a\\b\\c.txt"), "new");
  EXPECT_FALSE(tvk::FileExists((dir / "a\\b\\new.tmp").c_str()));
  EXPECT_EQ(tvk::DeleteBelow((dir / "a\\b\\c.txt").c_str(), root), 1);
  EXPECT_FALSE(tvk::FileExists((dir / "a\\b\\c.txt").c_str()));
  EXPECT_EQ(tvk::DeleteBelow((dir / "a\\b\\c.txt").c_str(), root), 0);

  // A folder removed and made again between two files is found again.
  tvk::ForgetOutputFolders();
  ASSERT_TRUE(Make(dir, "gone\\1.txt", "1"));
  std::filesystem::remove_all(SystemPath(dir / "gone"));
  ASSERT_TRUE(Make(dir, "gone\\2.txt", "2"));
  EXPECT_EQ(ReadWholeFile(dir / "gone\\2.txt"), "2");
  tvk::ForgetOutputFolders();
}

TEST(OutputPaths, FileIdentityIgnoresTheSpelling) {
  ScratchFolder dir;
  ASSERT_TRUE(WriteWholeFile(dir / "f.txt", "f"));
  ASSERT_TRUE(WriteWholeFile(dir / "g.txt", "g"));
  ASSERT_EQ(tvk::MakeFolder((dir / "sub").c_str()), 1);
  tvk::FileId a{}, b{}, c{}, d{}, e{};
  ASSERT_EQ(tvk::GetFileId((dir / "f.txt").c_str(), &a), 1);
  ASSERT_EQ(tvk::GetFileId((dir / "sub\\..\\.\\f.txt").c_str(), &b), 1);
  ASSERT_EQ(tvk::GetFileId((dir / "g.txt").c_str(), &c), 1);
  EXPECT_TRUE(tvk::SameFileId(a, b));
  EXPECT_FALSE(tvk::SameFileId(a, c));
  ASSERT_EQ(tvk::GetFileId(dir.path().c_str(), &d), 1);
  ASSERT_EQ(tvk::GetFileId((dir / "sub\\..\\").c_str(), &e), 1);
  EXPECT_TRUE(tvk::SameFileId(d, e));
  EXPECT_EQ(tvk::GetFileId((dir / "none.txt").c_str(), &e), 0);
}

#if defined(_WIN32)
// A directory link below the root is a reparse point: refused on the way.
// Making one needs a privilege (or developer mode) that a run may not have.
TEST(OutputPaths, ReparsePointsBelowTheRootAreRefused) {
  ScratchFolder dir;
  ScratchFolder outside;
  const uint32_t root = RootOf(dir);
  typedef BOOLEAN(WINAPI * MakeLink)(LPCSTR, LPCSTR, DWORD);
  MakeLink make = reinterpret_cast<MakeLink>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA")));
  // SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
  if (!make || (!make((dir / "pkg").c_str(), outside.path().c_str(), 0x3) &&
                !make((dir / "pkg").c_str(), outside.path().c_str(), 0x1))) {
    GTEST_SKIP() << "no directory link can be made here";
  }
  // Wine makes a link that leads nowhere (its attributes cannot be read):
  // nothing to walk through there.
  const DWORD attributes = GetFileAttributesA((dir / "pkg").c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    GTEST_SKIP() << "the link made here is no usable reparse point";
  }
  int taken = -1;
  EXPECT_FALSE(Make(dir, "pkg\\new.txt", "x", &taken));
  EXPECT_EQ(taken, 0);
  EXPECT_FALSE(Make(dir, "pkg\\sub\\new.txt", "x"));
  EXPECT_EQ(tvk::MakeFoldersBelow((dir / "pkg").c_str(), root), 0);
  EXPECT_EQ(tvk::MakeFoldersBelow((dir / "pkg\\made").c_str(), root), 0);
  EXPECT_FALSE(tvk::FileExists((outside / "new.txt").c_str()));
  EXPECT_FALSE(tvk::IsFolder((outside / "sub").c_str()));
  EXPECT_FALSE(tvk::IsFolder((outside / "made").c_str()));
}
#endif

#if !defined(_WIN32)
TEST(OutputPaths, LinksBelowTheRootAreNeverFollowed) {
  namespace fs = std::filesystem;
  ScratchFolder dir;
  ScratchFolder outside;
  const uint32_t root = RootOf(dir);
  ASSERT_TRUE(WriteWholeFile(outside / "victim.txt", "victim"));
  fs::create_directory_symlink(SystemPath(outside.path()), SystemPath(dir / "pkg"));
  ASSERT_EQ(tvk::MakeFolder((dir / "a").c_str()), 1);
  fs::create_directory_symlink(SystemPath(outside.path()), SystemPath(dir / "a\\b"));

  for (const char* rel : {"pkg\\new.txt", "pkg\\sub\\new.txt", "a\\b\\new.txt", "a\\b\\c\\new.txt"}) {
    SCOPED_TRACE(rel);
    int taken = -1;
    EXPECT_FALSE(Make(dir, rel, "x", &taken));
    EXPECT_EQ(taken, 0);
    EXPECT_EQ(tvk::DeleteBelow((dir / rel).c_str(), root), 0);
  }
  EXPECT_EQ(tvk::MakeFoldersBelow((dir / "pkg").c_str(), root), 0);
  EXPECT_EQ(tvk::MakeFoldersBelow((dir / "pkg\\made").c_str(), root), 0);
  EXPECT_EQ(tvk::DeleteBelow((dir / "pkg\\victim.txt").c_str(), root), 0);
  ASSERT_TRUE(Make(dir, "a\\tmp.txt", "tmp"));
  EXPECT_EQ(tvk::RenameBelow((dir / "a\\tmp.txt").c_str(), (dir / "a\\b\\victim.txt").c_str(), root), 0);
  EXPECT_EQ(ReadWholeFile(outside / "victim.txt"), "victim");
  EXPECT_EQ(fs::directory_iterator(SystemPath(outside.path()))->path().filename(), "victim.txt");

  // A folder reached once and then swapped for a link: what follows still
  // goes to the folder itself, never through the link.
  ASSERT_TRUE(Make(dir, "swap\\first.txt", "1"));
  fs::rename(SystemPath(dir / "swap"), SystemPath(dir / "moved"));
  fs::create_directory_symlink(SystemPath(outside.path()), SystemPath(dir / "swap"));
  ASSERT_TRUE(WriteWholeFile(outside / "first.txt", "outside"));
  EXPECT_EQ(tvk::DeleteBelow((dir / "swap\\first.txt").c_str(), root), 1);
  EXPECT_TRUE(Make(dir, "swap\\second.txt", "2"));
  EXPECT_EQ(ReadWholeFile(outside / "first.txt"), "outside");
  EXPECT_FALSE(fs::exists(SystemPath(outside / "second.txt")));
  // A run that starts afresh walks again and meets the link.
  tvk::ForgetOutputFolders();
  EXPECT_FALSE(Make(dir, "swap\\third.txt", "3"));
  EXPECT_FALSE(fs::exists(SystemPath(outside / "third.txt")));
}
#endif

}  // namespace
