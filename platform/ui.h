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

// Top-level windows for OsFindWindow. Returns the window's handle.
WindowHandle HostAddWindow(const char* className, const char* title);
void HostRemoveWindow(WindowHandle window);
// OsShowWindow / OsSetForegroundWindow calls on top-level windows, in order.
struct HostWindowCall {
  WindowHandle window;
  const char* what;  // "show" or "foreground"
  int command;       // the show command for "show"
};
const std::vector<HostWindowCall>& HostWindowCalls();

// The simulated dialog. OsDialogBox creates the controls of template 100
// (ids 1, 2, 4, 1001) or 101 (also 1000, 1002, 1003), sends kWmInitDialog,
// then runs the script the test set, which plays the user by sending
// messages; when the script returns without an end, the dialog ends as if
// closed with -1... only if the test asked; see HostDialogEndIfOpen.
struct HostControl {
  int id;
  std::string text;
  int enabled;
  int visible;
  int checked;
};
struct HostDialogState {
  WindowHandle window;
  int templateId;
  std::string title;
  std::vector<HostControl> controls;
  WindowHandle focus;
  CursorShape cursor;
  int ended;
  intptr_t result;
};
// The script runs inside OsDialogBox after initialisation.
void HostSetDialogScript(std::function<void(WindowHandle dialog)> script);
// Makes the next OsDialogBox fail with -1 without running anything.
void HostFailNextDialog();
// The dialog being shown (or the last one shown).
HostDialogState& HostDialog();
HostControl* HostDialogControl(int id);
// Sends a message to the dialog's procedure, as the dialog manager would.
intptr_t HostSendMessage(WindowHandle dialog, u32 message, uintptr_t wParam, intptr_t lParam);
// A button press: WM_COMMAND with notification 0 and the id.
intptr_t HostClick(WindowHandle dialog, int id);
// The cursor most recently set through OsSetCursor.
CursorShape HostCurrentCursor();
void HostResetUi();
#endif
