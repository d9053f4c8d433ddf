// Raw bytes as an update package: opened in the memory form and in the file
// form, then every record looked up by name, read, and extracted twice into
// a scratch folder (plain, and under the newer-file rule). Must never crash,
// read or write out of bounds, or keep a block it allocated.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "runtime/run_state.h"
#include "flow/records.h"
#include "package/extract.h"
#include "package/format.h"
#include "package/package.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/messagebox.h"
#include "sim/sim.h"

namespace {

// Drive F: is a private folder; it reports 16 MiB free, so a record claiming
// a huge content stops at the free-space rule instead of a huge allocation.
const char kPackagePath[] = "F:\\fuzz.pkg";
const char kOutputPath[] = "F:\\out.bin";

void SetUpOnce() {
  static bool ready = false;
  if (ready) return;
  ready = true;
  char folder[] = "/tmp/package-fuzzer-XXXXXX";
  if (!mkdtemp(folder)) std::abort();
  HostMapDrive('F', folder, kDriveFixed, 16u << 20);
  ResolveDynamicApi();
}

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "package_fuzzer: %s\n", what);
  std::abort();
}

// Every record by name, then extracted. The content blocks FindPackageEntry
// hands out are released by ResetPackageState.
void ReadEveryRecord() {
  const u32 count = UpdaterPackage.image->header.entryCount;
  for (u32 i = 0; i < count && i < 64; ++i) {
    const PackageEntry* record = &UpdaterPackage.image->entries[i];
    std::string name = record->name;
    u32 dataOffset = 0;
    Check(FindPackageRecord(&UpdaterPackage, name.c_str(), &dataOffset) != nullptr, "record not found by its name");
    u32 size = 0;
    const u8* content = FindPackageEntry(&UpdaterPackage, name.c_str(), &size);
    if (content && size) {
      volatile u8 sink = content[0] ^ content[size - 1];  // the whole block is readable
      (void)sink;
    }
    ExtractPackageEntry(&UpdaterPackage, name.c_str(), kOutputPath, 0);
    ExtractPackageEntry(&UpdaterPackage, name.c_str(), kOutputPath, 1);
  }
}

void RunForm(const uint8_t* data, size_t size, bool memoryForm) {
  if (memoryForm) {
    UpdaterPackage.source = data;
    UpdaterPackage.size = (u32)size;
  } else {
    Check(WriteFileWithTime(kPackagePath, data, (u32)size, nullptr) == 1, "scratch write");
    UpdaterPackage.source = (const u8*)kPackagePath;
    UpdaterPackage.size = 0;
  }
  if (OpenPackage(&UpdaterPackage)) ReadEveryRecord();
  ClosePackage(&UpdaterPackage);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SetUpOnce();
  if (size == 0 || size > (1u << 24)) return 0;
  const long live = HostLiveAllocations();
  RunForm(data, size, true);
  RunForm(data, size, false);
  ReleasePackage(&UpdaterPackage);
  HostResetMessageBoxes();
  Check(HostLiveAllocations() == live, "a block was not released");
  return 0;
}
