// Linux has no windows: nothing is found, no dialog can be created, and
// what would change a window changes nothing.
#include "platform/ui.h"

void OsInitializeCom() {}
WindowHandle OsFindWindow(const char*, const char*) { return nullptr; }
void OsShowWindow(WindowHandle, int) {}
void OsSetForegroundWindow(WindowHandle) {}
void OsEnableWindow(WindowHandle, int) {}
void OsSetFocus(WindowHandle) {}
void OsSetCursor(CursorShape) {}
intptr_t OsDialogBox(ModuleHandle, int, WindowHandle, DialogProcFn, intptr_t) { return -1; }
void OsEndDialog(WindowHandle, intptr_t) {}
WindowHandle OsGetDlgItem(WindowHandle, int) { return nullptr; }
void OsSetDlgItemText(WindowHandle, int, const char*) {}
void OsSetWindowText(WindowHandle, const char*) {}
void OsCheckRadioButton(WindowHandle, int, int, int) {}
