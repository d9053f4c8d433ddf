// Pins the ShellFileOp record of dynlib.h to the real SHFILEOPSTRUCTA, so
// the shell reads the fields where the updater wrote them.
#pragma once
#include <windows.h>
#include <shellapi.h>
#include <stddef.h>

#include "platform/dynlib.h"

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
