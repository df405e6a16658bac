#include "crypto/bignum.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/crypto/test_util.h"

#ifdef TVK_HAVE_ORACLES
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/bn.h>
#include <openssl/rsa.h>
#endif

namespace tvk {
namespace {

using test::FromHex;
using test::Hex;

std::vector<uint32_t> RandomNumber(std::mt19937& rng, uint32_t digits) {
  std::vector<uint32_t> v(kMaxDigits * 2, 0);
  for (uint32_t i = 0; i < digits; ++i) v[i] = uint32_t(rng());
  // Sprinkle extreme digits: all ones and zeros test the carries.
  for (uint32_t i = 0; i < digits; ++i) {
    uint32_t r = rng() % 8;
    if (r == 0) v[i] = 0xFFFFFFFFu;
    if (r == 1) v[i] = 0;
  }
  return v;
}

TEST(BigNum, ByteFormRoundTrip) {
  const uint8_t bytes[5] = {0x12, 0x34, 0x56, 0x78, 0x9A};
  BigNum a;
  memset(a, 0xEE, sizeof a);
  BnDecode(a, kMaxDigits, bytes, 5);
  EXPECT_EQ(a[0], 0x3456789Au);
  EXPECT_EQ(a[1], 0x12u);
  for (uint32_t i = 2; i < kMaxDigits; ++i) EXPECT_EQ(a[i], 0u);
  uint8_t out[8];
  memset(out, 0xEE, sizeof out);
  BnEncode(out, 8, a, kMaxDigits);
  EXPECT_EQ(Hex(out, 8), "000000123456789a");
  // Digits that do not fit are dropped from the front.
  BnEncode(out, 3, a, kMaxDigits);
  EXPECT_EQ(Hex(out, 3), "56789a");
  EXPECT_EQ(BnDigits(a, kMaxDigits), 2u);
  EXPECT_EQ(BnDigitBits(0x12), 5u);
  EXPECT_EQ(BnDigitBits(0), 0u);
  EXPECT_EQ(BnDigitBits(0x80000000u), 32u);
}

TEST(BigNum, ShiftsAndCompare) {
  uint32_t b[3] = {0x80000001u, 0xF0000000u, 0x1u};
  uint32_t a[3] = {7, 7, 7};
  EXPECT_EQ(BnShiftLeft(a, b, 32, 3), 0u);
  EXPECT_EQ(a[0], 7u);
  EXPECT_EQ(BnShiftLeft(a, b, 0, 3), 0u);
  EXPECT_EQ(BnCompare(a, b, 3), 0);
  EXPECT_EQ(BnShiftLeft(a, b, 4, 3), 0u);
  EXPECT_EQ(a[0], 0x00000010u);
  EXPECT_EQ(a[1], 0x00000008u);
  EXPECT_EQ(a[2], 0x1Fu);
  EXPECT_EQ(BnShiftLeft(a, b, 31, 3), 0u);
  EXPECT_EQ(a[2], 0xF8000000u);
  EXPECT_EQ(BnShiftLeft(a, a, 31, 3), 0x7C000000u);  // the bits pushed out of the top
  uint32_t c[3];
  EXPECT_EQ(BnShiftRight(c, b, 4, 3), 0x1u);
  EXPECT_EQ(c[0], 0x08000000u);
  EXPECT_EQ(c[1], 0x1F000000u);
  EXPECT_EQ(c[2], 0u);
  EXPECT_EQ(BnShiftRight(c, b, 32, 3), 0u);

  uint32_t x[2] = {5, 9}, y[2] = {6, 9};
  EXPECT_EQ(BnCompare(x, y, 2), -1);
  EXPECT_EQ(BnCompare(y, x, 2), 1);
  EXPECT_EQ(BnCompare(x, x, 2), 0);
  uint32_t d[2];
  EXPECT_EQ(BnSub(d, x, y, 2), 1u);
  EXPECT_EQ(d[0], 0xFFFFFFFFu);
  EXPECT_EQ(d[1], 0xFFFFFFFFu);
  uint32_t hi, lo;
  BnDigitMul(&hi, &lo, 0xFFFFFFFFu, 0xFFFFFFFFu);
  EXPECT_EQ(hi, 0xFFFFFFFEu);
  EXPECT_EQ(lo, 1u);
}

// q * d + r == c and r < d, checked with the schoolbook product and an
// addition written here, over many shapes of divisor.
TEST(BigNum, DivisionReassembles) {
  std::mt19937 rng(17);
  for (int round = 0; round < 3000; ++round) {
    uint32_t cDigits = 1 + rng() % (2 * kMaxDigits - 1);
    uint32_t dDigits = 1 + rng() % kMaxDigits;
    auto c = RandomNumber(rng, cDigits);
    auto d = RandomNumber(rng, dDigits);
    if (round % 7 == 0) d[dDigits - 1] = 0xFFFFFFFFu;
    if (round % 11 == 0) d[dDigits - 1] = 1;
    if (BnDigits(d.data(), dDigits) == 0) d[0] = 3;
    std::vector<uint32_t> q(2 * kMaxDigits + 2, 0), r(kMaxDigits, 0);
    BnDiv(q.data(), r.data(), c.data(), cDigits, d.data(), dDigits);
    ASSERT_LT(BnCompare(r.data(), d.data(), dDigits), 0);
    // q * d, digit by digit, plus r.
    std::vector<uint64_t> acc(4 * kMaxDigits + 4, 0);
    for (uint32_t i = 0; i < cDigits; ++i) {
      uint64_t carry = 0;
      for (uint32_t j = 0; j < dDigits || carry; ++j) {
        uint64_t p = (j < dDigits ? uint64_t(q[i]) * d[j] : 0) + acc[i + j] + carry;
        acc[i + j] = uint32_t(p);
        carry = p >> 32;
      }
    }
    uint64_t carry = 0;
    for (size_t i = 0; i < acc.size(); ++i) {
      uint64_t s = acc[i] + (i < dDigits ? r[i] : 0) + carry;
      acc[i] = uint32_t(s);
      carry = s >> 32;
    }
    for (size_t i = 0; i < acc.size(); ++i) {
      ASSERT_EQ(uint32_t(acc[i]), i < c.size() ? c[i] : 0u) << "round " << round << " digit " << i;
    }
  }
}

TEST(BigNum, ModularExponentEdges) {
  std::mt19937 rng(23);
  // Single-digit numbers against a plain 64-bit computation.
  for (int round = 0; round < 500; ++round) {
    uint32_t m = uint32_t(rng()) | 1, b = uint32_t(rng()), e = uint32_t(rng()) >> (rng() % 32);
    uint64_t expect = 1, base = b % m;
    for (uint32_t k = e; k; k >>= 1) {
      if (k & 1) expect = expect * base % m;
      base = base * base % m;
    }
    uint32_t bb[1] = {b % m}, ee[1] = {e}, mm[1] = {m}, out[1];
    BnModExp(out, bb, ee, 1, mm, 1);
    ASSERT_EQ(out[0], uint32_t(expect)) << b << "^" << e << " mod " << m;
  }
  auto b = RandomNumber(rng, 32);
  auto d = RandomNumber(rng, 32);
  d[31] |= 0x80000000u;
  BnMod(b.data(), b.data(), 32, d.data(), 32);
  uint32_t one[1] = {1}, zero[2] = {0, 0};
  BigNum out;
  BnModExp(out, b.data(), one, 1, d.data(), 32);
  EXPECT_EQ(BnCompare(out, b.data(), 32), 0);
  BnModExp(out, b.data(), zero, 2, d.data(), 32);
  EXPECT_EQ(out[0], 1u);
  EXPECT_EQ(BnDigits(out, 32), 1u);
}

// A 1024-bit record whose exponent is 1 opens a block into itself, so the
// padding rules can be driven without a private key.
PublicKeyRecord IdentityKey(uint16_t bits) {
  PublicKeyRecord key{};
  key.bits = bits;
  uint32_t k = (bits + 7u) / 8u;
  memset(key.modulus + 128 - k, 0xFF, k);
  if (bits % 8) key.modulus[128 - k] = uint8_t(0xFF >> (8 - bits % 8));
  key.exponent[127] = 1;
  return key;
}

std::vector<uint8_t> Block(uint32_t k, uint32_t ffCount, uint32_t payload) {
  std::vector<uint8_t> b(k, 0x5C);
  b[0] = 0x00;
  b[1] = 0x01;
  for (uint32_t i = 0; i < ffCount; ++i) b[2 + i] = 0xFF;
  b[2 + ffCount] = 0x00;
  EXPECT_EQ(3 + ffCount + payload, k);
  return b;
}

TEST(Rsa, PaddingRules) {
  PublicKeyRecord key = IdentityKey(1024);
  uint8_t out[128];
  uint32_t length = 999;
  auto seven = Block(128, 7, 118);
  EXPECT_EQ(RsaPublicOpen(out, &length, seven.data(), 128, &key), kRsaDataError);
  auto eight = Block(128, 8, 117);
  ASSERT_EQ(RsaPublicOpen(out, &length, eight.data(), 128, &key), kRsaOk);
  EXPECT_EQ(length, 117u);
  EXPECT_EQ(out[0], 0x5C);
  EXPECT_EQ(out[116], 0x5C);

  std::vector<uint8_t> allFf(128, 0xFF);
  allFf[0] = 0;
  allFf[1] = 1;
  EXPECT_EQ(RsaPublicOpen(out, &length, allFf.data(), 128, &key), kRsaDataError);
  allFf[127] = 0;
  ASSERT_EQ(RsaPublicOpen(out, &length, allFf.data(), 128, &key), kRsaOk);
  EXPECT_EQ(length, 0u);

  auto wrongType = Block(128, 8, 117);
  wrongType[1] = 0x02;
  EXPECT_EQ(RsaPublicOpen(out, &length, wrongType.data(), 128, &key), kRsaDataError);
  auto noSeparator = Block(128, 8, 117);
  noSeparator[10] = 0x01;
  EXPECT_EQ(RsaPublicOpen(out, &length, noSeparator.data(), 128, &key), kRsaDataError);

  // A block shorter than the key opens as a number with leading zeros.
  auto shortBlock = Block(128, 8, 117);
  ASSERT_EQ(RsaPublicOpen(out, &length, shortBlock.data() + 1, 127, &key), kRsaOk);
  EXPECT_EQ(length, 117u);
}

TEST(Rsa, LengthAndRangeRefusals) {
  PublicKeyRecord key = IdentityKey(1024);
  uint8_t out[128];
  uint32_t length = 0;
  std::vector<uint8_t> big(129, 0);
  EXPECT_EQ(RsaPublicOpen(out, &length, big.data(), 129, &key), kRsaLengthError);
  EXPECT_EQ(RsaPublicOpen(out, &length, key.modulus, 128, &key), kRsaDataError);
  // A 1016-bit key is 127 bytes long: a 128-byte block is too long for it.
  PublicKeyRecord small = IdentityKey(1016);
  auto block = Block(128, 8, 117);
  EXPECT_EQ(RsaPublicOpen(out, &length, block.data(), 128, &small), kRsaLengthError);
  // A key claiming more than 1024 bits cannot be opened into the block buffer.
  PublicKeyRecord huge = IdentityKey(1024);
  huge.bits = 1032;
  EXPECT_EQ(RsaPublicOpen(out, &length, block.data(), 128, &huge), kRsaLengthError);
  // A bit count that overstates a small modulus must not let a number
  // through that is not below the real modulus.
  PublicKeyRecord understated{};
  understated.bits = 1024;
  understated.modulus[127] = 0x07;
  understated.exponent[127] = 1;
  EXPECT_EQ(RsaPublicOpen(out, &length, block.data(), 128, &understated), kRsaDataError);
  PublicKeyRecord zero{};
  zero.bits = 1024;
  EXPECT_EQ(RsaPublicOpen(out, &length, block.data(), 128, &zero), kRsaDataError);
}

TEST(Rsa, OpensABlockSealedWithAPrivateKey) {
  auto modulus = FromHex(
      "CE778090D28E518FF05073D61EB87C29E70CC4EB9ABFD49C3FD4D37768F11C0E20D5F248AD5EF25EC6A2BED3B482"
      "06E9910D08FC849E4CF972C9CBCADBB8753C3C017CD0B1DCBE0F0FE2E9F992CC1EC1BEFD63DFE83FDF49ADD33FE7"
      "93441673A009E5FF92C7B744B463955B4BC0A078D7B8140F4775D1D15CF5E4BE364A5635");
  auto sealed = FromHex(
      "0b8f6df699aa409367dc26725d1b04e4e7eadaa2d636b96f19665ab8680a29f02162b3a26111e80f092c74d9bd9d"
      "9bb210b4c7d1d89d8d5da7a4c7a43ab73a2fba146be66ccbc53b8d6bef9c61e0d03bd2eb90b9d9e743d3865523c1"
      "375dac761fe9ca0809c44506b989b5a155e29524fbdc7b8f3af3dee7acad3c7dbc96e052");
  uint8_t record[kPublicKeyRecordSize] = {0x00, 0x04};
  memcpy(record + 2, modulus.data(), 128);
  record[130 + 125] = 0x01;  // 65537
  record[130 + 127] = 0x01;
  PublicKeyRecord key;
  ParsePublicKeyRecord(record, &key);
  EXPECT_EQ(key.bits, 1024);
  uint8_t out[128];
  uint32_t length = 0;
  ASSERT_EQ(RsaPublicOpen(out, &length, sealed.data(), 128, &key), kRsaOk);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), length), "signed block test payload");
  sealed[60] ^= 0x01;
  EXPECT_EQ(RsaPublicOpen(out, &length, sealed.data(), 128, &key), kRsaDataError);
}

#ifdef TVK_HAVE_ORACLES
BIGNUM* ToBn(const uint32_t* a, uint32_t n) {
  std::vector<uint8_t> bytes(4 * n);
  BnEncode(bytes.data(), uint32_t(bytes.size()), a, n);
  return BN_bin2bn(bytes.data(), int(bytes.size()), nullptr);
}

TEST(BigNumOracle, ModExpAndModMatchLibcrypto) {
  std::mt19937 rng(31);
  BN_CTX* ctx = BN_CTX_new();
  for (int round = 0; round < 200; ++round) {
    uint32_t dDigits = 1 + rng() % 32;
    auto d = RandomNumber(rng, dDigits);
    if (BnDigits(d.data(), dDigits) == 0) d[0] = 5;
    auto b = RandomNumber(rng, dDigits);
    BnMod(b.data(), b.data(), dDigits, d.data(), dDigits);
    uint32_t cDigits = 1 + rng() % (round % 10 == 0 ? 32 : 2);
    auto c = RandomNumber(rng, cDigits);
    BigNum out;
    BnModExp(out, b.data(), c.data(), cDigits, d.data(), dDigits);
    BIGNUM *bb = ToBn(b.data(), dDigits), *cc = ToBn(c.data(), cDigits), *dd = ToBn(d.data(), dDigits);
    BIGNUM* expect = BN_new();
    ASSERT_EQ(BN_mod_exp(expect, bb, cc, dd, ctx), 1);
    BIGNUM* ours = ToBn(out, dDigits);
    ASSERT_EQ(BN_cmp(expect, ours), 0) << "round " << round;
    BN_free(bb);
    BN_free(cc);
    BN_free(dd);
    BN_free(expect);
    BN_free(ours);
  }
  BN_CTX_free(ctx);
}

PublicKeyRecord RecordOf(const RSA* rsa) {
  const BIGNUM *n = nullptr, *e = nullptr;
  RSA_get0_key(rsa, &n, &e, nullptr);
  PublicKeyRecord key{};
  key.bits = uint16_t(BN_num_bits(n));
  BN_bn2binpad(n, key.modulus, 128);
  BN_bn2binpad(e, key.exponent, 128);
  return key;
}

TEST(RsaOracle, OpensWhatLibcryptoSealsWithType1Padding) {
  std::mt19937 rng(4096);
  BIGNUM* e = BN_new();
  BN_set_word(e, 65537);
  for (int bits : {1024, 1024, 1024, 1024, 1023, 1022, 1021, 1020, 1019, 1018, 1017}) {
    RSA* rsa = RSA_new();
    ASSERT_EQ(RSA_generate_key_ex(rsa, bits, e, nullptr), 1);
    PublicKeyRecord key = RecordOf(rsa);
    ASSERT_EQ(key.bits, bits);
    int k = RSA_size(rsa);
    for (int round = 0; round < 40; ++round) {
      auto payload = test::RandomBytes(rng, rng() % (k - 11 + 1));
      std::vector<uint8_t> sealed(k);
      int n = RSA_private_encrypt(int(payload.size()), payload.data(), sealed.data(), rsa,
                                  RSA_PKCS1_PADDING);
      ASSERT_EQ(n, k);
      uint8_t out[128];
      uint32_t length = 9999;
      ASSERT_EQ(RsaPublicOpen(out, &length, sealed.data(), uint32_t(k), &key), kRsaOk) << bits;
      ASSERT_EQ(std::vector<uint8_t>(out, out + length), payload);
      sealed[rng() % k] ^= uint8_t(1 + rng() % 255);
      uint32_t r = RsaPublicOpen(out, &length, sealed.data(), uint32_t(k), &key);
      EXPECT_TRUE(r == kRsaDataError) << r;
    }
    RSA_free(rsa);
  }
  BN_free(e);
}
#endif

}  // namespace
}  // namespace tvk
