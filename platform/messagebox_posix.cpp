// Linux has no message boxes. A box is a line on standard error, its text
// turned from cp932 into UTF-8, and it counts as not shown (0): whoever
// asked gets no OK.
#include "platform/messagebox.h"

#include <iconv.h>
#include <stdio.h>
#include <string.h>

namespace {
MessageBoxSink Sink;

void PrintCp932(const char* text) {
  iconv_t convert = iconv_open("UTF-8", "CP932");
  if (convert == (iconv_t)-1) {
    fputs(text, stderr);
    return;
  }
  char buffer[4 * kTextSize];
  char* in = (char*)text;
  size_t inLeft = strnlen(text, kTextSize);
  char* out = buffer;
  size_t outLeft = sizeof buffer - 1;
  while (inLeft && iconv(convert, &in, &inLeft, &out, &outLeft) == (size_t)-1 && outLeft > 3) {
    // A byte that is no cp932 is shown as U+FFFD and passed over.
    memcpy(out, "\xEF\xBF\xBD", 3);
    out += 3;
    outLeft -= 3;
    ++in;
    --inLeft;
  }
  *out = 0;
  iconv_close(convert);
  fputs(buffer, stderr);
}
}  // namespace

void OsSetMessageBoxSink(MessageBoxSink sink) { Sink = sink; }

int OsMessageBox(WindowHandle owner, const char* text, const char* caption, u32 flags) {
  (void)owner;
  if (Sink) return Sink(text, caption, flags);
  PrintCp932(caption ? caption : "");
  fputs(": ", stderr);
  PrintCp932(text ? text : "");
  fputc('\n', stderr);
  return 0;
}
