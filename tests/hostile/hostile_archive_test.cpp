// Archives built to attack the reader: names that try to leave the target
// folder, entries aimed at the archive itself, size and length fields at
// their limits, lying heads, comment and decompression bombs, deep and wide
// trees. Each ends with its error code and nothing written outside.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "../archive/archive_test_util.h"
#include "archive/format.h"
#include "platform/result_codes.h"
#include "writer/audio_encoder.h"
#include "writer/lz_encoder.h"

namespace tvk {
namespace {

using namespace testutil;

class HostileArchive : public ArchiveTest {
 protected:
  // Every regular file and folder below dir_ that is neither the target
  // folder's content nor an archive written by the test.
  std::vector<std::string> Strays() {
    std::vector<std::string> strays;
    for (auto& e : fs::recursive_directory_iterator(dir_)) {
      fs::path rel = fs::relative(e.path(), dir_);
      std::string first = rel.begin()->string();
      if (first == "out" || rel.extension() == ".tvk" || rel.extension() == ".exe" ||
          rel.extension() == ".001")
        continue;
      strays.push_back(rel.generic_string());
    }
    return strays;
  }

  // Hosts live in loop bodies here; the reader keeps the callbacks of the
  // last one across Close, so they are dropped before the next pass.
  void DropCallbacks() {
    ReaderCallbacks none{};
    reader_.SetCallbacks(&none);
  }

  // Places the test's scratch folder deeper, so that '..' steps out of the
  // target land in folders the test can watch.
  void SetUp() override {
    ArchiveTest::SetUp();
    out_ = dir_ / "out" / "t1" / "t2";
    fs::create_directories(out_);
  }
};

TEST_F(HostileArchive, NamesCannotLeaveTheTargetInAnyForm) {
  const std::string up85 = [] {
    std::string s;
    for (int i = 0; i < 85; ++i) s += "..\\";
    return s;
  }();
  struct Case {
    std::string name;
    bool oem = false;
    bool folder = false;
  };
  std::vector<Case> cases = {
      {"..\\..\\e1"},
      {"../../e2"},
      {"..\\/..\\/e3"},
      {"\\e4"},
      {"/" + (dir_ / "e5").generic_string()},
      {"C:..\\e6"},
      {"\\\\?\\C:\\..\\e7"},
      {"\\\\server\\share\\..\\..\\e8"},
      {"a\\..\\..\\..\\e9"},
      {"....\\....\\e10"},
      {".\\..\\.\\..\\e11"},
      {"..\\x\x8e\\..\\..\\e12", true},
      {up85 + "e13"},
      {"..\\..\\e14dir", false, true},
      {"a/..\\../e15"},
      {"..\\..", false, true},
      {" ..\\e16"},
      {"..\t\\e17"},
      {"\\\\..\\..\\e18"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EntrySpec s = c.folder ? Folder(c.name) : File(c.name);
    s.oemName = c.oem;
    fs::path a = Write({}, {{s, c.folder ? Bytes{} : B("x")}});
    for (bool keepPaths : {true, false}) {
      SCOPED_TRACE(keepPaths);
      DropCallbacks();
      Host host;
      host.overwriteAnswers = {kOverwriteReplace};
      ExtractOptions o = Options(keepPaths);
      uint32_t err = Extract(a, &host, {"*.*"}, &o);
      reader_.Close();
#if defined(_WIN32)
      // Windows also refuses what would name a drive or a stream.
      EXPECT_TRUE(err == 0 || err == kErrData) << err;
#else
      EXPECT_EQ(err, 0u);
      // The file lands somewhere below the target.
      if (!c.folder) {
        EXPECT_EQ(FilesIn(out_).size(), 1u);
      }
#endif
      EXPECT_EQ(Strays(), std::vector<std::string>{});
      EXPECT_FALSE(fs::exists("/e4"));
      ForceRemove(out_);
      fs::create_directories(out_);
    }
  }

  // A file whose name cleans away to nothing would be the target folder
  // itself: it cannot be created, and nothing else is touched.
  fs::path b = Write({}, {{File(".."), B("x")}}, "b.tvk");
  Host host;
  host.overwriteAnswers = {kOverwriteReplace};
  EXPECT_EQ(Extract(b, &host), kErrFileAccess);
  EXPECT_EQ(Strays(), std::vector<std::string>{});
}

TEST_F(HostileArchive, BaseFolderCannotBeUsedToClimbOut) {
  fs::path a = Write({}, {{File("base\\..\\..\\e1"), B("1")}, {File("base\\..\\e2"), B("2")},
                          {File("base2\\e3"), B("3")}});
  Host host;
  ExtractOptions o = Options();
  std::snprintf(o.baseFolder, sizeof o.baseFolder, "%s", "base");
  // "base2\\e3" loses "base2" and keeps its root, which the target guard
  // refuses as invalid data.
  EXPECT_EQ(Extract(a, &host, {"*.*"}, &o), kErrData);
  EXPECT_EQ(Strays(), std::vector<std::string>{});
  EXPECT_EQ(FilesIn(out_), (std::vector<std::string>{"e1", "e2"}));
}

#if !defined(_WIN32)
// A link planted under an output name (the archive cannot make one) is
// replaced by the extracted file; what it points to outside stays as it was.
TEST_F(HostileArchive, LinksPlantedUnderOutputNamesAreReplacedNotFollowed) {
  fs::path outside = dir_ / "outside.txt";
  WriteAll(outside, "keep");
  fs::create_symlink(outside, out_ / "x.txt");
  fs::create_symlink(dir_ / "nowhere.txt", out_ / "y.txt");  // dangling
  fs::path a = Write({}, {{File("x.txt"), B("new x")}, {File("y.txt"), B("new y")}});
  Host host;
  host.overwriteAnswers = {kOverwriteReplace, kOverwriteReplace};
  ASSERT_EQ(Extract(a, &host), 0u);
  EXPECT_EQ(ReadAll(outside), "keep");
  EXPECT_FALSE(fs::exists(dir_ / "nowhere.txt"));
  EXPECT_FALSE(fs::is_symlink(out_ / "x.txt"));
  EXPECT_EQ(ReadAll(out_ / "x.txt"), "new x");
  EXPECT_EQ(ReadAll(out_ / "y.txt"), "new y");
  EXPECT_EQ(Strays(), std::vector<std::string>{"outside.txt"});
}
#endif

TEST_F(HostileArchive, EntriesAimedAtTheProgramOrAVolumeAreRefused) {
  // The program stands in the target folder, as it does when run from there.
  ArchiveSpec program;
  program.prefix = Bytes(4096, 0x90);
  for (const char* name : {"setup.exe", ".\\setup.exe", "..\\setup.exe", "/setup.exe"}) {
    SCOPED_TRACE(name);
    DropCallbacks();
    fs::path p = Write(program, {{File("harmless.txt"), B("ok")}, {File(name), B("evil")}},
                       "out/t1/t2/setup.exe");
    std::string before = ReadAll(p);
    Host host;
    EXPECT_EQ(Extract(p, &host), kErrOverwritesArchive);
    reader_.Close();
    EXPECT_EQ(ReadAll(p), before);
    fs::remove(out_ / "harmless.txt");
  }
  // Folder paths dropped: a stored folder cannot hide the name.
  fs::path p = Write(program, {{File("sub\\dir\\setup.exe"), B("evil")}}, "out/t1/t2/setup.exe");
  std::string before = ReadAll(p);
  Host host;
  ExtractOptions o = Options(false);
  EXPECT_EQ(Extract(p, &host, {"*.*"}, &o), kErrOverwritesArchive);
  reader_.Close();
  EXPECT_EQ(ReadAll(p), before);

  ArchiveSpec multi = program;
  multi.multiVolume = true;
  fs::path m = Write(multi, {{File("setup.002"), B("evil")}}, "out/t1/t2/setup.exe");
  EXPECT_EQ(Extract(m, &host), kErrOverwritesArchive);
  reader_.Close();
  EXPECT_FALSE(fs::exists(out_ / "setup.002"));
}

TEST_F(HostileArchive, SizeFieldsNearTheTopOfTheRange) {
  for (uint64_t packed : {~0ull, 1ull << 63, (1ull << 63) - 1, 100ull}) {
    for (uint64_t unpacked : {~0ull, 1ull << 63, 5ull}) {
      SCOPED_TRACE(testing::Message() << packed << " " << unpacked);
      DropCallbacks();
      EntrySpec e = File("big.bin");
      e.largeSizes = true;
      e.packedSize = packed;
      e.unpackedSize = unpacked;
      fs::path a = Write({}, {{e, B("hello")}});
      Listing l = List(a);
      reader_.Close();
      EXPECT_TRUE(l.error == 0 || l.error == kErrData) << l.error;
      uint32_t tested = reader_.Open(Internal(a).c_str());
      if (tested == 0) tested = reader_.TestAll();
      reader_.Close();
      EXPECT_TRUE(tested == kErrData || tested == kErrCrc) << tested;
      Host host;
      uint32_t extracted = Extract(a, &host);
      reader_.Close();
      EXPECT_TRUE(extracted == kErrData || extracted == kErrCrc) << extracted;
      // Nothing half-written stays behind.
      EXPECT_EQ(FilesIn(out_), std::vector<std::string>{});
    }
  }
}

TEST_F(HostileArchive, RecoveryLengthsThatOverflow) {
  for (auto [a, b] : {std::pair<uint64_t, uint64_t>{~0ull, ~0ull}, {1ull << 56, 0}, {0, ~0ull},
                      {(1ull << 55) + 1, 1ull << 63}}) {
    SCOPED_TRACE(testing::Message() << a << " " << b);
    DropCallbacks();
    fs::path path = dir_ / "r.tvk";
    {
      FileOutput output(path.string(), true);
      ArchiveWriter writer({}, &output);
      ASSERT_TRUE(writer.AddEntry(File("a.txt"), B("a")));
      RecoveryFields r;
      r.a = a;
      r.b = b;
      ASSERT_TRUE(writer.AddRawHead(BuildRecoveryHead(r)));
      ASSERT_TRUE(writer.AddEntry(File("b.txt"), B("b")));
      ASSERT_TRUE(writer.Finish());
    }
    Listing l = List(path);
    reader_.Close();
    EXPECT_NE(l.error, 0u);
    Host host;
    EXPECT_NE(Extract(path, &host), 0u);
    reader_.Close();
    EXPECT_EQ(Strays(), std::vector<std::string>{});
  }
}

// The archive's bytes with the first entry head's size field set to size and
// its HeadCheck made good over the bytes that size now covers.
Bytes WithLyingSize(Bytes archive, uint32_t size) {
  size_t at = archive[5] | archive[6] << 8;  // behind the main header
  archive[at + 5] = static_cast<uint8_t>(size);
  archive[at + 6] = static_cast<uint8_t>(size >> 8);
  if (size >= 2 && at + size <= archive.size()) {
    uint32_t check = EntryCrc(archive.data() + at + 2, size - 2);
    archive[at] = static_cast<uint8_t>(check);
    archive[at + 1] = static_cast<uint8_t>(check >> 8);
  }
  return archive;
}

TEST_F(HostileArchive, HeadsWhoseSizeLies) {
  MemoryOutput memory;
  {
    ArchiveWriter writer({}, &memory);
    EntrySpec e = File("liar.txt");
    e.times = std::array<FileTime, 3>{};
    CommentFields c;
    c.text = B("entry comment");
    e.comment = c;
    ASSERT_TRUE(writer.AddEntry(e, B("data")));
    ASSERT_TRUE(writer.AddEntry(File("after.txt"), B("x")));
    ASSERT_TRUE(writer.Finish());
  }
  const Bytes good = memory.volumes.at(0);
  // Shorter than the fixed fields, shorter than the name, one byte off either
  // way, into the data, past the end.
  const size_t real = good[(good[5] | good[6] << 8) + 5] | good[(good[5] | good[6] << 8) + 6] << 8;
  for (uint32_t size : {0u, 6u, 7u, 20u, 34u, 36u, static_cast<uint32_t>(real - 1),
                        static_cast<uint32_t>(real + 1), static_cast<uint32_t>(real + 30), 0xFFFFu}) {
    SCOPED_TRACE(size);
    DropCallbacks();
    Bytes bad = WithLyingSize(good, size);
    fs::path a = dir_ / "liar.tvk";
    std::ofstream(a, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bad.data()), static_cast<std::streamsize>(bad.size()));
    Listing l = List(a);
    reader_.Close();
    Host host;
    uint32_t err = Extract(a, &host);
    reader_.Close();
    // Either the lie is caught, or the walk reads something else that fails
    // its own checks; a file may come out only with the bytes it had.
    EXPECT_TRUE(l.error == kErrData || l.error == kErrNotArchive || l.error == 0) << l.error;
    EXPECT_NE(err, 0u);
    if (fs::exists(out_ / "liar.txt")) {
      EXPECT_EQ(ReadAll(out_ / "liar.txt"), "data");
    }
    EXPECT_EQ(Strays(), std::vector<std::string>{});
    ForceRemove(out_);
    fs::create_directories(out_);
  }
}

TEST_F(HostileArchive, CommentBombs) {
  // Comments near the largest a reader takes, on the archive and on many
  // entries, list; a comment beyond it ends the walk as invalid data.
  ArchiveSpec shape;
  CommentFields big;
  big.text = Bytes(8000, 'C');
  shape.comment = big;
  std::vector<Item> items;
  for (int i = 0; i < 200; ++i) {
    EntrySpec e = File("f" + std::to_string(i));
    e.comment = big;
    items.push_back({e, B("x")});
  }
  fs::path a = Write(shape, items);
  Listing l = List(a);
  reader_.Close();
  EXPECT_EQ(l.error, 0u);
  EXPECT_EQ(l.entries.size(), 200u);

  for (bool onArchive : {true, false}) {
    SCOPED_TRACE(onArchive);
    DropCallbacks();
    CommentFields huge;
    huge.text = Bytes(65000, 'H');
    ArchiveSpec s2;
    EntrySpec e = File("c.txt");
    if (onArchive) {
      s2.comment = huge;
    } else {
      e.comment = huge;
    }
    fs::path b = Write(s2, {{e, B("x")}}, "b.tvk");
    l = List(b);
    reader_.Close();
    EXPECT_EQ(l.error, kErrData);
    Host host;
    EXPECT_EQ(Extract(b, &host), kErrData);
    reader_.Close();
    EXPECT_EQ(FilesIn(out_), std::vector<std::string>{});
  }
}

// An entry whose packed stream repeats one byte: a few kilobytes that unpack
// to whatever size the head claims.
Bytes Bomb(uint32_t unpacked) {
  Bytes zeros(unpacked, 0);
  LzOptions o;
  o.level = 1;
  return EncodeLz(zeros.data(), zeros.size(), o);
}

TEST_F(HostileArchive, DecompressionBombWritesOnlyTheUnpackedSize) {
  const uint32_t real = 3u << 20;
  Bytes packed = Bomb(real);
  ASSERT_LT(packed.size(), real / 100);
  // Claimed smaller than the stream: only the claimed bytes are written and
  // the run ends with an error.
  EntrySpec e = File("bomb.bin");
  e.method = 3;
  e.dictCode = 7;
  e.packed = packed;
  e.unpackedSize = 1u << 19;
  e.crc = EntryCrc(Bytes(real, 0).data(), real);
  fs::path a = Write({}, {{e, {}}});
  Host host;
  uint32_t err = Extract(a, &host);
  reader_.Close();
  EXPECT_NE(err, 0u);
  if (fs::exists(out_ / "bomb.bin")) {
    EXPECT_LE(fs::file_size(out_ / "bomb.bin"), 1u << 19);
  }

  // Claimed larger than the stream gives: the stream runs dry.
  DropCallbacks();
  e.unpackedSize = 5ull << 30;
  fs::path b = Write({}, {{e, {}}}, "b.tvk");
  ASSERT_EQ(reader_.Open(Internal(b).c_str()), 0u);
  EXPECT_EQ(reader_.TestAll(), kErrData);
  reader_.Close();
}

TEST_F(HostileArchive, AudioStreamLongerThanItsEntry) {
  // The audio stream's own lengths say how much it yields; an entry that
  // claims less may not make a larger file, even with a CRC that fits.
  Bytes wave = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                1, 0, 1, 0, 0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0, 2, 0, 16, 0,
                'd', 'a', 't', 'a', 0x40, 0x9C, 0, 0};
  for (int i = 0; i < 20000; ++i) {
    int16_t v = static_cast<int16_t>((i * 37) % 3000 - 1500);
    wave.push_back(static_cast<uint8_t>(v));
    wave.push_back(static_cast<uint8_t>(v >> 8));
  }
  Bytes audio;
  uint32_t crc = 0;
  ASSERT_TRUE(EncodeAudio(wave.data(), wave.size(), &audio, &crc));
  const uint64_t size = wave.size();
  for (uint64_t claimed : {uint64_t{0}, uint64_t{100}, size - 1, size}) {
    SCOPED_TRACE(claimed);
    DropCallbacks();
    EntrySpec e = File("sound.wav");
    e.method = fmt::kMethodAudio;
    e.packed = audio;
    e.crc = crc;
    e.unpackedSize = claimed;
    fs::path a = Write({}, {{e, {}}});
    // Refused as invalid data, which the CRC check turns into a CRC error
    // unless the refused bytes were the last ones.
    auto refused = [](uint32_t code) { return code == kErrData || code == kErrCrc; };
    const bool fits = claimed == wave.size();
    ASSERT_EQ(reader_.Open(Internal(a).c_str()), 0u);
    uint32_t tested = reader_.TestAll();
    reader_.Close();
    Host host;
    uint32_t extracted = Extract(a, &host);
    reader_.Close();
    EXPECT_TRUE(fits ? tested == 0 : refused(tested)) << tested;
    EXPECT_TRUE(fits ? extracted == 0 : refused(extracted)) << extracted;
    if (fits) {
      EXPECT_EQ(ReadAll(out_ / "sound.wav"), std::string(wave.begin(), wave.end()));
    } else {
      EXPECT_EQ(FilesIn(out_), std::vector<std::string>{});
    }
    ForceRemove(out_);
  }
}

TEST_F(HostileArchive, DeepAndWideTrees) {
  // As deep as a stored name and the path limit allow.
  size_t room = std::min<size_t>(270, kPathSize - 2 - Internal(out_).size());
#if defined(_WIN32)
  room -= 24;  // a folder path on Windows leaves room for an 8.3 name
#endif
  std::string deep;
  while (deep.size() + 10 < room) deep += "d\\";
  deep += "leaf.txt";
  std::vector<Item> items = {{File(deep), B("deep")}};
  for (int i = 0; i < 3000; ++i) {
    items.push_back({File("w\\" + std::to_string(i % 30) + "\\" + std::to_string(i) + ".txt"),
                     B(std::to_string(i))});
  }
  fs::path a = Write({}, items);
  Host host;
  ASSERT_EQ(Extract(a, &host), 0u);
  reader_.Close();
  std::string deepPath = deep;
  std::replace(deepPath.begin(), deepPath.end(), '\\', '/');
  EXPECT_EQ(ReadAll(out_ / deepPath), "deep");
  EXPECT_EQ(FilesIn(out_).size(), 3001u);
  EXPECT_EQ(ReadAll(out_ / "w" / "7" / "2977.txt"), "2977");
}

#if !defined(_WIN32)
TEST_F(HostileArchive, TargetPlusNameBeyondThePathLimit) {
  // A target folder that leaves no room for a 270-byte name: the run ends
  // with an error, never a cut name written somewhere else.
  fs::path target = out_;
  while (target.string().size() < kPathSize - 150) target /= std::string(60, 'p');
  fs::create_directories(target);
  std::string name;
  while (name.size() + 11 < 270) name += "n\\";
  name += "file.txt";
  fs::path a = Write({}, {{File("short.txt"), B("s")}, {File(name), B("long")}});
  Host host;
  ExtractOptions o = Options();
  std::snprintf(o.targetFolder, sizeof o.targetFolder, "%s", Internal(target).c_str());
  uint32_t err = Extract(a, &host, {"*.*"}, &o);
  reader_.Close();
  EXPECT_NE(err, 0u);
  EXPECT_EQ(Strays(), std::vector<std::string>{});
  for (const std::string& f : FilesIn(out_)) {
    EXPECT_TRUE(f.find("file.txt") == std::string::npos || f.size() > 270) << f;
  }
}
#endif

}  // namespace
}  // namespace tvk
