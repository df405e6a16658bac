// Blowfish's initial P-array and S-boxes (the hexadecimal digits of pi).
#ifndef TVK_CRYPTO_BLOWFISH_TABLES_H
#define TVK_CRYPTO_BLOWFISH_TABLES_H

#include <stdint.h>

namespace tvk {

extern const uint32_t kBlowfishInitP[18];
extern const uint32_t kBlowfishInitS[4][256];

}  // namespace tvk

#endif
