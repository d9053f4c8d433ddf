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
//               | sourceCount PatchSource     |  80 bytes each: old size,
//               | records                     |  old SHA-256, three streams
//               +-----------------------------+
//               | the streams of each source, |  anywhere after the records,
//               | in any order                |  each within the container
//               +-----------------------------+
//
// Each source has three streams, each a compressed stream of the package's
// format, or its bytes as they are when its bit in PatchSource::rawStreams
// is set (compression would not shrink it):
//   operations  the recipe, a sequence of operations of unsigned LEB128
//               numbers (7 bits a byte, low first, at most 5 bytes):
//                 equal      bytes copied from the old file as they are
//                 changed*2 + jump
//                            `changed` bytes, each an old byte plus the
//                            next difference byte (mod 256)
//                 then, when `jump` is 1:
//                 added      bytes taken from the added stream
//                 seek       zigzag-coded signed step of the old position
//               Equal and changed bytes read the old file from the old
//               position on and move it along; `seek` then moves it.
//   differences the difference bytes, in order.
//   added       new bytes that have no counterpart in the old file.
// The operations must produce exactly newSize bytes, keep the old position
// within the old file, and use up every stream exactly.
enum : u32 {
  kPatchHeaderSize = 48,
  kPatchSourceSize = 80,
  kPatchStreamCount = 3,
};
enum : u32 { kPatchOperations = 0, kPatchDifferences = 1, kPatchAdded = 2 };

static const u8 kPatchMagic[4] = {'Q', 'K', 'P', 0};

struct PatchHeader {
  u8 magic[4];
  u32 newSize;
  u8 newSha256[32];
  u32 sourceCount;
  u32 reserved;  // 0
};
static_assert(sizeof(PatchHeader) == kPatchHeaderSize, "patch header is 48 bytes");

struct PatchStream {
  u32 offset;        // from the start of the container
  u32 storedSize;    // bytes in the container
  u32 expandedSize;  // bytes it gives
};

struct PatchSource {
  u32 oldSize;
  u8 oldSha256[32];
  u32 rawStreams;  // bit n: stream n is kept as it is
  PatchStream streams[kPatchStreamCount];
  u32 reserved;  // 0
};
static_assert(sizeof(PatchSource) == kPatchSourceSize, "patch source record is 80 bytes");
static_assert(offsetof(PatchSource, streams) == 40, "streams at 40");
