#pragma once
// Memory: what the C library holds of the process's memory.

namespace platform {

// Gives the memory freed since (held by the C library for its own reuse) back to the system. After
// a large passing allocation on one thread: the allocator of another thread would not reuse it, and
// it would count in the process's size for the rest of its life.
void ReturnFreedMemory();

} // namespace platform
