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
//               | sourceCount PatchSource     |  52 bytes each: old size,
//               | records                     |  old SHA-256, its stream
//               +-----------------------------+
//               | the stream of each source   |  anywhere after the records,
//               |                             |  each within the container
//               +-----------------------------+
//
// A source's stream is a compressed stream of the package's format, or its
// bytes as they are when `rawStream` is 1 (compression would not shrink
// it). Expanded, it is the recipe: a sequence of operations, each
//   token        unsigned LEB128 (7 bits a byte, low first, at most 5
//                bytes): equal * 8 + changedCode * 2 + jump
//   [extra]      LEB128, only for changedCode 3: changed - 3
//   differences  `changed` bytes (changedCode 0 to 2: changed = changedCode)
//   when jump is 1:
//   added        LEB128, then that many new bytes
//   seek         LEB128, zigzag-coded (even n: n / 2, odd n: -(n + 1) / 2)
// `equal` bytes are copied from the old file at the old position as they
// are; then the next `changed` old bytes and the difference bytes are added
// as two little-endian numbers (each byte's carry goes into the next, the
// last one's is dropped), so a moved address differs by the same bytes
// whether or not its change carries. Both move the old position along. The added bytes follow;
// then `seek` moves the old position. Exact copies cost no bytes but their
// length, so long unchanged stretches stay small without an entropy coder,
// and the difference bytes lie beside the operations that use them, where
// the stream's matches find repeated changes (tables of moved addresses)
// whole. The operations must produce exactly newSize bytes, keep the old
// position within the old file, and end exactly where the stream does.
enum : u32 {
  kPatchHeaderSize = 48,
  kPatchSourceSize = 52,
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
  u32 rawStream;     // 1: the stream is kept as it is, 0: compressed
  u32 streamOffset;  // from the start of the container
  u32 storedSize;    // stream bytes in the container
  u32 expandedSize;  // bytes the stream gives
};
static_assert(sizeof(PatchSource) == kPatchSourceSize, "patch source record is 52 bytes");
static_assert(offsetof(PatchSource, rawStream) == 36, "rawStream at 36");
