// Signatures that must not vouch for what their signer did not make: volume
// sets whose volumes are not all sealed by one signer, and the digest kinds
// that cannot cover every byte. Old sets stay readable after the question.
#include <gtest/gtest.h>

#if defined(TVK_HAVE_SIGNING)
#include <map>

#include "../archive/archive_test_util.h"
#include "archive/format.h"
#include "archive/signature_check.h"
#include "platform/result_codes.h"
#include "writer/openssl/signing.h"

namespace tvk {
namespace {

using namespace testutil;

struct Signer {
  std::string key;
  Bytes certificate;
};

const Signer& SignerNamed(const std::string& name) {
  static std::map<std::string, Signer> signers;
  auto found = signers.find(name);
  if (found != signers.end()) return found->second;
  Signer s;
  std::string master, error;
  EXPECT_TRUE(signing::ReadTextFile(TVK_MASTER_KEY_FILE, &master, &error)) << error;
  EXPECT_TRUE(signing::GenerateKey(1024, &s.key, &error)) << error;
  EXPECT_TRUE(signing::IssueCertificate(master, s.key, name, &s.certificate, &error)) << error;
  return signers.emplace(name, s).first->second;
}

class HostileSignature : public ArchiveTest {
 protected:
  // The archive writer's signer: each volume's bytes in front of its record.
  std::function<bool(VolumeOutput&, uint32_t, uint64_t, Bytes*)> SealWith(
      const std::string& name, uint16_t kind = signing::kBlockSha256) {
    const Signer& s = SignerNamed(name);
    fs::path scratch = dir_ / "signed-prefix.bin";
    return [s, scratch, kind](VolumeOutput& out, uint32_t volume, uint64_t length, Bytes* record) {
      Bytes prefix(length);
      if (!out.ReadBack(volume, 0, prefix.data(), prefix.size())) return false;
      WriteAll(scratch, std::string(prefix.begin(), prefix.end()));
      std::string error;
      return signing::SignFilePrefix(scratch.string(), length, s.key, s.certificate, kind,
                                     0x5B8A6C3Du, record, &error);
    };
  }

  // One file per volume: name.tvk, name.001, ...
  fs::path WriteSet(ArchiveSpec shape, const std::string& name,
                    const std::vector<std::pair<std::string, std::string>>& files) {
    shape.multiVolume = true;
    fs::path path = dir_ / (name + ".tvk");
    FileOutput output(path.string(), true);
    ArchiveWriter writer(std::move(shape), &output);
    for (size_t i = 0; i < files.size(); ++i) {
      if (i) {
        EXPECT_TRUE(writer.NewVolume()) << writer.Error();
      }
      EXPECT_TRUE(writer.AddEntry(File(files[i].first), B(files[i].second))) << writer.Error();
    }
    EXPECT_TRUE(writer.Finish()) << writer.Error();
    return path;
  }

  // A first volume as an attacker makes it: marked signed and continued,
  // with an entry of his, sealed by nobody (or by the signer given).
  void PlantFirstVolume(const fs::path& over, const std::string& sealedBy = "") {
    ArchiveSpec evil;
    evil.extraMainFlags = fmt::kArcSigned;
    evil.lastVolumeFlag = false;
    if (!sealedBy.empty()) evil.signer = SealWith(sealedBy);
    fs::path planted = WriteSet(evil, "planted", {{"evil.sh", "rm -rf ~"}});
    fs::copy_file(planted, over, fs::copy_options::overwrite_existing);
    fs::remove(planted);
  }

  Listing ListForgiving(const fs::path& archive) {
    ExtractOptions o = Options();
    o.ignoreSignatureMismatch = 1;
    return List(archive, nullptr, "*.*", &o);
  }
};

// A set sealed only in its last volume (as tvk made them until now, and as
// other writers may): an entry planted in the first volume, the program
// itself for a self-extractor, went unnoticed while the set was shown as
// carrying a valid signature.
TEST_F(HostileSignature, SetSealedOnlyInItsLastVolumeIsNeverShownAsValid) {
  ArchiveSpec old;
  old.signer = SealWith("Alice");
  old.signLastVolumeOnly = true;
  fs::path set = WriteSet(old, "old", {{"a.txt", "alpha"}, {"b.txt", "beta"}});

  Listing l = List(set);
  EXPECT_EQ(l.error, kErrSignatureMismatch);
  EXPECT_EQ(l.info.signatureValid, 0u);
  EXPECT_EQ(l.info.signatureProblem, kSignatureVolumeUncovered);
  reader_.Close();

  // Still readable once the user says so.
  Listing forgiven = ListForgiving(set);
  EXPECT_EQ(forgiven.error, 0u);
  EXPECT_EQ(forgiven.entries.size(), 2u);
  EXPECT_EQ(forgiven.info.signatureValid, 0u);
  reader_.Close();
  Host host;
  ASSERT_EQ(Extract(set, &host), 0u);
  EXPECT_EQ(ReadAll(out_ / "a.txt"), "alpha");
  EXPECT_EQ(ReadAll(out_ / "b.txt"), "beta");
  reader_.Close();

  PlantFirstVolume(set);
  l = List(set);
  EXPECT_EQ(l.error, kErrSignatureMismatch);
  EXPECT_EQ(l.info.signatureValid, 0u);
  ASSERT_EQ(l.entries.size(), 2u);
  EXPECT_STREQ(l.entries[0].name, "evil.sh");
}

TEST_F(HostileSignature, EveryVolumeOfASignedSetIsSealedAndChecked) {
  ArchiveSpec shape;
  shape.signer = SealWith("Alice");
  const std::vector<std::pair<std::string, std::string>> files = {
      {"a.txt", "alpha"}, {"b.txt", "beta"}, {"c.txt", "gamma"}};
  fs::path set = WriteSet(shape, "set", files);
  // Each volume ends in a signature block of its own.
  for (const char* volume : {"set.tvk", "set.001", "set.002"}) {
    std::string bytes = ReadAll(dir_ / volume);
    ASSERT_GT(bytes.size(), 520u);
    EXPECT_EQ(bytes[bytes.size() - 520 + 2], 'A') << volume;
  }
  Listing l = List(set);
  ASSERT_EQ(l.error, 0u);
  EXPECT_EQ(l.info.signatureValid, 1u);
  EXPECT_EQ(l.info.signatureProblem, kSignatureSound);
  EXPECT_STREQ(l.info.signer, "Alice");
  reader_.Close();
  const std::string first = ReadAll(set), middle = ReadAll(dir_ / "set.001");

  // A changed byte in the first volume.
  std::string changed = first;
  changed[changed.find("alpha")] = 'A';
  WriteAll(set, changed);
  l = List(set);
  EXPECT_EQ(l.error, kErrSignatureMismatch);
  EXPECT_EQ(l.info.signatureProblem, kSignatureDiffers);
  reader_.Close();

  // A first volume of the attacker's, unsealed or sealed by someone else.
  PlantFirstVolume(set);
  l = List(set);
  EXPECT_EQ(l.error, kErrSignatureMismatch);
  EXPECT_EQ(l.info.signatureProblem, kSignatureVolumeUncovered);
  EXPECT_EQ(l.info.signatureValid, 0u);
  reader_.Close();
  PlantFirstVolume(set, "Mallory");
  l = List(set);
  EXPECT_EQ(l.error, kErrSignatureMismatch);
  EXPECT_EQ(l.info.signatureProblem, kSignatureSignersDiffer);
  EXPECT_EQ(l.info.signatureValid, 0u);
  reader_.Close();
  WriteAll(set, first);

  // A middle volume taken from a set sealed by another signer.
  ArchiveSpec other;
  other.signer = SealWith("Mallory");
  WriteSet(other, "other", {{"a.txt", "alpha"}, {"b.txt", "EVIL"}, {"c.txt", "gamma"}});
  fs::copy_file(dir_ / "other.001", dir_ / "set.001", fs::copy_options::overwrite_existing);
  l = List(set);
  EXPECT_EQ(l.error, kErrSignatureMismatch);
  EXPECT_EQ(l.info.signatureProblem, kSignatureSignersDiffer);
  reader_.Close();
  WriteAll(dir_ / "set.001", middle);

  // The listing never reaches the last volume: what is not read is not
  // vouched for (extraction would ask for it and read it unchecked).
  fs::rename(dir_ / "set.002", dir_ / "away.002");
  l = List(set);
  EXPECT_EQ(l.error, kErrSignatureMismatch);
  EXPECT_EQ(l.info.signatureProblem, kSignatureVolumeUncovered);
  reader_.Close();
  fs::rename(dir_ / "away.002", dir_ / "set.002");
  EXPECT_EQ(List(set).error, 0u);
}

// The issue's attack: "EVIL" written where the 512-bit digest never looks,
// inside a stored entry. The listing must not show the archive as matching
// its signature; a signature of either weak kind is asked about as a
// mismatch is, and forgiven the same way.
TEST_F(HostileSignature, WeakDigestKindsCannotVouch) {
  // Stored data whose every 8-byte group ends in a byte of 0x80 or more.
  const std::string data(4096, char(0xA0));
  for (uint16_t kind : {signing::kBlockSha512, signing::kBlockMd5}) {
    SCOPED_TRACE(kind);
    ArchiveSpec shape;
    shape.signer = SealWith("Alice", kind);
    fs::path a = Write(shape, {{File("payload.bin"), B(data)}}, "weak.tvk");
    // Untouched: the digest matches, and still does not vouch.
    Listing l = List(a);
    EXPECT_EQ(l.error, kErrSignatureMismatch);
    EXPECT_EQ(l.info.signatureValid, 0u);
    EXPECT_EQ(l.info.signatureProblem, kSignatureWeakDigest);
    EXPECT_STREQ(l.info.signer, "Alice");
    reader_.Close();

    std::string bytes = ReadAll(a);
    size_t at = bytes.find(std::string(64, char(0xA0)));
    ASSERT_NE(at, std::string::npos);
    at = (at + 15) / 8 * 8;  // a group of the signed bytes inside the data
    ASSERT_EQ(uint8_t(bytes[at + 7]), 0xA0);
    bytes.replace(at, 4, "EVIL");
    WriteAll(a, bytes);
    l = List(a);
    EXPECT_EQ(l.error, kErrSignatureMismatch);
    EXPECT_EQ(l.info.signatureValid, 0u);
    EXPECT_EQ(l.info.signatureProblem,
              kind == signing::kBlockSha512 ? kSignatureWeakDigest : kSignatureDiffers);
    EXPECT_STREQ(l.info.signer, kind == signing::kBlockSha512 ? "Alice" : "");
    reader_.Close();
    Listing forgiven = ListForgiving(a);
    EXPECT_EQ(forgiven.error, 0u);
    EXPECT_EQ(forgiven.info.signatureValid, 0u);
    reader_.Close();
    fs::remove(a);
  }
}

}  // namespace
}  // namespace tvk
#endif
