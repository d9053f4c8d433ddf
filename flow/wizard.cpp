// The wizard dialog. Its one window and its page state are process-wide, as
// the dialog is modal and exists once. The update step runs inside the Next
// command, and the message boxes and copy progress it shows run nested
// message loops that re-enter WizardProc; WizardBusy makes every command
// that arrives meanwhile do nothing.
#include "flow/wizard.h"

#include "flow/info_text.h"
#include "flow/records.h"
#include "flow/update_plan.h"
#include "runtime/run_state.h"
#include "settings/setup_description.h"
#include "texts.h"

int WizardPage;
int WizardBusy;

namespace {

const int kAgreementControls[] = {kIdAgreementBox, kIdAgree, kIdDisagree};

void EnableControl(WindowHandle dialog, int id, int enable) {
  OsEnableWindow(OsGetDlgItem(dialog, id), enable);
}

// Template 100 has none of these controls; the calls then reach no window.
void ShowAgreementControls(WindowHandle dialog, int show) {
  for (int id : kAgreementControls)
    OsShowWindow(OsGetDlgItem(dialog, id), show ? kSwShow : kSwHide);
}

intptr_t OnSetCursor() {
  if (!WizardBusy) return 0;
  OsSetCursor(kCursorWait);
  return 1;
}

intptr_t OnInitDialog(WindowHandle dialog) {
  ShowIntroPage(dialog);
  return 0;  // the focus stays where the dialog manager leaves it
}

void OnNextOrBack(WindowHandle dialog, int id) {
  if (WizardBusy) return;
  WizardBusy = 1;
  SetInfoText(dialog, "");
  if (id == kIdBack) WizardPage -= 2;
  if (WizardPage == 0) ShowReadyPage(dialog);
  else if (WizardPage == 1) BuildUpdatePlan(dialog);
  else if (WizardPage == 2) OsEndDialog(dialog, 0);
  WizardPage += 1;
  WizardBusy -= 1;
}

void OnCancel(WindowHandle dialog) {
  if (!WizardBusy) OsEndDialog(dialog, -1);
}

// The radio buttons are not automatic: the program checks them itself, and
// only the state of Next guards the agreement.
void OnAgreementChoice(WindowHandle dialog, int id) {
  EnableControl(dialog, kIdNext, id == kIdAgree);
  OsCheckRadioButton(dialog, kIdAgree, kIdDisagree, id);
}

intptr_t OnCommand(WindowHandle dialog, uintptr_t wParam) {
  if ((wParam >> 16) & 0xFFFF) return 0;
  const int id = (int)(wParam & 0xFFFF);
  if (id == kIdNext || id == kIdBack) OnNextOrBack(dialog, id);
  else if (id == kIdCancel) OnCancel(dialog);
  else if (id == kIdAgree || id == kIdDisagree) OnAgreementChoice(dialog, id);
  return 0;
}

}  // namespace

intptr_t PLATFORM_CALL WizardProc(WindowHandle dialog, u32 message, uintptr_t wParam,
                                  intptr_t lParam) {
  (void)lParam;
  if (message == kWmSetCursor) return OnSetCursor();
  if (message == kWmInitDialog) return OnInitDialog(dialog);
  if (message == kWmCommand) return OnCommand(dialog, wParam);
  return 0;
}

void ShowIntroPage(WindowHandle dialog) {
  const struct UpdateDescription& d = UpdateDescription;
  WizardWindow = dialog;
  WizardBusy = 0;
  WizardPage = 0;
  OsSetWindowText(dialog, WindowCaption);
  // The title is the update's own text: shown as it stands, never a format.
  if (d.AgreementTitle)
    SetInfoText(dialog, "%s", d.AgreementTitle);
  else
    SetInfoText(dialog, kTextIntroText,
                d.ModeIsInstall ? d.UpdaterTitle : SetupDescription.GameTitle, d.ModeWord);
  EnableControl(dialog, kIdBack, 0);
  EnableControl(dialog, kIdCancel, 1);
  const int agreement = d.AgreementText != nullptr;
  EnableControl(dialog, kIdNext, !agreement);
  if (agreement) {
    OsSetDlgItemText(dialog, kIdAgreementBox, d.AgreementText);
    for (int id : kAgreementControls) EnableControl(dialog, id, 1);
    OsCheckRadioButton(dialog, kIdAgree, kIdDisagree, kIdDisagree);
  }
  ShowAgreementControls(dialog, agreement);
}

void ShowReadyPage(WindowHandle dialog) {
  SetInfoText(dialog, kTextReadyText, UpdateDescription.ModeWord);
  EnableControl(dialog, kIdBack, 0);
  EnableControl(dialog, kIdNext, 1);
  EnableControl(dialog, kIdCancel, 1);
  ShowAgreementControls(dialog, 0);
}

void ResetWizardState() {
  WizardPage = 0;
  WizardBusy = 0;
}
