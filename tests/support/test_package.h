// Packages for tests: built with the package writer from (name, bytes, flags).
//
//   std::string bytes = BuildTestPackage({{"UPDATE.INI", ini, kTestCompressed},
//                                         {"DATA.BIN", data}});
//   InstallTestPackage(bytes);   // host: resource "UPDATE" 102 of HostModule()
//   OpenTestPackage(bytes);      // or: UpdaterPackage.source/UpdaterPackage.size + OpenPackage
#pragma once
#include <string>
#include <vector>

#include "platform/base.h"
#include "flow/records.h"
#include "sim/sim.h"

// Bits of TestEntry::flags.
constexpr int kTestStored = 0;      // content kept as it is, not scrambled
constexpr int kTestCompressed = 1;  // stored as a compressed stream (even when larger)
constexpr int kTestScrambled = 2;   // stored bytes scrambled
constexpr int kTestPatch = 4;       // a patch container, stored as it is

// 2020-01-02 03:04:05 UTC as a FILETIME: the time every test entry carries
// unless it names its own.
constexpr u64 kTestEntryTime = 132224078450000000ull;

struct TestEntry {
  std::string name;
  std::string bytes;
  int flags = kTestStored;
  u64 modified = kTestEntryTime;
};

// The package bytes; the directory is compressed unless `plainDirectory`.
// Aborts the test program on a name the writer refuses.
std::string BuildTestPackage(const std::vector<TestEntry>& entries, bool plainDirectory = false);

// Keeps a copy of `bytes` alive until the next call, points UpdaterPackage.source
// and UpdaterPackage.size at it (memory form) and calls OpenPackage. Returns its
// result (UpdaterPackage.image, or null when refused).
const struct PackageImage* OpenTestPackage(const std::string& bytes);

#if !defined(_WIN32)
// Registers `bytes` as resource "UPDATE" 102 of HostModule() and sets
// ModuleInstance to HostModule(), as the updater's own executable would be.
void InstallTestPackage(const std::string& bytes);
#endif
