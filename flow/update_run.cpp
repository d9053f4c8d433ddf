// Carrying out the update plan: package entries placed by kind, then files
// copied from the game's CD-ROM set through the shell, then the wizard's
// completed state. Every failure ends the dialog with -1 where it is found;
// what was written before stays.
#include "flow/update_run.h"

#include <string.h>

#include "flow/info_text.h"
#include "flow/records.h"
#include "runtime/run_state.h"
#include "package/extract.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/memory.h"
#include "platform/messagebox.h"
#include "platform/ui.h"
#include "settings/settings.h"
#include "settings/setup_description.h"
#include "texts.h"

namespace {
// The drive ("Q:") that the most recent media search found; empty before
// the first search of a run.
char MediaDrive[3];

enum : u16 {
  kCopyFileFlags = kFofNoConfirmation | kFofNoConfirmMkdir,                 // 528
  kCopyFolderFlags = kFofNoConfirmation | kFofNoConfirmMkdir | kFofNoErrorUi,  // 1552
};

// `text` into the path buffer `out`, double-NUL-terminated. 0 when it and
// its two NULs do not fit.
int SetPath(char* out, const char* text) {
  out[0] = '\0';
  return JoinPath(out, text);
}

// The end of every failed write, a path too long included.
int FailWrite(WindowHandle dialog) {
  ShowError(kTextWriteFailed);
  OsEndDialog(dialog, -1);
  return 0;
}

int IsMissingOrFolder(const char* path) {
  u32 attributes = OsGetFileAttributes(path);
  if (attributes != kNoAttributes) return (attributes & kAttrDirectory) != 0;
  // Attributes that cannot be read do not prove the file missing: a file
  // that opens is there (a folder never opens this way).
  FileHandle file = OpenFileForRead(path);
  if (file == kInvalidFile) return 1;
  OsCloseFile(file);
  return 0;
}

// Reads the existing file at `path` whole and writes the same bytes back,
// which renews its time stamp and keeps the user's data. The write replaces
// the file in one step, so a failing write leaves it as it was; its outcome
// does not matter. 0 when the file could not be read (the caller then
// writes the package entry).
int KeepDataFile(const char* path) {
  FileHandle file = OpenFileForRead(path);
  if (file == kInvalidFile) return 0;
  u32 size = OsGetFileSize(file);
  void* bytes = size == kInvalidFileSize ? nullptr : OsAlloc(size);
  int read = bytes && ReadExactly(file, bytes, size);
  OsCloseFile(file);
  if (read) WriteFileWithTime(path, bytes, size, nullptr);
  OsFree(bytes);
  return read;
}

// One update item. 1 when placed, kept or skipped; 0 when the dialog has
// been ended.
int PlaceUpdateItem(WindowHandle dialog, const struct UpdatePlan* plan,
                    const struct UpdateItem* item) {
  char folder[kPathSize];
  char path[kPathSize];
  if (!UpdateItemFolder(item, folder)) return FailWrite(dialog);
  OsCreateDirectory(folder);  // usually exists already; the write decides
  if (!SetPath(path, folder) || !JoinPath(path, item->relativePath)) return FailWrite(dialog);
  switch (DecideUpdateItem(plan, item, path)) {
    case kItemSkipped:
      return 1;
    case kItemKeepsData:
      if (KeepDataFile(path)) return 1;
      break;  // unreadable after all: the entry is written
    case kItemWritesEntry:
      break;
  }
  const char* name = item->relativePath + item->fileNameOffset;
  if (!ExtractPackageEntry(&UpdaterPackage, name, path, item->kind == KindUpdate))
    return FailWrite(dialog);
  return 1;
}

// Disk `diskNumber`'s check file on the lowest CD-ROM drive that has it.
// An empty check file probes the drive's root, so any disc qualifies.
int ScanForDisk(int diskNumber, char* drive) {
  const char* checkFile = SetupDescription.DiskCheckFile[diskNumber];
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    char root[3] = {letter, ':', '\0'};
    if (OsGetDriveType(root) != kDriveCdrom) continue;
    char probe[kPathSize];
    // A probe path too long for any drive names no file there.
    if (!SetPath(probe, root) || !JoinPath(probe, checkFile)) continue;
    if (OsGetFileAttributes(probe) == kNoAttributes) continue;
    memcpy(drive, root, sizeof root);
    return 1;
  }
  return 0;
}

// The shell's copy of one item with the outcome judged. 1 when copied;
// 0 when the dialog has been ended.
int ShellCopy(WindowHandle dialog, const char* sourcePath, const char* source, char* destination) {
  u16 flags = kCopyFolderFlags;
  if (!IsMissingOrFolder(source)) {
    if (!JoinPath(destination, sourcePath)) return FailWrite(dialog);
    flags = kCopyFileFlags;
  }
  SetInfoText(dialog, kTextCopying, sourcePath);
  ShellFileOp operation;
  memset(&operation, 0, sizeof operation);
  operation.hwnd = dialog;
  operation.wFunc = kFoCopy;
  operation.pFrom = source;
  operation.pTo = destination;
  operation.fFlags = flags;
  // Without the shell's entry point (reported at start-up) nothing can be
  // copied: the same as a copy that failed.
  int result = DynamicApi.pfnSHFileOperation ? DynamicApi.pfnSHFileOperation(&operation) : 1;
  if (operation.fAnyOperationsAborted) {
    OsEndDialog(dialog, -1);
    return 0;
  }
  if (result != 0) {
    char text[kTextSize];
    OsFormat(text, sizeof text, kTextCopyFailed, sourcePath);
    OsMessageBox(dialog, text, WindowCaption, kMbOk | kMbIconError);
    OsEndDialog(dialog, -1);
    return 0;
  }
  // Files from a CD-ROM are read-only; the installed copy must not be.
  OsSetFileAttributes(destination, kAttrNormal);
  return 1;
}

// One copy item: the drive (searched for a numbered disk, and for the first
// item of a run whatever its number), then the copy into InstPath.
int CopyMediaItem(WindowHandle dialog, const struct CopyItem* item) {
  if (item->diskNumber != 0 || MediaDrive[0] == '\0') {
    if (!FindMediaDrive(dialog, item->diskNumber, MediaDrive)) return 0;
  }
  char source[kPathSize];
  char destination[kPathSize];
  if (!SetPath(source, MediaDrive) || !JoinPath(source, item->sourcePath) ||
      !SetPath(destination, InstallRecord.InstPath))
    return FailWrite(dialog);
  return ShellCopy(dialog, item->sourcePath, source, destination);
}

void ShowCompleted(WindowHandle dialog) {
  const char* modeWord = UpdateDescription.ModeWord ? UpdateDescription.ModeWord : "";
  SetInfoText(dialog, kTextCompleted, modeWord);
  OsSetDlgItemText(dialog, kIdNext, kTextFinish);
  WindowHandle next = OsGetDlgItem(dialog, kIdNext);
  OsEnableWindow(next, 1);
  OsSetFocus(next);
  OsSetCursor(kCursorArrow);
}
}  // namespace

/*! FindMediaDrive() :
 *  Scans A: to Z: for a CD-ROM drive on which disk `diskNumber`'s check
 *  file (SetupDescription.DiskCheckFile) exists; the lowest letter wins.
 *  While none does, asks the user (owner `dialog`, caption WindowCaption,
 *  OK/Cancel) to insert the disk and scans again on OK.
 *  @return : 1 with `drive` (3 bytes) set to "Q:";
 *            0 when the user answered anything but OK, or `diskNumber` is
 *            not 0 to 9; the dialog has then been ended with -1. */
int FindMediaDrive(WindowHandle dialog, int diskNumber, char* drive) {
  if (diskNumber < 0 || diskNumber >= kDiskCount) {
    OsEndDialog(dialog, -1);
    return 0;
  }
  while (!ScanForDisk(diskNumber, drive)) {
    char text[kTextSize];
    OsFormat(text, sizeof text, kTextInsertDisk, SetupDescription.GameTitle, diskNumber);
    if (OsMessageBox(dialog, text, WindowCaption, kMbOkCancel) != kIdOk) {
      OsEndDialog(dialog, -1);
      return 0;
    }
  }
  return 1;
}

/*! UpdateItemFolder() :
 *  The folder `item` goes into: InstallRecord.DataPath for KindData, else
 *  InstPath, then UpdateDescription.DataFolder (the run creates that one
 *  level when it is missing). The item's relativePath follows it.
 *  @return : 1, or 0 when it does not fit kPathSize with two NULs. */
int UpdateItemFolder(const struct UpdateItem* item, char* folder) {
  const char* root = item->kind == KindData ? InstallRecord.DataPath : InstallRecord.InstPath;
  return SetPath(folder, root) && JoinPath(folder, UpdateDescription.DataFolder);
}

/*! DecideUpdateItem() :
 *  The placement rules ahead of the package entry, judged without changing
 *  anything: under OverwriteOnly and for KindOverwrite a missing file (or a
 *  folder) is skipped; for KindData an existing file that opens for reading
 *  keeps its content; everything else writes the entry, which then follows
 *  the newer-file rule (KindUpdate) and the entry's own checks.
 *  @return : kItemSkipped, kItemKeepsData or kItemWritesEntry. */
int DecideUpdateItem(const struct UpdatePlan* plan, const struct UpdateItem* item,
                     const char* path) {
  if ((plan->overwriteOnly || item->kind == KindOverwrite) && IsMissingOrFolder(path))
    return kItemSkipped;
  if (item->kind != KindData || IsMissingOrFolder(path)) return kItemWritesEntry;
  FileHandle file = OpenFileForRead(path);
  if (file == kInvalidFile) return kItemWritesEntry;
  OsCloseFile(file);
  return kItemKeepsData;
}

/*! RunUpdate() :
 *  Places plan->updateItems in order (the package entry, or for KindData
 *  an existing file kept), then copies plan->copyItems from the CD-ROM into
 *  InstallRecord.InstPath, then shows the completed wizard: the completion
 *  text, Next reading "完了" enabled and focused, the arrow cursor.
 *  The first failure stops the run and ends `dialog` with -1, after its
 *  error box where it has one; nothing written before is undone. */
void RunUpdate(WindowHandle dialog, const struct UpdatePlan* plan) {
  MediaDrive[0] = '\0';
  for (int i = 0; i < plan->updateCount && i < kMaxPlanLines; ++i) {
    if (!PlaceUpdateItem(dialog, plan, &plan->updateItems[i])) return;
  }
  for (int i = 0; i < plan->copyCount && i < kMaxPlanLines; ++i) {
    if (!CopyMediaItem(dialog, &plan->copyItems[i])) return;
  }
  ShowCompleted(dialog);
}

/*! ResetUpdateState() :
 *  Empties UpdatePlan and forgets the media drive, as at program start. */
void ResetUpdateState() {
  memset(&UpdatePlan, 0, sizeof UpdatePlan);
  MediaDrive[0] = '\0';
}
