// The listing, the signature it checks, and the handler's calls, name lists
// and options.
#include <gtest/gtest.h>

#include "archive/format.h"
#include "archive_test_util.h"
#include "platform/result_codes.h"
#if defined(TVK_HAVE_SIGNING)
#include "writer/openssl/signing.h"
#endif

namespace tvk {
namespace {

using namespace testutil;

TEST_F(ArchiveTest, ListingFillsTheInformationRecord) {
  EntrySpec enc = File("secret.bin");
  enc.encryption = 2;
  enc.password = "pw";
  enc.info = 7;
  CommentFields fileComment;
  fileComment.text = B("about a");
  EntrySpec commented = File("a.txt");
  commented.comment = fileComment;
  ArchiveSpec shape;
  shape.solid = true;
  CommentFields archiveComment;
  archiveComment.text = B("Hello");
  shape.comment = archiveComment;
  fs::path a = Write(shape, {{Folder("d"), {}}, {commented, B("aaaa")}, {enc, B("0123456789")}});
  Listing l = List(a);
  ASSERT_EQ(l.error, 0u);
  ASSERT_EQ(l.entries.size(), 3u);
  EXPECT_STREQ(l.entries[0].name, "d\\");
  EXPECT_EQ(l.info.fileCount, 2u);
  EXPECT_EQ(l.info.unpackedTotal, 14u);
  EXPECT_EQ(l.info.packedTotal, 4u + 16u);  // padded to a whole AES block
  EXPECT_EQ(l.info.ratio, 20u * 100 / 14);
  EXPECT_EQ(l.info.encryption, 4u);
  EXPECT_EQ(l.info.commentBits, 3u);
  EXPECT_EQ(l.info.solid, 1u);
  EXPECT_EQ(l.info.infoByte, 7u);
  EXPECT_EQ(l.info.majorVersion, 1u);
  EXPECT_EQ(l.info.minorVersion, 1u);
  EXPECT_EQ(l.info.dictionaryKiB, 32u);
  EXPECT_STREQ(reader_.ArchiveComment(), "Hello");

  // "/" selects nothing; the record counts nothing.
  reader_.Close();
  Listing none = List(a, nullptr, "/");
  EXPECT_EQ(none.error, 0u);
  EXPECT_TRUE(none.entries.empty());
  EXPECT_EQ(none.info.fileCount, 0u);
}

TEST_F(ArchiveTest, SignedFlagWithoutASignatureBlockListsAsUnsigned) {
  ArchiveSpec shape;
  shape.extraMainFlags = fmt::kArcSigned;
  fs::path a = Write(shape, {{File("a.txt"), B("a")}});
  Listing l = List(a);
  EXPECT_EQ(l.error, 0u);
  EXPECT_EQ(l.info.signatureValid, 0u);
  EXPECT_EQ(l.entries.size(), 1u);
}

#if defined(TVK_HAVE_SIGNING)
TEST_F(ArchiveTest, ListingChecksTheSignature) {
  std::string master, signer, error;
  ASSERT_TRUE(signing::ReadTextFile(TVK_MASTER_KEY_FILE, &master, &error)) << error;
  ASSERT_TRUE(signing::GenerateKey(1024, &signer, &error)) << error;
  std::vector<uint8_t> certificate;
  ASSERT_TRUE(signing::IssueCertificate(master, signer, "Test Signer", &certificate, &error))
      << error;
  fs::path scratch = dir_ / "signed-prefix.bin";
  for (bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted);
    ArchiveSpec shape;
    shape.extraMainFlags = fmt::kArcSigned;
    shape.encryptHeads = encrypted;
    shape.headPassword = "hp";
    shape.signer = [&](VolumeOutput& out, uint32_t volume, uint64_t length, Bytes* record) {
      Bytes prefix(length);
      if (!out.ReadBack(volume, 0, prefix.data(), prefix.size())) return false;
      WriteAll(scratch, std::string(prefix.begin(), prefix.end()));
      std::string err;
      return signing::SignFilePrefix(scratch.string(), length, signer, certificate,
                                     signing::kBlockSha256, signing::DosStampNow(), record, &err);
    };
    fs::path a = Write(shape, {{File("a.txt"), B("signed content")}},
                       encrypted ? "enc.tvk" : "plain.tvk");
    Host host;
    host.headerAnswers = {"hp"};
    Listing l = List(a, &host);
    ASSERT_EQ(l.error, 0u);
    EXPECT_EQ(l.info.signatureValid, 1u);
    EXPECT_STREQ(l.info.signer, "Test Signer");
    reader_.Close();

    // One changed byte in front of the block: a mismatch, forgiven only when
    // the options say so.
    std::string bytes = ReadAll(a);
    size_t at = bytes.find("signed content");
    if (at == std::string::npos) at = bytes.size() / 2;
    bytes[at] ^= 1;
    WriteAll(a, bytes);
    Host again;
    again.headerAnswers = {"hp"};
    EXPECT_EQ(List(a, &again).error, kErrSignatureMismatch);
    reader_.Close();
    Host forgiving;
    forgiving.headerAnswers = {"hp"};
    ReaderCallbacks cb = forgiving.Callbacks();
    reader_.SetCallbacks(&cb);
    ASSERT_EQ(reader_.Open(Internal(a).c_str()), 0u);
    ExtractOptions o = Options();
    o.ignoreSignatureMismatch = 1;
    reader_.SetOptions(kOptionsExtraction, &o);
    ArchiveInfo info{};
    EXPECT_EQ(reader_.List(nullptr, nullptr, nullptr, nullptr, &info), 0u);
    EXPECT_EQ(info.signatureValid, 0u);
    reader_.Close();
  }
}
#endif

TEST_F(ArchiveTest, HandlerOperationsNameListsAndOptions) {
  ArchiveHandler generic;
  EXPECT_EQ(generic.List(nullptr, nullptr, nullptr, nullptr, nullptr), kErrNotSupported);
  generic.Close();
  EXPECT_EQ(generic.TestAll(), kErrNotSupported);
  generic.Close();

  EXPECT_EQ(reader_.CreateNameList(2), nullptr);
  EXPECT_EQ(reader_.LastError(), kErrOptions);
  reader_.Close();
  EXPECT_EQ(reader_.LastError(), 0u);

  NameList* list = reader_.CreateNameList(kListNames);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(reader_.AddName(list, "c:\\Docs\\A.txt"), 0u);
  EXPECT_EQ(reader_.AddName(list, "docs\\a.TXT"), 0u);
  EXPECT_EQ(list->count, 2u);
  EXPECT_EQ(list->compare(list->head->item, list->tail->item), 0);
  EXPECT_STREQ(static_cast<NameItem*>(list->head->item)->text, "c:\\Docs\\A.txt");
  reader_.FreeNameList(list);

  // A record one byte short changes nothing.
  fs::path a = Write({}, {{File("x.txt"), B("x")}});
  ASSERT_EQ(reader_.Open(Internal(a).c_str()), 0u);
  ExtractOptions good = Options();
  reader_.SetOptions(kOptionsExtraction, &good);
  ExtractOptions wrong = Options();
  wrong.size = sizeof(ExtractOptions) - 1;
  std::snprintf(wrong.targetFolder, sizeof(wrong.targetFolder), "%s", Internal(dir_ / "elsewhere").c_str());
  reader_.SetOptions(kOptionsExtraction, &wrong);
  EXPECT_EQ(reader_.LastError(), kErrOptions);
  reader_.Close();

  // Kind 1: checked like kind 2; its root switch keeps drive roots in names.
  CompressOptions short1{};
  short1.size = sizeof(CompressOptions) - 1;
  reader_.SetOptions(kOptionsCompression, &short1);
  EXPECT_EQ(reader_.LastError(), kErrOptions);
  reader_.Close();
  fs::path rooted = Write({}, {{File("C:\\x.txt"), B("x")}}, "rooted.tvk");
  ASSERT_EQ(reader_.Open(Internal(rooted).c_str()), 0u);
  CompressOptions keep{};
  keep.size = sizeof(keep);
  keep.keepRoots = 1;
  const char settings[] = "settings";
  keep.settings = settings;
  keep.settingsLength = sizeof(settings);
  reader_.SetOptions(kOptionsCompression, &keep);
  EXPECT_EQ(reader_.LastError(), 0u);
  NameList* all = reader_.CreateNameList(kListNames);
  reader_.AddName(all, "*.*");
  NameList* found = reader_.CreateNameList(kListEntries);
  EXPECT_EQ(reader_.List(all, nullptr, nullptr, found, nullptr), 0u);
  ASSERT_EQ(found->count, 1u);
  EXPECT_STREQ(static_cast<FileEntry*>(found->head->item)->name, "C:\\x.txt");
  reader_.FreeNameList(all);
  reader_.FreeNameList(found);
  reader_.SetOptions(7, &keep);
  EXPECT_EQ(reader_.LastError(), kErrOptions);
  reader_.Close();

  // Close after a failed open frees and clears; the reader opens again.
  WriteAll(dir_ / "not.tvk", "no archive here");
  EXPECT_EQ(reader_.Open(Internal(dir_ / "not.tvk").c_str()), kErrNotArchive);
  reader_.Close();
  EXPECT_EQ(reader_.LastError(), 0u);
  Host host;
  EXPECT_EQ(Extract(a, &host), 0u);
  EXPECT_EQ(ReadAll(out_ / "x.txt"), "x");
}

}  // namespace
}  // namespace tvk
