#include "platform/dynlib.h"

#include <string.h>
#include <windows.h>
#include <shellapi.h>
#include <stddef.h>

// Pins the ShellFileOp record of dynlib.h to the real SHFILEOPSTRUCTA, so
// the shell reads the fields where the updater wrote them.
static_assert(sizeof(ShellFileOp) == sizeof(SHFILEOPSTRUCTA), "SHFILEOPSTRUCTA size");
static_assert(offsetof(ShellFileOp, wFunc) == offsetof(SHFILEOPSTRUCTA, wFunc), "wFunc");
static_assert(offsetof(ShellFileOp, pFrom) == offsetof(SHFILEOPSTRUCTA, pFrom), "pFrom");
static_assert(offsetof(ShellFileOp, pTo) == offsetof(SHFILEOPSTRUCTA, pTo), "pTo");
static_assert(offsetof(ShellFileOp, fFlags) == offsetof(SHFILEOPSTRUCTA, fFlags), "fFlags");
static_assert(offsetof(ShellFileOp, fAnyOperationsAborted) ==
                  offsetof(SHFILEOPSTRUCTA, fAnyOperationsAborted),
              "fAnyOperationsAborted");
static_assert(offsetof(ShellFileOp, hNameMappings) == offsetof(SHFILEOPSTRUCTA, hNameMappings),
              "hNameMappings");

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD flags);

void OsRestrictDllSearch() {
  // Windows 7 without KB2533623 lacks SetDefaultDllDirectories; taking the
  // current folder out of the search is the best that system allows.
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  SetDefaultDllDirectoriesFn setDefault =
      kernel ? (SetDefaultDllDirectoriesFn)(void*)GetProcAddress(kernel, "SetDefaultDllDirectories")
             : nullptr;
  if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryA("");
}

LibraryHandle OsLoadSystemLibrary(const char* fileName) {
  // A full path inside the system folder: a DLL planted beside the program
  // or in the current folder is never considered.
  char path[MAX_PATH];
  UINT folder = GetSystemDirectoryA(path, MAX_PATH);
  size_t name = strlen(fileName);
  if (!folder || folder + 1 + name + 1 > MAX_PATH) return nullptr;
  path[folder] = '\\';
  memcpy(path + folder + 1, fileName, name + 1);
  return (LibraryHandle)LoadLibraryA(path);
}

void* OsFindEntryPoint(LibraryHandle library, const char* name) {
  if (!library) return nullptr;
  return (void*)GetProcAddress((HMODULE)library, name);
}
