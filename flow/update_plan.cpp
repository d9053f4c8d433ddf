// The update step's first half: the free-space check, the busy look, and
// section "UPDATE" of UPDATE.INI turned into the plan that RunUpdate carries
// out.
//
// Update lines are comma lists: an optional one-digit mode, an optional kind
// letter (d, u, o), then the path below the destination folder. Copy lines
// are not lists: an optional "m," mode and "n:" disk stand at fixed places
// in front of a path relative to the disk's root, and everything after them
// (commas included) is the path.
#include "flow/update_plan.h"

#include <string.h>

#include "flow/info_text.h"
#include "flow/records.h"
#include "flow/update_run.h"
#include "runtime/run_state.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "settings/settings.h"
#include "texts.h"

namespace {
const char kSection[] = "UPDATE";
enum { kKeyNameSize = 32, kTokenSlots = 3 };

// Modes and disks are single characters; a line compares their code with
// that of '0', as the publishers' tools have always written them.
i32 CharValue(char c) { return (i32)(signed char)c - '0'; }

int IsDigit(char c) { return c >= '0' && c <= '9'; }

int AppliesToMode(i32 mode) { return mode == (i32)InstallRecord.InstMode; }

// The byte index one past the last backslash of `path`, 0 when it has none.
// The trail byte of a double-byte character may be 0x5C too; it is stepped
// over with its lead byte and never separates.
i32 FileNameOffset(const char* path) {
  i32 offset = 0;
  for (i32 i = 0; path[i];) {
    if (OsIsLeadByte((u8)path[i])) {
      i += path[i + 1] ? 2 : 1;
      continue;
    }
    if (path[i] == '\\') offset = i + 1;
    ++i;
  }
  return offset;
}

// The kind a kind token names, or KindPlain when it is no kind letter.
// Only a one-byte token can be a letter, so no longer one is compared.
i32 KindOfToken(const char* token) {
  if (token[0] == '\0' || token[1] != '\0') return KindPlain;
  if (OsCompareNoCase(token, "d") == 0) return KindData;
  if (OsCompareNoCase(token, "u") == 0) return KindUpdate;
  if (OsCompareNoCase(token, "o") == 0) return KindOverwrite;
  return KindPlain;
}

// Appends one update line to the plan when it is meant for the installed
// mode.
void AddUpdateLine(const char* line) {
  struct UpdateLine parsed;
  ParseUpdateLine(line, &parsed);
  if (parsed.hasMode && !AppliesToMode(parsed.mode)) return;
  UpdatePlan.updateItems[UpdatePlan.updateCount++] = parsed.item;
}

// The update lines, UpdateFile00 upwards to the first absent one.
// Returns 1 when at least one was present.
int ReadUpdateLines() {
  char key[kKeyNameSize];
  char line[kTextSize];
  int n = 0;
  for (; n < kMaxPlanLines; ++n) {
    OsFormat(key, sizeof key, "UpdateFile%02i", n);
    if (!ReadUpdateKey(kSection, key, line, sizeof line)) break;
    AddUpdateLine(line);
  }
  return n > 0;
}

// A disk outside 1 to 9 names no check file (a drive letter reads as 17 and
// up), so such a line is refused before anything is written.
int RefuseDiskPrefix(const char* key, const char* line) {
  char text[kTextSize];
  OsFormat(text, sizeof text, kTextBadDiskPrefix, key, line);
  ShowError(text);
  return 0;
}

// Appends one copy line when it is meant for the installed mode. 0 after
// the error box for a refused disk prefix.
int AddCopyLine(const char* key, const char* line) {
  struct CopyLine parsed;
  ParseCopyLine(line, &parsed);
  if (parsed.hasMode && !AppliesToMode(parsed.mode)) return 1;
  if (parsed.diskRefused) return RefuseDiskPrefix(key, line);
  UpdatePlan.copyItems[UpdatePlan.copyCount++] = parsed.item;
  return 1;
}

// The copy lines, CopyFile00 upwards to the first absent one. 1 when at
// least one was present, 0 when none, -1 after a refused line.
int ReadCopyLines() {
  char key[kKeyNameSize];
  char line[kPathSize];
  int n = 0;
  for (; n < kMaxPlanLines; ++n) {
    OsFormat(key, sizeof key, "CopyFile%02i", n);
    if (!ReadUpdateKey(kSection, key, line, sizeof line)) break;
    if (!AddCopyLine(key, line)) return -1;
  }
  return n > 0;
}

// The free-space check. 1 when the drive of InstPath has room or no check
// applies; 0 after the shortage has been put on the page.
int CheckFreeSpace(WindowHandle dialog) {
  i32 required = ReadUpdateInt("RequiredDiskSpace");
  if (required == 0) return 1;
  char drive[3] = {InstallRecord.InstPath[0], 0, 0};
  if (drive[0]) drive[1] = InstallRecord.InstPath[1];
  u64 available = 0;
  // A path without a drive letter (a network share) cannot be asked.
  if (!OsGetDiskFreeSpace(drive, &available)) return 1;
  u64 needed = (u64)(u32)required;
  if (needed <= available) return 1;
  i32 shortfall = (i32)(u32)(needed - available);
  SetInfoText(dialog, kTextDiskShortPlan, drive, shortfall);
  OsEnableWindow(OsGetDlgItem(dialog, kIdBack), 1);
  OsEnableWindow(OsGetDlgItem(dialog, kIdNext), 0);
  OsEnableWindow(OsGetDlgItem(dialog, kIdCancel), 1);
  return 0;
}

const char* ModeWord() {
  return UpdateDescription.ModeWord ? UpdateDescription.ModeWord : "";
}

void ShowBusy(WindowHandle dialog) {
  SetInfoText(dialog, kTextRunning, ModeWord());
  OsEnableWindow(OsGetDlgItem(dialog, kIdBack), 0);
  OsEnableWindow(OsGetDlgItem(dialog, kIdNext), 0);
  OsEnableWindow(OsGetDlgItem(dialog, kIdCancel), 0);
  OsSetCursor(kCursorWait);
}
}  // namespace

i32 ReadUpdateInt(const char* key) {
  char value[kPathSize];
  if (!ReadUpdateKey(kSection, key, value, sizeof value)) return 0;
  return TextToInt32(value);
}

/*! ParseUpdateLine() :
 *  Splits an UpdateFile value into at most three list tokens (the rest is
 *  ignored; slots stay empty where the list ran out). A first token of one
 *  digit is the mode; the next token is the kind when it is one of the
 *  letters d, u, o (any case), and the path follows it; otherwise the kind
 *  is KindPlain and that token itself is the path. The entry name starts
 *  after the path's last one-byte backslash. */
void ParseUpdateLine(const char* line, struct UpdateLine* out) {
  char tokens[kTokenSlots][kPathSize];
  memset(tokens, 0, sizeof tokens);
  memset(out, 0, sizeof *out);
  const char* cursor = line;
  for (int i = 0; i < kTokenSlots && NextListToken(tokens[i], &cursor); ++i) {
  }
  const char* kindToken = tokens[0];
  const char* nameToken = tokens[1];
  if (IsDigit(tokens[0][0]) && tokens[0][1] == '\0') {
    out->hasMode = 1;
    out->mode = CharValue(tokens[0][0]);
    kindToken = tokens[1];
    nameToken = tokens[2];
  }
  struct UpdateItem* item = &out->item;
  item->kind = KindOfToken(kindToken);
  const char* path = item->kind == KindPlain ? kindToken : nameToken;
  memcpy(item->relativePath, path, sizeof item->relativePath);
  item->fileNameOffset = FileNameOffset(item->relativePath);
}

/*! ParseCopyLine() :
 *  A copy line is no list: a byte followed by a comma at its start is the
 *  mode, then a byte followed by a colon is the disk (1 to 9, else the line
 *  is refused), and the whole rest, commas and blanks included, is the
 *  path. */
void ParseCopyLine(const char* line, struct CopyLine* out) {
  memset(out, 0, sizeof *out);
  const char* rest = line;
  if (line[0] && line[1] == ',') {
    out->hasMode = 1;
    out->mode = CharValue(line[0]);
    rest = line + 2;
  }
  if (rest[0] && rest[1] == ':') {
    out->item.diskNumber = CharValue(rest[0]);
    out->diskRefused = out->item.diskNumber < 1 || out->item.diskNumber > 9;
    rest += 2;
  }
  const size_t length = strnlen(rest, kPathSize - 1);
  memcpy(out->item.sourcePath, rest, length);
  out->item.sourcePath[length] = 0;
}

/*! ReadUpdatePlan() :
 *  Empties UpdatePlan and fills it from section "UPDATE" of UpdateIniPath:
 *  OverwriteOnly, UpdateFile00..15 and CopyFile00..15, each list up to its
 *  first absent key, lines for another InstMode dropped. Reads no key while
 *  ReportMissingKeys matters: the caller keeps it off.
 *  @return : 1 when a line of either list was present (both lists may still
 *            be empty), 0 when neither UpdateFile00 nor CopyFile00 is,
 *            -1 after the error box for a copy line whose disk is not 1 to 9
 *            (the plan is then incomplete and must not be run). */
int ReadUpdatePlan() {
  memset(&UpdatePlan, 0, sizeof UpdatePlan);
  UpdatePlan.overwriteOnly = ReadUpdateInt("OverwriteOnly") != 0;
  int haveUpdateLines = ReadUpdateLines();
  int haveCopyLines = ReadCopyLines();
  if (haveCopyLines < 0) return -1;
  return haveUpdateLines || haveCopyLines;
}

/*! BuildUpdatePlan() :
 *  The work of Next on the ready page, inside the wizard's busy span.
 *  A shortage of free space leaves the page with Back and Cancel usable and
 *  nothing read. Otherwise puts the wizard into its busy look and reads the
 *  plan; nothing listed or a refused line ends `dialog` with -1 (after an
 *  error box); a plan with nothing for this mode says so and completes.
 *  Every other way hands the plan to RunUpdate, which completes the wizard
 *  or ends it with -1. */
void BuildUpdatePlan(WindowHandle dialog) {
  if (!CheckFreeSpace(dialog)) return;
  ShowBusy(dialog);
  int found = ReadUpdatePlan();
  if (found <= 0) {
    if (found == 0) ShowError(kTextNothingListed);
    OsEndDialog(dialog, -1);
    return;
  }
  if (UpdatePlan.updateCount == 0 && UpdatePlan.copyCount == 0) ShowError(kTextNothingToUpdate);
  RunUpdate(dialog, &UpdatePlan);
}
