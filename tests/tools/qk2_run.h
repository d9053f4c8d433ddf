// Running the qk2 program from tests, and the files around it, on both
// builds: on Linux the host binary, under Wine qk2.exe (paths are the
// system's own: Unix paths on Linux, Windows paths under Wine).
//
// File names: Linux spells them in UTF-8, Windows in cp932, and the test
// sources are compiled to cp932. NATIVE("名前") is a literal in the spelling
// of the system the test runs on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#if defined(_WIN32)
#define NATIVE(literal) literal
#else
#define NATIVE(literal) u8##literal
#endif

namespace qk2test {

struct ToolRun {
  int code = -1;
  std::string out;  // standard output
  std::string err;  // standard error
  // Every line of out and err, for messages.
  std::string Shown() const;
};

// The qk2 program under test (QK2_TOOL, set by the build; a Unix path is
// turned into Wine's Z: path on Windows).
std::string ToolPath();
// Runs `program` with `args`, its output captured.
ToolRun RunProgram(const std::string& program, const std::vector<std::string>& args);
inline ToolRun RunQk2(const std::vector<std::string>& args) { return RunProgram(ToolPath(), args); }

// A fresh folder that goes away with everything in it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const;

 private:
  std::string path_;
};

std::string PathIn(const std::string& folder, const std::string& name);
bool WriteFile(const std::string& path, const std::string& bytes);
bool ReadFile(const std::string& path, std::string* bytes);
std::string ReadFileOrEmpty(const std::string& path);
bool FileExists(const std::string& path);
bool MakeFolder(const std::string& path);
// Names of the entries of a folder (without "." and ".."), sorted.
std::vector<std::string> FolderNames(const std::string& folder);
bool CopyFileTo(const std::string& from, const std::string& to);  // with its permissions

// File times as FILETIME values (100 ns since 1601, UTC).
bool SetModified(const std::string& path, uint64_t fileTime);
uint64_t Modified(const std::string& path);  // 0 when it cannot be read
constexpr uint64_t kOneSecond = 10000000ull;
// 2023-05-06 07:08:09 UTC and its ISO form as qk2 prints it.
constexpr uint64_t kFolderTime = 133278304890000000ull;
constexpr const char* kFolderTimeIso = "2023-05-06T07:08:09.0000000Z";

// The base image the tests make updaters from: the resource editor's test
// image (QK2_FIXTURE_IMAGE) with a second wizard dialog added, so that it
// passes for an updater base. Written to `path`; false when the fixture
// image is not there.
bool WriteFixtureBase(const std::string& path);
bool HaveFixtureBase();
// The resource editor's test image itself (no second dialog).
std::string FixtureImage();

// cp932 text as a literal of the test sources; to the native spelling.
std::string Native(const std::string& cp932);

}  // namespace qk2test
