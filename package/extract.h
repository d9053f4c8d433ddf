// Writing package entries to disk.
#pragma once
#include "platform/base.h"

struct Package;

// Writes entry `name` of the opened `package` to `destinationPath`,
// descrambled and expanded, with the entry's time stamp. With `keepNewer`, an existing file whose last-write
// time is later than the entry's stays and the result is 1. Returns 1 when
// written or kept, 0 on failure: after an error box for a missing entry, a
// drive too full, no memory or a damaged stream; silently for a destination
// that is a folder, a path too long, or a failed write (the caller reports).
// Content larger than about 1 MiB is expanded and written a window at a
// time: damage further into its stream is found while the temporary file is
// being written, which is then deleted, leaving the destination as it was
// (a read-only attribute already cleared stays cleared); when a newer file
// is kept, such damage goes unnoticed and the result is 1.
// A patch entry (kEntryFlagPatch) is judged the same way, against the new
// file's size for the free space; then the installed file is identified by
// size and SHA-256: one of the patch's sources is patched, a window at a
// time, into a temporary file that replaces it once the result's SHA-256 is
// the new file's; the new file itself is left as it is (result 1); anything
// else, a missing file included, is written from the whole copy stored as
// "<name>|whole" when the package has one, and otherwise fails after the box
// that the installed file is not the version the update was made for.
int ExtractPackageEntry(const struct Package* package, const char* name,
                        const char* destinationPath, int keepNewer);

// What placing an entry stamped `entryTime` at `path` does, judged as
// ExtractPackageEntry judges it once the entry, the path and the free space
// have passed, without changing anything (the tools' preview asks the same).
// A folder there fails the write; with `keepNewer`, the newer-file rule: an
// existing file last written strictly after `entryTime` is kept (one that
// cannot be opened or timed counts as older). `seen` gets what was found.
enum DestinationVerdict { kDestinationIsFolder, kDestinationWritten, kDestinationKeptNewer };
struct DestinationState {
  u32 attributes;    // kNoAttributes when nothing is there
  int haveTime;      // `written` holds the existing file's last-write time
  FileTime written;  // read only for the newer-file rule
};
int JudgeDestination(const char* path, const FileTime* entryTime, int keepNewer,
                     struct DestinationState* seen);

// Which source of patch container `patch` the file at `path` is, as a
// patch entry's placement finds it: the source's index, or kPatchNoSource
// (also for a missing file), kPatchAlreadyNew, kPatchCannotRead (package/
// patch.h). Reads the file; changes nothing.
int FindInstalledPatchSource(const char* path, const u8* patch, u32 length);

// Creates `path` with `length` bytes of `buffer`, times set to `*time` when
// given. The bytes go to a temporary file in the same folder that then
// replaces `path` in one step once its bytes are flushed to the disk, so a
// failure leaves any earlier file as it was and no partial file behind.
// Returns 1 or 0.
int WriteFileWithTime(const char* path, const void* buffer, u32 length, const FileTime* time);
