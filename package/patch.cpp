// The patch applier. The container comes from the package and is checked
// before anything is read through it; every operation is checked against
// the old file's size, the new size and what its stream still holds before
// a byte moves, so a damaged patch is refused instead of reading or writing
// past a block, and a result that is not the new file is never reported as
// made.
#include "package/patch.h"

#include <string.h>

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
  kStreamWindowSize = kPatchReach + kPatchStreamPiece,
  // The probabilities of a range-coded stream (package/format.h), each
  // tree's from its index 1 on.
  kIsMatch = 0,              // 2: after a literal, after a match
  kIsNewDistance = 2,        // 2
  kSlot = 4,                 // tree of 5 bits
  kLength = kSlot + 32,      // tree of 8 bits
  kLiteral = kLength + 256,  // 8 trees of 8 bits
  kProbabilities = kLiteral + 8 * 256,
  kLargestSlot = 20,  // distances up to kPatchReach
};
static_assert((1u << (kLargestSlot - 1)) * 2 == kPatchReach,
              "the largest slot reaches kPatchReach");

// The decoder of a range-coded stream, resumable at any byte.
struct RangeDecoder {
  const u8* input;
  const u8* inputEnd;
  u32 range, code;
  u32 afterMatch;  // 1 when the last item was a match
  u32 distance;    // of the last match, 0 before the first
  u32 pending;     // bytes of the current match still to copy
  u32 failed;      // the stream read past its end or reached too far back
  u16 probabilities[kProbabilities];
};

// One stream of a source, handed out a piece at a time.
struct StreamReader {
  RangeDecoder decoder;
  const u8* raw;  // the next byte of a stream kept as it is, or null
  u8* window;
  u32 filled;    // bytes in the window
  u32 readAt;    // next byte handed out, within the window
  u32 produced;  // bytes made (decoded or taken) so far
  u32 expected;
};

struct Applier {
  StreamReader streams[kPatchStreams];
  const PatchFiles* files;
  u8* old;  // a window of the installed file
  u32 oldStart, oldLength;
  u8* output;
  u32 outputLength;
  u32 written;  // result bytes handed out or waiting in `output`
  Sha256State hash;
};

// The block of a call: the applier itself, then its windows.
const u32 kWorkspaceSize = (u32)sizeof(Applier) + kPatchOldWindow + kPatchOutputWindow +
                           kPatchStreams * kStreamWindowSize;

int ReadSource(const u8* patch, u32 length, u32 index, PatchHeader* header, PatchSource* source) {
  if (!CheckPatchContainer(patch, length)) return 0;
  memcpy(header, patch, sizeof *header);
  if (index >= header->sourceCount) return 0;
  memcpy(source, patch + kPatchHeaderSize + index * kPatchSourceSize, sizeof *source);
  return 1;
}

// The next byte of the coded input; past its end 0, and the stream fails.
u32 NextInput(RangeDecoder* decoder) {
  if (decoder->input == decoder->inputEnd) {
    decoder->failed = 1;
    return 0;
  }
  return *decoder->input++;
}

u32 Decide(RangeDecoder* decoder, u16* probability) {
  if (decoder->range < (1u << 24)) {
    decoder->range <<= 8;
    decoder->code = decoder->code << 8 | NextInput(decoder);
  }
  const u32 bound = (decoder->range >> 11) * *probability;
  if (decoder->code < bound) {
    decoder->range = bound;
    *probability = (u16)(*probability + ((2048 - *probability) >> 5));
    return 0;
  }
  decoder->code -= bound;
  decoder->range -= bound;
  *probability = (u16)(*probability - (*probability >> 5));
  return 1;
}

// A tree of `bits` decisions; with null `probabilities`, plain bits.
u32 DecodeTree(RangeDecoder* decoder, u16* probabilities, u32 bits) {
  u32 m = 1;
  while (m < (1u << bits)) {
    u16 plain = 1024;
    m = m * 2 + Decide(decoder, probabilities ? probabilities + m : &plain);
  }
  return m - (1u << bits);
}

// Decodes until `window` holds `until` bytes. The bytes before `*filled`
// are the stream's last ones (at least kPatchReach of them, or all).
int DecodeMore(RangeDecoder* decoder, u8* window, u32* filled, u32 until) {
  u16* p = decoder->probabilities;
  u32 at = *filled;
  while (at < until && !decoder->failed) {
    if (decoder->pending) {
      window[at] = window[at - decoder->distance];
      ++at;
      --decoder->pending;
      continue;
    }
    if (!Decide(decoder, p + kIsMatch + decoder->afterMatch)) {
      window[at] = (u8)DecodeTree(decoder, p + kLiteral + (at ? window[at - 1] >> 5 : 0) * 256, 8);
      ++at;
      decoder->afterMatch = 0;
      continue;
    }
    if (Decide(decoder, p + kIsNewDistance + decoder->afterMatch)) {
      const u32 slot = DecodeTree(decoder, p + kSlot, 5);
      if (slot > kLargestSlot) return 0;
      decoder->distance =
          (slot < 2 ? slot : (1u << (slot - 1)) + DecodeTree(decoder, nullptr, slot - 1)) + 1;
    }
    decoder->pending = DecodeTree(decoder, p + kLength, 8) + 2;
    decoder->afterMatch = 1;
    if (decoder->distance - 1 >= at) return 0;  // none yet, or before the first byte
  }
  *filled = at;
  return !decoder->failed;
}

// Starts the reader of every stream, each on its own window from `windows`
// on. The container has been checked: the streams lie within it.
void BeginReaders(StreamReader* readers, const u8* patch, const PatchSource* source, u8* windows) {
  const u8* at = patch + source->streamOffset;
  for (u32 i = 0; i < kPatchStreams; ++i) {
    StreamReader* reader = &readers[i];
    RangeDecoder* decoder = &reader->decoder;
    reader->expected = source->expandedSize[i];
    reader->window = windows + i * kStreamWindowSize;
    at += source->storedSize[i];
    if (source->rawStreams >> i & 1) {
      reader->raw = at - source->storedSize[i];
      continue;
    }
    decoder->input = at - source->storedSize[i];
    decoder->inputEnd = at;
    decoder->range = 0xFFFFFFFFu;
    for (u32 k = 0; k < 4; ++k) decoder->code = decoder->code << 8 | NextInput(decoder);
    for (u32 k = 0; k < kProbabilities; ++k) decoder->probabilities[k] = 1024;
  }
}

// Decodes the next piece after the last kPatchReach bytes of history.
int ExpandMore(StreamReader* reader) {
  const u32 keep = reader->filled < kPatchReach ? reader->filled : kPatchReach;
  memmove(reader->window, reader->window + reader->filled - keep, keep);
  reader->filled = reader->readAt = keep;
  const u32 left = reader->expected - reader->produced;
  const u32 step = left < kPatchStreamPiece ? left : kPatchStreamPiece;
  if (!DecodeMore(&reader->decoder, reader->window, &reader->filled, keep + step)) return 0;
  reader->produced += step;
  return 1;
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

// 1 when every byte of the stream was taken and a coded stream's input was
// read exactly to its end.
int UsedUp(const StreamReader* reader) {
  if (reader->produced != reader->expected) return 0;
  if (reader->raw) return 1;
  return reader->readAt == reader->filled && !reader->decoder.failed &&
         reader->decoder.input == reader->decoder.inputEnd;
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
      step = Take(&applier->streams[kPatchDifferences], &difference, step);
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
    step = Take(&applier->streams[kPatchAdded], &from, step);
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
  StreamReader* stream = &applier->streams[kPatchOperations];
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
        !CopyAdded(applier, added) || !TakeNumber(&applier->streams[kPatchSeeks], &seek))
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
    if (source.rawStreams >> kPatchStreams || source.streamOffset > length) return 0;
    u32 left = length - source.streamOffset;
    for (u32 k = 0; k < kPatchStreams; ++k) {
      const u32 stored = source.storedSize[k], expanded = source.expandedSize[k];
      if (stored > left) return 0;
      left -= stored;
      if ((source.rawStreams >> k & 1) && expanded != stored) return 0;
    }
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
  void* block = OsAlloc(kWorkspaceSize);
  if (!block) return NoMemory(files, 0);
  Applier* applier = (Applier*)block;
  memset(applier, 0, sizeof *applier);
  applier->files = files;
  applier->old = (u8*)(applier + 1);
  applier->output = applier->old + kPatchOldWindow;
  BeginReaders(applier->streams, patch, &source, applier->output + kPatchOutputWindow);
  Sha256Begin(&applier->hash);

  int ok = RunOperations(applier, header.newSize) && Flush(applier);
  for (u32 i = 0; i < kPatchStreams; ++i) ok = ok && UsedUp(&applier->streams[i]);
  if (ok) {
    u8 digest[kSha256Size];
    Sha256End(&applier->hash, digest);
    ok = memcmp(digest, header.newSha256, kSha256Size) == 0;
  }
  OsFree(block);
  return ok;
}
