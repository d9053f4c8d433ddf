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
