// Random SETUP.INI texts through the loader, with the missing-key report on
// and off, and a few odd-sized reads that exercise the reader's quote rule
// and cut. A crash, a sanitizer report or a broken guard is a finding.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/ini.h"
#include "platform/messagebox.h"
#include "settings/settings.h"
#include "settings/setup_description.h"
#include "sim/sim.h"

namespace {

std::string folder;

void RemoveFolder() {
  unlink((folder + "/SETUP.INI").c_str());
  rmdir(folder.c_str());
}

void Prepare() {
  char pattern[] = "/tmp/setup-ini-fuzz-XXXXXX";
  if (!mkdtemp(pattern)) abort();
  folder = pattern;
  atexit(RemoveFolder);
  HostMapDrive('C', folder.c_str());
}

void Check(bool condition) {
  if (!condition) abort();
}

// Reads with the exact buffer size on the heap, so a write past it is seen.
void OddSizedReads() {
  static const char* const keys[] = {"GameTitle", "InstallFiles0", "Shortcut0", "ExecApp", ""};
  for (const char* key : keys)
    for (u32 size : {1u, 2u, 3u, 5u, 20u}) {
      std::vector<char> out(size);
      u32 count = OsReadIniString("SETUP", key, "\"d\" ", out.data(), size, SetupIniPath);
      Check(count < size);
      Check(out[count] == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (folder.empty()) Prepare();
  FILE* file = fopen((folder + "/SETUP.INI").c_str(), "wb");
  if (!file) abort();
  if (size) fwrite(data, 1, size, file);
  fclose(file);
  for (int report = 0; report < 2; ++report) {
    ResetSettingsState();
    strcpy(SetupIniPath, "C:\\SETUP.INI");
    ReportMissingKeys = report;
    int loaded = LoadSetupDescription();
    const struct SetupDescription& d = SetupDescription;
    Check(HostMessageBoxes().size() <= 1);
    Check(!loaded || (HostMessageBoxes().empty() && !ReportMissingKeys));
    Check(d.InstallSelects <= kMaxSelections || !loaded);
    Check(d.Shortcuts <= kMaxShortcuts || !loaded);
    Check(memchr(d.GameTitle, 0, sizeof d.GameTitle) && memchr(d.SelectSetupMessage, 0, kTextSize));
    HostResetMessageBoxes();
  }
  OddSizedReads();
  return 0;
}
