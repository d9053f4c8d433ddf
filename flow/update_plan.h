// The update plan read from section "UPDATE" of UPDATE.INI.
#pragma once
#include "flow/records.h"

// Next on the ready page: the free-space check, the busy look, the plan, and
// RunUpdate. Ends the dialog with -1 on failure; leaves the page with Back
// and Cancel on a shortage.
void BuildUpdatePlan(WindowHandle dialog);

// The reading steps alone (no dialog): fills UpdatePlan from section
// "UPDATE". Returns 0 when neither UpdateFile00 nor CopyFile00 is present,
// -1 for a refused line (after its error box), 1 otherwise.
int ReadUpdatePlan();
