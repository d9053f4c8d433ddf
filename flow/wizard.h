// The wizard dialog: opening page (with the agreement), ready page, and the
// page on which the update runs.
#pragma once
#include "platform/base.h"
#include "platform/ui.h"

enum {
  kTemplateWizard = 100,
  kTemplateWizardAgreement = 101,
  kIdNext = 1,
  kIdCancel = 2,
  kIdBack = 4,
  kIdAgreementBox = 1000,
  kIdInfo = 1001,
  kIdAgree = 1002,
  kIdDisagree = 1003,
};

// 0 opening page, 1 ready page, 2 after the update step, 3 finished.
extern int WizardPage;
// 1 while a Next or Back command is handled (the whole update step).
extern int WizardBusy;

intptr_t PLATFORM_CALL WizardProc(WindowHandle dialog, u32 message, uintptr_t wParam,
                                  intptr_t lParam);
void ShowIntroPage(WindowHandle dialog);
void ShowReadyPage(WindowHandle dialog);
// Formats into a 1024-byte buffer (cut to fit) and sets it as control 1001.
void SetInfoText(WindowHandle dialog, const char* format, ...);

// WizardPage and WizardBusy 0, as at program start.
void ResetWizardState();
