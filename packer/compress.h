// The encoder of the package's stream format (the decoder is DecompressBlock
// in package/decompress.h).
//
// A stream has no header and no size: the package directory records the
// expanded size. Control words are placed exactly where the decoder takes
// them: each one at the point of the stream where its first bit is needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// How the input is parsed into codes.
// - kBest (the default): an optimal parse. Every length of every match the
//   binary-tree match finder reports (the nearest distance for each length
//   within the 8 KiB window, 64 steps a search) and the nearest two-byte
//   match are priced in exact bits, and the cheapest path is written; only a
//   match of the longest length, 282 bytes, is taken without pricing the
//   positions it covers.
// - kNormal: the same parse with 16 steps a search, taking any match of 64
//   bytes or more as it is.
// - kFast, the fast level (-1): a lazy parse over hash chains, several times
//   faster and a few percent larger; meant for tests, fuzzing and drafts.
enum class CompressEffort { kFast, kNormal, kBest };

// Compresses `size` bytes at `data` (may be null when `size` is 0) into one
// complete stream that ends with the end code. Every stream expands, through
// DecompressBlock, to exactly the input and consumes exactly its own bytes.
// The result may be larger than the input (incompressible data costs about
// one bit in eight more, plus five bytes): see CompressionPays. Working
// memory besides the result is fixed: about 2 MiB for kNormal and kBest,
// under 0.5 MiB for kFast.
// `onProgress`, when set, is told the input bytes parsed so far about every
// MiB, for a progress display: a large block takes a while.
using CompressProgress = std::function<void(size_t parsed)>;
std::vector<uint8_t> CompressBlock(const uint8_t* data, size_t size,
                                   CompressEffort effort = CompressEffort::kBest,
                                   const CompressProgress& onProgress = nullptr);

// Whether an entry of `contentSize` bytes should be stored as its compressed
// stream of `compressedSize` bytes: only when that is strictly smaller.
// Otherwise the package writer keeps the content as it is (entry flag
// kEntryFlagStored) and the reader copies it without expanding.
inline bool CompressionPays(size_t compressedSize, size_t contentSize) {
  return compressedSize < contentSize;
}
