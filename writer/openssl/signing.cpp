#include "writer/openssl/signing.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <stdio.h>
#include <string.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>

#include "archive/signature_check.h"
#include "crypto/bignum.h"
#include "crypto/cipher.h"
#include "crypto/crc32.h"
#include "crypto/digest.h"
#include "writer/archive_writer.h"

namespace tvk::signing {
namespace {

struct KeyDeleter {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CtxDeleter {
  void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
struct BioDeleter {
  void operator()(BIO* b) const { BIO_free(b); }
};
struct BnDeleter {
  void operator()(BIGNUM* b) const { BN_free(b); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using Ctx = std::unique_ptr<EVP_PKEY_CTX, CtxDeleter>;
using Bio = std::unique_ptr<BIO, BioDeleter>;
using Bn = std::unique_ptr<BIGNUM, BnDeleter>;

bool Fail(std::string* error, const std::string& what) {
  if (error) {
    *error = what;
    unsigned long code = ERR_get_error();
    if (code) {
      char text[256];
      ERR_error_string_n(code, text, sizeof text);
      *error += " (";
      *error += text;
      *error += ")";
    }
  }
  ERR_clear_error();
  return false;
}

Key LoadKey(const std::string& pem, bool needPrivate, std::string* error) {
  Bio bio(BIO_new_mem_buf(pem.data(), int(pem.size())));
  Key key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  if (!key && !needPrivate) {
    ERR_clear_error();
    Bio again(BIO_new_mem_buf(pem.data(), int(pem.size())));
    key.reset(PEM_read_bio_PUBKEY(again.get(), nullptr, nullptr, nullptr));
  }
  if (!key) {
    Fail(error, needPrivate ? "not a PEM private key" : "not a PEM key");
    return nullptr;
  }
  if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) {
    Fail(error, "the key is not an RSA key");
    return nullptr;
  }
  return key;
}

std::string PemOf(EVP_PKEY* key, bool isPrivate) {
  Bio bio(BIO_new(BIO_s_mem()));
  int ok = isPrivate ? PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr)
                     : PEM_write_bio_PUBKEY(bio.get(), key);
  if (!ok) return std::string();
  char* data = nullptr;
  long n = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, size_t(n));
}

bool RecordOf(EVP_PKEY* key, std::vector<uint8_t>* record, std::string* error) {
  BIGNUM* n = nullptr;
  BIGNUM* e = nullptr;
  if (!EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) ||
      !EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e)) {
    BN_free(n);
    BN_free(e);
    return Fail(error, "cannot read the key's numbers");
  }
  Bn nn(n), ee(e);
  int bits = BN_num_bits(n);
  if (bits > kMaxKeyBits || BN_num_bytes(e) > 128) {
    return Fail(error, "keys of more than 1024 bits cannot be used");
  }
  record->assign(kPublicKeyRecordSize, 0);
  (*record)[0] = uint8_t(bits);
  (*record)[1] = uint8_t(bits >> 8);
  BN_bn2binpad(n, record->data() + 2, 128);
  BN_bn2binpad(e, record->data() + 130, 128);
  return true;
}

bool Seal(EVP_PKEY* key, const uint8_t* payload, size_t length, std::vector<uint8_t>* block,
          std::string* error) {
  size_t k = size_t(EVP_PKEY_get_size(key));
  if (length + 11 > k) return Fail(error, "payload too long for one block");
  Ctx ctx(EVP_PKEY_CTX_new(key, nullptr));
  if (!ctx || EVP_PKEY_sign_init(ctx.get()) <= 0 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0) {
    return Fail(error, "cannot prepare the private-key operation");
  }
  block->assign(k, 0);
  size_t out = k;
  if (EVP_PKEY_sign(ctx.get(), block->data(), &out, payload, length) <= 0 || out != k) {
    return Fail(error, "the private-key operation failed");
  }
  return true;
}

}  // namespace

bool GenerateKey(int bits, std::string* privatePem, std::string* error) {
  if (bits < kMinKeyBits || bits > kMaxKeyBits) {
    return Fail(error, "key size must be " + std::to_string(kMinKeyBits) + " to " +
                           std::to_string(kMaxKeyBits) + " bits");
  }
  Ctx ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr));
  EVP_PKEY* raw = nullptr;
  if (!ctx || EVP_PKEY_keygen_init(ctx.get()) <= 0 ||
      EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) <= 0 ||
      EVP_PKEY_keygen(ctx.get(), &raw) <= 0) {
    return Fail(error, "key generation failed");
  }
  Key key(raw);
  *privatePem = PemOf(key.get(), true);
  return privatePem->empty() ? Fail(error, "cannot write the key") : true;
}

bool PublicPemOf(const std::string& pem, std::string* publicPem, std::string* error) {
  Key key = LoadKey(pem, false, error);
  if (!key) return false;
  *publicPem = PemOf(key.get(), false);
  return publicPem->empty() ? Fail(error, "cannot write the key") : true;
}

bool ReadTextFile(const std::string& path, std::string* text, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(error, "cannot open " + path);
  std::ostringstream s;
  s << in.rdbuf();
  *text = s.str();
  return true;
}

bool WriteKeyFile(const std::string& path, const std::string& pem, bool isPrivate,
                  std::string* error) {
  BIO* raw = BIO_new_file(path.c_str(), "wb");
  if (!raw) return Fail(error, "cannot create " + path);
  Bio bio(raw);
#ifndef _WIN32
  if (isPrivate) {
    // Narrow the mode before the key is written into it.
    FILE* f = nullptr;
    BIO_get_fp(raw, &f);
    if (f) fchmod(fileno(f), 0600);
  }
#else
  (void)isPrivate;
#endif
  if (BIO_write(raw, pem.data(), int(pem.size())) != int(pem.size()) || BIO_flush(raw) != 1) {
    return Fail(error, "cannot write " + path);
  }
  return true;
}

bool PublicKeyRecordOf(const std::string& pem, std::vector<uint8_t>* record, std::string* error) {
  Key key = LoadKey(pem, false, error);
  return key && RecordOf(key.get(), record, error);
}

bool SealPayload(const std::string& privatePem, const uint8_t* payload, size_t length,
                 std::vector<uint8_t>* block, std::string* error) {
  Key key = LoadKey(privatePem, true, error);
  return key && Seal(key.get(), payload, length, block, error);
}

bool IssueCertificate(const std::string& masterPrivatePem, const std::string& signerPem,
                      const std::string& signerName, std::vector<uint8_t>* certificate,
                      std::string* error) {
  if (signerName.size() > kMaxSignerName) {
    return Fail(error, "signer name longer than " + std::to_string(kMaxSignerName) + " bytes");
  }
  if (signerName.find('\0') != std::string::npos) return Fail(error, "signer name holds a zero byte");
  Key master = LoadKey(masterPrivatePem, true, error);
  if (!master) return false;
  if (EVP_PKEY_get_bits(master.get()) < kMinKeyBits) return Fail(error, "master key too short");
  std::vector<uint8_t> payload;
  if (!PublicKeyRecordOf(signerPem, &payload, error)) return false;
  int signerBits = payload[0] | payload[1] << 8;
  if (signerBits < kMinKeyBits) return Fail(error, "signer key too short (1017 bits at least)");
  payload.insert(payload.end(), signerName.begin(), signerName.end());
  certificate->clear();
  // Three payloads: 117, 117 and the rest (24 to 117 bytes).
  for (size_t start = 0; start < 3 * 117; start += 117) {
    size_t n = std::min<size_t>(117, payload.size() - start);
    std::vector<uint8_t> block;
    if (!Seal(master.get(), payload.data() + start, n, &block, error)) return false;
    certificate->insert(certificate->end(), block.begin(), block.end());
  }
  if (certificate->size() != kSignerCertificateSize) return Fail(error, "certificate size");
  return true;
}

bool DigestOfFilePrefix(const std::string& path, uint64_t length, uint16_t blockDigestKind,
                        std::vector<uint8_t>* digest, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(error, "cannot open " + path);
  Md5Context md5;
  Sha256Context sha256;
  Sha512Context sha512;
  Md5Init(&md5);
  Sha256Init(&sha256);
  Sha512Init(&sha512);
  std::vector<char> buffer(1 << 16);
  uint64_t remaining = length;
  while (remaining > 0) {
    size_t n = size_t(std::min<uint64_t>(remaining, buffer.size()));
    in.read(buffer.data(), std::streamsize(n));
    size_t got = size_t(in.gcount());
    if (got != n) return Fail(error, path + " is shorter than the signed length");
    const uint8_t* p = reinterpret_cast<const uint8_t*>(buffer.data());
    switch (blockDigestKind) {
      case kBlockSha512: Sha512Update(&sha512, p, uint32_t(got)); break;
      case kBlockSha256: Sha256Update(&sha256, p, uint32_t(got)); break;
      default: Md5Update(&md5, p, uint32_t(got)); break;
    }
    remaining -= got;
  }
  switch (blockDigestKind) {
    case kBlockSha512: digest->resize(64); Sha512Final(&sha512, digest->data()); break;
    case kBlockSha256: digest->resize(32); Sha256Final(&sha256, digest->data()); break;
    case kBlockMd5: digest->resize(16); Md5Final(&md5, digest->data()); break;
    default: return Fail(error, "unknown digest kind");
  }
  return true;
}

bool MakeSignatureRecord(const std::string& signerPrivatePem,
                         const std::vector<uint8_t>& certificate, uint16_t blockDigestKind,
                         const std::vector<uint8_t>& digest, uint32_t dosStamp,
                         std::vector<uint8_t>* record, std::string* error) {
  if (certificate.size() != kSignerCertificateSize) return Fail(error, "certificate is not 384 bytes");
  if (digest.size() > 64) return Fail(error, "digest longer than 64 bytes");
  Key signer = LoadKey(signerPrivatePem, true, error);
  if (!signer) return false;
  if (EVP_PKEY_get_bits(signer.get()) < kMinKeyBits) return Fail(error, "signer key too short");
  uint8_t payload[kSignedDigestPayload] = {};
  memcpy(payload, digest.data(), digest.size());
  for (int i = 0; i < 4; ++i) payload[64 + i] = uint8_t(dosStamp >> (8 * i));
  std::vector<uint8_t> sealed;
  if (!Seal(signer.get(), payload, sizeof payload, &sealed, error)) return false;
  record->assign(kSignatureRecordSize, 0);
  uint8_t* r = record->data();
  r[2] = 0x41;
  r[3] = uint8_t(blockDigestKind);
  r[4] = uint8_t(blockDigestKind >> 8);
  r[5] = uint8_t(kSignatureRecordSize);
  r[6] = uint8_t(kSignatureRecordSize >> 8);
  r[7] = 11;
  memcpy(r + 8, certificate.data(), kSignerCertificateSize);
  memcpy(r + 392, sealed.data(), sealed.size());
  uint16_t check = HeadCheckOf(r, kSignatureRecordSize);
  r[0] = uint8_t(check);
  r[1] = uint8_t(check >> 8);
  return true;
}

bool SignFilePrefix(const std::string& path, uint64_t signedLength,
                    const std::string& signerPrivatePem, const std::vector<uint8_t>& certificate,
                    uint16_t blockDigestKind, uint32_t dosStamp, std::vector<uint8_t>* record,
                    std::string* error) {
  std::vector<uint8_t> digest;
  return DigestOfFilePrefix(path, signedLength, blockDigestKind, &digest, error) &&
         MakeSignatureRecord(signerPrivatePem, certificate, blockDigestKind, digest, dosStamp,
                             record, error);
}

std::vector<uint8_t> StoredSignatureBlock(const std::vector<uint8_t>& record,
                                          const char* archivePassword) {
  if (!archivePassword) return record;
  // 520 is a whole number of cipher blocks, so nothing needs padding.
  std::vector<uint8_t> out(2 + record.size());
  out[0] = uint8_t(record.size());
  out[1] = uint8_t(record.size() >> 8);
  memcpy(out.data() + 2, record.data(), record.size());
  EncipherHeadBytes(archivePassword, out.data() + 2, uint32_t(record.size()));
  return out;
}

uint32_t DosStampNow() {
  return DosTimeFromUnix(SourceDateEpoch().value_or(static_cast<int64_t>(std::time(nullptr))));
}

}  // namespace tvk::signing
