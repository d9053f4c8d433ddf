// The publisher's side of patch entries: a patch container (layout in
// package/format.h) that turns each earlier version of a file into the new
// one. The applier is ApplyPatch in package/patch.h.
//
// Each old version is indexed with a suffix array (libdivsufsort); the new
// file is walked against it, keeping one alignment (new offset to old
// offset) while it holds with scattered changes, and looking up the longest
// match elsewhere where it breaks. Exact stretches cost only their length in
// the recipe; changed bytes become difference bytes in a stream of their own;
// bytes found nowhere are added as they are. Each stream is then range
// coded on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "packer/compress.h"

struct PatchOldVersion {
  const uint8_t* data;  // may be null when size is 0
  size_t size;
};

// What a patch holds, summed over its sources, for reports and tuning.
struct PatchMakeReport {
  size_t stream = 0;        // expanded bytes of the recipes
  size_t equalBytes = 0;    // new bytes copied as they are
  size_t changedBytes = 0;  // new bytes made from an old byte and a difference
  size_t addedBytes = 0;    // new bytes found nowhere in the old version
  size_t sources = 0;       // distinct old versions kept
};

// Returns the patch container turning each distinct version of `olds` (by
// content; duplicates are kept once) into the `newSize` bytes at `newData`.
// Each of a source's streams is compressed at `effort` on its own and kept
// as it is when that does not shrink it. Throws std::length_error for no old version, or a file
// of 2 GiB or more. Working memory besides the files: the suffix array, 4
// bytes per old byte, then the recipe and its coded form, and while a
// stream is coded, 4 bytes per byte of it and a table of 1 MiB.
std::vector<uint8_t> MakePatch(const std::vector<PatchOldVersion>& olds, const uint8_t* newData,
                               size_t newSize, CompressEffort effort = CompressEffort::kBest,
                               PatchMakeReport* report = nullptr);
