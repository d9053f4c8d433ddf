// Applying a patch entry (package/format.h): finding which earlier version
// of a file is installed, and making the new file from it.
//
// The old file and the result go through the caller's callbacks, so the
// updater writes to a temporary file and tests use memory. Each call takes
// one block of at most PatchWorkspaceSize() bytes, whatever the file's size;
// the container itself is read where it lies.
#pragma once
#include "platform/base.h"

// Reads `length` bytes of the installed file at `offset` into `to`.
// Returns 1, or 0 when they cannot be read.
typedef int (*PatchReadFn)(void* context, u32 offset, u8* to, u32 length);
// Takes the next `length` bytes of the result. Returns 1, or 0 on failure.
typedef int (*PatchWriteFn)(void* context, const u8* bytes, u32 length);

struct PatchFiles {
  u32 oldSize;  // the installed file's size
  PatchReadFn readOld;
  void* oldContext;
  PatchWriteFn writeNew;
  void* newContext;
  // When not null, set to 1 by a call that fails for want of memory, so
  // that the caller can say so rather than blame the file.
  int* noMemory;
};

enum : u32 {
  kPatchOldWindow = 1u << 20,     // installed bytes read at a time
  kPatchOutputWindow = 1u << 18,  // result bytes written at a time
  kPatchStreamPiece = 1u << 17,   // stream bytes decoded at a time
};

// The largest block a call allocates, in bytes (about 5.8 MiB: the old
// and result windows, and a window for each of the recipe's streams that
// keeps its last kPatchReach bytes).
u32 PatchWorkspaceSize();

// Returns 1 when `patch` (`length` bytes) is a patch container whose
// header and source records are whole, whose sources are at least one and
// fit the container, and each of whose sources has its streams one after
// the other within it (a stream kept as it is as long as its stated size);
// 0 otherwise, also for a null `patch`. Reads only within `patch` + `length`.
int CheckPatchContainer(const u8* patch, u32 length);

enum {
  kPatchNoSource = -1,    // the installed file is none of the sources
  kPatchAlreadyNew = -2,  // the installed file already is the new file
  kPatchCannotRead = -3,  // reading it failed, the container is damaged, or no memory
};
// Which source of the checked container `patch` the installed file of
// `files` is: sources of its size are compared by SHA-256, which is taken
// once, reading the file a window at a time. Returns the source's index, or
// one of the negative outcomes above. Writes nothing.
int FindPatchSource(const u8* patch, u32 length, const PatchFiles* files);

// Makes the new file from source `sourceIndex` of `patch` (`length` bytes),
// reading the installed file and handing the result to `files->writeNew`
// in order. Returns 1 only when the whole result was written and its SHA-256
// is the container's; 0 for a damaged container (checked here again), an
// operation reaching outside the old file or past the new size, a stream
// that does not end exactly where the operations stop taking from it, a read or write that
// fails, or no memory. After 0 the bytes written are garbage: the caller
// keeps the destination as it was. Never writes outside its own block.
int ApplyPatch(const u8* patch, u32 length, u32 sourceIndex, const PatchFiles* files);
