#include "support/test_package.h"

#include <cstdio>
#include <cstdlib>

#include "flow/records.h"
#include "package/format.h"
#include "package/package.h"
#include "packer/package_writer.h"

#if !defined(_WIN32)
#include "runtime/run_state.h"
#include "sim/sim.h"
#endif

std::string BuildTestPackage(const std::vector<TestEntry>& entries, bool plainDirectory) {
  std::vector<PackInput> inputs;
  for (const TestEntry& entry : entries) {
    PackInput input;
    input.name = entry.name;
    input.content.assign(entry.bytes.begin(), entry.bytes.end());
    input.modified = MakeFileTime(entry.modified);
    input.compression = (entry.flags & kTestCompressed) ? EntryCompression::kAlways
                                                        : EntryCompression::kNever;
    input.scramble = (entry.flags & kTestScrambled) != 0;
    input.patch = (entry.flags & kTestPatch) != 0;
    inputs.push_back(std::move(input));
  }
  PackOptions options;
  options.compressDirectory = !plainDirectory;
  options.effort = CompressEffort::kFast;
  std::vector<uint8_t> package;
  std::string error;
  if (!BuildPackage(inputs, options, &package, &error)) {
    std::fprintf(stderr, "BuildTestPackage: %s\n", error.c_str());
    std::abort();
  }
  return std::string(package.begin(), package.end());
}

const PackageImage* OpenTestPackage(const std::string& bytes) {
  static std::string kept;
  ClosePackage(&UpdaterPackage);
  kept = bytes;
  UpdaterPackage.source = reinterpret_cast<const u8*>(kept.data());
  UpdaterPackage.size = static_cast<u32>(kept.size());
  return OpenPackage(&UpdaterPackage);
}

#if !defined(_WIN32)
void InstallTestPackage(const std::string& bytes) {
  HostSetResource(kPackageResourceType, kPackageResourceId, bytes.data(),
                  static_cast<u32>(bytes.size()));
  ModuleInstance = HostModule();
}
#endif
