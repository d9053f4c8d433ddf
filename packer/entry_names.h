// What a package entry's name may be: names the updater writes as files
// below the folder a line names, and that the tools extract.
#pragma once
#include <string>

// Whether an entry name can be a file in the folder it is extracted to, on
// every system: not empty, not "." or "..", no folder separator or drive
// colon (looked at by cp932 characters, so a trail byte 0x5C separates
// nothing), no control character or other character Windows refuses in a
// name, and no device name (CON, NUL, COM1, ...).
bool IsBareEntryName(const std::string& cp932);
// The file an entry name becomes on Windows, as a key: ASCII letters folded
// (as the updater's lookup folds them) and trailing dots and blanks dropped
// (as Windows drops them). Two names with one key are one file there.
std::string WindowsFileKey(const std::string& cp932);
