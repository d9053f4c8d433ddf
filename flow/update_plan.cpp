// Placeholder until the update plan lands: the wizard links against it.
#include "flow/update_plan.h"

#include <string.h>

#include "flow/run_state.h"
#include "platform/ui.h"

struct UpdatePlan UpdatePlan;

void BuildUpdatePlan(WindowHandle dialog) { OsEndDialog(dialog, -1); }
int ReadUpdatePlan() { return 0; }
void ResetUpdateState() { memset(&UpdatePlan, 0, sizeof UpdatePlan); }
