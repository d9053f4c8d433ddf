// The per-entry scrambling of stored bytes.
#pragma once
#include "platform/base.h"

// XORs every whole 32-bit little-endian word of `buffer` with a key word
// derived from `length`, kScrambleSeed and kScrambleRotations; the last
// length % 4 bytes stay. Applying it twice restores the bytes.
void DescrambleBlock(u8* buffer, u32 length);

// Copies `count` bytes of a block of `length` stored bytes, from `offset` on
// (a multiple of 4), from `from` to `to`, descrambled as DescrambleBlock
// would leave them in the whole block: a block can so be descrambled a
// piece at a time; a piece may end anywhere. `to` may equal `from`;
// otherwise they must not overlap.
// Nothing is read or written outside the `count` bytes; a range reaching
// past `length` is cut there.
void DescrambleRange(u8* to, const u8* from, u32 offset, u32 count, u32 length);
