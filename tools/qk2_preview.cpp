// qk2 preview: the updater's decisions for every line of an update against
// one installation. The decisions are the updater's own code, compiled into
// the tool: its INI reader and plan reader (ReadUpdatePlan, with the lines
// of other modes dropped as the run drops them), its SETUP.INI loader, and
// the placement rules (DecideUpdateItem, JudgeDestination). What the tool
// adds is the walk over the lines, the free space as it shrinks, the media
// search over folders instead of drives, and the reasons. Nothing in the
// installation is opened for writing; the boxes the updater would show are
// collected instead of shown.
#include "tools/qk2_preview.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "flow/records.h"
#include "flow/update_plan.h"
#include "flow/update_run.h"
#include "package/extract.h"
#include "package/format.h"
#include "package/package.h"
#include "package/patch.h"
#include "packer/update_ini_check.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/messagebox.h"
#include "platform/text.h"
#include "runtime/run_state.h"
#include "settings/settings.h"
#include "settings/setup_description.h"
#include "texts.h"
#include "tools/qk2_common.h"

const char kPreviewUsage[] =
    "usage: qk2 preview UPDATE_FOLDER|FILE --install DIR [--data DIR] [--mode N]\n"
    "                   [--disk N=DIR ...] [--json]\n"
    "Shows what the update would do to the installation in DIR, line by line, as\n"
    "the updater decides it: which lines apply to the installation's mode, where\n"
    "each file goes, whether it is written, kept or skipped and why, what is\n"
    "copied from which disk, the free space, and the bytes written. Reads\n"
    "SETUP.INI in DIR as the updater does and says what would stop the updater\n"
    "before its wizard, with the updater's own message. Changes nothing.\n"
    "UPDATE_FOLDER is an update folder as make-updater takes it; FILE is an\n"
    "updater or a package.\n"
    "  --install DIR  the installation folder (the registry's InstPath)\n"
    "  --data DIR     the data folder (DataPath), where \"d\" lines go\n"
    "  --mode N       the installation's InstMode (default 1)\n"
    "  --disk N=DIR   DIR holds disk N (0 to 9) of the game's CD-ROM set; the\n"
    "                 folders are searched in the order of N, as drives A: to Z:\n"
    "  --json         one JSON object on stdout, UTF-8, each line's account on\n"
    "                 a line of its own:\n"
    "                 {\"update\", \"install\", \"data\", \"mode\", \"setup\": {\"ok\",\n"
    "                  \"message\"}, \"freeBytes\", \"requiredDiskSpace\", \"lines\": [{\"key\",\n"
    "                  \"line\", \"action\", \"destination\", \"source\", \"bytes\", \"reason\",\n"
    "                  \"message\"}], \"bytesWritten\", \"finishes\", \"stop\"}\n"
    "                 action: write, keep-newer, keep-data, keep-new (a patch's new\n"
    "                 version already there), skip, other-mode, copy,\n"
    "                 ask-disk, stop, not-reached\n"
    "Exit code 0 when the updater would finish, 1 when it would stop or wait for\n"
    "a disk that no --disk folder holds.\n";

namespace {

struct PreviewOptions {
  std::string update;
  std::string install;
  std::string data;
  int mode = 1;
  std::map<int, std::string> disks;  // in the order of N
  bool json = false;
};

// ---- the updater's boxes, collected

std::vector<std::string> CollectedBoxes;

// A box that asks (insert the disk) is answered with Cancel: the preview
// never waits.
int CollectBox(const char* text, const char* caption, u32 flags) {
  (void)caption;
  CollectedBoxes.push_back(text ? text : "");
  return (flags & kMbOkCancel) ? kIdCancel : kIdOk;
}

std::string TakeBoxes() {
  std::string joined;
  for (const std::string& box : CollectedBoxes) joined += (joined.empty() ? "" : " / ") + box;
  CollectedBoxes.clear();
  return joined;
}

// One of the updater's texts with its arguments, as its box would show it.
std::string Formatted(const char* format, const char* a, const char* b = "") {
  char text[kTextSize];
  OsFormat(text, sizeof text, format, a, b);
  return text;
}

// ---- paths

// The folder part of a native path, without its separator.
std::string ParentOf(const std::string& path) {
  std::string parent = path.substr(0, path.size() - BaseName(path).size());
  while (parent.size() > 1 && (parent.back() == '/' || parent.back() == '\\')) parent.pop_back();
  return parent.empty() ? "." : parent;
}

bool IsFolder(const std::string& path) {
  const u32 attributes = OsGetFileAttributes(path.c_str());
  return attributes != kNoAttributes && (attributes & kAttrDirectory);
}

uint64_t SizeOf(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_directory(path, error)) {
    const uintmax_t size = std::filesystem::file_size(path, error);
    return error ? 0 : (uint64_t)size;
  }
  uint64_t total = 0;
  for (std::filesystem::recursive_directory_iterator it(path, error), end; !error && it != end;
       it.increment(error))
    if (it->is_regular_file(error)) total += (uint64_t)it->file_size(error);
  return total;
}

// "2024-04-01 12:00:00" (UTC) of a FILETIME.
std::string ShortTime(const FileTime& time) {
  const std::string iso = IsoTime(time);
  return iso.substr(0, 10) + " " + iso.substr(11, 8);
}

std::string Bytes(uint64_t bytes) {
  std::string text = std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  if (bytes >= 1024 * 1024) {
    char mib[32];
    std::snprintf(mib, sizeof mib, " (%.2f MiB)", (double)bytes / (1024.0 * 1024.0));
    text += mib;
  }
  return text;
}

// Copies `text` into a kPathSize record field; false when it does not fit.
bool SetField(char* field, const std::string& text) {
  if (text.size() >= kPathSize) return false;
  std::memset(field, 0, kPathSize);
  std::memcpy(field, text.data(), text.size());
  return true;
}

// ---- the update: a folder, or the package of a file

struct EntryFacts {
  bool found = false;
  uint64_t size = 0;
  FileTime time = {0, 0};
  std::string source;  // the folder's file, or the package's entry name
  // A patch entry: its container, and whether a whole copy stands behind it.
  bool isPatch = false;
  const u8* patch = nullptr;  // null for a damaged one
  u32 patchLength = 0;
  bool whole = false;
};

struct UpdateSource {
  bool folder = false;
  std::string shownIni;  // UPDATE.INI as messages name it
  UpdateFolderCheck check;
  PackageInput input;
  Package package = {};
  std::string tempFolder;  // FILE: where its UPDATE.INI is read from
  ~UpdateSource() {
    ReleasePackage(&package);  // its image and the entries read from it
    std::error_code error;
    if (!tempFolder.empty()) std::filesystem::remove_all(tempFolder, error);
  }

  EntryFacts Entry(const std::string& name) {
    EntryFacts facts;
    if (!folder) {
      u32 dataOffset = 0;
      const PackageEntry* record = FindPackageRecord(&package, name.c_str(), &dataOffset);
      if (!record) return facts;
      facts.found = true;
      facts.size = record->contentSize;
      facts.time = {record->modifiedLow, record->modifiedHigh};
      facts.source = FromCp932(name);
      if (record->flags & kEntryFlagPatch) {
        facts.isPatch = true;
        facts.patch = FindPackageEntry(&package, name.c_str(), &facts.patchLength);
        PatchHeader header = {};
        if (facts.patch && CheckPatchContainer(facts.patch, facts.patchLength))
          std::memcpy(&header, facts.patch, sizeof header);
        else
          facts.patch = nullptr;
        facts.size = header.newSize;
        facts.whole =
            FindPackageRecord(&package, (name + kWholeCopySuffix).c_str(), &dataOffset) != nullptr;
      }
      return facts;
    }
    for (const PlannedEntry& entry : check.entries) {
      if (WindowsFileKey(entry.name) != WindowsFileKey(name)) continue;
      facts.found = FileModified(entry.path, &facts.time);
      facts.size = SizeOf(entry.path);
      facts.source = entry.path;
      return facts;
    }
    return facts;
  }
};

// A temporary folder of the tool's own, outside the installation.
bool MakeTempFolder(std::string* folder) {
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) return false;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate =
        base /
        ("qk2-preview-" + std::to_string(std::random_device()()) + "-" + std::to_string(attempt));
    if (std::filesystem::create_directory(candidate, error)) {
      *folder = candidate.string();
      return true;
    }
  }
  return false;
}

// Reads the update; kExitOk or an exit code after a message.
int LoadUpdate(const std::string& path, UpdateSource* source) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    source->folder = true;
    source->check = CheckUpdateFolder(path);
    source->shownIni = PathIn(path, "UPDATE.INI");
    return SetField(UpdateIniPath, source->shownIni)
               ? kExitOk
               : Report(kExitProblem, path + ": the folder's path is too long");
  }
  if (const int code = LoadPackageInput(path, &source->input)) return code;
  if (!DigestMatches(source->input))
    return Report(kExitProblem, path +
                                    ": the package does not match its digest; the updater "
                                    "would end with \"RESOURCE READ ERROR\"");
  source->package.source = source->input.data;
  source->package.size = (u32)std::min<size_t>(source->input.size, 0xFFFFFFFEu);
  if (!source->input.size || !OpenPackage(&source->package))
    return Report(kExitProblem, path + ": damaged package (header or directory)");
  u32 size = 0;
  const u8* ini = FindPackageEntry(&source->package, "UPDATE.INI", &size);
  if (!ini) return Report(kExitProblem, path + ": no readable UPDATE.INI: " + TakeBoxes());
  std::string error2;
  if (!MakeTempFolder(&source->tempFolder) ||
      !WriteWholeFile(PathIn(source->tempFolder, "UPDATE.INI"),
                      std::vector<uint8_t>(ini, ini + size), &error2))
    return Report(kExitIo, "cannot make a temporary copy of UPDATE.INI " + error2);
  source->check = CheckUpdateFolder(source->tempFolder);
  source->shownIni = "UPDATE.INI";
  SetField(UpdateIniPath, PathIn(source->tempFolder, "UPDATE.INI"));
  return kExitOk;
}

// ---- the account
// Reasons, paths and `stop` are in the terminal's encoding; the updater's
// own messages stay cp932 until they are printed.

struct LineResult {
  const LineAccount* line = nullptr;
  std::string action;
  std::string destination;
  std::string source;  // what a write or copy takes its bytes from
  uint64_t bytes = 0;
  std::string reason;
  std::string message;  // the updater's box, when there is one
};

struct Preview {
  PreviewOptions options;
  UpdateSource source;
  bool setupOk = false;
  std::string setupMessage;
  bool haveFree = false;
  uint64_t freeBytes = 0;
  uint64_t freeNow = 0;
  i32 required = 0;
  std::vector<LineResult> lines;
  uint64_t written = 0;
  std::string stop;  // why the updater would not finish; empty when it would
  std::string mediaFolder;
  int mediaDisk = -1;
};

// SETUP.INI in the installation, loaded as start-up loads it: the path,
// the file's presence, then the loader with missing keys unreported.
void ReadInstalledSetup(Preview* p) {
  const std::string path = PathIn(p->options.install, "SETUP.INI");
  if (!SetField(SetupIniPath, path)) {
    p->setupMessage = Formatted(kTextPathTooLong, p->options.install.c_str());
    return;
  }
  if (OsGetFileAttributes(SetupIniPath) == kNoAttributes) {
    p->setupMessage = kTextSetupIniMissing;
    return;
  }
  ReportMissingKeys = 0;
  CollectedBoxes.clear();
  p->setupOk = LoadSetupDescription() != 0;
  p->setupMessage = TakeBoxes();
  if (p->setupOk || !p->setupMessage.empty()) return;
  // The updater ends without a word; read again with the key named.
  ReportMissingKeys = 1;
  LoadSetupDescription();
  ReportMissingKeys = 0;
  p->setupMessage = "(no message: the updater ends without one) " + TakeBoxes();
}

void ReadFreeSpace(Preview* p) {
  p->required = ReadUpdateInt("RequiredDiskSpace");
  p->haveFree = OsGetDiskFreeSpace(p->options.install.c_str(), &p->freeBytes) != 0;
  p->freeNow = p->freeBytes;
}

void Stop(Preview* p, LineResult* r, const std::string& reason, const std::string& message) {
  r->action = "stop";
  r->reason = reason;
  r->message = message;
  p->stop = r->line->key + ": " + (message.empty() ? reason : FromCp932(message));
}

// The free space after `destination` (as it is now) gives way to `size`
// new bytes: the replaced file's bytes come back.
void UseSpace(Preview* p, const std::string& destination, uint64_t size) {
  const uint64_t old =
      OsGetFileAttributes(destination.c_str()) == kNoAttributes ? 0 : SizeOf(destination);
  p->freeNow = p->freeNow + old >= size ? p->freeNow + old - size : 0;
}

// The newer-file rule's reason, with both times.
std::string NewerReason(const DestinationState& seen, const FileTime& entryTime, bool kept) {
  if (!seen.haveTime) return "installed file cannot be timed, counts as older";
  return std::string(kept ? "installed file is newer (" : "installed file is not newer (") +
         ShortTime(seen.written) + (kept ? " > " : " <= ") + ShortTime(entryTime) + " UTC)";
}

// A patch entry once the destination is to be written: which version the
// installed file is, as the updater identifies it.
void PreviewPatch(Preview* p, const EntryFacts& entry, LineResult* r) {
  const int found =
      FindInstalledPatchSource(r->destination.c_str(), entry.patch, entry.patchLength);
  if (found >= 0) {
    PatchSource source;
    std::memcpy(&source, entry.patch + kPatchHeaderSize + (size_t)found * kPatchSourceSize,
                sizeof source);
    r->reason = "patch from source " + std::to_string(found + 1) + " (" + Bytes(source.oldSize) +
                "): installed file matches";
  } else if (found == kPatchAlreadyNew) {
    r->action = "keep-new";
    r->bytes = 0;
    r->reason = "already the new version: left as it is";
    return;
  } else if (found == kPatchNoSource && entry.whole) {
    r->reason = "installed file matches no patch source: the whole copy is written";
  } else if (found == kPatchNoSource) {
    return Stop(p, r, "installed file matches no patch source, and there is no whole copy",
                Formatted(kTextNotThisVersion, r->destination.c_str()));
  } else {
    return Stop(p, r, "the installed file cannot be read", kTextWriteFailed);
  }
  UseSpace(p, r->destination, entry.size);
}

// The entry's own checks, in the order ExtractPackageEntry makes them: the
// entry, the free space, then the destination. `madeFolder` is the folder
// the run makes first (empty when none).
void PreviewEntryWrite(Preview* p, const UpdateItem& item, const std::string& madeFolder,
                       LineResult* r) {
  const std::string name = item.relativePath + item.fileNameOffset;
  const EntryFacts entry = p->source.Entry(name);
  if (!entry.found)
    return Stop(p, r, "the package has no entry " + ShownName(name), kTextNotFoundInResource);
  if (entry.isPatch && !entry.patch) return Stop(p, r, "a damaged patch", kTextResourceReadError);
  if (p->haveFree && entry.size > p->freeNow) {
    char shortfall[24];
    std::snprintf(shortfall, sizeof shortfall, "%llu",
                  (unsigned long long)(entry.size - p->freeNow));
    return Stop(p, r, "not enough free space for " + Bytes(entry.size),
                Formatted(kTextDiskShortExtract, p->options.install.c_str(), shortfall));
  }
  DestinationState seen;
  const int verdict =
      JudgeDestination(r->destination.c_str(), &entry.time, item.kind == KindUpdate, &seen);
  if (verdict == kDestinationIsFolder)
    return Stop(p, r, "a folder stands where the file goes", kTextWriteFailed);
  if (verdict == kDestinationKeptNewer) {
    r->action = "keep-newer";
    r->reason = "kept: " + NewerReason(seen, entry.time, true);
    return;
  }
  const std::string parent = ParentOf(r->destination);
  if (!IsFolder(parent) && parent != madeFolder)
    return Stop(p, r, "folder " + parent + " does not exist", kTextWriteFailed);
  const bool present = seen.attributes != kNoAttributes;
  r->action = "write";
  r->bytes = entry.size;
  r->source = entry.source;
  if (entry.patch) return PreviewPatch(p, entry, r);
  r->reason = !present                  ? "no such file yet"
              : item.kind == KindUpdate ? NewerReason(seen, entry.time, false)
                                        : "replaces the installed file";
  if (present && (seen.attributes & kAttrReadOnly)) r->reason += "; read-only is cleared";
  UseSpace(p, r->destination, entry.size);
}

void PreviewUpdateItem(Preview* p, const UpdateItem& item, LineResult* r) {
  const bool data = item.kind == KindData;
  const std::string& root = data ? p->options.data : p->options.install;
  if (data && root.empty()) {
    r->action = "stop";
    r->reason = "a \"d\" line: give the data folder with --data DIR to see it";
    p->stop = r->line->key + ": no --data folder given";
    return;
  }
  char folder[kPathSize];
  char path[kPathSize];
  if (!UpdateItemFolder(&item, folder))
    return Stop(p, r, "the destination path is too long", kTextWriteFailed);
  std::memcpy(path, folder, sizeof path);
  if (!JoinPath(path, item.relativePath))
    return Stop(p, r, "the destination path is too long", kTextWriteFailed);
  // The records hold the native root; the rest is the updater's own join.
  const std::string nativeFolder = NativePathBelow(root, folder + root.size());
  r->destination = NativePathBelow(root, path + root.size());
  std::string madeFolder;
  if (!IsFolder(nativeFolder)) {
    if (!IsFolder(ParentOf(nativeFolder)))
      return Stop(p, r, "folder " + nativeFolder + " does not exist and cannot be made",
                  kTextWriteFailed);
    madeFolder = nativeFolder;
  }
  const std::string made = madeFolder.empty() ? "" : "makes folder " + madeFolder + "; ";
  switch (DecideUpdateItem(&UpdatePlan, &item, r->destination.c_str())) {
    case kItemSkipped:
      r->action = "skip";
      r->reason = made + (UpdatePlan.overwriteOnly ? "skipped: OverwriteOnly and no such file"
                                                   : "skipped: overwrite-only and no such file");
      return;
    case kItemKeepsData:
      r->action = "keep-data";
      r->bytes = SizeOf(r->destination);
      r->reason = made + "kept: the data file exists; its own bytes are written back";
      return;
    case kItemWritesEntry:
      break;
  }
  PreviewEntryWrite(p, item, madeFolder, r);
  if (r->action == "write") r->reason = made + r->reason;
}

// The media search over the --disk folders, as the run searches drives.
void PreviewCopyItem(Preview* p, const CopyItem& item, LineResult* r) {
  if (item.diskNumber < 0 || item.diskNumber >= kDiskCount)
    return Stop(p, r, "disk " + std::to_string(item.diskNumber) + " is not 0 to 9", "");
  if (item.diskNumber != 0 || p->mediaFolder.empty()) {
    const std::string check = SetupDescription.DiskCheckFile[item.diskNumber];
    p->mediaFolder.clear();
    for (const auto& disk : p->options.disks) {
      const std::string probe = NativePathBelow(disk.second, check);
      if (OsGetFileAttributes(probe.c_str()) == kNoAttributes) continue;
      p->mediaFolder = disk.second;
      p->mediaDisk = disk.first;
      break;
    }
    if (p->mediaFolder.empty()) {
      r->action = "ask-disk";
      r->reason = "asks for disk " + std::to_string(item.diskNumber) +
                  ": no folder given holds DiskCheckFile" + std::to_string(item.diskNumber) +
                  (check.empty() ? " (any disc)" : " (" + ShownName(check) + ")");
      char text[kTextSize];
      OsFormat(text, sizeof text, kTextInsertDisk, SetupDescription.GameTitle, item.diskNumber);
      r->message = text;
      p->stop = r->line->key + ": " + r->reason;
      return;
    }
  }
  const std::string source = NativePathBelow(p->mediaFolder, item.sourcePath);
  const u32 attributes = OsGetFileAttributes(source.c_str());
  if (attributes == kNoAttributes)
    return Stop(p, r, "no " + source + " on disk " + std::to_string(p->mediaDisk),
                Formatted(kTextCopyFailed, item.sourcePath));
  r->action = "copy";
  r->bytes = SizeOf(source);
  r->source = source;
  if (attributes & kAttrDirectory) {
    r->destination = PathIn(p->options.install, std::filesystem::path(source).filename().string());
    r->reason = "the folder from disk " + std::to_string(p->mediaDisk) + " (" + source + ")";
  } else {
    r->destination = NativePathBelow(p->options.install, item.sourcePath);
    r->reason = "from disk " + std::to_string(p->mediaDisk) + " (" + source + ")";
  }
  if (OsGetFileAttributes(r->destination.c_str()) != kNoAttributes)
    r->reason += ", replacing what is there";
}

// Every line the updater reads, in its order, each matched with the plan
// item the plan reader made of it.
void PreviewLines(Preview* p, bool planRead) {
  int update = 0, copy = 0;
  for (const LineAccount& line : p->source.check.lines) {
    LineResult r;
    r.line = &line;
    if (!p->stop.empty() || !planRead) {
      r.action = "not-reached";
    } else if (line.mode >= 0 && line.mode != p->options.mode) {
      r.action = "other-mode";
      r.reason = "for installations of mode " + std::to_string(line.mode);
    } else if (!line.copy && update < UpdatePlan.updateCount) {
      PreviewUpdateItem(p, UpdatePlan.updateItems[update++], &r);
    } else if (line.copy && copy < UpdatePlan.copyCount) {
      PreviewCopyItem(p, UpdatePlan.copyItems[copy++], &r);
    } else {
      r.action = "not-reached";
    }
    if (r.action == "write" || r.action == "keep-data" || r.action == "copy") p->written += r.bytes;
    p->lines.push_back(r);
  }
}

void RunPreview(Preview* p) {
  ReadInstalledSetup(p);
  ReadFreeSpace(p);
  SetField(InstallRecord.InstPath, p->options.install);
  SetField(InstallRecord.DataPath, p->options.data);
  InstallRecord.InstMode = (u32)p->options.mode;
  ReadUpdateKey("SETUP", "DataFolder", UpdateDescription.DataFolder,
                sizeof UpdateDescription.DataFolder);
  CollectedBoxes.clear();
  const int found = ReadUpdatePlan();
  const std::string planBox = TakeBoxes();
  PreviewLines(p, found > 0);
  if (found == 0)
    p->stop = FromCp932(planBox);
  else if (found < 0)
    p->stop = "the plan reader refuses a line: " + FromCp932(planBox);
  if (!p->setupOk)
    p->stop = "before its wizard: " + FromCp932(p->setupMessage);
  else if (p->required && p->haveFree && (uint64_t)(u32)p->required > p->freeBytes)
    p->stop = "on the ready page: RequiredDiskSpace " + std::to_string((u32)p->required) +
              " is more than the " + std::to_string(p->freeBytes) + " bytes free";
}

// ---- output

std::string Text(const std::string& cp932) { return FromCp932(cp932); }

void PrintText(const Preview& p) {
  std::printf("preview of %s on %s (InstMode %d%s%s)\n", p.options.update.c_str(),
              p.options.install.c_str(), p.options.mode, p.options.data.empty() ? "" : ", data ",
              p.options.data.c_str());
  std::printf("SETUP.INI: %s\n",
              p.setupOk ? "read as the updater reads it; nothing in it stops the updater"
                        : ("the updater stops before its wizard: " + Text(p.setupMessage)).c_str());
  if (p.haveFree)
    std::printf("free space: %s on the installation's file system; RequiredDiskSpace %s\n",
                Bytes(p.freeBytes).c_str(),
                p.required == 0
                    ? "absent (no check)"
                    : (std::to_string((u32)p.required) +
                       ((uint64_t)(u32)p.required <= p.freeBytes ? ": enough" : ": too little"))
                          .c_str());
  for (const LineResult& r : p.lines) {
    std::string where = r.line->line ? p.source.shownIni + ":" + std::to_string(r.line->line) + ": "
                                     : p.source.shownIni + ": ";
    std::printf("%s%s: %s", where.c_str(), r.line->key.c_str(), r.action.c_str());
    if (!r.destination.empty()) std::printf(" %s", r.destination.c_str());
    if (r.action == "write" || r.action == "copy" || r.action == "keep-data")
      std::printf(", %s", Bytes(r.bytes).c_str());
    if (!r.reason.empty()) std::printf(": %s", r.reason.c_str());
    if (!r.message.empty()) std::printf(" (the updater shows \"%s\")", Text(r.message).c_str());
    std::printf("\n");
  }
  if (p.stop.empty())
    std::printf("the updater would write %s and finish\n", Bytes(p.written).c_str());
  else
    std::printf("the updater would not finish: %s\n", p.stop.c_str());
}

std::string J(const std::string& terminal) { return JsonString(TerminalToUtf8(terminal)); }
std::string JCp932(const std::string& cp932) { return JsonString(Cp932ToUtf8(cp932)); }

void PrintJson(const Preview& p) {
  std::printf("{\"update\": %s, \"install\": %s, \"data\": %s, \"mode\": %d,\n",
              J(p.options.update).c_str(), J(p.options.install).c_str(), J(p.options.data).c_str(),
              p.options.mode);
  std::printf(" \"setup\": {\"ok\": %s, \"message\": %s},\n", p.setupOk ? "true" : "false",
              JCp932(p.setupMessage).c_str());
  std::printf(" \"freeBytes\": %s, \"requiredDiskSpace\": %u,\n",
              p.haveFree ? std::to_string(p.freeBytes).c_str() : "null", (u32)p.required);
  std::printf(" \"lines\": [");
  for (size_t i = 0; i < p.lines.size(); ++i) {
    const LineResult& r = p.lines[i];
    std::printf(
        "%s\n  {\"key\": %s, \"line\": %d, \"action\": \"%s\", \"destination\": %s, "
        "\"source\": %s, \"bytes\": %llu, \"reason\": %s, \"message\": %s}",
        i ? "," : "", JsonString(r.line->key).c_str(), r.line->line, r.action.c_str(),
        J(r.destination).c_str(), J(r.source).c_str(), (unsigned long long)r.bytes,
        J(r.reason).c_str(), JCp932(r.message).c_str());
  }
  std::printf("],\n \"bytesWritten\": %llu, \"finishes\": %s, \"stop\": %s}\n",
              (unsigned long long)p.written, p.stop.empty() ? "true" : "false", J(p.stop).c_str());
}

int ParseOptions(const std::vector<std::string>& args, PreviewOptions* o) {
  std::vector<std::string> inputs;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool takesValue =
        arg == "--install" || arg == "--data" || arg == "--mode" || arg == "--disk";
    if (takesValue && i + 1 >= args.size())
      return UsageError("preview: " + arg + " needs a value", kPreviewUsage);
    if (arg == "--install")
      o->install = args[++i];
    else if (arg == "--data")
      o->data = args[++i];
    else if (arg == "--mode") {
      const std::string& value = args[++i];
      if (value.empty() || value.size() > 9 ||
          value.find_first_not_of("0123456789") != std::string::npos)
        return UsageError("preview: --mode takes a number, not " + value, kPreviewUsage);
      o->mode = std::stoi(value);
    } else if (arg == "--disk") {
      const std::string& value = args[++i];
      if (value.size() < 3 || value[0] < '0' || value[0] > '9' || value[1] != '=')
        return UsageError("preview: --disk takes N=DIR with N from 0 to 9, not " + value,
                          kPreviewUsage);
      o->disks[value[0] - '0'] = value.substr(2);
    } else if (arg == "--json")
      o->json = true;
    else if (arg.size() > 1 && arg[0] == '-')
      return UsageError("preview: unknown option " + arg, kPreviewUsage);
    else
      inputs.push_back(arg);
  }
  if (inputs.size() != 1)
    return UsageError("preview: give exactly one update folder or file", kPreviewUsage);
  if (o->install.empty())
    return UsageError("preview: give the installation with --install DIR", kPreviewUsage);
  o->update = inputs[0];
  if (!IsFolder(o->install)) return Report(kExitIo, o->install + ": no such folder");
  if (!o->data.empty() && !IsFolder(o->data)) return Report(kExitIo, o->data + ": no such folder");
  for (const auto& disk : o->disks)
    if (!IsFolder(disk.second)) return Report(kExitIo, disk.second + ": no such folder");
  return kExitOk;
}

}  // namespace

int CommandPreview(const std::vector<std::string>& args) {
  Preview p;
  if (const int code = ParseOptions(args, &p.options)) return code;
  OsSetMessageBoxSink(CollectBox);
  ResolveDynamicApi();
  if (const int code = LoadUpdate(p.options.update, &p.source)) return code;
  if (p.source.folder && !p.source.check.ok())
    Report(kExitOk, "warning: " + p.options.update + ": qk2 check finds " +
                        std::to_string(p.source.check.problems.size()) +
                        " problems; make-updater would refuse the folder");
  RunPreview(&p);
  if (p.options.json)
    PrintJson(p);
  else
    PrintText(p);
  return p.stop.empty() ? kExitOk : kExitProblem;
}
