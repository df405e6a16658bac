// Faults injected under the reader: a full disk, a read error inside an
// entry's data, an existing read-only file, a run stopped half way. Each
// ends with its code, and what was finished before stays whole.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "../archive/archive_test_util.h"
#include "archive/entry_decode.h"
#include "archive/format.h"
#include "crypto/cipher.h"
#include "platform/result_codes.h"
#include "writer/audio_encoder.h"
#include "writer/lz_encoder.h"

namespace tvk {
namespace {

using namespace testutil;

using FaultTest = ArchiveTest;

#if !defined(_WIN32)

TEST_F(FaultTest, FullDiskEndsWithTheWriteErrorAndDeletesThePartialFile) {
  Bytes zeros(3u << 20, 0);
  EntrySpec packed = File("packed.bin");
  packed.method = 3;
  packed.dictCode = 7;
  packed.packed = EncodeLz(zeros.data(), zeros.size(), LzOptions{});
  packed.crc = EntryCrc(zeros.data(), zeros.size());
  packed.unpackedSize = zeros.size();
  Bytes big(1u << 20);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
  for (const Item& victim : {Item{File("stored.bin"), big}, Item{packed, {}}}) {
    SCOPED_TRACE(victim.shape.name);
    fs::path a = Write({}, {{File("first.txt"), B("finished")}, victim, {File("last.txt"), B("z")}});
    int status = WithFileSizeLimit(256 * 1024, [&] {
      Host host;
      uint32_t err = Extract(a, &host);
      reader_.Close();
      if (err != kErrWrite) return 1;
      if (fs::exists(out_ / victim.shape.name)) return 2;  // the partial file
      if (ReadAll(out_ / "first.txt") != "finished") return 3;
      if (fs::exists(out_ / "last.txt")) return 4;  // the run ended there
      return 0;
    });
    EXPECT_EQ(status, 0);
    ForceRemove(out_);
  }

  // The disk fills up while a later entry is still being asked for its
  // password: the wrong first answer and the retry must not hide the failure.
  EntrySpec locked = File("locked.txt");
  locked.encryption = 2;
  locked.password = "right";
  fs::path b = Write({}, {{File("first.txt"), B("finished")}, {File("stored.bin"), big}, {locked, B("secret")}},
                     "b.tvk");
  int status = WithFileSizeLimit(256 * 1024, [&] {
    Host host;
    host.entryAnswers = {"wrong", "right"};
    uint32_t err = Extract(b, &host);
    reader_.Close();
    if (err != kErrWrite) return 1;
    if (fs::exists(out_ / "stored.bin") || fs::exists(out_ / "locked.txt")) return 2;
    if (ReadAll(out_ / "first.txt") != "finished") return 3;
    return 0;
  });
  EXPECT_EQ(status, 0);
}
#endif

// Packed bytes in memory that fail to read after a given offset.
struct FailingSource final : PackedSource {
  Bytes data;
  size_t pos = 0;
  size_t failAt = 0;
  int32_t ReadArchive(void* dest, uint32_t n) override {
    if (pos >= failAt) return -1;
    size_t take = std::min<size_t>(n, failAt - pos);
    std::memcpy(dest, data.data() + pos, take);
    pos += take;
    return static_cast<int32_t>(take);
  }
  bool SwitchVolume() override { return false; }
};

struct NullSink final : EntrySink {
  uint64_t written = 0;
  void Write(const uint8_t*, uint32_t n) override { written += n; }
  void Progress(uint64_t) override {}
};

TEST(ReadFaults, ReadErrorInsideAnEntryIsAFileError) {
  Bytes text;
  uint32_t seed = 12345;
  while (text.size() < 300000) {
    seed = seed * 1103515245u + 12345u;
    text.push_back(static_cast<uint8_t>(seed >> 24));
  }
  Bytes wave = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                1, 0, 1, 0, 0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0, 2, 0, 16, 0,
                'd', 'a', 't', 'a', 0, 0, 0, 0};
  for (int i = 0; i < 100000; ++i) {
    seed = seed * 1103515245u + 12345u;
    int16_t v = static_cast<int16_t>((i * 97) % 4000 - 2000 + (seed >> 20) % 512);
    wave.push_back(static_cast<uint8_t>(v));
    wave.push_back(static_cast<uint8_t>(v >> 8));
  }
  uint32_t dataSize = static_cast<uint32_t>(wave.size() - 44);
  for (int k = 0; k < 4; ++k) wave[40 + k] = static_cast<uint8_t>(dataSize >> (8 * k));
  Bytes audio;
  uint32_t audioCrc = 0;
  ASSERT_TRUE(EncodeAudio(wave.data(), wave.size(), &audio, &audioCrc));
  LzOptions lz;
  lz.windowCode = 2;
  Bytes packedLz = EncodeLz(text.data(), text.size(), lz);

  struct Case {
    const char* name;
    uint32_t method;
    uint32_t encryption;
    Bytes packed;
    uint64_t unpacked;
  };
  std::vector<Case> cases = {
      {"stored", fmt::kMethodStored, 0, text, text.size()},
      {"stored encrypted", fmt::kMethodStored, 2, EncipherEntryData(2, "pw", text), text.size()},
      {"lz", 3, 0, packedLz, text.size()},
      {"lz encrypted", 3, 2, EncipherEntryData(2, "pw", packedLz), text.size()},
      {"audio", fmt::kMethodAudio, 0, audio, wave.size()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PackedInput input;
    ASSERT_TRUE(input.Init());
    FailingSource source;
    source.data = c.packed;
    // Whole bit-buffer loads arrive, then the medium fails: a short read
    // would only look like the end of the data.
    source.failAt = 16384 + 2 * 16352;
    ASSERT_GT(c.packed.size(), source.failAt + 16384);
    uint32_t error = 0;
    DecodeState state{};
    input.source = &source;
    input.error = &error;
    input.state = &state;
    if (c.encryption) {
      ASSERT_TRUE(DeriveEntryKey(&input.key, "pw", 2, c.encryption));
    }
    NullSink sink;
    DecodeRun run{&error, &state, &input, &sink, nullptr, nullptr, nullptr};
    EntryParams e{};
    e.version = fmt::kVersion11;
    e.method = c.method;
    e.flags = 2u << fmt::kEntryDictShift;
    e.packedSize = c.packed.size();
    e.unpackedSize = c.unpacked;
    e.crc = 0x12345678;
    e.encryptionKind = c.encryption;
    DecodeEntry(run, e);
    // Not a CRC or password fault: the bytes were never seen.
    EXPECT_EQ(error, kErrFileAccess);
    EXPECT_LE(sink.written, c.unpacked);
    FreeDecodeRun(run);
    input.Free();
  }
}

#if !defined(_WIN32)
TEST_F(FaultTest, ReadOnlyFileIsReplacedOnlyAfterTheAnswer) {
  fs::path a = Write({}, {{File("ro.txt"), B("new")}});
  fs::path target = out_ / "ro.txt";
  struct Seen {
    fs::path target;
    std::string contentAtQuestion;
  } seen{target, ""};
  for (int answer : {kOverwriteSkip, kOverwriteCancel, kOverwriteReplace}) {
    SCOPED_TRACE(answer);
    WriteAll(target, "old");
    fs::permissions(target, fs::perms::owner_read | fs::perms::group_read);
    Host host;
    host.overwriteAnswers = {answer};
    ReaderCallbacks cb = host.Callbacks();
    // The question comes while the file is still untouched.
    static Seen* current;
    current = &seen;
    cb.overwrite = [](void* u, const FindData* existing, const FindData* entry) {
      current->contentAtQuestion = ReadAll(current->target);
      return Host::Overwrite(u, existing, entry);
    };
    reader_.SetCallbacks(&cb);
    ASSERT_EQ(reader_.Open(Internal(a).c_str()), 0u);
    ExtractOptions o = Options();
    reader_.SetOptions(kOptionsExtraction, &o);
    NameList* list = reader_.CreateNameList(kListNames);
    reader_.AddName(list, "*.*");
    reader_.Extract(list, nullptr, nullptr);
    reader_.FreeNameList(list);
    uint32_t err = reader_.LastError();
    reader_.Close();
    EXPECT_EQ(seen.contentAtQuestion, "old");
    if (answer == kOverwriteReplace) {
      EXPECT_EQ(err, 0u);
      EXPECT_EQ(ReadAll(target), "new");
    } else {
      EXPECT_EQ(err, answer == kOverwriteSkip ? 0u : kErrCancelled);
      EXPECT_EQ(ReadAll(target), "old");
      EXPECT_EQ(fs::status(target).permissions() & fs::perms::owner_write, fs::perms::none);
    }
    fs::permissions(target, fs::perms::owner_write, fs::perm_options::add);
  }
}
#endif

TEST_F(FaultTest, CancelledRunKeepsEveryFinishedFile) {
  Bytes big(400000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i ^ (i >> 8));
  fs::path a = Write({}, {{File("one.txt"), B("1")}, {File("two\\two.txt"), B("22")},
                          {File("three.bin"), big}, {File("four.txt"), B("4444")}});
  // Stopped from the progress callback inside the third entry.
  Host host;
  host.stopProgressAfter = 3;
  EXPECT_EQ(Extract(a, &host), kErrCancelled);
  reader_.Close();
  EXPECT_EQ(FilesIn(out_), (std::vector<std::string>{"one.txt", "two/two.txt"}));
  EXPECT_EQ(ReadAll(out_ / "two" / "two.txt"), "22");
  ForceRemove(out_);

  // Refused at the start of the fourth entry.
  struct Counter {
    Host host;
    int left = 3;
  } counter;
  ReaderCallbacks cb = counter.host.Callbacks();
  cb.entryStartUser = &counter;
  cb.entryStart = [](void* u, const char*, const char*) {
    return --static_cast<Counter*>(u)->left >= 0 ? 1 : 0;
  };
  reader_.SetCallbacks(&cb);
  EXPECT_EQ(Extract(a, nullptr), kErrCancelled);
  EXPECT_EQ(FilesIn(out_), (std::vector<std::string>{"one.txt", "three.bin", "two/two.txt"}));
  EXPECT_EQ(ReadAll(out_ / "three.bin"), std::string(big.begin(), big.end()));
}

}  // namespace
}  // namespace tvk
