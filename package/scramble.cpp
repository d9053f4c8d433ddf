#include "package/scramble.h"

#include "package/format.h"

namespace {
// A rotation by 0 must not shift by 32, which C leaves undefined.
u32 RotateLeft(u32 value, u32 count) {
  count &= 31;
  return count ? (value << count) | (value >> (32 - count)) : value;
}

u32 RotateRight(u32 value, u32 count) { return RotateLeft(value, (32 - (count & 31)) & 31); }

u32 CountSetBits(u32 value) {
  u32 count = 0;
  for (; value; value &= value - 1) ++count;
  return count;
}
}  // namespace

// Words are read and written byte by byte: the buffer may be unaligned and
// the package is little-endian whatever the machine.
void DescrambleBlock(u8* buffer, u32 length) {
  if (length < 4) return;
  const u32 rotation = kScrambleRotations[CountSetBits(length) % 8] % 32;
  u32 key = RotateRight(length ^ kScrambleSeed, length % 32);
  for (u32 i = 0; i < length / 4; ++i) {
    u8* p = buffer + 4 * i;
    p[0] ^= (u8)key;
    p[1] ^= (u8)(key >> 8);
    p[2] ^= (u8)(key >> 16);
    p[3] ^= (u8)(key >> 24);
    key = RotateLeft(key, rotation);
  }
}
