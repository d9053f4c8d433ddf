#include "platform/dynlib.h"

#include <string.h>
#include <windows.h>

#include "platform/shell_layout_win.h"

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
