// Path splitting and joining, and folder creation along a path seen through
// the injected folder hooks (no drive or share needs to exist).
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

std::string Folder(const char* path, uint32_t size = tvk::kPathSize) {
  std::vector<char> out(size, 'x');
  tvk::FolderPart(out.data(), size, path);
  return out.data();
}

TEST(Paths, AddAndRemoveBackslash) {
  char p[tvk::kPathSize];
  strcpy(p, "C:\\a");
  char* end = tvk::AddBackslash(p);
  EXPECT_STREQ(p, "C:\\a\\");
  EXPECT_EQ(end, p + 5);
  EXPECT_EQ(tvk::AddBackslash(p), p + 5);  // already there
  EXPECT_STREQ(p, "C:\\a\\");
  p[0] = '\0';
  EXPECT_EQ(tvk::AddBackslash(p), p);  // empty stays empty
  EXPECT_STREQ(p, "");

  // A text that would not fit with its backslash is left alone.
  std::string full(tvk::kPathSize - 1, 'a');
  strcpy(p, full.c_str());
  EXPECT_EQ(tvk::AddBackslash(p), nullptr);
  EXPECT_EQ(strlen(p), full.size());
  p[tvk::kPathSize - 2] = '\0';
  EXPECT_NE(tvk::AddBackslash(p), nullptr);
  EXPECT_EQ(strlen(p), full.size());

  const char* kept[] = {"C:\\", "\\", "\\a\\", "abc"};
  for (const char* k : kept) {
    strcpy(p, k);
    tvk::RemoveBackslash(p);
    EXPECT_STREQ(p, k);
  }
  strcpy(p, "C:\\a\\");
  tvk::RemoveBackslash(p);
  EXPECT_STREQ(p, "C:\\a");
}

TEST(Paths, NameAndFolderParts) {
  EXPECT_STREQ(tvk::NamePart("C:file.txt"), "file.txt");
  EXPECT_EQ(Folder("C:file.txt"), "C:");
  EXPECT_STREQ(tvk::NamePart("C:\\dir\\sub\\file.txt"), "file.txt");
  EXPECT_EQ(Folder("C:\\dir\\sub\\file.txt"), "C:\\dir\\sub\\");
  EXPECT_STREQ(tvk::NamePart("plain.txt"), "plain.txt");
  EXPECT_EQ(Folder("plain.txt"), "");
  EXPECT_STREQ(tvk::NamePart("C:\\dir\\"), "");
  EXPECT_EQ(Folder("C:\\dir\\"), "C:\\dir\\");
  // A colon behind the last backslash does not count.
  EXPECT_STREQ(tvk::NamePart("a\\b:c"), "b:c");
  EXPECT_EQ(Folder("\\\\server\\share\\x"), "\\\\server\\share\\");
  // Cut to the output's size.
  EXPECT_EQ(Folder("C:\\dir\\file", 4), "C:\\");

  char name[8] = "junk";
  tvk::CopyNamePart(name, sizeof(name), nullptr);
  EXPECT_STREQ(name, "");
  tvk::CopyNamePart(name, sizeof(name), "C:\\d\\file.txt");
  EXPECT_STREQ(name, "file.tx");
}

TEST(Paths, Extensions) {
  EXPECT_STREQ(tvk::Extension("C:\\a\\b.txt"), ".txt");
  EXPECT_STREQ(tvk::Extension("archive.tar.gz"), ".gz");
  EXPECT_EQ(tvk::Extension("C:\\a\\b"), nullptr);
  // The search runs over the whole text, not only the name.
  EXPECT_STREQ(tvk::Extension("C:\\a.d\\b"), ".d\\b");

  char p[tvk::kPathSize];
  strcpy(p, "C:\\x\\setup.exe");
  EXPECT_EQ(tvk::ChangeExtension(p, ".tvk"), 1);
  EXPECT_STREQ(p, "C:\\x\\setup.tvk");
  EXPECT_EQ(tvk::ChangeExtension(p, ""), 1);
  EXPECT_STREQ(p, "C:\\x\\setup");
  EXPECT_EQ(tvk::ChangeExtension(p, ""), 1);
  EXPECT_STREQ(p, "C:\\x\\setup");
  EXPECT_EQ(tvk::ChangeExtension(p, ".r00"), 1);
  EXPECT_STREQ(p, "C:\\x\\setup.r00");

  std::string longName(tvk::kPathSize - 3, 'n');
  strcpy(p, longName.c_str());
  EXPECT_EQ(tvk::ChangeExtension(p, ".ab"), 0);  // would need kPathSize + 1
  EXPECT_STREQ(p, longName.c_str());
  EXPECT_EQ(tvk::ChangeExtension(p, ".a"), 1);
  EXPECT_EQ(strlen(p), tvk::kPathSize - 1);
}

TEST(Paths, ParentRootAndWithoutRoot) {
  struct Case {
    const char* in;
    int result;
    const char* out;
  } cases[] = {
      {"C:\\a\\b", 1, "C:\\a"},  {"C:\\a", 1, "C:\\"},   {"C:\\", 0, "C:\\"},
      {"C:a", 1, "C:"},          {"C:", 0, "C:"},         {"\\a\\b", 1, "\\a"},
      {"\\a", 1, "\\"},          {"\\", 0, "\\"},         {"a", 1, ""},
      {"\\\\srv\\share\\x", 1, "\\\\srv\\share"},          {"\\\\srv\\share", 1, "\\\\srv"},
      {"", 0, ""},
  };
  for (const Case& c : cases) {
    char p[tvk::kPathSize];
    strcpy(p, c.in);
    EXPECT_EQ(tvk::ParentPath(p), c.result) << c.in;
    EXPECT_STREQ(p, c.out) << c.in;
  }

  EXPECT_TRUE(tvk::IsRoot("C:\\"));
  EXPECT_TRUE(tvk::IsRoot("\\"));
  EXPECT_TRUE(tvk::IsRoot("\\\\server"));
  EXPECT_TRUE(tvk::IsRoot("\\\\server\\share"));
  EXPECT_FALSE(tvk::IsRoot("\\\\server\\share\\"));
  EXPECT_FALSE(tvk::IsRoot("C:"));
  EXPECT_FALSE(tvk::IsRoot("C:\\a"));
  EXPECT_FALSE(tvk::IsRoot("\\a"));
  EXPECT_FALSE(tvk::IsRoot(""));

  char root[tvk::kPathSize];
  EXPECT_EQ(tvk::RootOf("C:\\a\\b\\c.txt", root, sizeof(root)), 1);
  EXPECT_STREQ(root, "C:\\");
  EXPECT_EQ(tvk::RootOf("\\home\\user\\x", root, sizeof(root)), 1);
  EXPECT_STREQ(root, "\\");
  EXPECT_EQ(tvk::RootOf("\\\\srv\\share\\a\\b", root, sizeof(root)), 1);
  EXPECT_STREQ(root, "\\\\srv\\share");
  EXPECT_EQ(tvk::RootOf("rel\\a", root, sizeof(root)), 0);
  EXPECT_STREQ(root, "");

  EXPECT_STREQ(tvk::WithoutRoot("C:\\a\\b"), "a\\b");
  EXPECT_STREQ(tvk::WithoutRoot("\\\\srv\\share\\a\\b"), "a\\b");
  EXPECT_STREQ(tvk::WithoutRoot("\\\\srv\\share"), "");
  EXPECT_STREQ(tvk::WithoutRoot("\\a\\b"), "a\\b");
  EXPECT_STREQ(tvk::WithoutRoot("rel\\a"), "rel\\a");
  EXPECT_STREQ(tvk::WithoutRoot("C:rel"), "C:rel");
}

TEST(Paths, NthBackslashAndSlashes) {
  const char* p = "C:\\ab\\c\\d";
  EXPECT_EQ(tvk::NthBackslash(p, 1), 2u);
  EXPECT_EQ(tvk::NthBackslash(p, 2), 5u);
  EXPECT_EQ(tvk::NthBackslash(p, 3), 7u);
  EXPECT_EQ(tvk::NthBackslash(p, 4), strlen(p));
  EXPECT_EQ(tvk::NthBackslash("", 1), 0u);

  char s[] = "a/b\\c//d";
  tvk::SlashesToBackslashes(s);
  EXPECT_STREQ(s, "a\\b\\c\\\\d");
}

#if !defined(_WIN32)
TEST(Paths, MultiByteNamesSplitOnWholeCharacters) {
  // "Ordner\Grüße.txt" in UTF-8: the umlauts' bytes never end a step early.
  const char* p = "Ordner\\Gr\xC3\xBC\xC3\x9F" "e.txt";
  EXPECT_STREQ(tvk::NamePart(p), "Gr\xC3\xBC\xC3\x9F" "e.txt");
  EXPECT_STREQ(tvk::Extension(p), ".txt");
  const char* u = "\xC3\xBC";
  EXPECT_EQ(tvk::NextChar(u), u + 2);
  EXPECT_EQ(tvk::PrevChar(u, u + 2), u);
  // A stray continuation byte is a character of its own.
  const char* stray = "a\x80";
  EXPECT_EQ(tvk::PrevChar(stray, stray + 2), stray + 1);
  EXPECT_EQ(tvk::NextChar(stray + 1), stray + 2);
  char q[32];
  strcpy(q, "\\d\\\xE2\x82\xAC\\");
  tvk::RemoveBackslash(q);
  EXPECT_STREQ(q, "\\d\\\xE2\x82\xAC");

  char sys[32], back[32];
  EXPECT_EQ(tvk::ToSystemPath("\\home\\a b\\c", sys, sizeof(sys)), 1);
  EXPECT_STREQ(sys, "/home/a b/c");
  EXPECT_EQ(tvk::FromSystemPath(sys, back, sizeof(back)), 1);
  EXPECT_STREQ(back, "\\home\\a b\\c");
  EXPECT_EQ(tvk::ToSystemPath("\\home\\a b\\c", sys, 11), 0);
}
#endif

// Folder creation through the hooks: a set of folders that "exist", a log of
// what was created, and an optional prefix whose creation fails.
struct FakeFolders {
  static std::set<std::string> existing;
  static std::vector<std::string> created;
  static std::string failOn;
  static int probes;
  // As the system does: nothing made where something is, or where the
  // parent is missing (roots count as there).
  static int Create(const char* path) {
    std::string p = path;
    size_t cut = p.rfind('\\');
    std::string parent = cut == std::string::npos ? "" : p.substr(0, cut);
    bool rootParent = parent.empty() || parent == "C:" || parent == "\\\\server\\share";
    if (failOn == path || existing.count(p) || (!rootParent && !existing.count(parent))) return 0;
    created.push_back(path);
    existing.insert(path);
    return 1;
  }
  static int Probe(const char* path) {
    ++probes;
    return existing.count(path) ? 1 : 0;
  }
};
int FakeFolders::probes = 0;
std::set<std::string> FakeFolders::existing;
std::vector<std::string> FakeFolders::created;
std::string FakeFolders::failOn;

class MakeFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeFolders::existing.clear();
    FakeFolders::created.clear();
    FakeFolders::failOn.clear();
    tvk::SetFolderHooks(&FakeFolders::Create, &FakeFolders::Probe);
  }
  void TearDown() override { tvk::SetFolderHooks(nullptr, nullptr); }
};

TEST_F(MakeFoldersTest, DrivePathCreatesEveryLevelBelowTheRoot) {
  EXPECT_EQ(tvk::MakeFolders("C:\\a\\b\\c"), 1);
  EXPECT_EQ(FakeFolders::created, (std::vector<std::string>{"C:\\a", "C:\\a\\b", "C:\\a\\b\\c"}));

  // Existing levels are kept, only the missing ones are made.
  FakeFolders::created.clear();
  EXPECT_EQ(tvk::MakeFolders("C:\\a\\b\\d\\e"), 1);
  EXPECT_EQ(FakeFolders::created, (std::vector<std::string>{"C:\\a\\b\\d", "C:\\a\\b\\d\\e"}));

  // An existing folder answers at once.
  FakeFolders::created.clear();
  EXPECT_EQ(tvk::MakeFolders("C:\\a\\b"), 1);
  EXPECT_TRUE(FakeFolders::created.empty());
}

TEST_F(MakeFoldersTest, StopsAtTheFirstFailure) {
  FakeFolders::failOn = "C:\\a\\b";
  EXPECT_EQ(tvk::MakeFolders("C:\\a\\b\\c"), 0);
  EXPECT_EQ(FakeFolders::created, (std::vector<std::string>{"C:\\a"}));
}

TEST_F(MakeFoldersTest, NetworkPathLeavesServerAndShareAlone) {
  EXPECT_EQ(tvk::MakeFolders("\\\\server\\share\\a\\b"), 1);
  EXPECT_EQ(FakeFolders::created, (std::vector<std::string>{"\\\\server\\share\\a", "\\\\server\\share\\a\\b"}));
}

TEST_F(MakeFoldersTest, RootedAndRelativePaths) {
  EXPECT_EQ(tvk::MakeFolders("\\home\\u\\x"), 1);
  EXPECT_EQ(FakeFolders::created, (std::vector<std::string>{"\\home", "\\home\\u", "\\home\\u\\x"}));
  FakeFolders::created.clear();
  EXPECT_EQ(tvk::MakeFolders("out\\x"), 1);
  EXPECT_EQ(FakeFolders::created, (std::vector<std::string>{"out", "out\\x"}));
}

TEST_F(MakeFoldersTest, ForDropsATrailingBackslash) {
  EXPECT_EQ(tvk::MakeFoldersFor("C:\\a\\b\\"), 1);
  EXPECT_EQ(FakeFolders::created, (std::vector<std::string>{"C:\\a", "C:\\a\\b"}));
  FakeFolders::created.clear();
  FakeFolders::existing.insert("C:\\");
  EXPECT_EQ(tvk::MakeFoldersFor("C:\\"), 1);
  EXPECT_TRUE(FakeFolders::created.empty());
}

// Extraction makes one folder below an existing deep one again and again:
// that must cost a few lookups, not one per level, and a trailing backslash
// is no level of its own.
TEST_F(MakeFoldersTest, ADeepPathMissingOnlyItsLastLevelIsCheap) {
  std::string deep = "C:";
  for (int i = 0; i < 12; ++i) {
    deep += "\\d" + std::to_string(i);
    FakeFolders::existing.insert(deep);
  }
  FakeFolders::probes = 0;
  EXPECT_EQ(tvk::MakeFolders((deep + "\\new\\").c_str()), 1);
  EXPECT_EQ(FakeFolders::created, (std::vector<std::string>{deep + "\\new"}));
  EXPECT_LE(FakeFolders::probes, 2);
}

}  // namespace
