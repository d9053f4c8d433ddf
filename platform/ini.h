// INI files (GetPrivateProfileStringA).
#pragma once
#include "platform/base.h"

// Copies the value of `key` in `section` of the file at `path` into `out`
// (capacity `size`), cut to size - 1 characters and terminated, and returns
// the number of characters copied. A missing file, section or key gives
// `defaultValue` (cut the same way). Section and key names are compared
// without regard to case, blanks around them and around the value are
// dropped, the first of repeated keys wins, a value in matching double
// quotes loses them, and lines starting with ';' are comments.
u32 OsReadIniString(const char* section, const char* key, const char* defaultValue, char* out,
                    u32 size, const char* path);
