#include "platform/text.h"

#include <windows.h>

int OsIsLeadByte(u8 value) { return IsDBCSLeadByte(value) ? 1 : 0; }
const char* OsCharNext(const char* p) { return CharNextA(p); }
int OsCompareNoCase(const char* a, const char* b) { return lstrcmpiA(a, b); }
