// The per-entry scrambling of stored bytes.
#pragma once
#include "platform/base.h"

// XORs every whole 32-bit little-endian word of `buffer` with a key word
// derived from `length`, kScrambleSeed and kScrambleRotations; the last
// length % 4 bytes stay. Applying it twice restores the bytes.
void DescrambleBlock(u8* buffer, u32 length);
