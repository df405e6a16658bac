// Fixed-size unsigned arithmetic (33 digits of 32 bits, least significant
// first) and the RSA public operation with block-type-1 unpadding. Nothing
// allocates; message temporaries are wiped.
#ifndef TVK_CRYPTO_BIGNUM_H
#define TVK_CRYPTO_BIGNUM_H

#include <stdint.h>

namespace tvk {

constexpr uint32_t kMaxDigits = 33;
typedef uint32_t BigNum[kMaxDigits];

void BnDecode(uint32_t* a, uint32_t n, const uint8_t* bytes, uint32_t length);
void BnEncode(uint8_t* bytes, uint32_t length, const uint32_t* a, uint32_t n);
void BnZero(uint32_t* a, uint32_t n);
void BnCopy(uint32_t* a, const uint32_t* b, uint32_t n);
int BnCompare(const uint32_t* a, const uint32_t* b, uint32_t n);
uint32_t BnDigits(const uint32_t* a, uint32_t n);
uint32_t BnDigitBits(uint32_t x);
uint32_t BnShiftLeft(uint32_t* a, const uint32_t* b, uint32_t bits, uint32_t n);
uint32_t BnShiftRight(uint32_t* a, const uint32_t* b, uint32_t bits, uint32_t n);
uint32_t BnSub(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t n);
void BnMul(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t n);
void BnDigitMul(uint32_t* high, uint32_t* low, uint32_t x, uint32_t y);
uint32_t BnSubDigitMul(uint32_t* a, const uint32_t* b, uint32_t x, const uint32_t* c, uint32_t n);
// quotient (cDigits digits, may be nullptr) and remainder (dDigits digits,
// may be nullptr) of c by d; c has at most 66 digits, d at most 33 and is
// not zero.
void BnDiv(uint32_t* quotient, uint32_t* remainder, const uint32_t* c, uint32_t cDigits,
           const uint32_t* d, uint32_t dDigits);
void BnMod(uint32_t* a, const uint32_t* b, uint32_t bDigits, const uint32_t* c, uint32_t cDigits);
void BnModMul(uint32_t* a, const uint32_t* b, const uint32_t* c, const uint32_t* d, uint32_t n);
void BnModExp(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t cDigits,
              const uint32_t* d, uint32_t dDigits);

// 258-byte form of an RSA public key.
struct PublicKeyRecord {
  uint16_t bits;
  uint8_t modulus[128];   // big-endian, left-padded with zeros
  uint8_t exponent[128];  // big-endian, left-padded with zeros
};
constexpr uint32_t kPublicKeyRecordSize = 258;
// Reads the packed 258-byte form (u16 little-endian bit count first).
void ParsePublicKeyRecord(const uint8_t* bytes, PublicKeyRecord* out);

constexpr uint32_t kRsaOk = 0;
constexpr uint32_t kRsaDataError = 0x0401;
constexpr uint32_t kRsaLengthError = 0x0406;

// Results kRsaOk, kRsaDataError (not below the modulus, bad padding) or
// kRsaLengthError (input longer than the key, or a key above 1024 bits).
// output needs room for k - 11 bytes.
uint32_t RsaPublicOpen(uint8_t* output, uint32_t* outLength, const uint8_t* input,
                       uint32_t inputLength, const PublicKeyRecord* key);

}  // namespace tvk

#endif
