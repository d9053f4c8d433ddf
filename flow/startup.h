// The updater's entry logic: everything from the entry-point table to the
// wizard's result.
#pragma once
#include "platform/base.h"
#include "settings/setup_description.h"

// Section "SETUP" of UPDATE.INI. CompanyName, GameTitle, GameClass and
// GameDir live in SetupDescription (one storage for both).
struct UpdateDescription {
  char GameTitleA[kPathSize];
  char UpdaterVersion[kPathSize];
  char UpdaterTitle[kPathSize];
  char DataFolder[kPathSize];
  char UpdateMessage[kTextSize];
  int ModeIsInstall;
  const char* ModeWord;       // "インストール" or "アップデート"
  const char* AgreementText;  // zero-terminated block, or null
  const char* AgreementTitle;
};
extern struct UpdateDescription UpdateDescription;

// The registry values of the installed game.
struct InstallRecord {
  char InstPath[kPathSize];
  char DataPath[kPathSize];
  u32 InstMode;
  u32 InstAdd;
};
extern struct InstallRecord InstallRecord;

// Runs the updater. Returns the exit code: 1 when the user finished the
// wizard, 0 on every other way out.
int UpdaterMain(ModuleHandle instance);

// Releases the package directory and deletes the temporary UPDATE.INI.
void ReleaseRunState();

// Copies `source` to `out` (kTextSize bytes) with every one-byte "\n"
// replaced by a carriage return; a double-byte character is copied whole.
void TranslateEscapes(const char* source, char* out);

// Reads the installation from HKCU\Software\<CompanyName>\<GameDir> into
// InstallRecord. 1 when InstPath and InstMode could be read.
int ReadInstallRecord();

// Puts every record of the run back to its program-start state (for tests).
void ResetStartupState();
