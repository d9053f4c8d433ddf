#include "runtime/run_state.h"

#include <string.h>

#include "platform/format.h"
#include "platform/messagebox.h"
#include "texts.h"

struct DynamicApi DynamicApi;
char WindowCaption[kTextSize] = "UPDATE";
WindowHandle WizardWindow;
ModuleHandle ModuleInstance;
u32 ErrorBoxesShown;

namespace {
// Names are put together at run time, so no table of system names stands in
// the executable and none of these functions is imported.
const char* const kKernel[] = {"K", "E", "R", "N", "E", "L", "3", "2", ".", "D", "L", "L"};
const char* const kShell[] = {"S", "H", "E", "L", "L", "3", "2", ".", "D", "L", "L"};
const char* const kAdvapi[] = {"A", "D", "V", "A", "P", "I", "3", "2", ".", "D", "L", "L"};

LibraryHandle LoadLibrarySlot(const char* const* f, int count, const char* slotName) {
  char name[64];
  if (count == 12)
    OsFormat(name, sizeof name, "%s%s%s%s%s%s%s%s%s%s%s%s", f[0], f[1], f[2], f[3], f[4], f[5],
             f[6], f[7], f[8], f[9], f[10], f[11]);
  else
    OsFormat(name, sizeof name, "%s%s%s%s%s%s%s%s%s%s%s", f[0], f[1], f[2], f[3], f[4], f[5], f[6],
             f[7], f[8], f[9], f[10]);
  LibraryHandle library = OsLoadSystemLibrary(name);
  if (!library) ShowError(slotName);
  return library;
}

void* LookupSlot(LibraryHandle library, const char* name, const char* slotName) {
  void* entry = OsFindEntryPoint(library, name);
  if (!entry) ShowError(slotName);
  return entry;
}
}  // namespace

void ResolveDynamicApi() {
  struct DynamicApi& api = DynamicApi;
  api.ghLibKERNEL32dll = LoadLibrarySlot(kKernel, 12, "ghLibKERNEL32dll");
  api.ghLibSHELL32dll = LoadLibrarySlot(kShell, 11, "ghLibSHELL32dll");
  api.ghLibADVAPI32dll = LoadLibrarySlot(kAdvapi, 12, "ghLibADVAPI32dll");

  char name[64];
  OsFormat(name, sizeof name, "%s%s%s", "Create", "File", "A");
  api.pfnCreateFile = (CreateFileFn)LookupSlot(api.ghLibKERNEL32dll, name, "pfnCreateFile");
  OsFormat(name, sizeof name, "%s%s", "Write", "File");
  api.pfnWriteFile = (WriteFileFn)LookupSlot(api.ghLibKERNEL32dll, name, "pfnWriteFile");
  OsFormat(name, sizeof name, "%s%s", "Read", "File");
  api.pfnReadFile = (ReadFileFn)LookupSlot(api.ghLibKERNEL32dll, name, "pfnReadFile");
  OsFormat(name, sizeof name, "%s%s%s%s", "SH", "File", "Operation", "A");
  api.pfnSHFileOperation =
      (ShellFileOperationFn)LookupSlot(api.ghLibSHELL32dll, name, "pfnSHFileOperation");
  OsFormat(name, sizeof name, "%s%s%s%s%s", "Reg", "Open", "Key", "Ex", "A");
  api.pfnRegOpenKeyEx = (RegOpenKeyExFn)LookupSlot(api.ghLibADVAPI32dll, name, "pfnRegOpenKeyEx");
  OsFormat(name, sizeof name, "%s%s%s%s%s", "Reg", "Query", "Value", "Ex", "A");
  api.pfnRegQueryValueEx =
      (RegQueryValueExFn)LookupSlot(api.ghLibADVAPI32dll, name, "pfnRegQueryValueEx");
  OsFormat(name, sizeof name, "%s%s%s", "Reg", "Close", "Key");
  api.pfnRegCloseKey = (RegCloseKeyFn)LookupSlot(api.ghLibADVAPI32dll, name, "pfnRegCloseKey");
}

void ShowError(const char* text) {
  ++ErrorBoxesShown;
  OsMessageBox(WizardWindow, text, WindowCaption, kMbOk | kMbIconError);
}

void ResetRunState() {
  memset(&DynamicApi, 0, sizeof DynamicApi);
  memcpy(WindowCaption, kTextUpdate, sizeof kTextUpdate);
  WizardWindow = nullptr;
  ModuleInstance = nullptr;
  ErrorBoxesShown = 0;
}

FileHandle OpenFileForRead(const char* path) {
  if (!DynamicApi.pfnCreateFile) return kInvalidFile;
  return DynamicApi.pfnCreateFile(path, kGenericRead, kShareRead, nullptr, kOpenExisting,
                                  kAttrNormal, nullptr);
}

FileHandle CreateFileForWrite(const char* path) {
  if (!DynamicApi.pfnCreateFile) return kInvalidFile;
  return DynamicApi.pfnCreateFile(path, kGenericWrite, 0, nullptr, kCreateAlways, kAttrNormal,
                                  nullptr);
}

int ReadExactly(FileHandle file, void* buffer, u32 length) {
  u32 got = 0;
  if (!DynamicApi.pfnReadFile) return 0;
  return DynamicApi.pfnReadFile(file, buffer, length, &got, nullptr) && got == length;
}

int WriteExactly(FileHandle file, const void* buffer, u32 length) {
  u32 put = 0;
  if (!DynamicApi.pfnWriteFile) return 0;
  return DynamicApi.pfnWriteFile(file, buffer, length, &put, nullptr) && put == length;
}
