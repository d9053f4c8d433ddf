// The loader of SETUP.INI on both builds, for every case that shows no
// message (ReportMissingKeys off, as in a run); the messages are checked on
// the host build.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "settings/settings.h"
#include "settings/setup_description.h"
#include "support/setup_ini.h"

namespace {

struct SetupDescription& D = SetupDescription;

class SetupDescriptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSettingsState();
    ReportMissingKeys = 0;
  }
  int Load(std::initializer_list<IniKey> changes) {
    EXPECT_TRUE(files_.Use(SetupIniText(changes)));
    return LoadSetupDescription();
  }
  SetupIniFiles files_;
};

std::string FileList(int count) {
  std::string list;
  for (int i = 0; i < count; ++i) list += (i ? "," : "") + std::string("f") + std::to_string(i);
  return list;
}

struct TextField {
  const char* field;
  const char* expected;
};

void ExpectTexts(std::initializer_list<TextField> texts) {
  for (const TextField& t : texts) EXPECT_STREQ(t.expected, t.field);
}

TEST_F(SetupDescriptionTest, LoadsTheDescriptionWithItsDefaults) {
  ASSERT_EQ(1, Load({}));
  ExpectTexts({{D.CompanyName, "Company"}, {D.GameTitle, "ゲーム"}, {D.GameDir, "GameDir"},
               {D.GameExe, "game.exe"}, {D.UninstExe, "uninst.exe"}, {D.SetupBmp[0], "a.bmp"},
               {D.SetupBmp[1], "b.bmp"}, {D.SetupBmp[2], ""}, {D.InstallTitle[0], "Full"},
               {D.InstallFiles[0][0], "a.dat"}, {D.InstallFiles[0][1], "b.dat"},
               {D.InstallFiles[0][2], "c.dat"}, {D.InstallFiles[0][3], ""},
               {D.InstallTitle[1], "Small"}, {D.InstallFiles[1][0], "d.dat"},
               {D.InstallFiles[1][1], ""}, {D.Shortcut[0][0], "Game"}});
  EXPECT_EQ(2, D.InstallSelects);
  EXPECT_EQ(1, D.Shortcuts);
  // "a.dat,2:b.dat,c.dat": the prefix holds until the line ends.
  EXPECT_EQ(0, D.InstallFileDisk[0][0]);
  EXPECT_EQ(2, D.InstallFileDisk[0][1]);
  EXPECT_EQ(2, D.InstallFileDisk[0][2]);
  EXPECT_EQ(1, D.InstallHasDiskNumbers[0]);
  EXPECT_EQ(0, D.InstallFileDisk[1][0]);
  EXPECT_EQ(0, D.InstallHasDiskNumbers[1]);
  // The defaults of every optional key.
  ExpectTexts({{D.GameClass, "ゲーム"}, {D.DiskCheckFile[0], ""}, {D.DiskCheckFile[9], ""},
               {D.ExecApp[0], ""}, {D.ExecApp[1], ""},
               {D.SelectSetupMessage, "インストール方法を選択して下さい"},
               {D.SaveDataFolderNameInInstall, "savedata"}, {D.SaveDataFolderName, "GameDir"},
               {D.StrKeyInstPath, "InstPath"}, {D.ShortcutFolder, ""}, {D.UninstTitle, "ゲーム"},
               {D.GameExe64, ""}});
  EXPECT_EQ(0, D.DefaultSelect);
  EXPECT_EQ(0, D.InstallSize[0]);
  EXPECT_EQ(0, D.InstallSize[1]);
  EXPECT_EQ(0, D.InstallAfterAdd);
  EXPECT_EQ(0, D.InstPathMode);
  EXPECT_EQ(0, ReportMissingKeys);
}

TEST_F(SetupDescriptionTest, OptionalKeysReplaceTheDefaults) {
  strcpy(D.GameClass, "FromUpdateIni");
  ASSERT_EQ(1, Load({{"GameClass", "GameWindow"}, {"DefaultSelect", "1"},
                     {"InstallSize0", "12345678901"}, {"InstallSize1", "-5"},
                     {"DiskCheckFile0", "disk0.chk"}, {"DiskCheckFile9", "disk9.chk"},
                     {"ExecApp", "run.exe,-x"}, {"SelectSetupMessage", "選んで"},
                     {"SaveDataFolderNameInInstall", "sd"}, {"SaveDataFolderName", "Saves"},
                     {"StrKeyInstPath", "Path2"}, {"ShortcutFolder", "Folder"},
                     {"UninstTitle", "Remove"}, {"InstPathMode", "2"}, {"GameExe64", "g64.exe"}}));
  ExpectTexts({{D.GameClass, "GameWindow"}, {D.DiskCheckFile[0], "disk0.chk"},
               {D.DiskCheckFile[5], ""}, {D.DiskCheckFile[9], "disk9.chk"},
               {D.ExecApp[0], "run.exe"}, {D.ExecApp[1], "-x"}, {D.SelectSetupMessage, "選んで"},
               {D.SaveDataFolderNameInInstall, "sd"}, {D.SaveDataFolderName, "Saves"},
               {D.StrKeyInstPath, "Path2"}, {D.ShortcutFolder, "Folder"},
               {D.UninstTitle, "Remove"}, {D.GameExe64, "g64.exe"}});
  EXPECT_EQ(1, D.DefaultSelect);
  EXPECT_EQ(12345678901LL, D.InstallSize[0]);
  EXPECT_EQ(-5, D.InstallSize[1]);
  EXPECT_EQ(2, D.InstPathMode);
}

TEST_F(SetupDescriptionTest, SizesAreReadAsAtMostNineteenCharacters) {
  struct Case {
    const char* text;
    i64 size;
  } cases[] = {
      {"123456789012345678901", 1234567890123456789LL},
      {"99999999999999999999", INT64_MAX},  // 19 nines are above the limit
      {"-9999999999999999999", -999999999999999999LL},
      {"abc", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_EQ(1, Load({{"InstallSize1", c.text}}));
    EXPECT_EQ(c.size, D.InstallSize[1]);
  }
}

TEST_F(SetupDescriptionTest, CountsAtTheirLimitsAreAccepted) {
  ASSERT_EQ(1, Load({{"InstallSelects", "4"}, {"InstallTitle2", "T2"}, {"InstallFiles2", "x"},
                     {"InstallTitle3", "T3"}, {"InstallFiles3", "y"}, {"Shortcuts", "10"},
                     {"Shortcut1", "a,b"}, {"Shortcut2", "a,b"}, {"Shortcut3", "a,b"},
                     {"Shortcut4", "a,b"}, {"Shortcut5", "a,b"}, {"Shortcut6", "a,b"},
                     {"Shortcut7", "a,b"}, {"Shortcut8", "a,b"}, {"Shortcut9", "last,b"}}));
  EXPECT_EQ(4, D.InstallSelects);
  EXPECT_STREQ("T3", D.InstallTitle[3]);
  EXPECT_STREQ("y", D.InstallFiles[3][0]);
  EXPECT_EQ(10, D.Shortcuts);
  EXPECT_STREQ("last", D.Shortcut[9][0]);
}

TEST_F(SetupDescriptionTest, ListsKeepTheirFirstNamesUpToTheirSlots) {
  struct Case {
    int files;
    int bmps;
  } cases[] = {{39, 19}, {40, 20}, {41, 21}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.files);
    SetUp();
    strcpy(D.InstallFiles[1][0], "next selection");
    strcpy(D.InstallTitle[1], "untouched");
    if (c.files < kMaxSelectionFiles) strcpy(D.InstallFiles[0][c.files], "stale");
    if (c.bmps < kMaxSetupBmps) strcpy(D.SetupBmp[c.bmps], "stale");
    ASSERT_EQ(1, Load({{"InstallSelects", "1"}, {"InstallFiles0", FileList(c.files).c_str()},
                       {"SetupBmp", FileList(c.bmps).c_str()}}));
    const int kept = c.files < kMaxSelectionFiles ? c.files : kMaxSelectionFiles;
    for (int k = 0; k < kept; ++k) EXPECT_EQ("f" + std::to_string(k), D.InstallFiles[0][k]);
    if (c.files < kMaxSelectionFiles) {
      EXPECT_STREQ("", D.InstallFiles[0][c.files]);
    }
    EXPECT_STREQ("next selection", D.InstallFiles[1][0]);  // no end marker past the list
    EXPECT_STREQ("untouched", D.InstallTitle[1]);
    const int bmps = c.bmps < kMaxSetupBmps ? c.bmps : kMaxSetupBmps;
    EXPECT_EQ("f" + std::to_string(bmps - 1), D.SetupBmp[bmps - 1]);
    if (c.bmps < kMaxSetupBmps) {
      EXPECT_STREQ("", D.SetupBmp[c.bmps]);
    }
  }
}

TEST_F(SetupDescriptionTest, NoSelectionsOrShortcutsReadsNoneOfTheirKeys) {
  for (const char* count : {"0", "-1", "-2147483649"}) {
    SCOPED_TRACE(count);
    D.InstallSize[0] = 99;
    ASSERT_EQ(1, Load({{"InstallSelects", count}, {"InstallTitle0", nullptr},
                       {"InstallFiles0", nullptr}, {"InstallSize0", "5"},
                       {"Shortcuts", count}, {"Shortcut0", nullptr}}));
    EXPECT_EQ(99, D.InstallSize[0]);
  }
}

TEST_F(SetupDescriptionTest, ShortcutFields) {
  struct Case {
    const char* line;
    const char* fields[4];
  } cases[] = {
      {"a,b,,d", {"a", "b", "", "d"}},
      {"a,b,,,d", {"a", "b", "", "d"}},
      {"a,b,,c,d", {"a", "b", "", "c"}},
      {"a,b, , \t,d", {"a", "b", "", "d"}},
      {"a,b", {"a", "b", "", ""}},
      {"a,b,", {"a", "b", "", ""}},
      {"a,b,c", {"a", "b", "c", ""}},
      {"a,b,c,d,e", {"a", "b", "c", "d"}},
      {" a , b ,c,d", {"a ", "b ", "c", "d"}},
      {"Game,C:\\x.exe", {"Game", "\\x.exe", "", ""}},
      {"3:a,b", {"a", "b", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    memset(D.Shortcut, 'z', sizeof D.Shortcut);
    ASSERT_EQ(1, Load({{"Shortcut0", c.line}}));
    for (int m = 0; m < kShortcutFields; ++m) EXPECT_STREQ(c.fields[m], D.Shortcut[0][m]);
    EXPECT_EQ('z', D.Shortcut[1][0][0]);  // shortcuts past the count are not touched
  }
}

TEST_F(SetupDescriptionTest, ExecAppFields) {
  struct Case {
    const char* line;  // null: no key
    const char* first;
    const char* second;
  } cases[] = {
      {nullptr, "", ""},
      {"", "", ""},
      {"run.exe,arg", "run.exe", "arg"},
      {"run.exe,arg,ignored", "run.exe", "arg"},
      {"1:run.exe, arg ,x", "run.exe", "arg "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line ? c.line : "(missing)");
    strcpy(D.ExecApp[0], "old0");
    strcpy(D.ExecApp[1], "old1");
    ASSERT_EQ(1, Load({{"ExecApp", c.line}}));
    EXPECT_STREQ(c.first, D.ExecApp[0]);
    EXPECT_STREQ(c.second, D.ExecApp[1]);
  }
}

TEST_F(SetupDescriptionTest, AdditionalListTakesTheFourthSelection) {
  struct Case {
    const char* afterAdd;
    int on;
  } cases[] = {{"1", 1}, {"-3", 1}, {"0", 0}, {"abc", 0}, {nullptr, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.afterAdd ? c.afterAdd : "(missing)");
    SetUp();
    ASSERT_EQ(1, Load({{"InstallSelects", "4"}, {"InstallTitle2", "T2"}, {"InstallFiles2", "x"},
                       {"InstallTitle3", "T3"}, {"InstallFiles3", "own3.dat"},
                       {"InstallSize3", "33"}, {"InstallAfterAdd", c.afterAdd},
                       {"InstallAddFiles", "p.dat,4:q.dat"}, {"InstallAddSize", "444"}}));
    EXPECT_EQ(c.on, D.InstallAfterAdd);
    EXPECT_STREQ("T3", D.InstallTitle[3]);
    EXPECT_STREQ(c.on ? "p.dat" : "own3.dat", D.InstallFiles[3][0]);
    EXPECT_STREQ(c.on ? "q.dat" : "", D.InstallFiles[3][1]);
    EXPECT_EQ(c.on ? 4 : 0, D.InstallFileDisk[3][1]);
    EXPECT_EQ(c.on, D.InstallHasDiskNumbers[3]);
    EXPECT_EQ(c.on ? 444 : 33, D.InstallSize[3]);
    EXPECT_EQ(0, ReportMissingKeys);
  }
}

TEST_F(SetupDescriptionTest, AdditionalListWithoutSelectionsOrSize) {
  D.InstallSize[3] = 7;
  ASSERT_EQ(1, Load({{"InstallAfterAdd", "1"}, {"InstallAddFiles", "p.dat"}}));
  ExpectTexts({{D.InstallFiles[3][0], "p.dat"}, {D.InstallFiles[3][1], ""}});
  EXPECT_EQ(0, D.InstallSize[3]);
}

// A missing (or empty) required key ends the load at once: what was read
// before it keeps its new value, everything after it its earlier one.
TEST_F(SetupDescriptionTest, FailedLoadStopsAtTheMissingKey) {
  struct Case {
    const char* key;
    const char* value;
    int textsRead;  // of CompanyName, GameTitle, GameDir, GameExe, UninstExe
    int selectsRead;
  } cases[] = {
      {"CompanyName", nullptr, 0, 0}, {"GameTitle", "", 1, 0},   {"GameDir", nullptr, 2, 0},
      {"GameExe", nullptr, 3, 0},     {"UninstExe", nullptr, 4, 0}, {"SetupBmp", "", 5, 0},
      {"InstallSelects", nullptr, 5, 0}, {"InstallTitle0", nullptr, 5, 1},
      {"InstallFiles1", nullptr, 5, 1}, {"Shortcuts", nullptr, 5, 1}, {"Shortcut0", "", 5, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    char (*texts[])[kPathSize] = {&D.CompanyName, &D.GameTitle, &D.GameDir, &D.GameExe,
                                  &D.UninstExe};
    for (auto* text : texts) strcpy(*text, "old");
    strcpy(D.GameClass, "old");
    D.InstallSelects = -7;
    D.Shortcuts = -7;
    EXPECT_EQ(0, Load({{c.key, c.value}}));
    for (int i = 0; i < 5; ++i) {
      // Read before the fault, cleared by the failed read, or not reached.
      const char* expected = i < c.textsRead ? nullptr : i == c.textsRead ? "" : "old";
      if (expected) {
        EXPECT_STREQ(expected, *texts[i]) << i;
      } else {
        EXPECT_STRNE("old", *texts[i]) << i;
      }
    }
    EXPECT_EQ(c.selectsRead ? 2 : -7, D.InstallSelects);
    EXPECT_STREQ("old", D.GameClass);
    EXPECT_EQ(0, ReportMissingKeys);
  }
}

}  // namespace
