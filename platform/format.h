// Text formatting with the wsprintfA conversions: %s %c %d %i %u %x %X with
// the flags '-', '0', a width and a precision, and %%. No floating point and
// no 64-bit conversions.
#pragma once
#include <stdarg.h>
#include "platform/base.h"

// Formats into `out` (capacity `size` bytes, 1 to 1024); output that does not
// fit is cut, and the result is always terminated. Returns the number of
// characters written, terminator not counted.
int OsFormatV(char* out, u32 size, const char* format, va_list args);
int OsFormat(char* out, u32 size, const char* format, ...);
