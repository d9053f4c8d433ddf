// The package the updater carries: locating it, opening its directory and
// reading entries by name.
#pragma once
#include "package/format.h"
#include "platform/base.h"

// The opened package: a copy of the header followed by the directory records.
struct PackageImage {
  PackageHeader header;
  PackageEntry entries[1];  // header.entryCount records
};

struct KeptBlock;

// One package and what has been taken from it. The caller owns the record:
// it starts zeroed, and every operation below takes it by pointer, so any
// number of packages can be open at once. The updater keeps exactly one.
struct Package {
  // The package bytes (the locked resource), or in the file form a path.
  const u8* source;
  // Byte size of the package in memory; 0 selects the file form.
  u32 size;
  // The package digest (resource "UPDATE" 103, a SHA-256 of the package
  // bytes) when the executable carries one, else null.
  const u8* digest;
  u32 digestSize;
  // The opened directory, null while none is open.
  PackageImage* image;
  // The reader's own: the bytes the directory was opened from (null for the
  // file form), so that a later change of `source` or `size` cannot point a
  // lookup at bytes that were never checked; and the content blocks
  // FindPackageEntry handed out.
  const u8* openedBytes;
  u32 openedSize;
  struct KeptBlock* keptBlocks;
};

// Finds resource "UPDATE" 102 of ModuleInstance through the kernel library's
// entry points. Returns the package bytes and sets `package->size`, or null
// without a message. Also notes the digest resource "UPDATE" 103 when the
// executable has one (`package->digest`); packages built without it still
// open. The caller stores the bytes as `package->source`.
const u8* LocatePackageResource(struct Package* package);

// Loads header and directory of `package->source` and `->size` into a new
// block and makes it `package->image`, closing any directory open before. Returns it, or null without a message for a
// package it cannot read or refuses: a directory beyond the package or not
// fitting it, a directory stream that does not expand to exactly
// entryCount * 280 bytes, an entry whose stored bytes run past the directory.
// The file form also refuses a wrong magic.
PackageImage* OpenPackage(struct Package* package);
// Releases `package->image` (if any) and clears it.
void ClosePackage(struct Package* package);

// The record named `name` (compared as lstrcmpiA does) and its data offset
// from the start of the package, or null. The first match wins. No message.
const PackageEntry* FindPackageRecord(const struct Package* package, const char* name,
                                      u32* dataOffset);

// The content of entry `name`: for an entry stored as it is, a pointer into
// the package; for a compressed or scrambled one (descrambled first, as
// extraction does), a new block that the caller never releases and that
// stays until ReleasePackage. Stores the content size in `*outSize` when
// given. Null after an error box: "Can't Find File in Resource !!", "Can't
// Allocate Memory !!", or "RESOURCE READ ERROR" for a damaged stream or a
// package opened in the file form.
const u8* FindPackageEntry(struct Package* package, const char* name, u32* outSize);

// Forgets the package: its directory and every block FindPackageEntry
// handed out released, the record zeroed.
void ReleasePackage(struct Package* package);
