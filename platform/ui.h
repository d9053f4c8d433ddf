// Windows, the modal dialog, cursors and COM.
#pragma once
#include "platform/base.h"

typedef intptr_t(PLATFORM_CALL* DialogProcFn)(WindowHandle dialog, u32 message, uintptr_t wParam,
                                              intptr_t lParam);

enum : u32 {
  kWmInitDialog = 0x0110,
  kWmCommand = 0x0111,
  kWmSetCursor = 0x0020,
};
enum : int {
  kSwHide = 0,
  kSwShow = 5,
};
enum CursorShape { kCursorArrow, kCursorWait };

// CoInitialize(NULL); the result is not examined by the caller.
void OsInitializeCom();
// FindWindowA. `className` may be "#32770" for the system dialog class.
WindowHandle OsFindWindow(const char* className, const char* title);
// ShowWindow / SetForegroundWindow / EnableWindow / SetFocus.
void OsShowWindow(WindowHandle window, int command);
void OsSetForegroundWindow(WindowHandle window);
void OsEnableWindow(WindowHandle window, int enable);
void OsSetFocus(WindowHandle window);
// LoadCursorA(NULL, IDC_ARROW / IDC_WAIT) and SetCursor.
void OsSetCursor(CursorShape shape);

// DialogBoxParamA with a template id from this module's resources. Returns
// the value passed to OsEndDialog, or -1 when the dialog cannot be created.
intptr_t OsDialogBox(ModuleHandle module, int templateId, WindowHandle owner, DialogProcFn proc,
                     intptr_t param);
void OsEndDialog(WindowHandle dialog, intptr_t result);
WindowHandle OsGetDlgItem(WindowHandle dialog, int id);
void OsSetDlgItemText(WindowHandle dialog, int id, const char* text);
void OsSetWindowText(WindowHandle window, const char* text);
void OsCheckRadioButton(WindowHandle dialog, int first, int last, int checked);

#if !defined(_WIN32)
#include <functional>
#include <string>
#include <vector>

// Top-level windows for OsFindWindow (class and title compared without
// case; a null argument matches any). The dialog being shown is found too,
// under the class "#32770" and its current title. Returns the new window.
WindowHandle HostAddWindow(const char* className, const char* title);
void HostRemoveWindow(WindowHandle window);
// OsShowWindow / OsSetForegroundWindow calls on top-level windows, in order.
struct HostWindowCall {
  WindowHandle window;
  const char* what;  // "show" or "foreground"
  int command;       // the show command for "show"
};
const std::vector<HostWindowCall>& HostWindowCalls();

// The simulated modal dialog, one at a time.
//
// OsDialogBox (module HostModule(), template 100 or 101; anything else fails
// with -1) creates the controls of the template with their initial texts:
//   100: 1 "次へ", 2 "中止", 4 "戻る", 1001 "Info"
//   101: the same, plus 1000 "", 1002 "同意する", 1003 "同意しない"
// each enabled, visible and unchecked. It sends kWmInitDialog to the
// procedure and, unless that already ended the dialog, runs the test's
// script, which plays the user and the dialog manager by sending messages.
// When the script returns, OsDialogBox returns the value of the last
// OsEndDialog; without one it records `leftOpen` and returns -1.
struct HostControl {
  int id;
  WindowHandle window;  // what OsGetDlgItem answers for this id
  std::string text;
  int enabled;
  int visible;
  int checked;
};
struct HostDialogState {
  WindowHandle window;  // null before the first OsDialogBox
  int templateId;
  WindowHandle owner;
  DialogProcFn proc;
  intptr_t param;
  std::string title;
  std::vector<HostControl> controls;
  WindowHandle focus;  // control given the focus by OsSetFocus, or null
  CursorShape cursor;  // last OsSetCursor while the dialog ran
  int running;         // inside OsDialogBox
  int ended;           // OsEndDialog was called
  intptr_t result;     // its value
  int leftOpen;        // the script returned without OsEndDialog
};
// The script for the next dialogs; it runs inside OsDialogBox.
void HostSetDialogScript(std::function<void(WindowHandle dialog)> script);
// Makes the next OsDialogBox fail with -1 without creating anything.
void HostFailNextDialog();
// Number of OsDialogBox calls that created a dialog.
int HostDialogsShown();
// The dialog being shown, or the last one shown.
HostDialogState& HostDialog();
// A control of that dialog by id, or null.
HostControl* HostDialogControl(int id);
// Sends a message to the dialog's procedure and returns its answer, whatever
// the state of the controls: a nested message loop, the Escape key or the
// close box (command 2 even while Cancel is disabled) deliver this way.
intptr_t HostSendMessage(WindowHandle dialog, u32 message, uintptr_t wParam, intptr_t lParam);
// A mouse click on button `id`: WM_COMMAND with notification 0 and the id,
// delivered only while the dialog is open and the control exists, is
// enabled and visible, as the dialog manager does. Returns 1 when delivered.
int HostClick(WindowHandle dialog, int id);
// The cursor most recently set through OsSetCursor (kCursorArrow at reset).
CursorShape HostCurrentCursor();
void HostResetUi();
#endif
