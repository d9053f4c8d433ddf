// Fault points for a test build of qk2 (qk2_faults): every file call that
// the tool's own code makes goes through here, linked with
// -Wl,--wrap=<call>, so the shipped qk2 carries nothing of it. Each call is
// counted; the one numbered QK2_FAULT_AT (1 = the first) fails as the
// system fails it, and QK2_FAULT_COUNT names a file that receives the count
// when the program ends, and on a second line the call that failed. With
// QK2_FAULT_ON="<call> <end of a path>" (say "open UPDATE.INI"), only the
// calls of that name on such a path are counted.
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
int __real_open(const char* path, int flags, ...);
ssize_t __real_read(int fd, void* buffer, size_t length);
ssize_t __real_write(int fd, const void* buffer, size_t length);
int __real_close(int fd);
int __real_fsync(int fd);
int __real_fchmod(int fd, mode_t mode);
int __real_futimens(int fd, const struct timespec times[2]);
int __real_rename(const char* from, const char* to);
int __real_unlink(const char* path);
int __real_mkostemp(char* pattern, int flags);
int __real_mkdir(const char* path, mode_t mode);
int __real_stat(const char* path, struct stat* st);
int __real_lstat(const char* path, struct stat* st);
int __real_fstat(int fd, struct stat* st);
void* __real_mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset);

int __wrap_open(const char* path, int flags, ...);
ssize_t __wrap_read(int fd, void* buffer, size_t length);
ssize_t __wrap_write(int fd, const void* buffer, size_t length);
int __wrap_close(int fd);
int __wrap_fsync(int fd);
int __wrap_fchmod(int fd, mode_t mode);
int __wrap_futimens(int fd, const struct timespec times[2]);
int __wrap_rename(const char* from, const char* to);
int __wrap_unlink(const char* path);
int __wrap_mkostemp(char* pattern, int flags);
int __wrap_mkdir(const char* path, mode_t mode);
int __wrap_stat(const char* path, struct stat* st);
int __wrap_lstat(const char* path, struct stat* st);
int __wrap_fstat(int fd, struct stat* st);
void* __wrap_mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset);
}

namespace {
long calls;
long failAt = -1;  // -1: not read yet
char failed[1024];

void WriteCount() {
  const char* path = getenv("QK2_FAULT_COUNT");
  if (!path) return;
  if (FILE* out = fopen(path, "w")) {
    fprintf(out, "%ld\n%s\n", calls, failed);
    fclose(out);
  }
}

bool Counted(const char* call, const char* path) {
  const char* on = getenv("QK2_FAULT_ON");
  if (!on) return true;
  const size_t name = strlen(call), length = strlen(path);
  if (strncmp(on, call, name) != 0 || on[name] != ' ') return false;
  const char* end = on + name + 1;
  const size_t endLength = strlen(end);
  return length >= endLength && strcmp(path + length - endLength, end) == 0;
}

// Counts a call; true when it is the one to fail, with errno set to `code`.
bool Fails(int code, const char* call, const char* path = "") {
  if (failAt < 0) {
    const char* at = getenv("QK2_FAULT_AT");
    failAt = at ? atol(at) : 0;
    atexit(WriteCount);
  }
  if (!Counted(call, path ? path : "")) return false;
  if (++calls != failAt) return false;
  snprintf(failed, sizeof failed, "%s %s", call, path ? path : "");
  errno = code;
  return true;
}
}  // namespace

int __wrap_open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list arguments;
    va_start(arguments, flags);
    mode = (mode_t)va_arg(arguments, int);
    va_end(arguments);
  }
  if (Fails(EACCES, "open", path)) return -1;
  return __real_open(path, flags, mode);
}

ssize_t __wrap_read(int fd, void* buffer, size_t length) {
  return Fails(EIO, "read") ? -1 : __real_read(fd, buffer, length);
}

ssize_t __wrap_write(int fd, const void* buffer, size_t length) {
  return Fails(ENOSPC, "write") ? -1 : __real_write(fd, buffer, length);
}

// A close that fails has still closed the descriptor.
int __wrap_close(int fd) {
  if (!Fails(EIO, "close")) return __real_close(fd);
  __real_close(fd);
  errno = EIO;
  return -1;
}

int __wrap_fsync(int fd) { return Fails(EIO, "fsync") ? -1 : __real_fsync(fd); }
int __wrap_fchmod(int fd, mode_t mode) { return Fails(EPERM, "fchmod") ? -1 : __real_fchmod(fd, mode); }
int __wrap_futimens(int fd, const struct timespec times[2]) {
  return Fails(EPERM, "futimens") ? -1 : __real_futimens(fd, times);
}
int __wrap_rename(const char* from, const char* to) {
  return Fails(EIO, "rename", to) ? -1 : __real_rename(from, to);
}
int __wrap_unlink(const char* path) { return Fails(EIO, "unlink", path) ? -1 : __real_unlink(path); }
int __wrap_mkostemp(char* pattern, int flags) {
  return Fails(ENOSPC, "mkostemp", pattern) ? -1 : __real_mkostemp(pattern, flags);
}
int __wrap_mkdir(const char* path, mode_t mode) {
  return Fails(EACCES, "mkdir", path) ? -1 : __real_mkdir(path, mode);
}
int __wrap_stat(const char* path, struct stat* st) {
  return Fails(EIO, "stat", path) ? -1 : __real_stat(path, st);
}
int __wrap_lstat(const char* path, struct stat* st) {
  return Fails(EIO, "lstat", path) ? -1 : __real_lstat(path, st);
}
int __wrap_fstat(int fd, struct stat* st) { return Fails(EIO, "fstat") ? -1 : __real_fstat(fd, st); }
void* __wrap_mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
  return Fails(ENOMEM, "mmap") ? MAP_FAILED : __real_mmap(address, length, protection, flags, fd, offset);
}
