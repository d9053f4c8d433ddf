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

// The longest output of one code: a stream paused at a code boundary has
// written at most this many bytes past the point where it was asked to stop.
enum : u32 { kLongestCode = 282, kLongestReach = 8192 };

// A stream expanded a piece at a time into a window that the caller moves
// along, for content too large to hold whole. Fields are the decoder's own.
struct StreamDecoder {
  const u8* input;     // the part of the stream at hand
  const u8* position;  // next byte to read, within it
  const u8* inputEnd;
  u32 consumedBefore;  // stream bytes read before `input`
  u32 control;         // unread bits of the current control word, then a marker bit
  u32 ended;           // the end code has been read
  u32 failed;          // the stream was refused; nothing more is expanded
};

// Starts `decoder` on the stream `source` (`sourceLength` bytes, or only its
// first bytes when the rest is handed over later with MoveStreamInput).
// Returns 1, or 0 for a null decoder or source.
int BeginStreamDecode(StreamDecoder* decoder, const u8* source, u32 sourceLength);

// Hands the decoder the stream from its read position on at `input`
// (`length` bytes): the unread bytes it had, moved or not, and more after
// them. For a stream that is made ready a piece at a time (descrambled) in
// a buffer of its own.
void MoveStreamInput(StreamDecoder* decoder, const u8* input, u32 length);

// Stream bytes read so far, the end code included once it has been read.
u32 StreamBytesConsumed(const StreamDecoder* decoder);

// Expands the stream further into `window`, from `*filled` on. The `*filled`
// bytes before that must be the output so far, or at least its last
// kLongestReach bytes: no match may reach before `window`. Stops at the
// first code boundary where the output reaches `pauseAt` (at once when
// `*filled` is `pauseAt`), or at the end code (then `decoder->ended` is 1);
// with `pauseAt` equal to `capacity` it never pauses, so the stream must end
// within `capacity`. A pause leaves at most kLongestCode - 1 bytes past
// `pauseAt`: keep `capacity` at least kLongestCode above a `pauseAt` that is
// to pause. Returns 1 with `*filled` advanced, or 0 for a stream that is
// truncated, runs past `capacity` or reaches before `window`, for `*filled`
// > `pauseAt` or `pauseAt` > `capacity`, and once the stream has ended or
// failed. A stream whose input at hand runs out counts as truncated, so
// hand over enough first (MoveStreamInput): a code reads at most 9 bits per
// byte it writes and a control word is taken whole, so expanding n bytes
// reads at most n * 9 / 8 + 8 bytes. Reads only within the input at hand and
// writes only within `window` + `capacity`.
int ContinueStreamDecode(StreamDecoder* decoder, u8* window, u32* filled, u32 pauseAt, u32 capacity);
