// SHA-256, for the package digest that a publisher's tool stores beside the
// package (resource "UPDATE" 103) and the updater checks before using it,
// and for the old and new files of a patch, hashed a window at a time.
#pragma once
#include "platform/base.h"

enum { kSha256Size = 32 };

// Writes the SHA-256 of `length` bytes at `data` into `digest`.
void Sha256(const void* data, u32 length, u8 digest[kSha256Size]);

// A hash taken over bytes handed over a piece at a time: Sha256Begin, any
// number of Sha256Update calls, Sha256End. The pieces may have any length;
// the digest is that of their concatenation. Fields are the hash's own.
struct Sha256State {
  u32 state[8];
  u64 length;      // bytes handed over so far
  u8 pending[64];  // the start of a block not yet complete
};

void Sha256Begin(Sha256State* hash);
void Sha256Update(Sha256State* hash, const void* data, u32 length);
// Writes the digest; `hash` must be begun again before it is used further.
void Sha256End(Sha256State* hash, u8 digest[kSha256Size]);
