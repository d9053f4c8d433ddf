// The update plan read from section "UPDATE" of UPDATE.INI.
#pragma once
#include "platform/base.h"

enum { kMaxPlanLines = 16 };
enum ItemKind { KindPlain = 0, KindUpdate = 1, KindData = 2, KindOverwrite = 3 };

struct UpdateItem {
  i32 kind;
  char relativePath[kPathSize];
  i32 fileNameOffset;  // where the package entry's name starts
};
struct CopyItem {
  i32 diskNumber;
  char sourcePath[kPathSize];
};
struct UpdatePlan {
  int overwriteOnly;
  int updateCount;
  struct UpdateItem updateItems[kMaxPlanLines];
  int copyCount;
  struct CopyItem copyItems[kMaxPlanLines];
};
extern struct UpdatePlan UpdatePlan;

// Next on the ready page: the free-space check, the busy look, the plan, and
// RunUpdate. Ends the dialog with -1 on failure; leaves the page with Back
// and Cancel on a shortage.
void BuildUpdatePlan(WindowHandle dialog);

// The reading steps alone (no dialog): fills UpdatePlan from section
// "UPDATE". Returns 0 when neither UpdateFile00 nor CopyFile00 is present,
// -1 for a refused line (after its error box), 1 otherwise.
int ReadUpdatePlan();

// The plan emptied and the remembered media drive forgotten.
void ResetUpdateState();
