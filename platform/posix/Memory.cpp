#include "platform/Memory.h"

#include <cstdlib>  // defines __GLIBC__ on glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void platform::ReturnLargeBlocksToSystem() {
#if defined(__GLIBC__)
    // glibc raises its mmap threshold to the size of each large block freed, after which
    // blocks of pages come from the heap and stay there: fix it at 1 MiB instead.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}
