// The entry-point table and the error box over the host simulation.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/run_state.h"
#include "platform/dynlib.h"
#include "platform/messagebox.h"
#include "support/host_env.h"
#include "sim/sim.h"

namespace {

class RunStateTest : public HostTest {
 protected:
  std::vector<std::string> BoxTexts() {
    std::vector<std::string> texts;
    for (const HostMessageBox& box : HostMessageBoxes()) {
      texts.push_back(box.text);
      EXPECT_EQ("UPDATE", box.caption) << box.text;
      EXPECT_EQ(nullptr, box.owner) << box.text;
      EXPECT_EQ(kMbOk | kMbIconError, box.flags) << box.text;
    }
    return texts;
  }
  // Every slot, in table order, null or not.
  static std::vector<bool> Filled() {
    const struct DynamicApi& a = DynamicApi;
    return {a.ghLibKERNEL32dll != nullptr, a.ghLibSHELL32dll != nullptr,
            a.ghLibADVAPI32dll != nullptr, a.pfnCreateFile != nullptr,
            a.pfnWriteFile != nullptr,     a.pfnReadFile != nullptr,
            a.pfnSHFileOperation != nullptr, a.pfnRegOpenKeyEx != nullptr,
            a.pfnRegQueryValueEx != nullptr, a.pfnRegCloseKey != nullptr};
  }
};

TEST_F(RunStateTest, EverythingPresentShowsNothing) {
  ResolveDynamicApi();
  EXPECT_TRUE(HostMessageBoxes().empty());
  EXPECT_EQ(std::vector<bool>(10, true), Filled());
}

TEST_F(RunStateTest, MissingLibraryReportsItAndItsEntryPoints) {
  const struct {
    const char* library;
    std::vector<std::string> boxes;
    std::vector<size_t> emptySlots;  // in Filled() order
  } cases[] = {
      {"SHELL32.DLL", {"ghLibSHELL32dll", "pfnSHFileOperation"}, {1, 6}},
      {"KERNEL32.DLL",
       {"ghLibKERNEL32dll", "pfnCreateFile", "pfnWriteFile", "pfnReadFile"}, {0, 3, 4, 5}},
      {"ADVAPI32.DLL",
       {"ghLibADVAPI32dll", "pfnRegOpenKeyEx", "pfnRegQueryValueEx", "pfnRegCloseKey"},
       {2, 7, 8, 9}},
  };
  for (const auto& c : cases) {
    ResetHostSimulation();
    HostSetLibraryMissing(c.library, 1);
    ResolveDynamicApi();
    EXPECT_EQ(c.boxes, BoxTexts()) << c.library;
    std::vector<bool> expected(10, true);
    for (size_t slot : c.emptySlots) expected[slot] = false;
    EXPECT_EQ(expected, Filled()) << c.library;
  }
}

TEST_F(RunStateTest, EachMissingEntryPointGivesItsOwnBox) {
  const struct {
    const char* entryPoint;
    const char* slot;
    size_t index;
  } cases[] = {
      {"CreateFileA", "pfnCreateFile", 3},        {"WriteFile", "pfnWriteFile", 4},
      {"ReadFile", "pfnReadFile", 5},             {"SHFileOperationA", "pfnSHFileOperation", 6},
      {"RegOpenKeyExA", "pfnRegOpenKeyEx", 7},    {"RegQueryValueExA", "pfnRegQueryValueEx", 8},
      {"RegCloseKey", "pfnRegCloseKey", 9},
  };
  for (const auto& c : cases) {
    ResetHostSimulation();
    HostSetEntryPointMissing(c.entryPoint, 1);
    ResolveDynamicApi();
    EXPECT_EQ(std::vector<std::string>{c.slot}, BoxTexts()) << c.entryPoint;
    std::vector<bool> expected(10, true);
    expected[c.index] = false;
    EXPECT_EQ(expected, Filled()) << c.entryPoint;
  }
}

TEST_F(RunStateTest, ShowErrorUsesTheRunWideCaptionAndOwner) {
  ShowError("first");
  std::strcpy(WindowCaption, "ゲーム アップデータ 1.0");
  WizardWindow = (WindowHandle)0x4321;
  ShowError("second");
  const std::vector<HostMessageBox>& boxes = HostMessageBoxes();
  ASSERT_EQ(2u, boxes.size());
  EXPECT_EQ("first", boxes[0].text);
  EXPECT_EQ("UPDATE", boxes[0].caption);
  EXPECT_EQ(nullptr, boxes[0].owner);
  EXPECT_EQ("second", boxes[1].text);
  EXPECT_EQ("ゲーム アップデータ 1.0", boxes[1].caption);
  EXPECT_EQ((WindowHandle)0x4321, boxes[1].owner);
  EXPECT_EQ(kMbOk | kMbIconError, boxes[1].flags);
}

TEST_F(RunStateTest, EmptySlotsFailTheFileHelpers) {
  char buffer[4];
  EXPECT_EQ(kInvalidFile, OpenFileForRead(At("x").c_str()));
  EXPECT_EQ(kInvalidFile, CreateFileForWrite(At("x").c_str()));
  EXPECT_EQ(0, ReadExactly(kInvalidFile, buffer, 4));
  EXPECT_EQ(0, WriteExactly(kInvalidFile, buffer, 4));
  EXPECT_FALSE(TestPathExists(At("x")));
}

}  // namespace
