// Expanding a stream a piece at a time, the way extraction moves its window
// along: kLongestReach bytes of history at the window's start, a piece of
// `step` bytes after them, and kLongestCode bytes of room past the pause
// point. Shared by the decoder tests and the decoder fuzzer, which compare
// it with the whole-block decoder.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "package/decompress.h"

namespace piecewise {

constexpr uint8_t kCanary = 0xA5;
constexpr size_t kCanarySize = 64;

struct Result {
  bool ok = false;
  std::vector<uint8_t> out;  // every byte produced
  uint32_t consumed = 0;
  uint32_t pieces = 0;       // calls of ContinueStreamDecode
  bool canaryIntact = true;
};

// Expands `stream` (an exactly sized copy is made, so a sanitizer sees any
// read past it) into at most `contentSize` bytes, in pieces of about `step`
// bytes (at least 1). `ok` only when the stream ends within them.
inline Result ExpandInPieces(const std::vector<uint8_t>& stream, uint32_t contentSize, uint32_t step) {
  const std::vector<uint8_t> source(stream);
  if (step == 0) step = 1;
  const uint32_t windowSize = kLongestReach + step + kLongestCode;
  std::vector<uint8_t> window(windowSize + kCanarySize, kCanary);
  Result r;
  StreamDecoder decoder;
  if (!BeginStreamDecode(&decoder, source.empty() ? nullptr : source.data(),
                         static_cast<uint32_t>(source.size())))
    return r;
  uint32_t kept = 0;
  while (!decoder.ended) {
    const uint32_t left = contentSize - static_cast<uint32_t>(r.out.size());
    uint32_t filled = kept, capacity = windowSize, pauseAt = windowSize - kLongestCode;
    if (left <= windowSize - kept) capacity = pauseAt = kept + left;  // the stream must end here
    ++r.pieces;
    const int result = ContinueStreamDecode(&decoder, window.data(), &filled, pauseAt, capacity);
    for (size_t i = windowSize; i < window.size(); ++i) r.canaryIntact &= window[i] == kCanary;
    if (!result) return r;
    r.out.insert(r.out.end(), window.begin() + kept, window.begin() + filled);
    const uint32_t keep = filled < kLongestReach ? filled : kLongestReach;
    std::memmove(window.data(), window.data() + filled - keep, keep);
    kept = keep;
  }
  r.ok = true;
  r.consumed = static_cast<uint32_t>(decoder.position - decoder.source);
  return r;
}

}  // namespace piecewise
