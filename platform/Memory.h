#pragma once
// How the program's heap treats the large blocks that pages need (up to 16 MiB each, held
// briefly): they go back to the system when freed, so the memory a run holds follows what it
// uses instead of its largest moment so far. Call once at program start.

namespace platform {

void ReturnLargeBlocksToSystem();

}  // namespace platform
