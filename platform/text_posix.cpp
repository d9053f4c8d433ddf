// cp932 rules for the host build: lead bytes 0x81-0x9F and 0xE0-0xFC.
#include "platform/text.h"

int OsIsLeadByte(u8 value) { return (value >= 0x81 && value <= 0x9F) || (value >= 0xE0 && value <= 0xFC); }

const char* OsCharNext(const char* p) {
  if (!*p) return p;
  if (OsIsLeadByte((u8)*p) && p[1]) return p + 2;
  return p + 1;
}

static int FoldAscii(u8 c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

// Equal exactly when lstrcmpiA calls them equal for the names the updater
// compares: ASCII letters fold, double-byte characters compare whole. Each
// string's second byte is looked at only after its first byte matched a lead
// byte of the other, so neither is read past its terminator.
int OsCompareNoCase(const char* a, const char* b) {
  const u8* x = (const u8*)a;
  const u8* y = (const u8*)b;
  for (;;) {
    if (OsIsLeadByte(*x) && x[1]) {
      if (x[0] != y[0]) return (int)x[0] - (int)y[0];
      if (x[1] != y[1]) return (int)x[1] - (int)y[1];
      x += 2;
      y += 2;
      continue;
    }
    int cx = FoldAscii(*x), cy = FoldAscii(*y);
    if (cx != cy) return cx - cy;
    if (!cx) return 0;
    ++x;
    ++y;
  }
}
