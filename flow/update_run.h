// Carrying out the update plan.
#pragma once
#include "flow/records.h"

// Places the update items, copies the copy items from the CD-ROM, and leaves
// the wizard completed; any failure ends the dialog with -1.
void RunUpdate(WindowHandle dialog, const struct UpdatePlan* plan);

// The folder an update item goes into (root, then DataFolder), into `folder`
// (kPathSize bytes). 1, or 0 when it does not fit.
int UpdateItemFolder(const struct UpdateItem* item, char* folder);

// What the run does with `item`, whose destination is `path`, before any
// package entry is read; judged without changing anything.
enum UpdateItemStep { kItemSkipped, kItemKeepsData, kItemWritesEntry };
int DecideUpdateItem(const struct UpdatePlan* plan, const struct UpdateItem* item,
                     const char* path);

// Scans A: to Z: for a CD-ROM drive holding disk `diskNumber`'s check file,
// asking the user to insert it while none does. 1 with `drive` ("Q:") set,
// or 0 when the user declined (the dialog has been ended with -1).
int FindMediaDrive(WindowHandle dialog, int diskNumber, char* drive);

// The plan emptied and the remembered media drive forgotten.
void ResetUpdateState();
