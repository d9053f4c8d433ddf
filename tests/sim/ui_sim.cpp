// Windows, one modal dialog and cursors for the host simulation. Handles are
// made-up numbers: a top-level window, the dialog and each of its controls
// get their own, so a call on a handle reaches exactly the thing it names.
#include "platform/ui.h"

#include <stdint.h>

#include <utility>

#include "platform/text.h"
#include "texts.h"
#include "sim/sim.h"
#include "sim/faults_sim.h"

namespace {
struct TopWindow {
  WindowHandle window;
  std::string className;
  std::string title;
};

const uintptr_t kTopWindowBase = 0x10000;
const uintptr_t kDialogBase = 0x200000;
const uintptr_t kControlBase = 0x10000000;

std::vector<TopWindow> topWindows;
uintptr_t topWindowSerial;
std::vector<HostWindowCall> windowCalls;
HostDialogState dialog;
uintptr_t dialogSerial;  // never reset, so a stale handle never matches a new dialog
int dialogsShown;
int failNextDialog;
std::function<void(WindowHandle)> dialogScript;
CursorShape currentCursor = kCursorArrow;

struct TemplateControl {
  int id;
  const char* text;
};
const TemplateControl kWizardControls[] = {
    {1, kTextTemplateNext}, {2, kTextTemplateCancel}, {4, kTextTemplateBack}, {1001, "Info"}};
const TemplateControl kAgreementControls[] = {
    {1000, ""}, {1002, kTextTemplateAgree}, {1003, kTextTemplateDisagree}};

WindowHandle ControlHandle(int id) {
  return (WindowHandle)(kControlBase + dialogSerial * 0x10000 + (uintptr_t)(u16)id);
}

void AddControls(const TemplateControl* controls, size_t count) {
  for (size_t i = 0; i < count; ++i)
    dialog.controls.push_back(HostControl{controls[i].id, ControlHandle(controls[i].id),
                                          controls[i].text, 1, 1, 0});
}

HostControl* ControlByWindow(WindowHandle window) {
  if (!window) return nullptr;
  for (HostControl& control : dialog.controls)
    if (control.window == window) return &control;
  return nullptr;
}

TopWindow* TopWindowByHandle(WindowHandle window) {
  for (TopWindow& top : topWindows)
    if (top.window == window) return &top;
  return nullptr;
}

int IsOpenDialog(WindowHandle window) {
  return window && window == dialog.window && dialog.running;
}

// FindWindowA's rule: a null class or title matches anything; the rest is
// compared without regard to case.
int Matches(const char* wanted, const std::string& actual) {
  return !wanted || OsCompareNoCase(wanted, actual.c_str()) == 0;
}

void CreateDialog(int templateId, WindowHandle owner, DialogProcFn proc, intptr_t param) {
  ++dialogSerial;
  ++dialogsShown;
  dialog = HostDialogState();
  dialog.window = (WindowHandle)(kDialogBase + dialogSerial);
  dialog.templateId = templateId;
  dialog.owner = owner;
  dialog.proc = proc;
  dialog.param = param;
  dialog.title = "UPDATE";
  dialog.cursor = currentCursor;
  AddControls(kWizardControls, sizeof kWizardControls / sizeof kWizardControls[0]);
  if (templateId == 101)
    AddControls(kAgreementControls, sizeof kAgreementControls / sizeof kAgreementControls[0]);
  dialog.running = 1;
}
}  // namespace

void OsInitializeCom() {}

WindowHandle OsFindWindow(const char* className, const char* title) {
  if (HostFaultHere(kCallFind, title ? title : "")) return nullptr;
  for (const TopWindow& top : topWindows)
    if (Matches(className, top.className) && Matches(title, top.title)) return top.window;
  if (dialog.running && Matches(className, "#32770") && Matches(title, dialog.title))
    return dialog.window;
  return nullptr;
}

void OsShowWindow(WindowHandle window, int command) {
  if (HostControl* control = ControlByWindow(window)) {
    control->visible = command != kSwHide;
    return;
  }
  if (window) windowCalls.push_back(HostWindowCall{window, "show", command});
}

void OsSetForegroundWindow(WindowHandle window) {
  if (window) windowCalls.push_back(HostWindowCall{window, "foreground", 0});
}

void OsEnableWindow(WindowHandle window, int enable) {
  if (HostControl* control = ControlByWindow(window)) control->enabled = enable ? 1 : 0;
}

void OsSetFocus(WindowHandle window) {
  if (ControlByWindow(window) || IsOpenDialog(window)) dialog.focus = window;
}

void OsSetCursor(CursorShape shape) {
  currentCursor = shape;
  if (dialog.running) dialog.cursor = shape;
}

intptr_t OsDialogBox(ModuleHandle module, int templateId, WindowHandle owner, DialogProcFn proc,
                     intptr_t param) {
  if (failNextDialog) {
    failNextDialog = 0;
    return -1;
  }
  if (HostFaultHere(kCallDialog, std::to_string(templateId))) return -1;
  if (module != HostModule() || (templateId != 100 && templateId != 101) || !proc ||
      dialog.running)
    return -1;
  CreateDialog(templateId, owner, proc, param);
  // As the dialog manager: wParam names the first tab stop, the Next button.
  proc(dialog.window, kWmInitDialog, (uintptr_t)ControlHandle(1), param);
  std::function<void(WindowHandle)> script = dialogScript;
  if (!dialog.ended && script) script(dialog.window);
  if (!dialog.ended) dialog.leftOpen = 1;
  dialog.running = 0;
  return dialog.ended ? dialog.result : -1;
}

void OsEndDialog(WindowHandle window, intptr_t result) {
  if (!IsOpenDialog(window)) return;
  dialog.ended = 1;
  dialog.result = result;  // a later call wins, as with EndDialog
}

WindowHandle OsGetDlgItem(WindowHandle window, int id) {
  if (!IsOpenDialog(window)) return nullptr;
  HostControl* control = HostDialogControl(id);
  return control ? control->window : nullptr;
}

void OsSetDlgItemText(WindowHandle window, int id, const char* text) {
  if (!IsOpenDialog(window)) return;
  if (HostControl* control = HostDialogControl(id)) control->text = text ? text : "";
}

void OsSetWindowText(WindowHandle window, const char* text) {
  const char* value = text ? text : "";
  if (IsOpenDialog(window)) dialog.title = value;
  else if (HostControl* control = ControlByWindow(window)) control->text = value;
  else if (TopWindow* top = TopWindowByHandle(window)) top->title = value;
}

void OsCheckRadioButton(WindowHandle window, int first, int last, int checked) {
  if (!IsOpenDialog(window)) return;
  for (HostControl& control : dialog.controls)
    if (control.id >= first && control.id <= last) control.checked = control.id == checked;
}

WindowHandle HostAddWindow(const char* className, const char* title) {
  WindowHandle window = (WindowHandle)(kTopWindowBase + ++topWindowSerial);
  topWindows.push_back(TopWindow{window, className ? className : "", title ? title : ""});
  return window;
}

void HostRemoveWindow(WindowHandle window) {
  for (size_t i = 0; i < topWindows.size(); ++i) {
    if (topWindows[i].window == window) {
      topWindows.erase(topWindows.begin() + (long)i);
      return;
    }
  }
}

const std::vector<HostWindowCall>& HostWindowCalls() { return windowCalls; }

void HostSetDialogScript(std::function<void(WindowHandle)> script) {
  dialogScript = std::move(script);
}

void HostFailNextDialog() { failNextDialog = 1; }
int HostDialogsShown() { return dialogsShown; }
HostDialogState& HostDialog() { return dialog; }

HostControl* HostDialogControl(int id) {
  for (HostControl& control : dialog.controls)
    if (control.id == id) return &control;
  return nullptr;
}

intptr_t HostSendMessage(WindowHandle window, u32 message, uintptr_t wParam, intptr_t lParam) {
  if (!IsOpenDialog(window)) return 0;
  return dialog.proc(window, message, wParam, lParam);
}

int HostClick(WindowHandle window, int id) {
  if (!IsOpenDialog(window) || dialog.ended) return 0;
  HostControl* control = HostDialogControl(id);
  if (!control || !control->enabled || !control->visible) return 0;
  dialog.proc(window, kWmCommand, (uintptr_t)(u16)id, (intptr_t)control->window);
  return 1;
}

CursorShape HostCurrentCursor() { return currentCursor; }

void HostResetUi() {
  topWindows.clear();
  windowCalls.clear();
  dialog = HostDialogState();
  dialogsShown = 0;
  failNextDialog = 0;
  dialogScript = nullptr;
  currentCursor = kCursorArrow;
}
