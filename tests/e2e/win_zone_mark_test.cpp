// The download mark handed on from the program to the extracted files, over
// a stand-in for the file system's named streams (Wine has none).
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "programs/tvksfx/win32/zone_mark.h"

namespace {

struct FakeStreams {
  std::map<std::string, std::string> streams;  // "path:stream" -> content
  std::set<std::string> volumesWithoutStreams;  // path prefixes
  int writes = 0;
};
FakeStreams* fake = nullptr;

int32_t Read(const char* path, const char* stream, char* buffer, uint32_t size) {
  auto it = fake->streams.find(std::string(path) + ":" + stream);
  if (it == fake->streams.end()) return -1;
  size_t n = std::min<size_t>(size, it->second.size());
  it->second.copy(buffer, n);
  return static_cast<int32_t>(it->second.size());
}

bool Write(const char* path, const char* stream, const char* data, uint32_t size) {
  ++fake->writes;
  fake->streams[std::string(path) + ":" + stream] = std::string(data, size);
  return true;
}

bool HasStreams(const char* path) {
  for (const std::string& prefix : fake->volumesWithoutStreams)
    if (std::string(path).rfind(prefix, 0) == 0) return false;
  return true;
}

const tvk::StreamLayer kFakeLayer = {Read, Write, HasStreams};

class ZoneMarkTest : public ::testing::Test {
 protected:
  void SetUp() override { fake = &streams; }
  void TearDown() override { fake = nullptr; }
  FakeStreams streams;
  tvk::ZoneMark mark{};
};

const char kMark[] = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.org/setup.exe\r\n";

TEST_F(ZoneMarkTest, EveryFileGetsTheProgramsMarkOnVolumesWithStreams) {
  streams.streams["C:\\Downloads\\setup.exe:Zone.Identifier"] = kMark;
  streams.volumesWithoutStreams.insert("F:\\");
  tvk::PrepareZoneMark(&mark, &kFakeLayer, "C:\\Downloads\\setup.exe");
  ASSERT_TRUE(mark.present);
  EXPECT_TRUE(tvk::ApplyZoneMark(mark, "C:\\Out\\a.txt"));
  EXPECT_TRUE(tvk::ApplyZoneMark(mark, "C:\\Out\\sub\\b.dll"));
  EXPECT_EQ(kMark, streams.streams["C:\\Out\\a.txt:Zone.Identifier"]);
  EXPECT_EQ(kMark, streams.streams["C:\\Out\\sub\\b.dll:Zone.Identifier"]);
  // A FAT stick keeps no streams: nothing is attempted there.
  int before = streams.writes;
  EXPECT_FALSE(tvk::ApplyZoneMark(mark, "F:\\c.txt"));
  EXPECT_EQ(before, streams.writes);
}

TEST_F(ZoneMarkTest, NoMarkOnTheProgramMeansNothingIsWritten) {
  tvk::PrepareZoneMark(&mark, &kFakeLayer, "C:\\Tools\\setup.exe");
  EXPECT_FALSE(mark.present);
  EXPECT_FALSE(tvk::ApplyZoneMark(mark, "C:\\Out\\a.txt"));
  EXPECT_EQ(0, streams.writes);
}

TEST_F(ZoneMarkTest, EmptyAndOversizedMarks) {
  // An empty stream is still a mark, copied as it is.
  streams.streams["C:\\e.exe:Zone.Identifier"] = "";
  tvk::PrepareZoneMark(&mark, &kFakeLayer, "C:\\e.exe");
  ASSERT_TRUE(mark.present);
  EXPECT_TRUE(tvk::ApplyZoneMark(mark, "C:\\Out\\e.txt"));
  EXPECT_EQ("", streams.streams["C:\\Out\\e.txt:Zone.Identifier"]);
  // One too long for the buffer is not cut: the files get the Internet zone.
  std::string huge = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.org/" +
                     std::string(tvk::kZoneMarkSize, 'x') + "\r\n";
  streams.streams["C:\\h.exe:Zone.Identifier"] = huge;
  tvk::PrepareZoneMark(&mark, &kFakeLayer, "C:\\h.exe");
  ASSERT_TRUE(mark.present);
  EXPECT_TRUE(tvk::ApplyZoneMark(mark, "C:\\Out\\h.txt"));
  EXPECT_EQ("[ZoneTransfer]\r\nZoneId=3\r\n", streams.streams["C:\\Out\\h.txt:Zone.Identifier"]);
  // A mark of exactly the buffer's size is kept whole.
  std::string exact(tvk::kZoneMarkSize, 'z');
  streams.streams["C:\\x.exe:Zone.Identifier"] = exact;
  tvk::PrepareZoneMark(&mark, &kFakeLayer, "C:\\x.exe");
  EXPECT_TRUE(tvk::ApplyZoneMark(mark, "C:\\Out\\x.txt"));
  EXPECT_EQ(exact, streams.streams["C:\\Out\\x.txt:Zone.Identifier"]);
}

}  // namespace
