// The update package: one format, shared by the updater that reads it and
// the packer that writes it.
//
//   offset 0    +---------------------------+
//               | PackageHeader (16 bytes)  |  magic "QK2\0", flags,
//               |                           |  directoryOffset, entryCount
//   16          +---------------------------+
//               | stored bytes of entry 0   |  each entry starts at a
//               | zero padding to 16        |  multiple of 16
//               +---------------------------+
//               | stored bytes of entry 1   |
//               | ...                       |
//   directory-  +---------------------------+
//   Offset      | entryCount PackageEntry   |  280 bytes each, or one
//               | records, or one           |  compressed stream (header
//               | compressed stream         |  flag bit 0) running to the
//               +---------------------------+  end of the package
//
// All integers are little-endian. A stored entry is its content, or (entry
// flag bit 1) a compressed stream of it; either may be scrambled
// (`scrambled` == 1) over the stored bytes. An entry with flag bit 2 holds a
// patch instead of a file (layout below).
#pragma once
#include "platform/base.h"

enum : u32 {
  kPackageHeaderSize = 16,
  kPackageEntrySize = 280,
  kPackageAlignment = 16,
  kPackageFlagCompressedDirectory = 1,
};
enum : u8 {
  kEntryFlagStored = 1,      // informational: set on entries kept as they are
  kEntryFlagCompressed = 2,  // the stored bytes are a compressed stream
  kEntryFlagPatch = 4,       // the content is a patch container (below)
  kEntryScrambled = 1,       // exactly this value of `scrambled`
};

// Resource that carries the package in the updater: type "UPDATE", id 102.
#define kPackageResourceType "UPDATE"
enum { kPackageResourceId = 102, kPackageDigestResourceId = 103 };

static const u8 kPackageMagic[4] = {'Q', 'K', '2', 0};

struct PackageHeader {
  u8 magic[4];
  u32 flags;
  u32 directoryOffset;
  u32 entryCount;
};
static_assert(sizeof(PackageHeader) == kPackageHeaderSize, "header is 16 bytes");

struct PackageEntry {
  char name[260];
  u8 flags;
  u8 reserved1;
  u8 scrambled;
  u8 reserved2;
  u32 modifiedLow;   // FILETIME, low half
  u32 modifiedHigh;  // FILETIME, high half
  u32 contentSize;
  u32 storedSize;
};
static_assert(sizeof(PackageEntry) == kPackageEntrySize, "directory record is 280 bytes");
static_assert(offsetof(PackageEntry, flags) == 260, "flags at 260");
static_assert(offsetof(PackageEntry, scrambled) == 262, "scrambled at 262");
static_assert(offsetof(PackageEntry, modifiedLow) == 264, "modified at 264");
static_assert(offsetof(PackageEntry, contentSize) == 272, "contentSize at 272");
static_assert(offsetof(PackageEntry, storedSize) == 276, "storedSize at 276");

// storedSize raised to the next multiple of 16.
static inline u32 AlignedStoredSize(u32 storedSize) {
  return (u32)(((u64)storedSize + 15) & ~(u64)15);
}

// The scrambling parameters. The packer and the updater must use the same.
enum : u32 { kScrambleSeed = 0x5A3C96E1u };
static const u8 kScrambleRotations[8] = {7, 13, 3, 29, 11, 5, 19, 23};

// A patch entry: its content is a patch container that turns any of its
// sources (earlier versions of the file) into the new file. The container's
// streams are its compression, so a patch entry is stored as it is (flag 1,
// never flag 2); it may be scrambled like any entry. contentSize is the
// container's size, not the new file's.
//
//   offset 0    +-----------------------------+
//               | PatchHeader (48 bytes)      |  magic "QKP\0", new size,
//               |                             |  new SHA-256, sourceCount
//   48          +-----------------------------+
//               | sourceCount PatchSource     |  76 bytes each: old size,
//               | records                     |  old SHA-256, its streams
//               +-----------------------------+
//               | the streams of each source: |  anywhere after the records,
//               |   operations, seeks,        |  each source's four one
//               |   differences, added bytes  |  after the other, within
//               |                             |  the container
//               +-----------------------------+
//
// Each stream is range coded (below), or its bytes as they are when its bit
// of `rawStreams` is set (coding would not shrink it). Expanded, they are
// the recipe. The operations stream holds a sequence of operations, each
//   token        unsigned LEB128 (7 bits a byte, low first, at most 5
//                bytes): equal * 8 + changedCode * 2 + jump
//   [extra]      LEB128, only for changedCode 3: changed - 3
//   [added]      LEB128, only when jump is 1: new bytes that follow
// and each jump takes one number from the seeks stream:
//   seek         LEB128, zigzag-coded (even n: n / 2, odd n: -(n + 1) / 2)
// `equal` bytes are copied from the old file at the old position as they
// are; then the next `changed` old bytes and as many bytes of the
// differences stream are added as two little-endian numbers (each byte's
// carry goes into the next, the last one's is dropped), so a moved address
// differs by the same bytes whether or not its change carries. Both move
// the old position along. Then `added` bytes of the added stream follow,
// and `seek` moves the old position. Exact copies cost no bytes but their
// length, so long unchanged stretches stay small; each kind of byte has a
// stream of its own, so each stream's matches and probabilities serve one
// kind: repeated operations, repeated changes (tables of moved addresses),
// new text. The operations must produce exactly newSize bytes, keep the
// old position within the old file, and every stream must end exactly where
// they stop taking from it.
//
// A range-coded stream is LZ77 over binary decisions, each coded with an
// adaptive probability:
//   range decoder  code = the first 4 bytes, big-endian; range = 2^32 - 1.
//                  Before each decision, while range < 2^24: range <<= 8,
//                  code = code << 8 | next byte. A decision with
//                  probability p (11 bits, of 2048, that it is 0) splits
//                  at bound = (range >> 11) * p: code < bound is 0 (range
//                  = bound, p += (2048 - p) >> 5), else 1 (code -= bound,
//                  range -= bound, p -= p >> 5). Each p starts at 1024. A
//                  plain bit is a decision with a fresh p of 1024.
//   tree of n bits m = 1, n times m = m * 2 + decision(probs[m]); the
//                  value is m - 2^n, high bit first
//   each item      decision(isMatch[after a match]): 0 a literal, 1 a match
//   literal        tree of 8 bits, probs of literal[previous byte >> 5]
//                  (0 before the first byte)
//   match          decision(isNewDistance[after a match]): 1 a distance
//                  follows (else the last one counts), as slot = tree of 5
//                  bits (at most 20): v = slot for slot < 2, else
//                  2^(slot - 1) + slot - 1 plain bits (high first); the
//                  distance is v + 1, at most kPatchReach and never before
//                  the stream's first byte. Then length - 2 as a tree of 8
//                  bits: the bytes copied from that distance back, one by
//                  one.
// The stream must give exactly its expanded size and end exactly after the
// last byte the decoder reads.
// A patch entry may have a whole copy of the new file beside it, for an
// installed file that is none of its sources: an ordinary entry named as
// the patch entry with this suffix ('|' is no character of a Windows file
// name, so no UpdateFile line can name it).
static const char kWholeCopySuffix[] = "|whole";

enum : u32 {
  kPatchHeaderSize = 48,
  kPatchSourceSize = 76,
  kPatchStreams = 4,
  kPatchReach = 1u << 20,  // the farthest distance of a range-coded stream
};
enum : u32 {
  kPatchOperations = 0,
  kPatchSeeks = 1,
  kPatchDifferences = 2,
  kPatchAdded = 3,
};

static const u8 kPatchMagic[4] = {'Q', 'K', 'P', 0};

struct PatchHeader {
  u8 magic[4];
  u32 newSize;
  u8 newSha256[32];
  u32 sourceCount;
  u32 reserved;  // 0
};
static_assert(sizeof(PatchHeader) == kPatchHeaderSize, "patch header is 48 bytes");

struct PatchSource {
  u32 oldSize;
  u8 oldSha256[32];
  u32 rawStreams;     // bit i: stream i is kept as it is, else range coded;
                      // the other bits 0
  u32 streamOffset;   // of the operations stream, from the start of the
                      // container; each further stream follows the one before
  u32 storedSize[kPatchStreams];    // stream bytes in the container
  u32 expandedSize[kPatchStreams];  // bytes each stream gives
};
static_assert(sizeof(PatchSource) == kPatchSourceSize, "patch source record is 76 bytes");
static_assert(offsetof(PatchSource, rawStreams) == 36, "rawStreams at 36");
static_assert(offsetof(PatchSource, storedSize) == 44, "storedSize at 44");
static_assert(offsetof(PatchSource, expandedSize) == 60, "expandedSize at 60");
