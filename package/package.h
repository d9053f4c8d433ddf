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

// The package bytes (the locked resource), or in the file form a path.
extern const u8* PackageSource;
// Byte size of the package in memory; 0 selects the file form.
extern u32 PackageSize;
// The current directory, null while none is open.
extern PackageImage* CurrentPackage;
// The package digest (resource "UPDATE" 103, a SHA-256 of the package bytes)
// when the executable carries one, else null. Set by LocatePackageResource.
extern const u8* PackageDigest;
extern u32 PackageDigestSize;

// Finds resource "UPDATE" 102 of ModuleInstance through the kernel library's
// entry points. Returns the package bytes and sets PackageSize, or null
// without a message. Also notes the digest resource "UPDATE" 103 when the
// executable has one (PackageDigest); packages built without it still open.
const u8* LocatePackageResource();

// Loads header and directory of PackageSource/PackageSize into a new block and
// makes it CurrentPackage. Returns it, or null without a message for a
// package it cannot read or refuses: a directory beyond the package or not
// fitting it, a directory stream that does not expand to exactly
// entryCount * 280 bytes, an entry whose stored bytes run past the directory.
// The file form also refuses a wrong magic.
PackageImage* OpenPackage();
// Releases CurrentPackage (if any) and clears it.
void ClosePackage();

// The record named `name` (compared as lstrcmpiA does) and its data offset
// from the start of the package, or null. The first match wins. No message.
const PackageEntry* FindPackageRecord(const char* name, u32* dataOffset);

// The content of entry `name`: for an entry stored as it is, a pointer into
// the package; for a compressed or scrambled one (descrambled first, as
// extraction does), a new block that the caller never releases and that
// stays until ResetPackageState. Stores the content size in `*outSize` when
// given. Null after an error box: "Can't Find File in Resource !!", "Can't
// Allocate Memory !!", or "RESOURCE READ ERROR" for a damaged stream or a
// package opened in the file form.
const u8* FindPackageEntry(const char* name, u32* outSize);

// Forgets the package (CurrentPackage released, every block FindPackageEntry
// handed out released, PackageSource and PackageSize cleared), as at program
// start.
void ResetPackageState();
