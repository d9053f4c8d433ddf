// Carrying out the plan: placement by kind, the media search with its
// prompt, the shell's copy and its outcomes, and the completed wizard.
#include <time.h>
#include <unistd.h>

#include <filesystem>

#include "platform/memory.h"
#include "support/startup_env.h"
#include "update_env.h"
#include "sim/sim.h"

namespace {
const char kWriteFailed[] = "ファイルの書き込みに失敗しました";

enum Before { kMissing, kOlder, kNewer, kReadOnly, kFolder };

struct PlacementCase {
  const char* letter;
  Before before;
  const char* after;  // content afterwards
  int completes;
};

class RunPlan : public UpdateTest {
 protected:
  void Prepare(const std::string& path, Before before) {
    if (before == kFolder) MakeTestFolder(path);
    if (before == kMissing || before == kFolder) return;
    ASSERT_TRUE(WriteTestFile(path, "OLD"));
    SetModified(path, before == kNewer ? kYear2030 : kYear2010);
    if (before == kReadOnly) SetReadOnly(path);
  }
  static std::string State(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(HostPath(path.c_str()), error)) return "<folder>";
    return Content(path);
  }
  const HostMessageBox& OnlyBox() {
    EXPECT_EQ(HostMessageBoxes().size(), 1u);
    return HostMessageBoxes().at(0);
  }
  void ExpectFailedWrite() {
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{kWriteFailed});
    EXPECT_EQ(HostMessageBoxes().at(0).owner, HostDialog().window);
    EXPECT_EQ(HostMessageBoxes().at(0).caption, "Game Updater");
    EXPECT_EQ(HostMessageBoxes().at(0).flags, kMbOk | kMbIconError);
  }
};

TEST_F(RunPlan, EachKindAgainstEachDestination) {
  const PlacementCase cases[] = {
      {"", kMissing, "NEW", 1},         {"", kOlder, "NEW", 1},
      {"", kNewer, "NEW", 1},           {"", kReadOnly, "NEW", 1},
      {"", kFolder, "<folder>", 0},     {"u,", kMissing, "NEW", 1},
      {"u,", kOlder, "NEW", 1},         {"u,", kNewer, "OLD", 1},
      {"u,", kReadOnly, "NEW", 1},      {"u,", kFolder, "<folder>", 0},
      {"d,", kMissing, "NEW", 1},       {"d,", kOlder, "OLD", 1},
      {"d,", kNewer, "OLD", 1},         {"d,", kReadOnly, "OLD", 1},
      {"d,", kFolder, "<folder>", 0},   {"o,", kMissing, "<missing>", 1},
      {"o,", kOlder, "NEW", 1},         {"o,", kNewer, "NEW", 1},
      {"o,", kReadOnly, "NEW", 1},      {"o,", kFolder, "<folder>", 1},
  };
  std::vector<TestEntry> entries;
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
    entries.push_back({"f" + std::to_string(i) + ".dat", "NEW"});
  Package(entries);
  SetText(InstallRecord.DataPath, game_);
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const PlacementCase& c = cases[i];
    std::string name = "f" + std::to_string(i) + ".dat";
    SCOPED_TRACE(std::string(c.letter) + name);
    HostResetMessageBoxes();
    Prepare(Game(name), c.before);
    Ini(std::string("UpdateFile00=") + c.letter + name + "\r\n");
    EXPECT_EQ(RunWizard(), c.completes ? 0 : -1);
    EXPECT_EQ(State(Game(name)), c.after);
    if (!c.completes) {
      ExpectFailedWrite();
      continue;
    }
    EXPECT_TRUE(HostMessageBoxes().empty());
    // A kept data file is written anew: same bytes, a fresh time stamp.
    // Where that write fails (read-only), the file stays exactly as it was.
    if (c.letter[0] == 'd' && (c.before == kOlder || c.before == kNewer)) {
      EXPECT_GE(Modified(Game(name)), (long)time(nullptr) - 600);
    }
    if (c.letter[0] == 'd' && c.before == kReadOnly) {
      EXPECT_EQ(Modified(Game(name)), kYear2010);
      EXPECT_TRUE(IsReadOnly(Game(name)));
    }
  }
}

TEST_F(RunPlan, OverwriteOnlyPlacesOverExistingFilesAlone) {
  Package({{"a.dat", "NEW"}, {"b.dat", "NEW"}, {"c.dat", "NEW"}, {"e.dat", "NEW"}});
  SetText(InstallRecord.DataPath, game_);
  Prepare(Game("e.dat"), kOlder);
  Ini("OverwriteOnly=1\r\nUpdateFile00=a.dat\r\nUpdateFile01=u,b.dat\r\n"
      "UpdateFile02=d,c.dat\r\nUpdateFile03=e.dat\r\n");
  EXPECT_EQ(RunWizard(), 0);
  for (const char* skipped : {"a.dat", "b.dat", "c.dat"}) EXPECT_FALSE(TestPathExists(Game(skipped)));
  EXPECT_EQ(Content(Game("e.dat")), "NEW");
}

TEST_F(RunPlan, DataFolderLiesBelowEveryRoot) {
  Package({{"a.sav", "NEW"}, {"b.dat", "NEW"}});
  MakeTestFolder(At("Data"));
  SetText(InstallRecord.DataPath, At("Data"));
  SetText(UpdateDescription.DataFolder, "Save");
  Ini("UpdateFile00=d,a.sav\r\nUpdateFile01=b.dat\r\n");
  EXPECT_EQ(RunWizard(), 0);
  EXPECT_EQ(Content(At("Data\\Save\\a.sav")), "NEW");
  EXPECT_EQ(Content(Game("Save\\b.dat")), "NEW");

  SetText(UpdateDescription.DataFolder, "One\\Two");  // only one level is made
  EXPECT_EQ(RunWizard(), -1);
  EXPECT_FALSE(TestPathExists(At("Data\\One")));
}

TEST_F(RunPlan, EmptyDataPathIsTheCurrentFolder) {
  Package({{"a.sav", "NEW"}});
  SetText(UpdateDescription.DataFolder, "Save");
  Ini("UpdateFile00=d,a.sav\r\n");
  char* previous = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(HostPath(Root().c_str()).c_str()), 0);
  intptr_t result = RunWizard();
  ASSERT_EQ(chdir(previous), 0);
  free(previous);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Content(At("Save\\a.sav")), "NEW");
}

TEST_F(RunPlan, FailedWriteStopsTheRun) {
  const struct {
    const char* line;
    std::vector<std::string> boxes;
  } cases[] = {
      {"sub\\a.dat", {kWriteFailed}},  // no folder inside the path is made
      {"nothere.dat", {"Can't Find File in Resource !!", kWriteFailed}},
  };
  Package({{"a.dat", "NEW"}, {"b.dat", "NEW"}});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    HostResetMessageBoxes();
    Ini(std::string("UpdateFile00=") + c.line + "\r\nUpdateFile01=b.dat\r\nCopyFile00=1:X\r\n");
    EXPECT_EQ(RunWizard(), -1);
    EXPECT_EQ(BoxTexts(), c.boxes);
    EXPECT_FALSE(TestPathExists(Game("b.dat")));
    EXPECT_TRUE(HostShellCalls().empty());
  }
}

TEST_F(RunPlan, PathsTooLongFailWithoutWriting) {
  Package({{"a.dat", "NEW"}});
  MapCd('Q', {"DISK1.CHK", std::string(60, 's')});
  SetText(SetupDescription.DiskCheckFile[1], "DISK1.CHK");
  const struct {
    std::string instPath;
    std::string lines;
  } cases[] = {
      {At(std::string(240, 'l')), "UpdateFile00=abcdefghijk.dat\r\n"},
      {At(std::string(200, 'l')), "CopyFile00=1:" + std::string(60, 's') + "\r\n"},
      {game_, "CopyFile00=1:" + std::string(257, 's') + "\r\n"},  // the source
  };
  for (const auto& c : cases) {
    HostResetMessageBoxes();
    HostShellReset();
    SetText(InstallRecord.InstPath, c.instPath);
    Ini(c.lines);
    EXPECT_EQ(RunWizard(), -1);
    ExpectFailedWrite();
    EXPECT_TRUE(HostShellCalls().empty());
  }
}

TEST_F(RunPlan, UnreadableDataFileGivesWayToTheEntry) {
  Package({{"a.sav", "NEW"}});
  SetText(InstallRecord.DataPath, game_);
  Prepare(Game("a.sav"), kOlder);
  Ini("UpdateFile00=d,a.sav\r\n");
  long live = HostLiveAllocations();
  HostFailAllocation(0);  // the block for the existing file's bytes
  EXPECT_EQ(RunWizard(), 0);
  EXPECT_EQ(Content(Game("a.sav")), "NEW");
  EXPECT_EQ(HostLiveAllocations(), live);
}

TEST_F(RunPlan, FileFromTheLowestCdromDriveWithTheDisk) {
  MapCd('D', {"DISK1.CHK", "MOVIE\\OP.MPG"});
  HostMapDrive('D', HostPath(At("cdD").c_str()).c_str(), kDriveFixed);  // not a CD-ROM
  MapCd('Q', {"MOVIE\\OP.MPG"});
  MapCd('R', {"DISK1.CHK", "MOVIE\\OP.MPG"});
  MapCd('P', {"DISK1.CHK", "MOVIE\\OP.MPG"});
  SetReadOnly(At("cdP\\MOVIE\\OP.MPG"));
  SetText(SetupDescription.DiskCheckFile[1], "DISK1.CHK");
  Ini("CopyFile00=1:MOVIE\\OP.MPG\r\n");
  EXPECT_EQ(RunWizard(), 0);
  ASSERT_EQ(HostShellCalls().size(), 1u);
  const HostShellCall& call = HostShellCalls()[0];
  EXPECT_EQ(call.owner, HostDialog().window);
  EXPECT_EQ(call.operation, kFoCopy);
  EXPECT_EQ(call.from, "P:\\MOVIE\\OP.MPG");
  EXPECT_EQ(call.to, Game("MOVIE\\OP.MPG"));
  EXPECT_EQ(call.flags, 528);
  EXPECT_EQ(Content(Game("MOVIE\\OP.MPG")), "cd:MOVIE\\OP.MPG");
  EXPECT_FALSE(IsReadOnly(Game("MOVIE\\OP.MPG")));
  EXPECT_TRUE(HostMessageBoxes().empty());
}

TEST_F(RunPlan, EmptyCheckFileTakesTheFirstDriveWithADisc) {
  HostMapDrive('E', HostPath(At("no-disc").c_str()).c_str(), kDriveCdrom);
  MapCd('G', {"A.TXT"});
  MapCd('H', {"A.TXT"});
  Ini("CopyFile00=2:A.TXT\r\n");
  EXPECT_EQ(RunWizard(), 0);
  ASSERT_EQ(HostShellCalls().size(), 1u);
  EXPECT_EQ(HostShellCalls()[0].from, "G:\\A.TXT");
}

TEST_F(RunPlan, PromptRepeatsUntilTheDiskIsInserted) {
  SetText(SetupDescription.DiskCheckFile[2], "DISK2.CHK");
  Ini("CopyFile00=2:A.TXT\r\n");
  HostQueueMessageBoxAnswer(kIdOk);
  HostQueueMessageBoxAnswer(kIdOk, [this] { MapCd('Q', {"DISK2.CHK", "A.TXT"}); });
  EXPECT_EQ(RunWizard(), 0);
  ASSERT_EQ(HostMessageBoxes().size(), 2u);
  for (const HostMessageBox& box : HostMessageBoxes()) {
    EXPECT_EQ(box.text, "ＣＤ－ＲＯＭドライブに「Game」ディスク 2 を入れて下さい");
    EXPECT_EQ(box.caption, "Game Updater");
    EXPECT_EQ(box.owner, HostDialog().window);
    EXPECT_EQ(box.flags, kMbOkCancel);
  }
  EXPECT_EQ(Content(Game("A.TXT")), "cd:A.TXT");
}

TEST_F(RunPlan, DeclinedPromptEndsTheDialog) {
  for (int answer : {(int)kIdCancel, 0}) {
    HostResetMessageBoxes();
    Ini("CopyFile00=3:A.TXT\r\n");
    HostQueueMessageBoxAnswer(answer);
    EXPECT_EQ(RunWizard(), -1);
    EXPECT_EQ(HostMessageBoxes().size(), 1u);
    EXPECT_TRUE(HostShellCalls().empty());
  }
}

TEST_F(RunPlan, UnnumberedItemSearchesOnlyWhenNoSearchRanBefore) {
  SetText(SetupDescription.DiskCheckFile[0], "DISK0.CHK");
  SetText(SetupDescription.DiskCheckFile[1], "DISK1.CHK");
  MapCd('Q', {"DISK1.CHK", "A.TXT", "B.TXT"});
  MapCd('R', {"DISK0.CHK", "B.TXT"});
  Ini("CopyFile00=B.TXT\r\nCopyFile01=1:A.TXT\r\nCopyFile02=B.TXT\r\n");
  EXPECT_EQ(RunWizard(), 0);
  ASSERT_EQ(HostShellCalls().size(), 3u);
  EXPECT_EQ(HostShellCalls()[0].from, "R:\\B.TXT");
  EXPECT_EQ(HostShellCalls()[1].from, "Q:\\A.TXT");
  EXPECT_EQ(HostShellCalls()[2].from, "Q:\\B.TXT");

  HostUnmapDrive('R');
  Ini("CopyFile00=B.TXT\r\n");
  HostQueueMessageBoxAnswer(kIdCancel);
  EXPECT_EQ(RunWizard(), -1);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{
                            "ＣＤ－ＲＯＭドライブに「Game」ディスク 0 を入れて下さい"});
}

TEST_F(RunPlan, ShellOutcomes) {
  MapCd('Q', {"DISK1.CHK", "A.TXT"});
  SetText(SetupDescription.DiskCheckFile[1], "DISK1.CHK");
  const struct {
    const char* name;
    void (*arrange)();
    int boxes;
  } cases[] = {
      {"aborted", [] { HostShellAbortNext(0); }, 0},
      {"aborted with a result", [] { HostShellAbortNext(1223); }, 0},
      {"failed", [] { HostShellFailNext(5); }, 1},
      {"no entry point",
       [] {
         HostSetEntryPointMissing("SHFileOperationA", 1);
         ResolveDynamicApi();
         HostResetMessageBoxes();
       },
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HostResetMessageBoxes();
    Ini("CopyFile00=1:A.TXT\r\n");
    c.arrange();
    std::string infoDuringBox;
    HostQueueMessageBoxAnswer(kIdOk, [&] { infoDuringBox = Info(); });
    EXPECT_EQ(RunWizard(), -1);
    EXPECT_FALSE(TestPathExists(Game("A.TXT")));
    ASSERT_EQ(HostMessageBoxes().size(), (size_t)c.boxes);
    if (!c.boxes) continue;
    const HostMessageBox& box = OnlyBox();
    EXPECT_EQ(box.text, "SETUP.INI : \"A.TXT\" のコピーに失敗しました");
    EXPECT_EQ(box.caption, "Game Updater");
    EXPECT_EQ(box.owner, HostDialog().window);
    EXPECT_EQ(box.flags, kMbOk | kMbIconError);
    EXPECT_EQ(infoDuringBox, "A.TXT をコピーしています");
  }
}

TEST_F(RunPlan, FolderOrMissingSourceGoesToTheInstallationFolder) {
  MapCd('Q', {"DISK1.CHK", "MOVIE\\A.MPG", "MOVIE\\SUB\\B.MPG"});
  SetText(SetupDescription.DiskCheckFile[1], "DISK1.CHK");
  Ini("CopyFile00=1:MOVIE\r\nCopyFile01=1:NOPE.TXT\r\n");
  EXPECT_EQ(RunWizard(), -1);
  ASSERT_EQ(HostShellCalls().size(), 2u);
  for (const HostShellCall& call : HostShellCalls()) {
    EXPECT_EQ(call.to, game_);
    EXPECT_EQ(call.flags, 1552);
  }
  EXPECT_EQ(Content(Game("MOVIE\\SUB\\B.MPG")), "cd:MOVIE\\SUB\\B.MPG");
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"SETUP.INI : \"NOPE.TXT\" のコピーに失敗しました"});
}

TEST_F(RunPlan, CompletedWizardWaitsForFinish) {
  Package({{"a.dat", "NEW"}});
  MapCd('Q', {"A.TXT"});
  for (const char* modeWord : {kTextModeWordUpdate, kTextModeWordInstall}) {
    UpdateDescription.ModeWord = modeWord;
    Ini("UpdateFile00=a.dat\r\nCopyFile00=1:A.TXT\r\n");
    intptr_t result = RunWizard([&](WindowHandle dialog) {
      EXPECT_EQ(Info(), std::string(modeWord) + "は完了しました");
      HostControl* next = HostDialogControl(kIdNext);
      EXPECT_EQ(next->text, "完了");
      EXPECT_TRUE(next->enabled);
      EXPECT_EQ(HostDialog().focus, next->window);
      EXPECT_FALSE(HostDialogControl(kIdBack)->enabled);
      EXPECT_FALSE(HostDialogControl(kIdCancel)->enabled);
      EXPECT_EQ(HostDialog().cursor, kCursorArrow);
      EXPECT_EQ(WizardBusy, 0);
      EXPECT_EQ(WizardPage, 2);
      EXPECT_FALSE(HostDialog().ended);
      HostClick(dialog, kIdNext);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(WizardPage, 3);
  }
}

class WholeRun : public HostTest {};

TEST_F(WholeRun, ExitCodeFollowsTheUpdateStep) {
  const struct {
    const char* updateLines;
    int exitCode;
    std::vector<std::string> boxes;
  } cases[] = {
      {"UpdateFile00=a.dat\r\n", 1, {}},
      {"CopyFile00=1:A.TXT\r\n", 0,
       {"ＣＤ－ＲＯＭドライブに「テストゲーム」ディスク 1 を入れて下さい",
        "アップデートが中断されました"}},
  };
  const std::string driveC = HostPath("C:");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.updateLines);
    ResetHostSimulation();
    HostMapDrive('C', driveC.c_str());
    StartupEnv env(Root());
    env.installFolder += std::to_string(c.exitCode);
    env.updateLines = c.updateLines;
    env.entries = {{"a.dat", "NEW"}};
    env.Install();
    HostQueueMessageBoxAnswer(kIdCancel);
    HostSetDialogScript([](WindowHandle dialog) {
      for (int press = 0; press < 3; ++press) HostClick(dialog, kIdNext);
    });
    EXPECT_EQ(UpdaterMain(HostModule()), c.exitCode);
    std::vector<std::string> boxes;
    for (const HostMessageBox& box : HostMessageBoxes()) boxes.push_back(box.text);
    EXPECT_EQ(boxes, c.boxes);
    std::string placed;
    EXPECT_EQ(ReadTestFile(env.installFolder + "\\a.dat", &placed), c.exitCode == 1);
    EXPECT_TRUE(env.TempFiles().empty());
  }
}
}  // namespace
