// The encoder of the package's stream format (the decoder is DecompressBlock
// in package/decompress.h).
//
// A stream has no header and no size: the package directory records the
// expanded size. Control words are placed exactly where the decoder takes
// them: each one at the point of the stream where its first bit is needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// How hard the match finder searches. kFast is meant for tests and fuzzing.
enum class CompressEffort { kFast, kNormal, kBest };

// Compresses `size` bytes at `data` (may be null when `size` is 0) into one
// complete stream that ends with the end code. Every stream expands, through
// DecompressBlock, to exactly the input and consumes exactly its own bytes.
// The input is parsed lazily over hash chains reaching back 8192 bytes, with
// the two-byte match form where it is cheaper than two literals.
// The result may be larger than the input (incompressible data costs about
// one bit in eight more, plus five bytes): see CompressionPays.
std::vector<uint8_t> CompressBlock(const uint8_t* data, size_t size,
                                   CompressEffort effort = CompressEffort::kBest);

// Whether an entry of `contentSize` bytes should be stored as its compressed
// stream of `compressedSize` bytes: only when that is strictly smaller.
// Otherwise the package writer keeps the content as it is (entry flag
// kEntryFlagStored) and the reader copies it without expanding.
inline bool CompressionPays(size_t compressedSize, size_t contentSize) {
  return compressedSize < contentSize;
}
