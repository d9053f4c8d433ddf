#include "platform/dynlib.h"

#include <set>
#include <string>

#include "sim/entry_points_sim.h"
#include "platform/text.h"
#include "sim/sim.h"

namespace {
struct Library {
  const char* fileName;
};
const Library kLibraries[] = {{"KERNEL32.DLL"}, {"SHELL32.DLL"}, {"ADVAPI32.DLL"}};

struct EntryPoint {
  int library;  // index into kLibraries
  const char* name;
  void* function;
};
const EntryPoint kEntryPoints[] = {
    {0, "CreateFileA", (void*)&HostCreateFileA},
    {0, "WriteFile", (void*)&HostWriteFile},
    {0, "ReadFile", (void*)&HostReadFile},
    {0, "FindResourceA", (void*)&HostFindResourceA},
    {0, "SizeofResource", (void*)&HostSizeofResource},
    {0, "LoadResource", (void*)&HostLoadResource},
    {0, "LockResource", (void*)&HostLockResource},
    {1, "SHFileOperationA", (void*)&HostSHFileOperationA},
    {2, "RegOpenKeyExA", (void*)&HostRegOpenKeyExA},
    {2, "RegQueryValueExA", (void*)&HostRegQueryValueExA},
    {2, "RegCloseKey", (void*)&HostRegCloseKey},
};

std::set<std::string> missingLibraries;
std::set<std::string> missingEntryPoints;

std::string Upper(const char* s) {
  std::string u(s);
  for (char& c : u) c = (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
  return u;
}
}  // namespace

void OsRestrictDllSearch() {}

LibraryHandle OsLoadSystemLibrary(const char* fileName) {
  if (missingLibraries.count(Upper(fileName))) return nullptr;
  for (const Library& library : kLibraries) {
    if (OsCompareNoCase(library.fileName, fileName) == 0) return (LibraryHandle)&library;
  }
  return nullptr;
}

void* OsFindEntryPoint(LibraryHandle handle, const char* name) {
  if (!handle || missingEntryPoints.count(name)) return nullptr;
  for (const EntryPoint& entry : kEntryPoints) {
    if (handle == (LibraryHandle)&kLibraries[entry.library] && std::string(entry.name) == name)
      return entry.function;
  }
  return nullptr;
}

void HostSetLibraryMissing(const char* fileName, int missing) {
  if (missing) missingLibraries.insert(Upper(fileName));
  else missingLibraries.erase(Upper(fileName));
}

void HostSetEntryPointMissing(const char* name, int missing) {
  if (missing) missingEntryPoints.insert(name);
  else missingEntryPoints.erase(name);
}

void HostResetLibraries() {
  missingLibraries.clear();
  missingEntryPoints.clear();
}
