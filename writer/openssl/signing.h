// Keys, signer certificates and signature records for signed archives, made
// with libcrypto (native builds only). The self-extractor only ever opens
// what these functions seal.
//
// Keys travel as PEM text. A signer certificate is 384 bytes: the signer's
// 258-byte public key record and name, split into payloads of at most 117
// bytes and sealed block by block with the master private key. A signature
// record is the 520-byte block that goes at the end of the signed bytes.
#ifndef TVK_WRITER_OPENSSL_SIGNING_H
#define TVK_WRITER_OPENSSL_SIGNING_H

#include <stdint.h>

#include <string>
#include <vector>

#include "crypto/digest.h"

namespace tvk::signing {

// Digest codes as the signature block stores them.
constexpr uint16_t kBlockSha512 = kDigestSha512;
constexpr uint16_t kBlockSha256 = kDigestSha256;
constexpr uint16_t kBlockMd5 = kDigestMd5;

// Readers open 128-byte blocks, so usable keys have 1017 to 1024 bits.
constexpr int kMinKeyBits = 1017;
constexpr int kMaxKeyBits = 1024;
// 3 blocks of 117 payload bytes, less the 258-byte key record.
constexpr size_t kMaxSignerName = 93;

// A new RSA key pair (public exponent 65537) as PEM text of the private key.
bool GenerateKey(int bits, std::string* privatePem, std::string* error);
// The public half of a private (or public) PEM key, as PEM text.
bool PublicPemOf(const std::string& pem, std::string* publicPem, std::string* error);
// Whole-file helpers; private keys are written readable by the owner alone.
bool ReadTextFile(const std::string& path, std::string* text, std::string* error);
bool WriteKeyFile(const std::string& path, const std::string& pem, bool isPrivate,
                  std::string* error);

// The 258-byte public key record of a PEM key (private or public).
bool PublicKeyRecordOf(const std::string& pem, std::vector<uint8_t>* record, std::string* error);
// One private-key operation with block-type-1 padding: payload (at most the
// key's byte length - 11) to one block of the key's byte length.
bool SealPayload(const std::string& privatePem, const uint8_t* payload, size_t length,
                 std::vector<uint8_t>* block, std::string* error);

// The 384-byte certificate of a signer, sealed with the master private key.
// signerPem may be the signer's private or public key.
bool IssueCertificate(const std::string& masterPrivatePem, const std::string& signerPem,
                      const std::string& signerName, std::vector<uint8_t>* certificate,
                      std::string* error);

// The digest (16, 32 or 64 bytes by the block code) of a file's first
// length bytes, computed the way readers compute it.
bool DigestOfFilePrefix(const std::string& path, uint64_t length, uint16_t blockDigestKind,
                        std::vector<uint8_t>* digest, std::string* error);
// The 520-byte signature record for a digest.
bool MakeSignatureRecord(const std::string& signerPrivatePem,
                         const std::vector<uint8_t>& certificate, uint16_t blockDigestKind,
                         const std::vector<uint8_t>& digest, uint32_t dosStamp,
                         std::vector<uint8_t>* record, std::string* error);
// Both steps for the first signedLength bytes of a file.
bool SignFilePrefix(const std::string& path, uint64_t signedLength,
                    const std::string& signerPrivatePem, const std::vector<uint8_t>& certificate,
                    uint16_t blockDigestKind, uint32_t dosStamp, std::vector<uint8_t>* record,
                    std::string* error);

// The block as it is stored: the record itself, or under encrypted heads
// (archivePassword not null) a u16 length and the record enciphered with
// the head cipher.
std::vector<uint8_t> StoredSignatureBlock(const std::vector<uint8_t>& record,
                                          const char* archivePassword);

// The local time now as a DOS stamp (time low 16 bits, date high 16 bits).
uint32_t DosStampNow();

}  // namespace tvk::signing

#endif
