#include "qk2_run.h"


#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "packer/encoding.h"
#include "packer/pe_resources.h"
#include "tests/support/windows_path.h"
#include "platform/tool_process.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;
#endif

namespace qk2test {

std::string ToolRun::Shown() const {
  return "exit code " + std::to_string(code) + "\n--- stdout:\n" + out + "--- stderr:\n" + err;
}

namespace {

std::atomic<int> counter{0};

#if defined(_WIN32)
HANDLE Inheritable(const std::string& path) {
  SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &security, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}
#endif

}  // namespace

std::string ToolPath() {
#if defined(_WIN32)
  return WindowsPath(QK2_TOOL);
#else
  return QK2_TOOL;
#endif
}

ToolRun RunProgram(const std::string& program, const std::vector<std::string>& args) {
  ToolRun result;
  TempFolder outputs;
  const std::string outPath = outputs / "out", errPath = outputs / "err";
#if defined(_WIN32)
  std::string commandLine = QuoteWindowsArgument(program);
  for (const std::string& arg : args) commandLine += " " + QuoteWindowsArgument(arg);
  HANDLE out = Inheritable(outPath), err = Inheritable(errPath);
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION info;
  const BOOL started = CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &info);
  CloseHandle(out);
  CloseHandle(err);
  if (!started) {
    result.err = "cannot start " + program + ", error " + std::to_string(GetLastError());
    return result;
  }
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
  result.code = (int)code;
#else
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = 0;
  const int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed) {
    result.err = "cannot start " + program + ": " + std::strerror(failed);
    return result;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
  ReadFile(outPath, &result.out);
  ReadFile(errPath, &result.err);
  return result;
}

// ---- files

namespace fs = std::filesystem;

TempFolder::TempFolder() {
#if defined(_WIN32)
  const unsigned long id = GetCurrentProcessId();
#else
  const unsigned long id = (unsigned long)getpid();
#endif
  path_ = (fs::temp_directory_path() /
           ("qk2-test-" + std::to_string(id) + "-" + std::to_string(counter++)))
              .string();
  std::error_code ignored;
  fs::remove_all(path_, ignored);
  fs::create_directories(path_, ignored);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string TempFolder::operator/(const std::string& name) const { return PathIn(path_, name); }

std::string PathIn(const std::string& folder, const std::string& name) {
#if defined(_WIN32)
  return folder + "\\" + name;
#else
  return folder + "/" + name;
#endif
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), (std::streamsize)bytes.size());
  out.close();
  return !out.fail();
}

bool ReadFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  *bytes = all.str();
  return true;
}

std::string ReadFileOrEmpty(const std::string& path) {
  std::string bytes;
  ReadFile(path, &bytes);
  return bytes;
}

// The file-system calls below take the tests' own ASCII paths only.
bool FileExists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(path, ignored);
}

bool MakeFolder(const std::string& path) {
  std::error_code ignored;
  return fs::create_directory(path, ignored);
}

bool CopyFileTo(const std::string& from, const std::string& to) {
  // Removed first: the mingw C++ library cannot copy over a file.
  std::error_code failed;
  fs::remove(to, failed);
  return fs::copy_file(from, to, failed);
}

// Names as the system spells them (cp932 on Windows, where the C++ library
// would turn them into something else).
std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
#if defined(_WIN32)
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
#else
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    names.push_back(it->path().filename().string());
#endif
  std::sort(names.begin(), names.end());
  return names;
}

bool SetModified(const std::string& path, uint64_t fileTime) {
#if defined(_WIN32)
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  FILETIME time{(DWORD)fileTime, (DWORD)(fileTime >> 32)};
  const BOOL ok = SetFileTime(file, nullptr, nullptr, &time);
  CloseHandle(file);
  return ok != 0;
#else
  const int64_t units = (int64_t)fileTime - 116444736000000000LL;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = (time_t)(units / 10000000);
  times[1].tv_nsec = (long)(units % 10000000) * 100;
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
#endif
}

uint64_t Modified(const std::string& path) {
#if defined(_WIN32)
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (uint64_t)data.ftLastWriteTime.dwHighDateTime << 32 | data.ftLastWriteTime.dwLowDateTime;
#else
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  return (uint64_t)(((int64_t)st.st_mtim.tv_sec + 11644473600LL) * 10000000LL +
                    st.st_mtim.tv_nsec / 100);
#endif
}

// ---- the base image

std::string FixtureImage() {
#if defined(_WIN32)
  return WindowsPath(QK2_FIXTURE_IMAGE);
#else
  return QK2_FIXTURE_IMAGE;
#endif
}

bool HaveFixtureBase() { return FileExists(FixtureImage()); }

bool WriteFixtureBase(const std::string& path) {
  std::string bytes;
  if (!ReadFile(FixtureImage(), &bytes)) return false;
  PeResourceEditor editor;
  std::string error;
  if (!editor.Load(std::vector<uint8_t>(bytes.begin(), bytes.end()), &error)) return false;
  constexpr uint16_t kDialog = 5;
  uint16_t language = 0;
  const ResourceData* wizard = editor.FindAnyLanguage(kDialog, 100, &language);
  if (!wizard) return false;
  editor.Set(kDialog, 101, language, wizard->bytes);
  std::vector<uint8_t> image;
  return editor.Write(&image, &error) && WriteFile(path, std::string(image.begin(), image.end()));
}

std::string Native(const std::string& cp932) {
#if defined(_WIN32)
  return cp932;
#else
  std::string utf8;
  return ConvertText("UTF-8", "CP932", cp932, &utf8) ? utf8 : cp932;
#endif
}

}  // namespace qk2test
