#include "platform/tool_files.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

// Files are opened, read and written through the C runtime: the kernel's
// CreateFileA, ReadFile and WriteFile stay out of the tool's imports, as
// they stay out of the updater's (the updater reaches them by names put
// together at run time).

namespace {

std::string Reason(DWORD code) {
  char text[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, sizeof text,
                           nullptr);
  while (n && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.')) --n;
  return n ? std::string(text, n) : "error " + std::to_string(code);
}

bool Fail(std::string* error, const std::string& path, const std::string& what, DWORD code) {
  if (error) *error = path + ": " + what + ": " + Reason(code);
  return false;
}

bool FailErrno(std::string* error, const std::string& path, const std::string& what, int code) {
  if (error) *error = path + ": " + what + ": " + std::strerror(code);
  return false;
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A descriptor of an existing plain file, or -1 after a message.
int OpenForReading(const std::string& path, std::string* error) {
  if (IsFolder(path)) {
    Fail(error, path, "cannot read", ERROR_DIRECTORY);
    return -1;
  }
  const int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
  if (fd < 0) FailErrno(error, path, "cannot open", errno);
  return fd;
}

// A cp932 trail byte may equal the backslash: the folder part is found by
// characters.
std::string FolderPart(const std::string& path) {
  size_t cut = 0;
  for (const char* p = path.c_str(); *p; p = CharNextA(p))
    if (*p == '\\' || *p == '/' || (*p == ':' && p == path.c_str() + 1))
      cut = (size_t)(p - path.c_str()) + 1;
  return cut ? path.substr(0, cut) : ".\\";
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  const int fd = OpenForReading(path, error);
  if (fd < 0) return false;
  bytes->clear();
  uint8_t chunk[1 << 16];
  for (;;) {
    const int got = _read(fd, chunk, sizeof chunk);
    if (got < 0) {
      const int code = errno;
      _close(fd);
      return FailErrno(error, path, "cannot read", code);
    }
    if (!got) break;
    bytes->insert(bytes->end(), chunk, chunk + got);
  }
  _close(fd);
  return true;
}

bool MoveOver(const std::string& from, const std::string& to, std::string* error) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  *error = "cannot move " + from + " to " + to + ": " + Reason(GetLastError());
  return false;
}

void RemoveFileQuietly(const std::string& path) { DeleteFileA(path.c_str()); }

bool IsExistingFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeFolders(const std::string& path, std::string* error) {
  if (IsFolder(path)) return true;
  std::string parent = FolderPart(path);
  while (parent.size() > 1 && (parent.back() == '\\' || parent.back() == '/')) parent.pop_back();
  if (!parent.empty() && parent != "." && parent != path && parent.back() != ':' &&
      !MakeFolders(parent, error))
    return false;
  if (CreateDirectoryA(path.c_str(), nullptr) || IsFolder(path)) return true;
  return Fail(error, path, "cannot make the folder", GetLastError());
}

namespace {
bool Identify(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  const int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
  if (fd < 0) return false;
  const bool ok = GetFileInformationByHandle((HANDLE)_get_osfhandle(fd), info) != 0;
  _close(fd);
  return ok;
}
}  // namespace

bool SameExistingFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION x, y;
  return Identify(a, &x) && Identify(b, &y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
         x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

bool FileModified(const std::string& path, FileTime* time) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  time->low = data.ftLastWriteTime.dwLowDateTime;
  time->high = data.ftLastWriteTime.dwHighDateTime;
  return true;
}

std::string ExecutableFolder() {
  char path[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return "";
  const std::string folder = FolderPart(std::string(path, n));
  return folder == ".\\" ? "" : folder.substr(0, folder.size() - 1);
}

bool FolderFileNames(const std::string& folder, std::vector<std::string>* names) {
  names->clear();
  std::string pattern = folder;
  if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += "\\";
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((pattern + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names->push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return true;
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void UseBinaryStandardStreams() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

// ---- mapped reading

MappedFile::~MappedFile() {
  if (handle_) {
    UnmapViewOfFile(data_);
    CloseHandle((HANDLE)handle_);
  }
}

bool MappedFile::Open(const std::string& path, std::string* error) {
  const int fd = OpenForReading(path, error);
  if (fd < 0) return false;
  HANDLE file = (HANDLE)_get_osfhandle(fd);
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) {
    const DWORD code = GetLastError();
    _close(fd);
    return Fail(error, path, "cannot read", code);
  }
  size_ = (uint64_t)size.QuadPart;
  if (size_ == 0) {
    _close(fd);
    static const uint8_t kEmpty = 0;
    data_ = &kEmpty;
    return true;
  }
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  const DWORD code = GetLastError();
  _close(fd);
  if (!mapping) {
    size_ = 0;
    return Fail(error, path, "cannot map", code);
  }
  data_ = (const uint8_t*)MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (!data_) {
    const DWORD mapCode = GetLastError();
    CloseHandle(mapping);
    size_ = 0;
    return Fail(error, path, "cannot map", mapCode);
  }
  handle_ = mapping;
  return true;
}

// Windows trims a read-only view's pages from the working set on its own.
void MappedFile::Release(uint64_t, uint64_t) {}

// ---- output

bool OutputFile::Open(const std::string& destination, std::string* error) {
  Abandon();
  if (IsFolder(destination)) return Fail(error, destination, "cannot write", ERROR_DIRECTORY);
  char name[MAX_PATH];
  if (!GetTempFileNameA(FolderPart(destination).c_str(), "qk2", 0, name))
    return Fail(error, destination, "cannot create a file beside it", GetLastError());
  const int fd = _open(name, _O_WRONLY | _O_BINARY | _O_TRUNC);
  if (fd < 0) {
    const int code = errno;
    DeleteFileA(name);
    return FailErrno(error, destination, "cannot create a file beside it", code);
  }
  destination_ = destination;
  temporary_ = name;
  file_ = fd;
  return true;
}

bool OutputFile::Write(const void* bytes, size_t length, std::string* error) {
  const uint8_t* p = (const uint8_t*)bytes;
  while (length) {
    const unsigned part = length > 0x40000000u ? 0x40000000u : (unsigned)length;
    if (file_ < 0 || _write((int)file_, p, part) != (int)part)
      return FailErrno(error, destination_, "cannot write", file_ < 0 ? EBADF : errno);
    p += part;
    length -= part;
  }
  return true;
}

bool OutputFile::Commit(const FileTime* time, bool readOnly, std::string* error) {
  if (file_ < 0) return FailErrno(error, destination_, "cannot write", EBADF);
  const int fd = (int)file_;
  if (_commit(fd) != 0) return FailErrno(error, destination_, "cannot write", errno);
  if (time && !SetFileTime((HANDLE)_get_osfhandle(fd), (const FILETIME*)time,
                           (const FILETIME*)time, (const FILETIME*)time))
    return Fail(error, destination_, "cannot set the time", GetLastError());
  file_ = -1;
  _close(fd);
  if (readOnly) SetFileAttributesA(temporary_.c_str(), FILE_ATTRIBUTE_READONLY);
  // A read-only file in the way is replaced too: the tool writes its output.
  SetFileAttributesA(destination_.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!MoveFileExA(temporary_.c_str(), destination_.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = GetLastError();
    Abandon();
    return Fail(error, destination_, "cannot replace", code);
  }
  temporary_.clear();
  return true;
}

void OutputFile::Abandon() {
  if (file_ >= 0) _close((int)file_);
  file_ = -1;
  if (!temporary_.empty()) {
    SetFileAttributesA(temporary_.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(temporary_.c_str());
  }
  temporary_.clear();
}
