// Text encodings for the tools and the tests, never the updater: cp932 as the
// updater reads its texts and names, UTF-8 as a Linux terminal shows them.
#pragma once
#include <string>

// A byte that starts a two-byte cp932 character.
inline bool IsCp932LeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

#if !defined(_WIN32)
// Converts `text` from the iconv encoding `from` to `to` ("CP932",
// "UTF-8"). Returns false, leaving `*out` as it was, when any of the text
// does not convert or iconv knows neither encoding.
bool ConvertText(const char* to, const char* from, const std::string& text, std::string* out);
#endif
