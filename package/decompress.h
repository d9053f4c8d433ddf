// The package's stream format: LZ77 with 32-bit control words interleaved
// with the data bytes, literals, a two-byte match with its own distance code,
// a long match (3 to 282 bytes, distance 1 to 8192) and an explicit end code.
#pragma once
#include "platform/base.h"

// Expands the stream `source` (`sourceLength` bytes) into `destination`
// (`capacity` bytes). Returns 1 when the stream ends with its end code within
// both bounds; `*written` then holds the bytes produced and `*consumed` the
// stream bytes read, end code included (either pointer may be null). Returns
// 0 for a stream that is truncated, would write past `capacity`, or has a
// match reaching before the start of the output, and for a null `source` (or
// a null `destination` with a nonzero `capacity`).
// Never reads past source + sourceLength or writes past destination + capacity,
// whatever the stream holds. Bytes of the destination past `*written` (all of
// them on 0) may have been changed: size the destination to the expanded size
// and compare `*written` with it. The two buffers must not overlap.
int DecompressBlock(u8* destination, u32 capacity, const u8* source, u32 sourceLength,
                    u32* written, u32* consumed);
