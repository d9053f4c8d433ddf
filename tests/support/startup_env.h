// Everything UpdaterMain looks for on the host, in a default form that runs
// through to the wizard, each piece replaceable before Install():
//
//   TEST_F(SomeHostTest, Example) {         // a HostTest fixture
//     StartupEnv env(Root());               // folders inside the scratch folder
//     env.setupLines += "UpdaterVersion=1.2\r\n";
//     env.Install();                        // temp folder, package, registry, SETUP.INI
//     HostSetDialogScript([](WindowHandle dialog) { HostClick(dialog, kIdCancel); });
//     EXPECT_EQ(UpdaterMain(HostModule()), 0);
//   }
//
// Texts are cp932 (test sources are compiled to cp932 like the updater).
#pragma once
#if !defined(_WIN32)
#include <string>
#include <vector>

#include "platform/base.h"
#include "support/test_package.h"
#include "sim/sim.h"

// The registry key of the default game: "Software\" CompanyName "\" GameDir.
constexpr char kTestRegistryKey[] = "Software\\TestSoft\\TestGame";
// GameTitle and GameClass of both default INI files.
constexpr char kTestGameTitle[] = "テストゲーム";
constexpr char kTestGameClass[] = "TestGameClass";

struct StartupEnv {
  // `root` is the scratch folder (HostTest::Root()).
  explicit StartupEnv(const std::string& root);

  // OsGetTempPath's answer, ending in '\' ("C:\scratch\temp\").
  std::string tempFolder;
  // InstPath: the installation folder, which receives SETUP.INI.
  std::string installFolder;
  // Lines of section "SETUP" of UPDATE.INI ("Key=value\r\n" each); by default
  // the four required keys of the default game.
  std::string setupLines;
  // Lines of section "UPDATE" (empty by default).
  std::string updateLines;
  // Further package entries (agreement texts, update files). UPDATE.INI
  // itself is added compressed and scrambled, as the real package has it.
  std::vector<TestEntry> entries;
  // The installed SETUP.INI: a valid one for the default game by default.
  std::string setupIni;
  // Registry values; an empty dataPath writes no "DataPath".
  unsigned instMode = 1;
  std::string dataPath;

  // UPDATE.INI as packaged.
  std::string UpdateIniText() const;
  // The package: UPDATE.INI compressed and scrambled, as the real package
  // has it, then `entries`.
  std::string PackageBytes() const;
  // All of the following.
  void Install() const;
  // HostSetTempPath(tempFolder) and the folder created.
  void InstallTempFolder() const;
  // The package as resource "UPDATE" 102; ModuleInstance = HostModule().
  void InstallPackage() const;
  // InstPath, InstMode and (when set) DataPath under kTestRegistryKey.
  void InstallRegistry() const;
  // installFolder created with setupIni as SETUP.INI.
  void InstallGame() const;
  // Names of the files now in tempFolder.
  std::vector<std::string> TempFiles() const;
};
#endif
