// Key reads, decimal conversion, list tokens and path joining, on both
// builds. Missing keys are read with ReportMissingKeys off, so no box is
// ever shown under Wine; the messages are checked on the host build.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "settings/settings.h"
#include "settings/setup_description.h"
#include "support/scratch.h"

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSettingsState();
    ReportMissingKeys = 0;
    Write(SetupIniPath, "SETUP.INI",
          "[SETUP]\r\nName=ゲーム\r\nEmpty=\r\nLong=abcdefghijklmnopqrstuvwxyz\r\n"
          "[UPDATE]\r\nName=not this one\r\n");
    Write(UpdateIniPath, "UPDATE.INI", "[SETUP]\r\nName=update\r\n[UPDATE]\r\nUpdateFile00=x\r\n");
  }
  void Write(char* pathField, const std::string& name, const std::string& content) {
    std::string path = scratch_ / name;
    ASSERT_LT(path.size(), (size_t)kPathSize);
    memcpy(pathField, path.c_str(), path.size() + 1);
    ASSERT_TRUE(WriteTestFile(path, content));
  }
  ScratchFolder scratch_;
};

std::string Zeros(size_t n) { return std::string(n, '\0'); }

TEST_F(SettingsTest, ProgramStartState) {
  ResetSettingsState();
  EXPECT_EQ(1, ReportMissingKeys);
  EXPECT_EQ(0, CurrentDiskNumber);
  EXPECT_STREQ("", SetupIniPath);
  EXPECT_STREQ("", UpdateIniPath);
}

TEST_F(SettingsTest, KeyReadsFillTheBufferWithZerosAndTheValue) {
  struct Case {
    int update;
    const char* section;
    const char* key;
    u32 size;
    int result;
    std::string value;
  } cases[] = {
      {0, "", "Name", 32, 1, "ゲーム"},
      {0, "", "Long", 20, 1, "abcdefghijklmnopqrs"},
      {0, "", "Empty", 32, 0, ""},
      {0, "", "Absent", 32, 0, ""},
      {0, "", "UpdateFile00", 32, 0, ""},
      {1, "SETUP", "Name", 32, 1, "update"},
      {1, "UPDATE", "UpdateFile00", 32, 1, "x"},
      {1, "UPDATE", "Name", 32, 0, ""},
      {1, "OTHER", "Name", 32, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    std::vector<char> buffer(c.size + 1, '#');
    int result = c.update ? ReadUpdateKey(c.section, c.key, buffer.data(), c.size)
                          : ReadSetupKey(c.key, buffer.data(), c.size);
    EXPECT_EQ(c.result, result);
    std::string expected = c.value + Zeros(c.size - c.value.size()) + "#";
    EXPECT_EQ(expected, std::string(buffer.begin(), buffer.end()));
  }
}

TEST_F(SettingsTest, MissingFileFailsQuietly) {
  SetupIniPath[0] = 0;
  char buffer[8];
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(0, ReadSetupKey("Name", buffer, sizeof buffer));
  EXPECT_EQ(Zeros(sizeof buffer), std::string(buffer, sizeof buffer));
}

TEST_F(SettingsTest, IntegerKeys) {
  struct Case {
    const char* value;
    i32 expected;
  } cases[] = {
      {"12", 12},           {"-5", -5},           {"+7", 7},           {"\" 42\"", 42},
      {"3 selects", 3},     {"abc", 0},           {"-", 0},            {"+-3", 0},
      {"0x10", 0},          {"007", 7},           {"2147483647", INT32_MAX},
      {"2147483648", INT32_MAX},                  {"-2147483648", INT32_MIN},
      {"-2147483649", INT32_MIN},                 {"99999999999999999999999999", INT32_MAX},
      {"-99999999999999999999999999", INT32_MIN},
  };
  std::string ini = "[SETUP]\r\n";
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
    ini += "V" + std::to_string(i) + "=" + cases[i].value + "\r\n";
  Write(SetupIniPath, "INT.INI", ini);
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    SCOPED_TRACE(cases[i].value);
    i32 value = 77;
    EXPECT_EQ(1, ReadSetupInt(("V" + std::to_string(i)).c_str(), &value));
    EXPECT_EQ(cases[i].expected, value);
  }
  i32 untouched = 77;
  EXPECT_EQ(0, ReadSetupInt("Absent", &untouched));
  EXPECT_EQ(77, untouched);
}

TEST(TextToInt, ClampsAtTheLimitsOfEachWidth) {
  struct Case {
    const char* text;
    i32 expected32;
    i64 expected64;
  } cases[] = {
      {"", 0, 0},
      {"\t\n\v\f\r 5x", 5, 5},
      {"-0", 0, 0},
      {"4294967296", INT32_MAX, 4294967296LL},
      {"-4294967296", INT32_MIN, -4294967296LL},
      {"9223372036854775807", INT32_MAX, INT64_MAX},
      {"9223372036854775808", INT32_MAX, INT64_MAX},
      {"-9223372036854775808", INT32_MIN, INT64_MIN},
      {"-9223372036854775809", INT32_MIN, INT64_MIN},
      {"184467440737095516160000", INT32_MAX, INT64_MAX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.expected32, TextToInt32(c.text));
    EXPECT_EQ(c.expected64, TextToInt64(c.text));
  }
}

// A token slot with guard bytes after it.
struct GuardedSlot {
  char slot[kPathSize];
  char guard[16];
};

struct Taken {
  std::string token;
  i32 disk;
};

TEST(NextListToken, SplitsListsAsDescribed) {
  const std::string longToken(300, 'L');
  const std::string fit259(259, 'F');
  struct Case {
    std::string list;
    std::vector<Taken> tokens;
    size_t restsAt;  // cursor offset after the last call (which returned 0)
    i32 diskAfter;
  } cases[] = {
      {" a, b ,c", {{"a", 9}, {"b ", 9}, {"c", 9}}, 8, 9},
      {",a", {}, 0, 9},
      {"a,,b", {{"a", 9}}, 2, 9},
      {"  \t", {}, 3, 9},
      {"2:x,y", {{"x", 2}, {"y", 2}}, 5, 2},
      {"1: a", {{" a", 1}}, 4, 1},
      {"x:y", {{"y", 0}}, 3, 0},
      {"3:", {{"", 3}}, 2, 3},
      {"3:,b", {{"", 3}, {"b", 3}}, 4, 3},
      {"9:a,::b", {{"a", 9}, {"b", 0}}, 7, 0},
      {"C:\\Games\\x.exe", {{"\\Games\\x.exe", 0}}, 14, 0},
      {"a\nb\rc", {{"a", 9}, {"b", 9}, {"c", 9}}, 5, 9},
      {"a\r\nb", {{"a", 9}}, 2, 9},
      {"ソ,表", {{"ソ", 9}, {"表", 9}}, 5, 9},
      {longToken + ",b", {{std::string(259, 'L'), 9}, {"b", 9}}, 302, 9},
      {"5:" + longToken + "\nb", {{std::string(259, 'L'), 5}, {"b", 5}}, 304, 5},
      {fit259 + "," + fit259 + "X", {{fit259, 9}, {fit259, 9}}, 520, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list.substr(0, 20));
    CurrentDiskNumber = 9;
    const char* cursor = c.list.c_str();
    for (const Taken& t : c.tokens) {
      GuardedSlot s;
      memset(&s, '#', sizeof s);
      ASSERT_EQ(1, NextListToken(s.slot, &cursor));
      EXPECT_EQ(t.token, s.slot);
      EXPECT_EQ(t.disk, CurrentDiskNumber);
      EXPECT_EQ(std::string(sizeof s.guard, '#'), std::string(s.guard, sizeof s.guard));
    }
    GuardedSlot s;
    memset(&s, '#', sizeof s);
    EXPECT_EQ(0, NextListToken(s.slot, &cursor));
    EXPECT_EQ(std::string(sizeof s, '#'), std::string((const char*)&s, sizeof s));
    EXPECT_EQ(c.restsAt, (size_t)(cursor - c.list.c_str()));
    EXPECT_EQ(c.diskAfter, CurrentDiskNumber);
  }
}

TEST(JoinPath, AppendsWithOneSeparatorAndTwoNuls) {
  const std::string p250(250, 'p');
  struct Case {
    std::string path;
    std::string component;
    int result;
    std::string joined;
  } cases[] = {
      {"", "a", 1, "a"},
      {"C:\\", "x", 1, "C:\\x"},
      {"C:\\dir", "x.ini", 1, "C:\\dir\\x.ini"},
      {"dir/", "x", 1, "dir/x"},
      {"dir", "\\x", 1, "dir\\\\x"},
      {"dir", "", 1, "dir\\"},
      // A trail byte 0x5C is not a separator: a folder named "...機能" still
      // gets its backslash, and one that really ends in '\\' gets none.
      {"ソ", "x", 1, "ソ\\x"},
      {"C:\\ゲーム機能", "SETUP.INI", 1, "C:\\ゲーム機能\\SETUP.INI"},
      {"C:\\ソ\\", "x", 1, "C:\\ソ\\x"},
      {"ｱ\\", "x", 1, "ｱ\\x"},  // a one-byte katakana, then a real separator
      {p250, std::string(7, 'c'), 1, p250 + "\\" + std::string(7, 'c')},
      {p250, std::string(8, 'c'), 0, p250},
      {p250 + "\\", std::string(7, 'c'), 1, p250 + "\\" + std::string(7, 'c')},
      {p250 + "\\", std::string(8, 'c'), 0, p250 + "\\"},
      {"", std::string(258, 'c'), 1, std::string(258, 'c')},
      {"", std::string(259, 'c'), 0, ""},
      {"", std::string(1000, 'c'), 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.substr(0, 12) + " + " + c.component.substr(0, 12));
    GuardedSlot s;
    memset(&s, '#', sizeof s);
    memcpy(s.slot, c.path.c_str(), c.path.size() + 1);
    GuardedSlot before = s;
    EXPECT_EQ(c.result, JoinPath(s.slot, c.component.c_str()));
    EXPECT_EQ(c.joined, s.slot);
    if (c.result) {
      EXPECT_EQ(0, s.slot[c.joined.size() + 1]);
    } else {
      EXPECT_EQ(0, memcmp(&before, &s, sizeof s));
    }
    EXPECT_EQ(std::string(sizeof s.guard, '#'), std::string(s.guard, sizeof s.guard));
  }
}

TEST(JoinPath, RefusesAnUnterminatedPath) {
  GuardedSlot s;
  memset(&s, 'p', sizeof s.slot);
  memset(s.guard, '#', sizeof s.guard);
  EXPECT_EQ(0, JoinPath(s.slot, "x"));
  EXPECT_EQ(std::string(kPathSize, 'p'), std::string(s.slot, kPathSize));
  EXPECT_EQ(std::string(sizeof s.guard, '#'), std::string(s.guard, sizeof s.guard));
}

}  // namespace
