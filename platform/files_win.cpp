#include "platform/files.h"

#include <windows.h>

u32 OsGetFileAttributes(const char* path) { return GetFileAttributesA(path); }

int OsSetFileAttributes(const char* path, u32 attributes) {
  return SetFileAttributesA(path, attributes) ? 1 : 0;
}

int OsGetFileTime(FileHandle file, FileTime* creation, FileTime* access, FileTime* write) {
  return GetFileTime((HANDLE)file, (FILETIME*)creation, (FILETIME*)access, (FILETIME*)write) ? 1
                                                                                              : 0;
}

int OsSetFileTime(FileHandle file, const FileTime* creation, const FileTime* access,
                  const FileTime* write) {
  return SetFileTime((HANDLE)file, (const FILETIME*)creation, (const FILETIME*)access,
                     (const FILETIME*)write)
             ? 1
             : 0;
}

u32 OsGetFileSize(FileHandle file) {
  DWORD high = 0;
  DWORD low = GetFileSize((HANDLE)file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return kInvalidFileSize;
  if (high) return kInvalidFileSize;
  return low;
}

int OsSeekFile(FileHandle file, u32 offset) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  return SetFilePointerEx((HANDLE)file, distance, nullptr, FILE_BEGIN) ? 1 : 0;
}

int OsFlushFile(FileHandle file) {
  if (FlushFileBuffers((HANDLE)file)) return 1;
  const DWORD error = GetLastError();
  return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ? 1 : 0;
}
int OsCloseFile(FileHandle file) { return CloseHandle((HANDLE)file) ? 1 : 0; }
int OsCreateDirectory(const char* path) { return CreateDirectoryA(path, nullptr) ? 1 : 0; }
int OsDeleteFile(const char* path) { return DeleteFileA(path) ? 1 : 0; }

int OsReplaceFile(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 1 : 0;
}

int OsGetDiskFreeSpace(const char* root, u64* freeToCaller) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExA(root, &available, nullptr, nullptr)) return 0;
  *freeToCaller = available.QuadPart;
  return 1;
}

u32 OsGetDriveType(const char* root) { return GetDriveTypeA(root); }
u32 OsGetTempPath(u32 size, char* buffer) { return GetTempPathA(size, buffer); }

int OsCreateTempFile(const char* folder, const char* prefix, char* out) {
  return GetTempFileNameA(folder, prefix, 0, out) ? 1 : 0;
}
