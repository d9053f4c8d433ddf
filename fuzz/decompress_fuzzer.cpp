// Raw bytes into DecompressBlock with a fixed capacity and a canary after it.
// Whatever the bytes, nothing past the destination is written (the canary),
// nothing past the input is read (the sanitizer, since the input and every
// copy below are exactly sized heap blocks), and an accepted stream must be
// accepted again, with the same output, when decoded into exactly its
// output size from exactly its consumed bytes (the decoder's checked loop
// only), while one byte less of either must be refused; and expanded a piece
// at a time, as extraction does, it must give the same bytes. Aborts
// otherwise.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "package/decompress.h"
#include "support/piecewise.h"

namespace {

constexpr size_t kCapacity = 64 * 1024;
constexpr size_t kCanarySize = 64;
constexpr uint8_t kCanary = 0xA5;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "decompress_fuzzer: %s\n", what);
  std::abort();
}

// Decodes into `capacity` bytes plus a canary; aborts when the canary changed.
int Decode(const std::vector<uint8_t>& source, size_t capacity, std::vector<uint8_t>* out,
           u32* written, u32* consumed) {
  out->assign(capacity + kCanarySize, kCanary);
  const int result = DecompressBlock(out->data(), static_cast<u32>(capacity),
                                     source.empty() ? nullptr : source.data(),
                                     static_cast<u32>(source.size()), written, consumed);
  for (size_t i = capacity; i < out->size(); ++i)
    if ((*out)[i] != kCanary) Fail("wrote past the capacity");
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  const std::vector<uint8_t> input(data, data + size);
  std::vector<uint8_t> out;
  u32 written = 0, consumed = 0;
  if (!Decode(input, kCapacity, &out, &written, &consumed)) return 0;
  if (written > kCapacity || consumed > size) Fail("counts out of range");

  const std::vector<uint8_t> stream(input.begin(), input.begin() + consumed);
  std::vector<uint8_t> exact;
  u32 written2 = 0, consumed2 = 0;
  if (!Decode(stream, written, &exact, &written2, &consumed2)) Fail("exact sizes refused");
  if (written2 != written || consumed2 != consumed) Fail("exact sizes gave other counts");
  if (std::memcmp(exact.data(), out.data(), written) != 0) Fail("exact sizes gave other bytes");

  // Pieces of 1 to 509 bytes, picked by the input so that the fuzzer moves
  // the pause points around.
  const uint32_t step = 1 + (size > 0 ? data[size - 1] * 2u : 0u);
  const piecewise::Result pieces = piecewise::ExpandInPieces(stream, written, step);
  if (!pieces.canaryIntact) Fail("pieces wrote past the window");
  if (!pieces.ok || pieces.consumed != consumed || pieces.out.size() != written ||
      (written > 0 && std::memcmp(pieces.out.data(), out.data(), written) != 0))
    Fail("pieces gave other bytes");

  // One pause with all the room of the output after it: it comes within one
  // code of the pause point, and going on from there gives the same bytes.
  if (written > 1) {
    const uint32_t pauseAt = 1 + (size > 1 ? (data[0] | (uint32_t)data[1] << 8) : 0u) % (written - 1);
    StreamDecoder decoder;
    std::vector<uint8_t> window(written + kCanarySize, kCanary);
    uint32_t filled = 0;
    if (!BeginStreamDecode(&decoder, stream.data(), static_cast<uint32_t>(stream.size())) ||
        !ContinueStreamDecode(&decoder, window.data(), &filled, pauseAt, written))
      Fail("a pause refused the stream");
    if (!decoder.ended && (filled < pauseAt || filled - pauseAt >= kLongestCode)) Fail("paused too far");
    if (!decoder.ended && !ContinueStreamDecode(&decoder, window.data(), &filled, written, written))
      Fail("the stream did not go on after a pause");
    for (size_t i = written; i < window.size(); ++i)
      if (window[i] != kCanary) Fail("a pause wrote past the output");
    if (!decoder.ended || filled != written || std::memcmp(window.data(), out.data(), written) != 0)
      Fail("a pause gave other bytes");
  }

  if (written > 0 && Decode(stream, written - 1, &exact, &written2, &consumed2))
    Fail("accepted a capacity one short");
  if (consumed > 0) {
    const std::vector<uint8_t> cut(stream.begin(), stream.end() - 1);
    if (Decode(cut, written, &exact, &written2, &consumed2)) Fail("accepted a truncated stream");
  }
  return 0;
}
