// The wsprintfA conversions for the host build: %s %c %d %i %u %x %X with
// the flags '-', '0' and '#', a width and a precision, the size prefixes 'l'
// and 'h', and %%. Output stops at 1024 bytes, as wvsprintfA's does.
#include "platform/format.h"

namespace {
struct Output {
  char* out;
  u32 capacity;  // characters that fit before the terminator
  u32 length;
  void Put(char c) {
    if (length < capacity) out[length] = c;
    if (length < capacity) ++length;
  }
  void Repeat(char c, int count) {
    for (int i = 0; i < count; ++i) Put(c);
  }
};

int Digits(char* buffer, unsigned long value, unsigned base, int upper) {
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  int n = 0;
  do {
    buffer[n++] = set[value % base];
    value /= base;
  } while (value);
  return n;  // reversed
}
}  // namespace

int OsFormatV(char* out, u32 size, const char* format, va_list args) {
  if (!size) return 0;
  if (size > 1024) size = 1024;
  Output o{out, size - 1, 0};
  for (const char* p = format; *p; ++p) {
    if (*p != '%') {
      o.Put(*p);
      continue;
    }
    ++p;
    int left = 0, zero = 0, hash = 0;
    for (;; ++p) {
      if (*p == '-') left = 1;
      else if (*p == '0') zero = 1;
      else if (*p == '#') hash = 1;
      else break;
    }
    int width = 0;
    while (*p >= '0' && *p <= '9') width = width * 10 + (*p++ - '0');
    int precision = -1;
    if (*p == '.') {
      precision = 0;
      ++p;
      while (*p >= '0' && *p <= '9') precision = precision * 10 + (*p++ - '0');
    }
    while (*p == 'l' || *p == 'h') ++p;
    if (!*p) break;
    char digits[24];
    int count = 0, negative = 0;
    const char* prefix = "";
    switch (*p) {
      case 's': {
        const char* s = va_arg(args, const char*);
        if (!s) s = "(null)";
        int n = 0;
        while (s[n] && (precision < 0 || n < precision)) ++n;
        if (!left) o.Repeat(' ', width - n);
        for (int i = 0; i < n; ++i) o.Put(s[i]);
        if (left) o.Repeat(' ', width - n);
        continue;
      }
      case 'c': {
        char c = (char)va_arg(args, int);
        if (!left) o.Repeat(' ', width - 1);
        o.Put(c);
        if (left) o.Repeat(' ', width - 1);
        continue;
      }
      case 'd':
      case 'i': {
        long value = va_arg(args, int);
        unsigned long magnitude = value < 0 ? 0ul - (unsigned long)value : (unsigned long)value;
        negative = value < 0;
        count = Digits(digits, (unsigned long)(u32)magnitude, 10, 0);
        break;
      }
      case 'u':
        count = Digits(digits, va_arg(args, unsigned), 10, 0);
        break;
      case 'x':
      case 'X': {
        unsigned value = va_arg(args, unsigned);
        count = Digits(digits, value, 16, *p == 'X');
        if (hash && value) prefix = *p == 'X' ? "0X" : "0x";
        break;
      }
      default:
        o.Put(*p);  // "%%" and unknown conversions print the character
        continue;
    }
    int zeros = precision > count ? precision - count : 0;
    int prefixLength = 0;
    while (prefix[prefixLength]) ++prefixLength;
    int total = count + zeros + negative + prefixLength;
    if (!left && zero && precision < 0) {
      zeros += width > total ? width - total : 0;
      total = width > total ? width : total;
    }
    if (!left) o.Repeat(' ', width - total);
    if (negative) o.Put('-');
    for (int i = 0; i < prefixLength; ++i) o.Put(prefix[i]);
    o.Repeat('0', zeros);
    while (count) o.Put(digits[--count]);
    if (left) o.Repeat(' ', width - total);
  }
  out[o.length] = 0;
  return (int)o.length;
}

int OsFormat(char* out, u32 size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int length = OsFormatV(out, size, format, args);
  va_end(args);
  return length;
}
