// Whole archives from the writer, taken apart again by the test walker.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tests/writer/walk.h"
#include "writer/archive_writer.h"

namespace tvk {
namespace {

using testing::Entries;
using testing::Le16;
using testing::Le32;
using testing::NameOf;
using testing::Walk;
using testing::WalkedBlock;
using testing::WalkedVolume;

Bytes Data(size_t n, uint8_t seed = 1) {
  Bytes b(n);
  uint32_t x = seed;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    b[i] = static_cast<uint8_t>(x >> 16);
  }
  return b;
}

EntrySpec Named(const std::string& name) {
  EntrySpec e;
  e.name = name;
  return e;
}

EntrySpec Method(EntrySpec e, uint8_t method) {
  e.method = method;
  return e;
}

Bytes Slice(const Bytes& v, uint64_t at, uint64_t n) { return Bytes(v.begin() + at, v.begin() + at + n); }

TEST(ArchiveWriter, PlainArchiveWithEveryKindOfBlock) {
  MemoryOutput out;
  ArchiveSpec shape;
  shape.comment = CommentFields{TextForm::kAnsi, {'h', 'e', 'y'}, 0, {}};
  ArchiveWriter w(shape, &out);

  EntrySpec folder;
  folder.name = "docs";
  folder.folder = true;
  folder.attributes = 0x10;
  ASSERT_TRUE(w.AddEntry(folder));

  EntrySpec file;
  file.name = "docs\\a.txt";
  file.dosTime = 0x3D5309AE;
  file.times = std::array<FileTime, 3>{FileTime{1, 2}, FileTime{3, 4}, FileTime{5, 6}};
  file.unixMode = 0755;
  file.subBlocks.push_back(SubBlock::Extension("ZZTV", {9, 9}));
  file.comment = CommentFields{TextForm::kOem, {0x81}, 0, {}};
  Bytes data = Data(1000);
  ASSERT_TRUE(w.AddEntry(file, data));

  RecoveryFields rec;
  rec.value = 5;
  rec.a = 0;
  rec.b = 4;
  ASSERT_TRUE(w.AddRecovery(rec, 0xEE));
  ASSERT_TRUE(w.AddRawHead(MakeHead('Q', 0, {1, 2, 3})));
  EntrySpec empty;
  empty.name = "empty";
  ASSERT_TRUE(w.AddEntry(empty));
  ASSERT_TRUE(w.Finish()) << w.Error();

  ASSERT_EQ(out.volumes.size(), 1u);
  const Bytes& v = out.volumes[0];
  WalkedVolume walked = Walk(v);
  ASSERT_TRUE(walked.ok) << walked.problem;
  EXPECT_EQ(walked.mainAt, 0u);
  EXPECT_EQ(walked.mainFlags, fmt::kArcComment);
  EXPECT_EQ(Bytes(walked.mainComment.begin() + 13, walked.mainComment.end()), Bytes({'h', 'e', 'y'}));

  const auto& b = walked.blocks;
  // V, D, PHTV, UXTV, ZZTV, comment, X, Q, D, S
  ASSERT_EQ(b.size(), 10u);
  for (const WalkedBlock& block : b) EXPECT_TRUE(block.checkOk) << block.position;
  EXPECT_EQ(b[0].type, 'V');
  EXPECT_EQ(NameOf(b[0]), "docs");
  EXPECT_EQ(b[1].type, 'D');
  EXPECT_EQ(b[1].flags, fmt::kFlagSubBlock | fmt::kEntryComment);
  EXPECT_EQ(NameOf(b[1]), "docs\\a.txt");
  EXPECT_EQ(Le32(&b[1].head[13]), EntryCrc(data.data(), data.size()));
  EXPECT_EQ(Le32(&b[1].head[21]), 0x3D5309AEu);
  EXPECT_EQ(Le32(&b[1].head[17]), uint32_t(kAttrArchive));
  EXPECT_EQ(b[1].head[11], 11);
  EXPECT_EQ(Slice(v, b[1].dataStart, b[1].dataLength), data);
  // The chain: every sub-block but the last announces another.
  EXPECT_EQ(std::string(b[2].head.begin() + 7, b[2].head.begin() + 11), "PHTV");
  EXPECT_EQ(b[2].flags, fmt::kFlagSubBlock);
  EXPECT_EQ(std::string(b[3].head.begin() + 7, b[3].head.begin() + 11), "UXTV");
  EXPECT_EQ(Le32(&b[3].head[11]), 0755u);
  EXPECT_EQ(b[3].flags, fmt::kFlagSubBlock);
  EXPECT_EQ(std::string(b[4].head.begin() + 7, b[4].head.begin() + 11), "ZZTV");
  EXPECT_EQ(b[4].flags, 0);
  EXPECT_TRUE(b[5].comment);
  EXPECT_EQ(b[5].flags, fmt::kCommentOem);
  EXPECT_EQ(b[6].type, 'X');
  EXPECT_EQ(Slice(v, b[6].dataStart, b[6].dataLength), Bytes(8, 0xEE));
  EXPECT_EQ(b[7].type, 'Q');
  EXPECT_EQ(b[8].type, 'D');
  EXPECT_EQ(Le32(&b[8].head[13]), 0xFFFFFFFFu);  // the register over no bytes
  EXPECT_EQ(b[9].type, 'S');
  EXPECT_EQ(b[9].position + 7, v.size());
}

TEST(ArchiveWriter, EncryptedHeadsAndEntries) {
  MemoryOutput out;
  ArchiveSpec shape;
  shape.encryptHeads = true;
  shape.headPassword = "head pw";
  shape.solid = true;
  shape.comment = CommentFields{TextForm::kAnsi, {'c'}, 0, {}};
  ArchiveWriter w(shape, &out);
  Bytes data1 = Data(33, 2), data2 = Data(16, 3);
  EntrySpec e1;
  e1.name = "one";
  e1.encryption = 1;
  e1.password = "entry pw";
  e1.times = std::array<FileTime, 3>{};
  ASSERT_TRUE(w.AddEntry(e1, data1));
  EntrySpec e2;
  e2.name = "two";
  e2.encryption = 2;
  e2.password = "entry pw";
  e2.solid = true;
  ASSERT_TRUE(w.AddEntry(e2, data2));
  ASSERT_TRUE(w.Finish());

  const Bytes& v = out.volumes[0];
  // The main header itself stays readable.
  EXPECT_EQ(std::string(v.begin() + 7, v.begin() + 12), "-tvk-");
  std::string wrong = "wrong";
  WalkedVolume bad = Walk(v, &wrong);
  EXPECT_TRUE(!bad.ok || bad.blocks.empty() || !bad.blocks[0].checkOk);

  std::string pw = shape.headPassword;
  WalkedVolume walked = Walk(v, &pw);
  ASSERT_TRUE(walked.ok) << walked.problem;
  EXPECT_EQ(walked.mainFlags, fmt::kArcEncryptedHeads | fmt::kArcSolid | fmt::kArcComment);
  auto entries = Entries(walked);
  ASSERT_EQ(entries.size(), 2u);
  for (const WalkedBlock& b : walked.blocks) {
    EXPECT_TRUE(b.checkOk);
    EXPECT_EQ(b.lengthInFile, 2 + (b.head.size() + 7) / 8 * 8);
  }
  EXPECT_EQ(entries[0].flags, fmt::kEntryEncrypted1 | fmt::kFlagSubBlock);
  EXPECT_EQ(entries[0].dataLength, 48u);  // padded to whole AES blocks
  EXPECT_EQ(Le32(&entries[0].head[29]), 33u);
  EXPECT_EQ(Slice(v, entries[0].dataStart, 48), EncipherEntryData(1, "entry pw", data1));
  EXPECT_EQ(entries[1].flags, fmt::kEntryEncrypted2 | fmt::kEntrySolid);
  EXPECT_EQ(entries[1].dataLength, 16u);
  EXPECT_EQ(Slice(v, entries[1].dataStart, 16), EncipherEntryData(2, "entry pw", data2));
  EXPECT_EQ(walked.blocks.back().type, 'S');
}

// Puts the parts of every file back together across the volumes.
struct Reassembled {
  std::vector<std::string> names;
  std::vector<Bytes> data;
  std::vector<std::vector<WalkedBlock>> parts;
};

Reassembled Reassemble(const std::vector<Bytes>& volumes, const std::string* pw = nullptr) {
  Reassembled r;
  bool open = false;
  for (const Bytes& v : volumes) {
    WalkedVolume walked = Walk(v, pw);
    EXPECT_TRUE(walked.ok) << walked.problem;
    for (const WalkedBlock& e : Entries(walked)) {
      EXPECT_TRUE(e.checkOk);
      if (e.flags & fmt::kEntryContinued) {
        EXPECT_TRUE(open) << NameOf(e);
        EXPECT_EQ(NameOf(e), r.names.back());
      } else {
        EXPECT_FALSE(open) << NameOf(e);
        r.names.push_back(NameOf(e));
        r.data.emplace_back();
        r.parts.emplace_back();
      }
      r.parts.back().push_back(e);
      Bytes part = Slice(v, e.dataStart, e.dataLength);
      r.data.back().insert(r.data.back().end(), part.begin(), part.end());
      open = (e.flags & fmt::kEntryContinues) != 0;
    }
  }
  EXPECT_FALSE(open);
  return r;
}

TEST(ArchiveWriter, VolumeSetsSplitEntriesAndMarkTheLastVolume) {
  for (bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted ? "encrypted" : "plain");
    MemoryOutput out;
    ArchiveSpec shape;
    shape.volumeSize = 300;
    shape.encryptHeads = encrypted;
    shape.headPassword = "h";
    shape.comment = CommentFields{TextForm::kAnsi, {'c'}, 0, {}};
    ArchiveWriter w(shape, &out);
    std::vector<Bytes> data = {Data(1000, 1), Data(10, 2), Data(0, 3), Data(555, 4)};
    for (size_t i = 0; i < data.size(); ++i) {
      EntrySpec e;
      e.name = std::string(1, 'f').append(std::to_string(i));
      e.dosTime = 0x12345678;
      e.attributes = 0x21;
      e.times = std::array<FileTime, 3>{FileTime{7, 7}, FileTime{8, 8}, FileTime{9, 9}};
      e.comment = CommentFields{TextForm::kAnsi, {'e'}, 0, {}};
      if (encrypted) {
        e.encryption = 2;
        e.password = "p";
      }
      ASSERT_TRUE(w.AddEntry(e, data[i])) << w.Error();
    }
    ASSERT_TRUE(w.Finish());
    ASSERT_GE(out.volumes.size(), 5u);
    for (size_t i = 0; i < out.volumes.size(); ++i) {
      EXPECT_LE(out.volumes[i].size(), 300u) << i;
      uint16_t flags = Le16(&out.volumes[i][3]);
      EXPECT_TRUE(flags & fmt::kArcMultiVolume);
      EXPECT_EQ((flags & fmt::kArcLastVolume) != 0, i + 1 == out.volumes.size()) << i;
      EXPECT_EQ((flags & fmt::kArcComment) != 0, i == 0) << i;
    }
    std::string pw = "h";
    Reassembled r = Reassemble(out.volumes, encrypted ? &pw : nullptr);
    ASSERT_EQ(r.names.size(), data.size());
    for (size_t i = 0; i < data.size(); ++i) {
      Bytes expect = encrypted ? EncipherEntryData(2, "p", data[i]) : data[i];
      EXPECT_EQ(r.data[i], expect) << i;
      for (size_t p = 0; p < r.parts[i].size(); ++p) {
        const Bytes& h = r.parts[i][p].head;
        // Every part carries the whole file's size, CRC, time and attributes.
        EXPECT_EQ(Le32(&h[29]), data[i].size());
        EXPECT_EQ(Le32(&h[13]), EntryCrc(data[i].data(), data[i].size()));
        EXPECT_EQ(Le32(&h[21]), 0x12345678u);
        EXPECT_EQ(Le32(&h[17]), 0x21u);
        EXPECT_TRUE(r.parts[i][p].flags & fmt::kFlagSubBlock);  // file times in every part
        EXPECT_EQ((r.parts[i][p].flags & fmt::kEntryComment) != 0, p == 0);
      }
    }
    EXPECT_GT(r.parts[0].size(), 3u);
  }
}

TEST(ArchiveWriter, ExplicitSplitPointsAndForcedVolumes) {
  MemoryOutput out;
  ArchiveSpec shape;
  shape.multiVolume = true;
  ArchiveWriter w(shape, &out);
  Bytes data = Data(100);
  EntrySpec e;
  e.name = "x";
  e.splitAt = {1, 99};
  ASSERT_TRUE(w.AddEntry(e, data));
  ASSERT_TRUE(w.NewVolume());
  EntrySpec f;
  f.name = "y";
  ASSERT_TRUE(w.AddEntry(f, Data(3)));
  ASSERT_TRUE(w.Finish());
  ASSERT_EQ(out.volumes.size(), 4u);
  Reassembled r = Reassemble(out.volumes);
  ASSERT_EQ(r.parts.size(), 2u);
  ASSERT_EQ(r.parts[0].size(), 3u);
  EXPECT_EQ(r.parts[0][0].dataLength, 1u);
  EXPECT_EQ(r.parts[0][1].dataLength, 98u);
  EXPECT_EQ(r.parts[0][2].dataLength, 1u);
  EXPECT_EQ(r.parts[0][0].flags, fmt::kEntryContinues);
  EXPECT_EQ(r.parts[0][1].flags, fmt::kEntryContinues | fmt::kEntryContinued);
  EXPECT_EQ(r.parts[0][2].flags, fmt::kEntryContinued);
  EXPECT_EQ(r.data[0], data);

  // Split points need a volume set.
  MemoryOutput single;
  ArchiveWriter s(ArchiveSpec{}, &single);
  EXPECT_FALSE(s.AddEntry(e, data));
  EXPECT_FALSE(s.NewVolume());
}

TEST(ArchiveWriter, SignatureReplacesTheEndMarker) {
  for (bool encrypted : {false, true}) {
    MemoryOutput out;
    ArchiveSpec shape;
    shape.prefix = Bytes(100, 0x90);
    shape.encryptHeads = encrypted;
    shape.headPassword = "pw";
    uint64_t signedLength = 0;
    Bytes signedBytes;
    shape.signer = [&](VolumeOutput& o, uint32_t volume, uint64_t length, Bytes* record) {
      signedLength = length;
      signedBytes.resize(length);
      EXPECT_TRUE(o.ReadBack(volume, 0, signedBytes.data(), length));
      *record = MakeHead(fmt::kTypeSignature, fmt::kDigestSha256, Bytes(513, 0x42));
      return true;
    };
    ArchiveWriter w(shape, &out);
    ASSERT_TRUE(w.AddEntry(Named("a"), Data(10)));
    ASSERT_TRUE(w.Finish());
    const Bytes& v = out.volumes[0];
    EXPECT_EQ(Slice(v, 0, signedLength), signedBytes);
    std::string pw = "pw";
    WalkedVolume walked = Walk(v, encrypted ? &pw : nullptr);
    ASSERT_TRUE(walked.ok) << walked.problem;
    EXPECT_EQ(walked.mainAt, 100u);
    EXPECT_TRUE(walked.mainFlags & fmt::kArcSigned);
    EXPECT_EQ(walked.blocks.back().type, 'A');
    EXPECT_EQ(walked.blocks.back().head.size(), 520u);
    EXPECT_EQ(walked.blocks.back().position, signedLength);
    EXPECT_EQ(v.size(), signedLength + (encrypted ? 522u : 520u));
  }
}

// A packer that had to start a new solid group says so, and the entry's
// solid flag follows it; one that says nothing keeps the flag asked for.
TEST(ArchiveWriter, PackerDecidesTheSolidFlag) {
  MemoryOutput out;
  ArchiveSpec shape;
  shape.solid = true;
  shape.packer = [](const PackRequest& r, PackResult* result) {
    result->packed.assign(r.data, r.data + r.size);
    if (*r.name == "restarted") result->solid = false;
    return true;
  };
  ArchiveWriter w(shape, &out);
  for (const char* name : {"kept", "restarted"}) {
    EntrySpec e = Method(Named(name), 3);
    e.solid = true;
    ASSERT_TRUE(w.AddEntry(e, Data(40)));
  }
  ASSERT_TRUE(w.Finish());
  auto entries = Entries(Walk(out.volumes[0]));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_TRUE(entries[0].flags & fmt::kEntrySolid);
  EXPECT_FALSE(entries[1].flags & fmt::kEntrySolid);
}

TEST(ArchiveWriter, HooksSetAnyField) {
  MemoryOutput out;
  ArchiveWriter w(ArchiveSpec{}, &out);
  EntrySpec e;
  e.name = "n";
  e.crc = 0x12345678;
  e.unpackedSize = 5;
  e.editHead = [](Bytes& head, size_t index) {
    if (index == 0) head[12] = 9;  // method
  };
  ASSERT_TRUE(w.AddEntry(e, Data(3)));
  EntrySpec broken;
  broken.name = "b";
  broken.reseal = false;
  broken.editHead = [](Bytes& head, size_t) { head[0] ^= 1; };
  ASSERT_TRUE(w.AddEntry(broken, Data(3)));
  ASSERT_TRUE(w.Finish());
  WalkedVolume walked = Walk(out.volumes[0]);
  ASSERT_TRUE(walked.ok);
  auto entries = Entries(walked);
  EXPECT_TRUE(entries[0].checkOk);
  EXPECT_EQ(entries[0].head[12], 9);
  EXPECT_EQ(Le32(&entries[0].head[13]), 0x12345678u);
  EXPECT_EQ(Le32(&entries[0].head[29]), 5u);
  EXPECT_FALSE(entries[1].checkOk);

  // A compressed method without an encoder is refused, not stored.
  MemoryOutput out2;
  ArchiveWriter w2(ArchiveSpec{}, &out2);
  EXPECT_FALSE(w2.AddEntry(Method(Named("m"), 3), Data(3)));
  EXPECT_FALSE(w2.Error().empty());
}

TEST(ArchiveWriter, StreamedStoredEntriesEqualEntriesFromMemory) {
  for (uint32_t kind : {0u, 1u, 2u}) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{17}, size_t{(3 << 20) + 5}}) {
      SCOPED_TRACE(std::to_string(kind) + " " + std::to_string(size));
      Bytes data = Data(size, static_cast<uint8_t>(size));
      ArchiveSpec shape;
      shape.volumeSize = 777777;  // splits the large entry at odd offsets
      EntrySpec e;
      e.name = "big";
      e.encryption = kind;
      e.password = "pw";
      MemoryOutput fromMemory, streamed;
      ArchiveWriter a(shape, &fromMemory);
      ASSERT_TRUE(a.AddEntry(e, data));
      ASSERT_TRUE(a.Finish());
      ArchiveWriter b(shape, &streamed);
      size_t reads = 0;
      ASSERT_TRUE(b.AddStoredEntry(e, size, EntryCrc(data.data(), size),
                                   [&](uint64_t offset, uint8_t* buffer, size_t n) {
                                     EXPECT_LE(offset + n, size);
                                     EXPECT_LE(n, size_t{1} << 20);
                                     std::memcpy(buffer, data.data() + offset, n);
                                     ++reads;
                                     return true;
                                   }));
      ASSERT_TRUE(b.Finish());
      EXPECT_EQ(fromMemory.volumes, streamed.volumes);
    }
  }
  // A source that fails fails the entry.
  MemoryOutput out;
  ArchiveWriter w(ArchiveSpec{}, &out);
  EXPECT_FALSE(w.AddStoredEntry(Named("x"), 100, 0, [](uint64_t, uint8_t*, size_t) { return false; }));
}

TEST(FileOutput, NamesVolumesAndRefusesExistingFiles) {
  std::string base = std::string(TVK_BINARY_DIR) + "/writer_fileoutput.tvk";
  for (uint32_t i = 0; i < 5; ++i) std::remove((i ? VolumeName(base, i) : base).c_str());
  {
    FileOutput out(base);
    ArchiveSpec shape;
    shape.volumeSize = 200;
    ArchiveWriter w(shape, &out);
    ASSERT_TRUE(w.AddEntry(Named("a"), Data(400)));
    ASSERT_TRUE(w.Finish()) << w.Error();
    // 25 + 36 + 7 bytes of each volume are heads: 132 bytes of data fit.
    ASSERT_EQ(w.VolumeCount(), 4u);
    EXPECT_EQ(out.Paths()[1], VolumeName(base, 1));
  }
  std::FILE* f = std::fopen(VolumeName(base, 3).c_str(), "rb");
  ASSERT_NE(f, nullptr);
  uint8_t head[5];
  ASSERT_EQ(std::fread(head, 1, 5, f), 5u);
  std::fclose(f);
  EXPECT_TRUE(Le16(&head[3]) & fmt::kArcLastVolume);

  FileOutput again(base);
  ArchiveWriter w(ArchiveSpec{}, &again);
  EXPECT_FALSE(w.Finish());
  EXPECT_NE(again.Error().find("writer_fileoutput"), std::string::npos);
  FileOutput replace(base, true);
  ArchiveWriter w2(ArchiveSpec{}, &replace);
  EXPECT_TRUE(w2.Finish());
  for (uint32_t i = 0; i < 5; ++i) std::remove((i ? VolumeName(base, i) : base).c_str());
}

}  // namespace
}  // namespace tvk
