// The wizard dialog: opening page (with the agreement), ready page, and the
// page on which the update runs.
#pragma once
#include "flow/info_text.h"
#include "flow/records.h"
#include "platform/ui.h"

// 0 opening page, 1 ready page, 2 after the update step, 3 finished.
extern int WizardPage;
// 1 while a Next or Back command is handled (the whole update step).
extern int WizardBusy;

// The dialog procedure of templates 100 and 101. WM_SETCURSOR while busy:
// the wait cursor, answer 1. WM_INITDIALOG: ShowIntroPage. WM_COMMAND with
// notification 0: Next (1) and Back (4) move through the pages (Back first
// goes two pages back; page 0 shows the ready page, page 1 runs
// BuildUpdatePlan, page 2 ends the dialog with 0), Cancel (2) ends it with
// -1, both doing nothing while busy; 1002 enables Next and checks 1002,
// 1003 disables Next and checks 1003. Answers 0 to everything else.
intptr_t PLATFORM_CALL WizardProc(WindowHandle dialog, u32 message, uintptr_t wParam,
                                  intptr_t lParam);
// The opening page: sets WizardWindow, WizardPage and WizardBusy 0, the
// title WindowCaption, the opening text (AgreementTitle as it stands, else
// "「%s」の%sを開始します"), Back disabled, Cancel enabled; with
// AgreementText its box and choices shown, "同意しない" checked and Next
// disabled, otherwise Next enabled and the agreement controls hidden.
void ShowIntroPage(WindowHandle dialog);
// The ready page: "%sを実行します" with ModeWord, Back disabled, Next and
// Cancel enabled, the agreement controls hidden.
void ShowReadyPage(WindowHandle dialog);

// WizardPage and WizardBusy 0, as at program start.
void ResetWizardState();
