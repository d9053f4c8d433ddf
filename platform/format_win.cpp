#include "platform/format.h"

#include <string.h>
#include <windows.h>

int OsFormatV(char* out, u32 size, const char* format, va_list args) {
  if (!size) return 0;
  // wvsprintfA never writes more than 1024 bytes; cut that to the caller's size.
  char whole[1025];
  int length = wvsprintfA(whole, format, args);
  if (length < 0) length = 0;
  if ((u32)length >= size) length = (int)size - 1;
  memcpy(out, whole, (size_t)length);
  out[length] = 0;
  return length;
}

int OsFormat(char* out, u32 size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int length = OsFormatV(out, size, format, args);
  va_end(args);
  return length;
}
