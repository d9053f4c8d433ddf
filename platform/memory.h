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
