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

#if !defined(_WIN32)
#include <functional>
#include <string>
#include <vector>

struct HostMessageBox {
  std::string text;
  std::string caption;
  WindowHandle owner;
  u32 flags;
};
// Every box shown since the last reset, in order.
const std::vector<HostMessageBox>& HostMessageBoxes();
void HostResetMessageBoxes();
// Answers for the next boxes, in order; once they run out every box is
// answered kIdOk. An action, when given, runs while the box is "up" (the
// nested message loop), before the answer is returned.
void HostQueueMessageBoxAnswer(int answer, std::function<void()> whileShown = nullptr);
#endif
