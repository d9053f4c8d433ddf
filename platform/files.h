// Files, folders, drives and the temporary folder (kernel services the
// updater calls directly). Opening, reading and writing go through the
// entry-point table instead (see dynlib.h), so they are not here.
//
// Paths are the system's own: Windows paths on Windows ("D:\Games\X\a.dat"),
// native paths on POSIX. The tests' simulation takes Windows paths and maps
// each drive letter to a host folder.
#pragma once
#include "platform/base.h"

// GetFileAttributesA: the attribute bits, or kNoAttributes.
u32 OsGetFileAttributes(const char* path);
// SetFileAttributesA: 1 or 0.
int OsSetFileAttributes(const char* path, u32 attributes);
// GetFileTime: any pointer may be null. 1 or 0.
int OsGetFileTime(FileHandle file, FileTime* creation, FileTime* access, FileTime* write);
// SetFileTime: any pointer may be null (that time stays). 1 or 0.
int OsSetFileTime(FileHandle file, const FileTime* creation, const FileTime* access,
                  const FileTime* write);
// GetFileSize for files below 4 GiB: the size, or kInvalidFileSize.
u32 OsGetFileSize(FileHandle file);
// SetFilePointer from the beginning: 1 or 0.
int OsSeekFile(FileHandle file, u32 offset);
// FlushFileBuffers: waits until the file's written bytes are on the disk.
// 1, also where the device does not flush at all (some network and virtual
// drives, which refuse the call as unsupported); 0 when the flush fails.
int OsFlushFile(FileHandle file);
// CloseHandle: 1 or 0.
int OsCloseFile(FileHandle file);
// CreateDirectoryA without security attributes: 1 or 0 (0 also when it exists).
int OsCreateDirectory(const char* path);
// DeleteFileA: 1 or 0.
int OsDeleteFile(const char* path);
// MoveFileExA with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH: puts
// `from` in the place of `to` in one step (same folder). 1 or 0.
int OsReplaceFile(const char* from, const char* to);
// GetDiskFreeSpaceExA: the bytes free to the caller on the drive of `root`
// ("C:" or "C:\"). 1 or 0; on 0 `*freeToCaller` is not written.
int OsGetDiskFreeSpace(const char* root, u64* freeToCaller);
// GetDriveTypeA for "Q:" or "Q:\".
u32 OsGetDriveType(const char* root);
// GetTempPathA: writes the temporary folder (ending in a backslash) into
// `buffer` when it fits `size` and returns its length; returns the needed
// size (terminator included) when it does not fit, 0 on failure.
u32 OsGetTempPath(u32 size, char* buffer);
// GetTempFileNameA with a unique number: creates an empty file
// "<folder><prefix><hex>.tmp" and writes its path (at most kPathSize bytes)
// into `out`. 1 or 0.
int OsCreateTempFile(const char* folder, const char* prefix, char* out);
