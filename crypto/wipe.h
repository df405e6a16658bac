// Zero-filling of key material and message temporaries that the optimiser
// may not drop as a dead store.
#ifndef TVK_CRYPTO_WIPE_H
#define TVK_CRYPTO_WIPE_H

#include <stddef.h>
#include <stdint.h>

namespace tvk {

inline void Wipe(void* p, size_t size) {
  volatile uint8_t* b = static_cast<volatile uint8_t*>(p);
  while (size--) *b++ = 0;
}

}  // namespace tvk

#endif
