// The shell's file copy for the host simulation.
#include "platform/shell.h"

#include "platform/dynlib.h"
#include "platform/host_entry_points.h"

namespace {
std::vector<HostShellCall> calls;
}

const std::vector<HostShellCall>& HostShellCalls() { return calls; }
void HostShellAbortNext(int result) { (void)result; }
void HostShellFailNext(int result) { (void)result; }
void HostShellReset() { calls.clear(); }

int HostSHFileOperationA(ShellFileOp* operation) {
  calls.push_back(HostShellCall{operation->hwnd, operation->wFunc,
                                operation->pFrom ? operation->pFrom : "",
                                operation->pTo ? operation->pTo : "", operation->fFlags});
  return 1;  // not simulated yet: every copy fails
}
