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
//
// The control word lives in one variable. After a refill it holds the 31
// unread bits of the word followed by a marker bit: every read shifts the top
// bit out as the decision, and the word becomes zero exactly when the 33rd
// bit is wanted, which is when the next word is due.
//
// Two loops share the work. The fast loop runs while the next code cannot
// reach either end (a code reads at most one control word and two data
// bytes, and writes at most 282 bytes), so it tests only distances; the
// checked loop handles the last codes near the ends and tests every read and
// write. Both write exactly the bytes of a forward byte-by-byte copy.
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
  kEndValue = 2303,      // v of the two-byte form that ends the stream
  kMaxMatchLength = 282,
  // The most a code reads: one control word plus two data bytes.
  kMaxCodeInput = 4 + 2,
};

// Offset base and number of low bits of the five distance classes, by the
// number of zero prefix bits (0 to 4).
const u32 kDistanceBase[5] = {0, 512, 1024, 2048, 4096};
const u32 kDistanceLowBits[5] = {1, 1, 2, 3, 4};

DECODE_FORCE_INLINE u32 ReadLE32(const u8* p) {
  return (u32)p[0] | ((u32)p[1] << 8) | ((u32)p[2] << 16) | ((u32)p[3] << 24);
}

// Writes `length` bytes at `op`, each the byte `distance` positions before it,
// in increasing order. The caller has checked that `distance` reaches no
// further back than the start of the output and that `length` bytes fit.
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

}  // namespace

// Takes the next control bit into `bit`, reading the next control word first
// when all 32 bits are spent. CHECKED: whether the four bytes must be tested.
#define DECODE_BIT(bit, CHECKED)                                        \
  do {                                                                  \
    (bit) = control >> 31;                                              \
    control <<= 1;                                                      \
    if (DECODE_UNLIKELY(control == 0)) {                                \
      if ((CHECKED) && (size_t)(sourceEnd - ip) < 4) goto failure;      \
      control = ReadLE32(ip);                                           \
      ip += 4;                                                          \
      (bit) = control >> 31;                                            \
      control = (control << 1) | 1u;                                    \
    }                                                                   \
  } while (0)

// Appends `count` control bits to `value`, most significant first.
#define DECODE_BITS(value, count, CHECKED) \
  do {                                     \
    for (u32 n_ = (count); n_ != 0; --n_) { \
      u32 b_;                              \
      DECODE_BIT(b_, CHECKED);             \
      (value) = ((value) << 1) | b_;       \
    }                                      \
  } while (0)

// Takes the next data byte into `byte`.
#define DECODE_BYTE(byte, CHECKED)                       \
  do {                                                   \
    if ((CHECKED) && ip >= sourceEnd) goto failure;      \
    (byte) = *ip++;                                      \
  } while (0)

// One whole code. Jumps to `finished` on the end code and to `failure` on a
// distance before the start of the output or (CHECKED) a read or write past
// either end; otherwise falls through with the code's bytes written.
#define DECODE_ONE_CODE(CHECKED)                                                 \
  do {                                                                           \
    u32 bit;                                                                     \
    DECODE_BIT(bit, CHECKED);                                                    \
    if (bit) {                                                                   \
      if ((CHECKED) && op >= destinationEnd) goto failure;                       \
      DECODE_BYTE(*op, CHECKED);                                                 \
      ++op;                                                                      \
      break;                                                                     \
    }                                                                            \
    DECODE_BIT(bit, CHECKED);                                                    \
    if (bit) {                                                                   \
      u32 wide, low, distance;                                                   \
      DECODE_BIT(wide, CHECKED);                                                 \
      DECODE_BYTE(low, CHECKED);                                                 \
      if (!wide) {                                                               \
        distance = low + 1;                                                      \
      } else {                                                                   \
        DECODE_BITS(low, 3, CHECKED);                                            \
        if (low + 256 == kEndValue) goto finished;                               \
        distance = low + 257;                                                    \
      }                                                                          \
      if (DECODE_UNLIKELY(distance > (size_t)(op - destination))) goto failure;  \
      if ((CHECKED) && (size_t)(destinationEnd - op) < 2) goto failure;          \
      op[0] = op[0 - (ptrdiff_t)distance];                                       \
      op[1] = op[1 - (ptrdiff_t)distance];                                       \
      op += 2;                                                                   \
      break;                                                                     \
    }                                                                            \
    u32 zeros = 0;                                                               \
    for (;;) {                                                                   \
      DECODE_BIT(bit, CHECKED);                                                  \
      if (bit) break;                                                            \
      if (++zeros == 4) break;                                                   \
    }                                                                            \
    u32 offset;                                                                  \
    DECODE_BYTE(offset, CHECKED);                                                \
    DECODE_BITS(offset, kDistanceLowBits[zeros], CHECKED);                       \
    const u32 distance = kDistanceBase[zeros] + offset + 1;                      \
    u32 length;                                                                  \
    DECODE_BIT(bit, CHECKED);                                                    \
    if (bit) {                                                                   \
      length = 3;                                                                \
    } else {                                                                     \
      DECODE_BIT(bit, CHECKED);                                                  \
      if (bit) {                                                                 \
        length = 4;                                                              \
      } else {                                                                   \
        DECODE_BIT(bit, CHECKED);                                                \
        if (bit) {                                                               \
          length = 0;                                                            \
          DECODE_BITS(length, 1, CHECKED);                                       \
          length += 5;                                                           \
        } else {                                                                 \
          DECODE_BIT(bit, CHECKED);                                              \
          if (bit) {                                                             \
            length = 0;                                                          \
            DECODE_BITS(length, 2, CHECKED);                                     \
            length += 7;                                                         \
          } else {                                                               \
            DECODE_BIT(bit, CHECKED);                                            \
            if (bit) {                                                           \
              length = 0;                                                        \
              DECODE_BITS(length, 4, CHECKED);                                   \
              length += 11;                                                      \
            } else {                                                             \
              DECODE_BYTE(length, CHECKED);                                      \
              length += 27;                                                      \
            }                                                                    \
          }                                                                      \
        }                                                                        \
      }                                                                          \
    }                                                                            \
    if (DECODE_UNLIKELY(distance > (size_t)(op - destination))) goto failure;    \
    if ((CHECKED) && length > (size_t)(destinationEnd - op)) goto failure;       \
    CopyMatch(op, distance, length);                                             \
    op += length;                                                                \
  } while (0)

// Expands one stream. Returns 1 when the end code is reached without reading
// past `sourceLength` bytes, writing past `capacity` bytes or copying from
// before `destination`; 0 otherwise (including null pointers). On 1,
// `*written` (may be null) holds the bytes produced and `*consumed` (may be
// null) the stream bytes read, the end code included; on 0 neither is set and
// the bytes of `destination` up to `capacity` are undefined, but nothing
// outside [destination, destination + capacity) is written and nothing
// outside [source, source + sourceLength) is read.
int DecompressBlock(u8* destination, u32 capacity, const u8* source, u32 sourceLength,
                    u32* written, u32* consumed) {
  if (source == NULL || (destination == NULL && capacity != 0)) return 0;

  const u8* ip = source;
  const u8* const sourceEnd = source + sourceLength;
  u8* op = destination;
  u8* const destinationEnd = destination + capacity;
  // Zero: the first bit read takes the first control word.
  u32 control = 0;

  // Fast loop: no code started here can reach past either end.
  if (sourceLength > kMaxCodeInput && capacity > kMaxMatchLength) {
    const u8* const sourceLimit = sourceEnd - kMaxCodeInput;
    u8* const destinationLimit = destinationEnd - kMaxMatchLength;
    while (DECODE_LIKELY(ip <= sourceLimit && op <= destinationLimit)) {
      DECODE_ONE_CODE(0);
    }
  }
  // Checked loop: the last codes near either end.
  for (;;) {
    DECODE_ONE_CODE(1);
  }

finished:
  if (written != NULL) *written = (u32)(op - destination);
  if (consumed != NULL) *consumed = (u32)(ip - source);
  return 1;

failure:
  return 0;
}
