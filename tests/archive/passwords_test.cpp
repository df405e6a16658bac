// Entry and header passwords: asked again after a wrong one, and never in a
// loop.
#include <gtest/gtest.h>

#include "archive_test_util.h"
#include "platform/result_codes.h"

namespace tvk {
namespace {

using namespace testutil;

TEST_F(ArchiveTest, WrongEntryPasswordIsAskedAgainAndTheRightOneServesLaterEntries) {
  EntrySpec one = File("one.txt");
  one.encryption = 2;
  one.password = "right";
  EntrySpec two = File("sub\\two.txt");
  two.encryption = 1;
  two.password = "right";
  Bytes big(70000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i % 251);
  fs::path a = Write({}, {{one, big}, {two, B("second")}});
  Host host;
  host.entryAnswers = {"wrong", "right"};
  ASSERT_EQ(Extract(a, &host), 0u);
  EXPECT_EQ(ReadAll(out_ / "one.txt"), std::string(big.begin(), big.end()));
  EXPECT_EQ(ReadAll(out_ / "sub" / "two.txt"), "second");
  EXPECT_EQ(host.entryTriedLast, (std::vector<std::string>{"", "wrong"}));
  EXPECT_EQ(host.entryNames, (std::vector<std::string>{"one.txt", "one.txt"}));
  EXPECT_EQ(host.overwriteExisting.size(), 0u);
  EXPECT_EQ(FilesIn(out_).size(), 2u);
  reader_.Close();

  // A refused prompt cancels; nothing is left behind.
  fs::remove_all(out_);
  Host refuse;
  EXPECT_EQ(Extract(a, &refuse), kErrCancelled);
  EXPECT_TRUE(FilesIn(out_).empty());
}

TEST_F(ArchiveTest, HeaderPasswordRetriesAndAStoredPasswordCannotSpin) {
  ArchiveSpec shape;
  shape.encryptHeads = true;
  shape.headPassword = "hp";
  CommentFields c;
  c.text = B("hidden");
  shape.comment = c;
  fs::path a = Write(shape, {{File("a.txt"), B("alpha")}, {File("b.txt"), B("beta")}});
  Host host;
  host.headerAnswers = {"bad", "hp"};
  ASSERT_EQ(Extract(a, &host), 0u);
  EXPECT_EQ(ReadAll(out_ / "b.txt"), "beta");
  EXPECT_EQ(host.headerTriedLast, (std::vector<std::string>{"", "bad"}));
  reader_.Close();

  // Refused at once.
  Host refuse;
  EXPECT_EQ(List(a, &refuse).error, kErrCancelled);
  reader_.Close();

  // A damaged head under the right stored password: the host sees that the
  // stored one just failed and asks the user, who cancels.
  std::string bytes = ReadAll(a);
  size_t last = bytes.size() - 5;  // inside the end marker's ciphertext
  bytes[last] ^= 0x40;
  WriteAll(a, bytes);
  Host stored;
  stored.useStoredHeaderRule = true;
  stored.storedHeaderPassword = "hp";
  EXPECT_EQ(List(a, &stored).error, kErrCancelled);
  EXPECT_LE(stored.headerCalls, 3u);
  EXPECT_EQ(stored.headerTriedLast.back(), "hp");
}

TEST_F(ArchiveTest, EncryptedHeadTooShortCountsAsAFailedCheck) {
  ArchiveSpec shape;
  shape.encryptHeads = true;
  shape.headPassword = "hp";
  fs::path path = dir_ / "s.tvk";
  {
    FileOutput output(path.string(), true);
    ArchiveWriter writer(shape, &output);
    ASSERT_TRUE(writer.AddEntry(File("a.txt"), B("alpha")));
    ASSERT_TRUE(writer.AddRawBytes({4, 0, 1, 2, 3, 4}));
    ASSERT_TRUE(writer.Finish());
  }
  Host host;
  host.headerAnswers = {"hp", "hp", "hp"};
  EXPECT_EQ(List(path, &host).error, kErrCancelled);
  EXPECT_EQ(host.headerCalls, 4u);  // each answer re-reads the same head
}

}  // namespace
}  // namespace tvk
