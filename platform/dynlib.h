// Loading the system libraries and looking up their entry points by name.
//
// The updater resolves its file, shell-copy, registry and resource functions
// at run time. The slot types below are the signatures of the Win32 functions
// they hold (CreateFileA, ReadFile, ...), written in this layer's types.
#pragma once
#include "platform/base.h"

// SHFILEOPSTRUCTA. The 32-bit Windows headers pack it to one byte; the host
// keeps the same field names. shell_win.cpp pins the layout to the real one.
#if defined(_WIN32) && !defined(_WIN64)
#pragma pack(push, 1)
#endif
struct ShellFileOp {
  WindowHandle hwnd;
  u32 wFunc;
  const char* pFrom;
  const char* pTo;
  u16 fFlags;
  int fAnyOperationsAborted;
  void* hNameMappings;
  const char* lpszProgressTitle;
};
#if defined(_WIN32) && !defined(_WIN64)
#pragma pack(pop)
#endif

enum : u32 { kFoCopy = 2 };
enum : u16 {
  kFofNoConfirmation = 0x0010,
  kFofNoConfirmMkdir = 0x0200,
  kFofNoErrorUi = 0x0400,
};

#define kHkeyCurrentUser ((RegistryKey)(uintptr_t)0x80000001u)
enum : u32 { kKeyRead = 0x20019 };  // 131097
enum : long { kErrorSuccess = 0 };

typedef FileHandle(PLATFORM_CALL* CreateFileFn)(const char* path, u32 access, u32 share,
                                                void* security, u32 disposition, u32 flags,
                                                FileHandle templateFile);
typedef int(PLATFORM_CALL* WriteFileFn)(FileHandle file, const void* buffer, u32 length,
                                        u32* written, void* overlapped);
typedef int(PLATFORM_CALL* ReadFileFn)(FileHandle file, void* buffer, u32 length, u32* read,
                                       void* overlapped);
typedef int(PLATFORM_CALL* ShellFileOperationFn)(ShellFileOp* operation);
typedef long(PLATFORM_CALL* RegOpenKeyExFn)(RegistryKey key, const char* subKey, u32 options,
                                            u32 access, RegistryKey* result);
typedef long(PLATFORM_CALL* RegQueryValueExFn)(RegistryKey key, const char* name, u32* reserved,
                                               u32* type, u8* data, u32* size);
typedef long(PLATFORM_CALL* RegCloseKeyFn)(RegistryKey key);
// `name` and `type` may be integer identifiers (MAKEINTRESOURCE).
typedef void*(PLATFORM_CALL* FindResourceFn)(ModuleHandle module, const char* name,
                                             const char* type);
typedef u32(PLATFORM_CALL* SizeofResourceFn)(ModuleHandle module, void* info);
typedef void*(PLATFORM_CALL* LoadResourceFn)(ModuleHandle module, void* info);
typedef void*(PLATFORM_CALL* LockResourceFn)(void* data);

#define kIntResource(id) ((const char*)(uintptr_t)(u16)(id))

// Restricts the DLL search of this process to the system folder
// (SetDefaultDllDirectories where the system has it, else SetDllDirectoryA("")).
// Call before anything loads a library.
void OsRestrictDllSearch();
// LoadLibraryA of `fileName` from the system folder only; null on failure.
LibraryHandle OsLoadSystemLibrary(const char* fileName);
// GetProcAddress; null when `library` is null or the name is unknown.
void* OsFindEntryPoint(LibraryHandle library, const char* name);
