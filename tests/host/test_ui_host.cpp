// The simulated dialog manager that the wizard's tests stand on: it must
// answer the way the real one does where the updater depends on it.
#include <functional>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "support/host_env.h"
#include "sim/sim.h"

namespace {

std::vector<u32> received;

intptr_t PLATFORM_CALL RecordingProc(WindowHandle, u32 message, uintptr_t, intptr_t) {
  received.push_back(message);
  return 0;
}

intptr_t PLATFORM_CALL EndsAtInitProc(WindowHandle dialog, u32 message, uintptr_t, intptr_t) {
  received.push_back(message);
  if (message == kWmInitDialog) OsEndDialog(dialog, 7);
  return 0;
}

class UiHostTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    received.clear();
  }
};

TEST_F(UiHostTest, DialogResultComesFromTheLastEndOrIsMinusOne) {
  struct Case {
    const char* name;
    std::function<void(WindowHandle)> script;
    intptr_t result;
    int leftOpen;
  };
  const Case cases[] = {
      {"no end", [](WindowHandle) {}, -1, 1},
      {"end 0", [](WindowHandle d) { OsEndDialog(d, 0); }, 0, 0},
      {"last end wins",
       [](WindowHandle d) {
         OsEndDialog(d, -1);
         OsEndDialog(d, 3);
       },
       3, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostSetDialogScript(c.script);
    EXPECT_EQ(OsDialogBox(HostModule(), 100, nullptr, RecordingProc, 5), c.result);
    EXPECT_EQ(HostDialog().leftOpen, c.leftOpen);
    EXPECT_EQ(HostDialog().param, 5);
  }
  // Once the dialog is over, nothing reaches its procedure.
  received.clear();
  EXPECT_EQ(HostClick(HostDialog().window, 1), 0);
  EXPECT_EQ(HostSendMessage(HostDialog().window, kWmCommand, 1, 0), 0);
  EXPECT_TRUE(received.empty());
}

TEST_F(UiHostTest, DialogsThatCannotBeCreatedRunNothing) {
  int scripts = 0;
  HostSetDialogScript([&scripts](WindowHandle) { ++scripts; });
  EXPECT_EQ(OsDialogBox(nullptr, 100, nullptr, RecordingProc, 0), -1);  // another module
  EXPECT_EQ(OsDialogBox(HostModule(), 102, nullptr, RecordingProc, 0), -1);
  HostFailNextDialog();
  EXPECT_EQ(OsDialogBox(HostModule(), 100, nullptr, RecordingProc, 0), -1);
  EXPECT_EQ(HostDialogsShown(), 0);
  EXPECT_EQ(scripts, 0);
  EXPECT_TRUE(received.empty());
  // An end during initialisation closes the dialog before the user sees it.
  EXPECT_EQ(OsDialogBox(HostModule(), 101, nullptr, EndsAtInitProc, 0), 7);
  EXPECT_EQ(scripts, 0);
  EXPECT_EQ(received, std::vector<u32>{kWmInitDialog});
}

// A press reaches the procedure only on an enabled, visible button, as the
// wizard's agreement guard relies on.
TEST_F(UiHostTest, ClicksReachOnlyEnabledVisibleButtons) {
  std::vector<int> delivered;
  HostSetDialogScript([&delivered](WindowHandle d) {
    OsEnableWindow(OsGetDlgItem(d, 4), 0);
    OsShowWindow(OsGetDlgItem(d, 2), kSwHide);
    for (int id : {4, 2, 1000, 1}) delivered.push_back(HostClick(d, id));
  });
  OsDialogBox(HostModule(), 100, nullptr, RecordingProc, 0);
  EXPECT_EQ(delivered, (std::vector<int>{0, 0, 0, 1}));  // template 100 has no 1000
  EXPECT_EQ(received, (std::vector<u32>{kWmInitDialog, kWmCommand}));
  EXPECT_TRUE(HostWindowCalls().empty());  // controls are no top-level windows
}

TEST_F(UiHostTest, FindWindowMatchesLikeTheSystem) {
  WindowHandle game = HostAddWindow("GameClass", "Game Title");
  EXPECT_EQ(OsFindWindow("gameclass", "GAME TITLE"), game);
  EXPECT_EQ(OsFindWindow("GameClass", nullptr), game);
  EXPECT_EQ(OsFindWindow("GameClass", "Game"), nullptr);
  EXPECT_EQ(OsFindWindow("#32770", "Game Title"), nullptr);
  // The dialog being shown is a "#32770" window with its current title.
  WindowHandle found = nullptr;
  HostSetDialogScript([&found](WindowHandle d) {
    OsSetWindowText(d, "ゲーム アップデータ");
    found = OsFindWindow("#32770", "ゲーム アップデータ");
    OsEndDialog(d, 0);
  });
  OsDialogBox(HostModule(), 100, nullptr, RecordingProc, 0);
  EXPECT_EQ(found, HostDialog().window);
  EXPECT_EQ(OsFindWindow("#32770", "ゲーム アップデータ"), nullptr);  // ended
  HostRemoveWindow(game);
  EXPECT_EQ(OsFindWindow("GameClass", nullptr), nullptr);
}

}  // namespace
