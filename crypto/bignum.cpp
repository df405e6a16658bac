#include "crypto/bignum.h"

#include <string.h>

#include "platform/platform.h"

namespace tvk {
namespace {

constexpr uint32_t kProductDigits = 2 * kMaxDigits;

}  // namespace

void BnDecode(uint32_t* a, uint32_t n, const uint8_t* bytes, uint32_t length) {
  uint32_t i = 0;
  int64_t j = int64_t(length) - 1;
  for (; i < n && j >= 0; ++i) {
    uint32_t digit = 0;
    for (uint32_t shift = 0; shift < 32 && j >= 0; shift += 8, --j) digit |= uint32_t(bytes[j]) << shift;
    a[i] = digit;
  }
  for (; i < n; ++i) a[i] = 0;
}

void BnEncode(uint8_t* bytes, uint32_t length, const uint32_t* a, uint32_t n) {
  uint32_t i = 0;
  int64_t j = int64_t(length) - 1;
  for (; i < n && j >= 0; ++i) {
    uint32_t digit = a[i];
    for (uint32_t shift = 0; shift < 32 && j >= 0; shift += 8, --j) bytes[j] = uint8_t(digit >> shift);
  }
  for (; j >= 0; --j) bytes[j] = 0;
}

void BnZero(uint32_t* a, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) a[i] = 0;
}

void BnCopy(uint32_t* a, const uint32_t* b, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) a[i] = b[i];
}

int BnCompare(const uint32_t* a, const uint32_t* b, uint32_t n) {
  while (n--) {
    if (a[n] > b[n]) return 1;
    if (a[n] < b[n]) return -1;
  }
  return 0;
}

uint32_t BnDigits(const uint32_t* a, uint32_t n) {
  while (n > 0 && a[n - 1] == 0) --n;
  return n;
}

uint32_t BnDigitBits(uint32_t x) {
  uint32_t bits = 0;
  while (x) {
    ++bits;
    x >>= 1;
  }
  return bits;
}

uint32_t BnShiftLeft(uint32_t* a, const uint32_t* b, uint32_t bits, uint32_t n) {
  if (bits >= 32) return 0;
  if (bits == 0) {
    BnCopy(a, b, n);
    return 0;
  }
  uint32_t carry = 0;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t x = b[i];
    a[i] = (x << bits) | carry;
    carry = x >> (32 - bits);
  }
  return carry;
}

uint32_t BnShiftRight(uint32_t* a, const uint32_t* b, uint32_t bits, uint32_t n) {
  if (bits >= 32) return 0;
  if (bits == 0) {
    BnCopy(a, b, n);
    return 0;
  }
  uint32_t carry = 0;
  for (uint32_t i = n; i-- > 0;) {
    uint32_t x = b[i];
    a[i] = (x >> bits) | carry;
    carry = x << (32 - bits);
  }
  return carry >> (32 - bits);
}

uint32_t BnSub(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t n) {
  uint32_t borrow = 0;
  for (uint32_t i = 0; i < n; ++i) {
    uint64_t t = uint64_t(b[i]) - c[i] - borrow;
    a[i] = uint32_t(t);
    borrow = uint32_t(t >> 32) & 1;
  }
  return borrow;
}

void BnDigitMul(uint32_t* high, uint32_t* low, uint32_t x, uint32_t y) {
  uint64_t p = uint64_t(x) * y;
  *high = uint32_t(p >> 32);
  *low = uint32_t(p);
}

void BnMul(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t n) {
  uint32_t t[kProductDigits];
  BnZero(t, 2 * n);
  uint32_t bDigits = BnDigits(b, n), cDigits = BnDigits(c, n);
  for (uint32_t i = 0; i < bDigits; ++i) {
    uint64_t carry = 0;
    for (uint32_t j = 0; j < cDigits; ++j) {
      uint64_t s = uint64_t(b[i]) * c[j] + t[i + j] + carry;
      t[i + j] = uint32_t(s);
      carry = s >> 32;
    }
    t[i + cDigits] = uint32_t(carry);
  }
  BnCopy(a, t, 2 * n);
  SecureZero(t, sizeof t);
}

uint32_t BnSubDigitMul(uint32_t* a, const uint32_t* b, uint32_t x, const uint32_t* c, uint32_t n) {
  if (x == 0) {
    BnCopy(a, b, n);
    return 0;
  }
  uint32_t borrow = 0;
  for (uint32_t i = 0; i < n; ++i) {
    // x * c[i] + borrow stays below 2^64, and the borrow out fits a digit.
    uint64_t s = uint64_t(x) * c[i] + borrow;
    uint32_t low = uint32_t(s);
    uint32_t bi = b[i];
    a[i] = bi - low;
    borrow = uint32_t(s >> 32) + (bi < low);
  }
  return borrow;
}

void BnDiv(uint32_t* quotient, uint32_t* remainder, const uint32_t* c, uint32_t cDigits,
           const uint32_t* d, uint32_t dDigits) {
  // The work areas are fixed; callers stay within them.
  if (cDigits > kProductDigits) cDigits = kProductDigits;
  if (dDigits > kMaxDigits) dDigits = kMaxDigits;
  dDigits = BnDigits(d, dDigits);
  if (dDigits == 0) return;  // division by zero: callers never ask for it
  uint32_t work[kProductDigits + 1];
  uint32_t divisor[kMaxDigits];
  BnZero(work, kProductDigits + 1);
  BnZero(divisor, kMaxDigits);
  // Normalise so that the divisor's top bit is set; the quotient digit
  // estimates below are then never more than a few units too small.
  uint32_t shift = 32 - BnDigitBits(d[dDigits - 1]);
  work[cDigits] = BnShiftLeft(work, c, shift, cDigits);
  BnShiftLeft(divisor, d, shift, dDigits);
  uint32_t top = divisor[dDigits - 1];
  if (quotient) BnZero(quotient, cDigits);
  for (int64_t i = int64_t(cDigits) - dDigits; i >= 0; --i) {
    uint32_t* w = work + i;
    uint32_t estimate;
    if (top == 0xFFFFFFFFu) {
      estimate = w[dDigits];
    } else {
      uint64_t twoDigits = uint64_t(w[dDigits]) << 32 | w[dDigits - 1];
      estimate = uint32_t(twoDigits / (uint64_t(top) + 1));
    }
    w[dDigits] -= BnSubDigitMul(w, w, estimate, divisor, dDigits);
    while (w[dDigits] != 0 || BnCompare(w, divisor, dDigits) >= 0) {
      ++estimate;
      w[dDigits] -= BnSub(w, w, divisor, dDigits);
    }
    if (quotient) quotient[i] = estimate;
  }
  if (remainder) BnShiftRight(remainder, work, shift, dDigits);
  SecureZero(work, sizeof work);
  SecureZero(divisor, sizeof divisor);
}

void BnMod(uint32_t* a, const uint32_t* b, uint32_t bDigits, const uint32_t* c, uint32_t cDigits) {
  uint32_t r[kMaxDigits];
  BnZero(r, cDigits);
  BnDiv(nullptr, r, b, bDigits, c, cDigits);
  BnCopy(a, r, cDigits);
  SecureZero(r, sizeof r);
}

void BnModMul(uint32_t* a, const uint32_t* b, const uint32_t* c, const uint32_t* d, uint32_t n) {
  uint32_t t[kProductDigits];
  BnMul(t, b, c, n);
  BnMod(a, t, 2 * n, d, n);
  SecureZero(t, sizeof t);
}

void BnModExp(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t cDigits,
              const uint32_t* d, uint32_t dDigits) {
  uint32_t powers[3][kMaxDigits] = {};  // zeroed: only dDigits words are set
  uint32_t t[kMaxDigits];
  BnCopy(powers[0], b, dDigits);
  BnModMul(powers[1], powers[0], b, d, dDigits);
  BnModMul(powers[2], powers[1], b, d, dDigits);
  BnZero(t, dDigits);
  t[0] = 1;
  cDigits = BnDigits(c, cDigits);
  for (uint32_t i = cDigits; i-- > 0;) {
    uint32_t digit = c[i];
    uint32_t pairs = 16;
    if (i == cDigits - 1) {
      while ((digit >> 30) == 0) {
        digit <<= 2;
        --pairs;
      }
    }
    for (; pairs > 0; --pairs, digit <<= 2) {
      BnModMul(t, t, t, d, dDigits);
      BnModMul(t, t, t, d, dDigits);
      uint32_t s = digit >> 30;
      if (s) BnModMul(t, t, powers[s - 1], d, dDigits);
    }
  }
  BnCopy(a, t, dDigits);
  SecureZero(powers, sizeof powers);
  SecureZero(t, sizeof t);
}

void ParsePublicKeyRecord(const uint8_t* bytes, PublicKeyRecord* out) {
  out->bits = uint16_t(bytes[0] | bytes[1] << 8);
  memcpy(out->modulus, bytes + 2, sizeof out->modulus);
  memcpy(out->exponent, bytes + 130, sizeof out->exponent);
}

uint32_t RsaPublicOpen(uint8_t* output, uint32_t* outLength, const uint8_t* input,
                       uint32_t inputLength, const PublicKeyRecord* key) {
  uint32_t k = (uint32_t(key->bits) + 7) / 8;
  // The block buffer holds 128 bytes; a longer key cannot be opened here.
  if (inputLength > k || k > sizeof key->modulus) return kRsaLengthError;
  BigNum m, n, e, c;
  BnDecode(m, kMaxDigits, input, inputLength);
  BnDecode(n, kMaxDigits, key->modulus, sizeof key->modulus);
  BnDecode(e, kMaxDigits, key->exponent, sizeof key->exponent);
  uint32_t nDigits = BnDigits(n, kMaxDigits);
  uint32_t eDigits = BnDigits(e, kMaxDigits);
  // Compared over all digits: a record whose bit count overstates its
  // modulus must not let a larger number through.
  if (nDigits == 0 || BnCompare(m, n, kMaxDigits) >= 0) {
    SecureZero(m, sizeof m);
    return kRsaDataError;
  }
  BnModExp(c, m, e, eDigits, n, nDigits);
  uint8_t block[128];
  BnEncode(block, k, c, nDigits);
  SecureZero(m, sizeof m);
  SecureZero(c, sizeof c);

  uint32_t result = kRsaDataError;
  if (k >= 11 && block[0] == 0x00 && block[1] == 0x01) {
    uint32_t i = 2;
    while (i <= k - 2 && block[i] == 0xFF) ++i;
    if (block[i] == 0x00) {
      uint32_t start = i + 1;
      uint32_t length = k - start;
      if (length + 11 <= k) {
        memcpy(output, block + start, length);
        *outLength = length;
        result = kRsaOk;
      }
    }
  }
  SecureZero(block, sizeof block);
  return result;
}

}  // namespace tvk
