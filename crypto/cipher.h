// The two ciphers as the archive uses them: Blowfish for encrypted heads
// (little-endian block halves, key = MD5 of at most 260 password bytes, made
// afresh per head and wiped) and AES-128/256 decryption in ECB mode for
// encrypted entries. The encrypting directions serve the writer.
#ifndef TVK_CRYPTO_CIPHER_H
#define TVK_CRYPTO_CIPHER_H

#include <stddef.h>
#include <stdint.h>

namespace tvk {

// ---- Blowfish -------------------------------------------------------------

struct BlowfishKey {
  uint32_t p[18];
  uint32_t s[4][256];
};

void BlowfishSetKey(BlowfishKey* key, const uint8_t* keyBytes, uint32_t keyLength);
// One block; halves as the caller loaded them.
void BlowfishEncryptBlock(const BlowfishKey* key, uint32_t* left, uint32_t* right);
void BlowfishDecryptBlock(const BlowfishKey* key, uint32_t* left, uint32_t* right);
// The head key: MD5 of the first min(n, 260) password bytes, then the schedule.
void MakeHeadKey(BlowfishKey* key, const char* password, uint32_t length);
// Deciphers (length + 7) / 8 blocks in place with a freshly made head key and
// wipes the key afterwards. The caller guarantees room for the rounded length.
void DecipherHeadBytes(const char* password, uint8_t* buffer, uint32_t length);
// The writer's direction of the same: enciphers (length + 7) / 8 blocks.
void EncipherHeadBytes(const char* password, uint8_t* buffer, uint32_t length);

// ---- AES ------------------------------------------------------------------

// A decryption (or, for the writer, encryption) key schedule.
struct EntryKey {
  uint32_t roundKeys[64];
  uint32_t rounds;   // 10 or 14
  uint32_t decrypt;  // 1 for a decryption schedule
};

// Fills key from the first length password bytes: kind 1 MD5 (first 276
// bytes), kind 2 SHA-256 (an empty password gives 32 zero bytes). False for
// any other kind.
bool DeriveEntryKey(EntryKey* key, const char* password, uint32_t length, uint32_t kind);
// The writer's counterpart: the same key, as an encryption schedule.
bool DeriveEntryEncryptKey(EntryKey* key, const char* password, uint32_t length, uint32_t kind);
// Raw AES key schedules (16 or 32 key bytes).
void AesSetDecryptKey(EntryKey* key, const uint8_t* keyBytes, uint32_t keyLength);
void AesSetEncryptKey(EntryKey* key, const uint8_t* keyBytes, uint32_t keyLength);
void AesDecryptBlock(const EntryKey* key, const uint8_t in[16], uint8_t out[16]);
void AesEncryptBlock(const EntryKey* key, const uint8_t in[16], uint8_t out[16]);
// Deciphers (count + 15) / 16 whole blocks in place, with the processor's AES
// instructions where it has them.
void DecipherEntryData(const EntryKey* key, uint8_t* buffer, uint32_t count);
// Enciphers (count + 15) / 16 whole blocks in place (encryption schedule).
void EncipherEntryData(const EntryKey* key, uint8_t* buffer, uint32_t count);
// When set, DecipherEntryData keeps to the table code on every processor.
extern bool aesTablesOnly;

}  // namespace tvk

#endif
