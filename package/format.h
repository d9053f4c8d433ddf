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
// (`scrambled` == 1) over the stored bytes.
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
