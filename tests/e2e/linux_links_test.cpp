// Symbolic links packed as links by tvk and made again by tvk x and by the
// static self-extractor: the same tree seen without following any link, and
// nothing written where a link points.
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "linux_harness.h"

namespace tvk::e2e {
namespace {

using LinuxLinks = LinuxSfx;

// Everything below root as lstat sees it: a link's target, a folder, a
// file's mode and bytes.
std::map<std::string, std::string> LstatView(const fs::path& root) {
  std::map<std::string, std::string> view;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string rel = it->path().lexically_relative(root).string();
    struct stat st {};
    if (lstat(it->path().c_str(), &st) != 0) {
      view[rel] = "gone";
    } else if (S_ISLNK(st.st_mode)) {
      view[rel] = "-> " + fs::read_symlink(it->path()).string();
    } else if (S_ISDIR(st.st_mode)) {
      view[rel] = "folder";
    } else {
      view[rel] = std::to_string(st.st_mode & 0777 & ~CurrentUmask()) + ": " + ReadFile(it->path());
    }
  }
  return view;
}

// A file link, a folder link, a loop back to the top, a dangling link, and
// links out of the tree (relative and absolute) to a folder that must stay
// as it is.
void MakeLinkedTree(const fs::path& dir) {
  const fs::path tree = dir / "src/tree";
  WriteFile(tree / "docs/readme.txt", "read me\n");
  WriteFile(tree / "bin/run.sh", "#!/bin/sh\n");
  fs::permissions(tree / "bin/run.sh", fs::perms(0755));
  WriteFile(dir / "outside/secret.txt", "not the archive's\n");
  fs::create_symlink("docs/readme.txt", tree / "file-link");
  fs::create_directory_symlink("docs", tree / "folder-link");
  fs::create_directory_symlink("..", tree / "bin/loop");
  fs::create_symlink("nothing/here", tree / "dangling");
  fs::create_directory_symlink("../../../outside", tree / "docs/out");
  fs::create_symlink((dir / "outside/secret.txt").string(), tree / "absolute");
}

TEST_F(LinuxLinks, LinksComeBackAsLinksFromTvkAndTheSelfExtractor) {
  MakeLinkedTree(dir_);
  const auto original = LstatView(dir_ / "src/tree");
  ASSERT_EQ(original.at("bin/loop"), "-> ..");
  const auto outsideBefore = LstatView(dir_ / "outside");
  // Both packing paths: files side by side, and one solid stream.
  for (const char* options : {"", "-s -m4"}) {
    SCOPED_TRACE(options);
    fs::remove_all(dir_ / "x-out");
    fs::remove_all(dir_ / "sfx-out");
    Pack("links.tvk", std::string(options) + " -f");
    // One entry per link (2 files, 6 links); nothing behind a link is packed.
    Result l = Tvk("l links.tvk");
    ASSERT_EQ(l.code, 0) << l.output;
    EXPECT_TRUE(Contains(l.output, "tree/file-link -> docs/readme.txt\n")) << l.output;
    EXPECT_TRUE(Contains(l.output, "tree/docs/out -> ../../../outside\n")) << l.output;
    EXPECT_TRUE(Contains(l.output, "8 files")) << l.output;
    EXPECT_FALSE(Contains(l.output, "tree/docs/out/")) << l.output;
    EXPECT_FALSE(Contains(l.output, "tree/folder-link/")) << l.output;

    Result x = Tvk("x -q -o x-out links.tvk");
    EXPECT_EQ(x.code, 0) << x.output;
    EXPECT_EQ(LstatView(dir_ / "x-out/tree"), original);

    BuildSfx("setup", "links.tvk", QuietInto("sfx-out"));
    Result r = RunSfx("setup");
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(LstatView(dir_ / "sfx-out/tree"), original);
    EXPECT_EQ(LstatView(dir_ / "outside"), outsideBefore);
  }

  // Extracting over the same tree again replaces the links (asked, or not)
  // and still writes nothing through them.
  Result again = Tvk("x -q -y -o x-out links.tvk");
  EXPECT_EQ(again.code, 0) << again.output;
  EXPECT_EQ(LstatView(dir_ / "x-out/tree"), original);
  Result rerun = RunSfx("setup");
  EXPECT_EQ(rerun.code, 0) << rerun.output;
  EXPECT_EQ(LstatView(dir_ / "sfx-out/tree"), original);
  EXPECT_EQ(LstatView(dir_ / "outside"), outsideBefore);
}

}  // namespace
}  // namespace tvk::e2e
