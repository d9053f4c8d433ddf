// Raw bytes as an installed file and a patch container: a 4-byte
// little-endian length, that many bytes of installed file (fewer when the
// input runs out), then the container. The installed file's source is
// looked up and every source is applied. The applier must never read or
// write out of bounds, keep a block, hand out more than the new size, or
// report success for a result that is not the container's new file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "package/format.h"
#include "package/patch.h"
#include "package/sha256.h"
#include "platform/memory.h"
#include "sim/sim.h"

namespace {

constexpr u32 kLargestResult = 8u << 20;

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "patch_apply_fuzzer: %s\n", what);
  std::abort();
}

struct Files {
  const uint8_t* old;
  u32 oldSize;
  std::vector<uint8_t> result;  // exactly the new size: a write past it is caught
  u32 written;
};

int ReadOld(void* context, u32 offset, u8* to, u32 length) {
  Files* files = (Files*)context;
  Check(offset <= files->oldSize && length <= files->oldSize - offset, "read outside the old file");
  std::memcpy(to, files->old + offset, length);
  return 1;
}

int WriteNew(void* context, const u8* bytes, u32 length) {
  Files* files = (Files*)context;
  Check(length <= files->result.size() - files->written, "wrote past the new size");
  std::memcpy(files->result.data() + files->written, bytes, length);
  files->written += length;
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 || size > (1u << 24)) return 0;
  u32 oldSize;
  std::memcpy(&oldSize, data, 4);
  if (oldSize > size - 4) oldSize = (u32)(size - 4);
  // Exact copies, so a sanitizer sees any read past either.
  const std::vector<uint8_t> old(data + 4, data + 4 + oldSize);
  const std::vector<uint8_t> patch(data + 4 + oldSize, data + size);
  const u32 length = (u32)patch.size();

  const long live = HostLiveAllocations();
  const int valid = CheckPatchContainer(patch.data(), length);
  PatchHeader header{};
  if (valid) std::memcpy(&header, patch.data(), sizeof header);
  if (valid && header.newSize > kLargestResult) return 0;  // a result too large to keep here
  Files files{old.data(), oldSize, std::vector<uint8_t>(header.newSize), 0};
  PatchFiles callbacks{oldSize, ReadOld, &files, WriteNew, &files, nullptr};

  const int source = FindPatchSource(patch.data(), length, &callbacks);
  Check(valid || source == kPatchCannotRead, "a refused container matched a source");
  Check(source < (int)header.sourceCount, "source index out of range");
  for (u32 index = 0; index < header.sourceCount && index < 4; ++index) {
    files.written = 0;
    if (!ApplyPatch(patch.data(), length, index, &callbacks)) continue;
    Check(files.written == header.newSize, "success with a result of the wrong size");
    u8 digest[kSha256Size];
    Sha256(files.result.data(), files.written, digest);
    Check(std::memcmp(digest, header.newSha256, kSha256Size) == 0, "success with a wrong result");
  }
  if (!valid)
    Check(ApplyPatch(patch.data(), length, 0, &callbacks) == 0, "a refused container applied");
  Check(HostLiveAllocations() == live, "a block was not released");
  return 0;
}
