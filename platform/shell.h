// The shell's file copy. The updater calls SHFileOperationA only through the
// SHELL32 entry point (dynlib.h); this header holds the host simulation's
// controls. The simulated FO_COPY copies files and whole folders between the
// folders the simulated drives map to, keeping each file's read-only state
// and last-write time; shell_host.cpp lists its rules.
#pragma once
#include "platform/base.h"

#if !defined(_WIN32)
#include <string>
#include <vector>

struct HostShellCall {
  WindowHandle owner;
  u32 operation;
  std::string from;  // first item of the double-NUL list
  std::string to;
  u16 flags;
};
// Calls since the last reset, in order.
const std::vector<HostShellCall>& HostShellCalls();
// The next call copies nothing, sets fAnyOperationsAborted and returns
// `result` (the user pressed Cancel in the progress window).
void HostShellAbortNext(int result);
// The next call copies nothing and returns `result` (nonzero).
void HostShellFailNext(int result);
// Forgets the recorded calls and any scripted outcome.
void HostShellReset();
#endif
