// Signatures made with the libcrypto signing API and checked by the module's
// own CheckSignature, on files written to a temporary folder.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <string.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "archive/signature_check.h"
#include "crypto/crc32.h"
#include "crypto/master_key.h"
#include "platform/platform.h"
#include "platform/result_codes.h"
#include "writer/openssl/signing.h"

namespace tvk {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct Keys {
  std::string master;   // private
  std::string signer;   // private
  Bytes certificate;
  std::string error;
};

const Keys& TheKeys() {
  static Keys keys = [] {
    Keys k;
    if (!signing::ReadTextFile(TVK_MASTER_KEY_FILE, &k.master, &k.error)) return k;
    if (!signing::GenerateKey(1024, &k.signer, &k.error)) return k;
    signing::IssueCertificate(k.master, k.signer, "Test Signer GmbH", &k.certificate, &k.error);
    return k;
  }();
  return keys;
}

struct Outcome {
  bool ok = false;
  uint32_t error = 0;
  SignatureResult result{};
  uint32_t digestKind = kDigestMd5;
  uint64_t total = 777, done = 555;  // the reader's counters, restored afterwards
  std::vector<std::pair<uint64_t, uint32_t>> runStarts;
  std::vector<uint32_t> percents;
  int stopAfter = -1;  // progress answers 0 at this call
};

void OnRunStart(void* user, uint32_t low, uint32_t high, uint32_t code) {
  static_cast<Outcome*>(user)->runStarts.push_back({uint64_t(high) << 32 | low, code});
}
int OnProgress(void* user, uint32_t percent, uint32_t) {
  auto* o = static_cast<Outcome*>(user);
  o->percents.push_back(percent);
  return int(o->percents.size()) - 1 == o->stopAfter ? 0 : 1;
}

class SignatureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const Keys& k = TheKeys();
    if (k.master.find("PRIVATE KEY") == std::string::npos) {
      GTEST_SKIP() << "the build's master key has no private half here: " << k.error;
    }
    ASSERT_EQ(k.certificate.size(), 384u) << k.error;
    dir_ = fs::temp_directory_path() /
           ("tvk-signature-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  std::string Path(const std::string& name) { return (dir_ / name).string(); }

  static Bytes Prefix(size_t n, uint32_t seed = 1) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
  }

  static void WriteFile(const std::string& path, const Bytes& a, const Bytes& b = {},
                        const Bytes& c = {}) {
    std::ofstream out(path, std::ios::binary);
    for (const Bytes* part : {&a, &b, &c}) {
      out.write(reinterpret_cast<const char*>(part->data()), std::streamsize(part->size()));
    }
  }

  // A record for prefix, signed with the test signer.
  static Bytes Sign(const std::string& path, const Bytes& prefix, uint16_t kind,
                    uint32_t stamp = 0x5B8A6C3Du) {
    WriteFile(path, prefix);
    Bytes record;
    std::string error;
    EXPECT_TRUE(signing::SignFilePrefix(path, prefix.size(), TheKeys().signer,
                                        TheKeys().certificate, kind, stamp, &record, &error))
        << error;
    return record;
  }

  static void FixHeadCheck(Bytes* record) {
    uint16_t check = HeadCheckOf(record->data(), 520);
    (*record)[0] = uint8_t(check);
    (*record)[1] = uint8_t(check >> 8);
  }

  static Outcome Check(const std::string& path, uint64_t signedLength, Outcome o = Outcome(),
                       const char* password = nullptr, bool encrypted = false) {
    SignatureCheck check{};
    check.error = &o.error;
    check.encryptedHeads = encrypted ? 1 : 0;
    check.archivePassword = password;
    check.runStart = OnRunStart;
    check.runStartUser = &o;
    check.progress = OnProgress;
    check.progressUser = &o;
    check.progressTotal = &o.total;
    check.progressDone = &o.done;
    check.digestKind = &o.digestKind;
    check.result = &o.result;
    o.ok = CheckSignature(&check, path.c_str(), signedLength);
    return o;
  }

  fs::path dir_;
};

// Every kind opens and names its signer and time, but only SHA-256 vouches
// for the bytes: the others end as a mismatch would (28118), with the
// reason kept.
TEST_F(SignatureTest, EachDigestKindOpensButOnlySha256Vouches) {
  struct {
    uint16_t code;
    uint32_t state;
    bool vouches;
  } kinds[] = {{signing::kBlockSha512, kDigestSha512, false},
               {signing::kBlockSha256, kDigestSha256, true},
               {signing::kBlockMd5, kDigestMd5, false}};
  // 2025-12-13 13:33:58 as a DOS stamp.
  uint32_t stamp = uint32_t((45 << 9 | 12 << 5 | 13) << 16 | (13 << 11 | 33 << 5 | 29));
  for (auto kind : kinds) {
    SCOPED_TRACE(kind.code);
    std::string path = Path("signed.bin");
    Bytes prefix = Prefix(200000 + kind.code);
    Bytes record = Sign(path, prefix, kind.code, stamp);
    WriteFile(path, prefix, record);
    Outcome o = Check(path, prefix.size());
    EXPECT_EQ(o.ok, kind.vouches);
    EXPECT_EQ(o.error, kind.vouches ? 0u : kErrSignatureMismatch);
    EXPECT_EQ(o.result.valid, kind.vouches ? 1u : 0u);
    EXPECT_EQ(o.result.problem, kind.vouches ? kSignatureSound : kSignatureWeakDigest);
    EXPECT_STREQ(o.result.signer, "Test Signer GmbH");
    EXPECT_EQ(o.digestKind, kind.state);
    FileTime local;
    CalendarTime cal;
    ASSERT_TRUE(UtcToLocalFileTime(&o.result.signedAt, &local));
    ASSERT_TRUE(FileTimeToCalendar(&local, &cal));
    EXPECT_EQ(cal.year, 2025);
    EXPECT_EQ(cal.month, 12);
    EXPECT_EQ(cal.day, 13);
    EXPECT_EQ(cal.hour, 13);
    EXPECT_EQ(cal.minute, 33);
    EXPECT_EQ(cal.second, 58);
    // Counters restored; one run start with the signed length; 100 % at the end.
    EXPECT_EQ(o.total, 777u);
    EXPECT_EQ(o.done, 555u);
    ASSERT_EQ(o.runStarts.size(), 1u);
    EXPECT_EQ(o.runStarts[0].first, prefix.size());
    EXPECT_EQ(o.runStarts[0].second, 6u);
    ASSERT_EQ(o.percents.size(), 4u);  // 200 KB in 64 KiB reads
    EXPECT_EQ(o.percents.back(), 100u);
  }
}

// The 512-bit kind never sees the first four bytes of an 8-byte group whose
// last byte is 0x80 or more: "EVIL" there leaves its digest as it was. Such
// a signature must not pass as one that matches the original.
TEST_F(SignatureTest, BytesThe512BitDigestSkipsAreNotVouchedFor) {
  std::string path = Path("signed.bin");
  Bytes prefix = Prefix(4096, 7);
  const size_t group = 8 * 300;
  prefix[group + 7] = 0x80 | prefix[group + 7];
  Bytes evil = prefix;
  memcpy(evil.data() + group, "EVIL", 4);
  ASSERT_NE(evil, prefix);

  Bytes record = Sign(path, prefix, signing::kBlockSha512);
  Bytes d1, d2;
  std::string error;
  WriteFile(path, evil);
  ASSERT_TRUE(signing::DigestOfFilePrefix(path, evil.size(), signing::kBlockSha512, &d2, &error));
  WriteFile(path, prefix);
  ASSERT_TRUE(signing::DigestOfFilePrefix(path, prefix.size(), signing::kBlockSha512, &d1, &error));
  ASSERT_EQ(d1, d2) << "the digest kind no longer skips these bytes";

  WriteFile(path, evil, record);
  Outcome o = Check(path, evil.size());
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.error, kErrSignatureMismatch);
  EXPECT_EQ(o.result.valid, 0u);
  EXPECT_EQ(o.result.problem, kSignatureWeakDigest);

  // SHA-256 sees the change.
  record = Sign(path, prefix, signing::kBlockSha256);
  WriteFile(path, evil, record);
  o = Check(path, evil.size());
  EXPECT_EQ(o.error, kErrSignatureMismatch);
  EXPECT_EQ(o.result.problem, kSignatureDiffers);
}

TEST_F(SignatureTest, AnyChangedByteBeforeTheBlockIsAMismatch) {
  std::string path = Path("signed.bin");
  Bytes prefix = Prefix(70000);
  Bytes record = Sign(path, prefix, signing::kBlockSha256);
  Bytes trailer = {1, 2, 3, 4};
  for (size_t at : {size_t(0), size_t(65535), size_t(65536), prefix.size() - 1}) {
    Bytes changed = prefix;
    changed[at] ^= 0x10;
    WriteFile(path, changed, record, trailer);
    Outcome o = Check(path, prefix.size());
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.error, kErrSignatureMismatch) << at;
    EXPECT_EQ(o.result.valid, 0u);
  }
  // Bytes after the block are not signed.
  WriteFile(path, prefix, record, Bytes{9, 9, 9, 9, 9});
  EXPECT_TRUE(Check(path, prefix.size()).ok);
}

// The archive's SHA-256 and Sha512 pad differently at 55 mod 64 and 111 mod
// 128; a record made with the standard SHA-256 must not pass.
TEST_F(SignatureTest, PaddingVariantLengths) {
  std::string path = Path("signed.bin");
  for (auto [length, kind] : {std::pair<size_t, uint16_t>{64 * 50 + 55, signing::kBlockSha256},
                              {128 * 30 + 111, signing::kBlockSha512},
                              {55, signing::kBlockSha256},
                              {111, signing::kBlockSha512}}) {
    Bytes prefix = Prefix(length, uint32_t(length));
    Bytes record = Sign(path, prefix, kind);
    WriteFile(path, prefix, record);
    Outcome o = Check(path, length);
    // The 512-bit digest matches, yet cannot vouch.
    if (kind == signing::kBlockSha512) {
      EXPECT_EQ(o.result.problem, kSignatureWeakDigest) << length;
    } else {
      EXPECT_TRUE(o.ok) << length;
    }
  }
  Bytes prefix = Prefix(64 * 3 + 55);
  Bytes standard(32);
  unsigned n = 0;
  EVP_Digest(prefix.data(), prefix.size(), standard.data(), &n, EVP_sha256(), nullptr);
  Bytes record;
  std::string error;
  ASSERT_TRUE(signing::MakeSignatureRecord(TheKeys().signer, TheKeys().certificate,
                                           signing::kBlockSha256, standard, 0, &record, &error));
  WriteFile(path, prefix, record);
  Outcome o = Check(path, prefix.size());
  EXPECT_EQ(o.error, kErrSignatureMismatch);
  EXPECT_EQ(o.result.problem, kSignatureDiffers);
}

TEST_F(SignatureTest, OpenedDigestMustBe68Bytes) {
  std::string path = Path("signed.bin");
  Bytes prefix = Prefix(5000);
  Bytes good = Sign(path, prefix, signing::kBlockMd5);
  Bytes digest;
  std::string error;
  ASSERT_TRUE(signing::DigestOfFilePrefix(path, prefix.size(), signing::kBlockMd5, &digest, &error));
  for (size_t size : {67u, 69u}) {
    Bytes payload(size, 0);
    memcpy(payload.data(), digest.data(), digest.size());
    Bytes sealed;
    ASSERT_TRUE(signing::SealPayload(TheKeys().signer, payload.data(), size, &sealed, &error));
    Bytes record = good;
    memcpy(record.data() + 392, sealed.data(), 128);
    FixHeadCheck(&record);
    WriteFile(path, prefix, record);
    EXPECT_EQ(Check(path, prefix.size()).error, kErrSignatureFormat) << size;
  }
}

TEST_F(SignatureTest, BlocksThatCannotBeOpened) {
  std::string path = Path("signed.bin");
  Bytes prefix = Prefix(3000);
  Bytes good = Sign(path, prefix, signing::kBlockSha512);
  std::string error;

  // A digest block that is not below the signer's modulus.
  Bytes record = good;
  memset(record.data() + 392, 0xFF, 128);
  FixHeadCheck(&record);
  WriteFile(path, prefix, record);
  EXPECT_EQ(Check(path, prefix.size()).error, kErrSignatureOpen);

  // A certificate not sealed by the master key.
  record = good;
  record[8 + 200] ^= 0x40;
  FixHeadCheck(&record);
  WriteFile(path, prefix, record);
  EXPECT_EQ(Check(path, prefix.size()).error, kErrSignatureOpen);

  // A signer key of 1000 bits: its blocks are shorter than the 128 bytes read.
  EVP_PKEY* small = EVP_RSA_gen(1000);
  ASSERT_NE(small, nullptr);
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, small, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  long pemLength = BIO_get_mem_data(bio, &data);
  std::string smallPem(data, size_t(pemLength));
  BIO_free(bio);
  EVP_PKEY_free(small);
  Bytes payload;
  ASSERT_TRUE(signing::PublicKeyRecordOf(smallPem, &payload, &error)) << error;
  Bytes certificate;
  for (size_t start = 0; start < 351; start += 117) {
    size_t n = std::min<size_t>(117, payload.size() - start);
    Bytes block;
    ASSERT_TRUE(signing::SealPayload(TheKeys().master, payload.data() + start, n, &block, &error));
    certificate.insert(certificate.end(), block.begin(), block.end());
  }
  record = good;
  memcpy(record.data() + 8, certificate.data(), 384);
  FixHeadCheck(&record);
  WriteFile(path, prefix, record);
  EXPECT_EQ(Check(path, prefix.size()).error, kErrSignatureOpen);
}

TEST_F(SignatureTest, CertificatesThatCannotBeValid) {
  std::string path = Path("signed.bin");
  Bytes prefix = Prefix(3000);
  Bytes good = Sign(path, prefix, signing::kBlockSha256);
  Bytes keyRecord;
  std::string error;
  ASSERT_TRUE(signing::PublicKeyRecordOf(TheKeys().signer, &keyRecord, &error));
  auto sealCertificate = [&](const Bytes& payload, const std::vector<size_t>& sizes) {
    Bytes certificate;
    size_t start = 0;
    for (size_t n : sizes) {
      Bytes block;
      EXPECT_TRUE(signing::SealPayload(TheKeys().master, payload.data() + start, n, &block, &error));
      certificate.insert(certificate.end(), block.begin(), block.end());
      start += n;
    }
    Bytes record = good;
    memcpy(record.data() + 8, certificate.data(), 384);
    FixHeadCheck(&record);
    return record;
  };
  // Opened certificate of 234 bytes: too short for a key record.
  WriteFile(path, prefix, sealCertificate(keyRecord, {117, 117, 0}));
  EXPECT_EQ(Check(path, prefix.size()).error, kErrSignatureFormat);
  // A key record that claims more than 1024 bits.
  Bytes big = keyRecord;
  big[0] = 0x00;
  big[1] = 0x08;
  WriteFile(path, prefix, sealCertificate(big, {117, 117, 24}));
  EXPECT_EQ(Check(path, prefix.size()).error, kErrSignatureOpen);
  // The same payload with the right size opens: the split is not the fault.
  WriteFile(path, prefix, sealCertificate(keyRecord, {100, 100, 58}));
  Outcome o = Check(path, prefix.size());
  EXPECT_TRUE(o.ok) << o.error;
  EXPECT_STREQ(o.result.signer, "");
}

TEST_F(SignatureTest, RecordFields) {
  std::string path = Path("signed.bin");
  Bytes prefix = Prefix(1000);
  Bytes good = Sign(path, prefix, signing::kBlockMd5);
  struct {
    size_t offset;
    uint8_t value;
  } changes[] = {{2, 0x42}, {5, 0x09}, {6, 0x03}, {7, 20}};
  for (auto change : changes) {
    Bytes record = good;
    record[change.offset] = change.value;
    FixHeadCheck(&record);
    WriteFile(path, prefix, record);
    EXPECT_EQ(Check(path, prefix.size()).error, kErrSignatureFormat) << change.offset;
  }
  Bytes record = good;
  record[300] ^= 1;  // head check no longer matches
  WriteFile(path, prefix, record);
  EXPECT_EQ(Check(path, prefix.size()).error, kErrSignatureMismatch);
  WriteFile(path, prefix, Bytes(good.begin(), good.begin() + 519));
  EXPECT_EQ(Check(path, prefix.size()).error, kErrSignatureMismatch);

  // An unknown digest code keeps the kind of the last check: MD5 for a new
  // reader, whose match cannot vouch either.
  record = good;
  record[3] = 7;
  FixHeadCheck(&record);
  WriteFile(path, prefix, record);
  Outcome o = Check(path, prefix.size());
  EXPECT_EQ(o.error, kErrSignatureMismatch);
  EXPECT_EQ(o.result.problem, kSignatureWeakDigest);
  EXPECT_EQ(o.digestKind, kDigestMd5);
  Outcome before;
  before.digestKind = kDigestSha256;
  o = Check(path, prefix.size(), before);
  EXPECT_EQ(o.error, kErrSignatureMismatch);
  EXPECT_EQ(o.result.problem, kSignatureDiffers);

  EXPECT_EQ(Check(Path("missing.bin"), 10).error, kErrFileAccess);
  Outcome already;
  already.error = kErrData;
  o = Check(path, prefix.size(), already);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.error, kErrData);
}

TEST_F(SignatureTest, EncryptedHeads) {
  std::string path = Path("signed.bin");
  Bytes prefix = Prefix(9000);
  Bytes record = Sign(path, prefix, signing::kBlockSha256);
  Bytes stored = signing::StoredSignatureBlock(record, "head secret");
  ASSERT_EQ(stored.size(), 522u);
  WriteFile(path, prefix, stored);
  EXPECT_TRUE(Check(path, prefix.size(), Outcome(), "head secret", true).ok);
  EXPECT_EQ(Check(path, prefix.size(), Outcome(), "wrong", true).error, kErrSignatureMismatch);

  // A longer stored record: the first 520 deciphered bytes count.
  Bytes longer = record;
  longer.resize(1000, 0xAB);
  Bytes storedLonger = signing::StoredSignatureBlock(longer, "head secret");
  WriteFile(path, prefix, storedLonger);
  EXPECT_TRUE(Check(path, prefix.size(), Outcome(), "head secret", true).ok);

  for (uint16_t length : {uint16_t(519), uint16_t(4097), uint16_t(65535)}) {
    Bytes bad = storedLonger;
    bad[0] = uint8_t(length);
    bad[1] = uint8_t(length >> 8);
    bad.resize(std::max<size_t>(bad.size(), size_t(length) + 2), 0);
    WriteFile(path, prefix, bad);
    EXPECT_EQ(Check(path, prefix.size(), Outcome(), "head secret", true).error,
              kErrSignatureFormat)
        << length;
  }
  WriteFile(path, prefix, Bytes(stored.begin(), stored.begin() + 300));
  EXPECT_EQ(Check(path, prefix.size(), Outcome(), "head secret", true).error,
            kErrSignatureMismatch);
  WriteFile(path, prefix, Bytes(stored.begin(), stored.begin() + 1));
  EXPECT_EQ(Check(path, prefix.size(), Outcome(), "head secret", true).error,
            kErrSignatureMismatch);
}

TEST_F(SignatureTest, HostStopsTheHashing) {
  std::string path = Path("signed.bin");
  Bytes prefix = Prefix(300000);
  Bytes record = Sign(path, prefix, signing::kBlockSha512);
  WriteFile(path, prefix, record);
  Outcome stop;
  stop.stopAfter = 1;
  Outcome o = Check(path, prefix.size(), stop);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.error, kErrCancelled);
  EXPECT_EQ(o.percents.size(), 2u);
  EXPECT_EQ(o.total, 777u);
  EXPECT_EQ(o.done, 555u);
  EXPECT_EQ(o.result.valid, 0u);
}

TEST(SigningApi, KeysAndCertificates) {
  std::string pem, error;
  EXPECT_FALSE(signing::GenerateKey(1016, &pem, &error));
  EXPECT_FALSE(signing::GenerateKey(2048, &pem, &error));
  ASSERT_TRUE(signing::GenerateKey(1017, &pem, &error)) << error;
  Bytes record;
  ASSERT_TRUE(signing::PublicKeyRecordOf(pem, &record, &error));
  EXPECT_EQ(record[0] | record[1] << 8, 1017);
  std::string publicPem;
  ASSERT_TRUE(signing::PublicPemOf(pem, &publicPem, &error));
  Bytes again;
  ASSERT_TRUE(signing::PublicKeyRecordOf(publicPem, &again, &error));
  EXPECT_EQ(again, record);
  Bytes certificate;
  EXPECT_FALSE(signing::IssueCertificate(TheKeys().master, publicPem, std::string(94, 'n'),
                                         &certificate, &error));
  ASSERT_TRUE(signing::IssueCertificate(TheKeys().master, publicPem, std::string(93, 'n'),
                                        &certificate, &error)) << error;
  EXPECT_EQ(certificate.size(), 384u);
  EXPECT_FALSE(signing::IssueCertificate(publicPem, pem, "x", &certificate, &error));
}

// The generated master key is the public half of the build's key file.
TEST(SigningApi, EmbeddedMasterKeyMatchesTheKeyFile) {
  std::string pem, error;
  ASSERT_TRUE(signing::ReadTextFile(TVK_MASTER_KEY_FILE, &pem, &error)) << error;
  Bytes record;
  ASSERT_TRUE(signing::PublicKeyRecordOf(pem, &record, &error)) << error;
  EXPECT_EQ(Bytes(kMasterPublicKey, kMasterPublicKey + kPublicKeyRecordSize), record);
}

// A build without a key of its own makes one pair, private to its owner,
// and keeps it: a second configuration (another build of the same set)
// finds the same key. It is never the published development key.
TEST(SigningApi, BuildKeyPairIsMadeOnceAndIsNotTheTestKey) {
  fs::path dir = fs::temp_directory_path() /
                 ("tvk-keypair-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  fs::remove_all(dir);
  const std::string run = std::string("'") + TVK_CMAKE + "' -DOPENSSL='" + TVK_OPENSSL +
                          "' -DKEY_DIR='" + (dir / "keys").string() + "' -P '" + TVK_SOURCE_DIR +
                          "/cmake/master_key_pair.cmake' >/dev/null 2>&1";
  ASSERT_EQ(std::system(run.c_str()), 0);
  const fs::path key = dir / "keys" / "master.pem";
  ASSERT_TRUE(fs::exists(key));
  EXPECT_EQ(fs::status(key).permissions() & (fs::perms::group_all | fs::perms::others_all),
            fs::perms::none);
  EXPECT_EQ(fs::status(dir / "keys").permissions() & (fs::perms::group_all | fs::perms::others_all),
            fs::perms::none);
  EXPECT_TRUE(fs::exists(dir / "keys" / ".gitignore"));
  std::string pem, again, test, error;
  ASSERT_TRUE(signing::ReadTextFile(key.string(), &pem, &error)) << error;
  ASSERT_TRUE(signing::ReadTextFile(TVK_TEST_MASTER_KEY_FILE, &test, &error)) << error;
  Bytes record, testRecord;
  ASSERT_TRUE(signing::PublicKeyRecordOf(pem, &record, &error)) << error;
  ASSERT_TRUE(signing::PublicKeyRecordOf(test, &testRecord, &error)) << error;
  EXPECT_EQ(record[0] | record[1] << 8, 1024);
  EXPECT_NE(record, testRecord);
  // It seals certificates that open with its public half.
  Bytes certificate;
  EXPECT_TRUE(signing::IssueCertificate(pem, TheKeys().signer, "x", &certificate, &error)) << error;
  ASSERT_EQ(std::system(run.c_str()), 0);
  ASSERT_TRUE(signing::ReadTextFile(key.string(), &again, &error)) << error;
  EXPECT_EQ(again, pem);
  fs::remove_all(dir);
}

// The program knows whether it trusts the published development key, so
// that its signature box can say that such a signature proves nothing.
TEST(SigningApi, TestKeyMarkFollowsTheEmbeddedKey) {
  std::string test, error;
  ASSERT_TRUE(signing::ReadTextFile(TVK_TEST_MASTER_KEY_FILE, &test, &error)) << error;
  Bytes testRecord;
  ASSERT_TRUE(signing::PublicKeyRecordOf(test, &testRecord, &error)) << error;
  const bool embedded = Bytes(kMasterPublicKey, kMasterPublicKey + kPublicKeyRecordSize) == testRecord;
  EXPECT_EQ(kMasterKeyIsTestKey, embedded ? 1u : 0u);
}

}  // namespace
}  // namespace tvk
