#include "platform/tool_files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/posix_time.h"

namespace {

bool Fail(std::string* error, const std::string& path, const std::string& what, int code) {
  if (error) *error = path + ": " + what + ": " + std::strerror(code);
  return false;
}

// Opens an existing plain file for reading; a folder is refused as such.
int OpenForReading(const std::string& path, std::string* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Fail(error, path, "cannot open", errno);
    return -1;
  }
  struct stat st;
  int code = 0;
  if (fstat(fd, &st) != 0) code = errno;
  else if (S_ISDIR(st.st_mode)) code = EISDIR;
  else if (!S_ISREG(st.st_mode)) code = EINVAL;
  if (!code) return fd;
  close(fd);
  Fail(error, path, "cannot read", code);
  return -1;
}

bool WriteAll(int fd, const uint8_t* bytes, size_t length) {
  while (length) {
    const ssize_t n = write(fd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    length -= (size_t)n;
  }
  return true;
}


bool IsExistingFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  const int fd = OpenForReading(path, error);
  if (fd < 0) return false;
  bytes->clear();
  uint8_t chunk[1 << 16];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int code = errno;
      close(fd);
      return Fail(error, path, "cannot read", code);
    }
    if (n == 0) break;
    bytes->insert(bytes->end(), chunk, chunk + n);
  }
  close(fd);
  return true;
}

bool MoveOver(const std::string& from, const std::string& to, std::string* error) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  *error = "cannot move " + from + " to " + to + ": " + std::strerror(errno);
  return false;
}

void RemoveFileQuietly(const std::string& path) { unlink(path.c_str()); }

bool IsExistingFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool MakeFolders(const std::string& path, std::string* error) {
  std::error_code failed;
  std::filesystem::create_directories(path, failed);
  if (IsExistingFolder(path)) return true;
  return Fail(error, path, "cannot make the folder", failed ? failed.value() : ENOTDIR);
}

bool SameExistingFile(const std::string& a, const std::string& b) {
  struct stat x, y;
  return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
         x.st_ino == y.st_ino;
}

bool FileModified(const std::string& path, FileTime* time) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  *time = FileTimeFromTimespec(st.st_mtim);
  return true;
}

std::string ExecutableFolder() {
  std::string path(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", &path[0], path.size());
  if (n <= 0 || (size_t)n >= path.size()) return "";
  path.resize((size_t)n);
  const size_t cut = path.rfind('/');
  return cut == std::string::npos ? "" : path.substr(0, cut);
}

bool FolderFileNames(const std::string& folder, std::vector<std::string>* names) {
  names->clear();
  std::error_code error;
  std::filesystem::directory_iterator it(folder, error), end;
  if (error) return false;
  for (; !error && it != end; it.increment(error))
    if (it->is_regular_file(error)) names->push_back(it->path().filename().string());
  return true;
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

void UseBinaryStandardStreams() {}

// ---- mapped reading

MappedFile::~MappedFile() {
  if (data_ && size_) munmap(const_cast<uint8_t*>(data_), (size_t)size_);
}

bool MappedFile::Open(const std::string& path, std::string* error) {
  const int fd = OpenForReading(path, error);
  if (fd < 0) return false;
  struct stat st;
  fstat(fd, &st);
  size_ = (uint64_t)st.st_size;
  if (size_ == 0) {
    close(fd);
    static const uint8_t kEmpty = 0;
    data_ = &kEmpty;
    return true;
  }
  void* mapped = mmap(nullptr, (size_t)size_, PROT_READ, MAP_PRIVATE, fd, 0);
  const int code = errno;
  close(fd);
  if (mapped == MAP_FAILED) {
    size_ = 0;
    return Fail(error, path, "cannot map", code);
  }
  madvise(mapped, (size_t)size_, MADV_SEQUENTIAL);
  data_ = (const uint8_t*)mapped;
  return true;
}

void MappedFile::Release(uint64_t offset, uint64_t length) {
  const uint64_t page = (uint64_t)sysconf(_SC_PAGESIZE);
  const uint64_t from = (offset + page - 1) / page * page;
  const uint64_t to = std::min<uint64_t>(offset + length, size_) / page * page;
  if (size_ && to > from)
    madvise(const_cast<uint8_t*>(data_) + from, (size_t)(to - from), MADV_DONTNEED);
}

// ---- output

bool OutputFile::Open(const std::string& destination, std::string* error) {
  Abandon();
  struct stat st;
  if (lstat(destination.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    return Fail(error, destination, "cannot write", EISDIR);
  const size_t slash = destination.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : destination.substr(0, slash + 1);
  std::string name = (slash == std::string::npos ? "./" : folder) + ".qk2-XXXXXX";
  const int fd = mkostemp(&name[0], O_CLOEXEC);  // a new file, never an existing one or a link
  if (fd < 0) return Fail(error, destination, "cannot create a file beside it", errno);
  destination_ = destination;
  temporary_ = name;
  file_ = fd;
  return true;
}

bool OutputFile::Write(const void* bytes, size_t length, std::string* error) {
  if (file_ < 0) return Fail(error, destination_, "cannot write", EBADF);
  if (WriteAll((int)file_, (const uint8_t*)bytes, length)) return true;
  return Fail(error, destination_, "cannot write", errno ? errno : EIO);
}

bool OutputFile::Commit(const FileTime* time, bool readOnly, std::string* error) {
  if (file_ < 0) return Fail(error, destination_, "cannot write", EBADF);
  const int fd = (int)file_;
  if (fchmod(fd, readOnly ? 0444 : 0644) != 0 || fsync(fd) != 0)
    return Fail(error, destination_, "cannot write", errno);
  if (time) {
    struct timespec times[2] = {TimespecFromFileTime(time), TimespecFromFileTime(time)};
    if (futimens(fd, times) != 0) return Fail(error, destination_, "cannot set the time", errno);
  }
  file_ = -1;
  if (close(fd) != 0) {
    const int code = errno;
    Abandon();
    return Fail(error, destination_, "cannot write", code);
  }
  if (std::rename(temporary_.c_str(), destination_.c_str()) != 0) {
    const int code = errno;
    Abandon();
    return Fail(error, destination_, "cannot replace", code);
  }
  temporary_.clear();
  return true;
}

void OutputFile::Abandon() {
  if (file_ >= 0) close((int)file_);
  file_ = -1;
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
}
