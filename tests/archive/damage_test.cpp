// Archives damaged at random: every walk, listing and test run must end
// with an error code or success, never a crash, a hang or a file written.
#include <gtest/gtest.h>

#include <random>

#include "archive/format.h"
#include "archive_test_util.h"
#include "platform/result_codes.h"

namespace tvk {
namespace {

using namespace testutil;

bool KnownCode(uint32_t code) {
  switch (code) {
    case 0: case kErrCancelled: case kErrFileAccess: case kErrMemory: case kErrMethod:
    case kErrBadPassword: case kErrCrc: case kErrVersion: case kErrData: case kErrNotArchive:
    case kErrContinuation: case kErrMissingVolume: case kErrSignatureFormat:
    case kErrSignatureMismatch: case kErrSignatureOpen:
      return true;
    default:
      return false;
  }
}

class DamageTest : public ArchiveTest {
 protected:
  std::string Sample(bool encryptedHeads) {
    ArchiveSpec shape;
    shape.encryptHeads = encryptedHeads;
    shape.headPassword = "hp";
    CommentFields c;
    c.text = B("comment");
    shape.comment = c;
    EntrySpec timed = File("d/t.bin");
    timed.times = std::array<FileTime, 3>{FileTimeFromUnix(1, 0), FileTimeFromUnix(2, 0),
                                          FileTimeFromUnix(3, 0)};
    timed.unixMode = 0644;
    EntrySpec enc = File("e.bin");
    enc.encryption = 2;
    enc.password = "pw";
    CommentFields ec;
    ec.form = TextForm::kUtf16;
    ec.text = {'x', 0, 'y', 0};
    enc.comment = ec;
    fs::path a = Write(shape, {{Folder("d"), {}}, {timed, Bytes(3000, 't')}, {enc, Bytes(500, 'e')},
                              {File("s.txt"), B("small")}},
                       encryptedHeads ? "sample-enc.tvk" : "sample.tvk");
    return ReadAll(a);
  }

  void Run(const std::string& bytes, uint32_t seed) {
    fs::path path = dir_ / "damaged.tvk";
    WriteAll(path, bytes);
    Host host;
    host.headerAnswers = {"hp", "hp"};
    host.entryAnswers = {"pw", "pw"};
    Listing l = List(path, &host);
    EXPECT_TRUE(KnownCode(l.error)) << "seed " << seed << " code " << l.error;
    reader_.Close();
    Host tester;
    tester.headerAnswers = {"hp", "hp"};
    tester.entryAnswers = {"pw", "pw"};
    ReaderCallbacks cb = tester.Callbacks();
    reader_.SetCallbacks(&cb);
    if (reader_.Open(Internal(path).c_str()) == 0) {
      uint32_t code = reader_.TestAll();
      EXPECT_TRUE(KnownCode(code)) << "seed " << seed << " code " << code;
    }
    reader_.Close();
  }
};

TEST_F(DamageTest, FlippedBytesAndCutsEndCleanly) {
  for (bool encrypted : {false, true}) {
    std::string good = Sample(encrypted);
    std::mt19937 random(encrypted ? 7 : 3);
    for (uint32_t round = 0; round < 150; ++round) {
      std::string bytes = good;
      uint32_t kind = random() % 3;
      if (kind == 0) {
        bytes.resize(random() % bytes.size());
      } else {
        uint32_t flips = 1 + random() % 4;
        for (uint32_t i = 0; i < flips; ++i) {
          bytes[random() % bytes.size()] ^= static_cast<char>(1 + random() % 255);
        }
      }
      Run(bytes, round);
    }
  }
  EXPECT_TRUE(FilesIn(out_).empty());
}

TEST_F(DamageTest, HeadFieldsAtTheirLimits) {
  // Sizes, name lengths and sub-block chains pushed to the edge, with the
  // heads' checks made right so that the fields themselves are read.
  for (uint32_t variant = 0; variant < 6; ++variant) {
    EntrySpec e = File("edge.bin");
    e.reseal = true;
    e.editHead = [variant](Bytes& head, size_t index) {
      if (index != 0) return;
      switch (variant) {
        case 0: head[25] = head[26] = head[27] = head[28] = 0xFF; break;  // packed size huge
        case 1: head[33] = 0xFF; head[34] = 0xFF; break;                  // name length huge
        case 2: head[3] |= 0x80; break;                                  // 64-bit sizes, short head
        case 3: head[4] |= 0x80; break;                                  // a sub-block that is not there
        case 4: head[4] |= 0x0F; head[12] = 1; break;                    // window code 15
        case 5: head[11] = 12; break;                                    // unknown version
      }
    };
    fs::path a = Write({}, {{e, B("edge data")}}, "edge.tvk");
    std::string bytes = ReadAll(a);
    Run(bytes, variant);
    reader_.Close();
    Host host;
    uint32_t code = Extract(a, &host);
    EXPECT_NE(code, 0u) << variant;
    EXPECT_TRUE(KnownCode(code)) << variant;
    reader_.Close();
  }
  EXPECT_TRUE(FilesIn(out_).empty());
}

}  // namespace
}  // namespace tvk
