// INI files (GetPrivateProfileStringA).
#pragma once
#include "platform/base.h"

// Copies the value of `key` in `section` of the file at `path` into `out`
// (capacity `size`), cut to size - 1 characters and terminated, and returns
// the number of characters copied. A missing file, section or key gives
// `defaultValue` (cut the same way). Section and key names are compared
// without regard to case, blanks around them and around the value are
// dropped, only the first section of a name is searched and in it the first
// of repeated keys wins, a value in matching single or double quotes loses
// them, lines end at LF or CR, and lines starting with ';' define no key
// that a caller asks for.
u32 OsReadIniString(const char* section, const char* key, const char* defaultValue, char* out,
                    u32 size, const char* path);

#if !defined(_WIN32)
// The POSIX reader behind OsReadIniString, over a native path. The tests'
// simulation maps its Windows paths to host paths and reads through it too.
u32 PosixReadIniString(const char* section, const char* key, const char* defaultValue, char* out,
                       u32 size, const char* path);
#endif
