// SHA-256, for the package digest that a publisher's tool stores beside the
// package (resource "UPDATE" 103) and the updater checks before using it.
#pragma once
#include "platform/base.h"

enum { kSha256Size = 32 };

// Writes the SHA-256 of `length` bytes at `data` into `digest`.
void Sha256(const void* data, u32 length, u8 digest[kSha256Size]);
