#include "platform/memory.h"

#include <stdlib.h>

void* OsAlloc(u32 size) { return malloc(size ? size : 1); }
void* OsAllocZeroed(u32 size) { return calloc(1, size ? size : 1); }
void OsFree(void* block) { free(block); }
