// The writer's ciphertext against libcrypto's: if the writer and our reader
// shared a mistake in either cipher, these would still catch it.
#include <gtest/gtest.h>

#include <string>

#include "writer/archive_writer.h"

#ifdef TVK_HAVE_ORACLES
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>
#include <openssl/evp.h>

namespace tvk {
namespace {

Bytes Digest(const EVP_MD* md, const std::string& data) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int n = 0;
  EVP_Digest(data.data(), data.size(), out.data(), &n, md, nullptr);
  out.resize(n);
  return out;
}

Bytes AesEcb(const Bytes& key, Bytes data) {
  data.resize((data.size() + 15) / 16 * 16, 0);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, key.size() == 16 ? EVP_aes_128_ecb() : EVP_aes_256_ecb(), nullptr,
                     key.data(), nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  Bytes out(data.size() + 16);
  int n = 0, m = 0;
  EVP_EncryptUpdate(ctx, out.data(), &n, data.data(), static_cast<int>(data.size()));
  EVP_EncryptFinal_ex(ctx, out.data() + n, &m);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(n + m);
  return out;
}

// Blowfish with the archive's block layout: each half is the little-endian
// value of its four bytes.
Bytes BlowfishHead(const std::string& password, Bytes data) {
  Bytes k = Digest(EVP_md5(), password.substr(0, 260));
  BF_KEY key;
  BF_set_key(&key, 16, k.data());
  data.resize((data.size() + 7) / 8 * 8, 0);
  for (size_t at = 0; at < data.size(); at += 8) {
    BF_LONG half[2];
    for (int h = 0; h < 2; ++h) {
      const uint8_t* p = &data[at + 4 * h];
      half[h] = static_cast<BF_LONG>(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24);
    }
    BF_encrypt(half, &key);
    for (int h = 0; h < 2; ++h)
      for (int b = 0; b < 4; ++b) data[at + 4 * h + b] = static_cast<uint8_t>(half[h] >> (8 * b));
  }
  return data;
}

Bytes Sample(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
  return b;
}

TEST(EntryCipher, Kind1IsAes128KeyedByMd5) {
  for (size_t n : {0u, 1u, 15u, 16u, 17u, 100u}) {
    Bytes plain = Sample(n);
    Bytes want = AesEcb(Digest(EVP_md5(), "secret"), plain);
    Bytes got = EncipherEntryData(1, "secret", plain);
    EXPECT_EQ(got.size(), (n + 15) / 16 * 16) << n;
    EXPECT_EQ(got, want) << n;
  }
  // Only the first 276 password bytes count.
  std::string longPassword(300, 'p');
  longPassword[280] = 'q';
  EXPECT_EQ(EncipherEntryData(1, longPassword, Sample(32)),
            AesEcb(Digest(EVP_md5(), longPassword.substr(0, 276)), Sample(32)));
  // An empty password: the MD5 of nothing.
  EXPECT_EQ(EncipherEntryData(1, "", Sample(16)), AesEcb(Digest(EVP_md5(), ""), Sample(16)));
}

TEST(EntryCipher, Kind2IsAes256KeyedBySha256) {
  for (size_t length : {1u, 6u, 54u, 56u, 64u, 100u}) {
    std::string password(length, 'k');
    Bytes plain = Sample(48);
    EXPECT_EQ(EncipherEntryData(2, password, plain), AesEcb(Digest(EVP_sha256(), password), plain))
        << length;
  }
  // An empty password gives a key of 32 zero bytes, not the SHA-256 of "".
  EXPECT_EQ(EncipherEntryData(2, "", Sample(16)), AesEcb(Bytes(32, 0), Sample(16)));
  // At 55 bytes the archive's SHA-256 pads differently from the standard.
  std::string odd(55, 'a');
  EXPECT_NE(EntryKeyBytes(2, odd), Digest(EVP_sha256(), odd));
  EXPECT_EQ(EntryKeyBytes(2, odd),
            Bytes({0x8d, 0xae, 0x22, 0x13, 0xbe, 0x49, 0x84, 0x38, 0x15, 0xe7, 0xce,
                   0xd6, 0x7d, 0x8c, 0xbe, 0x7d, 0xa1, 0x88, 0x47, 0xdc, 0xa2, 0x3e,
                   0xd2, 0x1b, 0x3a, 0xd0, 0x64, 0x70, 0x12, 0x17, 0x80, 0x96}));
  // Kind 0 leaves the data alone.
  EXPECT_EQ(EncipherEntryData(0, "x", Sample(5)), Sample(5));
}

TEST(HeadCipher, BlowfishWithLittleEndianHalvesKeyedByMd5) {
  Bytes head = BuildMainHeader({});  // any 25 bytes: three blocks and a padded one
  for (const std::string& password : {std::string("pw"), std::string(""), std::string(40, 'z')}) {
    Bytes got = EncipherHead(password, head);
    ASSERT_EQ(got.size(), 2u + 32u);
    EXPECT_EQ(got[0] | got[1] << 8, 32);
    EXPECT_EQ(Bytes(got.begin() + 2, got.end()), BlowfishHead(password, head)) << password;
  }
  // A head that is a whole number of blocks takes no padding.
  Bytes eight(8, 0x5A);
  EXPECT_EQ(EncipherHead("pw", eight).size(), 10u);
  // Passwords are cut at 260 bytes for heads.
  std::string longer(300, 'L');
  longer[270] = 'M';
  EXPECT_EQ(EncipherHead(longer, head), EncipherHead(longer.substr(0, 260), head));
  EXPECT_NE(EncipherHead(longer.substr(0, 259), head), EncipherHead(longer.substr(0, 260), head));
}

}  // namespace
}  // namespace tvk
#endif
