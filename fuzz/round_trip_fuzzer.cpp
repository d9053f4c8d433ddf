// Bytes -> CompressBlock -> DecompressBlock must give the bytes back and
// consume exactly the stream; a capacity one byte short must be refused.
// The first byte also picks the encoder's effort. Aborts on any difference.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "package/decompress.h"
#include "packer/compress.h"

namespace {

constexpr size_t kCanarySize = 64;
constexpr uint8_t kCanary = 0x5A;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "round_trip_fuzzer: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  static const CompressEffort kEfforts[3] = {CompressEffort::kFast, CompressEffort::kNormal,
                                             CompressEffort::kBest};
  const CompressEffort effort = size > 0 ? kEfforts[data[0] % 3] : CompressEffort::kBest;
  const std::vector<uint8_t> stream = CompressBlock(data, size, effort);

  for (size_t capacity : {size, size + 400}) {
    std::vector<uint8_t> out(capacity + kCanarySize, kCanary);
    u32 written = 0, consumed = 0;
    if (!DecompressBlock(out.data(), static_cast<u32>(capacity), stream.data(),
                         static_cast<u32>(stream.size()), &written, &consumed))
      Fail("stream refused");
    if (written != size) Fail("wrong expanded size");
    if (consumed != stream.size()) Fail("stream not consumed exactly");
    if (size != 0 && std::memcmp(out.data(), data, size) != 0) Fail("bytes differ");
    for (size_t i = capacity; i < out.size(); ++i)
      if (out[i] != kCanary) Fail("wrote past the capacity");
  }
  if (size > 0) {
    std::vector<uint8_t> out(size - 1 + kCanarySize, kCanary);
    if (DecompressBlock(out.data(), static_cast<u32>(size - 1), stream.data(),
                        static_cast<u32>(stream.size()), nullptr, nullptr))
      Fail("accepted a capacity one short");
    for (size_t i = size - 1; i < out.size(); ++i)
      if (out[i] != kCanary) Fail("wrote past the capacity");
  }
  return 0;
}
