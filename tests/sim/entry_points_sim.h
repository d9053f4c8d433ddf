// The host simulation's stand-ins for the system functions that the updater
// reaches by name (see dynlib.h). dynlib_host.cpp hands them out.
#pragma once
#if !defined(_WIN32)
#include "platform/dynlib.h"
#include "sim/sim.h"

FileHandle HostCreateFileA(const char* path, u32 access, u32 share, void* security,
                           u32 disposition, u32 flags, FileHandle templateFile);
int HostWriteFile(FileHandle file, const void* buffer, u32 length, u32* written, void* overlapped);
int HostReadFile(FileHandle file, void* buffer, u32 length, u32* read, void* overlapped);
void* HostFindResourceA(ModuleHandle module, const char* name, const char* type);
u32 HostSizeofResource(ModuleHandle module, void* info);
void* HostLoadResource(ModuleHandle module, void* info);
void* HostLockResource(void* data);
int HostSHFileOperationA(ShellFileOp* operation);
long HostRegOpenKeyExA(RegistryKey key, const char* subKey, u32 options, u32 access,
                       RegistryKey* result);
long HostRegQueryValueExA(RegistryKey key, const char* name, u32* reserved, u32* type, u8* data,
                          u32* size);
long HostRegCloseKey(RegistryKey key);
#endif
