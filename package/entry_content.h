// Reading one entry's content out of the opened package: shared by the
// lookup by name (package.cpp) and by extraction (extract.cpp).
#pragma once
#include "package/format.h"
#include "platform/base.h"

// The content of `record`, whose stored bytes start `dataOffset` bytes into
// the package: descrambled when `scrambled` is 1 (descrambling comes first,
// since the scrambling lies over a compressed stream), then expanded when
// flag bit 1 is set. Returns the content, pointing into the package when the
// entry needs neither step, else into a new block. With `block` given, that
// block is stored in `*block` (null when nothing was allocated) for the
// caller to release with OsFree; with `block` null, the package module keeps
// it until ResetPackageState. Returns null, with nothing left allocated,
// after one error box: "Can't Allocate Memory !!", or "RESOURCE READ ERROR"
// for a stream that does not expand to exactly `contentSize` bytes or a
// package opened in the file form (which has no content in memory).
// Never reads outside the package or writes outside its own blocks.
const u8* ReadEntryContent(const PackageEntry* record, u32 dataOffset, void** block);
