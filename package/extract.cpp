// Writing package entries to disk. A file is never written in place: the
// content goes to a temporary file in the destination's folder, which then
// takes the destination's place in one step, so a failed write or time
// stamp, or a stream found damaged halfway, leaves the user's earlier file
// exactly as it was. A large compressed entry is expanded and written a
// window at a time, so its whole content never has to fit in memory.
#include "package/extract.h"

#include <string.h>

#include "runtime/run_state.h"
#include "package/entry_content.h"
#include "package/package.h"
#include "package/patch.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/memory.h"
#include "platform/text.h"
#include "texts.h"

namespace {

const char kTempPrefix[] = "QK2";

// 1 when `path` fits a kPathSize buffer with its terminator.
int PathFits(const char* path) { return path && memchr(path, 0, kPathSize) != nullptr; }

int IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// `value` in decimal into `out` (at least 21 bytes): the shortfall may pass
// 2 GiB, which the platform formatter's 32-bit %i would print negative.
void FormatDecimal(u64 value, char* out) {
  char reversed[20];
  int count = 0;
  do {
    reversed[count++] = (char)('0' + value % 10);
    value /= 10;
  } while (value);
  for (int i = 0; i < count; ++i) out[i] = reversed[count - 1 - i];
  out[count] = 0;
}

// The free-space rule: the destination drive must have `needed` bytes free.
// A path without a drive letter (a network path) or a drive that cannot be
// asked has no count to compare with, so it passes; the write itself will
// tell. Returns 0 after the shortage box.
int CheckFreeSpace(const char* path, u32 needed) {
  char root[kPathSize];
  u64 freeBytes = 0;
  if (!IsDriveLetter(path[0]) || path[1] != ':') return 1;
  root[0] = path[0];
  root[1] = ':';
  root[2] = 0;
  if (!OsGetDiskFreeSpace(root, &freeBytes) || needed <= freeBytes) return 1;
  char shortfall[24];
  char message[kTextSize];
  FormatDecimal(needed - freeBytes, shortfall);
  OsFormat(message, sizeof message, kTextDiskShortExtract, root, shortfall);
  ShowError(message);
  return 0;
}

// The existing file's last-write time into `*written`; 0 when it cannot
// be opened or timed (the newer-file rule then counts it as older).
int ExistingWriteTime(const char* path, FileTime* written) {
  FileHandle file = OpenFileForRead(path);
  if (file == kInvalidFile) return 0;
  const int timed = OsGetFileTime(file, nullptr, nullptr, written);
  OsCloseFile(file);
  return timed;
}

// The folder part of `path`, with its trailing backslash, into `folder`
// (kPathSize bytes); "." for a bare name, "C:" for "C:name". Walks by
// characters, so a cp932 trail byte 0x5C is never taken for a backslash.
void FolderOf(const char* path, char* folder) {
  const char* cut = path;
  for (const char* p = path; *p; p = OsCharNext(p)) {
    if (*p == '\\' || *p == '/') cut = p + 1;
    else if (*p == ':' && p == path + 1) cut = p + 1;
  }
  const size_t length = (size_t)(cut - path);
  if (!length) {
    memcpy(folder, ".", 2);
    return;
  }
  memcpy(folder, path, length);
  folder[length] = 0;
}

// Creates the temporary file's content and times: every piece, each
// written before the next is expanded. The content is flushed to the disk
// before the temporary takes the destination's place, so that a power cut
// just after the update cannot leave a replaced file without its bytes.
// 1 when all of it held.
int FillTemporary(const char* temp, ContentPieces* pieces, const FileTime* time) {
  FileHandle file = CreateFileForWrite(temp);
  if (file == kInvalidFile) return 0;
  int ok = WriteExactly(file, pieces->piece, pieces->pieceLength);
  while (ok && pieces->remaining) {
    ok = NextContentPiece(pieces) && WriteExactly(file, pieces->piece, pieces->pieceLength);
  }
  if (ok && time) ok = OsSetFileTime(file, time, time, time);
  if (ok) ok = OsFlushFile(file);
  // A failed close can mean data that never reached the disk.
  if (!OsCloseFile(file)) ok = 0;
  return ok;
}

// Creates `path` from every piece of `pieces` through a temporary file
// beside it, which replaces `path` once all of it is on the disk. 1 or 0.
int WritePieces(const char* path, ContentPieces* pieces, const FileTime* time) {
  char folder[kPathSize];
  char temp[kPathSize];
  if (!PathFits(path)) return 0;
  FolderOf(path, folder);
  if (!OsCreateTempFile(folder, kTempPrefix, temp)) return 0;
  if (!FillTemporary(temp, pieces, time) || !OsReplaceFile(temp, path)) {
    OsDeleteFile(temp);
    return 0;
  }
  // The temporary may have been given attributes of its own (archive).
  OsSetFileAttributes(path, kAttrNormal);
  return 1;
}

// Read-only goes before the destination is written or kept (a kept file
// loses it too). Attributes that could not be read may hide it, and a
// read-only file refuses to be replaced: a file about to be written is
// then made normal all the same.
void ClearReadOnly(const char* path, const struct DestinationState* seen, int verdict) {
  const int unknown = seen->attributes == kNoAttributes && verdict == kDestinationWritten;
  if (unknown || (seen->attributes != kNoAttributes && (seen->attributes & kAttrReadOnly)))
    OsSetFileAttributes(path, kAttrNormal);
}

// Writes or keeps the destination according to what is there now.
int PlaceContent(const char* path, ContentPieces* pieces, const PackageEntry* record, int keepNewer) {
  const FileTime modified = {record->modifiedLow, record->modifiedHigh};
  struct DestinationState seen;
  const int verdict = JudgeDestination(path, &modified, keepNewer, &seen);
  if (verdict == kDestinationIsFolder) return 0;
  ClearReadOnly(path, &seen, verdict);
  if (verdict == kDestinationKeptNewer) return 1;
  return WritePieces(path, pieces, &modified);
}

// ---- patch entries

// The name of a patch entry's whole copy (kWholeCopySuffix added) into
// `out` (kPathSize bytes). 0 when it does not fit.
int WholeFallbackName(const char* name, char* out) {
  const size_t length = strnlen(name, kPathSize);
  if (length + sizeof kWholeCopySuffix > kPathSize) return 0;
  memcpy(out, name, length);
  memcpy(out + length, kWholeCopySuffix, sizeof kWholeCopySuffix);
  return 1;
}

int ReadInstalled(void* context, u32 offset, u8* to, u32 length) {
  FileHandle file = (FileHandle)context;
  return OsSeekFile(file, offset) && ReadExactly(file, to, length);
}

int WritePatched(void* context, const u8* bytes, u32 length) {
  return WriteExactly((FileHandle)context, bytes, length);
}

// The result of source `index` into the temporary file `temp`, stamped
// and on the disk. 1 when all of it held and its SHA-256 was the one due.
int FillPatched(const char* temp, const u8* patch, u32 length, int index,
                struct PatchFiles* files, const FileTime* time) {
  FileHandle out = CreateFileForWrite(temp);
  if (out == kInvalidFile) return 0;
  files->newContext = out;
  int ok = ApplyPatch(patch, length, (u32)index, files) && OsSetFileTime(out, time, time, time) &&
           OsFlushFile(out);
  if (!OsCloseFile(out)) ok = 0;
  return ok;
}

// The new file from the installed one (`files`, open) by source `index`,
// through a temporary file beside `path` that replaces it in one step. The
// installed file is closed first: Windows refuses to replace an open file.
// 1, or 0 with the destination as it was and no temporary file left.
int ApplyIntoTemporary(const char* path, const u8* patch, u32 length, int index,
                       struct PatchFiles* files, const FileTime* time) {
  char folder[kPathSize];
  char temp[kPathSize];
  FolderOf(path, folder);
  const int created = OsCreateTempFile(folder, kTempPrefix, temp);
  int ok = created && FillPatched(temp, patch, length, index, files, time);
  OsCloseFile((FileHandle)files->oldContext);
  files->oldContext = nullptr;
  if (ok) ok = OsReplaceFile(temp, path);
  if (!ok) {
    if (created) OsDeleteFile(temp);
    return 0;
  }
  OsSetFileAttributes(path, kAttrNormal);
  return 1;
}

// Which source the installed file at `path` is, with the file left open in
// `files` when it is one (closed otherwise). A missing file is no source.
int IdentifyInstalled(const char* path, const u8* patch, u32 length, struct PatchFiles* files,
                      int* noMemory) {
  memset(files, 0, sizeof *files);
  files->noMemory = noMemory;
  FileHandle file = OpenFileForRead(path);
  if (file == kInvalidFile) return OsGetFileAttributes(path) == kNoAttributes ? kPatchNoSource
                                                                             : kPatchCannotRead;
  files->oldSize = OsGetFileSize(file);
  files->readOld = ReadInstalled;
  files->oldContext = file;
  files->writeNew = WritePatched;
  const int found = files->oldSize == kInvalidFileSize ? kPatchCannotRead
                                                      : FindPatchSource(patch, length, files);
  if (found < 0) {
    OsCloseFile(file);
    files->oldContext = nullptr;
  }
  return found;
}

// Ends a use of `pieces`: released, and a failure to make them told.
// Returns `result`.
int ClosePieces(ContentPieces* pieces, int result) {
  CloseContentPieces(pieces);
  if (pieces->failure) ShowError(pieces->failure == kPiecesNoMemory ? kTextNoMemory
                                                                    : kTextResourceReadError);
  return result;
}

// An entry that is the file itself: the free space for its content, then
// written or kept as what is there decides.
int PlaceWholeEntry(const struct Package* package, const PackageEntry* record, u32 dataOffset,
                    const char* path, int keepNewer) {
  if (!CheckFreeSpace(path, record->contentSize)) return 0;
  ContentPieces pieces;
  const int result = OpenContentPieces(package, record, dataOffset, &pieces) &&
                     PlaceContent(path, &pieces, record, keepNewer);
  return ClosePieces(&pieces, result);
}

// The whole copy a patch entry may carry, written as any entry is; without
// one, the box that the installed file is some other version.
int PlaceWholeFallback(const struct Package* package, const char* name, const char* path) {
  char wholeName[kPathSize];
  u32 dataOffset = 0;
  const PackageEntry* whole =
      WholeFallbackName(name, wholeName) ? FindPackageRecord(package, wholeName, &dataOffset) : nullptr;
  if (whole && !(whole->flags & kEntryFlagPatch))
    return PlaceWholeEntry(package, whole, dataOffset, path, 0);
  char text[kTextSize];
  OsFormat(text, sizeof text, kTextNotThisVersion, path);
  ShowError(text);
  return 0;
}

// A patch entry whose container is `patch`: the destination judged as any
// entry's, then made from the installed file, left alone when it already is
// the new file, or written whole from the fallback.
int PlacePatched(const struct Package* package, const char* name, const char* path,
                 const u8* patch, u32 length, const PackageEntry* record, int keepNewer) {
  const FileTime modified = {record->modifiedLow, record->modifiedHigh};
  PatchHeader header;
  memcpy(&header, patch, sizeof header);
  if (!CheckFreeSpace(path, header.newSize)) return 0;
  struct DestinationState seen;
  const int verdict = JudgeDestination(path, &modified, keepNewer, &seen);
  if (verdict == kDestinationIsFolder) return 0;
  ClearReadOnly(path, &seen, verdict);
  if (verdict == kDestinationKeptNewer) return 1;
  struct PatchFiles files;
  int noMemory = 0;
  const int index = IdentifyInstalled(path, patch, length, &files, &noMemory);
  if (index == kPatchAlreadyNew) return 1;
  if (index == kPatchNoSource) return PlaceWholeFallback(package, name, path);
  if (index >= 0 && ApplyIntoTemporary(path, patch, length, index, &files, &modified)) return 1;
  if (noMemory) ShowError(kTextNoMemory);
  return 0;
}

// The container of a patch entry must lie whole in one piece: the packer
// stores it as it is, so it is read where it lies.
int PlacePatchEntry(const struct Package* package, const char* name, const char* path,
                    const PackageEntry* record, u32 dataOffset, int keepNewer) {
  ContentPieces pieces;
  int result = OpenContentPieces(package, record, dataOffset, &pieces);
  if (result && (pieces.remaining || !CheckPatchContainer(pieces.piece, pieces.pieceLength))) {
    pieces.failure = kPiecesDamaged;
    result = 0;
  }
  if (result) result = PlacePatched(package, name, path, pieces.piece, pieces.pieceLength, record,
                                    keepNewer);
  return ClosePieces(&pieces, result);
}

}  // namespace

int ExtractPackageEntry(const struct Package* package, const char* name,
                        const char* destinationPath, int keepNewer) {
  u32 dataOffset = 0;
  const PackageEntry* record = FindPackageRecord(package, name, &dataOffset);
  if (!record) {
    ShowError(kTextNotFoundInResource);
    return 0;
  }
  if (!PathFits(destinationPath)) return 0;
  if (record->flags & kEntryFlagPatch)
    return PlacePatchEntry(package, name, destinationPath, record, dataOffset, keepNewer);
  return PlaceWholeEntry(package, record, dataOffset, destinationPath, keepNewer);
}

int JudgeDestination(const char* path, const FileTime* entryTime, int keepNewer,
                     struct DestinationState* seen) {
  memset(seen, 0, sizeof *seen);
  seen->attributes = OsGetFileAttributes(path);
  if (seen->attributes != kNoAttributes && (seen->attributes & kAttrDirectory))
    return kDestinationIsFolder;
  // Asked of the file itself even when its attributes could not be read:
  // that does not make a newer file older.
  if (!keepNewer) return kDestinationWritten;
  seen->haveTime = ExistingWriteTime(path, &seen->written);
  const int newer = seen->haveTime && FileTimeValue(&seen->written) > FileTimeValue(entryTime);
  return newer ? kDestinationKeptNewer : kDestinationWritten;
}

int FindInstalledPatchSource(const char* path, const u8* patch, u32 length) {
  if (!CheckPatchContainer(patch, length)) return kPatchCannotRead;
  struct PatchFiles files;
  const int found = IdentifyInstalled(path, patch, length, &files, nullptr);
  if (found >= 0) OsCloseFile((FileHandle)files.oldContext);
  return found;
}

int WriteFileWithTime(const char* path, const void* buffer, u32 length, const FileTime* time) {
  if (!buffer && length) return 0;
  ContentPieces whole;
  memset(&whole, 0, sizeof whole);
  whole.piece = (const u8*)buffer;
  whole.pieceLength = length;
  return WritePieces(path, &whole, time);
}
