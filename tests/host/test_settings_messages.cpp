// The settings messages on the host build: their exact texts, the caption
// "INSTCMMN", the owner, and the missing-key switch over a load.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "runtime/run_state.h"
#include "platform/messagebox.h"
#include "settings/settings.h"
#include "settings/setup_description.h"
#include "support/host_env.h"
#include "support/setup_ini.h"
#include "sim/sim.h"

namespace {

void ExpectBoxes(const char* text, WindowHandle owner) {
  const auto& boxes = HostMessageBoxes();
  if (!text) {
    EXPECT_EQ(0u, boxes.size());
    return;
  }
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(text, boxes[0].text);
  EXPECT_EQ("INSTCMMN", boxes[0].caption);
  EXPECT_EQ(owner, boxes[0].owner);
  EXPECT_EQ(kMbOk | kMbIconError, boxes[0].flags);
}

class SettingsMessages : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_TRUE(files_.Use("[SETUP]\r\nName=x\r\nEmpty=\r\n"));
    std::string update = At("UPDATE.INI");
    memcpy(UpdateIniPath, update.c_str(), update.size() + 1);
    ASSERT_TRUE(WriteTestFile(update, "[SETUP]\r\nGameTitle=\r\n[UPDATE]\r\nUpdateFile00=a\r\n"));
  }
  SetupIniFiles files_;
};

TEST_F(SettingsMessages, MissingKeysAreReportedOnlyWhileTheSwitchIsOn) {
  struct Case {
    int report;
    const char* section;  // null: SETUP.INI
    const char* key;
    const char* text;
  } cases[] = {
      {1, nullptr, "Absent", "SETUP.INI : Absent キーが存在しません"},
      {1, nullptr, "Empty", "SETUP.INI : Empty キーが存在しません"},
      {1, nullptr, "Name", nullptr},
      {0, nullptr, "Absent", nullptr},
      {1, "SETUP", "GameTitle", "SETUP : GameTitle キーが存在しません"},
      {1, "UPDATE", "UpdateFile01", "UPDATE : UpdateFile01 キーが存在しません"},
      {1, "UPDATE", "UpdateFile00", nullptr},
      {0, "UPDATE", "UpdateFile01", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    HostResetMessageBoxes();
    ReportMissingKeys = c.report;
    char value[32];
    if (c.section) ReadUpdateKey(c.section, c.key, value, sizeof value);
    else ReadSetupKey(c.key, value, sizeof value);
    ExpectBoxes(c.text, nullptr);
  }
}

TEST_F(SettingsMessages, IntegerReadReportsItsKey) {
  i32 value = 5;
  EXPECT_EQ(0, ReadSetupInt("Count", &value));
  ExpectBoxes("SETUP.INI : Count キーが存在しません", nullptr);
}

TEST_F(SettingsMessages, TheWizardOwnsTheBoxWhileItExists) {
  WizardWindow = (WindowHandle)0x1234;
  char value[8];
  ReadSetupKey("Absent", value, sizeof value);
  ExpectBoxes("SETUP.INI : Absent キーが存在しません", (WindowHandle)0x1234);
  HostResetMessageBoxes();
  ShowSetupError("text");
  ExpectBoxes("text", (WindowHandle)0x1234);
}

TEST_F(SettingsMessages, LoaderShowsAtMostOneMessage) {
  struct Case {
    std::vector<IniKey> changes;
    int reportAtEntry;
    const char* text;
    int result;
    int reportAfter;
  } cases[] = {
      {{{"SetupBmp", ",a.bmp"}}, 0, "SETUP.INI : SetupBmps エラー", 0, 0},
      {{{"InstallSelects", "5"}}, 0, "SETUP.INI : InstallSelect オーバー", 0, 0},
      {{{"InstallSelects", "5"}}, 1, "SETUP.INI : InstallSelect オーバー", 0, 1},
      {{{"InstallFiles0", ",a.dat"}}, 0, "SETUP.INI : InstallFiles0 エラー", 0, 0},
      {{{"InstallFiles1", " ,d.dat"}}, 0, "SETUP.INI : InstallFiles1 エラー", 0, 0},
      {{{"Shortcuts", "11"}}, 0, "SETUP.INI : Shortcuts オーバー", 0, 0},
      {{{"Shortcut0", "a"}}, 0, "SETUP.INI : Shortcut0 エラー", 0, 0},
      {{{"Shortcut0", "a,,c"}}, 0, "SETUP.INI : Shortcut0 エラー", 0, 0},
      {{{"Shortcuts", "2"}, {"Shortcut1", ",b"}}, 0, "SETUP.INI : Shortcut1 エラー", 0, 0},
      {{{"ExecApp", "run.exe"}}, 0, "SETUP.INI : ExecApp エラー", 0, 0},
      {{{"ExecApp", ",x"}}, 0, "SETUP.INI : ExecApp エラー", 0, 0},
      {{{"InstallAfterAdd", "1"}}, 0, "SETUP.INI : InstallAddFiles キーが存在しません", 0, 1},
      {{{"InstallAfterAdd", "1"}, {"InstallAddFiles", ",p"}}, 0,
       "SETUP.INI : InstallAddFiles エラー", 0, 1},
      {{{"InstallAfterAdd", "1"}, {"InstallAddFiles", "p"}}, 0, nullptr, 1, 0},
      {{{"GameExe", nullptr}}, 0, nullptr, 0, 0},
      {{{"GameExe", nullptr}}, 1, "SETUP.INI : GameExe キーが存在しません", 0, 1},
      {{{"Shortcut0", nullptr}}, 1, "SETUP.INI : Shortcut0 キーが存在しません", 0, 1},
      {{}, 1, nullptr, 1, 0},  // the optional keys are read with the switch off
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "(no message)");
    HostResetMessageBoxes();
    ASSERT_TRUE(files_.Use(SetupIniText(c.changes)));
    ReportMissingKeys = c.reportAtEntry;
    EXPECT_EQ(c.result, LoadSetupDescription());
    ExpectBoxes(c.text, nullptr);
    EXPECT_EQ(c.reportAfter, ReportMissingKeys);
  }
}

TEST_F(SettingsMessages, CountsAboveTheirLimitsTouchNoSlot) {
  strcpy(SetupDescription.InstallTitle[0], "old");
  strcpy(SetupDescription.Shortcut[0][0], "old");
  ReportMissingKeys = 0;
  ASSERT_TRUE(files_.Use(SetupIniText({{"InstallSelects", "2147483647"}})));
  EXPECT_EQ(0, LoadSetupDescription());
  EXPECT_STREQ("old", SetupDescription.InstallTitle[0]);
  ASSERT_TRUE(files_.Use(SetupIniText({{"Shortcuts", "99999999999"}})));
  EXPECT_EQ(0, LoadSetupDescription());
  EXPECT_STREQ("old", SetupDescription.Shortcut[0][0]);
  ASSERT_EQ(2u, HostMessageBoxes().size());
  EXPECT_EQ("SETUP.INI : Shortcuts オーバー", HostMessageBoxes()[1].text);
}

}  // namespace
