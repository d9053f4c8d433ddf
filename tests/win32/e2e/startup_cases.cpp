// The updater from its start to the wizard, and the wizard's pages up to the
// update step, run for real under Wine.
#include "e2e/harness.h"

namespace e2e {
namespace {

constexpr const char* kOpeningText = "「テストゲーム」のアップデートを開始します";
constexpr const char* kReadyText = "アップデートを実行します";
constexpr const char* kAgreement =
    "使用許諾契約書\r\n"
    "\r\n"
    "第一条　本ソフトウェアの著作権は著作者に帰属します。\r\n"
    "第二条　ソフトウェアの表示・能力について保証はありません。\r\n";

std::string RunningText(const std::string& title) {
  return "「" + title +
         "」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] "
         "を、アップデートを中止する場合は [キャンセル] を押して下さい";
}

using Startup = UpdaterCase;
using WizardPages = UpdaterCase;

TEST_F(Startup, MissingOrEmptyRequiredKeyIsReportedUnderInstcmmn) {
  InstallGame();
  struct {
    const char* key;
    bool empty;  // present with nothing after "=", else absent
  } cases[] = {{"CompanyName", false}, {"GameClass", false}, {"GameDir", false}, {"GameTitle", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    Ini ini = StandardUpdateIni();
    if (c.empty) {
      ini.Set("SETUP", c.key, "");
    } else {
      ini.Remove("SETUP", c.key);
    }
    Process& updater = Launch(ini);
    AnswerBox(updater, "INSTCMMN", std::string("SETUP : ") + c.key + " キーが存在しません");
    ExpectExit(updater, 0);
  }
}

TEST_F(Startup, GameNotInstalledNamesTheUpdateIniTitle) {
  WriteSetupIni(StandardSetupIni());
  Ini ini = StandardUpdateIni().Set("SETUP", "GameTitle", "旧タイトル");

  // No key at all.
  Process& first = Launch(ini);
  AnswerBox(first, "UPDATE", "「旧タイトル」がインストールされていません");
  ExpectExit(first, 0);

  // A key with InstPath but without InstMode does not count either.
  InstallValues values;
  values.instPath = installDir();
  values.hasInstMode = false;
  Register(values);
  Process& second = Launch(ini);
  AnswerBox(second, "UPDATE", "「旧タイトル」がインストールされていません");
  ExpectExit(second, 0);
}

TEST_F(Startup, MissingSetupIniInTheInstallation) {
  Register();
  Process& updater = Launch(StandardUpdateIni());
  AnswerBox(updater, "UPDATE", "インストール先に \"SETUP.INI\" ファイルが見つかりません");
  ExpectExit(updater, 0);
}

TEST_F(Startup, NoticeTurnsBackslashNIntoCarriageReturnThenWizardFollows) {
  InstallGame();
  Ini ini = StandardUpdateIni().Set("SETUP", "UpdateMessage",
                                    "お知らせ：\\n本アップデートは体験版用です。\\\\n終わり");
  Process& updater = Launch(ini);
  // Shown before SETUP.INI is read: still the caption "UPDATE". The doubled
  // backslash keeps one backslash in front of the line break.
  AnswerBox(updater, "UPDATE", "お知らせ：\r本アップデートは体験版用です。\\\r終わり");
  Wizard wizard = WaitForWizard(updater, kCaption);
  CancelAndExpectInterrupted(updater, wizard);
}

TEST_F(Startup, SecondInstanceBringsTheFirstForwardAndEnds) {
  InstallGame();
  std::string exe = MakeUpdater(StandardUpdateIni());
  Process& first = Start(exe);
  Wizard wizard = WaitForWizard(first, kCaption);
  ShowWindow(wizard.handle(), SW_HIDE);
  ASSERT_TRUE(Eventually([&] { return !IsWindowVisible(wizard.handle()); }));

  Process& second = Start(exe);
  ExpectExit(second, 0);
  EXPECT_TRUE(IsWindowVisible(wizard.handle())) << "the first wizard was not shown again";
  EXPECT_TEXT(wizard.Info(), kOpeningText);

  CancelAndExpectInterrupted(first, wizard);
}

TEST_F(Startup, GameRunningAndCancelledShowsTheGame) {
  InstallGame();
  GameWindow game(kGameClass, kGameTitle);
  Process& updater = Launch(StandardUpdateIni());
  MsgBox box = WaitForBox(updater, kCaption);
  EXPECT_TEXT(box.Text(), RunningText(kGameTitle));
  EXPECT_TRUE(box.HasButton(IDOK));
  EXPECT_TRUE(box.HasButton(IDCANCEL));
  box.Press(IDCANCEL);
  ExpectExit(updater, 0);
  EXPECT_TRUE(game.Visible()) << "the game's window was not shown";
}

TEST_F(Startup, GameRunningAsksAgainUntilItIsClosed) {
  InstallGame();
  GameWindow game(kGameClass, kGameTitle);
  Process& updater = Launch(StandardUpdateIni());
  MsgBox box = WaitForBox(updater, kCaption);
  EXPECT_TEXT(box.Text(), RunningText(kGameTitle));
  box.Press(IDOK);
  // Still running: the same question again.
  ASSERT_TRUE(Eventually([&] { return !IsWindow(box.handle()); }));
  MsgBox again = WaitForBox(updater, kCaption);
  EXPECT_TEXT(again.Text(), RunningText(kGameTitle));
  game.Close();
  again.Press(IDOK);
  Wizard wizard = WaitForWizard(updater, kCaption);
  EXPECT_TEXT(wizard.Info(), kOpeningText);
  CancelAndExpectInterrupted(updater, wizard);
}

TEST_F(Startup, GameRunningUnderItsSecondTitle) {
  InstallGame();
  // ソ and 表 end in the byte 0x5C, the backslash code.
  const std::string second = "テストゲーム ソフト表示版";
  GameWindow game(kGameClass, second);
  Process& updater = Launch(StandardUpdateIni().Set("SETUP", "GameTitleA", second));
  AnswerBox(updater, kCaption, RunningText(second), IDCANCEL);
  ExpectExit(updater, 0);
  EXPECT_TRUE(game.Visible()) << "the game's window was not shown";
}

TEST_F(Startup, CaptionAndTextsComeFromSetupIni) {
  Register();
  WriteSetupIni(StandardSetupIni().Set("SETUP", "GameTitle", "新タイトル"));
  Ini ini = StandardUpdateIni().Set("SETUP", "UpdaterVersion", "");
  Process& updater = Launch(ini);
  // An empty version keeps the blank after the word.
  Wizard wizard = WaitForWizard(updater, "新タイトル アップデータ ");
  EXPECT_TEXT(wizard.Info(), "「新タイトル」のアップデートを開始します");
  CancelAndExpectInterrupted(updater, wizard);
}

TEST_F(WizardPages, OpeningPageWithoutAgreementCancelled) {
  InstallGame();
  Process& updater = Launch(StandardUpdateIni());
  Wizard wizard = WaitForWizard(updater, kCaption);
  EXPECT_TEXT(wizard.Info(), kOpeningText);
  EXPECT_TEXT(wizard.Text(Wizard::kNext), "次へ");
  EXPECT_TEXT(wizard.Text(Wizard::kCancel), "中止");
  EXPECT_TEXT(wizard.Text(Wizard::kBack), "戻る");
  EXPECT_TRUE(wizard.Enabled(Wizard::kNext));
  EXPECT_FALSE(wizard.Enabled(Wizard::kBack));
  EXPECT_TRUE(wizard.Enabled(Wizard::kCancel));
  // Template 100: no agreement controls at all.
  EXPECT_FALSE(wizard.Exists(Wizard::kAgreement));
  EXPECT_FALSE(wizard.Exists(Wizard::kAgree));
  EXPECT_FALSE(wizard.Exists(Wizard::kDisagree));
  CancelAndExpectInterrupted(updater, wizard);
}

TEST_F(WizardPages, ReadyPageCancelled) {
  InstallGame();
  Process& updater = Launch(StandardUpdateIni());
  Wizard wizard = OpenReadyPage(updater);
  EXPECT_TRUE(wizard.Enabled(Wizard::kNext));
  EXPECT_FALSE(wizard.Enabled(Wizard::kBack));
  EXPECT_TRUE(wizard.Enabled(Wizard::kCancel));
  CancelAndExpectInterrupted(updater, wizard);
}

TEST_F(WizardPages, AgreementMustBeAcceptedBeforeNext) {
  InstallGame();
  Process& updater =
      Launch(StandardUpdateIni().Set("SETUP", "AgreementText", "AGREE.TXT"),
             {{"AGREE.TXT", kAgreement}});
  Wizard wizard = WaitForWizard(updater, kCaption);
  EXPECT_TEXT(wizard.Info(), kOpeningText);
  EXPECT_TEXT(wizard.Text(Wizard::kAgreement), kAgreement);
  EXPECT_TEXT(wizard.Text(Wizard::kAgree), "同意する");
  EXPECT_TEXT(wizard.Text(Wizard::kDisagree), "同意しない");
  EXPECT_TRUE(wizard.Visible(Wizard::kAgreement));
  EXPECT_TRUE(wizard.Visible(Wizard::kAgree));
  EXPECT_TRUE(wizard.Visible(Wizard::kDisagree));
  EXPECT_FALSE(wizard.Enabled(Wizard::kNext)) << wizard.Describe();
  EXPECT_FALSE(wizard.Enabled(Wizard::kBack));
  EXPECT_TRUE(wizard.Enabled(Wizard::kCancel));
  EXPECT_TRUE(wizard.Checked(Wizard::kDisagree));
  EXPECT_FALSE(wizard.Checked(Wizard::kAgree));

  wizard.Press(Wizard::kAgree);
  EXPECT_TRUE(wizard.Enabled(Wizard::kNext)) << wizard.Describe();
  EXPECT_TRUE(wizard.Checked(Wizard::kAgree));
  EXPECT_FALSE(wizard.Checked(Wizard::kDisagree));

  wizard.Press(Wizard::kDisagree);
  EXPECT_FALSE(wizard.Enabled(Wizard::kNext)) << wizard.Describe();
  EXPECT_TRUE(wizard.Checked(Wizard::kDisagree));

  wizard.Press(Wizard::kAgree);
  wizard.Press(Wizard::kNext);
  wizard.WaitInfo(kReadyText);
  // The agreement leaves the dialog with the opening page.
  EXPECT_FALSE(wizard.Visible(Wizard::kAgreement));
  EXPECT_FALSE(wizard.Visible(Wizard::kAgree));
  EXPECT_FALSE(wizard.Visible(Wizard::kDisagree));
  EXPECT_TRUE(wizard.Enabled(Wizard::kNext));
  EXPECT_FALSE(wizard.Enabled(Wizard::kBack));
  CancelAndExpectInterrupted(updater, wizard);
}

TEST_F(WizardPages, AgreementTitleAloneIsTheOpeningText) {
  InstallGame();
  const std::string title = "以下の内容をお読みください。";
  Process& updater = Launch(StandardUpdateIni().Set("SETUP", "AgreementTitle", "TITLE.TXT"),
                            {{"TITLE.TXT", title}});
  Wizard wizard = WaitForWizard(updater, kCaption);
  EXPECT_TEXT(wizard.Info(), title);
  EXPECT_TRUE(wizard.Enabled(Wizard::kNext));
  EXPECT_FALSE(wizard.Exists(Wizard::kAgreement)) << "template 101 without an agreement text";
  CancelAndExpectInterrupted(updater, wizard);
}

TEST_F(WizardPages, InstallModeUsesTheUpdaterTitle) {
  InstallGame();
  Ini ini = StandardUpdateIni()
                .Set("SETUP", "ModeTextUpdateOrInstall", "1")
                .Set("SETUP", "UpdaterTitle", "追加ディスク インストーラ");
  Process& updater = Launch(ini);
  Wizard wizard = WaitForWizard(updater, "追加ディスク インストーラ");
  EXPECT_TEXT(wizard.Info(), "「追加ディスク インストーラ」のインストールを開始します");
  wizard.Press(Wizard::kNext);
  wizard.WaitInfo("インストールを実行します");
  CancelAndExpectInterrupted(updater, wizard);
}

TEST_F(WizardPages, FinishedUpdateExitsWithOne) {
  InstallGame();
  Process& updater = Launch(StandardUpdateIni(), {{"GAME.DAT", "version 2"}});
  Wizard wizard = OpenReadyPage(updater);
  RunToFinish(updater, wizard);
  std::string placed;
  EXPECT_TRUE(ReadBytes(installDir() + "\\GAME.DAT", &placed));
  EXPECT_EQ(placed, "version 2");
}

}  // namespace
}  // namespace e2e
