// End-to-end harness: runs real updater executables under Wine and plays the
// user through their windows.
//
// Every case gets a world of its own: a fresh folder (installation, data,
// one temporary folder per started updater), the registry key of the test
// game deleted and written anew, and updaters made from the base image with
// a package built for the case. Waits poll with short sleeps and give up
// after a per-step timeout; a step that cannot go on throws StepFailed,
// which ends the case with the step's message.
//
// Texts are cp932 (this program is compiled with the cp932 execution
// character set, like the updater); messages are printed in UTF-8.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/windows_path.h"

namespace e2e {

// ---------------------------------------------------------------- settings

struct Options {
  std::string updater;       // base Updater.exe (without a package), Windows path
  std::string work;          // folder for the cases' worlds, Windows path
  std::string drives;        // folder holding the CD-ROM drives' folders (run.sh)
  int stepTimeoutMs = 10000;  // how long one step may wait for a window or an exit
};
Options& Config();

// Takes the driver's own arguments (--updater=, --work=, --drives=,
// --step-timeout-ms=) out of argv. Unix paths are turned into Wine's Z: paths.
void ParseOptions(int* argc, char** argv);

using ::WindowsPath;  // "/a/b" -> "Z:\a\b"

// ---------------------------------------------------------------- texts

// cp932 -> UTF-8, with CR and LF shown as \r and \n, for messages.
std::string Utf8(const std::string& cp932);

struct StepFailed : std::runtime_error {
  explicit StepFailed(const std::string& what) : std::runtime_error(what) {}
};

// EXPECT_TEXT(actual, expected): byte-exact comparison of cp932 texts,
// printed readably when they differ.
::testing::AssertionResult SameText(const char* actualExpr, const char* expectedExpr,
                                    const std::string& actual, const std::string& expected);
#define EXPECT_TEXT(actual, expected) EXPECT_PRED_FORMAT2(::e2e::SameText, actual, expected)

// Polls `condition` every few milliseconds until it holds or `timeoutMs`
// has passed. Returns whether it held.
bool Eventually(const std::function<bool()>& condition, int timeoutMs = -1);

// ---------------------------------------------------------------- files

bool WriteBytes(const std::string& path, const std::string& bytes);
bool ReadBytes(const std::string& path, std::string* bytes);
bool PathExists(const std::string& path);
void MakeFolders(const std::string& path);  // with its parents
void RemoveTree(const std::string& path);
// Names in a folder (files and folders, without "." and ".."), sorted.
std::vector<std::string> FolderEntries(const std::string& folder);

// ---------------------------------------------------------------- file times

// FILETIME values as one number: 100-nanosecond units since 1601 (UTC).
using FileTimeValue = unsigned long long;
// The time stamp of every entry of the packages that BuildPackageBytes
// makes: 2020-01-02 03:04:05 UTC.
constexpr FileTimeValue kEntryTime = 132224078450000000ull;
constexpr FileTimeValue kOneSecond = 10000000ull;
FileTimeValue FileTimeOf(int year, int month, int day, int hour = 0, int minute = 0,
                         int second = 0);
FileTimeValue Now();
// "2020-01-02 03:04:05.0000000 UTC", for messages.
std::string ShowTime(FileTimeValue time);
// Last-write time through GetFileTime; 0 when the file cannot be opened.
FileTimeValue LastWriteTime(const std::string& path);
// Writes `bytes` to `path` and gives it the last-write time `time`.
// Throws StepFailed on failure.
void PutFile(const std::string& path, const std::string& bytes, FileTimeValue time);

// ---------------------------------------------------------------- drives

// The drives that run.sh prepares in the prefix: two CD-ROM drives, each on
// a folder below --drives= that the cases fill (a disk in the drive) or
// empty (no disc), and a drive on a file system without free space whose
// Y:\self\root leads back to the whole Unix tree.
constexpr char kLowerCdrom = 'P';
constexpr char kCdrom = 'Q';
constexpr char kFullDrive = 'Y';
// The folder behind CD-ROM drive `letter` (P or Q), as a Windows path.
std::string DriveFolder(char letter);
// `path` (a Z: path) as seen through kFullDrive.
std::string ThroughFullDrive(const std::string& path);

// ---------------------------------------------------------------- INI files

// An INI file built key by key, written with CRLF line ends.
class Ini {
 public:
  Ini& Set(const std::string& section, const std::string& key, const std::string& value);
  Ini& Remove(const std::string& section, const std::string& key);
  std::string Text() const;

 private:
  struct Key {
    std::string section, key, value;
  };
  std::vector<Key> keys_;
};

// ---------------------------------------------------------------- registry

// The values under HKCU\Software\<company>\<gameDir>. A value left unset
// (has* false) is not written.
struct InstallValues {
  std::string instPath;
  bool hasInstPath = true;
  std::string dataPath;
  bool hasDataPath = true;
  DWORD instMode = 0;
  bool hasInstMode = true;
  DWORD instAdd = 0;
  bool hasInstAdd = true;
};
// Writes the key with RegSetValueExA (InstPath/DataPath REG_SZ,
// InstMode/InstAdd REG_DWORD).
void WriteInstallKey(const std::string& company, const std::string& gameDir,
                     const InstallValues& values);
// Deletes HKCU\Software\<company> with everything below it.
void DeleteCompanyKey(const std::string& company);

// ---------------------------------------------------------------- updaters

struct PackageFile {
  std::string name;
  std::string bytes;
};
// A package with these entries, built by the package writer (compressed
// with the best effort where that pays, scrambled).
std::string BuildPackageBytes(const std::vector<PackageFile>& files);
// Copies the base image to `exePath` and writes `package` into the copy as
// resource "UPDATE" 102 (language neutral). Throws StepFailed on failure.
void MakeUpdaterExe(const std::string& exePath, const std::string& package);

// ---------------------------------------------------------------- processes

class Process {
 public:
  // Starts `exe` in `workDir` with TMP and TEMP pointing at `tempDir`
  // (created when missing). Throws StepFailed when it cannot start.
  Process(const std::string& exe, const std::string& workDir, const std::string& tempDir);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  DWORD pid() const { return pid_; }
  const std::string& exe() const { return exe_; }
  const std::string& tempDir() const { return tempDir_; }
  bool Running() const;
  // The exit code, waiting at most `timeoutMs`; throws StepFailed when the
  // process is still running then.
  DWORD WaitExit(int timeoutMs = -1);
  // Ends it hard (after a failed case). Returns whether it was running.
  bool Kill();

 private:
  std::string exe_, tempDir_;
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
};

// ---------------------------------------------------------------- windows

std::string WindowText(HWND window);
std::string ItemText(HWND dialog, int id);
// Top-level dialog windows (class "#32770") of process `pid`, as
// "caption" lines for messages.
std::string DescribeDialogs(DWORD pid);
// Waits until `window`'s thread has finished whatever it was doing and is
// back in its message loop (a WM_NULL sent with a timeout), so that an
// initialisation in progress is complete. False when the window is gone.
bool Settle(HWND window);

// A message box of the updater: FindWindowA("#32770", caption), told apart
// from the wizard by its text control (id 0xFFFF).
class MsgBox {
 public:
  explicit MsgBox(HWND window) : window_(window) {}
  HWND handle() const { return window_; }
  std::string Caption() const { return WindowText(window_); }
  std::string Text() const { return ItemText(window_, 0xFFFF); }
  bool HasButton(int id) const;
  // Presses a button (BM_CLICK); throws StepFailed when it has none such.
  void Press(int id) const;

 private:
  HWND window_;
};

// The wizard dialog: FindWindowA("#32770", caption) with an info control.
class Wizard {
 public:
  explicit Wizard(HWND window) : window_(window) {}
  HWND handle() const { return window_; }
  std::string Caption() const { return WindowText(window_); }
  std::string Info() const { return ItemText(window_, kInfo); }
  std::string Text(int id) const { return ItemText(window_, id); }
  bool Exists(int id) const { return GetDlgItem(window_, id) != nullptr; }
  bool Enabled(int id) const;
  bool Visible(int id) const;
  bool Checked(int id) const;
  // Presses a button and waits until the wizard has handled the press
  // (SendMessage with a timeout). For presses whose handling may itself
  // open a window (Next on the ready page, the finish button), use
  // PressAsync and wait for what follows.
  void Press(int id) const;
  void PressAsync(int id) const;
  // Sends the command of control `id` to the wizard the way the keyboard
  // does (Esc is IDCANCEL), which reaches it even while the button is
  // disabled. Returns when the wizard has handled it.
  void Command(int id) const;
  // Waits until the info text reads `text`; throws StepFailed otherwise.
  void WaitInfo(const std::string& text) const;
  // One line per control: id, text, enabled/visible/checked, for messages.
  std::string Describe() const;

  enum { kNext = 1, kCancel = 2, kBack = 4, kAgreement = 1000, kInfo = 1001, kAgree = 1002,
         kDisagree = 1003 };

 private:
  HWND window_;
};

// Waits for a visible message box of `process` with this caption; throws
// StepFailed (naming the windows the process does show) when none appears
// or the process ends first.
MsgBox WaitForBox(const Process& process, const std::string& caption);
// Waits for the visible wizard of `process` with this caption, initialised.
Wizard WaitForWizard(const Process& process, const std::string& caption);

// A stand-in for the running game: a hidden top-level window of the game's
// class with the given title, owned by a thread of this driver.
class GameWindow {
 public:
  GameWindow(const std::string& className, const std::string& title);
  ~GameWindow();
  GameWindow(const GameWindow&) = delete;
  GameWindow& operator=(const GameWindow&) = delete;

  HWND handle() const { return window_; }
  bool Visible() const { return window_ && IsWindowVisible(window_); }
  // Closes the window as the game would on exit and waits for it.
  void Close();

 private:
  static DWORD WINAPI ThreadMain(void* self);
  std::string className_, title_;
  HANDLE thread_ = nullptr;
  HANDLE ready_ = nullptr;
  HWND window_ = nullptr;
};

// ---------------------------------------------------------------- fixture

// The test game every case installs, in UPDATE.INI and in SETUP.INI.
constexpr const char* kCompany = "E2ECompany";
constexpr const char* kGameDir = "E2EGame";
constexpr const char* kGameTitle = "テストゲーム";
constexpr const char* kGameClass = "E2ETestGameWindow";

// A SETUP.INI that loads, for the game with these names: the required keys,
// one selection and no shortcuts.
Ini StandardSetupIni(const char* company, const char* gameDir, const char* title,
                     const char* gameClass);
constexpr const char* kUpdaterVersion = "1.10";
// "%s アップデータ %s" with the title and the version.
constexpr const char* kCaption = "テストゲーム アップデータ 1.10";

// Base of every case: a fresh world in SetUp, and in TearDown every process
// still running is ended (a failure), every updater that ended is checked
// for leftovers in its temporary folder, and the registry key is removed.
class UpdaterCase : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Folders of this case (Windows paths).
  const std::string& root() const { return root_; }
  const std::string& installDir() const { return install_; }
  const std::string& dataDir() const { return data_; }

  // UPDATE.INI of a plain update of the test game: section SETUP with the
  // four required keys and UpdaterVersion, section UPDATE with the one line
  // "UpdateFile00=GAME.DAT" (a case that runs the update step passes a
  // GAME.DAT entry to MakeUpdater/Launch).
  static Ini StandardUpdateIni();
  // A SETUP.INI that loads: the required keys of the test game
  // (e2e::StandardSetupIni with kCompany, kGameDir, kGameTitle, kGameClass).
  static Ini StandardSetupIni();

  // The registry key pointing at installDir()/dataDir(), install mode 1.
  void Register();
  void Register(const InstallValues& values);
  void WriteSetupIni(const Ini& ini);
  // Register() and StandardSetupIni(): an installed game.
  void InstallGame();

  // An updater of this case carrying UPDATE.INI and `files`; returns its path.
  std::string MakeUpdater(const Ini& updateIni, const std::vector<PackageFile>& files = {});
  // Starts an updater; each start gets its own temporary folder.
  Process& Start(const std::string& exe);
  Process& Launch(const Ini& updateIni, const std::vector<PackageFile>& files = {}) {
    return Start(MakeUpdater(updateIni, files));
  }

  // Waits for a box, checks its text, presses `button`.
  void AnswerBox(const Process& process, const std::string& caption, const std::string& text,
                 int button = IDOK);
  // Waits for the end of `process` and checks its exit code.
  void ExpectExit(Process& process, DWORD code);
  // Cancel on the wizard, then the box "アップデートが中断されました"
  // answered, and exit code 0.
  void CancelAndExpectInterrupted(Process& process, const Wizard& wizard);
  // The wizard of `process` taken from its opening page (without an
  // agreement) to the ready page.
  Wizard OpenReadyPage(const Process& process, const std::string& caption = kCaption);
  // Next on the ready page, then the completed page with `modeWord`
  // ("アップデート" or "インストール"), "完了" pressed and exit code 1.
  void RunToFinish(Process& process, const Wizard& wizard,
                   const std::string& modeWord = "アップデート");
  // The second half of RunToFinish, for a case that has answered boxes of
  // the update step itself after PressAsync(kNext).
  void FinishCompleted(Process& process, const Wizard& wizard,
                       const std::string& modeWord = "アップデート");

 private:
  std::string root_, install_, data_;
  std::vector<std::unique_ptr<Process>> processes_;
  int updaters_ = 0;
};

}  // namespace e2e
