// The package's stream decoder.
//
// Stream layout, as the decoder meets it: one read position serves both the
// 32-bit control words (little-endian, consumed from the top bit down) and the
// data bytes. The first control word is the first four bytes; a later one is
// taken from the read position only when a bit is needed and all 32 bits of
// the current word are spent, so it may fall in the middle of a code.
//
//   1                         literal: next byte
//   01 0  byte B              two-byte match, distance B + 1 (1..256)
//   01 1  byte B, 3 bits X    v = B*8 + X + 256: 2303 is the end code,
//                             otherwise a two-byte match at distance v + 1
//   00    distance, length    long match, distance offset + 1 (1..8192),
//                             length 3..282
//   distance: 1 B x | 01 B x | 001 B xx | 0001 B xxx | 0000 B xxxx
//             offset 0.. | 512.. | 1024.. | 2048.. | 4096..8191, B*2^k + x
//   length:   1 = 3 | 01 = 4 | 001 x = 5.. | 0001 xx = 7.. | 00001 xxxx = 11..
//             | 00000 B = 27 + B
//
// Two loops share the work.
// - The fast loop runs while a round cannot reach either end (it needs 48
//   bytes of stream and 320 bytes of room ahead). A round takes the run of
//   literals up to the next 0 bit of the current control word in one copy,
//   then the match after it whole: it reads the match's bits at once from a
//   64-bit view of this word's unread bits followed by the next word, which
//   it finds by knowing which data bytes come before the bit that needs it.
//   Its copies write whole 16- or 8-byte units and may run up to 31 bytes
//   past the bytes they produce; those lie within the destination and are
//   overwritten by the codes that follow.
// - The checked loop takes the last codes near either end one bit at a time
//   and tests every read and write. Its control word lives in one variable
//   that holds the unread bits at the top, then one marker bit, then zeros:
//   a read shifts the top bit out as the decision, and the variable becomes
//   zero exactly when a bit is wanted after all 32 are spent, which is when
//   the next word is due; the refill test is inlined at every bit read. Its
//   long matches copy four bytes at a time at distances of 4 and more, then
//   the 0 to 3 rest singly, and fill the pattern of the last 1, 2 or 3 bytes
//   at shorter distances.
// Both produce exactly the bytes of a forward byte-by-byte copy, and a
// stream fails in either loop at the same code.
#include "package/decompress.h"

#include <string.h>

#if defined(__GNUC__) || defined(__clang__)
#define DECODE_LIKELY(x) __builtin_expect(!!(x), 1)
#define DECODE_UNLIKELY(x) __builtin_expect(!!(x), 0)
#define DECODE_FORCE_INLINE static inline __attribute__((always_inline))
#else
#define DECODE_LIKELY(x) (x)
#define DECODE_UNLIKELY(x) (x)
#define DECODE_FORCE_INLINE static inline
#endif

namespace {

enum : u32 {
  kEndValue = 2303,  // v of the two-byte form that ends the stream
  // A control word whose bits are all spent: only the marker bit is left.
  kMarkerOnly = 0x80000000u,
  // What a fast round may touch. Input: a control word (4), a literal run of
  // at most 32 bytes read as two 16-byte units, then eight bytes looked at
  // for the match (its data bytes and the next control word): 44. Output:
  // the literal units (32 from the round's start) and a match of up to 282
  // bytes written in units of up to 16 (288): 31 + 288 = 319.
  kFastInputSlack = 48,
  kFastOutputSlack = 320,
};

// Offset base and number of low bits of the five distance classes, by the
// number of zero prefix bits (0 to 4). The fast loop computes both: the base
// is ((1 << zeros) >> 1) * 512 and the low bits max(zeros, 1).
const u32 kDistanceBase[5] = {0, 512, 1024, 2048, 4096};
const u32 kDistanceLowBits[5] = {1, 1, 2, 3, 4};
// Extra bits and base of the six length classes, by the number of zero
// prefix bits (0 to 5; class 5 takes a byte instead of extra bits).
const u32 kLengthExtraBits[6] = {0, 0, 1, 2, 4, 0};
const u32 kLengthBase[6] = {3, 4, 5, 7, 11, 27};
// The same two packed into one constant each, a nibble or a byte per class,
// so that the fast loop shifts instead of loading.
const u32 kLengthExtraBitsPacked = 0x042100u;
const u64 kLengthBasePacked = 0x1B0B07050403ull;

DECODE_FORCE_INLINE u32 ReadLE32(const u8* p) {
  return (u32)p[0] | ((u32)p[1] << 8) | ((u32)p[2] << 16) | ((u32)p[3] << 24);
}

DECODE_FORCE_INLINE u64 ReadLE64(const u8* p) {
  return (u64)ReadLE32(p) | ((u64)ReadLE32(p + 4) << 32);
}

DECODE_FORCE_INLINE void Copy8(u8* to, const u8* from) { memcpy(to, from, 8); }
DECODE_FORCE_INLINE void Copy16(u8* to, const u8* from) { memcpy(to, from, 16); }

DECODE_FORCE_INLINE u32 LeadingZeros(u32 v) {  // v != 0
#if defined(__GNUC__) || defined(__clang__)
  return (u32)__builtin_clz(v);
#else
  u32 n = 0;
  while (!(v & 0x80000000u)) { v <<= 1; ++n; }
  return n;
#endif
}

DECODE_FORCE_INLINE u32 LeadingZeros64(u64 v) {  // v != 0
#if defined(__GNUC__) || defined(__clang__)
  return (u32)__builtin_clzll(v);
#else
  u32 n = 0;
  while (!(v & ((u64)1 << 63))) { v <<= 1; ++n; }
  return n;
#endif
}

// Writes exactly `length` bytes at `op`, each the byte `distance` positions
// before it, in increasing order. The caller has checked that `distance`
// reaches no further back than the start of the output and that `length`
// bytes fit.
DECODE_FORCE_INLINE void CopyMatch(u8* op, u32 distance, u32 length) {
  const u8* from = op - distance;
  u8* const end = op + length;
  if (distance >= 4) {
    // A four-byte unit never overlaps the unit it is read from.
    while ((u32)(end - op) >= 4) {
      u32 unit;
      memcpy(&unit, from, 4);
      memcpy(op, &unit, 4);
      op += 4;
      from += 4;
    }
    while (op < end) *op++ = *from++;
  } else if (distance == 1) {
    memset(op, op[-1], length);
  } else if (distance == 2) {
    const u8 a = op[-2], b = op[-1];
    while ((u32)(end - op) >= 2) {
      op[0] = a;
      op[1] = b;
      op += 2;
    }
    if (op < end) *op = a;
  } else {
    const u8 a = op[-3], b = op[-2], c = op[-1];
    while ((u32)(end - op) >= 3) {
      op[0] = a;
      op[1] = b;
      op[2] = c;
      op += 3;
    }
    if (op < end) *op++ = a;
    if (op < end) *op = b;
  }
}

// The same copy for the fast loop, which has room past the match: at
// distances of 8 and more it writes whole units of 16 or 8 bytes, each read
// from bytes already final, and may write up to 15 bytes past the match.
DECODE_FORCE_INLINE void CopyMatchWide(u8* op, u32 distance, u32 length) {
  const u8* from = op - distance;
  if (distance >= 16) {
    u32 done = 0;
    do {
      Copy16(op + done, from + done);
      done += 16;
    } while (done < length);
  } else if (distance >= 8) {
    u32 done = 0;
    do {
      Copy8(op + done, from + done);
      done += 8;
    } while (done < length);
  } else {
    CopyMatch(op, distance, length);
  }
}

}  // namespace

// Checked loop helpers. DECODE_BIT takes the next control bit into `bit`,
// reading the next control word first when all 32 bits are spent;
// DECODE_BYTE takes the next data byte. Both leave through `failure` at the
// end of the source.
#define DECODE_BIT(bit)                                                 \
  do {                                                                  \
    (bit) = control >> 31;                                              \
    control <<= 1;                                                      \
    if (DECODE_UNLIKELY(control == 0)) {                                \
      if ((size_t)(sourceEnd - ip) < 4) goto failure;                   \
      control = ReadLE32(ip);                                           \
      ip += 4;                                                          \
      (bit) = control >> 31;                                            \
      control = (control << 1) | 1u;                                    \
    }                                                                   \
  } while (0)

#define DECODE_BITS(value, count)            \
  do {                                       \
    for (u32 n_ = (count); n_ != 0; --n_) {  \
      u32 b_;                                \
      DECODE_BIT(b_);                        \
      (value) = ((value) << 1) | b_;         \
    }                                        \
  } while (0)

#define DECODE_BYTE(byte)                  \
  do {                                     \
    if (ip >= sourceEnd) goto failure;     \
    (byte) = *ip++;                        \
  } while (0)

// Expands one stream. Returns 1 when the end code is reached without reading
// past `sourceLength` bytes, writing past `capacity` bytes or copying from
// before `destination`; 0 otherwise (also for a null `source`, or a null
// `destination` with a nonzero `capacity`). On 1, `*written` (may be null)
// holds the bytes produced and `*consumed` (may be null) the stream bytes
// read, the end code included. Protects against: reads outside [source,
// source + sourceLength), writes outside [destination, destination +
// capacity), matches reaching before `destination`, whatever the stream
// holds. Bytes of the destination past `*written` (or all of it on 0) may
// have been changed. The two buffers must not overlap.
int DecompressBlock(u8* destination, u32 capacity, const u8* source, u32 sourceLength,
                    u32* written, u32* consumed) {
  if (source == NULL || (destination == NULL && capacity != 0)) return 0;

  const u8* ip = source;
  const u8* const sourceEnd = source + sourceLength;
  u8* op = destination;
  u8* const destinationEnd = destination + capacity;
  // Only the marker bit: the first bit read takes the first control word.
  u32 control = kMarkerOnly;

  if (sourceLength > kFastInputSlack && capacity > kFastOutputSlack) {
    const u8* const sourceLimit = sourceEnd - kFastInputSlack;
    u8* const destinationLimit = destinationEnd - kFastOutputSlack;
    // The fast loop keeps the unread bits of the control word at the top of
    // `word` (zeros below them) and their number in `unread`, 0 to 31
    // between rounds; it hands back the one-variable form when it ends.
    u32 word = 0, unread = 0;
    while (DECODE_LIKELY(ip <= sourceLimit && op <= destinationLimit)) {
      // A spent word is replaced first: the round's first bit is due.
      const u32 fresh = unread == 0;
      word = fresh ? ReadLE32(ip) : word;
      ip += fresh << 2;
      unread = fresh ? 32 : unread;

      // The literals up to the next 0 bit of this word.
      const u32 run = LeadingZeros(~word | 1u) + (word == 0xFFFFFFFFu);  // 0 to 32
      Copy16(op, ip);
      if (DECODE_UNLIKELY(run > 16)) Copy16(op + 16, ip + 16);
      op += run;
      ip += run;
      unread -= run;
      if (DECODE_UNLIKELY(unread == 0)) continue;
      word <<= run;  // run < 32 here

      // A match follows (01 or 00). Its bits may run into the next control
      // word, which then stands after the data bytes read before the bit that
      // needs it. Only the first data byte can come before it, and does when
      // the bits ahead of that byte lie in this word: a parse that runs out
      // of unread bits always counts more bits ahead than there are. Both
      // places of the next word are loaded before that is known, and the
      // usual case is taken as a branch: it keeps the word's place off the
      // round's chain of dependent steps.
      const u64 bytes = ReadLE64(ip);
      const u32 zerosHere = LeadingZeros((word << 2) | 0x08000000u);
      const u32 prefixHere = zerosHere + (zerosHere < 4);
      const u32 twoByte = (word >> 30) & 1u;
      const u32 ahead = 2 + prefixHere - ((prefixHere - 1) & (0u - twoByte));
      u32 next, first;
      if (DECODE_LIKELY(ahead <= unread)) {
        next = (u32)(bytes >> 8);
        first = (u32)bytes & 0xFFu;
      } else {
        next = (u32)bytes;
        first = (u32)(bytes >> 32) & 0xFFu;
      }
      // The match's bits from the top: this word's unread bits, then the next.
      const u64 view = ((u64)word << 32) | ((u64)next << (32 - unread));
      u32 used, distance, length, lengthByte = 0;
      if (view & ((u64)1 << 62)) {
        const u32 wide = (u32)(view >> 61) & 1u;
        used = 3 + 3 * wide;
        distance = first + 1;
        if (wide) {
          distance = (first << 3) + ((u32)(view >> 58) & 7u) + 256;
          if (distance == kEndValue) {
            ip += 1 + ((u32)(used > unread) << 2);
            goto finished;
          }
          distance += 1;
        }
        length = 2;
      } else {
        u64 rest = view << 2;
        const u32 zeros = LeadingZeros64(rest | ((u64)1 << 59));  // 0 to 4
        const u32 prefix = zeros + (zeros < 4);
        const u32 lowBits = zeros + (zeros == 0);
        rest <<= prefix;
        const u32 low = (u32)(rest >> (64 - lowBits));
        rest <<= lowBits;
        const u32 lengthClass = LeadingZeros64(rest | ((u64)1 << 58));  // 0 to 5
        const u32 lengthPrefix = lengthClass + (lengthClass < 5);
        const u32 extraBits = (kLengthExtraBitsPacked >> (lengthClass << 2)) & 15u;
        rest <<= lengthPrefix;
        used = 2 + prefix + lowBits + lengthPrefix + extraBits;
        distance = (((1u << zeros) >> 1) << 9) + (first << lowBits) + low + 1;
        length = ((u32)(kLengthBasePacked >> (lengthClass << 3)) & 0xFFu) +
                 ((u32)(rest >> 60) >> (4 - extraBits));
        lengthByte = lengthClass == 5;
      }
      const u32 crossed = used > unread;
      if (lengthByte) length += (u32)(bytes >> ((1 + (crossed << 2)) << 3)) & 0xFFu;
      ip += 1 + lengthByte + (crossed << 2);
      word = crossed ? next << ((used - unread) & 31u) : word << used;
      unread = unread + (crossed << 5) - used;

      if (DECODE_UNLIKELY(distance > (size_t)(op - destination))) goto failure;
      CopyMatchWide(op, distance, length);
      op += length;
    }
    control = unread ? word | (1u << (31 - unread)) : kMarkerOnly;
  }

  // Checked loop: one code at a time, every read and write tested.
  for (;;) {
    u32 bit;
    DECODE_BIT(bit);
    if (bit) {
      if (op >= destinationEnd) goto failure;
      DECODE_BYTE(*op);
      ++op;
      continue;
    }
    u32 distance, length;
    DECODE_BIT(bit);
    if (bit) {
      u32 wide, low;
      DECODE_BIT(wide);
      DECODE_BYTE(low);
      if (!wide) {
        distance = low + 1;
      } else {
        DECODE_BITS(low, 3);
        if (low + 256 == kEndValue) break;
        distance = low + 257;
      }
      length = 2;
    } else {
      u32 zeros = 0;
      for (;;) {
        DECODE_BIT(bit);
        if (bit || ++zeros == 4) break;
      }
      u32 offset;
      DECODE_BYTE(offset);
      DECODE_BITS(offset, kDistanceLowBits[zeros]);
      distance = kDistanceBase[zeros] + offset + 1;
      u32 lengthClass = 0;
      for (;;) {
        DECODE_BIT(bit);
        if (bit || ++lengthClass == 5) break;
      }
      u32 extra = 0;
      if (lengthClass == 5) {
        DECODE_BYTE(extra);
      } else {
        DECODE_BITS(extra, kLengthExtraBits[lengthClass]);
      }
      length = kLengthBase[lengthClass] + extra;
    }
    if (distance > (size_t)(op - destination)) goto failure;
    if (length > (size_t)(destinationEnd - op)) goto failure;
    CopyMatch(op, distance, length);
    op += length;
  }

finished:
  if (written != NULL) *written = (u32)(op - destination);
  if (consumed != NULL) *consumed = (u32)(ip - source);
  return 1;

failure:
  return 0;
}
