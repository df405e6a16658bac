#include "crypto/cipher.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "crypto/digest.h"
#include "tests/crypto/test_util.h"

#ifdef TVK_HAVE_ORACLES
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>
#include <openssl/evp.h>
#endif

namespace tvk {
namespace {

using test::FromHex;
using test::Hex;

void StoreLe(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

TEST(Blowfish, ZeroKeyVectorInStoredByteOrder) {
  static BlowfishKey key;
  uint8_t zero[8] = {};
  BlowfishSetKey(&key, zero, 8);
  uint32_t l = 0, r = 0;
  BlowfishEncryptBlock(&key, &l, &r);
  uint8_t stored[8];
  StoreLe(stored, l);
  StoreLe(stored + 4, r);
  EXPECT_EQ(Hex(stored, 8), "4597f94e78dd9861");
  BlowfishDecryptBlock(&key, &l, &r);
  EXPECT_EQ(l, 0u);
  EXPECT_EQ(r, 0u);
}

// Head bytes round-trip through the writer's direction; deciphering works
// on whole blocks, so the bytes after a length that is not a multiple of 8
// belong to the last block and change with it.
TEST(HeadCipher, WholeBlocksAndRoundTrip) {
  std::mt19937 rng(3);
  auto plain = test::RandomBytes(rng, 64);
  std::vector<uint8_t> buf = plain;
  EncipherHeadBytes("secret", buf.data(), 24);
  EXPECT_NE(std::vector<uint8_t>(buf.begin(), buf.begin() + 24),
            std::vector<uint8_t>(plain.begin(), plain.begin() + 24));
  EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 24, buf.end()),
            std::vector<uint8_t>(plain.begin() + 24, plain.end()));
  std::vector<uint8_t> copy = buf;
  DecipherHeadBytes("secret", copy.data(), 17);  // three blocks: 24 bytes
  EXPECT_EQ(copy, plain);
  DecipherHeadBytes("secret", copy.data(), 0);
  EXPECT_EQ(copy, plain);
  DecipherHeadBytes("Secret", buf.data(), 24);
  EXPECT_NE(buf, plain);
}

TEST(HeadCipher, PasswordsCountTo260Bytes) {
  std::string longer(300, 'x');
  for (size_t i = 0; i < longer.size(); ++i) longer[i] = char('A' + i % 26);
  std::string cut = longer.substr(0, 260);
  std::string shorter = longer.substr(0, 259);
  uint8_t a[16] = {1, 2, 3}, b[16] = {1, 2, 3}, c[16] = {1, 2, 3};
  EncipherHeadBytes(longer.c_str(), a, 16);
  EncipherHeadBytes(cut.c_str(), b, 16);
  EncipherHeadBytes(shorter.c_str(), c, 16);
  EXPECT_EQ(Hex(a, 16), Hex(b, 16));
  EXPECT_NE(Hex(a, 16), Hex(c, 16));
}

TEST(HeadCipher, KeyIsTheMd5OfThePassword) {
  static BlowfishKey viaPassword, viaDigest;
  MakeHeadKey(&viaPassword, "pass", 4);
  Md5Context ctx;
  Md5Init(&ctx);
  Md5Update(&ctx, "pass", 4);
  uint8_t d[16];
  Md5Final(&ctx, d);
  BlowfishSetKey(&viaDigest, d, 16);
  EXPECT_EQ(memcmp(&viaPassword, &viaDigest, sizeof viaDigest), 0);
}

TEST(Aes, PublishedVectors) {
  auto plain = FromHex("00112233445566778899aabbccddeeff");
  struct Case {
    const char* key;
    const char* cipher;
    uint32_t rounds;
  } cases[] = {
      {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a", 10},
      {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191", 12},
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
       "8ea2b7ca516745bfeafc49904b496089", 14},
  };
  for (const Case& c : cases) {
    auto key = FromHex(c.key);
    EntryKey enc, dec;
    AesSetEncryptKey(&enc, key.data(), uint32_t(key.size()));
    AesSetDecryptKey(&dec, key.data(), uint32_t(key.size()));
    EXPECT_EQ(enc.rounds, c.rounds);
    EXPECT_EQ(dec.decrypt, 1u);
    uint8_t out[16], back[16];
    AesEncryptBlock(&enc, plain.data(), out);
    EXPECT_EQ(Hex(out, 16), c.cipher);
    AesDecryptBlock(&dec, out, back);
    EXPECT_EQ(Hex(back, 16), Hex(plain.data(), 16));
  }
}

TEST(EntryKeys, KindsAndTheirDigests) {
  EntryKey key, expected;
  EXPECT_FALSE(DeriveEntryKey(&key, "pw", 2, 0));
  EXPECT_FALSE(DeriveEntryKey(&key, "pw", 2, 3));

  // Kind 1 of an empty password: the key is MD5 of the empty string.
  ASSERT_TRUE(DeriveEntryKey(&key, "", 0, 1));
  auto md5Empty = FromHex("d41d8cd98f00b204e9800998ecf8427e");
  AesSetDecryptKey(&expected, md5Empty.data(), 16);
  EXPECT_EQ(key.rounds, 10u);
  EXPECT_EQ(memcmp(&key, &expected, sizeof key), 0);
  EntryKey fromNull;
  ASSERT_TRUE(DeriveEntryKey(&fromNull, nullptr, 0, 1));
  EXPECT_EQ(memcmp(&fromNull, &expected, sizeof key), 0);

  // Kind 2 of an empty password: 32 zero bytes, not SHA-256 of "".
  ASSERT_TRUE(DeriveEntryKey(&key, "", 0, 2));
  uint8_t zeros[32] = {};
  AesSetDecryptKey(&expected, zeros, 32);
  EXPECT_EQ(key.rounds, 14u);
  EXPECT_EQ(memcmp(&key, &expected, sizeof key), 0);

  // Kind 2 of 55 bytes uses the archive's SHA-256 padding.
  std::string p55(55, 'a');
  ASSERT_TRUE(DeriveEntryKey(&key, p55.data(), 55, 2));
  auto variant = FromHex("8dae2213be49843815e7ced67d8cbe7da18847dca23ed21b3ad0647012178096");
  AesSetDecryptKey(&expected, variant.data(), 32);
  EXPECT_EQ(memcmp(&key, &expected, sizeof key), 0);

  // Kind 1 looks at no more than 276 bytes.
  std::string long1(400, 'q'), long2(276, 'q');
  long1[300] = 'z';
  EntryKey other;
  ASSERT_TRUE(DeriveEntryKey(&key, long1.data(), 400, 1));
  ASSERT_TRUE(DeriveEntryKey(&other, long2.data(), 276, 1));
  EXPECT_EQ(memcmp(&key, &other, sizeof key), 0);
}

TEST(EntryData, RoundTripOnWholeBlocks) {
  std::mt19937 rng(8);
  for (uint32_t kind : {1u, 2u}) {
    EntryKey enc, dec;
    ASSERT_TRUE(DeriveEntryEncryptKey(&enc, "open sesame", 11, kind));
    ASSERT_TRUE(DeriveEntryKey(&dec, "open sesame", 11, kind));
    auto plain = test::RandomBytes(rng, 80);
    std::vector<uint8_t> buf = plain;
    EncipherEntryData(&enc, buf.data(), 33);  // three blocks
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 48, buf.end()),
              std::vector<uint8_t>(plain.begin() + 48, plain.end()));
    DecipherEntryData(&dec, buf.data(), 0);
    DecipherEntryData(&dec, buf.data(), 48);
    EXPECT_EQ(buf, plain);
  }
}

// The processor's AES instructions (where present) and the table code must
// agree on every block count, including the tails after groups of four.
TEST(EntryData, HardwareAndTablePathsAgree) {
  std::mt19937 rng(77);
  auto key256 = FromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  EntryKey vec;
  AesSetDecryptKey(&vec, key256.data(), 32);
  auto block = FromHex("8ea2b7ca516745bfeafc49904b496089");
  DecipherEntryData(&vec, block.data(), 16);
  EXPECT_EQ(Hex(block.data(), 16), "00112233445566778899aabbccddeeff");
  for (uint32_t kind : {1u, 2u}) {
    EntryKey dec;
    ASSERT_TRUE(DeriveEntryKey(&dec, "tables or not", 13, kind));
    for (uint32_t blocks : {1u, 3u, 4u, 5u, 8u, 9u, 1023u}) {
      auto data = test::RandomBytes(rng, 16 * blocks);
      std::vector<uint8_t> fast = data, slow = data;
      DecipherEntryData(&dec, fast.data(), uint32_t(fast.size()) - 7);
      aesTablesOnly = true;
      DecipherEntryData(&dec, slow.data(), uint32_t(slow.size()) - 7);
      aesTablesOnly = false;
      ASSERT_EQ(fast, slow) << "kind " << kind << ", " << blocks << " blocks";
    }
  }
}

#ifdef TVK_HAVE_ORACLES
TEST(CipherOracle, BlowfishMatchesLibcryptoWithSwappedHalves) {
  std::mt19937 rng(77);
  static BlowfishKey ours;
  for (int round = 0; round < 300; ++round) {
    auto key = test::RandomBytes(rng, 1 + rng() % 56);
    BF_KEY theirs;
    BF_set_key(&theirs, int(key.size()), key.data());
    BlowfishSetKey(&ours, key.data(), uint32_t(key.size()));
    for (int b = 0; b < 10; ++b) {
      auto block = test::RandomBytes(rng, 8);
      uint8_t out[8];
      BF_ecb_encrypt(block.data(), out, &theirs, BF_ENCRYPT);
      // Big-endian halves there, little-endian halves here.
      uint32_t l = uint32_t(block[0]) << 24 | uint32_t(block[1]) << 16 | uint32_t(block[2]) << 8 | block[3];
      uint32_t r = uint32_t(block[4]) << 24 | uint32_t(block[5]) << 16 | uint32_t(block[6]) << 8 | block[7];
      BlowfishEncryptBlock(&ours, &l, &r);
      uint32_t el = uint32_t(out[0]) << 24 | uint32_t(out[1]) << 16 | uint32_t(out[2]) << 8 | out[3];
      uint32_t er = uint32_t(out[4]) << 24 | uint32_t(out[5]) << 16 | uint32_t(out[6]) << 8 | out[7];
      ASSERT_EQ(l, el);
      ASSERT_EQ(r, er);
    }
  }
  // The whole head path against the library: MD5 key, reversed halves.
  for (int round = 0; round < 100; ++round) {
    std::string password(rng() % 300, ' ');
    for (char& c : password) c = char('!' + rng() % 90);
    uint8_t digest[16];
    Md5OfBuffer(password.data(), uint32_t(password.size() > 260 ? 260 : password.size()), digest);
    BF_KEY theirs;
    BF_set_key(&theirs, 16, digest);
    uint32_t length = rng() % 200;
    auto plain = test::RandomBytes(rng, (length + 7) / 8 * 8);
    std::vector<uint8_t> cipher(plain.size());
    for (size_t i = 0; i < plain.size(); i += 8) {
      uint8_t be[8], out[8];
      for (int k = 0; k < 4; ++k) {
        be[k] = plain[i + 3 - k];
        be[4 + k] = plain[i + 7 - k];
      }
      BF_ecb_encrypt(be, out, &theirs, BF_ENCRYPT);
      for (int k = 0; k < 4; ++k) {
        cipher[i + k] = out[3 - k];
        cipher[i + 4 + k] = out[7 - k];
      }
    }
    DecipherHeadBytes(password.c_str(), cipher.data(), length);
    ASSERT_EQ(cipher, plain) << password.size();
  }
}

TEST(CipherOracle, AesMatchesLibcrypto) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 400; ++round) {
    uint32_t keyLength = round % 2 ? 32 : 16;
    auto key = test::RandomBytes(rng, keyLength);
    uint32_t n = 16 * (1 + rng() % 64);
    auto plain = test::RandomBytes(rng, n);
    std::vector<uint8_t> cipher(n + 16);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ASSERT_EQ(EVP_EncryptInit_ex(ctx, keyLength == 16 ? EVP_aes_128_ecb() : EVP_aes_256_ecb(),
                                 nullptr, key.data(), nullptr), 1);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    int outLength = 0;
    ASSERT_EQ(EVP_EncryptUpdate(ctx, cipher.data(), &outLength, plain.data(), int(n)), 1);
    ASSERT_EQ(outLength, int(n));
    EVP_CIPHER_CTX_free(ctx);
    cipher.resize(n);

    EntryKey dec, enc;
    AesSetDecryptKey(&dec, key.data(), keyLength);
    AesSetEncryptKey(&enc, key.data(), keyLength);
    std::vector<uint8_t> ours = plain;
    EncipherEntryData(&enc, ours.data(), n);
    ASSERT_EQ(ours, cipher);
    DecipherEntryData(&dec, ours.data(), n);
    ASSERT_EQ(ours, plain);
  }
}
#endif

}  // namespace
}  // namespace tvk
