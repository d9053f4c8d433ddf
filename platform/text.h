// Multibyte text in the system's ANSI code page (cp932 for the updater).
#pragma once
#include "platform/base.h"

// IsDBCSLeadByte: true when `value` starts a double-byte character.
int OsIsLeadByte(u8 value);
// CharNextA: the next character after `p`; stays on the terminator.
const char* OsCharNext(const char* p);
// lstrcmpiA: compares without regard to case; 0 when equal.
int OsCompareNoCase(const char* a, const char* b);
