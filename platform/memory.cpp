// Heap blocks for the module, which has no C++ library to lean on.
#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"

namespace tvk {

void* MemAlloc(size_t size) {
  // malloc(0) may answer nullptr, which callers would take for a full heap.
  return malloc(size ? size : 1);
}

void* MemAllocZero(size_t size) { return calloc(size ? size : 1, 1); }

void MemFree(void* p) { free(p); }

void* AlignedAlloc16(size_t size) {
  const size_t extra = 15 + sizeof(void*);
  if (size > SIZE_MAX - extra) return nullptr;
  void* raw = malloc(size + extra);
  if (!raw) return nullptr;
  uintptr_t start = (reinterpret_cast<uintptr_t>(raw) + sizeof(void*) + 15) & ~static_cast<uintptr_t>(15);
  // The word before the aligned start keeps the block's own address for
  // AlignedFree16; there is always room for it because of the extra word.
  memcpy(reinterpret_cast<void*>(start - sizeof(void*)), &raw, sizeof(void*));
  return reinterpret_cast<void*>(start);
}

void AlignedFree16(void* p) {
  if (!p) return;
  void* raw;
  memcpy(&raw, static_cast<char*>(p) - sizeof(void*), sizeof(void*));
  free(raw);
}

void SecureZero(void* p, size_t size) {
  if (!p || !size) return;
  memset(p, 0, size);
  // Tells the optimiser the zeros are read, so the store is not dropped as
  // dead even when the block is freed right after.
  __asm__ __volatile__("" : : "r"(p) : "memory");
}

char* StrDuplicate(const char* s) {
  if (!s) return nullptr;
  size_t n = strlen(s) + 1;
  char* copy = static_cast<char*>(MemAlloc(n));
  if (copy) memcpy(copy, s, n);
  return copy;
}

}  // namespace tvk
