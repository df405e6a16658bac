#include "crypto/digest.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/crypto/test_util.h"

#ifdef TVK_HAVE_ORACLES
#include <openssl/evp.h>
#endif

namespace tvk {
namespace {

using test::Hex;

std::string Md5Hex(const std::vector<uint8_t>& m) {
  Md5Context c;
  Md5Init(&c);
  Md5Update(&c, m.data(), uint32_t(m.size()));
  uint8_t d[16];
  Md5Final(&c, d);
  return Hex(d, 16);
}

std::string Sha256Hex(const std::vector<uint8_t>& m) {
  Sha256Context c;
  Sha256Init(&c);
  Sha256Update(&c, m.data(), uint32_t(m.size()));
  uint8_t d[32];
  Sha256Final(&c, d);
  return Hex(d, 32);
}

std::string Sha512Hex(const std::vector<uint8_t>& m) {
  Sha512Context c;
  Sha512Init(&c);
  Sha512Update(&c, m.data(), uint32_t(m.size()));
  uint8_t d[64];
  Sha512Final(&c, d);
  return Hex(d, 64);
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }
std::vector<uint8_t> As(size_t n) { return std::vector<uint8_t>(n, 'a'); }

TEST(Md5, PublishedValues) {
  EXPECT_EQ(Md5Hex({}), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex(Bytes("abc")), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5, OfBufferHashesOnlyTheFirst276Bytes) {
  std::vector<uint8_t> m(300);
  for (size_t i = 0; i < m.size(); ++i) m[i] = uint8_t(i * 7 + 1);
  uint8_t d[16];
  Md5OfBuffer(m.data(), 300, d);
  EXPECT_EQ(Hex(d, 16), Md5Hex(std::vector<uint8_t>(m.begin(), m.begin() + 276)));
  Md5OfBuffer(m.data(), 100, d);
  EXPECT_EQ(Hex(d, 16), Md5Hex(std::vector<uint8_t>(m.begin(), m.begin() + 100)));
}

TEST(Sha256, StandardValuesExceptAtLength55Mod64) {
  EXPECT_EQ(Sha256Hex(Bytes("abc")),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex(As(54)), "a3f01b6939256127582ac8ae9fb47a382a244680806a3f613a118851c1ca1d47");
  EXPECT_EQ(Sha256Hex(As(56)), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
  // The archive's variant: 55 bytes in the last block push the length into
  // a block of its own.
  EXPECT_EQ(Sha256Hex(As(55)), "8dae2213be49843815e7ced67d8cbe7da18847dca23ed21b3ad0647012178096");
  EXPECT_NE(Sha256Hex(As(119)), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb");
  EXPECT_EQ(Sha256Hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

// Messages of two and of many blocks run the message schedule through every
// round; the short values above barely reach it.
TEST(Sha256, StandardValuesOverSeveralBlocks) {
  EXPECT_EQ(Sha256Hex(Bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Sha256Hex(As(1000000)),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, OfBufferRefusesEmptyInputAndKeepsTheDigest) {
  uint8_t d[32];
  memset(d, 0x5A, sizeof d);
  const char* text = "abc";
  EXPECT_FALSE(Sha256OfBuffer(d, text, 0));
  EXPECT_FALSE(Sha256OfBuffer(d, nullptr, 3));
  EXPECT_FALSE(Sha256OfBuffer(nullptr, text, 3));
  for (uint8_t b : d) EXPECT_EQ(b, 0x5A);
  ASSERT_TRUE(Sha256OfBuffer(d, text, 3));
  EXPECT_EQ(Hex(d, 32), Sha256Hex(Bytes("abc")));
}

TEST(Sha512, SignedWordVariantValues) {
  EXPECT_EQ(Sha512Hex({}),
            "6fac5aa1e616d70854d0d5b7cb8caf5f8c49b69cffffffffdd6b0985ffffffff"
            "32dbb6e350c0f4d2a1243894ffffffff3e4ed52ffb23cb66aa927414ffffffff");
  EXPECT_EQ(Sha512Hex(Bytes("abc")),
            "6b746d9b5a056cb20ec42ea71621ef0c433ff1f8922a72a760cfb929f9cc8288"
            "170f93f50a9189978142d8dfffffffffe086bf89ffffffff195324c6bca2a6e7");
  EXPECT_EQ(Sha512Hex(As(111)),
            "c219f54effffffff395c272d6e4144fdad58bcf8ffffffff7bbe35910724162d"
            "5915cf1478e349a2bfb5473effffffff1857a4f76e2aba8c317e0c5c271abde5");
}

TEST(Sha512, SignedWordVariantOverSeveralBlocks) {
  EXPECT_EQ(Sha512Hex(Bytes("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmn"
                            "hijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu")),
            "2c310f9593e849d97df56019f4a66998c71b3e72ffffffff64eea4535a8d3670"
            "69aa84463999fc575a9c67eda651c834107f053411c2f57356c9f3de413c9efc");
  EXPECT_EQ(Sha512Hex(As(1000000)),
            "f481cbafffffffff920f20e1ffffffff099c5f5711a0bf6e2337bb83db09f2be"
            "ae197dceffffffff45471a6ae9974bd8332f8698bc6f2d6d3da4adfc39f4d6bb");
}

TEST(Sha512, WordsWithTheTopBitSetEndInFourFfBytes) {
  std::mt19937 rng(5);
  for (int round = 0; round < 50; ++round) {
    std::string h = Sha512Hex(test::RandomBytes(rng, rng() % 400));
    for (size_t g = 0; g < 64; g += 8) {
      auto group = test::FromHex(h.substr(2 * g, 16));
      if (group[0] >= 0x80) {
        EXPECT_EQ(group[4] & group[5] & group[6] & group[7], 0xFF) << h;
      }
    }
  }
}

// Feeding in pieces (ending on and off block boundaries) must match feeding
// at once, and every final must leave its context zeroed.
TEST(Digests, PiecesMatchWholeAndFinalWipesContext) {
  std::mt19937 rng(11);
  for (int round = 0; round < 300; ++round) {
    size_t n = rng() % 700;
    auto m = test::RandomBytes(rng, n);
    Md5Context c5;
    Sha256Context c2;
    Sha512Context c6;
    Md5Init(&c5);
    Sha256Init(&c2);
    Sha512Init(&c6);
    size_t pos = 0;
    for (size_t cut : test::RandomCuts(rng, n, round % 2 ? 64 : 128)) {
      Md5Update(&c5, m.data() + pos, uint32_t(cut - pos));
      Sha256Update(&c2, m.data() + pos, uint32_t(cut - pos));
      Sha512Update(&c6, m.data() + pos, uint32_t(cut - pos));
      pos = cut;
    }
    Md5Update(&c5, m.data(), 0);
    Sha256Update(&c2, m.data(), 0);
    uint8_t d5[16], d2[32], d6[64];
    Md5Final(&c5, d5);
    Sha256Final(&c2, d2);
    Sha512Final(&c6, d6);
    ASSERT_EQ(Hex(d5, 16), Md5Hex(m)) << n;
    ASSERT_EQ(Hex(d2, 32), Sha256Hex(m)) << n;
    ASSERT_EQ(Hex(d6, 64), Sha512Hex(m)) << n;
    const uint8_t* raw[] = {reinterpret_cast<uint8_t*>(&c5), reinterpret_cast<uint8_t*>(&c2),
                            reinterpret_cast<uint8_t*>(&c6)};
    size_t sizes[] = {sizeof c5, sizeof c2, sizeof c6};
    for (int k = 0; k < 3; ++k) {
      for (size_t i = 0; i < sizes[k]; ++i) ASSERT_EQ(raw[k][i], 0) << "context " << k;
    }
  }
}

TEST(Digests, FinalWithoutOutputDoesNothing) {
  Sha256Context c2;
  Sha256Init(&c2);
  Sha256Update(&c2, "ab", 2);
  Sha256Final(&c2, nullptr);
  Sha256Update(&c2, "c", 1);
  uint8_t d[32];
  Sha256Final(&c2, d);
  EXPECT_EQ(Hex(d, 32), Sha256Hex(Bytes("abc")));
  Sha512Context c6;
  Sha512Init(&c6);
  Sha512Update(&c6, "ab", 2);
  Sha512Final(&c6, nullptr);
  Sha512Update(&c6, "c", 1);
  uint8_t e[64];
  Sha512Final(&c6, e);
  EXPECT_EQ(Hex(e, 64), Sha512Hex(Bytes("abc")));
}

#ifdef TVK_HAVE_ORACLES
std::string Oracle(const EVP_MD* md, const std::vector<uint8_t>& m) {
  uint8_t d[64];
  unsigned int n = 0;
  EXPECT_EQ(EVP_Digest(m.data(), m.size(), d, &n, md, nullptr), 1);
  return Hex(d, n);
}

TEST(DigestOracle, Md5AndSha256AgreeWithLibcrypto) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 3000; ++round) {
    size_t n = round < 300 ? size_t(round) : rng() % (round % 10 == 0 ? 70000 : 2000);
    auto m = test::RandomBytes(rng, n);
    ASSERT_EQ(Md5Hex(m), Oracle(EVP_md5(), m)) << n;
    if (n % 64 == 55) {
      ASSERT_NE(Sha256Hex(m), Oracle(EVP_sha256(), m)) << n;
    } else {
      ASSERT_EQ(Sha256Hex(m), Oracle(EVP_sha256(), m)) << n;
    }
  }
}

// The signed-word variant agrees with nothing in a library; what can be
// checked is that it is not the standard digest in disguise.
TEST(DigestOracle, Sha512DiffersFromTheStandardDigest) {
  std::mt19937 rng(99);
  for (int round = 0; round < 50; ++round) {
    auto m = test::RandomBytes(rng, rng() % 300);
    EXPECT_NE(Sha512Hex(m), Oracle(EVP_sha512(), m));
  }
}
#endif

}  // namespace
}  // namespace tvk
