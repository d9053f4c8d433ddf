#include "support/scratch.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>

#include "platform/files.h"
#include "sim/sim.h"
#endif

namespace fs = std::filesystem;

namespace {
std::string Native(const std::string& windowsPath) {
#if defined(_WIN32)
  return windowsPath;
#else
  return HostPath(windowsPath.c_str());
#endif
}
}  // namespace

ScratchFolder::ScratchFolder() {
  static std::atomic<int> counter{0};
  int n = counter++;
#if defined(_WIN32)
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  path_ = std::string(temp) + "updater-test-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(n);
  native_ = path_;
  fs::remove_all(native_);
  fs::create_directories(native_);
#else
  std::string base = (fs::temp_directory_path() / ("updater-test-" + std::to_string(getpid()) +
                                                   "-" + std::to_string(n)))
                         .string();
  fs::remove_all(base);
  fs::create_directories(base + "/scratch");
  HostMapDrive('C', base.c_str(), kDriveFixed);
  path_ = "C:\\scratch";
  native_ = base;
#endif
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
#if !defined(_WIN32)
  // Read-only files stay removable for the owner of the folder.
  for (auto it = fs::recursive_directory_iterator(native_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored))
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
#else
  for (auto it = fs::recursive_directory_iterator(native_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored))
    SetFileAttributesA(it->path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
  fs::remove_all(native_, ignored);
}

std::string ScratchFolder::operator/(const std::string& relative) const {
  return path_ + "\\" + relative;
}

bool WriteTestFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), (std::streamsize)bytes.size());
  return (bool)out;
}

bool ReadTestFile(const std::string& path, std::string* bytes) {
  std::ifstream in(Native(path), std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool TestPathExists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(Native(path), ignored);
}

bool MakeTestFolder(const std::string& path) {
  std::error_code ignored;
  return fs::create_directories(Native(path), ignored) || fs::is_directory(Native(path), ignored);
}
