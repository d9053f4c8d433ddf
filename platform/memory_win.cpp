#include "platform/memory.h"

#include <windows.h>

void* OsAlloc(u32 size) { return GlobalAlloc(GMEM_FIXED, size ? size : 1); }
void* OsAllocZeroed(u32 size) { return GlobalAlloc(GPTR, size ? size : 1); }
void OsFree(void* block) {
  if (block) GlobalFree(block);
}
