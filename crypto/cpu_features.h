// What the x86 processor offers beyond the baseline, asked once: the
// hardware paths (AES rounds, carry-less multiplication) are taken only
// where the instructions exist, and the portable code stays for the others.
#ifndef TVK_CRYPTO_CPU_FEATURES_H
#define TVK_CRYPTO_CPU_FEATURES_H

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>

namespace tvk {

// True when every bit asked for is set in leaf 1 (ECX and EDX).
inline bool CpuHasLeaf1(unsigned ecxBits, unsigned edxBits) {
  static unsigned ecx = 0, edx = 0;
  static bool asked = false;
  if (!asked) {
    unsigned a = 0, b = 0;
    if (!__get_cpuid(1, &a, &b, &ecx, &edx)) ecx = edx = 0;
    asked = true;
  }
  return (ecx & ecxBits) == ecxBits && (edx & edxBits) == edxBits;
}

}  // namespace tvk

#endif
#endif
