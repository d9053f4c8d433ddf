// The second Next of the wizard: the free-space check with its way back, the
// busy look, the two nothing-to-do outcomes and the refused copy line.
#include "update_env.h"
#include "sim/sim.h"

namespace {
const char kShortD[] =
    "ディスク容量が足りません。\rD: ドライブに 200 バイトの空き容量が必要です";

class BuildPlan : public UpdateTest {
 protected:
  void SetUp() override {
    UpdateTest::SetUp();
    Package({{"a.dat", "NEW"}});
  }
};

TEST_F(BuildPlan, FreeSpaceIsCheckedOnlyWhenRequired) {
  const struct {
    const char* required;
    u64 free;
    int completes;
  } cases[] = {
      // 3 bytes: room for the entry, none to spare.
      {"", 3, 1},
      {"RequiredDiskSpace=0\r\n", 3, 1},
      {"RequiredDiskSpace=abc\r\n", 3, 1},
      {"RequiredDiskSpace=500\r\n", 500, 1},
      {"RequiredDiskSpace=501\r\n", 500, 0},
      // -1 is 4294967295 bytes: more than 4 GiB is enough, 100 bytes are not.
      {"RequiredDiskSpace=-1\r\n", 5ull << 30, 1},
      {"RequiredDiskSpace=-1\r\n", 100, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.required) + " free " + std::to_string(c.free));
    Remove(Game("a.dat"));
    HostMapDrive('C', HostPath("C:").c_str(), kDriveFixed, c.free);
    Ini(std::string(c.required) + "UpdateFile00=a.dat\r\n");
    EXPECT_EQ(RunWizard(), c.completes ? 0 : -1);
    EXPECT_EQ(Content(Game("a.dat")), c.completes ? "NEW" : "<missing>");
  }
  EXPECT_EQ(Info(), "ディスク容量が足りません。\rC: ドライブに -101 バイトの空き容量が必要です");
}

TEST_F(BuildPlan, ShortageStaysOnThePageAndBackTriesAgain) {
  std::string d = At("D");
  MakeTestFolder(d);
  HostMapDrive('D', HostPath(d.c_str()).c_str(), kDriveFixed, 300);
  SetText(InstallRecord.InstPath, "D:\\Games\\X");
  MakeTestFolder("D:\\Games\\X");
  Ini("RequiredDiskSpace=500\r\nUpdateFile00=a.dat\r\n");
  intptr_t result = RunWizard([&](WindowHandle dialog) {
    EXPECT_EQ(Info(), kShortD);
    EXPECT_TRUE(HostDialogControl(kIdBack)->enabled);
    EXPECT_FALSE(HostDialogControl(kIdNext)->enabled);
    EXPECT_TRUE(HostDialogControl(kIdCancel)->enabled);
    EXPECT_EQ(HostDialog().cursor, kCursorArrow);
    EXPECT_EQ(WizardPage, 2);
    EXPECT_EQ(WizardBusy, 0);
    EXPECT_FALSE(TestPathExists("D:\\Games\\X\\a.dat"));
    ASSERT_TRUE(HostClick(dialog, kIdBack));
    EXPECT_EQ(Info(), "アップデートを実行します");
    EXPECT_EQ(WizardPage, 1);
    ASSERT_TRUE(HostClick(dialog, kIdNext));  // still short: checked anew
    EXPECT_EQ(Info(), kShortD);
    HostClick(dialog, kIdBack);
    HostMapDrive('D', HostPath(d.c_str()).c_str(), kDriveFixed, 500);
    HostClick(dialog, kIdNext);
    HostClick(dialog, kIdNext);
  });
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(HostMessageBoxes().empty());
  EXPECT_EQ(Content("D:\\Games\\X\\a.dat"), "NEW");
}

TEST_F(BuildPlan, UnaskableDriveSkipsTheCheck) {
  SetText(InstallRecord.InstPath, "\\\\server\\share\\X");
  Ini("RequiredDiskSpace=500\r\nUpdateFile00=2,a.dat\r\n");
  EXPECT_EQ(RunWizard(), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"アップデートする必要のあるファイルはありません"});
}

TEST_F(BuildPlan, BusyLookWhileItWorks) {
  Ini("UpdateFile00=2,a.dat\r\n");  // the box of "nothing to update" shows it
  HostQueueMessageBoxAnswer(kIdOk, [] {
    EXPECT_EQ(HostDialogControl(kIdInfo)->text, "アップデートを実行しています");
    for (int id : {(int)kIdBack, (int)kIdNext, (int)kIdCancel}) EXPECT_FALSE(HostDialogControl(id)->enabled);
    EXPECT_EQ(HostDialog().cursor, kCursorWait);
    EXPECT_EQ(WizardBusy, 1);
    EXPECT_EQ(HostSendMessage(HostDialog().window, kWmCommand, kIdCancel, 0), 0);
    EXPECT_FALSE(HostDialog().ended);  // Cancel from the keyboard does nothing now
  });
  EXPECT_EQ(RunWizard(), 0);
  ASSERT_EQ(HostMessageBoxes().size(), 1u);
}

TEST_F(BuildPlan, NothingListedEndsTheDialog) {
  Ini("UpdateFile01=a.dat\r\nCopyFile01=MOVIE\r\n");
  EXPECT_EQ(RunWizard(), -1);
  ASSERT_EQ(HostMessageBoxes().size(), 1u);
  const HostMessageBox& box = HostMessageBoxes()[0];
  EXPECT_EQ(box.text, "No 'UpdateFileXX' and 'CopyFileXX'");
  EXPECT_EQ(box.caption, "Game Updater");
  EXPECT_EQ(box.owner, HostDialog().window);
  EXPECT_EQ(box.flags, kMbOk | kMbIconError);
  EXPECT_TRUE(HostShellCalls().empty());
}

TEST_F(BuildPlan, NothingForThisModeCompletes) {
  Ini("UpdateFile00=2,a.dat\r\nCopyFile00=2,1:MOVIE\r\n");
  std::string info;
  EXPECT_EQ(RunWizard([&](WindowHandle dialog) {
              info = Info();
              HostClick(dialog, kIdNext);
            }),
            0);
  ASSERT_EQ(HostMessageBoxes().size(), 1u);
  const HostMessageBox& box = HostMessageBoxes()[0];
  EXPECT_EQ(box.text, "アップデートする必要のあるファイルはありません");
  EXPECT_EQ(box.caption, "Game Updater");
  EXPECT_EQ(box.owner, HostDialog().window);
  EXPECT_EQ(box.flags, kMbOk | kMbIconError);
  EXPECT_EQ(info, "アップデートは完了しました");
  EXPECT_FALSE(TestPathExists(Game("a.dat")));
}

TEST_F(BuildPlan, CopyLineWithoutAUsableDiskIsRefusedBeforeAnyWrite) {
  const struct {
    const char* line;
    const char* box;  // null: accepted
  } cases[] = {
      {"C:\\X", "UPDATE.INI : CopyFile01 \"C:\\X\" のディスク番号が正しくありません"},
      {"1,0:X", "UPDATE.INI : CopyFile01 \"1,0:X\" のディスク番号が正しくありません"},
      {"2,C:\\X", nullptr},  // another mode's line is dropped unread
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    HostResetMessageBoxes();
    Ini(std::string("UpdateFile00=a.dat\r\nCopyFile00=2,b\r\nCopyFile01=") + c.line + "\r\n");
    EXPECT_EQ(ReadUpdatePlan(), c.box ? -1 : 1);
    EXPECT_EQ(BoxTexts().size(), c.box ? 1u : 0u);
    if (!c.box) continue;
    EXPECT_EQ(BoxTexts()[0], c.box);
    HostResetMessageBoxes();
    EXPECT_EQ(RunWizard(), -1);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{c.box});
    EXPECT_EQ(HostMessageBoxes()[0].owner, HostDialog().window);
    EXPECT_EQ(HostMessageBoxes()[0].caption, "Game Updater");
    EXPECT_FALSE(TestPathExists(Game("a.dat")));
  }
}
}  // namespace
