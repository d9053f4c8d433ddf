#include "platform/memory.h"
#include "sim/sim.h"
#include "sim/faults_sim.h"

#include <string>

#include <stdlib.h>
#include <string.h>

static int failCountdown = -1;
static long liveBlocks = 0;
static u32 largestAsked = 0;

static int ShouldFail() {
  if (failCountdown < 0) return 0;
  if (failCountdown-- == 0) return 1;
  return 0;
}

void* OsAlloc(u32 size) {
  if (size > largestAsked) largestAsked = size;
  if (ShouldFail() || HostFaultHere(kCallAllocation, std::to_string(size))) return nullptr;
  void* block = malloc(size ? size : 1);
  if (block) ++liveBlocks;
  return block;
}

void* OsAllocZeroed(u32 size) {
  void* block = OsAlloc(size);
  if (block) memset(block, 0, size);
  return block;
}

void OsFree(void* block) {
  if (!block) return;
  --liveBlocks;
  free(block);
}

void HostFailAllocation(int n) { failCountdown = n; }
long HostLiveAllocations() { return liveBlocks; }

u32 HostTakeLargestAllocation() {
  const u32 largest = largestAsked;
  largestAsked = 0;
  return largest;
}
