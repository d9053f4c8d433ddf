#include "flow/info_text.h"

#include <stdarg.h>

#include "flow/records.h"
#include "platform/format.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace {
// A cut that fell between the two bytes of a character would leave a lone
// lead byte at the end; it goes too.
void DropPartialCharacter(char* text) {
  for (char* p = text; *p;) {
    char* next = (char*)OsCharNext(p);
    if (!*next && next == p + 1 && OsIsLeadByte((u8)*p)) *p = 0;
    if (next <= p) break;
    p = next;
  }
}
}  // namespace

void SetInfoText(WindowHandle dialog, const char* format, ...) {
  char text[kTextSize];
  va_list args;
  va_start(args, format);
  const int length = OsFormatV(text, sizeof text, format, args);
  va_end(args);
  if (length >= (int)sizeof text - 1) DropPartialCharacter(text);
  OsSetDlgItemText(dialog, kIdInfo, text);
}
