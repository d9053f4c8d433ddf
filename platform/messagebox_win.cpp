#include "platform/messagebox.h"

#include <windows.h>

int OsMessageBox(WindowHandle owner, const char* text, const char* caption, u32 flags) {
  return MessageBoxA((HWND)owner, text, caption, flags);
}
