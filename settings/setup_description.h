// The installed game's SETUP.INI as loaded.
#pragma once
#include "platform/base.h"

enum {
  kMaxSetupBmps = 20,
  kMaxSelections = 4,
  kMaxSelectionFiles = 40,
  kMaxShortcuts = 10,
  kShortcutFields = 4,
  kDiskCount = 10,
};

struct SetupDescription {
  // The game's identity, shared with the update description: filled from
  // UPDATE.INI first, then overwritten by the load.
  char CompanyName[kPathSize];
  char GameTitle[kPathSize];
  char GameClass[kPathSize];
  char GameDir[kPathSize];

  char GameExe[kPathSize];
  char UninstExe[kPathSize];
  char SetupBmp[kMaxSetupBmps][kPathSize];
  i32 InstallSelects;
  char InstallTitle[kMaxSelections][kPathSize];
  char InstallFiles[kMaxSelections][kMaxSelectionFiles][kPathSize];
  i32 InstallFileDisk[kMaxSelections][kMaxSelectionFiles];
  i32 InstallHasDiskNumbers[kMaxSelections];
  i32 Shortcuts;
  char Shortcut[kMaxShortcuts][kShortcutFields][kPathSize];
  i32 DefaultSelect;
  i64 InstallSize[kMaxSelections];
  char DiskCheckFile[kDiskCount][kPathSize];
  char ExecApp[2][kPathSize];
  char SelectSetupMessage[kTextSize];
  char SaveDataFolderNameInInstall[kPathSize];
  char SaveDataFolderName[kPathSize];
  char StrKeyInstPath[kPathSize];
  char ShortcutFolder[kPathSize];
  i32 InstallAfterAdd;
  char UninstTitle[kPathSize];
  i32 InstPathMode;
  char GameExe64[kPathSize];
};
extern struct SetupDescription SetupDescription;

// Reads section "SETUP" of SetupIniPath into SetupDescription in its fixed
// order. Returns 1 when the whole description was read, 0 at the first fault
// after at most one message (a missing required key only while
// ReportMissingKeys is on).
int LoadSetupDescription();

// Paths empty, ReportMissingKeys on, CurrentDiskNumber 0, SetupDescription
// zeroed: the settings records as at program start.
void ResetSettingsState();
