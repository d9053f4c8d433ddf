// The entry-point table on POSIX. The three libraries are names the table
// resolves; behind them stand POSIX files for CreateFileA, ReadFile and
// WriteFile, and honest refusals for what Linux has not: no module
// resources, no shell copy, no registry (every key is missing).
#include "platform/dynlib.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix_file.h"
#include "platform/text.h"

namespace {

const long kErrorFileNotFound = 2;

FileHandle PLATFORM_CALL PosixCreateFile(const char* path, u32 access, u32 share, void* security,
                                         u32 disposition, u32 flags, FileHandle templateFile) {
  (void)share;
  (void)security;
  (void)flags;
  (void)templateFile;
  if (!path) return kInvalidFile;
  int mode = (access & kGenericWrite) ? ((access & kGenericRead) ? O_RDWR : O_WRONLY) : O_RDONLY;
  mode |= O_CLOEXEC;
  if (disposition == kCreateAlways) {
    // Never through a symbolic link, and never a read-only file (as Windows).
    struct stat st;
    if (lstat(path, &st) == 0 && (S_ISDIR(st.st_mode) || !(st.st_mode & S_IWUSR)))
      return kInvalidFile;
    mode |= O_CREAT | O_TRUNC | O_NOFOLLOW;
  } else if (disposition != kOpenExisting) {
    return kInvalidFile;
  }
  const int fd = open(path, mode, 0666);
  if (fd < 0) return kInvalidFile;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    return kInvalidFile;
  }
  PosixFile* file = (PosixFile*)malloc(sizeof(PosixFile));
  if (!file) {
    close(fd);
    return kInvalidFile;
  }
  file->fd = fd;
  return (FileHandle)file;
}

int Descriptor(FileHandle file) {
  return file == kInvalidFile || !file ? -1 : ((PosixFile*)file)->fd;
}

int PLATFORM_CALL PosixWriteFile(FileHandle file, const void* buffer, u32 length, u32* written,
                                 void* overlapped) {
  (void)overlapped;
  if (written) *written = 0;
  if (Descriptor(file) < 0) return 0;
  const char* p = (const char*)buffer;
  u32 done = 0;
  while (done < length) {
    const ssize_t n = write(Descriptor(file), p + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += (u32)n;
  }
  if (written) *written = done;
  return done == length;
}

// A short count at the end of the file is a successful read, as on Windows.
int PLATFORM_CALL PosixReadFile(FileHandle file, void* buffer, u32 length, u32* read,
                                void* overlapped) {
  (void)overlapped;
  if (read) *read = 0;
  if (Descriptor(file) < 0) return 0;
  char* p = (char*)buffer;
  u32 done = 0;
  while (done < length) {
    const ssize_t n = ::read(Descriptor(file), p + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return 0;
    if (n == 0) break;
    done += (u32)n;
  }
  if (read) *read = done;
  return 1;
}

void* PLATFORM_CALL NoResource(ModuleHandle, const char*, const char*) { return nullptr; }
u32 PLATFORM_CALL NoResourceSize(ModuleHandle, void*) { return 0; }
void* PLATFORM_CALL NoResourceLoad(ModuleHandle, void*) { return nullptr; }
void* PLATFORM_CALL NoResourceLock(void*) { return nullptr; }
int PLATFORM_CALL NoShellCopy(ShellFileOp*) { return 1; }
long PLATFORM_CALL NoKey(RegistryKey, const char*, u32, u32, RegistryKey*) {
  return kErrorFileNotFound;
}
long PLATFORM_CALL NoValue(RegistryKey, const char*, u32*, u32*, u8*, u32*) {
  return kErrorFileNotFound;
}
long PLATFORM_CALL CloseNoKey(RegistryKey) { return kErrorSuccess; }

const char* const kLibraries[] = {"KERNEL32.DLL", "SHELL32.DLL", "ADVAPI32.DLL"};

struct EntryPoint {
  int library;  // index into kLibraries
  const char* name;
  void* function;
};
const EntryPoint kEntryPoints[] = {
    {0, "CreateFileA", (void*)&PosixCreateFile},
    {0, "WriteFile", (void*)&PosixWriteFile},
    {0, "ReadFile", (void*)&PosixReadFile},
    {0, "FindResourceA", (void*)&NoResource},
    {0, "SizeofResource", (void*)&NoResourceSize},
    {0, "LoadResource", (void*)&NoResourceLoad},
    {0, "LockResource", (void*)&NoResourceLock},
    {1, "SHFileOperationA", (void*)&NoShellCopy},
    {2, "RegOpenKeyExA", (void*)&NoKey},
    {2, "RegQueryValueExA", (void*)&NoValue},
    {2, "RegCloseKey", (void*)&CloseNoKey},
};
}  // namespace

void OsRestrictDllSearch() {}

LibraryHandle OsLoadSystemLibrary(const char* fileName) {
  for (const char* const& library : kLibraries)
    if (fileName && OsCompareNoCase(library, fileName) == 0) return (LibraryHandle)&library;
  return nullptr;
}

void* OsFindEntryPoint(LibraryHandle handle, const char* name) {
  if (!handle || !name) return nullptr;
  for (const EntryPoint& entry : kEntryPoints)
    if (handle == (LibraryHandle)&kLibraries[entry.library] && strcmp(entry.name, name) == 0)
      return entry.function;
  return nullptr;
}
