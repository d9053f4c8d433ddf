// The host simulation of what Linux lacks, for the tests only: Windows paths
// over host folders (drive letters mapped to folders, with their types and
// free space), the registry, module resources, the three system libraries
// and their entry points, message boxes, the modal dialog and the shell's
// copy, each scriptable, plus allocation failures and counts. Test programs
// link it in place of the POSIX layer; no tool or product ever does.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "platform/base.h"
#include "platform/dynlib.h"
#include "platform/messagebox.h"
#include "platform/ui.h"

enum : u32 { kRegSz = 1, kRegBinary = 3, kRegDword = 4 };

// ---- files
// Host simulation of drives. Every letter starts unmapped (kDriveNoRootDir).
// `folder` is a host folder; `freeBytes` is what OsGetDiskFreeSpace reports
// (UINT64_MAX: the real free space of the folder's file system).
void HostMapDrive(char letter, const char* folder, u32 type = kDriveFixed,
                  u64 freeBytes = UINT64_MAX);
void HostUnmapDrive(char letter);
void HostResetDrives();
// Makes the next OsFlushFile fail (a disk that reports a write error late).
// HostResetDrives clears it.
void HostFailNextFlush();
// With 0, OsFlushFile answers as the system would without waiting for the
// host's disk (a stop in these tests is a killed process, never a power
// cut of the host). HostResetDrives turns the waiting back on.
void HostWaitForDisk(int wait);
// The host path for a Windows path ("" when its drive is unmapped).
std::string HostPath(const char* windowsPath);
// Folder that OsGetTempPath reports (a Windows path, ending in '\').
void HostSetTempPath(const char* windowsPath);

// ---- dynlib
// Host simulation: the three libraries "KERNEL32.DLL", "SHELL32.DLL" and
// "ADVAPI32.DLL" (names compared without case) and their entry points
// "CreateFileA", "WriteFile", "ReadFile", "FindResourceA", "SizeofResource",
// "LoadResource", "LockResource", "SHFileOperationA", "RegOpenKeyExA",
// "RegQueryValueExA", "RegCloseKey". A test can make any of them missing.
void HostSetLibraryMissing(const char* fileName, int missing);
void HostSetEntryPointMissing(const char* name, int missing);
void HostResetLibraries();

// ---- shell
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

// ---- messagebox
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
// Answers every box that finds no queued answer (null: kIdOk), after
// looking at it; it may act while the box is "up" (insert a disk, say).
void HostSetMessageBoxResponder(std::function<int(const HostMessageBox& box)> responder);

// ---- fault points
// Every simulated call that can fail on Windows is a fault point, counted
// from the last HostResetFaults whatever its kind; the one chosen by number
// fails the way the system fails it. Calls that change a file or a folder
// are change points, counted apart; a run can be stopped at one, as a power
// cut or a killed process stops it.
enum HostCallKind : int {
  kCallCreate,         // CreateFileA, create always: INVALID_HANDLE_VALUE
  kCallOpen,           // CreateFileA, open existing: INVALID_HANDLE_VALUE
  kCallRead,           // ReadFile: FALSE, nothing read
  kCallWrite,          // WriteFile: FALSE after half the bytes (a disk that filled)
  kCallFlush,          // FlushFileBuffers: FALSE
  kCallClose,          // CloseHandle: FALSE, the handle closed all the same
  kCallGetTime,        // GetFileTime: FALSE
  kCallSetTime,        // SetFileTime: FALSE
  kCallGetSize,        // GetFileSize: INVALID_FILE_SIZE
  kCallGetAttributes,  // GetFileAttributesA: INVALID_FILE_ATTRIBUTES
  kCallSetAttributes,  // SetFileAttributesA: FALSE
  kCallMakeFolder,     // CreateDirectoryA (and the shell's): FALSE
  kCallReplace,        // MoveFileExA: FALSE
  kCallDelete,         // DeleteFileA: FALSE
  kCallFind,           // FindWindowA: NULL
  kCallDriveType,      // GetDriveTypeA: DRIVE_UNKNOWN
  kCallFreeSpace,      // GetDiskFreeSpaceExA: FALSE
  kCallTempPath,       // GetTempPathA: 0
  kCallTempName,       // GetTempFileNameA: 0, no file made
  kCallAllocation,     // GlobalAlloc: NULL
  kCallRegistry,       // RegOpenKeyExA, RegQueryValueExA: ERROR_REGISTRY_IO_FAILED
  kCallResource,       // FindResourceA, LoadResource, LockResource: NULL; SizeofResource: 0
  kCallShellCopy,      // SHFileOperationA: ERROR_ACCESS_DENIED before anything is copied
  kCallShellCopyFile,  // one file of a shell copy: the copy ends there, that file not made
  kCallDialog,         // DialogBoxParamA: -1
  kCallKinds
};
const char* HostCallKindName(HostCallKind kind);
struct HostCall {
  HostCallKind kind;
  std::string what;  // the path, key or size the call was about
};
// Counting from zero; nothing fails, nothing stops, no limit.
void HostResetFaults();
// The fault point numbered `n` (1 = the first after the reset) fails; 0:
// none does.
void HostFailCall(long n);
// Fault points so far (the count mode), and each of them in order.
long HostFaultPoints();
const std::vector<HostCall>& HostFaultTrace();
// The first call of `kind` whose path (or key) starts with `prefix` fails;
// for tests of one failure by name rather than by number.
void HostFailFirstCall(HostCallKind kind, const std::string& prefix);
// The call that was made to fail, or null while none has been.
const HostCall* HostFailedCall();
// Change points so far.
long HostChangePoints();
// After `n` changes, the next change point runs `stop` in its place (a write
// cut in its middle leaves half its bytes, a shell copy half its file).
// `stop` should not return; if it does, the run goes on.
void HostStopAfterChanges(long n, std::function<void()> stop);
// Calls `whenPassed` at every fault point past `most`: a run that makes far
// more calls than it should is caught in its loop, without timing it.
void HostSetFaultPointLimit(long most, std::function<void()> whenPassed);

// ---- memory
// Host simulation: make the allocation numbered `n` from now (0 = the next
// one) fail; -1 turns failures off. Counts only successful-or-failed calls of
// OsAlloc/OsAllocZeroed.
void HostFailAllocation(int n);
// Blocks taken and not yet released, for leak checks in tests.
long HostLiveAllocations();
// The largest block asked of OsAlloc since the last call (which starts the
// count again from 0), for tests of how much memory an operation takes.
u32 HostTakeLargestAllocation();

// ---- registry
// Values under HKEY_CURRENT_USER. `keyPath` is "Software\Company\Game";
// paths and value names are compared without case. Setting a value creates
// its key.
void HostRegistrySetValue(const char* keyPath, const char* name, u32 type, const void* data,
                          u32 size);
// A REG_SZ value, with its terminator.
void HostRegistrySetString(const char* keyPath, const char* name, const char* value);
void HostRegistrySetDword(const char* keyPath, const char* name, u32 value);
// Creates an empty key.
void HostRegistryCreateKey(const char* keyPath);
void HostRegistryReset();
// Keys opened and not yet closed, for leak checks in tests.
int HostRegistryOpenKeys();

// ---- resources
// The module handle the host simulation answers resource calls for.
ModuleHandle HostModule();
// Registers `size` bytes (copied) as resource `type`/`id` of HostModule();
// replaces an earlier one with the same type and id.
void HostSetResource(const char* type, int id, const void* bytes, u32 size);
void HostResetResources();

// ---- ui
// Top-level windows for OsFindWindow (class and title compared without
// case; a null argument matches any). The dialog being shown is found too,
// under the class "#32770" and its current title. Returns the new window.
WindowHandle HostAddWindow(const char* className, const char* title);
void HostRemoveWindow(WindowHandle window);
// OsShowWindow / OsSetForegroundWindow calls on top-level windows, in order.
struct HostWindowCall {
  WindowHandle window;
  const char* what;  // "show" or "foreground"
  int command;       // the show command for "show"
};
const std::vector<HostWindowCall>& HostWindowCalls();

// The simulated modal dialog, one at a time.
//
// OsDialogBox (module HostModule(), template 100 or 101; anything else fails
// with -1) creates the controls of the template with their initial texts:
//   100: 1 "次へ", 2 "中止", 4 "戻る", 1001 "Info"
//   101: the same, plus 1000 "", 1002 "同意する", 1003 "同意しない"
// each enabled, visible and unchecked. It sends kWmInitDialog to the
// procedure and, unless that already ended the dialog, runs the test's
// script, which plays the user and the dialog manager by sending messages.
// When the script returns, OsDialogBox returns the value of the last
// OsEndDialog; without one it records `leftOpen` and returns -1.
struct HostControl {
  int id;
  WindowHandle window;  // what OsGetDlgItem answers for this id
  std::string text;
  int enabled;
  int visible;
  int checked;
};
struct HostDialogState {
  WindowHandle window;  // null before the first OsDialogBox
  int templateId;
  WindowHandle owner;
  DialogProcFn proc;
  intptr_t param;
  std::string title;
  std::vector<HostControl> controls;
  WindowHandle focus;  // control given the focus by OsSetFocus, or null
  CursorShape cursor;  // last OsSetCursor while the dialog ran
  int running;         // inside OsDialogBox
  int ended;           // OsEndDialog was called
  intptr_t result;     // its value
  int leftOpen;        // the script returned without OsEndDialog
};
// The script for the next dialogs; it runs inside OsDialogBox.
void HostSetDialogScript(std::function<void(WindowHandle dialog)> script);
// Makes the next OsDialogBox fail with -1 without creating anything.
void HostFailNextDialog();
// Number of OsDialogBox calls that created a dialog.
int HostDialogsShown();
// The dialog being shown, or the last one shown.
HostDialogState& HostDialog();
// A control of that dialog by id, or null.
HostControl* HostDialogControl(int id);
// Sends a message to the dialog's procedure and returns its answer, whatever
// the state of the controls: a nested message loop, the Escape key or the
// close box (command 2 even while Cancel is disabled) deliver this way.
intptr_t HostSendMessage(WindowHandle dialog, u32 message, uintptr_t wParam, intptr_t lParam);
// A mouse click on button `id`: WM_COMMAND with notification 0 and the id,
// delivered only while the dialog is open and the control exists, is
// enabled and visible, as the dialog manager does. Returns 1 when delivered.
int HostClick(WindowHandle dialog, int id);
// The cursor most recently set through OsSetCursor (kCursorArrow at reset).
CursorShape HostCurrentCursor();
void HostResetUi();
