// Pieces that every qk2 command shares: exit codes, messages, text
// conversion between the terminal and cp932, whole files, and reading a
// package out of a package file or an updater executable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base.h"

// Exit codes, as `qk2 --help` and docs/qk2.md list them.
enum ExitCode {
  kExitOk = 0,
  kExitProblem = 1,  // the input is wrong: a folder check, a damaged package, a bad base image
  kExitUsage = 2,    // the command line is wrong
  kExitIo = 3,       // a file could not be read or written
  kExitSigning = 4,  // osslsigncode is missing or did not sign
};

// Prints "qk2: message" on stderr and returns `code`.
int Report(int code, const std::string& message);

// Entry names are cp932 inside a package. On Linux the command line and the
// terminal speak UTF-8 and names are converted on the way in and out; on
// Windows the ANSI code page already is cp932.
bool ToCp932(const std::string& terminal, std::string* cp932);
std::string FromCp932(const std::string& cp932);  // unchanged when it is not cp932
// UTF-8 on every system (JSON output); bytes that are no cp932 become U+FFFD.
std::string Cp932ToUtf8(const std::string& cp932);

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes);
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);
// Moves `from` over `to` in one step (replacing it), or false with a message.
bool MoveOver(const std::string& from, const std::string& to, std::string* error);
void RemoveFileQuietly(const std::string& path);
bool IsExistingFile(const std::string& path);
// Last-write time of a file as a FILETIME.
bool FileModified(const std::string& path, FileTime* time);
// A FILETIME as "YYYY-MM-DDTHH:MM:SS.fffffffZ".
std::string IsoTime(const FileTime& time);
std::string Hex(const uint8_t* bytes, size_t size);
// The folder of the running qk2 executable, empty when it cannot be told.
std::string ExecutableFolder();
// `folder` and `name` joined with the system's separator.
std::string PathIn(const std::string& folder, const std::string& name);
// The last component of a path as typed (cp932-aware on Windows, where a
// trail byte may equal the backslash).
std::string BaseName(const std::string& path);
// Names of the plain files in `folder`, in the tool's own file-name encoding.
bool FolderFileNames(const std::string& folder, std::vector<std::string>* names);
// Whether stderr is a terminal (progress display).
bool StderrIsTerminal();

// A file given to list, extract or verify: a package file, or an executable
// that carries a package as resource "UPDATE" 102.
struct PackageInput {
  std::vector<uint8_t> file;
  bool executable = false;
  std::vector<uint8_t> package;  // the package bytes (the resource of an executable)
};
// Reads `path` and takes the package out of it. Returns kExitOk, or the
// exit code after a message: kExitIo when the file cannot be read,
// kExitProblem for an executable without a package resource.
int LoadPackageInput(const std::string& path, PackageInput* input);
bool LooksLikeExecutable(const std::vector<uint8_t>& bytes);
