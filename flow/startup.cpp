// Start-up: from the entry-point table to the wizard's result. Every step
// that fails has shown its message (or deliberately none) by the time it
// answers 0, and UpdaterMain then releases the run state exactly once.
#include "flow/startup.h"

#include <string.h>

#include "runtime/run_state.h"
#include "flow/wizard.h"
#include "package/extract.h"
#include "package/package.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/memory.h"
#include "platform/messagebox.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "settings/settings.h"
#include "settings/setup_description.h"
#include "texts.h"

namespace {

const char kSetupSection[] = "SETUP";
const char kUpdateIniName[] = "UPDATE.INI";
const char kSetupIniName[] = "SETUP.INI";
const char kDialogClass[] = "#32770";

// Each updater extracts UPDATE.INI into a file of its own, so two updaters
// started together never read or delete each other's copy.
const char kTempPrefix[] = "UPD";
// GetTempFileNameA refuses a folder longer than MAX_PATH - 14; those 14
// bytes also hold "UPDFFFF.tmp", its terminator and a second NUL.
const u32 kTempNameRoom = 14;

void ShowErrorWith(const char* format, const char* argument) {
  char text[kTextSize];
  OsFormat(text, sizeof text, format, argument);
  ShowError(text);
}

// The package the executable carries, with its directory opened.
int OpenOwnPackage() {
  UpdaterPackage.source = LocatePackageResource(&UpdaterPackage);
  if (!UpdaterPackage.source) return 0;
  if (OpenPackage(&UpdaterPackage)) return 1;
  ShowError(kTextResourceReadError);
  return 0;
}

// The temporary folder into `folder` (kTextSize bytes). One too long for
// the path buffers once the temporary name is added is refused, never cut.
int TakeTempFolder(char* folder) {
  const u32 length = OsGetTempPath(kTextSize, folder);
  if (length == 0) {
    ShowErrorWith(kTextTempFileFailed, "");
    return 0;
  }
  if (length >= kTextSize) folder[0] = 0;  // not even a name to show
  if (length >= kTextSize || length + kTempNameRoom > kPathSize) {
    ShowErrorWith(kTextPathTooLong, folder);
    return 0;
  }
  return 1;
}

// Creates the private temporary file that UpdateIniPath then names.
int CreatePrivateUpdateIni() {
  char folder[kTextSize];
  if (!TakeTempFolder(folder)) return 0;
  if (OsCreateTempFile(folder, kTempPrefix, UpdateIniPath)) return 1;
  memset(UpdateIniPath, 0, sizeof UpdateIniPath);
  ShowErrorWith(kTextTempFileFailed, folder);
  return 0;
}

// The four keys without which nothing can be found, reported when missing.
int ReadRequiredKeys() {
  const struct {
    const char* key;
    char* field;
  } kRequired[] = {{kRequiredSetupKeys[0], SetupDescription.CompanyName},
                   {kRequiredSetupKeys[1], SetupDescription.GameTitle},
                   {kRequiredSetupKeys[2], SetupDescription.GameClass},
                   {kRequiredSetupKeys[3], SetupDescription.GameDir}};
  ReportMissingKeys = 1;
  for (const auto& required : kRequired)
    if (!ReadUpdateKey(kSetupSection, required.key, required.field, kPathSize)) return 0;
  ReportMissingKeys = 0;
  return 1;
}

void ReadOptionalKeys() {
  struct UpdateDescription& d = UpdateDescription;
  const struct {
    const char* key;
    char* field;
    u32 size;
  } kOptional[] = {{"GameTitleA", d.GameTitleA, sizeof d.GameTitleA},
                   {"UpdaterVersion", d.UpdaterVersion, sizeof d.UpdaterVersion},
                   {"UpdaterTitle", d.UpdaterTitle, sizeof d.UpdaterTitle},
                   {"DataFolder", d.DataFolder, sizeof d.DataFolder},
                   {"UpdateMessage", d.UpdateMessage, sizeof d.UpdateMessage}};
  for (const auto& optional : kOptional)
    ReadUpdateKey(kSetupSection, optional.key, optional.field, optional.size);
}

void ReadModeWord() {
  char value[kPathSize];
  const int read = ReadUpdateKey(kSetupSection, "ModeTextUpdateOrInstall", value, sizeof value);
  UpdateDescription.ModeIsInstall = read && TextToInt32(value) != 0;
  UpdateDescription.ModeWord =
      UpdateDescription.ModeIsInstall ? kTextModeWordInstall : kTextModeWordUpdate;
}

// The package entry that `key` names, copied into a zero-filled block two
// bytes longer than its content. An absent key loads nothing and succeeds.
int LoadAgreement(const char* key, const char** out) {
  char name[kPathSize];
  if (!ReadUpdateKey(kSetupSection, key, name, sizeof name)) return 1;
  u32 size = 0;
  const u8* content = FindPackageEntry(&UpdaterPackage, name, &size);
  if (!content) {
    ShowErrorWith(kTextAgreementNotFound, name);
    return 0;
  }
  char* block = size <= 0xFFFFFFFFu - 2 ? (char*)OsAllocZeroed(size + 2) : nullptr;
  if (!block) {
    ShowError(kTextNoMemory);
    return 0;
  }
  memcpy(block, content, size);
  *out = block;
  return 1;
}

// The registry's answers for a value that is not there, and for one too
// long for the buffer.
const long kRegistryValueMissing = 2;   // ERROR_FILE_NOT_FOUND
const long kRegistryValueTooLong = 234;  // ERROR_MORE_DATA

// A string value into a kPathSize buffer; the registry's answer into
// `*status` when given. One that fills the buffer without a terminator is
// as unreadable as an absent one: the buffer is left empty.
int QueryString(RegistryKey key, const char* name, char* out, long* status = nullptr) {
  memset(out, 0, kPathSize);
  u32 size = kPathSize;
  const long result = DynamicApi.pfnRegQueryValueEx(key, name, nullptr, nullptr, (u8*)out, &size);
  if (status) *status = result;
  if (result == kErrorSuccess && memchr(out, 0, kPathSize)) return 1;
  memset(out, 0, kPathSize);
  return 0;
}

int QueryDword(RegistryKey key, const char* name, u32* out) {
  u32 value = 0;
  u32 size = sizeof value;
  if (DynamicApi.pfnRegQueryValueEx(key, name, nullptr, nullptr, (u8*)&value, &size) !=
      kErrorSuccess)
    return 0;
  *out = value;
  return 1;
}

// The values of an opened key; 1 when InstPath and InstMode were read and
// DataPath was read or is not there.
int ReadInstallValues(RegistryKey key) {
  struct InstallRecord& r = InstallRecord;
  if (!DynamicApi.pfnRegQueryValueEx || !QueryString(key, "InstPath", r.InstPath)) return 0;
  // Only a DataPath that is not there (or that cannot be held) means none:
  // one the registry failed to read would send the data files below the
  // folder the updater was started in.
  long dataPath = kErrorSuccess;
  if (!QueryString(key, "DataPath", r.DataPath, &dataPath) && dataPath != kErrorSuccess &&
      dataPath != kRegistryValueMissing && dataPath != kRegistryValueTooLong)
    return 0;
  if (!QueryDword(key, "InstMode", &r.InstMode)) return 0;
  if (!QueryDword(key, "InstAdd", &r.InstAdd)) r.InstAdd = 0;
  return 1;
}

void ShowUpdateMessage() {
  if (!UpdateDescription.UpdateMessage[0]) return;
  char text[kTextSize];
  TranslateEscapes(UpdateDescription.UpdateMessage, text);
  ShowError(text);
}

// SETUP.INI of the installation: there, and loaded. An InstPath that leaves
// no room for the file name is refused rather than cut.
int LoadInstalledSetup() {
  memcpy(SetupIniPath, InstallRecord.InstPath, sizeof SetupIniPath);
  if (!JoinPath(SetupIniPath, kSetupIniName)) {
    memset(SetupIniPath, 0, sizeof SetupIniPath);
    ShowErrorWith(kTextPathTooLong, InstallRecord.InstPath);
    return 0;
  }
  if (OsGetFileAttributes(SetupIniPath) == kNoAttributes) {
    ShowError(kTextSetupIniMissing);
    return 0;
  }
  return LoadSetupDescription();
}

void FormCaption() {
  const struct UpdateDescription& d = UpdateDescription;
  if (d.UpdaterTitle[0])
    OsFormat(WindowCaption, sizeof WindowCaption, "%s", d.UpdaterTitle);
  else
    OsFormat(WindowCaption, sizeof WindowCaption, kTextCaptionDefault, SetupDescription.GameTitle,
             d.UpdaterVersion);
}

void BringForward(WindowHandle window) {
  OsShowWindow(window, kSwShow);
  OsSetForegroundWindow(window);
}

// The single-instance test: 1 when another updater's wizard was found and
// brought forward, so this one must end.
int OtherUpdaterRunning() {
  WindowHandle other = OsFindWindow(kDialogClass, WindowCaption);
  if (!other) return 0;
  BringForward(other);
  return 1;
}

// 1 once no game window titled `title` exists; 0 when the user chose to
// stop, after the game's window has been brought forward.
int WaitForGameToClose(const char* title) {
  for (;;) {
    WindowHandle game = OsFindWindow(SetupDescription.GameClass, title);
    if (!game) return 1;
    char text[kTextSize];
    OsFormat(text, sizeof text, kTextGameRunning, title);
    if (OsMessageBox(nullptr, text, WindowCaption, kMbOkCancel) == kIdOk) continue;
    BringForward(game);
    return 0;
  }
}

// 1 when the user finished the wizard.
int RunWizard() {
  const int templateId =
      UpdateDescription.AgreementText ? kTemplateWizardAgreement : kTemplateWizard;
  const intptr_t result = OsDialogBox(ModuleInstance, templateId, nullptr, WizardProc, 0);
  WizardWindow = nullptr;
  if (result == 0) return 1;
  ShowError(kTextInterrupted);
  return 0;
}

int ReadUpdateIni() {
  const u32 boxes = ErrorBoxesShown;
  if (!ExtractPackageEntry(&UpdaterPackage, kUpdateIniName, UpdateIniPath, 0)) {
    // A write that failed has said nothing: the temporary file is what
    // could not be made.
    if (ErrorBoxesShown == boxes) ShowErrorWith(kTextTempFileFailed, UpdateIniPath);
    return 0;
  }
  if (!ReadRequiredKeys()) return 0;
  ReadOptionalKeys();
  ReadModeWord();
  return LoadAgreement("AgreementText", &UpdateDescription.AgreementText) &&
         LoadAgreement("AgreementTitle", &UpdateDescription.AgreementTitle);
}

int FindInstallation() {
  if (ReadInstallRecord()) return 1;
  ShowErrorWith(kTextNotInstalled, SetupDescription.GameTitle);
  return 0;
}

int GameClosed() {
  const char* second = UpdateDescription.GameTitleA;
  return WaitForGameToClose(SetupDescription.GameTitle) &&
         (!second[0] || WaitForGameToClose(second));
}

// Every step of the run up to the wizard's result; 1 when it was finished.
int RunUpdater(ModuleHandle instance) {
  OsRestrictDllSearch();
  ResolveDynamicApi();
  OsInitializeCom();
  ModuleInstance = instance;
  if (!OpenOwnPackage() || !CreatePrivateUpdateIni() || !ReadUpdateIni() || !FindInstallation())
    return 0;
  ShowUpdateMessage();
  if (!LoadInstalledSetup()) return 0;
  FormCaption();
  if (OtherUpdaterRunning() || !GameClosed()) return 0;
  return RunWizard();
}

}  // namespace

int UpdaterMain(ModuleHandle instance) {
  const int finished = RunUpdater(instance);
  ReleaseRunState();
  return finished;
}

void ReleaseRunState() {
  ClosePackage(&UpdaterPackage);
  OsDeleteFile(UpdateIniPath);
  // The name is free again once deleted; forgetting it keeps a second call
  // from deleting a file another updater has since been given.
  memset(UpdateIniPath, 0, sizeof UpdateIniPath);
}

void TranslateEscapes(const char* source, char* out) {
  u32 length = 0;
  for (const char* p = source; *p;) {
    const char* next = OsCharNext(p);
    if (next <= p) break;
    // Walking by characters keeps a trail byte 0x5C from being taken for
    // the backslash.
    const int escape = *p == '\\' && *next == 'n';
    const u32 width = escape ? 1 : (u32)(next - p);
    if (length + width > kTextSize - 1) break;
    if (escape) {
      out[length] = '\r';
      ++next;
    } else {
      memcpy(out + length, p, width);
    }
    length += width;
    p = next;
  }
  out[length] = 0;
}

int ReadInstallRecord() {
  memset(&InstallRecord, 0, sizeof InstallRecord);
  if (!DynamicApi.pfnRegOpenKeyEx) return 0;
  char keyPath[kTextSize];
  OsFormat(keyPath, sizeof keyPath, "Software\\%s\\%s", SetupDescription.CompanyName,
           SetupDescription.GameDir);
  RegistryKey key = nullptr;
  if (DynamicApi.pfnRegOpenKeyEx(kHkeyCurrentUser, keyPath, 0, kKeyRead, &key) != kErrorSuccess)
    return 0;
  const int installed = ReadInstallValues(key);
  if (DynamicApi.pfnRegCloseKey) DynamicApi.pfnRegCloseKey(key);
  return installed;
}

void ResetStartupState() {
  OsFree((void*)UpdateDescription.AgreementText);
  OsFree((void*)UpdateDescription.AgreementTitle);
  memset(&UpdateDescription, 0, sizeof UpdateDescription);
  memset(&InstallRecord, 0, sizeof InstallRecord);
}
