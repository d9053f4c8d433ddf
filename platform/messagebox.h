// Message boxes (MessageBoxA).
#pragma once
#include "platform/base.h"

enum : u32 {
  kMbOk = 0x00,
  kMbOkCancel = 0x01,
  kMbIconError = 0x10,
};
enum : int {
  kIdOk = 1,
  kIdCancel = 2,
};

// Shows a modal box and returns the button pressed (kIdOk, kIdCancel, ...),
// or 0 when the box could not be shown. `owner` may be null.
int OsMessageBox(WindowHandle owner, const char* text, const char* caption, u32 flags);

// Where boxes go instead of the screen: a tool that runs the updater's own
// readers (qk2's preview) collects their messages rather than showing them.
// The sink's answer is the box's. Null (the start) shows them again.
typedef int (*MessageBoxSink)(const char* text, const char* caption, u32 flags);
void OsSetMessageBoxSink(MessageBoxSink sink);
