// The shell's file copy for the host simulation: FO_COPY with the behaviour
// the updater relies on, on the folders that the simulated drives map to.
//
// - Each item of the double-NUL source list is copied to the first item of
//   the destination list. An existing destination folder receives the item
//   under its own name; any other destination is the copy's new name.
// - A folder is copied with everything inside it.
// - Missing folders above a new destination are created with
//   FOF_NOCONFIRMMKDIR; without it the simulated user declines, the copy
//   fails with ERROR_PATH_NOT_FOUND.
// - An existing file is replaced (read-only or not) with FOF_NOCONFIRMATION;
//   without it the simulated user declines and the file stays.
// - Copies keep the source's last-write time and its read-only state, as
//   files taken from a CD-ROM arrive read-only.
// - A missing source, an unmapped drive or a failed write gives a nonzero
//   result; nothing is rolled back.

#include <string.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/dynlib.h"
#include "platform/files.h"
#include "sim/entry_points_sim.h"
#include "sim/faults_sim.h"
#include "sim/sim.h"

namespace fs = std::filesystem;

namespace {
enum : int {
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorAccessDenied = 5,
  kErrorInvalidParameter = 87,
};

std::vector<HostShellCall> calls;
int abortNext;
int failNext;
int scriptedResult;

struct CopyRequest {
  fs::path source;
  fs::path destination;
  u16 flags;
};

int CopyTree(const fs::path& source, const fs::path& target, u16 flags);

// What a copy cut in its middle leaves: the first half of the file.
void CopyHalf(const fs::path& source, const fs::path& target) {
  std::ifstream in(source, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::error_code error;
  fs::permissions(target, fs::perms::owner_write, fs::perm_options::add, error);
  std::ofstream(target, std::ios::binary | std::ios::trunc).write(bytes.data(),
                                                                  (std::streamsize)bytes.size() / 2);
}

// A folder the copy makes: a fault point and a change.
int MakeFolder(const fs::path& folder, bool withParents) {
  std::error_code error;
  if (HostFaultHere(kCallMakeFolder, folder.string())) return kErrorAccessDenied;
  HostChangeHere(folder.string());
  if (withParents) fs::create_directories(folder, error);
  else fs::create_directory(folder, error);
  return error ? kErrorAccessDenied : 0;
}

int CopyFileKeepingState(const fs::path& source, const fs::path& target, u16 flags) {
  std::error_code error;
  if (fs::is_directory(target, error)) return kErrorAccessDenied;
  if (fs::exists(target, error)) {
    if (!(flags & kFofNoConfirmation)) return 0;
    fs::permissions(target, fs::perms::owner_write, fs::perm_options::add, error);
  }
  if (HostFaultHere(kCallShellCopyFile, target.string())) return kErrorAccessDenied;
  HostChangeHere(target.string(), [&] { CopyHalf(source, target); });
  fs::copy_file(source, target, fs::copy_options::overwrite_existing, error);
  if (error) return kErrorAccessDenied;
  fs::last_write_time(target, fs::last_write_time(source, error), error);
  fs::permissions(target, fs::status(source, error).permissions(), error);
  return error ? kErrorAccessDenied : 0;
}

int CopyFolderContents(const fs::path& source, const fs::path& target, u16 flags) {
  std::error_code error;
  if (!fs::is_directory(target, error) && MakeFolder(target, false)) return kErrorAccessDenied;
  for (const fs::directory_entry& entry : fs::directory_iterator(source, error)) {
    int result = CopyTree(entry.path(), target / entry.path().filename(), flags);
    if (result) return result;
  }
  return error ? kErrorAccessDenied : 0;
}

int CopyTree(const fs::path& source, const fs::path& target, u16 flags) {
  std::error_code error;
  if (fs::is_directory(source, error)) return CopyFolderContents(source, target, flags);
  return CopyFileKeepingState(source, target, flags);
}

// Where an item goes, with the folders above it made when allowed.
int PrepareTarget(const CopyRequest& request, fs::path* target) {
  std::error_code error;
  if (fs::is_directory(request.destination, error)) {
    *target = request.destination / request.source.filename();
    return 0;
  }
  *target = request.destination;
  fs::path parent = target->parent_path();
  if (parent.empty() || fs::is_directory(parent, error)) return 0;
  if (!(request.flags & kFofNoConfirmMkdir)) return kErrorPathNotFound;
  return MakeFolder(parent, true);
}

// Host path of a Windows path, without trailing separators (so a folder
// named "Q:\MOVIE\" still has its name).
fs::path HostItem(const char* windowsPath) {
  std::string host = HostPath(windowsPath);
  while (host.size() > 1 && host.back() == '/') host.pop_back();
  return fs::path(host);
}

int CopyItem(const char* from, const char* to, u16 flags) {
  CopyRequest request{HostItem(from), HostItem(to), flags};
  std::error_code error;
  if (request.source.empty() || !fs::exists(request.source, error)) return kErrorFileNotFound;
  if (request.destination.empty()) return kErrorPathNotFound;
  fs::path target;
  int result = PrepareTarget(request, &target);
  return result ? result : CopyTree(request.source, target, flags);
}

int Copy(const ShellFileOp* operation) {
  if (!operation->pFrom || !operation->pTo || !operation->pFrom[0] || !operation->pTo[0])
    return kErrorInvalidParameter;
  for (const char* item = operation->pFrom; *item; item += strlen(item) + 1) {
    int result = CopyItem(item, operation->pTo, operation->fFlags);
    if (result) return result;
  }
  return 0;
}
}  // namespace

const std::vector<HostShellCall>& HostShellCalls() { return calls; }

void HostShellAbortNext(int result) {
  abortNext = 1;
  scriptedResult = result;
}

void HostShellFailNext(int result) {
  failNext = 1;
  scriptedResult = result;
}

void HostShellReset() {
  calls.clear();
  abortNext = failNext = scriptedResult = 0;
}

int HostSHFileOperationA(ShellFileOp* operation) {
  calls.push_back(HostShellCall{operation->hwnd, operation->wFunc,
                                operation->pFrom ? operation->pFrom : "",
                                operation->pTo ? operation->pTo : "", operation->fFlags});
  operation->fAnyOperationsAborted = 0;
  if (HostFaultHere(kCallShellCopy, operation->pFrom ? operation->pFrom : ""))
    return kErrorAccessDenied;
  if (abortNext || failNext) {
    operation->fAnyOperationsAborted = abortNext;
    abortNext = failNext = 0;
    return scriptedResult;
  }
  if (operation->wFunc != kFoCopy) return kErrorInvalidParameter;
  return Copy(operation);
}
