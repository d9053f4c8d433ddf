#if !defined(_WIN32)
#include "support/one_reading.h"

#include <cstring>
#include <vector>

#include "flow/records.h"
#include "flow/update_plan.h"
#include "packer/update_ini_check.h"
#include "settings/settings.h"

namespace {

// The modes worth trying: every digit an update line can name, and the
// codes of a few bytes a copy line's mode can be ('A' is 17, 'a' 49).
const u32 kModes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 17, 49, 0xFFFFFFD0u};

bool AppliesTo(const LineAccount& line, u32 mode) {
  return line.mode < 0 ? true : (u32)line.mode == mode;
}

std::string Where(const LineAccount& line, u32 mode) {
  return line.key + " in mode " + std::to_string((i32)mode) + ": ";
}

// The lines of `check` meant for `mode` against the plan read for it.
std::string CompareMode(const UpdateFolderCheck& check, u32 mode) {
  InstallRecord.InstMode = mode;
  const int found = ReadUpdatePlan();
  const bool anyLine = !check.lines.empty();
  if ((found != 0) != anyLine)
    return "mode " + std::to_string((i32)mode) + ": the plan reader found " +
           (found ? "lines" : "no line") + ", the checker " + (anyLine ? "lines" : "none");
  int update = 0, copy = 0;
  for (const LineAccount& line : check.lines) {
    if (!AppliesTo(line, mode)) continue;
    if (!line.copy) {
      if (update >= UpdatePlan.updateCount) return Where(line, mode) + "not in the plan";
      const UpdateItem& item = UpdatePlan.updateItems[update++];
      if (item.kind != line.kind) return Where(line, mode) + "another kind";
      if (line.path != item.relativePath) return Where(line, mode) + "another path";
      if (line.entry != item.relativePath + item.fileNameOffset)
        return Where(line, mode) + "another entry";
      continue;
    }
    // A refused copy line ends the reading there.
    if (line.refused)
      return found == -1 && copy == UpdatePlan.copyCount ? "" : Where(line, mode) + "not refused";
    if (copy >= UpdatePlan.copyCount) return Where(line, mode) + "not in the plan";
    const CopyItem& item = UpdatePlan.copyItems[copy++];
    if (item.diskNumber != line.disk) return Where(line, mode) + "another disk";
    if (line.path != item.sourcePath) return Where(line, mode) + "another path";
  }
  if (found == -1) return "mode " + std::to_string((i32)mode) + ": refused by the plan reader only";
  if (update != UpdatePlan.updateCount || copy != UpdatePlan.copyCount)
    return "mode " + std::to_string((i32)mode) + ": the plan has lines the checker does not";
  return "";
}

}  // namespace

std::string CompareReadings(const std::string& folder) {
  const UpdateFolderCheck check = CheckUpdateFolder(folder);
  const std::string ini = folder + "/UPDATE.INI";
  if (ini.size() >= sizeof UpdateIniPath) return "folder path too long";
  std::memcpy(UpdateIniPath, ini.c_str(), ini.size() + 1);
  ReportMissingKeys = 0;
  for (const u32 mode : kModes) {
    const std::string difference = CompareMode(check, mode);
    if (!difference.empty()) return difference;
  }
  return "";
}
#endif
