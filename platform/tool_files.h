// Files for the tools (qk2 and its tests), never the updater: whole reads
// and writes, a package read through a mapping, output written to a
// temporary file beside its destination that replaces it in one step, and
// the few questions a tool asks of a folder. Paths are the system's own:
// UTF-8 on Linux, the ANSI code page on Windows. Every failure that takes an
// `error` fills it with the path and the system's reason, in English.
// Nothing here writes through a symbolic link: a link at a destination is
// replaced as itself, never followed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base.h"

// Reads the whole file. False for a folder, a missing or unreadable file.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes,
                   std::string* error = nullptr);
// Writes `bytes` to `path` through a temporary file that then replaces it.
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string* error = nullptr);
// Moves `from` over `to` in one step (replacing it), or false with a message.
bool MoveOver(const std::string& from, const std::string& to, std::string* error);
void RemoveFileQuietly(const std::string& path);
// A plain file (not a folder) exists at `path`.
bool IsExistingFile(const std::string& path);
// Makes `path` and the folders above it; true when it is a folder then.
bool MakeFolders(const std::string& path, std::string* error);
// Whether `a` and `b` both exist and are one file (also when either is a
// link to the other, or a second name of it).
bool SameExistingFile(const std::string& a, const std::string& b);
// Last-write time of a file as a FILETIME.
bool FileModified(const std::string& path, FileTime* time);
// The folder of the running executable, empty when it cannot be told.
std::string ExecutableFolder();
// Names of the plain files in `folder`, in the tool's own file-name encoding.
bool FolderFileNames(const std::string& folder, std::vector<std::string>* names);
// Whether stderr is a terminal (progress display).
bool StderrIsTerminal();
// Line ends on stdout and stderr as written, the same on every system
// (Windows would add a carriage return before each line feed).
void UseBinaryStandardStreams();

// A file mapped for reading. Pages that have been read can be handed back
// (Release), so a pass over a file larger than memory keeps only what it is
// reading resident.
class MappedFile {
 public:
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();
  // Maps the whole file. False with `*error` for a folder, a missing or
  // unreadable file. An empty file maps to no bytes.
  bool Open(const std::string& path, std::string* error);
  const uint8_t* data() const { return data_; }
  uint64_t size() const { return size_; }
  // The bytes [offset, offset + length) will not be read again soon.
  void Release(uint64_t offset, uint64_t length);

 private:
  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  [[maybe_unused]] void* handle_ = nullptr;  // the mapping object on Windows
};

// A file being written: its bytes go to a temporary file in the folder of
// the destination, which takes the destination's place only on Commit, once
// they are on the disk. Dropped unfinished (Abandon or destruction), it
// leaves the destination as it was and no temporary file behind.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { Abandon(); }
  // Creates the temporary file for `destination`. False with `*error` when
  // the destination is a folder or the folder cannot take a new file.
  bool Open(const std::string& destination, std::string* error);
  bool Write(const void* bytes, size_t length, std::string* error);
  // Flushes the bytes to the disk, stamps `time` (creation, access and last
  // write) when given, makes the file read-only when asked, and puts it in
  // the destination's place (a symbolic link there is replaced, not
  // followed).
  bool Commit(const FileTime* time, bool readOnly, std::string* error);
  void Abandon();

 private:
  std::string destination_;
  std::string temporary_;
  intptr_t file_ = -1;  // the temporary file's descriptor
};
