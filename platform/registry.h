// The registry. The updater reads it only through the ADVAPI32 entry points
// (dynlib.h); this header holds the host simulation's key tree.
#pragma once
#include "platform/base.h"

enum : u32 { kRegSz = 1, kRegBinary = 3, kRegDword = 4 };

#if !defined(_WIN32)
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
#endif
