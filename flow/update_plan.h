// The update plan read from section "UPDATE" of UPDATE.INI.
#pragma once
#include "flow/records.h"

// Next on the ready page: the free-space check, the busy look, the plan, and
// RunUpdate. Ends the dialog with -1 on failure; leaves the page with Back
// and Cancel on a shortage.
void BuildUpdatePlan(WindowHandle dialog);

// Key `key` of section "UPDATE" read as a number (RequiredDiskSpace,
// OverwriteOnly); 0 when absent, empty or not a number.
i32 ReadUpdateInt(const char* key);

// One UpdateFile line taken apart as the plan reader takes it: an optional
// one-digit mode, the kind, the path and where its entry name starts.
struct UpdateLine {
  int hasMode;  // the line starts with a one-digit mode
  i32 mode;     // that digit's value
  struct UpdateItem item;
};
// Splits `line` (at most kTextSize bytes with its terminator) into `out`.
// Sets CurrentDiskNumber as list tokens do.
void ParseUpdateLine(const char* line, struct UpdateLine* out);

// One CopyFile line taken apart: an optional "m," mode (any byte before the
// comma, its code less that of '0'), an optional "n:" disk, and the path.
struct CopyLine {
  int hasMode;
  i32 mode;
  int diskRefused;  // a disk prefix outside 1 to 9: the line is refused
  struct CopyItem item;
};
// Splits `line` (at most kPathSize bytes with its terminator) into `out`.
void ParseCopyLine(const char* line, struct CopyLine* out);

// The reading steps alone (no dialog): fills UpdatePlan from section
// "UPDATE". Returns 0 when neither UpdateFile00 nor CopyFile00 is present,
// -1 for a refused line (after its error box), 1 otherwise.
int ReadUpdatePlan();
