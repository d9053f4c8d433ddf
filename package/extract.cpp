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

// The newer-file rule: 1 when the file at `path` was last written strictly
// after `entryTime`. A file that cannot be opened or timed counts as older.
int ExistingIsNewer(const char* path, const FileTime* entryTime) {
  FileHandle file = OpenFileForRead(path);
  if (file == kInvalidFile) return 0;
  FileTime written;
  int newer = OsGetFileTime(file, nullptr, nullptr, &written) &&
              FileTimeValue(&written) > FileTimeValue(entryTime);
  OsCloseFile(file);
  return newer;
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

// Writes or keeps the destination according to what is there now.
int PlaceContent(const char* path, ContentPieces* pieces, const PackageEntry* record, int keepNewer) {
  const FileTime modified = {record->modifiedLow, record->modifiedHigh};
  const u32 attributes = OsGetFileAttributes(path);
  if (attributes != kNoAttributes) {
    if (attributes & kAttrDirectory) return 0;
    // Cleared before the newer-file rule: a kept file loses read-only too.
    if (attributes & kAttrReadOnly) OsSetFileAttributes(path, kAttrNormal);
  }
  // Asked of the file itself: attributes that could not be read do not
  // make a newer file older.
  if (keepNewer && ExistingIsNewer(path, &modified)) return 1;
  return WritePieces(path, pieces, &modified);
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
  if (!CheckFreeSpace(destinationPath, record->contentSize)) return 0;
  ContentPieces pieces;
  int result = OpenContentPieces(package, record, dataOffset, &pieces);
  if (result) result = PlaceContent(destinationPath, &pieces, record, keepNewer);
  CloseContentPieces(&pieces);
  if (pieces.failure) ShowError(pieces.failure == kPiecesNoMemory ? kTextNoMemory
                                                                  : kTextResourceReadError);
  return result;
}

int WriteFileWithTime(const char* path, const void* buffer, u32 length, const FileTime* time) {
  if (!buffer && length) return 0;
  ContentPieces whole;
  memset(&whole, 0, sizeof whole);
  whole.piece = (const u8*)buffer;
  whole.pieceLength = length;
  return WritePieces(path, &whole, time);
}
