// Expanding a stream a piece at a time, the way extraction moves its window
// along: kLongestReach bytes of history at the window's start, a piece of
// `step` bytes after them, and kLongestCode bytes of room past the pause
// point. Shared by the decoder tests and the decoder fuzzer, which compare
// it with the whole-block decoder.
#pragma once
#include <algorithm>
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
// bytes (at least 1). With `feedInput`, the stream is handed over a piece at
// a time through a buffer of its own (MoveStreamInput), each time only the
// bytes that the piece's room can need (room * 9 / 8 + 8), so a valid stream
// that needed more would fail. `ok` only when the stream ends within
// `contentSize` bytes.
inline Result ExpandInPieces(const std::vector<uint8_t>& stream, uint32_t contentSize, uint32_t step,
                             bool feedInput = false) {
  const std::vector<uint8_t> source(stream);
  const uint32_t sourceSize = static_cast<uint32_t>(source.size());
  if (step == 0) step = 1;
  const uint32_t windowSize = kLongestReach + step + kLongestCode;
  std::vector<uint8_t> window(windowSize + kCanarySize, kCanary);
  Result r;
  StreamDecoder decoder;
  if (!BeginStreamDecode(&decoder, source.empty() ? nullptr : source.data(), feedInput ? 0 : sourceSize))
    return r;
  std::vector<uint8_t> input;
  uint32_t fed = 0;  // stream bytes handed over so far
  uint32_t kept = 0;
  while (!decoder.ended) {
    const uint32_t left = contentSize - static_cast<uint32_t>(r.out.size());
    uint32_t filled = kept, capacity = windowSize, pauseAt = windowSize - kLongestCode;
    if (left <= windowSize - kept) capacity = pauseAt = kept + left;  // the stream must end here
    if (feedInput) {
      const uint32_t unread = fed - StreamBytesConsumed(&decoder);
      const uint64_t want = (uint64_t)(capacity - filled) * 9 / 8 + 8;
      const uint32_t more = static_cast<uint32_t>(std::min<uint64_t>(sourceSize - fed, want > unread ? want - unread : 0));
      // Exactly sized each time, so that a read past the input is seen.
      std::vector<uint8_t> next(source.begin() + (fed - unread), source.begin() + fed + more);
      input.swap(next);
      fed += more;
      MoveStreamInput(&decoder, input.empty() ? source.data() : input.data(), unread + more);
    }
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
  r.consumed = StreamBytesConsumed(&decoder);
  return r;
}

}  // namespace piecewise
