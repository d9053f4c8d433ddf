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
// - The fast loop runs while a round cannot reach either end (it needs 80
//   bytes of stream and 320 bytes of room ahead). It keeps the unread bits
//   of the current control word and all 32 of the next one in a 64-bit
//   buffer, so that every code is decoded from one register, whichever
//   word its bits lie in. The next word's place is known before its first
//   bit is due: when a word is loaded, a table walk over its bits (8 at a
//   time, carrying the state of a code that runs over from the word before)
//   counts the data bytes that its codes read before the word after it is
//   needed, which is where that one stands. A round takes the run of
//   literals up to the next 0 bit within the current word (counting leading
//   ones) in one copy, then the match after it whole from one table lookup
//   on its first 13 bits, or two for the longest codes. Its copies write
//   whole 16- or 8-byte units and may write up to 32 bytes past the bytes
//   they produce; those lie within the destination and are overwritten by
//   the codes that follow.
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
// A stream can also be expanded a piece at a time (ContinueStreamDecode):
// the checked loop pauses at the first code boundary past the caller's pause
// point, keeping the control word in its one-variable form, and the fast
// loop resumes from that form by walking the word's unread bits to find
// where the next word stands.
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
  // What a fast round may touch. Input: the literal run's two 16-byte units
  // from the round's start (the run is at most 32 bytes), the match's data
  // bytes, which may stand after the next control word (6), and the word
  // after that, loaded when the current one is spent: it stands at most 36
  // bytes after the next word, which stands at most 32 data bytes (one per
  // unread bit) after the read position, so at most 32 + 2 + 36 + 4 = 74
  // bytes from the round's start. Output: the literal units (32 from the
  // round's start), then a match at most 32 bytes in, of up to 282 bytes
  // written in 16-byte units (288): 32 + 288 = 320.
  kFastInputSlack = 80,
  kFastOutputSlack = 320,
  // A round's literals end before the pause point when it starts this far
  // ahead of it.
  kFastPauseSlack = 33,
};

// The walk that finds where the next control word stands. Its state is the
// point reached inside a code when a word ends; a data byte counts for the
// word in which the bit just before it lies (for a literal, its 1 bit).
enum : u32 {
  kScanStart,        // at the first bit of a code
  kScanMatch,        // after 0
  kScanTwoByte,      // after 01: E is next
  kScanSkip1,        // 1 to 4 bits left of the code (X bits, length bits)
  kScanSkip4 = kScanSkip1 + 3,
  kScanPrefix0,      // after 00 and 0 to 3 zeros of the distance prefix
  kScanPrefix3 = kScanPrefix0 + 3,
  kScanLow1,         // 1 to 4 low distance bits left, then the length code
  kScanLow4 = kScanLow1 + 3,
  kScanLength0,      // 0 to 4 zeros of the length prefix read
  kScanLength4 = kScanLength0 + 4,
  kScanStates
};

// The state after `bit` in `state`; a data byte read right after the bit
// adds one to `*bytes`.
constexpr u32 ScanStep(u32 state, u32 bit, u32* bytes) {
  if (state == kScanStart) {
    if (bit) ++*bytes;
    return bit ? kScanStart : kScanMatch;
  }
  if (state == kScanMatch) return bit ? kScanTwoByte : kScanPrefix0;
  if (state == kScanTwoByte) {
    ++*bytes;
    return bit ? kScanSkip1 + 2 : kScanStart;
  }
  if (state >= kScanSkip1 && state <= kScanSkip4) return state == kScanSkip1 ? kScanStart : state - 1;
  if (state >= kScanPrefix0 && state <= kScanPrefix3) {
    const u32 zeros = state - kScanPrefix0;  // before this bit
    if (bit) {
      ++*bytes;
      return kScanLow1 + (zeros == 0 ? 0 : zeros - 1);  // 1, 1, 2, 3 low bits
    }
    if (zeros == 3) {
      ++*bytes;
      return kScanLow4;
    }
    return state + 1;
  }
  if (state >= kScanLow1 && state <= kScanLow4) return state == kScanLow1 ? kScanLength0 : state - 1;
  const u32 zeros = state - kScanLength0;  // length prefix, before this bit
  if (bit) {
    const u32 extra = zeros < 2 ? 0 : zeros == 2 ? 1 : zeros == 3 ? 2 : 4;
    return extra == 0 ? kScanStart : kScanSkip1 + extra - 1;
  }
  if (zeros == 4) {
    ++*bytes;  // the length byte
    return kScanStart;
  }
  return state + 1;
}

// For every state and byte of control bits (first bit at the top): the
// state after the eight bits in the low byte, the data bytes read in the
// high byte.
struct ScanTable {
  u16 entry[kScanStates][256];
};

void FillScanTable(ScanTable* table) {
  for (u32 state = 0; state < kScanStates; ++state) {
    for (u32 bits = 0; bits < 256; ++bits) {
      u32 now = state, bytes = 0;
      for (u32 n = 8; n != 0; --n) now = ScanStep(now, (bits >> (n - 1)) & 1u, &bytes);
      table->entry[state][bits] = (u16)(now | (bytes << 8));
    }
  }
}

// The fast loop decodes a match with one table lookup on the 12 bits after
// its leading 0, which hold nine codes in ten whole. An entry gives the
// control bits used, how far the distance byte is shifted and what is added
// to it for the distance, and the length: 2 for the two-byte form, 3 to 26,
// or 27 to which the length byte is added. When the length code runs past
// the 12 bits, the entry covers the distance code only and a second lookup
// takes the nine bits after it, which hold every length code.
enum : u32 {
  kMatchUsedMask = 31u,        // bits 0-4: control bits used, the leading 0 included
  kMatchLengthByte = 1u << 5,  // the length byte is added
  kMatchWide = 1u << 6,        // the wide two-byte form, which holds the end code
  kMatchWhole = 1u << 7,       // the length code is in the entry too
  kMatchShiftAt = 8,           // bits 8-10: the distance byte's shift
  kMatchLengthAt = 11,         // bits 11-15: the length (27 before the length byte)
  kMatchAddAt = 16,            // bits 16-28: added to the shifted distance byte
};

// The length code at the top of `code` (`width` bits): its entry bits (used
// bits and length, kMatchLengthByte), or 0 when it does not fit.
constexpr u32 LengthPart(u32 code, u32 width) {
  u32 zeros = 0;
  while (zeros < 5 && zeros < width && !((code >> (width - 1 - zeros)) & 1u)) ++zeros;
  if (zeros == 5) return 5u | kMatchLengthByte | (27u << kMatchLengthAt);
  const u32 extraBits = zeros < 2 ? 0 : zeros == 2 ? 1 : zeros == 3 ? 2 : 4;
  const u32 used = zeros + 1 + extraBits;
  if (used > width) return 0;
  const u32 base = zeros == 0 ? 3 : zeros == 1 ? 4 : zeros == 2 ? 5 : zeros == 3 ? 7 : 11;
  const u32 extra = (code >> (width - used)) & ((1u << extraBits) - 1u);
  return used | ((base + extra) << kMatchLengthAt);
}

constexpr u32 MatchEntry(u32 index) {  // the 12 bits after the leading 0
  if (index & 0x800u) {  // 01: the two-byte form
    if (!(index & 0x400u)) return 3u | kMatchWhole | (2u << kMatchLengthAt) | (1u << kMatchAddAt);
    const u32 x = (index >> 7) & 7u;
    return 6u | kMatchWhole | kMatchWide | (3u << kMatchShiftAt) | (2u << kMatchLengthAt) |
           ((257u + x) << kMatchAddAt);
  }
  const u32 code = index & 0x7FFu;  // after 00: the distance code, at most 8 bits
  u32 zeros = 0;
  while (zeros < 4 && !((code >> (10 - zeros)) & 1u)) ++zeros;
  const u32 prefix = zeros < 4 ? zeros + 1 : 4;
  const u32 lowBits = zeros == 0 ? 1 : zeros;
  const u32 distanceBits = prefix + lowBits;
  const u32 low = (code >> (11 - distanceBits)) & ((1u << lowBits) - 1u);
  const u32 base = zeros == 0 ? 0 : 256u << zeros;
  const u32 head = (2 + distanceBits) | (lowBits << kMatchShiftAt) | ((base + low + 1) << kMatchAddAt);
  const u32 rest = 11 - distanceBits;
  const u32 length = LengthPart(code & ((1u << rest) - 1u), rest);
  if (length == 0) return head;
  return (head + (length & kMatchUsedMask)) | kMatchWhole | (length & ~kMatchUsedMask);
}

struct MatchTables {
  u32 match[4096];
  u16 length[512];  // the nine bits after the distance code
};

void FillMatchTables(MatchTables* tables) {
  for (u32 i = 0; i < 4096; ++i) tables->match[i] = MatchEntry(i);
  for (u32 i = 0; i < 512; ++i) tables->length[i] = (u16)LengthPart(i, 9);
}

// The tables are built on the first call rather than stored: about 28 KB
// that the updater's executable would otherwise carry, for a few
// microseconds once. Zero-initialised storage costs no file space. The
// updater has one thread; a program that decodes on several must make its
// first call before starting them.
ScanTable scanTable;
MatchTables matchTables;
int tablesBuilt;

void BuildTablesOnce() {
  if (tablesBuilt) return;
  FillScanTable(&scanTable);
  FillMatchTables(&matchTables);
  tablesBuilt = 1;
}

// Offset base and number of low bits of the five distance classes, by the
// number of zero prefix bits (0 to 4), for the checked loop.
const u32 kDistanceBase[5] = {0, 512, 1024, 2048, 4096};
const u32 kDistanceLowBits[5] = {1, 1, 2, 3, 4};
// Extra bits and base of the six length classes, by the number of zero
// prefix bits (0 to 5; class 5 takes a byte instead of extra bits).
const u32 kLengthExtraBits[6] = {0, 0, 1, 2, 4, 0};
const u32 kLengthBase[6] = {3, 4, 5, 7, 11, 27};

DECODE_FORCE_INLINE u32 ReadLE32(const u8* p) {
  return (u32)p[0] | ((u32)p[1] << 8) | ((u32)p[2] << 16) | ((u32)p[3] << 24);
}

// Unaligned copies; every byte is read before any is written. Without
// 16-byte registers they go through two 8-byte values: a plain memcpy of 16
// bytes then becomes a string move when the updater is built for size,
// which costs more than the rest of a round.
DECODE_FORCE_INLINE void Copy8(u8* to, const u8* from) {
  u64 a;
  memcpy(&a, from, 8);
  memcpy(to, &a, 8);
}
DECODE_FORCE_INLINE void Copy16(u8* to, const u8* from) {
#if defined(__SSE2__)
  memcpy(to, from, 16);
#else
  u64 a, b;
  memcpy(&a, from, 8);
  memcpy(&b, from + 8, 8);
  memcpy(to, &a, 8);
  memcpy(to + 8, &b, 8);
#endif
}

DECODE_FORCE_INLINE u32 TrailingZeros32(u32 v) {  // v != 0
#if defined(__GNUC__) || defined(__clang__)
  return (u32)__builtin_ctz(v);
#else
  u32 n = 0;
  while (!(v & 1u)) { v >>= 1; ++n; }
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

// The same copy for the fast loop, which has room past the match. At
// distances of 8 and more it writes four 8-byte units, each read from bytes
// already final, then 16-byte units (distances of 16 and more) or pairs of
// 8-byte units while the match is longer. One path for every distance from
// 8 up: a test of distance 16 at every match mispredicts often enough to
// cost more than the two extra moves. It may write up to 30 bytes past the
// match.
DECODE_FORCE_INLINE void CopyMatchWide(u8* op, u32 distance, u32 length) {
  const u8* from = op - distance;
  if (DECODE_LIKELY(distance >= 8)) {
    Copy8(op, from);
    Copy8(op + 8, from + 8);
    Copy8(op + 16, from + 16);
    Copy8(op + 24, from + 24);
    if (DECODE_UNLIKELY(length > 32)) {
      u32 done = 32;
      if (distance >= 16) {
        do {
          Copy16(op + done, from + done);
          done += 16;
        } while (done < length);
      } else {
        do {
          Copy8(op + done, from + done);
          Copy8(op + done + 8, from + done + 8);
          done += 16;
        } while (done < length);
      }
    }
  } else {
    CopyMatch(op, distance, length);
  }
}

// Counts the data bytes that the codes of control word `word` read before
// the word after it is needed, starting from state `*state`, which it
// advances to the state at that word's first bit.
DECODE_FORCE_INLINE u32 ScanWord(u32 word, u32* state) {
  // No shortcut for a word of 32 literals: even in data that hardly
  // compresses most words hold a short match, and the test mispredicts.
  u32 entry = scanTable.entry[*state][word >> 24];
  u32 bytes = entry >> 8;
  entry = scanTable.entry[entry & 0xFFu][(word >> 16) & 0xFFu];
  bytes += entry >> 8;
  entry = scanTable.entry[entry & 0xFFu][(word >> 8) & 0xFFu];
  bytes += entry >> 8;
  entry = scanTable.entry[entry & 0xFFu][word & 0xFFu];
  bytes += entry >> 8;
  *state = entry & 0xFFu;
  return bytes;
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

namespace {

enum DecodeOutcome { kDecodeFailed, kDecodeEnded, kDecodePaused };

// Where the first unread bit of the current control word stands when a
// round begins mid-word: the data bytes that its `count` unread bits (at the
// top of `word`) read before the next word is due, and the walk's state at
// that word's first bit. Codes are whole at this point.
u32 ScanUnreadBits(u32 word, u32 count, u32* state) {
  u32 bytes = 0;
  u32 now = kScanStart;
  for (u32 n = 0; n < count; ++n) now = ScanStep(now, (word >> (31 - n)) & 1u, &bytes);
  *state = now;
  return bytes;
}

// Expands codes from `*ipInOut` into `*opInOut` until the end code, or until
// the output reaches `pauseAt` at a code boundary (never when `pauseAt` is
// `destinationEnd`). Matches may reach back to `base`. `*controlInOut` is
// the current control word in the one-variable form (unread bits at the
// top, then the marker bit); it and both positions are brought up to date
// on kDecodeEnded and kDecodePaused.
DecodeOutcome DecodeCodes(u8* const base, u8** opInOut, u8* const pauseAt, u8* const destinationEnd,
                          const u8** ipInOut, const u8* const sourceEnd, u32* controlInOut) {
  const u8* ip = *ipInOut;
  u8* op = *opInOut;
  u32 control = *controlInOut;
  u8* const destination = base;
  u8* const pauseLimit = pauseAt == destinationEnd ? nullptr : pauseAt;
  DecodeOutcome outcome = kDecodeFailed;

  // A fast round writes up to 32 literals and then a match: it starts only
  // where its match still begins before the pause point, so that a pause
  // never comes more than kLongestCode - 1 bytes past it.
  if ((size_t)(sourceEnd - ip) > kFastInputSlack && (size_t)(destinationEnd - op) > kFastOutputSlack &&
      (!pauseLimit || (size_t)(pauseLimit - op) > kFastPauseSlack)) {
    const u8* const sourceLimit = sourceEnd - kFastInputSlack;
    u8* destinationLimit = destinationEnd - kFastOutputSlack;
    if (pauseLimit && pauseLimit - kFastPauseSlack < destinationLimit)
      destinationLimit = pauseLimit - kFastPauseSlack;
    // `bits` holds, from the top, the unread bits of the current word and
    // the 32 bits of the next one, which stands at `next`; `available`
    // counts them (32 to 64 between rounds). `after` is where the word after
    // the next one stands, and `scan` the walk's state at its first bit.
    // A data byte at `ip` or later lies after the next word once every byte
    // before that word has been read, that is once `ip` reaches `next`; the
    // word is stepped over when the current word is spent.
    u32 scan = kScanStart;
    u64 bits;
    u32 available;
    const u8* next;
    if (control == kMarkerOnly) {  // the next bit takes a new word
      const u32 first = ReadLE32(ip);
      ip += 4;
      next = ip + ScanWord(first, &scan);
      bits = (u64)first << 32;
      available = 64;
    } else {  // resumed inside a word: 1 to 31 of its bits unread
      const u32 unread = 31 - TrailingZeros32(control);
      const u32 top = control & ~(0xFFFFFFFFu >> unread);
      next = ip + ScanUnreadBits(top, unread, &scan);
      bits = (u64)top << 32;
      available = 32 + unread;
    }
    const u32 second = ReadLE32(next);
    const u8* after = next + 4 + ScanWord(second, &scan);
    bits |= (u64)second << (64 - available);

// The current word is spent: the next one takes its place and the one after
// it is loaded below its bits. Every data byte before it has been read.
#define DECODE_NEXT_WORD()                              \
  do {                                                  \
    const u32 loaded_ = ReadLE32(after);                \
    ip += 4;                                            \
    bits |= (u64)loaded_ << (32 - available);           \
    available += 32;                                    \
    next = after;                                       \
    after += 4 + ScanWord(loaded_, &scan);              \
  } while (0)

    while (DECODE_LIKELY(ip <= sourceLimit && op <= destinationLimit)) {
      // The literals up to the next 0 bit of the current word: a 1 planted
      // in the inverted bits just after the word's last one stops the count.
      const u32 run = LeadingZeros64(~bits | ((u64)1 << (95 - available)));
      Copy16(op, ip);
      Copy16(op + 16, ip + 16);
      op += run;
      ip += run;
      bits <<= run;
      available -= run;
      if (DECODE_UNLIKELY(available == 32)) {
        DECODE_NEXT_WORD();
        continue;
      }

      // A match: 01 or 00, at most 19 bits, all in `bits`. Its data bytes
      // are read from the current place, past the next word when every byte
      // before it has been read.
      const u8* const at0 = ip + ((u32)(ip >= next) << 2);
      const u8* const at1 = ip + 1 + ((u32)(ip + 1 >= next) << 2);
      const u32 byte0 = *at0;
      const u32 byte1 = *at1;
      const u32 entry = matchTables.match[(u32)(bits >> 51)];
      u32 used = entry & kMatchUsedMask;
      u32 lengthPart = entry;
      {
        const u32 rest = matchTables.length[(u32)((bits << used) >> 55)];
        const u32 whole = (entry & kMatchWhole) != 0;
        lengthPart = whole ? entry : rest;
        used += whole ? 0 : (rest & kMatchUsedMask);
      }
      const u32 lengthByte = (lengthPart & kMatchLengthByte) != 0;
      const u32 distance = (entry >> kMatchAddAt) + (byte0 << ((entry >> kMatchShiftAt) & 7u));
      const u32 length = ((lengthPart >> kMatchLengthAt) & 31u) + (byte1 & (0u - lengthByte));
      bits <<= used;
      available -= used;
      ip += 1 + lengthByte;
      if (DECODE_UNLIKELY(distance == kEndValue + 1) && (entry & kMatchWide)) {
        ip += (u32)(available < 32) << 2;
        goto finished;
      }
      if (available < 32) DECODE_NEXT_WORD();

      if (DECODE_UNLIKELY(distance > (size_t)(op - destination))) goto failure;
      CopyMatchWide(op, distance, length);
      op += length;
    }
#undef DECODE_NEXT_WORD
    // Back to the one-variable form. A current word of which nothing is read
    // is read again by the checked loop.
    const u32 unread = available - 32;  // 0 to 32
    if (unread == 32) {
      ip -= 4;
      control = kMarkerOnly;
    } else {
      control = ((u32)(bits >> 32) & ~(0xFFFFFFFFu >> unread)) | (kMarkerOnly >> unread);
    }
  }

  // Checked loop: one code at a time, every read and write tested.
  for (;;) {
    if (DECODE_UNLIKELY(pauseLimit && op >= pauseLimit)) {
      outcome = kDecodePaused;
      break;
    }
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
        if (low + 256 == kEndValue) {
          outcome = kDecodeEnded;
          break;
        }
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

  if (outcome == kDecodeFailed) return kDecodeFailed;
  *ipInOut = ip;
  *opInOut = op;
  *controlInOut = control;
  return outcome;

finished:
  *ipInOut = ip;
  *opInOut = op;
  *controlInOut = kMarkerOnly;
  return kDecodeEnded;

failure:
  return kDecodeFailed;
}

}  // namespace

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
  BuildTablesOnce();
  const u8* ip = source;
  u8* op = destination;
  u32 control = kMarkerOnly;
  u8* const destinationEnd = destination + capacity;
  if (DecodeCodes(destination, &op, destinationEnd, destinationEnd, &ip, source + sourceLength,
                  &control) != kDecodeEnded)
    return 0;
  if (written != NULL) *written = (u32)(op - destination);
  if (consumed != NULL) *consumed = (u32)(ip - source);
  return 1;
}

int BeginStreamDecode(StreamDecoder* decoder, const u8* source, u32 sourceLength) {
  if (decoder == NULL) return 0;
  memset(decoder, 0, sizeof *decoder);
  if (source == NULL) return 0;
  BuildTablesOnce();
  decoder->input = source;
  decoder->position = source;
  decoder->inputEnd = source + sourceLength;
  decoder->control = kMarkerOnly;
  return 1;
}

void MoveStreamInput(StreamDecoder* decoder, const u8* input, u32 length) {
  decoder->consumedBefore = StreamBytesConsumed(decoder);
  decoder->input = input;
  decoder->position = input;
  decoder->inputEnd = input + length;
}

u32 StreamBytesConsumed(const StreamDecoder* decoder) {
  return decoder->consumedBefore + (u32)(decoder->position - decoder->input);
}

int ContinueStreamDecode(StreamDecoder* decoder, u8* window, u32* filled, u32 pauseAt, u32 capacity) {
  if (decoder == NULL || decoder->input == NULL || decoder->ended || decoder->failed ||
      filled == NULL || *filled > pauseAt || pauseAt > capacity || (window == NULL && capacity != 0))
    return 0;
  u8* op = window + *filled;
  const DecodeOutcome outcome = DecodeCodes(window, &op, window + pauseAt, window + capacity,
                                            &decoder->position, decoder->inputEnd, &decoder->control);
  if (outcome == kDecodeFailed) {
    decoder->failed = 1;
    return 0;
  }
  *filled = (u32)(op - window);
  if (outcome == kDecodeEnded) decoder->ended = 1;
  return 1;
}
