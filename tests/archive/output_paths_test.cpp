// Where entries go: the options' folders, hostile names, and names that would
// overwrite the archive itself.
#include <gtest/gtest.h>

#include <algorithm>

#include "archive_test_util.h"
#include "platform/result_codes.h"

namespace tvk {
namespace {

using namespace testutil;

TEST_F(ArchiveTest, EntriesNamedLikeTheArchiveOrItsVolumesAreRefused) {
  fs::create_directories(out_);
  fs::path a = Write({}, {{File("a.tvk"), B("evil")}}, "out/a.tvk");
  std::string before = ReadAll(a);
  Host host;
  EXPECT_EQ(Extract(a, &host), kErrOverwritesArchive);
  EXPECT_EQ(ReadAll(a), before);
  reader_.Close();

  ArchiveSpec multi;
  multi.multiVolume = true;
  fs::path b = Write(multi, {{File("b.001"), B("evil")}}, "out/b.exe");
  EXPECT_EQ(Extract(b, &host), kErrOverwritesArchive);
  // Tests write nothing, so they may pass.
  reader_.Close();
  ASSERT_EQ(reader_.Open(Internal(b).c_str()), 0u);
  EXPECT_EQ(reader_.TestAll(), 0u);
}

TEST_F(ArchiveTest, HostileNamesStayInsideTheTarget) {
  fs::path a = Write({}, {{File("..\\..\\up.txt"), B("1")},
                          {File("/etc/abs.txt"), B("2")},
                          {File("a/../../b.txt"), B("3")},
                          {File("C:\\drive.txt"), B("4")},
                          {File("\\\\srv\\share\\net.txt"), B("5")}});
  Host host;
  ASSERT_EQ(Extract(a, &host), 0u);
  EXPECT_EQ(FilesIn(out_), (std::vector<std::string>{"a/b.txt", "drive.txt", "etc/abs.txt",
                                                     "net.txt", "up.txt"}));
  std::vector<std::string> top;
  for (auto& e : fs::directory_iterator(dir_)) top.push_back(e.path().filename().string());
  std::sort(top.begin(), top.end());
  EXPECT_EQ(top, (std::vector<std::string>{"a.tvk", "out"}));
#if defined(_WIN32)
  // A stream name behind a file, or a drive in the middle of a name, is no
  // name Windows stores: the colon becomes '_', no stream is opened, and the
  // entries behind it are extracted too.
  reader_.Close();
  fs::remove_all(out_);
  fs::path s = Write({}, {{File("x.txt:hidden"), B("ads")},
                          {File("d\\C:e.txt"), B("drive")},
                          {File("COM\xB9.txt"), B("device")},
                          {File("after.txt"), B("after")}},
                     "s.tvk");
  ASSERT_EQ(Extract(s, &host), 0u);
  // The listing comes in UTF-8: the stored Windows-1252 superscript one is
  // C2 B9 there.
  EXPECT_EQ(FilesIn(out_), (std::vector<std::string>{"_COM\xC2\xB9.txt", "after.txt", "d/C_e.txt",
                                                     "x.txt_hidden"}));
  EXPECT_EQ(ReadAll(out_ / "x.txt_hidden"), "ads");
  EXPECT_FALSE(fs::exists(out_ / "x.txt"));
  reader_.Close();
  ASSERT_EQ(reader_.Open(Internal(s).c_str()), 0u);
  EXPECT_EQ(reader_.TestAll(), 0u);
#endif
}

TEST_F(ArchiveTest, OutputPathsFollowTheOptions) {
  fs::path a = Write({}, {{File("base\\sub\\f.txt"), B("f")}, {File("other/g.txt"), B("g")}});
  Host flat;
  ExtractOptions o = Options(false);
  ASSERT_EQ(Extract(a, &flat, {"*.*"}, &o), 0u);
  EXPECT_EQ(FilesIn(out_), (std::vector<std::string>{"f.txt", "g.txt"}));
  reader_.Close();
  fs::remove_all(out_);

  Host based;
  ExtractOptions b = Options(true);
  std::snprintf(b.baseFolder, sizeof(b.baseFolder), "BASE");
  ASSERT_EQ(Extract(a, &based, {"*.*"}, &b), 0u);
  EXPECT_EQ(FilesIn(out_), (std::vector<std::string>{"other/g.txt", "sub/f.txt"}));
  EXPECT_EQ(based.started, (std::vector<std::string>{"\\base\\sub\\f.txt", "\\other\\g.txt"}));
}

}  // namespace
}  // namespace tvk
