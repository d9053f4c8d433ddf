// cp932 text for the tools (the updater's own code uses text.h): whether
// bytes are one character of cp932, and cp932 text in UTF-8.
#pragma once

#include <cstddef>
#include <string>

// Whether the `length` bytes at `bytes` (1 or 2) are one valid cp932
// character.
bool IsCp932Character(const char* bytes, size_t length);
// `cp932` in UTF-8; bytes that are no cp932 become U+FFFD, each costing only
// itself.
std::string Cp932ToUtf8(const std::string& cp932);
