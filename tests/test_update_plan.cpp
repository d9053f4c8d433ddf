// Section "UPDATE" read into the plan, through the system's own INI reader
// and code page on either build.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "flow/startup.h"
#include "flow/update_plan.h"
#include "settings/settings.h"
#include "support/scratch.h"

namespace {
class PlanReading : public ::testing::Test {
 protected:
  void SetUp() override {
    ReportMissingKeys = 0;
    std::string ini = scratch_ / "UPDATE.INI";
    memcpy(UpdateIniPath, ini.c_str(), ini.size() + 1);
  }
  int Read(const std::string& lines, u32 mode = 1) {
    InstallRecord.InstMode = mode;
    EXPECT_TRUE(WriteTestFile(scratch_ / "UPDATE.INI", "[UPDATE]\r\n" + lines));
    return ReadUpdatePlan();
  }
  ScratchFolder scratch_;
};

struct UpdateLineCase {
  const char* line;
  u32 mode;
  int count;  // 0: the line is dropped
  i32 kind;
  const char* path;
  i32 offset;
};

TEST_F(PlanReading, UpdateLineGivesKindPathAndFileName) {
  const UpdateLineCase cases[] = {
      {"u,data\\bgm.dat", 1, 1, KindUpdate, "data\\bgm.dat", 5},
      {"U,bgm.dat", 1, 1, KindUpdate, "bgm.dat", 0},
      {"d,save\\slot\\a.sav", 1, 1, KindData, "save\\slot\\a.sav", 10},
      {"O,system.ini", 1, 1, KindOverwrite, "system.ini", 0},
      {"bgm.dat", 1, 1, KindPlain, "bgm.dat", 0},
      {"bgm.dat,other", 1, 1, KindPlain, "bgm.dat", 0},
      {"2,o,system.ini", 2, 1, KindOverwrite, "system.ini", 0},
      {"2,o,system.ini", 1, 0, 0, "", 0},
      {"0,a.dat", 0, 1, KindPlain, "a.dat", 0},
      {"12,u,a.dat", 1, 1, KindPlain, "12", 0},
      {"u ,a.dat", 1, 1, KindPlain, "u ", 0},
      {"u", 1, 1, KindUpdate, "", 0},
      {"1", 1, 1, KindPlain, "", 0},
      {"3", 1, 0, 0, "", 0},
      {",u,a.dat", 1, 1, KindPlain, "", 0},
      {"u,,a.dat", 1, 1, KindUpdate, "", 0},
      {"1:u,a.dat", 1, 1, KindUpdate, "a.dat", 0},
      {"u,  a\\b c.dat,x", 1, 1, KindUpdate, "a\\b c.dat", 2},
      {"a/b.dat", 1, 1, KindPlain, "a/b.dat", 0},
      // "ソ" is 0x83 0x5C: its trail byte is no separator.
      {"u,dir\\\x83\x5C.dat", 1, 1, KindUpdate, "dir\\\x83\x5C.dat", 4},
      {"u,\x83\x5C\\a.dat", 1, 1, KindUpdate, "\x83\x5C\\a.dat", 3},
      {"u,\x83\x5C.dat", 1, 1, KindUpdate, "\x83\x5C.dat", 0},
  };
  for (const UpdateLineCase& c : cases) {
    SCOPED_TRACE(c.line);
    ASSERT_EQ(Read(std::string("UpdateFile00=") + c.line + "\r\n", c.mode), 1);
    ASSERT_EQ(UpdatePlan.updateCount, c.count);
    if (!c.count) continue;
    EXPECT_EQ(UpdatePlan.updateItems[0].kind, c.kind);
    EXPECT_STREQ(UpdatePlan.updateItems[0].relativePath, c.path);
    EXPECT_EQ(UpdatePlan.updateItems[0].fileNameOffset, c.offset);
  }
}

TEST_F(PlanReading, OverLongNameIsCutToItsSlot) {
  ASSERT_EQ(Read("UpdateFile00=u,x\\" + std::string(400, 'n') + "\r\n"), 1);
  ASSERT_EQ(UpdatePlan.updateCount, 1);
  EXPECT_EQ(strlen(UpdatePlan.updateItems[0].relativePath), (size_t)kPathSize - 1);
  EXPECT_EQ(UpdatePlan.updateItems[0].fileNameOffset, 2);
}

struct CopyLineCase {
  const char* line;
  u32 mode;
  int count;
  i32 disk;
  const char* path;
};

TEST_F(PlanReading, CopyLineGivesDiskAndSourcePath) {
  const CopyLineCase cases[] = {
      {"1,2:MOVIE\\OP.MPG", 1, 1, 2, "MOVIE\\OP.MPG"},
      {"1,2:MOVIE\\OP.MPG", 2, 0, 0, ""},
      {"2:MOVIE", 1, 1, 2, "MOVIE"},
      {"2:MOVIE", 7, 1, 2, "MOVIE"},
      {"MOVIE,OP", 1, 1, 0, "MOVIE,OP"},
      {"1,MOVIE", 1, 1, 0, "MOVIE"},
      {"x,MOVIE", 1, 0, 0, ""},
      {"9:A B, C:D", 1, 1, 9, "A B, C:D"},
      {"3:", 1, 1, 3, ""},
      {"1,", 1, 1, 0, ""},
  };
  for (const CopyLineCase& c : cases) {
    SCOPED_TRACE(c.line);
    ASSERT_EQ(Read(std::string("CopyFile00=") + c.line + "\r\n", c.mode), 1);
    ASSERT_EQ(UpdatePlan.copyCount, c.count);
    if (!c.count) continue;
    EXPECT_EQ(UpdatePlan.copyItems[0].diskNumber, c.disk);
    EXPECT_STREQ(UpdatePlan.copyItems[0].sourcePath, c.path);
  }
}

struct ListCase {
  const char* name;
  std::string lines;
  int result;
  int updateCount;
  int copyCount;
};

std::string Numbered(const char* key, int count) {
  std::string lines;
  char line[64];
  for (int n = 0; n < count; ++n) {
    snprintf(line, sizeof line, "%s%02i=f%02i\r\n", key, n, n);
    lines += line;
  }
  return lines;
}

TEST_F(PlanReading, ListsEndAtTheFirstAbsentLine) {
  const ListCase cases[] = {
      {"nothing", "", 0, 0, 0},
      {"gap", "UpdateFile00=a\r\nUpdateFile01=b\r\nUpdateFile03=d\r\n", 1, 2, 0},
      {"empty value", "UpdateFile00=a\r\nUpdateFile01=b\r\nUpdateFile02=\r\nUpdateFile03=d\r\n",
       1, 2, 0},
      {"no line 00", "UpdateFile01=a\r\nCopyFile01=b\r\n", 0, 0, 0},
      {"copy lines only", "UpdateFile01=a\r\nCopyFile00=b\r\nCopyFile01=c\r\n", 1, 0, 2},
      {"lists numbered apart", "UpdateFile00=a\r\nCopyFile00=b\r\nCopyFile02=c\r\n", 1, 1, 1},
      {"seventeen lines", Numbered("UpdateFile", 17) + Numbered("CopyFile", 17), 1, 16, 16},
      {"all for mode 2", "UpdateFile00=2,a\r\nCopyFile00=2,b\r\n", 1, 0, 0},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Read(c.lines), c.result);
    EXPECT_EQ(UpdatePlan.updateCount, c.updateCount);
    EXPECT_EQ(UpdatePlan.copyCount, c.copyCount);
  }
  EXPECT_STREQ(UpdatePlan.updateItems[15].relativePath, "");  // rebuilt, not left over
  Read(Numbered("UpdateFile", 17) + Numbered("CopyFile", 17));
  EXPECT_STREQ(UpdatePlan.updateItems[15].relativePath, "f15");
  EXPECT_STREQ(UpdatePlan.copyItems[15].sourcePath, "f15");
}

TEST_F(PlanReading, OverwriteOnlyIsANonzeroNumber) {
  const struct {
    const char* line;
    int on;
  } cases[] = {{"", 0},
               {"OverwriteOnly=1\r\n", 1},
               {"OverwriteOnly=0\r\n", 0},
               {"OverwriteOnly=abc\r\n", 0},
               {"OverwriteOnly=-3 times\r\n", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    Read(std::string(c.line) + "UpdateFile00=a\r\n");
    EXPECT_EQ(UpdatePlan.overwriteOnly, c.on);
  }
}
}  // namespace
