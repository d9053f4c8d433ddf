// qk2 preview: what it says the updater will do, held against what the
// updater (over the host simulation) then does to a copy of the same
// installation; that it changes nothing; and the installed SETUP.INI read
// with the updater's own messages.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "json.h"
#include "qk2_run.h"
#include "support/test_package.h"
#include "update_folder.h"

#if !defined(_WIN32)
#include <fcntl.h>

#include "flow/records.h"
#include "flow/startup.h"
#include "support/host_env.h"
#include "support/startup_env.h"
#include "sim/sim.h"
#endif

namespace qk2test {
namespace {

Json PreviewJson(const std::vector<std::string>& args, int* code) {
  std::vector<std::string> all = {"preview"};
  all.insert(all.end(), args.begin(), args.end());
  all.push_back("--json");
  const ToolRun run = RunQk2(all);
  *code = run.code;
  Json json;
  std::string error;
  EXPECT_TRUE(ParseJson(run.out, &json, &error)) << error << "\n" << run.Shown();
  return json;
}

// The installed SETUP.INI, read as start-up reads it.
TEST(Qk2Preview, ReportsWhatStopsTheUpdaterBeforeItsWizard) {
  const std::string valid =
      "[SETUP]\r\nCompanyName=TestSoft\r\nGameTitle=Game\r\nGameDir=TestGame\r\nGameExe=g.exe\r\n"
      "UninstExe=u.exe\r\nSetupBmp=s.bmp\r\nInstallSelects=1\r\nInstallTitle0=T\r\n"
      "InstallFiles0=g.exe\r\nShortcuts=0\r\n";
  struct SetupCase {
    const char* what;
    std::string setupIni;  // empty: no SETUP.INI at all
    bool ok;
    std::string message;  // UTF-8; the start of the setup message
  };
  const SetupCase cases[] = {
      {"valid", valid, true, ""},
      {"missing", "", false, u8"インストール先に \"SETUP.INI\" ファイルが見つかりません"},
      {"five selections", valid.substr(0, valid.find("InstallSelects")) + "InstallSelects=5\r\n",
       false, u8"SETUP.INI : InstallSelect オーバー"},
      {"no GameExe", valid.substr(0, valid.find("GameExe")), false,
       u8"(no message: the updater ends without one) SETUP.INI : GameExe キーが存在しません"},
  };
  TempFolder temp;
  ASSERT_TRUE(MakeFolder(temp / "update"));
  WriteUpdateFolder(temp / "update", StandardIniLines(), StandardFiles());
  for (const SetupCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string install = temp / (std::string("install-") + c.what[0] + c.what[1]);
    ASSERT_TRUE(MakeFolder(install));
    if (!c.setupIni.empty()) {
      ASSERT_TRUE(WriteFile(PathIn(install, "SETUP.INI"), c.setupIni));
    }
    int code = -1;
    const Json json =
        PreviewJson({temp / "update", "--install", install, "--data", install}, &code);
    EXPECT_EQ(json["setup"]["ok"].boolean, c.ok);
    EXPECT_EQ(json["setup"]["message"].text.rfind(c.message, 0), 0u)
        << json["setup"]["message"].text;
    EXPECT_EQ(json["finishes"].boolean, c.ok);
    EXPECT_EQ(code, c.ok ? 0 : 1);
  }
}

#if !defined(_WIN32)
// Every file below `folder`: bytes, last-write time and mode, by path.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    const std::string path = entry.path().string();
    struct stat st;
    if (stat(path.c_str(), &st) != 0) continue;
    std::string state = std::to_string(st.st_mode) + " " + std::to_string(Modified(path));
    if (entry.is_regular_file()) state += " " + ReadFileOrEmpty(path);
    files[path] = state;
  }
  return files;
}

const u64 kYear2010 = 129067776000000000ull;
const u64 kYear2030 = 135379296000000000ull;

enum Installed { kAbsent, kOlder, kNewer, kReadOnlyOlder };

struct LineCase {
  const char* line;   // UpdateFileNN value, or CopyFileNN value with "copy "
  const char* entry;  // package entry (UpdateFile) or disk file (CopyFile)
  Installed installed;
  const char* action;  // what the preview says
};

// Every placement rule decides differently across the rows. The preview
// runs on one installation; the updater then runs over the simulation on
// the same folders, and each line must have done what the preview said.
class PreviewAgainstUpdater : public HostTest {
 protected:
  void Run(bool diskTwoMissing);
};

TEST_F(PreviewAgainstUpdater, EveryRuleAsTheUpdaterDecidesIt) { Run(false); }
TEST_F(PreviewAgainstUpdater, AMissingDiskAsTheUpdaterAsksForIt) { Run(true); }

void PreviewAgainstUpdater::Run(bool diskTwoMissing) {
  const LineCase rows[] = {
      {"PLAIN.DAT", "PLAIN.DAT", kNewer, "write"},
      {"NEWFILE.DAT", "NEWFILE.DAT", kAbsent, "write"},
      {"u,NEWER.DAT", "NEWER.DAT", kNewer, "keep-newer"},
      {"u,OLDER.DAT", "OLDER.DAT", kReadOnlyOlder, "write"},
      {"d,SAVE.DAT", "SAVE.DAT", kOlder, "keep-data"},
      {"d,FRESH.DAT", "FRESH.DAT", kAbsent, "write"},
      {"o,THERE.DAT", "THERE.DAT", kNewer, "write"},
      {"o,ABSENT.DAT", "ABSENT.DAT", kAbsent, "skip"},
      {"2,MODE2.DAT", "MODE2.DAT", kAbsent, "other-mode"},
      {"copy 1:MOVIE\\OP.MPG", "MOVIE\\OP.MPG", kAbsent, "copy"},
      {"copy MANUAL", "MANUAL\\a.txt", kAbsent, "copy"},
  };
  {
    StartupEnv env(Root());
    env.dataPath = env.installFolder + "\\save";
    env.setupLines += "DataFolder=DATA\r\n";
    env.setupIni += "DiskCheckFile1=DISK1.ID\r\nDiskCheckFile2=DISK2.ID\r\n";
    const std::string disk = env.installFolder + "-cd";
    MakeTestFolder(disk + "\\MOVIE");
    MakeTestFolder(disk + "\\MANUAL");
    WriteTestFile(disk + "\\DISK1.ID", "1");
    int update = 0, copy = 0;
    for (const LineCase& row : rows) {
      const std::string line = row.line;
      if (line.rfind("copy ", 0) == 0) {
        env.updateLines += "CopyFile0" + std::to_string(copy++) + "=" + line.substr(5) + "\r\n";
        WriteTestFile(disk + "\\" + row.entry, std::string("disk:") + row.entry);
        continue;
      }
      env.updateLines += "UpdateFile0" + std::to_string(update++) + "=" + line + "\r\n";
      env.entries.push_back({row.entry, std::string("new:") + row.entry,
                             kTestCompressed | kTestScrambled, kTestEntryTime});
    }
    if (diskTwoMissing) env.updateLines += "CopyFile0" + std::to_string(copy) + "=2:EXTRA.DAT\r\n";
    env.Install();
    HostMapDrive('Q', HostPath(disk.c_str()).c_str(), kDriveCdrom);
    for (const char* folder : {"\\DATA", "\\save", "\\save\\DATA"})
      MakeTestFolder(env.installFolder + folder);
    for (const LineCase& row : rows) {
      if (row.installed == kAbsent) continue;
      const bool data = std::string(row.line).rfind("d,", 0) == 0;
      const std::string path =
          HostPath(((data ? env.dataPath : env.installFolder) + "\\DATA\\" + row.entry).c_str());
      ASSERT_TRUE(WriteFile(path, std::string("old:") + row.entry));
      ASSERT_TRUE(SetModified(path, row.installed == kNewer ? kYear2030 : kYear2010));
      if (row.installed == kReadOnlyOlder) {
        ASSERT_EQ(chmod(path.c_str(), 0444), 0);
      }
    }
    // The preview reads the same package from a file.
    const std::string package = HostPath((env.installFolder + "-update.pkg").c_str());
    ASSERT_TRUE(WriteFile(package, env.PackageBytes()));
    const std::string install = HostPath(env.installFolder.c_str());
    const auto before = Snapshot(install);
    int code = -1;
    const Json preview =
        PreviewJson({package, "--install", install, "--data", HostPath(env.dataPath.c_str()),
                     "--disk", "1=" + HostPath(disk.c_str())},
                    &code);
    EXPECT_EQ(Snapshot(install), before) << "the preview changed the installation";
    ASSERT_EQ(preview["lines"].items.size(), sizeof rows / sizeof rows[0] + diskTwoMissing);

    HostQueueMessageBoxAnswer(kIdCancel);  // the disk prompt, if it comes
    HostSetDialogScript([](WindowHandle dialog) {
      for (int press = 0; press < 3; ++press) HostClick(dialog, kIdNext);
    });
    const int finished = UpdaterMain(HostModule());
    EXPECT_EQ(finished, preview["finishes"].boolean ? 1 : 0);
    EXPECT_EQ(code, finished ? 0 : 1);

    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
      const Json& said = preview["lines"].items[i];
      const std::string action = said["action"].text;
      const std::string where = said["destination"].text;
      SCOPED_TRACE(rows[i].line + (" -> " + where));
      EXPECT_EQ(action, rows[i].action) << said["reason"].text;
      const std::string now = ReadFileOrEmpty(where);
      std::string expected = now;  // other-mode: nothing anywhere
      if (action == "write") expected = std::string("new:") + rows[i].entry;
      if (action == "keep-newer" || action == "keep-data" || action == "skip")
        expected = before.count(where) ? std::string("old:") + rows[i].entry : "";
      if (action == "copy") {
        const bool folder = rows[i].line == std::string("copy MANUAL");
        EXPECT_EQ(ReadFileOrEmpty(folder ? PathIn(where, "a.txt") : where),
                  std::string("disk:") + rows[i].entry);
      }
      EXPECT_EQ(now, expected);
      EXPECT_FALSE(FileExists(PathIn(PathIn(install, "DATA"), "MODE2.DAT")));
    }
    if (diskTwoMissing) {
      const Json& ask = preview["lines"].items.back();
      EXPECT_EQ(ask["action"].text, "ask-disk");
      EXPECT_EQ(ask["reason"].text,
                "asks for disk 2: no folder given holds DiskCheckFile2 (DISK2.ID)");
    }
  }
}
#endif

}  // namespace
}  // namespace qk2test
