// The loader of the installed game's SETUP.INI: one pass over section
// "SETUP" in a fixed order, every fault ending the load at once with at most
// one message. Fields read before a fault keep their new values; nothing is
// undone.
#include "settings/setup_description.h"

#include <string.h>

#include "platform/format.h"
#include "settings/settings.h"
#include "texts.h"

struct SetupDescription SetupDescription;

namespace {

// Key names are short ASCII names with an index of at most two digits.
enum { kKeyNameSize = 64 };

void CopyText(char* to, const char* from, u32 size) {
  const size_t length = strnlen(from, size - 1);
  memcpy(to, from, length);
  memset(to + length, 0, size - length);
}

// "SETUP.INI : <key> エラー"; the load then fails.
int FailNamingKey(const char* key) {
  char text[kTextSize];
  OsFormat(text, sizeof text, kTextSetupKeyError, key);
  ShowSetupError(text);
  return 0;
}

int Fail(const char* text) {
  ShowSetupError(text);
  return 0;
}

// A 64-bit size of at most 19 characters; `*value` untouched when missing.
int ReadSetupInt64(const char* key, i64* value) {
  char text[20];
  if (!ReadSetupKey(key, text, sizeof text)) return 0;
  *value = TextToInt64(text);
  return 1;
}

void ReadTextOr(const char* key, char* field, u32 size, const char* fallback) {
  if (!ReadSetupKey(key, field, size)) CopyText(field, fallback, size);
}

// Takes up to kMaxSelectionFiles names of `line` into selection `s`, with
// the disk number of each. 0 when the line has no first name.
int TakeFileList(int s, const char* line) {
  struct SetupDescription& d = SetupDescription;
  const char* cursor = line;
  CurrentDiskNumber = 0;
  d.InstallHasDiskNumbers[s] = 0;
  for (int k = 0; k < kMaxSelectionFiles; ++k) {
    if (!NextListToken(d.InstallFiles[s][k], &cursor)) {
      if (k == 0) return 0;
      d.InstallFiles[s][k][0] = 0;  // the end marker
      return 1;
    }
    d.InstallFileDisk[s][k] = CurrentDiskNumber;
    if (CurrentDiskNumber) d.InstallHasDiskNumbers[s] = 1;
  }
  return 1;
}

int LoadSetupBmps() {
  char line[kTextSize];
  if (!ReadSetupKey("SetupBmp", line, sizeof line)) return 0;
  const char* cursor = line;
  for (int k = 0; k < kMaxSetupBmps; ++k) {
    if (NextListToken(SetupDescription.SetupBmp[k], &cursor)) continue;
    if (k == 0) return Fail(kTextSetupBmpsError);
    SetupDescription.SetupBmp[k][0] = 0;
    break;
  }
  return 1;
}

int LoadSelection(int s) {
  char key[kKeyNameSize];
  char line[kTextSize];
  OsFormat(key, sizeof key, "InstallTitle%i", s);
  if (!ReadSetupKey(key, SetupDescription.InstallTitle[s], kPathSize)) return 0;
  OsFormat(key, sizeof key, "InstallFiles%i", s);
  if (!ReadSetupKey(key, line, sizeof line)) return 0;
  if (!TakeFileList(s, line)) return FailNamingKey(key);
  return 1;
}

int LoadSelections() {
  if (!ReadSetupInt("InstallSelects", &SetupDescription.InstallSelects)) return 0;
  if (SetupDescription.InstallSelects > kMaxSelections) return Fail(kTextInstallSelectOver);
  for (int s = 0; s < SetupDescription.InstallSelects; ++s)
    if (!LoadSelection(s)) return 0;
  return 1;
}

int AtLineEnd(const char* cursor) { return *cursor == 0 || *cursor == '\n' || *cursor == '\r'; }

// A shortcut line: two required fields, then two optional ones; an empty
// optional field is skipped over with every comma and blank after it.
int LoadShortcut(int k) {
  char key[kKeyNameSize];
  char line[kPathSize];
  OsFormat(key, sizeof key, "Shortcut%i", k);
  if (!ReadSetupKey(key, line, sizeof line)) return 0;
  char (*fields)[kPathSize] = SetupDescription.Shortcut[k];
  memset(fields, 0, sizeof SetupDescription.Shortcut[k]);
  const char* cursor = line;
  for (int m = 0; m < kShortcutFields; ++m) {
    if (NextListToken(fields[m], &cursor)) continue;
    if (m < 2) return FailNamingKey(key);
    if (AtLineEnd(cursor)) break;
    while (*cursor == ',' || *cursor == ' ' || *cursor == '\t') ++cursor;
  }
  return 1;
}

int LoadShortcuts() {
  if (!ReadSetupInt("Shortcuts", &SetupDescription.Shortcuts)) return 0;
  if (SetupDescription.Shortcuts > kMaxShortcuts) return Fail(kTextShortcutsOver);
  for (int k = 0; k < SetupDescription.Shortcuts; ++k)
    if (!LoadShortcut(k)) return 0;
  return 1;
}

int LoadExecApp() {
  char line[kPathSize];
  char (*fields)[kPathSize] = SetupDescription.ExecApp;
  if (!ReadSetupKey("ExecApp", line, sizeof line)) {
    memset(fields, 0, sizeof SetupDescription.ExecApp);
    return 1;
  }
  const char* cursor = line;
  if (!NextListToken(fields[0], &cursor) || !NextListToken(fields[1], &cursor))
    return FailNamingKey("ExecApp");
  return 1;
}

// The required part: every missing key fails (reported only while
// ReportMissingKeys is on, which the loader leaves as it found it).
int LoadRequired() {
  struct SetupDescription& d = SetupDescription;
  return ReadSetupKey("CompanyName", d.CompanyName, kPathSize) &&
         ReadSetupKey("GameTitle", d.GameTitle, kPathSize) &&
         ReadSetupKey("GameDir", d.GameDir, kPathSize) &&
         ReadSetupKey("GameExe", d.GameExe, kPathSize) &&
         ReadSetupKey("UninstExe", d.UninstExe, kPathSize) && LoadSetupBmps() &&
         LoadSelections() && LoadShortcuts();
}

void LoadSizes() {
  for (int s = 0; s < SetupDescription.InstallSelects; ++s) {
    char key[kKeyNameSize];
    OsFormat(key, sizeof key, "InstallSize%i", s);
    SetupDescription.InstallSize[s] = 0;
    ReadSetupInt64(key, &SetupDescription.InstallSize[s]);
  }
}

void LoadDiskCheckFiles() {
  for (int n = 0; n < kDiskCount; ++n) {
    char key[kKeyNameSize];
    OsFormat(key, sizeof key, "DiskCheckFile%i", n);
    ReadSetupKey(key, SetupDescription.DiskCheckFile[n], kPathSize);
  }
}

// The additional install list, which takes the place of the fourth
// selection's files and size. It is required once announced, so its key is
// reported even in a run that reports nothing else; a failure here leaves
// the report switched on.
int LoadInstallAdd() {
  struct SetupDescription& d = SetupDescription;
  const int s = kMaxSelections - 1;
  char line[kTextSize];
  ReportMissingKeys = 1;
  if (!ReadSetupKey("InstallAddFiles", line, sizeof line)) return 0;
  if (!TakeFileList(s, line)) return Fail(kTextInstallAddFilesError);
  ReportMissingKeys = 0;
  d.InstallSize[s] = 0;
  ReadSetupInt64("InstallAddSize", &d.InstallSize[s]);
  return 1;
}

// UseCompanyNameForShortcutGroup, ChooseSaveDataFolder, CancelSaveData,
// StopInstallToProgramFiles and Debug_OutputSetupLog are not read: the
// updater has no use for them, and each read would be one more file scan.
int LoadOptional() {
  struct SetupDescription& d = SetupDescription;
  ReadTextOr("GameClass", d.GameClass, kPathSize, d.GameTitle);
  d.DefaultSelect = 0;
  ReadSetupInt("DefaultSelect", &d.DefaultSelect);
  LoadSizes();
  LoadDiskCheckFiles();
  if (!LoadExecApp()) return 0;
  ReadTextOr("SelectSetupMessage", d.SelectSetupMessage, kTextSize,
             kTextSelectSetupMessageDefault);
  ReadTextOr("SaveDataFolderNameInInstall", d.SaveDataFolderNameInInstall, kPathSize, "savedata");
  ReadTextOr("SaveDataFolderName", d.SaveDataFolderName, kPathSize, d.GameDir);
  ReadTextOr("StrKeyInstPath", d.StrKeyInstPath, kPathSize, "InstPath");
  ReadSetupKey("ShortcutFolder", d.ShortcutFolder, kPathSize);
  i32 after = 0;
  d.InstallAfterAdd = ReadSetupInt("InstallAfterAdd", &after) && after != 0;
  if (d.InstallAfterAdd && !LoadInstallAdd()) return 0;
  ReadTextOr("UninstTitle", d.UninstTitle, kPathSize, d.GameTitle);
  d.InstPathMode = 0;
  ReadSetupInt("InstPathMode", &d.InstPathMode);
  ReadSetupKey("GameExe64", d.GameExe64, kPathSize);
  return 1;
}
}  // namespace

/* LoadSetupDescription: reads section "SETUP" of SetupIniPath into
 * SetupDescription. Returns 1 when the whole description was read, else 0
 * at the first fault after at most one message. Protects against: over-long
 * values and list items (cut at their slots), counts above their limits
 * (refused before any slot is indexed), and any malformed or truncated file
 * (every key read is bounded; a missing key is a default or a failure). */
int LoadSetupDescription() {
  if (!LoadRequired()) return 0;
  ReportMissingKeys = 0;
  return LoadOptional();
}

void ResetSettingsState() {
  memset(SetupIniPath, 0, sizeof SetupIniPath);
  memset(UpdateIniPath, 0, sizeof UpdateIniPath);
  ReportMissingKeys = 1;
  CurrentDiskNumber = 0;
  memset(&SetupDescription, 0, sizeof SetupDescription);
}
