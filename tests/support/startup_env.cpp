#if !defined(_WIN32)
#include "support/startup_env.h"

#include <filesystem>

#include "platform/files.h"
#include "support/scratch.h"
#include "sim/sim.h"

StartupEnv::StartupEnv(const std::string& root)
    : tempFolder(root + "\\temp\\"),
      installFolder(root + "\\game"),
      setupLines(std::string("CompanyName=TestSoft\r\nGameTitle=") + kTestGameTitle +
                 "\r\nGameClass=" + kTestGameClass + "\r\nGameDir=TestGame\r\n"),
      setupIni(std::string("[SETUP]\r\n"
                           "CompanyName=TestSoft\r\n"
                           "GameTitle=") +
               kTestGameTitle +
               "\r\n"
               "GameDir=TestGame\r\n"
               "GameExe=game.exe\r\n"
               "UninstExe=uninst.exe\r\n"
               "SetupBmp=setup.bmp\r\n"
               "InstallSelects=1\r\n"
               "InstallTitle0=Standard\r\n"
               "InstallFiles0=game.exe,data.bin\r\n"
               "Shortcuts=1\r\n"
               "Shortcut0=game.exe,Game\r\n"
               "GameClass=" +
               kTestGameClass + "\r\n") {}

std::string StartupEnv::UpdateIniText() const {
  return "[SETUP]\r\n" + setupLines + "\r\n[UPDATE]\r\n" + updateLines;
}

void StartupEnv::Install() const {
  InstallTempFolder();
  InstallPackage();
  InstallRegistry();
  InstallGame();
}

void StartupEnv::InstallTempFolder() const {
  HostSetTempPath(tempFolder.c_str());
  MakeTestFolder(tempFolder.substr(0, tempFolder.size() - 1));
}

std::string StartupEnv::PackageBytes() const {
  std::vector<TestEntry> all = {{"UPDATE.INI", UpdateIniText(), kTestCompressed | kTestScrambled}};
  all.insert(all.end(), entries.begin(), entries.end());
  return BuildTestPackage(all);
}

void StartupEnv::InstallPackage() const { InstallTestPackage(PackageBytes()); }

void StartupEnv::InstallRegistry() const {
  HostRegistrySetString(kTestRegistryKey, "InstPath", installFolder.c_str());
  HostRegistrySetDword(kTestRegistryKey, "InstMode", instMode);
  if (!dataPath.empty()) HostRegistrySetString(kTestRegistryKey, "DataPath", dataPath.c_str());
}

void StartupEnv::InstallGame() const {
  MakeTestFolder(installFolder);
  WriteTestFile(installFolder + "\\SETUP.INI", setupIni);
}

std::vector<std::string> StartupEnv::TempFiles() const {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry :
       std::filesystem::directory_iterator(HostPath(tempFolder.c_str()), ignored))
    names.push_back(entry.path().filename().string());
  return names;
}
#endif
