// Types and constants shared by the updater's logic and both platform layers.
//
// The logic is written once against this layer. Values that cross into the
// operating system keep the Win32 numbers, so the Win32 side passes them on
// unchanged and the host simulation gives them the same meaning.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define PLATFORM_CALL __stdcall
#else
#define PLATFORM_CALL
#endif

typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef int32_t i32;
typedef uint64_t u64;
typedef int64_t i64;

// Every path in the program fits this, terminator included.
enum { kPathSize = 260 };
// Notices, list lines and formatted messages.
enum { kTextSize = 1024 };

// Same layout as the Win32 FILETIME: 100-ns units since 1601-01-01 UTC.
struct FileTime {
  u32 low;
  u32 high;
};

static inline u64 FileTimeValue(const FileTime* t) {
  return ((u64)t->high << 32) | t->low;
}
static inline FileTime MakeFileTime(u64 value) {
  FileTime t;
  t.low = (u32)value;
  t.high = (u32)(value >> 32);
  return t;
}

typedef void* FileHandle;      // HANDLE of a file
typedef void* WindowHandle;    // HWND
typedef void* ModuleHandle;    // HINSTANCE / HMODULE
typedef void* LibraryHandle;   // HMODULE from a library load
typedef void* RegistryKey;     // HKEY

#define kInvalidFile ((FileHandle)(intptr_t)-1)

// File access (CreateFileA).
enum : u32 {
  kGenericRead = 0x80000000u,
  kGenericWrite = 0x40000000u,
  kShareRead = 0x00000001u,
  kCreateAlways = 2,
  kOpenExisting = 3,
};

// File attributes (GetFileAttributesA / SetFileAttributesA).
enum : u32 {
  kAttrReadOnly = 0x01,
  kAttrHidden = 0x02,
  kAttrSystem = 0x04,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
  kAttrNormal = 0x80,
  kNoAttributes = 0xFFFFFFFFu,  // INVALID_FILE_ATTRIBUTES
};

enum : u32 { kInvalidFileSize = 0xFFFFFFFFu };

// Drive types (GetDriveTypeA).
enum : u32 {
  kDriveUnknown = 0,
  kDriveNoRootDir = 1,
  kDriveRemovable = 2,
  kDriveFixed = 3,
  kDriveRemote = 4,
  kDriveCdrom = 5,
  kDriveRamDisk = 6,
};
