// The entry-point table and the values every part of a run shares: the
// window caption, the wizard window that owns message boxes, and the module.
#pragma once
#include "platform/base.h"
#include "platform/dynlib.h"

// System functions reached by name at run time, never imported. A slot that
// stays null was reported at start-up; callers must not call through it and
// fail the operation instead.
struct DynamicApi {
  LibraryHandle ghLibKERNEL32dll;
  LibraryHandle ghLibSHELL32dll;
  LibraryHandle ghLibADVAPI32dll;
  CreateFileFn pfnCreateFile;
  WriteFileFn pfnWriteFile;
  ReadFileFn pfnReadFile;
  ShellFileOperationFn pfnSHFileOperation;
  RegOpenKeyExFn pfnRegOpenKeyEx;
  RegQueryValueExFn pfnRegQueryValueEx;
  RegCloseKeyFn pfnRegCloseKey;
};
extern struct DynamicApi DynamicApi;

// Caption of every error box, of the wizard and of the single-instance
// search. "UPDATE" until start-up forms the final caption.
extern char WindowCaption[kTextSize];
// The wizard dialog while it exists, else null. Owner of every error box.
extern WindowHandle WizardWindow;
extern ModuleHandle ModuleInstance;
// Error boxes ShowError has shown in this run. A caller that reports a
// failure only where the operation said nothing compares it before and
// after the call.
extern u32 ErrorBoxesShown;

// Loads the three system libraries and looks up the seven entry points, in
// that order. Every failure shows one error box with the slot's name and
// leaves the slot null; nothing stops the resolution.
void ResolveDynamicApi();

// Error box: `text`, caption WindowCaption, owner WizardWindow, error icon,
// OK. Returns when the user has closed it.
void ShowError(const char* text);

// Puts every run-wide value back to its program-start state (slots empty,
// caption "UPDATE", no wizard). For tests and for start-up.
void ResetRunState();

// Opens `path` through pfnCreateFile: for reading (shared for reading, open
// existing) or for writing (no sharing, create always). kInvalidFile on
// failure, also when the slot is empty.
FileHandle OpenFileForRead(const char* path);
FileHandle CreateFileForWrite(const char* path);
// Reads or writes exactly `length` bytes through the slots; a short transfer,
// a failed call or an empty slot gives 0.
int ReadExactly(FileHandle file, void* buffer, u32 length);
int WriteExactly(FileHandle file, const void* buffer, u32 length);
