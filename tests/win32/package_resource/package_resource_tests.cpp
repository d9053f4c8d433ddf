// This program carries a package packed while it was built, as resource
// "UPDATE" 102; the updater's own lookup must find it and read every entry
// back as the files it was packed from.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>

#include "runtime/run_state.h"
#include "flow/records.h"
#include "package/package.h"

namespace {
std::string FileBytes(const std::string& name) {
  std::ifstream in(std::string(PACKAGE_INPUTS_DIR) + "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(PackageResource, TheProgramsOwnPackageIsFoundAndRead) {
  ResetRunState();
  ReleasePackage(&UpdaterPackage);
  ResolveDynamicApi();
  ModuleInstance = (ModuleHandle)GetModuleHandleA(nullptr);
  UpdaterPackage.source = LocatePackageResource(&UpdaterPackage);
  ASSERT_NE(nullptr, UpdaterPackage.source);
  ASSERT_NE(nullptr, OpenPackage(&UpdaterPackage));
  EXPECT_EQ(2u, UpdaterPackage.image->header.entryCount);
  EXPECT_EQ(nullptr, UpdaterPackage.digest) << "qk2 pack writes no digest resource";
  for (const char* name : {"UPDATE.INI", "data.bin"}) {
    u32 size = 0;
    const u8* content = FindPackageEntry(&UpdaterPackage, name, &size);
    ASSERT_NE(nullptr, content) << name;
    const std::string expected = FileBytes(std::string(name) == "data.bin" ? "DATA.BIN" : name);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(expected, std::string((const char*)content, size)) << name;
  }
  ReleasePackage(&UpdaterPackage);
}
}  // namespace
