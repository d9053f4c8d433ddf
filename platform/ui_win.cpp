#include "platform/ui.h"

#include <objbase.h>
#include <windows.h>

namespace {
// The system cursors by number: IDC_ARROW and IDC_WAIT follow the UNICODE
// setting, and LoadCursorA needs the narrow form.
const WORD kIdcArrow = 32512;
const WORD kIdcWait = 32514;
}  // namespace

void OsInitializeCom() { (void)CoInitialize(nullptr); }

WindowHandle OsFindWindow(const char* className, const char* title) {
  return (WindowHandle)FindWindowA(className, title);
}

void OsShowWindow(WindowHandle window, int command) { ShowWindow((HWND)window, command); }
void OsSetForegroundWindow(WindowHandle window) { SetForegroundWindow((HWND)window); }
void OsEnableWindow(WindowHandle window, int enable) { EnableWindow((HWND)window, enable); }
void OsSetFocus(WindowHandle window) { SetFocus((HWND)window); }

void OsSetCursor(CursorShape shape) {
  SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(shape == kCursorWait ? kIdcWait : kIdcArrow)));
}

intptr_t OsDialogBox(ModuleHandle module, int templateId, WindowHandle owner, DialogProcFn proc,
                     intptr_t param) {
  // DialogProcFn has DLGPROC's arguments and calling convention in this
  // layer's types; void(*)(void) is the cast that says so without a warning.
  DLGPROC procedure = (DLGPROC)(void (*)(void))proc;
  return DialogBoxParamA((HINSTANCE)module, MAKEINTRESOURCEA(templateId), (HWND)owner, procedure,
                         (LPARAM)param);
}

void OsEndDialog(WindowHandle dialog, intptr_t result) { EndDialog((HWND)dialog, result); }

WindowHandle OsGetDlgItem(WindowHandle dialog, int id) {
  return (WindowHandle)GetDlgItem((HWND)dialog, id);
}

void OsSetDlgItemText(WindowHandle dialog, int id, const char* text) {
  SetDlgItemTextA((HWND)dialog, id, text);
}

void OsSetWindowText(WindowHandle window, const char* text) { SetWindowTextA((HWND)window, text); }

void OsCheckRadioButton(WindowHandle dialog, int first, int last, int checked) {
  CheckRadioButton((HWND)dialog, first, last, checked);
}
