// POSIX files under Windows paths: each drive letter maps to a host folder.
#include "platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "sim/entry_points_sim.h"
#include "sim/faults_sim.h"
#include "platform/posix_time.h"
#include "sim/sim.h"

namespace {
struct Drive {
  std::string folder;
  u32 type = kDriveNoRootDir;
  u64 freeBytes = UINT64_MAX;
};
Drive drives[26];
std::string tempPath;
int failNextFlush;
int waitForDisk = 1;

struct HostFile {
  int fd;
  std::string path;  // the Windows path it was opened by, for the fault trace
};

const std::string& PathOf(FileHandle file) { return ((HostFile*)file)->path; }


int DriveIndex(char letter) {
  if (letter >= 'a' && letter <= 'z') return letter - 'a';
  if (letter >= 'A' && letter <= 'Z') return letter - 'A';
  return -1;
}



int IsReadOnly(const struct stat& st) { return !S_ISDIR(st.st_mode) && !(st.st_mode & S_IWUSR); }
}  // namespace

std::string HostPath(const char* windowsPath) {
  std::string rest = windowsPath;
  std::string result;
  if (rest.size() >= 2 && rest[1] == ':') {
    int index = DriveIndex(rest[0]);
    if (index < 0 || drives[index].folder.empty()) return "";
    result = drives[index].folder;
    rest = rest.substr(2);
    if (rest.empty()) return result;
    if (rest[0] != '\\' && rest[0] != '/') result += '/';
  }
  for (char c : rest) result += c == '\\' ? '/' : c;
  return result;
}

void HostMapDrive(char letter, const char* folder, u32 type, u64 freeBytes) {
  int index = DriveIndex(letter);
  if (index < 0) return;
  drives[index].folder = folder;
  drives[index].type = type;
  drives[index].freeBytes = freeBytes;
}

void HostUnmapDrive(char letter) {
  int index = DriveIndex(letter);
  if (index >= 0) drives[index] = Drive();
}

void HostResetDrives() {
  for (Drive& drive : drives) drive = Drive();
  tempPath.clear();
  failNextFlush = 0;
  waitForDisk = 1;
}

void HostSetTempPath(const char* windowsPath) { tempPath = windowsPath; }

u32 OsGetFileAttributes(const char* path) {
  if (HostFaultHere(kCallGetAttributes, path ? path : "")) return kNoAttributes;
  std::string host = HostPath(path);
  struct stat st;
  if (host.empty() || stat(host.c_str(), &st) != 0) return kNoAttributes;
  if (S_ISDIR(st.st_mode)) return kAttrDirectory;
  return IsReadOnly(st) ? kAttrReadOnly : kAttrNormal;
}

int OsSetFileAttributes(const char* path, u32 attributes) {
  if (HostFaultHere(kCallSetAttributes, path ? path : "")) return 0;
  std::string host = HostPath(path);
  struct stat st;
  if (host.empty() || stat(host.c_str(), &st) != 0) return 0;
  HostChangeHere(path);
  if (S_ISDIR(st.st_mode)) return 1;
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & kAttrReadOnly) ? (mode & ~(mode_t)0222) : (mode | S_IWUSR);
  return chmod(host.c_str(), mode) == 0 ? 1 : 0;
}

// Linux keeps no settable creation time: it reads as the last-write time.
int OsGetFileTime(FileHandle file, FileTime* creation, FileTime* access, FileTime* write) {
  if (file == kInvalidFile || !file) return 0;
  if (HostFaultHere(kCallGetTime, PathOf(file))) return 0;
  struct stat st;
  if (fstat(((HostFile*)file)->fd, &st) != 0) return 0;
  if (creation) *creation = FileTimeFromTimespec(st.st_mtim);
  if (access) *access = FileTimeFromTimespec(st.st_atim);
  if (write) *write = FileTimeFromTimespec(st.st_mtim);
  return 1;
}

int OsSetFileTime(FileHandle file, const FileTime* creation, const FileTime* access,
                  const FileTime* write) {
  (void)creation;
  if (file == kInvalidFile || !file) return 0;
  if (HostFaultHere(kCallSetTime, PathOf(file))) return 0;
  HostChangeHere(PathOf(file));
  struct timespec times[2];
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_nsec = UTIME_OMIT;
  if (access) times[0] = TimespecFromFileTime(access);
  if (write) times[1] = TimespecFromFileTime(write);
  return futimens(((HostFile*)file)->fd, times) == 0 ? 1 : 0;
}

u32 OsGetFileSize(FileHandle file) {
  if (file == kInvalidFile || !file) return kInvalidFileSize;
  if (HostFaultHere(kCallGetSize, PathOf(file))) return kInvalidFileSize;
  struct stat st;
  if (fstat(((HostFile*)file)->fd, &st) != 0 || st.st_size >= (off_t)kInvalidFileSize)
    return kInvalidFileSize;
  return (u32)st.st_size;
}

int OsSeekFile(FileHandle file, u32 offset) {
  if (file == kInvalidFile || !file) return 0;
  return lseek(((HostFile*)file)->fd, (off_t)offset, SEEK_SET) == (off_t)offset ? 1 : 0;
}

int OsFlushFile(FileHandle file) {
  if (file == kInvalidFile || !file) return 0;
  if (HostFaultHere(kCallFlush, PathOf(file))) return 0;
  if (failNextFlush) {
    failNextFlush = 0;
    return 0;
  }
  if (!waitForDisk) return 1;
  // EINVAL and EROFS: a file that does not support synchronisation.
  return fsync(((HostFile*)file)->fd) == 0 || errno == EINVAL || errno == EROFS ? 1 : 0;
}

void HostFailNextFlush() { failNextFlush = 1; }
void HostWaitForDisk(int wait) { waitForDisk = wait; }

int OsCloseFile(FileHandle file) {
  if (file == kInvalidFile || !file) return 0;
  HostFile* f = (HostFile*)file;
  const int fault = HostFaultHere(kCallClose, f->path);
  int ok = close(f->fd) == 0 && !fault;
  delete f;
  return ok ? 1 : 0;
}

int OsCreateDirectory(const char* path) {
  if (HostFaultHere(kCallMakeFolder, path ? path : "")) return 0;
  std::string host = HostPath(path);
  if (!host.empty() && access(host.c_str(), F_OK) != 0) HostChangeHere(path);
  return !host.empty() && mkdir(host.c_str(), 0777) == 0 ? 1 : 0;
}

int OsDeleteFile(const char* path) {
  std::string host = HostPath(path);
  struct stat st;
  if (host.empty() || lstat(host.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return 0;
  if (IsReadOnly(st)) return 0;  // Windows refuses to delete a read-only file
  if (HostFaultHere(kCallDelete, path)) return 0;
  HostChangeHere(path);
  return unlink(host.c_str()) == 0 ? 1 : 0;
}

int OsReplaceFile(const char* from, const char* to) {
  std::string source = HostPath(from), target = HostPath(to);
  struct stat st;
  if (source.empty() || target.empty()) return 0;
  if (stat(target.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || IsReadOnly(st))) return 0;
  if (HostFaultHere(kCallReplace, to)) return 0;
  HostChangeHere(to);
  return rename(source.c_str(), target.c_str()) == 0 ? 1 : 0;
}

int OsGetDiskFreeSpace(const char* root, u64* freeToCaller) {
  if (HostFaultHere(kCallFreeSpace, root ? root : "")) return 0;
  if (!root || !root[0] || root[1] != ':') return 0;
  int index = DriveIndex(root[0]);
  if (index < 0 || drives[index].folder.empty()) return 0;
  if (drives[index].freeBytes != UINT64_MAX) {
    *freeToCaller = drives[index].freeBytes;
    return 1;
  }
  struct statvfs vfs;
  if (statvfs(drives[index].folder.c_str(), &vfs) != 0) return 0;
  *freeToCaller = (u64)vfs.f_bavail * vfs.f_frsize;
  return 1;
}

u32 OsGetDriveType(const char* root) {
  if (HostFaultHere(kCallDriveType, root ? root : "")) return kDriveUnknown;
  if (!root || !root[0] || root[1] != ':') return kDriveNoRootDir;
  int index = DriveIndex(root[0]);
  if (index < 0 || drives[index].folder.empty()) return kDriveNoRootDir;
  return drives[index].type;
}

u32 OsGetTempPath(u32 size, char* buffer) {
  if (HostFaultHere(kCallTempPath, tempPath)) return 0;
  if (tempPath.empty()) return 0;
  u32 needed = (u32)tempPath.size() + 1;
  if (needed > size) return needed;
  memcpy(buffer, tempPath.c_str(), needed);
  return needed - 1;
}

int OsCreateTempFile(const char* folder, const char* prefix, char* out) {
  static unsigned counter = 0;
  if (HostFaultHere(kCallTempName, folder ? folder : "")) return 0;
  for (int attempt = 0; attempt < 0x10000; ++attempt) {
    counter = (counter + 1) & 0xFFFF;
    if (!counter) counter = 1;
    char name[kPathSize];
    size_t folderLength = strlen(folder);
    const char* separator = folderLength && folder[folderLength - 1] != '\\' ? "\\" : "";
    int length = snprintf(name, sizeof name, "%s%s%.3s%X.tmp", folder, separator, prefix, counter);
    if (length < 0 || length >= kPathSize) return 0;
    std::string host = HostPath(name);
    if (host.empty()) return 0;
    if (access(host.c_str(), F_OK) != 0) HostChangeHere(name);
    int fd = open(host.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return 0;
    }
    close(fd);
    memcpy(out, name, (size_t)length + 1);
    return 1;
  }
  return 0;
}

// The entry points the updater resolves by name.

FileHandle HostCreateFileA(const char* path, u32 access, u32 share, void* security,
                           u32 disposition, u32 flags, FileHandle templateFile) {
  (void)share;
  (void)security;
  (void)flags;
  (void)templateFile;
  const int creating = disposition == kCreateAlways;
  if (HostFaultHere(creating ? kCallCreate : kCallOpen, path ? path : "")) return kInvalidFile;
  std::string host = HostPath(path);
  if (host.empty()) return kInvalidFile;
  struct stat st;
  int exists = stat(host.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return kInvalidFile;
  int mode = (access & kGenericWrite) ? ((access & kGenericRead) ? O_RDWR : O_WRONLY) : O_RDONLY;
  if (disposition == kCreateAlways) {
    if (exists && IsReadOnly(st)) return kInvalidFile;  // as Windows: access denied
    mode |= O_CREAT | O_TRUNC;
  } else if (disposition != kOpenExisting) {
    return kInvalidFile;
  }
  if (creating) HostChangeHere(path);
  int fd = open(host.c_str(), mode, 0666);
  if (fd < 0) return kInvalidFile;
  return (FileHandle) new HostFile{fd, path};
}

int HostWriteFile(FileHandle file, const void* buffer, u32 length, u32* written, void* overlapped) {
  (void)overlapped;
  if (written) *written = 0;
  if (file == kInvalidFile || !file) return 0;
  const char* p = (const char*)buffer;
  u32 done = 0;
  // A disk that fills takes part of the bytes and refuses the rest.
  const auto writeHalf = [&] {
    const ssize_t n = write(((HostFile*)file)->fd, p, length / 2);
    if (written && n > 0) *written = (u32)n;
  };
  if (HostFaultHere(kCallWrite, PathOf(file))) {
    writeHalf();
    return 0;
  }
  HostChangeHere(PathOf(file), writeHalf);
  while (done < length) {
    ssize_t n = write(((HostFile*)file)->fd, p + done, length - done);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      if (written) *written = done;
      return 0;
    }
    done += (u32)n;
  }
  if (written) *written = done;
  return 1;
}

int HostReadFile(FileHandle file, void* buffer, u32 length, u32* read, void* overlapped) {
  (void)overlapped;
  if (read) *read = 0;
  if (file == kInvalidFile || !file) return 0;
  if (HostFaultHere(kCallRead, PathOf(file))) return 0;
  char* p = (char*)buffer;
  u32 done = 0;
  while (done < length) {
    ssize_t n = ::read(((HostFile*)file)->fd, p + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return 0;
    if (n == 0) break;  // end of file: a short read that succeeds
    done += (u32)n;
  }
  if (read) *read = done;
  return 1;
}
