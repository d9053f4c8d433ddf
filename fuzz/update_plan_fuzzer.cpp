// Section "UPDATE" texts of any shape read into the update plan. The first
// byte picks the installed mode; the rest is the section's body, written to
// an UPDATE.INI in a scratch folder that drive C: maps to. Every plan read
// must keep its items inside their buffers and its numbers in range.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "flow/startup.h"
#include "flow/update_plan.h"
#include "platform/files.h"
#include "platform/messagebox.h"
#include "settings/settings.h"
#include "sim/sim.h"

namespace {
const char kIniPath[] = "C:\\UPDATE.INI";

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

char folderName[] = "/tmp/update-plan-fuzz-XXXXXX";

void RemoveScratch() {
  unlink((std::string(folderName) + "/UPDATE.INI").c_str());
  rmdir(folderName);
}

std::string ScratchFolder() {
  Require(mkdtemp(folderName) != nullptr);
  atexit(RemoveScratch);
  return folderName;
}

void Prepare() {
  static const std::string folder = ScratchFolder();
  HostMapDrive('C', folder.c_str(), kDriveFixed);
  memcpy(UpdateIniPath, kIniPath, sizeof kIniPath);
  ReportMissingKeys = 0;
}

void WriteIni(const uint8_t* data, size_t size) {
  FILE* file = fopen(HostPath(kIniPath).c_str(), "wb");
  Require(file != nullptr);
  fputs("[UPDATE]\r\n", file);
  fwrite(data, 1, size, file);
  fclose(file);
}

size_t BoundedLength(const char* text) { return strnlen(text, kPathSize); }

void CheckUpdateItem(const UpdateItem& item) {
  size_t length = BoundedLength(item.relativePath);
  Require(length < kPathSize);
  Require(item.kind >= KindPlain && item.kind <= KindOverwrite);
  Require(item.fileNameOffset >= 0 && (size_t)item.fileNameOffset <= length);
  Require(item.fileNameOffset == 0 || item.relativePath[item.fileNameOffset - 1] == '\\');
}

void CheckPlan(int result) {
  Require(result >= -1 && result <= 1);
  Require(UpdatePlan.updateCount >= 0 && UpdatePlan.updateCount <= kMaxPlanLines);
  Require(UpdatePlan.copyCount >= 0 && UpdatePlan.copyCount <= kMaxPlanLines);
  Require(UpdatePlan.overwriteOnly == 0 || UpdatePlan.overwriteOnly == 1);
  for (int i = 0; i < UpdatePlan.updateCount; ++i) CheckUpdateItem(UpdatePlan.updateItems[i]);
  for (int i = 0; i < UpdatePlan.copyCount; ++i) {
    const CopyItem& item = UpdatePlan.copyItems[i];
    Require(BoundedLength(item.sourcePath) < kPathSize);
    Require(item.diskNumber >= 0 && item.diskNumber <= 9);
  }
  // A refused line is the only way to an error box.
  Require(HostMessageBoxes().size() == (result < 0 ? 1u : 0u));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Prepare();
  HostResetMessageBoxes();
  InstallRecord.InstMode = data[0] % 11;  // 10: a mode no line can name
  WriteIni(data + 1, size - 1);
  CheckPlan(ReadUpdatePlan());
  return 0;
}
