// Pieces that every qk2 command shares: exit codes, messages, text
// conversion between the terminal and cp932, whole files, and reading a
// package out of a package file or an updater executable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base.h"
#include "platform/tool_files.h"
#include "platform/tool_text.h"
#include "packer/entry_names.h"

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
// A usage error, worded the same for every command: "qk2: message", then
// the first line of `usage` and where the whole help is. Returns kExitUsage.
int UsageError(const std::string& message, const char* usage);
// The exit codes, as every command's --help ends.
extern const char kExitCodesHelp[];
// "qk2 1.0.0.0", the version of the tool and of the updater it makes.
std::string VersionText();

// Entry names are cp932 inside a package. On Linux the command line and the
// terminal speak UTF-8 and names are converted on the way in and out; on
// Windows the ANSI code page already is cp932.
bool ToCp932(const std::string& terminal, std::string* cp932);
std::string FromCp932(const std::string& cp932);  // unchanged when it is not cp932
// Cp932ToUtf8 (platform/tool_text.h): UTF-8 on every system, for JSON.
// An entry name (cp932) as every message and listing shows it: in the
// terminal's encoding, with each control character (C0, DEL, and in UTF-8
// the C1 range) written as \xNN, so that a name can neither move the cursor
// nor change what the terminal does.
std::string ShownName(const std::string& cp932);

// Text in the terminal's encoding (messages, paths) as UTF-8, for JSON.
std::string TerminalToUtf8(const std::string& text);
// `utf8` as a JSON string, quotes included, control characters escaped.
std::string JsonString(const std::string& utf8);

// Whether `cp932` names the whole copy of patch entry <name> (<name> and
// kWholeCopySuffix, <name> a bare name), which the updater writes under
// <name> when no patch fits; true with <name> in `*patchName`.
bool WholeCopyOf(const std::string& cp932, std::string* patchName);

// A FILETIME as "YYYY-MM-DDTHH:MM:SS.fffffffZ".
std::string IsoTime(const FileTime& time);
std::string Hex(const uint8_t* bytes, size_t size);
// `folder` and `name` joined with the system's separator.
std::string PathIn(const std::string& folder, const std::string& name);
// `root` (a native path) followed by `tail`, a path as the updater writes
// it (cp932, backslashes), in the tool's own spelling. The tail is split at
// one-byte separators only, so a cp932 trail byte 0x5C separates nothing.
std::string NativePathBelow(const std::string& root, const std::string& tail);
// The last component of a path as typed (cp932-aware on Windows, where a
// trail byte may equal the backslash).
std::string BaseName(const std::string& path);

// A file given to list, extract or verify: a package file, or an executable
// that carries a package as resource "UPDATE" 102.
struct PackageInput {
  MappedFile mapped;  // the file as given
  bool executable = false;
  std::vector<uint8_t> resource;  // the package resource of an executable
  std::vector<uint8_t> digest;    // its digest resource "UPDATE" 103, when it has one
  const uint8_t* data = nullptr;  // the package bytes: the mapping, or the resource
  size_t size = 0;
};
// Maps `path` and finds the package in it, and in an executable its digest.
// Returns kExitOk, or the exit code after a message: kExitIo when the file
// cannot be read, kExitProblem for an executable without a package resource
// or with "UPDATE" 102 or 103 in more than one language (the updater would
// pick one by the system's language: no tool can say which it runs).
int LoadPackageInput(const std::string& path, PackageInput* input);
bool LooksLikeExecutable(const uint8_t* bytes, size_t size);
// Whether the package of `input` matches the digest its executable carries
// (true when it carries none).
bool DigestMatches(const PackageInput& input);
