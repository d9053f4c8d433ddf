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
int ExtractPackageEntry(const struct Package* package, const char* name,
                        const char* destinationPath, int keepNewer);

// Creates `path` with `length` bytes of `buffer`, times set to `*time` when
// given. The bytes go to a temporary file in the same folder that then
// replaces `path` in one step once its bytes are flushed to the disk, so a
// failure leaves any earlier file as it was and no partial file behind.
// Returns 1 or 0.
int WriteFileWithTime(const char* path, const void* buffer, u32 length, const FileTime* time);
