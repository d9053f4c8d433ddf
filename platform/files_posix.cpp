// Files on POSIX, by native path. Nothing here follows a symbolic link when
// it changes a file: attributes, deletion and creation act on the link
// itself or refuse it. Linux has no drives: a path is on the file system
// that holds it, there is no CD-ROM drive letter, and the free space is
// that of the folder asked for.
#include "platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/posix_file.h"
#include "platform/posix_time.h"

namespace {



int IsReadOnly(const struct stat& st) { return !S_ISDIR(st.st_mode) && !(st.st_mode & S_IWUSR); }

int Descriptor(FileHandle file) {
  return file == kInvalidFile || !file ? -1 : ((PosixFile*)file)->fd;
}
}  // namespace

u32 OsGetFileAttributes(const char* path) {
  struct stat st;
  if (!path || lstat(path, &st) != 0) return kNoAttributes;
  if (S_ISDIR(st.st_mode)) return kAttrDirectory;
  return IsReadOnly(st) ? kAttrReadOnly : kAttrNormal;
}

// Only read-only means anything here: it is the owner's write bit.
int OsSetFileAttributes(const char* path, u32 attributes) {
  struct stat st;
  if (!path || lstat(path, &st) != 0 || S_ISLNK(st.st_mode)) return 0;
  if (S_ISDIR(st.st_mode)) return 1;
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & kAttrReadOnly) ? (mode & ~(mode_t)0222) : (mode | S_IWUSR);
  return chmod(path, mode) == 0 ? 1 : 0;
}

// Linux keeps no settable creation time: it reads as the last-write time.
int OsGetFileTime(FileHandle file, FileTime* creation, FileTime* access, FileTime* write) {
  struct stat st;
  if (Descriptor(file) < 0 || fstat(Descriptor(file), &st) != 0) return 0;
  if (creation) *creation = FileTimeFromTimespec(st.st_mtim);
  if (access) *access = FileTimeFromTimespec(st.st_atim);
  if (write) *write = FileTimeFromTimespec(st.st_mtim);
  return 1;
}

int OsSetFileTime(FileHandle file, const FileTime* creation, const FileTime* access,
                  const FileTime* write) {
  (void)creation;
  if (Descriptor(file) < 0) return 0;
  struct timespec times[2];
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_nsec = UTIME_OMIT;
  if (access) times[0] = TimespecFromFileTime(access);
  if (write) times[1] = TimespecFromFileTime(write);
  return futimens(Descriptor(file), times) == 0 ? 1 : 0;
}

u32 OsGetFileSize(FileHandle file) {
  struct stat st;
  if (Descriptor(file) < 0 || fstat(Descriptor(file), &st) != 0 ||
      st.st_size >= (off_t)kInvalidFileSize)
    return kInvalidFileSize;
  return (u32)st.st_size;
}

int OsSeekFile(FileHandle file, u32 offset) {
  if (Descriptor(file) < 0) return 0;
  return lseek(Descriptor(file), (off_t)offset, SEEK_SET) == (off_t)offset ? 1 : 0;
}

int OsFlushFile(FileHandle file) {
  if (Descriptor(file) < 0) return 0;
  // EINVAL and EROFS: a file that does not support synchronisation.
  return fsync(Descriptor(file)) == 0 || errno == EINVAL || errno == EROFS ? 1 : 0;
}

int OsCloseFile(FileHandle file) {
  if (Descriptor(file) < 0) return 0;
  PosixFile* f = (PosixFile*)file;
  const int ok = close(f->fd) == 0;
  free(f);
  return ok ? 1 : 0;
}

int OsCreateDirectory(const char* path) { return path && mkdir(path, 0777) == 0 ? 1 : 0; }

// As on Windows, a read-only file is not deleted; a symbolic link is, as
// itself.
int OsDeleteFile(const char* path) {
  struct stat st;
  if (!path || lstat(path, &st) != 0 || S_ISDIR(st.st_mode)) return 0;
  if (IsReadOnly(st) && !S_ISLNK(st.st_mode)) return 0;
  return unlink(path) == 0 ? 1 : 0;
}

// rename() replaces a symbolic link at `to` with the file, never what the
// link points at.
int OsReplaceFile(const char* from, const char* to) {
  struct stat st;
  if (!from || !to) return 0;
  if (lstat(to, &st) == 0 && (S_ISDIR(st.st_mode) || IsReadOnly(st))) return 0;
  return rename(from, to) == 0 ? 1 : 0;
}

int OsGetDiskFreeSpace(const char* root, u64* freeToCaller) {
  struct statvfs vfs;
  if (!root || !root[0] || statvfs(root, &vfs) != 0) return 0;
  *freeToCaller = (u64)vfs.f_bavail * vfs.f_frsize;
  return 1;
}

u32 OsGetDriveType(const char* root) {
  struct stat st;
  return root && stat(root, &st) == 0 && S_ISDIR(st.st_mode) ? kDriveFixed : kDriveNoRootDir;
}

u32 OsGetTempPath(u32 size, char* buffer) {
  const char* folder = getenv("TMPDIR");
  if (!folder || !folder[0]) folder = "/tmp";
  const size_t length = strlen(folder);
  const int slash = folder[length - 1] != '/';
  const u32 needed = (u32)(length + slash + 1);
  if (needed > size) return needed;
  memcpy(buffer, folder, length);
  if (slash) buffer[length] = '/';
  buffer[needed - 1] = 0;
  return needed - 1;
}

int OsCreateTempFile(const char* folder, const char* prefix, char* out) {
  char name[kPathSize];
  const size_t folderLength = strlen(folder);
  const char* separator = folderLength && folder[folderLength - 1] != '/' ? "/" : "";
  const int length = snprintf(name, sizeof name, "%s%s%.3sXXXXXX", folder, separator, prefix);
  if (length < 0 || length >= kPathSize) return 0;
  const int fd = mkstemp(name);  // O_EXCL: never an existing file or link
  if (fd < 0) return 0;
  close(fd);
  memcpy(out, name, (size_t)length + 1);
  return 1;
}
