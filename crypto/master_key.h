// The master public key, the root of trust that opens signers' certificates.
#ifndef TVK_CRYPTO_MASTER_KEY_H
#define TVK_CRYPTO_MASTER_KEY_H

#include <stdint.h>

#include "crypto/bignum.h"

namespace tvk {

// The master public key record, generated from the build's key file.
extern const uint8_t kMasterPublicKey[kPublicKeyRecordSize];
// 1 when that key is the development key whose private half is published
// with the sources: anybody can then make a signature this program accepts.
extern const uint32_t kMasterKeyIsTestKey;
inline void MasterPublicKey(PublicKeyRecord* key) { ParsePublicKeyRecord(kMasterPublicKey, key); }

}  // namespace tvk

#endif
