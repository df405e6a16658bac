// The few pieces of the C++ runtime that the self-extractor needs, over the
// C library: it links no C++ library, so that the program stays small and
// static. Module code allocates through MemAlloc and checks for nullptr; these
// serve only what the compiler itself emits (deleting destructors).
#include <stddef.h>
#include <stdlib.h>

void* operator new(size_t size) { return malloc(size ? size : 1); }
void* operator new[](size_t size) { return malloc(size ? size : 1); }
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }

// A pure virtual call can only come from a broken object; stop at once.
extern "C" void __cxa_pure_virtual() { abort(); }
