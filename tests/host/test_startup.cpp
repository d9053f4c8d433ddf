// Start-up on the host: every way out with what the user sees, the values
// it reads, and the run state released behind it.
#include <string.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "runtime/run_state.h"
#include "flow/startup.h"
#include "flow/wizard.h"
#include "package/format.h"
#include "package/package.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/messagebox.h"
#include "platform/ui.h"
#include "settings/settings.h"
#include "settings/setup_description.h"
#include "support/host_env.h"
#include "support/scratch.h"
#include "support/startup_env.h"
#include "sim/sim.h"

namespace {

const u32 kErrorBox = kMbOk | kMbIconError;
// The caption formed from the default SETUP.INI without UpdaterVersion.
const std::string kDefaultCaption = std::string(kTestGameTitle) + " アップデータ ";

struct Box {
  std::string text;
  std::string caption;
  u32 flags;
  WindowHandle owner;
  bool operator==(const Box& other) const {
    return text == other.text && caption == other.caption && flags == other.flags &&
           owner == other.owner;
  }
};
void PrintTo(const Box& box, std::ostream* out) {
  *out << "{\"" << box.text << "\", \"" << box.caption << "\", " << box.flags << ", "
       << box.owner << "}";
}
Box Error(const std::string& text, const std::string& caption = "UPDATE") {
  return Box{text, caption, kErrorBox, nullptr};
}
std::vector<Box> Boxes() {
  std::vector<Box> boxes;
  for (const HostMessageBox& box : HostMessageBoxes())
    boxes.push_back(Box{box.text, box.caption, box.flags, box.owner});
  return boxes;
}
std::string GameRunningText(const std::string& title) {
  return "「" + title +
         "」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] "
         "を、アップデートを中止する場合は [キャンセル] を押して下さい";
}
Box GameRunning(const std::string& title, const std::string& caption = kDefaultCaption) {
  return Box{GameRunningText(title), caption, kMbOkCancel, nullptr};
}
Box Interrupted(const std::string& caption = kDefaultCaption) {
  return Error("アップデートが中断されました", caption);
}

// A Windows folder path of exactly `length` characters, ending in '\',
// inside the scratch folder `root` ("C:\scratch"). Created when `create`.
std::string FolderOfLength(const std::string& root, size_t length, bool create) {
  std::string folder = root + "\\" + std::string(100, 'a') + "\\";
  folder += std::string(length - folder.size() - 1, 'b') + "\\";
  if (create) MakeTestFolder(folder.substr(0, folder.size() - 1));
  return folder;
}

void CancelWizard() {
  HostSetDialogScript([](WindowHandle dialog) { HostClick(dialog, kIdCancel); });
}

// Walks the wizard to its last page and presses Next there: the user
// finished. The page after the update step is set directly, so the walk
// does not depend on what the update step does.
void FinishWizard() {
  HostSetDialogScript([](WindowHandle dialog) {
    HostClick(dialog, kIdNext);
    WizardPage = 2;
    HostClick(dialog, kIdNext);
  });
}

class StartupTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    liveBefore_ = HostLiveAllocations();
  }
  // Runs the updater and checks what every way out must leave behind: no
  // package directory, no temporary file of its own, no open registry key,
  // and no block but the agreement texts.
  int Run(const StartupEnv& env, long agreementBlocks = 0,
          const std::vector<std::string>& foreignTempFiles = {}) {
    const int code = UpdaterMain(HostModule());
    EXPECT_EQ(UpdaterPackage.image, nullptr);
    EXPECT_EQ(env.TempFiles(), foreignTempFiles);
    EXPECT_EQ(HostRegistryOpenKeys(), 0);
    EXPECT_EQ(HostLiveAllocations() - liveBefore_, agreementBlocks);
    EXPECT_EQ(WizardWindow, nullptr);
    return code;
  }
  // Program start again for the next case of a table, in the same scratch
  // folder.
  void Restart() {
    const std::string drive = HostPath("C:");
    ResetHostSimulation();
    HostMapDrive('C', drive.c_str());
    liveBefore_ = HostLiveAllocations();
  }
  long liveBefore_ = 0;
};

// ---------------------------------------------------------------------------
// Every way out of the failure table.

struct WayOut {
  const char* name;
  std::function<void(StartupEnv&, const std::string& root)> arrange;
  std::function<std::vector<Box>(const StartupEnv&)> boxes;
  long agreementBlocks;
};
void PrintTo(const WayOut& c, std::ostream* out) { *out << c.name; }

std::vector<Box> None(const StartupEnv&) { return {}; }

std::string WithoutLine(std::string lines, const std::string& key) {
  size_t at = lines.find(key + "=");
  size_t end = lines.find("\r\n", at);
  return lines.erase(at, end + 2 - at);
}

const WayOut kWayOuts[] = {
    {"NoPackageResource",
     [](StartupEnv& env, const std::string&) {
       env.InstallTempFolder();
       env.InstallRegistry();
       env.InstallGame();
     },
     None, 0},
    {"EmptyPackageResource",
     [](StartupEnv& env, const std::string&) {
       env.Install();
       HostSetResource(kPackageResourceType, kPackageResourceId, "", 0);
     },
     None, 0},
    {"DamagedPackage",
     [](StartupEnv& env, const std::string&) {
       env.Install();
       const PackageHeader header = {{'Q', 'K', '2', 0}, 0, 4096, 1};
       HostSetResource(kPackageResourceType, kPackageResourceId, &header, sizeof header);
     },
     [](const StartupEnv&) { return std::vector<Box>{Error("RESOURCE READ ERROR")}; }, 0},
    {"NoTempFolder",
     [](StartupEnv& env, const std::string&) {
       env.Install();
       HostSetTempPath("");
     },
     [](const StartupEnv&) {
       return std::vector<Box>{Error("一時ファイルを作成できません。\r")};
     },
     0},
    {"TempFolderMissing",
     [](StartupEnv& env, const std::string& root) {
       env.Install();
       env.tempFolder = root + "\\gone\\";
       HostSetTempPath(env.tempFolder.c_str());
     },
     [](const StartupEnv& env) {
       return std::vector<Box>{Error("一時ファイルを作成できません。\r" + env.tempFolder)};
     },
     0},
    {"TempFolderTooLong",
     [](StartupEnv& env, const std::string& root) {
       env.tempFolder = FolderOfLength(root, 247, true);
       env.Install();
     },
     [](const StartupEnv& env) {
       return std::vector<Box>{Error("パスが長すぎます。\r" + env.tempFolder)};
     },
     0},
    {"UpdateIniNotInPackage",
     [](StartupEnv& env, const std::string&) {
       env.Install();
       InstallTestPackage(BuildTestPackage({{"OTHER.DAT", "x"}}));
     },
     [](const StartupEnv&) {
       return std::vector<Box>{Error("Can't Find File in Resource !!")};
     },
     0},
    {"CompanyNameMissing",
     [](StartupEnv& env, const std::string&) {
       env.setupLines = WithoutLine(env.setupLines, "CompanyName");
       env.Install();
     },
     [](const StartupEnv&) {
       return std::vector<Box>{Error("SETUP : CompanyName キーが存在しません", "INSTCMMN")};
     },
     0},
    {"GameTitleEmpty",
     [](StartupEnv& env, const std::string&) {
       env.setupLines = WithoutLine(env.setupLines, "GameTitle") + "GameTitle=\r\n";
       env.Install();
     },
     [](const StartupEnv&) {
       return std::vector<Box>{Error("SETUP : GameTitle キーが存在しません", "INSTCMMN")};
     },
     0},
    {"GameClassMissing",
     [](StartupEnv& env, const std::string&) {
       env.setupLines = WithoutLine(env.setupLines, "GameClass");
       env.Install();
     },
     [](const StartupEnv&) {
       return std::vector<Box>{Error("SETUP : GameClass キーが存在しません", "INSTCMMN")};
     },
     0},
    {"GameDirMissing",
     [](StartupEnv& env, const std::string&) {
       env.setupLines = WithoutLine(env.setupLines, "GameDir");
       env.Install();
     },
     [](const StartupEnv&) {
       return std::vector<Box>{Error("SETUP : GameDir キーが存在しません", "INSTCMMN")};
     },
     0},
    {"AgreementTextNotInPackage",
     [](StartupEnv& env, const std::string&) {
       env.setupLines += "AgreementText=EULA.TXT\r\n";
       env.Install();
     },
     [](const StartupEnv&) {
       return std::vector<Box>{Error("Can't Find File in Resource !!"),
                               Error("'EULA.TXT' not found at UPDATE.QK3")};
     },
     0},
    {"AgreementTitleNotInPackageAfterText",
     [](StartupEnv& env, const std::string&) {
       env.setupLines += "AgreementText=EULA.TXT\r\nAgreementTitle=TITLE.TXT\r\n";
       env.entries.push_back({"EULA.TXT", "規約"});
       env.Install();
     },
     [](const StartupEnv&) {
       return std::vector<Box>{Error("Can't Find File in Resource !!"),
                               Error("'TITLE.TXT' not found at UPDATE.QK3")};
     },
     1},
    {"NotInstalled",
     [](StartupEnv& env, const std::string&) {
       env.Install();
       HostRegistryReset();
     },
     [](const StartupEnv&) {
       return std::vector<Box>{Error(std::string("「") + kTestGameTitle +
                                     "」がインストールされていません")};
     },
     0},
    {"InstPathTooLong",
     [](StartupEnv& env, const std::string& root) {
       std::string folder = FolderOfLength(root, 250, false);
       env.installFolder = folder.substr(0, folder.size() - 1);  // 249 characters
       env.Install();
     },
     [](const StartupEnv& env) {
       return std::vector<Box>{Error("パスが長すぎます。\r" + env.installFolder)};
     },
     0},
    {"SetupIniMissing",
     [](StartupEnv& env, const std::string&) {
       env.Install();
       HostRegistrySetString(kTestRegistryKey, "InstPath", (env.installFolder + "x").c_str());
     },
     [](const StartupEnv&) {
       return std::vector<Box>{
           Error("インストール先に \"SETUP.INI\" ファイルが見つかりません")};
     },
     0},
    {"SetupIniWithoutGameExe",  // a missing SETUP.INI key is not reported
     [](StartupEnv& env, const std::string&) {
       env.setupIni = WithoutLine(env.setupIni, "GameExe");
       env.Install();
     },
     None, 0},
    {"OtherUpdaterRunning",
     [](StartupEnv& env, const std::string&) {
       env.Install();
       HostAddWindow("#32770", kDefaultCaption.c_str());
     },
     None, 0},
    {"GameRunningCancelled",
     [](StartupEnv& env, const std::string&) {
       env.Install();
       HostAddWindow(kTestGameClass, kTestGameTitle);
       HostQueueMessageBoxAnswer(kIdCancel);
     },
     [](const StartupEnv&) { return std::vector<Box>{GameRunning(kTestGameTitle)}; }, 0},
    {"WizardCancelled",
     [](StartupEnv& env, const std::string&) {
       env.Install();
       CancelWizard();
     },
     [](const StartupEnv&) { return std::vector<Box>{Interrupted()}; }, 0},
    {"WizardNotCreated",
     [](StartupEnv& env, const std::string&) {
       env.Install();
       HostFailNextDialog();
     },
     [](const StartupEnv&) { return std::vector<Box>{Interrupted()}; }, 0},
};

class StartupWayOutTest : public StartupTest, public ::testing::WithParamInterface<WayOut> {};

TEST_P(StartupWayOutTest, ShowsItsMessagesAndEndsWithZero) {
  StartupEnv env(Root());
  GetParam().arrange(env, Root());
  EXPECT_EQ(Run(env, GetParam().agreementBlocks), 0);
  EXPECT_EQ(Boxes(), GetParam().boxes(env));
}

INSTANTIATE_TEST_SUITE_P(EveryWayOut, StartupWayOutTest, ::testing::ValuesIn(kWayOuts),
                         [](const ::testing::TestParamInfo<WayOut>& param) {
                           return std::string(param.param.name);
                         });

TEST_F(StartupTest, FinishedWizardGivesOneAndNoMessage) {
  StartupEnv env(Root());
  env.Install();
  FinishWizard();
  EXPECT_EQ(Run(env), 1);
  EXPECT_EQ(Boxes(), std::vector<Box>{});
  EXPECT_EQ(HostDialog().result, 0);
  EXPECT_EQ(WizardPage, 3);
}

TEST_F(StartupTest, WizardRunsModallyWithoutOwnerFromTheTemplateTheAgreementChooses) {
  struct Case {
    const char* lines;
    std::vector<TestEntry> entries;
    int templateId;
    long blocks;
  };
  const Case cases[] = {
      {"", {}, kTemplateWizard, 0},
      {"AgreementText=EULA.TXT\r\n", {{"EULA.TXT", "規約"}}, kTemplateWizardAgreement, 1},
      {"AgreementTitle=TITLE.TXT\r\n", {{"TITLE.TXT", "題"}}, kTemplateWizard, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    Restart();
    StartupEnv env(Root());
    env.setupLines += c.lines;
    env.entries = c.entries;
    env.Install();
    WindowHandle during = nullptr;
    HostSetDialogScript([&during](WindowHandle dialog) {
      during = WizardWindow;
      HostClick(dialog, kIdCancel);
    });
    EXPECT_EQ(Run(env, c.blocks), 0);
    EXPECT_EQ(HostDialogsShown(), 1);
    EXPECT_EQ(HostDialog().templateId, c.templateId);
    EXPECT_EQ(HostDialog().owner, nullptr);
    EXPECT_EQ(HostDialog().param, 0);
    EXPECT_EQ(HostDialog().proc, &WizardProc);
    EXPECT_EQ(during, HostDialog().window);
    EXPECT_EQ(Boxes(), std::vector<Box>{Interrupted()});
  }
}

// ---------------------------------------------------------------------------
// Agreement texts.

TEST_F(StartupTest, AgreementTextsAreZeroFilledCopiesTwoBytesLonger) {
  StartupEnv env(Root());
  env.setupLines += "AgreementText=eula.txt\r\nAgreementTitle=TITLE.TXT\r\n";
  env.entries = {{"EULA.TXT", std::string("第1条\0x", 7)}, {"TITLE.TXT", "利用規約"}};
  env.Install();
  std::string shownText, shownTitle;
  HostSetDialogScript([&](WindowHandle dialog) {
    shownText = HostDialogControl(kIdAgreementBox)->text;
    shownTitle = HostDialogControl(kIdInfo)->text;
    HostClick(dialog, kIdCancel);
  });
  EXPECT_EQ(Run(env, 2), 0);
  ASSERT_NE(UpdateDescription.AgreementText, nullptr);
  ASSERT_NE(UpdateDescription.AgreementTitle, nullptr);
  // The content (with its own NUL) then two zero bytes.
  EXPECT_EQ(std::string(UpdateDescription.AgreementText, 9), std::string("第1条\0x\0\0", 9));
  EXPECT_EQ(shownText, "第1条");
  EXPECT_EQ(shownTitle, "利用規約");
}

TEST_F(StartupTest, AgreementBlockThatCannotBeAllocatedEndsTheRun) {
  // A stored UPDATE.INI and a stored agreement need no block but the
  // directory (allocation 0) and the agreement's copy (allocation 1).
  for (int withAgreement = 0; withAgreement < 2; ++withAgreement) {
    SCOPED_TRACE(withAgreement);
    Restart();
    StartupEnv env(Root());
    if (withAgreement) env.setupLines += "AgreementText=EULA.TXT\r\n";
    env.Install();
    InstallTestPackage(
        BuildTestPackage({{"UPDATE.INI", env.UpdateIniText()}, {"EULA.TXT", "規約"}}));
    CancelWizard();
    HostFailAllocation(1);
    EXPECT_EQ(Run(env), 0);
    HostFailAllocation(-1);
    if (withAgreement)
      EXPECT_EQ(Boxes(), std::vector<Box>{Error("Can't Allocate Memory !!")});
    else
      EXPECT_EQ(Boxes(), std::vector<Box>{Interrupted()});  // allocation 1 was the agreement
  }
}

// ---------------------------------------------------------------------------
// Section "SETUP": mode word, optional keys, caption.

struct ModeCase {
  const char* line;
  int install;
};
class StartupModeTest : public StartupTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(StartupModeTest, ModeWordFollowsTheRuntimeNumberRules) {
  StartupEnv env(Root());
  env.setupLines += std::string("UpdaterTitle=テストアップデータ\r\n") + GetParam().line;
  env.Install();
  std::string intro;
  HostSetDialogScript([&intro](WindowHandle dialog) {
    intro = HostDialogControl(kIdInfo)->text;
    HostClick(dialog, kIdCancel);
  });
  EXPECT_EQ(Run(env), 0);
  EXPECT_EQ(UpdateDescription.ModeIsInstall, GetParam().install);
  EXPECT_STREQ(UpdateDescription.ModeWord, GetParam().install ? "インストール" : "アップデート");
  EXPECT_EQ(intro, GetParam().install ? "「テストアップデータ」のインストールを開始します"
                                      : std::string("「") + kTestGameTitle +
                                            "」のアップデートを開始します");
}

INSTANTIATE_TEST_SUITE_P(Values, StartupModeTest,
                         ::testing::Values(ModeCase{"ModeTextUpdateOrInstall=1\r\n", 1},
                                           ModeCase{"ModeTextUpdateOrInstall=0\r\n", 0},
                                           ModeCase{"ModeTextUpdateOrInstall=\r\n", 0},
                                           ModeCase{"ModeTextUpdateOrInstall=abc\r\n", 0},
                                           ModeCase{"", 0},
                                           ModeCase{"ModeTextUpdateOrInstall=\" 2\"\r\n", 1},
                                           ModeCase{"ModeTextUpdateOrInstall= 2\r\n", 1},
                                           ModeCase{"ModeTextUpdateOrInstall=-3x\r\n", 1},
                                           ModeCase{"ModeTextUpdateOrInstall=0x10\r\n", 0}));

TEST_F(StartupTest, OptionalKeysAreReadAndAbsentOnesLeftEmpty) {
  StartupEnv env(Root());
  env.setupLines +=
      "GameTitleA=Second\r\nUpdaterVersion=1.05\r\nDataFolder=save\r\nUpdateMessage=hello\r\n";
  env.Install();
  CancelWizard();
  EXPECT_EQ(Run(env), 0);
  EXPECT_STREQ(UpdateDescription.GameTitleA, "Second");
  EXPECT_STREQ(UpdateDescription.UpdaterVersion, "1.05");
  EXPECT_STREQ(UpdateDescription.UpdaterTitle, "");
  EXPECT_STREQ(UpdateDescription.DataFolder, "save");
  EXPECT_STREQ(UpdateDescription.UpdateMessage, "hello");
  EXPECT_EQ(UpdateDescription.AgreementText, nullptr);
  EXPECT_EQ(UpdateDescription.AgreementTitle, nullptr);
  // Off after the required keys: nothing reported the absent optional ones.
  EXPECT_EQ(ReportMissingKeys, 0);
}

TEST_F(StartupTest, CaptionForms) {
  struct Case {
    const char* lines;
    std::string caption;
  };
  const Case cases[] = {
      {"UpdaterVersion=1.05\r\n", std::string(kTestGameTitle) + " アップデータ 1.05"},
      {"", kDefaultCaption},  // the trailing blank stays
      {"UpdaterTitle=特別版 100%s\r\nUpdaterVersion=2\r\n", "特別版 100%s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    Restart();
    StartupEnv env(Root());
    env.setupLines += c.lines;
    env.Install();
    CancelWizard();
    EXPECT_EQ(Run(env), 0);
    EXPECT_EQ(std::string(WindowCaption), c.caption);
    EXPECT_EQ(HostDialog().title, c.caption);
    EXPECT_EQ(Boxes(), std::vector<Box>{Interrupted(c.caption)});
  }
}

// The not-installed message comes before SETUP.INI and names UPDATE.INI's
// title; once SETUP.INI is loaded its title is the game's.
TEST_F(StartupTest, TitlesOfUpdateIniBeforeAndOfSetupIniAfterTheLoad) {
  StartupEnv env(Root());
  env.setupLines = WithoutLine(env.setupLines, "GameTitle") + "GameTitle=旧タイトル\r\n";
  env.Install();
  HostRegistryReset();
  EXPECT_EQ(Run(env), 0);
  EXPECT_EQ(Boxes(), std::vector<Box>{Error("「旧タイトル」がインストールされていません")});

  HostResetMessageBoxes();
  env.InstallRegistry();
  HostAddWindow(kTestGameClass, kTestGameTitle);
  HostAddWindow(kTestGameClass, "旧タイトル");
  HostQueueMessageBoxAnswer(kIdCancel);
  EXPECT_EQ(Run(env), 0);
  EXPECT_EQ(std::string(WindowCaption), kDefaultCaption);
  EXPECT_EQ(Boxes(), std::vector<Box>{GameRunning(kTestGameTitle)});
}

// ---------------------------------------------------------------------------
// The temporary UPDATE.INI.

TEST_F(StartupTest, UpdateIniIsAPrivateTemporaryFileDeletedAfterwards) {
  StartupEnv env(Root());
  env.Install();
  // What another updater left or still uses in the same folder.
  ASSERT_TRUE(WriteTestFile(env.tempFolder + "UPDATE.INI", "other"));
  std::string path, content;
  HostSetDialogScript([&](WindowHandle dialog) {
    path = UpdateIniPath;
    ReadTestFile(path, &content);
    HostClick(dialog, kIdCancel);
  });
  EXPECT_EQ(Run(env, 0, {"UPDATE.INI"}), 0);
  ASSERT_EQ(path.compare(0, env.tempFolder.size() + 3, env.tempFolder + "UPD"), 0) << path;
  EXPECT_NE(path, env.tempFolder + "UPDATE.INI");
  EXPECT_EQ(path.substr(path.size() - 4), ".tmp");
  EXPECT_EQ(content, env.UpdateIniText());
  std::string other;
  ASSERT_TRUE(ReadTestFile(env.tempFolder + "UPDATE.INI", &other));
  EXPECT_EQ(other, "other");
  EXPECT_STREQ(UpdateIniPath, "");
}

TEST_F(StartupTest, LongestTemporaryFolderAndInstPathStillRun) {
  StartupEnv env(Root());
  env.tempFolder = FolderOfLength(Root(), 246, true);
  std::string install = FolderOfLength(Root() + "\\i", 249, false);
  env.installFolder = install.substr(0, install.size() - 1);  // 248 characters
  env.Install();
  FinishWizard();
  EXPECT_EQ(Run(env), 1);
  EXPECT_EQ(Boxes(), std::vector<Box>{});
  EXPECT_EQ(std::string(SetupIniPath), env.installFolder + "\\SETUP.INI");
}

// ---------------------------------------------------------------------------
// The registry.

class InstallRecordTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ResolveDynamicApi();
    strcpy(SetupDescription.CompanyName, "TestSoft");
    strcpy(SetupDescription.GameDir, "TestGame");
  }
};

TEST_F(InstallRecordTest, InstalledExactlyWithReadableInstPathAndInstMode) {
  const std::string full(259, 'p');  // fills 260 bytes with its terminator
  struct Case {
    const char* name;
    std::function<void()> values;
    int installed;
    std::string instPath;
    std::string dataPath;
    u32 instMode;
    u32 instAdd;
  };
  const Case cases[] = {
      {"no key", [] {}, 0, "", "", 0, 0},
      {"empty key", [] { HostRegistryCreateKey(kTestRegistryKey); }, 0, "", "", 0, 0},
      {"InstPath without InstMode",
       [] { HostRegistrySetString(kTestRegistryKey, "InstPath", "C:\\G"); }, 0, "C:\\G", "", 0, 0},
      {"InstMode without InstPath", [] { HostRegistrySetDword(kTestRegistryKey, "InstMode", 2); },
       0, "", "", 0, 0},
      {"InstPath and InstMode without DataPath",
       [] {
         HostRegistrySetString(kTestRegistryKey, "InstPath", "C:\\G");
         HostRegistrySetDword(kTestRegistryKey, "InstMode", 2);
       },
       1, "C:\\G", "", 2, 0},
      {"all four",
       [] {
         HostRegistrySetString(kTestRegistryKey, "InstPath", "C:\\G");
         HostRegistrySetString(kTestRegistryKey, "DataPath", "D:\\Save");
         HostRegistrySetDword(kTestRegistryKey, "InstMode", 3);
         HostRegistrySetDword(kTestRegistryKey, "InstAdd", 7);
       },
       1, "C:\\G", "D:\\Save", 3, 7},
      {"InstPath filling its buffer without terminator",
       [] {
         HostRegistrySetValue(kTestRegistryKey, "InstPath", kRegSz, std::string(260, 'p').data(),
                              260);
         HostRegistrySetDword(kTestRegistryKey, "InstMode", 1);
       },
       0, "", "", 0, 0},
      {"InstPath of 259 characters and terminator",
       [&full] {
         HostRegistrySetString(kTestRegistryKey, "InstPath", full.c_str());
         HostRegistrySetDword(kTestRegistryKey, "InstMode", 1);
       },
       1, full, "", 1, 0},
      {"InstPath longer than its buffer",
       [] {
         HostRegistrySetString(kTestRegistryKey, "InstPath", std::string(300, 'p').c_str());
         HostRegistrySetDword(kTestRegistryKey, "InstMode", 1);
       },
       0, "", "", 0, 0},
      {"DataPath filling its buffer without terminator",
       [] {
         HostRegistrySetString(kTestRegistryKey, "InstPath", "C:\\G");
         HostRegistrySetValue(kTestRegistryKey, "DataPath", kRegSz, std::string(260, 'd').data(),
                              260);
         HostRegistrySetDword(kTestRegistryKey, "InstMode", 1);
       },
       1, "C:\\G", "", 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostRegistryReset();
    memset(&InstallRecord, 0x55, sizeof InstallRecord);
    c.values();
    EXPECT_EQ(ReadInstallRecord(), c.installed);
    if (c.installed) {
      EXPECT_EQ(std::string(InstallRecord.InstPath), c.instPath);
      EXPECT_EQ(std::string(InstallRecord.DataPath), c.dataPath);
      EXPECT_EQ(InstallRecord.InstMode, c.instMode);
      EXPECT_EQ(InstallRecord.InstAdd, c.instAdd);
    }
    EXPECT_NE(memchr(InstallRecord.InstPath, 0, kPathSize), nullptr);
    EXPECT_NE(memchr(InstallRecord.DataPath, 0, kPathSize), nullptr);
    EXPECT_EQ(HostRegistryOpenKeys(), 0);
  }
  EXPECT_EQ(HostMessageBoxes().size(), 0u);
}

TEST_F(InstallRecordTest, EmptyRegistrySlotsMeanNotInstalledAndAreNeverCalled) {
  HostRegistrySetString(kTestRegistryKey, "InstPath", "C:\\G");
  HostRegistrySetDword(kTestRegistryKey, "InstMode", 1);
  for (const char* missing : {"RegOpenKeyExA", "RegQueryValueExA"}) {
    SCOPED_TRACE(missing);
    HostSetEntryPointMissing(missing, 1);
    ResetRunState();
    ResolveDynamicApi();
    EXPECT_EQ(ReadInstallRecord(), 0);
    EXPECT_EQ(HostRegistryOpenKeys(), 0);  // a key that opened was closed again
    HostSetEntryPointMissing(missing, 0);
  }
  ResetRunState();
  ResolveDynamicApi();
  EXPECT_EQ(ReadInstallRecord(), 1);
}

TEST_F(StartupTest, MissingRegistryLibraryIsReportedThenTheGameCountsAsNotInstalled) {
  StartupEnv env(Root());
  env.Install();
  HostSetLibraryMissing("ADVAPI32.DLL", 1);
  EXPECT_EQ(Run(env), 0);
  EXPECT_EQ(Boxes(), (std::vector<Box>{Error("ghLibADVAPI32dll"), Error("pfnRegOpenKeyEx"),
                                       Error("pfnRegQueryValueEx"), Error("pfnRegCloseKey"),
                                       Error(std::string("「") + kTestGameTitle +
                                             "」がインストールされていません")}));
}

TEST_F(StartupTest, MissingShellLibraryIsReportedAndStartUpGoesOn) {
  StartupEnv env(Root());
  env.Install();
  HostSetLibraryMissing("SHELL32.DLL", 1);
  CancelWizard();
  EXPECT_EQ(Run(env), 0);
  EXPECT_EQ(Boxes(), (std::vector<Box>{Error("ghLibSHELL32dll"), Error("pfnSHFileOperation"),
                                       Interrupted()}));
}

// ---------------------------------------------------------------------------
// The notice.

TEST(TranslateEscapes, OneByteBackslashNBecomesACarriageReturn) {
  const struct {
    const char* source;
    const char* expected;
  } cases[] = {
      {"first\\nsecond", "first\rsecond"},
      {"a\\\\nb", "a\\\rb"},              // doubled backslash: one stays
      {"\x83\x5Cn", "\x83\x5Cn"},          // trail byte 0x5C is no backslash
      {"\x83\x5C\\n", "\x83\x5C\r"},
      {"\\n\\n", "\r\r"},
      {"\\t\\N\\", "\\t\\N\\"},            // no other escape
      {"", ""},
      {"ab\x83", "ab\x83"},                // a lone lead byte at the end
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    char out[kTextSize];
    TranslateEscapes(c.source, out);
    EXPECT_STREQ(out, c.expected);
  }
}

TEST(TranslateEscapes, OverlongSourceIsCutAtACharacter) {
  std::string source = std::string(1022, 'x') + "テ" + std::string(500, 'y');
  char out[kTextSize + 16];
  memset(out, 0x7F, sizeof out);
  TranslateEscapes(source.c_str(), out);
  EXPECT_EQ(std::string(out), std::string(1022, 'x'));
  EXPECT_EQ(out[kTextSize], 0x7F);
}

TEST_F(StartupTest, NoticeIsShownTranslatedBeforeSetupIniIsLookedFor) {
  StartupEnv env(Root());
  env.setupLines += "UpdateMessage=一行目\\n二行目\\\\n終\r\n";
  env.Install();
  HostRegistrySetString(kTestRegistryKey, "InstPath", (env.installFolder + "x").c_str());
  EXPECT_EQ(Run(env), 0);
  EXPECT_EQ(Boxes(),
            (std::vector<Box>{Error("一行目\r二行目\\\r終"),
                              Error("インストール先に \"SETUP.INI\" ファイルが見つかりません")}));
}

// ---------------------------------------------------------------------------
// The single-instance and running-game tests.

TEST_F(StartupTest, SecondInstanceShowsTheNoticeThenBringsTheFirstForward) {
  StartupEnv env(Root());
  env.setupLines += "UpdateMessage=お知らせ\r\n";
  env.Install();
  HostAddWindow(kTestGameClass, kDefaultCaption.c_str());  // not a dialog: no match
  WindowHandle first = HostAddWindow("#32770", kDefaultCaption.c_str());
  EXPECT_EQ(Run(env), 0);
  EXPECT_EQ(Boxes(), std::vector<Box>{Error("お知らせ")});
  EXPECT_EQ(HostDialogsShown(), 0);
  ASSERT_EQ(HostWindowCalls().size(), 2u);
  EXPECT_EQ(HostWindowCalls()[0].window, first);
  EXPECT_STREQ(HostWindowCalls()[0].what, "show");
  EXPECT_EQ(HostWindowCalls()[0].command, kSwShow);
  EXPECT_EQ(HostWindowCalls()[1].window, first);
  EXPECT_STREQ(HostWindowCalls()[1].what, "foreground");
}

TEST_F(StartupTest, RunningGameIsAskedForUntilItClosesOrTheUserStops) {
  struct Case {
    const char* name;
    std::vector<int> answers;  // kIdOk keeps the game running unless closing
    bool closeOnSecondOk;
    size_t boxes;
    bool wizard;
  };
  const Case cases[] = {
      {"cancel", {kIdCancel}, false, 1, false},
      {"ok twice then cancel", {kIdOk, kIdOk, kIdCancel}, false, 3, false},
      {"ok after closing the game", {kIdOk, kIdOk}, true, 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    StartupEnv env(Root());
    env.Install();
    HostAddWindow(kTestGameClass, "別のウィンドウ");
    HostAddWindow("OtherClass", kTestGameTitle);
    WindowHandle game = HostAddWindow(kTestGameClass, kTestGameTitle);
    for (size_t i = 0; i < c.answers.size(); ++i) {
      const bool close = c.closeOnSecondOk && i == 1;
      HostQueueMessageBoxAnswer(c.answers[i], [close, game] {
        if (close) HostRemoveWindow(game);
      });
    }
    CancelWizard();
    EXPECT_EQ(Run(env), 0);
    std::vector<Box> expected(c.boxes, GameRunning(kTestGameTitle));
    if (c.wizard) expected.push_back(Interrupted());
    EXPECT_EQ(Boxes(), expected);
    EXPECT_EQ(HostDialogsShown(), c.wizard ? 1 : 0);
    if (!c.wizard) {
      ASSERT_EQ(HostWindowCalls().size(), 2u);
      EXPECT_EQ(HostWindowCalls()[0].window, game);
      EXPECT_EQ(HostWindowCalls()[0].command, kSwShow);
      EXPECT_STREQ(HostWindowCalls()[1].what, "foreground");
    }
  }
}

TEST_F(StartupTest, SecondGameTitleIsSearchedAfterTheFirstOnly) {
  StartupEnv env(Root());
  env.setupLines += "GameTitleA=テストゲーム体験版\r\n";
  env.Install();
  WindowHandle second = HostAddWindow(kTestGameClass, "テストゲーム体験版");
  // While the second is asked for, the first title starts running again: it
  // is not searched a second time.
  HostQueueMessageBoxAnswer(kIdOk, [second] {
    HostRemoveWindow(second);
    HostAddWindow(kTestGameClass, kTestGameTitle);
  });
  CancelWizard();
  EXPECT_EQ(Run(env), 0);
  EXPECT_EQ(Boxes(), (std::vector<Box>{GameRunning("テストゲーム体験版"), Interrupted()}));
}

}  // namespace
