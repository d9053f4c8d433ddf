#include "e2e/harness.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "packer/package_writer.h"

namespace e2e {

// ---------------------------------------------------------------- settings

Options& Config() {
  static Options options;
  return options;
}

void ParseOptions(int* argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < *argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* prefix) -> const char* {
      size_t n = std::strlen(prefix);
      return arg.compare(0, n, prefix) == 0 ? argv[i] + n : nullptr;
    };
    if (const char* v = value("--updater=")) {
      Config().updater = WindowsPath(v);
    } else if (const char* w = value("--work=")) {
      Config().work = WindowsPath(w);
    } else if (const char* d = value("--drives=")) {
      Config().drives = WindowsPath(d);
    } else if (const char* t = value("--step-timeout-ms=")) {
      Config().stepTimeoutMs = std::atoi(t);
    } else {
      argv[kept++] = argv[i];
    }
  }
  *argc = kept;
  argv[kept] = nullptr;
}

// ---------------------------------------------------------------- texts

std::string Utf8(const std::string& cp932) {
  if (cp932.empty()) return cp932;
  int wide = MultiByteToWideChar(932, 0, cp932.data(), (int)cp932.size(), nullptr, 0);
  std::wstring w((size_t)wide, L'\0');
  MultiByteToWideChar(932, 0, cp932.data(), (int)cp932.size(), &w[0], wide);
  int narrow = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string utf8((size_t)narrow, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, &utf8[0], narrow, nullptr, nullptr);
  std::string shown;
  for (char c : utf8) {
    if (c == '\r') {
      shown += "\\r";
    } else if (c == '\n') {
      shown += "\\n";
    } else {
      shown += c;
    }
  }
  return shown;
}

::testing::AssertionResult SameText(const char* actualExpr, const char* expectedExpr,
                                    const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << actualExpr << " is \"" << Utf8(actual) << "\"\n  expected " << expectedExpr
         << ": \"" << Utf8(expected) << "\"";
}

bool Eventually(const std::function<bool()>& condition, int timeoutMs) {
  if (timeoutMs < 0) timeoutMs = Config().stepTimeoutMs;
  DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if ((int)(GetTickCount() - start) >= timeoutMs) return condition();
    Sleep(15);
  }
}

// ---------------------------------------------------------------- files

bool WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), (std::streamsize)bytes.size());
  return (bool)out;
}

bool ReadBytes(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  *bytes = all.str();
  return true;
}

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeFolders(const std::string& path) {
  for (size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
  }
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

// ---------------------------------------------------------------- file times

FileTimeValue FileTimeOf(int year, int month, int day, int hour, int minute, int second) {
  SYSTEMTIME system;
  std::memset(&system, 0, sizeof system);
  system.wYear = (WORD)year;
  system.wMonth = (WORD)month;
  system.wDay = (WORD)day;
  system.wHour = (WORD)hour;
  system.wMinute = (WORD)minute;
  system.wSecond = (WORD)second;
  FILETIME time;
  if (!SystemTimeToFileTime(&system, &time)) throw StepFailed("not a date");
  return ((FileTimeValue)time.dwHighDateTime << 32) | time.dwLowDateTime;
}

FileTimeValue Now() {
  FILETIME time;
  GetSystemTimeAsFileTime(&time);
  return ((FileTimeValue)time.dwHighDateTime << 32) | time.dwLowDateTime;
}

std::string ShowTime(FileTimeValue value) {
  FILETIME time{(DWORD)value, (DWORD)(value >> 32)};
  SYSTEMTIME system;
  if (!FileTimeToSystemTime(&time, &system)) return std::to_string(value);
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%07u UTC", system.wYear,
                system.wMonth, system.wDay, system.wHour, system.wMinute, system.wSecond,
                (unsigned)(value % kOneSecond));
  return text;
}

FileTimeValue LastWriteTime(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  FILETIME written;
  BOOL ok = GetFileTime(file, nullptr, nullptr, &written);
  CloseHandle(file);
  return ok ? ((FileTimeValue)written.dwHighDateTime << 32) | written.dwLowDateTime : 0;
}

void PutFile(const std::string& path, const std::string& bytes, FileTimeValue value) {
  if (!WriteBytes(path, bytes)) throw StepFailed("cannot write " + Utf8(path));
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  FILETIME time{(DWORD)value, (DWORD)(value >> 32)};
  BOOL ok = file != INVALID_HANDLE_VALUE && SetFileTime(file, nullptr, nullptr, &time);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!ok || LastWriteTime(path) != value) {
    throw StepFailed("cannot give " + Utf8(path) + " the time " + ShowTime(value));
  }
}

// ---------------------------------------------------------------- drives

std::string DriveFolder(char letter) {
  if (Config().drives.empty()) throw StepFailed("the driver needs --drives=<folder> (run.sh)");
  return Config().drives + "\\" + (char)std::tolower((unsigned char)letter);
}

std::string ThroughFullDrive(const std::string& path) {
  if (path.size() < 2 || (path[0] != 'Z' && path[0] != 'z') || path[1] != ':') {
    throw StepFailed(Utf8(path) + " is not a path on Z:");
  }
  return std::string(1, kFullDrive) + ":\\self\\root" + path.substr(2);
}

void RemoveTree(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    for (const std::string& name : FolderEntries(path)) RemoveTree(path + "\\" + name);
    RemoveDirectoryA(path.c_str());
  } else {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
  }
}

// ---------------------------------------------------------------- INI files

Ini& Ini::Set(const std::string& section, const std::string& key, const std::string& value) {
  for (Key& k : keys_) {
    if (k.section == section && k.key == key) {
      k.value = value;
      return *this;
    }
  }
  keys_.push_back({section, key, value});
  return *this;
}

Ini& Ini::Remove(const std::string& section, const std::string& key) {
  for (size_t i = 0; i < keys_.size(); ++i) {
    if (keys_[i].section == section && keys_[i].key == key) {
      keys_.erase(keys_.begin() + (long)i);
      break;
    }
  }
  return *this;
}

std::string Ini::Text() const {
  std::vector<std::string> sections;
  for (const Key& k : keys_) {
    bool seen = false;
    for (const std::string& s : sections) seen = seen || s == k.section;
    if (!seen) sections.push_back(k.section);
  }
  std::string text;
  for (const std::string& s : sections) {
    text += "[" + s + "]\r\n";
    for (const Key& k : keys_) {
      if (k.section == s) text += k.key + "=" + k.value + "\r\n";
    }
    text += "\r\n";
  }
  return text;
}

// ---------------------------------------------------------------- registry

void WriteInstallKey(const std::string& company, const std::string& gameDir,
                     const InstallValues& values) {
  std::string path = "Software\\" + company + "\\" + gameDir;
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    throw StepFailed("cannot create the registry key " + Utf8(path));
  }
  auto text = [&](const char* name, const std::string& value) {
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)value.c_str(), (DWORD)value.size() + 1);
  };
  auto number = [&](const char* name, DWORD value) {
    RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE*)&value, sizeof value);
  };
  if (values.hasInstPath) text("InstPath", values.instPath);
  if (values.hasDataPath) text("DataPath", values.dataPath);
  if (values.hasInstMode) number("InstMode", values.instMode);
  if (values.hasInstAdd) number("InstAdd", values.instAdd);
  RegCloseKey(key);
}

void DeleteCompanyKey(const std::string& company) {
  RegDeleteTreeA(HKEY_CURRENT_USER, ("Software\\" + company).c_str());
}

// ---------------------------------------------------------------- updaters

std::string BuildPackageBytes(const std::vector<PackageFile>& files) {
  std::vector<PackInput> entries;
  for (const PackageFile& file : files) {
    PackInput input;
    input.name = file.name;
    input.content.assign(file.bytes.begin(), file.bytes.end());
    input.modified = FileTime{(u32)(kEntryTime & 0xFFFFFFFFu), (u32)(kEntryTime >> 32)};
    entries.push_back(input);
  }
  PackOptions options;
  options.effort = CompressEffort::kBest;  // as the updaters that ship are packed
  std::vector<uint8_t> out;
  std::string error;
  if (!BuildPackage(entries, options, &out, &error)) throw StepFailed("package: " + error);
  return std::string(out.begin(), out.end());
}

void MakeUpdaterExe(const std::string& exePath, const std::string& package) {
  if (!CopyFileA(Config().updater.c_str(), exePath.c_str(), FALSE)) {
    throw StepFailed("cannot copy the base updater " + Config().updater + " to " + Utf8(exePath));
  }
  HANDLE update = BeginUpdateResourceA(exePath.c_str(), FALSE);
  if (!update) throw StepFailed("BeginUpdateResourceA failed on " + Utf8(exePath));
  if (!UpdateResourceA(update, "UPDATE", MAKEINTRESOURCEA(102),
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), (void*)package.data(),
                       (DWORD)package.size())) {
    EndUpdateResourceA(update, TRUE);
    throw StepFailed("UpdateResourceA failed on " + Utf8(exePath));
  }
  if (!EndUpdateResourceA(update, FALSE)) {
    throw StepFailed("EndUpdateResourceA failed on " + Utf8(exePath));
  }
}

// ---------------------------------------------------------------- processes

namespace {

// The driver's environment with TMP and TEMP replaced.
std::string EnvironmentWithTemp(const std::string& temp) {
  std::string block;
  char* all = GetEnvironmentStringsA();
  for (const char* p = all; *p; p += std::strlen(p) + 1) {
    if (_strnicmp(p, "TMP=", 4) == 0 || _strnicmp(p, "TEMP=", 5) == 0) continue;
    block.append(p, std::strlen(p) + 1);
  }
  FreeEnvironmentStringsA(all);
  block += "TMP=" + temp + '\0';
  block += "TEMP=" + temp + '\0';
  block += '\0';
  return block;
}

}  // namespace

Process::Process(const std::string& exe, const std::string& workDir, const std::string& tempDir)
    : exe_(exe), tempDir_(tempDir) {
  MakeFolders(tempDir);
  std::string environment = EnvironmentWithTemp(tempDir);
  std::string commandLine = "\"" + exe + "\"";
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, &environment[0],
                      workDir.c_str(), &startup, &info)) {
    throw StepFailed("cannot start " + Utf8(exe) + ", error " + std::to_string(GetLastError()));
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  pid_ = info.dwProcessId;
}

Process::~Process() {
  if (process_) CloseHandle(process_);
}

bool Process::Running() const { return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

DWORD Process::WaitExit(int timeoutMs) {
  if (timeoutMs < 0) timeoutMs = Config().stepTimeoutMs;
  if (WaitForSingleObject(process_, (DWORD)timeoutMs) != WAIT_OBJECT_0) {
    throw StepFailed("the updater is still running after " + std::to_string(timeoutMs) +
                     " ms; its windows: " + DescribeDialogs(pid_));
  }
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  return code;
}

bool Process::Kill() {
  if (!Running()) return false;
  TerminateProcess(process_, 0xDEAD);
  WaitForSingleObject(process_, 5000);
  return true;
}

// ---------------------------------------------------------------- windows

std::string WindowText(HWND window) {
  char text[4096] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ItemText(HWND dialog, int id) {
  char text[4096] = "";
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

namespace {

DWORD WindowProcess(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

// The top-level "#32770" windows titled `caption` that belong to `pid` and
// have control `marker`.
HWND FindDialog(DWORD pid, const std::string& caption, int marker) {
  HWND window = nullptr;
  while ((window = FindWindowExA(nullptr, window, "#32770", caption.c_str())) != nullptr) {
    if (WindowProcess(window) == pid && GetDlgItem(window, marker)) return window;
  }
  return nullptr;
}

struct DialogList {
  DWORD pid;
  std::string text;
};

BOOL CALLBACK AddDialog(HWND window, LPARAM param) {
  DialogList* list = (DialogList*)param;
  char className[64] = "";
  GetClassNameA(window, className, sizeof className);
  if (WindowProcess(window) == list->pid && std::strcmp(className, "#32770") == 0) {
    list->text += "\n    \"" + Utf8(WindowText(window)) + "\"";
    std::string box = ItemText(window, 0xFFFF);
    if (!box.empty()) list->text += " box: \"" + Utf8(box) + "\"";
    std::string info = ItemText(window, Wizard::kInfo);
    if (GetDlgItem(window, Wizard::kInfo)) list->text += " wizard: \"" + Utf8(info) + "\"";
  }
  return TRUE;
}

}  // namespace

std::string DescribeDialogs(DWORD pid) {
  DialogList list{pid, ""};
  EnumWindows(AddDialog, (LPARAM)&list);
  return list.text.empty() ? std::string("(none)") : list.text;
}

bool Settle(HWND window) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, (UINT)Config().stepTimeoutMs,
                             &result) != 0;
}

bool MsgBox::HasButton(int id) const {
  HWND button = GetDlgItem(window_, id);
  return button && IsWindowVisible(button);
}

void MsgBox::Press(int id) const {
  HWND button = GetDlgItem(window_, id);
  if (!button) throw StepFailed("the box \"" + Utf8(Text()) + "\" has no button " + std::to_string(id));
  DWORD_PTR result = 0;
  SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_NORMAL, (UINT)Config().stepTimeoutMs, &result);
}

bool Wizard::Enabled(int id) const {
  HWND item = GetDlgItem(window_, id);
  return item && IsWindowEnabled(item);
}

bool Wizard::Visible(int id) const {
  HWND item = GetDlgItem(window_, id);
  return item && IsWindowVisible(item);
}

bool Wizard::Checked(int id) const { return IsDlgButtonChecked(window_, id) == BST_CHECKED; }

void Wizard::Press(int id) const {
  HWND button = GetDlgItem(window_, id);
  if (!button) throw StepFailed("the wizard has no control " + std::to_string(id));
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_NORMAL, (UINT)Config().stepTimeoutMs,
                           &result) &&
      GetLastError() == ERROR_TIMEOUT) {
    throw StepFailed("pressing control " + std::to_string(id) + " of the wizard did not return");
  }
}

void Wizard::PressAsync(int id) const {
  HWND button = GetDlgItem(window_, id);
  if (!button) throw StepFailed("the wizard has no control " + std::to_string(id));
  PostMessageA(button, BM_CLICK, 0, 0);
}

void Wizard::Command(int id) const {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(window_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                           (LPARAM)GetDlgItem(window_, id), SMTO_NORMAL,
                           (UINT)Config().stepTimeoutMs, &result) &&
      GetLastError() == ERROR_TIMEOUT) {
    throw StepFailed("the command " + std::to_string(id) + " to the wizard did not return");
  }
}

void Wizard::WaitInfo(const std::string& text) const {
  if (!Eventually([&] { return Info() == text; })) {
    throw StepFailed("the wizard's info text stays \"" + Utf8(Info()) + "\", expected \"" +
                     Utf8(text) + "\"\n" + Describe());
  }
}

std::string Wizard::Describe() const {
  std::string out = "  wizard \"" + Utf8(Caption()) + "\"";
  for (int id : {kNext, kCancel, kBack, kInfo, kAgreement, kAgree, kDisagree}) {
    if (!Exists(id)) continue;
    out += "\n    " + std::to_string(id) + " \"" + Utf8(Text(id)) + "\"" +
           (Enabled(id) ? " enabled" : " disabled") + (Visible(id) ? " visible" : " hidden") +
           (Checked(id) ? " checked" : "");
  }
  return out;
}

namespace {

HWND WaitForDialog(const Process& process, const std::string& caption, int marker,
                   const char* what) {
  // A modal dialog is created hidden and shown once its thread first goes
  // idle; until then the dialog manager may still show it over whatever the
  // driver does with it. Visible is what counts as there.
  HWND found = nullptr;
  bool seen = Eventually([&] {
    found = FindDialog(process.pid(), caption, marker);
    if (found && !IsWindowVisible(found)) found = nullptr;
    return found != nullptr || !process.Running();
  });
  if (found && Settle(found)) return found;
  std::string why = !seen ? "it did not appear within " + std::to_string(Config().stepTimeoutMs) + " ms"
                    : process.Running() ? "it went away again"
                                        : "the updater ended first";
  throw StepFailed(std::string("waiting for the ") + what + " \"" + Utf8(caption) + "\": " + why +
                   "; the updater's windows: " + DescribeDialogs(process.pid()));
}

}  // namespace

MsgBox WaitForBox(const Process& process, const std::string& caption) {
  return MsgBox(WaitForDialog(process, caption, 0xFFFF, "message box"));
}

Wizard WaitForWizard(const Process& process, const std::string& caption) {
  return Wizard(WaitForDialog(process, caption, Wizard::kInfo, "wizard"));
}

namespace {

LRESULT CALLBACK GameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

GameWindow::GameWindow(const std::string& className, const std::string& title)
    : className_(className), title_(title) {
  ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  thread_ = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
  WaitForSingleObject(ready_, (DWORD)Config().stepTimeoutMs);
  if (!window_) throw StepFailed("cannot create the game window " + Utf8(title));
}

GameWindow::~GameWindow() {
  Close();
  if (ready_) CloseHandle(ready_);
}

DWORD WINAPI GameWindow::ThreadMain(void* self) {
  GameWindow* game = (GameWindow*)self;
  WNDCLASSA windowClass;
  std::memset(&windowClass, 0, sizeof windowClass);
  windowClass.lpfnWndProc = GameWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = game->className_.c_str();
  RegisterClassA(&windowClass);  // already registered by an earlier case: fine
  game->window_ = CreateWindowA(game->className_.c_str(), game->title_.c_str(),
                                WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  SetEvent(game->ready_);
  if (!game->window_) return 1;
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}

void GameWindow::Close() {
  if (!thread_) return;
  if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
  WaitForSingleObject(thread_, (DWORD)Config().stepTimeoutMs);
  CloseHandle(thread_);
  thread_ = nullptr;
  window_ = nullptr;
}

// ---------------------------------------------------------------- fixture

void UpdaterCase::SetUp() {
  if (Config().updater.empty() || Config().work.empty()) {
    FAIL() << "the driver needs --updater=<base Updater.exe> and --work=<folder>";
  }
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  root_ = Config().work + "\\" + test->test_suite_name() + "." + test->name();
  RemoveTree(root_);
  MakeFolders(root_);
  install_ = root_ + "\\install";
  data_ = root_ + "\\data";
  MakeFolders(install_);
  MakeFolders(data_);
  DeleteCompanyKey(kCompany);
}

void UpdaterCase::TearDown() {
  for (auto& process : processes_) {
    if (process->Kill()) {
      ADD_FAILURE() << "the updater " << Utf8(process->exe()) << " was still running at the end";
      continue;
    }
    std::vector<std::string> left = FolderEntries(process->tempDir());
    std::string names;
    for (const std::string& name : left) names += " " + Utf8(name);
    EXPECT_TRUE(left.empty()) << "left in the temporary folder of " << Utf8(process->exe()) << ":"
                              << names;
  }
  processes_.clear();
  DeleteCompanyKey(kCompany);
  if (!HasFailure()) RemoveTree(root_);
}

Ini UpdaterCase::StandardUpdateIni() {
  Ini ini;
  ini.Set("SETUP", "CompanyName", kCompany)
      .Set("SETUP", "GameTitle", kGameTitle)
      .Set("SETUP", "GameClass", kGameClass)
      .Set("SETUP", "GameDir", kGameDir)
      .Set("SETUP", "UpdaterVersion", kUpdaterVersion)
      .Set("UPDATE", "UpdateFile00", "GAME.DAT");
  return ini;
}

Ini UpdaterCase::StandardSetupIni() {
  return e2e::StandardSetupIni(kCompany, kGameDir, kGameTitle, kGameClass);
}

Ini StandardSetupIni(const char* company, const char* gameDir, const char* title,
                     const char* gameClass) {
  Ini ini;
  ini.Set("SETUP", "CompanyName", company)
      .Set("SETUP", "GameTitle", title)
      .Set("SETUP", "GameDir", gameDir)
      .Set("SETUP", "GameExe", "GAME.EXE")
      .Set("SETUP", "UninstExe", "UNINST.EXE")
      .Set("SETUP", "SetupBmp", "SETUP.BMP")
      .Set("SETUP", "InstallSelects", "1")
      .Set("SETUP", "InstallTitle0", "標準")
      .Set("SETUP", "InstallFiles0", "GAME.EXE,GAME.DAT")
      .Set("SETUP", "Shortcuts", "0")
      .Set("SETUP", "GameClass", gameClass);
  return ini;
}

void UpdaterCase::Register() {
  InstallValues values;
  values.instPath = install_;
  values.dataPath = data_;
  values.instMode = 1;
  Register(values);
}

void UpdaterCase::Register(const InstallValues& values) {
  WriteInstallKey(kCompany, kGameDir, values);
}

void UpdaterCase::WriteSetupIni(const Ini& ini) {
  if (!WriteBytes(install_ + "\\SETUP.INI", ini.Text())) throw StepFailed("cannot write SETUP.INI");
}

void UpdaterCase::InstallGame() {
  Register();
  WriteSetupIni(StandardSetupIni());
}

std::string UpdaterCase::MakeUpdater(const Ini& updateIni, const std::vector<PackageFile>& files) {
  std::vector<PackageFile> all{{"UPDATE.INI", updateIni.Text()}};
  all.insert(all.end(), files.begin(), files.end());
  std::string exe = root_ + "\\updater" + std::to_string(++updaters_) + ".exe";
  MakeUpdaterExe(exe, BuildPackageBytes(all));
  return exe;
}

Process& UpdaterCase::Start(const std::string& exe) {
  std::string temp = root_ + "\\temp" + std::to_string(processes_.size() + 1);
  processes_.push_back(std::make_unique<Process>(exe, root_, temp));
  return *processes_.back();
}

void UpdaterCase::AnswerBox(const Process& process, const std::string& caption,
                            const std::string& text, int button) {
  MsgBox box = WaitForBox(process, caption);
  EXPECT_TEXT(box.Text(), text);
  box.Press(button);
}

void UpdaterCase::ExpectExit(Process& process, DWORD code) {
  EXPECT_EQ(process.WaitExit(), code) << "exit code of " << Utf8(process.exe());
}

void UpdaterCase::CancelAndExpectInterrupted(Process& process, const Wizard& wizard) {
  std::string caption = wizard.Caption();
  wizard.Press(Wizard::kCancel);
  AnswerBox(process, caption, "アップデートが中断されました");
  ExpectExit(process, 0);
}

Wizard UpdaterCase::OpenReadyPage(const Process& process, const std::string& caption) {
  Wizard wizard = WaitForWizard(process, caption);
  wizard.Press(Wizard::kNext);
  wizard.WaitInfo("アップデートを実行します");
  return wizard;
}

void UpdaterCase::RunToFinish(Process& process, const Wizard& wizard, const std::string& modeWord) {
  // The update step runs inside the press and may open boxes of its own.
  wizard.PressAsync(Wizard::kNext);
  FinishCompleted(process, wizard, modeWord);
}

void UpdaterCase::FinishCompleted(Process& process, const Wizard& wizard,
                                  const std::string& modeWord) {
  wizard.WaitInfo(modeWord + "は完了しました");
  EXPECT_TEXT(wizard.Text(Wizard::kNext), "完了");
  EXPECT_TRUE(wizard.Enabled(Wizard::kNext));
  EXPECT_FALSE(wizard.Enabled(Wizard::kBack));
  EXPECT_FALSE(wizard.Enabled(Wizard::kCancel));
  wizard.PressAsync(Wizard::kNext);
  ExpectExit(process, 1);
}

}  // namespace e2e
