// Module resources. The updater reaches FindResourceA and its companions only
// through the kernel library's entry points (dynlib.h); this header holds the
// host simulation's resource table.
#pragma once
#include "platform/base.h"

#if !defined(_WIN32)
// The module handle the host simulation answers resource calls for.
ModuleHandle HostModule();
// Registers `size` bytes (copied) as resource `type`/`id` of HostModule();
// replaces an earlier one with the same type and id.
void HostSetResource(const char* type, int id, const void* bytes, u32 size);
void HostResetResources();
#endif
