// Single failures that the fault-point sweep (tests/faults) found mishandled,
// each named here so it stays mended.
#include <unistd.h>

#include <string>
#include <vector>

#include "support/startup_env.h"
#include "platform/format.h"
#include "update_env.h"
#include "sim/sim.h"

namespace {

// A file whose attributes cannot be read is still there: each rule that
// asks whether a file exists must not take it for missing (or for a
// folder) and so put the update's file somewhere else or not at all.
struct UnreadableAttributes {
  const char* name;
  const char* lines;        // section "UPDATE"
  const char* unreadable;   // relative to the game folder, or a CD path
  const char* checked;      // the file to look at afterwards, in the game folder
  const char* expected;     // its content
  const char* notThere;     // a file that must not appear, or null
};

TEST_F(UpdateTest, AFileWhoseAttributesCannotBeReadIsStillThere) {
  const UnreadableAttributes cases[] = {
      // The newer-file rule keeps a newer file.
      {"newer", "UpdateFile00=u,A.DAT\r\n", "A.DAT", "A.DAT", "OLD", nullptr},
      // An "o" line replaces an existing file.
      {"over", "UpdateFile00=o,A.DAT\r\n", "A.DAT", "A.DAT", "NEW", nullptr},
      // A file from the disk goes to its own folder, not into the game folder.
      {"copy", "CopyFile00=1:MOVIE\\OP.MPG\r\n", "Q:\\MOVIE\\OP.MPG", "MOVIE\\OP.MPG",
       "cd:MOVIE\\OP.MPG", "OP.MPG"},
  };
  Package({{"A.DAT", "NEW"}});
  MapCd('Q', {"DISK1.CHK", "MOVIE\\OP.MPG"});
  SetText(SetupDescription.DiskCheckFile[1], "DISK1.CHK");
  for (const UnreadableAttributes& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteTestFile(Game("A.DAT"), "OLD"));
    SetModified(Game("A.DAT"), kYear2030);
    Remove(Game("MOVIE\\OP.MPG"));
    HostResetMessageBoxes();
    Ini(c.lines);
    const std::string unreadable = c.unreadable[1] == ':' ? c.unreadable : Game(c.unreadable);
    HostFailFirstCall(kCallGetAttributes, unreadable);
    EXPECT_EQ(RunWizard(), 0);
    ASSERT_NE(HostFailedCall(), nullptr);
    EXPECT_EQ(Content(Game(c.checked)), c.expected);
    if (c.notThere) {
      EXPECT_FALSE(TestPathExists(Game(c.notThere)));
    }
    EXPECT_TRUE(HostMessageBoxes().empty());
  }
}

// UPDATE.INI that cannot be written into the temporary folder ends the
// updater with the temporary-file message, never without a word.
struct UnwritableUpdateIni {
  HostCallKind kind;
  const char* prefix;  // below the temporary folder
};

class StartupFault : public HostTest {};

TEST_F(StartupFault, UnwritableUpdateIniIsReported) {
  const UnwritableUpdateIni cases[] = {
      {kCallCreate, "QK2"}, {kCallWrite, "QK2"},   {kCallFlush, "QK2"},
      {kCallClose, "QK2"},  {kCallReplace, "UPD"},
  };
  StartupEnv env(Root());
  const std::string drive = HostPath("C:");
  const std::string format = kTextTempFileFailed;
  const std::string told = format.substr(0, format.find('%'));
  for (const UnwritableUpdateIni& c : cases) {
    SCOPED_TRACE(HostCallKindName(c.kind));
    ResetHostSimulation();
    HostMapDrive('C', drive.c_str());
    env.Install();
    HostFailFirstCall(c.kind, env.tempFolder + c.prefix);
    EXPECT_EQ(UpdaterMain(HostModule()), 0);
    ASSERT_NE(HostFailedCall(), nullptr);
    ASSERT_EQ(HostMessageBoxes().size(), 1u);
    EXPECT_EQ(HostMessageBoxes()[0].text.substr(0, told.size()), told);
    EXPECT_EQ(HostMessageBoxes()[0].flags, kMbOk | kMbIconError);
    EXPECT_EQ(env.TempFiles(), std::vector<std::string>{});
  }
}

}  // namespace

namespace {

// A DataPath the registry fails to read is no missing DataPath: the data
// files would go below the folder the updater was started in. The game
// counts as not installed, and nothing is written anywhere.
TEST_F(StartupFault, UnreadableDataPathIsNoMissingOne) {
  StartupEnv env(Root());
  env.dataPath = Root() + "\\save";
  env.updateLines = "UpdateFile00=d,SAVE.INI\r\n";
  env.entries = {{"SAVE.INI", "default"}};
  env.Install();
  // Started in a folder of the scratch one, so that were the data file
  // written below it, it would go nowhere else.
  MakeTestFolder(At("start"));
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(HostPath(At("start").c_str()).c_str()), 0);
  HostFailFirstCall(kCallRegistry, "DataPath");
  HostSetDialogScript([](WindowHandle dialog) {
    while (HostClick(dialog, kIdNext)) {
    }
  });
  EXPECT_EQ(UpdaterMain(HostModule()), 0);
  ASSERT_NE(HostFailedCall(), nullptr);
  EXPECT_EQ(HostDialogsShown(), 0);
  ASSERT_EQ(HostMessageBoxes().size(), 1u);
  char told[kTextSize];
  OsFormat(told, sizeof told, kTextNotInstalled, kTestGameTitle);
  EXPECT_EQ(HostMessageBoxes()[0].text, told);
  EXPECT_FALSE(TestPathExists(At("start\\SAVE.INI")));
  ASSERT_EQ(chdir(cwd), 0);
}

}  // namespace
