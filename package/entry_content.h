// Reading one entry's content out of the opened package a piece at a time,
// for extraction (extract.cpp); the package module (package.cpp) reads it.
#pragma once
#include "package/decompress.h"
#include "package/format.h"
#include "platform/base.h"

// An entry's content handed out a piece at a time, for writing to disk: a
// compressed entry larger than one window is expanded a window at a time,
// and a scrambled one is descrambled a piece at a time, so neither its whole
// content nor its whole stored bytes ever need a block, and each piece can
// be written while the next is made. Content up to kWholeContentLimit bytes
// comes as one piece, made in full before OpenContentPieces returns.
enum : u32 {
  kContentPieceSize = 1u << 20,
  // The window: kLongestReach bytes of history, a piece, room past the pause.
  kContentWindowSize = kLongestReach + kContentPieceSize + kLongestCode,
  kWholeContentLimit = kContentWindowSize,
  // Descrambled stream bytes at hand: what filling a whole window can read
  // (9 bits a byte, and a control word), with room to spare.
  kStreamInputSize = kContentWindowSize + kContentWindowSize / 8 + 128,
};

// Why a piece could not be made.
enum PiecesFailure { kPiecesOk = 0, kPiecesNoMemory = 1, kPiecesDamaged = 2 };

struct ContentPieces {
  const u8* piece;       // the current piece
  u32 pieceLength;
  u32 remaining;         // content bytes after the current piece
  int failure;           // a PiecesFailure, set when an operation returns 0
  // The reader's own.
  const PackageEntry* record;
  const u8* stored;      // the stored bytes, in the package
  u8* input;             // descrambled stored bytes of a scrambled entry, or null
  u32 inputSize;
  u32 fed;               // stored bytes descrambled into `input` so far
  u8* window;            // expansion window of a compressed entry, or null
  u32 windowSize;
  u32 kept;              // history bytes at the window's start
  u32 produced;          // content bytes handed out so far, the current piece included
  StreamDecoder decoder;
};

struct Package;

// Opens the content of `record` of the opened `package` (stored bytes
// `dataOffset` bytes into it) and makes its first piece current. An entry
// neither compressed nor scrambled is one piece pointing into the package.
// Returns 1, or 0 with `failure` set and nothing left allocated: no memory,
// or damage (a package opened in the file form, which has no content at
// hand, a content size no stream of the stored size can give, a stream found
// damaged). Shows nothing: the caller tells the user.
int OpenContentPieces(const struct Package* package, const PackageEntry* record, u32 dataOffset,
                      ContentPieces* pieces);

// Makes the next piece current (call only while `remaining` is nonzero).
// Returns 1, or 0 with `failure` kPiecesDamaged for a stream found damaged
// further on. A stream that does not end exactly after `contentSize` bytes is
// damaged; the last piece is handed out only after its end code has been
// read.
int NextContentPiece(ContentPieces* pieces);

// Releases what OpenContentPieces allocated; safe after a failed open.
void CloseContentPieces(ContentPieces* pieces);
