// The updater's entry logic: everything from the entry-point table to the
// wizard's result.
#pragma once
#include "flow/records.h"
#include "settings/setup_description.h"

// Runs the updater: restricts the DLL search, resolves the entry-point
// table, opens the package in `instance`'s resources, extracts UPDATE.INI
// into a private temporary file, reads its section "SETUP" and the agreement
// entries, finds the installation in the registry, shows the notice, loads
// the installed SETUP.INI, forms WindowCaption, ends when another updater
// with that caption or the game is running, and runs the wizard.
// Returns the exit code: 1 when the wizard ended with 0 (the user finished
// it), 0 on every other way out. Each failure has shown its own message; an
// interrupted wizard shows "アップデートが中断されました". ReleaseRunState
// runs exactly once on every way out.
int UpdaterMain(ModuleHandle instance);

// Closes the directory of UpdaterPackage and deletes the file UpdateIniPath names (an empty
// or missing path is ignored), then forgets that path.
void ReleaseRunState();

// Copies `source` into `out` (kTextSize bytes), walking it by characters:
// a one-byte backslash followed by "n" becomes one carriage return; every
// other character, a double-byte one whole (so a trail byte 0x5C never
// starts an escape), is copied unchanged. The result is terminated and never
// longer than the source; a source that would not fit is cut at a character.
void TranslateEscapes(const char* source, char* out);

// Reads HKCU\Software\<CompanyName>\<GameDir> through the DynamicApi slots
// into InstallRecord (emptied first). Returns 1 when the key opened and both
// InstPath and InstMode were read; 0 otherwise, also when a slot is empty.
// A string that fills its 260 bytes without a terminator counts as
// unreadable: InstPath then means not installed, DataPath stays empty. A
// DataPath that is there but that the registry fails to read (any answer
// but the value missing or too long) means not installed too, so the data
// files never go below the folder the updater was started in.
// InstAdd is 0 when unreadable. The key is closed exactly when it opened.
int ReadInstallRecord();

// Frees the agreement blocks and empties UpdateDescription and
// InstallRecord, as at program start (for tests).
void ResetStartupState();
