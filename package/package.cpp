// The package reader. The package is part of the updater's own executable,
// yet every size, offset and count in it is checked against the bytes that
// are really there before anything is read through it: a damaged resource
// or file is refused with the "RESOURCE READ ERROR" outcome instead of
// reading or writing past a block.
#include "package/package.h"

#include <string.h>

#include "runtime/run_state.h"
#include "package/decompress.h"
#include "package/entry_content.h"
#include "package/scramble.h"
#include "package/sha256.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/memory.h"
#include "platform/text.h"
#include "texts.h"

struct KeptBlock {
  KeptBlock* next;
};

namespace {

// Most bytes a stream of `length` bytes can expand to. The cheapest code is a
// 282-byte long match in 25 bits (two data bytes and 9 control bits), so no
// stream gives more than 282 / 25 * 8 = 90.24 bytes per stream byte. A size
// above this is damage, refused before its block is allocated.
u64 MostExpandedSize(u32 length) { return (u64)length * 91; }

u32 DirectoryBytes(u32 entryCount) { return entryCount * kPackageEntrySize; }

// entryCount whose image block (16 + count * 280) fits 32 bits.
int CountFits(u32 entryCount) {
  return entryCount <= (0xFFFFFFFFu - kPackageHeaderSize) / kPackageEntrySize;
}

// Header fields that can be checked before the directory is read.
// `total` is the package's size in bytes.
int HeaderFits(const PackageHeader* header, u32 total) {
  if (!CountFits(header->entryCount)) return 0;
  if (header->directoryOffset < kPackageHeaderSize || header->directoryOffset > total) return 0;
  const u32 available = total - header->directoryOffset;
  if (header->flags & kPackageFlagCompressedDirectory)
    return DirectoryBytes(header->entryCount) <= MostExpandedSize(available);
  return DirectoryBytes(header->entryCount) <= available;
}

// Every record names itself within its field, lies wholly before the
// directory, and (when stored as it is) holds exactly its content.
int RecordsFit(const PackageImage* image) {
  u64 offset = kPackageHeaderSize;
  for (u32 i = 0; i < image->header.entryCount; ++i) {
    const PackageEntry* record = &image->entries[i];
    if (!memchr(record->name, 0, sizeof record->name)) return 0;
    if (!(record->flags & kEntryFlagCompressed) && record->contentSize != record->storedSize)
      return 0;
    // In 64 bits: AlignedStoredSize wraps to 0 for sizes above 0xFFFFFFF0.
    offset += ((u64)record->storedSize + 15) & ~(u64)15;
    if (offset > image->header.directoryOffset) return 0;
  }
  return 1;
}

// Expands a directory stream into the image; it must give exactly the records.
int ExpandDirectory(PackageImage* image, const u8* stream, u32 length) {
  u32 written = 0;
  const u32 expected = DirectoryBytes(image->header.entryCount);
  return DecompressBlock((u8*)image->entries, expected, stream, length, &written, nullptr) &&
         written == expected;
}

PackageImage* AllocateImage(const PackageHeader* header) {
  PackageImage* image =
      (PackageImage*)OsAlloc(kPackageHeaderSize + DirectoryBytes(header->entryCount));
  if (image) memcpy(&image->header, header, sizeof *header);
  return image;
}

// A package that comes with a digest must match it to the last byte: a
// damaged or altered package is refused before anything is taken from it.
int DigestMatches(const struct Package* package) {
  if (!package->digest) return 1;
  u8 digest[kSha256Size];
  if (package->digestSize != kSha256Size) return 0;
  Sha256(package->source, package->size, digest);
  return memcmp(digest, package->digest, kSha256Size) == 0;
}

PackageImage* OpenMemoryPackage(const struct Package* package) {
  const u8* bytes = package->source;
  const u32 size = package->size;
  PackageHeader header;
  if (!bytes || size < kPackageHeaderSize || !DigestMatches(package)) return nullptr;
  memcpy(&header, bytes, sizeof header);
  if (!HeaderFits(&header, size)) return nullptr;
  PackageImage* image = AllocateImage(&header);
  if (!image) return nullptr;
  const u8* directory = bytes + header.directoryOffset;
  int ok = 1;
  if (header.flags & kPackageFlagCompressedDirectory)
    ok = ExpandDirectory(image, directory, size - header.directoryOffset);
  else
    memcpy(image->entries, directory, DirectoryBytes(header.entryCount));
  if (ok && RecordsFit(image)) return image;
  OsFree(image);
  return nullptr;
}

// Reads the directory of an open package file into `image`.
int ReadFileDirectory(FileHandle file, u32 fileSize, PackageImage* image) {
  const PackageHeader* header = &image->header;
  if (!OsSeekFile(file, header->directoryOffset)) return 0;
  if (!(header->flags & kPackageFlagCompressedDirectory))
    return ReadExactly(file, image->entries, DirectoryBytes(header->entryCount));
  const u32 length = fileSize - header->directoryOffset;
  u8* stream = (u8*)OsAlloc(length);
  int ok = stream && ReadExactly(file, stream, length) && ExpandDirectory(image, stream, length);
  OsFree(stream);
  return ok;
}

PackageImage* OpenFilePackage(const char* path) {
  PackageHeader header;
  PackageImage* image = nullptr;
  if (!path) return nullptr;
  FileHandle file = OpenFileForRead(path);
  if (file == kInvalidFile) return nullptr;
  const u32 fileSize = OsGetFileSize(file);
  if (fileSize == kInvalidFileSize || !ReadExactly(file, &header, sizeof header)) goto fail;
  if (memcmp(header.magic, kPackageMagic, sizeof header.magic) != 0) goto fail;
  if (!HeaderFits(&header, fileSize)) goto fail;
  image = AllocateImage(&header);
  if (!image || !ReadFileDirectory(file, fileSize, image) || !RecordsFit(image)) goto fail;
  OsCloseFile(file);
  return image;
fail:
  OsFree(image);
  OsCloseFile(file);
  return nullptr;
}

// Content blocks that FindPackageEntry hands out live until the process
// ends. Each carries a link in front, so they stay reachable (leak checkers
// stay quiet) and ReleasePackage can release them all.
// A block for `size` content bytes, with the link in front when `keep`.
u8* AllocateContent(u32 size, int keep) {
  if (!keep) return (u8*)OsAlloc(size);
  if (size > 0xFFFFFFFFu - (u32)sizeof(KeptBlock)) return nullptr;
  KeptBlock* block = (KeptBlock*)OsAlloc((u32)sizeof(KeptBlock) + size);
  return block ? (u8*)(block + 1) : nullptr;
}

void ReleaseContent(u8* content, int keep) {
  if (content && keep) OsFree((KeptBlock*)(void*)content - 1);
  else OsFree(content);
}

void KeepContent(struct Package* package, u8* content) {
  KeptBlock* block = (KeptBlock*)(void*)content - 1;
  block->next = package->keptBlocks;
  package->keptBlocks = block;
}

void ReleaseKeptBlocks(struct Package* package) {
  while (package->keptBlocks) {
    KeptBlock* next = package->keptBlocks->next;
    OsFree(package->keptBlocks);
    package->keptBlocks = next;
  }
}

// Descrambled copy of `length` stored bytes, or null after an error box.
u8* DescrambledCopy(const u8* stored, u32 length, int keep) {
  u8* copy = AllocateContent(length, keep);
  if (!copy) {
    ShowError(kTextNoMemory);
    return nullptr;
  }
  memcpy(copy, stored, length);
  DescrambleBlock(copy, length);
  return copy;
}

// The stored bytes of `record` (`dataOffset` bytes into the package), or
// null: the file form has no content in memory.
const u8* StoredBytes(const struct Package* package, const PackageEntry* record, u32 dataOffset) {
  if (!package->openedBytes || (u64)dataOffset + record->storedSize > package->openedSize)
    return nullptr;
  return package->openedBytes + dataOffset;
}

// 1 when no stream of `record`'s stored size can expand to its content size,
// which is damage, found before a block of that size is asked for.
int ClaimsTooMuch(const PackageEntry* record) {
  return record->contentSize > MostExpandedSize(record->storedSize);
}

// The box for a failure of the whole-entry reader.
u8* ReadFailed(const char* text) {
  ShowError(text);
  return nullptr;
}

// Expanded content of a compressed entry in a block to keep, or null after
// an error box.
u8* ExpandedContent(const PackageEntry* record, const u8* stream) {
  if (ClaimsTooMuch(record)) return ReadFailed(kTextResourceReadError);
  u8* content = AllocateContent(record->contentSize, 1);
  if (!content) {
    ShowError(kTextNoMemory);
    return nullptr;
  }
  u32 written = 0;
  if (DecompressBlock(content, record->contentSize, stream, record->storedSize, &written,
                      nullptr) &&
      written == record->contentSize)
    return content;
  ReleaseContent(content, 1);
  ShowError(kTextResourceReadError);
  return nullptr;
}

// Descrambles the next `count` stored bytes of `pieces` (all that is left
// when fewer) to `to`.
u32 DescrambleNext(ContentPieces* pieces, u8* to, u32 count) {
  const u32 left = pieces->record->storedSize - pieces->fed;
  if (count >= left) count = left;
  else count &= ~3u;  // later pieces start on a scrambled word
  DescrambleRange(to, pieces->stored + pieces->fed, pieces->fed, count, pieces->record->storedSize);
  pieces->fed += count;
  return count;
}

// Makes sure the decoder has at hand every stream byte that expanding
// `room` more bytes can read (9 bits a byte and a control word), topping the
// input buffer up from the stored bytes when it has less.
void FeedStream(ContentPieces* pieces, u32 room) {
  StreamDecoder* decoder = &pieces->decoder;
  const u32 unread = (u32)(decoder->inputEnd - decoder->position);
  if ((u64)unread >= (u64)room * 9 / 8 + 8 || pieces->fed == pieces->record->storedSize) return;
  memmove(pieces->input, decoder->position, unread);
  const u32 added = DescrambleNext(pieces, pieces->input + unread, pieces->inputSize - unread);
  MoveStreamInput(decoder, pieces->input, unread + added);
}

// Expands the next piece of `pieces` into its window, after the history
// kept at its start. When the content runs out within the window the stream
// must end there, exactly at contentSize, which is checked before the last
// piece is handed out. Returns 1, or 0 with the damage noted.
int ExpandPiece(ContentPieces* pieces) {
  const u32 left = pieces->record->contentSize - pieces->produced;
  u32 filled = pieces->kept;
  u32 capacity = pieces->kept + left, pauseAt = capacity;  // no pause: the stream must end
  if (left > pieces->windowSize - pieces->kept) {
    capacity = pieces->windowSize;
    pauseAt = pieces->windowSize - kLongestCode;
  }
  if (pieces->input) FeedStream(pieces, capacity - filled);
  int ok = ContinueStreamDecode(&pieces->decoder, pieces->window, &filled, pauseAt, capacity);
  if (ok) {
    pieces->piece = pieces->window + pieces->kept;
    pieces->pieceLength = filled - pieces->kept;
    pieces->produced += pieces->pieceLength;
    pieces->remaining = pieces->record->contentSize - pieces->produced;
    ok = pieces->decoder.ended ? pieces->remaining == 0 : pieces->pieceLength != 0;
  }
  if (!ok) pieces->failure = kPiecesDamaged;
  return ok;
}

// The next piece of a scrambled entry stored as it is: its bytes descrambled.
void DescramblePiece(ContentPieces* pieces) {
  pieces->piece = pieces->input;
  pieces->pieceLength = DescrambleNext(pieces, pieces->input, pieces->inputSize);
  pieces->produced += pieces->pieceLength;
  pieces->remaining = pieces->record->contentSize - pieces->produced;
}

// ResolveDynamicApi leaves the resource functions out of the table; they are
// looked up here, by names put together at run time, so none is imported.
struct ResourceApi {
  FindResourceFn find;
  SizeofResourceFn size;
  LoadResourceFn load;
  LockResourceFn lock;
};

int ResolveResourceApi(ResourceApi* api) {
  const LibraryHandle kernel = DynamicApi.ghLibKERNEL32dll;
  char name[64];
  OsFormat(name, sizeof name, "%s%s%s", "Find", "Resource", "A");
  api->find = (FindResourceFn)OsFindEntryPoint(kernel, name);
  OsFormat(name, sizeof name, "%s%s", "Sizeof", "Resource");
  api->size = (SizeofResourceFn)OsFindEntryPoint(kernel, name);
  OsFormat(name, sizeof name, "%s%s", "Load", "Resource");
  api->load = (LoadResourceFn)OsFindEntryPoint(kernel, name);
  OsFormat(name, sizeof name, "%s%s", "Lock", "Resource");
  api->lock = (LockResourceFn)OsFindEntryPoint(kernel, name);
  return api->find && api->size && api->load && api->lock;
}

}  // namespace

namespace {
// Resource `id` of type "UPDATE" of this module: its bytes and size, or null.
const u8* LoadUpdateResource(const ResourceApi* api, int id, u32* size) {
  void* info = api->find(ModuleInstance, kIntResource(id), kPackageResourceType);
  if (!info) return nullptr;
  const u32 bytes = api->size(ModuleInstance, info);
  if (!bytes) return nullptr;
  void* loaded = api->load(ModuleInstance, info);
  const u8* locked = loaded ? (const u8*)api->lock(loaded) : nullptr;
  if (locked) *size = bytes;
  return locked;
}
}  // namespace

const u8* LocatePackageResource(struct Package* package) {
  ResourceApi api;
  u32 size = 0;
  if (!ResolveResourceApi(&api)) return nullptr;
  const u8* bytes = LoadUpdateResource(&api, kPackageResourceId, &size);
  if (!bytes) return nullptr;
  package->size = size;
  package->digestSize = 0;
  package->digest = LoadUpdateResource(&api, kPackageDigestResourceId, &package->digestSize);
  return bytes;
}

PackageImage* OpenPackage(struct Package* package) {
  ClosePackage(package);
  PackageImage* image = package->size ? OpenMemoryPackage(package)
                                      : OpenFilePackage((const char*)package->source);
  if (!image) return nullptr;
  package->openedBytes = package->size ? package->source : nullptr;
  package->openedSize = package->size;
  package->image = image;
  return image;
}

void ClosePackage(struct Package* package) {
  OsFree(package->image);
  package->image = nullptr;
  package->openedBytes = nullptr;
  package->openedSize = 0;
}

// Data offsets are summed afresh on every call; OpenPackage has checked that
// every record lies before the directory, so the sum cannot wrap.
const PackageEntry* FindPackageRecord(const struct Package* package, const char* name,
                                      u32* dataOffset) {
  const PackageImage* image = package->image;
  if (!image || !name) return nullptr;
  u32 offset = kPackageHeaderSize;
  for (u32 i = 0; i < image->header.entryCount; ++i) {
    const PackageEntry* record = &image->entries[i];
    if (OsCompareNoCase(record->name, name) == 0) {
      if (dataOffset) *dataOffset = offset;
      return record;
    }
    offset += AlignedStoredSize(record->storedSize);
  }
  return nullptr;
}

// The content of `record`: descrambled when scrambled (descrambling comes
// first, since the scrambling lies over a compressed stream), then expanded
// when compressed. Points into the package when the entry needs neither
// step, else into a block kept until ReleasePackage. Null, with nothing
// left allocated, after one error box.
namespace {
const u8* KeptEntryContent(struct Package* package, const PackageEntry* record, u32 dataOffset) {
  const u8* stored = StoredBytes(package, record, dataOffset);
  if (!stored) return ReadFailed(kTextResourceReadError);
  const int compressed = (record->flags & kEntryFlagCompressed) != 0;
  u8* copy = nullptr;
  if (record->scrambled == kEntryScrambled) {
    // The copy is the content itself unless a stream still has to be expanded.
    copy = DescrambledCopy(stored, record->storedSize, !compressed);
    if (!copy) return nullptr;
    stored = copy;
  }
  u8* content = copy;
  if (compressed) {
    content = ExpandedContent(record, stored);
    OsFree(copy);
    if (!content) return nullptr;
  }
  if (!content) return stored;  // in place: neither scrambled nor compressed
  KeepContent(package, content);
  return content;
}
}  // namespace

// A scrambled entry is descrambled here as extraction does it: handing out
// scrambled bytes, or expanding a scrambled stream as it lies, would give
// the caller garbage. Its content is then a new block like a compressed one.
const u8* FindPackageEntry(struct Package* package, const char* name, u32* outSize) {
  u32 dataOffset = 0;
  const PackageEntry* record = FindPackageRecord(package, name, &dataOffset);
  if (!record) return ReadFailed(kTextNotFoundInResource);
  const u8* content = KeptEntryContent(package, record, dataOffset);
  if (content && outSize) *outSize = record->contentSize;
  return content;
}

void ReleasePackage(struct Package* package) {
  ClosePackage(package);
  ReleaseKeptBlocks(package);
  memset(package, 0, sizeof *package);
}

namespace {
int PiecesFail(ContentPieces* pieces, int failure) {
  CloseContentPieces(pieces);
  pieces->failure = failure;
  return 0;
}
}  // namespace

int OpenContentPieces(const struct Package* package, const PackageEntry* record, u32 dataOffset,
                      ContentPieces* pieces) {
  memset(pieces, 0, sizeof *pieces);
  pieces->record = record;
  pieces->stored = StoredBytes(package, record, dataOffset);
  if (!pieces->stored) return PiecesFail(pieces, kPiecesDamaged);
  const int compressed = (record->flags & kEntryFlagCompressed) != 0;
  if (compressed && ClaimsTooMuch(record)) return PiecesFail(pieces, kPiecesDamaged);
  if (record->scrambled == kEntryScrambled) {
    const u32 most = compressed ? kStreamInputSize : kContentPieceSize;
    pieces->inputSize = record->storedSize < most ? record->storedSize : most;
    pieces->input = (u8*)OsAlloc(pieces->inputSize);
    if (!pieces->input) return PiecesFail(pieces, kPiecesNoMemory);
  }
  if (!compressed) {  // stored: contentSize == storedSize
    if (pieces->input) {
      DescramblePiece(pieces);
      return 1;
    }
    pieces->piece = pieces->stored;
    pieces->pieceLength = record->contentSize;
    return 1;
  }
  pieces->windowSize =
      record->contentSize <= kWholeContentLimit ? record->contentSize : kContentWindowSize;
  pieces->window = (u8*)OsAlloc(pieces->windowSize);
  if (!pieces->window) return PiecesFail(pieces, kPiecesNoMemory);
  if (pieces->input) BeginStreamDecode(&pieces->decoder, pieces->input, 0);
  else BeginStreamDecode(&pieces->decoder, pieces->stored, record->storedSize);
  if (ExpandPiece(pieces)) return 1;
  return PiecesFail(pieces, kPiecesDamaged);
}

int NextContentPiece(ContentPieces* pieces) {
  if (!pieces->remaining) return 0;
  if (!pieces->window) {
    if (!pieces->input) return 0;
    DescramblePiece(pieces);
    return 1;
  }
  // The window moves on; the last kLongestReach bytes stay for the matches
  // of the next piece.
  const u32 filled = pieces->kept + pieces->pieceLength;
  const u32 keep = filled < kLongestReach ? filled : kLongestReach;
  memmove(pieces->window, pieces->window + filled - keep, keep);
  pieces->kept = keep;
  return ExpandPiece(pieces);
}

void CloseContentPieces(ContentPieces* pieces) {
  OsFree(pieces->window);
  OsFree(pieces->input);
  pieces->window = nullptr;
  pieces->input = nullptr;
  pieces->piece = nullptr;
  pieces->pieceLength = 0;
  pieces->remaining = 0;
}
