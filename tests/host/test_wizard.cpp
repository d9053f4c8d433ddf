// The wizard under the simulated dialog manager: its pages, the agreement
// guard, the busy flag against commands from nested message loops, and its
// information text.
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/run_state.h"
#include "flow/startup.h"
#include "flow/wizard.h"
#include "platform/messagebox.h"
#include "platform/ui.h"
#include "settings/settings.h"
#include "settings/setup_description.h"
#include "support/host_env.h"
#include "support/scratch.h"
#include "sim/sim.h"

namespace {

class WizardTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    strcpy(SetupDescription.GameTitle, "テストゲーム");
    strcpy(UpdateDescription.UpdaterTitle, "テストアップデータ");
    UpdateDescription.ModeWord = "アップデート";
    strcpy(WindowCaption, "テストゲーム アップデータ 1.0");
  }
  intptr_t Open(int templateId, std::function<void(WindowHandle)> script) {
    HostSetDialogScript(std::move(script));
    return OsDialogBox(HostModule(), templateId, nullptr, WizardProc, 0);
  }
};

const HostControl& Control(int id) { return *HostDialogControl(id); }
std::string Info() { return Control(kIdInfo).text; }

// What the user can see and press, with the page state.
struct Page {
  int page;
  int busy;
  std::string info;
  int next, back, cancel;  // enabled
  bool operator==(const Page& o) const {
    return page == o.page && busy == o.busy && info == o.info && next == o.next &&
           back == o.back && cancel == o.cancel;
  }
};
void PrintTo(const Page& p, std::ostream* out) {
  *out << "{page " << p.page << ", busy " << p.busy << ", \"" << p.info << "\", next " << p.next
       << ", back " << p.back << ", cancel " << p.cancel << "}";
}
Page Now() {
  return Page{WizardPage, WizardBusy, Info(), Control(kIdNext).enabled, Control(kIdBack).enabled,
              Control(kIdCancel).enabled};
}

const std::string kIntro = "「テストゲーム」のアップデートを開始します";
const std::string kReady = "アップデートを実行します";
// The update step writes texts of its own.
const std::string kAnyInfo = "\x01any";

TEST_F(WizardTest, OpeningPageTexts) {
  struct Case {
    const char* name;
    int install;
    const char* modeWord;
    const char* updaterTitle;
    const char* agreementTitle;
    std::string info;
  };
  const Case cases[] = {
      {"update mode names the game", 0, "アップデート", "テストアップデータ", nullptr, kIntro},
      {"install mode names the updater", 1, "インストール", "テストアップデータ", nullptr,
       "「テストアップデータ」のインストールを開始します"},
      {"install mode without updater title", 1, "インストール", "", nullptr,
       "「」のインストールを開始します"},
      {"agreement title as it stands", 0, "アップデート", "", "ご利用の前に\r必ずお読み下さい",
       "ご利用の前に\r必ずお読み下さい"},
      {"agreement title is no format", 0, "アップデート", "", "100%s %d %%", "100%s %d %%"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateDescription.ModeIsInstall = c.install;
    UpdateDescription.ModeWord = c.modeWord;
    strcpy(UpdateDescription.UpdaterTitle, c.updaterTitle);
    UpdateDescription.AgreementTitle = c.agreementTitle;
    WizardPage = 5;
    WizardBusy = 1;
    WindowHandle shown = nullptr;
    Page opening{};
    EXPECT_EQ(Open(kTemplateWizard,
                   [&](WindowHandle dialog) {
                     shown = WizardWindow;
                     opening = Now();
                     HostClick(dialog, kIdCancel);
                   }),
              -1);
    EXPECT_EQ(shown, HostDialog().window);
    EXPECT_EQ(opening, (Page{0, 0, c.info, 1, 0, 1}));
    EXPECT_EQ(HostDialog().title, "テストゲーム アップデータ 1.0");
    EXPECT_EQ(HostDialog().focus, nullptr);  // WM_INITDIALOG answered false
    EXPECT_EQ(HostDialogControl(kIdAgreementBox), nullptr);
  }
  UpdateDescription.AgreementTitle = nullptr;
}

TEST_F(WizardTest, AgreementKeepsNextDisabledUntilAgreed) {
  UpdateDescription.AgreementText = "第1条 本ソフトウェアは";
  std::vector<Page> pages;
  std::vector<int> delivered;
  auto checked = [] { return Control(kIdAgree).checked * 10 + Control(kIdDisagree).checked; };
  std::vector<int> choices;
  EXPECT_EQ(Open(kTemplateWizardAgreement,
                 [&](WindowHandle dialog) {
                   EXPECT_EQ(Control(kIdAgreementBox).text, "第1条 本ソフトウェアは");
                   for (int id : {kIdAgreementBox, kIdAgree, kIdDisagree}) {
                     EXPECT_TRUE(Control(id).visible) << id;
                     EXPECT_TRUE(Control(id).enabled) << id;
                   }
                   pages.push_back(Now());
                   choices.push_back(checked());
                   delivered.push_back(HostClick(dialog, kIdNext));
                   delivered.push_back(HostClick(dialog, kIdAgree));
                   pages.push_back(Now());
                   choices.push_back(checked());
                   delivered.push_back(HostClick(dialog, kIdDisagree));
                   pages.push_back(Now());
                   choices.push_back(checked());
                   delivered.push_back(HostClick(dialog, kIdNext));
                   HostClick(dialog, kIdAgree);
                   delivered.push_back(HostClick(dialog, kIdNext));
                   pages.push_back(Now());
                   for (int id : {kIdAgreementBox, kIdAgree, kIdDisagree})
                     EXPECT_FALSE(Control(id).visible) << id;
                   HostClick(dialog, kIdCancel);
                 }),
            -1);
  UpdateDescription.AgreementText = nullptr;
  EXPECT_EQ(delivered, (std::vector<int>{0, 1, 1, 0, 1}));
  EXPECT_EQ(choices, (std::vector<int>{1, 10, 1}));
  EXPECT_EQ(pages, (std::vector<Page>{Page{0, 0, kIntro, 0, 0, 1}, Page{0, 0, kIntro, 1, 0, 1},
                                      Page{0, 0, kIntro, 0, 0, 1}, Page{1, 0, kReady, 1, 0, 1}}));
}

// The update step as Part of the page walk is replaced here by its two
// outcomes that leave the dialog open: a disk-space shortage (Back and Cancel
// usable) and completion (Next reads "完了").
void AfterShortage(WindowHandle dialog) {
  WizardPage = 2;
  SetInfoText(dialog, "ディスク容量が足りません");
  OsEnableWindow(OsGetDlgItem(dialog, kIdBack), 1);
  OsEnableWindow(OsGetDlgItem(dialog, kIdNext), 0);
}
void AfterCompletion(WindowHandle dialog) {
  WizardPage = 2;
  OsEnableWindow(OsGetDlgItem(dialog, kIdBack), 0);
  OsEnableWindow(OsGetDlgItem(dialog, kIdCancel), 0);
}

TEST_F(WizardTest, PageWalks) {
  using Step = std::function<void(WindowHandle)>;
  auto click = [](int id) { return Step([id](WindowHandle d) { HostClick(d, id); }); };
  // The close box delivers Cancel even while the button is disabled.
  const Step closeBox = [](WindowHandle d) { HostSendMessage(d, kWmCommand, kIdCancel, 0); };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<int> pages;  // WizardPage after each step
    intptr_t result;
    std::string info;  // after the last step
  };
  const Case cases[] = {
      {"cancel on the opening page", {click(kIdCancel)}, {0}, -1, kIntro},
      {"cancel on the ready page", {click(kIdNext), click(kIdCancel)}, {1, 1}, -1, kReady},
      {"back is disabled on the first two pages",
       {click(kIdBack), click(kIdNext), click(kIdBack), click(kIdCancel)},
       {0, 1, 1, 1},
       -1,
       kReady},
      {"next on the ready page runs the update step",
       {click(kIdNext), click(kIdNext)},
       {1, 2},
       -1,
       kAnyInfo},
      {"back after a shortage shows the ready page again",
       {click(kIdNext), AfterShortage, click(kIdBack), click(kIdCancel)},
       {1, 2, 1, 1},
       -1,
       kReady},
      {"next on the last page finishes",
       {click(kIdNext), AfterCompletion, click(kIdNext)},
       {1, 2, 3},
       0,
       ""},
      {"a cancel that still arrives on the last page",
       {click(kIdNext), AfterCompletion, click(kIdCancel), closeBox},
       {1, 2, 2, 2},
       -1,
       kReady},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int> pages, busy;
    std::vector<int> ready;  // Next enabled, Back disabled after a Back
    const intptr_t result = Open(kTemplateWizard, [&](WindowHandle dialog) {
      for (const Step& step : c.steps) {
        step(dialog);
        pages.push_back(WizardPage);
        busy.push_back(WizardBusy);
      }
    });
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(pages, c.pages);
    EXPECT_EQ(busy, std::vector<int>(c.steps.size(), 0));
    EXPECT_FALSE(HostDialog().leftOpen);
    if (c.info != kAnyInfo) {
      EXPECT_EQ(Info(), c.info);
    }
  }
}

TEST_F(WizardTest, BackAfterShortageEnablesNextAndDisablesBack) {
  Page ready{};
  Open(kTemplateWizard, [&](WindowHandle dialog) {
    HostClick(dialog, kIdNext);
    AfterShortage(dialog);
    HostClick(dialog, kIdBack);
    ready = Now();
    HostClick(dialog, kIdCancel);
  });
  EXPECT_EQ(ready, (Page{1, 0, kReady, 1, 0, 1}));
}

TEST_F(WizardTest, BusyWizardIgnoresCommandsAndShowsTheWaitCursor) {
  std::vector<intptr_t> answers;
  Page during{};
  int ended = -1;
  CursorShape busyCursor = kCursorArrow, idleCursor = kCursorWait;
  Open(kTemplateWizard, [&](WindowHandle dialog) {
    HostClick(dialog, kIdNext);
    WizardBusy = 1;
    for (int id : {(int)kIdNext, (int)kIdBack, (int)kIdCancel})
      answers.push_back(HostSendMessage(dialog, kWmCommand, (uintptr_t)id, 0));
    during = Now();
    ended = HostDialog().ended;
    answers.push_back(HostSendMessage(dialog, kWmSetCursor, (uintptr_t)dialog, 0));
    busyCursor = HostCurrentCursor();
    WizardBusy = 0;
    OsSetCursor(kCursorArrow);
    answers.push_back(HostSendMessage(dialog, kWmSetCursor, (uintptr_t)dialog, 0));
    idleCursor = HostCurrentCursor();
    HostClick(dialog, kIdCancel);
  });
  EXPECT_EQ(answers, (std::vector<intptr_t>{0, 0, 0, 1, 0}));
  EXPECT_EQ(during, (Page{1, 1, kReady, 1, 0, 1}));
  EXPECT_EQ(ended, 0);
  EXPECT_EQ(busyCursor, kCursorWait);
  EXPECT_EQ(idleCursor, kCursorArrow);
}

TEST_F(WizardTest, OnlyButtonClicksAreCommands) {
  Page after{};
  std::vector<intptr_t> answers;
  Open(kTemplateWizard, [&](WindowHandle dialog) {
    const uintptr_t focusNotification = (uintptr_t)6 << 16;
    answers.push_back(HostSendMessage(dialog, kWmCommand, focusNotification | kIdNext, 0));
    answers.push_back(HostSendMessage(dialog, kWmCommand, focusNotification | kIdCancel, 0));
    answers.push_back(HostSendMessage(dialog, kWmCommand, kIdInfo, 0));
    answers.push_back(HostSendMessage(dialog, 0x0200 /* WM_MOUSEMOVE */, 0, 0));
    after = Now();
    HostClick(dialog, kIdCancel);
  });
  EXPECT_EQ(answers, (std::vector<intptr_t>{0, 0, 0, 0}));
  EXPECT_EQ(after, (Page{0, 0, kIntro, 1, 0, 1}));
  EXPECT_EQ(HostDialog().result, -1);
}

// The update step shows a message box (a nested message loop) while the
// wizard is busy; a Next, Back or Cancel delivered from it does nothing.
TEST_F(WizardTest, CommandsFromANestedMessageLoopDoNothing) {
  const std::string ini = At("UPDATE.INI");
  ASSERT_TRUE(WriteTestFile(ini, "[UPDATE]\r\n"));  // nothing to update: an error box
  strcpy(UpdateIniPath, ini.c_str());
  ReportMissingKeys = 0;
  Page during{}, afterCommands{};
  int endedDuring = -1;
  intptr_t cursorAnswer = -1;
  HostQueueMessageBoxAnswer(kIdOk, [&] {
    WindowHandle dialog = HostDialog().window;
    during = Now();
    for (int id : {(int)kIdNext, (int)kIdBack, (int)kIdCancel})
      HostSendMessage(dialog, kWmCommand, id, 0);
    afterCommands = Now();
    endedDuring = HostDialog().ended;
    cursorAnswer = HostSendMessage(dialog, kWmSetCursor, (uintptr_t)dialog, 0);
  });
  const intptr_t result = Open(kTemplateWizard, [](WindowHandle dialog) {
    HostClick(dialog, kIdNext);
    HostClick(dialog, kIdNext);
  });
  ASSERT_EQ(HostMessageBoxes().size(), 1u);
  EXPECT_EQ(HostMessageBoxes()[0].owner, HostDialog().window);
  EXPECT_EQ(during.page, 1);
  EXPECT_EQ(during.busy, 1);
  EXPECT_EQ(afterCommands, during);
  EXPECT_EQ(endedDuring, 0);
  EXPECT_EQ(cursorAnswer, 1);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(WizardPage, 2);
  EXPECT_EQ(WizardBusy, 0);
}

TEST_F(WizardTest, InformationTextIsFormattedAndCutAtACharacter) {
  struct Case {
    std::string argument;
    std::string shown;
  };
  const Case cases[] = {
      {"短い", "[短い:7]"},
      {std::string(1500, 'x'), "[" + std::string(1022, 'x')},
      {std::string(1020, 'x') + "テ", "[" + std::string(1020, 'x') + "テ"},  // 1023 bytes
      {std::string(1021, 'x') + "テ", "[" + std::string(1021, 'x')},         // lead byte cut off
  };
  std::vector<std::string> shown;
  Open(kTemplateWizard, [&](WindowHandle dialog) {
    for (const Case& c : cases) {
      SetInfoText(dialog, "[%s:%d]", c.argument.c_str(), 7);
      shown.push_back(Info());
    }
    HostClick(dialog, kIdCancel);
  });
  ASSERT_EQ(shown.size(), 4u);
  for (size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(shown[i], cases[i].shown) << i;
}

}  // namespace
