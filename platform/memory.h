// The process's fixed-block allocator (GlobalAlloc with GMEM_FIXED).
#pragma once
#include "platform/base.h"

// Returns a fixed block of `size` bytes, or null. `size` 0 still returns a
// block. The contents are undefined.
void* OsAlloc(u32 size);
// As OsAlloc, with every byte zero.
void* OsAllocZeroed(u32 size);
// Releases a block from OsAlloc/OsAllocZeroed; null is ignored.
void OsFree(void* block);

#if !defined(_WIN32)
// Host simulation: make the allocation numbered `n` from now (0 = the next
// one) fail; -1 turns failures off. Counts only successful-or-failed calls of
// OsAlloc/OsAllocZeroed.
void HostFailAllocation(int n);
// Blocks taken and not yet released, for leak checks in tests.
long HostLiveAllocations();
// The largest block asked of OsAlloc since the last call (which starts the
// count again from 0), for tests of how much memory an operation takes.
u32 HostTakeLargestAllocation();
#endif
