#include "platform/Memory.h"

void platform::ReturnLargeBlocksToSystem() {
    // The Windows heap hands blocks this large to VirtualAlloc and back when freed.
}
