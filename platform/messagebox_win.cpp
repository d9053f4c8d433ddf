#include "platform/messagebox.h"

#include <windows.h>

namespace {
MessageBoxSink Sink;
}

void OsSetMessageBoxSink(MessageBoxSink sink) { Sink = sink; }

int OsMessageBox(WindowHandle owner, const char* text, const char* caption, u32 flags) {
  if (Sink) return Sink(text, caption, flags);
  return MessageBoxA((HWND)owner, text, caption, flags);
}
