// The patch applier. The container comes from the package and is checked
// before anything is read through it; every operation is checked against
// the old file's size, the new size and what its stream still holds before
// a byte moves, so a damaged patch is refused instead of reading or writing
// past a block, and a result that is not the new file is never reported as
// made.
#include "package/patch.h"

#include <string.h>

#include "package/decompress.h"
#include "package/format.h"
#include "package/sha256.h"
#include "platform/memory.h"

namespace {

// A failed allocation, told to the caller who asked to know; `result`.
int NoMemory(const PatchFiles* files, int result) {
  if (files->noMemory) *files->noMemory = 1;
  return result;
}

enum : u32 {
  kStreamWindowSize = kLongestReach + kPatchStreamPiece + kLongestCode,
  kWorkspaceSize = kPatchOldWindow + kPatchOutputWindow + kStreamWindowSize,
  kMostExpansion = 91,  // bytes a stream byte can give (see package.cpp)
};

// The stream of a source, handed out a piece at a time.
struct StreamReader {
  StreamDecoder decoder;
  const u8* raw;  // the next byte of a stream kept as it is, or null
  u8* window;
  u32 filled;    // bytes in the window
  u32 readAt;    // next byte handed out, within the window
  u32 produced;  // bytes made (expanded or taken) so far
  u32 expected;
};

struct Applier {
  StreamReader stream;
  const PatchFiles* files;
  u8* old;  // a window of the installed file
  u32 oldStart, oldLength;
  u8* output;
  u32 outputLength;
  u32 written;  // result bytes handed out or waiting in `output`
  Sha256State hash;
};

int ReadSource(const u8* patch, u32 length, u32 index, PatchHeader* header, PatchSource* source) {
  if (!CheckPatchContainer(patch, length)) return 0;
  memcpy(header, patch, sizeof *header);
  if (index >= header->sourceCount) return 0;
  memcpy(source, patch + kPatchHeaderSize + index * kPatchSourceSize, sizeof *source);
  return 1;
}

void BeginReader(StreamReader* reader, const u8* patch, const PatchSource* source, u8* window) {
  memset(reader, 0, sizeof *reader);
  reader->expected = source->expandedSize;
  reader->window = window;
  if (source->rawStream)
    reader->raw = patch + source->streamOffset;
  else
    BeginStreamDecode(&reader->decoder, patch + source->streamOffset, source->storedSize);
}

// Expands the next piece after the last kLongestReach bytes of history.
// The stream must end exactly at its expected size.
int ExpandMore(StreamReader* reader) {
  const u32 keep = reader->filled < kLongestReach ? reader->filled : kLongestReach;
  memmove(reader->window, reader->window + reader->filled - keep, keep);
  reader->filled = reader->readAt = keep;
  const u32 left = reader->expected - reader->produced;
  u32 capacity = keep + left, pauseAt = capacity;  // no pause: the stream must end
  if (left > kStreamWindowSize - keep) {
    capacity = kStreamWindowSize;
    pauseAt = kStreamWindowSize - kLongestCode;
  }
  if (!ContinueStreamDecode(&reader->decoder, reader->window, &reader->filled, pauseAt, capacity))
    return 0;
  reader->produced += reader->filled - keep;
  return reader->decoder.ended ? reader->produced == reader->expected : reader->filled > keep;
}

// Points `*bytes` at the next stream bytes, at most `want` of them, and
// returns how many (at least 1), or 0 when the stream has none left or is
// damaged. They count as taken.
u32 Take(StreamReader* reader, const u8** bytes, u32 want) {
  if (reader->raw) {
    const u32 left = reader->expected - reader->produced;
    const u32 count = want < left ? want : left;
    *bytes = reader->raw;
    reader->raw += count;
    reader->produced += count;
    return count;
  }
  if (reader->readAt == reader->filled) {
    if (reader->produced == reader->expected || !ExpandMore(reader)) return 0;
  }
  const u32 ready = reader->filled - reader->readAt;
  const u32 count = want < ready ? want : ready;
  *bytes = reader->window + reader->readAt;
  reader->readAt += count;
  return count;
}

// 1 when every byte of the stream was taken and a compressed stream ends
// exactly there.
int UsedUp(StreamReader* reader) {
  if (reader->produced != reader->expected) return 0;
  if (reader->raw) return 1;
  if (reader->readAt != reader->filled) return 0;
  if (!reader->decoder.ended &&
      !ContinueStreamDecode(&reader->decoder, reader->window, &reader->filled, reader->filled,
                            reader->filled))
    return 0;
  return reader->decoder.ended;
}

// The next LEB128 number of the stream; at most 5 bytes, within 32 bits.
int TakeNumber(StreamReader* reader, u32* value) {
  u32 result = 0;
  for (u32 shift = 0; shift < 35; shift += 7) {
    const u8* byte;
    if (!Take(reader, &byte, 1)) return 0;
    if (shift == 28 && *byte > 15) return 0;
    result |= (u32)(*byte & 0x7F) << shift;
    if (!(*byte & 0x80)) {
      *value = result;
      return 1;
    }
  }
  return 0;
}

int Flush(Applier* applier) {
  if (!applier->outputLength) return 1;
  Sha256Update(&applier->hash, applier->output, applier->outputLength);
  const int ok =
      applier->files->writeNew(applier->files->newContext, applier->output, applier->outputLength);
  applier->outputLength = 0;
  return ok;
}

// Room for at least one result byte, returned with how many fit.
// 0 when a write fails.
u32 OutputRoom(Applier* applier, u8** to) {
  if (applier->outputLength == kPatchOutputWindow && !Flush(applier)) return 0;
  *to = applier->output + applier->outputLength;
  return kPatchOutputWindow - applier->outputLength;
}

// Points `*bytes` at installed bytes from `offset` on (at most `want`, at
// least 1), reading the next window when `offset` lies outside this one.
// The caller has checked that `offset` is within the file.
u32 OldBytes(Applier* applier, u32 offset, const u8** bytes, u32 want) {
  if (offset < applier->oldStart || offset >= applier->oldStart + applier->oldLength) {
    const u32 left = applier->files->oldSize - offset;
    const u32 length = left < kPatchOldWindow ? left : kPatchOldWindow;
    if (!applier->files->readOld(applier->files->oldContext, offset, applier->old, length)) {
      applier->oldLength = 0;
      return 0;
    }
    applier->oldStart = offset;
    applier->oldLength = length;
  }
  const u32 ready = applier->oldStart + applier->oldLength - offset;
  *bytes = applier->old + (offset - applier->oldStart);
  return want < ready ? want : ready;
}

// `count` bytes from the installed file at `offset`, plus as many
// difference bytes when `withDifferences`, added as two little-endian
// numbers.
int CopyOld(Applier* applier, u32 offset, u32 count, int withDifferences) {
  u32 carry = 0;
  while (count) {
    u8* to = nullptr;
    const u8* from;
    u32 step = OutputRoom(applier, &to);
    if (!step) return 0;
    if (step > count) step = count;
    step = OldBytes(applier, offset, &from, step);
    if (!step) return 0;
    if (withDifferences) {
      const u8* difference;
      step = Take(&applier->stream, &difference, step);
      if (!step) return 0;
      for (u32 i = 0; i < step; ++i) {
        const u32 sum = (u32)from[i] + difference[i] + carry;
        to[i] = (u8)sum;
        carry = sum >> 8;
      }
    } else {
      memcpy(to, from, step);
    }
    applier->outputLength += step;
    offset += step;
    count -= step;
  }
  return 1;
}

int CopyAdded(Applier* applier, u32 count) {
  while (count) {
    u8* to = nullptr;
    const u8* from;
    u32 step = OutputRoom(applier, &to);
    if (!step) return 0;
    if (step > count) step = count;
    step = Take(&applier->stream, &from, step);
    if (!step) return 0;
    memcpy(to, from, step);
    applier->outputLength += step;
    count -= step;
  }
  return 1;
}

// Runs the operations until the new size is reached. Every count is checked
// against what is left of the old file and of the new size first.
int RunOperations(Applier* applier, u32 newSize) {
  StreamReader* stream = &applier->stream;
  const u32 oldSize = applier->files->oldSize;
  u32 position = 0;  // in the old file, never past its end
  while (applier->written < newSize) {
    u32 token, changed;
    if (!TakeNumber(stream, &token)) return 0;
    const u32 equal = token >> 3;
    changed = (token >> 1) & 3;
    if (changed == 3) {
      u32 more;
      if (!TakeNumber(stream, &more) || more > 0xFFFFFFFFu - 3) return 0;
      changed += more;
    }
    if (equal > oldSize - position || changed > oldSize - position - equal) return 0;
    if (equal > newSize - applier->written || changed > newSize - applier->written - equal)
      return 0;
    if (!CopyOld(applier, position, equal, 0) || !CopyOld(applier, position + equal, changed, 1))
      return 0;
    position += equal + changed;
    applier->written += equal + changed;
    if (!(token & 1)) continue;
    u32 added, seek;
    if (!TakeNumber(stream, &added) || added > newSize - applier->written ||
        !CopyAdded(applier, added) || !TakeNumber(stream, &seek))
      return 0;
    applier->written += added;
    // Zigzag: even values step forward, odd ones back.
    const u32 distance = (seek >> 1) + (seek & 1);
    if (seek & 1 ? distance > position : distance > oldSize - position) return 0;
    position = seek & 1 ? position - distance : position + distance;
  }
  return 1;
}

}  // namespace

u32 PatchWorkspaceSize() { return kWorkspaceSize; }

int CheckPatchContainer(const u8* patch, u32 length) {
  PatchHeader header;
  if (!patch || length < kPatchHeaderSize) return 0;
  memcpy(&header, patch, sizeof header);
  if (memcmp(header.magic, kPatchMagic, sizeof header.magic) != 0) return 0;
  if (header.sourceCount == 0 ||
      header.sourceCount > (length - kPatchHeaderSize) / kPatchSourceSize)
    return 0;
  for (u32 i = 0; i < header.sourceCount; ++i) {
    PatchSource source;
    memcpy(&source, patch + kPatchHeaderSize + i * kPatchSourceSize, sizeof source);
    if (source.rawStream > 1 || source.streamOffset > length ||
        source.storedSize > length - source.streamOffset)
      return 0;
    if (source.rawStream ? source.expandedSize != source.storedSize
                         : source.expandedSize > (u64)source.storedSize * kMostExpansion)
      return 0;
  }
  return 1;
}

int FindPatchSource(const u8* patch, u32 length, const PatchFiles* files) {
  PatchHeader header;
  PatchSource source;
  if (!files || !ReadSource(patch, length, 0, &header, &source)) return kPatchCannotRead;
  int sized = 0;  // whether any source, or the new file, has the installed size
  for (u32 i = 0; i < header.sourceCount && !sized; ++i) {
    memcpy(&source, patch + kPatchHeaderSize + i * kPatchSourceSize, sizeof source);
    sized = source.oldSize == files->oldSize;
  }
  if (!sized && header.newSize != files->oldSize) return kPatchNoSource;

  u8* window = (u8*)OsAlloc(kPatchOldWindow);
  if (!window) return NoMemory(files, kPatchCannotRead);
  Sha256State hash;
  Sha256Begin(&hash);
  for (u32 offset = 0; offset < files->oldSize;) {
    const u32 left = files->oldSize - offset;
    const u32 step = left < kPatchOldWindow ? left : kPatchOldWindow;
    if (!files->readOld(files->oldContext, offset, window, step)) {
      OsFree(window);
      return kPatchCannotRead;
    }
    Sha256Update(&hash, window, step);
    offset += step;
  }
  OsFree(window);
  u8 digest[kSha256Size];
  Sha256End(&hash, digest);

  if (header.newSize == files->oldSize && memcmp(digest, header.newSha256, kSha256Size) == 0)
    return kPatchAlreadyNew;
  for (u32 i = 0; i < header.sourceCount; ++i) {
    memcpy(&source, patch + kPatchHeaderSize + i * kPatchSourceSize, sizeof source);
    if (source.oldSize == files->oldSize && memcmp(digest, source.oldSha256, kSha256Size) == 0)
      return (int)i;
  }
  return kPatchNoSource;
}

int ApplyPatch(const u8* patch, u32 length, u32 sourceIndex, const PatchFiles* files) {
  PatchHeader header;
  PatchSource source;
  if (!files || !ReadSource(patch, length, sourceIndex, &header, &source)) return 0;
  if (source.oldSize != files->oldSize) return 0;
  u8* block = (u8*)OsAlloc(kWorkspaceSize);
  if (!block) return NoMemory(files, 0);
  Applier applier;
  memset(&applier, 0, sizeof applier);
  applier.files = files;
  applier.old = block;
  applier.output = block + kPatchOldWindow;
  BeginReader(&applier.stream, patch, &source, applier.output + kPatchOutputWindow);
  Sha256Begin(&applier.hash);

  int ok = RunOperations(&applier, header.newSize) && Flush(&applier) && UsedUp(&applier.stream);
  if (ok) {
    u8 digest[kSha256Size];
    Sha256End(&applier.hash, digest);
    ok = memcmp(digest, header.newSha256, kSha256Size) == 0;
  }
  OsFree(block);
  return ok;
}
