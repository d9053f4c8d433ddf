#include "package/scramble.h"

#include <string.h>

#include "package/format.h"

namespace {
// A rotation by 0 must not shift by 32, which C leaves undefined.
u32 RotateLeft(u32 value, u32 count) {
  count &= 31;
  return count ? (value << count) | (value >> (32 - count)) : value;
}

u32 RotateRight(u32 value, u32 count) { return RotateLeft(value, (32 - (count & 31)) & 31); }

// A little-endian word's bytes as the machine loads them.
u32 InMachineOrder(u32 littleEndian) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return __builtin_bswap32(littleEndian);
#else
  return littleEndian;
#endif
}

u32 CountSetBits(u32 value) {
  u32 count = 0;
  for (; value; value &= value - 1) ++count;
  return count;
}

// The key of word `index` of a block of `length` bytes.
u32 KeyOfWord(u32 length, u32 index) {
  const u32 rotation = kScrambleRotations[CountSetBits(length) % 8] % 32;
  const u32 first = RotateRight(length ^ kScrambleSeed, length % 32);
  // Rotations add up modulo 32; the product is taken modulo 32 first so it
  // cannot wrap.
  return RotateLeft(first, ((index % 32) * rotation) % 32);
}
}  // namespace

// Whole words at a time: four-byte loads and stores through memcpy (the
// buffers may be unaligned), with the key put in the machine's byte order,
// since the package is little-endian whatever the machine.
void DescrambleRange(u8* to, const u8* from, u32 offset, u32 count, u32 length) {
  if (offset >= length) return;
  if (count > length - offset) count = length - offset;
  const u32 scrambledEnd = length & ~3u;  // the last length % 4 bytes stay
  const u32 rotation = kScrambleRotations[CountSetBits(length) % 8] % 32;
  u32 key = KeyOfWord(length, offset / 4);
  u32 done = 0;
  for (; done + 4 <= count && offset + done < scrambledEnd; done += 4) {
    u32 word;
    memcpy(&word, from + done, 4);
    word ^= InMachineOrder(key);
    memcpy(to + done, &word, 4);
    key = RotateLeft(key, rotation);
  }
  // A last part word: its bytes inside the scrambled words take their bytes
  // of the key, the block's last length % 4 bytes stay.
  for (u32 shift = 0; done < count; ++done, shift += 8) {
    const u8 keyByte = offset + done < scrambledEnd ? (u8)(key >> shift) : 0;
    to[done] = from[done] ^ keyByte;
  }
}

void DescrambleBlock(u8* buffer, u32 length) {
  if (length >= 4) DescrambleRange(buffer, buffer, 0, length, length);
}
