// Reading the two INI files, comma lists with a disk prefix, path joining,
// and the settings error box.
#pragma once
#include "platform/base.h"

// The installed game's SETUP.INI and the extracted UPDATE.INI.
extern char SetupIniPath[kPathSize];
extern char UpdateIniPath[kPathSize];
// While on, a key read that finds nothing shows the missing-key message.
// On at program start.
extern int ReportMissingKeys;
// Disk number of the last prefixed list token ("3:name"); 0 at program start.
extern i32 CurrentDiskNumber;

// Key `key` of section "SETUP" of SetupIniPath into `out` (`size` bytes,
// zero-filled first, value cut to size - 1). 1 when the value is not empty;
// 0 otherwise, after "SETUP.INI : %s キーが存在しません" while
// ReportMissingKeys is on.
int ReadSetupKey(const char* key, char* out, u32 size);
// Key `key` of `section` of UpdateIniPath; as ReadSetupKey, with the message
// "%s : %s キーが存在しません" (section, key).
int ReadUpdateKey(const char* section, const char* key, char* out, u32 size);
// The key as a signed decimal (leading blanks, one sign, digits up to the
// first other character, clamped to the 32-bit range) into `*value`. 0 and
// `*value` untouched when the key cannot be read.
int ReadSetupInt(const char* key, i32* value);
// Decimal text to integer with the rules above, clamped to the type's range.
i32 TextToInt32(const char* text);
i64 TextToInt64(const char* text);

// Takes the next token of the list at `*cursor` into `token` (kPathSize
// bytes): blanks before it skipped, an "x:" prefix sets CurrentDiskNumber
// (digit value, else 0) and is dropped, then every character up to a comma,
// CR, LF or NUL. A token longer than the slot is cut to 259 bytes and the
// rest skipped up to its terminator. Returns 1 with the cursor past the
// terminator, or 0 (token untouched) when a terminator comes first.
int NextListToken(char* token, const char** cursor);

// Appends `component` to `path` (a kPathSize buffer) with one backslash
// between them unless `path` is empty or ends in '\' or '/', and writes a
// second NUL after the result. Returns 0 and leaves `path` unchanged when
// the result and both NULs would not fit.
int JoinPath(char* path, const char* component);

// Error box with `text`, caption "INSTCMMN", owner WizardWindow, error icon.
void ShowSetupError(const char* text);
